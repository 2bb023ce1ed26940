// Pages under the page tree root, their resources and content streams.
#include <gtest/gtest.h>

#include "pdf/PdfDocument.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

TEST(PdfPage, FirstPageOfADrawingIsWrittenAsInTheExample) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const auto made = pdftest::AddDrawingPage(doc, "plan", "Model");
  EXPECT_EQ(made.drawingMark->Number(), 6);
  EXPECT_EQ(made.page->Number(), 7);
  EXPECT_EQ(made.pageMark->Number(), 8);
  made.content->Compress();
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_TRUE(MatchesGolden(pdftest::ObjectsText(pdf, {7, 9}), "pdf/golden/first_page.txt"));
  EXPECT_EQ(ObjectText(pdf, 10), std::to_string(ObjectText(pdf, 9).size() -
                                                ObjectText(pdf, 9).find("\nstream\n") - 8 - 10 + 1))
      << "the length counts the data and the line feed before endstream";
}

TEST(PdfPage, PagesAppearInKidsInCreationOrder) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const auto first = pdftest::AddDrawingPage(doc, "a", "Model");
  const auto second = pdftest::AddDrawingPage(doc, "a", "Layout1", first.drawingMark);
  const auto third = pdftest::AddDrawingPage(doc, "a", "Layout2", first.drawingMark);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  const std::string kids = "/Kids [" + std::to_string(first.page->Number()) + " 0 R " +
                           std::to_string(second.page->Number()) + " 0 R " +
                           std::to_string(third.page->Number()) + " 0 R]\n/Count 3>>";
  EXPECT_EQ(ObjectText(pdf, 3), "<</Type /Pages\n/MediaBox [0 0 612 792]\n" + kids);
  // Every page is followed by its own objects: the content stream and its length.
  const auto offsets = XrefOffsets(pdf);
  EXPECT_LT(offsets[first.page->Number()], offsets[first.page->Number() + 2]);
  EXPECT_LT(offsets[first.page->Number() + 3], offsets[second.page->Number()]);
}

TEST(PdfPage, MediaBoxIsReplacedInPlaceAndMayBeLeftOut) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  CPdfPage* sized = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
  sized->SetMediaBox(100, 200);
  doc.ShareResources(sized);
  sized->SetMediaBox(842, 595);
  sized->AddContentStream(&doc.nextObjectNumber);
  CPdfPage* inherits = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
  inherits->AddContentStream(&doc.nextObjectNumber);
  AddDocumentInformation(doc, {}, pdftest::kExampleDate);
  ASSERT_TRUE(doc.Save((dir / "out.pdf").string()));
  EXPECT_TRUE(CheckPdfFile(dir / "out.pdf", PdfShape::Partial));
  const std::string pdf = ReadFile(dir / "out.pdf");
  EXPECT_EQ(ObjectText(pdf, sized->Number()),
            "<</Type /Page\n/Parent 3 0 R\n/Resources <</ProcSet 4 0 R>>\n/MediaBox [0 0 842 595]"
            "\n/Contents [7 0 R]>>");
  EXPECT_EQ(ObjectText(pdf, inherits->Number()),
            "<</Type /Page\n/Parent 3 0 R\n/Resources <<>>\n/Contents [10 0 R]>>");
}
