#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pensets/PenSetFile.h"

class CRegistry;

// Copying pen sets between the settings store and a pen-set file, as the editor's export and
// import do once the user has chosen the file and the sets. Nothing here shows a window: the
// question about replacing a stored set is asked through the callback given.

// The answer to "The pen sets "…" already exists, overwrite it?". Yes and No hold for the set
// asked about, the "to all" answers for every later set, Cancel ends the import there.
enum class OverwriteAnswer { Yes, YesToAll, No, NoToAll, Cancel };

using OverwriteQuestion = std::function<OverwriteAnswer(const std::string& name)>;

// How an import from a pen-set file ended.
enum class PenSetImportResult {
  Done,
  // The file cannot be opened, or is not a regular file (a FIFO or device is not waited on).
  FileNotOpened,
  // The settings store cannot be written: nothing was stored.
  StoreNotWritten,
};

// Stores the sets of the given names read from the pen-set file at path. A set whose name the
// store cannot hold (CheckPenSetName) is not stored; its name goes to refused (when given). A
// name that a stored set already has (without regard to case; an empty store counts as holding
// "Default") is asked about unless an earlier answer was one of the "to all" answers; a replaced
// set keeps the stored spelling of its name. A set that cannot be read whole is not stored. The
// stored current set stays what it was. The sets are written to the store together, at the end;
// imported (when given) receives the names stored, in order, once they are in the file.
PenSetImportResult ImportPenSetsFromFile(const std::string& path,
                                         const std::vector<std::string>& names, CRegistry& store,
                                         const OverwriteQuestion& ask,
                                         std::vector<std::string>* imported = nullptr,
                                         std::vector<std::string>* refused = nullptr);

// Whether the path names a plot style table (".ctb", without regard to case).
bool IsCtbPath(const std::string& path);
