#include "tests/convert/ScriptedDrawing.h"

#include <cstdio>
#include <new>

#include "render/DwgExport.h"

namespace scripted {

namespace {

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

class CScriptedDrawing : public CDrawing {
 public:
  CScriptedDrawing() { ++Script().liveDrawings; }
  ~CScriptedDrawing() override { --Script().liveDrawings; }

  void SetSearchDirectories(const char* directories) override {
    Script().searchDirectories.emplace_back(directories);
  }
  int OpenFile(const char* path, int) override {
    Call(std::string("OpenFile ") + path);
    const auto found = Script().files.find(path);
    if (found == Script().files.end()) return 1;
    if (found->second.openResult != 0) return found->second.openResult;
    file = found->second;
    fileName = path;
    active = file.active;
    warnings = file.openWarnings;
    return 0;
  }
  std::vector<std::string> TakeWarnings() override {
    std::vector<std::string> taken;
    taken.swap(warnings);
    return taken;
  }
  std::string GetFileName() override { return fileName; }
  void PrepareDrawing(int) override { Call("PrepareDrawing"); }
  void SetOutputSize(int width, int height) override {
    Call("SetOutputSize " + std::to_string(width) + " " + std::to_string(height));
  }
  void SetExport(CDwgExport* export_) override {
    sink = export_;
    Call(export_ ? "SetExport device" : "SetExport null");
  }
  void Draw(int, int, int) override {
    Call("Draw");
    if (!sink) return;
    const Layout& layout = file.layouts[active];
    double y = 10.0;
    for (const std::string& layer : layout.layers) {
      if (sink->BeginEntityDraw("LINE", "1F", layer.c_str(), 0, "CONTINUOUS", "", nullptr)) {
        sink->SetColor(0x0000FF, 1);
        sink->SetLineWidth(2);
        sink->MoveTo(10.0, y);
        sink->LineTo(200.0, y);
        sink->EndEntityDraw();
      }
      y += 10.0;
      if (active == file.runsOutOfMemoryIn) throw std::bad_alloc();
    }
    warnings.insert(warnings.end(), file.drawWarnings.begin(), file.drawWarnings.end());
  }
  void FinishLayout() override { Call("FinishLayout"); }
  void ZoomExtents(int, int, double factor) override { Call("ZoomExtents " + Number(factor)); }
  void PrepareDraw() override { Call("PrepareDraw"); }
  int GetLayoutCount() override { return static_cast<int>(file.layouts.size()); }
  int GetActiveLayout() override { return active; }
  std::string GetLayoutName(int index) override { return file.layouts.at(index).name; }
  void SetActiveLayout(int index) override {
    Call("SetActiveLayout " + std::to_string(index));
    active = index;
  }
  bool IsLayoutSkipped(int index) override { return file.layouts.at(index).skipped; }
  void GetPaperSize(double* width, double* height) override {
    Call("GetPaperSize");
    *width = file.layouts[active].paperWidth;
    *height = file.layouts[active].paperHeight;
  }
  void GetLayoutArea(double* x1, double* x2, double* y1, double* y2) override {
    const double* area = file.layouts[active].area;
    *x1 = area[0];
    *x2 = area[1];
    *y1 = area[2];
    *y2 = area[3];
  }
  void ZoomWindow(const double* p1, const double* p2, double width, double height) override {
    Call("ZoomWindow " + Number(p1[0]) + " " + Number(p1[1]) + " " + Number(p2[0]) + " " +
         Number(p2[1]) + " " + Number(width) + " " + Number(height));
  }
  bool LoadPlotStyleTable(const char*) override { return false; }
  void GetPlotStyleEntry(int, short* colorIndex, int* rgb, double* widthMm) override {
    *colorIndex = 0;
    *rgb = 0;
    *widthMm = 0.0;
  }

 private:
  static void Call(const std::string& call) {
    Script().calls.push_back(call);
    if (Script().onCall) Script().onCall(call);
  }

  File file;
  std::string fileName;
  int active = 0;
  CDwgExport* sink = nullptr;
  std::vector<std::string> warnings;
};

}  // namespace

File MakeFile(const std::vector<std::string>& paperLayouts) {
  File file;
  file.layouts.push_back(Layout{"Model"});
  for (const std::string& name : paperLayouts) file.layouts.push_back(Layout{name});
  return file;
}

Library& Script() {
  static Library library;
  return library;
}

void Reset() {
  Script() = Library{};
}

}  // namespace scripted

CDrawing* CDrawing::CreateDrawing() {
  if (scripted::Script().failCreate) return nullptr;
  return new (std::nothrow) scripted::CScriptedDrawing;
}

void CDrawing::DeleteDrawing(CDrawing* drawing) {
  if (drawing) scripted::Script().calls.push_back("DeleteDrawing");
  delete drawing;
}

void InitDLL() {}
void UninitDLL() {}
void DWG_SetBackgroundColor(int) {}
