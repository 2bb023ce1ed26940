// The two LZ77 variants (of R2004-family pages and of R2007 pages) on small hand-made streams,
// whole and damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DwgTestFiles.h"
#include "drawing/dwg/detail/DwgLz77.h"

namespace {

using drawing::dwg::detail::CLz77Result;
using drawing::dwg::detail::DecompressR2004;
using drawing::dwg::detail::DecompressR2007;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out += static_cast<char>(v);
  return out;
}

// Decompresses into room for `capacity` bytes; the bytes written, or "FAILED: <problem>".
std::string Inflate(const std::string& input, std::size_t capacity = 1 << 16) {
  std::vector<char> out(capacity);
  const CLz77Result result = DecompressR2004(input, out);
  if (!result.ok) return std::string("FAILED: ") + result.problem;
  return std::string(out.data(), result.produced);
}

const std::string kAbcd = Bytes({0x01, 'a', 'b', 'c', 'd'});

TEST(DwgLz77, CopiesLiteralRunsOfEveryLengthForm) {
  EXPECT_EQ(Inflate(kAbcd + "\x11"), "abcd");
  // 0x00 0x02 is 0x0F + 2 + 3 = 20 bytes.
  const std::string twenty(20, 'q');
  EXPECT_EQ(Inflate(Bytes({0x00, 0x02}) + twenty + "\x11"), twenty);
  // Each further 0x00 adds 255.
  std::string long300(300, 'z');
  for (std::size_t i = 0; i < long300.size(); ++i) long300[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(Inflate(Bytes({0x00, 0x00, 27}) + long300 + "\x11"), long300);
  EXPECT_EQ(Inflate(dwgtest::CompressAsLiterals(long300)), long300);
}

TEST(DwgLz77, CopiesEarlierBytesWithEachOpcodeForm) {
  // 0x40-0xFF: length (op >> 4) - 1, offset from two opcode bits and the next byte, plus 1.
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x5C, 0x00, 0x11})), "abcdabcd");
  // The low two bits are trailing literals.
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x5D, 0x00, 'x', 0x11})), "abcdabcdx");
  // Overlapping: offset 1, length 8 repeats the last byte.
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x90, 0x00, 0x11})), "abcddddddddd");
  // 0x21-0x3F: length in the opcode, then a two-byte offset (offset - 1 in its upper bits).
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x22, 0x0C, 0x00, 0x11})), "abcdabcd");
  // 0x20: the length continues in the next bytes (0x1F + 1 + 2 = 34).
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x20, 0x01, 0x00, 0x00, 0x11})), "abcd" + std::string(34, 'd'));
  // Overlapping by three bytes for 34: the pattern "bcd" repeats to the end.
  std::string pattern;
  for (int i = 0; i < 34; ++i) pattern += "bcd"[i % 3];
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x20, 0x01, 0x08, 0x00, 0x11})), "abcd" + pattern);
  // A literal run after a copy whose literal count is 0.
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x5C, 0x00, 0x01, 'w', 'x', 'y', 'z', 0x11})), "abcdabcdwxyz");
}

TEST(DwgLz77, CopiesFromFarBackWithTheTenToNineteenOpcodes) {
  std::string head(0x4000, '\0');
  for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<char>(i * 7 % 251);
  std::string input = dwgtest::CompressAsLiterals(head);
  input.pop_back();  // the end mark
  // 0x12: length 2 + 2, offset 0x4000 + 0 reaches the very first byte.
  const std::string out = Inflate(input + Bytes({0x12, 0x00, 0x00, 0x11}), 0x5000);
  ASSERT_EQ(out.size(), 0x4004u) << out.substr(0, 60);
  EXPECT_EQ(out.substr(0x4000), head.substr(0, 4));
  // Bit 3 of the opcode adds 0x4000 more, before the start here.
  EXPECT_EQ(Inflate(input + Bytes({0x1A, 0x00, 0x00, 0x11}), 0x5000),
            "FAILED: a copy reaches before the start of the data");
}

TEST(DwgLz77, RefusesDamagedStreamsWithoutTouchingMemoryAround) {
  EXPECT_EQ(Inflate(""), "FAILED: the compressed data is empty");
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x5C, 0x01, 0x11})),
            "FAILED: a copy reaches before the start of the data");
  EXPECT_EQ(Inflate(kAbcd), "FAILED: the compressed data ends without its end mark");
  EXPECT_EQ(Inflate(Bytes({0x05, 'a', 'b'})), "FAILED: a literal run passes the end of the data");
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x22})), "FAILED: the compressed data ends inside a copy");
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x05})),
            "FAILED: a literal length stands where a copy was expected");
  EXPECT_EQ(Inflate(Bytes({0x00}) + std::string(100000, '\0')),
            "FAILED: the compressed data ends inside a length");
  EXPECT_EQ(Inflate(Bytes({0x00, 0x00, 0x00, 0x01, 'a'})),
            "FAILED: a literal run passes the end of the data");

  // A copy and a literal run longer than the room: nothing past the room is written.
  std::vector<char> buffer(16, '\xEE');
  const CLz77Result copy =
      DecompressR2004(kAbcd + Bytes({0x5C, 0x00, 0x11}), std::span<char>(buffer.data(), 6));
  EXPECT_FALSE(copy.ok);
  EXPECT_STREQ(copy.problem, "a copy passes the end of the data");
  EXPECT_EQ(copy.produced, 4u);
  const CLz77Result literal = DecompressR2004(dwgtest::CompressAsLiterals(std::string(20, 'x')),
                                              std::span<char>(buffer.data(), 10));
  EXPECT_FALSE(literal.ok);
  for (std::size_t i = 6; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\xEE') << "byte " << i;
  // Filling the room exactly is fine.
  EXPECT_EQ(Inflate(kAbcd + Bytes({0x5C, 0x00, 0x11}), 8), "abcdabcd");
}

// ---- R2007 ---------------------------------------------------------------------------------

std::string Inflate2007(const std::string& input, std::size_t capacity = 1 << 16) {
  std::vector<char> out(capacity);
  const CLz77Result result = DecompressR2007(input, out);
  if (!result.ok) return std::string("FAILED: ") + result.problem;
  return std::string(out.data(), result.produced);
}

// A literal run of the bytes 0, 1, 2 … n-1 as stored, alone in a stream.
std::string StoredRun(std::size_t n) {
  std::string run;
  if (n < 8) {
    run = Bytes({0x20, 0, 0, static_cast<int>(n)});
  } else if (n < 0x17) {
    run = Bytes({static_cast<int>(n - 8)});
  } else {
    run = Bytes({0x0F, static_cast<int>(n - 0x17)});
  }
  for (std::size_t i = 0; i < n; ++i) run += static_cast<char>(i);
  return run;
}

std::string Indices(std::initializer_list<int> values) {
  return Bytes(values);
}

TEST(DwgLz77R2007, PutsTheBytesOfLiteralRunsInTheirOrder) {
  // Runs of 1, 4 and 8 bytes are kept as they are, 2 and 3 backwards.
  EXPECT_EQ(Inflate2007(StoredRun(1)), Indices({0}));
  EXPECT_EQ(Inflate2007(StoredRun(3)), Indices({2, 1, 0}));
  EXPECT_EQ(Inflate2007(StoredRun(4)), Indices({0, 1, 2, 3}));
  EXPECT_EQ(Inflate2007(StoredRun(8)), Indices({0, 1, 2, 3, 4, 5, 6, 7}));
  // Longer tails are pieced together from the end of the stored bytes.
  EXPECT_EQ(Inflate2007(StoredRun(5)), Indices({4, 0, 1, 2, 3}));
  EXPECT_EQ(Inflate2007(StoredRun(7)), Indices({6, 5, 1, 2, 3, 4, 0}));
  EXPECT_EQ(Inflate2007(StoredRun(16)),
            Indices({8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Inflate2007(StoredRun(17)),
            Indices({9, 10, 11, 12, 13, 14, 15, 16, 8, 0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Inflate2007(StoredRun(31)),
            Indices({30, 26, 27, 28, 29, 18, 19, 20, 21, 22, 23, 24, 25, 10, 11, 12,
                     13, 14, 15, 16, 17, 2,  3,  4,  5,  6,  7,  8,  9,  1,  0}));
  // Whole blocks of 32 hold their four words of eight bytes last first; a tail follows.
  std::string expected;
  for (const int word : {3, 2, 1, 0}) {
    for (int i = 0; i < 8; ++i) expected += static_cast<char>(8 * word + i);
  }
  expected += Indices({34, 33, 32});
  EXPECT_EQ(Inflate2007(StoredRun(35)), expected);
  // Each length: exactly the bytes stored, each once.
  for (std::size_t n = 1; n < 0x116; ++n) {
    std::string out = Inflate2007(StoredRun(n));
    ASSERT_EQ(out.size(), n) << out;
    std::string stored = StoredRun(n).substr(StoredRun(n).size() - n);
    std::sort(out.begin(), out.end());
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(out, stored) << n;
  }
}

TEST(DwgLz77R2007, ReadsLongLiteralLengthsInWords) {
  // 0x0F and 0xFF: 0x17 + 0xFF, then words added until one is not 0xFFFF.
  std::string data(0x17 + 0xFF + 0xFFFF + 3, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i % 32 < 16 ? 'a' : 'b');
  const std::string input = Bytes({0x0F, 0xFF, 0xFF, 0xFF, 3, 0}) + data;
  EXPECT_EQ(Inflate2007(input, data.size()).size(), data.size());
}

TEST(DwgLz77R2007, CopiesEarlierBytesWithEachInstructionForm) {
  const std::string head = Bytes({0x00}) + "abcdefgh";  // eight literals, kept in order
  // 0x1n: length n + 3, offset from the next byte and the top bits of the one after (+1),
  // whose low three bits count the literals that follow.
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 7, 0x00})), "abcdefghabcd");
  // 0x3n and up: length in the high half, offset in the low half and the next byte.
  EXPECT_EQ(Inflate2007(head + Bytes({0x41, 0x02}) + "yx"), "abcdefghghghxy");
  // 0x2n: a two-byte offset, the length in the opcode and the next byte's top bits.
  EXPECT_EQ(Inflate2007(head + Bytes({0x22, 8, 0, 0x08})), "abcdefghabcdefghab");
  // 0x28 and up: a longer length, the offset one more.
  EXPECT_EQ(Inflate2007(head + Bytes({0x28, 0, 0, 0, 0})), "abcdefgh" + std::string(256, 'h'));
  // After a copy without literals, 0xFn continues with a copy of the 0x0n form (19 and up).
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 7, 0x00, 0xF0, 7, 0x00})),
            "abcdefghabcd" + std::string("efghabcdefghabcdefg"));
  // … and 0x0n with a new literal run of n + 8 bytes.
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 7, 0x00, 0x00}) + "ijklmnop"), "abcdefghabcdijklmnop");
}

TEST(DwgLz77R2007, RefusesDamagedStreamsWithoutTouchingMemoryAround) {
  const std::string head = Bytes({0x00}) + "abcdefgh";
  EXPECT_EQ(Inflate2007(""), "FAILED: the compressed data is empty");
  EXPECT_EQ(Inflate2007(Bytes({0x20, 0, 0, 0})), "FAILED: the first literal run has no length");
  EXPECT_EQ(Inflate2007(Bytes({0x20, 0})), "FAILED: the compressed data ends inside a length");
  EXPECT_EQ(Inflate2007(Bytes({0x0F})), "FAILED: the compressed data ends inside a length");
  EXPECT_EQ(Inflate2007(Bytes({0x00, 'a'})), "FAILED: a literal run passes the end of the data");
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 8, 0x00})),
            "FAILED: a copy reaches before the start of the data");
  EXPECT_EQ(Inflate2007(head + Bytes({0x11})), "FAILED: the compressed data ends inside a copy");

  // A copy and a literal run longer than the room: nothing past the room is written.
  std::vector<char> buffer(16, '\xEE');
  const CLz77Result copy =
      DecompressR2007(head + Bytes({0x11, 7, 0x00}), std::span<char>(buffer.data(), 10));
  EXPECT_FALSE(copy.ok);
  EXPECT_STREQ(copy.problem, "a copy passes the end of the data");
  EXPECT_EQ(copy.produced, 8u);
  const CLz77Result literal = DecompressR2007(head, std::span<char>(buffer.data(), 6));
  EXPECT_FALSE(literal.ok);
  for (std::size_t i = 8; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\xEE') << "byte " << i;
  // Literals a copy announces must follow it.
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 7, 0x02})),
            "FAILED: a literal run passes the end of the data");
  EXPECT_EQ(Inflate2007(head + Bytes({0x11, 7, 0x00}), 12), "abcdefghabcd");
}

}  // namespace
