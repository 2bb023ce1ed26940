#include "drawing/PlotStyleTable.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iterator>
#include <map>
#include <string_view>
#include <vector>

#include "platform/RegularFile.h"

namespace drawing {

namespace {

constexpr std::string_view kCtbHeader = "PIAFILEVERSION_2.0,CTBVER1,compress\r\npmzlibcodec";
constexpr std::string_view kStbHeader = "PIAFILEVERSION_2.0,STBVER1,compress\r\npmzlibcodec";
constexpr std::size_t kHeaderSize = 60;
// No real table comes near this; anything larger is not a plot style table.
constexpr std::size_t kMaxFileSize = 4u << 20;

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

// The values of one style block, as text, by key.
using Block = std::map<std::string, std::string, std::less<>>;

struct ParsedText {
  std::map<int, Block> styles;        // plot_style{ N{ … } }
  std::map<int, double> lineweights;  // custom_lineweight_table{ N=mm }
  bool aciTable = false;              // aci_table_available=TRUE
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool ToInt(std::string_view text, long long* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ToDouble(std::string_view text, double* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// Reads the lines into the blocks this reader uses; other keys and blocks are passed over.
bool ParseText(std::string_view text, ParsedText* parsed, std::string* why) {
  std::vector<std::string> path;  // names of the open blocks, outermost first
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;
    if (line == "}") {
      if (path.empty()) return Fail(why, "unbalanced block");
      path.pop_back();
      continue;
    }
    if (line.back() == '{') {
      if (path.size() >= 8) return Fail(why, "blocks nested too deep");
      path.emplace_back(Trim(line.substr(0, line.size() - 1)));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    std::string_view value = Trim(line.substr(equals + 1));
    // A string value opens with a quote and runs to the end of the line.
    if (!value.empty() && value.front() == '"') value.remove_prefix(1);
    if (path.empty()) {
      if (key == "aci_table_available") parsed->aciTable = value == "TRUE";
    } else if (path.size() == 1 && path[0] == "custom_lineweight_table") {
      long long index = 0;
      double mm = 0;
      if (ToInt(key, &index) && ToDouble(value, &mm) && index >= 0 && index < 1024) {
        parsed->lineweights[static_cast<int>(index)] = mm;
      }
    } else if (path.size() == 2 && path[0] == "plot_style") {
      long long index = 0;
      if (ToInt(path[1], &index) && index >= 0 && index < 255) {
        parsed->styles[static_cast<int>(index)].emplace(std::string(key), std::string(value));
      }
    }
  }
  if (!path.empty()) return Fail(why, "a block is not closed");
  return true;
}

// The pen colour a style gives: mode_color when present, else color, as a 32-bit value whose
// high byte says how the colour is meant and whose low bytes are red, green, blue.
void SetColor(const Block& style, PlotStylePen* pen) {
  auto found = style.find("mode_color");
  if (found == style.end()) found = style.find("color");
  long long value = 0;
  if (found == style.end() || !ToInt(found->second, &value)) return;
  const auto u = static_cast<std::uint32_t>(value);
  // All ones, and white given as a colour index, mean "use the object's colour".
  if (u == 0xFFFFFFFFu || u == 0xC3FFFFFFu) return;
  std::uint32_t red = u >> 16 & 0xFF;
  std::uint32_t green = u >> 8 & 0xFF;
  std::uint32_t blue = u & 0xFF;
  long long policy = 0;
  if (auto p = style.find("color_policy");
      p != style.end() && ToInt(p->second, &policy) && (policy & 2) != 0) {
    const auto gray =
        static_cast<std::uint32_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
    red = green = blue = gray;
  }
  pen->objectColor = false;
  pen->rgb = red | green << 8 | blue << 16;
}

// The text of a table whose header starts with header: every length and the checksum checked
// before the inflated text is trusted.
bool InflateTable(const std::string& bytes, std::string_view header, std::string* text,
                  std::string* why) {
  if (bytes.size() < kHeaderSize || bytes.compare(0, header.size(), header) != 0) {
    return Fail(why, "not a plot style table");
  }
  const std::uint32_t checksum = Little32(bytes, 48);
  const std::uint32_t textLength = Little32(bytes, 52);
  const std::uint32_t compressedLength = Little32(bytes, 56);
  if (compressedLength != bytes.size() - kHeaderSize) return Fail(why, "wrong compressed length");
  const auto* compressed = reinterpret_cast<const Bytef*>(bytes.data() + kHeaderSize);
  if (adler32(adler32(0, nullptr, 0), compressed, compressedLength) != checksum) {
    return Fail(why, "checksum mismatch");
  }
  if (textLength == 0 || textLength > kMaxPlotStyleText) return Fail(why, "wrong text length");
  text->assign(textLength, '\0');
  uLongf inflated = textLength;
  if (uncompress(reinterpret_cast<Bytef*>(text->data()), &inflated, compressed, compressedLength) !=
          Z_OK ||
      inflated != textLength) {
    return Fail(why, "damaged compressed data");
  }
  // Some tables end their text with a NUL.
  while (!text->empty() && text->back() == '\0') text->pop_back();
  if (text->find('\0') != std::string::npos) return Fail(why, "damaged text");
  return true;
}

// A style's pen: its colour and its width from the table's lineweights.
PlotStylePen PenOf(const Block& style, const ParsedText& parsed) {
  PlotStylePen pen;
  SetColor(style, &pen);
  long long weight = 0;
  if (auto w = style.find("lineweight");
      w != style.end() && ToInt(w->second, &weight) && weight > 0) {
    if (auto mm = parsed.lineweights.find(static_cast<int>(std::min<long long>(weight, 1 << 20)));
        mm != parsed.lineweights.end() && mm->second > 0 && mm->second < 1000) {
      pen.widthMm = mm->second;
    }
  }
  return pen;
}

// The bytes of a table file, refused when it is no regular file or larger than a table can be.
bool ReadTableBytes(const std::string& path, std::string* bytes, const char* tooLarge,
                    std::string* why) {
  // A FIFO or a device named as a table is refused, not waited on or read for ever.
  int fd = -1;
  std::string reason;
  switch (OpenRegularFile(path, &fd, &reason)) {
    case FileOpenResult::Opened:
      break;
    case FileOpenResult::NotRegular:
      if (why) *why = reason;
      return false;
    case FileOpenResult::Missing:
    case FileOpenResult::Failed:
      return Fail(why, "cannot open the file");
  }
  // One byte more than a table may have tells a larger file, even one that grows meanwhile.
  bytes->assign(kMaxFileSize + 1, '\0');
  std::size_t size = 0;
  bool readable = true;
  while (size < bytes->size()) {
    const ssize_t got = ::read(fd, bytes->data() + size, bytes->size() - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readable = false;
    if (got <= 0) break;
    size += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (!readable) return Fail(why, "cannot read the file");
  if (size > kMaxFileSize) return Fail(why, tooLarge);
  bytes->resize(size);
  return true;
}

}  // namespace

bool ParsePlotStyleTable(const std::string& bytes, PlotStyleTable* table, std::string* why) {
  if (bytes.size() >= kStbHeader.size() && bytes.compare(0, kStbHeader.size(), kStbHeader) == 0) {
    return Fail(why, "a named plot style table (.stb), not a colour-dependent one");
  }
  if (bytes.size() < kHeaderSize || bytes.compare(0, kCtbHeader.size(), kCtbHeader) != 0) {
    return Fail(why, "not a colour-dependent plot style table");
  }
  std::string text;
  if (!InflateTable(bytes, kCtbHeader, &text, why)) return false;

  ParsedText parsed;
  if (!ParseText(text, &parsed, why)) return false;
  if (!parsed.aciTable || parsed.styles.empty()) {
    return Fail(why, "not a colour-dependent plot style table");
  }
  PlotStyleTable result;
  // Style N is colour index N + 1.
  for (const auto& [index, style] : parsed.styles) result.pens[index + 1] = PenOf(style, parsed);
  *table = result;
  return true;
}

bool ReadPlotStyleTable(const std::string& path, PlotStyleTable* table, std::string* why) {
  std::string bytes;
  return ReadTableBytes(path, &bytes, "not a colour-dependent plot style table", why) &&
         ParsePlotStyleTable(bytes, table, why);
}

const NamedPlotStyle* NamedPlotStyleTable::Find(std::string_view name) const {
  const auto same = [name](const std::string& other) {
    return other.size() == name.size() &&
           std::equal(other.begin(), other.end(), name.begin(), [](char a, char b) {
             const auto lower = [](char c) {
               return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
             };
             return lower(a) == lower(b);
           });
  };
  for (const NamedPlotStyle& style : styles) {
    if (same(style.name)) return &style;
  }
  return nullptr;
}

bool ParseNamedPlotStyleTable(const std::string& bytes, NamedPlotStyleTable* table,
                              std::string* why) {
  if (bytes.size() >= kCtbHeader.size() && bytes.compare(0, kCtbHeader.size(), kCtbHeader) == 0) {
    return Fail(why, "a colour-dependent plot style table (.ctb), not a named one");
  }
  if (bytes.size() < kHeaderSize || bytes.compare(0, kStbHeader.size(), kStbHeader) != 0) {
    return Fail(why, "not a named plot style table");
  }
  std::string text;
  if (!InflateTable(bytes, kStbHeader, &text, why)) return false;
  ParsedText parsed;
  if (!ParseText(text, &parsed, why)) return false;
  if (parsed.aciTable || parsed.styles.empty()) return Fail(why, "not a named plot style table");
  NamedPlotStyleTable result;
  for (const auto& [index, style] : parsed.styles) {
    auto name = style.find("name");
    if (name == style.end() || name->second.empty()) continue;
    result.styles.push_back({name->second, PenOf(style, parsed)});
  }
  if (result.styles.empty()) return Fail(why, "not a named plot style table");
  *table = std::move(result);
  return true;
}

bool ReadNamedPlotStyleTable(const std::string& path, NamedPlotStyleTable* table,
                             std::string* why) {
  std::string bytes;
  return ReadTableBytes(path, &bytes, "not a named plot style table", why) &&
         ParseNamedPlotStyleTable(bytes, table, why);
}

}  // namespace drawing
