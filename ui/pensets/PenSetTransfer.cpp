#include "ui/pensets/PenSetTransfer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "pensets/PenSet.h"
#include "pensets/PenSetFile.h"
#include "platform/Ascii.h"
#include "platform/Registry.h"
#include "platform/RegularFile.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

PenSetImportResult ImportPenSetsFromFile(const std::string& path,
                                         const std::vector<std::string>& names, CRegistry& store,
                                         const OverwriteQuestion& ask,
                                         std::vector<std::string>* imported,
                                         std::vector<std::string>* refused) {
  FilePtr file(OpenRegularFileForReading(path, nullptr));
  if (!file) return PenSetImportResult::FileNotOpened;
  // The names as the set list shows them: "Default" stands in for an empty store.
  const std::vector<std::string> stored = ListPenSets(store);

  CRegistryBatch batch(store);
  std::vector<std::string> storedNames;
  bool yesToAll = false;
  bool noToAll = false;
  for (const std::string& name : names) {
    // Refused before the question, which would be asked for nothing.
    if (!CheckPenSetName(name)) {
      if (refused) refused->push_back(name);
      continue;
    }
    const auto existing = std::find_if(stored.begin(), stored.end(), [&](const std::string& s) {
      return EqualsIgnoringCase(s, name);
    });
    if (existing != stored.end() && !yesToAll) {
      if (noToAll) continue;
      const OverwriteAnswer answer = ask(name);
      if (answer == OverwriteAnswer::Cancel) break;
      if (answer == OverwriteAnswer::YesToAll) yesToAll = true;
      if (answer == OverwriteAnswer::NoToAll) noToAll = true;
      if (answer == OverwriteAnswer::No || answer == OverwriteAnswer::NoToAll) continue;
    }
    CPenSet set;
    if (!ReadFilePenSet(file.get(), name, set)) continue;
    const std::string storedName = existing != stored.end() ? *existing : name;
    StorePenSetTable(storedName, set.entries, store);
    storedNames.push_back(storedName);
  }
  if (!batch.Commit()) return PenSetImportResult::StoreNotWritten;
  if (imported) imported->insert(imported->end(), storedNames.begin(), storedNames.end());
  return PenSetImportResult::Done;
}

bool IsCtbPath(const std::string& path) {
  return EqualsIgnoringCase(fs::path(path).extension().string(), ".ctb");
}
