// The DWG reader on the shared corpus of real drawings (skipped when it is absent): every
// drawing reads into a sound model, and a drawing with a DXF twin reads into the model the
// DXF reader makes of the twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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
  for (const char* folder : {"r13", "r14", "r2000", "r2004", "r2007", "r2010", "r2013", "r2018"}) {
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
      {"_r1",
       {"layout ", "block *paper_space0:", "block *x",
        "block *u:", "*model_space ACAD_TABLE: count", "*model_space DIMENSION: count",
        "*model_space INSERT: count", "skipped LIGHT", "skipped MULTILEADER",
        "skipped ACAD_PROXY_ENTITY"},
       "R13 and R14 DXF files have no LAYOUT objects, tables, arc dimensions, lights or "
       "multileaders: their writer left out the layouts and lights, wrote tables and arc "
       "dimensions as block references and a multileader as a proxy entity"},
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

}  // namespace
