#pragma once

#include <cstdint>

class CConvertSettings;
class CDrawing;

// The run-wide page: width, height and margin (on all four sides) in whole PDF points.
struct PageSetup {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t margin = 0;
};

inline constexpr double kPointsPerInch = 72.0;
inline constexpr double kPointsPerMillimetre = 72.0 / 25.4;

// The settings' page in points, each value truncated toward zero (297 × 210 mm is 841 × 595).
PageSetup ComputePageSetup(const CConvertSettings& settings);
// A run is refused unless the page is at least one point wide and high; the margin is not
// tested.
inline bool IsPageSetupValid(const PageSetup& page) {
  return page.width > 0 && page.height > 0;
}

// The largest page side a PDF file can hold, in points (200 inches, 5080 mm).
inline constexpr std::int32_t kLargestPage = 14400;
// The finest resolution a run takes, in dots per inch.
inline constexpr std::int32_t kFinestResolution = 2400;

// Why a page set-up cannot make PDF pages that show something, or null when it can: a side of
// no length or beyond kLargestPage, a margin that leaves no room for the drawing (or is
// negative), a resolution beyond kFinestResolution. The texts are the run's log lines.
const char* PageSetupProblem(const PageSetup& page, std::int32_t quality);

// The export device's WidthDivisor for a resolution: dpi / 72, truncated (200 dpi gives 2,
// anything below 72 gives 0).
inline int WidthDivisorFor(std::int32_t quality) {
  return quality / 72;
}

// The page size of the layout with index layoutIndex (0 model space): a paper layout's own
// paper (asked of the drawing's active layout, in inches) when useLayoutPageSet is set,
// otherwise the run-wide size. *adjusted tells whether the layout's paper was taken.
void LayoutPageSize(CDrawing& drawing, int layoutIndex, bool useLayoutPageSet,
                    const PageSetup& runPage, std::int32_t* width, std::int32_t* height,
                    bool* adjusted);

// The window shown for a paper layout area x1..x2 × y1..y2 when it is converted on its own: the
// area scaled about its centre by 1 / scale. p1 and p2 get x, y and z = 0.
void ScaledLayoutWindow(double x1, double x2, double y1, double y2, double scale, double p1[3],
                        double p2[3]);

// Sets the drawing's view of its active layout for a page of width × height points by the
// settings' Area: zoom extents by Scale, the paper layout's area, or the saved view.
// layoutIndex tells which layout is drawn (below 1: model space); singleLayout is set when one
// layout of the drawing is converted, and the area is then scaled by 1 / Scale.
void SetUpView(CDrawing& drawing, const CConvertSettings& settings, int layoutIndex,
               bool singleLayout, std::int32_t width, std::int32_t height);
