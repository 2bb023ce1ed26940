#pragma once

#include <cstdint>

#include "pdf/PdfObject.h"

// One line of the cross-reference table. Offsets are 64-bit so that a merged file larger than
// 2 GiB still gets exact offsets.
class CPdfXrefEntry : public CPdfObject {
 public:
  CPdfXrefEntry(std::int32_t number, std::int64_t offset, std::int32_t generation, bool inUse)
      : number(number), offset(offset), generation(generation), inUse(inUse) {}

  std::int32_t Number() const { return number; }
  std::int64_t Offset() const { return offset; }
  // Writes the 20-byte entry "oooooooooo ggggg n \n" (or " f \n" for a free one).
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::int32_t number;
  std::int64_t offset;
  std::int32_t generation;
  bool inUse;
};

// The cross-reference table, filled while the file is written: every numbered object adds its
// entry as it writes itself. It starts with entry 0, free, generation 65535.
class CPdfXrefTable : public CPdfObject {
 public:
  CPdfXrefTable();

  void AddEntry(std::int32_t number, std::int64_t offset, std::int32_t generation, bool inUse);
  std::int32_t Count() const { return entries.Count(); }

  // The number of entries the section must have: the document's nextObjectNumber, which the
  // trailer names as its Size.
  void SetSize(std::int32_t size) { expectedSize = size; }

  // Writes "xref", one subsection from object 0, and the entries in ascending order. A number
  // below the size that no object recorded (an object that could not be written) gets a free
  // entry, so that every entry stays at the place of its number and the count equals Size.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

  // An object that found no memory to write itself notes so here; its number gets a free entry.
  void NoteLostObject() { ++lostObjects; }
  std::int32_t LostObjects() const { return lostObjects; }

 private:
  CPdfList<CPdfXrefEntry> entries;
  std::int32_t expectedSize = 0;
  std::int32_t lostObjects = 0;
};
