#include "drawing/dwg/BitReader.h"

#include <array>
#include <bit>
#include <cstring>

namespace drawing::dwg {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xA001u : value >> 1;
    table[i] = static_cast<std::uint16_t>(value);
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    table[i] = value;
  }
  return table;
}

constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32Table = MakeCrc32Table();

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::uint64_t CHandleRef::Absolute(std::uint64_t reference) const {
  switch (code) {
    case 0x6:
      return reference + 1;
    case 0x8:
      return reference - 1;
    case 0xA:
      return reference + value;
    case 0xC:
      return reference - value;
    default:
      return value;
  }
}

CBitReader::CBitReader(std::string_view bytes, Version version)
    : CBitReader(bytes, version, 0, bytes.size() * 8) {}

CBitReader::CBitReader(std::string_view bytes, Version version, std::size_t startBit,
                       std::size_t endBit)
    : bytes(bytes), version(version) {
  const std::size_t limit = bytes.size() * 8;
  this->endBit = endBit < limit ? endBit : limit;
  if (startBit > this->endBit) {
    this->startBit = this->position = this->endBit;
    failed = true;
  } else {
    this->startBit = this->position = startBit;
  }
}

bool CBitReader::Need(std::size_t bits) {
  if (failed) return false;
  if (bits > endBit - position) {
    failed = true;
    return false;
  }
  return true;
}

std::uint64_t CBitReader::ReadBitsUnchecked(unsigned count) {
  if (count == 0) return 0;
  // The eight bytes from the current one on (fewer at the end of the bytes), most significant
  // first; count + the bit offset never passes 64 as count is at most 57.
  const std::size_t at = position >> 3;
  const unsigned offset = static_cast<unsigned>(position & 7);
  std::uint64_t window = 0;
  if (bytes.size() - at >= 8) {
    std::memcpy(&window, bytes.data() + at, 8);
    window = __builtin_bswap64(window);
  } else {
    for (std::size_t i = 0; i < 8; ++i) {
      const std::uint64_t byte =
          at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0;
      window |= byte << (56 - 8 * i);
    }
  }
  position += count;
  return (window << offset) >> (64 - count);
}

void CBitReader::SetPosition(std::size_t bit) {
  if (failed) return;
  if (bit < startBit || bit > endBit) {
    failed = true;
    return;
  }
  position = bit;
}

void CBitReader::SkipBits(std::size_t count) {
  if (Need(count)) position += count;
}

void CBitReader::SkipBytes(std::size_t count) {
  if (count > BitsLeft() / 8) {
    failed = true;
    return;
  }
  position += count * 8;
}

void CBitReader::AlignToByte() {
  const std::size_t rest = position & 7;
  if (rest != 0) SkipBits(8 - rest);
}

bool CBitReader::ReadB() {
  return Need(1) && ReadBitsUnchecked(1) != 0;
}

std::uint8_t CBitReader::ReadBB() {
  return Need(2) ? static_cast<std::uint8_t>(ReadBitsUnchecked(2)) : 0;
}

std::uint8_t CBitReader::Read3B() {
  std::uint8_t value = 0;
  for (int i = 0; i < 3; ++i) {
    if (!Need(1)) return 0;
    const bool bit = ReadBitsUnchecked(1) != 0;
    value = static_cast<std::uint8_t>(value << 1 | (bit ? 1 : 0));
    if (!bit) break;
  }
  return value;
}

std::uint16_t CBitReader::ReadBS() {
  switch (ReadBB()) {
    case 0:
      return ReadRS();
    case 1:
      return ReadRC();
    case 2:
      return 0;
    default:
      return failed ? 0 : 256;
  }
}

std::uint32_t CBitReader::ReadBL() {
  switch (ReadBB()) {
    case 0:
      return ReadRL();
    case 1:
      return ReadRC();
    case 2:
      return 0;
    default:
      // 11 is not used by the format.
      failed = true;
      return 0;
  }
}

std::uint64_t CBitReader::ReadBLL() {
  // The byte count is a plain 3-bit number (not the stop-at-zero 3B form).
  if (!Need(3)) return 0;
  const unsigned length = static_cast<unsigned>(ReadBitsUnchecked(3));
  if (!Need(length * 8)) return 0;
  std::uint64_t value = 0;
  for (unsigned i = 0; i < length; ++i) value |= ReadBitsUnchecked(8) << (8 * i);
  return value;
}

double CBitReader::ReadBD() {
  switch (ReadBB()) {
    case 0:
      return ReadRD();
    case 1:
      return 1.0;
    case 2:
      return 0.0;
    default:
      failed = true;
      return 0.0;
  }
}

double CBitReader::ReadDD(double defaultValue) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(defaultValue);
  switch (ReadBB()) {
    case 0:
      return failed ? 0.0 : defaultValue;
    case 1: {
      // Four bytes replace the low four bytes of the default.
      const std::uint64_t low = ReadRL();
      if (failed) return 0.0;
      bits = (bits & 0xFFFFFFFF00000000ull) | low;
      return std::bit_cast<double>(bits);
    }
    case 2: {
      // Two bytes replace bytes 4 and 5, then four bytes replace bytes 0 to 3.
      const std::uint64_t middle = ReadRS();
      const std::uint64_t low = ReadRL();
      if (failed) return 0.0;
      bits = (bits & 0xFFFF000000000000ull) | (middle << 32) | low;
      return std::bit_cast<double>(bits);
    }
    default:
      return ReadRD();
  }
}

std::uint8_t CBitReader::ReadRC() {
  return Need(8) ? static_cast<std::uint8_t>(ReadBitsUnchecked(8)) : 0;
}

std::uint16_t CBitReader::ReadRS() {
  if (!Need(16)) return 0;
  return __builtin_bswap16(static_cast<std::uint16_t>(ReadBitsUnchecked(16)));
}

std::uint16_t CBitReader::ReadRSBigEndian() {
  return Need(16) ? static_cast<std::uint16_t>(ReadBitsUnchecked(16)) : 0;
}

std::uint32_t CBitReader::ReadRL() {
  if (!Need(32)) return 0;
  return __builtin_bswap32(static_cast<std::uint32_t>(ReadBitsUnchecked(32)));
}

std::uint64_t CBitReader::ReadRLL() {
  if (!Need(64)) return 0;
  const std::uint64_t low = __builtin_bswap32(static_cast<std::uint32_t>(ReadBitsUnchecked(32)));
  const std::uint64_t high = __builtin_bswap32(static_cast<std::uint32_t>(ReadBitsUnchecked(32)));
  return high << 32 | low;
}

double CBitReader::ReadRD() {
  const std::uint64_t bits = ReadRLL();
  return failed ? 0.0 : std::bit_cast<double>(bits);
}

std::int64_t CBitReader::ReadMC() {
  // Seven bits a byte, least significant group first; the high bit says another byte follows
  // and the 0x40 bit of the last byte is the sign. Eight bytes hold more than any offset.
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    const unsigned byte = ReadRC();
    if (failed) return 0;
    if ((byte & 0x80) == 0) {
      value |= static_cast<std::uint64_t>(byte & 0x3F) << (7 * i);
      const auto magnitude = static_cast<std::int64_t>(value);
      return (byte & 0x40) ? -magnitude : magnitude;
    }
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
  }
  failed = true;
  return 0;
}

std::uint64_t CBitReader::ReadUMC() {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    const unsigned byte = ReadRC();
    if (failed) return 0;
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) return value;
  }
  failed = true;
  return 0;
}

std::uint32_t CBitReader::ReadMS() {
  // Fifteen bits a little-endian word; two words cover every object size (up to 1 GiB).
  std::uint32_t value = 0;
  for (int i = 0; i < 2; ++i) {
    const unsigned word = ReadRS();
    if (failed) return 0;
    value |= static_cast<std::uint32_t>(word & 0x7FFF) << (15 * i);
    if ((word & 0x8000) == 0) return value;
  }
  failed = true;
  return 0;
}

CHandleRef CBitReader::ReadH() {
  CHandleRef handle;
  const unsigned first = ReadRC();
  if (failed) return handle;
  handle.code = static_cast<std::uint8_t>(first >> 4);
  handle.counter = static_cast<std::uint8_t>(first & 0x0F);
  if (handle.counter > 8 || !Need(handle.counter * 8u)) {
    failed = true;
    return CHandleRef{};
  }
  for (unsigned i = 0; i < handle.counter; ++i)
    handle.value = handle.value << 8 | ReadBitsUnchecked(8);
  return handle;
}

CPoint3 CBitReader::ReadBE() {
  if (version >= Version::R2000 && ReadB()) return CPoint3{0.0, 0.0, 1.0};
  return Read3BD();
}

double CBitReader::ReadBT() {
  if (version >= Version::R2000 && ReadB()) return 0.0;
  return ReadBD();
}

std::uint16_t CBitReader::ReadOT() {
  if (version < Version::R2010) return ReadBS();
  switch (ReadBB()) {
    case 0:
      return ReadRC();
    case 1: {
      const std::uint16_t low = ReadRC();
      return failed ? 0 : static_cast<std::uint16_t>(low + 0x1F0);
    }
    default:
      return ReadRS();
  }
}

CPoint2 CBitReader::Read2RD() {
  CPoint2 point;
  point.x = ReadRD();
  point.y = ReadRD();
  return point;
}

CPoint2 CBitReader::Read2BD() {
  CPoint2 point;
  point.x = ReadBD();
  point.y = ReadBD();
  return point;
}

CPoint3 CBitReader::Read3BD() {
  CPoint3 point;
  point.x = ReadBD();
  point.y = ReadBD();
  point.z = ReadBD();
  return point;
}

CPoint3 CBitReader::Read3RD() {
  CPoint3 point;
  point.x = ReadRD();
  point.y = ReadRD();
  point.z = ReadRD();
  return point;
}

std::string CBitReader::ReadTV() {
  const std::size_t length = ReadBS();
  return ReadBytes(length);
}

std::u16string CBitReader::ReadTU() {
  const std::size_t length = ReadBS();
  std::u16string text;
  if (failed || length > BitsLeft() / 16) {
    failed = true;
    return text;
  }
  text.resize(length);
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(ReadRS());
  return text;
}

std::string CBitReader::ReadText() {
  if (version >= Version::R2007) {
    std::u16string wide = ReadTU();
    if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    return Utf16ToUtf8(wide);
  }
  std::string text = ReadTV();
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

CCmColor CBitReader::ReadCMC(CBitReader* strings) {
  CCmColor color;
  color.index = static_cast<std::int16_t>(ReadBS());
  if (version < Version::R2004) return color;
  color.rgb = ReadBL();
  color.flags = ReadRC();
  CBitReader& names = strings ? *strings : *this;
  if (color.flags & 1) color.name = names.ReadText();
  if (color.flags & 2) color.bookName = names.ReadText();
  if (strings && strings->Failed()) failed = true;
  return color;
}

CEntityColor CBitReader::ReadENC() {
  CEntityColor color;
  const std::uint16_t raw = ReadBS();
  if (version < Version::R2004) {
    color.index = raw;
    return color;
  }
  color.index = raw & 0x1FF;
  color.flags = raw & 0xE000;
  // A colour given by a DBCOLOR handle stores no RGB word here.
  if (color.flags & CEntityColor::kColorHandle) {
  } else if (color.flags & CEntityColor::kRgb) {
    color.rgb = ReadBL();
  }
  if (color.flags & CEntityColor::kTransparency) color.transparency = ReadBL();
  return color;
}

std::string CBitReader::ReadBytes(std::size_t count) {
  std::string out;
  if (failed || count > BitsLeft() / 8) {
    failed = true;
    return out;
  }
  out.resize(count);
  if ((position & 7) == 0) {
    out.assign(bytes.substr(position >> 3, count));
    position += count * 8;
  } else {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>(ReadBitsUnchecked(8));
  }
  return out;
}

bool CBitReader::ReadSentinel(std::string_view sentinel) {
  const std::string read = ReadBytes(16);
  return !failed && read == sentinel;
}

bool FindStringStream(std::string_view bytes, std::size_t endBit, std::size_t minimumBit,
                      std::size_t& start, std::size_t& end) {
  if (endBit == 0 || endBit > bytes.size() * 8 || minimumBit >= endBit) return false;
  const std::size_t flag = endBit - 1;
  CBitReader reader(bytes, Version::R2007, minimumBit, endBit);
  reader.SetPosition(flag);
  if (!reader.ReadB()) {
    start = end = flag;
    return !reader.Failed();
  }
  if (flag - minimumBit < 16) return false;
  std::size_t fields = flag - 16;
  reader.SetPosition(fields);
  std::size_t size = reader.ReadRS();
  if (size & 0x8000) {
    if (fields - minimumBit < 16) return false;
    fields -= 16;
    reader.SetPosition(fields);
    const std::size_t high = reader.ReadRS();
    size = (size & 0x7FFF) | (high << 15);
  }
  if (reader.Failed() || size > fields - minimumBit) return false;
  start = fields - size;
  end = fields;
  return true;
}

std::uint16_t Crc16(std::uint16_t seed, std::string_view bytes) {
  unsigned crc = seed;
  for (const char c : bytes) {
    crc = (crc >> 8) ^ kCrc16Table[(crc ^ static_cast<unsigned char>(c)) & 0xFF];
  }
  return static_cast<std::uint16_t>(crc);
}

std::uint32_t Crc32(std::uint32_t seed, std::string_view bytes) {
  std::uint32_t crc = ~seed;
  for (const char c : bytes) {
    crc = (crc >> 8) ^ kCrc32Table[(crc ^ static_cast<unsigned char>(c)) & 0xFF];
  }
  return ~crc;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace drawing::dwg
