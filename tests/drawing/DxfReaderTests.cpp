// The DXF reader: files written by the tests (R12 and R2000 forms, ASCII and binary), damaged
// input, the regression inputs found by fuzzing, and the shared corpus of real drawings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "drawing/ReadDrawing.h"
#include "tests/support/TestSupport.h"

using namespace drawing;

namespace {

using Groups = std::vector<std::pair<int, std::string>>;

Groups operator+(Groups a, const Groups& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Ascii(const Groups& groups, const std::string& endOfLine = "\n") {
  std::string out;
  char code[16];
  for (const auto& [number, value] : groups) {
    std::snprintf(code, sizeof code, "%3d", number);
    out += code + endOfLine + value + endOfLine;
  }
  return out;
}

// The tests' own binary writer: value types by group code as the format stores them.
std::string Binary(const Groups& groups, bool shortCodes) {
  std::string out("AutoCAD Binary DXF\r\n\x1a\0", 22);
  auto put = [&out](const void* data, std::size_t size) {
    out.append(static_cast<const char*>(data), size);
  };
  for (const auto& [code, value] : groups) {
    if (shortCodes && code < 255) {
      out.push_back(static_cast<char>(code));
    } else {
      if (shortCodes) out.push_back('\xff');
      const auto c = static_cast<std::int16_t>(code);
      put(&c, 2);
    }
    if ((code >= 10 && code <= 59) || (code >= 110 && code <= 149) ||
        (code >= 210 && code <= 239) || (code >= 1010 && code <= 1059)) {
      const double d = std::stod(value);
      put(&d, 8);
    } else if ((code >= 60 && code <= 79) || (code >= 170 && code <= 179) ||
               (code >= 270 && code <= 289) || (code >= 370 && code <= 389) ||
               (code >= 1060 && code <= 1070)) {
      const auto i = static_cast<std::int16_t>(std::stoi(value));
      put(&i, 2);
    } else if ((code >= 90 && code <= 99) || (code >= 420 && code <= 429) || code == 1071) {
      const auto i = static_cast<std::int32_t>(std::stol(value));
      put(&i, 4);
    } else if (code >= 290 && code <= 299) {
      out.push_back(static_cast<char>(std::stoi(value)));
    } else {
      out += value;
      out.push_back('\0');
    }
  }
  return out;
}

Groups Section(const std::string& name, const Groups& body) {
  return Groups{{0, "SECTION"}, {2, name}} + body + Groups{{0, "ENDSEC"}};
}

Groups HeaderSection(const std::string& version, const std::string& codePage = "ANSI_1252") {
  return Section("HEADER", {{9, "$ACADVER"}, {1, version}, {9, "$DWGCODEPAGE"}, {3, codePage}});
}

Groups Eof() {
  return {{0, "EOF"}};
}

// Reads bytes that must be a good drawing.
Drawing Read(const std::string& bytes) {
  Drawing drawing;
  std::string error;
  const bool read = ReadDrawing(bytes, drawing, &error);
  EXPECT_TRUE(read) << "the drawing was refused: " << error;
  EXPECT_EQ(error, "") << "a good drawing was reported damaged";
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  return drawing;
}

// A drawing with the given entities in model space, in R12 form.
Drawing ReadR12Entities(const Groups& entities, const std::string& codePage = "ANSI_1252") {
  return Read(Ascii(HeaderSection("AC1009", codePage) + Section("ENTITIES", entities) + Eof()));
}

const std::vector<Entity>& ModelSpace(const Drawing& drawing) {
  return drawing.blocks[0].entities;
}

template <typename T>
const T& Only(const Drawing& drawing) {
  EXPECT_EQ(ModelSpace(drawing).size(), 1u);
  static const T kEmpty{};
  if (ModelSpace(drawing).empty()) return kEmpty;
  const T* data = std::get_if<T>(&ModelSpace(drawing).front().data);
  EXPECT_NE(data, nullptr) << "the entity holds other data than expected";
  return data ? *data : kEmpty;
}

std::int32_t LayerNamed(const Drawing& drawing, const std::string& name) {
  for (std::size_t i = 0; i < drawing.layers.size(); ++i) {
    if (drawing.layers[i].name == name) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::int32_t BlockNamed(const Drawing& drawing, const std::string& name) {
  for (std::size_t i = 0; i < drawing.blocks.size(); ++i) {
    if (drawing.blocks[i].name == name) return static_cast<std::int32_t>(i);
  }
  return -1;
}

// The drawings below are group lists with several groups to a line, which clang-format would
// spread over one line each.
// clang-format off

// ---- An R2000 drawing with every kind of entity, read once ----------------------------------

Groups Entity2000(const std::string& type, const std::string& handle, const std::string& subclass,
                  const Groups& own, const Groups& common = {}) {
  Groups groups{{0, type}, {5, handle}, {330, "1F"}, {100, "AcDbEntity"}};
  if (common.empty()) groups.push_back({8, "0"});
  groups = groups + common + Groups{{100, subclass}};
  return groups + own;
}

Groups Tables2000() {
  Groups ltypes{{0, "TABLE"}, {2, "LTYPE"}, {70, "4"}};
  for (const char* name : {"ByBlock", "ByLayer", "Continuous"}) {
    ltypes = ltypes + Groups{{0, "LTYPE"}, {2, name}, {70, "0"},  {3, ""},
                             {72, "65"},   {73, "0"}, {40, "0.0"}};
  }
  ltypes = ltypes + Groups{{0, "LTYPE"},
                           {5, "30"}, {100, "AcDbSymbolTableRecord"},
                           {100, "AcDbLinetypeTableRecord"}, {2, "DASHED"}, {70, "0"},
                           {3, "Dashed __ __"}, {72, "65"}, {73, "2"}, {40, "0.75"}, {49, "0.5"},
                           {74, "0"}, {49, "-0.25"}, {74, "0"}};
  // Complex linetypes: a text in the style of handle 11 and a shape of the shape file of
  // handle 27F, both defined after the linetypes.
  ltypes = ltypes + Groups{{0, "LTYPE"},  {2, "GAS_LINE"}, {70, "0"},     {3, "Gas ---- GAS ----"},
                           {72, "65"},    {73, "3"},       {40, "0.95"},  {49, "0.5"},
                           {74, "0"},     {49, "-0.2"},    {74, "2"},     {75, "0"},
                           {340, "11"},   {46, "0.1"},     {50, "0.0"},   {44, "-0.1"},
                           {45, "-0.05"}, {9, "GAS"},      {49, "-0.25"}, {74, "0"}};
  ltypes = ltypes + Groups{{0, "LTYPE"},  {2, "ZIGZAG"},   {70, "0"},     {3, "Zig zag /\\/\\"},
                           {72, "65"},    {73, "2"},       {40, "0.6"},   {49, "0.0001"},
                           {74, "0"},     {49, "-0.6"},    {74, "13"},    {75, "131"},
                           {340, "27F"},  {46, "0.2"},     {50, "180.0"}, {44, "0.2"},
                           {45, "0"},     {0, "ENDTAB"}};
  Groups layers{{0, "TABLE"},
                {2, "LAYER"}, {70, "3"}, {0, "LAYER"}, {5, "10"}, {100, "AcDbSymbolTableRecord"},
                {100, "AcDbLayerTableRecord"}, {2, "0"}, {70, "0"}, {62, "7"}, {6, "CONTINUOUS"},
                {0, "LAYER"}, {5, "11"}, {100, "AcDbSymbolTableRecord"},
                {100, "AcDbLayerTableRecord"}, {2, "Walls"}, {70, "5"}, {62, "-3"},
                {420, "1056816"}, {6, "dashed"}, {290, "0"}, {370, "35"}, {0, "LAYER"}, {5, "12"},
                {2, "Hidden"}, {70, "0"}, {62, "5"}, {6, "NOSUCH"}, {0, "LAYER"}, {5, "13"},
                {2, "Defpoints"}, {70, "0"}, {62, "7"}, {0, "ENDTAB"}};
  Groups styles{{0, "TABLE"},
                {2, "STYLE"}, {70, "3"}, {0, "STYLE"}, {5, "11"}, {2, "Standard"}, {70, "0"}, {40, "0.0"},
                {41, "1.0"}, {50, "0.0"}, {71, "0"}, {3, "txt"}, {4, ""}, {0, "STYLE"},
                {2, "Annotative"}, {70, "0"}, {40, "2.5"}, {41, "0.8"}, {50, "15.0"}, {71, "2"},
                {3, "arialn.ttf"}, {4, "bigfont.shx"}, {1001, "ACAD"}, {1000, "Arial Narrow"},
                {1071, "0"}, {0, "STYLE"}, {5, "27F"}, {2, ""}, {70, "1"}, {3, "ltypeshp.shx"},
                {0, "ENDTAB"}};
  Groups vports{{0, "TABLE"}, {2, "VPORT"}, {70, "2"}, {0, "VPORT"}, {2, "*Active"}, {70, "0"},
                {10, "0"},    {20, "0"},    {11, "1"}, {21, "1"},    {12, "100"},    {22, "50"},
                {16, "0"},    {26, "0"},    {36, "1"}, {17, "1"},    {27, "2"},      {37, "3"},
                {40, "80"},   {41, "1.5"},  {51, "5"}, {0, "VPORT"}, {2, "*ACTIVE"}, {70, "0"},
                {12, "999"},  {22, "999"},  {40, "1"}, {0, "ENDTAB"}};
  Groups dimstyles{{0, "TABLE"}, {2, "DIMSTYLE"}, {70, "1"},   {0, "DIMSTYLE"}, {105, "40"},
                   {2, "Big"},   {70, "0"},       {40, "2.0"}, {41, "0.25"},    {0, "ENDTAB"}};
  return Section("TABLES", vports + ltypes + layers + styles + dimstyles);
}

Groups Blocks2000() {
  Groups body;
  body = body + Groups{{0, "BLOCK"},
                       {5, "20"}, {330, "1F"}, {100, "AcDbEntity"}, {8, "0"},
                       {100, "AcDbBlockBegin"}, {2, "*Model_Space"}, {70, "0"}, {10, "0"},
                       {20, "0"}, {30, "0"}, {3, "*Model_Space"}, {1, ""}, {0, "ENDBLK"}, {5, "21"},
                       {100, "AcDbEntity"}, {8, "0"}, {100, "AcDbBlockEnd"}};
  body = body + Groups{{0, "BLOCK"}, {8, "0"},  {2, "Door"}, {70, "2"},
                       {10, "1"},    {20, "2"}, {30, "0"},   {3, "Door"}};
  body = body + Entity2000("LINE", "22", "AcDbLine",
                           {{10, "0"}, {20, "0"}, {30, "0"}, {11, "1"}, {21, "0"}, {31, "0"}});
  body = body + Groups{{0, "ATTDEF"}, {8, "0"},       {10, "0"},  {20, "0"}, {40, "1"},
                       {1, "x"},      {3, "Number?"}, {2, "TAG"}, {70, "0"}};
  body = body + Groups{{0, "ENDBLK"}, {8, "0"}};
  body = body + Groups{{0, "BLOCK"}, {8, "0"},    {2, "*D1"},   {70, "1"}, {10, "0"},
                       {20, "0"},    {0, "LINE"}, {8, "0"},     {10, "0"}, {20, "0"},
                       {11, "5"},    {21, "0"},   {0, "ENDBLK"}};
  // A table block drawn relative to the table's insertion point (top left corner at 0,0).
  body = body + Groups{{0, "BLOCK"}, {8, "0"},    {2, "*T1"},  {70, "1"},    {10, "0"},
                       {20, "0"},    {0, "LINE"}, {8, "0"},    {10, "0"},    {20, "0"},
                       {11, "20"},   {21, "0"},   {0, "LINE"}, {8, "0"},     {10, "0"},
                       {20, "-10"},  {11, "20"},  {21, "-10"}, {0, "ENDBLK"}};
  // A table block already in world coordinates, around its insertion point (300, 200).
  body = body + Groups{{0, "BLOCK"}, {8, "0"},    {2, "*T2"},  {70, "1"},    {10, "0"},
                       {20, "0"},    {0, "LINE"}, {8, "0"},    {10, "300"},  {20, "200"},
                       {11, "320"},  {21, "200"}, {0, "LINE"}, {8, "0"},     {10, "300"},
                       {20, "190"},  {11, "320"}, {21, "190"}, {0, "ENDBLK"}};
  return Section("BLOCKS", body);
}

Groups Entities2000() {
  Groups e;
  e = e + Entity2000("LINE", "100", "AcDbLine",
                     {{10, "1"}, {20, "2"}, {30, "0"}, {11, "3"}, {21, "4"}, {31, "0.5"}},
                     {{8, "Walls"},
                      {6, "Dashed"}, {62, "3"}, {420, "1056816"}, {370, "50"}, {48, "2.0"},
                      {60, "1"}});
  e = e + Entity2000("POINT", "101", "AcDbPoint", {{10, "5"}, {20, "6"}, {30, "7"}});
  e = e + Entity2000("CIRCLE", "102", "AcDbCircle",
                     {{39, "0.5"},
                      {10, "1"}, {20, "1"}, {30, "0"}, {40, "2.5"}, {210, "0"}, {220, "0"},
                      {230, "-1"}});
  e = e +
      Entity2000(
          "ARC", "103", "AcDbCircle",
          {{10, "1"}, {20, "1"}, {30, "0"}, {40, "3"}, {100, "AcDbArc"}, {50, "10"}, {51, "200"}});
  e = e + Entity2000("ELLIPSE", "104", "AcDbEllipse",
                     {{10, "0"},
                      {20, "0"}, {30, "0"}, {11, "4"}, {21, "0"}, {31, "0"}, {40, "0.5"}, {41, "0"},
                      {42, "3.0"}});
  e = e + Entity2000("LWPOLYLINE", "105", "AcDbPolyline",
                     {{90, "3"},
                      {70, "1"}, {43, "0.2"}, {38, "5"}, {10, "0"}, {20, "0"}, {42, "1"}, {10, "1"},
                      {20, "0"}, {40, "0.1"}, {41, "0.3"}, {10, "1"}, {20, "1"}});
  e = e + Entity2000("SPLINE", "106", "AcDbSpline",
                     {{70, "12"}, {71, "3"}, {72, "8"},   {73, "4"},   {74, "0"}, {40, "0"},
                      {40, "0"},  {40, "0"}, {40, "0"},   {40, "1"},   {40, "1"}, {40, "1"},
                      {40, "1"},  {41, "1"}, {41, "0.5"}, {41, "0.5"}, {41, "1"}, {10, "0"},
                      {20, "0"},  {30, "0"}, {10, "1"},   {20, "1"},   {30, "0"}, {10, "2"},
                      {20, "1"},  {30, "0"}, {10, "3"},   {20, "0"},   {30, "0"}});
  e = e + Entity2000("SOLID", "107", "AcDbTrace",
                     {{10, "0"}, {20, "0"}, {11, "1"}, {21, "0"}, {12, "0"}, {22, "1"}});
  e = e +
      Entity2000(
          "TRACE", "108", "AcDbTrace",
          {{10, "0"}, {20, "0"}, {11, "1"}, {21, "0"}, {12, "0"}, {22, "1"}, {13, "1"}, {23, "1"}});
  e = e + Entity2000("3DFACE", "109", "AcDbFace",
                     {{10, "0"},
                      {20, "0"}, {30, "1"}, {11, "1"}, {21, "0"}, {31, "1"}, {12, "1"}, {22, "1"},
                      {32, "1"}, {13, "0"}, {23, "1"}, {33, "1"}, {70, "5"}});
  e = e + Entity2000("TEXT", "10A", "AcDbText",
                     {{10, "1"},
                      {20, "2"}, {30, "0"}, {40, "2.5"}, {1, "%%c10 %%d %%P 100%%% %%uunder%%u"},
                      {50, "30"}, {41, "0.9"}, {51, "10"}, {7, "annotative"}, {71, "4"}, {72, "1"},
                      {11, "5"}, {21, "6"}, {31, "0"}, {100, "AcDbText"}, {73, "2"}});
  e = e + Entity2000("MTEXT", "10B", "AcDbMText",
                     {{10, "1"},
                      {20, "2"}, {30, "3"}, {40, "2"}, {41, "20"}, {71, "5"}, {72, "1"},
                      {3, "first \\U+00e9-"}, {3, "second \\\\U+0041-"}, {1, "last\\Pline"},
                      {7, "Annotative"}, {11, "0"}, {21, "2"}, {31, "0"}, {44, "1.5"}});
  e = e + Entity2000("MTEXT", "10C", "AcDbMText",
                     {{10, "0"},
                      {20, "0"}, {30, "0"}, {40, "2"}, {1, "turned"}, {50, "90"}, {75, "2"},
                      {50, "30"}});
  e = e + Entity2000("INSERT", "10D", "AcDbBlockReference",
                     {{66, "1"},
                      {2, "DOOR"}, {10, "10"}, {20, "20"}, {30, "0"}, {41, "2"}, {42, "3"},
                      {43, "1"}, {50, "45"}, {70, "2"}, {71, "3"}, {44, "5"}, {45, "6"}});
  e = e + Entity2000("ATTRIB", "10E", "AcDbText",
                     {{10, "10"},
                      {20, "20"}, {30, "0"}, {40, "1"}, {1, "A-%%c1"}, {100, "AcDbAttribute"},
                      {2, "TAG"}, {70, "0"}, {73, "0"}, {74, "2"}},
                     {{8, "Walls"}});
  e = e + Entity2000("ATTRIB", "10F", "AcDbText",
                     {{10, "10"},
                      {20, "20"}, {30, "0"}, {40, "1"}, {1, "hidden"}, {100, "AcDbAttribute"},
                      {2, "SECRET"}, {70, "1"}});
  e = e + Groups{{0, "SEQEND"}, {5, "110"}, {100, "AcDbEntity"}, {8, "0"}};
  e = e + Entity2000("DIMENSION", "111", "AcDbDimension",
                     {{2, "*D1"},
                      {10, "5"}, {20, "0"}, {30, "0"}, {11, "2"}, {21, "1"}, {70, "32"},
                      {100, "AcDbAlignedDimension"}, {13, "0"}, {23, "0"}, {14, "5"}, {24, "0"}});
  e = e + Entity2000("ACAD_TABLE", "112", "AcDbBlockReference",
                     {{2, "*T1"},
                      {10, "100"}, {20, "50"}, {30, "0"}, {100, "AcDbTable"}, {11, "1"}, {21, "0"},
                      {31, "0"}, {10, "7"}, {20, "7"}});
  e = e + Entity2000("ACAD_TABLE", "113", "AcDbBlockReference",
                     {{2, "*T2"}, {10, "300"}, {20, "200"}, {30, "0"}});
  e = e + Entity2000("LEADER", "114", "AcDbLeader",
                     {{3, "Big"},
                      {71, "1"}, {72, "1"}, {76, "3"}, {10, "0"}, {20, "0"}, {30, "0"}, {10, "1"},
                      {20, "1"}, {30, "0"}, {10, "2"}, {20, "1"}, {30, "0"}});
  e = e + Entity2000("XLINE", "115", "AcDbXline",
                     {{10, "1"}, {20, "1"}, {30, "0"}, {11, "0"}, {21, "1"}, {31, "0"}});
  e = e + Entity2000("RAY", "116", "AcDbRay",
                     {{10, "2"}, {20, "2"}, {30, "0"}, {11, "1"}, {21, "0"}, {31, "0"}});
  e = e + Entity2000("HATCH", "117", "AcDbHatch",
                     {{10, "0"},
                      {20, "0"}, {30, "1.5"}, {210, "0"}, {220, "0"}, {230, "1"}, {2, "ANSI31"},
                      {70, "0"}, {71, "1"}, {91, "2"},
                      // a polyline path with a bulge
                      {92, "7"}, {72, "1"}, {73, "1"}, {93, "3"}, {10, "0"}, {20, "0"}, {42, "0.5"},
                      {10, "4"}, {20, "0"}, {10, "4"}, {20, "4"}, {97, "1"}, {330, "105"},
                      // an edge path: line, arc, ellipse, spline
                      {92, "1"}, {93, "4"}, {72, "1"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "0"},
                      {72, "2"}, {10, "1"}, {20, "1"}, {40, "1"}, {50, "270"}, {51, "90"},
                      {73, "1"}, {72, "3"}, {10, "1"}, {20, "3"}, {11, "0"}, {21, "1"}, {40, "0.5"},
                      {50, "0"}, {51, "180"}, {73, "0"}, {72, "4"}, {94, "3"}, {73, "0"}, {74, "0"},
                      {95, "8"}, {96, "4"}, {40, "0"}, {40, "0"}, {40, "0"}, {40, "0"}, {40, "1"},
                      {40, "1"}, {40, "1"}, {40, "1"}, {10, "0"}, {20, "4"}, {10, "-1"}, {20, "3"},
                      {10, "-1"}, {20, "1"}, {10, "0"}, {20, "0"}, {97, "0"}, {97, "0"},
                      // pattern data and seed points, which reuse codes of the paths
                      {75, "1"}, {76, "1"}, {52, "0"}, {41, "1"}, {77, "0"}, {78, "1"}, {53, "45"},
                      {43, "0"}, {44, "0.5"}, {45, "-0.1"}, {46, "0.1"}, {79, "2"}, {49, "0.5"},
                      {49, "-0.25"}, {98, "1"},
                      {10, "2"}, {20, "2"}, {450, "1"}, {451, "0"}, {452, "0"}, {453, "2"},
                      {470, "LINEAR"}});
  e = e + Entity2000(
              "IMAGE", "118", "AcDbRasterImage",
              {{90, "0"},    {10, "1"},   {20, "2"},    {30, "0"},    {11, "0.1"},  {21, "0"},
               {31, "0"},    {12, "0"},   {22, "0.1"},  {32, "0"},    {13, "640"},  {23, "480"},
               {340, "2A"},  {70, "6"},   {280, "1"},   {281, "50"},  {282, "50"},  {283, "0"},
               {360, "2B"},  {71, "2"},   {91, "3"},    {14, "-0.5"}, {24, "-0.5"}, {14, "639.5"},
               {24, "-0.5"}, {14, "320"}, {24, "479.5"}});
  e = e + Entity2000(
              "WIPEOUT", "119", "AcDbRasterImage",
              {{90, "0"},    {10, "0"},   {20, "0"},   {30, "0"},           {11, "2"}, {21, "0"},
               {31, "0"},    {12, "0"},   {22, "2"},   {32, "0"},           {13, "1"}, {23, "1"},
               {340, "0"},   {70, "7"},   {280, "1"},  {71, "1"},           {91, "2"}, {14, "-0.5"},
               {24, "-0.5"}, {14, "0.5"}, {24, "0.5"}, {100, "AcDbWipeout"}});
  e = e + Entity2000("3DSOLID", "11A", "AcDbModelerGeometry", {{70, "1"}});
  e = e + Entity2000("3DSOLID", "11B", "AcDbModelerGeometry", {{70, "1"}});
  e = e + Entity2000("REGION", "11C", "AcDbModelerGeometry", {{70, "1"}});
  // Paper space: a clip boundary, clipped, switched-off and inactive viewports.
  const Groups paper{{67, "1"}, {8, "0"}};
  e = e +
      Entity2000(
          "LWPOLYLINE", "120", "AcDbPolyline",
          {{90, "3"}, {70, "1"}, {10, "0"}, {20, "0"}, {10, "10"}, {20, "0"}, {10, "5"}, {20, "8"}},
          paper);
  e = e + Entity2000("VIEWPORT", "121", "AcDbViewport",
                     {{10, "5"},   {20, "5"},     {30, "0"},   {40, "10"},  {41, "8"},  {68, "2"},
                      {69, "2"},   {12, "50"},    {22, "60"},  {16, "0"},   {26, "0"},  {36, "1"},
                      {17, "1"},   {27, "2"},     {37, "0"},   {45, "100"}, {51, "15"}, {331, "11"},
                      {331, "99"}, {90, "65536"}, {340, "120"}},
                     paper);
  e = e + Entity2000("VIEWPORT", "122", "AcDbViewport",
                     {{10, "5"},
                      {20, "5"}, {30, "0"}, {40, "10"}, {41, "8"}, {68, "3"}, {69, "3"}, {12, "0"},
                      {22, "0"}, {45, "10"}, {90, "131072"}},
                     paper);
  e = e + Entity2000("VIEWPORT", "123", "AcDbViewport",
                     {{10, "5"},
                      {20, "5"}, {30, "0"}, {40, "10"}, {41, "8"}, {68, "0"}, {69, "4"}, {12, "0"},
                      {22, "0"}, {45, "10"}, {90, "0"}, {340, "105"}},
                     paper);
  return Section("ENTITIES", e);
}

Groups Objects2000() {
  return Section("OBJECTS", {{0, "DICTIONARY"},
                             {5, "C"}, {100, "AcDbDictionary"}, {3, "ACAD_IMAGE_DICT"}, {350, "2C"},
                             {0, "IMAGEDEF"}, {5, "2A"}, {102, "{ACAD_REACTORS"}, {330, "2B"},
                             {102, "}"}, {330, "2C"}, {100, "AcDbRasterImageDef"}, {90, "0"},
                             {1, "pictures/plan.png"}, {10, "640"}, {20, "480"}, {11, "1"},
                             {21, "1"}, {280, "1"}, {281, "0"}});
}

std::string AllEntities2000() {
  return Ascii(HeaderSection("AC1015") + Tables2000() + Blocks2000() + Entities2000() +
               Objects2000() + Eof());
}

const Drawing& AllEntities() {
  static const Drawing drawing = Read(AllEntities2000());
  return drawing;
}

// The entity of the model (or paper) space with that index, as its data.
template <typename T>
const T& Nth(std::size_t index, int space = 0) {
  const std::vector<Entity>& list = AllEntities().blocks[static_cast<std::size_t>(space)].entities;
  static const T kEmpty{};
  EXPECT_LT(index, list.size());
  if (index >= list.size()) return kEmpty;
  const T* data = std::get_if<T>(&list[index].data);
  EXPECT_NE(data, nullptr) << "entity " << index << " holds other data than expected";
  return data ? *data : kEmpty;
}

const Entity& NthEntity(std::size_t index, int space = 0) {
  static const Entity kEmpty{};
  const std::vector<Entity>& list = AllEntities().blocks[static_cast<std::size_t>(space)].entities;
  EXPECT_LT(index, list.size());
  return index < list.size() ? list[index] : kEmpty;
}

}  // namespace

// ---- Tokens: ASCII and binary forms ----------------------------------------------------------

TEST(DxfFormats, ReadsLfCrLfAndPaddedCodeLinesAlike) {
  const Groups file =
      HeaderSection("AC1009") +
      Section("ENTITIES",
              {{0, "LINE"}, {8, "0"}, {10, "1.5"}, {20, "-2"}, {11, "1e3"}, {21, "+4"}}) +
      Eof();
  for (const std::string& bytes : {Ascii(file), Ascii(file, "\r\n"), Ascii(file, "\r")}) {
    const Drawing drawing = Read(bytes);
    const Line& line = Only<Line>(drawing);
    EXPECT_DOUBLE_EQ(line.start.x, 1.5);
    EXPECT_DOUBLE_EQ(line.start.y, -2);
    EXPECT_DOUBLE_EQ(line.end.x, 1000);
    EXPECT_DOUBLE_EQ(line.end.y, 4);
  }
  // Codes with blanks on both sides and tabs, as some writers pad them.
  const std::string blanks =
      "  0  \nSECTION\n 2\t\nENTITIES\n0 \nLINE\n  8\n0\n 10 \n 7 \n0\nENDSEC\n0\nEOF\n";
  const Drawing padded = Read(blanks);
  const Line& line = Only<Line>(padded);
  EXPECT_DOUBLE_EQ(line.start.x, 7) << "values with blanks around them are numbers too";
}

TEST(DxfFormats, ReadsBinaryFilesOfBothCodeSizes) {
  const Groups entities{{0, "LINE"}, {8, "Edges"}, {62, "1"},      {10, "1.25"}, {20, "2"},
                        {30, "0"},   {11, "3"},    {21, "4"},      {31, "0"},    {0, "LWPOLYLINE"},
                        {8, "0"},    {90, "2"},    {70, "1"},      {10, "0"},    {20, "0"},
                        {10, "5"},   {20, "5"},    {1001, "ACAD"}, {1070, "3"}};
  const Groups r12 = HeaderSection("AC1009") + Section("ENTITIES", entities) + Eof();
  const Groups r2000 = HeaderSection("AC1015") + Section("ENTITIES", entities) + Eof();
  for (const std::string& bytes : {Binary(r12, true), Binary(r2000, false)}) {
    const Drawing drawing = Read(bytes);
    ASSERT_EQ(ModelSpace(drawing).size(), 2u);
    const Entity& entity = ModelSpace(drawing)[0];
    EXPECT_EQ(drawing.layers[static_cast<std::size_t>(entity.layer)].name, "Edges");
    EXPECT_EQ(entity.color.index, 1);
    const Line& line = std::get<Line>(entity.data);
    EXPECT_DOUBLE_EQ(line.start.x, 1.25);
    EXPECT_DOUBLE_EQ(line.end.y, 4);
    const Polyline& polyline = std::get<Polyline>(ModelSpace(drawing)[1].data);
    EXPECT_EQ(polyline.vertices.size(), 2u);
    EXPECT_TRUE(polyline.closed);
  }
}

TEST(DxfFormats, ReadsTheSameDrawingFromAsciiAndBinary) {
  const Groups file = HeaderSection("AC1015") + Tables2000() + Blocks2000() + Entities2000() +
                      Objects2000() + Eof();
  const Drawing ascii = Read(Ascii(file));
  const Drawing binary = Read(Binary(file, false));
  ASSERT_EQ(ascii.blocks.size(), binary.blocks.size());
  for (std::size_t b = 0; b < ascii.blocks.size(); ++b) {
    ASSERT_EQ(ascii.blocks[b].entities.size(), binary.blocks[b].entities.size()) << b;
    for (std::size_t i = 0; i < ascii.blocks[b].entities.size(); ++i) {
      EXPECT_EQ(ascii.blocks[b].entities[i].data.index(), binary.blocks[b].entities[i].data.index());
      EXPECT_EQ(ascii.blocks[b].entities[i].color.rgb, binary.blocks[b].entities[i].color.rgb);
    }
  }
  EXPECT_EQ(ascii.layers.size(), binary.layers.size());
  EXPECT_EQ(binary.imageDefs.size(), 1u);
  EXPECT_EQ(binary.skippedTypes, ascii.skippedTypes);
}

// ---- Text: code pages and escapes --------------------------------------------------------

TEST(DxfText, ConvertsTheDrawingsCodePageToUtf8) {
  const Drawing western = ReadR12Entities({{0, "TEXT"},
                                           {8, "Caf\xe9"}, {10, "0"}, {20, "0"}, {40, "1"},
                                           {1, "Caf\xe9 \xe0 la cr\xe8me"}},
                                          "ANSI_1252");
  EXPECT_EQ(Only<Text>(western).text, "Café à la crème");
  EXPECT_EQ(western.layers[1].name, "Café");

  const Drawing cyrillic = ReadR12Entities(
      {{0, "TEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "1"}, {1, "\xcf\xf0\xe8\xe2\xe5\xf2"}},
      "ansi_1251");
  EXPECT_EQ(Only<Text>(cyrillic).text, "Привет");

  const Drawing chinese = ReadR12Entities(
      {{0, "TEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "1"}, {1, "\xd6\xd0\xce\xc4"}},
      "ANSI_936");
  EXPECT_EQ(Only<Text>(chinese).text, "中文");
}

TEST(DxfText, TakesStringsOfR2007AndLaterAsUtf8) {
  const Drawing drawing = Read(
      Ascii(HeaderSection("AC1021", "ANSI_1251") +
            Section("ENTITIES",
                    {{0, "TEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "1"}, {1, "Größe \xff"}}) +
            Eof()));
  EXPECT_EQ(Only<Text>(drawing).text, "Größe \xEF\xBF\xBD") << "an invalid byte becomes U+FFFD";
}

TEST(DxfText, TakesUtf8WrittenIntoAnOlderVersionAsUtf8) {
  const Drawing drawing =
      ReadR12Entities({{0, "TEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "1"}, {1, "Straße"}});
  EXPECT_EQ(Only<Text>(drawing).text, "Straße");
}

TEST(DxfText, DecodesUnicodeAndMultibyteEscapes) {
  const Drawing drawing =
      ReadR12Entities({{0, "TEXT"},
                       {8, "0"}, {10, "0"}, {20, "0"}, {40, "1"},
                       {1, "\\U+00D8 20 \\U+2205 \\U+D83D\\U+DE00 \\U+zz \\M+5D6D0"}});
  EXPECT_EQ(Only<Text>(drawing).text, "Ø 20 ∅ 😀 \\U+zz 中");
}

TEST(DxfText, PercentLineTogglesMarkTheirStretches) {
  std::vector<TextLineSpan> spans;
  EXPECT_EQ(ReplacePercentCodes("%%uab%%U %%ocd%%k%%Kef%%k", &spans), "ab cdef");
  // %%nnn: the character of code page 1252, the drawing fonts' own; controls are dropped.
  EXPECT_EQ(ReplacePercentCodes("%%128 %%150%%153 %%176%%065%%009x"), "€ –™ °Ax");
  // An empty stretch is no line; one still on at the end runs to it.
  EXPECT_EQ(spans, (std::vector<TextLineSpan>{{'u', 0, 2}, {'o', 3, 7}}));
}

TEST(DxfText, ReplacesPercentCodesOfTextButLeavesMTextCodes) {
  const Entity& text = NthEntity(10);
  EXPECT_EQ(std::get<Text>(text.data).text, "Ø10 ° ± 100% under");
  // "under" is underlined: the bytes after "Ø10 ° ± 100% " (Ø and ° and ± take two each).
  EXPECT_EQ(std::get<Text>(text.data).lines, (std::vector<TextLineSpan>{{'u', 16, 21}}));
  const MText& mtext = Nth<MText>(11);
  EXPECT_EQ(mtext.text, "first é-second \\\\U+0041-last\\Pline")
      << "chunks in order 3…3,1; an escaped backslash does not start an escape";
  const Insert& insert = Nth<Insert>(13);
  ASSERT_EQ(insert.attributes.size(), 1u);
  EXPECT_EQ(std::get<Attribute>(insert.attributes[0].data).text, "A-Ø1");
}

// ---- Tables ----------------------------------------------------------------------------

TEST(DxfTables, ReadsLayersWithTheirProperties) {
  const Drawing& drawing = AllEntities();
  ASSERT_EQ(drawing.layers[0].name, "0");
  const std::int32_t walls = LayerNamed(drawing, "Walls");
  ASSERT_GE(walls, 0);
  const Layer& layer = drawing.layers[static_cast<std::size_t>(walls)];
  EXPECT_EQ(layer.color.index, 3) << "a negative colour is the colour of a layer that is off";
  EXPECT_TRUE(layer.off);
  EXPECT_TRUE(layer.color.hasTrueColor);
  EXPECT_EQ(layer.color.rgb, 0x302010u) << "true colour 0x102030 with red in the low byte";
  EXPECT_TRUE(layer.frozen);
  EXPECT_TRUE(layer.locked);
  EXPECT_FALSE(layer.plottable);
  EXPECT_EQ(layer.lineweight, 35);
  ASSERT_GE(layer.linetype, 0) << "the linetype name is matched without regard to case";
  EXPECT_EQ(drawing.linetypes[static_cast<std::size_t>(layer.linetype)].name, "DASHED");

  const Layer& hidden = drawing.layers[static_cast<std::size_t>(LayerNamed(drawing, "Hidden"))];
  EXPECT_EQ(hidden.linetype, kLinetypeContinuous) << "an unknown linetype draws continuous";
  EXPECT_EQ(drawing.layers[0].linetype, kLinetypeContinuous);
  EXPECT_FALSE(
      drawing.layers[static_cast<std::size_t>(LayerNamed(drawing, "Defpoints"))].plottable);
}

TEST(DxfTables, CreatesLayersThatOnlyEntitiesName) {
  const Drawing drawing = ReadR12Entities({{0, "LINE"},
                                           {8, "NEW"}, {10, "0"}, {20, "0"}, {0, "LINE"},
                                           {8, "new"}, {10, "0"}, {20, "0"}, {0, "LINE"}, {10, "0"},
                                           {20, "0"}});
  ASSERT_EQ(drawing.layers.size(), 2u);
  EXPECT_EQ(drawing.layers[1].name, "NEW");
  EXPECT_EQ(drawing.layers[1].color.index, 7);
  EXPECT_EQ(ModelSpace(drawing)[0].layer, 1);
  EXPECT_EQ(ModelSpace(drawing)[1].layer, 1) << "layer names are matched without regard to case";
  EXPECT_EQ(ModelSpace(drawing)[2].layer, 0) << "no layer group: layer 0";
}

TEST(DxfTables, ReadsLinetypeDashesWithTheirTextsAndShapes) {
  const Drawing& drawing = AllEntities();
  std::map<std::string, const Linetype*> byName;
  for (const Linetype& linetype : drawing.linetypes) byName[linetype.name] = &linetype;
  for (const char* name : {"ByBlock", "ByLayer", "Continuous"}) {
    EXPECT_EQ(byName.count(name), 1u) << name << " is missing or doubled";
  }
  ASSERT_TRUE(byName.count("DASHED"));
  EXPECT_EQ(byName["DASHED"]->description, "Dashed __ __");
  EXPECT_DOUBLE_EQ(byName["DASHED"]->patternLength, 0.75);
  EXPECT_EQ(byName["DASHED"]->dashes, (std::vector<double>{0.5, -0.25}));
  ASSERT_TRUE(byName.count("GAS_LINE"));
  EXPECT_EQ(byName["GAS_LINE"]->dashes, (std::vector<double>{0.5, -0.2, -0.25}));
  ASSERT_EQ(byName["GAS_LINE"]->shapes.size(), 1u);
  const LinetypeShape& text = byName["GAS_LINE"]->shapes[0];
  EXPECT_TRUE(text.isText);
  EXPECT_EQ(text.dash, 1u) << "the text stands at the end of the gap it follows";
  EXPECT_EQ(text.text, "GAS");
  EXPECT_EQ(text.style, 0) << "handle 11 is the style Standard";
  EXPECT_DOUBLE_EQ(text.scale, 0.1);
  EXPECT_DOUBLE_EQ(text.offset.x, -0.1);
  EXPECT_DOUBLE_EQ(text.offset.y, -0.05);
  EXPECT_FALSE(text.absoluteRotation);
  ASSERT_TRUE(byName.count("ZIGZAG"));
  ASSERT_EQ(byName["ZIGZAG"]->shapes.size(), 1u);
  const LinetypeShape& shape = byName["ZIGZAG"]->shapes[0];
  EXPECT_FALSE(shape.isText);
  EXPECT_EQ(shape.dash, 1u);
  EXPECT_EQ(shape.shapeNumber, 131);
  EXPECT_EQ(shape.shapeFile, "ltypeshp.shx") << "the file of the shape style of handle 27F";
  EXPECT_DOUBLE_EQ(shape.rotation, 180);
  EXPECT_TRUE(shape.absoluteRotation) << "flag 1";
  EXPECT_TRUE(shape.upright) << "flag 8";
  EXPECT_DOUBLE_EQ(shape.scale, 0.2);
  EXPECT_DOUBLE_EQ(shape.offset.x, 0.2);
}

TEST(DxfTables, ReadsTextStylesWithTheirTrueTypeFamily) {
  const Drawing& drawing = AllEntities();
  ASSERT_EQ(drawing.textStyles.size(), 2u) << "the shape-file entry is no text style";
  EXPECT_EQ(drawing.textStyles[0].name, "Standard");
  EXPECT_EQ(drawing.textStyles[0].fontFile, "txt");
  const TextStyle& style = drawing.textStyles[1];
  EXPECT_EQ(style.name, "Annotative");
  EXPECT_EQ(style.fontFile, "arialn.ttf");
  EXPECT_EQ(style.bigFontFile, "bigfont.shx");
  EXPECT_EQ(style.fontFamily, "Arial Narrow");
  EXPECT_DOUBLE_EQ(style.fixedHeight, 2.5);
  EXPECT_DOUBLE_EQ(style.widthFactor, 0.8);
  EXPECT_DOUBLE_EQ(style.obliqueAngle, 15);
  EXPECT_EQ(style.generationFlags, 2);
}

TEST(DxfTables, TakesTheFirstActiveViewport) {
  const ModelView& view = AllEntities().activeView;
  ASSERT_TRUE(view.valid);
  EXPECT_DOUBLE_EQ(view.center.x, 100);
  EXPECT_DOUBLE_EQ(view.center.y, 50);
  EXPECT_DOUBLE_EQ(view.height, 80);
  EXPECT_DOUBLE_EQ(view.aspectRatio, 1.5);
  EXPECT_DOUBLE_EQ(view.target.z, 3);
  EXPECT_DOUBLE_EQ(view.twist, 5);
}

TEST(DxfTables, AlwaysHasLayerZeroStandardAndBothSpaces) {
  const Drawing drawing = Read(Ascii(Section("ENTITIES", {}) + Eof()));
  ASSERT_EQ(drawing.layers.size(), 1u);
  EXPECT_EQ(drawing.layers[0].name, "0");
  ASSERT_EQ(drawing.textStyles.size(), 1u);
  EXPECT_EQ(drawing.textStyles[0].name, "Standard");
  ASSERT_EQ(drawing.blocks.size(), 2u);
  EXPECT_EQ(drawing.blocks[0].name, "*Model_Space");
  EXPECT_EQ(drawing.blocks[1].name, "*Paper_Space");
  ASSERT_EQ(drawing.layouts.size(), 1u);
  EXPECT_TRUE(drawing.layouts[0].isModel);
}

// ---- Entities ----------------------------------------------------------------------------

TEST(DxfEntities, ReadsTheCommonPropertiesOfAnEntity) {
  const Drawing& drawing = AllEntities();
  const Entity& line = NthEntity(0);
  EXPECT_EQ(drawing.layers[static_cast<std::size_t>(line.layer)].name, "Walls");
  ASSERT_GE(line.linetype, 0);
  EXPECT_EQ(drawing.linetypes[static_cast<std::size_t>(line.linetype)].name, "DASHED");
  EXPECT_EQ(line.color.index, 3);
  EXPECT_TRUE(line.color.hasTrueColor);
  EXPECT_EQ(line.color.rgb, 0x302010u);
  EXPECT_EQ(line.lineweight, 50);
  EXPECT_DOUBLE_EQ(line.linetypeScale, 2.0);
  EXPECT_TRUE(line.invisible);
  const Entity& point = NthEntity(1);
  EXPECT_EQ(point.linetype, kLinetypeByLayer);
  EXPECT_EQ(point.color.index, Color::kByLayer);
  EXPECT_EQ(point.lineweight, kLineweightByLayer);
  const Entity& circle = NthEntity(2);
  EXPECT_DOUBLE_EQ(circle.thickness, 0.5);
  EXPECT_DOUBLE_EQ(circle.extrusion.z, -1);
}

TEST(DxfEntities, ReadsLinePointCircleArcAndEllipse) {
  const Line& line = Nth<Line>(0);
  EXPECT_DOUBLE_EQ(line.start.y, 2);
  EXPECT_DOUBLE_EQ(line.end.x, 3);
  EXPECT_DOUBLE_EQ(line.end.z, 0.5);
  EXPECT_DOUBLE_EQ(Nth<Point>(1).position.z, 7);
  EXPECT_DOUBLE_EQ(Nth<Circle>(2).radius, 2.5);
  const Arc& arc = Nth<Arc>(3);
  EXPECT_DOUBLE_EQ(arc.radius, 3);
  EXPECT_DOUBLE_EQ(arc.startAngle, 10);
  EXPECT_DOUBLE_EQ(arc.endAngle, 200);
  const Ellipse& ellipse = Nth<Ellipse>(4);
  EXPECT_DOUBLE_EQ(ellipse.majorAxis.x, 4);
  EXPECT_DOUBLE_EQ(ellipse.ratio, 0.5);
  EXPECT_DOUBLE_EQ(ellipse.endParam, 3.0);
}

TEST(DxfEntities, ReadsLightweightPolylines) {
  const Polyline& polyline = Nth<Polyline>(5);
  ASSERT_EQ(polyline.vertices.size(), 3u);
  EXPECT_TRUE(polyline.closed);
  EXPECT_FALSE(polyline.is3d);
  EXPECT_DOUBLE_EQ(polyline.constantWidth, 0.2);
  EXPECT_DOUBLE_EQ(polyline.elevation, 5);
  EXPECT_DOUBLE_EQ(polyline.vertices[0].bulge, 1);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].startWidth, 0.1);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].endWidth, 0.3);
  EXPECT_DOUBLE_EQ(polyline.vertices[2].position.y, 1);
  EXPECT_DOUBLE_EQ(polyline.vertices[2].position.z, 5) << "2D vertices carry the elevation";
}

TEST(DxfEntities, ReadsOldPolylinesOfEveryKind) {
  const Drawing drawing = ReadR12Entities(
      {// 2D with default widths, a bulge and an elevation
       {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {10, "0"}, {20, "0"}, {30, "7"}, {70, "1"},
       {40, "0.5"}, {41, "0.25"}, {0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "0"}, {42, "0.5"},
       {0, "VERTEX"}, {8, "0"}, {10, "2"}, {20, "0"}, {40, "1"}, {41, "2"}, {0, "VERTEX"}, {8, "0"},
       {10, "2"}, {20, "2"}, {0, "SEQEND"}, {8, "0"},
       // 3D, spline-fitted: the frame vertices (16) are left out
       {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {70, "12"}, {0, "VERTEX"}, {8, "0"}, {10, "0"},
       {20, "0"}, {30, "0"}, {70, "48"}, {0, "VERTEX"}, {8, "0"}, {10, "1"}, {20, "1"}, {30, "1"},
       {70, "40"}, {0, "VERTEX"}, {8, "0"}, {10, "2"}, {20, "0"}, {30, "2"}, {70, "40"},
       {0, "SEQEND"}, {8, "0"},
       // polyface mesh: 4 positions, a quad face with a hidden edge and a face naming vertex 9
       {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {70, "64"}, {71, "4"}, {72, "2"}, {0, "VERTEX"},
       {8, "0"}, {10, "0"}, {20, "0"}, {30, "0"}, {70, "192"}, {0, "VERTEX"}, {8, "0"}, {10, "1"},
       {20, "0"}, {30, "0"}, {70, "192"}, {0, "VERTEX"}, {8, "0"}, {10, "1"}, {20, "1"}, {30, "0"},
       {70, "192"}, {0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "1"}, {30, "0"}, {70, "192"},
       {0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "0"}, {70, "128"}, {71, "1"}, {72, "2"}, {73, "-3"},
       {74, "4"}, {0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "0"}, {70, "128"}, {71, "1"}, {72, "9"},
       {73, "2"}, {0, "SEQEND"}, {8, "0"},
       // polygon mesh, 2 × 3, closed in N
       {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {70, "48"}, {71, "2"}, {72, "3"}, {0, "VERTEX"},
       {10, "0"}, {20, "0"}, {70, "64"}, {0, "VERTEX"}, {10, "1"}, {20, "0"}, {70, "64"},
       {0, "VERTEX"}, {10, "2"}, {20, "0"}, {70, "64"}, {0, "VERTEX"}, {10, "0"}, {20, "1"},
       {70, "64"}, {0, "VERTEX"}, {10, "1"}, {20, "1"}, {70, "64"}, {0, "VERTEX"}, {10, "2"},
       {20, "1"}, {70, "64"}, {0, "SEQEND"},
       // a POLYLINE whose SEQEND is missing ends at the next entity
       {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {0, "VERTEX"}, {10, "0"}, {20, "0"}, {0, "VERTEX"},
       {10, "9"}, {20, "9"}, {0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
       {0, "VERTEX"}, {10, "5"}, {20, "5"}});
  const auto& entities = ModelSpace(drawing);
  ASSERT_EQ(entities.size(), 6u);
  const Polyline& flat = std::get<Polyline>(entities[0].data);
  ASSERT_EQ(flat.vertices.size(), 3u);
  EXPECT_TRUE(flat.closed);
  EXPECT_DOUBLE_EQ(flat.elevation, 7);
  EXPECT_DOUBLE_EQ(flat.vertices[0].bulge, 0.5);
  EXPECT_DOUBLE_EQ(flat.vertices[0].startWidth, 0.5) << "the polyline's default width";
  EXPECT_DOUBLE_EQ(flat.vertices[0].endWidth, 0.25);
  EXPECT_DOUBLE_EQ(flat.vertices[1].startWidth, 1);
  EXPECT_DOUBLE_EQ(flat.vertices[1].endWidth, 2);
  EXPECT_DOUBLE_EQ(flat.vertices[2].position.z, 7);

  const Polyline& spatial = std::get<Polyline>(entities[1].data);
  EXPECT_TRUE(spatial.is3d);
  ASSERT_EQ(spatial.vertices.size(), 2u);
  EXPECT_DOUBLE_EQ(spatial.vertices[1].position.z, 2);

  const Polyline& polyface = std::get<Polyline>(entities[2].data);
  EXPECT_TRUE(polyface.is3d);
  EXPECT_EQ(polyface.vertices.size(), 4u);
  ASSERT_EQ(polyface.faces.size(), 1u) << "the face naming a missing vertex is dropped";
  EXPECT_EQ(polyface.faces[0], (std::vector<int>{1, 2, -3, 4}));

  const Polyline& mesh = std::get<Polyline>(entities[3].data);
  EXPECT_EQ(mesh.vertices.size(), 6u);
  EXPECT_EQ(mesh.meshM, 2);
  EXPECT_EQ(mesh.meshN, 3);
  EXPECT_FALSE(mesh.meshClosedM);
  EXPECT_TRUE(mesh.meshClosedN);

  EXPECT_EQ(std::get<Polyline>(entities[4].data).vertices.size(), 2u);
  EXPECT_TRUE(entities[5].Is<Line>()) << "a stray VERTEX is not kept";
}

TEST(DxfEntities, ReadsSplines) {
  const Spline& spline = Nth<Spline>(6);
  EXPECT_EQ(spline.degree, 3);
  EXPECT_TRUE(spline.rational);
  EXPECT_FALSE(spline.closed);
  EXPECT_EQ(spline.knots.size(), 8u);
  ASSERT_EQ(spline.controlPoints.size(), 4u);
  EXPECT_DOUBLE_EQ(spline.controlPoints[2].x, 2);
  EXPECT_EQ(spline.weights, (std::vector<double>{1, 0.5, 0.5, 1}));

  const Drawing broken = ReadR12Entities({{0, "SPLINE"},
                                          {8, "0"}, {71, "3"}, {40, "0"}, {40, "1"}, {41, "2"},
                                          {10, "0"}, {20, "0"}, {10, "1"}, {20, "1"}, {10, "2"},
                                          {20, "0"}, {10, "3"}, {20, "1"}});
  EXPECT_TRUE(Only<Spline>(broken).knots.empty()) << "too few knots: the renderer makes its own";
  EXPECT_TRUE(Only<Spline>(broken).weights.empty()) << "too few weights: all 1";
}

TEST(DxfEntities, ReadsSolidsTracesAndFaces) {
  const Face& solid = Nth<Solid>(7);
  EXPECT_TRUE(NthEntity(7).Is<Solid>());
  EXPECT_DOUBLE_EQ(solid.corners[3].y, 1) << "a triangle repeats its third corner";
  EXPECT_TRUE(NthEntity(8).Is<Trace>());
  EXPECT_DOUBLE_EQ(Nth<Trace>(8).corners[3].x, 1);
  const Face& face = Nth<Face3d>(9);
  EXPECT_TRUE(NthEntity(9).Is<Face3d>());
  EXPECT_DOUBLE_EQ(face.corners[2].z, 1);
  EXPECT_EQ(face.invisibleEdges, 5);
}

TEST(DxfEntities, ReadsText) {
  const Drawing& drawing = AllEntities();
  const Text& text = Nth<Text>(10);
  EXPECT_DOUBLE_EQ(text.height, 2.5);
  EXPECT_DOUBLE_EQ(text.rotation, 30);
  EXPECT_DOUBLE_EQ(text.widthFactor, 0.9);
  EXPECT_DOUBLE_EQ(text.obliqueAngle, 10);
  EXPECT_EQ(text.generationFlags, 4);
  EXPECT_EQ(text.horizontalJustification, 1);
  EXPECT_EQ(text.verticalJustification, 2) << "from 73 of the second AcDbText part";
  EXPECT_DOUBLE_EQ(text.alignment.x, 5);
  ASSERT_GE(text.style, 0);
  EXPECT_EQ(drawing.textStyles[static_cast<std::size_t>(text.style)].name, "Annotative");
}

TEST(DxfEntities, ToleratesSloppyWriters) {
  const Drawing drawing = Read(Ascii(HeaderSection("AC1015") +
                                     Section("ENTITIES", {{0, "TEXT"},
                                                          {5, "1"}, {100, "AcDbEntity"},
                                                          {100, "AcDbText"}, {8, "Notes"},
                                                          {62, "2"}, {10, "4"}, {20, "5"},
                                                          {40, "1"}, {1, "centred"}, {72, "1"},
                                                          {100, "AcDbText"}, {73, "0"}}) +
                                     Eof()));
  const Entity& entity = ModelSpace(drawing).at(0);
  EXPECT_EQ(drawing.layers[static_cast<std::size_t>(entity.layer)].name, "Notes")
      << "a layer after the subclass marker still counts";
  EXPECT_EQ(entity.color.index, 2);
  const Text& text = std::get<Text>(entity.data);
  EXPECT_DOUBLE_EQ(text.alignment.x, 4) << "no alignment point: the insertion point";
  EXPECT_DOUBLE_EQ(text.alignment.y, 5);
}

TEST(DxfEntities, ReadsMTextWithItsDirection) {
  const MText& mtext = Nth<MText>(11);
  EXPECT_DOUBLE_EQ(mtext.insertion.z, 3);
  EXPECT_DOUBLE_EQ(mtext.height, 2);
  EXPECT_DOUBLE_EQ(mtext.referenceWidth, 20);
  EXPECT_EQ(mtext.attachment, 5);
  EXPECT_DOUBLE_EQ(mtext.lineSpacingFactor, 1.5);
  EXPECT_NEAR(mtext.direction.x, 0, 1e-12);
  EXPECT_NEAR(mtext.direction.y, 1, 1e-12) << "the direction vector, made unit length";
  EXPECT_EQ(mtext.style, 1);
  const MText& turned = Nth<MText>(12);
  EXPECT_NEAR(turned.direction.x, 0, 1e-12);
  EXPECT_NEAR(turned.direction.y, 1, 1e-12) << "rotation 90 degrees; later 50s are columns";
  EXPECT_EQ(turned.attachment, 1);
  EXPECT_EQ(turned.style, 0);
  EXPECT_EQ(turned.columnType, 2);
  EXPECT_EQ(turned.columnHeights, std::vector<double>{30});
}

TEST(DxfEntities, ReadsMTextColumnsFromExtendedDataAndTheEmbeddedObject) {
  const Groups text{{10, "0"}, {20, "0"}, {30, "0"}, {40, "2.5"}, {41, "40"}, {71, "1"}, {1, "text"}};
  // R2007 to R2013: the column settings as pairs in the extended data.
  const Groups info{{1001, "ACAD"}, {1000, "ACAD_MTEXT_COLUMN_INFO_BEGIN"},
                    {1070, "75"}, {1070, "2"}, {1070, "79"}, {1070, "0"}, {1070, "76"},
                    {1070, "2"}, {1070, "78"}, {1070, "1"}, {1070, "48"}, {1040, "40"},
                    {1070, "49"}, {1040, "5"}, {1070, "50"}, {1070, "2"}, {1040, "30"},
                    {1040, "20"}, {1000, "ACAD_MTEXT_COLUMN_INFO_END"}};
  // R2018: the "Embedded Object", whose 40 … 46 are not the text's height or spacing.
  const Groups embedded{{101, "Embedded Object"}, {70, "1"}, {10, "1"}, {20, "0"}, {30, "0"},
                        {11, "0"}, {21, "0"}, {31, "0"}, {40, "40"}, {41, "60"}, {42, "85"},
                        {43, "60"}, {71, "1"}, {72, "2"}, {44, "40"}, {45, "5"}, {73, "0"},
                        {74, "0"}};
  const Drawing drawing = Read(Ascii(HeaderSection("AC1032") + Section("ENTITIES",
      Entity2000("MTEXT", "20", "AcDbMText", text + info) +
      Entity2000("MTEXT", "21", "AcDbMText", text + embedded)) + Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 2u);
  const MText& dynamic = std::get<MText>(ModelSpace(drawing)[0].data);
  EXPECT_EQ(dynamic.columnType, 2);
  EXPECT_FALSE(dynamic.columnAutoHeight);
  EXPECT_TRUE(dynamic.columnFlowReversed);
  EXPECT_DOUBLE_EQ(dynamic.columnWidth, 40);
  EXPECT_DOUBLE_EQ(dynamic.columnGutter, 5);
  EXPECT_EQ(dynamic.columnHeights, (std::vector<double>{30, 20}));
  const MText& fixed = std::get<MText>(ModelSpace(drawing)[1].data);
  EXPECT_DOUBLE_EQ(fixed.height, 2.5) << "the embedded object's 40 is the width, again";
  EXPECT_DOUBLE_EQ(fixed.insertion.x, 0);
  EXPECT_EQ(fixed.columnType, 1);
  EXPECT_EQ(fixed.columnCount, 2);
  EXPECT_DOUBLE_EQ(fixed.columnHeight, 60);
  EXPECT_DOUBLE_EQ(fixed.columnWidth, 40);
  EXPECT_DOUBLE_EQ(fixed.columnGutter, 5);
  EXPECT_FALSE(fixed.columnAutoHeight);
}

TEST(DxfEntities, MTextColumnsStoredAsLinkedEntitiesAreEachOneColumn) {
  // Before R2018 the text of a column set is spread over MTEXT entities already: the first holds
  // the first column's share and names the others, which hold theirs at their own places and
  // store the width of the whole set. None flows into columns again, all wrap at the column
  // width; an MTEXT with column settings and no linked ones still flows itself.
  const Groups info{{1001, "ACAD"}, {1000, "ACAD_MTEXT_COLUMN_INFO_BEGIN"},
                    {1070, "75"}, {1070, "1"}, {1070, "79"}, {1070, "0"}, {1070, "76"},
                    {1070, "3"}, {1070, "78"}, {1070, "0"}, {1070, "48"}, {1040, "20"},
                    {1070, "49"}, {1040, "1"}, {1000, "ACAD_MTEXT_COLUMN_INFO_END"}};
  Groups linked = info;
  linked.insert(linked.end(), {{1000, "ACAD_MTEXT_COLUMNS_BEGIN"}, {1070, "47"}, {1070, "3"},
                               {1005, "31"}, {1005, "32"}, {1000, "ACAD_MTEXT_COLUMNS_END"}});
  const auto text = [](const char* x, const char* content) {
    return Groups{{10, x}, {20, "0"}, {30, "0"}, {40, "2.5"}, {41, "62"}, {46, "7"}, {71, "1"},
                  {1, content}};
  };
  const Drawing drawing = Read(Ascii(HeaderSection("AC1021") + Section("ENTITIES",
      Entity2000("MTEXT", "30", "AcDbMText", text("0", "Line 1\\PLine 2\\P") + linked) +
      Entity2000("MTEXT", "31", "AcDbMText", text("21", "Line 3\\PLine 4\\P")) +
      Entity2000("MTEXT", "32", "AcDbMText", text("42", "Line 5")) +
      Entity2000("MTEXT", "33", "AcDbMText", text("0", "alone") + info)) + Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 4u);
  for (std::size_t k = 0; k < 3; ++k) {
    const MText& column = std::get<MText>(ModelSpace(drawing)[k].data);
    EXPECT_EQ(column.columnType, 0) << "entity " << k;
    EXPECT_DOUBLE_EQ(column.referenceWidth, 20) << "entity " << k;
  }
  EXPECT_DOUBLE_EQ(std::get<MText>(ModelSpace(drawing)[2].data).insertion.x, 42);
  const MText& alone = std::get<MText>(ModelSpace(drawing)[3].data);
  EXPECT_EQ(alone.columnType, 1);
  EXPECT_EQ(alone.columnCount, 3);
}

TEST(DxfEntities, ReadsInsertsWithTheirVisibleAttributes) {
  const Drawing& drawing = AllEntities();
  const Insert& insert = Nth<Insert>(13);
  ASSERT_GE(insert.block, 0);
  EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(insert.block)].name, "Door");
  EXPECT_DOUBLE_EQ(insert.insertion.x, 10);
  EXPECT_DOUBLE_EQ(insert.scale.y, 3);
  EXPECT_DOUBLE_EQ(insert.rotation, 45);
  EXPECT_EQ(insert.columns, 2);
  EXPECT_EQ(insert.rows, 3);
  EXPECT_DOUBLE_EQ(insert.columnSpacing, 5);
  EXPECT_DOUBLE_EQ(insert.rowSpacing, 6);
  ASSERT_EQ(insert.attributes.size(), 1u) << "the invisible attribute is left out";
  const Entity& attribute = insert.attributes[0];
  EXPECT_TRUE(attribute.Is<Attribute>());
  EXPECT_EQ(drawing.layers[static_cast<std::size_t>(attribute.layer)].name, "Walls");
  EXPECT_EQ(std::get<Attribute>(attribute.data).verticalJustification, 2) << "from 74, not 73";
  const Block& door = drawing.blocks[static_cast<std::size_t>(insert.block)];
  ASSERT_EQ(door.entities.size(), 1u) << "attribute definitions in blocks are not drawn";
  EXPECT_DOUBLE_EQ(door.base.y, 2);
  EXPECT_TRUE(NthEntity(14).Is<Dimension>()) << "the SEQEND ends the attributes";
}

TEST(DxfEntities, ReadsDimensionsAndTablesAsBlockGraphics) {
  const Drawing& drawing = AllEntities();
  const BlockGraphic& dimension = Nth<Dimension>(14);
  ASSERT_GE(dimension.block, 0);
  EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(dimension.block)].name, "*D1");
  EXPECT_TRUE(drawing.blocks[static_cast<std::size_t>(dimension.block)].isAnonymous);
  EXPECT_DOUBLE_EQ(dimension.insertion.x, 0);

  EXPECT_TRUE(NthEntity(15).Is<Table>());
  const BlockGraphic& relative = Nth<Table>(15);
  EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(relative.block)].name, "*T1");
  EXPECT_DOUBLE_EQ(relative.insertion.x, 100) << "a block at the origin is moved to the table";
  EXPECT_DOUBLE_EQ(relative.insertion.y, 50) << "later points of the table data do not count";
  const BlockGraphic& placed = Nth<Table>(16);
  EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(placed.block)].name, "*T2");
  EXPECT_DOUBLE_EQ(placed.insertion.x, 0) << "a block already in world coordinates stays put";
  EXPECT_DOUBLE_EQ(placed.insertion.y, 0);

  // An R12 dimension that was moved keeps its block and says where it is drawn (group 12).
  const Drawing moved = ReadR12Entities({{0, "DIMENSION"}, {8, "0"}, {2, "*D0"}, {10, "13.6"},
                                         {20, "4.1"}, {11, "12.6"}, {21, "4.2"}, {12, "-6.7"},
                                         {22, "1.8"}, {70, "0"}, {13, "12.6"}, {23, "4.1"}});
  const Dimension& offset = Only<Dimension>(moved);
  EXPECT_DOUBLE_EQ(offset.insertion.x, -6.7);
  EXPECT_DOUBLE_EQ(offset.insertion.y, 1.8);
}

TEST(DxfEntities, ReadsLeadersWithTheArrowSizeOfTheirStyle) {
  const Leader& leader = Nth<Leader>(17);
  ASSERT_EQ(leader.vertices.size(), 3u);
  EXPECT_DOUBLE_EQ(leader.vertices[2].x, 2);
  EXPECT_TRUE(leader.arrowhead);
  EXPECT_TRUE(leader.spline);
  EXPECT_DOUBLE_EQ(leader.arrowSize, 0.5) << "DIMASZ 0.25 × DIMSCALE 2 of style Big";

  const Drawing overridden = ReadR12Entities({{0, "LEADER"},
                                              {8, "0"}, {71, "0"}, {10, "0"}, {20, "0"}, {10, "1"},
                                              {20, "0"}, {1001, "ACAD"}, {1000, "DSTYLE"},
                                              {1002, "{"}, {1070, "41"}, {1040, "0.3"},
                                              {1002, "}"}});
  EXPECT_DOUBLE_EQ(Only<Leader>(overridden).arrowSize, 0.3);
  EXPECT_FALSE(Only<Leader>(overridden).arrowhead);
}

TEST(DxfEntities, ReadsConstructionLines) {
  EXPECT_TRUE(NthEntity(18).Is<XLine>());
  EXPECT_DOUBLE_EQ(Nth<XLine>(18).direction.y, 1);
  EXPECT_TRUE(NthEntity(19).Is<Ray>());
  EXPECT_DOUBLE_EQ(Nth<Ray>(19).base.x, 2);
  }

TEST(DxfEntities, ReadsHatchBoundariesOfEveryEdgeKind) {
  const Hatch& hatch = Nth<Hatch>(20);
  EXPECT_EQ(hatch.pattern, "ANSI31");
  EXPECT_FALSE(hatch.solid);
  EXPECT_TRUE(hatch.gradient);
  EXPECT_DOUBLE_EQ(hatch.elevation, 1.5);
  ASSERT_EQ(hatch.paths.size(), 2u);
  const HatchPath& polyline = hatch.paths[0];
  EXPECT_TRUE(polyline.isPolyline);
  EXPECT_EQ(polyline.flags, 7);
  ASSERT_EQ(polyline.vertices.size(), 3u);
  EXPECT_DOUBLE_EQ(polyline.vertices[0].bulge, 0.5);
  EXPECT_DOUBLE_EQ(polyline.vertices[2].position.y, 4);
  const HatchPath& edges = hatch.paths[1];
  EXPECT_FALSE(edges.isPolyline);
  ASSERT_EQ(edges.edges.size(), 4u);
  EXPECT_EQ(edges.edges[0].kind, HatchEdge::Line);
  EXPECT_DOUBLE_EQ(edges.edges[0].end.x, 1);
  EXPECT_EQ(edges.edges[1].kind, HatchEdge::CircularArc);
  EXPECT_DOUBLE_EQ(edges.edges[1].radius, 1);
  EXPECT_DOUBLE_EQ(edges.edges[1].startAngle, 270);
  EXPECT_TRUE(edges.edges[1].counterClockwise);
  EXPECT_EQ(edges.edges[2].kind, HatchEdge::EllipticArc);
  EXPECT_DOUBLE_EQ(edges.edges[2].majorAxis.y, 1);
  EXPECT_DOUBLE_EQ(edges.edges[2].ratio, 0.5);
  EXPECT_FALSE(edges.edges[2].counterClockwise);
  EXPECT_EQ(edges.edges[3].kind, HatchEdge::SplineEdge);
  EXPECT_EQ(edges.edges[3].spline.knots.size(), 8u);
  ASSERT_EQ(edges.edges[3].spline.controlPoints.size(), 4u);
  EXPECT_DOUBLE_EQ(edges.edges[3].spline.controlPoints[1].x, -1);
  // The pattern line after the paths, not confused with the path codes it reuses.
  ASSERT_EQ(hatch.patternLines.size(), 1u);
  const HatchPatternLine& line = hatch.patternLines[0];
  EXPECT_DOUBLE_EQ(line.angle, 45);
  EXPECT_DOUBLE_EQ(line.base.y, 0.5);
  EXPECT_DOUBLE_EQ(line.offset.x, -0.1);
  EXPECT_DOUBLE_EQ(line.offset.y, 0.1);
  EXPECT_EQ(line.dashes, (std::vector<double>{0.5, -0.25}));
}

TEST(DxfEntities, ReadsImagesAndWipeouts) {
  const Drawing& drawing = AllEntities();
  const Image& image = Nth<Image>(21);
  EXPECT_TRUE(NthEntity(21).Is<Image>());
  EXPECT_DOUBLE_EQ(image.insertion.y, 2);
  EXPECT_DOUBLE_EQ(image.u.x, 0.1);
  EXPECT_DOUBLE_EQ(image.v.y, 0.1);
  EXPECT_DOUBLE_EQ(image.pixelSize.x, 640);
  EXPECT_FALSE(image.show) << "display flag bit 0 is clear";
  EXPECT_TRUE(image.clipping);
  ASSERT_EQ(image.clipBoundary.size(), 3u);
  EXPECT_DOUBLE_EQ(image.clipBoundary[2].y, 479.5);
  ASSERT_EQ(image.imageDef, 0);
  EXPECT_EQ(drawing.imageDefs[0].fileName, "pictures/plan.png");
  EXPECT_DOUBLE_EQ(drawing.imageDefs[0].pixelSize.y, 480);

  const Image& wipeout = Nth<Wipeout>(22);
  EXPECT_TRUE(NthEntity(22).Is<Wipeout>());
    EXPECT_EQ(wipeout.imageDef, -1);
  EXPECT_TRUE(wipeout.show);
  EXPECT_EQ(wipeout.clipBoundary.size(), 2u);
}

TEST(DxfEntities, ReadsImageAdjustmentsTransparencyAndInvertedClips) {
  const Drawing drawing = Read(Ascii(
      HeaderSection("AC1024") +
      Section("ENTITIES",
              Entity2000("IMAGE", "30", "AcDbRasterImage",
                         {{10, "0"},   {20, "0"},   {11, "1"},   {21, "0"},   {12, "0"},
                          {22, "1"},   {13, "4"},   {23, "3"},   {70, "15"},  {280, "1"},
                          {281, "80"}, {282, "30"}, {283, "25"}, {71, "2"},   {91, "4"},
                          {14, "0"},   {24, "0"},   {14, "3"},   {24, "0"},   {14, "3"},
                          {24, "2"},   {14, "0"},   {24, "0"},   {290, "1"}}) +
              Entity2000("IMAGE", "31", "AcDbRasterImage",
                         {{13, "1"}, {23, "1"}, {70, "1"}, {281, "250"}, {290, "0"}})) +
      Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 2u);
  const Image& image = std::get<Image>(ModelSpace(drawing)[0].data);
  EXPECT_TRUE(image.transparent) << "display flag 8";
  EXPECT_EQ(image.brightness, 80);
  EXPECT_EQ(image.contrast, 30);
  EXPECT_EQ(image.fade, 25);
  EXPECT_TRUE(image.clipInverted) << "clip mode 1 shows the picture outside the boundary";
  EXPECT_EQ(image.clipBoundary.size(), 4u);
  const Image& plain = std::get<Image>(ModelSpace(drawing)[1].data);
  EXPECT_FALSE(plain.transparent);
  EXPECT_FALSE(plain.clipInverted);
  EXPECT_EQ(plain.brightness, 100) << "out of range: the nearest allowed value";
  EXPECT_EQ(plain.contrast, 50) << "left out: the default";
  EXPECT_EQ(plain.fade, 0);
}

TEST(DxfEntities, ReadsTheSpatialFilterThatClipsABlockReference) {
  // The reference at (10, 20), twice the size, was clipped to the world rectangle (11, 21) to
  // (13, 23); the filter keeps the inverse of its transformation, which gives the boundary in
  // the block's own coordinates. The front plane's distance (40 after 72 = 1) comes before the
  // matrices.
  Groups matrices;
  for (const char* value : {"0.5", "0", "0", "-5", "0", "0.5", "0", "-10", "0", "0", "0.5", "0",
                            "1", "0", "0", "0", "0", "1", "0", "0", "0", "0", "1", "0"}) {
    matrices.push_back({40, value});
  }
  const Groups blocks{{0, "BLOCK"}, {8, "0"}, {2, "Sq"}, {70, "0"}, {10, "0"}, {20, "0"},
                      {0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "2"}, {21, "2"},
                      {0, "ENDBLK"}};
  const Groups inserts{{0, "INSERT"}, {5, "40"}, {102, "{ACAD_XDICTIONARY"}, {360, "41"},
                       {102, "}"}, {8, "0"}, {2, "Sq"}, {10, "10"}, {20, "20"}, {41, "2"},
                       {42, "2"}, {0, "INSERT"}, {5, "44"}, {102, "{ACAD_XDICTIONARY"},
                       {360, "45"}, {102, "}"}, {8, "0"}, {2, "Sq"}, {10, "0"}, {20, "0"}};
  const Groups objects =
      Groups{{0, "DICTIONARY"}, {5, "41"}, {100, "AcDbDictionary"}, {3, "ACAD_FILTER"},
             {360, "42"}, {0, "DICTIONARY"}, {5, "42"}, {100, "AcDbDictionary"}, {3, "SPATIAL"},
             {360, "43"}, {0, "SPATIAL_FILTER"}, {5, "43"}, {100, "AcDbFilter"},
             {100, "AcDbSpatialFilter"}, {70, "2"}, {10, "11"}, {20, "21"}, {10, "13"},
             {20, "23"}, {210, "0"}, {220, "0"}, {230, "1"}, {11, "0"}, {21, "0"}, {31, "0"},
             {71, "1"}, {72, "1"}, {40, "99"}, {73, "0"}} +
      matrices +
      Groups{{0, "DICTIONARY"}, {5, "45"}, {100, "AcDbDictionary"}, {3, "ACAD_REACTORS"},
             {360, "46"}};
  const Drawing drawing = Read(Ascii(HeaderSection("AC1015") + Section("BLOCKS", blocks) +
                                     Section("ENTITIES", inserts) + Section("OBJECTS", objects) +
                                     Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 2u);
  const Insert& clipped = std::get<Insert>(ModelSpace(drawing)[0].data);
  ASSERT_EQ(clipped.clipBoundary.size(), 2u);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[0].x, 0.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[0].y, 0.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[1].x, 1.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[1].y, 1.5);
  EXPECT_TRUE(std::get<Insert>(ModelSpace(drawing)[1].data).clipBoundary.empty())
      << "an extension dictionary without a filter clips nothing";
}

TEST(DxfEntities, ReadsAnInvertedClipWithTheBoundaryWhoseInsideItHides) {
  // As above, the reference at (10, 20) twice the size; the filter's own boundary runs round an
  // outer box as well, and the record in its extension dictionary keeps the boundary the clip
  // was drawn with, the world square (11, 21) to (13, 23).
  Groups matrices;
  for (const char* value : {"0.5", "0", "0", "-5", "0", "0.5", "0", "-10", "0", "0", "0.5", "0",
                            "1", "0", "0", "0", "0", "1", "0", "0", "0", "0", "1", "0"}) {
    matrices.push_back({40, value});
  }
  const Groups header{{9, "$ACADVER"}, {1, "AC1032"}, {9, "$XCLIPFRAME"}, {280, "1"}};
  const Groups blocks{{0, "BLOCK"}, {8, "0"}, {2, "Sq"}, {70, "0"}, {10, "0"}, {20, "0"},
                      {0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "2"}, {21, "2"},
                      {0, "ENDBLK"}};
  const Groups inserts{{0, "INSERT"}, {5, "40"}, {102, "{ACAD_XDICTIONARY"}, {360, "41"},
                       {102, "}"}, {8, "0"}, {2, "Sq"}, {10, "10"}, {20, "20"}, {41, "2"},
                       {42, "2"}};
  Groups outline;
  for (const auto& [x, y] : std::vector<std::pair<const char*, const char*>>{
           {"11", "21"}, {"13", "21"}, {"13", "23"}, {"11", "23"}}) {
    outline.insert(outline.end(), {{10, x}, {20, y}, {30, "0"}});
  }
  const Groups objects =
      Groups{{0, "DICTIONARY"}, {5, "41"}, {100, "AcDbDictionary"}, {3, "ACAD_FILTER"},
             {360, "42"}, {0, "DICTIONARY"}, {5, "42"}, {100, "AcDbDictionary"}, {3, "SPATIAL"},
             {360, "43"}, {0, "SPATIAL_FILTER"}, {5, "43"}, {102, "{ACAD_XDICTIONARY"},
             {360, "47"}, {102, "}"}, {100, "AcDbFilter"}, {100, "AcDbSpatialFilter"}, {70, "5"},
             {10, "11"}, {20, "21"}, {10, "0"}, {20, "21"}, {10, "0"}, {20, "40"}, {10, "30"},
             {20, "40"}, {10, "30"}, {20, "21"}, {210, "0"}, {220, "0"}, {230, "1"}, {11, "0"},
             {21, "0"}, {31, "0"}, {71, "1"}, {72, "0"}, {73, "0"}} +
      matrices +
      Groups{{0, "DICTIONARY"}, {5, "47"}, {100, "AcDbDictionary"}, {3, "ACAD_XREC_ROUNDTRIP"},
             {350, "48"}, {0, "XRECORD"}, {5, "48"}, {100, "AcDbXrecord"}, {280, "1"},
             {102, "ACAD_INVERTEDCLIP_ROUNDTRIP"}} +
      outline + Groups{{102, "ACAD_INVERTEDCLIP_ROUNDTRIP_COMPARE"}, {10, "0"}, {20, "0"}};
  const Drawing drawing = Read(Ascii(Section("HEADER", header) + Section("BLOCKS", blocks) +
                                     Section("ENTITIES", inserts) + Section("OBJECTS", objects) +
                                     Eof()));
  EXPECT_EQ(drawing.header.xclipFrame, 1);
  ASSERT_EQ(ModelSpace(drawing).size(), 1u);
  const Insert& clipped = std::get<Insert>(ModelSpace(drawing)[0].data);
  EXPECT_TRUE(clipped.clipInverted);
  ASSERT_EQ(clipped.clipBoundary.size(), 4u) << "the boundary of the hole, not the outer path";
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[0].x, 0.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[0].y, 0.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[2].x, 1.5);
  EXPECT_DOUBLE_EQ(clipped.clipBoundary[2].y, 1.5);
}

TEST(DxfTables, DimensionStylesLeaveOutGroupsAtTheFormatsDefaults) {
  // The header holds the current style's values; a style that leaves the arrow size out has
  // the format's default, 0.18, not the header's 5.
  const Groups header{{9, "$ACADVER"}, {1, "AC1015"}, {9, "$DIMASZ"}, {40, "5"}};
  const Groups styles{{0, "TABLE"}, {2, "DIMSTYLE"}, {70, "1"}, {0, "DIMSTYLE"}, {105, "40"},
                      {2, "Plain"}, {70, "0"}, {40, "2"}, {0, "ENDTAB"}};
  const Groups leaders{{0, "LEADER"}, {8, "0"}, {3, "Plain"}, {10, "0"}, {20, "0"}, {10, "1"},
                       {20, "0"}, {0, "LEADER"}, {8, "0"}, {3, "Nosuch"}, {10, "0"},
                       {20, "0"}, {10, "1"}, {20, "0"}};
  const Drawing drawing = Read(Ascii(Section("HEADER", header) + Section("TABLES", styles) +
                                     Section("ENTITIES", leaders) + Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 2u);
  EXPECT_DOUBLE_EQ(std::get<Leader>(ModelSpace(drawing)[0].data).arrowSize, 0.36)
      << "0.18 × DIMSCALE 2";
  EXPECT_DOUBLE_EQ(std::get<Leader>(ModelSpace(drawing)[1].data).arrowSize, 5)
      << "an unknown style: the header's values";
}

TEST(DxfEntities, ReadsPaperSpaceViewports) {
  const Drawing& drawing = AllEntities();
  ASSERT_EQ(drawing.blocks[1].entities.size(), 4u) << "group 67 puts entities in paper space";
  const Viewport& clipped = Nth<Viewport>(1, 1);
  EXPECT_DOUBLE_EQ(clipped.center.x, 5);
  EXPECT_DOUBLE_EQ(clipped.width, 10);
  EXPECT_DOUBLE_EQ(clipped.height, 8);
  EXPECT_EQ(clipped.id, 2);
  EXPECT_TRUE(clipped.on);
  EXPECT_DOUBLE_EQ(clipped.viewCenter.y, 60);
  EXPECT_DOUBLE_EQ(clipped.viewTarget.y, 2);
  EXPECT_DOUBLE_EQ(clipped.viewHeight, 100);
  EXPECT_DOUBLE_EQ(clipped.twist, 15);
  ASSERT_EQ(clipped.frozenLayers.size(), 1u) << "an unknown layer handle is left out";
  EXPECT_EQ(drawing.layers[static_cast<std::size_t>(clipped.frozenLayers[0])].name, "Walls");
  EXPECT_EQ(clipped.clipEntityIndex, 0);
  EXPECT_FALSE(Nth<Viewport>(2, 1).on) << "status flag 0x20000 turns it off";
  const Viewport& inactive = Nth<Viewport>(3, 1);
  EXPECT_FALSE(inactive.on) << "status 0 is off";
  EXPECT_EQ(inactive.clipEntityIndex, -1) << "its clip entity is in another block";
}

TEST(DxfEntities, ReadsViewportsOfR12FromExtendedData) {
  const Drawing drawing = Read(Ascii(
      HeaderSection("AC1009") +
      Section("TABLES", {{0, "TABLE"},
                         {2, "LAYER"}, {0, "LAYER"}, {2, "Frozen"}, {70, "0"}, {62, "1"},
                         {0, "ENDTAB"}}) +
      Section("ENTITIES",
              {{0, "VIEWPORT"}, {8, "0"},     {67, "1"},    {10, "100"},      {20, "80"},
               {40, "200"},     {41, "150"},  {68, "1"},    {69, "1"},        {1001, "ACAD"},
               {1000, "MVIEW"}, {1002, "{"},  {1070, "16"}, {1010, "1"},      {1020, "2"},
               {1030, "3"},     {1010, "0"},  {1020, "0"},  {1030, "1"},      {1040, "0"},
               {1040, "150"},   {1040, "40"}, {1040, "30"}, {1040, "50"},     {1040, "0"},
               {1040, "0"},     {1070, "0"},  {1002, "{"},  {1003, "Frozen"}, {1003, "Missing"},
               {1002, "}"},     {1002, "}"}}) +
      Eof()));
  ASSERT_EQ(drawing.blocks[1].entities.size(), 1u);
  const Viewport& viewport = std::get<Viewport>(drawing.blocks[1].entities[0].data);
  EXPECT_DOUBLE_EQ(viewport.viewTarget.z, 3);
  EXPECT_DOUBLE_EQ(viewport.viewHeight, 150);
  EXPECT_DOUBLE_EQ(viewport.viewCenter.x, 40);
  EXPECT_DOUBLE_EQ(viewport.viewCenter.y, 30);
  ASSERT_EQ(viewport.frozenLayers.size(), 1u);
  EXPECT_EQ(drawing.layers[static_cast<std::size_t>(viewport.frozenLayers[0])].name, "Frozen");
}

TEST(DxfEntities, CountsTheTypesItDoesNotDraw) {
  const auto& skipped = AllEntities().skippedTypes;
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0], (std::pair<std::string, int>{"3DSOLID", 2}));
  EXPECT_EQ(skipped[1], (std::pair<std::string, int>{"REGION", 1}));
  EXPECT_EQ(ModelSpace(AllEntities()).size(), 23u);
}

// Proxy graphics as hex in 310 groups of at most 127 bytes, after their size in `sizeCode`.
Groups ProxyGraphicsGroups(const std::string& records, std::uint32_t count, int sizeCode) {
  std::string bytes;
  auto put = [&bytes](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
  };
  put(static_cast<std::uint32_t>(records.size() + 8));
  put(count);
  bytes += records;
  Groups groups{{sizeCode, std::to_string(bytes.size())}};
  for (std::size_t at = 0; at < bytes.size(); at += 127) {
    std::string hex;
    for (const char c : bytes.substr(at, 127)) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
      hex += digits;
    }
    groups.push_back({310, hex});
  }
  return groups;
}

TEST(DxfEntities, DrawsTheGraphicsOfProxyAndCustomEntities) {
  // The second layer of the table (Walls), the second linetype after ByBlock and ByLayer
  // (DASHED), then a line from (1, 2) to (3, 4).
  std::string records;
  auto put = [&records](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) records += static_cast<char>(value >> (8 * i));
  };
  auto real = [&records](double value) {
    char bytes[8];
    std::memcpy(bytes, &value, 8);
    records.append(bytes, 8);
  };
  put(12), put(16), put(1);
  put(12), put(18), put(1);
  put(60), put(6), put(2);
  for (const double v : {1.0, 2.0, 0.0, 3.0, 4.0, 0.0}) real(v);
  const Groups proxy = Groups{{0, "ACAD_PROXY_ENTITY"}, {5, "40"}, {100, "AcDbEntity"},
                              {8, "0"}, {100, "AcDbProxyEntity"}, {90, "498"}, {91, "500"}} +
                       ProxyGraphicsGroups(records, 3, 160) + Groups{{93, "0"}, {94, "0"}};
  const Groups custom = Groups{{0, "TCH_WALL"}, {5, "41"}, {100, "AcDbEntity"}, {8, "Hidden"}} +
                        ProxyGraphicsGroups(records, 3, 92) +
                        Groups{{100, "TDbWall"}, {92, "7"}, {310, "00"}};
  const Groups bare = {{0, "TCH_OPENING"}, {5, "42"}, {100, "AcDbEntity"}, {8, "0"}};
  const Drawing drawing = Read(Ascii(HeaderSection("AC1015") + Tables2000() +
                                     Section("ENTITIES", proxy + custom + bare) + Eof()));
  ASSERT_EQ(ModelSpace(drawing).size(), 2u);
  for (const Entity& entity : ModelSpace(drawing)) {
    ASSERT_TRUE(entity.Is<Line>());
    EXPECT_EQ(drawing.layers[static_cast<std::size_t>(entity.layer)].name, "Walls");
    ASSERT_GE(entity.linetype, 0);
    EXPECT_EQ(drawing.linetypes[static_cast<std::size_t>(entity.linetype)].name, "DASHED");
    EXPECT_EQ(std::get<Line>(entity.data).end.y, 4.0);
  }
  // What keeps no graphics is counted as before.
  EXPECT_EQ(drawing.skippedTypes,
            (std::vector<std::pair<std::string, int>>{{"TCH_OPENING", 1}}));
}

TEST(DxfEntities, NamesSkippedTypesSoThatTheyFitOnALogLine) {
  const Drawing drawing =
      ReadR12Entities({{0, "BAD\x01TYPE"}, {8, "0"}, {0, std::string(100, 'X')}, {8, "0"}});
  ASSERT_EQ(drawing.skippedTypes.size(), 2u);
  EXPECT_EQ(drawing.skippedTypes[0].first, "BAD?TYPE");
  EXPECT_EQ(drawing.skippedTypes[1].first, std::string(60, 'X') + "...");
}

// ---- Blocks -----------------------------------------------------------------------------

TEST(DxfBlocks, ResolvesBlocksDefinedLaterAndDropsMissingOnes) {
  Drawing drawing;
  std::string error;
  ASSERT_TRUE(ReadDrawing(
      Ascii(
          HeaderSection("AC1009") +
          Section("BLOCKS",
                  {{0, "BLOCK"},  {8, "0"},      {2, "OUTER"}, {70, "0"},      {10, "0"},
                   {20, "0"},     {0, "INSERT"}, {8, "0"},     {2, "inner"},   {10, "0"},
                   {20, "0"},     {0, "INSERT"}, {8, "0"},     {2, "NOWHERE"}, {10, "0"},
                   {20, "0"},     {0, "ENDBLK"}, {8, "0"},     {0, "BLOCK"},   {8, "0"},
                   {2, "INNER"},  {70, "4"},     {10, "0"},    {20, "0"},      {1, "other.dwg"},
                   {0, "ENDBLK"}, {8, "0"},      {0, "BLOCK"}, {8, "0"},       {2, "$MODEL_SPACE"},
                   {70, "0"},     {10, "0"},     {20, "0"},    {0, "ENDBLK"},  {8, "0"},
                   {0, "BLOCK"},  {8, "0"},      {2, "INNER"}, {70, "0"},      {10, "0"},
                   {20, "0"},     {0, "LINE"},   {8, "0"},     {10, "0"},      {20, "0"},
                   {0, "ENDBLK"}, {8, "0"}}) +
          Section("ENTITIES", {{0, "INSERT"}, {8, "0"}, {2, "outer"}, {10, "0"}, {20, "0"}}) +
          Eof()),
      drawing, &error));
  EXPECT_NE(error.find("defined twice"), std::string::npos) << error;
  ASSERT_EQ(drawing.blocks.size(), 4u) << "the missing block leaves no entry";
  EXPECT_EQ(drawing.blocks[0].name, "*Model_Space") << "$MODEL_SPACE is model space";
  const std::int32_t outer = BlockNamed(drawing, "OUTER");
  const std::int32_t inner = BlockNamed(drawing, "inner");
  ASSERT_GE(outer, 0);
  ASSERT_GE(inner, 0) << "named as first referenced";
  const Block& outerBlock = drawing.blocks[static_cast<std::size_t>(outer)];
  EXPECT_EQ(std::get<Insert>(outerBlock.entities[0].data).block, inner);
  EXPECT_EQ(std::get<Insert>(outerBlock.entities[1].data).block, -1);
  EXPECT_TRUE(drawing.blocks[static_cast<std::size_t>(inner)].isXref);
  EXPECT_TRUE(drawing.blocks[static_cast<std::size_t>(inner)].entities.empty())
      << "a second definition of a block is not kept";
  EXPECT_EQ(std::get<Insert>(ModelSpace(drawing)[0].data).block, outer);
}

// ---- Layouts ----------------------------------------------------------------------------

Groups LayoutObject(const std::string& handle, const std::string& name, int tab,
                    const std::string& blockRecord, double width, double height) {
  return {{0, "LAYOUT"},
          {5, handle}, {102, "{ACAD_REACTORS"}, {330, "1A"}, {102, "}"}, {330, "1A"},
          {100, "AcDbPlotSettings"}, {1, "Setup " + name}, {2, "printer.pc3"}, {4, "ISO_A3"},
          {6, ""}, {40, "5"}, {41, "6"}, {42, "7"}, {43, "8"}, {44, std::to_string(width)},
          {45, std::to_string(height)}, {46, "0"}, {47, "0"}, {48, "1"}, {49, "2"}, {140, "3"},
          {141, "4"}, {142, "1"}, {143, "50"}, {70, "688"}, {72, "0"}, {73, "1"}, {74, "4"},
          {7, "mono.ctb"}, {75, "0"}, {147, "0.02"}, {100, "AcDbLayout"}, {1, name}, {70, "1"},
          {71, std::to_string(tab)}, {10, "-1"}, {20, "-2"}, {11, "400"}, {21, "280"}, {12, "0"},
          {22, "0"}, {32, "0"}, {14, "10"}, {24, "20"}, {34, "0"}, {15, "30"}, {25, "40"},
          {35, "0"}, {146, "0"}, {13, "0"}, {23, "0"}, {33, "0"}, {16, "1"}, {26, "0"}, {36, "0"},
          {17, "0"}, {27, "1"}, {37, "0"}, {76, "0"}, {330, blockRecord}};
}

TEST(DxfLayouts, ReadsLayoutObjectsWithTheirPlotSettings) {
  Groups records{{0, "TABLE"}, {2, "BLOCK_RECORD"}};
  const char* names[][2] = {
      {"1F", "*Model_Space"}, {"1E", "*Paper_Space"}, {"1D", "*Paper_Space0"}};
  for (const auto& [handle, name] : names) {
    records = records + Groups{{0, "BLOCK_RECORD"},
                               {5, handle}, {100, "AcDbSymbolTableRecord"},
                               {100, "AcDbBlockTableRecord"}, {2, name}};
  }
  records.push_back({0, "ENDTAB"});
  Groups blocks;
  for (const auto& [handle, name] : names) {
    blocks = blocks + Groups{{0, "BLOCK"},  {5, "9" + std::string(handle)},
                             {330, handle}, {100, "AcDbEntity"},
                             {8, "0"},      {100, "AcDbBlockBegin"}, {2, name},     {70, "0"},
                             {10, "0"},     {20, "0"}, {0, "ENDBLK"}};
  }
  const std::string file =
      Ascii(Section("HEADER", {{9, "$ACADVER"}, {1, "AC1015"}, {9, "$TILEMODE"}, {70, "0"}}) +
            Section("TABLES", records) + Section("BLOCKS", blocks) +
            Section("ENTITIES", {{0, "LINE"}, {8, "0"}, {67, "1"}, {10, "0"}, {20, "0"}}) +
            Section("OBJECTS", LayoutObject("50", "Second", 2, "1D", 420, 297) +
                                   LayoutObject("51", "First", 1, "1E", 297, 210) +
                                   LayoutObject("52", "Model", 0, "1F", 0, 0)) +
            Eof());
  const Drawing drawing = Read(file);
  ASSERT_EQ(drawing.layouts.size(), 3u);
  EXPECT_EQ(drawing.layouts[0].name, "Model");
  EXPECT_TRUE(drawing.layouts[0].isModel);
  EXPECT_EQ(drawing.layouts[0].block, 0);
  EXPECT_EQ(drawing.layouts[1].name, "First") << "paper layouts in tab order";
  EXPECT_EQ(drawing.layouts[1].block, 1);
  EXPECT_EQ(drawing.layouts[2].name, "Second");
  EXPECT_EQ(drawing.blocks[static_cast<std::size_t>(drawing.layouts[2].block)].name,
            "*Paper_Space0");
  EXPECT_EQ(drawing.activeLayout, 1) << "TILEMODE 0: the layout of *Paper_Space is active";

  const Layout& layout = drawing.layouts[2];
  EXPECT_EQ(layout.tabOrder, 2);
  EXPECT_DOUBLE_EQ(layout.paperWidth, 420);
  EXPECT_DOUBLE_EQ(layout.paperHeight, 297);
  EXPECT_DOUBLE_EQ(layout.marginLeft, 5);
  EXPECT_DOUBLE_EQ(layout.marginBottom, 6);
  EXPECT_DOUBLE_EQ(layout.marginRight, 7);
  EXPECT_DOUBLE_EQ(layout.marginTop, 8);
  EXPECT_EQ(layout.paperUnits, 0);
  EXPECT_EQ(layout.rotation, 1);
  EXPECT_EQ(layout.plotType, 4);
  EXPECT_DOUBLE_EQ(layout.windowMin.x, 1);
  EXPECT_DOUBLE_EQ(layout.windowMin.y, 2);
  EXPECT_DOUBLE_EQ(layout.windowMax.x, 3);
  EXPECT_DOUBLE_EQ(layout.windowMax.y, 4);
  EXPECT_DOUBLE_EQ(layout.scaleDenominator, 50);
  EXPECT_DOUBLE_EQ(layout.limitsMin.y, -2);
  EXPECT_DOUBLE_EQ(layout.limitsMax.x, 400);
  EXPECT_DOUBLE_EQ(layout.extentsMin.y, 20);
  EXPECT_DOUBLE_EQ(layout.extentsMax.x, 30);
  EXPECT_EQ(layout.plotStyleTable, "mono.ctb");
}

TEST(DxfLayouts, GivesR12PaperSpaceOneLayoutFromTheHeader) {
  const Groups header = Section("HEADER", {{9, "$ACADVER"},
                                           {1, "AC1009"}, {9, "$TILEMODE"}, {70, "0"},
                                           {9, "$PLIMMIN"}, {10, "-1"}, {20, "-1"}, {9, "$PLIMMAX"},
                                           {10, "17"}, {20, "11"}, {9, "$LIMMAX"}, {10, "100"},
                                           {20, "50"}});
  const Drawing paper = Read(
      Ascii(header + Section("ENTITIES", {{0, "LINE"}, {8, "0"}, {67, "1"}, {10, "0"}, {20, "0"}}) +
            Eof()));
  ASSERT_EQ(paper.layouts.size(), 2u);
  EXPECT_EQ(paper.layouts[0].name, "Model");
  EXPECT_DOUBLE_EQ(paper.layouts[0].limitsMax.x, 100);
  EXPECT_EQ(paper.layouts[1].name, "Layout1");
  EXPECT_EQ(paper.layouts[1].block, 1);
  EXPECT_DOUBLE_EQ(paper.layouts[1].limitsMin.x, -1);
  EXPECT_DOUBLE_EQ(paper.layouts[1].limitsMax.y, 11);
  EXPECT_EQ(paper.activeLayout, 1);

  const Drawing model = Read(
      Ascii(header + Section("ENTITIES", {{0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}}) + Eof()));
  ASSERT_EQ(model.layouts.size(), 1u) << "an empty paper space gets no layout";
  EXPECT_EQ(model.activeLayout, 0);
}

// ---- Damaged input ----------------------------------------------------------------------

TEST(DxfFiles, ReadsAFileAndNamesOneThatCannotBeOpened) {
  testsupport::TempDir folder;
  testsupport::WriteFile(folder / "plan.dxf", AllEntities2000());
  Drawing drawing;
  std::string error;
  ASSERT_TRUE(ReadDrawingFile((folder / "plan.dxf").string(), drawing, &error)) << error;
  EXPECT_EQ(ModelSpace(drawing).size(), ModelSpace(AllEntities()).size());
  testsupport::WriteFile(folder / "empty.dxf", "");
  EXPECT_FALSE(ReadDrawingFile((folder / "empty.dxf").string(), drawing, &error));
  EXPECT_NE(error.find("not a DXF file"), std::string::npos) << error;
  EXPECT_FALSE(ReadDrawingFile((folder / "missing.dxf").string(), drawing, &error));
  EXPECT_NE(error.find("missing.dxf"), std::string::npos) << error;
  EXPECT_FALSE(ReadDrawingFile(folder.Path().string(), drawing, &error)) << "a folder is no drawing";
}

TEST(DxfDamage, RefusesWhatIsNotADxfFile) {
  const std::string inputs[] = {"",
                                "hello world\n",
                                "\x89PNG\r\n\x1a\n\0\0\0",
                                "0\nLINE\n8\n0\n",
                                "999\nonly a comment\n",
                                std::string("AutoCAD Binary DXF\r\n\x1a\0", 22)};
  for (const std::string& bytes : inputs) {
    Drawing drawing;
    std::string error;
    EXPECT_FALSE(ReadDrawing(bytes, drawing, &error)) << bytes;
    EXPECT_NE(error.find("header"), std::string::npos) << error;
    EXPECT_NE(error.find("not a DXF file"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
  }
  Drawing drawing;
  std::string error;
  EXPECT_FALSE(ReadDrawing("hello\n", drawing, &error));
  EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  EXPECT_FALSE(ReadDrawing("", drawing, nullptr)) << "a null error is allowed";
}

TEST(DxfDamage, SkipsBadNumbersAndBrokenRecordsAndKeepsTheRest) {
  const std::string file =
      "0\nSECTION\n2\nENTITIES\n"
      "0\nLINE\n8\n0\n10\nabc\n20\n2\n11\n1e999\n21\nnan\n"
      "0\nLINE\n8\n0\n10\n1\nnot a code\n5\n20\n1\n"
      "0\nCIRCLE\n8\n0\n10\n3\n20\n3\n40\n1\n"
      "0\nENDSEC\n0\nEOF\n";
  Drawing drawing;
  std::string error;
  ASSERT_TRUE(ReadDrawing(file, drawing, &error));
  EXPECT_NE(error.find("entities section, line 23"), std::string::npos)
      << "the damage is noted with its place: " << error;
  ASSERT_EQ(ModelSpace(drawing).size(), 2u) << "the broken LINE is dropped, the others kept";
  const Line& line = std::get<Line>(ModelSpace(drawing)[0].data);
  EXPECT_DOUBLE_EQ(line.start.x, 0) << "a bad number is left at its default";
  EXPECT_DOUBLE_EQ(line.start.y, 2);
  EXPECT_DOUBLE_EQ(line.end.x, 0) << "an overflowing number is a bad number";
  EXPECT_TRUE(ModelSpace(drawing)[1].Is<Circle>());
}

TEST(DxfDamage, KeepsWhatWasReadFromATruncatedFile) {
  const std::string file = AllEntities2000();
  // Every cut must read or refuse without crashing; cuts after the first entities keep them.
  // (Only the last line break gone leaves a whole file: that cut is not made.)
  const std::size_t firstEntities = file.find("\nPOINT\n", file.find("ENTITIES"));
  for (std::size_t length = 0; length + 1 < file.size(); length += 7) {
    Drawing drawing;
    std::string error;
    const bool read = ReadDrawing(std::string_view(file).substr(0, length), drawing, &error);
    EXPECT_FALSE(error.empty()) << "a cut at " << length << " is damage";
    if (length > firstEntities) {
      EXPECT_TRUE(read) << "cut at " << length << ": " << error;
      EXPECT_FALSE(drawing.blocks.empty() || ModelSpace(drawing).empty()) << length;
    }
  }
  const std::string binary =
      Binary(HeaderSection("AC1015") + Tables2000() + Blocks2000() + Entities2000() + Eof(), false);
  Drawing drawing;
  std::string error;
  EXPECT_TRUE(ReadDrawing(std::string_view(binary).substr(0, binary.size() - 30), drawing, &error));
  EXPECT_NE(error.find("byte offset"), std::string::npos) << error;
}

TEST(DxfDamage, ReadsFilesWithoutHeaderEndsecOrEof) {
  const Drawing noHeader = Read(
      Ascii(Section("BLOCKS",
                    {{0, "BLOCK"}, {2, "B"}, {0, "LINE"}, {10, "0"}, {20, "0"}, {0, "ENDBLK"}}) +
            Section("ENTITIES", {{0, "INSERT"}, {2, "B"}}) + Eof()));
  EXPECT_EQ(ModelSpace(noHeader).size(), 1u);

  Drawing drawing;
  std::string error;
  const std::string unfinished = Ascii({{0, "SECTION"},
                                        {2, "ENTITIES"}, {0, "LINE"}, {10, "0"}, {20, "0"},
                                        {0, "SECTION"}, {2, "OBJECTS"}, {0, "DICTIONARY"}});
  ASSERT_TRUE(ReadDrawing(unfinished, drawing, &error));
  EXPECT_EQ(ModelSpace(drawing).size(), 1u);
  EXPECT_NE(error.find("without EOF"), std::string::npos) << error;
  EXPECT_NE(error.find("objects"), std::string::npos) << "names the last section: " << error;

  EXPECT_FALSE(ReadDrawing(Ascii(HeaderSection("AC1015")), drawing, &error))
      << "nothing to draw and no EOF: unusable";
  EXPECT_NE(error.find("header section"), std::string::npos) << error;
}

TEST(DxfDamage, CapsAbsurdCountsByWhatTheFileHolds) {
  const Drawing drawing = ReadR12Entities(
      {{0, "HATCH"},      {8, "0"},  {2, "SOLID"},       {70, "1"},          {91, "2000000000"},
       {92, "2"},         {72, "0"}, {73, "1"},          {93, "2000000000"}, {10, "0"},
       {20, "0"},         {10, "1"}, {20, "0"},          {92, "0"},          {93, "2147483647"},
       {72, "4"},         {94, "3"}, {95, "2000000000"}, {96, "2000000000"}, {40, "0"},
       {0, "LWPOLYLINE"}, {8, "0"},  {90, "2000000000"}, {10, "0"},          {20, "0"},
       {0, "INSERT"},     {8, "0"},  {2, "X"},           {70, "32767"},      {71, "-5"}});
  const auto& entities = ModelSpace(drawing);
  ASSERT_EQ(entities.size(), 3u);
  const Hatch& hatch = std::get<Hatch>(entities[0].data);
  ASSERT_EQ(hatch.paths.size(), 2u);
  EXPECT_EQ(hatch.paths[0].vertices.size(), 2u);
  ASSERT_EQ(hatch.paths[1].edges.size(), 1u);
  EXPECT_TRUE(hatch.paths[1].edges[0].spline.knots.empty());
  EXPECT_EQ(std::get<Polyline>(entities[1].data).vertices.size(), 1u);
  const Insert& insert = std::get<Insert>(entities[2].data);
  EXPECT_EQ(insert.block, -1);
  EXPECT_EQ(insert.columns, 32767);
  EXPECT_EQ(insert.rows, 1);
}

TEST(DxfDamage, SurvivesBinaryFilesWithBadCodesAndLengths) {
  std::string binary =
      Binary(HeaderSection("AC1015") +
                 Section("ENTITIES",
                         {{0, "LINE"}, {8, "0"}, {10, "1"}, {20, "1"}, {0, "LINE"}, {8, "0"}}) +
                 Eof(),
             false);
  // An unknown group code in the middle of the second line: reading stops there.
  const std::size_t second = binary.rfind(std::string("LINE\0", 5));
  std::string badCode = binary;
  badCode[second + 5] = '\x30';
  badCode[second + 6] = '\x75';
  Drawing drawing;
  std::string error;
  EXPECT_TRUE(ReadDrawing(badCode, drawing, &error));
  EXPECT_EQ(ModelSpace(drawing).size(), 1u);
  EXPECT_NE(error.find("unknown group code"), std::string::npos) << error;
  EXPECT_NE(error.find("byte offset"), std::string::npos) << error;
  // A string without its terminating zero.
  std::string open = binary.substr(0, second + 2);
  EXPECT_TRUE(ReadDrawing(open, drawing, &error));
  EXPECT_NE(error.find("cut short"), std::string::npos) << error;
}

TEST(DxfDamage, ReadsEveryFuzzingRegressionInput) {
  const std::filesystem::path folder =
      std::filesystem::path(TARNVELOX_SOURCE_DIR) / "tests/drawing/fuzz-regressions";
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = testsupport::ReadFile(entry.path());
    Drawing drawing;
    std::string error;
    const bool read = ReadDrawing(bytes, drawing, &error);
    EXPECT_EQ(error.find('\n'), std::string::npos) << entry.path();
    if (read) {
      ASSERT_GE(drawing.blocks.size(), 2u) << entry.path();
      ASSERT_FALSE(drawing.layouts.empty()) << entry.path();
    }
    ++count;
  }
  std::printf("[          ] %d regression inputs\n", count);
}

// ---- Real drawings ----------------------------------------------------------------------

TEST(DxfCorpus, ReadsEveryDrawingOfTheSharedCorpus) {
  const std::filesystem::path shared = testsupport::SharedDir();
  if (shared.empty() || !std::filesystem::is_directory(shared / "corpus/dxf")) {
    GTEST_SKIP() << "the shared corpus is not here";
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(shared / "corpus/dxf")) {
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (entry.is_regular_file() && extension == ".dxf") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const auto& path : files) {
    Drawing drawing;
    std::string error;
    const bool read = ReadDrawingFile(path.string(), drawing, &error);
    EXPECT_TRUE(read) << path << ": " << error;
    std::size_t entities = 0;
    for (const Block& block : drawing.blocks) entities += block.entities.size();
    std::string skipped;
    for (const auto& [type, count] : drawing.skippedTypes) {
      skipped += " " + std::to_string(count) + " " + type;
    }
    std::printf("[          ] %s: %s, %zu entities (%zu model, %zu paper), %zu layouts%s%s%s\n",
                std::filesystem::relative(path, shared / "corpus/dxf").string().c_str(),
                read ? "read" : "FAILED", entities,
                drawing.blocks.empty() ? 0 : drawing.blocks[0].entities.size(),
                drawing.blocks.size() < 2 ? 0 : drawing.blocks[1].entities.size(),
                drawing.layouts.size(), skipped.empty() ? "" : ", skipped", skipped.c_str(),
                error.empty() ? "" : (", note: " + error).c_str());
    if (!read) continue;
    EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{}) << path;
    EXPECT_GT(entities, 0u) << path;
    EXPECT_FALSE(drawing.layouts.empty()) << path;
    if (!drawing.header.acadVersion.empty() && drawing.header.acadVersion >= "AC1015" &&
        drawing.header.acadVersion < "AC2") {
      EXPECT_GE(drawing.layouts.size(), 2u) << path << ": LAYOUT objects were not read";
    }
  }
}

// clang-format on
