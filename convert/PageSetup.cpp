#include "convert/PageSetup.h"

#include "convert/ConvertSettings.h"
#include "render/Drawing.h"

namespace {

// value × factor in whole points, truncated toward zero (297 mm is 841.9 points and gives 841,
// not 842). Values beyond an integer (a mistyped store) are clamped rather than left undefined.
std::int32_t TruncatedPoints(double value, double factor) {
  const double p = value * factor;
  if (p != p) return 0;
  if (p <= -2147483648.0) return INT32_MIN;
  if (p >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(p);
}

}  // namespace

PageSetup ComputePageSetup(const CConvertSettings& settings) {
  const double f = settings.Units == PaperUnit::Inch ? kPointsPerInch : kPointsPerMillimetre;
  return {TruncatedPoints(settings.PdfWidth, f), TruncatedPoints(settings.PdfHeight, f),
          TruncatedPoints(settings.Margin, f)};
}

const char* PageSetupProblem(const PageSetup& page, std::int32_t quality) {
  if (!IsPageSetupValid(page)) {
    return "Parameter error! The width or height of PDF must be greater than 0.";
  }
  if (page.width > kLargestPage || page.height > kLargestPage) {
    return "Parameter error! The width and height of PDF can be at most 14400 points "
           "(200 inches, 5080 mm).";
  }
  // In 64 bits: a margin read from a hand-edited store may be near the integer limit.
  const std::int64_t room = 2 * static_cast<std::int64_t>(page.margin);
  if (page.margin < 0 || room >= page.width || room >= page.height) {
    return "Parameter error! The margin leaves no room for the drawing.";
  }
  if (quality > kFinestResolution) {
    return "Parameter error! The resolution can be at most 2400 dots per inch.";
  }
  return nullptr;
}

void LayoutPageSize(CDrawing& drawing, int layoutIndex, bool useLayoutPageSet,
                    const PageSetup& runPage, std::int32_t* width, std::int32_t* height,
                    bool* adjusted) {
  *width = runPage.width;
  *height = runPage.height;
  *adjusted = false;
  if (layoutIndex < 1 || !useLayoutPageSet) return;
  double w = 0.0, h = 0.0;
  drawing.GetPaperSize(&w, &h);
  // The library's paper is taken as it is, not tested for being positive.
  *width = TruncatedPoints(w, kPointsPerInch);
  *height = TruncatedPoints(h, kPointsPerInch);
  *adjusted = true;
}

void ScaledLayoutWindow(double x1, double x2, double y1, double y2, double scale, double p1[3],
                        double p2[3]) {
  const double cx = x1 + (x2 - x1) * 0.5, hx = (x2 - x1) * 0.5;
  const double cy = y1 + (y2 - y1) * 0.5, hy = (y2 - y1) * 0.5;
  p1[0] = cx - hx / scale;
  p1[1] = cy - hy / scale;
  p1[2] = 0.0;
  p2[0] = cx + hx / scale;
  p2[1] = cy + hy / scale;
  p2[2] = 0.0;
}

void SetUpView(CDrawing& drawing, const CConvertSettings& settings, int layoutIndex,
               bool singleLayout, std::int32_t width, std::int32_t height) {
  const bool modelSpace = layoutIndex < 1;
  if (settings.Area == AreaChoice::Extents ||
      (settings.Area == AreaChoice::LayoutArea && modelSpace)) {
    drawing.ZoomExtents(0, 0, settings.Scale);
    return;
  }
  if (settings.Area != AreaChoice::LayoutArea) return;  // the view saved in the drawing
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  drawing.GetLayoutArea(&x1, &x2, &y1, &y2);
  double p1[3] = {x1, y1, 0.0};
  double p2[3] = {x2, y2, 0.0};
  if (singleLayout) ScaledLayoutWindow(x1, x2, y1, y2, settings.Scale, p1, p2);
  drawing.ZoomWindow(p1, p2, static_cast<double>(width), static_cast<double>(height));
}
