#pragma once

#include <cstdint>
#include <cstring>

#include "pdf/PdfDictionary.h"
#include "pdf/PdfIndirectObject.h"
#include "pdf/PdfObject.h"

// A stream: a dictionary, "stream", the data bytes, "endstream". It always stands inside an
// indirect object made just before it, and owns the numbered object holding its length (the
// data bytes plus the line feed before endstream), which is written right after the stream.
class CPdfStream : public CPdfObject {
 public:
  // The largest number of data bytes a stream holds: its written length, one more, must still
  // be a 32-bit integer.
  static constexpr std::int32_t kMaxLength = INT32_MAX - 1;

  explicit CPdfStream(std::int32_t* nextObjectNumber);
  ~CPdfStream() override;

  bool IsStream() const override { return true; }
  virtual void Compress() {}
  virtual void WriteData(std::FILE* file);
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

  // Adds n bytes at the end of the data. False when n is negative, when the data would pass
  // kMaxLength, or when memory is short; nothing is appended then.
  bool Append(const void* bytes, std::int32_t n) {
    if (data && n >= 0 && capacity - length >= n) {
      if (n > 0) std::memcpy(data + length, bytes, static_cast<std::size_t>(n));
      length += n;
      return true;
    }
    return AppendGrowing(bytes, n);
  }
  bool Append(const char* text) {
    return Append(text, static_cast<std::int32_t>(std::strlen(text)));
  }
  // Grows the buffer now so that n more bytes fit; false as for Append.
  bool Reserve(std::int32_t n);

  CPdfDictionary* Dictionary() { return &dictionary; }
  CPdfIndirectObject* LengthObject() const { return lengthObject; }
  const std::uint8_t* Data() const { return data; }
  std::int32_t Length() const { return length; }
  std::int32_t Capacity() const { return capacity; }

 protected:
  // Frees the data and takes over newData (from malloc) as data of newLength bytes.
  void ReplaceData(std::uint8_t* newData, std::int32_t newLength);
  // Frees the data: the stream is empty afterwards.
  void ReleaseData();
  // Forgets the data but keeps the buffer for the next appends.
  void ClearData() { length = 0; }
  // Hands the data (from malloc, the caller frees it) and its length over; the stream is empty
  // afterwards and the next append starts a new buffer.
  std::uint8_t* DetachData(std::int32_t& detachedLength) {
    std::uint8_t* detached = data;
    detachedLength = length;
    data = nullptr;
    capacity = length = 0;
    return detached;
  }
  // Called when an append does not fit the buffer, before it grows: a stream that passes its
  // data on as it arrives takes it here (and clears it) so that the buffer need not grow.
  // False when the data could not be taken; the append then fails.
  virtual bool TakeData() { return true; }

 private:
  bool AppendGrowing(const void* bytes, std::int32_t n);
  bool Grow(std::int32_t n);

  std::uint8_t* data = nullptr;
  std::int32_t capacity = 0;
  std::int32_t growthStep = 1048576;
  std::int32_t length = 0;
  CPdfIndirectObject* lengthObject;
  CPdfInteger* lengthValue;
  CPdfDictionary dictionary;
};
