// Speed of the export device on the load of a large drawing: millions of short segments in
// chains, with occasional colour changes, turned into content operators, and then deflating
// what it wrote. Producing operators should stay well ahead of zlib.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "pdf/PdfDocument.h"
#include "pensets/PenSet.h"
#include "render/PdfExport.h"

namespace {

constexpr int kSegments = 5'000'000;
constexpr int kChain = 10;
constexpr int kColorEvery = 1'000;

// Coordinates drawn from a pool made once, so that the timing is the device's and not the
// random generator's.
struct Pool {
  std::vector<double> starts, steps;
  Pool() {
    std::mt19937 random(42);
    std::uniform_real_distribution<double> coordinate(0.0, 800.0);
    std::uniform_real_distribution<double> step(-5.0, 5.0);
    for (int i = 0; i < 1 << 16; ++i) {
      starts.push_back(coordinate(random));
      steps.push_back(step(random));
    }
  }
};

// Draws the segments through a device, chains of kChain segments each, a colour change every
// kColorEvery segments.
void DrawSegments(CPdfExport& device, const Pool& pool) {
  const int colors[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0x808080};
  const std::size_t mask = pool.starts.size() - 1;
  double x = 0, y = 0;
  for (int i = 0; i < kSegments; ++i) {
    if (i % kColorEvery == 0) device.SetColor(colors[(i / kColorEvery) % 5], 1);
    if (i % kChain == 0) {
      x = pool.starts[(2 * i) & mask];
      y = pool.starts[(2 * i + 1) & mask];
    }
    device.MoveTo(x, y);
    x += pool.steps[(2 * i) & mask];
    y += pool.steps[(2 * i + 1) & mask];
    device.LineTo(x, y);
  }
  device.FlushPath();
}

void BM_DeviceSegments(benchmark::State& state) {
  static const Pool pool;
  std::int64_t bytes = 0;
  double compressSeconds = 0;
  std::int64_t compressedInput = 0;
  for (auto _ : state) {
    CPdfDocument doc;
    CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
    CPdfContentStream* content = page->AddContentStream(&doc.nextObjectNumber);
    CPdfExport device;
    device.Document = &doc;
    device.Page = page;
    device.Content = content;
    device.BeginPage(0, 0, 0, 842, 595);
    DrawSegments(device, pool);
    bytes += content->Length();

    state.PauseTiming();
    const std::int64_t input = content->Length();
    const auto start = std::chrono::steady_clock::now();
    content->Compress();
    compressSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    compressedInput += input;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  state.counters["stream_MB"] =
      static_cast<double>(bytes) / static_cast<double>(state.iterations()) / (1024.0 * 1024.0);
  state.counters["compress_MB_per_s"] =
      static_cast<double>(compressedInput) / compressSeconds / (1024.0 * 1024.0);
}
BENCHMARK(BM_DeviceSegments)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
