#include "drawing/dwg/detail/DwgTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/Ascii.h"

namespace drawing::dwg::detail {

namespace {

using objecttype::kBlockControl;
using objecttype::kDimStyleControl;
using objecttype::kLayerControl;
using objecttype::kLinetypeControl;
using objecttype::kStyleControl;
using objecttype::kVportControl;

constexpr std::uint16_t kBlockHeader = 0x31;
constexpr std::uint16_t kLayer = 0x33;
constexpr std::uint16_t kStyle = 0x35;
constexpr std::uint16_t kLinetype = 0x39;
constexpr std::uint16_t kVport = 0x41;
constexpr std::uint16_t kAppId = 0x43;
constexpr std::uint16_t kDimStyle = 0x45;
constexpr std::uint16_t kDictionary = 0x2A;
constexpr std::uint16_t kLayout = 0x52;

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// Names compare without regard to ASCII case, as the DXF reader's tables do.
class CNameIndex {
 public:
  std::int32_t Find(const std::string& name) const {
    const auto found = index.find(ToAsciiLower(name));
    return found != index.end() ? found->second : -1;
  }
  void Add(const std::string& name, std::int32_t value) {
    index.emplace(ToAsciiLower(name), value);
  }

 private:
  std::unordered_map<std::string, std::int32_t> index;
};

// True when the frame's object is of `type` (a fixed type, or a class of that DXF name).
bool IsType(const CDwgReaderContext& context, const CDwgObjectFrame& frame, std::uint16_t fixed,
            std::string_view className = {}) {
  if (frame.type == fixed) return true;
  if (className.empty() || frame.type < objecttype::kFirstClassType) return false;
  const CDwgClass* klass = context.container.FindClass(frame.type);
  return klass && klass->dxfName == className;
}

// Reads the common part of a table record and its name; false when the object is no such
// record or its streams run out.
bool OpenRecord(CDwgReaderContext& context, std::uint64_t handle, std::uint16_t type,
                CDwgObjectFrame& frame, std::string& name, std::uint64_t* xdictionary = nullptr) {
  if (!context.Open(handle, frame)) return false;
  if (frame.type != type) {
    context.Damage("table entry " + std::to_string(handle) + " is a " +
                   context.TypeName(frame.type));
    return false;
  }
  if (!ReadObjectCommon(frame, nullptr, xdictionary)) {
    context.Damage("table entry " + std::to_string(handle) + " ends in its common part");
    return false;
  }
  CBitReader& d = frame.data;
  name = context.Name(frame);
  if (context.version <= Version::R2004) {
    d.ReadB();   // referenced by an external reference
    d.ReadBS();  // external reference index
    d.ReadB();   // depends on an external reference
  } else {
    d.ReadBS();
  }
  ReadHandle(frame);  // the external reference's block
  return !d.Failed() && !frame.handles.Failed();
}

// The entries of a table control object. Counts larger than the handle stream could hold are
// cut to what it holds.
std::vector<std::uint64_t> ReadControl(CDwgReaderContext& context, std::uint64_t handle,
                                       std::uint16_t type, CDwgObjectFrame& frame) {
  std::vector<std::uint64_t> entries;
  if (!context.Open(handle, frame)) return entries;
  if (frame.type != type) {
    context.Damage("table control " + std::to_string(handle) + " is a " +
                   context.TypeName(frame.type));
    return entries;
  }
  CBitReader& d = frame.data;
  if (!ReadObjectCommon(frame)) return entries;
  // The linetype, viewport and dimension style tables count their entries in a short.
  const bool shortCount =
      type == kLinetypeControl || type == kVportControl || type == kDimStyleControl;
  const std::uint32_t count = shortCount ? d.ReadBS() : d.ReadBL();
  if (d.Failed()) return entries;
  const std::uint64_t most = frame.handles.BitsLeft() / 8;
  for (std::uint64_t i = 0; i < count && i < most; ++i) {
    const std::uint64_t entry = ReadHandle(frame);
    if (frame.handles.Failed()) break;
    if (entry != 0) entries.push_back(entry);
  }
  return entries;
}

class CTableReader {
 public:
  explicit CTableReader(CDwgReaderContext& context)
      : context(context), drawing(context.drawing), header(context.header) {}

  void Read(std::vector<CDwgBlockRecord>& records);

 private:
  std::int32_t DefineLayer(const std::string& name);
  std::int32_t DefineLinetype(const std::string& name);
  std::int32_t DefineTextStyle(const std::string& name);

  void ReadLinetypes();
  void ReadLayers();
  void ReadTextStyles();
  void ReadActiveView();
  void ReadDimStyles();
  void ReadBlockRecords(std::vector<CDwgBlockRecord>& records);
  bool ReadBlockRecord(std::uint64_t handle, std::int32_t fixedBlock, CDwgBlockRecord& record);

  // The text style or shape file of each text and shape of a complex linetype, resolved once
  // the styles are read (they come after the linetypes).
  void ResolveLinetypeStyles();

  CDwgReaderContext& context;
  Drawing& drawing;
  const CDwgHeader& header;
  CNameIndex layerNames, linetypeNames, styleNames, blockNames;
  struct LinetypeStyle {
    std::int32_t linetype;
    std::size_t shape;
    std::uint64_t style;
  };
  std::vector<LinetypeStyle> linetypeStyles;
  std::unordered_map<std::uint64_t, std::string> shapeFiles;  // shape styles by handle
};

std::int32_t CTableReader::DefineLayer(const std::string& name) {
  const std::int32_t found = layerNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.layers.size());
  drawing.layers.emplace_back().name = name;
  if (EqualsIgnoringCase(name, "DEFPOINTS")) drawing.layers.back().plottable = false;
  layerNames.Add(name, index);
  return index;
}

std::int32_t CTableReader::DefineLinetype(const std::string& name) {
  const std::int32_t found = linetypeNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.linetypes.size());
  drawing.linetypes.emplace_back().name = name;
  linetypeNames.Add(name, index);
  return index;
}

std::int32_t CTableReader::DefineTextStyle(const std::string& name) {
  const std::int32_t found = styleNames.Find(name);
  if (found >= 0) return found;
  const auto index = static_cast<std::int32_t>(drawing.textStyles.size());
  drawing.textStyles.emplace_back().name = name;
  styleNames.Add(name, index);
  return index;
}

void CTableReader::Read(std::vector<CDwgBlockRecord>& records) {
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
  context.linetypeByLayer = header.linetypeByLayer;
  context.linetypeByBlock = header.linetypeByBlock;
  context.linetypeContinuous = header.linetypeContinuous;
  context.headerDimStyle.scale = header.dimScale;
  context.headerDimStyle.arrowSize = header.dimAsz;
  context.headerDimStyle.textHeight = header.dimTxt;
  context.headerDimStyle.gap = header.dimGap;
  context.headerDimStyle.textStyle = header.dimTextStyle;

  ReadLinetypes();
  ReadLayers();
  ReadTextStyles();
  context.standardStyle = std::max(0, styleNames.Find("Standard"));
  ResolveLinetypeStyles();
  ReadActiveView();
  ReadDimStyles();
  ReadBlockRecords(records);
}

void CTableReader::ReadLinetypes() {
  CDwgObjectFrame frame;
  std::vector<std::uint64_t> entries =
      ReadControl(context, header.linetypeControl, kLinetypeControl, frame);
  // The control also names the ByBlock and ByLayer entries, which the block table lists not.
  for (std::uint64_t special : {header.linetypeByBlock, header.linetypeByLayer}) {
    if (special != 0 && std::find(entries.begin(), entries.end(), special) == entries.end()) {
      entries.insert(entries.begin(), special);
    }
  }
  for (const std::uint64_t handle : entries) {
    // Proxy graphics name linetypes by their place in the table, ByBlock and ByLayer left out.
    const bool special = handle == header.linetypeByBlock || handle == header.linetypeByLayer;
    if (!special) context.linetypeOrder.push_back(-1);
    std::string name;
    if (!OpenRecord(context, handle, kLinetype, frame, name) || name.empty()) continue;
    if (!special && (EqualsIgnoringCase(name, "ByBlock") || EqualsIgnoringCase(name, "ByLayer"))) {
      context.linetypeOrder.pop_back();
    }
    CBitReader& d = frame.data;
    const std::string description = context.Text(frame);
    const double patternLength = d.ReadBD();
    d.ReadRC();  // alignment
    const unsigned count = d.ReadRC();
    std::vector<double> dashes;
    std::vector<LinetypeShape> shapes;
    bool hasText = false;
    for (unsigned i = 0; i < count && !d.Failed(); ++i) {
      dashes.push_back(d.ReadBD());
      LinetypeShape shape;
      shape.dash = i;
      shape.shapeNumber = d.ReadBS();
      shape.offset.x = d.ReadRD();
      shape.offset.y = d.ReadRD();
      shape.scale = d.ReadBD();
      shape.rotation = d.ReadBD() * kDegreesPerRadian;
      const unsigned flags = d.ReadBS();
      shape.isText = (flags & 2) != 0;
      shape.absoluteRotation = (flags & 1) != 0;
      shape.upright = (flags & 8) != 0;
      hasText = hasText || shape.isText;
      // Every dash has a style handle, null for plain dashes.
      const std::uint64_t style = ReadHandle(frame);
      if ((flags & 6) == 0) continue;
      if (shape.isText) shape.style = context.standardStyle;
      linetypeStyles.push_back({0, shapes.size(), style});
      shapes.push_back(std::move(shape));
    }
    // The texts follow one another, each ending in a zero, in an area of fixed size: 256
    // bytes of the drawing's code page until R2004, 512 bytes of UTF-16 (only when a dash has
    // a text) after.
    const bool wide = context.version >= Version::R2007;
    if (!wide || hasText) {
      std::string area;
      for (int i = 0; i < (wide ? 512 : 256) && !d.Failed(); ++i) {
        area.push_back(static_cast<char>(d.ReadRC()));
      }
      std::size_t at = 0;
      for (LinetypeShape& shape : shapes) {
        if (!shape.isText || at >= area.size()) continue;
        if (wide) {
          std::u16string text;
          for (; at + 1 < area.size(); at += 2) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(area[at]) |
                                                    static_cast<unsigned char>(area[at + 1]) << 8);
            if (unit == 0) break;
            text.push_back(unit);
          }
          at += 2;
          shape.text = context.decoder.Decode(Utf16ToUtf8(text));
        } else {
          const std::size_t end = std::min(area.find('\0', at), area.size());
          shape.text = context.decoder.Decode(std::string_view(area).substr(at, end - at));
          at = end + 1;
        }
      }
    }
    if (d.Failed() || frame.handles.Failed()) {
      context.Damage("linetype \"" + name + "\" ends in its dashes");
      linetypeStyles.resize(linetypeStyles.size() - shapes.size());
      continue;
    }
    const std::int32_t index = DefineLinetype(name);
    for (std::size_t k = linetypeStyles.size() - shapes.size(); k < linetypeStyles.size(); ++k) {
      linetypeStyles[k].linetype = index;
    }
    Linetype& linetype = drawing.linetypes[static_cast<std::size_t>(index)];
    linetype.description = description;
    linetype.patternLength = patternLength;
    linetype.dashes = std::move(dashes);
    linetype.shapes = std::move(shapes);
    context.linetypes[handle] = index;
    if (!special && !context.linetypeOrder.empty()) context.linetypeOrder.back() = index;
  }
}

void CTableReader::ReadLayers() {
  context.ReadPlotStyleNames();
  CDwgObjectFrame frame;
  const std::vector<std::uint64_t> entries =
      ReadControl(context, header.layerControl, kLayerControl, frame);
  for (const std::uint64_t handle : entries) {
    context.layerOrder.push_back(-1);  // proxy graphics name layers by their place in the table
    std::string name;
    if (!OpenRecord(context, handle, kLayer, frame, name) || name.empty()) continue;
    CBitReader& d = frame.data;
    bool frozen = false, off = false, locked = false, plottable = true;
    unsigned weight = 31;
    if (context.version >= Version::R2000) {
      const unsigned flags = d.ReadBS();
      frozen = flags & 1;
      off = flags & 2;
      locked = flags & 8;
      plottable = flags & 16;
      weight = (flags >> 5) & 0x1F;
    } else {
      frozen = d.ReadB();
      off = d.ReadB();
      d.ReadB();  // frozen in new viewports
      locked = d.ReadB();
    }
    const CCmColor color = d.ReadCMC(&frame.Strings());
    const std::uint64_t plotStyle =
        context.version >= Version::R2000 ? ReadHandle(frame) : std::uint64_t{0};
    if (context.version >= Version::R2007) ReadHandle(frame);  // material
    const std::uint64_t linetype = ReadHandle(frame);
    if (d.Failed() || frame.handles.Failed()) {
      context.Damage("layer \"" + name + "\" ends early");
      continue;
    }
    const std::int32_t index = DefineLayer(name);
    Layer& layer = drawing.layers[static_cast<std::size_t>(index)];
    layer.color = ColorOfCmc(color, context.version);
    const int magnitude = std::abs(static_cast<int>(layer.color.index));
    layer.off = off || layer.color.index < 0;
    layer.frozen = frozen;
    layer.locked = locked;
    layer.plottable = plottable && !EqualsIgnoringCase(name, "DEFPOINTS");
    layer.color.index =
        static_cast<std::int16_t>(magnitude >= 1 && magnitude <= 255 ? magnitude : 7);
    layer.lineweight = context.version >= Version::R2000
                           ? LineweightFromIndex(weight, kLineweightDefault)
                           : kLineweightDefault;
    if (layer.lineweight == kLineweightByLayer || layer.lineweight == kLineweightByBlock) {
      layer.lineweight = kLineweightDefault;
    }
    // Linetypes are read before the layers, so the layer's reference resolves now.
    layer.linetype = context.LinetypeOf(linetype);
    if (plotStyle != 0) layer.plotStyle = context.PlotStyleOf(plotStyle);
    context.layers[handle] = index;
    context.layerOrder.back() = index;
  }
}

void CTableReader::ReadTextStyles() {
  CDwgObjectFrame frame;
  const std::vector<std::uint64_t> entries =
      ReadControl(context, header.styleControl, kStyleControl, frame);
  for (const std::uint64_t handle : entries) {
    std::string name;
    if (!OpenRecord(context, handle, kStyle, frame, name)) continue;
    CBitReader& d = frame.data;
    const bool shape = d.ReadB();
    d.ReadB();  // vertical
    const double height = d.ReadBD();
    const double width = d.ReadBD();
    const double oblique = d.ReadBD();
    const int generation = d.ReadRC();
    d.ReadBD();  // last height used
    const std::string fontFile = context.Name(frame);
    const std::string bigFontFile = context.Name(frame);
    if (d.Failed() || frame.Strings().Failed()) {
      context.Damage("text style \"" + name + "\" ends early");
      continue;
    }
    if (shape) {
      // Shape files draw no text; complex linetypes name them for their shapes.
      shapeFiles[handle] = fontFile;
      continue;
    }
    if (name.empty()) continue;
    const std::int32_t index = DefineTextStyle(name);
    TextStyle& style = drawing.textStyles[static_cast<std::size_t>(index)];
    style.fontFile = fontFile;
    style.bigFontFile = bigFontFile;
    style.fixedHeight = std::max(0.0, height);
    style.widthFactor = width > 0.0 ? width : 1.0;
    style.obliqueAngle = oblique * kDegreesPerRadian;
    style.generationFlags = generation;
    // The TrueType family name: the first string of the application ACAD's extended data.
    for (const CDwgExtendedData& data : frame.extendedData) {
      if (ApplicationName(context, data.application) != "ACAD") continue;
      for (const CDwgExtendedItem& item : ReadExtendedItems(data.bytes, context.version)) {
        if (item.code == 1000) {
          style.fontFamily = context.NameOf(item.text);
          break;
        }
      }
      break;
    }
    context.textStyles[handle] = index;
  }
}

void CTableReader::ResolveLinetypeStyles() {
  for (const LinetypeStyle& ref : linetypeStyles) {
    LinetypeShape& shape =
        drawing.linetypes[static_cast<std::size_t>(ref.linetype)].shapes[ref.shape];
    if (shape.isText) {
      shape.style = context.TextStyleOf(ref.style);
    } else if (auto found = shapeFiles.find(ref.style); found != shapeFiles.end()) {
      shape.shapeFile = found->second;
    }
  }
}

void CTableReader::ReadActiveView() {
  CDwgObjectFrame frame;
  const std::vector<std::uint64_t> entries =
      ReadControl(context, header.vportControl, kVportControl, frame);
  for (const std::uint64_t handle : entries) {
    std::string name;
    if (!OpenRecord(context, handle, kVport, frame, name)) continue;
    if (!EqualsIgnoringCase(name, "*ACTIVE")) continue;
    CBitReader& d = frame.data;
    ModelView view;
    view.valid = true;
    view.height = d.ReadBD();
    const double width = d.ReadBD();
    const CPoint2 center = d.Read2RD();
    const CPoint3 target = d.Read3BD();
    const CPoint3 direction = d.Read3BD();
    view.twist = d.ReadBD() * kDegreesPerRadian;
    if (d.Failed()) {
      context.Damage("the active view ends early");
      continue;
    }
    view.aspectRatio = view.height != 0.0 ? width / view.height : 1.0;
    if (!std::isfinite(view.aspectRatio)) view.aspectRatio = 1.0;
    view.center = {center.x, center.y};
    view.target = {target.x, target.y, target.z};
    view.direction = {direction.x, direction.y, direction.z};
    drawing.activeView = view;
    return;  // the first *ACTIVE entry is the current view
  }
}

void CTableReader::ReadDimStyles() {
  CDwgObjectFrame frame;
  const std::vector<std::uint64_t> entries =
      ReadControl(context, header.dimStyleControl, kDimStyleControl, frame);
  for (const std::uint64_t handle : entries) {
    std::string name;
    if (!OpenRecord(context, handle, kDimStyle, frame, name)) continue;
    CBitReader& d = frame.data;
    CDwgDimStyle style;
    // The first handle after the record's own is the text style.
    style.textStyle = ReadHandle(frame);
    if (frame.handles.Failed()) style.textStyle = 0;
    if (context.version >= Version::R2000) {
      context.Text(frame);  // DIMPOST
      context.Text(frame);  // DIMAPOST
    } else {
      for (int i = 0; i < 11; ++i) d.ReadB();  // DIMTOL … DIMSOXD
      d.ReadRC();                              // DIMALTD
      d.ReadRC();                              // DIMZIN
      d.ReadB();                               // DIMSD1
      d.ReadB();                               // DIMSD2
      for (int i = 0; i < 3; ++i) d.ReadRC();  // DIMTOLJ, DIMJUST, DIMFIT
      d.ReadB();                               // DIMUPT
      for (int i = 0; i < 4; ++i) d.ReadRC();  // DIMTZIN, DIMALTZ, DIMALTTZ, DIMTAD
      for (int i = 0; i < 6; ++i) d.ReadBS();  // DIMUNIT … DIMALTTD
    }
    style.scale = d.ReadBD();
    style.arrowSize = d.ReadBD();
    for (int i = 0; i < 7; ++i) d.ReadBD();  // DIMEXO, DIMDLI, DIMEXE, DIMRND, DIMDLE, DIMTP, DIMTM
    if (context.version >= Version::R2007) {
      d.ReadBD();                   // DIMFXL
      d.ReadBD();                   // DIMJOGANG
      d.ReadBS();                   // DIMTFILL
      d.ReadCMC(&frame.Strings());  // DIMTFILLCLR
    }
    if (context.version >= Version::R2000) {
      for (int i = 0; i < 6; ++i) d.ReadB();   // DIMTOL, DIMLIM, DIMTIH, DIMTOH, DIMSE1, DIMSE2
      for (int i = 0; i < 3; ++i) d.ReadBS();  // DIMTAD, DIMZIN, DIMAZIN
    }
    if (context.version >= Version::R2007) d.ReadBS();  // DIMARCSYM
    style.textHeight = d.ReadBD();
    for (int i = 0; i < 6; ++i) d.ReadBD();  // DIMCEN, DIMTSZ, DIMALTF, DIMLFAC, DIMTVP, DIMTFAC
    style.gap = d.ReadBD();
    if (d.Failed() || frame.Strings().Failed()) {
      context.Damage("dimension style \"" + name + "\" ends early");
      continue;
    }
    context.dimStyles[handle] = style;
  }
}

void CTableReader::ReadBlockRecords(std::vector<CDwgBlockRecord>& records) {
  records.clear();
  records.resize(2);
  CDwgObjectFrame frame;
  std::vector<std::uint64_t> entries =
      ReadControl(context, header.blockControl, kBlockControl, frame);
  const std::uint64_t model = header.blockRecordModelSpace;
  const std::uint64_t paper = header.blockRecordPaperSpace;
  if (!ReadBlockRecord(model, 0, records[0])) records[0] = CDwgBlockRecord{};
  if (!ReadBlockRecord(paper, 1, records[1])) records[1] = CDwgBlockRecord{};
  records[0].block = 0;
  records[1].block = 1;
  std::unordered_set<std::uint64_t> seen{model, paper};
  for (const std::uint64_t handle : entries) {
    if (!seen.insert(handle).second) continue;
    CDwgBlockRecord record;
    if (ReadBlockRecord(handle, -1, record)) records.push_back(std::move(record));
  }
}

bool CTableReader::ReadBlockRecord(std::uint64_t handle, std::int32_t fixedBlock,
                                   CDwgBlockRecord& record) {
  CDwgObjectFrame frame;
  std::string name;
  std::uint64_t xdictionary = 0;
  if (!OpenRecord(context, handle, kBlockHeader, frame, name, &xdictionary)) return false;
  CBitReader& d = frame.data;
  const Version v = context.version;
  const bool anonymous = d.ReadB();
  d.ReadB();  // has attribute definitions
  const bool xref = d.ReadB();
  const bool overlay = d.ReadB();
  if (v >= Version::R2000) d.ReadB();  // external reference loaded
  std::uint32_t owned = 0;
  if (v >= Version::R2004 && !xref && !overlay) owned = d.ReadBL();
  const CPoint3 base = d.Read3BD();
  context.Text(frame);  // external reference path
  std::uint64_t inserts = 0;
  if (v >= Version::R2000) {
    // One non-zero byte per block reference, then a zero.
    while (!d.Failed() && d.ReadRC() != 0) ++inserts;
    context.Text(frame);  // description
    const std::uint32_t preview = d.ReadBL();
    d.SkipBytes(preview);
  }
  if (v >= Version::R2007) {
    d.ReadBS();  // insert units
    d.ReadB();   // explodable
    d.ReadRC();  // scaling
  }
  const std::uint64_t blockEntity = ReadHandle(frame);
  if (v <= Version::R2000 && !xref && !overlay) {
    record.firstEntity = ReadHandle(frame);
    record.lastEntity = ReadHandle(frame);
  }
  if (v >= Version::R2004) {
    if (owned > frame.handles.BitsLeft() / 8) {
      context.Damage("block \"" + name + "\" claims more entities than it can list");
      owned = static_cast<std::uint32_t>(frame.handles.BitsLeft() / 8);
    }
    record.entities.reserve(owned);
    for (std::uint32_t i = 0; i < owned && !frame.handles.Failed(); ++i) {
      record.entities.push_back(ReadHandle(frame));
    }
  }
  if (d.Failed() || frame.handles.Failed() || name.empty()) {
    context.Damage("block record " + std::to_string(handle) + " ends early");
    return false;
  }
  // The record names anonymous blocks and the sheets of paper layouts by their kind ("*D",
  // "*Paper_Space"); their BLOCK entity has the whole name ("*D3", "*Paper_Space0").
  CDwgObjectFrame blockFrame;
  CDwgEntityCommon common;
  if (context.Open(blockEntity, blockFrame, false) && blockFrame.type == 0x04 &&
      ReadEntityCommon(blockFrame, common)) {
    const std::string entityName = context.Name(blockFrame);
    if (!blockFrame.Strings().Failed() && entityName.size() > name.size() &&
        EqualsIgnoringCase(std::string_view(entityName).substr(0, name.size()), name)) {
      name = entityName;
    }
  }
  record.handle = handle;
  record.xdictionary = xdictionary;
  std::int32_t index = fixedBlock;
  if (index < 0) {
    if (blockNames.Find(name) >= 0 && anonymous && name.size() > 1 && name[0] == '*') {
      // An anonymous block named by its kind alone ("*U") is given a number of its own.
      const std::string kind = name;
      for (int number = 1; blockNames.Find(name) >= 0; ++number) {
        name = kind + std::to_string(number);
      }
    }
    if (blockNames.Find(name) >= 0) {
      context.Damage("block \"" + name + "\" is defined twice; the repeat is left out");
      return false;
    }
    index = static_cast<std::int32_t>(drawing.blocks.size());
    drawing.blocks.emplace_back().name = name;
    blockNames.Add(name, index);
  }
  record.block = index;
  Block& block = drawing.blocks[static_cast<std::size_t>(index)];
  block.base = {base.x, base.y, base.z};
  block.isAnonymous = anonymous;
  block.isXref = xref || overlay;
  context.blocks[handle] = index;
  return true;
}

// LAYOUT: the plot settings part, then the layout's own.
bool ReadLayout(CDwgReaderContext& context, std::uint64_t handle, Layout& layout) {
  CDwgObjectFrame frame;
  if (!context.Open(handle, frame)) return false;
  if (!IsType(context, frame, kLayout, "LAYOUT")) {
    context.Damage("layout " + std::to_string(handle) + " is a " + context.TypeName(frame.type));
    return false;
  }
  if (!ReadObjectCommon(frame)) return false;
  CBitReader& d = frame.data;
  const Version v = context.version;
  context.Text(frame);  // printer or configuration file
  context.Text(frame);  // paper size name
  d.ReadBS();           // plot flags
  layout.marginLeft = d.ReadBD();
  layout.marginBottom = d.ReadBD();
  layout.marginRight = d.ReadBD();
  layout.marginTop = d.ReadBD();
  layout.paperWidth = d.ReadBD();
  layout.paperHeight = d.ReadBD();
  context.Text(frame);  // canonical media name
  d.Read2BD();          // plot origin
  layout.paperUnits = d.ReadBS();
  layout.rotation = d.ReadBS() & 3;
  layout.plotType = d.ReadBS();
  const CPoint2 windowMin = d.Read2BD();
  const CPoint2 windowMax = d.Read2BD();
  layout.windowMin = {windowMin.x, windowMin.y};
  layout.windowMax = {windowMax.x, windowMax.y};
  if (v <= Version::R2000) context.Text(frame);  // plot view name
  layout.scaleNumerator = d.ReadBD();
  layout.scaleDenominator = d.ReadBD();
  layout.plotStyleTable = context.Text(frame);
  d.ReadBS();   // standard scale type
  d.ReadBD();   // standard scale factor
  d.Read2BD();  // paper image origin
  if (v >= Version::R2004) {
    d.ReadBS();  // shade plot mode, resolution level and dots per inch
    d.ReadBS();
    d.ReadBS();
  }
  layout.name = context.Name(frame);
  layout.tabOrder = d.ReadBS();
  d.ReadBS();   // layout flags
  d.Read3BD();  // insertion base
  const CPoint2 limitsMin = d.Read2RD();
  const CPoint2 limitsMax = d.Read2RD();
  d.Read3BD();  // UCS origin, x and y axes
  d.Read3BD();
  d.Read3BD();
  d.ReadBD();  // elevation
  d.ReadBS();  // orthographic view type
  const CPoint3 extentsMin = d.Read3BD();
  const CPoint3 extentsMax = d.Read3BD();
  layout.limitsMin = {limitsMin.x, limitsMin.y};
  layout.limitsMax = {limitsMax.x, limitsMax.y};
  layout.extentsMin = {extentsMin.x, extentsMin.y, extentsMin.z};
  layout.extentsMax = {extentsMax.x, extentsMax.y, extentsMax.z};
  if (v >= Version::R2004) ReadHandle(frame);  // plot view
  if (v >= Version::R2007) ReadHandle(frame);  // shade plot visual style
  const std::uint64_t blockRecord = ReadHandle(frame);
  if (d.Failed() || frame.Strings().Failed() || frame.handles.Failed()) {
    context.Damage("layout " + std::to_string(handle) + " ends early");
    return false;
  }
  layout.block = context.BlockOf(blockRecord);
  return true;
}

bool ReadImageDef(CDwgReaderContext& context, std::uint64_t handle, ImageDef& definition) {
  CDwgObjectFrame frame;
  if (!context.Open(handle, frame)) return false;
  if (!IsType(context, frame, 0xFFFF, "IMAGEDEF") || !ReadObjectCommon(frame)) return false;
  CBitReader& d = frame.data;
  d.ReadBL();  // class version
  const CPoint2 size = d.Read2RD();
  definition.fileName = context.Text(frame);
  if (d.Failed() || frame.Strings().Failed()) {
    context.Damage("image definition " + std::to_string(handle) + " ends early");
    return false;
  }
  definition.pixelSize = {size.x, size.y};
  return true;
}

// MLINESTYLE: name, description, flags, fill colour, start and end angles, then per element
// its offset, colour and linetype (an index before R2018: 32767 ByLayer, 32766 ByBlock, else
// the linetype table's entry; a handle from R2018 on).
bool ReadMLineStyle(CDwgReaderContext& context, std::uint64_t handle, MLineStyle& style) {
  CDwgObjectFrame frame;
  if (!context.Open(handle, frame)) return false;
  if (!IsType(context, frame, 0x49, "MLINESTYLE") || !ReadObjectCommon(frame)) return false;
  CBitReader& d = frame.data;
  style.name = context.Name(frame);
  context.Text(frame);  // description
  style.flags = d.ReadBS();
  style.fillColor = ColorOfCmc(d.ReadCMC(&frame.Strings()), context.version);
  d.ReadBD();  // start angle
  d.ReadBD();  // end angle
  const unsigned count = d.ReadRC();
  for (unsigned i = 0; i < count && !d.Failed(); ++i) {
    MLineStyleElement& element = style.elements.emplace_back();
    element.offset = d.ReadBD();
    element.color = ColorOfCmc(d.ReadCMC(&frame.Strings()), context.version);
    if (context.version < Version::R2018) {
      const unsigned index = d.ReadBS();
      if (index == 32767) {
        element.linetype = kLinetypeByLayer;
      } else if (index == 32766) {
        element.linetype = kLinetypeByBlock;
      } else if (index < context.linetypeOrder.size() && context.linetypeOrder[index] >= 0) {
        element.linetype = context.linetypeOrder[index];
      } else {
        element.linetype = kLinetypeContinuous;
      }
    }
  }
  if (context.version >= Version::R2018) {
    for (MLineStyleElement& element : style.elements) {
      element.linetype = context.LinetypeOf(ReadHandle(frame));
    }
  }
  if (d.Failed() || frame.Strings().Failed() || frame.handles.Failed()) {
    context.Damage("mline style " + std::to_string(handle) + " ends early");
    return false;
  }
  for (MLineStyleElement& element : style.elements) {
    if (element.color.index > 257) element.color.index = Color::kByLayer;
  }
  return true;
}

}  // namespace

void CDwgReaderContext::ReadPlotStyleNames() {
  if (version < Version::R2000 || header.dictionaryPlotStyleName == 0) return;
  for (auto& [name, item] : ReadDictionary(*this, header.dictionaryPlotStyleName)) {
    plotStyleEntries.emplace(item, std::move(name));
  }
}

std::int32_t CDwgReaderContext::PlotStyleOf(std::uint64_t handle) const {
  const auto found = plotStyleEntries.find(handle);
  if (found == plotStyleEntries.end() || found->second.empty()) return -1;
  std::vector<std::string>& names = drawing.plotStyleNames;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoringCase(names[i], found->second)) return static_cast<std::int32_t>(i);
  }
  names.push_back(found->second);
  return static_cast<std::int32_t>(names.size() - 1);
}

std::int32_t CDwgReaderContext::MLineStyleOf(std::uint64_t handle) {
  const auto found = mlineStyles.find(handle);
  if (found != mlineStyles.end()) return found->second;
  MLineStyle style;
  std::int32_t index = -1;
  if (handle != 0 && ReadMLineStyle(*this, handle, style)) {
    index = static_cast<std::int32_t>(drawing.mlineStyles.size());
    drawing.mlineStyles.push_back(std::move(style));
  }
  mlineStyles.emplace(handle, index);
  return index;
}

std::string CDwgReaderContext::UnderlayFileOf(std::uint64_t handle) {
  const auto found = underlayFiles.find(handle);
  if (found != underlayFiles.end()) return found->second;
  std::string file;
  CDwgObjectFrame frame;
  if (handle != 0 && Open(handle, frame) &&
      (IsType(*this, frame, 0xFFFF, "PDFDEFINITION") ||
       IsType(*this, frame, 0xFFFF, "DWFDEFINITION") ||
       IsType(*this, frame, 0xFFFF, "DGNDEFINITION")) &&
      ReadObjectCommon(frame)) {
    file = Text(frame);
    if (frame.Strings().Failed()) file.clear();
  }
  underlayFiles.emplace(handle, file);
  return file;
}

std::vector<std::pair<std::string, std::uint64_t>> ReadDictionary(CDwgReaderContext& context,
                                                                  std::uint64_t handle) {
  std::vector<std::pair<std::string, std::uint64_t>> items;
  CDwgObjectFrame frame;
  if (!context.Open(handle, frame)) return items;
  if (!IsType(context, frame, kDictionary, "DICTIONARY") &&
      !IsType(context, frame, 0xFFFF, "ACDBDICTIONARYWDFLT")) {
    context.Damage("dictionary " + std::to_string(handle) + " is a " +
                   context.TypeName(frame.type));
    return items;
  }
  if (!ReadObjectCommon(frame)) return items;
  CBitReader& d = frame.data;
  const std::uint32_t count = d.ReadBL();
  if (context.version >= Version::R2000) d.ReadBS();  // cloning
  if (context.version > Version::R13 || context.container.maintenanceRelease > 4) {
    d.ReadRC();  // hard owner
  }
  if (d.Failed() || count > frame.handles.BitsLeft() / 8) {
    context.Damage("dictionary " + std::to_string(handle) + " is damaged");
    return items;
  }
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < count; ++i)
    names.push_back(context.NameOf(frame.Strings().ReadText()));
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t item = ReadHandle(frame);
    if (frame.handles.Failed() || frame.Strings().Failed()) break;
    items.emplace_back(std::move(names[i]), item);
  }
  return items;
}

std::vector<Vec2> ReadSpatialClip(CDwgReaderContext& context, std::uint64_t extensionDictionary) {
  const auto entry = [&context](std::uint64_t dictionary, std::string_view name) {
    std::uint64_t found = 0;
    if (dictionary == 0) return found;
    for (const auto& [key, handle] : ReadDictionary(context, dictionary)) {
      if (key == name) found = handle;
    }
    return found;
  };
  std::vector<Vec2> boundary;
  const std::uint64_t filter = entry(entry(extensionDictionary, "ACAD_FILTER"), "SPATIAL");
  CDwgObjectFrame frame;
  if (filter == 0 || !context.Open(filter, frame)) return boundary;
  if (!IsType(context, frame, 0xFFFF, "SPATIAL_FILTER") || !ReadObjectCommon(frame)) {
    return boundary;
  }
  CBitReader& d = frame.data;
  const unsigned count = d.ReadBS();
  if (d.Failed() || count < 2 || count > d.BitsLeft() / 128) return boundary;
  std::vector<CPoint2> points(count);
  for (CPoint2& point : points) point = d.Read2RD();
  const CPoint3 normal = d.Read3BD();
  const CPoint3 origin = d.Read3BD();
  d.ReadBS();                  // boundary shown
  if (d.ReadBS()) d.ReadBD();  // front clipping plane: not a clip of the plan
  if (d.ReadBS()) d.ReadBD();  // back clipping plane
  double inverse[12];
  for (double& value : inverse) value = d.ReadBD();
  if (d.Failed()) {
    context.Damage("spatial filter " + std::to_string(filter) + " ends early");
    return boundary;
  }
  // The boundary lies in the clip's plane, in the coordinates the reference was drawn in when
  // it was clipped; the inverse of its transformation then takes it into the block's own.
  Vec3 n{normal.x, normal.y, normal.z};
  const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  n = length > 1e-12 ? Vec3{n.x / length, n.y / length, n.z / length} : Vec3{0, 0, 1};
  // The plane's axes by the arbitrary axis rule of object coordinate systems.
  Vec3 ax = std::fabs(n.x) < 1.0 / 64 && std::fabs(n.y) < 1.0 / 64 ? Vec3{n.z, 0, -n.x}
                                                                   : Vec3{-n.y, n.x, 0};
  const double axLength = std::sqrt(ax.x * ax.x + ax.y * ax.y + ax.z * ax.z);
  ax = {ax.x / axLength, ax.y / axLength, ax.z / axLength};
  const Vec3 ay{n.y * ax.z - n.z * ax.y, n.z * ax.x - n.x * ax.z, n.x * ax.y - n.y * ax.x};
  for (const CPoint2& p : points) {
    const double x = origin.x + p.x * ax.x + p.y * ay.x;
    const double y = origin.y + p.x * ax.y + p.y * ay.y;
    const double z = origin.z + p.x * ax.z + p.y * ay.z;
    const Vec2 block{inverse[0] * x + inverse[1] * y + inverse[2] * z + inverse[3],
                     inverse[4] * x + inverse[5] * y + inverse[6] * z + inverse[7]};
    if (!std::isfinite(block.x) || !std::isfinite(block.y)) return {};
    boundary.push_back(block);
  }
  return boundary;
}

std::vector<DrawOrderEntry> ReadDrawOrder(CDwgReaderContext& context,
                                          const CDwgBlockRecord& record) {
  std::vector<DrawOrderEntry> entries;
  if (record.xdictionary == 0 || context.version < Version::R13) return entries;
  std::uint64_t table = 0;
  for (const auto& [name, item] : ReadDictionary(context, record.xdictionary)) {
    if (EqualsIgnoringCase(name, "ACAD_SORTENTS")) table = item;
  }
  CDwgObjectFrame frame;
  if (table == 0 || !context.Open(table, frame)) return entries;
  if (!IsType(context, frame, 0xFFFF, "SORTENTSTABLE") || !ReadObjectCommon(frame)) {
    context.Damage("draw order table " + std::to_string(table) + " cannot be read");
    return entries;
  }
  // The sort handles stand in the data stream, the block and the entities in the handles.
  CBitReader& d = frame.data;
  const std::uint32_t count = d.ReadBL();
  if (d.Failed() || count > d.BitsLeft() / 8 || count > frame.handles.BitsLeft() / 8) {
    context.Damage("draw order table " + std::to_string(table) + " is damaged");
    return entries;
  }
  std::vector<std::uint64_t> keys(count);
  for (std::uint64_t& key : keys) key = d.ReadH().value;
  const std::uint64_t block = ReadHandle(frame);
  if (d.Failed() || frame.handles.Failed() || block != record.handle) {
    context.Damage("draw order table " + std::to_string(table) + " is damaged");
    return entries;
  }
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entity = ReadHandle(frame);
    if (frame.handles.Failed()) break;
    if (entity != 0) entries.push_back({entity, keys[i]});
  }
  return entries;
}

const std::string& ApplicationName(CDwgReaderContext& context, std::uint64_t handle) {
  auto found = context.applications.find(handle);
  if (found != context.applications.end()) return found->second;
  std::string name;
  CDwgObjectFrame frame;
  if (OpenRecord(context, handle, kAppId, frame, name)) {
    return context.applications.emplace(handle, name).first->second;
  }
  return context.applications.emplace(handle, std::string()).first->second;
}

void ReadTables(CDwgReaderContext& context, std::vector<CDwgBlockRecord>& records) {
  CTableReader reader(context);
  reader.Read(records);
}

void ReadLayoutsAndImages(CDwgReaderContext& context) {
  const CDwgHeader& header = context.header;
  std::uint64_t layoutDictionary = header.dictionaryLayout;
  std::uint64_t imageDictionary = 0;
  for (const auto& [name, handle] : ReadDictionary(context, header.dictionaryNamedObject)) {
    if (name == "ACAD_LAYOUT" && layoutDictionary == 0) layoutDictionary = handle;
    if (name == "ACAD_IMAGE_DICT") imageDictionary = handle;
  }
  if (layoutDictionary != 0) {
    for (const auto& [name, handle] : ReadDictionary(context, layoutDictionary)) {
      Layout layout;
      if (ReadLayout(context, handle, layout)) context.drawing.layouts.push_back(std::move(layout));
    }
  }
  if (imageDictionary != 0) {
    for (const auto& [name, handle] : ReadDictionary(context, imageDictionary)) {
      context.ImageDefOf(handle);
    }
  }
}

std::int32_t CDwgReaderContext::ImageDefOf(std::uint64_t handle) {
  const auto found = imageDefs.find(handle);
  if (found != imageDefs.end()) return found->second;
  ImageDef definition;
  std::int32_t index = -1;
  if (ReadImageDef(*this, handle, definition)) {
    index = static_cast<std::int32_t>(drawing.imageDefs.size());
    drawing.imageDefs.push_back(std::move(definition));
  }
  imageDefs.emplace(handle, index);
  return index;
}

}  // namespace drawing::dwg::detail
