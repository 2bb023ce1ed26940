#pragma once

// Turns the strings stored in drawings into UTF-8: code pages, the "\U+XXXX" and "\M+nXXXX"
// escapes and the "%%" control codes. Every reader of drawing files uses it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drawing {

// Converts strings from the drawing's code page (files before R2007) or checks them as UTF-8
// (R2007 and later), then decodes the "\U+XXXX" and "\M+nXXXX" escapes. Invalid bytes become
// U+FFFD. One decoder serves one file; it is not shared between threads.
class CTextDecoder {
 public:
  CTextDecoder();
  ~CTextDecoder();
  CTextDecoder(const CTextDecoder&) = delete;
  CTextDecoder& operator=(const CTextDecoder&) = delete;

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

// A stretch of a TEXT's characters with a line under ('u'), over ('o') or through ('k') it:
// bytes [from, to) of the decoded text.
struct TextLineSpan {
  char kind = 'u';
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  bool operator==(const TextLineSpan&) const = default;
};

// TEXT and ATTRIB control codes: %%c → Ø, %%d → °, %%p → ±, %%% → %, %%nnn → character nnn;
// the toggles %%u (underline), %%o (overline) and %%k (strike-through) are taken out and, when
// spans is given, become the stretches they mark (one still on at the end runs to the end).
// Letters in any case.
std::string ReplacePercentCodes(std::string_view text, std::vector<TextLineSpan>* spans = nullptr);

// The character a "%%nnn" code stands for: nnn in the Windows code page 1252 of the drawing
// fonts, which is Latin-1 but for the printable characters it puts at 128–159 (%%128 €, %%150
// –, %%153 ™ …); code points from 256 on as they are. 0 for control characters and the holes
// of the code page.
char32_t PercentCodeCharacter(unsigned value);

// The value of a hexadecimal digit, or -1.
int HexDigit(char c);
// The value of the four hexadecimal digits at text[at], or -1.
int Hex4(std::string_view text, std::size_t at);

// The escape "\U+XXXX" (or "\u+XXXX") at text[at]: its code point and its length in bytes. A
// UTF-16 high half followed by the escape of a low half is one character of 14 bytes. False
// when no such escape starts there.
bool ReadUnicodeEscape(std::string_view text, std::size_t at, char32_t& codePoint,
                       std::size_t& length);

}  // namespace drawing
