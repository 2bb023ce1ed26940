#pragma once

// UTF-8: the one encoding of text inside the program (drawings' names and texts, document
// information, file names as the system gives them).

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0 when the bytes there
// are not one: a stray continuation byte, a truncated sequence, an overlong form, a surrogate
// or a value above U+10FFFF. `at` must be inside text.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// Decodes the sequence at text[i] into cp and moves i past it; false (i and cp unchanged) when
// it is not well formed.
bool DecodeUtf8(std::string_view text, std::size_t& i, char32_t& cp);

// The code point at text[i], moving i past it. A byte that starts no well-formed sequence
// gives U+FFFD and is passed alone, so decoding looks at every byte once and always ends.
char32_t NextCodePoint(std::string_view text, std::size_t& i);

// True when all of text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// True when text is well-formed UTF-8 holding at least one character beyond ASCII.
bool IsUtf8WithMultibyte(std::string_view text);

// Appends the UTF-8 form of a code point; U+FFFD for values that are not characters
// (surrogates, values above U+10FFFF).
void AppendUtf8(char32_t codePoint, std::string& out);

// Appends text with every byte that starts no well-formed sequence replaced by U+FFFD.
void AppendCheckedUtf8(std::string_view text, std::string& out);
