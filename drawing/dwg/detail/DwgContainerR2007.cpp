// The container of R2007 files. Like the R2004 family it keeps its sections in pages, but every
// page is Reed-Solomon coded (codewords of 255 bytes, interleaved) and compressed with an LZ77
// of its own, and the maps count in 64-bit values: a coded file header at 0x80 gives the place
// of the page map; the page map gives every page's place in the file from 0x480 on; the
// section map, itself a page, says which pages make each logical section.
//
// Only the data bytes of each codeword are taken; the parity bytes are not used to correct
// anything. Damage shows instead as a page whose checksum does not match (noted), or as data
// that cannot be decompressed or does not fit (the file, or the section, is refused).
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

constexpr std::size_t kFileHeaderAt = 0x80;
constexpr std::uint64_t kPagesStart = 0x480;
constexpr std::size_t kCodeword = 255;
// Data bytes per codeword: 239 in the system pages (the file header and the two maps), 251 in
// the pages of the sections.
constexpr std::size_t kSystemData = 239;
constexpr std::size_t kPageData = 251;
// The file header: three interleaved codewords, whose data holds four fields and the
// compressed header of 0x110 bytes.
constexpr std::size_t kFileHeaderBlocks = 3;
constexpr std::size_t kFileHeaderSize = 0x110;
constexpr std::size_t kSectionRecord = 0x40;
constexpr std::size_t kSectionPageRecord = 0x38;
// No writer makes longer section names (the longest known has 20 characters).
constexpr std::uint64_t kMaxNameBytes = 256;
// Pages are at most 0xF800 bytes as written; previews and damaged pages may claim more.
constexpr std::uint64_t kMaxPageSize = 0x400000;
// A system page repeats its data to fill its codewords; more repeats than this are damage.
constexpr std::uint64_t kMaxRepeats = 0x10000;

std::uint64_t AlignTo8(std::uint64_t size) {
  return (size + 7) & ~std::uint64_t{7};
}

// The data bytes [0, size) of `blocks` interleaved codewords with `dataPerBlock` data bytes
// each, which start at `coded` (blocks × 255 bytes, checked by the caller): byte i of the
// data is byte i % dataPerBlock of codeword i / dataPerBlock, and byte j of codeword b sits at
// j × blocks + b.
// Codewords are taken 64 at a time: each of their rows is then one cache line read whole, and
// the 64 codewords' data (16 KB) stays in the first-level cache while it is written. Reading
// one codeword at a time touches a new line (and on large pages a new memory page) per byte.
void Deinterleave(const char* coded, std::size_t blocks, std::size_t dataPerBlock, std::size_t size,
                  char* out) {
  constexpr std::size_t kTile = 64;
  for (std::size_t first = 0; first < blocks && first * dataPerBlock < size; first += kTile) {
    const std::size_t last = std::min(blocks, first + kTile);
    const bool whole = last * dataPerBlock <= size;
    for (std::size_t j = 0; j < dataPerBlock; ++j) {
      const char* row = coded + j * blocks;
      if (whole) {
        for (std::size_t b = first; b < last; ++b) out[b * dataPerBlock + j] = row[b];
      } else {
        for (std::size_t b = first; b < last; ++b) {
          if (b * dataPerBlock + j < size) out[b * dataPerBlock + j] = row[b];
        }
      }
    }
  }
}

struct CPage {
  std::int64_t id = 0;
  std::uint64_t address = 0;
  std::uint64_t size = 0;
  bool used = false;
};

struct CPageRef {
  std::uint64_t start = 0;  // where the page's data goes in the section
  std::int64_t id = 0;
  std::uint64_t size = 0;        // decompressed
  std::uint64_t compressed = 0;  // as stored (no smaller than size when not compressed)
  std::uint32_t checksum = 0;
};

struct CDescription {
  CDwgSection section;
  std::uint64_t encoding = 0;  // 4: the pages' codewords are interleaved
  std::vector<CPageRef> pages;
};

}  // namespace

bool CDwgContainerBuilder::ReadR2007SystemPage(std::uint64_t address, std::uint64_t compressedSize,
                                               std::uint64_t size, std::uint64_t repeats,
                                               std::string_view stage, std::string_view& bytes) {
  // The stored data, padded to a multiple of eight, repeats `repeats` times in the codewords;
  // the first copy is enough.
  const std::uint64_t limit = 2 * std::uint64_t{file.size()} + 0x10000;
  if (compressedSize == 0 || compressedSize > file.size() || size > limit) {
    return Fail(stage,
                "the page claims " + std::to_string(size) + " bytes from " +
                    std::to_string(compressedSize) + " stored bytes",
                address);
  }
  if (repeats == 0 || repeats > kMaxRepeats) {
    return Fail(stage, "the page repeats its data " + std::to_string(repeats) + " times", address);
  }
  const std::uint64_t blocks = (AlignTo8(compressedSize) * repeats + kSystemData - 1) / kSystemData;
  if (address > file.size() || blocks > (file.size() - address) / kCodeword) {
    return Fail(stage, "the page passes the end of the file", address);
  }
  std::vector<char> stored(static_cast<std::size_t>(compressedSize));
  Deinterleave(file.data() + address, static_cast<std::size_t>(blocks), kSystemData, stored.size(),
               stored.data());
  char* buffer = Allocate(static_cast<std::size_t>(size));
  if (compressedSize >= size) {
    if (size > 0) std::memcpy(buffer, stored.data(), static_cast<std::size_t>(size));
  } else {
    const CLz77Result result = DecompressR2007(std::string_view(stored.data(), stored.size()),
                                               std::span<char>(buffer, size));
    if (!result.ok) return Fail(stage, result.problem, address);
    if (result.produced != size) {
      return Fail(stage, "the page holds fewer bytes than it claims", address);
    }
  }
  bytes = std::string_view(buffer, static_cast<std::size_t>(size));
  return true;
}

bool CDwgContainerBuilder::ReadR2007() {
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

  // The file header: a checksum, a key and the checksum of the compressed data (none of them
  // checked here), the compressed size (negative: stored), and the data.
  char coded[kFileHeaderBlocks * kSystemData];
  Deinterleave(file.data() + kFileHeaderAt, kFileHeaderBlocks, kSystemData, sizeof coded, coded);
  const auto storedLength = static_cast<std::int32_t>(Load32(coded + 24));
  const std::size_t room = sizeof coded - 32;
  char header[kFileHeaderSize] = {};
  if (storedLength > 0) {
    if (static_cast<std::size_t>(storedLength) > room) {
      return Fail("file header", "its compressed size passes its end", kFileHeaderAt);
    }
    const CLz77Result result =
        DecompressR2007(std::string_view(coded + 32, static_cast<std::size_t>(storedLength)),
                        std::span<char>(header, kFileHeaderSize));
    if (!result.ok) return Fail("file header", result.problem, kFileHeaderAt);
    if (result.produced != kFileHeaderSize) {
      return Fail("file header", "it holds fewer bytes than it should", kFileHeaderAt);
    }
  } else {
    const std::uint64_t length = static_cast<std::uint64_t>(-std::int64_t{storedLength});
    if (length < kFileHeaderSize || length > room) {
      return Fail("file header", "its stored size does not fit", kFileHeaderAt);
    }
    std::memcpy(header, coded + 32, kFileHeaderSize);
  }
  const std::uint64_t pageMapCorrection = Load64(header + 0x18);
  const std::uint64_t pageMapAddress = Load64(header + 0x38) + kPagesStart;
  const std::uint64_t pageMapStored = Load64(header + 0x50);
  const std::uint64_t pageMapSize = Load64(header + 0x58);
  const std::uint64_t sectionMapStored = Load64(header + 0xB0);
  const auto sectionMapId = static_cast<std::int64_t>(Load64(header + 0xC0));
  const std::uint64_t sectionMapSize = Load64(header + 0xC8);
  const std::uint64_t sectionMapCorrection = Load64(header + 0xD8);
  if (pageMapAddress < kPagesStart || pageMapAddress >= file.size()) {
    return Fail("file header", "the page map lies outside the file", kFileHeaderAt);
  }

  // The page map: (size, id) pairs; pages follow each other from 0x480. A negative id marks
  // a gap.
  std::string_view pageMap;
  if (!ReadR2007SystemPage(pageMapAddress, pageMapStored, pageMapSize, pageMapCorrection,
                           "page map", pageMap)) {
    return false;
  }
  std::vector<CPage> pages;
  pages.reserve(pageMap.size() / 16);
  std::uint64_t address = kPagesStart;
  for (std::size_t at = 0; at + 16 <= pageMap.size(); at += 16) {
    CPage page;
    page.size = Load64(pageMap.data() + at);
    page.id = static_cast<std::int64_t>(Load64(pageMap.data() + at + 8));
    page.address = address;
    if (page.size > file.size() - std::min<std::uint64_t>(address, file.size())) {
      // Pages past the end of the file are of no use, and the addresses after them neither.
      Note("page map", "a page passes the end of the file", pageMapAddress);
      break;
    }
    address += page.size;
    if (page.id > 0) pages.push_back(page);
  }
  std::sort(pages.begin(), pages.end(), [](const CPage& a, const CPage& b) { return a.id < b.id; });
  for (std::size_t i = 1; i < pages.size(); ++i) {
    if (pages[i].id == pages[i - 1].id) {
      return Fail("page map", "page " + std::to_string(pages[i].id) + " is listed twice",
                  pageMapAddress);
    }
  }
  auto findPage = [&pages](std::int64_t id) -> CPage* {
    const auto found =
        std::lower_bound(pages.begin(), pages.end(), id,
                         [](const CPage& page, std::int64_t value) { return page.id < value; });
    return found != pages.end() && found->id == id ? &*found : nullptr;
  };

  // The section map: per section eight 64-bit fields, its UTF-16 name and its pages.
  const CPage* sectionMapPage = findPage(sectionMapId);
  if (!sectionMapPage) {
    return Fail("section map", "page " + std::to_string(sectionMapId) + " is not in the page map",
                pageMapAddress);
  }
  const std::uint64_t mapAddress = sectionMapPage->address;
  std::string_view sectionMap;
  if (!ReadR2007SystemPage(mapAddress, sectionMapStored, sectionMapSize, sectionMapCorrection,
                           "section map", sectionMap)) {
    return false;
  }
  std::vector<CDescription> descriptions;
  for (std::size_t at = 0; sectionMap.size() - at >= kSectionRecord;) {
    const char* p = sectionMap.data() + at;
    CDescription description;
    CDwgSection& section = description.section;
    section.size = Load64(p);
    const std::uint64_t maxSize = Load64(p + 8);
    const std::uint64_t encrypted = Load64(p + 16);
    const std::uint64_t nameBytes = Load64(p + 32);
    description.encoding = Load64(p + 48);
    const std::uint64_t pageCount = Load64(p + 56);
    section.id = Load32(p + 24);  // the hash code of the name
    section.maxPageSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(maxSize, 0xFFFFFFFF));
    section.encrypted = static_cast<std::uint32_t>(std::min<std::uint64_t>(encrypted, 2));
    at += kSectionRecord;
    if (nameBytes > kMaxNameBytes || nameBytes > sectionMap.size() - at) {
      return Fail("section map", "a section name passes the end of the map", mapAddress);
    }
    std::u16string name;
    for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
      const auto unit =
          static_cast<char16_t>(static_cast<unsigned char>(sectionMap[at + i]) |
                                static_cast<unsigned char>(sectionMap[at + i + 1]) << 8);
      if (unit == 0) break;
      name += unit;
    }
    section.name = Utf16ToUtf8(name);
    at += static_cast<std::size_t>(nameBytes);
    if (pageCount > (sectionMap.size() - at) / kSectionPageRecord) {
      return Fail("section map",
                  "section " + Printable(section.name) + " lists more pages than the map holds",
                  mapAddress);
    }
    section.pageCount = static_cast<std::uint32_t>(pageCount);
    description.pages.resize(static_cast<std::size_t>(pageCount));
    for (CPageRef& ref : description.pages) {
      const char* q = sectionMap.data() + at;
      ref.start = Load64(q);
      ref.id = static_cast<std::int64_t>(Load64(q + 16));
      ref.size = Load64(q + 24);
      ref.compressed = Load64(q + 32);
      ref.checksum = Load32(q + 40);
      if (ref.compressed < ref.size) section.compressed = true;
      at += kSectionPageRecord;
    }
    descriptions.push_back(std::move(description));
  }

  // What the sections may claim in all. The LZ77 of these files has no useful bound (five
  // bytes can copy 64 KiB), so this is a bound of plausibility: drawings decompress to a few
  // times their size, and three hundred times, as for R2004 files, leaves room for pages of
  // zeros, which are not stored at all.
  const std::uint64_t budget = std::uint64_t{300} * file.size() + (std::uint64_t{16} << 20);
  std::uint64_t claimed = 0;
  std::vector<char> stored;
  for (CDescription& description : descriptions) {
    CDwgSection& section = description.section;
    const bool needed = IsNeededSection(section.name);
    const std::string stage = "section " + Printable(section.name);
    if (section.name.empty() && description.pages.empty()) continue;
    const SectionStart start = StartSection(section, !description.pages.empty());
    if (start == SectionStart::Failed) return false;
    if (start == SectionStart::Kept) continue;
    std::string claim;
    if (section.size > budget) {
      claim = "the section claims " + std::to_string(section.size) +
              " bytes, more than a file of " + std::to_string(file.size()) + " bytes can hold";
    }
    for (const CPageRef& ref : description.pages) {
      if (!claim.empty()) break;
      if (ref.size > kMaxPageSize) {
        claim = "page " + std::to_string(ref.id) + " claims " + std::to_string(ref.size) + " bytes";
      } else if (ref.start > section.size || ref.size > section.size - ref.start) {
        claim = "page " + std::to_string(ref.id) + " passes the end of the section";
      }
    }
    if (!claim.empty()) {
      if (needed) return Fail(stage, claim, mapAddress);
      Note(stage, claim, mapAddress);
      out.sections.push_back(section);
      continue;
    }
    // The buffer ends with the last page: zeros after it would add nothing a reader needs.
    std::uint64_t end = 0;
    for (const CPageRef& ref : description.pages) end = std::max(end, ref.start + ref.size);
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
      CPage* page = findPage(ref.id);
      std::string problem;
      std::uint64_t where = mapAddress;
      // Stored bytes: all of the page when it is not compressed, else its compressed size.
      const bool isCompressed = ref.compressed < ref.size;
      const std::uint64_t storedSize = isCompressed ? ref.compressed : ref.size;
      const std::uint64_t blocks = (AlignTo8(storedSize) + kPageData - 1) / kPageData;
      const bool interleaved = description.encoding == 4;
      const std::uint64_t span = interleaved ? blocks * kCodeword : storedSize;
      if (!page) {
        problem = "page " + std::to_string(ref.id) + " is not in the page map";
      } else if (page->used) {
        return Fail(stage, "page " + std::to_string(ref.id) + " belongs to two sections",
                    mapAddress);
      } else if (span > page->size) {
        problem = "page " + std::to_string(ref.id) + " is too small for its data";
        where = page->address;
      } else if (isCompressed && ref.compressed == 0) {
        problem = "page " + std::to_string(ref.id) + " holds no data";
        where = page->address;
      }
      if (problem.empty()) {
        page->used = true;
        where = page->address;
        // The page map keeps every page inside the file.
        const char* coded = file.data() + page->address;
        std::string_view data(coded, static_cast<std::size_t>(storedSize));
        if (interleaved) {
          stored.resize(static_cast<std::size_t>(storedSize));
          Deinterleave(coded, static_cast<std::size_t>(blocks), kPageData, stored.size(),
                       stored.data());
          data = std::string_view(stored.data(), stored.size());
        }
        char* target = buffer + ref.start;
        const auto size = static_cast<std::size_t>(ref.size);
        if (isCompressed) {
          const CLz77Result result = DecompressR2007(data, std::span<char>(target, size));
          if (!result.ok) {
            problem = "page " + std::to_string(ref.id) + ": " + result.problem;
          } else if (result.produced != size) {
            Note(stage, "page " + std::to_string(ref.id) + " holds fewer bytes than it claims",
                 where);
          }
        } else if (size > 0) {
          std::memcpy(target, data.data(), size);
        }
        if (problem.empty() &&
            PageChecksumR2007(0, std::string_view(target, size)) != ref.checksum) {
          Note(stage, "page " + std::to_string(ref.id) + " checksum mismatch", where);
        }
      }
      if (!problem.empty()) {
        if (needed) return Fail(stage, problem, where);
        Note(stage, problem, where);
        sound = false;
        break;
      }
    }
    section.bytes = std::string_view(buffer, static_cast<std::size_t>(end));
    section.available = sound;
    if (!sound) section.bytes = {};
    out.sections.push_back(section);
  }
  return FinishSections(mapAddress);
}

}  // namespace drawing::dwg::detail
