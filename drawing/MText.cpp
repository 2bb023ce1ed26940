// MTEXT: the inline formatting codes, word wrapping, line spacing and the attachment point.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drawing/TextEngine.h"
#include "drawing/text/TextDecoder.h"
#include "platform/Utf8.h"

namespace drawing {

namespace {

// Distance between baselines, in text heights, at a line spacing factor of 1.
constexpr double kLineSpacing = 5.0 / 3.0;
// Stacked numerators and denominators are drawn at this share of the text height.
constexpr double kStackScale = 0.7;
// Gap between a fraction bar and the stacked parts, and the bar's thickness, in text heights.
constexpr double kStackGap = 0.1;
constexpr double kStackBar = 0.06;
// Default tab stops, in text heights.
constexpr double kTabSpacing = 4.0;
// Oblique angles beyond this are clamped: tan() grows without bound towards 90°.
constexpr double kMaxOblique = 85.0;

struct Format {
  std::string fontFile;
  std::string family;
  bool bold = false;
  bool italic = false;
  double height = 1.0;
  double widthFactor = 1.0;
  double oblique = 0.0;  // degrees
  bool hasColor = false;
  Color color;
  // Lines drawn with the text: under it, over it and through it.
  bool underline = false;
  bool overline = false;
  bool strike = false;
};

enum class AtomKind { Text, Tab, Stack };

struct Atom {
  AtomKind kind = AtomKind::Text;
  int format = 0;
  std::string text;    // the characters; for a stack its upper part
  std::string lower;   // the lower part of a stack
  char stackType = 0;  // '/' fraction with a bar, '^' tolerance (no bar), '#' diagonal
};

// A tab stop and how the text after it stands to it: 'l' starts at it, 'c' centres on it, 'r'
// ends at it, 'd' has its decimal point on it (or, without one, ends at it).
struct TabStop {
  double position = 0.0;
  char kind = 'l';
};

// How a paragraph is set (\p): its indents and tab stops, in multiples of the MTEXT's own text
// height, and its alignment ('l' left, 'c' centre, 'r' right, 'j' justified, 'd' distributed;
// 0 as the attachment point says).
struct ParagraphSetting {
  double indent = 0.0;  // of the first line, from the left indent
  double left = 0.0;
  double right = 0.0;
  char align = 0;
  std::vector<TabStop> tabs;  // ascending; after the last, a left stop every kTabSpacing
};

struct Paragraph {
  std::vector<Atom> atoms;
  int endFormat = 0;         // in effect at the paragraph's end: the height of an empty line
  ParagraphSetting setting;  // in effect at the paragraph's end
  bool columnBreak = false;  // it starts a new column (\N)
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Splits the MTEXT string into paragraphs of atoms, each atom with its format. Every byte is
// consumed exactly once; codes cut short by the end of the string end there.
class CMTextParser {
 public:
  CMTextParser(std::string_view text, Format initial) : text(text), current(std::move(initial)) {}

  void Run();

  std::vector<Format> formats;
  std::vector<Paragraph> paragraphs;

 private:
  int FormatIndex();
  void Changed() { currentIndex = -1; }
  void AppendText(std::string_view bytes);
  void AppendCodePoint(char32_t cp);
  void AppendTab();
  void NewParagraph();
  void ReadCode();
  bool ReadNumber(double& value, bool& relative);
  std::string_view ReadUpToSemicolon();
  void ReadStack();
  void ReadParagraphSetting();
  void ApplyFont(std::string_view argument, bool familyCode);
  void ReadPercentCode();
  void ReadCaret();

  std::string_view text;
  std::size_t pos = 0;
  Format current;
  int currentIndex = -1;
  ParagraphSetting setting;
  std::vector<std::pair<Format, int>> saved;  // the formats of the enclosing { } groups
};

int CMTextParser::FormatIndex() {
  if (currentIndex < 0) {
    formats.push_back(current);
    currentIndex = static_cast<int>(formats.size()) - 1;
  }
  return currentIndex;
}

void CMTextParser::AppendText(std::string_view bytes) {
  if (bytes.empty()) return;
  const int format = FormatIndex();
  std::vector<Atom>& atoms = paragraphs.back().atoms;
  if (atoms.empty() || atoms.back().kind != AtomKind::Text || atoms.back().format != format) {
    atoms.push_back(Atom{AtomKind::Text, format, {}, {}, 0});
  }
  atoms.back().text.append(bytes);
}

void CMTextParser::AppendCodePoint(char32_t cp) {
  std::string bytes;
  AppendUtf8(cp, bytes);
  AppendText(bytes);
}

void CMTextParser::AppendTab() {
  paragraphs.back().atoms.push_back(Atom{AtomKind::Tab, FormatIndex(), {}, {}, 0});
}

void CMTextParser::NewParagraph() {
  paragraphs.back().endFormat = FormatIndex();
  paragraphs.back().setting = setting;
  paragraphs.emplace_back();
}

void CMTextParser::Run() {
  paragraphs.emplace_back();
  while (pos < text.size()) {
    const char c = text[pos];
    switch (c) {
      case '\\':
        ++pos;
        ReadCode();
        break;
      case '{':
        ++pos;
        saved.emplace_back(current, currentIndex);
        break;
      case '}':
        ++pos;
        if (!saved.empty()) {  // a stray closing brace is dropped
          current = std::move(saved.back().first);
          currentIndex = saved.back().second;
          saved.pop_back();
        }
        break;
      case '%':
        ReadPercentCode();
        break;
      case '^':
        ReadCaret();
        break;
      case '\n':
        ++pos;
        NewParagraph();
        break;
      case '\r':
        ++pos;
        break;
      case '\t':
        ++pos;
        AppendTab();
        break;
      default: {
        const std::size_t end = text.find_first_of("\\{}%^\n\r\t", pos);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        AppendText(text.substr(pos, stop - pos));
        pos = stop;
        break;
      }
    }
  }
  paragraphs.back().endFormat = FormatIndex();
  paragraphs.back().setting = setting;
}

// Reads "value;" as \H, \W, \Q, \C … take it: a number, an optional "x" (relative to the
// current value) and the ";". A missing ";" ends the code after the number, so that the text
// after it is still drawn. False when there is no number.
bool CMTextParser::ReadNumber(double& value, bool& relative) {
  std::size_t end = pos;
  if (end < text.size() && (text[end] == '-' || text[end] == '+')) ++end;
  bool digits = false;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.')) {
    digits = digits || text[end] != '.';
    ++end;
  }
  relative = false;
  if (!digits) return false;
  std::size_t begin = pos;
  if (text[begin] == '+') ++begin;
  const auto [ptr, error] = std::from_chars(text.data() + begin, text.data() + end, value);
  pos = end;
  if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
    relative = true;
    ++pos;
  }
  if (pos < text.size() && text[pos] == ';') ++pos;
  return error == std::errc() && ptr == text.data() + end && std::isfinite(value);
}

std::string_view CMTextParser::ReadUpToSemicolon() {
  const std::size_t semicolon = text.find(';', pos);
  const std::size_t end = semicolon == std::string_view::npos ? text.size() : semicolon;
  const std::string_view argument = text.substr(pos, end - pos);
  pos = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
  return argument;
}

void CMTextParser::ApplyFont(std::string_view argument, bool familyCode) {
  std::string_view name = argument.substr(0, argument.find('|'));
  name = Trim(name);
  bool bold = false, italic = false;
  for (std::size_t bar = argument.find('|'); bar != std::string_view::npos;
       bar = argument.find('|', bar + 1)) {
    if (bar + 1 < argument.size()) {
      const char key = argument[bar + 1];
      const bool on = bar + 2 < argument.size() && argument[bar + 2] == '1';
      if (key == 'b') bold = on;
      if (key == 'i') italic = on;
    }
  }
  if (!name.empty()) {
    if (familyCode) {
      current.family = std::string(name);
      current.fontFile.clear();
    } else {
      current.fontFile = std::string(name);
      current.family.clear();
    }
  }
  current.bold = bold;
  current.italic = italic;
  Changed();
}

// \p and a list up to ";": "x" (no meaning here), "i", "l", "r" and a number (or "*", the
// default), "q" and an alignment letter (or "*"), "t" and the tab stops to the end (each may
// have a "c", "r" or "d" before it, for stops that centre text on them, end it at them or put
// its decimal point on them). Items may be separated by commas.
void CMTextParser::ReadParagraphSetting() {
  const std::string_view argument = ReadUpToSemicolon();
  std::size_t at = 0;
  // A number at `at`, or 0 for "*" or nothing; moves past it.
  const auto number = [&]() {
    if (at < argument.size() && argument[at] == '*') {
      ++at;
      return 0.0;
    }
    std::size_t end = at;
    if (end < argument.size() && (argument[end] == '-' || argument[end] == '+')) ++end;
    while (end < argument.size() &&
           ((argument[end] >= '0' && argument[end] <= '9') || argument[end] == '.')) {
      ++end;
    }
    double value = 0.0;
    const std::size_t begin = at < end && argument[at] == '+' ? at + 1 : at;
    const auto [ptr, error] =
        std::from_chars(argument.data() + begin, argument.data() + end, value);
    at = end;
    return error == std::errc() && std::isfinite(value) ? std::clamp(value, -1e4, 1e4) : 0.0;
  };
  while (at < argument.size()) {
    const char item = argument[at++];
    switch (item) {
      case 'i':
        setting.indent = number();
        break;
      case 'l':
        setting.left = number();
        break;
      case 'r':
        setting.right = number();
        break;
      case 'q':
        if (at < argument.size()) {
          const char align = argument[at++];
          setting.align =
              std::string_view("lcrjd").find(align) != std::string_view::npos ? align : 0;
        }
        break;
      case 't':
        setting.tabs.clear();
        {
          char kind = 'l';
          while (at < argument.size()) {
            const char c = argument[at];
            if (c == ',') {
              ++at;
              continue;
            }
            if (c == 'c' || c == 'r' || c == 'd') {
              kind = c;
              ++at;
              continue;
            }
            const std::size_t before = at;
            const double stop = number();
            if (at == before) {
              ++at;  // no number: the character is skipped
              continue;
            }
            if (stop > 0.0 && (setting.tabs.empty() || stop > setting.tabs.back().position)) {
              setting.tabs.push_back(TabStop{stop, kind});
            }
            kind = 'l';
          }
        }
        break;
      default:
        break;  // "x", commas and what this reader does not know
    }
  }
}

// \Stop^bottom; with \^ \/ \# \; \\ as literal characters inside.
void CMTextParser::ReadStack() {
  std::string upper, lower;
  char type = 0;
  while (pos < text.size() && text[pos] != ';') {
    char c = text[pos++];
    if (c == '\\' && pos < text.size()) {
      c = text[pos++];
    } else if (type == 0 && (c == '/' || c == '^' || c == '#')) {
      type = c;
      continue;
    }
    (type ? lower : upper).push_back(c);
  }
  if (pos < text.size()) ++pos;  // the ";"
  if (type == 0) {
    AppendText(upper);
    return;
  }
  // "^" stacks often pad with a space ("\S+0.1^ -0.2;"); it is not drawn.
  if (type == '^' && !lower.empty() && lower.front() == ' ') lower.erase(0, 1);
  paragraphs.back().atoms.push_back(
      Atom{AtomKind::Stack, FormatIndex(), std::move(upper), std::move(lower), type});
}

void CMTextParser::ReadCode() {
  if (pos >= text.size()) {
    AppendText("\\");
    return;
  }
  const char code = text[pos++];
  double value = 0.0;
  bool relative = false;
  switch (code) {
    case 'P':
    case 'X':  // the break between the text above and below a dimension line
      NewParagraph();
      break;
    case 'N':
      NewParagraph();
      paragraphs.back().columnBreak = true;
      break;
    case '~':
      AppendText("\xC2\xA0");  // no-break space
      break;
    case '\\':
    case '{':
    case '}':
      AppendText(std::string_view(&text[pos - 1], 1));
      break;
    case 'L':
    case 'l':
      current.underline = code == 'L';
      Changed();
      break;
    case 'O':
    case 'o':
      current.overline = code == 'O';
      Changed();
      break;
    case 'K':
    case 'k':
      current.strike = code == 'K';
      Changed();
      break;
    case 'f':
    case 'F':
      ApplyFont(ReadUpToSemicolon(), code == 'f');
      break;
    case 'H':
      if (ReadNumber(value, relative)) {
        const double height = relative ? current.height * value : value;
        if (std::isfinite(height) && height > 0.0) {
          current.height = height;
          Changed();
        }
      }
      break;
    case 'W':
      if (ReadNumber(value, relative)) {
        const double factor = relative ? current.widthFactor * value : value;
        if (std::isfinite(factor) && factor > 0.0) {
          current.widthFactor = factor;
          Changed();
        }
      }
      break;
    case 'Q':
      if (ReadNumber(value, relative)) {
        current.oblique = std::clamp(value, -kMaxOblique, kMaxOblique);
        Changed();
      }
      break;
    case 'T':  // tracking and the vertical alignment in the line are not applied
    case 'A':
      ReadNumber(value, relative);
      break;
    case 'C':
      if (ReadNumber(value, relative) && value >= 0.0 && value <= 257.0) {
        current.hasColor = true;
        current.color = Color{static_cast<std::int16_t>(value), false, 0};
        Changed();
      }
      break;
    case 'c':
      if (ReadNumber(value, relative) && value >= 0.0 && value < 4294967296.0) {
        // The value has red in its low byte, as Color::rgb.
        current.hasColor = true;
        current.color = Color{257, true, static_cast<std::uint32_t>(value) & 0xFFFFFFu};
        Changed();
      }
      break;
    case 'p':
      ReadParagraphSetting();
      break;
    case 'S':
      ReadStack();
      break;
    case 'U':
    case 'u': {
      // \U+XXXX: a Unicode character.
      char32_t cp = 0;
      std::size_t length = 0;
      if (ReadUnicodeEscape(text, pos - 2, cp, length)) {
        pos = pos - 2 + length;
        if (cp >= 0x20 && (cp < 0xD800 || cp > 0xDFFF)) AppendCodePoint(cp);
        break;
      }
      AppendText(std::string_view(&text[pos - 2], 2));
      break;
    }
    case 'M':
      // \M+nXXXX: a double-byte character of an Asian code page, which this text has no
      // table for; it is dropped.
      if (pos + 6 <= text.size() && text[pos] == '+') {
        pos += 6;
      } else {
        AppendText(std::string_view(&text[pos - 2], 2));
      }
      break;
    default:
      // Not a code: the backslash is text, and the character after it is read normally.
      AppendText("\\");
      --pos;
      break;
  }
}

// %%c diameter, %%d degree, %%p plus-minus, %%% percent, %%nnn a character by its code;
// %%u %%o %%k turn the line under, over or through the text on or off.
void CMTextParser::ReadPercentCode() {
  if (pos + 1 >= text.size() || text[pos + 1] != '%' || pos + 2 >= text.size()) {
    const std::size_t count = (pos + 1 < text.size() && text[pos + 1] == '%') ? 2 : 1;
    AppendText(text.substr(pos, count));
    pos += count;
    return;
  }
  const char code = text[pos + 2];
  pos += 3;
  switch (code) {
    case 'c':
    case 'C':
      AppendCodePoint(0x00D8);
      break;
    case 'd':
    case 'D':
      AppendCodePoint(0x00B0);
      break;
    case 'p':
    case 'P':
      AppendCodePoint(0x00B1);
      break;
    case '%':
      AppendText("%");
      break;
    case 'u':
    case 'U':
      current.underline = !current.underline;
      Changed();
      break;
    case 'o':
    case 'O':
      current.overline = !current.overline;
      Changed();
      break;
    case 'k':
    case 'K':
      current.strike = !current.strike;
      Changed();
      break;
    default:
      if (code >= '0' && code <= '9') {
        char32_t cp = static_cast<char32_t>(code - '0');
        for (int k = 0; k < 2 && pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++k) {
          cp = cp * 10 + static_cast<char32_t>(text[pos++] - '0');
        }
        if (const char32_t character = PercentCodeCharacter(cp)) AppendCodePoint(character);
      }
      break;
  }
}

// Control characters written as "^" and a letter: ^I tab, ^J line break, ^M ignored; "^ " is
// the caret itself.
void CMTextParser::ReadCaret() {
  if (pos + 1 >= text.size()) {
    AppendText("^");
    ++pos;
    return;
  }
  const char code = text[pos + 1];
  pos += 2;
  switch (code) {
    case 'I':
      AppendTab();
      break;
    case 'J':
      NewParagraph();
      break;
    case ' ':
      AppendText("^");
      break;
    default:
      break;  // other control characters have no glyph
  }
}

// ---- Layout ---------------------------------------------------------------------------------

// A drawable bit of a fragment, relative to the fragment's start.
struct Part {
  TextShape shape;  // drawing units
  Vec2 offset;
  int format = 0;
  bool mergeable = true;  // plain text, which joins neighbours of its format into one piece
  // One character of a distributed paragraph, which moves apart from its neighbours.
  bool character = false;
};

// The unit of wrapping: a run of text up to and including the spaces after a word, a tab or a
// stack.
struct Fragment {
  AtomKind kind = AtomKind::Text;
  int format = 0;
  std::vector<Part> parts;
  double width = 0.0;
  double trailing = 0.0;  // width of the spaces at its end, left out of a line's width
  bool breakAfter = false;
  double decimalAt = -1.0;  // from its start to its first decimal point; -1: it has none
};

struct Placed {
  const Fragment* fragment = nullptr;
  double x = 0.0;
};

struct Line {
  std::vector<Placed> items;
  double width = 0.0;
  double height = 0.0;
  // From the paragraph: where the line starts and where it must end, from the left and the
  // right edge of the text (drawing units); its alignment; whether it ends the paragraph.
  double start = 0.0;
  double right = 0.0;
  char align = 0;
  bool last = false;
  bool columnBreak = false;  // the first line of a paragraph that starts a new column
  double columnX = 0.0;      // the left edge of its column, from the first column's
};

class CMTextLayout {
 public:
  CMTextLayout(CTextEngine& engine, const std::vector<Format>& formats)
      : engine(engine), formats(formats) {}

  std::vector<Fragment> Fragments(const Paragraph& paragraph);

 private:
  // Text fragments of distributed paragraphs are shaped character by character.
  bool distributed = false;
  // Text shaped in a format at scale × the format's height, in drawing units.
  TextShape ShapeText(std::string_view text, const Format& format, double scale);
  double Measure(std::string_view text, const Format& format, double scale);
  void AddText(std::vector<Fragment>& out, const Atom& atom);
  void AddStack(std::vector<Fragment>& out, const Atom& atom);
  // The lines under, over and through a fragment of text, as its format asks.
  static void AddRules(Fragment& fragment, const Format& format);

  CTextEngine& engine;
  const std::vector<Format>& formats;
};

double ObliqueSlope(const Format& format) {
  return std::tan(std::clamp(format.oblique, -kMaxOblique, kMaxOblique) * std::numbers::pi / 180.0);
}

TextShape CMTextLayout::ShapeText(std::string_view text, const Format& format, double scale) {
  TextShape shape = engine.Shape(text, format.fontFile, format.family, format.bold, format.italic);
  const double height = format.height * scale;
  const double sx = height * format.widthFactor;
  const double slope = ObliqueSlope(format);
  for (auto& contour : shape.contours) {
    for (Vec2& p : contour) {
      p.x = p.x * sx + p.y * height * slope;
      p.y *= height;
    }
  }
  shape.width *= sx;
  return shape;
}

double CMTextLayout::Measure(std::string_view text, const Format& format, double scale) {
  return engine.MeasureWidth(text, format.fontFile, format.family, format.bold, format.italic) *
         format.height * scale * format.widthFactor;
}

void CMTextLayout::AddText(std::vector<Fragment>& out, const Atom& atom) {
  const Format& format = formats[atom.format];
  std::string_view rest = atom.text;
  while (!rest.empty()) {
    // A fragment ends after a run of spaces, where a line may break.
    std::size_t end = rest.find(' ');
    std::size_t wordEnd = end;
    if (end != std::string_view::npos) {
      end = rest.find_first_not_of(' ', end);
      if (end == std::string_view::npos) end = rest.size();
    } else {
      end = wordEnd = rest.size();
    }
    const std::string_view piece = rest.substr(0, end);
    Fragment fragment;
    fragment.kind = AtomKind::Text;
    fragment.format = atom.format;
    if (distributed) {
      for (std::size_t at = 0; at < piece.size();) {
        std::size_t next = at + 1;
        while (next < piece.size() && (static_cast<unsigned char>(piece[next]) & 0xC0) == 0x80) {
          ++next;
        }
        Part part;
        part.shape = ShapeText(piece.substr(at, next - at), format, 1.0);
        part.format = atom.format;
        part.offset.x = fragment.width;
        part.character = true;
        fragment.width += part.shape.width;
        fragment.parts.push_back(std::move(part));
        at = next;
      }
    } else {
      Part part;
      part.shape = ShapeText(piece, format, 1.0);
      part.format = atom.format;
      fragment.width = part.shape.width;
      fragment.parts.push_back(std::move(part));
    }
    if (const std::size_t dot = piece.find('.'); dot != std::string_view::npos) {
      fragment.decimalAt = Measure(piece.substr(0, dot), format, 1.0);
    }
    fragment.breakAfter = wordEnd < end;
    if (fragment.breakAfter) fragment.trailing = Measure(piece.substr(wordEnd), format, 1.0);
    AddRules(fragment, format);
    out.push_back(std::move(fragment));
    rest.remove_prefix(end);
  }
}

// A filled bar from x 0 to width, thickness high, centred on y.
Part Bar(double width, double thickness, double y, int format) {
  Part bar;
  bar.shape.contours.push_back({{0.0, 0.0}, {width, 0.0}, {width, thickness}, {0.0, thickness}});
  bar.shape.width = width;
  bar.offset = {0.0, y - thickness / 2};
  bar.format = format;
  bar.mergeable = false;
  return bar;
}

void CMTextLayout::AddRules(Fragment& fragment, const Format& format) {
  const double h = format.height;
  const double t = kRuleThickness * h;
  const double width = fragment.width;
  if (!(width > 0.0)) return;
  for (const auto& [on, y] :
       {std::pair{format.underline, -kUnderlineDepth * h},
        std::pair{format.overline, kOverlineHeight * h}, std::pair{format.strike, 0.5 * h}}) {
    if (on) fragment.parts.push_back(Bar(width, t, y, fragment.format));
  }
}

void CMTextLayout::AddStack(std::vector<Fragment>& out, const Atom& atom) {
  const Format& format = formats[atom.format];
  const double h = format.height;
  const double s = kStackScale * h;
  Fragment fragment;
  fragment.kind = AtomKind::Stack;
  fragment.format = atom.format;
  Part upper{ShapeText(atom.text, format, kStackScale), {}, atom.format, false};
  Part lower{ShapeText(atom.lower, format, kStackScale), {}, atom.format, false};
  const double wu = upper.shape.width, wl = lower.shape.width;
  if (atom.stackType == '#') {
    // Diagonal: the upper part raised to the cap line, a slash, the lower part on the baseline.
    Part slash{ShapeText("/", format, 1.0), {}, atom.format, false};
    upper.offset = {0.0, h - s};
    slash.offset = {wu, 0.0};
    lower.offset = {wu + slash.shape.width, 0.0};
    fragment.width = lower.offset.x + wl;
    fragment.parts.push_back(std::move(upper));
    fragment.parts.push_back(std::move(slash));
    fragment.parts.push_back(std::move(lower));
  } else {
    // One above the other around the middle of the caps; "/" centres them over a bar.
    const double width = std::max(wu, wl);
    const double middle = 0.5 * h;
    const bool bar = atom.stackType == '/';
    upper.offset = {bar ? (width - wu) / 2 : 0.0, middle + kStackGap * h};
    lower.offset = {bar ? (width - wl) / 2 : 0.0, middle - kStackGap * h - s};
    fragment.width = width;
    fragment.parts.push_back(std::move(upper));
    fragment.parts.push_back(std::move(lower));
    if (bar && width > 0.0)
      fragment.parts.push_back(Bar(width, kStackBar * h, middle, atom.format));
  }
  out.push_back(std::move(fragment));
}

std::vector<Fragment> CMTextLayout::Fragments(const Paragraph& paragraph) {
  distributed = paragraph.setting.align == 'd';
  std::vector<Fragment> out;
  for (const Atom& atom : paragraph.atoms) {
    switch (atom.kind) {
      case AtomKind::Text:
        AddText(out, atom);
        break;
      case AtomKind::Tab: {
        Fragment tab;
        tab.kind = AtomKind::Tab;
        tab.format = atom.format;
        tab.breakAfter = true;
        out.push_back(std::move(tab));
        break;
      }
      case AtomKind::Stack:
        AddStack(out, atom);
        break;
    }
  }
  return out;
}

// Where a line's tab stops are: the paragraph's own (drawing units from the left edge of the
// text), then a left stop every kTabSpacing text heights.
struct TabStops {
  std::vector<TabStop> stops;
  double lineStart = 0.0;  // where the line starts, from the left edge of the text
};

// The next tab stop after x (from the line's start), its position from the line's start.
TabStop NextTabStop(double x, double height, const TabStops& tabs) {
  const double from = x + tabs.lineStart;
  for (const TabStop& stop : tabs.stops) {
    if (stop.position > from + 1e-9) return TabStop{stop.position - tabs.lineStart, stop.kind};
  }
  const double step = kTabSpacing * height;
  if (!(step > 0.0)) return TabStop{x, 'l'};
  return TabStop{(std::floor(from / step + 1e-9) + 1.0) * step - tabs.lineStart, 'l'};
}

// Where the text after the tab at fragments[tab] starts when its stop is at `stop`: the text
// runs to the next tab or the paragraph's end, and a centre, right or decimal stop sets it back
// by half its width, its width, or its width up to its decimal point. Never before x.
double TabbedStart(const std::vector<Fragment>& fragments, std::size_t tab, const TabStop& stop,
                   double x) {
  if (stop.kind == 'l') return stop.position;
  double width = 0.0, trailing = 0.0, decimal = -1.0;
  for (std::size_t k = tab + 1; k < fragments.size() && fragments[k].kind != AtomKind::Tab; ++k) {
    if (decimal < 0.0 && fragments[k].decimalAt >= 0.0) decimal = width + fragments[k].decimalAt;
    width += fragments[k].width;
    trailing = fragments[k].trailing;
  }
  width -= trailing;
  const double back = stop.kind == 'c'                     ? width / 2
                      : stop.kind == 'd' && decimal >= 0.0 ? decimal
                                                           : width;
  return std::max(x, stop.position - back);
}

// Places the fragments [first, last) from x on; returns the end of their content (trailing
// spaces and a trailing tab left out) and moves x to the end of their advance.
double PlaceWord(const std::vector<Fragment>& fragments, std::size_t first, std::size_t last,
                 const std::vector<Format>& formats, const TabStops& tabs, double& x,
                 std::vector<Placed>* placed) {
  double contentEnd = x;
  for (std::size_t k = first; k < last; ++k) {
    const Fragment& fragment = fragments[k];
    if (placed) placed->push_back(Placed{&fragment, x});
    if (fragment.kind == AtomKind::Tab) {
      contentEnd = x;
      x = TabbedStart(fragments, k, NextTabStop(x, formats[fragment.format].height, tabs), x);
    } else {
      x += fragment.width;
      contentEnd = x - fragment.trailing;
    }
  }
  return contentEnd;
}

// Moves the lines into columns of the given width, top to bottom and then column by column,
// a column ending where the next line's baseline would lie below its height or where a paragraph
// starts a new one (\N); each line's baseline becomes one in its column and its columnX is set.
// Gives the number of columns used.
int FlowIntoColumns(const MText& mtext, double width, std::vector<Line>& lines,
                    std::vector<double>& baselines) {
  const double gutter = std::isfinite(mtext.columnGutter) ? std::max(0.0, mtext.columnGutter) : 0.0;
  // The height of column k; 0 or less: no bound.
  const auto height = [&](int k) {
    if (mtext.columnType == 2 && !mtext.columnAutoHeight && !mtext.columnHeights.empty()) {
      return mtext.columnHeights[std::min<std::size_t>(k, mtext.columnHeights.size() - 1)];
    }
    return mtext.columnHeight;
  };
  const int most = mtext.columnType == 1 && mtext.columnCount > 0 ? mtext.columnCount : 1000;
  int k = 0;
  double shift = 0.0;         // added to the baselines of the lines of column k
  std::size_t columnTop = 0;  // the first line of column k
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double baseline = baselines[i] + shift;
    // From the column's top to the line's baseline: a line fits when its baseline does, its
    // descent may reach below (as CAD fills columns of a given height).
    const double depth = -baseline;
    const double limit = height(k);
    const bool full = limit > 0 && depth > limit * (1 + 1e-9);
    if (i > columnTop && k + 1 < most && (lines[i].columnBreak || full)) {
      ++k;
      columnTop = i;
      shift = -lines[i].height - baselines[i];
      baseline = -lines[i].height;
    }
    baselines[i] = baseline;
    lines[i].columnX = k * (width + gutter);
  }
  const int count = k + 1;
  if (mtext.columnFlowReversed) {
    for (Line& line : lines) line.columnX = (count - 1) * (width + gutter) - line.columnX;
  }
  return count;
}

std::vector<MTextPiece> LayoutPieces(const MText& mtext, const TextStyle& style,
                                     CTextEngine& engine) {
  Format initial;
  initial.fontFile = style.fontFile;
  initial.family = style.fontFamily;
  initial.height = mtext.height;
  if (!(std::isfinite(initial.height) && initial.height > 0.0)) {
    initial.height =
        style.fixedHeight > 0.0 && std::isfinite(style.fixedHeight) ? style.fixedHeight : 1.0;
  }
  if (std::isfinite(style.widthFactor) && style.widthFactor > 0.0) {
    initial.widthFactor = style.widthFactor;
  }
  if (std::isfinite(style.obliqueAngle)) {
    initial.oblique = std::clamp(style.obliqueAngle, -kMaxOblique, kMaxOblique);
  }
  CMTextParser parser(mtext.text, initial);
  parser.Run();
  const std::vector<Format>& formats = parser.formats;

  // Text in columns wraps at the column's width.
  const bool columns = mtext.columnType == 1 || mtext.columnType == 2;
  double wrapWidth = mtext.referenceWidth;
  if (columns && std::isfinite(mtext.columnWidth) && mtext.columnWidth > 0.0) {
    wrapWidth = mtext.columnWidth;
  }
  const bool wrap = std::isfinite(wrapWidth) && wrapWidth > 0.0;
  CMTextLayout layout(engine, formats);
  // Indents and tab stops count in the MTEXT's own text height.
  const double unit = initial.height;

  std::vector<std::vector<Fragment>> fragments;  // per paragraph; lines point into them
  fragments.reserve(parser.paragraphs.size());
  std::vector<Line> lines;
  for (const Paragraph& paragraph : parser.paragraphs) {
    const std::vector<Fragment>& all = fragments.emplace_back(layout.Fragments(paragraph));
    const ParagraphSetting& setting = paragraph.setting;
    TabStops tabs;
    for (const TabStop& stop : setting.tabs) {
      tabs.stops.push_back(TabStop{stop.position * unit, stop.kind});
    }
    // A line of the paragraph, the first one or a following one.
    const auto begin = [&](bool first) {
      Line line;
      line.start = std::max(0.0, (setting.left + (first ? setting.indent : 0.0)) * unit);
      line.right = std::max(0.0, setting.right * unit);
      line.align = setting.align;
      return line;
    };
    const auto limit = [&](const Line& line) {
      return (wrapWidth - line.start - line.right) * (1.0 + 1e-9);
    };
    Line line = begin(true);
    line.columnBreak = paragraph.columnBreak;
    tabs.lineStart = line.start;
    double x = 0.0;
    std::size_t first = 0;
    while (first < all.size()) {
      std::size_t last = first;
      while (last < all.size() && !all[last++].breakAfter) {
      }
      double probe = x;
      double end = PlaceWord(all, first, last, formats, tabs, probe, nullptr);
      if (wrap && !line.items.empty() && end > limit(line)) {
        lines.push_back(std::move(line));
        line = begin(false);
        tabs.lineStart = line.start;
        x = 0.0;
      }
      end = PlaceWord(all, first, last, formats, tabs, x, &line.items);
      line.width = end;
      first = last;
    }
    line.last = true;
    lines.push_back(std::move(line));
    // An empty line keeps the height of the format at its end.
    if (lines.back().items.empty()) lines.back().height = formats[paragraph.endFormat].height;
  }
  for (Line& line : lines) {
    for (const Placed& item : line.items) {
      line.height = std::max(line.height, formats[item.fragment->format].height);
    }
  }

  double factor = mtext.lineSpacingFactor;
  if (!(std::isfinite(factor) && factor > 0.0)) factor = 1.0;
  factor = std::clamp(factor, 0.25, 4.0);
  const int attachment = (mtext.attachment >= 1 && mtext.attachment <= 9) ? mtext.attachment : 1;
  const int column = (attachment - 1) % 3;  // 0 left, 1 centre, 2 right
  const int row = (attachment - 1) / 3;     // 0 top, 1 middle, 2 bottom

  // Baselines: the first line's cap top at 0; from line to line the leading below one line
  // (2/3 of its height) and the cap height of the next, so 5/3 of the height for equal lines.
  std::vector<double> baselines(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    baselines[i] = i == 0
                       ? -lines[0].height
                       : baselines[i - 1] - factor * kLineSpacing *
                                                (0.4 * lines[i - 1].height + 0.6 * lines[i].height);
  }
  int columnCount = 1;
  if (columns && wrap) columnCount = FlowIntoColumns(mtext, wrapWidth, lines, baselines);
  double last = 0.0;
  for (const double baseline : baselines) last = std::min(last, baseline);
  const double dy = row == 0 ? 0.0 : row == 1 ? -last / 2 : -last;

  // The text's box: as wide as the reference width, or else as its widest line; the attachment
  // point's column places it, and each line takes its place in it as its paragraph aligns.
  double boxWidth = wrap ? wrapWidth : 0.0;
  if (!wrap) {
    for (const Line& line : lines)
      boxWidth = std::max(boxWidth, line.start + line.width + line.right);
  }
  // Columns stand side by side in a box as wide as all of them.
  const double gutter = std::isfinite(mtext.columnGutter) ? std::max(0.0, mtext.columnGutter) : 0.0;
  const double allWidth = columnCount * boxWidth + (columnCount - 1) * gutter;
  const double boxLeft = column == 0 ? 0.0 : column == 1 ? -allWidth / 2 : -allWidth;

  std::vector<MTextPiece> pieces;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    const char align = line.align != 0 ? line.align : "lcr"[column];
    const double room = boxWidth - line.start - line.right;
    double x0 = boxLeft + line.columnX + line.start;
    if (align == 'c') x0 += (room - line.width) / 2;
    if (align == 'r') x0 += room - line.width;
    // Justified lines but a paragraph's last widen the spaces between their words until they
    // fill the room.
    double stretch = 0.0;
    if (align == 'j' && !line.last) {
      int gaps = 0;
      for (std::size_t k = 0; k + 1 < line.items.size(); ++k) {
        if (line.items[k].fragment->kind == AtomKind::Text && line.items[k].fragment->breakAfter) {
          ++gaps;
        }
      }
      if (gaps > 0 && room > line.width) stretch = (room - line.width) / gaps;
    }
    // Distributed lines, the last one too, space out their characters (and stacks) evenly until
    // the first starts at the left side and the last ends at the right; the spaces at the
    // line's end stay out of it.
    double spread = 0.0;
    std::size_t units = 0;
    if (align == 'd') {
      for (const Placed& item : line.items) {
        if (item.fragment->kind == AtomKind::Stack && item.x < line.width) ++units;
        for (const Part& part : item.fragment->parts) {
          if (part.character && item.x + part.offset.x < line.width - 1e-9) ++units;
        }
      }
      if (units > 1 && room > line.width) spread = (room - line.width) / (units - 1);
    }
    const double y = baselines[i] + dy;
    int openFormat = -1;  // the format of the last piece when plain text may join it
    double widened = 0.0;
    std::size_t unit = 0;  // the characters and stacks of the line placed so far
    for (const Placed& item : line.items) {
      const std::size_t firstUnit = unit;
      if (spread > 0.0 && item.fragment->kind == AtomKind::Stack) {
        widened = static_cast<double>(unit++) * spread;
      }
      for (const Part& part : item.fragment->parts) {
        if (spread > 0.0 && part.character) widened = static_cast<double>(unit++) * spread;
        Vec2 at{x0 + widened + item.x + part.offset.x, y + part.offset.y};
        TextShape spreadRule;
        const TextShape* shape = &part.shape;
        if (spread > 0.0 && !part.mergeable && item.fragment->kind == AtomKind::Text) {
          // A line under, over or through spread characters runs from the first of them on
          // to where the next begins (to the last one's end at the end of the line).
          const std::size_t end = std::min(unit, units - 1);
          const std::size_t gaps = end > firstUnit ? end - firstUnit : 0;
          at.x = x0 + static_cast<double>(firstUnit) * spread + item.x + part.offset.x;
          const double width = part.shape.width;
          if (width > 0.0) {
            const double scale = (width + static_cast<double>(gaps) * spread) / width;
            spreadRule = part.shape;
            for (auto& contour : spreadRule.contours) {
              for (Vec2& p : contour) p.x *= scale;
            }
            spreadRule.width *= scale;
            shape = &spreadRule;
          }
        }
        if (part.mergeable && part.format == openFormat && !pieces.empty() &&
            pieces.back().offset.y == at.y) {
          MTextPiece& piece = pieces.back();
          const double dx = at.x - piece.offset.x;
          for (const auto& contour : shape->contours) {
            std::vector<Vec2>& out = piece.shape.contours.emplace_back(contour);
            for (Vec2& p : out) p.x += dx;
          }
          piece.shape.width = dx + shape->width;
          continue;
        }
        MTextPiece& piece = pieces.emplace_back();
        piece.shape = *shape;
        piece.offset = at;
        const Format& format = formats[part.format];
        piece.hasColor = format.hasColor;
        piece.color = format.color;
        openFormat = part.mergeable ? part.format : -1;
      }
      if (stretch > 0.0 && item.fragment->kind == AtomKind::Text && item.fragment->breakAfter) {
        widened += stretch;
        openFormat = -1;  // the next word stands apart
      }
    }
  }
  std::erase_if(pieces, [](const MTextPiece& piece) { return piece.shape.contours.empty(); });
  return pieces;
}

}  // namespace

std::vector<MTextPiece> LayoutMText(const MText& mtext, const TextStyle& style,
                                    CTextEngine& engine) {
  try {
    return LayoutPieces(mtext, style, engine);
  } catch (...) {
    return {};  // out of memory
  }
}

}  // namespace drawing
