#include "pdf/PdfCatalog.h"

#include "pdf/PdfArray.h"

CPdfCatalog::CPdfCatalog(std::int32_t* nextObjectNumber)
    : CPdfDictObject(nextObjectNumber),
      outlineRoot(new CPdfOutline(nextObjectNumber, nullptr)),
      pageTreeRoot(new CPdfPageTreeNode(nextObjectNumber)),
      optionalContent(new CPdfDictionary),
      layerGroups(new CPdfArray),
      layerOrder(new CPdfArray) {
  optionalContent->Add("OCGs", layerGroups);
  auto* view = new CPdfDictionary;
  view->Add("Order", layerOrder);
  optionalContent->Add("D", view);

  CPdfDictionary* dict = Dictionary();
  dict->Add("Type", "Catalog");
  dict->Add("Pages", new CPdfReference(pageTreeRoot));
  dict->Add("Outlines", new CPdfReference(outlineRoot));
  dict->Add("OCProperties", optionalContent);
}

CPdfCatalog::~CPdfCatalog() {
  delete outlineRoot;
  delete pageTreeRoot;
}

void CPdfCatalog::Write(std::FILE* file, CPdfXrefTable* xref) {
  CPdfIndirectObject::Write(file, xref);
  outlineRoot->Write(file, xref);
  pageTreeRoot->Write(file, xref);
}
