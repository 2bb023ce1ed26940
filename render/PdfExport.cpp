#include "render/PdfExport.h"

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>

#include "pdf/PdfDocument.h"

namespace {

// How close a MoveTo must come to the end of the pending polyline to continue it.
constexpr double kJoinDistance = 0.00001;

// The point of a single-pixel stroke: a line this long, which the round cap shows as a dot.
constexpr double kPixelLength = 0.05;

}  // namespace

CPdfExport::CPdfExport() = default;

CPdfExport::~CPdfExport() {
  std::free(pending);
}

bool CPdfExport::AddPending(double x, double y) {
  if (pendingCount >= pendingCapacity) {
    // Grows by blocks of 32 points; a polyline that finds no memory loses the points that do
    // not fit, and the rest of the page is still drawn.
    const int capacity = pendingCapacity + 32;
    auto* grown = static_cast<PointStruct*>(std::realloc(pending, sizeof(PointStruct) * capacity));
    if (!grown) return false;
    for (int i = pendingCapacity; i < capacity; ++i) grown[i] = PointStruct{};
    pending = grown;
    pendingCapacity = capacity;
  }
  pending[pendingCount].x = x;
  pending[pendingCount].y = y;
  ++pendingCount;
  return true;
}

void CPdfExport::FlushPath() {
  if (DrawEnabled && pendingCount >= 2 && Content) {
    CPdfContentWriter writer = Writer();
    writer.MoveTo(pending[0].x, pending[0].y);
    for (int i = 1; i < pendingCount; ++i) writer.LineTo(pending[i].x, pending[i].y);
    writer.Append("S ");
  }
  // The block is kept for the next polyline: millions of short paths would otherwise each
  // pay for an allocation.
  pendingCount = 0;
}

void CPdfExport::ContinuationFlush() {
  if (pendingCount < 2) return;
  const PointStruct last = pending[pendingCount - 1];
  FlushPath();
  AddPending(last.x, last.y);
}

bool CPdfExport::BeginPage(int, int, int, double, double) {
  CPdfContentWriter writer = Writer();
  writer.SetLineCap(1);
  writer.SetLineJoin(1);
  writer.SetLineWidth(0);
  LayerOpen = false;
  return true;
}

void CPdfExport::EndPage() {
  FlushPath();
  // A section or clip the library left open would leave the page's operators unbalanced.
  if (LayerOpen) {
    for (; savedStates.size() > clipsAtLayerOpen; savedStates.pop_back()) Writer().Append("Q ");
    Writer().EndMarkedContent();
    LayerOpen = false;
  }
  for (; !savedStates.empty(); savedStates.pop_back()) Writer().Append("Q ");
  if (Content) Content->CompressSoon();
}

bool CPdfExport::BeginEntityDraw(const char*, const char*, const char* layer, unsigned long,
                                 const char*, const char*, const double*) {
  if (LayersEnabled == 0 || LinesOnly || !layer || !*layer || LayerOpen || !Document || !Page) {
    return false;
  }
  // What was drawn before belongs to the previous entity's layer, not to this one.
  FlushPath();
  LayerOpen = true;
  clipsAtLayerOpen = savedStates.size();
  CPdfIndirectObject* group = Document->GetLayer(layer);
  CPdfDictEntry* entry =
      group ? Page->GetLayerResource(group, &Document->nextObjectNumber) : nullptr;
  Writer().BeginOptionalContent(entry ? entry->Key() : std::string_view());
  return true;
}

void CPdfExport::EndEntityDraw() {
  if (LinesOnly || LayersEnabled == 0 || !LayerOpen) return;
  FlushPath();
  Writer().EndMarkedContent();
  LayerOpen = false;
}

void CPdfExport::PushClipPolygon(int count, PointStruct* points) {
  FlushPath();
  Writer().Append("q ");
  savedStates.push_back({CurrentColor, CurrentWidth, CurrentPenWidth, CurrentExactWidth});
  if (DrawEnabled && count >= 2 && points) {
    CPdfContentWriter writer = Writer();
    writer.MoveTo(points[0].x + OffsetX, points[0].y + OffsetY);
    for (int i = 1; i < count; ++i) writer.LineTo(points[i].x + OffsetX, points[i].y + OffsetY);
    writer.Append("W ");
    // The path ends stroked (a frame that plots) or unpainted.
    writer.Append(StrokeClipBoundary ? "S " : "n ");
  }
}

void CPdfExport::PopClipPolygon() {
  // What was drawn inside the clip must be written before the clip ends.
  FlushPath();
  Writer().Append("Q ");
  // "Q " brings back the colour and widths in force at the matching "q ".
  if (!savedStates.empty()) {
    CurrentColor = savedStates.back().color;
    CurrentWidth = savedStates.back().width;
    CurrentPenWidth = savedStates.back().penWidth;
    CurrentExactWidth = savedStates.back().exactWidth;
    savedStates.pop_back();
  }
}

void CPdfExport::Raster(double x, double y, int width, int height, int, int, int pixelWidth,
                        int pixelHeight, void*, HBITMAP bitmap, long, void*) {
  FlushPath();
  if (!RasterEnabled || !Page || !Document) return;
  std::string name;
  // The colour mode of the lines holds for pictures too.
  const ImageColors colors = ColorType == 1   ? ImageColors::Gray
                             : ColorType == 2 ? ImageColors::BlackAndWhite
                                              : ImageColors::AsTheyAre;
  if (!Page->AddImage(pixelWidth, pixelHeight, bitmap, name, &Document->nextObjectNumber, colors)) {
    return;
  }
  // The bitmap's first stored row is its bottom row, so the image is mirrored vertically.
  Writer().PlaceImage(x + OffsetX, y + OffsetY + height, width, -static_cast<double>(height), name);
}

void CPdfExport::RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                             HBITMAP bitmap) {
  FlushPath();
  if (!RasterEnabled || !Page || !Document) return;
  std::string name;
  const ImageColors colors = ColorType == 1   ? ImageColors::Gray
                             : ColorType == 2 ? ImageColors::BlackAndWhite
                                              : ImageColors::AsTheyAre;
  const bool added = placement.stencil ? Page->AddImageMask(pixelWidth, pixelHeight, bitmap, name,
                                                            &Document->nextObjectNumber)
                                       : Page->AddImage(pixelWidth, pixelHeight, bitmap, name,
                                                        &Document->nextObjectNumber, colors);
  if (!added) return;
  // The samples start with the bitmap's bottom row, which PDF puts at the top of the unit
  // square: the placement's t axis runs the other way.
  const RasterPlacement& m = placement;
  // Adding 0 turns a negative zero into a plain one.
  const double matrix[6] = {
      m.a, m.b, -m.c + 0.0, -m.d + 0.0, m.e + m.c + OffsetX, m.f + m.d + OffsetY};
  Writer().PlaceImage(matrix, name);
}

void CPdfExport::SetPixel(double x, double y) {
  FlushPath();
  CPdfContentWriter writer = Writer();
  writer.MoveTo(x + OffsetX, y + OffsetY);
  writer.LineTo(x + kPixelLength + OffsetX, y + OffsetY);
  writer.Append("S ");
}

void CPdfExport::MoveTo(double x, double y) {
  x += OffsetX;
  y += OffsetY;
  if (pendingCount >= 2) {
    const PointStruct& last = pending[pendingCount - 1];
    if (std::fabs(x - last.x) <= kJoinDistance && std::fabs(y - last.y) <= kJoinDistance) return;
  }
  FlushPath();
  AddPending(x, y);
}

void CPdfExport::LineTo(double x, double y) {
  AddPending(x + OffsetX, y + OffsetY);
}

void CPdfExport::Arc(double cx, double cy, double radius, double start, double end) {
  FlushPath();
  if (!DrawEnabled) return;
  cx += OffsetX;
  cy += OffsetY;
  const double sweep = std::fabs(end - start);
  CPdfContentWriter writer = Writer();
  if (sweep < 0.0001 || std::fabs(sweep - 2 * std::numbers::pi) < 0.0001) {
    writer.Circle(cx, cy, radius);
    return;
  }
  writer.Arc(cx, cy, radius, start * 180.0 / std::numbers::pi, end * 180.0 / std::numbers::pi,
             true);
  writer.Append("S ");
}

void CPdfExport::Polygon(int first, int last, PointStruct* points) {
  FlushPath();
  if (LinesOnly || !points || first < 0 || last < first) return;
  for (int i = first; i <= last; ++i) {
    points[i].x += OffsetX;
    points[i].y += OffsetY;
  }
  if (DrawEnabled) Writer().Polygon(first, last, points);
}

void CPdfExport::PolyPolygon(PointStruct* points, const int* counts, int rings) {
  FlushPath();
  if (LinesOnly || !points || !counts) return;
  int total = 0;
  for (int k = 0; k < rings; ++k) total += counts[k] > 0 ? counts[k] : 0;
  for (int i = 0; i < total; ++i) {
    points[i].x += OffsetX;
    points[i].y += OffsetY;
  }
  if (DrawEnabled) Writer().PolyPolygon(points, counts, rings);
}

CColorPolicy CPdfExport::Colors() const {
  return CColorPolicy(ColorType, UsePenTable ? PenSet : nullptr);
}

void CPdfExport::SetColor(int rgb, int colorIndex) {
  const CColorPolicy::Ink ink = Colors().Resolve(rgb, colorIndex);
  if (ink.color != CurrentColor) {
    ContinuationFlush();
    CurrentColor = ink.color;
    CPdfContentWriter writer = Writer();
    if (ink.gray) {
      writer.SetStrokeGray(ink.level);
      writer.SetFillGray(ink.level);
    } else {
      writer.SetStrokeRGB(ink.red, ink.green, ink.blue);
      writer.SetFillRGB(ink.red, ink.green, ink.blue);
    }
  }
  const bool penWidth = ink.hasPenWidth && !(ObjectWidthForZeroPens && ink.penWidth == 0);
  penWidthInForce = penWidth;
  if (penWidth && ink.penWidth != CurrentPenWidth) {
    // The polyline drawn so far keeps the width it was drawn with.
    ContinuationFlush();
    Writer().SetLineWidth(ink.penWidth);
    CurrentPenWidth = ink.penWidth;
    if (ObjectWidthForZeroPens) {
      // The next lineweight is written again, whatever was written before this pen.
      CurrentWidth = -1;
      CurrentExactWidth = -1.0;
    }
  }
}

void CPdfExport::SetLineWidthPoints(double points) {
  if (!ExactWidths) {
    CDwgExport::SetLineWidthPoints(points);
    return;
  }
  if (!ObjectWidths() || !(points >= 0) || points == CurrentExactWidth) return;
  ContinuationFlush();
  CurrentExactWidth = points;
  if (UsePenTable) CurrentPenWidth = -1.0;
  Writer().SetLineWidth(points);
}

void CPdfExport::FillPolyPolygon(PointStruct* points, const int* counts, int rings) {
  FlushPath();
  if (LinesOnly || !points || !counts) return;
  int total = 0;
  for (int k = 0; k < rings; ++k) total += counts[k] > 0 ? counts[k] : 0;
  for (int i = 0; i < total; ++i) {
    points[i].x += OffsetX;
    points[i].y += OffsetY;
  }
  if (DrawEnabled) Writer().FillPolyPolygon(points, counts, rings);
}

void CPdfExport::SetLineWidth(int width) {
  if (!ObjectWidths() || width == CurrentWidth) return;
  ContinuationFlush();
  CurrentWidth = width;
  if (UsePenTable) CurrentPenWidth = -1.0;
  Writer().SetLineWidth(CColorPolicy::LineweightPoints(width, WidthDivisor));
}
