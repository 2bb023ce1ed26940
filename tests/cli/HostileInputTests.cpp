// tarnvelox-cli against damaged and crafted drawings and options: every run ends, every failure
// is told with its status, and no invalid PDF is reported as written. The drawings are small
// and made here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

extern char** environ;
namespace fs = std::filesystem;
using testsupport::CheckPdfFile;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

// A DXF of R12 form with these entity records ("0\nLINE\n…").
std::string Dxf(const std::string& entities, const std::string& tables = "") {
  return "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n" + tables +
         "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n";
}

const std::string kLine = "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n100\n21\n50\n";

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TARNVELOX_REGISTRY", (dir / "registry.reg").c_str(), 1);
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    fs::create_directory(dir / "run");
  }
  void TearDown() override {
    unsetenv("TARNVELOX_REGISTRY");
    unsetenv("SOURCE_DATE_EPOCH");
  }
  CliRun Convert(const Lines& args) {
    std::vector<std::string> argv = {TARNVELOX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "run/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "run/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    CliRun run;
    if (posix_spawn(&pid, TARNVELOX_CLI, &actions, nullptr, pointers.data(), environ) == 0) {
      int status = 0;
      if (waitpid(pid, &status, 0) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = testsupport::ReadFile(dir / "run/stdout");
    run.err = testsupport::ReadFile(dir / "run/stderr");
    return run;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir / name, bytes);
    return (dir / name).string();
  }
  std::string Out(const std::string& name) const { return (dir / name).string(); }
  // Whether the --json output parses as JSON.
  bool IsJson(const std::string& text) {
    testsupport::WriteFile(dir / "out.json", text);
    std::string output;
    return testsupport::RunCommand(testsupport::Python() +
                                       " -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                                       (dir / "out.json").string() + " 2>&1",
                                   output) == 0;
  }
  TempDir dir;
};

}  // namespace

TEST_F(HostileInput, RefusesPagesNoPdfCanHoldAsParameterErrors) {
  const std::string plan = Write("plan.dxf", Dxf(kLine));
  struct Case {
    Lines options;
    const char* message;
  };
  const Case cases[] = {
      {{"--paper", "A4", "--margin", "200mm"}, "margin leaves no room"},
      {{"--size", "6000x210mm"}, "at most 14400"},
      {{"--size", "10000000000000000000000x210mm"}, "at most 14400"},
      {{"--margin", "1" + std::string(300, '0') + "mm"}, "margin leaves no room"},
      {{"--dpi", "3000"}, "at most 2400"},
  };
  for (const Case& c : cases) {
    Lines args = c.options;
    args.insert(args.end(), {"-o", Out("all.pdf"), plan});
    const CliRun run = Convert(args);
    EXPECT_EQ(run.status, 1) << c.options[0] << " " << c.options[1] << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Out("all.pdf")));
  }
}

TEST_F(HostileInput, WritesOnlyValidPdfsForHugeNumbers) {
  const std::string far =
      Write("far.dxf", Dxf(kLine + "0\nLINE\n8\n0\n10\n1e308\n20\n0\n11\n-1e308\n21\n1e308\n" +
                           "0\nCIRCLE\n8\n0\n10\n0\n20\n0\n40\n1e300\n" +
                           "0\nTEXT\n8\n0\n10\n0\n20\n0\n40\n1e308\n1\nHUGE\n"));
  for (const Lines& options : {Lines{}, Lines{"--scale", "10000000000000000000000"}}) {
    Lines args = options;
    args.insert(args.end(), {"-o", Out("far.pdf"), far});
    const CliRun run = Convert(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(CheckPdfFile(Out("far.pdf")));
  }
}

TEST_F(HostileInput, EndsADashedLineThatSwampsItsDashes) {
  // 263 bytes that never ended: one dashed line 1e17 long.
  const std::string tables =
      "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLTYPE\n0\nLTYPE\n2\nDASHED\n70\n0\n73\n2\n40\n1\n"
      "49\n0.5\n49\n-0.5\n0\nENDTAB\n0\nENDSEC\n";
  const std::string plan =
      Write("dashed.dxf", Dxf("0\nLINE\n8\n0\n6\nDASHED\n10\n0\n20\n0\n11\n1e17\n21\n0\n", tables));
  const CliRun run = Convert({"--json", "-o", Out("dashed.pdf"), plan});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(CheckPdfFile(Out("dashed.pdf")));
}

TEST_F(HostileInput, TellsDamageAndFailsItWithStrict) {
  std::string cut = Dxf(kLine + kLine);
  cut.resize(cut.size() - 40);
  const std::string plan = Write("cut.dxf", cut);
  const CliRun run = Convert({"--json", "-o", Out("cut.pdf"), plan});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Warning: DXF entities section, line"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("cut short"), std::string::npos) << "the warning is in --json";
  EXPECT_TRUE(IsJson(run.out)) << run.out;

  const CliRun strict = Convert({"--strict", "--json", "-o", Out("strict.pdf"), plan});
  EXPECT_EQ(strict.status, 2) << strict.err;
  EXPECT_FALSE(fs::exists(Out("strict.pdf"))) << "its only drawing failed: no file";
}

TEST_F(HostileInput, WritesValidJsonForAnyFileName) {
  const std::string strange = Write("pl\xe9n \"q\"\x01.dxf", Dxf(kLine));
  const CliRun run = Convert({"--json", "-t", "per-drawing", "-o", Out("out"), strange});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(IsJson(run.out)) << run.out;
  EXPECT_NE(run.out.find("pl\\u00e9n \\\"q\\\"\\u0001"), std::string::npos) << run.out;
}

TEST_F(HostileInput, NamesAPathTooLongAsSuch) {
  const std::string longName = Out(std::string(300, 'x') + ".dxf");
  const CliRun run = Convert({"-o", Out("all.pdf"), longName});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("File name too long: "), std::string::npos) << run.err;
}

TEST_F(HostileInput, ReadsReferencesOnlyInsideTheAllowedFoldersWhenRestricted) {
  // A picture outside the drawing's folder, named by its full path.
  fs::create_directories(dir / "uploads");
  fs::create_directories(dir / "secret");
  testsupport::WriteFile(dir / "secret" / "picture.png", "not even a picture");
  const std::string drawing =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
      "0\nIMAGE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n0\n12\n0\n22\n1\n13\n2\n23\n2\n340\nA1\n70\n1\n"
      "0\nENDSEC\n0\nSECTION\n2\nOBJECTS\n0\nIMAGEDEF\n5\nA1\n1\n" +
      (dir / "secret" / "picture.png").string() + "\n10\n2\n20\n2\n0\nENDSEC\n0\nEOF\n";
  const std::string plan = Write("uploads/plan.dxf", drawing);
  const CliRun run = Convert({"--restrict-references", "-o", Out("plan.pdf"), plan});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("lies outside the drawing's folder"), std::string::npos) << run.err;
  const CliRun open = Convert({"-o", Out("open.pdf"), plan});
  EXPECT_EQ(open.err.find("lies outside"), std::string::npos) << open.err;
}

TEST_F(HostileInput, WritesNoMergedFileWhenEveryDrawingFailed) {
  const std::string bad = Write("bad.dxf", "this is no drawing");
  testsupport::WriteFile(dir / "all.pdf", "an earlier merged file");
  const CliRun run = Convert({"--json", "-o", Out("all.pdf"), bad});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.out.find("\"results\": []"), std::string::npos) << run.out;
  EXPECT_EQ(testsupport::ReadFile(dir / "all.pdf"), "an earlier merged file");
}
