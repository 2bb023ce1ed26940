#pragma once

// The graphics a drawing keeps for an entity that only its own application can draw: proxy
// entities and the custom classes of vertical applications (walls, doors, stairs …). They are a
// list of little-endian records, each its size and type, that draw lines, polylines, polygons,
// circles, arcs, text and meshes and set the layer, colour, linetype and lineweight of what
// follows. DWG and DXF files hold the same bytes; both readers turn them into ordinary model
// entities here, so that the renderer draws them as it draws any other.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"

namespace drawing {

// What the records refer to, from the drawing being read.
struct CProxyGraphicsTables {
  // The model's layer for each layer of the file's table, in the order the file lists them
  // (the records name a layer by that position); -1 for an entry that was not read.
  std::vector<std::int32_t> layers;
  // The same for linetypes, without ByBlock and ByLayer.
  std::vector<std::int32_t> linetypes;
  // The drawing's text styles, to find one for the font a text record names; "Standard"
  // (standardStyle) when none uses it.
  const std::vector<TextStyle>* textStyles = nullptr;
  std::int32_t standardStyle = 0;
  // Turns a string of the file's code page (the 8-bit text records) into UTF-8.
  std::function<std::string(std::string_view)> decodeText;
  // The form of the LWPOLYLINE records, which hold the entity's bit-coded data as the file's
  // release writes it: R13 and R14 store every vertex in full, R2010 and later may list
  // vertex identifiers.
  bool fullVertices = false;
  bool vertexIds = false;
};

struct CProxyGraphicsResult {
  std::size_t entities = 0;  // entities appended
  // What the records hold that is not drawn, by kind ("proxy clip boundary" …), for the
  // drawing's list of skipped kinds.
  std::map<std::string, int> skipped;
  // The data ended inside a record, or a record broke its own size; what came before is kept.
  bool damaged = false;
};

// At most this many entities come of the graphics of one entity; the rest is counted as
// skipped ("proxy graphics past the limit").
inline constexpr std::size_t kMaxProxyEntities = 100000;

// Decodes the graphics of one entity (`bytes`: the total size, the record count and the
// records) into entities appended to `out`. Each starts with the properties of `base` (the
// entity the graphics belong to: its layer, colour, linetype, lineweight, linetype scale,
// visibility) as changed by the records before it; ByBlock in a record means `base`'s value.
// Points are in the coordinates of the block that holds `base`. Never throws but
// std::bad_alloc.
CProxyGraphicsResult DecodeProxyGraphics(std::string_view bytes, const Entity& base,
                                         const CProxyGraphicsTables& tables,
                                         std::vector<Entity>& out);

}  // namespace drawing
