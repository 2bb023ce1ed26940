// The paged container of R2004, R2010, R2013 and R2018 files: a scrambled file header at 0x80
// points at the page map; the page map gives every page's place in the file; the section map
// says which pages, in which order and at which offsets, make each logical section.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/detail/DwgContainerBuilder.h"
#include "drawing/dwg/detail/DwgLz77.h"

namespace drawing::dwg::detail {

namespace {

constexpr std::size_t kScrambledHeader = 0x80;
constexpr std::size_t kScrambledHeaderSize = 0x6C;
constexpr std::uint64_t kPagesStart = 0x100;
constexpr std::uint32_t kPageMapType = 0x41630E3B;
constexpr std::uint32_t kSectionMapType = 0x4163003B;
constexpr std::uint32_t kDataPageType = 0x4163043B;
constexpr std::size_t kSystemPageHeader = 0x14;
constexpr std::size_t kDataPageHeader = 0x20;
constexpr std::size_t kSectionDescription = 0x60;
constexpr std::size_t kSectionPageEntry = 0x10;
// Pages are normally 0x7400 bytes; previews of R2004 go up to about 1.3 MiB.
constexpr std::uint32_t kMaxPageSize = 0x400000;

void Store32(char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(value >> (8 * i));
}

// The LZ77 of these files gives at most 255 bytes for each byte it reads (a long count adds
// 255 a zero byte), so a decompressed size beyond this cannot be true.
std::uint64_t MaxDecompressed(std::uint64_t compressed) {
  return compressed * 256 + 1024;
}

std::string Hex(std::uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
  return text;
}

struct CPage {
  std::int32_t number = 0;
  std::uint64_t address = 0;
  std::uint32_t size = 0;
  bool used = false;
};

struct CPageRef {
  std::int32_t number = 0;
  std::uint32_t dataSize = 0;
  std::uint64_t start = 0;
};

struct CDescription {
  CDwgSection section;
  std::vector<CPageRef> pages;
};

}  // namespace

bool CDwgContainerBuilder::ReadSystemPage(std::uint64_t address, std::uint32_t type,
                                          std::string_view stage, std::string_view& bytes) {
  if (address > file.size() || file.size() - address < kSystemPageHeader) {
    return Fail(stage, "the page lies outside the file", address);
  }
  const char* header = file.data() + address;
  const std::uint32_t pageType = Load32(header);
  const std::uint32_t decompressedSize = Load32(header + 4);
  const std::uint32_t compressedSize = Load32(header + 8);
  const std::uint32_t compression = Load32(header + 12);
  const std::uint32_t checksum = Load32(header + 16);
  if (pageType != type) {
    return Fail(stage, "the page has type " + Hex(pageType) + " instead of " + Hex(type), address);
  }
  if (compressedSize > file.size() - address - kSystemPageHeader) {
    return Fail(stage,
                "the page's " + std::to_string(compressedSize) + " bytes pass the end of the file",
                address + 8);
  }
  const std::string_view data = file.substr(address + kSystemPageHeader, compressedSize);
  if (compression == 2 ? decompressedSize > MaxDecompressed(compressedSize)
                       : compression != 1 || decompressedSize > compressedSize) {
    return Fail(stage,
                "the page claims " + std::to_string(decompressedSize) + " bytes from " +
                    std::to_string(compressedSize) + " stored bytes (compression " +
                    std::to_string(compression) + ")",
                address + 4);
  }

  // The checksum covers the header (with its checksum field as zero), then the stored bytes.
  char cleared[kSystemPageHeader];
  std::memcpy(cleared, header, kSystemPageHeader);
  Store32(cleared + 16, 0);
  const std::uint32_t seed = PageChecksum(0, std::string_view(cleared, kSystemPageHeader));
  if (PageChecksum(seed, data) != checksum) Note(stage, "page checksum mismatch", address + 16);

  char* buffer = Allocate(decompressedSize);
  if (compression == 1) {
    if (decompressedSize > 0) std::memcpy(buffer, data.data(), decompressedSize);
  } else {
    const CLz77Result result = DecompressR2004(data, std::span<char>(buffer, decompressedSize));
    if (!result.ok) {
      return Fail(stage, result.problem, address + kSystemPageHeader + result.inputOffset);
    }
    if (result.produced != decompressedSize) {
      Note(stage, "the page holds fewer bytes than it claims", address);
    }
  }
  bytes = std::string_view(buffer, decompressedSize);
  return true;
}

bool CDwgContainerBuilder::ReadPaged() {
  if (file.size() < kPagesStart) {
    return Fail("file header", "the file is too short for a DWG file header", file.size());
  }
  out.maintenanceRelease = static_cast<std::uint8_t>(file[0x0B]);
  out.codePage = static_cast<std::uint16_t>(static_cast<unsigned char>(file[0x13]) |
                                            static_cast<unsigned char>(file[0x14]) << 8);
  out.securityFlags = Load32(file.data() + 0x18);
  if (out.securityFlags & 1) {
    failure.assign(kPasswordMessage);
    return false;
  }

  // The file header at 0x80 is scrambled with a fixed pseudo-random sequence.
  char header[kScrambledHeaderSize];
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < kScrambledHeaderSize; ++i) {
    seed = seed * 0x343FD + 0x269EC3;
    header[i] = static_cast<char>(file[kScrambledHeader + i] ^ static_cast<char>(seed >> 16));
  }
  if (std::string_view(header, 12) != std::string_view("AcFssFcAJMB\0", 12)) {
    return Fail("file header", "the scrambled header does not decode", kScrambledHeader);
  }
  const std::uint32_t storedCrc = Load32(header + 0x68);
  Store32(header + 0x68, 0);
  if (Crc32(0, std::string_view(header, kScrambledHeaderSize)) != storedCrc) {
    Note("file header", "checksum mismatch", kScrambledHeader + 0x68);
  }
  const std::uint32_t pageMapId = Load32(header + 0x50);
  const std::uint64_t pageMapAddress = Load64(header + 0x54) + kPagesStart;
  const std::uint32_t sectionMapId = Load32(header + 0x5C);

  // The page map: (number, size) pairs; pages follow each other from 0x100. A negative number
  // is a gap, followed by four longs of bookkeeping.
  std::string_view pageMap;
  if (!ReadSystemPage(pageMapAddress, kPageMapType, "page map", pageMap)) return false;
  std::vector<CPage> pages;
  pages.reserve(pageMap.size() / 8);
  std::uint64_t address = kPagesStart;
  for (std::size_t at = 0; at + 8 <= pageMap.size();) {
    CPage page;
    page.number = static_cast<std::int32_t>(Load32(pageMap.data() + at));
    page.size = Load32(pageMap.data() + at + 4);
    page.address = address;
    at += 8;
    if (page.number < 0) {
      at += at + 16 <= pageMap.size() ? 16 : 0;
    } else {
      pages.push_back(page);
    }
    address += page.size;
  }
  std::sort(pages.begin(), pages.end(),
            [](const CPage& a, const CPage& b) { return a.number < b.number; });
  for (std::size_t i = 1; i < pages.size(); ++i) {
    if (pages[i].number == pages[i - 1].number) {
      return Fail("page map", "page " + std::to_string(pages[i].number) + " is listed twice",
                  pageMapAddress);
    }
  }
  auto findPage = [&pages](std::int64_t number) -> CPage* {
    const auto found =
        std::lower_bound(pages.begin(), pages.end(), number,
                         [](const CPage& page, std::int64_t value) { return page.number < value; });
    return found != pages.end() && found->number == number ? &*found : nullptr;
  };
  if (const CPage* own = findPage(pageMapId); !own || own->address != pageMapAddress) {
    Note("page map", "the map does not list its own page where the header puts it", pageMapAddress);
  }

  // The section map: a count, then per section its description and its pages.
  const CPage* sectionMapPage = findPage(sectionMapId);
  if (!sectionMapPage) {
    return Fail("section map", "page " + std::to_string(sectionMapId) + " is not in the page map",
                pageMapAddress);
  }
  std::string_view sectionMap;
  if (!ReadSystemPage(sectionMapPage->address, kSectionMapType, "section map", sectionMap)) {
    return false;
  }
  const std::uint64_t mapAddress = sectionMapPage->address;
  if (sectionMap.size() < 20) {
    return Fail("section map", "the map is too short", mapAddress);
  }
  const std::uint32_t descriptionCount = Load32(sectionMap.data());
  if (descriptionCount > (sectionMap.size() - 20) / kSectionDescription) {
    return Fail("section map",
                std::to_string(descriptionCount) + " sections do not fit the map's " +
                    std::to_string(sectionMap.size()) + " bytes",
                mapAddress);
  }
  std::vector<CDescription> descriptions(descriptionCount);
  std::size_t at = 20;
  for (CDescription& description : descriptions) {
    // The count was checked without the page lists between descriptions: check each.
    if (sectionMap.size() - at < kSectionDescription) {
      return Fail("section map", "a section description is cut short", mapAddress);
    }
    const char* p = sectionMap.data() + at;
    CDwgSection& section = description.section;
    section.size = Load64(p);
    section.pageCount = Load32(p + 8);
    section.maxPageSize = Load32(p + 12);
    section.compressed = Load32(p + 20) == 2;
    section.id = Load32(p + 24);
    section.encrypted = Load32(p + 28);
    const std::string_view name(p + 32, 64);
    section.name.assign(name.substr(0, name.find('\0')));
    at += kSectionDescription;
    if (section.pageCount > (sectionMap.size() - at) / kSectionPageEntry) {
      return Fail("section map",
                  "section " + Printable(section.name) + " lists more pages than the map holds",
                  mapAddress);
    }
    description.pages.resize(section.pageCount);
    for (CPageRef& ref : description.pages) {
      ref.number = static_cast<std::int32_t>(Load32(sectionMap.data() + at));
      ref.dataSize = Load32(sectionMap.data() + at + 4);
      ref.start = Load64(sectionMap.data() + at + 8);
      at += kSectionPageEntry;
    }
  }

  // What the sections may claim in all: each stored byte decompresses to at most 256.
  const std::uint64_t budget = std::uint64_t{300} * file.size() + (std::uint64_t{16} << 20);
  std::uint64_t claimed = 0;
  for (CDescription& description : descriptions) {
    CDwgSection& section = description.section;
    const bool needed = IsNeededSection(section.name);
    const std::string stage = "section " + Printable(section.name);
    if (section.name.empty() && description.pages.empty()) continue;
    const SectionStart start = StartSection(section, !description.pages.empty());
    if (start == SectionStart::Failed) return false;
    if (start == SectionStart::Kept) continue;
    if (section.maxPageSize == 0 || section.maxPageSize > kMaxPageSize) {
      if (needed) {
        return Fail(stage, "page size " + std::to_string(section.maxPageSize) + " is impossible",
                    mapAddress);
      }
      Note(stage, "page size " + std::to_string(section.maxPageSize) + " is impossible",
           mapAddress);
      out.sections.push_back(section);
      continue;
    }
    if (section.size > budget) {
      const std::string claim = "the section claims " + std::to_string(section.size) +
                                " bytes, more than a file of " + std::to_string(file.size()) +
                                " bytes can hold";
      if (needed) return Fail(stage, claim, mapAddress);
      Note(stage, claim, mapAddress);
      out.sections.push_back(section);
      continue;
    }
    // The buffer ends with the last page, which decompresses to a whole page even where the
    // section ends inside it. Pages of zeros are not stored; trailing ones add nothing a
    // reader needs.
    std::uint64_t end = 0;
    bool pagesFit = true;
    for (const CPageRef& ref : description.pages) {
      if (ref.start >= section.size) pagesFit = false;
      end = std::max(end, ref.start + section.maxPageSize);
    }
    if (!pagesFit) {
      if (needed) return Fail(stage, "a page starts past the end of the section", mapAddress);
      Note(stage, "a page starts past the end of the section", mapAddress);
      out.sections.push_back(section);
      continue;
    }
    claimed += end;
    if (claimed > budget) {
      return Fail("section map",
                  "the sections claim " + std::to_string(claimed) + " bytes, more than a file of " +
                      std::to_string(file.size()) + " bytes can hold",
                  mapAddress);
    }
    char* buffer = Allocate(static_cast<std::size_t>(end));

    bool sound = true;
    for (const CPageRef& ref : description.pages) {
      CPage* page = findPage(ref.number);
      std::string problem;
      std::uint64_t where = mapAddress;
      if (!page) {
        problem = "page " + std::to_string(ref.number) + " is not in the page map";
      } else if (page->used) {
        return Fail(stage, "page " + std::to_string(ref.number) + " belongs to two sections",
                    mapAddress);
      } else if (page->address > file.size() || file.size() - page->address < kDataPageHeader) {
        problem = "page " + std::to_string(ref.number) + " lies outside the file";
        where = page->address;
      }
      if (problem.empty()) {
        page->used = true;
        where = page->address;
        // The page header is XOR-ed with a mask made from the page's address.
        std::uint32_t fields[8];
        const std::uint32_t mask = 0x4164536B ^ static_cast<std::uint32_t>(page->address);
        for (int i = 0; i < 8; ++i) fields[i] = Load32(file.data() + page->address + 4 * i) ^ mask;
        const std::uint32_t dataSize = fields[2];
        if (fields[0] != kDataPageType) {
          problem = "page " + std::to_string(ref.number) + " is not a data page";
        } else if (dataSize > file.size() - page->address - kDataPageHeader) {
          problem = "page " + std::to_string(ref.number) + " passes the end of the file";
        } else {
          if (fields[1] != section.id) {
            Note(stage, "page " + std::to_string(ref.number) + " names another section", where);
          }
          if (fields[4] != ref.start) {
            Note(stage, "page " + std::to_string(ref.number) + " gives another start offset",
                 where);
          }
          const std::string_view data = file.substr(page->address + kDataPageHeader, dataSize);
          if (PageChecksum(0, data) != fields[7]) {
            Note(stage, "page " + std::to_string(ref.number) + " checksum mismatch", where);
          }
          const auto start = static_cast<std::size_t>(ref.start);
          const std::size_t room = section.maxPageSize;
          if (section.compressed) {
            const CLz77Result result = DecompressR2004(data, std::span<char>(buffer + start, room));
            if (!result.ok) {
              problem = "page " + std::to_string(ref.number) + ": " + result.problem;
              where = page->address + kDataPageHeader + result.inputOffset;
            }
          } else {
            std::memcpy(buffer + start, data.data(), std::min<std::size_t>(room, data.size()));
          }
        }
      }
      if (!problem.empty()) {
        if (needed) return Fail(stage, problem, where);
        Note(stage, problem, where);
        sound = false;
        break;
      }
    }
    section.bytes = std::string_view(buffer, static_cast<std::size_t>(std::min(end, section.size)));
    section.available = sound;
    if (!sound) section.bytes = {};
    out.sections.push_back(section);
  }

  return FinishSections(mapAddress);
}

}  // namespace drawing::dwg::detail
