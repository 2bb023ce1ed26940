#pragma once

// Reads DWG drawings (R1.4 to R2018) into the drawing model.

#include <string>
#include <string_view>

#include "drawing/Model.h"

namespace drawing {

// Reads a whole DWG file from memory into `drawing`, which is cleared first. The model is
// finished by FinishModel afterwards (ReadDrawing does both); what it is handed keeps every
// promise of CheckModel, so FinishModel only orders the layouts.
//
// True when the drawing was read. Objects that cannot be read (a damaged object, a broken
// chain of entities, a handle that leads nowhere) are left out and what was read around them
// is kept; `*error` then holds a one-line note on the first damage, and is empty for a sound
// file.
//
// False when the bytes are not a DWG file of a release this reader knows (R1.1 to R1.3 files
// are refused with the reason), when the file is protected by a password,
// or when damage left nothing to draw; `*error` then says why in one line. `error` may be
// null. Never throws.
//
// The model is the one the DXF reader gives for the same drawing (see DxfReader.h), with these
// choices where the DWG file stores more or less than a DXF file:
// - blocks[0] is *Model_Space and blocks[1] *Paper_Space; the other blocks follow in the
//   order of the block table. Layers, linetypes and text styles keep the order of their
//   tables, after layer "0", the linetypes ByBlock, ByLayer and Continuous and the text style
//   "Standard" that every drawing has.
// - Entities keep the order in which their block lists them. The first VIEWPORT of a paper
//   layout is its overall viewport (id 1), the others count on from 2.
// - A SPLINE the file keeps by its fit points alone has those fit points and the control points
//   and knots of the cubic through them (DXF files carry both).
// - A LEADER to a text or tolerance lists the start of its hook line before its last point,
//   as DXF files do; a polygonal clip boundary repeats its first point at its end.
// - Control characters in TEXT and MTEXT are kept in DXF's caret notation ("^J"), and a caret
//   of MTEXT as "^ ".
// - Text is UTF-8: strings of files before R2007 are converted from the code page the file
//   header names; files before R10, and later ones that name none, are read in DOS code page
//   437.
//
// Files before R13 keep no objects: their model has no layouts (FinishModel gives them model
// space, and a paper layout when paper space holds entities, as for R12 DXF files), and
// - their block table's anonymous dimension blocks, all named "*D" there, are "*D" and their
//   table index, as DXF files of these releases name them; R1.x blocks are named in their
//   BLOCK records, and the repeated groups of R1.x (REPEAT … ENDREP) become anonymous blocks
//   "*U1", "*U2" … placed as a grid of copies;
// - R1.x layers are the numbered layers "0" to "127" that entities use, with the colours of
//   the header;
// - files without a viewport table (before R10) take the active view from the header;
// - entities of the entities section that carry a viewport index lie in paper space;
// - SHAPE entities are counted as skipped.
bool ReadDwg(std::string_view bytes, Drawing& drawing, std::string* error);

}  // namespace drawing
