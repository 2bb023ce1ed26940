#pragma once

#include <deque>
#include <future>
#include <memory>

#include "pdf/PdfStream.h"

// How hard streams are deflated, for the thread that makes the document: the fastest level, the
// default (output no larger than zlib's default, much faster), or the smallest output.
enum class DeflateEffort { Fast, Default, Small };
// The effort of the streams this thread deflates from now on (Default until set). A run sets
// it on each of its threads, so runs side by side may differ.
void SetDeflateEffort(DeflateEffort effort);
DeflateEffort CurrentDeflateEffort();
// Whether streams this thread hands over with CompressSoon (and the pieces of pages deflated in
// pieces) are deflated on a second thread of its own while this one goes on drawing (off until
// set). At most two streams wait for it; while two wait, the thread handing over deflates the
// next one itself, and a page's next piece too while the previous one is being deflated.
void SetBackgroundDeflate(bool on);

// A stream that can be deflated: a page's content or an image's samples. It is filled by
// appends, deflated once after the last append, and written once; writing releases its data.
class CPdfContentStream : public CPdfStream {
 public:
  explicit CPdfContentStream(std::int32_t* nextObjectNumber);
  ~CPdfContentStream() override;

  // Deflates the data (libdeflate, at the thread's effort) into a zlib stream and names
  // FlateDecode first in the dictionary's Filter array. On failure the data stays as it was,
  // silently.
  void Compress() override;
  // Compress, on the thread's deflating thread when it has one (SetBackgroundDeflate). The
  // stream must then be left alone until Compress, Write, IsCompressed or its destruction,
  // which wait for the deflating to end.
  void CompressSoon();
  // Writes the data and releases it.
  void WriteData(std::FILE* file) override;
  // Drops a FlateDecode left in Filter when the data was not deflated, then writes the stream.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

  // From now on, whenever more than `piece` bytes have been appended, they are deflated at
  // once and only the deflated bytes are kept, so a page of hundreds of megabytes of operators
  // never sits whole in memory. Data() then holds only the bytes not yet deflated; Compress
  // (or Write, if Compress is not called) finishes the deflated data. Call before the first
  // append; a stream that never reaches `piece` bytes is deflated by Compress as usual.
  void DeflateInPieces(std::int32_t piece = 2 * 1048576);

  bool IsCompressed() {
    Wait();
    return compressed;
  }

 protected:
  bool TakeData() override;

 private:
  struct Deflater;
  struct Run;
  // Deflates the data not yet deflated and adds it to the deflated data; with finish, ends it.
  bool DeflateData(bool finish);
  // Deflates n bytes into a run (the last of the stream when `last`), on the calling thread.
  static bool MakeRun(const std::uint8_t* bytes, std::size_t n, bool last, Run& run);
  // Adds a run to the deflated data, after those added before; with finish, ends it. False
  // (and the deflated data failed for good) when memory is short or deflating failed before.
  bool AddRun(const Run& run, bool finish);
  // Adds the runs of the pieces taken so far, in order, as far as they are made; with wait,
  // waits for them while more than four are not yet added.
  void JoinRuns(bool wait);
  // Compress on this thread, without waiting.
  void CompressNow();
  // Waits until the deflating thread is done with this stream.
  void Wait();

  bool compressed = false;
  std::int32_t pieceLength = 0;
  std::unique_ptr<Deflater> deflater;
  // The pieces taken but not yet added to the deflated data, in order: each one's run, and
  // while the deflating thread makes it, the sign that it is done.
  struct Piece {
    std::shared_ptr<Run> run;
    std::future<void> done;
  };
  std::deque<Piece> pieces;
  // Set while the deflating thread works on this stream.
  std::future<void> pending;
};
