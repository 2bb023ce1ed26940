#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

// The longest name a stored set can have, in bytes: the longest key name of the registry.
inline constexpr std::size_t kLongestPenSetName = 255;

// Whether a set of that name can be stored and named again. The name is the name of a key in the
// settings store: it cannot be empty, longer than kLongestPenSetName bytes or hold a "\"; a line
// break or other control character would break the store's lines (and the program's one-line
// messages), and text that is not UTF-8 could not be named again from the wizard, which reads
// names as UTF-8. False with *why (when given) saying what is wrong, e.g. "the name is longer than
// 255 bytes".
bool CheckPenSetName(std::string_view name, std::string* why = nullptr);

// The name as a message can quote it on one line: control characters and bytes that are not
// UTF-8 as \n, \r, \t or \xNN, and a name longer than 60 bytes cut after the character that
// reaches the 60th byte, followed by "... (N bytes)".
std::string PenSetNameForMessage(std::string_view name);

// Registry storage. Every operation works on the store given (the user's by default); what
// cannot be read takes its default.
void LoadCurrentPenSet(CPenSet& set, CRegistry& store);
void LoadCurrentPenSet();
void SaveCurrentPenSet(const CPenSet& set, CRegistry& store);
void SaveCurrentPenSet();
// Fills the table from the stored set of that name; defaults when there is none.
void LoadPenSet(const std::string& name, std::array<PenEntry, 256>& entries, CRegistry& store);
// Renames the set to name ("Default" when empty), makes it the stored current set and stores
// its table. False when the name cannot be stored (CheckPenSetName) or the store cannot be
// written; inside a batch of the caller's, the write is the batch's (CRegistryBatch::Commit).
bool SavePenSet(CPenSet& set, const std::string& name, CRegistry& store);
// Stores a table under name without making it the current set. False, with nothing stored, when
// the name cannot be stored (CheckPenSetName), and false when the store cannot be written; inside
// a batch of the caller's, the write is the batch's (CRegistryBatch::Commit).
bool StorePenSetTable(const std::string& name, const std::array<PenEntry, 256>& entries,
                      CRegistry& store);
// The stored set names, in the store's order; none when there are none. A name too long for
// the stored current set's name (512 bytes with its NUL) is left out: only a damaged or
// hand-made store holds one.
std::vector<std::string> StoredPenSetNames(CRegistry& store);
// The stored set names, in the store's order; just "Default" when there are none.
std::vector<std::string> ListPenSets(CRegistry& store);
void DeletePenSet(const std::string& name, CRegistry& store);
