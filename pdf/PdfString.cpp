// Literal strings: escaping and the text encoding of strings shown to the user.
#include <cstdint>
#include <string>

#include "pdf/detail/PdfOutput.h"

namespace pdfdetail {

namespace {

// Decodes the UTF-8 sequence at text[i]; false when it is not well formed.
bool NextCodePoint(std::string_view text, std::size_t& i, std::uint32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int extra;
  std::uint32_t minimum;
  if (lead < 0x80) {
    cp = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    const unsigned char c = byte(i + k);
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

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

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  std::uint32_t cp;
  while (i < text.size()) {
    if (!NextCodePoint(text, i, cp)) return false;
  }
  return true;
}

void PutLiteralString(std::FILE* file, std::string_view text) {
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  Put(file, "(");
  if (ascii || !IsValidUtf8(text)) {
    PutEscaped(file, text, false);
  } else {
    std::string utf16 = "\xFE\xFF";
    utf16.reserve(2 + text.size() * 2);
    std::size_t i = 0;
    std::uint32_t cp = 0;
    const auto unit = [&](std::uint32_t u) {
      utf16.push_back(static_cast<char>(u >> 8));
      utf16.push_back(static_cast<char>(u & 0xFF));
    };
    while (i < text.size()) {
      NextCodePoint(text, i, cp);
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
