#pragma once

// The one way into the drawing model: reads a file once, recognises its format by its first
// bytes (never by its name), hands the bytes to that format's reader and finishes the model.

#include <string>
#include <string_view>

#include "drawing/Model.h"

namespace drawing {

enum class DrawingFormat {
  TextDxf,    // anything that is none of the others: a text DXF, or not a drawing at all
  BinaryDxf,  // "AutoCAD Binary DXF", CR, LF, SUB, NUL
  Dwg,        // "AC10xx" (R2.5 to R2018), "AC1.x" and "AC2.x" (the oldest releases)
  Dwf,        // "(DWF V" (packages and classic sheets), "(W2D V" (a bare graphics stream)
};

// The format of a drawing whose file starts with these bytes.
DrawingFormat DetectDrawingFormat(std::string_view bytes);

// Reads a drawing held in memory into `drawing`, which is replaced, and finishes it
// (FinishModel). True when the drawing was read; damage that was read around leaves a one-line
// note in `*error`. False when it cannot be read: `*error` then says why in one line ("DWG
// files are not supported yet", the place where a DXF file stops making sense …) and `drawing`
// holds what was read, finished. `error` may be null. Never throws.
bool ReadDrawing(std::string_view bytes, Drawing& drawing, std::string* error);

// Reads the file at path (a regular file, read whole into memory) as ReadDrawing does.
bool ReadDrawingFile(const std::string& path, Drawing& drawing, std::string* error);

}  // namespace drawing
