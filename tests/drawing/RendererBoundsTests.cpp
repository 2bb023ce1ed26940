// Hostile and damaged models: every entity and page ends, costs bounded work and memory, and
// what passes a bound is drawn plainly with a warning. Each model here made the renderer run
// for ever, or for minutes, or ask for gigabytes, before the bounds were there.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "drawing/Renderer.h"
#include "drawing/TextEngine.h"
#include "render/DwgExport.h"

using namespace drawing;

namespace {

// Counts what reaches the sink and keeps the extremes of the coordinates.
class CCountingSink : public CDwgExport {
 public:
  bool BeginPage(int, int, int, double, double) override { return true; }
  void EndPage() override {}
  void MoveTo(double x, double y) override { Point(x, y); }
  void LineTo(double x, double y) override { Point(x, y); }
  void Arc(double cx, double cy, double radius, double, double) override {
    Point(cx, cy);
    largest = std::max(largest, radius);
  }
  void Polygon(int first, int last, PointStruct* points) override {
    for (int i = first; i <= last; ++i) Point(points[i].x, points[i].y);
  }
  void PolyPolygon(PointStruct* points, const int* counts, int rings) override {
    int total = 0;
    for (int k = 0; k < rings; ++k) total += counts[k];
    for (int i = 0; i < total; ++i) Point(points[i].x, points[i].y);
  }
  bool CanDrawPolyPolygon() override { return true; }
  void SetColor(int, int) override {}
  void SetLineWidth(int) override {}

  std::int64_t points = 0;
  double largest = 0;  // the largest coordinate or radius seen
  bool finite = true;

 private:
  void Point(double x, double y) {
    ++points;
    finite = finite && std::isfinite(x) && std::isfinite(y);
    largest = std::max({largest, std::fabs(x), std::fabs(y)});
  }
};

struct Scene {
  Drawing drawing;
  CTextEngine text;
  CCountingSink sink;
  Scene() {
    drawing.layers.push_back(Layer{"0"});
    TextStyle standard;
    standard.name = "Standard";
    drawing.textStyles.push_back(standard);
    drawing.blocks.resize(2);
    drawing.blocks[0].name = "*Model_Space";
    drawing.blocks[1].name = "*Paper_Space";
    Layout model;
    model.name = "Model";
    model.isModel = true;
    model.block = 0;
    drawing.layouts.push_back(model);
  }
  Entity& Add(std::int32_t block, EntityData data) {
    Entity entity;
    entity.data = std::move(data);
    return drawing.blocks[static_cast<std::size_t>(block)].entities.emplace_back(std::move(entity));
  }
  std::int32_t AddBlock(const std::string& name) {
    drawing.blocks.emplace_back().name = name;
    return static_cast<std::int32_t>(drawing.blocks.size() - 1);
  }
  // Draws model space at 1 point per unit onto an A3 page; the renderer's warnings.
  std::vector<std::string> Render(const std::atomic<bool>* stop = nullptr) {
    CRenderer renderer(drawing, text, sink);
    renderer.SetStopFlag(stop);
    // A smaller page bound than the program's keeps the test quick under the sanitizers.
    if (visitLimit > 0) renderer.SetVisitLimit(visitLimit);
    renderer.DrawLayout(0, Affine3{}, 1190, 842);
    aborted = renderer.Aborted();
    return renderer.Warnings();
  }
  bool aborted = false;
  std::int64_t visitLimit = 0;
};

bool Mentions(const std::vector<std::string>& warnings, const std::string& part) {
  for (const std::string& warning : warnings) {
    if (warning.find(part) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

TEST(RendererBounds, DrawsALineTooLongForItsDashesSolid) {
  Scene s;
  Linetype dashed;
  dashed.name = "DASHED";
  dashed.dashes = {0.5, -0.5};
  s.drawing.linetypes.push_back(dashed);
  // A length that swamps the dash made the dash loop go round for ever.
  s.Add(0, Line{{0, 0, 0}, {1e17, 0, 0}}).linetype = 0;
  s.Add(0, Line{{-5e5, 10, 0}, {5e5, 10, 0}}).linetype = 0;
  const auto warnings = s.Render();
  EXPECT_TRUE(Mentions(warnings, "drawn solid (2 times)")) << warnings.size();
  EXPECT_LT(s.sink.points, 100);
  EXPECT_TRUE(s.sink.finite);
  EXPECT_LE(s.sink.largest, 1e6) << "what lies far off the page is cut off";
}

TEST(RendererBounds, CountsEveryMinsertCellWhetherItDrawsOrNot) {
  Scene s;
  const std::int32_t empty = s.AddBlock("EMPTY");
  const std::int32_t grid = s.AddBlock("GRID");
  Insert inner;
  inner.block = empty;
  inner.columns = inner.rows = 1000;  // a million empty cells
  s.Add(grid, inner);
  Insert outer;
  outer.block = grid;
  outer.columns = outer.rows = 1000;  // a million of those: 1e12 cells in all
  s.Add(0, outer);
  s.visitLimit = 2'000'000;
  const auto warnings = s.Render();
  EXPECT_TRUE(s.aborted);
  EXPECT_TRUE(Mentions(warnings, "cut short")) << (warnings.empty() ? "" : warnings[0]);

  Scene huge;
  Insert wide;
  wide.block = huge.AddBlock("B");
  huge.Add(wide.block, Line{{0, 0, 0}, {1, 1, 0}});
  wide.columns = wide.rows = 10000;  // 1e8 cells of one block
  huge.Add(0, wide);
  EXPECT_TRUE(Mentions(huge.Render(), "drawn as their first cell"));
  EXPECT_EQ(huge.sink.points, 2);
}

TEST(RendererBounds, EndsABlockFanOutAtThePagesBound) {
  // Seven levels of ten inserts each: 10^7 lines from a drawing of a few kilobytes.
  Scene s;
  std::int32_t below = s.AddBlock("LEAF");
  s.Add(below, Line{{0, 0, 0}, {1, 0, 0}});
  for (int level = 0; level < 8; ++level) {
    const std::int32_t block = s.AddBlock("LEVEL" + std::to_string(level));
    for (int k = 0; k < 10; ++k) {
      Insert insert;
      insert.block = below;
      insert.insertion = {static_cast<double>(k), 0, 0};
      s.Add(block, insert);
    }
    below = block;
  }
  Insert top;
  top.block = below;
  s.Add(0, top);
  s.visitLimit = 2'000'000;
  const auto warnings = s.Render();
  EXPECT_TRUE(s.aborted);
  EXPECT_TRUE(Mentions(warnings, "cut short"));
}

TEST(RendererBounds, StopsInsideAPageWhenAsked) {
  Scene s;
  const std::int32_t leaf = s.AddBlock("LEAF");
  s.Add(leaf, Line{{0, 0, 0}, {1, 0, 0}});
  Insert many;
  many.block = leaf;
  many.columns = many.rows = 900;  // 810,000 cells, under every bound
  s.Add(0, many);
  std::atomic<bool> stop{true};
  s.Render(&stop);
  EXPECT_TRUE(s.aborted);
  EXPECT_LT(s.sink.points, 10000) << "the flag is looked at every few thousand cells";
}

TEST(RendererBounds, DrawsAHatchPatternTooLargeAsItsBoundary) {
  Scene s;
  Hatch hatch;
  hatch.pattern = "ANSI31";
  HatchPatternLine family;
  family.angle = 45;
  family.offset = {0, 0.2};
  hatch.patternLines = {family};
  // Many paths of many vertices under a pattern of thousands of lines.
  for (int k = 0; k < 200; ++k) {
    HatchPath path;
    path.isPolyline = true;
    for (int i = 0; i < 2000; ++i) {
      const double a = 2 * 3.141592653589793 * i / 2000;
      path.vertices.push_back({{500 + 400 * std::cos(a) + k, 400 + 300 * std::sin(a), 0}});
    }
    hatch.paths.push_back(path);
  }
  s.Add(0, hatch);
  const auto warnings = s.Render();
  EXPECT_TRUE(Mentions(warnings, "drawn as their boundary"));
}

TEST(RendererBounds, GivesAPolylineOfHugeBulgesFewerPointsNotGigabytes) {
  Scene s;
  Polyline polyline;
  for (int i = 0; i < 100000; ++i) {
    PolylineVertex vertex;
    vertex.position = {static_cast<double>(i % 2) * 1e5, static_cast<double>(i), 0};
    vertex.bulge = 1e6;  // nearly full circles, each asking for thousands of points
    polyline.vertices.push_back(vertex);
  }
  s.Add(0, polyline);
  const auto warnings = s.Render();
  EXPECT_TRUE(Mentions(warnings, "drawn with fewer"));
  EXPECT_LT(s.sink.points, 3'000'000);
}

TEST(RendererBounds, CutsATextOfMegabytes) {
  Scene s;
  Text text;
  text.text = std::string(2 * 1024 * 1024, 'W');
  text.height = 2.5;
  text.style = 0;
  s.Add(0, text);
  EXPECT_TRUE(Mentions(s.Render(), "are cut"));
}

TEST(RendererBounds, LeavesOutWhatNoPdfPageCanHold) {
  Scene s;
  s.Add(0, Circle{{1e300, 0, 0}, 5});
  s.Add(0, Circle{{0, 0, 0}, 1e300});
  Text tall;
  tall.text = "A";
  tall.height = 1e308;
  tall.style = 0;
  s.Add(0, tall);
  Solid solid;
  solid.corners[0] = {0, 0, 0};
  solid.corners[1] = {1e200, 0, 0};
  solid.corners[2] = {0, 1, 0};
  solid.corners[3] = {1, 1, 0};
  s.Add(0, solid);
  s.Add(0, Line{{0, 0, 0}, {std::numeric_limits<double>::quiet_NaN(), 1, 0}});
  s.Render();
  EXPECT_TRUE(s.sink.finite);
  EXPECT_LE(s.sink.largest, 1e6);
}
