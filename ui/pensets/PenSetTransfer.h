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

// Stores the sets of the given names read from the pen-set file at path. A name that a stored
// set already has (without regard to case; an empty store counts as holding "Default") is
// asked about unless an earlier answer was one of the "to all" answers; a replaced set keeps
// the stored spelling of its name. A set that cannot be read whole is not stored. The stored
// current set stays what it was. False, with nothing stored, when the file cannot be opened;
// imported (when given) receives the names stored, in order.
bool ImportPenSetsFromFile(const std::string& path, const std::vector<std::string>& names,
                           CRegistry& store, const OverwriteQuestion& ask,
                           std::vector<std::string>* imported = nullptr);

// Whether the path names a plot style table (".ctb", without regard to case).
bool IsCtbPath(const std::string& path);
