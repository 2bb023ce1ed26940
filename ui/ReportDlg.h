#pragma once

#include <QDialog>
#include <QStringList>

#include "convert/RunResult.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The report at the end of a run: the PDF files the run wrote, in writing order. A double-click
// on a file, or Enter on the selected one, opens it with the desktop's program for PDF files;
// "O&K" closes the report. The dialog keeps its own copy of the list.
class CReportDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CReportDlg(QWidget* parent = nullptr);

  // Lists the files (full paths), the first one selected.
  void SetResultFiles(const QStringList& files);
  QStringList ResultFiles() const { return files; }
  // The headline: that the run went through, or, when it did not or some drawings failed, what
  // went wrong; the log has the details.
  void SetOutcome(RunResult result, int failedDrawings);
  // Lists the drawings that failed, each with its reason ("plan.dwg: the drawing is protected by
  // a password"); hidden when there are none.
  void SetFailures(const QStringList& lines);

  // Opens the file of row; a file that is gone, or that the desktop cannot open, is reported with
  // a message box. False then.
  bool OpenFile(int row);

  QLabel* Headline() const { return headline; }
  QListWidget* List() const { return list; }
  QListWidget* FailureList() const { return failureList; }
  QPushButton* OkButton() const { return okButton; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QStringList files;
  QLabel* headline = nullptr;
  QListWidget* list = nullptr;
  QLabel* failureHint = nullptr;
  QListWidget* failureList = nullptr;
  QPushButton* okButton = nullptr;
};
