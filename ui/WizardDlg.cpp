#include "ui/WizardDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/AboutDlg.h"
#include "ui/CommonPage.h"
#include "ui/ConvertPage.h"
#include "ui/DwgOptionsPage.h"
#include "ui/IconButton.h"
#include "ui/MainPage.h"
#include "ui/MessageBoxes.h"
#include "ui/PdfOptionsPage.h"
#include "ui/Product.h"
#include "ui/SelectFilePage.h"

namespace {
// The page area: wide enough for the file list's two columns, high enough for the welcome
// picture.
constexpr int kPageWidth = 640;
constexpr int kPageHeight = 420;
constexpr int kHelpButtonSize = 36;
}  // namespace

CWizardDlg::CWizardDlg(CConvertSettings& convertSettings, QWidget* parent)
    : QDialog(parent), settings(convertSettings) {
  setWindowTitle(kDisplayName);
  // The wizard is the program's main window: it can be minimised like one.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QString(":/images/tarnvelox-%1.png").arg(size), QSize(size, size));
  }
  setWindowIcon(icon);

  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(0, 0, 0, 10);
  frame->setSpacing(0);
  // A fixed-size window, as large as its largest page asks.
  frame->setSizeConstraint(QLayout::SetFixedSize);

  pageArea = new QWidget(this);
  pageArea->setMinimumSize(kPageWidth, kPageHeight);
  pageStack = new QStackedLayout(pageArea);
  pageStack->setContentsMargins(0, 0, 0, 0);
  frame->addWidget(pageArea, 1);

  auto* separator = new QFrame(this);
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  frame->addWidget(separator);
  frame->addSpacing(8);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(10, 0, 12, 0);
  buttons->setSpacing(6);
  helpButton = new CIconButton(this);
  QIcon helpIcon(":/images/help.png");
  helpButton->SetIcon(helpIcon);
  helpButton->SetFlat(true);
  helpButton->SetTooltipText(tr("Help"));
  helpButton->setFixedSize(kHelpButtonSize, kHelpButtonSize);
  buttons->addWidget(helpButton, 0, Qt::AlignLeft | Qt::AlignBottom);
  buttons->addStretch(1);
  previousButton = new QPushButton(tr("Previous"), this);
  nextButton = new QPushButton(tr("Next"), this);
  exitButton = new QPushButton(tr("Exit"), this);
  for (QPushButton* button : {previousButton, nextButton, exitButton}) {
    button->setMinimumWidth(88);
    buttons->addWidget(button, 0, Qt::AlignBottom);
  }
  buttons->insertSpacing(buttons->indexOf(exitButton), 12);
  frame->addLayout(buttons);

  connect(helpButton, &QToolButton::clicked, this, &CWizardDlg::OnHelp);
  connect(previousButton, &QPushButton::clicked, this, &CWizardDlg::OnPrevious);
  connect(nextButton, &QPushButton::clicked, this, &CWizardDlg::OnNext);
  connect(exitButton, &QPushButton::clicked, this, &CWizardDlg::OnExit);

  // Help and About in the window's context menu; F1 opens the help from anywhere.
  auto* helpAction = new QAction(helpIcon, tr("Help"), this);
  helpAction->setShortcut(QKeySequence::HelpContents);
  helpAction->setShortcutContext(Qt::WindowShortcut);
  connect(helpAction, &QAction::triggered, this, &CWizardDlg::OnHelp);
  auto* aboutAction = new QAction(tr("About %1...").arg(kDisplayName), this);
  connect(aboutAction, &QAction::triggered, this, &CWizardDlg::OnAbout);
  addAction(helpAction);
  addAction(aboutAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  mainPage = new CMainPage;
  selectFilePage = new CSelectFilePage(settings);
  dwgOptionsPage = new CDwgOptionsPage(settings);
  pdfOptionsPage = new CPdfOptionsPage(settings);
  convertPage = new CConvertPage(settings, *this);
  for (CCommonPage* page : std::initializer_list<CCommonPage*>{
           mainPage, selectFilePage, dwgOptionsPage, pdfOptionsPage, convertPage}) {
    AddWizardPage(page);
  }
  connect(mainPage, &CMainPage::AboutRequested, this, &CWizardDlg::OnAbout);

  current = 0;
  ShowCurrentPage();
  // Enter or Space on the start page goes on to the first step.
  nextButton->setFocus();
}

CWizardDlg::~CWizardDlg() = default;

void CWizardDlg::AddWizardPage(CCommonPage* page) {
  page->hide();
  pageStack->addWidget(page);
  pages.append(page);
  connect(page, &CCommonPage::NavigationChanged, this, &CWizardDlg::UpdateNavigation);
}

bool CWizardDlg::ShowCurrentPage() {
  if (visiblePage) visiblePage->OnLeavePage();
  visiblePage = CurrentPage();
  if (visiblePage == pdfOptionsPage && selectFilePage) {
    pdfOptionsPage->SuggestTarget(selectFilePage->FirstFile());
  }
  if (visiblePage) {
    visiblePage->OnEnterPage();
    pageStack->setCurrentWidget(visiblePage);
  }
  UpdateNavigation();
  return true;
}

void CWizardDlg::UpdateNavigation() {
  nextButton->setEnabled(current + 1 < pages.size() && !busy);
  previousButton->setEnabled(current > 0 && !busy);
  exitButton->setEnabled(true);
}

void CWizardDlg::SetBusy(bool value) {
  busy = value;
  UpdateNavigation();
}

void CWizardDlg::StoreAllSettings() {
  for (CCommonPage* page : pages) page->StoreSettings();
}

void CWizardDlg::WaitForRun() {
  if (runControl) runControl->WaitForRun();
}

void CWizardDlg::OnNext() {
  // The buttons are disabled while busy; the test here also holds for a click that was queued
  // before the run started.
  if (busy || current + 1 >= pages.size()) return;
  if (visiblePage && !visiblePage->CanLeave()) return;
  ++current;
  ShowCurrentPage();
}

void CWizardDlg::OnPrevious() {
  if (busy || current <= 0) return;
  --current;
  ShowCurrentPage();
}

void CWizardDlg::OnExit() {
  if (ConfirmExit()) reject();
}

bool CWizardDlg::ConfirmExit() {
  if (!busy) return true;
  if (!MessageBoxes().AskYesNo(this, tr("Do you want to terminate the convert process?"))) {
    return false;
  }
  if (runControl) runControl->StopRun();
  return true;
}

void CWizardDlg::closeEvent(QCloseEvent* event) {
  if (!ConfirmExit()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CWizardDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would reject the dialog: the wizard ends only by "Exit" or the close box.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

QString CWizardDlg::HelpFilePath() {
  // Beside the program in a build tree; an installed program finds it with the other
  // documentation of the installation (PREFIX/share/doc/tarnvelox).
  const QDir programDir(QCoreApplication::applicationDirPath());
  const QString beside = programDir.filePath("tarnvelox.html");
  const QString installed = programDir.filePath("../share/doc/tarnvelox/tarnvelox.html");
  if (!QFileInfo(beside).isFile() && QFileInfo(installed).isFile()) {
    return QDir::cleanPath(installed);
  }
  return beside;
}

void CWizardDlg::OnHelp() {
  const QString path = HelpFilePath();
  if (!QFileInfo(path).isFile()) {
    MessageBoxes().ShowMessage(this, tr("Can not find the help file: %1").arg(path));
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    MessageBoxes().ShowMessage(this, tr("Can not open the help file: %1").arg(path));
  }
}

void CWizardDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}
