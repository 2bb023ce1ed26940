// The conversion settings: defaults, loading and saving on a store in a temporary file.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "convert/ConvertSettings.h"
#include "platform/Registry.h"
#include "tests/convert/ScriptedDrawing.h"
#include "tests/support/TestSupport.h"

using testsupport::TempDir;

namespace {

using Data = std::vector<std::uint8_t>;

Data DoubleBytes(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  Data data;
  for (int b = 0; b < 8; ++b) data.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
  return data;
}

Data TextBytes(std::string_view text) {
  Data data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

// A store in a temporary folder with the Parameter and search-path keys made.
struct Store {
  TempDir dir;
  CRegistry registry{dir / "registry.reg"};
  Store() {
    registry.CreateKey(kParameterKey);
    registry.CreateKey(kSearchPathKey);
  }
  void Set(std::string_view name, RegType type, const Data& data) {
    ASSERT_TRUE(registry.SetValue(kParameterKey, name, type, data)) << name;
  }
  Data Get(std::string_view key, std::string_view name, RegType* type) {
    Data data;
    if (!registry.QueryValue(key, name, type, &data)) return {};
    return data;
  }
};

void ExpectDefaults(const CConvertSettings& s) {
  EXPECT_TRUE(s.SourceFiles.empty());
  EXPECT_TRUE(s.BookmarkNames.empty());
  EXPECT_EQ(s.Layout, LayoutChoice::AllLayouts);
  EXPECT_EQ(s.Area, AreaChoice::Extents);
  EXPECT_EQ(s.Scale, 0.98);
  EXPECT_EQ(s.Colors, ColorMode::TrueColors);
  EXPECT_EQ(s.UsePenSets, 0);
  EXPECT_EQ(s.ExportRaster, 1);
  EXPECT_EQ(s.ExportLayer, 1);
  EXPECT_EQ(s.PdfWidth, 297.0);
  EXPECT_EQ(s.PdfHeight, 210.0);
  EXPECT_EQ(s.Margin, 0.0);
  EXPECT_EQ(s.UseLayoutPageSet, 1);
  EXPECT_EQ(s.Units, PaperUnit::Millimetre);
  EXPECT_EQ(s.Quality, 200);
  EXPECT_EQ(s.PdfType, OutputType::Merged);
  EXPECT_EQ(s.TargetPdf, "");
  EXPECT_EQ(s.Title + s.Author + s.Subject + s.Keywords, "");
}

}  // namespace

TEST(ConvertSettings, StartsWithTheA4LandscapeMergeDefaults) {
  ExpectDefaults(CConvertSettings{});
}

TEST(ConvertSettings, WithoutAParameterKeyKeepsDefaultsButStillReadsSearchFolders) {
  TempDir dir;
  CRegistry store(dir / "registry.reg");
  ASSERT_TRUE(store.CreateKey(kSearchPathKey));
  store.SetString(kSearchPathKey, "Dir0", "/fonts");
  CConvertSettings settings;
  settings.SearchPaths = {"/stale"};
  settings.LoadSettings(store);
  ExpectDefaults(settings);
  EXPECT_EQ(settings.SearchPaths, std::vector<std::string>{"/fonts"});
  EXPECT_FALSE(store.OpenKey(kParameterKey)) << "loading must not create keys";
}

TEST(ConvertSettings, WithAnEmptyStoreEmptiesTheSearchFolders) {
  TempDir dir;
  CRegistry store(dir / "registry.reg");
  CConvertSettings settings;
  settings.SearchPaths = {"/a", "/b"};
  settings.LoadSettings(store);
  EXPECT_TRUE(settings.SearchPaths.empty());
  ExpectDefaults(settings);
}

TEST(ConvertSettings, TakesStoredValuesOfTheRightTypeAsTheyAre) {
  Store store;
  store.Set("Layout", RegType::Dword, {7, 0, 0, 0});
  store.Set("Area", RegType::Dword, {2, 0, 0, 0});
  store.Set("Scale", RegType::Binary, DoubleBytes(0.5));
  store.Set("Colors", RegType::Dword, {2, 0, 0, 0});
  store.Set("ExportRaster", RegType::Dword, {0, 0, 0, 0});
  store.Set("UsePenSets", RegType::Dword, {9, 0, 0, 0});
  store.Set("ExportLayer", RegType::Dword, {0, 0, 0, 0});
  store.Set("PdfWidth", RegType::Binary, DoubleBytes(-3.5));
  store.Set("PdfHeight", RegType::Binary, DoubleBytes(0.0));
  store.Set("UseLayoutPageSet", RegType::Dword, {0, 0, 0, 0});
  store.Set("Units", RegType::Dword, {5, 0, 0, 0});
  store.Set("Quality", RegType::Dword, {0x2c, 0x01, 0, 0});
  store.Set("PdfType", RegType::Dword, {0xff, 0xff, 0xff, 0xff});
  store.Set("TargetPdf", RegType::ExpandSz, TextBytes("%HOME%/out"));
  CConvertSettings s;
  s.LoadSettings(store.registry);
  EXPECT_EQ(s.Layout, static_cast<LayoutChoice>(7)) << "out-of-range values load unchanged";
  EXPECT_EQ(s.Area, AreaChoice::LayoutArea);
  EXPECT_EQ(s.Scale, 0.5);
  EXPECT_EQ(s.Colors, ColorMode::BlackAndWhite);
  EXPECT_EQ(s.ExportRaster, 0);
  EXPECT_EQ(s.UsePenSets, 1) << "a non-zero flag loads as 1";
  EXPECT_EQ(s.ExportLayer, 0);
  EXPECT_EQ(s.PdfWidth, -3.5) << "page sizes are not tested on load";
  EXPECT_EQ(s.PdfHeight, 0.0);
  EXPECT_EQ(s.UseLayoutPageSet, 0);
  EXPECT_EQ(s.Units, PaperUnit::Millimetre) << "Units 5 loads as millimetres";
  EXPECT_EQ(s.Quality, 300);
  EXPECT_EQ(s.PdfType, static_cast<OutputType>(-1));
  EXPECT_EQ(s.TargetPdf, "%HOME%/out") << "an expandable text is taken without expansion";
}

TEST(ConvertSettings, IgnoresValuesOfTheWrongTypeOrSize) {
  Store store;
  store.Set("Layout", RegType::Binary, {3, 0, 0, 0});
  store.Set("Area", RegType::Sz, TextBytes("2"));
  store.Set("Quality", RegType::Dword, {1, 2});
  store.Set("PdfWidth", RegType::Dword, {100, 0, 0, 0});
  store.Set("PdfHeight", RegType::Binary, {0, 0, 0x20, 0x41});
  store.Set("Scale", RegType::Binary, {});
  store.Set("ExportLayer", RegType::Binary, {0, 0, 0, 0});
  store.Set("TargetPdf", RegType::Binary, TextBytes("/x.pdf"));
  CConvertSettings s;
  s.LoadSettings(store.registry);
  ExpectDefaults(s);
}

TEST(ConvertSettings, IgnoresAScaleOfAThousandthOrLess) {
  for (const double stored : {0.001, 0.0, -1.0, 0.0005}) {
    Store store;
    store.Set("Scale", RegType::Binary, DoubleBytes(stored));
    CConvertSettings s;
    s.LoadSettings(store.registry);
    EXPECT_EQ(s.Scale, 0.98) << "stored " << stored;
  }
  Store store;
  store.Set("Scale", RegType::Binary, DoubleBytes(0.0011));
  CConvertSettings s;
  s.LoadSettings(store.registry);
  EXPECT_EQ(s.Scale, 0.0011);
}

TEST(ConvertSettings, TakesATargetOnlyWhenItFitsTheBufferWithItsNul) {
  const struct {
    Data data;
    RegType type;
    std::string expected;
  } cases[] = {
      {TextBytes(std::string(1023, 'a')), RegType::Sz, std::string(1023, 'a')},
      {TextBytes(std::string(1024, 'a')), RegType::Sz, ""},
      {TextBytes(std::string(4000, 'a')), RegType::Sz, ""},
      {Data{'a', 'b'}, RegType::Sz, ""},
      {Data{}, RegType::Sz, ""},
      {Data{'a', 0, 'b', 0}, RegType::Sz, "a"},
      {TextBytes("/out/all.pdf"), RegType::Sz, "/out/all.pdf"},
  };
  for (const auto& c : cases) {
    Store store;
    store.Set("TargetPdf", c.type, c.data);
    CConvertSettings s;
    s.LoadSettings(store.registry);
    EXPECT_EQ(s.TargetPdf, c.expected) << "stored " << c.data.size() << " bytes";
  }
}

TEST(ConvertSettings, ReadsSearchFoldersUpToTheFirstGapOrBadValue) {
  Store store;
  CRegistry& r = store.registry;
  r.SetString(kSearchPathKey, "Dir0", "/a");
  r.SetString(kSearchPathKey, "Dir1", "/b");
  r.SetString(kSearchPathKey, "Dir3", "/d");
  CConvertSettings s;
  s.LoadSettings(r);
  EXPECT_EQ(s.SearchPaths, (std::vector<std::string>{"/a", "/b"}));

  r.SetString(kSearchPathKey, "Dir2", std::string(511, 'c'));
  s.LoadSettings(r);
  EXPECT_EQ(s.SearchPaths.size(), 4u) << "a text of 511 bytes and its NUL fits";
  r.SetString(kSearchPathKey, "Dir2", std::string(512, 'c'));
  s.LoadSettings(r);
  EXPECT_EQ(s.SearchPaths.size(), 2u) << "a text of 512 bytes and its NUL does not fit";
  r.SetValue(kSearchPathKey, "Dir2", RegType::Dword, Data{1, 0, 0, 0});
  s.LoadSettings(r);
  EXPECT_EQ(s.SearchPaths.size(), 2u);
}

TEST(ConvertSettings, SavesEveryPersistedValueWithItsTypeAndBytes) {
  Store store;
  CConvertSettings s;
  s.Layout = LayoutChoice::PaperLayouts;
  s.Area = AreaChoice::SavedView;
  s.Scale = 0.75;
  s.Colors = ColorMode::Gray;
  s.UsePenSets = 1;
  s.ExportRaster = 0;
  s.ExportLayer = 0;
  s.PdfWidth = 8.5;
  s.PdfHeight = 11;
  s.UseLayoutPageSet = 0;
  s.Units = PaperUnit::Inch;
  s.Quality = 600;
  s.PdfType = OutputType::PerLayout;
  s.TargetPdf = "/out/";
  s.Margin = 5;
  s.Title = "not saved";
  s.SaveSettings(store.registry);

  RegType type;
  EXPECT_EQ(store.Get(kParameterKey, "Layout", &type), (Data{3, 0, 0, 0}));
  EXPECT_EQ(type, RegType::Dword);
  EXPECT_EQ(store.Get(kParameterKey, "Scale", &type), DoubleBytes(0.75));
  EXPECT_EQ(type, RegType::Binary);
  EXPECT_EQ(store.Get(kParameterKey, "PdfWidth", &type), DoubleBytes(8.5));
  EXPECT_EQ(store.Get(kParameterKey, "UsePenSets", &type), (Data{1, 0, 0, 0}));
  EXPECT_EQ(store.Get(kParameterKey, "Quality", &type), (Data{0x58, 0x02, 0, 0}));
  EXPECT_EQ(store.Get(kParameterKey, "TargetPdf", &type), TextBytes("/out/"));
  EXPECT_EQ(type, RegType::Sz) << "the text is stored with its NUL counted";
  EXPECT_TRUE(store.Get(kParameterKey, "Margin", &type).empty()) << "Margin is not persisted";
  EXPECT_TRUE(store.Get(kParameterKey, "Title", &type).empty());

  CConvertSettings loaded;
  loaded.LoadSettings(store.registry);
  EXPECT_EQ(loaded.Layout, LayoutChoice::PaperLayouts);
  EXPECT_EQ(loaded.Area, AreaChoice::SavedView);
  EXPECT_EQ(loaded.Scale, 0.75);
  EXPECT_EQ(loaded.Colors, ColorMode::Gray);
  EXPECT_EQ(loaded.UsePenSets, 1);
  EXPECT_EQ(loaded.ExportRaster, 0);
  EXPECT_EQ(loaded.ExportLayer, 0);
  EXPECT_EQ(loaded.PdfWidth, 8.5);
  EXPECT_EQ(loaded.PdfHeight, 11.0);
  EXPECT_EQ(loaded.UseLayoutPageSet, 0);
  EXPECT_EQ(loaded.Units, PaperUnit::Inch);
  EXPECT_EQ(loaded.Quality, 600);
  EXPECT_EQ(loaded.PdfType, OutputType::PerLayout);
  EXPECT_EQ(loaded.TargetPdf, "/out/");
  EXPECT_EQ(loaded.Margin, 0.0);
  EXPECT_EQ(loaded.Title, "");
}

// The engine's own options live in the Option key; a stored value out of range keeps the default.
TEST(ConvertSettings, KeepsLineWeightsAndCompressionInTheOptionKey) {
  Store store;
  CConvertSettings s;
  s.ExactLineWeights = 0;
  s.Compression = 2;
  s.SaveSettings(store.registry);
  RegType type;
  EXPECT_EQ(store.Get(kOptionKey, "ExactLineWeights", &type), (Data{0, 0, 0, 0}));
  EXPECT_EQ(store.Get(kOptionKey, "Compression", &type), (Data{2, 0, 0, 0}));
  EXPECT_EQ(type, RegType::Dword);
  CConvertSettings loaded;
  loaded.LoadSettings(store.registry);
  EXPECT_EQ(loaded.ExactLineWeights, 0);
  EXPECT_EQ(loaded.Compression, 2);

  const Data seven{7, 0, 0, 0};
  ASSERT_TRUE(store.registry.SetValue(kOptionKey, "Compression", RegType::Dword, seven));
  CConvertSettings outOfRange;
  outOfRange.LoadSettings(store.registry);
  EXPECT_EQ(outOfRange.Compression, 1);
}

TEST(ConvertSettings, SavingTwoSearchFoldersOverFiveLeavesExactlyTwo) {
  TempDir dir;
  CRegistry store(dir / "registry.reg");
  CConvertSettings s;
  s.SearchPaths = {"/1", "/2", "/3", "/4", "/5"};
  s.SaveSettings(store);
  s.SearchPaths = {"/x", "/y"};
  s.SaveSettings(store);
  RegType type;
  Data data;
  EXPECT_TRUE(store.QueryValue(kSearchPathKey, "Dir0", &type, &data));
  EXPECT_EQ(data, TextBytes("/x"));
  EXPECT_TRUE(store.QueryValue(kSearchPathKey, "Dir1", &type, &data));
  for (const char* gone : {"Dir2", "Dir3", "Dir4"}) {
    EXPECT_FALSE(store.QueryValue(kSearchPathKey, gone, &type, &data)) << gone;
  }
  CConvertSettings loaded;
  loaded.LoadSettings(store);
  EXPECT_EQ(loaded.SearchPaths, s.SearchPaths);
}

TEST(ConvertSettings, SavingCreatesBothKeysOnAFreshStore) {
  TempDir dir;
  CRegistry store(dir / "registry.reg");
  CConvertSettings{}.SaveSettings(store);
  EXPECT_TRUE(store.OpenKey(kParameterKey));
  EXPECT_TRUE(store.OpenKey(kSearchPathKey));
  CConvertSettings loaded;
  loaded.LoadSettings(store);
  ExpectDefaults(loaded);
}

TEST(ConvertSettings, JoinsSearchFoldersBySemicolons) {
  CConvertSettings s;
  EXPECT_EQ(s.JoinedSearchPaths(), "");
  s.SearchPaths = {"/fonts"};
  EXPECT_EQ(s.JoinedSearchPaths(), "/fonts");
  s.SearchPaths = {"/a", "/b c", "/d"};
  EXPECT_EQ(s.JoinedSearchPaths(), "/a;/b c;/d");
}
