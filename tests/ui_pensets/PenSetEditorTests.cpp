// The pen-set editor driven as a user would: widths in inches and millimetres, several rows at
// once, bad numbers, destination colours, Reset, New, Delete, OK and Cancel, and the colour
// picker's cells. Every question is answered by a script.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "pensets/PenSet.h"
#include "platform/ColorPalette.h"
#include "platform/Registry.h"
#include "tests/ui_pensets/PenSetTestFiles.h"
#include "tests/ui_pensets/ScriptedPrompts.h"
#include "ui/pensets/ColorPaletteGrid.h"
#include "ui/pensets/ColorPickerDlg.h"
#include "ui/pensets/PenSetDlg.h"
#include "ui/pensets/PenSwatch.h"

namespace {

constexpr char kUnitKey[] = "Software\\KESTRIM\\tarnvelox\\PenWidthSet";
const QString kSaveQuestion =
    QStringLiteral("The pen sets have been modified, do you wanto to save it?");

// A settings store in a fresh folder, the current pen set and the editor on them.
struct Editor {
  QTemporaryDir dir;
  CRegistry store{(dir.path() + QStringLiteral("/registry.reg")).toStdString()};
  CPenSet current;
  CScriptedPrompts prompts;
  std::unique_ptr<CPenSetDlg> dialog;

  // Stores the sets given, makes the first of them current (as start-up does) and opens.
  explicit Editor(const std::vector<CPenSet>& stored = {}) {
    for (CPenSet set : stored) StorePenSetTable(set.name, set.entries, store);
    if (!stored.empty()) {
      CPenSet first = stored.front();
      SavePenSet(first, first.name, store);
    }
    LoadCurrentPenSet(current, store);
    Open();
  }
  void Open() { dialog = std::make_unique<CPenSetDlg>(current, store, prompts); }
  // Shown and active, so that focus moves deliver their events.
  bool Show() {
    dialog->show();
    dialog->activateWindow();
    return QTest::qWaitForWindowActive(dialog.get());
  }

  template <typename T>
  T* Child(const char* name) const {
    return dialog->findChild<T*>(QString::fromLatin1(name));
  }
  QTreeWidget* Grid() const { return Child<QTreeWidget>("grid"); }
  QLineEdit* WidthEdit() const { return Child<QLineEdit>("widthEdit"); }
  QComboBox* SetList() const { return Child<QComboBox>("setList"); }
  QString Cell(int row, int column) const { return Grid()->topLevelItem(row)->text(column); }
  QStringList ListedSets() const {
    QStringList names;
    for (int i = 0; i < SetList()->count(); ++i) names << SetList()->itemText(i);
    return names;
  }
  void Click(const char* button) const {
    QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton);
  }
  void SelectRows(std::initializer_list<int> rows) const {
    Grid()->clearSelection();
    for (int row : rows) Grid()->topLevelItem(row)->setSelected(true);
  }
  // Types a width into the field as a user would, replacing what it shows.
  void TypeWidth(const QString& text) const {
    WidthEdit()->setFocus();
    WidthEdit()->selectAll();
    QTest::keyClick(WidthEdit(), Qt::Key_Backspace);
    QTest::keyClicks(WidthEdit(), text);
  }
  void PressEnterInWidth() const { QTest::keyClick(WidthEdit(), Qt::Key_Return); }
};

}  // namespace

class CPenSetEditorTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void OpensOnTheCurrentSetWithTheStoredUnit();
  void SelectsTheCurrentSetByItsWholeName();
  void WidthTypedInMillimetresIsStoredInInches();
  void SwitchingUnitsRewritesTheGridAndTheField();
  void WidthAppliesToEverySelectedRow();
  void InvalidNumbersChangeNothing_data();
  void InvalidNumbersChangeNothing();
  void PassingThroughTheWidthFieldKeepsTheWidth();
  void EscapeDropsATypedWidthWithoutAMessage();
  void DestinationColourGoesToEverySelectedRow();
  void ResetThenCancelStoresNothing();
  void ResetThenSwitchingSetsAsksToSave();
  void NewSetWithUnsavedChangesAnsweredNo();
  void NewSetRefusesNamesTheStoreCannotHold();
  void DeletingTheLastSetIsRefused();
  void DeleteAsksAndMovesToTheFirstSet();
  void OkStoresTheTableAndTheUnit();
  void PickerCellsShowTheirIndices();
  void PickerSwatchesAndInitialIndex();
  void SwatchImageHasFrameAndColour();
};

void CPenSetEditorTests::OpensOnTheCurrentSetWithTheStoredUnit() {
  Editor editor({MarkedSet("Plot", 3), MarkedSet("Alpha", 4), MarkedSet("beta", 5)});
  QCOMPARE(editor.ListedSets(), QStringList({"Alpha", "beta", "Plot"}));
  QCOMPARE(editor.SetList()->currentText(), QStringLiteral("Plot"));
  QCOMPARE(editor.dialog->EditingName(), QStringLiteral("Plot"));
  QVERIFY(HasMark(editor.dialog->WorkingTable(), 3));
  QVERIFY(!editor.dialog->IsModified());
  QCOMPARE(editor.dialog->DisplayUnit(), CPenSetDlg::Unit::Inch);
  QCOMPARE(editor.Cell(10, 1), QStringLiteral("0.0310"));
  QCOMPARE(editor.Cell(10, 2), QStringLiteral("13"));
  QVERIFY2(!editor.WidthEdit()->isEnabled(), "no row is selected yet");

  editor.store.CreateKey(kUnitKey);
  editor.store.SetDword(kUnitKey, "unit", 1);
  editor.Open();
  QCOMPARE(editor.dialog->DisplayUnit(), CPenSetDlg::Unit::Millimetre);
  QCOMPARE(editor.Cell(10, 1), QStringLiteral("0.7874"));
}

void CPenSetEditorTests::SelectsTheCurrentSetByItsWholeName() {
  // "Def" must not select "Default", whose name merely starts the same: OK would then store
  // the table shown under the other set's name.
  Editor editor({MarkedSet("Def", 1), MarkedSet("Default", 2)});
  QCOMPARE(editor.SetList()->currentText(), QStringLiteral("Def"));
  editor.Click("resetButton");
  editor.dialog->accept();
  QVERIFY(IsDefaultTable(StoredTable("Def", editor.store)));
  QVERIFY(HasMark(StoredTable("Default", editor.store), 2));
}

void CPenSetEditorTests::WidthTypedInMillimetresIsStoredInInches() {
  Editor editor;
  QVERIFY(editor.Show());
  editor.Child<QRadioButton>("mmButton")->click();
  editor.SelectRows({0});
  editor.TypeWidth(QStringLiteral("0.5"));
  editor.PressEnterInWidth();
  QVERIFY2(editor.dialog->isVisible(), "Enter in the width field applies, it does not close");
  QCOMPARE(editor.dialog->WorkingTable()[0].width, 0.5 * 0.03937007874015748);
  QVERIFY(qFuzzyCompare(editor.dialog->WorkingTable()[0].width, 0.5 / 25.4));
  QCOMPARE(editor.Cell(0, 1), QStringLiteral("0.5"));
  QVERIFY(editor.dialog->IsModified());
  QVERIFY(editor.prompts.shown.isEmpty());

  // The second Enter, with nothing new typed, is OK.
  editor.PressEnterInWidth();
  QCOMPARE(editor.dialog->result(), int(QDialog::Accepted));
  QVERIFY(qFuzzyCompare(StoredTable("Default", editor.store)[0].width, 0.5 / 25.4));
}

void CPenSetEditorTests::SwitchingUnitsRewritesTheGridAndTheField() {
  CPenSet set = MarkedSet("Pens", 0);
  set.entries[0].width = 0.5 / 25.4;
  Editor editor({set});
  QVERIFY(editor.Show());
  editor.SelectRows({0});
  QCOMPARE(editor.WidthEdit()->text(), QStringLiteral("0.0197"));
  editor.Child<QRadioButton>("mmButton")->click();
  QCOMPARE(editor.WidthEdit()->text(), QStringLiteral("0.5000"));
  QCOMPARE(editor.Cell(0, 1), QStringLiteral("0.5000"));
  QCOMPARE(editor.Cell(255, 1), QStringLiteral("0.6477"));
  editor.Child<QRadioButton>("inchButton")->click();
  QCOMPARE(editor.WidthEdit()->text(), QStringLiteral("0.0197"));
  QCOMPARE(editor.Cell(255, 1), QStringLiteral("0.0255"));
  QVERIFY2(!editor.dialog->IsModified(), "changing the unit changes no width");
  QCOMPARE(editor.dialog->WorkingTable()[0].width, 0.5 / 25.4);
}

void CPenSetEditorTests::WidthAppliesToEverySelectedRow() {
  Editor editor;
  QVERIFY(editor.Show());
  editor.SelectRows({3, 4, 5, 6, 7});
  QCOMPARE(editor.Child<QLabel>("rowName")->text(), QStringLiteral("Color varies"));
  QCOMPARE(editor.dialog->CurrentRow(), 3);
  editor.TypeWidth(QStringLiteral("0.35"));
  // Leaving the field applies the width.
  editor.Grid()->setFocus();
  for (int row = 3; row <= 7; ++row) {
    QCOMPARE(editor.dialog->WorkingTable()[row].width, 0.35);
    QCOMPARE(editor.Cell(row, 1), QStringLiteral("0.35"));
  }
  QCOMPARE(editor.dialog->WorkingTable()[2].width, 0.0);
  QCOMPARE(editor.dialog->WorkingTable()[8].width, 0.0);

  editor.SelectRows({8});
  QCOMPARE(editor.Child<QLabel>("rowName")->text(), QStringLiteral("Dark Gray"));
  editor.Grid()->clearSelection();
  QCOMPARE(editor.dialog->CurrentRow(), -1);
  QVERIFY(!editor.WidthEdit()->isEnabled());
  QVERIFY(!editor.Child<QPushButton>("destinationButton")->isEnabled());
}

void CPenSetEditorTests::InvalidNumbersChangeNothing_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("valid");
  QTest::addColumn<double>("inches");
  QTest::newRow("two points") << "1.2.3" << false << 0.0;
  QTest::newRow("letters after digits") << "0.5mm" << false << 0.0;
  QTest::newRow("decimal comma") << "0,5" << false << 0.0;
  QTest::newRow("not a number") << "nan" << false << 0.0;
  QTest::newRow("negative") << "-0.1" << false << 0.0;
  QTest::newRow("too large") << "1e999" << false << 0.0;
  QTest::newRow("empty is 0") << "" << true << 0.0;
  QTest::newRow("spaces and sign") << "  +.25 " << true << 0.25;
  QTest::newRow("exponent") << "2.5E-1" << true << 0.25;
  QTest::newRow("trailing point") << "3." << true << 3.0;
}

void CPenSetEditorTests::InvalidNumbersChangeNothing() {
  QFETCH(QString, typed);
  QFETCH(bool, valid);
  QFETCH(double, inches);
  Editor editor({MarkedSet("Pens", 7)});
  QVERIFY(editor.Show());
  editor.SelectRows({1});
  editor.TypeWidth(typed);
  editor.PressEnterInWidth();
  QVERIFY(editor.dialog->isVisible());
  if (valid) {
    QVERIFY(editor.prompts.shown.isEmpty());
    QCOMPARE(editor.dialog->WorkingTable()[1].width, inches);
    return;
  }
  QCOMPARE(editor.prompts.shown, QStringList({"Invalid number!"}));
  QCOMPARE(editor.WidthEdit()->text(), QStringLiteral("0"));
  QCOMPARE(editor.WidthEdit()->selectedText(), QStringLiteral("0"));
  QVERIFY(HasMark(editor.dialog->WorkingTable(), 7));
  QVERIFY(!editor.dialog->IsModified());
  // The "0" put in its place is not taken as typed: Enter now is OK, with the table intact.
  editor.PressEnterInWidth();
  QCOMPARE(editor.dialog->result(), int(QDialog::Accepted));
  QVERIFY(HasMark(StoredTable("Pens", editor.store), 7));
}

void CPenSetEditorTests::PassingThroughTheWidthFieldKeepsTheWidth() {
  // 0.0137… shows as 0.0138; taking the text back would round the stored width.
  CPenSet set = MarkedSet("Pens", 0);
  set.entries[4].width = 0.35 / 25.4;
  Editor editor({set});
  QVERIFY(editor.Show());
  editor.SelectRows({4});
  editor.WidthEdit()->setFocus();
  editor.Grid()->setFocus();
  QCOMPARE(editor.dialog->WorkingTable()[4].width, 0.35 / 25.4);
  QVERIFY(!editor.dialog->IsModified());
}

void CPenSetEditorTests::EscapeDropsATypedWidthWithoutAMessage() {
  Editor editor({MarkedSet("Pens", 6)});
  QVERIFY(editor.Show());
  editor.SelectRows({2});
  editor.TypeWidth(QStringLiteral("abc"));
  QTest::keyClick(editor.WidthEdit(), Qt::Key_Escape);
  QVERIFY(!editor.dialog->isVisible());
  QCOMPARE(editor.dialog->result(), int(QDialog::Rejected));
  QVERIFY(editor.prompts.shown.isEmpty());
  QVERIFY(HasMark(StoredTable("Pens", editor.store), 6));
}

void CPenSetEditorTests::DestinationColourGoesToEverySelectedRow() {
  Editor editor;
  QVERIFY(editor.Show());
  // Two rows at once before any single row: the picker starts at the first one's colour.
  editor.SelectRows({20, 21});
  editor.prompts.picks << 249;
  editor.Click("destinationButton");
  QCOMPARE(editor.prompts.pickerStarts, QList<int>({20}));
  QCOMPARE(editor.dialog->WorkingTable()[20].destColor, 249);
  QCOMPARE(editor.dialog->WorkingTable()[21].destColor, 249);
  QCOMPARE(editor.Cell(21, 2), QStringLiteral("249"));
  QCOMPARE(editor.Child<QLabel>("destinationName")->text(), QStringLiteral("Color 249"));
  QVERIFY(editor.dialog->IsModified());

  // A click on the swatch does the same, starting at the single row's colour.
  editor.SelectRows({5});
  editor.prompts.picks << 0;
  QTest::mouseClick(editor.Child<CPenColorBox>("destinationColor"), Qt::LeftButton);
  QCOMPARE(editor.prompts.pickerStarts, QList<int>({20, 5}));
  QCOMPARE(editor.dialog->WorkingTable()[5].destColor, 0);
  QVERIFY(editor.prompts.unexpected.isEmpty());
}

void CPenSetEditorTests::ResetThenCancelStoresNothing() {
  Editor editor({MarkedSet("Pens", 9)});
  const QByteArray before = [&] {
    QFile file(QString::fromStdString(editor.store.File().string()));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
  }();
  editor.Click("resetButton");
  QVERIFY(IsDefaultTable(editor.dialog->WorkingTable()));
  QCOMPARE(editor.Cell(9, 2), QStringLiteral("9"));
  QVERIFY(editor.dialog->IsModified());
  editor.dialog->reject();
  QVERIFY(editor.prompts.shown.isEmpty());
  QVERIFY(HasMark(StoredTable("Pens", editor.store), 9));
  QVERIFY(HasMark(editor.current.entries, 9));
  QFile file(QString::fromStdString(editor.store.File().string()));
  file.open(QIODevice::ReadOnly);
  QCOMPARE(file.readAll(), before);
}

void CPenSetEditorTests::ResetThenSwitchingSetsAsksToSave() {
  Editor editor({MarkedSet("Pens", 9), MarkedSet("Other", 2)});
  editor.Click("resetButton");
  editor.prompts.yesNo << false;
  editor.SetList()->setCurrentIndex(editor.SetList()->findText("Other"));
  QCOMPARE(editor.prompts.shown, QStringList({kSaveQuestion}));
  QVERIFY(HasMark(StoredTable("Pens", editor.store), 9));
  QCOMPARE(editor.dialog->EditingName(), QStringLiteral("Other"));
  QVERIFY(HasMark(editor.dialog->WorkingTable(), 2));
  QCOMPARE(editor.current.name, std::string("Other"));
  QVERIFY(HasMark(editor.current.entries, 2));

  // Yes stores the reset table under the set it was made in.
  editor.Click("resetButton");
  editor.prompts.yesNo << true;
  editor.SetList()->setCurrentIndex(editor.SetList()->findText("Pens"));
  QVERIFY(IsDefaultTable(StoredTable("Other", editor.store)));
  QVERIFY(HasMark(editor.dialog->WorkingTable(), 9));
}

void CPenSetEditorTests::NewSetWithUnsavedChangesAnsweredNo() {
  Editor editor({MarkedSet("Old", 1)});
  editor.Click("resetButton");
  editor.prompts.yesNo << false;
  editor.prompts.texts << QStringLiteral("Fresh");
  editor.Click("newButton");
  QCOMPARE(editor.prompts.shown, QStringList({kSaveQuestion, "Input: New Color Sets"}));
  QVERIFY2(HasMark(StoredTable("Old", editor.store), 1), "No keeps the old set as stored");
  QVERIFY2(IsDefaultTable(StoredTable("Fresh", editor.store)), "the new set holds the changes");
  QCOMPARE(editor.ListedSets(), QStringList({"Fresh", "Old"}));
  QCOMPARE(editor.SetList()->currentText(), QStringLiteral("Fresh"));
  QCOMPARE(editor.dialog->EditingName(), QStringLiteral("Fresh"));
  QCOMPARE(editor.current.name, std::string("Fresh"));
  QVERIFY(!editor.dialog->IsModified());

  // A name given in another case is the stored set of that name, listed once.
  editor.prompts.texts << QStringLiteral("OLD");
  editor.Click("newButton");
  QCOMPARE(editor.ListedSets(), QStringList({"Fresh", "Old"}));
  QCOMPARE(editor.SetList()->currentText(), QStringLiteral("Old"));
  QVERIFY(IsDefaultTable(StoredTable("Old", editor.store)));

  // A cancelled input changes nothing.
  editor.prompts.texts << QString();
  editor.Click("newButton");
  QCOMPARE(editor.ListedSets(), QStringList({"Fresh", "Old"}));
  QVERIFY(editor.prompts.unexpected.isEmpty());
}

void CPenSetEditorTests::NewSetRefusesNamesTheStoreCannotHold() {
  Editor editor;
  editor.prompts.texts << QStringLiteral("Plots\\A3") << QString(300, u'x');
  editor.Click("newButton");
  editor.Click("newButton");
  QCOMPARE(editor.prompts.shown.size(), 4);
  QCOMPARE(editor.ListedSets(), QStringList({"Default"}));
  QVERIFY(StoredPenSetNames(editor.store).empty());
}

void CPenSetEditorTests::DeletingTheLastSetIsRefused() {
  Editor editor;
  QCOMPARE(editor.ListedSets(), QStringList({"Default"}));
  editor.Click("deleteButton");
  QCOMPARE(editor.prompts.shown,
           QStringList({"there must be at least one sets!\nCan't delete this sets!"}));
  QCOMPARE(editor.ListedSets(), QStringList({"Default"}));
}

void CPenSetEditorTests::DeleteAsksAndMovesToTheFirstSet() {
  Editor editor({MarkedSet("Zeta", 1), MarkedSet("Alpha", 2), MarkedSet("Beta", 3)});
  editor.prompts.yesNo << false;
  editor.Click("deleteButton");
  QCOMPARE(editor.prompts.shown, QStringList({"Are you sure to delete this sets?"}));
  QCOMPARE(editor.ListedSets().size(), 3);

  // Unsaved changes of the deleted set go with it: no question, and the set stays deleted.
  editor.Click("resetButton");
  editor.prompts.yesNo << true;
  editor.Click("deleteButton");
  QCOMPARE(editor.prompts.shown.size(), 2);
  QCOMPARE(editor.ListedSets(), QStringList({"Alpha", "Beta"}));
  QCOMPARE(StoredPenSetNames(editor.store), (std::vector<std::string>{"Alpha", "Beta"}));
  QCOMPARE(editor.SetList()->currentText(), QStringLiteral("Alpha"));
  QCOMPARE(editor.dialog->EditingName(), QStringLiteral("Alpha"));
  QVERIFY(HasMark(editor.dialog->WorkingTable(), 2));
  QCOMPARE(editor.current.name, std::string("Alpha"));
  QVERIFY(HasMark(editor.current.entries, 2));
}

void CPenSetEditorTests::OkStoresTheTableAndTheUnit() {
  Editor editor({MarkedSet("Pens", 4), MarkedSet("Other", 5)});
  editor.Child<QRadioButton>("mmButton")->click();
  editor.Click("resetButton");
  QTest::mouseClick(editor.dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                    Qt::LeftButton);
  QCOMPARE(editor.dialog->result(), int(QDialog::Accepted));
  QVERIFY(IsDefaultTable(StoredTable("Pens", editor.store)));
  QVERIFY(IsDefaultTable(editor.current.entries));
  QCOMPARE(editor.current.name, std::string("Pens"));
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  QVERIFY(editor.store.QueryValue(kUnitKey, "unit", &type, &data));
  QCOMPARE(type, RegType::Dword);
  QCOMPARE(data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
  CPenSet loaded;
  LoadCurrentPenSet(loaded, editor.store);
  QCOMPARE(loaded.name, std::string("Pens"));
  QVERIFY(IsDefaultTable(loaded.entries));
  QVERIFY(HasMark(StoredTable("Other", editor.store), 5));
}

void CPenSetEditorTests::PickerCellsShowTheirIndices() {
  CColorPickerDlg picker(7);
  picker.show();
  CColorPaletteGrid* upper = picker.UpperGrid();
  CColorPaletteGrid* lower = picker.LowerGrid();
  QCOMPARE(upper->size(), QSize(450, 95));
  QCOMPARE(lower->size(), QSize(450, 95));
  QCOMPARE(lower->y() - (upper->y() + upper->height()), 2);
  QCOMPARE(upper->IndexAt(1, 0), 18);
  QCOMPARE(upper->IndexAt(1, 4), 10);
  QCOMPARE(lower->IndexAt(24, 4), 249);
  QCOMPARE(lower->IndexAt(1, 0), 11);
  QCOMPARE(upper->IndexAt(0, 0), -1);

  // Upper column 1, row 0 starts at (3, 4); its right and bottom edges (19, 20) are inside.
  QTest::mouseClick(upper, Qt::LeftButton, {}, QPoint(19, 20));
  QCOMPARE(picker.ChosenIndex(), 18);
  QCOMPARE(picker.findChild<QLineEdit*>("colorName")->text(), QStringLiteral("Color 18"));
  // Between two cells nothing is chosen.
  QTest::mouseClick(upper, Qt::LeftButton, {}, QPoint(20, 20));
  QCOMPARE(picker.ChosenIndex(), 18);
  QTest::mouseClick(upper, Qt::LeftButton, {}, QPoint(2, 4));
  QCOMPARE(picker.ChosenIndex(), 18);
  // Lower column 24, row 4 starts at (417, 74).
  QTest::mouseClick(lower, Qt::LeftButton, {}, QPoint(417, 74));
  QCOMPARE(picker.ChosenIndex(), 249);
  QTest::mouseClick(lower, Qt::LeftButton, {}, QPoint(433, 90));
  QCOMPARE(picker.ChosenIndex(), 249);
  QCOMPARE(picker.findChild<CPenColorBox*>("chosenColor")->Color(), PaletteColor(249));

  // The keyboard walks the grid from the last cell chosen in it.
  QTest::keyClick(lower, Qt::Key_Up);
  QCOMPARE(picker.ChosenIndex(), 247);
  QTest::keyClick(lower, Qt::Key_Right);
  QCOMPARE(picker.ChosenIndex(), 247);
}

void CPenSetEditorTests::PickerSwatchesAndInitialIndex() {
  CColorPickerDlg picker(-1);
  QCOMPARE(picker.ChosenIndex(), 0);
  QCOMPARE(picker.findChild<QLineEdit*>("colorName")->text(), QStringLiteral("Black"));
  QTest::mouseClick(picker.Swatch(8), Qt::LeftButton);
  QCOMPARE(picker.ChosenIndex(), 8);
  QCOMPARE(picker.findChild<QLineEdit*>("colorName")->text(), QStringLiteral("Dark Gray"));
  QTest::mouseClick(picker.Swatch(253), Qt::LeftButton);
  QCOMPARE(picker.ChosenIndex(), 253);
  QCOMPARE(picker.Swatch(253)->size(), QSize(20, 20));
  QVERIFY(picker.Swatch(10) == nullptr);
}

void CPenSetEditorTests::SwatchImageHasFrameAndColour() {
  const QImage image = PenSwatchImage(1);
  QCOMPARE(image.size(), QSize(16, 16));
  QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
  QCOMPARE(image.pixelColor(1, 1), QColor(Qt::black));
  QCOMPARE(image.pixelColor(13, 13), QColor(Qt::black));
  QCOMPARE(image.pixelColor(14, 14), QColor(Qt::white));
  QCOMPARE(image.pixelColor(2, 2), QColor(255, 0, 0));
  QCOMPARE(image.pixelColor(12, 12), QColor(255, 0, 0));
  QCOMPARE(image.pixelColor(15, 15), QColor(Qt::white));
}

QTEST_MAIN(CPenSetEditorTests)
#include "PenSetEditorTests.moc"
