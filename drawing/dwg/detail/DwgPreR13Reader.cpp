// The tables, block definitions and entity lists of files before R13, into the drawing model.
#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <unordered_map>
#include <utility>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/detail/DwgPreR13.h"
#include "drawing/dwg/detail/DwgPreR13Context.h"
#include "drawing/dwg/detail/DwgReaderContext.h"
#include "platform/Ascii.h"

namespace drawing::dwg::detail {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

// The checksum of R11 table records.
constexpr std::uint16_t kCrcSeed = 0xC0C1;

// Names compare without regard to ASCII case, as the DXF reader's tables do.
class CNameIndex {
 public:
  std::int32_t Find(std::string_view name) const {
    const auto found = index.find(ToAsciiLower(name));
    return found != index.end() ? found->second : -1;
  }
  void Add(std::string_view name, std::int32_t value) { index.emplace(ToAsciiLower(name), value); }

 private:
  std::unordered_map<std::string, std::int32_t> index;
};

double Finite(double value, double fallback) {
  return std::isfinite(value) ? value : fallback;
}

Vec3 Finite(const Vec3& v, const Vec3& fallback) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) ? v : fallback;
}

// An anonymous block named by its kind alone ("*D", "*U"), as the block tables of these files
// name every dimension's block.
bool IsKindOnly(std::string_view name) {
  if (name.size() < 2 || name[0] != '*') return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// Where the entities of one list go: a block of the model, or nowhere (a definition the block
// table does not list, which is read past).
constexpr std::int32_t kNowhere = -1;

class CPreR13Reader {
 public:
  CPreR13Reader(const CPreR13File& file, Drawing& drawing, std::string_view defaultCodePage)
      : context(file, drawing),
        file(file),
        drawing(drawing),
        defaultCodePage(defaultCodePage),
        r11(file.release >= PreR13Release::R11) {}

  bool Read(std::string* note);

 private:
  void Basics();
  void FillHeader();

  std::int32_t DefineLayer(const std::string& name);
  std::int32_t DefineLinetype(const std::string& name);
  std::int32_t DefineTextStyle(const std::string& name);

  // Calls visit(index, flags, name, cursor) for every record of a table, the cursor standing
  // after the part every record starts with and ending before the R11 checksum. Deleted
  // records are visited too (flag 0x80), as table indices count them.
  template <class Visit>
  void ForEachRecord(PreR13TableId table, const char* what, Visit visit);
  void ReadLinetypes();
  void ReadLayers();
  void ReadTextStyles();
  void ReadActiveView();
  void ReadApplications();
  void ReadBlockTable();

  // The entity lists of R2.0 and later: the entities section into model or paper space, the
  // blocks section into the blocks its BLOCK records start.
  void ReadList(const CPreR13Section& section, bool blocksSection);
  // Finds where a JUMP leads: its target and the end of the section it lies in.
  bool JumpTarget(std::uint32_t target, std::size_t& at, std::size_t& end) const;
  void StartDefinition(std::size_t offset, const CPreR13EntityInfo& info);
  void Store(Entity&& entity, std::int32_t block, const CPreR13EntityInfo& info, int type);
  void CloseComplex();

  // The single entity list of R1.x, with its inline blocks and repeated groups.
  void ReadR1List();
  std::int32_t R1Block(const std::string& name);

  CPreR13Context context;
  const CPreR13File& file;
  Drawing& drawing;
  std::string_view defaultCodePage;
  bool r11;

  CNameIndex layerNames, linetypeNames, styleNames, blockNames;
  // Anonymous blocks: by kind ("*D"), the numbers up to which others' names took them.
  std::unordered_map<std::string, std::size_t> numbersTaken;
  // BLOCK table records by the offset of their BLOCK entity in the blocks section.
  std::unordered_map<std::size_t, std::int32_t> blockAtOffset;

  // Record starts read so far: a JUMP that leads back into them would read them again.
  std::vector<bool> read;

  // The block whose definition is being read, or kNowhere.
  std::int32_t definition = kNowhere;

  // POLYLINE … VERTEX … SEQEND and INSERT … ATTRIB … SEQEND.
  enum class Complex { None, Polyline, Insert };
  Complex open = Complex::None;
  std::int32_t openBlock = 0;
  std::size_t openIndex = 0;
  CPreR13EntityInfo openInfo;
  std::vector<CDwgVertex> vertices;

  // R1.x: block references by name, resolved once every block is known.
  struct CNamedReference {
    std::int32_t block;
    std::size_t index;
    std::string name;
  };
  std::vector<CNamedReference> namedReferences;
  std::vector<bool> r1Defined;
  int repeatCount = 0;
};

bool CPreR13Reader::Read(std::string* note) {
  drawing = Drawing{};
  Basics();
  FillHeader();
  const std::string codePage =
      drawing.header.codePage.empty() ? std::string(defaultCodePage) : drawing.header.codePage;
  context.decoder.SetCodePage(codePage, false);
  if (file.damageCount > 0) {
    ++context.damageCount;
    context.firstDamage = "DWG " + file.firstDamage;
  }

  if (file.release == PreR13Release::R1_4) {
    ReadR1List();
  } else {
    ReadLinetypes();
    ReadLayers();
    ReadTextStyles();
    ReadActiveView();
    ReadApplications();
    ReadBlockTable();
    read.assign(file.bytes.size(), false);
    ReadList(file.entities, false);
    ReadList(file.blocks, true);
  }
  drawing.skippedTypes.assign(context.skipped.begin(), context.skipped.end());

  if (note) *note = context.firstDamage;
  if (!context.firstDamage.empty() && context.entityCount == 0) {
    if (note) *note = context.firstDamage + " (nothing could be read)";
    return false;
  }
  return true;
}

// What every drawing has, as the other readers give it.
void CPreR13Reader::Basics() {
  DefineLayer("0");
  DefineLinetype("ByBlock");
  DefineLinetype("ByLayer");
  DefineLinetype("Continuous");
  drawing.linetypes[2].description = "Solid line";
  DefineTextStyle("Standard");
  drawing.textStyles[0].fontFile = "txt";
  drawing.blocks.resize(2);
  drawing.blocks[0].name = "*Model_Space";
  drawing.blocks[1].name = "*Paper_Space";
  blockNames.Add("*Model_Space", 0);
  blockNames.Add("*Paper_Space", 1);
  context.layers.assign(1, 0);
}

void CPreR13Reader::FillHeader() {
  Header& header = drawing.header;
  header.acadVersion = file.magic;
  if (file.codePage != 0) header.codePage = CodePageName(file.codePage);
  header.extMin = file.extMin;
  header.extMax = file.extMax;
  header.limMin = file.limMin;
  header.limMax = file.limMax;
  header.ltScale = Finite(file.ltScale, 1.0);
  header.psLtScale = file.psLtScale;
  header.pdMode = file.pdMode;
  header.pdSize = Finite(file.pdSize, 0.0);
  header.tileMode = file.tileMode ? 1 : 0;
  header.pExtMin = file.pExtMin;
  header.pExtMax = file.pExtMax;
  header.pLimMin = file.pLimMin;
  header.pLimMax = file.pLimMax;
  // Files without a viewport table keep the current view in the header alone.
  if (file.release < PreR13Release::R10 && file.viewSize > 0.0 && std::isfinite(file.viewSize)) {
    ModelView& view = drawing.activeView;
    view.valid = true;
    view.center = {Finite(file.viewCenter.x, 0.0), Finite(file.viewCenter.y, 0.0)};
    view.height = file.viewSize;
    view.aspectRatio = file.viewAspect > 0.0 ? Finite(file.viewAspect, 1.0) : 1.0;
    view.direction = Finite(file.viewDirection, {0, 0, 1});
  }
}

std::int32_t CPreR13Reader::DefineLayer(const std::string& name) {
  const std::int32_t found = layerNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.layers.size());
  drawing.layers.emplace_back().name = name;
  if (EqualsIgnoringCase(name, "DEFPOINTS")) drawing.layers.back().plottable = false;
  layerNames.Add(name, index);
  return index;
}

std::int32_t CPreR13Reader::DefineLinetype(const std::string& name) {
  const std::int32_t found = linetypeNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.linetypes.size());
  drawing.linetypes.emplace_back().name = name;
  linetypeNames.Add(name, index);
  return index;
}

std::int32_t CPreR13Reader::DefineTextStyle(const std::string& name) {
  const std::int32_t found = styleNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.textStyles.size());
  drawing.textStyles.emplace_back().name = name;
  styleNames.Add(name, index);
  return index;
}

// ---- Tables ------------------------------------------------------------------------------

template <class Visit>
void CPreR13Reader::ForEachRecord(PreR13TableId table, const char* what, Visit visit) {
  const CPreR13Table& entry = file.tables[table];
  if (!entry.present || entry.count == 0) return;
  // Flags and name, R11: the "used" count; R11 records end with their checksum.
  const std::size_t head = 1 + 32 + (r11 ? 2 : 0);
  const std::size_t tail = r11 ? 2 : 0;
  const std::size_t size = entry.recordSize;
  const std::size_t fileSize = file.bytes.size();
  if (size < head + tail) {
    context.Damage("tables", std::string("the ") + what + " records are too short", entry.address);
    return;
  }
  std::size_t count = entry.count;
  if (entry.address > fileSize || (fileSize - entry.address) / size < count) {
    count = entry.address > fileSize ? 0 : (fileSize - entry.address) / size;
    context.Damage("tables", std::string("the ") + what + " table passes the end of the file",
                   entry.address);
  }
  bool crcNoted = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t start = entry.address + i * size;
    const std::size_t end = start + size;
    if (r11 && !crcNoted) {
      CPreR13Cursor stored(file.bytes, end - 2, end);
      if (Crc16(kCrcSeed, file.bytes.substr(start, size - 2)) != stored.RS()) {
        context.Damage("tables", std::string("a ") + what + " record has a wrong checksum", start);
        crcNoted = true;
      }
    }
    CPreR13Cursor d(file.bytes, start, end - tail);
    const std::uint8_t flags = d.RC();
    const std::string_view name = d.TF(32);
    if (r11) d.RS();
    visit(i, flags, name, d);
  }
}

void CPreR13Reader::ReadLinetypes() {
  context.linetypes.assign(file.tables[kLinetypeTable].count, CPreR13Context::kNoLinetype);
  ForEachRecord(
      kLinetypeTable, "linetype",
      [&](std::size_t i, std::uint8_t flags, std::string_view raw, CPreR13Cursor& d) {
        const std::string name = context.Name(raw);
        if ((flags & 0x80) || name.empty()) return;
        const std::string_view description = d.TF(48);
        d.RC();  // alignment
        const unsigned count = std::min<unsigned>(d.RC(), 12);
        const double patternLength = d.RD();
        std::vector<double> dashes;
        for (unsigned k = 0; k < count; ++k) dashes.push_back(Finite(d.RD(), 0.0));
        if (d.Failed()) {
          context.Damage("tables", "linetype \"" + name + "\" ends in its dashes", d.Position());
          return;
        }
        const std::int32_t index = DefineLinetype(name);
        Linetype& linetype = drawing.linetypes[static_cast<std::size_t>(index)];
        linetype.description = context.Plain(description);
        linetype.patternLength = Finite(patternLength, 0.0);
        linetype.dashes = std::move(dashes);
        // References to the three every drawing has are by their codes.
        context.linetypes[i] = EqualsIgnoringCase(name, "BYLAYER")      ? kLinetypeByLayer
                               : EqualsIgnoringCase(name, "BYBLOCK")    ? kLinetypeByBlock
                               : EqualsIgnoringCase(name, "CONTINUOUS") ? kLinetypeContinuous
                                                                        : index;
      });
}

void CPreR13Reader::ReadLayers() {
  context.layers.assign(file.tables[kLayerTable].count, -1);
  ForEachRecord(kLayerTable, "layer",
                [&](std::size_t i, std::uint8_t flags, std::string_view raw, CPreR13Cursor& d) {
                  const std::string name = context.Name(raw);
                  if ((flags & 0x80) || name.empty()) return;
                  const int color = d.SignedRS();
                  const std::uint16_t linetype = d.RS();
                  if (d.Failed()) {
                    context.Damage("tables", "layer \"" + name + "\" ends early", d.Position());
                    return;
                  }
                  const std::int32_t index = DefineLayer(name);
                  Layer& layer = drawing.layers[static_cast<std::size_t>(index)];
                  const int magnitude = std::abs(color);
                  layer.color.index =
                      static_cast<std::int16_t>(magnitude >= 1 && magnitude <= 255 ? magnitude : 7);
                  layer.off = color < 0;
                  layer.frozen = (flags & 1) != 0;
                  layer.locked = (flags & 4) != 0;
                  layer.linetype =
                      linetype < context.linetypes.size() &&
                              context.linetypes[linetype] != CPreR13Context::kNoLinetype
                          ? context.linetypes[linetype]
                          : kLinetypeContinuous;
                  context.layers[i] = index;
                });
}

void CPreR13Reader::ReadTextStyles() {
  context.styles.assign(file.tables[kStyleTable].count, -1);
  // R2.4 and later name a big font file too.
  const bool bigFont = file.release >= PreR13Release::R2_6;
  ForEachRecord(kStyleTable, "text style",
                [&](std::size_t i, std::uint8_t flags, std::string_view raw, CPreR13Cursor& d) {
                  const std::string name = context.Name(raw);
                  const double height = d.RD();
                  const double width = d.RD();
                  const double oblique = d.RD();
                  const int generation = d.RC();
                  d.RD();  // the height last used
                  const std::string_view font = d.TF(64);
                  const std::string_view big = bigFont ? d.TF(64) : std::string_view();
                  if (d.Failed()) {
                    context.Damage("tables", "text style \"" + name + "\" ends early",
                                   d.Position());
                    return;
                  }
                  // Shape files are loaded as nameless styles with flag 1: they draw no text.
                  if ((flags & 0x80) || (flags & 1) || name.empty()) return;
                  const std::int32_t index = DefineTextStyle(name);
                  TextStyle& style = drawing.textStyles[static_cast<std::size_t>(index)];
                  style.fontFile = context.Name(font);
                  style.bigFontFile = context.Name(big);
                  style.fixedHeight = std::max(0.0, Finite(height, 0.0));
                  style.widthFactor = width > 0.0 && std::isfinite(width) ? width : 1.0;
                  style.obliqueAngle = Finite(oblique, 0.0) * kDegrees;
                  style.generationFlags = generation;
                  context.styles[i] = index;
                });
  context.standardStyle = std::max(0, styleNames.Find("Standard"));
}

void CPreR13Reader::ReadActiveView() {
  ForEachRecord(kVportTable, "viewport",
                [&](std::size_t, std::uint8_t flags, std::string_view raw, CPreR13Cursor& d) {
                  // The first live *ACTIVE entry is the current view; deleted ones are older.
                  if (drawing.activeView.valid || (flags & 0x80) ||
                      !EqualsIgnoringCase(context.Name(raw), "*ACTIVE")) {
                    return;
                  }
                  d.Point2();  // the corners of the viewport on the screen
                  d.Point2();
                  const Vec3 target = d.Point3();
                  const Vec3 direction = d.Point3();
                  const double twist = d.RD();
                  const double height = d.RD();
                  const Vec2 center = d.Point2();
                  const double aspect = d.RD();
                  if (d.Failed()) {
                    context.Damage("tables", "the active view ends early", d.Position());
                    return;
                  }
                  ModelView& view = drawing.activeView;
                  view.valid = true;
                  view.center = {Finite(center.x, 0.0), Finite(center.y, 0.0)};
                  view.height = Finite(height, 0.0);
                  view.aspectRatio = Finite(aspect, 1.0);
                  view.target = Finite(target, {});
                  view.direction = Finite(direction, {0, 0, 1});
                  view.twist = Finite(twist, 0.0) * kDegrees;
                });
}

void CPreR13Reader::ReadApplications() {
  context.applications.assign(file.tables[kAppIdTable].count, std::string());
  ForEachRecord(kAppIdTable, "application",
                [&](std::size_t i, std::uint8_t flags, std::string_view raw, CPreR13Cursor&) {
                  if (!(flags & 0x80)) context.applications[i] = context.Name(raw);
                });
}

// Block table records give the model's blocks, in table order, and where their definitions
// start in the blocks section.
void CPreR13Reader::ReadBlockTable() {
  context.blocks.assign(file.tables[kBlockTable].count, -1);
  ForEachRecord(
      kBlockTable, "block",
      [&](std::size_t i, std::uint8_t flags, std::string_view raw, CPreR13Cursor& d) {
        std::string name = context.Name(raw);
        // R10 and later mark the offset with bit 30.
        const std::size_t offset = d.RL() & 0x3FFFFFFF;
        if ((flags & 0x80) || name.empty()) return;
        if (d.Failed()) {
          context.Damage("tables", "block \"" + name + "\" ends early", d.Position());
          return;
        }
        // Dimension blocks are all "*D" in the table; DXF files number them by their
        // table index ("*D2"), and so do their BLOCK entities in R11.
        const bool anonymous = (flags & 1) != 0;
        if (IsKindOnly(name)) {
          // A number taken by another block is passed over, and not tried again for the next.
          const std::string kind = name;
          std::size_t& taken = numbersTaken[ToAsciiUpper(kind)];
          std::size_t number = std::max(i, taken);
          while (blockNames.Find(kind + std::to_string(number)) >= 0) ++number;
          name = kind + std::to_string(number);
          if (number > i) taken = number + 1;
        }
        if (blockNames.Find(name) >= 0) {
          context.Damage("tables", "block \"" + name + "\" is listed twice; the repeat is left out",
                         d.Position());
          return;
        }
        const auto index = static_cast<std::int32_t>(drawing.blocks.size());
        Block& block = drawing.blocks.emplace_back();
        block.name = name;
        block.isAnonymous = anonymous;
        block.isXref = (flags & (4 | 8)) != 0;
        blockNames.Add(name, index);
        context.blocks[i] = index;
        if (!blockAtOffset.emplace(offset, index).second) {
          context.Damage("tables", "block \"" + name + "\" starts where another block starts",
                         d.Position());
        }
      });
}

// ---- Entity lists of R2.0 and later ------------------------------------------------------

bool CPreR13Reader::JumpTarget(std::uint32_t target, std::size_t& at, std::size_t& end) const {
  const CPreR13Section* section = nullptr;
  std::size_t position = 0;
  switch (target >> 24) {
    case 0x00:  // an absolute address in the entities section
      section = &file.entities;
      position = target;
      break;
    case 0x40:  // an offset from the start of the blocks section
      section = &file.blocks;
      position = section->start + (target & 0xFFFFFF);
      break;
    case 0x80:  // an offset from the start of the extra entities
      section = &file.extras;
      position = section->start + (target & 0xFFFFFF);
      break;
    default:
      return false;
  }
  // A JUMP back to the end of a section ends its list.
  if (position < section->start || position > section->end) return false;
  at = position;
  end = section->end;
  return true;
}

void CPreR13Reader::ReadList(const CPreR13Section& section, bool blocksSection) {
  const char* stage = blocksSection ? "blocks" : "entities";
  std::size_t at = section.start;
  std::size_t end = section.end;
  definition = kNowhere;
  while (at < end) {
    if (read[at]) {
      context.Damage(stage, "the entities run into entities read before", at);
      break;
    }
    read[at] = true;
    CPreR13Record record;
    std::string problem;
    if (!ReadPreR13Record(file, at, end, record, problem)) {
      context.Damage(stage, problem, at);
      break;
    }
    if (!record.crcMatches) {
      context.Damage(stage, PreR13TypeName(record.type) + " has a wrong checksum", at);
    }
    at = record.end;
    if (record.deleted) continue;
    if (record.type == pretype::kJump) {
      // An entity that outgrew its place continues elsewhere (mostly the extra entities),
      // and a JUMP there leads back.
      if (!JumpTarget(record.jumpTarget, at, end)) {
        context.Damage(stage, "a JUMP leads outside the sections", record.start);
        break;
      }
      continue;
    }

    Entity entity;
    CPreR13EntityInfo info;
    const bool inDefinition = blocksSection;
    const PreR13EntityResult result =
        DecodePreR13Entity(context, record, inDefinition, entity, info);
    if (result == PreR13EntityResult::Damaged) {
      context.Damage(stage, PreR13TypeName(record.type) + " cannot be read", record.start);
      continue;
    }
    switch (record.type) {
      case pretype::kBlock:
        CloseComplex();
        if (!blocksSection) {
          context.Damage(stage, "a BLOCK among the entities is left out", record.start);
          continue;
        }
        StartDefinition(record.start - section.start, info);
        continue;
      case pretype::kEndBlock:
        CloseComplex();
        definition = kNowhere;
        continue;
      case pretype::kSeqEnd:
        CloseComplex();
        continue;
      case pretype::kVertex:
        if (open == Complex::Polyline) {
          CDwgVertex vertex = info.vertex;
          if (!info.vertexHasStartWidth) vertex.vertex.startWidth = openInfo.startWidth;
          if (!info.vertexHasEndWidth) vertex.vertex.endWidth = openInfo.endWidth;
          vertices.push_back(vertex);
        }
        continue;
      case pretype::kAttrib:
        if (open == Complex::Insert && result == PreR13EntityResult::Stored) {
          std::vector<Entity>& list = drawing.blocks[static_cast<std::size_t>(openBlock)].entities;
          std::get<Insert>(list[openIndex].data).attributes.push_back(std::move(entity));
        }
        // An attribute outside a block reference is left out, as DXF readers leave it out.
        continue;
      default:
        break;
    }
    CloseComplex();
    if (result == PreR13EntityResult::Skipped) {
      ++context.skipped[PreR13TypeName(record.type)];
      continue;
    }
    if (result != PreR13EntityResult::Stored) continue;
    // Entities of the entities section that name a viewport lie in paper space.
    const std::int32_t block = blocksSection ? definition : (record.hasViewport ? 1 : 0);
    if (block == kNowhere) continue;
    Store(std::move(entity), block, info, record.type);
  }
  CloseComplex();
  definition = kNowhere;
}

void CPreR13Reader::StartDefinition(std::size_t offset, const CPreR13EntityInfo& info) {
  const auto found = blockAtOffset.find(offset);
  if (found == blockAtOffset.end()) {
    context.Damage("blocks", "a block definition that the block table does not list",
                   file.blocks.start + offset);
    definition = kNowhere;
    return;
  }
  definition = found->second;
  // A definition is read once: a second BLOCK at the same place cannot exist.
  blockAtOffset.erase(found);
  drawing.blocks[static_cast<std::size_t>(definition)].base = Finite(info.base, {});
}

void CPreR13Reader::Store(Entity&& entity, std::int32_t block, const CPreR13EntityInfo& info,
                          int type) {
  std::vector<Entity>& list = drawing.blocks[static_cast<std::size_t>(block)].entities;
  list.push_back(std::move(entity));
  ++context.entityCount;
  if (type == pretype::kPolyline || type == pretype::kInsert) {
    open = type == pretype::kPolyline ? Complex::Polyline : Complex::Insert;
    openBlock = block;
    openIndex = list.size() - 1;
    openInfo = info;
    vertices.clear();
  }
}

void CPreR13Reader::CloseComplex() {
  if (open == Complex::Polyline) {
    Entity& entity = drawing.blocks[static_cast<std::size_t>(openBlock)].entities[openIndex];
    FinishDwgPolyline(openInfo.polyline, vertices, std::get<Polyline>(entity.data));
  }
  vertices.clear();
  open = Complex::None;
}

// ---- R1.x --------------------------------------------------------------------------------

std::int32_t CPreR13Reader::R1Block(const std::string& name) {
  const std::int32_t found = blockNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.blocks.size());
  drawing.blocks.emplace_back().name = name;
  blockNames.Add(name, index);
  r1Defined.resize(drawing.blocks.size(), false);
  return index;
}

void CPreR13Reader::ReadR1List() {
  // Layer 0 takes its colour from the header too.
  context.layers.assign(128, -1);
  context.layers[0] = 0;
  if (file.layerColors[0] >= 1 && file.layerColors[0] < 255) {
    drawing.layers[0].color.index = file.layerColors[0];
  }
  r1Defined.assign(2, true);
  std::int32_t target = 0;     // where entities go: model space, a block or a repeated group
  std::int32_t outside = 0;    // where they go after the block or group that holds them
  std::int32_t repeated = -1;  // the block of the group since REPEAT
  std::size_t at = file.entities.start;
  const std::size_t end = file.entities.end;
  while (at < end) {
    Entity entity;
    CPreR13EntityInfo info;
    PreR13EntityResult result;
    int type = 0;
    std::size_t next = at;
    if (!DecodeR1Entity(context, at, end, target > 1, type, next, entity, info, result)) {
      context.Damage("entities", PreR13TypeName(std::abs(type)) + " cannot be read", at);
      break;
    }
    const std::size_t start = at;
    at = next;
    if (type < 0) continue;  // deleted
    switch (type) {
      case pretype::kBlock: {
        const std::string name = context.Name(info.name);
        const std::int32_t block = name.empty() ? kNowhere : R1Block(name);
        if (block != kNowhere && r1Defined[static_cast<std::size_t>(block)]) {
          context.Damage("entities", "block \"" + name + "\" is defined twice", start);
          target = kNowhere;
        } else if (block != kNowhere) {
          r1Defined[static_cast<std::size_t>(block)] = true;
          drawing.blocks[static_cast<std::size_t>(block)].base = Finite(info.base, {});
          target = block;
        } else {
          target = kNowhere;
        }
        continue;
      }
      case pretype::kEndBlock:
        target = repeated >= 0 ? repeated : 0;
        continue;
      case pretype::kRepeat: {
        if (repeated >= 0) {
          context.Damage("entities", "a REPEAT inside a REPEAT is left out", start);
          continue;
        }
        // The group becomes an anonymous block, placed as a grid of its copies at ENDREP.
        std::string name;
        do {
          name = "*U" + std::to_string(++repeatCount);
        } while (blockNames.Find(name) >= 0);
        repeated = R1Block(name);
        r1Defined[static_cast<std::size_t>(repeated)] = true;
        drawing.blocks[static_cast<std::size_t>(repeated)].isAnonymous = true;
        outside = target == kNowhere ? 0 : target;
        target = repeated;
        continue;
      }
      case pretype::kEndRepeat: {
        if (repeated < 0) continue;
        Insert grid;
        grid.block = repeated;
        grid.columns = info.columns;
        grid.rows = info.rows;
        grid.columnSpacing = Finite(info.columnSpacing, 0.0);
        grid.rowSpacing = Finite(info.rowSpacing, 0.0);
        Entity placed;
        placed.data = std::move(grid);
        drawing.blocks[static_cast<std::size_t>(outside)].entities.push_back(std::move(placed));
        ++context.entityCount;
        target = outside;
        repeated = -1;
        continue;
      }
      default:
        break;
    }
    if (result == PreR13EntityResult::Skipped) {
      ++context.skipped[PreR13TypeName(type)];
      continue;
    }
    if (result != PreR13EntityResult::Stored || target == kNowhere) continue;
    std::vector<Entity>& list = drawing.blocks[static_cast<std::size_t>(target)].entities;
    if (type == pretype::kInsert) {
      namedReferences.push_back({target, list.size(), context.Name(info.name)});
    }
    list.push_back(std::move(entity));
    ++context.entityCount;
  }
  // A group that the file ends inside is drawn once.
  if (repeated >= 0) {
    Insert once;
    once.block = repeated;
    Entity placed;
    placed.data = std::move(once);
    drawing.blocks[static_cast<std::size_t>(outside)].entities.push_back(std::move(placed));
  }
  for (const CNamedReference& reference : namedReferences) {
    Insert& insert = std::get<Insert>(
        drawing.blocks[static_cast<std::size_t>(reference.block)].entities[reference.index].data);
    const std::int32_t block = blockNames.Find(reference.name);
    if (block >= 2 && r1Defined[static_cast<std::size_t>(block)]) {
      insert.block = block;
    } else {
      context.Damage("entities",
                     "an INSERT names block \"" + reference.name +
                         "\", which is "
                         "not defined",
                     file.entities.start);
    }
  }
}

}  // namespace

bool ReadDwgPreR13(std::string_view bytes, Drawing& drawing, std::string* note,
                   std::string_view defaultCodePage) {
  if (note) note->clear();
  CPreR13File file;
  std::string reason;
  if (!ReadPreR13File(bytes, file, reason)) {
    drawing = Drawing{};
    if (note) *note = "DWG " + reason;
    return false;
  }
  CPreR13Reader reader(file, drawing, defaultCodePage);
  return reader.Read(note);
}

}  // namespace drawing::dwg::detail
