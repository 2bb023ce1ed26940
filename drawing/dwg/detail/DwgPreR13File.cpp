#include <cstring>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/detail/DwgPreR13.h"

namespace drawing::dwg::detail {

namespace {

struct CReleaseMagic {
  std::string_view magic;
  PreR13Release release;
};

constexpr CReleaseMagic kReleases[] = {
    {"AC1.40", PreR13Release::R1_4},  {"AC1.50", PreR13Release::R2_0},
    {"AC2.10", PreR13Release::R2_10}, {"AC2.21", PreR13Release::R2_10},
    {"AC2.22", PreR13Release::R2_10}, {"AC1001", PreR13Release::R2_6},
    {"AC1002", PreR13Release::R2_6},  {"AC1003", PreR13Release::R2_6},
    {"AC1004", PreR13Release::R9},    {"AC1005", PreR13Release::R9},
    {"AC1006", PreR13Release::R10},   {"AC1007", PreR13Release::R11},
    {"AC1008", PreR13Release::R11},   {"AC1009", PreR13Release::R11},
};

// The first releases (R1.1 to R1.3), of which no file has been seen.
constexpr std::string_view kUnsupported[] = {"MC0.0", "AC1.2", "AC1.3"};

// The checksum the R11 header, table records and entities carry.
constexpr std::uint16_t kCrcSeed = 0xC0C1;

// The sentinel before the entities of an R11 file; the one after them is its complement.
const std::string_view kEntitiesSentinel(
    "\xC4\x6E\x68\x54\xF8\x6E\x33\x30\x63\x3E\xC1\x85\x2A\xDC\x94\x01", 16);

// Where the header variables end, by their count (a file stops after its last one).
struct CVariableBlock {
  std::uint16_t count;
  std::size_t end;
};
constexpr CVariableBlock kVariableBlocks[] = {
    {74, 0x1FA},  {83, 0x2E5},  {101, 0x35D}, {104, 0x36F}, {114, 0x3A1}, {120, 0x3C5},
    {122, 0x3D5}, {129, 0x3EF}, {158, 0x512}, {160, 0x51E}, {204, 0x6BB}, {205, 0x6BD},
};

// Offsets of the directory entries of the tables: the first five follow the file header,
// the later ones sit among the header variables.
constexpr std::size_t kTableEntries[kTableCount] = {0x2C,  0x36,  0x40,  0x4A,  0x54,
                                                    0x3EF, 0x500, 0x512, 0x522, 0x69F};

// The R1.x header.
constexpr std::size_t kR1EntitiesStart = 0x202;

void NoteDamage(CPreR13File& file, const std::string& what, std::size_t offset) {
  ++file.damageCount;
  if (file.firstDamage.empty()) {
    file.firstDamage = what + " (byte offset " + std::to_string(offset) + ")";
  }
}

// Reads header variables at fixed offsets, each only when the file's variables reach it.
class CVariableReader {
 public:
  CVariableReader(std::string_view bytes, std::size_t end) : bytes(bytes), end(end) {}

  bool Has(std::size_t at, std::size_t size) const { return at + size <= end; }
  void Real(std::size_t at, double& value) const {
    if (Has(at, 8)) value = Cursor(at).RD();
  }
  void Point(std::size_t at, Vec3& value) const {
    if (Has(at, 24)) value = Cursor(at).Point3();
  }
  void Point(std::size_t at, Vec2& value) const {
    if (Has(at, 16)) value = Cursor(at).Point2();
  }
  template <class Int>
  void Short(std::size_t at, Int& value) const {
    if (Has(at, 2)) value = static_cast<Int>(Cursor(at).SignedRS());
  }

 private:
  CPreR13Cursor Cursor(std::size_t at) const { return CPreR13Cursor(bytes, at, end); }

  std::string_view bytes;
  std::size_t end;
};

bool ReadR1File(std::string_view bytes, CPreR13File& out, std::string& reason) {
  if (bytes.size() < kR1EntitiesStart) {
    reason = "file header: the file is too short for its header (byte offset 0)";
    return false;
  }
  out.variablesEnd = kR1EntitiesStart;
  const CVariableReader variables(bytes, kR1EntitiesStart);
  variables.Point(0x0C, out.insBase);
  variables.Point(0x2A, out.extMin);
  variables.Point(0x42, out.extMax);
  variables.Point(0x5A, out.limMin);
  variables.Point(0x6A, out.limMax);
  variables.Point(0x7A, out.viewCenter);
  variables.Real(0x92, out.viewSize);
  variables.Real(0x1D0, out.viewAspect);
  CPreR13Cursor header(bytes, 0x24, kR1EntitiesStart);
  std::size_t end = header.RL();
  out.entityCount = header.RS();
  CPreR13Cursor colors(bytes, 0xC8, kR1EntitiesStart);
  for (std::int16_t& color : out.layerColors) color = colors.SignedRS();
  // Files are often longer than their entity list (slack after it); an end past the file is
  // damage, read up to the end of the file.
  if (end > bytes.size()) {
    NoteDamage(out, "file header: the entity list ends past the end of the file", 0x24);
    end = bytes.size();
  }
  if (end < kR1EntitiesStart) {
    reason = "file header: the entity list ends before it starts (byte offset 36)";
    return false;
  }
  out.entities = {kR1EntitiesStart, end};
  return true;
}

}  // namespace

bool PreR13ReleaseOf(std::string_view bytes, PreR13Release& release, bool* unsupported) {
  if (unsupported) *unsupported = false;
  const std::string_view magic = bytes.substr(0, 6);
  for (const CReleaseMagic& known : kReleases) {
    if (magic == known.magic) {
      release = known.release;
      return true;
    }
  }
  for (const std::string_view old : kUnsupported) {
    if (magic.substr(0, old.size()) == old && unsupported) *unsupported = true;
  }
  return false;
}

bool IsPreR13Magic(std::string_view bytes) {
  PreR13Release release;
  bool unsupported = false;
  return PreR13ReleaseOf(bytes, release, &unsupported) || unsupported;
}

// ---- The cursor ------------------------------------------------------------------------

bool CPreR13Cursor::Take(std::size_t size) {
  if (failed || size > end - at) {
    failed = true;
    return false;
  }
  return true;
}

std::uint8_t CPreR13Cursor::RC() {
  if (!Take(1)) return 0;
  return static_cast<std::uint8_t>(bytes[at++]);
}

std::uint16_t CPreR13Cursor::RS() {
  if (!Take(2)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  at += 2;
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t CPreR13Cursor::RL() {
  if (!Take(4)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  at += 4;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

double CPreR13Cursor::RD() {
  if (!Take(8)) return 0.0;
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) {
    bits = bits << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  at += 8;
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

Vec2 CPreR13Cursor::Point2() {
  const double x = RD();
  const double y = RD();
  return {x, y};
}

Vec3 CPreR13Cursor::Point3() {
  const double x = RD();
  const double y = RD();
  const double z = RD();
  return {x, y, z};
}

std::string_view CPreR13Cursor::TV() {
  const std::uint16_t size = RS();
  return Bytes(size);
}

std::string_view CPreR13Cursor::TF(std::size_t size) {
  std::string_view field = Bytes(size);
  const std::size_t nul = field.find('\0');
  return nul == std::string_view::npos ? field : field.substr(0, nul);
}

std::string_view CPreR13Cursor::Bytes(std::size_t size) {
  if (!Take(size)) return {};
  const std::string_view field = bytes.substr(at, size);
  at += size;
  return field;
}

void CPreR13Cursor::Skip(std::size_t size) {
  if (Take(size)) at += size;
}

// ---- The file --------------------------------------------------------------------------

bool ReadPreR13File(std::string_view bytes, CPreR13File& out, std::string& reason) {
  out = CPreR13File{};
  out.bytes = bytes;
  bool unsupported = false;
  if (!PreR13ReleaseOf(bytes, out.release, &unsupported)) {
    reason = unsupported ? "files of R1.1 to R1.3 are not supported"
                         : "file header: not a DWG file before R13 (byte offset 0)";
    return false;
  }
  out.magic = std::string(bytes.substr(0, 6));
  if (out.release == PreR13Release::R1_4) return ReadR1File(bytes, out, reason);

  constexpr std::size_t kDirectoryEnd = 0x5E;
  if (bytes.size() < kDirectoryEnd) {
    reason = "file header: the file is too short for its directory (byte offset 0)";
    return false;
  }
  CPreR13Cursor header(bytes, 0x11, kDirectoryEnd);
  out.variableCount = header.RS();
  header.RC();
  const std::uint32_t entitiesStart = header.RL();
  const std::uint32_t entitiesEnd = header.RL();
  const std::uint32_t blocksStart = header.RL();
  const std::uint32_t blocksSize = header.RL() & 0xFFFFFF;
  const std::uint32_t extrasStart = header.RL();
  const std::uint32_t extrasSize = header.RL() & 0xFFFFFF;

  // The variables end by their count; a count between the known ones reads as far as the
  // largest block it covers, a count below them as the first.
  out.variablesEnd = kVariableBlocks[0].end;
  for (const CVariableBlock& block : kVariableBlocks) {
    if (out.variableCount >= block.count) out.variablesEnd = block.end;
  }
  if (out.variablesEnd > bytes.size()) {
    reason = "header variables: the file ends inside them (byte offset " +
             std::to_string(bytes.size()) + ")";
    return false;
  }

  // A section that starts outside the file is lost; one cut short by the end of the file is
  // read as far as it goes.
  auto section = [&](std::uint32_t start, std::uint64_t end, std::size_t field, const char* name,
                     CPreR13Section& result) {
    if (start == 0 && end == 0) return;
    if (end < start || start < out.variablesEnd || start > bytes.size()) {
      NoteDamage(out, std::string("file header: the ") + name + " lie outside the file", field);
      return;
    }
    if (end > bytes.size()) {
      NoteDamage(out, std::string("file header: the file ends inside the ") + name, bytes.size());
      end = bytes.size();
    }
    result = {start, static_cast<std::size_t>(end)};
  };
  section(entitiesStart, entitiesEnd, 0x14, "entities", out.entities);
  section(blocksStart, std::uint64_t{blocksStart} + blocksSize, 0x1C, "blocks", out.blocks);
  section(extrasStart, std::uint64_t{extrasStart} + extrasSize, 0x24, "extra entities", out.extras);

  const bool r10 = out.release >= PreR13Release::R10;
  const bool r11 = out.release >= PreR13Release::R11;
  for (int id = 0; id < kTableCount; ++id) {
    const std::size_t at = kTableEntries[id];
    if (at + 10 > out.variablesEnd) continue;
    CPreR13Cursor entry(bytes, at, at + 10);
    CPreR13Table& table = out.tables[id];
    table.recordSize = entry.RS();
    table.count = entry.RS();
    table.flags = entry.RS();
    table.address = entry.RL();
    table.present = true;
  }

  const CVariableReader variables(bytes, out.variablesEnd);
  variables.Point(0x5E, out.insBase);
  variables.Point(0x78, out.extMin);
  variables.Point(0x90, out.extMax);
  variables.Point(0xA8, out.limMin);
  variables.Point(0xB8, out.limMax);
  variables.Point(0xC8, out.viewCenter);
  variables.Real(0xE0, out.viewSize);
  variables.Real(0x132, out.ltScale);
  variables.Real(0x15C, out.viewAspect);
  variables.Point(0x239, out.viewDirection);
  variables.Short(0x35D, out.pdMode);
  variables.Real(0x35F, out.pdSize);
  if (r10) variables.Short(0x3F9, out.codePage);
  if (r11) {
    variables.Short(0x156, out.psLtScale);
    variables.Short(0x631, out.tileMode);
    variables.Point(0x637, out.pExtMin);
    variables.Point(0x64F, out.pExtMax);
    variables.Point(0x667, out.pLimMin);
    variables.Point(0x677, out.pLimMax);
  }

  if (r11) {
    // A checksum of everything before it follows the variables, then the entities' sentinel.
    const std::size_t crcAt = out.variablesEnd;
    CPreR13Cursor stored(bytes, crcAt, crcAt + 2);
    const std::uint16_t crc = stored.RS();
    if (stored.Failed() || Crc16(kCrcSeed, bytes.substr(0, crcAt)) != crc) {
      NoteDamage(out, "header variables: checksum mismatch", crcAt);
    }
    if (out.entities.start >= 16 &&
        bytes.substr(out.entities.start - 16, 16) != kEntitiesSentinel) {
      NoteDamage(out, "entities: the sentinel before them is missing", out.entities.start - 16);
    }
  }
  return true;
}

// ---- Entity records --------------------------------------------------------------------

std::string PreR13TypeName(int type) {
  static constexpr const char* kNames[] = {
      nullptr, "LINE",     "POINT",  "CIRCLE", "SHAPE",  "REPEAT",    "ENDREP",  "TEXT",   "ARC",
      "TRACE", "LOAD",     "SOLID",  "BLOCK",  "ENDBLK", "INSERT",    "ATTDEF",  "ATTRIB", "SEQEND",
      "JUMP",  "POLYLINE", "VERTEX", "3DLINE", "3DFACE", "DIMENSION", "VIEWPORT"};
  if (type > 0 && type < static_cast<int>(std::size(kNames))) return kNames[type];
  return "type " + std::to_string(type);
}

bool ReadPreR13Record(const CPreR13File& file, std::size_t at, std::size_t limit,
                      CPreR13Record& out, std::string& problem) {
  out = CPreR13Record{};
  const bool r10 = file.release >= PreR13Release::R10;
  const bool r11 = file.release >= PreR13Release::R11;
  const std::size_t checksum = r11 ? 2 : 0;
  CPreR13Cursor head(file.bytes, at, limit);
  const std::uint8_t type = head.RC();
  out.flags = head.RC();
  const std::uint16_t size = head.RS();
  out.start = at;
  out.type = type & 0x7F;
  out.deleted = (type & 0x80) != 0;
  const bool jump = out.type == pretype::kJump;
  // Type, flags and size, then a jump address or the layer and the option bits.
  const std::size_t smallest = 8 + checksum;
  if (head.Failed() || size < smallest || size > limit - at) {
    problem = head.Failed() || size < smallest ? "an entity record has an impossible size"
                                               : "an entity record passes the end of its section";
    return false;
  }
  out.end = at + size;
  out.dataEnd = out.end - checksum;
  if (r11) {
    CPreR13Cursor stored(file.bytes, out.dataEnd, out.end);
    out.crcMatches = Crc16(kCrcSeed, file.bytes.substr(at, out.dataEnd - at)) == stored.RS();
  }
  CPreR13Cursor d(file.bytes, head.Position(), out.dataEnd);
  if (jump) {
    out.jumpTarget = d.RL();
    out.dataStart = d.Position();
    return true;
  }
  out.layer = d.RS();
  out.options = d.RS();
  if (out.flags & 0x40) out.extra = d.RC();
  if (out.extra & 2) out.extendedData = d.Bytes(d.RS());
  if (out.flags & 1) out.color = d.RC();
  if (out.flags & 2) out.linetype = r11 ? d.RS() : d.RC();
  // From R10 on, these four kinds have 3D points, and the flag says they are 2D instead.
  const bool flatFlag = r10 && (out.type == pretype::kLine || out.type == pretype::kPoint ||
                                out.type == pretype::kFace3d || out.type == pretype::kLine3d);
  if ((out.flags & 4) && !flatFlag) {
    out.hasElevation = true;
    out.elevation = d.RD();
  }
  if (out.flags & 8) out.thickness = d.RD();
  if (out.flags & 0x20) d.Skip(d.RC());  // the handle
  if (out.extra & 4) {
    out.hasViewport = true;
    out.viewport = d.RS();
  }
  if (d.Failed()) {
    problem = PreR13TypeName(out.type) + " ends in its common part";
    return false;
  }
  out.dataStart = d.Position();
  return true;
}

std::vector<CPreR13ExtendedItem> ReadPreR13ExtendedData(std::string_view bytes) {
  std::vector<CPreR13ExtendedItem> items;
  CPreR13Cursor d(bytes, 0, bytes.size());
  while (d.Left() > 0) {
    CPreR13ExtendedItem item;
    item.code = d.RC();
    switch (item.code) {
      case 0:
      case 4:
        item.text = d.Bytes(d.RC());
        break;
      case 1:
      case 3:
      case 70:
        item.integer = d.SignedRS();
        break;
      case 2:
        item.integer = d.RC();
        break;
      case 5:
        d.Skip(8);
        break;
      case 10:
      case 11:
      case 12:
      case 13:
      case 14:
      case 15: {
        const Vec3 point = d.Point3();
        item.reals[0] = point.x;
        item.reals[1] = point.y;
        item.reals[2] = point.z;
        break;
      }
      case 40:
      case 41:
      case 42:
        item.reals[0] = d.RD();
        break;
      case 71:
        item.integer = static_cast<std::int32_t>(d.RL());
        break;
      default:
        return items;  // an unknown code: its size is unknown too
    }
    if (d.Failed()) break;
    items.push_back(item);
  }
  return items;
}

}  // namespace drawing::dwg::detail
