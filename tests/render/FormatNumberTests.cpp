// The number form of content streams, and its independence from the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "pdf/PdfContentStream.h"
#include "render/FormatNumber.h"
#include "render/PdfContentWriter.h"

TEST(FormatNumber, WritesTheShortestFixedForm) {
  const struct {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {0, 2, "0.0"},
      {0.00000000001, 3, "0.0"},
      {-0.00000000001, 2, "0.0"},
      {2.5, 2, "2.5"},
      {3, 3, "3"},
      {0.001, 2, "0"},
      {-0.001, 2, "-0"},
      {20.456, 2, "20.46"},
      {0.298039, 3, "0.298"},
      {-12.5, 2, "-12.5"},
      {100, 2, "100"},
      {1234567.891, 2, "1234567.89"},
      {1e-9, 3, "0"},
      {0.5, 0, "0"},
      {1.5, 0, "2"},
      {2e31, 2, "1000000000000000019884624838656"},
      {-1e40, 2, "-1000000000000000019884624838656"},
      {1.0 / 0.0, 2, "1000000000000000019884624838656"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatNumber(c.value, c.decimals), c.text) << c.value << " with " << c.decimals;
  }
}

TEST(FormatNumber, WritesNotANumberAsZeroSoTheStreamStaysReadable) {
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::quiet_NaN(), 2), "0.0");
}

TEST(FormatNumber, IgnoresALocaleWithADecimalComma) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the locale de_DE.UTF-8 is missing; run scripts/install-deps.sh";
  char check[16];
  std::snprintf(check, sizeof check, "%.1f", 2.5);
  ASSERT_STREQ(check, "2,5") << "the locale must really use a decimal comma";

  EXPECT_EQ(FormatNumber(20.456, 2), "20.46");
  int32_t counter = 1;
  CPdfContentStream stream(&counter);
  CPdfContentWriter writer(&stream);
  writer.SetStrokeRGB(1, 0, 0.5);
  writer.SetLineWidth(0.25);
  writer.PlaceImage(1.5, 2.25, 3.125, -4.5, "IMG1");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), stream.Length()),
            "1 0.0 0.5 RG 0.25 w q 3.125 0 0 -4.5 1.5 2.25 cm /IMG1 Do Q ");
}

TEST(FormatNumber, AgreesWithPrintfOnManyValues) {
  // Random coordinates, colour levels and values next to a half, against the C library's own
  // rounding in the "C" locale.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> wide(-2e7, 2e7), unit(0, 1);
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) values.push_back(wide(random));
  for (int i = 0; i < 50000; ++i) values.push_back(unit(random));
  for (int i = -20000; i < 20000; ++i) values.push_back(i / 1000.0 + 0.005);
  for (int i = -2000; i < 2000; ++i) values.push_back(i / 200.0);
  for (double v : values) {
    for (int decimals : {2, 3}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
      std::string text = expected;
      if (std::fabs(v) < 1e-10) {
        text = "0.0";
      } else {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
      }
      ASSERT_EQ(FormatNumber(v, decimals), text) << "value " << v;
    }
  }
}
