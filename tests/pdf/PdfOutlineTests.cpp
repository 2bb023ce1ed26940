// The bookmark tree: links, counts, destinations and the order of writing.
#include <gtest/gtest.h>

#include "pdf/PdfDocument.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

TEST(PdfOutline, OneDrawingWithOnePageIsWrittenAsInTheExample) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::AddDrawingPage(doc, "plan", "Model");
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_TRUE(MatchesGolden(pdftest::ObjectsText(pdf, {2, 6, 8}), "pdf/golden/outline.txt"));
  const auto offsets = XrefOffsets(pdf);
  EXPECT_LT(offsets[8], offsets[3]) << "the outline tree comes before the page tree";
}

TEST(PdfOutline, RootWithoutDrawingsHasCountZero) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(ObjectText(pdf, 2), "<</Type /Outlines\n/Count 0>>");
}

TEST(PdfOutline, CountsAllDescendantsAndLinksSiblings) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto first = pdftest::AddDrawingPage(doc, "one", "Model");
  pdftest::AddDrawingPage(doc, "one", "A", first.drawingMark);
  pdftest::AddDrawingPage(doc, "one", "B", first.drawingMark);
  auto second = pdftest::AddDrawingPage(doc, "two", "Model");
  pdftest::AddDrawingPage(doc, "two", "A", second.drawingMark);
  pdftest::AddDrawingPage(doc, "two", "B", second.drawingMark);
  CPdfOutline* empty = doc.OutlineRoot()->AddChild(&doc.nextObjectNumber);
  empty->SetTitle("all layouts skipped");
  EXPECT_EQ(doc.OutlineRoot()->DescendantCount(), 9);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  const std::string one = std::to_string(first.drawingMark->Number());
  const std::string two = std::to_string(second.drawingMark->Number());
  const std::string last = std::to_string(empty->Number());
  EXPECT_EQ(ObjectText(pdf, 2),
            "<</Type /Outlines\n/First " + one + " 0 R\n/Last " + last + " 0 R\n/Count 9>>");
  EXPECT_NE(ObjectText(pdf, second.drawingMark->Number())
                .find("/Prev " + one + " 0 R\n/Next " + last + " 0 R\n/First "),
            std::string::npos);
  EXPECT_NE(ObjectText(pdf, second.drawingMark->Number()).find("/Count 3>>"), std::string::npos);
  EXPECT_EQ(ObjectText(pdf, empty->Number()),
            "<</Parent 2 0 R\n/Title (all layouts skipped)\n/Prev " + two + " 0 R\n/Count 0>>")
      << "a drawing without pages keeps its bookmark, without First or Last";
}

TEST(PdfOutline, EscapesTitlesAndIgnoresTitleAndDestOnTheRoot) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto made = pdftest::AddDrawingPage(doc, "C:\\plans\\a(1)", "Model");
  doc.OutlineRoot()->SetTitle("root");
  doc.OutlineRoot()->SetDest(made.page, "XYZ", 0, 0, 0, 0);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_NE(ObjectText(pdf, 6).find("/Title (C:\\\\plans\\\\a\\(1\\))"), std::string::npos);
  EXPECT_EQ(ObjectText(pdf, 2), "<</Type /Outlines\n/First 6 0 R\n/Last 6 0 R\n/Count 2>>");
}

TEST(PdfOutline, DestinationsTakeTheNumbersTheirViewNeeds) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  auto made = pdftest::AddDrawingPage(doc, "plan", "Model");
  const struct {
    const char* view;
    const char* numbers;
  } cases[] = {{"XYZ", ""},          {"FitH", " 4"}, {"FitV", " 1"}, {"FitBV", " 1"},
               {"FitR", " 1 2 3 4"}, {"Fit", ""},    {"XYZW", ""}};
  std::vector<CPdfOutline*> marks;
  for (const auto& c : cases) {
    marks.push_back(made.drawingMark->AddChild(&doc.nextObjectNumber));
    const bool xyz = std::string(c.view) == "XYZ";
    marks.back()->SetDest(made.page, c.view, xyz ? 0 : 1, xyz ? 0 : 2, 3, xyz ? 0 : 4);
  }
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const std::string dest = std::string("/Dest [7 0 R /") + cases[i].view + cases[i].numbers + "]";
    EXPECT_NE(ObjectText(pdf, marks[i]->Number()).find(dest), std::string::npos)
        << "view " << cases[i].view;
  }
}
