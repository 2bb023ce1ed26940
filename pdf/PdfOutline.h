#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PdfIndirectObject.h"

// One bookmark, or the root of the bookmark tree (the document's outline object). Children
// are kept as a chain first → next → … owned by their parent. Title, Prev, Next, First, Last
// and Count are derived when the tree is written, so children may be added at any time.
class CPdfOutline : public CPdfDictObject {
 public:
  // parent is null for the root.
  CPdfOutline(std::int32_t* nextObjectNumber, CPdfOutline* parent);
  ~CPdfOutline() override;

  // Appends a new last child, or returns null when memory is short (nothing changes then).
  CPdfOutline* AddChild(std::int32_t* nextObjectNumber);
  // Destroys the children that follow keep (all of them when keep is null), with theirs.
  void RemoveChildrenAfter(CPdfOutline* keep);
  // Appends the children of other (with theirs) after this item's last child; other is left
  // without children.
  void TakeChildren(CPdfOutline& other);
  // Renumbers this item and all its descendants.
  void RenumberAll(const PdfRenumbering& renumber);
  // Ignored on the root.
  void SetTitle(std::string_view text);
  // Sets the destination [page /view numbers]; ignored on the root. "XYZ" takes left and top
  // (omitted when left, bottom and top are all 0), "FitH" top, "FitV" and "FitBV" left, "FitR"
  // all four, any other view none.
  void SetDest(CPdfIndirectObject* page, std::string_view viewName, std::int32_t left,
               std::int32_t bottom, std::int32_t right, std::int32_t top);

  CPdfOutline* Parent() const { return parent; }
  CPdfOutline* First() const { return first; }
  CPdfOutline* Last() const { return last; }
  CPdfOutline* Prev() const { return prev; }
  CPdfOutline* Next() const { return next; }
  const std::string& Title() const { return title; }
  // The number of all descendants: children, their children and so on.
  std::int32_t DescendantCount() const;

  // Writes the item and then its children, depth first.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfOutline* parent;
  CPdfOutline* first = nullptr;
  CPdfOutline* last = nullptr;
  CPdfOutline* prev = nullptr;
  CPdfOutline* next = nullptr;
  std::string title;
};
