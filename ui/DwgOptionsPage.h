#pragma once

#include <QStringList>
#include <functional>

#include "ui/CommonPage.h"

class CConvertSettings;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

// The drawing options: which layouts become pages, what is fitted to the page, colours, raster
// images, layers, pen sets and the folders in which drawings find fonts, blocks and images.
// The values reach the settings only when a run starts (StoreSettings).
class CDwgOptionsPage : public CCommonPage {
  Q_OBJECT

 public:
  explicit CDwgOptionsPage(CConvertSettings& settings, QWidget* parent = nullptr);

  bool CanLeave() override;
  void StoreSettings() override;

  // Reads the controls; false, after telling the user (unless tell is false), when the scale
  // is not acceptable.
  bool ReadControls(bool tell = true);
  // Appends a folder to the search paths (a folder may be listed twice).
  void AddSearchPath(const QString& folder);
  // Removes the selected search paths.
  void RemoveSelectedPaths();
  QStringList SearchPaths() const;

  // What "..." opens: the pen-set editor unless a test installs something else.
  static void SetPenSetEditor(std::function<void(QWidget*)> open);

  QComboBox* LayoutBox() const { return layoutBox; }
  QComboBox* ColorsBox() const { return colorsBox; }
  QComboBox* AreaBox() const { return areaBox; }
  QLineEdit* ScaleEdit() const { return scaleEdit; }
  QCheckBox* RasterBox() const { return rasterBox; }
  QCheckBox* LayerBox() const { return layerBox; }
  QCheckBox* PenSetsBox() const { return penSetsBox; }
  QCheckBox* ExactWeightsBox() const { return exactWeightsBox; }
  QPushButton* PenSetButton() const { return penSetButton; }
  QListWidget* PathList() const { return pathList; }
  QPushButton* AddButton() const { return addButton; }
  QPushButton* RemoveButton() const { return removeButton; }

 private:
  void UpdateRemoveButton();
  void BrowseSearchPath();

  CConvertSettings& settings;
  double scale;
  QString shownScale;

  QComboBox* layoutBox;
  QComboBox* colorsBox;
  QComboBox* areaBox;
  QLineEdit* scaleEdit;
  QCheckBox* rasterBox;
  QCheckBox* layerBox;
  QCheckBox* penSetsBox;
  QCheckBox* exactWeightsBox;
  QPushButton* penSetButton;
  QListWidget* pathList;
  QPushButton* addButton;
  QPushButton* removeButton;
};
