#include "drawing/TextEngine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>

#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>

#include "drawing/ImageFile.h"
#include "platform/Ascii.h"
#include "platform/Utf8.h"

namespace drawing {

namespace {

// Curves are flattened until no point of a segment is further from the curve than this share
// of the cap height (0.025 mm on 10 mm text, half a pixel of 2400 dpi on 3.5 mm text).
constexpr double kFlatness = 0.0025;
constexpr int kMaxCurveSegments = 64;
// Slant of an italic request that found no italic face: the usual 12 degrees (tan 12°).
constexpr double kSyntheticSlant = 0.21255656167002213;
// Advance of each character, in cap heights, when the system has no usable font at all.
constexpr double kNoFaceAdvance = 0.8;
bool IsControl(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
}

// A family or file stem as compared: lower case without spaces, hyphens and underscores, so
// that "Liberation Sans", "LiberationSans" and "liberation_sans" are the same name.
std::string NormalizedName(std::string_view name) {
  std::string result;
  result.reserve(name.size());
  for (char c : name) {
    if (c != ' ' && c != '-' && c != '_') result.push_back(AsciiLower(c));
  }
  return result;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The file name of a path as drawings store it: either separator, since drawings made on
// Windows name "C:\Windows\Fonts\arial.ttf".
std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Faces that stand in for fonts drawings often name, with the same advance widths.
struct MetricAlias {
  const char* name;  // normalized family or file stem
  const char* family;
  bool bold;
  bool italic;
};
constexpr MetricAlias kMetricAliases[] = {
    {"arial", "Liberation Sans", false, false},
    {"arialmt", "Liberation Sans", false, false},
    {"arialbd", "Liberation Sans", true, false},
    {"ariali", "Liberation Sans", false, true},
    {"arialbi", "Liberation Sans", true, true},
    {"helvetica", "Liberation Sans", false, false},
    {"swiss", "Liberation Sans", false, false},
    {"arialnarrow", "Liberation Sans Narrow", false, false},
    {"arialn", "Liberation Sans Narrow", false, false},
    {"arialnb", "Liberation Sans Narrow", true, false},
    {"arialni", "Liberation Sans Narrow", false, true},
    {"arialnbi", "Liberation Sans Narrow", true, true},
    {"times", "Liberation Serif", false, false},
    {"timesnewroman", "Liberation Serif", false, false},
    {"timesbd", "Liberation Serif", true, false},
    {"timesi", "Liberation Serif", false, true},
    {"timesbi", "Liberation Serif", true, true},
    {"courier", "Liberation Mono", false, false},
    {"couriernew", "Liberation Mono", false, false},
    {"cour", "Liberation Mono", false, false},
    {"courbd", "Liberation Mono", true, false},
    {"couri", "Liberation Mono", false, true},
    {"courbi", "Liberation Mono", true, true},
};

const MetricAlias* FindMetricAlias(const std::string& normalized) {
  if (normalized.empty()) return nullptr;
  for (const MetricAlias& alias : kMetricAliases) {
    if (normalized == alias.name) return &alias;
  }
  return nullptr;
}

// Plain sans faces for SHX fonts and for everything else that finds no face.
constexpr const char* kSansFamilies[] = {"Liberation Sans", "DejaVu Sans"};
constexpr const char* kLastResortFamilies[] = {"DejaVu Sans", "Liberation Sans"};

// The system's font configuration, read once per process and released at exit. It is a
// configuration of our own rather than fontconfig's implicit default, which is never released.
class CFontconfig {
 public:
  static FcConfig* Get() {
    static CFontconfig instance;
    return instance.config;
  }
  CFontconfig(const CFontconfig&) = delete;
  CFontconfig& operator=(const CFontconfig&) = delete;

 private:
  CFontconfig() : config(FcInitLoadConfigAndFonts()) {}
  ~CFontconfig() {
    if (config) FcConfigDestroy(config);
  }
  FcConfig* config;
};

struct FontLocation {
  std::string path;
  int index = 0;
};

// Collects a glyph outline as polygons in font units, flattening the curves on the way.
class COutlineFlattener {
 public:
  explicit COutlineFlattener(double tolerance) : tolerance(tolerance) {}

  std::vector<std::vector<Vec2>> Take() {
    FinishContour();
    return std::move(contours);
  }

  static int MoveTo(const FT_Vector* to, void* user) {
    auto* self = static_cast<COutlineFlattener*>(user);
    self->FinishContour();
    self->Add(Point(to));
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* user) {
    static_cast<COutlineFlattener*>(user)->Add(Point(to));
    return 0;
  }
  static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    static_cast<COutlineFlattener*>(user)->Conic(Point(control), Point(to));
    return 0;
  }
  static int CubicTo(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to,
                     void* user) {
    static_cast<COutlineFlattener*>(user)->Cubic(Point(control1), Point(control2), Point(to));
    return 0;
  }

 private:
  static Vec2 Point(const FT_Vector* v) {
    return {static_cast<double>(v->x), static_cast<double>(v->y)};
  }

  void Add(Vec2 p) {
    if (!current.empty() && current.back().x == p.x && current.back().y == p.y) return;
    current.push_back(p);
  }

  // The deviation of a curve from its chords is bounded by its second derivative: with n
  // equal steps it is at most |p0 - 2c + p2| / (4 n²) for a quadratic and
  // 3 max(|d1|, |d2|) / (4 n²) for a cubic, which gives the number of steps for the tolerance.
  int Segments(double secondDifference, double factor) const {
    const double n = std::ceil(std::sqrt(factor * secondDifference / (4.0 * tolerance)));
    if (!(n >= 1.0)) return 1;
    return n > kMaxCurveSegments ? kMaxCurveSegments : static_cast<int>(n);
  }

  void Conic(Vec2 c, Vec2 p2) {
    if (current.empty()) return;
    const Vec2 p0 = current.back();
    const int n = Segments(std::hypot(p0.x - 2 * c.x + p2.x, p0.y - 2 * c.y + p2.y), 1.0);
    for (int k = 1; k < n; ++k) {
      const double t = static_cast<double>(k) / n, u = 1.0 - t;
      Add({u * u * p0.x + 2 * u * t * c.x + t * t * p2.x,
           u * u * p0.y + 2 * u * t * c.y + t * t * p2.y});
    }
    Add(p2);
  }

  void Cubic(Vec2 c1, Vec2 c2, Vec2 p3) {
    if (current.empty()) return;
    const Vec2 p0 = current.back();
    const double d1 = std::hypot(p0.x - 2 * c1.x + c2.x, p0.y - 2 * c1.y + c2.y);
    const double d2 = std::hypot(c1.x - 2 * c2.x + p3.x, c1.y - 2 * c2.y + p3.y);
    const int n = Segments(std::max(d1, d2), 3.0);
    for (int k = 1; k < n; ++k) {
      const double t = static_cast<double>(k) / n, u = 1.0 - t;
      const double a = u * u * u, b = 3 * u * u * t, cc = 3 * u * t * t, d = t * t * t;
      Add({a * p0.x + b * c1.x + cc * c2.x + d * p3.x, a * p0.y + b * c1.y + cc * c2.y + d * p3.y});
    }
    Add(p3);
  }

  void FinishContour() {
    // FreeType closes each contour with a segment back to its start; the polygon does not
    // repeat its first point.
    if (current.size() > 1 && current.back().x == current.front().x &&
        current.back().y == current.front().y) {
      current.pop_back();
    }
    if (current.size() >= 3) contours.push_back(std::move(current));
    current.clear();
  }

  double tolerance;
  std::vector<Vec2> current;
  std::vector<std::vector<Vec2>> contours;
};

struct Glyph {
  std::vector<std::vector<Vec2>> contours;  // cap heights
  double advance = 0.0;                     // cap heights
};

struct FontFace {
  std::string path;
  std::string data;  // the face's bytes when it came from memory; FreeType reads them in place
  FT_Face ft = nullptr;
  double capUnits = 1.0;  // the cap height in font units
  bool italic = false;
  bool symbolCharmap = false;
  std::unordered_map<char32_t, Glyph> glyphs;
  // Latin-1 glyphs without hashing; the map's nodes do not move, so the pointers stay valid.
  std::array<const Glyph*, 256> latin{};

  ~FontFace() {
    if (ft) FT_Done_Face(ft);
  }
};

bool IsSfnt(std::string_view data) {
  if (data.size() < 12) return false;
  const std::string_view tag = data.substr(0, 4);
  return tag == std::string_view("\0\1\0\0", 4) || tag == "OTTO" || tag == "true" || tag == "ttcf";
}

std::uint32_t Le32(std::string_view data, std::size_t at) {
  std::uint32_t value = 0;
  for (int k = 3; k >= 0; --k) value = value << 8 | static_cast<std::uint8_t>(data[at + k]);
  return value;
}

// The font data of an Embedded OpenType file (the header is little-endian, its magic number
// 0x504C at byte 34; the font data is the file's last FontDataSize bytes, XOR-ed with 0x50 when
// flag 0x10000000 is set). Empty when the data is no such file or its font data is compressed
// (MicroType Express, flag 4), which FreeType cannot read.
std::string EotFontData(std::string_view data) {
  if (data.size() < 36 || static_cast<std::uint8_t>(data[34]) != 0x4C ||
      static_cast<std::uint8_t>(data[35]) != 0x50) {
    return {};
  }
  const std::uint32_t total = Le32(data, 0), size = Le32(data, 4), flags = Le32(data, 12);
  if (total > data.size() || size > total || size < 12 || (flags & 0x4) != 0) return {};
  std::string font(data.substr(total - size, size));
  if (flags & 0x10000000) {
    for (char& c : font) c = static_cast<char>(c ^ 0x50);
  }
  return IsSfnt(font) ? font : std::string();
}

}  // namespace

struct CTextEngine::Impl {
  FT_Library library = nullptr;
  std::vector<std::string> folders;
  bool restricted = false;
  std::vector<std::string> allowedFolders;
  // Lower-case file name → path, per search folder, read when first needed.
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folderListings;
  // Lower-case file name → installed font file, from fontconfig's list, read when first needed.
  std::unordered_map<std::string, FontLocation> installedFiles;
  bool installedFilesRead = false;
  std::unordered_map<std::string, std::unique_ptr<FontFace>> faces;  // by path and face index
  std::unordered_map<std::string, FontFace*> resolved;  // by font file, family and style
  FontFace* fallbackFace = nullptr;
  // One line for each font that was not found and the face that stood in for it.
  std::vector<std::string> standIns;
  bool fallbackResolved = false;
  // Code point → an installed face that has it (null: none), for characters neither the
  // drawing's face nor the last-resort face covers (Chinese, Japanese, Korean, Thai …).
  std::unordered_map<char32_t, FontFace*> covering;
  // Faces given as bytes, by lower-case font file name.
  std::unordered_map<std::string, std::unique_ptr<FontFace>> memoryFaces;

  Impl() {
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
  }
  ~Impl() {
    faces.clear();
    memoryFaces.clear();
    if (library) FT_Done_FreeType(library);
  }

  FontFace* Resolve(const std::string& fontFile, const std::string& family, bool bold, bool italic);
  FontFace* ResolveUncached(const std::string& fontFile, const std::string& family, bool bold,
                            bool italic);
  FontFace* FromFolders(std::string_view name);
  FontFace* FromInstalledFile(std::string_view name);
  FontFace* FromFamily(const std::string& family, bool bold, bool italic, bool exact);
  FontFace* Open(const std::string& path, int index);
  // Selects the face's character map and measures its cap height; false when it is no face
  // the engine can draw.
  bool Prepare(FontFace& face);
  FontFace* Fallback();
  FontFace* CoveringFace(char32_t cp);
  const Glyph& GetGlyph(FontFace& face, char32_t cp);
  Glyph BuildGlyph(FontFace& face, FT_UInt index);
};

FontFace* CTextEngine::Impl::Open(const std::string& path, int index) {
  if (!library || path.empty()) return nullptr;
  std::string key = path;
  key += '#';
  key += std::to_string(index);
  if (auto it = faces.find(key); it != faces.end()) return it->second.get();

  auto face = std::make_unique<FontFace>();
  face->path = path;
  if (FT_New_Face(library, path.c_str(), index, &face->ft) != 0) {
    face->ft = nullptr;
    faces.emplace(key, nullptr);  // remember the failure
    return nullptr;
  }
  if (!Prepare(*face)) {
    faces.emplace(key, nullptr);
    return nullptr;
  }
  FontFace* result = face.get();
  faces.emplace(std::move(key), std::move(face));
  return result;
}

bool CTextEngine::Impl::Prepare(FontFace& prepared) {
  FontFace* face = &prepared;
  FT_Face ft = face->ft;
  if (!FT_IS_SCALABLE(ft) || ft->units_per_EM == 0) return false;
  if (!ft->charmap) {
    // Symbol fonts map their characters at U+F000 + code in a (3, 0) table.
    if (FT_Select_Charmap(ft, FT_ENCODING_MS_SYMBOL) == 0) {
      face->symbolCharmap = true;
    } else if (ft->num_charmaps > 0) {
      FT_Set_Charmap(ft, ft->charmaps[0]);
    }
  }
  face->italic = (ft->style_flags & FT_STYLE_FLAG_ITALIC) != 0;

  double cap = 0.0;
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
      os2 && os2->version != 0xFFFF && os2->version >= 2 && os2->sCapHeight > 0) {
    cap = os2->sCapHeight;
  }
  if (cap <= 0.0) {
    const FT_UInt h = FT_Get_Char_Index(ft, 'H');
    if (h != 0 &&
        FT_Load_Glyph(ft, h, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
        ft->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
      FT_BBox box;
      FT_Outline_Get_CBox(&ft->glyph->outline, &box);
      cap = static_cast<double>(box.yMax);
    }
  }
  if (cap <= 0.0) cap = 0.7 * ft->units_per_EM;
  face->capUnits = cap;
  return true;
}

FontFace* CTextEngine::Impl::FromFolders(std::string_view name) {
  if (name.empty() || folders.empty()) return nullptr;
  const std::string lower = ToAsciiLower(name);
  std::vector<std::string> candidates{lower};
  if (lower.find('.') == std::string::npos) {
    for (const char* ext : {".ttf", ".otf", ".ttc"}) candidates.push_back(lower + ext);
  }
  for (const std::string& folder : folders) {
    auto [it, inserted] = folderListings.try_emplace(folder);
    if (inserted) {
      std::error_code error;
      for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
           entry.increment(error)) {
        std::error_code statError;
        if (!entry->is_regular_file(statError)) continue;
        it->second.try_emplace(ToAsciiLower(entry->path().filename().string()),
                               entry->path().string());
      }
    }
    for (const std::string& candidate : candidates) {
      if (auto file = it->second.find(candidate); file != it->second.end()) {
        if (FontFace* face = Open(file->second, 0)) return face;
      }
    }
  }
  return nullptr;
}

FontFace* CTextEngine::Impl::FromInstalledFile(std::string_view name) {
  FcConfig* config = CFontconfig::Get();
  if (name.empty() || !config) return nullptr;
  if (!installedFilesRead) {
    installedFilesRead = true;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
    FcFontSet* set = (pattern && objects) ? FcFontList(config, pattern, objects) : nullptr;
    if (set) {
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch || !file) {
          continue;
        }
        FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
        const std::string path(reinterpret_cast<const char*>(file));
        // Of the faces of a collection (.ttc) the first one stands for the file.
        auto [entry, inserted] =
            installedFiles.try_emplace(ToAsciiLower(BaseName(path)), FontLocation{path, index});
        if (!inserted && entry->second.path == path) {
          entry->second.index = std::min(entry->second.index, index);
        }
      }
      FcFontSetDestroy(set);
    }
    if (objects) FcObjectSetDestroy(objects);
    if (pattern) FcPatternDestroy(pattern);
  }
  std::string lower = ToAsciiLower(name);
  auto it = installedFiles.find(lower);
  if (it == installedFiles.end() && lower.find('.') == std::string::npos) {
    it = installedFiles.find(lower + ".ttf");
  }
  return it == installedFiles.end() ? nullptr : Open(it->second.path, it->second.index);
}

// Asks fontconfig for a family. exact: the face found must carry that family name, because
// fontconfig always answers with its best guess, and a guess is what the later steps of the
// lookup do better (metric-compatible faces first).
FontFace* CTextEngine::Impl::FromFamily(const std::string& family, bool bold, bool italic,
                                        bool exact) {
  const std::string wanted = NormalizedName(family);
  FcConfig* config = CFontconfig::Get();
  if (wanted.empty() || !config) return nullptr;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;

  bool accepted = !exact;
  FcChar8* name = nullptr;
  for (int n = 0; !accepted && FcPatternGetString(match, FC_FAMILY, n, &name) == FcResultMatch;
       ++n) {
    accepted = name && NormalizedName(reinterpret_cast<const char*>(name)) == wanted;
  }
  FontFace* face = nullptr;
  FcChar8* file = nullptr;
  int index = 0;
  if (accepted && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    face = Open(reinterpret_cast<const char*>(file), index);
  }
  FcPatternDestroy(match);
  return face;
}

FontFace* CTextEngine::Impl::Resolve(const std::string& fontFile, const std::string& family,
                                     bool bold, bool italic) {
  std::string key;
  key.reserve(fontFile.size() + family.size() + 3);
  key += fontFile;
  key += '\x1f';
  key += family;
  key += bold ? '1' : '0';
  key += italic ? '1' : '0';
  if (auto it = resolved.find(key); it != resolved.end()) return it->second;
  FontFace* face = ResolveUncached(fontFile, family, bold, italic);
  resolved.emplace(std::move(key), face);
  return face;
}

FontFace* CTextEngine::Impl::ResolveUncached(const std::string& fontFile, const std::string& family,
                                             bool bold, bool italic) {
  if (auto given = memoryFaces.find(ToAsciiLower(fontFile)); given != memoryFaces.end()) {
    return given->second.get();
  }
  const std::string_view file = Trimmed(fontFile);
  const std::string_view name = BaseName(file);
  const std::string lowerName = ToAsciiLower(name);
  const std::size_t dot = lowerName.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : lowerName.substr(dot);
  const std::string stem = lowerName.substr(0, dot);
  // A font file without an extension is an SHX font ("txt", "simplex"), as drawings name them.
  const bool shx = extension == ".shx" || (extension.empty() && !name.empty());
  const std::string trimmedFamily(Trimmed(family));

  if (!name.empty() && extension != ".shx") {
    if (FontFace* face = FromFolders(name)) return face;
    if (file.find('/') != std::string_view::npos &&
        (!restricted || LiesInsideFolders(std::string(file), allowedFolders))) {
      std::error_code error;
      if (std::filesystem::is_regular_file(std::string(file), error)) {
        if (FontFace* face = Open(std::string(file), 0)) return face;
      }
    }
  }
  if (FontFace* face = FromFamily(trimmedFamily, bold, italic, true)) return face;
  if (!name.empty() && extension != ".shx") {
    if (FontFace* face = FromInstalledFile(name)) return face;
    if (FontFace* face = FromFamily(stem, bold, italic, true)) return face;
  }
  for (const std::string& candidate : {NormalizedName(trimmedFamily), NormalizedName(stem)}) {
    if (const MetricAlias* alias = FindMetricAlias(candidate)) {
      if (FontFace* face =
              FromFamily(alias->family, bold || alias->bold, italic || alias->italic, true)) {
        return face;
      }
    }
  }
  // Nothing of that name or metrics: another face stands in, and the drawing is told.
  FontFace* standIn = nullptr;
  if (shx) {
    for (const char* sans : kSansFamilies) {
      if ((standIn = FromFamily(sans, bold, italic, true))) break;
    }
  }
  for (const char* lastResort : kLastResortFamilies) {
    if (standIn) break;
    standIn = FromFamily(lastResort, bold, italic, true);
  }
  if (!standIn) standIn = FromFamily("sans-serif", bold, italic, false);
  const std::string wanted(name.empty() ? trimmedFamily : std::string(name));
  if (!wanted.empty()) {
    const std::string used =
        standIn && standIn->ft && standIn->ft->family_name ? standIn->ft->family_name : "no font";
    const std::string note =
        "the font \"" + wanted + "\" is not found; " +
        (standIn ? "\"" + used + "\" stands in for it" : "its text is left out");
    if (std::find(standIns.begin(), standIns.end(), note) == standIns.end()) {
      standIns.push_back(note);
    }
  }
  return standIn;
}

FontFace* CTextEngine::Impl::Fallback() {
  if (!fallbackResolved) {
    fallbackResolved = true;
    for (const char* lastResort : kLastResortFamilies) {
      if ((fallbackFace = FromFamily(lastResort, false, false, true))) break;
    }
  }
  return fallbackFace;
}

FontFace* CTextEngine::Impl::CoveringFace(char32_t cp) {
  if (auto it = covering.find(cp); it != covering.end()) return it->second;
  FontFace* face = nullptr;
  FcConfig* config = CFontconfig::Get();
  FcPattern* pattern = config ? FcPatternCreate() : nullptr;
  FcCharSet* wanted = pattern ? FcCharSetCreate() : nullptr;
  if (wanted && FcCharSetAddChar(wanted, static_cast<FcChar32>(cp))) {
    FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(config, pattern, &result)) {
      // The best match need not have the character at all: take it only when it does.
      FcCharSet* has = nullptr;
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch && has &&
          FcCharSetHasChar(has, static_cast<FcChar32>(cp)) &&
          FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        face = Open(reinterpret_cast<const char*>(file), index);
      }
      FcPatternDestroy(match);
    }
  }
  if (wanted) FcCharSetDestroy(wanted);
  if (pattern) FcPatternDestroy(pattern);
  covering.emplace(cp, face);
  return face;
}

Glyph CTextEngine::Impl::BuildGlyph(FontFace& face, FT_UInt index) {
  Glyph glyph;
  FT_Face ft = face.ft;
  if (FT_Load_Glyph(ft, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) {
    return glyph;
  }
  const double scale = 1.0 / face.capUnits;
  // With FT_LOAD_NO_SCALE the metrics are in font units.
  glyph.advance = static_cast<double>(ft->glyph->metrics.horiAdvance) * scale;
  if (ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return glyph;

  COutlineFlattener flattener(kFlatness * face.capUnits);
  FT_Outline_Funcs funcs{};
  funcs.move_to = &COutlineFlattener::MoveTo;
  funcs.line_to = &COutlineFlattener::LineTo;
  funcs.conic_to = &COutlineFlattener::ConicTo;
  funcs.cubic_to = &COutlineFlattener::CubicTo;
  if (FT_Outline_Decompose(&ft->glyph->outline, &funcs, &flattener) != 0) return glyph;
  glyph.contours = flattener.Take();
  for (auto& contour : glyph.contours) {
    for (Vec2& p : contour) {
      p.x *= scale;
      p.y *= scale;
    }
  }
  return glyph;
}

const Glyph& CTextEngine::Impl::GetGlyph(FontFace& face, char32_t cp) {
  if (cp < face.latin.size() && face.latin[cp]) return *face.latin[cp];
  if (auto it = face.glyphs.find(cp); it != face.glyphs.end()) return it->second;

  FT_UInt index = FT_Get_Char_Index(face.ft, cp);
  if (index == 0 && face.symbolCharmap && cp < 0x100)
    index = FT_Get_Char_Index(face.ft, 0xF000 + cp);
  Glyph glyph;
  if (index != 0) {
    glyph = BuildGlyph(face, index);
  } else {
    // Not in this face: the last-resort face has a wide repertoire (symbols, Greek, Cyrillic).
    FontFace* fallback = Fallback();
    FT_UInt fallbackIndex =
        (fallback && fallback != &face) ? FT_Get_Char_Index(fallback->ft, cp) : 0;
    // Beyond its repertoire, any installed face that has the character.
    if (fallbackIndex == 0 && cp >= 0x80) {
      fallback = CoveringFace(cp);
      fallbackIndex = fallback ? FT_Get_Char_Index(fallback->ft, cp) : 0;
    }
    glyph = fallbackIndex != 0 ? BuildGlyph(*fallback, fallbackIndex) : BuildGlyph(face, 0);
  }
  const Glyph& stored = face.glyphs.emplace(cp, std::move(glyph)).first->second;
  if (cp < face.latin.size()) face.latin[cp] = &stored;
  return stored;
}

CTextEngine::CTextEngine() {
  try {
    impl = std::make_unique<Impl>();
  } catch (...) {
    impl.reset();
  }
}

CTextEngine::~CTextEngine() = default;

void CTextEngine::RestrictFilesTo(const std::vector<std::string>& folders) {
  if (!impl) return;
  impl->restricted = true;
  impl->allowedFolders = folders;
  impl->resolved.clear();
}

void CTextEngine::AddFontData(const std::string& name, std::string data) {
  if (!impl || !impl->library || name.empty()) return;
  try {
    auto face = std::make_unique<FontFace>();
    face->path = "(" + name + ")";
    face->data = IsSfnt(data) ? std::move(data) : EotFontData(data);
    if (face->data.empty()) return;
    if (FT_New_Memory_Face(impl->library, reinterpret_cast<const FT_Byte*>(face->data.data()),
                           static_cast<FT_Long>(face->data.size()), 0, &face->ft) != 0) {
      face->ft = nullptr;
      return;
    }
    if (!impl->Prepare(*face)) return;
    impl->memoryFaces[ToAsciiLower(name)] = std::move(face);
    impl->resolved.clear();
  } catch (...) {
    // Out of memory: the name resolves as usual.
  }
}

void CTextEngine::ForgetFontData() {
  if (!impl) return;
  impl->resolved.clear();
  impl->memoryFaces.clear();
  impl->standIns.clear();
}

std::vector<std::string> CTextEngine::StandIns() const {
  return impl ? impl->standIns : std::vector<std::string>{};
}

void CTextEngine::SetSearchDirectories(const std::vector<std::string>& folders) {
  if (!impl) return;
  try {
    impl->folders.clear();
    // The run's search paths may arrive joined by ";", as the library's interface takes them.
    for (const std::string& entry : folders) {
      std::string_view rest = entry;
      while (true) {
        const std::size_t semicolon = rest.find(';');
        const std::string_view folder = Trimmed(rest.substr(0, semicolon));
        if (!folder.empty()) impl->folders.emplace_back(folder);
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
      }
    }
    impl->folderListings.clear();
    impl->resolved.clear();
  } catch (...) {
    impl->folders.clear();
    impl->resolved.clear();
  }
}

TextShape CTextEngine::Shape(std::string_view utf8, const std::string& fontFile,
                             const std::string& family, bool bold, bool italic) {
  TextShape shape;
  try {
    FontFace* face = impl ? impl->Resolve(fontFile, family, bold, italic) : nullptr;
    const double slant = (italic && face && !face->italic) ? kSyntheticSlant : 0.0;
    double x = 0.0;
    for (std::size_t i = 0; i < utf8.size();) {
      const char32_t cp = NextCodePoint(utf8, i);
      if (IsControl(cp)) continue;
      if (!face) {
        x += kNoFaceAdvance;
        continue;
      }
      const Glyph& glyph = impl->GetGlyph(*face, cp);
      for (const auto& contour : glyph.contours) {
        std::vector<Vec2>& out = shape.contours.emplace_back();
        out.resize(contour.size());
        for (std::size_t k = 0; k < contour.size(); ++k) {
          out[k].x = contour[k].x + x + contour[k].y * slant;
          out[k].y = contour[k].y;
        }
      }
      x += glyph.advance;
    }
    shape.width = x;
  } catch (...) {
    // Out of memory: what was shaped so far.
  }
  return shape;
}

double CTextEngine::MeasureWidth(std::string_view utf8, const std::string& fontFile,
                                 const std::string& family, bool bold, bool italic) {
  double x = 0.0;
  try {
    FontFace* face = impl ? impl->Resolve(fontFile, family, bold, italic) : nullptr;
    for (std::size_t i = 0; i < utf8.size();) {
      const char32_t cp = NextCodePoint(utf8, i);
      if (IsControl(cp)) continue;
      x += face ? impl->GetGlyph(*face, cp).advance : kNoFaceAdvance;
    }
  } catch (...) {
  }
  return x;
}

std::string CTextEngine::ResolvedFontFile(const std::string& fontFile, const std::string& family,
                                          bool bold, bool italic) {
  try {
    FontFace* face = impl ? impl->Resolve(fontFile, family, bold, italic) : nullptr;
    return face ? face->path : std::string();
  } catch (...) {
    return {};
  }
}

}  // namespace drawing
