// tarnvelox-cli end to end: the examples and the shared corpus in every output mode, the
// result list, the exit statuses, and a run stopped by SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace fs = std::filesystem;
using testsupport::CheckPdfFile;
using testsupport::ReadFile;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

const fs::path kExamples = fs::path(TARNVELOX_SOURCE_DIR) / "examples";
const Lines kExampleNames = {"bracket", "colours", "floorplan", "house"};
// The layouts of each example, in order.
const Lines kBracketLayouts = {"Model", "Sheet", "Enlarged"};
const Lines kColoursLayouts = {"Model", "Overview", "Wheel"};
const Lines kFloorplanLayouts = {"Model", "Plan A3", "Details A4"};
const Lines kHouseLayouts = {"Model", "A-101 Plan", "A-501 Bathroom"};

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Starts the program with its output in files of folder; the caller waits for pid.
pid_t Spawn(const Lines& args, const fs::path& folder) {
  std::vector<std::string> argv = {TARNVELOX_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (folder / "stdout").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "stderr").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, TARNVELOX_CLI, &actions, nullptr, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    // The store the program would use with --saved is the test's own.
    setenv("TARNVELOX_REGISTRY", (dir / "registry.reg").c_str(), 1);
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    fs::create_directory(dir / "run");
  }
  void TearDown() override {
    unsetenv("TARNVELOX_REGISTRY");
    unsetenv("SOURCE_DATE_EPOCH");
  }

  CliRun Convert(const Lines& args) {
    CliRun run;
    run.status = WaitFor(Spawn(args, dir / "run"));
    run.out = ReadFile(dir / "run/stdout");
    run.err = ReadFile(dir / "run/stderr");
    return run;
  }
  static Lines Examples() {
    Lines paths;
    for (const std::string& name : kExampleNames)
      paths.push_back((kExamples / name).string() + ".dxf");
    return paths;
  }
  static Lines With(Lines args, const Lines& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string Out(const std::string& name) const { return (dir / name).string(); }

  TempDir dir;
};

std::string Summary(const fs::path& pdf) {
  return testsupport::PdfSummary(pdf);
}

// The summary lines that start with prefix, with it taken off.
Lines SummaryLines(const std::string& summary, const std::string& prefix) {
  Lines found;
  std::size_t start = 0;
  while (start < summary.size()) {
    const std::size_t end = summary.find('\n', start);
    const std::string line = summary.substr(start, end - start);
    if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return found;
}

int PageCount(const fs::path& pdf) {
  const Lines pages = SummaryLines(Summary(pdf), "pages ");
  return pages.empty() ? -1 : std::stoi(pages[0]);
}

// The paths of the "results" list of --json output.
Lines JsonList(const std::string& json, const std::string& key) {
  Lines items;
  const std::size_t at = json.find("\"" + key + "\": [");
  if (at == std::string::npos) return items;
  const std::size_t end = json.find(']', at);
  static const std::regex item("\"((?:[^\"\\\\]|\\\\.)*)\"");
  const std::string list = json.substr(at + key.size() + 4, end - at - key.size() - 4);
  for (auto it = std::sregex_iterator(list.begin(), list.end(), item); it != std::sregex_iterator();
       ++it) {
    items.push_back((*it)[1]);
  }
  return items;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A pen-set file holding sets of the given names, every pen 0.01 in wide in colour 7.
std::string PenSetFileBytes(const Lines& names) {
  std::string bytes("ZembStrandmerlyx Pen Sets\0", 26);
  const auto width = std::bit_cast<std::uint64_t>(0.01);
  for (const std::string& name : names) {
    bytes += name;
    bytes += '\0';
    for (int i = 0; i < 256; ++i) {
      bytes += '\x07';
      bytes += '\0';
      for (int b = 0; b < 8; ++b) bytes += static_cast<char>(width >> (8 * b));
    }
  }
  return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The examples.

TEST_F(Cli, MergesTheExamplesWithABookmarkPerDrawingAndLayout) {
  const CliRun run = Convert(With({"-o", Out("all.pdf"), "--title", "Examples"}, Examples()));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("all.pdf")));
  const std::string summary = Summary(Out("all.pdf"));
  EXPECT_EQ(SummaryLines(summary, "pages "), Lines{"12"});
  Lines outline;
  int page = 0;
  const Lines* layouts[] = {&kBracketLayouts, &kColoursLayouts, &kFloorplanLayouts, &kHouseLayouts};
  for (std::size_t i = 0; i < kExampleNames.size(); ++i) {
    outline.push_back("outline " + kExampleNames[i] + " @-");
    for (const std::string& layout : *layouts[i]) {
      outline.push_back("  outline " + layout + " @" + std::to_string(++page));
    }
  }
  Lines items = SummaryLines(summary, "");
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const std::string& l) { return l.find("outline ") == l.npos; }),
              items.end());
  EXPECT_EQ(items, outline);
  // A4 landscape for model space, each paper layout on its own paper.
  EXPECT_EQ(SummaryLines(summary, "page 1 "), Lines{"841x595"});
  EXPECT_EQ(SummaryLines(summary, "page 9 "), Lines{"841x595"}) << "Details A4";
  EXPECT_EQ(SummaryLines(summary, "page 8 "), Lines{"1190x841"}) << "Plan A3";
  // Layers that are drawn become optional content groups; the viewport frames' layer is not
  // drawn.
  const Lines layers = SummaryLines(summary, "ocg ");
  for (const char* layer : {"WALLS", "DOORS", "TEXT", "HATCH", "OUTLINE", "SECTION", "CENTER",
                            "WHEEL", "FRAME", "TITLE"}) {
    EXPECT_NE(std::find(layers.begin(), layers.end(), layer), layers.end()) << layer;
  }
  EXPECT_EQ(SummaryLines(summary, "info Title "), Lines{"Examples"});
  // The log of the run.
  EXPECT_EQ(run.err.rfind("Starting converting...\nBegin convert: ", 0), 0u) << run.err;
  EXPECT_EQ(Count(run.err, "Converting layout: "), 12);
  EXPECT_EQ(Count(run.err, " successfully!\n"), 4);
  EXPECT_NE(
      run.err.find("End convert.\nThe belows are all the result PDF files:\n" + Out("all.pdf")),
      std::string::npos);
}

TEST_F(Cli, WritesOneFilePerDrawingIntoAFolderItMakes) {
  const CliRun run =
      Convert(With({"-t", "per-drawing", "-o", Out("pdf/out"), "--json"}, Examples()));
  ASSERT_EQ(run.status, 0) << run.err;
  const Lines results = JsonList(run.out, "results");
  ASSERT_EQ(results.size(), kExampleNames.size()) << run.out;
  for (const std::string& name : kExampleNames) {
    const std::string pdf = Out("pdf/out/" + name + ".pdf");
    EXPECT_NE(std::find(results.begin(), results.end(), pdf), results.end()) << pdf;
    EXPECT_TRUE(CheckPdfFile(pdf));
    EXPECT_EQ(PageCount(pdf), 3) << pdf;
  }
  EXPECT_TRUE(run.out.ends_with(", \"failed\": [], \"status\": 0}\n")) << run.out;
}

TEST_F(Cli, NamesTheFilesOfAPerLayoutRunByTheLayouts) {
  const CliRun run = Convert(With({"-t", "per-layout", "-o", Out("layouts"), "-q"}, Examples()));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "-q keeps the log off";
  Lines expected;
  const Lines* layouts[] = {&kBracketLayouts, &kColoursLayouts, &kFloorplanLayouts, &kHouseLayouts};
  for (std::size_t i = 0; i < kExampleNames.size(); ++i) {
    for (const std::string& layout : *layouts[i]) {
      expected.push_back(kExampleNames[i] + "-" + layout + ".pdf");
    }
  }
  Lines written;
  for (const auto& entry : fs::directory_iterator(dir / "layouts")) {
    written.push_back(entry.path().filename().string());
  }
  std::sort(written.begin(), written.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(written, expected);
  for (const std::string& name : written) {
    const fs::path pdf = dir / "layouts" / name;
    EXPECT_TRUE(CheckPdfFile(pdf));
    const std::string summary = Summary(pdf);
    EXPECT_EQ(SummaryLines(summary, "pages "), Lines{"1"}) << name;
    const std::string layout = name.substr(name.find('-') + 1, name.size() - name.find('-') - 5);
    EXPECT_EQ(SummaryLines(summary, "  outline "), Lines{layout + " @1"}) << name;
  }
}

TEST_F(Cli, ConvertsTheActiveLayoutOnItsPaper) {
  const CliRun run = Convert(
      {"--layout", "active", "-o", Out("active.pdf"), (kExamples / "floorplan.dxf").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("active.pdf")));
  const std::string summary = Summary(Out("active.pdf"));
  EXPECT_EQ(SummaryLines(summary, "page 1 "), Lines{"1190x841"});
  EXPECT_EQ(SummaryLines(summary, "  outline "), Lines{"Plan A3 @1"});
  EXPECT_NE(run.err.find("The page size been adjusted by layout !"), std::string::npos);
}

TEST_F(Cli, ExamplesAreWhatTheirScriptWrites) {
  std::string output;
  ASSERT_EQ(testsupport::RunCommand(testsupport::Python() + " " +
                                        (kExamples / "make_examples.py").string() + " " +
                                        dir.Path().string(),
                                    output),
            0)
      << output;
  for (const std::string& name : With(kExampleNames, {"logo"})) {
    const std::string file = name + (name == "logo" ? ".png" : ".dxf");
    EXPECT_EQ(ReadFile(dir / file), ReadFile(kExamples / file))
        << file << " differs from what examples/make_examples.py writes";
  }
}

TEST_F(Cli, DrawsTheHouseSheetsAtTheirScalesWithTheLogoAndWithoutViewportFrames) {
  const CliRun run = Convert(
      {"--layout", "paper", "-o", Out("house.pdf"), (kExamples / "house.dxf").string(), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("house.pdf")));
  EXPECT_EQ(JsonList(run.out, "warnings"), Lines{}) << "the logo is found beside the drawing";
  const std::string summary = Summary(Out("house.pdf"));
  EXPECT_EQ(SummaryLines(summary, "page 1 "), Lines{"1190x841"});
  EXPECT_EQ(SummaryLines(summary, "page 2 "), Lines{"1190x841"});
  EXPECT_GE(Count(ReadFile(Out("house.pdf")), "/Subtype /Image"), 1) << "the logo";
  const Lines layers = SummaryLines(summary, "ocg ");
  for (const char* layer : {"A-WALL", "A-WALL-PATT", "A-DOOR", "A-GLAZ", "A-FURN", "A-FLOR-PATT",
                            "A-ANNO-DIMS", "A-ANNO-DIMS-20", "TITLE"}) {
    EXPECT_NE(std::find(layers.begin(), layers.end(), layer), layers.end()) << layer;
  }
  EXPECT_EQ(std::find(layers.begin(), layers.end(), "VIEWPORTS"), layers.end())
      << "the viewports lie on a layer that is not plotted";
}

TEST_F(Cli, LeavesLayersOutWhenAsked) {
  const CliRun run = Convert(With({"--no-layers", "-o", Out("plain.pdf")}, Examples()));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("plain.pdf")));
  EXPECT_TRUE(SummaryLines(Summary(Out("plain.pdf")), "ocg ").empty());
}

TEST_F(Cli, StartsFromTheSavedOptionsWithSaved) {
  CConvertSettings saved;
  saved.Layout = LayoutChoice::ModelSpace;
  saved.PdfType = OutputType::Merged;
  saved.TargetPdf = Out("saved.pdf");
  saved.PdfWidth = 8.5;
  saved.PdfHeight = 11;
  saved.Units = PaperUnit::Inch;
  CRegistry store(dir / "registry.reg");
  saved.SaveSettings(store);

  CliRun run = Convert(With({"--saved"}, Examples()));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("saved.pdf")));
  const std::string summary = Summary(Out("saved.pdf"));
  EXPECT_EQ(SummaryLines(summary, "pages "), Lines{std::to_string(kExampleNames.size())})
      << "model space only";
  EXPECT_EQ(SummaryLines(summary, "page 1 "), Lines{"612x792"});

  // Without --saved the built-in defaults hold.
  run = Convert({"-o", Out("defaults.pdf"), Examples()[0]});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(PageCount(Out("defaults.pdf")), 3);
}

// ---------------------------------------------------------------------------------------------
// Exit statuses.

TEST_F(Cli, ReportsAMissingDrawingAndConvertsTheOthers) {
  const std::string missing = Out("missing.dxf");
  const CliRun run = Convert({"--json", "-o", Out("all.pdf"), missing, Examples()[0]});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("No such file: " + missing + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(JsonList(run.out, "results"), Lines{Out("all.pdf")});
  EXPECT_EQ(JsonList(run.out, "failed"), Lines{missing});
  EXPECT_NE(run.out.find("\"status\": 2}"), std::string::npos);
  EXPECT_EQ(PageCount(Out("all.pdf")), 3);
}

TEST_F(Cli, CountsADrawingItCannotReadAsFailed) {
  testsupport::WriteFile(dir / "broken.dxf", "0\nSECTION\n2\nENTITIES\nthis is not a drawing");
  testsupport::WriteFile(dir / "notes.txt", "not a drawing");
  const CliRun run = Convert({"--json", "-t", "per-drawing", "-o", Out("out"), Out("broken.dxf"),
                              Out("notes.txt"), Examples()[1]});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("Can not open drawing file: " + Out("notes.txt")), std::string::npos);
  EXPECT_NE(run.err.find("Convert " + Out("notes.txt") + " failure!"), std::string::npos);
  EXPECT_EQ(JsonList(run.out, "results").back(), Out("out/colours.pdf"));
  const Lines failed = JsonList(run.out, "failed");
  EXPECT_NE(std::find(failed.begin(), failed.end(), Out("notes.txt")), failed.end());
  for (const std::string& pdf : JsonList(run.out, "results")) EXPECT_TRUE(CheckPdfFile(pdf));
}

TEST_F(Cli, NamesTheReasonWhenADrawingCannotBeRead) {
  // A drawing is known by its bytes: a DWF named .dxf is a DWF, here a damaged one.
  testsupport::WriteFile(dir / "sheet.dxf", "(DWF V06.00)PK\3\4");
  const CliRun run = Convert({"-o", Out("all.pdf"), Out("sheet.dxf"), Examples()[1]});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("Can not open drawing file: " + Out("sheet.dxf") +
                         "\nReason: the package's archive cannot be read"),
            std::string::npos)
      << run.err;
  EXPECT_GT(PageCount(Out("all.pdf")), 0) << "the other drawing is converted";
}

TEST_F(Cli, EndsWithUsageErrorsOnOneLine) {
  const struct {
    Lines args;
    std::string message;
  } cases[] = {
      {{"--scale", "0", "a.dxf"}, "tarnvelox-cli: --scale: "},
      {{"--dpi", "5", "a.dxf"}, "tarnvelox-cli: --dpi: "},
      {{"--bogus", "a.dxf"}, "tarnvelox-cli: --bogus: "},
      {{"-t", "merge", "a.dxf"}, "tarnvelox-cli: You must input a PDF filename first!\n"},
      {{}, "tarnvelox-cli: no drawing given"},
      {{"--pen-set", "NoSuchSet", "a.dxf"}, "tarnvelox-cli: --pen-set: "},
  };
  for (const auto& c : cases) {
    const CliRun run = Convert(c.args);
    EXPECT_EQ(run.status, 64) << c.message;
    EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
    EXPECT_EQ(Count(run.err, "\n"), 1) << run.err;
  }
}

TEST_F(Cli, RefusesAPageWithoutWidthWithStatusOne) {
  const CliRun run = Convert({"--size", "0x210mm", "-o", Out("all.pdf"), "--json", Examples()[0]});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Parameter error! The width or height of PDF must be greater than 0."),
            std::string::npos);
  EXPECT_EQ(run.out, "{\"results\": [], \"drawings\": [], \"failed\": [], \"status\": 1}\n");
  EXPECT_FALSE(fs::exists(Out("all.pdf")));
  // -q still shows the message.
  const CliRun quiet = Convert({"-q", "--size", "8x0in", "-o", Out("all.pdf"), Examples()[0]});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.err, "Parameter error! The width or height of PDF must be greater than 0.\n");
}

// ---------------------------------------------------------------------------------------------
// Pen sets: plot style tables, pen-set files, and copying sets between the store and files.

// The page contents of a file, inflated, one after another.
std::string PageOperators(const fs::path& pdf, const fs::path& folder) {
  std::string output;
  const fs::path plain = folder / ("qdf-" + pdf.filename().string());
  testsupport::RunCommand(
      "qpdf --qdf --object-streams=disable '" + pdf.string() + "' '" + plain.string() + "'",
      output);
  return ReadFile(plain);
}

TEST_F(Cli, DrawsWithTheWidthsOfAPlotStyleTable) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  const std::string colours = (kExamples / "colours.dxf").string();
  CliRun run = Convert({"-o", Out("plain.pdf"), colours});
  ASSERT_EQ(run.status, 0) << run.err;
  // Colour 1 of this table is a 0.80 mm pen: 2.268 points.
  run = Convert(
      {"--ctb", (shared / "corpus/ctb/ezdxf_ctbtest.ctb").string(), "-o", Out("ctb.pdf"), colours});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("ctb.pdf")));
  EXPECT_NE(PageOperators(Out("ctb.pdf"), dir.Path()).find(" 2.268 w "), std::string::npos);
  EXPECT_EQ(PageOperators(Out("plain.pdf"), dir.Path()).find(" 2.268 w "), std::string::npos);

  // A named table is refused before anything is converted.
  run = Convert(
      {"--ctb", (shared / "corpus/ctb/ezdxf_stbtest.stb").string(), "-o", Out("stb.pdf"), colours});
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(Count(run.err, "\n"), 1);
  EXPECT_NE(run.err.find("--ctb: cannot read the plot style table"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Out("stb.pdf")));
}

TEST_F(Cli, SaysWhyLayoutsAfterTheLastPageGiveNone) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  // Seven sheets whose viewports show an empty model space, all after the model page.
  const std::string drawing =
      (shared / "corpus/dxf/layouts/libredwg_PolyLine2D_7layouts_A0-A4_R2000.dxf").string();
  const CliRun run = Convert({"--json", "-o", Out("sheets.pdf"), drawing});
  ASSERT_EQ(run.status, 0) << run.err;
  const Lines warnings = JsonList(run.out, "warnings");
  for (const char* layout : {"A0", "A4", "Layout1", "Layout2"}) {
    const std::string said =
        std::string("the layout \\\"") + layout + "\\\" is empty and gives no page";
    EXPECT_NE(std::find(warnings.begin(), warnings.end(), said), warnings.end()) << run.out;
  }
  EXPECT_TRUE(CheckPdfFile(Out("sheets.pdf")));
}

TEST_F(Cli, PlotsALayoutWithTheTableItsPageSetUpNames) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  // Model space's page set-up names a table by a path of another machine; the table is in a
  // search folder. Colour 1 of this table is a 0.80 mm pen: 2.268 points.
  const std::string groups[] = {"0",   "SECTION",
                                "2",   "HEADER",
                                "9",   "$ACADVER",
                                "1",   "AC1015",
                                "0",   "ENDSEC",
                                "0",   "SECTION",
                                "2",   "TABLES",
                                "0",   "TABLE",
                                "2",   "BLOCK_RECORD",
                                "0",   "BLOCK_RECORD",
                                "5",   "1F",
                                "100", "AcDbSymbolTableRecord",
                                "100", "AcDbBlockTableRecord",
                                "2",   "*Model_Space",
                                "0",   "ENDTAB",
                                "0",   "ENDSEC",
                                "0",   "SECTION",
                                "2",   "ENTITIES",
                                "0",   "LINE",
                                "8",   "0",
                                "62",  "1",
                                "10",  "0",
                                "20",  "0",
                                "11",  "100",
                                "21",  "50",
                                "0",   "ENDSEC",
                                "0",   "SECTION",
                                "2",   "OBJECTS",
                                "0",   "LAYOUT",
                                "5",   "52",
                                "100", "AcDbPlotSettings",
                                "1",   "",
                                "7",   "C:\\Plot Styles\\EZDXF_CTBTEST.CTB",
                                "100", "AcDbLayout",
                                "1",   "Model",
                                "71",  "0",
                                "330", "1F",
                                "0",   "ENDSEC",
                                "0",   "EOF"};
  std::string text;
  for (const std::string& line : groups) text += line + "\n";
  const fs::path drawing = dir.Path() / "styled.dxf";
  testsupport::WriteFile(drawing, text);
  const fs::path tables = dir.Path() / "tables";
  fs::create_directories(tables);
  fs::copy_file(shared / "corpus/ctb/ezdxf_ctbtest.ctb", tables / "ezdxf_ctbtest.ctb");

  CliRun run = Convert({"-o", Out("plain.pdf"), drawing.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(PageOperators(Out("plain.pdf"), dir.Path()).find(" 2.268 w "), std::string::npos)
      << "a table that is not found changes nothing";
  run = Convert({"--search-path", tables.string(), "-o", Out("styled.pdf"), drawing.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("styled.pdf")));
  EXPECT_NE(PageOperators(Out("styled.pdf"), dir.Path()).find(" 2.268 w "), std::string::npos);
  EXPECT_NE(
      run.err.find("Plot style table of the layout: " + (tables / "ezdxf_ctbtest.ctb").string()),
      std::string::npos)
      << run.err;
  // Pens the user chose win over the layout's.
  run = Convert({"--search-path", tables.string(), "--ctb",
                 (shared / "corpus/ctb/mod2_acad.ctb").string(), "-o", Out("chosen.pdf"),
                 drawing.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("Plot style table of the layout"), std::string::npos) << run.err;
}

TEST_F(Cli, PlotsANamedStyleDrawingWithTheNamedTableItsPageSetUpNames) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  // A drawing in named plot style mode: layer PIPES names the style "mozman" (magenta, 0.13 mm:
  // 0.369 points) of the table model space's page set-up names; the table is in a search folder.
  std::string text;
  for (const char* line : {"0",   "SECTION",
                           "2",   "HEADER",
                           "9",   "$ACADVER",
                           "1",   "AC1015",
                           "9",   "$PSTYLEMODE",
                           "290", "0",
                           "0",   "ENDSEC",
                           "0",   "SECTION",
                           "2",   "TABLES",
                           "0",   "TABLE",
                           "2",   "LAYER",
                           "0",   "LAYER",
                           "5",   "30",
                           "2",   "PIPES",
                           "70",  "0",
                           "62",  "3",
                           "390", "A1",
                           "0",   "ENDTAB",
                           "0",   "TABLE",
                           "2",   "BLOCK_RECORD",
                           "0",   "BLOCK_RECORD",
                           "5",   "1F",
                           "100", "AcDbSymbolTableRecord",
                           "100", "AcDbBlockTableRecord",
                           "2",   "*Model_Space",
                           "0",   "ENDTAB",
                           "0",   "ENDSEC",
                           "0",   "SECTION",
                           "2",   "ENTITIES",
                           "0",   "LINE",
                           "8",   "PIPES",
                           "10",  "0",
                           "20",  "0",
                           "11",  "100",
                           "21",  "50",
                           "0",   "ENDSEC",
                           "0",   "SECTION",
                           "2",   "OBJECTS",
                           "0",   "ACDBDICTIONARYWDFLT",
                           "5",   "E",
                           "100", "AcDbDictionary",
                           "3",   "Normal",
                           "350", "A0",
                           "3",   "mozman",
                           "350", "A1",
                           "0",   "ACDBPLACEHOLDER",
                           "5",   "A0",
                           "0",   "ACDBPLACEHOLDER",
                           "5",   "A1",
                           "0",   "LAYOUT",
                           "5",   "52",
                           "100", "AcDbPlotSettings",
                           "1",   "",
                           "7",   "C:\\Plot Styles\\EZDXF_STBTEST.STB",
                           "100", "AcDbLayout",
                           "1",   "Model",
                           "71",  "0",
                           "330", "1F",
                           "0",   "ENDSEC",
                           "0",   "EOF"}) {
    text += std::string(line) + "\n";
  }
  testsupport::TempDir dir;
  const fs::path drawing = dir.Path() / "named.dxf";
  testsupport::WriteFile(drawing, text);
  const fs::path tables = dir.Path() / "tables";
  fs::create_directories(tables);
  fs::copy_file(shared / "corpus/ctb/ezdxf_stbtest.stb", tables / "ezdxf_stbtest.stb");

  CliRun run = Convert({"-o", Out("plain.pdf"), drawing.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string plain = PageOperators(Out("plain.pdf"), dir.Path());
  EXPECT_EQ(plain.find("1 0.0 1 RG"), std::string::npos) << "a table that is not found: " << plain;
  run = Convert({"--search-path", tables.string(), "-o", Out("styled.pdf"), drawing.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(CheckPdfFile(Out("styled.pdf")));
  const std::string styled = PageOperators(Out("styled.pdf"), dir.Path());
  EXPECT_NE(styled.find("1 0.0 1 RG"), std::string::npos) << styled;
  EXPECT_NE(styled.find(" 0.369 w "), std::string::npos) << styled;
  EXPECT_NE(
      run.err.find("Plot style table of the layout: " + (tables / "ezdxf_stbtest.stb").string()),
      std::string::npos)
      << run.err;
}

TEST_F(Cli, CopiesPenSetsBetweenTheStoreAndAFile) {
  {
    CRegistry store(dir / "registry.reg");
    CPenSet set;
    for (int i = 0; i < 256; ++i) set.entries[i] = {0.01, std::int16_t(i)};
    SavePenSet(set, "Thin", store);
    for (int i = 0; i < 256; ++i) set.entries[i] = {0.05, std::int16_t(7)};
    SavePenSet(set, "Bold", store);
  }
  CliRun run = Convert({"--export-pen-sets", Out("sets.cps")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::file_size(Out("sets.cps")), 26u + (4 + 2561) + (4 + 2561));
  run = Convert({"--export-pen-sets", Out("one.cps"), "bold"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::file_size(Out("one.cps")), 26u + 4 + 2561);

  // Into another store: new sets are stored, a set of the same name only with --overwrite.
  setenv("TARNVELOX_REGISTRY", Out("other.reg").c_str(), 1);
  {
    CRegistry other(dir / "other.reg");
    CPenSet mine;
    SavePenSet(mine, "BOLD", other);
  }
  run = Convert({"--import-pen-sets", Out("sets.cps")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Skipped pen set 'Bold'"), std::string::npos) << run.err;
  {
    CRegistry other(dir / "other.reg");
    std::array<PenEntry, 256> entries;
    LoadPenSet("Thin", entries, other);
    EXPECT_EQ(entries[9].width, 0.01);
    LoadPenSet("Bold", entries, other);
    EXPECT_EQ(entries[9].width, 0.0) << "the stored set is kept";
  }
  run = Convert({"--import-pen-sets", Out("sets.cps"), "--overwrite", "bold"});
  ASSERT_EQ(run.status, 0) << run.err;
  {
    CRegistry other(dir / "other.reg");
    std::array<PenEntry, 256> entries;
    LoadPenSet("Bold", entries, other);
    EXPECT_EQ(entries[9].width, 0.05);
    EXPECT_EQ(entries[9].destColor, 7);
  }

  // The run can draw with a set of the file without storing it.
  run = Convert({"--pen-file", Out("sets.cps"), "--pen-set", "thin", "-o", Out("thin.pdf"),
                 (kExamples / "bracket.dxf").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(CheckPdfFile(Out("thin.pdf")));

  // Bad files and names change nothing in the store.
  const std::string before = ReadFile(dir / "other.reg");
  std::string cut = ReadFile(dir / "sets.cps");
  cut.resize(cut.size() - 100);
  testsupport::WriteFile(dir / "cut.cps", cut);
  testsupport::WriteFile(dir / "text.cps", "not a pen-set file");
  for (const Lines& args :
       {Lines{"--import-pen-sets", Out("cut.cps"), "--overwrite"},
        Lines{"--import-pen-sets", Out("text.cps")}, Lines{"--import-pen-sets", Out("missing.cps")},
        Lines{"--import-pen-sets", Out("sets.cps"), "Nobody"},
        Lines{"--pen-file", Out("cut.cps"), "--pen-set", "Bold", "-o", Out("x.pdf"),
              (kExamples / "bracket.dxf").string()}}) {
    run = Convert(args);
    EXPECT_EQ(run.status, 64) << args[1];
    EXPECT_EQ(Count(run.err, "\n"), 1) << run.err;
  }
  EXPECT_EQ(ReadFile(dir / "other.reg"), before);
  EXPECT_FALSE(fs::exists(Out("x.pdf")));
}

// ---------------------------------------------------------------------------------------------
// Hostile and damaged input: pen-set files, set names and the settings store.

TEST_F(Cli, AnImportThatCannotWriteTheStoreSaysSoWithStatus73) {
  testsupport::WriteFile(dir / "sets.cps", PenSetFileBytes({"Thin", "Bold"}));
  testsupport::WriteFile(dir / "plain", "a file, not a folder");
  fs::create_directory(dir / "folder.reg");
  Lines stores = {
      Out("plain/registry.reg"),      // its folder is a file
      Out("folder.reg"),              // a folder where the file should be
      "/dev/full",                    // a device
      "/proc/tarnvelox/registry.reg"  // a folder that not even root can make
  };
  if (geteuid() != 0) {
    // Root writes into a read-only folder all the same; the cases above hold for root too.
    fs::create_directory(dir / "readonly");
    fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
    stores.push_back(Out("readonly/registry.reg"));
  }
  for (const std::string& store : stores) {
    setenv("TARNVELOX_REGISTRY", store.c_str(), 1);
    const CliRun run = Convert({"--import-pen-sets", Out("sets.cps")});
    EXPECT_EQ(run.status, 73) << store << "\n" << run.err;
    EXPECT_NE(run.err.find("cannot write the settings store " + store + "; nothing was imported"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("Imported"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::is_empty(dir / "folder.reg"));

  // A full disk: the write fails half-way. A limit on the size of the files the program writes
  // does that for root too (with SIGXFSZ ignored, the write fails with EFBIG).
  setenv("TARNVELOX_REGISTRY", Out("registry.reg").c_str(), 1);
  {
    CRegistry store(dir / "registry.reg");
    ASSERT_TRUE(store.CreateKey("Before"));
  }
  const std::string before = ReadFile(dir / "registry.reg");
  std::string output;
  const int status = testsupport::RunCommand("trap '' XFSZ; ulimit -f 8; exec '" TARNVELOX_CLI
                                             "' --import-pen-sets '" +
                                                 Out("sets.cps") + "'",
                                             output);
  EXPECT_EQ(status, 73) << output;
  EXPECT_NE(output.find("cannot write the settings store"), std::string::npos) << output;
  EXPECT_EQ(ReadFile(dir / "registry.reg"), before);

  const CliRun run = Convert({"--import-pen-sets", Out("sets.cps")});
  EXPECT_EQ(run.status, 0) << "the same import into a store that can be written\n" << run.err;
  CRegistry store(dir / "registry.reg");
  EXPECT_EQ(StoredPenSetNames(store), (Lines{"Thin", "Bold"}));
}

TEST_F(Cli, RefusesToImportASetWhoseNameTheStoreCannotHold) {
  testsupport::WriteFile(dir / "long.cps",
                         PenSetFileBytes({"First", std::string(512, 'L'), "Last"}));
  testsupport::WriteFile(dir / "slash.cps", PenSetFileBytes({"Pens\\A3"}));
  testsupport::WriteFile(dir / "lines.cps", PenSetFileBytes({"two\nlines"}));
  const struct {
    const char* file;
    const char* shown;
  } cases[] = {
      {"long.cps", "LLL... (512 bytes)' in "},
      {"slash.cps", "'Pens\\A3' in "},
      {"lines.cps", "'two\\nlines' in "},
  };
  for (const auto& c : cases) {
    const CliRun run = Convert({"--import-pen-sets", Out(c.file)});
    EXPECT_EQ(run.status, 64) << c.file << "\n" << run.err;
    EXPECT_EQ(Count(run.err, "\n"), 1) << run.err;
    EXPECT_NE(run.err.find(c.shown), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("cannot be stored"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "registry.reg")) << "something was stored";

  // The other sets of the file, named, are imported, and both are listed.
  const CliRun run = Convert({"--import-pen-sets", Out("long.cps"), "First", "Last"});
  ASSERT_EQ(run.status, 0) << run.err;
  CRegistry store(dir / "registry.reg");
  EXPECT_EQ(StoredPenSetNames(store), (Lines{"First", "Last"}));
}

TEST_F(Cli, RefusesAFifoOrADeviceAsAPenFileWithoutWaitingOnIt) {
  testsupport::CFifoWatch fifo(dir / "pens.ctb");
  ASSERT_TRUE(fifo.Made());
  const std::string bracket = (kExamples / "bracket.dxf").string();
  for (const std::string& file : {Out("pens.ctb"), std::string("/dev/zero")}) {
    for (const Lines& args :
         {Lines{"--ctb", file, "-o", Out("x.pdf"), bracket},
          Lines{"--pen-file", file, "--pen-set", "Thin", "-o", Out("x.pdf"), bracket},
          Lines{"--import-pen-sets", file}}) {
      const CliRun run = Convert(args);
      EXPECT_EQ(run.status, 64) << args[0] << " " << file << "\n" << run.err;
      EXPECT_EQ(Count(run.err, "\n"), 1) << run.err;
      EXPECT_NE(run.err.find(args[0] + ": "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(file == "/dev/zero" ? "a device" : "a FIFO"), std::string::npos)
          << run.err;
    }
  }
  EXPECT_FALSE(fifo.Opened()) << "a FIFO was opened";
  EXPECT_FALSE(fs::exists(Out("x.pdf")));
  EXPECT_FALSE(fs::exists(dir / "registry.reg"));
}

TEST_F(Cli, ARunUsesWhatItCanOfADamagedOrRefusedStoreAndSaysSoOnce) {
  {
    CRegistry store(dir / "registry.reg");
    CPenSet set;
    for (int i = 0; i < 256; ++i) set.entries[i] = {0.05, std::int16_t(i)};
    ASSERT_TRUE(SavePenSet(set, "Bold", store));
  }
  const std::string damaged = ReadFile(dir / "registry.reg") + "\"Broken\"=oops\n";
  testsupport::WriteFile(dir / "registry.reg", damaged);
  const std::string bracket = (kExamples / "bracket.dxf").string();
  CliRun run = Convert({"--saved", "--pen-set", "bold", "-o", Out("bold.pdf"), bracket});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.err, "damaged line"), 1) << run.err;
  EXPECT_EQ(ReadFile(dir / "registry.reg.bad"), damaged);
  run = Convert({"--saved", "--pen-set", "bold", "-o", Out("bold.pdf"), bracket});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.err, "damaged line"), 0) << "the store was not mended\n" << run.err;

  testsupport::CFifoWatch fifo(dir / "fifo.reg");
  ASSERT_TRUE(fifo.Made());
  setenv("TARNVELOX_REGISTRY", Out("fifo.reg").c_str(), 1);
  run = Convert({"--saved", "-o", Out("plain.pdf"), bracket});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.err, "is not read: it is a FIFO"), 1) << run.err;
  EXPECT_FALSE(fifo.Opened()) << "the store opened a FIFO";
}

TEST_F(Cli, ConvertsTheDrawingsOfAFolderInTheWizardsOrder) {
  // Drawings by kind (DWG, DXF, DWF), each kind by name without regard to case, then the
  // subfolders; hidden files and other files are left out.
  fs::create_directories(dir / "plans" / "sub");
  const std::string example = ReadFile(Examples()[1]);
  for (const char* name : {"b.dxf", "A.DXF", "c.txt", ".hidden.dxf", "sub/z.dxf"}) {
    testsupport::WriteFile(dir / "plans" / name, example);
  }
  CliRun run = Convert({"--json", "-t", "per-drawing", "-o", Out("flat"), Out("plans")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(JsonList(run.out, "results"), (Lines{Out("flat/A.pdf"), Out("flat/b.pdf")}));

  run = Convert({"--json", "-r", "-t", "per-drawing", "-o", Out("deep"), Out("plans")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(JsonList(run.out, "results"),
            (Lines{Out("deep/A.pdf"), Out("deep/b.pdf"), Out("deep/z.pdf")}));

  // A list of paths, one a line, and a drawing named twice is converted once.
  testsupport::WriteFile(dir / "list.txt", Out("plans/b.dxf") + "\n\n# a comment\n" +
                                               Out("plans/sub/z.dxf") + "\r\n" +
                                               Out("plans/b.dxf") + "\n");
  run = Convert({"--json", "--from-list", Out("list.txt"), "-o", Out("listed.pdf")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"pages\""), std::string::npos);
  EXPECT_EQ(SummaryLines(Summary(Out("listed.pdf")), "outline ").size(),
            SummaryLines(Summary(Out("flat/b.pdf")), "outline ").size() * 2)
      << "two drawings, each with its bookmarks";
}

// A run whose drawings are large (named, or in a list file) starts itself once more, with huge
// pages asked of the allocator: that start sees the same arguments and lists, and writes the
// same file and log as a run that needs no second start (its tunables already name huge pages).
TEST_F(Cli, ALargeRunStartedAgainForHugePagesWritesWhatAnyRunWrites) {
  // The bracket behind a 17 MB comment.
  testsupport::WriteFile(dir / "large.dxf", "999\n" + std::string(17 << 20, 'x') + "\n" +
                                                testsupport::ReadFile(kExamples / "bracket.dxf"));
  testsupport::WriteFile(dir / "small.txt", (kExamples / "house.dxf").string() + "\n");
  testsupport::WriteFile(dir / "large.txt", Out("large.dxf") + "\n");
  const Lines runs[] = {
      {"--from-list", Out("small.txt"), "-o", Out("both.pdf"), Out("large.dxf")},
      {"--from-list=" + Out("large.txt"), "-o", Out("both.pdf"), (kExamples / "house.dxf")}};
  for (const Lines& args : runs) {
    unsetenv("GLIBC_TUNABLES");
    const CliRun again = Convert(args);
    ASSERT_EQ(again.status, 0) << again.err;
    const std::string startedAgain = testsupport::ReadFile(Out("both.pdf"));
    setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=0", 1);
    const CliRun once = Convert(args);
    unsetenv("GLIBC_TUNABLES");
    ASSERT_EQ(once.status, 0) << once.err;
    EXPECT_EQ(again.err, once.err);
    EXPECT_TRUE(startedAgain == testsupport::ReadFile(Out("both.pdf")));
    const Lines drawings = SummaryLines(Summary(Out("both.pdf")), "outline ");
    EXPECT_NE(std::find(drawings.begin(), drawings.end(), "large @-"), drawings.end());
    EXPECT_NE(std::find(drawings.begin(), drawings.end(), "house @-"), drawings.end());
  }
}

TEST_F(Cli, PrintsHelpAndVersion) {
  CliRun run = Convert({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: tarnvelox-cli [OPTIONS] DRAWING|FOLDER...", 0), 0u);
  run = Convert({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("tarnvelox-cli ", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Stop.

TEST_F(Cli, StopsOnSigintWithStatusFourAndNoMergedFile) {
  // A long run: the examples over and over.
  Lines args = {"-o", Out("all.pdf")};
  for (int i = 0; i < 400; ++i) {
    const Lines examples = Examples();
    args.insert(args.end(), examples.begin(), examples.end());
  }
  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t pid = Spawn(args, dir / "run");
    ASSERT_GT(pid, 0);
    // Wait until the run has begun converting.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(dir / "run/stderr").find("Converting layout: ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, signal);
    EXPECT_EQ(WaitFor(pid), 4);
    const std::string err = ReadFile(dir / "run/stderr");
    EXPECT_EQ(Count(err, "User break!\n"), 1)
        << err.substr(err.size() > 300 ? err.size() - 300 : 0);
    EXPECT_EQ(err.find("End convert."), std::string::npos);
    EXPECT_FALSE(fs::exists(Out("all.pdf"))) << "a stopped merge writes no file";
  }
}

TEST_F(Cli, KeepsTheFilesSavedBeforeAStop) {
  Lines args = {"-t", "per-drawing", "-o", Out("each"), "--json"};
  for (int i = 0; i < 400; ++i) {
    // Distinct names, so that each drawing has its own file.
    const fs::path copy = dir / ("d" + std::to_string(i) + ".dxf");
    fs::copy_file(kExamples / "floorplan.dxf", copy);
    args.push_back(copy.string());
  }
  const pid_t pid = Spawn(args, dir / "run");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Count(ReadFile(dir / "run/stderr"), "Save result to") < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGINT);
  EXPECT_EQ(WaitFor(pid), 4);
  const Lines results = JsonList(ReadFile(dir / "run/stdout"), "results");
  EXPECT_GE(results.size(), 2u);
  EXPECT_LT(results.size(), 400u);
  for (const std::string& pdf : results) EXPECT_TRUE(CheckPdfFile(pdf));
}

// ---------------------------------------------------------------------------------------------
// The shared corpus.

class CliCorpus : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    const fs::path shared = testsupport::SharedDir();
    if (shared.empty() || !fs::is_directory(shared / "corpus/dxf")) {
      GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    for (const auto& entry : fs::recursive_directory_iterator(shared / "corpus/dxf")) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (entry.is_regular_file() && ext == ".dxf") drawings.push_back(entry.path().string());
    }
    std::sort(drawings.begin(), drawings.end());
  }
  Lines drawings;
};

// The page count written in the page tree root, read without a PDF reader.
int PagesOf(const std::string& pdf) {
  static const std::regex count("/Count (\\d+)>>$");
  std::smatch m;
  const std::string root = testsupport::ObjectText(ReadFile(pdf), 3);
  return std::regex_search(root, m, count) ? std::stoi(m[1]) : -1;
}

TEST_F(CliCorpus, ConvertsEveryDrawingInEveryMode) {
  ASSERT_FALSE(drawings.empty());
  // Merge: one file, a bookmark per drawing with one below it per page.
  CliRun run = Convert(With({"-q", "--json", "-o", Out("merge/all.pdf")}, drawings));
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(CheckPdfFile(Out("merge/all.pdf")));
  const std::string merged = Summary(Out("merge/all.pdf"));
  const int pages = std::stoi(SummaryLines(merged, "pages ").at(0));
  EXPECT_EQ(SummaryLines(merged, "outline ").size(), drawings.size());
  const Lines layoutTitles = SummaryLines(merged, "  outline ");
  EXPECT_EQ(layoutTitles.size(), static_cast<std::size_t>(pages));
  EXPECT_FALSE(SummaryLines(merged, "ocg ").empty());

  // One file per drawing in the output folder, holding the same pages.
  run = Convert(With({"-q", "--json", "-t", "per-drawing", "-o", Out("each")}, drawings));
  EXPECT_EQ(run.status, 0) << run.out;
  const Lines each = JsonList(run.out, "results");
  EXPECT_EQ(each.size(), drawings.size());
  int eachPages = 0;
  for (const std::string& pdf : each) {
    EXPECT_TRUE(CheckPdfFile(pdf));
    eachPages += PagesOf(pdf);
  }
  EXPECT_EQ(eachPages, pages);

  // One file per layout: a file per page of the merged run, in the same order, each named
  // after its drawing and layout.
  run = Convert(With({"-q", "--json", "-t", "per-layout", "-o", Out("layouts")}, drawings));
  EXPECT_EQ(run.status, 0) << run.out;
  const Lines layouts = JsonList(run.out, "results");
  ASSERT_EQ(layouts.size(), layoutTitles.size());
  for (std::size_t i = 0; i < layouts.size(); ++i) {
    EXPECT_TRUE(CheckPdfFile(layouts[i]));
    EXPECT_EQ(PagesOf(layouts[i]), 1) << layouts[i];
    // "  outline NAME @N" of the merged file: the layout's name.
    std::string safe = layoutTitles[i].substr(0, layoutTitles[i].rfind(" @"));
    std::replace(safe.begin(), safe.end(), '/', '_');
    EXPECT_TRUE(layouts[i].ends_with("-" + safe + ".pdf")) << layouts[i] << " for " << safe;
  }
}
