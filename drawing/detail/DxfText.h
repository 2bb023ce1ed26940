#pragma once

// Turns the strings of a DXF file into UTF-8. Private to the DXF reader.

#include <array>
#include <string>
#include <string_view>

namespace drawing::detail {

// Converts strings from the drawing's code page (files before R2007) or checks them as UTF-8
// (R2007 and later), then decodes the "\U+XXXX" and "\M+nXXXX" escapes. Invalid bytes become
// U+FFFD. One decoder serves one file; it is not shared between threads.
class CDxfTextDecoder {
 public:
  CDxfTextDecoder();
  ~CDxfTextDecoder();
  CDxfTextDecoder(const CDxfTextDecoder&) = delete;
  CDxfTextDecoder& operator=(const CDxfTextDecoder&) = delete;

  // `codePage` as $DWGCODEPAGE names it ("ANSI_1252", "ANSI_936", "DOS850" …, any case);
  // unknown or empty names mean ANSI_1252. `utf8` for files of R2007 (AC1021) and later.
  void SetCodePage(std::string_view codePage, bool utf8);

  // The UTF-8 text of a stored string. In MTEXT (`mtext`) an escaped backslash "\\" is kept
  // as it is and does not start an escape.
  std::string Decode(std::string_view raw, bool mtext = false);

  // True for ASCII without backslashes: such a string reads as it is stored.
  static bool IsPlain(std::string_view raw);

 private:
  void Convert(std::string_view raw, std::string& out);
  void DecodeEscapes(std::string_view text, bool mtext, std::string& out);
  bool AppendDoubleByte(int codePageNumber, unsigned value, std::string& out);

  void* converter = nullptr;  // iconv_t from the file's code page to UTF-8
  bool utf8 = false;
  bool singleByte = true;
  std::array<void*, 6> doubleByteConverters{};  // for "\M+n", opened on first use
  std::array<bool, 6> doubleByteTried{};
};

// TEXT and ATTRIB control codes: %%c → Ø, %%d → °, %%p → ±, %%% → %, %%nnn → character nnn;
// the underline and overline toggles %%u and %%o are dropped. Letters in any case.
std::string ReplacePercentCodes(std::string_view text);

// Appends the UTF-8 form of a code point (U+FFFD for values that are not characters).
void AppendUtf8(char32_t codePoint, std::string& out);

}  // namespace drawing::detail
