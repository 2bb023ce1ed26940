#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QFileSystemModel;
class QLineEdit;
class QModelIndex;
class QTreeView;

// "Select folder": a tree of the file system's folders (children read when a folder is first
// opened), the chosen folder's path, whether to descend into subfolders and which drawing types
// to collect. The path can be typed too. Opens on the folder chosen last in this session, else on
// the user's home folder.
class CAddFolderDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAddFolderDlg(QWidget* parent = nullptr);

  // The results, valid after "Ok". The folder stays empty until a folder of the file system was
  // selected.
  QString folder;
  bool dwgFiles = true;
  bool dxfFiles = true;
  bool dwfFiles = true;
  bool includeSubfolders = true;

  // Takes the item's folder when it is a folder of the file system; anything else (an item
  // without a path, such as the root above "/") keeps the folder as it was.
  void SelectItem(const QModelIndex& index);
  // Selects the folder at path in the tree, opening its parents; false when it is not a folder.
  bool SelectFolder(const QString& path);

  QTreeView* Tree() const { return tree; }
  QLineEdit* PathField() const { return pathField; }
  QCheckBox* SubfolderBox() const { return subfolderBox; }
  QCheckBox* DwgBox() const { return dwgBox; }
  QCheckBox* DxfBox() const { return dxfBox; }
  QCheckBox* DwfBox() const { return dwfBox; }

  // Takes a typed path that is a folder (else says so and stays open).
  void accept() override;

 private:
  // The folder the last "Ok" took, where the next dialog opens.
  static QString lastFolder;
  QFileSystemModel* model = nullptr;
  QTreeView* tree = nullptr;
  QLineEdit* pathField = nullptr;
  QCheckBox* subfolderBox = nullptr;
  QCheckBox* dwgBox = nullptr;
  QCheckBox* dxfBox = nullptr;
  QCheckBox* dwfBox = nullptr;
};
