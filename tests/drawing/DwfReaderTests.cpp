// The DWF reader: W2D streams built in the test (readable and binary opcodes, compressed
// parts, pictures, damage), packages built in the test with libzip, and the shared corpus.
#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "drawing/ImageFile.h"
#include "drawing/Model.h"
#include "drawing/ReadDrawing.h"
#include "drawing/Renderer.h"
#include "drawing/TextEngine.h"
#include "drawing/dwf/DwfReader.h"
#include "platform/ColorPalette.h"
#include "render/TraceExport.h"
#include "tests/support/TestSupport.h"

using namespace drawing;

namespace {

// Bytes of a stream, written the way the format stores them (little-endian).
struct Bytes {
  std::string data;
  Bytes& Raw(std::string_view text) {
    data += text;
    return *this;
  }
  Bytes& U8(unsigned v) {
    data.push_back(static_cast<char>(v & 0xFF));
    return *this;
  }
  Bytes& U16(unsigned v) { return U8(v).U8(v >> 8); }
  Bytes& I16(int v) { return U16(static_cast<unsigned>(v) & 0xFFFF); }
  Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
  Bytes& P32(std::int32_t x, std::int32_t y) { return I32(x).I32(y); }
  Bytes& P16(int x, int y) { return I16(x).I16(y); }
  // An extended binary opcode around its data.
  Bytes& Extended(unsigned opcode, const std::string& body) {
    Raw("{").U32(static_cast<std::uint32_t>(body.size() + 3)).U16(opcode).Raw(body).Raw("}");
    return *this;
  }
};

// A bare stream: header, opcodes, trailer; drawn on paper by a unit scale (no plot
// information, so the reader fits the graphics to letter paper).
std::string Stream(const std::string& opcodes) {
  return "(W2D V06.00)" + opcodes + "(EndOfDWF)";
}

// A stream with plot information: one logical unit is 1/1000 inch, the view starts at 0,0 and
// the printable area at the paper's corner, so logical x lands at x / 1000 inches.
std::string PlottedStream(const std::string& opcodes) {
  return Stream(
      "(View 0,0 11000,8500)"
      "(PlotInfo show 0 in 11 8.5 0 0 11 8.5 ((0.001 0 0)(0 0.001 0)(0 0 1)))" +
      opcodes);
}

struct Read {
  Drawing drawing;
  std::string error;
  bool ok = false;
  explicit Read(const std::string& bytes) { ok = ReadDrawing(bytes, drawing, &error); }
  // The entities of the first sheet, groups opened.
  std::vector<const Entity*> Entities() const {
    std::vector<const Entity*> all;
    if (drawing.layouts.size() < 2) return all;
    const auto add = [&all](const auto& self, const std::vector<Entity>& list) -> void {
      for (const Entity& entity : list) {
        if (const auto* group = std::get_if<ClippedGroup>(&entity.data)) {
          self(self, group->entities);
        } else {
          all.push_back(&entity);
        }
      }
    };
    add(add, drawing.blocks[drawing.layouts[1].block].entities);
    return all;
  }
  template <class Kind>
  std::vector<const Kind*> All() const {
    std::vector<const Kind*> found;
    for (const Entity* entity : Entities()) {
      if (const auto* kind = std::get_if<Kind>(&entity->data)) found.push_back(kind);
    }
    return found;
  }
  int Skipped(const std::string& kind) const {
    for (const auto& [name, count] : drawing.skippedTypes) {
      if (name == kind) return count;
    }
    return 0;
  }
};

std::string Deflated(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
           static_cast<uLong>(text.size()));
  out.resize(size);
  return out;
}

// A DWF 6 package: the 12-byte header and a ZIP archive of the given members.
std::string Package(const std::vector<std::pair<std::string, std::string>>& members,
                    const char* header = "(DWF V06.00)") {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(target);
  zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : members) {
    zip_source_t* member = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    zip_file_add(archive, name.c_str(), member, ZIP_FL_ENC_UTF_8);
  }
  zip_close(archive);
  zip_source_open(target);
  zip_source_seek(target, 0, SEEK_END);
  const zip_int64_t size = zip_source_tell(target);
  zip_source_seek(target, 0, SEEK_SET);
  std::string archiveBytes(static_cast<std::size_t>(size), '\0');
  zip_source_read(target, archiveBytes.data(), static_cast<zip_uint64_t>(size));
  zip_source_close(target);
  zip_source_free(target);
  zip_error_fini(&error);
  return header + archiveBytes;
}

std::string Manifest(const std::vector<std::string>& sections) {
  std::string xml = "<dwf:Manifest xmlns:dwf=\"DWF-Manifest:6.0\" version=\"6.0\"><dwf:Sections>";
  for (const std::string& section : sections) {
    xml += "<dwf:Section type=\"com.autodesk.dwf.ePlot\" name=\"" + section + "\" title=\"" +
           section +
           "\"><dwf:Toc><dwf:Resource dwf:role=\"descriptor\" "
           "dwf:mime=\"text/xml\" dwf:href=\"" +
           section +
           "\\descriptor.xml\"/></dwf:Toc>"
           "</dwf:Section>";
  }
  return xml + "</dwf:Sections></dwf:Manifest>";
}

std::string Descriptor(const std::string& name, int order, const std::string& paper,
                       const std::string& graphics) {
  return "<ePlot:Page xmlns:ePlot=\"DWF-ePlot:1.2\" version=\"1.2\" name=\"" + name +
         "\" plotOrder=\"" + std::to_string(order) + "\">" + paper +
         "<ePlot:Resources><ePlot:GraphicResource role=\"2d streaming graphics\" "
         "mime=\"application/x-w2d\" href=\"" +
         graphics +
         "\" transform=\"0.001 0 0 0 0 0.001 "
         "0 0 0 0 1 0 1 2 0 1\"/></ePlot:Resources></ePlot:Page>";
}

const std::string kLetterPaper =
    "<ePlot:Paper units=\"in\" width=\"11\" height=\"8.5\" clip=\"0.5 0.5 10.5 8\"/>";

}  // namespace

// ---- Streams --------------------------------------------------------------------------------

TEST(W2dStream, ReadableLinesLandWhereThePlotInformationPutsThem) {
  Read read(PlottedStream("L 1000,2000 3000,2000"));
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.drawing.layouts.size(), 2u);
  const Layout& sheet = read.drawing.layouts[1];
  EXPECT_EQ(sheet.paperUnits, 0);
  EXPECT_DOUBLE_EQ(sheet.paperWidth, 11 * 25.4);
  EXPECT_DOUBLE_EQ(sheet.paperHeight, 8.5 * 25.4);
  const auto lines = read.All<Line>();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NEAR(lines[0]->start.x, 1.0, 1e-9);
  EXPECT_NEAR(lines[0]->start.y, 2.0, 1e-9);
  EXPECT_NEAR(lines[0]->end.x, 3.0, 1e-9);
  EXPECT_TRUE(read.drawing.sheetsOnly);
  EXPECT_EQ(read.drawing.activeLayout, 1) << "the sheet is the active layout";
  EXPECT_TRUE(CheckModel(read.drawing).empty());
}

TEST(W2dStream, BinaryCoordinatesAreRelativeToThePointBefore) {
  Bytes b;
  b.Raw("l").P32(1000, 1000).P32(1000, 0);               // 1000,1000 → 2000,1000
  b.U8(0x0C).P16(0, 500).P16(-500, 0);                   // 2000,1500 → 1500,1500
  b.Raw("p").U8(3).P32(0, 100).P32(100, 0).P32(0, 100);  // 1500,1600 1600,1600 1600,1700
  b.U8(0x10).U8(0).U16(0);                               // an extended count: 256 points
  for (int i = 0; i < 256; ++i) b.P16(1, 0);
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto lines = read.All<Line>();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NEAR(lines[0]->start.x, 1.0, 1e-9);
  EXPECT_NEAR(lines[0]->end.x, 2.0, 1e-9);
  EXPECT_NEAR(lines[1]->start.y, 1.5, 1e-9);
  EXPECT_NEAR(lines[1]->end.x, 1.5, 1e-9);
  const auto polylines = read.All<drawing::Polyline>();
  ASSERT_EQ(polylines.size(), 2u);
  ASSERT_EQ(polylines[0]->vertices.size(), 3u);
  EXPECT_NEAR(polylines[0]->vertices[2].position.y, 1.7, 1e-9);
  ASSERT_EQ(polylines[1]->vertices.size(), 256u);
  EXPECT_NEAR(polylines[1]->vertices.back().position.x, 1.856, 1e-9);
}

TEST(W2dStream, FillModeMakesSolidAreasOfPolygonsTrianglesAndContours) {
  Bytes b;
  b.Raw("F P 4 0,0 1000,0 1000,1000 0,1000 f");
  b.Raw("T 4 0,0 1000,0 0,1000 1000,1000");
  b.Raw("(Contour 2 4 3 0,0 4000,0 4000,4000 0,4000 1000,1000 2000,1000 1000,2000)");
  b.Raw("P 3 0,0 10,10 20,0");
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto hatches = read.All<Hatch>();
  ASSERT_EQ(hatches.size(), 2u);
  EXPECT_TRUE(hatches[0]->solid);
  EXPECT_EQ(hatches[0]->paths.size(), 1u);
  EXPECT_EQ(hatches[1]->paths.size(), 2u) << "a contour set keeps its hole";
  EXPECT_EQ(read.All<Solid>().size(), 2u) << "four points of a strip are two triangles";
  EXPECT_EQ(read.All<drawing::Polyline>().size(), 1u) << "fill mode is off again";
}

TEST(W2dStream, CirclesArcsAndEllipsesKeepTheirAngles) {
  Bytes b;
  b.Raw("R 1000,1000 500");
  b.U8(0x92).P32(2000, 2000).U32(1000).U16(0).U16(16384);                // a quarter circle
  b.Raw("e").P32(1000, 0).I32(2000).I32(1000).U16(0).U16(0).U16(16384);  // tilted a quarter
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto circles = read.All<drawing::Circle>();
  ASSERT_EQ(circles.size(), 1u);
  EXPECT_NEAR(circles[0]->radius, 0.5, 1e-9);
  const auto arcs = read.All<drawing::Arc>();
  ASSERT_EQ(arcs.size(), 1u);
  EXPECT_NEAR(arcs[0]->center.x, 2.0, 1e-9);
  EXPECT_NEAR(arcs[0]->startAngle, 0, 1e-9);
  EXPECT_NEAR(arcs[0]->endAngle, 90, 1e-9);
  const auto ellipses = read.All<drawing::Ellipse>();
  ASSERT_EQ(ellipses.size(), 1u);
  EXPECT_NEAR(ellipses[0]->center.x, 3.0, 1e-9) << "relative to the arc's centre";
  EXPECT_NEAR(ellipses[0]->majorAxis.x, 0, 1e-9);
  EXPECT_NEAR(ellipses[0]->majorAxis.y, 2.0, 1e-9);
  EXPECT_NEAR(ellipses[0]->ratio, 0.5, 1e-9);
}

TEST(W2dStream, BezierPiecesBecomeOneClampedCubicSpline) {
  Bytes b;
  b.Raw("b").U8(2).P32(0, 0);
  for (int i = 0; i < 6; ++i) b.P32(100, 100);
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto splines = read.All<Spline>();
  ASSERT_EQ(splines.size(), 1u);
  EXPECT_EQ(splines[0]->controlPoints.size(), 7u);
  EXPECT_EQ(splines[0]->knots, (std::vector<double>{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}));
  EXPECT_TRUE(CheckModel(read.drawing).empty());
}

TEST(W2dStream, TextTakesTheFontsHeightTurnAndWidthAndUnicodeStrings) {
  Bytes b;
  // Font: name, style bold, height 1000, rotation a quarter turn, width scale 1.5.
  b.U8(0x06).U16(0x0001 | 0x0010 | 0x0020 | 0x0040 | 0x0080);
  b.Raw(" 'Arial'").U8(0x04).I32(1000).U16(16384).U16(1536);
  b.Raw("x").P32(2000, 3000).Raw("{").U32(3).U16('A').U16(0x4E2D).U16('B').Raw("}");
  b.Raw("(Text 100,100 'plain \\'quoted\\'')");
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto texts = read.All<Text>();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0]->text,
            "A\xE4\xB8\xAD"
            "B");
  EXPECT_NEAR(texts[0]->insertion.x, 2.0, 1e-9);
  EXPECT_NEAR(texts[0]->height, 0.7, 1e-9) << "the cap height of a one-inch cell";
  EXPECT_NEAR(texts[0]->rotation, 90, 1e-9);
  EXPECT_NEAR(texts[0]->widthFactor, 1.5, 1e-9);
  const TextStyle& style = read.drawing.textStyles[texts[0]->style];
  EXPECT_EQ(style.fontFile, "Arial Bold");
  EXPECT_EQ(style.fontFamily, "Arial");
  EXPECT_EQ(texts[1]->text, "plain 'quoted'");
}

TEST(W2dStream, ComplexTextIsFittedToTheWritersBoxAndMovesTheCurrentPointOn) {
  Bytes b;
  b.U8(0x06).U16(0x0020).I32(100);  // font height 100
  // Text at 1000,1000; no over- or underscores; its box from 1000,980 to 1600,1080 (relative
  // points, each to the one before); no reserved values.
  b.U8(0x18).P32(1000, 1000).Raw("'WIDE'").U8(1).U8(1);
  b.P32(0, -20).P32(600, 0).P32(0, 100).P32(-600, 0).U8(1);
  b.Raw("l").P32(0, 0).P32(10, 0);  // starts at the box's last corner, 1000,1080
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto texts = read.All<Text>();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0]->horizontalJustification, 5) << "fitted between its two points";
  EXPECT_NEAR(texts[0]->alignment.x - texts[0]->insertion.x, 0.6, 1e-9);
  EXPECT_NEAR(texts[0]->alignment.y, texts[0]->insertion.y, 1e-9);
  const auto lines = read.All<Line>();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NEAR(lines[0]->start.x, 1.0, 1e-9);
  EXPECT_NEAR(lines[0]->start.y, 1.08, 1e-9);
}

TEST(W2dStream, MapColoursArePensByIndexAndTrueColoursTakeTheNearestIndex) {
  Bytes b;
  b.Raw("c").U8(45).Raw("L 0,0 1,1");                       // the default map's 45: cyan
  b.U8(0x03).U8(255).U8(0).U8(0).U8(255).Raw("L 0,0 1,1");  // red, as red green blue alpha
  b.Raw("(ColorMap 3 0,0,0,255 255,0,0,255 1,2,3,255) C 1 L 0,0 1,1");
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto entities = read.Entities();
  ASSERT_EQ(entities.size(), 3u);
  EXPECT_EQ(entities[0]->color.index, 45);
  EXPECT_TRUE(entities[0]->color.hasTrueColor);
  EXPECT_EQ(entities[0]->color.rgb, 0xFFFF00u) << "cyan, red in the low byte";
  EXPECT_EQ(entities[1]->color.index, NearestColorIndex(255, 0, 0));
  EXPECT_EQ(entities[1]->color.rgb, 0x0000FFu);
  EXPECT_EQ(entities[2]->color.index, 1) << "the map's red is the palette's red: pen 1";
  EXPECT_FALSE(entities[2]->color.hasTrueColor);
}

TEST(W2dStream, LineWeightsBecomeLineweightsOrWidePolylines) {
  // 10 logical units are 0.01 inch: 0.254 mm; 200 are 5.08 mm, wider than any lineweight.
  Read read(PlottedStream("(LineWeight 10) L 0,0 1000,0 (LineWeight 200) L 0,0 1000,0"));
  ASSERT_TRUE(read.ok) << read.error;
  const auto entities = read.Entities();
  ASSERT_EQ(entities.size(), 2u);
  EXPECT_EQ(entities[0]->lineweight, 25);
  const auto* wide = std::get_if<drawing::Polyline>(&entities[1]->data);
  ASSERT_NE(wide, nullptr);
  EXPECT_NEAR(wide->constantWidth, 0.2, 1e-9);
  EXPECT_TRUE(CheckModel(read.drawing).empty());
}

TEST(W2dStream, LayersAreTheDrawingsLayersAndInvisibleGraphicsAreLeftOut) {
  Bytes b;
  b.Raw("(Layer 7 'WALLS') L 0,0 1,1 (Layer 8 'DOORS') L 0,0 1,1");
  b.U8(0xAC).U8(7).Raw("L 0,0 1,1 v L 0,0 5,5 V");
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto entities = read.Entities();
  ASSERT_EQ(entities.size(), 3u);
  const auto name = [&](const Entity* e) { return read.drawing.layers[e->layer].name; };
  EXPECT_EQ(name(entities[0]), "WALLS");
  EXPECT_EQ(name(entities[1]), "DOORS");
  EXPECT_EQ(name(entities[2]), "WALLS");
}

TEST(W2dStream, MarkersOfAnUndefinedMacroAreDrawnAsPoints) {
  Bytes b;
  b.U8(0x8D).U8(1).P16(4000, 4000);  // 16-bit, relative to the start, 0,0
  b.Raw("G 3 S 50 M 2 1000,2000 3000,4000 ");
  b.Raw("v M 1 5000,5000 V");  // invisible: nothing
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto points = read.All<drawing::Point>();
  ASSERT_EQ(points.size(), 3u);
  EXPECT_NEAR(points[0]->position.x, 4.0, 1e-9);
  EXPECT_NEAR(points[0]->position.y, 4.0, 1e-9);
  EXPECT_NEAR(points[1]->position.x, 1.0, 1e-9);
  EXPECT_NEAR(points[1]->position.y, 2.0, 1e-9);
  EXPECT_NEAR(points[2]->position.x, 3.0, 1e-9);
  EXPECT_TRUE(CheckModel(read.drawing).empty());
}

TEST(W2dStream, AViewportClipsTheGraphicsAfterIt) {
  Read read(
      PlottedStream("L 0,0 1,1 (Viewport 'v' (Contour 1 4 0,0 2000,0 2000,2000 0,2000)) "
                    "L 0,0 3000,3000 (Viewport '') L 0,0 1,1"));
  ASSERT_TRUE(read.ok) << read.error;
  const Block& sheet = read.drawing.blocks[read.drawing.layouts[1].block];
  // The printable area clips everything; inside it the viewport clips one line.
  ASSERT_EQ(sheet.entities.size(), 1u);
  const auto& page = std::get<ClippedGroup>(sheet.entities[0].data);
  ASSERT_EQ(page.entities.size(), 3u);
  const auto* viewport = std::get_if<ClippedGroup>(&page.entities[1].data);
  ASSERT_NE(viewport, nullptr);
  ASSERT_EQ(viewport->boundary.size(), 4u);
  EXPECT_NEAR(viewport->boundary[2].x, 2.0, 1e-9);
  EXPECT_EQ(viewport->entities.size(), 1u);
  EXPECT_TRUE(page.entities[2].Is<Line>());
}

TEST(W2dStream, UnknownExtendedOpcodesAreSkippedByTheirLengthAndCounted) {
  Bytes b;
  b.Raw("(Whatever 1 (nested 'with ) in quotes') 2) L 0,0 1,1");
  b.Extended(0x0999, "(((( binary data )").Raw("L 0,0 1,1");
  b.Raw("(URL 'http://example.com') L 0,0 1,1");
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.All<Line>().size(), 3u);
  EXPECT_EQ(read.Skipped("(Whatever)"), 1);
  EXPECT_EQ(read.Skipped("{0x0999}"), 1);
  EXPECT_EQ(read.Skipped("(URL)"), 0) << "what draws nothing is not counted";
}

TEST(W2dStream, AnUnknownSingleByteOpcodeEndsTheStreamWithANote) {
  Read read(PlottedStream("L 0,0 1,1 \x01\x02\x03 L 0,0 1,1"));
  EXPECT_TRUE(read.ok) << "the sheet was read up to the damage";
  EXPECT_EQ(read.All<Line>().size(), 1u);
  EXPECT_NE(read.error.find("byte"), std::string::npos) << read.error;
}

TEST(W2dStream, CompressedPartsAreReadInPlace) {
  const std::string inner = "L 0,0 1000,1000 L 0,0 2000,2000 ";
  Bytes zlib;
  zlib.Raw("{").U32(0).U16(0x0011).Raw(Deflated(inner)).Raw("}").Raw("L 0,0 3000,3000");
  Read zipped(PlottedStream(zlib.data));
  ASSERT_TRUE(zipped.ok) << zipped.error;
  EXPECT_EQ(zipped.All<Line>().size(), 3u);
  // The LZ form: "L 0,0 1,1 " literally, then the same ten bytes again from ten back.
  Bytes lz;
  lz.Raw("{").U32(0).U16(0x0010).U8(0x7A).Raw("L 0,0 1,1 ").U16(9).U8(0x00).Raw("}");
  Read unpacked(PlottedStream(lz.data));
  ASSERT_TRUE(unpacked.ok) << unpacked.error;
  EXPECT_EQ(unpacked.All<Line>().size(), 2u);
}

TEST(W2dStream, PicturesKeepTheirPixels) {
  Bytes rgb;
  rgb.U16(2).U16(1).P32(1000, 1000).P32(2000, 1000).I32(1).U32(6);
  rgb.U8(255).U8(0).U8(0).U8(0).U8(0).U8(255);
  Bytes bitonal;
  bitonal.U16(3).U16(2).P32(0, 0).P32(300, 200).I32(2).U8(2);
  bitonal.U8(255).U8(255).U8(255).U8(255).U8(0).U8(0).U8(0).U8(255).U32(2).U8(0xA0).U8(0x40);
  Bytes b;
  b.Extended(0x0006, rgb.data).Extended(0x0002, bitonal.data);
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  const auto images = read.All<Image>();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_NEAR(images[0]->insertion.x, 1.0, 1e-9);
  EXPECT_NEAR(images[0]->u.x * images[0]->pixelSize.x, 2.0, 1e-9);
  const ImageDef& colour = read.drawing.imageDefs[images[0]->imageDef];
  EXPECT_EQ(colour.rgba, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 255, 255}));
  const ImageDef& mono = read.drawing.imageDefs[images[1]->imageDef];
  ASSERT_EQ(mono.rgba.size(), 3u * 2 * 4);
  EXPECT_EQ(mono.rgba[0], 0) << "bit 1: the second colour, black";
  EXPECT_EQ(mono.rgba[4], 255) << "bit 0: white";
  EXPECT_EQ(mono.rgba[3 * 4 + 4], 0) << "second row, second pixel";
}

TEST(W2dStream, GroupFourPicturesAreHandedOverAsTiffFilesTheLibraryReads) {
  // An all-white 8 × 2 picture in CCITT group 4: each row is a "vertical 0" code (a 1 bit)
  // against the white reference row.
  Bytes g4;
  g4.U16(8).U16(2).P32(0, 0).P32(800, 200).I32(3).U32(1).U8(0xC0);
  Bytes b;
  b.Extended(0x0009, g4.data);
  Read read(PlottedStream(b.data));
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.drawing.imageDefs.size(), 1u);
  auto dib = LoadImageData(read.drawing.imageDefs[0].embedded);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->Width(), 8);
  EXPECT_EQ(dib->Height(), 2);
  EXPECT_EQ(dib->Row(0)[0], 255);
}

TEST(W2dStream, DamagedStreamsAreReadAroundAndNeverOverrun) {
  // Counts and sizes beyond the data, cut operands and runaway nesting.
  const std::vector<std::string> damaged = {
      Bytes().Raw("p").U8(0).U16(65535).P32(1, 1).data,
      Bytes().Raw("k").U8(200).U8(255).data,
      Bytes().Raw("{").U32(0x7FFFFFFF).U16(6).Raw("x").data,
      Bytes().Raw("{").U32(20).U16(6).U16(60000).U16(60000).data,
      Bytes().Raw("x").P32(0, 0).Raw("{").U32(0x40000000).Raw("ab").data,
      Bytes().Raw("{").U32(0).U16(0x0011).Raw("not zlib data at all").data,
      Bytes().Raw("{").U32(0).U16(0x0010).U8(0xF0).U8(0xFF).U16(0xFFFF).data,
      std::string(100000, '('),
      Bytes().Raw("(Contour 99999999 1 2 3)(Bezier -5 0,0)(ColorMap 9999)").data,
      // Numbers no integer holds, where counts, indices and flags are read (found by fuzzing).
      Bytes().Raw("P 7e84 0,0 1,1").data,
      Bytes().Raw("C -1e300 T 1e19 0,0 B 9e99 0,0 M 1e300").data,
      Bytes().Raw("(Layer 1e300 'x')(Font (Flags -5)(Height 1e308))(Color 1e300)").data,
      Bytes().Raw("(Contour 1 1e300 0,0)(Viewport '' (Contour 1 -1e300 0,0))").data,
  };
  for (const std::string& opcodes : damaged) {
    Read read(PlottedStream(opcodes));
    EXPECT_TRUE(CheckModel(read.drawing).empty());
    EXPECT_EQ(read.error.find('\n'), std::string::npos);
  }
}

// The inputs that once broke the reader, kept as the fuzzer found them (a W2D header added where
// the fuzzer read bare opcodes): each reads into a model that keeps its promises and draws.
TEST(W2dStream, EveryFuzzingRegressionInputReadsAndDraws) {
  const std::filesystem::path folder =
      std::filesystem::path(TARNVELOX_SOURCE_DIR) / "tests/drawing/fuzz-regressions";
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    if (extension != ".w2d" && extension != ".dwf") continue;
    Drawing drawing;
    std::string error;
    ReadDwf(testsupport::ReadFile(entry.path()), drawing, &error);
    EXPECT_EQ(error.find('\n'), std::string::npos) << entry.path();
    EXPECT_EQ(FinishModel(drawing), 0) << entry.path();
    EXPECT_TRUE(CheckModel(drawing).empty()) << entry.path();
    CTextEngine text;
    CTraceExport trace;
    constexpr double kPointsPerMm = 72 / 25.4;
    for (std::size_t i = 0; i < drawing.layouts.size(); ++i) {
      const Layout& layout = drawing.layouts[i];
      CRenderer renderer(drawing, text, trace);
      renderer.DrawLayout(static_cast<int>(i),
                          Affine3::Scale(kPointsPerMm, kPointsPerMm, kPointsPerMm),
                          kPointsPerMm * layout.paperWidth, kPointsPerMm * layout.paperHeight);
    }
    ++count;
  }
  EXPECT_GT(count, 0) << "no DWF regression inputs in " << folder;
  std::printf("[          ] %d regression inputs\n", count);
}

TEST(W2dStream, WithoutPlotInformationTheGraphicsFillLetterPaper) {
  Read read(Stream("L 0,0 4000,2000"));
  ASSERT_TRUE(read.ok) << read.error;
  const Layout& sheet = read.drawing.layouts[1];
  EXPECT_DOUBLE_EQ(sheet.paperWidth, 11 * 25.4);
  const auto lines = read.All<Line>();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NEAR(lines[0]->end.x - lines[0]->start.x, 11.0, 1e-9);
}

TEST(W2dStream, AClassicDwfReadsLikeABareStream) {
  std::string classic = PlottedStream("L 1000,2000 3000,2000");
  classic.replace(0, 12, "(DWF V00.55)");
  Read read(classic);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.All<Line>().size(), 1u);
  EXPECT_EQ(DetectDrawingFormat(classic), DrawingFormat::Dwf);
}

// ---- Packages -------------------------------------------------------------------------------

TEST(DwfPackage, SheetsArePaperLayoutsInPlotOrder) {
  const std::string second = "(W2D V06.00)L 0,0 1000,1000 (EndOfDWF)";
  const std::string first = "(W2D V06.00)L 0,0 2000,2000 L 0,0 1,1 (EndOfDWF)";
  const std::string bytes = Package({
      {"manifest.xml", Manifest({"com.autodesk.dwf.ePlot_A", "com.autodesk.dwf.ePlot_B"})},
      {"com.autodesk.dwf.ePlot_A\\descriptor.xml",
       Descriptor("Second", 2, kLetterPaper, "com.autodesk.dwf.ePlot_A\\a.w2d")},
      {"com.autodesk.dwf.ePlot_A\\a.w2d", second},
      {"com.autodesk.dwf.ePlot_B\\descriptor.xml",
       Descriptor("First", 1,
                  "<ePlot:Paper units=\"mm\" width=\"420\" height=\"297\" clip=\"0 0 420 297\"/>",
                  "com.autodesk.dwf.ePlot_B\\b.w2d")},
      {"com.autodesk.dwf.ePlot_B\\b.w2d", first},
  });
  Read read(bytes);
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.drawing.layouts.size(), 3u);
  EXPECT_TRUE(read.drawing.layouts[0].isModel);
  EXPECT_EQ(read.drawing.layouts[1].name, "First");
  EXPECT_EQ(read.drawing.layouts[1].paperUnits, 1);
  EXPECT_DOUBLE_EQ(read.drawing.layouts[1].paperWidth, 420);
  EXPECT_EQ(read.drawing.layouts[2].name, "Second");
  EXPECT_DOUBLE_EQ(read.drawing.layouts[2].paperHeight, 8.5 * 25.4);
  const auto lines = read.All<Line>();
  ASSERT_EQ(lines.size(), 2u);
  // The resource's transform: 0.001 units per logical unit, then moved by (1, 2).
  EXPECT_NEAR(lines[0]->end.x, 3.0, 1e-9);
  EXPECT_NEAR(lines[0]->end.y, 4.0, 1e-9);
  EXPECT_TRUE(read.drawing.blocks[0].entities.empty());
  EXPECT_TRUE(CheckModel(read.drawing).empty());
}

TEST(DwfPackage, APackageWithoutA2dSheetSaysSo) {
  const std::string bytes =
      Package({{"manifest.xml",
                "<dwf:Manifest xmlns:dwf=\"DWF-Manifest:6.0\"><dwf:Sections><dwf:Section "
                "type=\"com.autodesk.dwf.eModel\" name=\"m\"/></dwf:Sections></dwf:Manifest>"}});
  Read read(bytes);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "no printable 2D sheet");
}

TEST(DwfPackage, DamagedPackagesGiveAOneLineReason) {
  const std::string good =
      Package({{"manifest.xml", Manifest({"S"})},
               {"S\\descriptor.xml", Descriptor("S", 1, kLetterPaper, "S\\g.w2d")},
               {"S\\g.w2d", "(W2D V06.00)L 0,0 1,1"}});
  const std::vector<std::string> damaged = {
      good.substr(0, good.size() / 2),
      "(DWF V06.00)PK\x03\x04 no archive",
      Package({{"manifest.xml", "<not xml"}}),
      Package({{"other.xml", "<a/>"}}),
      Package({{"manifest.xml", Manifest({"S"})}}),
  };
  for (const std::string& bytes : damaged) {
    Read read(bytes);
    EXPECT_FALSE(read.ok);
    EXPECT_FALSE(read.error.empty());
    EXPECT_EQ(read.error.find('\n'), std::string::npos) << read.error;
    EXPECT_TRUE(CheckModel(read.drawing).empty());
  }
  // A sheet whose graphics are missing still is a sheet, with a note.
  Read partial(Package({{"manifest.xml", Manifest({"S"})},
                        {"S\\descriptor.xml", Descriptor("S", 1, kLetterPaper, "S\\g.w2d")}}));
  EXPECT_TRUE(partial.ok);
  EXPECT_NE(partial.error.find("S\\g.w2d"), std::string::npos) << partial.error;
}

TEST(DwfPackage, AManifestNestedDeeplyIsWalkedWithoutRecursion) {
  std::string deep;
  // Names that differ, so that the member does not compress like a zip bomb.
  for (int i = 0; i < 300'000; ++i) deep += "<n" + std::to_string(i * 7919LL % 100003) + ">";
  for (int i = 300'000 - 1; i >= 0; --i) deep += "</n" + std::to_string(i * 7919LL % 100003) + ">";
  Read read(Package({{"manifest.xml", deep}}));
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "no printable 2D sheet");
}

TEST(DwfPackage, MembersThatInflateBeyondReasonAreRefused) {
  // Four megabytes of one byte shrink to a few kilobytes: a ratio no drawing reaches.
  const std::string bomb = "(W2D V06.00)" + std::string(4 << 20, ' ');
  Read read(Package({{"manifest.xml", Manifest({"S"})},
                     {"S\\descriptor.xml", Descriptor("S", 1, kLetterPaper, "S\\g.w2d")},
                     {"S\\g.w2d", bomb}}));
  EXPECT_TRUE(read.ok);
  EXPECT_NE(read.error.find("larger than the reader accepts"), std::string::npos) << read.error;
}

TEST(DwfPackage, EmbeddedFontsBecomeTextStylesOfTheirName) {
  const std::string descriptor =
      "<ePlot:Page xmlns:ePlot=\"DWF-ePlot:1.2\" name=\"S\" plotOrder=\"1\">" + kLetterPaper +
      "<ePlot:Resources><ePlot:FontResource role=\"font\" href=\"S\\f.tmp\" "
      "canonicalName=\"Arial Bold\" logfontName=\"Arial\"/></ePlot:Resources></ePlot:Page>";
  Read read(Package({{"manifest.xml", Manifest({"S"})},
                     {"S\\descriptor.xml", descriptor},
                     {"S\\f.tmp", "font bytes"}}));
  ASSERT_TRUE(read.ok) << read.error;
  bool found = false;
  for (const TextStyle& style : read.drawing.textStyles) {
    if (style.fontFile == "Arial Bold") {
      found = true;
      EXPECT_EQ(style.fontFamily, "Arial");
      EXPECT_EQ(style.embeddedFont, "font bytes");
    }
  }
  EXPECT_TRUE(found);
}

// ---- The shared corpus ------------------------------------------------------------------------

TEST(DwfCorpus, EveryPackageReadsItsSheets) {
  const auto shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  const std::vector<std::pair<std::string, std::size_t>> expected = {
      {"dwftk_IRD_Addition.dwf", 11}, {"dwftk_content.dwf", 1}, {"dwftk_ocean_90.w2d", 1},
      {"ezdxf_underlay.dwf", 1},      {"zsdwf_1_A3.dwf", 1},    {"zsdwf_2_A1.dwf", 1},
      {"zsdwf_3_A3.dwf", 1},          {"zsdwf_4_A3.dwf", 1}};
  for (const auto& [name, sheets] : expected) {
    Drawing drawing;
    std::string error;
    ASSERT_TRUE(ReadDrawingFile((shared / "corpus/dwf" / name).string(), drawing, &error))
        << name << ": " << error;
    EXPECT_TRUE(error.empty()) << name << ": " << error;
    EXPECT_EQ(drawing.layouts.size(), sheets + 1) << name;
    EXPECT_TRUE(CheckModel(drawing).empty()) << name;
    std::size_t entities = 0;
    for (std::size_t i = 1; i < drawing.layouts.size(); ++i) {
      entities += drawing.blocks[drawing.layouts[i].block].entities.size();
    }
    EXPECT_GT(entities, 0u) << name;
  }
}

TEST(DwfCorpus, APackageOf3dModelsHasNoPrintableSheet) {
  const auto shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  Drawing drawing;
  std::string error;
  EXPECT_FALSE(
      ReadDrawingFile((shared / "corpus/dwf/dwftk_3DPublishOut.dwf").string(), drawing, &error));
  EXPECT_EQ(error, "no printable 2D sheet");
}

TEST(DwfCorpus, ThePackagedStreamAndTheBareStreamDrawTheSame) {
  const auto shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  Read package(testsupport::ReadFile(shared / "corpus/dwf/dwftk_content.dwf"));
  Read bare(testsupport::ReadFile(shared / "corpus/dwf/dwftk_ocean_90.w2d"));
  ASSERT_TRUE(package.ok && bare.ok);
  // The same graphics on the same 11 × 8.5 inch paper: the package by its transform, the bare
  // stream by fitting its extents (its viewport spans the whole sheet).
  EXPECT_DOUBLE_EQ(package.drawing.layouts[1].paperWidth, bare.drawing.layouts[1].paperWidth);
  const auto a = package.All<Line>(), b = bare.All<Line>();
  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  EXPECT_NEAR(a[0]->start.x, b[0]->start.x, 1e-6);
  EXPECT_NEAR(a.back()->end.y, b.back()->end.y, 1e-6);
}
