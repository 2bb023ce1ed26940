#include "drawing/ModelDrawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

#include "drawing/ExtentsSink.h"
#include "drawing/ImageFile.h"
#include "drawing/ReadDrawing.h"
#include "drawing/Renderer.h"
#include "platform/ColorPalette.h"
#include "render/DwgExport.h"

namespace drawing {

namespace {

constexpr double kMillimetre = 72.0 / 25.4;

// The map that puts the window (lo … hi, in the plane's coordinates) into the middle of an
// area of width × height points at the largest scale that shows all of it, times factor.
Affine3 Fit(Vec2 lo, Vec2 hi, double width, double height, double factor) {
  const double w = hi.x - lo.x, h = hi.y - lo.y;
  double scale = 1.0;
  if (w > 0 && h > 0) {
    scale = std::min(width / w, height / h);
  } else if (w > 0) {
    scale = width / w;
  } else if (h > 0) {
    scale = height / h;
  }
  if (!std::isfinite(scale) || scale <= 0) scale = 1.0;
  if (std::isfinite(factor) && factor > 0) scale *= factor;
  const double cx = (lo.x + hi.x) / 2, cy = (lo.y + hi.y) / 2;
  return Affine3::Translate({width / 2, height / 2, 0}) * Affine3::Scale(scale, scale, scale) *
         Affine3::Translate({-cx, -cy, 0});
}

// A bitmap of plain pixels (red, green, blue, alpha; rows from the top), with alpha over white;
// null when the pixels do not match the size or the size is no bitmap.
std::unique_ptr<CDib> PlainPixels(const ImageDef& definition) {
  const double width = definition.pixelSize.x, height = definition.pixelSize.y;
  if (!(width >= 1 && height >= 1 && width <= 65535 && height <= 65535)) return nullptr;
  const auto columns = static_cast<std::int32_t>(width), rows = static_cast<std::int32_t>(height);
  if (definition.rgba.size() != static_cast<std::size_t>(columns) * rows * 4) return nullptr;
  auto dib = CDib::Create(columns, rows, 24);
  if (!dib) return nullptr;
  const auto over = [](unsigned color, unsigned alpha) {
    return static_cast<std::uint8_t>((color * alpha + 255 * (255 - alpha) + 127) / 255);
  };
  for (std::int32_t y = 0; y < rows; ++y) {
    // The bitmap's first stored row is its bottom row.
    const std::uint8_t* in = &definition.rgba[static_cast<std::size_t>(rows - 1 - y) * columns * 4];
    for (std::int32_t x = 0; x < columns; ++x, in += 4) {
      dib->SetPixelRgb(x, y, over(in[0], in[3]), over(in[1], in[3]), over(in[2], in[3]));
    }
  }
  return dib;
}

}  // namespace

void CModelDrawing::SetSearchDirectories(const char* directories) {
  searchFolders.clear();
  const std::string_view text = directories ? directories : "";
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) searchFolders.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

int CModelDrawing::OpenFile(const char* path, int) {
  fileName = path ? path : "";
  model = Drawing{};
  images.clear();
  loaded = false;
  lastError.clear();
  if (fileName.empty()) {
    lastError = "no file name";
    return 1;
  }
  warnings.clear();
  if (!ReadDrawingFile(fileName, model, &lastError)) return 1;
  loaded = true;
  // What was read around, and what the model holds but the renderer does not draw.
  if (!lastError.empty()) warnings.push_back(lastError);
  if (!model.skippedTypes.empty()) {
    std::string kinds;
    for (const auto& [kind, count] : model.skippedTypes) {
      kinds += (kinds.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
    }
    warnings.push_back("entities of kinds not drawn: " + kinds);
  }
  // External references are drawings of their own, which this one does not read in.
  for (const Block& block : model.blocks) {
    if (block.isXref && block.entities.empty()) {
      warnings.push_back("the external reference \"" + block.name + "\" is not drawn");
    }
  }
  text.SetSearchDirectories(searchFolders);
  if (restricted) text.RestrictFilesTo(AllowedFolders());
  text.ForgetFontData();
  for (const TextStyle& style : model.textStyles) {
    if (!style.embeddedFont.empty()) text.AddFontData(style.fontFile, style.embeddedFont);
  }
  active = std::clamp(model.activeLayout, 0, static_cast<int>(model.layouts.size()) - 1);
  view = View{};
  return 0;
}

std::string CModelDrawing::GetFileName() {
  return fileName;
}

std::vector<std::string> CModelDrawing::TakeWarnings() {
  std::vector<std::string> taken;
  taken.swap(warnings);
  return taken;
}

void CModelDrawing::SetOutputSize(int width, int height) {
  outputWidth = width;
  outputHeight = height;
}

void CModelDrawing::ZoomExtents(int, int, double factor) {
  view = View{};
  view.mode = View::Extents;
  view.factor = factor;
}

void CModelDrawing::ZoomWindow(const double* p1, const double* p2, double, double) {
  view = View{};
  if (!p1 || !p2) return;
  view.mode = View::Window;
  view.lo = {std::min(p1[0], p2[0]), std::min(p1[1], p2[1])};
  view.hi = {std::max(p1[0], p2[0]), std::max(p1[1], p2[1])};
}

int CModelDrawing::GetLayoutCount() {
  return loaded ? static_cast<int>(model.layouts.size()) : 0;
}

int CModelDrawing::GetActiveLayout() {
  return loaded ? active : 0;
}

std::string CModelDrawing::GetLayoutName(int index) {
  if (!loaded || index < 0 || index >= GetLayoutCount()) return {};
  return model.layouts[index].name;
}

void CModelDrawing::SetActiveLayout(int index) {
  if (!loaded || index < 0 || index >= GetLayoutCount()) return;
  active = index;
  view = View{};
}

bool CModelDrawing::IsLayoutSkipped(int index) {
  if (!loaded || index < 0 || index >= GetLayoutCount()) return true;
  const Layout& layout = model.layouts[index];
  // A drawing of sheets has a model space only because every drawing has one.
  if (layout.isModel) return model.sheetsOnly && model.blocks[0].entities.empty();
  if (layout.block < 0 || layout.block >= static_cast<std::int32_t>(model.blocks.size()))
    return true;
  // A sheet with nothing but viewports that show nothing (its own overall viewport, switched
  // off or empty ones) would be a blank page.
  const Block& paper = model.blocks[layout.block];
  const std::int32_t sheet = SheetViewportIndex(paper);
  for (std::size_t i = 0; i < paper.entities.size(); ++i) {
    const auto* found = std::get_if<Viewport>(&paper.entities[i].data);
    if (!found) return false;
    const Viewport& viewport = *found;
    if (static_cast<std::int32_t>(i) != sheet && viewport.on && viewport.width > 0 &&
        viewport.height > 0 && viewport.viewHeight > 0) {
      return false;
    }
  }
  // The user asked for this layout: say why it gives no page.
  Warn("the layout \"" + layout.name + "\" is empty and gives no page");
  return true;
}

CModelDrawing::Sheet CModelDrawing::SheetOf(int index) const {
  Sheet sheet;
  const Layout& layout = model.layouts[index];
  double width = layout.paperWidth, height = layout.paperHeight;  // millimetres
  double left = layout.marginLeft, bottom = layout.marginBottom;
  if (layout.rotation == 1 || layout.rotation == 3) {
    std::swap(width, height);
    std::swap(left, bottom);
  }
  if (width > 0 && height > 0) {
    // Paper space units are millimetres or inches, as the layout's paper is set up.
    const double unit = layout.paperUnits == 0 ? 25.4 : 1.0;
    sheet.lo = {-left / unit, -bottom / unit};
    sheet.hi = {(width - left) / unit, (height - bottom) / unit};
    sheet.pointsPerUnit = layout.paperUnits == 0 ? 72.0 : kMillimetre;
    sheet.widthInches = width / 25.4;
    sheet.heightInches = height / 25.4;
    return sheet;
  }
  // No plot settings (drawings without layouts): the limits, in the drawing's units.
  Vec2 lo = layout.isModel ? model.header.limMin : model.header.pLimMin;
  Vec2 hi = layout.isModel ? model.header.limMax : model.header.pLimMax;
  if (layout.limitsMax.x > layout.limitsMin.x && layout.limitsMax.y > layout.limitsMin.y) {
    lo = layout.limitsMin;
    hi = layout.limitsMax;
  }
  const bool metric =
      model.header.insUnits == 4 || model.header.insUnits == 5 || model.header.insUnits == 6;
  sheet.lo = lo;
  sheet.hi = hi;
  sheet.pointsPerUnit = metric ? kMillimetre : 72.0;
  sheet.widthInches = (hi.x - lo.x) * sheet.pointsPerUnit / 72.0;
  sheet.heightInches = (hi.y - lo.y) * sheet.pointsPerUnit / 72.0;
  return sheet;
}

void CModelDrawing::GetPaperSize(double* width, double* height) {
  double w = 0, h = 0;
  if (loaded) {
    const Sheet sheet = SheetOf(active);
    w = sheet.widthInches;
    h = sheet.heightInches;
  }
  if (width) *width = w;
  if (height) *height = h;
}

void CModelDrawing::GetLayoutArea(double* x1, double* x2, double* y1, double* y2) {
  Sheet sheet;
  if (loaded) sheet = SheetOf(active);
  if (x1) *x1 = sheet.lo.x;
  if (x2) *x2 = sheet.hi.x;
  if (y1) *y1 = sheet.lo.y;
  if (y2) *y2 = sheet.hi.y;
}

Affine3 CModelDrawing::Plane() const {
  const Layout& layout = model.layouts[active];
  const ModelView& saved = model.activeView;
  if (layout.isModel && saved.valid) {
    return WorldToView(saved.direction, saved.target, saved.twist * std::numbers::pi / 180);
  }
  return Affine3{};
}

bool CModelDrawing::Extents(const Affine3& plane, Vec2* lo, Vec2* hi) {
  CExtentsSink extents;
  CRenderer measure(model, text, extents);
  measure.SetStopFlag(stop);
  measure.SetSkipInfinite(true);
  measure.SetMeasuring(true);
  measure.SetTolerance(1e-3 * std::max(1.0, plane.ScaleFactor()));
  measure.DrawLayout(active, plane, 0, 0);
  if (extents.Empty()) {
    // Construction lines alone: the extents around their base points.
    measure.SetSkipInfinite(true, true);
    measure.DrawLayout(active, plane, 0, 0);
  }
  if (measure.BudgetSpent()) {
    // What was left out is not in the extents either: the page may not show all of it.
    Warn("the drawing is too large to measure whole: the page is fitted to the part measured");
  }
  if (extents.Empty()) return false;
  *lo = extents.min;
  *hi = extents.max;
  return true;
}

Affine3 CModelDrawing::PageMap() {
  const double width = outputWidth, height = outputHeight;
  const Affine3 plane = Plane();
  const Layout& layout = model.layouts[active];
  Vec2 lo, hi;
  switch (view.mode) {
    case View::Window:
      return Fit(view.lo, view.hi, width, height, 1.0) * plane;
    case View::Extents:
      if (Extents(plane, &lo, &hi)) return Fit(lo, hi, width, height, view.factor) * plane;
      break;
    case View::Default:
      if (layout.isModel && model.activeView.valid && model.activeView.height > 0) {
        const ModelView& saved = model.activeView;
        const double halfWidth = saved.height * std::max(saved.aspectRatio, 1e-6) / 2;
        const Vec2 center = saved.center;
        return Fit({center.x - halfWidth, center.y - saved.height / 2},
                   {center.x + halfWidth, center.y + saved.height / 2}, width, height, 1.0) *
               plane;
      }
      if (!layout.isModel) {
        // The sheet at its real size from the lower-left corner of the output.
        const Sheet sheet = SheetOf(active);
        const double k = sheet.pointsPerUnit;
        return Affine3::Scale(k, k, k) * Affine3::Translate({-sheet.lo.x, -sheet.lo.y, 0});
      }
      if (Extents(plane, &lo, &hi)) return Fit(lo, hi, width, height, 1.0) * plane;
      break;
  }
  // Nothing measurable: the header's limits.
  const Sheet sheet = SheetOf(active);
  return Fit(sheet.lo, sheet.hi, width, height, 1.0) * plane;
}

void CModelDrawing::Draw(int, int, int) {
  if (!loaded || !sink || outputWidth <= 0 || outputHeight <= 0) return;
  CRenderer renderer(model, text, *sink);
  renderer.SetStopFlag(stop);
  renderer.SetImageSource([this](std::int32_t imageDef) { return ImagePixels(imageDef); });
  renderer.SetNamedPlotStyles(namedStyles.get());
  renderer.DrawLayout(active, PageMap(), outputWidth, outputHeight);
  std::vector<std::string> found = renderer.Warnings();
  for (std::string& standIn : text.StandIns()) found.push_back(std::move(standIn));
  for (std::string& warning : found) Warn(std::move(warning));
}

void CModelDrawing::Warn(std::string warning) {
  if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) {
    warnings.push_back(std::move(warning));
  }
}

std::vector<std::string> CModelDrawing::AllowedFolders() const {
  std::vector<std::string> allowed{DrawingFolder()};
  allowed.insert(allowed.end(), searchFolders.begin(), searchFolders.end());
  return allowed;
}

std::string CModelDrawing::DrawingFolder() const {
  const std::size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? "." : fileName.substr(0, slash);
}

const CDib* CModelDrawing::ImagePixels(std::int32_t imageDef) {
  if (imageDef < 0 || imageDef >= static_cast<std::int32_t>(model.imageDefs.size())) return nullptr;
  auto found = images.find(imageDef);
  const ImageDef& definition = model.imageDefs[imageDef];
  if (found == images.end() && (!definition.embedded.empty() || !definition.rgba.empty())) {
    // Pixels the drawing carries: nothing to look for and nothing outside its folder to read.
    std::unique_ptr<CDib> pixels =
        definition.rgba.empty() ? LoadImageData(definition.embedded) : PlainPixels(definition);
    if (!pixels)
      warnings.push_back("a picture the drawing carries cannot be read; its frame is drawn");
    found = images.emplace(imageDef, std::move(pixels)).first;
  }
  if (found == images.end()) {
    const std::string& name = definition.fileName;
    std::string path = FindImageFile(name, DrawingFolder(), searchFolders);
    if (path.empty()) {
      warnings.push_back("the image \"" + name + "\" is not found; its frame is drawn");
    } else if (restricted && !LiesInsideFolders(path, AllowedFolders())) {
      warnings.push_back("the image \"" + name +
                         "\" lies outside the drawing's folder and the search folders; it is "
                         "not read");
      path.clear();
    }
    // Pictures with transparent pixels keep them: the page shows what lies under them.
    found = images.emplace(imageDef, path.empty() ? nullptr : LoadImageFile(path, 40'000'000, true))
                .first;
  }
  return found->second.get();
}

std::string CModelDrawing::GetLayoutPlotStyleTable(int index) {
  if (!loaded || index < 0 || index >= GetLayoutCount()) return {};
  return model.layouts[index].plotStyleTable;
}

bool CModelDrawing::LoadPlotStyleTable(const char* path) {
  plotStyles.reset();
  plotStyleError.clear();
  lastError.clear();
  auto table = std::make_unique<PlotStyleTable>();
  if (!path || !ReadPlotStyleTable(path, table.get(), &plotStyleError)) {
    lastError = plotStyleError;
    return false;
  }
  plotStyles = std::move(table);
  return true;
}

bool CModelDrawing::LoadNamedPlotStyleTable(const char* path) {
  namedStyles.reset();
  plotStyleError.clear();
  lastError.clear();
  auto table = std::make_unique<NamedPlotStyleTable>();
  if (!path || !ReadNamedPlotStyleTable(path, table.get(), &plotStyleError)) {
    lastError = plotStyleError;
    return false;
  }
  namedStyles = std::move(table);
  return true;
}

void CModelDrawing::GetPlotStyleEntry(int index, short* colorIndex, int* rgb, double* widthMm) {
  // Without a table, and for a pen that keeps the object's colour, the entry is the index's
  // own colour; an index outside the palette has no pen at all.
  short pen = -1;
  std::uint32_t color = ColorRgb(index);
  double width = 0;
  if (plotStyles && index >= 0 && index <= 255) {
    const PlotStylePen& style = plotStyles->pens[index];
    if (style.objectColor) {
      pen = static_cast<short>(index);
    } else {
      color = style.rgb;
    }
    width = style.widthMm;
  }
  if (colorIndex) *colorIndex = pen;
  if (rgb) *rgb = static_cast<int>(color);
  if (widthMm) *widthMm = width;
}

}  // namespace drawing
