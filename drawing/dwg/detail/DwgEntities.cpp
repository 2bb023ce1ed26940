#include "drawing/dwg/detail/DwgEntities.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>

#include "drawing/SplineFit.h"
#include "drawing/dwg/detail/DwgTables.h"

namespace drawing::dwg::detail {

namespace {

// Angles are stored in radians; the model keeps degrees where DXF files do.
constexpr double kDegrees = 180.0 / std::numbers::pi;

// Counts read from a file bound loops only together with the bits left: an element takes at
// least one bit, so a count beyond the bits left is damage.
bool CountFits(const CBitReader& reader, std::uint64_t count, std::uint64_t bitsEach = 1) {
  return count <= reader.BitsLeft() / bitsEach;
}

enum class Kind {
  Text,
  Attrib,
  Attdef,
  Insert,
  MInsert,
  Polyline2d,
  Polyline3d,
  PolylinePface,
  PolylineMesh,
  Arc,
  Circle,
  Line,
  Dimension,
  Point,
  Face3d,
  Solid,
  Trace,
  Viewport,
  Ellipse,
  Spline,
  Ray,
  XLine,
  MText,
  Leader,
  LwPolyline,
  Hatch,
  Image,
  Wipeout,
  Table,
  MLeader,
  MLine,
  Mesh,
  Tolerance,
  Underlay,
  NotDrawn,
  Skipped,
};

// The kind of a fixed entity type and the name the DXF format gives it.
Kind FixedKind(std::uint16_t type, std::string& name) {
  switch (type) {
    case 0x01:
      name = "TEXT";
      return Kind::Text;
    case 0x02:
      name = "ATTRIB";
      return Kind::Attrib;
    case 0x03:
      name = "ATTDEF";
      return Kind::Attdef;
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
      return Kind::NotDrawn;  // BLOCK, ENDBLK, SEQEND and vertices belong to others
    case 0x07:
      name = "INSERT";
      return Kind::Insert;
    case 0x08:
      name = "INSERT";
      return Kind::MInsert;
    case 0x0F:
      name = "POLYLINE";
      return Kind::Polyline2d;
    case 0x10:
      name = "POLYLINE";
      return Kind::Polyline3d;
    case 0x11:
      name = "ARC";
      return Kind::Arc;
    case 0x12:
      name = "CIRCLE";
      return Kind::Circle;
    case 0x13:
      name = "LINE";
      return Kind::Line;
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x19:
    case 0x1A:
      name = "DIMENSION";
      return Kind::Dimension;
    case 0x1B:
      name = "POINT";
      return Kind::Point;
    case 0x1C:
      name = "3DFACE";
      return Kind::Face3d;
    case 0x1D:
      name = "POLYLINE";
      return Kind::PolylinePface;
    case 0x1E:
      name = "POLYLINE";
      return Kind::PolylineMesh;
    case 0x1F:
      name = "SOLID";
      return Kind::Solid;
    case 0x20:
      name = "TRACE";
      return Kind::Trace;
    case 0x21:
      name = "SHAPE";
      return Kind::Skipped;
    case 0x22:
      name = "VIEWPORT";
      return Kind::Viewport;
    case 0x23:
      name = "ELLIPSE";
      return Kind::Ellipse;
    case 0x24:
      name = "SPLINE";
      return Kind::Spline;
    case 0x25:
      name = "REGION";
      return Kind::Skipped;
    case 0x26:
      name = "3DSOLID";
      return Kind::Skipped;
    case 0x27:
      name = "BODY";
      return Kind::Skipped;
    case 0x28:
      name = "RAY";
      return Kind::Ray;
    case 0x29:
      name = "XLINE";
      return Kind::XLine;
    case 0x2B:
      name = "OLEFRAME";
      return Kind::Skipped;
    case 0x2C:
      name = "MTEXT";
      return Kind::MText;
    case 0x2D:
      name = "LEADER";
      return Kind::Leader;
    case 0x2E:
      name = "TOLERANCE";
      return Kind::Tolerance;
    case 0x2F:
      name = "MLINE";
      return Kind::MLine;
    case 0x4A:
      name = "OLE2FRAME";
      return Kind::Skipped;
    case 0x4D:
      name = "LWPOLYLINE";
      return Kind::LwPolyline;
    case 0x4E:
      name = "HATCH";
      return Kind::Hatch;
    case objecttype::kProxyEntity:
      name = "ACAD_PROXY_ENTITY";
      return Kind::Skipped;
    default:
      name = "UNKNOWN";
      return Kind::Skipped;
  }
}

// The kind of an entity of a class, by the class's DXF name.
Kind ClassKind(const std::string& dxfName) {
  static const std::unordered_map<std::string_view, Kind> kinds = {
      {"LWPOLYLINE", Kind::LwPolyline},
      {"HATCH", Kind::Hatch},
      {"IMAGE", Kind::Image},
      {"WIPEOUT", Kind::Wipeout},
      {"ACAD_TABLE", Kind::Table},
      {"ARC_DIMENSION", Kind::Dimension},
      {"LARGE_RADIAL_DIMENSION", Kind::Dimension},
      {"HELIX", Kind::Spline},
      {"MULTILEADER", Kind::MLeader},
      {"MESH", Kind::Mesh},
      {"PDFUNDERLAY", Kind::Underlay},
      {"DWFUNDERLAY", Kind::Underlay},
      {"DGNUNDERLAY", Kind::Underlay},
  };
  const auto found = kinds.find(dxfName);
  return found != kinds.end() ? found->second : Kind::Skipped;
}

Vec3 V(const CPoint3& p) {
  return {p.x, p.y, p.z};
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 Normalized(const Vec3& v, const Vec3& fallback) {
  const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(length > 1e-12) || !std::isfinite(length)) return fallback;
  return {v.x / length, v.y / length, v.z / length};
}

// The x axis of the coordinate system of an extrusion direction (the arbitrary axis rule).
Vec3 OcsXAxis(const Vec3& extrusion) {
  const Vec3 normal = Normalized(extrusion, {0, 0, 1});
  constexpr double kLimit = 1.0 / 64.0;
  const Vec3 axis = (std::fabs(normal.x) < kLimit && std::fabs(normal.y) < kLimit)
                        ? Cross({0, 1, 0}, normal)
                        : Cross({0, 0, 1}, normal);
  return Normalized(axis, {1, 0, 0});
}

// Control characters as the DXF format writes them, which is how the model keeps them: "^J"
// for a line feed and so on. In MTEXT a caret itself becomes "^ ", as its formatting codes
// read a caret as the start of such a pair.
std::string CaretNotation(std::string text, bool mtext) {
  const bool plain = std::none_of(text.begin(), text.end(), [mtext](char c) {
    return static_cast<unsigned char>(c) < 0x20 || (mtext && c == '^');
  });
  if (plain) return text;
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else if (mtext && c == '^') {
      out += "^ ";
    } else {
      out += c;
    }
  }
  return out;
}

void SetExtrusion(Entity& entity, const CPoint3& extrusion) {
  entity.extrusion = Normalized(V(extrusion), {0, 0, 1});
}

void SetThickness(Entity& entity, double thickness) {
  entity.thickness = std::isfinite(thickness) ? thickness : 0.0;
}

// The scale of INSERT, MINSERT and ACAD_TABLE: R2000+ store it by a two-bit form.
CPoint3 ReadInsertScale(CBitReader& d) {
  if (d.GetVersion() <= Version::R14) return d.Read3BD();
  CPoint3 scale{1.0, 1.0, 1.0};
  switch (d.ReadBB()) {
    case 0:
      scale.x = d.ReadRD();
      scale.y = d.ReadDD(scale.x);
      scale.z = d.ReadDD(scale.x);
      break;
    case 1:
      scale.y = d.ReadDD(1.0);
      scale.z = d.ReadDD(1.0);
      break;
    case 2:
      scale.x = scale.y = scale.z = d.ReadRD();
      break;
    default:
      break;
  }
  return scale;
}

// Reads the owned-entity part of INSERT, MINSERT and the polylines from the handle stream:
// first and last (R13–R2000) or `owned` handles (R2004+).
void ReadChildren(CDwgObjectFrame& frame, std::uint32_t owned, CDwgEntityInfo& info) {
  info.hasChildren = true;
  if (frame.handles.GetVersion() <= Version::R2000) {
    info.firstChild = ReadHandle(frame);
    info.lastChild = ReadHandle(frame);
    return;
  }
  info.children.reserve(owned);
  for (std::uint32_t i = 0; i < owned && !frame.handles.Failed(); ++i) {
    info.children.push_back(ReadHandle(frame));
  }
}

// TEXT, ATTRIB and ATTDEF share the text part; `generation` etc. as stored.
void ReadTextPart(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity, Text& text) {
  CBitReader& d = frame.data;
  if (context.version <= Version::R14) {
    const double elevation = d.ReadBD();
    const CPoint2 insertion = d.Read2RD();
    const CPoint2 alignment = d.Read2RD();
    SetExtrusion(entity, d.Read3BD());
    SetThickness(entity, d.ReadBD());
    text.obliqueAngle = d.ReadBD() * kDegrees;
    text.rotation = d.ReadBD() * kDegrees;
    text.height = d.ReadBD();
    text.widthFactor = d.ReadBD();
    text.text = context.Text(frame);
    text.generationFlags = d.ReadBS();
    text.horizontalJustification = d.ReadBS();
    text.verticalJustification = d.ReadBS();
    text.insertion = {insertion.x, insertion.y, elevation};
    text.alignment = {alignment.x, alignment.y, elevation};
  } else {
    const unsigned flags = d.ReadRC();
    const double elevation = (flags & 0x01) ? 0.0 : d.ReadRD();
    const CPoint2 insertion = d.Read2RD();
    CPoint2 alignment = insertion;
    if (!(flags & 0x02)) {
      alignment.x = d.ReadDD(insertion.x);
      alignment.y = d.ReadDD(insertion.y);
    }
    SetExtrusion(entity, d.ReadBE());
    SetThickness(entity, d.ReadBT());
    if (!(flags & 0x04)) text.obliqueAngle = d.ReadRD() * kDegrees;
    if (!(flags & 0x08)) text.rotation = d.ReadRD() * kDegrees;
    text.height = d.ReadRD();
    text.widthFactor = (flags & 0x10) ? 1.0 : d.ReadRD();
    text.text = context.Text(frame);
    if (!(flags & 0x20)) text.generationFlags = d.ReadBS();
    if (!(flags & 0x40)) text.horizontalJustification = d.ReadBS();
    if (!(flags & 0x80)) text.verticalJustification = d.ReadBS();
    text.insertion = {insertion.x, insertion.y, elevation};
    text.alignment = {alignment.x, alignment.y, elevation};
  }
  if (!(text.widthFactor > 0.0)) text.widthFactor = 1.0;
  if (text.horizontalJustification < 0 || text.horizontalJustification > 5) {
    text.horizontalJustification = 0;
  }
  if (text.verticalJustification < 0 || text.verticalJustification > 3) {
    text.verticalJustification = 0;
  }
  // Left-aligned text on its baseline places itself by the insertion point alone; what the
  // file keeps as its alignment point then means nothing.
  if (text.horizontalJustification == 0 && text.verticalJustification == 0) {
    text.alignment = text.insertion;
  }
}

// R2018: a multi-line attribute carries an embedded MTEXT before its tag, which holds its text
// (the single-line text is then empty). Gives that text.
std::string ReadEmbeddedMText(CDwgReaderContext& context, CDwgObjectFrame& frame) {
  CBitReader& d = frame.data;
  d.ReadBB();  // entity mode
  d.ReadBL();  // reactors
  d.ReadB();   // no extension dictionary
  d.ReadB();   // data-store data
  d.ReadBS();  // colour
  d.ReadBD();  // linetype scale
  d.ReadBB();  // linetype, plot style and material flags
  d.ReadBB();
  d.ReadBB();
  d.ReadRC();  // shadow flags
  d.ReadB();   // visual styles
  d.ReadB();
  d.ReadB();
  d.ReadBS();         // invisibility
  d.ReadRC();         // lineweight
  ReadHandle(frame);  // layer
  d.Read3BD();        // insertion, extrusion, x axis
  d.Read3BD();
  d.Read3BD();
  d.ReadBD();  // width, height, text height
  d.ReadBD();
  d.ReadBD();
  d.ReadBS();  // attachment, flow direction
  d.ReadBS();
  d.ReadBD();  // extents
  d.ReadBD();
  std::string text = context.Text(frame, true);
  ReadHandle(frame);  // style
  d.ReadBS();         // line spacing style and factor
  d.ReadBD();
  d.ReadB();
  const std::uint32_t background = d.ReadBL();
  if (background & 1) {
    d.ReadBL();
    d.ReadCMC(&frame.Strings());
    d.ReadBL();
  }
  d.ReadB();  // not annotative
  d.ReadB();  // really locked
  const std::uint16_t annotative = d.ReadBS();
  d.SkipBytes(annotative);
  return text;
}

CDwgEntityResult ReadTextLike(CDwgReaderContext& context, CDwgObjectFrame& frame, Kind kind,
                              bool inDefinition, Entity& entity) {
  CBitReader& d = frame.data;
  Text text;
  ReadTextPart(context, frame, entity, text);
  int flags = 0;
  std::string tag;
  if (kind != Kind::Text) {
    if (context.version >= Version::R2010) d.ReadRC();  // locked in block
    if (context.version >= Version::R2018) {
      const unsigned type = d.ReadRC();
      if (type > 1) {
        // Drawn on one line, as releases before R2018 keep such an attribute.
        const std::string embedded = ReadEmbeddedMText(context, frame);
        std::string lines;
        for (std::size_t i = 0; i < embedded.size(); ++i) {
          const char next = i + 1 < embedded.size() ? embedded[i + 1] : '\0';
          if (embedded[i] == '\\' && next == 'P') {
            lines += ' ';  // a paragraph break
            ++i;
          } else if (embedded[i] == '\\' && next == '\\') {
            lines += "\\\\";
            ++i;
          } else {
            lines += embedded[i];
          }
        }
        if (text.text.empty()) text.text = std::move(lines);
      }
    }
    tag = context.Text(frame);
    d.ReadBS();  // field length
    flags = d.ReadRC();
  }
  text.style = context.TextStyleOf(ReadHandle(frame));
  if (d.Failed() || frame.Strings().Failed()) return CDwgEntityResult::Damaged;
  if (kind == Kind::Attdef) text.text = tag;
  text.text = ReplacePercentCodes(CaretNotation(std::move(text.text), false), &text.lines);
  if (kind == Kind::Attdef && inDefinition) return CDwgEntityResult::NotDrawn;
  if (kind == Kind::Attrib) {
    entity.data = Attribute{std::move(text)};
  } else {
    entity.data = std::move(text);
  }
  if (kind != Kind::Text && (flags & 1)) return CDwgEntityResult::NotDrawn;  // invisible
  return CDwgEntityResult::Stored;
}

CDwgEntityResult ReadInsert(CDwgReaderContext& context, CDwgObjectFrame& frame, Kind kind,
                            Entity& entity, CDwgEntityInfo& info) {
  CBitReader& d = frame.data;
  Insert insert;
  insert.insertion = V(d.Read3BD());
  insert.scale = V(ReadInsertScale(d));
  insert.rotation = d.ReadBD() * kDegrees;
  SetExtrusion(entity, d.Read3BD());
  const bool hasAttributes = d.ReadB();
  std::uint32_t owned = 0;
  if (context.version >= Version::R2004 && hasAttributes) owned = d.ReadBL();
  if (kind == Kind::MInsert) {
    insert.columns = std::clamp<int>(d.ReadBS(), 1, 32767);
    insert.rows = std::clamp<int>(d.ReadBS(), 1, 32767);
    insert.columnSpacing = d.ReadBD();
    insert.rowSpacing = d.ReadBD();
  }
  if (d.Failed() || !CountFits(frame.handles, owned, 8)) return CDwgEntityResult::Damaged;
  insert.block = context.BlockOf(ReadHandle(frame));
  if (hasAttributes) ReadChildren(frame, owned, info);
  entity.data = std::move(insert);
  return frame.handles.Failed() ? CDwgEntityResult::Damaged : CDwgEntityResult::Stored;
}

CDwgEntityResult ReadPolyline(CDwgReaderContext& context, CDwgObjectFrame& frame, Kind kind,
                              Entity& entity, CDwgEntityInfo& info) {
  CBitReader& d = frame.data;
  Polyline polyline;
  int flags = 0;
  switch (kind) {
    case Kind::Polyline2d: {
      flags = d.ReadBS();
      info.smoothType = d.ReadBS();
      d.ReadBD();  // default start and end widths: every vertex has its own
      d.ReadBD();
      SetThickness(entity, d.ReadBT());
      polyline.elevation = d.ReadBD();
      SetExtrusion(entity, d.ReadBE());
      break;
    }
    case Kind::Polyline3d:
      d.ReadRC();  // curve type
      flags = d.ReadRC() | 8;
      break;
    case Kind::PolylinePface:
      d.ReadBS();  // vertex and face counts
      d.ReadBS();
      flags = 64;
      break;
    default:
      flags = d.ReadBS() | 16;
      info.smoothType = d.ReadBS();
      info.meshM = d.ReadBS();
      info.meshN = d.ReadBS();
      info.smoothM = d.ReadBS();
      info.smoothN = d.ReadBS();
      break;
  }
  std::uint32_t owned = 0;
  if (context.version >= Version::R2004) owned = d.ReadBL();
  if (d.Failed() || !CountFits(frame.handles, owned, 8)) return CDwgEntityResult::Damaged;
  info.polylineFlags = flags;
  polyline.is3d = (flags & (8 | 16 | 64)) != 0;
  if (flags & 16) {
    polyline.meshClosedM = (flags & 1) != 0;
    polyline.meshClosedN = (flags & 32) != 0;
  } else {
    polyline.closed = (flags & 1) != 0;
  }
  if (polyline.is3d) polyline.elevation = 0.0;
  ReadChildren(frame, owned, info);
  info.clipCandidate = true;
  entity.data = std::move(polyline);
  return frame.handles.Failed() ? CDwgEntityResult::Damaged : CDwgEntityResult::Stored;
}

Spline ReadSplineData(CBitReader& d, bool& ok) {
  Spline spline;
  const std::uint32_t scenario = d.ReadBL();
  std::uint32_t splineFlags = 0;
  std::uint32_t knotParameter = 0;
  bool fitted = scenario == 2;
  if (d.GetVersion() >= Version::R2013) {
    splineFlags = d.ReadBL();
    knotParameter = d.ReadBL();
    fitted = (splineFlags & 1) != 0 && knotParameter != 15;
  }
  spline.degree = static_cast<int>(d.ReadBL());
  ok = false;
  if (!fitted) {
    spline.rational = d.ReadB();
    spline.closed = d.ReadB();
    spline.periodic = d.ReadB();
    d.ReadBD();  // knot and control point tolerances
    d.ReadBD();
    const std::uint32_t knots = d.ReadBL();
    const std::uint32_t controls = d.ReadBL();
    const bool weighted = d.ReadB();
    if (d.Failed() || !CountFits(d, knots, 2) || !CountFits(d, controls, 6)) return spline;
    spline.knots.reserve(knots);
    for (std::uint32_t i = 0; i < knots; ++i) spline.knots.push_back(d.ReadBD());
    spline.controlPoints.reserve(controls);
    for (std::uint32_t i = 0; i < controls && !d.Failed(); ++i) {
      spline.controlPoints.push_back(V(d.Read3BD()));
      if (weighted) spline.weights.push_back(d.ReadBD());
    }
  } else {
    d.ReadBD();  // fit tolerance
    const Vec3 startTangent = V(d.Read3BD());
    const Vec3 endTangent = V(d.Read3BD());
    const std::uint32_t fits = d.ReadBL();
    if (d.Failed() || !CountFits(d, fits, 6)) return spline;
    spline.fitPoints.reserve(fits);
    for (std::uint32_t i = 0; i < fits && !d.Failed(); ++i) {
      spline.fitPoints.push_back(V(d.Read3BD()));
    }
    spline.closed = (splineFlags & 4) != 0;
    // The file keeps the fit points alone; the curve through them is what CAD draws.
    const CFitSpacing spacing = knotParameter == 1   ? CFitSpacing::SquareRoot
                                : knotParameter == 2 ? CFitSpacing::Uniform
                                                     : CFitSpacing::Chord;
    if (!d.Failed()) InterpolateFitPoints(spline, startTangent, endTangent, spacing);
  }
  ok = !d.Failed();
  spline.degree = std::clamp(spline.degree, 1, 25);
  if (spline.weights.size() != spline.controlPoints.size()) spline.weights.clear();
  if (spline.knots.size() !=
      spline.controlPoints.size() + static_cast<std::size_t>(spline.degree) + 1) {
    spline.knots.clear();
  }
  return spline;
}

// The columns of an R2018 MTEXT, after its background fill: the parts its DXF form calls the
// "Embedded Object". Read on copies of the streams: a text whose column data does not read as
// expected keeps its text and has no columns.
void ReadMTextColumns(CDwgObjectFrame& frame, MText& mtext) {
  CBitReader d = frame.data;
  CBitReader strings = frame.Strings();
  if (d.ReadBL() & 1) {  // a background fill: scale, colour, transparency
    d.ReadBL();
    d.ReadCMC(&strings);
    d.ReadBL();
  }
  if (!d.ReadB()) return;                   // annotative texts keep no columns here
  d.ReadBS();                               // version
  d.ReadB();                                // default flag
  d.ReadBL();                               // attachment, again
  for (int i = 0; i < 2; ++i) d.Read3BD();  // direction and insertion point, again
  d.ReadBD();                               // width, again
  const double height = d.ReadBD();
  d.ReadBD();  // extents
  d.ReadBD();
  const int type = d.ReadBS();
  if (d.Failed() || type < 1 || type > 2) return;
  const std::uint32_t count = d.ReadBL();
  const double width = d.ReadBD();
  const double gutter = d.ReadBD();
  const bool autoHeight = d.ReadB();
  const bool reversed = d.ReadB();
  std::vector<double> heights;
  if (type == 2 && !autoHeight) {
    if (!CountFits(d, count, 2)) return;
    for (std::uint32_t i = 0; i < count && !d.Failed(); ++i) heights.push_back(d.ReadBD());
  }
  if (d.Failed() || !std::isfinite(width) || !std::isfinite(gutter) || !std::isfinite(height)) {
    return;
  }
  mtext.columnType = type;
  mtext.columnCount = type == 1 ? static_cast<int>(std::min<std::uint32_t>(count, 1000)) : 0;
  mtext.columnWidth = std::max(0.0, width);
  mtext.columnGutter = std::max(0.0, gutter);
  mtext.columnHeight = std::max(0.0, height);
  mtext.columnAutoHeight = autoHeight;
  mtext.columnFlowReversed = reversed;
  for (const double h : heights) {
    if (mtext.columnHeights.size() < 1000)
      mtext.columnHeights.push_back(std::isfinite(h) ? std::max(0.0, h) : 0.0);
  }
}

// The columns of an MTEXT before R2018, in the extended data of the application ACAD: the
// settings as pairs of a 1070 code (75 type, 76 count, 78 flow reversed, 79 automatic height,
// 48 width, 49 gutter, 50 the number of heights that follow as 1040s) and its value between
// "ACAD_MTEXT_COLUMN_INFO_BEGIN" and "…_END", and the MTEXT entities of the further columns as
// 1005 handles between "ACAD_MTEXT_COLUMNS_BEGIN" and "…_END".
void ReadMTextColumnData(CDwgReaderContext& context, const CDwgObjectFrame& frame, MText& mtext,
                         CDwgEntityInfo& info) {
  for (const CDwgExtendedData& data : frame.extendedData) {
    if (ApplicationName(context, data.application) != "ACAD") continue;
    bool inInfo = false, inLinked = false;
    int code = -1, heightsLeft = 0;
    for (const CDwgExtendedItem& item : ReadExtendedItems(data.bytes, context.version)) {
      if (item.code == 1000) {
        inInfo = item.text == "ACAD_MTEXT_COLUMN_INFO_BEGIN" ||
                 (inInfo && item.text != "ACAD_MTEXT_COLUMN_INFO_END");
        inLinked = item.text == "ACAD_MTEXT_COLUMNS_BEGIN" ||
                   (inLinked && item.text != "ACAD_MTEXT_COLUMNS_END");
        code = -1;
        continue;
      }
      if (inLinked && item.code == 1005 && info.linkedColumns.size() < 1000) {
        info.linkedColumns.push_back(static_cast<std::uint64_t>(item.integer));
        continue;
      }
      if (!inInfo || (item.code != 1070 && item.code != 1040)) continue;
      const double value = item.code == 1040 ? item.reals[0] : static_cast<double>(item.integer);
      if (!std::isfinite(value)) continue;
      if (heightsLeft > 0 && item.code == 1040) {
        if (mtext.columnHeights.size() < 1000) mtext.columnHeights.push_back(std::max(0.0, value));
        --heightsLeft;
        continue;
      }
      if (code < 0) {
        code = static_cast<int>(value);
        continue;
      }
      if (!SetMTextColumnSetting(mtext, code, value) && code == 50) {
        heightsLeft = std::clamp(static_cast<int>(value), 0, 1000);
      }
      code = -1;
    }
  }
  if (mtext.columnType == 0) mtext.columnHeights.clear();
  info.columnWidth = mtext.columnWidth > 0 ? mtext.columnWidth : mtext.referenceWidth;
}

CDwgEntityResult ReadMText(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity,
                           CDwgEntityInfo& info) {
  CBitReader& d = frame.data;
  MText mtext;
  mtext.insertion = V(d.Read3BD());
  SetExtrusion(entity, d.Read3BD());
  const Vec3 direction = V(d.Read3BD());
  mtext.referenceWidth = std::max(0.0, d.ReadBD());
  if (context.version >= Version::R2007) d.ReadBD();  // rectangle height
  mtext.height = d.ReadBD();
  const int attachment = d.ReadBS();
  mtext.attachment = attachment >= 1 && attachment <= 9 ? attachment : 1;
  d.ReadBS();  // flow direction
  d.ReadBD();  // extents
  d.ReadBD();
  mtext.text = CaretNotation(context.Text(frame, true), true);
  if (context.version >= Version::R2000) {
    d.ReadBS();  // line spacing style
    const double factor = d.ReadBD();
    if (factor > 0.0) mtext.lineSpacingFactor = factor;
  }
  mtext.style = context.TextStyleOf(ReadHandle(frame));
  if (d.Failed() || frame.Strings().Failed()) return CDwgEntityResult::Damaged;
  // R2018 keeps the columns with the text; earlier releases (and R2018 texts that keep none
  // there) in the extended data.
  if (context.version >= Version::R2018) ReadMTextColumns(frame, mtext);
  if (mtext.columnType == 0) ReadMTextColumnData(context, frame, mtext, info);
  mtext.direction = Normalized(direction, OcsXAxis(entity.extrusion));
  entity.data = std::move(mtext);
  return CDwgEntityResult::Stored;
}

// Dimension variables overridden in the extended data of the application ACAD: "DSTYLE",
// "{", then pairs of (1070 variable code, value), "}": the arrowhead size (41), the overall
// scale (40), the text height (140), the text gap (147) and the text style (340, a 1005 handle).
void ApplyDimStyleOverrides(CDwgReaderContext& context, const CDwgObjectFrame& frame,
                            CDwgDimStyle& style) {
  for (const CDwgExtendedData& data : frame.extendedData) {
    if (ApplicationName(context, data.application) != "ACAD") continue;
    bool inStyle = false;
    int variable = -1;
    for (const CDwgExtendedItem& item : ReadExtendedItems(data.bytes, context.version)) {
      if (item.code == 1000) {
        inStyle = item.text == "DSTYLE";
      } else if (inStyle && item.code == 1070 && variable < 0) {
        variable = static_cast<int>(item.integer);
      } else if (inStyle && variable >= 0 && (item.code == 1040 || item.code == 1070)) {
        const double value = item.code == 1040 ? item.reals[0] : static_cast<double>(item.integer);
        if (variable == 41) style.arrowSize = value;
        if (variable == 40) style.scale = value;
        if (variable == 140) style.textHeight = value;
        if (variable == 147) style.gap = value;
        variable = -1;
      } else if (inStyle && variable == 340 && item.code == 1005) {
        style.textStyle = static_cast<std::uint64_t>(item.integer);
        variable = -1;
      } else if (inStyle && item.code != 1002) {
        variable = -1;
      }
    }
  }
}

// A straight leader to a text or tolerance ends in a short hook line along its x axis when its
// last segment is not itself near horizontal. The file keeps the end of the hook as the last
// point; where the hook starts follows from the arrowhead size, on the side the last segment
// heads to. DXF files list that point before the last, and so does the model.
void AddHookLine(Leader& leader, unsigned annotation, const Vec3& xAxis, bool alongX) {
  if (leader.spline || annotation > 1 || leader.vertices.size() < 2) return;
  const Vec3 last = leader.vertices.back();
  const Vec3& before = leader.vertices[leader.vertices.size() - 2];
  const Vec3 axis = Normalized(xAxis, {1, 0, 0});
  const Vec3 segment{last.x - before.x, last.y - before.y, last.z - before.z};
  const double along = segment.x * axis.x + segment.y * axis.y + segment.z * axis.z;
  const double length =
      std::sqrt(segment.x * segment.x + segment.y * segment.y + segment.z * segment.z);
  constexpr double kNearHorizontal = 0.9659258262890683;  // cos 15°
  if (!(length > 0.0) || std::fabs(along) >= kNearHorizontal * length) return;
  const double side = along != 0.0 ? (along > 0.0 ? 1.0 : -1.0) : (alongX ? 1.0 : -1.0);
  const double size = leader.arrowSize * side;
  leader.vertices.insert(leader.vertices.end() - 1,
                         {last.x - axis.x * size, last.y - axis.y * size, last.z - axis.z * size});
}

CDwgEntityResult ReadLeader(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  Leader leader;
  d.ReadB();
  const unsigned annotation = d.ReadBS();  // 0 MTEXT, 1 TOLERANCE, 2 INSERT, 3 none
  leader.spline = d.ReadBS() == 1;
  const std::uint32_t count = d.ReadBL();
  if (d.Failed() || !CountFits(d, count, 6)) return CDwgEntityResult::Damaged;
  leader.vertices.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) leader.vertices.push_back(V(d.Read3BD()));
  d.Read3BD();  // origin
  SetExtrusion(entity, d.Read3BD());
  const Vec3 xAxis = V(d.Read3BD());
  d.Read3BD();                                       // offset of the annotation
  if (context.version >= Version::R14) d.Read3BD();  // end point projection
  if (context.version <= Version::R14) d.ReadBD();   // DIMGAP
  if (context.version <= Version::R2007) {
    d.ReadBD();  // annotation box height and width, which later releases no longer store
    d.ReadBD();
  }
  const bool hookAlongX = d.ReadB();
  leader.arrowhead = d.ReadB();
  ReadHandle(frame);  // the annotation
  const std::uint64_t dimStyle = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  CDwgDimStyle style = context.DimStyleOf(dimStyle);
  ApplyDimStyleOverrides(context, frame, style);
  leader.arrowSize = style.arrowSize * (style.scale > 0.0 ? style.scale : 1.0);
  AddHookLine(leader, annotation, xAxis, hookAlongX);
  entity.data = std::move(leader);
  return CDwgEntityResult::Stored;
}

CDwgEntityResult ReadLwPolyline(CDwgReaderContext& context, CDwgObjectFrame& frame,
                                Entity& entity) {
  CBitReader& d = frame.data;
  Polyline polyline;
  const unsigned flags = d.ReadBS();
  if (flags & 4) polyline.constantWidth = d.ReadBD();
  if (flags & 8) polyline.elevation = d.ReadBD();
  if (flags & 2) SetThickness(entity, d.ReadBD());
  if (flags & 1) SetExtrusion(entity, d.Read3BD());
  const std::uint32_t points = d.ReadBL();
  const std::uint32_t bulges = (flags & 16) ? d.ReadBL() : 0;
  const std::uint32_t ids = (context.version >= Version::R2010 && (flags & 1024)) ? d.ReadBL() : 0;
  const std::uint32_t widths = (flags & 32) ? d.ReadBL() : 0;
  if (d.Failed() || !CountFits(d, points, 4) || !CountFits(d, bulges, 2) || !CountFits(d, ids, 2) ||
      !CountFits(d, widths, 4)) {
    return CDwgEntityResult::Damaged;
  }
  polyline.closed = (flags & 512) != 0;
  polyline.vertices.resize(points);
  CPoint2 previous;
  for (std::uint32_t i = 0; i < points; ++i) {
    CPoint2 point;
    if (i == 0 || context.version <= Version::R14) {
      point = d.Read2RD();
    } else {
      point.x = d.ReadDD(previous.x);
      point.y = d.ReadDD(previous.y);
    }
    previous = point;
    polyline.vertices[i].position = {point.x, point.y, polyline.elevation};
  }
  for (std::uint32_t i = 0; i < bulges; ++i) {
    const double bulge = d.ReadBD();
    if (i < points) polyline.vertices[i].bulge = bulge;
  }
  for (std::uint32_t i = 0; i < ids; ++i) d.ReadBL();
  for (std::uint32_t i = 0; i < widths; ++i) {
    const double start = d.ReadBD();
    const double end = d.ReadBD();
    if (i < points) {
      polyline.vertices[i].startWidth = start;
      polyline.vertices[i].endWidth = end;
    }
  }
  if (d.Failed()) return CDwgEntityResult::Damaged;
  entity.data = std::move(polyline);
  return CDwgEntityResult::Stored;
}

bool ReadHatchSplineEdge(CBitReader& d, HatchEdge& edge) {
  Spline& spline = edge.spline;
  spline.degree = static_cast<int>(d.ReadBL());
  spline.rational = d.ReadB();
  spline.periodic = d.ReadB();
  const std::uint32_t knots = d.ReadBL();
  const std::uint32_t controls = d.ReadBL();
  if (d.Failed() || !CountFits(d, knots, 2) || !CountFits(d, controls, 128)) return false;
  spline.knots.reserve(knots);
  for (std::uint32_t i = 0; i < knots; ++i) spline.knots.push_back(d.ReadBD());
  spline.controlPoints.reserve(controls);
  for (std::uint32_t i = 0; i < controls && !d.Failed(); ++i) {
    const CPoint2 point = d.Read2RD();
    spline.controlPoints.push_back({point.x, point.y, 0.0});
    if (spline.rational) spline.weights.push_back(d.ReadBD());
  }
  if (d.GetVersion() >= Version::R2010) {
    const std::uint32_t fits = d.ReadBL();
    if (d.Failed() || !CountFits(d, fits, 128)) return false;
    if (fits > 0) {
      for (std::uint32_t i = 0; i < fits; ++i) {
        const CPoint2 point = d.Read2RD();
        spline.fitPoints.push_back({point.x, point.y, 0.0});
      }
      d.Read2RD();  // start and end tangents
      d.Read2RD();
    }
  }
  spline.degree = std::clamp(spline.degree, 1, 25);
  if (spline.weights.size() != spline.controlPoints.size()) spline.weights.clear();
  if (spline.knots.size() !=
      spline.controlPoints.size() + static_cast<std::size_t>(spline.degree) + 1) {
    spline.knots.clear();
  }
  return !d.Failed();
}

bool ReadHatchEdge(CBitReader& d, HatchEdge& edge) {
  switch (d.ReadRC()) {
    case 1: {
      edge.kind = HatchEdge::Line;
      const CPoint2 start = d.Read2RD();
      const CPoint2 end = d.Read2RD();
      edge.start = {start.x, start.y};
      edge.end = {end.x, end.y};
      return !d.Failed();
    }
    case 2: {
      edge.kind = HatchEdge::CircularArc;
      const CPoint2 center = d.Read2RD();
      edge.center = {center.x, center.y};
      edge.radius = d.ReadBD();
      edge.startAngle = d.ReadBD() * kDegrees;
      edge.endAngle = d.ReadBD() * kDegrees;
      edge.counterClockwise = d.ReadB();
      return !d.Failed();
    }
    case 3: {
      edge.kind = HatchEdge::EllipticArc;
      const CPoint2 center = d.Read2RD();
      const CPoint2 axis = d.Read2RD();
      edge.center = {center.x, center.y};
      edge.majorAxis = {axis.x, axis.y};
      edge.ratio = d.ReadBD();
      edge.startAngle = d.ReadBD() * kDegrees;
      edge.endAngle = d.ReadBD() * kDegrees;
      edge.counterClockwise = d.ReadB();
      if (!(edge.ratio > 0.0)) edge.ratio = 1.0;
      return !d.Failed();
    }
    case 4:
      edge.kind = HatchEdge::SplineEdge;
      return ReadHatchSplineEdge(d, edge);
    default:
      return false;
  }
}

CDwgEntityResult ReadHatch(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  Hatch hatch;
  if (context.version >= Version::R2004) {
    HatchGradient& gradient = hatch.gradientFill;
    hatch.gradient = d.ReadBL() != 0;
    d.ReadBL();  // reserved
    gradient.angle = d.ReadBD();
    gradient.shift = d.ReadBD();
    gradient.oneColor = d.ReadBL() != 0;
    gradient.tint = d.ReadBD();
    const std::uint32_t colors = d.ReadBL();
    if (d.Failed() || !CountFits(d, colors, 8)) return CDwgEntityResult::Damaged;
    for (std::uint32_t i = 0; i < colors && !d.Failed(); ++i) {
      d.ReadBD();  // the colour's place in the blend: 0 and 1 for the two colours
      const Color color = ColorOfCmc(d.ReadCMC(&frame.Strings()), context.version);
      // A gradient colour is an index or a true colour (with its nearest index), never ByLayer
      // or ByBlock.
      if (i < 2 && color.index >= 1 && color.index <= 255) {
        gradient.colors[i] = color;
      }
    }
    gradient.kind = GradientKindByName(context.Text(frame));
  }
  hatch.elevation = d.ReadBD();
  SetExtrusion(entity, d.Read3BD());
  hatch.pattern = context.Name(frame);
  hatch.solid = d.ReadB();
  d.ReadB();  // associative
  const std::uint32_t paths = d.ReadBL();
  if (d.Failed() || !CountFits(d, paths, 8)) return CDwgEntityResult::Damaged;
  bool derived = false;
  std::uint64_t boundaryHandles = 0;
  hatch.paths.reserve(paths);
  for (std::uint32_t p = 0; p < paths; ++p) {
    HatchPath path;
    path.flags = static_cast<int>(d.ReadBL());
    derived = derived || (path.flags & 4);
    if (path.flags & 2) {
      path.isPolyline = true;
      const bool bulges = d.ReadB();
      path.closed = d.ReadB();
      const std::uint32_t count = d.ReadBL();
      if (d.Failed() || !CountFits(d, count, 128)) return CDwgEntityResult::Damaged;
      path.vertices.resize(count);
      for (PolylineVertex& vertex : path.vertices) {
        const CPoint2 point = d.Read2RD();
        vertex.position = {point.x, point.y, hatch.elevation};
        if (bulges) vertex.bulge = d.ReadBD();
      }
    } else {
      const std::uint32_t count = d.ReadBL();
      if (d.Failed() || !CountFits(d, count, 8)) return CDwgEntityResult::Damaged;
      path.edges.resize(count);
      for (HatchEdge& edge : path.edges) {
        if (!ReadHatchEdge(d, edge)) return CDwgEntityResult::Damaged;
      }
    }
    boundaryHandles += d.ReadBL();
    if (d.Failed()) return CDwgEntityResult::Damaged;
    hatch.paths.push_back(std::move(path));
  }
  d.ReadBS();  // style
  d.ReadBS();  // pattern type
  if (!hatch.solid) {
    d.ReadBD();  // angle and scale: the lines below have them applied
    d.ReadBD();
    d.ReadB();  // double
    const unsigned lines = d.ReadBS();
    for (unsigned l = 0; l < lines && !d.Failed(); ++l) {
      HatchPatternLine line;
      line.angle = d.ReadBD() * kDegrees;
      const CPoint2 base = d.Read2BD();
      const CPoint2 offset = d.Read2BD();
      line.base = {base.x, base.y};
      line.offset = {offset.x, offset.y};
      const unsigned dashes = d.ReadBS();
      if (!CountFits(d, dashes, 2)) return CDwgEntityResult::Damaged;
      for (unsigned k = 0; k < dashes; ++k) line.dashes.push_back(d.ReadBD());
      hatch.patternLines.push_back(std::move(line));
    }
  }
  if (derived) d.ReadBD();  // pixel size
  if (d.Failed()) return CDwgEntityResult::Damaged;
  (void)boundaryHandles;  // the boundary objects of associative hatches are not needed
  entity.data = std::move(hatch);
  return CDwgEntityResult::Stored;
}

CDwgEntityResult ReadImage(CDwgReaderContext& context, CDwgObjectFrame& frame, Kind kind,
                           Entity& entity) {
  CBitReader& d = frame.data;
  Image image;
  d.ReadBL();  // class version
  image.insertion = V(d.Read3BD());
  image.u = V(d.Read3BD());
  image.v = V(d.Read3BD());
  const CPoint2 size = d.Read2RD();
  image.pixelSize = {size.x, size.y};
  const unsigned display = d.ReadBS();
  image.show = (display & 1) != 0;
  image.transparent = (display & 8) != 0;
  image.clipping = d.ReadB();
  image.brightness = std::min<int>(d.ReadRC(), 100);
  image.contrast = std::min<int>(d.ReadRC(), 100);
  image.fade = std::min<int>(d.ReadRC(), 100);
  if (context.version >= Version::R2010) image.clipInverted = d.ReadB();
  const unsigned boundary = d.ReadBS();
  const std::uint32_t count = boundary == 1 ? 2 : d.ReadBL();
  if (d.Failed() || !CountFits(d, count, 128)) return CDwgEntityResult::Damaged;
  image.clipBoundary.reserve(count + 1);
  for (std::uint32_t i = 0; i < count; ++i) {
    const CPoint2 point = d.Read2RD();
    image.clipBoundary.push_back({point.x, point.y});
  }
  // A polygon is kept closed by repeating its first point, as DXF files write it.
  if (boundary != 1 && image.clipBoundary.size() > 2) {
    const Vec2 first = image.clipBoundary.front();
    const Vec2 last = image.clipBoundary.back();
    if (first.x != last.x || first.y != last.y) image.clipBoundary.push_back(first);
  }
  const std::uint64_t definition = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  if (kind == Kind::Image) {
    image.imageDef = context.ImageDefOf(definition);
    entity.data = std::move(image);
  } else {
    entity.data = Wipeout{std::move(image)};
  }
  return CDwgEntityResult::Stored;
}

// A colour of a multileader's parts: CMC, with the method byte from R2004 on.
Color PartColor(CDwgReaderContext& context, CDwgObjectFrame& frame) {
  const Color color = ColorOfCmc(frame.data.ReadCMC(&frame.Strings()), context.version);
  return color.index <= 257 ? color : Color{Color::kByBlock, false, 0};
}

bool Finite(const Vec3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// A multileader's lineweight (BL, signed): hundredths of a millimetre or ByLayer, ByBlock,
// Default; ByBlock when it is none of these.
std::int16_t PartLineweight(CBitReader& d) {
  const auto weight = static_cast<std::int32_t>(d.ReadBL());
  return static_cast<std::int16_t>(weight >= -3 && weight <= 211 ? weight : kLineweightByBlock);
}

// A multileader's linetype handle as a linetype reference; 0 leaves it ByBlock.
std::int32_t PartLinetype(CDwgReaderContext& context, std::uint64_t handle) {
  return handle != 0 ? context.LinetypeOf(handle) : kLinetypeByBlock;
}

// MULTILEADER: the leader roots with their lines, then the annotation context (scale, content,
// text or block), then the entity's own properties. Fields of the lines and the entity differ
// by release. Damaged when a stream runs out or a value makes no sense: the caller then falls
// back to the entity's graphics.
CDwgEntityResult ReadMLeader(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  const bool r2010 = context.version >= Version::R2010;
  MLeader leader;
  if (r2010 && d.ReadBS() > 10) return CDwgEntityResult::Damaged;  // class version
  const std::uint32_t roots = d.ReadBL();
  if (d.Failed() || !CountFits(d, roots, 8) || roots > 5000) return CDwgEntityResult::Damaged;
  struct Root {
    MLeaderBranch branch;
    bool hasLanding = false, hasDogleg = false;
  };
  std::vector<Root> read(roots);
  for (Root& root : read) {
    root.hasLanding = d.ReadB();
    root.hasDogleg = d.ReadB();
    if (root.hasLanding) root.branch.landing = V(d.Read3BD());
    if (root.hasDogleg) root.branch.doglegDirection = V(d.Read3BD());
    const std::uint32_t breaks = d.ReadBL();
    if (d.Failed() || !CountFits(d, breaks, 12)) return CDwgEntityResult::Damaged;
    for (std::uint32_t i = 0; i < breaks; ++i) {
      d.Read3BD();
      d.Read3BD();
    }
    d.ReadBL();  // branch index
    root.branch.doglegLength = d.ReadBD();
    const std::uint32_t lines = d.ReadBL();
    if (d.Failed() || !CountFits(d, lines, 8)) return CDwgEntityResult::Damaged;
    for (std::uint32_t l = 0; l < lines; ++l) {
      MLeaderLine& line = root.branch.lines.emplace_back();
      const std::uint32_t points = d.ReadBL();
      if (d.Failed() || !CountFits(d, points, 6)) return CDwgEntityResult::Damaged;
      for (std::uint32_t i = 0; i < points; ++i) line.vertices.push_back(V(d.Read3BD()));
      const std::uint32_t lineBreaks = d.ReadBL();
      if (d.Failed() || !CountFits(d, lineBreaks, 12)) return CDwgEntityResult::Damaged;
      for (std::uint32_t i = 0; i < lineBreaks; ++i) {
        d.Read3BD();
        d.Read3BD();
      }
      d.ReadBL();  // line index
      if (r2010) {
        d.ReadBS();  // leader type
        line.color = PartColor(context, frame);
        line.linetype = PartLinetype(context, ReadHandle(frame));
        line.lineweight = PartLineweight(d);
        d.ReadBD();         // arrowhead size
        ReadHandle(frame);  // arrowhead
        // What the line sets apart: 2 its colour, 4 its linetype, 8 its weight.
        const std::uint32_t flags = d.ReadBL();
        line.ownColor = (flags & 2) != 0;
        line.ownLinetype = (flags & 4) != 0;
        line.ownLineweight = (flags & 8) != 0;
      }
    }
    if (r2010 && d.ReadBS() == 1) leader.verticalAttachment = true;
  }
  // The annotation context.
  d.ReadBD();   // overall scale
  d.Read3BD();  // content base point
  leader.text->height = d.ReadBD();
  const double contextArrowSize = d.ReadBD();
  leader.landingGap = std::max(0.0, d.ReadBD());
  leader.textLeftAttachment = d.ReadBS();
  leader.textRightAttachment = d.ReadBS();
  d.ReadBS();  // text angle
  d.ReadBS();  // text alignment
  leader.hasText = d.ReadB();
  if (leader.hasText) {
    leader.text->text = CaretNotation(context.Text(frame, true), true);
    d.Read3BD();  // normal
    leader.text->style = context.TextStyleOf(ReadHandle(frame));
    leader.text->insertion = V(d.Read3BD());
    leader.text->direction = Normalized(V(d.Read3BD()), {1, 0, 0});
    d.ReadBD();  // rotation
    leader.text->referenceWidth = std::max(0.0, d.ReadBD());
    d.ReadBD();  // defined height
    const double spacing = d.ReadBD();
    if (spacing > 0) leader.text->lineSpacingFactor = spacing;
    d.ReadBS();  // line spacing style
    leader.textColor = PartColor(context, frame);
    const unsigned attachment = d.ReadBS();
    leader.text->attachment = attachment >= 1 && attachment <= 9 ? static_cast<int>(attachment) : 1;
    d.ReadBS();                 // flow direction
    PartColor(context, frame);  // background colour
    d.ReadBD();                 // background scale
    d.ReadBL();                 // background transparency
    d.ReadB();                  // background fill
    d.ReadB();                  // background mask
    d.ReadBS();                 // column type
    d.ReadB();                  // automatic height
    d.ReadBD();                 // column width
    d.ReadBD();                 // column gutter
    d.ReadB();                  // columns reversed
    const std::uint32_t columns = d.ReadBL();
    if (d.Failed() || !CountFits(d, columns, 2)) return CDwgEntityResult::Damaged;
    for (std::uint32_t i = 0; i < columns; ++i) d.ReadBD();
    d.ReadB();  // word break
    d.ReadB();
  } else if (d.ReadB()) {
    leader.hasBlock = true;
    leader.block->block = context.BlockOf(ReadHandle(frame));
    leader.blockNormal = Normalized(V(d.Read3BD()), {0, 0, 1});
    leader.block->insertion = V(d.Read3BD());
    leader.block->scale = V(d.Read3BD());
    leader.block->rotation = d.ReadBD() * kDegrees;
    leader.blockColor = PartColor(context, frame);
    for (int i = 0; i < 16; ++i) d.ReadBD();  // transform
  }
  d.Read3BD();  // base point, direction and vertical direction of the content
  d.Read3BD();
  d.Read3BD();
  d.ReadB();  // normal reversed
  if (r2010) {
    d.ReadBS();  // text attachments top and bottom
    d.ReadBS();
  }
  // The entity.
  ReadHandle(frame);  // MLEADERSTYLE
  d.ReadBL();         // override flags
  const unsigned type = d.ReadBS();
  leader.leaderType = type <= 2 ? static_cast<int>(type) : 1;
  leader.lineColor = PartColor(context, frame);
  leader.lineLinetype = PartLinetype(context, ReadHandle(frame));
  leader.lineLineweight = PartLineweight(d);
  d.ReadB();  // landing
  const bool dogleg = d.ReadB();
  d.ReadBD();  // landing distance
  const std::uint64_t arrow = ReadHandle(frame);
  const double arrowSize = d.ReadBD();
  if (d.Failed() || frame.handles.Failed() || frame.Strings().Failed()) {
    return CDwgEntityResult::Damaged;
  }
  // The content's settings follow; the frame around the text is the last needed.
  d.ReadBS();                              // content type
  ReadHandle(frame);                       // text style
  for (int i = 0; i < 4; ++i) d.ReadBS();  // text attachments left and right, angle, alignment
  PartColor(context, frame);               // text colour
  const bool textFrame = d.ReadB();
  leader.textFrame = !d.Failed() && textFrame;
  leader.arrowBlock = arrow != 0 ? context.BlockOf(arrow) : -1;
  leader.arrowSize =
      std::isfinite(contextArrowSize) && contextArrowSize >= 0 ? contextArrowSize : arrowSize;
  if (leader.hasText && leader.text->style < 0) leader.text->style = context.standardStyle;
  if (leader.text->style < 0) leader.text->style = context.standardStyle;
  leader.hasBlock = leader.hasBlock && leader.block->block >= 0;
  for (Root& root : read) {
    for (MLeaderLine& line : root.branch.lines) {
      if (root.hasLanding) line.vertices.push_back(root.branch.landing);
      if (!std::all_of(line.vertices.begin(), line.vertices.end(), Finite)) {
        return CDwgEntityResult::Damaged;
      }
    }
    if (!(dogleg && root.hasDogleg && root.hasLanding)) root.branch.doglegLength = 0;
    if (!std::isfinite(root.branch.doglegLength)) return CDwgEntityResult::Damaged;
    leader.branches.push_back(std::move(root.branch));
  }
  if (!Finite(leader.text->insertion) || !Finite(leader.block->insertion) ||
      !std::isfinite(leader.text->height) || !std::isfinite(leader.arrowSize)) {
    return CDwgEntityResult::Damaged;
  }
  entity.data = std::move(leader);
  return CDwgEntityResult::Stored;
}

// MLINE: scale, justification, base point, extrusion, flags, the element count, then per
// vertex its position, direction, miter and per element its parameters and fill parameters.
CDwgEntityResult ReadMLine(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  MLine mline;
  d.ReadBD();   // scale
  d.ReadRC();   // justification
  d.Read3BD();  // base point
  SetExtrusion(entity, d.Read3BD());
  const unsigned flags = d.ReadBS();
  mline.closed = (flags & 2) != 0;
  mline.suppressStartCaps = (flags & 4) != 0;
  mline.suppressEndCaps = (flags & 8) != 0;
  const unsigned elements = d.ReadRC();
  const unsigned vertices = d.ReadBS();
  if (d.Failed() || !CountFits(d, vertices, 18)) return CDwgEntityResult::Damaged;
  for (unsigned v = 0; v < vertices; ++v) {
    MLineVertex& vertex = mline.vertices.emplace_back();
    vertex.position = V(d.Read3BD());
    d.Read3BD();  // direction
    vertex.miter = Normalized(V(d.Read3BD()), {0, 1, 0});
    for (unsigned e = 0; e < elements && !d.Failed(); ++e) {
      const unsigned parameters = d.ReadBS();
      if (d.Failed() || !CountFits(d, parameters, 2)) return CDwgEntityResult::Damaged;
      std::vector<double> breaks;
      for (unsigned i = 0; i < parameters; ++i) {
        const double value = d.ReadBD();
        if (i == 0) {
          vertex.offsets.push_back(value);
        } else {
          breaks.push_back(value);
        }
      }
      if (parameters == 0) vertex.offsets.push_back(0.0);
      StoreMLineBreaks(vertex, std::move(breaks));
      const unsigned fills = d.ReadBS();
      if (d.Failed() || !CountFits(d, fills, 2)) return CDwgEntityResult::Damaged;
      for (unsigned i = 0; i < fills; ++i) d.ReadBD();
    }
  }
  const std::uint64_t style = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  mline.style = context.MLineStyleOf(style);
  entity.data = std::move(mline);
  return CDwgEntityResult::Stored;
}

// MESH: version, blend crease, subdivision level and its vertices, the vertices, the face list
// (each face its vertex count, then its indices), the edges, the creases.
CDwgEntityResult ReadMesh(CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  Mesh mesh;
  d.ReadBS();  // version
  d.ReadB();   // blend crease
  const std::uint32_t subdivided = d.ReadBL();
  if (d.Failed() || !CountFits(d, subdivided, 6)) return CDwgEntityResult::Damaged;
  for (std::uint32_t i = 0; i < subdivided; ++i) d.Read3BD();
  const std::uint32_t vertices = d.ReadBL();
  if (d.Failed() || !CountFits(d, vertices, 6)) return CDwgEntityResult::Damaged;
  for (std::uint32_t i = 0; i < vertices; ++i) mesh.vertices.push_back(V(d.Read3BD()));
  std::uint32_t list = d.ReadBL();
  if (d.Failed() || !CountFits(d, list, 2)) return CDwgEntityResult::Damaged;
  while (list > 0 && !d.Failed()) {
    const std::uint32_t size = std::min<std::uint32_t>(d.ReadBL(), list - 1);
    --list;
    std::vector<int>& face = mesh.faces.emplace_back();
    for (std::uint32_t i = 0; i < size; ++i, --list) face.push_back(static_cast<int>(d.ReadBL()));
  }
  const std::uint32_t edges = d.ReadBL();
  if (d.Failed() || !CountFits(d, edges, 4)) return CDwgEntityResult::Damaged;
  for (std::uint32_t i = 0; i < edges; ++i) {
    const auto from = static_cast<int>(d.ReadBL());
    const auto to = static_cast<int>(d.ReadBL());
    mesh.edges.emplace_back(from, to);
  }
  if (d.Failed()) return CDwgEntityResult::Damaged;
  // The creases and two flags that follow are not needed.
  const auto count = static_cast<int>(mesh.vertices.size());
  std::erase_if(mesh.faces, [count](const std::vector<int>& face) {
    return std::any_of(face.begin(), face.end(), [count](int i) { return i < 0 || i >= count; });
  });
  std::erase_if(mesh.edges, [count](const std::pair<int, int>& edge) {
    return edge.first < 0 || edge.first >= count || edge.second < 0 || edge.second >= count;
  });
  entity.data = std::move(mesh);
  return CDwgEntityResult::Stored;
}

// TOLERANCE: R13 and R14 store the text height and gap; later releases take them from the
// dimension style.
CDwgEntityResult ReadTolerance(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  Tolerance tolerance;
  double height = -1, gap = -1;
  if (context.version <= Version::R14) {
    d.ReadBS();
    height = d.ReadBD();
    gap = d.ReadBD();
  }
  tolerance.insertion = V(d.Read3BD());
  const Vec3 direction = V(d.Read3BD());
  SetExtrusion(entity, d.Read3BD());
  tolerance.text = CaretNotation(context.Text(frame), false);
  const std::uint64_t dimStyle = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed() || frame.Strings().Failed()) {
    return CDwgEntityResult::Damaged;
  }
  CDwgDimStyle style = context.DimStyleOf(dimStyle);
  ApplyDimStyleOverrides(context, frame, style);
  const double scale = style.scale > 0 ? style.scale : 1.0;
  tolerance.height = height > 0 ? height : style.textHeight * scale;
  tolerance.gap = gap > 0 ? gap : style.gap * scale;
  tolerance.direction = Normalized(direction, {1, 0, 0});
  // The frame's text is in the dimension style's text style.
  tolerance.style =
      style.textStyle != 0 ? context.TextStyleOf(style.textStyle) : context.standardStyle;
  entity.data = std::move(tolerance);
  return CDwgEntityResult::Stored;
}

// PDFUNDERLAY, DWFUNDERLAY and DGNUNDERLAY.
CDwgEntityResult ReadUnderlay(CDwgReaderContext& context, CDwgObjectFrame& frame,
                              const std::string& name, Entity& entity) {
  CBitReader& d = frame.data;
  Underlay underlay;
  underlay.format = name.substr(0, 3);
  SetExtrusion(entity, d.Read3BD());
  underlay.insertion = V(d.Read3BD());
  underlay.rotation = d.ReadBD() * kDegrees;
  underlay.scale = V(d.Read3BD());
  const unsigned flags = d.ReadRC();
  d.ReadRC();  // contrast
  d.ReadRC();  // fade
  const std::uint32_t count = d.ReadBL();
  if (d.Failed() || !CountFits(d, count, 128)) return CDwgEntityResult::Damaged;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CPoint2 point = d.Read2RD();
    underlay.clipBoundary.push_back({point.x, point.y});
  }
  // An inverted clip's second boundary; R2004 files leave it out even with the flag set.
  if ((flags & 16) && context.version >= Version::R2010 && d.BitsLeft() >= 2) {
    const unsigned inverted = d.ReadBS();
    if (d.Failed() || !CountFits(d, inverted, 128)) return CDwgEntityResult::Damaged;
    for (unsigned i = 0; i < inverted; ++i) d.Read2RD();
  }
  const std::uint64_t definition = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  underlay.fileName = context.UnderlayFileOf(definition);
  entity.data = std::move(underlay);
  return CDwgEntityResult::Stored;
}

// R13 and R14 keep a viewport's view in the extended data of the application ACAD: "MVIEW",
// then in order the version (1070), view target and direction (1010), twist, view height, view
// centre x and y (1040) …, and the frozen layers (1003).
void ReadViewportExtendedData(CDwgReaderContext& context, const CDwgObjectFrame& frame,
                              Viewport& viewport) {
  for (const CDwgExtendedData& data : frame.extendedData) {
    if (ApplicationName(context, data.application) != "ACAD") continue;
    bool inView = false;
    int points = 0, reals = 0;
    for (const CDwgExtendedItem& item : ReadExtendedItems(data.bytes, context.version)) {
      if (item.code == 1000) {
        inView = item.text == "MVIEW";
        continue;
      }
      if (!inView) continue;
      if (item.code == 1010) {
        ++points;
        const Vec3 point{item.reals[0], item.reals[1], item.reals[2]};
        if (points == 1) viewport.viewTarget = point;
        if (points == 2) viewport.viewDirection = point;
      } else if (item.code == 1040) {
        if (reals == 0) viewport.twist = item.reals[0];
        if (reals == 1) viewport.viewHeight = item.reals[0];
        if (reals == 2) viewport.viewCenter.x = item.reals[0];
        if (reals == 3) viewport.viewCenter.y = item.reals[0];
        ++reals;
      } else if (item.code == 1003) {
        const std::int32_t layer = context.LayerOf(static_cast<std::uint64_t>(item.integer));
        if (layer >= 0) viewport.frozenLayers.push_back(layer);
      }
    }
  }
}

CDwgEntityResult ReadViewport(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity,
                              CDwgEntityInfo& info) {
  CBitReader& d = frame.data;
  const Version v = context.version;
  Viewport viewport;
  viewport.center = V(d.Read3BD());
  viewport.width = d.ReadBD();
  viewport.height = d.ReadBD();
  if (v <= Version::R14) {
    if (d.Failed()) return CDwgEntityResult::Damaged;
    ReadViewportExtendedData(context, frame, viewport);
    viewport.viewDirection = Normalized(viewport.viewDirection, {0, 0, 1});
    entity.data = std::move(viewport);
    return CDwgEntityResult::Stored;
  }
  viewport.viewTarget = V(d.Read3BD());
  viewport.viewDirection = Normalized(V(d.Read3BD()), {0, 0, 1});
  viewport.twist = d.ReadBD() * kDegrees;
  viewport.viewHeight = d.ReadBD();
  d.ReadBD();  // lens length, front and back clipping
  d.ReadBD();
  d.ReadBD();
  d.ReadBD();  // snap angle
  const CPoint2 center = d.Read2RD();
  viewport.viewCenter = {center.x, center.y};
  d.Read2RD();  // snap base, snap spacing, grid spacing
  d.Read2RD();
  d.Read2RD();
  d.ReadBS();                           // circle zoom
  if (v >= Version::R2007) d.ReadBS();  // major grid lines
  const std::uint32_t frozen = d.ReadBL();
  const std::uint32_t status = d.ReadBL();
  if (d.Failed() || !CountFits(frame.handles, frozen, 8)) return CDwgEntityResult::Damaged;
  viewport.on = (status & 0x20000) == 0;
  for (std::uint32_t i = 0; i < frozen; ++i) {
    const std::int32_t layer = context.LayerOf(ReadHandle(frame));
    if (layer >= 0) viewport.frozenLayers.push_back(layer);
  }
  info.clipBoundary = ReadHandle(frame);
  if (frame.handles.Failed()) return CDwgEntityResult::Damaged;
  entity.data = std::move(viewport);
  return CDwgEntityResult::Stored;
}

CDwgEntityResult ReadTable(CDwgReaderContext& context, CDwgObjectFrame& frame, Entity& entity) {
  CBitReader& d = frame.data;
  // Every release begins a table with the block reference part; what follows (the cells, and
  // from R2010 the table content) is not needed, as the table's block holds its graphics.
  Table table;
  table.insertion = V(d.Read3BD());
  ReadInsertScale(d);
  d.ReadBD();  // rotation
  SetExtrusion(entity, d.Read3BD());
  table.block = context.BlockOf(ReadHandle(frame));
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  entity.data = std::move(table);
  return CDwgEntityResult::Stored;
}

}  // namespace

CDwgEntityResult ReadDwgEntity(CDwgReaderContext& context, CDwgObjectFrame& frame,
                               const CDwgEntityCommon& common, bool inDefinition, Entity& entity,
                               CDwgEntityInfo& info, std::string& name) {
  Kind kind = Kind::Skipped;
  if (frame.type < objecttype::kFirstClassType || frame.type == objecttype::kProxyEntity) {
    kind = FixedKind(frame.type, name);
  } else {
    const CDwgClass* klass = context.container.FindClass(frame.type);
    name = klass && !klass->dxfName.empty() ? klass->dxfName : context.TypeName(frame.type);
    kind = klass ? ClassKind(klass->dxfName) : Kind::Skipped;
    if (name == "ARC_DIMENSION" || name == "LARGE_RADIAL_DIMENSION") name = "DIMENSION";
  }
  if (kind == Kind::NotDrawn) return CDwgEntityResult::NotDrawn;
  if (kind == Kind::Skipped) return CDwgEntityResult::Skipped;

  context.ApplyCommon(common, entity);
  CBitReader& d = frame.data;
  switch (kind) {
    case Kind::Text:
    case Kind::Attrib:
    case Kind::Attdef:
      return ReadTextLike(context, frame, kind, inDefinition, entity);
    case Kind::Insert:
    case Kind::MInsert:
      return ReadInsert(context, frame, kind, entity, info);
    case Kind::Polyline2d:
    case Kind::Polyline3d:
    case Kind::PolylinePface:
    case Kind::PolylineMesh:
      return ReadPolyline(context, frame, kind, entity, info);
    case Kind::Arc: {
      Arc arc;
      arc.center = V(d.Read3BD());
      arc.radius = d.ReadBD();
      SetThickness(entity, d.ReadBT());
      SetExtrusion(entity, d.ReadBE());
      arc.startAngle = d.ReadBD() * kDegrees;
      arc.endAngle = d.ReadBD() * kDegrees;
      entity.data = arc;
      break;
    }
    case Kind::Circle: {
      Circle circle;
      circle.center = V(d.Read3BD());
      circle.radius = d.ReadBD();
      SetThickness(entity, d.ReadBT());
      SetExtrusion(entity, d.ReadBE());
      entity.data = circle;
      info.clipCandidate = true;
      break;
    }
    case Kind::Line: {
      Line line;
      if (context.version <= Version::R14) {
        line.start = V(d.Read3BD());
        line.end = V(d.Read3BD());
      } else {
        const bool flat = d.ReadB();
        line.start.x = d.ReadRD();
        line.end.x = d.ReadDD(line.start.x);
        line.start.y = d.ReadRD();
        line.end.y = d.ReadDD(line.start.y);
        if (!flat) {
          line.start.z = d.ReadRD();
          line.end.z = d.ReadDD(line.start.z);
        }
      }
      SetThickness(entity, d.ReadBT());
      SetExtrusion(entity, d.ReadBE());
      entity.data = line;
      break;
    }
    case Kind::Dimension: {
      if (context.version >= Version::R2010) d.ReadRC();  // class version
      SetExtrusion(entity, d.Read3BD());
      ReadHandle(frame);  // dimension style
      Dimension dimension;
      dimension.block = context.BlockOf(ReadHandle(frame));
      entity.data = dimension;
      break;
    }
    case Kind::Point: {
      Point point;
      point.position = V(d.Read3BD());
      SetThickness(entity, d.ReadBT());
      SetExtrusion(entity, d.ReadBE());
      entity.data = point;
      break;
    }
    case Kind::Face3d: {
      Face3d face;
      if (context.version <= Version::R14) {
        for (Vec3& corner : face.corners) corner = V(d.Read3BD());
        face.invisibleEdges = d.ReadBS() & 15;
      } else {
        const bool noFlags = d.ReadB();
        const bool flat = d.ReadB();
        face.corners[0].x = d.ReadRD();
        face.corners[0].y = d.ReadRD();
        if (!flat) face.corners[0].z = d.ReadRD();
        for (int i = 1; i < 4; ++i) {
          const Vec3& before = face.corners[i - 1];
          face.corners[i] = {d.ReadDD(before.x), d.ReadDD(before.y), d.ReadDD(before.z)};
        }
        if (!noFlags) face.invisibleEdges = d.ReadBS() & 15;
      }
      entity.data = face;
      break;
    }
    case Kind::Solid:
    case Kind::Trace: {
      Face face;
      SetThickness(entity, d.ReadBT());
      const double elevation = d.ReadBD();
      for (Vec3& corner : face.corners) {
        const CPoint2 point = d.Read2RD();
        corner = {point.x, point.y, elevation};
      }
      SetExtrusion(entity, d.ReadBE());
      if (kind == Kind::Solid) {
        entity.data = Solid{face};
      } else {
        entity.data = Trace{face};
      }
      break;
    }
    case Kind::Viewport:
      return ReadViewport(context, frame, entity, info);
    case Kind::Ellipse: {
      Ellipse ellipse;
      ellipse.center = V(d.Read3BD());
      ellipse.majorAxis = V(d.Read3BD());
      SetExtrusion(entity, d.Read3BD());
      ellipse.ratio = d.ReadBD();
      ellipse.startParam = d.ReadBD();
      ellipse.endParam = d.ReadBD();
      if (!(ellipse.ratio > 0.0)) ellipse.ratio = 1.0;
      entity.data = ellipse;
      info.clipCandidate = true;
      break;
    }
    case Kind::Spline: {
      bool ok = false;
      Spline spline = ReadSplineData(d, ok);
      if (!ok) return CDwgEntityResult::Damaged;
      entity.data = std::move(spline);
      info.clipCandidate = true;
      break;
    }
    case Kind::Ray:
    case Kind::XLine: {
      ConstructionLine line;
      line.base = V(d.Read3BD());
      line.direction = V(d.Read3BD());
      if (kind == Kind::Ray) {
        entity.data = Ray{line};
      } else {
        entity.data = XLine{line};
      }
      break;
    }
    case Kind::MText:
      return ReadMText(context, frame, entity, info);
    case Kind::Leader:
      return ReadLeader(context, frame, entity);
    case Kind::LwPolyline: {
      const CDwgEntityResult result = ReadLwPolyline(context, frame, entity);
      info.clipCandidate = true;
      return result;
    }
    case Kind::Hatch:
      return ReadHatch(context, frame, entity);
    case Kind::Image:
    case Kind::Wipeout:
      return ReadImage(context, frame, kind, entity);
    case Kind::Table:
      return ReadTable(context, frame, entity);
    case Kind::MLeader:
      return ReadMLeader(context, frame, entity);
    case Kind::MLine:
      return ReadMLine(context, frame, entity);
    case Kind::Mesh:
      return ReadMesh(frame, entity);
    case Kind::Tolerance:
      return ReadTolerance(context, frame, entity);
    case Kind::Underlay:
      return ReadUnderlay(context, frame, name, entity);
    case Kind::NotDrawn:
      return CDwgEntityResult::NotDrawn;
    case Kind::Skipped:
      return CDwgEntityResult::Skipped;
  }
  if (d.Failed() || frame.handles.Failed()) return CDwgEntityResult::Damaged;
  return CDwgEntityResult::Stored;
}

bool ReadDwgVertex(CDwgReaderContext& context, CDwgObjectFrame& frame, CDwgVertex& vertex) {
  CBitReader& d = frame.data;
  switch (frame.type) {
    case 0x0A: {  // 2D
      vertex.flags = d.ReadRC();
      vertex.vertex.position = V(d.Read3BD());
      const double start = d.ReadBD();
      if (start < 0.0) {
        vertex.vertex.startWidth = vertex.vertex.endWidth = -start;
      } else {
        vertex.vertex.startWidth = start;
        vertex.vertex.endWidth = d.ReadBD();
      }
      vertex.vertex.bulge = d.ReadBD();
      if (context.version >= Version::R2010) d.ReadBL();  // vertex id
      d.ReadBD();                                         // tangent direction
      break;
    }
    case 0x0B:  // 3D, mesh and polyface positions
    case 0x0C:
    case 0x0D:
      vertex.flags = d.ReadRC();
      vertex.vertex.position = V(d.Read3BD());
      break;
    case 0x0E:  // polyface face record
      vertex.isFace = true;
      vertex.flags = 128;
      for (int& index : vertex.face) index = static_cast<std::int16_t>(d.ReadBS());
      break;
    default:
      return false;
  }
  return !d.Failed();
}

void FinishDwgPolyline(const CDwgEntityInfo& info, std::vector<CDwgVertex>& records,
                       Polyline& polyline) {
  const int flags = info.polylineFlags;
  if (flags & 64) {  // polyface mesh: positions, then face records
    std::vector<PolylineVertex> positions;
    std::vector<std::vector<int>> faces;
    for (const CDwgVertex& record : records) {
      if (!record.isFace) {
        PolylineVertex position = record.vertex;
        position.bulge = position.startWidth = position.endWidth = 0.0;
        positions.push_back(position);
        continue;
      }
      std::vector<int> face;
      for (int index : record.face) {
        if (index != 0) face.push_back(index);
      }
      faces.push_back(std::move(face));
    }
    // Faces naming vertices that do not exist are dropped, so that the renderer can index
    // without checking.
    const auto count = static_cast<int>(positions.size());
    std::erase_if(faces, [count](const std::vector<int>& face) {
      return face.size() < 2 || std::any_of(face.begin(), face.end(), [count](int index) {
               return index < -count || index > count;
             });
    });
    polyline.vertices = std::move(positions);
    polyline.polyface = true;
    polyline.faces = std::move(faces);
    return;
  }
  // Spline-fitted polylines keep their frame (vertex flag 16) next to the fitted curve (flag
  // 8); the curve is what is drawn.
  const bool hasFitted = std::any_of(records.begin(), records.end(),
                                     [](const CDwgVertex& v) { return (v.flags & 8) != 0; });
  polyline.vertices.reserve(records.size());
  for (const CDwgVertex& record : records) {
    if (record.isFace || (hasFitted && (record.flags & 16))) continue;
    PolylineVertex vertex = record.vertex;
    if (polyline.is3d) {
      vertex.startWidth = vertex.endWidth = vertex.bulge = 0.0;
    } else {
      vertex.position.z = polyline.elevation;
    }
    polyline.vertices.push_back(vertex);
  }
  if (flags & 16) {  // polygon mesh: m rows of n vertices
    const int total = static_cast<int>(polyline.vertices.size());
    int m = info.meshM, n = info.meshN;
    if (m > 0 && n > 0 && static_cast<long long>(m) * n != total && info.smoothType != 0 &&
        static_cast<long long>(info.smoothM) * info.smoothN == total) {
      m = info.smoothM;
      n = info.smoothN;
    }
    if (m <= 0 || n <= 0 || static_cast<long long>(m) * n > total) {
      n = std::max(1, std::min(n, total));
      m = total / n;
    }
    polyline.meshM = m;
    polyline.meshN = n;
  }
}

}  // namespace drawing::dwg::detail
