#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CRegistry;

// One row of a pen set: the pen width in inches (0: the thinnest line the output draws) and
// the colour index with which entities of this row's colour index are drawn.
struct PenEntry {
  double width = 0.0;
  std::int16_t destColor = 0;
};

// A named table giving each of the 256 drawing colour indices a pen width and a destination
// colour. A new set has an empty name, widths 0 and destination colours equal to their index.
class CPenSet {
 public:
  CPenSet();
  // Every entry back to its default (width 0, destColor = its index).
  void ResetEntries();

  std::string name;
  std::array<PenEntry, 256> entries;
  bool usePenWidth = false;
};

// The current pen set: one instance for the whole process, loaded at start-up and saved at
// exit. It has no lock: only the user-interface thread changes it, and never during a run.
CPenSet& CurrentPenSet();

// Registry storage. Every operation works on the store given (the user's by default) and
// reports nothing; what cannot be read takes its default.
void LoadCurrentPenSet(CPenSet& set, CRegistry& store);
void LoadCurrentPenSet();
void SaveCurrentPenSet(const CPenSet& set, CRegistry& store);
void SaveCurrentPenSet();
// Fills the table from the stored set of that name; defaults when there is none.
void LoadPenSet(const std::string& name, std::array<PenEntry, 256>& entries, CRegistry& store);
// Renames the set to name ("Default" when empty), makes it the stored current set and stores
// its table.
void SavePenSet(CPenSet& set, const std::string& name, CRegistry& store);
// Stores a table under name without making it the current set; nothing for an empty name.
void StorePenSetTable(const std::string& name, const std::array<PenEntry, 256>& entries,
                      CRegistry& store);
// The stored set names, in the store's order; none when there are none.
std::vector<std::string> StoredPenSetNames(CRegistry& store);
// The stored set names, in the store's order; just "Default" when there are none.
std::vector<std::string> ListPenSets(CRegistry& store);
void DeletePenSet(const std::string& name, CRegistry& store);
