#pragma once

// What the DWG reader's table, entity and block readers share while one drawing is read: the
// container and header, the drawing being filled, the text decoder, the handle look-ups the
// tables fill and the entities use, and the data every object and entity starts with. Private
// to the DWG reader.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/text/TextDecoder.h"

namespace drawing::dwg::detail {

// The name $DWGCODEPAGE gives the code page number of the file header ("ANSI_1252" for 30);
// empty for numbers without a name.
std::string CodePageName(std::uint16_t number);

// A lineweight index of the file (0 to 23, 29 ByLayer, 30 ByBlock, 31 Default) in hundredths
// of a millimetre or as kLineweightByLayer/ByBlock/Default; the indices 24 to 28, which name
// no lineweight, give `undefined` (some writers store 28 on entities that have none).
std::int16_t LineweightFromIndex(unsigned index, std::int16_t undefined);

// A colour as the model holds it, from the fields of a CMC or ENC: the index (0 ByBlock, 256
// ByLayer) and, when `trueColor`, the RGB word (red in bits 16 to 23).
Color ModelColor(int index, bool trueColor, std::uint32_t rgb);

// A colour of R2004 and later files as CMC stores it: the top byte of the RGB word says how it
// is given (0xC0 ByLayer, 0xC1 ByBlock, 0xC2 a true colour in the low 24 bits, 0xC3 an index
// in the low byte); older files store the index alone. True colours get the nearest palette
// index, as the DXF format writes them.
Color ColorOfCmc(const CCmColor& color, Version version);

// Arrowhead size and overall scale of a dimension style.
struct CDwgDimStyle {
  double arrowSize = 0.18;
  double scale = 1.0;
  double textHeight = 0.18;     // DIMTXT
  double gap = 0.09;            // DIMGAP
  std::uint64_t textStyle = 0;  // DIMTXSTY, a STYLE handle; 0: "Standard"
};

// The part every entity starts with: the data after the frame and the handles at the start of
// the handle stream. The readers of the frame stand after it.
struct CDwgEntityCommon {
  std::uint8_t entMode = 0;  // 0 the owner is stored, 1 paper space, 2 model space
  bool noLinks = true;       // R13–R2000: no previous/next handles (they are handle ∓ 1)
  CEntityColor color;
  double linetypeScale = 1.0;
  std::uint8_t linetypeFlags = 0;  // 0 ByLayer, 1 ByBlock, 2 Continuous, 3 a handle
  std::uint16_t invisible = 0;
  std::uint8_t lineweight = 29;  // an index, see LineweightFromIndex
  std::uint64_t owner = 0;
  std::uint64_t layer = 0;
  std::uint64_t linetype = 0;
  std::uint64_t previous = 0, next = 0;  // R13–R2000 (computed when noLinks)
  std::uint64_t colorHandle = 0;         // R2004+: a DBCOLOR
  std::uint64_t xDictionary = 0;         // the extension dictionary, 0 for none
  std::uint64_t plotStyle = 0;           // R2000+: a named plot style's placeholder, 0 ByLayer
};

// Reads the common part of an entity from the frame's data and handle streams. False when a
// stream runs out.
bool ReadEntityCommon(CDwgObjectFrame& frame, CDwgEntityCommon& out);

// Reads the common part of a non-entity object (reactor count and flags in the data, owner,
// reactors and extension dictionary in the handles). False when a stream runs out. The owner
// and the extension dictionary (0 when there is none) go where the pointers say, unless null.
bool ReadObjectCommon(CDwgObjectFrame& frame, std::uint64_t* owner = nullptr,
                      std::uint64_t* xdictionary = nullptr);

// The absolute handle a reference in `frame`'s handle stream names.
std::uint64_t ReadHandle(CDwgObjectFrame& frame);

// One item of extended data: its group code (1000 to 1071) and its value.
struct CDwgExtendedItem {
  int code = 0;
  std::string text;  // 1000 (as stored: 8-bit, or UTF-8 from R2007), 1002 ("{" or "}"), 1004
  double reals[3] = {0, 0, 0};  // 1010–1013 (three), 1040–1042 (one)
  std::int64_t integer = 0;     // 1070, 1071; handles of 1003 and 1005
};

// Decodes the items of one application's extended data; stops at the first malformed item.
std::vector<CDwgExtendedItem> ReadExtendedItems(std::string_view bytes, Version version);

class CDwgReaderContext {
 public:
  CDwgReaderContext(const CDwgContainer& container, const CDwgHeader& header, Drawing& drawing);

  // Frames the object of a handle; false, with a note on damage when `required`, when the map
  // lacks it or it cannot be framed.
  bool Open(std::uint64_t handle, CDwgObjectFrame& frame, bool required = true);
  // The type name of a frame's object: the fixed names and the classes' DXF names.
  std::string TypeName(std::uint16_t type) const;

  // Reads a text (T) of the frame, decoded to UTF-8 like the DXF reader decodes group values.
  std::string Text(CDwgObjectFrame& frame, bool mtext = false);
  // A table name: decoded and without surrounding blanks.
  std::string Name(CDwgObjectFrame& frame);
  std::string NameOf(const std::string& raw);

  // Notes the first damage read around.
  void Damage(const std::string& note);

  // Model indices of the table records read, by handle.
  std::int32_t LayerOf(std::uint64_t handle) const;      // -1 when unknown
  std::int32_t LinetypeOf(std::uint64_t handle) const;   // kLinetype… or index; Continuous
  std::int32_t TextStyleOf(std::uint64_t handle) const;  // "Standard" when unknown
  std::int32_t BlockOf(std::uint64_t handle) const;      // -1 when unknown
  CDwgDimStyle DimStyleOf(std::uint64_t handle) const;   // the header's when unknown
  std::int32_t ImageDefOf(std::uint64_t handle);         // read on first use; -1 unknown
  std::int32_t MLineStyleOf(std::uint64_t handle);       // read on first use; -1 unknown
  // Reads the names of the plot styles (ACAD_PLOTSTYLENAME); before the layers.
  void ReadPlotStyleNames();
  // The named plot style whose placeholder the handle is (an index into the drawing's
  // plotStyleNames, added on first use); -1 for none or unknown.
  std::int32_t PlotStyleOf(std::uint64_t handle) const;
  std::string UnderlayFileOf(std::uint64_t handle);  // read on first use; empty unknown

  // The entity properties the common part gives, as the model holds them. A colour book colour
  // needs its DBCOLOR object read first (ReadBookColor).
  void ApplyCommon(const CDwgEntityCommon& common, Entity& entity) const;
  void ReadBookColor(std::uint64_t handle);

  const CDwgContainer& container;
  const CDwgHeader& header;
  Drawing& drawing;
  Version version;
  CTextDecoder decoder;

  std::unordered_map<std::uint64_t, std::int32_t> layers, linetypes, textStyles, blocks;
  // The model index of each entry of the layer and linetype tables in the file's order (-1 for
  // one not read; linetypes without ByBlock and ByLayer), as proxy graphics refer to them.
  std::vector<std::int32_t> layerOrder, linetypeOrder;
  std::unordered_map<std::uint64_t, CDwgDimStyle> dimStyles;
  std::unordered_map<std::uint64_t, std::int32_t> imageDefs;
  std::unordered_map<std::uint64_t, std::int32_t> mlineStyles;
  // The plot style names by placeholder (ACAD_PLOTSTYLENAME, read on first use).
  std::unordered_map<std::uint64_t, std::string> plotStyleEntries;
  std::unordered_map<std::uint64_t, std::string> underlayFiles;
  std::unordered_map<std::uint64_t, std::string> applications;  // APPID names
  std::unordered_map<std::uint64_t, std::uint32_t> bookColors;  // DBCOLOR RGB values
  std::unordered_set<std::uint64_t> bookColorsTried;
  CDwgDimStyle headerDimStyle;
  std::int32_t standardStyle = 0;
  std::uint64_t linetypeByLayer = 0, linetypeByBlock = 0, linetypeContinuous = 0;
  std::map<std::string, int> skipped;
  std::string firstDamage;
  std::size_t damageCount = 0;
  std::size_t entityCount = 0;
};

}  // namespace drawing::dwg::detail
