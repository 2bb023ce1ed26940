#pragma once

#include "platform/Dib.h"
#include "render/PointStruct.h"

// The sink through which the drawing library hands over a rendered layout. The library calls
// the operations while it draws; coordinates are points from the lower-left corner of the
// output area (y up), angles are radians, colours 32-bit values with red in the low byte.
class CDwgExport {
 public:
  virtual ~CDwgExport() = default;

  // Starts a page; the library draws only when it returns true.
  virtual bool BeginPage(int, int, int, double width, double height) = 0;
  virtual void EndPage() = 0;
  // Brackets the drawing of one entity; layer is the entity's layer name. The base accepts
  // every entity and ignores the end.
  virtual bool BeginEntityDraw(const char* type, const char* handle, const char* layer,
                               unsigned long flags, const char* lineType, const char* style,
                               const double* matrix);
  virtual void EndEntityDraw() {}
  // Text the library is about to draw; the library keeps its own handling of it. Whatever text
  // it draws reaches the sink as paths.
  virtual void TextParam(const char* text, const char* font, double x, double y, double height,
                         double angle);
  // Clipping: everything drawn until the matching pop is clipped to the polygon.
  virtual void PushClipPolygon(int count, PointStruct* points);
  // Clipping by a polygon whose outline is never drawn (the PDF device strokes the outline of
  // PushClipPolygon's polygon); popped by PopClipPolygon. The base clips as PushClipPolygon.
  virtual void PushHiddenClip(int count, PointStruct* points) { PushClipPolygon(count, points); }
  virtual void PopClipPolygon() {}
  // A raster image to fill the rectangle from (x, y) to (x + width, y + height), given as a
  // bitmap of pixelWidth × pixelHeight pixels.
  virtual void Raster(double x, double y, int width, int height, int, int, int pixelWidth,
                      int pixelHeight, void*, HBITMAP bitmap, long, void*);
  virtual void SetPixel(double x, double y);
  virtual void MoveTo(double x, double y) = 0;
  virtual void LineTo(double x, double y) = 0;
  virtual void Arc(double cx, double cy, double radius, double start, double end) = 0;
  // A closed polygon of points first to last, filled and outlined.
  virtual void Polygon(int first, int last, PointStruct* points) = 0;
  // Rings lying one after the other in points, ring k having counts[k] points, filled by the
  // even-odd rule and outlined.
  virtual void PolyPolygon(PointStruct* points, const int* counts, int rings) = 0;
  // Whether PolyPolygon may be called; otherwise the library draws rings as polygons.
  virtual bool CanDrawPolyPolygon();
  // The colour of what follows, and its drawing colour index (−1 when it has none).
  virtual void SetColor(int rgb, int colorIndex) = 0;
  // The line width of what follows, in points × WidthDivisor.
  virtual void SetLineWidth(int width) = 0;

  // The colour mode: 0 true colours, 1 gray, 2 black and white.
  void SetColorType(int type);

  bool DrawEnabled = true;
  bool LinesOnly = false;
  short ColorType = 0;
  int WidthDivisor = 1;
  bool UsePenTable = false;
};
