#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>

// Small writers shared by the object classes. They never report: a failing stream keeps its
// error flag, which CPdfDocument::Save checks once the whole file is written.
namespace pdfdetail {

inline void Put(std::FILE* file, std::string_view bytes) {
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
}

inline void PutInt(std::FILE* file, std::int64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  std::fwrite(text, 1, static_cast<std::size_t>(result.ptr - text), file);
}

// Appends the literal-string form of bytes to a file: "(", the bytes with a backslash before
// every backslash and parenthesis, ")". Text strings holding UTF-8 above 127 are written as
// UTF-16BE with a byte-order mark (see PdfString.cpp).
void PutLiteralString(std::FILE* file, std::string_view text);

}  // namespace pdfdetail
