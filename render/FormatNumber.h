#pragma once

#include <cstddef>
#include <string>

// The number form of content streams: fixed notation with the given decimals, trailing zeros
// and a trailing point removed ("2.5", "3", "-0"), magnitudes below 1e-10 as "0.0", and values
// beyond ±1e30 clamped to ±1e30. It never depends on the process locale and never writes an
// exponent. A value that is not a number is written "0.0", which keeps the stream readable.
constexpr std::size_t kNumberBufferSize = 48;

// Writes the text into buffer (kNumberBufferSize bytes, no terminating NUL) and returns its
// length. decimals is 0 to 6.
std::size_t FormatNumber(double value, int decimals, char* buffer);
std::string FormatNumber(double value, int decimals);
