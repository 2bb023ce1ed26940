// Draw order tables and gradient fills, from DXF files written by the test through the PDF device
// to the pixels poppler shows.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "drawing/ModelDrawing.h"
#include "drawing/ReadDrawing.h"
#include "drawing/dxf/DxfReader.h"
#include "pdf/PdfDocument.h"
#include "pensets/PenSet.h"
#include "render/PdfExport.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// An R2000 drawing whose model space (block record 1F) holds `entities`, with `objects` (a
// draw order table) at the end. The limits are 0,0 … 100,100.
std::string Drawing2000(const std::string& entities, const std::string& objects = "") {
  return "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$HANDSEED\n5\nFFF\n"
         "9\n$EXTMIN\n10\n0.0\n20\n0.0\n30\n0.0\n9\n$EXTMAX\n10\n100.0\n20\n100.0\n30\n0.0\n"
         "9\n$LIMMIN\n10\n0.0\n20\n0.0\n9\n$LIMMAX\n10\n100.0\n20\n100.0\n0\nENDSEC\n"
         "0\nSECTION\n2\nBLOCKS\n"
         "0\nBLOCK\n5\n20\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbBlockBegin\n2\n*Model_Space\n"
         "70\n0\n10\n0.0\n20\n0.0\n30\n0.0\n3\n*Model_Space\n1\n\n"
         "0\nENDBLK\n5\n21\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbBlockEnd\n"
         "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" +
         entities + "0\nENDSEC\n0\nSECTION\n2\nOBJECTS\n" + objects + "0\nENDSEC\n0\nEOF\n";
}

std::string Square(double x0, double y0, double size) {
  std::string text = "93\n4\n";
  const double xs[] = {x0, x0 + size, x0 + size, x0}, ys[] = {y0, y0, y0 + size, y0 + size};
  for (int i = 0; i < 4; ++i) {
    text += "10\n" + std::to_string(xs[i]) + "\n20\n" + std::to_string(ys[i]) + "\n";
  }
  return text;
}

// A red square hatch of handle `handle` (solid, or a gradient of `gradient` groups).
std::string HatchRecord(const std::string& handle, double x0, double y0, double size,
                        const std::string& gradient = "") {
  return "0\nHATCH\n5\n" + handle +
         "\n330\n1F\n100\nAcDbEntity\n8\n0\n62\n1\n100\nAcDbHatch\n10\n0.0\n20\n0.0\n30\n0.0\n"
         "210\n0.0\n220\n0.0\n230\n1.0\n2\nSOLID\n70\n1\n71\n0\n91\n1\n92\n3\n72\n0\n73\n1\n" +
         Square(x0, y0, size) + "97\n0\n75\n1\n76\n1\n98\n0\n" + gradient;
}

// The groups of a gradient from (r1, g1, b1) to (r2, g2, b2) of the kind `name`.
std::string Gradient(const std::string& name, int c1, int c2, double angle = 0, double shift = 0,
                     bool oneColor = false, double tint = 1.0) {
  return "450\n1\n451\n0\n460\n" + std::to_string(angle) + "\n461\n" + std::to_string(shift) +
         "\n452\n" + (oneColor ? "1" : "0") + "\n462\n" + std::to_string(tint) +
         "\n453\n2\n463\n0.0\n63\n1\n421\n" + std::to_string(c1) + "\n463\n1.0\n63\n5\n421\n" +
         std::to_string(c2) + "\n470\n" + name + "\n";
}

// A wipeout over x0 … x0 + size, y0 … y0 + size.
std::string WipeoutRecord(const std::string& handle, double x0, double y0, double size) {
  return "0\nWIPEOUT\n5\n" + handle +
         "\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbWipeout\n90\n0\n10\n" + std::to_string(x0) +
         "\n20\n" + std::to_string(y0) + "\n30\n0.0\n11\n" + std::to_string(size) +
         "\n21\n0.0\n31\n0.0\n12\n0.0\n22\n" + std::to_string(size) +
         "\n32\n0.0\n13\n1.0\n23\n1.0\n70\n7\n280\n0\n281\n50\n282\n50\n290\n0\n";
}

// A draw order table of model space: pairs of entity and sort handle.
std::string SortTable(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string text =
      "0\nSORTENTSTABLE\n5\n50\n102\n{ACAD_REACTORS\n330\n40\n102\n}\n330\n40\n"
      "100\nAcDbSortentsTable\n330\n1F\n";
  for (const auto& [entity, sort] : pairs) text += "331\n" + entity + "\n5\n" + sort + "\n";
  return text;
}

struct Options {
  int colorType = 0;
  const CPenSet* pens = nullptr;
};

// Converts the DXF text to a PDF of one page of 400 × 400 points showing 0,0 … 100,100 at 4
// points per unit (a page of the window), checks the file and renders it. The page's content
// stream goes to *content when given.
RenderedPage Convert(const TempDir& dir, const std::string& name, const std::string& dxf,
                     Options options = {}, std::string* pdfText = nullptr) {
  const fs::path source = dir / (name + ".dxf");
  WriteFile(source, dxf);
  drawing::CModelDrawing drawing;
  EXPECT_EQ(drawing.OpenFile(source.c_str(), 0), 0) << drawing.LastError();
  CPdfDocument doc;
  doc.PageTreeRoot()->SetMediaBox(400, 400);
  CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
  page->SetMediaBox(400, 400);
  doc.ShareResources(page);
  CPdfExport device;
  device.Document = &doc;
  device.Page = page;
  device.Content = page->AddContentStream(&doc.nextObjectNumber);
  device.SetColorType(options.colorType);
  if (options.pens) {
    device.UsePenTable = true;
    device.PenSet = options.pens;
  }
  drawing.SetOutputSize(400, 400);
  drawing.SetExport(&device);
  const double p1[2] = {0, 0}, p2[2] = {100, 100};
  drawing.ZoomWindow(p1, p2, 400, 400);
  device.BeginPage(0, 0, 0, 400, 400);
  drawing.Draw(0, 0, 0);
  drawing.SetExport(nullptr);
  device.EndPage();
  AddDocumentInformation(doc, {}, "D:20261208000000");
  const fs::path pdf = dir / (name + ".pdf");
  EXPECT_TRUE(doc.Save(pdf.string()));
  EXPECT_TRUE(CheckPdfFile(pdf, PdfShape::Partial)) << name;
  if (pdfText) {
    std::string output;
    RunCommand("qpdf --qdf --object-streams=disable '" + pdf.string() + "' -", output);
    *pdfText = output;
  }
  return RenderAt72Dpi(pdf, dir / name);
}

std::string Hex(const std::array<int, 3>& c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", c[0], c[1], c[2]);
  return text;
}

// How far apart two colours are: the largest channel difference.
int Distance(const std::array<int, 3>& a, const std::array<int, 3>& b) {
  return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

// How many areas a content stream fills by the even-odd rule.
std::size_t Fills(const std::string& content) {
  std::size_t count = 0;
  for (std::size_t at = content.find("f* "); at != std::string::npos;
       at = content.find("f* ", at + 1)) {
    ++count;
  }
  return count;
}

const std::array<int, 3> kRed{255, 0, 0}, kBlue{0, 0, 255};
constexpr int kRedValue = 0xFF0000, kBlueValue = 0x0000FF;  // as group 421 stores them

}  // namespace

TEST(DrawOrder, SortsABlockByTheTableAndKeepsViewportClipsOnTheirEntities) {
  drawing::Block block;
  const std::uint64_t handles[] = {0x10, 0x11, 0x12, 0, 0x13};
  for (int i = 0; i < 5; ++i) {
    drawing::Entity& entity = block.entities.emplace_back();
    entity.layer = i;  // tells the entities apart
  }
  drawing::Viewport view;
  view.clipEntityIndex = 2;
  block.entities[4].data = view;
  // 0x12 and the handle-less entity after it go first, 0x10 last.
  drawing::ApplyDrawOrder(block, {handles, handles + 5}, {{0x12, 0x05}, {0x10, 0x20}});
  std::string order;
  for (const auto& entity : block.entities) order += std::to_string(entity.layer);
  EXPECT_EQ(order, "23140");
  const auto& moved = std::get<drawing::Viewport>(block.entities[3].data);
  EXPECT_EQ(moved.clipEntityIndex, 0) << "the clip entity moved from 2 to 0";

  // Handles that do not match the entities change nothing.
  drawing::ApplyDrawOrder(block, {1, 2}, {{1, 9}});
  order.clear();
  for (const auto& entity : block.entities) order += std::to_string(entity.layer);
  EXPECT_EQ(order, "23140");
}

TEST(DrawOrder, AWipeoutCoversWhatTheTablePutsBelowItAndOnlyThat) {
  TempDir dir;
  // The wipeout (handle 30) comes first in the file, the red square (31) after it: without a
  // table the square is drawn over the wipeout; the table draws the square first.
  const std::string entities = WipeoutRecord("30", 40, 40, 40) + HatchRecord("31", 20, 20, 40);
  const RenderedPage plain = Convert(dir, "plain", Drawing2000(entities));
  ASSERT_EQ(plain.width, 400);
  EXPECT_EQ(Hex(plain.At(200, 200)), "FF0000") << "the square over the wipeout";
  const RenderedPage sorted =
      Convert(dir, "sorted", Drawing2000(entities, SortTable({{"31", "2A"}, {"30", "30"}})));
  ASSERT_EQ(sorted.width, 400);
  EXPECT_EQ(Hex(sorted.At(200, 200)), "FFFFFF") << "the wipeout hides the square below it";
  EXPECT_EQ(Hex(sorted.At(100, 100)), "FF0000") << "the square outside the wipeout";

  // The model keeps the sorted order.
  drawing::Drawing model;
  ASSERT_TRUE(drawing::ReadDxf(ReadFile(dir / "sorted.dxf"), model, nullptr));
  EXPECT_EQ(drawing::FinishModel(model), 0);
  ASSERT_EQ(model.blocks[0].entities.size(), 2u);
  EXPECT_TRUE(model.blocks[0].entities[0].Is<drawing::Hatch>());
  EXPECT_TRUE(model.blocks[0].entities[1].Is<drawing::Wipeout>());
  EXPECT_TRUE(drawing::CheckModel(model).empty());
}

TEST(Gradient, EveryKindBlendsItsTwoColoursWhereItShould) {
  TempDir dir;
  // One 80 × 80 square (320 points on the page) per drawing, from red to blue.
  struct Case {
    const char* kind;
    // Points of the square (0 … 1 each way) and the colour expected there: 0 red, 1 blue.
    std::vector<std::array<double, 3>> samples;
  };
  const std::vector<Case> cases = {
      {"LINEAR", {{0.02, 0.5, 0}, {0.5, 0.5, 0.5}, {0.98, 0.5, 1}, {0.25, 0.1, 0.25}}},
      {"CYLINDER", {{0.02, 0.5, 0.078}, {0.5, 0.5, 1}, {0.98, 0.5, 0.078}, {0.25, 0.9, 0.75}}},
      {"INVCYLINDER", {{0.02, 0.5, 0.922}, {0.5, 0.5, 0}, {0.98, 0.5, 0.922}}},
      {"SPHERICAL", {{0.5, 0.5, 1}, {0.02, 0.02, 0.04}, {0.98, 0.98, 0.04}, {0.5, 0.98, 0.32}}},
      {"INVSPHERICAL", {{0.5, 0.5, 0}, {0.02, 0.02, 0.96}}},
      {"HEMISPHERICAL", {{0.5, 0.02, 1}, {0.02, 0.98, 0}, {0.5, 0.5, 0.55}}},
      {"INVHEMISPHERICAL", {{0.5, 0.02, 0}, {0.98, 0.98, 1}}},
      {"CURVED", {{0.5, 0.02, 1}, {0.5, 0.98, 0.04}, {0.1, 0.5, 0.75}}},
      {"INVCURVED", {{0.5, 0.02, 0}, {0.5, 0.98, 0.96}}},
  };
  for (const Case& c : cases) {
    const RenderedPage page = Convert(
        dir, c.kind,
        Drawing2000(HatchRecord("30", 10, 10, 80, Gradient(c.kind, kRedValue, kBlueValue))));
    ASSERT_EQ(page.width, 400) << c.kind;
    for (const auto& [x, y, share] : c.samples) {
      const auto seen = page.At(40 + 320 * x, 40 + 320 * y);
      const std::array<int, 3> expected{static_cast<int>(std::lround(255 * (1 - share))), 0,
                                        static_cast<int>(std::lround(255 * share))};
      EXPECT_LE(Distance(seen, expected), 8)
          << c.kind << " at " << x << "," << y << ": " << Hex(seen) << " for " << Hex(expected);
    }
    EXPECT_EQ(Hex(page.At(20, 20)), "FFFFFF") << c.kind << ": nothing outside the boundary";
    EXPECT_EQ(Hex(page.At(380, 380)), "FFFFFF") << c.kind << ": nothing outside the boundary";
    // No step of the blend can be seen: neighbouring points differ by a few levels at most.
    for (int y = 45; y < 355; y += 31) {
      for (int x = 41; x < 359; ++x) {
        const int step = Distance(page.At(x, y), page.At(x + 1, y));
        ASSERT_LE(step, 4) << c.kind << " steps at " << x << "," << y;
      }
    }
  }
}

TEST(Gradient, FollowsItsAngleAndShiftAndKeepsIslandsOpen) {
  TempDir dir;
  // Turned a quarter: red at the bottom, blue at the top.
  const RenderedPage turned = Convert(
      dir, "turned",
      Drawing2000(HatchRecord("30", 10, 10, 80,
                              Gradient("LINEAR", kRedValue, kBlueValue, std::numbers::pi / 2))));
  EXPECT_LE(Distance(turned.At(200, 45), kRed), 8) << Hex(turned.At(200, 45));
  EXPECT_LE(Distance(turned.At(200, 355), kBlue), 8) << Hex(turned.At(200, 355));
  // Shifted: the middle colour moves a quarter of the width to the left.
  const RenderedPage shifted = Convert(
      dir, "shifted",
      Drawing2000(HatchRecord("30", 10, 10, 80, Gradient("LINEAR", kRedValue, kBlueValue, 0, 1))));
  EXPECT_LE(Distance(shifted.At(120, 200), {128, 0, 128}), 8) << Hex(shifted.At(120, 200));
  // A square with a square hole: the hole stays paper.
  std::string holed = HatchRecord("30", 10, 10, 80, Gradient("SPHERICAL", kRedValue, kBlueValue));
  holed.replace(holed.find("91\n1\n"), 5, "91\n2\n");
  const std::size_t end = holed.find("75\n1\n");
  holed.insert(end, "92\n3\n72\n0\n73\n1\n" + Square(40, 40, 20) + "97\n0\n");
  const RenderedPage hole = Convert(dir, "hole", Drawing2000(holed));
  EXPECT_EQ(Hex(hole.At(200, 200)), "FFFFFF") << "inside the island";
  EXPECT_LE(Distance(hole.At(150, 200), {60, 0, 195}), 16) << Hex(hole.At(150, 200));
}

TEST(Gradient, OneColourTintsToItsLightnessAndColourModesApply) {
  TempDir dir;
  // A one-colour gradient of 76,95,153 at a tint of 0.77 ends in 176,186,216 (as AutoCAD stores
  // the second colour of such a gradient).
  const std::string tinted =
      Drawing2000(HatchRecord("30", 10, 10, 80, Gradient("LINEAR", 0x4C5F99, 0, 0, 0, true, 0.77)));
  const RenderedPage page = Convert(dir, "tint", tinted);
  EXPECT_LE(Distance(page.At(41, 200), {76, 95, 153}), 4) << Hex(page.At(41, 200));
  EXPECT_LE(Distance(page.At(358, 200), {176, 186, 216}), 4) << Hex(page.At(358, 200));

  // Gray mode: every band gray; black and white: all black, and the white end too.
  const std::string redToWhite =
      Drawing2000(HatchRecord("30", 10, 10, 80, Gradient("LINEAR", kRedValue, 0xFFFFFF)));
  const RenderedPage gray = Convert(dir, "gray", redToWhite, {1});
  for (int x = 45; x < 360; x += 40) {
    const auto c = gray.At(x, 200);
    EXPECT_TRUE(c[0] == c[1] && c[1] == c[2]) << Hex(c);
  }
  EXPECT_LE(Distance(gray.At(358, 200), {254, 254, 254}), 3) << "the white end is paper white";
  const RenderedPage black = Convert(dir, "black", redToWhite, {2});
  EXPECT_EQ(Hex(black.At(45, 200)), "000000");
  EXPECT_EQ(Hex(black.At(355, 200)), "000000");

  // Pens: a pen set that draws every colour in blue draws the whole gradient blue.
  CPenSet pens;
  for (PenEntry& entry : pens.entries) entry.destColor = 5;
  std::string content;
  const RenderedPage penned = Convert(dir, "pens", redToWhite, {0, &pens}, &content);
  EXPECT_EQ(Hex(penned.At(45, 200)), "0000FF");
  EXPECT_EQ(Hex(penned.At(300, 200)), "0000FF");
}

TEST(Gradient, TakesNoMoreBandsThanThePageCanShow) {
  TempDir dir;
  // Red to a red one level darker: one band is enough for each level; and a gradient over a
  // square of 4 points needs no more than 8 bands.
  std::string content;
  Convert(dir, "levels",
          Drawing2000(HatchRecord("30", 10, 10, 80, Gradient("LINEAR", 0xFF0000, 0xFD0000))), {},
          &content);
  EXPECT_GE(Fills(content), 2u);
  EXPECT_LE(Fills(content), 3u);
  Convert(dir, "small",
          Drawing2000(HatchRecord("30", 10, 10, 1, Gradient("LINEAR", kRedValue, kBlueValue))), {},
          &content);
  EXPECT_GE(Fills(content), 4u);
  EXPECT_LE(Fills(content), 8u);
}

TEST(DrawOrderCorpus, TheWallsOfTheWipeoutDoorLieAboveTheDoorItsTablePutsBelowThem) {
  const fs::path file = SharedDir() / "corpus" / "dxf" / "entities" / "ezdxf_wipeout_door.dxf";
  if (SharedDir().empty() || !fs::exists(file)) GTEST_SKIP() << "no shared corpus";
  drawing::Drawing model;
  ASSERT_TRUE(drawing::ReadDxf(ReadFile(file), model, nullptr));
  EXPECT_EQ(drawing::FinishModel(model), 0);
  EXPECT_TRUE(drawing::CheckModel(model).empty());
  // The file stores the wall (a polyline) first and then two doors; its table draws the second
  // door (sort handle 27D) first, then the wall over it, then the first door.
  const auto& entities = model.blocks[0].entities;
  ASSERT_GE(entities.size(), 3u);
  EXPECT_TRUE(entities[0].Is<drawing::Insert>());
  EXPECT_TRUE(entities[1].Is<drawing::Polyline>());
  EXPECT_TRUE(entities[2].Is<drawing::Insert>());
}

TEST(DrawOrderCorpus, DwgFilesDrawInTheOrderOfTheirDxfTwins) {
  const fs::path corpus = SharedDir() / "corpus" / "dwg";
  if (SharedDir().empty() || !fs::is_directory(corpus)) GTEST_SKIP() << "no shared corpus";
  int compared = 0, reordered = 0;
  for (const char* name : {"r2004/acadsharp_sample_AC1018", "r2013/acadsharp_sample_AC1027",
                           "r2010/libredwg_2010_gh209_1", "r2013/libredwg_2013_gh109_1"}) {
    const fs::path dwg = corpus / (std::string(name) + ".dwg");
    fs::path dxf = corpus / (std::string(name) + "_ascii.dxf");
    if (!fs::exists(dxf)) dxf = corpus / (std::string(name) + ".dxf");
    if (!fs::exists(dwg) || !fs::exists(dxf)) continue;
    drawing::Drawing fromDwg, fromDxf;
    ASSERT_TRUE(drawing::ReadDrawing(ReadFile(dwg), fromDwg, nullptr)) << dwg;
    ASSERT_TRUE(drawing::ReadDrawing(ReadFile(dxf), fromDxf, nullptr)) << dxf;
    const auto kinds = [](const drawing::Block& block) {
      std::string text;
      for (const auto& entity : block.entities) text += std::string(entity.KindName()) + " ";
      return text;
    };
    EXPECT_EQ(kinds(fromDwg.blocks[0]), kinds(fromDxf.blocks[0])) << name;
    ++compared;
    // The same DXF file without its tables (renamed to a type no reader knows).
    std::string text = ReadFile(dxf);
    for (std::size_t at = text.find("\nSORTENTSTABLE"); at != std::string::npos;
         at = text.find("\nSORTENTSTABLE", at + 1)) {
      text[at + 1] = 'X';
    }
    drawing::Drawing unsorted;
    ASSERT_TRUE(drawing::ReadDrawing(text, unsorted, nullptr)) << dxf;
    if (kinds(unsorted.blocks[0]) != kinds(fromDxf.blocks[0])) ++reordered;
  }
  EXPECT_GT(compared, 0);
  EXPECT_GT(reordered, 0) << "no table changed the order of model space";
}
