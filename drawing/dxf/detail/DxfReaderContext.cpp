#include "drawing/dxf/detail/DxfReaderContext.h"

#include "drawing/dxf/detail/DxfTokenizer.h"

namespace drawing::detail {

std::size_t CaseInsensitiveHash::operator()(std::string_view text) const {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : text) {
    hash ^= static_cast<unsigned char>(AsciiLower(c));
    hash *= 1099511628211ull;
  }
  return static_cast<std::size_t>(hash);
}

bool CaseInsensitiveEqual::operator()(std::string_view a, std::string_view b) const {
  return ::EqualsIgnoringCase(a, b);
}

CDxfReaderContext::CDxfReaderContext(Drawing& target) : drawing(target) {
  drawing = Drawing{};
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
  blocks.emplace("*Model_Space", 0);
  blocks.emplace("*Paper_Space", 1);
  // R12 and older name the two spaces so.
  blocks.emplace("$MODEL_SPACE", 0);
  blocks.emplace("$PAPER_SPACE", 1);
  blockDefined = {false, false};
}

std::string CDxfReaderContext::Name(std::string_view raw) {
  raw = TrimBlanks(raw);
  if (CTextDecoder::IsPlain(raw)) return std::string(raw);
  return std::string(TrimBlanks(decoder.Decode(raw)));
}

std::int32_t CDxfReaderContext::LookUp(const NameIndex& index, std::string_view raw,
                                       std::string& decoded) {
  raw = TrimBlanks(raw);
  if (CTextDecoder::IsPlain(raw)) {
    auto found = index.find(raw);
    if (found != index.end()) return found->second;
    decoded.assign(raw);
    return -1;
  }
  decoded = Name(raw);
  auto found = index.find(std::string_view(decoded));
  return found != index.end() ? found->second : -1;
}

std::int32_t CDxfReaderContext::LayerIndex(std::string_view raw) {
  // Consecutive entities mostly share their layer.
  if (lastLayer >= 0 && raw == lastLayerRaw) return lastLayer;
  std::string decoded;
  std::int32_t index = LookUp(layers, raw, decoded);
  if (index < 0) index = decoded.empty() ? 0 : DefineLayer(std::move(decoded));
  lastLayerRaw.assign(raw);
  lastLayer = index;
  return index;
}

std::int32_t CDxfReaderContext::FindLayer(std::string_view raw) {
  std::string decoded;
  return LookUp(layers, raw, decoded);
}

std::int32_t CDxfReaderContext::LayerByHandle(std::uint64_t handle) const {
  auto found = layerHandles.find(handle);
  return found != layerHandles.end() ? found->second : -1;
}

std::int32_t CDxfReaderContext::LinetypeReference(std::string_view raw) {
  const std::string_view name = TrimBlanks(raw);
  if (name.empty() || EqualsIgnoringCase(name, "BYLAYER")) return kLinetypeByLayer;
  if (EqualsIgnoringCase(name, "BYBLOCK")) return kLinetypeByBlock;
  if (EqualsIgnoringCase(name, "CONTINUOUS")) return kLinetypeContinuous;
  std::string decoded;
  const std::int32_t index = LookUp(linetypes, name, decoded);
  return index >= 0 ? index : kLinetypeContinuous;
}

std::int32_t CDxfReaderContext::TextStyleIndex(std::string_view raw) {
  std::string decoded;
  const std::int32_t index = LookUp(textStyles, raw, decoded);
  if (index >= 0) return index;
  const std::int32_t standard = LookUp(textStyles, "Standard", decoded);
  return standard >= 0 ? standard : 0;
}

std::int32_t CDxfReaderContext::BlockReference(std::string_view raw) {
  std::string decoded;
  const std::int32_t index = LookUp(blocks, raw, decoded);
  if (index >= 0) return index;
  if (decoded.empty()) return -1;
  const auto created = static_cast<std::int32_t>(drawing.blocks.size());
  drawing.blocks.emplace_back();
  drawing.blocks.back().name = decoded;
  blockDefined.push_back(false);
  blocks.emplace(std::move(decoded), created);
  return created;
}

double CDxfReaderContext::ArrowSize(std::string_view raw) const {
  const std::string_view name = TrimBlanks(raw);
  DxfDimStyle style = headerDimStyle;
  auto found = dimStyles.find(name);
  if (found != dimStyles.end()) style = found->second;
  return style.arrowSize * (style.scale > 0.0 ? style.scale : 1.0);
}

DxfDimStyle CDxfReaderContext::DimStyle(std::string_view raw) const {
  auto found = dimStyles.find(TrimBlanks(raw));
  return found != dimStyles.end() ? found->second : headerDimStyle;
}

std::int32_t CDxfReaderContext::BlockByRecord(std::uint64_t handle) {
  auto found = blockRecordNames.find(handle);
  if (handle == 0 || found == blockRecordNames.end()) return -1;
  return BlockReference(found->second);
}

std::int32_t CDxfReaderContext::LinetypeByHandle(std::uint64_t handle) const {
  auto found = linetypeHandles.find(handle);
  return found != linetypeHandles.end() ? found->second : kLinetypeContinuous;
}

std::int32_t CDxfReaderContext::TextStyleByHandle(std::uint64_t handle) {
  auto found = textStyleHandles.find(handle);
  return found != textStyleHandles.end() ? found->second : TextStyleIndex("Standard");
}

std::int32_t CDxfReaderContext::DefineLayer(std::string name) {
  auto found = layers.find(std::string_view(name));
  if (found != layers.end()) return found->second;
  const auto index = static_cast<std::int32_t>(drawing.layers.size());
  drawing.layers.emplace_back();
  drawing.layers.back().name = name;
  if (EqualsIgnoringCase(name, "DEFPOINTS")) drawing.layers.back().plottable = false;
  layers.emplace(std::move(name), index);
  return index;
}

std::int32_t CDxfReaderContext::DefineLinetype(std::string name) {
  auto found = linetypes.find(std::string_view(name));
  if (found != linetypes.end()) return found->second;
  const auto index = static_cast<std::int32_t>(drawing.linetypes.size());
  drawing.linetypes.emplace_back();
  drawing.linetypes.back().name = name;
  linetypes.emplace(std::move(name), index);
  return index;
}

std::int32_t CDxfReaderContext::DefineTextStyle(std::string name) {
  auto found = textStyles.find(std::string_view(name));
  if (found != textStyles.end()) return found->second;
  const auto index = static_cast<std::int32_t>(drawing.textStyles.size());
  drawing.textStyles.emplace_back();
  drawing.textStyles.back().name = name;
  textStyles.emplace(std::move(name), index);
  return index;
}

std::int32_t CDxfReaderContext::DefineBlock(std::string name) {
  auto found = blocks.find(std::string_view(name));
  if (found != blocks.end()) {
    const std::int32_t index = found->second;
    if (blockDefined[static_cast<std::size_t>(index)]) return -1;
    blockDefined[static_cast<std::size_t>(index)] = true;
    return index;
  }
  const auto index = static_cast<std::int32_t>(drawing.blocks.size());
  drawing.blocks.emplace_back();
  drawing.blocks.back().name = name;
  blockDefined.push_back(true);
  blocks.emplace(std::move(name), index);
  return index;
}

}  // namespace drawing::detail
