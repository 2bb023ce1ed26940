#pragma once

#include <QQueue>
#include <QString>
#include <QStringList>

#include "ui/pensets/PenSetPrompts.h"

// Answers the editor's questions from queues filled by a test and records every text shown, in
// order. A question with no answer queued is recorded in unexpected and answered No / Cancel.
class CScriptedPrompts : public IPenSetPrompts {
 public:
  QStringList shown;       // every message and question, in order
  QStringList unexpected;  // questions asked with no answer queued
  QQueue<bool> yesNo;
  QQueue<OverwriteAnswer> overwrite;
  QQueue<QString> texts;  // an empty text stands for a cancelled input
  QQueue<int> picks;
  QQueue<QString> files;
  QQueue<PenSetSelection> selections;  // an empty path stands for a cancelled dialog
  QList<int> pickerStarts;             // the initial index of each picker run
  QStringList replaceAsked;

  void ShowMessage(QWidget*, const QString& text) override { shown << text; }
  bool AskYesNo(QWidget*, const QString& text, bool) override {
    shown << text;
    return Take(yesNo, false, text);
  }
  OverwriteAnswer AskOverwrite(QWidget*, const QString& name) override {
    shown << QStringLiteral("overwrite %1").arg(name);
    return Take(overwrite, OverwriteAnswer::Cancel, name);
  }
  bool AskText(QWidget*, const QString& caption, const QString& prompt, QString* text) override {
    shown << caption + QStringLiteral(": ") + prompt;
    *text = Take(texts, QString(), prompt);
    return !text->isEmpty();
  }
  int PickColorIndex(QWidget*, int initial) override {
    pickerStarts << initial;
    return Take(picks, initial, QStringLiteral("picker"));
  }
  QString ChooseExportFile(QWidget*, const QString&) override {
    return Take(files, QString(), QStringLiteral("export file"));
  }
  QString ChooseImportFile(QWidget*, const QString&) override {
    return Take(files, QString(), QStringLiteral("import file"));
  }
  bool ConfirmReplaceFile(QWidget*, const QString& path) override {
    replaceAsked << path;
    return Take(yesNo, false, path);
  }
  bool SelectPenSets(QWidget*, PenSetTransferMode, PenSetSelection* selection) override {
    *selection = Take(selections, PenSetSelection{}, QStringLiteral("selection"));
    return !selection->path.isEmpty();
  }

 private:
  template <typename T>
  T Take(QQueue<T>& queue, T fallback, const QString& what) {
    if (queue.isEmpty()) {
      unexpected << what;
      return fallback;
    }
    return queue.dequeue();
  }
};
