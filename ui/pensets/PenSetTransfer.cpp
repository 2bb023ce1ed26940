#include "ui/pensets/PenSetTransfer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "pensets/PenSet.h"
#include "pensets/PenSetFile.h"
#include "platform/Ascii.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool ImportPenSetsFromFile(const std::string& path, const std::vector<std::string>& names,
                           CRegistry& store, const OverwriteQuestion& ask,
                           std::vector<std::string>* imported) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  // The names as the set list shows them: "Default" stands in for an empty store.
  const std::vector<std::string> stored = ListPenSets(store);

  bool yesToAll = false;
  bool noToAll = false;
  for (const std::string& name : names) {
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
    if (imported) imported->push_back(storedName);
  }
  return true;
}

bool IsCtbPath(const std::string& path) {
  return EqualsIgnoringCase(fs::path(path).extension().string(), ".ctb");
}
