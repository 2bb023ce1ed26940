#pragma once

// Compiled shape files (.shx, "AutoCAD-86 shapes 1.0" and 1.1): numbered shapes, each a small
// program of pen moves, arcs and subshapes. Complex linetypes draw their shapes from them
// (ltypeshp.shx holds the tracks, zigzags and battings of the usual linetypes).

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"

namespace drawing {

class CShapeFile {
 public:
  // Reads the shapes of a compiled shape file's bytes; false, holding nothing, when the bytes
  // are no such file or end before their directory says they do.
  bool Parse(std::string_view bytes);

  // The strokes shape `number` draws, polylines in shape units with the shape's start at the
  // origin (arcs flattened to at most 7.5° a chord); empty when the file has no such shape.
  // Subshapes nest at most 8 deep, and a program runs at most 100,000 steps: a damaged file
  // draws what it drew until then.
  std::vector<std::vector<Vec2>> Strokes(int number) const;

  // A text font's shape file describes itself in shape 0: the height of its capitals in shape
  // units ("above"); 0 for a plain shape file, whose units are the drawing's.
  int Above() const { return above; }
  bool Empty() const { return programs.empty(); }

 private:
  struct Pen;
  void Run(int number, Pen& pen, int depth) const;

  std::map<int, std::string> programs;  // the bytes after each shape's name
  int above = 0;
};

}  // namespace drawing
