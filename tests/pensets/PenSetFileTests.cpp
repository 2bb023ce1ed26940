// Pen-set files: header, records, listing with cut-off files, reading by name, and plot style
// tables turned into pen tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "pensets/PenSetFile.h"
#include "platform/ColorPalette.h"
#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

CPenSet Sample(const std::string& name, double base) {
  CPenSet set;
  set.name = name;
  for (int i = 0; i < 256; ++i) set.entries[i] = {base + 0.001 * i, std::int16_t(255 - i)};
  return set;
}

// Writes the header and the sets' records into path.
void WriteSets(const fs::path& path, const std::vector<CPenSet>& sets) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(WritePenSetHeader(file));
  for (const CPenSet& set : sets) ASSERT_TRUE(WritePenSetRecord(set, file));
  std::fclose(file);
}

std::vector<std::string> ListFile(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {"(cannot open)"};
  std::vector<std::string> names = ListFilePenSets(file);
  std::fclose(file);
  return names;
}

bool ReadSet(const fs::path& path, const std::string& name, CPenSet& set) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  const bool read = ReadFilePenSet(file, name, set);
  std::fclose(file);
  return read;
}

}  // namespace

TEST(PenSetFile, WritesTheHeaderAndOneRecordPerNamedSet) {
  TempDir dir;
  CPenSet unnamed = Sample("", 1.0);
  WriteSets(dir / "two.cps", {Sample("Plot", 0.5), unnamed, Sample("Ink", 0.25)});
  const std::string bytes = ReadFile(dir / "two.cps");
  EXPECT_EQ(bytes.size(), 26u + (4 + 2561) + (3 + 2561)) << "an unnamed set writes nothing";
  EXPECT_EQ(bytes.substr(0, 26), std::string("ZembStrandmerlyx Pen Sets\0", 26));
  EXPECT_EQ(bytes.substr(26, 5), std::string("Plot\0", 5));
  // Entry 1 of Plot: colour 254 as 16-bit little-endian, then the width's eight bytes.
  EXPECT_EQ(static_cast<unsigned char>(bytes[31 + 10]), 254);
  EXPECT_EQ(static_cast<unsigned char>(bytes[31 + 11]), 0);
  EXPECT_EQ(ListFile(dir / "two.cps"), (std::vector<std::string>{"Plot", "Ink"}));

  CPenSet read;
  ASSERT_TRUE(ReadSet(dir / "two.cps", "iNK", read)) << "names compare without case";
  EXPECT_EQ(read.name, "iNK") << "the set takes the name asked for";
  EXPECT_EQ(read.entries[7].width, Sample("Ink", 0.25).entries[7].width);
  EXPECT_EQ(read.entries[7].destColor, 248);
  EXPECT_FALSE(ReadSet(dir / "two.cps", "Missing", read));
  EXPECT_EQ(read.name, "iNK") << "a failed read leaves the set unchanged";
}

TEST(PenSetFile, ListsNothingForAHeaderOnlyOrAWrongHeader) {
  TempDir dir;
  WriteSets(dir / "empty.cps", {});
  EXPECT_EQ(ReadFile(dir / "empty.cps").size(), 26u);
  EXPECT_TRUE(ListFile(dir / "empty.cps").empty());

  WriteSets(dir / "case.cps", {Sample("Plot", 0.5)});
  std::string bytes = ReadFile(dir / "case.cps");
  bytes[0] = 'z';  // "zembStrandmerlyx Pen Sets"
  WriteFile(dir / "case.cps", bytes);
  EXPECT_TRUE(ListFile(dir / "case.cps").empty()) << "the header's case counts";
  CPenSet set;
  EXPECT_FALSE(ReadSet(dir / "case.cps", "Plot", set));

  WriteFile(dir / "short.cps", "ZembStrand");
  EXPECT_TRUE(ListFile(dir / "short.cps").empty());
}

TEST(PenSetFile, ListsACutOffLastSetButCannotReadIt) {
  TempDir dir;
  WriteSets(dir / "cut.cps", {Sample("Whole", 0.5), Sample("Cut", 0.75)});
  std::string bytes = ReadFile(dir / "cut.cps");
  bytes.resize(bytes.size() - 15);  // the last entry and a half are gone
  WriteFile(dir / "cut.cps", bytes);
  EXPECT_EQ(ListFile(dir / "cut.cps"), (std::vector<std::string>{"Whole", "Cut"}));
  CPenSet set;
  EXPECT_TRUE(ReadSet(dir / "cut.cps", "Whole", set));
  EXPECT_FALSE(ReadSet(dir / "cut.cps", "Cut", set));
  EXPECT_EQ(set.name, "Whole");

  // A name with nothing behind it at all.
  WriteFile(dir / "name-only.cps", std::string("ZembStrandmerlyx Pen Sets\0Lone\0", 31));
  EXPECT_EQ(ListFile(dir / "name-only.cps"), (std::vector<std::string>{"Lone"}));
  EXPECT_FALSE(ReadSet(dir / "name-only.cps", "Lone", set));
}

TEST(PenSetFile, ReplacesDestinationColoursOutsideThePaletteByTheIndex) {
  TempDir dir;
  CPenSet odd = Sample("Odd", 0.1);
  odd.entries[3].destColor = -1;
  odd.entries[4].destColor = 256;
  odd.entries[5].destColor = 255;
  WriteSets(dir / "odd.cps", {odd});
  CPenSet read;
  ASSERT_TRUE(ReadSet(dir / "odd.cps", "Odd", read));
  EXPECT_EQ(read.entries[3].destColor, 3);
  EXPECT_EQ(read.entries[4].destColor, 4);
  EXPECT_EQ(read.entries[5].destColor, 255);
}

TEST(PenSetFile, StoreToFileToStoreKeepsEveryTable) {
  TempDir dir;
  CRegistry first((dir / "first.reg").string());
  CPenSet plot = Sample("Plot", 0.5);
  CPenSet ink = Sample("Ink", 0.25);
  SavePenSet(plot, "Plot", first);
  SavePenSet(ink, "Ink", first);

  std::FILE* file = std::fopen((dir / "sets.cps").c_str(), "wb");
  ASSERT_TRUE(WritePenSetHeader(file));
  for (const std::string& name : ListPenSets(first)) {
    CPenSet set;
    LoadPenSet(name, set.entries, first);
    set.name = name;
    ASSERT_TRUE(WritePenSetRecord(set, file));
  }
  std::fclose(file);

  CRegistry second((dir / "second.reg").string());
  file = std::fopen((dir / "sets.cps").c_str(), "rb");
  for (const std::string& name : ListFilePenSets(file)) {
    CPenSet set;
    ASSERT_TRUE(ReadFilePenSet(file, name, set));
    StorePenSetTable(name, set.entries, second);
  }
  std::fclose(file);
  EXPECT_EQ(StoredPenSetNames(second).size(), 2u);
  for (const CPenSet* original : {&plot, &ink}) {
    std::array<PenEntry, 256> entries;
    LoadPenSet(original->name, entries, second);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(entries[i].width, original->entries[i].width) << original->name << " " << i;
      ASSERT_EQ(entries[i].destColor, original->entries[i].destColor) << original->name << " " << i;
    }
  }
}

TEST(PenSetFile, NamesATableSetAfterTheFile) {
  EXPECT_EQ(CtbPenSetName("/plots/Pens.CTB"), "AutoCAD-Pens");
  EXPECT_EQ(CtbPenSetName("mono.v2.ctb"), "AutoCAD-mono.v2");
  EXPECT_EQ(CtbPenSetName("plain"), "AutoCAD-plain");
}

TEST(PenSetFile, BuildsATableFromAPlotStyleTable) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  std::array<PenEntry, 256> entries;
  ASSERT_TRUE(BuildPenTableFromCtb(shared / "corpus/ctb/mod2_MO-D_2.ctb", entries));
  // Colour 1 is drawn black at 0.20 mm; colour 7 keeps its colour at 0.09 mm.
  EXPECT_EQ(ColorRgb(entries[1].destColor), 0u);
  EXPECT_DOUBLE_EQ(entries[1].width, 0.20 / 25.4);
  EXPECT_EQ(entries[7].destColor, 7);
  EXPECT_DOUBLE_EQ(entries[7].width, 0.09 / 25.4);
  EXPECT_EQ(ColorRgb(entries[255].destColor), 0u) << "colour 255 is black in this table too";
  EXPECT_EQ(entries[0].destColor, 0);

  // Every pen keeps the object's colour: each index stays itself, also where the palette
  // repeats a colour.
  ASSERT_TRUE(BuildPenTableFromCtb(shared / "corpus/ctb/ezdxf_color.ctb", entries));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(entries[i].destColor, i);

  // Not a colour-dependent table: every pen keeps its index, at width 0.
  EXPECT_FALSE(BuildPenTableFromCtb(shared / "corpus/ctb/ezdxf_stbtest.stb", entries));
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(entries[i].destColor, i);
    ASSERT_EQ(entries[i].width, 0.0);
  }
}
