#include "render/TraceExport.h"

#include <cstdio>

#include "render/FormatNumber.h"

namespace {

std::string N(double value) {
  return FormatNumber(value, 3) == "0.0" ? "0" : FormatNumber(value, 3);
}

}  // namespace

bool CTraceExport::BeginPage(int, int, int, double width, double height) {
  Line("BeginPage " + N(width) + " " + N(height));
  return true;
}

void CTraceExport::EndPage() {
  Line("EndPage");
}

bool CTraceExport::BeginEntityDraw(const char* type, const char*, const char* layer, unsigned long,
                                   const char*, const char*, const double*) {
  Line(std::string("BeginEntityDraw ") + (layer ? layer : "") + " " + (type ? type : ""));
  return true;
}

void CTraceExport::EndEntityDraw() {
  Line("EndEntityDraw");
}

void CTraceExport::PushClipPolygon(int count, PointStruct* points) {
  std::string line = StrokeClipBoundary ? "PushClipPolygon" : "PushClipPolygon unstroked";
  for (int i = 0; i < count && points; ++i) line += " " + N(points[i].x) + "," + N(points[i].y);
  Line(line);
}

void CTraceExport::PopClipPolygon() {
  Line("PopClipPolygon");
}

void CTraceExport::Raster(double x, double y, int width, int height, int, int, int pixelWidth,
                          int pixelHeight, void*, HBITMAP, long, void*) {
  Line("Raster " + N(x) + " " + N(y) + " " + std::to_string(width) + " " + std::to_string(height) +
       " " + std::to_string(pixelWidth) + "x" + std::to_string(pixelHeight));
}

void CTraceExport::RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                               HBITMAP bitmap) {
  const RasterPlacement& m = placement;
  std::string line = "RasterImage " + N(m.a) + " " + N(m.b) + " " + N(m.c) + " " + N(m.d) + " " +
                     N(m.e) + " " + N(m.f) + " " + std::to_string(pixelWidth) + "x" +
                     std::to_string(pixelHeight);
  if (m.stencil) line += " stencil";
  if (bitmap && bitmap->HasAlpha()) line += " alpha";
  Line(line);
}

void CTraceExport::SetPixel(double x, double y) {
  Line("SetPixel " + N(x) + " " + N(y));
}
void CTraceExport::MoveTo(double x, double y) {
  Line("MoveTo " + N(x) + " " + N(y));
}
void CTraceExport::LineTo(double x, double y) {
  Line("LineTo " + N(x) + " " + N(y));
}

void CTraceExport::Arc(double cx, double cy, double radius, double start, double end) {
  Line("Arc " + N(cx) + " " + N(cy) + " " + N(radius) + " " + N(start) + " " + N(end));
}

void CTraceExport::Polygon(int first, int last, PointStruct* points) {
  std::string line = "Polygon";
  for (int i = first; i <= last && points; ++i) line += " " + N(points[i].x) + "," + N(points[i].y);
  Line(line);
}

void CTraceExport::PolyPolygon(PointStruct* points, const int* counts, int rings) {
  int total = 0;
  for (int k = 0; k < rings; ++k) total += counts[k];
  Line("PolyPolygon " + std::to_string(rings) + " rings " + std::to_string(total) + " points" +
       (points ? "" : " (none)"));
}

void CTraceExport::SetColor(int rgb, int colorIndex) {
  char hex[16];
  const unsigned value = static_cast<unsigned>(rgb);
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                (value >> 16) & 0xFF);
  Line(std::string("SetColor ") + hex + " " + std::to_string(colorIndex));
}

void CTraceExport::SetLineWidthPoints(double points) {
  // Traces show the width as the sink receives it by default: in whole units.
  CDwgExport::SetLineWidthPoints(points);
}

void CTraceExport::FillPolyPolygon(PointStruct* points, const int* counts, int rings) {
  int total = 0;
  for (int k = 0; k < rings; ++k) total += counts[k];
  Line("FillPolyPolygon " + std::to_string(rings) + " rings " + std::to_string(total) + " points" +
       (points ? "" : " (none)"));
}

void CTraceExport::SetLineWidth(int width) {
  Line("SetLineWidth " + std::to_string(width));
}
