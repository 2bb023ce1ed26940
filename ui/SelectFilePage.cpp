#include "ui/SelectFilePage.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "convert/ConvertSettings.h"
#include "convert/FolderSearch.h"
#include "ui/AddFolderDlg.h"
#include "ui/IconButton.h"
#include "ui/MessageBoxes.h"

namespace {

constexpr int kBookmarkWidth = 150;
constexpr int kFileWidth = 400;

// The wait cursor for the lifetime of the object.
class CWaitCursor {
 public:
  CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The path as the list holds it: absolute, with "." and ".." resolved and no doubled
// separators, so that one file is not listed twice under two spellings.
QString ListedPath(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString DefaultBookmark(const QString& path) {
  return QFileInfo(path).completeBaseName();
}

// In-place editing of the bookmark column only, with the page's rule for the new text.
class CBookmarkDelegate : public QStyledItemDelegate {
 public:
  CBookmarkDelegate(CSelectFilePage* page) : QStyledItemDelegate(page), page(page) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (index.column() != CSelectFilePage::kBookmarkColumn) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (auto* field = qobject_cast<QLineEdit*>(editor))
      page->RenameBookmark(index.row(), field->text());
  }

 private:
  CSelectFilePage* page;
};

}  // namespace

CSelectFilePage::CSelectFilePage(CConvertSettings& convertSettings, QWidget* parent)
    : CCommonPage(parent), settings(convertSettings) {
  QVBoxLayout* body = MakeStepLayout(tr("Add the dwg, dxf and dwf files to convert - [1 / 4]"));

  list = new QTreeWidget(this);
  list->setColumnCount(2);
  list->setHeaderLabels({tr("Book Mark"), tr("File")});
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSortingEnabled(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  list->setItemDelegate(new CBookmarkDelegate(this));
  list->setColumnWidth(kBookmarkColumn, kBookmarkWidth);
  list->setColumnWidth(kFileColumn, kFileWidth);
  list->setTextElideMode(Qt::ElideMiddle);
  list->installEventFilter(this);
  // Keep the selection visible when the list loses the focus (to a move button, say).
  QPalette colours = list->palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight,
                   colours.color(QPalette::Active, QPalette::Highlight).lighter(130));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  list->setPalette(colours);

  addButton = new QPushButton(tr("&Add"), this);
  addFolderButton = new QPushButton(tr("Add &Folder"), this);
  removeButton = new QPushButton(tr("&Remove"), this);
  clearButton = new QPushButton(tr("&Clear"), this);
  moveUpButton = new CIconButton(this);
  moveUpButton->SetIcon(QIcon(":/images/up.png"));
  moveUpButton->SetFlat(true);
  moveUpButton->SetTooltipText(tr("Move up the selected files"));
  moveDownButton = new CIconButton(this);
  moveDownButton->SetIcon(QIcon(":/images/down.png"));
  moveDownButton->SetFlat(true);
  moveDownButton->SetTooltipText(tr("Move down the selected files"));
  for (CIconButton* button : {moveUpButton, moveDownButton}) button->setFixedSize(28, 28);

  // The list with the move buttons at its right, the other buttons below.
  auto* grid = new QGridLayout;
  grid->addWidget(list, 0, 0, 4, 1);
  grid->addWidget(moveUpButton, 1, 1);
  grid->addWidget(moveDownButton, 2, 1);
  grid->setRowStretch(0, 1);
  grid->setRowStretch(3, 1);
  body->addLayout(grid, 1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {addButton, addFolderButton, removeButton, clearButton}) {
    button->setMinimumWidth(88);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  body->addLayout(buttons);

  connect(addButton, &QPushButton::clicked, this, &CSelectFilePage::OnAdd);
  connect(addFolderButton, &QPushButton::clicked, this, &CSelectFilePage::OnAddFolder);
  connect(removeButton, &QPushButton::clicked, this, &CSelectFilePage::OnRemove);
  connect(clearButton, &QPushButton::clicked, this, &CSelectFilePage::OnClear);
  connect(moveUpButton, &QToolButton::clicked, this, &CSelectFilePage::OnMoveUp);
  connect(moveDownButton, &QToolButton::clicked, this, &CSelectFilePage::OnMoveDown);
  // Every change of the list or of the selection updates the buttons.
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CSelectFilePage::UpdateButtons);
  connect(list->model(), &QAbstractItemModel::rowsInserted, this, &CSelectFilePage::UpdateButtons);
  connect(list->model(), &QAbstractItemModel::rowsRemoved, this, &CSelectFilePage::UpdateButtons);
  connect(list->model(), &QAbstractItemModel::modelReset, this, &CSelectFilePage::UpdateButtons);

  setAcceptDrops(true);
  setTabOrder(list, moveUpButton);
  setTabOrder(moveUpButton, moveDownButton);
  setTabOrder(moveDownButton, addButton);
  UpdateButtons();
}

bool CSelectFilePage::AddFile(const QString& path) {
  if (path.isEmpty()) return false;
  const QString listed = ListedPath(path);
  if (listedPaths.contains(listed)) return false;
  auto* item = new QTreeWidgetItem({DefaultBookmark(listed), QDir::toNativeSeparators(listed)});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable |
                 Qt::ItemNeverHasChildren);
  item->setToolTip(kFileColumn, QDir::toNativeSeparators(listed));
  list->addTopLevelItem(item);
  listedPaths.insert(listed);
  return true;
}

void CSelectFilePage::AddFolderFiles(const QString& folder, bool includeSubfolders, bool dwg,
                                     bool dxf, bool dwf) {
  if (folder.isEmpty()) return;
  // The command line's folder search is the same: one order for both.
  for (const std::string& path :
       FindDrawingsInFolder(folder.toStdString(), includeSubfolders, {dwg, dxf, dwf})) {
    AddFile(QString::fromStdString(path));
  }
}

void CSelectFilePage::DropFiles(const QStringList& paths) {
  CWaitCursor wait;
  for (const QString& path : paths) {
    if (!HasDrawingExtension(path.toStdString())) continue;
    const QFileInfo file(path);
    if (file.exists() && file.isFile()) AddFile(path);
  }
  UpdateButtons();
}

QString CSelectFilePage::FirstFile() const {
  const QTreeWidgetItem* item = list->topLevelItem(0);
  return item ? item->text(kFileColumn) : QString();
}

bool CSelectFilePage::RenameBookmark(int row, const QString& text) {
  QTreeWidgetItem* item = list->topLevelItem(row);
  if (!item || text.trimmed().isEmpty()) return false;
  item->setText(kBookmarkColumn, text);
  return true;
}

std::vector<bool> CSelectFilePage::SelectedRows() const {
  std::vector<bool> selected(list->topLevelItemCount(), false);
  for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
    selected[index.row()] = true;
  }
  return selected;
}

void CSelectFilePage::UpdateButtons() {
  const int rows = list->topLevelItemCount();
  const int selected = static_cast<int>(list->selectionModel()->selectedRows().size());
  removeButton->setEnabled(selected > 0);
  clearButton->setEnabled(rows > 0);
  const bool canMove = selected > 0 && selected < rows;
  moveUpButton->setEnabled(canMove);
  moveDownButton->setEnabled(canMove);
  UpdateParentButtons();
}

bool CSelectFilePage::CanLeave() {
  if (list->topLevelItemCount() > 0) return true;
  MessageBoxes().ShowMessage(this, tr("You must add the drawing files first!"));
  return false;
}

void CSelectFilePage::StoreSettings() {
  settings.SourceFiles.clear();
  settings.BookmarkNames.clear();
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list->topLevelItem(row);
    const QString path = QDir::fromNativeSeparators(item->text(kFileColumn));
    if (path.isEmpty()) continue;
    QString bookmark = item->text(kBookmarkColumn);
    if (bookmark.isEmpty()) bookmark = DefaultBookmark(path);
    // File names go to the file system in its own encoding; bookmarks are text.
    settings.SourceFiles.push_back(QFile::encodeName(path).toStdString());
    settings.BookmarkNames.push_back(bookmark.toStdString());
  }
}

QStringList CSelectFilePage::AskDrawingFiles() {
  return QFileDialog::getOpenFileNames(
      this, tr("Add drawing files"), lastFolder,
      tr("All drawing type(*.dwg *.dxf *.dwf);;Drawing type files(*.dwg);;"
         "DXF type files(*.dxf);;DWF type files(*.dwf)"));
}

bool CSelectFilePage::AskFolder(FolderChoice* choice) {
  CAddFolderDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted) return false;
  choice->folder = dialog.folder;
  choice->includeSubfolders = dialog.includeSubfolders;
  choice->dwg = dialog.dwgFiles;
  choice->dxf = dialog.dxfFiles;
  choice->dwf = dialog.dwfFiles;
  return true;
}

void CSelectFilePage::OnAdd() {
  const QStringList paths = AskDrawingFiles();
  if (paths.isEmpty()) return;
  lastFolder = QFileInfo(paths.first()).absolutePath();
  CWaitCursor wait;
  for (const QString& path : paths) AddFile(path);
  UpdateButtons();
}

void CSelectFilePage::OnAddFolder() {
  FolderChoice choice;
  if (!AskFolder(&choice)) return;
  CWaitCursor wait;
  AddFolderFiles(choice.folder, choice.includeSubfolders, choice.dwg, choice.dxf, choice.dwf);
  UpdateButtons();
}

void CSelectFilePage::OnRemove() {
  CWaitCursor wait;
  const std::vector<bool> selected = SelectedRows();
  for (int row = static_cast<int>(selected.size()) - 1; row >= 0; --row) {
    if (!selected[row]) continue;
    QTreeWidgetItem* item = list->takeTopLevelItem(row);
    listedPaths.remove(QDir::fromNativeSeparators(item->text(kFileColumn)));
    delete item;
  }
  UpdateButtons();
}

void CSelectFilePage::OnClear() {
  CWaitCursor wait;
  list->clear();
  listedPaths.clear();
  UpdateButtons();
}

void CSelectFilePage::OnMoveUp() {
  MoveSelected(-1);
}

void CSelectFilePage::OnMoveDown() {
  MoveSelected(+1);
}

void CSelectFilePage::SwapRows(int a, int b) {
  QTreeWidgetItem* first = list->topLevelItem(a);
  QTreeWidgetItem* second = list->topLevelItem(b);
  for (const int column : {kBookmarkColumn, kFileColumn}) {
    const QString text = first->text(column);
    first->setText(column, second->text(column));
    second->setText(column, text);
  }
  const QString tip = first->toolTip(kFileColumn);
  first->setToolTip(kFileColumn, second->toolTip(kFileColumn));
  second->setToolTip(kFileColumn, tip);
}

void CSelectFilePage::MoveSelected(int direction) {
  std::vector<bool> selected = SelectedRows();
  const int rows = static_cast<int>(selected.size());
  if (std::find(selected.begin(), selected.end(), true) == selected.end()) return;

  CWaitCursor wait;
  list->setUpdatesEnabled(false);
  if (direction < 0) {
    for (int i = 1; i < rows; ++i) {
      if (selected[i] && !selected[i - 1]) {
        SwapRows(i, i - 1);
        std::vector<bool>::swap(selected[i], selected[i - 1]);
      }
    }
  } else {
    for (int i = rows - 2; i >= 0; --i) {
      if (selected[i] && !selected[i + 1]) {
        SwapRows(i, i + 1);
        std::vector<bool>::swap(selected[i], selected[i + 1]);
      }
    }
  }

  QItemSelection selection;
  int first = -1;
  int last = -1;
  for (int row = 0; row < rows; ++row) {
    if (!selected[row]) continue;
    const QModelIndex index = list->model()->index(row, 0);
    selection.select(index, index);
    if (first < 0) first = row;
    last = row;
  }
  list->selectionModel()->select(selection,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->scrollToItem(list->topLevelItem(direction < 0 ? first : last));
  (direction < 0 ? moveUpButton : moveDownButton)->setFocus();
  list->setUpdatesEnabled(true);
  UpdateButtons();
}

bool CSelectFilePage::eventFilter(QObject* watched, QEvent* event) {
  // Keys typed into the bookmark editor reach the list too; only the list's own count here.
  if (watched == list && event->type() == QEvent::KeyPress && list->hasFocus()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // F2 renames the bookmark of the focused row, whichever column has the focus.
    if (key->key() == Qt::Key_F2) {
      if (QTreeWidgetItem* item = list->currentItem()) list->editItem(item, kBookmarkColumn);
      return true;
    }
    if (key->matches(QKeySequence::Delete) && removeButton->isEnabled()) {
      OnRemove();
      return true;
    }
  }
  return CCommonPage::eventFilter(watched, event);
}

void CSelectFilePage::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CSelectFilePage::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CSelectFilePage::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  }
  DropFiles(paths);
  event->acceptProposedAction();
}
