#pragma once

#include <cstdint>
#include <string_view>

#include "pdf/PdfObject.h"
#include "pdf/PdfPrimitives.h"

// One key and value of a dictionary, written "/Key value"; nothing when either is missing.
// Both are owned.
class CPdfDictEntry : public CPdfObject {
 public:
  CPdfDictEntry(CPdfName* key, CPdfObject* value) : key(key), value(value) {}
  ~CPdfDictEntry() override;

  // The key's text without the slash; empty when there is no key.
  std::string_view Key() const;
  CPdfObject* Value() const { return value; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfName* key;
  CPdfObject* value;
};

// A dictionary, written "<<" entries separated by LF ">>". Entries keep the order in which
// they were added; Set replaces an entry in its own position. Keys are compared byte for byte.
class CPdfDictionary : public CPdfObject {
 public:
  std::int32_t Count() const { return entries.Count(); }
  CPdfDictEntry* GetAt(std::int32_t index) const { return entries.GetAt(index); }

  // Appends an entry without looking at the existing keys. The value is an object (taken
  // over), a name text (a new name) or an integer.
  void Add(std::string_view key, CPdfObject* value);
  void Add(std::string_view key, std::string_view nameText);
  void Add(std::string_view key, std::int32_t value);
  void Add(std::string_view key, const char* nameText) { Add(key, std::string_view(nameText)); }

  // Replaces the first entry of that key in its position, or appends. The value is an object
  // (taken over), an integer, or a text that becomes a literal string.
  void Set(std::string_view key, CPdfObject* value);
  void Set(std::string_view key, std::int32_t value);
  void Set(std::string_view key, std::string_view text);
  void Set(std::string_view key, const char* text) { Set(key, std::string_view(text)); }

  // The value or entry of the first entry with that key, or null.
  CPdfObject* Find(std::string_view key) const;
  CPdfDictEntry* FindEntry(std::string_view key) const;
  // Destroys and removes every entry with that key.
  void Remove(std::string_view key);

  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::int32_t IndexOf(std::string_view key) const;

  CPdfList<CPdfDictEntry> entries;
};
