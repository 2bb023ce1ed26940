// Exporting and importing pen sets from the editor: the overwrite answers, cut-off sets,
// plot style tables, a store that cannot be written, names it cannot hold, a FIFO, the written
// file, and the selection dialog's list and OK button.
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "pensets/PenSet.h"
#include "pensets/PenSetFile.h"
#include "platform/ColorPalette.h"
#include "platform/Registry.h"
#include "tests/ui_pensets/PenSetTestFiles.h"
#include "tests/ui_pensets/ScriptedPrompts.h"
#include "ui/pensets/PenSetDlg.h"
#include "ui/pensets/PenSetSelectDlg.h"

Q_DECLARE_METATYPE(QList<OverwriteAnswer>)

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  QFile file(QString::fromStdString(path.string()));
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// A settings store in a fresh folder holding the sets given, the first one current.
struct Store {
  QTemporaryDir dir;
  CRegistry store{(dir.path() + QStringLiteral("/registry.reg")).toStdString()};
  CPenSet current;
  CScriptedPrompts prompts;

  explicit Store(const std::vector<CPenSet>& stored = {}) {
    for (const CPenSet& set : stored) StorePenSetTable(set.name, set.entries, store);
    if (!stored.empty()) {
      CPenSet first = stored.front();
      SavePenSet(first, first.name, store);
    }
    LoadCurrentPenSet(current, store);
  }
  QString Path(const char* name) const { return dir.path() + u'/' + QString::fromLatin1(name); }
  std::unique_ptr<CPenSetDlg> OpenEditor() {
    return std::make_unique<CPenSetDlg>(current, store, prompts);
  }
  // The stored current set's name, as the next start-up reads it.
  std::string StoredCurrentName() {
    CPenSet loaded;
    LoadCurrentPenSet(loaded, store);
    return loaded.name;
  }
  // The mark of a stored set, 0 when there is no such set, -1 for another table.
  int MarkOf(const std::string& name) {
    const std::vector<std::string> names = StoredPenSetNames(store);
    if (std::find(names.begin(), names.end(), name) == names.end()) return 0;
    const auto table = StoredTable(name, store);
    for (int mark = 1; mark < 100; ++mark) {
      if (HasMark(table, mark)) return mark;
    }
    return -1;
  }
};

QStringList Listed(const CPenSetDlg& editor) {
  auto* list = editor.findChild<QComboBox*>(QStringLiteral("setList"));
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->itemText(i);
  return names;
}

void Click(QWidget& dialog, const char* name) {
  QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

QPushButton* OkButton(QDialog& dialog) {
  return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

}  // namespace

class CPenSetTransferTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void ImportAnswers_data();
  void ImportAnswers();
  void ImportAsksToSaveAndShowsTheStoredTableAfterwards();
  void ImportSkipsACutOffSet();
  void ImportIntoAnEmptyStoreAsksAboutDefault();
  void ImportOfAPlotStyleTable();
  void ImportOfAnUnreadablePlotStyleTableStoresNothing();
  void ImportIntoAStoreThatCannotBeWrittenSaysSo();
  void ImportRefusesNamesTheStoreCannotHold();
  void ImportOfAFifoSaysSoWithoutWaitingOnIt();
  void ExportWritesTheStoredSets();
  void ExportToAnUnwritablePlaceSaysSo();
  void ExportSelectionNeedsAChosenFile();
  void ImportSelectionListsTheChosenFile();
};

void CPenSetTransferTests::ImportAnswers_data() {
  // Stored: "a" (mark 1) and "C" (mark 3). The file holds A, B, C and D (marks 11 to 14).
  QTest::addColumn<QList<OverwriteAnswer>>("answers");
  QTest::addColumn<QStringList>("asked");
  QTest::addColumn<QList<int>>("marks");  // of a, B, C, D afterwards; 0: not stored
  using A = OverwriteAnswer;
  QTest::newRow("yes to all") << QList<A>{A::YesToAll} << QStringList{"A"}
                              << QList<int>{11, 12, 13, 14};
  QTest::newRow("no to all") << QList<A>{A::NoToAll} << QStringList{"A"}
                             << QList<int>{1, 12, 3, 14};
  QTest::newRow("cancel") << QList<A>{A::Cancel} << QStringList{"A"} << QList<int>{1, 0, 3, 0};
  QTest::newRow("yes, then no") << QList<A>{A::Yes, A::No} << QStringList{"A", "C"}
                                << QList<int>{11, 12, 3, 14};
  QTest::newRow("no, then yes") << QList<A>{A::No, A::Yes} << QStringList{"A", "C"}
                                << QList<int>{1, 12, 13, 14};
}

void CPenSetTransferTests::ImportAnswers() {
  QFETCH(QList<OverwriteAnswer>, answers);
  QFETCH(QStringList, asked);
  QFETCH(QList<int>, marks);
  Store s({MarkedSet("a", 1), MarkedSet("C", 3)});
  const QString file = s.Path("sets.cps");
  WritePenSetFile(file,
                  {MarkedSet("A", 11), MarkedSet("B", 12), MarkedSet("C", 13), MarkedSet("D", 14)});
  auto editor = s.OpenEditor();
  for (OverwriteAnswer answer : answers) s.prompts.overwrite << answer;
  s.prompts.selections << PenSetSelection{file, {"A", "B", "C", "D"}};
  Click(*editor, "importButton");

  QStringList questions;
  for (const QString& name : asked) questions << QStringLiteral("overwrite ") + name;
  QCOMPARE(s.prompts.shown, questions);
  QVERIFY(s.prompts.unexpected.isEmpty());
  QCOMPARE(s.MarkOf("a"), marks[0]);
  QCOMPARE(s.MarkOf("B"), marks[1]);
  QCOMPARE(s.MarkOf("C"), marks[2]);
  QCOMPARE(s.MarkOf("D"), marks[3]);
  QVERIFY2(StoredPenSetNames(s.store).front() == "a",
           "a replaced set keeps the stored spelling of its name");

  // The editor lists the store again and stays on its set, now with the stored table.
  QStringList listed = {"a"};
  if (marks[1]) listed << "B";
  listed << "C";
  if (marks[3]) listed << "D";
  QCOMPARE(Listed(*editor), listed);
  QCOMPARE(editor->EditingName(), QStringLiteral("a"));
  QVERIFY(HasMark(editor->WorkingTable(), marks[0]));
  QVERIFY(HasMark(s.current.entries, marks[0]));
  QCOMPARE(s.current.name, std::string("a"));
  QCOMPARE(s.StoredCurrentName(), std::string("a"));
}

void CPenSetTransferTests::ImportAsksToSaveAndShowsTheStoredTableAfterwards() {
  Store s({MarkedSet("Pens", 1)});
  const QString file = s.Path("sets.cps");
  WritePenSetFile(file, {MarkedSet("New", 2)});
  auto editor = s.OpenEditor();
  Click(*editor, "resetButton");
  s.prompts.yesNo << false;
  s.prompts.selections << PenSetSelection{file, {"New"}};
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown,
           QStringList({"The pen sets have been modified, do you wanto to save it?"}));
  QCOMPARE(s.MarkOf("New"), 2);
  QCOMPARE(s.MarkOf("Pens"), 1);
  QVERIFY2(HasMark(editor->WorkingTable(), 1), "the changes not saved are dropped");
  QVERIFY(!editor->IsModified());
}

void CPenSetTransferTests::ImportSkipsACutOffSet() {
  Store s;
  const QString file = s.Path("cut.cps");
  WritePenSetFile(file, {MarkedSet("Whole", 21), MarkedSet("Cut", 22)}, 5);
  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{file, {"Whole", "Cut"}};
  Click(*editor, "importButton");
  QCOMPARE(s.MarkOf("Whole"), 21);
  QCOMPARE(s.MarkOf("Cut"), 0);
  QCOMPARE(Listed(*editor), QStringList({"Default", "Whole"}));
}

void CPenSetTransferTests::ImportIntoAnEmptyStoreAsksAboutDefault() {
  // With nothing stored the list reads "Default", so the user is asked before it is replaced.
  Store s;
  const QString file = s.Path("sets.cps");
  WritePenSetFile(file, {MarkedSet("default", 5)});
  auto editor = s.OpenEditor();
  s.prompts.overwrite << OverwriteAnswer::Yes;
  s.prompts.selections << PenSetSelection{file, {"default"}};
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown, QStringList({"overwrite default"}));
  QCOMPARE(s.MarkOf("Default"), 5);
  QCOMPARE(Listed(*editor), QStringList({"Default"}));
  QVERIFY(HasMark(editor->WorkingTable(), 5));
}

void CPenSetTransferTests::ImportOfAPlotStyleTable() {
  Store s({MarkedSet("Pens", 1)});
  const QString table = s.Path("Pens.CTB");
  WritePlotStyleTable(table);
  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{table, {"AutoCAD-Pens"}};
  Click(*editor, "importButton");
  QVERIFY(s.prompts.shown.isEmpty());
  QCOMPARE(Listed(*editor), QStringList({"AutoCAD-Pens", "Pens"}));
  QCOMPARE(editor->findChild<QComboBox*>("setList")->currentText(), QStringLiteral("AutoCAD-Pens"));
  QCOMPARE(editor->EditingName(), QStringLiteral("AutoCAD-Pens"));
  QCOMPARE(editor->DisplayUnit(), CPenSetDlg::Unit::Millimetre);
  QVERIFY(editor->findChild<QRadioButton*>("mmButton")->isChecked());
  auto* grid = editor->findChild<QTreeWidget*>("grid");
  QCOMPARE(grid->topLevelItem(1)->text(1), QStringLiteral("0.2500"));
  QCOMPARE(grid->topLevelItem(2)->text(1), QStringLiteral("0.0000"));

  const auto stored = StoredTable("AutoCAD-Pens", s.store);
  QCOMPARE(stored[1].width, 0.25 * 0.03937007874015748);
  QCOMPARE(ColorRgb(stored[1].destColor), 0u);
  QCOMPARE(stored[2].destColor, 2);
  QCOMPARE(s.current.name, std::string("AutoCAD-Pens"));
  QCOMPARE(s.StoredCurrentName(), std::string("AutoCAD-Pens"));
  QVERIFY(HasMark(StoredTable("Pens", s.store), 1));
}

void CPenSetTransferTests::ImportOfAnUnreadablePlotStyleTableStoresNothing() {
  Store s({MarkedSet("Pens", 1)});
  const QString table = s.Path("broken.ctb");
  QFile file(table);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("PIAFILEVERSION_2.0,CTBVER1,compress\r\n");
  file.close();
  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{table, {"AutoCAD-broken"}};
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown.size(), 1);
  QVERIFY(s.prompts.shown[0].contains(QStringLiteral("broken.ctb")));
  QCOMPARE(StoredPenSetNames(s.store), std::vector<std::string>{"Pens"});
  QCOMPARE(Listed(*editor), QStringList({"Pens"}));
  QCOMPARE(editor->DisplayUnit(), CPenSetDlg::Unit::Inch);
}

void CPenSetTransferTests::ImportIntoAStoreThatCannotBeWrittenSaysSo() {
  Store s({MarkedSet("a", 1)});
  const QString file = s.Path("sets.cps");
  WritePenSetFile(file, {MarkedSet("A", 11), MarkedSet("B", 12)});
  const std::string before = ReadAll(s.store.File());
  // A folder where the temporary file of the store's write goes: the write fails, even for
  // root.
  QVERIFY(QDir().mkdir(QString::fromStdString(s.store.File().string()) + ".tmp." +
                       QString::number(getpid())));
  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{file, {"A", "B"}};
  s.prompts.overwrite << OverwriteAnswer::Yes;
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown.size(), 2);
  QCOMPARE(s.prompts.shown[1],
           QStringLiteral("Can not write the settings store %1!\nThe pen sets were not imported.")
               .arg(QString::fromStdString(s.store.File().string())));
  QCOMPARE(s.MarkOf("a"), 1);
  QCOMPARE(s.MarkOf("B"), 0);
  QCOMPARE(Listed(*editor), QStringList({"a"}));
  QCOMPARE(ReadAll(s.store.File()), before);
}

void CPenSetTransferTests::ImportRefusesNamesTheStoreCannotHold() {
  Store s({MarkedSet("Stored", 1)});
  const QString file = s.Path("names.cps");
  const std::string longName(300, 'L');
  WritePenSetFile(file,
                  {MarkedSet(longName, 11), MarkedSet("Good", 12), MarkedSet("tab\there", 13)});
  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{
      file, {QString::fromStdString(longName), "Good", QStringLiteral("tab\there")}};
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown,
           QStringList({QStringLiteral("The pen set \"%1... (300 bytes)\" was not imported: the "
                                       "name is longer than 255 bytes.")
                            .arg(QString(60, u'L')),
                        QStringLiteral("The pen set \"tab\\there\" was not imported: the name "
                                       "holds a line break or another control character.")}));
  QCOMPARE(s.MarkOf("Good"), 12);
  QCOMPARE(StoredPenSetNames(s.store), (std::vector<std::string>{"Stored", "Good"}));
  QCOMPARE(Listed(*editor), QStringList({"Good", "Stored"}));
}

void CPenSetTransferTests::ImportOfAFifoSaysSoWithoutWaitingOnIt() {
  Store s({MarkedSet("Stored", 1)});
  // Nothing ever opens the other end: a reader that opened this would wait for ever.
  const QString fifo = s.Path("pens.cps");
  QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
  CPenSetSelectDlg dialog(PenSetTransferMode::Import, s.store, s.prompts);
  dialog.TakeChosenFile(fifo);
  QVERIFY(dialog.Names().isEmpty());

  auto editor = s.OpenEditor();
  s.prompts.selections << PenSetSelection{fifo, {"Stored"}};
  Click(*editor, "importButton");
  QCOMPARE(s.prompts.shown, QStringList({QStringLiteral("Can not read the file %1!").arg(fifo)}));
  QCOMPARE(s.MarkOf("Stored"), 1);
}

void CPenSetTransferTests::ExportWritesTheStoredSets() {
  Store s({MarkedSet("Alpha", 1), MarkedSet("Beta", 2)});
  // The current set in memory differs from its stored table; exporting leaves it alone.
  s.current.entries[0].width = 9.0;
  auto editor = s.OpenEditor();
  const QString path = s.Path("out.cps");
  s.prompts.selections << PenSetSelection{path, {"Alpha", "Beta"}};
  Click(*editor, "exportButton");
  QVERIFY(s.prompts.shown.isEmpty());
  QCOMPARE(QFile(path).size(), qint64(26 + (5 + 2561) + (4 + 2561)));
  QVERIFY(!QFile::exists(path + QStringLiteral(".tmp-export")));

  std::FILE* file = std::fopen(path.toStdString().c_str(), "rb");
  QVERIFY(file);
  QCOMPARE(ListFilePenSets(file), (std::vector<std::string>{"Alpha", "Beta"}));
  CPenSet read;
  QVERIFY(ReadFilePenSet(file, "Beta", read));
  std::fclose(file);
  QVERIFY(HasMark(read.entries, 2));
  QCOMPARE(s.current.name, std::string("Alpha"));
  QCOMPARE(s.current.entries[0].width, 9.0);
}

void CPenSetTransferTests::ExportToAnUnwritablePlaceSaysSo() {
  Store s({MarkedSet("Alpha", 1)});
  auto editor = s.OpenEditor();
  const QString path = s.Path("no-such-folder/out.cps");
  s.prompts.selections << PenSetSelection{path, {"Alpha"}};
  Click(*editor, "exportButton");
  QCOMPARE(s.prompts.shown, QStringList({QStringLiteral("Can not write the file %1!").arg(path)}));
  QVERIFY(!QFile::exists(path));
}

void CPenSetTransferTests::ExportSelectionNeedsAChosenFile() {
  Store s({MarkedSet("Beta", 2), MarkedSet("Alpha", 1)});
  CPenSetSelectDlg dialog(PenSetTransferMode::Export, s.store, s.prompts);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Export pen sets"));
  QStringList labels;
  for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  QCOMPARE(labels, QStringList({"Please select pen sets to export", "Please select export file"}));
  QCOMPARE(dialog.Names(), QStringList({"Beta", "Alpha"}));
  QPushButton* ok = OkButton(dialog);
  QVERIFY(!ok->isEnabled());

  auto* path = dialog.findChild<QLineEdit*>("path");
  QTest::keyClicks(path, s.Path("typed.cps"));
  QVERIFY2(!ok->isEnabled(), "typing a path does not enable OK");

  const QString chosen = s.Path("chosen.cps");
  s.prompts.files << chosen;
  Click(dialog, "browse");
  QVERIFY(ok->isEnabled());
  QCOMPARE(dialog.Path(), chosen);

  auto* list = dialog.findChild<QListWidget*>("setList");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  QCOMPARE(dialog.Names(), QStringList({"Alpha"}));
  list->clearSelection();
  QVERIFY(!ok->isEnabled());
  Click(dialog, "selectAll");
  QVERIFY(ok->isEnabled());
  QCOMPARE(dialog.Names(), QStringList({"Beta", "Alpha"}));

  // A typed path to a file that exists is asked about; No keeps the dialog open.
  QFile existing(s.Path("typed.cps"));
  QVERIFY(existing.open(QIODevice::WriteOnly));
  existing.close();
  path->setText(s.Path("typed.cps"));
  s.prompts.yesNo << false;
  QTest::mouseClick(ok, Qt::LeftButton);
  QCOMPARE(s.prompts.replaceAsked, QStringList({s.Path("typed.cps")}));
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  s.prompts.yesNo << true;
  QTest::mouseClick(ok, Qt::LeftButton);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void CPenSetTransferTests::ImportSelectionListsTheChosenFile() {
  Store s({MarkedSet("Stored", 1)});
  CPenSetSelectDlg dialog(PenSetTransferMode::Import, s.store, s.prompts);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Import pen sets"));
  QVERIFY(dialog.Names().isEmpty());
  QPushButton* ok = OkButton(dialog);
  QVERIFY(!ok->isEnabled());

  const QString file = s.Path("sets.cps");
  WritePenSetFile(file, {MarkedSet("One", 1), MarkedSet("Two", 2), MarkedSet("Three", 3)});
  s.prompts.files << file;
  Click(dialog, "browse");
  QCOMPARE(dialog.Names(), QStringList({"One", "Two", "Three"}));
  QVERIFY(ok->isEnabled());

  // A file that cannot be opened leaves the list; one with a wrong header empties it.
  dialog.TakeChosenFile(s.Path("missing.cps"));
  QCOMPARE(dialog.Names(), QStringList({"One", "Two", "Three"}));
  dialog.TakeChosenFile(s.Path("Plots/Pens.CTB"));
  QCOMPARE(dialog.Names(), QStringList({"AutoCAD-Pens"}));
  QFile foreign(s.Path("foreign.cps"));
  QVERIFY(foreign.open(QIODevice::WriteOnly));
  foreign.write("zembstrandmerlyx pen sets", 26);
  foreign.close();
  dialog.TakeChosenFile(foreign.fileName());
  QVERIFY(dialog.Names().isEmpty());
  QVERIFY(!ok->isEnabled());
}

QTEST_MAIN(CPenSetTransferTests)
#include "PenSetTransferTests.moc"
