// The drawing library's entry points.
#include <new>
#include <string>
#include <vector>

#include "drawing/ModelDrawing.h"
#include "render/Drawing.h"

namespace {
int backgroundColor = 0xFFFFFF;
}  // namespace

CDrawing* CDrawing::CreateDrawing() { return new (std::nothrow) drawing::CModelDrawing; }

void CDrawing::DeleteDrawing(CDrawing* drawing) { delete drawing; }

void InitDLL() {}

void UninitDLL() {}

void DWG_SetBackgroundColor(int rgb) { backgroundColor = rgb; }

void DWG_SetSearchDirectories(const char* directories) {
  std::vector<std::string> folders;
  std::string text = directories ? directories : "";
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find(';', start);
    std::string folder = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!folder.empty()) folders.push_back(folder);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  drawing::SetSearchFolders(folders);
}
