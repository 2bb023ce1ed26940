#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/MessageReporter.h"

namespace testsupport {

// The whole content of a file, or empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// The shared folder of real drawings and checkers beside the checkout, or empty when absent.
std::filesystem::path SharedDir();

// A fresh folder under the system's temporary folder, removed with everything in it unless
// the environment variable TARNVELOX_KEEP_TEST_FILES is set.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path; }
  std::filesystem::path operator/(std::string_view name) const { return path / name; }

 private:
  std::filesystem::path path;
};

// A FIFO made with mkfifo, watched by a thread while the object lives. The thread notices when
// anything opens the FIFO for reading, and by opening the other end it releases a reader that
// would otherwise wait for ever: a test of code that must refuse FIFOs fails instead of hanging.
class CFifoWatch {
 public:
  explicit CFifoWatch(std::filesystem::path path);
  ~CFifoWatch();
  CFifoWatch(const CFifoWatch&) = delete;
  CFifoWatch& operator=(const CFifoWatch&) = delete;
  // False when mkfifo failed (the test should stop).
  bool Made() const { return made; }
  // Whether something has opened the FIFO for reading so far.
  bool Opened() const { return opened.load(); }

 private:
  std::filesystem::path path;
  bool made = false;
  std::atomic<bool> stop{false};
  std::atomic<bool> opened{false};
  std::thread watcher;
};

// Compares bytes with the golden file tests/<relativePath>. On a mismatch the bytes are
// written to <build>/tests/<relativePath>.actual, so that a reviewed update is one copy.
::testing::AssertionResult MatchesGolden(std::string_view actual, const std::string& relativePath);

// The text of object N of a written file, between "N 0 obj\n" and "\nendobj\n", found through
// the file's own cross-reference table. Empty when the object is not in the table.
std::string ObjectText(const std::string& pdf, int number);

// The offsets recorded in the cross-reference table, indexed by object number (entry 0 included).
std::vector<std::int64_t> XrefOffsets(const std::string& pdf);

enum class PdfShape {
  // A file as a conversion run writes it: also checked against the project's structural checker.
  Complete,
  // A file of a test that builds only some of a document (pages without content, no date).
  Partial,
};

// Checks a written PDF: every xref offset points at its "N 0 obj", Size equals the number of
// entries, startxref points at "xref", and `qpdf --check` accepts it; a Complete file is also
// checked by the shared folder's checker when the shared folder is present.
::testing::AssertionResult CheckPdfFile(const std::filesystem::path& path,
                                        PdfShape shape = PdfShape::Complete);

// Runs a shell command and gives its exit status (-1 when it did not exit normally) and its
// standard output and error together.
int RunCommand(const std::string& command, std::string& output);

// The Python interpreter for the checkers: the system's own when present, which starts much
// faster than a version manager's shim.
std::string Python();

// The first page of a PDF drawn by poppler's pdftoppm at 72 dots per inch, so that one pixel is
// one point: 8-bit RGB rows from the top. Empty (width 0) when it cannot be drawn. prefix names
// the picture file written on the way.
struct RenderedPage {
  int width = 0, height = 0;
  std::string rgb;
  // The colour at page point (x, y), y upwards from the bottom as in PDF.
  std::array<int, 3> At(double x, double y) const;
  // The same as "RRGGBB".
  std::string HexAt(int x, int y) const;
};
RenderedPage RenderAt72Dpi(const std::filesystem::path& pdf, const std::filesystem::path& prefix);

// What tests/convert/pdfsummary.py reads of a file: pages, their sizes, the bookmark tree and
// the layers, one fact a line.
std::string PdfSummary(const std::filesystem::path& pdf);

// Records every message the engine shows, for the duration of a test.
class CRecordingReporter : public CMessageReporter {
 public:
  CRecordingReporter() { previous = SetMessageReporter(this); }
  ~CRecordingReporter() override { SetMessageReporter(previous); }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  std::vector<std::string> messages;

 private:
  CMessageReporter* previous = nullptr;
};

}  // namespace testsupport
