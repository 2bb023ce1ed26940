#pragma once

#include <algorithm>

#include "drawing/Model.h"
#include "render/DwgExport.h"

namespace drawing {

// A sink that only measures: the box around everything drawn into it. Inside a clip only the
// clip's own polygon counts, since what lies outside it is not seen.
class CExtentsSink : public CDwgExport {
 public:
  bool BeginPage(int, int, int, double, double) override { return true; }
  void EndPage() override {}
  void PushClipPolygon(int count, PointStruct* points) override {
    if (clipDepth++ == 0) {
      for (int i = 0; i < count; ++i) Add(points[i].x, points[i].y, true);
    }
  }
  void PopClipPolygon() override { clipDepth = std::max(0, clipDepth - 1); }
  void Raster(double x, double y, int width, int height, int, int, int, int, void*, HBITMAP, long,
              void*) override {
    Add(x, y);
    Add(x + width, y + height);
  }
  void SetPixel(double x, double y) override { Add(x, y); }
  void MoveTo(double x, double y) override { Add(x, y); }
  void LineTo(double x, double y) override { Add(x, y); }
  void Arc(double cx, double cy, double r, double, double) override {
    // The whole circle: a slightly larger box is harmless for fitting.
    Add(cx - r, cy - r);
    Add(cx + r, cy + r);
  }
  void Polygon(int first, int last, PointStruct* points) override {
    for (int i = first; i <= last; ++i) Add(points[i].x, points[i].y);
  }
  void PolyPolygon(PointStruct* points, const int* counts, int rings) override {
    int total = 0;
    for (int k = 0; k < rings; ++k) total += counts[k];
    for (int i = 0; i < total; ++i) Add(points[i].x, points[i].y);
  }
  bool CanDrawPolyPolygon() override { return true; }
  void SetColor(int, int) override {}
  void SetLineWidth(int) override {}

  bool Empty() const { return min.x > max.x; }
  Vec2 min{1e300, 1e300};
  Vec2 max{-1e300, -1e300};

 private:
  void Add(double x, double y, bool clip = false) {
    if ((clipDepth > 0 && !clip) || !(x == x) || !(y == y)) return;
    min = {std::min(min.x, x), std::min(min.y, y)};
    max = {std::max(max.x, x), std::max(max.y, y)};
  }
  int clipDepth = 0;
};

}  // namespace drawing
