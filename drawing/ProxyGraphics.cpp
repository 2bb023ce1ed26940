#include "drawing/ProxyGraphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <utility>

#include "drawing/Geometry.h"
#include "drawing/text/TextDecoder.h"
#include "platform/Ascii.h"
#include "platform/ColorPalette.h"
#include "platform/Utf8.h"

namespace drawing {

namespace {

constexpr double kPi = std::numbers::pi;
// Pushed transforms deeper than this are damage (applications push one or two).
constexpr std::size_t kMaxTransformDepth = 64;
// Circles and arcs that a transform does not keep round are drawn as this many segments a
// turn.
constexpr int kSegmentsPerTurn = 72;

// The record types.
enum RecordType : std::uint32_t {
  kExtents = 1,
  kCircle = 2,
  kCircle3Points = 3,
  kArc = 4,
  kArc3Points = 5,
  kPolyline = 6,
  kPolygon = 7,
  kMesh = 8,
  kShell = 9,
  kText = 10,
  kText2 = 11,
  kXLine = 12,
  kRay = 13,
  kColor = 14,
  kLayer = 16,
  kLinetype = 18,
  kMarker = 19,
  kFill = 20,
  kTrueColor = 22,
  kLineweight = 23,
  kLinetypeScale = 24,
  kThickness = 25,
  kPlotStyle = 26,
  kPushClip = 27,
  kPopClip = 28,
  kPushTransform = 29,
  kPushTransform2 = 30,
  kPopTransform = 31,
  kPolylineWithNormal = 32,
  kLwPolyline = 33,
  kMaterial = 34,
  kMapper = 35,
  kUnicodeText = 36,
  kUnknown37 = 37,
  kUnicodeText2 = 38,
};

bool Finite(Vec3 p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The data of one record, read from its start: little-endian numbers, and strings that end
// with a zero and are padded to a multiple of four bytes.
class CRecord {
 public:
  explicit CRecord(std::string_view data) : data(data) {}

  bool Failed() const { return failed; }
  std::size_t Left() const { return failed ? 0 : data.size() - at; }

  std::uint32_t RL() {
    const std::string_view b = Take(4);
    if (b.empty()) return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(b[i]);
    return value;
  }
  std::int32_t SL() { return static_cast<std::int32_t>(RL()); }
  double RD() {
    const std::string_view b = Take(8);
    if (b.empty()) return 0.0;
    double value = 0.0;
    std::memcpy(&value, b.data(), sizeof value);
    return value;
  }
  Vec3 Point() {
    Vec3 p;
    p.x = RD();
    p.y = RD();
    p.z = RD();
    return p;
  }
  std::string_view Take(std::size_t count) {
    if (failed || count > data.size() - at) {
      failed = true;
      return {};
    }
    const std::string_view part = data.substr(at, count);
    at += count;
    return part;
  }
  // A string of 8-bit characters.
  std::string_view PaddedString() {
    const std::size_t end = failed ? std::string_view::npos : data.find('\0', at);
    if (end == std::string_view::npos) {
      failed = true;
      return {};
    }
    const std::string_view text = data.substr(at, end - at);
    Pad(end + 1);
    return text;
  }
  // A string of UTF-16 units.
  std::u16string PaddedUnicode() {
    std::u16string text;
    for (;;) {
      const std::string_view unit = Take(2);
      if (unit.empty()) return text;
      const auto value = static_cast<char16_t>(static_cast<unsigned char>(unit[0]) |
                                               static_cast<unsigned char>(unit[1]) << 8);
      if (value == 0) break;
      text += value;
    }
    Pad(at);
    return text;
  }

 private:
  void Pad(std::size_t from) { at = std::min(data.size(), (from + 3) & ~std::size_t{3}); }

  std::string_view data;
  std::size_t at = 0;
  bool failed = false;
};

// The bit-coded data of the LWPOLYLINE record, most significant bit first.
class CBits {
 public:
  explicit CBits(std::string_view data) : data(data) {}

  bool Failed() const { return failed; }
  std::size_t BitsLeft() const { return failed ? 0 : data.size() * 8 - at; }

  unsigned Bits(int count) {
    if (failed || static_cast<std::size_t>(count) > data.size() * 8 - at) {
      failed = true;
      return 0;
    }
    unsigned value = 0;
    for (int i = 0; i < count; ++i, ++at) {
      value = value << 1 | ((static_cast<unsigned char>(data[at / 8]) >> (7 - at % 8)) & 1);
    }
    return value;
  }
  std::uint64_t Raw(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t{Bits(8)} << (8 * i);
    return value;
  }
  double RD() { return FromBits(Raw(8)); }
  unsigned BS() {
    switch (Bits(2)) {
      case 0:
        return static_cast<unsigned>(Raw(2));
      case 1:
        return Bits(8);
      case 2:
        return 0;
      default:
        return 256;
    }
  }
  std::uint32_t BL() {
    switch (Bits(2)) {
      case 0:
        return static_cast<std::uint32_t>(Raw(4));
      case 1:
        return Bits(8);
      case 2:
        return 0;
      default:
        failed = true;
        return 0;
    }
  }
  double BD() {
    switch (Bits(2)) {
      case 0:
        return RD();
      case 1:
        return 1.0;
      case 2:
        return 0.0;
      default:
        failed = true;
        return 0.0;
    }
  }
  // A double that patches the bytes of `previous`.
  double DD(double previous) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &previous, sizeof bits);
    switch (Bits(2)) {
      case 0:
        return previous;
      case 1:
        bits = (bits & ~std::uint64_t{0xFFFFFFFF}) | Raw(4);
        return FromBits(bits);
      case 2: {
        const std::uint64_t middle = Raw(2);
        const std::uint64_t low = Raw(4);
        bits = (bits & 0xFFFF000000000000) | middle << 32 | low;
        return FromBits(bits);
      }
      default:
        return RD();
    }
  }

 private:
  static double FromBits(std::uint64_t bits) {
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  std::string_view data;
  std::size_t at = 0;
  bool failed = false;
};

// UTF-16 to UTF-8; lone halves of pairs become U+FFFD.
std::string Utf8Of(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, out);
  }
  return out;
}

// A font file name without folder and extension, for comparing.
std::string FontKey(std::string_view file) {
  const std::size_t slash = file.find_last_of("/\\");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  const std::size_t dot = file.rfind('.');
  if (dot != std::string_view::npos) file = file.substr(0, dot);
  return ToAsciiLower(file);
}

// The linear part of a map, and what it does to lengths.
struct CLinear {
  bool similar = true;  // keeps angles: circles stay circles
  double scale = 1.0;
  bool mirrors = false;
};

CLinear LinearPart(const Affine3& map) {
  const Vec3 x = map.ApplyVector({1, 0, 0});
  const Vec3 y = map.ApplyVector({0, 1, 0});
  const Vec3 z = map.ApplyVector({0, 0, 1});
  CLinear linear;
  const double lx = Length(x), ly = Length(y), lz = Length(z);
  const double largest = std::max({lx, ly, lz});
  const double tolerance = 1e-9 * largest;
  linear.scale = lx;
  linear.similar = largest > 0 && std::fabs(lx - ly) <= tolerance &&
                   std::fabs(lx - lz) <= tolerance && std::fabs(Dot(x, y)) <= tolerance * largest &&
                   std::fabs(Dot(x, z)) <= tolerance * largest &&
                   std::fabs(Dot(y, z)) <= tolerance * largest;
  linear.mirrors = Dot(Cross(x, y), z) < 0;
  return linear;
}

// World coordinates into the object coordinates of an extrusion, and back.
struct COcs {
  explicit COcs(Vec3 normal) : toWorld(OcsToWorld(normal)) {
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) fromWorld.m[i][j] = toWorld.m[j][i];
    }
  }
  Affine3 toWorld, fromWorld;
};

// A circle or an arc: centre, unit normal, radius, the direction of its start from the centre
// (a unit vector in its plane) and the angle it sweeps counter-clockwise about the normal (a
// full turn for a circle).
struct CCircular {
  Vec3 center, normal{0, 0, 1};
  double radius = 0.0;
  Vec3 start{1, 0, 0};
  double sweep = 2 * kPi;
  bool full = true;

  // The point at `angle` from the start.
  Vec3 At(double angle) const {
    const Vec3 side = Cross(normal, start);
    return center + (start * std::cos(angle) + side * std::sin(angle)) * radius;
  }
};

// The circle through three points, oriented so that p1, p2, p3 run counter-clockwise; nothing
// when they lie on one line.
std::optional<CCircular> CircleThrough(Vec3 p1, Vec3 p2, Vec3 p3) {
  const Vec3 a = p1 - p3, b = p2 - p3;
  const Vec3 axb = Cross(a, b);
  const double denominator = 2 * Dot(axb, axb);
  const double scale = std::max(Dot(a, a), Dot(b, b));
  if (!(denominator > 1e-24 * scale * scale)) return std::nullopt;
  CCircular circle;
  circle.center = p3 + Cross(b * Dot(a, a) - a * Dot(b, b), axb) * (1.0 / denominator);
  circle.normal = Normalized(Cross(p2 - p1, p3 - p1));
  circle.radius = Length(p1 - circle.center);
  if (!(circle.radius > 0) || !std::isfinite(circle.radius)) return std::nullopt;
  circle.start = (p1 - circle.center) * (1.0 / circle.radius);
  return circle;
}

// The angle from direction u to direction v about `normal`, in [0, 2π).
double AngleAbout(Vec3 u, Vec3 v, Vec3 normal) {
  double angle = std::atan2(Dot(normal, Cross(u, v)), Dot(u, v));
  if (angle < 0) angle += 2 * kPi;
  return angle;
}

// The points of a polyline segment from `from` to `to` bulging by `bulge` (tan of a quarter of
// the arc's angle), 2D, `to` included.
void AppendBulge(Vec2 from, Vec2 to, double bulge, std::vector<Vec2>& out) {
  if (!std::isfinite(bulge)) bulge = 0;
  const double angle = 4 * std::atan(bulge);
  const int segments =
      std::clamp(static_cast<int>(std::ceil(std::fabs(angle) / (2 * kPi) * kSegmentsPerTurn)), 1,
                 kSegmentsPerTurn);
  const double dx = to.x - from.x, dy = to.y - from.y;
  const double chord = std::hypot(dx, dy);
  if (segments == 1 || chord == 0 || std::fabs(bulge) < 1e-12) {
    out.push_back(to);
    return;
  }
  // The centre lies off the chord's midpoint by (1 - b²) / (4 b) chords, to the left for a
  // positive bulge.
  const double offset = (1 - bulge * bulge) / (4 * bulge);
  const Vec2 center{from.x + dx / 2 - dy * offset, from.y + dy / 2 + dx * offset};
  const double start = std::atan2(from.y - center.y, from.x - center.x);
  const double radius = std::hypot(from.x - center.x, from.y - center.y);
  for (int i = 1; i < segments; ++i) {
    const double a = start + angle * i / segments;
    out.push_back({center.x + radius * std::cos(a), center.y + radius * std::sin(a)});
  }
  out.push_back(to);
}

struct CTraits {
  std::int32_t layer = 0;
  Color color;
  std::int32_t linetype = kLinetypeByLayer;
  std::int16_t lineweight = kLineweightByLayer;
  double linetypeScale = 1.0;
  double thickness = 0.0;
  bool fill = false;
};

class CDecoder {
 public:
  CDecoder(const Entity& base, const CProxyGraphicsTables& tables, std::vector<Entity>& out,
           CProxyGraphicsResult& result)
      : base(base), tables(tables), out(out), result(result), first(out.size()) {
    traits.layer = base.layer;
    traits.color = base.color;
    traits.linetype = base.linetype;
    traits.lineweight = base.lineweight;
    traits.linetypeScale = base.linetypeScale;
    transforms.emplace_back();
  }

  void Run(std::string_view bytes);

 private:
  void Record(std::uint32_t type, CRecord& r);
  void Attribute(std::uint32_t type, CRecord& r);

  // The records that draw.
  void Points(CRecord& r, bool closed, bool withNormal);
  void Circular(const CCircular& local, std::uint32_t arcType);
  void Text(CRecord& r, bool second, bool unicode);
  void Shell(CRecord& r);
  void Mesh(CRecord& r);
  void LwPolyline(CRecord& r);
  void ConstructionLine(CRecord& r, bool ray);

  // What is drawn, in the coordinates of the block (the current transform applied).
  void EmitPoints(std::vector<Vec3> points, bool closed, Vec3 normal, bool fill);
  void EmitCircular(const CCircular& circle, std::uint32_t arcType);
  void EmitFace(const std::vector<std::vector<Vec3>>& loops);
  void Emit(EntityData data, Vec3 extrusion = {0, 0, 1});

  void Skip(const std::string& kind) { ++result.skipped[kind]; }
  bool Full() const { return out.size() - first >= kMaxProxyEntities; }
  const Affine3& Transform() const { return transforms.back(); }
  bool Transformed() const { return transforms.size() > 1; }
  Vec3 Map(Vec3 p) const { return Transformed() ? Transform().Apply(p) : p; }
  Vec3 MapNormal(Vec3 n) const {
    if (!Transformed()) return n;
    const CLinear linear = LinearPart(Transform());
    const Vec3 mapped = Normalized(Transform().ApplyVector(n));
    return linear.mirrors ? mapped * -1.0 : mapped;
  }
  std::int32_t StyleForFont(std::string_view font) const;

  const Entity& base;
  const CProxyGraphicsTables& tables;
  std::vector<Entity>& out;
  CProxyGraphicsResult& result;
  const std::size_t first;
  CTraits traits;
  std::vector<Affine3> transforms;  // the composed transforms pushed; identity first
  std::size_t ignoredPushes = 0;    // pushes past the depth limit, popped without effect
};

void CDecoder::Run(std::string_view bytes) {
  // The total size and the record count first; the records follow up to the total size.
  if (bytes.size() < 8) {
    result.damaged = !bytes.empty();
    return;
  }
  CRecord header(bytes.substr(0, 8));
  const std::uint32_t total = header.RL();
  std::size_t end = bytes.size();
  if (total >= 8 && total < end) end = total;
  std::size_t at = 8;
  while (at < end) {
    if (end - at < 8) {
      result.damaged = true;
      return;
    }
    CRecord sizes(bytes.substr(at, 8));
    const std::uint32_t size = sizes.RL();
    const std::uint32_t type = sizes.RL();
    if (size < 8 || size > end - at) {
      result.damaged = true;
      return;
    }
    CRecord record(bytes.substr(at + 8, size - 8));
    Record(type, record);
    if (record.Failed()) {
      result.damaged = true;
      return;
    }
    at += size;
  }
}

void CDecoder::Record(std::uint32_t type, CRecord& r) {
  const bool draws = type == kCircle || type == kCircle3Points || type == kArc ||
                     type == kArc3Points || type == kPolyline || type == kPolygon ||
                     type == kMesh || type == kShell || type == kText || type == kText2 ||
                     type == kXLine || type == kRay || type == kPolylineWithNormal ||
                     type == kLwPolyline || type == kUnicodeText || type == kUnicodeText2;
  if (draws && Full()) {
    Skip("proxy graphics past the limit");
    return;
  }
  switch (type) {
    case kCircle: {
      CCircular circle;
      circle.center = r.Point();
      circle.radius = r.RD();
      circle.normal = Normalized(r.Point());
      if (r.Failed()) return;
      circle.start = Normalized(OcsToWorld(circle.normal).ApplyVector({1, 0, 0}));
      Circular(circle, 0);
      break;
    }
    case kCircle3Points: {
      const Vec3 p1 = r.Point(), p2 = r.Point(), p3 = r.Point();
      if (r.Failed()) return;
      if (const std::optional<CCircular> circle = CircleThrough(p1, p2, p3)) {
        Circular(*circle, 0);
      } else {
        Skip("proxy circle through points on a line");
      }
      break;
    }
    case kArc: {
      CCircular arc;
      arc.center = r.Point();
      arc.radius = r.RD();
      arc.normal = Normalized(r.Point());
      const Vec3 start = r.Point();
      arc.sweep = r.RD();
      const std::uint32_t arcType = r.RL();
      if (r.Failed()) return;
      // The start direction, put into the arc's plane.
      arc.start = Normalized(start - arc.normal * Dot(start, arc.normal));
      if (arc.sweep < 0) {
        arc.start = arc.At(arc.sweep);
        arc.start = Normalized(arc.start - arc.center);
        arc.sweep = -arc.sweep;
      }
      // More than a turn is a circle (and a count of segments from a sweep of 1e100 turns
      // would not fit any integer).
      arc.full = arc.sweep >= 2 * kPi;
      if (arc.full) arc.sweep = 2 * kPi;
      Circular(arc, arcType);
      break;
    }
    case kArc3Points: {
      const Vec3 p1 = r.Point(), p2 = r.Point(), p3 = r.Point();
      const std::uint32_t arcType = r.RL();
      if (r.Failed()) return;
      if (std::optional<CCircular> arc = CircleThrough(p1, p2, p3)) {
        arc->sweep = AngleAbout(arc->start, Normalized(p3 - arc->center), arc->normal);
        arc->full = false;
        Circular(*arc, arcType);
      } else {
        EmitPoints({Map(p1), Map(p2), Map(p3)}, false, {0, 0, 1}, false);
      }
      break;
    }
    case kPolyline:
      Points(r, false, false);
      break;
    case kPolygon:
      Points(r, true, false);
      break;
    case kPolylineWithNormal:
      Points(r, false, true);
      break;
    case kMesh:
      Mesh(r);
      break;
    case kShell:
      Shell(r);
      break;
    case kText:
    case kText2:
    case kUnicodeText:
    case kUnicodeText2:
      Text(r, type == kText2 || type == kUnicodeText2,
           type == kUnicodeText || type == kUnicodeText2);
      break;
    case kXLine:
    case kRay:
      ConstructionLine(r, type == kRay);
      break;
    case kLwPolyline:
      LwPolyline(r);
      break;
    case kPushTransform:
    case kPushTransform2: {
      double values[16];
      for (double& value : values) value = r.RD();
      if (r.Failed()) return;
      Affine3 pushed;
      bool finite = true;
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
          pushed.m[i][j] = values[4 * i + j];
          finite = finite && std::isfinite(values[4 * i + j]);
        }
      }
      if (transforms.size() > kMaxTransformDepth || !finite) {
        ++ignoredPushes;
        if (!finite) Skip("proxy transform out of range");
        return;
      }
      transforms.push_back(Transform() * pushed);
      break;
    }
    case kPopTransform:
      if (ignoredPushes > 0) {
        --ignoredPushes;
      } else if (transforms.size() > 1) {
        transforms.pop_back();
      }
      break;
    case kPushClip:
      // What follows is drawn whole: clipping it is not done.
      Skip("proxy clip boundary");
      break;
    case kExtents:
    case kPopClip:
    case kMarker:
    case kPlotStyle:
    case kMaterial:
    case kMapper:
    case kUnknown37:
      break;  // nothing that a plot shows
    case kColor:
    case kLayer:
    case kLinetype:
    case kFill:
    case kTrueColor:
    case kLineweight:
    case kLinetypeScale:
    case kThickness:
      Attribute(type, r);
      break;
    default:
      // A record of no more than one long cannot draw: it changes something of what follows
      // that a plot does not show (writers of multileaders put such records, of types 21 and
      // 51, between their primitives).
      if (r.Left() > 4) Skip("proxy graphics record " + std::to_string(type));
      break;
  }
}

void CDecoder::Attribute(std::uint32_t type, CRecord& r) {
  switch (type) {
    case kColor: {
      const std::uint32_t index = r.RL();
      if (index == 0) {
        traits.color = base.color;
      } else if (index >= 1 && index <= 255) {
        traits.color = Color{static_cast<std::int16_t>(index), false, 0};
      } else {
        traits.color = Color{};
      }
      break;
    }
    case kLayer: {
      const std::uint32_t index = r.RL();
      if (index < tables.layers.size() && tables.layers[index] >= 0) {
        traits.layer = tables.layers[index];
      }
      break;
    }
    case kLinetype: {
      // ByLayer and ByBlock: 0x7FFF and 0x7FFE in the files seen, all ones and all ones but
      // the lowest bit in some writers' description.
      const std::uint32_t index = r.RL();
      if (index == 0x7FFE || index == 0xFFFFFFFE) {
        traits.linetype = base.linetype;
      } else if (index < tables.linetypes.size() && tables.linetypes[index] >= 0) {
        traits.linetype = tables.linetypes[index];
      } else {
        traits.linetype = kLinetypeByLayer;
      }
      break;
    }
    case kFill:
      traits.fill = r.RL() != 0;
      break;
    case kTrueColor: {
      // The colour as a drawing stores one: its kind in the top byte, then red, green, blue.
      const std::uint32_t value = r.RL();
      const auto red = static_cast<std::uint8_t>(value >> 16);
      const auto green = static_cast<std::uint8_t>(value >> 8);
      const auto blue = static_cast<std::uint8_t>(value);
      switch (value >> 24) {
        case 0xC0:
          traits.color = Color{};
          break;
        case 0xC1:
          traits.color = base.color;
          break;
        case 0xC2:
          traits.color.index = static_cast<std::int16_t>(NearestColorIndex(red, green, blue));
          traits.color.hasTrueColor = true;
          traits.color.rgb = red | green << 8 | static_cast<std::uint32_t>(blue) << 16;
          break;
        case 0xC3:
          if (blue >= 1) traits.color = Color{static_cast<std::int16_t>(blue), false, 0};
          break;
        default:
          break;
      }
      break;
    }
    case kLineweight: {
      const std::int32_t weight = r.SL();
      if (weight == kLineweightByBlock) {
        traits.lineweight = base.lineweight;
      } else if ((weight >= 0 && weight <= 211) || weight == kLineweightByLayer ||
                 weight == kLineweightDefault) {
        traits.lineweight = static_cast<std::int16_t>(weight);
      } else {
        traits.lineweight = kLineweightByLayer;
      }
      break;
    }
    case kLinetypeScale: {
      const double scale = r.RD();
      if (scale > 0 && std::isfinite(scale)) traits.linetypeScale = scale;
      break;
    }
    case kThickness: {
      const double thickness = r.RD();
      if (std::isfinite(thickness)) traits.thickness = thickness;
      break;
    }
    default:
      break;
  }
}

void CDecoder::Points(CRecord& r, bool closed, bool withNormal) {
  const std::uint32_t count = r.RL();
  if (count > r.Left() / 24) {
    r.Take(r.Left() + 1);  // fails the record
    return;
  }
  std::vector<Vec3> points;
  points.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) points.push_back(Map(r.Point()));
  Vec3 normal{0, 0, 1};
  if (withNormal) normal = MapNormal(Normalized(r.Point()));
  if (r.Failed()) return;
  EmitPoints(std::move(points), closed, normal, closed && traits.fill);
}

void CDecoder::Circular(const CCircular& local, std::uint32_t arcType) {
  if (!Finite(local.center) || !Finite(local.normal) || !Finite(local.start) ||
      !std::isfinite(local.radius) || !std::isfinite(local.sweep) || local.radius <= 0) {
    Skip("proxy primitive out of range");
    return;
  }
  if (!Transformed()) {
    EmitCircular(local, arcType);
    return;
  }
  const CLinear linear = LinearPart(Transform());
  if (linear.similar) {
    CCircular mapped;
    mapped.center = Map(local.center);
    mapped.radius = local.radius * linear.scale;
    mapped.full = local.full;
    if (local.full) {
      mapped.normal = MapNormal(local.normal);
      mapped.start = Normalized(Transform().ApplyVector(local.start));
      mapped.sweep = 2 * kPi;
    } else {
      // The arc through the images of its start, middle and end keeps its turn.
      const Vec3 a = Map(local.At(0)), b = Map(local.At(local.sweep / 2)),
                 c = Map(local.At(local.sweep));
      const std::optional<CCircular> through = CircleThrough(a, b, c);
      if (!through) return;
      mapped = *through;
      mapped.sweep = AngleAbout(mapped.start, Normalized(c - mapped.center), mapped.normal);
      mapped.full = false;
    }
    EmitCircular(mapped, arcType);
    return;
  }
  // Stretched one way more than another: segments.
  const int segments =
      std::max(4, static_cast<int>(std::ceil(local.sweep / (2 * kPi) * kSegmentsPerTurn)));
  std::vector<Vec3> points;
  points.reserve(static_cast<std::size_t>(segments) + 2);
  for (int i = 0; i <= segments; ++i) {
    if (local.full && i == segments) break;
    points.push_back(Map(local.At(local.sweep * i / segments)));
  }
  const bool sector = !local.full && arcType == 1;
  if (sector) points.push_back(Map(local.center));
  const bool closed = local.full || arcType == 1 || arcType == 2;
  EmitPoints(std::move(points), closed, MapNormal(local.normal), closed && traits.fill);
}

void CDecoder::EmitCircular(const CCircular& circle, std::uint32_t arcType) {
  const COcs ocs(circle.normal);
  const Vec3 center = ocs.fromWorld.Apply(circle.center);
  const Vec3 startInOcs = ocs.fromWorld.ApplyVector(circle.start);
  const double startAngle = std::atan2(startInOcs.y, startInOcs.x);
  const bool closedShape = !circle.full && (arcType == 1 || arcType == 2);
  if (traits.fill && (circle.full || closedShape)) {
    Hatch hatch;
    hatch.solid = true;
    hatch.pattern = "SOLID";
    hatch.elevation = center.z;
    HatchPath& path = hatch.paths.emplace_back();
    HatchEdge arc;
    arc.kind = HatchEdge::CircularArc;
    arc.center = {center.x, center.y};
    arc.radius = circle.radius;
    arc.startAngle = circle.full ? 0.0 : startAngle * 180 / kPi;
    arc.endAngle = circle.full ? 360.0 : (startAngle + circle.sweep) * 180 / kPi;
    path.edges.push_back(arc);
    if (closedShape) {
      const Vec3 from = ocs.fromWorld.Apply(circle.At(circle.sweep));
      const Vec3 to = ocs.fromWorld.Apply(circle.At(0));
      auto line = [&path](Vec3 a, Vec3 b) {
        HatchEdge edge;
        edge.kind = HatchEdge::Line;
        edge.start = {a.x, a.y};
        edge.end = {b.x, b.y};
        path.edges.push_back(edge);
      };
      if (arcType == 1) {
        line(from, center);
        line(center, to);
      } else {
        line(from, to);
      }
    }
    Emit(std::move(hatch), circle.normal);
    return;
  }
  if (circle.full) {
    Circle entity;
    entity.center = center;
    entity.radius = circle.radius;
    Emit(entity, circle.normal);
    return;
  }
  Arc entity;
  entity.center = center;
  entity.radius = circle.radius;
  entity.startAngle = startAngle * 180 / kPi;
  entity.endAngle = (startAngle + circle.sweep) * 180 / kPi;
  Emit(entity, circle.normal);
  // A sector adds its two radii, a chord the line between the ends.
  if (arcType == 1) {
    EmitPoints({circle.At(circle.sweep), circle.center, circle.At(0)}, false, circle.normal, false);
  } else if (arcType == 2) {
    EmitPoints({circle.At(circle.sweep), circle.At(0)}, false, circle.normal, false);
  }
}

void CDecoder::EmitPoints(std::vector<Vec3> points, bool closed, Vec3 normal, bool fill) {
  if (points.empty()) return;
  for (const Vec3& p : points) {
    if (!Finite(p)) {
      Skip("proxy primitive out of range");
      return;
    }
  }
  if (!Finite(normal) || Length(normal) == 0) normal = {0, 0, 1};
  if (points.size() == 1 || (points.size() == 2 && Length(points[1] - points[0]) == 0)) {
    Point point;
    point.position = points[0];
    Emit(point);
    return;
  }
  if (points.size() == 2 && !fill) {
    Line line;
    line.start = points[0];
    line.end = points[1];
    Emit(line);
    return;
  }
  // Flat in the plane of the normal: a 2D polyline (or a filled area) in its object
  // coordinates; otherwise a 3D polyline.
  const COcs ocs(normal);
  std::vector<Vec3> local;
  local.reserve(points.size());
  double extent = 0;
  for (const Vec3& p : points) {
    local.push_back(ocs.fromWorld.Apply(p));
    extent = std::max({extent, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
  }
  const double elevation = local[0].z;
  const bool flat = std::all_of(local.begin(), local.end(), [&](const Vec3& p) {
    return std::fabs(p.z - elevation) <= 1e-9 * std::max(1.0, extent);
  });
  if (fill && flat && points.size() >= 3) {
    EmitFace({points});
    return;
  }
  Polyline polyline;
  polyline.closed = closed;
  polyline.vertices.resize(points.size());
  if (flat) {
    polyline.elevation = elevation;
    for (std::size_t i = 0; i < points.size(); ++i) {
      polyline.vertices[i].position = {local[i].x, local[i].y, elevation};
    }
    Emit(std::move(polyline), normal);
  } else {
    polyline.is3d = true;
    for (std::size_t i = 0; i < points.size(); ++i) polyline.vertices[i].position = points[i];
    Emit(std::move(polyline));
  }
}

// A filled face: its outline and the outlines of its holes, in one plane.
void CDecoder::EmitFace(const std::vector<std::vector<Vec3>>& loops) {
  if (loops.empty() || loops[0].size() < 3) return;
  // The normal of the outline by the sum of its edges' cross products (Newell).
  Vec3 sum;
  const std::vector<Vec3>& outline = loops[0];
  for (std::size_t i = 0; i < outline.size(); ++i) {
    sum = sum + Cross(outline[i], outline[(i + 1) % outline.size()]);
  }
  if (!(Length(sum) > 0) || !Finite(sum)) {
    // Points on one line: an outline.
    EmitPoints(outline, true, {0, 0, 1}, false);
    return;
  }
  const Vec3 normal = Normalized(sum);
  const COcs ocs(normal);
  Hatch hatch;
  hatch.solid = true;
  hatch.pattern = "SOLID";
  hatch.elevation = ocs.fromWorld.Apply(outline[0]).z;
  for (const std::vector<Vec3>& loop : loops) {
    if (loop.size() < 3) continue;
    HatchPath& path = hatch.paths.emplace_back();
    path.isPolyline = true;
    path.closed = true;
    for (const Vec3& p : loop) {
      const Vec3 q = ocs.fromWorld.Apply(p);
      path.vertices.push_back(PolylineVertex{{q.x, q.y, hatch.elevation}, 0, 0, 0});
    }
  }
  Emit(std::move(hatch), normal);
}

void CDecoder::Emit(EntityData data, Vec3 extrusion) {
  if (Full()) {
    Skip("proxy graphics past the limit");
    return;
  }
  Entity& entity = out.emplace_back();
  entity.layer = traits.layer;
  entity.color = traits.color;
  entity.linetype = traits.linetype;
  entity.lineweight = traits.lineweight;
  entity.linetypeScale = traits.linetypeScale;
  entity.invisible = base.invisible;
  entity.extrusion = Finite(extrusion) && Length(extrusion) > 0 ? extrusion : Vec3{0, 0, 1};
  const bool thick = std::holds_alternative<Line>(data) || std::holds_alternative<Circle>(data) ||
                     std::holds_alternative<Arc>(data) || std::holds_alternative<Polyline>(data);
  if (thick) entity.thickness = traits.thickness;
  entity.data = std::move(data);
  ++result.entities;
}

std::int32_t CDecoder::StyleForFont(std::string_view font) const {
  if (!tables.textStyles || font.empty()) return tables.standardStyle;
  const std::string key = FontKey(font);
  const std::vector<TextStyle>& styles = *tables.textStyles;
  for (std::size_t i = 0; i < styles.size(); ++i) {
    if (FontKey(styles[i].fontFile) == key) return static_cast<std::int32_t>(i);
  }
  return tables.standardStyle;
}

void CDecoder::Text(CRecord& r, bool second, bool unicode) {
  const Vec3 position = r.Point();
  const Vec3 normal = Normalized(r.Point());
  const Vec3 direction = r.Point();
  double height = 0, widthFactor = 1, oblique = 0;
  bool raw = false, backwards = false, upsideDown = false, underlined = false, overlined = false;
  std::string text;
  std::string_view font;
  std::string unicodeFont;
  auto readString = [&]() {
    if (unicode) {
      text = Utf8Of(r.PaddedUnicode());
    } else {
      const std::string_view bytes = r.PaddedString();
      text = tables.decodeText ? tables.decodeText(bytes) : std::string(bytes);
    }
  };
  if (!second) {
    height = r.RD();
    widthFactor = r.RD();
    oblique = r.RD();
    readString();
  } else {
    readString();
    r.SL();             // the length, or -1 to the end mark
    raw = r.SL() == 0;  // 0: the text is kept as it is, without control codes
    height = r.RD();
    widthFactor = r.RD();
    oblique = r.RD();
    r.RD();  // tracking
    backwards = r.RL() != 0;
    upsideDown = r.RL() != 0;
    r.RL();  // vertical
    underlined = r.RL() != 0;
    overlined = r.RL() != 0;
    if (unicode) {
      r.RL();             // bold
      r.RL();             // italic
      r.RL();             // character set
      r.RL();             // pitch and family
      r.PaddedUnicode();  // typeface
      unicodeFont = Utf8Of(r.PaddedUnicode());
      font = unicodeFont;
      r.PaddedUnicode();  // big font
    } else {
      font = r.PaddedString();
      r.PaddedString();  // big font
    }
  }
  if (r.Failed()) return;
  std::vector<TextLineSpan> lines;
  if (!raw) text = ReplacePercentCodes(text, &lines);
  // Lines along the whole text, as the record's flags ask.
  const auto length = static_cast<std::uint32_t>(text.size());
  if (underlined && length > 0) lines.push_back(TextLineSpan{'u', 0, length});
  if (overlined && length > 0) lines.push_back(TextLineSpan{'o', 0, length});

  const Vec3 mappedPosition = Map(position);
  const Vec3 mappedNormal = MapNormal(Finite(normal) ? normal : Vec3{0, 0, 1});
  Vec3 mappedDirection = Transformed() ? Transform().ApplyVector(direction) : direction;
  double scale = 1.0;
  if (Transformed()) {
    const Vec3 up = Normalized(Cross(Finite(normal) ? normal : Vec3{0, 0, 1}, direction));
    scale = Length(Transform().ApplyVector(up));
  }
  if (!Finite(mappedPosition) || !Finite(mappedDirection) || !std::isfinite(height * scale) ||
      !std::isfinite(widthFactor) || !std::isfinite(oblique)) {
    Skip("proxy primitive out of range");
    return;
  }
  const COcs ocs(mappedNormal);
  const Vec3 directionInOcs = ocs.fromWorld.ApplyVector(mappedDirection);
  drawing::Text entity;
  entity.text = std::move(text);
  entity.lines = std::move(lines);
  entity.insertion = ocs.fromWorld.Apply(mappedPosition);
  entity.alignment = entity.insertion;
  entity.height = height * scale;
  entity.rotation =
      Length(directionInOcs) > 0 ? std::atan2(directionInOcs.y, directionInOcs.x) * 180 / kPi : 0.0;
  entity.widthFactor = widthFactor > 0 ? widthFactor : 1.0;
  entity.obliqueAngle = oblique * 180 / kPi;
  entity.style = StyleForFont(font);
  entity.generationFlags = (backwards ? 2 : 0) | (upsideDown ? 4 : 0);
  Emit(std::move(entity), mappedNormal);
}

void CDecoder::ConstructionLine(CRecord& r, bool ray) {
  const Vec3 a = Map(r.Point());
  const Vec3 b = Map(r.Point());
  if (r.Failed()) return;
  const Vec3 direction = b - a;
  if (!Finite(a) || !Finite(direction) || !(Length(direction) > 0)) {
    Skip("proxy primitive out of range");
    return;
  }
  if (ray) {
    Ray entity;
    entity.base = a;
    entity.direction = Normalized(direction);
    Emit(entity);
  } else {
    XLine entity;
    entity.base = a;
    entity.direction = Normalized(direction);
    Emit(entity);
  }
}

void CDecoder::Shell(CRecord& r) {
  const std::uint32_t vertexCount = r.RL();
  if (vertexCount > r.Left() / 24) {
    r.Take(r.Left() + 1);
    return;
  }
  std::vector<Vec3> vertices;
  vertices.reserve(vertexCount);
  for (std::uint32_t i = 0; i < vertexCount; ++i) vertices.push_back(Map(r.Point()));
  const std::uint32_t entryCount = r.RL();
  if (entryCount > r.Left() / 4) {
    r.Take(r.Left() + 1);
    return;
  }
  std::vector<std::int32_t> entries(entryCount);
  for (std::int32_t& entry : entries) entry = r.SL();
  if (r.Failed()) return;
  // The edge, face and vertex traits that follow (colours, visibility, normals of each) are
  // not read: the record's size says where the next record starts.

  // Faces: a count and that many vertex indices; a negative count is a hole in the face before.
  struct CFace {
    std::vector<std::vector<Vec3>> loops;
    std::vector<int> indices;  // of the outline and the holes, one-based
  };
  std::vector<CFace> faces;
  for (std::size_t i = 0; i < entries.size();) {
    const std::int64_t count = entries[i++];
    const std::size_t size = static_cast<std::size_t>(count < 0 ? -count : count);
    if (size > entries.size() - i) {
      r.Take(r.Left() + 1);
      return;
    }
    std::vector<Vec3> loop;
    std::vector<int> indices;
    for (std::size_t k = 0; k < size; ++k) {
      const std::int32_t index = entries[i + k];
      if (index < 0 || static_cast<std::uint32_t>(index) >= vertexCount) {
        r.Take(r.Left() + 1);
        return;
      }
      loop.push_back(vertices[static_cast<std::size_t>(index)]);
      indices.push_back(index + 1);
    }
    i += size;
    if (count < 0 && !faces.empty()) {
      faces.back().loops.push_back(std::move(loop));
      faces.back().indices.insert(faces.back().indices.end(), indices.begin(), indices.end());
    } else if (size > 0) {
      faces.push_back(CFace{{std::move(loop)}, std::move(indices)});
    }
  }
  if (traits.fill) {
    for (const CFace& face : faces) {
      if (Full()) {
        Skip("proxy graphics past the limit");
        return;
      }
      EmitFace(face.loops);
    }
    return;
  }
  for (const Vec3& p : vertices) {
    if (!Finite(p)) {
      Skip("proxy primitive out of range");
      return;
    }
  }
  Polyline polyface;
  polyface.is3d = true;
  polyface.vertices.resize(vertices.size());
  for (std::size_t i = 0; i < vertices.size(); ++i) polyface.vertices[i].position = vertices[i];
  for (const CFace& face : faces) {
    // Each loop an outline of its own.
    std::size_t at = 0;
    for (const std::vector<Vec3>& loop : face.loops) {
      polyface.faces.emplace_back(
          face.indices.begin() + static_cast<std::ptrdiff_t>(at),
          face.indices.begin() + static_cast<std::ptrdiff_t>(at + loop.size()));
      at += loop.size();
    }
  }
  if (!polyface.faces.empty()) Emit(std::move(polyface));
}

void CDecoder::Mesh(CRecord& r) {
  const std::uint32_t rows = r.RL();
  const std::uint32_t columns = r.RL();
  if (rows == 0 || columns == 0 || columns > r.Left() / 24 || rows > r.Left() / 24 / columns) {
    if (rows != 0 && columns != 0) r.Take(r.Left() + 1);
    return;
  }
  Polyline mesh;
  mesh.is3d = true;
  mesh.meshM = static_cast<int>(rows);
  mesh.meshN = static_cast<int>(columns);
  mesh.vertices.resize(static_cast<std::size_t>(rows) * columns);
  for (PolylineVertex& vertex : mesh.vertices) {
    vertex.position = Map(r.Point());
    if (!Finite(vertex.position)) {
      Skip("proxy primitive out of range");
      return;
    }
  }
  if (r.Failed()) return;
  Emit(std::move(mesh));
}

void CDecoder::LwPolyline(CRecord& r) {
  const std::uint32_t size = r.RL();
  const std::string_view data = r.Take(size);
  if (r.Failed()) return;
  CBits d(data);
  const unsigned flags = d.BS();
  double constantWidth = 0, elevation = 0, thickness = 0;
  Vec3 normal{0, 0, 1};
  if (flags & 4) constantWidth = d.BD();
  if (flags & 8) elevation = d.BD();
  if (flags & 2) thickness = d.BD();
  if (flags & 1) {
    normal.x = d.BD();
    normal.y = d.BD();
    normal.z = d.BD();
  }
  const std::uint32_t count = d.BL();
  const std::uint32_t bulges = (flags & 16) ? d.BL() : 0;
  const std::uint32_t ids = (tables.vertexIds && (flags & 1024)) ? d.BL() : 0;
  const std::uint32_t widths = (flags & 32) ? d.BL() : 0;
  // Every count of items fits the bits left (each item takes two bits at least).
  const std::size_t most = d.BitsLeft() / 2;
  if (d.Failed() || count > most || bulges > most || ids > most || widths > most) {
    Skip("proxy primitive out of range");
    return;
  }
  std::vector<Vec2> points(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i == 0 || tables.fullVertices) {
      points[i].x = d.RD();
      points[i].y = d.RD();
    } else {
      points[i].x = d.DD(points[i - 1].x);
      points[i].y = d.DD(points[i - 1].y);
    }
  }
  std::vector<double> bulge(count, 0.0);
  for (std::uint32_t i = 0; i < bulges; ++i) {
    const double b = d.BD();
    if (i < count) bulge[i] = b;
  }
  for (std::uint32_t i = 0; i < ids; ++i) d.BL();
  std::vector<std::pair<double, double>> width(count, {0.0, 0.0});
  for (std::uint32_t i = 0; i < widths; ++i) {
    const double start = d.BD(), end = d.BD();
    if (i < count) width[i] = {start, end};
  }
  if (d.Failed() || count == 0) {
    Skip("proxy primitive out of range");
    return;
  }
  const bool closed = (flags & 512) != 0;
  if (!Finite(normal) || Length(normal) == 0) normal = {0, 0, 1};
  normal = Normalized(normal);
  const CLinear linear = LinearPart(Transform());
  if (!Transformed() || linear.similar) {
    // Kept as it is, mapped whole: a turn, a uniform scale and a shift keep bulges and
    // widths (a mirror turns the normal round, which keeps the bulges).
    const COcs source(normal);
    const Vec3 mappedNormal = MapNormal(normal);
    const COcs target(mappedNormal);
    Polyline polyline;
    polyline.closed = closed;
    polyline.constantWidth = constantWidth * linear.scale;
    polyline.vertices.resize(count);
    double mappedElevation = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const Vec3 world = Map(source.toWorld.Apply({points[i].x, points[i].y, elevation}));
      const Vec3 local = target.fromWorld.Apply(world);
      if (i == 0) mappedElevation = local.z;
      PolylineVertex& vertex = polyline.vertices[i];
      vertex.position = {local.x, local.y, mappedElevation};
      vertex.bulge = bulge[i];
      vertex.startWidth = width[i].first * linear.scale;
      vertex.endWidth = width[i].second * linear.scale;
      if (!Finite(vertex.position) || !std::isfinite(vertex.bulge)) {
        Skip("proxy primitive out of range");
        return;
      }
    }
    polyline.elevation = mappedElevation;
    for (PolylineVertex& vertex : polyline.vertices) vertex.position.z = mappedElevation;
    const double savedThickness = traits.thickness;
    if (flags & 2) traits.thickness = thickness * linear.scale;
    Emit(std::move(polyline), mappedNormal);
    traits.thickness = savedThickness;
    return;
  }
  // Stretched one way more than another: the arcs as segments, in the block's coordinates.
  const COcs source(normal);
  std::vector<Vec2> flat{points[0]};
  for (std::uint32_t i = 0; i + 1 < count || (closed && i + 1 == count && count > 1); ++i) {
    AppendBulge(points[i], points[(i + 1) % count], bulge[i], flat);
  }
  if (closed && flat.size() > 1) flat.pop_back();
  std::vector<Vec3> mapped;
  mapped.reserve(flat.size());
  for (const Vec2& p : flat) mapped.push_back(Map(source.toWorld.Apply({p.x, p.y, elevation})));
  EmitPoints(std::move(mapped), closed, MapNormal(normal), false);
}

}  // namespace

CProxyGraphicsResult DecodeProxyGraphics(std::string_view bytes, const Entity& base,
                                         const CProxyGraphicsTables& tables,
                                         std::vector<Entity>& out) {
  CProxyGraphicsResult result;
  CDecoder decoder(base, tables, out, result);
  decoder.Run(bytes);
  return result;
}

}  // namespace drawing
