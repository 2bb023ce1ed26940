#include "pdf/PdfOutline.h"

#include <new>

#include "pdf/PdfArray.h"

CPdfOutline::CPdfOutline(std::int32_t* nextObjectNumber, CPdfOutline* parent)
    : CPdfDictObject(nextObjectNumber), parent(parent) {
  if (parent) {
    Dictionary()->Add("Parent", new CPdfReference(parent));
  } else {
    Dictionary()->Add("Type", "Outlines");
  }
}

CPdfOutline::~CPdfOutline() {
  for (CPdfOutline* child = first; child;) {
    CPdfOutline* following = child->next;
    delete child;
    child = following;
  }
}

CPdfOutline* CPdfOutline::AddChild(std::int32_t* nextObjectNumber) {
  CPdfOutline* child;
  try {
    child = new CPdfOutline(nextObjectNumber, this);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  child->prev = last;
  if (last) {
    last->next = child;
  } else {
    first = child;
  }
  last = child;
  return child;
}

void CPdfOutline::RemoveChildrenAfter(CPdfOutline* keep) {
  CPdfOutline* child = keep ? keep->next : first;
  while (child) {
    CPdfOutline* following = child->next;
    delete child;
    child = following;
  }
  if (keep) {
    keep->next = nullptr;
  } else {
    first = nullptr;
  }
  last = keep;
}

void CPdfOutline::TakeChildren(CPdfOutline& other) {
  if (!other.first) return;
  for (CPdfOutline* child = other.first; child; child = child->next) {
    child->parent = this;
    if (auto* ref = dynamic_cast<CPdfReference*>(child->Dictionary()->Find("Parent"))) {
      ref->Retarget(this);
    }
  }
  other.first->prev = last;
  if (last) {
    last->next = other.first;
  } else {
    first = other.first;
  }
  last = other.last;
  other.first = other.last = nullptr;
}

void CPdfOutline::RenumberAll(const PdfRenumbering& renumber) {
  Renumber(renumber(Number()));
  for (CPdfOutline* child = first; child; child = child->next) child->RenumberAll(renumber);
}

void CPdfOutline::SetTitle(std::string_view text) {
  if (parent) title = text;
}

void CPdfOutline::SetDest(CPdfIndirectObject* page, std::string_view viewName, std::int32_t left,
                          std::int32_t bottom, std::int32_t right, std::int32_t top) {
  if (!parent) return;
  auto* dest = new CPdfArray;
  dest->Add(new CPdfReference(page));
  dest->Add(viewName);
  const auto numbers = [dest](std::initializer_list<std::int32_t> values) {
    for (std::int32_t value : values) dest->Add(new CPdfInteger(value));
  };
  if (viewName == "XYZ") {
    // [page /XYZ left top zoom], a zoom of 0 keeping the viewer's.
    if (left != 0 || bottom != 0 || top != 0) numbers({left, top, 0});
  } else if (viewName == "FitH") {
    numbers({top});
  } else if (viewName == "FitV" || viewName == "FitBV") {
    numbers({left});
  } else if (viewName == "FitR") {
    numbers({left, bottom, right, top});
  }
  Dictionary()->Set("Dest", dest);
}

std::int32_t CPdfOutline::DescendantCount() const {
  std::int32_t count = 0;
  for (const CPdfOutline* child = first; child; child = child->next) {
    count += 1 + child->DescendantCount();
  }
  return count;
}

void CPdfOutline::Write(std::FILE* file, CPdfXrefTable* xref) {
  CPdfDictionary* dict = Dictionary();
  if (parent) {
    dict->Set("Title", std::string_view(title));
  } else {
    dict->Remove("Title");
  }
  if (prev) dict->Set("Prev", new CPdfReference(prev));
  if (next) dict->Set("Next", new CPdfReference(next));
  if (first) {
    dict->Set("First", new CPdfReference(first));
    dict->Set("Last", new CPdfReference(last));
    dict->Set("Count", DescendantCount());
  } else {
    dict->Set("Count", 0);
  }
  CPdfIndirectObject::Write(file, xref);
  for (CPdfOutline* child = first; child; child = child->next) child->Write(file, xref);
}
