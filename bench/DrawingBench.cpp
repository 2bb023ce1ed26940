// Speed of our drawing library: reading an ASCII DXF into the model and rendering a model
// space of a million entities into a sink that does nothing; reading the largest R2000 and
// R2004 DWG files of the shared corpus against their DXF twins, per entity.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "drawing/ReadDrawing.h"
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

// An R2000 ASCII DXF with lines, circles, arcs and light polylines on a few layers, each
// entity written with its handle, owner and subclass markers as CAD programs write them.
std::string GeneratedDxf(int entities) {
  std::string dxf =
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  0\nENDSEC\n"
      "  0\nSECTION\n  2\nENTITIES\n";
  dxf.reserve(static_cast<std::size_t>(entities) * 260);
  char line[768];
  const char* common = "  5\n%X\n330\n1F\n100\nAcDbEntity\n  8\n%s\n";
  for (int i = 0; i < entities; ++i) {
    const double x = (i % 1000) * 1.5, y = (i / 1000) * 1.5;
    const unsigned handle = 0x100u + static_cast<unsigned>(i);
    int n = 0;
    switch (i % 4) {
      case 0:
        n = std::snprintf(line, sizeof line, "  0\nLINE\n");
        n += std::snprintf(line + n, sizeof line - n, common, handle, "WALLS");
        std::snprintf(line + n, sizeof line - n,
                      " 62\n     1\n100\nAcDbLine\n 10\n%.6f\n 20\n%.6f\n 30\n0.0\n 11\n%.6f\n"
                      " 21\n%.6f\n 31\n0.0\n",
                      x, y, x + 1, y + 0.5);
        break;
      case 1:
        n = std::snprintf(line, sizeof line, "  0\nCIRCLE\n");
        n += std::snprintf(line + n, sizeof line - n, common, handle, "DOORS");
        std::snprintf(line + n, sizeof line - n,
                      "100\nAcDbCircle\n 10\n%.6f\n 20\n%.6f\n 30\n0.0\n 40\n0.5\n", x, y);
        break;
      case 2:
        n = std::snprintf(line, sizeof line, "  0\nARC\n");
        n += std::snprintf(line + n, sizeof line - n, common, handle, "DOORS");
        std::snprintf(line + n, sizeof line - n,
                      "100\nAcDbCircle\n 10\n%.6f\n 20\n%.6f\n 30\n0.0\n 40\n0.5\n"
                      "100\nAcDbArc\n 50\n0.0\n 51\n90.0\n",
                      x, y);
        break;
      default:
        n = std::snprintf(line, sizeof line, "  0\nLWPOLYLINE\n");
        n += std::snprintf(line + n, sizeof line - n, common, handle, "FURNITURE");
        std::snprintf(line + n, sizeof line - n,
                      "100\nAcDbPolyline\n 90\n        3\n 70\n     0\n 43\n0.0\n 10\n%.6f\n"
                      " 20\n%.6f\n 10\n%.6f\n 20\n%.6f\n 42\n0.5\n 10\n%.6f\n 20\n%.6f\n",
                      x, y, x + 1, y, x + 1, y + 1);
        break;
    }
    dxf += line;
  }
  dxf += "  0\nENDSEC\n  0\nEOF\n";
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
    if (!ReadDrawing(dxf, model, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(model.blocks.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(dxf.size()) * state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(kEntities) * state.iterations());
  state.counters["file_MB"] = static_cast<double>(dxf.size()) / (1024.0 * 1024.0);
  state.counters["model_peak_MB"] = PeakRssMiB() - before;
}
BENCHMARK(BM_ReadDxf)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RenderModelSpace(benchmark::State& state) {
  Drawing model;
  std::string error;
  ReadDrawing(Dxf(), model, &error);
  CTextEngine text;
  CNullExport sink;
  for (auto _ : state) {
    CRenderer renderer(model, text, sink);
    renderer.DrawLayout(0, Affine3::Scale(0.5, 0.5, 0.5), 842, 595);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(kEntities) * state.iterations());
}
BENCHMARK(BM_RenderModelSpace)->Unit(benchmark::kMillisecond)->Iterations(3);

// The drawings of the shared corpus beside the checkout (absent in a fresh clone).
std::string CorpusFile(const char* path) {
  std::ifstream in(std::string(TARNVELOX_SHARED_DIR) + "/corpus/dwg/" + path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::int64_t EntityCount(const Drawing& model) {
  std::int64_t count = 0;
  for (const Block& block : model.blocks) {
    for (const Entity& entity : block.entities) {
      ++count;
      if (const auto* insert = std::get_if<Insert>(&entity.data)) {
        count += static_cast<std::int64_t>(insert->attributes.size());
      }
    }
  }
  return count;
}

// Reads one corpus file again and again; the time per entity is what compares a DWG file with
// its DXF twin, whose files differ in size by far more than their drawings do.
void ReadCorpusFile(benchmark::State& state, const char* path) {
  const std::string bytes = CorpusFile(path);
  if (bytes.empty()) {
    state.SkipWithError("the shared corpus is absent");
    return;
  }
  std::int64_t entities = 0;
  for (auto _ : state) {
    Drawing model;
    std::string error;
    if (!ReadDrawing(bytes, model, &error)) state.SkipWithError(error.c_str());
    entities = EntityCount(model);
    benchmark::DoNotOptimize(model.blocks.size());
  }
  state.SetItemsProcessed(entities * state.iterations());
  state.counters["entities"] = static_cast<double>(entities);
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
  state.counters["ns_per_entity"] = benchmark::Counter(
      static_cast<double>(entities) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// Files before R13: the largest (no twin) and a small pair, whose time is mostly the set-up.
BENCHMARK_CAPTURE(ReadCorpusFile, R11Dwg, "pre-r13/libredwg_r11_ACEB10.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R11SmallDwg, "pre-r13/libredwg_r11_entities-3d.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R11SmallDxfTwin, "pre-r13/libredwg_r11_entities-3d.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2000Dwg, "r2000/acadsharp_sample_AC1015.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2000DxfTwin, "r2000/acadsharp_sample_AC1015_ascii.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2004Dwg, "r2004/acadsharp_sample_AC1018.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2004DxfTwin, "r2004/acadsharp_sample_AC1018_ascii.dxf")
    ->Unit(benchmark::kMillisecond);
// The other releases, each beside its DXF twin: the older entity preamble (R13, R14), the coded
// container (R2007), separate string streams (R2010 on).
BENCHMARK_CAPTURE(ReadCorpusFile, R13Dwg, "r13/libredwg_example_r13.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R13DxfTwin, "r13/libredwg_example_r13.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R14Dwg, "r14/libredwg_example_r14.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R14DxfTwin, "r14/libredwg_example_r14.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2007Dwg, "r2007/acadsharp_sample_AC1021.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2007DxfTwin, "r2007/acadsharp_sample_AC1021_ascii.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2010Dwg, "r2010/acadsharp_sample_AC1024.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2010DxfTwin, "r2010/acadsharp_sample_AC1024_ascii.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2013Dwg, "r2013/libredwg_2013_gh109_1.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2013DxfTwin, "r2013/libredwg_2013_gh109_1.dxf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2018Dwg, "r2018/acadsharp_sample_AC1032.dwg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadCorpusFile, R2018DxfTwin, "r2018/acadsharp_sample_AC1032_ascii.dxf")
    ->Unit(benchmark::kMillisecond);

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
