// The bit codes of DWG data, read from bit strings written out by hand (several from the
// worked examples of the format's documentation), and the format's checksums.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "DwgTestFiles.h"
#include "drawing/dwg/BitReader.h"

namespace {

using namespace drawing::dwg;
using dwgtest::FromBits;

TEST(DwgBitCodes, ReadsBitShortsInAllFourForms) {
  // 257 as a raw short, 0, 256, 15 as a byte, 0.
  const std::string bytes = FromBits("00 00000001 00000001  10  11  01 00001111  10");
  CBitReader reader(bytes, Version::R2000);
  EXPECT_EQ(reader.ReadBS(), 257);
  EXPECT_EQ(reader.ReadBS(), 0);
  EXPECT_EQ(reader.ReadBS(), 256);
  EXPECT_EQ(reader.ReadBS(), 15);
  EXPECT_EQ(reader.ReadBS(), 0);
  EXPECT_FALSE(reader.Failed());
  // -1 needs the raw form; the byte form is unsigned.
  const std::string edges = FromBits("00 11111111 11111111  01 11111111");
  CBitReader edge(edges, Version::R2000);
  EXPECT_EQ(static_cast<std::int16_t>(edge.ReadBS()), -1);
  EXPECT_EQ(edge.ReadBS(), 255);
}

TEST(DwgBitCodes, ReadsBitLongsAndRefusesTheUnusedCode) {
  const std::string bytes =
      FromBits("00 00000001 00000001 00000000 00000000  10  01 00001111  10  11");
  CBitReader reader(bytes, Version::R2000);
  EXPECT_EQ(reader.ReadBL(), 257u);
  EXPECT_EQ(reader.ReadBL(), 0u);
  EXPECT_EQ(reader.ReadBL(), 15u);
  EXPECT_EQ(reader.ReadBL(), 0u);
  EXPECT_FALSE(reader.Failed());
  EXPECT_EQ(reader.ReadBL(), 0u) << "11 is not a bit long";
  EXPECT_TRUE(reader.Failed());
}

TEST(DwgBitCodes, ReadsBitDoublesAndDoublesWithDefault) {
  // 2.5 is 0x4004000000000000, stored least significant byte first.
  const std::string bytes = FromBits(
      "01 10 00 00000000 00000000 00000000 00000000 00000000 00000000 00000100 01000000 11");
  CBitReader reader(bytes, Version::R2000);
  EXPECT_EQ(reader.ReadBD(), 1.0);
  EXPECT_EQ(reader.ReadBD(), 0.0);
  EXPECT_EQ(reader.ReadBD(), 2.5);
  EXPECT_FALSE(reader.Failed());
  reader.ReadBD();
  EXPECT_TRUE(reader.Failed()) << "11 is not a bit double";

  // The default 1.0 is 0x3FF0000000000000.
  const std::string dd = FromBits(
      "00"                                                        // the default
      "01 00000001 00000000 00000000 00000000"                    // low four bytes replaced
      "10 00001000 00000000 00000000 00000000 00000000 00000000"  // bytes 4 and 5, then 0-3
      "11 00000000 00000000 00000000 00000000 00000000 00000000 00001000 01000000");
  CBitReader withDefault(dd, Version::R2000);
  EXPECT_EQ(withDefault.ReadDD(1.0), 1.0);
  EXPECT_EQ(withDefault.ReadDD(1.0), std::bit_cast<double>(0x3FF0000000000001ull));
  EXPECT_EQ(withDefault.ReadDD(1.0), std::bit_cast<double>(0x3FF0000800000000ull));
  EXPECT_EQ(withDefault.ReadDD(1.0), 3.0);
  EXPECT_FALSE(withDefault.Failed());
}

TEST(DwgBitCodes, ReadsThreeBitCodesAndLongLongs) {
  const std::string triplets = FromBits("0 10 110 111 1");
  CBitReader reader(triplets, Version::R2010);
  EXPECT_EQ(reader.Read3B(), 0);
  EXPECT_EQ(reader.Read3B(), 2);
  EXPECT_EQ(reader.Read3B(), 6);
  EXPECT_EQ(reader.Read3B(), 7);
  EXPECT_EQ(reader.Position(), 9u) << "3B stops after three bits";

  // BLL: a plain three-bit byte count, then the bytes least significant first.
  const std::string longs = FromBits("000  010 00110100 00010010  111 " + std::string(56, '1'));
  CBitReader bll(longs, Version::R2013);
  EXPECT_EQ(bll.ReadBLL(), 0u);
  EXPECT_EQ(bll.ReadBLL(), 0x1234u);
  EXPECT_EQ(bll.ReadBLL(), 0x00FFFFFFFFFFFFFFull);
  EXPECT_FALSE(bll.Failed());
}

TEST(DwgBitCodes, ReadsRawValuesAtAnyBitPosition) {
  const std::string bytes = FromBits(
      "1 00010010 00110100 01111000 01010110 00110100 00010010 10101011 11001101 "
      "11101111 00000001");
  CBitReader reader(bytes, Version::R2000);
  EXPECT_TRUE(reader.ReadB());
  EXPECT_EQ(reader.ReadRC(), 0x12);
  EXPECT_EQ(reader.ReadRS(), 0x7834);
  EXPECT_EQ(reader.ReadRL(), 0xAB123456u);
  EXPECT_FALSE(reader.Failed());
}

TEST(DwgBitCodes, ReadsModularCharsAndShorts) {
  // The worked examples: 4610, 112823273 and -1413.
  const std::string bytes("\x82\x24\xE9\x97\xE6\x35\x85\x4B", 8);
  CBitReader reader(bytes, Version::R2000);
  EXPECT_EQ(reader.ReadMC(), 4610);
  EXPECT_EQ(reader.ReadMC(), 112823273);
  EXPECT_EQ(reader.ReadMC(), -1413);
  CBitReader unsignedReader(std::string_view(bytes).substr(6), Version::R2000);
  EXPECT_EQ(unsignedReader.ReadUMC(), 5u + (0x4Bu << 7)) << "no sign in UMC";

  const std::string shorts("\x31\xF4\x8D\x00", 4);
  CBitReader ms(shorts, Version::R2000);
  EXPECT_EQ(ms.ReadMS(), 4650033u);
  // A modular short that never ends, and a modular char longer than eight bytes.
  const std::string endlessBytes("\xFF\xFF\xFF\xFF\x01\x00", 6);
  CBitReader endless(endlessBytes, Version::R2000);
  endless.ReadMS();
  EXPECT_TRUE(endless.Failed());
  const std::string longCharBytes = std::string(9, '\x80') + '\x01';
  CBitReader longChar(longCharBytes, Version::R2000);
  longChar.ReadMC();
  EXPECT_TRUE(longChar.Failed());
}

TEST(DwgBitCodes, ReadsHandlesAndResolvesRelativeCodes) {
  // 5.2.05E7: a hard pointer to 0x5E7; then 6.0, 8.0, A.1.05 and C.1.05 against 0x100.
  const std::string bytes = FromBits(
      "0101 0010 00000101 11100111  0110 0000  1000 0000  1010 0001 00000101  "
      "1100 0001 00000101  0011 0000");
  CBitReader reader(bytes, Version::R2000);
  const CHandleRef pointer = reader.ReadH();
  EXPECT_EQ(pointer.code, 5);
  EXPECT_EQ(pointer.counter, 2);
  EXPECT_EQ(pointer.value, 0x5E7u);
  EXPECT_EQ(pointer.Absolute(0x100), 0x5E7u) << "absolute codes ignore the reference";
  EXPECT_EQ(reader.ReadH().Absolute(0x100), 0x101u);
  EXPECT_EQ(reader.ReadH().Absolute(0x100), 0xFFu);
  EXPECT_EQ(reader.ReadH().Absolute(0x100), 0x105u);
  EXPECT_EQ(reader.ReadH().Absolute(0x100), 0xFBu);
  EXPECT_EQ(reader.ReadH().value, 0u) << "a null hard owner";
  EXPECT_FALSE(reader.Failed());
  // More than eight bytes of handle is damage.
  const std::string tooLongBytes = FromBits("0101 1001") + std::string(9, '\x01');
  CBitReader tooLong(tooLongBytes, Version::R2000);
  tooLong.ReadH();
  EXPECT_TRUE(tooLong.Failed());
}

TEST(DwgBitCodes, ReadsExtrusionThicknessAndObjectTypeByVersion) {
  const std::string flagged = FromBits("1 1");
  CBitReader r2000(flagged, Version::R2000);
  const CPoint3 extrusion = r2000.ReadBE();
  EXPECT_EQ(extrusion.z, 1.0);
  EXPECT_EQ(r2000.ReadBT(), 0.0);
  EXPECT_EQ(r2000.Position(), 2u);
  // R14 has no flag bits: three bit doubles, one bit double.
  const std::string plain = FromBits("10 10 01  01");
  CBitReader r14(plain, Version::R14);
  const CPoint3 stored = r14.ReadBE();
  EXPECT_EQ(stored.x, 0.0);
  EXPECT_EQ(stored.z, 1.0);
  EXPECT_EQ(r14.ReadBT(), 1.0);

  const std::string types = FromBits("00 00110010  01 00000010  10 11110100 00000001");
  CBitReader r2010(types, Version::R2010);
  EXPECT_EQ(r2010.ReadOT(), 0x32);
  EXPECT_EQ(r2010.ReadOT(), 0x1F2);
  EXPECT_EQ(r2010.ReadOT(), 500);
  const std::string shortType = FromBits("01 00110010");
  CBitReader r2004(shortType, Version::R2004);
  EXPECT_EQ(r2004.ReadOT(), 0x32) << "a bit short before R2010";
}

TEST(DwgBitCodes, ReadsEightBitAndUtf16Text) {
  dwgtest::CBitWriter writer;
  writer.B(true);  // off the byte boundary
  writer.TV(std::string("abc\0", 4));
  const std::string bytes = writer.Bytes();
  CBitReader reader(bytes, Version::R2004);
  reader.ReadB();
  EXPECT_EQ(reader.ReadText(), "abc") << "the terminating NUL is dropped";

  // TU: "é" and U+1F600 as a surrogate pair, then NUL.
  dwgtest::CBitWriter wide;
  wide.BS(4);
  for (const std::uint16_t unit : {0x00E9, 0xD83D, 0xDE00, 0x0000}) wide.RS(unit);
  const std::string wideBytes = wide.Bytes();
  CBitReader tu(wideBytes, Version::R2010);
  EXPECT_EQ(tu.ReadText(), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx") << "an unpaired surrogate";
}

TEST(DwgBitCodes, RefusesTextLongerThanTheBitsLeft) {
  // A length of 65535 characters with three bytes behind it: nothing is allocated or read.
  const std::string bytes = FromBits("00 11111111 11111111") + "abc";
  CBitReader reader(bytes, Version::R2004);
  EXPECT_EQ(reader.ReadTV(), "");
  EXPECT_TRUE(reader.Failed());
  CBitReader wide(bytes, Version::R2010);
  EXPECT_TRUE(wide.ReadTU().empty());
  EXPECT_TRUE(wide.Failed());
}

TEST(DwgBitCodes, ReadsColoursInTheFormsOfEachVersion) {
  const std::string index = FromBits("01 00000101");
  CBitReader r2000(index, Version::R2000);
  EXPECT_EQ(r2000.ReadCMC().index, 5);
  EXPECT_EQ(r2000.Position(), 10u);

  dwgtest::CBitWriter writer;
  writer.BS(0);
  writer.BL(0xC2FF8000);
  writer.RC(3);
  writer.TV("red");
  writer.TV("book");
  const std::string colorBytes = writer.Bytes();
  CBitReader r2004(colorBytes, Version::R2004);
  const CCmColor color = r2004.ReadCMC();
  EXPECT_EQ(color.Method(), 0xC2);
  EXPECT_EQ(color.rgb & 0xFFFFFF, 0xFF8000u);
  EXPECT_EQ(color.name, "red");
  EXPECT_EQ(color.bookName, "book");

  // ENC: index 1 with an RGB word and a transparency.
  dwgtest::CBitWriter entity;
  entity.BS(0xA001);
  entity.BL(0xC2102030);
  entity.BL(0x03000080);
  const std::string entityBytes = entity.Bytes();
  CBitReader enc(entityBytes, Version::R2004);
  const CEntityColor entityColor = enc.ReadENC();
  EXPECT_EQ(entityColor.index, 1);
  EXPECT_EQ(entityColor.flags, CEntityColor::kRgb | CEntityColor::kTransparency);
  EXPECT_EQ(entityColor.rgb, 0xC2102030u);
  EXPECT_EQ(entityColor.transparency, 0x03000080u);
  EXPECT_FALSE(enc.Failed());
}

TEST(DwgBitReader, FailsForGoodAtTheEndWithoutMoving) {
  const std::string bytes("\xAB\xCD\xEF", 3);
  CBitReader reader(bytes, Version::R2000);
  reader.ReadRC();
  EXPECT_EQ(reader.ReadRL(), 0u);
  EXPECT_TRUE(reader.Failed());
  EXPECT_EQ(reader.Position(), 8u) << "a failed read leaves the position";
  EXPECT_FALSE(reader.ReadB()) << "the failure is sticky although bits are left";
  EXPECT_EQ(reader.BitsLeft(), 0u);
  EXPECT_EQ(reader.ReadBytes(1), "");

  // A range inside the bytes: reads stop at its end, positions outside it fail.
  CBitReader range(bytes, Version::R2000, 4, 12);
  EXPECT_EQ(range.ReadRC(), 0xBC);
  EXPECT_FALSE(range.ReadB());
  EXPECT_TRUE(range.Failed());
  CBitReader outside(bytes, Version::R2000, 4, 12);
  outside.SetPosition(13);
  EXPECT_TRUE(outside.Failed());
  CBitReader backwards(bytes, Version::R2000, 30, 10);
  EXPECT_TRUE(backwards.Failed()) << "a start past the end";
  CBitReader empty;
  EXPECT_EQ(empty.ReadBD(), 0.0);
  EXPECT_TRUE(empty.Failed());
}

TEST(DwgBitReader, FindsTheStringStreamFromTheEndOfTheData) {
  // 40 bits of text, then its size (40), then the flag: the stream is [8, 48).
  dwgtest::CBitWriter writer;
  writer.RC(0x77);
  writer.Bits(0x1234567890ull, 40);
  writer.RS(40);
  writer.B(true);
  const std::string bytes = writer.Bytes();
  std::size_t start = 0, end = 0;
  ASSERT_TRUE(FindStringStream(bytes, 65, 0, start, end));
  EXPECT_EQ(start, 8u);
  EXPECT_EQ(end, 48u);
  // A size with its top bit set continues in the 16 bits before it.
  dwgtest::CBitWriter large;
  large.Bits(0, 20);
  large.RS(1);       // high part: 1 << 15
  large.RS(0x8000);  // low part 0, continued
  large.B(true);
  std::size_t bigStart = 0, bigEnd = 0;
  EXPECT_FALSE(FindStringStream(large.Bytes(), 53, 0, bigStart, bigEnd))
      << "32768 bits cannot fit before bit 20";
  // No flag: an empty stream at the flag.
  ASSERT_TRUE(FindStringStream(FromBits("0000 0000"), 8, 0, start, end));
  EXPECT_EQ(start, 7u);
  EXPECT_EQ(end, 7u);
  EXPECT_FALSE(FindStringStream(bytes, 65, 40, start, end)) << "starts before the minimum";
}

TEST(DwgChecksums, MatchTheKnownCheckValues) {
  EXPECT_EQ(Crc16(0, "123456789"), 0xBB3D);
  EXPECT_EQ(Crc32(0, "123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(Crc32(0, "1234"), "56789"), 0xCBF43926u) << "in parts";
}

TEST(DwgChecksums, FileHeaderMasksEqualTheSeedC0C1) {
  // The file header checksum of R13-R2000 is taken with seed 0 and masked by a constant that
  // depends on the count of section locators; that is the same as seed 0xC0C1.
  const struct {
    int locators;
    unsigned mask;
  } cases[] = {{3, 0xA598}, {4, 0x8101}, {5, 0x3CC4}, {6, 0x8461}};
  for (const auto& c : cases) {
    std::string header(0x19 + 9 * c.locators, '\0');
    for (std::size_t i = 0; i < header.size(); ++i) header[i] = static_cast<char>(i * 37 + 11);
    EXPECT_EQ(Crc16(0, header) ^ c.mask, Crc16(0xC0C1, header)) << c.locators << " locators";
  }
}

}  // namespace
