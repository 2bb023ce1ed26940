#include "pdf/PdfContentStream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "pdf/PdfArray.h"

// One piece deflated: a raw deflate run of `bits` bits (whole bytes, the bits past the end
// clear), not marked final unless it ends the stream, and the Adler-32 checksum of the piece.
struct CPdfContentStream::Run {
  std::uint8_t* bytes = nullptr;
  std::size_t bits = 0;
  std::size_t length = 0;  // of the piece
  std::uint32_t adler = 1;
  bool made = false;
  // Where its stored blocks begin, in bits: their data must stay on whole bytes when the run
  // is joined on at another bit.
  std::vector<std::size_t> stored;

  Run() = default;
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run() { std::free(bytes); }
};

// The deflated bytes of a stream deflated in pieces, made so far: a zlib header and the pieces'
// runs, each starting on the bit where the one before ended, so that they read as one deflate
// stream; and the Adler-32 checksum of the bytes deflated.
struct CPdfContentStream::Deflater {
  std::uint8_t* out = nullptr;
  std::size_t used = 0;
  std::size_t capacity = 0;
  std::size_t bits = 0;  // of the last byte, those in use; 0 when all 8 are
  std::uint32_t adler = 1;
  bool failed = false;

  ~Deflater() { std::free(out); }
  // Makes room for n more bytes; the buffer grows by half again each time, at least by 1 MiB.
  bool Room(std::size_t n) {
    if (capacity - used >= n) return true;
    const std::size_t wanted =
        capacity + std::max({capacity / 2, std::size_t{1048576}, n - (capacity - used)});
    auto* grown = static_cast<std::uint8_t*>(std::realloc(out, wanted));
    if (!grown) return false;
    out = grown;
    capacity = wanted;
    return true;
  }
  void Put(std::uint8_t byte) { out[used++] = byte; }
  // Appends the first `length` bits of `from` after the bits in use, shifted into the last
  // byte's free bits. Room must have been made.
  void Join(const std::uint8_t* from, std::size_t length) {
    const std::size_t n = (length + 7) / 8;
    if (n == 0) return;
    if (bits == 0) {
      std::memcpy(out + used, from, n);
    } else {
      std::uint8_t* at = out + used;  // at[-1] is the byte in use
      for (std::size_t i = 0; i < n; ++i) {
        at[i - 1] = static_cast<std::uint8_t>(at[i - 1] | (from[i] << bits));
        at[i] = static_cast<std::uint8_t>(from[i] >> (8 - bits));
      }
    }
    const std::size_t total = bits + length;
    used += (total + 7) / 8 - (bits != 0 ? 1 : 0);
    bits = total % 8;
    // What came along past `length` in the last byte is cleared.
    if (bits != 0) out[used - 1] &= static_cast<std::uint8_t>((1u << bits) - 1);
  }
  // Appends a run. Its stored blocks keep their data on whole bytes: after each one's three
  // header bits the output pads to the byte's end, as the block's own padding did in the run.
  void JoinRun(const Run& run) {
    std::size_t from = 0;  // in bits, always on a whole byte
    for (const std::size_t header : run.stored) {
      Join(run.bytes + from / 8, header - from);
      const unsigned word =
          run.bytes[header / 8] | (header % 8 > 5 ? run.bytes[header / 8 + 1] << 8 : 0);
      const auto headerBits = static_cast<std::uint8_t>((word >> (header % 8)) & 7);
      Join(&headerBits, 3);
      bits = 0;
      const std::size_t data = (header + 3 + 7) / 8;
      const std::size_t length = run.bytes[data] | (run.bytes[data + 1] << 8);
      std::memcpy(out + used, run.bytes + data, 4 + length);
      used += 4 + length;
      from = (data + 4 + length) * 8;
    }
    Join(run.bytes + from / 8, run.bits - from);
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
  // Queues a job, waiting while two are waiting; with `orNot`, returns an empty future at once
  // instead of waiting, and the job is not queued.
  std::future<void> Submit(std::packaged_task<void()> job, bool orNot = false) {
    std::unique_lock lock(mutex);
    if (orNot && jobs.size() >= 2) return {};
    std::future<void> done = job.get_future();
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

// The libdeflate level of an effort. By default level 5: on drawings' pages and images it writes
// about 3 % less than zlib's default level and runs several times faster (its level 6 writes
// half a percent less again but takes a third longer).
int LibdeflateLevel(DeflateEffort e) {
  return e == DeflateEffort::Fast ? 1 : e == DeflateEffort::Small ? 12 : 5;
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

// The second byte of a zlib header for a libdeflate level: the check bits and the level class
// zlib would name.
std::uint8_t ZlibFlags(int level) {
  return level < 2 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
}

// Finds where a raw deflate run that ends its stream (its last block marked final) ends, to
// the bit, by inflating it a block at a time, clears the bits after that end and notes where
// its stored blocks begin. Unless `keepFinal`, the last block also loses its final mark, so
// that another run can follow it. Returns the number of bits the run takes, 0 when it does not
// inflate to its end.
std::size_t EndRun(std::uint8_t* run, std::size_t n, bool keepFinal,
                   std::vector<std::size_t>& stored) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return 0;
  thread_local std::uint8_t scratch[65536];
  zs.next_in = run;
  zs.avail_in = static_cast<uInt>(n);
  std::size_t blockStart = 0;  // in bits, where the block being inflated begins
  std::size_t lastStart = 0, lastEnd = 0;
  const auto noteStored = [&](std::size_t at) {
    // The block type is the two bits after the final mark; 0 is a stored block.
    const std::size_t byte = at / 8;
    const unsigned word = run[byte] | (byte + 1 < n ? run[byte + 1] << 8 : 0);
    if (((word >> (at % 8 + 1)) & 3) == 0) stored.push_back(at);
  };
  noteStored(0);
  while (lastEnd == 0) {
    zs.next_out = scratch;
    zs.avail_out = sizeof scratch;
    if (inflate(&zs, Z_BLOCK) != Z_OK) break;  // the loop ends before Z_STREAM_END
    // At a block's end data_type holds 128, 64 when that block was the last, and the number of
    // bits of the bytes read that are not yet used.
    if (!(zs.data_type & 128)) continue;
    const std::size_t at = (n - zs.avail_in) * 8 - static_cast<std::size_t>(zs.data_type & 63);
    if (zs.data_type & 64) {
      lastStart = blockStart;
      lastEnd = at;
    } else {
      noteStored(at);
    }
    blockStart = at;
  }
  inflateEnd(&zs);
  if (lastEnd == 0) return 0;
  if (!keepFinal) run[lastStart / 8] &= static_cast<std::uint8_t>(~(1u << (lastStart % 8)));
  if (lastEnd % 8) run[lastEnd / 8] &= static_cast<std::uint8_t>((1u << (lastEnd % 8)) - 1);
  return lastEnd;
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
    deflater.reset(new (std::nothrow) Deflater);
    if (!deflater) return false;
  }
  if (deflater->failed) return false;
  // The piece always leaves the buffer, so that the pieces are cut alike whichever thread
  // deflates them.
  std::int32_t length = 0;
  std::uint8_t* piece = DetachData(length);
  const auto n = static_cast<std::size_t>(length);
  try {
    auto run = std::make_shared<Run>();
    std::future<void> done;
    if (CDeflateThread* thread = DeflateThread()) {
      // Handed to the deflating thread while fewer than two pieces wait for it; otherwise
      // this thread deflates the piece itself, so that both keep deflating.
      const DeflateEffort level = effort;
      done = thread->Submit(std::packaged_task<void()>([run, piece, n, level] {
                              SetDeflateEffort(level);
                              run->made = MakeRun(piece, n, false, *run);
                              std::free(piece);
                            }),
                            true);
    }
    if (!done.valid()) {
      run->made = MakeRun(piece, n, false, *run);
      std::free(piece);
    }
    pieces.push_back({std::move(run), std::move(done)});
  } catch (const std::exception&) {
    std::free(piece);
    deflater->failed = true;
    return false;
  }
  // Runs join in the order of their pieces, as soon as they and those before them are made;
  // more than a few waiting means the deflating thread is behind: wait for it.
  JoinRuns(pieces.size() > 4);
  return !deflater->failed;
}

void CPdfContentStream::JoinRuns(bool wait) {
  while (!pieces.empty()) {
    Piece& first = pieces.front();
    if (first.done.valid()) {
      if (!wait && first.done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return;
      }
      try {
        first.done.get();
      } catch (const std::exception&) {
        first.run->made = false;  // memory ran short on the deflating thread
      }
    }
    if (!first.run->made) deflater->failed = true;
    AddRun(*first.run, false);
    pieces.pop_front();
    wait = wait && pieces.size() > 4;
  }
}

bool CPdfContentStream::DeflateData(bool finish) {
  Run run;
  if (!MakeRun(Data(), static_cast<std::size_t>(Length()), finish, run)) deflater->failed = true;
  if (!AddRun(run, finish)) return false;
  ClearData();
  return true;
}

bool CPdfContentStream::MakeRun(const std::uint8_t* bytes, std::size_t n, bool last, Run& run) {
  run.length = n;
  if (n == 0) return true;
  // Each piece is deflated whole by libdeflate, which is much faster than zlib but cannot go
  // on from where the previous piece ended: a piece starts without the previous one's 32 KiB
  // of history, which costs little at a piece's size.
  libdeflate_compressor* compressor = Compressor();
  if (!compressor) return false;
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor, n);
  run.bytes = static_cast<std::uint8_t*>(std::malloc(bound));
  if (!run.bytes) return false;
  const std::size_t made = libdeflate_deflate_compress(compressor, bytes, n, run.bytes, bound);
  if (made == 0) return false;
  run.bits = EndRun(run.bytes, made, last, run.stored);
  run.adler = libdeflate_adler32(1, bytes, n);
  return run.bits != 0;
}

bool CPdfContentStream::AddRun(const Run& run, bool finish) {
  Deflater& d = *deflater;
  if (d.failed) return false;
  // Room: the run (a stored block may take a byte more), the zlib header, an empty last block
  // and the checksum.
  if (!d.Room((run.bits + 7) / 8 + run.stored.size() + 16)) {
    d.failed = true;
    return false;
  }
  if (d.used == 0) {
    d.Put(0x78);
    d.Put(ZlibFlags(LibdeflateLevel(effort)));
  }
  if (run.bits > 0) {
    d.JoinRun(run);
    d.adler = static_cast<std::uint32_t>(
        adler32_combine(d.adler, run.adler, static_cast<z_off_t>(run.length)));
  } else if (finish) {
    // The runs so far all go on: an empty block, fixed codes, marked final (the bits 1, 1, 0
    // and a seven-bit end code of zeros), ends the stream.
    static const std::uint8_t kLastEmptyBlock[2] = {0x03, 0x00};
    d.Join(kLastEmptyBlock, 10);
  }
  if (finish) {
    d.bits = 0;  // the checksum starts on the next whole byte
    for (const int shift : {24, 16, 8, 0}) d.Put(static_cast<std::uint8_t>(d.adler >> shift));
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
    // When the deflating thread is two streams behind, this thread deflates this one itself
    // rather than wait: a drawing of many images keeps both cores deflating.
    pending = thread->Submit(std::packaged_task<void()>([this, level] {
                               SetDeflateEffort(level);
                               CompressNow();
                             }),
                             true);
  } catch (const std::exception&) {
    pending = {};
  }
  if (!pending.valid()) CompressNow();
}

void CPdfContentStream::CompressNow() {
  if (compressed) return;
  if (deflater) {
    // The earlier pieces are deflated (or being deflated): finish with the rest. If deflating
    // failed on the way, part of the data is gone and the stream is written empty rather than
    // wrong.
    while (!pieces.empty()) JoinRuns(true);
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
