#include "convert/FolderSearch.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/Ascii.h"

namespace fs = std::filesystem;

namespace {

// Names in the order of a listing sorted without regard to case.
bool BeforeIgnoringCase(const std::string& a, const std::string& b) {
  const std::string la = ToAsciiLower(a), lb = ToAsciiLower(b);
  return la != lb ? la < lb : a < b;
}

void Search(const fs::path& folder, bool subfolders, const DrawingTypes& types,
            std::set<fs::path>& visited, std::vector<std::string>& found) {
  std::error_code error;
  const fs::path canonical = fs::canonical(folder, error);
  if (error || !visited.insert(canonical).second) return;

  std::vector<std::string> files, folders;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code kindError;
    const std::string name = entry->path().filename().string();
    if (name.empty() || name[0] == '.') continue;  // hidden, as file listings leave them out
    if (entry->is_directory(kindError)) {
      folders.push_back(name);
    } else if (entry->is_regular_file(kindError)) {
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end(), BeforeIgnoringCase);
  std::sort(folders.begin(), folders.end(), BeforeIgnoringCase);
  const std::pair<bool, const char*> groups[] = {
      {types.dwg, ".dwg"}, {types.dxf, ".dxf"}, {types.dwf, ".dwf"}};
  for (const auto& [wanted, extension] : groups) {
    if (!wanted) continue;
    for (const std::string& name : files) {
      if (EndsWithIgnoringCase(name, extension)) {
        found.push_back((folder / name).string());
      }
    }
  }
  if (!subfolders) return;
  for (const std::string& name : folders) Search(folder / name, true, types, visited, found);
}

}  // namespace

std::vector<std::string> FindDrawingsInFolder(const std::string& folder, bool subfolders,
                                              const DrawingTypes& types) {
  std::vector<std::string> found;
  std::set<fs::path> visited;
  if (!folder.empty()) Search(fs::path(folder), subfolders, types, visited, found);
  return found;
}

bool HasDrawingExtension(const std::string& name) {
  return EndsWithIgnoringCase(name, ".dwg") || EndsWithIgnoringCase(name, ".dxf") ||
         EndsWithIgnoringCase(name, ".dwf");
}
