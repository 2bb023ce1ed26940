#pragma once

// Reads the tables (layers, linetypes, text styles, the active view, dimension styles, block
// records) and the objects the model needs (layouts, image definitions) of a DWG file. Private
// to the DWG reader.

#include <cstdint>
#include <vector>

#include "drawing/dwg/detail/DwgReaderContext.h"

namespace drawing::dwg::detail {

// A block record: which model block it fills and where its entities are.
struct CDwgBlockRecord {
  std::uint64_t handle = 0;
  std::int32_t block = -1;  // index into Drawing::blocks
  // R13–R2000: the first and last entity of a chain linked by each entity's next handle.
  std::uint64_t firstEntity = 0, lastEntity = 0;
  // R2004+: the entities in order.
  std::vector<std::uint64_t> entities;
  std::uint64_t xdictionary = 0;  // its extension dictionary: where a draw order table is kept
};

// Gives the drawing what every drawing has (layer "0", the linetypes ByBlock, ByLayer and
// Continuous, the text style "Standard", the blocks *Model_Space and *Paper_Space) and reads
// the tables into it. `records` gets the block records in model block order: model space,
// paper space, then the block table. Damage is noted in the context and read around.
void ReadTables(CDwgReaderContext& context, std::vector<CDwgBlockRecord>& records);

// Reads the LAYOUT objects of the layout dictionary into drawing.layouts, in dictionary order,
// and the image definitions of the image dictionary into drawing.imageDefs.
void ReadLayoutsAndImages(CDwgReaderContext& context);

// The draw order table (SORTENTSTABLE, under ACAD_SORTENTS in the extension dictionary) of a
// block record; empty when it has none or the table belongs to another block.
std::vector<DrawOrderEntry> ReadDrawOrder(CDwgReaderContext& context,
                                          const CDwgBlockRecord& record);

// The names and handles of a DICTIONARY (or DICTIONARYWDFLT) object; empty when the handle
// names none.
std::vector<std::pair<std::string, std::uint64_t>> ReadDictionary(CDwgReaderContext& context,
                                                                  std::uint64_t handle);

// The name of the APPID object of a handle, cached; empty when there is none.
const std::string& ApplicationName(CDwgReaderContext& context, std::uint64_t handle);

}  // namespace drawing::dwg::detail
