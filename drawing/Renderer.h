#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drawing/Geometry.h"
#include "drawing/Model.h"
#include "platform/Dib.h"
#include "render/PointStruct.h"

class CDwgExport;

namespace drawing {

class CShapeFile;
class CTextEngine;
struct NamedPlotStyleTable;
struct PlotStylePen;

// Draws one layout of a drawing into a sink: model space directly, a paper layout with its
// sheet entities and, through each viewport, model space clipped to the viewport. Properties
// are resolved here (BYLAYER and BYBLOCK colours, lineweights and linetypes through nested
// inserts, layer visibility, viewport-frozen layers) so the sink sees final values only.
// Coordinates reach the sink as page points: toPage maps the layout's own space onto them.
class CRenderer {
 public:
  CRenderer(const Drawing& drawing, CTextEngine& text, CDwgExport& sink);

  // Draws layout (an index into drawing.layouts) with the map toPage, onto an output area of
  // width × height points (used to clip infinite lines).
  void DrawLayout(int layout, const Affine3& toPage, double width, double height);

  // Leaves XLINE and RAY out (when measuring extents); with basePoints, each stands for a
  // line of one unit from its base point along it (both ways for an XLINE), so that a drawing
  // of nothing else still has extents around them.
  void SetSkipInfinite(bool skip, bool basePoints = false) {
    skipInfinite = skip;
    infiniteBasePoints = basePoints;
  }
  // Only measures (the sink keeps the box around what is drawn): curves may then be given by
  // the points that can bound them rather than all of their points.
  void SetMeasuring(bool on) { measuring = on; }
  // Where the pixels of an image definition come from (an index into drawing.imageDefs); an
  // image without pixels is drawn as its frame.
  using ImageSource = std::function<const CDib*(std::int32_t imageDef)>;
  void SetImageSource(ImageSource source) { images = std::move(source); }
  // The named plot style table a drawing in named plot style mode ($PSTYLEMODE 0) is drawn
  // with: an entity's style (or its layer's; "Normal" when neither names one) gives its pen's
  // colour and width. Not owned; null for none.
  void SetNamedPlotStyles(const NamedPlotStyleTable* table) { namedStyles = table; }
  // How far a curve drawn as segments may stray from the true curve, in page points.
  void SetTolerance(double points) { tolerance = points > 1e-4 ? points : 1e-4; }

  // How many primitives were drawn, and how many entities were not drawn because a block was
  // nested too deeply, inserted itself, or the drawing passed the primitive budget.
  std::int64_t PrimitiveCount() const { return primitives; }
  std::int64_t DroppedCount() const { return dropped; }
  // Whether the page reached its limit of primitives, so that entities were left out.
  bool BudgetSpent() const { return budgetSpent; }

  // A flag that, once set, ends the drawing soon (within a few thousand entities or cells). Not
  // owned; null for none.
  void SetStopFlag(const std::atomic<bool>* flag) { stop = flag; }
  // How many entities and block cells one page may look at, drawn or not, before the rest is
  // left out (30 million unless set: far beyond real drawings, and reached by a file of a few
  // kilobytes whose blocks multiply each other).
  void SetVisitLimit(std::int64_t limit) { visitLimit = limit; }
  // True when the drawing ended early: the stop flag was set, or the page passed its bound of
  // entities and block cells looked at.
  bool Aborted() const { return aborted; }
  // What was drawn plainly or left out because it passed a bound ("dashed lines too long for
  // their dashes are drawn solid (3 times)"), one line each.
  std::vector<std::string> Warnings() const;

 private:
  struct ResolvedColor {
    std::int16_t index = 7;
    std::uint32_t rgb = 0xFFFFFF;
  };
  struct Context {
    Affine3 toPage;
    std::int32_t blockLayer = -1;  // the insert's layer, for entities on layer 0 of a block
    ResolvedColor blockColor;
    std::int16_t blockLineweight = kLineweightDefault;
    std::int32_t blockLinetype = kLinetypeContinuous;
    const std::vector<std::int32_t>* frozenLayers = nullptr;
    int depth = 0;
    bool inPaperSpace = false;
    // The scale (paper units per model unit) of the viewport model space is seen through, when
    // dashes keep the lengths they have on paper ($PSLTSCALE 1); 1 otherwise.
    double linetypeViewScale = 1.0;
    // The part of the page that can be seen (the output area, or a viewport's box in it).
    Vec2 visibleLo{-1e300, -1e300};
    Vec2 visibleHi{1e300, 1e300};
  };

  void DrawBlock(std::int32_t block, const Context& context);
  void DrawEntity(const Entity& entity, const Context& context);

  // One overload per entity kind, chosen by std::visit on the entity's data. A kind without
  // one of its own picks the deleted template and does not compile.
  template <class Kind>
  void DrawKind(const Entity& entity, const Kind& kind, const Context& context) = delete;
  void DrawKind(const Entity& entity, const drawing::Line& line, const Context& context);
  void DrawKind(const Entity& entity, const drawing::Point& point, const Context& context);
  void DrawKind(const Entity& entity, const drawing::Circle& circle, const Context& context);
  void DrawKind(const Entity& entity, const drawing::Arc& arc, const Context& context);
  void DrawKind(const Entity& entity, const drawing::Ellipse& ellipse, const Context& context);
  void DrawKind(const Entity& entity, const drawing::Polyline& polyline, const Context& context);
  void DrawKind(const Entity& entity, const Spline& spline, const Context& context);
  void DrawKind(const Entity& entity, const Solid& solid, const Context& context);
  void DrawKind(const Entity& entity, const Trace& trace, const Context& context);
  void DrawKind(const Entity& entity, const Face3d& face, const Context& context);
  void DrawKind(const Entity& entity, const Text& text, const Context& context);
  void DrawKind(const Entity& entity, const Attribute& attribute, const Context& context);
  void DrawKind(const Entity& entity, const MText& mtext, const Context& context);
  void DrawKind(const Entity& entity, const Insert& insert, const Context& context);
  void DrawKind(const Entity& entity, const Dimension& dimension, const Context& context);
  void DrawKind(const Entity& entity, const Table& table, const Context& context);
  void DrawKind(const Entity& entity, const Leader& leader, const Context& context);
  void DrawKind(const Entity& entity, const XLine& line, const Context& context);
  void DrawKind(const Entity& entity, const Ray& ray, const Context& context);
  void DrawKind(const Entity& entity, const Hatch& hatch, const Context& context);
  void DrawKind(const Entity& entity, const Image& image, const Context& context);
  void DrawKind(const Entity& entity, const Wipeout& wipeout, const Context& context);
  void DrawKind(const Entity& entity, const Viewport& viewport, const Context& context);
  void DrawKind(const Entity& entity, const ClippedGroup& group, const Context& context);
  void DrawKind(const Entity& entity, const MLeader& leader, const Context& context);
  // The frame around a multileader's text and the lines under it that its attachment asks for,
  // the lines with the properties of its leader lines (`lines`).
  void DrawMLeaderTextLines(const Entity& entity, const MLeader& leader, const Entity& lines,
                            const Context& context);
  void DrawKind(const Entity& entity, const MLine& mline, const Context& context);
  void DrawKind(const Entity& entity, const Mesh& mesh, const Context& context);
  void DrawKind(const Entity& entity, const Tolerance& tolerance, const Context& context);
  void DrawKind(const Entity& entity, const Underlay& underlay, const Context& context);
  // Brackets the drawing of an entity for the sink (its kind and layer) and applies its
  // colour, width and linetype; draw gets the maps of world and entity coordinates to the page.
  template <class Draw>
  void DrawMarked(const Entity& entity, const Context& context, Draw draw);
  void DrawViewports(const Block& paper, const Context& context);
  void DrawViewport(const Entity& entity, const Viewport& viewport, const Block& paper,
                    const Context& context);
  void DrawInsert(const Entity& entity, const Insert& insert, const Context& context);
  // Clips what follows to a block reference's boundary (block coordinates, two points a
  // rectangle) and narrows context's visible box to it; false, with nothing pushed, when
  // nothing inside it can be seen. An inverted clip hides the inside instead: what can be seen
  // of the page around the boundary stays, and context is left as it is.
  bool PushBlockClip(const std::vector<Vec2>& boundary, bool inverted, const Affine3& toPage,
                     Context& context);
  // The corners on the page (clamped to what the sink takes) as a closed clip, with the visible
  // box of context narrowed to them; false when a corner is not finite or nothing of the clip
  // can be seen.
  bool ClipOnPage(const std::vector<Vec2>& corners, const Affine3& toPage, Context& context,
                  std::vector<PointStruct>& clip) const;
  void DrawBlockGraphic(const Entity& entity, const BlockGraphic& graphic, const Context& context);

  // Property resolution.
  std::int32_t EffectiveLayer(const Entity& entity, const Context& context) const;
  bool IsVisible(const Entity& entity, const Context& context) const;
  ResolvedColor ResolveColor(const Color& color, std::int32_t layer, const Context& context) const;
  std::int16_t ResolveLineweight(std::int16_t lineweight, std::int32_t layer,
                                 const Context& context) const;
  std::int32_t ResolveLinetype(std::int32_t linetype, std::int32_t layer,
                               const Context& context) const;
  // The entity's colour and width to the sink, and its dash pattern; ApplyProperties is both
  // halves: PrepareProperties (the renderer's own state) and SendProperties (the sink's).
  void ApplyProperties(const Entity& entity, const Context& context);
  void PrepareProperties(const Entity& entity, const Context& context);
  void SendProperties(const Entity& entity, const Context& context);
  // The entity being drawn is marked for the sink (its layer, colour and width) only when it
  // first puts something on the page: an entity wholly outside what can be seen writes nothing.
  void Emit();
  // The part of the page where drawing can still show: the visible box of the entity being
  // drawn, widened by reach (a line's width, or nothing for fills), within the sheet.
  void CullBox(double reach, Vec2& lo, Vec2& hi) const;
  // Whether the box of points can show, when its lines are reach wide.
  bool Shows(Vec2 lo, Vec2 hi, double reach) const;
  // Whether rings (those of two points or more) can show, when outlined reach wide.
  bool RingsShow(const std::vector<std::vector<Vec2>>& rings, double reach) const;
  // The stroke reach of lines drawn now: the widest pen with a pen table, else the line width.
  double StrokeReach() const;

  // Output in page points.
  // A polyline of page points; what lies far outside the page is cut off.
  void Polyline(const std::vector<Vec2>& points, bool closed);
  // A path of page points on the sheet, dashed by the linetype, with its texts and shapes.
  void DrawPath(const std::vector<Vec2>& path);
  // A text or shape of a complex linetype at the end of its dash: at, on the page, where the
  // dash ends, the path running along there (a unit vector).
  void DrawLinetypeShape(const LinetypeShape& shape, Vec2 at, Vec2 along);
  // Filled areas of page points; outlined with the current width unless they are glyphs.
  void FilledRings(std::vector<std::vector<Vec2>>& rings, bool outlined = true);
  void ArcOrCurve(const Affine3& toPage, Vec3 center, double radius, double start, double end);
  std::vector<Vec2> ToPage(const Affine3& toPage, const std::vector<Vec3>& points) const;
  int SegmentsFor(double pageRadius, double sweep) const;

  // Entity kinds.
  void DrawPolyline(const Entity& entity, const drawing::Polyline& polyline,
                    const Context& context);
  void DrawSpline(const Spline& spline, const Affine3& toPage);
  void DrawText(const Entity& entity, const Text& text, const Context& context);
  void DrawMText(const Entity& entity, const MText& mtext, const Context& context);
  void DrawHatch(const Entity& entity, const Hatch& hatch, const Context& context);
  // Fills a gradient hatch's rings (page points; shapes: the same rings in OCS) with bands of
  // its blend, clipped to the rings.
  void DrawGradient(const Entity& entity, const Hatch& hatch, const Affine3& ocs,
                    const std::vector<std::vector<Vec3>>& shapes,
                    std::vector<std::vector<Vec2>>& rings, const Context& context);
  // Draws a pattern hatch's lines inside its rings (page points, even-odd). False when the
  // lines would lie so close together on the page that the area is drawn filled instead.
  bool DrawHatchPattern(const Hatch& hatch, const Affine3& ocs,
                        const std::vector<std::vector<Vec2>>& rings);
  // A wipeout draws as an image of white pixels.
  void DrawImage(const Entity& entity, const Image& image, bool wipeout, const Context& context);
  // endTangent: the direction a spline leader ends in; null: along its last segment.
  void DrawLeader(const Leader& leader, const Affine3& toPage, const Vec3* endTangent = nullptr);
  // The box of a multileader's text in its own x (direction) and y axes from its insertion
  // point; false when it draws nothing.
  bool MTextBox(const MText& mtext, Vec2& low, Vec2& high);
  void DrawFilledFace(const Face& face, const Affine3& ocs);
  // The frame of a feature control frame and its text, in the frame's own coordinates.
  void DrawTolerance(const Tolerance& tolerance, const Affine3& toPage);
  // An XLINE, or a RAY when ray is set, cut to the output area.
  void DrawConstructionLine(const ConstructionLine& line, bool ray, const Affine3& toPage);

  const Drawing& drawing;
  CTextEngine& text;
  CDwgExport& sink;
  double outputWidth = 0, outputHeight = 0;
  // How far from the page's origin drawn coordinates may lie (points).
  double farthest = 1e6;
  // How far a curve drawn as segments may stray from it (points): a pixel at 2400 dpi, so that
  // no facet shows on a 600 dpi print looked at four times enlarged.
  double tolerance = 0.03;
  bool skipInfinite = false;
  bool infiniteBasePoints = false;
  std::vector<std::int32_t> blockStack;
  ImageSource images;
  // Pictures reduced to the page's resolution, by source bitmap and size.
  struct Reduced {
    const CDib* source;
    int x, y, columns, rows, width, height;
    std::unique_ptr<CDib> bitmap;
  };
  std::vector<Reduced> reduced;
  // The part of source from pixel (x, y) (storage order, y = 0 the bottom row), columns ×
  // rows pixels, at no more than width × height pixels: source itself when that is all of it.
  const CDib* ReducedBitmap(const CDib* source, int x, int y, int columns, int rows, int width,
                            int height);
  // Whether the bitmap is bitonal (two colours at most), with the luminance below which its
  // pixels are the set ones (the darker colour); looked at once per bitmap.
  bool Bitonal(const CDib* bitmap, int* threshold);
  std::vector<std::pair<const CDib*, int>> bitonal;
  // A 1-bit bitmap of the pixels darker than threshold (index 1), kept while the renderer lives.
  const CDib* StencilOf(const CDib* bitmap, int threshold);
  std::vector<std::unique_ptr<CDib>> stencils;
  // The picture with the image's brightness, contrast and fade applied (source itself when they
  // leave it as it is), made once per bitmap and setting.
  const CDib* AdjustedBitmap(const CDib* source, const Image& image);
  struct Adjusted {
    const CDib* source;
    int brightness, contrast, fade;
    std::unique_ptr<CDib> bitmap;
  };
  std::vector<Adjusted> adjusted;
  // The entity whose marking for the sink waits until it draws (see Emit).
  struct PendingMark {
    bool waiting = false;
    bool marked = false;  // the sink opened a marked group for it
    const char* kind = "";
    std::string layerName;
    const Entity* entity = nullptr;
    const Context* context = nullptr;
  } mark;
  // The visible box of the entity being drawn (page points), and its line width in points.
  Vec2 viewLo{-1e300, -1e300};
  Vec2 viewHi{1e300, 1e300};
  double lineWidthPoints = 0;
  // The dash pattern of the entity being drawn, in page points; empty for continuous lines.
  std::vector<double> dashes;
  bool measuring = false;
  // The complex linetype whose texts and shapes the dashes carry (null: none), page points per
  // unit of its pattern, and the page angle of the drawing's x axis (radians) for shapes turned
  // to an absolute angle.
  const Linetype* complexLinetype = nullptr;
  double linetypeUnit = 1.0;
  double linetypeAngle = 0.0;
  // Whether the entity's own coordinates reach the page mirrored (a block inserted with a
  // negative scale, an extrusion pointing down): its left side is then the page's right.
  bool linetypeMirrored = false;
  // The strokes of the shapes drawn so far, by shape file and number.
  std::map<std::pair<const CShapeFile*, int>, std::vector<std::vector<Vec2>>> shapeStrokes;
  std::int64_t primitives = 0;
  std::int64_t dropped = 0;
  bool budgetSpent = false;

  // Counts a visit of an entity or block cell and looks at the stop flag now and then; false
  // when drawing is to end.
  bool Visit();
  void Warn(const std::string& what);
  // Whether the page has drawn more primitives than it may (warned once); nothing more is
  // drawn then.
  bool OverBudget();
  // The points the entity being drawn may still take for its curves, and taking them.
  std::size_t PointsLeft() const;
  void TakePoints(std::size_t count);
  // The segments a curve may take of the wanted ones, taken.
  int TakeSegments(int wanted);

  const std::atomic<bool>* stop = nullptr;
  const NamedPlotStyleTable* namedStyles = nullptr;
  // The pen of the entity's named plot style, when one applies.
  const PlotStylePen* NamedPen(const Entity& entity, std::int32_t layer) const;
  bool aborted = false;
  std::int64_t visits = 0;
  std::int64_t visitLimit = 30'000'000;
  std::int64_t entityPoints = 0;  // points the entity being drawn took for its curves
  std::vector<std::pair<std::string, int>> warnings;
  std::vector<std::string> underlaysWarned;  // the files of underlays warned about
};

inline constexpr std::size_t kNoPointLimit = static_cast<std::size_t>(-1) / 2;

// The points a polyline with bulges passes through, arcs divided so that no chord strays more
// than tolerance (in the polyline's own units) from its arc. When that would take more than
// about maxPoints points, the arcs get fewer chords (at least two each) and *coarser is set.
// With extremesUnder, only the points that can be the least or largest in either coordinate
// once mapped by it are given (the vertices, and the arcs' points next to where the map turns
// them back); *fullCount is the number of points of the whole list.
std::vector<Vec3> PolylinePoints(const std::vector<PolylineVertex>& vertices, bool closed,
                                 double tolerance, std::size_t maxPoints = kNoPointLimit,
                                 bool* coarser = nullptr, const Affine3* extremesUnder = nullptr,
                                 std::size_t* fullCount = nullptr);

// Points of a NURBS curve, enough that the polyline stays within tolerance of it, and no more
// than maxPoints (and 4097) of them.
std::vector<Vec3> SplinePoints(const Spline& spline, double tolerance,
                               std::size_t maxPoints = kNoPointLimit);

}  // namespace drawing
