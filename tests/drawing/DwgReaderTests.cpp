// The DWG reader on the shared corpus of real drawings (skipped when it is absent): every
// drawing reads into a sound model, and a drawing with a DXF twin reads into the model the
// DXF reader makes of the twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ModelComparison.h"
#include "drawing/Model.h"
#include "drawing/ReadDrawing.h"
#include "drawing/dwg/DwgReader.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace drawing;
namespace fs = std::filesystem;

// The DWG files of the corpus in the releases the reader knows.
std::vector<fs::path> CorpusDrawings() {
  std::vector<fs::path> files;
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) return files;
  for (const char* folder :
       {"pre-r13", "r13", "r14", "r2000", "r2004", "r2007", "r2010", "r2013", "r2018"}) {
    const fs::path dir = shared / "corpus" / "dwg" / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".dwg") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The DXF file of the same drawing, or empty.
fs::path TwinOf(const fs::path& dwg) {
  for (const char* suffix : {".dxf", "_ascii.dxf"}) {
    fs::path twin = dwg.parent_path() / (dwg.stem().string() + suffix);
    if (fs::exists(twin)) return twin;
  }
  return {};
}

// Where a twin differs from its DWG file for reasons of the DXF file (or the DXF reader), not
// of the DWG reader: differences whose key starts with one of `keys`, in files whose name
// contains `file`.
struct CKnownDifference {
  const char* file;
  std::vector<const char*> keys;
  const char* reason;
};

// R13 and R14 DXF files have no layouts, tables, arc dimensions, lights or multileaders.
const std::vector<const char*> kBeforeLayouts = {"layout ",
                                                 "block *paper_space0:",
                                                 "block *x",
                                                 "block *u:",
                                                 "*model_space ACAD_TABLE: count",
                                                 "*model_space DIMENSION: count",
                                                 "*model_space INSERT: count",
                                                 "skipped LIGHT",
                                                 "skipped MULTILEADER",
                                                 "skipped ACAD_PROXY_ENTITY"};
constexpr const char* kBeforeLayoutsReason =
    "R13 and R14 DXF files have no LAYOUT objects, tables, arc dimensions, lights or "
    "multileaders: their writer left out the layouts and lights, wrote tables and arc "
    "dimensions as block references and a multileader as a proxy entity";

const std::vector<CKnownDifference>& KnownDifferences() {
  static const std::vector<CKnownDifference> known = {
      {"libredwg_",
       {"active view: "},
       "the *ACTIVE VPORT of the twins LibreDWG's maintainer saved has another height and centre "
       "than the DWG's (the AutoCAD twins agree with the DWG)"},
      {"libredwg_",
       {"header: $EXTMIN", "header: $EXTMAX"},
       "the same twins carry extents their writer computed"},
      {"libredwg_",
       {"*paper_space0 VIEWPORT: id", "*paper_space0 VIEWPORT: on"},
       "their writer numbers a viewport outside *Paper_Space 0 and writes it off"},
      {"libredwg_2000_PolyLine2D",
       {"*paper_space", "layout model: scale denominator"},
       "this twin's numbers are rounded to six decimals"},
      {"libredwg_2010_gh209_1", {"header: $DWGCODEPAGE"}, "the twin names another code page"},
      {"libredwg_2013_gh109_1",
       {"header: $DWGCODEPAGE", "linetype dote: description"},
       "the twin names another code page; a DXF value loses its trailing blank"},
      {"libredwg_2018_Leader",
       {"layer 0 @ 1", "*model_space LEADER: layer"},
       "the twin has a layer \"0 @ 1\" that the DWG file does not have"},
      {"_r14",
       {"*model_space MULTILEADER: count", "*model_space HATCH: count", "*model_space LINE: count",
        "*model_space TEXT: count"},
       "the DXF twin keeps its multileader as a proxy entity, drawn from its graphics (lines, a "
       "hatch for the arrowhead, text); the DWG file's multileader is read as one"},
      {"_r13", kBeforeLayouts, kBeforeLayoutsReason},
      {"_r14", kBeforeLayouts, kBeforeLayoutsReason},
      {"libredwg_r11_entities",
       {"*d2 LINE: start", "*d2 LINE: end", "*d2 SOLID: corner", "*model_space TRACE: corner",
        "active view: centre", "active view: aspect ratio", "header: $EXTMIN", "header: $EXTMAX",
        "layout model: extents"},
       "these twins' numbers are rounded to six decimals: the dimension's block, the trace's "
       "corners, the extents and the view"},
      {"libredwg_r11_entities",
       {"header: $PSLTSCALE"},
       "these twins have no $PSLTSCALE, so the DXF reader takes 1; the DWG files store 0"},
      {"libredwg_r10_",
       {"active view: centre", "active view: aspect ratio", "active view: height"},
       "this twin's view is rounded to six decimals"},
      {"libredwg_r10_",
       {"header: $EXTMIN", "header: $EXTMAX", "layout model: extents"},
       "DXF files of R10 give the extents in two dimensions (the DWG's z is 0)"},
      {"libredwg_r2.10_",
       {"header: $EXTMIN", "header: $EXTMAX", "layout model: extents"},
       "DXF files of R2.10 give the extents in two dimensions (the DWG's z is 0)"},
      {"libredwg_r2.10_",
       {"active view: present"},
       "DXF files of R2.10 have no VPORT table; the DWG file's header keeps the current view"},
      {"libredwg_2013_gh109_1",
       {"skipped "},
       "the twin's writer wrote the entities of the TCH_ classes (an add-on's) as proxy "
       "entities; the DWG file names their classes, by which the reader counts the two that "
       "keep no graphics"},
      {"libredwg_2013_gh109_1",
       {"*model_space TEXT: style"},
       "the twin's writer wrote the graphics of the window labels again, without their font: "
       "the DWG file names simplex.shx there, the font of the style _TCH_DIM"},
      {"",
       {"*model_space SPLINE: control point", "*model_space SPLINE: knot",
        "*model_space SPLINE: fit point count"},
       "a spline the DWG file keeps by fit points gets its control points from us; where the "
       "file gives no end tangent or spaces the fit points other than by distance, CAD's "
       "choices of end and knots differ from ours (the DXF writer also drops the fit points)"},
      {"acadsharp_",
       {"layer color_125_33_79: colour"},
       "the palette index of a true colour is CAD's nearest, which ours is not in every case"},
      {"acadsharp_sample_AC1032",
       {"*model_space INSERT ATTRIB ATTRIB: generation flags",
        "*model_space INSERT ATTRIB ATTRIB: text"},
       "the DXF reader leaves out the embedded MTEXT of a multi-line attribute and takes its "
       "group 71 for the generation flags"},
      {"acadsharp_sample_AC1032",
       {"*model_space MTEXT: column"},
       "the twin's writer kept the column settings of the texts in their extended data, as "
       "files before R2018 keep them; the DWG file has none there nor with the text"},
  };
  return known;
}

bool IsKnown(const std::string& file, const std::string& key) {
  for (const CKnownDifference& known : KnownDifferences()) {
    if (file.find(known.file) == std::string::npos) continue;
    for (const char* prefix : known.keys) {
      if (key.rfind(prefix, 0) == 0) return true;
    }
  }
  return false;
}

TEST(DwgCorpus, EveryDrawingReadsIntoASoundModel) {
  const std::vector<fs::path> files = CorpusDrawings();
  if (files.empty()) GTEST_SKIP() << "the shared corpus is absent";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = testsupport::ReadFile(file);
    Drawing drawing;
    std::string error;
    ASSERT_TRUE(ReadDwg(bytes, drawing, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(FinishModel(drawing), 0) << "FinishModel had to mend references";
    const std::vector<std::string> broken = CheckModel(drawing);
    EXPECT_TRUE(broken.empty()) << broken.front();
  }
}

TEST(DwgCorpus, TwinsReadIntoTheModelOfTheirDxf) {
  const std::vector<fs::path> files = CorpusDrawings();
  if (files.empty()) GTEST_SKIP() << "the shared corpus is absent";
  for (const fs::path& file : files) {
    const fs::path twin = TwinOf(file);
    if (twin.empty()) continue;
    SCOPED_TRACE(file.filename().string());
    Drawing fromDwg, fromDxf;
    std::string error;
    ASSERT_TRUE(ReadDrawingFile(file.string(), fromDwg, &error)) << error;
    ASSERT_TRUE(ReadDrawingFile(twin.string(), fromDxf, &error)) << error;
    const std::vector<modeltest::CDifference> differences =
        modeltest::CompareModels(fromDxf, fromDwg);
    std::string report;
    for (const modeltest::CDifference& difference : differences) {
      if (IsKnown(file.filename().string(), difference.key)) continue;
      report += "\n  " + difference.key + ": " + difference.detail;
    }
    EXPECT_TRUE(report.empty()) << file.filename().string() << report;
  }
}

// The twin of the R1.4 drawing is a text dump of the interchange form of its day: a line
// "NAME,1" opens each item, the lines after it hold its numbers (comma-separated, six
// decimals) or its text.
struct CDumpItem {
  std::string name;
  std::vector<double> numbers;
  std::vector<std::string> texts;
};

std::vector<CDumpItem> ReadDump(const std::string& text) {
  std::vector<CDumpItem> items;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t comma = line.find(',');
    const bool opens = comma != std::string::npos && line.substr(comma) == ",1" &&
                       std::all_of(line.begin(), line.begin() + static_cast<long>(comma),
                                   [](char c) { return c >= 'A' && c <= 'Z'; });
    if (opens) {
      items.push_back({line.substr(0, comma), {}, {}});
      continue;
    }
    if (items.empty()) continue;
    const bool numeric = !line.empty() && line.find_first_not_of("0123456789.,-") == line.npos;
    if (!numeric) {
      items.back().texts.push_back(line);
      continue;
    }
    std::istringstream values(line);
    std::string value;
    while (std::getline(values, value, ',')) {
      if (!value.empty()) items.back().numbers.push_back(std::stod(value));
    }
  }
  return items;
}

// Six decimals.
void ExpectNear(double expected, double actual, const std::string& what) {
  EXPECT_NEAR(actual, expected, 5e-6 * std::max(1.0, std::fabs(expected))) << what;
}

// Checks the entities of a group of dump items against those of a block, in order.
class CDumpChecker {
 public:
  CDumpChecker(const Drawing& drawing, const std::vector<CDumpItem>& items)
      : drawing(drawing), items(items) {}

  // Checks items from `item` on against `block`, up to `end` (an item name) or the end.
  void Check(std::size_t& item, const Block& block, const char* end) {
    std::size_t entity = 0;
    auto next = [&](const char* kind) -> const Entity* {
      if (entity >= block.entities.size()) {
        ADD_FAILURE() << block.name << " lacks the " << kind << " of the dump";
        return nullptr;
      }
      const Entity& e = block.entities[entity++];
      EXPECT_STREQ(e.KindName(), kind) << block.name << " entity " << entity;
      return e.KindName() == std::string(kind) ? &e : nullptr;
    };
    for (; item < items.size(); ++item) {
      const CDumpItem& it = items[item];
      const std::vector<double>& n = it.numbers;
      const std::string at =
          block.name + " " + it.name + " (dump item " + std::to_string(item) + ")";
      if (end && it.name == end) return;
      if (it.name == "POINT" && n.size() == 2) {
        if (const Entity* e = next("POINT")) {
          ExpectNear(n[0], std::get<drawing::Point>(e->data).position.x, at);
          ExpectNear(n[1], std::get<drawing::Point>(e->data).position.y, at);
        }
      } else if (it.name == "LINE" && n.size() == 4) {
        if (const Entity* e = next("LINE")) {
          const Line& line = std::get<Line>(e->data);
          ExpectNear(n[0], line.start.x, at);
          ExpectNear(n[1], line.start.y, at);
          ExpectNear(n[2], line.end.x, at);
          ExpectNear(n[3], line.end.y, at);
        }
      } else if (it.name == "CIRCLE" && n.size() == 3) {
        if (const Entity* e = next("CIRCLE")) {
          const Circle& circle = std::get<Circle>(e->data);
          ExpectNear(n[0], circle.center.x, at);
          ExpectNear(n[1], circle.center.y, at);
          ExpectNear(n[2], circle.radius, at);
        }
      } else if (it.name == "ARC" && n.size() == 5) {
        if (const Entity* e = next("ARC")) {
          const Arc& arc = std::get<Arc>(e->data);
          ExpectNear(n[0], arc.center.x, at);
          ExpectNear(n[1], arc.center.y, at);
          ExpectNear(n[2], arc.radius, at);
          ExpectNear(n[3], arc.startAngle, at);
          ExpectNear(n[4], arc.endAngle, at);
        }
      } else if (it.name == "TEXT" && n.size() == 4 && it.texts.size() == 1) {
        if (const Entity* e = next("TEXT")) {
          const Text& text = std::get<Text>(e->data);
          ExpectNear(n[0], text.insertion.x, at);
          ExpectNear(n[1], text.insertion.y, at);
          ExpectNear(n[2], text.height, at);
          ExpectNear(n[3], text.rotation, at);
          EXPECT_EQ(text.text, it.texts[0]) << at;
        }
      } else if ((it.name == "TRACE" || it.name == "SOLID") && n.size() >= 8) {
        // (The dump ends with left-over numbers after its last SOLID.)
        if (const Entity* e = next(it.name.c_str())) {
          const Face& face = it.name == "TRACE" ? static_cast<const Face&>(std::get<Trace>(e->data))
                                                : std::get<Solid>(e->data);
          for (int i = 0; i < 4; ++i) {
            ExpectNear(n[2 * i], face.corners[i].x, at);
            ExpectNear(n[2 * i + 1], face.corners[i].y, at);
          }
        }
      } else if (it.name == "INSERT" && n.size() == 5 && it.texts.size() == 1) {
        if (const Entity* e = next("INSERT")) {
          const Insert& insert = std::get<Insert>(e->data);
          ExpectNear(n[0], insert.insertion.x, at);
          ExpectNear(n[1], insert.insertion.y, at);
          ExpectNear(n[2], insert.scale.x, at);
          ExpectNear(n[3], insert.scale.y, at);
          ExpectNear(n[4], insert.rotation, at);
          ASSERT_GE(insert.block, 0) << at;
          EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(insert.block)].name, it.texts[0]);
        }
      } else if (it.name == "REPEAT") {
        // The group is a block, placed as a grid of copies.
        const Entity* e = next("INSERT");
        if (!e) continue;
        const Insert& grid = std::get<Insert>(e->data);
        ASSERT_GE(grid.block, 2) << at;
        Check(++item, drawing.blocks[static_cast<std::size_t>(grid.block)], "ENDREP");
        ASSERT_LT(item, items.size()) << at << ": no ENDREP";
        const std::vector<double>& g = items[item].numbers;
        ASSERT_EQ(g.size(), 4u) << at;
        EXPECT_EQ(grid.columns, g[0]) << at;
        EXPECT_EQ(grid.rows, g[1]) << at;
        ExpectNear(g[2], grid.columnSpacing, at);
        ExpectNear(g[3], grid.rowSpacing, at);
      } else if (it.name == "BLOCK" && n.size() == 2 && it.texts.size() == 1) {
        const auto found = std::find_if(drawing.blocks.begin(), drawing.blocks.end(),
                                        [&](const Block& b) { return b.name == it.texts[0]; });
        ASSERT_NE(found, drawing.blocks.end()) << at;
        ExpectNear(n[0], found->base.x, at);
        ExpectNear(n[1], found->base.y, at);
        Check(++item, *found, "ENDBLK");
      } else if (it.name == "SHAPE") {
        ++shapes;
      } else if (it.name == "LOAD") {
        // The shape file of the SHAPEs after it.
      } else if (it.name == "POINT" || it.name == "LINE" || it.name == "CIRCLE" ||
                 it.name == "ARC" || it.name == "TEXT" || it.name == "TRACE" ||
                 it.name == "SOLID" || it.name == "INSERT" || it.name == "BLOCK") {
        ADD_FAILURE() << at << " has values the test does not expect";
      }
    }
    EXPECT_EQ(entity, block.entities.size()) << block.name << " has more entities than the dump";
  }

  int shapes = 0;

 private:
  const Drawing& drawing;
  const std::vector<CDumpItem>& items;
};

TEST(DwgCorpus, TheR14DrawingReadsAsItsTextDumpDescribesIt) {
  const fs::path shared = testsupport::SharedDir();
  const fs::path dwg = shared / "corpus/dwg/pre-r13/libredwg_r1.4_entities.dwg";
  const fs::path dump = shared / "corpus/dwg/pre-r13/libredwg_r1.4_entities.txt";
  if (shared.empty() || !fs::exists(dwg) || !fs::exists(dump)) {
    GTEST_SKIP() << "the shared corpus is absent";
  }
  Drawing drawing;
  std::string error;
  ASSERT_TRUE(ReadDrawingFile(dwg.string(), drawing, &error)) << error;
  const std::vector<CDumpItem> items = ReadDump(testsupport::ReadFile(dump));
  ASSERT_GT(items.size(), 20u);
  for (const CDumpItem& item : items) {
    const std::vector<double>& n = item.numbers;
    if (item.name == "EXTENTS" && n.size() == 4) {
      ExpectNear(n[0], drawing.header.extMin.x, "EXTENTS");
      ExpectNear(n[1], drawing.header.extMax.x, "EXTENTS");
      ExpectNear(n[2], drawing.header.extMin.y, "EXTENTS");
      ExpectNear(n[3], drawing.header.extMax.y, "EXTENTS");
    } else if (item.name == "LIMITS" && n.size() == 4) {
      ExpectNear(n[0], drawing.header.limMin.x, "LIMITS");
      ExpectNear(n[1], drawing.header.limMax.x, "LIMITS");
      ExpectNear(n[2], drawing.header.limMin.y, "LIMITS");
      ExpectNear(n[3], drawing.header.limMax.y, "LIMITS");
    } else if (item.name == "DWGVIEW" && n.size() == 3) {
      ASSERT_TRUE(drawing.activeView.valid);
      ExpectNear(n[0], drawing.activeView.center.x, "DWGVIEW");
      ExpectNear(n[1], drawing.activeView.center.y, "DWGVIEW");
      ExpectNear(n[2], drawing.activeView.height, "DWGVIEW");
    } else if (item.name == "LAYERC") {
      ASSERT_EQ(n.size(), 128u);
      // The numbered layers the entities use, with the colours of the header (0 and 255: none).
      for (const Layer& layer : drawing.layers) {
        const int number = std::stoi(layer.name);
        const int color = static_cast<int>(n[static_cast<std::size_t>(number)]);
        EXPECT_EQ(layer.color.index, color >= 1 && color < 255 ? color : 7) << layer.name;
      }
    }
  }
  const auto first = std::find_if(items.begin(), items.end(),
                                  [](const CDumpItem& item) { return item.name == "POINT"; });
  std::size_t item = static_cast<std::size_t>(first - items.begin());
  CDumpChecker checker(drawing, items);
  checker.Check(item, drawing.blocks[0], nullptr);
  ASSERT_EQ(drawing.skippedTypes.size(), 1u);
  EXPECT_EQ(drawing.skippedTypes[0], std::make_pair(std::string("SHAPE"), checker.shapes));
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
}

}  // namespace
