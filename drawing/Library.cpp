// The drawing library's entry points. No drawing reader is built in yet: every drawing object
// refuses to open a file, so the run reports each drawing as unreadable and goes on.
#include <new>
#include <string>

#include "render/Drawing.h"

namespace {

class CUnreadableDrawing : public CDrawing {
 public:
  int OpenFile(const char* path, int) override {
    fileName = path ? path : "";
    return 1;
  }
  std::string GetFileName() override { return fileName; }
  void PrepareDrawing(int) override {}
  void SetOutputSize(int, int) override {}
  void SetExport(CDwgExport*) override {}
  void Draw(int, int, int) override {}
  void FinishLayout() override {}
  void ZoomExtents(int, int, double) override {}
  void PrepareDraw() override {}
  int GetLayoutCount() override { return 0; }
  int GetActiveLayout() override { return 0; }
  std::string GetLayoutName(int) override { return {}; }
  void SetActiveLayout(int) override {}
  bool IsLayoutSkipped(int) override { return true; }
  void GetPaperSize(double* width, double* height) override {
    if (width) *width = 0;
    if (height) *height = 0;
  }
  void GetLayoutArea(double* x1, double* x2, double* y1, double* y2) override {
    for (double* v : {x1, x2, y1, y2}) {
      if (v) *v = 0;
    }
  }
  void ZoomWindow(const double*, const double*, double, double) override {}
  bool LoadPlotStyleTable(const char*) override { return false; }
  void GetPlotStyleEntry(int, short* colorIndex, int* rgb, double* widthMm) override {
    if (colorIndex) *colorIndex = -1;
    if (rgb) *rgb = 0;
    if (widthMm) *widthMm = 0;
  }

 private:
  std::string fileName;
};

int backgroundColor = 0xFFFFFF;
std::string searchDirectories;

}  // namespace

CDrawing* CDrawing::CreateDrawing() { return new (std::nothrow) CUnreadableDrawing; }

void CDrawing::DeleteDrawing(CDrawing* drawing) { delete drawing; }

void InitDLL() {}

void UninitDLL() {}

void DWG_SetBackgroundColor(int rgb) { backgroundColor = rgb; }

void DWG_SetSearchDirectories(const char* directories) {
  searchDirectories = directories ? directories : "";
}
