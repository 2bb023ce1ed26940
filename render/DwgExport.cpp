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

void CDwgExport::RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                             HBITMAP bitmap) {
  const RasterPlacement& m = placement;
  const double xs[] = {m.e, m.e + m.a, m.e + m.c, m.e + m.a + m.c};
  const double ys[] = {m.f, m.f + m.b, m.f + m.d, m.f + m.b + m.d};
  const double x0 = *std::min_element(xs, xs + 4), x1 = *std::max_element(xs, xs + 4);
  const double y0 = *std::min_element(ys, ys + 4), y1 = *std::max_element(ys, ys + 4);
  const double width = std::round(x1 - x0), height = std::round(y1 - y0);
  if (!(width >= 1 && height >= 1 && width < 1e9 && height < 1e9)) return;
  Raster(x0, y0, static_cast<int>(width), static_cast<int>(height), 0, 0, pixelWidth, pixelHeight,
         nullptr, bitmap, 0, nullptr);
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
