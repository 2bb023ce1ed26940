#include "ui/DwgOptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "convert/ConvertSettings.h"
#include "ui/MessageBoxes.h"
#include "ui/pensets/PenSetDlg.h"

namespace {

constexpr double kSmallestScale = 0.001;

std::function<void(QWidget*)>& PenSetEditor() {
  static std::function<void(QWidget*)> open = ShowPenSetEditor;
  return open;
}

int Index(std::int32_t value, int count) {
  return value >= 0 && value < count ? value : 0;
}

}  // namespace

void CDwgOptionsPage::SetPenSetEditor(std::function<void(QWidget*)> open) {
  PenSetEditor() = std::move(open);
}

CDwgOptionsPage::CDwgOptionsPage(CConvertSettings& convertSettings, QWidget* parent)
    : CCommonPage(parent), settings(convertSettings), scale(settings.Scale) {
  QVBoxLayout* body = MakeStepLayout(tr("Set the parameters of drawing files  - [2 / 4]"));

  layoutBox = new QComboBox(this);
  layoutBox->addItems({tr("Model space only"), tr("All layouts"), tr("Last active layout"),
                       tr("All paper spaces")});
  layoutBox->setCurrentIndex(Index(static_cast<std::int32_t>(settings.Layout), 4));
  colorsBox = new QComboBox(this);
  colorsBox->addItems({tr("True colors"), tr("Gray color"), tr("Black/White")});
  colorsBox->setCurrentIndex(Index(static_cast<std::int32_t>(settings.Colors), 3));
  areaBox = new QComboBox(this);
  areaBox->addItems({tr("Last saved view"), tr("Zoom extent"), tr("Layout")});
  areaBox->setCurrentIndex(Index(static_cast<std::int32_t>(settings.Area), 3));
  scaleEdit = new QLineEdit(this);
  scaleEdit->setMaximumWidth(110);
  shownScale = QString::number(scale, 'g', 10);
  scaleEdit->setText(shownScale);
  rasterBox = new QCheckBox(tr("Export raster i&mage"), this);
  rasterBox->setChecked(settings.ExportRaster != 0);
  layerBox = new QCheckBox(tr("Export DWG layer"), this);
  layerBox->setChecked(settings.ExportLayer != 0);
  penSetsBox = new QCheckBox(tr("Use pen sets"), this);
  penSetsBox->setChecked(settings.UsePenSets != 0);
  exactWeightsBox = new QCheckBox(tr("E&xact line weights"), this);
  exactWeightsBox->setChecked(settings.ExactLineWeights != 0);
  exactWeightsBox->setToolTip(
      tr("Lineweights as the drawing gives them (0.25 mm is 0.709 points) "
         "rather than rounded to whole points"));
  penSetButton = new QPushButton(tr("..."), this);
  penSetButton->setFixedWidth(32);
  penSetButton->setToolTip(tr("Edit the pen sets"));

  auto label = [this](const QString& text, QWidget* buddy) { return BuddyLabel(text, buddy); };
  QGridLayout* grid = MakeOptionGrid();
  grid->addWidget(label(tr("&Layout"), layoutBox), 0, 0);
  grid->addWidget(layoutBox, 0, 1);
  grid->addWidget(label(tr("&Colors"), colorsBox), 1, 0);
  grid->addWidget(colorsBox, 1, 1);
  grid->addWidget(label(tr("&Export Area"), areaBox), 2, 0);
  grid->addWidget(areaBox, 2, 1);
  grid->addWidget(label(tr("Scale(Zoom ext)"), scaleEdit), 3, 0);
  grid->addWidget(scaleEdit, 3, 1, Qt::AlignLeft);
  auto* checks = new QVBoxLayout;
  checks->setSpacing(10);
  checks->addWidget(rasterBox);
  checks->addWidget(layerBox);
  checks->addWidget(exactWeightsBox);
  auto* penRow = new QHBoxLayout;
  penRow->addWidget(penSetsBox);
  penRow->addWidget(penSetButton);
  penRow->addStretch(1);
  checks->addLayout(penRow);
  checks->addStretch(1);
  grid->addLayout(checks, 0, 3, 4, 1);
  grid->setColumnMinimumWidth(2, 24);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  body->addLayout(grid);

  auto* group = new QGroupBox(tr("Font, xref block and reater image search paths"), this);
  pathList = new QListWidget(group);
  pathList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (const std::string& path : settings.SearchPaths) {
    pathList->addItem(QString::fromStdString(path));
  }
  addButton = new QPushButton(tr("&Add..."), group);
  removeButton = new QPushButton(tr("&Remove"), group);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(addButton);
  buttons->addWidget(removeButton);
  buttons->addStretch(1);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(pathList, 1);
  groupLayout->addLayout(buttons);
  body->addWidget(group, 1);

  setTabOrder(layoutBox, colorsBox);
  setTabOrder(colorsBox, areaBox);
  setTabOrder(areaBox, scaleEdit);
  setTabOrder(scaleEdit, rasterBox);
  setTabOrder(rasterBox, layerBox);
  setTabOrder(layerBox, exactWeightsBox);
  setTabOrder(exactWeightsBox, penSetsBox);
  setTabOrder(penSetsBox, penSetButton);
  setTabOrder(penSetButton, pathList);
  setTabOrder(pathList, addButton);
  setTabOrder(addButton, removeButton);

  UpdateRemoveButton();
  connect(pathList, &QListWidget::itemSelectionChanged, this, &CDwgOptionsPage::UpdateRemoveButton);
  connect(addButton, &QPushButton::clicked, this, &CDwgOptionsPage::BrowseSearchPath);
  connect(removeButton, &QPushButton::clicked, this, &CDwgOptionsPage::RemoveSelectedPaths);
  connect(penSetButton, &QPushButton::clicked, this, [this] {
    if (PenSetEditor()) PenSetEditor()(this);
  });
}

bool CDwgOptionsPage::ReadControls(bool tell) {
  double value = scale;
  if (scaleEdit->text() != shownScale) {
    QString text = scaleEdit->text().trimmed();
    text.replace(',', '.');
    bool ok = false;
    value = text.toDouble(&ok);
    if (!ok) {
      if (tell) MessageBoxes().ShowMessage(this, tr("Please enter a number."));
      scaleEdit->setFocus();
      scaleEdit->selectAll();
      return false;
    }
  }
  if (!(value >= kSmallestScale)) {
    if (tell) MessageBoxes().ShowMessage(this, tr("Please enter a scale of at least 0.001."));
    scaleEdit->setFocus();
    scaleEdit->selectAll();
    return false;
  }
  scale = value;
  shownScale = scaleEdit->text();
  return true;
}

bool CDwgOptionsPage::CanLeave() {
  return ReadControls();
}

void CDwgOptionsPage::StoreSettings() {
  // The scale was checked when the user left the page; one still refused keeps the settings'.
  const bool scaleRead = ReadControls(false);
  settings.Layout = static_cast<LayoutChoice>(layoutBox->currentIndex());
  settings.Colors = static_cast<ColorMode>(colorsBox->currentIndex());
  settings.Area = static_cast<AreaChoice>(areaBox->currentIndex());
  settings.ExportRaster = rasterBox->isChecked() ? 1 : 0;
  settings.UsePenSets = penSetsBox->isChecked() ? 1 : 0;
  settings.ExportLayer = layerBox->isChecked() ? 1 : 0;
  settings.ExactLineWeights = exactWeightsBox->isChecked() ? 1 : 0;
  if (scaleRead) settings.Scale = scale;
  settings.SearchPaths.clear();
  for (const QString& path : SearchPaths()) settings.SearchPaths.push_back(path.toStdString());
}

void CDwgOptionsPage::AddSearchPath(const QString& folder) {
  pathList->addItem(folder);
  UpdateRemoveButton();
}

void CDwgOptionsPage::RemoveSelectedPaths() {
  for (int row = pathList->count() - 1; row >= 0; --row) {
    if (pathList->item(row)->isSelected()) delete pathList->takeItem(row);
  }
  UpdateRemoveButton();
}

QStringList CDwgOptionsPage::SearchPaths() const {
  QStringList paths;
  for (int row = 0; row < pathList->count(); ++row) paths << pathList->item(row)->text();
  return paths;
}

void CDwgOptionsPage::UpdateRemoveButton() {
  removeButton->setEnabled(!pathList->selectedItems().isEmpty());
}

void CDwgOptionsPage::BrowseSearchPath() {
  const QString folder = QFileDialog::getExistingDirectory(this, tr("Select a search path"));
  if (!folder.isEmpty()) AddSearchPath(folder);
}
