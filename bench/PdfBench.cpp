// Speed and memory of the PDF writer on the loads a conversion run puts on it: many small
// appends to a content stream, deflating that stream, a 2,000-page drawing set with layers and
// bookmarks, and one large raster image.
//
// Peak memory is read from getrusage (ru_maxrss), which only ever grows within a process, so
// the figures are meaningful when each case runs in a process of its own (bench/run.sh does
// that). Sizes given as "MB" are MiB (2^20 bytes), as ru_maxrss and the rates are.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PdfContentStream.h"
#include "pdf/PdfDocument.h"
#include "pdf/PdfOutline.h"
#include "pdf/PdfPage.h"
#include "platform/Dib.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// The size of the content stream of one heavy drawing.
constexpr std::int64_t kContentBytes = 16 * 1024 * 1024;

// The highest resident set size of this process so far, in MiB.
double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

// Page faults this process has taken so far without reading from disk: each is a page of
// memory touched for the first time, which is what a growing buffer costs beyond the copying.
std::int64_t MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// A fresh folder under /tmp for the files a case saves; removed, and the files in it, when the
// case ends.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/tarnvelox-bench-XXXXXX";
    if (mkdtemp(pattern)) path = pattern;
  }
  ~ScratchDir() {
    if (!path.empty()) rmdir(path.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool Ok() const { return !path.empty(); }
  std::string File(const char* name) const { return path + "/" + name; }

 private:
  std::string path;
};

// The size of a saved file, removing it; -1 when it is not there.
std::int64_t TakeFileSize(const std::string& path) {
  struct stat info {};
  const std::int64_t size = stat(path.c_str(), &info) == 0 ? info.st_size : -1;
  unlink(path.c_str());
  return size;
}

// Operator pieces as a drawing's content stream is made of: paths of a move and a few lines,
// strokes, line widths and colours, with coordinates that vary the way real geometry does. The
// pool is far longer than deflate's 32 KiB window, so cycling through it does not make the
// data look more repetitive than a drawing is.
class PiecePool {
 public:
  PiecePool() {
    std::mt19937 random(20070115);
    std::uniform_real_distribution<double> coordinate(0.0, 1190.0);
    std::uniform_int_distribution<int> pathLength(1, 6);
    std::uniform_int_distribution<int> attributeChance(0, 7);
    std::vector<std::size_t> ends;
    char piece[64];
    const auto add = [&](int length) {
      text.append(piece, static_cast<std::size_t>(length));
      ends.push_back(text.size());
    };
    while (ends.size() < kCount) {
      if (attributeChance(random) == 0) {
        add(std::snprintf(piece, sizeof piece, "%.1f w ", coordinate(random) / 1190.0 * 2.0));
      }
      if (attributeChance(random) == 0) {
        add(std::snprintf(piece, sizeof piece, "%d %.1f %.1f RG ", static_cast<int>(random() % 2),
                          coordinate(random) / 1190.0, coordinate(random) / 1190.0));
      }
      add(std::snprintf(piece, sizeof piece, "%.2f %.2f m ", coordinate(random),
                        coordinate(random)));
      for (int i = pathLength(random); i > 0; --i) {
        add(std::snprintf(piece, sizeof piece, "%.2f %.2f l ", coordinate(random),
                          coordinate(random)));
      }
      add(std::snprintf(piece, sizeof piece, "S "));
    }
    ends.resize(kCount);
    std::size_t start = 0;
    for (std::size_t end : ends) {
      pieces.emplace_back(text.data() + start, end - start);
      start = end;
    }
  }

  // Appends pieces in order, from the start of the pool, until at least kContentBytes are in
  // the stream. Gives the number of bytes appended, or -1 when the stream refused an append.
  std::int64_t Fill(CPdfContentStream& stream) const {
    std::int64_t appended = 0;
    std::size_t next = 0;
    while (appended < kContentBytes) {
      const std::string_view piece = pieces[next];
      next = (next + 1) % kCount;
      if (!stream.Append(piece.data(), static_cast<std::int32_t>(piece.size()))) return -1;
      appended += static_cast<std::int64_t>(piece.size());
    }
    return appended;
  }

 private:
  static constexpr std::size_t kCount = 16384;
  std::string text;
  std::vector<std::string_view> pieces;
};

const PiecePool& Pieces() {
  static const PiecePool pool;
  return pool;
}

// Many small appends to a new stream, as the export device does for every drawing primitive.
void BM_ContentAppend(benchmark::State& state) {
  const PiecePool& pool = Pieces();
  std::int64_t total = 0;
  const std::int64_t faultsBefore = MinorFaults();
  for (auto _ : state) {
    std::int32_t counter = 1;
    CPdfContentStream stream(&counter);
    const std::int64_t appended = pool.Fill(stream);
    if (appended < 0) {
      state.SkipWithError("Append refused a piece");
      break;
    }
    benchmark::DoNotOptimize(stream.Data());
    benchmark::ClobberMemory();
    total += appended;
  }
  state.SetBytesProcessed(total);
  state.counters["stream_MB"] = static_cast<double>(kContentBytes) / kMiB;
  state.counters["faults_per_iter"] = benchmark::Counter(
      static_cast<double>(MinorFaults() - faultsBefore), benchmark::Counter::kAvgIterations);
  state.counters["peak_rss_MB"] = PeakRssMiB();
}
BENCHMARK(BM_ContentAppend)->Unit(benchmark::kMillisecond);

// Deflating a full content stream at each effort (0 fast, 1 default, 2 small); only Compress is
// timed, the stream is built beforehand.
void BM_Compress(benchmark::State& state) {
  SetDeflateEffort(static_cast<DeflateEffort>(state.range(0)));
  const PiecePool& pool = Pieces();
  std::int64_t total = 0;
  std::int64_t deflated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::int32_t counter = 1;
    auto stream = std::make_unique<CPdfContentStream>(&counter);
    const std::int64_t appended = pool.Fill(*stream);
    if (appended < 0) {
      state.SkipWithError("Append refused a piece");
      break;
    }
    state.ResumeTiming();

    stream->Compress();

    state.PauseTiming();
    if (!stream->IsCompressed()) {
      state.SkipWithError("Compress left the data as it was");
      break;
    }
    total += appended;
    deflated += stream->Length();
    stream.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(total);
  if (total > 0) {
    state.counters["deflated_pct"] =
        100.0 * static_cast<double>(deflated) / static_cast<double>(total);
  }
  state.counters["peak_rss_MB"] = PeakRssMiB();
}
BENCHMARK(BM_Compress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same content through zlib's compress2 at its default level, as streams were deflated
// before: the figure the default effort is held against (no larger output, less time).
void BM_CompressZlibDefault(benchmark::State& state) {
  const PiecePool& pool = Pieces();
  std::int32_t counter = 1;
  CPdfContentStream stream(&counter);
  const std::int64_t appended = pool.Fill(stream);
  std::vector<Bytef> out(compressBound(static_cast<uLong>(appended)));
  uLongf deflated = 0;
  for (auto _ : state) {
    deflated = static_cast<uLongf>(out.size());
    if (compress2(out.data(), &deflated, stream.Data(), static_cast<uLong>(appended),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
      state.SkipWithError("compress2 failed");
      break;
    }
  }
  state.SetBytesProcessed(appended * static_cast<std::int64_t>(state.iterations()));
  state.counters["deflated_pct"] =
      100.0 * static_cast<double>(deflated) / static_cast<double>(appended);
}
BENCHMARK(BM_CompressZlibDefault)->Unit(benchmark::kMillisecond)->Iterations(5);

constexpr int kPages = 2000;
constexpr int kPagesPerDrawing = 10;
constexpr int kLayers = 20;

// A drawing set as a batch run makes it: every page A4 landscape, a bookmark per drawing with
// one per sheet under it, and on every page a short piece of geometry on each of 20 layers.
// False when the library refused something.
bool BuildDrawingSet(CPdfDocument& doc, const std::vector<std::string>& layerNames) {
  CPdfOutline* drawing = nullptr;
  char title[64];
  for (int p = 0; p < kPages; ++p) {
    CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
    if (!page) return false;
    page->SetMediaBox(842, 595);
    doc.ShareResources(page);

    if (p % kPagesPerDrawing == 0) {
      drawing = doc.OutlineRoot()->AddChild(&doc.nextObjectNumber);
      if (!drawing) return false;
      std::snprintf(title, sizeof title, "Drawing %d", p / kPagesPerDrawing + 1);
      drawing->SetTitle(title);
    }
    CPdfOutline* sheet = drawing->AddChild(&doc.nextObjectNumber);
    if (!sheet) return false;
    sheet->SetDest(page, "XYZ", 0, 0, 0, 0);
    std::snprintf(title, sizeof title, "Sheet %d", p % kPagesPerDrawing + 1);
    sheet->SetTitle(title);

    CPdfContentStream* stream = page->AddContentStream(&doc.nextObjectNumber);
    if (!stream || !stream->Append("1 J 1 j 0.0 w ")) return false;
    for (const std::string& layerName : layerNames) {
      CPdfIndirectObject* group = doc.GetLayer(layerName);
      if (!group) return false;
      CPdfDictEntry* entry = page->GetLayerResource(group, &doc.nextObjectNumber);
      if (!entry) return false;
      const std::string marked =
          "/OC /" + std::string(entry->Key()) + " BDC 10 20 m 30 40 l S EMC ";
      if (!stream->Append(marked.data(), static_cast<std::int32_t>(marked.size()))) return false;
    }
    stream->Compress();
  }
  AddDocumentInformation(doc, {}, "D:20070115093000+01'00'");
  return true;
}

// Building, saving and destroying the whole drawing set.
void BM_Document2000Pages(benchmark::State& state) {
  ScratchDir dir;
  if (!dir.Ok()) {
    state.SkipWithError("no scratch folder under /tmp");
    return;
  }
  const std::string path = dir.File("drawing-set.pdf");
  std::vector<std::string> layerNames;
  for (int i = 0; i < kLayers; ++i) layerNames.push_back("LAYER-" + std::to_string(i));

  std::int64_t fileSize = 0;
  std::int32_t objects = 0;
  for (auto _ : state) {
    CPdfDocument doc;
    if (!BuildDrawingSet(doc, layerNames)) {
      state.SkipWithError("the document refused a page, bookmark, layer or append");
      break;
    }
    if (!doc.Save(path)) {
      state.SkipWithError("Save failed");
      break;
    }
    state.PauseTiming();
    fileSize = TakeFileSize(path);
    objects = doc.nextObjectNumber - 1;
    state.ResumeTiming();
  }
  state.counters["peak_rss_MB"] = PeakRssMiB();
  state.counters["file_MB"] = static_cast<double>(fileSize) / kMiB;
  state.counters["objects"] = objects;
}
BENCHMARK(BM_Document2000Pages)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr std::int32_t kImageWidth = 4000;
constexpr std::int32_t kImageHeight = 3000;

// A scanned or rendered raster of a drawing: smooth gradients in red and green with a finer
// pattern in blue, so that the samples neither vanish under deflate nor look like noise.
std::unique_ptr<CDib> MakeRaster() {
  auto dib = CDib::Create(kImageWidth, kImageHeight, 24);
  if (!dib) return nullptr;
  for (std::int32_t y = 0; y < kImageHeight; ++y) {
    for (std::int32_t x = 0; x < kImageWidth; ++x) {
      dib->SetPixelRgb(x, y, static_cast<std::uint8_t>(x * 255 / (kImageWidth - 1)),
                       static_cast<std::uint8_t>(y * 255 / (kImageHeight - 1)),
                       static_cast<std::uint8_t>((x ^ y) & 0xFF));
    }
  }
  return dib;
}

// One page holding a 4000 × 3000 image: turning the bitmap into the image stream, deflating
// it and saving. The bitmap is made once, before timing, and counts towards the peak as the
// drawing library's copy would.
void BM_Image4000x3000(benchmark::State& state) {
  ScratchDir dir;
  if (!dir.Ok()) {
    state.SkipWithError("no scratch folder under /tmp");
    return;
  }
  const std::string path = dir.File("image.pdf");
  const std::unique_ptr<CDib> dib = MakeRaster();
  if (!dib) {
    state.SkipWithError("no memory for the bitmap");
    return;
  }
  const double rssBefore = PeakRssMiB();

  std::int64_t fileSize = 0;
  for (auto _ : state) {
    CPdfDocument doc;
    CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
    if (!page) {
      state.SkipWithError("AddPage failed");
      break;
    }
    page->SetMediaBox(842, 595);
    doc.ShareResources(page);
    std::string name;
    if (!page->AddImage(kImageWidth, kImageHeight, dib.get(), name, &doc.nextObjectNumber)) {
      state.SkipWithError("AddImage refused the bitmap");
      break;
    }
    // Paint the image over the page, as the export device does.
    CPdfContentStream* stream = page->AddContentStream(&doc.nextObjectNumber);
    const std::string paint = "q 842 0 0 595 0 0 cm /" + name + " Do Q ";
    if (!stream || !stream->Append(paint.data(), static_cast<std::int32_t>(paint.size()))) {
      state.SkipWithError("the content stream refused the image");
      break;
    }
    stream->Compress();
    AddDocumentInformation(doc, {}, "D:20070115093000+01'00'");
    if (!doc.Save(path)) {
      state.SkipWithError("Save failed");
      break;
    }
    state.PauseTiming();
    fileSize = TakeFileSize(path);
    state.ResumeTiming();
  }

  // What the image should cost at most: the bitmap, its samples as hexadecimal text in the
  // stream's buffer, and the deflated copy (about the size of the file).
  const double bitmapMiB = static_cast<double>(dib->Stride()) * kImageHeight / kMiB;
  const double textMiB = (static_cast<double>(kImageWidth) * kImageHeight * 6 + 2) / kMiB;
  const double fileMiB = static_cast<double>(fileSize) / kMiB;
  state.counters["peak_rss_MB"] = PeakRssMiB();
  state.counters["rss_before_MB"] = rssBefore;
  state.counters["bitmap_MB"] = bitmapMiB;
  state.counters["hex_text_MB"] = textMiB;
  state.counters["file_MB"] = fileMiB;
  state.counters["budget_MB"] = rssBefore + textMiB + fileMiB;
}
BENCHMARK(BM_Image4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
