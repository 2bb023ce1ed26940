// Multileaders, mlines, meshes, feature control frames and underlays: read from DXF files the
// tests write and from the corpus (DWG and DXF), and drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "drawing/ReadDrawing.h"
#include "drawing/Renderer.h"
#include "drawing/TextEngine.h"
#include "render/TraceExport.h"
#include "tests/support/TestSupport.h"

using namespace drawing;

namespace {

using Groups = std::vector<std::pair<int, std::string>>;

std::string Ascii(const Groups& groups) {
  std::string out;
  for (const auto& [code, value] : groups) out += std::to_string(code) + "\n" + value + "\n";
  return out;
}

// clang-format off
// An R2018 drawing: a text style (handle 11), a block "ARROW" (record 20) holding a line, more
// header variables and tables when given, the entities in model space, then the objects.
Drawing ReadEntities(const Groups& entities, const Groups& objects = {}, const Groups& header = {},
                     const Groups& tables = {}) {
  Groups groups = {{0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1032"},
                   {9, "$DIMTXT"}, {40, "0.25"},  {9, "$DIMGAP"},  {40, "0.05"}};
  groups.insert(groups.end(), header.begin(), header.end());
  groups.insert(groups.end(), {
      {0, "ENDSEC"}, {0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "STYLE"}, {0, "STYLE"},
      {5, "11"}, {2, "Notes"}, {70, "0"}, {3, "arial.ttf"}, {0, "ENDTAB"}, {0, "TABLE"},
      {2, "LTYPE"}, {0, "LTYPE"}, {5, "12"}, {2, "DASHED"}, {70, "0"}, {0, "ENDTAB"},
      {0, "TABLE"}, {2, "BLOCK_RECORD"}, {0, "BLOCK_RECORD"}, {5, "20"}, {2, "ARROW"},
      {0, "ENDTAB"}});
  groups.insert(groups.end(), tables.begin(), tables.end());
  groups.insert(groups.end(), {
      {0, "ENDSEC"}, {0, "SECTION"}, {2, "BLOCKS"}, {0, "BLOCK"}, {8, "0"}, {2, "ARROW"},
      {70, "0"}, {10, "0"}, {20, "0"}, {0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "-1"},
      {21, "0"}, {0, "ENDBLK"}, {0, "ENDSEC"}, {0, "SECTION"}, {2, "ENTITIES"}});
  // clang-format on
  groups.insert(groups.end(), entities.begin(), entities.end());
  groups.insert(groups.end(), {{0, "ENDSEC"}, {0, "SECTION"}, {2, "OBJECTS"}});
  groups.insert(groups.end(), objects.begin(), objects.end());
  groups.insert(groups.end(), {{0, "ENDSEC"}, {0, "EOF"}});
  Drawing drawing;
  std::string error;
  EXPECT_TRUE(ReadDrawing(Ascii(groups), drawing, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  EXPECT_EQ(drawing.skippedTypes.size(), 0u);
  return drawing;
}

template <typename T>
const T& Only(const Drawing& drawing) {
  static const T kEmpty{};
  const std::vector<Entity>& entities = drawing.blocks[0].entities;
  EXPECT_EQ(entities.size(), 1u);
  const T* data = entities.empty() ? nullptr : std::get_if<T>(&entities[0].data);
  EXPECT_NE(data, nullptr) << "the entity holds other data than expected";
  return data ? *data : kEmpty;
}

// The groups below are laid out several to a line, which clang-format would spread out.
// clang-format off

// A multileader with one leader of two lines, a dogleg and text, as CAD writes it; with
// `block`, block content and the arrowhead block ARROW instead. The other groups, when given,
// go into the context (after the landing gap), the first leader line and the entity's own.
Groups MultileaderGroups(bool block, const Groups& context = {}, const Groups& firstLine = {},
                         const Groups& own = {}) {
  Groups groups = {{0, "MULTILEADER"}, {5, "40"}, {100, "AcDbEntity"}, {8, "0"},
                   {100, "AcDbMLeader"}, {270, "2"}, {300, "CONTEXT_DATA{"}, {40, "1"},
                   {10, "0"}, {20, "0"}, {30, "0"}, {41, "0.5"}, {140, "0.25"}, {145, "0.1"}};
  groups.insert(groups.end(), context.begin(), context.end());
  if (!block) {
    groups.insert(groups.end(), {{290, "1"}, {304, "NOTE\\PLINE 2"}, {11, "0"}, {21, "0"},
                                 {31, "1"}, {340, "11"}, {12, "12.1"}, {22, "5"}, {32, "0"},
                                 {13, "1"}, {23, "0"}, {33, "0"}, {42, "0"}, {43, "0"},
                                 {44, "0"}, {45, "1"}, {170, "1"}, {90, "-1023410175"},
                                 {171, "1"}, {172, "5"}, {91, "-1073741824"}});
  } else {
    groups.insert(groups.end(), {{290, "0"}, {296, "1"}, {341, "20"}, {14, "0"}, {24, "0"},
                                 {34, "1"}, {15, "12"}, {25, "5"}, {35, "0"}, {16, "2"},
                                 {26, "2"}, {36, "1"}, {46, "0"}, {93, "-1056964608"}});
  }
  groups.insert(groups.end(), {{110, "0"}, {120, "0"}, {130, "0"}, {302, "LEADER{"},
                               {290, "1"}, {291, "1"}, {10, "10"}, {20, "5"}, {30, "0"},
                               {11, "1"}, {21, "0"}, {31, "0"}, {90, "0"}, {40, "2"},
                               {304, "LEADER_LINE{"}, {10, "0"}, {20, "0"}, {30, "0"},
                               {10, "5"}, {20, "5"}, {30, "0"}, {91, "0"}});
  groups.insert(groups.end(), firstLine.begin(), firstLine.end());
  groups.insert(groups.end(), {{305, "}"},
                               {304, "LEADER_LINE{"}, {10, "0"}, {20, "10"}, {30, "0"},
                               {91, "1"}, {305, "}"}, {271, "0"}, {303, "}"}, {301, "}"},
                               {340, "0"}, {90, "0"}, {170, "1"}, {91, "-1056964608"},
                               {171, "-2"}, {290, "1"}, {291, "1"}, {41, "2"}, {42, "0.25"}});
  if (block) groups.insert(groups.end(), {{342, "20"}});
  groups.insert(groups.end(), {{172, block ? "1" : "2"}, {343, "11"}});
  groups.insert(groups.end(), own.begin(), own.end());
  return groups;
}

// An mline of three vertices along x with two elements at ±0.5, closed or open, and its
// style (filled, square caps at both ends, the second element red and dashed).
Groups MlineGroups(bool closed) {
  Groups groups = {{0, "MLINE"}, {5, "50"}, {100, "AcDbEntity"}, {8, "0"}, {100, "AcDbMline"},
                   {2, "TWIN"}, {340, "60"}, {40, "1"}, {70, "0"}, {71, closed ? "3" : "1"},
                   {72, "3"}, {73, "2"}, {10, "0"}, {20, "0"}, {30, "0"}, {210, "0"},
                   {220, "0"}, {230, "1"}};
  for (const char* x : {"0", "10", "20"}) {
    groups.insert(groups.end(), {{11, x}, {21, "0"}, {31, "0"}, {12, "1"}, {22, "0"},
                                 {32, "0"}, {13, "0"}, {23, "1"}, {33, "0"}, {74, "2"},
                                 {41, "0.5"}, {41, "0"}, {75, "0"}, {74, "1"}, {41, "-0.5"},
                                 {75, "0"}});
  }
  return groups;
}

Groups MlineStyleGroups() {
  return {{0, "MLINESTYLE"}, {5, "60"}, {100, "AcDbMlineStyle"}, {2, "TWIN"}, {70, "273"},
          {3, ""}, {62, "3"}, {51, "90"}, {52, "90"}, {71, "2"}, {49, "0.5"}, {62, "256"},
          {6, "BYLAYER"}, {49, "-0.5"}, {62, "1"}, {6, "DASHED"}};
}

// A mesh of a square split into two triangles, with its edges.
Groups MeshGroups() {
  return {{0, "MESH"}, {5, "70"}, {100, "AcDbEntity"}, {8, "0"}, {100, "AcDbSubDMesh"},
          {71, "2"}, {72, "0"}, {91, "0"}, {92, "4"}, {10, "0"}, {20, "0"}, {30, "0"},
          {10, "4"}, {20, "0"}, {30, "0"}, {10, "4"}, {20, "4"}, {30, "0"}, {10, "0"},
          {20, "4"}, {30, "0"}, {93, "8"}, {90, "3"}, {90, "0"}, {90, "1"}, {90, "2"},
          {90, "3"}, {90, "0"}, {90, "2"}, {90, "3"}, {94, "1"}, {90, "0"}, {90, "2"},
          {95, "0"}};
}

Groups ToleranceGroups(const std::string& text, const std::string& dimStyle = "Standard") {
  return {{0, "TOLERANCE"}, {5, "80"}, {100, "AcDbEntity"}, {8, "0"}, {100, "AcDbFcf"},
          {3, dimStyle}, {10, "2"}, {20, "3"}, {30, "0"}, {1, text}, {11, "1"}, {21, "0"},
          {31, "0"}};
}

// The dimension style FRAMES, whose text is in the style Notes (handle 11).
Groups FramesDimStyleGroups() {
  return {{0, "TABLE"}, {2, "DIMSTYLE"}, {0, "DIMSTYLE"}, {105, "30"}, {2, "FRAMES"},
          {70, "0"}, {140, "0.5"}, {340, "11"}, {0, "ENDTAB"}};
}

Groups UnderlayGroups(bool clipped) {
  Groups groups = {{0, "PDFUNDERLAY"}, {5, "90"}, {100, "AcDbEntity"}, {8, "0"},
                   {100, "AcDbUnderlayReference"}, {340, "91"}, {10, "100"}, {20, "50"},
                   {30, "0"}, {41, "2"}, {42, "3"}, {43, "1"}, {50, "90"}, {280, "2"}};
  if (clipped) groups.insert(groups.end(), {{11, "1"}, {21, "1"}, {11, "5"}, {21, "4"}});
  return groups;
}

Groups UnderlayDefinitionGroups() {
  return {{0, "PDFDEFINITION"}, {5, "91"}, {100, "AcDbUnderlayDefinition"},
          {1, "sheets/site plan.pdf"}, {2, "1"}};
}

// clang-format on

TEST(DrawingKinds, ReadsMultileadersWithTheirLeadersDoglegAndContent) {
  const Drawing text = ReadEntities(MultileaderGroups(false));
  const MLeader& leader = Only<MLeader>(text);
  EXPECT_EQ(leader.leaderType, 1);
  ASSERT_EQ(leader.branches.size(), 1u);
  const MLeaderBranch& branch = leader.branches[0];
  ASSERT_EQ(branch.lines.size(), 2u);
  ASSERT_EQ(branch.lines[0].vertices.size(), 3u) << "two points and the landing point";
  EXPECT_DOUBLE_EQ(branch.lines[0].vertices[1].y, 5);
  EXPECT_DOUBLE_EQ(branch.lines[0].vertices[2].x, 10);
  EXPECT_DOUBLE_EQ(branch.lines[1].vertices[1].x, 10);
  EXPECT_DOUBLE_EQ(branch.doglegLength, 2);
  EXPECT_DOUBLE_EQ(branch.doglegDirection.x, 1);
  EXPECT_DOUBLE_EQ(leader.arrowSize, 0.25) << "the context's size, scale applied";
  EXPECT_EQ(leader.arrowBlock, -1);
  EXPECT_EQ(leader.lineColor.index, Color::kByBlock);
  ASSERT_TRUE(leader.hasText);
  EXPECT_FALSE(leader.hasBlock);
  EXPECT_EQ(leader.text->text, "NOTE\\PLINE 2");
  EXPECT_DOUBLE_EQ(leader.text->insertion.x, 12.1);
  EXPECT_DOUBLE_EQ(leader.text->height, 0.5);
  EXPECT_EQ(text.textStyles[static_cast<std::size_t>(leader.text->style)].name, "Notes");
  EXPECT_EQ(leader.textColor.index, 1) << "0xC3000001 is the palette's red";

  const Drawing block = ReadEntities(MultileaderGroups(true));
  const MLeader& withBlock = Only<MLeader>(block);
  EXPECT_FALSE(withBlock.hasText);
  ASSERT_TRUE(withBlock.hasBlock);
  ASSERT_GE(withBlock.block->block, 0);
  EXPECT_EQ(block.blocks[static_cast<std::size_t>(withBlock.block->block)].name, "ARROW");
  EXPECT_DOUBLE_EQ(withBlock.block->scale.x, 2);
  EXPECT_EQ(withBlock.arrowBlock, withBlock.block->block);
}

TEST(DrawingKinds, ReadsMlinesWithTheirStyle) {
  const Drawing drawing = ReadEntities(MlineGroups(false), MlineStyleGroups());
  const MLine& mline = Only<MLine>(drawing);
  ASSERT_EQ(mline.vertices.size(), 3u);
  EXPECT_FALSE(mline.closed);
  ASSERT_EQ(mline.vertices[2].offsets.size(), 2u);
  EXPECT_DOUBLE_EQ(mline.vertices[2].offsets[0], 0.5);
  EXPECT_DOUBLE_EQ(mline.vertices[2].offsets[1], -0.5);
  EXPECT_DOUBLE_EQ(mline.vertices[2].position.x, 20);
  EXPECT_DOUBLE_EQ(mline.vertices[1].miter.y, 1);
  ASSERT_EQ(mline.style, 0);
  const MLineStyle& style = drawing.mlineStyles[0];
  EXPECT_EQ(style.name, "TWIN");
  EXPECT_EQ(style.flags, 273);
  EXPECT_EQ(style.fillColor.index, 3);
  ASSERT_EQ(style.elements.size(), 2u);
  EXPECT_EQ(style.elements[0].linetype, kLinetypeByLayer);
  EXPECT_EQ(style.elements[1].color.index, 1);
  ASSERT_GE(style.elements[1].linetype, 0);
  EXPECT_EQ(drawing.linetypes[static_cast<std::size_t>(style.elements[1].linetype)].name, "DASHED");
  EXPECT_TRUE(Only<MLine>(ReadEntities(MlineGroups(true), MlineStyleGroups())).closed);
}

TEST(DrawingKinds, ReadsMeshesTolerancesAndUnderlays) {
  const Drawing meshes = ReadEntities(MeshGroups());
  const drawing::Mesh& mesh = Only<drawing::Mesh>(meshes);
  ASSERT_EQ(mesh.vertices.size(), 4u);
  ASSERT_EQ(mesh.faces.size(), 2u);
  EXPECT_EQ(mesh.faces[1], (std::vector<int>{0, 2, 3}));
  ASSERT_EQ(mesh.edges.size(), 1u);

  const Drawing tolerances = ReadEntities(ToleranceGroups("{\\Fgdt;j}%%v0.1%%v%%vA"));
  const drawing::Tolerance& tolerance = Only<drawing::Tolerance>(tolerances);
  EXPECT_EQ(tolerance.text, "{\\Fgdt;j}%%v0.1%%v%%vA");
  EXPECT_DOUBLE_EQ(tolerance.insertion.y, 3);
  EXPECT_DOUBLE_EQ(tolerance.height, 0.25) << "the header's DIMTXT";
  EXPECT_DOUBLE_EQ(tolerance.gap, 0.05);
  EXPECT_EQ(tolerances.textStyles[static_cast<std::size_t>(tolerance.style)].name, "Standard");

  const Drawing underlays = ReadEntities(UnderlayGroups(true), UnderlayDefinitionGroups());
  const drawing::Underlay& underlay = Only<drawing::Underlay>(underlays);
  EXPECT_EQ(underlay.format, "PDF");
  EXPECT_EQ(underlay.fileName, "sheets/site plan.pdf");
  EXPECT_DOUBLE_EQ(underlay.insertion.x, 100);
  EXPECT_DOUBLE_EQ(underlay.scale.y, 3);
  EXPECT_DOUBLE_EQ(underlay.rotation, 90);
  ASSERT_EQ(underlay.clipBoundary.size(), 2u);
  EXPECT_DOUBLE_EQ(underlay.clipBoundary[1].y, 4);
}

TEST(DrawingKinds, FeatureControlFramesUseTheTextStyleOfTheirDimensionStyle) {
  const auto styleOf = [](const Drawing& drawing) {
    const drawing::Tolerance& tolerance = Only<drawing::Tolerance>(drawing);
    EXPECT_DOUBLE_EQ(tolerance.height, 0.5) << "the style's DIMTXT";
    return drawing.textStyles[static_cast<std::size_t>(tolerance.style)].name;
  };
  // The style the frame names; the header's when the file has no such style; an override in
  // the frame's own extended data.
  EXPECT_EQ(styleOf(ReadEntities(ToleranceGroups("0.1", "FRAMES"), {}, {}, FramesDimStyleGroups())),
            "Notes");
  EXPECT_EQ(styleOf(ReadEntities(ToleranceGroups("0.1", "MISSING"), {},
                                 {{9, "$DIMTXT"}, {40, "0.5"}, {9, "$DIMTXSTY"}, {7, "Notes"}})),
            "Notes");
  Groups overridden = ToleranceGroups("0.1");
  overridden.insert(overridden.end(), {{1001, "ACAD"},
                                       {1000, "DSTYLE"},
                                       {1002, "{"},
                                       {1070, "140"},
                                       {1040, "0.5"},
                                       {1070, "340"},
                                       {1005, "11"},
                                       {1002, "}"}});
  EXPECT_EQ(styleOf(ReadEntities(overridden)), "Notes");
}

// ---- Drawing ---------------------------------------------------------------------------------

struct Traced {
  std::string trace;
  std::vector<std::string> warnings;
};

Traced Render(const Drawing& drawing) {
  CTextEngine text;
  CTraceExport sink;
  CRenderer renderer(drawing, text, sink);
  renderer.DrawLayout(0, Affine3{}, 1000, 1000);
  return {sink.text, renderer.Warnings()};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST(DrawingKinds, MultileadersDrawLinesArrowheadsDoglegAndContent) {
  const std::string text = Render(ReadEntities(MultileaderGroups(false))).trace;
  // Two leader lines and the dogleg, each an entity of its own, and the text.
  EXPECT_EQ(Count(text, "BeginEntityDraw 0 LEADER"), 2u) << text;
  EXPECT_EQ(Count(text, "BeginEntityDraw 0 LINE"), 1u);
  EXPECT_EQ(Count(text, "BeginEntityDraw 0 MTEXT"), 1u);
  EXPECT_NE(text.find("MoveTo 10 5\nLineTo 12 5"), std::string::npos) << "the dogleg";
  EXPECT_NE(text.find("MoveTo 0 0\nLineTo 5 5\nLineTo 10 5"), std::string::npos);
  EXPECT_EQ(Count(text, "\nPolygon "), 2u) << "a closed filled arrowhead on each line";
  EXPECT_NE(text.find("SetColor ff0000 1"), std::string::npos) << "the text's own colour";

  // The block content and the arrowhead block draw the block's line, three times.
  const std::string block = Render(ReadEntities(MultileaderGroups(true))).trace;
  EXPECT_EQ(Count(block, "BeginEntityDraw 0 LINE"), 4u) << block;
  EXPECT_EQ(Count(block, "\nPolygon "), 0u);
  EXPECT_NE(block.find("MoveTo 12 5\nLineTo 10 5"), std::string::npos)
      << "the block at (12, 5), scaled by two";
}

// The parts of a trace from each "BeginEntityDraw 0 KIND" to its "EndEntityDraw".
std::vector<std::string> EntityDraws(const std::string& trace, const std::string& kind) {
  std::vector<std::string> draws;
  const std::string begin = "BeginEntityDraw 0 " + kind + "\n";
  for (std::size_t at = trace.find(begin); at != std::string::npos;
       at = trace.find(begin, at + 1)) {
    const std::size_t end = trace.find("EndEntityDraw", at);
    draws.push_back(trace.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return draws;
}

// The points of the MoveTo and LineTo lines of a trace.
std::vector<Vec2> PathPoints(const std::string& trace) {
  std::vector<Vec2> points;
  std::size_t at = 0;
  while (at < trace.size()) {
    std::size_t end = trace.find('\n', at);
    if (end == std::string::npos) end = trace.size();
    const std::string line = trace.substr(at, end - at);
    double x = 0, y = 0;
    if (std::sscanf(line.c_str(), "MoveTo %lf %lf", &x, &y) == 2 ||
        std::sscanf(line.c_str(), "LineTo %lf %lf", &x, &y) == 2) {
      points.push_back({x, y});
    }
    at = end + 1;
  }
  return points;
}

TEST(DrawingKinds, MultileaderLinesTakeTheirOwnPropertiesWhereTheirFlagsSaySo) {
  // The first line red, dashed and 2.11 mm wide, and saying so; the second says the same values
  // without the flags, so it keeps the multileader's.
  const Groups overrides = {{92, "-1023410175"}, {340, "12"}, {171, "211"}, {93, "14"}};
  Groups groups = MultileaderGroups(false, {}, overrides);
  const auto second = std::find(groups.begin(), groups.end(), std::pair<int, std::string>{91, "1"});
  ASSERT_NE(second, groups.end());
  groups.insert(second + 1, {{92, "-1023410175"}, {340, "12"}, {171, "211"}, {93, "0"}});
  const Drawing drawing = ReadEntities(groups);
  const MLeader& leader = Only<MLeader>(drawing);
  ASSERT_EQ(leader.branches.size(), 1u);
  ASSERT_EQ(leader.branches[0].lines.size(), 2u);
  const MLeaderLine& own = leader.branches[0].lines[0];
  EXPECT_TRUE(own.ownColor && own.ownLinetype && own.ownLineweight);
  EXPECT_EQ(own.color.index, 1);
  ASSERT_GE(own.linetype, 0);
  EXPECT_EQ(drawing.linetypes[static_cast<std::size_t>(own.linetype)].name, "DASHED");
  EXPECT_EQ(own.lineweight, 211);
  const MLeaderLine& plain = leader.branches[0].lines[1];
  EXPECT_FALSE(plain.ownColor || plain.ownLinetype || plain.ownLineweight);

  const std::vector<std::string> lines = EntityDraws(Render(drawing).trace, "LEADER");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("SetColor ff0000 1"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].find("SetColor ff0000 1"), std::string::npos)
      << "a line without its flags keeps the multileader's colour: " << lines[1];
  const auto width = [](const std::string& draw) {
    const std::size_t at = draw.find("SetLineWidth ");
    return at == std::string::npos ? std::string() : draw.substr(at, draw.find('\n', at) - at);
  };
  EXPECT_NE(width(lines[0]), width(lines[1])) << "the first line is drawn wider";
}

TEST(DrawingKinds, SplineMultileadersPassThroughTheirVerticesToTheDoglegsEnd) {
  const Drawing drawing = ReadEntities(MultileaderGroups(false, {}, {}, {{170, "2"}}));
  EXPECT_EQ(Only<MLeader>(drawing).leaderType, 2);
  const std::string trace = Render(drawing).trace;
  const std::vector<std::string> lines = EntityDraws(trace, "LEADER");
  ASSERT_EQ(lines.size(), 2u);
  const std::vector<Vec2> curve = PathPoints(lines[0]);
  ASSERT_GT(curve.size(), 4u) << "a curve, not the straight segments: " << lines[0];
  // Through the tip and the bend at (5, 5) on to where the dogleg ends, (12, 5), instead of to
  // the landing point: the vertices are points on the curve, not its control points.
  const auto nearest = [&curve](Vec2 p) {
    double best = 1e300;
    for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
      const Vec2 a = curve[k], b = curve[k + 1];
      const double dx = b.x - a.x, dy = b.y - a.y;
      const double length2 = dx * dx + dy * dy;
      const double t =
          length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0;
      best = std::min(best, std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y));
    }
    return best;
  };
  EXPECT_LT(nearest({0, 0}), 1e-6);
  EXPECT_LT(nearest({5, 5}), 0.02) << lines[0];
  EXPECT_NEAR(curve.back().x, 12, 1e-6);
  EXPECT_NEAR(curve.back().y, 5, 1e-6);
  EXPECT_EQ(Count(trace, "BeginEntityDraw 0 LINE"), 0u) << "splines have no dogleg: " << trace;
}

TEST(DrawingKinds, MultileaderTextsHaveTheFrameAndUnderlineTheirSettingsAskFor) {
  // Neither: the leader lines, the dogleg and the text only.
  const std::string plain = Render(ReadEntities(MultileaderGroups(false))).trace;
  EXPECT_EQ(Count(plain, "BeginEntityDraw 0 POLYLINE"), 0u);
  EXPECT_EQ(Count(plain, "BeginEntityDraw 0 LINE"), 1u);

  // A frame: a rectangle a landing gap (0.1) around the text, which starts at (12.1, 5).
  const Drawing framed = ReadEntities(MultileaderGroups(false, {}, {}, {{292, "1"}}));
  EXPECT_TRUE(Only<MLeader>(framed).textFrame);
  const std::vector<std::string> frames = EntityDraws(Render(framed).trace, "POLYLINE");
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<Vec2> corners = PathPoints(frames[0]);
  ASSERT_GE(corners.size(), 4u) << frames[0];
  const double left = std::min({corners[0].x, corners[1].x, corners[2].x, corners[3].x});
  const double top = std::max({corners[0].y, corners[1].y, corners[2].y, corners[3].y});
  const double bottom = std::min({corners[0].y, corners[1].y, corners[2].y, corners[3].y});
  EXPECT_NEAR(left, 12.05, 0.05) << "the gap left of the text's first letter";
  EXPECT_NEAR(top, 5.1, 0.02) << "the gap over the text's cap line";
  EXPECT_LT(bottom, 5 - 2 * 0.5) << "the frame holds both lines";

  // The text stands right of the branch's end (12, 5), so the left attachment counts: 5
  // underlines the text from there, as far as the text and the gap reach; 6 on the other side
  // draws nothing here.
  const Drawing underlined = ReadEntities(MultileaderGroups(false, {{174, "5"}, {175, "1"}}));
  EXPECT_EQ(Only<MLeader>(underlined).textLeftAttachment, 5);
  const std::vector<std::string> under = EntityDraws(Render(underlined).trace, "LINE");
  ASSERT_EQ(under.size(), 2u) << "the dogleg and the underline";
  const std::vector<Vec2> line = PathPoints(under[1]);
  ASSERT_EQ(line.size(), 2u) << under[1];
  EXPECT_NEAR(line[0].x, 12, 1e-9);
  EXPECT_NEAR(line[0].y, 5, 1e-9);
  EXPECT_GT(line[1].x, 13) << "as long as the text is wide";
  EXPECT_NEAR(line[1].y, 5, 1e-9);
  const std::string otherSide =
      Render(ReadEntities(MultileaderGroups(false, {{174, "1"}, {175, "6"}}))).trace;
  EXPECT_EQ(Count(otherSide, "BeginEntityDraw 0 LINE"), 1u) << otherSide;
}

TEST(DrawingKinds, MlinesDrawTheirElementsCapsAndFill) {
  const std::string open = Render(ReadEntities(MlineGroups(false), MlineStyleGroups())).trace;
  EXPECT_NE(open.find("MoveTo 0 0.5\nLineTo 10 0.5\nLineTo 20 0.5\n"), std::string::npos) << open;
  EXPECT_NE(open.find("MoveTo 0 -0.5\nLineTo 10 -0.5\nLineTo 20 -0.5\n"), std::string::npos);
  EXPECT_NE(open.find("SetColor ff0000 1"), std::string::npos) << "the red element";
  EXPECT_NE(open.find("MoveTo 0 -0.5\nLineTo 0 0.5\n"), std::string::npos) << "the start cap";
  EXPECT_NE(open.find("MoveTo 20 -0.5\nLineTo 20 0.5\n"), std::string::npos) << "the end cap";
  EXPECT_EQ(Count(open, "FillPolyPolygon"), 1u) << "the fill between the outer elements";

  const std::string closed = Render(ReadEntities(MlineGroups(true), MlineStyleGroups())).trace;
  EXPECT_EQ(closed.find("MoveTo 0 -0.5\nLineTo 0 0.5\n"), std::string::npos)
      << "a closed mline has no caps";
  EXPECT_NE(closed.find("LineTo 20 0.5\nLineTo 0 0.5\n"), std::string::npos) << closed;
}

// Four elements 1.5 and 0.5 to each side, along x from 0 through 10 to 20; the outermost
// element above is cut from 3 to 6 on the first segment and from 2 to 4 on the second, whose
// last stretch runs to its end. Caps: arcs joining the outer and the inner elements at the start,
// the outer ones alone at the end.
Groups CutMlineGroups() {
  Groups groups = {{0, "MLINE"}, {5, "51"},   {100, "AcDbEntity"}, {8, "0"},  {100, "AcDbMline"},
                   {2, "ROUND"}, {340, "61"}, {40, "1"},           {70, "1"}, {71, "1"},
                   {72, "3"},    {73, "4"},   {10, "0"},           {20, "0"}, {30, "0"}};
  const std::vector<std::vector<std::string>> cuts = {{"0", "3", "6"}, {"0", "2", "4"}, {"0"}};
  for (int v = 0; v < 3; ++v) {
    groups.insert(groups.end(), {{11, std::to_string(10 * v)},
                                 {21, "0"},
                                 {31, "0"},
                                 {12, "1"},
                                 {22, "0"},
                                 {32, "0"},
                                 {13, "0"},
                                 {23, "1"},
                                 {33, "0"}});
    for (const char* offset : {"1.5", "0.5", "-0.5", "-1.5"}) {
      const bool cut = std::string(offset) == "1.5";
      const std::vector<std::string> parameters = cut ? cuts[v] : std::vector<std::string>{"0"};
      groups.push_back({74, std::to_string(parameters.size() + 1)});
      groups.push_back({41, offset});
      for (const std::string& parameter : parameters) groups.push_back({41, parameter});
      groups.push_back({75, "0"});
    }
  }
  return groups;
}

Groups RoundMlineStyleGroups() {
  return {{0, "MLINESTYLE"}, {5, "61"},    {100, "AcDbMlineStyle"},
          {2, "ROUND"},      {70, "1120"}, {3, ""},
          {62, "256"},       {51, "90"},   {52, "90"},
          {71, "4"},         {49, "1.5"},  {62, "256"},
          {6, "BYLAYER"},    {49, "0.5"},  {62, "256"},
          {6, "BYLAYER"},    {49, "-0.5"}, {62, "256"},
          {6, "BYLAYER"},    {49, "-1.5"}, {62, "256"},
          {6, "BYLAYER"}};
}

TEST(DrawingKinds, MlinesDrawTheirBreaksAndArcCaps) {
  const Drawing drawing = ReadEntities(CutMlineGroups(), RoundMlineStyleGroups());
  const MLine& mline = Only<MLine>(drawing);
  ASSERT_EQ(mline.vertices[0].breaks.size(), 4u);
  EXPECT_EQ(mline.vertices[0].breaks[0], (std::vector<double>{0, 3, 6}));
  EXPECT_TRUE(mline.vertices[0].breaks[1].empty()) << "an element drawn whole";
  EXPECT_TRUE(mline.vertices[2].breaks.empty()) << "no element of the last vertex is cut";

  const std::string trace = Render(drawing).trace;
  // The cut element: 0 to 3, then from 6 on through the vertex at 10 to 12 (the second segment's
  // first stretch), then from 14 to the end.
  EXPECT_NE(trace.find("MoveTo 0 1.5\nLineTo 3 1.5\nMoveTo 6 1.5\nLineTo 10 1.5\nLineTo 12 1.5\n"
                       "MoveTo 14 1.5\nLineTo 20 1.5\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("MoveTo 0 0.5\nLineTo 10 0.5\nLineTo 20 0.5\n"), std::string::npos)
      << "the elements not cut run whole";
  // Half circles bulging away from the mline: at the start round the outer and the inner pair
  // (from the top, counter-clockwise through the left), at the end round the outer pair only.
  EXPECT_NE(trace.find("Arc 0 0 1.5 1.571 4.712\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Arc 0 0 0.5 1.571 4.712\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Arc 20 0 1.5 -1.571 1.571\n"), std::string::npos) << trace;
  EXPECT_EQ(Count(trace, "Arc "), 3u) << trace;
  EXPECT_EQ(trace.find("MoveTo 0 -1.5\nLineTo 0 1.5\n"), std::string::npos) << "no line caps";
}

TEST(DrawingKinds, MeshesTolerancesAndUnderlaysDraw) {
  const std::string mesh = Render(ReadEntities(MeshGroups())).trace;
  EXPECT_EQ(Count(mesh, "MoveTo"), 2u) << "one ring per face, the edges not again: " << mesh;
  EXPECT_NE(mesh.find("MoveTo 0 0\nLineTo 4 0\nLineTo 4 4\nLineTo 0 0\n"), std::string::npos);

  // Two cells of one row: the symbol and the tolerance, boxed; the empty cell takes no room.
  const std::string tolerance = Render(ReadEntities(ToleranceGroups("{\\Fgdt;j}%%v0.1%%v"))).trace;
  EXPECT_EQ(Count(tolerance, "BeginEntityDraw 0 TOLERANCE"), 1u) << tolerance;
  EXPECT_EQ(Count(tolerance, "MoveTo"), 2u) << tolerance;
  EXPECT_GE(Count(tolerance, "FillPolyPolygon"), 2u) << "the symbol and the digits";
  EXPECT_NE(tolerance.find("MoveTo 2 2.825\n"), std::string::npos)
      << "the first box's lower left: half a row (0.25 + 2 × 0.05) below the insertion point";

  const Traced clipped = Render(ReadEntities(UnderlayGroups(true), UnderlayDefinitionGroups()));
  // The clip rectangle (1, 1)–(5, 4), scaled 2 × 3, turned 90°, at (100, 50).
  EXPECT_NE(clipped.trace.find("MoveTo 97 52\nLineTo 97 60\nLineTo 88 60\nLineTo 88 52\n"),
            std::string::npos)
      << clipped.trace;
  EXPECT_EQ(clipped.warnings,
            (std::vector<std::string>{"the PDF underlay \"sheets/site plan.pdf\" is not drawn; its "
                                      "frame is drawn"}));
  const Traced unit = Render(ReadEntities(UnderlayGroups(false)));
  EXPECT_NE(unit.trace.find("MoveTo 100 50\nLineTo 100 52\nLineTo 97 52\nLineTo 97 50\n"),
            std::string::npos)
      << unit.trace;
  EXPECT_EQ(unit.warnings.size(), 1u);
}

// ---- The corpus ------------------------------------------------------------------------------

// How many entities of each kind the drawing holds, anywhere.
std::vector<std::pair<std::string, int>> Kinds(const Drawing& drawing) {
  std::vector<std::pair<std::string, int>> kinds;
  for (const Block& block : drawing.blocks) {
    for (const Entity& entity : block.entities) {
      auto found = std::find_if(kinds.begin(), kinds.end(),
                                [&](const auto& kind) { return kind.first == entity.KindName(); });
      if (found == kinds.end()) {
        kinds.emplace_back(entity.KindName(), 1);
      } else {
        ++found->second;
      }
    }
  }
  return kinds;
}

int CountOf(const Drawing& drawing, const std::string& kind) {
  for (const auto& [name, count] : Kinds(drawing)) {
    if (name == kind) return count;
  }
  return 0;
}

TEST(DrawingKinds, CorpusDrawingsReadEveryKindNatively) {
  const std::filesystem::path shared = testsupport::SharedDir();
  if (shared.empty() || !std::filesystem::is_directory(shared / "corpus/dwg")) {
    GTEST_SKIP() << "the shared corpus is not here";
  }
  struct Case {
    const char* file;
    const char* kind;
    int count;
  };
  const std::vector<Case> cases = {
      {"dwg/r2018/libredwg_2018_Leader.dwg", "MULTILEADER", 1},
      {"dwg/r2018/libredwg_2018_Leader.dxf", "MULTILEADER", 1},
      {"dwg/r2010/acadsharp_sample_AC1024.dwg", "MLINE", 1},
      {"dwg/r2010/acadsharp_sample_AC1024_ascii.dxf", "MLINE", 1},
      {"dwg/r2018/acadsharp_sample_AC1032.dwg", "MESH", 1},
      {"dwg/r2018/acadsharp_sample_AC1032_ascii.dxf", "MESH", 1},
      {"dwg/r2018/acadsharp_sample_AC1032.dwg", "TOLERANCE", 1},
      {"dwg/r2018/acadsharp_sample_AC1032_ascii.dxf", "TOLERANCE", 1},
      {"dwg/r2004/libredwg_2004_Underlay.dwg", "UNDERLAY", 1},
      {"dwg/r2004/libredwg_2004_Underlay.dxf", "UNDERLAY", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Drawing drawing;
    std::string error;
    ASSERT_TRUE(ReadDrawingFile((shared / "corpus" / c.file).string(), drawing, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
    EXPECT_GE(CountOf(drawing, c.kind), c.count);
    for (const auto& [kind, count] : drawing.skippedTypes) {
      EXPECT_NE(kind, c.kind);
      EXPECT_EQ(kind.find("UNDERLAY"), std::string::npos);
    }
  }
}

TEST(DrawingKinds, CorpusDwgAndDxfFilesKeepTheirClipFrameAndPlotStyleSettings) {
  const std::filesystem::path shared = testsupport::SharedDir();
  if (shared.empty() || !std::filesystem::is_directory(shared / "corpus/dwg")) {
    GTEST_SKIP() << "the shared corpus is not here";
  }
  // The same drawing saved by several versions, with a clipped block reference: the DWG files
  // keep $XCLIPFRAME at its default, 2; two of the DXF files were saved with 0.
  struct Case {
    const char* name;
    int dwgFrame, dxfFrame;
  };
  for (const Case& c :
       {Case{"r2004/acadsharp_sample_AC1018", 2, 0}, Case{"r2007/acadsharp_sample_AC1021", 2, 0},
        Case{"r2018/acadsharp_sample_AC1032", 2, 2}}) {
    const char* version = c.name;
    SCOPED_TRACE(version);
    int frames[2] = {-1, -1};
    for (int k = 0; k < 2; ++k) {
      const std::string file = std::string(version) + (k == 0 ? ".dwg" : "_ascii.dxf");
      Drawing drawing;
      std::string error;
      ASSERT_TRUE(ReadDrawingFile((shared / "corpus/dwg" / file).string(), drawing, &error))
          << error;
      frames[k] = drawing.header.xclipFrame;
      int clipped = 0;
      for (const Block& block : drawing.blocks) {
        for (const Entity& entity : block.entities) {
          const auto* insert = std::get_if<Insert>(&entity.data);
          if (insert && insert->clipBoundary.size() >= 2 && !insert->clipInverted) ++clipped;
        }
      }
      EXPECT_EQ(clipped, 1) << file;
    }
    EXPECT_EQ(frames[0], c.dwgFrame);
    EXPECT_EQ(frames[1], c.dxfFrame);
  }
  // The plot style mode, in the DWG header's flags, is the DXF twin's: colour-dependent.
  for (const char* version : {"r2000/acadsharp_sample_AC1015", "r2010/acadsharp_sample_AC1024",
                              "r2018/acadsharp_sample_AC1032"}) {
    for (const char* ending : {".dwg", "_ascii.dxf"}) {
      const std::string file = std::string(version) + ending;
      Drawing drawing;
      std::string error;
      ASSERT_TRUE(ReadDrawingFile((shared / "corpus/dwg" / file).string(), drawing, &error))
          << error;
      EXPECT_EQ(drawing.header.pstyleMode, 1) << file;
      EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{}) << file;
    }
  }
}

}  // namespace
