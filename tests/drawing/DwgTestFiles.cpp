#include "DwgTestFiles.h"

#include <algorithm>
#include <cstring>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/detail/DwgContainerBuilder.h"
#include "drawing/dwg/detail/DwgLz77.h"

namespace dwgtest {

using drawing::dwg::Crc16;
using drawing::dwg::Crc32;
using drawing::dwg::detail::PageChecksum;
using drawing::dwg::detail::PageChecksumR2007;

std::string FromBits(std::string_view bits) {
  CBitWriter writer;
  for (const char c : bits) {
    if (c == '0' || c == '1') writer.B(c == '1');
  }
  return writer.Bytes();
}

void CBitWriter::Bits(std::uint64_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    if (bitCount % 8 == 0) bytes += '\0';
    if ((value >> i) & 1) bytes.back() = static_cast<char>(bytes.back() | (0x80 >> (bitCount % 8)));
    ++bitCount;
  }
}

void CBitWriter::RS(std::uint16_t value) {
  RC(static_cast<std::uint8_t>(value));
  RC(static_cast<std::uint8_t>(value >> 8));
}

void CBitWriter::RL(std::uint32_t value) {
  RS(static_cast<std::uint16_t>(value));
  RS(static_cast<std::uint16_t>(value >> 16));
}

void CBitWriter::BS(std::uint16_t value) {
  if (value == 0) {
    Bits(2, 2);
  } else if (value == 256) {
    Bits(3, 2);
  } else if (value < 256) {
    Bits(1, 2);
    RC(static_cast<std::uint8_t>(value));
  } else {
    Bits(0, 2);
    RS(value);
  }
}

void CBitWriter::BL(std::uint32_t value) {
  if (value == 0) {
    Bits(2, 2);
  } else if (value < 256) {
    Bits(1, 2);
    RC(static_cast<std::uint8_t>(value));
  } else {
    Bits(0, 2);
    RL(value);
  }
}

void CBitWriter::TV(std::string_view text) {
  BS(static_cast<std::uint16_t>(text.size()));
  for (const char c : text) RC(static_cast<std::uint8_t>(c));
}

void CBitWriter::TU(std::u16string_view text) {
  BS(static_cast<std::uint16_t>(text.size()));
  for (const char16_t unit : text) RS(static_cast<std::uint16_t>(unit));
}

void CBitWriter::RD(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) RC(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void CBitWriter::BD(double value) {
  if (value == 0.0) {
    Bits(2, 2);
  } else if (value == 1.0) {
    Bits(1, 2);
  } else {
    Bits(0, 2);
    RD(value);
  }
}

void CBitWriter::DD(double value, double defaultValue) {
  if (value == defaultValue) {
    Bits(0, 2);
  } else {
    Bits(3, 2);
    RD(value);
  }
}

void CBitWriter::H(std::uint8_t code, std::uint64_t value) {
  int counter = 0;
  for (std::uint64_t rest = value; rest != 0; rest >>= 8) ++counter;
  Bits(static_cast<std::uint64_t>(code) << 4 | static_cast<std::uint64_t>(counter), 8);
  for (int i = counter - 1; i >= 0; --i) RC(static_cast<std::uint8_t>(value >> (8 * i)));
}

namespace {

const std::string_view kHeaderStart(
    "\xCF\x7B\x1F\x23\xFD\xDE\x38\xA9\x5F\x7C\x68\xB8\x4E\x6D\x33\x5F", 16);
const std::string_view kHeaderEnd(
    "\x30\x84\xE0\xDC\x02\x21\xC7\x56\xA0\x83\x97\x47\xB1\x92\xCC\xA0", 16);
const std::string_view kClassesStart(
    "\x8D\xA1\xC4\xB8\xC4\xA9\xF8\xC5\xC0\xDC\xF4\x5F\xE7\xCF\xB6\x8A", 16);
const std::string_view kClassesEnd(
    "\x72\x5E\x3B\x47\x3B\x56\x07\x3A\x3F\x23\x0B\xA0\x18\x30\x49\x75", 16);
const std::string_view kFileHeaderEnd(
    "\x95\xA0\x4E\x28\x99\x82\x1A\xE5\x5E\x41\xE0\x5F\x9D\x3A\x4D\x00", 16);

void Put16(std::string& out, std::size_t at, unsigned value) {
  out[at] = static_cast<char>(value);
  out[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
  Put16(out, at, value & 0xFFFF);
  Put16(out, at + 2, value >> 16);
}

void Put64(std::string& out, std::size_t at, std::uint64_t value) {
  Put32(out, at, static_cast<std::uint32_t>(value));
  Put32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

void Append16(std::string& out, unsigned value) {
  out += static_cast<char>(value);
  out += static_cast<char>(value >> 8);
}

void Append32(std::string& out, std::uint32_t value) {
  Append16(out, value & 0xFFFF);
  Append16(out, value >> 16);
}

void Append64(std::string& out, std::uint64_t value) {
  Append32(out, static_cast<std::uint32_t>(value));
  Append32(out, static_cast<std::uint32_t>(value >> 32));
}

std::string ModularChar(std::uint64_t magnitude, bool negative, bool isSigned) {
  std::string out;
  for (;;) {
    unsigned group = magnitude & 0x7F;
    magnitude >>= 7;
    if (magnitude == 0 && (!isSigned || (group & 0x40) == 0)) {
      if (negative) group |= 0x40;
      out += static_cast<char>(group);
      return out;
    }
    out += static_cast<char>(group | 0x80);
  }
}

std::string MC(std::int64_t value) {
  return ModularChar(static_cast<std::uint64_t>(value < 0 ? -value : value), value < 0, true);
}

std::string UMC(std::uint64_t value) {
  return ModularChar(value, false, false);
}

// A block framed by sentinels: size, data, checksum of both.
std::string Block(std::string_view start, std::string_view data, std::string_view end) {
  std::string sized;
  Append32(sized, static_cast<std::uint32_t>(data.size()));
  sized += data;
  std::string block(start);
  block += sized;
  Append16(block, Crc16(0xC0C1, sized));
  block += end;
  return block;
}

std::string HeaderBlock() {
  // Placeholder variables: the container checks only the frame of this block.
  return Block(kHeaderStart, std::string(40, '\x55'), kHeaderEnd);
}

// The classes block of the release family: R2000, R2004 (counted records) or R2007 (counted
// records whose names are in a string stream at the end of the data).
enum class Family { R2000, R2004, R2007 };

std::string ClassesBlock(Family family) {
  CBitWriter writer;
  CBitWriter strings;
  if (family != Family::R2000) {
    writer.BS(500);  // the highest class number
    writer.RC(0);
    writer.RC(0);
    writer.B(true);
  }
  writer.BS(500);
  writer.BS(0);
  if (family == Family::R2007) {
    strings.TU(u"ObjectDBX Classes");
    strings.TU(u"AcDbDictionaryWithDefault");
    strings.TU(u"ACDBDICTIONARYWDFLT");
  } else {
    writer.TV("ObjectDBX Classes");
    writer.TV("AcDbDictionaryWithDefault");
    writer.TV("ACDBDICTIONARYWDFLT");
  }
  writer.B(false);
  writer.BS(0x1F3);
  if (family != Family::R2000) {
    writer.BL(1);
    writer.BL(22);
    writer.BL(42);
    writer.BL(0);
    writer.BL(0);
  }
  if (family != Family::R2007) return Block(kClassesStart, writer.Bytes(), kClassesEnd);

  // The size in bits of what follows the size field (itself included), then the records, the
  // strings, their size in bits and the bit saying they are there.
  CBitWriter data;
  data.RL(0);
  const std::string records = writer.Bytes();
  for (std::size_t i = 0; i < writer.BitCount(); ++i) {
    data.B((static_cast<unsigned char>(records[i / 8]) >> (7 - i % 8)) & 1);
  }
  const std::string text = strings.Bytes();
  for (std::size_t i = 0; i < strings.BitCount(); ++i) {
    data.B((static_cast<unsigned char>(text[i / 8]) >> (7 - i % 8)) & 1);
  }
  data.RS(static_cast<std::uint16_t>(strings.BitCount()));
  data.B(true);
  std::string bytes = data.Bytes();
  Put32(bytes, 0, static_cast<std::uint32_t>(data.BitCount()));
  return Block(kClassesStart, bytes, kClassesEnd);
}

// One object as stored: MS size, the bits, the checksum.
std::string Object(const CSyntheticObject& object, Family family, std::uint16_t firstValue = 7,
                   std::size_t padding = 0) {
  CBitWriter bits;
  bits.BS(object.type);
  const std::size_t sizeField = bits.BitCount();
  bits.RL(0);  // the data size in bits, patched below
  bits.H(0, object.handle);
  bits.BS(0);                        // no extended data
  if (object.entity) bits.B(false);  // no graphics
  // What a type reader would see first; then, for objects, no reactors and no dictionary.
  bits.BS(firstValue);
  for (std::size_t i = 0; i < padding; ++i) bits.RC(0);
  if (!object.entity) {
    bits.BL(0);
    if (family != Family::R2000) bits.B(true);
  }
  if (family == Family::R2007) bits.B(false);  // no string stream
  const std::size_t dataBits = bits.BitCount();
  bits.H(4, 0);  // owner
  std::string body = bits.Bytes();
  for (int i = 0; i < 32; ++i) {
    // The size field starts at a bit boundary inside the body; write it bit by bit.
    const std::size_t bit = sizeField + 8 * (i / 8) + (7 - i % 8);
    const bool set = (dataBits >> i) & 1;
    char& byte = body[bit / 8];
    const char mask = static_cast<char>(0x80 >> (bit % 8));
    byte = static_cast<char>(set ? (byte | mask) : (byte & ~mask));
  }
  std::string out;
  Append16(out, static_cast<unsigned>(body.size()));
  out += body;
  Append16(out, Crc16(0xC0C1, out));
  return out;
}

struct CObjectData {
  std::string bytes;
  std::vector<std::uint64_t> offsets;
  std::uint64_t staleOffset = 0;  // an older copy of the first object
  std::uint64_t crowdedOffset = 0;
};

CObjectData Objects(const CSyntheticOptions& options, std::size_t base, std::string_view prefix,
                    Family family) {
  CObjectData data;
  data.bytes = prefix;
  if (options.duplicateEntry) {
    data.staleOffset = base + data.bytes.size();
    data.bytes += Object(options.objects.front(), family, 8);
  }
  for (const CSyntheticObject& object : options.objects) {
    data.offsets.push_back(base + data.bytes.size());
    data.bytes += Object(object, family);
  }
  if (options.crowdedEntries > 0) {
    data.crowdedOffset = base + data.bytes.size();
    data.bytes += Object(CSyntheticObject{0x12, 0x4F, false}, family, 7, 0x10000);
  }
  return data;
}

std::string ObjectMap(const CSyntheticOptions& options, const CObjectData& objects) {
  const std::vector<std::uint64_t>& offsets = objects.offsets;
  std::vector<std::pair<std::uint64_t, std::int64_t>> entries;  // in map order
  for (std::size_t i = 0; i < options.objects.size(); ++i) {
    if (i == 0 && options.duplicateEntry) {
      entries.emplace_back(options.objects[0].handle, objects.staleOffset);
    }
    entries.emplace_back(options.objects[i].handle, offsets[i]);
  }
  if (options.sharedOffset) entries.emplace_back(entries.back().first + 0x10, offsets[1]);
  for (int i = 0; i < options.crowdedEntries; ++i) {
    entries.emplace_back(entries.back().first + 1, objects.crowdedOffset);
  }
  if (options.entryOutside) {
    entries.emplace_back(entries.back().first + 1, entries.back().second + 50000000);
  }

  // Chunks of about 2 KiB; the deltas start again from 0 in each.
  std::string map;
  auto addChunk = [&map](const std::string& pairs) {
    std::string chunk;
    chunk += static_cast<char>((pairs.size() + 2) >> 8);
    chunk += static_cast<char>(pairs.size() + 2);
    chunk += pairs;
    const unsigned crc = Crc16(0xC0C1, chunk);
    map += chunk;
    map += static_cast<char>(crc >> 8);
    map += static_cast<char>(crc);
  };
  std::string pairs;
  std::uint64_t handle = 0;
  std::int64_t offset = 0;
  for (const auto& [nextHandle, nextOffset] : entries) {
    pairs += UMC(nextHandle - handle);
    pairs += MC(nextOffset - offset);
    handle = nextHandle;
    offset = nextOffset;
    if (pairs.size() > 2000) {
      addChunk(pairs);
      pairs.clear();
      handle = 0;
      offset = 0;
    }
  }
  if (options.runawayOffsets) {
    for (int i = 0; i < 300; ++i) {
      pairs += UMC(1);
      pairs += MC(std::int64_t{1} << 55);
    }
  }
  if (!pairs.empty()) addChunk(pairs);
  addChunk("");
  return map;
}

}  // namespace

std::string MakeR2000File(const CSyntheticOptions& options) {
  std::string file(0x46, '\0');
  file.replace(0, 6, "AC1015");
  file[0x0B] = 15;
  file[0x0C] = 1;
  Put16(file, 0x13, 30);
  Put32(file, 0x15, 3);

  const std::size_t headerAddress = file.size();
  file += HeaderBlock();
  const std::size_t classesAddress = file.size();
  file += ClassesBlock(Family::R2000);
  const std::size_t objectsAddress = file.size();
  const CObjectData objects = Objects(options, objectsAddress, "", Family::R2000);
  file += objects.bytes;
  const std::size_t mapAddress = file.size();
  file += ObjectMap(options, objects);

  const std::size_t sections[3][2] = {{headerAddress, classesAddress - headerAddress},
                                      {classesAddress, objectsAddress - classesAddress},
                                      {mapAddress, file.size() - mapAddress}};
  for (int i = 0; i < 3; ++i) {
    file[0x19 + 9 * i] = static_cast<char>(i);
    Put32(file, 0x19 + 9 * i + 1, static_cast<std::uint32_t>(sections[i][0]));
    Put32(file, 0x19 + 9 * i + 5, static_cast<std::uint32_t>(sections[i][1]));
  }
  Put16(file, 0x34, Crc16(0xC0C1, std::string_view(file).substr(0, 0x34)));
  file.replace(0x36, 16, kFileHeaderEnd);
  return file;
}

std::string CompressAsLiterals(std::string_view data) {
  std::string out;
  const std::size_t length = data.size();
  if (length <= 18) {
    out += static_cast<char>(length - 3);
  } else {
    // 0x00 starts a long length of 0x12 plus the bytes that follow: 0x00 adds 255, a
    // non-zero byte adds itself and ends the length.
    out += '\0';
    std::size_t rest = length - 18;
    while (rest > 255) {
      out += '\0';
      rest -= 255;
    }
    out += static_cast<char>(rest);
  }
  out += data;
  out += '\x11';
  return out;
}

std::string MakeR2004File(const CSyntheticOptions& options) {
  constexpr std::uint32_t kPageSize = 0x7400;
  std::string file(0x100, '\0');
  file.replace(0, 6, "AC1018");
  file[0x0B] = 104;
  Put16(file, 0x13, 30);
  Put32(file, 0x18, options.securityFlags);
  Put32(file, 0x28, 0x80);

  struct CSection {
    std::string name;
    std::uint32_t id;
    std::string bytes;
  };
  const CObjectData objects =
      Objects(options, 0, std::string("\xCA\x0D\x00\x00", 4), Family::R2004);
  CSection sections[] = {{"AcDb:Header", 1, HeaderBlock()},
                         {"AcDb:Classes", 3, ClassesBlock(Family::R2004)},
                         {"AcDb:Handles", 4, ObjectMap(options, objects)},
                         {"AcDb:AcDbObjects", 7, objects.bytes}};

  // Data pages: a header XOR-ed with a mask made from the page's address, then the data.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pages;  // number, size in the file
  std::string sectionMap;
  Append32(sectionMap, options.phantomDescription ? 5 : 4);
  Append32(sectionMap, 2);
  Append32(sectionMap, kPageSize);
  Append32(sectionMap, 0);
  Append32(sectionMap, 4);
  std::uint32_t number = 1;
  for (const CSection& section : sections) {
    const std::string compressed = CompressAsLiterals(section.bytes);
    const std::size_t address = file.size();
    std::string header(32, '\0');
    Put32(header, 0, 0x4163043B);
    Put32(header, 4, section.id);
    Put32(header, 8, static_cast<std::uint32_t>(compressed.size()));
    Put32(header, 12, static_cast<std::uint32_t>(section.bytes.size()));
    Put32(header, 28, PageChecksum(0, compressed));
    const std::uint32_t mask = 0x4164536B ^ static_cast<std::uint32_t>(address);
    for (int i = 0; i < 8; ++i) {
      std::uint32_t value = 0;
      std::memcpy(&value, header.data() + 4 * i, 4);
      Put32(header, 4 * i, value ^ mask);
    }
    file += header + compressed;
    file.resize((file.size() + 0x1F) & ~std::size_t{0x1F}, '\0');
    pages.emplace_back(number, static_cast<std::uint32_t>(file.size() - address));

    const bool objectsSection = section.name == "AcDb:AcDbObjects";
    Append64(sectionMap, objectsSection && options.claimedObjectsSize != 0
                             ? options.claimedObjectsSize
                             : section.bytes.size());
    Append32(sectionMap, 1);
    Append32(sectionMap, kPageSize);
    Append32(sectionMap, 1);
    Append32(sectionMap, 2);
    Append32(sectionMap, section.id);
    Append32(sectionMap, objectsSection && options.encryptObjects ? 1 : 0);
    std::string name = section.name;
    name.resize(64, '\0');
    sectionMap += name;
    Append32(sectionMap, number);
    Append32(sectionMap, static_cast<std::uint32_t>(compressed.size()));
    Append64(sectionMap, 0);
    ++number;
  }

  // System pages: a plain header with a checksum over it and the compressed data.
  auto systemPage = [&file](std::uint32_t type, std::string_view data) {
    const std::string compressed = CompressAsLiterals(data);
    std::string header(20, '\0');
    Put32(header, 0, type);
    Put32(header, 4, static_cast<std::uint32_t>(data.size()));
    Put32(header, 8, static_cast<std::uint32_t>(compressed.size()));
    Put32(header, 12, 2);
    Put32(header, 16, PageChecksum(PageChecksum(0, header), compressed));
    const std::size_t address = file.size();
    file += header + compressed;
    file.resize((file.size() + 0x1F) & ~std::size_t{0x1F}, '\0');
    return file.size() - address;
  };
  // Room for one more description only if the page lists between descriptions are ignored.
  if (options.phantomDescription) sectionMap.append(32, '\0');
  const std::uint32_t sectionMapNumber = number++;
  pages.emplace_back(sectionMapNumber,
                     static_cast<std::uint32_t>(systemPage(0x4163003B, sectionMap)));
  const std::uint32_t pageMapNumber = number++;
  const std::size_t pageMapAddress = file.size();
  std::string pageMap;
  std::uint32_t pageMapSize = 0x40;  // known in advance: eight bytes a page, one page
  for (int pass = 0; pass < 2; ++pass) {
    pageMap.clear();
    for (const auto& [pageNumber, size] : pages) {
      Append32(pageMap, pageNumber);
      Append32(pageMap, size);
    }
    Append32(pageMap, pageMapNumber);
    Append32(pageMap, pageMapSize);
    file.resize(pageMapAddress);
    pageMapSize = static_cast<std::uint32_t>(systemPage(0x41630E3B, pageMap));
  }

  std::string header(0x6C, '\0');
  header.replace(0, 12, std::string_view("AcFssFcAJMB\0", 12));
  Put32(header, 0x10, 0x6C);
  Put32(header, 0x14, 4);
  Put32(header, 0x24, 1);
  Put32(header, 0x28, pageMapNumber);
  Put64(header, 0x2C, file.size() - 0x100);
  Put32(header, 0x40, pageMapNumber);
  Put32(header, 0x44, 0x20);
  Put32(header, 0x48, 0x80);
  Put32(header, 0x4C, 0x40);
  Put32(header, 0x50, pageMapNumber);
  Put64(header, 0x54,
        options.pageMapAddressOutside ? file.size() + 0x1000 : pageMapAddress - 0x100);
  Put32(header, 0x5C, sectionMapNumber);
  Put32(header, 0x60, pageMapNumber);
  Put32(header, 0x68, Crc32(0, header));
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < header.size(); ++i) {
    seed = seed * 0x343FD + 0x269EC3;
    file[0x80 + i] = static_cast<char>(header[i] ^ static_cast<char>(seed >> 16));
  }
  return file;
}

namespace {

// The length of a first literal run of R2007 data: 1 to 7 in a first opcode of 0x20 (and two
// bytes skipped), 8 to 0x16 in the opcode, longer ones as 0x0F and a byte, and from 0x116 on
// in 16-bit words after it.
std::string R2007RunLength(std::size_t length) {
  std::string out;
  if (length < 8) return std::string{'\x20', '\0', '\0', static_cast<char>(length)};
  if (length < 0x17) return std::string(1, static_cast<char>(length - 8));
  out += '\x0F';
  std::size_t rest = length - 0x17;
  if (rest < 0xFF) return out + static_cast<char>(rest);
  out += '\xFF';
  rest -= 0xFF;
  for (;;) {
    const std::size_t word = rest < 0xFFFF ? rest : 0xFFFF;
    Append16(out, static_cast<unsigned>(word));
    rest -= word;
    if (word != 0xFFFF) return out;
  }
}

}  // namespace

std::string CompressR2007AsLiterals(std::string_view data) {
  // The order in which a literal run keeps its bytes is learnt from the decompressor: a run of
  // n distinct bytes (n < 32, and 32 for whole blocks) shows where each output byte is stored.
  auto orderOf = [](std::size_t n) {
    std::string run = R2007RunLength(n);
    for (std::size_t i = 0; i < n; ++i) run += static_cast<char>(i);
    std::string out(n, '\0');
    drawing::dwg::detail::DecompressR2007(run, out);
    return out;  // out[i]: where output byte i is stored
  };
  std::string stored(data.size(), '\0');
  const std::string block = orderOf(32);
  std::size_t at = 0;
  for (; data.size() - at >= 32; at += 32) {
    for (std::size_t i = 0; i < 32; ++i) {
      stored[at + static_cast<unsigned char>(block[i])] = data[at + i];
    }
  }
  const std::string tail = orderOf(data.size() - at);
  for (std::size_t i = 0; i < tail.size(); ++i) {
    stored[at + static_cast<unsigned char>(tail[i])] = data[at + i];
  }
  return R2007RunLength(data.size()) + stored;
}

std::string CompressR2007(std::string_view data) {
  // 0x28 0 0 0 0: a copy of 0x100 bytes from one byte back.
  const std::size_t zeros = data.size() - data.find_last_not_of('\0') - 1;
  if (data.find_last_not_of('\0') == std::string_view::npos || zeros <= 0x100) {
    return CompressR2007AsLiterals(data);
  }
  return CompressR2007AsLiterals(data.substr(0, data.size() - 0x100)) +
         std::string("\x28\0\0\0\0", 5);
}

namespace {

// Reed-Solomon coding as a reader sees it: the data in codewords of 255 bytes, `dataBytes` of
// them data (and zeros for parity), interleaved byte by byte when there are several.
std::string Interleave(std::string_view data, std::size_t dataBytes) {
  const std::size_t blocks = std::max<std::size_t>(1, (data.size() + dataBytes - 1) / dataBytes);
  std::string coded(blocks * 255, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    coded[(i % dataBytes) * blocks + i / dataBytes] = data[i];
  }
  return coded;
}

std::string AlignedTo(std::string bytes, std::size_t alignment) {
  bytes.resize((bytes.size() + alignment - 1) / alignment * alignment, '\0');
  return bytes;
}

}  // namespace

std::string MakeR2007File(const CSyntheticOptions& options) {
  std::string file(0x80, '\0');
  file.replace(0, 6, "AC1021");
  file[0x0B] = 50;
  Put16(file, 0x13, 30);
  Put32(file, 0x18, options.securityFlags);
  Put32(file, 0x28, 0x80);
  file.resize(0x480, '\0');  // the file header comes last

  struct CSection {
    std::u16string name;
    std::string bytes;
    bool compress;
  };
  const CObjectData objects =
      Objects(options, 0, std::string("\xCA\x0D\x00\x00", 4), Family::R2007);
  // Sections compressed end in zeros, which compress to one copy (data not made shorter is
  // stored as it is).
  const std::string zeros(0x101, '\0');
  const CSection sections[] = {{u"AcDb:Header", HeaderBlock(), false},
                               {u"AcDb:Classes", ClassesBlock(Family::R2007), false},
                               {u"AcDb:Handles", ObjectMap(options, objects) + zeros, true},
                               {u"AcDb:AcDbObjects", objects.bytes + zeros, true}};

  // Data pages, each in its codewords of 251 data bytes, interleaved.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pages;  // size in the file, id
  std::string sectionMap;
  std::uint64_t id = 1;
  for (const CSection& section : sections) {
    const std::string stored = section.compress ? CompressR2007(section.bytes) : section.bytes;
    const std::string coded = AlignedTo(Interleave(AlignedTo(stored, 8), 251), 0x20);
    file += coded;
    pages.emplace_back(coded.size(), id);

    const bool objectsSection = section.name == u"AcDb:AcDbObjects";
    Append64(sectionMap, objectsSection && options.claimedObjectsSize != 0
                             ? options.claimedObjectsSize
                             : section.bytes.size());
    Append64(sectionMap, 0xF800);
    Append64(sectionMap, objectsSection && options.encryptObjects ? 1 : 0);
    Append64(sectionMap, 0);                            // hash code of the name
    Append64(sectionMap, 2 * section.name.size() + 2);  // bytes of the name and its end
    Append64(sectionMap, 0);
    Append64(sectionMap, 4);  // interleaved
    Append64(sectionMap, 1);
    for (const char16_t unit : section.name) Append16(sectionMap, unit);
    Append16(sectionMap, 0);
    Append64(sectionMap, 0);  // where the page goes in the section
    Append64(sectionMap, coded.size());
    Append64(sectionMap, id);
    Append64(sectionMap, section.bytes.size());
    Append64(sectionMap, section.compress ? stored.size() : section.bytes.size());
    Append64(sectionMap, PageChecksumR2007(0, section.bytes));
    Append64(sectionMap, 0);  // CRC, not checked
    ++id;
  }

  // System pages: the stored data, padded to eight bytes, twice over in codewords of 239 data
  // bytes, interleaved.
  auto systemPage = [&file, &pages](std::string_view data, std::uint64_t pageId, bool compress) {
    const std::string stored = compress ? CompressR2007(data) : std::string(data);
    const std::string padded = AlignedTo(stored, 8);
    const std::string coded = AlignedTo(Interleave(padded + padded, 239), 0x20);
    file += coded;
    pages.emplace_back(coded.size(), pageId);
    return stored.size();
  };
  const std::uint64_t sectionMapId = id++;
  sectionMap += zeros;  // an empty description, and zeros
  const std::size_t sectionMapStored = systemPage(sectionMap, sectionMapId, true);
  const std::uint64_t pageMapId = id++;
  const std::size_t pageMapAddress = file.size();
  // The page map lists itself: its size is known before it is written (sixteen bytes a page
  // give one block of codewords for these few pages).
  std::string pageMap;
  for (const auto& [size, pageIdentity] : pages) {
    Append64(pageMap, size);
    Append64(pageMap, pageIdentity);
  }
  Append64(pageMap, AlignedTo(Interleave(AlignedTo(pageMap + std::string(16, '\0'), 8) +
                                             AlignedTo(pageMap + std::string(16, '\0'), 8),
                                         239),
                              0x20)
                        .size());
  Append64(pageMap, pageMapId);
  const std::size_t pageMapStored = systemPage(pageMap, pageMapId, false);

  // The file header: 0x110 bytes stored as they are (a negative size) after four fields, in
  // three interleaved codewords.
  std::string header(0x110, '\0');
  Put64(header, 0x00, 0x70);
  Put64(header, 0x08, file.size());
  Put64(header, 0x18, 2);  // the page map's data twice over
  Put64(header, 0x38,
        options.pageMapAddressOutside ? file.size() + 0x1000 : pageMapAddress - 0x480);
  Put64(header, 0x40, pageMapId);
  Put64(header, 0x50, pageMapStored);
  Put64(header, 0x58, pageMap.size());
  Put64(header, 0xA0, 5);
  Put64(header, 0xB0, sectionMapStored);
  Put64(header, 0xC0, sectionMapId);
  Put64(header, 0xC8, sectionMap.size());
  Put64(header, 0xD8, 2);
  std::string block(3 * 239, '\0');
  Put32(block, 24, static_cast<std::uint32_t>(-0x110));
  block.replace(32, header.size(), header);
  file.replace(0x80, 3 * 255, Interleave(block, 239));
  return file;
}

}  // namespace dwgtest
