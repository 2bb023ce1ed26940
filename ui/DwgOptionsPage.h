#pragma once

#include "ui/CommonPage.h"

class CConvertSettings;

// The drawing options: which layouts become pages, what is fitted to the page, colours, raster
// images, layers, pen sets and search folders.
class CDwgOptionsPage : public CCommonPage {
  Q_OBJECT

 public:
  explicit CDwgOptionsPage(CConvertSettings& settings, QWidget* parent = nullptr);

 private:
  CConvertSettings& settings;
};
