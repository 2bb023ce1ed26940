#pragma once

// The frame every object of a DWG file shares: its size, type and handle, its extended data,
// and where its three bit streams are (data, strings, handles). What the data means for each
// type is read on top of this.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/DwgContainer.h"

namespace drawing::dwg {

// Extended entity data of one application, undecoded.
struct CDwgExtendedData {
  std::uint64_t application = 0;  // handle of the APPID
  std::string bytes;
};

struct CDwgObjectFrame {
  std::uint64_t offset = 0;            // where the object starts (at its size) in the object data
  std::uint64_t dataOffset = 0;        // where its bits start, after the size fields
  std::uint32_t size = 0;              // bytes from dataOffset to the checksum (MS)
  std::uint64_t handleStreamBits = 0;  // R2010+: size of the handle stream, padding included
  std::uint16_t type = 0;
  bool isEntity = false;
  // The end of the data part, in bits from dataOffset: where the handle stream starts. Stored
  // from R2000 to R2007 (R13 and R14 store it after the extended data), computed from
  // handleStreamBits in R2010+.
  std::uint64_t dataEndBit = 0;
  std::uint64_t handle = 0;
  std::size_t extendedDataCount = 0;
  std::vector<CDwgExtendedData> extendedData;  // filled when asked for
  bool hasGraphics = false;
  std::uint64_t graphicsSize = 0;  // bytes of proxy graphics (ReadObjectGraphics gives them)
  std::uint64_t graphicsBit = 0;   // where they start, in bits of the object data
  bool crcMatches = false;
  bool hasStringStream = false;  // R2007+: the object has a string stream

  // The object's data after the common part read here: after the extended data (objects) or
  // after the graphics (entities), and for R13/R14 after the data size. It ends where the
  // string stream (R2007+) or the handle stream starts.
  CBitReader data;
  // R2007+: the string stream (empty when the object has none). Use Strings() to read text.
  CBitReader strings;
  // The handle stream, from its start to the end of the object (padding included).
  CBitReader handles;

  // Where the object's text is: its string stream from R2007 on, its data stream before.
  CBitReader& Strings() { return HasStringStream(data.GetVersion()) ? strings : data; }
};

// Frames the object that starts at `offset` of container.objectData (an offset from the
// object map).
//
// True when the frame is sound: the size fields, type, handle, extended data and graphics all
// lie inside the object, and its streams inside its size. With `checkCrc` the checksum is
// checked, but a mismatch only clears crcMatches; without, crcMatches stays false (the reader
// of the drawing does not look at it, and the checksum of every object read costs a third of
// reading a drawing). With `keepExtendedData` the extended data is copied into
// frame.extendedData; otherwise only counted.
//
// False, with a one-line reason in `*error` naming the offset, when the object cannot be
// framed. The readers of `frame` view container.objectData and live as long as it does.
// `error` may be null. Never throws.
bool ReadObjectFrame(const CDwgContainer& container, std::uint64_t offset, CDwgObjectFrame& frame,
                     std::string* error, bool keepExtendedData = false, bool checkCrc = true);

// The proxy graphics of a framed entity (see drawing/ProxyGraphics.h), or nothing when it has
// none.
std::string ReadObjectGraphics(const CDwgContainer& container, const CDwgObjectFrame& frame);

// The name of an object type: the fixed names (TEXT, LINE, LAYER_CONTROL, ...) below 500, the
// DXF name of the class from 500 on, and "UNKNOWN(n)" for a type the file does not define.
std::string ObjectTypeName(const CDwgContainer& container, std::uint16_t type);

// Whether objects of `type` are entities (drawn things) rather than other objects.
bool IsEntityType(const CDwgContainer& container, std::uint16_t type);

// The fixed type numbers the layers above look for.
namespace objecttype {
inline constexpr std::uint16_t kBlockControl = 0x30;
inline constexpr std::uint16_t kBlockHeader = 0x31;
inline constexpr std::uint16_t kLayerControl = 0x32;
inline constexpr std::uint16_t kLayer = 0x33;
inline constexpr std::uint16_t kStyleControl = 0x34;
inline constexpr std::uint16_t kLinetypeControl = 0x38;
inline constexpr std::uint16_t kLinetype = 0x39;
inline constexpr std::uint16_t kViewControl = 0x3C;
inline constexpr std::uint16_t kUcsControl = 0x3E;
inline constexpr std::uint16_t kVportControl = 0x40;
inline constexpr std::uint16_t kAppIdControl = 0x42;
inline constexpr std::uint16_t kDimStyleControl = 0x44;
inline constexpr std::uint16_t kDictionary = 0x2A;
inline constexpr std::uint16_t kStyle = 0x35;
inline constexpr std::uint16_t kProxyEntity = 0x1F2;
inline constexpr std::uint16_t kProxyObject = 0x1F3;
inline constexpr std::uint16_t kFirstClassType = 500;
}  // namespace objecttype

}  // namespace drawing::dwg
