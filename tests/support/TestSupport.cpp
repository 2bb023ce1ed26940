#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace testsupport {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path SharedDir() {
  const fs::path shared = TARNVELOX_SHARED_DIR;
  return fs::is_directory(shared) ? fs::canonical(shared) : fs::path();
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarnvelox-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a temporary folder";
  path = pattern;
}

TempDir::~TempDir() {
  // TARNVELOX_KEEP_TEST_FILES keeps what a test wrote, to look at it after a run.
  if (std::getenv("TARNVELOX_KEEP_TEST_FILES")) {
    std::fprintf(stderr, "kept %s\n", path.c_str());
    return;
  }
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

CFifoWatch::CFifoWatch(fs::path fifo) : path(std::move(fifo)) {
  made = ::mkfifo(path.c_str(), 0600) == 0;
  if (!made) return;
  watcher = std::thread([this] {
    while (!stop.load()) {
      // Without a reader this open fails at once (ENXIO); with one it succeeds, and closing it
      // gives the reader an end of file.
      // A file put in the FIFO's place (once the FIFO is removed) is left alone.
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        struct stat status {};
        const bool fifo = ::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
        ::close(fd);
        if (!fifo) break;
        opened.store(true);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
}

CFifoWatch::~CFifoWatch() {
  stop.store(true);
  if (watcher.joinable()) watcher.join();
}

::testing::AssertionResult MatchesGolden(std::string_view actual, const std::string& relativePath) {
  const fs::path golden = fs::path(TARNVELOX_SOURCE_DIR) / "tests" / relativePath;
  const std::string expected = ReadFile(golden);
  if (expected == actual) return ::testing::AssertionSuccess();
  const fs::path written = fs::path(TARNVELOX_BINARY_DIR) / "tests" / (relativePath + ".actual");
  WriteFile(written, actual);
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  return ::testing::AssertionFailure()
         << "the bytes differ from " << golden << " from offset " << at << " on (expected "
         << expected.size() << " bytes, got " << actual.size() << "); the written bytes are in "
         << written;
}

std::vector<std::int64_t> XrefOffsets(const std::string& pdf) {
  std::vector<std::int64_t> offsets;
  static const std::regex tail(R"(\nstartxref\n(\d+)\n%%EOF\n$)");
  std::smatch m;
  const std::size_t window = std::min<std::size_t>(pdf.size(), 64);
  const std::string end = pdf.substr(pdf.size() - window);
  if (!std::regex_search(end, m, tail)) return offsets;
  const std::size_t xref = std::stoull(m[1]);
  if (pdf.compare(xref, 7, "xref\n0 ") != 0) return offsets;
  const std::size_t line = pdf.find('\n', xref + 7);
  const std::size_t count = std::stoull(pdf.substr(xref + 7, line - xref - 7));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = line + 1 + 20 * i;
    if (entry + 20 > pdf.size()) break;
    offsets.push_back(std::stoll(pdf.substr(entry, 10)));
  }
  return offsets;
}

std::string ObjectText(const std::string& pdf, int number) {
  const std::vector<std::int64_t> offsets = XrefOffsets(pdf);
  if (number <= 0 || static_cast<std::size_t>(number) >= offsets.size()) return {};
  const std::string head = std::to_string(number) + " 0 obj\n";
  const auto start = static_cast<std::size_t>(offsets[number]);
  if (pdf.compare(start, head.size(), head) != 0) return {};
  const std::size_t end = pdf.find("\nendobj\n", start);
  if (end == std::string::npos) return {};
  return pdf.substr(start + head.size(), end - start - head.size());
}

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Python() {
  return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

namespace {

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

namespace {

// Whether qpdf's only complaints are its inflater's boundary condition: the last call to zlib
// filled qpdf's output buffer exactly, and the next one found nothing left to do. qpdf says so
// as "input stream is complete but output may still be valid" for some lengths of perfectly
// valid deflated streams (large pages hit it now and then); the data itself is whole.
bool OnlyInflaterBoundaryWarnings(const std::string& output) {
  bool any = false;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string_view line(output.data() + start, end - start);
    if (line.rfind("WARNING", 0) == 0) {
      if (line.find("input stream is complete but output may still be valid") ==
          std::string_view::npos) {
        return false;
      }
      any = true;
    }
    start = end + 1;
  }
  return any;
}

}  // namespace

::testing::AssertionResult CheckPdfFile(const fs::path& path, PdfShape shape) {
  const std::string pdf = ReadFile(path);
  if (pdf.empty()) return ::testing::AssertionFailure() << path << " is missing or empty";

  const std::vector<std::int64_t> offsets = XrefOffsets(pdf);
  if (offsets.empty()) {
    return ::testing::AssertionFailure() << path << ": startxref does not point at an xref section";
  }
  for (std::size_t number = 1; number < offsets.size(); ++number) {
    const std::string head = std::to_string(number) + " 0 obj\n";
    if (pdf.compare(static_cast<std::size_t>(offsets[number]), head.size(), head) != 0) {
      return ::testing::AssertionFailure()
             << path << ": the xref offset of object " << number << " does not point at it";
    }
  }
  static const std::regex size(R"(trailer\n<</Size (\d+)\n)");
  std::smatch m;
  if (!std::regex_search(pdf, m, size) || std::stoull(m[1]) != offsets.size()) {
    return ::testing::AssertionFailure()
           << path << ": the trailer's Size is not the number of xref entries (" << offsets.size()
           << ")";
  }

  std::string output;
  const int qpdf = RunCommand("qpdf --check " + Quoted(path), output);
  if (qpdf == 127) {
    return ::testing::AssertionFailure() << "qpdf is not installed; run scripts/install-deps.sh";
  }
  if (qpdf != 0 && !(qpdf == 3 && OnlyInflaterBoundaryWarnings(output))) {
    return ::testing::AssertionFailure() << path << " fails qpdf --check:\n" << output;
  }

  const fs::path shared = SharedDir();
  if (shape == PdfShape::Complete && !shared.empty()) {
    const fs::path checker = shared / "tools" / "pdfcheck.py";
    if (fs::exists(checker) &&
        RunCommand(Python() + " " + Quoted(checker) + " " + Quoted(path), output) != 0) {
      return ::testing::AssertionFailure() << path << " fails the structural check:\n" << output;
    }
  }
  return ::testing::AssertionSuccess();
}

std::string PdfSummary(const fs::path& pdf) {
  std::string output;
  RunCommand(Python() + " " +
                 Quoted(fs::path(TARNVELOX_SOURCE_DIR) / "tests/convert/pdfsummary.py") + " " +
                 Quoted(pdf),
             output);
  return output;
}

std::array<int, 3> RenderedPage::At(double x, double y) const {
  const int column = static_cast<int>(x), row = height - 1 - static_cast<int>(y);
  const std::size_t i = 3 * (static_cast<std::size_t>(row) * width + column);
  return {static_cast<unsigned char>(rgb[i]), static_cast<unsigned char>(rgb[i + 1]),
          static_cast<unsigned char>(rgb[i + 2])};
}

std::string RenderedPage::HexAt(int x, int y) const {
  const std::array<int, 3> colour = At(x, y);
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour[0], colour[1], colour[2]);
  return text;
}

RenderedPage RenderAt72Dpi(const std::filesystem::path& pdf, const std::filesystem::path& prefix) {
  RenderedPage page;
  const std::string command =
      "pdftoppm -r 72 -singlefile '" + pdf.string() + "' '" + prefix.string() + "' 2>&1";
  if (std::system(command.c_str()) != 0) return page;
  const std::string ppm = ReadFile(prefix.string() + ".ppm");
  int maxValue = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &page.width, &page.height, &maxValue, &consumed) !=
      3) {
    page.width = page.height = 0;
    return page;
  }
  page.rgb = ppm.substr(static_cast<std::size_t>(consumed) + 1);
  return page;
}

}  // namespace testsupport
