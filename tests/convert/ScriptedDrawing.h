#pragma once

// A drawing library for the engine's tests: CDrawing::CreateDrawing gives drawings whose
// layouts, paper sizes, areas and drawn entities a test scripts per file path, and every call
// the engine makes is recorded. This file stands in for the real library at link time.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "render/Drawing.h"

namespace scripted {

struct Layout {
  std::string name;
  // Paper size in inches.
  double paperWidth = 11.0;
  double paperHeight = 8.5;
  bool skipped = false;
  // The layout's area x1, x2, y1, y2.
  double area[4] = {0.0, 100.0, 0.0, 50.0};
  // Each layer named here gets one line drawn on it.
  std::vector<std::string> layers = {"0"};
};

struct File {
  // Index 0 is model space.
  std::vector<Layout> layouts;
  // The layout active when the drawing was saved.
  int active = 0;
  // OpenFile answers this.
  int openResult = 0;
  // The warnings the drawing gives once it is opened, and those each Draw gives.
  std::vector<std::string> openWarnings;
  std::vector<std::string> drawWarnings;
  // Draw runs out of memory half-way through the page of this layout (-1: never).
  int runsOutOfMemoryIn = -1;
};

// A drawing with model space and the named paper layouts, model space active.
File MakeFile(const std::vector<std::string>& paperLayouts);

// Everything a test scripts and observes. Reset() before each test.
struct Library {
  std::map<std::string, File> files;
  // "OpenFile /x.dxf", "PrepareDrawing", "SetActiveLayout 1", "SetOutputSize 785 539",
  // "SetExport device", "SetExport null", "ZoomExtents 0.98", "ZoomWindow x1 y1 x2 y2 w h",
  // "PrepareDraw", "Draw", "FinishLayout", "GetPaperSize", "DeleteDrawing", in call order.
  std::vector<std::string> calls;
  // Called with each entry of calls as it is made (a test sets the stop flag here).
  std::function<void(const std::string&)> onCall;
  // The argument of every SetSearchDirectories call of a drawing.
  std::vector<std::string> searchDirectories;
  bool failCreate = false;
  int liveDrawings = 0;
};
Library& Script();
void Reset();

}  // namespace scripted
