#include "pdf/PdfContentStream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "pdf/PdfArray.h"

// The deflater of a stream deflated in pieces and the deflated bytes it has made so far.
struct CPdfContentStream::Deflater {
  z_stream zs{};
  std::uint8_t* out = nullptr;
  std::size_t used = 0;
  std::size_t capacity = 0;
  bool failed = false;

  ~Deflater() {
    deflateEnd(&zs);
    std::free(out);
  }
};

CPdfContentStream::CPdfContentStream(std::int32_t* nextObjectNumber)
    : CPdfStream(nextObjectNumber) {}

CPdfContentStream::~CPdfContentStream() {
  Wait();
}

namespace {

thread_local DeflateEffort effort = DeflateEffort::Default;
thread_local bool background = false;

// A thread that deflates the streams one drawing thread hands over, one at a time and in the
// order they came. Handing over waits while two are already waiting, so that a drawing thread
// faster than its deflating one does not pile up pages in memory.
class CDeflateThread {
 public:
  CDeflateThread() : thread([this] { Run(); }) {}
  ~CDeflateThread() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    thread.join();
  }
  std::future<void> Submit(std::packaged_task<void()> job) {
    std::future<void> done = job.get_future();
    std::unique_lock lock(mutex);
    room.wait(lock, [this] { return jobs.size() < 2; });
    jobs.push_back(std::move(job));
    lock.unlock();
    wake.notify_all();
    return done;
  }

 private:
  void Run() {
    for (;;) {
      std::unique_lock lock(mutex);
      wake.wait(lock, [this] { return stopping || !jobs.empty(); });
      if (jobs.empty()) return;
      std::packaged_task<void()> job = std::move(jobs.front());
      jobs.pop_front();
      lock.unlock();
      room.notify_all();
      job();
    }
  }

  std::mutex mutex;
  std::condition_variable wake, room;
  std::deque<std::packaged_task<void()>> jobs;
  bool stopping = false;
  std::thread thread;
};

// The deflating thread of this thread, started at its first use; null when background
// deflating is off or no thread could be started (streams are then deflated at once).
CDeflateThread* DeflateThread() {
  if (!background) return nullptr;
  thread_local std::unique_ptr<CDeflateThread> own;
  thread_local bool failed = false;
  if (!own && !failed) {
    try {
      own = std::make_unique<CDeflateThread>();
    } catch (const std::exception&) {
      failed = true;
    }
  }
  return own.get();
}

// The levels of libdeflate and of zlib (for pages deflated in pieces) for an effort. libdeflate's
// level 6 writes less than zlib's default, and several times faster.
int LibdeflateLevel(DeflateEffort e) {
  return e == DeflateEffort::Fast ? 1 : e == DeflateEffort::Small ? 12 : 6;
}
int ZlibLevel(DeflateEffort e) {
  return e == DeflateEffort::Fast ? 1 : e == DeflateEffort::Small ? 9 : Z_DEFAULT_COMPRESSION;
}

// One compressor per thread and level, made at its first use: making one costs more than
// deflating a small stream.
libdeflate_compressor* Compressor() {
  struct Cache {
    libdeflate_compressor* byLevel[13] = {};
    ~Cache() {
      for (libdeflate_compressor* c : byLevel) {
        if (c) libdeflate_free_compressor(c);
      }
    }
  };
  thread_local Cache cache;
  const int level = LibdeflateLevel(effort);
  if (!cache.byLevel[level]) cache.byLevel[level] = libdeflate_alloc_compressor(level);
  return cache.byLevel[level];
}

void NameFlateDecode(CPdfDictionary* dictionary) {
  if (auto* filter = dynamic_cast<CPdfArray*>(dictionary->Find("Filter"))) {
    filter->InsertFirst("FlateDecode");
  } else {
    auto* names = new CPdfArray;
    names->Add("FlateDecode");
    dictionary->Set("Filter", names);
  }
}

}  // namespace

void SetDeflateEffort(DeflateEffort e) {
  effort = e;
}

DeflateEffort CurrentDeflateEffort() {
  return effort;
}

void SetBackgroundDeflate(bool on) {
  background = on;
}

void CPdfContentStream::Wait() {
  if (!pending.valid()) return;
  try {
    pending.get();
  } catch (const std::exception&) {
    // The deflating ran short of memory; the stream keeps what it had, as when deflating fails.
  }
}

void CPdfContentStream::DeflateInPieces(std::int32_t piece) {
  pieceLength = piece > 0 ? piece : 0;
}

bool CPdfContentStream::TakeData() {
  if (pieceLength == 0 || Length() < pieceLength || compressed) return true;
  if (!deflater) {
    auto made = std::unique_ptr<Deflater>(new (std::nothrow) Deflater);
    if (!made || deflateInit(&made->zs, ZlibLevel(effort)) != Z_OK) return false;
    deflater = std::move(made);
  }
  if (CDeflateThread* thread = DeflateThread()) {
    // The previous piece must be deflated first: one piece deflates while the next one fills.
    Wait();
    if (deflater->failed) return false;
    std::int32_t length = 0;
    std::uint8_t* piece = DetachData(length);
    const DeflateEffort level = effort;
    try {
      pending = thread->Submit(std::packaged_task<void()>([this, piece, length, level] {
        SetDeflateEffort(level);
        DeflateBytes(piece, static_cast<std::size_t>(length), false);
        std::free(piece);
      }));
    } catch (const std::exception&) {
      std::free(piece);
      deflater->failed = true;
      return false;
    }
    return true;
  }
  return DeflateData(false);
}

bool CPdfContentStream::DeflateData(bool finish) {
  if (!DeflateBytes(Data(), static_cast<std::size_t>(Length()), finish)) return false;
  ClearData();
  return true;
}

bool CPdfContentStream::DeflateBytes(const std::uint8_t* bytes, std::size_t n, bool finish) {
  Deflater& d = *deflater;
  if (d.failed) return false;
  d.zs.next_in = const_cast<Bytef*>(bytes);
  d.zs.avail_in = static_cast<uInt>(n);
  for (;;) {
    if (d.capacity - d.used < 65536) {
      // The deflated bytes grow by half again each time, at least by 1 MiB.
      const std::size_t wanted = d.capacity + std::max<std::size_t>(d.capacity / 2, 1048576);
      auto* grown = static_cast<std::uint8_t*>(std::realloc(d.out, wanted));
      if (!grown) {
        d.failed = true;
        return false;
      }
      d.out = grown;
      d.capacity = wanted;
    }
    d.zs.next_out = d.out + d.used;
    d.zs.avail_out = static_cast<uInt>(std::min<std::size_t>(d.capacity - d.used, 1u << 30));
    const int result = deflate(&d.zs, finish ? Z_FINISH : Z_NO_FLUSH);
    d.used = static_cast<std::size_t>(d.zs.next_out - d.out);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      d.failed = true;
      return false;
    }
    if (!finish && d.zs.avail_in == 0) break;
  }
  if (d.used > static_cast<std::size_t>(kMaxLength)) {
    d.failed = true;
    return false;
  }
  return true;
}

void CPdfContentStream::Compress() {
  Wait();
  CompressNow();
}

void CPdfContentStream::CompressSoon() {
  CDeflateThread* thread = DeflateThread();
  Wait();
  if (!thread || compressed) {
    CompressNow();
    return;
  }
  const DeflateEffort level = effort;
  try {
    pending = thread->Submit(std::packaged_task<void()>([this, level] {
      SetDeflateEffort(level);
      CompressNow();
    }));
  } catch (const std::exception&) {
    CompressNow();
  }
}

void CPdfContentStream::CompressNow() {
  if (compressed) return;
  if (deflater) {
    // The earlier pieces are already deflated: finish with the rest. If deflating failed on
    // the way, part of the data is gone and the stream is written empty rather than wrong.
    if (!DeflateData(true)) {
      ReleaseData();
      deflater.reset();
      return;
    }
    std::uint8_t* out = deflater->out;
    const auto used = static_cast<std::int32_t>(deflater->used);
    if (auto* fitted = static_cast<std::uint8_t*>(std::realloc(out, deflater->used))) {
      out = fitted;
    }
    deflater->out = nullptr;
    deflater.reset();
    ReplaceData(out, used);
    compressed = true;
    NameFlateDecode(Dictionary());
    return;
  }
  libdeflate_compressor* compressor = Compressor();
  if (!compressor) return;
  const auto sourceLength = static_cast<std::size_t>(static_cast<std::uint32_t>(Length()));
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, sourceLength);
  auto* deflated = static_cast<std::uint8_t*>(std::malloc(bound));
  if (!deflated) return;
  static const std::uint8_t kNothing = 0;
  const std::size_t outLength = libdeflate_zlib_compress(compressor, Data() ? Data() : &kNothing,
                                                         sourceLength, deflated, bound);
  if (outLength == 0 || outLength > static_cast<std::size_t>(kMaxLength)) {
    std::free(deflated);
    return;
  }
  // Give back the unused part of the bound; keeping the larger block is harmless if it fails.
  if (auto* fitted = static_cast<std::uint8_t*>(std::realloc(deflated, outLength))) {
    deflated = fitted;
  }
  ReplaceData(deflated, static_cast<std::int32_t>(outLength));
  compressed = true;
  NameFlateDecode(Dictionary());
}

void CPdfContentStream::WriteData(std::FILE* file) {
  Wait();
  if (Length() == 0) return;
  CPdfStream::WriteData(file);
  ReleaseData();
}

void CPdfContentStream::Write(std::FILE* file, CPdfXrefTable* xref) {
  Wait();
  // Data deflated in pieces can only be written deflated.
  if (deflater) Compress();
  if (!compressed) {
    if (auto* filter = dynamic_cast<CPdfArray*>(Dictionary()->Find("Filter"))) {
      for (std::int32_t i = filter->Count() - 1; i >= 0; --i) {
        const auto* name = dynamic_cast<const CPdfName*>(filter->GetAt(i));
        if (name && name->Text() == "FlateDecode") {
          filter->RemoveAt(i);
          break;
        }
      }
      if (filter->Count() == 0) Dictionary()->Remove("Filter");
    }
  }
  CPdfStream::Write(file, xref);
}
