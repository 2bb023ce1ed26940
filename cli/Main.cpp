// tarnvelox-cli: the batch run of the wizard's convert page, headless.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/PenSetCommands.h"
#include "convert/ConvertJob.h"
#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "platform/Registry.h"
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
    constexpr int kWidth = 30;
    const int filled = std::min(kWidth, done * kWidth / total);
    std::string line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] " +
                       std::to_string(done) + "/" + std::to_string(total) + " " + status;
    if (static_cast<int>(line.size()) > columns - 1) line.resize(columns - 1);
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

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (std::size_t i = 0; i < items.size(); ++i) json += (i ? ", " : "") + JsonString(items[i]);
  return json + "]";
}

int Finish(const CliOptions& options, const std::vector<std::string>& results,
           const std::vector<std::string>& failed, int status) {
  if (options.json) {
    std::printf("{\"results\": %s, \"failed\": %s, \"status\": %d}\n", JsonList(results).c_str(),
                JsonList(failed).c_str(), status);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
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
    std::printf("tarnvelox-cli %s (Zemb Strandmerlyx)\n", TARNVELOX_VERSION);
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
  for (const std::string& drawing : options.drawings) {
    std::error_code ec;
    if (!fs::is_regular_file(drawing, ec)) {
      std::fprintf(stderr, "No such file: %s\n", drawing.c_str());
      failed.push_back(drawing);
      continue;
    }
    settings.SourceFiles.push_back(drawing);
    settings.BookmarkNames.push_back(fs::path(drawing).stem().string());
  }
  if (settings.SourceFiles.empty()) {
    UninitDLL();
    return Finish(options, {}, failed, 2);
  }

  CTerminalListener listener(options.quiet);
  CConvertJob job(settings, penSet, listener);
  stopFlag = &job.StopFlag;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  if (!job.Start()) {
    std::fprintf(stderr, "tarnvelox-cli: cannot start the conversion thread\n");
    UninitDLL();
    return Finish(options, {}, failed, 5);
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
  return Finish(options, job.ResultFiles, failed, status);
}
