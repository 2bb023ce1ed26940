#pragma once

#include <string_view>

#include "pdf/PdfObject.h"

// An array of objects, written "[a b c]"; a null element is written "null". Elements are owned.
class CPdfArray : public CPdfObject {
 public:
  std::int32_t Count() const { return items.Count(); }
  CPdfObject* GetAt(std::int32_t index) const { return items.GetAt(index); }
  void SetAt(std::int32_t index, CPdfObject* object) { items.SetAt(index, object); }

  // Appends an object (taken over; null is ignored) or a new name with the given text.
  void Add(CPdfObject* object) { items.Add(object); }
  void Add(std::string_view nameText);
  // Inserts at the front, shifting the others up.
  void InsertFirst(CPdfObject* object) { items.InsertFirst(object); }
  void InsertFirst(std::string_view nameText);
  // Destroys the element and closes the gap; an index out of range is ignored.
  void RemoveAt(std::int32_t index) { items.RemoveAt(index); }
  // Destroys the elements from index keep on.
  void Truncate(std::int32_t keep) { items.Truncate(keep); }

  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfList<CPdfObject> items;
};
