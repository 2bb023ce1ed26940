#include "pdf/PdfContentStream.h"

#include <zlib.h>

#include <cstdlib>

#include "pdf/PdfArray.h"

void CPdfContentStream::Compress() {
  compressed = false;
  const auto sourceLength = static_cast<uLong>(static_cast<std::uint32_t>(Length()));
  const uLong bound = sourceLength + static_cast<uLong>(sourceLength * 0.001 + 16);
  auto* deflated = static_cast<std::uint8_t*>(std::malloc(bound));
  if (!deflated) return;
  static const Bytef kNothing = 0;
  uLongf outLength = bound;
  const int result = compress(deflated, &outLength, Data() ? Data() : &kNothing, sourceLength);
  if (result != Z_OK || outLength == 0 || outLength > static_cast<uLongf>(kMaxLength)) {
    std::free(deflated);
    return;
  }
  // Give back the unused part of the bound; keeping the larger block is harmless if it fails.
  if (auto* fitted = static_cast<std::uint8_t*>(std::realloc(deflated, outLength))) {
    deflated = fitted;
  }
  ReplaceData(deflated, static_cast<std::int32_t>(outLength));
  compressed = true;
  if (auto* filter = dynamic_cast<CPdfArray*>(Dictionary()->Find("Filter"))) {
    filter->InsertFirst("FlateDecode");
  } else {
    auto* names = new CPdfArray;
    names->Add("FlateDecode");
    Dictionary()->Set("Filter", names);
  }
}

void CPdfContentStream::WriteData(std::FILE* file) {
  if (Length() == 0) return;
  CPdfStream::WriteData(file);
  ReleaseData();
}

void CPdfContentStream::Write(std::FILE* file, CPdfXrefTable* xref) {
  if (!compressed) {
    if (auto* filter = dynamic_cast<CPdfArray*>(Dictionary()->Find("Filter"))) {
      for (std::int32_t i = filter->Count() - 1; i >= 0; --i) {
        const auto* name = dynamic_cast<const CPdfName*>(filter->GetAt(i));
        if (name && name->Text() == "FlateDecode") {
          filter->RemoveAt(i);
          break;
        }
      }
      if (filter->Count() == 0) Dictionary()->Remove("Filter");
    }
  }
  CPdfStream::Write(file, xref);
}
