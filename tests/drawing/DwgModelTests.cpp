// The DWG reader above the container, on object stores the tests build: tables and blocks into
// the model, and damage around them (loops, repeats, wrong kinds, counts beyond the object)
// read around into a model FinishModel need not mend.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DwgTestFiles.h"
#include "drawing/Model.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/detail/DwgModelReader.h"

namespace {

using namespace drawing;
using namespace drawing::dwg;
using dwgtest::CBitWriter;

using Writer = std::function<void(CBitWriter& data, CBitWriter& handles)>;

constexpr std::uint16_t kLine = 0x13, kInsert = 0x07, kAttrib = 0x02, kSeqend = 0x06;
constexpr std::uint16_t kBlockControl = 0x30, kBlockHeader = 0x31, kLayerControl = 0x32;
constexpr std::uint16_t kLayer = 0x33;

// Objects framed as a file keeps them (size, type, data size, handle, no extended data, data,
// handles, a checksum) in one buffer with the map of their handles: what the container gives
// the layers above.
class CObjectStore {
 public:
  explicit CObjectStore(Version version) : version(version) {}

  void Add(std::uint64_t handle, std::uint16_t type, bool entity, const Writer& write) {
    CBitWriter data, handles;
    data.BS(type);
    const std::size_t sizeField = data.BitCount();
    data.RL(0);  // patched below
    data.H(0, handle);
    data.BS(0);  // no extended data
    if (entity) data.B(false);
    write(data, handles);
    const std::size_t dataBits = data.BitCount();
    std::string body = data.Bytes();
    body.resize((dataBits + 7) / 8);
    // The handles start at the data's last bit, which need not be a byte boundary.
    CBitWriter whole;
    for (std::size_t bit = 0; bit < dataBits; ++bit) {
      whole.B((static_cast<unsigned char>(body[bit / 8]) >> (7 - bit % 8)) & 1);
    }
    const std::string handleBytes = handles.Bytes();
    for (std::size_t bit = 0; bit < handles.BitCount(); ++bit) {
      whole.B((static_cast<unsigned char>(handleBytes[bit / 8]) >> (7 - bit % 8)) & 1);
    }
    std::string bytes = whole.Bytes();
    for (int i = 0; i < 32; ++i) {
      const std::size_t bit = sizeField + 8 * (i / 8) + (7 - i % 8);
      const char mask = static_cast<char>(0x80 >> (bit % 8));
      char& byte = bytes[bit / 8];
      byte = static_cast<char>(((dataBits >> i) & 1) ? (byte | mask) : (byte & ~mask));
    }
    map[handle] = store.size();
    store += static_cast<char>(bytes.size() & 0xFF);
    store += static_cast<char>(bytes.size() >> 8);
    store += bytes;
    store += std::string(2, '\0');  // the checksum, not checked above the container
  }

  // The common part of a table record or other non-entity object.
  void ObjectCommon(CBitWriter& d, CBitWriter& h, std::uint64_t owner = 0) const {
    d.BL(0);  // reactors
    if (version >= Version::R2004) d.B(true);
    h.H(4, owner);
    if (version < Version::R2004) h.H(3, 0);
  }

  void TableRecord(CBitWriter& d, CBitWriter& h, const std::string& name) const {
    ObjectCommon(d, h);
    d.TV(name);
    d.B(false);
    d.BS(0);
    d.B(false);
    h.H(5, 0);  // external reference
  }

  // The common part of an entity in model space on layer 0x10. R13–R2000: explicit links.
  void EntityCommon(CBitWriter& d, CBitWriter& h, std::uint64_t previous = 0,
                    std::uint64_t next = 0, std::uint8_t mode = 2) const {
    d.Bits(mode, 2);
    d.BL(0);
    if (version >= Version::R2004) d.B(true);
    if (version <= Version::R2000) d.B(false);  // links follow
    d.BS(256);
    d.BD(1.0);
    d.Bits(0, 2);
    d.Bits(0, 2);
    d.BS(0);
    d.RC(29);
    if (mode == 0) h.H(4, 0x1F);
    if (version <= Version::R2000) {
      h.H(3, 0);
      h.H(4, previous);
      h.H(4, next);
    }
    h.H(5, 0x10);
  }

  void Line(std::uint64_t handle, double x, std::uint64_t previous = 0, std::uint64_t next = 0) {
    Add(handle, kLine, true, [=, this](CBitWriter& d, CBitWriter& h) {
      EntityCommon(d, h, previous, next);
      d.B(true);
      d.RD(x);
      d.DD(x + 1, x);
      d.RD(0);
      d.DD(0, 0);
      d.B(true);
      d.B(true);
    });
  }

  // A drawing with layer "0" (0x10) and a model space (0x1F) of the entities given, as a
  // chain (R13–R2000) or a list (R2004+).
  void Basics(const std::vector<std::uint64_t>& entities, std::uint32_t claimedCount = 0) {
    header.layerControl = 2;
    header.blockControl = 1;
    header.blockRecordModelSpace = 0x1F;
    Add(2, kLayerControl, false, [this](CBitWriter& d, CBitWriter& h) {
      ObjectCommon(d, h);
      d.BL(static_cast<std::uint32_t>(layers.size()));
      for (const std::uint64_t layer : layers) h.H(2, layer);
    });
    Add(0x10, kLayer, false, [this](CBitWriter& d, CBitWriter& h) {
      TableRecord(d, h, "0");
      d.BS(7 << 5 | 16);  // plotted, 0.25 mm
      if (version >= Version::R2004) {
        d.BS(0);  // colour 7 by its index
        d.BL(0xC3000007);
        d.RC(0);
      } else {
        d.BS(7);
      }
      h.H(5, 0);  // plot style
      h.H(5, 0);  // linetype
    });
    Add(1, kBlockControl, false, [this](CBitWriter& d, CBitWriter& h) {
      ObjectCommon(d, h);
      d.BL(0);
    });
    Add(0x1F, kBlockHeader, false, [=, this](CBitWriter& d, CBitWriter& h) {
      TableRecord(d, h, "*Model_Space");
      d.B(false);  // anonymous, attributes, xref, overlay, loaded
      d.B(false);
      d.B(false);
      d.B(false);
      d.B(false);
      if (version >= Version::R2004) {
        d.BL(claimedCount ? claimedCount : static_cast<std::uint32_t>(entities.size()));
      }
      d.BD3(0, 0, 0);
      d.TV("");
      d.RC(0);  // no references
      d.TV("");
      d.BL(0);
      h.H(3, 0);  // BLOCK
      if (version <= Version::R2000) {
        h.H(4, entities.empty() ? 0 : entities.front());
        h.H(4, entities.empty() ? 0 : entities.back());
      } else {
        for (const std::uint64_t entity : entities) h.H(4, entity);
      }
      h.H(3, 0);  // ENDBLK
      h.H(5, 0);  // layout
    });
  }

  // Reads the model from the store; the model is finished as ReadDrawing finishes it.
  bool Read(Drawing& drawing, std::string& note) {
    container.version = version;
    container.objectData = store;
    container.objectMap.clear();
    for (const auto& [handle, offset] : map) container.objectMap.push_back({handle, offset});
    const bool read = detail::ReadDwgModel(container, header, drawing, &note);
    mended = FinishModel(drawing);
    return read;
  }

  Version version;
  CDwgHeader header;
  std::vector<std::uint64_t> layers{0x10};
  int mended = -1;

 private:
  CDwgContainer container;
  std::string store;
  std::map<std::uint64_t, std::size_t> map;
};

void ExpectSound(const Drawing& drawing, const CObjectStore& store) {
  EXPECT_EQ(store.mended, 0) << "FinishModel had to mend references";
  const std::vector<std::string> broken = CheckModel(drawing);
  EXPECT_TRUE(broken.empty()) << broken.front();
}

TEST(DwgModel, ReadsTheLayersAndTheChainOfModelSpaceOfR2000) {
  CObjectStore store(Version::R2000);
  store.Basics({0x50, 0x52});
  store.Line(0x50, 1, 0, 0x51);
  store.Line(0x51, 2, 0x50, 0x52);
  store.Line(0x52, 3, 0x51, 0);
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note)) << note;
  EXPECT_EQ(note, "");
  ASSERT_EQ(drawing.layers.size(), 1u);
  EXPECT_EQ(drawing.layers[0].lineweight, 25);
  EXPECT_EQ(drawing.layers[0].color.index, 7);
  ASSERT_EQ(drawing.blocks[0].entities.size(), 3u);
  EXPECT_DOUBLE_EQ(std::get<Line>(drawing.blocks[0].entities[2].data).start.x, 3);
  ExpectSound(drawing, store);
}

TEST(DwgModel, AChainThatLoopsIsReadOnceAndNoted) {
  CObjectStore store(Version::R2000);
  store.Basics({0x50, 0x52});
  store.Line(0x50, 1, 0, 0x51);
  store.Line(0x51, 2, 0x50, 0x50);  // back to the first
  store.Line(0x52, 3, 0x51, 0);
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note));
  EXPECT_NE(note.find("loop"), std::string::npos) << note;
  EXPECT_EQ(drawing.blocks[0].entities.size(), 2u);
  ExpectSound(drawing, store);
}

TEST(DwgModel, AnEntityListedTwiceOrMissingIsReadOnceAndNoted) {
  CObjectStore store(Version::R2004);
  store.Basics({0x77, 0x50, 0x50, 0x51});
  store.Line(0x50, 1);
  store.Line(0x51, 2);
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note));
  EXPECT_NE(note.find("names no object"), std::string::npos) << note;
  EXPECT_EQ(drawing.layers[0].color.index, 7);
  EXPECT_EQ(drawing.blocks[0].entities.size(), 2u);
  ExpectSound(drawing, store);
}

TEST(DwgModel, ABlockClaimingMoreEntitiesThanItListsReadsWhatItLists) {
  CObjectStore store(Version::R2004);
  store.Basics({0x50}, 0x00FFFFFF);
  store.Line(0x50, 1);
  Drawing drawing;
  std::string note;
  store.Read(drawing, note);
  EXPECT_NE(note.find("claims more entities"), std::string::npos) << note;
  EXPECT_LE(drawing.blocks[0].entities.size(), 1u);
  ExpectSound(drawing, store);
}

TEST(DwgModel, ATableEntryOfAnotherKindIsLeftOutAndNoted) {
  CObjectStore store(Version::R2000);
  store.layers = {0x10, 0x50};  // the second "layer" is a LINE
  store.Basics({0x50});
  store.Line(0x50, 1);
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note));
  EXPECT_NE(note.find("is a LINE"), std::string::npos) << note;
  EXPECT_EQ(drawing.layers.size(), 1u);
  EXPECT_EQ(drawing.blocks[0].entities.size(), 1u);
  ExpectSound(drawing, store);
}

TEST(DwgModel, AttributesThatRunIntoModelSpaceEndTheirChain) {
  CObjectStore store(Version::R2000);
  store.Basics({0x50, 0x51});
  store.Add(0x50, kInsert, true, [&store](CBitWriter& d, CBitWriter& h) {
    store.EntityCommon(d, h, 0, 0x51);
    d.BD3(0, 0, 0);
    d.Bits(3, 2);  // scale 1
    d.BD(0);
    d.BD3(0, 0, 1);
    d.B(true);     // attributes
    h.H(5, 0x99);  // block: none
    h.H(4, 0x60);  // first and last attribute
    h.H(4, 0x62);
    h.H(3, 0x63);  // SEQEND
  });
  store.Add(0x60, kAttrib, true, [&store](CBitWriter& d, CBitWriter& h) {
    store.EntityCommon(d, h, 0, 0x51, 0);  // its next is the model space line
    d.RC(0xFF & ~0x08);
    d.RD(0);
    d.RD(0);
    d.B(true);
    d.B(true);
    d.RD(0);
    d.RD(1);
    d.TV("value");
    d.TV("TAG");
    d.BS(0);
    d.RC(0);
    h.H(5, 0);
  });
  store.Line(0x51, 2, 0x50, 0);
  store.Add(0x63, kSeqend, true,
            [&store](CBitWriter& d, CBitWriter& h) { store.EntityCommon(d, h, 0, 0, 0); });
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note));
  ASSERT_EQ(drawing.blocks[0].entities.size(), 2u) << "the line stays in model space";
  const Insert& insert = std::get<Insert>(drawing.blocks[0].entities[0].data);
  EXPECT_EQ(insert.block, -1);
  EXPECT_EQ(insert.attributes.size(), 1u);
  EXPECT_NE(note.find("is not its owner's"), std::string::npos) << note;
  ExpectSound(drawing, store);
}

// Found by fuzzing: an attribute that a block lists as its own entity.
TEST(DwgModel, AnAttributeThatABlockListsAsItsOwnIsLeftOut) {
  CObjectStore store(Version::R2004);
  store.Basics({0x60, 0x50});
  store.Add(0x60, kAttrib, true, [&store](CBitWriter& d, CBitWriter& h) {
    store.EntityCommon(d, h);
    d.RC(0xFF & ~0x08);
    d.RD(0);
    d.RD(0);
    d.B(true);
    d.B(true);
    d.RD(0);
    d.RD(1);
    d.TV("value");
    d.TV("TAG");
    d.BS(0);
    d.RC(0);
    h.H(5, 0);
  });
  store.Line(0x50, 1);
  Drawing drawing;
  std::string note;
  ASSERT_TRUE(store.Read(drawing, note)) << note;
  ASSERT_EQ(drawing.blocks[0].entities.size(), 1u);
  EXPECT_TRUE(drawing.blocks[0].entities[0].Is<Line>());
  ExpectSound(drawing, store);
}

TEST(DwgModel, AFileWithoutTablesStillGivesEveryDrawingsBasics) {
  CObjectStore store(Version::R2004);
  Drawing drawing;
  std::string note;
  EXPECT_TRUE(store.Read(drawing, note)) << note;
  EXPECT_EQ(drawing.layers.size(), 1u);
  EXPECT_EQ(drawing.blocks.size(), 2u);
  ExpectSound(drawing, store);
}

}  // namespace
