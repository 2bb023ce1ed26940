#include "render/FormatNumber.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// The common case of page coordinates, in integer arithmetic: scale, round, print digits.
// The product value × 10^decimals is off the exact one by well under 1e-6 while it stays
// below 1e9, so its rounding agrees with that of the exact binary value except next to a
// half, which is left to to_chars. Returns 0 when it leaves the value to to_chars.
std::size_t FormatNumberFast(double value, int decimals, char* buffer) {
  const double scaled = std::fabs(value) * kScales[decimals];
  if (!(scaled < 1e9)) return 0;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < 1e-6) return 0;
  auto digits = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);

  // Digits from the right: the decimals (without trailing zeros), the point, the integer part.
  char reversed[32];
  int count = 0;
  int skipped = 0;
  for (; skipped < decimals && digits % 10 == 0; ++skipped) digits /= 10;
  for (int d = skipped; d < decimals; ++d) {
    reversed[count++] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  if (count > 0) reversed[count++] = '.';
  do {
    reversed[count++] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  } while (digits > 0);
  std::size_t length = 0;
  if (value < 0) buffer[length++] = '-';
  while (count > 0) buffer[length++] = reversed[--count];
  return length;
}

}  // namespace

std::size_t FormatNumber(double value, int decimals, char* buffer) {
  if (std::isnan(value) || std::fabs(value) < 1e-10) {
    std::memcpy(buffer, "0.0", 3);
    return 3;
  }
  if (value > 1e30) value = 1e30;
  if (value < -1e30) value = -1e30;
  if (decimals < 0) decimals = 0;
  if (decimals > 6) decimals = 6;
  if (std::size_t length = FormatNumberFast(value, decimals, buffer)) return length;
  // to_chars rounds the exact binary value as printf's %f does, and uses no locale.
  const auto result =
      std::to_chars(buffer, buffer + kNumberBufferSize, value, std::chars_format::fixed, decimals);
  std::size_t length = static_cast<std::size_t>(result.ptr - buffer);
  if (std::memchr(buffer, '.', length)) {
    while (buffer[length - 1] == '0') --length;
    if (buffer[length - 1] == '.') --length;
  }
  return length;
}

std::string FormatNumber(double value, int decimals) {
  char buffer[kNumberBufferSize];
  return std::string(buffer, FormatNumber(value, decimals, buffer));
}
