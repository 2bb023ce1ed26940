#include "render/ColorPolicy.h"

#include <algorithm>

#include "pensets/PenSet.h"
#include "platform/ColorPalette.h"

namespace {

std::uint8_t Red(std::uint32_t c) {
  return c & 0xFF;
}
std::uint8_t Green(std::uint32_t c) {
  return (c >> 8) & 0xFF;
}
std::uint8_t Blue(std::uint32_t c) {
  return (c >> 16) & 0xFF;
}

}  // namespace

CColorPolicy::Ink CColorPolicy::Resolve(int rgb, int colorIndex) const {
  Ink ink;
  auto color = static_cast<std::uint32_t>(rgb) & 0xFFFFFF;
  // An index outside the table is no pen: reading it would pass the table's end.
  if (penSet && colorIndex >= 0 && colorIndex <= 255) {
    const PenEntry& entry = penSet->entries[static_cast<std::size_t>(colorIndex)];
    color = ColorRgb(entry.destColor) & 0xFFFFFF;
    // A width edited into the store or a file by hand may be negative, not a number, or
    // absurd; PDF widths cannot be negative, and no pen is wider than a few inches.
    constexpr double kWidestPen = 10.0;  // inches
    ink.hasPenWidth = true;
    ink.penWidth = entry.width > 0 ? std::min(entry.width, kWidestPen) * 72.0 : 0.0;
  }
  if (color == 0xFFFFFF) color = 0;  // white paper: white is drawn black
  if (colorType == 1) {
    color =
        static_cast<std::uint32_t>(0.299 * Red(color) + 0.587 * Green(color) + 0.114 * Blue(color));
    ink.gray = true;
    ink.level = color / 255.0;
  } else {
    if (colorType == 2) color = 0;
    if (Red(color) == Green(color) && Green(color) == Blue(color)) {
      ink.gray = true;
      ink.level = Red(color) / 255.0;
    } else {
      ink.red = Red(color) / 255.0;
      ink.green = Green(color) / 255.0;
      ink.blue = Blue(color) / 255.0;
    }
  }
  ink.color = color;
  return ink;
}

double CColorPolicy::LineweightPoints(int width, int widthDivisor) {
  const int divisor = widthDivisor > 0 ? widthDivisor : 1;
  // Whole points: the integer quotient.
  return width / divisor;
}
