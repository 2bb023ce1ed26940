#pragma once

#include <string>

#include "cli/CommandLine.h"

class CRegistry;
class CPenSet;

// Runs --export-pen-sets or --import-pen-sets against the store; messages go to standard
// error. The exit status: 0 done (an import may have skipped sets, and says so), 64 a bad
// file or name (a FIFO or device, a damaged file, a set name the store cannot hold), with
// nothing changed, 73 the settings store cannot be written, with nothing imported.
int RunPenSetTransfer(const CliOptions& options, CRegistry& store);

// Fills set with the pens the run draws with, from --ctb, --pen-file with --pen-set, or
// --pen-set alone (the store). False with a one-line message naming the option when the
// table, file or set cannot be used; a FIFO or a device is refused without being waited on.
bool PrepareRunPenSet(const CliOptions& options, CRegistry& store, CPenSet& set,
                      std::string* error);
