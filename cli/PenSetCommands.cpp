#include "cli/PenSetCommands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "pensets/PenSet.h"
#include "pensets/PenSetFile.h"
#include "platform/Ascii.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 64;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::optional<std::string> FindName(const std::vector<std::string>& names,
                                    const std::string& name) {
  const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
    return EqualsIgnoringCase(n, name);
  });
  if (found == names.end()) return std::nullopt;
  return *found;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "tarnvelox-cli: %s\n", message.c_str());
  return kUsageError;
}

// A .ctb by its name, or any plot style table by its first bytes (a named table then gets
// the reader's own reason for being refused).
bool IsPlotStyleTable(const std::string& path) {
  if (EqualsIgnoringCase(fs::path(path).extension().string(), ".ctb")) return true;
  char start[14] = {};
  FilePtr file(std::fopen(path.c_str(), "rb"));
  return file && std::fread(start, 1, sizeof start, file.get()) == sizeof start &&
         std::string(start, sizeof start) == "PIAFILEVERSION";
}

int ExportPenSets(const CliOptions& options, CRegistry& store) {
  const std::string& path = options.transferFile;
  const std::vector<std::string> stored = ListPenSets(store);
  std::vector<std::string> names;
  for (const std::string& wanted : options.penSetNames) {
    const std::optional<std::string> name = FindName(stored, wanted);
    if (!name) return Refuse("--export-pen-sets: no stored pen set named '" + wanted + "'");
    if (!FindName(names, *name)) names.push_back(*name);
  }
  if (names.empty()) names = stored;

  if (!ExportPenSetsToFile(path, names, store)) {
    return Refuse("--export-pen-sets: cannot write " + path);
  }
  if (!options.quiet) {
    std::fprintf(stderr, "Exported %zu pen set%s to %s\n", names.size(),
                 names.size() == 1 ? "" : "s", path.c_str());
  }
  return 0;
}

int ImportPenSets(const CliOptions& options, CRegistry& store) {
  const std::string& path = options.transferFile;
  std::vector<CPenSet> sets;
  if (IsPlotStyleTable(path)) {
    CPenSet set;
    set.name = CtbPenSetName(path);
    std::string why;
    if (!BuildPenTableFromCtb(path, set.entries, &why)) {
      return Refuse("--import-pen-sets: cannot read the plot style table " + path + ": " + why);
    }
    for (const std::string& wanted : options.penSetNames) {
      if (!EqualsIgnoringCase(wanted, set.name)) {
        return Refuse("--import-pen-sets: " + path + " holds only the pen set '" + set.name + "'");
      }
    }
    sets.push_back(set);
  } else {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return Refuse("--import-pen-sets: cannot open " + path);
    const std::vector<std::string> inFile = ListFilePenSets(file.get());
    if (inFile.empty()) {
      return Refuse("--import-pen-sets: " + path + " is not a pen-set file or holds no pen sets");
    }
    std::vector<std::string> names;
    for (const std::string& wanted : options.penSetNames) {
      const std::optional<std::string> name = FindName(inFile, wanted);
      if (!name) return Refuse("--import-pen-sets: no pen set named '" + wanted + "' in " + path);
      if (!FindName(names, *name)) names.push_back(*name);
    }
    if (names.empty()) {
      for (const std::string& name : inFile) {
        if (!FindName(names, name)) names.push_back(name);
      }
    }
    // Every set is read before anything is stored: a cut-off file changes nothing.
    for (const std::string& name : names) {
      CPenSet set;
      if (!ReadFilePenSet(file.get(), name, set)) {
        return Refuse("--import-pen-sets: the pen set '" + name + "' in " + path +
                      " is cut off; nothing was imported");
      }
      sets.push_back(set);
    }
  }

  const std::vector<std::string> stored = StoredPenSetNames(store);
  CRegistryBatch batch(store);
  for (const CPenSet& set : sets) {
    const std::optional<std::string> existing = FindName(stored, set.name);
    if (existing && !options.overwrite) {
      std::fprintf(
          stderr,
          "Skipped pen set '%s': a stored pen set has that name (--overwrite replaces it)\n",
          set.name.c_str());
      continue;
    }
    // A replaced set keeps the stored spelling of its name.
    StorePenSetTable(existing ? *existing : set.name, set.entries, store);
    if (!options.quiet) std::fprintf(stderr, "Imported pen set '%s'\n", set.name.c_str());
  }
  return 0;
}

}  // namespace

int RunPenSetTransfer(const CliOptions& options, CRegistry& store) {
  switch (options.transfer) {
    case CliOptions::PenSetTransfer::Export:
      return ExportPenSets(options, store);
    case CliOptions::PenSetTransfer::Import:
      return ImportPenSets(options, store);
    case CliOptions::PenSetTransfer::None:
      break;
  }
  return 0;
}

bool PrepareRunPenSet(const CliOptions& options, CRegistry& store, CPenSet& set,
                      std::string* error) {
  if (!options.ctb.empty()) {
    std::string why;
    if (!BuildPenTableFromCtb(options.ctb, set.entries, &why)) {
      *error = "--ctb: cannot read the plot style table " + options.ctb + ": " + why;
      return false;
    }
    set.name = CtbPenSetName(options.ctb);
    return true;
  }
  if (!options.penFile.empty()) {
    FilePtr file(std::fopen(options.penFile.c_str(), "rb"));
    if (!file) {
      *error = "--pen-file: cannot open " + options.penFile;
      return false;
    }
    if (!ReadFilePenSet(file.get(), options.penSet, set)) {
      *error =
          "--pen-file: no complete pen set named '" + options.penSet + "' in " + options.penFile;
      return false;
    }
    return true;
  }
  if (!options.penSet.empty()) {
    const std::optional<std::string> name = FindName(ListPenSets(store), options.penSet);
    if (!name) {
      *error = "--pen-set: no stored pen set named '" + options.penSet + "'";
      return false;
    }
    LoadPenSet(*name, set.entries, store);
    set.name = *name;
  }
  return true;
}
