// tarnvelox-cli: the batch run of the wizard's convert page, headless.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/PenSetCommands.h"
#include "convert/ConvertJob.h"
#include "convert/ConvertSettings.h"
#include "convert/FolderSearch.h"
#include "convert/OutputNames.h"
#include "pensets/PenSet.h"
#include "platform/Registry.h"
#include "platform/Utf8.h"
#include "render/Drawing.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 64;

// Set by SIGINT and SIGTERM. A lock-free atomic store is safe in a signal handler.
std::atomic<bool>* stopFlag = nullptr;

void OnSignal(int) {
  if (stopFlag) stopFlag->store(true);
}

// The log on standard error, one line per entry, and a progress bar below it when standard
// error is a terminal.
class CTerminalListener : public CConvertListener {
 public:
  explicit CTerminalListener(bool quiet) : quiet(quiet), bar(!quiet && isatty(STDERR_FILENO)) {}

  void AppendLog(std::string_view text) override {
    if (quiet) return;
    std::lock_guard<std::mutex> lock(mutex);
    // The log box's line breaks: "\r\n" at the end of a text makes no extra line here.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    ClearBar();
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    DrawBar();
  }
  void SetStatusText(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex);
    status = text;
    DrawBar();
  }
  void SetProgressRange(int count) override {
    std::lock_guard<std::mutex> lock(mutex);
    total = count;
    done = 0;
    DrawBar();
  }
  void StepProgress() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++done;
    DrawBar();
  }
  void ShowMessage(std::string_view text) override {
    // Without -q the log shows the same text.
    if (quiet) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  void RunFinished(RunResult r) override { result = r; }

  // Takes the bar off the terminal for good.
  void EndBar() {
    std::lock_guard<std::mutex> lock(mutex);
    ClearBar();
    bar = false;
  }

  RunResult result = RunResult::Done;

 private:
  void ClearBar() {
    if (bar && shown) std::fputs("\r\033[K", stderr);
    shown = false;
  }
  void DrawBar() {
    if (!bar || total <= 0) return;
    winsize size{};
    const int columns =
        ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20 ? size.ws_col : 80;
    // The bar takes a quarter of a narrow terminal, the status the rest, shortened in the middle.
    const int kWidth = std::clamp(columns / 4, 5, 30);
    const int filled = std::min(kWidth, done * kWidth / total);
    std::string head = "[";
    head.append(static_cast<std::size_t>(filled), '#');
    head.append(static_cast<std::size_t>(kWidth - filled), '-');
    head += "] ";
    head += std::to_string(done);
    head += '/';
    head += std::to_string(total);
    head += ' ';
    const int room = columns - 1 - static_cast<int>(head.size());
    const std::string line =
        room > 0 ? head + ShortenMiddle(status, room) : head.substr(0, columns - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown = true;
  }

  const bool quiet;
  bool bar;
  bool shown = false;
  std::mutex mutex;
  std::string status;
  int total = 0;
  int done = 0;
};

// A JSON string of any bytes: UTF-8 stays as it is; a byte that starts no well-formed UTF-8
// sequence (a file name in another encoding) becomes the character of that byte's value,
// "\u00e9" for 0xE9, so that the output is always valid JSON.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length > 1) {
      json.append(text, i, length);
      i += length;
      continue;
    }
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20 || u >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      json += escaped;
    } else {
      json += c;
    }
    ++i;
  }
  return json + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (std::size_t i = 0; i < items.size(); ++i) json += (i ? ", " : "") + JsonString(items[i]);
  return json + "]";
}

// What the run did with each drawing: its status (0 converted, 2 failed), pages, the files that
// hold them and its warnings.
std::string JsonDrawings(const std::vector<CDrawingReport>& reports,
                         const std::vector<std::string>& missing) {
  std::string json = "[";
  const auto add = [&json](const std::string& item) {
    json += (json.size() > 1 ? ", " : "") + item;
  };
  for (const std::string& path : missing) {
    add("{\"path\": " + JsonString(path) +
        ", \"status\": 2, \"pages\": 0, \"outputs\": [], \"warnings\": []}");
  }
  for (const CDrawingReport& report : reports) {
    add("{\"path\": " + JsonString(report.path) +
        ", \"status\": " + (report.result == RunResult::Done ? "0" : "2") + ", \"pages\": " +
        std::to_string(report.pages) + ", \"outputs\": " + JsonList(report.outputs) +
        ", \"warnings\": " + JsonList(report.warnings) + "}");
  }
  return json + "]";
}

int Finish(const CliOptions& options, const std::vector<std::string>& results,
           const std::vector<std::string>& failed, const std::vector<CDrawingReport>& reports,
           const std::vector<std::string>& missing, int status) {
  if (options.json) {
    std::printf("{\"results\": %s, \"drawings\": %s, \"failed\": %s, \"status\": %d}\n",
                JsonList(results).c_str(), JsonDrawings(reports, missing).c_str(),
                JsonList(failed).c_str(), status);
  }
  return status;
}

// Whether the PDF files of a drawing are newer than it: its file for one PDF per drawing, its
// layouts' files ("name-Layout.pdf") for one per layout, at least one of them.
bool HasNewerPdf(const std::string& drawing, const CConvertSettings& settings) {
  std::error_code error;
  const auto changed = fs::last_write_time(drawing, error);
  if (error) return false;
  const std::string pdf = DrawingPdfName(drawing, WithTrailingSeparator(settings.TargetPdf));
  if (settings.PdfType != OutputType::PerLayout) {
    const auto written = fs::last_write_time(pdf, error);
    return !error && written >= changed;
  }
  const fs::path stem(pdf.substr(0, pdf.size() - 4));
  const std::string prefix = stem.filename().string() + "-";
  bool any = false;
  for (fs::directory_iterator entry(stem.parent_path().empty() ? "." : stem.parent_path(), error),
       end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.rfind(prefix, 0) != 0 || !HasPdfExtension(name)) continue;
    std::error_code timeError;
    if (fs::last_write_time(entry->path(), timeError) < changed || timeError) return false;
    any = true;
  }
  return any;
}

// Why a path given as a drawing is none, in the words of the log: "No such file" for a path
// that is not there, else the system's reason ("File name too long", "Permission denied").
// The words naming drawings: the command line's, then those of --from-list (one a line, blank
// lines and lines starting with "#" left out). False with a message when the list cannot be read.
bool InputWords(const CliOptions& options, std::vector<std::string>& words) {
  words = options.drawings;
  if (options.fromList.empty()) return true;
  std::FILE* list = options.fromList == "-" ? stdin : std::fopen(options.fromList.c_str(), "r");
  if (!list) {
    std::fprintf(stderr, "tarnvelox-cli: --from-list: cannot read %s: %s\n",
                 options.fromList.c_str(), std::strerror(errno));
    return false;
  }
  std::string line;
  for (int c; (c = std::fgetc(list)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') words.push_back(line);
    line.clear();
  }
  if (!line.empty() && line[0] != '#') words.push_back(line);
  if (list != stdin) std::fclose(list);
  return true;
}

std::string WhyNoDrawing(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? "Not a file" : "";
  if (errno == ENOENT || errno == ENOTDIR) return "No such file";
  return std::strerror(errno);
}

// A large drawing fills hundreds of megabytes of memory in small steps. In huge pages (2 MiB)
// rather than 4 KiB ones, that memory faults in hundreds of times less often and misses the
// TLB less, which takes a sixth to a fifth off the time of drawings of 30 to 300 MB. glibc's
// allocator asks the kernel for huge pages only when its tunable glibc.malloc.hugetlb says so,
// and reads its tunables only when a program starts. So a run whose drawings come to
// kHugePagesFrom bytes or more starts itself once more with that tunable added; small runs keep
// their light start. The drawings counted are those named, those directly in named folders and
// those of a list file (not of a list on standard input, which can be read only once). Nothing
// has been written or printed before, so the second start does all the work as the first would.
constexpr std::uintmax_t kHugePagesFrom = 16u << 20;

void StartAgainWithHugePages(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
  return;  // the sanitizer's allocator takes no glibc tunables
#endif
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb")) return;
  std::uintmax_t total = 0;
  const auto count = [&total](const fs::path& path) {
    std::error_code ec;
    const fs::directory_entry entry(path, ec);
    if (ec) return;
    if (entry.is_regular_file(ec)) {
      total += entry.file_size(ec);
    } else if (entry.is_directory(ec)) {
      for (const auto& inside : fs::directory_iterator(entry.path(), ec)) {
        if (inside.is_regular_file(ec)) total += inside.file_size(ec);
      }
    }
  };
  for (int i = 1; i < argc && total < kHugePagesFrom; ++i) {
    const std::string_view arg = argv[i];
    // A list file is read here too (a list on standard input is not: it can be read once).
    std::string list;
    if (arg == "--from-list" && i + 1 < argc) {
      list = argv[++i];
    } else if (arg.rfind("--from-list=", 0) == 0) {
      list = arg.substr(12);
    } else {
      count(argv[i]);
      continue;
    }
    if (list == "-") continue;
    std::ifstream in(list);
    for (std::string line; total < kHugePagesFrom && std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) count(line);
    }
  }
  if (total < kHugePagesFrom) return;
  std::string added;
  if (tunables && *tunables) {
    added = tunables;
    added += ':';
  }
  added += "glibc.malloc.hugetlb=1";
  if (::setenv("GLIBC_TUNABLES", added.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Not started again (no /proc, say): this run goes on with ordinary pages.
}

}  // namespace

int main(int argc, char** argv) {
  StartAgainWithHugePages(argc, argv);
  const std::vector<std::string> args(argv + 1, argv + argc);
  CConvertSettings settings;
  if (WantsSavedSettings(args)) settings.LoadSettings(CRegistry::User());

  CliOptions options;
  std::string error;
  if (!ParseCommandLine(args, settings, options, &error)) {
    std::fprintf(stderr, "tarnvelox-cli: %s\n", error.c_str());
    return kUsageError;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("tarnvelox-cli %s\n", TARNVELOX_VERSION);
    return 0;
  }

  InitDLL();
  DWG_SetBackgroundColor(0xFFFFFF);

  if (options.transfer != CliOptions::PenSetTransfer::None) {
    const int status = RunPenSetTransfer(options, CRegistry::User());
    UninitDLL();
    return status;
  }

  // The pen set: the stored current one when the saved options use it, or the one asked for.
  CPenSet penSet;
  if (!options.penSet.empty() || !options.ctb.empty() || (options.saved && settings.UsePenSets)) {
    CRegistry& store = CRegistry::User();
    LoadCurrentPenSet(penSet, store);
    if (!PrepareRunPenSet(options, store, penSet, &error)) {
      std::fprintf(stderr, "tarnvelox-cli: %s\n", error.c_str());
      UninitDLL();
      return kUsageError;
    }
  }

  std::vector<std::string> failed;
  settings.SourceFiles.clear();
  settings.BookmarkNames.clear();
  std::vector<std::string> missing;
  std::vector<std::string> words;
  if (!InputWords(options, words)) {
    UninitDLL();
    return kUsageError;
  }
  // Folders stand for the drawings in them, as the wizard's folder search finds them.
  std::vector<std::string> drawings;
  for (const std::string& word : words) {
    std::error_code ec;
    if (!fs::is_directory(word, ec)) {
      drawings.push_back(word);
      continue;
    }
    const std::vector<std::string> found = FindDrawingsInFolder(word, options.recursive);
    if (found.empty() && !options.quiet) {
      std::fprintf(stderr, "No drawings in folder: %s\n", word.c_str());
    }
    drawings.insert(drawings.end(), found.begin(), found.end());
  }
  std::set<std::string> seen;
  std::vector<std::string> unique;
  for (const std::string& drawing : drawings) {
    // A drawing named twice (in a folder and by itself) is converted once.
    if (seen.insert(fs::path(drawing).lexically_normal().string()).second) {
      unique.push_back(drawing);
    }
  }
  // This run's share of the list: equal runs of it, in order.
  const std::size_t count = unique.size();
  const std::size_t first = count * static_cast<std::size_t>(options.shard) / options.shards;
  const std::size_t last = count * static_cast<std::size_t>(options.shard + 1) / options.shards;
  std::vector<std::string> skipped;
  for (std::size_t i = first; i < last; ++i) {
    const std::string& drawing = unique[i];
    std::error_code ec;
    if (!fs::is_regular_file(drawing, ec)) {
      std::string why = WhyNoDrawing(drawing);
      if (why.empty()) why = "Not a file";
      std::fprintf(stderr, "%s: %s\n", why.c_str(), drawing.c_str());
      failed.push_back(drawing);
      missing.push_back(drawing);
      continue;
    }
    if (options.skipExisting && HasNewerPdf(drawing, settings)) {
      if (!options.quiet) std::fprintf(stderr, "Skipped, its PDF is newer: %s\n", drawing.c_str());
      skipped.push_back(drawing);
      continue;
    }
    settings.SourceFiles.push_back(drawing);
    settings.BookmarkNames.push_back(fs::path(drawing).stem().string());
  }
  if (settings.SourceFiles.empty()) {
    UninitDLL();
    return Finish(options, {}, failed, {}, missing, failed.empty() ? 0 : 2);
  }

  CTerminalListener listener(options.quiet);
  CConvertJob job(settings, penSet, listener);
  job.StrictWarnings = options.strict;
  job.Jobs = options.jobs;
  stopFlag = &job.StopFlag;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  if (!job.Start()) {
    std::fprintf(stderr, "tarnvelox-cli: cannot start the conversion thread\n");
    UninitDLL();
    return Finish(options, {}, failed, {}, missing, 5);
  }
  job.Wait();
  const RunResult result = listener.result;
  job.LogRunEnd(result);
  listener.EndBar();
  stopFlag = nullptr;
  UninitDLL();

  failed.insert(failed.end(), job.FailedFiles.begin(), job.FailedFiles.end());
  int status = static_cast<int>(result);
  if (result == RunResult::Done && !failed.empty()) status = 2;
  return Finish(options, job.ResultFiles, failed, job.Reports, missing, status);
}
