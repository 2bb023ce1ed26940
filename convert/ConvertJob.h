#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "convert/ConvertSettings.h"
#include "convert/PageSetup.h"
#include "convert/RunResult.h"
#include "pensets/PenSet.h"

class CDrawing;

// What became of one drawing of a run.
struct CDrawingReport {
  std::string path;
  RunResult result = RunResult::Done;
  int pages = 0;
  // The files that hold its pages.
  std::vector<std::string> outputs;
  // What the drawing library could not read or draw as it is, as the log's "Warning:" lines.
  std::vector<std::string> warnings;
  // Why the drawing failed, in one line; empty when it did not.
  std::string reason;
};
class CPdfDocument;
class CPdfOutline;

// What a conversion run shows its owner: the wizard's convert page implements it with its
// controls, the command line with the terminal, tests with a recorder. Every call but
// RunFinished's comes from the thread that runs the conversion; the owner must not block it
// for long.
class CConvertListener {
 public:
  virtual ~CConvertListener() = default;
  // One more entry of the log, exactly as the run words it (some texts end in "\r\n": the log
  // box then shows an empty line after them).
  virtual void AppendLog(std::string_view text) = 0;
  // The status line's new text.
  virtual void SetStatusText(std::string_view text) = 0;
  // The progress bar: range 0 to count, step 1, position 0, shown.
  virtual void SetProgressRange(int count) { (void)count; }
  // One step of the progress bar.
  virtual void StepProgress() {}
  // A message with an OK button only. By default it goes to the installed message reporter.
  virtual void ShowMessage(std::string_view text);
  // The run has ended; called on the worker thread after the running flag was cleared.
  virtual void RunFinished(RunResult result) { (void)result; }
};

// A conversion run and the state its owner shares with it: the flags, the result list and the
// listener. Start runs ConvertAll on a thread of its own; Stop asks it to end at its next stop
// point. The run works on its own copies of the settings and the pen set, so that its owner's
// stay free to change and several jobs with different settings can run in one process; it
// writes nothing back into them. The flags are the only state both sides write during a run.
class CConvertJob {
 public:
  // The listener is not owned and must outlive the job.
  explicit CConvertJob(CConvertListener& listener);
  CConvertJob(const CConvertSettings& settings, const CPenSet& penSet, CConvertListener& listener);
  // Waits for a run in progress to end.
  ~CConvertJob();
  CConvertJob(const CConvertJob&) = delete;
  CConvertJob& operator=(const CConvertJob&) = delete;

  // Starts a run as the convert page does: sets the running, status and log flags, logs
  // "Starting converting...", empties the result lists, sets the progress range to the number
  // of drawings, clears the stop flag and starts the worker thread. False (and nothing done)
  // while a run is in progress. The second form first takes copies of the settings and pens.
  bool Start();
  bool Start(const CConvertSettings& settings, const CPenSet& penSet);
  // Asks the run to stop: sets the stop flag and, the first time, shows "Stopping the
  // converting process, please wait..." in the status line, which the run then leaves alone.
  void Stop();
  // Waits until the worker thread has ended. Safe without a run.
  void Wait();
  // The owner's end of a run that was not stopped: "End convert.", "The belows are all the
  // result PDF files:" and every result path.
  void LogRunEnd(RunResult result);

  // The worker thread's entry: ConvertAll, then the running flag cleared, then RunFinished.
  static void ConvertThreadProc(CConvertJob* job);

  // The run: every existing drawing of the settings' list converted into the output their
  // PdfType asks for, on the job's own settings and pens. Done also when single drawings failed
  // (they are logged and listed in FailedFiles); ParameterError for a page without width or height;
  // UserBreak; NoMemory.
  RunResult ConvertAll();
  // One drawing's pages into document (absent for one PDF per layout, which makes and saves
  // its own). Done, CannotOpen, CannotWrite (a per-layout file could not be saved; the other
  // layouts are still converted), UserBreak or NoMemory.
  // A drawing read and prepared, or why it could not be.
  struct OpenedDrawing;
  RunResult ConvertDrawing(const std::string& path, const std::string& bookmark,
                           CPdfDocument* document, const PageSetup& page);
  // Reads and prepares the drawing at path, logging nothing: its turn logs the outcome.
  OpenedDrawing OpenDrawing(const std::string& path) const;
  // The layouts from index first on (0 all layouts, 1 the paper layouts), a page each.
  RunResult ConvertLayoutRange(CDrawing& drawing, const std::string& bookmark, int first,
                               CPdfDocument* document, const PageSetup& page,
                               bool useLayoutPageSet);
  // One page: of model space when selectModelSpace is set, else of the active layout.
  RunResult ConvertOneLayout(CDrawing& drawing, const std::string& bookmark, bool selectModelSpace,
                             CPdfDocument* document, const PageSetup& page, bool useLayoutPageSet);
  // Gives the document its information entries and creation date and writes it to path.
  // A written file joins ResultFiles; a file that cannot be written is logged ("Can not write
  // PDF file: %s") and false is returned.
  bool SavePdfDocument(CPdfDocument& document, const std::string& path);

  // The log and the status line, with the flag rules of the convert page: text is shown only
  // while the flag is set, and the flag then takes keep. "User break!" is logged with keep
  // false, so that nothing follows it.
  void AppendLog(std::string_view text, bool keep = true);
  void SetStatusText(std::string_view text, bool keep = true);

  // What the run converts and how, and the pens its devices draw with when Settings.UsePenSets
  // is set: the job's own copies. The owner changes them only while no run is in progress.
  CConvertSettings Settings;
  CPenSet PenSet;

  std::atomic<bool> RunningFlag{false};
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> LogEnabled{true};
  std::atomic<bool> StatusEnabled{true};
  // The PDF files written in this run, in writing order (a name twice when written twice).
  std::vector<std::string> ResultFiles;
  // The drawings whose conversion failed in this run: not opened, out of memory, or a PDF
  // holding their pages could not be written.
  std::vector<std::string> FailedFiles;
  // One entry per drawing the run took up, in run order.
  std::vector<CDrawingReport> Reports;
  // A drawing with warnings fails (its pages are not kept).
  bool StrictWarnings = false;
  // How many drawings are converted side by side in one PDF per drawing or per layout (0: as
  // many as the machine has cores). The log, the result list and the files' names come out as
  // one job would make them; a merged file is always made one drawing after the other.
  int Jobs = 1;

 private:
  // One page to be made of a layout.
  struct PageRequest {
    CPdfDocument* document = nullptr;                // the document the page goes into
    std::int32_t width = 0, height = 0, margin = 0;  // points
    std::string name;                                // the layout's name: the page bookmark's title
    CPdfOutline* parent = nullptr;  // the bookmark the page's bookmark goes under (or none)
    int layoutIndex = 0;            // the layout drawn (0 model space)
    // One layout of the drawing is converted: its area is scaled by 1 / Scale and model space
    // is recognised by the layout active when the page is made.
    bool singleLayout = false;
    // One of a range of layouts: FinishLayout after drawing, and the stop test after it.
    bool inRange = false;
  };
  // The steps that make one page: page, bookmark, device, view, drawing. Done, UserBreak or
  // NoMemory.
  RunResult MakePage(CDrawing& drawing, const PageRequest& request);
  // The pens of the plot style table a layout's page set-up names, when the table (a .ctb) is
  // found in the drawing's folder or the search paths; null otherwise. Read once per drawing
  // and table, and logged when first used.
  const CPenSet* LayoutPens(CDrawing& drawing, int layoutIndex);
  std::string layoutPensDrawing;
  // The named plot style table (.stb) the drawing of layoutPensDrawing was given last; empty
  // for none.
  std::string namedStylesLoaded;
  // Gives the drawing the named plot style table its layout names, found on the search paths,
  // or takes it away when the layout names none (or pens of the user's choice are used).
  void LayoutNamedStyles(CDrawing& drawing, int layoutIndex, bool userPens);
  std::map<std::string, std::unique_ptr<CPenSet>> layoutPens;
  // The page size of a layout (LayoutPageSize), logged when the layout's paper gives it; a paper
  // that cannot be a PDF page is replaced by the run's page, with a warning.
  void PageSizeOf(CDrawing& drawing, int layoutIndex, bool useLayoutPageSet, const PageSetup& page,
                  std::int32_t* width, std::int32_t* height);
  // The document a layout's page goes into: the drawing's or run's, or for one PDF per layout
  // a new one of the page's size, then kept in own. Null (logged) when memory is short.
  CPdfDocument* PageDocument(CPdfDocument* document, std::int32_t width, std::int32_t height,
                             std::unique_ptr<CPdfDocument>& own);
  // Logs "User break!" and returns UserBreak.
  RunResult UserBreak();
  // The drawing of index i of the list: its pages into runDocument (merged) or its own files.
  // Done also when the drawing failed; UserBreak or NoMemory when the run ends.
  RunResult ConvertListed(std::size_t i, const PageSetup& page, CPdfDocument* runDocument,
                          std::vector<std::string>& mergedDrawings);
  // The drawings converted by `jobs` workers at once; their logs, results and files' names are
  // handed on in list order. With runDocument (one merged file), each drawing is drawn into a
  // document of its own and appended to runDocument at its turn, so the file is the one a
  // single job writes; mergedDrawings lists the drawings appended.
  RunResult ConvertSideBySide(const PageSetup& page, std::size_t jobs, CPdfDocument* runDocument,
                              std::vector<std::string>& mergedDrawings);
  std::size_t JobCount() const;
  // Logs the drawing's new warnings ("Warning: …") and keeps them in its report.
  void CollectWarnings(CDrawing& drawing);
  // The drawing in hand has warnings and they count as failures.
  bool FailsOnWarnings() const;
  // path, or when this run has written a file of that name already, the same name with "-2",
  // "-3" … before its extension (logged).
  std::string UniqueOutputPath(const std::string& path);
  bool StopRequested() const { return StopFlag.load() || (stopSource && stopSource->load()); }

  CConvertListener& listener;
  // The folder of the PDFs for one PDF per drawing or per layout: Settings.TargetPdf with a
  // trailing separator (empty: next to each drawing).
  std::string targetFolder;
  std::thread worker;
  // Set when a per-layout file of the drawing in hand could not be written.
  bool drawingWriteFailed = false;
  // Every file this run has written, so that no two results share a path.
  std::set<std::string> writtenPaths;
  // A worker of a run side by side: the run's stop flag, and files saved under temporary names
  // that the run names in list order (a record in the worker's log).
  const std::atomic<bool>* stopSource = nullptr;
  bool deferSaves = false;
  friend class CWorkerLog;
};
