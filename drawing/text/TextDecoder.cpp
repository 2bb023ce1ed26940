#include "drawing/text/TextDecoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Ascii.h"
#include "platform/Utf8.h"

namespace drawing {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The iconv names to try for a $DWGCODEPAGE value, best first; glibc knows all of them, other
// C libraries some.
std::vector<std::string> IconvNames(std::string_view codePage, bool& singleByte) {
  const std::string name = ToAsciiUpper(codePage);
  singleByte = true;
  auto doubleByte = [&](std::vector<std::string> names) {
    singleByte = false;
    return names;
  };
  if (name == "ANSI_932" || name == "DOS932" || name == "SHIFT_JIS") {
    return doubleByte({"CP932", "SHIFT_JIS"});
  }
  if (name == "ANSI_936" || name == "GB2312" || name == "GBK") {
    return doubleByte({"GBK", "CP936", "GB2312"});
  }
  if (name == "ANSI_949" || name == "KSC5601") return doubleByte({"CP949", "UHC", "EUC-KR"});
  if (name == "ANSI_950" || name == "BIG5") return doubleByte({"CP950", "BIG5"});
  if (name == "ANSI_1361" || name == "JOHAB") return doubleByte({"JOHAB"});
  if (name.rfind("ANSI_", 0) == 0) return {"CP" + name.substr(5)};
  if (name.rfind("DOS", 0) == 0) return {"CP" + name.substr(3)};
  if (name.rfind("ISO8859-", 0) == 0) return {"ISO-8859-" + name.substr(8)};
  if (name == "MACINTOSH") return {"MACINTOSH"};
  return {};
}

iconv_t OpenFirst(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    iconv_t handle = iconv_open("UTF-8", name.c_str());
    if (handle != kNoConverter) return handle;
  }
  return kNoConverter;
}

void AppendWithIconv(iconv_t handle, std::string_view raw, std::string& out) {
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  std::vector<char> buffer(raw.size() * 4 + 8);
  char* in = const_cast<char*>(raw.data());
  std::size_t inLeft = raw.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t result = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    if (result == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or incomplete sequence: one replacement character, then go on after it.
      AppendUtf8(0xFFFD, out);
      ++in;
      --inLeft;
      iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

}  // namespace

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Hex4(std::string_view text, std::size_t at) {
  if (at > text.size() || text.size() - at < 4) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool ReadUnicodeEscape(std::string_view text, std::size_t at, char32_t& codePoint,
                       std::size_t& length) {
  if (at + 2 >= text.size() || text[at] != '\\' || AsciiUpper(text[at + 1]) != 'U' ||
      text[at + 2] != '+') {
    return false;
  }
  const int unit = Hex4(text, at + 3);
  if (unit < 0) return false;
  codePoint = static_cast<char32_t>(unit);
  length = 7;
  // A character beyond the basic plane is written as its two UTF-16 halves.
  if (unit >= 0xD800 && unit <= 0xDBFF && text.substr(at + 7, 3) == "\\U+") {
    const int low = Hex4(text, at + 10);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                  (static_cast<char32_t>(low) - 0xDC00);
      length = 14;
    }
  }
  return true;
}

CTextDecoder::CTextDecoder() {
  SetCodePage("ANSI_1252", false);
}

CTextDecoder::~CTextDecoder() {
  if (converter) iconv_close(static_cast<iconv_t>(converter));
  for (void* handle : doubleByteConverters) {
    if (handle) iconv_close(static_cast<iconv_t>(handle));
  }
}

void CTextDecoder::SetCodePage(std::string_view codePage, bool isUtf8) {
  if (converter) iconv_close(static_cast<iconv_t>(converter));
  converter = nullptr;
  const std::string name = ToAsciiUpper(codePage);
  utf8 = isUtf8 || name == "UTF8" || name == "UTF-8";
  singleByte = true;
  if (utf8) return;
  std::vector<std::string> names = IconvNames(codePage, singleByte);
  iconv_t handle = OpenFirst(names);
  if (handle == kNoConverter) {
    singleByte = true;
    handle = OpenFirst({"CP1252", "ISO-8859-1"});
  }
  if (handle != kNoConverter) converter = handle;
}

bool CTextDecoder::IsPlain(std::string_view raw) {
  for (char c : raw) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\\') return false;
  }
  return true;
}

void CTextDecoder::Convert(std::string_view raw, std::string& out) {
  bool ascii = true;
  for (char c : raw) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    out.append(raw);
    return;
  }
  // Programs that ignore $DWGCODEPAGE write UTF-8 into older versions. Valid UTF-8 with
  // multi-byte characters is practically never a single-byte code page's text (it would
  // need an accented capital followed by symbols from 0x80-0xBF), so it is taken as UTF-8.
  // Double-byte code pages overlap UTF-8 too much for that guess.
  if (utf8 || (singleByte && IsUtf8WithMultibyte(raw)) || !converter) {
    if (!utf8 && !converter && !IsUtf8WithMultibyte(raw)) {
      for (char c : raw) AppendUtf8(static_cast<unsigned char>(c), out);  // Latin-1
      return;
    }
    AppendCheckedUtf8(raw, out);
    return;
  }
  AppendWithIconv(static_cast<iconv_t>(converter), raw, out);
}

bool CTextDecoder::AppendDoubleByte(int number, unsigned value, std::string& out) {
  if (number < 1 || number > 5) return false;
  if (!doubleByteTried[number]) {
    doubleByteTried[number] = true;
    static const std::vector<std::string> kNames[] = {
        {},        {"CP932", "SHIFT_JIS"}, {"CP950", "BIG5"}, {"CP949", "UHC"},
        {"JOHAB"}, {"GBK", "CP936"}};
    iconv_t handle = OpenFirst(kNames[number]);
    doubleByteConverters[number] = handle == kNoConverter ? nullptr : handle;
  }
  if (!doubleByteConverters[number]) return false;
  char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
  const std::string_view raw =
      (value >> 8) == 0 ? std::string_view(bytes + 1, 1) : std::string_view(bytes, 2);
  AppendWithIconv(static_cast<iconv_t>(doubleByteConverters[number]), raw, out);
  return true;
}

void CTextDecoder::DecodeEscapes(std::string_view text, bool mtext, std::string& out) {
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out.push_back(c);
      ++i;
      continue;
    }
    const char next = text[i + 1];
    if (mtext && next == '\\') {
      out.append("\\\\");
      i += 2;
      continue;
    }
    if (next == 'U') {
      char32_t codePoint = 0;
      std::size_t consumed = 0;
      if (ReadUnicodeEscape(text, i, codePoint, consumed)) {
        if (codePoint != 0) AppendUtf8(codePoint, out);
        i += consumed;
        continue;
      }
    }
    if (next == 'M' && i + 3 < text.size() && text[i + 2] == '+' && text[i + 3] >= '1' &&
        text[i + 3] <= '5') {
      const int value = Hex4(text, i + 4);
      if (value > 0 && AppendDoubleByte(text[i + 3] - '0', static_cast<unsigned>(value), out)) {
        i += 8;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
}

std::string CTextDecoder::Decode(std::string_view raw, bool mtext) {
  if (IsPlain(raw)) return std::string(raw);
  std::string converted;
  converted.reserve(raw.size() + raw.size() / 2);
  Convert(raw, converted);
  if (converted.find('\\') == std::string::npos) return converted;
  std::string decoded;
  decoded.reserve(converted.size());
  DecodeEscapes(converted, mtext, decoded);
  return decoded;
}

char32_t PercentCodeCharacter(unsigned value) {
  static constexpr char16_t kWindows1252[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  if (value < 0x20 || value == 0x7F) return 0;
  if (value >= 0x80 && value < 0xA0) return kWindows1252[value - 0x80];
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return value;
}

std::string ReplacePercentCodes(std::string_view text, std::vector<TextLineSpan>* spans) {
  if (text.find("%%") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  // Where each kind of line was turned on, or -1.
  std::int64_t on[3] = {-1, -1, -1};
  static constexpr char kKinds[3] = {'u', 'o', 'k'};
  const auto toggle = [&](int k) {
    if (on[k] < 0) {
      on[k] = static_cast<std::int64_t>(out.size());
      return;
    }
    if (spans && static_cast<std::size_t>(on[k]) < out.size()) {
      spans->push_back(
          {kKinds[k], static_cast<std::uint32_t>(on[k]), static_cast<std::uint32_t>(out.size())});
    }
    on[k] = -1;
  };
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '%' || i + 2 >= text.size() || text[i + 1] != '%') {
      out.push_back(text[i++]);
      continue;
    }
    const char code = AsciiUpper(text[i + 2]);
    switch (code) {
      case 'C':
        out.append("\xC3\x98");  // Ø, the diameter sign of the drawing fonts
        i += 3;
        continue;
      case 'D':
        out.append("\xC2\xB0");  // °
        i += 3;
        continue;
      case 'P':
        out.append("\xC2\xB1");  // ±
        i += 3;
        continue;
      case '%':
        out.push_back('%');
        i += 3;
        continue;
      case 'U':
      case 'O':
      case 'K':
        toggle(code == 'U' ? 0 : code == 'O' ? 1 : 2);
        i += 3;
        continue;
      default:
        break;
    }
    if (code >= '0' && code <= '9') {
      std::size_t end = i + 2;
      unsigned value = 0;
      while (end < text.size() && end < i + 5 && text[end] >= '0' && text[end] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[end] - '0');
        ++end;
      }
      if (value > 0 && value < 256) {
        if (const char32_t character = PercentCodeCharacter(value)) AppendUtf8(character, out);
        i = end;
        continue;
      }
    }
    out.append("%%");
    i += 2;
  }
  for (int k = 0; k < 3; ++k) {
    if (on[k] >= 0) toggle(k);
  }
  return out;
}

}  // namespace drawing
