#include "drawing/dxf/detail/DxfTokenizer.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace drawing::detail {

namespace {

constexpr std::string_view kBinarySentinel{"AutoCAD Binary DXF\r\n\x1a\0", 22};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\x1a';
}

// How a binary file stores the value of each group code.
enum class BinaryKind { String, Real, Int16, Int32, Int64, Bool, Chunk, Unknown };

BinaryKind KindOfCode(int code) {
  if (code < 0 || code > 1071) return BinaryKind::Unknown;
  if ((code >= 10 && code <= 59) || (code >= 110 && code <= 149) || (code >= 210 && code <= 239) ||
      (code >= 460 && code <= 469) || (code >= 1010 && code <= 1059)) {
    return BinaryKind::Real;
  }
  if ((code >= 60 && code <= 79) || (code >= 170 && code <= 179) || (code >= 270 && code <= 289) ||
      (code >= 370 && code <= 389) || (code >= 400 && code <= 409) ||
      (code >= 1060 && code <= 1070)) {
    return BinaryKind::Int16;
  }
  if ((code >= 90 && code <= 99) || (code >= 420 && code <= 429) || (code >= 440 && code <= 459) ||
      code == 1071) {
    return BinaryKind::Int32;
  }
  if (code >= 160 && code <= 169) return BinaryKind::Int64;
  if (code >= 290 && code <= 299) return BinaryKind::Bool;
  if ((code >= 310 && code <= 319) || code == 1004) return BinaryKind::Chunk;
  return BinaryKind::String;
}

template <typename T>
T LoadLittleEndian(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::big) {
    auto* b = reinterpret_cast<unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof value / 2; ++i) std::swap(b[i], b[sizeof value - 1 - i]);
  }
  return value;
}

bool ParseReal(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double parsed = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\n')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

bool GroupReal(const DxfGroup& group, double& value) {
  switch (group.kind) {
    case DxfGroup::Kind::Real:
      if (!std::isfinite(group.real)) return false;
      value = group.real;
      return true;
    case DxfGroup::Kind::Integer:
      value = static_cast<double>(group.integer);
      return true;
    case DxfGroup::Kind::Text:
      return ParseReal(group.text, value);
    case DxfGroup::Kind::Bytes:
      return false;
  }
  return false;
}

bool GroupInteger(const DxfGroup& group, std::int64_t& value) {
  switch (group.kind) {
    case DxfGroup::Kind::Integer:
      value = group.integer;
      return true;
    case DxfGroup::Kind::Real:
      break;
    case DxfGroup::Kind::Text: {
      std::string_view text = TrimBlanks(group.text);
      if (!text.empty() && text.front() == '+') text.remove_prefix(1);
      std::int64_t parsed = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
      if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) {
        value = parsed;
        return true;
      }
      break;  // some writers store integers as reals ("7.0")
    }
    case DxfGroup::Kind::Bytes:
      return false;
  }
  double real = 0.0;
  if (!GroupReal(group, real)) return false;
  constexpr double kLimit = 9.2e18;
  if (real > kLimit || real < -kLimit) return false;
  value = static_cast<std::int64_t>(real);
  return true;
}

std::string_view GroupTrimmed(const DxfGroup& group) {
  return TrimBlanks(group.text);
}

std::uint64_t GroupHandle(const DxfGroup& group) {
  if (group.kind == DxfGroup::Kind::Integer) return static_cast<std::uint64_t>(group.integer);
  std::string_view text = TrimBlanks(group.text);
  if (text.empty() || text.size() > 16) return 0;
  std::uint64_t handle = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), handle, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return handle;
}

CDxfTokenizer::CDxfTokenizer(std::string_view data) : bytes(data) {
  if (bytes.substr(0, kBinarySentinel.size()) == kBinarySentinel) {
    binary = true;
    offset = kBinarySentinel.size();
    // The first group is (0, "SECTION"): R12 and older write its code as one byte, later
    // versions as two, so a second zero byte tells the newer form.
    shortCodes = bytes.size() > offset + 1 && bytes[offset] == 0 && bytes[offset + 1] != 0;
    return;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") offset = 3;
  // Files from old Macintosh programs end lines with a lone CR.
  std::string_view head = bytes.substr(offset, 4096);
  if (head.find('\n') == std::string_view::npos && head.find('\r') != std::string_view::npos) {
    endOfLine = '\r';
  }
}

bool CDxfTokenizer::ReadLine(std::string_view& text) {
  if (offset >= bytes.size()) return false;
  const char* start = bytes.data() + offset;
  const std::size_t left = bytes.size() - offset;
  const void* found = std::memchr(start, endOfLine, left);
  std::size_t length =
      found ? static_cast<std::size_t>(static_cast<const char*>(found) - start) : left;
  offset += found ? length + 1 : length;
  ++line;
  if (length > 0 && start[length - 1] == '\r') --length;
  text = std::string_view(start, length);
  return true;
}

CDxfTokenizer::Result CDxfTokenizer::Fail(std::string what) {
  problem = std::move(what);
  return Result::Damaged;
}

CDxfTokenizer::Result CDxfTokenizer::Next(DxfGroup& group) {
  return binary ? NextBinary(group) : NextAscii(group);
}

CDxfTokenizer::Result CDxfTokenizer::NextAscii(DxfGroup& group) {
  const std::size_t codeStart = offset;
  std::string_view codeLine;
  if (!ReadLine(codeLine)) return Result::End;
  groupLine = line;
  // Group codes are short integers, often padded with blanks; parsed by hand because this is
  // the hottest loop of the reader.
  const char* p = codeLine.data();
  const char* end = p + codeLine.size();
  while (p < end && IsBlank(*p)) ++p;
  bool negative = false;
  if (p < end && *p == '-') {
    negative = true;
    ++p;
  }
  const char* digits = p;
  std::int32_t code = 0;
  while (p < end && *p >= '0' && *p <= '9' && p - digits < 9) code = code * 10 + (*p++ - '0');
  const bool hasDigits = p > digits;
  while (p < end && IsBlank(*p)) ++p;
  if (!hasDigits || p != end) {
    std::size_t next = codeStart;
    while (next < bytes.size() && (IsBlank(bytes[next]) || bytes[next] == '\n')) ++next;
    if (next == bytes.size()) return Result::End;  // blank lines or a Ctrl-Z after the last group
    std::string shown(codeLine.substr(0, 20));
    for (char& c : shown) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    }
    return Fail("group code expected, found \"" + shown + "\"");
  }
  std::string_view valueLine;
  if (!ReadLine(valueLine)) {
    truncated = true;
    truncatedCode = negative ? -code : code;
    problem = "the last group has no value";
    return Result::End;
  }
  group.code = negative ? -code : code;
  group.kind = DxfGroup::Kind::Text;
  group.text = valueLine;
  group.integer = 0;
  return Result::Group;
}

CDxfTokenizer::Result CDxfTokenizer::NextBinary(DxfGroup& group) {
  if (offset >= bytes.size()) return Result::End;
  groupStart = offset;
  const std::size_t left = bytes.size() - offset;
  const char* p = bytes.data() + offset;
  int code = 0;
  std::size_t codeSize = 0;
  if (shortCodes) {
    const auto first = static_cast<unsigned char>(p[0]);
    if (first == 255) {  // an escape to a 16-bit code (extended data)
      if (left < 3) {
        truncated = true;
        problem = "a group code is cut short";
        return Result::End;
      }
      code = LoadLittleEndian<std::uint16_t>(p + 1);
      codeSize = 3;
    } else {
      code = first;
      codeSize = 1;
    }
  } else {
    if (left < 2) {
      truncated = true;
      problem = "a group code is cut short";
      return Result::End;
    }
    code = LoadLittleEndian<std::int16_t>(p);
    codeSize = 2;
  }
  const BinaryKind kind = KindOfCode(code);
  if (kind == BinaryKind::Unknown) return Fail("unknown group code " + std::to_string(code));
  p += codeSize;
  const std::size_t valueLeft = left - codeSize;
  std::size_t valueSize = 0;
  group.code = code;
  group.text = {};
  group.integer = 0;
  auto cutShort = [&] {
    truncated = true;
    truncatedCode = code;
    problem = "the value of group " + std::to_string(code) + " is cut short";
    return Result::End;
  };
  switch (kind) {
    case BinaryKind::String: {
      const void* nul = std::memchr(p, 0, valueLeft);
      if (!nul) return cutShort();
      const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(nul) - p);
      group.kind = DxfGroup::Kind::Text;
      group.text = std::string_view(p, length);
      valueSize = length + 1;
      break;
    }
    case BinaryKind::Real:
      if (valueLeft < 8) return cutShort();
      group.kind = DxfGroup::Kind::Real;
      group.real = LoadLittleEndian<double>(p);
      valueSize = 8;
      break;
    case BinaryKind::Int16:
      if (valueLeft < 2) return cutShort();
      group.kind = DxfGroup::Kind::Integer;
      group.integer = LoadLittleEndian<std::int16_t>(p);
      valueSize = 2;
      break;
    case BinaryKind::Int32:
      if (valueLeft < 4) return cutShort();
      group.kind = DxfGroup::Kind::Integer;
      group.integer = LoadLittleEndian<std::int32_t>(p);
      valueSize = 4;
      break;
    case BinaryKind::Int64:
      if (valueLeft < 8) return cutShort();
      group.kind = DxfGroup::Kind::Integer;
      group.integer = LoadLittleEndian<std::int64_t>(p);
      valueSize = 8;
      break;
    case BinaryKind::Bool:
      if (valueLeft < 1) return cutShort();
      group.kind = DxfGroup::Kind::Integer;
      group.integer = static_cast<unsigned char>(p[0]);
      valueSize = 1;
      break;
    case BinaryKind::Chunk: {
      if (valueLeft < 1) return cutShort();
      const std::size_t length = static_cast<unsigned char>(p[0]);
      if (valueLeft < 1 + length) return cutShort();
      group.kind = DxfGroup::Kind::Bytes;
      group.text = std::string_view(p + 1, length);
      valueSize = 1 + length;
      break;
    }
    case BinaryKind::Unknown:
      break;
  }
  offset += codeSize + valueSize;
  return Result::Group;
}

bool CDxfTokenizer::Resync() {
  if (binary) return false;
  // A record starts with a line "0" followed by a name with at least one letter; a value "0"
  // followed by a group code never looks like that, because codes have no letters.
  for (;;) {
    const std::size_t lineStart = offset;
    const std::uint64_t lineNumber = line;
    std::string_view candidate;
    if (!ReadLine(candidate)) return false;
    if (TrimBlanks(candidate) != "0") continue;
    const std::size_t afterZero = offset;
    const std::uint64_t lineAfterZero = line;
    std::string_view name;
    if (!ReadLine(name)) return false;
    name = TrimBlanks(name);
    bool plausible = !name.empty() && name.size() <= 40;
    bool hasLetter = false;
    for (char c : name) {
      const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      hasLetter = hasLetter || letter;
      if (!letter && !(c >= '0' && c <= '9') && c != '_' && c != '$' && c != '*') {
        plausible = false;
      }
    }
    if (plausible && hasLetter) {
      offset = lineStart;
      line = lineNumber;
      return true;
    }
    offset = afterZero;  // the name line may itself be the "0" of a record
    line = lineAfterZero;
  }
}

std::string CDxfTokenizer::Where() const {
  return binary ? "byte offset " + std::to_string(groupStart) : "line " + std::to_string(groupLine);
}

}  // namespace drawing::detail
