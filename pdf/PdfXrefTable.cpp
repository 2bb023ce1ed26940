#include "pdf/PdfXrefTable.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "pdf/detail/PdfOutput.h"

void CPdfXrefEntry::Write(std::FILE* file, CPdfXrefTable*) {
  char line[48];
  std::snprintf(line, sizeof line, "%010" PRId64 " %05" PRId32 " %s \n", offset, generation,
                inUse ? "n" : "f");
  pdfdetail::Put(file, line);
}

CPdfXrefTable::CPdfXrefTable() {
  entries.Add(new CPdfXrefEntry(0, 0, 65535, false));
}

void CPdfXrefTable::AddEntry(std::int32_t number, std::int64_t offset, std::int32_t generation,
                             bool inUse) {
  entries.Add(new CPdfXrefEntry(number, offset, generation, inUse));
}

void CPdfXrefTable::Write(std::FILE* file, CPdfXrefTable*) {
  std::vector<CPdfXrefEntry*> sorted(entries.begin(), entries.end());
  std::stable_sort(
      sorted.begin(), sorted.end(),
      [](const CPdfXrefEntry* a, const CPdfXrefEntry* b) { return a->Number() < b->Number(); });
  const std::int32_t highest = sorted.empty() ? 0 : sorted.back()->Number();
  const std::int32_t size = std::max(expectedSize, highest + 1);

  pdfdetail::Put(file, "xref\n0 ");
  pdfdetail::PutInt(file, size);
  pdfdetail::Put(file, "\n");
  std::size_t next = 0;
  for (std::int32_t number = 0; number < size; ++number) {
    while (next < sorted.size() && sorted[next]->Number() < number) ++next;  // written twice
    if (next < sorted.size() && sorted[next]->Number() == number) {
      sorted[next++]->Write(file, nullptr);
    } else {
      CPdfXrefEntry(number, 0, 0, false).Write(file, nullptr);
    }
  }
}
