// The library's drawing object on DXF files: opening, layouts, paper, views, and the corpus of
// real drawings converted page by page into PDF.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "drawing/ModelDrawing.h"
#include "pdf/PdfDocument.h"
#include "render/PdfExport.h"
#include "render/TraceExport.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// An R12 drawing: a 10 × 5 line in model space (limits 0,0 … 100,50), and a circle in paper
// space, which makes one paper layout.
const char* kR12 =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n9\n$INSUNITS\n70\n1\n"
    "9\n$LIMMIN\n10\n0.0\n20\n0.0\n9\n$LIMMAX\n10\n100.0\n20\n50.0\n"
    "9\n$PLIMMIN\n10\n0.0\n20\n0.0\n9\n$PLIMMAX\n10\n11.0\n20\n8.5\n9\n$"
    "TILEMODE\n70\n1\n0\nENDSEC\n"
    "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n70\n1\n"
    "0\nLAYER\n2\nWALLS\n70\n0\n62\n1\n6\nCONTINUOUS\n0\nENDTAB\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n"
    "0\nLINE\n8\nWALLS\n10\n0.0\n20\n0.0\n30\n0.0\n11\n10.0\n21\n5.0\n31\n0.0\n"
    "0\nCIRCLE\n8\n0\n67\n1\n10\n5.0\n20\n4.0\n30\n0.0\n40\n1.0\n"
    "0\nENDSEC\n0\nEOF\n";

std::string Write(const TempDir& dir, const std::string& name, const std::string& text) {
  const fs::path path = dir / name;
  WriteFile(path, text);
  return path.string();
}

// Draws the active layout into a trace with the given output size.
std::string Trace(CDrawing& drawing, int width, int height) {
  CTraceExport trace;
  drawing.SetOutputSize(width, height);
  drawing.SetExport(&trace);
  drawing.Draw(0, 0, 0);
  drawing.SetExport(nullptr);
  return trace.text;
}

}  // namespace

TEST(ModelDrawing, RefusesWhatIsNotADrawing) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  EXPECT_NE(drawing.OpenFile((dir / "missing.dxf").c_str(), 0), 0);
  EXPECT_NE(drawing.OpenFile(Write(dir, "text.dxf", "hello, world\n").c_str(), 0), 0);
  EXPECT_NE(drawing.OpenFile(Write(dir, "empty.dxf", "").c_str(), 0), 0);
  EXPECT_EQ(drawing.GetLayoutCount(), 0);
}

TEST(ModelDrawing, KnowsAFormatByItsBytesNotByItsName) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  EXPECT_EQ(drawing.OpenFile(Write(dir, "plan.dwf", kR12).c_str(), 0), 0) << drawing.LastError();
  EXPECT_GT(drawing.GetLayoutCount(), 0);
  EXPECT_NE(drawing.OpenFile(Write(dir, "old.dxf", std::string("AC1015\0\0\0\0\0", 12)).c_str(), 0),
            0);
  EXPECT_EQ(drawing.LastError().rfind("DWG file header: ", 0), 0u) << drawing.LastError();
  EXPECT_EQ(drawing.GetLayoutCount(), 0);
}

TEST(ModelDrawing, DrawingWithoutLayoutObjectsHasModelAndOnePaperLayout) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  const std::string path = Write(dir, "plan.DXF", kR12);
  ASSERT_EQ(drawing.OpenFile(path.c_str(), 0), 0) << drawing.LastError();
  EXPECT_EQ(drawing.GetFileName(), path);
  ASSERT_EQ(drawing.GetLayoutCount(), 2);
  EXPECT_EQ(drawing.GetActiveLayout(), 0);
  EXPECT_FALSE(drawing.IsLayoutSkipped(0));
  EXPECT_FALSE(drawing.IsLayoutSkipped(1));
  EXPECT_TRUE(drawing.IsLayoutSkipped(2)) << "no such layout";
  drawing.SetActiveLayout(1);
  double width = 0, height = 0;
  drawing.GetPaperSize(&width, &height);
  EXPECT_NEAR(width, 11.0, 1e-9) << "inch limits of paper space";
  EXPECT_NEAR(height, 8.5, 1e-9);
  double x1, x2, y1, y2;
  drawing.GetLayoutArea(&x1, &x2, &y1, &y2);
  EXPECT_EQ(x1, 0);
  EXPECT_EQ(x2, 11);
  EXPECT_EQ(y2, 8.5);
}

TEST(ModelDrawing, SkipsASheetWhoseViewportsShowNothing) {
  // Layout "Off" holds only a switched-off viewport, layout "On" a viewport on a layer that
  // does not plot: the first would be a blank page, the second shows model space.
  const std::string viewport =
      "0\nVIEWPORT\n5\n%s\n330\n%s\n100\nAcDbEntity\n67\n1\n8\n%s\n100\nAcDbViewport\n"
      "10\n5.0\n20\n4.0\n30\n0.0\n40\n4.0\n41\n2.0\n68\n%s\n69\n2\n12\n5.0\n22\n2.5\n"
      "45\n5.0\n90\n32768\n";
  auto vp = [&](const char* handle, const char* owner, const char* layer, const char* status) {
    char text[512];
    std::snprintf(text, sizeof text, viewport.c_str(), handle, owner, layer, status);
    return std::string(text);
  };
  const std::string dxf =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n"
      "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n70\n2\n"
      "0\nLAYER\n2\n0\n70\n0\n62\n7\n6\nCONTINUOUS\n"
      "0\nLAYER\n2\nVP\n70\n0\n62\n7\n6\nCONTINUOUS\n290\n0\n0\nENDTAB\n"
      "0\nTABLE\n2\nBLOCK_RECORD\n"
      "0\nBLOCK_RECORD\n5\n1F\n2\n*Model_Space\n340\n22\n"
      "0\nBLOCK_RECORD\n5\nA0\n2\n*Paper_Space\n340\nA1\n"
      "0\nBLOCK_RECORD\n5\nB0\n2\n*Paper_Space0\n340\nB1\n0\nENDTAB\n0\nENDSEC\n"
      "0\nSECTION\n2\nBLOCKS\n"
      "0\nBLOCK\n5\n20\n330\n1F\n8\n0\n2\n*Model_Space\n70\n0\n10\n0.0\n20\n0.0\n30\n0.0\n"
      "0\nENDBLK\n5\n21\n330\n1F\n8\n0\n"
      "0\nBLOCK\n5\nA2\n330\nA0\n8\n0\n2\n*Paper_Space\n70\n0\n10\n0.0\n20\n0.0\n30\n0.0\n"
      "0\nENDBLK\n5\nA3\n330\nA0\n8\n0\n"
      "0\nBLOCK\n5\nB2\n330\nB0\n8\n0\n2\n*Paper_Space0\n70\n0\n10\n0.0\n20\n0.0\n30\n0.0\n" +
      vp("B5", "B0", "0", "0") +
      "0\nENDBLK\n5\nB3\n330\nB0\n8\n0\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n"
      "0\nLINE\n5\n30\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbLine\n"
      "10\n0.0\n20\n0.0\n30\n0.0\n11\n10.0\n21\n5.0\n31\n0.0\n" +
      vp("A5", "A0", "VP", "2") +
      "0\nENDSEC\n"
      "0\nSECTION\n2\nOBJECTS\n0\nDICTIONARY\n5\nC\n3\nACAD_LAYOUT\n350\nD\n"
      "0\nDICTIONARY\n5\nD\n3\nModel\n350\n22\n3\nOn\n350\nA1\n3\nOff\n350\nB1\n"
      "0\nLAYOUT\n5\n22\n100\nAcDbPlotSettings\n100\nAcDbLayout\n1\nModel\n70\n1\n71\n0\n330\n1F\n"
      "0\nLAYOUT\n5\nA1\n100\nAcDbPlotSettings\n44\n279.4\n45\n215."
      "9\n100\nAcDbLayout\n1\nOn\n71\n1\n330\nA0\n"
      "0\nLAYOUT\n5\nB1\n100\nAcDbPlotSettings\n44\n279.4\n45\n215."
      "9\n100\nAcDbLayout\n1\nOff\n71\n2\n330\nB0\n"
      "0\nENDSEC\n0\nEOF\n";
  TempDir dir;
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "sheets.dxf", dxf).c_str(), 0), 0) << drawing.LastError();
  int on = -1, off = -1;
  for (int i = 0; i < drawing.GetLayoutCount(); ++i) {
    if (drawing.GetLayoutName(i) == "On") on = i;
    if (drawing.GetLayoutName(i) == "Off") off = i;
  }
  ASSERT_GE(on, 0);
  ASSERT_GE(off, 0);
  EXPECT_FALSE(drawing.IsLayoutSkipped(on));
  EXPECT_TRUE(drawing.IsLayoutSkipped(off));
  EXPECT_EQ(drawing.TakeWarnings(),
            std::vector<std::string>{"the layout \"Off\" is empty and gives no page"});
  drawing.SetActiveLayout(on);
  EXPECT_NE(Trace(drawing, 792, 612).find("LINE"), std::string::npos)
      << "the viewport shows model space although its layer does not plot";
}

TEST(ModelDrawing, FontsThatAreNotFoundAndExternalReferencesAreWarnings) {
  // A text in a style whose font no computer has, one in a style of a font that is found by
  // its metrics (no warning), and a reference to another drawing, which is not read in.
  const std::string dxf =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"
      "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nSTYLE\n70\n2\n"
      "0\nSTYLE\n2\nODD\n70\n0\n40\n0.0\n41\n1.0\n3\nno-such-font.shx\n"
      "0\nSTYLE\n2\nPLAIN\n70\n0\n40\n0.0\n41\n1.0\n3\narial.ttf\n0\nENDTAB\n0\nENDSEC\n"
      "0\nSECTION\n2\nBLOCKS\n"
      "0\nBLOCK\n8\n0\n2\nSITE\n70\n4\n10\n0.0\n20\n0.0\n30\n0.0\n1\nsite.dwg\n"
      "0\nENDBLK\n8\n0\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n"
      "0\nTEXT\n8\n0\n10\n0.0\n20\n0.0\n30\n0.0\n40\n2.5\n1\nNorth\n7\nODD\n"
      "0\nTEXT\n8\n0\n10\n0.0\n20\n5.0\n30\n0.0\n40\n2.5\n1\nSouth\n7\nPLAIN\n"
      "0\nINSERT\n8\n0\n2\nSITE\n10\n0.0\n20\n0.0\n30\n0.0\n"
      "0\nENDSEC\n0\nEOF\n";
  TempDir dir;
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "fonts.dxf", dxf).c_str(), 0), 0) << drawing.LastError();
  Trace(drawing, 792, 612);
  const std::vector<std::string> warnings = drawing.TakeWarnings();
  ASSERT_EQ(warnings.size(), 2u) << ::testing::PrintToString(warnings);
  EXPECT_EQ(warnings[0], "the external reference \"SITE\" is not drawn");
  EXPECT_EQ(warnings[1].rfind("the font \"no-such-font.shx\" is not found; \"", 0), 0u)
      << warnings[1];
  EXPECT_TRUE(warnings[1].ends_with("\" stands in for it")) << warnings[1];
}

TEST(ModelDrawing, ZoomExtentsFitsWhatIsDrawnAndZoomWindowTheWindow) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "plan.dxf", kR12).c_str(), 0), 0);
  // The 10 × 5 line fills 200 × 200 at 20 points per unit, centred vertically.
  drawing.ZoomExtents(0, 0, 1.0);
  std::string trace = Trace(drawing, 200, 200);
  EXPECT_NE(trace.find("SetColor ff0000 1\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("MoveTo 0 50\nLineTo 200 150\n"), std::string::npos) << trace;
  drawing.ZoomExtents(0, 0, 0.5);
  trace = Trace(drawing, 200, 200);
  EXPECT_NE(trace.find("MoveTo 50 75\nLineTo 150 125\n"), std::string::npos) << trace;
  const double p1[3] = {0, 0, 0}, p2[3] = {20, 20, 0};
  drawing.ZoomWindow(p1, p2, 200, 200);
  trace = Trace(drawing, 200, 200);
  EXPECT_NE(trace.find("MoveTo 0 0\nLineTo 100 50\n"), std::string::npos) << trace;
}

TEST(ModelDrawing, ConstructionLinesAloneAreFittedAroundTheirBasePoints) {
  TempDir dir;
  const std::string rays =
      "0\nSECTION\n2\nENTITIES\n"
      "0\nXLINE\n8\n0\n10\n1000.0\n20\n1000.0\n30\n0.0\n11\n1.0\n21\n0.0\n31\n0.0\n"
      "0\nRAY\n8\n0\n10\n1010.0\n20\n1010.0\n30\n0.0\n11\n0.0\n21\n-1.0\n31\n0.0\n"
      "0\nENDSEC\n0\nEOF\n";
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "rays.dxf", rays).c_str(), 0), 0);
  drawing.ZoomExtents(0, 0, 1.0);
  // The box of x 999–1010, y 1000–1010 fills the width (240/11 points per unit) and is centred
  // vertically: the line crosses the page at the box's foot, the ray runs down from its top at
  // the right edge.
  const std::string trace = Trace(drawing, 240, 240);
  EXPECT_NE(trace.find("MoveTo -1 10.909\nLineTo 241 10.909\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("MoveTo 240 229.091\nLineTo 240 -1\n"), std::string::npos) << trace;
}

TEST(ModelDrawing, PaperLayoutShowsItsSheetAtRealSize) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "plan.dxf", kR12).c_str(), 0), 0);
  drawing.SetActiveLayout(1);
  const std::string trace = Trace(drawing, 792, 612);
  // A circle of radius 1 inch at (5, 4) inches.
  EXPECT_NE(trace.find("Arc 360 288 72 0 6.283\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("LINE"), std::string::npos) << "model space is not on the sheet";
}

TEST(ModelDrawing, DegenerateOutputSizesDrawNothing) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  ASSERT_EQ(drawing.OpenFile(Write(dir, "plan.dxf", kR12).c_str(), 0), 0);
  drawing.ZoomExtents(0, 0, 0.98);
  EXPECT_EQ(Trace(drawing, 0, 100), "");
  EXPECT_EQ(Trace(drawing, -50, -50), "");
  const double p[3] = {3, 3, 0};
  drawing.ZoomWindow(p, p, 100, 100);  // a window without area
  EXPECT_NE(Trace(drawing, 100, 100), "");
}

// Every drawing of the corpus opens and every layout converts into a valid PDF page.
TEST(ModelDrawingCorpus, EveryLayoutOfEveryDrawingConverts) {
  const fs::path corpus = SharedDir() / "corpus" / "dxf";
  if (SharedDir().empty() || !fs::is_directory(corpus)) GTEST_SKIP() << "no shared corpus";
  TempDir dir;
  int files = 0, pages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (entry.path().extension() != ".dxf") continue;
    ++files;
    drawing::CModelDrawing drawing;
    ASSERT_EQ(drawing.OpenFile(entry.path().c_str(), 0), 0)
        << entry.path() << ": " << drawing.LastError();
    CPdfDocument doc;
    doc.PageTreeRoot()->SetMediaBox(842, 595);
    for (int i = 0; i < drawing.GetLayoutCount(); ++i) {
      if (drawing.IsLayoutSkipped(i)) continue;
      drawing.SetActiveLayout(i);
      CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
      page->SetMediaBox(842, 595);
      doc.ShareResources(page);
      CPdfExport device;
      device.Document = &doc;
      device.Page = page;
      device.Content = page->AddContentStream(&doc.nextObjectNumber);
      device.OffsetX = device.OffsetY = 14;
      device.WidthDivisor = 2;
      drawing.SetOutputSize(814, 567);
      drawing.SetExport(&device);
      drawing.ZoomExtents(0, 0, 0.98);
      device.BeginPage(0, 0, 0, 842, 595);
      drawing.Draw(0, 0, 0);
      drawing.SetExport(nullptr);
      device.EndPage();
      ++pages;
    }
    AddDocumentInformation(doc, {}, "D:20261208000000");
    const fs::path pdf = dir / (entry.path().stem().string() + ".pdf");
    ASSERT_TRUE(doc.Save(pdf.string()));
    EXPECT_TRUE(CheckPdfFile(pdf)) << entry.path();
  }
  EXPECT_GE(files, 40);
  std::printf("corpus: %d drawings, %d pages\n", files, pages);
}

TEST(ModelDrawing, TheEmptyModelSpaceOfADrawingOfSheetsIsNoPage) {
  TempDir dir;
  drawing::CModelDrawing drawing;
  const std::string sheet =
      "(W2D V06.00)(PlotInfo show 0 in 11 8.5 0 0 11 8.5 ((0.001 0 0)(0 0.001 0)(0 0 1)))"
      "L 0,0 1000,1000 (EndOfDWF)";
  ASSERT_EQ(drawing.OpenFile(Write(dir, "sheet.w2d", sheet).c_str(), 0), 0) << drawing.LastError();
  ASSERT_EQ(drawing.GetLayoutCount(), 2);
  EXPECT_TRUE(drawing.IsLayoutSkipped(0)) << "model space";
  EXPECT_FALSE(drawing.IsLayoutSkipped(1)) << "the sheet";
  EXPECT_EQ(drawing.GetActiveLayout(), 1);
  double width = 0, height = 0;
  drawing.GetPaperSize(&width, &height);
  EXPECT_DOUBLE_EQ(width, 11);
  EXPECT_DOUBLE_EQ(height, 8.5);
  // A DXF drawing's empty model space stays a page, as before.
  ASSERT_EQ(drawing.OpenFile(Write(dir, "r12.dxf", kR12).c_str(), 0), 0);
  EXPECT_FALSE(drawing.IsLayoutSkipped(0));
}
