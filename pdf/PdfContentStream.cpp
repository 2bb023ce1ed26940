#include "pdf/PdfContentStream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

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

CPdfContentStream::~CPdfContentStream() = default;

namespace {

thread_local DeflateEffort effort = DeflateEffort::Default;

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
  return DeflateData(false);
}

bool CPdfContentStream::DeflateData(bool finish) {
  Deflater& d = *deflater;
  if (d.failed) return false;
  d.zs.next_in = const_cast<Bytef*>(Data());
  d.zs.avail_in = static_cast<uInt>(Length());
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
  ClearData();
  return true;
}

void CPdfContentStream::Compress() {
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
  if (Length() == 0) return;
  CPdfStream::WriteData(file);
  ReleaseData();
}

void CPdfContentStream::Write(std::FILE* file, CPdfXrefTable* xref) {
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
