#include "pensets/PenSet.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string_view>

#include "platform/Registry.h"
#include "platform/Utf8.h"

namespace {

constexpr std::string_view kOptionKey = "Software\\KESTRIM\\tarnvelox\\Option";
constexpr std::string_view kUsePenWidth = "UsePenWidth";
// Spelled as earlier versions stored it; key names compare without case, so this is below the
// same "Software\KESTRIM" key as the Option key.
constexpr std::string_view kPenWidthsKey = "Software\\Kestrim\\Common\\PenWidths";
constexpr std::string_view kCurrentSetValue = "CurPenWidthColorSets";
constexpr char kDefaultName[] = "Default";
// The longest stored name read back, its terminating NUL included.
constexpr std::size_t kNameCapacity = 512;

std::string SetKey(const std::string& name) {
  std::string key(kPenWidthsKey);
  key += '\\';
  key += name;
  return key;
}

std::string EntryValueName(char letter, int index) {
  return letter + std::to_string(index);
}

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& data) {
  return data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

// Reads the 256 entries of the set stored under key. A width that is not an 8-byte binary is
// 0; a colour that is not a DWORD of at most 255 (as unsigned: negative values are out too) is
// the entry's own index.
void ReadEntries(CRegistry& store, const std::string& key, std::array<PenEntry, 256>& entries) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 256; ++i) {
    PenEntry entry{0.0, static_cast<std::int16_t>(i)};
    if (store.QueryValue(key, EntryValueName('W', i), &type, &data) && type == RegType::Binary &&
        data.size() == 8) {
      std::uint64_t bits = 0;
      for (int b = 7; b >= 0; --b) bits = bits << 8 | data[b];
      entry.width = std::bit_cast<double>(bits);
    }
    if (store.QueryValue(key, EntryValueName('C', i), &type, &data) && type == RegType::Dword &&
        data.size() == 4) {
      if (const std::uint32_t color = LittleEndian32(data); color <= 255) {
        entry.destColor = static_cast<std::int16_t>(color);
      }
    }
    entries[i] = entry;
  }
}

// The stored name of the current set: REG_SZ or REG_EXPAND_SZ text ending in a NUL, NUL
// included at most kNameCapacity bytes. Empty when there is none.
std::string StoredCurrentName(CRegistry& store) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  if (!store.QueryValue(kPenWidthsKey, kCurrentSetValue, &type, &data)) return {};
  if (type != RegType::Sz && type != RegType::ExpandSz) return {};
  if (data.empty() || data.size() > kNameCapacity || data.back() != 0) return {};
  return std::string(data.begin(), std::find(data.begin(), data.end(), 0));
}

}  // namespace

bool CheckPenSetName(std::string_view name, std::string* why) {
  const char* problem = nullptr;
  if (name.empty()) {
    problem = "the name is empty";
  } else if (name.size() > kLongestPenSetName) {
    problem = "the name is longer than 255 bytes";
  } else if (name.find('\\') != std::string_view::npos) {
    problem = "the name holds a \"\\\"";
  } else if (std::any_of(name.begin(), name.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
             })) {
    problem = "the name holds a line break or another control character";
  } else if (!IsValidUtf8(name)) {
    problem = "the name is not UTF-8 text";
  }
  if (problem && why) *why = problem;
  return !problem;
}

std::string PenSetNameForMessage(std::string_view name) {
  constexpr std::size_t kShown = 60;
  std::string shown;
  std::size_t i = 0;
  while (i < name.size() && i < kShown) {
    const auto c = static_cast<unsigned char>(name[i]);
    const std::size_t length = Utf8SequenceLength(name, i);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c < 0x20 || c == 0x7F || length == 0) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown.append(name.substr(i, length));
      i += length;
      continue;
    }
    ++i;
  }
  if (i < name.size()) shown += "... (" + std::to_string(name.size()) + " bytes)";
  return shown;
}

CPenSet::CPenSet() {
  ResetEntries();
}

void CPenSet::ResetEntries() {
  for (int i = 0; i < 256; ++i) entries[i] = PenEntry{0.0, static_cast<std::int16_t>(i)};
}

CPenSet& CurrentPenSet() {
  static CPenSet current;
  return current;
}

void LoadCurrentPenSet(CPenSet& set, CRegistry& store) {
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
  set.usePenWidth = store.QueryValue(kOptionKey, kUsePenWidth, &type, &data) &&
                    type == RegType::Dword && data.size() == 4 && LittleEndian32(data) != 0;

  if (const std::string name = StoredCurrentName(store); !name.empty()) {
    set.name = name;
    if (const std::string key = SetKey(name); store.OpenKey(key)) {
      ReadEntries(store, key, set.entries);
      return;
    }
  }
  set.ResetEntries();
  set.name = kDefaultName;
}

void LoadCurrentPenSet() {
  LoadCurrentPenSet(CurrentPenSet(), CRegistry::User());
}

void SaveCurrentPenSet(const CPenSet& set, CRegistry& store) {
  CRegistryBatch batch(store);
  if (store.CreateKey(kOptionKey))
    store.SetDword(kOptionKey, kUsePenWidth, set.usePenWidth ? 1 : 0);
  CPenSet saved = set;
  SavePenSet(saved, set.name, store);
}

void SaveCurrentPenSet() {
  SaveCurrentPenSet(CurrentPenSet(), CRegistry::User());
}

void LoadPenSet(const std::string& name, std::array<PenEntry, 256>& entries, CRegistry& store) {
  // An empty name would name the PenWidths key itself, which is no set.
  if (const std::string key = SetKey(name); !name.empty() && store.OpenKey(key)) {
    ReadEntries(store, key, entries);
    return;
  }
  for (int i = 0; i < 256; ++i) entries[i] = PenEntry{0.0, static_cast<std::int16_t>(i)};
}

bool SavePenSet(CPenSet& set, const std::string& name, CRegistry& store) {
  CRegistryBatch batch(store);
  set.name = name;
  if (set.name.empty()) set.name = kDefaultName;
  if (!CheckPenSetName(set.name)) return false;
  const bool made = store.CreateKey(kPenWidthsKey) &&
                    store.SetString(kPenWidthsKey, kCurrentSetValue, set.name) &&
                    StorePenSetTable(set.name, set.entries, store);
  return batch.Commit() && made;
}

bool StorePenSetTable(const std::string& name, const std::array<PenEntry, 256>& entries,
                      CRegistry& store) {
  if (!CheckPenSetName(name)) return false;
  CRegistryBatch batch(store);
  const std::string key = SetKey(name);
  bool made = store.CreateKey(key);
  // W0, C0, W1, C1, …: the order of the values in the file.
  for (int i = 0; made && i < 256; ++i) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(entries[i].width);
    std::uint8_t width[8];
    for (int b = 0; b < 8; ++b) width[b] = static_cast<std::uint8_t>(bits >> (8 * b));
    made = store.SetValue(key, EntryValueName('W', i), RegType::Binary, width);
    // Sign-extended: a destination of -1 is stored as 0xFFFFFFFF.
    made = made && store.SetDword(
                       key, EntryValueName('C', i),
                       static_cast<std::uint32_t>(static_cast<std::int32_t>(entries[i].destColor)));
  }
  return batch.Commit() && made;
}

std::vector<std::string> ListPenSets(CRegistry& store) {
  std::vector<std::string> names = StoredPenSetNames(store);
  if (names.empty()) names.emplace_back(kDefaultName);
  return names;
}

std::vector<std::string> StoredPenSetNames(CRegistry& store) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; store.EnumSubKey(kPenWidthsKey, i, &name); ++i) {
    // Skipped, not the end of the list: the sets after such a name are still listed.
    if (name.size() >= kNameCapacity) continue;
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

void DeletePenSet(const std::string& name, CRegistry& store) {
  if (store.OpenKey(kPenWidthsKey)) store.DeleteSubKey(kPenWidthsKey, name);
}
