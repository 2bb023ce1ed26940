#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <vector>

#include "pensets/PenSet.h"

class CPenColorBox;
class CRegistry;
class IPenSetPrompts;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

// "Pen Width Set": the editor of the stored pen sets. It shows one set at a time in a grid of
// the 256 colour indices with their widths and destination colours, lets the user change any
// group of rows, create, delete, reset, import and export sets, and choose whether widths are
// shown in inches or millimetres (they are always held in inches).
//
// The dialog edits a working copy of the current pen set's table. Switching sets, "New",
// "Delete" and imports make the set they end on the current pen set and may store tables on
// the way (after asking about unsaved changes); OK makes the table shown the current pen set
// and stores it under the selected name; Cancel only drops the working copy.
class CPenSetDlg : public QDialog {
  Q_OBJECT

 public:
  enum class Unit { Inch, Millimetre };

  // Every question, message and file choice goes through prompts.
  CPenSetDlg(CPenSet& current, CRegistry& store, IPenSetPrompts& prompts,
             QWidget* parent = nullptr);

  const std::array<PenEntry, 256>& WorkingTable() const { return working; }
  const QString& EditingName() const { return editingName; }
  bool IsModified() const { return modified; }
  Unit DisplayUnit() const;
  int CurrentRow() const { return currentRow; }

  // The width text a row shows for a width in inches: four decimals in the display unit.
  QString WidthText(double inches) const;

  void accept() override;
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillGrid();
  void FillSetList(const QString& selected);
  int AddSetName(const QString& name);
  void SelectSetQuietly(int index);
  std::vector<int> SelectedRows() const;
  void ShowDestination(int index);
  void RowsSelected();
  bool ApplyWidth();
  void ChooseDestination();
  void UnitChanged();
  void AskToSave();
  void SetChosen(int index);
  void SwitchToSet(const QString& name);
  void ResetSet();
  void NewSet();
  void DeleteSet();
  void ExportSets();
  void ImportSets();
  void ImportCtb(const QString& path);
  bool CheckSetName(const QString& name);

  CPenSet& current;
  CRegistry& store;
  IPenSetPrompts& prompts;

  std::array<PenEntry, 256> working;
  QString editingName;
  bool modified = false;
  int currentRow = -1;
  int currentDestination = -1;

  QComboBox* setList = nullptr;
  QTreeWidget* grid = nullptr;
  CPenColorBox* rowBox = nullptr;
  QLabel* rowName = nullptr;
  QLabel* widthLabel = nullptr;
  QLineEdit* widthEdit = nullptr;
  QRadioButton* inchButton = nullptr;
  QRadioButton* mmButton = nullptr;
  QPushButton* destinationButton = nullptr;
  CPenColorBox* destinationBox = nullptr;
  QLabel* destinationName = nullptr;
};

// Runs the editor modally on the current pen set and the user's settings store, with the
// desktop's message boxes and file dialogs.
void ShowPenSetEditor(QWidget* parent);

// Reads a width as typed: an optional sign, digits with an optional decimal point and an
// optional exponent, white space around it; an empty text is 0. False for anything else, and
// for a negative width or one too large for a double.
bool ParseWidthText(const QString& text, double* value);
