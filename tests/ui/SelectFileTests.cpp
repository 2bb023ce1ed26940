// The file selection page and the add-folder dialog, on temporary folders.
#include <QCheckBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include "convert/ConvertSettings.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/AddFolderDlg.h"
#include "ui/IconButton.h"
#include "ui/SelectFilePage.h"

using uitest::CScriptedMessageBoxes;

namespace {

// A page whose dialogs are answered by the test.
class CTestPage : public CSelectFilePage {
 public:
  using CSelectFilePage::CSelectFilePage;
  QStringList files;
  FolderChoice folder;
  bool folderChosen = false;

 protected:
  QStringList AskDrawingFiles() override { return files; }
  bool AskFolder(FolderChoice* choice) override {
    *choice = folder;
    return folderChosen;
  }
};

void Touch(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

QStringList Column(const CSelectFilePage& page, int column) {
  QStringList texts;
  for (int row = 0; row < page.List()->topLevelItemCount(); ++row) {
    texts.append(page.List()->topLevelItem(row)->text(column));
  }
  return texts;
}

// The file names of the rows, relative to root.
QStringList Rows(const CSelectFilePage& page, const QTemporaryDir& root) {
  QStringList rows;
  for (const QString& path : Column(page, CSelectFilePage::kFileColumn)) {
    rows.append(QDir(root.path()).relativeFilePath(path));
  }
  return rows;
}

void Select(CSelectFilePage& page, const QList<int>& rows) {
  page.List()->clearSelection();
  for (const int row : rows) page.List()->topLevelItem(row)->setSelected(true);
}

QList<int> SelectedRows(const CSelectFilePage& page) {
  QList<int> rows;
  for (int row = 0; row < page.List()->topLevelItemCount(); ++row) {
    if (page.List()->topLevelItem(row)->isSelected()) rows.append(row);
  }
  return rows;
}

}  // namespace

class SelectFileTests : public QObject {
  Q_OBJECT

 private:
  CConvertSettings settings;

 private Q_SLOTS:
  void ListsEachPathOnce() {
    QTemporaryDir dir;
    CTestPage page(settings);
    const QString plan = dir.filePath("A/x.DWG");
    QVERIFY(page.AddFile(plan));
    QVERIFY(!page.AddFile(plan));
    // The same file spelled with "." and ".." or a doubled separator.
    QVERIFY(!page.AddFile(dir.filePath("A/./../A//x.DWG")));
    QVERIFY(!page.AddFile(""));
    QCOMPARE(Column(page, CSelectFilePage::kBookmarkColumn), QStringList{"x"});
    // Letter case counts as the file system counts it: on Linux these are two files.
    QVERIFY(page.AddFile(dir.filePath("a/X.dwg")));
    // Every way in goes through the same test.
    page.files = {plan, dir.filePath("b.dxf"), dir.filePath("b.dxf")};
    page.OnAdd();
    QCOMPARE(Rows(page, dir), (QStringList{"A/x.DWG", "a/X.dwg", "b.dxf"}));
    // A removed path can come back.
    Select(page, {0});
    page.OnRemove();
    QVERIFY(page.AddFile(plan));
    QCOMPARE(Rows(page, dir), (QStringList{"a/X.dwg", "b.dxf", "A/x.DWG"}));
  }

  void FolderSearch_data() {
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<bool>("dwg");
    QTest::addColumn<bool>("dxf");
    QTest::addColumn<bool>("dwf");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all types, DWG first, then DXF, then DWF")
        << false << true << true << true << QStringList{"a.dwg", "b.dxf", "e.DXF", "c.dwf"};
    QTest::newRow("without DXF") << false << true << false << true << QStringList{"a.dwg", "c.dwf"};
    QTest::newRow("subfolders after the folder's own files, depth first")
        << true << true << true << true
        << QStringList{"a.dwg",      "b.dxf",           "e.DXF",     "c.dwf",
                       "sub1/z.dwg", "sub1/deep/f.dwg", "sub2/g.dwf"};
    QTest::newRow("no type wanted") << true << false << false << false << QStringList{};
  }

  void FolderSearch() {
    QFETCH(bool, subfolders);
    QFETCH(bool, dwg);
    QFETCH(bool, dxf);
    QFETCH(bool, dwf);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const char* name : {"b.dxf", "a.dwg", "c.dwf", "e.DXF", "notes.txt", "sub1/z.dwg",
                             "sub1/deep/f.dwg", "sub2/g.dwf", "sub2/readme.dwg.txt"}) {
      Touch(dir.filePath(name));
    }
    // A folder named like a drawing is not one.
    QVERIFY(QDir().mkpath(dir.filePath("folder.dwg")));
    CTestPage page(settings);
    page.AddFolderFiles(dir.path(), subfolders, dwg, dxf, dwf);
    QCOMPARE(Rows(page, dir), expected);
  }

  void FolderSearchEndsOnALinkBackToAFolderAbove() {
    QTemporaryDir dir;
    Touch(dir.filePath("top/a.dxf"));
    Touch(dir.filePath("top/sub/b.dxf"));
    QVERIFY(QFile::link(dir.filePath("top"), dir.filePath("top/sub/back")));
    CTestPage page(settings);
    page.folder = {dir.filePath("top"), true, true, true, true};
    page.folderChosen = true;
    page.OnAddFolder();
    QCOMPARE(Rows(page, dir), (QStringList{"top/a.dxf", "top/sub/b.dxf"}));
  }

  void MovesSelectedBlocks_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QList<int>>("selectedAfter");
    QTest::newRow("up: A, C, D selected")
        << QList<int>{0, 2, 3} << -1 << "ACDB" << QList<int>{0, 1, 2};
    QTest::newRow("down: A, B selected") << QList<int>{0, 1} << +1 << "CABD" << QList<int>{1, 2};
    QTest::newRow("up: a block at the top stays")
        << QList<int>{0, 1} << -1 << "ABCD" << QList<int>{0, 1};
    QTest::newRow("down: two blocks") << QList<int>{0, 2} << +1 << "BADC" << QList<int>{1, 3};
    QTest::newRow("down: the last row stays")
        << QList<int>{1, 3} << +1 << "ACBD" << QList<int>{2, 3};
  }

  void MovesSelectedBlocks() {
    QFETCH(QList<int>, selected);
    QFETCH(int, direction);
    QFETCH(QString, order);
    QFETCH(QList<int>, selectedAfter);
    QTemporaryDir dir;
    CTestPage page(settings);
    for (const char* name : {"A.dxf", "B.dxf", "C.dxf", "D.dxf"}) page.AddFile(dir.filePath(name));
    page.RenameBookmark(1, "Bee");
    Select(page, selected);
    if (direction < 0) {
      page.OnMoveUp();
    } else {
      page.OnMoveDown();
    }
    QString rows;
    for (const QString& path : Rows(page, dir)) rows += path.at(0);
    QCOMPARE(rows, order);
    QCOMPARE(SelectedRows(page), selectedAfter);
    // Bookmark and path move together.
    const int bee = rows.indexOf('B');
    QCOMPARE(page.List()->topLevelItem(bee)->text(CSelectFilePage::kBookmarkColumn),
             QString("Bee"));
  }

  void MoveKeepsLongPathsAndBookmarksWhole() {
    CTestPage page(settings);
    const QString longPath = "/" + QString("folder/").repeated(100) + "plan.dxf";
    const QString longBookmark = QString("name ").repeated(300);
    page.AddFile("/short.dxf");
    page.AddFile(longPath);
    QVERIFY(page.RenameBookmark(1, longBookmark));
    Select(page, {1});
    page.OnMoveUp();
    QCOMPARE(Column(page, CSelectFilePage::kFileColumn).first(), longPath);
    page.StoreSettings();
    QCOMPARE(settings.SourceFiles.front(), longPath.toStdString());
    QCOMPARE(settings.BookmarkNames.front(), longBookmark.toStdString());
  }

  void ButtonsFollowTheListAndTheSelection() {
    CTestPage page(settings);
    QVERIFY(!page.RemoveButton()->isEnabled());
    QVERIFY(!page.ClearButton()->isEnabled());
    QVERIFY(!page.MoveUpButton()->isEnabled());
    for (const char* name : {"/a.dxf", "/b.dxf", "/c.dxf"}) page.AddFile(name);
    QVERIFY(page.ClearButton()->isEnabled());
    QVERIFY(!page.RemoveButton()->isEnabled());
    Select(page, {1});
    QVERIFY(page.RemoveButton()->isEnabled());
    QVERIFY(page.MoveUpButton()->isEnabled());
    QVERIFY(page.MoveDownButton()->isEnabled());
    // With every row selected there is nowhere to move.
    page.List()->selectAll();
    QVERIFY(page.RemoveButton()->isEnabled());
    QVERIFY(!page.MoveUpButton()->isEnabled());
    QVERIFY(!page.MoveDownButton()->isEnabled());
    Select(page, {0, 2});
    page.OnRemove();
    QCOMPARE(Column(page, CSelectFilePage::kBookmarkColumn), QStringList{"b"});
    QVERIFY(!page.RemoveButton()->isEnabled());
    page.OnClear();
    QCOMPARE(page.List()->topLevelItemCount(), 0);
    QVERIFY(!page.ClearButton()->isEnabled());
  }

  void RenamesBookmarksInPlace() {
    CTestPage page(settings);
    page.AddFile("/plans/house.dxf");
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTreeWidget* list = page.List();
    // Types text into the editor F2 opens and ends the edit with key.
    auto rename = [&](const QString& text, Qt::Key key) {
      list->setFocus();
      list->setCurrentItem(list->topLevelItem(0), CSelectFilePage::kFileColumn);
      QTest::keyClick(list, Qt::Key_F2);
      QLineEdit* editor = nullptr;
      for (QLineEdit* open : list->findChildren<QLineEdit*>()) {
        if (open->isVisible()) editor = open;
      }
      QVERIFY2(editor, "F2 opened no editor");
      editor->setText(text);
      QTest::keyClick(editor, key);
      QApplication::processEvents();
    };
    auto bookmark = [&] { return list->topLevelItem(0)->text(CSelectFilePage::kBookmarkColumn); };
    rename("   ", Qt::Key_Return);
    QCOMPARE(bookmark(), QString("house"));
    rename("  Ground floor", Qt::Key_Return);
    QCOMPARE(bookmark(), QString("  Ground floor"));
    rename("Cancelled", Qt::Key_Escape);
    QCOMPARE(bookmark(), QString("  Ground floor"));
    rename("", Qt::Key_Return);
    QCOMPARE(bookmark(), QString("  Ground floor"));
    // The path column is never edited.
    QCOMPARE(list->topLevelItem(0)->text(CSelectFilePage::kFileColumn),
             QString("/plans/house.dxf"));
  }

  void DropAddsOnlyExistingDrawingFiles() {
    QTemporaryDir dir;
    Touch(dir.filePath("plan.DXF"));
    Touch(dir.filePath("notes.txt"));
    QVERIFY(QDir().mkpath(dir.filePath("folder.dwg")));
    CTestPage page(settings);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir.filePath("folder.dwg")),
                  QUrl::fromLocalFile(dir.filePath("notes.txt")),
                  QUrl::fromLocalFile(dir.filePath("missing.dwg")),
                  QUrl::fromLocalFile(dir.filePath("plan.DXF")),
                  QUrl("https://example.org/remote.dwg")});
    // Dropped on the list, the drop reaches the page.
    page.resize(640, 400);
    page.show();
    QWidget* target = page.List()->viewport();
    const QPoint at(40, 40);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(Rows(page, dir), QStringList{"plan.DXF"});
    QVERIFY(page.ClearButton()->isEnabled());
  }

  void CanLeaveOnlyWithDrawings() {
    CScriptedMessageBoxes boxes;
    CTestPage page(settings);
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.messages, QStringList{"You must add the drawing files first!"});
    page.AddFile("/a.dxf");
    QVERIFY(page.CanLeave());
    QCOMPARE(boxes.messages.size(), 1);
  }

  void StoreSettingsReplacesTheListsInRowOrder() {
    CConvertSettings stored;
    stored.SourceFiles = {"/old.dxf", "/older.dxf"};
    stored.BookmarkNames = {"old", "older"};
    CTestPage page(stored);
    page.AddFile("/plans/ground.dwg");
    page.AddFile("/plans/roof.tar.dxf");
    page.RenameBookmark(0, "Ground floor");
    // A bookmark emptied some other way falls back to the file name.
    page.List()->topLevelItem(1)->setText(CSelectFilePage::kBookmarkColumn, "");
    page.StoreSettings();
    QCOMPARE(stored.SourceFiles,
             (std::vector<std::string>{"/plans/ground.dwg", "/plans/roof.tar.dxf"}));
    QCOMPARE(stored.BookmarkNames, (std::vector<std::string>{"Ground floor", "roof.tar"}));
    page.OnClear();
    page.StoreSettings();
    QVERIFY(stored.SourceFiles.empty());
    QVERIFY(stored.BookmarkNames.empty());
  }

  void AddFolderDialogTakesOnlyFolders() {
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("drawings/site")));
    CAddFolderDlg dialog;
    QVERIFY(dialog.dwgFiles && dialog.dxfFiles && dialog.dwfFiles && dialog.includeSubfolders);
    QVERIFY(dialog.SelectFolder(dir.filePath("drawings/site")));
    QCOMPARE(dialog.folder, dir.filePath("drawings/site"));
    QCOMPARE(dialog.PathField()->text(), dir.filePath("drawings/site"));
    // The item above "/" has no path: the folder stays.
    dialog.SelectItem(dialog.Tree()->rootIndex());
    QCOMPARE(dialog.folder, dir.filePath("drawings/site"));
    QVERIFY(!dialog.SelectFolder(dir.filePath("nothing")));
    QCOMPARE(dialog.folder, dir.filePath("drawings/site"));

    dialog.DxfBox()->setChecked(false);
    dialog.SubfolderBox()->setChecked(false);
    dialog.accept();
    QVERIFY(dialog.dwgFiles && !dialog.dxfFiles && dialog.dwfFiles && !dialog.includeSubfolders);

    // The next dialog opens where this one ended; a path can be typed, a wrong one is told.
    QVERIFY(QDir().mkpath(dir.filePath("typed")));
    CAddFolderDlg next;
    QCOMPARE(next.folder, dir.filePath("drawings/site"));
    CScriptedMessageBoxes boxes;
    next.PathField()->setText(dir.filePath("no such folder"));
    next.accept();
    QCOMPARE(boxes.messages.size(), 1);
    QCOMPARE(next.result(), 0);
    next.PathField()->setText(dir.filePath("typed") + "/");
    next.accept();
    QCOMPARE(next.folder, dir.filePath("typed"));
    QCOMPARE(next.result(), static_cast<int>(QDialog::Accepted));
  }
};

QTEST_MAIN(SelectFileTests)
#include "SelectFileTests.moc"
