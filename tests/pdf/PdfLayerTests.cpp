// Layers as optional content groups, and each page's Properties resource.
#include <gtest/gtest.h>

#include "pdf/PdfDocument.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// Marks the page's content with the layer as the export device does.
std::string MarkLayer(CPdfDocument& doc, pdftest::DrawingPage& made, const std::string& layer) {
  CPdfIndirectObject* group = doc.GetLayer(layer);
  CPdfDictEntry* entry = made.page->GetLayerResource(group, &doc.nextObjectNumber);
  const std::string name(entry->Key());
  made.content->Append(("/OC /" + name + " BDC 0.0 0.0 m 10 10 l S EMC ").c_str());
  return name;
}

}  // namespace

TEST(PdfLayer, TwoLayersOnAPageAreWrittenAsInTheExample) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto made = pdftest::AddDrawingPage(doc, "plan", "Model");
  EXPECT_EQ(MarkLayer(doc, made, "WALLS"), "oc1");
  EXPECT_EQ(MarkLayer(doc, made, "DOORS"), "oc2");
  EXPECT_EQ(MarkLayer(doc, made, "WALLS"), "oc1") << "a layer used twice keeps its name";
  made.content->Compress();
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_TRUE(
      MatchesGolden(pdftest::ObjectsText(pdf, {1, 7, 11, 12, 13}), "pdf/golden/layers.txt"));
  EXPECT_EQ(pdf.rfind("%PDF-1.5\n", 0), 0u) << "optional content needs PDF 1.5";
  const auto offsets = XrefOffsets(pdf);
  EXPECT_LT(offsets[7], offsets[12]) << "the Properties object follows its page";
  EXPECT_LT(offsets[9], offsets[11]) << "the groups come after the pages";
  EXPECT_LT(offsets[13], offsets[4]) << "and before the ProcSet object";
}

TEST(PdfLayer, OneGroupServesEveryPageAndNamesAreCaseSensitive) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto first = pdftest::AddDrawingPage(doc, "plan", "Model");
  auto second = pdftest::AddDrawingPage(doc, "plan", "Layout1", first.drawingMark);
  EXPECT_EQ(MarkLayer(doc, first, "Walls"), "oc1");
  EXPECT_EQ(MarkLayer(doc, second, "WALLS"), "oc1");
  EXPECT_EQ(MarkLayer(doc, second, "Walls"), "oc2");
  EXPECT_EQ(doc.LayerCount(), 2);
  EXPECT_EQ(doc.GetLayer("Walls"), doc.GetLayer("Walls"));
  EXPECT_NE(first.page->Properties(), second.page->Properties());
  pdftest::SaveAndCheck(doc, dir);
}

TEST(PdfLayer, DocumentWithoutLayersHasEmptyGroupLists) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto made = pdftest::AddDrawingPage(doc, "plan", "Model");
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(pdf.rfind("%PDF-1.2\n", 0), 0u) << "the header without layers stays as it was";
  EXPECT_NE(ObjectText(pdf, 1).find("/OCProperties <</OCGs []\n/D <</Order []>>>>"),
            std::string::npos);
  EXPECT_EQ(ObjectText(pdf, made.page->Number()).find("/Properties"), std::string::npos);
}

TEST(PdfLayer, LayerNamesAreEscapedAndShownInUnicode) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto made = pdftest::AddDrawingPage(doc, "plan", "Model");
  MarkLayer(doc, made, "A-(old)");
  MarkLayer(doc, made, "Wände");
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(ObjectText(pdf, 11), "<</Type /OCG\n/Name (A-\\(old\\))\n/Intent /View>>");
  using namespace std::string_literals;
  EXPECT_EQ(ObjectText(pdf, 13),
            "<</Type /OCG\n/Name (\xFE\xFF\0W\0\xE4\0n\0d\0e)\n/Intent /View>>"s);
}
