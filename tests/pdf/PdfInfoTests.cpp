// The document information dictionary.
#include <gtest/gtest.h>

#include "pdf/PdfDocument.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

TEST(PdfInfo, HoldsProducerAndCreationDateWhenNoTextsAreGiven) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(ObjectText(pdf, 5),
            "<</Producer (Zemb Strandmerlyx)\n/CreationDate (D:20070115093000+01'00')>>");
}

TEST(PdfInfo, AddsTheGivenTextsInOrderBeforeTheDate) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  AddDocumentInformation(doc, {"Plan (rev. 2)", "", "Site\\North", "walls"}, "D:1");
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(
      ObjectText(pdf, 5),
      "<</Producer (Zemb Strandmerlyx)\n/Title (Plan \\(rev. 2\\))\n/Subject (Site\\\\North)\n"
      "/Keywords (walls)\n/CreationDate (D:20070115093000+01'00')>>")
      << "a second CreationDate replaces the first in its place";
}

TEST(PdfInfo, WritesNonAsciiTitlesSoThatViewersShowThem) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::AddDrawingPage(doc, "plan", "Model");
  AddDocumentInformation(doc, {"Überbauung", "", "", ""}, pdftest::kExampleDate);
  ASSERT_TRUE(doc.Save((dir / "out.pdf").string()));
  EXPECT_TRUE(CheckPdfFile(dir / "out.pdf"));
  // poppler decodes the UTF-16 title back to UTF-8.
  std::string output;
  std::FILE* pipe = popen(("pdfinfo " + (dir / "out.pdf").string()).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0) << output;
  EXPECT_NE(output.find("Title:           Überbauung\n"), std::string::npos) << output;
}
