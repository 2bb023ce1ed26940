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
#include "platform/RegularFile.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 64;
// sysexits' EX_CANTCREAT: the settings store cannot be written, and nothing was imported.
constexpr int kStoreNotWritten = 73;

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
bool IsPlotStyleTable(const std::string& path, std::FILE* file) {
  if (EqualsIgnoringCase(fs::path(path).extension().string(), ".ctb")) return true;
  char start[14] = {};
  const bool table = std::fread(start, 1, sizeof start, file) == sizeof start &&
                     std::string(start, sizeof start) == "PIAFILEVERSION";
  std::rewind(file);
  return table;
}

// The refusal of a set whose name the store cannot hold, naming it.
int RefuseName(const std::string& name, const std::string& path) {
  std::string why;
  CheckPenSetName(name, &why);
  return Refuse("--import-pen-sets: the pen set '" + PenSetNameForMessage(name) + "' in " + path +
                " cannot be stored: " + why + "; nothing was imported (name the other sets " +
                "to import them)");
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
  std::string why;
  // A FIFO or a device is refused here, before anything reads it.
  FilePtr file(OpenRegularFileForReading(path, &why));
  if (!file) return Refuse("--import-pen-sets: cannot open " + path + ": " + why);
  std::vector<CPenSet> sets;
  if (IsPlotStyleTable(path, file.get())) {
    CPenSet set;
    set.name = CtbPenSetName(path);
    if (!BuildPenTableFromCtb(path, set.entries, &why)) {
      return Refuse("--import-pen-sets: cannot read the plot style table " + path + ": " + why);
    }
    for (const std::string& wanted : options.penSetNames) {
      if (!EqualsIgnoringCase(wanted, set.name)) {
        return Refuse("--import-pen-sets: " + path + " holds only the pen set '" +
                      PenSetNameForMessage(set.name) + "'");
      }
    }
    if (!CheckPenSetName(set.name)) return RefuseName(set.name, path);
    sets.push_back(set);
  } else {
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
    // Every set is checked and read before anything is stored: a bad name or a cut-off file
    // changes nothing.
    for (const std::string& name : names) {
      if (!CheckPenSetName(name)) return RefuseName(name, path);
    }
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
  std::vector<std::string> imported;
  for (const CPenSet& set : sets) {
    const std::optional<std::string> existing = FindName(stored, set.name);
    if (existing && !options.overwrite) {
      std::fprintf(
          stderr,
          "Skipped pen set '%s': a stored pen set has that name (--overwrite replaces it)\n",
          set.name.c_str());
      continue;
    }
    // A replaced set keeps the stored spelling of its name. The names were checked above, so
    // whether the set is stored is the batch's write to say.
    StorePenSetTable(existing ? *existing : set.name, set.entries, store);
    imported.push_back(set.name);
  }
  // Nothing is said to be imported before it is in the file.
  if (!batch.Commit()) {
    std::fprintf(stderr,
                 "tarnvelox-cli: --import-pen-sets: cannot write the settings store %s; "
                 "nothing was imported\n",
                 store.File().c_str());
    return kStoreNotWritten;
  }
  if (!options.quiet) {
    for (const std::string& name : imported) {
      std::fprintf(stderr, "Imported pen set '%s'\n", name.c_str());
    }
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
    std::string why;
    FilePtr file(OpenRegularFileForReading(options.penFile, &why));
    if (!file) {
      *error = "--pen-file: cannot open " + options.penFile + ": " + why;
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
