#include "drawing/Renderer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <string_view>

#include "drawing/PlotStyleTable.h"
#include "drawing/ShapeFile.h"
#include "drawing/SplineFit.h"
#include "drawing/TextEngine.h"
#include "platform/Ascii.h"
#include "platform/ColorPalette.h"
#include "platform/Dib.h"
#include "render/DwgExport.h"

namespace drawing {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

// Nested blocks deeper than this are not drawn: real drawings stay far below it, and a
// block that inserts itself through others stops here at the latest.
constexpr int kMaxDepth = 24;

// A drawing may not make the sink draw more than this many primitives on one page; a broken
// file whose inserts multiply each other would otherwise draw for hours.
constexpr std::int64_t kPrimitiveBudget = 50'000'000;

// A dash pattern shorter than this on the page is drawn as a continuous line: the dashes
// could not be seen and would only bloat the file.
constexpr double kSmallestPattern = 1.0;

// What one entity may cost. Real drawings stay far below each bound; a damaged or crafted file
// that passes one gets that entity drawn plainly, with a warning, instead of a page that never
// ends or asks for gigabytes.
constexpr double kDashesPerEntity = 1'000'000;        // beyond: the line is drawn solid
constexpr std::int64_t kCellsPerInsert = 1'000'000;   // MINSERT cells; beyond: its first cell
constexpr std::int64_t kPointsPerEntity = 2'000'000;  // points of its curves; beyond: coarser
constexpr double kHatchWork = 50'000'000;      // pattern lines × boundary edges; beyond: boundary
constexpr std::size_t kTextBytes = 16 * 1024;  // TEXT and ATTRIB; beyond: cut
constexpr std::size_t kMTextBytes = 256 * 1024;  // MTEXT; beyond: cut
// How often (in visits) the stop flag is looked at.
constexpr std::int64_t kStopCheckInterval = 1024;

// Page coordinates beyond this (in points; the largest page is 14,400) can never be seen, and
// numbers much larger do not fit a PDF file: lines are cut at this square, other shapes beyond
// it left out.
constexpr double kFarthest = 1e6;

bool OnSheet(Vec2 p, double farthest) {
  return std::fabs(p.x) <= farthest && std::fabs(p.y) <= farthest;  // false for NaN and inf
}

// The part of the segment a → b inside the box lo–hi (Liang and Barsky); false when none of it
// is, or a coordinate is no number. An end inside the box stays exactly as it was.
bool CutToBox(Vec2& a, Vec2& b, Vec2 lo, Vec2 hi) {
  if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
    return false;
  }
  double t0 = 0, t1 = 1;
  const double d[2] = {b.x - a.x, b.y - a.y}, p[2] = {a.x, a.y};
  const double low[2] = {lo.x, lo.y}, high[2] = {hi.x, hi.y};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0) {
      if (p[k] < low[k] || p[k] > high[k]) return false;
      continue;
    }
    double u = (low[k] - p[k]) / d[k], v = (high[k] - p[k]) / d[k];
    if (u > v) std::swap(u, v);
    t0 = std::max(t0, u);
    t1 = std::min(t1, v);
    if (t0 > t1) return false;
  }
  const Vec2 from = a;
  if (t0 > 0) a = {from.x + d[0] * t0, from.y + d[1] * t0};
  if (t1 < 1) b = {from.x + d[0] * t1, from.y + d[1] * t1};
  return true;
}

// The part of the segment a → b inside the square of farthest.
bool CutToSheet(Vec2& a, Vec2& b, double farthest) {
  return CutToBox(a, b, {-farthest, -farthest}, {farthest, farthest});
}

// The longest prefix of text of at most limit bytes that does not end inside a UTF-8 sequence.
std::string_view CutText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

Vec2 Page(const Affine3& toPage, Vec3 p) {
  const Vec3 q = toPage.Apply(p);
  return {q.x, q.y};
}

// Of the steps k = first..last of an angle t_k = t0 + sweep·k / count: the first, the last, and
// those next to where b·cos t + c·sin t is largest (t = atan2(c, b)) or least (half a turn
// on), for each wave {b, c}; sorted, each once. Along an arc or ellipse each page coordinate of
// a point is such a wave plus a constant, rising or falling steadily in between, so these are
// the only steps where a coordinate can be least or largest.
std::vector<int> ExtremeSteps(double t0, double sweep, int count, int first, int last,
                              const std::array<std::array<double, 2>, 2>& waves) {
  std::vector<int> steps = {first, last};
  const double span = std::fabs(sweep), direction = sweep < 0 ? -1.0 : 1.0;
  for (const auto& [b, c] : waves) {
    const double phi = std::atan2(c, b);
    for (const double target : {phi, phi + std::numbers::pi}) {
      double along = std::fmod(direction * (target - t0), 2 * std::numbers::pi);
      if (along < 0) along += 2 * std::numbers::pi;
      if (along > span) continue;
      const int k = static_cast<int>(along / span * count);
      for (int j = k - 1; j <= k + 2; ++j) steps.push_back(std::clamp(j, first, last));
    }
  }
  std::sort(steps.begin(), steps.end());
  steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
  return steps;
}

// Splits a polyline into dashes of a pattern (page points; positive dash, negative gap, zero
// dot) and hands each dash to draw; each element of the pattern that the path runs to the end
// of goes to ended, with the point where it ends and the path's direction there (a unit vector).
// False, with nothing drawn, when the path would take more than kDashesPerEntity dashes (or its
// length is no number): a length that swamps the pattern would also make no progress.
template <class Draw, class Ended>
bool Dash(const std::vector<Vec2>& points, const std::vector<double>& pattern, Draw draw,
          Ended ended) {
  double total = 0;
  for (double d : pattern) total += std::fabs(d);
  if (points.size() < 2 || total <= 0) {
    draw(points);
    return true;
  }
  double pathLength = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    pathLength += std::hypot(points[i].x - points[i - 1].x, points[i].y - points[i - 1].y);
  }
  if (!std::isfinite(pathLength) ||
      pathLength / total * static_cast<double>(pattern.size()) > kDashesPerEntity) {
    return false;
  }
  std::size_t element = 0;
  double left = std::fabs(pattern[0]);
  bool on = pattern[0] >= 0;
  std::vector<Vec2> piece;
  if (on) piece.push_back(points[0]);
  for (std::size_t i = 1; i < points.size(); ++i) {
    Vec2 a = points[i - 1];
    const Vec2 b = points[i];
    double length = std::hypot(b.x - a.x, b.y - a.y);
    while (length > 0) {
      if (left >= length) {
        left -= length;
        if (on) piece.push_back(b);
        break;
      }
      const double t = left / length;
      const Vec2 split{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
      const double run = std::hypot(b.x - a.x, b.y - a.y);
      const Vec2 along{(b.x - a.x) / run, (b.y - a.y) / run};
      if (on) {
        piece.push_back(split);
        draw(piece);
        piece.clear();
      }
      ended(element, split, along);
      length -= left;
      a = split;
      element = (element + 1) % pattern.size();
      left = std::fabs(pattern[element]);
      on = pattern[element] >= 0;
      if (on) piece.push_back(a);
      if (on && left == 0) {  // a dot
        piece.push_back(a);
        draw(piece);
        piece.clear();
        ended(element, a, along);
        element = (element + 1) % pattern.size();
        left = std::fabs(pattern[element]);
        on = pattern[element] >= 0;
        if (on) piece.push_back(a);
      }
    }
  }
  if (on && piece.size() >= 2) draw(piece);
  return true;
}

// A part of a composite entity (a multileader's lines, text or block, an mline's elements),
// drawn as an entity of its own with the whole's layer and properties and its own colour; a
// part coloured ByBlock takes the whole's colour.
Entity PartOf(const Entity& whole, const Color& color) {
  Entity part;
  part.layer = whole.layer;
  part.linetype = whole.linetype;
  part.color = color.index == Color::kByBlock && !color.hasTrueColor ? whole.color : color;
  part.lineweight = whole.lineweight;
  part.linetypeScale = whole.linetypeScale;
  part.invisible = whole.invisible;
  return part;
}

// World coordinates in the object coordinate system of an extrusion direction.
Vec3 WorldToOcs(Vec3 p, Vec3 extrusion) {
  const Affine3 axes = OcsToWorld(extrusion);
  return {axes.m[0][0] * p.x + axes.m[1][0] * p.y + axes.m[2][0] * p.z,
          axes.m[0][1] * p.x + axes.m[1][1] * p.y + axes.m[2][1] * p.z,
          axes.m[0][2] * p.x + axes.m[1][2] * p.y + axes.m[2][2] * p.z};
}

// The symbols of the GDT font that feature control frames use ("{\\Fgdt;j}" is the position
// symbol) as characters that common fonts have: the nearest Unicode symbol where the usual
// fallback faces carry it, else a stand-in ("(M)" for the circled M of maximum material).
const char* GdtSymbol(char code) {
  switch (code) {
    case 'a':
      return "\u2220";  // angularity
    case 'b':
      return "\u22A5";  // perpendicularity
    case 'c':
      return "\u25B1";  // flatness
    case 'd':
      return "\u2313";  // profile of a surface
    case 'e':
      return "\u25CB";  // circularity
    case 'f':
      return "\u2225";  // parallelism
    case 'g':
      return "/\u25CB/";  // cylindricity
    case 'h':
      return "\u2197";  // circular runout
    case 'i':
      return "\u2261";  // symmetry
    case 'j':
      return "\u2295";  // position
    case 'k':
      return "\u2312";  // profile of a line
    case 'l':
      return "(L)";  // least material condition
    case 'm':
      return "(M)";  // maximum material condition
    case 'n':
      return "\u2300";  // diameter
    case 'p':
      return "(P)";  // projected tolerance zone
    case 'r':
      return "\u25CE";  // concentricity
    case 's':
      return "(S)";  // regardless of feature size
    case 't':
      return "\u2197\u2197";  // total runout
    case 'u':
      return "\u2014";  // straightness
    default:
      return "";
  }
}

// The text of one cell of a feature control frame: GDT symbols as characters, %%-codes
// replaced, other formatting codes and braces left out.
std::string ToleranceCellText(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw.compare(i, 6, "\\Fgdt;") == 0 || raw.compare(i, 6, "\\FGDT;") == 0) {
      i += 6;
      while (i < raw.size() && raw[i] != '}') {
        const char code = static_cast<char>(std::tolower(static_cast<unsigned char>(raw[i])));
        const char* symbol = GdtSymbol(code);
        out += *symbol ? symbol : std::string(1, raw[i]);
        ++i;
      }
      continue;
    }
    if (raw[i] == '\\' && i + 1 < raw.size() &&
        std::isalpha(static_cast<unsigned char>(raw[i + 1]))) {
      const std::size_t end = raw.find(';', i);
      i = end == std::string_view::npos ? raw.size() : end + 1;
      continue;
    }
    if (raw.compare(i, 2, "%%") == 0 && i + 2 < raw.size()) {
      const char code = static_cast<char>(std::tolower(static_cast<unsigned char>(raw[i + 2])));
      const char* replaced = code == 'c'   ? "\u2300"
                             : code == 'd' ? "\u00B0"
                             : code == 'p' ? "\u00B1"
                                           : nullptr;
      if (replaced) {
        out += replaced;
        i += 3;
        continue;
      }
    }
    if (raw[i] != '{' && raw[i] != '}') out += raw[i];
    ++i;
  }
  return out;
}

// Splits text at every separator.
std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t found = text.find(separator, start);
    if (found == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
}

// A colour (red in the low byte) with its HSL lightness set to lightness (0 black … 1 white),
// hue and saturation kept: the second colour of a one-colour gradient.
std::uint32_t WithLightness(std::uint32_t rgb, double lightness) {
  const double r = (rgb & 0xFF) / 255.0, g = ((rgb >> 8) & 0xFF) / 255.0,
               b = ((rgb >> 16) & 0xFF) / 255.0;
  const double high = std::max({r, g, b}), low = std::min({r, g, b});
  const double l = (high + low) / 2;
  double hue = 0, saturation = 0;
  if (high > low) {
    const double range = high - low;
    saturation = l > 0.5 ? range / (2 - high - low) : range / (high + low);
    if (high == r) {
      hue = (g - b) / range + (g < b ? 6 : 0);
    } else if (high == g) {
      hue = (b - r) / range + 2;
    } else {
      hue = (r - g) / range + 4;
    }
    hue /= 6;
  }
  const double target = std::clamp(std::isfinite(lightness) ? lightness : 1.0, 0.0, 1.0);
  const double q =
      target < 0.5 ? target * (1 + saturation) : target + saturation - target * saturation;
  const double p = 2 * target - q;
  const auto channel = [&](double t) {
    t -= std::floor(t);
    const double v = t < 1.0 / 6   ? p + (q - p) * 6 * t
                     : t < 0.5     ? q
                     : t < 2.0 / 3 ? p + (q - p) * (2.0 / 3 - t) * 6
                                   : p;
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
  };
  return channel(hue + 1.0 / 3) | (channel(hue) << 8) | (channel(hue - 1.0 / 3) << 16);
}

// The colour a part of the way from one colour to another (t 0 … 1).
std::uint32_t Blend(std::uint32_t from, std::uint32_t to, double t) {
  std::uint32_t result = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
    result |= static_cast<std::uint32_t>(std::lround(a + (b - a) * t)) << shift;
  }
  return result;
}

// How a gradient's bands nest: each band is the part of the gradient's box within a distance of
// its measure (below), and the bands are painted from the widest to the narrowest.
enum class GradientShape {
  Along,   // distance along the gradient from the start of the box
  Middle,  // distance along from a line across the box
  Across,  // distance across from the lower side of the box
  Centre,  // distance from a point
};

// Where a shifted gradient's middle lies, as a part of the box: the middle at m, the ends at 0
// and 1, each side stretched to its half.
double Remap(double x, double m) {
  return x <= m ? 0.5 * x / m : 0.5 + 0.5 * (x - m) / (1 - m);
}

}  // namespace

CRenderer::CRenderer(const Drawing& drawing, CTextEngine& text, CDwgExport& sink)
    : drawing(drawing), text(text), sink(sink) {}

void CRenderer::DrawLayout(int layout, const Affine3& toPage, double width, double height) {
  if (layout < 0 || layout >= static_cast<int>(drawing.layouts.size())) return;
  outputWidth = width;
  outputHeight = height;
  // Only a page has a sheet to stay on; measuring extents takes every finite point.
  farthest = width > 0 && height > 0 ? kFarthest : std::numeric_limits<double>::max();
  const Layout& chosen = drawing.layouts[layout];
  Context context;
  context.toPage = toPage;
  context.inPaperSpace = !chosen.isModel;
  if (width > 0 && height > 0) {
    context.visibleLo = {-1, -1};
    context.visibleHi = {width + 1, height + 1};
  }
  if (chosen.block < 0 || chosen.block >= static_cast<std::int32_t>(drawing.blocks.size())) return;
  DrawBlock(chosen.block, context);
  if (!chosen.isModel) DrawViewports(drawing.blocks[chosen.block], context);
}

void CRenderer::DrawBlock(std::int32_t block, const Context& context) {
  if (block < 0 || block >= static_cast<std::int32_t>(drawing.blocks.size())) return;
  if (context.depth > kMaxDepth ||
      std::find(blockStack.begin(), blockStack.end(), block) != blockStack.end()) {
    ++dropped;
    return;
  }
  blockStack.push_back(block);
  for (const Entity& entity : drawing.blocks[block].entities) {
    if (OverBudget()) {
      ++dropped;
      break;
    }
    if (!Visit()) break;
    if (entity.Is<Viewport>()) continue;  // drawn after the sheet
    DrawEntity(entity, context);
  }
  blockStack.pop_back();
}

void CRenderer::DrawViewports(const Block& paper, const Context& context) {
  // The sheet's own viewport shows the sheet itself.
  const std::int32_t sheet = SheetViewportIndex(paper);
  for (std::size_t i = 0; i < paper.entities.size(); ++i) {
    const Entity& entity = paper.entities[i];
    // A viewport's layer holds only its border (which is not drawn): offices put viewports on a
    // layer that is off, frozen or not plotted exactly so that the border does not print while
    // the view inside it does.
    const auto* viewport = std::get_if<Viewport>(&entity.data);
    if (!viewport || entity.invisible || static_cast<std::int32_t>(i) == sheet) continue;
    DrawViewport(entity, *viewport, paper, context);
  }
}

void CRenderer::DrawViewport(const Entity& entity, const Viewport& viewport, const Block& paper,
                             const Context& context) {
  // An empty or switched-off viewport shows nothing.
  if (!viewport.on || viewport.width <= 0 || viewport.height <= 0 || viewport.viewHeight <= 0) {
    return;
  }
  const Vec3 c = viewport.center;
  const double hw = viewport.width / 2, hh = viewport.height / 2;
  // The viewport's rectangle, or the outline of the entity it is clipped by.
  std::vector<Vec3> outline = {{c.x - hw, c.y - hh, 0},
                               {c.x + hw, c.y - hh, 0},
                               {c.x + hw, c.y + hh, 0},
                               {c.x - hw, c.y + hh, 0}};
  if (viewport.clipEntityIndex >= 0 &&
      viewport.clipEntityIndex < static_cast<std::int32_t>(paper.entities.size())) {
    const Entity& boundary = paper.entities[viewport.clipEntityIndex];
    std::vector<Vec3> points;
    const Affine3 ocs = OcsToWorld(boundary.extrusion);
    if (const auto* polyline = std::get_if<drawing::Polyline>(&boundary.data)) {
      std::vector<PolylineVertex> vertices = polyline->vertices;
      for (PolylineVertex& v : vertices)
        v.position.z = polyline->is3d ? v.position.z : polyline->elevation;
      points = PolylinePoints(vertices, true, 0.01 * std::max(hw, hh));
      if (!polyline->is3d) {
        for (Vec3& p : points) p = ocs.Apply(p);
      }
    } else if (const auto* circle = std::get_if<drawing::Circle>(&boundary.data)) {
      const int n =
          SegmentsFor(circle->radius * context.toPage.ScaleFactor(), 2 * std::numbers::pi);
      for (int i = 0; i < n; ++i) {
        const double a = 2 * std::numbers::pi * i / n;
        points.push_back(ocs.Apply(
            circle->center + Vec3{circle->radius * std::cos(a), circle->radius * std::sin(a), 0}));
      }
    } else if (const auto* ellipse = std::get_if<drawing::Ellipse>(&boundary.data)) {
      // The whole ellipse clips, whatever part of it is drawn.
      const Vec3 minor = Cross(Normalized(boundary.extrusion), ellipse->majorAxis) * ellipse->ratio;
      const int n = SegmentsFor(Length(ellipse->majorAxis) * context.toPage.ScaleFactor(),
                                2 * std::numbers::pi);
      for (int i = 0; i < n; ++i) {
        const double t = 2 * std::numbers::pi * i / n;
        points.push_back(ellipse->center + ellipse->majorAxis * std::cos(t) + minor * std::sin(t));
      }
    } else if (const auto* spline = std::get_if<Spline>(&boundary.data)) {
      const double scale = context.toPage.ScaleFactor();
      points = SplinePoints(*spline, scale > 0 ? tolerance / scale : 0.01 * std::max(hw, hh));
    }
    if (points.size() >= 3) outline = points;
  }
  outline.push_back(outline.front());
  std::vector<PointStruct> clip;
  for (const Vec3& corner : outline) {
    const Vec2 p = Page(context.toPage, corner);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    // A clip reaching past the sheet clips nothing more there.
    PointStruct point;
    point.x = std::clamp(p.x, -farthest, farthest);
    point.y = std::clamp(p.y, -farthest, farthest);
    clip.push_back(point);
  }
  // Model space → the view's plane → paper space around the viewport's centre → page.
  const double scale = viewport.height / viewport.viewHeight;
  const Affine3 toPaper =
      Affine3::Translate({c.x, c.y, 0}) * Affine3::Scale(scale, scale, scale) *
      Affine3::Translate({-viewport.viewCenter.x, -viewport.viewCenter.y, 0}) *
      WorldToView(viewport.viewDirection, viewport.viewTarget, viewport.twist * kDegree);
  Context model;
  model.toPage = context.toPage * toPaper;
  model.frozenLayers = &viewport.frozenLayers;
  if (drawing.header.psLtScale != 0) model.linetypeViewScale = scale;
  model.visibleLo = context.visibleLo;
  model.visibleHi = context.visibleHi;
  Vec2 boxLo{1e300, 1e300}, boxHi{-1e300, -1e300};
  for (const PointStruct& p : clip) {
    boxLo = {std::min(boxLo.x, p.x), std::min(boxLo.y, p.y)};
    boxHi = {std::max(boxHi.x, p.x), std::max(boxHi.y, p.y)};
  }
  model.visibleLo = {std::max(model.visibleLo.x, boxLo.x), std::max(model.visibleLo.y, boxLo.y)};
  model.visibleHi = {std::min(model.visibleHi.x, boxHi.x), std::min(model.visibleHi.y, boxHi.y)};
  // The frame plots where the viewport's layer does, in the viewport's own colour and weight.
  const bool framed = IsVisible(entity, context);
  if (framed) ApplyProperties(entity, context);
  sink.StrokeClipBoundary = framed;
  sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
  sink.StrokeClipBoundary = true;
  for (std::size_t i = 0; i < drawing.layouts.size(); ++i) {
    if (drawing.layouts[i].isModel) {
      DrawBlock(drawing.layouts[i].block, model);
      break;
    }
  }
  sink.PopClipPolygon();
}

std::int32_t CRenderer::EffectiveLayer(const Entity& entity, const Context& context) const {
  // Entities on layer 0 inside a block live on the layer of the insert that draws them.
  if (entity.layer == 0 && context.blockLayer >= 0) return context.blockLayer;
  return entity.layer;
}

bool CRenderer::IsVisible(const Entity& entity, const Context& context) const {
  if (entity.invisible) return false;
  const auto hidden = [&](std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(drawing.layers.size())) return false;
    const Layer& layer = drawing.layers[index];
    if (layer.off || layer.frozen || !layer.plottable) return true;
    if (context.frozenLayers &&
        std::find(context.frozenLayers->begin(), context.frozenLayers->end(), index) !=
            context.frozenLayers->end()) {
      return true;
    }
    return EqualsIgnoringCase(layer.name, "defpoints");
  };
  return !hidden(entity.layer) && !hidden(EffectiveLayer(entity, context));
}

CRenderer::ResolvedColor CRenderer::ResolveColor(const Color& color, std::int32_t layer,
                                                 const Context& context) const {
  ResolvedColor resolved;
  if (color.hasTrueColor) {
    resolved.rgb = color.rgb;
    resolved.index = color.index >= 1 && color.index <= 255 ? color.index : -1;
    return resolved;
  }
  if (color.index == Color::kByBlock) return context.blockColor;
  if (color.index == Color::kByLayer || color.index > 256 || color.index < 0) {
    if (layer >= 0 && layer < static_cast<std::int32_t>(drawing.layers.size())) {
      const Color& layerColor = drawing.layers[layer].color;
      if (layerColor.hasTrueColor) {
        resolved.rgb = layerColor.rgb;
        resolved.index = layerColor.index >= 1 && layerColor.index <= 255 ? layerColor.index : -1;
        return resolved;
      }
      const int index = std::abs(layerColor.index);
      resolved.index = static_cast<std::int16_t>(index >= 1 && index <= 255 ? index : 7);
    }
    resolved.rgb = ColorRgb(resolved.index);
    return resolved;
  }
  resolved.index = color.index;
  resolved.rgb = ColorRgb(color.index);
  return resolved;
}

std::int16_t CRenderer::ResolveLineweight(std::int16_t lineweight, std::int32_t layer,
                                          const Context& context) const {
  if (lineweight == kLineweightByBlock) lineweight = context.blockLineweight;
  if (lineweight == kLineweightByLayer) {
    lineweight = layer >= 0 && layer < static_cast<std::int32_t>(drawing.layers.size())
                     ? drawing.layers[layer].lineweight
                     : kLineweightDefault;
  }
  if (lineweight < 0) lineweight = static_cast<std::int16_t>(drawing.header.lwDefault);
  return lineweight < 0 ? 0 : lineweight;
}

std::int32_t CRenderer::ResolveLinetype(std::int32_t linetype, std::int32_t layer,
                                        const Context& context) const {
  if (linetype == kLinetypeByBlock) linetype = context.blockLinetype;
  if (linetype == kLinetypeByLayer) {
    linetype = layer >= 0 && layer < static_cast<std::int32_t>(drawing.layers.size())
                   ? drawing.layers[layer].linetype
                   : kLinetypeContinuous;
  }
  return linetype;
}

void CRenderer::ApplyProperties(const Entity& entity, const Context& context) {
  PrepareProperties(entity, context);
  SendProperties(entity, context);
}

void CRenderer::SendProperties(const Entity& entity, const Context& context) {
  const std::int32_t layer = EffectiveLayer(entity, context);
  const ResolvedColor color = ResolveColor(entity.color, layer, context);
  // A named style's colour is the pen's own: no colour index for a pen table to map again.
  if (const PlotStylePen* pen = NamedPen(entity, layer); pen && !pen->objectColor) {
    sink.SetColor(static_cast<int>(pen->rgb), -1);
  } else {
    sink.SetColor(static_cast<int>(color.rgb), color.index);
  }
  sink.SetLineWidthPoints(lineWidthPoints);
}

const PlotStylePen* CRenderer::NamedPen(const Entity& entity, std::int32_t layer) const {
  if (!namedStyles || drawing.header.pstyleMode != 0) return nullptr;
  std::int32_t style = entity.plotStyle;
  if (style == kPlotStyleByLayer && layer >= 0 &&
      layer < static_cast<std::int32_t>(drawing.layers.size())) {
    style = drawing.layers[static_cast<std::size_t>(layer)].plotStyle;
  }
  const std::string_view name =
      style >= 0 && style < static_cast<std::int32_t>(drawing.plotStyleNames.size())
          ? std::string_view(drawing.plotStyleNames[static_cast<std::size_t>(style)])
          : std::string_view("Normal");
  const NamedPlotStyle* found = namedStyles->Find(name);
  return found ? &found->pen : nullptr;
}

void CRenderer::PrepareProperties(const Entity& entity, const Context& context) {
  const std::int32_t layer = EffectiveLayer(entity, context);
  // Hundredths of a millimetre to points.
  lineWidthPoints = ResolveLineweight(entity.lineweight, layer, context) / 100.0 * 72.0 / 25.4;
  if (const PlotStylePen* pen = NamedPen(entity, layer); pen && pen->widthMm > 0) {
    lineWidthPoints = pen->widthMm * 72.0 / 25.4;
  }

  dashes.clear();
  complexLinetype = nullptr;
  const std::int32_t linetype = ResolveLinetype(entity.linetype, layer, context);
  if (linetype >= 0 && linetype < static_cast<std::int32_t>(drawing.linetypes.size())) {
    const Linetype& pattern = drawing.linetypes[linetype];
    const double scale = drawing.header.ltScale * entity.linetypeScale *
                         context.toPage.ScaleFactor() / context.linetypeViewScale;
    double total = 0;
    for (double d : pattern.dashes) {
      dashes.push_back(d * scale);
      total += std::fabs(d * scale);
    }
    // A pattern of one element draws its shapes all the same (a line of shapes alone).
    const bool shaped = !pattern.shapes.empty() && !pattern.dashes.empty();
    if (total < kSmallestPattern || (pattern.dashes.size() < 2 && !shaped)) dashes.clear();
    if (shaped && !dashes.empty()) {
      complexLinetype = &pattern;
      linetypeUnit = scale;
      const Affine3 own = context.toPage * OcsToWorld(entity.extrusion);
      linetypeAngle = std::atan2(own.B(), own.A());
      linetypeMirrored = own.Determinant2d() < 0;
    }
  }
}

std::vector<Vec2> CRenderer::ToPage(const Affine3& toPage, const std::vector<Vec3>& points) const {
  std::vector<Vec2> page;
  page.reserve(points.size());
  for (const Vec3& p : points) page.push_back(Page(toPage, p));
  return page;
}

void CRenderer::Polyline(const std::vector<Vec2>& points, bool closed) {
  if (points.size() < 2) {
    if (points.size() == 1 && OnSheet(points[0], farthest) &&
        Shows(points[0], points[0], StrokeReach())) {
      Emit();
      sink.MoveTo(points[0].x, points[0].y);
      sink.LineTo(points[0].x, points[0].y);
      ++primitives;
    }
    return;
  }
  if (!std::all_of(points.begin(), points.end(), [this](Vec2 p) { return OnSheet(p, farthest); })) {
    // The parts that lie on the sheet, each drawn as a polyline of its own.
    std::vector<Vec2> piece;
    const std::size_t segments = closed ? points.size() : points.size() - 1;
    for (std::size_t i = 0; i < segments; ++i) {
      Vec2 a = points[i], b = points[(i + 1) % points.size()];
      const bool whole = OnSheet(a, farthest) && OnSheet(b, farthest);
      if (!CutToSheet(a, b, farthest)) {
        Warn("geometry far outside the page is cut off");
        DrawPath(piece);
        piece.clear();
        continue;
      }
      if (piece.empty()) piece.push_back(a);
      piece.push_back(b);
      if (!whole) {
        Warn("geometry far outside the page is cut off");
        DrawPath(piece);
        piece.clear();
      }
    }
    DrawPath(piece);
    return;
  }
  std::vector<Vec2> path = points;
  if (closed) path.push_back(points.front());
  DrawPath(path);
}

void CRenderer::DrawPath(const std::vector<Vec2>& path) {
  if (path.size() < 2) return;
  Vec2 lo, hi;
  CullBox(StrokeReach(), lo, hi);
  const auto inside = [&](Vec2 p) {
    return p.x >= lo.x && p.x <= hi.x && p.y >= lo.y && p.y <= hi.y;
  };
  const auto emit = [this](const Vec2* piece, std::size_t count) {
    Emit();
    sink.MoveTo(piece[0].x, piece[0].y);
    for (std::size_t i = 1; i < count; ++i) sink.LineTo(piece[i].x, piece[i].y);
    primitives += static_cast<std::int64_t>(count);
  };
  // Each piece (a dash, or the whole path) goes to the sink cut to what can show, so that the
  // dashes keep their places along the path.
  std::vector<Vec2> run;
  const auto draw = [&](const std::vector<Vec2>& piece) {
    if (piece.empty()) return;
    if (std::all_of(piece.begin(), piece.end(), inside)) {
      emit(piece.data(), piece.size());
      return;
    }
    run.clear();
    for (std::size_t i = 0; i + 1 < piece.size(); ++i) {
      Vec2 a = piece[i], b = piece[i + 1];
      const bool leaves = !inside(b);
      if (!CutToBox(a, b, lo, hi)) continue;
      if (run.empty()) run.push_back(a);
      run.push_back(b);
      if (leaves) {
        emit(run.data(), run.size());
        run.clear();
      }
    }
    if (run.size() >= 2) emit(run.data(), run.size());
  };
  if (dashes.empty()) {
    draw(path);
    return;
  }
  // The texts and shapes of a complex linetype, placed as the dashes pass their elements and
  // drawn after them.
  struct Placed {
    const LinetypeShape* shape;
    Vec2 at, along;
  };
  std::vector<Placed> placed;
  const auto ended = [&](std::size_t element, Vec2 at, Vec2 along) {
    if (!complexLinetype) return;
    for (const LinetypeShape& shape : complexLinetype->shapes) {
      if (shape.dash == element) placed.push_back({&shape, at, along});
    }
  };
  if (!Dash(path, dashes, draw, ended)) {
    Warn("dashed lines too long for their dashes are drawn solid");
    draw(path);
    return;
  }
  if (placed.empty()) return;
  // Shapes are drawn with continuous lines.
  std::vector<double> pattern;
  pattern.swap(dashes);
  for (const Placed& p : placed) DrawLinetypeShape(*p.shape, p.at, p.along);
  pattern.swap(dashes);
}

void CRenderer::DrawLinetypeShape(const LinetypeShape& shape, Vec2 at, Vec2 along) {
  // Offsets, sizes and the rotation are the linetype's, scaled like its dashes; X runs along
  // the line and Y to its left in the entity's own coordinates. Mirrored onto the page, that
  // left is the page's right and rotations turn the other way.
  const double unit = linetypeUnit;
  const double side = linetypeMirrored ? -1.0 : 1.0;
  const Vec2 across{-along.y * side, along.x * side};
  const Vec2 origin{at.x + (along.x * shape.offset.x + across.x * shape.offset.y) * unit,
                    at.y + (along.y * shape.offset.x + across.y * shape.offset.y) * unit};
  double angle = side * shape.rotation * kDegree +
                 (shape.absoluteRotation ? linetypeAngle : std::atan2(along.y, along.x));
  if (shape.isText) {
    if (shape.text.empty() || shape.style < 0 ||
        shape.style >= static_cast<std::int32_t>(drawing.textStyles.size())) {
      return;
    }
    const TextStyle& style = drawing.textStyles[shape.style];
    const double height = shape.scale * (style.fixedHeight > 0 ? style.fixedHeight : 1.0) * unit;
    const double widthFactor = style.widthFactor > 0 ? style.widthFactor : 1.0;
    const std::string_view characters = CutText(shape.text, kTextBytes);
    const TextShape glyphs = text.Shape(characters, style.fontFile, style.fontFamily);
    const double oblique = std::tan(std::clamp(style.obliqueAngle, -85.0, 85.0) * kDegree);
    Vec2 start = origin;
    if (linetypeMirrored) {
      // A text is never drawn mirror-written: it takes the box the mirrored text would cover,
      // read the right way round along the line (its baseline where the mirrored text has its
      // top). An absolute angle keeps the text the right way up as well.
      start = {origin.x + height * std::sin(angle), origin.y - height * std::cos(angle)};
    }
    if ((shape.upright || (linetypeMirrored && shape.absoluteRotation)) &&
        std::cos(angle) < -1e-9) {
      // Turned half round about the middle of its box, so that it reads from left to right.
      const double w = glyphs.width * height * widthFactor, h = height;
      start = {start.x + w * std::cos(angle) - h * std::sin(angle),
               start.y + w * std::sin(angle) + h * std::cos(angle)};
      angle += std::numbers::pi;
    }
    const double c = std::cos(angle), s = std::sin(angle);
    std::vector<std::vector<Vec2>> rings;
    for (const auto& contour : glyphs.contours) {
      std::vector<Vec2> ring;
      for (const Vec2& p : contour) {
        const double x = (p.x * widthFactor + p.y * oblique) * height, y = p.y * height;
        ring.push_back({start.x + x * c - y * s, start.y + x * s + y * c});
      }
      rings.push_back(std::move(ring));
    }
    FilledRings(rings, false);
    return;
  }
  const CShapeFile* file = text.ShapeFile(shape.shapeFile);
  if (!file) {
    Warn("shape file " +
         (shape.shapeFile.empty() ? std::string("of a linetype") : shape.shapeFile) +
         " not found: its linetypes are drawn without their shapes");
    return;
  }
  auto [cached, inserted] = shapeStrokes.try_emplace({file, shape.shapeNumber});
  if (inserted) cached->second = file->Strokes(shape.shapeNumber);
  if (cached->second.empty()) {
    Warn("shape " + std::to_string(shape.shapeNumber) + " of " + shape.shapeFile +
         " not found: its linetypes are drawn without it");
    return;
  }
  // A font's shapes are as high as its capitals; a shape file's units are the size's.
  const double size = shape.scale * unit / (file->Above() > 0 ? file->Above() : 1);
  // Shapes mirror with the geometry they sit on.
  const double c = std::cos(angle) * size, s = std::sin(angle) * size;
  for (const std::vector<Vec2>& stroke : cached->second) {
    std::vector<Vec2> points;
    points.reserve(stroke.size());
    for (const Vec2& p : stroke) {
      const double y = p.y * side;
      points.push_back({origin.x + p.x * c - y * s, origin.y + p.x * s + y * c});
    }
    Polyline(points, false);
  }
}

void CRenderer::FilledRings(std::vector<std::vector<Vec2>>& rings, bool outlined) {
  for (const auto& ring : rings) {
    if (!std::all_of(ring.begin(), ring.end(), [this](Vec2 p) { return OnSheet(p, farthest); })) {
      Warn("filled areas reaching far outside the page are left out");
      return;
    }
  }
  if (!RingsShow(rings, outlined ? StrokeReach() : 0)) return;
  std::vector<PointStruct> points;
  std::vector<int> counts;
  for (const auto& ring : rings) {
    if (ring.size() < 2) continue;
    for (const Vec2& p : ring) {
      PointStruct point;
      point.x = p.x;
      point.y = p.y;
      points.push_back(point);
    }
    counts.push_back(static_cast<int>(ring.size()));
  }
  if (counts.empty()) return;
  Emit();
  primitives += static_cast<std::int64_t>(points.size());
  if (!outlined) {
    sink.FillPolyPolygon(points.data(), counts.data(), static_cast<int>(counts.size()));
    return;
  }
  if (sink.CanDrawPolyPolygon() || counts.size() == 1) {
    if (counts.size() == 1 && points.size() <= 32767) {
      sink.Polygon(0, counts[0] - 1, points.data());
    } else {
      sink.PolyPolygon(points.data(), counts.data(), static_cast<int>(counts.size()));
    }
    return;
  }
  int first = 0;
  for (int count : counts) {
    sink.Polygon(first, first + count - 1, points.data());
    first += count;
  }
}

int CRenderer::SegmentsFor(double pageRadius, double sweep) const {
  // The chord of an angle step a strays r (1 − cos(a/2)) from its arc.
  if (pageRadius <= tolerance)
    return std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (std::numbers::pi / 2))));
  const double step = 2 * std::acos(std::max(-1.0, 1 - tolerance / pageRadius));
  const double n = std::ceil(std::fabs(sweep) / std::max(step, 1e-4));
  return static_cast<int>(std::clamp(n, 1.0, 4096.0));
}

void CRenderer::ArcOrCurve(const Affine3& toPage, Vec3 center, double radius, double start,
                           double end) {
  // start and end in radians, counter-clockwise in the arc's own plane (already in toPage).
  while (end <= start) end += 2 * std::numbers::pi;
  if (end - start > 2 * std::numbers::pi) end = start + 2 * std::numbers::pi;
  const double pageRadius = radius * toPage.ScaleFactor();
  if (toPage.IsConformal2d() && dashes.empty() && OnSheet(Page(toPage, center), farthest) &&
      pageRadius <= farthest) {
    const Vec2 c = Page(toPage, center);
    if (!Shows({c.x - pageRadius, c.y - pageRadius}, {c.x + pageRadius, c.y + pageRadius},
               StrokeReach())) {
      return;
    }
    Emit();
    const double turn = std::atan2(toPage.B(), toPage.A());
    if (toPage.Determinant2d() > 0) {
      sink.Arc(c.x, c.y, pageRadius, start + turn, end + turn);
    } else {
      // A mirror turns counter-clockwise into clockwise.
      sink.Arc(c.x, c.y, pageRadius, turn - start, turn - end);
    }
    ++primitives;
    return;
  }
  const int n = TakeSegments(SegmentsFor(pageRadius, end - start));
  std::vector<Vec2> points;
  const auto point = [&](int i) {
    const double a = start + (end - start) * i / n;
    points.push_back(
        Page(toPage, {center.x + radius * std::cos(a), center.y + radius * std::sin(a), center.z}));
  };
  if (measuring && dashes.empty()) {
    // Only the points that can bound it.
    for (const int i :
         ExtremeSteps(start, end - start, n, 0, n,
                      {{{toPage.m[0][0], toPage.m[0][1]}, {toPage.m[1][0], toPage.m[1][1]}}})) {
      point(i);
    }
  } else {
    for (int i = 0; i <= n; ++i) point(i);
  }
  Polyline(points, false);
}

void CRenderer::DrawEntity(const Entity& entity, const Context& context) {
  if (!IsVisible(entity, context)) return;
  viewLo = context.visibleLo;
  viewHi = context.visibleHi;
  std::visit([&](const auto& kind) { DrawKind(entity, kind, context); }, entity.data);
}

template <class Draw>
void CRenderer::DrawMarked(const Entity& entity, const Context& context, Draw draw) {
  const std::int32_t layer = EffectiveLayer(entity, context);
  const std::string layerName =
      layer >= 0 && layer < static_cast<std::int32_t>(drawing.layers.size())
          ? drawing.layers[layer].name
          : "";
  mark = {true, false, entity.KindName(), layerName, &entity, &context};
  PrepareProperties(entity, context);
  entityPoints = 0;
  // World coordinates and the entity's own coordinate system, both onto the page.
  draw(context.toPage, context.toPage * OcsToWorld(entity.extrusion));
  if (mark.marked) sink.EndEntityDraw();
  mark = {};
}

void CRenderer::Emit() {
  if (!mark.waiting) return;
  mark.waiting = false;
  mark.marked = sink.BeginEntityDraw(mark.kind, "", mark.layerName.c_str(), 0, "", "", nullptr);
  SendProperties(*mark.entity, *mark.context);
}

double CRenderer::StrokeReach() const {
  // Pens of a pen table are at most 10 inches wide, whatever the drawing's lineweight.
  return sink.UsePenTable ? 720.0 : lineWidthPoints;
}

void CRenderer::CullBox(double reach, Vec2& lo, Vec2& hi) const {
  // Round caps and joins reach half a line's width past its path; a whole width and a point
  // more leave room for rounding.
  const double margin = reach + 1;
  lo = {std::max(viewLo.x - margin, -farthest), std::max(viewLo.y - margin, -farthest)};
  hi = {std::min(viewHi.x + margin, farthest), std::min(viewHi.y + margin, farthest)};
}

bool CRenderer::RingsShow(const std::vector<std::vector<Vec2>>& rings, double reach) const {
  Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
  for (const auto& ring : rings) {
    if (ring.size() < 2) continue;
    for (const Vec2& p : ring) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
  }
  return Shows(lo, hi, reach);
}

bool CRenderer::Shows(Vec2 lo, Vec2 hi, double reach) const {
  Vec2 boxLo, boxHi;
  CullBox(reach, boxLo, boxHi);
  return lo.x <= boxHi.x && hi.x >= boxLo.x && lo.y <= boxHi.y && hi.y >= boxLo.y;
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Line& line, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    Polyline({Page(world, line.start), Page(world, line.end)}, false);
  });
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Point& point,
                         const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    const Vec2 p = Page(world, point.position);
    if (!OnSheet(p, farthest) || !Shows(p, p, StrokeReach())) return;
    Emit();
    sink.SetPixel(p.x, p.y);
    ++primitives;
  });
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Circle& circle,
                         const Context& context) {
  DrawMarked(entity, context, [&](const Affine3&, const Affine3& ocs) {
    ArcOrCurve(ocs, circle.center, circle.radius, 0, 2 * std::numbers::pi);
  });
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Arc& arc, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3&, const Affine3& ocs) {
    double end = arc.endAngle;
    while (end <= arc.startAngle) end += 360;
    ArcOrCurve(ocs, arc.center, arc.radius, arc.startAngle * kDegree, end * kDegree);
  });
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Ellipse& ellipse,
                         const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    const Vec3 minor = Cross(Normalized(entity.extrusion), ellipse.majorAxis) * ellipse.ratio;
    double start = ellipse.startParam, end = ellipse.endParam;
    while (end <= start) end += 2 * std::numbers::pi;
    if (end - start > 2 * std::numbers::pi + 1e-9) end = start + 2 * std::numbers::pi;
    const double pageRadius = Length(ellipse.majorAxis) * world.ScaleFactor();
    const int n = TakeSegments(SegmentsFor(pageRadius, end - start));
    std::vector<Vec2> points;
    const auto point = [&](int i) {
      const double t = start + (end - start) * i / n;
      points.push_back(
          Page(world, ellipse.center + ellipse.majorAxis * std::cos(t) + minor * std::sin(t)));
    };
    if (measuring && dashes.empty()) {
      // Only the points that can bound it: on the page each coordinate is a wave of the
      // mapped axes.
      const Vec3 major = world.ApplyVector(ellipse.majorAxis), across = world.ApplyVector(minor);
      for (const int i : ExtremeSteps(start, end - start, n, 0, n,
                                      {{{major.x, across.x}, {major.y, across.y}}})) {
        point(i);
      }
    } else {
      for (int i = 0; i <= n; ++i) point(i);
    }
    Polyline(points, false);
  });
}

void CRenderer::DrawKind(const Entity& entity, const drawing::Polyline& polyline,
                         const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawPolyline(entity, polyline, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Spline& spline, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3& world, const Affine3&) { DrawSpline(spline, world); });
}

void CRenderer::DrawFilledFace(const Face& face, const Affine3& ocs) {
  // Corners 3 and 4 are stored crossed: the outline runs 1, 2, 4, 3.
  std::vector<std::vector<Vec2>> rings{{Page(ocs, face.corners[0]), Page(ocs, face.corners[1]),
                                        Page(ocs, face.corners[3]), Page(ocs, face.corners[2])}};
  FilledRings(rings);
}

void CRenderer::DrawKind(const Entity& entity, const Solid& solid, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3& ocs) { DrawFilledFace(solid, ocs); });
}

void CRenderer::DrawKind(const Entity& entity, const Trace& trace, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3& ocs) { DrawFilledFace(trace, ocs); });
}

void CRenderer::DrawKind(const Entity& entity, const Face3d& face, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    for (int k = 0; k < 4; ++k) {
      if (face.invisibleEdges & (1 << k)) continue;
      const Vec3 a = face.corners[k], b = face.corners[(k + 1) % 4];
      if (Length(a - b) == 0) continue;
      Polyline({Page(world, a), Page(world, b)}, false);
    }
  });
}

void CRenderer::DrawKind(const Entity& entity, const Text& textEntity, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawText(entity, textEntity, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Attribute& attribute, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawText(entity, attribute, context); });
}

void CRenderer::DrawKind(const Entity& entity, const MText& mtext, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawMText(entity, mtext, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Insert& insert, const Context& context) {
  DrawInsert(entity, insert, context);
}

void CRenderer::DrawKind(const Entity& entity, const Dimension& dimension, const Context& context) {
  DrawBlockGraphic(entity, dimension, context);
}

void CRenderer::DrawKind(const Entity& entity, const Table& table, const Context& context) {
  DrawBlockGraphic(entity, table, context);
}

void CRenderer::DrawBlockGraphic(const Entity& entity, const BlockGraphic& graphic,
                                 const Context& context) {
  Insert insert;
  insert.block = graphic.block;
  insert.insertion = graphic.insertion;
  DrawInsert(entity, insert, context);
}

void CRenderer::DrawKind(const Entity& entity, const Leader& leader, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3& world, const Affine3&) { DrawLeader(leader, world); });
}

void CRenderer::DrawKind(const Entity& entity, const XLine& line, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    DrawConstructionLine(line, false, world);
  });
}

void CRenderer::DrawKind(const Entity& entity, const Ray& ray, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3& world, const Affine3&) { DrawConstructionLine(ray, true, world); });
}

void CRenderer::DrawKind(const Entity& entity, const Hatch& hatch, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawHatch(entity, hatch, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Image& image, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawImage(entity, image, false, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Wipeout& wipeout, const Context& context) {
  DrawMarked(entity, context,
             [&](const Affine3&, const Affine3&) { DrawImage(entity, wipeout, true, context); });
}

void CRenderer::DrawKind(const Entity& entity, const Viewport&, const Context& context) {
  // Viewports are drawn with their sheet (DrawViewports), after everything else on it.
  DrawMarked(entity, context, [](const Affine3&, const Affine3&) {});
}

void CRenderer::DrawKind(const Entity&, const ClippedGroup& group, const Context& context) {
  // The members draw as entities of their own (each with its layer); the group only clips them,
  // and what can be seen of them is no more than the box of the clip.
  Context inner = context;
  std::vector<PointStruct> clip;
  if (group.boundary.size() >= 3) {
    // A group whose clip lies wholly outside what can be seen writes nothing, not even its clip.
    if (!ClipOnPage(group.boundary, context.toPage, inner, clip)) return;
    // The boundary only clips: a sheet's printable area or a W2D viewport has no frame to plot.
    Emit();
    sink.StrokeClipBoundary = false;
    sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
    sink.StrokeClipBoundary = true;
  }
  for (const Entity& member : group.entities) {
    if (OverBudget()) {
      ++dropped;
      break;
    }
    if (!Visit()) break;
    DrawEntity(member, inner);
  }
  if (!clip.empty()) sink.PopClipPolygon();
}

bool CRenderer::MTextBox(const MText& mtext, Vec2& low, Vec2& high) {
  const TextStyle fallback;
  const TextStyle& style =
      mtext.style >= 0 && mtext.style < static_cast<std::int32_t>(drawing.textStyles.size())
          ? drawing.textStyles[mtext.style]
          : fallback;
  MText cut = mtext;
  cut.text = std::string(CutText(mtext.text, kMTextBytes));
  low = {1e300, 1e300};
  high = {-1e300, -1e300};
  for (const MTextPiece& piece : LayoutMText(cut, style, text)) {
    for (const auto& contour : piece.shape.contours) {
      for (const Vec2& p : contour) {
        low = {std::min(low.x, piece.offset.x + p.x), std::min(low.y, piece.offset.y + p.y)};
        high = {std::max(high.x, piece.offset.x + p.x), std::max(high.y, piece.offset.y + p.y)};
      }
    }
  }
  return low.x <= high.x && low.y <= high.y;
}

void CRenderer::DrawKind(const Entity& entity, const MLeader& leader, const Context& context) {
  Entity lines = PartOf(entity, leader.lineColor);
  // ByBlock linetypes and weights of the parts are the multileader's own.
  const auto linetype = [&](std::int32_t own, std::int32_t fallback) {
    return own == kLinetypeByBlock ? fallback : own;
  };
  const auto lineweight = [&](std::int16_t own, std::int16_t fallback) {
    return own == kLineweightByBlock ? fallback : own;
  };
  lines.linetype = linetype(leader.lineLinetype, entity.linetype);
  lines.lineweight = lineweight(leader.lineLineweight, entity.lineweight);
  const bool splines = leader.leaderType == 2;
  if (leader.leaderType != 0) {
    for (const MLeaderBranch& branch : leader.branches) {
      const Vec3 dogleg = Normalized(branch.doglegDirection) * branch.doglegLength;
      for (const MLeaderLine& line : branch.lines) {
        if (line.vertices.size() < 2) continue;
        Entity part = line.ownColor ? PartOf(entity, line.color) : lines;
        part.linetype = line.ownLinetype ? linetype(line.linetype, lines.linetype) : lines.linetype;
        part.lineweight =
            line.ownLineweight ? lineweight(line.lineweight, lines.lineweight) : lines.lineweight;
        drawing::Leader drawn;
        drawn.vertices = line.vertices;
        drawn.spline = splines;
        drawn.arrowSize = leader.arrowSize;
        drawn.arrowhead = leader.arrowBlock < 0 && leader.arrowSize > 0;
        // A spline has no dogleg: it runs on to where the dogleg would end, and ends in the
        // dogleg's direction.
        const bool bent = splines && branch.doglegLength > 0 && Length(dogleg) > 0;
        if (bent) drawn.vertices.back() = drawn.vertices.back() + dogleg;
        part.data = std::move(drawn);
        const auto& leaderData = std::get<drawing::Leader>(part.data);
        DrawMarked(part, context, [&](const Affine3& world, const Affine3&) {
          DrawLeader(leaderData, world, bent ? &dogleg : nullptr);
        });
        // An arrowhead block points along its negative x axis, its tip at its origin.
        const Vec3 back = line.vertices[0] - line.vertices[1];
        if (leader.arrowBlock >= 0 && leader.arrowSize > 0 && Length(back) > 0) {
          Insert arrow;
          arrow.block = leader.arrowBlock;
          arrow.insertion = line.vertices[0];
          arrow.scale = {leader.arrowSize, leader.arrowSize, leader.arrowSize};
          arrow.rotation = std::atan2(back.y, back.x) / kDegree;
          part.data = std::move(arrow);
          DrawInsert(part, std::get<Insert>(part.data), context);
        }
      }
      if (!splines && branch.doglegLength > 0 && !branch.lines.empty()) {
        Entity part = lines;
        part.data = drawing::Line{branch.landing, branch.landing + dogleg};
        DrawKind(part, std::get<drawing::Line>(part.data), context);
      }
    }
  }
  if (leader.hasText) {
    Entity content = PartOf(entity, leader.textColor);
    content.data = *leader.text;
    DrawKind(content, std::get<MText>(content.data), context);
    DrawMLeaderTextLines(entity, leader, lines, context);
  }
  if (leader.hasBlock && leader.block->block >= 0) {
    Entity content = PartOf(entity, leader.blockColor);
    content.extrusion = leader.blockNormal;
    Insert block = *leader.block;
    block.insertion = WorldToOcs(block.insertion, leader.blockNormal);
    content.data = std::move(block);
    DrawInsert(content, std::get<Insert>(content.data), context);
  }
}

void CRenderer::DrawMLeaderTextLines(const Entity& entity, const MLeader& leader,
                                     const Entity& lines, const Context& context) {
  // Attachments 5, 6 and 8 underline the bottom or the top line of the text.
  const auto underlined = [](int attachment) {
    return attachment == 5 || attachment == 6 || attachment == 8;
  };
  const bool underlines =
      !leader.verticalAttachment && leader.leaderType != 0 &&
      (underlined(leader.textLeftAttachment) || underlined(leader.textRightAttachment));
  Vec2 low, high;
  if (!(leader.textFrame || underlines) || !MTextBox(*leader.text, low, high)) return;
  const MText& mtext = *leader.text;
  const Vec3 z = Normalized(entity.extrusion);
  Vec3 x = mtext.direction - z * Dot(mtext.direction, z);
  x = Length(x) > 0 ? Normalized(x) : Vec3{1, 0, 0};
  const Vec3 y = Cross(z, x);
  const double gap = std::isfinite(leader.landingGap) ? std::max(0.0, leader.landingGap) : 0.0;
  if (leader.textFrame) {
    Entity frame = PartOf(entity, leader.textColor);
    drawing::Polyline ring;
    ring.is3d = true;
    ring.closed = true;
    for (const auto& [u, v] : {std::pair{low.x - gap, low.y - gap},
                               {high.x + gap, low.y - gap},
                               {high.x + gap, high.y + gap},
                               {low.x - gap, high.y + gap}}) {
      ring.vertices.push_back(PolylineVertex{mtext.insertion + x * u + y * v});
    }
    frame.data = std::move(ring);
    DrawKind(frame, std::get<drawing::Polyline>(frame.data), context);
  }
  if (!underlines) return;
  // From the end of each branch under the text, as far as the text and the gap before it reach.
  // The branch's end on the left of the text's insertion point takes the left attachment.
  const double length = high.x - low.x + gap;
  for (const MLeaderBranch& branch : leader.branches) {
    if (branch.lines.empty()) continue;
    const Vec3 end = branch.landing + Normalized(branch.doglegDirection) * branch.doglegLength;
    const bool left = Dot(end - mtext.insertion, x) < 0;
    if (!underlined(left ? leader.textLeftAttachment : leader.textRightAttachment)) continue;
    Entity part = lines;
    part.data = drawing::Line{end, end + x * (left ? length : -length)};
    DrawKind(part, std::get<drawing::Line>(part.data), context);
  }
}

void CRenderer::DrawKind(const Entity& entity, const MLine& mline, const Context& context) {
  const MLineStyle* style =
      mline.style >= 0 && mline.style < static_cast<std::int32_t>(drawing.mlineStyles.size())
          ? &drawing.mlineStyles[mline.style]
          : nullptr;
  if (mline.vertices.size() < 2) return;
  std::size_t elements = mline.vertices.front().offsets.size();
  for (const MLineVertex& vertex : mline.vertices) {
    elements = std::min(elements, vertex.offsets.size());
  }
  if (elements == 0) return;
  const auto at = [&](std::size_t vertex, std::size_t element) {
    const MLineVertex& v = mline.vertices[vertex];
    return v.position + v.miter * v.offsets[element];
  };
  // The outermost elements, which the caps and the fill join.
  std::size_t lowest = 0, highest = 0;
  for (std::size_t e = 1; e < elements; ++e) {
    if (mline.vertices[0].offsets[e] < mline.vertices[0].offsets[lowest]) lowest = e;
    if (mline.vertices[0].offsets[e] > mline.vertices[0].offsets[highest]) highest = e;
  }
  const std::size_t last = mline.vertices.size() - 1;
  if (style && (style->flags & 1) && lowest != highest) {
    Entity fill = PartOf(entity, style->fillColor);
    DrawMarked(fill, context, [&](const Affine3& world, const Affine3&) {
      std::vector<Vec3> ring;
      for (std::size_t v = 0; v <= last; ++v) ring.push_back(at(v, highest));
      for (std::size_t v = last + 1; v-- > 0;) ring.push_back(at(v, lowest));
      std::vector<std::vector<Vec2>> rings{ToPage(world, ring)};
      FilledRings(rings, false);
    });
  }
  const std::size_t segments = mline.closed ? last + 1 : last;
  for (std::size_t e = 0; e < elements; ++e) {
    const MLineStyleElement* element =
        style && e < style->elements.size() ? &style->elements[e] : nullptr;
    Entity part = PartOf(entity, element ? element->color : Color{Color::kByBlock, false, 0});
    if (element && element->linetype != kLinetypeByBlock) part.linetype = element->linetype;
    const bool cut = std::any_of(
        mline.vertices.begin(), mline.vertices.end(),
        [e](const MLineVertex& v) { return e < v.breaks.size() && !v.breaks[e].empty(); });
    DrawMarked(part, context, [&](const Affine3& world, const Affine3&) {
      if (!cut) {
        std::vector<Vec3> points;
        for (std::size_t v = 0; v <= last; ++v) points.push_back(at(v, e));
        Polyline(ToPage(world, points), mline.closed);
        return;
      }
      // The stretches each segment's parameters keep of the element, joined where one runs on
      // through a vertex into the next, so that dashes keep their pattern across it.
      std::vector<Vec3> piece;
      const auto flush = [&] {
        if (piece.size() >= 2) Polyline(ToPage(world, piece), false);
        piece.clear();
      };
      for (std::size_t v = 0; v < segments; ++v) {
        const Vec3 from = at(v, e), to = at((v + 1) % (last + 1), e);
        const double length = Length(to - from);
        const Vec3 along = length > 0 ? (to - from) * (1.0 / length) : Vec3{};
        const std::vector<double> whole{0.0};
        const std::vector<double>& stops =
            e < mline.vertices[v].breaks.size() && !mline.vertices[v].breaks[e].empty()
                ? mline.vertices[v].breaks[e]
                : whole;
        const double near = 1e-9 * std::max(1.0, length);
        bool reachedEnd = false;
        for (std::size_t k = 0; k < stops.size(); k += 2) {
          const double a = std::clamp(stops[k], 0.0, length);
          const double b = k + 1 < stops.size() ? std::clamp(stops[k + 1], 0.0, length) : length;
          if (b <= a) continue;
          if (a > near || piece.empty()) {
            flush();
            piece.push_back(from + along * a);
          }
          piece.push_back(from + along * b);
          reachedEnd = b >= length - near;
          if (!reachedEnd) flush();
        }
        if (!reachedEnd) flush();
      }
      flush();
    });
  }
  if (!style || mline.closed || lowest == highest) return;
  // The elements from the outermost in, paired from both sides for the inner arcs.
  std::vector<std::size_t> order(elements);
  for (std::size_t e = 0; e < elements; ++e) order[e] = e;
  const auto caps = [&](std::size_t vertex, int flags, bool suppressed) {
    if (suppressed) return;
    DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
      const auto byOffset = [&](std::size_t a, std::size_t b) {
        return mline.vertices[vertex].offsets[a] < mline.vertices[vertex].offsets[b];
      };
      std::stable_sort(order.begin(), order.end(), byOffset);
      if (flags & 1) {
        Polyline({Page(world, at(vertex, order.front())), Page(world, at(vertex, order.back()))},
                 false);
      }
      // A half circle over the two elements' ends, bulging away from the mline.
      const Vec3 next =
          vertex == 0 ? mline.vertices[1].position : mline.vertices[vertex - 1].position;
      const Vec3 back = Normalized(mline.vertices[vertex].position - next);
      const auto arc = [&](std::size_t a, std::size_t b) {
        const Vec3 p = at(vertex, a), q = at(vertex, b);
        const Vec3 center = (p + q) * 0.5;
        const double radius = Length(q - p) / 2;
        if (!(radius > 0)) return;
        Vec3 u = Normalized(p - center);
        Vec3 w = back - u * Dot(back, u);
        if (Length(w) < 1e-12) return;
        w = Normalized(w);
        // Counter-clockwise about the mline's own normal, from one end through the bulge.
        if (Dot(Cross(u, w), Normalized(entity.extrusion)) < 0) u = u * -1.0;
        const Affine3 frame =
            world * Affine3::Translate(center) * Affine3::FromAxes(u, w, Cross(u, w));
        ArcOrCurve(frame, {0, 0, 0}, radius, 0, std::numbers::pi);
      };
      if (flags & 4) arc(order.front(), order.back());
      if (flags & 2) {
        for (std::size_t i = 1; i + 1 < elements - i; ++i) arc(order[i], order[elements - 1 - i]);
      }
    });
  };
  if (style->flags & (16 | 32 | 64)) caps(0, style->flags >> 4, mline.suppressStartCaps);
  if (style->flags & (256 | 512 | 1024)) caps(last, style->flags >> 8, mline.suppressEndCaps);
}

void CRenderer::DrawKind(const Entity& entity, const Mesh& mesh, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    const auto count = static_cast<int>(mesh.vertices.size());
    const auto valid = [count](int index) { return index >= 0 && index < count; };
    for (const std::vector<int>& face : mesh.faces) {
      std::vector<Vec3> ring;
      for (int index : face) {
        if (valid(index)) ring.push_back(mesh.vertices[static_cast<std::size_t>(index)]);
      }
      if (ring.size() >= 2) Polyline(ToPage(world, ring), ring.size() > 2);
    }
    if (!mesh.faces.empty()) return;
    for (const auto& [from, to] : mesh.edges) {
      if (!valid(from) || !valid(to)) continue;
      Polyline({Page(world, mesh.vertices[static_cast<std::size_t>(from)]),
                Page(world, mesh.vertices[static_cast<std::size_t>(to)])},
               false);
    }
  });
}

void CRenderer::DrawKind(const Entity& entity, const Tolerance& tolerance, const Context& context) {
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    const Vec3 z = Normalized(entity.extrusion);
    Vec3 x = tolerance.direction - z * Dot(tolerance.direction, z);
    x = Length(x) > 0 ? Normalized(x) : Vec3{1, 0, 0};
    const Affine3 frame =
        world * Affine3::Translate(tolerance.insertion) * Affine3::FromAxes(x, Cross(z, x), z);
    DrawTolerance(tolerance, frame);
  });
}

void CRenderer::DrawTolerance(const Tolerance& tolerance, const Affine3& toPage) {
  const double height = tolerance.height;
  if (!(height > 0) || tolerance.text.empty()) return;
  const double gap = tolerance.gap > 0 ? tolerance.gap : height / 2;
  const TextStyle fallback;
  const TextStyle& style =
      tolerance.style >= 0 && tolerance.style < static_cast<std::int32_t>(drawing.textStyles.size())
          ? drawing.textStyles[tolerance.style]
          : fallback;
  const std::string_view characters = CutText(tolerance.text, kTextBytes);
  // Rows are a text height and a gap above and below it high; the insertion point is the
  // middle of the first row's left edge. Each cell holds its text with a gap either side;
  // empty cells take no room.
  const double rowHeight = height + 2 * gap;
  std::vector<std::string_view> rows = SplitAt(characters, "^J");
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const double top = rowHeight * (0.5 - static_cast<double>(r));
    const double bottom = top - rowHeight;
    double left = 0;
    for (std::string_view raw : SplitAt(rows[r], "%%v")) {
      const std::string cell = ToleranceCellText(raw);
      if (cell.find_first_not_of(' ') == std::string::npos) continue;
      const TextShape shape = text.Shape(cell, style.fontFile, style.fontFamily);
      const double width = shape.width * height + 2 * gap;
      std::vector<std::vector<Vec2>> rings;
      const Affine3 glyphs = toPage * Affine3::Translate({left + gap, bottom + gap, 0}) *
                             Affine3::Scale(height, height, 1);
      for (const auto& contour : shape.contours) {
        std::vector<Vec2> ring;
        for (const Vec2& p : contour) ring.push_back(Page(glyphs, {p.x, p.y, 0}));
        rings.push_back(std::move(ring));
      }
      FilledRings(rings, false);
      const double right = left + width;
      Polyline({Page(toPage, {left, bottom, 0}), Page(toPage, {right, bottom, 0}),
                Page(toPage, {right, top, 0}), Page(toPage, {left, top, 0})},
               true);
      left = right;
    }
  }
}

void CRenderer::DrawKind(const Entity& entity, const Underlay& underlay, const Context& context) {
  const std::string warning = underlay.fileName.empty()
                                  ? "a " + underlay.format +
                                        " underlay whose file is not known is not drawn; its frame "
                                        "is drawn"
                                  : "the " + underlay.format + " underlay \"" + underlay.fileName +
                                        "\" is not drawn; its frame is drawn";
  if (std::find(underlaysWarned.begin(), underlaysWarned.end(), warning) == underlaysWarned.end()) {
    underlaysWarned.push_back(warning);
    Warn(warning);
  }
  DrawMarked(entity, context, [&](const Affine3& world, const Affine3&) {
    const Affine3 place = world * Affine3::Translate(underlay.insertion) *
                          OcsToWorld(entity.extrusion) *
                          Affine3::RotateZ(underlay.rotation * kDegree) *
                          Affine3::Scale(underlay.scale.x, underlay.scale.y, underlay.scale.z);
    std::vector<Vec2> corners = underlay.clipBoundary;
    if (corners.size() == 2) {
      const Vec2 a = corners[0], b = corners[1];
      corners = {a, {b.x, a.y}, b, {a.x, b.y}};
    } else if (corners.size() < 2) {
      corners = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    }
    std::vector<Vec2> page;
    for (const Vec2& corner : corners) page.push_back(Page(place, {corner.x, corner.y, 0}));
    Polyline(page, true);
  });
}

void CRenderer::DrawInsert(const Entity& entity, const Insert& insert, const Context& context) {
  if (insert.block < 0 || insert.block >= static_cast<std::int32_t>(drawing.blocks.size())) return;
  const Block& block = drawing.blocks[insert.block];
  Context inner = context;
  inner.depth = context.depth + 1;
  const std::int32_t layer = EffectiveLayer(entity, context);
  inner.blockLayer = layer;
  inner.blockColor = ResolveColor(entity.color, layer, context);
  inner.blockLineweight = ResolveLineweight(entity.lineweight, layer, context);
  inner.blockLinetype = ResolveLinetype(entity.linetype, layer, context);

  const Affine3 ocs = context.toPage * OcsToWorld(entity.extrusion);
  const Affine3 place =
      Affine3::Translate(insert.insertion) * Affine3::RotateZ(insert.rotation * kDegree);
  const Affine3 shape = Affine3::Scale(insert.scale.x, insert.scale.y, insert.scale.z) *
                        Affine3::Translate(block.base * -1.0);
  int columns = std::clamp(insert.columns, 1, 10000);
  int rows = std::clamp(insert.rows, 1, 10000);
  if (static_cast<std::int64_t>(columns) * rows > kCellsPerInsert) {
    Warn("MINSERTs of more than " + std::to_string(kCellsPerInsert) +
         " cells are drawn as their first cell");
    columns = rows = 1;
  }
  // An inverted clip hides a part of what lies around it; measuring extents (no page to bound
  // what can be seen) takes all of the reference instead.
  const bool clips = insert.clipBoundary.size() >= 2 &&
                     (!insert.clipInverted || context.visibleHi.x - context.visibleLo.x < 1e299);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (OverBudget()) {
        ++dropped;
        return;
      }
      // Every cell counts, whether its block draws anything or not.
      if (!Visit()) return;
      const Affine3 cell = Affine3::Translate({c * insert.columnSpacing, r * insert.rowSpacing, 0});
      inner.toPage = ocs * place * cell * shape;
      if (!clips) {
        DrawBlock(insert.block, inner);
        continue;
      }
      // A clipped reference (XCLIP) shows what lies inside its boundary; attributes are part of
      // what it shows.
      Context clipped = inner;
      if (PushBlockClip(insert.clipBoundary, insert.clipInverted, inner.toPage, clipped)) {
        DrawBlock(insert.block, clipped);
        if (r == 0 && c == 0) {
          Context attributes = context;
          attributes.visibleLo = clipped.visibleLo;
          attributes.visibleHi = clipped.visibleHi;
          for (const Entity& attribute : insert.attributes) DrawEntity(attribute, attributes);
        }
        sink.PopClipPolygon();
      }
      // The boundary itself is plotted only when the drawing says so ($XCLIPFRAME 1; 2 shows
      // it on screen alone), in the reference's own colour and width.
      if (drawing.header.xclipFrame == 1) {
        std::vector<Vec2> frame = insert.clipBoundary;
        if (frame.size() == 2) {
          const Vec2 a = frame[0], b = frame[1];
          frame = {a, {b.x, a.y}, b, {a.x, b.y}};
        }
        DrawMarked(entity, context, [&](const Affine3&, const Affine3&) {
          std::vector<Vec2> page;
          for (const Vec2& p : frame) page.push_back(Page(inner.toPage, {p.x, p.y, 0}));
          Polyline(page, true);
        });
      }
    }
  }
  if (clips) return;
  // Attributes stand in the space of the insert, not of the block.
  for (const Entity& attribute : insert.attributes) DrawEntity(attribute, context);
}

bool CRenderer::ClipOnPage(const std::vector<Vec2>& corners, const Affine3& toPage,
                           Context& context, std::vector<PointStruct>& clip) const {
  Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
  for (const Vec2& corner : corners) {
    const Vec2 p = Page(toPage, {corner.x, corner.y, 0});
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    PointStruct point;
    point.x = std::clamp(p.x, -farthest, farthest);
    point.y = std::clamp(p.y, -farthest, farthest);
    clip.push_back(point);
    lo = {std::min(lo.x, point.x), std::min(lo.y, point.y)};
    hi = {std::max(hi.x, point.x), std::max(hi.y, point.y)};
  }
  context.visibleLo = {std::max(context.visibleLo.x, lo.x), std::max(context.visibleLo.y, lo.y)};
  context.visibleHi = {std::min(context.visibleHi.x, hi.x), std::min(context.visibleHi.y, hi.y)};
  if (context.visibleLo.x > context.visibleHi.x || context.visibleLo.y > context.visibleHi.y) {
    return false;
  }
  clip.push_back(clip.front());
  return true;
}

bool CRenderer::PushBlockClip(const std::vector<Vec2>& boundary, bool inverted,
                              const Affine3& toPage, Context& context) {
  std::vector<Vec2> corners = boundary;
  if (corners.size() == 2) {
    const Vec2 a = corners[0], b = corners[1];
    corners = {a, {b.x, a.y}, b, {a.x, b.y}};
  }
  std::vector<PointStruct> clip;
  if (inverted) {
    // The box of what can be seen, counter-clockwise, and the boundary inside it clockwise, as
    // one path: inside the boundary the two turns cancel, and the clip's non-zero rule leaves it
    // out as the even-odd rule would.
    const double margin = 2;
    const Vec2 lo{std::max(context.visibleLo.x, -farthest) - margin,
                  std::max(context.visibleLo.y, -farthest) - margin};
    const Vec2 hi{std::min(context.visibleHi.x, farthest) + margin,
                  std::min(context.visibleHi.y, farthest) + margin};
    if (lo.x > hi.x || lo.y > hi.y) return false;
    clip = {{lo.x, lo.y, 0}, {hi.x, lo.y, 0}, {hi.x, hi.y, 0}, {lo.x, hi.y, 0}, {lo.x, lo.y, 0}};
    Context inside = context;
    std::vector<PointStruct> hole;
    // A boundary that cannot be seen hides nothing that can.
    if (ClipOnPage(corners, toPage, inside, hole)) {
      double area = 0;
      for (std::size_t i = 0; i + 1 < hole.size(); ++i) {
        area += hole[i].x * hole[i + 1].y - hole[i + 1].x * hole[i].y;
      }
      if (area > 0) std::reverse(hole.begin(), hole.end());
      clip.insert(clip.end(), hole.begin(), hole.end());
      clip.push_back(clip.front());
    }
    sink.StrokeClipBoundary = false;
    sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
    sink.StrokeClipBoundary = true;
    return true;
  }
  // A clip wholly outside what can be seen shows nothing, and writes nothing.
  if (!ClipOnPage(corners, toPage, context, clip)) return false;
  // The boundary only clips: its frame ($XCLIPFRAME) is not plotted by default.
  sink.StrokeClipBoundary = false;
  sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
  sink.StrokeClipBoundary = true;
  return true;
}

std::vector<Vec3> PolylinePoints(const std::vector<PolylineVertex>& vertices, bool closed,
                                 double tolerance, std::size_t maxPoints, bool* coarser,
                                 const Affine3* extremesUnder, std::size_t* fullCount) {
  std::vector<Vec3> points;
  if (fullCount) *fullCount = 0;
  const std::size_t n = vertices.size();
  if (n == 0) return points;
  const std::size_t segments = closed ? n : n - 1;
  // An arc of each bulging segment, and the points it takes at the tolerance.
  struct Bulge {
    double cx, cy, radius, a0, angle;
    int count = 0;
  };
  std::vector<Bulge> arcs(segments);
  std::size_t wanted = n + 1;
  for (std::size_t i = 0; i < segments; ++i) {
    const Vec3 a = vertices[i].position, b = vertices[(i + 1) % n].position;
    const double bulge = vertices[i].bulge;
    const double chord = std::hypot(b.x - a.x, b.y - a.y);
    if (!(std::fabs(bulge) > 1e-9 && chord > 0 && std::isfinite(bulge))) continue;
    // The included angle is 4 atan(bulge), counter-clockwise for positive bulges; the centre
    // lies on the chord's left normal, (chord / 2)(1 − bulge²) / (2 bulge) from its middle.
    Bulge& arc = arcs[i];
    arc.angle = 4 * std::atan(bulge);
    arc.radius = chord / (2 * std::sin(std::fabs(arc.angle) / 2));
    const double offset = chord / 2 * (1 - bulge * bulge) / (2 * bulge);
    const double nx = -(b.y - a.y) / chord, ny = (b.x - a.x) / chord;
    arc.cx = (a.x + b.x) / 2 + nx * offset;
    arc.cy = (a.y + b.y) / 2 + ny * offset;
    const double step =
        2 * std::acos(std::max(-1.0, 1 - tolerance / std::max(arc.radius, tolerance)));
    arc.count = static_cast<int>(
        std::clamp(std::ceil(std::fabs(arc.angle) / std::max(step, 1e-3)), 2.0, 2048.0));
    arc.a0 = std::atan2(a.y - arc.cy, a.x - arc.cx);
    wanted += static_cast<std::size_t>(arc.count) - 1;
  }
  // More points than allowed: every arc gets its share, and at least two chords.
  if (wanted > maxPoints) {
    const double share =
        static_cast<double>(maxPoints > n ? maxPoints - n : 0) / static_cast<double>(wanted - n);
    for (Bulge& arc : arcs) {
      if (arc.count > 2) arc.count = std::max(2, static_cast<int>(arc.count * share));
    }
    if (coarser) *coarser = true;
  }
  if (!extremesUnder) points.reserve(std::min(wanted, maxPoints + 2 * n));
  points.push_back(vertices[0].position);
  std::size_t full = 1;
  for (std::size_t i = 0; i < segments; ++i) {
    const Vec3 a = vertices[i].position, b = vertices[(i + 1) % n].position;
    const Bulge& arc = arcs[i];
    const auto arcPoint = [&](int k) {
      const double t = arc.a0 + arc.angle * k / arc.count;
      points.push_back({arc.cx + arc.radius * std::cos(t), arc.cy + arc.radius * std::sin(t), a.z});
    };
    full += static_cast<std::size_t>(std::max(arc.count - 1, 0)) + 1;
    if (!extremesUnder || arc.count <= 2) {
      for (int k = 1; k < arc.count; ++k) arcPoint(k);
    } else {
      // Only the points that can bound the arc once mapped (the ends are vertices).
      const Affine3& m = *extremesUnder;
      for (const int k : ExtremeSteps(arc.a0, arc.angle, arc.count, 1, arc.count - 1,
                                      {{{m.m[0][0], m.m[0][1]}, {m.m[1][0], m.m[1][1]}}})) {
        arcPoint(k);
      }
    }
    points.push_back(b);
  }
  if (fullCount) *fullCount = full;
  return points;
}

void CRenderer::DrawPolyline(const Entity& entity, const drawing::Polyline& polyline,
                             const Context& context) {
  const Affine3& world = context.toPage;
  if (polyline.is3d || polyline.meshM > 0 || polyline.polyface || !polyline.faces.empty()) {
    std::vector<Vec3> points;
    for (const PolylineVertex& v : polyline.vertices) points.push_back(v.position);
    if (polyline.polyface || !polyline.faces.empty()) {
      for (const auto& face : polyline.faces) {
        for (std::size_t k = 0; k < face.size(); ++k) {
          const int from = face[k], to = face[(k + 1) % face.size()];
          if (from <= 0) continue;  // an invisible edge
          const std::size_t i = static_cast<std::size_t>(from) - 1,
                            j = static_cast<std::size_t>(std::abs(to)) - 1;
          if (i < points.size() && j < points.size() && to != 0) {
            Polyline({Page(world, points[i]), Page(world, points[j])}, false);
          }
        }
      }
      return;
    }
    if (polyline.meshM > 0 && polyline.meshN > 0 &&
        static_cast<std::size_t>(polyline.meshM) * polyline.meshN <= points.size()) {
      const int m = polyline.meshM, n = polyline.meshN;
      for (int i = 0; i < m; ++i) {
        std::vector<Vec3> row(points.begin() + i * n, points.begin() + (i + 1) * n);
        Polyline(ToPage(world, row), polyline.meshClosedN);
      }
      for (int j = 0; j < n; ++j) {
        std::vector<Vec3> column;
        for (int i = 0; i < m; ++i) column.push_back(points[i * n + j]);
        Polyline(ToPage(world, column), polyline.meshClosedM);
      }
      return;
    }
    Polyline(ToPage(world, points), polyline.closed);
    return;
  }

  const Affine3 ocs = world * OcsToWorld(entity.extrusion);
  const double scale = ocs.ScaleFactor();
  const double unitTolerance = scale > 0 ? tolerance / scale : tolerance;
  bool wide = polyline.constantWidth > 0;
  for (const PolylineVertex& v : polyline.vertices)
    wide = wide || v.startWidth > 0 || v.endWidth > 0;
  std::vector<PolylineVertex> vertices = polyline.vertices;
  for (PolylineVertex& v : vertices) v.position.z = polyline.elevation;

  if (!wide) {
    bool coarser = false;
    std::size_t full = 0;
    // A continuous line only measured needs only the points that can bound it.
    const std::vector<Vec3> points =
        PolylinePoints(vertices, polyline.closed, unitTolerance, PointsLeft(), &coarser,
                       measuring && dashes.empty() ? &ocs : nullptr, &full);
    TakePoints(full);
    if (coarser) Warn("curves with too many points are drawn with fewer");
    Polyline(ToPage(ocs, points), false);
    return;
  }
  // Wide segments are filled shapes: each segment becomes the band between its two offset
  // sides, with the width changing linearly from its start to its end.
  const std::size_t n = vertices.size();
  const std::size_t segments = polyline.closed ? n : n - 1;
  for (std::size_t i = 0; i < segments && n >= 2; ++i) {
    PolylineVertex from = vertices[i], to = vertices[(i + 1) % n];
    double w0 = polyline.constantWidth > 0 ? polyline.constantWidth : from.startWidth;
    double w1 = polyline.constantWidth > 0 ? polyline.constantWidth : from.endWidth;
    std::vector<Vec3> path = PolylinePoints({from, to}, false, unitTolerance, PointsLeft());
    TakePoints(path.size());
    if (path.size() < 2) continue;
    double total = 0;
    std::vector<double> at{0};
    for (std::size_t k = 1; k < path.size(); ++k) {
      total += std::hypot(path[k].x - path[k - 1].x, path[k].y - path[k - 1].y);
      at.push_back(total);
    }
    if (total <= 0) continue;
    std::vector<Vec2> left, right;
    for (std::size_t k = 0; k < path.size(); ++k) {
      const Vec3 p = path[k];
      const Vec3 q = path[k == 0 ? 1 : k];
      const Vec3 o = path[k == 0 ? 0 : k - 1];
      double dx = q.x - o.x, dy = q.y - o.y;
      const double length = std::hypot(dx, dy);
      if (length == 0) continue;
      dx /= length;
      dy /= length;
      const double half = (w0 + (w1 - w0) * at[k] / total) / 2;
      left.push_back(Page(ocs, {p.x - dy * half, p.y + dx * half, p.z}));
      right.push_back(Page(ocs, {p.x + dy * half, p.y - dx * half, p.z}));
    }
    std::vector<Vec2> ring = left;
    ring.insert(ring.end(), right.rbegin(), right.rend());
    std::vector<std::vector<Vec2>> rings{ring};
    if (w0 == 0 && w1 == 0) {
      Polyline(ToPage(ocs, path), false);
    } else {
      FilledRings(rings);
    }
  }
}

std::vector<Vec3> SplinePoints(const Spline& spline, double tolerance, std::size_t maxPoints) {
  const std::vector<Vec3>& control = spline.controlPoints;
  const int p = std::clamp(spline.degree, 1, 11);
  if (control.size() < 2) return spline.fitPoints;
  const std::size_t n = control.size();
  std::vector<double> knots = spline.knots;
  if (knots.size() != n + p + 1) {
    // A missing or damaged knot vector: clamped and uniform.
    knots.clear();
    for (std::size_t i = 0; i < n + p + 1; ++i) {
      knots.push_back(i <= static_cast<std::size_t>(p) ? 0.0
                      : i >= n                         ? static_cast<double>(n - p)
                                                       : static_cast<double>(i - p));
    }
  }
  const bool rational = spline.weights.size() == n;
  const double t0 = knots[p], t1 = knots[n];
  if (!(t1 > t0)) return control;
  double controlLength = 0;
  for (std::size_t i = 1; i < n; ++i) controlLength += Length(control[i] - control[i - 1]);
  const double mostSamples = std::clamp(static_cast<double>(maxPoints) - 1, 8.0, 4096.0);
  const int samples = static_cast<int>(std::clamp(
      std::ceil(std::sqrt(controlLength / std::max(tolerance, 1e-9)) * 2.0), 8.0, mostSamples));
  std::vector<Vec3> points;
  std::vector<double> w(p + 1);
  std::vector<Vec3> d(p + 1);
  // The knot span holding t only moves forward as t grows.
  std::size_t k = static_cast<std::size_t>(p);
  for (int s = 0; s <= samples; ++s) {
    const double t = t0 + (t1 - t0) * s / samples;
    // The knot span holding t, then de Boor's recursion in homogeneous coordinates.
    while (k + 1 < n && knots[k + 1] <= t) ++k;
    for (int j = 0; j <= p; ++j) {
      const std::size_t index = k - p + j;
      const double weight = rational ? spline.weights[index] : 1.0;
      d[j] = control[index] * weight;
      w[j] = weight;
    }
    for (int r = 1; r <= p; ++r) {
      for (int j = p; j >= r; --j) {
        const std::size_t i = k - p + j;
        const double denominator = knots[i + p - r + 1] - knots[i];
        const double alpha = denominator != 0 ? (t - knots[i]) / denominator : 0.0;
        d[j] = d[j - 1] * (1 - alpha) + d[j] * alpha;
        w[j] = w[j - 1] * (1 - alpha) + w[j] * alpha;
      }
    }
    points.push_back(w[p] != 0 ? d[p] * (1.0 / w[p]) : d[p]);
  }
  return points;
}

void CRenderer::DrawSpline(const Spline& spline, const Affine3& toPage) {
  const double scale = toPage.ScaleFactor();
  const std::vector<Vec3> points =
      SplinePoints(spline, scale > 0 ? tolerance / scale : tolerance, PointsLeft());
  TakePoints(points.size());
  Polyline(ToPage(toPage, points), spline.closed && spline.controlPoints.size() < 2);
}

void CRenderer::DrawText(const Entity& entity, const Text& textEntity, const Context& context) {
  if (textEntity.text.empty()) return;
  const std::string_view characters = CutText(textEntity.text, kTextBytes);
  if (characters.size() < textEntity.text.size()) {
    Warn("texts longer than " + std::to_string(kTextBytes) + " bytes are cut");
  }
  const TextStyle* style =
      textEntity.style >= 0 &&
              textEntity.style < static_cast<std::int32_t>(drawing.textStyles.size())
          ? &drawing.textStyles[textEntity.style]
          : nullptr;
  double height = textEntity.height > 0             ? textEntity.height
                  : style && style->fixedHeight > 0 ? style->fixedHeight
                                                    : 0;
  if (height <= 0) return;
  const TextShape shape =
      text.Shape(characters, style ? style->fontFile : "", style ? style->fontFamily : "");
  double widthFactor = textEntity.widthFactor > 0 ? textEntity.widthFactor : 1.0;
  double rotation = textEntity.rotation * kDegree;
  Vec3 anchor = textEntity.insertion;
  const int h = textEntity.horizontalJustification, v = textEntity.verticalJustification;
  double width = shape.width * height * widthFactor;
  if ((h == 3 || h == 5) && width > 0) {
    // Aligned and fit: the text runs from the first point to the second.
    const Vec3 a = textEntity.insertion, b = textEntity.alignment;
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    if (length > 0) {
      rotation = std::atan2(b.y - a.y, b.x - a.x);
      if (h == 3) height *= length / width;
      widthFactor *= length / width;
      width = length;
    }
  } else if (h != 0 || v != 0) {
    anchor = textEntity.alignment;
  }
  double dx = 0, dy = 0;
  if (h == 1 || h == 4) dx = -width / 2;
  if (h == 2) dx = -width;
  if (v == 1) dy = 0.2 * height;  // the baseline sits above the descenders
  if (v == 2 || h == 4) dy = -0.5 * height;
  if (v == 3) dy = -height;

  const double oblique = std::tan(std::clamp(textEntity.obliqueAngle, -85.0, 85.0) * kDegree);
  const double mirrorX = (textEntity.generationFlags & 2) ? -1 : 1;
  const double mirrorY = (textEntity.generationFlags & 4) ? -1 : 1;
  // Text units (height 1) → the text's frame at the anchor → OCS → page.
  Affine3 glyphs;
  glyphs.m[0][0] = height * widthFactor * mirrorX;
  glyphs.m[0][1] = height * oblique * mirrorX;
  glyphs.m[0][3] = dx * mirrorX;
  glyphs.m[1][1] = height * mirrorY;
  glyphs.m[1][3] = dy * mirrorY;
  const Affine3 toPage = context.toPage * OcsToWorld(entity.extrusion) *
                         Affine3::Translate(anchor) * Affine3::RotateZ(rotation) * glyphs;
  std::vector<std::vector<Vec2>> rings;
  for (const auto& contour : shape.contours) {
    std::vector<Vec2> ring;
    for (const Vec2& p : contour) ring.push_back(Page(toPage, {p.x, p.y, 0}));
    rings.push_back(std::move(ring));
  }
  // Lines under, over and through stretches of the text, as thin bars in text units.
  std::vector<std::vector<Vec2>> bars;
  for (const TextLineSpan& span : textEntity.lines) {
    const std::size_t from = std::min<std::size_t>(span.from, characters.size());
    const std::size_t to = std::min<std::size_t>(span.to, characters.size());
    if (from >= to) continue;
    const std::string& font = style ? style->fontFile : "";
    const std::string& family = style ? style->fontFamily : "";
    const double x0 = text.MeasureWidth(characters.substr(0, from), font, family);
    const double x1 = text.MeasureWidth(characters.substr(0, to), font, family);
    const double y = span.kind == 'u' ? -kUnderlineDepth : span.kind == 'o' ? kOverlineHeight : 0.5;
    const double t = kRuleThickness / 2;
    std::vector<Vec2> bar;
    for (const Vec2 corner : {Vec2{x0, y - t}, Vec2{x1, y - t}, Vec2{x1, y + t}, Vec2{x0, y + t}}) {
      bar.push_back(Page(toPage, {corner.x, corner.y, 0}));
    }
    bars.push_back(std::move(bar));
  }
  FilledRings(rings, false);  // glyphs are filled, never thickened by the pen
  // Apart from the glyphs, so that a bar crossing a descender fills it rather than cutting it.
  FilledRings(bars, false);
}

void CRenderer::DrawMText(const Entity& entity, const MText& mtext, const Context& context) {
  const TextStyle fallback;
  const TextStyle& style =
      mtext.style >= 0 && mtext.style < static_cast<std::int32_t>(drawing.textStyles.size())
          ? drawing.textStyles[mtext.style]
          : fallback;
  std::vector<MTextPiece> pieces;
  if (mtext.text.size() > kMTextBytes) {
    Warn("texts longer than " + std::to_string(kMTextBytes) + " bytes are cut");
    MText cut = mtext;
    cut.text = std::string(CutText(mtext.text, kMTextBytes));
    pieces = LayoutMText(cut, style, text);
  } else {
    pieces = LayoutMText(mtext, style, text);
  }
  const Vec3 z = Normalized(entity.extrusion);
  Vec3 x = mtext.direction;
  x = x - z * Dot(x, z);
  x = Length(x) > 0 ? Normalized(x) : Vec3{1, 0, 0};
  const Vec3 y = Cross(z, x);
  const Affine3 toPage =
      context.toPage * Affine3::Translate(mtext.insertion) * Affine3::FromAxes(x, y, z);
  const std::int32_t layer = EffectiveLayer(entity, context);
  for (const MTextPiece& piece : pieces) {
    std::vector<std::vector<Vec2>> rings;
    for (const auto& contour : piece.shape.contours) {
      std::vector<Vec2> ring;
      for (const Vec2& p : contour)
        ring.push_back(Page(toPage, {piece.offset.x + p.x, piece.offset.y + p.y, 0}));
      rings.push_back(std::move(ring));
    }
    // A piece that cannot show changes no colour either.
    if (!RingsShow(rings, 0)) continue;
    if (piece.hasColor) {
      Emit();
      const ResolvedColor color = ResolveColor(piece.color, layer, context);
      sink.SetColor(static_cast<int>(color.rgb), color.index);
    }
    FilledRings(rings, false);
    if (piece.hasColor) SendProperties(entity, context);
  }
}

void CRenderer::DrawHatch(const Entity& entity, const Hatch& hatch, const Context& context) {
  const Affine3 ocs = context.toPage * OcsToWorld(entity.extrusion);
  const double scale = ocs.ScaleFactor();
  const double unitTolerance = scale > 0 ? tolerance / scale : tolerance;
  std::vector<std::vector<Vec2>> rings;
  std::vector<std::vector<Vec3>> shapes;  // the rings in OCS, for a gradient's frame
  for (const HatchPath& path : hatch.paths) {
    std::vector<Vec3> points;
    if (path.isPolyline) {
      bool coarser = false;
      points = PolylinePoints(path.vertices, true, unitTolerance, PointsLeft(), &coarser);
      TakePoints(points.size());
      if (coarser) Warn("curves with too many points are drawn with fewer");
    } else {
      for (const HatchEdge& edge : path.edges) {
        std::vector<Vec3> part;
        switch (edge.kind) {
          case HatchEdge::Line:
            part = {{edge.start.x, edge.start.y, 0}, {edge.end.x, edge.end.y, 0}};
            break;
          case HatchEdge::CircularArc:
          case HatchEdge::EllipticArc: {
            double start = edge.startAngle * kDegree, end = edge.endAngle * kDegree;
            const bool elliptic = edge.kind == HatchEdge::EllipticArc;
            Vec3 major =
                elliptic ? Vec3{edge.majorAxis.x, edge.majorAxis.y, 0} : Vec3{edge.radius, 0, 0};
            const Vec3 minor = Vec3{-major.y, major.x, 0} * (elliptic ? edge.ratio : 1.0);
            if (!edge.counterClockwise) {
              // Clockwise edges store their angles mirrored.
              start = -start;
              end = -end;
            }
            double sweep = end - start;
            if (edge.counterClockwise) {
              while (sweep <= 0) sweep += 2 * std::numbers::pi;
            } else {
              while (sweep >= 0) sweep -= 2 * std::numbers::pi;
            }
            if (std::fabs(sweep) > 2 * std::numbers::pi)
              sweep = std::copysign(2 * std::numbers::pi, sweep);
            const int n = TakeSegments(SegmentsFor(Length(major) * scale, sweep));
            for (int i = 0; i <= n; ++i) {
              const double t = start + sweep * i / n;
              part.push_back(Vec3{edge.center.x, edge.center.y, 0} + major * std::cos(t) +
                             minor * std::sin(t));
            }
            break;
          }
          case HatchEdge::SplineEdge:
            part = SplinePoints(edge.spline, unitTolerance, PointsLeft());
            TakePoints(part.size());
            break;
        }
        if (!points.empty() && !part.empty() && Length(points.back() - part.front()) < 1e-9) {
          points.insert(points.end(), part.begin() + 1, part.end());
        } else {
          points.insert(points.end(), part.begin(), part.end());
        }
      }
    }
    for (Vec3& p : points) p.z = hatch.elevation;
    if (points.size() >= 2) {
      rings.push_back(ToPage(ocs, points));
      if (hatch.gradient) shapes.push_back(std::move(points));
    }
  }
  // Pattern hatches draw their pattern lines, and one without them (a damaged file) shows its
  // boundary.
  if (hatch.gradient) {
    DrawGradient(entity, hatch, ocs, shapes, rings, context);
  } else if (hatch.solid) {
    FilledRings(rings);
  } else if (!hatch.patternLines.empty()) {
    if (!DrawHatchPattern(hatch, ocs, rings)) FilledRings(rings);
  } else {
    for (const auto& ring : rings) Polyline(ring, true);
  }
}

void CRenderer::DrawGradient(const Entity& entity, const Hatch& hatch, const Affine3& ocs,
                             const std::vector<std::vector<Vec3>>& shapes,
                             std::vector<std::vector<Vec2>>& rings, const Context& context) {
  // Bands wider than this on the page, or colour steps larger than one level of 255, could be
  // seen; more bands than this would only slow the page down.
  constexpr double kWidestBand = 0.5;
  constexpr int kMostBands = 1024;
  // Circles of the round kinds are drawn this close to the true circle (points): a band's edge
  // needs no more than a fraction of its width.
  constexpr double kCircleTolerance = 0.1;
  for (const auto& ring : rings) {
    if (!std::all_of(ring.begin(), ring.end(), [this](Vec2 p) { return OnSheet(p, farthest); })) {
      Warn("filled areas reaching far outside the page are left out");
      return;
    }
  }
  if (!RingsShow(rings, 0)) return;
  const HatchGradient& gradient = hatch.gradientFill;
  const std::int32_t layer = EffectiveLayer(entity, context);
  const std::uint32_t from = ResolveColor(gradient.colors[0], layer, context).rgb & 0xFFFFFF;
  const std::uint32_t to = gradient.oneColor
                               ? WithLightness(from, gradient.tint)
                               : ResolveColor(gradient.colors[1], layer, context).rgb & 0xFFFFFF;

  // The box of the boundary in the gradient's frame: u along the gradient's angle, v across.
  const double angle = std::isfinite(gradient.angle) ? gradient.angle : 0.0;
  const double c = std::cos(angle), s = std::sin(angle);
  double u0 = 1e300, u1 = -1e300, v0 = 1e300, v1 = -1e300;
  for (const auto& shape : shapes) {
    for (const Vec3& p : shape) {
      const double u = p.x * c + p.y * s, v = -p.x * s + p.y * c;
      u0 = std::min(u0, u);
      u1 = std::max(u1, u);
      v0 = std::min(v0, v);
      v1 = std::max(v1, v);
    }
  }
  if (!(u1 >= u0 && v1 >= v0)) return;
  const double width = u1 - u0, height = v1 - v0;
  // Shifted gradients move their middle up and to the left, a quarter of the box at most.
  const double shift = std::clamp(std::isfinite(gradient.shift) ? gradient.shift : 0.0, 0.0, 1.0);
  const double middleU = 0.5 - 0.25 * shift, middleV = 0.5 + 0.25 * shift;

  using Kind = HatchGradient::Kind;
  const Kind kind = gradient.kind;
  const bool inverse = kind == Kind::InvCylinder || kind == Kind::InvSpherical ||
                       kind == Kind::InvHemispherical || kind == Kind::InvCurved;
  GradientShape shape = GradientShape::Along;
  Vec2 centre{u0 + middleU * width, v0 + middleV * height};
  double reach = width;  // the largest distance of the measure within the box
  switch (kind) {
    case Kind::Linear:
      break;
    case Kind::Cylinder:
    case Kind::InvCylinder:
      shape = GradientShape::Middle;
      reach = std::max(centre.x - u0, u1 - centre.x);
      break;
    case Kind::Curved:
    case Kind::InvCurved:
      shape = GradientShape::Across;
      reach = height;
      break;
    case Kind::Hemispherical:
    case Kind::InvHemispherical:
      centre.y = v0;
      [[fallthrough]];
    case Kind::Spherical:
    case Kind::InvSpherical:
      shape = GradientShape::Centre;
      reach = 0;
      for (const Vec2 corner : {Vec2{u0, v0}, Vec2{u1, v0}, Vec2{u0, v1}, Vec2{u1, v1}}) {
        reach = std::max(reach, std::hypot(corner.x - centre.x, corner.y - centre.y));
      }
      break;
  }
  // The share of colour 2 at a part x (0 … 1) of the reach.
  const auto share = [&](double x) {
    double f = 0;
    switch (shape) {
      case GradientShape::Along:
        f = Remap(x, middleU);
        break;
      case GradientShape::Middle:
        f = 1 - x * x;  // a lit cylinder: brightest down its middle
        break;
      case GradientShape::Across: {
        const double y = Remap(x, middleV);
        f = 1 - y * y;
        break;
      }
      case GradientShape::Centre:
        f = 1 - x;
        break;
    }
    return inverse ? 1 - f : f;
  };

  // As many bands as the colour needs steps, or as the reach needs half points, the fewer.
  const double scale = ocs.ScaleFactor();
  int channelRange = 0;
  for (int bits = 0; bits <= 16; bits += 8) {
    channelRange = std::max(channelRange, std::abs(static_cast<int>((from >> bits) & 0xFF) -
                                                   static_cast<int>((to >> bits) & 0xFF)));
  }
  double steepest = 0;  // the largest change of share over a 256th of the reach, × 256
  for (int i = 0; i < 256; ++i) {
    steepest = std::max(steepest, std::fabs(share((i + 1) / 256.0) - share(i / 256.0)) * 256);
  }
  const double byColor = std::ceil(channelRange * steepest);
  const double byWidth = std::ceil(reach * scale / kWidestBand);
  const int bands = static_cast<int>(
      std::clamp(std::min(byColor, byWidth), 1.0, static_cast<double>(kMostBands)));

  // The clip: the rings as one polygon, outer rings counter-clockwise and the holes in them
  // clockwise, each reached from the first ring's start and left the same way, so that the
  // non-zero rule the clip takes gives the even-odd area of the hatch.
  std::vector<std::vector<Vec2>> kept;
  for (const auto& ring : rings) {
    if (ring.size() >= 3) kept.push_back(ring);
  }
  if (kept.empty()) return;
  double totalPoints = 0;
  for (const auto& ring : kept) totalPoints += static_cast<double>(ring.size());
  if (totalPoints * static_cast<double>(kept.size()) > kHatchWork) {
    // Finding which rings are holes would take too long: the area takes the middle colour.
    Warn("gradient fills with too many boundary rings are filled with one colour");
    Emit();
    sink.SetColor(static_cast<int>(Blend(from, to, 0.5)), -1);
    FilledRings(rings, false);
    return;
  }
  const auto inside = [](Vec2 p, const std::vector<Vec2>& ring) {
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      if ((ring[i].y > p.y) != (ring[j].y > p.y) &&
          p.x < ring[j].x + (ring[i].x - ring[j].x) * (p.y - ring[j].y) / (ring[i].y - ring[j].y)) {
        in = !in;
      }
    }
    return in;
  };
  std::vector<PointStruct> clip;
  const auto add = [&clip](Vec2 p) {
    PointStruct point;
    point.x = p.x;
    point.y = p.y;
    clip.push_back(point);
  };
  for (std::size_t r = 0; r < kept.size(); ++r) {
    std::vector<Vec2>& ring = kept[r];
    int depth = 0;
    for (std::size_t other = 0; other < kept.size(); ++other) {
      if (other != r && inside(ring.front(), kept[other])) ++depth;
    }
    double area = 0;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      area += (ring[j].x - ring[i].x) * (ring[j].y + ring[i].y);
    }
    if ((area < 0) != (depth % 2 == 1)) std::reverse(ring.begin(), ring.end());
    for (const Vec2& p : ring) add(p);
    add(ring.front());
    if (r > 0) add(kept[0].front());
  }

  Emit();
  sink.StrokeClipBoundary = false;
  sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
  sink.StrokeClipBoundary = true;
  primitives += static_cast<std::int64_t>(clip.size());

  // Each band is the part within its distance, painted over the wider ones before it; the
  // widest reaches past the box so that nothing of the boundary is left unpainted.
  const double margin = 0.01 * (width + height) + 1.0 / std::max(scale, 1e-12);
  const Affine3 frame = ocs * Affine3::Translate({0, 0, hatch.elevation}) * Affine3::RotateZ(angle);
  std::vector<PointStruct> band;
  const auto corner = [&](double u, double v) {
    const Vec2 p = Page(frame, {u, v, 0});
    PointStruct point;
    point.x = p.x;
    point.y = p.y;
    band.push_back(point);
  };
  for (int k = bands - 1; k >= 0; --k) {
    if (OverBudget() || !Visit()) break;
    const double t = reach * (k + 1) / bands + (k == bands - 1 ? margin : 0);
    std::uint32_t rgb = Blend(from, to, share((k + 0.5) / bands));
    int index = -1;
    if (sink.UsePenTable) {
      // Each band is drawn with the pen of the palette colour nearest it, as a true colour is.
      index = NearestColorIndex(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
      if ((ColorRgb(index) & 0xFFFFFF) == 0xFFFFFF) index = -1;
    }
    // The sink draws white as black, for lines on white paper; a gradient's white is the paper.
    if (rgb == 0xFFFFFF && index < 0) rgb = 0xFEFEFE;
    band.clear();
    switch (shape) {
      case GradientShape::Along:
        corner(u0 - margin, v0 - margin);
        corner(u0 + t, v0 - margin);
        corner(u0 + t, v1 + margin);
        corner(u0 - margin, v1 + margin);
        break;
      case GradientShape::Middle:
        corner(centre.x - t, v0 - margin);
        corner(centre.x + t, v0 - margin);
        corner(centre.x + t, v1 + margin);
        corner(centre.x - t, v1 + margin);
        break;
      case GradientShape::Across:
        corner(u0 - margin, v0 - margin);
        corner(u1 + margin, v0 - margin);
        corner(u1 + margin, v0 + t);
        corner(u0 - margin, v0 + t);
        break;
      case GradientShape::Centre: {
        const double pageRadius = t * scale;
        const double step =
            2 * std::acos(std::max(-1.0, 1 - kCircleTolerance / std::max(pageRadius, 1e-9)));
        const int n = static_cast<int>(
            std::clamp(std::ceil(2 * std::numbers::pi / std::max(step, 1e-3)), 8.0, 720.0));
        for (int i = 0; i < n; ++i) {
          const double a = 2 * std::numbers::pi * i / n;
          corner(centre.x + t * std::cos(a), centre.y + t * std::sin(a));
        }
        break;
      }
    }
    // The rings lie on the sheet, but the round bands of a long narrow one may reach past it:
    // what lies beyond is clipped away anyway.
    if (!std::all_of(band.begin(), band.end(), [](const PointStruct& p) {
          return std::isfinite(p.x) && std::isfinite(p.y);
        })) {
      continue;
    }
    for (PointStruct& p : band) {
      p.x = std::clamp(p.x, -farthest, farthest);
      p.y = std::clamp(p.y, -farthest, farthest);
    }
    sink.SetColor(static_cast<int>(rgb), index);
    const int count = static_cast<int>(band.size());
    sink.FillPolyPolygon(band.data(), &count, 1);
    primitives += count;
  }
  sink.PopClipPolygon();
}

bool CRenderer::DrawHatchPattern(const Hatch& hatch, const Affine3& ocs,
                                 const std::vector<std::vector<Vec2>>& rings) {
  // Lines closer than this on the page print as a solid area; more lines than this in one
  // family would only slow the page down.
  constexpr double kClosestLines = 0.05;
  constexpr double kMostLines = 20000;
  constexpr double kShortestPattern = 0.1;
  Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
  for (const auto& ring : rings) {
    for (const Vec2& p : ring) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
  }
  if (lo.x > hi.x) return true;
  std::size_t edges = 0;
  for (const auto& ring : rings) edges += ring.size();
  std::vector<double> crossings;
  double work = 0;       // lines × boundary edges so far
  double dashCount = 0;  // dashes drawn so far
  for (const HatchPatternLine& family : hatch.patternLines) {
    const double angle = family.angle * kDegree;
    const Vec3 along = ocs.ApplyVector({std::cos(angle), std::sin(angle), 0});
    const Vec3 step = ocs.ApplyVector({family.offset.x, family.offset.y, 0});
    const double unit = std::hypot(along.x, along.y);  // page length of one unit along the line
    if (!(unit > 1e-12)) continue;
    const Vec2 d{along.x / unit, along.y / unit};
    const Vec2 n{-d.y, d.x};
    const Vec2 offset{step.x, step.y};
    const double spacing = offset.x * n.x + offset.y * n.y;
    if (std::fabs(spacing) < 1e-9) continue;  // every line on the same spot: one line
    if (std::fabs(spacing) < kClosestLines) return false;
    const Vec2 origin = Page(ocs, {family.base.x, family.base.y, hatch.elevation});
    // The lines k = first … last cross the box around the rings.
    double near = 1e300, far = -1e300;
    for (const Vec2 corner : {lo, hi, Vec2{lo.x, hi.y}, Vec2{hi.x, lo.y}}) {
      const double k = ((corner.x - origin.x) * n.x + (corner.y - origin.y) * n.y) / spacing;
      near = std::min(near, k);
      far = std::max(far, k);
    }
    const double first = std::ceil(near), last = std::floor(far);
    if (last - first + 1 > kMostLines) return false;
    work += (last - first + 1) * static_cast<double>(edges);
    if (work > kHatchWork) {
      Warn("hatch patterns too large to draw are drawn as their boundary");
      for (const auto& ring : rings) Polyline(ring, true);
      return true;
    }

    std::vector<double> dashes;
    double period = 0;
    for (double dash : family.dashes) {
      dashes.push_back(dash * unit);
      period += std::fabs(dash * unit);
    }
    if (period < kShortestPattern) dashes.clear();

    Vec2 cutLo, cutHi;
    CullBox(StrokeReach(), cutLo, cutHi);
    for (double k = first; k <= last; ++k) {
      if (OverBudget() || !Visit()) return true;
      const Vec2 p{origin.x + k * offset.x, origin.y + k * offset.y};
      // Where the line crosses the rings, as distances along it from p.
      crossings.clear();
      for (const auto& ring : rings) {
        for (std::size_t i = 0; i < ring.size(); ++i) {
          const Vec2 a = ring[i], b = ring[(i + 1) % ring.size()];
          const double sa = (a.x - p.x) * n.x + (a.y - p.y) * n.y;
          const double sb = (b.x - p.x) * n.x + (b.y - p.y) * n.y;
          if ((sa < 0) == (sb < 0)) continue;
          const double ta = (a.x - p.x) * d.x + (a.y - p.y) * d.y;
          const double tb = (b.x - p.x) * d.x + (b.y - p.y) * d.y;
          crossings.push_back(ta + (tb - ta) * sa / (sa - sb));
        }
      }
      std::sort(crossings.begin(), crossings.end());
      const auto segment = [&](double from, double to) {
        Vec2 a{p.x + d.x * from, p.y + d.y * from}, b{p.x + d.x * to, p.y + d.y * to};
        if (!CutToBox(a, b, cutLo, cutHi)) return;
        Emit();
        sink.MoveTo(a.x, a.y);
        sink.LineTo(b.x, b.y);
        primitives += 2;
      };
      for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
        const double from = crossings[i], to = crossings[i + 1];
        // Dashes far too small for the run they fill print as a line; so do dashes that the
        // distance from the pattern's origin would swamp, or too many for one hatch.
        if (dashes.empty() || (to - from) / period > 10000 || std::fabs(from) / period > 1e12 ||
            dashCount > kDashesPerEntity) {
          if (!dashes.empty() && dashCount > kDashesPerEntity) {
            Warn("hatch patterns with too many dashes are drawn with solid lines");
          }
          segment(from, to);
          continue;
        }
        dashCount += (to - from) / period * static_cast<double>(dashes.size());
        // The dashes start at p and repeat every period.
        double x = std::floor(from / period) * period;
        for (std::size_t e = 0; x <= to; e = (e + 1) % dashes.size()) {
          const double length = std::fabs(dashes[e]);
          if (dashes[e] > 0) {
            const double a = std::max(x, from), b = std::min(x + length, to);
            if (a < b) segment(a, b);
          } else if (dashes[e] == 0 && x >= from) {
            segment(x, x);  // a dot
          }
          x += length;
          if (length == 0 && dashes.size() == 1) break;
        }
      }
    }
  }
  return true;
}

void CRenderer::DrawImage(const Entity&, const Image& image, bool wipeout, const Context& context) {
  if (!image.show) return;
  // The picture's outline; its pixels are drawn where the image file can be read.
  const Vec3 size_u = image.u * image.pixelSize.x, size_v = image.v * image.pixelSize.y;
  const Vec3 o = image.insertion;
  const std::vector<Vec3> whole = {o, o + size_u, o + size_u + size_v, o + size_v};
  std::vector<Vec3> frame;
  // Clip boundaries are in pixels from the top-left corner of the picture (at −0.5, −0.5); two
  // points are the corners of a rectangle.
  std::vector<Vec2> boundary = image.clipBoundary;
  if (boundary.size() == 2) {
    const Vec2 a = boundary[0], b = boundary[1];
    boundary = {a, {b.x, a.y}, b, {a.x, b.y}};
  }
  const bool clipped = image.clipping && boundary.size() >= 3;
  // An inverted clip shows the picture outside the boundary: the frame is then the picture's
  // own outline, and the boundary a hole in it.
  const bool inverted = clipped && image.clipInverted && !wipeout;
  std::vector<Vec3> hole;
  if (clipped) {
    for (const Vec2& p : boundary) {
      (inverted ? hole : frame)
          .push_back(o + image.u * (p.x + 0.5) + image.v * (image.pixelSize.y - p.y - 0.5));
    }
  }
  if (frame.empty()) frame = whole;
  if (wipeout) {
    // A wipeout hides what lies under it: a white picture over its area.
    static const auto white = [] {
      auto dib = CDib::Create(1, 1, 24);
      if (dib) dib->SetPixelRgb(0, 0, 255, 255, 255);
      return dib;
    }();
    Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
    for (const Vec2& p : ToPage(context.toPage, frame)) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
    if (white && hi.x > lo.x && hi.y > lo.y && OnSheet(lo, farthest) && OnSheet(hi, farthest) &&
        Shows(lo, hi, 0)) {
      Emit();
      sink.Raster(lo.x, lo.y, static_cast<int>(std::lround(hi.x - lo.x)),
                  static_cast<int>(std::lround(hi.y - lo.y)), 0, 0, 1, 1, nullptr, white.get(), 0,
                  nullptr);
      ++primitives;
    }
    return;
  }
  const CDib* bitmap = images ? images(image.imageDef) : nullptr;
  if (!bitmap) {
    Polyline(ToPage(context.toPage, frame), true);
    if (inverted) Polyline(ToPage(context.toPage, hole), true);
    return;
  }
  const int sw = bitmap->Width(), sh = bitmap->Height();
  // The picture's pixel grid on the page: pixel (x, y) of the bitmap, y = 0 its bottom row,
  // starts at origin + x du + y dv.
  const Vec2 origin = Page(context.toPage, o);
  const Vec2 cornerU = Page(context.toPage, o + size_u), cornerV = Page(context.toPage, o + size_v);
  const Vec2 du{(cornerU.x - origin.x) / sw, (cornerU.y - origin.y) / sw};
  const Vec2 dv{(cornerV.x - origin.x) / sh, (cornerV.y - origin.y) / sh};
  // Pictures whose rows run along the page's x axis, bottom row down, go to the sink as
  // rectangles; turned, mirrored and slanted ones, and transparent ones, by their placement.
  const double along = std::hypot(du.x, du.y) + std::hypot(dv.x, dv.y);
  // A bitonal picture draws its set pixels (the darker colour) in the image's colour; a
  // transparent one draws them alone, an opaque one of two colours over its other pixels in
  // their own colour (a picture of one colour keeps it).
  int threshold = 0;
  const bool stencil = !bitmap->HasAlpha() && Bitonal(bitmap, &threshold) &&
                       (image.transparent || (threshold > 0 && threshold < 256));
  const bool upright = std::fabs(du.y) <= 1e-9 * along && std::fabs(dv.x) <= 1e-9 * along &&
                       du.x > 0 && dv.y > 0 && !stencil && !bitmap->HasAlpha();
  if (!stencil) bitmap = AdjustedBitmap(bitmap, image);
  const double dpi = 72.0 * std::max(1, sink.WidthDivisor);
  std::vector<PointStruct> clip;
  const auto pushClip = [&] {
    if (!clipped) return;
    for (const Vec2& p : ToPage(context.toPage, frame)) clip.push_back({p.x, p.y, 0});
    clip.push_back(clip.front());
    if (inverted) {
      // The outline and the hole as one path: round the outline, across to the hole, round the
      // hole the other way and back. Inside the hole the two turns cancel, so the non-zero
      // rule of the clip leaves it out; the path is only a clip, the two outlines are drawn.
      std::vector<Vec2> inner = ToPage(context.toPage, hole);
      const auto area = [](const auto& ring) {
        double sum = 0;
        for (std::size_t i = 0; i < ring.size(); ++i) {
          const auto& a = ring[i];
          const auto& b = ring[(i + 1) % ring.size()];
          sum += a.x * b.y - b.x * a.y;
        }
        return sum;
      };
      if ((area(inner) > 0) == (area(clip) > 0)) std::reverse(inner.begin(), inner.end());
      for (const Vec2& p : inner) clip.push_back({p.x, p.y, 0});
      clip.push_back({inner.front().x, inner.front().y, 0});
      clip.push_back(clip.front());
      sink.StrokeClipBoundary = false;
    }
    sink.PushClipPolygon(static_cast<int>(clip.size()), clip.data());
    sink.StrokeClipBoundary = true;
    if (inverted) {
      Polyline(ToPage(context.toPage, frame), true);
      Polyline(ToPage(context.toPage, hole), true);
    }
  };
  if (upright) {
    // The sink places pictures upright in a rectangle: the page box of the image's corners.
    Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
    for (const Vec2& p : ToPage(context.toPage, whole)) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
    // Only the part inside the output area can be seen: the picture is cut to it (whole pixels)
    // and reduced to the sink's resolution (WidthDivisor × 72 dots per inch), since more pixels
    // than the output can show only make the file larger.
    const double pw = hi.x - lo.x, ph = hi.y - lo.y;
    if (!(pw > 0 && ph > 0 && std::isfinite(pw) && std::isfinite(ph))) return;
    if (!OnSheet(lo, farthest) || !OnSheet(hi, farthest)) {
      Warn("images reaching far outside the page are left out");
      return;
    }
    const double vx0 = std::max(lo.x, context.visibleLo.x - 1);
    const double vy0 = std::max(lo.y, context.visibleLo.y - 1);
    const double vx1 = std::min(hi.x, context.visibleHi.x + 1);
    const double vy1 = std::min(hi.y, context.visibleHi.y + 1);
    if (vx1 <= vx0 || vy1 <= vy0) return;
    const int px0 = std::clamp(static_cast<int>(std::floor((vx0 - lo.x) / pw * sw)), 0, sw - 1);
    const int px1 = std::clamp(static_cast<int>(std::ceil((vx1 - lo.x) / pw * sw)), px0 + 1, sw);
    const int py0 = std::clamp(static_cast<int>(std::floor((vy0 - lo.y) / ph * sh)), 0, sh - 1);
    const int py1 = std::clamp(static_cast<int>(std::ceil((vy1 - lo.y) / ph * sh)), py0 + 1, sh);
    const double x = lo.x + pw * px0 / sw, y = lo.y + ph * py0 / sh;
    const double width = std::round(pw * (px1 - px0) / sw),
                 height = std::round(ph * (py1 - py0) / sh);
    if (!(width >= 1 && height >= 1 && width < 1e6 && height < 1e6)) return;
    const int wanted = std::max(1, static_cast<int>(std::ceil(width / 72.0 * dpi)));
    const int wantedRows = std::max(1, static_cast<int>(std::ceil(height / 72.0 * dpi)));
    Emit();
    pushClip();
    bitmap = ReducedBitmap(bitmap, px0, py0, px1 - px0, py1 - py0, wanted, wantedRows);
    sink.Raster(x, y, static_cast<int>(width), static_cast<int>(height), 0, 0, bitmap->Width(),
                bitmap->Height(), nullptr, bitmap, 0, nullptr);
    ++primitives;
    if (clipped) sink.PopClipPolygon();
    return;
  }
  // The picture by its placement: the pixels that can be seen are those whose grid cells meet
  // the visible box, found by taking the box's corners back into the grid.
  const double det = du.x * dv.y - du.y * dv.x;
  if (!(std::fabs(det) > 1e-12 && std::isfinite(det))) return;
  for (const Vec2& p : ToPage(context.toPage, whole)) {
    if (!OnSheet(p, farthest)) {
      Warn("images reaching far outside the page are left out");
      return;
    }
  }
  const double bx0 = std::max(context.visibleLo.x - 1, -farthest);
  const double by0 = std::max(context.visibleLo.y - 1, -farthest);
  const double bx1 = std::min(context.visibleHi.x + 1, farthest);
  const double by1 = std::min(context.visibleHi.y + 1, farthest);
  if (bx1 <= bx0 || by1 <= by0) return;
  double gx0 = 1e300, gy0 = 1e300, gx1 = -1e300, gy1 = -1e300;
  for (const Vec2 corner : {Vec2{bx0, by0}, Vec2{bx1, by0}, Vec2{bx1, by1}, Vec2{bx0, by1}}) {
    const double rx = corner.x - origin.x, ry = corner.y - origin.y;
    const double gx = (rx * dv.y - ry * dv.x) / det, gy = (du.x * ry - du.y * rx) / det;
    gx0 = std::min(gx0, gx);
    gx1 = std::max(gx1, gx);
    gy0 = std::min(gy0, gy);
    gy1 = std::max(gy1, gy);
  }
  const int px0 = static_cast<int>(std::clamp(std::floor(gx0), 0.0, sw - 1.0));
  const int px1 = static_cast<int>(std::clamp(std::ceil(gx1), px0 + 1.0, 1.0 * sw));
  const int py0 = static_cast<int>(std::clamp(std::floor(gy0), 0.0, sh - 1.0));
  const int py1 = static_cast<int>(std::clamp(std::ceil(gy1), py0 + 1.0, 1.0 * sh));
  if (gx1 <= 0 || gy1 <= 0 || gx0 >= sw || gy0 >= sh) return;
  const int columns = px1 - px0, rows = py1 - py0;
  const double lengthU = std::hypot(du.x, du.y) * columns, lengthV = std::hypot(dv.x, dv.y) * rows;
  if (!(lengthU < 1e7 && lengthV < 1e7)) return;
  const int wanted = std::max(1, static_cast<int>(std::ceil(lengthU / 72.0 * dpi)));
  const int wantedRows = std::max(1, static_cast<int>(std::ceil(lengthV / 72.0 * dpi)));
  Emit();
  pushClip();
  const CDib* drawn = ReducedBitmap(bitmap, px0, py0, columns, rows, wanted, wantedRows);
  RasterPlacement placement;
  placement.a = du.x * columns;
  placement.b = du.y * columns;
  placement.c = dv.x * rows;
  placement.d = dv.y * rows;
  placement.e = origin.x + du.x * px0 + dv.x * py0;
  placement.f = origin.y + du.y * px0 + dv.y * py0;
  placement.stencil = stencil;
  if (stencil && !image.transparent && drawn) {
    // An opaque bitonal picture as it is first, its paper in its own colour; its ink then
    // covered in the image's colour.
    placement.stencil = false;
    sink.RasterImage(placement, drawn->Width(), drawn->Height(), drawn);
    ++primitives;
    placement.stencil = true;
  }
  if (stencil && drawn) drawn = threshold > 0 ? StencilOf(drawn, threshold) : nullptr;
  if (drawn) {
    sink.RasterImage(placement, drawn->Width(), drawn->Height(), drawn);
    ++primitives;
  }
  if (clipped) sink.PopClipPolygon();
}

const CDib* CRenderer::ReducedBitmap(const CDib* source, int x0, int y0, int columns, int rows,
                                     int width, int height) {
  // Keep the pixels as they are unless reducing saves at least a third in each direction.
  if (columns <= width * 3 / 2 || rows <= height * 3 / 2) {
    width = columns;
    height = rows;
  }
  if (x0 == 0 && y0 == 0 && columns == source->Width() && rows == source->Height() &&
      width == columns && height == rows) {
    return source;
  }
  for (const Reduced& r : reduced) {
    if (r.source == source && r.x == x0 && r.y == y0 && r.columns == columns && r.rows == rows &&
        r.width == width && r.height == height) {
      return r.bitmap.get();
    }
  }
  const bool alpha = source->HasAlpha();
  auto bitmap = CDib::Create(width, height, alpha ? 32 : 24);
  CDibReader reader;
  if (!bitmap || !reader.Open(source)) return source;
  bitmap->SetHasAlpha(alpha);
  // A box filter: each new pixel is the mean of the source pixels it covers (and so is its
  // opacity).
  std::vector<std::uint8_t> row(static_cast<std::size_t>(columns) * 3);
  std::vector<std::uint64_t> sums(static_cast<std::size_t>(width) * 5);
  int from = 0;
  for (int y = 0; y < height; ++y) {
    const int to =
        std::max(from + 1, static_cast<int>(static_cast<std::int64_t>(y + 1) * rows / height));
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = from; sy < to && sy < rows; ++sy) {
      reader.ReadRow(y0 + sy, x0, columns, row.data());
      const std::uint8_t* opacity = alpha ? source->Row(y0 + sy) + 4 * x0 + 3 : nullptr;
      for (int sx = 0; sx < columns; ++sx) {
        const std::size_t x =
            static_cast<std::size_t>(static_cast<std::int64_t>(sx) * width / columns);
        sums[5 * x] += row[3 * sx];
        sums[5 * x + 1] += row[3 * sx + 1];
        sums[5 * x + 2] += row[3 * sx + 2];
        sums[5 * x + 3] += 1;
        if (opacity) sums[5 * x + 4] += opacity[4 * sx];
      }
    }
    for (int x = 0; x < width; ++x) {
      const std::uint64_t n = std::max<std::uint64_t>(1, sums[5 * x + 3]);
      bitmap->SetPixelRgb(x, y, static_cast<std::uint8_t>(sums[5 * x] / n),
                          static_cast<std::uint8_t>(sums[5 * x + 1] / n),
                          static_cast<std::uint8_t>(sums[5 * x + 2] / n));
      if (alpha) bitmap->Row(y)[4 * x + 3] = static_cast<std::uint8_t>(sums[5 * x + 4] / n);
    }
    from = to;
  }
  reduced.push_back({source, x0, y0, columns, rows, width, height, std::move(bitmap)});
  return reduced.back().bitmap.get();
}

bool CRenderer::Bitonal(const CDib* bitmap, int* threshold) {
  for (const auto& [source, level] : bitonal) {
    if (source == bitmap) {
      *threshold = level;
      return level >= 0;
    }
  }
  // Two colours at most: what a 1-bit picture loads as. A photograph shows a third colour
  // within its first few pixels, so the look is short for everything but bitonal pictures.
  CDibReader reader;
  int colors = 0;
  std::uint8_t first[3] = {}, second[3] = {};
  if (reader.Open(bitmap)) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader.Width()) * 3);
    for (int y = 0; y < reader.Height() && colors < 3; ++y) {
      reader.ReadRow(y, 0, reader.Width(), row.data());
      for (int x = 0; x < reader.Width() && colors < 3; ++x) {
        const std::uint8_t* pixel = &row[3 * static_cast<std::size_t>(x)];
        if (colors >= 1 && std::equal(pixel, pixel + 3, first)) continue;
        if (colors >= 2 && std::equal(pixel, pixel + 3, second)) continue;
        std::copy(pixel, pixel + 3, colors == 0 ? first : second);
        ++colors;
      }
    }
  }
  const auto luminance = [](const std::uint8_t* p) {
    return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000;
  };
  int level = -1;
  if (colors == 1) level = luminance(first) < 128 ? 256 : 0;
  // The darker colour is the set one: ink on paper.
  if (colors == 2) level = (luminance(first) + luminance(second) + 1) / 2;
  bitonal.emplace_back(bitmap, level);
  *threshold = level;
  return level >= 0;
}

const CDib* CRenderer::StencilOf(const CDib* bitmap, int threshold) {
  CDibReader reader;
  auto stencil = CDib::Create(bitmap->Width(), bitmap->Height(), 1);
  if (!stencil || !reader.Open(bitmap)) return nullptr;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap->Width()) * 3);
  for (int y = 0; y < bitmap->Height(); ++y) {
    reader.ReadRow(y, 0, bitmap->Width(), row.data());
    for (int x = 0; x < bitmap->Width(); ++x) {
      const std::uint8_t* p = &row[3 * static_cast<std::size_t>(x)];
      if ((299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000 < threshold) {
        stencil->SetPixelIndex(x, y, 1);
      }
    }
  }
  stencils.push_back(std::move(stencil));
  return stencils.back().get();
}

const CDib* CRenderer::AdjustedBitmap(const CDib* source, const Image& image) {
  if (image.brightness == 50 && image.contrast == 50 && image.fade == 0) return source;
  for (const Adjusted& a : adjusted) {
    if (a.source == source && a.brightness == image.brightness && a.contrast == image.contrast &&
        a.fade == image.fade) {
      return a.bitmap.get();
    }
  }
  // Contrast stretches the levels about the middle (0 makes every pixel mid gray, 100 splits
  // them into black and white), brightness then moves them by up to the whole range (0 black,
  // 100 white), and fade blends them towards the white of the paper.
  const double contrast = image.contrast <= 50    ? image.contrast / 50.0
                          : image.contrast >= 100 ? 255.0
                                                  : 50.0 / (100 - image.contrast);
  const double shift = (image.brightness - 50) / 50.0 * 255.0;
  const double fade = image.fade / 100.0;
  std::uint8_t levels[256];
  for (int v = 0; v < 256; ++v) {
    double level = (v - 127.5) * contrast + 127.5 + shift;
    level = std::clamp(level, 0.0, 255.0);
    level += (255.0 - level) * fade;
    levels[v] = static_cast<std::uint8_t>(std::lround(std::clamp(level, 0.0, 255.0)));
  }
  const bool alpha = source->HasAlpha();
  auto bitmap = CDib::Create(source->Width(), source->Height(), alpha ? 32 : 24);
  CDibReader reader;
  if (!bitmap || !reader.Open(source)) return source;
  bitmap->SetHasAlpha(alpha);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(source->Width()) * 3);
  for (int y = 0; y < source->Height(); ++y) {
    reader.ReadRow(y, 0, source->Width(), row.data());
    for (int x = 0; x < source->Width(); ++x) {
      const std::uint8_t* p = &row[3 * static_cast<std::size_t>(x)];
      bitmap->SetPixelRgb(x, y, levels[p[0]], levels[p[1]], levels[p[2]]);
      if (alpha) bitmap->Row(y)[4 * x + 3] = source->Row(y)[4 * x + 3];
    }
  }
  adjusted.push_back({source, image.brightness, image.contrast, image.fade, std::move(bitmap)});
  return adjusted.back().bitmap.get();
}

void CRenderer::DrawLeader(const Leader& leader, const Affine3& toPage, const Vec3* endTangent) {
  if (leader.vertices.size() < 2) return;
  std::vector<Vec3> points = leader.vertices;
  const std::size_t n = points.size();
  if (leader.spline && (n > 2 || endTangent)) {
    // CAD fits the curve through the vertices, leaving the first and last vertex along the
    // first and last segment (so the arrowhead lies along the curve), or else in the direction
    // it is given to end in.
    Spline curve;
    curve.fitPoints = points;
    const Vec3 end = endTangent ? *endTangent : points[n - 1] - points[n - 2];
    if (InterpolateFitPoints(curve, points[1] - points[0], end)) {
      const double scale = toPage.ScaleFactor();
      points = SplinePoints(curve, scale > 0 ? tolerance / scale : tolerance, PointsLeft());
      TakePoints(points.size());
    }
  }
  Polyline(ToPage(toPage, points), false);
  if (!leader.arrowhead) return;
  // A closed filled arrowhead at the first vertex, pointing along the first segment.
  const Vec3 tip = leader.vertices[0];
  Vec3 along = leader.vertices[1] - tip;
  if (Length(along) == 0) return;
  along = Normalized(along) * leader.arrowSize;
  const Vec3 side{-along.y / 6, along.x / 6, 0};
  std::vector<std::vector<Vec2>> rings{
      {Page(toPage, tip), Page(toPage, tip + along + side), Page(toPage, tip + along - side)}};
  FilledRings(rings);
}

void CRenderer::DrawConstructionLine(const ConstructionLine& line, bool ray,
                                     const Affine3& toPage) {
  if (skipInfinite) {
    if (!infiniteBasePoints) return;
    const Vec3 along = Normalized(line.direction);
    Polyline({Page(toPage, ray ? line.base : line.base - along), Page(toPage, line.base + along)},
             false);
    return;
  }
  // Clip the infinite line to the output area (with a little slack for round caps).
  const Vec2 base = Page(toPage, line.base);
  const Vec2 ahead = Page(toPage, line.base + Normalized(line.direction));
  double dx = ahead.x - base.x, dy = ahead.y - base.y;
  if (dx == 0 && dy == 0) return;
  double t0 = ray ? 0.0 : -1e300, t1 = 1e300;
  const double lo[2] = {-1, -1}, hi[2] = {outputWidth + 1, outputHeight + 1};
  const double p[2] = {base.x, base.y}, d[2] = {dx, dy};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0) {
      if (p[k] < lo[k] || p[k] > hi[k]) return;
      continue;
    }
    double a = (lo[k] - p[k]) / d[k], b = (hi[k] - p[k]) / d[k];
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
  }
  if (t0 >= t1) return;
  Polyline({{base.x + dx * t0, base.y + dy * t0}, {base.x + dx * t1, base.y + dy * t1}}, false);
}

bool CRenderer::Visit() {
  if (aborted) return false;
  ++visits;
  if (visits % kStopCheckInterval == 0 && stop && stop->load(std::memory_order_relaxed)) {
    aborted = true;
    return false;
  }
  if (visits > visitLimit) {
    Warn("pages with more than " + std::to_string(visitLimit) +
         " entities and block cells are cut short");
    aborted = true;
    return false;
  }
  return true;
}

void CRenderer::Warn(const std::string& what) {
  auto found = std::find_if(warnings.begin(), warnings.end(),
                            [&](const auto& warning) { return warning.first == what; });
  if (found == warnings.end()) {
    warnings.emplace_back(what, 1);
  } else {
    ++found->second;
  }
}

std::vector<std::string> CRenderer::Warnings() const {
  std::vector<std::string> lines;
  for (const auto& [what, count] : warnings) {
    lines.push_back(count > 1 ? what + " (" + std::to_string(count) + " times)" : what);
  }
  return lines;
}

bool CRenderer::OverBudget() {
  if (primitives <= kPrimitiveBudget) return false;
  if (!budgetSpent) {
    budgetSpent = true;
    Warn("the page reached its limit of " + std::to_string(kPrimitiveBudget) +
         " drawing primitives: the rest of the drawing is left out");
  }
  return true;
}

std::size_t CRenderer::PointsLeft() const {
  // An entity past its budget still gets a few points for each curve it draws.
  return entityPoints < kPointsPerEntity ? static_cast<std::size_t>(kPointsPerEntity - entityPoints)
                                         : 16;
}

void CRenderer::TakePoints(std::size_t count) {
  entityPoints += static_cast<std::int64_t>(count);
}

int CRenderer::TakeSegments(int wanted) {
  const auto left = static_cast<std::int64_t>(PointsLeft());
  int segments = wanted;
  if (wanted >= left) {
    segments = static_cast<int>(std::max<std::int64_t>(4, left / 2));
    if (segments < wanted) Warn("curves with too many points are drawn with fewer");
    segments = std::min(segments, wanted);
  }
  entityPoints += segments + 1;
  return segments;
}

}  // namespace drawing
