#pragma once

#include <QSet>
#include <QStringList>
#include <vector>

#include "ui/CommonPage.h"

class CConvertSettings;
class CIconButton;
class QPushButton;
class QTreeWidget;

// What the add-folder dialog gives the page: a folder, whether to descend into subfolders and
// which drawing types to collect.
struct FolderChoice {
  QString folder;
  bool includeSubfolders = true;
  bool dwg = true;
  bool dxf = true;
  bool dwf = true;
};

// The first step: the ordered list of drawings to convert, each with the bookmark that names it
// in the PDF. Rows come from the open-file dialog, a folder search or files dropped on the
// page; no path is listed twice. The user removes, clears and moves rows and renames bookmarks
// in place (F2 or a click on a selected bookmark). The list lives only in this page: it is
// handed to the settings when a run starts and starts empty with each start of the program.
class CSelectFilePage : public CCommonPage {
  Q_OBJECT

 public:
  // The columns of the list.
  enum Column { kBookmarkColumn = 0, kFileColumn = 1 };

  explicit CSelectFilePage(CConvertSettings& settings, QWidget* parent = nullptr);

  // Adds a row for the drawing at path, its bookmark the file name without folder and
  // extension. Nothing happens for an empty path or one already listed (paths are compared
  // after "." and ".." are resolved, letter case counting as the file system counts it). True
  // when a row was added.
  bool AddFile(const QString& path);
  // Adds the drawings of the wanted types in folder: all DWG files first, then DXF, then DWF,
  // each group sorted by name, then the subfolders' drawings depth first when asked. A folder
  // reached twice (through a symbolic link) is searched once.
  void AddFolderFiles(const QString& folder, bool includeSubfolders, bool dwg, bool dxf, bool dwf);
  // Adds the dropped paths that name existing drawing files (.dwg, .dxf or .dwf in any letter
  // case); folders, other files and missing paths are skipped without a message.
  void DropFiles(const QStringList& paths);
  // Sets the bookmark of row as editing in place does: text that is empty or only white space
  // keeps the old bookmark (false); other text is taken as typed, spaces included.
  bool RenameBookmark(int row, const QString& text);
  // Sets the enabled state of the buttons from the list and asks the wizard to update its own.
  void UpdateButtons();

  // The path of the first row, or empty.
  QString FirstFile() const;

  bool CanLeave() override;
  // Replaces the settings' SourceFiles and BookmarkNames with the rows, in list order.
  void StoreSettings() override;

  // The buttons' actions.
  void OnAdd();
  void OnAddFolder();
  void OnRemove();
  void OnClear();
  void OnMoveUp();
  void OnMoveDown();

  QTreeWidget* List() const { return list; }
  QPushButton* AddButton() const { return addButton; }
  QPushButton* AddFolderButton() const { return addFolderButton; }
  QPushButton* RemoveButton() const { return removeButton; }
  QPushButton* ClearButton() const { return clearButton; }
  CIconButton* MoveUpButton() const { return moveUpButton; }
  CIconButton* MoveDownButton() const { return moveDownButton; }

 protected:
  // The files the user picks in the open-file dialog, in the dialog's order; empty when
  // cancelled. Tests answer in its place.
  virtual QStringList AskDrawingFiles();
  // Shows the add-folder dialog; false when cancelled.
  virtual bool AskFolder(FolderChoice* choice);

  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Moves every block of selected rows one row up (direction −1) or down (+1), unless it
  // already touches that end.
  void MoveSelected(int direction);
  void SwapRows(int a, int b);
  std::vector<bool> SelectedRows() const;

  CConvertSettings& settings;
  QTreeWidget* list = nullptr;
  QPushButton* addButton = nullptr;
  QPushButton* addFolderButton = nullptr;
  QPushButton* removeButton = nullptr;
  QPushButton* clearButton = nullptr;
  CIconButton* moveUpButton = nullptr;
  CIconButton* moveDownButton = nullptr;
  // The paths of the rows, for the duplicate test.
  QSet<QString> listedPaths;
  // Where the open-file dialog opens: the folder of the last files added through it.
  QString lastFolder;
};
