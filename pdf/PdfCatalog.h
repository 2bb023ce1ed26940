#pragma once

#include <cstdint>

#include "pdf/PdfIndirectObject.h"
#include "pdf/PdfOutline.h"
#include "pdf/PdfPage.h"

class CPdfArray;

// The document catalog, object 1. It makes and owns the outline root (object 2) and the page
// tree root (object 3), and holds the optional content properties (OCGs and D/Order) directly.
class CPdfCatalog : public CPdfDictObject {
 public:
  explicit CPdfCatalog(std::int32_t* nextObjectNumber);
  ~CPdfCatalog() override;

  CPdfOutline* OutlineRoot() const { return outlineRoot; }
  CPdfPageTreeNode* PageTreeRoot() const { return pageTreeRoot; }
  CPdfDictionary* OptionalContent() const { return optionalContent; }
  // The OCGs array and the Order array inside D, both lists of every layer.
  CPdfArray* LayerGroups() const { return layerGroups; }
  CPdfArray* LayerOrder() const { return layerOrder; }

  // Writes the catalog, then the outline tree, then the page tree with its pages.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfOutline* outlineRoot;
  CPdfPageTreeNode* pageTreeRoot;
  CPdfDictionary* optionalContent;
  CPdfArray* layerGroups;
  CPdfArray* layerOrder;
};
