#include "ui/pensets/PenSetSelectDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "pensets/PenSet.h"
#include "pensets/PenSetFile.h"
#include "platform/Registry.h"
#include "platform/RegularFile.h"
#include "ui/pensets/PenSetTransfer.h"

CPenSetSelectDlg::CPenSetSelectDlg(PenSetTransferMode transferMode, CRegistry& store,
                                   IPenSetPrompts& dialogPrompts, QWidget* parent)
    : QDialog(parent), mode(transferMode), prompts(dialogPrompts) {
  const bool exporting = mode == PenSetTransferMode::Export;
  setWindowTitle(exporting ? QStringLiteral("Export pen sets") : QStringLiteral("Import pen sets"));

  auto* listPrompt = new QLabel(exporting ? QStringLiteral("Please select pen sets to export")
                                          : QStringLiteral("Please select pen sets to import"));
  list = new QListWidget;
  list->setObjectName(QStringLiteral("setList"));
  list->setSelectionMode(QAbstractItemView::MultiSelection);
  listPrompt->setBuddy(list);
  auto* selectAll = new QPushButton(QStringLiteral("Select &All"));
  selectAll->setObjectName(QStringLiteral("selectAll"));
  selectAll->setAutoDefault(false);

  auto* filePrompt = new QLabel(exporting ? QStringLiteral("Please select export file")
                                          : QStringLiteral("Please select import file"));
  pathField = new QLineEdit;
  pathField->setObjectName(QStringLiteral("path"));
  filePrompt->setBuddy(pathField);
  auto* browse = new QPushButton(QStringLiteral("..."));
  browse->setObjectName(QStringLiteral("browse"));
  browse->setAutoDefault(false);
  browse->setToolTip(exporting ? QStringLiteral("Choose the file to write")
                               : QStringLiteral("Choose the file to read"));
  // Just wide enough for its three dots, as beside any file field.
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  okButton = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &CPenSetSelectDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(listPrompt, 0, 0, 1, 2);
  grid->addWidget(list, 1, 0);
  auto* side = new QVBoxLayout;
  side->addWidget(selectAll);
  side->addStretch();
  grid->addLayout(side, 1, 1);
  grid->addWidget(filePrompt, 2, 0, 1, 2);
  grid->addWidget(pathField, 3, 0);
  grid->addWidget(browse, 3, 1, Qt::AlignLeft);
  grid->addWidget(buttons, 4, 0, 1, 2);
  resize(420, 360);

  connect(list, &QListWidget::itemSelectionChanged, this, &CPenSetSelectDlg::UpdateOk);
  connect(selectAll, &QPushButton::clicked, this, &CPenSetSelectDlg::SelectAll);
  connect(browse, &QPushButton::clicked, this, &CPenSetSelectDlg::Browse);

  QStringList names;
  if (exporting) {
    for (const std::string& name : ListPenSets(store)) names << QString::fromStdString(name);
  }
  FillList(names);
  setTabOrder(list, selectAll);
  setTabOrder(selectAll, pathField);
  setTabOrder(pathField, browse);
  setTabOrder(browse, okButton);
}

QString CPenSetSelectDlg::Path() const {
  return pathField->text();
}

QStringList CPenSetSelectDlg::Names() const {
  QStringList names;
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->isSelected()) names << list->item(row)->text();
  }
  return names;
}

void CPenSetSelectDlg::SelectAll() {
  list->selectAll();
}

void CPenSetSelectDlg::Browse() {
  const QString path = mode == PenSetTransferMode::Export
                           ? prompts.ChooseExportFile(this, pathField->text())
                           : prompts.ChooseImportFile(this, pathField->text());
  if (!path.isEmpty()) TakeChosenFile(path);
}

void CPenSetSelectDlg::TakeChosenFile(const QString& path) {
  pathField->setText(path);
  if (mode == PenSetTransferMode::Export) {
    chosenPath = path;
    UpdateOk();
    return;
  }
  const std::string file = path.toStdString();
  if (IsCtbPath(file)) {
    FillList({QString::fromStdString(CtbPenSetName(file))});
    return;
  }
  // A FIFO or device chosen by name would hang the dialog: it lists nothing.
  std::FILE* opened = OpenRegularFileForReading(file, nullptr);
  if (!opened) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QStringList names;
  for (const std::string& name : ListFilePenSets(opened)) names << QString::fromStdString(name);
  std::fclose(opened);
  QApplication::restoreOverrideCursor();
  FillList(names);
}

void CPenSetSelectDlg::FillList(const QStringList& names) {
  list->clear();
  list->addItems(names);
  list->selectAll();
  UpdateOk();
}

void CPenSetSelectDlg::UpdateOk() {
  bool enable = !list->selectedItems().isEmpty();
  if (mode == PenSetTransferMode::Export) enable = enable && !pathField->text().isEmpty();
  okButton->setEnabled(enable);
}

void CPenSetSelectDlg::accept() {
  // The button may be stale: the field can have been emptied since it was weighed.
  if (Names().isEmpty() || Path().isEmpty()) return;
  if (mode == PenSetTransferMode::Export && Path() != chosenPath && QFileInfo::exists(Path()) &&
      !prompts.ConfirmReplaceFile(this, Path())) {
    return;
  }
  QDialog::accept();
}
