#include "drawing/dwg/detail/DwgLz77.h"

#include <cstdint>
#include <cstring>

namespace drawing::dwg::detail {

namespace {

// Walks the compressed bytes. Every reader returns false at the end of the input.
class CInput {
 public:
  explicit CInput(std::string_view input)
      : begin(reinterpret_cast<const std::uint8_t*>(input.data())),
        next(begin),
        end(begin + input.size()) {}

  bool Byte(unsigned& value) {
    if (next == end) return false;
    value = *next++;
    return true;
  }

  // A count whose low bits in the opcode are zero continues in the following bytes: each 0x00
  // adds 255, the first non-zero byte adds itself and ends it. `bits` is the opcode's mask.
  bool LongCount(unsigned opcode, unsigned bits, std::size_t& count) {
    count = opcode & bits;
    if (count != 0) return true;
    unsigned byte = 0;
    std::size_t total = bits;
    for (;;) {
      if (!Byte(byte)) return false;
      if (byte != 0) break;
      total += 0xFF;
    }
    count = total + byte;
    return true;
  }

  // Literal run length introduced by an opcode byte 0x00 to 0x0F.
  bool LiteralLength(unsigned opcode, std::size_t& length) {
    if (!LongCount(opcode, 0x0F, length)) return false;
    length += 3;
    return true;
  }

  // The two-byte offset of the long copies; its low two bits are the trailing literal count.
  bool TwoByteOffset(std::size_t& offset, unsigned& literalCount) {
    unsigned first = 0, second = 0;
    if (!Byte(first) || !Byte(second)) return false;
    offset = (first >> 2) | (second << 6);
    literalCount = first & 3;
    return true;
  }

  std::size_t Offset() const { return static_cast<std::size_t>(next - begin); }
  std::size_t Left() const { return static_cast<std::size_t>(end - next); }
  const std::uint8_t* Here() const { return next; }
  void Skip(std::size_t count) { next += count; }

 private:
  const std::uint8_t* begin;
  const std::uint8_t* next;
  const std::uint8_t* end;
};

}  // namespace

CLz77Result DecompressR2004(std::string_view input, std::span<char> out) {
  CInput in(input);
  char* const outBegin = out.data();
  char* const outEnd = outBegin + out.size();
  char* dst = outBegin;
  CLz77Result result;

  auto fail = [&](const char* problem) {
    result.ok = false;
    result.produced = static_cast<std::size_t>(dst - outBegin);
    result.inputOffset = in.Offset();
    result.problem = problem;
    return result;
  };
  auto copyLiterals = [&](std::size_t count) {
    if (count > in.Left()) return false;
    if (count > static_cast<std::size_t>(outEnd - dst)) return false;
    std::memcpy(dst, in.Here(), count);
    in.Skip(count);
    dst += count;
    return true;
  };

  unsigned opcode = 0;
  if (!in.Byte(opcode)) return fail("the compressed data is empty");
  if ((opcode & 0xF0) == 0) {
    std::size_t length = 0;
    if (!in.LiteralLength(opcode, length)) return fail("the compressed data ends inside a length");
    if (!copyLiterals(length)) return fail("a literal run passes the end of the data");
    if (!in.Byte(opcode)) return fail("the compressed data ends without its end mark");
  }

  while (opcode != 0x11) {
    std::size_t length = 0;
    std::size_t offset = 0;
    unsigned literalCount = 0;
    if (opcode >= 0x40) {
      unsigned second = 0;
      if (!in.Byte(second)) return fail("the compressed data ends inside a copy");
      length = (opcode >> 4) - 1;
      offset = (((opcode >> 2) & 3) | (second << 2)) + 1;
      literalCount = opcode & 3;
    } else if (opcode >= 0x20) {
      if (!in.LongCount(opcode, 0x1F, length) || !in.TwoByteOffset(offset, literalCount)) {
        return fail("the compressed data ends inside a copy");
      }
      length += 2;
      offset += 1;
    } else if (opcode >= 0x10) {
      // 0x10 and 0x12 to 0x1F: far copies; bit 3 of the opcode extends the offset.
      const std::size_t far = static_cast<std::size_t>(opcode & 8) << 11;
      if (!in.LongCount(opcode, 0x07, length) || !in.TwoByteOffset(offset, literalCount)) {
        return fail("the compressed data ends inside a copy");
      }
      length += 2;
      offset += far + 0x4000;
    } else {
      return fail("a literal length stands where a copy was expected");
    }

    const auto written = static_cast<std::size_t>(dst - outBegin);
    if (offset > written) return fail("a copy reaches before the start of the data");
    if (length > static_cast<std::size_t>(outEnd - dst)) {
      return fail("a copy passes the end of the data");
    }
    const char* from = dst - offset;
    if (offset >= length) {
      std::memcpy(dst, from, length);
      dst += length;
    } else if (offset == 1) {
      std::memset(dst, *from, length);  // a run of one byte, mostly zeros
      dst += length;
    } else {
      // The source overlaps what this copy writes: a pattern of `offset` bytes repeating. Each
      // piece copied doubles the pattern that the next can copy from its start.
      std::size_t left = length;
      for (std::size_t piece = offset; left > 0; piece *= 2) {
        const std::size_t now = piece < left ? piece : left;
        std::memcpy(dst, from, now);
        dst += now;
        left -= now;
      }
    }

    if (literalCount == 0) {
      if (!in.Byte(opcode)) return fail("the compressed data ends without its end mark");
      if ((opcode & 0xF0) != 0) continue;
      std::size_t runLength = 0;
      if (!in.LiteralLength(opcode, runLength)) {
        return fail("the compressed data ends inside a length");
      }
      if (!copyLiterals(runLength)) return fail("a literal run passes the end of the data");
    } else if (!copyLiterals(literalCount)) {
      return fail("a literal run passes the end of the data");
    }
    if (!in.Byte(opcode)) return fail("the compressed data ends without its end mark");
  }

  result.ok = true;
  result.produced = static_cast<std::size_t>(dst - outBegin);
  result.inputOffset = in.Offset();
  return result;
}

}  // namespace drawing::dwg::detail
