// The command line as the worker of a distributed run: shares of one list on several "hosts"
// (GNU parallel's recipe, both hosts this machine) give the files one run on one machine gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Every PDF of a folder (not its hidden ones), by name, with its bytes.
std::map<std::string, std::string> Pdfs(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".pdf" && name[0] != '.') {
      files[name] = testsupport::ReadFile(entry.path());
    }
  }
  return files;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

TEST(Cluster, SharesOnTwoHostsGiveTheFilesOfOneMachine) {
  std::string output;
  if (testsupport::RunCommand("parallel --version", output) != 0) {
    GTEST_SKIP() << "GNU parallel is not installed";
  }
  TempDir dir;
  // The shared corpus when it is here, else the examples.
  fs::path drawings = testsupport::SharedDir() / "corpus" / "dxf" / "entities";
  if (testsupport::SharedDir().empty() || !fs::is_directory(drawings)) {
    drawings = fs::path(TARNVELOX_SOURCE_DIR) / "examples";
  }
  testsupport::WriteFile(dir / "list.txt", drawings.string() + "\n");
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  setenv("TARNVELOX_REGISTRY", (dir / "registry.reg").c_str(), 1);

  const std::string one = "cd " + Quoted(dir.Path().string()) + " && " + TARNVELOX_CLI +
                          " -q -t per-drawing -o one --from-list list.txt 2>&1";
  ASSERT_EQ(testsupport::RunCommand(one, output), 0) << output;
  const std::string recipe = "TARNVELOX_CLI=" + std::string(TARNVELOX_CLI) + " " +
                             TARNVELOX_SOURCE_DIR + "/scripts/cluster/convert-parallel.sh " +
                             Quoted((dir / "list.txt").string()) + " " +
                             Quoted((dir / "two hosts").string()) + " : : 2>&1";
  ASSERT_EQ(testsupport::RunCommand(recipe, output), 0) << output;
  const auto single = Pdfs(dir / "one");
  ASSERT_FALSE(single.empty());
  EXPECT_EQ(Pdfs(dir / "two hosts"), single) << "the union of the shares is the whole run";
  EXPECT_TRUE(fs::exists(dir / "two hosts" / ".shards" / "0.json"));
  EXPECT_TRUE(fs::exists(dir / "two hosts" / ".shards" / "1.json"));

  // Run again: every PDF is newer than its drawing, so nothing is converted.
  const auto before = fs::last_write_time(dir / "two hosts" / single.begin()->first);
  ASSERT_EQ(testsupport::RunCommand(recipe, output), 0) << output;
  EXPECT_EQ(fs::last_write_time(dir / "two hosts" / single.begin()->first), before);
  unsetenv("SOURCE_DATE_EPOCH");
  unsetenv("TARNVELOX_REGISTRY");
}
