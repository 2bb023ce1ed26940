// The drawing model's promises (FinishModel, CheckModel) and the one way into it (ReadDrawing).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drawing/Model.h"
#include "drawing/ReadDrawing.h"

namespace {

using namespace drawing;

Entity On(std::int32_t layer, EntityData data) {
  Entity entity;
  entity.layer = layer;
  entity.data = std::move(data);
  return entity;
}

bool Mentions(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

TEST(DrawingFormat, IsKnownByTheFirstBytes) {
  struct Case {
    std::string bytes;
    DrawingFormat format;
  };
  const Case cases[] = {
      {"AC1015\0\0\0\0\0\0", DrawingFormat::Dwg},
      {"AC1032", DrawingFormat::Dwg},
      {"AC1009", DrawingFormat::Dwg},
      {"AC1.40", DrawingFormat::Dwg},
      {"AC2.10", DrawingFormat::Dwg},
      {"MC0.0", DrawingFormat::Dwg},
      {"(DWF V06.00)PK", DrawingFormat::Dwf},
      {"(DWF V00.55)", DrawingFormat::Dwf},
      {"(W2D V06.00)", DrawingFormat::Dwf},
      {std::string("AutoCAD Binary DXF\r\n\x1a\0", 22), DrawingFormat::BinaryDxf},
      {"  0\nSECTION\n", DrawingFormat::TextDxf},
      {"AC10", DrawingFormat::TextDxf},
      {"AC1x15", DrawingFormat::TextDxf},
      {"ACAD", DrawingFormat::TextDxf},
      {"", DrawingFormat::TextDxf},
      {"AutoCAD Binary DXF\r\n", DrawingFormat::TextDxf},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectDrawingFormat(c.bytes), c.format) << '"' << c.bytes << '"';
  }
}

TEST(ReadDrawing, NamesWhyADrawingCannotBeReadAndStillFinishesTheModel) {
  for (const char* start : {"MC0.0", "AC1.2", "(DWF V06.00)"}) {
    Drawing drawing;
    drawing.layers.emplace_back().name = "left over";
    std::string error;
    EXPECT_FALSE(ReadDrawing(std::string(start) + std::string(200, '\0'), drawing, &error));
    // The releases before R1.4 are refused by name; the DWF file is only damaged.
    if (start[0] != '(') {
      EXPECT_NE(error.find("not supported"), std::string::npos) << error;
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{}) << start;
    EXPECT_EQ(drawing.layers.size(), 1u) << "nothing is left of an earlier drawing";
  }
}

TEST(ReadDrawing, SaysWhyADamagedDwgFileCannotBeReadAndLeavesNothingOfAnEarlierDrawing) {
  // An R2000 file and an R11 file, both no more than their first bytes.
  for (const char* start : {"AC1015", "AC1009"}) {
    Drawing drawing;
    drawing.layers.emplace_back().name = "left over";
    std::string error;
    EXPECT_FALSE(ReadDrawing(std::string(start) + std::string(200, '\0'), drawing, &error));
    EXPECT_EQ(error.rfind("DWG ", 0), 0u) << error;
    EXPECT_NE(error.find("(byte offset "), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
    EXPECT_EQ(drawing.layers.size(), 1u);
  }
}

TEST(ReadDrawing, RefusesAFolderAndAMissingFile) {
  Drawing drawing;
  std::string error;
  EXPECT_FALSE(ReadDrawingFile("/", drawing, &error));
  EXPECT_NE(error.find("not a file"), std::string::npos) << error;
  EXPECT_FALSE(ReadDrawingFile("/no/such/drawing.dxf", drawing, &error));
  EXPECT_NE(error.find("drawing.dxf"), std::string::npos) << error;
}

TEST(FinishModel, PutsLayerZeroFirstAndKeepsEveryEntityOnItsLayer) {
  Drawing drawing;
  drawing.layers.resize(3);
  drawing.layers[0].name = "WALLS";
  drawing.layers[1].name = "0";
  drawing.layers[2].name = "DOORS";
  drawing.blocks.resize(2);
  drawing.blocks[0].entities.push_back(On(0, Line{}));
  drawing.blocks[0].entities.push_back(On(2, Circle{}));
  Viewport viewport;
  viewport.frozenLayers = {2, 0};
  drawing.blocks[1].entities.push_back(On(1, viewport));

  EXPECT_EQ(FinishModel(drawing), 0) << "moving a layer is no repair";
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  ASSERT_EQ(drawing.layers.size(), 3u);
  EXPECT_EQ(drawing.layers[0].name, "0");
  const auto nameOf = [&](std::int32_t layer) {
    return drawing.layers[static_cast<std::size_t>(layer)].name;
  };
  EXPECT_EQ(nameOf(drawing.blocks[0].entities[0].layer), "WALLS");
  EXPECT_EQ(nameOf(drawing.blocks[0].entities[1].layer), "DOORS");
  EXPECT_EQ(nameOf(drawing.blocks[1].entities[0].layer), "0");
  const auto& frozen = std::get<Viewport>(drawing.blocks[1].entities[0].data).frozenLayers;
  ASSERT_EQ(frozen.size(), 2u);
  EXPECT_EQ(nameOf(frozen[0]), "DOORS");
  EXPECT_EQ(nameOf(frozen[1]), "WALLS");
}

TEST(FinishModel, GivesAnEmptyDrawingWhatEveryDrawingHas) {
  Drawing drawing;
  EXPECT_EQ(FinishModel(drawing), 0);
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  EXPECT_EQ(drawing.layers[0].name, "0");
  EXPECT_EQ(drawing.textStyles[0].name, "Standard");
  ASSERT_EQ(drawing.blocks.size(), 2u);
  ASSERT_EQ(drawing.layouts.size(), 1u) << "paper space is empty: no paper layout";
  EXPECT_TRUE(drawing.layouts[0].isModel);
}

TEST(FinishModel, OrdersLayoutsAndPicksTheActiveOne) {
  Drawing drawing;
  drawing.blocks.resize(4);
  const auto layout = [](const char* name, int tab, std::int32_t block) {
    Layout l;
    l.name = name;
    l.tabOrder = tab;
    l.block = block;
    return l;
  };
  drawing.layouts = {layout("Sheet B", 2, 2), layout("Sheet A", 1, 1), layout("Model", 0, -1),
                     layout("Model", 0, 0), layout("Sheet C", 3, 3)};
  drawing.header.tileMode = 0;
  FinishModel(drawing);
  ASSERT_EQ(drawing.layouts.size(), 4u) << "one model space layout is kept";
  EXPECT_TRUE(drawing.layouts[0].isModel);
  EXPECT_EQ(drawing.layouts[0].block, 0);
  EXPECT_EQ(drawing.layouts[1].name, "Sheet A");
  EXPECT_EQ(drawing.layouts[2].name, "Sheet B");
  EXPECT_EQ(drawing.layouts[3].name, "Sheet C");
  EXPECT_EQ(drawing.activeLayout, 1) << "the layout of *Paper_Space is active when TILEMODE is 0";

  Drawing r12;
  r12.blocks.resize(2);
  r12.blocks[1].entities.push_back(On(0, Line{}));
  r12.header.tileMode = 0;
  FinishModel(r12);
  ASSERT_EQ(r12.layouts.size(), 2u) << "paper space with entities gets a layout";
  EXPECT_EQ(r12.layouts[1].name, "Layout1");
  EXPECT_EQ(r12.activeLayout, 1);
}

TEST(FinishModel, BringsEveryReferenceIntoRangeAndCountsWhatItMended) {
  Drawing drawing;
  drawing.layers.emplace_back().name = "0";
  drawing.layers[0].color.index = 300;
  drawing.blocks.resize(2);
  Entity line = On(9, Line{});
  line.linetype = 40;
  line.color.index = -5;
  drawing.blocks[0].entities.push_back(line);
  Text text;
  text.style = 12;
  drawing.blocks[0].entities.push_back(On(0, text));
  drawing.blocks[0].entities.push_back(On(0, Attribute{}));
  Insert insert;
  insert.block = 7;
  insert.columns = 0;
  insert.attributes.push_back(On(0, Line{}));
  drawing.blocks[0].entities.push_back(On(0, insert));
  Spline spline;
  spline.degree = 0;
  spline.controlPoints.resize(3);
  spline.knots = {0, 1};
  drawing.blocks[0].entities.push_back(On(0, spline));
  Polyline face;
  face.vertices.resize(3);
  face.faces = {{1, 2, 3}, {1, 4, 0}};
  face.meshM = 2;
  face.meshN = 2;
  drawing.blocks[0].entities.push_back(On(0, face));

  const std::vector<std::string> before = CheckModel(drawing);
  for (const char* part : {"layer colour", "entity layer", "entity linetype", "entity colour",
                           "text style", "attribute outside", "insert block", "insert grid",
                           "spline", "polyface index", "polygon mesh"}) {
    EXPECT_TRUE(Mentions(before, part)) << part;
  }
  EXPECT_GE(FinishModel(drawing), 11);
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  const auto& entities = drawing.blocks[0].entities;
  EXPECT_EQ(entities[0].layer, 0);
  EXPECT_EQ(entities[0].linetype, kLinetypeByLayer);
  EXPECT_TRUE(entities[2].Is<Text>()) << "an attribute outside a block reference is a text";
  EXPECT_EQ(std::get<Insert>(entities[3].data).block, -1);
  EXPECT_TRUE(std::get<Insert>(entities[3].data).attributes.empty());
  EXPECT_TRUE(std::get<Spline>(entities[4].data).knots.empty());
  EXPECT_EQ(std::get<Polyline>(entities[5].data).faces.size(), 1u);
}

TEST(ClippedGroup, ItsMembersKeepThePromisesOfEveryEntity) {
  Drawing drawing;
  drawing.layers.resize(2);
  drawing.layers[0].name = "WALLS";
  drawing.layers[1].name = "0";
  drawing.blocks.resize(2);
  ClippedGroup group;
  group.boundary = {{0, 0}, {1, 0}, {1, 1}};
  Entity member;
  member.layer = 0;  // WALLS, which moves behind layer 0
  member.data = Line{};
  group.entities.push_back(member);
  member.layer = 7;  // no such layer
  group.entities.push_back(member);
  Entity entity;
  entity.layer = 1;
  entity.data = group;
  drawing.blocks[0].entities.push_back(entity);
  EXPECT_EQ(FinishModel(drawing), 1) << "the member on layer 7 is brought to layer 0";
  const auto& members = std::get<ClippedGroup>(drawing.blocks[0].entities[0].data).entities;
  EXPECT_EQ(drawing.layers[members[0].layer].name, "WALLS");
  EXPECT_EQ(members[1].layer, 0);
  EXPECT_EQ(drawing.blocks[0].entities[0].layer, 0);
  EXPECT_TRUE(CheckModel(drawing).empty());
}

TEST(Model, EntitiesStaySmallAndBoxedPartsCopyWhole) {
  // A large drawing holds millions of entities, and each is as large as the largest kind: a
  // rare kind keeps its bulk in Boxed parts so that the model stays within its memory share.
  EXPECT_LE(sizeof(Entity), 256u);
  MLeader leader;
  leader.text->text = "NOTE";
  leader.block->block = 3;
  MLeader copy = leader;
  copy.text->text = "CHANGED";
  EXPECT_EQ(leader.text->text, "NOTE") << "a copy owns its own parts";
  EXPECT_EQ(copy.block->block, 3);
  Entity entity;
  entity.data = copy;
  const Entity again = entity;
  EXPECT_EQ(std::get<MLeader>(again.data).text->text, "CHANGED");
}
