#include "render/DwgExport.h"

#include <algorithm>
#include <cmath>

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

void CDwgExport::FillPolyPolygon(PointStruct* points, const int* counts, int rings) {
  PolyPolygon(points, counts, rings);
}

void CDwgExport::SetLineWidthPoints(double points) {
  SetLineWidth(static_cast<int>(std::lround(points * std::max(1, WidthDivisor))));
}

void CDwgExport::SetColorType(int type) {
  ColorType = static_cast<short>(type >= 0 && type <= 2 ? type : 0);
}
