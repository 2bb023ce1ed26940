#include "ui/pensets/PenSetPrompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/pensets/ColorPickerDlg.h"
#include "ui/pensets/PenSetSelectDlg.h"

const char kPenSetMessageCaption[] = "tarnvelox";

namespace {

QString Caption() {
  return QString::fromLatin1(kPenSetMessageCaption);
}

// Runs a file dialog with the pen-set file as the default type; empty when cancelled.
QString RunFileDialog(QFileDialog& dialog) {
  dialog.setDefaultSuffix(QStringLiteral("cps"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

CQtPenSetPrompts::CQtPenSetPrompts(CRegistry& registry) : store(registry) {}

void CQtPenSetPrompts::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, Caption(), text);
}

bool CQtPenSetPrompts::AskYesNo(QWidget* parent, const QString& text, bool defaultNo) {
  return QMessageBox::question(parent, Caption(), text, QMessageBox::Yes | QMessageBox::No,
                               defaultNo ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
}

OverwriteAnswer CQtPenSetPrompts::AskOverwrite(QWidget* parent, const QString& name) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Overwrite pen sets"),
                  QStringLiteral("The pen sets \"%1\" already exists, overwrite it?").arg(name),
                  QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  QPushButton* yesToAll = box.addButton(QStringLiteral("Y&es to All"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  QPushButton* noToAll = box.addButton(QStringLiteral("N&o to All"), QMessageBox::NoRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(cancel);
  box.exec();
  const auto* clicked = box.clickedButton();
  if (clicked == yes) return OverwriteAnswer::Yes;
  if (clicked == yesToAll) return OverwriteAnswer::YesToAll;
  if (clicked == no) return OverwriteAnswer::No;
  if (clicked == noToAll) return OverwriteAnswer::NoToAll;
  return OverwriteAnswer::Cancel;
}

bool CQtPenSetPrompts::AskText(QWidget* parent, const QString& caption, const QString& prompt,
                               QString* text) {
  bool ok = false;
  const QString answer =
      QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, QString(), &ok);
  if (ok) *text = answer;
  return ok;
}

int CQtPenSetPrompts::PickColorIndex(QWidget* parent, int initial) {
  return ::PickColorIndex(parent, initial);
}

QString CQtPenSetPrompts::ChooseExportFile(QWidget* parent, const QString& start) {
  QFileDialog dialog(parent, QString(), start);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(
      {QStringLiteral("tarnvelox Pen Sets(*.cps)"), QStringLiteral("All files(*)")});
  return RunFileDialog(dialog);
}

QString CQtPenSetPrompts::ChooseImportFile(QWidget* parent, const QString& start) {
  QFileDialog dialog(parent, QString(), start);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("tarnvelox Pen Sets(*.cps)"),
                         QStringLiteral("AutoCAD Pen Sets(*.ctb)"),
                         QStringLiteral("All files(*)")});
  return RunFileDialog(dialog);
}

bool CQtPenSetPrompts::ConfirmReplaceFile(QWidget* parent, const QString& path) {
  return QMessageBox::question(
             parent, Caption(),
             QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool CQtPenSetPrompts::SelectPenSets(QWidget* parent, PenSetTransferMode mode,
                                     PenSetSelection* selection) {
  CPenSetSelectDlg dialog(mode, store, *this, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  selection->path = dialog.Path();
  selection->names = dialog.Names();
  return true;
}
