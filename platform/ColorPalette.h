#pragma once

#include <cstdint>
#include <string>

// The fixed 256-colour index palette of drawings. A colour value holds red in the low byte,
// green in the next and blue in the third.
extern const std::uint32_t ColorIndexPalette[256];

// The palette colour of an index 0–255; black outside that range.
std::uint32_t ColorRgb(int index);

// "Black", "Red", "Yellow", "Green", "Aqua", "Blue", "Fuchsia", "White", "Dark Gray" for 0–8,
// "Color N" for every other index.
std::string ColorName(int index);

// The palette index nearest a colour by the distance 3·|ΔR| + 4·|ΔG| + 2·|ΔB|; the lowest
// index of equal distances, and an exact match at once.
int NearestColorIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
