// Start-up and shutdown of the desktop program on a settings store in a temporary file.
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "platform/MessageReporter.h"
#include "platform/Registry.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Application.h"
#include "ui/SelectFilePage.h"
#include "ui/WizardDlg.h"

using uitest::CScriptedMessageBoxes;

namespace {
constexpr char kPenWidthsKey[] = "Software\\Kestrim\\Common\\PenWidths";
}  // namespace

class ApplicationTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void FirstStartOnAnEmptyStoreWritesBothKeysOnlyAtExit() {
    QTemporaryDir dir;
    CRegistry store(std::filesystem::path(dir.filePath("registry.reg").toStdString()));
    CConvertSettings settings;
    CPenSet penSet;
    bool ran = false;
    RunApplication(settings, penSet, store, [&](CWizardDlg& wizard) {
      ran = true;
      // Defaults in the wizard, and nothing written while it runs.
      QCOMPARE(settings.Quality, 200);
      QCOMPARE(wizard.CurrentIndex(), 0);
      QVERIFY(!store.OpenKey(kParameterKey));
      QVERIFY(!store.OpenKey(kSearchPathKey));
      // A list built on the page is not handed over without a run.
      wizard.SelectFilePage()->AddFile("/plans/house.dxf");
    });
    QVERIFY(ran);
    QVERIFY(store.OpenKey(kParameterKey));
    QVERIFY(store.OpenKey(kSearchPathKey));
    QVERIFY(store.OpenKey(kOptionKey));
    QVERIFY(store.OpenKey(kPenWidthsKey));
    QVERIFY(settings.SourceFiles.empty());
  }

  void SettingsAndPenSetSurviveARestart() {
    QTemporaryDir dir;
    const std::filesystem::path file = dir.filePath("registry.reg").toStdString();
    {
      CRegistry store(file);
      CConvertSettings settings;
      CPenSet penSet;
      RunApplication(settings, penSet, store, [&](CWizardDlg&) {
        // What a run hands over.
        settings.Quality = 300;
        settings.SearchPaths = {"/fonts"};
        penSet.entries[7].width = 0.5;
        penSet.usePenWidth = true;
      });
    }
    CRegistry store(file);
    CConvertSettings settings;
    CPenSet penSet;
    RunApplication(settings, penSet, store, [&](CWizardDlg&) {
      QCOMPARE(settings.Quality, 300);
      QCOMPARE(settings.SearchPaths, std::vector<std::string>{"/fonts"});
      QCOMPARE(penSet.entries[7].width, 0.5);
      QVERIFY(penSet.usePenWidth);
    });
  }

  void WaitsForAStoppingRunBeforeSavingTheSettings() {
    QTemporaryDir dir;
    CRegistry store(std::filesystem::path(dir.filePath("registry.reg").toStdString()));
    CConvertSettings settings;
    CPenSet penSet;
    // A run that is still stopping when the wizard has closed.
    class CStoppingRun : public CRunControl {
     public:
      explicit CStoppingRun(CRegistry& store) : store(store) {}
      void StopRun() override {}
      void WaitForRun() override {
        ++waits;
        savedBeforeTheRunEnded = store.OpenKey(kParameterKey);
      }
      CRegistry& store;
      int waits = 0;
      bool savedBeforeTheRunEnded = false;
    } run(store);
    RunApplication(settings, penSet, store,
                   [&](CWizardDlg& wizard) { wizard.SetRunControl(&run); });
    QCOMPARE(run.waits, 1);
    QVERIFY(!run.savedBeforeTheRunEnded);
    QVERIFY(store.OpenKey(kParameterKey));
  }

  void EngineMessagesShowAsMessageBoxesWhileTheWizardRuns() {
    CScriptedMessageBoxes boxes;
    QTemporaryDir dir;
    CRegistry store(std::filesystem::path(dir.filePath("registry.reg").toStdString()));
    CConvertSettings settings;
    CPenSet penSet;
    RunApplication(settings, penSet, store, [&](CWizardDlg&) {
      ReportMessage("No enough memory!");
      // From a worker the message is queued to this thread and the worker goes on.
      std::thread worker([] { ReportMessage("Can not open drawing file: x.dxf"); });
      worker.join();
      QCOMPARE(boxes.messages, QStringList{"No enough memory!"});
      QCoreApplication::processEvents();
      QCOMPARE(boxes.messages,
               (QStringList{"No enough memory!", "Can not open drawing file: x.dxf"}));
    });
    // After the wizard the engine's messages no longer go to the boxes.
    ExpectNoReporterInstalled();
    QCOMPARE(boxes.messages.size(), 2);
  }

 private:
  static void ExpectNoReporterInstalled() {
    CMessageReporter* installed = SetMessageReporter(nullptr);
    QCOMPARE(installed, static_cast<CMessageReporter*>(nullptr));
  }
};

QTEST_MAIN(ApplicationTests)
#include "ApplicationTests.moc"
