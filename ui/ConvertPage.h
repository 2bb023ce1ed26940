#pragma once

#include "ui/CommonPage.h"

class CConvertSettings;
class CWizardDlg;

// The last page: starts and stops the conversion run and shows its log and progress. While a
// run is in progress the wizard is busy.
class CConvertPage : public CCommonPage {
  Q_OBJECT

 public:
  CConvertPage(CConvertSettings& settings, CWizardDlg& wizard, QWidget* parent = nullptr);

 private:
  CConvertSettings& settings;
  CWizardDlg& wizard;
};
