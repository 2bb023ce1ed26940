// The plain container of R13, R14 and R2000 files: a file header with section-locator records
// pointing at the header variables, the classes and the object map; objects at absolute file
// offsets.
#include <cstdint>
#include <string>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/detail/DwgContainerBuilder.h"

namespace drawing::dwg::detail {

namespace {

constexpr std::size_t kLocatorCount = 0x15;
constexpr std::size_t kFirstLocator = 0x19;
constexpr std::size_t kLocatorSize = 9;
// More records than any writer is known to emit (five or six) means a damaged count.
constexpr std::uint32_t kMaxLocators = 32;

std::uint32_t Load32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

std::string LocatorName(unsigned number) {
  switch (number) {
    case 0:
      return "AcDb:Header";
    case 1:
      return "AcDb:Classes";
    case 2:
      return "AcDb:Handles";
    case 3:
      return "AcDb:ObjFreeSpace";
    case 4:
      return "AcDb:Template";
    case 5:
      return "AcDb:AuxHeader";
    default:
      return "section " + std::to_string(number);
  }
}

}  // namespace

bool CDwgContainerBuilder::ReadPlain() {
  if (file.size() < kFirstLocator) {
    return Fail("file header", "the file is too short for a DWG file header", file.size());
  }
  out.maintenanceRelease = static_cast<std::uint8_t>(file[0x0B]);
  out.codePage = static_cast<std::uint16_t>(static_cast<unsigned char>(file[0x13]) |
                                            static_cast<unsigned char>(file[0x14]) << 8);
  const std::uint32_t count = Load32(file, kLocatorCount);
  const std::size_t locatorsEnd = kFirstLocator + std::size_t{count} * kLocatorSize;
  if (count > kMaxLocators || locatorsEnd + 2 + 16 > file.size()) {
    return Fail("file header", std::to_string(count) + " section locators do not fit the file",
                kLocatorCount);
  }

  // The checksum of the file header; the format's seed 0 and count-dependent mask come to the
  // same as seed 0xC0C1 for every count in use.
  const unsigned stored = static_cast<unsigned char>(file[locatorsEnd]) |
                          static_cast<unsigned char>(file[locatorsEnd + 1]) << 8;
  if (Crc16(0xC0C1, file.substr(0, locatorsEnd)) != stored) {
    Note("file header", "checksum mismatch", locatorsEnd);
  }
  if (file.substr(locatorsEnd + 2, 16) != kFileHeaderEndSentinel) {
    Note("file header", "the end sentinel is missing", locatorsEnd + 2);
  }

  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kFirstLocator + i * kLocatorSize;
    const unsigned number = static_cast<unsigned char>(file[at]);
    CDwgSection section;
    section.name = LocatorName(number);
    section.address = Load32(file, at + 1);
    section.size = Load32(file, at + 5);
    if (out.FindSection(section.name)) {
      Note("file header", "section locator " + std::to_string(number) + " appears twice", at);
      continue;
    }
    if (section.address > file.size() || section.size > file.size() - section.address) {
      if (number <= 2) {
        return Fail("file header",
                    "section " + section.name + " lies outside the file (" +
                        std::to_string(section.address) + " + " + std::to_string(section.size) +
                        " bytes)",
                    at);
      }
      Note("file header", "section " + section.name + " lies outside the file", at);
    } else if (section.size > 0) {
      section.bytes = file.substr(section.address, section.size);
      section.available = true;
    }
    out.sections.push_back(std::move(section));
  }

  const CDwgSection* header = out.FindSection("AcDb:Header");
  const CDwgSection* classes = out.FindSection("AcDb:Classes");
  const CDwgSection* handles = out.FindSection("AcDb:Handles");
  if (!header || !header->available) {
    return Fail("file header", "there is no header-variables section", kFirstLocator);
  }
  if (!classes || !classes->available) {
    return Fail("file header", "there is no classes section", kFirstLocator);
  }
  if (!handles || !handles->available) {
    return Fail("file header", "there is no object map", kFirstLocator);
  }

  out.objectData = file;
  out.headerVariables = header->bytes;
  CheckHeaderBlock(header->bytes, header->address);
  if (!ReadClasses(classes->bytes, classes->address)) return false;
  return ReadObjectMap(handles->bytes, handles->address);
}

}  // namespace drawing::dwg::detail
