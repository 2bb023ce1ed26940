// Plot style tables (.ctb): the real tables of the shared corpus with the pens they hold,
// damaged and foreign files refused, and the library's entries for a drawing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "drawing/ModelDrawing.h"
#include "drawing/PlotStyleTable.h"
#include "platform/ColorPalette.h"
#include "render/TraceExport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using drawing::NamedPlotStyle;
using drawing::NamedPlotStyleTable;
using drawing::ParsePlotStyleTable;
using drawing::PlotStyleTable;
using drawing::ReadNamedPlotStyleTable;
using drawing::ReadPlotStyleTable;
using testsupport::ReadFile;

namespace {

constexpr char kHeader[] = "PIAFILEVERSION_2.0,CTBVER1,compress\r\npmzlibcodec";

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>(value >> (8 * b));
}

// A table file around the given text, with its lengths and checksum as a real one has them.
std::string TableFile(const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string deflated(size, '\0');
  compress(reinterpret_cast<Bytef*>(deflated.data()), &size,
           reinterpret_cast<const Bytef*>(text.data()), text.size());
  deflated.resize(size);
  std::string bytes(kHeader, 48);
  bytes.resize(60);
  Put32(bytes, 48,
        adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(deflated.data()),
                deflated.size()));
  Put32(bytes, 52, static_cast<std::uint32_t>(text.size()));
  Put32(bytes, 56, static_cast<std::uint32_t>(deflated.size()));
  return bytes + deflated;
}

const std::string kSmallTable =
    "description=\"two pens\n"
    "aci_table_available=TRUE\n"
    "plot_style{\n"
    " 0{\n  name=\"Color_1\n  color=-1023410176\n  color_policy=5\n  lineweight=8\n }\n"
    " 4{\n  name=\"Color_5\n  color=-1023410176\n  mode_color=-1024751852\n  color_policy=1\n"
    "  lineweight=40\n }\n"
    " 6{\n  name=\"Color_7\n  color=-1006632961\n  lineweight=2\n }\n"
    "}\n"
    "custom_lineweight_table{\n 0=0.0\n 2=0.09\n 8=0.25\n}\n";

fs::path CorpusTable(const char* name) {
  const fs::path shared = testsupport::SharedDir();
  return shared.empty() ? fs::path() : shared / "corpus" / "ctb" / name;
}

}  // namespace

TEST(PlotStyleTable, ReadsColoursAndWidthsOfAWrittenTable) {
  PlotStyleTable table;
  std::string why;
  ASSERT_TRUE(ParsePlotStyleTable(TableFile(kSmallTable), &table, &why)) << why;
  // Style 0 is colour index 1: black, 0.25 mm.
  EXPECT_FALSE(table.pens[1].objectColor);
  EXPECT_EQ(table.pens[1].rgb, 0u);
  EXPECT_DOUBLE_EQ(table.pens[1].widthMm, 0.25);
  // mode_color wins over color: 0xC2EB8714 is red 235, green 135, blue 20.
  EXPECT_EQ(table.pens[5].rgb, 235u | 135u << 8 | 20u << 16);
  EXPECT_EQ(table.pens[5].widthMm, 0.0) << "a lineweight the table does not list";
  // 0xC3FFFFFF keeps the object's colour.
  EXPECT_TRUE(table.pens[7].objectColor);
  EXPECT_DOUBLE_EQ(table.pens[7].widthMm, 0.09);
  EXPECT_TRUE(table.pens[0].objectColor) << "index 0 has no style";
  EXPECT_TRUE(table.pens[2].objectColor) << "a style the table leaves out";
}

TEST(PlotStyleTable, RefusesDamagedAndForeignFiles) {
  const std::string good = TableFile(kSmallTable);
  PlotStyleTable table;
  std::string why;
  auto refused = [&](const std::string& bytes) {
    return !ParsePlotStyleTable(bytes, &table, &why) && !why.empty();
  };
  std::string bad = good;
  Put32(bad, 56, static_cast<std::uint32_t>(good.size()));  // compressed length too large
  EXPECT_TRUE(refused(bad)) << why;
  bad = good;
  Put32(bad, 52, 0xFFFFFFF0u);  // inflated length far too large
  EXPECT_TRUE(refused(bad)) << why;
  bad = good;
  Put32(bad, 52, static_cast<std::uint32_t>(kSmallTable.size() - 1));  // one byte short
  EXPECT_TRUE(refused(bad)) << why;
  bad = good;
  bad[70] = static_cast<char>(bad[70] ^ 0x55);  // checksum no longer matches
  EXPECT_TRUE(refused(bad)) << why;
  EXPECT_EQ(why, "checksum mismatch");
  EXPECT_TRUE(refused(good.substr(0, good.size() - 7))) << "truncated stream: " << why;
  EXPECT_TRUE(refused(good.substr(0, 30)));
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused(TableFile("aci_table_available=TRUE\nplot_style{\n 0{\n  color=-1\n")))
      << "an unclosed block";
  EXPECT_TRUE(refused(TableFile("description=\"no styles at all\n")));
  bad = good;
  std::memcpy(bad.data() + 19, "STB", 3);
  EXPECT_TRUE(refused(bad));
  EXPECT_NE(why.find(".stb"), std::string::npos) << why;
  EXPECT_FALSE(ReadPlotStyleTable("/no/such/table.ctb", &table, &why));
}

TEST(PlotStyleTable, ReadsEveryTableOfTheCorpus) {
  if (CorpusTable("x").empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  PlotStyleTable table;
  std::string why;

  ASSERT_TRUE(ReadPlotStyleTable(CorpusTable("ezdxf_color.ctb"), &table, &why)) << why;
  for (int i = 0; i < 256; ++i) {
    ASSERT_TRUE(table.pens[i].objectColor) << i;
    ASSERT_EQ(table.pens[i].widthMm, 0.0) << i;
  }

  ASSERT_TRUE(ReadPlotStyleTable(CorpusTable("ezdxf_monochrome.ctb"), &table, &why)) << why;
  for (int i = 1; i < 256; ++i) {
    ASSERT_FALSE(table.pens[i].objectColor) << i;
    ASSERT_EQ(table.pens[i].rgb, 0u) << i;
  }

  // Colour 1: mode colour (235, 135, 20) under a grayscale policy, lineweight 18 = 0.80 mm;
  // the others keep the object's colour and width. The text ends with a NUL.
  ASSERT_TRUE(ReadPlotStyleTable(CorpusTable("ezdxf_ctbtest.ctb"), &table, &why)) << why;
  EXPECT_FALSE(table.pens[1].objectColor);
  EXPECT_EQ(table.pens[1].rgb, 0x989898u) << "gray of (235, 135, 20)";
  EXPECT_DOUBLE_EQ(table.pens[1].widthMm, 0.80);
  for (int i = 2; i < 256; ++i)
    ASSERT_TRUE(table.pens[i].objectColor && table.pens[i].widthMm == 0);

  // 11 black styles, ACI 1 at 0.20 mm; ACI 7 keeps its colour at 0.09 mm.
  ASSERT_TRUE(ReadPlotStyleTable(CorpusTable("mod2_MO-D_2.ctb"), &table, &why)) << why;
  int black = 0;
  for (int i = 1; i < 256; ++i) black += table.pens[i].objectColor ? 0 : 1;
  EXPECT_EQ(black, 11);
  EXPECT_EQ(table.pens[1].rgb, 0u);
  EXPECT_DOUBLE_EQ(table.pens[1].widthMm, 0.20);
  EXPECT_TRUE(table.pens[7].objectColor);
  EXPECT_DOUBLE_EQ(table.pens[7].widthMm, 0.09);

  // Every colour black; begins with an extra filetype line.
  ASSERT_TRUE(ReadPlotStyleTable(CorpusTable("mod2_acad.ctb"), &table, &why)) << why;
  for (int i = 1; i < 256; ++i) ASSERT_TRUE(!table.pens[i].objectColor && table.pens[i].rgb == 0);

  EXPECT_FALSE(ReadPlotStyleTable(CorpusTable("ezdxf_stbtest.stb"), &table, &why));
  EXPECT_NE(why.find("named plot style table"), std::string::npos) << why;
}

TEST(PlotStyleTable, RefusesAFifoOrADeviceWithoutWaitingOnIt) {
  testsupport::TempDir dir;
  testsupport::CFifoWatch fifo(dir / "pens.ctb");
  ASSERT_TRUE(fifo.Made());
  for (const fs::path& path : {dir / "pens.ctb", fs::path("/dev/zero")}) {
    PlotStyleTable table;
    std::string why;
    EXPECT_FALSE(ReadPlotStyleTable(path, &table, &why)) << path;
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << path << ": " << why;
  }
  EXPECT_FALSE(fifo.Opened()) << "the FIFO was opened";
  // A file larger than any table is refused before it is parsed.
  testsupport::WriteFile(dir / "huge.ctb", TableFile(kSmallTable));
  fs::resize_file(dir / "huge.ctb", (4u << 20) + 1);
  PlotStyleTable table;
  std::string why;
  EXPECT_FALSE(ReadPlotStyleTable(dir / "huge.ctb", &table, &why));
  EXPECT_EQ(why, "not a colour-dependent plot style table");
}

TEST(PlotStyleTable, DrawingGivesPenIndexOrColourAndWidthPerIndex) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir / "two.ctb", TableFile(kSmallTable));
  drawing::CModelDrawing model;
  ASSERT_TRUE(model.LoadPlotStyleTable((dir / "two.ctb").c_str()));
  short index = 0;
  int rgb = 0;
  double width = 0;
  model.GetPlotStyleEntry(1, &index, &rgb, &width);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(rgb, 0);
  EXPECT_DOUBLE_EQ(width, 0.25);
  model.GetPlotStyleEntry(7, &index, &rgb, &width);
  EXPECT_EQ(index, 7) << "a pen that keeps the object's colour names the index itself";
  EXPECT_DOUBLE_EQ(width, 0.09);

  // A table that cannot be read: every entry is the object's colour at width 0.
  testsupport::WriteFile(dir / "bad.ctb", "PIAFILEVERSION_2.0,CTBVER1,compress\r\n");
  EXPECT_FALSE(model.LoadPlotStyleTable((dir / "bad.ctb").c_str()));
  EXPECT_FALSE(model.PlotStyleError().empty());
  model.GetPlotStyleEntry(1, &index, &rgb, &width);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(static_cast<std::uint32_t>(rgb), ColorRgb(1));
  EXPECT_EQ(width, 0.0);
}

TEST(PlotStyleTable, ReadsTheNamedStylesOfANamedTable) {
  if (CorpusTable("x").empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  NamedPlotStyleTable table;
  std::string why;
  ASSERT_TRUE(ReadNamedPlotStyleTable(CorpusTable("ezdxf_stbtest.stb"), &table, &why)) << why;
  ASSERT_EQ(table.styles.size(), 3u);
  EXPECT_EQ(table.styles[0].name, "Normal");
  EXPECT_TRUE(table.styles[0].pen.objectColor);
  EXPECT_EQ(table.styles[0].pen.widthMm, 0.0);
  // (235, 135, 20) under a grayscale policy, the object's width; magenta at 0.13 mm (index 4).
  const NamedPlotStyle* first = table.Find("style_1");
  ASSERT_NE(first, nullptr) << "names are found without regard to case";
  EXPECT_FALSE(first->pen.objectColor);
  EXPECT_EQ(first->pen.rgb, 0x989898u);
  EXPECT_EQ(first->pen.widthMm, 0.0);
  const NamedPlotStyle* mozman = table.Find("MOZMAN");
  ASSERT_NE(mozman, nullptr);
  EXPECT_EQ(mozman->pen.rgb, 0xFF00FFu) << "magenta";
  EXPECT_DOUBLE_EQ(mozman->pen.widthMm, 0.13);
  EXPECT_EQ(table.Find("Style_2"), nullptr);

  // A colour-dependent table is no named one.
  EXPECT_FALSE(ReadNamedPlotStyleTable(CorpusTable("ezdxf_ctbtest.ctb"), &table, &why));
  EXPECT_NE(why.find("colour-dependent"), std::string::npos) << why;
}

TEST(PlotStyleTable, ADrawingInNamedStyleModeDrawsWithTheStylesItsLayersAndEntitiesName) {
  if (CorpusTable("x").empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  const fs::path corpus = testsupport::SharedDir() / "corpus";
  // A corpus drawing in named plot style mode whose layer 0 names "Normal", changed so that the
  // layer names Style_1; three lines on it: one taking the layer's style, one naming mozman,
  // one naming Normal.
  std::string dxf = ReadFile(corpus / "dxf/entities/ezdxf_3dface_R2018.dxf");
  const auto insertAfter = [&dxf](const std::string& anchor, const std::string& text) {
    const std::size_t at = dxf.find(anchor);
    ASSERT_NE(at, std::string::npos) << anchor;
    dxf.insert(at + anchor.size(), text);
  };
  insertAfter("AcDbDictionary\n281\n     1\n  3\nNormal\n350\nF\n",
              "  3\nStyle_1\n350\nFFF10\n  3\nmozman\n350\nFFF11\n");
  const std::string layer =
      "AcDbLayerTableRecord\n  2\n0\n 70\n     0\n 62\n     7\n  6\n"
      "Continuous\n370\n    -3\n390\nF\n";
  const std::size_t at = dxf.find(layer);
  ASSERT_NE(at, std::string::npos);
  dxf.replace(at + layer.size() - 2, 1, "FFF10");
  const auto line = [](int y, const char* style) {
    std::string text = "  0\nLINE\n  8\n0\n 62\n     3\n";
    if (style) text += std::string("390\n") + style + "\n";
    return text + " 10\n0\n 20\n" + std::to_string(y) + "\n 11\n10\n 21\n" + std::to_string(y) +
           "\n";
  };
  insertAfter("ENTITIES\n", line(100, nullptr) + line(101, "FFF11") + line(102, "F"));
  testsupport::TempDir dir;
  testsupport::WriteFile(dir / "named.dxf", dxf);

  drawing::CModelDrawing model;
  ASSERT_EQ(model.OpenFile((dir / "named.dxf").c_str(), 0), 0) << model.LastError();
  ASSERT_EQ(model.Model().header.pstyleMode, 0);
  const auto trace = [&model] {
    CTraceExport sink;
    model.SetOutputSize(500, 500);
    model.SetExport(&sink);
    model.Draw(0, 0, 0);
    model.SetExport(nullptr);
    return sink.text;
  };
  // Without a table every line keeps its own colour, green.
  EXPECT_EQ(trace().find("SetColor 989898"), std::string::npos);
  ASSERT_TRUE(model.LoadNamedPlotStyleTable(CorpusTable("ezdxf_stbtest.stb").c_str()))
      << model.PlotStyleError();
  const std::string styled = trace();
  // Style_1's gray for the layer's lines (the faces too), mozman's magenta for one line; Normal
  // keeps the line's green.
  EXPECT_NE(styled.find("BeginEntityDraw 0 LINE\nSetColor 989898 -1\n"), std::string::npos)
      << styled;
  EXPECT_NE(styled.find("BeginEntityDraw 0 LINE\nSetColor ff00ff -1\n"), std::string::npos)
      << styled;
  EXPECT_NE(styled.find("BeginEntityDraw 0 LINE\nSetColor 00ff00 3\n"), std::string::npos)
      << styled;
}
