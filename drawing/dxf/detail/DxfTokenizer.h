#pragma once

// Splits the bytes of a DXF file, ASCII or binary, into groups (a group code and its value).
// Private to the DXF reader.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "drawing/Model.h"

namespace drawing::detail {

// One group as stored. ASCII files give every value as text; binary files give numbers as
// numbers. The views point into the file's bytes and live as long as they do.
struct DxfGroup {
  enum class Kind : std::uint8_t { Text, Real, Integer, Bytes };
  std::int32_t code = 0;
  Kind kind = Kind::Text;
  std::string_view text;  // Text (the value line without its line end) and Bytes
  union {
    double real;
    std::int64_t integer;
  };
  DxfGroup() : integer(0) {}
};

// The numeric value of a group: parsed from ASCII text (surrounding blanks allowed, a leading
// '+' allowed, an integer written as a real accepted), or the binary value. False for text that
// is not a finite number; `value` is then unchanged.
bool GroupReal(const DxfGroup& group, double& value);
bool GroupInteger(const DxfGroup& group, std::int64_t& value);

// The value of a group as a number, or fallback when it holds none; Int clamps to 32 bits.
inline double Real(const DxfGroup& group, double fallback = 0.0) {
  double value = fallback;
  GroupReal(group, value);
  return value;
}

inline std::int64_t Integer(const DxfGroup& group, std::int64_t fallback = 0) {
  std::int64_t value = fallback;
  GroupInteger(group, value);
  return value;
}

inline int Int(const DxfGroup& group, int fallback = 0) {
  const std::int64_t value = Integer(group, fallback);
  return static_cast<int>(value < -2147483647  ? -2147483647
                          : value > 2147483647 ? 2147483647
                                               : value);
}

// Coordinates: codes base, base + 10 and base + 20 are x, y and z of one point (10/20/30,
// 11/21/31, …). True when the group was one of them.
inline bool SetCoordinate(Vec3& point, int base, const DxfGroup& group) {
  if (group.code == base) {
    point.x = Real(group);
  } else if (group.code == base + 10) {
    point.y = Real(group);
  } else if (group.code == base + 20) {
    point.z = Real(group);
  } else {
    return false;
  }
  return true;
}

inline bool SetCoordinate(Vec2& point, int base, const DxfGroup& group) {
  if (group.code == base) {
    point.x = Real(group);
  } else if (group.code == base + 10) {
    point.y = Real(group);
  } else {
    return false;
  }
  return true;
}
// The value with surrounding blanks removed (for names and markers); the text as stored
// otherwise.
std::string_view GroupTrimmed(const DxfGroup& group);
// A handle (hexadecimal text, or a binary integer); 0 when the value is not one.
std::uint64_t GroupHandle(const DxfGroup& group);

std::string_view TrimBlanks(std::string_view text);

class CDxfTokenizer {
 public:
  enum class Result { Group, End, Damaged };

  // `bytes` must outlive the tokenizer. A binary file is recognised by its sentinel.
  explicit CDxfTokenizer(std::string_view bytes);

  bool IsBinary() const { return binary; }

  // The next group. End: no more data (a group cut short at the very end also ends the data,
  // and Truncated() tells so). Damaged: the group code is not a number (ASCII) or the value
  // runs past the end or has an unknown code (binary); Where() and Problem() tell which.
  Result Next(DxfGroup& group);

  // After damage in an ASCII file: moves to the next line pair that looks like the start of a
  // record (group 0 and a name). False when there is none; binary files cannot be resumed.
  bool Resync();

  // "line N" (ASCII, the line of the last group's code) or "byte offset N" (binary).
  std::string Where() const;
  const std::string& Problem() const { return problem; }
  bool Truncated() const { return truncated; }
  // The code of the group that was cut short, or -1 when its code was cut too.
  int TruncatedCode() const { return truncatedCode; }
  // How much of the file is still unread, for capping counts the file cannot hold.
  std::size_t Remaining() const { return bytes.size() - offset; }

 private:
  bool ReadLine(std::string_view& line);
  Result NextAscii(DxfGroup& group);
  Result NextBinary(DxfGroup& group);
  Result Fail(std::string what);

  std::string_view bytes;
  std::size_t offset = 0;
  std::size_t groupStart = 0;   // binary: offset of the last group's code
  std::uint64_t line = 0;       // ASCII: lines consumed
  std::uint64_t groupLine = 0;  // ASCII: line of the last group's code (1-based)
  char endOfLine = '\n';
  bool binary = false;
  bool shortCodes = false;  // binary files of R12 and older: 1-byte group codes
  bool truncated = false;
  int truncatedCode = -1;
  std::string problem;
};

}  // namespace drawing::detail
