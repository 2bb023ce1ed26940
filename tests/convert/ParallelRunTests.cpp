// Runs of the real drawing library side by side in one process: each owns its settings, pens
// and search folders, and writes what it writes alone.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "convert/ConvertJob.h"
#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class CQuietListener : public CConvertListener {
 public:
  void AppendLog(std::string_view text) override { log.emplace_back(text); }
  void SetStatusText(std::string_view) override {}
  std::vector<std::string> log;
};

// A 2 × 2 picture of one colour, as a 24-bit BMP file.
std::string Bmp(unsigned char red, unsigned char green, unsigned char blue) {
  std::string file = "BM";
  const auto put32 = [&file](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<char>(v >> (8 * i)));
  };
  const auto put16 = [&file](std::uint16_t v) {
    file.push_back(static_cast<char>(v));
    file.push_back(static_cast<char>(v >> 8));
  };
  put32(54 + 16);
  put32(0);
  put32(54);
  put32(40);
  put32(2);
  put32(2);
  put16(1);
  put16(24);
  put32(0);
  put32(16);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int row = 0; row < 2; ++row) {
    for (int x = 0; x < 2; ++x)
      file += {static_cast<char>(blue), static_cast<char>(green), static_cast<char>(red)};
    file += std::string(2, '\0');  // rows padded to 4 bytes
  }
  return file;
}

// A line of colour 1 and a picture named by its bare file name, which only the search folders
// hold.
constexpr char kDrawing[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n"
    "0\nLINE\n8\n0\n62\n1\n10\n0\n20\n0\n11\n100\n21\n50\n"
    "0\nIMAGE\n8\n0\n10\n10\n20\n10\n11\n10\n21\n0\n12\n0\n22\n10\n13\n2\n23\n2\n340\nA1\n70\n1\n"
    "0\nENDSEC\n"
    "0\nSECTION\n2\nOBJECTS\n0\nIMAGEDEF\n5\nA1\n1\npicture.bmp\n10\n2\n20\n2\n0\nENDSEC\n"
    "0\nEOF\n";

struct RunOptions {
  CConvertSettings settings;
  CPenSet pens;
};

RunOptions MakeRun(const TempDir& dir, const std::string& name, std::int16_t pen, double width) {
  RunOptions run;
  const auto folder = dir / name;
  std::filesystem::create_directories(folder / "pictures");
  WriteFile(folder / "pictures" / "picture.bmp", name == "red" ? Bmp(255, 0, 0) : Bmp(0, 0, 255));
  WriteFile(folder / "plan.dxf", kDrawing);
  run.settings.SourceFiles = {(folder / "plan.dxf").string()};
  run.settings.BookmarkNames = {name};
  run.settings.TargetPdf = (folder / "plan.pdf").string();
  run.settings.SearchPaths = {(folder / "pictures").string()};
  run.settings.UsePenSets = 1;
  run.settings.Colors = ColorMode::TrueColors;
  run.pens.entries[1].destColor = pen;
  run.pens.entries[1].width = width;
  return run;
}

std::string RunAlone(const RunOptions& run, const std::string& copy) {
  CQuietListener listener;
  CConvertJob job(run.settings, run.pens, listener);
  EXPECT_TRUE(job.Start());
  job.Wait();
  const std::string bytes = ReadFile(run.settings.TargetPdf);
  WriteFile(copy, bytes);
  return bytes;
}

}  // namespace

TEST(ParallelRuns, EachJobWritesWithItsOwnPensAndSearchFoldersWhatItWritesAlone) {
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  TempDir dir;
  const RunOptions red = MakeRun(dir, "red", 5, 0.02);
  const RunOptions blue = MakeRun(dir, "blue", 3, 0.04);
  const std::string redAlone = RunAlone(red, (dir / "red-alone.pdf").string());
  const std::string blueAlone = RunAlone(blue, (dir / "blue-alone.pdf").string());
  ASSERT_FALSE(redAlone.empty());
  EXPECT_NE(redAlone, blueAlone) << "the pens and pictures differ, so must the files";
  EXPECT_TRUE(CheckPdfFile(dir / "red-alone.pdf"));
  EXPECT_TRUE(CheckPdfFile(dir / "blue-alone.pdf"));

  for (int round = 0; round < 3; ++round) {
    CQuietListener redListener, blueListener;
    CConvertJob redJob(red.settings, red.pens, redListener);
    CConvertJob blueJob(blue.settings, blue.pens, blueListener);
    ASSERT_TRUE(redJob.Start());
    ASSERT_TRUE(blueJob.Start());
    redJob.Wait();
    blueJob.Wait();
    EXPECT_EQ(ReadFile(red.settings.TargetPdf), redAlone) << "round " << round;
    EXPECT_EQ(ReadFile(blue.settings.TargetPdf), blueAlone) << "round " << round;
    EXPECT_EQ(redJob.FailedFiles.size() + blueJob.FailedFiles.size(), 0u);
  }
  // Each picture was found, in its run's own search folder only.
  EXPECT_NE(redAlone.find("/Subtype /Image"), std::string::npos);
  EXPECT_NE(blueAlone.find("/Subtype /Image"), std::string::npos);
}

namespace {

struct RunOutcome {
  std::vector<std::string> results, failed, log;
  std::vector<std::string> files;  // the bytes of each result, in order
};

class CLogListener : public CConvertListener {
 public:
  void AppendLog(std::string_view text) override { log.emplace_back(text); }
  void SetStatusText(std::string_view) override {}
  void StepProgress() override { ++steps; }
  std::vector<std::string> log;
  std::atomic<int> steps{0};
};

RunOutcome RunWithJobs(const CConvertSettings& settings, int jobs, int* steps = nullptr) {
  CLogListener listener;
  CConvertJob job(settings, CPenSet{}, listener);
  job.Jobs = jobs;
  EXPECT_TRUE(job.Start());
  job.Wait();
  RunOutcome outcome{job.ResultFiles, job.FailedFiles, listener.log, {}};
  for (const std::string& path : job.ResultFiles) outcome.files.push_back(ReadFile(path));
  if (steps) *steps = listener.steps;
  return outcome;
}

}  // namespace

TEST(ParallelRuns, DrawingsSideBySideGiveTheLogNamesAndFilesOfOneJob) {
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  TempDir dir;
  // Examples, two drawings of one name in different folders, one that is no drawing, one
  // missing: every kind of outcome, in an order the workers finish differently.
  const fs::path examples = fs::path(TARNVELOX_SOURCE_DIR) / "examples";
  CConvertSettings settings;
  for (const char* name : {"floorplan", "bracket", "colours"}) {
    settings.SourceFiles.push_back((examples / (std::string(name) + ".dxf")).string());
  }
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  fs::copy_file(examples / "bracket.dxf", dir / "a" / "plan.dxf");
  fs::copy_file(examples / "colours.dxf", dir / "b" / "plan.dxf");
  WriteFile(dir / "broken.dxf", "this is no drawing");
  for (const char* name : {"a/plan.dxf", "broken.dxf", "missing.dxf", "b/plan.dxf"}) {
    settings.SourceFiles.push_back((dir / name).string());
  }
  for (const std::string& path : settings.SourceFiles) {
    settings.BookmarkNames.push_back(fs::path(path).stem().string());
  }
  for (const OutputType type : {OutputType::PerDrawing, OutputType::PerLayout}) {
    settings.PdfType = type;
    settings.TargetPdf = (dir / "one").string();
    const RunOutcome one = RunWithJobs(settings, 1);
    fs::remove_all(dir / "one");
    int steps = 0;
    const RunOutcome three = RunWithJobs(settings, 3, &steps);
    EXPECT_EQ(three.results, one.results);
    EXPECT_EQ(three.failed, one.failed);
    EXPECT_EQ(three.log, one.log) << "the log of each drawing stays together, in list order";
    EXPECT_EQ(three.files, one.files) << "byte for byte";
    EXPECT_EQ(steps, static_cast<int>(settings.SourceFiles.size()));
    for (const std::string& path : three.results) EXPECT_TRUE(CheckPdfFile(path));
    // No temporary file is left beside the results.
    for (const auto& entry : fs::recursive_directory_iterator(dir / "one")) {
      EXPECT_EQ(entry.path().extension(), ".pdf") << entry.path();
    }
  }
  // One merged file: drawings are drawn side by side, each into a document of its own, and
  // appended in list order; the file is the one a single job writes.
  settings.PdfType = OutputType::Merged;
  settings.TargetPdf = (dir / "merged.pdf").string();
  const RunOutcome one = RunWithJobs(settings, 1);
  ASSERT_EQ(one.files.size(), 1u);
  for (int jobs : {2, 3}) {
    int steps = 0;
    const RunOutcome many = RunWithJobs(settings, jobs, &steps);
    EXPECT_EQ(many.results, one.results);
    EXPECT_EQ(many.failed, one.failed);
    EXPECT_EQ(many.log, one.log);
    EXPECT_EQ(many.files, one.files) << jobs << " jobs, byte for byte";
    EXPECT_EQ(steps, static_cast<int>(settings.SourceFiles.size()));
    EXPECT_TRUE(CheckPdfFile(settings.TargetPdf));
  }
}

TEST(ParallelRuns, StopEndsEveryWorkerAndLeavesNoTemporaryFile) {
  TempDir dir;
  const fs::path examples = fs::path(TARNVELOX_SOURCE_DIR) / "examples";
  CConvertSettings settings;
  for (int k = 0; k < 40; ++k) {
    settings.SourceFiles.push_back((examples / "floorplan.dxf").string());
    settings.BookmarkNames.push_back("plan");
  }
  settings.PdfType = OutputType::PerLayout;
  settings.TargetPdf = (dir / "out").string();
  CLogListener listener;
  CConvertJob job(settings, CPenSet{}, listener);
  job.Jobs = 2;
  ASSERT_TRUE(job.Start());
  // Stop once the first drawing is handed on, while the others are converting.
  while (listener.steps.load() == 0 && job.RunningFlag.load()) std::this_thread::yield();
  job.Stop();
  job.Wait();
  EXPECT_FALSE(job.RunningFlag.load());
  EXPECT_EQ(listener.log.back(), "User break!");
  for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
    EXPECT_EQ(entry.path().extension(), ".pdf") << "no temporary file is left: " << entry.path();
  }
}
