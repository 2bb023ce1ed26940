#pragma once

// What the parts of the pre-R13 reader share while one drawing is read: the file, the drawing
// being filled, the text decoder, the model indices of the table records and the notes on
// damage. Private to the DWG reader.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dwg/detail/DwgEntities.h"
#include "drawing/dwg/detail/DwgPreR13.h"
#include "drawing/text/TextDecoder.h"

namespace drawing::dwg::detail {

class CPreR13Context {
 public:
  CPreR13Context(const CPreR13File& file, Drawing& drawing) : file(file), drawing(drawing) {}

  // Notes damage read around at a byte offset of the file; the first note is kept for the
  // reader's result. `stage` names the part being read ("tables", "blocks", "entities").
  void Damage(std::string_view stage, const std::string& what, std::size_t offset);

  // A stored text as the model holds it: UTF-8, "%%" codes replaced, control characters in
  // caret notation; `lines` gets the stretches its %%u, %%o and %%k mark.
  std::string Text(std::string_view raw, std::vector<TextLineSpan>* lines);
  // A description or file name: decoded, nothing replaced.
  std::string Plain(std::string_view raw) { return decoder.Decode(raw); }
  // A table name: decoded, without surrounding blanks.
  std::string Name(std::string_view raw);

  // Model references of table indices as entities store them. An index the table does not
  // have is noted (at `offset`) and falls back to layer 0, Continuous, "Standard". R1.x layers
  // are numbered, not listed: each is made when an entity first names it.
  std::int32_t LayerOf(std::uint16_t index, std::size_t offset);
  // An entity's stored linetype: an index or the file's ByLayer and ByBlock codes.
  std::int32_t LinetypeOf(int stored, std::size_t offset);
  std::int32_t StyleOf(int index, std::size_t offset);
  // -1 (noted) for an index the table does not have or a deleted record.
  std::int32_t BlockOf(int index, std::size_t offset);

  const CPreR13File& file;
  Drawing& drawing;
  CTextDecoder decoder;

  // What a linetype table index gives when its record is deleted or unreadable.
  static constexpr std::int32_t kNoLinetype = std::numeric_limits<std::int32_t>::min();

  // Model indices by table index: tables count deleted records, which map to -1 (kNoLinetype
  // for linetypes, whose -1 is ByLayer).
  std::vector<std::int32_t> layers, linetypes, styles, blocks;
  std::vector<std::string> applications;  // APPID names
  std::int32_t standardStyle = 0;

  std::map<std::string, int> skipped;
  std::string firstDamage;
  std::size_t damageCount = 0;
  std::size_t entityCount = 0;
};

// What a record says beyond its entity, for the reader to finish.
struct CPreR13EntityInfo {
  bool childrenFollow = false;  // INSERT: attributes, POLYLINE: vertices (then a SEQEND)
  CDwgEntityInfo polyline;      // POLYLINE: flags and mesh sizes in DXF form
  double startWidth = 0.0, endWidth = 0.0;  // POLYLINE: the default widths of its vertices
  CDwgVertex vertex;                        // VERTEX
  bool vertexHasStartWidth = false, vertexHasEndWidth = false;
  std::string name;  // BLOCK (R1.x), INSERT (R1.x): a block name as stored
  Vec3 base;         // BLOCK
  // ENDREP (R1.x): the grid the entities since REPEAT are repeated in.
  int columns = 1, rows = 1;
  double columnSpacing = 0.0, rowSpacing = 0.0;
};

enum class PreR13EntityResult {
  Stored,     // `entity` holds a drawable entity
  NotDrawn,   // a record that draws nothing by itself (ATTDEF in a block, an invisible ATTRIB)
  Structure,  // BLOCK, ENDBLK, SEQEND, VERTEX, REPEAT, ENDREP: `info` says what it holds
  Skipped,    // a kind the model does not draw (SHAPE), counted by the caller
  Damaged,    // the record's data passes its end, or its type is unknown
};

// Decodes the type data of an R2.0 and later record whose common part is read.
// `inDefinition` for records of a block definition, whose ATTDEFs are not drawn.
PreR13EntityResult DecodePreR13Entity(CPreR13Context& context, const CPreR13Record& record,
                                      bool inDefinition, Entity& entity, CPreR13EntityInfo& info);

// Decodes one R1.x record at `at` (they carry no size) and gives where the next one starts in
// `next`; `type` gets its type (negative for a deleted record). False when the record cannot
// be read: its type is unknown or it passes `limit`.
bool DecodeR1Entity(CPreR13Context& context, std::size_t at, std::size_t limit, bool inDefinition,
                    int& type, std::size_t& next, Entity& entity, CPreR13EntityInfo& info,
                    PreR13EntityResult& result);

}  // namespace drawing::dwg::detail
