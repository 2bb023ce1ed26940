#include "convert/ConvertJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>

#include "convert/ConvertSettings.h"
#include "convert/OutputNames.h"
#include "pdf/PdfContentStream.h"
#include "pdf/PdfDocument.h"
#include "pdf/PdfOutline.h"
#include "pdf/PdfPage.h"
#include "platform/Ascii.h"
#include "platform/ColorPalette.h"
#include "platform/LocalTime.h"
#include "platform/MessageReporter.h"
#include "render/Drawing.h"
#include "render/PdfExport.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUserBreak[] = "User break!";
constexpr char kNoMemory[] = "No enough memory!";

DeflateEffort Effort(std::uint8_t compression) {
  return compression == 0   ? DeflateEffort::Fast
         : compression == 2 ? DeflateEffort::Small
                            : DeflateEffort::Default;
}

std::string Format(const char* pattern, const std::string& argument) {
  const int size = std::snprintf(nullptr, 0, pattern, argument.c_str());
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, pattern, argument.c_str());
  return text;
}

// The PDF model drops what it cannot allocate, but the objects that hold a whole page or file
// are reported: these give null instead of throwing.
template <typename T>
T* NewOrNull() {
  try {
    return new T;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// The file of a plot style table a layout names ("C:\\Plot Styles\\mono.ctb" or "mono.ctb"):
// its bare name in the drawing's folder, then in each search folder, the name as written
// before one that differs in case; empty when none is there.
std::string FindPlotStyleFile(const std::string& name, const std::string& drawingPath,
                              const std::vector<std::string>& searchFolders) {
  namespace fs = std::filesystem;
  const std::size_t cut = name.find_last_of("/\\");
  const std::string bare = cut == std::string::npos ? name : name.substr(cut + 1);
  if (bare.empty() || bare == "." || bare == "..") return {};
  std::vector<fs::path> folders{fs::path(drawingPath).parent_path()};
  for (const std::string& folder : searchFolders) {
    if (!folder.empty()) folders.emplace_back(folder);
  }
  std::error_code error;
  for (fs::path folder : folders) {
    if (folder.empty()) folder = ".";
    if (fs::is_regular_file(folder / bare, error)) return (folder / bare).string();
    std::string best;
    for (fs::directory_iterator entries(folder, error), end; !error && entries != end;
         entries.increment(error)) {
      const std::string entry = entries->path().filename().string();
      if (EqualsIgnoringCase(entry, bare) && (best.empty() || entry < best) &&
          fs::is_regular_file(folder / entry, error)) {
        best = entry;
      }
    }
    if (!best.empty()) return (folder / best).string();
  }
  return {};
}

CPdfDocument* NewDocument(std::int32_t width, std::int32_t height) {
  CPdfDocument* document = NewOrNull<CPdfDocument>();
  if (document) document->PageTreeRoot()->SetMediaBox(width, height);
  return document;
}

// An existing file, not a folder.
bool IsFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

struct DrawingDeleter {
  void operator()(CDrawing* drawing) const { CDrawing::DeleteDrawing(drawing); }
};

// What a drawing may take of memory while it converts: its file several times over (the model,
// the pages' operators, the pictures) and a floor for the fonts and the rest.
std::int64_t MemoryCost(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return (error ? 0 : static_cast<std::int64_t>(size)) * 8 + (64 << 20);
}

// What drawings converting side by side may take together: three quarters of the memory the
// system has available now (no limit when it cannot tell).
std::int64_t MemoryBudget() {
  std::FILE* info = std::fopen("/proc/meminfo", "r");
  if (!info) return INT64_MAX;
  char line[256];
  std::int64_t kilobytes = -1;
  while (std::fgets(line, sizeof line, info)) {
    long long value = 0;
    if (std::sscanf(line, "MemAvailable: %lld kB", &value) == 1) kilobytes = value;
  }
  std::fclose(info);
  return kilobytes > 0 ? kilobytes * 1024 / 4 * 3 : INT64_MAX;
}

}  // namespace

struct CConvertJob::OpenedDrawing {
  std::unique_ptr<CDrawing, DrawingDeleter> drawing;
  bool opened = false;
  bool memoryShort = false;
  std::string reason;  // the library's reason when it could not be opened
};

void CConvertListener::ShowMessage(std::string_view text) {
  ReportMessage(text);
}

CConvertJob::CConvertJob(CConvertListener& listener) : listener(listener) {}

CConvertJob::CConvertJob(const CConvertSettings& settings, const CPenSet& penSet,
                         CConvertListener& listener)
    : Settings(settings), PenSet(penSet), listener(listener) {}

CConvertJob::~CConvertJob() {
  Wait();
}

bool CConvertJob::Start(const CConvertSettings& settings, const CPenSet& penSet) {
  if (RunningFlag.load()) return false;
  Settings = settings;
  PenSet = penSet;
  return Start();
}

bool CConvertJob::Start() {
  if (RunningFlag.load()) return false;
  Wait();  // the thread of an earlier run has ended, but may not have been joined
  RunningFlag = true;
  StatusEnabled = true;
  listener.SetStatusText("");
  LogEnabled = true;
  AppendLog("Starting converting...");
  ResultFiles.clear();
  FailedFiles.clear();
  listener.SetProgressRange(static_cast<int>(Settings.SourceFiles.size()));
  StopFlag = false;
  try {
    worker = std::thread(ConvertThreadProc, this);
  } catch (const std::system_error&) {
    RunningFlag = false;
    return false;
  }
  return true;
}

void CConvertJob::Stop() {
  StopFlag = true;
  if (StatusEnabled.exchange(false)) {
    listener.SetStatusText("Stopping the converting process, please wait...");
  }
}

void CConvertJob::Wait() {
  if (worker.joinable()) worker.join();
}

void CConvertJob::LogRunEnd(RunResult result) {
  if (result == RunResult::UserBreak) return;
  AppendLog("End convert.");
  AppendLog("The belows are all the result PDF files:");
  for (const std::string& path : ResultFiles) AppendLog(path);
}

void CConvertJob::ConvertThreadProc(CConvertJob* job) {
  const RunResult result = job->ConvertAll();
  job->RunningFlag = false;
  job->listener.RunFinished(result);
}

void CConvertJob::AppendLog(std::string_view text, bool keep) {
  // Only the worker writes the log during a run, so the test and the update need no lock.
  if (!LogEnabled.load()) return;
  listener.AppendLog(text);
  LogEnabled = keep;
}

void CConvertJob::SetStatusText(std::string_view text, bool keep) {
  // Stop clears the flag from the other thread: test and update in one step, so that a flag
  // cleared in between is never set again here.
  bool enabled = true;
  if (!StatusEnabled.compare_exchange_strong(enabled, keep)) return;
  listener.SetStatusText(text);
}

RunResult CConvertJob::UserBreak() {
  AppendLog(kUserBreak, false);
  return RunResult::UserBreak;
}

RunResult CConvertJob::ConvertAll() {
  SetDeflateEffort(Effort(Settings.Compression));
  // Pages and images deflate on a second thread while the next page is drawn.
  SetBackgroundDeflate(true);
  const CConvertSettings& settings = Settings;
  const PageSetup page = ComputePageSetup(settings);
  if (const char* problem = PageSetupProblem(page, settings.Quality)) {
    listener.ShowMessage(problem);
    AppendLog(problem);
    return RunResult::ParameterError;
  }
  if (StopRequested()) return RunResult::UserBreak;

  Reports.clear();
  writtenPaths.clear();
  const OutputType pdfType = settings.PdfType;
  const bool merged = pdfType == OutputType::Merged;
  std::unique_ptr<CPdfDocument> runDocument;
  targetFolder.clear();
  if (merged) {
    runDocument.reset(NewDocument(page.width, page.height));
    if (!runDocument) {
      AppendLog(kNoMemory);
      return RunResult::NoMemory;
    }
  } else {
    targetFolder = WithTrailingSeparator(settings.TargetPdf);
  }
  if (StopRequested()) return UserBreak();

  // Drawings whose pages are in the merged file: failed after all when it cannot be written.
  std::vector<std::string> mergedDrawings;
  const std::size_t jobs = JobCount();
  if (jobs > 1) {
    const RunResult result = ConvertSideBySide(page, jobs, runDocument.get(), mergedDrawings);
    if (result != RunResult::Done) return result;
  } else {
    for (std::size_t i = 0; i < settings.SourceFiles.size(); ++i) {
      const RunResult result = ConvertListed(i, page, runDocument.get(), mergedDrawings);
      if (result != RunResult::Done) return result;
    }
  }

  if (merged) {
    if (mergedDrawings.empty() && !FailedFiles.empty()) {
      // Every drawing failed: a file without pages would only replace a good one.
      AppendLog("No PDF file is written: no drawing could be converted.");
    } else if (SavePdfDocument(*runDocument, MergedPdfName(settings.TargetPdf))) {
      // Written even when no drawing gave a page.
      for (CDrawingReport& report : Reports) {
        if (report.result == RunResult::Done) report.outputs.push_back(ResultFiles.back());
      }
    } else {
      FailedFiles.insert(FailedFiles.end(), mergedDrawings.begin(), mergedDrawings.end());
      for (CDrawingReport& report : Reports) {
        if (report.result != RunResult::Done) continue;
        report.result = RunResult::CannotWrite;
        report.reason = "the merged PDF file cannot be written";
      }
    }
  }
  return RunResult::Done;
}

RunResult CConvertJob::ConvertListed(std::size_t i, const PageSetup& page,
                                     CPdfDocument* runDocument,
                                     std::vector<std::string>& mergedDrawings) {
  const CConvertSettings& settings = Settings;
  const bool merged = runDocument != nullptr;
  const bool perDrawing = !merged && settings.PdfType != OutputType::PerLayout;
  if (StopRequested()) return UserBreak();
  const std::string path = settings.SourceFiles[i];
  const std::string bookmark =
      i < settings.BookmarkNames.size() ? settings.BookmarkNames[i] : std::string();
  if (IsFile(path)) {
    SetStatusText(Format("Converting: %s", path));
    Reports.emplace_back().path = path;
    CDrawingReport& report = Reports.back();
    std::unique_ptr<CPdfDocument> drawingDocument;
    if (perDrawing) {
      drawingDocument.reset(NewDocument(page.width, page.height));
      if (!drawingDocument) {
        AppendLog(kNoMemory);
        return RunResult::NoMemory;
      }
    }
    if (StopRequested()) return UserBreak();
    CPdfDocument* document = merged ? runDocument : drawingDocument.get();
    // What the merged file held before this drawing: a drawing that fails half-way leaves
    // nothing of itself in it.
    const CPdfDocument::Mark before = merged ? runDocument->MarkState() : CPdfDocument::Mark{};
    RunResult result;
    try {
      result = ConvertDrawing(path, bookmark, document, page);
    } catch (const std::bad_alloc&) {
      // Memory ran out inside the drawing: it fails, the run goes on with the next one.
      AppendLog(kNoMemory);
      result = RunResult::NoMemory;
    }
    if (StopRequested()) return UserBreak();
    if (result == RunResult::Done && FailsOnWarnings()) result = RunResult::Warned;
    if (result == RunResult::Warned) AppendLog("Warnings count as failures in this run.");
    if (result == RunResult::NoMemory && report.reason.empty()) {
      report.reason = "not enough memory";
    }
    if (result != RunResult::Done && merged) runDocument->RollBack(before);
    if (perDrawing && result == RunResult::Done &&
        !SavePdfDocument(*drawingDocument, DrawingPdfName(path, targetFolder))) {
      result = RunResult::CannotWrite;
    }
    drawingDocument.reset();
    report.result = result;
    if (result == RunResult::Warned) report.reason = "its warnings count as failures";
    if (result == RunResult::CannotWrite && report.reason.empty()) {
      report.reason = "its PDF file cannot be written";
    }
    if (result == RunResult::Done) {
      AppendLog(Format("Convert %s successfully!\r\n", path));
      if (merged) mergedDrawings.push_back(path);
    } else {
      AppendLog(Format("Convert %s failure!\r\n", path));
      FailedFiles.push_back(path);
    }
  }
  if (!deferSaves) listener.StepProgress();
  return RunResult::Done;
}

// What a worker of a run side by side logs, kept until its drawing's turn comes: lines, and files
// saved under a temporary name that the run renames to the file's own name.
struct CWorkerEntry {
  std::string text;
  bool file = false;
  std::string temporary, wanted;
  bool written = false;
  bool lostPages = false;
};

class CWorkerLog : public CConvertListener {
 public:
  explicit CWorkerLog(std::function<void(std::string_view)> showStatus)
      : showStatus(std::move(showStatus)) {}
  void AppendLog(std::string_view text) override {
    CWorkerEntry entry;
    entry.text = text;
    entries.push_back(std::move(entry));
  }
  void SetStatusText(std::string_view text) override { showStatus(text); }
  // Workers meet no run-wide problem (the page was checked before they start): no messages.
  void ShowMessage(std::string_view) override {}

  std::vector<CWorkerEntry> entries;

 private:
  std::function<void(std::string_view)> showStatus;
};

std::size_t CConvertJob::JobCount() const {
  std::size_t jobs =
      Jobs > 0 ? static_cast<std::size_t>(Jobs) : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  return std::min(jobs, Settings.SourceFiles.size());
}

RunResult CConvertJob::ConvertSideBySide(const PageSetup& page, std::size_t jobs,
                                         CPdfDocument* runDocument,
                                         std::vector<std::string>& mergedDrawings) {
  const std::size_t count = Settings.SourceFiles.size();
  const bool merged = runDocument != nullptr;
  struct Slot {
    bool started = false;
    bool done = false;
    RunResult result = RunResult::Done;
    std::vector<CWorkerEntry> entries;
    std::vector<CDrawingReport> reports;
    std::vector<std::string> failed;
    // For a merged file: the drawing's own document, and whether its pages go in.
    std::unique_ptr<CPdfDocument> part;
    bool appended = false;
    std::int64_t cost = 0;
  };
  std::vector<Slot> slots(count);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;
  std::int64_t inFlight = 0;
  int running = 0;
  const std::int64_t budget = MemoryBudget();
  std::mutex statusMutex;

  const auto work = [&]() {
    SetDeflateEffort(Effort(Settings.Compression));
    SetBackgroundDeflate(true);
    CWorkerLog log([&](std::string_view text) {
      std::lock_guard<std::mutex> lock(statusMutex);
      SetStatusText(text);
    });
    CConvertJob job(Settings, PenSet, log);
    job.deferSaves = true;
    job.stopSource = &StopFlag;
    job.StrictWarnings = StrictWarnings;
    job.targetFolder = targetFolder;
    for (;;) {
      std::size_t i = 0;
      std::int64_t cost = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        // A large drawing waits until it fits beside the running ones; alone, it always runs.
        changed.wait(lock, [&] {
          if (next >= count || StopRequested()) return true;
          cost = MemoryCost(Settings.SourceFiles[next]);
          return running == 0 || inFlight + cost <= budget;
        });
        if (next >= count || StopRequested()) return;
        i = next++;
        slots[i].started = true;
        inFlight += cost;
        ++running;
      }
      std::vector<std::string> appended;
      std::unique_ptr<CPdfDocument> part;
      RunResult result;
      try {
        if (merged) {
          part.reset(NewDocument(page.width, page.height));
          if (!part) throw std::bad_alloc();
        }
        result = job.ConvertListed(i, page, part.get(), appended);
      } catch (const std::bad_alloc&) {
        result = RunResult::NoMemory;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        Slot& slot = slots[i];
        slot.result = result;
        slot.entries = std::move(log.entries);
        slot.reports = std::move(job.Reports);
        slot.failed = std::move(job.FailedFiles);
        slot.part = std::move(part);
        slot.appended = !appended.empty();
        slot.done = true;
        // A drawing's own document holds its pages until its turn: its memory is counted
        // until then.
        if (merged) {
          slot.cost = cost;
        } else {
          inFlight -= cost;
        }
        --running;
      }
      log.entries.clear();
      job.Reports.clear();
      job.FailedFiles.clear();
      job.ResultFiles.clear();
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t k = 0; k < jobs; ++k) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer workers than asked for; one is enough
    }
  }
  if (workers.empty()) work();

  // The drawings' logs and files, handed on in list order as they finish.
  RunResult ended = RunResult::Done;
  std::size_t handed = 0;
  for (; handed < count; ++handed) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
      return slots[handed].done || (StopRequested() && !slots[handed].started) ||
             (workers.empty() && next >= count);
    });
    Slot& slot = slots[handed];
    if (!slot.done || slot.result != RunResult::Done) {
      ended = slot.done ? slot.result : RunResult::UserBreak;
      break;
    }
    std::vector<CWorkerEntry> entries = std::move(slot.entries);
    std::vector<CDrawingReport> reports = std::move(slot.reports);
    std::vector<std::string> failed = std::move(slot.failed);
    std::unique_ptr<CPdfDocument> part = std::move(slot.part);
    const bool appended = slot.appended;
    lock.unlock();
    // Taking the pages over fails only when memory is short: the drawing then fails as one
    // that ran out of memory while drawn, and the run goes on.
    const bool lost = appended && !runDocument->Append(*part);
    part.reset();
    {
      std::lock_guard<std::mutex> relock(mutex);
      inFlight -= slot.cost;
    }
    changed.notify_all();
    for (CDrawingReport& report : reports) Reports.push_back(std::move(report));
    for (const CWorkerEntry& entry : entries) {
      if (!entry.file) {
        AppendLog(entry.text);
        continue;
      }
      const std::string path = UniqueOutputPath(entry.wanted);
      AppendLog("Saving to pdf file...");
      if (!entry.written || std::rename(entry.temporary.c_str(), FollowLinks(path).c_str()) != 0) {
        if (entry.written) std::remove(entry.temporary.c_str());
        AppendLog(Format("Can not write PDF file: %s", path));
        continue;
      }
      if (entry.lostPages) AppendLog(kNoMemory);
      ResultFiles.push_back(path);
      if (!Reports.empty()) Reports.back().outputs.push_back(path);
      AppendLog("Save result to the below PDF file:");
      AppendLog(path);
    }
    if (lost) {
      AppendLog(kNoMemory);
      failed.push_back(Settings.SourceFiles[handed]);
      Reports.back().result = RunResult::NoMemory;
      Reports.back().reason = "not enough memory";
    } else if (appended) {
      mergedDrawings.push_back(Settings.SourceFiles[handed]);
    }
    FailedFiles.insert(FailedFiles.end(), failed.begin(), failed.end());
    listener.StepProgress();
  }
  {
    // Whatever is still running ends at its next stop point.
    std::lock_guard<std::mutex> lock(mutex);
    next = count;
  }
  changed.notify_all();
  for (std::thread& worker : workers) worker.join();
  // Files of drawings whose turn did not come are not the run's results.
  for (std::size_t i = handed; i < count; ++i) {
    for (const CWorkerEntry& entry : slots[i].entries) {
      if (entry.file && entry.written) std::remove(entry.temporary.c_str());
    }
  }
  if (ended == RunResult::UserBreak) return UserBreak();
  if (ended == RunResult::NoMemory) AppendLog(kNoMemory);
  return ended;
}

void CConvertJob::CollectWarnings(CDrawing& drawing) {
  // Each page of a drawing may say again what an earlier page said (the same missing font,
  // the same underlay, a count of its own): the drawing's log and list keep the first.
  const auto subject = [](std::string_view warning) {
    const std::size_t open = warning.rfind(" (");
    if (open != std::string_view::npos && warning.ends_with(" times)")) {
      warning = warning.substr(0, open);
    }
    return warning;
  };
  for (std::string& warning : drawing.TakeWarnings()) {
    if (!Reports.empty()) {
      std::vector<std::string>& said = Reports.back().warnings;
      const bool repeated = std::any_of(said.begin(), said.end(), [&](const std::string& earlier) {
        return subject(earlier) == subject(warning);
      });
      if (repeated) continue;
    }
    AppendLog("Warning: " + warning);
    if (!Reports.empty()) Reports.back().warnings.push_back(std::move(warning));
  }
}

bool CConvertJob::FailsOnWarnings() const {
  return StrictWarnings && !Reports.empty() && !Reports.back().warnings.empty();
}

std::string CConvertJob::UniqueOutputPath(const std::string& path) {
  if (writtenPaths.insert(path).second) return path;
  // A second result of this run with the same name (two drawings called plan.dxf in different
  // folders, layouts "Sheet/1" and "Sheet_1") gets "-2", "-3" … before its extension.
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const std::size_t cut =
      dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
  for (int n = 2;; ++n) {
    std::string candidate = path.substr(0, cut) + "-" + std::to_string(n) + path.substr(cut);
    if (writtenPaths.insert(candidate).second) {
      AppendLog(Format("The name %s is taken by an earlier result of this run;", path));
      AppendLog(Format("written as %s instead.", candidate));
      return candidate;
    }
  }
}

bool CConvertJob::SavePdfDocument(CPdfDocument& document, const std::string& wantedPath) {
  const CPdfDocumentTexts texts{Settings.Title, Settings.Author, Settings.Subject,
                                Settings.Keywords};
  AddDocumentInformation(document, texts, CreationDateText());
  if (deferSaves) {
    // A worker side by side: the file is written beside its place under a name of its own,
    // and the run gives it its name when the drawing's turn comes.
    const fs::path wanted(wantedPath);
    if (const fs::path folder = wanted.parent_path(); !folder.empty()) {
      std::error_code ignored;
      if (!fs::is_directory(folder, ignored)) fs::create_directories(folder, ignored);
    }
    static std::atomic<unsigned> counter{0};
    const fs::path place(FollowLinks(wantedPath));
    CWorkerEntry entry;
    entry.file = true;
    entry.wanted = wantedPath;
    entry.temporary =
        (place.parent_path() / ("." + place.filename().string() + "." + std::to_string(getpid()) +
                                "-" + std::to_string(counter++) + ".part"))
            .string();
    entry.written = document.Save(entry.temporary);
    entry.lostPages = document.LostPages() > 0;
    static_cast<CWorkerLog&>(listener).entries.push_back(std::move(entry));
    return static_cast<CWorkerLog&>(listener).entries.back().written;
  }
  const std::string path = UniqueOutputPath(wantedPath);
  AppendLog("Saving to pdf file...");
  // A folder of the target that is missing (a merged file named in a new folder) is made
  // rather than losing the whole run's pages at the very end.
  if (const fs::path folder = fs::path(path).parent_path(); !folder.empty()) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) fs::create_directories(folder, ignored);
  }
  if (!document.Save(path)) {
    AppendLog(Format("Can not write PDF file: %s", path));
    return false;
  }
  // A page that found no memory to be written is left out of the file.
  if (document.LostPages() > 0) AppendLog(kNoMemory);
  ResultFiles.push_back(path);
  if (!Reports.empty() && Settings.PdfType != OutputType::Merged) {
    Reports.back().outputs.push_back(path);
  }
  AppendLog("Save result to the below PDF file:");
  AppendLog(path);
  return true;
}

CConvertJob::OpenedDrawing CConvertJob::OpenDrawing(const std::string& path) const {
  OpenedDrawing result;
  result.drawing.reset(CDrawing::CreateDrawing());
  CDrawing* drawing = result.drawing.get();
  if (!drawing) {
    result.memoryShort = true;
    return result;
  }
  // The drawing looks for the files it names (fonts, images) in the run's own folders.
  if (const std::string folders = Settings.JoinedSearchPaths(); !folders.empty()) {
    drawing->SetSearchDirectories(folders.c_str());
  }
  drawing->SetStopFlag(stopSource ? stopSource : &StopFlag);
  drawing->RestrictReferences(Settings.RestrictReferences != 0);
  if (drawing->OpenFile(path.c_str(), 0) != 0) {
    result.reason = drawing->GetLastError();
    result.drawing.reset();
    return result;
  }
  drawing->PrepareDrawing(0);
  result.opened = true;
  return result;
}

RunResult CConvertJob::ConvertDrawing(const std::string& path, const std::string& bookmark,
                                      CPdfDocument* document, const PageSetup& page) {
  AppendLog(Format("Begin convert: %s", path));
  OpenedDrawing opened = OpenDrawing(path);
  std::unique_ptr<CDrawing, DrawingDeleter>& drawing = opened.drawing;
  if (opened.memoryShort) {
    AppendLog(kNoMemory);
    return RunResult::NoMemory;
  }
  if (!opened.opened) {
    const std::string& reason = opened.reason;
    AppendLog(Format("Can not open drawing file: %s", path));
    // The library's reason, on a line of its own ("DWG files are not supported yet").
    if (!reason.empty()) AppendLog(Format("Reason: %s", reason));
    if (!Reports.empty()) {
      Reports.back().reason = reason.empty() ? "it cannot be opened as a drawing" : reason;
    }
    return RunResult::CannotOpen;
  }
  CollectWarnings(*drawing);
  if (StopRequested()) {
    drawing.reset();
    return UserBreak();
  }
  if (FailsOnWarnings()) return RunResult::Warned;

  drawingWriteFailed = false;
  const bool useLayoutPageSet = Settings.UseLayoutPageSet != 0;
  RunResult result;
  switch (Settings.Layout) {
    case LayoutChoice::ModelSpace:
      result = ConvertOneLayout(*drawing, bookmark, true, document, page, useLayoutPageSet);
      break;
    case LayoutChoice::ActiveLayout:
      result = ConvertOneLayout(*drawing, bookmark, false, document, page, useLayoutPageSet);
      break;
    case LayoutChoice::PaperLayouts:
      result = ConvertLayoutRange(*drawing, bookmark, 1, document, page, useLayoutPageSet);
      break;
    default:
      result = ConvertLayoutRange(*drawing, bookmark, 0, document, page, useLayoutPageSet);
      break;
  }
  if (result == RunResult::Done && drawingWriteFailed) result = RunResult::CannotWrite;
  return result;
}

RunResult CConvertJob::ConvertLayoutRange(CDrawing& drawing, const std::string& bookmark, int first,
                                          CPdfDocument* document, const PageSetup& page,
                                          bool useLayoutPageSet) {
  const bool perLayout = Settings.PdfType == OutputType::PerLayout;
  // The drawing's bookmark, parent of its pages' bookmarks.
  CPdfOutline* drawingMark = nullptr;
  if (!perLayout && document) {
    drawingMark = document->OutlineRoot()->AddChild(&document->nextObjectNumber);
    if (drawingMark) drawingMark->SetTitle(bookmark);
  }

  for (int i = first; i < drawing.GetLayoutCount(); ++i) {
    if (drawing.IsLayoutSkipped(i)) continue;
    drawing.SetActiveLayout(i);
    std::int32_t width, height;
    PageSizeOf(drawing, i, useLayoutPageSet, page, &width, &height);

    std::unique_ptr<CPdfDocument> layoutDocument;
    CPdfDocument* target = PageDocument(document, width, height, layoutDocument);
    if (perLayout && !target) return RunResult::NoMemory;
    CPdfOutline* parent = drawingMark;
    if (perLayout) {
      parent = target->OutlineRoot()->AddChild(&target->nextObjectNumber);
      if (parent) parent->SetTitle(bookmark);
    }
    if (StopRequested()) return UserBreak();
    if (!target) return RunResult::NoMemory;

    PageRequest request;
    request.document = target;
    request.width = width;
    request.height = height;
    request.margin = page.margin;
    request.name = drawing.GetLayoutName(i);
    request.parent = parent;
    request.layoutIndex = i;
    request.inRange = true;
    AppendLog(Format("Converting layout: %s", request.name));
    const RunResult made = MakePage(drawing, request);
    if (made != RunResult::Done) return made;
    if (perLayout) {
      if (FailsOnWarnings()) return RunResult::Warned;
      const std::string pdf =
          LayoutPdfName(DrawingPdfName(drawing.GetFileName(), targetFolder), request.name);
      if (!SavePdfDocument(*layoutDocument, pdf)) drawingWriteFailed = true;
      layoutDocument.reset();
    }
    if (StopRequested()) return UserBreak();
  }
  // Layouts skipped after the last page said why too.
  CollectWarnings(drawing);
  return RunResult::Done;
}

RunResult CConvertJob::ConvertOneLayout(CDrawing& drawing, const std::string& bookmark,
                                        bool selectModelSpace, CPdfDocument* document,
                                        const PageSetup& page, bool useLayoutPageSet) {
  // The page takes the size of the layout that was active when the drawing was saved, even
  // when model space is drawn.
  std::int32_t width, height;
  PageSizeOf(drawing, drawing.GetActiveLayout(), useLayoutPageSet, page, &width, &height);

  const bool perLayout = Settings.PdfType == OutputType::PerLayout;
  std::unique_ptr<CPdfDocument> layoutDocument;
  CPdfDocument* target = PageDocument(document, width, height, layoutDocument);
  if (!target) return RunResult::NoMemory;
  CPdfOutline* drawingMark = target->OutlineRoot()->AddChild(&target->nextObjectNumber);
  if (drawingMark) drawingMark->SetTitle(bookmark);
  if (StopRequested()) return UserBreak();

  if (selectModelSpace) drawing.SetActiveLayout(0);
  PageRequest request;
  request.document = target;
  request.width = width;
  request.height = height;
  request.margin = page.margin;
  request.layoutIndex = drawing.GetActiveLayout();
  request.name = drawing.GetLayoutName(request.layoutIndex);
  request.parent = drawingMark;
  request.singleLayout = true;
  AppendLog(Format("Converting layout: %s", request.name));
  const RunResult made = MakePage(drawing, request);
  if (made != RunResult::Done) return made;
  if (StopRequested()) return UserBreak();
  if (perLayout) {
    if (FailsOnWarnings()) return RunResult::Warned;
    if (!SavePdfDocument(*layoutDocument, DrawingPdfName(drawing.GetFileName(), targetFolder))) {
      drawingWriteFailed = true;
    }
    layoutDocument.reset();
  }
  if (StopRequested()) return UserBreak();
  return RunResult::Done;
}

void CConvertJob::PageSizeOf(CDrawing& drawing, int layoutIndex, bool useLayoutPageSet,
                             const PageSetup& page, std::int32_t* width, std::int32_t* height) {
  bool adjusted = false;
  LayoutPageSize(drawing, layoutIndex, useLayoutPageSet, page, width, height, &adjusted);
  if (!adjusted) return;
  AppendLog("The page size been adjusted by layout !");
  // A layout's paper of no size, or larger than a PDF page can be, gives no page: the run's
  // page is taken instead.
  if (PageSetupProblem({*width, *height, page.margin}, Settings.Quality)) {
    const std::string warning = "the paper of layout \"" + drawing.GetLayoutName(layoutIndex) +
                                "\" cannot be a PDF page; the run's page size is used";
    AppendLog("Warning: " + warning);
    if (!Reports.empty()) Reports.back().warnings.push_back(warning);
    *width = page.width;
    *height = page.height;
  }
}

CPdfDocument* CConvertJob::PageDocument(CPdfDocument* document, std::int32_t width,
                                        std::int32_t height, std::unique_ptr<CPdfDocument>& own) {
  if (Settings.PdfType != OutputType::PerLayout) return document;
  own.reset(NewDocument(width, height));
  if (!own) AppendLog(kNoMemory);
  return own.get();
}

const CPenSet* CConvertJob::LayoutPens(CDrawing& drawing, int layoutIndex) {
  const std::string name = drawing.GetLayoutPlotStyleTable(layoutIndex);
  // Named plot style tables (.stb) give pens by style name, not by colour: not a pen set.
  if (name.size() < 4 ||
      !EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".ctb")) {
    return nullptr;
  }
  const std::string drawingPath = drawing.GetFileName();
  if (drawingPath != layoutPensDrawing) {
    layoutPens.clear();
    layoutPensDrawing = drawingPath;
  }
  auto found = layoutPens.find(name);
  if (found != layoutPens.end()) return found->second.get();
  std::unique_ptr<CPenSet>& pens = layoutPens[name];
  const std::string path = FindPlotStyleFile(name, drawingPath, Settings.SearchPaths);
  if (path.empty()) return nullptr;
  if (!drawing.LoadPlotStyleTable(path.c_str())) {
    AppendLog("Warning: the plot style table " + path +
              " cannot be read; the drawing's colours are used");
    return nullptr;
  }
  pens = std::make_unique<CPenSet>();
  for (int i = 0; i < 256; ++i) {
    short colorIndex = -1;
    int rgb = 0;
    double widthMm = 0;
    drawing.GetPlotStyleEntry(i, &colorIndex, &rgb, &widthMm);
    if (colorIndex < 0 || colorIndex > 255) {
      // A colour exactly that of the index keeps the index (the palette repeats colours).
      colorIndex = static_cast<std::uint32_t>(rgb & 0xFFFFFF) == ColorRgb(i)
                       ? static_cast<short>(i)
                       : static_cast<short>(
                             NearestColorIndex(rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16 & 0xFF));
    }
    pens->entries[static_cast<std::size_t>(i)].destColor = colorIndex;
    pens->entries[static_cast<std::size_t>(i)].width = widthMm / 25.4;
  }
  AppendLog(Format("Plot style table of the layout: %s", path));
  return pens.get();
}

void CConvertJob::LayoutNamedStyles(CDrawing& drawing, int layoutIndex, bool userPens) {
  const std::string drawingPath = drawing.GetFileName();
  if (drawingPath != layoutPensDrawing) {
    layoutPens.clear();
    layoutPensDrawing = drawingPath;
    namedStylesLoaded.clear();
  }
  std::string name = userPens ? std::string() : drawing.GetLayoutPlotStyleTable(layoutIndex);
  if (name.size() < 4 ||
      !EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".stb")) {
    name.clear();
  }
  if (name == namedStylesLoaded) return;
  namedStylesLoaded = name;
  const std::string path =
      name.empty() ? std::string() : FindPlotStyleFile(name, drawingPath, Settings.SearchPaths);
  if (path.empty()) {
    drawing.LoadNamedPlotStyleTable(nullptr);
    return;
  }
  if (!drawing.LoadNamedPlotStyleTable(path.c_str())) {
    AppendLog("Warning: the plot style table " + path +
              " cannot be read; the drawing's colours are used");
    return;
  }
  AppendLog(Format("Plot style table of the layout: %s", path));
}

RunResult CConvertJob::MakePage(CDrawing& drawing, const PageRequest& request) {
  CPdfDocument& document = *request.document;
  const std::int32_t width = request.width, height = request.height, margin = request.margin;
  CPdfPage* pdfPage = document.PageTreeRoot()->AddPage(&document.nextObjectNumber);
  if (!pdfPage) {
    AppendLog(kNoMemory);
    return RunResult::NoMemory;
  }
  pdfPage->SetMediaBox(width, height);
  document.ShareResources(pdfPage);

  if (request.parent) {
    if (CPdfOutline* mark = request.parent->AddChild(&document.nextObjectNumber)) {
      mark->SetDest(pdfPage, "XYZ", 0, 0, 0, 0);
      mark->SetTitle(request.name);
    }
  }
  CPdfContentStream* content = pdfPage->AddContentStream(&document.nextObjectNumber);
  // A page of a very large drawing is deflated while it is drawn instead of afterwards.
  if (content) content->DeflateInPieces();
  if (StopRequested()) return UserBreak();

  std::unique_ptr<CPdfExport> device(NewOrNull<CPdfExport>());
  if (!device) {
    AppendLog(kNoMemory);
    return RunResult::NoMemory;
  }
  device->Document = &document;
  device->Page = pdfPage;
  device->Content = content;
  device->RasterEnabled = Settings.ExportRaster != 0;
  device->WidthDivisor = WidthDivisorFor(Settings.Quality);
  device->UsePenTable = Settings.UsePenSets != 0;
  device->LayersEnabled = Settings.ExportLayer;
  device->ExactWidths = Settings.ExactLineWeights != 0;
  device->SetColorType(static_cast<int>(Settings.Colors));
  device->OffsetX = margin;
  device->OffsetY = margin;
  device->PenSet = &PenSet;
  // Without pens of the user's choice, a layout plots with the table its page set-up names,
  // as the drawing's own program plots it; its pens of width 0 keep the lineweights.
  LayoutNamedStyles(drawing, request.layoutIndex, device->UsePenTable);
  if (!device->UsePenTable) {
    if (const CPenSet* pens = LayoutPens(drawing, request.layoutIndex)) {
      device->UsePenTable = true;
      device->PenSet = pens;
      device->ObjectWidthForZeroPens = true;
    }
  }

  drawing.SetOutputSize(width - 2 * margin, height - 2 * margin);
  drawing.SetExport(device.get());
  // The single-layout routines recognise model space by the layout active at this moment.
  SetUpView(drawing, Settings,
            request.singleLayout ? drawing.GetActiveLayout() : request.layoutIndex,
            request.singleLayout, width, height);
  if (StopRequested()) {
    drawing.SetExport(nullptr);
    return UserBreak();
  }

  // A page without a content stream (memory ran short) stays empty.
  if (content && device->BeginPage(0, 0, 0, width, height)) {
    drawing.PrepareDraw();
    drawing.Draw(0, 0, 0);
    drawing.SetExport(nullptr);
    device->EndPage();
  } else {
    drawing.SetExport(nullptr);
  }
  CollectWarnings(drawing);
  if (!Reports.empty()) ++Reports.back().pages;
  if (request.inRange) {
    drawing.FinishLayout();
    if (StopRequested()) return UserBreak();
  }
  return RunResult::Done;
}
