#pragma once

// The in-memory drawing model that every reader (DXF now, DWG and DWF later) fills and the
// renderer draws. It is format-neutral: values are resolved to plain numbers, names and
// indices when the file is read, handles are turned into indices, and text is UTF-8.
//
// Units: drawing units as stored (the header's $INSUNITS says which); angles in degrees as
// stored in the file unless a field says radians; points are in the entity's object
// coordinate system (OCS) where the file stores them so (the 2D entities), in world
// coordinates otherwise, as each field says.

#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "drawing/text/TextDecoder.h"

namespace drawing {

struct Vec2 {
  double x = 0.0;
  double y = 0.0;
};

struct Vec3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// Colour of an entity or layer: an index of the 256-colour palette, or a true colour.
// index 0 is BYBLOCK, 256 BYLAYER, 257 "by entity" (a true colour alone); a layer's negative
// index means the layer is off (its colour is the absolute value).
struct Color {
  static constexpr std::int16_t kByBlock = 0;
  static constexpr std::int16_t kByLayer = 256;
  std::int16_t index = kByLayer;
  bool hasTrueColor = false;
  std::uint32_t rgb = 0;  // red in the low byte, as the sink takes colours
};

// Lineweights in hundredths of a millimetre, or one of these.
constexpr std::int16_t kLineweightByLayer = -1;
constexpr std::int16_t kLineweightByBlock = -2;
constexpr std::int16_t kLineweightDefault = -3;

// Linetype references of entities: an index into Drawing::linetypes, or one of these.
constexpr std::int32_t kLinetypeByLayer = -1;
constexpr std::int32_t kLinetypeByBlock = -2;
constexpr std::int32_t kLinetypeContinuous = -3;

// Header variables the renderer and the run use.
struct Header {
  std::string acadVersion;        // $ACADVER, "AC1009" … "AC1032"
  std::string codePage;           // $DWGCODEPAGE, "ANSI_1252" …
  int insUnits = 0;               // $INSUNITS
  Vec3 extMin{1e20, 1e20, 1e20};  // $EXTMIN/$EXTMAX of model space (often stale)
  Vec3 extMax{-1e20, -1e20, -1e20};
  Vec2 limMin;  // $LIMMIN/$LIMMAX
  Vec2 limMax{12.0, 9.0};
  double ltScale = 1.0;    // $LTSCALE
  double celtScale = 1.0;  // $CELTSCALE
  int psLtScale = 1;       // $PSLTSCALE
  int lwDefault = 25;      // $LWDEFAULT, hundredths of a millimetre
  int pdMode = 0;          // $PDMODE
  double pdSize = 0.0;     // $PDSIZE
  int tileMode = 1;        // $TILEMODE: 1 model space active, 0 a paper layout
  // Paper space extents ($PEXTMIN/$PEXTMAX) and limits ($PLIMMIN/$PLIMMAX) of the active
  // paper layout, for drawings without LAYOUT objects.
  Vec3 pExtMin{1e20, 1e20, 1e20};
  Vec3 pExtMax{-1e20, -1e20, -1e20};
  Vec2 pLimMin;
  Vec2 pLimMax{12.0, 9.0};
  // $PSTYLEMODE: 1 colour-dependent plot styles, 0 named plot styles (layers and entities
  // name theirs, see Drawing::plotStyleNames).
  int pstyleMode = 1;
  // $XCLIPFRAME: whether the boundaries of clipped block references show (1 shown and plotted,
  // 2 shown but not plotted, 0 neither).
  int xclipFrame = 2;
};

struct Layer {
  std::string name;
  Color color{7, false, 0};
  bool off = false;                             // a negative colour index in the file
  bool frozen = false;                          // flag 1
  bool locked = false;                          // flag 4
  bool plottable = true;                        // group 290
  std::int32_t linetype = kLinetypeContinuous;  // index into Drawing::linetypes
  std::int16_t lineweight = kLineweightDefault;
  std::int32_t plotStyle = -1;  // index into Drawing::plotStyleNames; -1 none ("Normal")
};

// A text or a shape that a complex linetype draws at the end of one of its dashes, turned with
// the line (or to a fixed angle) and moved by an offset along and across it. The dash sequence
// alone makes the room around it: the element draws over whatever dash or gap it meets.
struct LinetypeShape {
  std::size_t dash = 0;     // the element of Linetype::dashes at whose end it stands
  bool isText = false;      // a text in a text style, or else a shape of a shape file
  std::string text;         // UTF-8, %%-codes as stored
  std::int32_t style = -1;  // text: index into Drawing::textStyles
  std::string shapeFile;    // shapes: the compiled shape file ("ltypeshp.shx")
  int shapeNumber = 0;
  double scale = 1.0;     // S=: text height (times a fixed style height), shape size
  double rotation = 0.0;  // degrees, relative to the line's direction unless absolute
  bool absoluteRotation = false;
  bool upright = false;  // text turned so that it never reads upside down
  Vec2 offset;           // X= along the line and Y= across it, drawing units
};

// A linetype's dash pattern, one element per dash: a positive length is a dash, a negative
// one a gap, 0 a dot; drawing units. Complex linetypes add texts and shapes at dashes.
struct Linetype {
  std::string name;
  std::string description;
  double patternLength = 0.0;
  std::vector<double> dashes;
  std::vector<LinetypeShape> shapes;
};

struct TextStyle {
  std::string name;
  std::string fontFile;      // group 3: "arial.ttf", "txt.shx", "simplex" …
  std::string bigFontFile;   // group 4
  std::string fontFamily;    // the TrueType family name in extended data, when given
  double fixedHeight = 0.0;  // 0: the entity gives the height
  double widthFactor = 1.0;
  double obliqueAngle = 0.0;  // degrees
  int generationFlags = 0;    // 2 mirrored in x, 4 mirrored in y
  // A face the drawing carries itself (DWF packages embed the fonts their text uses): the bytes
  // of a TrueType or OpenType font, or of an Embedded OpenType file. When not empty, the text
  // engine uses it for this style's fontFile before looking anywhere else.
  std::string embeddedFont;
};

// The active model-space view (the "*ACTIVE" viewport), in model coordinates.
struct ModelView {
  bool valid = false;
  Vec2 center;
  double height = 0.0;
  double aspectRatio = 1.0;  // width / height
  Vec3 direction{0, 0, 1};
  Vec3 target;
  double twist = 0.0;  // degrees
};

// ---- Entities -------------------------------------------------------------------------------

// Every entity kind is a type of its own, alternative of EntityData below, and knows the name
// the drawing formats give it (kName), for logs and for the sink's entity brackets.

struct Line {
  static constexpr const char* kName = "LINE";
  Vec3 start, end;  // world coordinates
};

struct Point {
  static constexpr const char* kName = "POINT";
  Vec3 position;  // world coordinates
};

struct Circle {
  static constexpr const char* kName = "CIRCLE";
  Vec3 center;  // OCS
  double radius = 0.0;
};

struct Arc {
  static constexpr const char* kName = "ARC";
  Vec3 center;  // OCS
  double radius = 0.0;
  double startAngle = 0.0, endAngle = 0.0;  // degrees, counter-clockwise from start to end
};

struct Ellipse {
  static constexpr const char* kName = "ELLIPSE";
  Vec3 center;         // world coordinates
  Vec3 majorAxis;      // end of the major axis relative to the centre, world coordinates
  double ratio = 1.0;  // minor / major
  double startParam = 0.0, endParam = 2 * std::numbers::pi;  // radians
};

struct PolylineVertex {
  Vec3 position;                            // OCS for 2D polylines, world coordinates for 3D ones
  double startWidth = 0.0, endWidth = 0.0;  // widths at the start and end of the segment
  double bulge = 0.0;                       // tan(included angle / 4) of the arc to the next vertex
};

// LWPOLYLINE and the old POLYLINE (2D and 3D; polyface and polygon meshes as their edges).
struct Polyline {
  static constexpr const char* kName = "POLYLINE";
  std::vector<PolylineVertex> vertices;
  bool closed = false;
  bool is3d = false;  // vertices in world coordinates, no bulges or widths
  double constantWidth = 0.0;
  double elevation = 0.0;
  // Polyface meshes: faces as 1-based vertex indices, negative for an invisible edge. A
  // polyface mesh draws only its faces' edges, so one without faces draws nothing.
  bool polyface = false;
  std::vector<std::vector<int>> faces;
  // Polygon meshes: m × n vertices in rows.
  int meshM = 0, meshN = 0;
  bool meshClosedM = false, meshClosedN = false;
};

struct Spline {
  static constexpr const char* kName = "SPLINE";
  int degree = 3;
  bool closed = false;
  bool periodic = false;
  bool rational = false;
  std::vector<double> knots;
  std::vector<Vec3> controlPoints;  // world coordinates
  std::vector<double> weights;      // empty: all 1
  std::vector<Vec3> fitPoints;      // used when there are no control points
};

// The four corners of SOLID, TRACE and 3DFACE.
struct Face {
  Vec3 corners[4];         // SOLID and TRACE: OCS; 3DFACE: world coordinates
  int invisibleEdges = 0;  // 3DFACE: bit k hides edge k
};

// Filled quadrilaterals, corners in the order 1 2 4 3.
struct Solid : Face {
  static constexpr const char* kName = "SOLID";
};
struct Trace : Face {
  static constexpr const char* kName = "TRACE";
};
// An outline of up to four edges.
struct Face3d : Face {
  static constexpr const char* kName = "3DFACE";
};

// TEXT, and a visible ATTDEF outside blocks.
struct Text {
  static constexpr const char* kName = "TEXT";
  std::string text;                 // UTF-8, %%-codes already replaced
  std::vector<TextLineSpan> lines;  // the stretches %%u, %%o and %%k marked in text
  Vec3 insertion;                   // OCS
  Vec3 alignment;                   // OCS, used unless both justifications are 0
  double height = 0.0;
  double rotation = 0.0;  // degrees
  double widthFactor = 1.0;
  double obliqueAngle = 0.0;
  std::int32_t style = -1;          // index into Drawing::textStyles
  int generationFlags = 0;          // 2 mirrored in x, 4 mirrored in y
  int horizontalJustification = 0;  // group 72: 0 left 1 centre 2 right 3 aligned 4 middle 5 fit
  int verticalJustification = 0;    // group 73/74: 0 baseline 1 bottom 2 middle 3 top
};

// ATTRIB: the text of an attribute of a block reference (Insert::attributes).
struct Attribute : Text {
  static constexpr const char* kName = "ATTRIB";
};

struct MText {
  static constexpr const char* kName = "MTEXT";
  std::string text;         // UTF-8 with the inline formatting codes as stored
  Vec3 insertion;           // world coordinates
  Vec3 direction{1, 0, 0};  // world x-axis direction of the text
  double height = 0.0;
  double referenceWidth = 0.0;  // 0: no wrapping
  int attachment = 1;           // 1 top left … 9 bottom right
  double lineSpacingFactor = 1.0;
  std::int32_t style = -1;
  // Columns the text flows through, side by side, each columnWidth wide (0: referenceWidth)
  // with columnGutter between them; a column breaks where it is full or at "\N". Types: 0 none,
  // 1 static (columnCount columns of columnHeight; the last takes the rest), 2 dynamic (as many
  // as the text needs: each columnHeight high when columnAutoHeight, else of the heights
  // columnHeights gives, the last of them repeating).
  int columnType = 0;
  int columnCount = 0;
  bool columnFlowReversed = false;  // the first column on the right
  bool columnAutoHeight = true;
  double columnWidth = 0.0;
  double columnGutter = 0.0;
  double columnHeight = 0.0;
  std::vector<double> columnHeights;
};

// Sets the column setting an MTEXT's column data names by group code (75 type, 76 count, 78
// flow reversed, 79 auto height, 48 width, 49 gutter), kept within its range; false for any
// other code. DXF groups and the extended data of DWG files use the same codes.
bool SetMTextColumnSetting(MText& mtext, int code, double value);

struct Insert {
  static constexpr const char* kName = "INSERT";
  std::int32_t block = -1;  // index into Drawing::blocks
  Vec3 insertion;           // OCS
  Vec3 scale{1, 1, 1};
  double rotation = 0.0;  // degrees
  int columns = 1, rows = 1;
  double columnSpacing = 0.0, rowSpacing = 0.0;
  std::vector<struct Entity> attributes;  // entities holding an Attribute
  // A spatial filter (XCLIP): the reference shows only what lies inside this polygon, given in
  // the block's own coordinates (the space its entities are drawn in); two points are the
  // corners of a rectangle; empty: not clipped.
  std::vector<Vec2> clipBoundary;
  // An inverted clip: the reference shows what lies outside the boundary instead.
  bool clipInverted = false;
};

// Entities drawn through an anonymous block that holds their graphics, placed unscaled.
struct BlockGraphic {
  std::int32_t block = -1;
  Vec3 insertion;  // OCS; tables, and dimensions of R12 and older files that were moved
};

struct Dimension : BlockGraphic {
  static constexpr const char* kName = "DIMENSION";
};
struct Table : BlockGraphic {
  static constexpr const char* kName = "ACAD_TABLE";
};

struct Leader {
  static constexpr const char* kName = "LEADER";
  std::vector<Vec3> vertices;  // world coordinates
  bool arrowhead = true;
  bool spline = false;
  double arrowSize = 0.18;  // from the dimension style, drawing units
};

// A straight line through base along direction, world coordinates.
struct ConstructionLine {
  Vec3 base, direction;
};

// Infinite both ways.
struct XLine : ConstructionLine {
  static constexpr const char* kName = "XLINE";
};
// From the base point on.
struct Ray : ConstructionLine {
  static constexpr const char* kName = "RAY";
};

struct HatchEdge {
  enum Kind { Line = 1, CircularArc = 2, EllipticArc = 3, SplineEdge = 4 } kind = Line;
  Vec2 start, end;                          // Line
  Vec2 center;                              // arcs
  double radius = 0.0;                      // CircularArc
  Vec2 majorAxis;                           // EllipticArc, relative to the centre
  double ratio = 1.0;                       // EllipticArc
  double startAngle = 0.0, endAngle = 0.0;  // degrees
  bool counterClockwise = true;
  Spline spline;  // SplineEdge, control points in OCS x/y
};

struct HatchPath {
  bool isPolyline = false;
  std::vector<PolylineVertex> vertices;  // polyline paths, OCS
  bool closed = true;
  std::vector<HatchEdge> edges;  // edge paths
  int flags = 0;                 // group 92
};

// One family of a hatch pattern: parallel lines through base + k · offset for every whole k,
// in the direction angle, each dashed by the dashes (positive dash, negative gap, zero dot;
// none: continuous). Stored as the drawing gives them: scaled and turned already, in OCS.
struct HatchPatternLine {
  double angle = 0.0;  // degrees
  Vec2 base;
  Vec2 offset;
  std::vector<double> dashes;
};

// How a gradient hatch blends its two colours over its area. The frame of the gradient is the
// hatch's OCS turned by angle; "along" is its x axis, "across" its y axis, and the blend spans
// the box of the boundary in that frame.
struct HatchGradient {
  enum Kind {
    Linear,            // colour 1 at the start of "along", colour 2 at its end
    Cylinder,          // colour 2 down the middle of "along", colour 1 at both sides
    InvCylinder,       // the reverse
    Spherical,         // colour 2 at the centre, colour 1 towards the corners
    InvSpherical,      // the reverse
    Hemispherical,     // colour 2 at the middle of the lower side "across", rising to colour 1
    InvHemispherical,  // the reverse
    Curved,            // colour 2 along the lower side "across", bending to colour 1
    InvCurved,         // the reverse
  };
  Kind kind = Linear;
  double angle = 0.0;  // radians (group 460)
  // 0 centred; 1 shifted up and to the left in the gradient's frame (group 461).
  double shift = 0.0;
  // One colour: colour 2 is colour 1 at the lightness of tint (0 black … 1 white, group 462),
  // whatever the file stores as colour 2.
  bool oneColor = false;
  double tint = 1.0;
  Color colors[2] = {Color{5, false, 0}, Color{2, false, 0}};
};

struct Hatch {
  static constexpr const char* kName = "HATCH";
  bool solid = false;
  std::string pattern;
  double elevation = 0.0;
  std::vector<HatchPath> paths;  // OCS
  bool gradient = false;         // filled by gradientFill rather than solid or by its pattern
  HatchGradient gradientFill;
  std::vector<HatchPatternLine> patternLines;
};

// IMAGE: a picture on the plane spanned by u and v from the insertion point.
struct Image {
  static constexpr const char* kName = "IMAGE";
  Vec3 insertion;              // world coordinates of the lower-left corner of the lower-left pixel
  Vec3 u, v;                   // one pixel along x and along y
  Vec2 pixelSize;              // width and height in pixels
  std::int32_t imageDef = -1;  // index into Drawing::imageDefs; -1: no pixels (a frame)
  bool clipping = false;
  std::vector<Vec2> clipBoundary;  // pixel coordinates; 2 points = rectangle
  // Inverted clip: the picture shows outside the boundary instead of inside it.
  bool clipInverted = false;
  bool show = true;
  // Bitonal pictures draw only their set pixels; those with an alpha channel keep it.
  bool transparent = false;
  // Brightness, contrast and fade, 0 to 100 (50, 50 and 0 leave the pixels as they are).
  int brightness = 50, contrast = 50, fade = 0;
};

// WIPEOUT: an area that hides what lies under it, placed like an image without pixels.
struct Wipeout : Image {
  static constexpr const char* kName = "WIPEOUT";
};

struct Viewport {
  static constexpr const char* kName = "VIEWPORT";
  Vec3 center;  // paper space
  double width = 0.0, height = 0.0;
  int id = 0;  // 1 is the layout's overall viewport
  bool on = true;
  Vec2 viewCenter;  // model space, in the view's coordinates
  Vec3 viewTarget;
  Vec3 viewDirection{0, 0, 1};
  double viewHeight = 0.0;                 // model units shown over height
  double twist = 0.0;                      // degrees
  std::vector<std::int32_t> frozenLayers;  // indices into Drawing::layers
  std::int32_t clipEntityIndex = -1;       // an entity of the same block giving a clip boundary
};

// MULTILEADER: leader lines gathered in branches, each ending at a landing point from which an
// optional dogleg runs towards the content, which is an MTEXT or a block reference.
// A part kept on the heap with the value semantics of the part itself: copying copies it. A
// rare kind keeps its bulk in boxes so that every entity of a drawing stays small (an entity is
// as large as its largest kind). A box that was moved from holds nothing until assigned.
template <class T>
class Boxed {
 public:
  Boxed() : part(std::make_unique<T>()) {}
  Boxed(const Boxed& other) : part(other.part ? std::make_unique<T>(*other.part) : nullptr) {}
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(const Boxed& other) {
    if (this != &other) part = other.part ? std::make_unique<T>(*other.part) : nullptr;
    return *this;
  }
  Boxed& operator=(Boxed&&) noexcept = default;
  T& operator*() { return *part; }
  const T& operator*() const { return *part; }
  T* operator->() { return part.get(); }
  const T* operator->() const { return part.get(); }

 private:
  std::unique_ptr<T> part;
};

struct MLeaderLine {
  // World coordinates from the arrowhead's tip to the landing point of the branch.
  std::vector<Vec3> vertices;
  // What the line sets apart from the multileader's other leader lines, each when its own flag
  // is on (ByBlock values take the multileader's own).
  bool ownColor = false;
  Color color{Color::kByBlock, false, 0};
  bool ownLinetype = false;
  std::int32_t linetype = kLinetypeByBlock;
  bool ownLineweight = false;
  std::int16_t lineweight = kLineweightByBlock;
};

struct MLeaderBranch {
  std::vector<MLeaderLine> lines;
  Vec3 landing;                   // world coordinates
  Vec3 doglegDirection{1, 0, 0};  // from the landing point towards the content
  double doglegLength = 0.0;      // 0: no dogleg
};

struct MLeader {
  static constexpr const char* kName = "MULTILEADER";
  std::vector<MLeaderBranch> branches;
  // 0 no leader lines; 1 straight; 2 splines, each through its line's vertices and on to where
  // the dogleg would end (splines have no dogleg of their own).
  int leaderType = 1;
  Color lineColor{Color::kByBlock, false, 0};
  std::int32_t lineLinetype = kLinetypeByBlock;  // of the leader lines; ByBlock: the entity's
  std::int16_t lineLineweight = kLineweightByBlock;
  double arrowSize = 0.18;       // drawing units, scale applied
  std::int32_t arrowBlock = -1;  // index into Drawing::blocks; -1 the closed filled arrowhead
  // The content: text, a block, or neither.
  bool hasText = false;
  Boxed<MText> text;  // world coordinates
  Color textColor{Color::kByBlock, false, 0};
  bool textFrame = false;   // a rectangle around the text, landingGap away from it
  double landingGap = 0.0;  // between the text and the end of a branch (dogleg or landing)
  // How the text sits at the end of a branch on its left and on its right: 5, 6 and 8 draw a
  // line under the text from the branch's end (as far as the text and the gap reach); other
  // values draw none. Texts attached at their top or bottom side (verticalAttachment) have none.
  int textLeftAttachment = 1, textRightAttachment = 1;
  bool verticalAttachment = false;
  bool hasBlock = false;
  Boxed<Insert> block;  // world coordinates, in the plane of blockNormal
  Vec3 blockNormal{0, 0, 1};
  Color blockColor{Color::kByBlock, false, 0};
};

// MLINE: parallel lines along the vertices, one per element of its style. Each vertex gives,
// per element, the distance along its miter from the vertex to that element's line (scale and
// justification applied already).
struct MLineVertex {
  Vec3 position;                // world coordinates
  Vec3 miter;                   // unit vector
  std::vector<double> offsets;  // one per element
  // Per element (as many as offsets, or none when no element is cut), where it is drawn on
  // the segment from this vertex: distances along the segment from the element's point on the
  // miter, a start and a stop in turn (breaks lie between a stop and the next start); a last
  // start without a stop runs to the segment's end. Empty: the whole segment.
  std::vector<std::vector<double>> breaks;
};

struct MLine {
  static constexpr const char* kName = "MLINE";
  std::vector<MLineVertex> vertices;
  bool closed = false;
  bool suppressStartCaps = false, suppressEndCaps = false;
  std::int32_t style = -1;  // index into Drawing::mlineStyles; -1 unknown (elements draw plainly)
};

struct MLineStyleElement {
  double offset = 0.0;
  Color color;
  std::int32_t linetype = kLinetypeByLayer;
};

struct MLineStyle {
  std::string name;
  // 1 filled; caps at the start: 16 a line, 32 arcs joining inner elements in pairs, 64 an
  // arc joining the outermost elements; at the end the same times 16 (256, 512, 1024).
  int flags = 0;
  Color fillColor;
  std::vector<MLineStyleElement> elements;
};

// MESH: a subdivision mesh drawn by its control mesh (level 0).
struct Mesh {
  static constexpr const char* kName = "MESH";
  std::vector<Vec3> vertices;              // world coordinates
  std::vector<std::vector<int>> faces;     // 0-based vertex indices
  std::vector<std::pair<int, int>> edges;  // 0-based; drawn when there are no faces
};

// TOLERANCE: a feature control frame. The text as stored: rows split by "^J", cells by "%%v",
// symbols in "{\Fgdt;x}" groups.
struct Tolerance {
  static constexpr const char* kName = "TOLERANCE";
  std::string text;
  Vec3 insertion;           // world coordinates, the middle of the first row's left edge
  Vec3 direction{1, 0, 0};  // world x-axis direction of the frame
  double height = 0.18;     // text height (dimension style, scale applied)
  double gap = 0.09;        // space between the text and the frame
  std::int32_t style = -1;  // index into Drawing::textStyles
};

// PDFUNDERLAY, DWFUNDERLAY and DGNUNDERLAY: a reference to a page of another file. Its content
// is not drawn; its frame is: the clip boundary, or the unit square, in the underlay's
// coordinates.
struct Underlay {
  static constexpr const char* kName = "UNDERLAY";
  std::string format;    // "PDF", "DWF" or "DGN"
  std::string fileName;  // of its definition; empty when unknown
  Vec3 insertion;        // world coordinates
  Vec3 scale{1, 1, 1};
  double rotation = 0.0;           // degrees, about the extrusion
  std::vector<Vec2> clipBoundary;  // 2 points: a rectangle; more: a polygon
};

// Entities drawn only inside a polygon (DWF sheets clip their graphics to the paper's printable
// area and to viewports): what lies outside the boundary is not seen. The boundary is in the
// coordinates of the block that holds the group, closed (the last point need not repeat the
// first); fewer than three points clip nothing. Groups may nest: the clips then intersect.
struct ClippedGroup {
  static constexpr const char* kName = "CLIPPED_GROUP";
  std::vector<Vec2> boundary;
  std::vector<struct Entity> entities;
};

// What an entity is follows from its data alone: there is no second tag that could disagree.
using EntityData =
    std::variant<Line, Point, Circle, Arc, Ellipse, Polyline, Spline, Solid, Trace, Face3d, Text,
                 Attribute, MText, Insert, Dimension, Table, Leader, XLine, Ray, Hatch, Image,
                 Wipeout, Viewport, ClippedGroup, MLeader, MLine, Mesh, Tolerance, Underlay>;

inline constexpr std::int32_t kPlotStyleByLayer = -1;

struct Entity {
  std::int32_t layer = 0;  // index into Drawing::layers
  std::int32_t linetype = kLinetypeByLayer;
  Color color;
  std::int16_t lineweight = kLineweightByLayer;
  double linetypeScale = 1.0;
  Vec3 extrusion{0, 0, 1};
  double thickness = 0.0;
  bool invisible = false;
  // The named plot style: an index into Drawing::plotStyleNames, or kPlotStyleByLayer.
  std::int32_t plotStyle = kPlotStyleByLayer;
  EntityData data;

  template <class Kind>
  bool Is() const {
    return std::holds_alternative<Kind>(data);
  }
  // The name of the entity's kind ("LINE", "3DFACE" …).
  const char* KindName() const {
    return std::visit([](const auto& kind) { return std::decay_t<decltype(kind)>::kName; }, data);
  }
};

// A block definition: model space, a paper layout's sheet, or an insertable block.
struct Block {
  std::string name;
  Vec3 base;
  bool isXref = false;
  bool isAnonymous = false;
  std::vector<Entity> entities;
};

// A layout (model space or a paper sheet) with its plot settings.
struct Layout {
  std::string name;
  int tabOrder = 0;
  std::int32_t block = -1;  // index into Drawing::blocks
  bool isModel = false;
  // Plot settings (PLOTSETTINGS part of the LAYOUT object); millimetres unless said.
  double paperWidth = 0.0, paperHeight = 0.0;                                       // groups 44, 45
  double marginLeft = 0.0, marginBottom = 0.0, marginRight = 0.0, marginTop = 0.0;  // 40-43
  int paperUnits = 1;  // group 72: 0 inches, 1 millimetres, 2 pixels
  int rotation = 0;    // group 73: 0, 1 (90° counter-clockwise), 2 (180°), 3 (90° clockwise)
  int plotType = 5;    // group 74: 0 display 1 extents 2 limits 3 view 4 window 5 layout
  Vec2 windowMin, windowMax;    // groups 48/49, 140/141, paper units of the layout
  Vec2 limitsMin, limitsMax;    // groups 10/20, 11/21 of the layout part, paper space
  Vec3 extentsMin, extentsMax;  // groups 14/24/34, 15/25/35
  double scaleNumerator = 1.0, scaleDenominator = 1.0;  // groups 142, 143
  std::string plotStyleTable;  // group 7: the page set-up's plot style table ("mono.ctb")
};

struct ImageDef {
  std::string fileName;  // as stored: absolute, relative or a bare name
  Vec2 pixelSize;
  // Pixels the drawing carries itself (DWF), used instead of a file when either is set: an
  // encoded picture (PNG, JPEG, TIFF or BMP, known by its bytes) ...
  std::string embedded;
  // ... or plain pixels: red, green, blue and alpha bytes, rows from the top, exactly
  // pixelSize.x × pixelSize.y of them.
  std::vector<std::uint8_t> rgba;
};

struct Drawing {
  Header header;
  std::vector<Layer> layers;  // layer 0 is always present at index 0
  std::vector<Linetype> linetypes;
  std::vector<TextStyle> textStyles;  // "Standard" always present
  std::vector<Block> blocks;          // *Model_Space and *Paper_Space always present
  std::vector<Layout> layouts;        // model first, then paper layouts in tab order
  std::vector<ImageDef> imageDefs;
  // The names of the plot styles layers and entities name (drawings in named plot style mode).
  std::vector<std::string> plotStyleNames;
  std::vector<MLineStyle> mlineStyles;
  ModelView activeView;
  std::int32_t activeLayout = 0;  // index into layouts
  // Entity types read but not drawn, with their counts, for the log ("skipped 12 MLEADER").
  std::vector<std::pair<std::string, int>> skippedTypes;
  // A drawing made of sheets only (DWF): its model space is there because every drawing has one,
  // holds nothing, and is no page of its own.
  bool sheetsOnly = false;
};

// The block an Insert, Dimension or Table draws (an index into Drawing::blocks, or -1); null
// for other kinds.
const std::int32_t* ReferencedBlock(const Entity& entity);
std::int32_t* ReferencedBlock(Entity& entity);

// The index in paper.entities of the viewport that stands for the sheet itself (a layout's
// overall viewport, which shows paper space and draws nothing of its own): the one with id 1;
// else the first viewport when it has no id of its own (0 or -1, as DWG files and some writers
// store it); -1 when there is none.
std::int32_t SheetViewportIndex(const Block& paper);

// Keeps where the element just given an offset (the last of vertex.offsets) is drawn on its
// segment: the parameters after its offset, as the file lists them. An element drawn whole
// (no parameters, or one of 0) leaves vertex.breaks empty until an element of the vertex is cut.
void StoreMLineBreaks(MLineVertex& vertex, std::vector<double> parameters);

// The kind of a gradient by its name in the drawing ("LINEAR", "CYLINDER", "INVSPHERICAL" …,
// without regard to case); Linear for a name it does not know.
HatchGradient::Kind GradientKindByName(std::string_view name);

// One entry of a block's draw order table (SORTENTSTABLE): the entity of handle `entity` is drawn
// where an entity of handle `sortKey` would be.
struct DrawOrderEntry {
  std::uint64_t entity = 0;
  std::uint64_t sortKey = 0;
};

// Puts a block's entities into the order its draw order table gives: by sort key ascending,
// where an entity's sort key is its table entry's or, without one, its own handle. handles[k] is
// the handle of block.entities[k]; an entity without a handle (0) stays right after the one
// before it, and entities of equal keys keep their order. Viewports' clip entity indices follow
// their entities. Nothing changes when handles does not match the entities or table is empty.
void ApplyDrawOrder(Block& block, const std::vector<std::uint64_t>& handles,
                    const std::vector<DrawOrderEntry>& table);

// The part of reading that is the same for every format, run once a reader has filled the
// model. It gives the drawing what every drawing has (layer "0" first, the text style
// "Standard", the blocks of model space and paper space); orders the layouts (model space first,
// then the paper layouts by tab order; a drawing without layouts gets model space, and a paper
// layout when paper space holds entities) and picks the active one from $TILEMODE; places tables
// drawn in world coordinates; and brings every index the renderer follows into range (what a
// reader could not resolve falls back to layer 0, ByLayer, "Standard" or no block). After it,
// CheckModel finds nothing. Gives the number of references it had to bring into range: a reader
// that resolves everything itself leaves 0 (its tests and fuzzing check that).
//
// What a reader hands over: layouts in any order with their blocks resolved (-1 when unknown;
// model space recognised by isModel, block 0 or the name "Model").
int FinishModel(Drawing& drawing);

// The promises the renderer relies on that the drawing breaks, one line each; empty when it
// keeps them all. For tests and fuzzing: every reader's output passes it after FinishModel.
std::vector<std::string> CheckModel(const Drawing& drawing);

}  // namespace drawing
