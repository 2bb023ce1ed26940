#include "drawing/dxf/DxfReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drawing/ProxyGraphics.h"
#include "drawing/dxf/detail/DxfEntities.h"
#include "drawing/dxf/detail/DxfReaderContext.h"
#include "drawing/dxf/detail/DxfTokenizer.h"
#include "drawing/text/TextDecoder.h"
#include "platform/Ascii.h"

namespace drawing {

namespace {

using detail::CDxfReaderContext;
using detail::CDxfTokenizer;
using detail::DxfEntityInfo;
using detail::DxfEntityResult;
using detail::DxfGroup;
using detail::DxfVertex;
using detail::GroupHandle;
using detail::GroupInteger;
using detail::GroupReal;
using detail::GroupTrimmed;
using detail::Int;
using detail::Real;
using detail::SetCoordinate;

enum class Section { None, Header, Classes, Tables, Blocks, Entities, Objects, Other };

// A name from the file as it may appear in a log line: printable ASCII, not too long.
std::string Printable(std::string_view text) {
  constexpr std::size_t kLongest = 60;
  std::string result(text.substr(0, kLongest));
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  }
  if (text.size() > kLongest) result += "...";
  return result;
}

// From R2007 (AC1021) on, strings are UTF-8 whatever $DWGCODEPAGE says.
bool IsUtf8Version(std::string_view version) {
  if (version.size() != 6 || version.substr(0, 2) != "AC") return false;
  for (char c : version.substr(2)) {
    if (c < '0' || c > '9') return false;
  }
  return version >= "AC1021";
}

// Where an entity record is to be stored.
constexpr std::int32_t kBySpaceFlag = -2;  // ENTITIES section: model or paper space by group 67
constexpr std::int32_t kDiscard = -1;      // read, but not kept (a duplicate block)

struct EntityRef {
  std::int32_t block = 0;
  std::int32_t index = 0;
  std::uint64_t handle = 0;
};

struct PendingLayout {
  Layout layout;
  std::uint64_t blockRecord = 0;
};

// A draw order table (SORTENTSTABLE) and the block record whose entities it orders.
struct PendingDrawOrder {
  std::uint64_t blockRecord = 0;
  std::vector<DrawOrderEntry> entries;
};

class CDxfReader {
 public:
  CDxfReader(std::string_view bytes, Drawing& drawing)
      : tokenizer(bytes), context(drawing), drawing(drawing) {}

  bool Read(std::string* error);

 private:
  bool NextGroup(DxfGroup& group);
  bool ReadRecord();
  void Damage(const std::string& what);
  std::string Place() const;
  const char* StageName() const;

  void StartSection();
  void EndSection();
  void ReadHeader();
  void TableRecord();
  void ReadLayer();
  void ReadLinetype();
  void ReadTextStyle();
  void ReadViewportTableEntry();
  void ReadBlockRecord();
  void ReadDimStyle();
  void BlocksRecord();
  void BeginBlock();
  void EndBlock();
  void ObjectsRecord();
  void ReadLayout();
  void ReadImageDef();
  void ReadMLineStyle();
  void ReadUnderlayDefinition();
  void ReadDictionary();
  void ReadSpatialFilter();
  void ReadInvertedClip();
  void ResolveInsertClips();
  void ResolvePlotStyles();
  void ReadDrawOrder();
  void AddEntity(std::int32_t target);
  // Notes the handle of the entity at `index` of `block`, for the block's draw order.
  void NoteHandle(std::int32_t block, std::size_t index, std::uint64_t handle);
  Entity& EntityAt(std::int32_t block, std::int32_t index);
  // An entity of a kind the model does not have that keeps proxy graphics: adds what they
  // draw; false when they draw nothing.
  bool AddProxyGraphics(std::int32_t target);
  void CloseComplex();

  void Finish();
  void ResolveImages();
  // MLINE styles and underlay files, which the objects after the entities define.
  void ResolveStylesAndUnderlays();
  void ResolveViewportClips();
  void ResolveLinetypeStyles();
  void ResolveMTextColumns();
  void ApplyDrawOrders();
  std::int32_t BlockOfRecord(std::uint64_t handle) const;
  void RemoveUndefinedBlocks();

  CDxfTokenizer tokenizer;
  CDxfReaderContext context;
  Drawing& drawing;

  std::vector<DxfGroup> record;
  std::string_view recordType;
  bool recordDamaged = false;
  std::uint64_t recordXDictionary = 0;  // the record's extension dictionary (102 group, 360)
  DxfGroup pending;
  bool hasPending = false;

  Section section = Section::None;
  Section stage = Section::None;  // the section being read, or the last one read
  std::string sectionName;
  std::string firstDamage;
  bool sawEof = false;
  std::uint64_t entityCount = 0;
  CProxyGraphicsTables proxyTables;
  bool proxyTablesReady = false;
  // The 8-bit text of proxy graphics is in the file's code page in every release.
  CTextDecoder graphicsText;

  // BLOCKS section. The entities of the block being read are collected here and moved into
  // the block at its end: one vector reused for all blocks grows far less often than one per
  // block, and growing vectors of entities (copies, fresh pages) costs more than parsing them.
  bool inBlock = false;
  std::int32_t currentBlock = kDiscard;
  std::vector<Entity> blockEntities;

  // POLYLINE … SEQEND and INSERT … ATTRIB … SEQEND
  enum class Complex { None, Polyline, Insert, Discarded };
  Complex open = Complex::None;
  std::int32_t openBlock = 0, openIndex = 0;
  DxfEntityInfo openInfo;
  std::vector<DxfVertex> vertices;

  // Handles resolved at the end.
  std::vector<EntityRef> imageRefs, clipRefs, clipCandidates, plotStyleRefs;
  // Layers that name a plot style (390), and the names of dictionary entries by the handle they
  // lead to (the plot style names among them).
  std::vector<std::pair<std::int32_t, std::uint64_t>> layerPlotStyles;
  std::unordered_map<std::uint64_t, std::string> entryNames;
  // Block references with an extension dictionary, which may hold a spatial filter; the
  // dictionaries (entries by name) and the filters' boundaries in block coordinates.
  std::vector<EntityRef> insertDictionaries;
  std::unordered_map<std::uint64_t, std::vector<std::pair<std::string, std::uint64_t>>>
      dictionaries;
  // A filter's boundary in block coordinates, with what an inverted clip needs: the inverse
  // matrix that took it there and the filter's extension dictionary.
  struct SpatialFilter {
    std::vector<Vec2> boundary;
    double inverse[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    std::uint64_t extensionDictionary = 0;
  };
  std::unordered_map<std::uint64_t, SpatialFilter> spatialFilters;
  // The boundaries of inverted clips (their ACAD_INVERTEDCLIP_ROUNDTRIP points), by the handle
  // of the record that holds them.
  std::unordered_map<std::uint64_t, std::vector<Vec3>> invertedClips;
  std::unordered_map<std::uint64_t, std::int32_t> imageDefs;
  struct MLineRef {
    EntityRef entity;
    std::string styleName;
  };
  std::vector<MLineRef> mlineRefs;
  std::vector<EntityRef> underlayRefs;
  // MTEXT in columns whose further columns are MTEXT entities of their own (files before
  // R2018), with the handles of those.
  struct ColumnSet {
    std::int32_t block;
    std::int32_t index;
    std::vector<std::uint64_t> linked;
  };
  std::vector<ColumnSet> columnSets;
  std::unordered_map<std::uint64_t, std::int32_t> mlineStyleHandles;
  std::unordered_map<std::uint64_t, std::string> underlayFiles;
  std::unordered_map<std::uint64_t, std::int32_t> blockOfOwner;
  std::vector<std::pair<std::int32_t, std::string>> layerLinetypes;
  // Text styles by handle, and the files of the shape styles (which are no text styles); the
  // style handle of each text or shape of a complex linetype.
  std::unordered_map<std::uint64_t, std::int32_t> textStyleHandles;
  std::unordered_map<std::uint64_t, std::string> shapeFileHandles;
  struct LinetypeStyleRef {
    std::int32_t linetype;
    std::size_t shape;
    std::uint64_t handle;
  };
  std::vector<LinetypeStyleRef> linetypeStyleRefs;
  std::vector<PendingLayout> layouts;
  std::vector<PendingDrawOrder> drawOrders;
  // The handle of every entity of every block (by block, then entity index; 0 for none), for
  // the draw order tables that come last in the file.
  std::vector<std::vector<std::uint64_t>> entityHandles;
  std::map<std::string, int> skipped;
};

const char* CDxfReader::StageName() const {
  switch (stage) {
    case Section::None:
    case Section::Header:
      return "header";
    case Section::Classes:
      return "classes";
    case Section::Tables:
      return "tables";
    case Section::Blocks:
      return "blocks";
    case Section::Entities:
      return "entities";
    case Section::Objects:
      return "objects";
    case Section::Other:
      break;
  }
  return sectionName.c_str();
}

std::string CDxfReader::Place() const {
  return std::string("DXF ") + StageName() + " section, " + tokenizer.Where();
}

void CDxfReader::Damage(const std::string& what) {
  if (!firstDamage.empty()) return;
  firstDamage = Place() + ": " + what;
  // Names from the file may hold any byte; the note stays one printable line.
  for (char& c : firstDamage) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
}

bool CDxfReader::NextGroup(DxfGroup& group) {
  for (;;) {
    switch (tokenizer.Next(group)) {
      case CDxfTokenizer::Result::Group:
        return true;
      case CDxfTokenizer::Result::End:
        if (tokenizer.Truncated()) {
          Damage("the file is cut short (" + tokenizer.Problem() + ")");
          // A record whose group was cut is incomplete; a cut group 0 starts the next one.
          if (tokenizer.TruncatedCode() != 0) recordDamaged = true;
        }
        return false;
      case CDxfTokenizer::Result::Damaged:
        Damage(tokenizer.Problem());
        recordDamaged = true;
        // The record in progress is dropped; reading goes on at the next record.
        if (!tokenizer.Resync()) return false;
        break;
    }
  }
}

// A record is a group 0 (its type) and the groups up to the next group 0. Comments, the
// application groups in braces (102; an XRECORD keeps the 102 groups of its data) and embedded
// objects (101 up to the extended data or the
// end of the record) are left out: they reuse codes of the record's own data. MTEXT keeps its
// embedded object, marker included, for the columns it describes.
bool CDxfReader::ReadRecord() {
  record.clear();
  recordDamaged = false;
  DxfGroup group;
  if (hasPending) {
    group = pending;
    hasPending = false;
  } else {
    do {
      if (!NextGroup(group)) return false;
    } while (group.code != 0);
  }
  recordType = GroupTrimmed(group);
  recordDamaged = false;
  recordXDictionary = 0;
  int braces = 0;
  bool inXDictionary = false;
  bool embedded = false;
  const bool keepEmbedded = recordType == "MTEXT";
  while (NextGroup(group)) {
    if (recordDamaged) {  // resynchronised: this group starts the next record
      pending = group;
      hasPending = true;
      return true;
    }
    if (group.code == 0) {
      pending = group;
      hasPending = true;
      return true;
    }
    if (group.code == 1001) embedded = false;
    if (group.code == 999 || (embedded && !keepEmbedded)) continue;
    if (group.code == 102) {
      const std::string_view text = GroupTrimmed(group);
      if (!text.empty() && text.front() == '{') {
        ++braces;
        inXDictionary = braces == 1 && text == "{ACAD_XDICTIONARY";
      } else if (braces > 0) {
        --braces;
        inXDictionary = false;
      } else if (recordType == "XRECORD") {
        // An extension record's data: its 102 groups name its sections.
        record.push_back(group);
      }
      continue;
    }
    if (braces > 0) {
      // The extension dictionary is the one application group the reader follows (a block
      // reference's clip).
      if (inXDictionary && group.code == 360) recordXDictionary = GroupHandle(group);
      continue;
    }
    if (group.code == 101) {
      embedded = true;
      if (keepEmbedded) record.push_back(group);
      continue;
    }
    record.push_back(group);
  }
  return true;
}

bool CDxfReader::Read(std::string* error) {
  DxfGroup group;
  CDxfTokenizer::Result first;
  do {
    first = tokenizer.Next(group);
  } while (first == CDxfTokenizer::Result::Group && group.code == 999);
  if (first != CDxfTokenizer::Result::Group || group.code != 0 ||
      GroupTrimmed(group) != "SECTION") {
    if (error) *error = Place() + ": not a DXF file (it does not start with a SECTION)";
    return false;
  }
  pending = group;
  hasPending = true;
  while (!sawEof && ReadRecord()) {
    if (recordType == "SECTION") {
      StartSection();
      continue;
    }
    if (recordType == "ENDSEC") {
      EndSection();
      continue;
    }
    if (recordType == "EOF") {
      sawEof = true;
      break;
    }
    if (recordDamaged) continue;
    switch (section) {
      case Section::Tables:
        TableRecord();
        break;
      case Section::Blocks:
        BlocksRecord();
        break;
      case Section::Entities:
        AddEntity(kBySpaceFlag);
        break;
      case Section::Objects:
        ObjectsRecord();
        break;
      default:
        break;
    }
  }
  if (!sawEof && firstDamage.empty()) Damage("the file ends without EOF");
  EndSection();
  Finish();
  const bool usable = firstDamage.empty() || entityCount > 0;
  if (error) *error = firstDamage;
  return usable;
}

void CDxfReader::StartSection() {
  EndSection();
  sectionName.clear();
  for (const DxfGroup& group : record) {
    if (group.code == 2) {
      sectionName = std::string(GroupTrimmed(group));
      break;
    }
  }
  for (char& c : sectionName) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  static const std::pair<std::string_view, Section> kSections[] = {
      {"header", Section::Header}, {"classes", Section::Classes},   {"tables", Section::Tables},
      {"blocks", Section::Blocks}, {"entities", Section::Entities}, {"objects", Section::Objects}};
  section = Section::Other;
  for (const auto& [name, value] : kSections) {
    if (sectionName == name) section = value;
  }
  stage = section;
  if (section == Section::Header) ReadHeader();
  if (section == Section::Entities) {
    // Growing a vector of entities by doubling copies it several times over, and each copy
    // faults in fresh pages, which costs more than the parsing itself. The bytes left bound
    // the number of entity records (a short one takes about this many); space reserved but
    // not used is never touched and is given back at the end.
    const std::size_t estimate = tokenizer.Remaining() / (tokenizer.IsBinary() ? 100 : 150);
    std::vector<Entity>& model = drawing.blocks[0].entities;
    if (estimate > 1024) model.reserve(model.size() + estimate);
  }
}

void CDxfReader::EndSection() {
  CloseComplex();
  if (inBlock) EndBlock();
  section = Section::None;
}

// ---- Header -----------------------------------------------------------------------------

void CDxfReader::ReadHeader() {
  Header& header = drawing.header;
  std::string_view variable;
  auto is = [&variable](std::string_view name) { return EqualsIgnoringCase(variable, name); };
  for (const DxfGroup& group : record) {
    if (group.code == 9) {
      variable = GroupTrimmed(group);
      continue;
    }
    if (is("$ACADVER") && group.code == 1) {
      header.acadVersion = context.Name(group.text);
    } else if (is("$DWGCODEPAGE") && group.code == 3) {
      header.codePage = context.Name(group.text);
    } else if (is("$INSUNITS")) {
      header.insUnits = Int(group);
    } else if (is("$EXTMIN")) {
      SetCoordinate(header.extMin, 10, group);
    } else if (is("$EXTMAX")) {
      SetCoordinate(header.extMax, 10, group);
    } else if (is("$LIMMIN")) {
      SetCoordinate(header.limMin, 10, group);
    } else if (is("$LIMMAX")) {
      SetCoordinate(header.limMax, 10, group);
    } else if (is("$LTSCALE")) {
      header.ltScale = Real(group, 1.0);
    } else if (is("$CELTSCALE")) {
      header.celtScale = Real(group, 1.0);
    } else if (is("$PSLTSCALE")) {
      header.psLtScale = Int(group, 1);
    } else if (is("$LWDEFAULT")) {
      header.lwDefault = Int(group, 25);
    } else if (is("$PDMODE")) {
      header.pdMode = Int(group);
    } else if (is("$PDSIZE")) {
      header.pdSize = Real(group);
    } else if (is("$TILEMODE")) {
      header.tileMode = Int(group, 1);
    } else if (is("$PSTYLEMODE")) {
      header.pstyleMode = Int(group, 1);
    } else if (is("$XCLIPFRAME")) {
      header.xclipFrame = Int(group, 2);
    } else if (is("$PEXTMIN")) {
      SetCoordinate(header.pExtMin, 10, group);
    } else if (is("$PEXTMAX")) {
      SetCoordinate(header.pExtMax, 10, group);
    } else if (is("$PLIMMIN")) {
      SetCoordinate(header.pLimMin, 10, group);
    } else if (is("$PLIMMAX")) {
      SetCoordinate(header.pLimMax, 10, group);
    } else if (is("$DIMASZ")) {
      context.headerDimStyle.arrowSize = Real(group, 0.18);
    } else if (is("$DIMSCALE")) {
      context.headerDimStyle.scale = Real(group, 1.0);
    } else if (is("$DIMTXT")) {
      context.headerDimStyle.textHeight = Real(group, 0.18);
    } else if (is("$DIMGAP")) {
      context.headerDimStyle.gap = Real(group, 0.09);
    } else if (is("$DIMTXSTY")) {
      context.headerDimStyle.textStyleName = std::string(GroupTrimmed(group));
    }
  }
  context.decoder.SetCodePage(header.codePage, IsUtf8Version(header.acadVersion));
}

// ---- Tables -----------------------------------------------------------------------------

void CDxfReader::TableRecord() {
  if (recordType == "LAYER") {
    ReadLayer();
  } else if (recordType == "LTYPE") {
    ReadLinetype();
  } else if (recordType == "STYLE") {
    ReadTextStyle();
  } else if (recordType == "VPORT") {
    ReadViewportTableEntry();
  } else if (recordType == "BLOCK_RECORD") {
    ReadBlockRecord();
  } else if (recordType == "DIMSTYLE") {
    ReadDimStyle();
  }
}

void CDxfReader::ReadLayer() {
  std::string name;
  for (const DxfGroup& group : record) {
    if (group.code == 2) name = context.Name(group.text);
  }
  context.layerOrder.push_back(-1);
  if (name.empty()) return;
  const std::int32_t index = context.DefineLayer(name);
  context.layerOrder.back() = index;
  Layer& layer = drawing.layers[static_cast<std::size_t>(index)];
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 5:
        context.layerHandles[GroupHandle(group)] = index;
        break;
      case 62: {
        const int color = Int(group, 7);
        layer.off = color < 0;
        const int magnitude = std::abs(color);
        layer.color.index =
            static_cast<std::int16_t>(magnitude >= 1 && magnitude <= 255 ? magnitude : 7);
        break;
      }
      case 420: {
        std::int64_t value = 0;
        if (GroupInteger(group, value)) {
          const auto rgb = static_cast<std::uint32_t>(value);
          layer.color.hasTrueColor = true;
          layer.color.rgb = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
        }
        break;
      }
      case 70: {
        const int flags = Int(group);
        layer.frozen = (flags & 1) != 0;
        layer.locked = (flags & 4) != 0;
        break;
      }
      case 290:
        layer.plottable = Int(group, 1) != 0 && !EqualsIgnoringCase(layer.name, "DEFPOINTS");
        break;
      case 390:
        layerPlotStyles.emplace_back(index, GroupHandle(group));
        break;
      case 6:
        layerLinetypes.emplace_back(index, std::string(group.text));
        break;
      case 370: {
        const int weight = Int(group, kLineweightDefault);
        layer.lineweight =
            static_cast<std::int16_t>(weight >= 0 && weight <= 211 ? weight : kLineweightDefault);
        break;
      }
      default:
        break;
    }
  }
}

void CDxfReader::ReadLinetype() {
  std::string name;
  for (const DxfGroup& group : record) {
    if (group.code == 2) name = context.Name(group.text);
  }
  const bool special = EqualsIgnoringCase(name, "ByBlock") || EqualsIgnoringCase(name, "ByLayer");
  if (!special) context.linetypeOrder.push_back(-1);
  if (name.empty()) return;
  const std::int32_t index = context.DefineLinetype(name);
  if (!special) context.linetypeOrder.back() = index;
  for (const DxfGroup& group : record) {
    if (group.code == 5)
      context.linetypeHandles[GroupHandle(group)] = context.LinetypeReference(name);
  }
  Linetype& linetype = drawing.linetypes[static_cast<std::size_t>(index)];
  linetype.dashes.clear();
  linetype.shapes.clear();
  // The groups of a text or shape (74 and on) follow the dash (49) it stands at.
  LinetypeShape* shape = nullptr;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 3:
        linetype.description = context.Text(group.text);
        break;
      case 40:
        linetype.patternLength = Real(group);
        break;
      case 49:
        linetype.dashes.push_back(Real(group));
        shape = nullptr;
        break;
      case 74: {
        const int flags = Int(group);
        shape = nullptr;
        if ((flags & 6) == 0 || linetype.dashes.empty()) break;
        shape = &linetype.shapes.emplace_back();
        shape->dash = linetype.dashes.size() - 1;
        shape->isText = (flags & 2) != 0;
        shape->absoluteRotation = (flags & 1) != 0;
        shape->upright = (flags & 8) != 0;
        break;
      }
      case 75:
        if (shape) shape->shapeNumber = Int(group);
        break;
      case 340:
        if (shape) {
          linetypeStyleRefs.push_back({index,
                                       static_cast<std::size_t>(shape - linetype.shapes.data()),
                                       GroupHandle(group)});
        }
        break;
      case 46:
        if (shape) shape->scale = Real(group, 1.0);
        break;
      case 50:
        if (shape) shape->rotation = Real(group);
        break;
      case 44:
        if (shape) shape->offset.x = Real(group);
        break;
      case 45:
        if (shape) shape->offset.y = Real(group);
        break;
      case 9:
        if (shape) shape->text = context.Text(group.text);
        break;
      default:
        break;
    }
  }
  // A text without a style is drawn in "Standard"; one whose style never turns up, too.
  for (LinetypeShape& element : linetype.shapes) {
    if (element.isText) element.style = 0;
  }
}

void CDxfReader::ReadTextStyle() {
  std::string name;
  int flags = 0;
  for (const DxfGroup& group : record) {
    if (group.code == 2) name = context.Name(group.text);
    if (group.code == 70) flags = Int(group);
  }
  std::uint64_t handle = 0;
  for (const DxfGroup& group : record) {
    if (group.code == 5) handle = GroupHandle(group);
  }
  if (flags & 1) {
    // Shape files draw no text; complex linetypes name them for their shapes.
    for (const DxfGroup& group : record) {
      if (group.code == 3 && handle != 0) shapeFileHandles[handle] = context.Name(group.text);
    }
    return;
  }
  if (name.empty()) return;
  const std::int32_t styleIndex = context.DefineTextStyle(name);
  if (handle != 0) {
    textStyleHandles[handle] = styleIndex;
    context.textStyleHandles[handle] = styleIndex;
  }
  TextStyle& style = drawing.textStyles[static_cast<std::size_t>(styleIndex)];
  bool inAcad = false;
  bool familyTaken = false;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 3:
        style.fontFile = context.Name(group.text);
        break;
      case 4:
        style.bigFontFile = context.Name(group.text);
        break;
      case 40:
        style.fixedHeight = std::max(0.0, Real(group));
        break;
      case 41: {
        const double factor = Real(group, 1.0);
        style.widthFactor = factor > 0.0 ? factor : 1.0;
        break;
      }
      case 50:
        style.obliqueAngle = Real(group);
        break;
      case 71:
        style.generationFlags = Int(group);
        break;
      case 1001:
        inAcad = GroupTrimmed(group) == "ACAD";
        break;
      case 1000:
        // The TrueType family name, in the extended data of the application ACAD.
        if (inAcad && !familyTaken) {
          style.fontFamily = context.Name(group.text);
          familyTaken = true;
        }
        break;
      default:
        break;
    }
  }
}

void CDxfReader::ReadViewportTableEntry() {
  if (drawing.activeView.valid) return;  // the first *ACTIVE entry is the current view
  bool active = false;
  for (const DxfGroup& group : record) {
    if (group.code == 2) active = EqualsIgnoringCase(GroupTrimmed(group), "*ACTIVE");
  }
  if (!active) return;
  ModelView& view = drawing.activeView;
  view.valid = true;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 40:
        view.height = Real(group);
        break;
      case 41:
        view.aspectRatio = Real(group, 1.0);
        break;
      case 51:
        view.twist = Real(group);
        break;
      default:
        SetCoordinate(view.center, 12, group) || SetCoordinate(view.direction, 16, group) ||
            SetCoordinate(view.target, 17, group);
        break;
    }
  }
}

void CDxfReader::ReadBlockRecord() {
  std::uint64_t handle = 0;
  std::string name;
  for (const DxfGroup& group : record) {
    if (group.code == 5) handle = GroupHandle(group);
    if (group.code == 2) name = context.Name(group.text);
  }
  if (handle != 0 && !name.empty()) context.blockRecordNames[handle] = std::move(name);
}

void CDxfReader::ReadDimStyle() {
  std::string name;
  // A group the entry leaves out has the format's default, not the header's value (the header
  // holds the current style's values, which may be another style's).
  detail::DxfDimStyle style;
  for (const DxfGroup& group : record) {
    if (group.code == 2) name = context.Name(group.text);
    if (group.code == 41) style.arrowSize = Real(group, style.arrowSize);
    if (group.code == 40) style.scale = Real(group, style.scale);
    if (group.code == 140) style.textHeight = Real(group, style.textHeight);
    if (group.code == 147) style.gap = Real(group, style.gap);
    if (group.code == 340) style.textStyleHandle = GroupHandle(group);
  }
  if (!name.empty()) context.dimStyles[name] = style;
}

// ---- Blocks and entities -----------------------------------------------------------------

void CDxfReader::BlocksRecord() {
  if (recordType == "BLOCK") {
    BeginBlock();
  } else if (recordType == "ENDBLK") {
    if (inBlock) EndBlock();
  } else if (inBlock) {
    AddEntity(currentBlock);
  }
}

void CDxfReader::BeginBlock() {
  if (inBlock) EndBlock();  // the previous block lacks its ENDBLK
  std::string name, alternative;
  int flags = 0;
  Vec3 base;
  std::uint64_t owner = 0;
  const std::size_t start = detail::DxfSpecificStart(record);
  for (std::size_t i = 0; i < record.size(); ++i) {
    const DxfGroup& group = record[i];
    switch (group.code) {
      case 2:
        name = context.Name(group.text);
        break;
      case 3:
        alternative = context.Name(group.text);
        break;
      case 70:
        flags = Int(group);
        break;
      case 330:
        if (i < start || start == 0) owner = GroupHandle(group);
        break;
      default:
        SetCoordinate(base, 10, group);
        break;
    }
  }
  if (name.empty()) name = alternative;
  inBlock = true;
  context.inBlockDefinition = true;
  currentBlock = name.empty() ? kDiscard : context.DefineBlock(name);
  if (currentBlock == kDiscard) {
    std::size_t shown = std::min<std::size_t>(name.size(), 60);
    while (shown < name.size() && (static_cast<unsigned char>(name[shown]) & 0xC0) == 0x80) {
      --shown;  // not inside a UTF-8 character
    }
    Damage("block \"" + name.substr(0, shown) + (shown < name.size() ? "..." : "") +
           "\" is defined twice or has no name; the repeat is left out");
    return;
  }
  Block& block = drawing.blocks[static_cast<std::size_t>(currentBlock)];
  block.base = base;
  block.isAnonymous = (flags & 1) != 0;
  block.isXref = (flags & (4 | 8)) != 0;
  if (owner != 0) blockOfOwner[owner] = currentBlock;
}

void CDxfReader::EndBlock() {
  CloseComplex();
  if (currentBlock >= 0) {
    std::vector<Entity>& entities = drawing.blocks[static_cast<std::size_t>(currentBlock)].entities;
    entities.reserve(entities.size() + blockEntities.size());
    for (Entity& entity : blockEntities) entities.push_back(std::move(entity));
  }
  blockEntities.clear();
  inBlock = false;
  context.inBlockDefinition = false;
  currentBlock = kDiscard;
}

void CDxfReader::AddEntity(std::int32_t target) {
  if (recordType == "VERTEX") {
    if (open == Complex::Polyline) {
      vertices.emplace_back();
      detail::ParseDxfVertex(record, vertices.back());
    }
    return;
  }
  if (recordType == "ATTRIB") {
    if (open != Complex::Insert) return;
    Entity attribute;
    DxfEntityInfo info;
    if (detail::ParseDxfEntity(context, recordType, record, attribute, info) ==
        DxfEntityResult::Stored) {
      std::get<Insert>(EntityAt(openBlock, openIndex).data)
          .attributes.push_back(std::move(attribute));
    }
    return;
  }
  if (recordType == "SEQEND") {
    CloseComplex();
    return;
  }
  CloseComplex();  // any other record ends a POLYLINE or INSERT without its SEQEND

  Entity entity;
  DxfEntityInfo info;
  const DxfEntityResult result = detail::ParseDxfEntity(context, recordType, record, entity, info);
  if (result == DxfEntityResult::Unknown) {
    if (!recordType.empty() && !AddProxyGraphics(target)) ++skipped[Printable(recordType)];
    return;
  }
  const bool polyline = recordType == "POLYLINE";
  const bool insert = recordType == "INSERT";
  if (result == DxfEntityResult::NotDrawn) return;
  const std::int32_t block = target == kBySpaceFlag ? (info.paperSpace ? 1 : 0) : target;
  if (block < 0) {
    if (polyline || insert) open = Complex::Discarded;
    return;
  }
  std::vector<Entity>& entities = drawing.blocks[static_cast<std::size_t>(block)].entities;
  std::int32_t index = 0;
  if (inBlock && block == currentBlock) {
    index = static_cast<std::int32_t>(entities.size() + blockEntities.size());
    blockEntities.push_back(std::move(entity));
  } else {
    index = static_cast<std::int32_t>(entities.size());
    entities.push_back(std::move(entity));
  }
  ++entityCount;
  NoteHandle(block, static_cast<std::size_t>(index), info.handle);
  if (info.imageDef != 0) imageRefs.push_back({block, index, info.imageDef});
  if (info.mlineStyle != 0 || !info.mlineStyleName.empty()) {
    mlineRefs.push_back({{block, index, info.mlineStyle}, std::move(info.mlineStyleName)});
  }
  if (info.underlayDefinition != 0) underlayRefs.push_back({block, index, info.underlayDefinition});
  if (!info.linkedColumns.empty()) {
    columnSets.push_back({block, index, std::move(info.linkedColumns)});
  }
  if (info.clipBoundary != 0) clipRefs.push_back({block, index, info.clipBoundary});
  if (info.plotStyle != 0) plotStyleRefs.push_back({block, index, info.plotStyle});
  if (info.clipCandidate && info.handle != 0) clipCandidates.push_back({block, index, info.handle});
  if (insert && recordXDictionary != 0) {
    insertDictionaries.push_back({block, index, recordXDictionary});
  }
  if (polyline || insert) {
    open = polyline ? Complex::Polyline : Complex::Insert;
    openBlock = block;
    openIndex = index;
    openInfo = info;
    vertices.clear();
  }
}

bool CDxfReader::AddProxyGraphics(std::int32_t target) {
  Entity base;
  DxfEntityInfo info;
  std::string graphics;
  if (!detail::ParseDxfProxyGraphics(context, recordType, record, base, info, graphics)) {
    return false;
  }
  if (!proxyTablesReady) {
    // The tables come before the entities.
    proxyTablesReady = true;
    graphicsText.SetCodePage(drawing.header.codePage, false);
    proxyTables.layers = context.layerOrder;
    proxyTables.linetypes = context.linetypeOrder;
    proxyTables.textStyles = &drawing.textStyles;
    proxyTables.standardStyle = std::max(0, context.TextStyleIndex("Standard"));
    proxyTables.decodeText = [this](std::string_view raw) { return graphicsText.Decode(raw); };
    const std::string_view version = drawing.header.acadVersion;
    proxyTables.fullVertices = !version.empty() && version <= "AC1014";
    proxyTables.vertexIds = version >= "AC1024";
  }
  std::vector<Entity> drawn;
  const CProxyGraphicsResult result = DecodeProxyGraphics(graphics, base, proxyTables, drawn);
  for (const auto& [kind, count] : result.skipped) skipped[kind] += count;
  if (result.damaged) Damage(std::string(recordType) + ": its graphics are cut short");
  const std::int32_t block = target == kBySpaceFlag ? (info.paperSpace ? 1 : 0) : target;
  if (drawn.empty() || block < 0) return !drawn.empty();
  std::size_t index = drawing.blocks[static_cast<std::size_t>(block)].entities.size();
  std::vector<Entity>& entities = inBlock && block == currentBlock
                                      ? blockEntities
                                      : drawing.blocks[static_cast<std::size_t>(block)].entities;
  if (&entities == &blockEntities) index += blockEntities.size();
  for (Entity& entity : drawn) {
    entities.push_back(std::move(entity));
    NoteHandle(block, index++, info.handle);
  }
  entityCount += drawn.size();
  return true;
}

void CDxfReader::NoteHandle(std::int32_t block, std::size_t index, std::uint64_t handle) {
  const auto b = static_cast<std::size_t>(block);
  if (entityHandles.size() <= b) entityHandles.resize(b + 1);
  std::vector<std::uint64_t>& handles = entityHandles[b];
  if (handles.size() <= index) handles.resize(index + 1, 0);
  handles[index] = handle;
}

Entity& CDxfReader::EntityAt(std::int32_t block, std::int32_t index) {
  std::vector<Entity>& entities = drawing.blocks[static_cast<std::size_t>(block)].entities;
  const auto position = static_cast<std::size_t>(index);
  if (position >= entities.size()) return blockEntities[position - entities.size()];
  return entities[position];
}

void CDxfReader::CloseComplex() {
  if (open == Complex::Polyline) {
    detail::FinishDxfPolyline(openInfo, vertices,
                              std::get<Polyline>(EntityAt(openBlock, openIndex).data));
  }
  if (open == Complex::Polyline || open == Complex::Discarded) vertices.clear();
  open = Complex::None;
}

// ---- Objects ----------------------------------------------------------------------------

void CDxfReader::ObjectsRecord() {
  if (recordType == "LAYOUT") {
    ReadLayout();
  } else if (recordType == "IMAGEDEF") {
    ReadImageDef();
  } else if (recordType == "DICTIONARY" || recordType == "ACDBDICTIONARYWDFLT") {
    ReadDictionary();
  } else if (recordType == "SPATIAL_FILTER") {
    ReadSpatialFilter();
  } else if (recordType == "XRECORD") {
    ReadInvertedClip();
  } else if (recordType == "MLINESTYLE") {
    ReadMLineStyle();
  } else if (recordType == "PDFDEFINITION" || recordType == "DWFDEFINITION" ||
             recordType == "DGNDEFINITION") {
    ReadUnderlayDefinition();
  } else if (recordType == "SORTENTSTABLE") {
    ReadDrawOrder();
  }
}

void CDxfReader::ReadDictionary() {
  std::uint64_t handle = 0;
  std::vector<std::pair<std::string, std::uint64_t>> entries;
  for (const DxfGroup& group : record) {
    if (group.code == 5) handle = GroupHandle(group);
    if (group.code == 3) entries.emplace_back(std::string(GroupTrimmed(group)), 0);
    if ((group.code == 350 || group.code == 360) && !entries.empty()) {
      entries.back().second = GroupHandle(group);
    }
  }
  for (const auto& [name, target] : entries) {
    if (target != 0) entryNames.emplace(target, name);
  }
  // Only the dictionaries on the way to a clip are kept: ACAD_FILTER and SPATIAL entries, and
  // the record that makes a clip inverted.
  std::erase_if(entries, [](const auto& entry) {
    return entry.second == 0 || (entry.first != "ACAD_FILTER" && entry.first != "SPATIAL" &&
                                 entry.first != "ACAD_XREC_ROUNDTRIP");
  });
  if (handle != 0 && !entries.empty()) dictionaries[handle] = std::move(entries);
}

void CDxfReader::ReadSpatialFilter() {
  std::uint64_t handle = 0;
  std::vector<Vec2> points;
  Vec3 normal{0, 0, 1}, origin;
  bool enabled = true;
  // Two matrices of 12 values follow each other in groups 40 (the inverse of the reference's
  // transformation when it was clipped, then the clip's own); the clipping planes' distances
  // (40 after 72 = 1, 41) come before them.
  std::vector<double> matrices;
  bool frontPlane = false;
  const std::uint64_t extensionDictionary = recordXDictionary;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 5:
        handle = GroupHandle(group);
        break;
      case 10:
        points.push_back({Real(group), 0.0});
        break;
      case 20:
        if (!points.empty()) points.back().y = Real(group);
        break;
      case 71:
        enabled = Int(group, 1) != 0;
        break;
      case 72:
        frontPlane = Int(group) != 0;
        break;
      case 40:
        // The front plane's distance is not part of the matrices.
        if (frontPlane) {
          frontPlane = false;
        } else {
          matrices.push_back(Real(group));
        }
        break;
      default:
        SetCoordinate(normal, 210, group) || SetCoordinate(origin, 11, group);
        break;
    }
  }
  (void)enabled;  // the boundary's display, not the clip itself
  if (handle == 0 || points.size() < 2) return;
  // The boundary is in the plane of the clip (its normal and origin), in the coordinates the
  // reference was drawn in when it was clipped; the inverse matrix takes it into the block's
  // own coordinates, where it stays however the reference is moved since.
  // The plane's axes by the arbitrary axis rule of object coordinate systems.
  const double length = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  if (!(length > 1e-12))
    normal = {0, 0, 1};
  else
    normal = {normal.x / length, normal.y / length, normal.z / length};
  Vec3 ax = std::fabs(normal.x) < 1.0 / 64 && std::fabs(normal.y) < 1.0 / 64
                ? Vec3{normal.z, 0, -normal.x}   // world y × normal
                : Vec3{-normal.y, normal.x, 0};  // world z × normal
  const double axLength = std::sqrt(ax.x * ax.x + ax.y * ax.y + ax.z * ax.z);
  ax = {ax.x / axLength, ax.y / axLength, ax.z / axLength};
  const Vec3 ay{normal.y * ax.z - normal.z * ax.y, normal.z * ax.x - normal.x * ax.z,
                normal.x * ax.y - normal.y * ax.x};
  SpatialFilter filter;
  filter.extensionDictionary = extensionDictionary;
  double* inverse = filter.inverse;
  if (matrices.size() >= 12) std::copy(matrices.begin(), matrices.begin() + 12, inverse);
  std::vector<Vec2>& boundary = filter.boundary;
  for (const Vec2& p : points) {
    const double x = origin.x + p.x * ax.x + p.y * ay.x;
    const double y = origin.y + p.x * ax.y + p.y * ay.y;
    const double z = origin.z + p.x * ax.z + p.y * ay.z;
    const Vec2 block{inverse[0] * x + inverse[1] * y + inverse[2] * z + inverse[3],
                     inverse[4] * x + inverse[5] * y + inverse[6] * z + inverse[7]};
    if (!std::isfinite(block.x) || !std::isfinite(block.y)) return;
    boundary.push_back(block);
  }
  spatialFilters[handle] = std::move(filter);
}

void CDxfReader::ReadInvertedClip() {
  // A record of sections, each opened by a 102 group with its name: the points of
  // ACAD_INVERTEDCLIP_ROUNDTRIP are the boundary whose outside an inverted clip shows.
  std::uint64_t handle = 0;
  std::vector<Vec3> points;
  bool inside = false;
  for (const DxfGroup& group : record) {
    if (group.code == 5) handle = GroupHandle(group);
    if (group.code == 102) inside = GroupTrimmed(group) == "ACAD_INVERTEDCLIP_ROUNDTRIP";
    if (!inside) continue;
    if (group.code == 10) points.push_back({Real(group), 0.0, 0.0});
    if (!points.empty()) SetCoordinate(points.back(), 10, group);
  }
  if (handle != 0 && points.size() >= 2) invertedClips[handle] = std::move(points);
}

void CDxfReader::ResolveInsertClips() {
  const auto entry = [this](std::uint64_t dictionary, std::string_view name) -> std::uint64_t {
    auto found = dictionaries.find(dictionary);
    if (found == dictionaries.end()) return 0;
    for (const auto& [key, value] : found->second) {
      if (key == name) return value;
    }
    return 0;
  };
  for (const EntityRef& ref : insertDictionaries) {
    auto filter = spatialFilters.find(entry(entry(ref.handle, "ACAD_FILTER"), "SPATIAL"));
    if (filter == spatialFilters.end()) continue;
    Entity& entity = drawing.blocks[static_cast<std::size_t>(ref.block)]
                         .entities[static_cast<std::size_t>(ref.index)];
    auto* insert = std::get_if<Insert>(&entity.data);
    if (!insert) continue;
    insert->clipBoundary = filter->second.boundary;
    // An inverted clip keeps its own boundary beside the filter's (which then runs round the
    // outside as well); it lies where the filter's points lay, and goes to the block the same way.
    auto inverted =
        invertedClips.find(entry(filter->second.extensionDictionary, "ACAD_XREC_ROUNDTRIP"));
    if (inverted == invertedClips.end()) continue;
    const double* m = filter->second.inverse;
    std::vector<Vec2> hole;
    for (const Vec3& p : inverted->second) {
      const Vec2 block{m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3],
                       m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7]};
      if (!std::isfinite(block.x) || !std::isfinite(block.y)) break;
      hole.push_back(block);
    }
    if (hole.size() < inverted->second.size()) continue;
    insert->clipBoundary = std::move(hole);
    insert->clipInverted = true;
  }
}

void CDxfReader::ReadMLineStyle() {
  std::uint64_t handle = 0;
  MLineStyle style;
  bool inElements = false;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 5:
        handle = GroupHandle(group);
        break;
      case 2:
        style.name = context.Name(group.text);
        break;
      case 70:
        style.flags = Int(group);
        break;
      case 71:
        inElements = true;
        break;
      case 49:
        style.elements.emplace_back().offset = Real(group);
        break;
      case 62: {
        const int index = std::abs(Int(group, Color::kByLayer));
        Color& color =
            inElements && !style.elements.empty() ? style.elements.back().color : style.fillColor;
        if (index <= 256) color.index = static_cast<std::int16_t>(index);
        break;
      }
      case 6:
        if (!style.elements.empty()) {
          style.elements.back().linetype = context.LinetypeReference(group.text);
        }
        break;
      default:
        break;
    }
  }
  if (handle != 0)
    mlineStyleHandles[handle] = static_cast<std::int32_t>(drawing.mlineStyles.size());
  drawing.mlineStyles.push_back(std::move(style));
}

void CDxfReader::ReadUnderlayDefinition() {
  std::uint64_t handle = 0;
  std::string file;
  for (const DxfGroup& group : record) {
    if (group.code == 5) handle = GroupHandle(group);
    if (group.code == 1) file = context.Text(group.text);
  }
  if (handle != 0) underlayFiles[handle] = std::move(file);
}

void CDxfReader::ReadDrawOrder() {
  // The block record is the last 330 before the pairs (the first ones, inside 102 braces and
  // before the subclass marker, name the owning dictionary); each pair is an entity (331) and
  // its sort handle (5).
  PendingDrawOrder order;
  bool inBraces = false;
  std::uint64_t entity = 0;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 102:
        inBraces = GroupTrimmed(group).starts_with("{");
        break;
      case 330:
        if (!inBraces && order.entries.empty() && entity == 0) {
          order.blockRecord = GroupHandle(group);
        }
        break;
      case 331:
        entity = GroupHandle(group);
        break;
      case 5:
        if (entity != 0) order.entries.push_back({entity, GroupHandle(group)});
        entity = 0;
        break;
      default:
        break;
    }
  }
  if (order.blockRecord != 0 && !order.entries.empty()) drawOrders.push_back(std::move(order));
}

void CDxfReader::ReadLayout() {
  PendingLayout pendingLayout;
  Layout& layout = pendingLayout.layout;
  // The plot settings part and the layout part reuse codes (1, 70, 10 …): the subclass
  // markers tell them apart. Without markers, the layout part's values come last and win.
  enum class Part { Unmarked, PlotSettings, Layout, Other };
  Part part = Part::Unmarked;
  for (const DxfGroup& group : record) {
    if (group.code == 100) {
      const std::string_view marker = GroupTrimmed(group);
      part = marker == "AcDbPlotSettings" ? Part::PlotSettings
             : marker == "AcDbLayout"     ? Part::Layout
                                          : Part::Other;
      continue;
    }
    const bool plot = part == Part::PlotSettings || part == Part::Unmarked;
    const bool own = part == Part::Layout || part == Part::Unmarked;
    switch (group.code) {
      case 1:
        if (own) layout.name = context.Name(group.text);
        break;
      case 71:
        if (own) layout.tabOrder = Int(group);
        break;
      case 330:
        if (own) pendingLayout.blockRecord = GroupHandle(group);
        break;
      case 40:
        if (plot) layout.marginLeft = Real(group);
        break;
      case 41:
        if (plot) layout.marginBottom = Real(group);
        break;
      case 42:
        if (plot) layout.marginRight = Real(group);
        break;
      case 43:
        if (plot) layout.marginTop = Real(group);
        break;
      case 44:
        if (plot) layout.paperWidth = Real(group);
        break;
      case 45:
        if (plot) layout.paperHeight = Real(group);
        break;
      case 72:
        if (plot) layout.paperUnits = Int(group, 1);
        break;
      case 73:
        if (plot) layout.rotation = Int(group) & 3;
        break;
      case 74:
        if (plot) layout.plotType = Int(group, 5);
        break;
      case 7:
        if (plot) layout.plotStyleTable = context.Text(group.text);
        break;
      case 142:
        if (plot) layout.scaleNumerator = Real(group, 1.0);
        break;
      case 143:
        if (plot) layout.scaleDenominator = Real(group, 1.0);
        break;
      default:
        if (plot && group.code == 48) layout.windowMin.x = Real(group);
        if (plot && group.code == 49) layout.windowMin.y = Real(group);
        if (plot && group.code == 140) layout.windowMax.x = Real(group);
        if (plot && group.code == 141) layout.windowMax.y = Real(group);
        if (own) {
          SetCoordinate(layout.limitsMin, 10, group) ||
              SetCoordinate(layout.limitsMax, 11, group) ||
              SetCoordinate(layout.extentsMin, 14, group) ||
              SetCoordinate(layout.extentsMax, 15, group);
        }
        break;
    }
  }
  layouts.push_back(std::move(pendingLayout));
}

void CDxfReader::ReadImageDef() {
  std::uint64_t handle = 0;
  ImageDef definition;
  for (const DxfGroup& group : record) {
    switch (group.code) {
      case 5:
        handle = GroupHandle(group);
        break;
      case 1:
        definition.fileName = context.Text(group.text);
        break;
      default:
        SetCoordinate(definition.pixelSize, 10, group);
        break;
    }
  }
  if (handle == 0) return;
  imageDefs[handle] = static_cast<std::int32_t>(drawing.imageDefs.size());
  drawing.imageDefs.push_back(std::move(definition));
}

// ---- Finishing --------------------------------------------------------------------------

void CDxfReader::ResolvePlotStyles() {
  // A named plot style is a placeholder object; the dictionary entry that leads to it gives
  // the style's name. Styles are kept once, by name.
  std::unordered_map<std::uint64_t, std::int32_t> byHandle;
  const auto style = [&](std::uint64_t handle) -> std::int32_t {
    if (auto known = byHandle.find(handle); known != byHandle.end()) return known->second;
    std::int32_t index = -1;
    if (auto name = entryNames.find(handle); name != entryNames.end() && !name->second.empty()) {
      for (std::size_t i = 0; i < drawing.plotStyleNames.size() && index < 0; ++i) {
        if (EqualsIgnoringCase(drawing.plotStyleNames[i], name->second)) {
          index = static_cast<std::int32_t>(i);
        }
      }
      if (index < 0) {
        index = static_cast<std::int32_t>(drawing.plotStyleNames.size());
        drawing.plotStyleNames.push_back(name->second);
      }
    }
    byHandle.emplace(handle, index);
    return index;
  };
  for (const auto& [layer, handle] : layerPlotStyles) {
    drawing.layers[static_cast<std::size_t>(layer)].plotStyle = style(handle);
  }
  for (const EntityRef& ref : plotStyleRefs) {
    const std::int32_t index = style(ref.handle);
    if (index < 0) continue;
    auto& entities = drawing.blocks[static_cast<std::size_t>(ref.block)].entities;
    if (ref.index >= 0 && static_cast<std::size_t>(ref.index) < entities.size()) {
      entities[static_cast<std::size_t>(ref.index)].plotStyle = index;
    }
  }
}

void CDxfReader::Finish() {
  for (auto& [layer, name] : layerLinetypes) {
    drawing.layers[static_cast<std::size_t>(layer)].linetype = context.LinetypeReference(name);
  }
  ResolveImages();
  ResolveStylesAndUnderlays();
  ResolveViewportClips();
  ResolveInsertClips();
  ResolvePlotStyles();
  ResolveLinetypeStyles();
  ResolveMTextColumns();  // before the draw order moves entities away from their handles
  ApplyDrawOrders();
  // Layouts with their blocks; FinishModel orders them.
  drawing.layouts.clear();
  for (PendingLayout& pendingLayout : layouts) {
    pendingLayout.layout.block = BlockOfRecord(pendingLayout.blockRecord);
    drawing.layouts.push_back(std::move(pendingLayout.layout));
  }
  RemoveUndefinedBlocks();
  drawing.skippedTypes.assign(skipped.begin(), skipped.end());
  // Vectors grown by doubling may hold twice what they need. A large one is left as it is: its
  // unused end was never written, so it takes no memory, while shrinking it would copy every
  // entity into a second block of hundreds of megabytes at the very end of reading.
  constexpr std::size_t kLargestShrunk = std::size_t{32} << 20;
  for (Block& block : drawing.blocks) {
    if (block.entities.capacity() > block.entities.size() + block.entities.size() / 8 + 8 &&
        block.entities.capacity() * sizeof(Entity) < kLargestShrunk) {
      block.entities.shrink_to_fit();
    }
  }
  drawing.layers.shrink_to_fit();
  drawing.blocks.shrink_to_fit();
}

void CDxfReader::ResolveImages() {
  for (const EntityRef& ref : imageRefs) {
    auto found = imageDefs.find(ref.handle);
    if (found == imageDefs.end()) continue;
    Entity& entity = drawing.blocks[static_cast<std::size_t>(ref.block)]
                         .entities[static_cast<std::size_t>(ref.index)];
    if (auto* image = std::get_if<Image>(&entity.data)) {
      image->imageDef = found->second;
    }
  }
}

void CDxfReader::ResolveStylesAndUnderlays() {
  const auto at = [this](const EntityRef& ref) -> Entity& {
    return drawing.blocks[static_cast<std::size_t>(ref.block)]
        .entities[static_cast<std::size_t>(ref.index)];
  };
  for (const MLineRef& ref : mlineRefs) {
    auto* mline = std::get_if<MLine>(&at(ref.entity).data);
    if (!mline) continue;
    if (auto found = mlineStyleHandles.find(ref.entity.handle); found != mlineStyleHandles.end()) {
      mline->style = found->second;
      continue;
    }
    for (std::size_t i = 0; i < drawing.mlineStyles.size(); ++i) {
      if (EqualsIgnoringCase(drawing.mlineStyles[i].name, ref.styleName)) {
        mline->style = static_cast<std::int32_t>(i);
        break;
      }
    }
  }
  for (const EntityRef& ref : underlayRefs) {
    auto* underlay = std::get_if<Underlay>(&at(ref).data);
    auto found = underlayFiles.find(ref.handle);
    if (underlay && found != underlayFiles.end()) underlay->fileName = found->second;
  }
}

void CDxfReader::ResolveViewportClips() {
  if (clipRefs.empty()) return;
  std::sort(clipCandidates.begin(), clipCandidates.end(),
            [](const EntityRef& a, const EntityRef& b) { return a.handle < b.handle; });
  for (const EntityRef& ref : clipRefs) {
    auto found = std::lower_bound(
        clipCandidates.begin(), clipCandidates.end(), ref.handle,
        [](const EntityRef& candidate, std::uint64_t handle) { return candidate.handle < handle; });
    if (found == clipCandidates.end() || found->handle != ref.handle || found->block != ref.block) {
      continue;
    }
    Entity& entity = drawing.blocks[static_cast<std::size_t>(ref.block)]
                         .entities[static_cast<std::size_t>(ref.index)];
    if (auto* viewport = std::get_if<Viewport>(&entity.data)) {
      viewport->clipEntityIndex = found->index;
    }
  }
}

void CDxfReader::ResolveLinetypeStyles() {
  for (const LinetypeStyleRef& ref : linetypeStyleRefs) {
    Linetype& linetype = drawing.linetypes[static_cast<std::size_t>(ref.linetype)];
    if (ref.shape >= linetype.shapes.size()) continue;
    LinetypeShape& shape = linetype.shapes[ref.shape];
    if (shape.isText) {
      if (auto found = textStyleHandles.find(ref.handle); found != textStyleHandles.end()) {
        shape.style = found->second;
      }
    } else if (auto found = shapeFileHandles.find(ref.handle); found != shapeFileHandles.end()) {
      shape.shapeFile = found->second;
    }
  }
}

// The text of such a column set is spread over its columns already, each column an MTEXT at its
// own place: the first holds the first column's share, the linked ones the others. Laying the
// first out in columns again would move its share into the other columns, over the text they
// hold; so each entity is one column, wrapped at the column width (the linked ones store the
// width of the whole set).
void CDxfReader::ResolveMTextColumns() {
  // Where each handle of a block is, made for the blocks that hold column sets.
  std::unordered_map<std::int32_t, std::unordered_map<std::uint64_t, std::size_t>> where;
  for (const ColumnSet& set : columnSets) {
    const auto b = static_cast<std::size_t>(set.block);
    std::vector<Entity>& entities = drawing.blocks[b].entities;
    if (set.index < 0 || static_cast<std::size_t>(set.index) >= entities.size()) continue;
    auto* main = std::get_if<MText>(&entities[static_cast<std::size_t>(set.index)].data);
    if (!main || main->columnType == 0) continue;
    const double width = main->columnWidth > 0 ? main->columnWidth : main->referenceWidth;
    const auto single = [width](MText& column) {
      column.columnType = 0;
      column.columnCount = 0;
      column.columnHeights.clear();
      column.referenceWidth = width;
    };
    single(*main);
    if (b >= entityHandles.size()) continue;
    auto [index, made] = where.try_emplace(set.block);
    if (made) {
      const std::vector<std::uint64_t>& handles = entityHandles[b];
      for (std::size_t k = 0; k < handles.size(); ++k) {
        if (handles[k] != 0) index->second.emplace(handles[k], k);
      }
    }
    for (const std::uint64_t handle : set.linked) {
      const auto found = index->second.find(handle);
      if (found == index->second.end() || found->second >= entities.size()) continue;
      if (auto* column = std::get_if<MText>(&entities[found->second].data)) single(*column);
    }
  }
}

void CDxfReader::ApplyDrawOrders() {
  for (const PendingDrawOrder& order : drawOrders) {
    const std::int32_t block = BlockOfRecord(order.blockRecord);
    if (block < 0 || static_cast<std::size_t>(block) >= entityHandles.size()) continue;
    std::vector<std::uint64_t>& handles = entityHandles[static_cast<std::size_t>(block)];
    Block& target = drawing.blocks[static_cast<std::size_t>(block)];
    handles.resize(target.entities.size(), 0);
    ApplyDrawOrder(target, handles, order.entries);
    handles.clear();  // a second table for the same block finds nothing to order
  }
}

std::int32_t CDxfReader::BlockOfRecord(std::uint64_t handle) const {
  if (handle == 0) return -1;
  if (auto owner = blockOfOwner.find(handle); owner != blockOfOwner.end()) return owner->second;
  auto named = context.blockRecordNames.find(handle);
  if (named == context.blockRecordNames.end()) return -1;
  auto block = context.blocks.find(std::string_view(named->second));
  if (block == context.blocks.end()) return -1;
  const std::int32_t index = block->second;
  return (index <= 1 || context.blockDefined[static_cast<std::size_t>(index)]) ? index : -1;
}

// Blocks that entities name but the file never defines are dropped; references to them
// become -1.
void CDxfReader::RemoveUndefinedBlocks() {
  const std::size_t count = drawing.blocks.size();
  std::vector<std::int32_t> remap(count, -1);
  std::int32_t next = 0;
  bool anyDropped = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (i <= 1 || context.blockDefined[i]) {
      remap[i] = next++;
    } else {
      anyDropped = true;
    }
  }
  if (!anyDropped) return;
  auto map = [&remap](std::int32_t& block) {
    if (block >= 0 && static_cast<std::size_t>(block) < remap.size()) {
      block = remap[static_cast<std::size_t>(block)];
    } else {
      block = -1;
    }
  };
  for (Block& block : drawing.blocks) {
    for (Entity& entity : block.entities) {
      if (std::int32_t* referenced = ReferencedBlock(entity)) map(*referenced);
      if (auto* leader = std::get_if<MLeader>(&entity.data)) {
        map(leader->arrowBlock);
        map(leader->block->block);
      }
    }
  }
  for (Layout& layout : drawing.layouts) map(layout.block);
  std::vector<Block> kept;
  kept.reserve(static_cast<std::size_t>(next));
  for (std::size_t i = 0; i < count; ++i) {
    if (remap[i] >= 0) kept.push_back(std::move(drawing.blocks[i]));
  }
  drawing.blocks = std::move(kept);
}

}  // namespace

bool ReadDxf(std::string_view bytes, Drawing& drawing, std::string* error) {
  if (error) error->clear();
  try {
    CDxfReader reader(bytes, drawing);
    return reader.Read(error);
  } catch (const std::bad_alloc&) {
    if (error) *error = "DXF: not enough memory to read the drawing";
  } catch (...) {
    if (error) *error = "DXF: the drawing could not be read";
  }
  drawing = Drawing{};
  return false;
}

}  // namespace drawing
