#pragma once

// Builds documents the way a conversion run does, so that the object numbers of the tests are
// those a real file gets.
#include <string>
#include <vector>

#include "pdf/PdfDocument.h"
#include "tests/support/TestSupport.h"

namespace pdftest {

constexpr const char* kExampleDate = "D:20070115093000+01'00'";

// A new document whose page tree root has the size 612 × 792, as a run gives it.
inline void StartDocument(CPdfDocument& doc) {
  doc.PageTreeRoot()->SetMediaBox(612, 792);
}

struct DrawingPage {
  CPdfOutline* drawingMark = nullptr;
  CPdfPage* page = nullptr;
  CPdfOutline* pageMark = nullptr;
  CPdfContentStream* content = nullptr;
};

// A drawing bookmark, then one page with its bookmark and content stream, in the order of a
// run: page, size, shared resources, bookmark, content stream. With drawingMark given, the page
// joins that drawing.
inline DrawingPage AddDrawingPage(CPdfDocument& doc, const std::string& drawing,
                                  const std::string& layout, CPdfOutline* drawingMark = nullptr) {
  DrawingPage made;
  made.drawingMark = drawingMark;
  if (!made.drawingMark) {
    made.drawingMark = doc.OutlineRoot()->AddChild(&doc.nextObjectNumber);
    made.drawingMark->SetTitle(drawing);
  }
  made.page = doc.PageTreeRoot()->AddPage(&doc.nextObjectNumber);
  made.page->SetMediaBox(612, 792);
  doc.ShareResources(made.page);
  made.pageMark = made.drawingMark->AddChild(&doc.nextObjectNumber);
  made.pageMark->SetDest(made.page, "XYZ", 0, 0, 0, 0);
  made.pageMark->SetTitle(layout);
  made.content = made.page->AddContentStream(&doc.nextObjectNumber);
  made.content->Append("1 J 1 j 0.0 w ");
  return made;
}

// Saves with the example's creation date, checks the file, and gives its bytes.
inline std::string SaveAndCheck(CPdfDocument& doc, const testsupport::TempDir& dir,
                                const std::string& name = "out.pdf") {
  AddDocumentInformation(doc, {}, kExampleDate);
  const auto path = dir / name;
  EXPECT_TRUE(doc.Save(path.string())) << "saving " << path;
  EXPECT_TRUE(testsupport::CheckPdfFile(path));
  return testsupport::ReadFile(path);
}

// The listed objects as "N 0 obj\n…\nendobj\n", a stream cut down to its dictionary.
inline std::string ObjectsText(const std::string& pdf, const std::vector<int>& numbers) {
  std::string text;
  for (int number : numbers) {
    std::string body = testsupport::ObjectText(pdf, number);
    if (const auto stream = body.find("\nstream\n"); stream != std::string::npos) {
      body.resize(stream);
    }
    text += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }
  return text;
}

}  // namespace pdftest
