// Pen sets in the settings store: loading with its fallbacks, saving, listing and deleting, the
// names the store can hold, and saving into a store that cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pensets/PenSet.h"
#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

namespace {

using Data = std::vector<std::uint8_t>;

constexpr char kPenWidths[] = "Software\\Kestrim\\Common\\PenWidths";
constexpr char kOption[] = "Software\\KESTRIM\\tarnvelox\\Option";

Data Bytes(std::string_view text) {
  return Data(text.begin(), text.end());
}
std::string SetKey(const std::string& name) {
  return std::string(kPenWidths) + "\\" + name;
}

// A set whose every entry differs from the default.
CPenSet Sample(const std::string& name) {
  CPenSet set;
  set.name = name;
  set.usePenWidth = true;
  for (int i = 0; i < 256; ++i) set.entries[i] = {0.001 * i + 0.25, std::int16_t(255 - i)};
  return set;
}

::testing::AssertionResult IsDefaultTable(const std::array<PenEntry, 256>& entries) {
  for (int i = 0; i < 256; ++i) {
    if (entries[i].width != 0.0 || entries[i].destColor != i) {
      return ::testing::AssertionFailure() << "entry " << i << " is width " << entries[i].width
                                           << ", colour " << entries[i].destColor;
    }
  }
  return ::testing::AssertionSuccess();
}

class PenSets : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  CRegistry store{dir / "registry.reg"};

  void Set(const std::string& key, const std::string& name, RegType type, const Data& data) {
    ASSERT_TRUE(store.CreateKey(key));
    ASSERT_TRUE(store.SetValue(key, name, type, data)) << key << " " << name;
  }
  CPenSet LoadCurrent() {
    CPenSet set = Sample("left over");
    LoadCurrentPenSet(set, store);
    return set;
  }
};

}  // namespace

TEST_F(PenSets, AnEmptyStoreGivesTheDefaultSet) {
  const CPenSet set = LoadCurrent();
  EXPECT_EQ(set.name, "Default");
  EXPECT_FALSE(set.usePenWidth);
  EXPECT_TRUE(IsDefaultTable(set.entries));
  EXPECT_EQ(ListPenSets(store), std::vector<std::string>{"Default"});
  std::array<PenEntry, 256> entries = Sample("x").entries;
  LoadPenSet("Missing", entries, store);
  EXPECT_TRUE(IsDefaultTable(entries));
  EXPECT_FALSE(std::filesystem::exists(store.File())) << "loading wrote to the store";
  EXPECT_TRUE(IsDefaultTable(CPenSet().entries));
}

TEST_F(PenSets, AFullSetComesBackFromTheFileBitForBit) {
  CPenSet saved = Sample("Plot A");
  saved.entries[3].width = 12345.678901234567;
  saved.entries[2].width = -0.0;
  SaveCurrentPenSet(saved, store);

  CRegistry reader(store.File());
  CPenSet loaded;
  LoadCurrentPenSet(loaded, reader);
  EXPECT_EQ(loaded.name, "Plot A");
  EXPECT_TRUE(loaded.usePenWidth);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(loaded.entries[i].width),
              std::bit_cast<std::uint64_t>(saved.entries[i].width))
        << "width " << i;
    EXPECT_EQ(loaded.entries[i].destColor, saved.entries[i].destColor) << "colour " << i;
  }
  EXPECT_EQ(ListPenSets(reader), std::vector<std::string>{"Plot A"});

  const std::string text = testsupport::ReadFile(store.File());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\KESTRIM\\tarnvelox\\Option]\n"
                      "\"UsePenWidth\"=dword:00000001\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"CurPenWidthColorSets\"=\"Plot A\"\n"), std::string::npos);
  // 0.251 is 3FD010624DD2F1AA and -0.0 is 8000000000000000, both stored little-endian.
  EXPECT_NE(text.find("\"W1\"=hex:aa,f1,d2,4d,62,10,d0,3f\n"), std::string::npos);
  EXPECT_NE(text.find("\"W2\"=hex:00,00,00,00,00,00,00,80\n"), std::string::npos);
  const std::size_t c0 = text.find("\"C0\"=dword:000000ff\n");
  ASSERT_NE(c0, std::string::npos);
  EXPECT_LT(text.find("\"W0\""), c0);
  EXPECT_LT(c0, text.find("\"W1\"")) << "values are written W0, C0, W1, C1, ...";
}

TEST_F(PenSets, MistypedOrOutOfRangeEntriesLoadAsTheirDefaults) {
  const std::string key = SetKey("Odd");
  Set(kPenWidths, "CurPenWidthColorSets", RegType::Sz, Bytes(std::string_view("Odd\0", 4)));
  const std::uint64_t half = std::bit_cast<std::uint64_t>(0.5);
  Data eight;
  for (int b = 0; b < 8; ++b) eight.push_back(static_cast<std::uint8_t>(half >> (8 * b)));
  Data nine = eight;
  nine.push_back(0);
  Set(key, "W0", RegType::Binary, {0, 0, 0, 0x3f});
  Set(key, "W1", RegType::Dword, {0, 0, 0, 0x3f});
  Set(key, "W2", RegType::Binary, eight);
  Set(key, "W3", RegType::Binary, nine);
  Set(key, "W4", RegType::Sz, eight);
  const std::uint32_t colors[] = {256, 0xFFFFFFFFu, 255, 0, 0x80000005u};
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(store.SetDword(key, "C" + std::to_string(i), colors[i]));
  Set(key, "C5", RegType::Binary, {7, 0, 0, 0});
  Set(key, "C6", RegType::Dword, {7, 0});
  ASSERT_TRUE(store.SetDword(key, "C200", 17));

  const CPenSet set = LoadCurrent();
  EXPECT_EQ(set.name, "Odd");
  const double widths[] = {0.0, 0.0, 0.5, 0.0, 0.0, 0.0};  // only W2 is 8 binary bytes
  for (int i = 0; i < 6; ++i) EXPECT_EQ(set.entries[i].width, widths[i]) << "W" << i;
  // 256 and -1 are out of range; 255 and 0 are colours; a binary or short DWORD is no colour.
  const int expected[][2] = {{0, 0}, {1, 1}, {2, 255}, {3, 0},   {4, 4},
                             {5, 5}, {6, 6}, {7, 7},   {200, 17}};
  for (const auto& e : expected) EXPECT_EQ(set.entries[e[0]].destColor, e[1]) << "C" << e[0];
}

TEST_F(PenSets, OnlyATerminatedTextOfAtMost512BytesNamesTheCurrentSet) {
  const std::string longName(511, 'n');
  Set(SetKey("Odd"), "C9", RegType::Dword, {3, 0, 0, 0});
  ASSERT_TRUE(store.CreateKey(SetKey(longName)));
  ASSERT_TRUE(store.CreateKey(SetKey(longName + "n")));
  const struct {
    RegType type;
    Data data;
    std::string name;
  } cases[] = {
      {RegType::Sz, Bytes(std::string_view("Odd\0", 4)), "Odd"},
      {RegType::ExpandSz, Bytes(std::string_view("odd\0", 4)), "odd"},
      {RegType::Sz, Bytes(std::string_view("Odd\0junk\0", 9)), "Odd"},
      {RegType::Sz, Bytes("Odd"), "Default"},
      {RegType::Binary, Bytes(std::string_view("Odd\0", 4)), "Default"},
      {RegType::Sz, {0}, "Default"},
      {RegType::Sz, Bytes(longName + '\0'), longName},
      {RegType::Sz, Bytes(longName + "n" + '\0'), "Default"},
      {RegType::Sz, Bytes(std::string_view("Deleted\0", 8)), "Default"},
  };
  for (const auto& c : cases) {
    Set(kPenWidths, "CurPenWidthColorSets", c.type, c.data);
    const CPenSet set = LoadCurrent();
    EXPECT_EQ(set.name, c.name) << "stored as " << c.data.size() << " bytes";
    const bool odd = c.name == "Odd" || c.name == "odd";
    EXPECT_EQ(set.entries[9].destColor, odd ? 3 : 9) << "the set read is not the one named";
    if (c.name == "Default") {
      EXPECT_TRUE(IsDefaultTable(set.entries));
    }
  }

  const struct {
    RegType type;
    Data data;
    bool on;
  } flags[] = {{RegType::Dword, {0, 0, 0, 2}, true},
               {RegType::Dword, {0, 0, 0, 0}, false},
               {RegType::Binary, {1, 0, 0, 0}, false}};
  for (const auto& f : flags) {
    Set(kOption, "UsePenWidth", f.type, f.data);
    EXPECT_EQ(LoadCurrent().usePenWidth, f.on) << "UsePenWidth of type " << int(f.type);
  }
}

TEST_F(PenSets, SavingAnyNamedSetMakesItTheCurrentOne) {
  CPenSet set = Sample("ignored");
  SavePenSet(set, "", store);
  EXPECT_EQ(set.name, "Default") << "an empty name is stored as Default";
  EXPECT_TRUE(store.OpenKey(SetKey("Default")));

  CPenSet other = Sample("x");
  other.entries[5].destColor = -1;
  SavePenSet(other, "Plotter", store);
  EXPECT_EQ(other.name, "Plotter");
  RegType type = RegType::None;
  Data data;
  ASSERT_TRUE(store.QueryValue(SetKey("Plotter"), "C5", &type, &data));
  EXPECT_EQ(data, (Data{0xff, 0xff, 0xff, 0xff})) << "sign-extended";
  ASSERT_TRUE(store.QueryValue(kPenWidths, "CurPenWidthColorSets", &type, &data));
  EXPECT_EQ(type, RegType::Sz);
  EXPECT_EQ(data, Bytes(std::string_view("Plotter\0", 8))) << "the name is stored with its NUL";
  EXPECT_FALSE(store.OpenKey(kOption)) << "only SaveCurrentPenSet writes the flag";
  const CPenSet current = LoadCurrent();
  EXPECT_EQ(current.name, "Plotter");
  EXPECT_EQ(current.entries[5].destColor, 5) << "-1 is read back as the entry's index";
  EXPECT_EQ(current.entries[6].destColor, 249);
}

TEST_F(PenSets, ListsLoadsAndDeletesSetsByNameWithoutRegardToCase) {
  for (const char* name : {"Thin", "Bold", "Colour"}) {
    CPenSet set = Sample(name);
    set.entries[0].width = name[0];
    SavePenSet(set, name, store);
  }
  EXPECT_EQ(ListPenSets(store), (std::vector<std::string>{"Thin", "Bold", "Colour"}));
  CPenSet set;
  set.name = "Mine";
  LoadPenSet("BOLD", set.entries, store);
  EXPECT_EQ(set.name, "Mine") << "LoadPenSet renames nothing";
  EXPECT_EQ(set.entries[0].width, 'B');
  LoadPenSet("", set.entries, store);
  EXPECT_TRUE(IsDefaultTable(set.entries));

  DeletePenSet("thin", store);
  DeletePenSet("Never Saved", store);
  DeletePenSet("", store);
  EXPECT_EQ(ListPenSets(store), (std::vector<std::string>{"Bold", "Colour"}));
  DeletePenSet("Colour", store);  // the current set
  const CPenSet current = LoadCurrent();
  EXPECT_EQ(current.name, "Default");
  EXPECT_TRUE(IsDefaultTable(current.entries));
  DeletePenSet("Bold", store);
  EXPECT_EQ(ListPenSets(store), std::vector<std::string>{"Default"});
}

TEST(PenSetNames, RefusesNamesTheStoreCannotHoldAndQuotesThemOnOneLine) {
  const struct {
    std::string name;
    const char* why;  // empty: storable
    const char* quoted;
  } cases[] = {
      {"Plotter A3", "", "Plotter A3"},
      {"Gr\xC3\xB6\xC3\x9F"
       "e \"fett\" ]",
       "",
       "Gr\xC3\xB6\xC3\x9F"
       "e \"fett\" ]"},
      {std::string(255, 'n'), "", nullptr},
      {std::string(256, 'n'), "longer than 255 bytes", nullptr},
      {"", "empty", ""},
      {"Pens\\A3", "holds a \"\\\"", "Pens\\A3"},
      {"two\nlines", "line break", "two\\nlines"},
      {"cr\r", "line break", "cr\\r"},
      {std::string("nul\0x", 5), "control character", "nul\\x00x"},
      {"tab\there", "control character", "tab\\there"},
      {"latin1 \xE9t\xE9", "not UTF-8", "latin1 \\xe9t\\xe9"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(CheckPenSetName(c.name, &why), *c.why == 0) << PenSetNameForMessage(c.name);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    if (c.quoted) {
      EXPECT_EQ(PenSetNameForMessage(c.name), c.quoted);
    }
  }
  // A long name is cut after whole characters, and says how long it is.
  const std::string longName = std::string(59, 'x') + "\xE2\x82\xAC" + std::string(450, 'y');
  EXPECT_EQ(PenSetNameForMessage(longName), std::string(59, 'x') + "\xE2\x82\xAC... (512 bytes)");
}

TEST_F(PenSets, StoresNoSetUnderANameTheStoreCannotHold) {
  const CPenSet set = Sample("x");
  for (const std::string& name :
       {std::string(256, 'n'), std::string("a\\b"), std::string("a\nb")}) {
    EXPECT_FALSE(StorePenSetTable(name, set.entries, store)) << PenSetNameForMessage(name);
    CPenSet current = set;
    EXPECT_FALSE(SavePenSet(current, name, store)) << PenSetNameForMessage(name);
  }
  EXPECT_TRUE(StoredPenSetNames(store).empty());
  EXPECT_FALSE(std::filesystem::exists(store.File())) << "nothing was to be written";
}

TEST_F(PenSets, ASetNameTooLongToListHidesNoOtherSet) {
  // Stores of earlier versions can hold a name of 512 bytes and more; the sets after it used to
  // vanish from every list.
  StorePenSetTable("Before", Sample("x").entries, store);
  ASSERT_TRUE(store.CreateKey(SetKey(std::string(512, 'n'))));
  StorePenSetTable("After", Sample("x").entries, store);
  EXPECT_EQ(StoredPenSetNames(store), (std::vector<std::string>{"Before", "After"}));
}

TEST_F(PenSets, SayWhenTheStoreCannotBeWritten) {
  const CPenSet set = Sample("x");
  ASSERT_TRUE(StorePenSetTable("Kept", set.entries, store));
  const std::string before = testsupport::ReadFile(store.File());
  // A folder where the temporary file of the write goes: the write fails, even for root.
  std::filesystem::create_directory(store.File().string() + ".tmp." + std::to_string(getpid()));
  EXPECT_FALSE(StorePenSetTable("Lost", set.entries, store));
  CPenSet current = set;
  EXPECT_FALSE(SavePenSet(current, "Lost", store));
  {
    // Inside a batch the write is the batch's, and its Commit says it failed.
    CRegistryBatch batch(store);
    EXPECT_TRUE(StorePenSetTable("Lost", set.entries, store));
    EXPECT_FALSE(batch.Commit());
  }
  EXPECT_EQ(StoredPenSetNames(store), std::vector<std::string>{"Kept"});
  EXPECT_EQ(testsupport::ReadFile(store.File()), before);
}

TEST(CurrentPenSet, IsOneSetSavedToAndLoadedFromTheUsersStore) {
  testsupport::TempDir dir;
  const std::string file = (dir / "user.reg").string();
  const char* old = std::getenv("TARNVELOX_REGISTRY");
  const std::string previous = old ? old : "";
  setenv("TARNVELOX_REGISTRY", file.c_str(), 1);
  const bool ours = CRegistry::User().File() == file;
  old ? setenv("TARNVELOX_REGISTRY", previous.c_str(), 1) : unsetenv("TARNVELOX_REGISTRY");
  if (!ours) GTEST_SKIP() << "the user's store was opened before this test";

  EXPECT_EQ(&CurrentPenSet(), &CurrentPenSet());
  CurrentPenSet() = Sample("Shared");
  SaveCurrentPenSet();
  CurrentPenSet() = CPenSet();
  LoadCurrentPenSet();
  EXPECT_EQ(CurrentPenSet().name, "Shared");
  EXPECT_TRUE(CurrentPenSet().usePenWidth);
  EXPECT_EQ(CurrentPenSet().entries[7].destColor, 248);
  CRegistry direct(file);
  EXPECT_EQ(ListPenSets(direct), std::vector<std::string>{"Shared"});
}
