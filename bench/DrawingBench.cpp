// Speed of our drawing library: reading an ASCII DXF into the model and rendering a model
// space of a million entities into a sink that does nothing.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "drawing/DxfReader.h"
#include "drawing/Renderer.h"
#include "drawing/TextEngine.h"
#include "render/DwgExport.h"

using namespace drawing;

namespace {

constexpr int kEntities = 1'000'000;

class CNullExport : public CDwgExport {
 public:
  bool BeginPage(int, int, int, double, double) override { return true; }
  void EndPage() override {}
  void MoveTo(double, double) override {}
  void LineTo(double, double) override {}
  void Arc(double, double, double, double, double) override {}
  void Polygon(int, int, PointStruct*) override {}
  void PolyPolygon(PointStruct*, const int*, int) override {}
  void SetColor(int, int) override {}
  void SetLineWidth(int) override {}
};

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// An R2000 ASCII DXF with lines, circles, arcs and light polylines on a few layers.
std::string GeneratedDxf(int entities) {
  std::string dxf = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n"
                    "0\nSECTION\n2\nENTITIES\n";
  dxf.reserve(static_cast<std::size_t>(entities) * 160);
  char line[512];
  for (int i = 0; i < entities; ++i) {
    const double x = (i % 1000) * 1.5, y = (i / 1000) * 1.5;
    switch (i % 4) {
      case 0:
        std::snprintf(line, sizeof line,
                      "0\nLINE\n8\nWALLS\n62\n1\n10\n%.4f\n20\n%.4f\n30\n0.0\n11\n%.4f\n21\n%.4f\n31\n0.0\n",
                      x, y, x + 1, y + 0.5);
        break;
      case 1:
        std::snprintf(line, sizeof line, "0\nCIRCLE\n8\nDOORS\n10\n%.4f\n20\n%.4f\n30\n0.0\n40\n0.5\n", x, y);
        break;
      case 2:
        std::snprintf(line, sizeof line,
                      "0\nARC\n8\nDOORS\n10\n%.4f\n20\n%.4f\n30\n0.0\n40\n0.5\n50\n0.0\n51\n90.0\n", x, y);
        break;
      default:
        std::snprintf(line, sizeof line,
                      "0\nLWPOLYLINE\n8\nFURNITURE\n90\n3\n70\n0\n10\n%.4f\n20\n%.4f\n10\n%.4f\n20\n%.4f\n"
                      "42\n0.5\n10\n%.4f\n20\n%.4f\n",
                      x, y, x + 1, y, x + 1, y + 1);
        break;
    }
    dxf += line;
  }
  dxf += "0\nENDSEC\n0\nEOF\n";
  return dxf;
}

const std::string& Dxf() {
  static const std::string dxf = GeneratedDxf(kEntities);
  return dxf;
}

void BM_ReadDxf(benchmark::State& state) {
  const std::string& dxf = Dxf();
  const double before = PeakRssMiB();
  for (auto _ : state) {
    Drawing model;
    std::string error;
    if (!ReadDxf(dxf, model, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(model.blocks.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(dxf.size()) * state.iterations());
  state.counters["file_MB"] = static_cast<double>(dxf.size()) / (1024.0 * 1024.0);
  state.counters["model_peak_MB"] = PeakRssMiB() - before;
}
BENCHMARK(BM_ReadDxf)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RenderModelSpace(benchmark::State& state) {
  Drawing model;
  std::string error;
  ReadDxf(Dxf(), model, &error);
  CTextEngine text;
  CNullExport sink;
  for (auto _ : state) {
    CRenderer renderer(model, text, sink);
    renderer.DrawLayout(0, Affine3::Scale(0.5, 0.5, 0.5), 842, 595);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(kEntities) * state.iterations());
}
BENCHMARK(BM_RenderModelSpace)->Unit(benchmark::kMillisecond)->Iterations(3);

// Shaping a line of text whose glyphs are already cached, as the thousands of texts of a
// drawing mostly are.
void BM_ShapeCachedLine(benchmark::State& state) {
  CTextEngine text;
  const std::string line = "Drawing No. 4711-B/3";
  text.Shape(line, "arial.ttf", "");
  for (auto _ : state) benchmark::DoNotOptimize(text.Shape(line, "arial.ttf", "").contours.size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShapeCachedLine)->Unit(benchmark::kMicrosecond);

}  // namespace
