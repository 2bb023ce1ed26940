#pragma once

#include <string>

#include "cli/CommandLine.h"

class CRegistry;
class CPenSet;

// Runs --export-pen-sets or --import-pen-sets against the store; messages go to standard
// error. The exit status: 0 done (an import may have skipped sets, and says so), 64 a bad
// file or name, with nothing changed.
int RunPenSetTransfer(const CliOptions& options, CRegistry& store);

// Fills set with the pens the run draws with, from --ctb, --pen-file with --pen-set, or
// --pen-set alone (the store). False with a one-line message naming the option when the
// table, file or set cannot be used.
bool PrepareRunPenSet(const CliOptions& options, CRegistry& store, CPenSet& set,
                      std::string* error);
