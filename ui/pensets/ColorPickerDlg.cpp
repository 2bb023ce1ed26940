#include "ui/pensets/ColorPickerDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/ColorPalette.h"
#include "ui/pensets/ColorPaletteGrid.h"
#include "ui/pensets/PenSwatch.h"

namespace {

constexpr int kSwatchSize = 20;
// The standard colours and the gray shades, in the order of the swatches.
constexpr int kSwatchIndices[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252, 253, 254, 255};

int ValidIndex(int index) {
  return index >= 0 && index <= 255 ? index : 0;
}

}  // namespace

CColorPickerDlg::CColorPickerDlg(int initial, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Select Color"));

  auto swatchGroup = [&](const QString& title, int first, int count) {
    auto* group = new QGroupBox(title);
    auto* row = new QHBoxLayout(group);
    row->setSpacing(4);
    for (int k = first; k < first + count; ++k) {
      auto* box = new CPenColorBox;
      box->setFixedSize(kSwatchSize, kSwatchSize);
      box->SetColor(PaletteColor(kSwatchIndices[k]));
      box->setToolTip(QString::fromStdString(ColorName(kSwatchIndices[k])));
      connect(box, &CPenColorBox::clicked, this, [this, k] { Choose(kSwatchIndices[k]); });
      swatches[k] = box;
      row->addWidget(box);
    }
    row->addStretch();
    return group;
  };

  auto* top = new QHBoxLayout;
  top->addWidget(swatchGroup(QStringLiteral("Standard Colors"), 0, 10), 10);
  top->addWidget(swatchGroup(QStringLiteral("Gray Shades"), 10, 6), 6);

  auto* paletteGroup = new QGroupBox(QStringLiteral("Full Color Pallete"));
  auto* grids = new QVBoxLayout(paletteGroup);
  grids->setSpacing(2);
  upperGrid = new CColorPaletteGrid(CColorPaletteGrid::Half::Upper);
  lowerGrid = new CColorPaletteGrid(CColorPaletteGrid::Half::Lower);
  upperGrid->setObjectName(QStringLiteral("upperGrid"));
  lowerGrid->setObjectName(QStringLiteral("lowerGrid"));
  grids->addWidget(upperGrid);
  grids->addWidget(lowerGrid);
  connect(upperGrid, &CColorPaletteGrid::colorChosen, this, &CColorPickerDlg::Choose);
  connect(lowerGrid, &CColorPaletteGrid::colorChosen, this, &CColorPickerDlg::Choose);

  auto* chosenRow = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Select color"));
  nameField = new QLineEdit;
  nameField->setObjectName(QStringLiteral("colorName"));
  nameField->setReadOnly(true);
  nameField->setFocusPolicy(Qt::NoFocus);
  label->setBuddy(nameField);
  chosenBox = new CPenColorBox;
  chosenBox->setObjectName(QStringLiteral("chosenColor"));
  chosenBox->setFixedSize(2 * kSwatchSize, kSwatchSize);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  chosenRow->addWidget(label);
  chosenRow->addWidget(nameField, 1);
  chosenRow->addWidget(chosenBox);
  chosenRow->addSpacing(12);
  chosenRow->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(paletteGroup);
  layout->addLayout(chosenRow);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  Choose(ValidIndex(initial));
  buttons->button(QDialogButtonBox::Ok)->setFocus();
}

void CColorPickerDlg::Choose(int index) {
  chosen = ValidIndex(index);
  nameField->setText(QString::fromStdString(ColorName(chosen)));
  chosenBox->SetColor(PaletteColor(chosen));
}

CPenColorBox* CColorPickerDlg::Swatch(int index) const {
  for (int k = 0; k < 16; ++k) {
    if (kSwatchIndices[k] == index) return swatches[k];
  }
  return nullptr;
}

int PickColorIndex(QWidget* parent, int initial) {
  CColorPickerDlg dialog(initial, parent);
  return dialog.exec() == QDialog::Accepted ? dialog.ChosenIndex() : ValidIndex(initial);
}
