#include "drawing/dwf/W2dDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/ColorPalette.h"
#include "platform/Utf8.h"

namespace drawing::dwf {

namespace {

constexpr double kTurn = 65536.0;  // W2D angles are 1/65536 of a full turn

// Lineweights up to this many hundredths of a millimetre are the entity's lineweight; wider
// lines are drawn as polylines of that width.
constexpr double kWidestLineweight = 211;

// Counts the reader accepts: a count byte of 0 is followed by 256 + a 16-bit value.
constexpr std::int64_t kMaxCount = 256 + 65535;

// Pixels an embedded picture may have.
constexpr std::int64_t kMaxImagePixels = 64'000'000;

bool IsWhitespace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::uint32_t Rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  return r | std::uint32_t{g} << 8 | std::uint32_t{b} << 16 | std::uint32_t{a} << 24;
}

// The colour map of a stream that sets none (streams of revision 0.38 on): ten system colours,
// the 6 × 6 × 6 cube of the steps 0, 51 … 255 (red slowest), a ramp of twenty grays, and ten
// more system colours.
std::vector<std::uint32_t> DefaultColorMap() {
  std::vector<std::uint32_t> map = {Rgba(0, 0, 0, 255),       Rgba(128, 0, 0, 255),
                                    Rgba(0, 128, 0, 255),     Rgba(128, 128, 0, 255),
                                    Rgba(0, 0, 128, 255),     Rgba(128, 0, 128, 255),
                                    Rgba(0, 128, 128, 255),   Rgba(192, 192, 192, 255),
                                    Rgba(192, 220, 192, 255), Rgba(166, 202, 240, 255)};
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) {
        map.push_back(Rgba(static_cast<std::uint8_t>(51 * r), static_cast<std::uint8_t>(51 * g),
                           static_cast<std::uint8_t>(51 * b), 255));
      }
    }
  }
  static constexpr std::uint8_t kGrays[20] = {0,   13,  26,  40,  53,  67,  80,  93,  107, 120,
                                              134, 147, 161, 174, 187, 201, 214, 228, 241, 255};
  for (std::uint8_t gray : kGrays) map.push_back(Rgba(gray, gray, gray, 255));
  for (std::uint32_t rgb :
       {Rgba(255, 251, 240, 255), Rgba(160, 160, 164, 255), Rgba(128, 128, 128, 255),
        Rgba(255, 0, 0, 255), Rgba(0, 255, 0, 255), Rgba(255, 255, 0, 255), Rgba(0, 0, 255, 255),
        Rgba(255, 0, 255, 255), Rgba(0, 255, 255, 255), Rgba(255, 255, 255, 255)}) {
    map.push_back(rgb);
  }
  return map;
}

}  // namespace

// A view of bytes with a read position; every read checks that the bytes are there, and a read
// past the end leaves ok false and yields zeros.
struct CW2dDecoder::Cursor {
  std::string_view bytes;
  std::size_t at = 0;
  bool ok = true;

  bool AtEnd() const { return at >= bytes.size(); }
  std::size_t Left() const { return at < bytes.size() ? bytes.size() - at : 0; }
  bool Need(std::size_t count) {
    if (count > Left()) {
      ok = false;
      at = bytes.size();
      return false;
    }
    return true;
  }
  std::uint8_t Peek() const { return AtEnd() ? 0 : static_cast<std::uint8_t>(bytes[at]); }
  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return static_cast<std::uint8_t>(bytes[at++]);
  }
  std::uint16_t U16() {
    if (!Need(2)) return 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    at += 2;
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  std::uint32_t U32() {
    if (!Need(4)) return 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    at += 4;
    return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::string_view Take(std::size_t count) {
    if (!Need(count)) return {};
    const std::string_view taken = bytes.substr(at, count);
    at += count;
    return taken;
  }
  // A count byte, or 256 + the 16-bit value after a zero byte.
  std::int64_t Count() {
    const std::uint8_t first = U8();
    return first != 0 ? first : 256 + std::int64_t{U16()};
  }
  void SkipWhitespace() {
    while (!AtEnd() && IsWhitespace(Peek())) ++at;
  }
  // A readable number (integer or decimal); ok false when there is none.
  double Number() {
    SkipWhitespace();
    const char* first = bytes.data() + at;
    const char* last = bytes.data() + bytes.size();
    if (first < last && *first == '+') ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || !std::isfinite(value)) {
      ok = false;
      return 0;
    }
    at = static_cast<std::size_t>(end - bytes.data());
    return value;
  }
  // A readable whole number; one beyond ±10^15 (no coordinate, count or index is) is damage.
  std::int64_t Integer() {
    const double value = Number();
    if (!(value > -1e15 && value < 1e15)) {
      ok = false;
      return 0;
    }
    return static_cast<std::int64_t>(value);
  }
  bool Comma() {
    SkipWhitespace();
    if (Peek() != ',') return false;
    ++at;
    return true;
  }
  // A readable point "x,y".
  Point ReadPoint() {
    Point p;
    p.x = Number();
    if (!Comma()) ok = false;
    p.y = Number();
    return p;
  }
  // A string operand: 'quoted' (backslash escapes), "hex" UTF-16 units, {length + UTF-16
  // units}, or a bare word; as UTF-8.
  std::string String() {
    SkipWhitespace();
    std::string text;
    const std::uint8_t lead = Peek();
    if (lead == '{') {
      ++at;
      const std::uint32_t units = U32();
      if (units > Left() / 2) {
        ok = false;
        return text;
      }
      std::vector<char16_t> utf16(units);
      for (auto& unit : utf16) unit = static_cast<char16_t>(U16());
      if (Peek() == '}') ++at;
      return FromUtf16(utf16);
    }
    if (lead == '"') {
      ++at;
      std::vector<char16_t> utf16;
      while (!AtEnd() && Peek() != '"') {
        const std::string_view digits = Take(4);
        unsigned value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        utf16.push_back(static_cast<char16_t>(value));
      }
      if (Peek() == '"') ++at;
      return FromUtf16(utf16);
    }
    if (lead == '\'') {
      ++at;
      while (!AtEnd()) {
        char c = static_cast<char>(U8());
        if (c == '\\' && !AtEnd()) {
          c = static_cast<char>(U8());
        } else if (c == '\'') {
          break;
        }
        text.push_back(c);
      }
    } else {
      while (!AtEnd() && !IsWhitespace(Peek()) && Peek() != ')' && Peek() != '(') {
        text.push_back(static_cast<char>(U8()));
      }
    }
    // Readable strings are in the sheet's code page; bytes that are no UTF-8 are taken as
    // Latin-1 rather than lost.
    if (IsValidUtf8(text)) return text;
    std::string latin;
    for (char c : text) AppendUtf8(static_cast<unsigned char>(c), latin);
    return latin;
  }
  static std::string FromUtf16(const std::vector<char16_t>& units) {
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
      char32_t cp = units[i];
      if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        ++i;
      } else if (cp >= 0xD800 && cp < 0xE000) {
        cp = 0xFFFD;
      }
      if (cp == 0) break;
      AppendUtf8(cp, text);
    }
    return text;
  }
  // The position just after the ')' that closes an extended ASCII opcode whose '(' was just
  // read; the end of the bytes when there is none. Quoted strings hide parentheses; a '{'
  // starts binary data skipped by its length.
  std::size_t FindClose() const {
    int level = 1;
    bool quoted = false;
    for (std::size_t i = at; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (quoted) {
        if (c == '\\') {
          ++i;
        } else if (c == '\'') {
          quoted = false;
        }
        continue;
      }
      if (c == '\'') {
        quoted = true;
      } else if (c == '(') {
        ++level;
      } else if (c == ')') {
        if (--level == 0) return i + 1;
      } else if (c == '{' && i + 5 <= bytes.size()) {
        std::uint32_t n = 0;
        for (int k = 3; k >= 0; --k) n = n << 8 | static_cast<std::uint8_t>(bytes[i + 1 + k]);
        // A string of n UTF-16 units ends in '}' after them; binary data is n bytes long.
        const std::uint64_t asString = i + 5 + std::uint64_t{n} * 2;
        if (asString < bytes.size() && bytes[asString] == '}') {
          i = asString;
        } else if (i + 4 + std::uint64_t{n} < bytes.size()) {
          i = i + 4 + n;
        } else {
          return bytes.size();
        }
      }
    }
    return bytes.size();
  }
};

CW2dDecoder::CW2dDecoder(Drawing& drawing, std::vector<Entity>& target)
    : drawing(drawing), root(target), target(&target) {
  colorMap = DefaultColorMap();
  // Layer 0 of the drawing is what entities are on until a stream names a layer.
  layer = LayerIndex("0");
}

void CW2dDecoder::SetPlacement(const W2dPlacement& value) {
  placement = value;
}

Vec3 CW2dDecoder::Paper(Point p) const {
  return {placement.a * p.x + placement.c * p.y + placement.tx,
          placement.b * p.x + placement.d * p.y + placement.ty, 0};
}

double CW2dDecoder::PaperLength(double logical) const {
  return logical * std::sqrt(std::fabs(placement.a * placement.d - placement.b * placement.c));
}

double CW2dDecoder::PaperAngle() const {
  return std::atan2(placement.b, placement.a) * 180 / std::numbers::pi;
}

void CW2dDecoder::Note(Point p) {
  if (!measured) {
    minX = maxX = p.x;
    minY = maxY = p.y;
    measured = true;
    return;
  }
  minX = std::min(minX, p.x);
  maxX = std::max(maxX, p.x);
  minY = std::min(minY, p.y);
  maxY = std::max(maxY, p.y);
}

bool CW2dDecoder::Extents(double* left, double* bottom, double* right, double* top) const {
  if (!measured) return false;
  *left = minX;
  *bottom = minY;
  *right = maxX;
  *top = maxY;
  return true;
}

void CW2dDecoder::Skip(const std::string& what) {
  ++skipped[what];
}

std::int32_t CW2dDecoder::LayerIndex(const std::string& name) {
  const std::string wanted = name.empty() ? "0" : name;
  for (std::size_t i = 0; i < drawing.layers.size(); ++i) {
    if (drawing.layers[i].name == wanted) return static_cast<std::int32_t>(i);
  }
  Layer added;
  added.name = wanted;
  drawing.layers.push_back(std::move(added));
  return static_cast<std::int32_t>(drawing.layers.size() - 1);
}

std::int32_t CW2dDecoder::StyleIndex() {
  // A style per face and weight: "Arial", "Arial Bold", "Arial Italic", "Arial Bold Italic",
  // as the package names the fonts it embeds.
  std::string file = font.name;
  if (font.style & 4) file += " Bold";
  if (font.style & 8) file += " Italic";
  for (std::size_t i = 0; i < drawing.textStyles.size(); ++i) {
    if (drawing.textStyles[i].fontFile == file) return static_cast<std::int32_t>(i);
  }
  TextStyle style;
  style.name = file;
  style.fontFile = file;
  style.fontFamily = font.name;
  drawing.textStyles.push_back(std::move(style));
  return static_cast<std::int32_t>(drawing.textStyles.size() - 1);
}

void CW2dDecoder::SetColorIndex(int index) {
  if (index < 0 || index >= static_cast<int>(colorMap.size())) return;
  const std::uint32_t rgb = colorMap[index] & 0xFFFFFF;
  // A colour of the map is the pen of its index; index 0 (the model's ByBlock) and colours
  // that differ from the palette's keep their own value too.
  if (index >= 1 && index <= 255 && ColorRgb(index) == rgb) {
    color = Color{static_cast<std::int16_t>(index), false, 0};
  } else if (index >= 1 && index <= 255) {
    color = Color{static_cast<std::int16_t>(index), true, rgb};
  } else {
    SetColorRgba(colorMap[index]);
  }
}

void CW2dDecoder::SetColorRgba(std::uint32_t rgba) {
  const std::uint32_t rgb = rgba & 0xFFFFFF;
  const int nearest =
      NearestColorIndex(static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                        static_cast<std::uint8_t>(rgb >> 16));
  color = Color{static_cast<std::int16_t>(nearest), true, rgb};
}

Entity& CW2dDecoder::Add(EntityData data) {
  Entity& entity = target->emplace_back();
  entity.layer = layer;
  entity.color = color;
  entity.lineweight = kLineweightDefault;
  entity.linetype = kLinetypeContinuous;
  const double millimetres =
      PaperLength(static_cast<double>(lineWeight)) * placement.millimetresPerUnit;
  const double hundredths = std::round(millimetres * 100);
  if (hundredths <= kWidestLineweight && hundredths >= 0) {
    entity.lineweight = static_cast<std::int16_t>(hundredths);
  }
  if (linePattern > 1) {
    // The predefined patterns are dashes of a few millimetres on the paper.
    const std::string name = "W2D_PATTERN_" + std::to_string(linePattern);
    std::int32_t index = -1;
    for (std::size_t i = 0; i < drawing.linetypes.size(); ++i) {
      if (drawing.linetypes[i].name == name) index = static_cast<std::int32_t>(i);
    }
    if (index < 0) {
      Linetype pattern;
      pattern.name = name;
      const double mm = 1.0 / placement.millimetresPerUnit;
      if (linePattern == 3) {
        pattern.dashes = {0.0, -1.0 * mm};  // dotted
      } else if (linePattern == 4) {
        pattern.dashes = {4.0 * mm, -1.0 * mm, 0.0, -1.0 * mm};  // dash dot
      } else {
        pattern.dashes = {3.0 * mm, -1.5 * mm};  // dashed and the others
      }
      for (double d : pattern.dashes) pattern.patternLength += std::fabs(d);
      drawing.linetypes.push_back(std::move(pattern));
      index = static_cast<std::int32_t>(drawing.linetypes.size() - 1);
    }
    entity.linetype = index;
  }
  entity.data = std::move(data);
  ++added;
  return entity;
}

void CW2dDecoder::AddPolyline(const std::vector<Point>& points, bool closed) {
  for (const Point& p : points) Note(p);
  if (measureOnly || !visible || points.empty()) return;
  drawing::Polyline polyline;
  polyline.closed = closed;
  polyline.vertices.reserve(points.size());
  for (const Point& p : points) polyline.vertices.push_back({Paper(p), 0, 0, 0});
  const double millimetres =
      PaperLength(static_cast<double>(lineWeight)) * placement.millimetresPerUnit;
  if (std::round(millimetres * 100) > kWidestLineweight) {
    polyline.constantWidth = PaperLength(static_cast<double>(lineWeight));
  }
  if (points.size() == 2 && polyline.constantWidth == 0) {
    Add(drawing::Line{Paper(points[0]), Paper(points[1])});
    return;
  }
  Add(std::move(polyline));
}

void CW2dDecoder::AddLine(Point a, Point b) {
  AddPolyline({a, b}, false);
}

void CW2dDecoder::AddFilled(const std::vector<std::vector<Point>>& rings) {
  for (const auto& ring : rings) {
    for (const Point& p : ring) Note(p);
  }
  if (measureOnly || !visible) return;
  Hatch hatch;
  hatch.solid = true;
  hatch.pattern = "SOLID";
  for (const auto& ring : rings) {
    if (ring.size() < 3) continue;
    HatchPath path;
    path.isPolyline = true;
    path.closed = true;
    for (const Point& p : ring) path.vertices.push_back({Paper(p), 0, 0, 0});
    hatch.paths.push_back(std::move(path));
  }
  if (!hatch.paths.empty()) Add(std::move(hatch));
}

void CW2dDecoder::AddTriangles(const std::vector<Point>& strip) {
  for (const Point& p : strip) Note(p);
  if (measureOnly || !visible) return;
  // A strip: every point after the second closes a triangle with the two before it.
  for (std::size_t i = 2; i < strip.size(); ++i) {
    Solid solid;
    solid.corners[0] = Paper(strip[i - 2]);
    solid.corners[1] = Paper(strip[i - 1]);
    solid.corners[2] = Paper(strip[i]);
    solid.corners[3] = solid.corners[2];
    Add(solid);
  }
}

void CW2dDecoder::AddEllipse(Point center, double major, double minor, double start, double end,
                             double tilt) {
  // Angles in turns; an end of 0 or equal to the start is the whole curve.
  Note({center.x - std::max(major, minor), center.y - std::max(major, minor)});
  Note({center.x + std::max(major, minor), center.y + std::max(major, minor)});
  if (measureOnly || !visible || !(major > 0) || !(minor > 0)) return;
  const bool whole = end == 0 || std::fabs(end - start) < 1e-12 || std::fabs(end - start) >= 1;
  const double turn = PaperAngle();
  const bool mirrored = placement.a * placement.d - placement.b * placement.c < 0;
  const Vec3 c = Paper(center);
  if (fill) {
    // A filled ellipse or wedge: its outline as a ring, closed through the centre for a wedge.
    std::vector<Point> ring;
    const double from = whole ? 0 : start, to = whole ? 1 : (end > start ? end : end + 1);
    const int segments = 64;
    const double cosT = std::cos(tilt * 2 * std::numbers::pi);
    const double sinT = std::sin(tilt * 2 * std::numbers::pi);
    if (!whole) ring.push_back(center);
    for (int k = 0; k <= segments; ++k) {
      const double t = (from + (to - from) * k / segments) * 2 * std::numbers::pi;
      const double x = major * std::cos(t), y = minor * std::sin(t);
      ring.push_back({center.x + x * cosT - y * sinT, center.y + x * sinT + y * cosT});
    }
    AddFilled({ring});
    return;
  }
  if (major == minor && !mirrored) {
    const double r = PaperLength(major);
    if (whole) {
      Add(drawing::Circle{c, r});
    } else {
      const double offset = tilt * 360 + turn;
      Add(drawing::Arc{c, r, start * 360 + offset, end * 360 + offset});
    }
    return;
  }
  drawing::Ellipse ellipse;
  ellipse.center = c;
  double angle = tilt * 2 * std::numbers::pi;
  double big = major, small = minor, shift = 0;
  if (minor > major) {
    // The model's ellipse turns from its major axis: start a quarter turn later.
    std::swap(big, small);
    angle += std::numbers::pi / 2;
    shift = -std::numbers::pi / 2;
  }
  const Vec3 tip = Paper({center.x + big * std::cos(angle), center.y + big * std::sin(angle)});
  ellipse.majorAxis = {tip.x - c.x, tip.y - c.y, 0};
  ellipse.ratio = small / big;
  if (!whole) {
    ellipse.startParam = start * 2 * std::numbers::pi + shift;
    ellipse.endParam = end * 2 * std::numbers::pi + shift;
    if (mirrored) std::swap(ellipse.startParam, ellipse.endParam);
  }
  Add(std::move(ellipse));
}

void CW2dDecoder::AddBezier(const std::vector<Point>& points) {
  for (const Point& p : points) Note(p);
  if (measureOnly || !visible || points.size() < 4) return;
  // Connected cubic pieces as one clamped B-spline: each inner knot three times.
  const std::size_t pieces = (points.size() - 1) / 3;
  Spline spline;
  spline.degree = 3;
  for (std::size_t i = 0; i < pieces * 3 + 1; ++i) spline.controlPoints.push_back(Paper(points[i]));
  spline.knots = {0, 0, 0, 0};
  for (std::size_t k = 1; k < pieces; ++k) {
    for (int r = 0; r < 3; ++r) spline.knots.push_back(static_cast<double>(k));
  }
  for (int r = 0; r < 4; ++r) spline.knots.push_back(static_cast<double>(pieces));
  Add(std::move(spline));
}

void CW2dDecoder::AddText(Point at, const std::string& utf8, const Point* box) {
  Note(at);
  if (measureOnly || !visible || utf8.empty() || !(font.height > 0)) return;
  Text text;
  text.text = utf8;
  text.insertion = Paper(at);
  // The font's height is the character cell; the model's text height is the height of the
  // capitals, about 0.7 of the cell in the faces drawings use.
  text.height = PaperLength(font.height) * 0.7;
  text.rotation = font.rotation + PaperAngle();
  text.widthFactor = font.widthScale > 0 ? font.widthScale : 1.0;
  text.obliqueAngle = font.oblique;
  text.generationFlags = (font.flags & 2 ? 2 : 0) | (font.flags & 4 ? 4 : 0);
  text.style = StyleIndex();
  if (box) {
    // The writer's own box of the text: its lower edge runs along the baseline for the text's
    // width. The text is fitted to that width, whatever the widths of the face that draws it.
    const double dx = box[1].x - box[0].x, dy = box[1].y - box[0].y;
    if (std::hypot(dx, dy) > 0 && std::isfinite(dx) && std::isfinite(dy)) {
      text.horizontalJustification = 5;
      text.alignment = Paper({at.x + dx, at.y + dy});
    }
  }
  Add(std::move(text));
}

void CW2dDecoder::AddImage(int format, std::uint16_t columns, std::uint16_t rows, Point lo,
                           Point hi, const std::vector<std::uint32_t>& palette,
                           std::string_view data) {
  Note(lo);
  Note(hi);
  if (measureOnly || !visible || columns == 0 || rows == 0) return;
  if (std::int64_t{columns} * rows > kMaxImagePixels) {
    Skip("IMAGE (too large)");
    return;
  }
  ImageDef definition;
  definition.pixelSize = {static_cast<double>(columns), static_cast<double>(rows)};
  definition.fileName = "(embedded image)";
  const std::size_t pixels = std::size_t{columns} * rows;
  const auto put = [&](std::size_t i, std::uint32_t rgba) {
    std::uint8_t* out = &definition.rgba[i * 4];
    out[0] = static_cast<std::uint8_t>(rgba);
    out[1] = static_cast<std::uint8_t>(rgba >> 8);
    out[2] = static_cast<std::uint8_t>(rgba >> 16);
    out[3] = static_cast<std::uint8_t>(rgba >> 24);
  };
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  switch (format) {
    case 0x0002: {  // bitonal: a bit per pixel, rows padded to bytes, two colours
      const std::size_t rowBytes = (columns + 7) / 8;
      if (data.size() < rowBytes * rows || palette.size() < 2) return Skip("IMAGE (damaged)");
      definition.rgba.resize(pixels * 4);
      for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < columns; ++x) {
          const int bit = (bytes[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
          put(y * columns + x, palette[bit]);
        }
      }
      break;
    }
    case 0x0004:    // indexed: a byte per pixel into the stream's colour map
    case 0x0005: {  // mapped: a byte per pixel into the image's own map
      const std::vector<std::uint32_t>& map = format == 0x0004 ? colorMap : palette;
      if (data.size() < pixels || map.empty()) return Skip("IMAGE (damaged)");
      definition.rgba.resize(pixels * 4);
      for (std::size_t i = 0; i < pixels; ++i) {
        put(i, bytes[i] < map.size() ? map[bytes[i]] : map[0]);
      }
      break;
    }
    case 0x0006:  // RGB
      if (data.size() < pixels * 3) return Skip("IMAGE (damaged)");
      definition.rgba.resize(pixels * 4);
      for (std::size_t i = 0; i < pixels; ++i) {
        put(i, Rgba(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2], 255));
      }
      break;
    case 0x0007:  // RGBA
      if (data.size() < pixels * 4) return Skip("IMAGE (damaged)");
      definition.rgba.assign(bytes, bytes + pixels * 4);
      break;
    case 0x0008:  // JPEG
    case 0x000C:  // PNG
      definition.embedded.assign(data.data(), data.size());
      break;
    case 0x0009:    // CCITT group 4, one bit per pixel, black on white
    case 0x000D: {  // the same with a map of two colours
      // Handed over as a TIFF file of one strip that the drawing library reads.
      std::string tiff;
      const auto u16 = [&tiff](unsigned v) {
        tiff.push_back(static_cast<char>(v & 0xFF));
        tiff.push_back(static_cast<char>(v >> 8 & 0xFF));
      };
      const auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
      };
      const auto entry = [&](unsigned tag, unsigned type, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(1);
        if (type == 3) {
          u16(value);
          u16(0);
        } else {
          u32(value);
        }
      };
      constexpr std::uint32_t kEntries = 9;
      const std::uint32_t stripAt = 8 + 2 + kEntries * 12 + 4;
      tiff = "II";
      u16(42);
      u32(8);
      u16(kEntries);
      entry(256, 3, columns);                                  // width
      entry(257, 3, rows);                                     // length
      entry(258, 3, 1);                                        // bits per sample
      entry(259, 3, 4);                                        // compression: CCITT group 4
      entry(262, 3, 0);                                        // photometric: white is zero
      entry(273, 4, stripAt);                                  // strip offset
      entry(277, 3, 1);                                        // samples per pixel
      entry(278, 4, rows);                                     // rows per strip
      entry(279, 4, static_cast<std::uint32_t>(data.size()));  // strip byte count
      u32(0);
      tiff.append(data);
      definition.embedded = std::move(tiff);
      break;
    }
    default:
      return Skip("IMAGE (format " + std::to_string(format) + ")");
  }
  drawing.imageDefs.push_back(std::move(definition));
  drawing::Image image;
  const Vec3 a = Paper(lo), b = Paper(hi);
  image.insertion = {std::min(a.x, b.x), std::min(a.y, b.y), 0};
  image.u = {std::fabs(b.x - a.x) / columns, 0, 0};
  image.v = {0, std::fabs(b.y - a.y) / rows, 0};
  image.pixelSize = {static_cast<double>(columns), static_cast<double>(rows)};
  image.imageDef = static_cast<std::int32_t>(drawing.imageDefs.size() - 1);
  Add(std::move(image));
}

void CW2dDecoder::SetViewport(std::vector<Point> boundary) {
  for (const Point& p : boundary) Note(p);
  if (measureOnly) return;
  // Entities after a viewport are drawn inside it, until the next viewport.
  target = &root;
  if (boundary.size() < 3) return;
  ClippedGroup group;
  for (const Point& p : boundary) {
    const Vec3 q = Paper(p);
    group.boundary.push_back({q.x, q.y});
  }
  Entity& entity = root.emplace_back();
  entity.layer = 0;
  entity.color = Color{};
  entity.data = std::move(group);
  target = &std::get<ClippedGroup>(entity.data).entities;
}

bool CW2dDecoder::Decode(std::string_view stream, std::string* note) {
  Cursor in{stream, 0, true};
  if (stream.size() >= 12 && stream[0] == '(' && stream[11] == ')' &&
      (stream.substr(1, 5) == "W2D V" || stream.substr(1, 5) == "DWF V")) {
    const std::string_view version = stream.substr(6, 5);  // "06.00"
    int major = 0, minor = 0;
    std::from_chars(version.data(), version.data() + 2, major);
    std::from_chars(version.data() + 3, version.data() + 5, minor);
    revision = major * 100 + minor;
    in.at = 12;
  } else {
    if (note) *note = "no W2D header";
    return false;
  }
  const bool read = Run(in, 0);
  target = &root;
  if (!read && note && note->empty()) {
    *note = "the graphics stop making sense at byte " + std::to_string(in.at);
  }
  return read;
}

bool CW2dDecoder::Run(Cursor& in, int depth) {
  while (true) {
    in.SkipWhitespace();
    if (in.AtEnd()) return true;
    const std::uint8_t opcode = in.U8();
    bool ok = true;
    if (opcode == '(') {
      // (EndOfDWF) ends the stream; whatever follows it is not graphics.
      if (in.bytes.substr(in.at, 9) == "EndOfDWF)") return true;
      ok = ExtendedAscii(in, depth);
    } else if (opcode == '{') {
      ok = ExtendedBinary(in, depth);
    } else if (opcode == ')' || opcode == '}') {
      continue;  // a stray closing byte of damaged data
    } else {
      ok = SingleByte(opcode, in);
    }
    if (!ok || !in.ok) {
      in.at = std::min(in.at, in.bytes.size());
      return false;
    }
  }
}

bool CW2dDecoder::SingleByte(std::uint8_t opcode, Cursor& in) {
  // Relative points: each is the previous point plus its offset.
  const auto relative32 = [&]() {
    const std::int32_t dx = in.I32(), dy = in.I32();
    currentX += dx;
    currentY += dy;
    return Point{static_cast<double>(currentX), static_cast<double>(currentY)};
  };
  const auto relative16 = [&]() {
    const std::int16_t dx = in.I16(), dy = in.I16();
    currentX += dx;
    currentY += dy;
    return Point{static_cast<double>(currentX), static_cast<double>(currentY)};
  };
  const auto points = [&](std::int64_t count, bool wide) {
    std::vector<Point> list;
    if (count < 0 || count > kMaxCount ||
        static_cast<std::size_t>(count) * (wide ? 8 : 4) > in.Left()) {
      in.ok = false;
      return list;
    }
    list.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) list.push_back(wide ? relative32() : relative16());
    return list;
  };
  const auto asciiPoints = [&](std::int64_t count) {
    std::vector<Point> list;
    if (count < 0 || count > kMaxCount || static_cast<std::size_t>(count) * 3 > in.Left()) {
      in.ok = false;
      return list;
    }
    for (std::int64_t i = 0; i < count && in.ok; ++i) list.push_back(in.ReadPoint());
    return list;
  };
  switch (opcode) {
    // ---- Drawing ----
    case 'L': {  // line, readable, absolute
      const Point a = in.ReadPoint(), b = in.ReadPoint();
      if (in.ok) AddLine(a, b);
      return true;
    }
    case 'l': {  // line, 32-bit relative
      const Point a = relative32(), b = relative32();
      if (in.ok) AddLine(a, b);
      return true;
    }
    case 0x0C: {  // line, 16-bit relative
      const Point a = relative16(), b = relative16();
      if (in.ok) AddLine(a, b);
      return true;
    }
    case 0x8C: {  // several lines, 16-bit relative
      const std::int64_t count = in.U8();
      for (std::int64_t i = 0; i < count && in.ok; ++i) {
        const Point a = relative16(), b = relative16();
        if (in.ok) AddLine(a, b);
      }
      return true;
    }
    case 'P':
    case 'p':
    case 0x10: {  // polyline, or polygon in fill mode
      std::vector<Point> list;
      if (opcode == 'P') {
        list = asciiPoints(in.Integer());
      } else {
        list = points(in.Count(), opcode == 'p');
      }
      if (!in.ok) return true;
      if (fill) {
        AddFilled({list});
      } else {
        AddPolyline(list, false);
      }
      return true;
    }
    case 'T':
    case 't':
    case 0x14: {  // polytriangle (a strip, always filled)
      std::vector<Point> list;
      if (opcode == 'T') {
        list = asciiPoints(in.Integer());
      } else {
        list = points(in.Count(), opcode == 't');
      }
      if (in.ok) AddTriangles(list);
      return true;
    }
    case 'k':
    case 0x0B: {  // contour set: filled polygons with holes
      const std::int64_t contours = in.Count();
      if (contours > kMaxCount || static_cast<std::size_t>(contours) > in.Left()) {
        in.ok = false;
        return true;
      }
      std::vector<std::int64_t> counts;
      std::int64_t total = 0;
      for (std::int64_t i = 0; i < contours && in.ok; ++i) {
        counts.push_back(in.Count());
        total += counts.back();
      }
      std::vector<Point> all = points(total, opcode == 'k');
      if (!in.ok) return true;
      std::vector<std::vector<Point>> rings;
      std::size_t at = 0;
      for (std::int64_t count : counts) {
        rings.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + count));
        at += static_cast<std::size_t>(count);
      }
      AddFilled(rings);
      return true;
    }
    case 'R': {  // circle, readable
      const Point c = in.ReadPoint();
      const double r = in.Number();
      if (in.ok) AddEllipse(c, r, r, 0, 0, 0);
      return true;
    }
    case 'r': {
      const Point c = relative32();
      const double r = in.U32();
      if (in.ok) AddEllipse(c, r, r, 0, 0, 0);
      return true;
    }
    case 0x12: {
      const Point c = relative16();
      const double r = in.U16();
      if (in.ok) AddEllipse(c, r, r, 0, 0, 0);
      return true;
    }
    case 0x92: {  // circular arc: centre, radius, start, end
      const Point c = relative32();
      const double r = in.U32();
      const double start = in.U16() / kTurn, end = in.U16() / kTurn;
      if (in.ok) AddEllipse(c, r, r, start, end, 0);
      return true;
    }
    case 'E': {  // ellipse, readable
      const Point c = in.ReadPoint();
      const Point radii = in.ReadPoint();
      if (in.ok) AddEllipse(c, radii.x, radii.y, 0, 0, 0);
      return true;
    }
    case 'e': {  // ellipse: centre, radii, start, end, tilt
      const Point c = relative32();
      const double major = in.I32(), minor = in.I32();
      const double start = in.U16() / kTurn, end = in.U16() / kTurn, tilt = in.U16() / kTurn;
      if (in.ok) AddEllipse(c, major, minor, start, end, tilt);
      return true;
    }
    case 'b':
    case 0x02: {  // poly-Bézier: a start and three points per piece
      const std::int64_t pieces = in.Count();
      std::vector<Point> list = points(pieces * 3 + 1, opcode == 'b');
      if (in.ok) AddBezier(list);
      return true;
    }
    case 'B': {  // poly-Bézier, readable
      const std::int64_t pieces = in.Integer();
      std::vector<Point> list = asciiPoints(pieces * 3 + 1);
      if (in.ok) AddBezier(list);
      return true;
    }
    case 'x':
    case 0x18: {  // text: position, string; the complex form then scores and a bounding box
      const Point at = relative32();
      const std::string text = in.String();
      if (opcode == 0x18) {
        const auto scores = [&]() {
          const std::int64_t count = in.Count();
          if (count > kMaxCount) in.ok = false;
          for (std::int64_t i = 1; i < count && in.ok; ++i) in.Count();
        };
        scores();  // overscore
        scores();  // underscore
        // The bounding box: four points, relative like all others, that move the current
        // point on.
        Point box[4];
        for (int k = 0; k < 4; ++k) box[k] = relative32();
        if (revision >= 600) scores();  // reserved
        if (in.ok) AddText(at, text, box);
        return true;
      }
      if (in.ok) AddText(at, text);
      return true;
    }
    case 'g':
    case 0x07:
    case 'q':
    case 0x11: {  // Gouraud polytriangle and polyline: points with a colour each
      const bool wide = opcode == 'g' || opcode == 'q';
      const std::int64_t count = in.Count();
      if (count > kMaxCount || static_cast<std::size_t>(count) * (wide ? 12 : 8) > in.Left()) {
        in.ok = false;
        return true;
      }
      std::vector<Point> list;
      std::uint64_t sum[4] = {};
      for (std::int64_t i = 0; i < count; ++i) {
        list.push_back(wide ? relative32() : relative16());
        for (int k = 0; k < 4; ++k) sum[k] += in.U8();
      }
      if (!in.ok || count == 0) return true;
      // Drawn in the mean of their colours.
      const Color saved = color;
      SetColorRgba(Rgba(static_cast<std::uint8_t>(sum[0] / count),
                        static_cast<std::uint8_t>(sum[1] / count),
                        static_cast<std::uint8_t>(sum[2] / count), 255));
      if (opcode == 'g' || opcode == 0x07) {
        AddTriangles(list);
      } else {
        AddPolyline(list, false);
      }
      color = saved;
      return true;
    }
    case 'M':
    case 'm':
    case 0x8D: {  // macro or marker drawing: a set of points
      std::vector<Point> list;
      if (opcode == 'M') {
        list = asciiPoints(in.Integer());
      } else {
        list = points(in.Count(), opcode == 'm');
      }
      for (const Point& p : list) Note(p);
      // Publishers write point entities as markers of a macro nobody defined: each point is
      // drawn as a dot, as the drawing's points are.
      if (in.ok && !measureOnly && visible) {
        for (const Point& p : list) Add(drawing::Point{Paper(p)});
      }
      return true;
    }

    // ---- State ----
    case 'C':  // colour index, readable
      SetColorIndex(static_cast<int>(std::clamp<std::int64_t>(in.Integer(), -1, 256)));
      return true;
    case 'c':
      SetColorIndex(in.U8());
      return true;
    case 0x03: {  // colour: red, green, blue, alpha (blue first before revision 0.33)
      const std::uint8_t p0 = in.U8(), p1 = in.U8(), p2 = in.U8(), alpha = in.U8();
      SetColorRgba(revision < 33 ? Rgba(p2, p1, p0, alpha) : Rgba(p0, p1, p2, alpha));
      return true;
    }
    case 'F':
      fill = true;
      return true;
    case 'f':
      fill = false;
      return true;
    case 'V':
      visible = true;
      return true;
    case 'v':
      visible = false;
      return true;
    case 0x17:
      lineWeight = std::max<std::int32_t>(0, in.I32());
      return true;
    case 0xAC: {  // layer by number
      const std::int64_t number = in.Count();
      if (auto found = layersByNumber.find(number); found != layersByNumber.end()) {
        layer = found->second;
      }
      return true;
    }
    case 0xCC:  // line pattern by number
      linePattern = static_cast<std::int32_t>(in.Count());
      return true;
    case 0x06: {  // font: a field mask, then the fields it names
      const std::uint16_t fields = in.U16();
      if (fields & 0x0001) font.name = in.String();
      if (fields & 0x0002) in.U8();  // character set
      if (fields & 0x0004) in.U8();  // pitch
      if (fields & 0x0008) in.U8();  // family
      if (fields & 0x0010) font.style = in.U8();
      if (fields & 0x0020) font.height = in.I32();
      if (fields & 0x0040) font.rotation = in.U16() * 360.0 / kTurn;
      if (fields & 0x0080) font.widthScale = in.U16() / 1024.0;
      if (fields & 0x0100) in.U16();  // spacing
      if (fields & 0x0200) font.oblique = in.U16() * 360.0 / kTurn;
      if (fields & 0x0400) font.flags = in.U32();
      if (font.oblique > 180) font.oblique -= 360;
      return true;
    }
    case 'O': {  // the current point, absolute
      currentX = in.I32();
      currentY = in.I32();
      return true;
    }
    case 'N':  // object nodes group what follows; they draw nothing
      in.I32();
      return true;
    case 'n':
      in.I16();
      return true;
    case 0x0E:
      return true;
    case 'G':  // macro or marker index, readable
      in.Number();
      return true;
    case 0x87:  // marker glyph
      in.U16();
      return true;
    case 'S':  // macro or marker size, readable
      in.Number();
      return true;
    case 's':
      in.I32();
      return true;
    default:
      return false;  // an unknown single-byte opcode: its operands' length is unknown
  }
}

bool CW2dDecoder::ExtendedAscii(Cursor& in, int depth) {
  if (depth > kMaxNesting) return false;
  const std::size_t close = in.FindClose();
  // The name, then the operands up to the closing parenthesis.
  std::string name;
  while (!in.AtEnd() && in.at < close && !IsWhitespace(in.Peek()) && in.Peek() != '(' &&
         in.Peek() != ')' && in.Peek() != '\'') {
    name.push_back(static_cast<char>(in.U8()));
  }
  Cursor op{in.bytes.substr(0, close > 0 ? close - 1 : 0), in.at, true};
  in.at = close;
  // A nested option "(Name …)": its name and a cursor over its operands.
  const auto options = [&](Cursor& outer, auto handle) {
    while (true) {
      outer.SkipWhitespace();
      if (outer.AtEnd() || outer.Peek() != '(') return;
      ++outer.at;
      const std::size_t end = outer.FindClose();
      std::string option;
      while (outer.at < end && !IsWhitespace(outer.Peek()) && outer.Peek() != ')' &&
             outer.Peek() != '(') {
        option.push_back(static_cast<char>(outer.U8()));
      }
      Cursor inner{outer.bytes.substr(0, end > 0 ? end - 1 : 0), outer.at, true};
      handle(option, inner);
      outer.at = end;
    }
  };
  if (name == "Color") {
    const double first = op.Number();
    if (op.Comma()) {
      const double g = op.Number();
      op.Comma();
      const double b = op.Number();
      op.Comma();
      const double a = op.Number();
      if (op.ok) {
        const auto byte = [](double v) {
          return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        };
        SetColorRgba(Rgba(byte(first), byte(g), byte(b), byte(a)));
      }
    } else if (op.ok) {
      SetColorIndex(static_cast<int>(std::clamp(first, -1.0, 256.0)));
    }
  } else if (name == "ColorMap") {
    const double count = op.Number();
    if (op.ok && count >= 1 && count <= 256) {
      std::vector<std::uint32_t> map;
      for (int i = 0; i < static_cast<int>(count) && op.ok; ++i) {
        double v[4];
        for (int k = 0; k < 4; ++k) {
          v[k] = op.Number();
          if (k < 3) op.Comma();
        }
        map.push_back(Rgba(static_cast<std::uint8_t>(std::clamp(v[0], 0.0, 255.0)),
                           static_cast<std::uint8_t>(std::clamp(v[1], 0.0, 255.0)),
                           static_cast<std::uint8_t>(std::clamp(v[2], 0.0, 255.0)),
                           static_cast<std::uint8_t>(std::clamp(v[3], 0.0, 255.0))));
      }
      if (op.ok) colorMap = std::move(map);
    }
  } else if (name == "LineWeight") {
    const double weight = op.Number();
    if (op.ok) lineWeight = static_cast<std::int64_t>(std::clamp(weight, 0.0, 2e9));
  } else if (name == "Layer") {
    const double number = op.Number();
    op.SkipWhitespace();
    if (op.ok) {
      const auto key = static_cast<std::int64_t>(std::clamp(number, -1e15, 1e15));
      if (!op.AtEnd()) {
        layersByNumber[key] = LayerIndex(op.String());
      } else if (!layersByNumber.count(key)) {
        layersByNumber[key] = LayerIndex(std::to_string(key));
      }
      layer = layersByNumber[key];
    }
  } else if (name == "LinePattern") {
    // Named patterns: solid draws continuous, the others dashed.
    const std::string pattern = op.String();
    linePattern = pattern.empty() || pattern == "Solid" ? 1 : pattern == "Dotted" ? 3 : 2;
  } else if (name == "Contour") {
    const double contours = op.Number();
    if (!op.ok || contours < 1 || contours > kMaxCount) return true;
    std::vector<std::int64_t> counts;
    for (int i = 0; i < static_cast<int>(contours) && op.ok; ++i) {
      counts.push_back(op.Integer());
    }
    std::vector<std::vector<Point>> rings;
    for (std::int64_t count : counts) {
      if (count < 0 || count > kMaxCount) return true;
      std::vector<Point>& ring = rings.emplace_back();
      for (std::int64_t i = 0; i < count && op.ok; ++i) ring.push_back(op.ReadPoint());
    }
    if (op.ok) AddFilled(rings);
  } else if (name == "Circle" || name == "Ellipse") {
    const Point c = op.ReadPoint();
    Point radii;
    if (name == "Circle") {
      radii.x = radii.y = op.Number();
    } else {
      radii = op.ReadPoint();
    }
    double start = 0, end = 0, tilt = 0;
    op.SkipWhitespace();
    if (!op.AtEnd()) {
      const Point angles = op.ReadPoint();
      start = angles.x / kTurn;
      end = angles.y / kTurn;
      op.SkipWhitespace();
      if (!op.AtEnd()) tilt = op.Number() / kTurn;
    }
    if (op.ok) AddEllipse(c, radii.x, radii.y, start, end, tilt);
  } else if (name == "Bezier") {
    const double pieces = op.Number();
    if (!op.ok || pieces < 1 || pieces > kMaxCount) return true;
    std::vector<Point> list;
    for (int i = 0; i < static_cast<int>(pieces) * 3 + 1 && op.ok; ++i)
      list.push_back(op.ReadPoint());
    if (op.ok) AddBezier(list);
  } else if (name == "Text") {
    const Point at = op.ReadPoint();
    const std::string text = op.String();
    if (op.ok) AddText(at, text);
  } else if (name == "Gouraud") {
    const double count = op.Number();
    if (!op.ok || count < 3 || count > kMaxCount) return true;
    std::vector<Point> list;
    double sum[3] = {};
    for (int i = 0; i < static_cast<int>(count) && op.ok; ++i) {
      list.push_back(op.ReadPoint());
      for (int k = 0; k < 4; ++k) {
        const double v = op.Number();
        if (k < 3) sum[k] += v, op.Comma();
      }
    }
    if (!op.ok) return true;
    const Color saved = color;
    const auto mean = [&](int k) {
      return static_cast<std::uint8_t>(std::clamp(sum[k] / count, 0.0, 255.0));
    };
    SetColorRgba(Rgba(mean(0), mean(1), mean(2), 255));
    AddTriangles(list);
    color = saved;
  } else if (name == "Font") {
    options(op, [&](const std::string& option, Cursor& value) {
      if (option == "Name") {
        font.name = value.String();
      } else if (option == "Height") {
        font.height = value.Number();
      } else if (option == "Rotation") {
        font.rotation = value.Number() * 360.0 / kTurn;
      } else if (option == "Widthscale") {
        font.widthScale = value.Number() / 1024.0;
      } else if (option == "Oblique") {
        font.oblique = value.Number() * 360.0 / kTurn;
        if (font.oblique > 180) font.oblique -= 360;
      } else if (option == "Flags") {
        font.flags = static_cast<std::uint32_t>(std::clamp(value.Number(), 0.0, 4294967295.0));
      } else if (option == "Style") {
        font.style = 0;
        while (value.ok && !value.AtEnd()) {
          const std::string word = value.String();
          if (word.empty()) break;
          if (word == "bold") font.style |= 4;
          if (word == "italic") font.style |= 8;
        }
      }
    });
  } else if (name == "Viewport") {
    op.String();  // the viewport's name
    std::vector<Point> boundary;
    op.SkipWhitespace();
    if (!op.AtEnd() && op.Peek() != '(') {
      // The older form: a count and the corners.
      const double count = op.Number();
      if (op.ok && count >= 0 && count <= kMaxCount) {
        for (int i = 0; i < static_cast<int>(count) && op.ok; ++i)
          boundary.push_back(op.ReadPoint());
      }
    }
    options(op, [&](const std::string& option, Cursor& value) {
      if (option != "Contour") return;
      const double contours = value.Number();
      if (!value.ok || contours < 1 || contours > kMaxCount) return;
      // The first contour is the clip; more than one would need a clip of several rings.
      std::vector<std::int64_t> counts;
      for (int i = 0; i < static_cast<int>(contours) && value.ok; ++i) {
        counts.push_back(value.Integer());
      }
      if (counts.empty() || counts[0] < 0 || counts[0] > kMaxCount) return;
      if (counts.size() > 1) Skip("VIEWPORT (contours after the first)");
      for (std::int64_t i = 0; i < counts[0] && value.ok; ++i)
        boundary.push_back(value.ReadPoint());
    });
    SetViewport(op.ok ? boundary : std::vector<Point>{});
  } else if (name == "PlotInfo") {
    // show|hide, rotation, units, width, height, printable area, ((a b 0)(c d 0)(0 0 1))
    const std::string show = op.String();
    op.Number();  // rotation
    const std::string units = op.String();
    W2dPlotInfo info;
    info.inches = units != "mm";
    info.width = op.Number();
    info.height = op.Number();
    info.left = op.Number();
    info.bottom = op.Number();
    info.right = op.Number();
    info.top = op.Number();
    std::vector<double> matrix;
    for (std::size_t i = op.at; i < op.bytes.size() && matrix.size() < 9; ++i) {
      if (op.bytes[i] == '(' || op.bytes[i] == ')') continue;
      op.at = i;
      op.SkipWhitespace();
      if (op.AtEnd() || op.Peek() == '(' || op.Peek() == ')') {
        i = op.at;
        continue;
      }
      matrix.push_back(op.Number());
      if (!op.ok) break;
      i = op.at - 1;
    }
    if (op.ok && matrix.size() == 9 && info.width > 0 && info.height > 0 && info.width < 1e5 &&
        info.height < 1e5) {
      info.scale[0] = matrix[0];
      info.scale[1] = matrix[1];
      info.scale[2] = matrix[3];
      info.scale[3] = matrix[4];
      info.valid = true;
      info.hasView = plotInfo.hasView;
      info.viewLeft = plotInfo.viewLeft;
      info.viewBottom = plotInfo.viewBottom;
      plotInfo = info;
    }
  } else if (name == "View") {
    const Point lo = op.ReadPoint();
    if (op.ok) {
      plotInfo.hasView = true;
      plotInfo.viewLeft = lo.x;
      plotInfo.viewBottom = lo.y;
    }
  } else if (name == "Image" || name == "Group4PNGImage" || name == "EmbedFile" ||
             name == "Embedded_Font") {
    Skip("(" + name + ")");
  } else {
    // Everything else draws nothing: descriptions of the drawing, URLs, named views, object
    // nodes, line styles (caps and joins: lines are drawn with round ones), fill patterns.
    static const char* const kQuiet[] = {"W2D",
                                         "DWF",
                                         "Author",
                                         "Background",
                                         "BlockMeaning",
                                         "BlockRef",
                                         "CodePage",
                                         "Comment",
                                         "Comments",
                                         "Copyright",
                                         "Created",
                                         "Creator",
                                         "Description",
                                         "Directory",
                                         "DrawingInfo",
                                         "Embed",
                                         "Encryption",
                                         "FillPattern",
                                         "FontExtension",
                                         "GroupBegin",
                                         "GroupEnd",
                                         "Guid",
                                         "GuidList",
                                         "InkedArea",
                                         "Keywords",
                                         "LineStyle",
                                         "LinesOverwrite",
                                         "Modified",
                                         "NamedView",
                                         "Node",
                                         "NonStdFontList",
                                         "Orientation",
                                         "PenPattern",
                                         "Pen",
                                         "PlotOptimized",
                                         "Projection",
                                         "Psswd",
                                         "SignData",
                                         "SourceCreated",
                                         "SourceFilename",
                                         "SourceModified",
                                         "Subject",
                                         "Time",
                                         "Title",
                                         "URL",
                                         "Units",
                                         "UserData",
                                         "Alignment",
                                         "AttributeURL",
                                         "TextHAlign",
                                         "TextVAlign",
                                         "TextBackground",
                                         "Overpost",
                                         "Delineate",
                                         "ContrastColor",
                                         "UserFillPattern",
                                         "UserHatchPattern",
                                         "MacroDefinition",
                                         "PenPatternOptions"};
    bool quiet = false;
    for (const char* known : kQuiet) quiet = quiet || name == known;
    if (!quiet) Skip("(" + name + ")");
  }
  return true;
}

bool CW2dDecoder::ExtendedBinary(Cursor& in, int depth) {
  if (depth > kMaxNesting) return false;
  const std::uint32_t length = in.U32();
  const std::uint16_t opcode = in.U16();
  if (!in.ok) return false;
  if (opcode == 0x0010 || opcode == 0x0011) return Decompress(opcode, in, depth);
  // The length counts the opcode, the data and the closing brace.
  if (length < 3 || length - 2 > in.Left()) return false;
  Cursor data{in.bytes.substr(in.at, length - 3), 0, true};
  in.at += length - 2;
  if (in.bytes[in.at - 1] != '}') return false;
  if (opcode == 0x0001) {  // colour map: a count (0 for 256) and RGBA colours
    std::int64_t count = data.U8();
    if (count == 0) count = 256;
    std::vector<std::uint32_t> map;
    for (std::int64_t i = 0; i < count && data.ok; ++i) {
      const std::uint8_t r = data.U8(), g = data.U8(), b = data.U8(), a = data.U8();
      map.push_back(Rgba(r, g, b, a));
    }
    if (data.ok) colorMap = std::move(map);
    return true;
  }
  const bool image = (opcode >= 0x0002 && opcode <= 0x0009) || opcode == 0x000C || opcode == 0x000D;
  if (!image) {
    char name[24];
    std::snprintf(name, sizeof name, "{0x%04X}", opcode);
    Skip(name);
    return true;
  }
  // Columns, rows, the corners (relative, each to the point before, as drawing opcodes give
  // them), an identifier, a colour map for the mapped kinds, then the data's size and the data.
  const std::uint16_t columns = data.U16(), rows = data.U16();
  currentX += data.I32();
  currentY += data.I32();
  const Point lo{static_cast<double>(currentX), static_cast<double>(currentY)};
  currentX += data.I32();
  currentY += data.I32();
  const Point hi{static_cast<double>(currentX), static_cast<double>(currentY)};
  data.I32();  // identifier
  std::vector<std::uint32_t> palette;
  if (opcode == 0x0002 || opcode == 0x0003 || opcode == 0x0005 || opcode == 0x000D) {
    std::int64_t count = data.U8();
    if (count == 0) count = 256;
    for (std::int64_t i = 0; i < count && data.ok; ++i) {
      const std::uint8_t r = data.U8(), g = data.U8(), b = data.U8(), a = data.U8();
      palette.push_back(Rgba(r, g, b, a));
    }
  }
  const std::uint32_t size = data.U32();
  const std::string_view bytes = data.Take(size);
  if (!data.ok) {
    Skip("IMAGE (damaged)");
    return true;
  }
  if (opcode == 0x0003) {
    Skip("IMAGE (group 3X)");
    return true;
  }
  AddImage(opcode, columns, rows, lo, hi, palette, bytes);
  return true;
}

bool CW2dDecoder::Decompress(std::uint16_t kind, Cursor& in, int depth) {
  // The compressed data follows the opcode and runs to its own end; the opcodes it holds are
  // read as if they stood here.
  std::string out;
  const std::int64_t budget = kMaxDecompressedBytes - decompressed;
  if (kind == 0x0011) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.bytes.data() + in.at));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(in.Left(), 0x7FFFFFFF));
    char chunk[65536];
    int status = Z_OK;
    while (status == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(chunk);
      z.avail_out = sizeof chunk;
      status = inflate(&z, Z_NO_FLUSH);
      out.append(chunk, sizeof chunk - z.avail_out);
      if (static_cast<std::int64_t>(out.size()) > budget) status = Z_MEM_ERROR;
      if (status == Z_OK && z.avail_in == 0) status = Z_BUF_ERROR;
    }
    in.at += z.total_in;
    inflateEnd(&z);
    if (status != Z_STREAM_END) return false;
  } else {
    // The LZ form: a code byte gives a run of literal bytes (low nibble) and a run copied
    // from the last 64 KiB of output (high nibble, then a 16-bit distance back from the end);
    // a code of 0 ends the data.
    while (true) {
      const std::uint8_t code = in.U8();
      if (!in.ok) return false;
      if (code == 0) break;
      std::size_t literal = code & 0x0F, copy = code >> 4;
      if (literal == 15) literal += in.U8();
      out.append(in.Take(literal));
      if (copy != 0) {
        copy += 3;
        if (copy == 18) copy += in.U8();
        const std::size_t back = in.U16();
        // Streams from revision 0.23 on reach into a preset history that is not kept here.
        const std::size_t window = std::min<std::size_t>(out.size(), 65536);
        if (!in.ok || back >= window || back + 1 < copy) return false;
        const std::size_t from = out.size() - 1 - back;
        for (std::size_t k = 0; k < copy; ++k) out.push_back(out[from + k]);
      }
      if (static_cast<std::int64_t>(out.size()) > budget) return false;
    }
  }
  in.SkipWhitespace();
  if (in.Peek() == '}') ++in.at;
  decompressed += static_cast<std::int64_t>(out.size());
  Cursor inner{out, 0, true};
  return Run(inner, depth + 1);
}

}  // namespace drawing::dwf
