#pragma once

// Fills a CDwgContainer from the bytes of a file. Private to the DWG container reader: the
// plain R13–R2000 layout is read in DwgContainerR13.cpp, the paged R2004 layout in
// DwgContainerR2004.cpp, the coded R2007 layout in DwgContainerR2007.cpp, and what they share
// (classes, object map) in DwgContainer.cpp.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "drawing/dwg/DwgContainer.h"

namespace drawing::dwg::detail {

// Sentinels that open and close the blocks of a DWG file.
extern const std::string_view kHeaderStartSentinel;
extern const std::string_view kHeaderEndSentinel;
extern const std::string_view kClassesStartSentinel;
extern const std::string_view kClassesEndSentinel;
extern const std::string_view kFileHeaderEndSentinel;
// The failure of a drawing whose data is encrypted.
extern const std::string_view kPasswordMessage;

// Whether a section of the paged layouts is one no drawing can be read without: the header
// variables, the classes, the object map and the objects.
bool IsNeededSection(std::string_view name);

// A section name for a message: anything but printable ASCII as '?'.
std::string Printable(std::string_view name);

// Little-endian integers at p, which the caller has checked to hold them.
inline std::uint32_t Load32(const char* p) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return value;
}
inline std::uint64_t Load64(const char* p) {
  return static_cast<std::uint64_t>(Load32(p)) | static_cast<std::uint64_t>(Load32(p + 4)) << 32;
}

class CDwgContainerBuilder {
 public:
  CDwgContainerBuilder(std::string_view file, CDwgContainer& out) : file(file), out(out) {}

  // Read the layout of out.version; false with failure() set when the container is unusable.
  bool ReadPlain();
  bool ReadPaged();
  bool ReadR2007();

  // The one-line reason of a failure, or the note on the first damage read around.
  const std::string& Failure() const { return failure; }
  const std::string& FirstNote() const { return note; }

 private:
  // Shared by both layouts. `bytes` start at the block's start sentinel; `base` is where they
  // are in the file (or 0 for a section), for messages.
  bool ReadClasses(std::string_view bytes, std::uint64_t base);
  bool ReadObjectMap(std::string_view bytes, std::uint64_t base);
  void CheckHeaderBlock(std::string_view bytes, std::uint64_t base);
  bool HasHighSizeWord() const;

  // Sets the failure "<stage>: <what> (byte offset N)" and returns false.
  bool Fail(std::string_view stage, std::string_view what, std::uint64_t offset);
  // Counts a damage and keeps the first note "<stage>: <what> (byte offset N)".
  void Note(std::string_view stage, std::string_view what, std::uint64_t offset);
  // Gives the container a buffer of `size` zero bytes that lives as long as it does.
  char* Allocate(std::size_t size);

  // R2004 family and R2007: once out.sections holds the sections, takes the header
  // variables, the classes, the object map and the object data from them. `mapAddress` is the
  // section map's, for messages.
  bool FinishSections(std::uint64_t mapAddress);

  // R2004 family and R2007, before a section's pages are read: an encrypted section, or one
  // without pages or bytes, goes to out.sections as it stands (Kept), unless the drawing
  // cannot do without the encrypted one (Failed, with the password failure).
  enum class SectionStart { ReadPages, Kept, Failed };
  SectionStart StartSection(CDwgSection& section, bool hasPages);

  // R2004 family.
  bool ReadSystemPage(std::uint64_t address, std::uint32_t type, std::string_view stage,
                      std::string_view& bytes);

  // R2007: a page of the page or section map at `address`, whose `compressedSize` bytes
  // (repeated `repeats` times in its codewords) give `size` bytes.
  bool ReadR2007SystemPage(std::uint64_t address, std::uint64_t compressedSize, std::uint64_t size,
                           std::uint64_t repeats, std::string_view stage, std::string_view& bytes);

  std::string_view file;
  CDwgContainer& out;
  std::string failure;
  std::string note;
  // Where the byte offsets of messages count from: empty for the file, else a section name.
  std::string offsetContext;
};

// Whether the header-variables and classes blocks follow their size with a second long:
// R2010 and R2013 files of maintenance release 4 and later, and all R2018 files.
bool HasHighSizeWord(Version version, std::uint8_t maintenanceRelease);

// The checksum of R2004 pages: two sums modulo 0xFFF1 over the bytes, continued from `seed`.
std::uint32_t PageChecksum(std::uint32_t seed, std::string_view bytes);

// The checksum of the (decompressed) data of R2007 pages: the same two sums, started from a
// value made of the seed and the length, with the bytes taken in another order.
std::uint32_t PageChecksumR2007(std::uint64_t seed, std::string_view bytes);

}  // namespace drawing::dwg::detail
