#include "cli/CommandLine.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "convert/ConvertSettings.h"
#include "convert/OutputNames.h"
#include "platform/Ascii.h"

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
    } else if (name == "--no-raster" || name == "--no-layers" || name == "--no-layout-paper-size") {
      if (!flag()) return fail(name, "takes no value");
      if (name == "--no-raster") settings.ExportRaster = 0;
      if (name == "--no-layers") settings.ExportLayer = 0;
      if (name == "--no-layout-paper-size") settings.UseLayoutPageSet = 0;
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
  if (options.drawings.empty()) {
    *error = "no drawing given (try --help)";
    return false;
  }
  if (settings.PdfType == OutputType::Merged && settings.TargetPdf.empty()) {
    *error = "You must input a PDF filename first!";
    return false;
  }
  return true;
}

const char* UsageText() {
  return R"(Usage: tarnvelox-cli [OPTIONS] DRAWING...
       tarnvelox-cli --export-pen-sets|--import-pen-sets FILE [NAME...]
Converts drawings (DXF, DWG) into PDF: one page per layout, layers as optional content, a
bookmark per drawing and per layout.

Output:
  -t, --output-type per-drawing|merge|per-layout
                          one PDF per drawing, one for the run, or one per layout
                          (default: merge when -o ends in .pdf, else per-drawing)
  -o, --target PATH       merge: the PDF file; otherwise the output folder
                          (default: next to each drawing)
Pages:
  --layout model|all|active|paper   which layouts become pages (default: all)
  --area view|extents|layout        what is fitted to the page (default: extents)
  --scale X               zoom factor for extents and layout, at least 0.001 (default 0.98)
  --colors true|gray|bw   colour mode (default: true)
  --size WxH(mm|in)       page size, e.g. 420x297mm or 11x8.5in (default: 297x210mm)
  --paper NAME            A0-A5, B4, B5, letter, legal, tabloid, ansi-a..e, arch-a..e;
                          landscape, or NAME-portrait
  --margin X(mm|in)       margin on all four sides (default: 0)
  --dpi N                 resolution, above 10 (default: 200)
  --no-raster             leave raster images out
  --no-layers             no optional content for the drawing's layers
  --no-layout-paper-size  paper layouts take the page size too, not their own paper
  --pen-set NAME          draw with the stored pen set NAME
  --pen-file FILE.cps     with --pen-set: take the set NAME from a pen-set file instead
  --ctb FILE              draw with the pens of a plot style table (.ctb)
Pen sets (no conversion):
  --export-pen-sets FILE.cps [NAME...]  write stored pen sets (all when none named)
  --import-pen-sets FILE.cps [NAME...]  store pen sets of a file (all when none named) or
                          the pens of a .ctb table as the set AutoCAD-NAME
  --overwrite             let an import replace stored sets of the same name
Document:
  --title, --author, --subject, --keywords TEXT
  --search-path DIR       where drawings find fonts and images (repeatable)
Run:
  --saved                 start from the options the wizard saved, not the defaults
  --json                  print {"results": [...], "failed": [...], "status": N} on stdout
  -q, --quiet             no log and no progress bar
  -h, --help, --version

Exit status: 0 all converted, 1 parameter error, 2 a drawing failed, 4 stopped (SIGINT or
SIGTERM), 5 out of memory, 64 usage error.
)";
}
