// The type data of pre-R13 entity records, into model entities.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "drawing/dwg/detail/DwgPreR13Context.h"
#include "platform/Ascii.h"

namespace drawing::dwg::detail {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

// Linetype codes of entities: R11 stores a short, older files a byte.
constexpr int kR11ByLayer = 32767, kR11ByBlock = 32766;
constexpr int kByteByLayer = 255, kByteByBlock = 254;

Vec3 Normalized(const Vec3& v) {
  const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(length > 1e-12) || !std::isfinite(length)) return {0, 0, 1};
  return {v.x / length, v.y / length, v.z / length};
}

Vec3 At(const Vec2& p, double z) {
  return {p.x, p.y, z};
}

double Finite(double value, double fallback = 0.0) {
  return std::isfinite(value) ? value : fallback;
}

// Control characters as DXF files write them ("^J"), which is how the model keeps them.
std::string CaretNotation(std::string text) {
  if (std::none_of(text.begin(), text.end(),
                   [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return text;
  }
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

void Justify(Text& text, bool hasAlignment) {
  if (!(text.widthFactor > 0.0) || !std::isfinite(text.widthFactor)) text.widthFactor = 1.0;
  if (text.horizontalJustification < 0 || text.horizontalJustification > 5) {
    text.horizontalJustification = 0;
  }
  if (text.verticalJustification < 0 || text.verticalJustification > 3) {
    text.verticalJustification = 0;
  }
  // Without an alignment point, justified text aligns on its insertion point.
  if (!hasAlignment) text.alignment = text.insertion;
}

// Decodes the type data of one record of R2.0 and later.
class CRecordDecoder {
 public:
  CRecordDecoder(CPreR13Context& context, const CPreR13Record& record, Entity& entity,
                 CPreR13EntityInfo& info)
      : context(context),
        r(record),
        d(context.file.bytes, record.dataStart, record.dataEnd),
        entity(entity),
        info(info),
        r10(context.file.release >= PreR13Release::R10),
        z(record.elevation) {}

  PreR13EntityResult Decode(bool inDefinition);

 private:
  bool Option(unsigned bit) const { return (r.options & bit) != 0; }
  void Extrusion(unsigned bit) {
    if (Option(bit)) entity.extrusion = Normalized(d.Point3());
  }
  // A point of LINE, POINT, 3DLINE and 3DFACE from R10 on: 3D unless the record is flat.
  Vec3 SpacePoint() { return (r.flags & 4) ? At(d.Point2(), 0.0) : d.Point3(); }
  PreR13EntityResult Done() const {
    return d.Failed() ? PreR13EntityResult::Damaged : PreR13EntityResult::Stored;
  }

  PreR13EntityResult DecodeLine();
  PreR13EntityResult DecodeFace(Face& face, bool filled);
  // TEXT, ATTRIB and ATTDEF: the options after the strings, `shift` bits up for attributes.
  void TextOptions(Text& text, unsigned shift);
  PreR13EntityResult DecodeText(bool inDefinition);
  PreR13EntityResult DecodeInsert();
  PreR13EntityResult DecodePolyline();
  PreR13EntityResult DecodeVertex();
  PreR13EntityResult DecodeViewport();
  void ViewportView(Viewport& viewport);

  CPreR13Context& context;
  const CPreR13Record& r;
  CPreR13Cursor d;
  Entity& entity;
  CPreR13EntityInfo& info;
  bool r10;
  double z;  // the elevation of 2D points
};

PreR13EntityResult CRecordDecoder::Decode(bool inDefinition) {
  entity.layer = context.LayerOf(r.layer, r.start);
  if (r.color >= 0) entity.color.index = static_cast<std::int16_t>(r.color);
  if (r.linetype >= 0) entity.linetype = context.LinetypeOf(r.linetype, r.start);
  entity.thickness = Finite(r.thickness);
  info.childrenFollow = (r.flags & 0x80) != 0;

  switch (r.type) {
    case pretype::kLine:
    case pretype::kLine3d:
      return DecodeLine();
    case pretype::kPoint: {
      Point point;
      const Vec2 xy = d.Point2();
      point.position = At(xy, r10 ? ((r.flags & 4) ? 0.0 : d.RD()) : z);
      Extrusion(1);
      if (Option(2)) d.RD();  // the angle of the x axis of the point's symbol
      entity.data = point;
      return Done();
    }
    case pretype::kCircle:
    case pretype::kArc: {
      const Vec2 center = d.Point2();
      const double radius = d.RD();
      double start = 0.0, end = 0.0;
      if (r.type == pretype::kArc) {
        start = d.RD() * kDegrees;
        end = d.RD() * kDegrees;
      }
      Extrusion(1);
      if (Option(2) && !r.hasElevation) z = d.RD();
      if (r.type == pretype::kArc) {
        entity.data = Arc{At(center, z), radius, start, end};
      } else {
        entity.data = Circle{At(center, z), radius};
      }
      return Done();
    }
    case pretype::kTrace:
    case pretype::kSolid:
    case pretype::kFace3d: {
      Face face;
      const PreR13EntityResult result = DecodeFace(face, r.type != pretype::kFace3d);
      if (r.type == pretype::kSolid) {
        entity.data = Solid{face};
      } else if (r.type == pretype::kTrace) {
        entity.data = Trace{face};
      } else {
        entity.data = Face3d{face};
      }
      return result;
    }
    case pretype::kText:
    case pretype::kAttrib:
    case pretype::kAttDef:
      return DecodeText(inDefinition);
    case pretype::kShape:
      return PreR13EntityResult::Skipped;
    case pretype::kInsert:
      return DecodeInsert();
    case pretype::kDimension: {
      // Its block holds what it draws. The block is drawn where the optional point after the
      // text's middle says (DXF group 12): a dimension moved keeps its block and gets this
      // offset. The rest of the record describes the dimension.
      Dimension dimension;
      const int block = d.RS();
      if (r10) {
        d.Point3();  // the definition point
      } else {
        d.Point2();
      }
      d.Point2();  // the middle of the text
      if (Option(1)) {
        const Vec2 offset = d.Point2();
        dimension.insertion = {Finite(offset.x), Finite(offset.y), 0.0};
      }
      if (d.Failed()) return PreR13EntityResult::Damaged;
      dimension.block = context.BlockOf(block, r.start);
      entity.data = dimension;
      return PreR13EntityResult::Stored;
    }
    case pretype::kPolyline:
      return DecodePolyline();
    case pretype::kVertex:
      return DecodeVertex();
    case pretype::kViewport:
      return DecodeViewport();
    case pretype::kBlock: {
      info.base = At(d.Point2(), z);
      if (Option(2)) d.TV();  // the path of an external reference
      if (Option(4)) info.name = std::string(d.TV());
      return d.Failed() ? PreR13EntityResult::Damaged : PreR13EntityResult::Structure;
    }
    case pretype::kEndBlock:
    case pretype::kSeqEnd:
      return PreR13EntityResult::Structure;
    default:
      return PreR13EntityResult::Damaged;  // a type these releases do not have
  }
}

PreR13EntityResult CRecordDecoder::DecodeLine() {
  Line line;
  if (r10) {
    line.start = SpacePoint();
    line.end = SpacePoint();
    Extrusion(1);
  } else if (r.type == pretype::kLine3d) {
    // Before R10 each end is 3D when its option bit says so.
    line.start = Option(1) ? d.Point3() : At(d.Point2(), z);
    line.end = Option(2) ? d.Point3() : At(d.Point2(), z);
  } else {
    line.start = At(d.Point2(), z);
    line.end = At(d.Point2(), z);
  }
  entity.data = line;
  return Done();
}

PreR13EntityResult CRecordDecoder::DecodeFace(Face& face, bool filled) {
  if (filled) {
    Vec2 corners[4];
    for (Vec2& corner : corners) corner = d.Point2();
    Extrusion(1);
    if (Option(2) && !r.hasElevation) z = d.RD();
    for (int i = 0; i < 4; ++i) face.corners[i] = At(corners[i], z);
  } else if (r10) {
    for (Vec3& corner : face.corners) corner = SpacePoint();
    if (Option(1)) face.invisibleEdges = d.RS() & 15;
  } else {
    for (int i = 0; i < 4; ++i) {
      face.corners[i] = Option(1u << i) ? d.Point3() : At(d.Point2(), z);
    }
  }
  return Done();
}

void CRecordDecoder::TextOptions(Text& text, unsigned shift) {
  auto has = [&](unsigned bit) { return Option(bit << shift); };
  int style = 0;
  if (has(1)) text.rotation = d.RD() * kDegrees;
  if (has(2)) text.widthFactor = d.RD();
  if (has(4)) text.obliqueAngle = d.RD() * kDegrees;
  if (has(8)) style = d.RC();
  if (has(0x10)) text.generationFlags = d.RC();
  if (has(0x20)) text.horizontalJustification = d.RC();
  const bool hasAlignment = has(0x40);
  if (hasAlignment) text.alignment = At(d.Point2(), z);
  if (has(0x80)) entity.extrusion = Normalized(d.Point3());
  if (has(0x100)) text.verticalJustification = d.RC();
  text.style = context.StyleOf(style, r.start);
  Justify(text, hasAlignment);
}

PreR13EntityResult CRecordDecoder::DecodeText(bool inDefinition) {
  Text text;
  text.insertion = At(d.Point2(), z);
  text.height = d.RD();
  const std::string_view value = d.TV();
  std::string_view tag;
  int flags = 0;
  if (r.type == pretype::kAttDef) d.TV();  // the prompt
  if (r.type != pretype::kText) {
    tag = d.TV();
    flags = d.RC();
  }
  TextOptions(text, r.type == pretype::kText ? 0 : 1);
  if (d.Failed()) return PreR13EntityResult::Damaged;
  // Attribute definitions draw nothing in their block; elsewhere they show their tag.
  if (r.type == pretype::kAttDef && inDefinition) return PreR13EntityResult::NotDrawn;
  if (r.type != pretype::kText && (flags & 1)) return PreR13EntityResult::NotDrawn;  // invisible
  text.text = context.Text(r.type == pretype::kAttDef ? tag : value, &text.lines);
  if (r.type == pretype::kAttrib) {
    entity.data = Attribute{std::move(text)};
  } else {
    entity.data = std::move(text);
  }
  return PreR13EntityResult::Stored;
}

PreR13EntityResult CRecordDecoder::DecodeInsert() {
  Insert insert;
  const std::uint16_t block = d.RS();
  insert.insertion = At(d.Point2(), z);
  // x, y, rotation, z: the order in which they are stored.
  if (Option(1)) insert.scale.x = d.RD();
  if (Option(2)) insert.scale.y = d.RD();
  if (Option(4)) insert.rotation = d.RD() * kDegrees;
  if (Option(8)) insert.scale.z = d.RD();
  if (Option(0x10)) insert.columns = std::clamp<int>(d.RS(), 1, 32767);
  if (Option(0x20)) insert.rows = std::clamp<int>(d.RS(), 1, 32767);
  if (Option(0x40)) insert.columnSpacing = d.RD();
  if (Option(0x80)) insert.rowSpacing = d.RD();
  Extrusion(0x100);
  if (d.Failed()) return PreR13EntityResult::Damaged;
  insert.block = context.BlockOf(block, r.start);
  entity.data = std::move(insert);
  return PreR13EntityResult::Stored;
}

PreR13EntityResult CRecordDecoder::DecodePolyline() {
  CDwgEntityInfo& p = info.polyline;
  if (Option(1)) p.polylineFlags = d.RC();
  if (Option(2)) info.startWidth = d.RD();
  if (Option(4)) info.endWidth = d.RD();
  Extrusion(8);
  if (Option(0x10)) p.meshM = d.SignedRS();
  if (Option(0x20)) p.meshN = d.SignedRS();
  if (Option(0x40)) p.smoothM = d.SignedRS();
  if (Option(0x80)) p.smoothN = d.SignedRS();
  if (Option(0x100)) p.smoothType = d.SignedRS();
  if (d.Failed()) return PreR13EntityResult::Damaged;
  Polyline polyline;
  const int flags = p.polylineFlags;
  polyline.is3d = (flags & (8 | 16 | 64)) != 0;
  if (flags & 16) {
    polyline.meshClosedM = (flags & 1) != 0;
    polyline.meshClosedN = (flags & 32) != 0;
  } else {
    polyline.closed = (flags & 1) != 0;
  }
  polyline.elevation = polyline.is3d ? 0.0 : z;
  entity.data = std::move(polyline);
  return PreR13EntityResult::Stored;
}

PreR13EntityResult CRecordDecoder::DecodeVertex() {
  CDwgVertex& v = info.vertex;
  // Face records of polyface meshes store no point.
  if (!Option(0x4000)) v.vertex.position = At(d.Point2(), z);
  info.vertexHasStartWidth = Option(1);
  info.vertexHasEndWidth = Option(2);
  if (Option(1)) v.vertex.startWidth = d.RD();
  if (Option(2)) v.vertex.endWidth = d.RD();
  if (Option(4)) v.vertex.bulge = Finite(d.RD());
  if (Option(8)) v.flags = d.RC();
  if (Option(0x10)) d.RD();  // the curve-fit tangent
  for (int i = 0; i < 4; ++i) {
    if (Option(0x20u << i)) v.face[i] = d.SignedRS();
  }
  v.isFace = (v.flags & 128) && !(v.flags & 64);
  return d.Failed() ? PreR13EntityResult::Damaged : PreR13EntityResult::Structure;
}

PreR13EntityResult CRecordDecoder::DecodeViewport() {
  Viewport viewport;
  viewport.center = d.Point3();
  viewport.width = d.RD();
  viewport.height = d.RD();
  viewport.id = d.RS();
  if (d.Failed()) return PreR13EntityResult::Damaged;
  ViewportView(viewport);
  entity.data = std::move(viewport);
  return PreR13EntityResult::Stored;
}

// A viewport keeps its view in the extended data of the application ACAD: "MVIEW", "{", a
// version, the view's target and direction, then twist, view height, view centre x and y …
// and the frozen layers, each by its index.
void CRecordDecoder::ViewportView(Viewport& viewport) {
  bool inAcad = false, inView = false;
  int points = 0, reals = 0;
  for (const CPreR13ExtendedItem& item : ReadPreR13ExtendedData(r.extendedData)) {
    switch (item.code) {
      case 1: {
        const auto index = static_cast<std::size_t>(item.integer);
        inAcad = index < context.applications.size() &&
                 EqualsIgnoringCase(context.applications[index], "ACAD");
        inView = false;
        break;
      }
      case 0:
        if (inAcad && !inView) inView = TrimBlanks(item.text) == "MVIEW";
        break;
      case 10:
        if (!inView) break;
        if (points == 0) viewport.viewTarget = {item.reals[0], item.reals[1], item.reals[2]};
        if (points == 1) viewport.viewDirection = {item.reals[0], item.reals[1], item.reals[2]};
        ++points;
        break;
      case 40:
        if (!inView) break;
        if (reals == 0) viewport.twist = item.reals[0];
        if (reals == 1) viewport.viewHeight = item.reals[0];
        if (reals == 2) viewport.viewCenter.x = item.reals[0];
        if (reals == 3) viewport.viewCenter.y = item.reals[0];
        ++reals;
        break;
      case 3: {
        const auto index = static_cast<std::size_t>(item.integer);
        if (inView && index < context.layers.size() && context.layers[index] >= 0) {
          viewport.frozenLayers.push_back(context.layers[index]);
        }
        break;
      }
      default:
        break;
    }
  }
  viewport.viewDirection = Normalized(viewport.viewDirection);
}

// ---- R1.x --------------------------------------------------------------------------------

bool DecodeR1(CPreR13Context& context, CPreR13Cursor& d, int type, bool inDefinition,
              Entity& entity, CPreR13EntityInfo& info, PreR13EntityResult& result) {
  result = PreR13EntityResult::Stored;
  switch (type) {
    case pretype::kLine: {
      const Vec2 start = d.Point2();
      const Vec2 end = d.Point2();
      entity.data = Line{At(start, 0), At(end, 0)};
      break;
    }
    case pretype::kPoint:
      entity.data = Point{At(d.Point2(), 0)};
      break;
    case pretype::kCircle: {
      const Vec2 center = d.Point2();
      entity.data = Circle{At(center, 0), d.RD()};
      break;
    }
    case pretype::kArc: {
      Arc arc;
      arc.center = At(d.Point2(), 0);
      arc.radius = d.RD();
      arc.startAngle = d.RD() * kDegrees;
      arc.endAngle = d.RD() * kDegrees;
      entity.data = arc;
      break;
    }
    case pretype::kText: {
      Text text;
      text.insertion = At(d.Point2(), 0);
      text.height = d.RD();
      // One value between the height and the text: the rotation (R1.x text has no style to
      // slant it).
      text.rotation = d.RD() * kDegrees;
      text.text = context.Text(d.TV(), &text.lines);
      text.style = context.StyleOf(0, d.Position());
      Justify(text, false);
      entity.data = std::move(text);
      break;
    }
    case pretype::kTrace:
    case pretype::kSolid: {
      Face face;
      for (Vec3& corner : face.corners) corner = At(d.Point2(), 0);
      if (type == pretype::kSolid) {
        entity.data = Solid{face};
      } else {
        entity.data = Trace{face};
      }
      break;
    }
    case pretype::kShape:
      d.Skip(2 * 8 + 8 + 8 + 2);  // point, size, rotation, shape number
      result = PreR13EntityResult::Skipped;
      break;
    case pretype::kBlock:
      info.name = std::string(d.TV());
      info.base = At(d.Point2(), 0);
      result = PreR13EntityResult::Structure;
      break;
    case pretype::kEndBlock:
    case pretype::kRepeat:
      result = PreR13EntityResult::Structure;
      break;
    case pretype::kInsert: {
      Insert insert;
      info.name = std::string(d.TV());
      insert.insertion = At(d.Point2(), 0);
      const Vec2 scale = d.Point2();
      insert.scale = {scale.x, scale.y, 1.0};
      insert.rotation = d.RD() * kDegrees;
      entity.data = std::move(insert);
      break;
    }
    case pretype::kEndRepeat:
      info.columns = std::clamp<int>(d.RS(), 1, 32767);
      info.rows = std::clamp<int>(d.RS(), 1, 32767);
      info.columnSpacing = d.RD();
      info.rowSpacing = d.RD();
      result = PreR13EntityResult::Structure;
      break;
    case pretype::kLoad:
      d.TV();  // the shape file that SHAPE records after it use
      result = PreR13EntityResult::NotDrawn;
      break;
    default:
      return false;
  }
  (void)inDefinition;
  return !d.Failed();
}

}  // namespace

PreR13EntityResult DecodePreR13Entity(CPreR13Context& context, const CPreR13Record& record,
                                      bool inDefinition, Entity& entity, CPreR13EntityInfo& info) {
  CRecordDecoder decoder(context, record, entity, info);
  return decoder.Decode(inDefinition);
}

bool DecodeR1Entity(CPreR13Context& context, std::size_t at, std::size_t limit, bool inDefinition,
                    int& type, std::size_t& next, Entity& entity, CPreR13EntityInfo& info,
                    PreR13EntityResult& result) {
  CPreR13Cursor d(context.file.bytes, at, limit);
  // A deleted record stores its type negated.
  type = d.SignedRS();
  const std::uint16_t layer = d.RS();
  if (d.Failed()) return false;
  if (!DecodeR1(context, d, std::abs(type), inDefinition, entity, info, result)) return false;
  entity.layer = context.LayerOf(layer, at);
  next = d.Position();
  return true;
}

// ---- The context -----------------------------------------------------------------------

void CPreR13Context::Damage(std::string_view stage, const std::string& what, std::size_t offset) {
  ++damageCount;
  if (!firstDamage.empty()) return;
  firstDamage = "DWG ";
  firstDamage += stage;
  firstDamage += ": " + what + " (byte offset " + std::to_string(offset) + ")";
  for (char& c : firstDamage) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
}

std::string CPreR13Context::Text(std::string_view raw, std::vector<TextLineSpan>* lines) {
  return ReplacePercentCodes(CaretNotation(decoder.Decode(raw)), lines);
}

std::string CPreR13Context::Name(std::string_view raw) {
  raw = TrimBlanks(raw);
  if (CTextDecoder::IsPlain(raw)) return std::string(raw);
  return std::string(TrimBlanks(decoder.Decode(raw)));
}

std::int32_t CPreR13Context::LayerOf(std::uint16_t index, std::size_t offset) {
  if (index < layers.size() && layers[index] >= 0) return layers[index];
  if (file.release == PreR13Release::R1_4 && index < 128) {
    // R1.x layers are numbered, with their colours in the header (255 for a layer never set
    // up, which then has the default colour, as has 0).
    if (layers.size() < 128) layers.resize(128, -1);
    Layer layer;
    layer.name = std::to_string(index);
    const int color = file.layerColors[index];
    if (color >= 1 && color < 255) layer.color.index = static_cast<std::int16_t>(color);
    layers[index] = static_cast<std::int32_t>(drawing.layers.size());
    drawing.layers.push_back(std::move(layer));
    return layers[index];
  }
  Damage(file.release == PreR13Release::R1_4 ? "entities" : "tables",
         "an entity names layer " + std::to_string(index) + ", which the layer table lacks",
         offset);
  return 0;
}

std::int32_t CPreR13Context::LinetypeOf(int stored, std::size_t offset) {
  const bool r11 = file.release >= PreR13Release::R11;
  if (stored == (r11 ? kR11ByLayer : kByteByLayer)) return kLinetypeByLayer;
  if (stored == (r11 ? kR11ByBlock : kByteByBlock)) return kLinetypeByBlock;
  const auto index = static_cast<std::size_t>(stored);
  if (stored >= 0 && index < linetypes.size() && linetypes[index] != kNoLinetype) {
    return linetypes[index];
  }
  Damage("tables", "an entity names linetype " + std::to_string(stored) + ", which is not there",
         offset);
  return kLinetypeContinuous;
}

std::int32_t CPreR13Context::StyleOf(int index, std::size_t offset) {
  const auto position = static_cast<std::size_t>(index);
  if (index >= 0 && position < styles.size() && styles[position] >= 0) return styles[position];
  // Text of a file without styles (R1.x) or of a shape file's style is drawn in "Standard".
  if (position >= styles.size() && !(styles.empty() && index == 0)) {
    Damage("tables", "a text names style " + std::to_string(index) + ", which is not there",
           offset);
  }
  return standardStyle;
}

std::int32_t CPreR13Context::BlockOf(int index, std::size_t offset) {
  const auto position = static_cast<std::size_t>(index);
  if (index >= 0 && position < blocks.size() && blocks[position] >= 0) return blocks[position];
  Damage("tables", "an entity names block " + std::to_string(index) + ", which is not there",
         offset);
  return -1;
}

}  // namespace drawing::dwg::detail
