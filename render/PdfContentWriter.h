#pragma once

#include <cstddef>
#include <string_view>

#include "render/PointStruct.h"

class CPdfContentStream;

// Writes content operators into a page's content stream. Each operator is followed by one
// space ("10 20.46 m "); the unspaced form leaves that space out. Coordinates carry 2 decimals,
// colours, gray levels, widths and the image matrix 3 (see FormatNumber). Nothing is kept
// between calls: the caller decides what to write. A piece that cannot be appended for lack of
// memory is left out and the next ones are still written.
class CPdfContentWriter {
 public:
  explicit CPdfContentWriter(CPdfContentStream* stream) : stream(stream) {}

  void MoveTo(double x, double y, bool spaced = true);
  void LineTo(double x, double y, bool spaced = true);
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3,
               bool spaced = true);
  // Components and levels 0 to 1.
  void SetStrokeRGB(double r, double g, double b, bool spaced = true);
  void SetStrokeGray(double level, bool spaced = true);
  void SetFillRGB(double r, double g, double b, bool spaced = true);
  void SetFillGray(double level, bool spaced = true);
  // In points.
  void SetLineWidth(double width, bool spaced = true);
  // Clamped to 0 … 2.
  void SetLineCap(int cap);
  void SetLineJoin(int join);
  // "/OC /name BDC " and "EMC ": a section of content belonging to an optional content group.
  void BeginOptionalContent(std::string_view propertyName);
  void EndMarkedContent();
  // "q sx 0 0 sy tx ty cm /name Do Q ": an image XObject in the unit square mapped by the matrix.
  void PlaceImage(double tx, double ty, double sx, double sy, std::string_view imageName);
  // "q a b c d e f cm /name Do Q ": the image drawn through a full matrix.
  void PlaceImage(const double (&matrix)[6], std::string_view imageName);

  // Formats printf-style and appends the text; false, with nothing appended, when the result
  // is empty. Numbers must come in as texts made by FormatNumber, never through %f.
  bool AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends bytes unchanged (the fixed tokens "q ", "Q ", "S ", "W ", …).
  void Append(std::string_view text);

  // A circle of four Bézier curves from its rightmost point, counter-clockwise, then "s ".
  void Circle(double cx, double cy, double r);
  // An arc of Bézier curves of at most 90 degrees each, from start to end degrees (clockwise
  // when end < start). The first curve starts with a move when moveFirst is set, else with a
  // line to the arc's start. No painting operator. The sweep must not be 0.
  void Arc(double cx, double cy, double r, double start, double end, bool moveFirst);
  enum class LeadIn { None, Move, Line };
  // One curve of at most 90 degrees centred on angle mid (degrees), running from
  // mid − direction·|halfSweep| to mid + direction·|halfSweep|.
  void ArcSegment(double cx, double cy, double r, double mid, double halfSweep, LeadIn leadIn,
                  int direction);
  // One closed ring of points first … last, then "b " (fill by the nonzero rule and stroke).
  void Polygon(int first, int last, const PointStruct* points);
  // Rings one after the other in points, ring k having counts[k] points, each closed with
  // "h ", then "B* " (fill by the even-odd rule and stroke). Rings without points are skipped;
  // with no points at all nothing is written.
  void PolyPolygon(const PointStruct* points, const int* counts, int rings);
  // The rings filled by the even-odd rule, not outlined ("f*").
  void FillPolyPolygon(const PointStruct* points, const int* counts, int rings);

 private:
  // Appends the numbers of values, separated by spaces, then op.
  void Operator(const double* values, int count, int decimals, std::string_view op);
  void CloseRingTo(const PointStruct& first, const PointStruct& last);
  // Each ring as a closed subpath, then the painting operator.
  void Rings(const PointStruct* points, const int* counts, int rings, const char* paint);

  CPdfContentStream* stream;
};
