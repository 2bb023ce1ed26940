// Opening files that users name: only regular files, and never a wait on a FIFO.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "platform/RegularFile.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(RegularFile, OpensOnlyRegularFilesAndSaysWhatElseItFound) {
  TempDir dir;
  WriteFile(dir / "file", "bytes");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_directory(dir / "folder");
  testsupport::CFifoWatch fifo(dir / "fifo");
  ASSERT_TRUE(fifo.Made());
  const struct {
    fs::path path;
    FileOpenResult result;
    const char* why;
  } cases[] = {
      {dir / "file", FileOpenResult::Opened, ""},
      {dir / "link", FileOpenResult::Opened, ""},
      {dir / "missing", FileOpenResult::Missing, "No such file"},
      {dir / "file" / "below", FileOpenResult::Missing, "Not a directory"},
      {dir / "fifo", FileOpenResult::NotRegular, "it is a FIFO, not a regular file"},
      {"/dev/zero", FileOpenResult::NotRegular, "it is a device, not a regular file"},
      {dir / "folder", FileOpenResult::NotRegular, "it is a folder, not a regular file"},
  };
  for (const auto& c : cases) {
    int fd = -1;
    std::string why;
    EXPECT_EQ(OpenRegularFile(c.path, &fd, &why), c.result) << c.path;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.path << ": " << why;
    EXPECT_EQ(fd >= 0, c.result == FileOpenResult::Opened) << c.path;
    if (fd >= 0) {
      char bytes[8] = {};
      EXPECT_EQ(read(fd, bytes, sizeof bytes), 5) << "the descriptor reads the file";
      close(fd);
    }
    std::FILE* stream = OpenRegularFileForReading(c.path, &why);
    EXPECT_EQ(stream != nullptr, c.result == FileOpenResult::Opened) << c.path;
    if (stream) std::fclose(stream);
  }
  EXPECT_FALSE(fifo.Opened()) << "a FIFO was opened";
}
