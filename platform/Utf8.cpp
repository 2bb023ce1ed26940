#include "platform/Utf8.h"

namespace {

// The value of the sequence at text[at] and its length, or length 0.
struct Decoded {
  char32_t cp = 0;
  std::size_t length = 0;
};

Decoded Decode(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  char32_t cp, minimum;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return {};
  }
  if (text.size() - at < length) return {};
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byte(at + k);
    if ((next & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (next & 0x3F);
  }
  // Overlong forms would let one character be spelled several ways.
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  return {cp, length};
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  return Decode(text, at).length;
}

bool DecodeUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
  const Decoded decoded = Decode(text, i);
  if (decoded.length == 0) return false;
  cp = decoded.cp;
  i += decoded.length;
  return true;
}

char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const Decoded decoded = Decode(text, i);
  if (decoded.length == 0) {
    ++i;
    return kReplacementCharacter;
  }
  i += decoded.length;
  return decoded.cp;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsUtf8WithMultibyte(std::string_view text) {
  bool multibyte = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    multibyte = multibyte || length > 1;
    i += length;
  }
  return multibyte;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendCheckedUtf8(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      AppendUtf8(kReplacementCharacter, out);
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
}
