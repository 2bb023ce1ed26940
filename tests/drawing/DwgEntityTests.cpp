// The DWG reader's decoders on objects the tests write bit by bit: entities into the model,
// the helpers for colours, lineweights, code pages and extended data, and the splines a file
// keeps by their fit points.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "DwgTestFiles.h"
#include "drawing/Model.h"
#include "drawing/SplineFit.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/detail/DwgEntities.h"
#include "drawing/dwg/detail/DwgReaderContext.h"

namespace {

using namespace drawing;
using namespace drawing::dwg;
using namespace drawing::dwg::detail;
using dwgtest::CBitWriter;

using Writer = std::function<void(CBitWriter& data, CBitWriter& handles)>;

// One entity of a given release, written as the file would hold it: the common part (model
// space, no reactors, colour ByLayer, linetype ByLayer, on layer handle 0x10) and then what the
// test writes for the entity's own data and handles.
class CEntityFile {
 public:
  explicit CEntityFile(Version version) : context(container, header, drawing) {
    container.version = version;
    context.version = version;
    context.layers[0x10] = 0;
    drawing.layers.emplace_back().name = "0";
  }

  CDwgEntityResult Read(std::uint16_t type, const Writer& write, bool inDefinition = false) {
    const Version v = container.version;
    CBitWriter d, h;
    d.Bits(2, 2);                         // model space
    d.BL(0);                              // reactors
    if (v >= Version::R2004) d.B(true);   // no extension dictionary
    if (v <= Version::R2000) d.B(true);   // no links
    if (v >= Version::R2013) d.B(false);  // no data-store data
    if (v >= Version::R2004) {
      d.BS(color);
      if ((color & 0x8000) && !(color & 0x4000)) d.BL(rgb);
    } else {
      d.BS(color);
    }
    d.BD(1.0);     // linetype scale
    d.Bits(0, 2);  // linetype ByLayer
    d.Bits(0, 2);  // plot style ByLayer
    if (v >= Version::R2007) {
      d.Bits(0, 2);  // material
      d.RC(0);       // shadows
    }
    if (v >= Version::R2010) d.Bits(0, 3);  // no visual styles
    d.BS(0);                                // visible
    d.RC(lineweight);
    if (v <= Version::R2000) h.H(3, 0);  // extension dictionary
    if (v >= Version::R2004 && (color & 0x4000)) h.H(5, 0x77);
    h.H(5, 0x10);  // layer
    write(d, h);
    dataBytes = d.Bytes();
    handleBytes = h.Bytes();
    stringBytes = strings.Bytes();
    frame = CDwgObjectFrame();
    frame.type = type;
    frame.handle = 0x100;
    frame.isEntity = true;
    frame.data = CBitReader(dataBytes, v);
    frame.handles = CBitReader(handleBytes, v);
    frame.strings = CBitReader(stringBytes, v);
    frame.extendedData = extendedData;
    entity = Entity();
    info = CDwgEntityInfo();
    if (!ReadEntityCommon(frame, common)) return CDwgEntityResult::Damaged;
    return ReadDwgEntity(context, frame, common, inDefinition, entity, info, name);
  }

  template <class Kind>
  const Kind& Data() const {
    return std::get<Kind>(entity.data);
  }

  // R2007 and later: the texts, written by the test before Read.
  CBitWriter strings;
  std::vector<CDwgExtendedData> extendedData;
  std::uint16_t color = 256;
  std::uint32_t rgb = 0;
  std::uint8_t lineweight = 29;
  CDwgContainer container;
  CDwgHeader header;
  Drawing drawing;
  CDwgReaderContext context;
  CDwgObjectFrame frame;
  CDwgEntityCommon common;
  Entity entity;
  CDwgEntityInfo info;
  std::string name;

 private:
  std::string dataBytes, handleBytes, stringBytes;
};

constexpr std::uint16_t kText = 0x01, kArc = 0x11, kLine = 0x13, kLeader = 0x2D, kMText = 0x2C;
constexpr std::uint16_t kTolerance = 0x2E, kLwPolyline = 0x4D, kHatch = 0x4E;

void ExpectPoint(const Vec3& actual, double x, double y, double z) {
  EXPECT_DOUBLE_EQ(actual.x, x);
  EXPECT_DOUBLE_EQ(actual.y, y);
  EXPECT_DOUBLE_EQ(actual.z, z);
}

// ---- Entities ------------------------------------------------------------------------------

TEST(DwgEntities, ALineOfR2000TakesItsEndFromTheStartWhereTheFileLeavesItOut) {
  CEntityFile file(Version::R2000);
  ASSERT_EQ(file.Read(kLine,
                      [](CBitWriter& d, CBitWriter&) {
                        d.B(true);  // z is zero
                        d.RD(2.5);
                        d.DD(7.0, 2.5);
                        d.RD(-1.0);
                        d.DD(-1.0, -1.0);  // the same y: not stored
                        d.B(true);         // no thickness
                        d.B(true);         // extrusion 0,0,1
                      }),
            CDwgEntityResult::Stored);
  EXPECT_EQ(file.name, "LINE");
  ExpectPoint(file.Data<Line>().start, 2.5, -1.0, 0.0);
  ExpectPoint(file.Data<Line>().end, 7.0, -1.0, 0.0);
  EXPECT_EQ(file.entity.layer, 0);
  EXPECT_EQ(file.entity.lineweight, kLineweightByLayer);
}

TEST(DwgEntities, AnglesAreStoredInRadiansAndKeptInDegrees) {
  CEntityFile file(Version::R2000);
  ASSERT_EQ(file.Read(kArc,
                      [](CBitWriter& d, CBitWriter&) {
                        d.BD3(1, 2, 0);
                        d.BD(3.0);
                        d.B(true);
                        d.B(true);
                        d.BD(std::numbers::pi / 2);
                        d.BD(std::numbers::pi);
                      }),
            CDwgEntityResult::Stored);
  EXPECT_DOUBLE_EQ(file.Data<Arc>().startAngle, 90.0);
  EXPECT_DOUBLE_EQ(file.Data<Arc>().endAngle, 180.0);
}

TEST(DwgEntities, TextReadsOnlyTheFieldsItsDataFlagsKeepAndReplacesPercentCodes) {
  CEntityFile file(Version::R2000);
  ASSERT_EQ(file.Read(kText,
                      [](CBitWriter& d, CBitWriter& h) {
                        d.RC(0x01 | 0x04 | 0x10 | 0x20 | 0x80);  // kept: alignment, rotation,
                        d.RD(4.0);                               // horizontal justification
                        d.RD(5.0);
                        d.DD(6.0, 4.0);
                        d.DD(5.0, 5.0);
                        d.B(true);
                        d.B(true);
                        d.RD(std::numbers::pi / 6);  // rotation
                        d.RD(2.5);                   // height
                        d.TV("90%%d");
                        d.BS(1);  // centred
                        h.H(5, 0x99);
                      }),
            CDwgEntityResult::Stored);
  const Text& text = file.Data<Text>();
  EXPECT_EQ(text.text, "90\xC2\xB0");
  ExpectPoint(text.insertion, 4.0, 5.0, 0.0);
  ExpectPoint(text.alignment, 6.0, 5.0, 0.0);
  EXPECT_NEAR(text.rotation, 30.0, 1e-12);
  EXPECT_DOUBLE_EQ(text.height, 2.5);
  EXPECT_DOUBLE_EQ(text.widthFactor, 1.0);
  EXPECT_EQ(text.horizontalJustification, 1);
  EXPECT_EQ(text.style, file.context.standardStyle) << "an unknown style is Standard";
}

TEST(DwgEntities, MTextKeepsItsCodesAndWritesControlCharactersInCaretNotation) {
  CEntityFile file(Version::R2004);
  ASSERT_EQ(file.Read(kMText,
                      [](CBitWriter& d, CBitWriter& h) {
                        d.BD3(0, 0, 0);
                        d.BD3(0, 0, 1);
                        d.BD3(0, 1, 0);  // turned by 90°
                        d.BD(10);        // reference width
                        d.BD(2);         // height
                        d.BS(5);         // middle centre
                        d.BS(1);
                        d.BD(0);
                        d.BD(0);
                        d.TV("a\nx^2\\P{\\H2;b}");
                        d.BS(1);
                        d.BD(1.5);
                        h.H(5, 0x99);
                      }),
            CDwgEntityResult::Stored);
  const MText& mtext = file.Data<MText>();
  EXPECT_EQ(mtext.text, "a^Jx^ 2\\P{\\H2;b}");
  ExpectPoint(mtext.direction, 0, 1, 0);
  EXPECT_EQ(mtext.attachment, 5);
  EXPECT_DOUBLE_EQ(mtext.lineSpacingFactor, 1.5);
}

TEST(DwgEntities, MTextOfR2018ReadsItsColumnsAndKeepsItsTextWhenTheyDoNotRead) {
  // The common MTEXT fields of R2018, then the background fill and the embedded object.
  const auto mtext = [](CBitWriter& d, CBitWriter& h, bool complete) {
    d.BD3(0, 0, 0);
    d.BD3(0, 0, 1);
    d.BD3(1, 0, 0);
    d.BD(40);  // reference width
    d.BD(60);  // rectangle height
    d.BD(2.5);
    d.BS(1);
    d.BS(1);
    d.BD(0);
    d.BD(0);
    d.BS(1);
    d.BD(1);
    h.H(5, 0x99);
    d.BL(1);  // a background fill: scale, colour, transparency
    d.BL(1);
    d.BS(0);
    d.BL(0xC3000001);
    d.RC(0);
    d.BL(0);
    if (!complete) return;
    d.B(true);  // not annotative: the embedded object follows
    d.BS(4);
    d.B(true);
    d.BL(0);
    d.BD3(1, 0, 0);
    d.BD3(0, 0, 0);
    d.BD(40);
    d.BD(60);
    d.BD(85);
    d.BD(60);
    d.BS(2);  // dynamic
    d.BL(2);  // two heights
    d.BD(40);
    d.BD(5);
    d.B(false);  // heights of their own
    d.B(true);   // reversed
    d.BD(30);
    d.BD(20);
  };
  CEntityFile file(Version::R2018);
  file.strings.TU(u"text");
  ASSERT_EQ(file.Read(kMText, [&](CBitWriter& d, CBitWriter& h) { mtext(d, h, true); }),
            CDwgEntityResult::Stored);
  const MText& columns = file.Data<MText>();
  EXPECT_EQ(columns.text, "text");
  EXPECT_EQ(columns.columnType, 2);
  EXPECT_DOUBLE_EQ(columns.columnWidth, 40);
  EXPECT_DOUBLE_EQ(columns.columnGutter, 5);
  EXPECT_DOUBLE_EQ(columns.columnHeight, 60);
  EXPECT_FALSE(columns.columnAutoHeight);
  EXPECT_TRUE(columns.columnFlowReversed);
  EXPECT_EQ(columns.columnHeights, (std::vector<double>{30, 20}));
  // Column data cut short: the text stays, without columns.
  CEntityFile cut(Version::R2018);
  cut.strings.TU(u"text");
  ASSERT_EQ(cut.Read(kMText, [&](CBitWriter& d, CBitWriter& h) { mtext(d, h, false); }),
            CDwgEntityResult::Stored);
  EXPECT_EQ(cut.Data<MText>().text, "text");
  EXPECT_EQ(cut.Data<MText>().columnType, 0);
}

TEST(DwgEntities, MTextBeforeR2018ReadsItsColumnsFromItsExtendedData) {
  // Items in their R2000 form: a code byte (the group less 1000), then the value.
  std::string items;
  const auto text = [&items](const std::string& value) {
    items += '\x00';
    items += static_cast<char>(value.size());
    items += std::string("\x1E\x00", 2) + value;
  };
  const auto pair = [&items](int code, int value) {
    for (const int v : {code, value}) {
      items += '\x46';
      items += static_cast<char>(v & 0xFF);
      items += static_cast<char>((v >> 8) & 0xFF);
    }
  };
  const auto real = [&items](double value) {
    items += '\x28';
    items.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  const auto handle = [&items](std::uint64_t value) {
    items += '\x05';
    for (int shift = 56; shift >= 0; shift -= 8) items += static_cast<char>(value >> shift);
  };
  text("ACAD_MTEXT_COLUMN_INFO_BEGIN");
  pair(75, 2);
  pair(79, 0);
  pair(76, 2);
  pair(78, 0);
  items += std::string("\x46\x30\x00", 3);  // 48, the width
  real(20);
  pair(50, 2);
  real(30);
  real(0);
  text("ACAD_MTEXT_COLUMN_INFO_END");
  text("ACAD_MTEXT_COLUMNS_BEGIN");
  pair(47, 2);
  handle(0x2E1);
  text("ACAD_MTEXT_COLUMNS_END");
  CEntityFile file(Version::R2004);
  file.context.applications[0x12] = "ACAD";
  file.extendedData.push_back({0x12, items});
  ASSERT_EQ(file.Read(kMText,
                      [](CBitWriter& d, CBitWriter& h) {
                        d.BD3(0, 0, 0);
                        d.BD3(0, 0, 1);
                        d.BD3(1, 0, 0);
                        d.BD(62);  // the width of the whole set
                        d.BD(2.5);
                        d.BS(1);
                        d.BS(1);
                        d.BD(0);
                        d.BD(0);
                        d.TV("Line 1\\PLine 2");
                        d.BS(1);
                        d.BD(1);
                        h.H(5, 0x99);
                      }),
            CDwgEntityResult::Stored);
  const MText& mtext = file.Data<MText>();
  EXPECT_EQ(mtext.columnType, 2);
  EXPECT_EQ(mtext.columnCount, 2);
  EXPECT_FALSE(mtext.columnAutoHeight);
  EXPECT_DOUBLE_EQ(mtext.columnWidth, 20);
  EXPECT_EQ(mtext.columnHeights, (std::vector<double>{30, 0}));
  EXPECT_EQ(file.info.linkedColumns, std::vector<std::uint64_t>{0x2E1})
      << "the MTEXT that holds the second column";
  EXPECT_DOUBLE_EQ(file.info.columnWidth, 20);
}

TEST(DwgEntities, LightPolylinePointsFollowEachOtherByDefaultDoubles) {
  CEntityFile file(Version::R2000);
  ASSERT_EQ(file.Read(kLwPolyline,
                      [](CBitWriter& d, CBitWriter&) {
                        d.BS(512 | 16 | 8);  // closed, bulges, elevation
                        d.BD(3.0);           // elevation
                        d.BL(3);
                        d.BL(3);
                        d.RD(1);
                        d.RD(1);
                        d.DD(4, 1);
                        d.DD(1, 1);
                        d.DD(4, 4);
                        d.DD(2, 1);
                        d.BD(0);
                        d.BD(0.5);
                        d.BD(0);
                      }),
            CDwgEntityResult::Stored);
  const Polyline& polyline = file.Data<Polyline>();
  EXPECT_TRUE(polyline.closed);
  ASSERT_EQ(polyline.vertices.size(), 3u);
  ExpectPoint(polyline.vertices[1].position, 4, 1, 3);
  ExpectPoint(polyline.vertices[2].position, 4, 2, 3);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].bulge, 0.5);
}

TEST(DwgEntities, CountsBeyondWhatTheObjectHoldsAreDamageNotAllocations) {
  CEntityFile file(Version::R2000);
  EXPECT_EQ(file.Read(kLwPolyline,
                      [](CBitWriter& d, CBitWriter&) {
                        d.BS(0);
                        d.BL(0x7FFFFFFF);  // points
                        d.RD(1);
                      }),
            CDwgEntityResult::Damaged);
  EXPECT_EQ(file.Read(kHatch,
                      [](CBitWriter& d, CBitWriter&) {
                        d.BD(0);
                        d.BD3(0, 0, 1);
                        d.TV("SOLID");
                        d.B(true);
                        d.B(false);
                        d.BL(0x40000000);  // paths
                      }),
            CDwgEntityResult::Damaged);
}

TEST(DwgEntities, ALeaderToATextEndsInAHookWhoseStartDxfFilesListAsAVertex) {
  CEntityFile file(Version::R2004);
  file.context.headerDimStyle = {0.25, 2.0};
  ASSERT_EQ(file.Read(kLeader,
                      [](CBitWriter& d, CBitWriter& h) {
                        d.B(false);
                        d.BS(0);  // to an MTEXT
                        d.BS(0);  // straight
                        d.BL(2);
                        d.BD3(0, 0, 0);
                        d.BD3(3, 4, 0);  // steep: a hook follows
                        d.BD3(0, 0, 0);  // origin
                        d.BD3(0, 0, 1);  // extrusion
                        d.BD3(1, 0, 0);  // x axis
                        d.BD3(0, 0, 0);  // offset to the annotation
                        d.BD3(0, 0, 0);  // end point projection
                        d.BD(0);         // box height and width
                        d.BD(0);
                        d.B(false);
                        d.B(true);  // arrowhead
                        h.H(2, 0);  // annotation
                        h.H(5, 0);  // dimension style: the header's
                      }),
            CDwgEntityResult::Stored);
  const Leader& leader = file.Data<Leader>();
  EXPECT_DOUBLE_EQ(leader.arrowSize, 0.5);
  ASSERT_EQ(leader.vertices.size(), 3u);
  ExpectPoint(leader.vertices[1], 2.5, 4, 0);
  ExpectPoint(leader.vertices[2], 3, 4, 0);
  EXPECT_TRUE(leader.arrowhead);
}

TEST(DwgEntities, AFeatureControlFrameTakesItsTextHeightAndGapFromItsDimensionStyle) {
  CEntityFile file(Version::R2000);
  file.context.headerDimStyle.textHeight = 0.35;
  file.context.headerDimStyle.gap = 0.1;
  file.context.headerDimStyle.scale = 2;
  EXPECT_EQ(file.Read(kTolerance,
                      [](CBitWriter& d, CBitWriter& h) {
                        d.BD3(1, 2, 0);
                        d.BD3(0, 1, 0);  // turned by 90°
                        d.BD3(0, 0, 1);
                        d.TV("{\\Fgdt;j}%%v0.1\nA");
                        h.H(5, 0);  // dimension style: the header's
                      }),
            CDwgEntityResult::Stored);
  const Tolerance& tolerance = file.Data<Tolerance>();
  EXPECT_EQ(tolerance.text, "{\\Fgdt;j}%%v0.1^JA") << "a line feed as DXF files write it";
  ExpectPoint(tolerance.insertion, 1, 2, 0);
  ExpectPoint(tolerance.direction, 0, 1, 0);
  EXPECT_DOUBLE_EQ(tolerance.height, 0.7);
  EXPECT_DOUBLE_EQ(tolerance.gap, 0.2);
}

TEST(DwgEntities, KindsTheModelDoesNotDrawAreSkippedUnderTheirDxfName) {
  CEntityFile file(Version::R2000);
  EXPECT_EQ(file.Read(0x25, [](CBitWriter&, CBitWriter&) {}), CDwgEntityResult::Skipped);
  EXPECT_EQ(file.name, "REGION");
  EXPECT_EQ(file.Read(0x26, [](CBitWriter&, CBitWriter&) {}), CDwgEntityResult::Skipped);
  EXPECT_EQ(file.name, "3DSOLID");
  EXPECT_EQ(file.Read(0x06, [](CBitWriter&, CBitWriter&) {}), CDwgEntityResult::NotDrawn)
      << "a SEQEND belongs to its polyline";
}

TEST(DwgEntities, AnAttributeDefinitionIsDrawnOutsideBlocksOnly) {
  CEntityFile file(Version::R2000);
  const Writer definition = [](CBitWriter& d, CBitWriter& h) {
    d.RC(0xFF & ~0x08);  // only the insertion, rotation, height and text stored
    d.RD(0);
    d.RD(0);
    d.B(true);
    d.B(true);
    d.RD(0);
    d.RD(1);
    d.TV("default");
    d.TV("TAG");
    d.BS(0);
    d.RC(0);  // visible
    d.TV("prompt");
    h.H(5, 0x99);
  };
  ASSERT_EQ(file.Read(0x03, definition), CDwgEntityResult::Stored);
  EXPECT_EQ(file.Data<Text>().text, "TAG");
  EXPECT_EQ(file.Read(0x03, definition, true), CDwgEntityResult::NotDrawn);
}

TEST(DwgEntities, R2004ColoursAreIndicesTrueColoursOrColourBookColours) {
  CEntityFile file(Version::R2004);
  const Writer point = [](CBitWriter& d, CBitWriter&) {
    d.BD3(1, 2, 3);
    d.B(true);
    d.B(true);
    d.BD(0);
  };
  file.color = 0x8000 | 42;
  file.rgb = 0xC2123456;
  ASSERT_EQ(file.Read(0x1B, point), CDwgEntityResult::Stored);
  EXPECT_EQ(file.entity.color.index, 42);
  EXPECT_TRUE(file.entity.color.hasTrueColor);
  EXPECT_EQ(file.entity.color.rgb, 0x563412u) << "red in the low byte";
  // A colour book colour names a DBCOLOR in the handles, before the layer.
  file.color = 0x4000 | 0x8000 | 7;
  file.context.bookColors[0x77] = 0xABCDEF;
  ASSERT_EQ(file.Read(0x1B, point), CDwgEntityResult::Stored);
  EXPECT_EQ(file.common.colorHandle, 0x77u);
  EXPECT_EQ(file.common.layer, 0x10u);
  EXPECT_EQ(file.entity.color.rgb, 0xEFCDABu);
}

TEST(DwgEntities, PolyfaceFacesThatNameMissingVerticesAreDropped) {
  CDwgEntityInfo info;
  info.polylineFlags = 64;
  std::vector<CDwgVertex> records(5);
  for (int i = 0; i < 3; ++i)
    records[static_cast<std::size_t>(i)].vertex.position = {1.0 * i, 0, 0};
  records[3].isFace = true;
  records[3].face[0] = 1;
  records[3].face[1] = -2;
  records[3].face[2] = 3;
  records[4].isFace = true;
  records[4].face[0] = 1;
  records[4].face[1] = 9;
  Polyline polyline;
  polyline.is3d = true;
  FinishDwgPolyline(info, records, polyline);
  EXPECT_EQ(polyline.vertices.size(), 3u);
  ASSERT_EQ(polyline.faces.size(), 1u);
  EXPECT_EQ(polyline.faces[0], (std::vector<int>{1, -2, 3}));
}

// ---- Helpers -------------------------------------------------------------------------------

TEST(DwgValues, LineweightIndicesMapToHundredthsOfAMillimetre) {
  EXPECT_EQ(LineweightFromIndex(0, -9), 0);
  EXPECT_EQ(LineweightFromIndex(7, -9), 25);
  EXPECT_EQ(LineweightFromIndex(23, -9), 211);
  EXPECT_EQ(LineweightFromIndex(29, -9), kLineweightByLayer);
  EXPECT_EQ(LineweightFromIndex(30, -9), kLineweightByBlock);
  EXPECT_EQ(LineweightFromIndex(31, -9), kLineweightDefault);
  EXPECT_EQ(LineweightFromIndex(28, -9), -9);
}

TEST(DwgValues, CodePageNumbersHaveTheirDxfNames) {
  EXPECT_EQ(CodePageName(30), "ANSI_1252");
  EXPECT_EQ(CodePageName(28), "ANSI_1250");
  EXPECT_EQ(CodePageName(39), "ANSI_936");
  EXPECT_EQ(CodePageName(0), "");
  EXPECT_EQ(CodePageName(999), "");
}

TEST(DwgValues, CmcColoursOfR2004SayHowTheyAreGiven) {
  CCmColor cmc;
  cmc.rgb = 0xC3000050;
  EXPECT_EQ(ColorOfCmc(cmc, Version::R2004).index, 80);
  cmc.rgb = 0xC1000000;
  EXPECT_EQ(ColorOfCmc(cmc, Version::R2004).index, Color::kByBlock);
  cmc.rgb = 0xC2FF0000;
  const Color truecolor = ColorOfCmc(cmc, Version::R2004);
  EXPECT_TRUE(truecolor.hasTrueColor);
  EXPECT_EQ(truecolor.rgb, 0x0000FFu);
  EXPECT_EQ(truecolor.index, 1) << "the nearest palette index, red";
  cmc.index = 5;
  EXPECT_EQ(ColorOfCmc(cmc, Version::R2000).index, 5) << "older files store the index alone";
}

TEST(DwgValues, ExtendedDataItemsDecodeInTheirReleaseForm) {
  std::string r2000;
  r2000 += '\x00';  // 1000
  r2000 += std::string("\x05\x1E\x00", 3) + "Arial";
  r2000 += '\x02';  // 1002 "}"
  r2000 += '\x01';
  r2000 += '\x46';                      // 1070
  r2000 += std::string("\x29\x00", 2);  // 41
  const std::vector<CDwgExtendedItem> items = ReadExtendedItems(r2000, Version::R2000);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].code, 1000);
  EXPECT_EQ(items[0].text, "Arial");
  EXPECT_EQ(items[1].text, "}");
  EXPECT_EQ(items[2].integer, 41);

  const std::string r2010 = std::string("\x00\x02\x00", 3) + std::string("O\x00K\x00", 4);
  ASSERT_EQ(ReadExtendedItems(r2010, Version::R2010).size(), 1u);
  EXPECT_EQ(ReadExtendedItems(r2010, Version::R2010)[0].text, "OK");
  // An unknown code or an item cut short ends the list.
  EXPECT_TRUE(ReadExtendedItems(std::string("\x63\x01", 2), Version::R2000).empty());
  EXPECT_TRUE(ReadExtendedItems(std::string("\x28\x01\x02", 3), Version::R2000).empty());
}

// ---- Splines kept by their fit points ------------------------------------------------------

// A point of a spline with clamped knots, by de Boor's algorithm.
Vec3 Evaluate(const Spline& spline, double u) {
  const int p = spline.degree;
  const std::vector<double>& t = spline.knots;
  std::size_t span = static_cast<std::size_t>(p);
  while (span + 1 < spline.controlPoints.size() && u >= t[span + 1]) ++span;
  std::vector<Vec3> d;
  for (int j = 0; j <= p; ++j)
    d.push_back(spline.controlPoints[span - static_cast<std::size_t>(p) + j]);
  for (int r = 1; r <= p; ++r) {
    for (int j = p; j >= r; --j) {
      const std::size_t i = span - static_cast<std::size_t>(p) + static_cast<std::size_t>(j);
      const double alpha = (u - t[i]) / (t[i + static_cast<std::size_t>(p + 1 - r)] - t[i]);
      d[j] = {(1 - alpha) * d[j - 1].x + alpha * d[j].x, (1 - alpha) * d[j - 1].y + alpha * d[j].y,
              (1 - alpha) * d[j - 1].z + alpha * d[j].z};
    }
  }
  return d[static_cast<std::size_t>(p)];
}

TEST(DwgSplineFit, TheCurvePassesThroughEveryFitPointAtItsKnot) {
  Spline spline;
  spline.fitPoints = {{0, 0, 0}, {3, 4, 0}, {6, 4, 1}, {10, 0, 1}, {12, 5, 2}};
  ASSERT_TRUE(InterpolateFitPoints(spline, {1, 0, 0}, {0, 1, 0}));
  ASSERT_EQ(spline.controlPoints.size(), 7u);
  ASSERT_EQ(spline.knots.size(), 11u);
  EXPECT_DOUBLE_EQ(spline.knots[4], 5.0) << "knots are distances along the fit points";
  double u = 0;
  for (std::size_t k = 0; k < spline.fitPoints.size(); ++k) {
    if (k > 0) {
      const Vec3 a = spline.fitPoints[k - 1], b = spline.fitPoints[k];
      u += std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) +
                     (b.z - a.z) * (b.z - a.z));
    }
    const Vec3 p = Evaluate(spline, std::min(u, spline.knots.back() - 1e-12));
    EXPECT_NEAR(p.x, spline.fitPoints[k].x, 1e-9);
    EXPECT_NEAR(p.y, spline.fitPoints[k].y, 1e-9);
    EXPECT_NEAR(p.z, spline.fitPoints[k].z, 1e-9);
  }
  // The tangents given leave along x and arrive along y.
  EXPECT_DOUBLE_EQ(spline.controlPoints[1].y, 0.0);
  EXPECT_GT(spline.controlPoints[1].x, 0.0);
  EXPECT_DOUBLE_EQ(spline.controlPoints[5].x, 12.0);
}

TEST(DwgSplineFit, TwoFitPointsWithoutTangentsMakeAStraightCurve) {
  Spline spline;
  spline.fitPoints = {{0, 0, 0}, {3, 0, 0}};
  ASSERT_TRUE(InterpolateFitPoints(spline, {}, {}));
  ASSERT_EQ(spline.controlPoints.size(), 4u);
  ExpectPoint(spline.controlPoints[1], 1, 0, 0);
  ExpectPoint(spline.controlPoints[2], 2, 0, 0);
  EXPECT_EQ(spline.fitPoints.size(), 2u) << "the fit points stay";
}

TEST(DwgSplineFit, RefusesWhatIsNoOpenCubicThroughDistinctPoints) {
  Spline repeated;
  repeated.fitPoints = {{0, 0, 0}, {0, 0, 0}, {1, 1, 0}};
  EXPECT_FALSE(InterpolateFitPoints(repeated, {}, {}));
  EXPECT_TRUE(repeated.controlPoints.empty());
  Spline closed;
  closed.closed = true;
  closed.fitPoints = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  EXPECT_FALSE(InterpolateFitPoints(closed, {}, {}));
  Spline quadratic;
  quadratic.degree = 2;
  quadratic.fitPoints = {{0, 0, 0}, {1, 0, 0}};
  EXPECT_FALSE(InterpolateFitPoints(quadratic, {}, {}));
  Spline one;
  one.fitPoints = {{0, 0, 0}};
  EXPECT_FALSE(InterpolateFitPoints(one, {}, {}));
}

}  // namespace
