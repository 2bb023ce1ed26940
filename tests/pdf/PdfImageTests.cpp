// Raster images: bitmap reading, sample text, names, compression and limits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>

#include "pdf/PdfArray.h"
#include "pdf/PdfDocument.h"
#include "platform/Dib.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// The image stream of the page's resource name.
CPdfContentStream* ImageStream(CPdfPage* page, const std::string& name) {
  const auto* ref = dynamic_cast<const CPdfReference*>(page->XObjects()->Find(name));
  return ref ? static_cast<CPdfContentStream*>(ref->Target()->Object()) : nullptr;
}

// The sample text of an image, inflated when it was compressed.
std::string SampleText(CPdfContentStream* stream) {
  if (!stream->IsCompressed()) {
    return std::string(reinterpret_cast<const char*>(stream->Data()), stream->Length());
  }
  std::string text(64 << 20, '\0');
  uLongf size = text.size();
  if (uncompress(reinterpret_cast<Bytef*>(text.data()), &size, stream->Data(), stream->Length()) !=
      Z_OK) {
    return "?";
  }
  text.resize(size);
  return text;
}

struct ImagePage {
  CPdfDocument doc;
  pdftest::DrawingPage made;
  ImagePage() {
    pdftest::StartDocument(doc);
    made = pdftest::AddDrawingPage(doc, "plan", "Model");
  }
  // Adds the bitmap at its own size and gives its sample text; empty when refused.
  std::string Add(const CDib* dib, std::int32_t width = 0, std::int32_t height = 0) {
    std::string name;
    if (!made.page->AddImage(width ? width : dib->Width(), height ? height : dib->Height(), dib,
                             name, &doc.nextObjectNumber)) {
      return {};
    }
    return SampleText(ImageStream(made.page, name));
  }
};

}  // namespace

TEST(PdfImage, GrayAndBlackAndWhiteImagesGoByLuminance) {
  ImagePage p;
  auto dib = CDib::Create(4, 1, 24);
  dib->SetPixelRgb(0, 0, 255, 0, 0);      // luminance 76
  dib->SetPixelRgb(1, 0, 0, 255, 0);      // 150
  dib->SetPixelRgb(2, 0, 0, 0, 255);      // 29
  dib->SetPixelRgb(3, 0, 200, 200, 200);  // 200
  std::string name;
  ASSERT_TRUE(
      p.made.page->AddImage(4, 1, dib.get(), name, &p.doc.nextObjectNumber, ImageColors::Gray));
  EXPECT_EQ(SampleText(ImageStream(p.made.page, name)), "4C4C4C9696961D1D1DC8C8C8>\r");
  ASSERT_TRUE(p.made.page->AddImage(4, 1, dib.get(), name, &p.doc.nextObjectNumber,
                                    ImageColors::BlackAndWhite));
  EXPECT_EQ(SampleText(ImageStream(p.made.page, name)), "000000FFFFFF000000FFFFFF>\r");
}

TEST(PdfImage, RedAndBlueImageIsWrittenAsInTheExample) {
  TempDir dir;
  ImagePage p;
  // The example's page also carries two layers, so that the image objects get 14 to 16.
  for (const char* layer : {"WALLS", "DOORS"}) {
    p.made.page->GetLayerResource(p.doc.GetLayer(layer), &p.doc.nextObjectNumber);
  }
  auto dib = CDib::Create(2, 1, 24);
  dib->SetPixelRgb(0, 0, 255, 0, 0);
  dib->SetPixelRgb(1, 0, 0, 0, 255);
  std::string name;
  ASSERT_TRUE(p.made.page->AddImage(2, 1, dib.get(), name, &p.doc.nextObjectNumber));
  EXPECT_EQ(name, "IMG1");
  EXPECT_EQ(SampleText(ImageStream(p.made.page, "IMG1")), "FF00000000FF>\r");
  p.made.content->Append("q 2 0 0 -1 0.0 1 cm /IMG1 Do Q ");
  const std::string pdf = pdftest::SaveAndCheck(p.doc, dir);
  EXPECT_TRUE(MatchesGolden(pdftest::ObjectsText(pdf, {7, 14, 15}), "pdf/golden/image.txt"));
  const auto offsets = XrefOffsets(pdf);
  EXPECT_LT(offsets[14], offsets[15]);
  EXPECT_LT(offsets[16], offsets[9]) << "images come before the page's content stream";
}

TEST(PdfImage, NamesCountPerPage) {
  TempDir dir;
  ImagePage p;
  auto dib = CDib::Create(1, 1, 24);
  auto other = CDib::Create(1, 1, 24);
  other->SetPixelRgb(0, 0, 9, 9, 9);
  std::string name;
  ASSERT_TRUE(p.made.page->AddImage(1, 1, dib.get(), name, &p.doc.nextObjectNumber));
  ASSERT_TRUE(p.made.page->AddImage(1, 1, other.get(), name, &p.doc.nextObjectNumber));
  EXPECT_EQ(name, "IMG2");
  auto next = pdftest::AddDrawingPage(p.doc, "plan", "Layout1", p.made.drawingMark);
  ASSERT_TRUE(next.page->AddImage(1, 1, dib.get(), name, &p.doc.nextObjectNumber));
  EXPECT_EQ(name, "IMG1");
  pdftest::SaveAndCheck(p.doc, dir);
}

TEST(PdfImage, APicturePlacedAgainOnAPageIsWrittenOnce) {
  TempDir dir;
  ImagePage p;
  auto dib = CDib::Create(3, 2, 24);
  dib->SetPixelRgb(1, 1, 200, 10, 10);
  auto copy = CDib::Create(3, 2, 24);  // the same picture, made again (as each viewport does)
  copy->SetPixelRgb(1, 1, 200, 10, 10);
  auto changed = CDib::Create(3, 2, 24);
  changed->SetPixelRgb(1, 1, 200, 10, 11);
  std::string first, again, otherPixel, otherMode, otherSize;
  const std::int32_t before = p.doc.nextObjectNumber;
  ASSERT_TRUE(p.made.page->AddImage(3, 2, dib.get(), first, &p.doc.nextObjectNumber));
  const std::int32_t afterFirst = p.doc.nextObjectNumber;
  ASSERT_TRUE(p.made.page->AddImage(3, 2, copy.get(), again, &p.doc.nextObjectNumber));
  EXPECT_EQ(again, first);
  EXPECT_EQ(p.doc.nextObjectNumber, afterFirst) << "no object for the second placement";
  EXPECT_GT(afterFirst, before);
  // One sample, the colour mode or the size differ: a picture of its own.
  ASSERT_TRUE(p.made.page->AddImage(3, 2, changed.get(), otherPixel, &p.doc.nextObjectNumber));
  ASSERT_TRUE(p.made.page->AddImage(3, 2, dib.get(), otherMode, &p.doc.nextObjectNumber,
                                    ImageColors::Gray));
  ASSERT_TRUE(p.made.page->AddImage(4, 2, dib.get(), otherSize, &p.doc.nextObjectNumber));
  EXPECT_EQ(std::set<std::string>({first, otherPixel, otherMode, otherSize}).size(), 4u);
  pdftest::SaveAndCheck(p.doc, dir);
}

TEST(PdfImage, ReadsIndexedBitmapsThroughTheirColourTable) {
  ImagePage p;
  auto mono = CDib::Create(10, 1, 1);
  mono->ColorTable()[0] = RgbQuad{0, 0, 0, 0};
  mono->ColorTable()[1] = RgbQuad{255, 255, 255, 0};
  mono->SetPixelIndex(0, 0, 1);
  mono->SetPixelIndex(9, 0, 1);
  EXPECT_EQ(p.Add(mono.get()), "FFFFFF" + std::string(8 * 6, '0') + "FFFFFF>\r");

  auto nibbles = CDib::Create(3, 1, 4);
  nibbles->ColorTable()[5] = RgbQuad{0x30, 0x20, 0x10, 0};  // blue, green, red
  nibbles->ColorTable()[10] = RgbQuad{0xCC, 0xBB, 0xAA, 0};
  nibbles->SetPixelIndex(0, 0, 5);
  nibbles->SetPixelIndex(1, 0, 10);
  nibbles->SetPixelIndex(2, 0, 5);
  EXPECT_EQ(p.Add(nibbles.get()), "102030AABBCC102030>\r");

  auto bytes = CDib::Create(2, 1, 8);
  bytes->ColorTable()[200] = RgbQuad{3, 2, 1, 0};
  bytes->SetPixelIndex(1, 0, 200);
  EXPECT_EQ(p.Add(bytes.get()), "000000010203>\r");
}

TEST(PdfImage, ReadsRowsBottomUpAndIgnoresTheFourthByteOfDeepPixels) {
  ImagePage p;
  auto dib = CDib::Create(2, 2, 32);
  dib->SetPixelRgb(0, 0, 1, 2, 3);  // storage row 0 is the bottom row
  dib->SetPixelRgb(1, 1, 0xA, 0xB, 0xC);
  dib->Row(0)[3] = 0xEE;  // the unused byte of pixel (0, 0)
  EXPECT_EQ(p.Add(dib.get()),
            "010203000000"
            "0000000A0B0C>\r");
}

TEST(PdfImage, PixelsBeyondTheBitmapRepeatItsFirstPixel) {
  ImagePage p;
  auto dib = CDib::Create(1, 1, 24);
  dib->SetPixelRgb(0, 0, 0x12, 0x34, 0x56);
  EXPECT_EQ(p.Add(dib.get(), 2, 2), "123456123456123456123456>\r");
}

TEST(PdfImage, RefusedImagesAddNothingAndUseNoObjectNumber) {
  TempDir dir;
  ImagePage p;
  const std::int32_t before = p.doc.nextObjectNumber;
  std::string name;
  EXPECT_FALSE(p.made.page->AddImage(2, 2, nullptr, name, &p.doc.nextObjectNumber));
  auto dib = CDib::Create(1, 1, 24);
  EXPECT_FALSE(p.made.page->AddImage(0, 5, dib.get(), name, &p.doc.nextObjectNumber));
  // 20,000 × 20,000 pixels would need 2.4 GB of sample text, more than one stream holds.
  EXPECT_FALSE(p.made.page->AddImage(20000, 20000, dib.get(), name, &p.doc.nextObjectNumber));
  EXPECT_FALSE(
      p.made.page->AddImage(INT32_MAX, INT32_MAX, dib.get(), name, &p.doc.nextObjectNumber));
  EXPECT_EQ(p.doc.nextObjectNumber, before);
  EXPECT_EQ(p.made.page->XObjects(), nullptr);
  const std::string pdf = pdftest::SaveAndCheck(p.doc, dir);
  EXPECT_EQ(ObjectText(pdf, 7).find("/XObject"), std::string::npos);
}

TEST(PdfImage, TextAbove100MegabytesStaysUncompressed) {
  // 17,476,266 pixels make 104,857,598 bytes of text, deflated; one more row of 4181 pixels
  // passes 104,857,600 and is kept as hexadecimal text.
  ImagePage p;
  auto dib = CDib::Create(1, 1, 24);
  std::string name;
  ASSERT_TRUE(p.made.page->AddImage(17476266, 1, dib.get(), name, &p.doc.nextObjectNumber));
  CPdfContentStream* below = ImageStream(p.made.page, name);
  EXPECT_TRUE(below->IsCompressed());
  ASSERT_TRUE(p.made.page->AddImage(4181, 4180, dib.get(), name, &p.doc.nextObjectNumber));
  CPdfContentStream* above = ImageStream(p.made.page, name);
  EXPECT_FALSE(above->IsCompressed());
  EXPECT_EQ(above->Length(), 4181 * 4180 * 6 + 2);
  const auto* filter = dynamic_cast<CPdfArray*>(above->Dictionary()->Find("Filter"));
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(filter->Count(), 1);
  EXPECT_EQ(static_cast<CPdfName*>(filter->GetAt(0))->Text(), "ASCIIHexDecode");
}

TEST(PdfImage, StencilMasksPaintTheirSetPixelsAlone) {
  TempDir dir;
  ImagePage p;
  auto mask = CDib::Create(9, 2, 1);
  mask->SetPixelIndex(0, 0, 1);
  mask->SetPixelIndex(8, 0, 1);
  mask->SetPixelIndex(3, 1, 1);
  std::string name;
  ASSERT_TRUE(p.made.page->AddImageMask(9, 2, mask.get(), name, &p.doc.nextObjectNumber));
  CPdfContentStream* stream = ImageStream(p.made.page, name);
  ASSERT_NE(stream, nullptr);
  // Bottom row first, as the colour images; the bits past the ninth pixel are not painted.
  EXPECT_EQ(SampleText(stream), "80801000>\r");
  const auto* imageMask = dynamic_cast<const CPdfBoolean*>(stream->Dictionary()->Find("ImageMask"));
  ASSERT_NE(imageMask, nullptr);
  EXPECT_TRUE(imageMask->Value());
  EXPECT_EQ(stream->Dictionary()->Find("ColorSpace"), nullptr) << "a mask has no colours";
  auto colour = CDib::Create(1, 1, 24);
  EXPECT_FALSE(p.made.page->AddImageMask(1, 1, colour.get(), name, &p.doc.nextObjectNumber))
      << "only 1-bit bitmaps are masks";
  p.made.content->Append("0.0 0.0 1 rg q 9 0 0 -2 0.0 2 cm /IMG1 Do Q ");
  pdftest::SaveAndCheck(p.doc, dir);
}

TEST(PdfImage, BitmapsWithAlphaCarryASoftMask) {
  TempDir dir;
  ImagePage p;
  auto dib = CDib::Create(2, 1, 32);
  dib->SetPixelRgb(0, 0, 255, 0, 0);
  dib->SetPixelRgb(1, 0, 0, 0, 255);
  dib->Row(0)[3] = 0x00;
  dib->Row(0)[7] = 0x80;
  dib->SetHasAlpha(true);
  std::string name;
  ASSERT_TRUE(p.made.page->AddImage(2, 1, dib.get(), name, &p.doc.nextObjectNumber));
  CPdfContentStream* stream = ImageStream(p.made.page, name);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SampleText(stream), "FF00000000FF>\r") << "colours as stored, not composited";
  const auto* ref = dynamic_cast<const CPdfReference*>(stream->Dictionary()->Find("SMask"));
  ASSERT_NE(ref, nullptr);
  auto* mask = static_cast<CPdfContentStream*>(ref->Target()->Object());
  EXPECT_EQ(SampleText(mask), "0080>\r");
  EXPECT_EQ(p.made.page->XObjects()->Count(), 1) << "the soft mask is no resource of the page";

  auto opaque = CDib::Create(1, 1, 32);
  ASSERT_TRUE(p.made.page->AddImage(1, 1, opaque.get(), name, &p.doc.nextObjectNumber));
  EXPECT_EQ(ImageStream(p.made.page, name)->Dictionary()->Find("SMask"), nullptr)
      << "without alpha the fourth byte means nothing";
  p.made.content->Append("q 2 0 0 -1 0.0 1 cm /IMG1 Do Q ");
  pdftest::SaveAndCheck(p.doc, dir);
}
