// libFuzzer entry point for the whole drawing library on one input: it is read as the program
// reads a drawing (any format, by its first bytes), every layout is fitted and drawn into the PDF
// export device, and the page is finished. Besides crashes, leaks and undefined behaviour it
// stops on a model that breaks the renderer's promises, and (with -timeout and -rss_limit_mb)
// on an input that takes too long or too much memory. Built and run by run_render.sh.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drawing/Model.h"
#include "drawing/ModelDrawing.h"
#include "pdf/PdfDocument.h"
#include "render/PdfExport.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

// The input as a file, for the library reads drawings from files: in memory when the system
// has a memory file system.
std::string InputPath() {
  static const std::string path = [] {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/tarnvelox-render-fuzz-" + std::to_string(getpid());
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = InputPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  drawing::CModelDrawing drawing;
  if (drawing.OpenFile(path.c_str(), 0) != 0) return 0;
  for (const std::string& broken : drawing::CheckModel(drawing.Model())) Broken(broken.c_str());
  CPdfDocument document;
  const int layouts = std::min(drawing.GetLayoutCount(), 4);
  for (int i = 0; i < layouts; ++i) {
    drawing.SetActiveLayout(i);
    CPdfPage* page = document.PageTreeRoot()->AddPage(&document.nextObjectNumber);
    if (!page) continue;
    page->SetMediaBox(842, 595);
    CPdfExport device;
    device.Document = &document;
    device.Page = page;
    device.Content = page->AddContentStream(&document.nextObjectNumber);
    drawing.SetOutputSize(822, 575);
    drawing.SetExport(&device);
    // Zoom extents on even layouts, the saved view on odd ones: both ways of fitting run.
    if (i % 2 == 0) drawing.ZoomExtents(0, 0, 0.98);
    if (device.BeginPage(0, 0, 0, 842, 595)) {
      drawing.Draw(0, 0, 0);
      device.EndPage();
    }
    drawing.SetExport(nullptr);
    drawing.TakeWarnings();
  }
  return 0;
}
