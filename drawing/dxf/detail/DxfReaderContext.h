#pragma once

// What the parts of the DXF reader share while one file is read: the drawing being filled,
// the text decoder and the name and handle look-ups. Private to the DXF reader.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "drawing/Model.h"
#include "drawing/text/TextDecoder.h"
#include "platform/Ascii.h"

namespace drawing::detail {

// Table names compare without regard to ASCII case.
struct CaseInsensitiveHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const;
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
using NameIndex =
    std::unordered_map<std::string, std::int32_t, CaseInsensitiveHash, CaseInsensitiveEqual>;

// What entities take from a dimension style.
struct DxfDimStyle {
  double arrowSize = 0.18;
  double scale = 1.0;
  double textHeight = 0.18;  // DIMTXT
  double gap = 0.09;         // DIMGAP
  // DIMTXSTY: the STYLE handle the table stores (group 340), or the name the header stores
  // ($DIMTXSTY); neither: "Standard".
  std::uint64_t textStyleHandle = 0;
  std::string textStyleName;
};

class CDxfReaderContext {
 public:
  // Clears `drawing` and gives it what every drawing has: layer "0", the linetypes ByBlock,
  // ByLayer and Continuous, the text style "Standard", the blocks *Model_Space (index 0) and
  // *Paper_Space (index 1).
  explicit CDxfReaderContext(Drawing& drawing);

  // The UTF-8 form of a stored name, without surrounding blanks.
  std::string Name(std::string_view raw);
  // The UTF-8 form of a stored text (escapes decoded; MTEXT keeps its formatting codes).
  std::string Text(std::string_view raw, bool mtext = false) { return decoder.Decode(raw, mtext); }

  // The layer of that name, created with default properties when the tables lack it.
  std::int32_t LayerIndex(std::string_view raw);
  // -1 when there is no such layer.
  std::int32_t FindLayer(std::string_view raw);
  std::int32_t LayerByHandle(std::uint64_t handle) const;
  // An entity's or layer's linetype: kLinetypeByLayer, kLinetypeByBlock, kLinetypeContinuous
  // or an index into Drawing::linetypes. Unknown names draw continuous.
  std::int32_t LinetypeReference(std::string_view raw);
  // Unknown names and an empty name give "Standard".
  std::int32_t TextStyleIndex(std::string_view raw);
  // The block of that name; a block that is not defined (yet) gets an empty entry that the
  // reader removes at the end if no definition follows.
  std::int32_t BlockReference(std::string_view raw);
  // Arrowhead size of the named dimension style (the header's values when unknown).
  double ArrowSize(std::string_view raw) const;
  // The named dimension style; the header's values when unknown.
  DxfDimStyle DimStyle(std::string_view raw) const;
  // The block of a BLOCK_RECORD handle; -1 when the tables name no such record.
  std::int32_t BlockByRecord(std::uint64_t handle);
  // The text style of a STYLE handle; "Standard" when unknown.
  std::int32_t TextStyleByHandle(std::uint64_t handle);
  // The linetype reference of an LTYPE handle (ByBlock and ByLayer included); Continuous when
  // unknown.
  std::int32_t LinetypeByHandle(std::uint64_t handle) const;

  // Adds or finds table entries; the index of the entry for that name.
  std::int32_t DefineLayer(std::string name);
  std::int32_t DefineLinetype(std::string name);
  std::int32_t DefineTextStyle(std::string name);
  // The block for a BLOCK record; -1 when a block of that name was already defined (the
  // second definition is then read but not kept).
  std::int32_t DefineBlock(std::string name);

  Drawing& drawing;
  CTextDecoder decoder;
  NameIndex layers, linetypes, textStyles, blocks;
  std::unordered_map<std::uint64_t, std::int32_t> layerHandles;
  std::unordered_map<std::uint64_t, std::int32_t> textStyleHandles;
  std::unordered_map<std::uint64_t, std::int32_t> linetypeHandles;  // as LinetypeReference
  std::unordered_map<std::uint64_t, std::string> blockRecordNames;  // BLOCK_RECORD handles
  // The layer and linetype of each record of their tables in file order (linetypes without
  // ByBlock and ByLayer), as proxy graphics refer to them; -1 for a record without a name.
  std::vector<std::int32_t> layerOrder, linetypeOrder;
  std::unordered_map<std::string, DxfDimStyle, CaseInsensitiveHash, CaseInsensitiveEqual> dimStyles;
  DxfDimStyle headerDimStyle;
  std::vector<bool> blockDefined;  // per block: a BLOCK record (or a section) defines it
  bool inBlockDefinition = false;  // entities being read belong to a BLOCK … ENDBLK

 private:
  std::int32_t LookUp(const NameIndex& index, std::string_view raw, std::string& decoded);

  std::string lastLayerRaw;
  std::int32_t lastLayer = -1;
};

}  // namespace drawing::detail
