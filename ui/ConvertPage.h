#pragma once

#include <QStringList>
#include <memory>
#include <optional>

#include "convert/RunResult.h"
#include "ui/CommonPage.h"
#include "ui/WizardDlg.h"

class CConvertAnimation;
class CConvertJob;
class CConvertSettings;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The last page: starts a conversion run and, while it lasts, stops it. It shows the run's log,
// a status line and the progress bar, and a small animation in the banner; at the end of a run
// that was not stopped it lists the PDF files written in the report dialog.
//
// The run works on a thread of its own (CConvertJob). Everything it shows reaches the page as
// queued calls on the user-interface thread, in the order the run sent it, so the window never
// waits for the run and the run never touches a widget. While a run is in progress the wizard is
// busy, which keeps the other pages, and so the settings the run reads, out of the user's reach.
class CConvertPage : public CCommonPage, public CRunControl {
  Q_OBJECT

 public:
  CConvertPage(CConvertSettings& settings, CWizardDlg& wizard, QWidget* parent = nullptr);
  // Asks a run in progress to stop and waits for it: the run reads the settings and the page.
  ~CConvertPage() override;

  // The button takes the keyboard focus, so that Enter or Space starts a run.
  void OnEnterPage() override;

  // The button: when idle, every page hands its values to the settings, the wizard turns busy
  // and the run starts; during a run, the run is asked to stop at its next stop point (the
  // status line says so and keeps saying so until the run has ended).
  void OnConvert();
  // From the start of a run until the page has handled its end.
  bool IsRunning() const { return running; }

  // CRunControl, for the wizard's exit during a run.
  void StopRun() override;
  void WaitForRun() override;

  // The PDF files written by the last run, in writing order. Valid when no run is in progress.
  QStringList ResultFiles() const;
  // The drawings the last run could not convert.
  QStringList FailedFiles() const;

  QPlainTextEdit* LogBox() const { return logBox; }
  QLabel* StatusLine() const { return statusLine; }
  QPushButton* ConvertButton() const { return convertButton; }
  QProgressBar* ProgressBar() const { return progressBar; }
  CConvertAnimation* Animation() const { return animation; }

 Q_SIGNALS:
  // Sent by the run's thread when it has ended (its running flag already clear), with the
  // RunResult; connected to the page through the event queue, after everything else the run sent.
  void ConvertFinished(int result);
  // A line was added to the log box.
  void LogAppended(const QString& text);
  // The page has handled the end of a run, the report (if any) closed, and is idle again.
  void RunEnded(int result);

 private:
  class CPageListener;

  void StartRun();
  void OnConvertFinished(int result);
  // A message of the run (the parameter error), shown on this thread. The end of the run, should
  // it arrive while the message is open, is handled when the message has been closed.
  void ShowRunMessage(const QString& text);
  void ShowLogLine(const QString& text);
  void ShowStatus(const QString& text);

  CConvertSettings& settings;
  CWizardDlg& wizard;
  std::unique_ptr<CPageListener> listener;
  std::unique_ptr<CConvertJob> job;

  bool running = false;
  // Stop was pressed: status texts the run sent before it saw the stop are dropped.
  bool stopping = false;
  int openMessages = 0;
  std::optional<int> pendingFinish;

  QLabel* hint = nullptr;
  QPlainTextEdit* logBox = nullptr;
  QLabel* statusLine = nullptr;
  QPushButton* convertButton = nullptr;
  QProgressBar* progressBar = nullptr;
  CConvertAnimation* animation = nullptr;
};
