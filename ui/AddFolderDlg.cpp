#include "ui/AddFolderDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/MessageBoxes.h"

CAddFolderDlg::CAddFolderDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Select folder"));

  // Folders only. The model reads a folder's children once, when it is first opened.
  model = new QFileSystemModel(this);
  model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  model->setReadOnly(true);
  model->setRootPath(QDir::rootPath());

  tree = new QTreeView(this);
  tree->setModel(model);
  tree->setHeaderHidden(true);
  for (int column = 1; column < model->columnCount(); ++column) tree->hideColumn(column);
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  tree->setRootIsDecorated(true);
  tree->setSortingEnabled(true);
  tree->sortByColumn(0, Qt::AscendingOrder);
  tree->setMinimumSize(360, 300);
  connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { SelectItem(index); });

  pathField = new QLineEdit(this);
  // A typed path is shown in the tree when the user leaves the field or presses Enter.
  connect(pathField, &QLineEdit::editingFinished, this,
          [this] { SelectFolder(QDir::fromNativeSeparators(pathField->text().trimmed())); });

  subfolderBox = new QCheckBox(tr("Include subfolder"), this);
  auto* types = new QGroupBox(tr("Add drawing file type"), this);
  dwgBox = new QCheckBox(tr("DWG files"), types);
  dxfBox = new QCheckBox(tr("DXF files"), types);
  dwfBox = new QCheckBox(tr("DWF files"), types);
  auto* typeLayout = new QHBoxLayout(types);
  typeLayout->addWidget(dwgBox);
  typeLayout->addWidget(dxfBox);
  typeLayout->addWidget(dwfBox);
  typeLayout->addStretch(1);
  subfolderBox->setChecked(includeSubfolders);
  dwgBox->setChecked(dwgFiles);
  dxfBox->setChecked(dxfFiles);
  dwfBox->setChecked(dwfFiles);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(tr("Ok"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree, 1);
  layout->addWidget(pathField);
  layout->addWidget(subfolderBox);
  layout->addWidget(types);
  layout->addWidget(buttons);

  tree->expand(model->index(QDir::rootPath()));
  if (lastFolder.isEmpty() || !SelectFolder(lastFolder)) SelectFolder(QDir::homePath());
  tree->setFocus();
}

QString CAddFolderDlg::lastFolder;

void CAddFolderDlg::SelectItem(const QModelIndex& index) {
  if (!index.isValid()) return;
  const QString path = model->filePath(index);
  if (path.isEmpty() || !QFileInfo(path).isDir()) return;
  folder = QDir::cleanPath(path);
  pathField->setText(QDir::toNativeSeparators(folder));
}

bool CAddFolderDlg::SelectFolder(const QString& path) {
  if (!QFileInfo(path).isDir()) return false;
  const QModelIndex index = model->index(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
  if (!index.isValid()) return false;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
    tree->expand(parent);
  }
  tree->setCurrentIndex(index);
  tree->scrollTo(index);
  return true;
}

void CAddFolderDlg::accept() {
  const QString typed = QDir::fromNativeSeparators(pathField->text().trimmed());
  if (!typed.isEmpty() && QDir::cleanPath(typed) != folder) {
    if (!QFileInfo(typed).isDir()) {
      MessageBoxes().ShowMessage(this, tr("The folder \"%1\" does not exist.").arg(typed));
      pathField->setFocus();
      return;
    }
    folder = QDir::cleanPath(QFileInfo(typed).absoluteFilePath());
  }
  if (!folder.isEmpty()) lastFolder = folder;
  includeSubfolders = subfolderBox->isChecked();
  dwgFiles = dwgBox->isChecked();
  dxfFiles = dxfBox->isChecked();
  dwfFiles = dwfBox->isChecked();
  QDialog::accept();
}
