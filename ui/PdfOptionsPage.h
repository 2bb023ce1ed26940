#pragma once

#include <QString>
#include <string>

#include "ui/CommonPage.h"

class CConvertSettings;
class CIconButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// One predefined paper size: its list text, width, height and unit (0 inch, 1 millimetre).
struct PaperSize {
  const char* name;
  double width;
  double height;
  int units;
};
// The predefined sizes in list order, ended by a record without a name.
extern const PaperSize kPredefinedPaperSizes[];

// Makes every missing folder of path, from the top down. False at the first folder that cannot
// be made; the folders made until then stay.
bool CreateFolderPath(const std::string& path);

// The PDF options: paper size and unit, margin, resolution, output type, target, the layout
// paper switch and the document information. The values reach the settings only when a run
// starts (StoreSettings); the document information dialog edits the settings directly.
class CPdfOptionsPage : public CCommonPage {
  Q_OBJECT

 public:
  explicit CPdfOptionsPage(CConvertSettings& settings, QWidget* parent = nullptr);

  // Fills an empty merge target with the first drawing's folder and name and ".pdf", so that
  // the first Next goes through.
  void SuggestTarget(const QString& firstDrawing);

  bool CanLeave() override;
  void StoreSettings() override;

  // Reads the controls into the page's values; false, after telling the user why (unless tell
  // is false), when one is not acceptable.
  bool ReadControls(bool tell = true);
  // Shows the page's values in the controls.
  void WriteControls();
  // The row of the predefined paper of the size shown, or -1.
  int MatchingPaper() const;

  // Picks a predefined paper size (its list row).
  void ChoosePredefined(int row);
  void SwapWidthAndHeight();

  double Width() const { return width; }
  double Height() const { return height; }
  double Margin() const { return margin; }
  int Units() const { return units; }
  QString Target() const { return target; }

  QLineEdit* WidthEdit() const { return widthEdit; }
  QLineEdit* HeightEdit() const { return heightEdit; }
  QLineEdit* MarginEdit() const { return marginEdit; }
  QComboBox* UnitsBox() const { return unitsBox; }
  QComboBox* PredefinedBox() const { return predefinedBox; }
  QComboBox* QualityBox() const { return qualityBox; }
  QComboBox* OutputBox() const { return outputBox; }
  QLineEdit* TargetEdit() const { return targetEdit; }
  QLabel* TargetLabel() const { return targetLabel; }
  QLabel* MarginUnitLabel() const { return marginUnitLabel; }
  QCheckBox* LayoutPaperBox() const { return layoutPaperBox; }
  CIconButton* SwapButton() const { return swapButton; }
  QPushButton* InfoButton() const { return infoButton; }

 private:
  void OnUnitsChanged(int index);
  void OnOutputTypeChanged(int index);
  void OnSizeTextEdited();
  void Browse();
  void ShowDocumentInfo();
  bool CheckTarget();
  void UpdateTargetLabel();

  CConvertSettings& settings;
  double width;
  double height;
  int units;
  QString quality;
  int outputType;
  QString target;
  double margin = 0.0;
  bool useLayoutPaper;
  // What the size edits were last given, so that a number the user did not touch keeps its
  // full precision through unit changes.
  QString shownWidth, shownHeight, shownMargin;
  bool writing = false;

  QLineEdit* widthEdit;
  QLineEdit* heightEdit;
  QComboBox* unitsBox;
  QComboBox* predefinedBox;
  QComboBox* qualityBox;
  QComboBox* outputBox;
  QLabel* targetLabel;
  QLineEdit* targetEdit;
  QLineEdit* marginEdit;
  QLabel* marginUnitLabel;
  QCheckBox* layoutPaperBox;
  CIconButton* swapButton;
  QPushButton* browseButton;
  QPushButton* infoButton;
};
