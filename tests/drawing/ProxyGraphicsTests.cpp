// The decoder of proxy graphics on records the tests write: what each kind of record draws,
// the properties the attribute records set, transforms, and damaged or oversized graphics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DwgTestFiles.h"
#include "drawing/Model.h"
#include "drawing/ProxyGraphics.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace drawing;

std::string Long(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

std::string Real(double value) {
  std::string out(8, '\0');
  std::memcpy(out.data(), &value, 8);
  return out;
}

std::string At(double x, double y, double z = 0) {
  return Real(x) + Real(y) + Real(z);
}

// UTF-16 text with its end, padded to four bytes.
std::string Unicode(const std::u16string& text) {
  std::string out;
  for (const char16_t unit : text + u'\0')
    out += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  out.resize((out.size() + 3) / 4 * 4, '\0');
  return out;
}

// Graphics as a file keeps them: the total size, the record count, the records.
class CGraphics {
 public:
  CGraphics& Add(std::uint32_t type, const std::string& data) {
    records += Long(static_cast<std::uint32_t>(data.size() + 8)) + Long(type) + data;
    ++count;
    return *this;
  }
  std::string Bytes() const {
    return Long(static_cast<std::uint32_t>(records.size() + 8)) + Long(count) + records;
  }

 private:
  std::string records;
  std::uint32_t count = 0;
};

std::string Points(std::initializer_list<std::string> points) {
  std::string out = Long(static_cast<std::uint32_t>(points.size()));
  for (const std::string& p : points) out += p;
  return out;
}

struct CDecoded {
  std::vector<Entity> entities;
  CProxyGraphicsResult result;
};

// The table of the tests' drawing: layers "0", "WALL", "DOOR" in the model as 0, 2, 1, the
// linetype DASHED as model index 3, text styles Standard (txt) and ISO (isocp.shx).
class CProxyDrawing {
 public:
  CProxyDrawing() {
    styles.resize(2);
    styles[0].name = "Standard";
    styles[0].fontFile = "txt";
    styles[1].name = "ISO";
    styles[1].fontFile = "isocp.shx";
    tables.layers = {0, 2, 1};
    tables.linetypes = {-1, 3};
    tables.textStyles = &styles;
    tables.decodeText = [](std::string_view raw) { return "<" + std::string(raw) + ">"; };
    base.layer = 2;
    base.color = Color{5, false, 0};
    base.linetype = kLinetypeByBlock;
    base.lineweight = 50;
  }

  CDecoded Decode(const std::string& bytes) const {
    CDecoded decoded;
    decoded.result = DecodeProxyGraphics(bytes, base, tables, decoded.entities);
    EXPECT_EQ(decoded.result.entities, decoded.entities.size());
    return decoded;
  }

  CProxyGraphicsTables tables;
  std::vector<TextStyle> styles;
  Entity base;
};

void ExpectNear(const Vec3& actual, const Vec3& expected, const char* what) {
  EXPECT_NEAR(actual.x, expected.x, 1e-9) << what;
  EXPECT_NEAR(actual.y, expected.y, 1e-9) << what;
  EXPECT_NEAR(actual.z, expected.z, 1e-9) << what;
}

TEST(ProxyGraphics, DrawsPolylinesAsLinesPolylinesAndFilledAreas) {
  CProxyDrawing drawing;
  CGraphics graphics;
  graphics
      .Add(6, Points({At(0, 0), At(10, 0)}))                                    // a line
      .Add(6, Points({At(0, 0, 2), At(10, 0, 2), At(10, 5, 2)}))                // flat: 2D
      .Add(6, Points({At(0, 0), At(10, 0, 1), At(10, 5)}))                      // not flat: 3D
      .Add(7, Points({At(0, 0), At(4, 0), At(4, 4)}))                           // closed
      .Add(20, Long(1))                                                         // fill on
      .Add(7, Points({At(0, 0), At(4, 0), At(4, 4)}))                           // a filled area
      .Add(6, Points({At(7, 7)}))                                               // one point
      .Add(32, Points({At(0, 0, 3), At(0, 5, 3), At(0, 5, 8)}) + At(1, 0, 0));  // with normal
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  EXPECT_FALSE(decoded.result.damaged);
  EXPECT_TRUE(decoded.result.skipped.empty());
  ASSERT_EQ(decoded.entities.size(), 7u);

  ASSERT_TRUE(decoded.entities[0].Is<Line>());
  ExpectNear(std::get<Line>(decoded.entities[0].data).end, {10, 0, 0}, "line end");
  const auto& flat = std::get<Polyline>(decoded.entities[1].data);
  EXPECT_FALSE(flat.is3d);
  EXPECT_EQ(flat.elevation, 2.0);
  EXPECT_FALSE(flat.closed);
  EXPECT_TRUE(std::get<Polyline>(decoded.entities[2].data).is3d);
  EXPECT_TRUE(std::get<Polyline>(decoded.entities[3].data).closed);
  const auto& hatch = std::get<Hatch>(decoded.entities[4].data);
  EXPECT_TRUE(hatch.solid);
  ASSERT_EQ(hatch.paths.size(), 1u);
  EXPECT_EQ(hatch.paths[0].vertices.size(), 3u);
  ExpectNear(std::get<Point>(decoded.entities[5].data).position, {7, 7, 0}, "point");
  // Points in the plane x = 0 with normal x: a 2D polyline in that plane's coordinates.
  const Entity& side = decoded.entities[6];
  const auto& sidePolyline = std::get<Polyline>(side.data);
  EXPECT_FALSE(sidePolyline.is3d);
  ExpectNear(side.extrusion, {1, 0, 0}, "extrusion");
  EXPECT_NEAR(sidePolyline.elevation, 0.0, 1e-12);
}

TEST(ProxyGraphics, AttributeRecordsSetThePropertiesOfWhatFollows) {
  CProxyDrawing drawing;
  CGraphics graphics;
  const std::string line = Points({At(0, 0), At(1, 1)});
  graphics
      .Add(6, line)        // the entity's own properties
      .Add(16, Long(1))    // the second layer of the table: WALL
      .Add(14, Long(3))    // green
      .Add(18, Long(1))    // the second linetype: DASHED
      .Add(23, Long(35))   // 0.35 mm
      .Add(24, Real(2.5))  // linetype scale
      .Add(6, line)
      .Add(14, Long(0))           // ByBlock: the entity's colour
      .Add(18, Long(0x7FFE))      // ByBlock: the entity's linetype
      .Add(23, Long(0xFFFFFFFE))  // ByBlock: the entity's lineweight
      .Add(16, Long(9))           // no such layer: kept
      .Add(6, line)
      .Add(14, Long(256))         // ByLayer
      .Add(18, Long(0x7FFF))      // ByLayer
      .Add(22, Long(0xC2102030))  // a true colour
      .Add(6, line);
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 4u);
  const Entity& first = decoded.entities[0];
  EXPECT_EQ(first.layer, 2);
  EXPECT_EQ(first.color.index, 5);
  EXPECT_EQ(first.linetype, kLinetypeByBlock);
  EXPECT_EQ(first.lineweight, 50);

  const Entity& second = decoded.entities[1];
  EXPECT_EQ(second.layer, 2) << "the table's second layer is the model's layer 2";
  EXPECT_EQ(second.color.index, 3);
  EXPECT_EQ(second.linetype, 3);
  EXPECT_EQ(second.lineweight, 35);
  EXPECT_EQ(second.linetypeScale, 2.5);

  const Entity& third = decoded.entities[2];
  EXPECT_EQ(third.color.index, 5);
  EXPECT_EQ(third.linetype, kLinetypeByBlock);
  EXPECT_EQ(third.lineweight, 50);
  EXPECT_EQ(third.layer, 2);

  const Entity& fourth = decoded.entities[3];
  EXPECT_EQ(fourth.linetype, kLinetypeByLayer);
  EXPECT_TRUE(fourth.color.hasTrueColor);
  EXPECT_EQ(fourth.color.rgb, 0x302010u) << "red in the low byte";
}

TEST(ProxyGraphics, DrawsCirclesAndArcsOfEachForm) {
  CProxyDrawing drawing;
  CGraphics graphics;
  graphics.Add(2, At(1, 2) + Real(3) + At(0, 0, 1))
      .Add(3, At(1, 0) + At(0, 1) + At(-1, 0))  // the unit circle
      // From (1, 0) a quarter turn clockwise: the arc from -90° to 0°.
      .Add(4,
           At(0, 0) + Real(1) + At(0, 0, 1) + At(1, 0, 0) + Real(-std::numbers::pi / 2) + Long(0))
      // Through (0, 1), (1, 0) and (0, -1): clockwise seen from above, so about -z.
      .Add(5, At(0, 1) + At(1, 0) + At(0, -1) + Long(0))
      // A sector: the arc and its two radii.
      .Add(4, At(0, 0) + Real(2) + At(0, 0, 1) + At(0, 1, 0) + Real(std::numbers::pi / 2) + Long(1))
      .Add(3, At(0, 0) + At(1, 1) + At(2, 2));  // points on a line: nothing
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 6u);
  const auto& circle = std::get<Circle>(decoded.entities[0].data);
  ExpectNear(circle.center, {1, 2, 0}, "circle centre");
  EXPECT_EQ(circle.radius, 3.0);
  const auto& unit = std::get<Circle>(decoded.entities[1].data);
  ExpectNear(unit.center, {0, 0, 0}, "circle through three points");
  EXPECT_NEAR(unit.radius, 1.0, 1e-12);

  const auto& quarter = std::get<Arc>(decoded.entities[2].data);
  EXPECT_NEAR(quarter.startAngle, -90.0, 1e-9);
  EXPECT_NEAR(quarter.endAngle, 0.0, 1e-9);

  // About -z the object coordinates turn x round: the arc runs from 180° + 90° to 180° - 90°
  // there, the half of the circle with x ≥ 0 in the world.
  const Entity& half = decoded.entities[3];
  EXPECT_NEAR(half.extrusion.z, -1.0, 1e-12);
  const auto& halfArc = std::get<Arc>(half.data);
  const double mid = (halfArc.startAngle + halfArc.endAngle) / 2 * std::numbers::pi / 180;
  EXPECT_NEAR(-std::cos(mid), 1.0, 1e-9) << "the middle of the arc lies at world x = 1";
  EXPECT_NEAR(halfArc.endAngle - halfArc.startAngle, 180.0, 1e-9);

  EXPECT_TRUE(decoded.entities[4].Is<Arc>());
  const auto& radii = std::get<Polyline>(decoded.entities[5].data);
  ASSERT_EQ(radii.vertices.size(), 3u);
  ExpectNear(radii.vertices[1].position, {0, 0, 0}, "a sector's radii meet at the centre");
  EXPECT_EQ(decoded.result.skipped.at("proxy circle through points on a line"), 1);
}

TEST(ProxyGraphics, DrawsTextInItsFontsStyleAndReplacesControlCodesUnlessRaw) {
  CProxyDrawing drawing;
  const std::string placing = At(5, 6) + At(0, 0, 1) + At(0, 1, 0);  // turned a quarter
  CGraphics graphics;
  graphics.Add(10, placing + Real(2.5) + Real(0.8) + Real(0) + std::string("45%%d\0\0\0", 8))
      .Add(38, placing + Unicode(u"\u6881 %%c") + Long(0xFFFFFFFF) + Long(1) + Real(3) + Real(1) +
                   Real(0) + Real(1) + Long(1) + Long(0) + Long(0) + Long(1) + Long(0) + Long(0) +
                   Long(0) + Long(0) + Long(0) + Unicode(u"") + Unicode(u"ISOCP.SHX") +
                   Unicode(u""))
      .Add(38, placing + Unicode(u"%%c") + Long(0xFFFFFFFF) + Long(0) + Real(3) + Real(1) +
                   Real(0) + Real(1) + Long(0) + Long(0) + Long(0) + Long(0) + Long(0) + Long(0) +
                   Long(0) + Long(0) + Long(0) + Unicode(u"Arial") + Unicode(u"") + Unicode(u""));
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 3u);
  const auto& plain = std::get<Text>(decoded.entities[0].data);
  EXPECT_EQ(plain.text, "<45\u00B0>") << "8-bit text in the file's code page";
  EXPECT_EQ(plain.height, 2.5);
  EXPECT_EQ(plain.widthFactor, 0.8);
  EXPECT_NEAR(plain.rotation, 90.0, 1e-9);
  ExpectNear(plain.insertion, {5, 6, 0}, "insertion");
  EXPECT_EQ(plain.style, 0);

  const auto& styled = std::get<Text>(decoded.entities[1].data);
  EXPECT_EQ(styled.text, "\u6881 \u00D8");
  EXPECT_EQ(styled.lines, (std::vector<TextLineSpan>{{'u', 0, 6}})) << "underlined throughout";
  EXPECT_EQ(styled.style, 1) << "the style whose font the record names";
  EXPECT_EQ(styled.generationFlags, 2) << "backwards";
  const auto& raw = std::get<Text>(decoded.entities[2].data);
  EXPECT_EQ(raw.text, "%%c") << "raw text keeps its codes";
  EXPECT_EQ(raw.style, 0) << "no style uses the font: Standard";
}

TEST(ProxyGraphics, AppliesPushedTransformsUntilTheyArePopped) {
  CProxyDrawing drawing;
  // Twice as large and moved by (10, 0): circles stay circles.
  std::string uniform;
  for (const double v : {2., 0., 0., 10., 0., 2., 0., 0., 0., 0., 2., 0., 0., 0., 0., 1.}) {
    uniform += Real(v);
  }
  // Three times as wide as high: circles become outlines of segments.
  std::string stretched;
  for (const double v : {3., 0., 0., 0., 0., 1., 0., 0., 0., 0., 1., 0., 0., 0., 0., 1.}) {
    stretched += Real(v);
  }
  const std::string unitCircle = At(0, 0) + Real(1) + At(0, 0, 1);
  CGraphics graphics;
  graphics.Add(29, uniform)
      .Add(2, unitCircle)
      .Add(6, Points({At(1, 1), At(2, 1)}))
      .Add(29, stretched)  // inside the first: six times as wide, twice as high
      .Add(2, unitCircle)
      .Add(31, "")
      .Add(31, "")
      .Add(31, "")  // one pop too many changes nothing
      .Add(2, unitCircle);
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 4u);
  const auto& scaled = std::get<Circle>(decoded.entities[0].data);
  ExpectNear(scaled.center, {10, 0, 0}, "centre moved");
  EXPECT_NEAR(scaled.radius, 2.0, 1e-12);
  const auto& line = std::get<Line>(decoded.entities[1].data);
  ExpectNear(line.start, {12, 2, 0}, "line start");
  const auto& outline = std::get<Polyline>(decoded.entities[2].data);
  EXPECT_TRUE(outline.closed);
  EXPECT_GE(outline.vertices.size(), 36u);
  double width = 0, height = 0;
  for (const PolylineVertex& v : outline.vertices) {
    width = std::max(width, v.position.x - 10);
    height = std::max(height, v.position.y);
  }
  EXPECT_NEAR(width, 6.0, 1e-9);
  EXPECT_NEAR(height, 2.0, 1e-9);
  EXPECT_EQ(std::get<Circle>(decoded.entities[3].data).radius, 1.0);
}

TEST(ProxyGraphics, DrawsAnArcOfManyTurnsAsOneCircle) {
  // Stretched, a circle becomes segments: as many as one turn needs, whatever the sweep says.
  std::string stretched;
  for (const double v : {3., 0., 0., 0., 0., 1., 0., 0., 0., 0., 1., 0., 0., 0., 0., 1.}) {
    stretched += Real(v);
  }
  CProxyDrawing drawing;
  CGraphics graphics;
  graphics.Add(29, stretched)
      .Add(4, At(0, 0) + Real(1) + At(0, 0, 1) + At(1, 0, 0) + Real(1e100) + Long(0));
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 1u);
  const auto& outline = std::get<Polyline>(decoded.entities[0].data);
  EXPECT_TRUE(outline.closed);
  EXPECT_EQ(outline.vertices.size(), 72u);
}

TEST(ProxyGraphics, DrawsShellsAsFacesOrFilledAreasWithHoles) {
  CProxyDrawing drawing;
  std::string shell = Long(8);
  for (const auto& [x, y] : std::vector<std::pair<double, double>>{
           {0, 0}, {10, 0}, {10, 10}, {0, 10}, {2, 2}, {4, 2}, {4, 4}, {2, 4}}) {
    shell += At(x, y);
  }
  // A square, a hole in it (a negative count), and a triangle of three of its corners.
  shell += Long(14) + Long(4) + Long(0) + Long(1) + Long(2) + Long(3) + Long(0xFFFFFFFC) + Long(4) +
           Long(5) + Long(6) + Long(7) + Long(3) + Long(0) + Long(1) + Long(2);
  shell += Long(0) + Long(0) + Long(0);  // no traits
  CGraphics graphics;
  graphics.Add(9, shell).Add(20, Long(1)).Add(9, shell);
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 3u);
  const auto& faces = std::get<Polyline>(decoded.entities[0].data);
  EXPECT_EQ(faces.vertices.size(), 8u);
  ASSERT_EQ(faces.faces.size(), 3u);
  EXPECT_EQ(faces.faces[0], (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(faces.faces[1], (std::vector<int>{5, 6, 7, 8}));
  const auto& withHole = std::get<Hatch>(decoded.entities[1].data);
  EXPECT_EQ(withHole.paths.size(), 2u);
  EXPECT_EQ(std::get<Hatch>(decoded.entities[2].data).paths.size(), 1u);
}

TEST(ProxyGraphics, ReadsTheBitCodedLightPolylineRecord) {
  CProxyDrawing drawing;
  dwgtest::CBitWriter bits;
  bits.BS(16 | 512);  // bulges, closed
  bits.BL(3);
  bits.BL(3);
  bits.RD(1);
  bits.RD(2);
  bits.DD(5, 1);
  bits.DD(2, 2);
  bits.DD(5, 5);
  bits.DD(6, 2);
  bits.BD(0);
  bits.BD(1);
  bits.BD(0);
  const std::string data = bits.Bytes();
  CGraphics graphics;
  graphics.Add(33, Long(static_cast<std::uint32_t>(data.size())) + data + std::string(3, '\0'));
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  ASSERT_EQ(decoded.entities.size(), 1u);
  const auto& polyline = std::get<Polyline>(decoded.entities[0].data);
  EXPECT_TRUE(polyline.closed);
  ASSERT_EQ(polyline.vertices.size(), 3u);
  ExpectNear(polyline.vertices[2].position, {5, 6, 0}, "third vertex");
  EXPECT_EQ(polyline.vertices[1].bulge, 1.0);

  // Vertex identifiers come before the widths in files of R2010 and later.
  dwgtest::CBitWriter newer;
  newer.BS(1024);
  newer.BL(2);
  newer.BL(2);
  newer.RD(0);
  newer.RD(0);
  newer.DD(4, 0);
  newer.DD(0, 0);
  newer.BL(7);
  newer.BL(8);
  const std::string newerData = newer.Bytes();
  CGraphics newerGraphics;
  newerGraphics.Add(33, Long(static_cast<std::uint32_t>(newerData.size())) + newerData);
  drawing.tables.vertexIds = true;
  const CDecoded read = drawing.Decode(newerGraphics.Bytes());
  ASSERT_EQ(read.entities.size(), 1u);
  EXPECT_EQ(std::get<Polyline>(read.entities[0].data).vertices.size(), 2u);
}

TEST(ProxyGraphics, KeepsWhatCameBeforeDamageAndCountsWhatItDoesNotDraw) {
  CProxyDrawing drawing;
  CGraphics graphics;
  graphics.Add(6, Points({At(0, 0), At(1, 0)}))
      .Add(27, std::string(64, '\0'))  // a clip boundary
      .Add(99, std::string(16, '\0'))  // unknown, with data
      .Add(51, Long(0))                // unknown, one long: a property
      .Add(6, Points({At(0, 0), At(1, 0)}));
  std::string bytes = graphics.Bytes();
  const CDecoded whole = drawing.Decode(bytes);
  EXPECT_EQ(whole.entities.size(), 2u);
  EXPECT_FALSE(whole.result.damaged);
  EXPECT_EQ(whole.result.skipped.at("proxy clip boundary"), 1);
  EXPECT_EQ(whole.result.skipped.at("proxy graphics record 99"), 1);
  EXPECT_EQ(whole.result.skipped.size(), 2u);

  // Cut inside the last record: the first line stays.
  const CDecoded cut = drawing.Decode(bytes.substr(0, bytes.size() - 5));
  EXPECT_EQ(cut.entities.size(), 1u);
  EXPECT_TRUE(cut.result.damaged);
  // A point count larger than the record: nothing of that record.
  CGraphics lying;
  lying.Add(6, Long(1000) + At(0, 0) + At(1, 1));
  const CDecoded refused = drawing.Decode(lying.Bytes());
  EXPECT_TRUE(refused.entities.empty());
  EXPECT_TRUE(refused.result.damaged);
  // Nothing at all, and a header alone.
  EXPECT_TRUE(drawing.Decode("").entities.empty());
  EXPECT_FALSE(drawing.Decode(CGraphics().Bytes()).result.damaged);
}

TEST(ProxyGraphics, StopsAtItsLimitOfEntities) {
  CProxyDrawing drawing;
  CGraphics graphics;
  const std::string point = Points({At(1, 2)});
  for (std::size_t i = 0; i < kMaxProxyEntities + 5; ++i) graphics.Add(6, point);
  const CDecoded decoded = drawing.Decode(graphics.Bytes());
  EXPECT_EQ(decoded.entities.size(), kMaxProxyEntities);
  EXPECT_EQ(decoded.result.skipped.at("proxy graphics past the limit"), 5);
}

TEST(ProxyGraphics, ReadsEveryFuzzingRegressionInput) {
  // An input's first byte chooses the forms of the light polyline record, as the fuzz target
  // reads it.
  const std::filesystem::path folder =
      std::filesystem::path(TARNVELOX_SOURCE_DIR) / "tests/drawing/fuzz-regressions";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".proxy") continue;
    const std::string input = testsupport::ReadFile(entry.path());
    ASSERT_FALSE(input.empty());
    CProxyDrawing drawing;
    drawing.tables.fullVertices = (input[0] & 1) != 0;
    drawing.tables.vertexIds = (input[0] & 2) != 0;
    const CDecoded decoded = drawing.Decode(input.substr(1));
    EXPECT_LE(decoded.entities.size(), kMaxProxyEntities) << entry.path();
    ++count;
  }
  EXPECT_GE(count, 1);
}

}  // namespace
