// The wizard frame: navigation, the busy state, keys that must not close it, the exit question,
// help and the banner.
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "convert/ConvertSettings.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/BannerPicture.h"
#include "ui/CommonPage.h"
#include "ui/IconButton.h"
#include "ui/MainPage.h"
#include "ui/SelectFilePage.h"
#include "ui/WizardDlg.h"

using uitest::CScriptedMessageBoxes;

namespace {

class CRecordingRun : public CRunControl {
 public:
  void StopRun() override { ++stops; }
  void WaitForRun() override { ++waits; }
  int stops = 0;
  int waits = 0;
};

}  // namespace

class WizardTests : public QObject {
  Q_OBJECT

 private:
  // A wizard whose file page lists one drawing, so that every page can be reached.
  // The settings merge into a file of the temporary folder, so that the PDF options page lets
  // the wizard go on to the convert page.
  struct Fixture {
    QTemporaryDir dir;
    CConvertSettings settings = MergingInto(dir.filePath("plans.pdf"));
    CWizardDlg wizard{settings};
    static CConvertSettings MergingInto(const QString& pdf) {
      CConvertSettings merging;
      merging.PdfType = OutputType::Merged;
      merging.TargetPdf = pdf.toStdString();
      return merging;
    }
    Fixture() {
      const QString drawing = dir.filePath("plan.dxf");
      QFile file(drawing);
      file.open(QIODevice::WriteOnly);
      wizard.SelectFilePage()->AddFile(drawing);
    }
    void GoTo(int index) {
      while (wizard.CurrentIndex() < index) wizard.OnNext();
      QCOMPARE(wizard.CurrentIndex(), index);
    }
  };

 private Q_SLOTS:
  void StartsOnTheWelcomePageWithOnlyNextAndExit() {
    CConvertSettings settings;
    CWizardDlg wizard(settings);
    QCOMPARE(wizard.Pages().size(), 5);
    QCOMPARE(wizard.CurrentPage(), static_cast<CCommonPage*>(wizard.MainPage()));
    QVERIFY(!wizard.PreviousButton()->isEnabled());
    QVERIFY(wizard.NextButton()->isEnabled());
    QVERIFY(wizard.ExitButton()->isEnabled());
    QCOMPARE(wizard.HelpButton()->size(), QSize(36, 36));
    QCOMPARE(wizard.HelpButton()->toolTip(), QString("Help"));
  }

  void WalksThroughThePagesWithTheirHeadings() {
    Fixture f;
    const QStringList headings = {
        "",
        "Add the dwg, dxf and dwf files to convert - [1 / 4]",
        "Set the parameters of drawing files  - [2 / 4]",
        "Set the parameters of PDF file  - [3 / 4]",
        "Convert drawing files to PDF file(s)  - [4 / 4]",
    };
    for (int page = 0; page < headings.size(); ++page) {
      f.GoTo(page);
      QCOMPARE(f.wizard.CurrentPage()->Heading(), headings[page]);
      QCOMPARE(f.wizard.PreviousButton()->isEnabled(), page > 0);
      QCOMPARE(f.wizard.NextButton()->isEnabled(), page < 4);
    }
    // Next on the last page changes nothing; Previous walks back to the start.
    f.wizard.OnNext();
    QCOMPARE(f.wizard.CurrentIndex(), 4);
    for (int page = 3; page >= 0; --page) {
      f.wizard.OnPrevious();
      QCOMPARE(f.wizard.CurrentIndex(), page);
    }
    f.wizard.OnPrevious();
    QCOMPARE(f.wizard.CurrentIndex(), 0);
  }

  void NextIsRefusedOnAnEmptyFileListButPreviousIsNot() {
    CScriptedMessageBoxes boxes;
    CConvertSettings settings;
    CWizardDlg wizard(settings);
    wizard.OnNext();
    QCOMPARE(wizard.CurrentIndex(), 1);
    wizard.OnNext();
    QCOMPARE(wizard.CurrentIndex(), 1);
    QCOMPARE(boxes.messages, QStringList{"You must add the drawing files first!"});
    wizard.OnPrevious();
    QCOMPARE(wizard.CurrentIndex(), 0);
    QCOMPARE(boxes.messages.size(), 1);
  }

  void BusyDisablesPreviousAndNextOnEveryPage() {
    Fixture f;
    for (int page = 0; page < 5; ++page) {
      f.GoTo(page);
      f.wizard.SetBusy(true);
      QVERIFY2(!f.wizard.PreviousButton()->isEnabled(), qPrintable(QString::number(page)));
      QVERIFY2(!f.wizard.NextButton()->isEnabled(), qPrintable(QString::number(page)));
      QVERIFY(f.wizard.ExitButton()->isEnabled());
      // A click that arrives anyway does not move the wizard.
      f.wizard.OnNext();
      f.wizard.OnPrevious();
      QCOMPARE(f.wizard.CurrentIndex(), page);
      f.wizard.SetBusy(false);
      QCOMPARE(f.wizard.PreviousButton()->isEnabled(), page > 0);
      QCOMPARE(f.wizard.NextButton()->isEnabled(), page < 4);
    }
  }

  void EnterAndEscapeInsideAPageCloseNothing() {
    CScriptedMessageBoxes boxes;
    Fixture f;
    f.wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.wizard));
    for (int page = 0; page < 5; ++page) {
      f.GoTo(page);
      QWidget* inPage = f.wizard.CurrentPage();
      if (page == 1) inPage = f.wizard.SelectFilePage()->List();
      inPage->setFocus();
      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(inPage, key);
        QVERIFY2(f.wizard.isVisible(), qPrintable(QString("page %1, key %2").arg(page).arg(key)));
        QCOMPARE(f.wizard.CurrentIndex(), page);
      }
    }
    // Escape on the wizard's own buttons does not close it either.
    f.wizard.ExitButton()->setFocus();
    QTest::keyClick(f.wizard.ExitButton(), Qt::Key_Escape);
    QVERIFY(f.wizard.isVisible());
    QVERIFY(boxes.messages.isEmpty());
  }

  void ExitDuringARunAsksAndStopsOnlyOnYes() {
    CScriptedMessageBoxes boxes;
    Fixture f;
    CRecordingRun run;
    f.wizard.SetRunControl(&run);
    f.wizard.show();
    f.wizard.SetBusy(true);

    boxes.answers = {false};
    f.wizard.OnExit();
    QCOMPARE(boxes.questions, QStringList{"Do you want to terminate the convert process?"});
    QVERIFY(f.wizard.isVisible());
    QCOMPARE(run.stops, 0);

    // The close box asks the same question.
    boxes.answers = {false};
    QVERIFY(!f.wizard.close());
    QCOMPARE(boxes.questions.size(), 2);
    QVERIFY(f.wizard.isVisible());

    boxes.answers = {true};
    f.wizard.OnExit();
    QCOMPARE(run.stops, 1);
    QVERIFY(!f.wizard.isVisible());
    QCOMPARE(f.wizard.result(), int(QDialog::Rejected));
  }

  void ExitWithoutARunClosesAtOnce() {
    CScriptedMessageBoxes boxes;
    Fixture f;
    f.wizard.show();
    f.wizard.OnExit();
    QVERIFY(!f.wizard.isVisible());
    f.wizard.show();
    QVERIFY(f.wizard.close());
    QVERIFY(boxes.questions.isEmpty());
  }

  void MissingHelpFileIsReportedWithItsPath() {
    CScriptedMessageBoxes boxes;
    CConvertSettings settings;
    CWizardDlg wizard(settings);
    QVERIFY(!QFileInfo::exists(CWizardDlg::HelpFilePath()));
    wizard.OnHelp();
    QCOMPARE(boxes.messages,
             QStringList{"Can not find the help file: " + CWizardDlg::HelpFilePath()});
  }

  void StoreAllSettingsHandsTheFileListOver() {
    Fixture f;
    QVERIFY(f.settings.SourceFiles.empty());
    f.wizard.StoreAllSettings();
    QCOMPARE(f.settings.SourceFiles.size(), std::size_t(1));
    QCOMPARE(f.settings.BookmarkNames, std::vector<std::string>{"plan"});
  }

  void BannerKeepsItsProportionsAsThePageIsSized() {
    CConvertSettings settings;
    CSelectFilePage page(settings);
    CBannerPicture* banner = page.Banner();
    QVERIFY(banner);
    const QSize picture = banner->sizeHint();
    for (const QSize size : {QSize(640, 420), QSize(900, 600), QSize(400, 300)}) {
      page.resize(size);
      page.show();
      QApplication::processEvents();
      const QRect shown = banner->PictureRect();
      QCOMPARE(shown.topLeft(), QPoint(0, 0));
      QCOMPARE(shown.width(), size.width());
      QVERIFY2(std::abs(shown.height() - size.width() * picture.height() / picture.width()) <= 1,
               qPrintable(QString("%1 x %2").arg(shown.width()).arg(shown.height())));
    }
  }
};

QTEST_MAIN(WizardTests)
#include "WizardTests.moc"
