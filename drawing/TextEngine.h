#pragma once

// Text as glyph outlines. The engine finds a face for a text style (search folders first,
// then the system's fonts through fontconfig, then metric-compatible and last-resort faces),
// turns strings into flattened outlines with FreeType and caches faces and glyphs, so that
// drawings with thousands of texts shape each glyph once. MTEXT layout (inline formatting
// codes, wrapping, line spacing, attachment) is built on top of it.
//
// One engine serves one thread; it is not safe to share an engine between threads without a
// lock. It never throws: missing fonts fall back, unknown characters draw as the face's
// .notdef box or are skipped, malformed UTF-8 draws U+FFFD.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"

namespace drawing {

// One piece of shaped text: closed contours (each a polygon, last point not repeating the
// first) in text units where the text height (cap height of the face) is 1.0, the line's
// baseline start at (0, 0), x to the right; width is the advance width of the whole piece.
// The contours keep the font's orientation: fill them with the even-odd rule.
struct TextShape {
  std::vector<std::vector<Vec2>> contours;
  double width = 0.0;
};

class CTextEngine {
 public:
  CTextEngine();
  ~CTextEngine();
  CTextEngine(const CTextEngine&) = delete;
  CTextEngine& operator=(const CTextEngine&) = delete;

  // Folders searched first for font files named by drawings (the run's search paths). File
  // names are compared there without regard to case ("ARIAL.TTF" finds "arial.ttf").
  void SetSearchDirectories(const std::vector<std::string>& folders);
  // Font files that a drawing names by a path are opened only inside these folders (installed
  // fonts and the search folders stay usable). Unset: any path is opened.
  void RestrictFilesTo(const std::vector<std::string>& folders);

  // A face given as bytes (a font a drawing carries), used for the font file `name` (compared
  // without regard to case) before any file or installed face. Takes TrueType and OpenType data,
  // and Embedded OpenType files whose font data is stored plainly or XOR-obscured; data it cannot
  // open is ignored and the name resolves as usual. ForgetFontData drops them all.
  void AddFontData(const std::string& name, std::string data);
  void ForgetFontData();
  // One line for each font of the texts shaped since ForgetFontData that was not found, naming
  // the face that stood in for it ("the font \"romans.shx\" is not found; \"DejaVu Sans\"
  // stands in for it"). Faces of the same metrics under another name are no stand-ins.
  std::vector<std::string> StandIns() const;

  // Shapes one line of UTF-8 text in the face for a style's font file ("arial.ttf", "txt.shx",
  // "simplex", "romans.shx", "") and TrueType family (may be empty). Missing fonts fall back:
  // the file in the search folders; the family through fontconfig; the file's base name as
  // an installed file or family ("arial.ttf" → "Arial"); metric-compatible faces (Arial and
  // Helvetica → Liberation Sans, Times → Liberation Serif, Courier → Liberation Mono); SHX
  // fonts, which have no outlines here, → a plain sans face; last DejaVu Sans. Never fails:
  // unknown characters become the face's .notdef or are skipped; control characters are
  // skipped; a glyph missing from the face is taken from the last-resort face when it has it.
  // An italic request that finds no italic face is slanted.
  TextShape Shape(std::string_view utf8, const std::string& fontFile, const std::string& family,
                  bool bold = false, bool italic = false);

  // The path of the face file a style resolves to, for logs and tests; empty when the system
  // has no usable font at all (Shape then gives no contours and estimated widths).
  std::string ResolvedFontFile(const std::string& fontFile, const std::string& family,
                               bool bold = false, bool italic = false);

  // Advance width of text in text units without building contours (same rules as Shape).
  double MeasureWidth(std::string_view utf8, const std::string& fontFile, const std::string& family,
                      bool bold = false, bool italic = false);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// The lines under, over and through text: where they run, in text heights from the baseline
// (under it, over it; through it at half the height), and how thick they are.
constexpr double kUnderlineDepth = 0.2;
constexpr double kOverlineHeight = 1.2;
constexpr double kRuleThickness = 0.06;

// MTEXT laid out: pieces positioned relative to the insertion point, in drawing units, x along
// the text direction and y up, with the attachment point applied (so the insertion point is at
// (0, 0)); each piece has its own height (already applied: contours are in drawing units) and
// optionally its own colour from a \C or \c code (an index as given, 0 BYBLOCK and 256
// BYLAYER included, or a true colour with red in the low byte). Contours are relative to the
// piece's offset, which is the start of its baseline. The style's width factor and oblique
// angle apply (\W and \Q replace them); the style's fixed height is used only when the entity
// has none.
struct MTextPiece {
  TextShape shape;
  Vec2 offset;
  bool hasColor = false;
  Color color;
};
std::vector<MTextPiece> LayoutMText(const MText& mtext, const TextStyle& style,
                                    CTextEngine& engine);

}  // namespace drawing
