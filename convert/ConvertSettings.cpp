#include "convert/ConvertSettings.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "platform/Registry.h"

namespace {

// TargetPdf is read into 1024 bytes and a search folder into 512, each with its NUL.
constexpr std::size_t kTargetCapacity = 1024;
constexpr std::size_t kSearchPathCapacity = 512;

std::string DirName(std::size_t index) {
  return "Dir" + std::to_string(index);
}

bool QueryDword(CRegistry& store, std::string_view name, std::uint32_t* value,
                std::string_view key = kParameterKey) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  if (!store.QueryValue(key, name, &type, &data)) return false;
  if (type != RegType::Dword || data.size() != 4) return false;
  *value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return true;
}

template <typename T>
void LoadInt(CRegistry& store, std::string_view name, T* field) {
  std::uint32_t value;
  if (QueryDword(store, name, &value)) *field = static_cast<T>(static_cast<std::int32_t>(value));
}

template <typename T>
std::uint32_t Stored(T value) {
  return static_cast<std::uint32_t>(value);
}

// Flags and Units: whatever is stored, non-zero loads as 1.
template <typename T>
void LoadFlag(CRegistry& store, std::string_view name, T* field) {
  std::uint32_t value;
  if (QueryDword(store, name, &value)) *field = static_cast<T>(value != 0 ? 1 : 0);
}

bool LoadDouble(CRegistry& store, std::string_view name, double* field) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  if (!store.QueryValue(kParameterKey, name, &type, &data)) return false;
  if (type != RegType::Binary || data.size() != 8) return false;
  std::uint64_t bits = 0;
  for (int b = 7; b >= 0; --b) bits = bits << 8 | data[b];
  *field = std::bit_cast<double>(bits);
  return true;
}

// A text of the store as the registry's fixed buffers read it: REG_SZ or REG_EXPAND_SZ (not
// expanded), fitting capacity bytes, its last byte a NUL. The text ends at its first NUL.
bool QueryText(CRegistry& store, std::string_view key, std::string_view name, std::size_t capacity,
               std::string* text) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  if (!store.QueryValue(key, name, &type, &data)) return false;
  if (type != RegType::Sz && type != RegType::ExpandSz) return false;
  if (data.empty() || data.size() > capacity || data.back() != 0) return false;
  *text = std::string(reinterpret_cast<const char*>(data.data()));
  return true;
}

void SaveDouble(CRegistry& store, std::string_view name, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  std::uint8_t data[8];
  for (int b = 0; b < 8; ++b) data[b] = static_cast<std::uint8_t>(bits >> (8 * b));
  store.SetValue(kParameterKey, name, RegType::Binary, data);
}

}  // namespace

void CConvertSettings::LoadSettings(CRegistry& store) {
  if (store.OpenKey(kParameterKey)) {
    LoadInt(store, "Layout", &Layout);
    LoadInt(store, "Area", &Area);
    double scale = Scale;
    if (LoadDouble(store, "Scale", &scale) && scale > 0.001) Scale = scale;
    LoadInt(store, "Colors", &Colors);
    LoadFlag(store, "ExportRaster", &ExportRaster);
    LoadFlag(store, "UsePenSets", &UsePenSets);
    LoadFlag(store, "ExportLayer", &ExportLayer);
    LoadDouble(store, "PdfWidth", &PdfWidth);
    LoadDouble(store, "PdfHeight", &PdfHeight);
    LoadFlag(store, "UseLayoutPageSet", &UseLayoutPageSet);
    LoadFlag(store, "Units", &Units);
    LoadInt(store, "Quality", &Quality);
    LoadInt(store, "PdfType", &PdfType);
    LoadFlag(store, "RestrictReferences", &RestrictReferences);
    QueryText(store, kParameterKey, "TargetPdf", kTargetCapacity, &TargetPdf);
  }

  if (std::uint32_t exact = 0; QueryDword(store, "ExactLineWeights", &exact, kOptionKey)) {
    ExactLineWeights = exact != 0 ? 1 : 0;
  }
  if (std::uint32_t effort = 0; QueryDword(store, "Compression", &effort, kOptionKey)) {
    if (effort <= 2) Compression = static_cast<std::uint8_t>(effort);
  }

  SearchPaths.clear();
  if (!store.OpenKey(kSearchPathKey)) return;
  for (std::size_t i = 0;; ++i) {
    std::string folder;
    if (!QueryText(store, kSearchPathKey, DirName(i), kSearchPathCapacity, &folder)) break;
    SearchPaths.push_back(folder);
  }
}

void CConvertSettings::LoadSettings() {
  LoadSettings(CRegistry::User());
}

void CConvertSettings::SaveSettings(CRegistry& store) const {
  // One write of the store's file for all values.
  CRegistryBatch batch(store);
  if (store.CreateKey(kParameterKey)) {
    store.SetDword(kParameterKey, "Layout", Stored(Layout));
    store.SetDword(kParameterKey, "Area", Stored(Area));
    SaveDouble(store, "Scale", Scale);
    store.SetDword(kParameterKey, "Colors", Stored(Colors));
    store.SetDword(kParameterKey, "ExportRaster", ExportRaster ? 1 : 0);
    store.SetDword(kParameterKey, "UsePenSets", UsePenSets ? 1 : 0);
    store.SetDword(kParameterKey, "ExportLayer", ExportLayer ? 1 : 0);
    SaveDouble(store, "PdfWidth", PdfWidth);
    SaveDouble(store, "PdfHeight", PdfHeight);
    store.SetDword(kParameterKey, "UseLayoutPageSet", UseLayoutPageSet ? 1 : 0);
    store.SetDword(kParameterKey, "Units", Stored(Units));
    store.SetDword(kParameterKey, "Quality", Stored(Quality));
    store.SetDword(kParameterKey, "PdfType", Stored(PdfType));
    store.SetDword(kParameterKey, "RestrictReferences", RestrictReferences ? 1 : 0);
    store.SetString(kParameterKey, "TargetPdf", TargetPdf);
  }
  if (store.CreateKey(kOptionKey)) {
    store.SetDword(kOptionKey, "ExactLineWeights", ExactLineWeights ? 1 : 0);
    store.SetDword(kOptionKey, "Compression", Compression);
  }
  if (store.CreateKey(kSearchPathKey)) {
    std::size_t i = 0;
    for (; i < SearchPaths.size(); ++i) store.SetString(kSearchPathKey, DirName(i), SearchPaths[i]);
    // Entries left from a longer earlier list go, up to the first gap.
    while (store.DeleteValue(kSearchPathKey, DirName(i))) ++i;
  }
}

void CConvertSettings::SaveSettings() const {
  SaveSettings(CRegistry::User());
}

std::string CConvertSettings::JoinedSearchPaths() const {
  std::string joined;
  for (std::size_t i = 0; i < SearchPaths.size(); ++i) {
    if (i > 0) joined += ';';
    joined += SearchPaths[i];
  }
  return joined;
}

CConvertSettings& CurrentSettings() {
  static CConvertSettings settings;
  return settings;
}
