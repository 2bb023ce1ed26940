// The 256-colour index palette, colour names and the nearest palette colour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/ColorPalette.h"

namespace {

struct Rgb {
  int red, green, blue;
};

Rgb Channels(std::uint32_t color) {
  return {static_cast<int>(color & 0xFF), static_cast<int>(color >> 8 & 0xFF),
          static_cast<int>(color >> 16 & 0xFF)};
}

// Hexadecimal RRGGBB, the way the table of colours is written.
std::string Hex(std::uint32_t color) {
  const Rgb c = Channels(color);
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", c.red, c.green, c.blue);
  return text;
}

}  // namespace

TEST(Palette, HoldsTheTabledColoursWithRedInTheLowByte) {
  const struct {
    int index;
    const char* rgb;
  } cases[] = {
      {0, "000000"},   {1, "FF0000"},   {2, "FFFF00"},   {5, "0000FF"},   {7, "FFFFFF"},
      {8, "989898"},   {9, "C0C0C0"},   {10, "FF0000"},  {11, "FF8080"},  {12, "A60000"},
      {13, "A65353"},  {18, "260000"},  {19, "261313"},  {20, "FF4000"},  {21, "FF9F80"},
      {22, "A62900"},  {23, "A66853"},  {45, "807040"},  {61, "DFFF80"},  {87, "304C26"},
      {128, "00261D"}, {129, "132621"}, {141, "80DFFF"}, {163, "5368A6"}, {187, "30264C"},
      {203, "9153A6"}, {227, "4C2643"}, {249, "261318"}, {250, "545454"}, {251, "767676"},
      {252, "989898"}, {253, "BBBBBB"}, {254, "DDDDDD"}, {255, "FFFFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(ColorIndexPalette[c.index]), c.rgb) << "palette index " << c.index;
  }
  EXPECT_EQ(ColorIndexPalette[20], 0x0040FFu) << "red belongs in the low byte, blue in the third";
}

TEST(Palette, HuesStepAroundTheColourWheelInTwentyFourFullColours) {
  // Offset 0 of hue h is the fully saturated, fully bright colour at h × 15 degrees.
  for (int hue = 0; hue < 24; ++hue) {
    const double sector = hue / 4.0;  // 60-degree sectors
    const double part = sector - std::floor(sector);
    const int rising = static_cast<int>(std::floor(255.0 * part + 0.5));
    const int falling = static_cast<int>(std::floor(255.0 * (1.0 - part) + 0.5));
    const int s = static_cast<int>(sector);
    const Rgb expected[] = {{255, rising, 0},  {falling, 255, 0}, {0, 255, rising},
                            {0, falling, 255}, {rising, 0, 255},  {255, 0, falling}};
    const Rgb actual = Channels(ColorIndexPalette[10 + 10 * hue]);
    EXPECT_EQ(actual.red, expected[s].red) << "hue " << hue;
    EXPECT_EQ(actual.green, expected[s].green) << "hue " << hue;
    EXPECT_EQ(actual.blue, expected[s].blue) << "hue " << hue;
  }
}

TEST(Palette, ShadesOfEachHueHaveTheirBrightnessAndSaturation) {
  // Even offsets: brightness as the highest channel and no grey (lowest channel 0); odd
  // offsets: the same brightness at half saturation (lowest channel half the highest).
  const int brightness[] = {255, 166, 128, 76, 38};
  for (int index = 10; index < 250; ++index) {
    const int offset = (index - 10) % 10;
    const Rgb c = Channels(ColorIndexPalette[index]);
    const int high = std::max({c.red, c.green, c.blue});
    const int low = std::min({c.red, c.green, c.blue});
    const int expectedHigh = brightness[offset / 2];
    EXPECT_EQ(high, expectedHigh) << "index " << index << " " << Hex(ColorIndexPalette[index]);
    EXPECT_EQ(low, offset % 2 ? (expectedHigh + 1) / 2 : 0)
        << "index " << index << " " << Hex(ColorIndexPalette[index]);
  }
  for (std::uint32_t color : ColorIndexPalette) EXPECT_EQ(color >> 24, 0u);
}

TEST(Palette, NamesTheBasicColoursAndNumbersTheRest) {
  const char* basic[] = {"Black", "Red",     "Yellow", "Green",    "Aqua",
                         "Blue",  "Fuchsia", "White",  "Dark Gray"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(ColorName(i), basic[i]);
  EXPECT_EQ(ColorName(9), "Color 9");
  EXPECT_EQ(ColorName(255), "Color 255");
  EXPECT_EQ(ColorRgb(255), 0xFFFFFFu);
  EXPECT_EQ(ColorRgb(-1), 0u) << "black outside the palette";
  EXPECT_EQ(ColorRgb(256), 0u);
}

TEST(Palette, NearestColorIndexWeighsGreenMostAndPrefersLowIndices) {
  const struct {
    int red, green, blue;
    int index;
    const char* why;
  } cases[] = {
      {255, 0, 0, 1, "red is also index 10: the lower index wins"},
      {0, 0, 0, 0, "black"},
      {255, 255, 255, 7, "white is also index 255"},
      {255, 255, 0, 2, "yellow is also index 50"},
      {0x98, 0x98, 0x98, 8, "grey 989898 is also index 252"},
      {0xDD, 0xDD, 0xDD, 254, "an exact match anywhere in the table"},
      {250, 5, 5, 1, "near red"},
      {0, 5, 21, 168, "equally far from 168 (000A26) and 178 (000026)"},
      // Colours for which other weights (equal ones, or red and blue swapped) choose otherwise.
      {68, 39, 202, 207, "weights 3, 4, 2"},
      {229, 54, 98, 20, "weights 3, 4, 2"},
      {182, 123, 156, 33, "weights 3, 4, 2"},
      {188, 198, 116, 9, "weights 3, 4, 2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NearestColorIndex(c.red, c.green, c.blue), c.index)
        << c.red << "," << c.green << "," << c.blue << ": " << c.why;
  }
  for (int i = 0; i < 256; ++i) {
    const Rgb c = Channels(ColorIndexPalette[i]);
    const int found = NearestColorIndex(c.red, c.green, c.blue);
    EXPECT_EQ(ColorIndexPalette[found], ColorIndexPalette[i]) << "index " << i;
    EXPECT_LE(found, i) << "index " << i;
  }
}
