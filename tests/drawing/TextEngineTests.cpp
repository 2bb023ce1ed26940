#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "drawing/TextEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using drawing::CTextEngine;
using drawing::MText;
using drawing::MTextPiece;
using drawing::TextShape;
using drawing::TextStyle;
using drawing::Vec2;

struct Box {
  double minX = std::numeric_limits<double>::infinity();
  double minY = std::numeric_limits<double>::infinity();
  double maxX = -std::numeric_limits<double>::infinity();
  double maxY = -std::numeric_limits<double>::infinity();
  double Width() const { return maxX - minX; }
  double Height() const { return maxY - minY; }
};

Box BoxOf(const TextShape& shape, Vec2 offset = {}) {
  Box box;
  for (const auto& contour : shape.contours) {
    for (const Vec2& p : contour) {
      box.minX = std::min(box.minX, p.x + offset.x);
      box.maxX = std::max(box.maxX, p.x + offset.x);
      box.minY = std::min(box.minY, p.y + offset.y);
      box.maxY = std::max(box.maxY, p.y + offset.y);
    }
  }
  return box;
}

Box BoxOf(const MTextPiece& piece) {
  return BoxOf(piece.shape, piece.offset);
}

double SignedArea(const std::vector<Vec2>& polygon) {
  double area = 0.0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const Vec2& a = polygon[i];
    const Vec2& b = polygon[(i + 1) % polygon.size()];
    area += a.x * b.y - b.x * a.y;
  }
  return area / 2;
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// The system's copy of a face shipped with the packages the project depends on.
std::filesystem::path SystemFont(const std::string& relative) {
  return std::filesystem::path("/usr/share/fonts/truetype") / relative;
}

// ---- Shaping --------------------------------------------------------------------------------

TEST(TextEngineShape, CapHeightOfHIsOneInEveryFallbackFace) {
  CTextEngine engine;
  for (const char* file : {"arial.ttf", "times.ttf", "cour.ttf", "txt.shx", "simplex", ""}) {
    const TextShape shape = engine.Shape("H", file, "");
    const Box box = BoxOf(shape);
    EXPECT_NEAR(box.maxY, 1.0, 0.02) << "cap height of H in the face for '" << file << "'";
    EXPECT_NEAR(box.minY, 0.0, 0.02) << "H should stand on the baseline in '" << file << "'";
  }
}

TEST(TextEngineShape, WidthsGrowWithTextAndAddUp) {
  CTextEngine engine;
  const double a = engine.Shape("A", "arial.ttf", "").width;
  const double ab = engine.Shape("AB", "arial.ttf", "").width;
  const double abc = engine.Shape("ABC", "arial.ttf", "").width;
  EXPECT_GT(a, 0.0);
  EXPECT_GT(ab, a);
  EXPECT_GT(abc, ab);
  EXPECT_NEAR(ab, a + engine.Shape("B", "arial.ttf", "").width, 1e-12)
      << "advances add up (no kerning)";
  EXPECT_DOUBLE_EQ(engine.MeasureWidth("ABC", "arial.ttf", ""), abc);
  // Liberation Sans has Arial's advances: "A" is 1366 units of 2048, cap height 1409.
  EXPECT_NEAR(a, 1366.0 / 1409.0, 0.01);
}

TEST(TextEngineShape, NarrowLettersAreNarrower) {
  CTextEngine engine;
  for (const char* file : {"arial.ttf", "txt.shx", ""}) {
    EXPECT_LT(engine.Shape("I", file, "").width, engine.Shape("W", file, "").width) << file;
    EXPECT_LT(BoxOf(engine.Shape("I", file, "")).Width(),
              BoxOf(engine.Shape("W", file, "")).Width())
        << file;
  }
}

TEST(TextEngineShape, ContoursAreClosedPolygonsPlacedByAdvance) {
  CTextEngine engine;
  const TextShape o = engine.Shape("o", "arial.ttf", "");
  ASSERT_EQ(o.contours.size(), 2u) << "an o is an outer and an inner contour";
  EXPECT_LT(SignedArea(o.contours[0]) * SignedArea(o.contours[1]), 0.0)
      << "the hole runs the other way round, as the font gives it";
  for (const auto& contour : o.contours) {
    ASSERT_GE(contour.size(), 3u);
    EXPECT_FALSE(contour.front().x == contour.back().x && contour.front().y == contour.back().y)
        << "the last point must not repeat the first";
  }
  const TextShape two = engine.Shape("oo", "arial.ttf", "");
  ASSERT_EQ(two.contours.size(), 4u);
  for (std::size_t k = 0; k < o.contours[0].size(); ++k) {
    EXPECT_NEAR(two.contours[2][k].x, o.contours[0][k].x + o.width, 1e-12);
    EXPECT_NEAR(two.contours[2][k].y, o.contours[0][k].y, 1e-12);
  }
}

TEST(TextEngineShape, CurvesAreFlattenedFinelyButNotWastefully) {
  CTextEngine engine;
  const TextShape o = engine.Shape("O", "arial.ttf", "");
  std::size_t points = 0;
  double longest = 0.0;
  for (const auto& contour : o.contours) {
    points += contour.size();
    for (std::size_t i = 0; i < contour.size(); ++i) {
      const Vec2& a = contour[i];
      const Vec2& b = contour[(i + 1) % contour.size()];
      longest = std::max(longest, std::hypot(b.x - a.x, b.y - a.y));
    }
  }
  // A bow of radius 0.5 within 0.5 % of the height needs chords of about 0.14.
  EXPECT_LT(longest, 0.2) << "curves are drawn with coarse chords";
  EXPECT_GT(points, 40u);
  EXPECT_LT(points, 400u) << "curves are split far more than the tolerance needs";
  // Every point of the flattened curve lies on the letter's ring (Arial's O: about 0.7 × 1.0).
  const Box box = BoxOf(o);
  EXPECT_NEAR(box.Height(), 1.03, 0.05);
}

TEST(TextEngineShape, UnknownCharactersDoNotFail) {
  CTextEngine engine;
  // A code point no face has: the face's .notdef box, which has an advance.
  const TextShape missing = engine.Shape("\xF4\x8F\xBF\xBD", "arial.ttf", "");
  EXPECT_GT(missing.width, 0.0);
  // U+2205 (empty set) is not in Liberation Sans: it is taken from DejaVu Sans, scaled to
  // the same cap height.
  const TextShape emptySet = engine.Shape("\xE2\x88\x85", "arial.ttf", "");
  EXPECT_FALSE(emptySet.contours.empty());
  EXPECT_LT(BoxOf(emptySet).maxY, 1.4);
  EXPECT_GT(BoxOf(emptySet).maxY, 0.6);
}

TEST(TextEngineShape, CharactersNoFallbackFaceHasComeFromAnInstalledFaceThatHasThem) {
  CTextEngine engine;
  // U+4E2D U+6587 ("Chinese") are in neither Liberation nor DejaVu: an installed face with
  // Chinese characters draws them instead of two empty boxes.
  const TextShape text = engine.Shape("\xE4\xB8\xAD\xE6\x96\x87", "arial.ttf", "");
  const TextShape boxes = engine.Shape("\xF4\x8F\xBF\xBD\xF4\x8F\xBF\xBD", "arial.ttf", "");
  auto points = [](const TextShape& shape) {
    std::size_t n = 0;
    for (const auto& contour : shape.contours) n += contour.size();
    return n;
  };
  ASSERT_FALSE(text.contours.empty());
  EXPECT_GT(points(text), 2 * points(boxes)) << "strokes of two characters, not two boxes";
  const Box box = BoxOf(text);
  EXPECT_GT(box.Height(), 0.8);
  EXPECT_LT(box.Height(), 2.0) << "scaled to the cap height like every fallback";
}

TEST(TextEngineShape, ControlCharactersAreSkipped) {
  CTextEngine engine;
  EXPECT_DOUBLE_EQ(engine.Shape("A\tB\r\n", "arial.ttf", "").width,
                   engine.Shape("AB", "arial.ttf", "").width);
  EXPECT_TRUE(engine.Shape("\x01\x02", "arial.ttf", "").contours.empty());
}

TEST(TextEngineShape, MalformedUtf8DoesNotFail) {
  CTextEngine engine;
  for (const char* text : {"\xE2\x82", "A\xC3", "\xFF\xFE", "\xC0\xAF", "\xED\xA0\x80",
                           "\xF4\x90\x80\x80", "\x80\x80\x80"}) {
    const TextShape shape = engine.Shape(text, "arial.ttf", "");
    EXPECT_TRUE(std::isfinite(shape.width));
    EXPECT_GT(shape.width, 0.0) << "malformed bytes draw a replacement, not nothing";
  }
  EXPECT_EQ(engine.Shape("", "arial.ttf", "").width, 0.0);
  // A good character after a broken sequence is still read.
  EXPECT_GT(engine.Shape(std::string("\xE2") + "A", "arial.ttf", "").width,
            engine.Shape("A", "arial.ttf", "").width);
}

TEST(TextEngineShape, ShapingFromTheCacheGivesTheSameOutlines) {
  CTextEngine engine;
  const TextShape first = engine.Shape("Cache me", "arial.ttf", "");
  const TextShape second = engine.Shape("Cache me", "arial.ttf", "");
  ASSERT_EQ(first.contours.size(), second.contours.size());
  for (std::size_t c = 0; c < first.contours.size(); ++c) {
    ASSERT_EQ(first.contours[c].size(), second.contours[c].size());
    for (std::size_t k = 0; k < first.contours[c].size(); ++k) {
      EXPECT_EQ(first.contours[c][k].x, second.contours[c][k].x);
      EXPECT_EQ(first.contours[c][k].y, second.contours[c][k].y);
    }
  }
  EXPECT_EQ(first.width, second.width);
}

TEST(TextEngineShape, ItalicWithoutAnItalicFaceIsSlanted) {
  testsupport::TempDir folder;
  std::filesystem::copy_file(SystemFont("dejavu/DejaVuSans.ttf"), folder / "plain.ttf");
  CTextEngine engine;
  engine.SetSearchDirectories({folder.Path().string()});
  const Box upright = BoxOf(engine.Shape("I", "plain.ttf", ""));
  const Box slanted = BoxOf(engine.Shape("I", "plain.ttf", "", false, true));
  EXPECT_NEAR(slanted.maxX - upright.maxX, 0.2125, 0.01) << "the top leans right by tan 12°";
  EXPECT_NEAR(slanted.minX, upright.minX, 1e-9) << "the foot stays on its place";
}

// ---- Font lookup ----------------------------------------------------------------------------

TEST(TextEngineFonts, CommonFontsResolveToMetricCompatibleFaces) {
  CTextEngine engine;
  struct Case {
    const char* file;
    const char* family;
    bool bold, italic;
    const char* expected;
  } cases[] = {
      {"arial.ttf", "", false, false, "LiberationSans-Regular.ttf"},
      {"ARIAL.TTF", "", false, false, "LiberationSans-Regular.ttf"},
      {"C:\\Windows\\Fonts\\arial.ttf", "", false, false, "LiberationSans-Regular.ttf"},
      {"arial.ttf", "", true, false, "LiberationSans-Bold.ttf"},
      {"arialbd.ttf", "", false, false, "LiberationSans-Bold.ttf"},
      {"ariali.ttf", "", false, false, "LiberationSans-Italic.ttf"},
      {"", "Arial", false, false, "LiberationSans-Regular.ttf"},
      {"", "Helvetica", false, true, "LiberationSans-Italic.ttf"},
      {"times.ttf", "", false, false, "LiberationSerif-Regular.ttf"},
      {"", "Times New Roman", true, true, "LiberationSerif-BoldItalic.ttf"},
      {"cour.ttf", "", false, false, "LiberationMono-Regular.ttf"},
      {"", "Courier New", false, false, "LiberationMono-Regular.ttf"},
      {"arialn.ttf", "", false, false, "LiberationSansNarrow-Regular.ttf"},
      {"", "DejaVu Serif", false, false, "DejaVuSerif.ttf"},
      {"DejaVuSansMono.ttf", "", false, false, "DejaVuSansMono.ttf"},
      {"nosuchfont.ttf", "", false, false, "DejaVuSans.ttf"},
      {"", "", false, false, "DejaVuSans.ttf"},
      {"", "", true, false, "DejaVuSans-Bold.ttf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileName(engine.ResolvedFontFile(c.file, c.family, c.bold, c.italic)), c.expected)
        << "file '" << c.file << "' family '" << c.family << "' bold " << c.bold << " italic "
        << c.italic;
  }
}

TEST(TextEngineFonts, ShxFontsResolveToAPlainSansFace) {
  CTextEngine engine;
  for (const char* file : {"txt.shx", "TXT.SHX", "simplex", "romans.shx", "romand.shx", "isocp.shx",
                           "gdt.shx", "C:\\fonts\\simplex.shx"}) {
    const std::string name = FileName(engine.ResolvedFontFile(file, ""));
    EXPECT_TRUE(name == "LiberationSans-Regular.ttf" || name == "DejaVuSans.ttf")
        << file << " resolved to " << name;
  }
}

TEST(TextEngineFonts, SearchFoldersComeFirst) {
  testsupport::TempDir folder;
  // A face under a Windows name in a search folder wins over the metric-compatible face.
  std::filesystem::copy_file(SystemFont("dejavu/DejaVuSansMono.ttf"), folder / "Arial.TTF");
  std::filesystem::copy_file(SystemFont("dejavu/DejaVuSerif.ttf"), folder / "company.ttf");
  testsupport::WriteFile(folder / "broken.ttf", "not a font at all");
  testsupport::WriteFile(folder / "txt.shx", "AutoCAD-86 shapes 1.0\r\n\x1a");

  CTextEngine engine;
  EXPECT_EQ(FileName(engine.ResolvedFontFile("arial.ttf", "")), "LiberationSans-Regular.ttf");
  // Folders may come joined by ";", as the run's search paths do.
  engine.SetSearchDirectories({"/nonexistent/folder;" + folder.Path().string()});
  EXPECT_EQ(engine.ResolvedFontFile("arial.ttf", ""), (folder / "Arial.TTF").string())
      << "a resolution made before the folders were set must not stick";
  EXPECT_EQ(engine.ResolvedFontFile("company.ttf", ""), (folder / "company.ttf").string());
  EXPECT_EQ(engine.ResolvedFontFile("company", ""), (folder / "company.ttf").string());
  EXPECT_EQ(FileName(engine.ResolvedFontFile("broken.ttf", "")), "DejaVuSans.ttf");
  const std::string shx = FileName(engine.ResolvedFontFile("txt.shx", ""));
  EXPECT_TRUE(shx == "LiberationSans-Regular.ttf" || shx == "DejaVuSans.ttf") << shx;
  // The face from the folder really draws: DejaVu Sans Mono gives every letter one advance.
  EXPECT_DOUBLE_EQ(engine.Shape("I", "arial.ttf", "").width,
                   engine.Shape("W", "arial.ttf", "").width);

  engine.SetSearchDirectories({});
  EXPECT_EQ(FileName(engine.ResolvedFontFile("arial.ttf", "")), "LiberationSans-Regular.ttf");
}

TEST(TextEngineFonts, TheFileInAFolderWinsOverTheFamily) {
  testsupport::TempDir folder;
  std::filesystem::copy_file(SystemFont("dejavu/DejaVuSerif.ttf"), folder / "special.ttf");
  CTextEngine engine;
  engine.SetSearchDirectories({folder.Path().string()});
  EXPECT_EQ(engine.ResolvedFontFile("special.ttf", "Liberation Sans"),
            (folder / "special.ttf").string());
  // Without the file, the family decides.
  EXPECT_EQ(FileName(engine.ResolvedFontFile("other.ttf", "Liberation Serif")),
            "LiberationSerif-Regular.ttf");
}

// ---- MTEXT ----------------------------------------------------------------------------------

constexpr double kHeight = 2.5;
constexpr double kSpacing = 5.0 / 3.0 * kHeight;

TextStyle ArialStyle() {
  TextStyle style;
  style.name = "Standard";
  style.fontFile = "arial.ttf";
  return style;
}

MText MakeMText(const std::string& text, int attachment = 1, double referenceWidth = 0.0) {
  MText mtext;
  mtext.text = text;
  mtext.height = kHeight;
  mtext.attachment = attachment;
  mtext.referenceWidth = referenceWidth;
  return mtext;
}

std::vector<MTextPiece> Layout(CTextEngine& engine, const std::string& text, int attachment = 1,
                               double referenceWidth = 0.0) {
  return drawing::LayoutMText(MakeMText(text, attachment, referenceWidth), ArialStyle(), engine);
}

// The width in drawing units of plain text at the test's height in Arial.
double WidthOf(CTextEngine& engine, const std::string& text, double height = kHeight) {
  return engine.MeasureWidth(text, "arial.ttf", "") * height;
}

std::vector<double> Baselines(const std::vector<MTextPiece>& pieces) {
  std::vector<double> result;
  for (const MTextPiece& piece : pieces) {
    if (std::none_of(result.begin(), result.end(),
                     [&](double y) { return std::abs(y - piece.offset.y) < 1e-9; })) {
      result.push_back(piece.offset.y);
    }
  }
  return result;
}

TEST(MTextLayout, PlainTextIsOnePieceWithItsCapTopAtTheInsertionPoint) {
  CTextEngine engine;
  // Letters without overshoot or ascenders, so that the top of the outlines is the cap line.
  const auto pieces = Layout(engine, "HIT THE LINE");
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_DOUBLE_EQ(pieces[0].offset.x, 0.0);
  EXPECT_DOUBLE_EQ(pieces[0].offset.y, -kHeight);
  EXPECT_NEAR(pieces[0].shape.width, WidthOf(engine, "HIT THE LINE"), 1e-9);
  EXPECT_NEAR(BoxOf(pieces[0]).maxY, 0.0, 0.02 * kHeight) << "cap top of H at y = 0";
  EXPECT_FALSE(pieces[0].hasColor);
  EXPECT_TRUE(drawing::LayoutMText(MakeMText(""), ArialStyle(), engine).empty());
}

TEST(MTextLayout, ParagraphsGoOneBelowTheOther) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "AB\\PCD");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_DOUBLE_EQ(pieces[0].offset.x, 0.0);
  EXPECT_DOUBLE_EQ(pieces[1].offset.x, 0.0);
  EXPECT_NEAR(pieces[0].offset.y, -kHeight, 1e-9);
  EXPECT_NEAR(pieces[1].offset.y, -kHeight - kSpacing, 1e-9);

  // An empty paragraph still takes a line; ^J, \N and a line feed break lines too.
  const auto gap = Layout(engine, "A\\P\\PB");
  ASSERT_EQ(gap.size(), 2u);
  EXPECT_NEAR(gap[1].offset.y - gap[0].offset.y, -2 * kSpacing, 1e-9);
  for (const char* text : {"A^JB", "A\\NB", "A\nB", "A\\XB"}) {
    EXPECT_EQ(Baselines(Layout(engine, text)).size(), 2u) << text;
  }
}

TEST(MTextLayout, LineSpacingFactorScalesTheDistanceBetweenBaselines) {
  CTextEngine engine;
  MText mtext = MakeMText("A\\PB");
  mtext.lineSpacingFactor = 2.0;
  const auto pieces = drawing::LayoutMText(mtext, ArialStyle(), engine);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_NEAR(pieces[0].offset.y - pieces[1].offset.y, 2 * kSpacing, 1e-9);
}

TEST(MTextLayout, HeightCodesScaleTheTextInTheirGroup) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "H{\\H2x;H}H");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_NEAR(BoxOf(pieces[0].shape).Height(), kHeight, 0.02 * kHeight);
  EXPECT_NEAR(BoxOf(pieces[1].shape).Height(), 2 * kHeight, 0.04 * kHeight) << "\\H2x; doubles";
  EXPECT_NEAR(BoxOf(pieces[2].shape).Height(), kHeight, 0.02 * kHeight) << "} restores";
  // One line: one baseline, placed so that the tallest letter's cap top is at 0.
  EXPECT_EQ(Baselines(pieces).size(), 1u);
  EXPECT_NEAR(pieces[0].offset.y, -2 * kHeight, 1e-9);
  EXPECT_NEAR(pieces[1].offset.x, WidthOf(engine, "H"), 1e-9);
  EXPECT_NEAR(pieces[2].offset.x, WidthOf(engine, "H") * 3, 1e-9);

  const auto absolute = Layout(engine, "\\H5;H\\H0.5x;H");
  ASSERT_EQ(absolute.size(), 2u);
  EXPECT_NEAR(BoxOf(absolute[0].shape).Height(), 5.0, 0.1);
  EXPECT_NEAR(BoxOf(absolute[1].shape).Height(), 2.5, 0.05) << "x is relative to the current";
}

TEST(MTextLayout, CodesWithoutTheirSemicolonStillApply) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "\\H5Hello");
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_NEAR(pieces[0].shape.width, WidthOf(engine, "Hello", 5.0), 1e-9);
  const auto noValue = Layout(engine, "\\HHello");
  ASSERT_EQ(noValue.size(), 1u);
  EXPECT_NEAR(noValue[0].shape.width, WidthOf(engine, "Hello"), 1e-9);
}

TEST(MTextLayout, ColourCodesColourTheirPieces) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "plain{\\C1;red}plain\\c16711680;blue");
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_FALSE(pieces[0].hasColor);
  EXPECT_TRUE(pieces[1].hasColor);
  EXPECT_EQ(pieces[1].color.index, 1);
  EXPECT_FALSE(pieces[1].color.hasTrueColor);
  EXPECT_FALSE(pieces[2].hasColor) << "the group ends the colour";
  EXPECT_TRUE(pieces[3].hasColor);
  EXPECT_TRUE(pieces[3].color.hasTrueColor);
  EXPECT_EQ(pieces[3].color.rgb, 0xFF0000u) << "blue: red sits in the low byte";
  // The pieces follow each other on the line.
  EXPECT_NEAR(pieces[1].offset.x, WidthOf(engine, "plain"), 1e-9);
  EXPECT_NEAR(pieces[3].offset.x, WidthOf(engine, "plainredplain"), 1e-9);
}

// Lines under, over and through text come as bars of their own, as long as the text they mark
// (spaces between marked words included), in its colour; %%u-style toggles work as \L \l.
TEST(MTextLayout, UnderOverAndStrikeThroughLinesAreBarsAlongTheirText) {
  CTextEngine engine;
  const auto bars = [](const std::vector<MTextPiece>& pieces) {
    std::vector<Box> out;
    for (const MTextPiece& piece : pieces) {
      if (piece.shape.contours.size() != 1 || piece.shape.contours[0].size() != 4) continue;
      // Bars of neighbouring words join into one.
      const Box box = BoxOf(piece);
      if (!out.empty() && std::abs(out.back().minY - box.minY) < 1e-9 &&
          std::abs(out.back().maxX - box.minX) < 1e-9) {
        out.back().maxX = box.maxX;
      } else {
        out.push_back(box);
      }
    }
    return out;
  };
  const double h = kHeight;
  const double plain = WidthOf(engine, "plain ");
  const auto marked = Layout(engine, "plain \\Lone two\\l {\\C1;\\Oover}\\Kab%%kx%%uy");
  const auto found = bars(marked);
  ASSERT_EQ(found.size(), 4u);
  const double baseline = Baselines(marked).front();
  EXPECT_NEAR(found[0].minX, plain, 1e-9);
  EXPECT_NEAR(found[0].maxX, WidthOf(engine, "plain one two"), 1e-6) << "one bar for both words";
  EXPECT_NEAR((found[0].minY + found[0].maxY) / 2, baseline - 0.2 * h, 1e-9);
  EXPECT_NEAR(found[0].maxY - found[0].minY, 0.06 * h, 1e-9);
  EXPECT_NEAR((found[1].minY + found[1].maxY) / 2, baseline + 1.2 * h, 1e-9) << "over";
  const auto over = std::find_if(marked.begin(), marked.end(), [&](const MTextPiece& piece) {
    return BoxOf(piece).minY > baseline + h;
  });
  ASSERT_NE(over, marked.end());
  EXPECT_TRUE(over->hasColor) << "the bar takes its text's colour";
  EXPECT_NEAR((found[2].minY + found[2].maxY) / 2, baseline + 0.5 * h, 1e-9) << "through";
  EXPECT_NEAR(found[2].maxX - found[2].minX, WidthOf(engine, "ab"), 1e-6)
      << "%%k turned the line through off again";
  EXPECT_NEAR(found[3].maxX - found[3].minX, WidthOf(engine, "y"), 1e-6);
  EXPECT_TRUE(bars(Layout(engine, "no lines \\l\\o\\k")).empty());
}

TEST(MTextLayout, FractionsAreStackedSmallOverABar) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "\\S1/2;");
  ASSERT_EQ(pieces.size(), 3u) << "numerator, denominator and bar";
  const Box top = BoxOf(pieces[0]);
  const Box bottom = BoxOf(pieces[1]);
  const Box bar = BoxOf(pieces[2]);
  EXPECT_GT(BoxOf(pieces[0]).minY, bar.maxY) << "1 above the bar";
  EXPECT_LT(BoxOf(pieces[1]).maxY, bar.minY) << "2 below the bar";
  EXPECT_LT(top.Height(), 0.8 * kHeight);
  EXPECT_LT(bottom.Height(), 0.8 * kHeight);
  EXPECT_GT(top.Height(), 0.6 * kHeight);
  EXPECT_NEAR(bar.Width(), WidthOf(engine, "2") * 0.7, 1e-9);

  // "^" stacks without a bar, left-aligned; "#" puts them side by side with a slash.
  const auto tolerance = Layout(engine, "\\S+0.1^ -0.2;");
  ASSERT_EQ(tolerance.size(), 2u);
  EXPECT_DOUBLE_EQ(tolerance[0].offset.x, tolerance[1].offset.x);
  EXPECT_GT(tolerance[0].offset.y, tolerance[1].offset.y);
  const auto diagonal = Layout(engine, "\\S3#4;");
  ASSERT_EQ(diagonal.size(), 3u);
  EXPECT_LT(diagonal[0].offset.x, diagonal[1].offset.x);
  EXPECT_LT(diagonal[1].offset.x, diagonal[2].offset.x);
  EXPECT_GT(diagonal[0].offset.y, diagonal[2].offset.y);

  // Text after a stack continues behind it.
  const auto after = Layout(engine, "1\\S1/2;\"");
  ASSERT_EQ(after.size(), 5u);
  EXPECT_NEAR(after[4].offset.x, WidthOf(engine, "1") + WidthOf(engine, "2") * 0.7, 1e-9);
}

TEST(MTextLayout, ReferenceWidthWrapsAtSpaces) {
  CTextEngine engine;
  const std::string text = "alpha beta gamma";
  EXPECT_EQ(Baselines(Layout(engine, text)).size(), 1u) << "no reference width, no wrapping";
  const double twoWords = WidthOf(engine, "alpha beta");
  const auto wrapped = Layout(engine, text, 1, twoWords + 0.01);
  ASSERT_EQ(wrapped.size(), 2u);
  EXPECT_NEAR(wrapped[0].offset.y, -kHeight, 1e-9);
  EXPECT_NEAR(wrapped[1].offset.y, -kHeight - kSpacing, 1e-9);
  EXPECT_DOUBLE_EQ(wrapped[1].offset.x, 0.0);
  EXPECT_NEAR(BoxOf(wrapped[1].shape).Width(),
              BoxOf(engine.Shape("gamma", "arial.ttf", "")).Width() * kHeight, 1e-9);
  // Trailing spaces do not count: exactly the width of "alpha beta" still fits.
  EXPECT_EQ(Baselines(Layout(engine, text, 1, twoWords)).size(), 2u);
  // Every word on its own line when the width is narrower than any word; a word longer than
  // the width is not split.
  const auto narrow = Layout(engine, text, 1, 0.1);
  ASSERT_EQ(narrow.size(), 3u);
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    EXPECT_NEAR(narrow[i].offset.y, -kHeight - kSpacing * i, 1e-9)
        << "no empty line before a word wider than the reference width";
  }
  // A no-break space does not break.
  EXPECT_EQ(Baselines(Layout(engine, "alpha\\~beta", 1, 0.1)).size(), 1u);
  // Paragraphs wrap on their own.
  EXPECT_EQ(Baselines(Layout(engine, "alpha beta\\Pgamma", 1, twoWords + 0.01)).size(), 2u);
}

TEST(MTextLayout, AttachmentPlacesTheBlock) {
  CTextEngine engine;
  const double w = WidthOf(engine, "HH");
  struct Case {
    int attachment;
    double x, y;
  } cases[] = {
      {1, 0.0, -kHeight},     {2, -w / 2, -kHeight},     {3, -w, -kHeight},
      {4, 0.0, -kHeight / 2}, {5, -w / 2, -kHeight / 2}, {6, -w, -kHeight / 2},
      {7, 0.0, 0.0},          {8, -w / 2, 0.0},          {9, -w, 0.0},
      {0, 0.0, -kHeight},     {42, 0.0, -kHeight},
  };
  for (const Case& c : cases) {
    const auto pieces = Layout(engine, "HH", c.attachment);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_NEAR(pieces[0].offset.x, c.x, 1e-9) << "attachment " << c.attachment;
    EXPECT_NEAR(pieces[0].offset.y, c.y, 1e-9) << "attachment " << c.attachment;
  }
  // Middle centre of a single line: the caps are centred on the insertion point.
  const Box box = BoxOf(Layout(engine, "HH", 5)[0]);
  EXPECT_NEAR((box.minY + box.maxY) / 2, 0.0, 0.02 * kHeight);
  EXPECT_NEAR((box.minX + box.maxX) / 2, 0.0, 0.05 * kHeight);
}

TEST(MTextLayout, AttachmentPlacesSeveralLines) {
  CTextEngine engine;
  const std::string text = "Top\\PWider line";
  const auto top = Layout(engine, text, 1);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_NEAR(top[0].offset.y, -kHeight, 1e-9);

  const auto bottom = Layout(engine, text, 9);
  ASSERT_EQ(bottom.size(), 2u);
  EXPECT_NEAR(bottom[1].offset.y, 0.0, 1e-9) << "the last baseline on the insertion point";
  EXPECT_NEAR(bottom[0].offset.y, kSpacing, 1e-9);
  EXPECT_NEAR(bottom[0].offset.x, -WidthOf(engine, "Top"), 1e-9) << "each line right-aligned";
  EXPECT_NEAR(bottom[1].offset.x, -WidthOf(engine, "Wider line"), 1e-9);

  const auto middle = Layout(engine, text, 5);
  ASSERT_EQ(middle.size(), 2u);
  const double capTop = middle[0].offset.y + kHeight;
  EXPECT_NEAR(capTop + middle[1].offset.y, 0.0, 1e-9) << "centred between cap top and baseline";
  EXPECT_NEAR(middle[0].offset.x, -WidthOf(engine, "Top") / 2, 1e-9);
  EXPECT_NEAR(middle[1].offset.x, -WidthOf(engine, "Wider line") / 2, 1e-9);

  // With a reference width, right-aligned lines end on the insertion point as well.
  const auto wrapped = Layout(engine, "alpha beta", 3, WidthOf(engine, "alpha") + 0.01);
  ASSERT_EQ(wrapped.size(), 2u);
  EXPECT_NEAR(wrapped[0].offset.x, -WidthOf(engine, "alpha"), 1e-9) << "trailing space ignored";
  EXPECT_NEAR(wrapped[1].offset.x, -WidthOf(engine, "beta"), 1e-9);
}

TEST(MTextLayout, EscapesAndSpecialCharactersBecomeText) {
  CTextEngine engine;
  struct Case {
    const char* mtext;
    const char* plain;
  } cases[] = {
      {"a\\{b\\}c", "a{b}c"},
      {"back\\\\slash", "back\\slash"},
      {"%%c25", "\u00D825"},
      {"90%%d", "90\u00B0"},
      {"%%p0.1", "\u00B10.1"},
      {"100%%%", "100%"},
      {"%%176", "\u00B0"},
      {"\\U+00B0C", "\u00B0C"},
      {"%%128 %%150", "\u20AC \u2013"},
      {"1^ 2", "1^2"},
      {"\\pxqc;\\A1;\\T1.2;centre", "centre"},
      {"C:\\temp", "C:\\temp"},
      {"50 %", "50 %"},
  };
  for (const Case& c : cases) {
    const auto pieces = Layout(engine, c.mtext);
    ASSERT_EQ(pieces.size(), 1u) << c.mtext;
    EXPECT_NEAR(pieces[0].shape.width, WidthOf(engine, c.plain), 1e-9) << c.mtext;
  }
}

TEST(MTextLayout, TabsAdvanceToTheNextStop) {
  CTextEngine engine;
  for (const char* text : {"A^IB", "A\tB"}) {
    const auto pieces = Layout(engine, text);
    ASSERT_EQ(pieces.size(), 1u) << text << ": text of one format on a line is one piece";
    EXPECT_NEAR(pieces[0].shape.width, 4 * kHeight + WidthOf(engine, "B"), 1e-9) << text;
    EXPECT_NEAR(BoxOf(pieces[0].shape).maxX,
                4 * kHeight + BoxOf(engine.Shape("B", "arial.ttf", "")).maxX * kHeight, 1e-9)
        << text;
  }
}

TEST(MTextLayout, TabsPastAStopGoToTheNextOne) {
  CTextEngine engine;
  const auto pieces = Layout(engine, "WWW^I{\\C1;B}");
  ASSERT_EQ(pieces.size(), 2u);
  ASSERT_GT(WidthOf(engine, "WWW"), 4 * kHeight);
  EXPECT_NEAR(pieces[1].offset.x, 8 * kHeight, 1e-9);
}

TEST(MTextLayout, ParagraphsAlignInTheTextsBoxAsTheirCodeSays) {
  CTextEngine engine;
  const double box = 20 * kHeight;
  const double w = WidthOf(engine, "HH");
  struct Case {
    const char* text;
    int attachment;
    double x;
  } cases[] = {
      {"\\pqr;HH", 1, box - w},  {"\\pxqc;HH", 1, (box - w) / 2}, {"\\pql;HH", 3, -box},
      {"\\pql;HH", 2, -box / 2}, {"\\pqr;\\pq*;HH", 3, -w},       {"HH\\P\\pqr;HH", 1, 0.0},
  };
  for (const Case& c : cases) {
    const auto pieces = Layout(engine, c.text, c.attachment, box);
    ASSERT_FALSE(pieces.empty()) << c.text;
    EXPECT_NEAR(pieces[0].offset.x, c.x, 1e-9) << c.text << " attachment " << c.attachment;
  }
  // Without a reference width the box is as wide as the widest line.
  const auto unbound = Layout(engine, "\\pqr;HH\\PWider line");
  ASSERT_EQ(unbound.size(), 2u);
  EXPECT_NEAR(unbound[0].offset.x, WidthOf(engine, "Wider line") - w, 1e-9);
  // Justified lines but the last fill the box, their words spread; distributed ones all do.
  const double narrow = WidthOf(engine, "alpha beta") + 0.1;
  const auto justified = Layout(engine, "\\pqj;alpha beta gamma", 1, narrow);
  ASSERT_EQ(justified.size(), 3u);
  EXPECT_NEAR(justified[1].offset.x, narrow - WidthOf(engine, "beta"), 1e-9)
      << "the last word of a justified line ends at the box's right side";
  EXPECT_NEAR(justified[2].offset.x, 0.0, 1e-9) << "the paragraph's last line is not spread";
}

TEST(MTextLayout, DistributedLinesSpaceOutTheirCharactersAcrossTheBox) {
  CTextEngine engine;
  // Every line, the paragraph's last too, runs from the box's left side to its right side, the
  // room shared evenly between all characters (spaces included), not only between words.
  const double box = 3 * WidthOf(engine, "alpha beta");
  const auto one = Layout(engine, "\\pqd;alpha beta", 1, box);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_NEAR(one[0].offset.x, 0.0, 1e-9);
  EXPECT_NEAR(one[0].shape.width, box, 1e-9) << "the last character ends at the right side";
  const double spread = (box - WidthOf(engine, "alpha beta")) / 9;
  const double firstL = BoxOf(engine.Shape("a", "arial.ttf", "")).maxX * kHeight;
  // The "l" of "alpha" starts one character width and one share of the room after the "a".
  Box second;
  for (const auto& contour : one[0].shape.contours) {
    const Box box1 = BoxOf(TextShape{{contour}, 0.0});
    if (box1.minX > firstL && (second.minX > box1.minX)) second = box1;
  }
  EXPECT_NEAR(
      second.minX,
      WidthOf(engine, "a") + spread + BoxOf(engine.Shape("l", "arial.ttf", "")).minX * kHeight,
      1e-9);
  // Wrapped lines each fill the box; the spaces where a line breaks take no share.
  const double narrow = WidthOf(engine, "alpha beta") * 0.8;
  const auto wrapped = Layout(engine, "\\pqd;alpha beta", 1, narrow);
  ASSERT_EQ(Baselines(wrapped).size(), 2u);
  // Both lines end in an "a", whose outline stops short of its advance by its right bearing.
  const double bearing =
      WidthOf(engine, "a") - BoxOf(engine.Shape("a", "arial.ttf", "")).maxX * kHeight;
  for (const MTextPiece& piece : wrapped) {
    EXPECT_NEAR(piece.offset.x, 0.0, 1e-9);
    EXPECT_NEAR(BoxOf(piece).maxX, narrow - bearing, 1e-9);
  }
  // An underline follows the characters to the last one's end.
  const auto underlined = Layout(engine, "\\pqd;\\LHH", 1, box);
  ASSERT_FALSE(underlined.empty());
  double underEnd = 0.0;
  for (const MTextPiece& piece : underlined) underEnd = std::max(underEnd, BoxOf(piece).maxX);
  EXPECT_NEAR(underEnd, box, 1e-9);
}

TEST(MTextLayout, CentreRightAndDecimalTabStopsSetTheirTextOnTheStop) {
  CTextEngine engine;
  struct Case {
    const char* text;
    double x;  // where the coloured text after the tab starts
  } cases[] = {
      {"\\pxt8;A^I{\\C1;HH}", 8 * kHeight},
      {"\\pxtc8;A^I{\\C1;HH}", 8 * kHeight - WidthOf(engine, "HH") / 2},
      {"\\pxtr8;A^I{\\C1;HH}", 8 * kHeight - WidthOf(engine, "HH")},
      {"\\pxtd8;A^I{\\C1;12.5}", 8 * kHeight - WidthOf(engine, "12")},
      {"\\pxtd8;A^I{\\C1;125}", 8 * kHeight - WidthOf(engine, "125")},
      // The text runs to the next tab, over spaces and format changes.
      {"\\pxtc10;A^I{\\C1;HH }{\\C2;HH} ^IB", 10 * kHeight - WidthOf(engine, "HH HH") / 2},
      {"\\pxtr3,c8,r12;A^I{\\C1;H}^IB", 3 * kHeight - WidthOf(engine, "H")},
      // A stop of each kind in one paragraph: the second tab goes to the centre stop.
      {"\\pxtr3,c8;A^IB^I{\\C1;HH}", 8 * kHeight - WidthOf(engine, "HH") / 2},
      // Text that cannot be set back far enough starts where the text before it ends.
      {"\\pxtr4;A^I{\\C1;HHHHHH}", WidthOf(engine, "A")},
  };
  for (const Case& c : cases) {
    const auto pieces = Layout(engine, c.text);
    const auto coloured =
        std::find_if(pieces.begin(), pieces.end(), [](const MTextPiece& p) { return p.hasColor; });
    ASSERT_NE(coloured, pieces.end()) << c.text;
    EXPECT_NEAR(coloured->offset.x, c.x, 1e-9) << c.text;
  }
}

TEST(MTextLayout, IndentsAndTabStopsCountInTextHeights) {
  CTextEngine engine;
  // The first line from left + indent, the others from left; the wrap width shrinks with them.
  const double width = WidthOf(engine, "alpha") + 3 * kHeight + 0.01;
  const auto indented = Layout(engine, "\\pi1,l2;alpha beta", 1, width);
  ASSERT_EQ(indented.size(), 2u);
  EXPECT_NEAR(indented[0].offset.x, 3 * kHeight, 1e-9);
  EXPECT_NEAR(indented[1].offset.x, 2 * kHeight, 1e-9);
  const double both = WidthOf(engine, "alpha beta") + 2 * kHeight + 0.01;
  EXPECT_EQ(Baselines(Layout(engine, "\\pl2;alpha beta", 1, both)).size(), 1u);
  EXPECT_EQ(Baselines(Layout(engine, "\\pl2,r1;alpha beta", 1, both)).size(), 2u)
      << "a right indent narrows the lines as well";
  // A bullet list: the bullet hangs out by 3, its tab stop at 4 aligns the text with the
  // following lines. Tab stops count from the box's left side.
  const auto bullets = Layout(engine, "\\pxi-3,l4,t4;A^I{\\C1;B}\\PC");
  ASSERT_EQ(bullets.size(), 3u);
  EXPECT_NEAR(bullets[0].offset.x, 1 * kHeight, 1e-9);
  EXPECT_NEAR(bullets[1].offset.x, 4 * kHeight, 1e-9);
  EXPECT_NEAR(bullets[2].offset.x, 1 * kHeight, 1e-9) << "the setting holds for the next paragraph";
  // Past the paragraph's last stop, the stops of every 4 heights go on.
  const auto stops = Layout(engine, "\\pxt1.5,3;A^I{\\C1;i}^I{\\C2;i}^I{\\C3;D}");
  ASSERT_EQ(stops.size(), 4u);
  EXPECT_NEAR(stops[1].offset.x, 1.5 * kHeight, 1e-9);
  EXPECT_NEAR(stops[2].offset.x, 3 * kHeight, 1e-9);
  EXPECT_NEAR(stops[3].offset.x, 4 * kHeight, 1e-9);
  // "*" and a bare "t" bring the defaults back.
  const auto reset = Layout(engine, "\\pxi2,t1;A\\P\\pi*,t;B^I{\\C1;C}");
  ASSERT_EQ(reset.size(), 3u);
  EXPECT_NEAR(reset[1].offset.x, 0.0, 1e-9);
  EXPECT_NEAR(reset[2].offset.x, 4 * kHeight, 1e-9);
}

TEST(MTextLayout, ColumnsTakeTheLinesThatPassTheirHeight) {
  CTextEngine engine;
  MText mtext = MakeMText("a\\Pb\\Pc\\Pd\\Pe");
  mtext.columnType = 1;
  mtext.columnCount = 2;
  mtext.columnWidth = 10 * kHeight;
  mtext.columnGutter = 2 * kHeight;
  mtext.columnHeight = 3.5 * kHeight;  // two baselines, not three
  const auto pieces = drawing::LayoutMText(mtext, ArialStyle(), engine);
  ASSERT_EQ(pieces.size(), 5u);
  EXPECT_NEAR(pieces[1].offset.y, -kHeight - kSpacing, 1e-9);
  EXPECT_NEAR(pieces[2].offset.x, 12 * kHeight, 1e-9) << "c starts the second column";
  EXPECT_NEAR(pieces[2].offset.y, -kHeight, 1e-9) << "at the top";
  EXPECT_NEAR(pieces[4].offset.x, 12 * kHeight, 1e-9) << "the last static column takes the rest";
  EXPECT_NEAR(pieces[4].offset.y, -kHeight - 2 * kSpacing, 1e-9);
  // A line fits when its baseline does: CAD fills a column 7.09 high with two lines of 2.5,
  // whose second line's descent reaches below it.
  mtext.columnHeight = 7.0885;
  ASSERT_GT(kHeight + kSpacing + kHeight / 3, mtext.columnHeight);
  const auto fitted = drawing::LayoutMText(mtext, ArialStyle(), engine);
  ASSERT_EQ(fitted.size(), 5u);
  EXPECT_NEAR(fitted[1].offset.x, 0.0, 1e-9) << "b stays in the first column";
  EXPECT_NEAR(fitted[2].offset.x, 12 * kHeight, 1e-9);
  mtext.columnHeight = 3.5 * kHeight;
  // Reversed flow puts the first column on the right; a \N breaks a column early.
  mtext.columnFlowReversed = true;
  mtext.text = "a\\Nb";
  const auto reversed = drawing::LayoutMText(mtext, ArialStyle(), engine);
  ASSERT_EQ(reversed.size(), 2u);
  EXPECT_NEAR(reversed[0].offset.x, 12 * kHeight, 1e-9);
  EXPECT_NEAR(reversed[1].offset.x, 0.0, 1e-9);
  EXPECT_NEAR(reversed[1].offset.y, -kHeight, 1e-9);
  // Dynamic columns of their own heights: as many as the text needs.
  mtext.columnType = 2;
  mtext.columnFlowReversed = false;
  mtext.columnAutoHeight = false;
  mtext.columnHeights = {1.5 * kHeight, 10 * kHeight};
  mtext.text = "a\\Pb\\Pc";
  const auto dynamic = drawing::LayoutMText(mtext, ArialStyle(), engine);
  ASSERT_EQ(dynamic.size(), 3u);
  EXPECT_NEAR(dynamic[1].offset.x, 12 * kHeight, 1e-9);
  EXPECT_NEAR(dynamic[2].offset.x, 12 * kHeight, 1e-9);
  EXPECT_NEAR(dynamic[2].offset.y, -kHeight - kSpacing, 1e-9);
}

TEST(MTextLayout, FontAndWidthCodesChangeTheFace) {
  CTextEngine engine;
  const auto times = Layout(engine, "{\\fTimes New Roman|b1|i0|c0|p18;Text}Text");
  ASSERT_EQ(times.size(), 2u);
  EXPECT_NEAR(times[0].shape.width,
              engine.MeasureWidth("Text", "", "Times New Roman", true) * kHeight, 1e-9);
  EXPECT_NEAR(times[1].offset.x, times[0].shape.width, 1e-9);
  EXPECT_NEAR(times[1].shape.width, WidthOf(engine, "Text"), 1e-9) << "the group ends the font";

  const auto shx = Layout(engine, "\\Fromans.shx;Text");
  ASSERT_EQ(shx.size(), 1u);
  EXPECT_NEAR(shx[0].shape.width, engine.MeasureWidth("Text", "romans.shx", "") * kHeight, 1e-9);

  const auto narrow = Layout(engine, "\\W0.5;HH");
  ASSERT_EQ(narrow.size(), 1u);
  EXPECT_NEAR(narrow[0].shape.width, WidthOf(engine, "HH") / 2, 1e-9);
  EXPECT_NEAR(BoxOf(narrow[0].shape).Height(), kHeight, 0.02 * kHeight) << "height unchanged";

  const auto slanted = Layout(engine, "\\Q30;I");
  ASSERT_EQ(slanted.size(), 1u);
  const Box upright = BoxOf(Layout(engine, "I")[0].shape);
  EXPECT_NEAR(BoxOf(slanted[0].shape).maxX - upright.maxX,
              kHeight * std::tan(30 * std::numbers::pi / 180), 0.02);
}

TEST(MTextLayout, StyleWidthFactorAndHeightApply) {
  CTextEngine engine;
  TextStyle style = ArialStyle();
  style.widthFactor = 2.0;
  const auto wide = drawing::LayoutMText(MakeMText("HH"), style, engine);
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_NEAR(wide[0].shape.width, 2 * WidthOf(engine, "HH"), 1e-9);

  style = ArialStyle();
  style.fixedHeight = 4.0;
  MText noHeight = MakeMText("H");
  noHeight.height = 0.0;
  const auto fixed = drawing::LayoutMText(noHeight, style, engine);
  ASSERT_EQ(fixed.size(), 1u);
  EXPECT_NEAR(BoxOf(fixed[0].shape).Height(), 4.0, 0.08);
}

TEST(MTextLayout, BadInputDoesNotFail) {
  CTextEngine engine;
  for (const char* text : {"{\\H2x;abc", "abc}}}",    "{{{{{{{{{{{{{{{{{{{{x",
                           "\\",         "abc\\",     "\\S1/2",
                           "\\S",        "\\S;",      "\\H",
                           "\\H;",       "\\H-3;x",   "\\H1e999;x",
                           "\\W0;x",     "\\C",       "\\C999;x",
                           "\\c",        "\\f",       "\\F;",
                           "\\f|b1;x",   "%%",        "%",
                           "%%1",        "^",         "^^",
                           "\\U+12",     "\\U+D800x", "\\M+1",
                           "\xE2\x82",   "\\P\\P\\P", "\\S\xE2\x82/\xFF;",
                           "\\Q99999;x", "\\p",       "\\~"}) {
    const auto pieces = Layout(engine, text, 5, 3.0);
    for (const MTextPiece& piece : pieces) {
      const Box box = BoxOf(piece);
      EXPECT_TRUE(std::isfinite(box.minX) && std::isfinite(box.maxY) &&
                  std::isfinite(piece.shape.width))
          << text;
    }
  }
  const auto unterminated = Layout(engine, "{\\H2x;H");
  ASSERT_EQ(unterminated.size(), 1u);
  EXPECT_NEAR(BoxOf(unterminated[0].shape).Height(), 2 * kHeight, 0.04 * kHeight);

  MText odd = MakeMText("A\\PB");
  odd.height = std::nan("");
  odd.lineSpacingFactor = -1.0;
  odd.referenceWidth = std::numeric_limits<double>::infinity();
  const auto pieces = drawing::LayoutMText(odd, ArialStyle(), engine);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_NEAR(pieces[0].offset.y - pieces[1].offset.y, 5.0 / 3.0, 1e-9)
      << "height 1 and spacing factor 1 stand in for unusable values";
}

TEST(MTextLayout, RandomCodeSoupDoesNotFail) {
  CTextEngine engine;
  const std::string alphabet = "\\{}%^;|/#PpHhWQCcfFSLlOoKkUNX+x0123456789.- aA\xC3\xA9\xE2\x82";
  std::mt19937 random(4711);
  for (int run = 0; run < 1500; ++run) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % alphabet.size()]);
    const auto pieces =
        Layout(engine, text, 1 + static_cast<int>(random() % 9), (random() % 2) ? 5.0 : 0.0);
    for (const MTextPiece& piece : pieces) {
      ASSERT_TRUE(std::isfinite(piece.offset.x) && std::isfinite(piece.offset.y)) << text;
      for (const auto& contour : piece.shape.contours) {
        ASSERT_GE(contour.size(), 3u) << text;
        for (const Vec2& p : contour) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      }
    }
  }
}

}  // namespace

// ---- Faces given as bytes ---------------------------------------------------------------------

namespace {

// An Embedded OpenType file around font data: the header's sizes, version, flags and magic
// number (the rest of the header zero), the font data XOR-ed with 0x50 when asked.
std::string Eot(std::string font, std::uint32_t flags) {
  if (flags & 0x10000000) {
    for (char& c : font) c = static_cast<char>(c ^ 0x50);
  }
  std::string header(82, '\0');
  const auto put32 = [&header](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) header[at + k] = static_cast<char>(v >> (8 * k) & 0xFF);
  };
  put32(0, static_cast<std::uint32_t>(header.size() + font.size()));
  put32(4, static_cast<std::uint32_t>(font.size()));
  put32(8, 0x00020002);
  put32(12, flags);
  header[34] = 0x4C;
  header[35] = 0x50;
  return header + font;
}

}  // namespace

TEST(TextEngineFontData, AFaceGivenAsBytesServesItsNameFirst) {
  const std::string font =
      testsupport::ReadFile(SystemFont("liberation/LiberationSerif-Regular.ttf"));
  if (font.empty()) GTEST_SKIP() << "no Liberation Serif";
  CTextEngine engine;
  const std::string before = engine.ResolvedFontFile("Drawing Face", "");
  engine.AddFontData("Drawing Face", font);
  EXPECT_EQ(engine.ResolvedFontFile("drawing face", ""), "(Drawing Face)");
  EXPECT_GT(engine.MeasureWidth("Hello", "Drawing Face", ""), 0);
  engine.AddFontData("Plain EOT", Eot(font, 0));
  engine.AddFontData("Hidden EOT", Eot(font, 0x10000005 & ~0x4u));
  EXPECT_EQ(engine.ResolvedFontFile("Plain EOT", ""), "(Plain EOT)");
  EXPECT_EQ(engine.ResolvedFontFile("Hidden EOT", ""), "(Hidden EOT)");
  // Compressed font data and bytes that are no font leave the name to the usual lookup.
  engine.AddFontData("Packed EOT", Eot(font, 0x10000005));
  engine.AddFontData("Garbage", "no font at all, really");
  EXPECT_NE(engine.ResolvedFontFile("Packed EOT", ""), "(Packed EOT)");
  EXPECT_NE(engine.ResolvedFontFile("Garbage", ""), "(Garbage)");
  engine.ForgetFontData();
  EXPECT_EQ(engine.ResolvedFontFile("Drawing Face", ""), before);
}
