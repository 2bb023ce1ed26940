#pragma once

#include "pdf/PdfStream.h"

// A stream that can be deflated: a page's content or an image's samples. It is filled by
// appends, deflated once after the last append, and written once; writing releases its data.
class CPdfContentStream : public CPdfStream {
 public:
  using CPdfStream::CPdfStream;

  // Deflates the data with zlib at the default level and names FlateDecode first in the
  // dictionary's Filter array. On failure the data stays as it was, silently.
  void Compress() override;
  // Writes the data and releases it.
  void WriteData(std::FILE* file) override;
  // Drops a FlateDecode left in Filter when the data was not deflated, then writes the stream.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

  bool IsCompressed() const { return compressed; }

 private:
  bool compressed = false;
};
