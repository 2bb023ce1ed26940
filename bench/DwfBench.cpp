// Speed of the DWF reader: decoding a W2D stream of a million entities (the same mix as the
// DXF benchmark: lines, circles, arcs and three-point polylines on three layers, in the binary
// opcodes that published sheets use) into the model, per entity, to set beside BM_ReadDxf.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "drawing/ReadDrawing.h"

using namespace drawing;

namespace {

constexpr int kEntities = 1'000'000;

void Put32(std::string& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(v >> (8 * k) & 0xFF));
}

std::string GeneratedW2d(int entities) {
  std::string w2d =
      "(W2D V06.00)(View 0,0 1500000,1500000)"
      "(PlotInfo show 0 in 36 24 0 0 36 24 ((0.00002 0 0)(0 0.00002 0)(0 0 1)))"
      "(Layer 1 'WALLS')(Layer 2 'DOORS')(Layer 3 'FURNITURE')";
  w2d.reserve(static_cast<std::size_t>(entities) * 24);
  std::int32_t x = 0, y = 0;  // the current point
  const auto to = [&](std::int32_t nx, std::int32_t ny) {
    Put32(w2d, nx - x);
    Put32(w2d, ny - y);
    x = nx;
    y = ny;
  };
  for (int i = 0; i < entities; ++i) {
    const std::int32_t px = (i % 1000) * 1500, py = (i / 1000) * 1500;
    switch (i % 4) {
      case 0:
        w2d += "\xAC\x01l";
        to(px, py);
        to(px + 1000, py + 500);
        break;
      case 1:
        w2d += "\xAC\x02r";
        to(px, py);
        Put32(w2d, 500);
        break;
      case 2:
        w2d += "\x92";
        to(px, py);
        Put32(w2d, 500);
        w2d += std::string("\x00\x00\x00\x40", 4);  // a quarter turn
        break;
      default:
        w2d += "\xAC\x03p\x03";
        to(px, py);
        to(px + 1000, py);
        to(px + 1000, py + 1000);
        break;
    }
  }
  return w2d + "(EndOfDWF)";
}

void BM_ReadW2d(benchmark::State& state) {
  static const std::string w2d = GeneratedW2d(kEntities);
  for (auto _ : state) {
    Drawing model;
    std::string error;
    if (!ReadDrawing(w2d, model, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(model.blocks.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(kEntities) * state.iterations());
  state.counters["file_MB"] = static_cast<double>(w2d.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ReadW2d)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
