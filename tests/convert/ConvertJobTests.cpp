// Conversion runs on scripted drawings: pages and bookmarks per Layout, file names per
// PdfType, the log of a run, every stop point, failures and the result codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "convert/ConvertJob.h"
#include "convert/ConvertSettings.h"
#include "pdf/PdfDocument.h"
#include "pdf/PdfOutline.h"
#include "pdf/PdfPage.h"
#include "tests/convert/ScriptedDrawing.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::CheckPdfFile;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

class CRecorder : public CConvertListener {
 public:
  void AppendLog(std::string_view text) override {
    log.emplace_back(text);
    if (onLog) onLog(log.back());
  }
  void SetStatusText(std::string_view text) override {
    status.emplace_back(text);
    if (onStatus) onStatus(status.back());
  }
  void SetProgressRange(int count) override { range = count; }
  void StepProgress() override {
    ++steps;
    if (onStep) onStep(steps);
  }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  void RunFinished(RunResult result) override { finished.push_back(result); }

  Lines log, status, messages;
  int range = -1;
  int steps = 0;
  std::vector<RunResult> finished;
  std::function<void(const std::string&)> onLog, onStatus;
  std::function<void(int)> onStep;
};

std::string Summary(const fs::path& pdf) {
  return testsupport::PdfSummary(pdf);
}

// The titles of the bookmark tree of a document in memory, children indented.
std::string Outline(const CPdfOutline* item, int depth = 0) {
  std::string text;
  for (const CPdfOutline* child = item->First(); child; child = child->Next()) {
    text += std::string(2 * depth, ' ') + child->Title() + "\n" + Outline(child, depth + 1);
  }
  return text;
}

Lines CallsStartingWith(const std::string& prefix) {
  Lines found;
  for (const std::string& call : scripted::Script().calls) {
    if (call.rfind(prefix, 0) == 0) found.push_back(call);
  }
  return found;
}

class ConvertRun : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::Reset();
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  }
  void TearDown() override {
    EXPECT_EQ(scripted::Script().liveDrawings, 0) << "a drawing object was not deleted";
    unsetenv("SOURCE_DATE_EPOCH");
  }

  // A drawing file on disk, scripted with model space and the paper layouts, and put on the
  // run's list with its file name as bookmark.
  std::string AddDrawing(const std::string& name, scripted::File file) {
    const fs::path path = dir / name;
    testsupport::WriteFile(path, "scripted");
    scripted::Script().files[path.string()] = std::move(file);
    settings.SourceFiles.push_back(path.string());
    settings.BookmarkNames.push_back(path.stem().string());
    return path.string();
  }
  std::string AddDrawing(const std::string& name,
                         const Lines& paperLayouts = {"Layout1", "Layout2"}) {
    return AddDrawing(name, scripted::MakeFile(paperLayouts));
  }
  std::string Out(const std::string& name) const { return (dir / name).string(); }

  // Every file of the run passes the checkers.
  void ExpectValidResults() {
    for (const std::string& pdf : job.ResultFiles) EXPECT_TRUE(CheckPdfFile(pdf));
  }

  TempDir dir;
  CRecorder recorder;
  CConvertJob job{recorder};
  CConvertSettings& settings = job.Settings;
};

// ---------------------------------------------------------------------------------------------
// Pages and bookmarks per Layout value.

struct LayoutCase {
  int layout;
  int active;
  bool useLayoutPageSet;
  const char* outline;
  Lines outputSizes;
  int adjusted;
};

class LayoutValues : public ConvertRun, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutValues, MakeThePagesAndBookmarksOfTheChosenLayouts) {
  const LayoutCase& c = GetParam();
  settings.Layout = static_cast<LayoutChoice>(c.layout);
  settings.UseLayoutPageSet = c.useLayoutPageSet;
  scripted::File file = scripted::MakeFile({"Layout1", "Layout2"});
  file.layouts[2].paperWidth = 16.5;
  file.layouts[2].paperHeight = 11.7;
  file.active = c.active;
  const std::string path = AddDrawing("plan.dxf", file);

  CPdfDocument document;
  EXPECT_EQ(job.ConvertDrawing(path, "plan", &document, PageSetup{841, 595, 0}), RunResult::Done);
  EXPECT_EQ(Outline(document.OutlineRoot()), c.outline);
  EXPECT_EQ(document.PageTreeRoot()->PageCount(), static_cast<int>(c.outputSizes.size()));
  EXPECT_EQ(CallsStartingWith("SetOutputSize"), c.outputSizes);
  EXPECT_EQ(std::count(recorder.log.begin(), recorder.log.end(),
                       "The page size been adjusted by layout !"),
            c.adjusted);
}

INSTANTIATE_TEST_SUITE_P(
    ConvertDrawing, LayoutValues,
    ::testing::Values(
        // All layouts: model space first, each paper layout at its own paper size.
        LayoutCase{1,
                   0,
                   true,
                   "plan\n  Model\n  Layout1\n  Layout2\n",
                   {"SetOutputSize 841 595", "SetOutputSize 792 612", "SetOutputSize 1188 842"},
                   2},
        LayoutCase{1,
                   0,
                   false,
                   "plan\n  Model\n  Layout1\n  Layout2\n",
                   {"SetOutputSize 841 595", "SetOutputSize 841 595", "SetOutputSize 841 595"},
                   0},
        // Any value other than 0, 2 and 3 converts all layouts.
        LayoutCase{7,
                   2,
                   false,
                   "plan\n  Model\n  Layout1\n  Layout2\n",
                   {"SetOutputSize 841 595", "SetOutputSize 841 595", "SetOutputSize 841 595"},
                   0},
        LayoutCase{3,
                   0,
                   true,
                   "plan\n  Layout1\n  Layout2\n",
                   {"SetOutputSize 792 612", "SetOutputSize 1188 842"},
                   2},
        // Model space only takes the size of the layout active when the drawing was saved.
        LayoutCase{0, 2, true, "plan\n  Model\n", {"SetOutputSize 1188 842"}, 1},
        LayoutCase{0, 0, true, "plan\n  Model\n", {"SetOutputSize 841 595"}, 0},
        LayoutCase{2, 2, true, "plan\n  Layout2\n", {"SetOutputSize 1188 842"}, 1},
        LayoutCase{2, 2, false, "plan\n  Layout2\n", {"SetOutputSize 841 595"}, 0},
        LayoutCase{2, 0, true, "plan\n  Model\n", {"SetOutputSize 841 595"}, 0}));

TEST_F(ConvertRun, AllPaperSpacesOfADrawingWithOnlyModelSpaceMakeNoPageButTheBookmark) {
  settings.Layout = LayoutChoice::PaperLayouts;
  AddDrawing("model.dxf", Lines{});
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  ASSERT_EQ(job.ResultFiles, Lines{Out("all.pdf")});
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("all.pdf")),
            "pages 0\n"
            "outline model @-\n"
            "info Producer Zemb Strandmerlyx\n");
}

TEST_F(ConvertRun, SkipsTheLayoutsTheLibrarySkips) {
  scripted::File file = scripted::MakeFile({"Empty", "Sheet"});
  file.layouts[1].skipped = true;
  const std::string path = AddDrawing("plan.dxf", file);
  CPdfDocument document;
  EXPECT_EQ(job.ConvertDrawing(path, "plan", &document, PageSetup{841, 595, 0}), RunResult::Done);
  EXPECT_EQ(Outline(document.OutlineRoot()), "plan\n  Model\n  Sheet\n");
  EXPECT_EQ(CallsStartingWith("SetActiveLayout"),
            (Lines{"SetActiveLayout 0", "SetActiveLayout 2"}));
}

TEST_F(ConvertRun, MergesAllLayoutsIntoOneFileWithBookmarksAndLayers) {
  scripted::File plan = scripted::MakeFile({"Layout1", "Layout2"});
  plan.layouts[0].layers = {"WALLS", "DOORS"};
  plan.layouts[2].layers = {"TITLE", "WALLS"};
  AddDrawing("plan.dxf", plan);
  AddDrawing("site.dxf", Lines{"Sheet"});
  settings.BookmarkNames[1] = "Site plan (east)";
  settings.TargetPdf = Out("all");
  settings.Title = "Plans";
  settings.Author = "A. Builder";

  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  ASSERT_EQ(job.ResultFiles, Lines{Out("all.pdf")});
  EXPECT_TRUE(job.FailedFiles.empty());
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("all.pdf")),
            "pages 5\n"
            "page 1 841x595\npage 2 792x612\npage 3 792x612\npage 4 841x595\npage 5 792x612\n"
            "outline plan @-\n"
            "  outline Model @1\n  outline Layout1 @2\n  outline Layout2 @3\n"
            "outline Site plan (east) @-\n"
            "  outline Model @4\n  outline Sheet @5\n"
            "ocg WALLS\nocg DOORS\nocg 0\nocg TITLE\n"
            "info Title Plans\ninfo Author A. Builder\ninfo Producer Zemb Strandmerlyx\n");
}

TEST_F(ConvertRun, WritesNoLayersWhenTheyAreNotExported) {
  settings.ExportLayer = 0;
  AddDrawing("plan.dxf");
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("all.pdf")).find("ocg "), std::string::npos);
}

TEST_F(ConvertRun, PlacesTheDrawingInsideTheMargin) {
  settings.Margin = 10;  // millimetres: 28 points
  settings.Quality = 600;
  AddDrawing("plan.dxf", Lines{});
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(CallsStartingWith("SetOutputSize"), Lines{"SetOutputSize 785 539"});
  ExpectValidResults();
  // The scripted line from (10, 10) appears moved by the margin, at 600 dpi's divisor 8.
  const std::string pdf = testsupport::ReadFile(Out("all.pdf"));
  EXPECT_NE(pdf.find("/MediaBox [0 0 841 595]"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The files of each PdfType.

TEST_F(ConvertRun, WritesOneFileNextToEachDrawing) {
  settings.PdfType = OutputType::PerDrawing;
  const std::string plan = AddDrawing("plan.dxf");
  AddDrawing("site.DXF", Lines{"Sheet"});
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("plan.pdf"), Out("site.pdf")}));
  EXPECT_EQ(settings.TargetPdf, "") << "an empty target stays empty";
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("site.pdf")),
            "pages 2\npage 1 841x595\npage 2 792x612\n"
            "outline site @-\n  outline Model @1\n  outline Sheet @2\n"
            "ocg 0\ninfo Producer Zemb Strandmerlyx\n");
}

TEST_F(ConvertRun, WritesOneFilePerDrawingIntoTheTargetFolderAndEndsItWithASeparator) {
  settings.PdfType = OutputType::PerDrawing;
  fs::create_directory(dir / "out");
  settings.TargetPdf = Out("out");
  AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, Lines{Out("out/plan.pdf")});
  EXPECT_EQ(settings.TargetPdf, Out("out")) << "the run writes nothing back into its settings";
  ExpectValidResults();
}

TEST_F(ConvertRun, GivesASecondResultOfTheSameNameADistinctName) {
  settings.PdfType = OutputType::PerDrawing;
  fs::create_directory(dir / "out");
  settings.TargetPdf = Out("out/");
  AddDrawing("a/plan.dxf");
  AddDrawing("b/plan.dxf", Lines{});
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("out/plan.pdf"), Out("out/plan-2.pdf")}));
  EXPECT_EQ(Summary(Out("out/plan.pdf")).substr(0, 8), "pages 3\n") << "the first is kept";
  EXPECT_EQ(Summary(Out("out/plan-2.pdf")).substr(0, 8), "pages 1\n");
  EXPECT_NE(std::find(recorder.log.begin(), recorder.log.end(),
                      "written as " + Out("out/plan-2.pdf") + " instead."),
            recorder.log.end());
  ExpectValidResults();

  // Layouts whose names become the same file name.
  settings.PdfType = OutputType::PerLayout;
  scripted::Reset();
  scripted::File sheets = scripted::MakeFile({"Sheet/1", "Sheet_1"});
  settings.SourceFiles.clear();
  settings.BookmarkNames.clear();
  job.ResultFiles.clear();
  AddDrawing("c/site.dxf", sheets);
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("out/site-Model.pdf"), Out("out/site-Sheet_1.pdf"),
                                    Out("out/site-Sheet_1-2.pdf")}));
}

TEST_F(ConvertRun, WritesOneFilePerLayoutNamedByTheLayout) {
  settings.PdfType = OutputType::PerLayout;
  AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles,
            (Lines{Out("plan-Model.pdf"), Out("plan-Layout1.pdf"), Out("plan-Layout2.pdf")}));
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("plan-Layout2.pdf")),
            "pages 1\npage 1 792x612\n"
            "outline plan @-\n  outline Layout2 @1\n"
            "ocg 0\ninfo Producer Zemb Strandmerlyx\n");
}

TEST_F(ConvertRun, WritesTheOneLayoutOfADrawingUnderTheDrawingsName) {
  settings.PdfType = OutputType::PerLayout;
  settings.Layout = LayoutChoice::ActiveLayout;
  fs::create_directory(dir / "out");
  settings.TargetPdf = Out("out");
  scripted::File file = scripted::MakeFile({"Layout1", "Layout2"});
  file.active = 2;
  AddDrawing("plan.dxf", file);
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, Lines{Out("out/plan.pdf")});
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("out/plan.pdf")).substr(0, 23), "pages 1\npage 1 792x612\n");
}

TEST_F(ConvertRun, KeepsLayoutNamesWithSeparatorsInTheTargetFolder) {
  settings.PdfType = OutputType::PerLayout;
  AddDrawing("plan.dxf", Lines{"A/B", "../up", std::string("tab\there")});
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("plan-Model.pdf"), Out("plan-A_B.pdf"),
                                    Out("plan-.._up.pdf"), Out("plan-tab_here.pdf")}));
  ExpectValidResults();
  EXPECT_NE(Summary(Out("plan-A_B.pdf")).find("  outline A/B @1\n"), std::string::npos)
      << "the bookmark keeps the layout's own name";
}

TEST_F(ConvertRun, GivesTheMergedFileThePdfExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"all", "all.pdf"}, {"all.PDF", "all.PDF"}, {"all.txt", "all.pdf"}};
  for (const auto& [target, written] : cases) {
    settings.TargetPdf = Out(target);
    job.ResultFiles.clear();
    EXPECT_EQ(job.ConvertAll(), RunResult::Done);
    EXPECT_EQ(job.ResultFiles, Lines{Out(written)}) << target;
    EXPECT_EQ(settings.TargetPdf, Out(target)) << "a merge target is not changed";
  }
}

TEST_F(ConvertRun, SavesAMergedFileWithoutPagesForAnEmptyList) {
  settings.TargetPdf = Out("empty.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, Lines{Out("empty.pdf")});
  ExpectValidResults();
  EXPECT_EQ(Summary(Out("empty.pdf")), "pages 0\ninfo Producer Zemb Strandmerlyx\n");
}

// ---------------------------------------------------------------------------------------------
// The log of a run and its failures.

TEST_F(ConvertRun, LogsARunOfOneDrawingWithTwoLayouts) {
  settings.Layout = LayoutChoice::PaperLayouts;
  settings.UseLayoutPageSet = 0;
  settings.TargetPdf = Out("all.pdf");
  const std::string plan = AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(recorder.log,
            (Lines{"Begin convert: " + plan, "Converting layout: Layout1",
                   "Converting layout: Layout2", "Convert " + plan + " successfully!\r\n",
                   "Saving to pdf file...", "Save result to the below PDF file:", Out("all.pdf")}));
  EXPECT_EQ(recorder.status, Lines{"Converting: " + plan});
  EXPECT_EQ(recorder.steps, 1);
  EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(ConvertRun, SkipsAMissingFileWithoutAMessageButStepsTheProgress) {
  settings.PdfType = OutputType::PerDrawing;
  const std::string a = AddDrawing("a.dxf", Lines{});
  settings.SourceFiles.push_back(Out("missing.dxf"));
  settings.BookmarkNames.push_back("missing");
  fs::create_directory(dir / "folder.dxf");
  settings.SourceFiles.push_back(Out("folder.dxf"));
  settings.BookmarkNames.push_back("folder");
  const std::string c = AddDrawing("c.dxf", Lines{});
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(std::count_if(recorder.log.begin(), recorder.log.end(),
                          [](const std::string& l) { return l.find("successfully") != l.npos; }),
            2);
  EXPECT_EQ(recorder.steps, 4);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("a.pdf"), Out("c.pdf")}));
  EXPECT_TRUE(job.FailedFiles.empty()) << "the run does not judge missing files";
}

TEST_F(ConvertRun, LogsADrawingThatCannotBeOpenedAndGoesOn) {
  const std::string bad = AddDrawing("bad.dxf", Lines{});
  scripted::Script().files[bad].openResult = 3;
  const std::string good = AddDrawing("good.dxf", Lines{});
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(Lines(recorder.log.begin(), recorder.log.begin() + 4),
            (Lines{"Begin convert: " + bad, "Can not open drawing file: " + bad,
                   "Convert " + bad + " failure!\r\n", "Begin convert: " + good}));
  EXPECT_EQ(job.FailedFiles, Lines{bad});
  EXPECT_EQ(job.ResultFiles, Lines{Out("all.pdf")});
  EXPECT_EQ(Summary(Out("all.pdf")).substr(0, 8), "pages 1\n") << "no page of the bad drawing";
}

TEST_F(ConvertRun, RefusesAPageWithoutWidthBeforeOpeningAnything) {
  settings.PdfWidth = 0.01;
  settings.TargetPdf = Out("all.pdf");
  AddDrawing("plan.dxf");
  const std::string text = "Parameter error! The width or height of PDF must be greater than 0.";
  EXPECT_EQ(job.ConvertAll(), RunResult::ParameterError);
  EXPECT_EQ(recorder.messages, Lines{text});
  EXPECT_EQ(recorder.log, Lines{text});
  EXPECT_TRUE(job.ResultFiles.empty());
  EXPECT_TRUE(scripted::Script().calls.empty());
  EXPECT_FALSE(fs::exists(Out("all.pdf")));
}

TEST_F(ConvertRun, FailsADrawingWithoutMemoryAndWritesNoMergedFileWhenNoneIsLeft) {
  scripted::Script().failCreate = true;
  const std::string plan = AddDrawing("plan.dxf");
  settings.TargetPdf = Out("all.pdf");
  testsupport::WriteFile(Out("all.pdf"), "an earlier file");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done) << "the run itself goes on";
  EXPECT_EQ(recorder.log, (Lines{"Begin convert: " + plan, "No enough memory!",
                                 "Convert " + plan + " failure!\r\n",
                                 "No PDF file is written: no drawing could be converted."}));
  EXPECT_TRUE(job.ResultFiles.empty());
  EXPECT_EQ(job.FailedFiles, Lines{plan});
  EXPECT_EQ(testsupport::ReadFile(Out("all.pdf")), "an earlier file")
      << "a file without pages replaces nothing";
}

TEST_F(ConvertRun, LeavesNothingOfADrawingThatRanOutOfMemoryInTheMergedFile) {
  scripted::File broken = scripted::MakeFile({"Layout1", "Layout2"});
  broken.runsOutOfMemoryIn = 2;  // after the pages of Model and Layout1
  const std::string first = AddDrawing("first.dxf", Lines{});
  const std::string plan = AddDrawing("plan.dxf", broken);
  const std::string last = AddDrawing("last.dxf", Lines{"Sheet"});
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.FailedFiles, Lines{plan});
  ASSERT_EQ(job.ResultFiles, Lines{Out("all.pdf")});
  ExpectValidResults();
  const std::string summary = Summary(Out("all.pdf"));
  EXPECT_EQ(summary.substr(0, 8), "pages 3\n") << summary;
  EXPECT_EQ(summary.find("outline plan"), std::string::npos) << summary;
  EXPECT_NE(summary.find("outline last"), std::string::npos) << summary;
  EXPECT_EQ(scripted::Script().liveDrawings, 0) << "the drawing object is deleted";
  ASSERT_EQ(job.Reports.size(), 3u);
  EXPECT_EQ(job.Reports[1].result, RunResult::NoMemory);
  EXPECT_EQ(job.Reports[2].outputs, Lines{Out("all.pdf")});
}

TEST_F(ConvertRun, LogsWarningsAndFailsTheirDrawingWhenWarningsAreFailures) {
  scripted::File warned = scripted::MakeFile({"Layout1"});
  warned.openWarnings = {"DXF entities section, line 9: the file is cut short"};
  warned.drawWarnings = {"dashed lines too long for their dashes are drawn solid"};
  const std::string plan = AddDrawing("plan.dxf", warned);
  const std::string clean = AddDrawing("clean.dxf", Lines{});
  settings.TargetPdf = Out("all.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_TRUE(job.FailedFiles.empty()) << "warnings alone fail nothing";
  ASSERT_EQ(job.Reports.size(), 2u);
  EXPECT_EQ(job.Reports[0].pages, 2);
  EXPECT_EQ(job.Reports[0].warnings.front(), warned.openWarnings[0]);
  EXPECT_EQ(job.Reports[0].warnings.size(), 2u) << "each warning once, though both pages say it";
  EXPECT_NE(
      std::find(recorder.log.begin(), recorder.log.end(), "Warning: " + warned.openWarnings[0]),
      recorder.log.end());
  EXPECT_EQ(
      std::count(recorder.log.begin(), recorder.log.end(), "Warning: " + warned.drawWarnings[0]),
      1);

  job.StrictWarnings = true;
  recorder.log.clear();
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.FailedFiles, Lines{plan});
  EXPECT_EQ(job.Reports[0].result, RunResult::Warned);
  EXPECT_EQ(Summary(Out("all.pdf")).substr(0, 8), "pages 1\n") << "only the clean drawing";
  EXPECT_EQ(scripted::Script().calls.end(),
            std::find(scripted::Script().calls.end() - 1, scripted::Script().calls.end(), "Draw"))
      << "a drawing that warns when it is opened is not drawn";
}

TEST_F(ConvertRun, CountsADrawingWhoseFileCannotBeWrittenAsFailed) {
  settings.PdfType = OutputType::PerDrawing;
  // A file stands where the target folder would have to be made.
  testsupport::WriteFile(dir / "taken", "a file");
  settings.TargetPdf = Out("taken/folder");
  const std::string plan = AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  const std::string pdf = Out("taken/folder/plan.pdf");
  EXPECT_NE(std::find(recorder.log.begin(), recorder.log.end(), "Can not write PDF file: " + pdf),
            recorder.log.end());
  EXPECT_EQ(recorder.log.back(), "Convert " + plan + " failure!\r\n");
  EXPECT_TRUE(job.ResultFiles.empty());
  EXPECT_EQ(job.FailedFiles, Lines{plan});
}

TEST_F(ConvertRun, CountsADrawingWithAnUnwritableLayoutFileAsFailedButWritesTheOthers) {
  settings.PdfType = OutputType::PerLayout;
  const std::string plan = AddDrawing("plan.dxf");
  // A folder where the file of Layout1 would go.
  fs::create_directory(dir / "plan-Layout1.pdf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("plan-Model.pdf"), Out("plan-Layout2.pdf")}));
  EXPECT_EQ(job.FailedFiles, Lines{plan});
  EXPECT_EQ(recorder.log.back(), "Convert " + plan + " failure!\r\n");
  ExpectValidResults();
}

TEST_F(ConvertRun, MakesTheMissingFolderOfTheMergedFile) {
  settings.TargetPdf = Out("new/folder/all.pdf");
  AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, Lines{Out("new/folder/all.pdf")});
  EXPECT_TRUE(job.FailedFiles.empty());
  ExpectValidResults();
}

TEST_F(ConvertRun, CountsTheMergedDrawingsAsFailedWhenTheMergedFileCannotBeWritten) {
  testsupport::WriteFile(dir / "missing", "a file, not a folder");
  settings.TargetPdf = Out("missing/all.pdf");
  const std::string bad = AddDrawing("bad.dxf", Lines{});
  scripted::Script().files[bad].openResult = 1;
  const std::string plan = AddDrawing("plan.dxf");
  EXPECT_EQ(job.ConvertAll(), RunResult::Done);
  EXPECT_EQ(recorder.log.back(), "Can not write PDF file: " + Out("missing/all.pdf"));
  EXPECT_TRUE(job.ResultFiles.empty());
  EXPECT_EQ(job.FailedFiles, (Lines{bad, plan}));
}

// ---------------------------------------------------------------------------------------------
// Stop points.

struct StopCase {
  const char* name;
  int pdfType;
  int layout;
  // Where the stop flag is set: a drawing call, a log text or a status text of the run, or the
  // nth step of the progress bar; the nth time it happens.
  enum { Call, Log, Status, Step, Before } where;
  const char* what;
  int nth;
  // The files written (names in the test folder) and, for a merge, the pages made so far.
  Lines files;
  // A drawing call that must not happen after the stop, and one that must.
  const char* notCalled;
  const char* called;
};

class StopPoints : public ConvertRun, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopPoints, EndTheRunWithUserBreakLoggedOnce) {
  const StopCase& c = GetParam();
  settings.PdfType = static_cast<OutputType>(c.pdfType);
  settings.Layout = static_cast<LayoutChoice>(c.layout);
  settings.TargetPdf = c.pdfType == 1 ? Out("all.pdf") : "";
  scripted::File plan = scripted::MakeFile({"Layout1", "Layout2"});
  plan.active = 1;
  AddDrawing("plan.dxf", plan);
  AddDrawing("site.dxf", plan);

  int seen = 0;
  std::size_t callsAtStop = 0;
  auto hit = [&](const std::string& text) {
    // An empty text stands for any text.
    if ((!*c.what || text == c.what) && ++seen == c.nth) {
      job.StopFlag = true;
      callsAtStop = scripted::Script().calls.size();
    }
  };
  switch (c.where) {
    case StopCase::Call:
      scripted::Script().onCall = hit;
      break;
    case StopCase::Log:
      recorder.onLog = hit;
      break;
    case StopCase::Status:
      recorder.onStatus = hit;
      break;
    case StopCase::Step:
      recorder.onStep = [&](int step) {
        if (step == c.nth) job.StopFlag = true;
      };
      break;
    case StopCase::Before:
      job.StopFlag = true;
      break;
  }

  EXPECT_EQ(job.ConvertAll(), RunResult::UserBreak);
  if (c.where == StopCase::Before) {
    EXPECT_TRUE(recorder.log.empty()) << "a run stopped before it began logs nothing";
  } else {
    ASSERT_FALSE(recorder.log.empty());
    EXPECT_EQ(recorder.log.back(), "User break!");
    EXPECT_EQ(std::count(recorder.log.begin(), recorder.log.end(), "User break!"), 1);
  }
  Lines expected;
  for (const std::string& name : c.files) expected.push_back(Out(name));
  EXPECT_EQ(job.ResultFiles, expected);
  for (const std::string& name : c.files) EXPECT_TRUE(CheckPdfFile(Out(name)));
  EXPECT_FALSE(fs::exists(Out("all.pdf"))) << "a stopped merge writes no file";
  const Lines after(scripted::Script().calls.begin() + static_cast<long>(callsAtStop),
                    scripted::Script().calls.end());
  // Calls are compared by their beginning: "OpenFile" stands for any file.
  auto calledAfter = [&](const std::string& call) {
    return std::count_if(after.begin(), after.end(),
                         [&](const std::string& made) { return made.rfind(call, 0) == 0; });
  };
  if (*c.notCalled) {
    EXPECT_EQ(calledAfter(c.notCalled), 0) << c.notCalled << " after the stop";
  }
  if (*c.called) {
    EXPECT_NE(calledAfter(c.called), 0) << c.called << " after the stop";
  }
  // No device is left attached to a drawing.
  if (!scripted::Script().calls.empty() && scripted::Script().calls.back() != "DeleteDrawing") {
    ADD_FAILURE() << "the drawing was not deleted last";
  }
}

INSTANTIATE_TEST_SUITE_P(
    ConvertAll, StopPoints,
    ::testing::Values(
        StopCase{"BeforeTheRun", 1, 1, StopCase::Before, "", 0, {}, "OpenFile", ""},
        StopCase{"BeforeTheSecondDrawing", 0, 1, StopCase::Step, "", 1, {"plan.pdf"}, "", ""},
        StopCase{"BeforeConvertingADrawing", 1, 1, StopCase::Status, "", 1, {}, "OpenFile", ""},
        StopCase{"AfterOpening",
                 1,
                 1,
                 StopCase::Call,
                 "PrepareDrawing",
                 1,
                 {},
                 "SetActiveLayout 0",
                 "DeleteDrawing"},
        StopCase{"AfterTheLayoutsPageSize",
                 1,
                 1,
                 StopCase::Call,
                 "GetPaperSize",
                 1,
                 {},
                 "Draw",
                 "DeleteDrawing"},
        StopCase{"AfterTheContentStream",
                 1,
                 1,
                 StopCase::Log,
                 "Converting layout: Layout1",
                 1,
                 {},
                 "SetExport device",
                 ""},
        StopCase{"AfterTheView",
                 1,
                 1,
                 StopCase::Call,
                 "ZoomExtents 0.98",
                 2,
                 {},
                 "Draw",
                 "SetExport null"},
        StopCase{
            "AfterFinishingALayout", 1, 1, StopCase::Call, "Draw", 1, {}, "Draw", "FinishLayout"},
        StopCase{"AfterAPerLayoutFile",
                 2,
                 1,
                 StopCase::Log,
                 "Saving to pdf file...",
                 1,
                 {"plan-Model.pdf"},
                 "Draw",
                 ""},
        StopCase{"WhileTheSecondOfThreeLayoutsIsDrawn",
                 2,
                 1,
                 StopCase::Call,
                 "Draw",
                 2,
                 {"plan-Model.pdf"},
                 "Draw",
                 "FinishLayout"},
        StopCase{"DuringTheLastDrawingOfAMerge", 1, 1, StopCase::Call, "Draw", 6, {}, "", ""},
        StopCase{"AfterADrawingsFile",
                 0,
                 3,
                 StopCase::Log,
                 "Saving to pdf file...",
                 1,
                 {"plan.pdf"},
                 "OpenFile",
                 ""},
        StopCase{
            "OneLayoutAfterItsPageSize", 1, 2, StopCase::Call, "GetPaperSize", 1, {}, "Draw", ""},
        StopCase{"OneLayoutAfterItsPage", 1, 0, StopCase::Call, "Draw", 1, {}, "", ""},
        StopCase{"OneLayoutAfterItsFile",
                 2,
                 2,
                 StopCase::Log,
                 "Saving to pdf file...",
                 1,
                 {"plan.pdf"},
                 "OpenFile",
                 ""}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The run on its own thread, as its owner sees it.

TEST_F(ConvertRun, RunsOnItsOwnThreadAndReportsTheEnd) {
  settings.TargetPdf = Out("all.pdf");
  AddDrawing("plan.dxf");
  AddDrawing("site.dxf", Lines{});
  recorder.status.clear();
  ASSERT_TRUE(job.Start());
  job.Wait();
  EXPECT_FALSE(job.RunningFlag);
  EXPECT_EQ(recorder.finished, std::vector<RunResult>{RunResult::Done});
  EXPECT_EQ(recorder.range, 2);
  EXPECT_EQ(recorder.steps, 2);
  EXPECT_EQ(recorder.log.front(), "Starting converting...");
  job.LogRunEnd(recorder.finished[0]);
  EXPECT_EQ(Lines(recorder.log.end() - 3, recorder.log.end()),
            (Lines{"End convert.", "The belows are all the result PDF files:", Out("all.pdf")}));
  ExpectValidResults();
}

TEST_F(ConvertRun, StopsOnRequestAndKeepsTheStoppingText) {
  settings.PdfType = OutputType::PerDrawing;
  AddDrawing("plan.dxf");
  AddDrawing("site.dxf");
  scripted::Script().onCall = [&](const std::string& call) {
    if (call == "Draw") job.Stop();
  };
  ASSERT_TRUE(job.Start());
  EXPECT_FALSE(job.Start()) << "a second run cannot start while one is going";
  job.Wait();
  EXPECT_EQ(recorder.finished, std::vector<RunResult>{RunResult::UserBreak});
  EXPECT_EQ(recorder.status.back(), "Stopping the converting process, please wait...");
  const std::size_t lines = recorder.log.size();
  job.LogRunEnd(RunResult::UserBreak);
  job.AppendLog("late");
  EXPECT_EQ(recorder.log.size(), lines) << "nothing is logged after User break!";
  EXPECT_TRUE(job.ResultFiles.empty());

  // The next run starts afresh.
  scripted::Script().onCall = nullptr;
  ASSERT_TRUE(job.Start());
  job.Wait();
  EXPECT_EQ(recorder.finished.back(), RunResult::Done);
  EXPECT_EQ(job.ResultFiles, (Lines{Out("plan.pdf"), Out("site.pdf")}));
}

TEST_F(ConvertRun, ShowsStatusTextsOnlyWhileTheStatusIsEnabled) {
  job.SetStatusText("one");
  job.SetStatusText("two", false);
  job.SetStatusText("three");
  job.StatusEnabled = true;
  job.Stop();
  job.SetStatusText("four");
  job.Stop();
  EXPECT_EQ(recorder.status,
            (Lines{"one", "two", "Stopping the converting process, please wait..."}));
}

}  // namespace
