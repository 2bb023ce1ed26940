#pragma once

#include "ui/CommonPage.h"

class CLinkLabel;

// The welcome page: on white, the picture down the left side, the greeting and the program's
// title in burgundy, what the program does, and the "About ..." link.
class CMainPage : public CCommonPage {
  Q_OBJECT

 public:
  explicit CMainPage(QWidget* parent = nullptr);

  CLinkLabel* AboutLink() const { return aboutLink; }

 Q_SIGNALS:
  void AboutRequested();

 private:
  CLinkLabel* aboutLink = nullptr;
};
