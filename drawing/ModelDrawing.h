#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drawing/Geometry.h"
#include "drawing/Model.h"
#include "drawing/PlotStyleTable.h"
#include "drawing/TextEngine.h"
#include "platform/Dib.h"
#include "render/Drawing.h"

namespace drawing {

// A drawing read into the model and drawn by the renderer: the library's CDrawing.
//
// Views: ZoomExtents fits what the layout really draws (not the header's often stale extents)
// into the output size, times the factor, centred; ZoomWindow fits a window of the layout's
// plane; without either, model space shows the view it was saved with and a paper layout its
// sheet at real size (paper units to points). Choosing another layout forgets the view.
class CModelDrawing : public CDrawing {
 public:
  void SetSearchDirectories(const char* directories) override;
  int OpenFile(const char* path, int flags) override;
  std::string GetLastError() override { return lastError; }
  void SetStopFlag(const std::atomic<bool>* flag) override { stop = flag; }
  void RestrictReferences(bool restrict) override { restricted = restrict; }
  std::vector<std::string> TakeWarnings() override;
  std::string GetFileName() override;
  void PrepareDrawing(int) override {}
  void SetOutputSize(int width, int height) override;
  void SetExport(CDwgExport* export_) override { sink = export_; }
  void Draw(int, int, int) override;
  void FinishLayout() override {}
  void ZoomExtents(int, int, double factor) override;
  void PrepareDraw() override {}
  int GetLayoutCount() override;
  int GetActiveLayout() override;
  std::string GetLayoutName(int index) override;
  void SetActiveLayout(int index) override;
  bool IsLayoutSkipped(int index) override;
  // The active layout's paper in inches, turned as it is plotted.
  void GetPaperSize(double* width, double* height) override;
  // The active layout's sheet in paper-space units (model space: its limits).
  void GetLayoutArea(double* x1, double* x2, double* y1, double* y2) override;
  void ZoomWindow(const double* p1, const double* p2, double width, double height) override;
  bool LoadPlotStyleTable(const char* path) override;
  bool LoadNamedPlotStyleTable(const char* path) override;
  void GetPlotStyleEntry(int index, short* colorIndex, int* rgb, double* widthMm) override;
  std::string GetLayoutPlotStyleTable(int index) override;

  // Why the last LoadPlotStyleTable failed, for logs.
  const std::string& PlotStyleError() const { return plotStyleError; }
  // Why the last OpenFile failed, for logs.
  const std::string& LastError() const { return lastError; }
  const Drawing& Model() const { return model; }

 private:
  struct View {
    enum Mode { Default, Extents, Window } mode = Default;
    double factor = 1.0;
    Vec2 lo, hi;
  };
  struct Sheet {
    Vec2 lo, hi;
    double pointsPerUnit = 72.0;
    double widthInches = 0, heightInches = 0;
  };

  Sheet SheetOf(int layout) const;
  // The map from the active layout's space onto its viewing plane (the saved view's direction).
  Affine3 Plane() const;
  bool Extents(const Affine3& plane, Vec2* lo, Vec2* hi);
  // The map from the active layout's space onto the output area, by the current view.
  Affine3 PageMap();
  // The pixels of an image definition, read once per drawing; null when the file is missing
  // (or, restricted, outside the allowed folders), with a warning.
  const CDib* ImagePixels(std::int32_t imageDef);
  // The drawing's own folder, and with the search folders what a restricted drawing may read.
  std::string DrawingFolder() const;
  std::vector<std::string> AllowedFolders() const;

  std::string fileName;
  std::vector<std::string> searchFolders;
  const std::atomic<bool>* stop = nullptr;
  bool restricted = false;
  std::vector<std::string> warnings;
  // Adds a warning unless it is already there.
  void Warn(std::string warning);
  std::string lastError;
  std::unique_ptr<PlotStyleTable> plotStyles;
  std::unique_ptr<NamedPlotStyleTable> namedStyles;
  std::string plotStyleError;
  Drawing model;
  bool loaded = false;
  int active = 0;
  int outputWidth = 0, outputHeight = 0;
  View view;
  CDwgExport* sink = nullptr;
  CTextEngine text;
  std::map<std::int32_t, std::unique_ptr<CDib>> images;
};

}  // namespace drawing
