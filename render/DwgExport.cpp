#include "render/DwgExport.h"

bool CDwgExport::BeginEntityDraw(const char*, const char*, const char*, unsigned long, const char*,
                                 const char*, const double*) {
  return true;
}

void CDwgExport::TextParam(const char*, const char*, double, double, double, double) {}

void CDwgExport::PushClipPolygon(int, PointStruct*) {}

void CDwgExport::Raster(double, double, int, int, int, int, int, int, void*, HBITMAP, long, void*) {
}

void CDwgExport::SetPixel(double, double) {}

bool CDwgExport::CanDrawPolyPolygon() {
  return false;
}

void CDwgExport::SetColorType(int type) {
  ColorType = static_cast<short>(type >= 0 && type <= 2 ? type : 0);
}
