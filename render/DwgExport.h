#pragma once

#include "platform/Dib.h"
#include "render/PointStruct.h"

// How RasterImage lays a bitmap onto the page.
struct RasterPlacement {
  // The map of the bitmap's unit square onto the page, in points: (s, t) goes to
  // (a s + c t + e, b s + d t + f), s running along the rows from their first pixel and t up from
  // the bottom row (storage row 0). Turned, mirrored and slanted pictures need all six.
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  // A 1-bit bitmap whose pixels of index 1 are painted in the current colour (SetColor) and
  // whose pixels of index 0 leave what lies under them: a bitonal picture drawn transparent.
  bool stencil = false;
  // Whether the placement is a rectangle with its sides along the page's axes, upright and not
  // mirrored (b and c zero, a and d positive).
  bool Upright() const { return b == 0 && c == 0 && a > 0 && d > 0; }
};

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
  // Clipping: everything drawn until the matching pop is clipped to the polygon. The polygon's
  // boundary is also stroked while StrokeClipBoundary is set.
  virtual void PushClipPolygon(int count, PointStruct* points);
  virtual void PopClipPolygon() {}
  // A raster image to fill the rectangle from (x, y) to (x + width, y + height), given as a
  // bitmap of pixelWidth × pixelHeight pixels.
  virtual void Raster(double x, double y, int width, int height, int, int, int pixelWidth,
                      int pixelHeight, void*, HBITMAP bitmap, long, void*);
  // A raster image laid onto the page by a full placement (turned, mirrored or slanted, or
  // drawn with transparency: a stencil, or a bitmap with alpha). The base gives Raster the
  // page box of the placement, whole points, and draws the bitmap opaque: an upright
  // placement lands where it should, others are drawn upright over their box.
  virtual void RasterImage(const RasterPlacement& placement, int pixelWidth, int pixelHeight,
                           HBITMAP bitmap);
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
  // Rings as PolyPolygon takes them, filled by the even-odd rule and not outlined (glyphs of
  // text, which a pen's width must not thicken). The base outlines them too (PolyPolygon).
  virtual void FillPolyPolygon(PointStruct* points, const int* counts, int rings);
  // The colour of what follows, and its drawing colour index (−1 when it has none).
  virtual void SetColor(int rgb, int colorIndex) = 0;
  // The line width of what follows, in points × WidthDivisor.
  virtual void SetLineWidth(int width) = 0;
  // The line width of what follows in points, as exact as the sink can take it. The base gives
  // SetLineWidth the width in its units (points × WidthDivisor, rounded).
  virtual void SetLineWidthPoints(double points);

  // The colour mode: 0 true colours, 1 gray, 2 black and white.
  void SetColorType(int type);

  bool DrawEnabled = true;
  bool LinesOnly = false;
  // Whether PushClipPolygon strokes the clip's boundary with the current colour and width. The
  // library clears it for a boundary that the drawing does not plot (a viewport on a layer that
  // is off, frozen or not plotted), and sets it again after.
  bool StrokeClipBoundary = true;
  short ColorType = 0;
  int WidthDivisor = 1;
  bool UsePenTable = false;
};
