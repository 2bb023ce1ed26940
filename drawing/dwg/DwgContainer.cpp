#include "drawing/dwg/DwgContainer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <exception>
#include <new>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/dwg/detail/DwgContainerBuilder.h"

namespace drawing::dwg {

std::string_view VersionMagic(Version version) {
  switch (version) {
    case Version::R13:
      return "AC1012";
    case Version::R14:
      return "AC1014";
    case Version::R2000:
      return "AC1015";
    case Version::R2004:
      return "AC1018";
    case Version::R2007:
      return "AC1021";
    case Version::R2010:
      return "AC1024";
    case Version::R2013:
      return "AC1027";
    case Version::R2018:
      return "AC1032";
  }
  return "";
}

std::string_view VersionName(Version version) {
  switch (version) {
    case Version::R13:
      return "R13";
    case Version::R14:
      return "R14";
    case Version::R2000:
      return "R2000";
    case Version::R2004:
      return "R2004";
    case Version::R2007:
      return "R2007";
    case Version::R2010:
      return "R2010";
    case Version::R2013:
      return "R2013";
    case Version::R2018:
      return "R2018";
  }
  return "";
}

CDwgContainer::CDwgContainer() = default;
CDwgContainer::~CDwgContainer() = default;
CDwgContainer::CDwgContainer(CDwgContainer&&) noexcept = default;
CDwgContainer& CDwgContainer::operator=(CDwgContainer&&) noexcept = default;

const CDwgSection* CDwgContainer::FindSection(std::string_view name) const {
  for (const CDwgSection& section : sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

const CDwgClass* CDwgContainer::FindClass(std::uint16_t number) const {
  for (const CDwgClass& klass : classes) {
    if (klass.number == number) return &klass;
  }
  return nullptr;
}

bool CDwgContainer::FindObject(std::uint64_t handle, std::uint64_t& offset) const {
  const auto found = std::lower_bound(
      objectMap.begin(), objectMap.end(), handle,
      [](const CDwgObjectLocation& entry, std::uint64_t value) { return entry.handle < value; });
  if (found == objectMap.end() || found->handle != handle) return false;
  offset = found->offset;
  return true;
}

std::uint64_t CDwgContainer::ObjectLimit(std::uint64_t offset) const {
  const auto next = std::upper_bound(objectOffsets.begin(), objectOffsets.end(), offset);
  return next == objectOffsets.end() ? objectData.size() : *next;
}

namespace detail {

const std::string_view kHeaderStartSentinel(
    "\xCF\x7B\x1F\x23\xFD\xDE\x38\xA9\x5F\x7C\x68\xB8\x4E\x6D\x33\x5F", 16);
const std::string_view kHeaderEndSentinel(
    "\x30\x84\xE0\xDC\x02\x21\xC7\x56\xA0\x83\x97\x47\xB1\x92\xCC\xA0", 16);
const std::string_view kClassesStartSentinel(
    "\x8D\xA1\xC4\xB8\xC4\xA9\xF8\xC5\xC0\xDC\xF4\x5F\xE7\xCF\xB6\x8A", 16);
const std::string_view kClassesEndSentinel(
    "\x72\x5E\x3B\x47\x3B\x56\x07\x3A\x3F\x23\x0B\xA0\x18\x30\x49\x75", 16);
const std::string_view kFileHeaderEndSentinel(
    "\x95\xA0\x4E\x28\x99\x82\x1A\xE5\x5E\x41\xE0\x5F\x9D\x3A\x4D\x00", 16);
const std::string_view kPasswordMessage = "the drawing is protected by a password";

std::string Printable(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return out;
}

bool IsNeededSection(std::string_view name) {
  return name == "AcDb:Header" || name == "AcDb:Classes" || name == "AcDb:Handles" ||
         name == "AcDb:AcDbObjects";
}

namespace {

std::uint32_t LoadLittleEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

unsigned LoadBigEndian16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 8 |
         static_cast<unsigned char>(bytes[at + 1]);
}

unsigned LoadLittleEndian16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<unsigned char>(bytes[at]);
}

}  // namespace

namespace {

// The order in which the two page checksums take the bytes: R2004 pages one after the other,
// R2007 pages each group of eight as 6 7 4 5 2 3 0 1 (and a last, shorter group in an order of
// its own).
enum class SumOrder { Plain, Shuffled };

// The weight each byte of a group of sixteen adds to the second sum (16 for the first byte
// taken, 1 for the last).
struct CGroupWeights {
  std::uint16_t weight[16];
};

constexpr CGroupWeights kPlainWeights = {{16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}};
constexpr CGroupWeights kShuffledWeights = {
    {10, 9, 12, 11, 14, 13, 16, 15, 2, 1, 4, 3, 6, 5, 8, 7}};

// The order of the bytes of a last group shorter than eight, as R2007 pages take them.
constexpr std::uint8_t kShuffledTail[8][7] = {{},
                                              {0},
                                              {0, 1},
                                              {0, 1, 2},
                                              {2, 3, 0, 1},
                                              {2, 3, 0, 1, 4},
                                              {2, 3, 0, 1, 4, 5},
                                              {2, 3, 0, 1, 4, 5, 6}};

// Like Adler-32: two sums modulo 0xFFF1 over the bytes, from the two halves of `start`.
std::uint32_t Sums(std::uint32_t start, std::string_view bytes, SumOrder order) {
  // 0x15B0 bytes is the longest run whose sums cannot overflow 32 bits.
  std::uint32_t sum1 = start & 0xFFFF;
  std::uint32_t sum2 = start >> 16;
  const CGroupWeights& weights = order == SumOrder::Plain ? kPlainWeights : kShuffledWeights;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  while (left > 0) {
    const std::size_t chunk = left < 0x15B0 ? left : 0x15B0;
    // Sixteen bytes at a time: the second sum grows by sixteen times the first, by the bytes
    // of the group weighted by the order they are taken in, and the first by their sum.
    // Summed over the groups (the first sums before each group added up in `earlier`) these
    // give the sums of the byte-by-byte loop at the end of the groups, so nothing overflows
    // sooner.
    const std::size_t groups = chunk / 16;
    std::uint64_t bytesSum = 0, earlier = 0, weighted = 0;
#if defined(__SSE2__)
    // The same with SSE2, which every x86-64 processor has: a checksum of every page of a
    // file otherwise costs a quarter of reading an R2004 drawing.
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights.weight));
    const __m128i weightsHigh =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights.weight + 8));
    __m128i total = zero, before = zero, products = zero;
    for (std::size_t g = 0; g < groups; ++g) {
      const __m128i bytes16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g));
      before = _mm_add_epi64(before, total);
      total = _mm_add_epi64(total, _mm_sad_epu8(bytes16, zero));
      products = _mm_add_epi32(
          products, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(bytes16, zero), weightsLow),
                                  _mm_madd_epi16(_mm_unpackhi_epi8(bytes16, zero), weightsHigh)));
    }
    std::uint64_t lanes[2];
    std::uint32_t sums[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), total);
    bytesSum = lanes[0] + lanes[1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), before);
    earlier = lanes[0] + lanes[1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), products);
    weighted = std::uint64_t{sums[0]} + sums[1] + sums[2] + sums[3];
#else
    for (std::size_t g = 0; g < groups; ++g) {
      earlier += bytesSum;
      for (std::uint32_t k = 0; k < 16; ++k) {
        bytesSum += data[16 * g + k];
        weighted += std::uint64_t{weights.weight[k]} * data[16 * g + k];
      }
    }
#endif
    sum2 += static_cast<std::uint32_t>(16 * groups * sum1 + 16 * earlier + weighted);
    sum1 += static_cast<std::uint32_t>(bytesSum);
    // The rest of the chunk, shorter than a group, one byte at a time in the order's sequence.
    auto add = [&](unsigned char byte) {
      sum1 += byte;
      sum2 += sum1;
    };
    std::size_t i = groups * 16;
    if (order == SumOrder::Plain) {
      for (; i < chunk; ++i) add(data[i]);
    } else {
      for (; chunk - i >= 8; i += 8) {
        for (const int k : {6, 7, 4, 5, 2, 3, 0, 1}) add(data[i + k]);
      }
      const std::size_t rest = chunk - i;
      for (std::size_t k = 0; k < rest; ++k) add(data[i + kShuffledTail[rest][k]]);
    }
    data += chunk;
    left -= chunk;
    sum1 %= 0xFFF1;
    sum2 %= 0xFFF1;
  }
  return (sum2 << 16) | (sum1 & 0xFFFF);
}

}  // namespace

std::uint32_t PageChecksum(std::uint32_t seed, std::string_view bytes) {
  return Sums(seed, bytes, SumOrder::Plain);
}

std::uint32_t PageChecksumR2007(std::uint64_t seed, std::string_view bytes) {
  // The seed is first stirred with the length by the step of the C library's random numbers.
  const std::uint64_t start = (seed + bytes.size()) * 0x343FD + 0x269EC3;
  return Sums(static_cast<std::uint32_t>(start), bytes, SumOrder::Shuffled);
}

bool CDwgContainerBuilder::Fail(std::string_view stage, std::string_view what,
                                std::uint64_t offset) {
  failure.assign(stage);
  failure += ": ";
  failure += what;
  failure += " (byte offset " + std::to_string(offset);
  if (!offsetContext.empty()) {
    failure += " in ";
    failure += offsetContext;
  }
  failure += ')';
  return false;
}

void CDwgContainerBuilder::Note(std::string_view stage, std::string_view what,
                                std::uint64_t offset) {
  ++out.damageCount;
  if (!note.empty()) return;
  note.assign(stage);
  note += ": ";
  note += what;
  note += " (byte offset " + std::to_string(offset);
  if (!offsetContext.empty()) {
    note += " in ";
    note += offsetContext;
  }
  note += ')';
}

char* CDwgContainerBuilder::Allocate(std::size_t size) {
  if (size == 0) return nullptr;
  out.ownedBuffers.push_back(std::make_unique<char[]>(size));
  return out.ownedBuffers.back().get();
}

bool HasHighSizeWord(Version version, std::uint8_t maintenanceRelease) {
  return version >= Version::R2018 || (version >= Version::R2010 && maintenanceRelease > 3);
}

bool CDwgContainerBuilder::HasHighSizeWord() const {
  return detail::HasHighSizeWord(out.version, out.maintenanceRelease);
}

CDwgContainerBuilder::SectionStart CDwgContainerBuilder::StartSection(CDwgSection& section,
                                                                      bool hasPages) {
  if (section.encrypted == 1) {
    if (IsNeededSection(section.name)) {
      failure.assign(kPasswordMessage);
      return SectionStart::Failed;
    }
    out.sections.push_back(section);
    return SectionStart::Kept;
  }
  if (!hasPages || section.size == 0) {
    section.available = section.size == 0;
    out.sections.push_back(section);
    return SectionStart::Kept;
  }
  return SectionStart::ReadPages;
}

void CDwgContainerBuilder::CheckHeaderBlock(std::string_view bytes, std::uint64_t base) {
  if (bytes.size() < 16 + 4 + 2 + 16 || bytes.substr(0, 16) != kHeaderStartSentinel) {
    Note("header variables", "the block does not start with its sentinel", base);
    return;
  }
  const std::uint64_t size = LoadLittleEndian32(bytes, 16);
  const std::size_t dataStart = HasHighSizeWord() ? 24 : 20;
  if (size > bytes.size() - dataStart - 2) {
    Note("header variables", "the size of the block passes its end", base + 16);
    return;
  }
  const std::size_t crcAt = dataStart + size;
  if (Crc16(0xC0C1, bytes.substr(16, crcAt - 16)) != LoadLittleEndian16(bytes, crcAt)) {
    Note("header variables", "checksum mismatch", base + crcAt);
  } else if (bytes.substr(crcAt + 2, 16) != kHeaderEndSentinel) {
    Note("header variables", "the end sentinel is missing", base + crcAt + 2);
  }
}

bool CDwgContainerBuilder::ReadClasses(std::string_view bytes, std::uint64_t base) {
  const Version version = out.version;
  CBitReader reader(bytes, version);
  if (!reader.ReadSentinel(kClassesStartSentinel)) {
    return Fail("classes", "the block does not start with its sentinel", base);
  }
  const std::uint64_t size = reader.ReadRL();
  if (HasHighSizeWord()) reader.ReadRL();
  const std::size_t dataStart = reader.Position() / 8;
  if (reader.Failed() || size > bytes.size() - dataStart) {
    return Fail("classes", "the size of the block passes its end", base + 16);
  }
  const std::size_t dataEnd = dataStart + size;
  if (dataEnd + 2 <= bytes.size()) {
    if (Crc16(0xC0C1, bytes.substr(16, dataEnd - 16)) != LoadLittleEndian16(bytes, dataEnd)) {
      Note("classes", "checksum mismatch", base + dataEnd);
    } else if (bytes.substr(dataEnd + 2, 16) != kClassesEndSentinel) {
      Note("classes", "the end sentinel is missing", base + dataEnd + 2);
    }
  } else {
    Note("classes", "the checksum is missing", base + dataEnd);
  }

  // The records; R2007 and later keep their names in a string stream at the end of the data.
  CBitReader data(bytes, version, reader.Position(), dataEnd * 8);
  CBitReader strings;
  std::size_t count = 0;
  const bool counted = version >= Version::R2004;
  if (version >= Version::R2007) {
    const std::size_t sizeField = data.Position();
    const std::uint64_t bitSize = data.ReadRL();
    std::size_t start = 0, end = 0;
    if (data.Failed() || bitSize == 0 || bitSize > dataEnd * 8 - sizeField ||
        !FindStringStream(bytes, sizeField + bitSize, data.Position(), start, end)) {
      return Fail("classes", "the string stream cannot be found", base + sizeField / 8);
    }
    strings = CBitReader(bytes, version, start, end);
    data = CBitReader(bytes, version, data.Position(), start);
  }
  if (counted) {
    const std::uint16_t maxNumber = data.ReadBS();
    data.ReadRC();
    data.ReadRC();
    data.ReadB();
    if (data.Failed()) return Fail("classes", "the block is cut short", base + dataStart);
    count = maxNumber >= 500 ? maxNumber - 499u : 0;
  }

  CBitReader& names = version >= Version::R2007 ? strings : data;
  for (std::size_t i = 0; counted ? i < count : data.BitsLeft() > 8; ++i) {
    const std::size_t recordStart = data.Position();
    CDwgClass klass;
    klass.number = data.ReadBS();
    klass.proxyFlags = data.ReadBS();
    klass.applicationName = names.ReadText();
    klass.cppClassName = names.ReadText();
    klass.dxfName = names.ReadText();
    klass.wasZombie = data.ReadB();
    klass.itemClassId = data.ReadBS();
    klass.isEntity = klass.itemClassId == 0x1F2;
    if (counted) {
      klass.instanceCount = data.ReadBL();
      // Two BL, not BS as sometimes described: classes of later releases need the long form.
      klass.dwgVersion = data.ReadBL();
      klass.maintenanceVersion = data.ReadBL();
      data.ReadBL();
      data.ReadBL();
    }
    if (data.Failed() || names.Failed()) {
      Note("classes", "class record " + std::to_string(i + 1) + " is cut short",
           base + recordStart / 8);
      break;
    }
    out.classes.push_back(std::move(klass));
  }
  return true;
}

bool CDwgContainerBuilder::ReadObjectMap(std::string_view bytes, std::uint64_t base) {
  // Chunks of at most about 2 KiB: a big-endian size (counting itself), pairs of deltas from
  // the previous handle and offset (both restart at 0 in every chunk), and a big-endian
  // checksum. A chunk of size 2 ends the map.
  constexpr std::int64_t kFarOffset = std::int64_t{1} << 60;
  std::vector<CDwgObjectLocation> entries;
  entries.reserve(bytes.size() / 4);
  const std::uint64_t limit = out.objectData.size();
  std::size_t at = 0;
  bool ended = false;
  std::size_t outside = 0;
  std::uint64_t firstOutside = 0;
  while (at + 2 <= bytes.size()) {
    const unsigned size = LoadBigEndian16(bytes, at);
    if (size < 2 || size > bytes.size() - at - 2) {
      if (entries.empty())
        return Fail("object map", "a chunk passes the end of the map", base + at);
      Note("object map", "a chunk passes the end of the map", base + at);
      break;
    }
    if (Crc16(0xC0C1, bytes.substr(at, size)) != LoadBigEndian16(bytes, at + size)) {
      Note("object map", "chunk checksum mismatch", base + at + size);
    }
    if (size == 2) {
      ended = true;
      break;
    }
    CBitReader reader(bytes, out.version, (at + 2) * 8, (at + size) * 8);
    std::uint64_t handle = 0;
    std::int64_t offset = 0;
    while (reader.BitsLeft() > 0) {
      const std::uint64_t handleDelta = reader.ReadUMC();
      const std::int64_t offsetDelta = reader.ReadMC();
      if (reader.Failed()) {
        Note("object map", "an entry is cut short", base + reader.Position() / 8);
        break;
      }
      handle += handleDelta;
      offset += offsetDelta;
      if (offset < -kFarOffset || offset > kFarOffset) {
        // Deltas are at most 2^55, so stopping here keeps the sum from overflowing.
        Note("object map", "an offset runs far outside the object data",
             base + reader.Position() / 8);
        break;
      }
      if (offset < 0 || static_cast<std::uint64_t>(offset) >= limit) {
        if (outside++ == 0) firstOutside = base + reader.Position() / 8;
        continue;
      }
      entries.push_back(CDwgObjectLocation{handle, static_cast<std::uint64_t>(offset)});
    }
    at += size + 2;
  }
  if (!ended) Note("object map", "the map does not end with an empty chunk", base + at);
  if (outside > 0) {
    Note("object map",
         std::to_string(outside) + " entries point outside the object data and were left out",
         firstOutside);
  }

  std::stable_sort(
      entries.begin(), entries.end(),
      [](const CDwgObjectLocation& a, const CDwgObjectLocation& b) { return a.handle < b.handle; });
  // Keep the last entry of every handle.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i + 1].handle == entries[i].handle) continue;
    entries[kept++] = entries[i];
  }
  entries.resize(kept);
  if (entries.empty()) return Fail("object map", "the map lists no objects", base);

  // Entries that share an offset: only the one naming the handle the object carries stays,
  // so that no object is framed (and its checksum computed) more than once.
  std::vector<std::uint64_t> offsets(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) offsets[i] = entries[i].offset;
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  out.objectOffsets = offsets;
  out.objectMap = std::move(entries);
  if (offsets.size() < out.objectMap.size()) {
    std::vector<CDwgObjectLocation> byOffset = out.objectMap;
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [](const CDwgObjectLocation& a, const CDwgObjectLocation& b) {
                       return a.offset < b.offset;
                     });
    std::vector<std::uint64_t> dropped;  // handles
    for (std::size_t first = 0; first < byOffset.size();) {
      std::size_t last = first + 1;
      while (last < byOffset.size() && byOffset[last].offset == byOffset[first].offset) ++last;
      if (last - first > 1) {
        CDwgObjectFrame frame;
        const bool framed = ReadObjectFrame(out, byOffset[first].offset, frame, nullptr);
        for (std::size_t i = first; i < last; ++i) {
          if (!framed || frame.handle != byOffset[i].handle) dropped.push_back(byOffset[i].handle);
        }
      }
      first = last;
    }
    std::sort(dropped.begin(), dropped.end());
    std::erase_if(out.objectMap, [&dropped](const CDwgObjectLocation& entry) {
      return std::binary_search(dropped.begin(), dropped.end(), entry.handle);
    });
    Note("object map",
         std::to_string(dropped.size()) + " entries share an offset with another and were left out",
         base);
    if (out.objectMap.empty()) return Fail("object map", "the map lists no objects", base);
    offsets.clear();
    for (const CDwgObjectLocation& entry : out.objectMap) offsets.push_back(entry.offset);
    std::sort(offsets.begin(), offsets.end());
    out.objectOffsets = std::move(offsets);
  }
  return true;
}

bool CDwgContainerBuilder::FinishSections(std::uint64_t mapAddress) {
  for (const char* name : {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects"}) {
    const CDwgSection* section = out.FindSection(name);
    if (!section || !section->available || section->bytes.empty()) {
      return Fail("section map", std::string("section ") + name + " is missing", mapAddress);
    }
  }
  const CDwgSection* headerSection = out.FindSection("AcDb:Header");
  const CDwgSection* classes = out.FindSection("AcDb:Classes");
  const CDwgSection* handles = out.FindSection("AcDb:Handles");
  const CDwgSection* objects = out.FindSection("AcDb:AcDbObjects");

  out.objectData = objects->bytes;
  out.headerVariables = headerSection->bytes;
  offsetContext = "AcDb:Header";
  CheckHeaderBlock(headerSection->bytes, 0);
  offsetContext = "AcDb:Classes";
  if (!ReadClasses(classes->bytes, 0)) return false;
  offsetContext = "AcDb:Handles";
  return ReadObjectMap(handles->bytes, 0);
}

}  // namespace detail

namespace {

struct CKnownMagic {
  std::string_view magic;
  Version version;
};

constexpr CKnownMagic kSupported[] = {
    {"AC1012", Version::R13},   {"AC1014", Version::R14},   {"AC1015", Version::R2000},
    {"AC1018", Version::R2004}, {"AC1021", Version::R2007}, {"AC1024", Version::R2010},
    {"AC1027", Version::R2013}, {"AC1032", Version::R2018},
};

constexpr std::string_view kOlderMagics[] = {"AC1009", "AC1006", "AC1004", "AC1003", "AC1002",
                                             "AC1001", "AC2.10", "AC2.21", "AC2.22", "AC1.50",
                                             "AC1.40", "AC1.2",  "MC0.0"};

bool ReadContainer(std::string_view file, CDwgContainer& out, std::string& message) {
  const std::string_view magic = file.substr(0, 6);
  for (const std::string_view older : kOlderMagics) {
    if (magic.substr(0, older.size()) == older) {
      message = "file header: a DWG file before R13, which has no object map (byte offset 0)";
      return false;
    }
  }
  bool known = false;
  for (const CKnownMagic& entry : kSupported) {
    if (magic == entry.magic) {
      out.version = entry.version;
      known = true;
    }
  }
  if (!known) {
    if (magic.size() == 6 && magic.substr(0, 2) == "AC") {
      message = "file header: unknown DWG version \"";
      for (const char c : magic) message += (c >= 0x20 && c < 0x7F) ? c : '?';
      message += "\" (byte offset 0)";
    } else {
      message = "file header: not a DWG file (byte offset 0)";
    }
    return false;
  }

  detail::CDwgContainerBuilder builder(file, out);
  const bool read = out.version == Version::R2007   ? builder.ReadR2007()
                    : HasPagedSections(out.version) ? builder.ReadPaged()
                                                    : builder.ReadPlain();
  message = read ? builder.FirstNote() : builder.Failure();
  return read;
}

}  // namespace

bool ReadDwgContainer(std::string_view file, CDwgContainer& out, std::string* error) {
  std::string message;
  bool read = false;
  try {
    out = CDwgContainer();
    read = ReadContainer(file, out, message);
  } catch (const std::bad_alloc&) {
    message = "out of memory while reading the DWG container";
    read = false;
  } catch (const std::exception& e) {
    message = std::string("the DWG container could not be read: ") + e.what();
    read = false;
  }
  if (error) *error = std::move(message);
  return read;
}

}  // namespace drawing::dwg
