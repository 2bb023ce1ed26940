#pragma once

#include <string>

#include "render/DwgExport.h"

// A sink that writes one stable text line per callback ("LineTo 10 20", "SetColor ff0000 1",
// "BeginEntityDraw WALLS"), for tests of the drawing library and for looking at what a
// drawing sends when a user reports a problem. Numbers are written with up to 3 decimals.
class CTraceExport : public CDwgExport {
 public:
  CTraceExport() { DrawEnabled = true; }

  bool BeginPage(int, int, int, double width, double height) override;
  void EndPage() override;
  bool BeginEntityDraw(const char* type, const char* handle, const char* layer, unsigned long flags,
                       const char* lineType, const char* style, const double* matrix) override;
  void EndEntityDraw() override;
  void PushClipPolygon(int count, PointStruct* points) override;
  void PopClipPolygon() override;
  void Raster(double x, double y, int width, int height, int, int, int pixelWidth, int pixelHeight,
              void*, HBITMAP bitmap, long, void*) override;
  // "RasterImage a b c d e f WxH", then "stencil" or "alpha" when the picture has either.
  void RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                   HBITMAP bitmap) override;
  void SetPixel(double x, double y) override;
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void Arc(double cx, double cy, double radius, double start, double end) override;
  void Polygon(int first, int last, PointStruct* points) override;
  void PolyPolygon(PointStruct* points, const int* counts, int rings) override;
  bool CanDrawPolyPolygon() override { return true; }
  void SetColor(int rgb, int colorIndex) override;
  void SetLineWidth(int width) override;
  void SetLineWidthPoints(double points) override;
  void FillPolyPolygon(PointStruct* points, const int* counts, int rings) override;

  // Every line written so far, each ending in a line feed.
  std::string text;

 private:
  void Line(const std::string& line) { text += line + "\n"; }
};
