#pragma once

#include <QString>
#include <array>
#include <string>
#include <vector>

#include "pensets/PenSet.h"

class CRegistry;

// A set whose entries all differ from the default and from every other mark: width mark/100
// + index/10000 inches, destination (index + mark) modulo 256.
CPenSet MarkedSet(const std::string& name, int mark);
// Whether a table is MarkedSet's of that mark.
bool HasMark(const std::array<PenEntry, 256>& entries, int mark);
bool IsDefaultTable(const std::array<PenEntry, 256>& entries);

// Writes a pen-set file holding the sets given, in order; cutLast bytes are then cut off.
void WritePenSetFile(const QString& path, const std::vector<CPenSet>& sets, int cutLast = 0);
// Writes a colour-dependent plot style table whose colour 1 is drawn black at 0.25 mm.
void WritePlotStyleTable(const QString& path);

// The stored table of a set.
std::array<PenEntry, 256> StoredTable(const std::string& name, CRegistry& store);
