// The export device: polylines, state caches, colour modes, pen sets, layers, clips, rasters.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "pdf/PdfDocument.h"
#include "pensets/PenSet.h"
#include "platform/ColorPalette.h"
#include "platform/Dib.h"
#include "render/PdfExport.h"

namespace {

// A page of a new document with a device drawing into it, as the conversion sets it up.
struct Device {
  CPdfDocument doc;
  CPdfPage* page = nullptr;
  CPdfContentStream* content = nullptr;
  CPdfExport device;
  CPenSet pens;
  std::size_t mark = 0;

  Device() {
    page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
    doc.ShareResources(page);
    content = page->AddContentStream(&doc.nextObjectNumber);
    device.Document = &doc;
    device.Page = page;
    device.Content = content;
    device.PenSet = &pens;
    device.BeginPage(0, 0, 0, 612, 792);
    mark = content->Length();
  }
  // What the device wrote since the last call (after BeginPage for the first).
  std::string Written() {
    std::string text(reinterpret_cast<const char*>(content->Data()) + mark,
                     content->Length() - mark);
    mark = content->Length();
    return text;
  }
};

}  // namespace

TEST(PdfExport, BeginPageSetsRoundCapsJoinsAndThinLines) {
  Device d;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.content->Data()), d.content->Length()),
            "1 J 1 j 0.0 w ");
}

TEST(PdfExport, JoinsSegmentsThatMeetIntoOnePolyline) {
  Device d;
  d.device.MoveTo(0, 0);
  d.device.LineTo(10, 0);
  d.device.MoveTo(10, 0);
  d.device.LineTo(10, 10);
  EXPECT_EQ(d.Written(), "") << "the polyline waits for more";
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "0.0 0.0 m 10 0.0 l 10 10 l S ");

  d.device.MoveTo(0, 0);
  d.device.LineTo(10, 0);
  d.device.MoveTo(20, 0);
  EXPECT_EQ(d.Written(), "0.0 0.0 m 10 0.0 l S ") << "a gap writes the first polyline at once";
  d.device.MoveTo(30, 0);  // a lone point is replaced
  d.device.LineTo(30, 5);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "30 0.0 m 30 5 l S ");

  d.device.MoveTo(5, 5);
  d.device.LineTo(5, 5);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "5 5 m 5 5 l S ") << "a zero-length segment, shown as a dot";
  d.device.MoveTo(1, 1);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "") << "a single point is dropped";
}

TEST(PdfExport, AddsTheMarginToEveryCoordinate) {
  Device d;
  d.device.OffsetX = 10;
  d.device.OffsetY = 20;
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 1);
  d.device.MoveTo(1, 1);  // joined in page coordinates
  d.device.LineTo(2, 1);
  d.device.Arc(0, 0, 5, 0, 0);
  PointStruct ring[] = {{0, 0}, {4, 0}, {4, 4}};
  d.device.Polygon(0, 2, ring);
  EXPECT_EQ(ring[1].x, 14) << "the caller's polygon points are moved in place";
  d.device.SetPixel(1, 2);
  EXPECT_EQ(d.Written(),
            "10 20 m 11 21 l 12 21 l S "
            "15 20 m 15 22.76 12.76 25 10 25 c 7.24 25 5 22.76 5 20 c 5 17.24 7.24 15 10 15 c "
            "12.76 15 15 17.24 15 20 c s "
            "10 20 m 14 20 l 14 24 l 10 20 l b "
            "11 22 m 11.05 22 l S ");
}

TEST(PdfExport, ArcsAreCirclesForNoOrAFullSweepAndPathsOfTheirOwnOtherwise) {
  Device d;
  d.device.MoveTo(0, 0);
  d.device.LineTo(10, 0);
  d.device.Arc(0, 0, 10, 0, 3.14159265358979 / 2);
  EXPECT_EQ(d.Written(), "0.0 0.0 m 10 0.0 l S 10 0.0 m 10 5.52 5.52 10 0.0 10 c S ");
  d.device.Arc(0, 0, 1, 1, 1 + 2 * 3.14159265358979);
  EXPECT_EQ(d.Written().substr(0, 8), "1 0.0 m ");
  d.device.DrawEnabled = false;
  d.device.Arc(0, 0, 1, 0, 1);
  EXPECT_EQ(d.Written(), "");
}

TEST(PdfExport, WritesColoursOnlyWhenTheyChange) {
  Device d;
  d.device.SetColor(0xFFFFFF, 7);
  EXPECT_EQ(d.Written(), "") << "white becomes black, which is current";
  d.device.SetColor(0x0000FF, 1);
  EXPECT_EQ(d.Written(), "1 0.0 0.0 RG 1 0.0 0.0 rg ");
  d.device.SetColor(0x0000FF, 1);
  EXPECT_EQ(d.Written(), "");
  d.device.SetColor(0x808080, 9);
  EXPECT_EQ(d.Written(), "0.502 G 0.502 g ") << "equal components are written as gray";
  d.device.SetColor(0x01FF8000, 2);  // the top byte is not part of the colour
  EXPECT_EQ(d.Written(), "0.0 0.502 1 RG 0.0 0.502 1 rg ");
}

TEST(PdfExport, GrayAndBlackAndWhiteModes) {
  Device gray;
  gray.device.SetColorType(1);
  gray.device.SetColor(0x0000FF, 1);
  EXPECT_EQ(gray.Written(), "0.298 G 0.298 g ") << "red is level 76";
  Device mono;
  mono.device.SetColorType(2);
  for (int rgb : {0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0xFFFFFF}) mono.device.SetColor(rgb, 1);
  EXPECT_EQ(mono.Written(), "") << "black and white never writes a colour";
}

TEST(PdfExport, ColourChangeInAPolylineContinuesFromItsLastPoint) {
  Device d;
  d.device.MoveTo(0, 0);
  d.device.LineTo(10, 0);
  d.device.SetColor(0x0000FF, 1);
  d.device.LineTo(10, 10);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "0.0 0.0 m 10 0.0 l S 1 0.0 0.0 RG 1 0.0 0.0 rg 10 0.0 m 10 10 l S ");
}

TEST(PdfExport, LineWidthsAreDividedAndCached) {
  Device d;
  d.device.WidthDivisor = 2;
  d.device.SetLineWidth(5);
  EXPECT_EQ(d.Written(), "2 w ") << "integer division";
  d.device.SetLineWidth(5);
  EXPECT_EQ(d.Written(), "");
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 0);
  d.device.SetLineWidth(8);
  d.device.LineTo(2, 0);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "0.0 0.0 m 1 0.0 l S 4 w 1 0.0 m 2 0.0 l S ");

  Device zero;
  zero.device.WidthDivisor = 0;  // a resolution between 11 and 71 dots per inch
  zero.device.SetLineWidth(3);
  EXPECT_EQ(zero.Written(), "3 w ");
}

TEST(PdfExport, PenSetGivesColourAndWidthAndOverridesLineWidths) {
  Device d;
  d.device.UsePenTable = true;
  d.pens.entries[1] = PenEntry{0.5, 5};  // blue pen, half an inch
  d.device.SetLineWidth(10);
  EXPECT_EQ(d.Written(), "") << "widths come from the pen set";
  d.device.SetColor(0x00FF00, 1);
  EXPECT_EQ(d.Written(), "0.0 0.0 1 RG 0.0 0.0 1 rg 36 w ");
  d.device.SetColor(0x00FF00, 1);
  EXPECT_EQ(d.Written(), "");
  d.device.SetColor(0x0000FF, -1);
  EXPECT_EQ(d.Written(), "1 0.0 0.0 RG 1 0.0 0.0 rg ") << "no pen: the entity's own colour";
  d.device.SetColor(0x0000FF, 300);
  d.device.SetColor(0x0000FF, -7);
  EXPECT_EQ(d.Written(), "") << "indices outside the table are no pen";
  // A pen width change without a colour change still ends the polyline drawn so far.
  d.pens.entries[2] = PenEntry{1.0, 1};
  d.pens.entries[3] = PenEntry{0.25, 1};
  d.device.SetColor(0, 2);
  d.Written();
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 0);
  d.device.SetColor(0, 3);
  d.device.LineTo(2, 0);
  d.device.FlushPath();
  EXPECT_EQ(d.Written(), "0.0 0.0 m 1 0.0 l S 18 w 1 0.0 m 2 0.0 l S ");
}

TEST(PdfExport, EntitiesAreMarkedWithTheirLayer) {
  Device d;
  EXPECT_TRUE(d.device.BeginEntityDraw("LINE", "", "WALLS", 0, "", "", nullptr));
  EXPECT_FALSE(d.device.BeginEntityDraw("LINE", "", "DOORS", 0, "", "", nullptr))
      << "sections do not nest";
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 1);
  d.device.EndEntityDraw();
  EXPECT_EQ(d.Written(), "/OC /oc1 BDC 0.0 0.0 m 1 1 l S EMC ");
  EXPECT_FALSE(d.device.BeginEntityDraw("LINE", "", "", 0, "", "", nullptr));
  EXPECT_FALSE(d.device.BeginEntityDraw("LINE", "", nullptr, 0, "", "", nullptr));
  d.device.EndEntityDraw();
  EXPECT_EQ(d.Written(), "");
  // A polyline of the previous entity is written before the next layer's section opens.
  d.device.MoveTo(0, 0);
  d.device.LineTo(2, 2);
  EXPECT_TRUE(d.device.BeginEntityDraw("LINE", "", "DOORS", 0, "", "", nullptr));
  EXPECT_EQ(d.Written(), "0.0 0.0 m 2 2 l S /OC /oc2 BDC ");
  d.device.EndEntityDraw();
  EXPECT_EQ(d.doc.LayerCount(), 2);

  Device off;
  off.device.LayersEnabled = 0;
  EXPECT_FALSE(off.device.BeginEntityDraw("LINE", "", "WALLS", 0, "", "", nullptr));
  off.device.EndEntityDraw();
  EXPECT_EQ(off.Written(), "");
  EXPECT_EQ(off.doc.LayerCount(), 0);
}

TEST(PdfExport, ClipsSaveAndRestoreStateAndKeepTheirContentInside) {
  Device d;
  PointStruct clip[] = {{0, 0}, {100, 0}, {100, 100}};
  d.device.PushClipPolygon(3, clip);
  EXPECT_EQ(d.Written(), "q 0.0 0.0 m 100 0.0 l 100 100 l W S ");
  d.device.SetColor(0x0000FF, 1);
  d.device.MoveTo(1, 1);
  d.device.LineTo(2, 2);
  d.device.PopClipPolygon();
  EXPECT_EQ(d.Written(), "1 0.0 0.0 RG 1 0.0 0.0 rg 1 1 m 2 2 l S Q ")
      << "the polyline drawn inside the clip is written before Q";
  d.device.SetColor(0x0000FF, 1);
  EXPECT_EQ(d.Written(), "1 0.0 0.0 RG 1 0.0 0.0 rg ")
      << "Q brought black back, so red is written again";
  d.device.PushClipPolygon(1, clip);
  d.device.PopClipPolygon();
  EXPECT_EQ(d.Written(), "q Q ");
}

TEST(PdfExport, RastersBecomeMirroredImagesWhenEnabled) {
  Device d;
  auto dib = CDib::Create(2, 2, 24);
  d.device.MoveTo(0, 0);
  d.device.LineTo(5, 5);
  d.device.Raster(10, 20, 30, 40, 0, 0, 2, 2, nullptr, dib.get(), 0, nullptr);
  EXPECT_EQ(d.Written(), "0.0 0.0 m 5 5 l S q 30 0 0 -40 10 60 cm /IMG1 Do Q ");
  d.device.Raster(10, 20, 30, 40, 0, 0, 2, 2, nullptr, nullptr, 0, nullptr);
  EXPECT_EQ(d.Written(), "") << "an unreadable bitmap draws nothing";

  Device off;
  off.device.RasterEnabled = false;
  off.device.MoveTo(0, 0);
  off.device.LineTo(5, 5);
  off.device.Raster(10, 20, 30, 40, 0, 0, 2, 2, nullptr, dib.get(), 0, nullptr);
  EXPECT_EQ(off.Written(), "0.0 0.0 m 5 5 l S ") << "the pending polyline is still written";
  EXPECT_EQ(off.page->XObjects(), nullptr);
}

TEST(PdfExport, PlacesImagesByTheirFullMatrix) {
  Device d;
  auto dib = CDib::Create(2, 2, 24);
  // Turned a quarter counter-clockwise: the rows run up the page, the columns to the left.
  RasterPlacement turned;
  turned.a = 0;
  turned.b = 30;
  turned.c = -40;
  turned.d = 0;
  turned.e = 50;
  turned.f = 20;
  d.device.RasterImage(turned, 2, 2, dib.get());
  // The bitmap's bottom row comes first in the samples, at the top of PDF's unit square.
  EXPECT_EQ(d.Written(), "q 0.0 30 40 0.0 10 20 cm /IMG1 Do Q ");
  // Upright placements give what Raster gives; the same picture placed again keeps its name.
  RasterPlacement upright;
  upright.a = 30;
  upright.d = 40;
  upright.e = 10;
  upright.f = 20;
  d.device.RasterImage(upright, 2, 2, dib.get());
  EXPECT_EQ(d.Written(), "q 30 0.0 0.0 -40 10 60 cm /IMG1 Do Q ");

  // A stencil paints its set pixels in the current colour.
  auto mask = CDib::Create(2, 2, 1);
  RasterPlacement stencil = upright;
  stencil.stencil = true;
  d.device.RasterImage(stencil, 2, 2, mask.get());
  EXPECT_EQ(d.Written(), "q 30 0.0 0.0 -40 10 60 cm /IMG2 Do Q ");
  d.device.RasterImage(stencil, 2, 2, dib.get());
  EXPECT_EQ(d.Written(), "") << "a stencil needs a 1-bit bitmap";
}

TEST(PdfExport, LayoutPensOfWidthZeroKeepTheEntitiesLineweights) {
  Device d;
  d.device.UsePenTable = true;
  d.device.ObjectWidthForZeroPens = true;
  d.pens.entries[1] = PenEntry{0.5, 5};  // a pen with a width
  d.pens.entries[2] = PenEntry{0.0, 2};  // "use object lineweight"
  d.device.SetColor(0x0000FF, 1);
  d.device.SetLineWidth(3);
  EXPECT_EQ(d.Written(), "0.0 0.0 1 RG 0.0 0.0 1 rg 36 w ") << "the pen's width wins";
  d.device.SetColor(0x0000FF, 2);
  d.device.SetLineWidth(3);
  EXPECT_EQ(d.Written(), "1 1 0.0 RG 1 1 0.0 rg 3 w ") << "the entity's width";
  d.device.SetColor(0x0000FF, 1);
  d.device.SetColor(0x0000FF, 2);
  d.device.SetLineWidth(3);
  EXPECT_EQ(d.Written(), "0.0 0.0 1 RG 0.0 0.0 1 rg 36 w 1 1 0.0 RG 1 1 0.0 rg 3 w ")
      << "written again after the pen's width replaced it";
}

TEST(PdfExport, LinesOnlyAndDrawDisabledLeaveFillsAndPathsOut) {
  Device d;
  PointStruct ring[] = {{0, 0}, {4, 0}, {4, 4}};
  const int counts[] = {3};
  d.device.LinesOnly = true;
  d.device.Polygon(0, 2, ring);
  d.device.PolyPolygon(ring, counts, 1);
  EXPECT_EQ(d.Written(), "");
  d.device.LinesOnly = false;
  d.device.DrawEnabled = false;
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 1);
  d.device.FlushPath();
  d.device.SetPixel(3, 3);
  EXPECT_EQ(d.Written(), "3 3 m 3.05 3 l S ") << "pixels are drawn whatever DrawEnabled says";
}

TEST(PdfExport, EndPageClosesWhatWasLeftOpenAndCompresses) {
  Device d;
  PointStruct clip[] = {{0, 0}, {100, 0}};
  d.device.BeginEntityDraw("LINE", "", "WALLS", 0, "", "", nullptr);
  d.device.PushClipPolygon(2, clip);
  d.device.MoveTo(0, 0);
  d.device.LineTo(1, 1);
  EXPECT_EQ(d.Written(), "/OC /oc1 BDC q 0.0 0.0 m 100 0.0 l W S ");
  d.device.EndPage();
  ASSERT_TRUE(d.content->IsCompressed());
  std::string text(4096, '\0');
  uLongf size = text.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(text.data()), &size, d.content->Data(),
                       d.content->Length()),
            Z_OK);
  text.resize(size);
  const std::string end = "0.0 0.0 m 1 1 l S Q EMC ";
  EXPECT_EQ(text.substr(text.size() - end.size()), end)
      << "the clip opened inside the section closes first";
}

TEST(PdfExport, WritesLineweightsExactlyOrInWholePointsAsEarlier) {
  struct Case {
    double millimetres;
    const char* exact;
    const char* whole;  // the earlier form, with a divisor of 2 (200 dpi)
  };
  const Case cases[] = {{0.25, "0.709 w ", "0.0 w "},
                        {0.50, "1.417 w ", "1 w "},
                        {1.00, "2.835 w ", "3 w "},
                        {2.11, "5.981 w ", "6 w "}};
  for (const Case& c : cases) {
    for (const bool exact : {true, false}) {
      Device d;
      d.device.WidthDivisor = 2;
      d.device.ExactWidths = exact;
      d.device.SetLineWidthPoints(c.millimetres * 72 / 25.4);
      EXPECT_EQ(d.Written(), exact ? c.exact : c.whole) << c.millimetres << " mm";
    }
  }
  Device d;
  d.device.ExactWidths = true;
  d.device.SetLineWidthPoints(0.709);
  d.device.SetLineWidthPoints(0.709);
  EXPECT_EQ(d.Written(), "0.709 w ") << "a width in force is not written again";
}

TEST(PdfExport, FillsGlyphsWithoutOutliningThemAndStrokesClipsOnlyWhenAsked) {
  Device d;
  PointStruct ring[3] = {};
  ring[1].x = 10;
  ring[2].y = 10;
  const int counts[] = {3};
  d.device.FillPolyPolygon(ring, counts, 1);
  EXPECT_EQ(d.Written(), "0.0 0.0 m 10 0.0 l 0.0 10 l 0.0 0.0 l h f* ");
  PointStruct box[2] = {};
  box[1].x = 5;
  d.device.StrokeClipBoundary = false;
  d.device.PushClipPolygon(2, box);
  EXPECT_EQ(d.Written(), "q 0.0 0.0 m 5 0.0 l W n ");
  d.device.StrokeClipBoundary = true;
  d.device.PushClipPolygon(2, box);
  EXPECT_EQ(d.Written(), "q 0.0 0.0 m 5 0.0 l W S ");
}
