// Out-of-memory paths of the writer, with an allocator that fails on request. The allocator
// replaced here is the non-throwing one, which the writer uses where it must survive a
// failure; the program holds no other test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "pdf/PdfDocument.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

namespace {
std::atomic<bool> failNothrowAllocations{false};
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (failNothrowAllocations.load()) return nullptr;
  return std::malloc(size ? size : 1);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

using namespace testsupport;

TEST(PdfAllocation, PageWithoutMemoryForItsContentsIsCountedAndTheFileStaysReadable) {
  TempDir dir;
  CRecordingReporter reporter;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::AddDrawingPage(doc, "plan", "Model");
  AddDocumentInformation(doc, {}, pdftest::kExampleDate);
  failNothrowAllocations = true;
  const bool saved = doc.Save((dir / "out.pdf").string());
  failNothrowAllocations = false;
  ASSERT_TRUE(saved);
  EXPECT_EQ(doc.LostPages(), 1) << "the owner learns of the lost page";
  EXPECT_TRUE(reporter.messages.empty()) << "the writer shows no messages itself";
  const std::string pdf = ReadFile(dir / "out.pdf");
  EXPECT_EQ(ObjectText(pdf, 7), "") << "the page is left out";
  // The numbers of the page's objects get free entries, so the table still has one entry per
  // number and every offset is right.
  EXPECT_EQ(XrefOffsets(pdf).size(), 11u);
  EXPECT_NE(pdf.find("0000000000 00000 f \n"), std::string::npos);
}
