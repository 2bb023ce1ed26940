// Page set-up: points from the settings, page size per layout, the view per Area, the
// device's width divisor, and the names of the files written.
#include <gtest/gtest.h>

#include <memory>

#include "convert/ConvertSettings.h"
#include "convert/OutputNames.h"
#include "convert/PageSetup.h"
#include "tests/convert/ScriptedDrawing.h"

namespace {

PageSetup PageOf(int units, double width, double height, double margin) {
  CConvertSettings s;
  s.Units = static_cast<PaperUnit>(units);
  s.PdfWidth = width;
  s.PdfHeight = height;
  s.Margin = margin;
  return ComputePageSetup(s);
}

struct OpenScripted {
  std::unique_ptr<CDrawing, void (*)(CDrawing*)> drawing{CDrawing::CreateDrawing(),
                                                         CDrawing::DeleteDrawing};
  explicit OpenScripted(scripted::File file) {
    scripted::Reset();
    scripted::Script().files["/d.dxf"] = std::move(file);
    EXPECT_EQ(drawing->OpenFile("/d.dxf", 0), 0);
    scripted::Script().calls.clear();
  }
};

}  // namespace

TEST(PageSetup, TruncatesTheSettingsToWholePoints) {
  const struct {
    int units;
    double width, height, margin;
    std::int32_t w, h, m;
    bool valid;
  } cases[] = {
      {1, 297, 210, 0, 841, 595, 0, true},
      {0, 8.5, 11, 0, 612, 792, 0, true},
      {1, 297, 210, 10, 841, 595, 28, true},
      {5, 297, 210, 0, 841, 595, 0, true},  // any non-zero unit is millimetres
      {1, 0.01, 210, 0, 0, 595, 0, false},
      {1, 297, 0, 0, 841, 0, 0, false},
      {1, -10, 210, 0, -28, 595, 0, false},
      {0, 0.01, 0.02, -1, 0, 1, -72, false},
      {1, 1e300, 210, 0, INT32_MAX, 595, 0, true},
  };
  for (const auto& c : cases) {
    const PageSetup p = PageOf(c.units, c.width, c.height, c.margin);
    EXPECT_EQ(p.width, c.w) << c.width << " in units " << c.units;
    EXPECT_EQ(p.height, c.h) << c.height << " in units " << c.units;
    EXPECT_EQ(p.margin, c.m) << c.margin << " in units " << c.units;
    EXPECT_EQ(IsPageSetupValid(p), c.valid) << c.width << " x " << c.height;
  }
}

TEST(PageSetup, DerivesTheWidthDivisorFromTheResolution) {
  const std::pair<int, int> cases[] = {{72, 1},  {96, 1},  {120, 1},   {150, 2}, {200, 2},
                                       {300, 4}, {600, 8}, {1200, 16}, {100, 1}, {40, 0}};
  for (const auto& [dpi, divisor] : cases) EXPECT_EQ(WidthDivisorFor(dpi), divisor) << dpi;
}

TEST(PageSetup, TakesAPaperLayoutsOwnSizeOnlyWhenAsked) {
  scripted::File file = scripted::MakeFile({"Layout1"});
  file.layouts[1].paperWidth = 11;
  file.layouts[1].paperHeight = 8.5;
  OpenScripted open(file);
  const PageSetup run{841, 595, 0};
  std::int32_t w, h;
  bool adjusted;

  open.drawing->SetActiveLayout(1);
  LayoutPageSize(*open.drawing, 1, true, run, &w, &h, &adjusted);
  EXPECT_EQ(w, 792);
  EXPECT_EQ(h, 612);
  EXPECT_TRUE(adjusted);

  LayoutPageSize(*open.drawing, 1, false, run, &w, &h, &adjusted);
  EXPECT_EQ(w, 841);
  EXPECT_EQ(h, 595);
  EXPECT_FALSE(adjusted);

  LayoutPageSize(*open.drawing, 0, true, run, &w, &h, &adjusted);
  EXPECT_EQ(w, 841) << "model space keeps the run's size";
  EXPECT_FALSE(adjusted);
}

TEST(PageSetup, UsesTheLibrarysPaperEvenWhenItIsNotPositive) {
  scripted::File file = scripted::MakeFile({"Empty"});
  file.layouts[1].paperWidth = 0;
  file.layouts[1].paperHeight = -2;
  OpenScripted open(file);
  open.drawing->SetActiveLayout(1);
  std::int32_t w, h;
  bool adjusted;
  LayoutPageSize(*open.drawing, 1, true, PageSetup{841, 595, 0}, &w, &h, &adjusted);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, -144);
}

TEST(PageSetup, SetsTheViewByArea) {
  scripted::File file = scripted::MakeFile({"Layout1"});
  file.layouts[1].area[0] = 0;    // x1
  file.layouts[1].area[1] = 400;  // x2
  file.layouts[1].area[2] = 100;  // y1
  file.layouts[1].area[3] = 300;  // y2
  const struct {
    int area;
    double scale;
    int layout;
    bool single;
    std::vector<std::string> calls;
  } cases[] = {
      {1, 0.98, 1, false, {"ZoomExtents 0.98"}},
      {1, 0.5, 0, true, {"ZoomExtents 0.5"}},
      {2, 0.98, 0, false, {"ZoomExtents 0.98"}},
      {2, 0.98, 0, true, {"ZoomExtents 0.98"}},
      // A range of layouts fits the layout's area exactly ...
      {2, 0.5, 1, false, {"ZoomWindow 0 100 400 300 841 595"}},
      // ... one layout alone shows a window 1 / Scale times the area, about its centre.
      {2, 0.5, 1, true, {"ZoomWindow -200 0 600 400 841 595"}},
      {0, 0.98, 1, true, {}},
      {7, 0.98, 1, false, {}},
      {-1, 0.98, 0, false, {}},
  };
  for (const auto& c : cases) {
    OpenScripted open(file);
    open.drawing->SetActiveLayout(c.layout);
    scripted::Script().calls.clear();
    CConvertSettings s;
    s.Area = static_cast<AreaChoice>(c.area);
    s.Scale = c.scale;
    SetUpView(*open.drawing, s, c.layout, c.single, 841, 595);
    EXPECT_EQ(scripted::Script().calls, c.calls)
        << "Area " << c.area << " layout " << c.layout << (c.single ? " alone" : " in a range");
  }
}

TEST(PageSetup, ScalesALayoutWindowAboutItsCentre) {
  double p1[3], p2[3];
  ScaledLayoutWindow(10, 30, 0, 10, 0.98, p1, p2);
  EXPECT_DOUBLE_EQ(p1[0], 20 - 10 / 0.98);
  EXPECT_DOUBLE_EQ(p1[1], 5 - 5 / 0.98);
  EXPECT_DOUBLE_EQ(p2[0], 20 + 10 / 0.98);
  EXPECT_DOUBLE_EQ(p2[1], 5 + 5 / 0.98);
  EXPECT_EQ(p1[2], 0.0);
  EXPECT_EQ(p2[2], 0.0);
}

TEST(OutputNames, NamesTheFileOfADrawing) {
  const struct {
    const char* drawing;
    const char* target;
    const char* expected;
  } cases[] = {
      {"/work/plan.dwg", "", "/work/plan.pdf"},
      {"/work/plan.dwg", "/out/", "/out/plan.pdf"},
      {"/work/plan.DXF", "/out/", "/out/plan.pdf"},
      {"/work/plan", "", "/work/plan.pdf"},
      {"/work/v1.2/plan", "", "/work/v1.2/plan.pdf"},
      {"/work/plan.tar.dxf", "rel/", "rel/plan.tar.pdf"},
      {"plan.dxf", "", "plan.pdf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DrawingPdfName(c.drawing, c.target), c.expected) << c.drawing << " in " << c.target;
  }
}

TEST(OutputNames, PutsTheLayoutNameBeforeTheExtension) {
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", "Layout1"), "/out/plan-Layout1.pdf");
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", "Model"), "/out/plan-Model.pdf");
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", "Sheet 1 (A3)"), "/out/plan-Sheet 1 (A3).pdf");
}

TEST(OutputNames, KeepsALayoutNameFromLeavingTheFolder) {
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", "../../etc/x"), "/out/plan-.._.._etc_x.pdf");
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", "a\\b"), "/out/plan-a_b.pdf");
  EXPECT_EQ(LayoutPdfName("/out/plan.pdf", std::string("t\ta\nb\x7f", 6)), "/out/plan-t_a_b_.pdf");
  EXPECT_EQ(SafeFileNamePart("Grundri\xc3\x9f"), "Grundri\xc3\x9f") << "other bytes stay";
  EXPECT_EQ(SafeFileNamePart(""), "");
}

TEST(OutputNames, GivesTheMergedFileAPdfExtension) {
  EXPECT_EQ(MergedPdfName("/out/all"), "/out/all.pdf");
  EXPECT_EQ(MergedPdfName("/out/all.PDF"), "/out/all.PDF");
  EXPECT_EQ(MergedPdfName("/out/all.pdf"), "/out/all.pdf");
  EXPECT_EQ(MergedPdfName("/out/all.txt"), "/out/all.pdf");
  EXPECT_EQ(MergedPdfName("/out.d/all"), "/out.d/all.pdf");
  EXPECT_TRUE(HasPdfExtension("x.Pdf"));
  EXPECT_FALSE(HasPdfExtension("x.pdfx"));
  EXPECT_FALSE(HasPdfExtension("pdf"));
}

TEST(OutputNames, EndsAFolderWithOneSeparator) {
  EXPECT_EQ(WithTrailingSeparator(""), "");
  EXPECT_EQ(WithTrailingSeparator("/out"), "/out/");
  EXPECT_EQ(WithTrailingSeparator("/out/"), "/out/");
}

TEST(PageSetup, RefusesPagesThatCannotShowADrawing) {
  struct Case {
    PageSetup page;
    std::int32_t quality;
    const char* problem;  // a word of the message, or null for none
  };
  const Case cases[] = {
      {{841, 595, 0}, 200, nullptr},
      {{14400, 14400, 7199}, 2400, nullptr},
      {{0, 595, 0}, 200, "greater than 0"},
      {{14401, 595, 0}, 200, "at most 14400"},
      {{841, INT32_MAX, 0}, 200, "at most 14400"},
      {{841, 595, 298}, 200, "margin"},  // 2 × 298 leaves nothing of 595
      {{841, 595, INT32_MAX}, 200, "margin"},
      {{841, 595, -1}, 200, "margin"},
      {{841, 595, 0}, 2401, "2400"},
  };
  for (const Case& c : cases) {
    const char* problem = PageSetupProblem(c.page, c.quality);
    if (!c.problem) {
      EXPECT_EQ(problem, nullptr) << c.page.width << "x" << c.page.height << " " << c.page.margin;
    } else {
      ASSERT_NE(problem, nullptr) << c.page.width << "x" << c.page.height << " " << c.page.margin;
      EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
    }
  }
}
