// The renderer on models built in the test, through the tracing sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "drawing/ExtentsSink.h"
#include "drawing/Renderer.h"
#include "drawing/ShapeFile.h"
#include "drawing/TextEngine.h"
#include "platform/Dib.h"
#include "render/TraceExport.h"
#include "tests/support/TestSupport.h"

using namespace drawing;

namespace {

// A drawing with layer 0, a model space and nothing else; entities are added by the test.
// A viewport of 40 × 20 around (50, 50) showing model space around the origin at 2 paper units
// per model unit: its clip spans x 30..70, y 40..60.
Viewport SmallView() {
  Viewport view;
  view.id = 2;
  view.center = {50, 50, 0};
  view.width = 40;
  view.height = 20;
  view.viewHeight = 10;
  return view;
}

struct Scene {
  Drawing drawing;
  CTextEngine text;
  CTraceExport trace;
  Scene() {
    drawing.layers.push_back(Layer{"0"});
    TextStyle standard;
    standard.name = "Standard";
    standard.fontFile = "arial.ttf";
    drawing.textStyles.push_back(standard);
    AddBlock("*Model_Space");
    Layout model;
    model.name = "Model";
    model.isModel = true;
    model.block = 0;
    drawing.layouts.push_back(model);
  }
  std::int32_t AddLayer(const std::string& name, std::int16_t color) {
    Layer layer{name};
    layer.color.index = color;
    drawing.layers.push_back(layer);
    return static_cast<std::int32_t>(drawing.layers.size() - 1);
  }
  std::int32_t AddBlock(const std::string& name) {
    Block block;
    block.name = name;
    drawing.blocks.push_back(block);
    return static_cast<std::int32_t>(drawing.blocks.size() - 1);
  }
  // A paper layout "Layout1" after the model; gives its block.
  std::int32_t AddSheet() {
    const std::int32_t paper = AddBlock("*Paper_Space");
    Layout sheet;
    sheet.name = "Layout1";
    sheet.block = paper;
    drawing.layouts.push_back(sheet);
    return paper;
  }
  Entity& Add(std::int32_t block, EntityData data) {
    Entity entity;
    entity.data = std::move(data);
    drawing.blocks[block].entities.push_back(std::move(entity));
    return drawing.blocks[block].entities.back();
  }
  // Draws model space with a scale of 2 points per unit and gives the trace.
  std::string Render(double scale = 2.0) {
    CRenderer renderer(drawing, text, trace);
    renderer.DrawLayout(0, Affine3::Scale(scale, scale, scale), 1000, 1000);
    return trace.text;
  }
};

}  // namespace

TEST(Renderer, LineCarriesItsLayerColourAndLineweight) {
  Scene s;
  const std::int32_t walls = s.AddLayer("WALLS", 1);
  s.drawing.layers[walls].lineweight = 50;  // 0.5 mm = 1.417 points
  Entity& line = s.Add(0, Line{{0, 0, 0}, {10, 5, 0}});
  line.layer = walls;
  s.trace.WidthDivisor = 2;
  EXPECT_EQ(s.Render(),
            "BeginEntityDraw WALLS LINE\n"
            "SetColor ff0000 1\n"
            "SetLineWidth 3\n"
            "MoveTo 0 0\n"
            "LineTo 20 10\n"
            "EndEntityDraw\n");
}

TEST(Renderer, HiddenLayersAndDefpointsAreNotDrawn) {
  Scene s;
  for (const char* name : {"OFF", "FROZEN", "NOPLOT", "Defpoints"}) {
    const std::int32_t layer = s.AddLayer(name, 3);
    Entity& line = s.Add(0, Line{{0, 0, 0}, {1, 1, 0}});
    line.layer = layer;
  }
  s.drawing.layers[1].off = true;
  s.drawing.layers[2].frozen = true;
  s.drawing.layers[3].plottable = false;
  EXPECT_EQ(s.Render(), "");
}

TEST(Renderer, NestedInsertsPassLayerAndByBlockColourDown) {
  Scene s;
  const std::int32_t doors = s.AddLayer("DOORS", 5);
  const std::int32_t inner = s.AddBlock("LEAF");
  Entity& leaf = s.Add(inner, Line{{0, 0, 0}, {1, 0, 0}});
  leaf.color.index = Color::kByBlock;  // on layer 0: takes the insert's layer and colour
  const std::int32_t outer = s.AddBlock("DOOR");
  Insert placeLeaf;
  placeLeaf.block = inner;
  placeLeaf.insertion = {0, 1, 0};
  Entity& middle = s.Add(outer, placeLeaf);
  middle.color.index = Color::kByBlock;
  Insert placeDoor;
  placeDoor.block = outer;
  placeDoor.insertion = {10, 0, 0};
  placeDoor.rotation = 90;
  placeDoor.scale = {2, 2, 2};
  Entity& door = s.Add(0, placeDoor);
  door.layer = doors;
  door.color.index = 2;  // yellow, reaching the leaf through two BYBLOCKs
  EXPECT_EQ(s.Render(1.0),
            "BeginEntityDraw DOORS LINE\n"
            "SetColor ffff00 2\n"
            "SetLineWidth 1\n"
            "MoveTo 8 0\n"
            "LineTo 8 2\n"
            "EndEntityDraw\n");
}

TEST(Renderer, BlocksThatInsertThemselvesStop) {
  Scene s;
  const std::int32_t a = s.AddBlock("A");
  const std::int32_t b = s.AddBlock("B");
  Insert toB, toA;
  toB.block = b;
  toA.block = a;
  s.Add(a, Line{{0, 0, 0}, {1, 0, 0}});
  s.Add(a, toB);
  s.Add(b, toA);
  s.Add(0, toA);
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(0, Affine3{}, 100, 100);
  EXPECT_EQ(renderer.PrimitiveCount(), 2) << "the line of A once";
  EXPECT_EQ(renderer.DroppedCount(), 1);
}

// A page that passes its limit of primitives leaves the rest out and says so, once.
TEST(Renderer, APageThatPassesItsLimitOfPrimitivesSaysSo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "fifty million points take too long under the sanitizers";
#endif
  Scene s;
  const std::int32_t zigzag = s.AddBlock("ZIGZAG");
  Polyline points;
  for (int i = 0; i < 10000; ++i) points.vertices.push_back({{i * 1.0, i % 2 * 1.0, 0}});
  s.Add(zigzag, points);
  Insert one;
  one.block = zigzag;
  for (int i = 0; i < 5100; ++i) s.Add(0, one);  // 51,000,000 points
  CExtentsSink extents;
  CRenderer renderer(s.drawing, s.text, extents);
  renderer.DrawLayout(0, Affine3{}, 0, 0);
  EXPECT_TRUE(renderer.BudgetSpent());
  EXPECT_EQ(renderer.Warnings(),
            std::vector<std::string>{"the page reached its limit of 50000000 drawing primitives: "
                                     "the rest of the drawing is left out"});
}

TEST(Renderer, ArcsStayArcsUnderTurnsAndMirrors) {
  Scene s;
  s.Add(0, Arc{{0, 0, 0}, 10, 0, 90});
  EXPECT_NE(s.Render(1.0).find("Arc 0 0 10 0 1.571\n"), std::string::npos) << s.trace.text;
  Scene mirrored;
  mirrored.Add(0, Arc{{0, 0, 0}, 10, 0, 90});
  CRenderer renderer(mirrored.drawing, mirrored.text, mirrored.trace);
  renderer.DrawLayout(0, Affine3::Scale(-1, 1, 1), 100, 100);
  // Mirrored in x: from angle π to π/2, clockwise.
  EXPECT_NE(mirrored.trace.text.find("Arc 0 0 10 3.142 1.571\n"), std::string::npos)
      << mirrored.trace.text;
  Scene squashed;
  squashed.Add(0, Circle{{0, 0, 0}, 10});
  CRenderer flat(squashed.drawing, squashed.text, squashed.trace);
  flat.DrawLayout(0, Affine3::Scale(1, 0.5, 1), 100, 100);
  EXPECT_EQ(squashed.trace.text.find("Arc"), std::string::npos) << "an ellipse on the page";
  EXPECT_NE(squashed.trace.text.find("LineTo 10 0\n"), std::string::npos) << squashed.trace.text;
}

TEST(Renderer, BulgesBecomeArcsThroughTheRightSide) {
  // A half circle from (0,0) to (10,0), counter-clockwise: it passes below, through (5,-5).
  const auto points = PolylinePoints({{{0, 0, 0}, 0, 0, 1.0}, {{10, 0, 0}}}, false, 0.01);
  ASSERT_GT(points.size(), 10u);
  double lowest = 0;
  for (const Vec3& p : points) lowest = std::min(lowest, p.y);
  EXPECT_NEAR(lowest, -5, 0.01);
  EXPECT_NEAR(points.back().x, 10, 1e-9);
  // A negative bulge turns the other way.
  const auto other = PolylinePoints({{{0, 0, 0}, 0, 0, -1.0}, {{10, 0, 0}}}, false, 0.01);
  double highest = 0;
  for (const Vec3& p : other) highest = std::max(highest, p.y);
  EXPECT_NEAR(highest, 5, 0.01);
}

// Asked for the points that can bound a polyline under a map, it gives far fewer, whose box under
// the map is exactly the whole list's: for bulges either way, open and closed, under maps that
// turn, mirror, shear and tilt. The whole list's count is given all the same.
TEST(Renderer, BulgesMeasuredByTheirBoundingPointsKeepTheirBox) {
  const std::vector<PolylineVertex> vertices = {{{0, 0, 3}, 0, 0, 1.0},
                                                {{10, 0, 3}, 0, 0, -0.4},
                                                {{14, 6, 3}, 0, 0, 2.5},
                                                {{3, 9, 3}, 0, 0, 0.2}};
  Affine3 shear;
  shear.m[0][1] = 0.8;
  shear.m[1][0] = -0.3;
  const Affine3 tilt = Affine3::FromAxes({1, 0, 0}, {0, 0.6, 0.8}, {0, -0.8, 0.6});
  const Affine3 maps[] = {Affine3{}, Affine3::RotateZ(0.7),
                          Affine3::Scale(-1, 1, 1) * Affine3::RotateZ(2.1), shear,
                          Affine3::Translate({5, -2, 0}) * tilt * Affine3::RotateZ(-1.2)};
  const auto box = [](const std::vector<Vec3>& points, const Affine3& map) {
    std::array<double, 4> b = {1e300, 1e300, -1e300, -1e300};
    for (const Vec3& point : points) {
      const Vec3 p = map.Apply(point);
      b = {std::min(b[0], p.x), std::min(b[1], p.y), std::max(b[2], p.x), std::max(b[3], p.y)};
    }
    return b;
  };
  for (const bool closed : {false, true}) {
    const std::vector<Vec3> all = PolylinePoints(vertices, closed, 1e-4);
    for (const Affine3& map : maps) {
      std::size_t full = 0;
      const std::vector<Vec3> some =
          PolylinePoints(vertices, closed, 1e-4, kNoPointLimit, nullptr, &map, &full);
      EXPECT_EQ(full, all.size());
      EXPECT_LT(some.size() * 20, all.size());
      EXPECT_EQ(box(some, map), box(all, map)) << "closed " << closed;
    }
  }
}

// Measuring, ellipses, tilted ones and arcs drawn as curves (under a squashing map) give only
// the points that can bound them, and the box is exactly the one all their points give.
TEST(Renderer, CurvesMeasuredByTheirBoundingPointsKeepTheirBox) {
  Scene s;
  Ellipse whole{{3, 4, 0}, {40, 25, 0}, 0.3};
  Ellipse part{{-20, 10, 5}, {-8, 30, 0}, 0.6, 0.4, 4.1};
  s.Add(0, whole);
  s.Add(0, part).extrusion = {0.3, -0.4, 0.866};
  s.Add(0, Arc{{50, -10, 0}, 35, 200, 75});
  s.Add(0, Circle{{-40, -40, 2}, 12});
  const Affine3 maps[] = {Affine3::Scale(1, 0.5, 1),
                          Affine3::RotateZ(0.4) * Affine3::Scale(2, -1, 1)};
  for (const Affine3& map : maps) {
    std::array<std::array<double, 4>, 2> boxes{};
    std::int64_t primitives[2] = {};
    for (const bool measuring : {false, true}) {
      CExtentsSink extents;
      CRenderer renderer(s.drawing, s.text, extents);
      renderer.SetTolerance(1e-5);
      renderer.SetMeasuring(measuring);
      renderer.DrawLayout(0, map, 0, 0);
      boxes[measuring] = {extents.min.x, extents.min.y, extents.max.x, extents.max.y};
      primitives[measuring] = renderer.PrimitiveCount();
    }
    EXPECT_EQ(boxes[1], boxes[0]);
    EXPECT_LT(primitives[1] * 20, primitives[0]);
  }
}

TEST(Renderer, WidePolylinesAreFilled) {
  Scene s;
  Polyline wide;
  wide.vertices = {{{0, 0, 0}}, {{10, 0, 0}}};
  wide.constantWidth = 2;
  s.Add(0, wide);
  EXPECT_NE(s.Render(1.0).find("Polygon 0,1 10,1 10,-1 0,-1\n"), std::string::npos) << s.trace.text;
}

// A square hatch of side 10 with a square hole from 4 to 6, hatched by one family of lines.
Hatch SquareWithHole(HatchPatternLine family) {
  Hatch hatch;
  hatch.pattern = "TEST";
  for (const auto& [a, b] : {std::pair{0.0, 10.0}, std::pair{4.0, 6.0}}) {
    HatchPath path;
    path.isPolyline = true;
    path.vertices = {{{a, a, 0}}, {{b, a, 0}}, {{b, b, 0}}, {{a, b, 0}}};
    hatch.paths.push_back(path);
  }
  hatch.patternLines.push_back(std::move(family));
  return hatch;
}

// The segments a trace draws: each MoveTo with the LineTo after it.
std::vector<std::array<double, 4>> Segments(const std::string& trace) {
  std::vector<std::array<double, 4>> segments;
  std::istringstream lines(trace);
  std::string word;
  double x = 0, y = 0;
  while (lines >> word) {
    if (word == "MoveTo") {
      lines >> x >> y;
    } else if (word == "LineTo") {
      std::array<double, 4> s{x, y, 0, 0};
      lines >> s[2] >> s[3];
      segments.push_back(s);
    }
  }
  return segments;
}

TEST(Renderer, PatternHatchesDrawTheirLinesInsideTheBoundaryAndOutsideIslands) {
  Scene s;
  HatchPatternLine horizontal;
  horizontal.base = {0, 0.5};
  horizontal.offset = {0, 1};
  s.Add(0, SquareWithHole(horizontal));
  const auto segments = Segments(s.Render(1.0));
  // Ten lines at y = 0.5 … 9.5; the two through the hole are cut in two.
  ASSERT_EQ(segments.size(), 12u) << s.trace.text;
  for (const auto& [x1, y1, x2, y2] : segments) {
    EXPECT_DOUBLE_EQ(y1, y2);
    const bool throughHole = y1 > 4 && y1 < 6;
    EXPECT_TRUE(x1 == 0 || (throughHole && x1 == 6)) << x1 << "," << y1;
    EXPECT_TRUE(x2 == 10 || (throughHole && x2 == 4)) << x2 << "," << y2;
  }
}

TEST(Renderer, PatternHatchLinesAreDashedFromTheirBasePoint) {
  Scene s;
  HatchPatternLine dashed;
  dashed.angle = 90;
  dashed.base = {0.5, 0};
  dashed.offset = {-3, 0};  // turned with the lines: the lines are 3 apart along x
  dashed.dashes = {2, -1};
  Hatch hatch = SquareWithHole(dashed);
  hatch.paths.pop_back();
  s.Add(0, hatch);
  const auto segments = Segments(s.Render(1.0));
  // Lines at x = 0.5, 3.5, 6.5, 9.5, each dashed 0–2, 3–5, 6–8, 9–10.
  ASSERT_EQ(segments.size(), 16u) << s.trace.text;
  const auto has = [&](std::array<double, 4> wanted) {
    return std::find(segments.begin(), segments.end(), wanted) != segments.end();
  };
  EXPECT_TRUE(has({0.5, 0, 0.5, 2}));
  EXPECT_TRUE(has({0.5, 3, 0.5, 5}));
  EXPECT_TRUE(has({9.5, 9, 9.5, 10})) << "the last dash is cut at the boundary";
  for (const auto& [x1, y1, x2, y2] : segments) {
    EXPECT_EQ(std::fmod(y1, 3.0), 0.0) << "every dash starts where the pattern puts it";
    EXPECT_LE(y2 - y1, 2.0);
  }
}

TEST(Renderer, PatternHatchesTooDenseForThePageAreFilled) {
  Scene s;
  HatchPatternLine dense;
  dense.offset = {0, 0.01};
  s.Add(0, SquareWithHole(dense));
  const std::string trace = s.Render(1.0);
  EXPECT_NE(trace.find("PolyPolygon"), std::string::npos) << trace.substr(0, 200);
  EXPECT_EQ(trace.find("LineTo"), std::string::npos);
}

TEST(Renderer, SplinesPassThroughTheirEndsAndStayNearTheCurve) {
  Spline spline;
  spline.degree = 2;
  spline.controlPoints = {{0, 0, 0}, {5, 10, 0}, {10, 0, 0}};
  spline.knots = {0, 0, 0, 1, 1, 1};
  const auto points = SplinePoints(spline, 0.01);
  EXPECT_NEAR(points.front().x, 0, 1e-9);
  EXPECT_NEAR(points.back().x, 10, 1e-9);
  // The quadratic Bézier peaks at half its control point's height.
  double peak = 0;
  for (const Vec3& p : points) peak = std::max(peak, p.y);
  EXPECT_NEAR(peak, 5, 0.01);
}

TEST(Renderer, ViewportsClipModelSpaceThroughTheirView) {
  Scene s;
  s.Add(0, Line{{0, 0, 0}, {100, 0, 0}});
  const std::int32_t paper = s.AddSheet();
  Viewport overall;
  overall.id = 1;
  overall.width = overall.height = overall.viewHeight = 1000;
  const Viewport view = SmallView();
  s.Add(paper, overall);
  s.Add(paper, view);
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(1, Affine3{}, 1000, 1000);
  EXPECT_EQ(s.trace.text,
            "SetColor ffffff 7\n"
            "SetLineWidth 1\n"
            "PushClipPolygon 30,40 70,40 70,60 30,60 30,40\n"
            "BeginEntityDraw 0 LINE\n"
            "SetColor ffffff 7\n"
            "SetLineWidth 1\n"
            "MoveTo 50 50\n"
            // The line leaves the clip at x = 70: it is cut one line width (0.709) and one
            // unit beyond it, so nothing is written where nothing can show.
            "LineTo 71.709 50\n"
            "EndEntityDraw\n"
            "PopClipPolygon\n");
}

TEST(Renderer, ViewportsOnALayerThatDoesNotPlotShowTheirViewWithoutAFrame) {
  // Offices keep viewports on a layer that is off, frozen or not plotted so that only the
  // border disappears.
  for (const auto& hide : std::vector<std::function<void(Layer&)>>{
           [](Layer& l) { l.plottable = false; }, [](Layer& l) { l.off = true; },
           [](Layer& l) { l.frozen = true; }}) {
    Scene s;
    s.Add(0, Line{{0, 0, 0}, {100, 0, 0}});
    const std::int32_t hidden = s.AddLayer("viewports", 7);
    hide(s.drawing.layers[static_cast<std::size_t>(hidden)]);
    const std::int32_t paper = s.AddSheet();
    const Viewport view = SmallView();
    s.Add(paper, view).layer = hidden;
    CRenderer renderer(s.drawing, s.text, s.trace);
    renderer.DrawLayout(1, Affine3{}, 1000, 1000);
    EXPECT_NE(s.trace.text.find("MoveTo 50 50\nLineTo 71.709 50\n"), std::string::npos)
        << s.trace.text;
    EXPECT_EQ(s.trace.text.rfind("PushClipPolygon unstroked ", 0), 0u)
        << "the frame of a viewport whose layer does not plot does not plot either:\n"
        << s.trace.text;
  }
}

TEST(Renderer, DashedLinetypesSplitLinesOnThePage) {
  Scene s;
  Linetype dashed{"DASHED", "", 1.5, {1.0, -0.5}, {}};
  s.drawing.linetypes.push_back(dashed);
  Entity& line = s.Add(0, Line{{0, 0, 0}, {3, 0, 0}});
  line.linetype = 0;
  EXPECT_NE(s.Render(2.0).find("MoveTo 0 0\nLineTo 2 0\nMoveTo 3 0\nLineTo 5 0\n"),
            std::string::npos)
      << s.trace.text;
}

TEST(Renderer, TextIsFilledOutlinesOfTheRightSize) {
  Scene s;
  Text text;
  text.text = "H";
  text.height = 10;
  text.style = 0;
  s.Add(0, text);
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(0, Affine3{}, 1000, 1000);
  EXPECT_NE(s.trace.text.find("FillPolyPolygon "), std::string::npos) << s.trace.text;
  EXPECT_EQ(s.trace.text.find("\nPolyPolygon "), std::string::npos)
      << "glyphs are filled, never outlined with the pen";
}

TEST(Renderer, ConstructionLinesAreClippedToTheOutput) {
  Scene s;
  s.Add(0, XLine{{{50, 50, 0}, {1, 0, 0}}});
  s.Add(0, Ray{{{50, 20, 0}, {0, 1, 0}}});
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(0, Affine3{}, 100, 100);
  EXPECT_NE(s.trace.text.find("MoveTo -1 50\nLineTo 101 50\n"), std::string::npos) << s.trace.text;
  EXPECT_NE(s.trace.text.find("MoveTo 50 20\nLineTo 50 101\n"), std::string::npos) << s.trace.text;
}

TEST(Renderer, ViewportsClipToTheOutlineOfTheirBoundaryEntity) {
  // A circle of radius 10 around (50, 50), and an ellipse of half axes 10 and 5 turned by 90°;
  // every corner of the clip lies on the outline, and the outline reaches its extremes.
  Ellipse ellipse;
  ellipse.center = {50, 50, 0};
  ellipse.majorAxis = {0, 10, 0};
  ellipse.ratio = 0.5;
  ellipse.startParam = 0;
  ellipse.endParam = 1;  // an arc: the whole ellipse clips all the same
  const std::vector<std::pair<EntityData, Vec2>> boundaries = {{Circle{{50, 50, 0}, 10}, {10, 10}},
                                                               {ellipse, {5, 10}}};
  for (const auto& [boundary, halfAxes] : boundaries) {
    Scene s;
    s.Add(0, Line{{0, 0, 0}, {1, 0, 0}});
    const std::int32_t paper = s.AddSheet();
    s.Add(paper, boundary);
    Viewport view;
    view.id = 2;
    view.center = {50, 50, 0};
    view.width = view.height = 20;
    view.viewHeight = 10;
    view.clipEntityIndex = 0;
    s.Add(paper, view);
    CRenderer renderer(s.drawing, s.text, s.trace);
    renderer.DrawLayout(1, Affine3{}, 1000, 1000);
    const std::string& trace = s.trace.text;
    const std::size_t clip = trace.find("PushClipPolygon ");
    ASSERT_NE(clip, std::string::npos) << trace;
    std::istringstream corners(trace.substr(clip + 16, trace.find('\n', clip) - clip - 16));
    std::string corner;
    int count = 0;
    double left = 1e9, right = -1e9, bottom = 1e9, top = -1e9;
    while (corners >> corner) {
      const double x = std::stod(corner.substr(0, corner.find(','))) - 50;
      const double y = std::stod(corner.substr(corner.find(',') + 1)) - 50;
      const double r = std::hypot(x / halfAxes.x, y / halfAxes.y);
      EXPECT_NEAR(r, 1.0, 0.002) << "a corner off the outline: " << corner;
      left = std::min(left, x);
      right = std::max(right, x);
      bottom = std::min(bottom, y);
      top = std::max(top, y);
      ++count;
    }
    EXPECT_GT(count, 16) << "the outline is flattened finely enough to look round";
    EXPECT_NEAR(right - left, 2 * halfAxes.x, 0.05) << trace.substr(clip, 200);
    EXPECT_NEAR(top - bottom, 2 * halfAxes.y, 0.05) << trace.substr(clip, 200);
  }
}

TEST(Renderer, AClippedGroupClipsItsMembersAndOnlyThem) {
  Scene scene;
  ClippedGroup group;
  group.boundary = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  Entity member;
  member.data = Line{{1, 1, 0}, {2, 2, 0}};
  group.entities.push_back(member);
  scene.Add(0, group);
  scene.Add(0, Line{{5, 5, 0}, {6, 6, 0}});
  const std::string trace = scene.Render();
  // The boundary clips without being drawn.
  const std::size_t push = trace.find("PushClipPolygon unstroked 0,0 20,0 20,20 0,20 0,0");
  const std::size_t inside = trace.find("MoveTo 2 2");
  const std::size_t pop = trace.find("PopClipPolygon");
  const std::size_t outside = trace.find("MoveTo 10 10");
  ASSERT_NE(push, std::string::npos) << trace;
  EXPECT_LT(push, inside) << trace;
  EXPECT_LT(inside, pop) << trace;
  EXPECT_LT(pop, outside) << trace;
}

TEST(Renderer, AClippedGroupWritesOnlyWhatItsClipCanShow) {
  Scene scene;
  const std::int32_t far = scene.AddLayer("FAR", 1);
  ClippedGroup group;
  group.boundary = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  Entity crossing;
  crossing.data = Line{{5, 5, 0}, {100, 5, 0}};
  group.entities.push_back(crossing);
  Entity outside;
  outside.data = Circle{{50, 50, 0}, 1};
  outside.layer = far;
  group.entities.push_back(outside);
  scene.Add(0, group);
  // A second group on the page, but beyond the output area of 1000 × 1000 points.
  ClippedGroup beyond = group;
  beyond.boundary = {{600, 0}, {610, 0}, {610, 10}, {600, 10}};
  scene.Add(0, beyond);
  const std::string trace = scene.Render();
  // The line leaves the clip at page x = 20: it is cut a line width (the default 0.25 mm, 0.709
  // points) and a point beyond it.
  EXPECT_NE(trace.find("MoveTo 10 10\nLineTo 21.709 10\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("FAR"), std::string::npos) << "the circle lies outside the clip\n" << trace;
  // The second group writes nothing, not even its clip.
  EXPECT_EQ(trace.find("PushClipPolygon"), trace.rfind("PushClipPolygon")) << trace;
  EXPECT_EQ(trace.find("1200,"), std::string::npos) << trace;
}

TEST(Renderer, ViewportsWriteOnlyWhatTheirClipCanShow) {
  Scene s;
  s.drawing.header.psLtScale = 0;  // dashes grow with the view: 2 and 1 on paper
  Linetype dashed{"DASHED", "", 1.5, {1.0, -0.5}, {}};
  s.drawing.linetypes.push_back(dashed);
  s.Add(0, Line{{-100, 0, 0}, {100, 0, 0}}).linetype = 0;
  s.Add(0, Circle{{500, 500, 0}, 1});
  Text far;
  far.text = "far away";
  far.insertion = {-400, 300, 0};
  far.height = 5;
  s.Add(0, far);
  const std::int32_t paper = s.AddSheet();
  const Viewport view = SmallView();
  s.Add(paper, view);
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(1, Affine3{}, 1000, 1000);
  const std::string& trace = s.trace.text;
  EXPECT_EQ(trace.find("BeginEntityDraw 0 CIRCLE"), std::string::npos)
      << "the circle lies wholly outside the clip\n"
      << trace;
  EXPECT_EQ(trace.find("BeginEntityDraw 0 TEXT"), std::string::npos) << "so does the text\n"
                                                                     << trace;
  // Dashes run from the line's start at paper x = -150 with a period of 3; the ones that
  // cross the clip's margin (one line width and one unit) are cut, the rest keep their place.
  EXPECT_NE(trace.find("MoveTo 28.291 50\nLineTo 29 50\nMoveTo 30 50\nLineTo 32 50\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("MoveTo 69 50\nLineTo 71 50\nEndEntityDraw\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("-150"), std::string::npos) << trace;
}

TEST(Renderer, TextLinesAreBarsUnderTheirStretchOfText) {
  // Keeps the points of every fill.
  struct CFills : CTraceExport {
    std::vector<std::vector<PointStruct>> fills;
    void FillPolyPolygon(PointStruct* points, const int* counts, int rings) override {
      int total = 0;
      for (int k = 0; k < rings; ++k) total += counts[k];
      fills.emplace_back(points, points + total);
      CTraceExport::FillPolyPolygon(points, counts, rings);
    }
  };
  Scene s;
  Text text;
  text.text = "ab cd";
  text.lines = {{'u', 3, 5}};
  text.height = 10;
  text.style = 0;
  s.Add(0, text);
  CFills sink;
  CRenderer renderer(s.drawing, s.text, sink);
  renderer.DrawLayout(0, Affine3{}, 1000, 1000);
  // The glyphs, then the bar on its own: from the advance of "ab " to that of "ab cd", 2 below
  // the baseline and 0.6 thick.
  ASSERT_EQ(sink.fills.size(), 2u) << sink.text;
  const std::vector<PointStruct>& bar = sink.fills.back();
  ASSERT_EQ(bar.size(), 4u);
  const double from = s.text.MeasureWidth("ab ", "arial.ttf", "") * 10;
  const double to = s.text.MeasureWidth("ab cd", "arial.ttf", "") * 10;
  EXPECT_NEAR(bar[0].x, from, 1e-9);
  EXPECT_NEAR(bar[1].x, to, 1e-9);
  EXPECT_NEAR(bar[0].y, -2.3, 1e-9);
  EXPECT_NEAR(bar[2].y, -1.7, 1e-9);
}

TEST(Renderer, PolyfaceMeshesDrawTheirVisibleFaceEdgesOnly) {
  Scene s;
  Polyline mesh;
  mesh.is3d = true;
  mesh.polyface = true;
  mesh.vertices = {{{0, 0, 0}}, {{10, 0, 0}}, {{10, 10, 0}}, {{0, 10, 0}}};
  mesh.faces = {{1, 2, -3}};  // the edge from 3 back to 1 is hidden
  s.Add(0, mesh);
  Polyline empty = mesh;
  empty.faces.clear();  // vertices but no faces: nothing to draw, not a zigzag through them
  s.Add(0, empty);
  const std::string trace = s.Render(1.0);
  EXPECT_NE(trace.find("MoveTo 0 0\nLineTo 10 0\nMoveTo 10 0\nLineTo 10 10\n"), std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("LineTo 0 10"), std::string::npos) << trace;
  const std::size_t first = trace.find("BeginEntityDraw ");
  EXPECT_EQ(trace.find("BeginEntityDraw ", first + 1), std::string::npos)
      << "the mesh without faces writes nothing\n"
      << trace;
}

// ---- Raster images, block clips and sheets ------------------------------------------------

namespace {

// A scene with one image definition whose pixels are bitmap.
struct ImageScene : Scene {
  std::unique_ptr<CDib> bitmap;
  explicit ImageScene(std::unique_ptr<CDib> pixels) : bitmap(std::move(pixels)) {
    drawing.imageDefs.emplace_back();
  }
  // An image of the bitmap's size with the given pixel vectors.
  Image& AddImage(Vec3 insertion, Vec3 u, Vec3 v) {
    Image image;
    image.insertion = insertion;
    image.u = u;
    image.v = v;
    image.pixelSize = {static_cast<double>(bitmap->Width()), static_cast<double>(bitmap->Height())};
    image.imageDef = 0;
    return std::get<Image>(Add(0, image).data);
  }
  std::string RenderImages() {
    CRenderer renderer(drawing, text, trace);
    renderer.SetImageSource([this](std::int32_t) { return bitmap.get(); });
    renderer.DrawLayout(0, Affine3::Scale(2, 2, 2), 1000, 1000);
    return trace.text;
  }
};

std::unique_ptr<CDib> Photo(int width, int height) {
  auto dib = CDib::Create(width, height, 24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      dib->SetPixelRgb(x, y, static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(90 * y),
                       100);
    }
  }
  return dib;
}

// The lines of the trace that start with prefix.
std::vector<std::string> LinesStarting(const std::string& trace, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace

namespace {

// The points of the paths in a trace, in order.
std::vector<Vec2> TracedPoints(const std::string& trace) {
  std::vector<Vec2> points;
  std::istringstream lines(trace);
  std::string word;
  while (lines >> word) {
    if (word != "MoveTo" && word != "LineTo") continue;
    Vec2 p;
    lines >> p.x >> p.y;
    points.push_back(p);
  }
  return points;
}

}  // namespace

TEST(RendererImages, TurnedAndMirroredImagesAreLaidByTheirPlacement) {
  ImageScene s(Photo(4, 2));
  s.AddImage({10, 0, 0}, {1, 0, 0}, {0, 1, 0});   // upright
  s.AddImage({10, 0, 0}, {0, 1, 0}, {-1, 0, 0});  // turned a quarter
  s.AddImage({30, 0, 0}, {-1, 0, 0}, {0, 1, 0});  // mirrored
  s.AddImage({0, 0, 0}, {1, 0.5, 0}, {0, 1, 0});  // slanted
  const std::string trace = s.RenderImages();
  EXPECT_EQ(LinesStarting(trace, "Raster "), std::vector<std::string>{"Raster 20 0 8 4 4x2"})
      << "an upright picture reaches the sink as before";
  EXPECT_EQ(
      LinesStarting(trace, "RasterImage "),
      (std::vector<std::string>{"RasterImage 0 8 -4 0 20 0 4x2", "RasterImage -8 0 0 4 60 0 4x2",
                                "RasterImage 8 4 0 4 0 0 4x2"}));
}

TEST(RendererImages, BitonalImagesDrawTheirSetPixelsInTheImagesColour) {
  auto scan = CDib::Create(3, 1, 24);
  scan->SetPixelRgb(0, 0, 255, 255, 255);
  scan->SetPixelRgb(1, 0, 0, 0, 0);
  scan->SetPixelRgb(2, 0, 255, 255, 255);
  ImageScene s(std::move(scan));
  s.AddImage({0, 0, 0}, {1, 0, 0}, {0, 1, 0}).transparent = true;
  s.AddImage({0, 5, 0}, {1, 0, 0}, {0, 1, 0});
  s.AddImage({0, 10, 0}, {1, 0, 0}, {0, 1, 0});
  s.drawing.blocks[0].entities.back().color.index = 1;
  const std::string trace = s.RenderImages();
  // Without the transparency flag the picture is opaque: drawn as it is, then its ink again in
  // the image's colour (white by default, red for the third).
  EXPECT_EQ(LinesStarting(trace, "RasterImage "),
            (std::vector<std::string>{
                "RasterImage 6 0 0 2 0 0 3x1 stencil", "RasterImage 6 0 0 2 0 10 3x1",
                "RasterImage 6 0 0 2 0 10 3x1 stencil", "RasterImage 6 0 0 2 0 20 3x1",
                "RasterImage 6 0 0 2 0 20 3x1 stencil"}));
  EXPECT_TRUE(LinesStarting(trace, "Raster ").empty());
  EXPECT_NE(trace.find("SetColor ff0000 1\nSetLineWidth 1\nRasterImage 6 0 0 2 0 20 3x1\n"
                       "RasterImage 6 0 0 2 0 20 3x1 stencil\n"),
            std::string::npos)
      << trace;

  ImageScene photo(Photo(3, 1));
  photo.AddImage({0, 0, 0}, {1, 0, 0}, {0, 1, 0}).transparent = true;
  EXPECT_EQ(LinesStarting(photo.RenderImages(), "RasterImage ").size(), 0u)
      << "a picture of many colours has no set pixels to keep";
}

TEST(RendererImages, InvertedClipsShowThePictureAroundTheBoundary) {
  ImageScene s(Photo(4, 2));
  Image& image = s.AddImage({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  image.clipping = true;
  image.clipBoundary = {{0.5, 0.5}, {2.5, 1.5}};  // pixels from the top-left corner
  Image inverted = image;
  inverted.clipInverted = true;
  inverted.insertion = {20, 0, 0};
  s.Add(0, inverted);
  const std::string trace = s.RenderImages();
  const std::vector<std::string> clips = LinesStarting(trace, "PushClipPolygon ");
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_EQ(clips[0], "PushClipPolygon 2,2 6,2 6,0 2,0 2,2");
  // The picture's outline and, turning the other way, the boundary as a hole.
  EXPECT_EQ(clips[1],
            "PushClipPolygon unstroked 40,0 48,0 48,4 40,4 40,0 42,2 46,2 46,0 42,0 42,2 40,0");
  EXPECT_EQ(LinesStarting(trace, "PopClipPolygon").size(), 2u);
}

TEST(RendererImages, BrightnessContrastAndFadeChangeThePixels) {
  // A sink that notes the first pixel of every picture it gets.
  struct PixelTrace : CTraceExport {
    std::vector<int> levels;
    void Raster(double, double, int, int, int, int, int, int, void*, HBITMAP bitmap, long,
                void*) override {
      CDibReader reader;
      std::uint8_t rgb[3] = {};
      if (reader.Open(bitmap)) reader.ReadRow(0, 0, 1, rgb);
      levels.push_back(rgb[0]);
    }
  };
  auto gray = CDib::Create(1, 1, 24);
  gray->SetPixelRgb(0, 0, 100, 100, 100);
  Scene s;
  s.drawing.imageDefs.emplace_back();
  const std::array<std::array<int, 3>, 5> settings{
      {{50, 50, 0}, {50, 50, 50}, {0, 50, 0}, {100, 50, 0}, {50, 100, 0}}};
  for (const auto& [brightness, contrast, fade] : settings) {
    Image image;
    image.u = {1, 0, 0};
    image.v = {0, 1, 0};
    image.pixelSize = {1, 1};
    image.imageDef = 0;
    image.brightness = brightness;
    image.contrast = contrast;
    image.fade = fade;
    s.Add(0, image);
  }
  PixelTrace trace;
  CRenderer renderer(s.drawing, s.text, trace);
  renderer.SetImageSource([&gray](std::int32_t) { return gray.get(); });
  renderer.DrawLayout(0, Affine3::Scale(2, 2, 2), 1000, 1000);
  // As stored; half faded towards the paper; brightness 0 and 100; full contrast splits the
  // levels at the middle.
  EXPECT_EQ(trace.levels, (std::vector<int>{100, 178, 0, 255, 0}));
}

TEST(RendererClips, ClippedBlockReferencesShowOnlyWhatLiesInsideTheirBoundary) {
  Scene s;
  const std::int32_t block = s.AddBlock("DOOR");
  s.Add(block, Line{{-5, 0.5, 0}, {5, 0.5, 0}});
  Insert insert;
  insert.block = block;
  insert.insertion = {10, 10, 0};
  insert.scale = {2, 2, 2};
  insert.clipBoundary = {{0, 0}, {1, 1}};
  s.Add(0, insert);
  const std::string trace = s.Render();
  EXPECT_EQ(LinesStarting(trace, "PushClipPolygon "),
            std::vector<std::string>{"PushClipPolygon unstroked 20,20 24,20 24,24 20,24 20,20"});
  EXPECT_EQ(LinesStarting(trace, "PopClipPolygon").size(), 1u);
  // The line is written only as far as the clip can show it (and a line's width beyond).
  for (const std::string& line : LinesStarting(trace, "LineTo ")) {
    EXPECT_LT(std::stod(line.substr(7)), 30) << line;
  }
}

TEST(RendererClips, InvertedClipsHideTheInsideAndFramesPlotOnlyWhenTheDrawingSaysSo) {
  for (const int frame : {0, 1, 2}) {
    for (const bool inverted : {false, true}) {
      SCOPED_TRACE("$XCLIPFRAME " + std::to_string(frame) + (inverted ? ", inverted" : ""));
      Scene s;
      s.drawing.header.xclipFrame = frame;
      const std::int32_t block = s.AddBlock("DOOR");
      s.Add(block, Line{{-5, 0.5, 0}, {5, 0.5, 0}});
      Insert insert;
      insert.block = block;
      insert.insertion = {10, 10, 0};
      insert.scale = {2, 2, 2};
      insert.clipBoundary = {{0, 0}, {1, 1}};
      insert.clipInverted = inverted;
      s.Add(0, insert).color.index = 3;
      const std::string trace = s.Render();
      const auto clips = LinesStarting(trace, "PushClipPolygon ");
      ASSERT_EQ(clips.size(), 1u) << trace;
      if (inverted) {
        // The page (1000 points square and a point round it, 2 more each way) counter-clockwise,
        // then the boundary clockwise: the line shows on both sides of the hole and not inside it.
        EXPECT_EQ(clips[0],
                  "PushClipPolygon unstroked -3,-3 1003,-3 1003,1003 -3,1003 -3,-3 20,20 20,24 "
                  "24,24 24,20 20,20 -3,-3");
        EXPECT_NE(trace.find("MoveTo 0 22\nLineTo 40 22\n"), std::string::npos) << trace;
      } else {
        EXPECT_EQ(clips[0], "PushClipPolygon unstroked 20,20 24,20 24,24 20,24 20,20");
      }
      // Only 1 plots the boundary, after the clip ends and in the reference's colour.
      const std::string drawn =
          "MoveTo 20 20\nLineTo 24 20\nLineTo 24 24\nLineTo 20 24\n"
          "LineTo 20 20\n";
      const std::size_t at = trace.find(drawn);
      if (frame == 1) {
        ASSERT_NE(at, std::string::npos) << trace;
        EXPECT_GT(at, trace.find("PopClipPolygon"));
        EXPECT_NE(trace.rfind("SetColor 00ff00 3", at), std::string::npos) << trace;
      } else {
        EXPECT_EQ(at, std::string::npos) << trace;
      }
    }
  }
}

TEST(RendererSheets, TheSheetsOwnViewportIsFoundWithoutItsNumber) {
  // DWG files keep no viewport numbers, and some writers store 0 or -1: the first viewport of
  // the layout is then the sheet's own, which shows nothing of model space.
  for (const int id : {0, -1}) {
    Scene s;
    s.Add(0, Line{{0, 0, 0}, {1, 0, 0}});
    const std::int32_t paper = s.AddSheet();
    Viewport overall;
    overall.id = id;
    overall.center = {500, 500, 0};
    overall.width = overall.height = overall.viewHeight = 1000;
    Viewport view = SmallView();
    view.id = id;
    s.Add(paper, overall);
    s.Add(paper, view);
    CRenderer renderer(s.drawing, s.text, s.trace);
    renderer.DrawLayout(1, Affine3{}, 1000, 1000);
    EXPECT_EQ(LinesStarting(s.trace.text, "PushClipPolygon "),
              std::vector<std::string>{"PushClipPolygon 30,40 70,40 70,60 30,60 30,40"})
        << "id " << id;
    EXPECT_EQ(SheetViewportIndex(s.drawing.blocks[paper]), 0);
  }
  Scene numbered;
  const std::int32_t paper = numbered.AddSheet();
  numbered.Add(paper, SmallView());
  Viewport sheet = SmallView();
  sheet.id = 1;
  numbered.Add(paper, sheet);
  EXPECT_EQ(SheetViewportIndex(numbered.drawing.blocks[paper]), 1) << "id 1 wherever it stands";
  Scene none;
  const std::int32_t bare = none.AddSheet();
  none.Add(bare, SmallView());
  EXPECT_EQ(SheetViewportIndex(none.drawing.blocks[bare]), -1) << "numbered views only";
}

TEST(Renderer, SplineLeadersPassThroughTheirVertices) {
  Scene s;
  Leader leader;
  leader.vertices = {{0, 0, 0}, {10, 10, 0}, {25, 5, 0}, {30, 12, 0}};
  leader.spline = true;
  leader.arrowhead = false;
  s.Add(0, leader);
  const std::vector<Vec2> points = TracedPoints(s.Render(1.0));
  ASSERT_GT(points.size(), 8u) << s.trace.text;
  for (const Vec3& vertex : leader.vertices) {
    double nearest = 1e9;
    for (std::size_t i = 1; i < points.size(); ++i) {
      // The distance from the vertex to the segment points[i - 1] → points[i].
      const Vec2 a = points[i - 1], b = points[i];
      const double dx = b.x - a.x, dy = b.y - a.y;
      const double length2 = dx * dx + dy * dy;
      const double t =
          length2 > 0
              ? std::clamp(((vertex.x - a.x) * dx + (vertex.y - a.y) * dy) / length2, 0.0, 1.0)
              : 0.0;
      nearest = std::min(nearest, std::hypot(a.x + dx * t - vertex.x, a.y + dy * t - vertex.y));
    }
    EXPECT_LT(nearest, 0.05) << "the curve misses the vertex " << vertex.x << "," << vertex.y;
  }
  // A curve, not the straight segments between the vertices: below the lowest vertex after it
  // turns there.
  double lowest = 1e9;
  for (const Vec2& p : points) {
    if (p.x > 10 && p.x < 30) lowest = std::min(lowest, p.y);
  }
  EXPECT_LT(lowest, 4.9);
}

TEST(Renderer, PaperSpaceLinetypeScalingKeepsDashLengthsOnPaperInViewports) {
  // SmallView shows model space at 2 paper units per model unit; the page is the paper.
  for (const int psLtScale : {1, 0}) {
    Scene s;
    s.drawing.header.psLtScale = psLtScale;
    s.drawing.linetypes.push_back(Linetype{"DASHED", "", 1.5, {1.0, -0.5}, {}});
    s.Add(0, Line{{0, 0, 0}, {8, 0, 0}}).linetype = 0;
    const std::int32_t paper = s.AddSheet();
    s.Add(paper, Line{{0, 10, 0}, {8, 10, 0}}).linetype = 0;
    s.Add(paper, SmallView());
    CRenderer renderer(s.drawing, s.text, s.trace);
    renderer.DrawLayout(1, Affine3{}, 1000, 1000);
    const std::string& trace = s.trace.text;
    EXPECT_NE(trace.find("MoveTo 0 10\nLineTo 1 10\nMoveTo 1.5 10\n"), std::string::npos)
        << "paper space dashes are as long as the linetype says\n"
        << trace;
    if (psLtScale == 1) {
      EXPECT_NE(trace.find("MoveTo 50 50\nLineTo 51 50\nMoveTo 51.5 50\n"), std::string::npos)
          << "with $PSLTSCALE 1, model space dashes keep the same length on paper\n"
          << trace;
    } else {
      EXPECT_NE(trace.find("MoveTo 50 50\nLineTo 52 50\nMoveTo 53 50\n"), std::string::npos)
          << "with $PSLTSCALE 0, model space dashes grow with the viewport's scale\n"
          << trace;
    }
  }
}

namespace {

// A compiled shape file of the given shapes (number, name, program).
std::string ShapeFileBytes(const std::vector<std::tuple<int, std::string, std::string>>& shapes) {
  std::string bytes("AutoCAD-86 shapes 1.0\r\n\x1a", 24);
  const auto word = [&bytes](int value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
  };
  word(std::get<0>(shapes.front()));
  word(std::get<0>(shapes.back()));
  word(static_cast<int>(shapes.size()));
  for (const auto& [number, name, program] : shapes) {
    word(number);
    word(static_cast<int>(name.size() + 1 + program.size()));
  }
  for (const auto& [number, name, program] : shapes) {
    bytes += name;
    bytes.push_back('\0');
    bytes += program;
  }
  return bytes;
}

// Shape 130: a tie across the line, one unit up and down from the pen's start.
const std::tuple<int, std::string, std::string> kTie{130, "TIE",
                                                     std::string("\x02\x1c\x01\x24\0", 5)};

}  // namespace

TEST(ShapeFile, RunsVectorsArcsBulgesAndSubshapes) {
  CShapeFile file;
  // 131: a half circle of radius 2 by octants, counter-clockwise from octant 0 (its centre
  // 2 to the left of the pen); 132: a bulge arc to (4, 0) bowing down; 133: the tie scaled by
  // 2 through a subshape, after a pen-up move of (3, 0).
  ASSERT_TRUE(file.Parse(
      ShapeFileBytes({kTie,
                      {131, "HALF", std::string("\x0a\x02\x04\0", 4)},
                      {132, "BOW", std::string("\x0c\x04\x00\x7f\0", 5)},
                      {133, "TWO", std::string("\x02\x08\x03\x00\x04\x02\x07\x82\0", 9)}})));
  const auto tie = file.Strokes(130);
  ASSERT_EQ(tie.size(), 1u);
  ASSERT_EQ(tie[0].size(), 2u);
  EXPECT_NEAR(tie[0][0].y, -1, 1e-12);
  EXPECT_NEAR(tie[0][1].y, 1, 1e-12);
  const auto half = file.Strokes(131);
  ASSERT_EQ(half.size(), 1u);
  EXPECT_NEAR(half[0].back().x, -4, 1e-9) << "the far end of the half circle";
  EXPECT_NEAR(half[0].back().y, 0, 1e-9);
  for (const Vec2& p : half[0]) {
    EXPECT_NEAR(std::hypot(p.x + 2, p.y), 2, 1e-9);
    EXPECT_GE(p.y, -1e-9) << "counter-clockwise from east runs through the top";
  }
  const auto bow = file.Strokes(132);
  ASSERT_EQ(bow.size(), 1u);
  double lowest = 0;
  for (const Vec2& p : bow[0]) lowest = std::min(lowest, p.y);
  EXPECT_NEAR(lowest, -2, 0.05) << "a bulge of 1 is a half circle, to the right of its chord";
  EXPECT_NEAR(bow[0].back().x, 4, 1e-12);
  const auto two = file.Strokes(133);
  ASSERT_EQ(two.size(), 1u);
  ASSERT_EQ(two[0].size(), 2u);
  EXPECT_NEAR(two[0][0].x, 3, 1e-12);
  EXPECT_NEAR(two[0][0].y, -2, 1e-12);
  EXPECT_NEAR(two[0][1].y, 2, 1e-12);
  EXPECT_TRUE(file.Strokes(999).empty());
  EXPECT_EQ(file.Above(), 0) << "a shape file, no font";
  // Not a shape file, or cut short: refused.
  EXPECT_FALSE(CShapeFile().Parse("AutoCAD-86 unifont 1.0\r\n\x1a"));
  const std::string bytes = ShapeFileBytes({kTie});
  EXPECT_FALSE(CShapeFile().Parse(bytes.substr(0, bytes.size() - 2)));
}

TEST(Renderer, ComplexLinetypesDrawTheirShapesAndTextsWhereTheirDashesEnd) {
  testsupport::TempDir folder;
  testsupport::WriteFile(folder / "LTYPESHP.SHX", ShapeFileBytes({kTie}));
  Scene s;
  s.text.SetSearchDirectories({folder.Path().string()});
  // A dash of 1 with a tie at its end, a gap of 1 with "A" at its end, 0.25 above the line.
  Linetype tracks{"TRACKS", "", 2.0, {1.0, -1.0}, {}};
  LinetypeShape tie;
  tie.dash = 0;
  tie.shapeFile = "ltypeshp.shx";
  tie.shapeNumber = 130;
  tie.scale = 0.5;
  LinetypeShape letter;
  letter.dash = 1;
  letter.isText = true;
  letter.text = "A";
  letter.style = 0;
  letter.scale = 0.5;
  letter.offset = {-0.75, 0.25};
  tracks.shapes = {tie, letter};
  s.drawing.linetypes.push_back(tracks);
  s.Add(0, Line{{0, 1, 0}, {4, 1, 0}}).linetype = 0;
  // Going up: the tie turns with the line.
  s.Add(0, Line{{10, 0, 0}, {10, 2, 0}}).linetype = 0;
  // Keeps the points of every fill.
  struct CFills : CTraceExport {
    std::vector<PointStruct> filled;
    void FillPolyPolygon(PointStruct* points, const int* counts, int rings) override {
      int total = 0;
      for (int k = 0; k < rings; ++k) total += counts[k];
      filled.insert(filled.end(), points, points + total);
      CTraceExport::FillPolyPolygon(points, counts, rings);
    }
  } sink;
  CRenderer renderer(s.drawing, s.text, sink);
  renderer.DrawLayout(0, Affine3::Scale(10, 10, 10), 1000, 1000);
  const std::string& trace = sink.text;
  // The dashes along y = 10, then the ties at x = 10 and 30 (5 up and down: half a unit of 10
  // points).
  EXPECT_NE(trace.find("MoveTo 0 10\nLineTo 10 10\nMoveTo 20 10\nLineTo 30 10\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("MoveTo 10 5\nLineTo 10 15\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("MoveTo 30 5\nLineTo 30 15\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("MoveTo 105 10\nLineTo 95 10\n"), std::string::npos)
      << "the tie of the line going up lies across it\n"
      << trace;
  // The letter: filled, its baseline 2.5 above the line, from 7.5 before the gap's end at 20.
  ASSERT_FALSE(sink.filled.empty()) << trace;
  double left = 1e9, bottom = 1e9, top = -1e9;
  for (const PointStruct& p : sink.filled) {
    left = std::min(left, p.x);
    bottom = std::min(bottom, p.y);
    top = std::max(top, p.y);
  }
  EXPECT_NEAR(left, 12.5, 0.5);
  EXPECT_NEAR(bottom, 12.5, 0.1);
  EXPECT_NEAR(top, 17.5, 0.2) << "as high as the element's scale";
  EXPECT_TRUE(renderer.Warnings().empty());
}

TEST(Renderer, ComplexLinetypesWithoutTheirShapeFileDrawTheDashesAndWarn) {
  Scene s;
  Linetype tracks{"TRACKS", "", 2.0, {1.0, -1.0}, {}};
  LinetypeShape tie;
  tie.shapeFile = "nosuch.shx";
  tie.shapeNumber = 130;
  tracks.shapes = {tie};
  s.drawing.linetypes.push_back(tracks);
  s.Add(0, Line{{0, 0, 0}, {4, 0, 0}}).linetype = 0;
  CRenderer renderer(s.drawing, s.text, s.trace);
  renderer.DrawLayout(0, Affine3::Scale(10, 10, 10), 1000, 1000);
  EXPECT_NE(s.trace.text.find("MoveTo 0 0\nLineTo 10 0\nMoveTo 20 0\nLineTo 30 0\nEndEntityDraw"),
            std::string::npos)
      << s.trace.text;
  ASSERT_EQ(renderer.Warnings().size(), 1u);
  EXPECT_NE(renderer.Warnings()[0].find("nosuch.shx not found"), std::string::npos)
      << renderer.Warnings()[0];
}

TEST(Renderer, MirroredComplexLinetypesMirrorTheirShapesButKeepTheirTextsReadable) {
  testsupport::TempDir folder;
  // 131: a half circle over the pen's path, all of it on the left of the line.
  testsupport::WriteFile(folder / "LTYPESHP.SHX",
                         ShapeFileBytes({{131, "HALF", std::string("\x0a\x02\x04\0", 4)}}));
  // The same line along y = 1 drawn plainly, with its extrusion pointing down, and through a
  // block inserted upside down (y scale -1) at y = 2; each gives the tops and bottoms of its
  // shape and letter.
  struct Drawn {
    double shapeLow = 1e9, shapeHigh = -1e9;
    std::vector<PointStruct> letter;
  };
  const auto draw = [&](int how) {
    Scene s;
    s.text.SetSearchDirectories({folder.Path().string()});
    Linetype tracks{"TRACKS", "", 2.0, {1.0, -1.0}, {}};
    LinetypeShape half;
    half.dash = 0;
    half.shapeFile = "ltypeshp.shx";
    half.shapeNumber = 131;
    half.scale = 0.25;
    LinetypeShape letter;
    letter.dash = 1;
    letter.isText = true;
    letter.text = "F";
    letter.style = 0;
    letter.scale = 0.5;
    letter.offset = {-0.75, 0.25};
    tracks.shapes = {half, letter};
    s.drawing.linetypes.push_back(tracks);
    if (how == 2) {
      const std::int32_t block = s.AddBlock("TRACK");
      s.Add(block, Line{{0, -1, 0}, {3, -1, 0}}).linetype = 0;
      Insert insert;
      insert.block = block;
      insert.insertion = {0, 0, 0};
      insert.scale = {1, -1, 1};
      s.Add(0, insert);
    } else {
      Entity& line = s.Add(0, Line{{0, 1, 0}, {3, 1, 0}});
      line.linetype = 0;
      if (how == 1) line.extrusion = {0, 0, -1};
    }
    struct CSplit : CTraceExport {
      Drawn* out;
      void LineTo(double x, double y) override {
        out->shapeLow = std::min(out->shapeLow, y);
        out->shapeHigh = std::max(out->shapeHigh, y);
        CTraceExport::LineTo(x, y);
      }
      void FillPolyPolygon(PointStruct* points, const int* counts, int rings) override {
        int total = 0;
        for (int k = 0; k < rings; ++k) total += counts[k];
        out->letter.insert(out->letter.end(), points, points + total);
        CTraceExport::FillPolyPolygon(points, counts, rings);
      }
    } sink;
    Drawn drawn;
    sink.out = &drawn;
    CRenderer renderer(s.drawing, s.text, sink);
    renderer.DrawLayout(0, Affine3::Scale(10, 10, 10), 1000, 1000);
    EXPECT_TRUE(renderer.Warnings().empty());
    return drawn;
  };
  const Drawn plain = draw(0);
  ASSERT_FALSE(plain.letter.empty());
  EXPECT_NEAR(plain.shapeHigh, 15, 0.01) << "the half circle stands over the line";
  EXPECT_NEAR(plain.shapeLow, 10, 0.01);
  for (int how : {1, 2}) {
    SCOPED_TRACE(how == 1 ? "extrusion pointing down" : "block inserted upside down");
    const Drawn mirrored = draw(how);
    EXPECT_NEAR(mirrored.shapeLow, 5, 0.01) << "the half circle hangs under the line";
    EXPECT_NEAR(mirrored.shapeHigh, 10, 0.01);
    // The letter covers the box mirrored under the line (2.5 to 7.5 instead of 12.5 to 17.5)
    // and is the same letter, not mirror-written: the plain one moved down by 10.
    ASSERT_EQ(mirrored.letter.size(), plain.letter.size());
    for (std::size_t i = 0; i < plain.letter.size(); ++i) {
      EXPECT_NEAR(mirrored.letter[i].x, plain.letter[i].x, 1e-6) << i;
      EXPECT_NEAR(mirrored.letter[i].y, plain.letter[i].y - 10, 1e-6) << i;
    }
  }
}
