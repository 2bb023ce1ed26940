#include "render/PdfContentWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>

#include "pdf/PdfContentStream.h"
#include "render/FormatNumber.h"

namespace {

// π as the drawing code has always taken it: the angle of the point (−1, 0).

// How close two points must be, in each coordinate, to count as the same point.
constexpr double kSamePoint = 0.00001;

}  // namespace

void CPdfContentWriter::Operator(const double* values, int count, int decimals,
                                 std::string_view op) {
  // Six numbers and the longest operator fit in one stack buffer, appended at once.
  char text[6 * (kNumberBufferSize + 1) + 8];
  std::size_t length = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text[length++] = ' ';
    length += FormatNumber(values[i], decimals, text + length);
  }
  std::memcpy(text + length, op.data(), op.size());
  length += op.size();
  stream->Append(text, static_cast<std::int32_t>(length));
}

void CPdfContentWriter::Append(std::string_view text) {
  stream->Append(text.data(), static_cast<std::int32_t>(text.size()));
}

void CPdfContentWriter::MoveTo(double x, double y, bool spaced) {
  const double v[] = {x, y};
  Operator(v, 2, 2, spaced ? " m " : " m");
}

void CPdfContentWriter::LineTo(double x, double y, bool spaced) {
  const double v[] = {x, y};
  Operator(v, 2, 2, spaced ? " l " : " l");
}

void CPdfContentWriter::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3,
                                bool spaced) {
  const double v[] = {x1, y1, x2, y2, x3, y3};
  Operator(v, 6, 2, spaced ? " c " : " c");
}

bool CPdfContentWriter::AppendFormat(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  bool appended = false;
  if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
    appended = stream->Append(small, length);
  } else if (length > 0) {
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    appended = stream->Append(large.data(), length);
  }
  va_end(again);
  return appended;
}

void CPdfContentWriter::SetStrokeRGB(double r, double g, double b, bool spaced) {
  AppendFormat(spaced ? "%s %s %s RG " : "%s %s %s RG", FormatNumber(r, 3).c_str(),
               FormatNumber(g, 3).c_str(), FormatNumber(b, 3).c_str());
}

void CPdfContentWriter::SetStrokeGray(double level, bool spaced) {
  AppendFormat(spaced ? "%s G " : "%s G", FormatNumber(level, 3).c_str());
}

void CPdfContentWriter::SetFillRGB(double r, double g, double b, bool spaced) {
  AppendFormat(spaced ? "%s %s %s rg " : "%s %s %s rg", FormatNumber(r, 3).c_str(),
               FormatNumber(g, 3).c_str(), FormatNumber(b, 3).c_str());
}

void CPdfContentWriter::SetFillGray(double level, bool spaced) {
  AppendFormat(spaced ? "%s g " : "%s g", FormatNumber(level, 3).c_str());
}

void CPdfContentWriter::SetLineWidth(double width, bool spaced) {
  AppendFormat(spaced ? "%s w " : "%s w", FormatNumber(width, 3).c_str());
}

void CPdfContentWriter::SetLineCap(int cap) {
  AppendFormat("%d J ", cap < 0 ? 0 : cap > 2 ? 2 : cap);
}

void CPdfContentWriter::SetLineJoin(int join) {
  AppendFormat("%d j ", join < 0 ? 0 : join > 2 ? 2 : join);
}

void CPdfContentWriter::BeginOptionalContent(std::string_view propertyName) {
  Append("/OC /");
  Append(propertyName);
  Append(" BDC ");
}

void CPdfContentWriter::EndMarkedContent() {
  Append("EMC ");
}

void CPdfContentWriter::PlaceImage(double tx, double ty, double sx, double sy,
                                   std::string_view imageName) {
  Append("q ");
  char number[4][kNumberBufferSize];
  std::size_t length[4];
  const double values[] = {sx, sy, tx, ty};
  for (int i = 0; i < 4; ++i) length[i] = FormatNumber(values[i], 3, number[i]);
  const auto text = [&](int i) { return std::string_view(number[i], length[i]); };
  Append(text(0));
  Append(" 0 0 ");
  Append(text(1));
  Append(" ");
  Append(text(2));
  Append(" ");
  Append(text(3));
  Append(" cm ");
  Append("/");
  Append(imageName);
  Append(" Do ");
  Append("Q ");
}

void CPdfContentWriter::PlaceImage(const double (&matrix)[6], std::string_view imageName) {
  Append("q ");
  char number[kNumberBufferSize];
  for (const double value : matrix) {
    Append(std::string_view(number, FormatNumber(value, 3, number)));
    Append(" ");
  }
  Append("cm /");
  Append(imageName);
  Append(" Do Q ");
}

void CPdfContentWriter::Circle(double cx, double cy, double r) {
  const double k = 0.552 * r;
  MoveTo(cx + r, cy);
  CurveTo(cx + r, cy + k, cx + k, cy + r, cx, cy + r);
  CurveTo(cx - k, cy + r, cx - r, cy + k, cx - r, cy);
  CurveTo(cx - r, cy - k, cx - k, cy - r, cx, cy - r);
  CurveTo(cx + k, cy - r, cx + r, cy - k, cx + r, cy);
  Append("s ");
}

void CPdfContentWriter::Arc(double cx, double cy, double r, double start, double end,
                            bool moveFirst) {
  const double sweep = end - start;
  if (!std::isfinite(sweep) || sweep == 0.0) return;
  const int direction = end < start ? -1 : 1;
  // The fewest pieces of at most 90 degrees each; a runaway sweep is capped so that a broken
  // drawing cannot fill memory with curves.
  const double magnitude = std::fabs(sweep);
  double pieces = std::max(1.0, std::ceil(magnitude / 90.0));
  while (magnitude / pieces > 90.0) pieces += 1.0;
  while (pieces > 1.0 && magnitude / (pieces - 1.0) <= 90.0) pieces -= 1.0;
  const int n = static_cast<int>(std::min(pieces, 65536.0));
  const double piece = sweep / n;
  const double half = piece / 2;
  double mid = start + half;
  for (int j = 0; j < n; ++j) {
    const LeadIn leadIn = j > 0 ? LeadIn::None : moveFirst ? LeadIn::Move : LeadIn::Line;
    ArcSegment(cx, cy, r, mid, half, leadIn, direction);
    mid += piece;
  }
}

void CPdfContentWriter::ArcSegment(double cx, double cy, double r, double mid, double halfSweep,
                                   LeadIn leadIn, int direction) {
  const double t = std::fabs(halfSweep) * std::numbers::pi / 180.0;
  const double phi = mid * std::numbers::pi / 180.0;
  const double d = direction < 0 ? -1.0 : 1.0;
  const double cosT = std::cos(t), sinT = std::sin(t);
  // The piece in a frame where it is symmetric about the x axis, then turned by phi.
  const double h = r * (4.0 - cosT) / 3.0;
  const double v = sinT == 0.0 ? 0.0 : d * r * (1.0 - cosT) * (cosT - 3.0) / (3.0 * sinT);
  const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
  const auto px = [&](double u, double w) { return cx + u * cosPhi - w * sinPhi; };
  const auto py = [&](double u, double w) { return cy + u * sinPhi + w * cosPhi; };
  const double u0 = r * cosT, w0 = -d * r * sinT;
  if (leadIn == LeadIn::Move) MoveTo(px(u0, w0), py(u0, w0));
  if (leadIn == LeadIn::Line) LineTo(px(u0, w0), py(u0, w0));
  CurveTo(px(h, v), py(h, v), px(h, -v), py(h, -v), px(u0, -w0), py(u0, -w0));
}

void CPdfContentWriter::CloseRingTo(const PointStruct& first, const PointStruct& last) {
  if (std::fabs(last.x - first.x) > kSamePoint || std::fabs(last.y - first.y) > kSamePoint) {
    LineTo(first.x, first.y);
  }
}

void CPdfContentWriter::Polygon(int first, int last, const PointStruct* points) {
  if (!points || first < 0 || last < first) return;
  MoveTo(points[first].x, points[first].y);
  for (int i = first + 1; i <= last; ++i) LineTo(points[i].x, points[i].y);
  CloseRingTo(points[first], points[last]);
  Append("b ");
}

void CPdfContentWriter::PolyPolygon(const PointStruct* points, const int* counts, int rings) {
  Rings(points, counts, rings, "B* ");
}

void CPdfContentWriter::FillPolyPolygon(const PointStruct* points, const int* counts, int rings) {
  Rings(points, counts, rings, "f* ");
}

void CPdfContentWriter::Rings(const PointStruct* points, const int* counts, int rings,
                              const char* paint) {
  if (!points || !counts) return;
  bool wrote = false;
  const PointStruct* ring = points;
  for (int k = 0; k < rings; ++k) {
    const int count = counts[k];
    if (count <= 0) continue;
    MoveTo(ring[0].x, ring[0].y);
    for (int i = 1; i < count; ++i) LineTo(ring[i].x, ring[i].y);
    CloseRingTo(ring[0], ring[count - 1]);
    Append("h ");
    ring += count;
    wrote = true;
  }
  if (wrote) Append(paint);
}
