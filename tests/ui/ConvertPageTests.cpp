// The convert page and the report: real runs of the example drawings from the page, Stop during a
// run, the exit question during a run, a refused page size, the keyboard, and opening the
// written files from the report.
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <filesystem>
#include <functional>

#include "convert/ConvertSettings.h"
#include "render/Drawing.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConvertAnimation.h"
#include "ui/ConvertPage.h"
#include "ui/ReportDlg.h"
#include "ui/SelectFilePage.h"
#include "ui/WizardDlg.h"

using uitest::CScriptedMessageBoxes;

namespace {

const QString kExamples = TARNVELOX_SOURCE_DIR "/examples";
const QString kStopping = "Stopping the converting process, please wait...";
const QString kCannotOpen =
    "Can not open the PDF file! You should download Adobe Reader from Adobe website to open PDF "
    "file.";
const QString kParameterError =
    "Parameter error! The width or height of PDF must be greater than 0.";

QStringList ExampleDrawings() {
  QStringList drawings;
  for (const QString& name : QDir(kExamples).entryList({"*.dxf"}, QDir::Files, QDir::Name)) {
    drawings.append(QDir(kExamples).filePath(name));
  }
  return drawings;
}

QStringList LogLines(const CConvertPage& page) {
  return page.LogBox()->toPlainText().split('\n');
}

// Waits, while the event loop runs, for each report the page opens: records what it shows and
// then acts on it (by default closes it with OK).
class CReportWatcher : public QObject {
 public:
  explicit CReportWatcher(std::function<void(CReportDlg&)> act = {}) : action(std::move(act)) {
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &CReportWatcher::Look);
    timer.start();
  }

  int reports = 0;
  QStringList files;
  QStringList failures;
  QString headline;

 private:
  void Look() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* report = qobject_cast<CReportDlg*>(widget);
      // A mark on the dialog itself: the next report may be made at the same address.
      if (!report || !report->isVisible() || report->property("watched").toBool()) continue;
      report->setProperty("watched", true);
      ++reports;
      headline = report->Headline()->text();
      files.clear();
      for (int row = 0; row < report->List()->count(); ++row) {
        files.append(report->List()->item(row)->text());
      }
      failures.clear();
      for (int row = 0; row < report->FailureList()->count(); ++row) {
        failures.append(report->FailureList()->item(row)->text());
      }
      if (action) action(*report);
      if (report->isVisible()) report->OkButton()->click();
    }
  }

  std::function<void(CReportDlg&)> action;
  QTimer timer;
};

// Takes the desktop's place in opening files.
class CFileOpener : public QObject {
  Q_OBJECT

 public:
  CFileOpener() { QDesktopServices::setUrlHandler("file", this, "Open"); }
  ~CFileOpener() override { QDesktopServices::unsetUrlHandler("file"); }
  QStringList opened;

 public Q_SLOTS:
  void Open(const QUrl& url) { opened.append(url.toLocalFile()); }
};

// A wizard on a settings record prepared by the test, with drawings on its file page.
struct Fixture {
  testsupport::TempDir dir;
  CConvertSettings settings;
  std::unique_ptr<CWizardDlg> wizard;

  // Settings first: the pages take their values from them when they are made.
  explicit Fixture(
      const std::function<void(CConvertSettings&, const testsupport::TempDir&)>& prepare = {}) {
    if (prepare) prepare(settings, dir);
    wizard = std::make_unique<CWizardDlg>(settings);
  }
  CConvertPage& Page() { return *wizard->ConvertPage(); }
  QString Out(const QString& name) const {
    return QString::fromStdString((dir / name.toStdString()).string());
  }
  void AddDrawings(const QStringList& paths) {
    for (const QString& path : paths) wizard->SelectFilePage()->AddFile(path);
  }
  // Runs the page to its end, failing the test when it does not end.
  void RunToEnd() {
    QSignalSpy ended(&Page(), &CConvertPage::RunEnded);
    Page().OnConvert();
    QVERIFY(Page().IsRunning());
    QVERIFY(ended.wait(60000));
  }
};

bool CheckPdf(const QString& path, QString* why) {
  const ::testing::AssertionResult result = testsupport::CheckPdfFile(path.toStdString());
  if (!result) *why = QString::fromStdString(result.message());
  return bool(result);
}

}  // namespace

class ConvertPageTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    InitDLL();
    DWG_SetBackgroundColor(0xFFFFFF);
  }
  void cleanupTestCase() { UninitDLL(); }

  void ConvertsTheExamplesAndListsTheFilesInTheReport_data() {
    QTest::addColumn<int>("pdfType");
    QTest::newRow("one PDF per drawing") << 0;
    QTest::newRow("one merged PDF") << 1;
  }
  void ConvertsTheExamplesAndListsTheFilesInTheReport() {
    QFETCH(int, pdfType);
    CScriptedMessageBoxes boxes;
    Fixture f([&](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = static_cast<OutputType>(pdfType);
      s.TargetPdf = (pdfType == 1 ? dir / "all.pdf" : dir.Path()).string();
    });
    const QStringList drawings = ExampleDrawings();
    QCOMPARE(drawings.size(), 4);
    f.AddDrawings(drawings);
    QStringList expected;
    if (pdfType == 1) {
      expected = {f.Out("all.pdf")};
    } else {
      for (const QString& drawing : drawings) {
        expected.append(f.Out(QFileInfo(drawing).completeBaseName() + ".pdf"));
      }
    }

    CReportWatcher watcher;
    f.RunToEnd();
    QCOMPARE(watcher.reports, 1);
    QCOMPARE(watcher.headline, QString("Convert drawing files to raster PDF files completely!"));
    QCOMPARE(watcher.files, expected);
    QCOMPARE(f.Page().ResultFiles(), expected);
    for (const QString& pdf : expected) {
      QString why;
      QVERIFY2(CheckPdf(pdf, &why), qPrintable(why));
    }
    QVERIFY(boxes.messages.isEmpty());

    // The log: the page's first line, every drawing converted, and the end with the files.
    const QStringList log = LogLines(f.Page());
    QCOMPARE(log.first(), QString("Starting converting..."));
    for (const QString& drawing : drawings) {
      QVERIFY2(log.contains("Convert " + drawing + " successfully!"), qPrintable(drawing));
    }
    const QStringList end = QStringList{"End convert.", "The belows are all the result PDF files:"}
                            << expected;
    QCOMPARE(log.mid(log.size() - end.size()), end);

    // Idle again: the button, the wizard's navigation, the bar, the status line, the animation.
    QCOMPARE(f.Page().ConvertButton()->text(), QString("&Convert Now!"));
    QVERIFY(!f.wizard->IsBusy());
    QVERIFY(f.Page().ProgressBar()->isHidden());
    QCOMPARE(f.Page().ProgressBar()->value(), 4);
    QVERIFY(f.Page().StatusLine()->text().isEmpty());
    QVERIFY(!f.Page().Animation()->IsRunning());
    QVERIFY(f.Page().Animation()->isHidden());

    // A second run replaces the log and the list instead of adding to them.
    f.RunToEnd();
    QCOMPARE(watcher.reports, 2);
    QCOMPARE(watcher.files, expected);
    QCOMPARE(LogLines(f.Page()).count("Starting converting..."), 1);
    QCOMPARE(LogLines(f.Page()).count("End convert."), 1);
  }

  void StoppedRunShowsNoReportAndWritesNoMergedFile() {
    CScriptedMessageBoxes boxes;
    Fixture f([](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = OutputType::Merged;
      s.TargetPdf = (dir / "all.pdf").string();
    });
    // Long enough that the run is still at its first drawings when the page sees the first one.
    const QString source = QDir(kExamples).filePath("floorplan.dxf");
    QStringList copies;
    for (int i = 0; i < 400; ++i) {
      const QString copy = f.Out(QString("plan-%1.dxf").arg(i, 3, 10, QChar('0')));
      QVERIFY(QFile::copy(source, copy));
      copies.append(copy);
    }
    f.AddDrawings(copies);

    // Stop as soon as the run reports its first drawing, and press Stop a second time.
    bool sawRunning = false;
    connect(&f.Page(), &CConvertPage::LogAppended, this, [&](const QString& line) {
      if (!line.startsWith("Begin convert:") || sawRunning) return;
      sawRunning = true;
      // While it runs: busy, navigation off, the button says Stop, the animation plays.
      QVERIFY(f.wizard->IsBusy());
      QVERIFY(!f.wizard->PreviousButton()->isEnabled());
      QCOMPARE(f.Page().ConvertButton()->text(), QString("Stop"));
      QVERIFY(f.Page().Animation()->IsRunning());
      QVERIFY(f.Page().ProgressBar()->isVisible() || !f.wizard->isVisible());
      f.Page().ConvertButton()->click();
      QCOMPARE(f.Page().StatusLine()->text(), kStopping);
      f.Page().ConvertButton()->click();
      QCOMPARE(f.Page().StatusLine()->text(), kStopping);
    });
    CReportWatcher watcher;
    QSignalSpy ended(&f.Page(), &CConvertPage::RunEnded);
    f.Page().OnConvert();
    QVERIFY(ended.wait(60000));
    QVERIFY(sawRunning);
    QCOMPARE(ended.first().first().toInt(), 4);

    QCOMPARE(watcher.reports, 0);
    QVERIFY(!QFileInfo::exists(f.Out("all.pdf")));
    QVERIFY(f.Page().ResultFiles().isEmpty());
    const QStringList log = LogLines(f.Page());
    QCOMPARE(log.count("User break!"), 1);
    QCOMPARE(log.last(), QString("User break!"));
    QVERIFY(!log.contains("End convert."));
    QVERIFY2(log.count() < 100, "the run went on long after Stop");
    QCOMPARE(f.Page().ConvertButton()->text(), QString("&Convert Now!"));
    QVERIFY(!f.wizard->IsBusy());
    QVERIFY(f.Page().ProgressBar()->isHidden());
    QVERIFY(f.Page().StatusLine()->text().isEmpty());
    QVERIFY(!f.Page().Animation()->IsRunning());
    QVERIFY(boxes.messages.isEmpty());
  }

  void ExitDuringARunStopsItAndTheProgramWaitsForIt() {
    CScriptedMessageBoxes boxes;
    Fixture f([](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = OutputType::Merged;
      s.TargetPdf = (dir / "all.pdf").string();
    });
    const QString source = QDir(kExamples).filePath("bracket.dxf");
    QStringList copies;
    for (int i = 0; i < 400; ++i) {
      const QString copy = f.Out(QString("bracket-%1.dxf").arg(i, 3, 10, QChar('0')));
      QVERIFY(QFile::copy(source, copy));
      copies.append(copy);
    }
    f.AddDrawings(copies);
    f.wizard->show();
    QSignalSpy logged(&f.Page(), &CConvertPage::LogAppended);
    f.Page().OnConvert();
    QTRY_VERIFY_WITH_TIMEOUT(logged.size() >= 2, 60000);
    // The banner's animation, drawn from the program's own frames, moves on while the run lasts.
    QVERIFY(!f.Page().Animation()->sizeHint().isEmpty());
    QVERIFY(!f.Page().Animation()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(f.Page().Animation()->Frame() > 0, 10000);

    boxes.answers = {true};
    f.wizard->OnExit();
    QCOMPARE(boxes.questions, QStringList{"Do you want to terminate the convert process?"});
    QVERIFY(!f.wizard->isVisible());
    // What the program does before it saves the settings.
    f.wizard->WaitForRun();
    QVERIFY(!QFileInfo::exists(f.Out("all.pdf")));
    QSignalSpy ended(&f.Page(), &CConvertPage::RunEnded);
    QVERIFY(ended.wait(60000));
    QCOMPARE(ended.first().first().toInt(), 4);
    QCOMPARE(LogLines(f.Page()).last(), QString("User break!"));
  }

  void RefusedPageSizeShowsTheMessageThenAReportWithoutFiles() {
    // The message stays open until the run's end has reached the page: the report must wait for
    // it rather than open on top of it.
    class CSlowMessageBoxes : public CScriptedMessageBoxes {
     public:
      CConvertPage* page = nullptr;
      bool endedWhileOpen = false;
      bool waited = false;
      void ShowMessage(QWidget* parent, const QString& text) override {
        CScriptedMessageBoxes::ShowMessage(parent, text);
        // Once the run's thread has ended, its end is in the queue; a call queued after it is
        // reached only when the page has had the end in hand.
        QSignalSpy ended(page, &CConvertPage::RunEnded);
        page->WaitForRun();
        bool arrived = false;
        QObject receiver;
        QMetaObject::invokeMethod(
            &receiver, [&] { arrived = true; }, Qt::QueuedConnection);
        waited = QTest::qWaitFor([&] { return arrived; }, 10000);
        endedWhileOpen = !ended.isEmpty();
      }
    };
    CSlowMessageBoxes boxes;
    Fixture f([](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = OutputType::Merged;
      s.PdfWidth = 0;
      s.TargetPdf = (dir / "all.pdf").string();
    });
    boxes.page = &f.Page();
    f.AddDrawings(ExampleDrawings());
    CReportWatcher watcher;
    f.RunToEnd();

    QCOMPARE(boxes.messages, QStringList{kParameterError});
    QVERIFY(boxes.waited);
    QVERIFY(!boxes.endedWhileOpen);
    QCOMPARE(watcher.reports, 1);
    QVERIFY(watcher.files.isEmpty());
    QVERIFY2(!watcher.headline.contains("completely"), qPrintable(watcher.headline));
    QVERIFY(!QFileInfo::exists(f.Out("all.pdf")));
    QCOMPARE(LogLines(f.Page()),
             (QStringList{"Starting converting...", kParameterError, "End convert.",
                          "The belows are all the result PDF files:"}));
    QVERIFY(!f.wizard->IsBusy());
  }

  void ReportDoesNotCallARunWithFailedDrawingsComplete() {
    CScriptedMessageBoxes boxes;
    Fixture f([](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = OutputType::PerDrawing;
      s.TargetPdf = dir.Path().string();
    });
    const QString broken = f.Out("broken.dxf");
    testsupport::WriteFile(broken.toStdString(), "not a drawing at all\n");
    const QString good = QDir(kExamples).filePath("bracket.dxf");
    f.AddDrawings({broken, good});
    CReportWatcher watcher;
    f.RunToEnd();
    QCOMPARE(watcher.files, QStringList{f.Out("bracket.pdf")});
    QCOMPARE(watcher.headline,
             QString("1 drawing file(s) could not be converted; the log names them."));
    QCOMPARE(f.Page().FailedFiles(), QStringList{broken});
    QCOMPARE(watcher.failures.size(), 1);
    QVERIFY2(watcher.failures.value(0).startsWith(broken + ": ") &&
                 watcher.failures.value(0).contains("not a DXF file"),
             qPrintable(watcher.failures.value(0)));
    QVERIFY(LogLines(f.Page()).contains("Convert " + broken + " failure!"));
    QString why;
    QVERIFY2(CheckPdf(f.Out("bracket.pdf"), &why), qPrintable(why));
  }

  void KeyboardStartsARunAndOpensAPdfFromTheReport() {
    CScriptedMessageBoxes boxes;
    CFileOpener opener;
    Fixture f([](CConvertSettings& s, const testsupport::TempDir& dir) {
      s.PdfType = OutputType::PerDrawing;
      s.TargetPdf = dir.Path().string();
    });
    f.AddDrawings(ExampleDrawings());
    f.wizard->show();
    QVERIFY(QTest::qWaitForWindowActive(f.wizard.get()));
    boxes.answers = {true, true, true, true};
    for (int page = 0; page < 4; ++page) QTest::keyClick(f.wizard->NextButton(), Qt::Key_Space);
    QCOMPARE(f.wizard->CurrentIndex(), 4);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.Page().ConvertButton()));

    bool reportHadFocus = false;
    bool stillOpenAfterEnter = false;
    CReportWatcher watcher([&](CReportDlg& report) {
      reportHadFocus = report.focusWidget() == report.List();
      QTest::keyClick(report.List(), Qt::Key_Down);
      QTest::keyClick(report.List(), Qt::Key_Return);
      stillOpenAfterEnter = report.isVisible();
      QTest::keyClick(&report, Qt::Key_Escape);
    });
    QSignalSpy ended(&f.Page(), &CConvertPage::RunEnded);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(f.Page().IsRunning());
    QVERIFY(ended.wait(60000));
    QCOMPARE(watcher.reports, 1);
    QVERIFY(reportHadFocus);
    QVERIFY(stillOpenAfterEnter);
    QCOMPARE(opener.opened, QStringList{f.Page().ResultFiles().value(1)});
    QCOMPARE(f.Page().ResultFiles().size(), 4);
    QVERIFY(boxes.messages.isEmpty());
  }

  void ReportOpensItsFilesAndReportsOneThatIsGone() {
    CScriptedMessageBoxes boxes;
    CFileOpener opener;
    testsupport::TempDir dir;
    const QString kept = QString::fromStdString((dir / "kept.pdf").string());
    const QString gone = QString::fromStdString((dir / "gone.pdf").string());
    testsupport::WriteFile(kept.toStdString(), "%PDF-1.2\n");

    CReportDlg report;
    report.SetResultFiles({kept, gone});
    QCOMPARE(report.windowTitle(), QString("Convert report"));
    QCOMPARE(report.List()->count(), 2);
    QCOMPARE(report.List()->currentRow(), 0);

    // A double-click on a row opens its file.
    report.show();
    QVERIFY(QTest::qWaitForWindowExposed(&report));
    auto doubleClick = [&](int row) {
      const QRect rect = report.List()->visualItemRect(report.List()->item(row));
      // The view takes a double-click only on the row that the first press went to.
      QTest::mouseClick(report.List()->viewport(), Qt::LeftButton, {}, rect.center());
      QTest::mouseDClick(report.List()->viewport(), Qt::LeftButton, {}, rect.center());
    };
    doubleClick(0);
    QCOMPARE(opener.opened, QStringList{kept});
    QVERIFY(boxes.messages.isEmpty());
    doubleClick(1);
    QCOMPARE(opener.opened, QStringList{kept});
    QCOMPARE(boxes.messages, QStringList{kCannotOpen});
    QVERIFY(report.isVisible());
  }
};

QTEST_MAIN(ConvertPageTests)
#include "ConvertPageTests.moc"
