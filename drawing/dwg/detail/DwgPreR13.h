#pragma once

// The DWG files written before R13 (R1.4 to R11/R12): one file, no objects or handles, byte
// aligned little-endian values. A file header with a directory of tables and three entity
// sections, the header variables at fixed offsets, tables of fixed-size records, and entity
// records that carry their own size. R1.x files have no tables and keep blocks inline in one
// entity list. Private to the DWG reader; ReadDwg hands these files to ReadDwgPreR13.
//
// Layers: the file (CPreR13File, the layout and header variables), the records
// (ReadPreR13Record, the part every entity record starts with), the type data of each kind
// (DwgPreR13Entities.cpp) and the tables, block definitions and entity lists into the model
// (DwgPreR13Reader.cpp).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"

namespace drawing::dwg::detail {

// The releases, in file order: each compares greater than the ones before it.
enum class PreR13Release : std::uint8_t {
  R1_4,   // AC1.40: fixed header, 128 numbered layers, blocks inline
  R2_0,   // AC1.50: tables, entity records with a size
  R2_10,  // AC2.10, AC2.21, AC2.22
  R2_6,   // AC1001, AC1002, AC1003 (R2.4 to R2.6)
  R9,     // AC1004, AC1005
  R10,    // AC1006: 3D points, UCS and VPORT tables, a code page
  R11,    // AC1007, AC1008, AC1009 (R11 and R12): paper space, extended data, checksums
};

// The release of a file by its first six bytes; false for files of R13 and later, for
// R1.1 to R1.3 (which `*unsupported` then names) and for anything else.
bool PreR13ReleaseOf(std::string_view bytes, PreR13Release& release, bool* unsupported = nullptr);

// True when the first bytes name any release before R13, read or not.
bool IsPreR13Magic(std::string_view bytes);

// One table of the directory: fixed-size records from `address` on.
struct CPreR13Table {
  std::uint16_t recordSize = 0;
  std::uint16_t count = 0;
  std::uint16_t flags = 0;
  std::uint32_t address = 0;
  bool present = false;  // the file's release and header have this table
};

// An entity section: its bytes are [start, end) of the file.
struct CPreR13Section {
  std::size_t start = 0;
  std::size_t end = 0;
};

// The tables in the order of their ids in the file.
enum PreR13TableId {
  kBlockTable,
  kLayerTable,
  kStyleTable,
  kLinetypeTable,
  kViewTable,
  kUcsTable,
  kVportTable,
  kAppIdTable,
  kDimStyleTable,
  kVxTable,
  kTableCount
};

// The layout of a file and the header variables the model takes.
struct CPreR13File {
  PreR13Release release = PreR13Release::R11;
  std::string magic;
  std::string_view bytes;  // the whole file; the views below point into it

  CPreR13Section entities, blocks, extras;
  CPreR13Table tables[kTableCount];

  std::uint16_t variableCount = 0;  // R2.0 and later
  std::size_t variablesEnd = 0;     // one past the last header variable

  Vec3 insBase, extMin{1e20, 1e20, 1e20}, extMax{-1e20, -1e20, -1e20};
  Vec2 limMin, limMax{12, 9};
  Vec3 viewCenter;  // the current view: its centre, height, width / height and direction
  double viewSize = 0.0;
  double viewAspect = 1.0;
  Vec3 viewDirection{0, 0, 1};
  double ltScale = 1.0;
  int psLtScale = 1;  // R11
  int pdMode = 0;
  double pdSize = 0.0;
  std::uint16_t codePage = 0;  // R10 and later; 0 when the file names none
  int tileMode = 1;
  Vec3 pExtMin{1e20, 1e20, 1e20}, pExtMax{-1e20, -1e20, -1e20};
  Vec2 pLimMin, pLimMax{12, 9};

  // R1.x: where the entity list ends, how many records it holds, the colour of each of the
  // 128 layers (255: not used).
  std::uint16_t entityCount = 0;
  std::int16_t layerColors[128] = {};

  // Damage read around while the layout was read (a checksum, a sentinel), and the first of it.
  std::size_t damageCount = 0;
  std::string firstDamage;
};

// Reads the file header, the directory and the header variables. False, with a one-line
// reason naming the stage and the byte offset, when the file is too short or its directory
// points outside it; damage that can be read around (a checksum, a missing sentinel, a table
// cut short) is noted in `out`. Never throws but std::bad_alloc.
bool ReadPreR13File(std::string_view bytes, CPreR13File& out, std::string& reason);

// A bounded reader of little-endian values between two offsets of the file. A read past the
// end marks it failed, returns zero and reads nothing more.
class CPreR13Cursor {
 public:
  CPreR13Cursor(std::string_view bytes, std::size_t at, std::size_t end)
      : bytes(bytes), at(at), end(end < bytes.size() ? end : bytes.size()) {
    if (this->at > this->end) failed = true;
  }

  std::uint8_t RC();
  std::uint16_t RS();
  std::int16_t SignedRS() { return static_cast<std::int16_t>(RS()); }
  std::uint32_t RL();
  double RD();
  Vec2 Point2();
  Vec3 Point3();
  // A text with a 2-byte length before it.
  std::string_view TV();
  // `size` bytes up to their first NUL.
  std::string_view TF(std::size_t size);
  std::string_view Bytes(std::size_t size);
  void Skip(std::size_t size);

  bool Failed() const { return failed; }
  std::size_t Position() const { return at; }
  std::size_t Left() const { return failed ? 0 : end - at; }

 private:
  bool Take(std::size_t size);

  std::string_view bytes;
  std::size_t at;
  std::size_t end;
  bool failed = false;
};

// The type numbers of entity records.
namespace pretype {
constexpr int kLine = 1, kPoint = 2, kCircle = 3, kShape = 4, kRepeat = 5, kEndRepeat = 6;
constexpr int kText = 7, kArc = 8, kTrace = 9, kLoad = 10, kSolid = 11, kBlock = 12;
constexpr int kEndBlock = 13, kInsert = 14, kAttDef = 15, kAttrib = 16, kSeqEnd = 17;
constexpr int kJump = 18, kPolyline = 19, kVertex = 20, kLine3d = 21, kFace3d = 22;
constexpr int kDimension = 23, kViewport = 24;
}  // namespace pretype

// The name of an entity type number, for notes and skipped kinds ("LINE"; "type 99").
std::string PreR13TypeName(int type);

// The part every entity record (R2.0 and later) starts with, and where its own data lies.
struct CPreR13Record {
  std::size_t start = 0;      // file offset of the type byte
  std::size_t end = 0;        // start + the record's size
  std::size_t dataStart = 0;  // the type's own data …
  std::size_t dataEnd = 0;    // … up to here (the R11 checksum follows)
  int type = 0;               // without the deleted bit
  bool deleted = false;
  std::uint8_t flags = 0;  // 1 colour, 2 linetype, 4 elevation, 8 thickness, 0x20 handle,
                           // 0x40 extra byte, 0x80 attributes or vertices follow
  std::uint16_t layer = 0;
  std::uint16_t options = 0;
  std::uint8_t extra = 0;  // 2 extended data, 4 a viewport index
  int color = -1;          // -1 when not stored (ByLayer)
  int linetype = -1;       // the stored index or code; -1 when not stored (ByLayer)
  bool hasElevation = false;
  double elevation = 0.0;
  double thickness = 0.0;
  std::string_view extendedData;
  bool hasViewport = false;
  std::uint16_t viewport = 0;
  std::uint32_t jumpTarget = 0;  // JUMP: the raw address
  bool crcMatches = true;        // R11: the record's checksum
};

// Reads the common part of the record at `at`, which must end by `limit`. False, with the
// problem in `problem`, when the record's size is impossible (then nothing after it can be
// found) or its common part passes its end.
bool ReadPreR13Record(const CPreR13File& file, std::size_t at, std::size_t limit,
                      CPreR13Record& out, std::string& problem);

// The items of R11 extended data: a code (the DXF group − 1000) and its value.
struct CPreR13ExtendedItem {
  int code = 0;
  std::string_view text;  // 0 (a string), 4 (bytes)
  double reals[3] = {0, 0, 0};
  std::int64_t integer = 0;  // 1 (application index), 2 (0 "{", 1 "}"), 3 (layer), 70, 71
};

// Splits extended data into items; stops at the first item that passes the end.
std::vector<CPreR13ExtendedItem> ReadPreR13ExtendedData(std::string_view bytes);

// Reads a whole file of a release before R13 into `drawing` (cleared first); strings of files
// that name no code page are read in `defaultCodePage`. The same contract as ReadDwg: true when
// the drawing was read, with a one-line note on the first damage read around in `*note`
// (empty for a sound file); false with a one-line reason when nothing could be read. Never
// throws but std::bad_alloc.
bool ReadDwgPreR13(std::string_view bytes, Drawing& drawing, std::string* note,
                   std::string_view defaultCodePage);

// The code page of files that do not name one: these releases ran on DOS in the United States
// code page.
constexpr std::string_view kPreR13DefaultCodePage = "DOS437";

}  // namespace drawing::dwg::detail
