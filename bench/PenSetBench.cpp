// Speed of the pen-set work a run does: matching imported colours to the palette, and loading
// and saving the current pen set (512 values) through the settings file.
//
// The store lives in a fresh folder under /tmp. Saving syncs the file to disk, so its figure
// depends on the file system of /tmp more than on the code.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "pensets/PenSet.h"
#include "platform/ColorPalette.h"
#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder under /tmp, removed with its files when the case ends.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/tarnvelox-bench-XXXXXX";
    if (mkdtemp(pattern)) path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  fs::path path;
};

// A set whose every entry differs from the default, as an edited set has.
CPenSet EditedSet() {
  CPenSet set;
  set.name = "Plotter A0";
  set.usePenWidth = true;
  for (int i = 0; i < 256; ++i) {
    set.entries[i].width = 0.0005 * i;
    set.entries[i].destColor = static_cast<std::int16_t>((i * 7) % 256);
  }
  return set;
}

constexpr int kColors = 1'000'000;

void BM_NearestColorIndex(benchmark::State& state) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> channel(0, 255);
  std::vector<std::uint8_t> colors(3 * kColors);
  for (std::uint8_t& c : colors) c = static_cast<std::uint8_t>(channel(random));
  for (auto _ : state) {
    std::int64_t sum = 0;
    for (int i = 0; i < kColors; ++i) {
      sum += NearestColorIndex(colors[3 * i], colors[3 * i + 1], colors[3 * i + 2]);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kColors);
}
BENCHMARK(BM_NearestColorIndex)->Unit(benchmark::kMillisecond);

// Loading through a store that has the file in memory already: 515 queries, each checking
// that the file has not changed.
void BM_LoadCurrentPenSet(benchmark::State& state) {
  ScratchDir dir;
  CRegistry store(dir.path / "registry.reg");
  SaveCurrentPenSet(EditedSet(), store);
  CPenSet set;
  for (auto _ : state) {
    LoadCurrentPenSet(set, store);
    benchmark::DoNotOptimize(set.entries.data());
  }
}
BENCHMARK(BM_LoadCurrentPenSet)->Unit(benchmark::kMicrosecond);

// Loading at start-up: a new store reads and parses the file first.
void BM_LoadCurrentPenSetFromFile(benchmark::State& state) {
  ScratchDir dir;
  const fs::path file = dir.path / "registry.reg";
  {
    CRegistry store(file);
    SaveCurrentPenSet(EditedSet(), store);
  }
  CPenSet set;
  for (auto _ : state) {
    CRegistry store(file);
    LoadCurrentPenSet(set, store);
    benchmark::DoNotOptimize(set.entries.data());
  }
  state.counters["file_bytes"] = static_cast<double>(fs::file_size(file));
}
BENCHMARK(BM_LoadCurrentPenSetFromFile)->Unit(benchmark::kMicrosecond);

// Saving at exit: 514 values in one batch, so one locked read, write, sync and rename.
void BM_SaveCurrentPenSet(benchmark::State& state) {
  ScratchDir dir;
  CRegistry store(dir.path / "registry.reg");
  const CPenSet set = EditedSet();
  for (auto _ : state) SaveCurrentPenSet(set, store);
}
BENCHMARK(BM_SaveCurrentPenSet)->Unit(benchmark::kMicrosecond);

// A hand-made or hostile store of 100,000 values in three shapes (0: 1000 keys of 100 values,
// 1: one key of 100,000 values, 2: 100,000 keys of one value): read, then one value set and the
// file saved. A cost that grows with the square of any of them shows here as seconds.
void BM_ReadAndSaveALargeStore(benchmark::State& state) {
  std::string text = "REGEDIT4\n\n";
  if (state.range(0) == 0) {
    for (int k = 0; k < 1000; ++k) {
      text += "[HKEY_CURRENT_USER\\Big\\Key" + std::to_string(k) + "]\n";
      for (int v = 0; v < 100; ++v) {
        text += "\"W" + std::to_string(v) + "\"=hex:00,00,00,00,00,00,f0,3f\n";
      }
      text += '\n';
    }
  } else if (state.range(0) == 1) {
    text += "[HKEY_CURRENT_USER\\Big]\n";
    for (int v = 0; v < 100'000; ++v) text += "\"V" + std::to_string(v) + "\"=\"text\"\n";
  } else {
    for (int k = 0; k < 100'000; ++k) {
      text += "[HKEY_CURRENT_USER\\Big\\K" + std::to_string(k) + "]\n\"v\"=dword:00000001\n\n";
    }
    text += "[HKEY_CURRENT_USER\\Big]\n";
  }
  ScratchDir dir;
  const fs::path file = dir.path / "registry.reg";
  for (auto _ : state) {
    state.PauseTiming();
    {
      std::FILE* out = std::fopen(file.c_str(), "wb");
      std::fwrite(text.data(), 1, text.size(), out);
      std::fclose(out);
    }
    state.ResumeTiming();
    CRegistry store(file);
    benchmark::DoNotOptimize(store.OpenKey("Big"));
    benchmark::DoNotOptimize(store.SetDword("Big", "New", 1));
  }
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ReadAndSaveALargeStore)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
