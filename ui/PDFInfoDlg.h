#pragma once

#include <QDialog>

class CConvertSettings;
class QLineEdit;

// "PDF file information": the title, author, subject and keywords every PDF of a run carries.
// The texts live in the settings in memory only; OK copies the fields back, Cancel keeps them.
class CPDFInfoDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPDFInfoDlg(CConvertSettings& settings, QWidget* parent = nullptr);

  QLineEdit* TitleEdit() const { return title; }
  QLineEdit* AuthorEdit() const { return author; }
  QLineEdit* SubjectEdit() const { return subject; }
  QLineEdit* KeywordsEdit() const { return keywords; }

  void accept() override;

 private:
  CConvertSettings& settings;
  QLineEdit* title;
  QLineEdit* author;
  QLineEdit* subject;
  QLineEdit* keywords;
};
