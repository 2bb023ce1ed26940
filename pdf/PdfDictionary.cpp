#include "pdf/PdfDictionary.h"

#include "pdf/detail/PdfOutput.h"

CPdfDictEntry::~CPdfDictEntry() {
  delete key;
  delete value;
}

std::string_view CPdfDictEntry::Key() const {
  return key ? std::string_view(key->Text()) : std::string_view();
}

void CPdfDictEntry::Write(std::FILE* file, CPdfXrefTable* xref) {
  if (!key || !value) return;
  key->Write(file, xref);
  pdfdetail::Put(file, " ");
  value->Write(file, xref);
}

void CPdfDictionary::Add(std::string_view key, CPdfObject* value) {
  if (!value) return;
  entries.Add(new CPdfDictEntry(new CPdfName(key), value));
}

void CPdfDictionary::Add(std::string_view key, std::string_view nameText) {
  Add(key, new CPdfName(nameText));
}

void CPdfDictionary::Add(std::string_view key, std::int32_t value) {
  Add(key, new CPdfInteger(value));
}

void CPdfDictionary::Set(std::string_view key, CPdfObject* value) {
  if (!value) return;
  const std::int32_t index = IndexOf(key);
  if (index < 0) {
    Add(key, value);
  } else {
    entries.SetAt(index, new CPdfDictEntry(new CPdfName(key), value));
  }
}

void CPdfDictionary::Set(std::string_view key, std::int32_t value) {
  Set(key, new CPdfInteger(value));
}

void CPdfDictionary::Set(std::string_view key, std::string_view text) {
  Set(key, new CPdfString(text));
}

std::int32_t CPdfDictionary::IndexOf(std::string_view key) const {
  for (std::int32_t i = 0; i < entries.Count(); ++i) {
    const CPdfDictEntry* entry = entries.GetAt(i);
    if (entry && entry->Key() == key) return i;
  }
  return -1;
}

CPdfDictEntry* CPdfDictionary::FindEntry(std::string_view key) const {
  return entries.GetAt(IndexOf(key));
}

CPdfObject* CPdfDictionary::Find(std::string_view key) const {
  const CPdfDictEntry* entry = FindEntry(key);
  return entry ? entry->Value() : nullptr;
}

void CPdfDictionary::Remove(std::string_view key) {
  for (std::int32_t index = IndexOf(key); index >= 0; index = IndexOf(key)) {
    entries.RemoveAt(index);
  }
}

void CPdfDictionary::Write(std::FILE* file, CPdfXrefTable* xref) {
  pdfdetail::Put(file, "<<");
  for (std::int32_t i = 0; i < entries.Count(); ++i) {
    if (i > 0) pdfdetail::Put(file, "\n");
    if (CPdfDictEntry* entry = entries.GetAt(i)) entry->Write(file, xref);
  }
  pdfdetail::Put(file, ">>");
}
