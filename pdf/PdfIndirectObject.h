#pragma once

#include <cstdint>
#include <functional>

#include "pdf/PdfDictionary.h"
#include "pdf/PdfObject.h"

// The new number of each old one, when objects move from one document into another.
using PdfRenumbering = std::function<std::int32_t(std::int32_t)>;

// A numbered object: "N 0 obj", its direct object (or null), "endobj". Its constructor takes
// the next number from the document's counter nextObjectNumber and increments it. Writing it
// records its byte offset in the cross-reference table; a stream is followed by its length.
class CPdfIndirectObject : public CPdfObject {
 public:
  // object is taken over and may be null.
  explicit CPdfIndirectObject(std::int32_t* nextObjectNumber, CPdfObject* object = nullptr);
  ~CPdfIndirectObject() override;

  std::int32_t Number() const { return number; }
  std::int32_t Generation() const { return generation; }
  CPdfObject* Object() const { return object; }
  // Gives the object another number, as when it moves into another document. A stream's length
  // object is numbered on its own (RenumberWithLength does both).
  void Renumber(std::int32_t newNumber) { number = newNumber; }
  void RenumberWithLength(const PdfRenumbering& renumber);
  // Destroys the current direct object and takes over the new one.
  void SetObject(CPdfObject* newObject);

  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfObject* object;
  std::int32_t number;
  std::int32_t generation = 0;
};

// A numbered object whose direct object is a dictionary made with it: the base of the
// catalog, the page tree node, the pages and the bookmarks.
class CPdfDictObject : public CPdfIndirectObject {
 public:
  explicit CPdfDictObject(std::int32_t* nextObjectNumber);
  CPdfDictionary* Dictionary() const { return static_cast<CPdfDictionary*>(Object()); }
};
