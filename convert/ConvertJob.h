#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "convert/PageSetup.h"
#include "convert/RunResult.h"

class CConvertSettings;
class CDrawing;
class CPdfDocument;
class CPdfOutline;
class CPenSet;

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
// point. The worker reads the settings while it runs and the owner leaves them alone until
// the running flag is clear again; the flags are the only state both sides write.
class CConvertJob {
 public:
  // Neither is owned; both must outlive the job.
  CConvertJob(CConvertSettings& settings, CConvertListener& listener);
  // Waits for a run in progress to end.
  ~CConvertJob();
  CConvertJob(const CConvertJob&) = delete;
  CConvertJob& operator=(const CConvertJob&) = delete;

  // Starts a run as the convert page does: sets the running, status and log flags, logs
  // "Starting converting...", empties the result lists, sets the progress range to the number
  // of drawings, clears the stop flag and starts the worker thread. False (and nothing done)
  // while a run is in progress.
  bool Start();
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
  // PdfType asks for. Done also when single drawings failed (they are logged and listed in
  // FailedFiles); ParameterError for a page without width or height; UserBreak; NoMemory.
  RunResult ConvertAll();
  // One drawing's pages into document (absent for one PDF per layout, which makes and saves
  // its own). Done, CannotOpen, CannotWrite (a per-layout file could not be saved; the other
  // layouts are still converted), UserBreak or NoMemory.
  RunResult ConvertDrawing(const std::string& path, const std::string& bookmark,
                           CPdfDocument* document, const PageSetup& page);
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

  // The pen set read by the devices when pen sets are in use; the current one by default.
  const CPenSet* PenSet = nullptr;

  std::atomic<bool> RunningFlag{false};
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> LogEnabled{true};
  std::atomic<bool> StatusEnabled{true};
  // The PDF files written in this run, in writing order (a name twice when written twice).
  std::vector<std::string> ResultFiles;
  // The drawings whose conversion failed in this run: not opened, out of memory, or a PDF
  // holding their pages could not be written.
  std::vector<std::string> FailedFiles;

 private:
  // The steps that make one page of a layout in document: page, bookmark under parent titled
  // name, device, view, drawing. rangeRoutine adds FinishLayout after drawing and the stop test
  // after it. Done, UserBreak or NoMemory.
  RunResult MakePage(CDrawing& drawing, CPdfDocument& document, std::int32_t width,
                     std::int32_t height, std::int32_t margin, const std::string& name,
                     CPdfOutline* parent, int layoutIndex, bool singleLayout, bool rangeRoutine);
  // Logs "User break!" and returns UserBreak.
  RunResult UserBreak();
  bool StopRequested() const { return StopFlag.load(); }

  CConvertSettings& settings;
  CConvertListener& listener;
  std::thread worker;
  // Set when a per-layout file of the drawing in hand could not be written.
  bool drawingWriteFailed = false;
};
