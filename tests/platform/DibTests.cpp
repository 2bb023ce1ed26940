// Device-independent bitmaps and reading them.
#include <gtest/gtest.h>

#include "platform/Dib.h"

TEST(Dib, RefusesSizesAndDepthsItCannotHold) {
  EXPECT_EQ(CDib::Create(0, 1, 24), nullptr);
  EXPECT_EQ(CDib::Create(1, -1, 24), nullptr);
  EXPECT_EQ(CDib::Create(1, 1, 16), nullptr);
  EXPECT_EQ(CDib::Create(1, 1, 2), nullptr);
}

TEST(Dib, PadsRowsToFourBytes) {
  const struct {
    int width, bits;
    std::size_t stride;
  } cases[] = {{1, 1, 4},  {33, 1, 8},  {9, 4, 8},   {3, 8, 4},  {5, 8, 8},
               {1, 24, 4}, {3, 24, 12}, {5, 24, 16}, {3, 32, 12}};
  for (const auto& c : cases) {
    auto dib = CDib::Create(c.width, 2, c.bits);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->Stride(), c.stride) << c.width << " pixels of " << c.bits << " bits";
    EXPECT_EQ(dib->ColorCount(), c.bits <= 8 ? 1 << c.bits : 0);
  }
}

TEST(Dib, ReaderChoosesTheDepthOfTheBitmap) {
  CDibReader reader;
  EXPECT_FALSE(reader.Open(nullptr));
  const int depths[][2] = {{1, 1}, {4, 4}, {8, 8}, {24, 24}, {32, 24}};
  for (const auto& d : depths) {
    auto dib = CDib::Create(2, 2, d[0]);
    ASSERT_TRUE(reader.Open(dib.get()));
    EXPECT_EQ(reader.Depth(), d[1]);
  }
}

TEST(Dib, ReadsPartOfARowFromAnyPixel) {
  auto dib = CDib::Create(11, 1, 4);
  for (int x = 0; x < 11; ++x) {
    dib->ColorTable()[x] = RgbQuad{0, 0, static_cast<std::uint8_t>(x * 10), 0};
    dib->SetPixelIndex(x, 0, x);
  }
  CDibReader reader;
  ASSERT_TRUE(reader.Open(dib.get()));
  std::uint8_t rgb[9];
  reader.ReadRow(0, 7, 3, rgb);
  EXPECT_EQ(rgb[0], 70);
  EXPECT_EQ(rgb[3], 80);
  EXPECT_EQ(rgb[6], 90);
}

TEST(Dib, GrayRampIsTheDefaultColourTable) {
  auto dib = CDib::Create(1, 1, 1);
  EXPECT_EQ(dib->ColorTable()[0].red, 0);
  EXPECT_EQ(dib->ColorTable()[1].red, 255);
  auto eight = CDib::Create(1, 1, 8);
  EXPECT_EQ(eight->ColorTable()[255].blue, 255);
}
