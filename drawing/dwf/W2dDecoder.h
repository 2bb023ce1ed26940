#pragma once

// Decodes a W2D graphics stream (the "WHIP!" data of DWF files: the graphics of a DWF 6 sheet,
// a classic single-stream DWF, or a bare .w2d file) into entities of the drawing model.
//
// A stream is a 12-byte header ("(W2D V06.00)" or "(DWF V00.55)"), then opcodes of three
// kinds: single bytes whose operands the reader must know (ASCII letters take readable
// operands, other bytes little-endian binary ones), extended ASCII opcodes "(Name …)" that
// nest and can be skipped by their parentheses, and extended binary ones "{" + length + opcode
// + data + "}" that can be skipped by their length. Coordinates are 31-bit logical integers;
// most binary drawing opcodes give them relative to the previous point.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"

namespace drawing::dwf {

// Where a stream's logical coordinates land on its sheet: paper = (a x + c y + tx,
// b x + d y + ty), in the sheet's paper units, which are millimetresPerUnit millimetres long.
struct W2dPlacement {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  double millimetresPerUnit = 25.4;
};

// What a stream says about its paper: (PlotInfo …) and (View …), for streams outside a package.
struct W2dPlotInfo {
  bool valid = false;
  bool inches = true;                               // the paper's units: inches or millimetres
  double width = 0, height = 0;                     // paper units
  double left = 0, bottom = 0, right = 0, top = 0;  // the printable area, paper units
  double scale[4] = {1, 0, 0, 1};                   // logical units to paper units (a b c d)
  bool hasView = false;
  double viewLeft = 0, viewBottom = 0;  // logical
};

// Decodes streams into a list of entities of a drawing (the layers, text styles and image
// definitions they need are added to the drawing). One decoder per sheet: the graphics state
// (current point, colour, layer, font …) carries over from one Decode call to the next.
class CW2dDecoder {
 public:
  // Entities go to `target` (a sheet's block or a clipped group in it); kept by reference.
  CW2dDecoder(Drawing& drawing, std::vector<Entity>& target);

  void SetPlacement(const W2dPlacement& placement);
  // Only looks: reads the plot information and measures the logical extents, adds nothing.
  void SetMeasureOnly(bool measure) { measureOnly = measure; }

  // Decodes one stream, header included. True when it was read to its end ("(EndOfDWF)" or the
  // last byte); false when it stopped at damage (an unknown single-byte opcode, an operand cut
  // short, a count past its bound), with the reason and byte offset in *note. What was decoded
  // before the damage stays.
  bool Decode(std::string_view stream, std::string* note);

  const W2dPlotInfo& PlotInfo() const { return plotInfo; }
  // The logical box of what the stream draws; false when it draws nothing.
  bool Extents(double* left, double* bottom, double* right, double* top) const;
  // Opcodes and kinds read but not drawn, by name, with their counts.
  const std::map<std::string, int>& Skipped() const { return skipped; }
  // How many entities were added.
  std::int64_t EntityCount() const { return added; }

  // Bounds on what one stream may make the reader build.
  static constexpr std::int64_t kMaxDecompressedBytes = std::int64_t{1} << 30;
  static constexpr int kMaxNesting = 64;

 private:
  struct Cursor;
  struct Font {
    std::string name = "Arial";
    std::uint8_t style = 0;  // 4 bold, 8 italic
    double height = 0;       // logical
    double rotation = 0;     // degrees
    double widthScale = 1;
    double oblique = 0;  // degrees
    std::uint32_t flags = 0;
  };

  bool Run(Cursor& in, int depth);
  bool SingleByte(std::uint8_t opcode, Cursor& in);
  bool ExtendedAscii(Cursor& in, int depth);
  bool ExtendedBinary(Cursor& in, int depth);
  bool Decompress(std::uint16_t kind, Cursor& in, int depth);

  // Geometry in logical coordinates; the placement maps it onto the sheet.
  struct Point {
    double x = 0, y = 0;
  };
  Vec3 Paper(Point p) const;
  double PaperLength(double logical) const;
  double PaperAngle() const;  // degrees the placement turns by
  void Note(Point p);

  Entity& Add(EntityData data);
  void Skip(const std::string& what);
  void AddPolyline(const std::vector<Point>& points, bool closed);
  void AddFilled(const std::vector<std::vector<Point>>& rings);
  void AddTriangles(const std::vector<Point>& strip);
  void AddLine(Point a, Point b);
  void AddEllipse(Point center, double major, double minor, double start, double end, double tilt);
  void AddBezier(const std::vector<Point>& points);
  // Text at the point; box, when given, is the writer's box of it (four corners from the
  // lower left, counter-clockwise).
  void AddText(Point at, const std::string& utf8, const Point* box = nullptr);
  void AddImage(int format, std::uint16_t columns, std::uint16_t rows, Point lo, Point hi,
                const std::vector<std::uint32_t>& palette, std::string_view data);
  void SetViewport(std::vector<Point> boundary);
  void SetColorIndex(int index);
  void SetColorRgba(std::uint32_t rgba);
  std::int32_t LayerIndex(const std::string& name);
  std::int32_t StyleIndex();

  Drawing& drawing;
  std::vector<Entity>& root;
  std::vector<Entity>* target;  // root, or the members of the open viewport's group
  W2dPlacement placement;
  bool measureOnly = false;
  W2dPlotInfo plotInfo;
  int revision = 600;  // of the stream's header: 55 for "V00.55", 600 for "V06.00"

  // The graphics state.
  std::int64_t currentX = 0, currentY = 0;
  std::vector<std::uint32_t> colorMap;  // RGBA, red in the low byte
  Color color{7, false, 0};
  bool fill = false;
  bool visible = true;
  std::int64_t lineWeight = 0;  // logical
  std::int32_t layer = 0;
  std::map<std::int64_t, std::int32_t> layersByNumber;
  Font font;
  std::int32_t linePattern = 1;  // 1 solid
  std::int64_t decompressed = 0;

  std::map<std::string, int> skipped;
  std::int64_t added = 0;
  bool measured = false;
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
};

}  // namespace drawing::dwf
