#pragma once

#include <QDialog>

class CColorPaletteGrid;
class CPenColorBox;
class QLineEdit;

// "Select Color": picks one colour index from the standard colours 0 … 9, the gray shades
// 250 … 255 and the two grids of the full palette. Opens with the initial index chosen.
class CColorPickerDlg : public QDialog {
  Q_OBJECT

 public:
  // An initial index outside 0 … 255 opens with index 0 chosen.
  explicit CColorPickerDlg(int initial, QWidget* parent = nullptr);

  int ChosenIndex() const { return chosen; }
  void Choose(int index);

  CColorPaletteGrid* UpperGrid() const { return upperGrid; }
  CColorPaletteGrid* LowerGrid() const { return lowerGrid; }
  // The swatch of a standard colour or gray shade; null for other indices.
  CPenColorBox* Swatch(int index) const;

 private:
  int chosen = 0;
  CColorPaletteGrid* upperGrid = nullptr;
  CColorPaletteGrid* lowerGrid = nullptr;
  QLineEdit* nameField = nullptr;
  CPenColorBox* chosenBox = nullptr;
  CPenColorBox* swatches[16] = {};
};

// Runs the picker modally: the index chosen, or the initial index when it is cancelled (0 for
// an initial index outside 0 … 255).
int PickColorIndex(QWidget* parent, int initial);
