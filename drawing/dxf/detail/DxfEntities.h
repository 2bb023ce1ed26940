#pragma once

// Fills model entities from the groups of one DXF entity record. Private to the DXF reader.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dxf/detail/DxfReaderContext.h"
#include "drawing/dxf/detail/DxfTokenizer.h"

namespace drawing::detail {

// What a record says beyond the entity itself, for the reader to finish later.
struct DxfEntityInfo {
  bool paperSpace = false;         // group 67 is 1
  std::uint64_t handle = 0;        // group 5
  std::uint64_t imageDef = 0;      // IMAGE: the IMAGEDEF object (340)
  std::uint64_t clipBoundary = 0;  // VIEWPORT: the entity that clips it (340)
  bool clipCandidate = false;      // an entity that can clip a viewport
  // POLYLINE: what its VERTEX records need.
  int polylineFlags = 0;
  double defaultStartWidth = 0.0, defaultEndWidth = 0.0;
  int meshM = 0, meshN = 0, smoothM = 0, smoothN = 0, smoothType = 0;
  // MLINE: its MLINESTYLE object (340) and the style's name (2).
  std::uint64_t mlineStyle = 0;
  std::string mlineStyleName;
  // PDFUNDERLAY and the like: the definition object (340).
  std::uint64_t underlayDefinition = 0;
  // Its named plot style: the placeholder object the style's name leads to (390).
  std::uint64_t plotStyle = 0;
  // MTEXT in columns of files before R2018: the MTEXT entities that hold its further columns
  // (extended data "ACAD_MTEXT_COLUMNS"), each with its column's share of the text.
  std::vector<std::uint64_t> linkedColumns;
};

enum class DxfEntityResult {
  Stored,    // `entity` holds a drawable entity
  NotDrawn,  // a known record that is not drawn (ATTDEF in a block, an invisible ATTRIB …)
  Unknown,   // a type this reader does not draw
};

// Parses one entity record: `type` is its group 0 name, `groups` the groups after it.
DxfEntityResult ParseDxfEntity(CDxfReaderContext& context, std::string_view type,
                               std::span<const DxfGroup> groups, Entity& entity,
                               DxfEntityInfo& info);

// The proxy graphics of an entity record of a type this reader does not draw (an
// ACAD_PROXY_ENTITY keeps them in its own data, other entities in their common part: a size in
// group 92 or 160, then the bytes in 310 groups): its common properties into `base` and the
// bytes into `graphics`. False when the record keeps none.
bool ParseDxfProxyGraphics(CDxfReaderContext& context, std::string_view type,
                           std::span<const DxfGroup> groups, Entity& base, DxfEntityInfo& info,
                           std::string& graphics);

// A VERTEX record of an old-style POLYLINE.
struct DxfVertex {
  PolylineVertex vertex;
  int flags = 0;
  int face[4] = {0, 0, 0, 0};  // polyface face records: 1-based indices, negative hides an edge
  bool hasStartWidth = false, hasEndWidth = false;
};
void ParseDxfVertex(std::span<const DxfGroup> groups, DxfVertex& vertex);

// Turns the collected VERTEX records into the polyline's vertices, faces or mesh.
void FinishDxfPolyline(const DxfEntityInfo& info, std::vector<DxfVertex>& vertices,
                       Polyline& polyline);

// The index of the first group of the entity's own data: the groups before it (the common
// part, subclass AcDbEntity) hold layer, colour and the like. 0 for files without subclass
// markers, where every group is both.
std::size_t DxfSpecificStart(std::span<const DxfGroup> groups);

// The x axis of an entity's coordinate system for its extrusion direction (the arbitrary axis
// algorithm of the drawing format).
Vec3 DxfOcsXAxis(const Vec3& extrusion);

}  // namespace drawing::detail
