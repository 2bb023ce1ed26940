// libFuzzer entry point for the DXF reader. Besides crashes, leaks and undefined behaviour it
// stops on a model that breaks the promises the renderer relies on (every index in range).
// Built and run by run.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drawing/DxfReader.h"

namespace {

using namespace drawing;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "model invariant broken: %s\n", what);
  std::abort();
}

void Check(bool condition, const char* what) {
  if (!condition) Broken(what);
}

template <typename T>
bool InRange(std::int32_t index, const std::vector<T>& list) {
  return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

void CheckEntity(const Drawing& d, const Block& block, const Entity& e) {
  Check(InRange(e.layer, d.layers), "entity layer");
  Check(e.linetype == kLinetypeByLayer || e.linetype == kLinetypeByBlock ||
            e.linetype == kLinetypeContinuous || InRange(e.linetype, d.linetypes),
        "entity linetype");
  Check(e.color.index >= 0 && e.color.index <= 257, "entity colour");
  Check(e.lineweight >= -3 && e.lineweight <= 211, "entity lineweight");
  if (const auto* text = std::get_if<Text>(&e.data)) {
    Check(InRange(text->style, d.textStyles), "text style");
  }
  if (const auto* mtext = std::get_if<MText>(&e.data)) {
    Check(InRange(mtext->style, d.textStyles), "mtext style");
    Check(mtext->attachment >= 1 && mtext->attachment <= 9, "mtext attachment");
  }
  if (const auto* insert = std::get_if<Insert>(&e.data)) {
    Check(insert->block == -1 || InRange(insert->block, d.blocks), "insert block");
    Check(insert->columns >= 1 && insert->rows >= 1, "insert grid");
    for (const Entity& attribute : insert->attributes) {
      Check(attribute.type == EntityType::Attribute, "attribute type");
      CheckEntity(d, block, attribute);
    }
  }
  if (const auto* graphic = std::get_if<BlockGraphic>(&e.data)) {
    Check(graphic->block == -1 || InRange(graphic->block, d.blocks), "block graphic");
  }
  if (const auto* image = std::get_if<Image>(&e.data)) {
    Check(image->imageDef == -1 || InRange(image->imageDef, d.imageDefs), "image definition");
  }
  if (const auto* viewport = std::get_if<Viewport>(&e.data)) {
    Check(viewport->clipEntityIndex == -1 || InRange(viewport->clipEntityIndex, block.entities),
          "viewport clip");
    for (std::int32_t layer : viewport->frozenLayers) {
      Check(InRange(layer, d.layers), "viewport frozen layer");
    }
  }
  if (const auto* polyline = std::get_if<Polyline>(&e.data)) {
    const auto count = static_cast<int>(polyline->vertices.size());
    for (const auto& face : polyline->faces) {
      for (int index : face) Check(index != 0 && index >= -count && index <= count, "face index");
    }
    Check(static_cast<long long>(polyline->meshM) * polyline->meshN <= count, "mesh size");
  }
  auto checkSpline = [](const Spline& spline) {
    Check(spline.degree >= 1, "spline degree");
    Check(spline.knots.empty() ||
              spline.knots.size() == spline.controlPoints.size() + spline.degree + 1,
          "spline knots");
    Check(spline.weights.empty() || spline.weights.size() == spline.controlPoints.size(),
          "spline weights");
  };
  if (const auto* spline = std::get_if<Spline>(&e.data)) checkSpline(*spline);
  if (const auto* hatch = std::get_if<Hatch>(&e.data)) {
    for (const HatchPath& path : hatch->paths) {
      for (const HatchEdge& edge : path.edges) {
        if (edge.kind == HatchEdge::SplineEdge) checkSpline(edge.spline);
      }
    }
  }
}

void CheckDrawing(const Drawing& d) {
  Check(!d.layers.empty() && d.layers[0].name == "0", "layer 0");
  Check(!d.textStyles.empty(), "text style Standard");
  Check(d.blocks.size() >= 2, "model and paper space");
  Check(!d.layouts.empty() && d.layouts[0].isModel && d.layouts[0].block == 0, "model layout");
  Check(InRange(d.activeLayout, d.layouts), "active layout");
  for (const Layout& layout : d.layouts) {
    Check(layout.block == -1 || InRange(layout.block, d.blocks), "layout block");
  }
  for (const Layer& layer : d.layers) {
    Check(layer.linetype == kLinetypeContinuous || layer.linetype == kLinetypeByLayer ||
              layer.linetype == kLinetypeByBlock || InRange(layer.linetype, d.linetypes),
          "layer linetype");
    Check(layer.color.index >= 1 && layer.color.index <= 255, "layer colour");
  }
  for (const Block& block : d.blocks) {
    for (const Entity& e : block.entities) CheckEntity(d, block, e);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Drawing drawing;
  std::string error;
  const bool read =
      ReadDxf(std::string_view(reinterpret_cast<const char*>(data), size), drawing, &error);
  Check(error.find('\n') == std::string::npos, "error is one line");
  if (read) CheckDrawing(drawing);
  return 0;
}
