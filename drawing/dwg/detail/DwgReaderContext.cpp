#include "drawing/dwg/detail/DwgReaderContext.h"

#include <cmath>
#include <cstring>
#include <unordered_set>

#include "platform/ColorPalette.h"

namespace drawing::dwg::detail {

namespace {

// Reactor counts beyond this are damage: no object has thousands of persistent reactors, and
// reading them would only walk the handle stream.
constexpr std::uint32_t kMostReactors = 1u << 16;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Skips `count` handle references; false when the stream runs out.
bool SkipHandles(CBitReader& handles, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count && !handles.Failed(); ++i) handles.ReadH();
  return !handles.Failed();
}

}  // namespace

std::string CodePageName(std::uint16_t number) {
  // The numbering of the file header's code page field.
  static constexpr std::string_view kNames[] = {
      "",          "US_ASCII",  "ISO8859-1", "ISO8859-2", "ISO8859-3", "ISO8859-4", "ISO8859-5",
      "ISO8859-6", "ISO8859-7", "ISO8859-8", "ISO8859-9", "DOS437",    "DOS850",    "DOS852",
      "DOS855",    "DOS857",    "DOS860",    "DOS861",    "DOS863",    "DOS864",    "DOS865",
      "DOS869",    "DOS932",    "MACINTOSH", "BIG5",      "KSC5601",   "JOHAB",     "DOS866",
      "ANSI_1250", "ANSI_1251", "ANSI_1252", "GB2312",    "ANSI_1253", "ANSI_1254", "ANSI_1255",
      "ANSI_1256", "ANSI_1257", "ANSI_874",  "ANSI_932",  "ANSI_936",  "ANSI_949",  "ANSI_950",
      "ANSI_1361", "",          "ANSI_1258"};
  if (number >= std::size(kNames)) return {};
  return std::string(kNames[number]);
}

std::int16_t LineweightFromIndex(unsigned index, std::int16_t undefined) {
  static constexpr std::int16_t kWeights[] = {0,  5,   9,   13,  15,  18,  20,  25,
                                              30, 35,  40,  50,  53,  60,  70,  80,
                                              90, 100, 106, 120, 140, 158, 200, 211};
  if (index < std::size(kWeights)) return kWeights[index];
  if (index == 29) return kLineweightByLayer;
  if (index == 30) return kLineweightByBlock;
  if (index == 31) return kLineweightDefault;
  return undefined;
}

Color ModelColor(int index, bool trueColor, std::uint32_t rgb) {
  Color color;
  color.index = static_cast<std::int16_t>(index >= 0 && index <= 256 ? index : Color::kByLayer);
  if (trueColor) {
    color.hasTrueColor = true;
    color.rgb = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    if (color.index == 0 || color.index == 256) color.index = 257;
  }
  return color;
}

Color ColorOfCmc(const CCmColor& cmc, Version version) {
  Color color;
  if (version < Version::R2004) {
    color.index = cmc.index;
    return color;
  }
  switch (cmc.Method()) {
    case 0xC0:
      color.index = Color::kByLayer;
      break;
    case 0xC1:
      color.index = Color::kByBlock;
      break;
    case 0xC2: {
      const std::uint32_t rgb = cmc.rgb;
      color.hasTrueColor = true;
      color.rgb = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
      color.index = static_cast<std::int16_t>(
          NearestColorIndex(static_cast<std::uint8_t>(rgb >> 16),
                            static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb)));
      break;
    }
    case 0xC3:
      color.index = static_cast<std::int16_t>(cmc.rgb & 0xFF);
      break;
    default:
      color.index = cmc.index;
      break;
  }
  return color;
}

std::uint64_t ReadHandle(CDwgObjectFrame& frame) {
  const CHandleRef reference = frame.handles.ReadH();
  return frame.handles.Failed() ? 0 : reference.Absolute(frame.handle);
}

bool ReadEntityCommon(CDwgObjectFrame& frame, CDwgEntityCommon& out) {
  CBitReader& d = frame.data;
  const Version v = d.GetVersion();
  out.entMode = d.ReadBB();
  const std::uint32_t reactors = d.ReadBL();
  bool noXDictionary = false;
  bool byLayerLinetype = false;
  if (v <= Version::R14) byLayerLinetype = d.ReadB();
  if (v >= Version::R2004) noXDictionary = d.ReadB();
  if (v <= Version::R2000) out.noLinks = d.ReadB();
  if (v >= Version::R2013) d.ReadB();  // has data-store data
  out.color = d.ReadENC();
  out.linetypeScale = d.ReadBD();
  std::uint8_t plotStyleFlags = 0, materialFlags = 0, shadowFlags = 0;
  bool fullStyle = false, faceStyle = false, edgeStyle = false;
  if (v >= Version::R2000) {
    out.linetypeFlags = d.ReadBB();
    plotStyleFlags = d.ReadBB();
  } else {
    out.linetypeFlags = byLayerLinetype ? 0 : 3;
  }
  if (v >= Version::R2007) {
    materialFlags = d.ReadBB();
    shadowFlags = d.ReadRC();
  }
  if (v >= Version::R2010) {
    fullStyle = d.ReadB();
    faceStyle = d.ReadB();
    edgeStyle = d.ReadB();
  }
  out.invisible = d.ReadBS();
  if (v >= Version::R2000) out.lineweight = d.ReadRC();
  if (d.Failed() || reactors > kMostReactors) return false;

  // The handles, in the order the stream keeps them.
  if (out.entMode == 0) out.owner = ReadHandle(frame);
  if (!SkipHandles(frame.handles, reactors)) return false;
  if (!noXDictionary) out.xDictionary = ReadHandle(frame);
  if (v <= Version::R14) {
    out.layer = ReadHandle(frame);
    if (out.linetypeFlags == 3) out.linetype = ReadHandle(frame);
  }
  if (v <= Version::R2000) {
    if (out.noLinks) {
      out.previous = frame.handle - 1;
      out.next = frame.handle + 1;
    } else {
      out.previous = ReadHandle(frame);
      out.next = ReadHandle(frame);
    }
  }
  if (v >= Version::R2004 && (out.color.flags & CEntityColor::kColorHandle)) {
    out.colorHandle = ReadHandle(frame);
  }
  if (v >= Version::R2000) {
    out.layer = ReadHandle(frame);
    if (out.linetypeFlags == 3) out.linetype = ReadHandle(frame);
  }
  if (v >= Version::R2007 && materialFlags == 3) ReadHandle(frame);
  if (v >= Version::R2007 && shadowFlags == 3) ReadHandle(frame);
  if (v >= Version::R2000 && plotStyleFlags == 3) out.plotStyle = ReadHandle(frame);
  if (fullStyle) ReadHandle(frame);
  if (faceStyle) ReadHandle(frame);
  if (edgeStyle) ReadHandle(frame);
  return !frame.handles.Failed();
}

bool ReadObjectCommon(CDwgObjectFrame& frame, std::uint64_t* owner, std::uint64_t* xdictionary) {
  CBitReader& d = frame.data;
  const Version v = d.GetVersion();
  const std::uint32_t reactors = d.ReadBL();
  bool noXDictionary = false;
  if (v >= Version::R2004) noXDictionary = d.ReadB();
  if (v >= Version::R2013) d.ReadB();  // has data-store data
  if (d.Failed() || reactors > kMostReactors) return false;
  const std::uint64_t ownerHandle = ReadHandle(frame);
  if (owner) *owner = ownerHandle;
  if (!SkipHandles(frame.handles, reactors)) return false;
  const std::uint64_t dictionary = noXDictionary ? 0 : ReadHandle(frame);
  if (xdictionary) *xdictionary = dictionary;
  return !frame.handles.Failed();
}

std::vector<CDwgExtendedItem> ReadExtendedItems(std::string_view bytes, Version version) {
  std::vector<CDwgExtendedItem> items;
  CBitReader r(bytes, version);
  while (r.BitsLeft() >= 8) {
    CDwgExtendedItem item;
    const int code = r.ReadRC();
    item.code = 1000 + code;
    switch (code) {
      case 0:
        if (version >= Version::R2007) {
          const std::size_t length = r.ReadRS();
          std::u16string wide;
          if (length > r.BitsLeft() / 16) return items;
          for (std::size_t i = 0; i < length; ++i) wide += static_cast<char16_t>(r.ReadRS());
          item.text = Utf16ToUtf8(wide);
        } else {
          const std::size_t length = r.ReadRC();
          r.ReadRS();  // code page
          item.text = r.ReadBytes(length);
        }
        break;
      case 2:
        item.text.assign(1, r.ReadRC() == 0 ? '{' : '}');
        break;
      case 3:
      case 5:
        for (int i = 0; i < 8; ++i) item.integer = item.integer << 8 | r.ReadRC();
        break;
      case 4:
        item.text = r.ReadBytes(r.ReadRC());
        break;
      case 10:
      case 11:
      case 12:
      case 13:
        for (double& value : item.reals) value = r.ReadRD();
        break;
      case 40:
      case 41:
      case 42:
        item.reals[0] = r.ReadRD();
        break;
      case 70:
        item.integer = static_cast<std::int16_t>(r.ReadRS());
        break;
      case 71:
        item.integer = static_cast<std::int32_t>(r.ReadRL());
        break;
      default:
        return items;
    }
    if (r.Failed()) return items;
    items.push_back(std::move(item));
  }
  return items;
}

CDwgReaderContext::CDwgReaderContext(const CDwgContainer& container, const CDwgHeader& header,
                                     Drawing& drawing)
    : container(container), header(header), drawing(drawing), version(container.version) {}

bool CDwgReaderContext::Open(std::uint64_t handle, CDwgObjectFrame& frame, bool required) {
  std::uint64_t offset = 0;
  if (handle == 0 || !container.FindObject(handle, offset)) {
    if (required && handle != 0) {
      Damage("handle " + std::to_string(handle) + " names no object");
    }
    return false;
  }
  std::string why;
  if (!ReadObjectFrame(container, offset, frame, &why, false, false)) {
    if (required) Damage(why);
    return false;
  }
  // Text styles (the TrueType family), leaders and feature control frames (dimension style
  // overrides), MTEXT (columns before R2018) and R13/R14 viewports (their view) keep what the
  // model needs in their extended data; other objects' is not copied.
  const bool usesExtendedData = frame.type == 0x35 || frame.type == 0x2D || frame.type == 0x2E ||
                                frame.type == 0x2C ||
                                (frame.type == 0x22 && version <= Version::R14);
  if (usesExtendedData && frame.extendedDataCount > 0) {
    return ReadObjectFrame(container, offset, frame, &why, true, false);
  }
  return true;
}

std::string CDwgReaderContext::TypeName(std::uint16_t type) const {
  return ObjectTypeName(container, type);
}

std::string CDwgReaderContext::Text(CDwgObjectFrame& frame, bool mtext) {
  const std::string raw = frame.Strings().ReadText();
  if (raw.empty()) return raw;
  return decoder.Decode(raw, mtext);
}

std::string CDwgReaderContext::NameOf(const std::string& raw) {
  const std::string_view trimmed = TrimBlanks(raw);
  if (CTextDecoder::IsPlain(trimmed)) return std::string(trimmed);
  return std::string(TrimBlanks(decoder.Decode(trimmed)));
}

std::string CDwgReaderContext::Name(CDwgObjectFrame& frame) {
  return NameOf(frame.Strings().ReadText());
}

void CDwgReaderContext::Damage(const std::string& note) {
  ++damageCount;
  if (!firstDamage.empty()) return;
  firstDamage = "DWG: " + note;
  for (char& c : firstDamage) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
}

std::int32_t CDwgReaderContext::LayerOf(std::uint64_t handle) const {
  const auto found = layers.find(handle);
  return found != layers.end() ? found->second : -1;
}

std::int32_t CDwgReaderContext::LinetypeOf(std::uint64_t handle) const {
  if (handle == linetypeByLayer) return kLinetypeByLayer;
  if (handle == linetypeByBlock) return kLinetypeByBlock;
  const auto found = linetypes.find(handle);
  return found != linetypes.end() ? found->second : kLinetypeContinuous;
}

std::int32_t CDwgReaderContext::TextStyleOf(std::uint64_t handle) const {
  const auto found = textStyles.find(handle);
  return found != textStyles.end() ? found->second : standardStyle;
}

std::int32_t CDwgReaderContext::BlockOf(std::uint64_t handle) const {
  const auto found = blocks.find(handle);
  return found != blocks.end() ? found->second : -1;
}

CDwgDimStyle CDwgReaderContext::DimStyleOf(std::uint64_t handle) const {
  const auto found = dimStyles.find(handle);
  return found != dimStyles.end() ? found->second : headerDimStyle;
}

void CDwgReaderContext::ReadBookColor(std::uint64_t handle) {
  if (handle == 0 || bookColors.count(handle) || !bookColorsTried.insert(handle).second) return;
  CDwgObjectFrame frame;
  if (!Open(handle, frame) || TypeName(frame.type) != "DBCOLOR" || !ReadObjectCommon(frame)) {
    return;
  }
  const CCmColor color = frame.data.ReadCMC(&frame.Strings());
  if (!frame.data.Failed() && color.Method() == 0xC2) bookColors[handle] = color.rgb & 0xFFFFFF;
}

void CDwgReaderContext::ApplyCommon(const CDwgEntityCommon& common, Entity& entity) const {
  const std::int32_t layer = LayerOf(common.layer);
  entity.layer = layer >= 0 ? layer : 0;
  switch (common.linetypeFlags) {
    case 0:
      entity.linetype = kLinetypeByLayer;
      break;
    case 1:
      entity.linetype = kLinetypeByBlock;
      break;
    case 2:
      entity.linetype = kLinetypeContinuous;
      break;
    default:
      entity.linetype = LinetypeOf(common.linetype);
      break;
  }
  bool trueColor = (common.color.flags & CEntityColor::kRgb) != 0;
  std::uint32_t rgb = common.color.rgb;
  if (common.colorHandle != 0) {
    // A colour of a colour book: the DBCOLOR object holds its RGB value.
    const auto found = bookColors.find(common.colorHandle);
    trueColor = found != bookColors.end();
    if (trueColor) rgb = found->second;
  }
  entity.color = ModelColor(common.color.index, trueColor, rgb);
  entity.lineweight = version >= Version::R2000
                          ? LineweightFromIndex(common.lineweight, kLineweightByLayer)
                          : kLineweightByLayer;
  if (common.linetypeScale > 0.0 && std::isfinite(common.linetypeScale)) {
    entity.linetypeScale = common.linetypeScale;
  }
  entity.invisible = (common.invisible & 1) != 0;
  if (common.plotStyle != 0) {
    if (const std::int32_t style = PlotStyleOf(common.plotStyle); style >= 0) {
      entity.plotStyle = style;
    }
  }
}

}  // namespace drawing::dwg::detail
