// Literal strings: escaping and the text encoding of strings shown to the user.
#include <cstdint>
#include <string>

#include "pdf/detail/PdfOutput.h"
#include "platform/Utf8.h"

namespace pdfdetail {

namespace {

void PutEscaped(std::FILE* file, std::string_view bytes, bool escapeCarriageReturn) {
  // Copy runs of plain bytes in one call and escape the few special ones.
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\\' || c == '(' || c == ')') {
      Put(file, bytes.substr(start, i - start));
      const char escaped[2] = {'\\', c};
      Put(file, std::string_view(escaped, 2));
      start = i + 1;
    } else if (c == '\r' && escapeCarriageReturn) {
      Put(file, bytes.substr(start, i - start));
      Put(file, "\\r");
      start = i + 1;
    }
  }
  Put(file, bytes.substr(start));
}

}  // namespace

void PutLiteralString(std::FILE* file, std::string_view text) {
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  Put(file, "(");
  if (ascii || !::IsValidUtf8(text)) {
    PutEscaped(file, text, false);
  } else {
    std::string utf16 = "\xFE\xFF";
    utf16.reserve(2 + text.size() * 2);
    std::size_t i = 0;
    char32_t cp = 0;
    const auto unit = [&](std::uint32_t u) {
      utf16.push_back(static_cast<char>(u >> 8));
      utf16.push_back(static_cast<char>(u & 0xFF));
    };
    while (i < text.size()) {
      DecodeUtf8(text, i, cp);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        unit(0xD800 | (cp >> 10));
        unit(0xDC00 | (cp & 0x3FF));
      } else {
        unit(cp);
      }
    }
    // A bare carriage return inside a literal string is read back as a line feed, which would
    // change the UTF-16 code unit it belongs to; it is written as the escape \r instead.
    PutEscaped(file, utf16, true);
  }
  Put(file, ")");
}

}  // namespace pdfdetail
