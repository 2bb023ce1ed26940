#include "pdf/PdfArray.h"

#include "pdf/PdfPrimitives.h"
#include "pdf/detail/PdfOutput.h"

void CPdfArray::Add(std::string_view nameText) {
  items.Add(new CPdfName(nameText));
}

void CPdfArray::InsertFirst(std::string_view nameText) {
  items.InsertFirst(new CPdfName(nameText));
}

void CPdfArray::Write(std::FILE* file, CPdfXrefTable* xref) {
  pdfdetail::Put(file, "[");
  for (std::int32_t i = 0; i < items.Count(); ++i) {
    if (i > 0) pdfdetail::Put(file, " ");
    if (CPdfObject* item = items.GetAt(i)) {
      item->Write(file, xref);
    } else {
      pdfdetail::Put(file, "null");
    }
  }
  pdfdetail::Put(file, "]");
}
