#pragma once

#include <cstdint>
#include <vector>

#include "render/ColorPolicy.h"
#include "render/DwgExport.h"
#include "render/PdfContentWriter.h"

class CPdfContentStream;
class CPdfDocument;
class CPdfPage;
class CPenSet;

// The export sink for one PDF page. It turns the library's callbacks into content operators:
// it moves every coordinate by the page margin, joins consecutive segments into polylines,
// writes colour and width only when they change, maps colours by the colour mode, takes
// colours and widths from the pen set when pen sets are in use, marks each entity with its
// layer as optional content, clips, and places raster images as image XObjects.
//
// The job makes one per page, sets the fields, attaches it to the drawing, calls BeginPage,
// lets the library draw, detaches it, calls EndPage and destroys it.
class CPdfExport : public CDwgExport {
 public:
  CPdfExport();
  ~CPdfExport() override;

  bool BeginPage(int, int, int, double width, double height) override;
  // Writes what is pending, closes what the library left open and deflates the content.
  void EndPage() override;
  bool BeginEntityDraw(const char* type, const char* handle, const char* layer, unsigned long flags,
                       const char* lineType, const char* style, const double* matrix) override;
  void EndEntityDraw() override;
  void PushClipPolygon(int count, PointStruct* points) override;
  void PopClipPolygon() override;
  void Raster(double x, double y, int width, int height, int, int, int pixelWidth, int pixelHeight,
              void*, HBITMAP bitmap, long, void*) override;
  // The image through its full matrix ("cm"); a stencil as an image mask in the current colour,
  // a bitmap with alpha with its soft mask.
  void RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                   HBITMAP bitmap) override;
  void SetPixel(double x, double y) override;
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void Arc(double cx, double cy, double radius, double start, double end) override;
  // Adds the offsets to the caller's points before drawing them.
  void Polygon(int first, int last, PointStruct* points) override;
  void PolyPolygon(PointStruct* points, const int* counts, int rings) override;
  bool CanDrawPolyPolygon() override { return true; }
  void SetColor(int rgb, int colorIndex) override;
  void SetLineWidth(int width) override;
  // With ExactWidths, the width in points to 3 decimals; otherwise as SetLineWidth.
  void SetLineWidthPoints(double points) override;
  void FillPolyPolygon(PointStruct* points, const int* counts, int rings) override;

  // Writes the pending polyline, if it has two points or more, and empties it.
  void FlushPath();

  double OffsetX = 0.0;
  double OffsetY = 0.0;
  int CurrentWidth = 0;
  std::uint32_t CurrentColor = 0;
  double CurrentPenWidth = 0.0;
  // Lineweights reach the page exactly (SetLineWidthPoints) rather than in whole points.
  bool ExactWidths = false;
  // The exact width in force, when ExactWidths (-1: none written yet).
  double CurrentExactWidth = -1.0;
  bool LayerOpen = false;
  bool RasterEnabled = true;
  int LayersEnabled = 1;
  CPdfDocument* Document = nullptr;
  CPdfPage* Page = nullptr;
  CPdfContentStream* Content = nullptr;
  // The pens drawn with when UsePenTable is set (none: the drawing's own colours and
  // lineweights). Not owned; the job that makes the device owns it.
  const CPenSet* PenSet = nullptr;
  // With UsePenTable, a pen of width 0 draws with the entity's own lineweight instead of the
  // thinnest line (a plot style table's "use object lineweight").
  bool ObjectWidthForZeroPens = false;

  // The polyline not yet written, offsets added.
  const PointStruct* PendingPoints() const { return pending; }
  int PendingCount() const { return pendingCount; }

 private:
  // Flushes a pending polyline of two points or more and starts the next one at its last
  // point, so that drawing goes on from there in the new state.
  void ContinuationFlush();
  // Appends a point to the pending polyline; false when it cannot grow.
  bool AddPending(double x, double y);
  CPdfContentWriter Writer() const { return CPdfContentWriter(Content); }
  // The colour and width decisions for the current colour mode and pens.
  CColorPolicy Colors() const;

  // Colour and widths in force in the PDF graphics state, saved by "q " and restored by "Q ".
  struct CachedState {
    std::uint32_t color;
    int width;
    double penWidth;
    double exactWidth;
  };
  std::vector<CachedState> savedStates;
  // Whether the pen of the current colour gives the width (with UsePenTable).
  bool penWidthInForce = true;
  // Whether lineweights reach the page now: no pens, or a pen that leaves the width to them.
  bool ObjectWidths() const { return !UsePenTable || (ObjectWidthForZeroPens && !penWidthInForce); }
  // How many clips were open when the layer section opened, so that EndPage closes what the
  // library left open in the order it was opened.
  std::size_t clipsAtLayerOpen = 0;

  PointStruct* pending = nullptr;
  int pendingCount = 0;
  int pendingCapacity = 0;
};
