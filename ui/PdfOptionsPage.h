#pragma once

#include "ui/CommonPage.h"

class CConvertSettings;

// The PDF options: paper size, margin, resolution, output type, target and document information.
class CPdfOptionsPage : public CCommonPage {
  Q_OBJECT

 public:
  explicit CPdfOptionsPage(CConvertSettings& settings, QWidget* parent = nullptr);

 private:
  CConvertSettings& settings;
};
