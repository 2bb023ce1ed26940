#pragma once

// Compares two drawing models read from different files of the same drawing (a DWG file and
// its DXF twin) and lists where they differ, one line per kind of difference.

#include <string>
#include <vector>

#include "drawing/Model.h"

namespace modeltest {

// One kind of difference: `key` names what differs without values ("layer Defpoints:
// plottable", "*Model_Space LINE: start"), so that a list of known differences can name it;
// `detail` gives the first values that differ and how often it occurs.
struct CDifference {
  std::string key;
  std::string detail;
};

// The differences of `actual` from `expected`: layers, linetypes, text styles, blocks (names,
// flags, entity counts per kind), layouts with their plot settings, the header values both
// formats store, the kinds skipped with their counts, and entity by entity in file order for
// every block whose sequence of kinds agrees (coordinates within 1e-9 relative).
std::vector<CDifference> CompareModels(const drawing::Drawing& expected,
                                       const drawing::Drawing& actual);

}  // namespace modeltest
