#include "drawing/Model.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "platform/Ascii.h"

namespace drawing {

namespace {

template <typename T>
bool InRange(std::int32_t index, const std::vector<T>& list) {
  return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

bool IsLinetypeReference(std::int32_t linetype, const Drawing& drawing) {
  return linetype == kLinetypeByLayer || linetype == kLinetypeByBlock ||
         linetype == kLinetypeContinuous || InRange(linetype, drawing.linetypes);
}

bool MeshIsSound(const Polyline& polyline) {
  return polyline.meshM >= 0 && polyline.meshN >= 0 &&
         static_cast<long long>(polyline.meshM) * polyline.meshN <=
             static_cast<long long>(polyline.vertices.size());
}

bool SplineIsSound(const Spline& spline) {
  return spline.degree >= 1 &&
         (spline.knots.empty() ||
          spline.knots.size() == spline.controlPoints.size() + spline.degree + 1) &&
         (spline.weights.empty() || spline.weights.size() == spline.controlPoints.size());
}

// Calls visit on the entity, the attributes of a block reference and the members of a clipped
// group, with the block that holds them.
template <class BlockT, class EntityT, class Visit>
void VisitEntity(BlockT& block, EntityT& entity, Visit& visit) {
  visit(block, entity);
  if (auto* insert = std::get_if<Insert>(&entity.data)) {
    for (auto& attribute : insert->attributes) visit(block, attribute);
  } else if (auto* group = std::get_if<ClippedGroup>(&entity.data)) {
    for (auto& member : group->entities) VisitEntity(block, member, visit);
  }
}

// Calls visit on every entity of the drawing (see VisitEntity).
template <class DrawingT, class Visit>
void ForEachEntity(DrawingT& drawing, Visit visit) {
  for (auto& block : drawing.blocks) {
    for (auto& entity : block.entities) VisitEntity(block, entity, visit);
  }
}

// ---- Finishing --------------------------------------------------------------------------

// Puts layer "0" first, renumbering every reference to a layer, or adds it when it is missing.
void PutLayerZeroFirst(Drawing& drawing) {
  if (!drawing.layers.empty() && drawing.layers[0].name == "0") return;
  const auto found = std::find_if(drawing.layers.begin(), drawing.layers.end(),
                                  [](const Layer& layer) { return layer.name == "0"; });
  const auto count = static_cast<std::int32_t>(drawing.layers.size());
  const std::int32_t zero = found == drawing.layers.end()
                                ? -1
                                : static_cast<std::int32_t>(found - drawing.layers.begin());
  // New index of every old one: layer 0 moves to the front, the others keep their order.
  std::vector<std::int32_t> remap(static_cast<std::size_t>(count));
  std::int32_t next = 1;
  for (std::int32_t i = 0; i < count; ++i)
    remap[static_cast<std::size_t>(i)] = i == zero ? 0 : next++;
  std::vector<Layer> layers;
  layers.reserve(static_cast<std::size_t>(count) + 1);
  if (zero >= 0) {
    layers.push_back(std::move(drawing.layers[static_cast<std::size_t>(zero)]));
  } else {
    layers.emplace_back().name = "0";
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (i != zero) layers.push_back(std::move(drawing.layers[static_cast<std::size_t>(i)]));
  }
  drawing.layers = std::move(layers);
  const auto map = [&remap](std::int32_t& layer) {
    if (layer >= 0 && static_cast<std::size_t>(layer) < remap.size()) {
      layer = remap[static_cast<std::size_t>(layer)];
    }
  };
  ForEachEntity(drawing, [&](Block&, Entity& entity) {
    map(entity.layer);
    if (auto* viewport = std::get_if<Viewport>(&entity.data)) {
      for (std::int32_t& layer : viewport->frozenLayers) map(layer);
    }
  });
}

void AddMissingTables(Drawing& drawing) {
  PutLayerZeroFirst(drawing);
  const bool hasStandard = std::any_of(
      drawing.textStyles.begin(), drawing.textStyles.end(),
      [](const TextStyle& style) { return EqualsIgnoringCase(style.name, "Standard"); });
  if (!hasStandard) {
    TextStyle standard;
    standard.name = "Standard";
    standard.fontFile = "txt";
    drawing.textStyles.push_back(std::move(standard));
  }
  if (drawing.blocks.size() < 2) {
    drawing.blocks.resize(2);
    drawing.blocks[0].name = "*Model_Space";
    drawing.blocks[1].name = "*Paper_Space";
  }
}

std::int32_t StandardStyle(const Drawing& drawing) {
  for (std::size_t i = 0; i < drawing.textStyles.size(); ++i) {
    if (EqualsIgnoringCase(drawing.textStyles[i].name, "Standard"))
      return static_cast<std::int32_t>(i);
  }
  return 0;
}

// Model space first, then the paper layouts by tab order; the first layout of model space is
// kept and any other dropped. A drawing that names no layouts at all gets model space and, when
// paper space holds entities, one paper layout on the header's paper limits.
void OrderLayouts(Drawing& drawing) {
  const Header& header = drawing.header;
  const bool namedNone = drawing.layouts.empty();
  std::vector<Layout> read = std::move(drawing.layouts);
  std::vector<Layout>& result = drawing.layouts;
  result.clear();
  std::vector<Layout> papers;
  bool haveModel = false;
  for (Layout& layout : read) {
    const bool model = layout.isModel || layout.block == 0 ||
                       (layout.block < 0 && EqualsIgnoringCase(layout.name, "Model"));
    if (model) {
      if (haveModel) continue;
      haveModel = true;
      layout.isModel = true;
      layout.block = 0;
      if (layout.name.empty()) layout.name = "Model";
      result.insert(result.begin(), std::move(layout));
    } else {
      if (layout.name.empty()) layout.name = "Layout" + std::to_string(papers.size() + 1);
      papers.push_back(std::move(layout));
    }
  }
  if (!haveModel) {
    Layout model;
    model.name = "Model";
    model.isModel = true;
    model.block = 0;
    model.limitsMin = header.limMin;
    model.limitsMax = header.limMax;
    model.extentsMin = header.extMin;
    model.extentsMax = header.extMax;
    result.insert(result.begin(), std::move(model));
  }
  std::stable_sort(papers.begin(), papers.end(),
                   [](const Layout& a, const Layout& b) { return a.tabOrder < b.tabOrder; });
  if (namedNone && !drawing.blocks[1].entities.empty()) {
    Layout paper;
    paper.name = "Layout1";
    paper.tabOrder = 1;
    paper.block = 1;
    paper.limitsMin = header.pLimMin;
    paper.limitsMax = header.pLimMax;
    paper.extentsMin = header.pExtMin;
    paper.extentsMax = header.pExtMax;
    papers.push_back(std::move(paper));
  }
  for (Layout& paper : papers) result.push_back(std::move(paper));

  drawing.activeLayout = 0;
  if (header.tileMode != 1) {
    for (std::size_t i = 1; i < result.size(); ++i) {
      if (result[i].block == 1) {
        drawing.activeLayout = static_cast<std::int32_t>(i);
        break;
      }
    }
    if (drawing.activeLayout == 0 && result.size() > 1) drawing.activeLayout = 1;
  }
}

// A table's block is normally drawn like a block reference at the table's insertion point,
// with the table's top left corner at the block's origin. Some programs write the block in
// world coordinates instead; then the insertion point lies on the block's geometry and the
// origin does not, and the block must be drawn where it is.
void PlaceTables(Drawing& drawing) {
  struct Box {
    bool known = false;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  };
  std::vector<Box> boxes;  // of the tables' blocks, made once per block
  for (Block& block : drawing.blocks) {
    for (Entity& entity : block.entities) {
      auto* table = std::get_if<Table>(&entity.data);
      if (!table || !InRange(table->block, drawing.blocks)) continue;
      if (boxes.empty()) boxes.resize(drawing.blocks.size());
      Box& box = boxes[static_cast<std::size_t>(table->block)];
      if (!box.known) {
        box.known = true;
        for (const Entity& part : drawing.blocks[static_cast<std::size_t>(table->block)].entities) {
          if (const auto* line = std::get_if<Line>(&part.data)) {
            for (const Vec3& p : {line->start, line->end}) {
              box.minX = std::min(box.minX, p.x);
              box.minY = std::min(box.minY, p.y);
              box.maxX = std::max(box.maxX, p.x);
              box.maxY = std::max(box.maxY, p.y);
            }
          }
        }
      }
      const double minX = box.minX, minY = box.minY, maxX = box.maxX, maxY = box.maxY;
      if (minX > maxX) continue;
      const double tolerance =
          1e-6 * std::max({1.0, maxX - minX, maxY - minY, std::abs(table->insertion.x),
                           std::abs(table->insertion.y)});
      auto touches = [&](double x, double y) {
        return x >= minX - tolerance && x <= maxX + tolerance && y >= minY - tolerance &&
               y <= maxY + tolerance;
      };
      if (touches(table->insertion.x, table->insertion.y) && !touches(0.0, 0.0)) {
        table->insertion = Vec3{};
      }
    }
  }
}

// ---- The promises, checked or kept -------------------------------------------------------

// Lists the broken promises of a drawing it is shown.
class CChecker {
 public:
  template <typename T, typename U>
  void Expect(bool valid, const char* what, const T&, U) {
    if (!valid) Note(what);
  }
  template <typename List, typename Predicate>
  void ExpectNone(const List& list, Predicate broken, const char* what) {
    if (std::any_of(list.begin(), list.end(), broken)) Note(what);
  }
  void ExpectSound(const Spline& spline, const char* what) {
    if (!SplineIsSound(spline)) Note(what);
  }
  void ExpectMesh(const Polyline& polyline, const char* what) {
    if (!MeshIsSound(polyline)) Note(what);
  }
  void ExpectNoAttribute(const Entity& entity, const char* what) {
    if (entity.Is<Attribute>()) Note(what);
  }

  std::string where;  // the block being looked at
  std::vector<std::string> broken;

 private:
  void Note(const char* what) { broken.push_back(std::string(what) + where); }
};

// Keeps the promises of a drawing it is shown, counting what it mends: a reader that resolves
// everything itself leaves it nothing to do.
class CMender {
 public:
  template <typename T, typename U>
  void Expect(bool valid, const char*, T& value, U fallback) {
    if (valid) return;
    value = static_cast<T>(fallback);
    ++count;
  }
  template <typename List, typename Predicate>
  void ExpectNone(List& list, Predicate broken, const char*) {
    count += static_cast<int>(std::erase_if(list, broken));
  }
  void ExpectSound(Spline& spline, const char*) {
    if (SplineIsSound(spline)) return;
    if (spline.degree < 1) spline.degree = 1;
    if (!spline.knots.empty() &&
        spline.knots.size() != spline.controlPoints.size() + spline.degree + 1) {
      spline.knots.clear();
    }
    if (!spline.weights.empty() && spline.weights.size() != spline.controlPoints.size()) {
      spline.weights.clear();
    }
    ++count;
  }
  void ExpectMesh(Polyline& polyline, const char*) {
    if (MeshIsSound(polyline)) return;
    polyline.meshM = polyline.meshN = 0;
    ++count;
  }
  // An attribute outside a block reference's list is drawn as the text it is.
  void ExpectNoAttribute(Entity& entity, const char*) {
    if (!entity.Is<Attribute>()) return;
    entity.data = Text{std::get<Attribute>(entity.data)};
    ++count;
  }

  int count = 0;
};

// The promises of one entity, shown to a checker (const entity) or a mender. An attribute is
// an entity of a block reference's attribute list; `standard` is the index of "Standard".
template <typename EntityT, typename Inspector>
void InspectEntity(const Drawing& d, const Block& block, EntityT& e, bool isAttribute,
                   std::int32_t standard, Inspector& inspect) {
  inspect.Expect(InRange(e.layer, d.layers), "entity layer out of range", e.layer, 0);
  inspect.Expect(IsLinetypeReference(e.linetype, d), "entity linetype out of range", e.linetype,
                 kLinetypeByLayer);
  inspect.Expect(e.color.index >= 0 && e.color.index <= 257, "entity colour index out of range",
                 e.color.index, Color::kByLayer);
  inspect.Expect(e.lineweight >= kLineweightDefault && e.lineweight <= 211,
                 "entity lineweight out of range", e.lineweight, kLineweightByLayer);
  inspect.Expect(e.plotStyle == kPlotStyleByLayer || InRange(e.plotStyle, d.plotStyleNames),
                 "entity plot style out of range", e.plotStyle, kPlotStyleByLayer);
  if (!isAttribute) inspect.ExpectNoAttribute(e, "attribute outside a block reference");
  std::visit(
      [&](auto& data) {
        using Kind = std::remove_const_t<std::remove_reference_t<decltype(data)>>;
        if constexpr (std::is_base_of_v<Text, Kind>) {
          inspect.Expect(InRange(data.style, d.textStyles), "text style out of range", data.style,
                         standard);
        } else if constexpr (std::is_same_v<Kind, MText>) {
          inspect.Expect(InRange(data.style, d.textStyles), "mtext style out of range", data.style,
                         standard);
          inspect.Expect(data.attachment >= 1 && data.attachment <= 9,
                         "mtext attachment out of range", data.attachment, 1);
          inspect.Expect(data.columnType >= 0 && data.columnType <= 2,
                         "mtext column type out of range", data.columnType, 0);
        } else if constexpr (std::is_same_v<Kind, Insert>) {
          inspect.Expect(data.block == -1 || InRange(data.block, d.blocks),
                         "insert block out of range", data.block, -1);
          inspect.Expect(data.columns >= 1, "insert grid empty", data.columns, 1);
          inspect.Expect(data.rows >= 1, "insert grid empty", data.rows, 1);
          inspect.ExpectNone(
              data.attributes, [](const Entity& a) { return !a.Is<Attribute>(); },
              "a block reference's attribute that is no attribute");
          for (auto& attribute : data.attributes) {
            InspectEntity(d, block, attribute, true, standard, inspect);
          }
        } else if constexpr (std::is_base_of_v<BlockGraphic, Kind>) {
          inspect.Expect(data.block == -1 || InRange(data.block, d.blocks),
                         "block graphic out of range", data.block, -1);
        } else if constexpr (std::is_base_of_v<Image, Kind>) {
          inspect.Expect(data.imageDef == -1 || InRange(data.imageDef, d.imageDefs),
                         "image definition out of range", data.imageDef, -1);
          inspect.Expect(data.brightness >= 0 && data.brightness <= 100,
                         "image brightness out of range", data.brightness, 50);
          inspect.Expect(data.contrast >= 0 && data.contrast <= 100, "image contrast out of range",
                         data.contrast, 50);
          inspect.Expect(data.fade >= 0 && data.fade <= 100, "image fade out of range", data.fade,
                         0);
        } else if constexpr (std::is_same_v<Kind, Viewport>) {
          inspect.Expect(
              data.clipEntityIndex == -1 || InRange(data.clipEntityIndex, block.entities),
              "viewport clip entity out of range", data.clipEntityIndex, -1);
          inspect.ExpectNone(
              data.frozenLayers, [&](std::int32_t layer) { return !InRange(layer, d.layers); },
              "viewport frozen layer out of range");
        } else if constexpr (std::is_same_v<Kind, Polyline>) {
          const auto count = static_cast<int>(data.vertices.size());
          inspect.ExpectNone(
              data.faces,
              [count](const std::vector<int>& face) {
                return std::any_of(face.begin(), face.end(), [count](int index) {
                  return index == 0 || index < -count || index > count;
                });
              },
              "polyface index out of range");
          inspect.ExpectMesh(data, "polygon mesh larger than its vertices");
        } else if constexpr (std::is_same_v<Kind, ClippedGroup>) {
          for (auto& member : data.entities) {
            InspectEntity(d, block, member, false, standard, inspect);
          }
        } else if constexpr (std::is_same_v<Kind, MLeader>) {
          inspect.Expect(data.arrowBlock == -1 || InRange(data.arrowBlock, d.blocks),
                         "multileader arrowhead block out of range", data.arrowBlock, -1);
          inspect.Expect(data.block->block == -1 || InRange(data.block->block, d.blocks),
                         "multileader block out of range", data.block->block, -1);
          inspect.Expect(InRange(data.text->style, d.textStyles),
                         "multileader text style out of range", data.text->style, standard);
          inspect.Expect(data.text->attachment >= 1 && data.text->attachment <= 9,
                         "multileader text attachment out of range", data.text->attachment, 1);
          inspect.Expect(data.leaderType >= 0 && data.leaderType <= 2,
                         "multileader leader type out of range", data.leaderType, 1);
          inspect.Expect(IsLinetypeReference(data.lineLinetype, d),
                         "multileader linetype out of range", data.lineLinetype, kLinetypeByBlock);
          for (auto& branch : data.branches) {
            for (auto& line : branch.lines) {
              inspect.Expect(IsLinetypeReference(line.linetype, d),
                             "multileader line linetype out of range", line.linetype,
                             kLinetypeByBlock);
            }
          }
        } else if constexpr (std::is_same_v<Kind, MLine>) {
          inspect.Expect(data.style == -1 || InRange(data.style, d.mlineStyles),
                         "mline style out of range", data.style, -1);
        } else if constexpr (std::is_same_v<Kind, Mesh>) {
          const auto count = static_cast<int>(data.vertices.size());
          inspect.ExpectNone(
              data.faces,
              [count](const std::vector<int>& face) {
                return std::any_of(face.begin(), face.end(),
                                   [count](int index) { return index < 0 || index >= count; });
              },
              "mesh face index out of range");
          inspect.ExpectNone(
              data.edges,
              [count](const std::pair<int, int>& edge) {
                return edge.first < 0 || edge.first >= count || edge.second < 0 ||
                       edge.second >= count;
              },
              "mesh edge index out of range");
        } else if constexpr (std::is_same_v<Kind, Tolerance>) {
          inspect.Expect(InRange(data.style, d.textStyles), "tolerance text style out of range",
                         data.style, standard);
        } else if constexpr (std::is_same_v<Kind, Spline>) {
          inspect.ExpectSound(data, "spline knots or weights do not match");
        } else if constexpr (std::is_same_v<Kind, Hatch>) {
          for (auto& color : data.gradientFill.colors) {
            inspect.Expect(color.index >= 0 && color.index <= 257,
                           "gradient colour index out of range", color.index, 7);
          }
          for (auto& path : data.paths) {
            for (auto& edge : path.edges) {
              if (edge.kind == HatchEdge::SplineEdge) {
                inspect.ExpectSound(edge.spline, "hatch spline knots or weights do not match");
              }
            }
          }
        }
      },
      e.data);
}

// The promises of the whole drawing but its baseline tables, shown to a checker or a mender.
template <typename DrawingT, typename Inspector>
void InspectReferences(DrawingT& d, Inspector& inspect) {
  for (auto& layer : d.layers) {
    inspect.Expect(IsLinetypeReference(layer.linetype, d), "layer linetype out of range",
                   layer.linetype, kLinetypeContinuous);
    inspect.Expect(layer.color.index >= 1 && layer.color.index <= 255,
                   "layer colour index out of range", layer.color.index, 7);
    inspect.Expect(layer.plotStyle == -1 || InRange(layer.plotStyle, d.plotStyleNames),
                   "layer plot style out of range", layer.plotStyle, -1);
  }
  for (auto& style : d.mlineStyles) {
    for (auto& element : style.elements) {
      inspect.Expect(IsLinetypeReference(element.linetype, d), "mline style linetype out of range",
                     element.linetype, kLinetypeByLayer);
      inspect.Expect(element.color.index >= 0 && element.color.index <= 257,
                     "mline style colour index out of range", element.color.index, Color::kByLayer);
    }
  }
  for (auto& layout : d.layouts) {
    inspect.Expect(layout.block == -1 || InRange(layout.block, d.blocks),
                   "layout block out of range", layout.block, -1);
  }
  inspect.Expect(InRange(d.activeLayout, d.layouts), "active layout out of range", d.activeLayout,
                 0);
  const std::int32_t standard = StandardStyle(d);
  for (auto& linetype : d.linetypes) {
    const std::size_t dashes = linetype.dashes.size();
    inspect.ExpectNone(
        linetype.shapes, [dashes](const LinetypeShape& shape) { return shape.dash >= dashes; },
        "linetype shape at a dash the linetype does not have");
    for (auto& shape : linetype.shapes) {
      if (shape.isText) {
        inspect.Expect(InRange(shape.style, d.textStyles), "linetype text style out of range",
                       shape.style, standard);
      }
    }
  }
  for (auto& block : d.blocks) {
    if constexpr (std::is_same_v<Inspector, CChecker>)
      inspect.where = " (block " + block.name + ")";
    for (auto& entity : block.entities) InspectEntity(d, block, entity, false, standard, inspect);
  }
}

}  // namespace

const std::int32_t* ReferencedBlock(const Entity& entity) {
  if (const auto* insert = std::get_if<Insert>(&entity.data)) return &insert->block;
  if (const auto* dimension = std::get_if<Dimension>(&entity.data)) return &dimension->block;
  if (const auto* table = std::get_if<Table>(&entity.data)) return &table->block;
  return nullptr;
}

void StoreMLineBreaks(MLineVertex& vertex, std::vector<double> parameters) {
  if (vertex.offsets.empty()) return;
  const bool whole = parameters.empty() || (parameters.size() == 1 && parameters[0] == 0);
  if (whole && vertex.breaks.empty()) return;
  vertex.breaks.resize(vertex.offsets.size() - 1);
  if (whole) parameters.clear();
  vertex.breaks.push_back(std::move(parameters));
}

std::int32_t SheetViewportIndex(const Block& paper) {
  std::int32_t first = -1;
  for (std::size_t i = 0; i < paper.entities.size(); ++i) {
    const auto* viewport = std::get_if<Viewport>(&paper.entities[i].data);
    if (!viewport) continue;
    if (viewport->id == 1) return static_cast<std::int32_t>(i);
    if (first < 0) first = static_cast<std::int32_t>(i);
  }
  if (first < 0) return -1;
  const int id = std::get<Viewport>(paper.entities[static_cast<std::size_t>(first)].data).id;
  return id <= 0 ? first : -1;
}

std::int32_t* ReferencedBlock(Entity& entity) {
  return const_cast<std::int32_t*>(ReferencedBlock(static_cast<const Entity&>(entity)));
}

HatchGradient::Kind GradientKindByName(std::string_view name) {
  static constexpr std::pair<std::string_view, HatchGradient::Kind> kKinds[] = {
      {"LINEAR", HatchGradient::Linear},
      {"CYLINDER", HatchGradient::Cylinder},
      {"INVCYLINDER", HatchGradient::InvCylinder},
      {"SPHERICAL", HatchGradient::Spherical},
      {"INVSPHERICAL", HatchGradient::InvSpherical},
      {"HEMISPHERICAL", HatchGradient::Hemispherical},
      {"INVHEMISPHERICAL", HatchGradient::InvHemispherical},
      {"CURVED", HatchGradient::Curved},
      {"INVCURVED", HatchGradient::InvCurved},
  };
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  // Gradients are also named with the prefix of their system variable ("GR_LINEAR").
  if (name.size() > 3 && EqualsIgnoringCase(name.substr(0, 3), "GR_")) name.remove_prefix(3);
  for (const auto& [known, kind] : kKinds) {
    if (EqualsIgnoringCase(name, known)) return kind;
  }
  return HatchGradient::Linear;
}

void ApplyDrawOrder(Block& block, const std::vector<std::uint64_t>& handles,
                    const std::vector<DrawOrderEntry>& table) {
  const std::size_t count = block.entities.size();
  if (table.empty() || handles.size() != count || count < 2) return;
  std::vector<DrawOrderEntry> sorted = table;
  std::sort(sorted.begin(), sorted.end(),
            [](const DrawOrderEntry& a, const DrawOrderEntry& b) { return a.entity < b.entity; });
  std::vector<std::uint64_t> keys(count);
  bool changes = false;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t handle = handles[k];
    if (handle == 0) {
      keys[k] = k > 0 ? keys[k - 1] : 0;
    } else {
      const auto found = std::lower_bound(
          sorted.begin(), sorted.end(), handle,
          [](const DrawOrderEntry& entry, std::uint64_t value) { return entry.entity < value; });
      keys[k] = found != sorted.end() && found->entity == handle ? found->sortKey : handle;
    }
    changes = changes || (k > 0 && keys[k] < keys[k - 1]);
  }
  if (!changes) return;
  std::vector<std::size_t> order(count);
  for (std::size_t k = 0; k < count; ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::vector<std::int32_t> newIndex(count);
  for (std::size_t k = 0; k < count; ++k) newIndex[order[k]] = static_cast<std::int32_t>(k);
  std::vector<Entity> entities;
  entities.reserve(count);
  for (const std::size_t k : order) entities.push_back(std::move(block.entities[k]));
  for (Entity& entity : entities) {
    if (auto* viewport = std::get_if<Viewport>(&entity.data)) {
      const std::int32_t clip = viewport->clipEntityIndex;
      if (clip >= 0 && static_cast<std::size_t>(clip) < count) {
        viewport->clipEntityIndex = newIndex[static_cast<std::size_t>(clip)];
      }
    }
  }
  block.entities = std::move(entities);
}

int FinishModel(Drawing& drawing) {
  AddMissingTables(drawing);
  OrderLayouts(drawing);
  PlaceTables(drawing);
  CMender mender;
  InspectReferences(drawing, mender);
  return mender.count;
}

std::vector<std::string> CheckModel(const Drawing& d) {
  CChecker checker;
  const auto check = [&checker](bool condition, const char* what) {
    if (!condition) checker.broken.emplace_back(what);
  };
  check(!d.layers.empty() && d.layers[0].name == "0", "layer 0 is not the first layer");
  check(std::any_of(
            d.textStyles.begin(), d.textStyles.end(),
            [](const TextStyle& style) { return EqualsIgnoringCase(style.name, "Standard"); }),
        "no text style Standard");
  check(d.blocks.size() >= 2, "no model and paper space blocks");
  check(!d.layouts.empty() && d.layouts[0].isModel && d.layouts[0].block == 0,
        "model space is not the first layout");
  for (std::size_t i = 1; i < d.layouts.size(); ++i) {
    check(!d.layouts[i].isModel, "a second model space layout");
  }
  InspectReferences(d, checker);
  return checker.broken;
}

bool SetMTextColumnSetting(MText& mtext, int code, double value) {
  switch (code) {
    case 75:
      mtext.columnType = std::clamp(static_cast<int>(value), 0, 2);
      return true;
    case 76:
      mtext.columnCount = std::clamp(static_cast<int>(value), 0, 1000);
      return true;
    case 78:
      mtext.columnFlowReversed = value != 0;
      return true;
    case 79:
      mtext.columnAutoHeight = value != 0;
      return true;
    case 48:
      mtext.columnWidth = std::max(0.0, value);
      return true;
    case 49:
      mtext.columnGutter = std::max(0.0, value);
      return true;
    default:
      return false;
  }
}

}  // namespace drawing
