#include "ModelComparison.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "platform/Ascii.h"

namespace modeltest {

namespace {

using namespace drawing;

bool Near(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// Angles in degrees compare modulo a full turn.
bool NearAngle(double a, double b) {
  if (Near(a, b)) return true;
  const double turns = (a - b) / 360.0;
  return Near(turns, std::round(turns)) && std::fabs(a - b) > 1.0;
}

std::string Show(double value) {
  std::ostringstream out;
  out.precision(17);
  out << value;
  return out.str();
}

std::string Show(const Vec3& v) {
  return "(" + Show(v.x) + " " + Show(v.y) + " " + Show(v.z) + ")";
}

std::string Show(const Vec2& v) {
  return "(" + Show(v.x) + " " + Show(v.y) + ")";
}

class CComparer {
 public:
  CComparer(const Drawing& expected, const Drawing& actual) : e(expected), a(actual) {}

  std::vector<CDifference> Run();

 private:
  // Records a difference under `key`; the first occurrence keeps its values.
  void Note(const std::string& key, const std::string& values) {
    auto [entry, fresh] = notes.try_emplace(key, values, 0);
    ++entry->second.second;
    (void)fresh;
  }
  template <class T>
  void Same(const std::string& key, const T& expected, const T& actual) {
    if (!(expected == actual)) Note(key, Value(expected) + " vs " + Value(actual));
  }
  void Real(const std::string& key, double expected, double actual) {
    if (!Near(expected, actual)) Note(key, Show(expected) + " vs " + Show(actual));
  }
  void Angle(const std::string& key, double expected, double actual) {
    if (!NearAngle(expected, actual)) Note(key, Show(expected) + " vs " + Show(actual));
  }
  void Point(const std::string& key, const Vec3& expected, const Vec3& actual) {
    if (!Near(expected.x, actual.x) || !Near(expected.y, actual.y) || !Near(expected.z, actual.z)) {
      Note(key, Show(expected) + " vs " + Show(actual));
    }
  }
  void Point(const std::string& key, const Vec2& expected, const Vec2& actual) {
    if (!Near(expected.x, actual.x) || !Near(expected.y, actual.y)) {
      Note(key, Show(expected) + " vs " + Show(actual));
    }
  }
  static std::string Value(const std::string& v) { return "\"" + v + "\""; }
  static std::string Value(bool v) { return v ? "true" : "false"; }
  template <class T>
  static std::string Value(const T& v) {
    return std::to_string(v);
  }

  std::string LayerName(const Drawing& d, std::int32_t index) const {
    return index >= 0 && index < static_cast<std::int32_t>(d.layers.size())
               ? ToAsciiLower(d.layers[static_cast<std::size_t>(index)].name)
               : "<" + std::to_string(index) + ">";
  }
  std::string LinetypeName(const Drawing& d, std::int32_t index) const {
    if (index == kLinetypeByLayer) return "bylayer";
    if (index == kLinetypeByBlock) return "byblock";
    if (index == kLinetypeContinuous) return "continuous";
    return index >= 0 && index < static_cast<std::int32_t>(d.linetypes.size())
               ? ToAsciiLower(d.linetypes[static_cast<std::size_t>(index)].name)
               : "<" + std::to_string(index) + ">";
  }
  std::string StyleName(const Drawing& d, std::int32_t index) const {
    return index >= 0 && index < static_cast<std::int32_t>(d.textStyles.size())
               ? ToAsciiLower(d.textStyles[static_cast<std::size_t>(index)].name)
               : "<" + std::to_string(index) + ">";
  }
  std::string BlockName(const Drawing& d, std::int32_t index) const {
    return index >= 0 && index < static_cast<std::int32_t>(d.blocks.size())
               ? ToAsciiLower(d.blocks[static_cast<std::size_t>(index)].name)
               : "<none>";
  }
  std::string ImageName(const Drawing& d, std::int32_t index) const {
    return index >= 0 && index < static_cast<std::int32_t>(d.imageDefs.size())
               ? d.imageDefs[static_cast<std::size_t>(index)].fileName
               : "<none>";
  }

  // Anonymous blocks ("*D12", "*U3") are numbered by whoever writes or reads the file: they are
  // matched through the entities that refer to them, in blocks that agree.
  void MatchAnonymousBlocks();
  std::string Matched(const std::string& expectedName) const {
    const auto found = anonymous.find(expectedName);
    return found != anonymous.end() ? found->second : expectedName;
  }
  static bool IsAnonymous(const std::string& name) {
    return name.size() > 1 && name[0] == '*' && name.rfind("*model_space", 0) != 0 &&
           name.rfind("*paper_space", 0) != 0;
  }

  void Header();
  void Layers();
  void Linetypes();
  void TextStyles();
  void Blocks();
  void Layouts();
  void Entities(const std::string& where, const Block& expected, const Block& actual);
  void Entity(const std::string& where, const drawing::Entity& x, const drawing::Entity& y);
  void Data(const std::string& k, const drawing::Entity& x, const drawing::Entity& y);

  const Drawing& e;
  const Drawing& a;
  std::map<std::string, std::pair<std::string, int>> notes;
  std::map<std::string, std::string> anonymous;  // expected name → actual name
};

void CComparer::MatchAnonymousBlocks() {
  std::map<std::string, const Block*> actualBlocks;
  for (const Block& block : a.blocks) actualBlocks[ToAsciiLower(block.name)] = &block;
  // Nested anonymous blocks are matched from the ones matched before.
  for (int round = 0; round < 4; ++round) {
    const std::size_t before = anonymous.size();
    for (const Block& x : e.blocks) {
      const auto found = actualBlocks.find(Matched(ToAsciiLower(x.name)));
      if (found == actualBlocks.end()) continue;
      const Block& y = *found->second;
      if (x.entities.size() != y.entities.size()) continue;
      for (std::size_t i = 0; i < x.entities.size(); ++i) {
        const std::int32_t* u = ReferencedBlock(x.entities[i]);
        const std::int32_t* w = ReferencedBlock(y.entities[i]);
        if (!u || !w) continue;
        const std::string from = BlockName(e, *u);
        if (IsAnonymous(from)) anonymous.emplace(from, BlockName(a, *w));
      }
    }
    if (anonymous.size() == before) break;
  }
  // What no entity refers to pairs up by kind ("*X", "*U") when one block of that kind and
  // entity count is left on each side.
  auto kindOf = [](const std::string& name) {
    std::size_t end = name.size();
    while (end > 1 && name[end - 1] >= '0' && name[end - 1] <= '9') --end;
    return name.substr(0, end);
  };
  std::map<std::string, std::vector<const Block*>> leftExpected, leftActual;
  std::map<std::string, bool> taken;
  for (const auto& [from, to] : anonymous) taken[to] = true;
  for (const Block& x : e.blocks) {
    const std::string name = ToAsciiLower(x.name);
    if (IsAnonymous(name) && !anonymous.count(name) && !actualBlocks.count(name)) {
      leftExpected[kindOf(name) + "/" + std::to_string(x.entities.size())].push_back(&x);
    }
  }
  std::map<std::string, bool> expectedNames;
  for (const Block& x : e.blocks) expectedNames[ToAsciiLower(x.name)] = true;
  for (const Block& y : a.blocks) {
    const std::string name = ToAsciiLower(y.name);
    if (IsAnonymous(name) && !taken.count(name) && !expectedNames.count(name)) {
      leftActual[kindOf(name) + "/" + std::to_string(y.entities.size())].push_back(&y);
    }
  }
  for (const auto& [kind, blocks] : leftExpected) {
    const auto found = leftActual.find(kind);
    if (blocks.size() == 1 && found != leftActual.end() && found->second.size() == 1) {
      anonymous.emplace(ToAsciiLower(blocks[0]->name), ToAsciiLower(found->second[0]->name));
    }
  }
}

std::vector<CDifference> CComparer::Run() {
  MatchAnonymousBlocks();
  Header();
  Layers();
  Linetypes();
  TextStyles();
  Blocks();
  Layouts();
  std::map<std::string, int> expectedSkipped(e.skippedTypes.begin(), e.skippedTypes.end());
  std::map<std::string, int> actualSkipped(a.skippedTypes.begin(), a.skippedTypes.end());
  for (const auto& [kind, count] : expectedSkipped)
    Same("skipped " + kind, count, actualSkipped[kind]);
  for (const auto& [kind, count] : actualSkipped) {
    if (!expectedSkipped.count(kind)) Same("skipped " + kind, 0, count);
  }
  std::vector<CDifference> result;
  for (const auto& [key, value] : notes) {
    std::string detail = value.first;
    if (value.second > 1) detail += " (" + std::to_string(value.second) + " times)";
    result.push_back({key, detail});
  }
  return result;
}

void CComparer::Header() {
  const drawing::Header& x = e.header;
  const drawing::Header& y = a.header;
  Same("header: $ACADVER", x.acadVersion, y.acadVersion);
  Same("header: $DWGCODEPAGE", ToAsciiUpper(x.codePage), ToAsciiUpper(y.codePage));
  Same("header: $INSUNITS", x.insUnits, y.insUnits);
  Point("header: $EXTMIN", x.extMin, y.extMin);
  Point("header: $EXTMAX", x.extMax, y.extMax);
  Point("header: $LIMMIN", x.limMin, y.limMin);
  Point("header: $LIMMAX", x.limMax, y.limMax);
  Real("header: $LTSCALE", x.ltScale, y.ltScale);
  Real("header: $CELTSCALE", x.celtScale, y.celtScale);
  Same("header: $PSLTSCALE", x.psLtScale, y.psLtScale);
  Same("header: $PDMODE", x.pdMode, y.pdMode);
  Real("header: $PDSIZE", x.pdSize, y.pdSize);
  Same("header: $TILEMODE", x.tileMode, y.tileMode);
  Point("header: $PEXTMIN", x.pExtMin, y.pExtMin);
  Point("header: $PEXTMAX", x.pExtMax, y.pExtMax);
  Point("header: $PLIMMIN", x.pLimMin, y.pLimMin);
  Point("header: $PLIMMAX", x.pLimMax, y.pLimMax);
  const ModelView& v = e.activeView;
  const ModelView& w = a.activeView;
  Same("active view: present", v.valid, w.valid);
  if (v.valid && w.valid) {
    Point("active view: centre", v.center, w.center);
    Real("active view: height", v.height, w.height);
    Real("active view: aspect ratio", v.aspectRatio, w.aspectRatio);
    Point("active view: direction", v.direction, w.direction);
    Point("active view: target", v.target, w.target);
    Angle("active view: twist", v.twist, w.twist);
  }
}

void CComparer::Layers() {
  std::map<std::string, const Layer*> actual;
  for (const Layer& layer : a.layers) actual[ToAsciiLower(layer.name)] = &layer;
  for (const Layer& x : e.layers) {
    const std::string name = ToAsciiLower(x.name);
    const auto found = actual.find(name);
    if (found == actual.end()) {
      Note("layer " + name + ": missing", "");
      continue;
    }
    const Layer& y = *found->second;
    actual.erase(found);
    const std::string k = "layer " + name + ": ";
    Same(k + "colour", x.color.index, y.color.index);
    Same(k + "true colour", x.color.hasTrueColor, y.color.hasTrueColor);
    if (x.color.hasTrueColor && y.color.hasTrueColor) Same(k + "rgb", x.color.rgb, y.color.rgb);
    Same(k + "off", x.off, y.off);
    Same(k + "frozen", x.frozen, y.frozen);
    Same(k + "locked", x.locked, y.locked);
    Same(k + "plottable", x.plottable, y.plottable);
    Same(k + "linetype", LinetypeName(e, x.linetype), LinetypeName(a, y.linetype));
    Same(k + "lineweight", x.lineweight, y.lineweight);
  }
  for (const auto& [name, layer] : actual) Note("layer " + name + ": extra", "");
}

void CComparer::Linetypes() {
  std::map<std::string, const Linetype*> actual;
  for (const Linetype& linetype : a.linetypes) actual[ToAsciiLower(linetype.name)] = &linetype;
  for (const Linetype& x : e.linetypes) {
    const std::string name = ToAsciiLower(x.name);
    const auto found = actual.find(name);
    if (found == actual.end()) {
      Note("linetype " + name + ": missing", "");
      continue;
    }
    const Linetype& y = *found->second;
    actual.erase(found);
    const std::string k = "linetype " + name + ": ";
    Same(k + "description", x.description, y.description);
    Real(k + "pattern length", x.patternLength, y.patternLength);
    Same(k + "dash count", x.dashes.size(), y.dashes.size());
    if (x.dashes.size() == y.dashes.size()) {
      for (std::size_t i = 0; i < x.dashes.size(); ++i) Real(k + "dash", x.dashes[i], y.dashes[i]);
    }
    // The texts and shapes of complex linetypes, with their styles by name.
    Same(k + "shape count", x.shapes.size(), y.shapes.size());
    for (std::size_t i = 0; i < std::min(x.shapes.size(), y.shapes.size()); ++i) {
      const LinetypeShape &p = x.shapes[i], &q = y.shapes[i];
      Same(k + "shape dash", p.dash, q.dash);
      Same(k + "shape is text", p.isText, q.isText);
      Same(k + "shape text", p.text, q.text);
      Same(k + "shape style", StyleName(e, p.style), StyleName(a, q.style));
      Same(k + "shape file", ToAsciiLower(p.shapeFile), ToAsciiLower(q.shapeFile));
      if (!p.isText) Same(k + "shape number", p.shapeNumber, q.shapeNumber);
      // DXF files before R2013 leave the upright flag out that their DWG twins keep.
      Same(k + "shape rotation is absolute", p.absoluteRotation, q.absoluteRotation);
      Real(k + "shape scale", p.scale, q.scale);
      Real(k + "shape rotation", p.rotation, q.rotation);
      Real(k + "shape x offset", p.offset.x, q.offset.x);
      Real(k + "shape y offset", p.offset.y, q.offset.y);
    }
  }
  for (const auto& [name, linetype] : actual) Note("linetype " + name + ": extra", "");
}

void CComparer::TextStyles() {
  std::map<std::string, const TextStyle*> actual;
  for (const TextStyle& style : a.textStyles) actual[ToAsciiLower(style.name)] = &style;
  for (const TextStyle& x : e.textStyles) {
    const std::string name = ToAsciiLower(x.name);
    const auto found = actual.find(name);
    if (found == actual.end()) {
      Note("text style " + name + ": missing", "");
      continue;
    }
    const TextStyle& y = *found->second;
    actual.erase(found);
    const std::string k = "text style " + name + ": ";
    Same(k + "font file", x.fontFile, y.fontFile);
    Same(k + "big font file", x.bigFontFile, y.bigFontFile);
    Same(k + "font family", x.fontFamily, y.fontFamily);
    Real(k + "fixed height", x.fixedHeight, y.fixedHeight);
    Real(k + "width factor", x.widthFactor, y.widthFactor);
    Angle(k + "oblique angle", x.obliqueAngle, y.obliqueAngle);
    Same(k + "generation flags", x.generationFlags, y.generationFlags);
  }
  for (const auto& [name, style] : actual) Note("text style " + name + ": extra", "");
}

void CComparer::Blocks() {
  std::map<std::string, const Block*> actual;
  for (const Block& block : a.blocks) actual[ToAsciiLower(block.name)] = &block;
  for (const Block& x : e.blocks) {
    const std::string name = ToAsciiLower(x.name);
    const auto found = actual.find(Matched(name));
    if (found == actual.end()) {
      Note("block " + name + ": missing", std::to_string(x.entities.size()) + " entities");
      continue;
    }
    const Block& y = *found->second;
    actual.erase(found);
    const std::string k = "block " + name + ": ";
    Point(k + "base", x.base, y.base);
    Same(k + "anonymous", x.isAnonymous, y.isAnonymous);
    Same(k + "xref", x.isXref, y.isXref);
    Entities(name, x, y);
  }
  for (const auto& [name, block] : actual) {
    Note("block " + name + ": extra", std::to_string(block->entities.size()) + " entities");
  }
}

void CComparer::Layouts() {
  std::map<std::string, const Layout*> actual;
  for (const Layout& layout : a.layouts) actual[ToAsciiLower(layout.name)] = &layout;
  for (const Layout& x : e.layouts) {
    const std::string name = ToAsciiLower(x.name);
    const auto found = actual.find(name);
    if (found == actual.end()) {
      Note("layout " + name + ": missing", "");
      continue;
    }
    const Layout& y = *found->second;
    actual.erase(found);
    const std::string k = "layout " + name + ": ";
    Same(k + "tab order", x.tabOrder, y.tabOrder);
    Same(k + "block", Matched(BlockName(e, x.block)), BlockName(a, y.block));
    Same(k + "model", x.isModel, y.isModel);
    Real(k + "paper width", x.paperWidth, y.paperWidth);
    Real(k + "paper height", x.paperHeight, y.paperHeight);
    Real(k + "margin left", x.marginLeft, y.marginLeft);
    Real(k + "margin bottom", x.marginBottom, y.marginBottom);
    Real(k + "margin right", x.marginRight, y.marginRight);
    Real(k + "margin top", x.marginTop, y.marginTop);
    Same(k + "paper units", x.paperUnits, y.paperUnits);
    Same(k + "rotation", x.rotation, y.rotation);
    Same(k + "plot type", x.plotType, y.plotType);
    Same(k + "plot style table", x.plotStyleTable, y.plotStyleTable);
    Point(k + "window min", x.windowMin, y.windowMin);
    Point(k + "window max", x.windowMax, y.windowMax);
    Point(k + "limits min", x.limitsMin, y.limitsMin);
    Point(k + "limits max", x.limitsMax, y.limitsMax);
    Point(k + "extents min", x.extentsMin, y.extentsMin);
    Point(k + "extents max", x.extentsMax, y.extentsMax);
    Real(k + "scale numerator", x.scaleNumerator, y.scaleNumerator);
    Real(k + "scale denominator", x.scaleDenominator, y.scaleDenominator);
  }
  for (const auto& [name, layout] : actual) Note("layout " + name + ": extra", "");
  if (e.activeLayout >= 0 && a.activeLayout >= 0 &&
      e.activeLayout < static_cast<std::int32_t>(e.layouts.size()) &&
      a.activeLayout < static_cast<std::int32_t>(a.layouts.size())) {
    Same("active layout", ToAsciiLower(e.layouts[static_cast<std::size_t>(e.activeLayout)].name),
         ToAsciiLower(a.layouts[static_cast<std::size_t>(a.activeLayout)].name));
  }
}

void CComparer::Entities(const std::string& where, const Block& x, const Block& y) {
  std::map<std::string, int> expectedKinds, actualKinds;
  for (const drawing::Entity& entity : x.entities) ++expectedKinds[entity.KindName()];
  for (const drawing::Entity& entity : y.entities) ++actualKinds[entity.KindName()];
  for (const auto& [kind, count] : expectedKinds) {
    Same(where + " " + kind + ": count", count, actualKinds[kind]);
  }
  for (const auto& [kind, count] : actualKinds) {
    if (!expectedKinds.count(kind)) Same(where + " " + kind + ": count", 0, count);
  }
  // Entity by entity where the kinds come in the same order; otherwise kind by kind where a
  // kind has as many entities on both sides.
  bool sameOrder = x.entities.size() == y.entities.size();
  for (std::size_t i = 0; sameOrder && i < x.entities.size(); ++i) {
    sameOrder = x.entities[i].data.index() == y.entities[i].data.index();
  }
  if (sameOrder) {
    for (std::size_t i = 0; i < x.entities.size(); ++i) Entity(where, x.entities[i], y.entities[i]);
    return;
  }
  std::map<std::size_t, std::vector<const drawing::Entity*>> expectedByKind, actualByKind;
  for (const drawing::Entity& entity : x.entities)
    expectedByKind[entity.data.index()].push_back(&entity);
  for (const drawing::Entity& entity : y.entities)
    actualByKind[entity.data.index()].push_back(&entity);
  for (const auto& [kind, list] : expectedByKind) {
    const std::vector<const drawing::Entity*>& other = actualByKind[kind];
    if (list.size() != other.size()) continue;
    for (std::size_t i = 0; i < list.size(); ++i) Entity(where, *list[i], *other[i]);
  }
}

void CComparer::Entity(const std::string& where, const drawing::Entity& x,
                       const drawing::Entity& y) {
  const std::string k = where + " " + x.KindName() + ": ";
  Same(k + "layer", LayerName(e, x.layer), LayerName(a, y.layer));
  Same(k + "linetype", LinetypeName(e, x.linetype), LinetypeName(a, y.linetype));
  Same(k + "colour", x.color.index, y.color.index);
  Same(k + "true colour", x.color.hasTrueColor, y.color.hasTrueColor);
  if (x.color.hasTrueColor && y.color.hasTrueColor) Same(k + "rgb", x.color.rgb, y.color.rgb);
  Same(k + "lineweight", x.lineweight, y.lineweight);
  Real(k + "linetype scale", x.linetypeScale, y.linetypeScale);
  Same(k + "invisible", x.invisible, y.invisible);
  Point(k + "extrusion", x.extrusion, y.extrusion);
  Real(k + "thickness", x.thickness, y.thickness);
  Data(k, x, y);
}

void CComparer::Data(const std::string& k, const drawing::Entity& xe, const drawing::Entity& ye) {
  std::visit(
      [&](const auto& x) {
        using Kind = std::decay_t<decltype(x)>;
        const Kind& y = std::get<Kind>(ye.data);
        if constexpr (std::is_same_v<Kind, Line>) {
          Point(k + "start", x.start, y.start);
          Point(k + "end", x.end, y.end);
        } else if constexpr (std::is_same_v<Kind, drawing::Point>) {
          Point(k + "position", x.position, y.position);
        } else if constexpr (std::is_same_v<Kind, Circle>) {
          Point(k + "centre", x.center, y.center);
          Real(k + "radius", x.radius, y.radius);
        } else if constexpr (std::is_same_v<Kind, Arc>) {
          Point(k + "centre", x.center, y.center);
          Real(k + "radius", x.radius, y.radius);
          Angle(k + "start angle", x.startAngle, y.startAngle);
          Angle(k + "end angle", x.endAngle, y.endAngle);
        } else if constexpr (std::is_same_v<Kind, Ellipse>) {
          Point(k + "centre", x.center, y.center);
          Point(k + "major axis", x.majorAxis, y.majorAxis);
          Real(k + "ratio", x.ratio, y.ratio);
          Real(k + "start", x.startParam, y.startParam);
          Real(k + "end", x.endParam, y.endParam);
        } else if constexpr (std::is_same_v<Kind, Polyline>) {
          Same(k + "closed", x.closed, y.closed);
          Same(k + "3d", x.is3d, y.is3d);
          Real(k + "constant width", x.constantWidth, y.constantWidth);
          Real(k + "elevation", x.elevation, y.elevation);
          Same(k + "vertex count", x.vertices.size(), y.vertices.size());
          if (x.vertices.size() == y.vertices.size()) {
            for (std::size_t i = 0; i < x.vertices.size(); ++i) {
              Point(k + "vertex", x.vertices[i].position, y.vertices[i].position);
              Real(k + "start width", x.vertices[i].startWidth, y.vertices[i].startWidth);
              Real(k + "end width", x.vertices[i].endWidth, y.vertices[i].endWidth);
              Real(k + "bulge", x.vertices[i].bulge, y.vertices[i].bulge);
            }
          }
          if (x.faces != y.faces) {
            Note(k + "faces",
                 std::to_string(x.faces.size()) + " vs " + std::to_string(y.faces.size()));
          }
          Same(k + "mesh m", x.meshM, y.meshM);
          Same(k + "mesh n", x.meshN, y.meshN);
          Same(k + "mesh closed m", x.meshClosedM, y.meshClosedM);
          Same(k + "mesh closed n", x.meshClosedN, y.meshClosedN);
        } else if constexpr (std::is_same_v<Kind, Spline>) {
          Same(k + "degree", x.degree, y.degree);
          Same(k + "closed", x.closed, y.closed);
          Same(k + "periodic", x.periodic, y.periodic);
          Same(k + "rational", x.rational, y.rational);
          Same(k + "knot count", x.knots.size(), y.knots.size());
          if (x.knots.size() == y.knots.size()) {
            for (std::size_t i = 0; i < x.knots.size(); ++i)
              Real(k + "knot", x.knots[i], y.knots[i]);
          }
          Same(k + "control point count", x.controlPoints.size(), y.controlPoints.size());
          if (x.controlPoints.size() == y.controlPoints.size()) {
            for (std::size_t i = 0; i < x.controlPoints.size(); ++i) {
              Point(k + "control point", x.controlPoints[i], y.controlPoints[i]);
            }
          }
          Same(k + "weight count", x.weights.size(), y.weights.size());
          if (x.weights.size() == y.weights.size()) {
            for (std::size_t i = 0; i < x.weights.size(); ++i) {
              Real(k + "weight", x.weights[i], y.weights[i]);
            }
          }
          Same(k + "fit point count", x.fitPoints.size(), y.fitPoints.size());
          if (x.fitPoints.size() == y.fitPoints.size()) {
            for (std::size_t i = 0; i < x.fitPoints.size(); ++i) {
              Point(k + "fit point", x.fitPoints[i], y.fitPoints[i]);
            }
          }
        } else if constexpr (std::is_base_of_v<Face, Kind>) {
          for (int i = 0; i < 4; ++i) Point(k + "corner", x.corners[i], y.corners[i]);
          Same(k + "invisible edges", x.invisibleEdges, y.invisibleEdges);
        } else if constexpr (std::is_base_of_v<Text, Kind>) {
          Same(k + "text", x.text, y.text);
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "alignment", x.alignment, y.alignment);
          Real(k + "height", x.height, y.height);
          Angle(k + "rotation", x.rotation, y.rotation);
          Real(k + "width factor", x.widthFactor, y.widthFactor);
          Angle(k + "oblique angle", x.obliqueAngle, y.obliqueAngle);
          Same(k + "style", StyleName(e, x.style), StyleName(a, y.style));
          Same(k + "generation flags", x.generationFlags, y.generationFlags);
          Same(k + "horizontal justification", x.horizontalJustification,
               y.horizontalJustification);
          Same(k + "vertical justification", x.verticalJustification, y.verticalJustification);
        } else if constexpr (std::is_same_v<Kind, MText>) {
          Same(k + "text", x.text, y.text);
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "direction", x.direction, y.direction);
          Real(k + "height", x.height, y.height);
          Real(k + "reference width", x.referenceWidth, y.referenceWidth);
          Same(k + "attachment", x.attachment, y.attachment);
          Real(k + "line spacing", x.lineSpacingFactor, y.lineSpacingFactor);
          Same(k + "style", StyleName(e, x.style), StyleName(a, y.style));
          Same(k + "column type", x.columnType, y.columnType);
          Real(k + "column width", x.columnWidth, y.columnWidth);
          Same(k + "column heights", x.columnHeights.size(), y.columnHeights.size());
        } else if constexpr (std::is_same_v<Kind, Insert>) {
          Same(k + "block", Matched(BlockName(e, x.block)), BlockName(a, y.block));
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "scale", x.scale, y.scale);
          Angle(k + "rotation", x.rotation, y.rotation);
          Same(k + "columns", x.columns, y.columns);
          Same(k + "rows", x.rows, y.rows);
          Real(k + "column spacing", x.columnSpacing, y.columnSpacing);
          Real(k + "row spacing", x.rowSpacing, y.rowSpacing);
          Same(k + "attribute count", x.attributes.size(), y.attributes.size());
          if (x.attributes.size() == y.attributes.size()) {
            for (std::size_t i = 0; i < x.attributes.size(); ++i) {
              Entity(k.substr(0, k.size() - 2) + " ATTRIB", x.attributes[i], y.attributes[i]);
            }
          }
          Same(k + "clip point count", x.clipBoundary.size(), y.clipBoundary.size());
          if (x.clipBoundary.size() == y.clipBoundary.size()) {
            for (std::size_t i = 0; i < x.clipBoundary.size(); ++i) {
              Point(k + "clip point", x.clipBoundary[i], y.clipBoundary[i]);
            }
          }
        } else if constexpr (std::is_base_of_v<BlockGraphic, Kind>) {
          Same(k + "block", Matched(BlockName(e, x.block)), BlockName(a, y.block));
          Point(k + "insertion", x.insertion, y.insertion);
        } else if constexpr (std::is_same_v<Kind, Leader>) {
          Same(k + "vertex count", x.vertices.size(), y.vertices.size());
          if (x.vertices.size() == y.vertices.size()) {
            for (std::size_t i = 0; i < x.vertices.size(); ++i) {
              Point(k + "vertex", x.vertices[i], y.vertices[i]);
            }
          }
          Same(k + "arrowhead", x.arrowhead, y.arrowhead);
          Same(k + "spline", x.spline, y.spline);
          Real(k + "arrow size", x.arrowSize, y.arrowSize);
        } else if constexpr (std::is_base_of_v<ConstructionLine, Kind>) {
          Point(k + "base", x.base, y.base);
          Point(k + "direction", x.direction, y.direction);
        } else if constexpr (std::is_same_v<Kind, Hatch>) {
          Same(k + "solid", x.solid, y.solid);
          Same(k + "pattern", x.pattern, y.pattern);
          Real(k + "elevation", x.elevation, y.elevation);
          Same(k + "gradient", x.gradient, y.gradient);
          if (x.gradient && y.gradient) {
            const HatchGradient &u = x.gradientFill, &w = y.gradientFill;
            Same(k + "gradient kind", static_cast<int>(u.kind), static_cast<int>(w.kind));
            Real(k + "gradient angle", u.angle, w.angle);
            Real(k + "gradient shift", u.shift, w.shift);
            Same(k + "one-colour gradient", u.oneColor, w.oneColor);
            for (int i = 0; i < 2; ++i) {
              Same(k + "gradient colour index", u.colors[i].index, w.colors[i].index);
              Same(k + "gradient true colour", u.colors[i].rgb, w.colors[i].rgb);
            }
          }
          Same(k + "path count", x.paths.size(), y.paths.size());
          if (x.paths.size() == y.paths.size()) {
            for (std::size_t p = 0; p < x.paths.size(); ++p) {
              const HatchPath& u = x.paths[p];
              const HatchPath& w = y.paths[p];
              Same(k + "path polyline", u.isPolyline, w.isPolyline);
              Same(k + "path closed", u.closed, w.closed);
              Same(k + "path flags", u.flags, w.flags);
              Same(k + "path vertex count", u.vertices.size(), w.vertices.size());
              if (u.vertices.size() == w.vertices.size()) {
                for (std::size_t i = 0; i < u.vertices.size(); ++i) {
                  Point(k + "path vertex", u.vertices[i].position, w.vertices[i].position);
                  Real(k + "path bulge", u.vertices[i].bulge, w.vertices[i].bulge);
                }
              }
              Same(k + "path edge count", u.edges.size(), w.edges.size());
              if (u.edges.size() != w.edges.size()) continue;
              for (std::size_t i = 0; i < u.edges.size(); ++i) {
                const HatchEdge& m = u.edges[i];
                const HatchEdge& n = w.edges[i];
                Same(k + "edge kind", static_cast<int>(m.kind), static_cast<int>(n.kind));
                if (m.kind != n.kind) continue;
                Point(k + "edge start", m.start, n.start);
                Point(k + "edge end", m.end, n.end);
                Point(k + "edge centre", m.center, n.center);
                Real(k + "edge radius", m.radius, n.radius);
                Point(k + "edge major axis", m.majorAxis, n.majorAxis);
                Real(k + "edge ratio", m.ratio, n.ratio);
                Angle(k + "edge start angle", m.startAngle, n.startAngle);
                Angle(k + "edge end angle", m.endAngle, n.endAngle);
                Same(k + "edge counter-clockwise", m.counterClockwise, n.counterClockwise);
                Same(k + "edge spline knots", m.spline.knots.size(), n.spline.knots.size());
                Same(k + "edge spline control points", m.spline.controlPoints.size(),
                     n.spline.controlPoints.size());
                if (m.spline.controlPoints.size() == n.spline.controlPoints.size()) {
                  for (std::size_t j = 0; j < m.spline.controlPoints.size(); ++j) {
                    Point(k + "edge spline control point", m.spline.controlPoints[j],
                          n.spline.controlPoints[j]);
                  }
                }
                Same(k + "edge spline weights", m.spline.weights.size(), n.spline.weights.size());
                Same(k + "edge spline fit points", m.spline.fitPoints.size(),
                     n.spline.fitPoints.size());
              }
            }
          }
          Same(k + "pattern line count", x.patternLines.size(), y.patternLines.size());
          if (x.patternLines.size() == y.patternLines.size()) {
            for (std::size_t i = 0; i < x.patternLines.size(); ++i) {
              const HatchPatternLine& u = x.patternLines[i];
              const HatchPatternLine& w = y.patternLines[i];
              Angle(k + "pattern angle", u.angle, w.angle);
              Point(k + "pattern base", u.base, w.base);
              Point(k + "pattern offset", u.offset, w.offset);
              Same(k + "pattern dash count", u.dashes.size(), w.dashes.size());
              if (u.dashes.size() == w.dashes.size()) {
                for (std::size_t j = 0; j < u.dashes.size(); ++j) {
                  Real(k + "pattern dash", u.dashes[j], w.dashes[j]);
                }
              }
            }
          }
        } else if constexpr (std::is_base_of_v<Image, Kind>) {
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "u", x.u, y.u);
          Point(k + "v", x.v, y.v);
          Point(k + "pixel size", x.pixelSize, y.pixelSize);
          Same(k + "image", ImageName(e, x.imageDef), ImageName(a, y.imageDef));
          Same(k + "clipping", x.clipping, y.clipping);
          Same(k + "clip point count", x.clipBoundary.size(), y.clipBoundary.size());
          if (x.clipBoundary.size() == y.clipBoundary.size()) {
            for (std::size_t i = 0; i < x.clipBoundary.size(); ++i) {
              Point(k + "clip point", x.clipBoundary[i], y.clipBoundary[i]);
            }
          }
          Same(k + "show", x.show, y.show);
          Same(k + "clip inverted", x.clipInverted, y.clipInverted);
          Same(k + "transparent", x.transparent, y.transparent);
          Same(k + "brightness", x.brightness, y.brightness);
          Same(k + "contrast", x.contrast, y.contrast);
          Same(k + "fade", x.fade, y.fade);
        } else if constexpr (std::is_same_v<Kind, MLeader>) {
          Same(k + "branch count", x.branches.size(), y.branches.size());
          for (std::size_t b = 0; b < std::min(x.branches.size(), y.branches.size()); ++b) {
            const MLeaderBranch& u = x.branches[b];
            const MLeaderBranch& w = y.branches[b];
            Point(k + "landing", u.landing, w.landing);
            Real(k + "dogleg length", u.doglegLength, w.doglegLength);
            Same(k + "line count", u.lines.size(), w.lines.size());
            for (std::size_t l = 0; l < std::min(u.lines.size(), w.lines.size()); ++l) {
              Same(k + "line vertex count", u.lines[l].vertices.size(), w.lines[l].vertices.size());
              if (u.lines[l].vertices.size() != w.lines[l].vertices.size()) continue;
              for (std::size_t i = 0; i < u.lines[l].vertices.size(); ++i) {
                Point(k + "line vertex", u.lines[l].vertices[i], w.lines[l].vertices[i]);
              }
              Same(k + "line own colour", u.lines[l].ownColor, w.lines[l].ownColor);
              Same(k + "line own linetype", u.lines[l].ownLinetype, w.lines[l].ownLinetype);
              Same(k + "line own weight", u.lines[l].ownLineweight, w.lines[l].ownLineweight);
            }
          }
          Same(k + "leader type", x.leaderType, y.leaderType);
          Same(k + "leader lineweight", x.lineLineweight, y.lineLineweight);
          Same(k + "text frame", x.textFrame, y.textFrame);
          Real(k + "landing gap", x.landingGap, y.landingGap);
          Same(k + "text left attachment", x.textLeftAttachment, y.textLeftAttachment);
          Same(k + "text right attachment", x.textRightAttachment, y.textRightAttachment);
          Same(k + "vertical attachment", x.verticalAttachment, y.verticalAttachment);
          Real(k + "arrow size", x.arrowSize, y.arrowSize);
          Same(k + "arrow block", Matched(BlockName(e, x.arrowBlock)), BlockName(a, y.arrowBlock));
          Same(k + "has text", x.hasText, y.hasText);
          Same(k + "text", x.text->text, y.text->text);
          Point(k + "text insertion", x.text->insertion, y.text->insertion);
          Real(k + "text height", x.text->height, y.text->height);
          Same(k + "text attachment", x.text->attachment, y.text->attachment);
          Same(k + "text style", StyleName(e, x.text->style), StyleName(a, y.text->style));
          Same(k + "has block", x.hasBlock, y.hasBlock);
          Same(k + "block", Matched(BlockName(e, x.block->block)), BlockName(a, y.block->block));
          Point(k + "block insertion", x.block->insertion, y.block->insertion);
        } else if constexpr (std::is_same_v<Kind, MLine>) {
          Same(k + "vertex count", x.vertices.size(), y.vertices.size());
          if (x.vertices.size() == y.vertices.size()) {
            for (std::size_t i = 0; i < x.vertices.size(); ++i) {
              Point(k + "vertex", x.vertices[i].position, y.vertices[i].position);
              Point(k + "miter", x.vertices[i].miter, y.vertices[i].miter);
              Same(k + "offset count", x.vertices[i].offsets.size(), y.vertices[i].offsets.size());
              if (x.vertices[i].offsets.size() != y.vertices[i].offsets.size()) continue;
              for (std::size_t j = 0; j < x.vertices[i].offsets.size(); ++j) {
                Real(k + "offset", x.vertices[i].offsets[j], y.vertices[i].offsets[j]);
              }
            }
          }
          Same(k + "closed", x.closed, y.closed);
          const auto styleOf = [](const Drawing& d, std::int32_t index) {
            return index >= 0 && static_cast<std::size_t>(index) < d.mlineStyles.size()
                       ? &d.mlineStyles[static_cast<std::size_t>(index)]
                       : nullptr;
          };
          const MLineStyle* u = styleOf(e, x.style);
          const MLineStyle* w = styleOf(a, y.style);
          Same(k + "style", u ? u->name : "(none)", w ? w->name : "(none)");
          if (u && w) {
            Same(k + "style flags", u->flags, w->flags);
            Same(k + "style fill colour", u->fillColor.index, w->fillColor.index);
            Same(k + "style element count", u->elements.size(), w->elements.size());
            for (std::size_t i = 0; i < std::min(u->elements.size(), w->elements.size()); ++i) {
              Real(k + "style element offset", u->elements[i].offset, w->elements[i].offset);
              Same(k + "style element colour", u->elements[i].color.index,
                   w->elements[i].color.index);
              const auto linetypeName = [](const Drawing& d, std::int32_t index) {
                return index >= 0 && static_cast<std::size_t>(index) < d.linetypes.size()
                           ? ToAsciiLower(d.linetypes[static_cast<std::size_t>(index)].name)
                           : std::to_string(index);
              };
              Same(k + "style element linetype", linetypeName(e, u->elements[i].linetype),
                   linetypeName(a, w->elements[i].linetype));
            }
          }
        } else if constexpr (std::is_same_v<Kind, Mesh>) {
          Same(k + "vertex count", x.vertices.size(), y.vertices.size());
          if (x.vertices.size() == y.vertices.size()) {
            for (std::size_t i = 0; i < x.vertices.size(); ++i) {
              Point(k + "vertex", x.vertices[i], y.vertices[i]);
            }
          }
          if (x.faces != y.faces) {
            Note(k + "faces",
                 std::to_string(x.faces.size()) + " vs " + std::to_string(y.faces.size()));
          }
          if (x.edges != y.edges) {
            Note(k + "edges",
                 std::to_string(x.edges.size()) + " vs " + std::to_string(y.edges.size()));
          }
        } else if constexpr (std::is_same_v<Kind, Tolerance>) {
          Same(k + "text", x.text, y.text);
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "direction", x.direction, y.direction);
          Real(k + "height", x.height, y.height);
          Real(k + "gap", x.gap, y.gap);
          Same(k + "style", StyleName(e, x.style), StyleName(a, y.style));
        } else if constexpr (std::is_same_v<Kind, Underlay>) {
          Same(k + "format", x.format, y.format);
          Same(k + "file", x.fileName, y.fileName);
          Point(k + "insertion", x.insertion, y.insertion);
          Point(k + "scale", x.scale, y.scale);
          Angle(k + "rotation", x.rotation, y.rotation);
          Same(k + "clip point count", x.clipBoundary.size(), y.clipBoundary.size());
          if (x.clipBoundary.size() == y.clipBoundary.size()) {
            for (std::size_t i = 0; i < x.clipBoundary.size(); ++i) {
              Point(k + "clip point", x.clipBoundary[i], y.clipBoundary[i]);
            }
          }
        } else if constexpr (std::is_same_v<Kind, Viewport>) {
          Point(k + "centre", x.center, y.center);
          Real(k + "width", x.width, y.width);
          Real(k + "height", x.height, y.height);
          Same(k + "id", x.id, y.id);
          Same(k + "on", x.on, y.on);
          Point(k + "view centre", x.viewCenter, y.viewCenter);
          Point(k + "view target", x.viewTarget, y.viewTarget);
          Point(k + "view direction", x.viewDirection, y.viewDirection);
          Real(k + "view height", x.viewHeight, y.viewHeight);
          Angle(k + "twist", x.twist, y.twist);
          std::vector<std::string> xs, ys;
          for (std::int32_t layer : x.frozenLayers) xs.push_back(LayerName(e, layer));
          for (std::int32_t layer : y.frozenLayers) ys.push_back(LayerName(a, layer));
          std::sort(xs.begin(), xs.end());
          std::sort(ys.begin(), ys.end());
          if (xs != ys)
            Note(k + "frozen layers",
                 std::to_string(xs.size()) + " vs " + std::to_string(ys.size()));
          Same(k + "clip entity", x.clipEntityIndex, y.clipEntityIndex);
        }
      },
      xe.data);
}

}  // namespace

std::vector<CDifference> CompareModels(const Drawing& expected, const Drawing& actual) {
  CComparer comparer(expected, actual);
  return comparer.Run();
}

}  // namespace modeltest
