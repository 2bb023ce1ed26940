#include "drawing/dxf/detail/DxfEntities.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>

namespace drawing::detail {

namespace {

enum class Kind {
  Line,
  Point,
  Circle,
  Arc,
  Ellipse,
  LwPolyline,
  Polyline,
  Spline,
  Solid,
  Trace,
  Face3d,
  Text,
  Attrib,
  Attdef,
  MText,
  Insert,
  Dimension,
  Table,
  Leader,
  XLine,
  Ray,
  Hatch,
  Image,
  Wipeout,
  Viewport,
  MLeader,
  MLine,
  Mesh,
  Tolerance,
  Underlay,
  NotDrawn,
};

const std::unordered_map<std::string_view, Kind>& Kinds() {
  static const std::unordered_map<std::string_view, Kind> kinds = {
      {"LINE", Kind::Line},
      {"3DLINE", Kind::Line},
      {"POINT", Kind::Point},
      {"CIRCLE", Kind::Circle},
      {"ARC", Kind::Arc},
      {"ELLIPSE", Kind::Ellipse},
      {"LWPOLYLINE", Kind::LwPolyline},
      {"POLYLINE", Kind::Polyline},
      {"SPLINE", Kind::Spline},
      {"HELIX", Kind::Spline},
      {"SOLID", Kind::Solid},
      {"TRACE", Kind::Trace},
      {"3DFACE", Kind::Face3d},
      {"TEXT", Kind::Text},
      {"ATTRIB", Kind::Attrib},
      {"ATTDEF", Kind::Attdef},
      {"MTEXT", Kind::MText},
      {"INSERT", Kind::Insert},
      {"DIMENSION", Kind::Dimension},
      {"ARC_DIMENSION", Kind::Dimension},
      {"LARGE_RADIAL_DIMENSION", Kind::Dimension},
      {"ACAD_TABLE", Kind::Table},
      {"LEADER", Kind::Leader},
      {"XLINE", Kind::XLine},
      {"RAY", Kind::Ray},
      {"HATCH", Kind::Hatch},
      {"IMAGE", Kind::Image},
      {"WIPEOUT", Kind::Wipeout},
      {"VIEWPORT", Kind::Viewport},
      {"MULTILEADER", Kind::MLeader},
      {"MLEADER", Kind::MLeader},
      {"MLINE", Kind::MLine},
      {"MESH", Kind::Mesh},
      {"TOLERANCE", Kind::Tolerance},
      {"PDFUNDERLAY", Kind::Underlay},
      {"DWFUNDERLAY", Kind::Underlay},
      {"DGNUNDERLAY", Kind::Underlay},
      // Records that belong to other entities or carry nothing to draw.
      {"SEQEND", Kind::NotDrawn},
      {"VERTEX", Kind::NotDrawn},
  };
  return kinds;
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 Normalized(const Vec3& v, const Vec3& fallback) {
  const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(length > 1e-12) || !std::isfinite(length)) return fallback;
  return {v.x / length, v.y / length, v.z / length};
}

// A sequential reader over an entity's groups, for the records whose meaning depends on order
// (HATCH boundaries). Every Take checks what is there, so counts in the file only bound loops
// and never make the reader run past the record.
class CGroupCursor {
 public:
  explicit CGroupCursor(std::span<const DxfGroup> list) : groups(list) {}
  bool AtEnd() const { return position >= groups.size(); }
  bool Is(int code) const { return !AtEnd() && groups[position].code == code; }
  const DxfGroup* Take(int code) {
    if (!Is(code)) return nullptr;
    return &groups[position++];
  }
  double TakeReal(int code, double fallback) {
    const DxfGroup* group = Take(code);
    return group ? Real(*group, fallback) : fallback;
  }
  int TakeInt(int code, int fallback) {
    const DxfGroup* group = Take(code);
    return group ? Int(*group, fallback) : fallback;
  }
  const DxfGroup& Current() const { return groups[position]; }
  void Skip() { ++position; }
  std::size_t Left() const { return groups.size() - position; }

 private:
  std::span<const DxfGroup> groups;
  std::size_t position = 0;
};

// A count from the file, limited to what the rest of the record could hold.
std::size_t Capped(int count, std::size_t left) {
  if (count <= 0) return 0;
  return std::min(static_cast<std::size_t>(count), left);
}

void ParseCommon(CDxfReaderContext& context, std::span<const DxfGroup> groups, Entity& entity,
                 DxfEntityInfo& info) {
  bool hasIndexColor = false;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 5:
        info.handle = GroupHandle(group);
        break;
      case 8:
        entity.layer = context.LayerIndex(group.text);
        break;
      case 6:
        entity.linetype = context.LinetypeReference(group.text);
        break;
      case 62: {
        const int index = std::abs(Int(group, Color::kByLayer));
        if (index <= 257) {
          entity.color.index = static_cast<std::int16_t>(index);
          hasIndexColor = true;
        }
        break;
      }
      case 420: {
        const auto value = static_cast<std::uint32_t>(Integer(group));
        entity.color.hasTrueColor = true;
        entity.color.rgb = ((value >> 16) & 0xFF) | (value & 0xFF00) | ((value & 0xFF) << 16);
        break;
      }
      case 370: {
        const int weight = Int(group, kLineweightByLayer);
        if (weight >= -3 && weight <= 211) entity.lineweight = static_cast<std::int16_t>(weight);
        break;
      }
      case 48: {
        const double scale = Real(group, 1.0);
        if (scale > 0.0) entity.linetypeScale = scale;
        break;
      }
      case 60:
        entity.invisible = Int(group) != 0;
        break;
      case 67:
        info.paperSpace = Int(group) == 1;
        break;
      case 390:
        info.plotStyle = GroupHandle(group);
        break;
      default:
        break;
    }
  }
  if (entity.color.hasTrueColor && !hasIndexColor) entity.color.index = 257;
}

void ParseExtrusion(std::span<const DxfGroup> groups, Entity& entity) {
  Vec3 extrusion{0, 0, 1};
  bool found = false;
  for (const DxfGroup& group : groups) {
    if (group.code == 39) {
      entity.thickness = Real(group);
    } else if (SetCoordinate(extrusion, 210, group)) {
      found = true;
    }
  }
  if (found) entity.extrusion = Normalized(extrusion, {0, 0, 1});
}

Line ParseLine(std::span<const DxfGroup> groups) {
  Line line;
  for (const DxfGroup& group : groups) {
    SetCoordinate(line.start, 10, group) || SetCoordinate(line.end, 11, group);
  }
  return line;
}

Point ParsePoint(std::span<const DxfGroup> groups) {
  Point point;
  for (const DxfGroup& group : groups) SetCoordinate(point.position, 10, group);
  return point;
}

Circle ParseCircle(std::span<const DxfGroup> groups) {
  Circle circle;
  for (const DxfGroup& group : groups) {
    if (group.code == 40) {
      circle.radius = Real(group);
    } else {
      SetCoordinate(circle.center, 10, group);
    }
  }
  return circle;
}

Arc ParseArc(std::span<const DxfGroup> groups) {
  Arc arc;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 40:
        arc.radius = Real(group);
        break;
      case 50:
        arc.startAngle = Real(group);
        break;
      case 51:
        arc.endAngle = Real(group);
        break;
      default:
        SetCoordinate(arc.center, 10, group);
        break;
    }
  }
  return arc;
}

Ellipse ParseEllipse(std::span<const DxfGroup> groups) {
  Ellipse ellipse;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 40:
        ellipse.ratio = Real(group, 1.0);
        break;
      case 41:
        ellipse.startParam = Real(group, 0.0);
        break;
      case 42:
        ellipse.endParam = Real(group, 2 * std::numbers::pi);
        break;
      default:
        SetCoordinate(ellipse.center, 10, group) || SetCoordinate(ellipse.majorAxis, 11, group);
        break;
    }
  }
  if (!(ellipse.ratio > 0.0)) ellipse.ratio = 1.0;
  return ellipse;
}

Polyline ParseLwPolyline(std::span<const DxfGroup> groups) {
  Polyline polyline;
  polyline.vertices.reserve(static_cast<std::size_t>(
      std::count_if(groups.begin(), groups.end(), [](const DxfGroup& g) { return g.code == 10; })));
  PolylineVertex* current = nullptr;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 10:
        polyline.vertices.emplace_back();
        current = &polyline.vertices.back();
        current->position.x = Real(group);
        break;
      case 20:
        if (current) current->position.y = Real(group);
        break;
      case 40:
        if (current) current->startWidth = Real(group);
        break;
      case 41:
        if (current) current->endWidth = Real(group);
        break;
      case 42:
        if (current) current->bulge = Real(group);
        break;
      case 43:
        polyline.constantWidth = Real(group);
        break;
      case 38:
        polyline.elevation = Real(group);
        break;
      case 70:
        polyline.closed = (Int(group) & 1) != 0;
        break;
      default:
        break;
    }
  }
  for (PolylineVertex& vertex : polyline.vertices) vertex.position.z = polyline.elevation;
  return polyline;
}

Polyline ParsePolylineHeader(std::span<const DxfGroup> groups, DxfEntityInfo& info) {
  Polyline polyline;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 30:
        polyline.elevation = Real(group);
        break;
      case 70:
        info.polylineFlags = Int(group);
        break;
      case 40:
        info.defaultStartWidth = Real(group);
        break;
      case 41:
        info.defaultEndWidth = Real(group);
        break;
      case 71:
        info.meshM = Int(group);
        break;
      case 72:
        info.meshN = Int(group);
        break;
      case 73:
        info.smoothM = Int(group);
        break;
      case 74:
        info.smoothN = Int(group);
        break;
      case 75:
        info.smoothType = Int(group);
        break;
      default:
        break;
    }
  }
  const int flags = info.polylineFlags;
  polyline.is3d = (flags & (8 | 16 | 64)) != 0;
  if (flags & 16) {
    polyline.meshClosedM = (flags & 1) != 0;
    polyline.meshClosedN = (flags & 32) != 0;
  } else {
    polyline.closed = (flags & 1) != 0;
  }
  if (polyline.is3d) polyline.elevation = 0.0;
  return polyline;
}

Spline ParseSpline(std::span<const DxfGroup> groups) {
  Spline spline;
  int flags = 0;
  for (const DxfGroup& group : groups) {
    if (group.code == 100 && GroupTrimmed(group) == "AcDbHelix") break;  // reuses 10, 40 …
    switch (group.code) {
      case 70:
        flags = Int(group);
        break;
      case 71:
        spline.degree = Int(group, 3);
        break;
      case 40:
        spline.knots.push_back(Real(group));
        break;
      case 41:
        spline.weights.push_back(Real(group, 1.0));
        break;
      case 10:
        spline.controlPoints.push_back({Real(group), 0, 0});
        break;
      case 20:
        if (!spline.controlPoints.empty()) spline.controlPoints.back().y = Real(group);
        break;
      case 30:
        if (!spline.controlPoints.empty()) spline.controlPoints.back().z = Real(group);
        break;
      case 11:
        spline.fitPoints.push_back({Real(group), 0, 0});
        break;
      case 21:
        if (!spline.fitPoints.empty()) spline.fitPoints.back().y = Real(group);
        break;
      case 31:
        if (!spline.fitPoints.empty()) spline.fitPoints.back().z = Real(group);
        break;
      default:
        break;
    }
  }
  spline.closed = (flags & 1) != 0;
  spline.periodic = (flags & 2) != 0;
  spline.rational = (flags & 4) != 0;
  spline.degree = std::clamp(spline.degree, 1, 25);
  // The renderer can rely on consistent arrays: weights per control point and the knot count
  // of a B-spline of that degree, or none (it then uses clamped uniform knots).
  if (spline.weights.size() != spline.controlPoints.size()) spline.weights.clear();
  if (spline.knots.size() !=
      spline.controlPoints.size() + static_cast<std::size_t>(spline.degree) + 1) {
    spline.knots.clear();
  }
  return spline;
}

Face ParseFace(std::span<const DxfGroup> groups, bool edgeFlags) {
  Face face;
  bool hasFourth = false;
  for (const DxfGroup& group : groups) {
    if (edgeFlags && group.code == 70) {
      face.invisibleEdges = Int(group) & 15;
      continue;
    }
    for (int corner = 0; corner < 4; ++corner) {
      if (SetCoordinate(face.corners[corner], 10 + corner, group)) {
        hasFourth = hasFourth || corner == 3;
        break;
      }
    }
  }
  if (!hasFourth) face.corners[3] = face.corners[2];  // a triangle
  return face;
}

Text ParseText(CDxfReaderContext& context, std::span<const DxfGroup> groups, Kind kind,
               int& attributeFlags) {
  Text text;
  std::string_view raw;
  std::string_view tag;
  bool hasStyle = false;
  bool hasAlignment = false;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 11:
      case 21:
      case 31:
        SetCoordinate(text.alignment, 11, group);
        hasAlignment = true;
        break;
      case 1:
        raw = group.text;
        break;
      case 2:
        tag = group.text;
        break;
      case 7:
        text.style = context.TextStyleIndex(group.text);
        hasStyle = true;
        break;
      case 40:
        text.height = Real(group);
        break;
      case 41: {
        const double factor = Real(group, 1.0);
        if (factor > 0.0) text.widthFactor = factor;
        break;
      }
      case 50:
        text.rotation = Real(group);
        break;
      case 51:
        text.obliqueAngle = Real(group);
        break;
      case 70:
        attributeFlags = Int(group);
        break;
      case 71:
        text.generationFlags = Int(group);
        break;
      case 72:
        text.horizontalJustification = Int(group);
        break;
      case 73:
        // ATTRIB and ATTDEF store the field length here and the vertical justification in 74.
        if (kind == Kind::Text) text.verticalJustification = Int(group);
        break;
      case 74:
        if (kind != Kind::Text) text.verticalJustification = Int(group);
        break;
      default:
        SetCoordinate(text.insertion, 10, group);
        break;
    }
  }
  // Some writers leave out the alignment point of justified text: it is then the insertion.
  if (!hasAlignment) text.alignment = text.insertion;
  if (!hasStyle) text.style = context.TextStyleIndex("Standard");
  if (text.horizontalJustification < 0 || text.horizontalJustification > 5) {
    text.horizontalJustification = 0;
  }
  if (text.verticalJustification < 0 || text.verticalJustification > 3) {
    text.verticalJustification = 0;
  }
  // An attribute definition outside a block shows its tag.
  text.text = ReplacePercentCodes(context.Text(kind == Kind::Attdef ? tag : raw), &text.lines);
  return text;
}

MText ParseMText(CDxfReaderContext& context, std::span<const DxfGroup> groups,
                 const Vec3& extrusion, DxfEntityInfo& info) {
  MText mtext;
  std::string raw;
  std::string_view last;
  bool hasStyle = false;
  bool hasDirection = false;
  bool hasRotation = false;
  bool inColumns = false;
  double rotation = 0.0;
  bool hasSpacing = false;
  // Columns come three ways: groups 75 … 50 among the entity's own (as the format describes
  // them), pairs of 1070 codes and values in the extended data "ACAD_MTEXT_COLUMN_INFO" (R2007
  // to R2013, whose further columns are MTEXT entities of their own), or the "Embedded Object"
  // after group 101 (R2018), whose codes repeat others of the entity with other meanings.
  bool embedded = false;
  bool inInfo = false;
  bool inLinked = false;
  int infoCode = -1;
  int heightsLeft = 0;
  const auto column = [&mtext](int code, double value) {
    if (!SetMTextColumnSetting(mtext, code, value) && code == 50 &&
        mtext.columnHeights.size() < 1000) {
      mtext.columnHeights.push_back(std::max(0.0, value));
    }
  };
  for (const DxfGroup& group : groups) {
    if (group.code == 1001) {
      embedded = false;
      inInfo = false;
      inLinked = false;
      continue;
    }
    if (group.code >= 1000) {
      if (group.code == 1000) {
        const std::string_view marker = GroupTrimmed(group);
        if (marker == "ACAD_MTEXT_COLUMN_INFO_BEGIN") inInfo = true;
        if (marker == "ACAD_MTEXT_COLUMN_INFO_END") inInfo = false;
        if (marker == "ACAD_MTEXT_COLUMNS_BEGIN") inLinked = true;
        if (marker == "ACAD_MTEXT_COLUMNS_END") inLinked = false;
        infoCode = -1;
      } else if (inLinked && group.code == 1005) {
        if (info.linkedColumns.size() < 1000) info.linkedColumns.push_back(GroupHandle(group));
      } else if (inInfo && (group.code == 1070 || group.code == 1040)) {
        if (heightsLeft > 0 && group.code == 1040) {
          column(50, Real(group));
          --heightsLeft;
        } else if (infoCode < 0) {
          infoCode = Int(group);
        } else {
          // Code 50 gives the count of the heights that follow, each a 1040.
          if (infoCode == 50) {
            heightsLeft = std::clamp(Int(group), 0, 1000);
          } else {
            column(infoCode, Real(group));
          }
          infoCode = -1;
        }
      }
      continue;
    }
    if (group.code == 101) {
      embedded = true;
      continue;
    }
    if (embedded) {
      switch (group.code) {
        case 41:
          mtext.columnHeight = std::max(0.0, Real(group));
          break;
        case 44:
          column(48, Real(group));
          break;
        case 45:
          column(49, Real(group));
          break;
        case 71:
          column(75, Real(group));
          break;
        case 72:
          column(76, Real(group));
          break;
        case 73:
          column(79, Real(group));
          break;
        case 74:
          column(78, Real(group));
          break;
        case 46:
          column(50, Real(group));
          break;
        default:
          break;
      }
      continue;
    }
    if (inColumns) {
      switch (group.code) {
        case 75:
        case 76:
        case 78:
        case 79:
        case 48:
        case 49:
        case 50:
          column(group.code, Real(group));
          continue;
        default:
          break;
      }
    }
    switch (group.code) {
      case 1:
        last = group.text;
        break;
      case 3:
        raw.append(group.text);
        break;
      case 7:
        mtext.style = context.TextStyleIndex(group.text);
        hasStyle = true;
        break;
      case 40:
        mtext.height = Real(group);
        break;
      case 41:
        mtext.referenceWidth = std::max(0.0, Real(group));
        break;
      case 44:
        if (!hasSpacing) {
          const double factor = Real(group, 1.0);
          if (factor > 0.0) mtext.lineSpacingFactor = factor;
          hasSpacing = true;
        }
        break;
      case 50:
        // Later 50 groups are the heights of text columns.
        if (!hasRotation && !inColumns) {
          rotation = Real(group);
          hasRotation = true;
        }
        break;
      case 71: {
        const int attachment = Int(group, 1);
        mtext.attachment = attachment >= 1 && attachment <= 9 ? attachment : 1;
        break;
      }
      case 75:
        inColumns = true;
        column(75, Real(group));
        break;
      case 46:
        // The height of the text's box, which columns fill.
        mtext.columnHeight = std::max(0.0, Real(group));
        break;
      case 11:
      case 21:
      case 31:
        SetCoordinate(mtext.direction, 11, group);
        hasDirection = true;
        break;
      default:
        SetCoordinate(mtext.insertion, 10, group);
        break;
    }
  }
  raw.append(last);
  mtext.text = context.Text(raw, true);
  if (mtext.columnType == 0) mtext.columnHeights.clear();
  if (!hasStyle) mtext.style = context.TextStyleIndex("Standard");
  const Vec3 xAxis = DxfOcsXAxis(extrusion);
  if (hasDirection) {
    mtext.direction = Normalized(mtext.direction, xAxis);
  } else {
    // The rotation turns the text in the plane of its extrusion, from that plane's x axis.
    const Vec3 yAxis = Cross(extrusion, xAxis);
    const double radians = rotation * std::numbers::pi / 180.0;
    const double c = std::cos(radians), s = std::sin(radians);
    mtext.direction = {c * xAxis.x + s * yAxis.x, c * xAxis.y + s * yAxis.y,
                       c * xAxis.z + s * yAxis.z};
  }
  return mtext;
}

Insert ParseInsert(CDxfReaderContext& context, std::span<const DxfGroup> groups) {
  Insert insert;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 2:
        insert.block = context.BlockReference(group.text);
        break;
      case 41:
        insert.scale.x = Real(group, 1.0);
        break;
      case 42:
        insert.scale.y = Real(group, 1.0);
        break;
      case 43:
        insert.scale.z = Real(group, 1.0);
        break;
      case 50:
        insert.rotation = Real(group);
        break;
      case 70:
        insert.columns = std::clamp(Int(group, 1), 1, 32767);
        break;
      case 71:
        insert.rows = std::clamp(Int(group, 1), 1, 32767);
        break;
      case 44:
        insert.columnSpacing = Real(group);
        break;
      case 45:
        insert.rowSpacing = Real(group);
        break;
      default:
        SetCoordinate(insert.insertion, 10, group);
        break;
    }
  }
  return insert;
}

// The block and the point it is drawn at: group 10 of a table, group 12 of a dimension (where
// a moved dimension of an R12 file keeps its block and gets this offset; later files leave it
// out). `insertionCode` 0: none.
BlockGraphic ParseBlockGraphic(CDxfReaderContext& context, std::span<const DxfGroup> groups,
                               int insertionCode) {
  BlockGraphic graphic;
  bool hasName = false;
  bool hasX = false, hasY = false, hasZ = false;
  for (const DxfGroup& group : groups) {
    if (group.code == 2 && !hasName) {
      graphic.block = context.BlockReference(group.text);
      hasName = true;
    } else if (insertionCode != 0) {
      // Only the first point: table data later in the record reuses the codes.
      if (group.code == insertionCode && !hasX) {
        graphic.insertion.x = Real(group);
        hasX = true;
      } else if (group.code == insertionCode + 10 && !hasY) {
        graphic.insertion.y = Real(group);
        hasY = true;
      } else if (group.code == insertionCode + 20 && !hasZ) {
        graphic.insertion.z = Real(group);
        hasZ = true;
      }
    }
  }
  return graphic;
}

// Dimension variables overridden in an entity's extended data: 1001 ACAD, 1000 DSTYLE,
// 1002 "{", then pairs of (1070 variable code, value), 1002 "}".
void ApplyDimStyleOverrides(std::span<const DxfGroup> groups, double& arrowSize, double& scale) {
  bool inAcad = false, inStyle = false;
  int variable = -1;
  for (const DxfGroup& group : groups) {
    if (group.code == 1001) {
      inAcad = GroupTrimmed(group) == "ACAD";
      inStyle = false;
    } else if (inAcad && group.code == 1000) {
      inStyle = GroupTrimmed(group) == "DSTYLE";
    } else if (inStyle && group.code == 1070 && variable < 0) {
      variable = Int(group, -1);
    } else if (inStyle && variable >= 0 && (group.code == 1040 || group.code == 1070)) {
      if (variable == 41) arrowSize = Real(group, arrowSize);
      if (variable == 40) scale = Real(group, scale);
      variable = -1;
    } else if (inStyle && group.code != 1002) {
      variable = -1;
    }
  }
}

Leader ParseLeader(CDxfReaderContext& context, std::span<const DxfGroup> groups) {
  Leader leader;
  std::string_view styleName = "Standard";
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 3:
        styleName = group.text;
        break;
      case 71:
        leader.arrowhead = Int(group, 1) != 0;
        break;
      case 72:
        leader.spline = Int(group) == 1;
        break;
      case 10:
        leader.vertices.push_back({Real(group), 0, 0});
        break;
      case 20:
        if (!leader.vertices.empty()) leader.vertices.back().y = Real(group);
        break;
      case 30:
        if (!leader.vertices.empty()) leader.vertices.back().z = Real(group);
        break;
      default:
        break;
    }
  }
  const std::string_view trimmed = TrimBlanks(styleName);
  DxfDimStyle style = context.headerDimStyle;
  auto found = context.dimStyles.find(trimmed);
  if (found != context.dimStyles.end()) style = found->second;
  ApplyDimStyleOverrides(groups, style.arrowSize, style.scale);
  leader.arrowSize = style.arrowSize * (style.scale > 0.0 ? style.scale : 1.0);
  return leader;
}

// A lineweight in hundredths of a millimetre or ByLayer, ByBlock, Default; ByBlock when the
// value is none of these.
std::int16_t Lineweight(const DxfGroup& group) {
  const int weight = Int(group, kLineweightByBlock);
  return static_cast<std::int16_t>(weight >= -3 && weight <= 211 ? weight : kLineweightByBlock);
}

// A colour as multileaders store it: the top byte says how (0xC0 ByLayer, 0xC1 ByBlock, 0xC2
// a true colour in the low 24 bits, 0xC3 an index in the low byte).

Color RawColor(const DxfGroup& group) {
  const auto value = static_cast<std::uint32_t>(Integer(group));
  switch (value >> 24) {
    case 0xC0:
      return {Color::kByLayer, false, 0};
    case 0xC2:
      return {257, true, ((value >> 16) & 0xFF) | (value & 0xFF00) | ((value & 0xFF) << 16)};
    case 0xC3:
      return {static_cast<std::int16_t>(std::clamp<int>(value & 0xFF, 1, 255)), false, 0};
    default:
      return {Color::kByBlock, false, 0};
  }
}

// MULTILEADER: the entity's own groups, then the context data in braces ("CONTEXT_DATA{" …
// "}") that hold the content and the leaders ("LEADER{" … "}"), each with its lines
// ("LEADER_LINE{" … "}"), then more of the entity's groups. The codes mean different things in
// each part.
MLeader ParseMLeader(CDxfReaderContext& context, std::span<const DxfGroup> groups) {
  MLeader leader;
  enum class Part { Entity, Context, Branch, Line };
  Part part = Part::Entity;
  struct Root {
    MLeaderBranch branch;
    bool hasLanding = false, hasDogleg = false;
  };
  std::vector<Root> roots;
  // The override flags of each leader line (93): 2 its colour, 4 its linetype, 8 its weight.
  std::vector<std::vector<int>> lineFlags;
  double contextArrowSize = -1, entityArrowSize = -1, scale = 1.0;
  bool entityDogleg = true, hasBlockContent = false, hasTextContent = false;
  std::string text;
  for (const DxfGroup& group : groups) {
    const int code = group.code;
    if (code == 300 && GroupTrimmed(group) == "CONTEXT_DATA{") {
      part = Part::Context;
      continue;
    }
    if (part == Part::Context && code == 302 && GroupTrimmed(group) == "LEADER{") {
      roots.emplace_back();
      lineFlags.emplace_back();
      part = Part::Branch;
      continue;
    }
    if (part == Part::Branch && code == 304 && GroupTrimmed(group) == "LEADER_LINE{") {
      roots.back().branch.lines.emplace_back();
      lineFlags.back().push_back(0);
      part = Part::Line;
      continue;
    }
    if (part == Part::Line && code == 305) {
      part = Part::Branch;
      continue;
    }
    if (part == Part::Branch && code == 303) {
      part = Part::Context;
      continue;
    }
    if (code == 301) {
      part = Part::Entity;
      continue;
    }
    switch (part) {
      case Part::Entity:
        if (code == 170) leader.leaderType = std::clamp(Int(group, 1), 0, 2);
        if (code == 91) leader.lineColor = RawColor(group);
        if (code == 341) leader.lineLinetype = context.LinetypeByHandle(GroupHandle(group));
        if (code == 171) leader.lineLineweight = Lineweight(group);
        if (code == 292) leader.textFrame = Int(group) != 0;
        if (code == 271) leader.verticalAttachment = Int(group) == 1;
        if (code == 291) entityDogleg = Int(group, 1) != 0;
        if (code == 342) leader.arrowBlock = context.BlockByRecord(GroupHandle(group));
        if (code == 42) entityArrowSize = Real(group, -1);
        if (code == 45) scale = Real(group, 1.0);
        break;
      case Part::Context:
        if (code == 41) leader.text->height = Real(group);
        if (code == 140) contextArrowSize = Real(group, -1);
        if (code == 145) leader.landingGap = std::max(0.0, Real(group));
        if (code == 174) leader.textLeftAttachment = Int(group, 1);
        if (code == 175) leader.textRightAttachment = Int(group, 1);
        if (code == 290) hasTextContent = Int(group) != 0;
        if (code == 304) text += group.text;
        if (code == 340) leader.text->style = context.TextStyleByHandle(GroupHandle(group));
        SetCoordinate(leader.text->insertion, 12, group);
        SetCoordinate(leader.text->direction, 13, group);
        if (code == 43) leader.text->referenceWidth = std::max(0.0, Real(group));
        if (code == 45 && Real(group) > 0) leader.text->lineSpacingFactor = Real(group);
        if (code == 171) leader.text->attachment = std::clamp(Int(group, 1), 1, 9);
        if (code == 90) leader.textColor = RawColor(group);
        if (code == 296) hasBlockContent = Int(group) != 0;
        if (code == 341) leader.block->block = context.BlockByRecord(GroupHandle(group));
        SetCoordinate(leader.blockNormal, 14, group);
        SetCoordinate(leader.block->insertion, 15, group);
        SetCoordinate(leader.block->scale, 16, group);
        if (code == 46) leader.block->rotation = Real(group) * 180.0 / std::numbers::pi;
        if (code == 93) leader.blockColor = RawColor(group);
        break;
      case Part::Branch: {
        Root& root = roots.back();
        if (code == 290) root.hasLanding = Int(group) != 0;
        if (code == 291) root.hasDogleg = Int(group) != 0;
        SetCoordinate(root.branch.landing, 10, group);
        SetCoordinate(root.branch.doglegDirection, 11, group);
        if (code == 40) root.branch.doglegLength = Real(group);
        break;
      }
      case Part::Line: {
        MLeaderLine& line = roots.back().branch.lines.back();
        std::vector<Vec3>& vertices = line.vertices;
        if (code == 10) vertices.push_back({Real(group), 0, 0});
        if (code == 20 && !vertices.empty()) vertices.back().y = Real(group);
        if (code == 30 && !vertices.empty()) vertices.back().z = Real(group);
        if (code == 92) line.color = RawColor(group);
        if (code == 340) line.linetype = context.LinetypeByHandle(GroupHandle(group));
        if (code == 171) line.lineweight = Lineweight(group);
        if (code == 93) lineFlags.back().back() = Int(group);
        break;
      }
    }
  }
  if (leader.text->style < 0) leader.text->style = context.TextStyleIndex("Standard");
  leader.hasText = hasTextContent;
  leader.hasBlock = !hasTextContent && hasBlockContent && leader.block->block >= 0;
  if (leader.hasText) leader.text->text = context.Text(text, true);
  leader.blockNormal = Normalized(leader.blockNormal, {0, 0, 1});
  leader.text->direction = Normalized(leader.text->direction, {1, 0, 0});
  leader.arrowSize = contextArrowSize >= 0  ? contextArrowSize
                     : entityArrowSize >= 0 ? entityArrowSize * scale
                                            : leader.arrowSize;
  for (std::size_t r = 0; r < roots.size(); ++r) {
    Root& root = roots[r];
    for (std::size_t l = 0; l < root.branch.lines.size(); ++l) {
      MLeaderLine& line = root.branch.lines[l];
      if (root.hasLanding) line.vertices.push_back(root.branch.landing);
      const int flags = lineFlags[r][l];
      line.ownColor = (flags & 2) != 0;
      line.ownLinetype = (flags & 4) != 0;
      line.ownLineweight = (flags & 8) != 0;
    }
    if (!(entityDogleg && root.hasDogleg && root.hasLanding)) root.branch.doglegLength = 0;
    leader.branches.push_back(std::move(root.branch));
  }
  return leader;
}

// MLINE: per vertex its position, direction and miter (11, 12, 13), then per element the
// count of its parameters (74) and the parameters (41), the first of which is the element's
// distance from the vertex along the miter, then its fill parameters (75, 42).
MLine ParseMLine(std::span<const DxfGroup> groups, DxfEntityInfo& info,
                 CDxfReaderContext& context) {
  MLine mline;
  CGroupCursor cursor(groups);
  while (!cursor.AtEnd()) {
    const DxfGroup& group = cursor.Current();
    if (group.code == 2) info.mlineStyleName = context.Name(group.text);
    if (group.code == 340) info.mlineStyle = GroupHandle(group);
    if (group.code == 71) {
      const int flags = Int(group);
      mline.closed = (flags & 2) != 0;
      mline.suppressStartCaps = (flags & 4) != 0;
      mline.suppressEndCaps = (flags & 8) != 0;
    }
    if (group.code == 11) {
      MLineVertex& vertex = mline.vertices.emplace_back();
      vertex.position.x = Real(group);
      cursor.Skip();
      vertex.position.y = cursor.TakeReal(21, 0.0);
      vertex.position.z = cursor.TakeReal(31, 0.0);
      continue;
    }
    if (!mline.vertices.empty()) {
      MLineVertex& vertex = mline.vertices.back();
      SetCoordinate(vertex.miter, 13, group);
      if (group.code == 74) {
        const std::size_t count = Capped(Int(group), cursor.Left());
        cursor.Skip();
        vertex.offsets.push_back(count > 0 && cursor.Is(41) ? cursor.TakeReal(41, 0.0) : 0.0);
        std::vector<double> breaks;
        for (std::size_t i = 1; i < count && cursor.Is(41); ++i) {
          breaks.push_back(cursor.TakeReal(41, 0.0));
        }
        StoreMLineBreaks(vertex, std::move(breaks));
        continue;
      }
    }
    cursor.Skip();
  }
  for (MLineVertex& vertex : mline.vertices) vertex.miter = Normalized(vertex.miter, {0, 1, 0});
  return mline;
}

// MESH: the vertices (92 their count, then 10s), the face list (93 its length, then 90s: each
// face its vertex count and its indices) and the edges (94 their count, then pairs of 90s).
Mesh ParseMesh(std::span<const DxfGroup> groups) {
  Mesh mesh;
  CGroupCursor cursor(groups);
  while (!cursor.AtEnd()) {
    const DxfGroup& group = cursor.Current();
    cursor.Skip();
    if (group.code == 92) {
      const std::size_t count = Capped(Int(group), cursor.Left());
      for (std::size_t i = 0; i < count && cursor.Is(10); ++i) {
        Vec3 vertex;
        vertex.x = cursor.TakeReal(10, 0.0);
        vertex.y = cursor.TakeReal(20, 0.0);
        vertex.z = cursor.TakeReal(30, 0.0);
        mesh.vertices.push_back(vertex);
      }
    } else if (group.code == 93) {
      std::size_t left = Capped(Int(group), cursor.Left());
      while (left > 0 && cursor.Is(90)) {
        const std::size_t size = Capped(cursor.TakeInt(90, 0), left - 1);
        --left;
        std::vector<int>& face = mesh.faces.emplace_back();
        for (std::size_t i = 0; i < size && cursor.Is(90); ++i, --left) {
          face.push_back(cursor.TakeInt(90, 0));
        }
      }
    } else if (group.code == 94) {
      const std::size_t count = Capped(Int(group), cursor.Left());
      for (std::size_t i = 0; i < count && cursor.Is(90); ++i) {
        const int from = cursor.TakeInt(90, 0);
        const int to = cursor.TakeInt(90, 0);
        mesh.edges.emplace_back(from, to);
      }
    }
  }
  return mesh;
}

// Dimension variables of a feature control frame overridden in its extended data.
void ApplyToleranceOverrides(std::span<const DxfGroup> groups, DxfDimStyle& style) {
  bool inAcad = false, inStyle = false;
  int variable = -1;
  for (const DxfGroup& group : groups) {
    if (group.code == 1001) {
      inAcad = GroupTrimmed(group) == "ACAD";
      inStyle = false;
    } else if (inAcad && group.code == 1000) {
      inStyle = GroupTrimmed(group) == "DSTYLE";
    } else if (inStyle && group.code == 1070 && variable < 0) {
      variable = Int(group, -1);
    } else if (inStyle && variable >= 0 && (group.code == 1040 || group.code == 1070)) {
      if (variable == 140) style.textHeight = Real(group, style.textHeight);
      if (variable == 147) style.gap = Real(group, style.gap);
      if (variable == 40) style.scale = Real(group, style.scale);
      variable = -1;
    } else if (inStyle && variable == 340 && group.code == 1005) {
      style.textStyleHandle = GroupHandle(group);
      style.textStyleName.clear();
      variable = -1;
    } else if (inStyle && group.code != 1002) {
      variable = -1;
    }
  }
}

Tolerance ParseTolerance(CDxfReaderContext& context, std::span<const DxfGroup> groups) {
  Tolerance tolerance;
  std::string_view styleName = "Standard";
  for (const DxfGroup& group : groups) {
    if (group.code == 3) styleName = group.text;
    if (group.code == 1) tolerance.text = context.Text(group.text);
    SetCoordinate(tolerance.insertion, 10, group);
    SetCoordinate(tolerance.direction, 11, group);
  }
  DxfDimStyle style = context.DimStyle(styleName);
  ApplyToleranceOverrides(groups, style);
  const double scale = style.scale > 0 ? style.scale : 1.0;
  tolerance.height = style.textHeight * scale;
  tolerance.gap = style.gap * scale;
  tolerance.direction = Normalized(tolerance.direction, {1, 0, 0});
  // The frame's text is in the dimension style's text style.
  tolerance.style = style.textStyleHandle != 0 ? context.TextStyleByHandle(style.textStyleHandle)
                                               : context.TextStyleIndex(style.textStyleName);
  return tolerance;
}

Underlay ParseUnderlay(std::string_view type, std::span<const DxfGroup> groups,
                       DxfEntityInfo& info) {
  Underlay underlay;
  underlay.format = std::string(type.substr(0, 3));
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 340:
        info.underlayDefinition = GroupHandle(group);
        break;
      case 41:
        underlay.scale.x = Real(group, 1.0);
        break;
      case 42:
        underlay.scale.y = Real(group, 1.0);
        break;
      case 43:
        underlay.scale.z = Real(group, 1.0);
        break;
      case 50:
        underlay.rotation = Real(group);
        break;
      case 11:
        underlay.clipBoundary.push_back({Real(group), 0});
        break;
      case 21:
        if (!underlay.clipBoundary.empty()) underlay.clipBoundary.back().y = Real(group);
        break;
      default:
        SetCoordinate(underlay.insertion, 10, group);
        break;
    }
  }
  return underlay;
}

ConstructionLine ParseConstructionLine(std::span<const DxfGroup> groups) {
  ConstructionLine line;
  line.direction = {1, 0, 0};
  for (const DxfGroup& group : groups) {
    SetCoordinate(line.base, 10, group) || SetCoordinate(line.direction, 11, group);
  }
  return line;
}

void ParseHatchSplineEdge(CGroupCursor& cursor, HatchEdge& edge) {
  Spline& spline = edge.spline;
  spline.degree = std::clamp(cursor.TakeInt(94, 3), 1, 25);
  spline.rational = cursor.TakeInt(73, 0) != 0;
  spline.periodic = cursor.TakeInt(74, 0) != 0;
  const int knotCount = cursor.TakeInt(95, 0);
  const int controlCount = cursor.TakeInt(96, 0);
  for (std::size_t k = Capped(knotCount, cursor.Left()); k > 0 && cursor.Is(40); --k) {
    spline.knots.push_back(cursor.TakeReal(40, 0.0));
  }
  for (std::size_t k = Capped(controlCount, cursor.Left()); k > 0 && cursor.Is(10); --k) {
    Vec3 point{cursor.TakeReal(10, 0.0), cursor.TakeReal(20, 0.0), 0.0};
    spline.controlPoints.push_back(point);
    if (cursor.Is(42)) spline.weights.push_back(cursor.TakeReal(42, 1.0));
  }
  // Fit data: written by newer versions, sometimes with a count of zero.
  if (cursor.Is(97)) {
    const int fitCount = cursor.TakeInt(97, 0);
    for (std::size_t k = Capped(fitCount, cursor.Left()); k > 0 && cursor.Is(11); --k) {
      spline.fitPoints.push_back({cursor.TakeReal(11, 0.0), cursor.TakeReal(21, 0.0), 0.0});
    }
    if (cursor.Is(12)) {
      cursor.Skip();
      cursor.Take(22);
    }
    if (cursor.Is(13)) {
      cursor.Skip();
      cursor.Take(23);
    }
  }
  if (spline.weights.size() != spline.controlPoints.size()) spline.weights.clear();
  if (spline.knots.size() !=
      spline.controlPoints.size() + static_cast<std::size_t>(spline.degree) + 1) {
    spline.knots.clear();
  }
}

// Reads one edge; false for an edge type this reader does not know, which ends the path.
bool ParseHatchEdge(CGroupCursor& cursor, HatchEdge& edge) {
  const int type = cursor.TakeInt(72, 0);
  switch (type) {
    case 1:
      edge.kind = HatchEdge::Line;
      edge.start = {cursor.TakeReal(10, 0.0), cursor.TakeReal(20, 0.0)};
      edge.end = {cursor.TakeReal(11, 0.0), cursor.TakeReal(21, 0.0)};
      return true;
    case 2:
      edge.kind = HatchEdge::CircularArc;
      edge.center = {cursor.TakeReal(10, 0.0), cursor.TakeReal(20, 0.0)};
      edge.radius = cursor.TakeReal(40, 0.0);
      edge.startAngle = cursor.TakeReal(50, 0.0);
      edge.endAngle = cursor.TakeReal(51, 360.0);
      edge.counterClockwise = cursor.TakeInt(73, 1) != 0;
      return true;
    case 3:
      edge.kind = HatchEdge::EllipticArc;
      edge.center = {cursor.TakeReal(10, 0.0), cursor.TakeReal(20, 0.0)};
      edge.majorAxis = {cursor.TakeReal(11, 1.0), cursor.TakeReal(21, 0.0)};
      edge.ratio = cursor.TakeReal(40, 1.0);
      edge.startAngle = cursor.TakeReal(50, 0.0);
      edge.endAngle = cursor.TakeReal(51, 360.0);
      edge.counterClockwise = cursor.TakeInt(73, 1) != 0;
      if (!(edge.ratio > 0.0)) edge.ratio = 1.0;
      return true;
    case 4:
      edge.kind = HatchEdge::SplineEdge;
      ParseHatchSplineEdge(cursor, edge);
      return true;
    default:
      return false;
  }
}

Hatch ParseHatch(CDxfReaderContext& context, std::span<const DxfGroup> groups) {
  Hatch hatch;
  CGroupCursor cursor(groups);
  int pathCount = 0;
  // The part before the boundary paths: elevation point, pattern name, solid flag.
  while (!cursor.AtEnd()) {
    const DxfGroup& group = cursor.Current();
    if (group.code == 91) {
      pathCount = Int(group);
      cursor.Skip();
      break;
    }
    if (group.code == 30) hatch.elevation = Real(group);
    if (group.code == 2) hatch.pattern = context.Name(group.text);
    if (group.code == 70) hatch.solid = (Int(group) & 1) != 0;
    cursor.Skip();
  }
  for (std::size_t p = Capped(pathCount, cursor.Left()); p > 0 && cursor.Is(92); --p) {
    HatchPath path;
    path.flags = cursor.TakeInt(92, 0);
    if (path.flags & 2) {
      path.isPolyline = true;
      cursor.TakeInt(72, 0);  // "has bulges": the bulges themselves tell
      path.closed = cursor.TakeInt(73, 1) != 0;
      const int count = cursor.TakeInt(93, 0);
      for (std::size_t k = Capped(count, cursor.Left()); k > 0 && cursor.Is(10); --k) {
        PolylineVertex vertex;
        vertex.position.x = cursor.TakeReal(10, 0.0);
        vertex.position.y = cursor.TakeReal(20, 0.0);
        vertex.position.z = hatch.elevation;
        if (cursor.Is(42)) vertex.bulge = cursor.TakeReal(42, 0.0);
        path.vertices.push_back(vertex);
      }
    } else {
      const int count = cursor.TakeInt(93, 0);
      for (std::size_t k = Capped(count, cursor.Left()); k > 0 && cursor.Is(72); --k) {
        HatchEdge edge;
        if (!ParseHatchEdge(cursor, edge)) break;
        path.edges.push_back(std::move(edge));
      }
    }
    // The boundary objects the path came from (associative hatches).
    if (cursor.Is(97)) cursor.Skip();
    while (cursor.Is(330)) cursor.Skip();
    hatch.paths.push_back(std::move(path));
  }
  // The pattern lines (group 78 and one 53/43/44/45/46/79/49… run each), seed points and
  // the gradient follow. Each gradient colour starts with a 463 and gives its index (63), its
  // true colour (421) or both.
  HatchGradient& gradient = hatch.gradientFill;
  int colorSlot = -1;
  bool slotHasIndex = false, slotHasRgb = false;
  const auto colorField = [&](bool rgb) -> Color* {
    if (colorSlot < 0 || (rgb ? slotHasRgb : slotHasIndex)) {
      ++colorSlot;
      slotHasIndex = slotHasRgb = false;
    }
    (rgb ? slotHasRgb : slotHasIndex) = true;
    return colorSlot < 2 ? &gradient.colors[colorSlot] : nullptr;
  };
  while (!cursor.AtEnd()) {
    const DxfGroup& group = cursor.Current();
    switch (group.code) {
      case 450:
        hatch.gradient = Int(group) != 0;
        break;
      case 452:
        gradient.oneColor = Int(group) != 0;
        break;
      case 460:
        gradient.angle = Real(group);
        break;
      case 461:
        gradient.shift = Real(group);
        break;
      case 462:
        gradient.tint = Real(group, 1.0);
        break;
      case 463:
        ++colorSlot;
        slotHasIndex = slotHasRgb = false;
        break;
      case 63:
        if (Color* color = colorField(false)) {
          const int index = std::abs(Int(group, 7));
          color->index = static_cast<std::int16_t>(index >= 1 && index <= 255 ? index : 7);
        }
        break;
      case 421:
        if (Color* color = colorField(true)) {
          const auto value = static_cast<std::uint32_t>(Integer(group));
          color->hasTrueColor = true;
          color->rgb = ((value >> 16) & 0xFF) | (value & 0xFF00) | ((value & 0xFF) << 16);
          if (!slotHasIndex) color->index = 257;  // a true colour alone, unless a 63 follows
        }
        break;
      case 470:
        gradient.kind = GradientKindByName(GroupTrimmed(group));
        break;
      default:
        break;
    }
    if (group.code == 78 && hatch.patternLines.empty()) {
      const int lines = Int(group);
      cursor.Skip();
      for (std::size_t l = Capped(lines, cursor.Left()); l > 0 && cursor.Is(53); --l) {
        HatchPatternLine line;
        line.angle = cursor.TakeReal(53, 0.0);
        line.base.x = cursor.TakeReal(43, 0.0);
        line.base.y = cursor.TakeReal(44, 0.0);
        line.offset.x = cursor.TakeReal(45, 0.0);
        line.offset.y = cursor.TakeReal(46, 0.0);
        const int dashes = cursor.TakeInt(79, 0);
        for (std::size_t d = Capped(dashes, cursor.Left()); d > 0 && cursor.Is(49); --d) {
          line.dashes.push_back(cursor.TakeReal(49, 0.0));
        }
        hatch.patternLines.push_back(std::move(line));
      }
      continue;
    }
    cursor.Skip();
  }
  return hatch;
}

Image ParseImage(std::span<const DxfGroup> groups, DxfEntityInfo& info) {
  Image image;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 340:
        info.imageDef = GroupHandle(group);
        break;
      case 70:
        image.show = (Int(group, 1) & 1) != 0;
        image.transparent = (Int(group, 1) & 8) != 0;
        break;
      case 280:
        image.clipping = Int(group) != 0;
        break;
      case 281:
        image.brightness = std::clamp(Int(group, 50), 0, 100);
        break;
      case 282:
        image.contrast = std::clamp(Int(group, 50), 0, 100);
        break;
      case 283:
        image.fade = std::clamp(Int(group, 0), 0, 100);
        break;
      case 290:
        image.clipInverted = Int(group) != 0;
        break;
      case 14:
        image.clipBoundary.push_back({Real(group), 0.0});
        break;
      case 24:
        if (!image.clipBoundary.empty()) image.clipBoundary.back().y = Real(group);
        break;
      default:
        SetCoordinate(image.insertion, 10, group) || SetCoordinate(image.u, 11, group) ||
            SetCoordinate(image.v, 12, group);
        if (group.code == 13) image.pixelSize.x = Real(group);
        if (group.code == 23) image.pixelSize.y = Real(group);
        break;
    }
  }
  return image;
}

// Viewports of R12 files keep their view in extended data: 1001 ACAD, 1000 MVIEW, then in
// order the version (1070), view target and direction (1010), twist, view height, view
// centre x and y (1040) … and the frozen layers' names (1003).
void ParseViewportExtendedData(CDxfReaderContext& context, std::span<const DxfGroup> groups,
                               Viewport& viewport) {
  bool inAcad = false, inView = false;
  int points = 0, reals = 0;
  for (const DxfGroup& group : groups) {
    if (group.code == 1001) {
      inAcad = GroupTrimmed(group) == "ACAD";
      inView = false;
      continue;
    }
    if (!inAcad) continue;
    if (group.code == 1000) {
      inView = GroupTrimmed(group) == "MVIEW";
      continue;
    }
    if (!inView) continue;
    switch (group.code) {
      case 1010:
        ++points;
        [[fallthrough]];
      case 1020:
      case 1030: {
        Vec3& point = points == 1 ? viewport.viewTarget : viewport.viewDirection;
        if (points == 1 || points == 2) SetCoordinate(point, 1010, group);
        break;
      }
      case 1040:
        if (reals == 0) viewport.twist = Real(group);
        if (reals == 1) viewport.viewHeight = Real(group);
        if (reals == 2) viewport.viewCenter.x = Real(group);
        if (reals == 3) viewport.viewCenter.y = Real(group);
        ++reals;
        break;
      case 1003: {
        const std::int32_t layer = context.FindLayer(group.text);
        if (layer >= 0) viewport.frozenLayers.push_back(layer);
        break;
      }
      default:
        break;
    }
  }
}

Viewport ParseViewport(CDxfReaderContext& context, std::span<const DxfGroup> groups,
                       DxfEntityInfo& info) {
  Viewport viewport;
  bool hasView = false;
  for (const DxfGroup& group : groups) {
    switch (group.code) {
      case 40:
        viewport.width = Real(group);
        break;
      case 41:
        viewport.height = Real(group);
        break;
      case 68:
        if (Int(group, 1) == 0) viewport.on = false;
        break;
      case 69:
        viewport.id = Int(group);
        break;
      case 12:
      case 22:
        SetCoordinate(viewport.viewCenter, 12, group);
        hasView = true;
        break;
      case 45:
        viewport.viewHeight = Real(group);
        hasView = true;
        break;
      case 51:
        viewport.twist = Real(group);
        break;
      case 90:
        if (Integer(group) & 0x20000) viewport.on = false;  // "viewport off"
        break;
      case 331: {
        const std::int32_t layer = context.LayerByHandle(GroupHandle(group));
        if (layer >= 0) viewport.frozenLayers.push_back(layer);
        break;
      }
      case 340:
        info.clipBoundary = GroupHandle(group);
        break;
      default:
        SetCoordinate(viewport.center, 10, group) ||
            SetCoordinate(viewport.viewDirection, 16, group) ||
            SetCoordinate(viewport.viewTarget, 17, group);
        break;
    }
  }
  if (!hasView) ParseViewportExtendedData(context, groups, viewport);
  viewport.viewDirection = Normalized(viewport.viewDirection, {0, 0, 1});
  return viewport;
}

}  // namespace

std::size_t DxfSpecificStart(std::span<const DxfGroup> groups) {
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (groups[i].code == 100 && GroupTrimmed(groups[i]) != "AcDbEntity") return i + 1;
  }
  return 0;
}

Vec3 DxfOcsXAxis(const Vec3& extrusion) {
  const Vec3 normal = Normalized(extrusion, {0, 0, 1});
  constexpr double kLimit = 1.0 / 64.0;
  const Vec3 axis = (std::fabs(normal.x) < kLimit && std::fabs(normal.y) < kLimit)
                        ? Cross({0, 1, 0}, normal)
                        : Cross({0, 0, 1}, normal);
  return Normalized(axis, {1, 0, 0});
}

bool ParseDxfProxyGraphics(CDxfReaderContext& context, std::string_view type,
                           std::span<const DxfGroup> groups, Entity& base, DxfEntityInfo& info,
                           std::string& graphics) {
  const std::size_t start = DxfSpecificStart(groups);
  std::span<const DxfGroup> common = start > 0 ? groups.first(start) : groups;
  if (start > 0 &&
      std::none_of(common.begin(), common.end(), [](const DxfGroup& g) { return g.code == 8; })) {
    common = groups;
  }
  // The size, then the chunks of bytes: in the common part, or in a proxy entity's own data.
  auto find = [](std::span<const DxfGroup> part) -> std::size_t {
    for (std::size_t i = 0; i + 1 < part.size(); ++i) {
      if ((part[i].code == 92 || part[i].code == 160) && part[i + 1].code == 310) return i;
    }
    return part.size();
  };
  std::span<const DxfGroup> part = common;
  std::size_t at = find(part);
  if (at == part.size() && type == "ACAD_PROXY_ENTITY") {
    part = groups.subspan(start);
    at = find(part);
  }
  if (at == part.size()) return false;
  const std::int64_t size = Integer(part[at]);
  graphics.clear();
  for (std::size_t i = at + 1; i < part.size() && part[i].code == 310; ++i) {
    const std::string_view chunk = part[i].text;
    if (part[i].kind == DxfGroup::Kind::Bytes) {
      graphics += chunk;
      continue;
    }
    for (std::size_t k = 0; k + 1 < chunk.size(); k += 2) {
      const int high = HexDigit(chunk[k]), low = HexDigit(chunk[k + 1]);
      if (high < 0 || low < 0) break;
      graphics += static_cast<char>(high << 4 | low);
    }
  }
  if (size >= 0 && static_cast<std::uint64_t>(size) < graphics.size()) {
    graphics.resize(static_cast<std::size_t>(size));
  }
  ParseCommon(context, common, base, info);
  return !graphics.empty();
}

DxfEntityResult ParseDxfEntity(CDxfReaderContext& context, std::string_view type,
                               std::span<const DxfGroup> groups, Entity& entity,
                               DxfEntityInfo& info) {
  const auto& kinds = Kinds();
  auto found = kinds.find(type);
  if (found == kinds.end()) return DxfEntityResult::Unknown;
  const Kind kind = found->second;
  if (kind == Kind::NotDrawn) return DxfEntityResult::NotDrawn;
  if (kind == Kind::Attdef && context.inBlockDefinition) return DxfEntityResult::NotDrawn;

  const std::size_t start = DxfSpecificStart(groups);
  std::span<const DxfGroup> common = start > 0 ? groups.first(start) : groups;
  const std::span<const DxfGroup> own = groups.subspan(start);
  // Some writers put the layer after the subclass marker of the entity's own data; then the
  // common groups are looked for everywhere, as in files without markers. Tables are left
  // alone: their cell data reuses the colour codes.
  if (start > 0 && kind != Kind::Table &&
      std::none_of(common.begin(), common.end(), [](const DxfGroup& g) { return g.code == 8; })) {
    common = groups;
  }
  ParseCommon(context, common, entity, info);
  ParseExtrusion(own, entity);

  switch (kind) {
    case Kind::Line:
      entity.data = ParseLine(own);
      break;
    case Kind::Point:
      entity.data = ParsePoint(own);
      break;
    case Kind::Circle:
      entity.data = ParseCircle(own);
      info.clipCandidate = true;
      break;
    case Kind::Arc:
      entity.data = ParseArc(own);
      break;
    case Kind::Ellipse:
      entity.data = ParseEllipse(own);
      info.clipCandidate = true;
      break;
    case Kind::LwPolyline:
      entity.data = ParseLwPolyline(own);
      info.clipCandidate = true;
      break;
    case Kind::Polyline:
      entity.data = ParsePolylineHeader(own, info);
      info.clipCandidate = true;
      break;
    case Kind::Spline:
      entity.data = ParseSpline(own);
      info.clipCandidate = true;
      break;
    case Kind::Solid:
      entity.data = Solid{ParseFace(own, false)};
      break;
    case Kind::Trace:
      entity.data = Trace{ParseFace(own, false)};
      break;
    case Kind::Face3d:
      entity.data = Face3d{ParseFace(own, true)};
      break;
    case Kind::Text:
    case Kind::Attrib:
    case Kind::Attdef: {
      int flags = 0;
      Text text = ParseText(context, own, kind, flags);
      if (kind == Kind::Attrib) {
        entity.data = Attribute{std::move(text)};
      } else {
        entity.data = std::move(text);
      }
      if (kind != Kind::Text && (flags & 1)) return DxfEntityResult::NotDrawn;  // invisible
      break;
    }
    case Kind::MText:
      entity.data = ParseMText(context, own, entity.extrusion, info);
      break;
    case Kind::Insert:
      entity.data = ParseInsert(context, own);
      break;
    case Kind::Dimension:
      entity.data = Dimension{ParseBlockGraphic(context, own, 12)};
      break;
    case Kind::Table:
      entity.data = Table{ParseBlockGraphic(context, own, 10)};
      break;
    case Kind::Leader:
      entity.data = ParseLeader(context, own);
      break;
    case Kind::XLine:
    case Kind::Ray:
      if (kind == Kind::Ray) {
        entity.data = Ray{ParseConstructionLine(own)};
      } else {
        entity.data = XLine{ParseConstructionLine(own)};
      }
      break;
    case Kind::Hatch:
      entity.data = ParseHatch(context, own);
      break;
    case Kind::Image:
    case Kind::Wipeout:
      if (kind == Kind::Image) {
        entity.data = ParseImage(own, info);
      } else {
        entity.data = Wipeout{ParseImage(own, info)};
      }
      break;
    case Kind::Viewport:
      entity.data = ParseViewport(context, own, info);
      break;
    case Kind::MLeader:
      entity.data = ParseMLeader(context, own);
      break;
    case Kind::MLine:
      entity.data = ParseMLine(own, info, context);
      break;
    case Kind::Mesh:
      entity.data = ParseMesh(own);
      break;
    case Kind::Tolerance:
      entity.data = ParseTolerance(context, groups);
      break;
    case Kind::Underlay:
      entity.data = ParseUnderlay(type, own, info);
      break;
    case Kind::NotDrawn:
      return DxfEntityResult::NotDrawn;
  }
  return DxfEntityResult::Stored;
}

void ParseDxfVertex(std::span<const DxfGroup> groups, DxfVertex& vertex) {
  const std::size_t start = DxfSpecificStart(groups);
  for (const DxfGroup& group : groups.subspan(start)) {
    switch (group.code) {
      case 40:
        vertex.vertex.startWidth = Real(group);
        vertex.hasStartWidth = true;
        break;
      case 41:
        vertex.vertex.endWidth = Real(group);
        vertex.hasEndWidth = true;
        break;
      case 42:
        vertex.vertex.bulge = Real(group);
        break;
      case 70:
        vertex.flags = Int(group);
        break;
      case 71:
      case 72:
      case 73:
      case 74:
        vertex.face[group.code - 71] = Int(group);
        break;
      default:
        SetCoordinate(vertex.vertex.position, 10, group);
        break;
    }
  }
}

void FinishDxfPolyline(const DxfEntityInfo& info, std::vector<DxfVertex>& records,
                       Polyline& polyline) {
  const int flags = info.polylineFlags;
  // Spline-fitted polylines keep their frame (control points, vertex flag 16) next to the
  // fitted curve (flag 8); the curve is what is drawn.
  const bool hasFitted = std::any_of(records.begin(), records.end(),
                                     [](const DxfVertex& v) { return (v.flags & 8) != 0; });
  if (flags & 64) {  // polyface mesh: positions, then face records
    std::vector<PolylineVertex> positions;
    std::vector<std::vector<int>> faces;
    for (const DxfVertex& record : records) {
      if (record.flags & 64) {
        positions.push_back(record.vertex);
      } else if (record.flags & 128) {
        std::vector<int> face;
        for (int index : record.face) {
          if (index != 0) face.push_back(index);
        }
        faces.push_back(std::move(face));
      }
    }
    // Faces that name vertices which do not exist are dropped, so that the renderer can
    // index without checking.
    const auto count = static_cast<int>(positions.size());
    std::erase_if(faces, [count](const std::vector<int>& face) {
      return face.size() < 2 || std::any_of(face.begin(), face.end(), [count](int index) {
               return index < -count || index > count;
             });
    });
    for (PolylineVertex& position : positions) position.bulge = 0.0;
    polyline.vertices = std::move(positions);
    polyline.polyface = true;
    polyline.faces = std::move(faces);
    return;
  }
  polyline.vertices.reserve(records.size());
  for (const DxfVertex& record : records) {
    if (hasFitted && (record.flags & 16)) continue;
    PolylineVertex vertex = record.vertex;
    if (polyline.is3d) {
      vertex.startWidth = vertex.endWidth = vertex.bulge = 0.0;
    } else {
      if (!record.hasStartWidth) vertex.startWidth = info.defaultStartWidth;
      if (!record.hasEndWidth) vertex.endWidth = info.defaultEndWidth;
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

}  // namespace drawing::detail
