#pragma once

// Reads DWF drawings into the drawing model: DWF 6 packages ("(DWF V06.xx)" followed by a ZIP
// archive of a manifest, sheet descriptors, W2D graphics, pictures and fonts), classic
// single-stream DWF files ("(DWF V00.xx)") and bare W2D streams ("(W2D V06.00)").

#include <string>
#include <string_view>

#include "drawing/Model.h"

namespace drawing {

// Reads a whole DWF file from memory into `drawing`, which is cleared first. The model is
// finished by FinishModel afterwards (ReadDrawing does both).
//
// True when at least one sheet was read. Damage read around (a member of the package that
// cannot be read, a graphics stream that stops making sense) leaves a one-line note in *error;
// what was read before it stays. False when nothing printable was found: *error then says why
// in one line ("no printable 2D sheet" for a package of 3D models only, "the package's archive
// cannot be read: …"). `error` may be null. Never throws.
//
// What the model gets beyond Model.h's own comments:
// - Every 2D sheet (a package's ePlot sections in their plot order; the one sheet of a classic
//   file or bare stream) is a paper layout with its own block, named as the sheet. Its paper
//   (paperWidth, paperHeight in millimetres, paperUnits 0 for inches or 1 for millimetres, no
//   margins) is the sheet's, and its entities lie in paper units from the paper's lower-left
//   corner. Model space exists, holds nothing, and the drawing is sheetsOnly; $TILEMODE is 0, so
//   the first sheet is the active layout.
// - A sheet's graphics are clipped to the paper's printable area, and the graphics after a W2D
//   viewport to the viewport, by ClippedGroup entities.
// - W2D layers are the drawing's layers (by name; the layer "0" holds what no layer names).
//   Colours of the colour map are pens by their index; other colours are true colours with the
//   palette's nearest index. Line weights up to 2.11 mm are lineweights; wider lines are
//   polylines of that width. Filled polygons and contour sets are solid hatches, triangle
//   strips solids, circles and arcs circles and arcs, ellipses ellipses, Bézier curves cubic
//   splines, text texts in a style per font (its fontFile the W2D font name, " Bold" and
//   " Italic" added as the font asks), pictures images whose pixels the image definition holds.
// - A font the package embeds is the embeddedFont of a text style named as the font
//   (canonicalName), added when no stream's text uses it yet.
// - Opcodes and kinds read but not drawn are counted in skippedTypes: unknown extended opcodes
//   by name ("(Embed)", "{0x0027}"), macro drawings, pictures that cannot be drawn.
bool ReadDwf(std::string_view bytes, Drawing& drawing, std::string* error);

}  // namespace drawing
