// A page drawn through the device, saved, checked and rendered by poppler: what a user sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pdf/PdfDocument.h"
#include "pensets/PenSet.h"
#include "platform/Dib.h"
#include "render/PdfExport.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

TEST(RenderedPage, ShowsLinesFillsClipsAndImagesWhereTheyWereDrawn) {
  TempDir dir;
  CPdfDocument doc;
  doc.PageTreeRoot()->SetMediaBox(612, 792);
  CPdfPage* page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
  page->SetMediaBox(612, 792);
  doc.ShareResources(page);
  CPdfContentStream* content = page->AddContentStream(&doc.nextObjectNumber);

  CPenSet pens;
  CPdfExport device;
  device.Document = &doc;
  device.Page = page;
  device.Content = content;
  device.PenSet = &pens;
  device.OffsetX = device.OffsetY = 36;  // half an inch of margin
  ASSERT_TRUE(device.BeginPage(0, 0, 0, 540, 720));

  // A thick red line on layer WALLS, along y = 700 on the page.
  device.BeginEntityDraw("LINE", "", "WALLS", 0, "", "", nullptr);
  device.SetColor(0x0000FF, 1);
  device.SetLineWidth(10);
  device.MoveTo(64, 664);
  device.LineTo(464, 664);
  device.EndEntityDraw();

  // A blue fill over the lower half of the page, clipped to the square 100 … 300.
  PointStruct clip[] = {{64, 64}, {264, 64}, {264, 264}, {64, 264}, {64, 64}};
  device.SetLineWidth(0);
  device.PushClipPolygon(5, clip);
  device.BeginEntityDraw("HATCH", "", "FILL", 0, "", "", nullptr);
  device.SetColor(0xFF0000, 5);
  PointStruct half[] = {{-36, -36}, {576, -36}, {576, 364}, {-36, 364}};
  device.Polygon(0, 3, half);
  device.EndEntityDraw();
  device.PopClipPolygon();

  // An image of 2 × 2 pixels, green below and yellow above (the first stored row is the
  // bottom one), filling 400 … 500 × 100 … 200 on the page.
  auto dib = CDib::Create(2, 2, 24);
  for (int x = 0; x < 2; ++x) {
    dib->SetPixelRgb(x, 0, 0, 200, 0);
    dib->SetPixelRgb(x, 1, 200, 200, 0);
  }
  device.Raster(364, 64, 100, 100, 0, 0, 2, 2, nullptr, dib.get(), 0, nullptr);
  device.EndPage();

  AddDocumentInformation(doc, {}, "D:20070115093000+01'00'");
  const auto path = dir / "page.pdf";
  ASSERT_TRUE(doc.Save(path.string()));
  ASSERT_TRUE(CheckPdfFile(path));

  const RenderedPage picture = RenderAt72Dpi(path, dir / "page");
  ASSERT_EQ(picture.width, 612);
  ASSERT_EQ(picture.height, 792);
  EXPECT_EQ(picture.HexAt(300, 700), "FF0000") << "the red line";
  EXPECT_EQ(picture.HexAt(300, 712), "FFFFFF") << "above the line's width";
  EXPECT_EQ(picture.HexAt(200, 200), "0000FF") << "the fill inside the clip";
  EXPECT_EQ(picture.HexAt(50, 50), "FFFFFF") << "the fill is cut off left of the clip";
  EXPECT_EQ(picture.HexAt(200, 350), "FFFFFF") << "and above it";
  EXPECT_EQ(picture.HexAt(450, 120), "00C800") << "the image's bottom row";
  EXPECT_EQ(picture.HexAt(450, 180), "C8C800") << "the image's top row";
  EXPECT_EQ(picture.HexAt(450, 250), "FFFFFF") << "nothing above the image";
}
