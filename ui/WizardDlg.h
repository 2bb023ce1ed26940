#pragma once

#include <QDialog>
#include <QList>

class CCommonPage;
class CConvertPage;
class CConvertSettings;
class CDwgOptionsPage;
class CIconButton;
class CMainPage;
class CPdfOptionsPage;
class CSelectFilePage;
class QPushButton;
class QStackedLayout;

// The conversion run as the wizard sees it, implemented by the convert page: the wizard asks
// it to stop when the user ends the program during a run, and the program waits for it before
// it saves the settings the run reads.
class CRunControl {
 public:
  virtual ~CRunControl() = default;
  // Asks the run in progress to stop at its next stop point; returns at once.
  virtual void StopRun() = 0;
  // Returns when no run is in progress any more.
  virtual void WaitForRun() = 0;
};

// The program's main window: one page at a time above a separator line, and below it the help
// button at the left and "Previous", "Next" and "Exit" at the right. The pages are, in order,
// the welcome page, the file selection, the drawing options, the PDF options and the convert
// page. While busy (a run in progress) "Previous" and "Next" are disabled and closing the
// window asks whether to stop the run.
//
// Help (the help button, F1 or the window's context menu) opens tarnvelox.html beside the
// program with the desktop's associated program. The About box is opened from the welcome
// page's "About ..." and from the window's context menu (a right-click anywhere on the window
// outside a control with a menu of its own).
class CWizardDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CWizardDlg(CConvertSettings& settings, QWidget* parent = nullptr);
  ~CWizardDlg() override;

  // Appends a page: made a hidden child of the page area, shown when it becomes current.
  void AddWizardPage(CCommonPage* page);
  // Shows the current page in place of the visible one (each told by OnLeavePage and
  // OnEnterPage) and updates the navigation. Returns true.
  bool ShowCurrentPage();
  // "Next" is enabled when a page follows and the wizard is not busy; "Previous" when one
  // precedes and it is not busy; "Exit" always.
  void UpdateNavigation();
  void SetBusy(bool busy);
  bool IsBusy() const { return busy; }

  // Every page hands its values to the settings; the convert page calls it when a run starts.
  void StoreAllSettings();
  // The run of the convert page (not owned; null when there is none).
  void SetRunControl(CRunControl* control) { runControl = control; }
  // Returns when the run, if any, has ended.
  void WaitForRun();

  // The navigation as the buttons do it. Next leaves a page only when its CanLeave agrees;
  // Previous does not ask. Exit ends the wizard, after asking when busy.
  void OnNext();
  void OnPrevious();
  void OnExit();
  void OnHelp();
  void OnAbout();

  // The help page beside the program.
  static QString HelpFilePath();

  const QList<CCommonPage*>& Pages() const { return pages; }
  CCommonPage* CurrentPage() const { return pages.value(current); }
  int CurrentIndex() const { return current; }
  CMainPage* MainPage() const { return mainPage; }
  CSelectFilePage* SelectFilePage() const { return selectFilePage; }
  CConvertPage* ConvertPage() const { return convertPage; }
  QPushButton* PreviousButton() const { return previousButton; }
  QPushButton* NextButton() const { return nextButton; }
  QPushButton* ExitButton() const { return exitButton; }
  CIconButton* HelpButton() const { return helpButton; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // True when the wizard may close: at once when not busy; when busy, only after the user
  // agreed to stop the run, which is then asked to stop.
  bool ConfirmExit();

  CConvertSettings& settings;
  QList<CCommonPage*> pages;
  int current = -1;
  CCommonPage* visiblePage = nullptr;
  bool busy = false;
  CRunControl* runControl = nullptr;

  QWidget* pageArea = nullptr;
  QStackedLayout* pageStack = nullptr;
  CIconButton* helpButton = nullptr;
  QPushButton* previousButton = nullptr;
  QPushButton* nextButton = nullptr;
  QPushButton* exitButton = nullptr;

  CMainPage* mainPage = nullptr;
  CSelectFilePage* selectFilePage = nullptr;
  CDwgOptionsPage* dwgOptionsPage = nullptr;
  CPdfOptionsPage* pdfOptionsPage = nullptr;
  CConvertPage* convertPage = nullptr;
};
