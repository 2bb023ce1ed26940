#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drawing {

// One colour's pen in a colour-dependent plot style table (.ctb).
struct PlotStylePen {
  // True: the entity keeps its own colour; false: it is drawn in rgb.
  bool objectColor = true;
  // Red in the low byte, then green, then blue.
  std::uint32_t rgb = 0;
  // The pen width in millimetres; 0 when the entity's own lineweight is used.
  double widthMm = 0.0;
};

// A colour-dependent plot style table: one pen for each colour index 0–255 (index 0 has none
// in a table and keeps the object's colour and width).
struct PlotStyleTable {
  std::array<PlotStylePen, 256> pens;
};

// A named plot style table (.stb): styles that entities and layers name, in the table's order
// ("Normal", the style of everything that names none, is usually first).
struct NamedPlotStyle {
  std::string name;
  PlotStylePen pen;
};
struct NamedPlotStyleTable {
  std::vector<NamedPlotStyle> styles;
  // The style of that name, compared without regard to case; null when the table has none.
  const NamedPlotStyle* Find(std::string_view name) const;
};

// The largest text a table may inflate to; stock tables hold about 85 KB.
inline constexpr std::uint32_t kMaxPlotStyleText = 8u << 20;

// Reads a .ctb file. A table is a 60-byte header (the text
// "PIAFILEVERSION_2.0,CTBVER1,compress\r\npmzlibcodec", then the Adler-32 of the compressed
// data, the inflated length and the compressed length, 32-bit little-endian) followed by a
// zlib stream of "key=value" lines in nested "name{ … }" blocks. Everything is checked before
// it is trusted: header text, lengths against the file, the checksum, the inflated length.
// False with a short reason in why for anything else, a named table (.stb) included.
bool ReadPlotStyleTable(const std::string& path, PlotStyleTable* table, std::string* why);
// The same for the bytes of a file.
bool ParsePlotStyleTable(const std::string& bytes, PlotStyleTable* table, std::string* why);

// Reads a named plot style table (.stb): the same wrapper with "STBVER1" in its header text,
// its styles by name. The same checks; false with a short reason for anything else, a
// colour-dependent table (.ctb) included.
bool ReadNamedPlotStyleTable(const std::string& path, NamedPlotStyleTable* table, std::string* why);
bool ParseNamedPlotStyleTable(const std::string& bytes, NamedPlotStyleTable* table,
                              std::string* why);

}  // namespace drawing
