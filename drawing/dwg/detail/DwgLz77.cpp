#include "drawing/dwg/detail/DwgLz77.h"

#include <array>
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

// Copies `length` bytes that start `offset` bytes back (offset ≥ 1, checked by the caller) to
// `dst`; returns the end of what was written.
char* CopyEarlier(char* dst, std::size_t offset, std::size_t length) {
  const char* from = dst - offset;
  if (offset >= length) {
    std::memcpy(dst, from, length);
    return dst + length;
  }
  if (offset == 1) {
    std::memset(dst, *from, length);  // a run of one byte, mostly zeros
    return dst + length;
  }
  // The source overlaps what this copy writes: a pattern of `offset` bytes repeating. Each
  // piece copied doubles the pattern that the next can copy from its start.
  std::size_t left = length;
  for (std::size_t piece = offset; left > 0; piece *= 2) {
    const std::size_t now = piece < left ? piece : left;
    std::memcpy(dst, from, now);
    dst += now;
    left -= now;
  }
  return dst;
}

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
    dst = CopyEarlier(dst, offset, length);

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

namespace {

// R2007 literal runs keep their bytes in a shuffled order: whole blocks of 32 bytes hold their
// four 8-byte words last first, and a shorter tail is made of pieces of 1 to 16 bytes, listed
// here in output order as (size, offset in the tail). Pieces of 2 and 3 bytes are stored
// backwards, a piece of 16 bytes with its two halves swapped; pieces of 1, 4 and 8 bytes are
// stored as they are.
struct CPiece {
  std::uint8_t size = 0;
  std::uint8_t from = 0;
};

constexpr CPiece kTailPieces[32][6] = {
    {},
    {{1, 0}},
    {{2, 0}},
    {{3, 0}},
    {{4, 0}},
    {{1, 4}, {4, 0}},
    {{1, 5}, {4, 1}, {1, 0}},
    {{2, 5}, {4, 1}, {1, 0}},
    {{8, 0}},
    {{1, 8}, {8, 0}},
    {{1, 9}, {8, 1}, {1, 0}},
    {{2, 9}, {8, 1}, {1, 0}},
    {{4, 8}, {8, 0}},
    {{1, 12}, {4, 8}, {8, 0}},
    {{1, 13}, {4, 9}, {8, 1}, {1, 0}},
    {{2, 13}, {4, 9}, {8, 1}, {1, 0}},
    {{16, 0}},
    {{8, 9}, {1, 8}, {8, 0}},
    {{1, 17}, {16, 1}, {1, 0}},
    {{3, 16}, {16, 0}},
    {{4, 16}, {16, 0}},
    {{1, 20}, {4, 16}, {16, 0}},
    {{2, 20}, {4, 16}, {16, 0}},
    {{3, 20}, {4, 16}, {16, 0}},
    {{8, 16}, {16, 0}},
    {{8, 17}, {1, 16}, {16, 0}},
    {{1, 25}, {8, 17}, {1, 16}, {16, 0}},
    {{2, 25}, {8, 17}, {1, 16}, {16, 0}},
    {{4, 24}, {8, 16}, {16, 0}},
    {{1, 28}, {4, 24}, {8, 16}, {16, 0}},
    {{2, 28}, {4, 24}, {8, 16}, {16, 0}},
    {{1, 30}, {4, 26}, {8, 18}, {16, 2}, {2, 0}},
};

// For each tail length, the input index of every output byte.
using CTailOrder = std::array<std::array<std::uint8_t, 32>, 32>;

constexpr CTailOrder MakeTailOrder() {
  CTailOrder order{};
  for (std::size_t length = 1; length < 32; ++length) {
    std::size_t at = 0;
    for (const CPiece& piece : kTailPieces[length]) {
      for (std::size_t i = 0; i < piece.size; ++i) {
        std::size_t from = piece.from + i;
        if (piece.size == 2 || piece.size == 3) from = piece.from + piece.size - 1 - i;
        if (piece.size == 16) from = piece.from + (i + 8) % 16;
        order[length][at++] = static_cast<std::uint8_t>(from);
      }
    }
  }
  return order;
}

constexpr CTailOrder kTailOrder = MakeTailOrder();

// Every tail's pieces cover it exactly once.
constexpr bool TailsArePermutations() {
  for (std::size_t length = 1; length < 32; ++length) {
    std::array<bool, 32> seen{};
    for (std::size_t i = 0; i < length; ++i) {
      if (kTailOrder[length][i] >= length || seen[kTailOrder[length][i]]) return false;
      seen[kTailOrder[length][i]] = true;
    }
  }
  return true;
}
static_assert(TailsArePermutations());

void CopyShuffled(char* dst, const std::uint8_t* src, std::size_t length) {
  for (; length >= 32; length -= 32, src += 32, dst += 32) {
    std::memcpy(dst, src + 24, 8);
    std::memcpy(dst + 8, src + 16, 8);
    std::memcpy(dst + 16, src + 8, 8);
    std::memcpy(dst + 24, src, 8);
  }
  const std::array<std::uint8_t, 32>& order = kTailOrder[length];
  for (std::size_t i = 0; i < length; ++i) dst[i] = static_cast<char>(src[order[i]]);
}

}  // namespace

CLz77Result DecompressR2007(std::string_view input, std::span<char> out) {
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
  // The length of a literal run that the opcode does not give itself: opcode + 8, where 0x17
  // continues in a byte and 0xFF in that byte in 16-bit words until one is not 0xFFFF.
  auto literalLength = [&in](unsigned opcode, std::size_t& length) {
    length = opcode + 8;
    if (length != 0x17) return true;
    unsigned byte = 0;
    if (!in.Byte(byte)) return false;
    length += byte;
    if (byte != 0xFF) return true;
    for (;;) {
      unsigned low = 0, high = 0;
      if (!in.Byte(low) || !in.Byte(high)) return false;
      const unsigned word = low | high << 8;
      length += word;
      if (word != 0xFFFF) return true;
    }
  };
  // A copy from earlier output: its offset and length, and the opcode whose low three bits
  // say how many literals follow it (0: another instruction or a literal run follows).
  auto instruction = [&in](unsigned& opcode, std::size_t& offset, std::size_t& length) {
    unsigned a = 0, b = 0, c = 0;
    switch (opcode >> 4) {
      case 0:
        if (!in.Byte(a) || !in.Byte(b)) return false;
        length = (opcode & 0x0F) + 0x13 + ((b >> 3) & 0x10);
        offset = ((b & 0x78) << 5) + 1 + a;
        opcode = b;
        return true;
      case 1:
        if (!in.Byte(a) || !in.Byte(b)) return false;
        length = (opcode & 0x0F) + 3;
        offset = ((b & 0xF8) << 5) + 1 + a;
        opcode = b;
        return true;
      case 2:
        if (!in.Byte(a) || !in.Byte(b) || !in.Byte(c)) return false;
        offset = a | b << 8;
        length = opcode & 7;
        if ((opcode & 8) == 0) {
          length += c & 0xF8;
          opcode = c;
          return true;
        }
        ++offset;
        length += c << 3;
        if (!in.Byte(c)) return false;
        length += ((c & 0xF8) << 8) + 0x100;
        opcode = c;
        return true;
      default:
        if (!in.Byte(a)) return false;
        length = opcode >> 4;
        offset = ((a & 0xF8) << 1) + (opcode & 0x0F) + 1;
        opcode = a;
        return true;
    }
  };

  unsigned opcode = 0;
  if (!in.Byte(opcode)) return fail("the compressed data is empty");
  std::size_t length = 0;
  if ((opcode & 0xF0) == 0x20) {
    // A first run of 1 to 7 literals, its length in the third byte after the opcode.
    unsigned skipped = 0, byte = 0;
    if (!in.Byte(skipped) || !in.Byte(skipped) || !in.Byte(byte)) {
      return fail("the compressed data ends inside a length");
    }
    length = byte & 7;
    if (length == 0) return fail("the first literal run has no length");
  }
  // A literal run comes first; copies follow it, and each copy says whether another run
  // follows (the literal count in its last opcode, or a next opcode below 0x10). The data ends
  // where a copy ends with nothing after it.
  for (bool run = true; run;) {
    if (length == 0 && !literalLength(opcode, length)) {
      return fail("the compressed data ends inside a length");
    }
    if (length > in.Left() || length > static_cast<std::size_t>(outEnd - dst)) {
      return fail("a literal run passes the end of the data");
    }
    CopyShuffled(dst, in.Here(), length);
    in.Skip(length);
    dst += length;
    length = 0;
    run = false;
    if (!in.Byte(opcode)) break;
    std::size_t offset = 0;
    if (!instruction(opcode, offset, length)) return fail("the compressed data ends inside a copy");
    for (;;) {
      const auto written = static_cast<std::size_t>(dst - outBegin);
      if (offset == 0 || offset > written)
        return fail("a copy reaches before the start of the data");
      if (length > static_cast<std::size_t>(outEnd - dst)) {
        return fail("a copy passes the end of the data");
      }
      dst = CopyEarlier(dst, offset, length);
      length = opcode & 7;
      if (length != 0) {
        run = true;
        break;
      }
      if (!in.Byte(opcode)) break;
      if ((opcode >> 4) == 0) {
        run = true;  // a literal run of opcode + 8 bytes or more
        break;
      }
      if ((opcode >> 4) == 0x0F) opcode &= 0x0F;
      if (!instruction(opcode, offset, length)) {
        return fail("the compressed data ends inside a copy");
      }
    }
  }

  result.ok = true;
  result.produced = static_cast<std::size_t>(dst - outBegin);
  result.inputOffset = in.Offset();
  return result;
}

}  // namespace drawing::dwg::detail
