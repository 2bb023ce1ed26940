#include "ui/pensets/PenSetDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "pensets/PenSetFile.h"
#include "platform/ColorPalette.h"
#include "platform/Registry.h"
#include "ui/pensets/PenSetPrompts.h"
#include "ui/pensets/PenSetTransfer.h"
#include "ui/pensets/PenSwatch.h"

namespace {

constexpr char kUnitKey[] = "Software\\KESTRIM\\tarnvelox\\PenWidthSet";
constexpr char kUnitValue[] = "unit";
constexpr double kInchesPerMm = 0.03937007874015748;
constexpr double kMmPerInch = 25.4;
// The longest name a set may have: a name of the settings store's keys, as in the registry.
constexpr int kLongestSetName = static_cast<int>(kLongestPenSetName);

enum Column { kIndexColumn, kWidthColumn, kDestinationColumn };

// The 16 × 16 swatches of the grid, drawn once per process.
const QIcon& SwatchIcon(int index) {
  static const std::vector<QIcon> icons = [] {
    std::vector<QIcon> all;
    for (int i = 0; i < 256; ++i) {
      // The same picture in selected rows: the style would otherwise tint it, and a selected
      // row is just where the user looks at the colours.
      const QPixmap swatch = QPixmap::fromImage(PenSwatchImage(i));
      QIcon icon(swatch);
      icon.addPixmap(swatch, QIcon::Selected);
      all.push_back(icon);
    }
    return all;
  }();
  return icons[std::clamp(index, 0, 255)];
}

QString ColorNameText(int index) {
  return QString::fromStdString(ColorName(index));
}

// Names in the set list are sorted without regard to case, as the list box of the settings
// sorts them; names that differ only in case keep a fixed order.
bool ListsBefore(const QString& a, const QString& b) {
  const int order = QString::compare(a, b, Qt::CaseInsensitive);
  return order != 0 ? order < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

}  // namespace

bool ParseWidthText(const QString& text, double* value) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) {
    *value = 0.0;
    return true;
  }
  static const QRegularExpression number(
      QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
  if (!number.match(trimmed).hasMatch()) return false;
  // from_chars reads without the locale's decimal comma, but takes no plus sign.
  const std::string digits = trimmed.mid(trimmed.startsWith(u'+') ? 1 : 0).toStdString();
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (error != std::errc() || end != digits.data() + digits.size()) return false;
  // A pen cannot be thinner than nothing: "-0" is 0, every other negative width is refused.
  if (parsed < 0.0) return false;
  *value = parsed == 0.0 ? 0.0 : parsed;
  return true;
}

CPenSetDlg::CPenSetDlg(CPenSet& currentSet, CRegistry& settings, IPenSetPrompts& dialogPrompts,
                       QWidget* parent)
    : QDialog(parent), current(currentSet), store(settings), prompts(dialogPrompts) {
  setWindowTitle(QStringLiteral("Pen Width Set"));

  // The set list with New and Delete.
  auto* setLabel = new QLabel(QStringLiteral("&Color sets"));
  setList = new QComboBox;
  setList->setObjectName(QStringLiteral("setList"));
  setList->setEditable(false);
  setList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setList->setMinimumContentsLength(24);
  setLabel->setBuddy(setList);
  auto* newButton = new QPushButton(QStringLiteral("&New"));
  newButton->setObjectName(QStringLiteral("newButton"));
  auto* deleteButton = new QPushButton(QStringLiteral("&Delete"));
  deleteButton->setObjectName(QStringLiteral("deleteButton"));
  auto* setRow = new QHBoxLayout;
  setRow->addWidget(setLabel);
  setRow->addWidget(setList, 1);
  setRow->addWidget(newButton);
  setRow->addWidget(deleteButton);

  // The grid of the 256 colour indices.
  grid = new QTreeWidget;
  grid->setObjectName(QStringLiteral("grid"));
  grid->setColumnCount(3);
  grid->setHeaderLabels({QStringLiteral("Color Index"), QStringLiteral("Width"),
                         QStringLiteral("Destination Color Index")});
  grid->setRootIsDecorated(false);
  grid->setUniformRowHeights(true);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setIconSize(QSize(16, 16));
  grid->setAllColumnsShowFocus(true);
  grid->header()->setSectionsMovable(false);
  grid->header()->setStretchLastSection(false);
  grid->setColumnWidth(kIndexColumn, 95);
  grid->setColumnWidth(kWidthColumn, 65);
  grid->setColumnWidth(kDestinationColumn, 160);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grid->setMinimumWidth(95 + 65 + 160 + grid->verticalScrollBar()->sizeHint().width() +
                        2 * grid->frameWidth() + 2);
  grid->setMinimumHeight(420);
  for (int i = 0; i < 256; ++i) {
    auto* item = new QTreeWidgetItem(grid);
    item->setText(kIndexColumn, QString::number(i));
    item->setIcon(kIndexColumn, SwatchIcon(i));
    item->setTextAlignment(kWidthColumn, Qt::AlignRight | Qt::AlignVCenter);
  }

  // The details of the selected rows.
  auto* colorLabel = new QLabel(QStringLiteral("Color"));
  rowBox = new CPenColorBox;
  rowBox->setObjectName(QStringLiteral("rowColor"));
  rowBox->setFixedSize(32, 16);
  rowName = new QLabel;
  rowName->setObjectName(QStringLiteral("rowName"));
  auto* rowColor = new QHBoxLayout;
  rowColor->addWidget(rowBox);
  rowColor->addWidget(rowName, 1);

  widthLabel = new QLabel(QStringLiteral("&Width"));
  widthEdit = new QLineEdit;
  widthEdit->setObjectName(QStringLiteral("widthEdit"));
  widthEdit->setMaxLength(255);
  widthEdit->installEventFilter(this);
  widthLabel->setBuddy(widthEdit);

  auto* unitGroup = new QGroupBox(QStringLiteral("Unit"));
  inchButton = new QRadioButton(QStringLiteral("&Inch"));
  inchButton->setObjectName(QStringLiteral("inchButton"));
  mmButton = new QRadioButton(QStringLiteral("&mm"));
  mmButton->setObjectName(QStringLiteral("mmButton"));
  auto* unitRow = new QHBoxLayout(unitGroup);
  unitRow->addWidget(inchButton);
  unitRow->addWidget(mmButton);
  unitRow->addStretch();

  destinationButton = new QPushButton(QStringLiteral("Des&tination Color"));
  destinationButton->setObjectName(QStringLiteral("destinationButton"));
  destinationBox = new CPenColorBox;
  destinationBox->setObjectName(QStringLiteral("destinationColor"));
  destinationBox->setFixedSize(32, 16);
  destinationBox->setCursor(Qt::PointingHandCursor);
  destinationName = new QLabel;
  destinationName->setObjectName(QStringLiteral("destinationName"));
  auto* destinationColor = new QHBoxLayout;
  destinationColor->addWidget(destinationBox);
  destinationColor->addWidget(destinationName, 1);

  auto* details = new QVBoxLayout;
  details->addWidget(colorLabel);
  details->addLayout(rowColor);
  details->addSpacing(8);
  details->addWidget(widthLabel);
  details->addWidget(widthEdit);
  details->addSpacing(8);
  details->addWidget(unitGroup);
  details->addSpacing(8);
  details->addWidget(destinationButton);
  details->addLayout(destinationColor);
  details->addStretch();

  auto* middle = new QHBoxLayout;
  middle->addWidget(grid, 1);
  middle->addLayout(details);

  // Reset, import, export, OK and Cancel.
  auto* resetButton = new QPushButton(QStringLiteral("&Reset"));
  resetButton->setObjectName(QStringLiteral("resetButton"));
  auto* importButton = new QPushButton(QStringLiteral("Im&port..."));
  importButton->setObjectName(QStringLiteral("importButton"));
  auto* exportButton = new QPushButton(QStringLiteral("&Export..."));
  exportButton->setObjectName(QStringLiteral("exportButton"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  auto* okButton = buttons->button(QDialogButtonBox::Ok);
  auto* cancelButton = buttons->button(QDialogButtonBox::Cancel);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(resetButton);
  bottom->addWidget(importButton);
  bottom->addWidget(exportButton);
  bottom->addStretch();
  bottom->addWidget(buttons);

  // Only OK answers Enter: Enter in the width field thus applies the width (see accept).
  for (QPushButton* button : {newButton, deleteButton, destinationButton, resetButton, importButton,
                              exportButton, cancelButton}) {
    button->setAutoDefault(false);
  }
  okButton->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(setRow);
  layout->addLayout(middle, 1);
  layout->addLayout(bottom);

  setTabOrder(setList, newButton);
  setTabOrder(newButton, deleteButton);
  setTabOrder(deleteButton, grid);
  setTabOrder(grid, widthEdit);
  setTabOrder(widthEdit, inchButton);
  setTabOrder(inchButton, mmButton);
  setTabOrder(mmButton, destinationButton);
  setTabOrder(destinationButton, resetButton);
  setTabOrder(resetButton, importButton);
  setTabOrder(importButton, exportButton);
  setTabOrder(exportButton, okButton);
  setTabOrder(okButton, cancelButton);

  // Opening: the display unit, the current set's table, the set list.
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  const bool millimetres = store.QueryValue(kUnitKey, kUnitValue, &type, &data) &&
                           type == RegType::Dword && data.size() == 4 &&
                           (data[0] | data[1] | data[2] | data[3]) != 0;
  (millimetres ? mmButton : inchButton)->setChecked(true);
  working = current.entries;
  FillGrid();
  // A set never loaded has no name; it is stored as "Default".
  editingName =
      current.name.empty() ? QStringLiteral("Default") : QString::fromStdString(current.name);
  FillSetList(editingName);
  modified = false;

  connect(setList, &QComboBox::currentIndexChanged, this, &CPenSetDlg::SetChosen);
  connect(newButton, &QPushButton::clicked, this, &CPenSetDlg::NewSet);
  connect(deleteButton, &QPushButton::clicked, this, &CPenSetDlg::DeleteSet);
  connect(grid, &QTreeWidget::itemSelectionChanged, this, &CPenSetDlg::RowsSelected);
  connect(mmButton, &QRadioButton::toggled, this, &CPenSetDlg::UnitChanged);
  connect(destinationButton, &QPushButton::clicked, this, &CPenSetDlg::ChooseDestination);
  connect(destinationBox, &CPenColorBox::clicked, this, &CPenSetDlg::ChooseDestination);
  connect(resetButton, &QPushButton::clicked, this, &CPenSetDlg::ResetSet);
  connect(importButton, &QPushButton::clicked, this, &CPenSetDlg::ImportSets);
  connect(exportButton, &QPushButton::clicked, this, &CPenSetDlg::ExportSets);
  connect(buttons, &QDialogButtonBox::accepted, this, &CPenSetDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CPenSetDlg::reject);

  grid->setFocus();
}

CPenSetDlg::Unit CPenSetDlg::DisplayUnit() const {
  return mmButton->isChecked() ? Unit::Millimetre : Unit::Inch;
}

QString CPenSetDlg::WidthText(double inches) const {
  const double shown = DisplayUnit() == Unit::Millimetre ? inches * kMmPerInch : inches;
  return QString::number(shown, 'f', 4);
}

void CPenSetDlg::FillGrid() {
  for (int i = 0; i < 256; ++i) {
    QTreeWidgetItem* item = grid->topLevelItem(i);
    item->setText(kWidthColumn, WidthText(working[i].width));
    item->setText(kDestinationColumn, QString::number(working[i].destColor));
    item->setIcon(kDestinationColumn, SwatchIcon(working[i].destColor));
  }
  // A refilled grid has no selection, and what was typed for the old one is dropped.
  widthEdit->setModified(false);
  grid->clearSelection();
  RowsSelected();
}

void CPenSetDlg::FillSetList(const QString& selected) {
  QSignalBlocker quiet(setList);
  setList->clear();
  for (const std::string& name : ListPenSets(store)) AddSetName(QString::fromStdString(name));
  SelectSetQuietly(AddSetName(selected));
}

int CPenSetDlg::AddSetName(const QString& name) {
  // A name the list holds already, in any case, is not added twice: it names the same set.
  int at = 0;
  for (; at < setList->count(); ++at) {
    if (QString::compare(setList->itemText(at), name, Qt::CaseInsensitive) == 0) return at;
    if (ListsBefore(name, setList->itemText(at))) break;
  }
  QSignalBlocker quiet(setList);
  setList->insertItem(at, name);
  return at;
}

void CPenSetDlg::SelectSetQuietly(int index) {
  QSignalBlocker quiet(setList);
  setList->setCurrentIndex(index);
}

std::vector<int> CPenSetDlg::SelectedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < 256; ++i) {
    if (grid->topLevelItem(i)->isSelected()) rows.push_back(i);
  }
  return rows;
}

void CPenSetDlg::ShowDestination(int index) {
  currentDestination = index;
  destinationBox->SetColor(PaletteColor(index));
  destinationName->setText(ColorNameText(index));
}

void CPenSetDlg::RowsSelected() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() == 1) {
    currentRow = rows.front();
    rowBox->SetColor(PaletteColor(currentRow));
    rowName->setText(ColorNameText(currentRow));
    widthEdit->setText(WidthText(working[currentRow].width));
    ShowDestination(working[currentRow].destColor);
  } else if (rows.size() > 1) {
    rowName->setText(QStringLiteral("Color varies"));
  } else {
    currentRow = -1;
  }
  widthEdit->setModified(false);
  const bool any = !rows.empty();
  widthLabel->setEnabled(any);
  widthEdit->setEnabled(any);
  destinationButton->setEnabled(any);
  destinationBox->setEnabled(any);
}

bool CPenSetDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widthEdit && event->type() == QEvent::FocusOut) {
    // Focus that leaves for a menu or another window comes back to the field: not a change.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) ApplyWidth();
  }
  return QDialog::eventFilter(watched, event);
}

bool CPenSetDlg::ApplyWidth() {
  // Only a width the user typed is applied: the text shown is rounded to four decimals, and
  // taking it back would change the stored width by merely passing through the field.
  if (!widthEdit->isModified()) return false;
  widthEdit->setModified(false);
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return false;
  const QString text = widthEdit->text().left(255);
  widthEdit->selectAll();
  double value = 0.0;
  if (!ParseWidthText(text, &value)) {
    widthEdit->setText(QStringLiteral("0"));
    widthEdit->selectAll();
    prompts.ShowMessage(this, QStringLiteral("Invalid number!"));
    return true;
  }
  const double inches = DisplayUnit() == Unit::Millimetre ? value * kInchesPerMm : value;
  for (int row : rows) {
    working[row].width = inches;
    grid->topLevelItem(row)->setText(kWidthColumn, text.trimmed());
  }
  modified = true;
  return true;
}

void CPenSetDlg::ChooseDestination() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  // Before any single row was selected there is no destination shown: the picker starts at
  // the first selected row's.
  int initial = currentDestination;
  if (initial < 0 || initial > 255)
    initial = std::clamp<int>(working[rows.front()].destColor, 0, 255);
  const int chosen = prompts.PickColorIndex(this, initial);
  if (chosen < 0 || chosen > 255) return;
  ShowDestination(chosen);
  for (int row : rows) {
    working[row].destColor = static_cast<std::int16_t>(chosen);
    QTreeWidgetItem* item = grid->topLevelItem(row);
    item->setText(kDestinationColumn, QString::number(chosen));
    item->setIcon(kDestinationColumn, SwatchIcon(chosen));
  }
  modified = true;
}

void CPenSetDlg::UnitChanged() {
  for (int i = 0; i < 256; ++i) {
    grid->topLevelItem(i)->setText(kWidthColumn, WidthText(working[i].width));
  }
  if (currentRow >= 0) {
    widthEdit->setText(WidthText(working[currentRow].width));
    widthEdit->setModified(false);
  }
}

void CPenSetDlg::AskToSave() {
  if (!modified) return;
  modified = false;
  if (prompts.AskYesNo(this,
                       QStringLiteral("The pen sets have been modified, do you wanto to save it?"),
                       false)) {
    current.entries = working;
    SavePenSet(current, editingName.toStdString(), store);
  }
}

void CPenSetDlg::SetChosen(int index) {
  if (index < 0) return;
  AskToSave();
  SwitchToSet(setList->itemText(index));
}

void CPenSetDlg::SwitchToSet(const QString& name) {
  editingName = name;
  LoadPenSet(editingName.toStdString(), working, store);
  current.entries = working;
  current.name = editingName.toStdString();
  FillGrid();
}

void CPenSetDlg::ResetSet() {
  for (int i = 0; i < 256; ++i) working[i] = PenEntry{0.0, static_cast<std::int16_t>(i)};
  FillGrid();
  modified = true;
}

bool CPenSetDlg::CheckSetName(const QString& name) {
  // The name is the name of a key in the settings store, which has no room for these.
  if (name.contains(u'\\') || name.contains(u'\n') || name.contains(u'\r') ||
      name.contains(QChar(0))) {
    prompts.ShowMessage(this,
                        QStringLiteral("A pen set name cannot contain \"\\\" or a line break!"));
    return false;
  }
  if (name.toStdString().size() > static_cast<std::size_t>(kLongestSetName)) {
    prompts.ShowMessage(
        this,
        QStringLiteral("A pen set name cannot be longer than %1 characters!").arg(kLongestSetName));
    return false;
  }
  // The rest of what the store refuses (a tab or another control character): saving the set
  // would fail later, with the name already in the list.
  std::string why;
  if (!CheckPenSetName(name.toStdString(), &why)) {
    prompts.ShowMessage(
        this,
        QStringLiteral("This pen set name cannot be used: %1!").arg(QString::fromStdString(why)));
    return false;
  }
  return true;
}

void CPenSetDlg::NewSet() {
  AskToSave();
  QString name;
  if (!prompts.AskText(this, QStringLiteral("Input"), QStringLiteral("New Color Sets"), &name) ||
      name.isEmpty() || !CheckSetName(name)) {
    return;
  }
  const int index = AddSetName(name);
  SelectSetQuietly(index);
  editingName = setList->itemText(index);
  // The new set starts as the table on screen, changes not yet stored included.
  current.entries = working;
  SavePenSet(current, editingName.toStdString(), store);
  modified = false;
}

void CPenSetDlg::DeleteSet() {
  if (setList->count() <= 1) {
    prompts.ShowMessage(
        this, QStringLiteral("there must be at least one sets!\nCan't delete this sets!"));
    return;
  }
  if (!prompts.AskYesNo(this, QStringLiteral("Are you sure to delete this sets?"), true)) return;
  DeletePenSet(editingName.toStdString(), store);
  {
    QSignalBlocker quiet(setList);
    setList->removeItem(setList->currentIndex());
  }
  SelectSetQuietly(0);
  // Changes to the deleted set go with it: saving them would bring back the set just deleted.
  modified = false;
  SwitchToSet(setList->itemText(0));
}

void CPenSetDlg::ExportSets() {
  PenSetSelection selection;
  if (!prompts.SelectPenSets(this, PenSetTransferMode::Export, &selection) ||
      selection.names.isEmpty()) {
    return;
  }
  std::vector<std::string> names;
  for (const QString& name : selection.names) names.push_back(name.toStdString());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool written = ExportPenSetsToFile(selection.path.toStdString(), names, store);
  QApplication::restoreOverrideCursor();
  if (!written) {
    prompts.ShowMessage(this, QStringLiteral("Can not write the file %1!").arg(selection.path));
  }
}

void CPenSetDlg::ImportSets() {
  AskToSave();
  PenSetSelection selection;
  if (!prompts.SelectPenSets(this, PenSetTransferMode::Import, &selection) ||
      selection.names.isEmpty()) {
    return;
  }
  if (IsCtbPath(selection.path.toStdString())) {
    ImportCtb(selection.path);
    return;
  }
  std::vector<std::string> names;
  for (const QString& name : selection.names) names.push_back(name.toStdString());
  std::vector<std::string> refused;
  const PenSetImportResult result = ImportPenSetsFromFile(
      selection.path.toStdString(), names, store,
      [this](const std::string& name) {
        return prompts.AskOverwrite(this, QString::fromStdString(name));
      },
      nullptr, &refused);
  if (result == PenSetImportResult::FileNotOpened) {
    prompts.ShowMessage(this, QStringLiteral("Can not read the file %1!").arg(selection.path));
    return;
  }
  if (result == PenSetImportResult::StoreNotWritten) {
    prompts.ShowMessage(this, QStringLiteral("Can not write the settings store %1!\nThe pen sets "
                                             "were not imported.")
                                  .arg(QString::fromStdString(store.File().string())));
    return;
  }
  for (const std::string& name : refused) {
    std::string why;
    CheckPenSetName(name, &why);
    prompts.ShowMessage(this, QStringLiteral("The pen set \"%1\" was not imported: %2.")
                                  .arg(QString::fromStdString(PenSetNameForMessage(name)),
                                       QString::fromStdString(why)));
  }
  // The list again from the store, on the set being edited, whose stored table may just have
  // been replaced.
  FillSetList(editingName);
  SwitchToSet(setList->currentText());
  modified = false;
}

void CPenSetDlg::ImportCtb(const QString& path) {
  const std::string file = path.toStdString();
  std::array<PenEntry, 256> table;
  if (!BuildPenTableFromCtb(file, table)) {
    prompts.ShowMessage(this, QStringLiteral("Can not read the plot style table %1!").arg(path));
    return;
  }
  const QString name = QString::fromStdString(CtbPenSetName(file));
  if (!CheckSetName(name)) return;
  working = table;
  mmButton->setChecked(true);
  const int index = AddSetName(name);
  SelectSetQuietly(index);
  editingName = setList->itemText(index);
  current.entries = working;
  if (!SavePenSet(current, editingName.toStdString(), store)) {
    prompts.ShowMessage(this, QStringLiteral("Can not write the settings store %1!")
                                  .arg(QString::fromStdString(store.File().string())));
  }
  FillGrid();
  modified = false;
}

void CPenSetDlg::accept() {
  // Enter in the width field applies the width typed and keeps the dialog open.
  if (focusWidget() == widthEdit && widthEdit->isModified()) {
    ApplyWidth();
    return;
  }
  current.entries = working;
  if (store.CreateKey(kUnitKey)) {
    store.SetDword(kUnitKey, kUnitValue, DisplayUnit() == Unit::Millimetre ? 1 : 0);
  }
  SavePenSet(current, setList->currentText().toStdString(), store);
  QDialog::accept();
}

void CPenSetDlg::reject() {
  // What was typed but not applied goes with the working table, without a message about it.
  widthEdit->setModified(false);
  QDialog::reject();
}

void ShowPenSetEditor(QWidget* parent) {
  CQtPenSetPrompts prompts(CRegistry::User());
  CPenSetDlg dialog(CurrentPenSet(), CRegistry::User(), prompts, parent);
  dialog.exec();
}
