// Pictures of every wizard page and dialog, for looking at the layout:
//   cmake --build --preset dev --target ui_screenshots
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/dev/tests/ui/ui_screenshots OUTDIR
// Writes OUTDIR/NN-name.png. The file page shows drawings of the examples folder, which the
// convert page then converts into a temporary folder (the page running, the report, the end).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "convert/ConvertSettings.h"
#include "render/Drawing.h"
#include "ui/AboutDlg.h"
#include "ui/AddFolderDlg.h"
#include "ui/ConvertPage.h"
#include "ui/ReportDlg.h"
#include "ui/SelectFilePage.h"
#include "ui/WizardDlg.h"

namespace {

bool Shoot(QWidget& widget, const QString& dir, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(name + ".png");
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "ui_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: ui_screenshots OUTDIR\n");
    return 64;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  bool ok = true;

  InitDLL();
  DWG_SetBackgroundColor(0xFFFFFF);
  // The run below writes one PDF per drawing into a folder of its own.
  QTemporaryDir output;
  CConvertSettings settings;
  settings.PdfType = OutputType::PerDrawing;
  settings.TargetPdf = output.path().toStdString();
  CWizardDlg wizard(settings);
  ok &= Shoot(wizard, dir, "01-welcome");
  wizard.OnNext();
  ok &= Shoot(wizard, dir, "02-files-empty");
  CSelectFilePage& files = *wizard.SelectFilePage();
  files.AddFolderFiles(TARNVELOX_SOURCE_DIR "/examples", true, true, true, true);
  files.AddFile(
      "/home/user/projects/harbour-extension/drawings/structural/level-03-slab-reinforcement.dxf");
  files.List()->topLevelItem(1)->setSelected(true);
  ok &= Shoot(wizard, dir, "03-files");
  for (int page = 3; page <= 5; ++page) {
    wizard.OnNext();
    ok &= Shoot(wizard, dir, QString("%1-page-%2").arg(page + 1, 2, 10, QChar('0')).arg(page));
  }

  // A run of the examples: the page while it converts, the report, the page after it.
  CConvertPage& convert = *wizard.ConvertPage();
  int begun = 0;
  QObject::connect(&convert, &CConvertPage::LogAppended, [&](const QString& line) {
    if (line.startsWith("Begin convert:") && ++begun == 2) {
      ok &= Shoot(wizard, dir, "10-convert-running");
    }
  });
  QTimer reportTimer;
  QObject::connect(&reportTimer, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* report = qobject_cast<CReportDlg*>(widget);
      if (!report || !report->isVisible()) continue;
      reportTimer.stop();
      ok &= Shoot(*report, dir, "11-report");
      report->accept();
    }
  });
  reportTimer.start(20);
  QEventLoop running;
  QObject::connect(&convert, &CConvertPage::RunEnded, &running, &QEventLoop::quit);
  convert.OnConvert();
  running.exec();
  ok &= Shoot(wizard, dir, "12-convert-done");
  UninitDLL();

  CAddFolderDlg folder;
  folder.show();
  // The folder tree is read and sorted in the background.
  QElapsedTimer reading;
  reading.start();
  while (reading.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 50);
  ok &= Shoot(folder, dir, "07-add-folder");
  CAboutDlg about;
  ok &= Shoot(about, dir, "08-about");
  QMessageBox question(QMessageBox::Question, "tarnvelox",
                       "Do you want to terminate the convert process?",
                       QMessageBox::Yes | QMessageBox::No);
  question.setDefaultButton(QMessageBox::No);
  ok &= Shoot(question, dir, "09-exit-question");
  return ok ? 0 : 1;
}
