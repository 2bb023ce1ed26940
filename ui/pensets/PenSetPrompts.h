#pragma once

#include <QString>
#include <QStringList>

#include "ui/pensets/PenSetTransfer.h"

class QWidget;

// Which way the pen-set selection dialog copies sets.
enum class PenSetTransferMode { Export, Import };

// What the selection dialog hands back: the file and the names selected, in list order.
struct PenSetSelection {
  QString path;
  QStringList names;
};

// Every question, message and file choice of the pen-set editor and its selection dialog goes
// through this interface, so that the editor's flows run the same with the desktop's windows
// (CQtPenSetPrompts) and with answers given by a test.
class IPenSetPrompts {
 public:
  virtual ~IPenSetPrompts() = default;

  // A message with an OK button only ("Invalid number!", the refusal to delete the last set).
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // A question with Yes and No; defaultNo makes No the button that Enter presses.
  virtual bool AskYesNo(QWidget* parent, const QString& text, bool defaultNo) = 0;
  // "The pen sets "name" already exists, overwrite it?" with its five answers.
  virtual OverwriteAnswer AskOverwrite(QWidget* parent, const QString& name) = 0;
  // A line of text; false when the user cancels.
  virtual bool AskText(QWidget* parent, const QString& caption, const QString& prompt,
                       QString* text) = 0;
  // The colour picker: the index chosen, or initial when it is cancelled.
  virtual int PickColorIndex(QWidget* parent, int initial) = 0;
  // The save dialog for a pen-set file (asking before it replaces one); empty when cancelled.
  virtual QString ChooseExportFile(QWidget* parent, const QString& start) = 0;
  // The open dialog for a pen-set file or a plot style table; empty when cancelled.
  virtual QString ChooseImportFile(QWidget* parent, const QString& start) = 0;
  // Asks before an export replaces a file the user typed rather than chose.
  virtual bool ConfirmReplaceFile(QWidget* parent, const QString& path) = 0;
  // The selection dialog; false unless it ends with OK.
  virtual bool SelectPenSets(QWidget* parent, PenSetTransferMode mode,
                             PenSetSelection* selection) = 0;
};

class CRegistry;

// The prompts as message boxes, file dialogs and the program's own dialogs.
class CQtPenSetPrompts : public IPenSetPrompts {
 public:
  // The selection dialog lists the sets stored in store.
  explicit CQtPenSetPrompts(CRegistry& store);

  void ShowMessage(QWidget* parent, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& text, bool defaultNo) override;
  OverwriteAnswer AskOverwrite(QWidget* parent, const QString& name) override;
  bool AskText(QWidget* parent, const QString& caption, const QString& prompt,
               QString* text) override;
  int PickColorIndex(QWidget* parent, int initial) override;
  QString ChooseExportFile(QWidget* parent, const QString& start) override;
  QString ChooseImportFile(QWidget* parent, const QString& start) override;
  bool ConfirmReplaceFile(QWidget* parent, const QString& path) override;
  bool SelectPenSets(QWidget* parent, PenSetTransferMode mode, PenSetSelection* selection) override;

 private:
  CRegistry& store;
};

// The caption of the program's message boxes.
extern const char kPenSetMessageCaption[];
