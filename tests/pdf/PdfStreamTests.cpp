// Streams: written form, length object, growth, limits and compression.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pdf/PdfArray.h"
#include "pdf/PdfContentStream.h"
#include "pdf/PdfIndirectObject.h"
#include "pdf/PdfXrefTable.h"

namespace {

std::string Written(CPdfIndirectObject& object) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&buffer, &size);
  CPdfXrefTable xref;
  object.Write(file, &xref);
  std::fclose(file);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

std::string Inflate(const std::uint8_t* data, std::size_t size) {
  std::string out(1 << 20, '\0');
  uLongf outSize = out.size();
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize, data, size) != Z_OK) return "?";
  out.resize(outSize);
  return out;
}

}  // namespace

TEST(PdfStream, IsWrittenWithItsLengthObjectRightAfter) {
  int32_t counter = 9;
  CPdfIndirectObject holder(&counter);
  auto* stream = new CPdfStream(&counter);
  holder.SetObject(stream);
  const std::string data(100, 'a');
  ASSERT_TRUE(stream->Append(data.data(), 100));
  EXPECT_EQ(Written(holder), "9 0 obj\n<</Length 10 0 R>>\nstream\n" + data +
                                 "\nendstream\nendobj\n10 0 obj\n101\nendobj\n")
      << "100 data bytes give the Length 101";
}

TEST(PdfStream, GrowsInStepsOfOneMegabyteAndDoublesForLargePieces) {
  int32_t counter = 1;
  CPdfStream stream(&counter);
  const std::string piece(10, 'x');
  ASSERT_TRUE(stream.Append(piece.data(), 10));
  EXPECT_EQ(stream.Capacity(), 1048576);
  const std::string big(3 * 1048576, 'y');
  ASSERT_TRUE(stream.Append(big.data(), static_cast<int32_t>(big.size())));
  EXPECT_EQ(stream.Capacity(), 1048576 + 6 * 1048576) << "a piece above the step doubles it";
  EXPECT_EQ(stream.Length(), 10 + 3 * 1048576);
  EXPECT_EQ(stream.Data()[10], 'y');
}

TEST(PdfStream, RefusesGrowthPastTheLargestLength) {
  int32_t counter = 1;
  CPdfStream stream(&counter);
  ASSERT_TRUE(stream.Append("abc", 3));
  EXPECT_FALSE(stream.Reserve(CPdfStream::kMaxLength));
  EXPECT_FALSE(stream.Append("abc", -1));
  EXPECT_FALSE(stream.Reserve(INT32_MAX));
  EXPECT_EQ(stream.Length(), 3) << "a refused growth changes nothing";
  EXPECT_EQ(stream.Capacity(), 1048576);
}

TEST(PdfContentStream, CompressesWithFlateAndWritesTheInflatableData) {
  int32_t counter = 9;
  CPdfIndirectObject holder(&counter);
  auto* stream = new CPdfContentStream(&counter);
  holder.SetObject(stream);
  const std::string content = "1 J 1 j 0.0 w 10 20.46 m 30 40 l S ";
  stream->Append(content.c_str());
  stream->Compress();
  ASSERT_TRUE(stream->IsCompressed());
  EXPECT_EQ(Inflate(stream->Data(), stream->Length()), content);
  const std::string text = Written(holder);
  const std::string head = "9 0 obj\n<</Filter [/FlateDecode]\n/Length 10 0 R>>\nstream\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(stream->Length(), 0) << "writing releases the data";
  EXPECT_EQ(Written(holder).find("\nstream\n\nendstream"), head.size() - 8)
      << "a second write has an empty body";
}

TEST(PdfContentStream, NamesFlateBeforeAFilterAlreadyListed) {
  int32_t counter = 1;
  CPdfContentStream stream(&counter);
  auto* filter = new CPdfArray;
  filter->Add("ASCIIHexDecode");
  stream.Dictionary()->Set("Filter", filter);
  stream.Append("0A0B>\r", 6);
  stream.Compress();
  ASSERT_EQ(filter->Count(), 2);
  EXPECT_EQ(static_cast<CPdfName*>(filter->GetAt(0))->Text(), "FlateDecode");
  EXPECT_EQ(static_cast<CPdfName*>(filter->GetAt(1))->Text(), "ASCIIHexDecode");
}

TEST(PdfContentStream, DropsAFlateFilterWhenTheDataIsNotDeflated) {
  int32_t counter = 1;
  CPdfIndirectObject holder(&counter);
  auto* stream = new CPdfContentStream(&counter);
  holder.SetObject(stream);
  auto* filter = new CPdfArray;
  filter->Add("FlateDecode");
  stream->Dictionary()->Set("Filter", filter);
  stream->Append("S ", 2);
  EXPECT_EQ(Written(holder).substr(0, 30), "1 0 obj\n<</Length 2 0 R>>\nstre")
      << "a stream that was never compressed must not claim FlateDecode";
}

TEST(PdfContentStream, CompressesAnEmptyStream) {
  int32_t counter = 1;
  CPdfContentStream stream(&counter);
  stream.Compress();
  ASSERT_TRUE(stream.IsCompressed());
  EXPECT_EQ(Inflate(stream.Data(), stream.Length()), "");
}

// Operators made of varied numbers, so that deflating them takes many output blocks.
std::string VariedOperators(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += std::to_string((i * 7919LL) % 100003) + ' ' + std::to_string((i * 104729LL) % 99991) +
            (i % 5 == 0 ? " m " : " l ");
  }
  return text;
}

// Each effort writes a zlib stream that inflates to the operators; more effort, fewer bytes.
TEST(PdfContentStream, EveryEffortInflatesToTheDataAndMoreEffortWritesLess) {
  const std::string text = VariedOperators(60000);
  std::int32_t sizes[3] = {};
  for (const DeflateEffort effort :
       {DeflateEffort::Fast, DeflateEffort::Default, DeflateEffort::Small}) {
    SetDeflateEffort(effort);
    int32_t counter = 1;
    CPdfContentStream stream(&counter);
    stream.Append(text.data(), static_cast<std::int32_t>(text.size()));
    stream.Compress();
    ASSERT_TRUE(stream.IsCompressed());
    EXPECT_EQ(Inflate(stream.Data(), stream.Length()), text);
    sizes[static_cast<int>(effort)] = stream.Length();
  }
  SetDeflateEffort(DeflateEffort::Default);
  EXPECT_GT(sizes[0], sizes[1]);
  EXPECT_GT(sizes[1], sizes[2]);
}

TEST(PdfContentStream, DeflatedInPiecesKeepsOnlyAPieceAndInflatesToEveryAppend) {
  int32_t counter = 9;
  CPdfIndirectObject holder(&counter);
  auto* stream = new CPdfContentStream(&counter);
  holder.SetObject(stream);
  stream->DeflateInPieces(4096);
  const std::string content = VariedOperators(200000);
  ASSERT_GT(content.size(), 2u * 1048576) << "more than two buffers full";
  for (std::size_t at = 0; at < content.size(); at += 997) {
    const auto n = static_cast<int32_t>(std::min<std::size_t>(997, content.size() - at));
    ASSERT_TRUE(stream->Append(content.data() + at, n));
  }
  EXPECT_EQ(stream->Capacity(), 1048576) << "a full buffer is deflated, not grown";
  EXPECT_LT(stream->Length(), 1048576);

  // Written without a Compress call: Write finishes the deflated data itself.
  const std::string text = Written(holder);
  EXPECT_NE(text.find("/Filter [/FlateDecode]"), std::string::npos) << text.substr(0, 80);
  const std::size_t start = text.find("stream\n") + 7;
  const std::size_t end = text.find("\nendstream");
  std::string out(content.size() + 16, '\0');
  uLongf outSize = out.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize,
                       reinterpret_cast<const Bytef*>(text.data() + start), end - start),
            Z_OK);
  out.resize(outSize);
  EXPECT_EQ(out, content);
}

TEST(PdfContentStream, DeflatedInPiecesButSmallerThanAPieceIsDeflatedWhole) {
  int32_t counter = 1;
  CPdfContentStream stream(&counter);
  stream.DeflateInPieces(1 << 20);
  const std::string content = VariedOperators(100);
  stream.Append(content.c_str());
  EXPECT_EQ(stream.Length(), static_cast<int32_t>(content.size())) << "nothing taken yet";
  stream.Compress();
  ASSERT_TRUE(stream.IsCompressed());
  EXPECT_EQ(Inflate(stream.Data(), static_cast<std::size_t>(stream.Length())), content);
}

// Inflates a zlib stream fed in slices of 10 KiB into a 64 KiB buffer, as viewers read a file:
// true when it ends on its last byte, with its checksum, and never stalls on the way.
bool InflatesInSlices(const std::uint8_t* data, std::size_t size, std::string& out) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  std::uint8_t buffer[65536];
  int result = Z_OK;
  for (std::size_t at = 0; at < size && result == Z_OK; at += 10240) {
    zs.next_in = const_cast<Bytef*>(data + at);
    zs.avail_in = static_cast<uInt>(std::min<std::size_t>(10240, size - at));
    do {
      zs.next_out = buffer;
      zs.avail_out = sizeof buffer;
      result = inflate(&zs, Z_SYNC_FLUSH);
      out.append(reinterpret_cast<char*>(buffer), sizeof buffer - zs.avail_out);
    } while (result == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
  }
  const bool ended = result == Z_STREAM_END && zs.avail_in == 0 && zs.total_in == size;
  inflateEnd(&zs);
  return ended;
}

// Pieces of any kind join into one zlib stream at every effort: operators, samples that do not
// deflate (stored blocks) and long runs of one byte, so that the pieces end on every kind of
// block and on varied bits.
TEST(PdfContentStream, PiecesOfEveryKindJoinIntoOneStreamAtEveryEffort) {
  std::string content;
  std::mt19937 random(7);
  for (int round = 0; round < 2; ++round) {
    content += VariedOperators(30000 + round * 777);
    for (int i = 0; i < 200000; ++i) content += static_cast<char>(random());
    content += std::string(400000 + round, 'x');
  }
  for (const DeflateEffort effort :
       {DeflateEffort::Fast, DeflateEffort::Default, DeflateEffort::Small}) {
    std::thread([&] {
      SetDeflateEffort(effort);
      SetBackgroundDeflate(true);
      int32_t counter = 1;
      CPdfContentStream stream(&counter);
      stream.DeflateInPieces(4096);
      for (std::size_t at = 0; at < content.size(); at += 4999) {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(4999, content.size() - at));
        ASSERT_TRUE(stream.Append(content.data() + at, n));
      }
      stream.Compress();
      ASSERT_TRUE(stream.IsCompressed());
      std::string out;
      EXPECT_TRUE(InflatesInSlices(stream.Data(), static_cast<std::size_t>(stream.Length()), out))
          << "effort " << static_cast<int>(effort);
      EXPECT_TRUE(out == content) << "effort " << static_cast<int>(effort);
    }).join();
  }
}

// Streams deflated on a second thread, whole or in pieces, come out byte for byte as those
// deflated on the drawing thread; a stream may be dropped while its deflating runs.
TEST(PdfContentStream, DeflatedInTheBackgroundGivesTheSameBytes) {
  const std::string content = VariedOperators(200000);
  const auto piecewise = [&](bool inBackground) {
    std::string text;
    std::thread([&] {
      SetBackgroundDeflate(inBackground);
      int32_t counter = 9;
      CPdfIndirectObject holder(&counter);
      auto* stream = new CPdfContentStream(&counter);
      holder.SetObject(stream);
      stream->DeflateInPieces(4096);
      for (std::size_t at = 0; at < content.size(); at += 997) {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(997, content.size() - at));
        if (!stream->Append(content.data() + at, n)) return;
      }
      stream->CompressSoon();
      text = Written(holder);
    }).join();
    return text;
  };
  const std::string here = piecewise(false);
  ASSERT_FALSE(here.empty());
  EXPECT_EQ(piecewise(true), here);

  std::vector<std::string> whole(2);
  for (const bool inBackground : {false, true}) {
    std::thread([&] {
      SetBackgroundDeflate(inBackground);
      int32_t counter = 1;
      std::vector<std::unique_ptr<CPdfContentStream>> streams;
      for (int i = 0; i < 5; ++i) {
        streams.push_back(std::make_unique<CPdfContentStream>(&counter));
        const std::string part = content.substr(static_cast<std::size_t>(i) * 100000, 300000);
        streams.back()->Append(part.data(), static_cast<int32_t>(part.size()));
        streams.back()->CompressSoon();
      }
      auto dropped = std::make_unique<CPdfContentStream>(&counter);
      dropped->Append(content.data(), static_cast<int32_t>(content.size()));
      dropped->CompressSoon();
      dropped.reset();
      for (auto& stream : streams) {
        ASSERT_TRUE(stream->IsCompressed());
        whole[inBackground] +=
            std::string(reinterpret_cast<const char*>(stream->Data()), stream->Length());
      }
    }).join();
  }
  EXPECT_FALSE(whole[0].empty());
  EXPECT_EQ(whole[1], whole[0]);
}
