#pragma once

#include <atomic>
#include <string>
#include <vector>

class CDwgExport;

// One drawing opened by the drawing library. The conversion opens a file, chooses layouts,
// sets the output size and view, and lets the library draw each layout into a CDwgExport.
// Create and destroy drawings only through CreateDrawing and DeleteDrawing.
class CDrawing {
 public:
  // A new drawing object, or null when memory is short.
  static CDrawing* CreateDrawing();
  static void DeleteDrawing(CDrawing* drawing);

  virtual ~CDrawing() = default;

  // The folders, joined by ";", in which this drawing looks for the files it names (fonts,
  // images, plot style tables, external references). Called before OpenFile; each drawing has
  // its own, so that runs with different folders can work side by side.
  virtual void SetSearchDirectories(const char* directories) = 0;
  // Called before OpenFile: when set, the drawing reads the files it names (images, fonts, plot
  // style tables, external references) only inside its own folder and the search folders; a
  // reference elsewhere is a warning and is not read. For servers that convert uploaded files.
  virtual void RestrictReferences(bool restrict) { (void)restrict; }
  // Opens a drawing file: 0 when it was opened, another value when it cannot be read.
  virtual int OpenFile(const char* path, int flags) = 0;
  // The library's one-line note on the last OpenFile or LoadPlotStyleTable: why it failed, or
  // the damage it read around; empty when all went well or the library cannot tell.
  virtual std::string GetLastError() { return {}; }
  // A flag that, once set, makes Draw and ZoomExtents end soon, leaving the page unfinished.
  // Not owned; it must outlive the drawing.
  virtual void SetStopFlag(const std::atomic<bool>* stop) { (void)stop; }
  // What the drawing could not read or draw as it is, one line each, since the last call: damage
  // read around when it was opened, entity kinds it does not draw, entities drawn plainly
  // because they passed a bound of work or memory.
  virtual std::vector<std::string> TakeWarnings() { return {}; }
  // The path of the open drawing.
  virtual std::string GetFileName() = 0;
  // Called once, right after opening.
  virtual void PrepareDrawing(int flags) = 0;
  // The size of the output area in points.
  virtual void SetOutputSize(int width, int height) = 0;
  // The sink that receives the drawing, or null to detach it.
  virtual void SetExport(CDwgExport* sink) = 0;
  // Draws the active layout into the sink.
  virtual void Draw(int, int, int) = 0;
  // Ends the work on the active layout when a range of layouts is converted.
  virtual void FinishLayout() = 0;
  // Fits the drawing's extents into the output area, enlarged by factor.
  virtual void ZoomExtents(int, int, double factor) = 0;
  // Called right before Draw.
  virtual void PrepareDraw() = 0;
  // Layouts: index 0 is model space, then the paper layouts in tab order.
  virtual int GetLayoutCount() = 0;
  virtual int GetActiveLayout() = 0;
  virtual std::string GetLayoutName(int index) = 0;
  virtual void SetActiveLayout(int index) = 0;
  // True for a layout that is not to be converted (a paper layout with nothing on it).
  virtual bool IsLayoutSkipped(int index) = 0;
  // The paper size of the active layout in inches.
  virtual void GetPaperSize(double* width, double* height) = 0;
  // The plot area of the active layout in drawing units.
  virtual void GetLayoutArea(double* x1, double* x2, double* y1, double* y2) = 0;
  // Shows the window between the corners p1 and p2 (x, y, z; z is 0) in an area of width ×
  // height points.
  virtual void ZoomWindow(const double* p1, const double* p2, double width, double height) = 0;
  // Reads a colour-dependent plot style table (.ctb); false when it cannot be read.
  virtual bool LoadPlotStyleTable(const char* path) = 0;
  // Entry index of the loaded table: the pen's colour index (−1 when the table gives a colour,
  // which is then in rgb) and the pen width in millimetres (0: the object's own lineweight).
  virtual void GetPlotStyleEntry(int index, short* colorIndex, int* rgb, double* widthMm) = 0;
  // Reads a named plot style table (.stb) that the drawing then applies itself while it draws,
  // to the styles its layers and entities name (in named plot style mode); false when it
  // cannot be read. The base reads none.
  virtual bool LoadNamedPlotStyleTable(const char* path) {
    (void)path;
    return false;
  }
  // The plot style table a layout's page set-up names ("monochrome.ctb"), as stored; empty when
  // it names none. The base names none.
  virtual std::string GetLayoutPlotStyleTable(int index) {
    (void)index;
    return {};
  }
};

// The library's global operations: InitDLL first, with DWG_SetBackgroundColor (white) right
// after it; UninitDLL at exit.
void InitDLL();
void UninitDLL();
void DWG_SetBackgroundColor(int rgb);
