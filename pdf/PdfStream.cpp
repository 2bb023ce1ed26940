#include "pdf/PdfStream.h"

#include <algorithm>
#include <cstdlib>

#include "pdf/detail/PdfOutput.h"

CPdfStream::CPdfStream(std::int32_t* nextObjectNumber)
    : lengthObject(new CPdfIndirectObject(nextObjectNumber, new CPdfInteger(0))),
      lengthValue(static_cast<CPdfInteger*>(lengthObject->Object())) {}

CPdfStream::~CPdfStream() {
  std::free(data);
  delete lengthObject;
}

bool CPdfStream::Grow(std::int32_t n) {
  // A single large piece doubles the step while it is below 10 MiB, and then takes just what
  // is needed, so that a large stream is copied only a few times.
  std::int64_t step = growthStep;
  if (n > step) step = step < 10485760 ? 2 * static_cast<std::int64_t>(n) : n + 2;
  const std::int64_t wanted =
      std::min<std::int64_t>(static_cast<std::int64_t>(capacity) + step, kMaxLength);
  // realloc moves the used bytes into the larger block; for the large blocks of a growing
  // stream it remaps the pages instead of copying them, so growing by 1 MiB steps stays cheap.
  auto* grown = static_cast<std::uint8_t*>(std::realloc(data, static_cast<std::size_t>(wanted)));
  if (!grown) return false;
  data = grown;
  capacity = static_cast<std::int32_t>(wanted);
  growthStep = static_cast<std::int32_t>(std::min<std::int64_t>(step, INT32_MAX));
  return true;
}

bool CPdfStream::Reserve(std::int32_t n) {
  if (n < 0 || n > kMaxLength - length) return false;
  if (data && capacity - length >= n) return true;
  return Grow(n);
}

bool CPdfStream::AppendGrowing(const void* bytes, std::int32_t n) {
  if (n < 0 || (length > 0 && !TakeData())) return false;
  if (!Reserve(n)) return false;
  if (n > 0) std::memcpy(data + length, bytes, static_cast<std::size_t>(n));
  length += n;
  return true;
}

void CPdfStream::ReplaceData(std::uint8_t* newData, std::int32_t newLength) {
  std::free(data);
  data = newData;
  capacity = length = newLength;
}

void CPdfStream::ReleaseData() {
  std::free(data);
  data = nullptr;
  capacity = length = 0;
}

void CPdfStream::WriteData(std::FILE* file) {
  if (length > 0) std::fwrite(data, 1, static_cast<std::size_t>(length), file);
}

void CPdfStream::Write(std::FILE* file, CPdfXrefTable* xref) {
  dictionary.Set("Length", new CPdfReference(lengthObject));
  dictionary.Write(file, xref);
  pdfdetail::Put(file, "\nstream\n");
  const long start = std::ftell(file);
  WriteData(file);
  const long written = std::ftell(file) - start;
  lengthValue->SetValue(static_cast<std::int32_t>(std::clamp<long>(written + 1, 1, INT32_MAX)));
  pdfdetail::Put(file, "\nendstream");
}
