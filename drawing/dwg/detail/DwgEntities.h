#pragma once

// Fills model entities from DWG entity objects. Private to the DWG reader.

#include <cstdint>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dwg/detail/DwgReaderContext.h"

namespace drawing::dwg::detail {

// What an entity says beyond itself, for the block reader to finish.
struct CDwgEntityInfo {
  // INSERT with attributes, old-style POLYLINE with vertices: the owned entities, as a chain
  // (R13–R2000: first and last, linked by their next handles) or a list (R2004+).
  bool hasChildren = false;
  std::uint64_t firstChild = 0, lastChild = 0;
  std::vector<std::uint64_t> children;
  std::uint64_t clipBoundary = 0;  // VIEWPORT: the entity that clips it
  bool clipCandidate = false;      // an entity that can clip a viewport
  // POLYLINE: the flags in DXF form (8 3D, 16 mesh, 64 polyface) and the mesh sizes.
  int polylineFlags = 0;
  int meshM = 0, meshN = 0, smoothM = 0, smoothN = 0, smoothType = 0;
  // MTEXT in columns before R2018: the MTEXT entities that hold its further columns, each with
  // its column's share of the text, and the width of a column.
  std::vector<std::uint64_t> linkedColumns;
  double columnWidth = 0.0;
};

enum class CDwgEntityResult {
  Stored,    // `entity` holds a drawable entity
  NotDrawn,  // a known entity that is not drawn (ATTDEF in a block, an invisible ATTRIB …)
  Skipped,   // a kind the model does not draw; counted under its name
  Damaged,   // the entity could not be read
};

// Reads the entity framed in `frame` (its common part read into `common` first). Blocks other
// than model and paper space are definitions (`inDefinition`), whose ATTDEFs are not drawn.
// `name` gets the kind's name for skippedTypes.
CDwgEntityResult ReadDwgEntity(CDwgReaderContext& context, CDwgObjectFrame& frame,
                               const CDwgEntityCommon& common, bool inDefinition, Entity& entity,
                               CDwgEntityInfo& info, std::string& name);

// A vertex of an old-style POLYLINE, or a face record of a polyface mesh.
struct CDwgVertex {
  PolylineVertex vertex;
  int flags = 0;               // DXF group 70 of the vertex
  bool isFace = false;         // a polyface face record
  int face[4] = {0, 0, 0, 0};  // 1-based vertex indices, negative hides an edge
};

// Reads a VERTEX object; false when the frame holds no vertex or it is damaged.
bool ReadDwgVertex(CDwgReaderContext& context, CDwgObjectFrame& frame, CDwgVertex& vertex);

// Turns the vertices into the polyline's vertices, faces or mesh.
void FinishDwgPolyline(const CDwgEntityInfo& info, std::vector<CDwgVertex>& vertices,
                       Polyline& polyline);

}  // namespace drawing::dwg::detail
