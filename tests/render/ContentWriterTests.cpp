// Content operators, circles, arcs and polygons as text.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "pdf/PdfContentStream.h"
#include "render/PdfContentWriter.h"

namespace {

// A content stream with a writer on it, and the text written so far.
struct Content {
  int32_t counter = 1;
  CPdfContentStream stream{&counter};
  CPdfContentWriter writer{&stream};
  std::string Text() const {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Length());
  }
};

// The end points of the curves of a text ("... x y c "), in order.
std::vector<std::pair<double, double>> CurveEnds(const std::string& text) {
  std::vector<std::pair<double, double>> ends;
  static const std::regex curve(R"((\S+) (\S+) (\S+) (\S+) (\S+) (\S+) c )");
  for (std::sregex_iterator it(text.begin(), text.end(), curve), end; it != end; ++it) {
    ends.emplace_back(std::stod((*it)[5]), std::stod((*it)[6]));
  }
  return ends;
}

}  // namespace

TEST(ContentWriter, WritesEachOperatorWithItsExactText) {
  Content c;
  c.writer.MoveTo(10, 20.456);
  c.writer.LineTo(-1, 0, false);
  c.writer.Append(" ");
  c.writer.CurveTo(1, 2, 3, 4, 5, 6);
  c.writer.SetStrokeRGB(1, 0, 0.5);
  c.writer.SetFillRGB(0.25, 0.5, 1);
  c.writer.SetStrokeGray(0.298);
  c.writer.SetFillGray(1, false);
  c.writer.Append(" ");
  c.writer.SetLineWidth(36);
  c.writer.SetLineCap(5);
  c.writer.SetLineJoin(-1);
  c.writer.BeginOptionalContent("oc1");
  c.writer.EndMarkedContent();
  c.writer.PlaceImage(10, 30, 20, -20, "IMG1");
  EXPECT_EQ(c.Text(),
            "10 20.46 m -1 0.0 l 1 2 3 4 5 6 c 1 0.0 0.5 RG 0.25 0.5 1 rg 0.298 G 1 g 36 w 2 J "
            "0 j /OC /oc1 BDC EMC q 20 0 0 -20 10 30 cm /IMG1 Do Q ");
}

TEST(ContentWriter, AppendFormatReportsAnEmptyResult) {
  Content c;
  EXPECT_FALSE(c.writer.AppendFormat("%s", ""));
  EXPECT_TRUE(c.writer.AppendFormat("%d J ", 1));
  const std::string longText(1000, 'x');
  EXPECT_TRUE(c.writer.AppendFormat("%s", longText.c_str()));
  EXPECT_EQ(c.Text(), "1 J " + longText);
}

TEST(ContentWriter, CircleIsFourCurvesCounterClockwiseFromTheRight) {
  Content c;
  c.writer.Circle(0, 0, 1);
  EXPECT_EQ(c.Text(),
            "1 0.0 m 1 0.55 0.55 1 0.0 1 c -0.55 1 -1 0.55 -1 0.0 c -1 -0.55 -0.55 -1 0.0 -1 c "
            "0.55 -1 1 -0.55 1 0.0 c s ");
}

TEST(ContentWriter, ArcIsSplitIntoPiecesOfAtMost90Degrees) {
  Content c;
  c.writer.Arc(0, 0, 10, 0, 270, true);
  const std::string text = c.Text();
  EXPECT_EQ(text.rfind("10 0.0 m ", 0), 0u) << text;
  EXPECT_EQ(text.find(" m ", 9), std::string::npos) << "one move only";
  const auto ends = CurveEnds(text);
  ASSERT_EQ(ends.size(), 3u) << text;
  EXPECT_EQ(ends[0], std::make_pair(0.0, 10.0));
  EXPECT_EQ(ends[1], std::make_pair(-10.0, 0.0));
  EXPECT_EQ(ends[2], std::make_pair(0.0, -10.0));

  const struct {
    double sweep;
    std::size_t pieces;
  } counts[] = {{90, 1}, {90.5, 2}, {180, 2}, {360, 4}, {-360, 4}, {1, 1}, {450, 5}};
  for (const auto& n : counts) {
    Content d;
    d.writer.Arc(0, 0, 1, 0, n.sweep, true);
    EXPECT_EQ(CurveEnds(d.Text()).size(), n.pieces) << "sweep " << n.sweep;
  }
}

TEST(ContentWriter, ArcRunsClockwiseWhenItEndsBeforeItStarts) {
  Content c;
  c.writer.Arc(0, 0, 10, 90, 0, true);
  const std::string text = c.Text();
  EXPECT_EQ(text.rfind("0.0 10 m ", 0), 0u) << text;
  const auto ends = CurveEnds(text);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], std::make_pair(10.0, 0.0));
  // Its control points lie on the clockwise side: near (5.5, 10) and (10, 5.5).
  EXPECT_NE(text.find(" 5.52 10 10 5.52 10 0.0 c "), std::string::npos) << text;
}

TEST(ContentWriter, ArcJoinsWithALineWhenNotMovingFirst) {
  Content c;
  c.writer.Arc(0, 0, 10, 0, 90, false);
  EXPECT_EQ(c.Text().rfind("10 0.0 l ", 0), 0u) << c.Text();
}

TEST(ContentWriter, ArcWithoutSweepWritesNothing) {
  Content c;
  c.writer.Arc(0, 0, 10, 45, 45, true);
  c.writer.Arc(0, 0, 10, 0, std::numeric_limits<double>::infinity(), true);
  EXPECT_EQ(c.Text(), "");
}

TEST(ContentWriter, PolygonClosesOnlyWhenTheLastPointDiffers) {
  PointStruct open[] = {{0, 0}, {10, 0}, {10, 10}};
  PointStruct closed[] = {{0, 0}, {10, 0}, {10, 10}, {0.000005, 0}};
  Content c;
  c.writer.Polygon(0, 2, open);
  c.writer.Polygon(0, 3, closed);
  EXPECT_EQ(c.Text(),
            "0.0 0.0 m 10 0.0 l 10 10 l 0.0 0.0 l b "
            "0.0 0.0 m 10 0.0 l 10 10 l 0 0.0 l b ");
  Content d;
  d.writer.Polygon(1, 2, open);
  EXPECT_EQ(d.Text(), "10 0.0 m 10 10 l 10 0.0 l b ");
}

TEST(ContentWriter, PolyPolygonClosesEachRingAndFillsEvenOdd) {
  PointStruct points[] = {{0, 0}, {10, 0}, {10, 10}, {2, 2}, {4, 2}, {4, 4}, {2, 2}};
  const int counts[] = {3, 0, 4};
  Content c;
  c.writer.PolyPolygon(points, counts, 3);
  EXPECT_EQ(c.Text(), "0.0 0.0 m 10 0.0 l 10 10 l 0.0 0.0 l h 2 2 m 4 2 l 4 4 l 2 2 l h B* ");
  Content none;
  none.writer.PolyPolygon(points, counts, 0);
  EXPECT_EQ(none.Text(), "") << "no rings, no painting operator without a path";
}
