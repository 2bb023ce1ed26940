#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "pensets/PenSet.h"

class CDrawing;
class CRegistry;

// Pen-set files (".cps"): a 26-byte header, the text "ZembStrandmerlyx Pen Sets" and a NUL,
// then one record per set: its name and a NUL, and 256 entries of a 16-bit destination colour
// and a 64-bit width in inches, all little-endian and unpadded. The list of sets ends at the
// end of the file or at an empty name.
inline constexpr char kPenSetFileHeader[] = "ZembStrandmerlyx Pen Sets";
inline constexpr long kPenSetFileHeaderSize = 26;
inline constexpr long kPenSetRecordSize = 256 * 10;

// Writes the header at the file's current position; false when the write fails.
bool WritePenSetHeader(std::FILE* file);
// Appends the set's record; nothing for a set with an empty name. False when the write fails.
bool WritePenSetRecord(const CPenSet& set, std::FILE* file);
// The names of the sets in the file, in file order; empty when the header does not match
// exactly. A set whose entries are cut off by the end of the file is still listed.
std::vector<std::string> ListFilePenSets(std::FILE* file);
// Reads the set of that name (compared without case) into set, which then takes the given
// name. False, with set unchanged, when there is no such set or its entries are cut off. A
// destination colour outside 0 … 255 becomes the entry's own index.
bool ReadFilePenSet(std::FILE* file, const std::string& name, CPenSet& set);

// Writes the header and the stored sets of the given names, in that order, to path. The file
// is written beside the target and renamed over it at the end, so a failed export leaves an
// earlier file of that name as it was. False when the file cannot be written.
bool ExportPenSetsToFile(const std::string& path, const std::vector<std::string>& names,
                         CRegistry& store);

// Builds a table from a colour-dependent plot style table read by the drawing library: each
// index takes the table's pen colour index (or the palette index nearest to the table's
// colour) and its width in millimetres, stored in inches. False when the library could not
// read the table; the entries are then those the library gives for an unread table, and *why
// (when given) holds the library's reason.
bool BuildPenTableFromCtb(const std::string& path, std::array<PenEntry, 256>& entries,
                          std::string* why = nullptr);
// The name a pen set imported from a plot style table takes: "AutoCAD-" and the file's name
// without folder and extension.
std::string CtbPenSetName(const std::string& path);
