// The reader of DWG files before R13 on files the tests write: tables, the options of each kind
// of entity record, block definitions, JUMPs, paper space, R1.4's own layout, code pages, and
// damage (files cut anywhere, bytes changed, absurd counts and addresses) read around into a
// model FinishModel need not mend, or refused with a one-line reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "drawing/Model.h"
#include "drawing/ReadDrawing.h"
#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/DwgReader.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace drawing;
namespace fs = std::filesystem;

constexpr double kPi = std::numbers::pi;

// Little-endian values as these files store them.
class CBytes {
 public:
  CBytes& RC(int value) {
    bytes += static_cast<char>(value & 0xFF);
    return *this;
  }
  CBytes& RS(int value) { return RC(value).RC(value >> 8); }
  CBytes& RL(std::uint32_t value) {
    return RS(static_cast<int>(value & 0xFFFF)).RS(static_cast<int>(value >> 16));
  }
  CBytes& RD(double value) {
    char raw[8];
    std::memcpy(raw, &value, 8);
    bytes.append(raw, 8);
    return *this;
  }
  CBytes& P2(double x, double y) { return RD(x).RD(y); }
  CBytes& P3(double x, double y, double z) { return RD(x).RD(y).RD(z); }
  CBytes& TV(const std::string& text) {
    RS(static_cast<int>(text.size()));
    bytes += text;
    return *this;
  }
  // A fixed field of `size` bytes, NUL padded.
  CBytes& TF(const std::string& text, std::size_t size) {
    std::string field = text.substr(0, size);
    field.resize(size, '\0');
    bytes += field;
    return *this;
  }
  operator std::string() const { return bytes; }

  std::string bytes;
};

enum Table { kBlock, kLayer, kStyle, kLinetype, kView, kUcs, kVport, kAppId, kDimStyle, kVx };
constexpr std::size_t kEntryAt[] = {0x2C,  0x36,  0x40,  0x4A,  0x54,
                                    0x3EF, 0x500, 0x512, 0x522, 0x69F};

// Entity types.
enum Type {
  kLine = 1,
  kPoint = 2,
  kCircle = 3,
  kShape = 4,
  kRepeat = 5,
  kEndRepeat = 6,
  kText = 7,
  kArc = 8,
  kSolid = 11,
  kBlockBegin = 12,
  kBlockEnd = 13,
  kInsert = 14,
  kAttDef = 15,
  kAttrib = 16,
  kSeqEnd = 17,
  kJump = 18,
  kPolyline = 19,
  kVertex = 20,
  kLine3d = 21,
  kFace3d = 22,
  kDimension = 23,
  kViewport = 24,
};

// A file of R2.0 to R11: header, directory, header variables (zero but those set), the entities,
// the tables, the block definitions and the extra entities, in that order, with the checksums
// and the sentinel before the entities that R11 files have.
class CFile {
 public:
  explicit CFile(std::string magic) : magic(std::move(magic)) {
    r11 = this->magic == "AC1009";
    r10 = r11 || this->magic == "AC1006";
    const int count = r11 ? 205 : r10 ? 158 : this->magic == "AC1004" ? 129 : 83;
    variablesEnd = r11 ? 0x6BD : r10 ? 0x512 : count == 129 ? 0x3EF : 0x2E5;
    header.assign(variablesEnd, '\0');
    Variable(0, this->magic);
    Variable(0x0C, CBytes().RC(1).RS(3).RS(5).RS(count));
    Variable(0x78, CBytes().P3(0, 0, 0).P3(10, 10, 0));  // extents
    Variable(0xB8, CBytes().P2(12, 9));                  // limits
    Variable(0x132, CBytes().RD(1));                     // linetype scale
    if (r11) Variable(0x631, CBytes().RS(1));            // model space is active
  }

  void Variable(std::size_t offset, const std::string& bytes) {
    header.replace(offset, bytes.size(), bytes);
  }

  // A table record: flags, name and its own data. The records of a table have the size of the
  // first; shorter ones are padded.
  void Record(Table table, int flags, const std::string& name, const std::string& data) {
    CBytes record;
    record.RC(flags).TF(name, 32);
    if (r11) record.RS(-1);  // used
    record.bytes += data;
    std::vector<std::string>& list = tables[table];
    if (!list.empty()) record.bytes.resize(list.front().size(), '\0');
    list.push_back(record);
  }

  // An entity record; `common` holds what the flags announce, in order.
  std::string Entity(int type, int flags, int layer, int options, const std::string& common,
                     const std::string& data) const {
    const std::size_t size = 8 + common.size() + data.size() + (r11 ? 2 : 0);
    std::string record =
        CBytes().RC(type).RC(flags).RS(static_cast<int>(size)).RS(layer).RS(options);
    record += common + data;
    if (r11) record += CBytes().RS(dwg::Crc16(0xC0C1, record));
    return record;
  }
  std::string Jump(std::uint32_t target) const {
    std::string record = CBytes().RC(kJump).RC(0).RS(r11 ? 10 : 8).RL(target);
    if (r11) record += CBytes().RS(dwg::Crc16(0xC0C1, record));
    return record;
  }

  std::size_t EntitiesStart() const { return variablesEnd + (r11 ? 18 : 0); }
  // The address a block table record stores for a definition starting `offset` bytes into the
  // blocks section.
  std::uint32_t BlockOffset(std::size_t offset) const {
    return static_cast<std::uint32_t>(offset) | (r10 ? 0x40000000u : 0u);
  }

  std::string Build() const {
    std::string out = header;
    const std::size_t entitiesStart = EntitiesStart();
    std::size_t at = entitiesStart + entities.size();
    std::string tableBytes;
    for (int t = 0; t <= kVx; ++t) {
      if (kEntryAt[t] + 10 > variablesEnd) continue;
      const std::vector<std::string>& list = tables[t];
      const std::size_t size = list.empty() ? 0 : list.front().size() + (r11 ? 2 : 0);
      out.replace(kEntryAt[t], 10,
                  CBytes()
                      .RS(static_cast<int>(size))
                      .RS(static_cast<int>(list.size()))
                      .RS(0)
                      .RL(static_cast<std::uint32_t>(at + tableBytes.size())));
      for (const std::string& record : list) {
        tableBytes += record;
        if (r11) tableBytes += CBytes().RS(dwg::Crc16(0xC0C1, record));
      }
    }
    at += tableBytes.size();
    const std::size_t blocksStart = at;
    const std::size_t extrasStart = blocksStart + blocks.size();
    out.replace(0x14, 24,
                CBytes()
                    .RL(static_cast<std::uint32_t>(entitiesStart))
                    .RL(static_cast<std::uint32_t>(entitiesStart + entities.size()))
                    .RL(static_cast<std::uint32_t>(blocksStart))
                    .RL(static_cast<std::uint32_t>(blocks.size()) | (r10 ? 0x40000000u : 0u))
                    .RL(extras.empty() ? 0 : static_cast<std::uint32_t>(extrasStart))
                    .RL(static_cast<std::uint32_t>(extras.size()) | 0x80000000u));
    if (r11) {
      out += CBytes().RS(dwg::Crc16(0xC0C1, out));
      out += std::string("\xC4\x6E\x68\x54\xF8\x6E\x33\x30\x63\x3E\xC1\x85\x2A\xDC\x94\x01", 16);
    }
    return out + entities + tableBytes + blocks + extras;
  }

  std::string magic;
  bool r10 = false, r11 = false;
  std::size_t variablesEnd = 0;
  std::string header;
  std::vector<std::string> tables[kVx + 1];
  std::string entities, blocks, extras;
};

// Layer "0", the linetype CONTINUOUS and the text style STANDARD, as every file has them.
void Basics(CFile& file) {
  file.Record(kLinetype, 64, "CONTINUOUS",
              CBytes().TF("Solid line", 48).RC('A').RC(0).RD(0).bytes + std::string(96, '\0'));
  file.Record(kLayer, 0, "0", CBytes().RS(7).RS(0));
  CBytes style;
  style.RD(0).RD(1).RD(0).RC(0).RD(0.2).TF("txt", 64);
  if (file.magic != "AC2.10") style.TF("", 64);
  file.Record(kStyle, 0, "STANDARD", style);
}

// Reads a file the tests wrote, which must read without a note into a sound model.
Drawing ReadSound(const std::string& bytes) {
  Drawing drawing;
  std::string note;
  EXPECT_TRUE(ReadDwg(bytes, drawing, &note)) << note;
  EXPECT_EQ(note, "");
  EXPECT_EQ(FinishModel(drawing), 0) << "FinishModel had to mend references";
  EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{});
  return drawing;
}

// Reads damaged bytes: a sound model with a note, or a refusal with a one-line reason.
void ExpectReadOrRefused(const std::string& bytes, const std::string& what) {
  Drawing drawing;
  std::string note;
  const bool read = ReadDwg(bytes, drawing, &note);
  EXPECT_EQ(note.find('\n'), std::string::npos) << what;
  if (!read) {
    EXPECT_FALSE(note.empty()) << what << ": refused without a reason";
    return;
  }
  EXPECT_EQ(FinishModel(drawing), 0) << what << ": FinishModel had to mend references";
  const std::vector<std::string> broken = CheckModel(drawing);
  EXPECT_TRUE(broken.empty()) << what << ": " << broken.front();
}

const std::vector<Entity>& Model(const Drawing& drawing) {
  return drawing.blocks[0].entities;
}

const Layer& LayerOf(const Drawing& drawing, const Entity& entity) {
  return drawing.layers[static_cast<std::size_t>(entity.layer)];
}

// ---- Tables -----------------------------------------------------------------------------------

TEST(DwgPreR13Tables, ReadTheirRecordsAndCountDeletedOnesInTheirIndices) {
  CFile file("AC1009");
  Basics(file);
  file.Record(kLinetype, 0, "DASHED",
              CBytes().TF("__ __", 48).RC('A').RC(2).RD(0.75).RD(0.5).RD(-0.25).bytes +
                  std::string(80, '\0'));
  file.Record(kLayer, 0x81, "OLD", CBytes().RS(1).RS(0));    // deleted
  file.Record(kLayer, 1, "WALLS", CBytes().RS(-3).RS(1));    // frozen, off, dashed
  file.Record(kLayer, 4, "LOCKED", CBytes().RS(300).RS(9));  // no such colour or linetype
  file.Record(kStyle, 1, "", CBytes().RD(0).RD(1).RD(0).RC(0).RD(1).TF("es", 64).TF("", 64));
  file.Record(kStyle, 0, "SLANTED",
              CBytes().RD(2.5).RD(0.8).RD(kPi / 12).RC(2).RD(2.5).TF("romans", 64).TF("big", 64));
  // An older *ACTIVE entry, deleted, before the current one.
  const std::string view = CBytes()
                               .P2(0, 0)
                               .P2(1, 1)
                               .P3(1, 2, 3)
                               .P3(0, 0, 1)
                               .RD(kPi / 2)
                               .RD(9)
                               .P2(6, 4.5)
                               .RD(1.5)
                               .bytes +
                           std::string(104, '\0');
  file.Record(kVport, 0x80, "*ACTIVE", CBytes().P2(0, 0).P2(1, 1).bytes + std::string(200, '\0'));
  file.Record(kVport, 0, "*ACTIVE", view);
  file.entities += file.Entity(kLine, 0, 3, 0, "", CBytes().P3(0, 0, 0).P3(1, 1, 0));
  file.entities += file.Entity(kText, 0, 2, 8, "", CBytes().P2(0, 0).RD(1).TV("A").RC(2));
  const Drawing drawing = ReadSound(file.Build());

  ASSERT_EQ(drawing.layers.size(), 3u) << "the deleted layer is left out";
  const Layer& walls = drawing.layers[1];
  EXPECT_EQ(walls.name, "WALLS");
  EXPECT_EQ(walls.color.index, 3);
  EXPECT_TRUE(walls.off) << "a negative colour is a layer that is off";
  EXPECT_TRUE(walls.frozen);
  EXPECT_FALSE(walls.locked);
  ASSERT_GE(walls.linetype, 0);
  const Linetype& dashed = drawing.linetypes[static_cast<std::size_t>(walls.linetype)];
  EXPECT_EQ(dashed.name, "DASHED");
  EXPECT_EQ(dashed.description, "__ __");
  EXPECT_DOUBLE_EQ(dashed.patternLength, 0.75);
  EXPECT_EQ(dashed.dashes, (std::vector<double>{0.5, -0.25}));
  const Layer& locked = drawing.layers[2];
  EXPECT_TRUE(locked.locked);
  EXPECT_EQ(locked.color.index, 7) << "a colour beyond the palette";
  EXPECT_EQ(locked.linetype, kLinetypeContinuous) << "a linetype the table lacks";
  EXPECT_EQ(drawing.layers[0].linetype, kLinetypeContinuous) << "CONTINUOUS is by its code";

  EXPECT_EQ(LayerOf(drawing, Model(drawing)[0]).name, "LOCKED")
      << "layer index 3 counts the deleted record";
  ASSERT_EQ(drawing.textStyles.size(), 2u) << "the shape file's style draws no text";
  const TextStyle& slanted = drawing.textStyles[1];
  EXPECT_EQ(slanted.fontFile, "romans");
  EXPECT_EQ(slanted.bigFontFile, "big");
  EXPECT_DOUBLE_EQ(slanted.fixedHeight, 2.5);
  EXPECT_DOUBLE_EQ(slanted.widthFactor, 0.8);
  EXPECT_NEAR(slanted.obliqueAngle, 15, 1e-12);
  EXPECT_EQ(slanted.generationFlags, 2);
  EXPECT_EQ(std::get<Text>(Model(drawing)[1].data).style, 1) << "style index 2 counts the shapes";

  const ModelView& active = drawing.activeView;
  ASSERT_TRUE(active.valid);
  EXPECT_DOUBLE_EQ(active.height, 9);
  EXPECT_DOUBLE_EQ(active.center.x, 6);
  EXPECT_DOUBLE_EQ(active.aspectRatio, 1.5);
  EXPECT_DOUBLE_EQ(active.target.z, 3);
  EXPECT_NEAR(active.twist, 90, 1e-12);
}

TEST(DwgPreR13Tables, ConvertTextFromTheCodePageTheFileNames) {
  struct Case {
    const char* magic;
    int codePage;  // R10 and later
    std::string stored;
    const char* codePageName;
    std::string text;
  } cases[] = {
      {"AC1009", 30, "caf\xE9 %%d", "ANSI_1252", "caf\xC3\xA9 \xC2\xB0"},
      {"AC1009", 29, "\xC4\xE0", "ANSI_1251", "\xD0\x94\xD0\xB0"},
      // Files that name no code page are read in the DOS code page of their time.
      {"AC1009", 0, "caf\x82", "", "caf\xC3\xA9"},
      {"AC2.10", -1, "caf\x82", "", "caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    CFile file(c.magic);
    Basics(file);
    if (c.codePage >= 0) file.Variable(0x3F9, CBytes().RS(c.codePage));
    file.entities += file.Entity(kText, 0, 0, 0, "", CBytes().P2(0, 0).RD(1).TV(c.stored));
    const Drawing drawing = ReadSound(file.Build());
    EXPECT_EQ(drawing.header.codePage, c.codePageName) << c.magic << " " << c.codePage;
    ASSERT_EQ(Model(drawing).size(), 1u);
    EXPECT_EQ(std::get<Text>(Model(drawing)[0].data).text, c.text) << c.magic << " " << c.codePage;
  }
}

// ---- Entities ---------------------------------------------------------------------------------

TEST(DwgPreR13Entities, ReadTextsAndAttributesWithEveryOption) {
  CFile file("AC1009");
  Basics(file);
  // Rotation, width, oblique, style, generation, horizontal alignment, alignment point,
  // extrusion, vertical alignment: all stored, in that order; elevation 2.
  file.entities += file.Entity(kText, 4, 0, 0x1FF, CBytes().RD(2),
                               CBytes()
                                   .P2(1, 2)
                                   .RD(0.5)
                                   .TV("%%uNOTE\t")
                                   .RD(kPi / 6)
                                   .RD(0.75)
                                   .RD(kPi / 18)
                                   .RC(0)
                                   .RC(4)
                                   .RC(2)
                                   .P2(5, 2)
                                   .P3(0, 0, -1)
                                   .RC(3));
  // A block reference with attributes: the options of ATTRIB are those of TEXT, one bit up.
  file.entities += file.Entity(kInsert, 0x80, 0, 0, "", CBytes().RS(0).P2(0, 0));
  file.entities +=
      file.Entity(kAttrib, 0, 0, 2 | 0x40, "",
                  CBytes().P2(3, 4).RD(0.2).TV("4").TV("ATTR2").RC(0).RD(kPi / 2).RC(1));
  file.entities +=
      file.Entity(kAttrib, 0, 0, 0, "", CBytes().P2(3, 4).RD(0.2).TV("hidden").TV("SECRET").RC(1));
  file.entities += file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0));
  // An attribute definition outside a block shows its tag; one that no INSERT owns is left out.
  file.entities +=
      file.Entity(kAttDef, 0, 0, 2, "",
                  CBytes().P2(9, 5).RD(0.2).TV("3").TV("PROMPT").TV("ATTR1").RC(0).RD(kPi / 3));
  file.entities +=
      file.Entity(kAttrib, 0, 0, 0, "", CBytes().P2(0, 0).RD(0.2).TV("stray").TV("T").RC(0));
  file.Record(kBlock, 64, "B", CBytes().RL(file.BlockOffset(0)).RS(-1).RS(-1));
  file.blocks += file.Entity(kBlockBegin, 0, 0, 0, "", CBytes().P2(0, 0));
  // In the definition, the attribute definition is not drawn.
  file.blocks += file.Entity(kAttDef, 0, 0, 0, "",
                             CBytes().P2(0, 0).RD(0.2).TV("3").TV("PROMPT").TV("ATTR2").RC(0));
  file.blocks += file.Entity(kBlockEnd, 0, 0, 0, "", "");
  const Drawing drawing = ReadSound(file.Build());

  ASSERT_EQ(Model(drawing).size(), 3u);
  const Entity& textEntity = Model(drawing)[0];
  const Text& text = std::get<Text>(textEntity.data);
  EXPECT_EQ(text.text, "NOTE^I") << "%%u taken out, a tab in caret notation";
  EXPECT_EQ(text.lines, (std::vector<TextLineSpan>{{'u', 0, 6}})) << "underlined to the end";
  EXPECT_DOUBLE_EQ(text.insertion.z, 2) << "the elevation";
  EXPECT_DOUBLE_EQ(text.height, 0.5);
  EXPECT_NEAR(text.rotation, 30, 1e-12);
  EXPECT_DOUBLE_EQ(text.widthFactor, 0.75);
  EXPECT_NEAR(text.obliqueAngle, 10, 1e-12);
  EXPECT_EQ(text.generationFlags, 4);
  EXPECT_EQ(text.horizontalJustification, 2);
  EXPECT_EQ(text.verticalJustification, 3);
  EXPECT_DOUBLE_EQ(text.alignment.x, 5);
  EXPECT_DOUBLE_EQ(text.alignment.z, 2);
  EXPECT_DOUBLE_EQ(textEntity.extrusion.z, -1);

  const Insert& insert = std::get<Insert>(Model(drawing)[1].data);
  ASSERT_EQ(insert.attributes.size(), 1u) << "the invisible attribute is left out";
  const Attribute& attribute = std::get<Attribute>(insert.attributes[0].data);
  EXPECT_EQ(attribute.text, "4");
  EXPECT_NEAR(attribute.rotation, 90, 1e-12);
  EXPECT_EQ(attribute.horizontalJustification, 1);
  EXPECT_DOUBLE_EQ(attribute.alignment.x, 3) << "no alignment point: the insertion";

  const Text& definition = std::get<Text>(Model(drawing)[2].data);
  EXPECT_EQ(definition.text, "ATTR1");
  EXPECT_NEAR(definition.rotation, 60, 1e-12);
  EXPECT_TRUE(drawing.blocks[2].entities.empty());
}

TEST(DwgPreR13Entities, ReadBlockReferencesAndPolylinesWithTheirOptions) {
  CFile file("AC1009");
  Basics(file);
  file.Record(kBlock, 64, "B", CBytes().RL(file.BlockOffset(0)).RS(-1).RS(-1));
  file.blocks += file.Entity(kBlockBegin, 0, 0, 4, "", CBytes().P2(1, 1).TV("B"));
  file.blocks += file.Entity(kBlockEnd, 0, 0, 0, "", "");
  // x scale, y scale, rotation and z scale are stored in that order, then the grid.
  file.entities += file.Entity(kInsert, 4, 0, 0xFF, CBytes().RD(7),
                               CBytes()
                                   .RS(0)
                                   .P2(6, 1)
                                   .RD(2)
                                   .RD(3)
                                   .RD(kPi / 6)
                                   .RD(4)
                                   .RS(3)
                                   .RS(0)  // no rows: one
                                   .RD(1.5)
                                   .RD(2.5));
  // A closed polyline with default widths; the second vertex has its own start width and a
  // bulge.
  file.entities +=
      file.Entity(kPolyline, 0x84, 0, 7, CBytes().RD(3), CBytes().RC(1).RD(0.5).RD(0.25));
  file.entities += file.Entity(kVertex, 4, 0, 0, CBytes().RD(3), CBytes().P2(0, 0));
  file.entities += file.Entity(kVertex, 4, 0, 5, CBytes().RD(3), CBytes().P2(1, 0).RD(0.1).RD(1));
  file.entities += file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0));
  // A polyface mesh: two positions, one face.
  file.entities += file.Entity(kPolyline, 0x80, 0, 1, "", CBytes().RC(64));
  file.entities += file.Entity(kVertex, 0, 0, 8, "", CBytes().P2(0, 0).RC(192));
  file.entities += file.Entity(kVertex, 0, 0, 8, "", CBytes().P2(1, 1).RC(192));
  file.entities +=
      file.Entity(kVertex, 0, 0, 8 | 0x20 | 0x40 | 0x4000, "", CBytes().RC(128).RS(1).RS(-2));
  file.entities += file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0));
  const Drawing drawing = ReadSound(file.Build());

  ASSERT_EQ(Model(drawing).size(), 3u);
  const Insert& insert = std::get<Insert>(Model(drawing)[0].data);
  ASSERT_EQ(insert.block, 2);
  EXPECT_DOUBLE_EQ(drawing.blocks[2].base.x, 1);
  EXPECT_DOUBLE_EQ(insert.insertion.z, 7);
  EXPECT_DOUBLE_EQ(insert.scale.x, 2);
  EXPECT_DOUBLE_EQ(insert.scale.y, 3);
  EXPECT_NEAR(insert.rotation, 30, 1e-12);
  EXPECT_DOUBLE_EQ(insert.scale.z, 4);
  EXPECT_EQ(insert.columns, 3);
  EXPECT_EQ(insert.rows, 1);
  EXPECT_DOUBLE_EQ(insert.columnSpacing, 1.5);
  EXPECT_DOUBLE_EQ(insert.rowSpacing, 2.5);

  const Polyline& polyline = std::get<Polyline>(Model(drawing)[1].data);
  EXPECT_TRUE(polyline.closed);
  EXPECT_FALSE(polyline.is3d);
  EXPECT_DOUBLE_EQ(polyline.elevation, 3);
  ASSERT_EQ(polyline.vertices.size(), 2u);
  EXPECT_DOUBLE_EQ(polyline.vertices[0].startWidth, 0.5) << "the polyline's default";
  EXPECT_DOUBLE_EQ(polyline.vertices[0].endWidth, 0.25);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].startWidth, 0.1);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].endWidth, 0.25);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].bulge, 1);
  EXPECT_DOUBLE_EQ(polyline.vertices[1].position.z, 3);

  const Polyline& mesh = std::get<Polyline>(Model(drawing)[2].data);
  ASSERT_EQ(mesh.vertices.size(), 2u);
  ASSERT_EQ(mesh.faces.size(), 1u);
  EXPECT_EQ(mesh.faces[0], (std::vector<int>{1, -2}));
}

TEST(DwgPreR13Entities, ReadPointsAs2dOr3dByReleaseAndFlags) {
  // R10 and later: LINE, POINT, 3DFACE and 3DLINE have 3D points unless flag 4 makes them 2D;
  // the other kinds take the elevation as z.
  CFile r11("AC1009");
  Basics(r11);
  r11.entities += r11.Entity(kLine, 0, 0, 0, "", CBytes().P3(1, 2, 3).P3(4, 5, 6));
  r11.entities += r11.Entity(kLine, 4, 0, 0, "", CBytes().P2(1, 2).P2(4, 5));
  r11.entities +=
      r11.Entity(kFace3d, 4, 0, 1, "", CBytes().P2(0, 0).P2(1, 0).P2(1, 1).P2(0, 1).RS(5));
  r11.entities += r11.Entity(kPoint, 0, 0, 0, "", CBytes().P3(7, 8, 9));
  // Colour BYBLOCK, linetype BYBLOCK, elevation, thickness: in that order.
  r11.entities += r11.Entity(kCircle, 1 | 2 | 4 | 8, 0, 0, CBytes().RC(0).RS(32766).RD(2).RD(0.5),
                             CBytes().P2(3, 3).RD(1));
  r11.entities += r11.Entity(kArc, 2, 0, 1, CBytes().RS(32767),
                             CBytes().P2(0, 0).RD(1).RD(0).RD(kPi / 2).P3(0, 0, -1));
  r11.entities += r11.Entity(kShape, 0, 0, 0, "", CBytes().P2(0, 0).RD(1).RC(131));
  const Drawing eleven = ReadSound(r11.Build());
  ASSERT_EQ(Model(eleven).size(), 6u);
  EXPECT_DOUBLE_EQ(std::get<Line>(Model(eleven)[0].data).end.z, 6);
  EXPECT_DOUBLE_EQ(std::get<Line>(Model(eleven)[1].data).end.y, 5) << "flag 4: a 2D line";
  EXPECT_DOUBLE_EQ(std::get<Line>(Model(eleven)[1].data).end.z, 0);
  const Face3d& face = std::get<Face3d>(Model(eleven)[2].data);
  EXPECT_DOUBLE_EQ(face.corners[2].x, 1);
  EXPECT_EQ(face.invisibleEdges, 5);
  EXPECT_DOUBLE_EQ(std::get<drawing::Point>(Model(eleven)[3].data).position.z, 9);
  const Entity& circle = Model(eleven)[4];
  EXPECT_EQ(circle.color.index, Color::kByBlock);
  EXPECT_EQ(circle.linetype, kLinetypeByBlock);
  EXPECT_DOUBLE_EQ(std::get<Circle>(circle.data).center.z, 2);
  EXPECT_DOUBLE_EQ(circle.thickness, 0.5);
  const Entity& arc = Model(eleven)[5];
  EXPECT_EQ(arc.linetype, kLinetypeByLayer);
  EXPECT_NEAR(std::get<Arc>(arc.data).endAngle, 90, 1e-12);
  EXPECT_DOUBLE_EQ(arc.extrusion.z, -1);
  EXPECT_EQ(eleven.skippedTypes, (std::vector<std::pair<std::string, int>>{{"SHAPE", 1}}));

  // R2.x: 2D points, flag 4 is an elevation, a linetype is one byte; R9: 3DLINE ends are 3D by
  // their option bits.
  for (const char* magic : {"AC2.10", "AC1004"}) {
    CFile old(magic);
    Basics(old);
    old.entities +=
        old.Entity(kLine, 4 | 2, 0, 0, CBytes().RC(0).RD(5), CBytes().P2(1, 2).P2(3, 4));
    old.entities += old.Entity(kLine3d, 4, 0, 1, CBytes().RD(5), CBytes().P3(1, 2, 3).P2(3, 4));
    const Drawing drawing = ReadSound(old.Build());
    ASSERT_EQ(Model(drawing).size(), 2u) << magic;
    const Entity& line = Model(drawing)[0];
    EXPECT_DOUBLE_EQ(std::get<Line>(line.data).start.z, 5) << magic;
    EXPECT_EQ(line.linetype, kLinetypeContinuous) << magic << ": linetype 0 is CONTINUOUS";
    const Line& line3d = std::get<Line>(Model(drawing)[1].data);
    EXPECT_DOUBLE_EQ(line3d.start.z, 3) << magic;
    EXPECT_DOUBLE_EQ(line3d.end.z, 5) << magic;
  }
}

TEST(DwgPreR13Tables, FilesWithoutViewportsTakeTheActiveViewFromTheHeader) {
  CFile file("AC2.10");
  Basics(file);
  file.Variable(0xC8, CBytes().P3(6, 4, 0).RD(9));  // centre and height
  file.Variable(0x15C, CBytes().RD(1.5));           // width / height
  const Drawing drawing = ReadSound(file.Build());
  ASSERT_TRUE(drawing.activeView.valid);
  EXPECT_DOUBLE_EQ(drawing.activeView.center.x, 6);
  EXPECT_DOUBLE_EQ(drawing.activeView.center.y, 4);
  EXPECT_DOUBLE_EQ(drawing.activeView.height, 9);
  EXPECT_DOUBLE_EQ(drawing.activeView.aspectRatio, 1.5);
}

// ---- Blocks, jumps and spaces -----------------------------------------------------------------

TEST(DwgPreR13Blocks, AreFoundWhereTheirTableRecordsSayTheyStart) {
  CFile file("AC1009");
  Basics(file);
  // The definitions lie in the opposite order of the table; two dimension blocks are "*D" in
  // the table; a deleted record and a definition that no record lists are left out.
  const std::string second = file.Entity(kBlockBegin, 0, 0, 0, "", CBytes().P2(5, 5)) +
                             file.Entity(kCircle, 0, 0, 0, "", CBytes().P2(5, 5).RD(1)) +
                             file.Entity(kBlockEnd, 0, 0, 0, "", "");
  const std::string first =
      file.Entity(kBlockBegin, 0, 0, 0, "", CBytes().P2(0, 0)) +
      file.Entity(0x80 | kLine, 0, 0, 0, "", CBytes().P3(0, 0, 0).P3(9, 9, 9)) +
      file.Entity(kLine, 0, 0, 0, "", CBytes().P3(0, 0, 0).P3(1, 1, 0)) +
      file.Entity(kBlockEnd, 0, 0, 0, "", "");
  const std::string unlisted = file.Entity(kBlockBegin, 0, 0, 0, "", CBytes().P2(0, 0)) +
                               file.Entity(kLine, 0, 0, 0, "", CBytes().P3(0, 0, 0).P3(2, 2, 0)) +
                               file.Entity(kBlockEnd, 0, 0, 0, "", "");
  file.blocks = second + first + unlisted;
  file.Record(kBlock, 65, "*D", CBytes().RL(file.BlockOffset(second.size())).RS(-1).RS(-1));
  file.Record(kBlock, 0x80, "GONE", CBytes().RL(0x3FFFFFFF).RS(-1).RS(-1));
  file.Record(kBlock, 65, "*D", CBytes().RL(file.BlockOffset(0)).RS(-1).RS(-1));
  file.entities += file.Entity(kDimension, 0, 0, 0, "", CBytes().RS(0).P3(0, 0, 0).P2(0, 0));
  // A moved dimension: its block is drawn at the offset point.
  file.entities +=
      file.Entity(kDimension, 0, 0, 1, "", CBytes().RS(2).P3(0, 0, 0).P2(0, 0).P2(-3, 4));
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(ReadDwg(file.Build(), drawing, &note));
  EXPECT_NE(note.find("does not list"), std::string::npos) << note;
  EXPECT_EQ(FinishModel(drawing), 0);

  ASSERT_EQ(drawing.blocks.size(), 4u);
  EXPECT_EQ(drawing.blocks[2].name, "*D0") << "named by its table index, as DXF files name it";
  EXPECT_EQ(drawing.blocks[3].name, "*D2");
  EXPECT_TRUE(drawing.blocks[2].isAnonymous);
  ASSERT_EQ(drawing.blocks[2].entities.size(), 1u);
  EXPECT_TRUE(drawing.blocks[2].entities[0].Is<Line>()) << "the deleted line is left out";
  ASSERT_EQ(drawing.blocks[3].entities.size(), 1u);
  EXPECT_DOUBLE_EQ(drawing.blocks[3].base.x, 5);
  ASSERT_EQ(Model(drawing).size(), 2u);
  EXPECT_EQ(std::get<Dimension>(Model(drawing)[0].data).block, 2);
  const Dimension& moved = std::get<Dimension>(Model(drawing)[1].data);
  EXPECT_EQ(moved.block, 3);
  EXPECT_DOUBLE_EQ(moved.insertion.x, -3);
  EXPECT_DOUBLE_EQ(moved.insertion.y, 4);
}

TEST(DwgPreR13Jumps, LeadIntoTheExtraEntitiesAndBack) {
  CFile file("AC1009");
  Basics(file);
  const std::string a = file.Entity(kLine, 4, 0, 0, "", CBytes().P2(0, 0).P2(1, 0));
  const std::string jump = file.Jump(0x80000000);
  const std::string c = file.Entity(kLine, 4, 0, 0, "", CBytes().P2(0, 0).P2(3, 0));
  file.entities = a + jump + c;
  // The polyline that outgrew its place, and the way back to the entity after the jump.
  file.extras =
      file.Entity(kPolyline, 0x84, 0, 0, CBytes().RD(1), "") +
      file.Entity(kVertex, 0, 0, 0, "", CBytes().P2(0, 0)) +
      file.Entity(kVertex, 0, 0, 0, "", CBytes().P2(2, 0)) +
      file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0)) +
      file.Jump(static_cast<std::uint32_t>(file.EntitiesStart() + a.size() + jump.size()));
  const Drawing drawing = ReadSound(file.Build());
  ASSERT_EQ(Model(drawing).size(), 3u);
  EXPECT_DOUBLE_EQ(std::get<Line>(Model(drawing)[0].data).end.x, 1);
  EXPECT_EQ(std::get<Polyline>(Model(drawing)[1].data).vertices.size(), 2u);
  EXPECT_DOUBLE_EQ(std::get<Line>(Model(drawing)[2].data).end.x, 3);
}

TEST(DwgPreR13Jumps, ThatLeadBackOrOutsideEndTheListAndAreNoted) {
  struct Case {
    const char* what;
    bool intoExtras;  // the first jump leads into the extra entities
    std::uint32_t back;
    const char* note;
  } cases[] = {
      {"a jump back to the first entity", false, 0, "read before"},
      {"a jump back from the extra entities", true, 0, "read before"},
      {"a jump into another section's top byte", false, 0x20000000, "outside"},
      {"a jump past the extra entities", true, 0x80FFFFFF, "outside"},
  };
  for (const Case& c : cases) {
    CFile file("AC1009");
    Basics(file);
    const std::string line = file.Entity(kLine, 4, 0, 0, "", CBytes().P2(0, 0).P2(1, 0));
    const std::uint32_t first = static_cast<std::uint32_t>(file.EntitiesStart());
    const std::uint32_t back = c.back != 0 ? c.back : first;
    file.entities = line + file.Jump(c.intoExtras ? 0x80000000 : back) + line;
    if (c.intoExtras) file.extras = line + file.Jump(back);
    Drawing drawing;
    std::string note;
    ASSERT_TRUE(ReadDwg(file.Build(), drawing, &note)) << c.what;
    EXPECT_NE(note.find(c.note), std::string::npos) << c.what << ": " << note;
    EXPECT_EQ(Model(drawing).size(), c.intoExtras ? 2u : 1u) << c.what;
    EXPECT_EQ(FinishModel(drawing), 0) << c.what;
  }
}

TEST(DwgPreR13Spaces, EntitiesWithAViewportIndexLieInPaperSpace) {
  CFile file("AC1009");
  Basics(file);
  file.Variable(0x631, CBytes().RS(0));  // a paper layout is active
  file.Record(kAppId, 0, "ACAD", "");
  // The viewport keeps its view in extended data: "MVIEW", "{", a version, target, direction,
  // twist, view height, view centre.
  const std::string view = CBytes().RC(1).RS(0).RC(0).RC(5).bytes + "MVIEW" +
                           CBytes()
                               .RC(2)
                               .RC(0)
                               .RC(70)
                               .RS(16)
                               .RC(10)
                               .P3(1, 2, 0)
                               .RC(10)
                               .P3(0, 0, 2)
                               .RC(40)
                               .RD(0)
                               .RC(40)
                               .RD(30)
                               .RC(40)
                               .RD(15)
                               .RC(40)
                               .RD(10)
                               .RC(3)
                               .RS(0)
                               .RC(2)
                               .RC(1)
                               .bytes;
  file.entities += file.Entity(
      kViewport, 0x40, 0, 0,
      CBytes().RC(2 | 4).RS(static_cast<int>(view.size())).bytes + view + CBytes().RS(1).bytes,
      CBytes().P3(5, 4, 0).RD(10).RD(8).RS(1));
  file.entities += file.Entity(kLine, 0x44, 0, 0, CBytes().RC(4).RS(1), CBytes().P2(0, 0).P2(1, 1));
  file.entities += file.Entity(kLine, 4, 0, 0, "", CBytes().P2(0, 0).P2(2, 2));
  const Drawing drawing = ReadSound(file.Build());
  ASSERT_EQ(drawing.blocks[1].entities.size(), 2u);
  ASSERT_EQ(Model(drawing).size(), 1u);
  const Viewport& viewport = std::get<Viewport>(drawing.blocks[1].entities[0].data);
  EXPECT_EQ(viewport.id, 1);
  EXPECT_DOUBLE_EQ(viewport.width, 10);
  EXPECT_DOUBLE_EQ(viewport.viewTarget.y, 2);
  EXPECT_DOUBLE_EQ(viewport.viewDirection.z, 1);
  EXPECT_DOUBLE_EQ(viewport.viewHeight, 30);
  EXPECT_DOUBLE_EQ(viewport.viewCenter.x, 15);
  EXPECT_EQ(viewport.frozenLayers, std::vector<std::int32_t>{0});
  ASSERT_EQ(drawing.layouts.size(), 2u) << "model space and the sheet";
  EXPECT_EQ(drawing.activeLayout, 1);
}

// ---- R1.4 -------------------------------------------------------------------------------------

// An R1.4 record: type (negative: deleted), layer number, data.
std::string R1Record(int type, int layer, const std::string& data) {
  return CBytes().RS(type).RS(layer).bytes + data;
}

// An R1.4 file: its header (where the entity list ends, how many records it has, the view and
// the colours of the 128 numbered layers: 0 white, 1 colour 15, the others not set up), the
// records and a little slack after them.
std::string R1File(const std::string& records, int count) {
  std::string out(0x202, '\0');
  out.replace(0, 6, "AC1.40");
  out.replace(0x24, 6, CBytes().RL(static_cast<std::uint32_t>(0x202 + records.size())).RS(count));
  out.replace(0x2A, 48, CBytes().P3(0, 0, 0).P3(8, 8, 0));
  out.replace(0x7A, 32, CBytes().P3(6, 4, 0).RD(9));
  CBytes colors;
  colors.RS(7).RS(15);
  for (int layer = 2; layer < 128; ++layer) colors.RS(255);
  out.replace(0xC8, 256, colors);
  out.replace(0x1D0, 8, CBytes().RD(1.5));
  return out + records + std::string(16, '\0');
}

TEST(DwgPreR14, ReadsInlineBlocksRepeatedGroupsAndNumberedLayers) {
  const std::string records =
      // A block referred to before its definition.
      R1Record(kInsert, 1, CBytes().TV("LATER").P2(6, 1).P2(0.5, 0.5).RD(kPi / 6)) +
      R1Record(-kLine, 1, CBytes().P2(0, 0).P2(9, 9)) +  // deleted
      R1Record(kText, 1, CBytes().P2(1, 4).RD(0.75).RD(0).TV("FOO")) + R1Record(kRepeat, 1, "") +
      R1Record(kPoint, 2, CBytes().P2(1, 7)) +
      R1Record(kEndRepeat, 1, CBytes().RS(3).RS(2).RD(1).RD(0.5)) +
      R1Record(kBlockBegin, 1, CBytes().TV("LATER").P2(6, 1)) +
      R1Record(kLine, 0, CBytes().P2(6, 1).P2(7, 2)) + R1Record(kBlockEnd, 1, "") +
      R1Record(10, 1, CBytes().TV("ES")) +  // LOAD: the shape file of the SHAPEs after it
      R1Record(kShape, 1, CBytes().P2(6, 6).RD(1).RD(0).RS(131)) +
      R1Record(kSolid, 1, CBytes().P2(7, 1).P2(8, 2).P2(7, 3).P2(8, 4)) +
      // A group the file ends inside is drawn once.
      R1Record(kRepeat, 1, "") + R1Record(kCircle, 1, CBytes().P2(3, 1).RD(1));
  const Drawing drawing = ReadSound(R1File(records, 14));

  ASSERT_EQ(Model(drawing).size(), 5u);
  const Insert& later = std::get<Insert>(Model(drawing)[0].data);
  ASSERT_GE(later.block, 2);
  const Block& block = drawing.blocks[static_cast<std::size_t>(later.block)];
  EXPECT_EQ(block.name, "LATER");
  EXPECT_DOUBLE_EQ(block.base.x, 6);
  EXPECT_EQ(block.entities.size(), 1u);
  EXPECT_NEAR(later.rotation, 30, 1e-12);
  EXPECT_DOUBLE_EQ(later.scale.y, 0.5);

  EXPECT_EQ(std::get<Text>(Model(drawing)[1].data).text, "FOO");
  const Insert& grid = std::get<Insert>(Model(drawing)[2].data);
  EXPECT_EQ(grid.columns, 3);
  EXPECT_EQ(grid.rows, 2);
  EXPECT_DOUBLE_EQ(grid.columnSpacing, 1);
  EXPECT_DOUBLE_EQ(grid.rowSpacing, 0.5);
  ASSERT_GE(grid.block, 2);
  const Block& group = drawing.blocks[static_cast<std::size_t>(grid.block)];
  EXPECT_TRUE(group.isAnonymous);
  ASSERT_EQ(group.entities.size(), 1u);
  EXPECT_TRUE(group.entities[0].Is<drawing::Point>());
  EXPECT_TRUE(Model(drawing)[3].Is<Solid>());
  const Insert& once = std::get<Insert>(Model(drawing)[4].data);
  EXPECT_EQ(once.columns * once.rows, 1);
  EXPECT_EQ(drawing.skippedTypes, (std::vector<std::pair<std::string, int>>{{"SHAPE", 1}}));

  // Layers by number, with the header's colours; layer 2 was never set up.
  const Layer& one = LayerOf(drawing, Model(drawing)[1]);
  EXPECT_EQ(one.name, "1");
  EXPECT_EQ(one.color.index, 15);
  EXPECT_EQ(LayerOf(drawing, group.entities[0]).color.index, 7);
  EXPECT_EQ(drawing.layers[0].name, "0");

  ASSERT_TRUE(drawing.activeView.valid);
  EXPECT_DOUBLE_EQ(drawing.activeView.height, 9);
  EXPECT_DOUBLE_EQ(drawing.activeView.aspectRatio, 1.5);
  EXPECT_DOUBLE_EQ(drawing.header.extMax.x, 8);
}

TEST(DwgPreR14, NotesABlockThatIsNeverDefinedOrDefinedTwice) {
  const std::string records =
      R1Record(kInsert, 0, CBytes().TV("NOWHERE").P2(0, 0).P2(1, 1).RD(0)) +
      R1Record(kBlockBegin, 0, CBytes().TV("TWICE").P2(0, 0)) + R1Record(kBlockEnd, 0, "") +
      R1Record(kBlockBegin, 0, CBytes().TV("TWICE").P2(0, 0)) +
      R1Record(kLine, 0, CBytes().P2(0, 0).P2(1, 1)) + R1Record(kBlockEnd, 0, "");
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(ReadDwg(R1File(records, 6), drawing, &note));
  EXPECT_NE(note.find("\"TWICE\" is defined twice"), std::string::npos) << note;
  ASSERT_EQ(Model(drawing).size(), 1u);
  EXPECT_EQ(std::get<Insert>(Model(drawing)[0].data).block, -1);
  ASSERT_EQ(drawing.blocks.size(), 3u);
  EXPECT_TRUE(drawing.blocks[2].entities.empty()) << "the second definition is left out";
  EXPECT_EQ(FinishModel(drawing), 0);
}

// ---- Damage -----------------------------------------------------------------------------------

// Drawings of each layout with many kinds of records, written by the tests.
std::vector<std::pair<std::string, std::string>> SampleFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* magic : {"AC1009", "AC1006", "AC1004", "AC2.10"}) {
    CFile file(magic);
    Basics(file);
    file.Record(kBlock, 64, "B", CBytes().RL(file.BlockOffset(0)).RS(-1).RS(-1));
    file.blocks += file.Entity(kBlockBegin, 0, 0, 0, "", CBytes().P2(0, 0));
    file.blocks += file.Entity(kCircle, 0, 0, 0, "", CBytes().P2(0, 0).RD(1));
    file.blocks += file.Entity(kBlockEnd, 0, 0, 0, "", "");
    file.entities += file.Entity(kInsert, 0x80, 0, 1, "", CBytes().RS(0).P2(1, 1).RD(2));
    file.entities +=
        file.Entity(kAttrib, 0, 0, 0, "", CBytes().P2(0, 0).RD(1).TV("v").TV("T").RC(0));
    file.entities += file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0));
    file.entities += file.Entity(kPolyline, 0x80, 0, 0, "", "");
    file.entities += file.Entity(kVertex, 0, 0, 4, "", CBytes().P2(0, 0).RD(0.5));
    file.entities += file.Entity(kVertex, 0, 0, 0, "", CBytes().P2(1, 0));
    file.entities += file.Entity(kSeqEnd, 0, 0, 0, "", CBytes().RL(0));
    file.entities += file.Entity(kText, 0, 0, 1, "", CBytes().P2(0, 0).RD(1).TV("text").RD(1));
    file.entities += file.Entity(kDimension, 0, 0, 0, "",
                                 CBytes().RS(0).bytes + std::string(file.r10 ? 40 : 32, '\0'));
    const std::string line = file.r10
                                 ? file.Entity(kLine, 0, 0, 0, "", CBytes().P3(0, 0, 0).P3(1, 1, 1))
                                 : file.Entity(kLine, 0, 0, 0, "", CBytes().P2(0, 0).P2(1, 1));
    file.entities += line;
    if (file.r11) {
      file.entities += file.Jump(0x80000000);
      file.extras =
          line + file.Jump(static_cast<std::uint32_t>(file.EntitiesStart() + file.entities.size()));
    }
    files.emplace_back(magic, file.Build());
  }
  const std::string r1 = R1Record(kRepeat, 0, "") + R1Record(kPoint, 1, CBytes().P2(1, 7)) +
                         R1Record(kEndRepeat, 1, CBytes().RS(3).RS(2).RD(1).RD(1)) +
                         R1Record(kBlockBegin, 1, CBytes().TV("B").P2(0, 0)) +
                         R1Record(kLine, 0, CBytes().P2(6, 1).P2(7, 2)) +
                         R1Record(kBlockEnd, 1, "") +
                         R1Record(kInsert, 1, CBytes().TV("B").P2(6, 1).P2(1, 1).RD(0));
  files.emplace_back("AC1.40", R1File(r1, 7));
  return files;
}

TEST(DwgPreR13Damage, AFileCutAnywhereReadsWhatItHoldsOrSaysWhy) {
  for (const auto& [magic, bytes] : SampleFiles()) {
    ReadSound(bytes);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      ExpectReadOrRefused(bytes.substr(0, size), magic + " cut at " + std::to_string(size));
    }
  }
}

TEST(DwgPreR13Damage, AnyByteChangedIsReadAroundOrRefused) {
  for (const auto& [magic, bytes] : SampleFiles()) {
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      for (const unsigned char value : {0x00, 0x7F, 0xFF}) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(value);
        ExpectReadOrRefused(changed,
                            magic + " byte " + std::to_string(at) + " = " + std::to_string(value));
      }
    }
  }
}

TEST(DwgPreR13Damage, AbsurdCountsSizesAndAddressesAreCappedByTheFile) {
  CFile file("AC1009");
  Basics(file);
  file.entities += file.Entity(kLine, 4, 0, 0, "", CBytes().P2(0, 0).P2(1, 1));
  const std::string sound = file.Build();
  const std::size_t layerEntry = kEntryAt[kLayer];
  struct Case {
    const char* what;
    std::size_t at;
    std::string bytes;
    const char* note;
    bool read;
    bool headerChecksum;  // the change is in the header, whose checksum is left as it was
  } cases[] = {
      {"65535 layers", layerEntry + 2, CBytes().RS(0xFFFF), "passes the end of the file", true,
       false},
      {"layer records of 2 bytes", layerEntry, CBytes().RS(2), "too short", true, false},
      {"layers far past the end", layerEntry + 6, CBytes().RL(0xFFFFFFF0), "passes the end", true,
       false},
      {"an entity of 65535 bytes", file.EntitiesStart() + 2, CBytes().RS(0xFFFF),
       "passes the end of its section", false, false},
      {"an entity of 3 bytes", file.EntitiesStart() + 2, CBytes().RS(3), "impossible size", false,
       false},
      {"entities past the end", 0x18, CBytes().RL(0xFFFFFFF0), "the file ends inside", true, false},
      {"entities before the header's end", 0x14, CBytes().RL(0x20), "lie outside", false, false},
      {"65535 header variables", 0x11, CBytes().RS(0xFFFF), "header variables: checksum", true,
       true},
      {"a changed layer", 0, "", "a layer record has a wrong checksum", true, false},
  };
  for (Case& c : cases) {
    std::string bytes = sound;
    if (c.bytes.empty()) {
      // The colour of layer "0", under its checksum.
      std::uint32_t address = 0;
      std::memcpy(&address, sound.data() + layerEntry + 6, 4);
      c.at = address + 1 + 32 + 2;
      c.bytes = "\x05";
    }
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    if (!c.headerChecksum) {
      const std::size_t end = file.variablesEnd;
      bytes.replace(end, 2, CBytes().RS(dwg::Crc16(0xC0C1, bytes.substr(0, end))));
    }
    Drawing drawing;
    std::string note;
    EXPECT_EQ(ReadDwg(bytes, drawing, &note), c.read) << c.what << ": " << note;
    EXPECT_NE(note.find(c.note), std::string::npos) << c.what << ": " << note;
    if (c.read) {
      EXPECT_EQ(FinishModel(drawing), 0) << c.what;
      EXPECT_EQ(CheckModel(drawing), std::vector<std::string>{}) << c.what;
    }
  }
}

// Inputs that once broke a reader, kept where fuzzing found them, into the model.
TEST(DwgPreR13Damage, ReadsEveryFuzzingRegressionInputIntoASoundModel) {
  const fs::path folder = fs::path(TARNVELOX_SOURCE_DIR) / "tests/drawing/fuzz-regressions";
  ASSERT_TRUE(fs::is_directory(folder));
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".dwg") continue;
    ExpectReadOrRefused(testsupport::ReadFile(entry.path()), entry.path().filename().string());
  }
}

// The real drawings cut and changed: every cut that leaves less than the header is refused,
// every other read around.
TEST(DwgPreR13Damage, CorpusDrawingsCutAndChangedAreReadAroundOrRefused) {
  const fs::path shared = testsupport::SharedDir();
  const fs::path folder = shared / "corpus/dwg/pre-r13";
  if (shared.empty() || !fs::is_directory(folder)) GTEST_SKIP() << "the shared corpus is absent";
  std::uint32_t random = 12345;
  auto next = [&random]() {
    random = random * 1103515245u + 12345u;
    return random >> 8;
  };
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".dwg") continue;
    ++files;
    const std::string bytes = testsupport::ReadFile(entry.path());
    const std::string name = entry.path().filename().string();
    const std::size_t step = std::max<std::size_t>(1, bytes.size() / 300);
    for (std::size_t size = 0; size < bytes.size(); size += step) {
      ExpectReadOrRefused(bytes.substr(0, size), name + " cut at " + std::to_string(size));
    }
    for (int i = 0; i < 300; ++i) {
      std::string changed = bytes;
      for (int k = 0; k < 4; ++k) {
        changed[next() % changed.size()] = static_cast<char>(next() & 0xFF);
      }
      ExpectReadOrRefused(changed, name + " change " + std::to_string(i));
    }
  }
  EXPECT_GE(files, 6);
}

}  // namespace
