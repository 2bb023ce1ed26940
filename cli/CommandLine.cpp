#include "cli/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "convert/ConvertSettings.h"
#include "convert/OutputNames.h"
#include "platform/Ascii.h"
#include "platform/Utf8.h"

namespace {

// A paper by name, landscape; "-portrait" after the name turns it.
struct Paper {
  const char* name;
  double width, height;
  int units;  // 0 inch, 1 millimetre
};
constexpr Paper kPapers[] = {
    {"a0", 1189, 841, 1},   {"a1", 841, 594, 1},   {"a2", 594, 420, 1},    {"a3", 420, 297, 1},
    {"a4", 297, 210, 1},    {"a5", 210, 148, 1},   {"b4", 353, 250, 1},    {"b5", 250, 176, 1},
    {"letter", 11, 8.5, 0}, {"legal", 14, 8.5, 0}, {"tabloid", 17, 11, 0}, {"ledger", 17, 11, 0},
    {"ansi-a", 11, 8.5, 0}, {"ansi-b", 17, 11, 0}, {"ansi-c", 22, 17, 0},  {"ansi-d", 34, 22, 0},
    {"ansi-e", 44, 34, 0},  {"arch-a", 12, 9, 0},  {"arch-b", 18, 12, 0},  {"arch-c", 24, 18, 0},
    {"arch-d", 36, 24, 0},  {"arch-e", 48, 36, 0},
};

// A whole decimal number without sign, exponent or anything after it; the C locale's
// influence is avoided by from_chars.
std::optional<double> Number(std::string_view text) {
  double value = 0.0;
  if (text.empty() || text.front() == '+') return std::nullopt;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// "12.5mm" or "0.5in"; *units gets 0 for inches, 1 for millimetres, and stays as it is when
// no unit is written.
std::optional<double> Length(std::string_view text, int* units) {
  const std::string lower = ToAsciiLower(text);
  std::string_view number = text;
  if (lower.ends_with("mm")) {
    number.remove_suffix(2);
    *units = 1;
  } else if (lower.ends_with("in")) {
    number.remove_suffix(2);
    *units = 0;
  }
  return Number(number);
}

int Choice(std::string_view value, std::initializer_list<const char*> names) {
  int index = 0;
  for (const char* name : names) {
    if (ToAsciiLower(value) == name) return index;
    ++index;
  }
  return -1;
}

}  // namespace

bool WantsSavedSettings(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--saved") return true;
  }
  return false;
}

bool ParseCommandLine(const std::vector<std::string>& args, CConvertSettings& settings,
                      CliOptions& options, std::string* error) {
  std::optional<int> outputType;
  bool targetGiven = false;
  bool pageGiven = false;               // --paper or --size
  std::optional<bool> layoutPaperSize;  // --layout-paper-size or --no-layout-paper-size
  std::optional<double> margin;
  int marginUnits = 1;  // millimetres unless the margin says otherwise
  bool searchPathsGiven = false;

  auto fail = [error](const std::string& option, const std::string& message) {
    *error = option + ": " + message;
    return false;
  };

  bool onlyDrawings = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyDrawings || arg.empty() || arg[0] != '-' || arg == "-") {
      options.drawings.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyDrawings = true;
      continue;
    }
    // "--name=value" or "--name value".
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (arg.starts_with("--")) {
      if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
        name = arg.substr(0, equals);
        inlineValue = arg.substr(equals + 1);
      }
    }
    auto value = [&](std::string* out) {
      if (inlineValue) {
        *out = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    auto flag = [&]() { return !inlineValue.has_value(); };

    std::string v;
    if (name == "-h" || name == "--help") {
      if (!flag()) return fail(name, "takes no value");
      options.help = true;
    } else if (name == "--version") {
      if (!flag()) return fail(name, "takes no value");
      options.version = true;
    } else if (name == "-q" || name == "--quiet") {
      if (!flag()) return fail(name, "takes no value");
      options.quiet = true;
    } else if (name == "--json") {
      if (!flag()) return fail(name, "takes no value");
      options.json = true;
    } else if (name == "--saved") {
      if (!flag()) return fail(name, "takes no value");
      options.saved = true;
    } else if (name == "--layout-paper-size") {
      if (!flag()) return fail(name, "takes no value");
      layoutPaperSize = true;
    } else if (name == "--no-raster" || name == "--no-layers" || name == "--no-layout-paper-size") {
      if (!flag()) return fail(name, "takes no value");
      if (name == "--no-raster") settings.ExportRaster = 0;
      if (name == "--no-layers") settings.ExportLayer = 0;
      if (name == "--no-layout-paper-size") layoutPaperSize = false;
    } else if (name == "-t" || name == "--output-type") {
      if (!value(&v)) return fail(name, "needs per-drawing, merge or per-layout");
      const int type = Choice(v, {"per-drawing", "merge", "per-layout"});
      if (type < 0) return fail(name, "'" + v + "' is not per-drawing, merge or per-layout");
      outputType = type;
    } else if (name == "-o" || name == "--target") {
      if (!value(&v)) return fail(name, "needs a path");
      settings.TargetPdf = v;
      targetGiven = true;
    } else if (name == "--layout") {
      if (!value(&v)) return fail(name, "needs model, all, active or paper");
      const int layout = Choice(v, {"model", "all", "active", "paper"});
      if (layout < 0) return fail(name, "'" + v + "' is not model, all, active or paper");
      settings.Layout = static_cast<LayoutChoice>(layout);
    } else if (name == "--area") {
      if (!value(&v)) return fail(name, "needs view, extents or layout");
      const int area = Choice(v, {"view", "extents", "layout"});
      if (area < 0) return fail(name, "'" + v + "' is not view, extents or layout");
      settings.Area = static_cast<AreaChoice>(area);
    } else if (name == "--scale") {
      if (!value(&v)) return fail(name, "needs a number");
      const std::optional<double> scale = Number(v);
      if (!scale || *scale < 0.001)
        return fail(name, "'" + v + "' is not a number of at least 0.001");
      settings.Scale = *scale;
    } else if (name == "--colors") {
      if (!value(&v)) return fail(name, "needs true, gray or bw");
      const int colors = Choice(v, {"true", "gray", "bw"});
      if (colors < 0) return fail(name, "'" + v + "' is not true, gray or bw");
      settings.Colors = static_cast<ColorMode>(colors);
    } else if (name == "--size") {
      if (!value(&v)) return fail(name, "needs WIDTHxHEIGHT with mm or in");
      // The unit is written after the height ("420x297mm"); millimetres when there is none.
      // A width with a unit of its own must agree with it.
      const std::size_t x = ToAsciiLower(v).find('x');
      int units = 1, widthUnits = -1;
      std::optional<double> width, height;
      if (x != std::string::npos) {
        height = Length(std::string_view(v).substr(x + 1), &units);
        width = Length(std::string_view(v).substr(0, x), &widthUnits);
      }
      if (!width || !height || (widthUnits != -1 && widthUnits != units)) {
        return fail(name, "'" + v + "' is not WIDTHxHEIGHT with mm or in (e.g. 420x297mm)");
      }
      settings.PdfWidth = *width;
      settings.PdfHeight = *height;
      settings.Units = static_cast<PaperUnit>(units);
      pageGiven = true;
    } else if (name == "--paper") {
      if (!value(&v)) return fail(name, "needs a paper name");
      std::string paper = ToAsciiLower(v);
      bool portrait = false;
      if (paper.ends_with("-portrait")) {
        portrait = true;
        paper.resize(paper.size() - 9);
      } else if (paper.ends_with("-landscape")) {
        paper.resize(paper.size() - 10);
      }
      const Paper* found = nullptr;
      for (const Paper& p : kPapers) {
        if (paper == p.name) found = &p;
      }
      if (!found)
        return fail(name, "'" + v +
                              "' is not a known paper (A0-A5, B4, B5, letter, legal, tabloid, "
                              "ansi-a..e, arch-a..e)");
      settings.PdfWidth = portrait ? found->height : found->width;
      settings.PdfHeight = portrait ? found->width : found->height;
      settings.Units = static_cast<PaperUnit>(found->units);
      pageGiven = true;
    } else if (name == "--margin") {
      if (!value(&v)) return fail(name, "needs a length with mm or in");
      margin = Length(v, &marginUnits);
      if (!margin || *margin < 0) return fail(name, "'" + v + "' is not a length with mm or in");
    } else if (name == "--dpi") {
      if (!value(&v)) return fail(name, "needs a resolution");
      int dpi = 0;
      const auto [end, err] = std::from_chars(v.data(), v.data() + v.size(), dpi);
      if (err != std::errc() || end != v.data() + v.size() || dpi <= 10) {
        return fail(name, "'" + v + "' is not a whole number above 10");
      }
      settings.Quality = dpi;
    } else if (name == "--pen-set") {
      if (!value(&v) || v.empty()) return fail(name, "needs the name of a stored pen set");
      options.penSet = v;
      settings.UsePenSets = 1;
    } else if (name == "--ctb") {
      if (!value(&v) || v.empty()) return fail(name, "needs a plot style table (.ctb)");
      options.ctb = v;
      settings.UsePenSets = 1;
    } else if (name == "--pen-file") {
      if (!value(&v) || v.empty()) return fail(name, "needs a pen-set file (.cps)");
      options.penFile = v;
    } else if (name == "--export-pen-sets" || name == "--import-pen-sets") {
      if (!value(&v) || v.empty()) return fail(name, "needs a pen-set file (.cps)");
      if (options.transfer != CliOptions::PenSetTransfer::None) {
        return fail(name, "only one pen-set export or import per run");
      }
      options.transfer = name == "--export-pen-sets" ? CliOptions::PenSetTransfer::Export
                                                     : CliOptions::PenSetTransfer::Import;
      options.transferFile = v;
    } else if (name == "--overwrite") {
      if (!flag()) return fail(name, "takes no value");
      options.overwrite = true;
    } else if (name == "--title" || name == "--author" || name == "--subject" ||
               name == "--keywords") {
      if (!value(&v)) return fail(name, "needs a text");
      if (name == "--title") settings.Title = v;
      if (name == "--author") settings.Author = v;
      if (name == "--subject") settings.Subject = v;
      if (name == "--keywords") settings.Keywords = v;
    } else if (name == "-r" || name == "--recursive") {
      if (!flag()) return fail(name, "takes no value");
      options.recursive = true;
    } else if (name == "--from-list") {
      if (!value(&v) || v.empty())
        return fail(name, "needs a file of paths, or - for standard input");
      options.fromList = v;
    } else if (name == "--line-weights") {
      if (!value(&v)) return fail(name, "needs exact or whole-points");
      const int weights = Choice(v, {"whole-points", "exact"});
      if (weights < 0) return fail(name, "'" + v + "' is not exact or whole-points");
      settings.ExactLineWeights = static_cast<std::uint8_t>(weights);
    } else if (name == "--compression") {
      if (!value(&v)) return fail(name, "needs fast, default or small");
      const int effort = Choice(v, {"fast", "default", "small"});
      if (effort < 0) return fail(name, "'" + v + "' is not fast, default or small");
      settings.Compression = static_cast<std::uint8_t>(effort);
    } else if (name == "-j" || name == "--jobs") {
      if (!value(&v)) return fail(name, "needs a number of drawings at once");
      int jobs = 0;
      const auto [end, err] = std::from_chars(v.data(), v.data() + v.size(), jobs);
      if (err != std::errc() || end != v.data() + v.size() || jobs < 1 || jobs > 256) {
        return fail(name, "'" + v + "' is not a whole number from 1 to 256");
      }
      options.jobs = jobs;
    } else if (name == "--shard") {
      if (!value(&v)) return fail(name, "needs K/N");
      const std::size_t slash = v.find('/');
      int k = -1, n = 0;
      const char* begin = v.data();
      const char* middle = slash == std::string::npos ? nullptr : v.data() + slash;
      if (!middle || std::from_chars(begin, middle, k).ptr != middle ||
          std::from_chars(middle + 1, v.data() + v.size(), n).ptr != v.data() + v.size() || n < 1 ||
          k < 0 || k >= n) {
        return fail(name, "'" + v + "' is not K/N with 0 <= K < N");
      }
      options.shard = k;
      options.shards = n;
    } else if (name == "--skip-existing") {
      if (!flag()) return fail(name, "takes no value");
      options.skipExisting = true;
    } else if (name == "--strict") {
      if (!flag()) return fail(name, "takes no value");
      options.strict = true;
    } else if (name == "--restrict-references") {
      if (!flag()) return fail(name, "takes no value");
      settings.RestrictReferences = 1;
    } else if (name == "--search-path") {
      if (!value(&v) || v.empty()) return fail(name, "needs a folder");
      if (!searchPathsGiven) settings.SearchPaths.clear();
      searchPathsGiven = true;
      settings.SearchPaths.push_back(v);
    } else {
      return fail(name, "unknown option (try --help)");
    }
  }
  if (options.help || options.version) return true;

  if (!options.ctb.empty() && !options.penSet.empty()) {
    return fail("--ctb", "cannot be used with --pen-set");
  }
  if (!options.penFile.empty() && options.penSet.empty()) {
    return fail("--pen-file", "needs --pen-set NAME to choose a set of the file");
  }
  if (options.overwrite && options.transfer != CliOptions::PenSetTransfer::Import) {
    return fail("--overwrite", "only applies to --import-pen-sets");
  }
  if (options.transfer != CliOptions::PenSetTransfer::None) {
    // No conversion: the other words name pen sets.
    options.penSetNames = std::move(options.drawings);
    options.drawings.clear();
    return true;
  }

  // A page size asked for is every page's: paper layouts then leave their own paper, unless
  // --layout-paper-size asks for it back.
  if (layoutPaperSize) {
    settings.UseLayoutPageSet = *layoutPaperSize ? 1 : 0;
  } else if (pageGiven) {
    settings.UseLayoutPageSet = 0;
  }
  if (outputType) {
    settings.PdfType = static_cast<OutputType>(*outputType);
  } else if (targetGiven || !options.saved) {
    settings.PdfType =
        HasPdfExtension(settings.TargetPdf) ? OutputType::Merged : OutputType::PerDrawing;
  }
  if (margin) {
    // The margin is held in the unit of the page size.
    double m = *margin;
    if (marginUnits == 1 && settings.Units == PaperUnit::Inch) m /= 25.4;
    if (marginUnits == 0 && settings.Units != PaperUnit::Inch) m *= 25.4;
    settings.Margin = m;
  }
  if (options.drawings.empty() && options.fromList.empty()) {
    *error = "no drawing given (try --help)";
    return false;
  }
  if (settings.PdfType == OutputType::Merged && settings.TargetPdf.empty()) {
    *error = "You must input a PDF filename first!";
    return false;
  }
  if (options.skipExisting && settings.PdfType == OutputType::Merged) {
    return fail("--skip-existing", "needs one PDF per drawing or per layout, not a merged file");
  }
  // A folder named like a PDF file is almost always a mistake: one PDF per drawing or layout
  // needs a folder, and making one called "out.pdf" would surprise.
  if (settings.PdfType != OutputType::Merged && HasPdfExtension(settings.TargetPdf)) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(settings.TargetPdf, ignored)) {
      return fail("-o", "'" + settings.TargetPdf +
                            "' names a PDF file, but one PDF per drawing or per layout needs an "
                            "output folder (or use -t merge)");
    }
  }
  return true;
}

namespace {

// One option of the command line as the help, the manual page and the shell completions show
// it. All three are made from this table, so they cannot disagree.
struct OptionDoc {
  const char* section;
  const char* names;     // "-t, --output-type"
  const char* argument;  // "per-drawing|merge|per-layout", or "" for a flag
  const char* text;      // what it does; "\n" starts a line of its own in the help
};

constexpr const char* kSynopsis =
    "tarnvelox-cli [OPTIONS] DRAWING|FOLDER...\n"
    "tarnvelox-cli --export-pen-sets|--import-pen-sets FILE [NAME...]";
constexpr const char* kDescription =
    "Converts drawings (DWG, DXF, DWF) into PDF: one page per layout, layers as optional "
    "content, a bookmark per drawing and per layout. A folder stands for the drawings in it "
    "(.dwg, then .dxf, then .dwf, each by name).";
constexpr const char* kExitStatus =
    "0 all converted, 1 parameter error (a page of no size or larger than 14400 points, a "
    "margin that leaves no room, more than 2400 dpi), 2 a drawing failed, 4 stopped (SIGINT or "
    "SIGTERM), 5 the run ran out of memory, 64 usage error or a file or pen set name that cannot "
    "be used, 73 the settings store cannot be written (an import then stores nothing).";

constexpr OptionDoc kOptions[] = {
    {"Input", "-r, --recursive", "", "search folders with their subfolders"},
    {"Input", "--from-list", "FILE",
     "also the drawings (or folders) named in FILE, one per line (- for standard input)"},
    {"Output", "-t, --output-type", "per-drawing|merge|per-layout",
     "one PDF per drawing, one for the run, or one per layout (default: merge when -o ends in "
     ".pdf, else per-drawing)"},
    {"Output", "-o, --target", "PATH",
     "merge: the PDF file; otherwise the output folder (default: next to each drawing)"},
    {"Output", "--compression", "fast|default|small",
     "how hard pages are compressed: fast writes larger files sooner, small the smallest files "
     "(default: default)"},
    {"Pages", "--layout", "model|all|active|paper", "which layouts become pages (default: all)"},
    {"Pages", "--area", "view|extents|layout", "what is fitted to the page (default: extents)"},
    {"Pages", "--scale", "X", "zoom factor for extents and layout, at least 0.001 (default 0.98)"},
    {"Pages", "--colors", "true|gray|bw", "colour mode (default: true)"},
    {"Pages", "--line-weights", "exact|whole-points",
     "lineweights as the drawing gives them, or rounded to whole points as earlier versions did "
     "(default: exact)"},
    {"Pages", "--size", "WxH(mm|in)",
     "the size of every page, e.g. 420x297mm or 11x8.5in (default: 297x210mm)"},
    {"Pages", "--paper", "NAME",
     "the paper of every page: A0-A5, B4, B5, letter, legal, tabloid, ansi-a..e, arch-a..e; "
     "landscape, or NAME-portrait"},
    {"Pages", "--margin", "X(mm|in)", "margin on all four sides (default: 0)"},
    {"Pages", "--dpi", "N", "resolution, above 10 and at most 2400 (default: 200)"},
    {"Pages", "--no-raster", "", "leave raster images out"},
    {"Pages", "--no-layers", "", "no optional content for the drawing's layers"},
    {"Pages", "--no-layout-paper-size", "",
     "paper layouts take the page size too, not their own paper (what --paper and --size imply)"},
    {"Pages", "--layout-paper-size", "",
     "paper layouts take their own paper, even with --paper or --size"},
    {"Pages", "--pen-set", "NAME", "draw with the stored pen set NAME"},
    {"Pages", "--pen-file", "FILE.cps",
     "with --pen-set: take the set NAME from a pen-set file instead"},
    {"Pages", "--ctb", "FILE",
     "draw with the pens of a plot style table (.ctb; a regular file, not a FIFO or device)"},
    {"Pen sets (no conversion)", "--export-pen-sets", "FILE.cps [NAME...]",
     "write stored pen sets (all when none named)"},
    {"Pen sets (no conversion)", "--import-pen-sets", "FILE.cps [NAME...]",
     "store pen sets of a file (all when none named) or the pens of a .ctb table as the set "
     "AutoCAD-NAME"},
    {"Pen sets (no conversion)", "--overwrite", "",
     "let an import replace stored sets of the same name"},
    {"Document", "--title, --author, --subject, --keywords", "TEXT",
     "the document information of the PDF files"},
    {"Document", "--search-path", "DIR", "where drawings find fonts and images (repeatable)"},
    {"Document", "--restrict-references", "",
     "drawings read images, fonts and other files they name only in their own folder and the "
     "search paths"},
    {"Run", "--saved", "", "start from the options the wizard saved, not the defaults"},
    {"Run", "--json", "",
     "print the results on standard output: {\"results\": [...], \"drawings\": [{\"path\", "
     "\"status\", \"pages\", \"outputs\", \"warnings\"}, ...], \"failed\": [...], \"status\": N}"},
    {"Run", "-j, --jobs", "N",
     "drawings converted side by side (default: one per core); a merged file takes their "
     "pages in list order"},
    {"Run", "--shard", "K/N",
     "convert only share K (0 to N-1) of N equal runs of the list, in its order, so that N "
     "machines or array jobs split an archive without a coordinator"},
    {"Run", "--skip-existing", "",
     "leave drawings whose PDF is newer than the drawing, so a stopped run resumes (not with "
     "a merged file)"},
    {"Run", "--strict", "",
     "a drawing with warnings (damage read around, something not drawn as it is) fails"},
    {"Run", "-q, --quiet", "", "no log and no progress bar"},
    {"Run", "-h, --help", "", "this text"},
    {"Run", "--version", "", "the program's name and version"},
};

// text broken into lines of at most width characters.
std::vector<std::string> Wrapped(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    const std::string_view word =
        text.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    if (space == std::string_view::npos) break;
    at = space + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The help fits a terminal of 80 columns.
constexpr std::size_t kWidth = 79;

std::string MakeUsageText() {
  std::string text = "Usage: ";
  const std::string_view synopsis = kSynopsis;
  const std::size_t newline = synopsis.find('\n');
  text += std::string(synopsis.substr(0, newline)) + "\n       " +
          std::string(synopsis.substr(newline + 1)) + "\n";
  for (const std::string& line : Wrapped(kDescription, kWidth)) text += line + "\n";
  const char* section = "";
  constexpr std::size_t kColumn = 26;
  for (const OptionDoc& option : kOptions) {
    if (std::string_view(section) != option.section) {
      section = option.section;
      text += std::string("\n") + section + ":\n";
    }
    std::string head = std::string("  ") + option.names;
    if (*option.argument) head += std::string(" ") + option.argument;
    const std::vector<std::string> lines = Wrapped(option.text, kWidth - kColumn);
    if (head.size() + 2 > kColumn) {
      text += head + "\n" + std::string(kColumn, ' ');
    } else {
      text += head + std::string(kColumn - head.size(), ' ');
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) text += std::string(kColumn, ' ');
      text += lines[i] + "\n";
    }
  }
  text += "\n";
  for (const std::string& line : Wrapped(std::string("Exit status: ") + kExitStatus, kWidth)) {
    text += line + "\n";
  }
  return text;
}

// The argument an option takes, as the completions offer it: files, folders or free text.
const char* ArgumentKind(std::string_view argument) {
  if (argument.empty()) return "";
  if (argument.find("FILE") != std::string_view::npos || argument == "PATH") return "file";
  if (argument == "DIR") return "folder";
  return "text";
}

// A text for troff: backslashes doubled, a leading dot or quote guarded, hyphens of options
// kept as minus signs.
std::string Troff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

}  // namespace

const char* UsageText() {
  static const std::string text = MakeUsageText();
  return text.c_str();
}

std::string ManualPage(const char* version) {
  std::string page = ".TH TARNVELOX-CLI 1 \"\" \"tarnvelox " + std::string(version) +
                     "\" \"User Commands\"\n.SH NAME\ntarnvelox\\-cli \\- convert drawings "
                     "(DWG, DXF, DWF) into PDF\n.SH SYNOPSIS\n";
  const std::string_view synopsis = kSynopsis;
  std::size_t start = 0;
  while (start < synopsis.size()) {
    const std::size_t end = synopsis.find('\n', start);
    page += ".B " + Troff(synopsis.substr(start, end - start)) + "\n.br\n";
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  page += ".SH DESCRIPTION\n" + Troff(kDescription) + "\n";
  const char* section = "";
  for (const OptionDoc& option : kOptions) {
    if (std::string_view(section) != option.section) {
      section = option.section;
      page += ".SS " + Troff(section) + "\n";
    }
    page += ".TP\n\\fB" + Troff(option.names) + "\\fR";
    if (*option.argument) page += " \\fI" + Troff(option.argument) + "\\fR";
    page += "\n" + Troff(option.text) + "\n";
  }
  page += ".SH EXIT STATUS\n" + Troff(kExitStatus) + "\n";
  return page;
}

std::string Completion(const std::string& shell) {
  std::string script;
  if (shell == "bash") {
    std::string words;
    for (const std::string& name : OptionNames()) words += (words.empty() ? "" : " ") + name;
    script =
        "# bash completion for tarnvelox-cli, made from its table of options.\n"
        "_tarnvelox_cli() {\n"
        "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "  case $prev in\n"
        "    --search-path) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
        "  esac\n"
        "  if [[ $cur == -* ]]; then\n"
        "    COMPREPLY=($(compgen -W \"" +
        words +
        "\" -- \"$cur\"))\n"
        "  else\n"
        "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        "  fi\n"
        "}\n"
        "complete -o filenames -F _tarnvelox_cli tarnvelox-cli\n";
  } else if (shell == "zsh") {
    script =
        "#compdef tarnvelox-cli\n# zsh completion for tarnvelox-cli, made from its table of "
        "options.\n_arguments -s \\\n";
    for (const OptionDoc& option : kOptions) {
      std::string help = option.text;
      for (char& c : help) {
        if (c == '[' || c == ']' || c == '\'' || c == ':') c = ' ';
      }
      std::string_view list = option.names;
      while (!list.empty()) {
        const std::size_t comma = list.find(", ");
        const std::string name(list.substr(0, comma));
        script += "  '" + name + "[" + help + "]";
        const std::string kind = ArgumentKind(option.argument);
        if (kind == "file") script += ":file:_files";
        if (kind == "folder") script += ":folder:_files -/";
        if (kind == "text") script += ":value: ";
        script += "' \\\n";
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 2);
      }
    }
    script += "  '*:drawing or folder:_files'\n";
  }
  return script;
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names;
  for (const OptionDoc& option : kOptions) {
    std::string_view list = option.names;
    while (!list.empty()) {
      const std::size_t comma = list.find(", ");
      names.emplace_back(list.substr(0, comma));
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 2);
    }
  }
  return names;
}

std::string ShortenMiddle(std::string_view text, int columns) {
  // The byte offset where each character starts, and the end.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size();) {
    starts.push_back(i);
    i += std::max<std::size_t>(1, Utf8SequenceLength(text, i));
  }
  const int count = static_cast<int>(starts.size());
  if (count <= columns) return std::string(text);
  if (columns <= 0) return {};
  if (columns == 1) return "\u2026";
  // The file name at the end matters most: one more character after the ellipsis than before.
  const int kept = columns - 1;
  const int head = (kept - 1) / 2, tail = kept - head;
  std::string out(text.substr(0, starts[static_cast<std::size_t>(head)]));
  out += "\u2026";
  out.append(text.substr(starts[static_cast<std::size_t>(count - tail)]));
  return out;
}
