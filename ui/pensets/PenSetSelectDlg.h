#pragma once

#include <QDialog>
#include <QStringList>

#include "ui/pensets/PenSetPrompts.h"

class CRegistry;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Chooses the pen sets to export or import and the file. In export mode the list holds the
// stored sets; in import mode the sets of the file chosen with "...", or the one set a plot
// style table (".ctb") becomes. Every entry starts selected.
//
// OK is weighed again whenever the selection changes or a file is chosen with "...": it needs
// a selected set and, in export mode, a file path. Typing into the file field alone does not
// enable it, so an export normally goes to a file the save dialog has asked about replacing;
// a typed path that names an existing file is asked about at OK.
class CPenSetSelectDlg : public QDialog {
  Q_OBJECT

 public:
  CPenSetSelectDlg(PenSetTransferMode mode, CRegistry& store, IPenSetPrompts& prompts,
                   QWidget* parent = nullptr);

  // The file field's text and the selected names, top to bottom, as OK left them.
  QString Path() const;
  QStringList Names() const;

  // What "..." does with a path the file dialog gave.
  void TakeChosenFile(const QString& path);
  void SelectAll();

  void accept() override;

 private:
  void Browse();
  void FillList(const QStringList& names);
  void UpdateOk();

  PenSetTransferMode mode;
  IPenSetPrompts& prompts;
  // The path the save dialog last gave, which it has already asked about replacing.
  QString chosenPath;
  QListWidget* list = nullptr;
  QLineEdit* pathField = nullptr;
  QPushButton* okButton = nullptr;
};
