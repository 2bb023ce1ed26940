#pragma once

// Reads DXF drawings (ASCII and binary, R12 to R2018) into the drawing model.

#include <string>
#include <string_view>

#include "drawing/Model.h"

namespace drawing {

// Reads a whole DXF file (ASCII or binary) from memory into `drawing`, which is cleared first.
// The model is finished by FinishModel afterwards (ReadDrawing does both).
//
// True when the drawing was read. Damaged parts (a bad number, a broken record, a file cut
// short) are skipped and what was read before and after them is kept; `*error` then holds a
// one-line note on the first damage, and is empty for an undamaged file.
//
// False when the bytes are not a DXF file, or when damage left nothing to draw; `*error` then
// names the section being read (header, classes, tables, blocks, entities, objects) and the
// place: "line N" of an ASCII file, "byte offset N" of a binary one. `drawing` then holds
// whatever was read. `error` may be null. Never throws.
//
// What the model gets beyond Model.h's own comments:
// - blocks[0] is *Model_Space and blocks[1] *Paper_Space, whatever the file calls them (R12
//   names them $MODEL_SPACE and $PAPER_SPACE). Entities of the ENTITIES section go to the
//   first, or to the second when their group 67 is 1.
// - A layer that is off (a negative colour in the file) has `off` set and keeps its colour
//   index positive. Layers named by entities but missing from the tables are created with
//   colour 7 and a continuous linetype; the layer "Defpoints" is never plottable. References to
//   blocks that the file does not define are -1. Unknown linetypes draw continuous; unknown text
//   styles are "Standard". Linetype entries ByBlock, ByLayer and Continuous always exist, but
//   entities and layers refer to them by kLinetypeByBlock, kLinetypeByLayer and
//   kLinetypeContinuous.
// - The vertices of 2D polylines (LWPOLYLINE, 2D POLYLINE, hatch boundaries) carry the
//   elevation as their z.
// - Spline knots are either empty (use clamped uniform knots) or exactly control points +
//   degree + 1 values; weights are either empty or one per control point. Polyface faces only
//   name existing vertices; a polygon mesh has meshM × meshN ≤ vertex count.
// - INSERT columns and rows are between 1 and 32767. Invisible ATTRIBs are left out, and so
//   are ATTDEFs inside blocks; an ATTDEF outside blocks is a Text showing its tag.
// - A HATCH is a gradient when its group 450 is not 0. MTEXT keeps its formatting codes and
//   "%%" codes; TEXT and ATTRIB have theirs replaced. The caret notation of control characters
//   ("^J") is left as stored.
// - An entity type the reader does not draw is counted in skippedTypes under a printable
//   form of its name.
// - Layouts as the LAYOUT objects give them, in file order, with their blocks (-1 for a block
//   the file does not define); none for a file without LAYOUT objects (R12).
bool ReadDxf(std::string_view bytes, Drawing& drawing, std::string* error);

}  // namespace drawing
