#pragma once

// Small DWG files built by the tests themselves, so that the container and its damage handling
// are tested without the shared corpus, and bit strings written the way DWG streams are read.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dwgtest {

// Bytes from a string of '0' and '1' (other characters ignored), most significant bit first,
// padded with zero bits to a whole byte.
std::string FromBits(std::string_view bits);

// Writes bit codes most significant bit first, in the forms the reader expects.
class CBitWriter {
 public:
  void Bits(std::uint64_t value, int count);
  void B(bool value) { Bits(value ? 1 : 0, 1); }
  void RC(std::uint8_t value) { Bits(value, 8); }
  void RS(std::uint16_t value);
  void RL(std::uint32_t value);
  void BS(std::uint16_t value);
  void BL(std::uint32_t value);
  void TV(std::string_view text);
  void TU(std::u16string_view text);
  // RD raw double; BD bit double (the short forms for 0 and 1); DD a double written in full
  // unless it equals `defaultValue`.
  void RD(double value);
  void BD(double value);
  void DD(double value, double defaultValue);
  void BD3(double x, double y, double z) {
    BD(x);
    BD(y);
    BD(z);
  }
  void H(std::uint8_t code, std::uint64_t value);
  std::size_t BitCount() const { return bitCount; }
  std::string Bytes() const { return bytes; }

 private:
  std::string bytes;
  std::size_t bitCount = 0;
};

// One object of a synthetic file: an object map entry and the object it points at.
struct CSyntheticObject {
  std::uint64_t handle = 0;
  std::uint16_t type = 0;
  bool entity = false;
};

struct CSyntheticOptions {
  // Objects of the file, each with a valid frame and checksum.
  std::vector<CSyntheticObject> objects = {
      {1, 0x30, false}, {2, 0x32, false}, {0x10, 0x13, true}, {0x11, 500, false}};
  // An older copy of the first object (whose data starts with 8, not 7) before the objects,
  // listed in the map before the current one (a later entry replaces an earlier one).
  bool duplicateEntry = true;
  // An extra map entry with a handle of its own at the second object's offset.
  bool sharedOffset = false;
  // This many extra map entries, each with a handle of its own, all at the offset of one more
  // object of 64 KiB (as a fuzzer made them: framing each would read it again and again).
  int crowdedEntries = 0;
  // An extra map entry pointing past the end of the object data.
  bool entryOutside = false;
  // 300 extra map entries, each 2^55 bytes after the one before (a sum past 64 bits).
  bool runawayOffsets = false;
  // The paged files (R2004 and R2007).
  std::uint32_t securityFlags = 0;
  std::uint64_t claimedObjectsSize = 0;  // 0: the true size of AcDb:AcDbObjects
  bool encryptObjects = false;
  bool pageMapAddressOutside = false;
  // R2004 only: the section map counts five descriptions but holds four (and 32 bytes of padding).
  bool phantomDescription = false;
};

// A minimal R2000 file: three section locators, a header-variables block (of placeholder
// variables), one class (number 500, an object class), the objects and the object map.
std::string MakeR2000File(const CSyntheticOptions& options = {});

// A minimal R2004 file with its scrambled header, one data page each for AcDb:Header,
// AcDb:Classes, AcDb:Handles and AcDb:AcDbObjects (compressed as literal runs), the section
// map and the page map.
std::string MakeR2004File(const CSyntheticOptions& options = {});

// Compresses `data` the simplest valid way: one literal run and the end mark. Needs at least
// four bytes.
std::string CompressAsLiterals(std::string_view data);

// A minimal R2007 file: the coded file header, one interleaved data page each for AcDb:Header,
// AcDb:Classes (with its string stream), AcDb:Handles and AcDb:AcDbObjects (the last two
// compressed, and ending in zeros), the section map (compressed) and the page map.
std::string MakeR2007File(const CSyntheticOptions& options = {});

// Compresses `data` (at least one byte) as one literal run of R2007 data, its bytes in the
// order such runs keep them.
std::string CompressR2007AsLiterals(std::string_view data);
// The same, but more than 0x100 zeros at the end become a copy: shorter than `data`.
std::string CompressR2007(std::string_view data);

}  // namespace dwgtest
