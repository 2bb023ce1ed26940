#pragma once

// The container of a DWG file: which release wrote it, where its sections are, the class list
// and the object map. This is the lowest layer of the native DWG reader; the header variables
// (DwgHeader.h) and the objects (DwgObject.h) are read on top of it.
//
// R13, R14 and R2000 files are plain: the sections are slices of the file and objects sit at
// absolute file offsets. R2004 and later keep every section in compressed pages (R2007 in
// Reed-Solomon coded pages of its own kind); the container decompresses them and owns the
// result.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/dwg/DwgVersion.h"

namespace drawing::dwg {

namespace detail {
class CDwgContainerBuilder;
}

// One entry of the classes section: the object types numbered 500 and up.
struct CDwgClass {
  std::uint16_t number = 0;      // the object type that names this class
  std::uint16_t proxyFlags = 0;  // what may be done to proxies of the class (R14 and later)
  std::string applicationName;   // these three are 8-bit before R2007, UTF-8 from R2007
  std::string cppClassName;
  std::string dxfName;
  bool wasZombie = false;
  std::uint16_t itemClassId = 0;  // 0x1F2 for entities, 0x1F3 for other objects
  bool isEntity = false;          // itemClassId is 0x1F2
  // R2004 and later only.
  std::uint32_t instanceCount = 0;
  std::uint32_t dwgVersion = 0;
  std::uint32_t maintenanceVersion = 0;
};

struct CDwgObjectLocation {
  std::uint64_t handle = 0;
  std::uint64_t offset = 0;  // where the object starts in CDwgContainer::objectData
};

// A logical section. R13 to R2000 name their section-locator records like the R2004 sections
// (0 AcDb:Header, 1 AcDb:Classes, 2 AcDb:Handles, 3 AcDb:ObjFreeSpace, 4 AcDb:Template,
// 5 AcDb:AuxHeader).
struct CDwgSection {
  std::string name;
  std::string_view bytes;     // the section's (decompressed) bytes; empty when not available
  std::uint64_t size = 0;     // the size the file gives
  std::uint64_t address = 0;  // R13–R2000: file offset of the section; R2004+: 0
  bool available = false;     // bytes hold the section (false: encrypted or damaged)
  // R2004 family and R2007 (where id is the hash code the file gives the name).
  std::uint32_t id = 0;
  std::uint32_t pageCount = 0;
  std::uint32_t maxPageSize = 0;
  bool compressed = false;
  std::uint32_t encrypted = 0;  // 0 no, 1 yes, 2 unknown (as stored)
};

// What ReadDwgContainer found. Move-only: its views point into buffers it owns (R2004 and later)
// or into the file bytes given to ReadDwgContainer (R13 to R2000), which must then outlive it.
class CDwgContainer {
 public:
  CDwgContainer();
  ~CDwgContainer();
  CDwgContainer(CDwgContainer&&) noexcept;
  CDwgContainer& operator=(CDwgContainer&&) noexcept;
  CDwgContainer(const CDwgContainer&) = delete;
  CDwgContainer& operator=(const CDwgContainer&) = delete;

  Version version = Version::R2000;
  std::uint8_t maintenanceRelease = 0;  // byte 0x0B
  std::uint16_t codePage = 0;           // raw short at 0x13 (30 = ANSI_1252)
  std::uint32_t securityFlags = 0;      // R2004 and later: the long at 0x18

  // The header-variables block, from its start sentinel to the end of its end sentinel
  // (R13–R2000: a slice of the file; R2004+: the whole AcDb:Header section).
  std::string_view headerVariables;
  std::vector<CDwgClass> classes;
  // Handle → offset, sorted by handle, one entry per handle (a later entry of the map replaces
  // an earlier one, as CAD does). Every offset lies inside objectData, and no two entries
  // share an offset (of entries that do, only the one naming the object's own handle stays).
  std::vector<CDwgObjectLocation> objectMap;
  // The bytes the object offsets count in: the whole file for R13–R2000, the decompressed
  // AcDb:AcDbObjects section from R2004 on.
  std::string_view objectData;
  // Every section found, in the order the file lists them.
  std::vector<CDwgSection> sections;

  // Damage read around, e.g. checksum mismatches: how many object map chunks, pages and
  // sections failed their checks. Zero for a sound file.
  std::size_t damageCount = 0;

  const CDwgSection* FindSection(std::string_view name) const;
  // The class that gives object type `number`, or null.
  const CDwgClass* FindClass(std::uint16_t number) const;
  // The offset of the object with that handle in objectData; false when the map lacks it.
  bool FindObject(std::uint64_t handle, std::uint64_t& offset) const;
  // Where an object starting at `offset` must end, its checksum included: the next mapped
  // object's offset, or the end of objectData. Objects never overlap, so this bounds the
  // bytes that framing every mapped object reads by the size of the data.
  std::uint64_t ObjectLimit(std::uint64_t offset) const;

 private:
  friend class detail::CDwgContainerBuilder;
  std::vector<std::unique_ptr<char[]>> ownedBuffers;
  std::vector<std::uint64_t> objectOffsets;  // of objectMap, sorted
};

// Reads the container of a whole DWG file held in memory. `out` is reset first.
//
// True when the container could be read: the version is known and supported, and the header
// variables, the classes, the object map and the object data were found. `*error` is then
// empty, or a one-line note on the first damage read around (a checksum mismatch, an object
// map entry outside the data); damageCount says how much there was.
//
// False when the file is not a DWG file, is of a release not supported yet (pre-R13: "this DWG
// version is not supported yet"), is
// protected by a password ("the drawing is protected by a password"), or is too damaged;
// `*error` then names the stage (file header, section map, page map, classes, object map,
// ...) and the byte offset, and `out` holds what was read before the failure. `error` may be
// null. Never throws; memory exhaustion is reported as a failure.
bool ReadDwgContainer(std::string_view file, CDwgContainer& out, std::string* error);

}  // namespace drawing::dwg
