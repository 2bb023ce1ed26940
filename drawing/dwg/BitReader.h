#pragma once

// Reads the bit-coded values of DWG data (objects, header variables, classes) and computes the
// two checksums the format uses for them.
//
// DWG streams are read most significant bit first within each byte; multi-byte raw values are
// little-endian. Every read is bounded: a read that would pass the end of the reader's range
// marks the reader as failed (for good), returns zero (or an empty value) and leaves the
// position where it was. Code that reads a record can therefore read all its fields and check
// Failed() once at the end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "drawing/dwg/DwgVersion.h"

namespace drawing::dwg {

struct CPoint2 {
  double x = 0.0;
  double y = 0.0;
};

struct CPoint3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// A handle reference as stored: a code, the count of bytes that followed and those bytes.
struct CHandleRef {
  // 2 soft owner, 3 hard owner, 4 soft pointer, 5 hard pointer (value is the handle);
  // 6 reference + 1, 8 reference - 1, 0xA reference + value, 0xC reference - value.
  std::uint8_t code = 0;
  std::uint8_t counter = 0;
  std::uint64_t value = 0;

  // The handle referred to. Relative codes count from `reference`, the handle of the object
  // being read; absolute codes ignore it. Wraps around like the file's own arithmetic.
  std::uint64_t Absolute(std::uint64_t reference) const;
};

// A colour as CMC: R13 to R2000 store only the index; R2004 and later add the RGB word whose
// top byte says how the colour is given (0xC0 ByLayer, 0xC1 ByBlock, 0xC2/0xC3 index or true
// colour, 0xC8 none) and optional colour and book names.
struct CCmColor {
  std::int16_t index = 0;
  std::uint32_t rgb = 0;   // R2004+: method << 24 | red << 16 | green << 8 | blue
  std::uint8_t flags = 0;  // R2004+: 1 name follows, 2 book name follows
  std::string name;        // as ReadText gives it
  std::string bookName;
  std::uint8_t Method() const { return static_cast<std::uint8_t>(rgb >> 24); }
};

// An entity colour as ENC (R2004 and later; before, ReadENC reads a CMC index).
struct CEntityColor {
  static constexpr std::uint16_t kRgb = 0x8000;           // rgb holds a true colour
  static constexpr std::uint16_t kColorHandle = 0x4000;   // a DBCOLOR handle follows in the
                                                          // handle stream (read by the caller)
  static constexpr std::uint16_t kTransparency = 0x2000;  // transparency holds a value
  std::uint16_t index = 0;                                // ACI, 0 ByBlock, 256 ByLayer
  std::uint16_t flags = 0;                                // the k… bits above
  std::uint32_t rgb = 0;
  std::uint32_t transparency = 0;  // type in the top byte (0 ByLayer, 1 ByBlock, 3 value)
};

class CBitReader {
 public:
  // An empty reader: every read fails.
  CBitReader() = default;
  // A reader over all of `bytes`, from its first bit. The reader keeps a view: the bytes must
  // outlive it.
  CBitReader(std::string_view bytes, Version version);
  // A reader over bits [startBit, endBit) of `bytes`. An end past the bytes is pulled back to
  // their end; a start past the end gives a reader that has already failed.
  CBitReader(std::string_view bytes, Version version, std::size_t startBit, std::size_t endBit);
  // A reader would outlive a temporary string: refused at compile time.
  CBitReader(std::string&&, Version) = delete;
  CBitReader(std::string&&, Version, std::size_t, std::size_t) = delete;

  Version GetVersion() const { return version; }
  std::string_view Bytes() const { return bytes; }

  // Positions are counted in bits from the first byte of Bytes(), not from the start bit.
  std::size_t Position() const { return position; }
  std::size_t StartBit() const { return startBit; }
  std::size_t EndBit() const { return endBit; }
  std::size_t BitsLeft() const { return failed ? 0 : endBit - position; }
  bool Failed() const { return failed; }
  // Marks the reader as failed, e.g. when a value read is impossible.
  void Fail() { failed = true; }

  // Moves within [StartBit(), EndBit()]; outside, the reader fails and stays where it was.
  void SetPosition(std::size_t bit);
  void SkipBits(std::size_t count);
  void SkipBytes(std::size_t count);
  // Moves to the next byte boundary (of Bytes()), unless on one already.
  void AlignToByte();

  // B, BB, 3B: one bit; two bits; one to three bits, stopping after a 0 (0, 2, 6 or 7).
  bool ReadB();
  std::uint8_t ReadBB();
  std::uint8_t Read3B();
  // BS, BL, BLL, BD: the bit-coded short, long, long long (3-bit byte count) and double.
  std::uint16_t ReadBS();
  std::uint32_t ReadBL();
  std::uint64_t ReadBLL();
  double ReadBD();
  // DD: a double given as changes to `defaultValue`.
  double ReadDD(double defaultValue);
  // RC, RS, RL, RLL, RD: raw little-endian values at any bit position.
  std::uint8_t ReadRC();
  std::uint16_t ReadRS();
  std::uint32_t ReadRL();
  std::uint64_t ReadRLL();
  double ReadRD();
  // RS stored most significant byte first (object map chunk sizes and checksums).
  std::uint16_t ReadRSBigEndian();
  // MC: modular char, signed by the 0x40 bit of its last byte; UMC: the unsigned form;
  // MS: modular short (object sizes). A value longer than the format allows fails.
  std::int64_t ReadMC();
  std::uint64_t ReadUMC();
  std::uint32_t ReadMS();
  // H: a handle reference (code, counter, up to 8 big-endian bytes).
  CHandleRef ReadH();
  // BE (extrusion), BT (thickness) and OT (object type), each in this reader's version's form.
  CPoint3 ReadBE();
  double ReadBT();
  std::uint16_t ReadOT();
  // 2RD, 2BD, 3BD, 3RD points.
  CPoint2 Read2RD();
  CPoint2 Read2BD();
  CPoint3 Read3BD();
  CPoint3 Read3RD();

  // TV: BS length and that many 8-bit characters, as stored (in the drawing's code page).
  std::string ReadTV();
  // TU: BS length and that many UTF-16 code units.
  std::u16string ReadTU();
  // T as the version stores it: TV before R2007, TU from R2007 on. The result is UTF-8 for
  // R2007+ and the stored 8-bit bytes before; one terminating NUL, when stored, is dropped.
  std::string ReadText();

  // CMC. The names of an R2007+ colour are read from `strings` (an object's string stream);
  // null means this reader.
  CCmColor ReadCMC(CBitReader* strings = nullptr);
  // ENC (R2004+; earlier versions store a CMC index, which this then reads).
  CEntityColor ReadENC();

  // Reads `count` raw bytes. On failure the result is empty.
  std::string ReadBytes(std::size_t count);
  // Reads 16 bytes and tells whether they are `sentinel` (which must be 16 bytes long). A
  // mismatch is not a failure of the reader.
  bool ReadSentinel(std::string_view sentinel);

 private:
  bool Need(std::size_t bits);
  std::uint64_t ReadBitsUnchecked(unsigned count);  // count ≤ 57

  std::string_view bytes;
  Version version = Version::R2000;
  std::size_t startBit = 0;
  std::size_t position = 0;
  std::size_t endBit = 0;
  bool failed = false;
};

// R2007 and later: the string stream of a data part that ends at `endBit` (exclusive). The
// last bit of the part says whether there is one; if so, the 16 bits before it give its size
// in bits, and when their top bit is set the 16 bits before those give the size's high bits.
// The stream ends where those size fields begin. True with [start, end) the stream (empty,
// start = end = endBit - 1, when the flag is 0); false when the fields or the stream would
// begin before `minimumBit` or pass the end of `bytes`.
bool FindStringStream(std::string_view bytes, std::size_t endBit, std::size_t minimumBit,
                      std::size_t& start, std::size_t& end);

// The 16-bit checksum of objects, sections and the object map ("CRC-8" for its byte-indexed
// table): the reflected 0xA001 polynomial, continued from `seed`.
std::uint16_t Crc16(std::uint16_t seed, std::string_view bytes);

// The CRC-32 of R2004 headers (the common reflected 0xEDB88320 polynomial). `seed` is the
// previous result when a checksum is computed in parts (0 to start).
std::uint32_t Crc32(std::uint32_t seed, std::string_view bytes);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace drawing::dwg
