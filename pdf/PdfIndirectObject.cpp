#include "pdf/PdfIndirectObject.h"

#include "pdf/PdfStream.h"
#include "pdf/PdfXrefTable.h"
#include "pdf/detail/PdfOutput.h"

CPdfIndirectObject::CPdfIndirectObject(std::int32_t* nextObjectNumber, CPdfObject* object)
    : object(object), number((*nextObjectNumber)++) {}

CPdfIndirectObject::~CPdfIndirectObject() {
  delete object;
}

void CPdfIndirectObject::SetObject(CPdfObject* newObject) {
  if (newObject == object) return;
  delete object;
  object = newObject;
}

void CPdfIndirectObject::RenumberWithLength(const PdfRenumbering& renumber) {
  number = renumber(number);
  if (object && object->IsStream()) {
    CPdfIndirectObject* length = static_cast<CPdfStream*>(object)->LengthObject();
    length->Renumber(renumber(length->Number()));
  }
}

void CPdfIndirectObject::Write(std::FILE* file, CPdfXrefTable* xref) {
  if (xref) xref->AddEntry(number, std::ftell(file), generation, true);
  pdfdetail::PutInt(file, number);
  pdfdetail::Put(file, " ");
  pdfdetail::PutInt(file, generation);
  pdfdetail::Put(file, " obj\n");
  if (object) {
    object->Write(file, xref);
  } else {
    pdfdetail::Put(file, "null");
  }
  pdfdetail::Put(file, "\nendobj\n");
  if (object && object->IsStream()) {
    static_cast<CPdfStream*>(object)->LengthObject()->Write(file, xref);
  }
}

CPdfDictObject::CPdfDictObject(std::int32_t* nextObjectNumber)
    : CPdfIndirectObject(nextObjectNumber, new CPdfDictionary) {}
