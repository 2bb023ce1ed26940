// The drawing library's entry points.
#include <new>

#include "drawing/ModelDrawing.h"
#include "render/Drawing.h"

namespace {
int backgroundColor = 0xFFFFFF;
}  // namespace

CDrawing* CDrawing::CreateDrawing() {
  return new (std::nothrow) drawing::CModelDrawing;
}

void CDrawing::DeleteDrawing(CDrawing* drawing) {
  delete drawing;
}

void InitDLL() {}

void UninitDLL() {}

void DWG_SetBackgroundColor(int rgb) {
  backgroundColor = rgb;
}
