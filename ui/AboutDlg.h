#pragma once

#include <QDialog>

// The About box: the banner with the program's name, its version and an "OK" button.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
