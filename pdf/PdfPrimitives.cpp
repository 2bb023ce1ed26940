#include "pdf/PdfPrimitives.h"

#include "pdf/PdfIndirectObject.h"
#include "pdf/detail/PdfOutput.h"

using pdfdetail::Put;
using pdfdetail::PutInt;

void CPdfInteger::Write(std::FILE* file, CPdfXrefTable*) {
  PutInt(file, value);
}

void CPdfBoolean::Write(std::FILE* file, CPdfXrefTable*) {
  Put(file, value ? "true" : "false");
}

void CPdfName::Write(std::FILE* file, CPdfXrefTable*) {
  Put(file, "/");
  Put(file, text);
}

void CPdfString::Write(std::FILE* file, CPdfXrefTable*) {
  pdfdetail::PutLiteralString(file, text);
}

void CPdfReference::Write(std::FILE* file, CPdfXrefTable*) {
  if (!target) {
    Put(file, "null");
    return;
  }
  PutInt(file, target->Number());
  Put(file, " ");
  PutInt(file, target->Generation());
  Put(file, " R");
}
