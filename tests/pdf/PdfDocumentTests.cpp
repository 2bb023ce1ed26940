// The document as a whole: object numbering, file order, cross-reference table, trailer, Save.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "pdf/PdfDocument.h"
#include "platform/Dib.h"
#include "tests/pdf/PdfTestDocument.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

TEST(PdfDocument, NewDocumentHoldsObjectsOneToFive) {
  CPdfDocument doc;
  EXPECT_EQ(doc.nextObjectNumber, 6);
  EXPECT_EQ(doc.Catalog()->Number(), 1);
  EXPECT_EQ(doc.OutlineRoot()->Number(), 2);
  EXPECT_EQ(doc.PageTreeRoot()->Number(), 3);
}

TEST(PdfDocument, EmptyDocumentIsTheWorkedExampleByteForByte) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_EQ(pdf.size(), 552u);
  EXPECT_TRUE(MatchesGolden(pdf, "pdf/golden/empty_document.pdf"));
}

TEST(PdfDocument, TrailerSizeAndStartxrefFollowTheObjects) {
  TempDir dir;
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::AddDrawingPage(doc, "plan", "Model");
  pdftest::AddDrawingPage(doc, "plan2", "Layout1");
  const std::int32_t size = doc.nextObjectNumber;
  const std::string pdf = pdftest::SaveAndCheck(doc, dir);
  EXPECT_NE(pdf.find("trailer\n<</Size " + std::to_string(size) + "\n/Root 1 0 R\n/Info 5 0 R>>"),
            std::string::npos);
  EXPECT_EQ(XrefOffsets(pdf).size(), static_cast<std::size_t>(size));
  EXPECT_EQ(XrefOffsets(pdf)[1], 9) << "the catalog follows the 9-byte header";
}

TEST(PdfDocument, SaveIntoAMissingFolderFailsAndWritesNothing) {
  TempDir dir;
  CPdfDocument doc;
  EXPECT_FALSE(doc.Save((dir / "no-such-folder" / "out.pdf").string()));
  EXPECT_FALSE(doc.Save(""));
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(PdfDocument, FailedRenameLeavesNoTemporaryFileBehind) {
  TempDir dir;
  fs::create_directory(dir / "taken.pdf");  // a folder of that name cannot be replaced
  CPdfDocument doc;
  EXPECT_FALSE(doc.Save((dir / "taken.pdf").string()));
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1) << "only the folder itself may remain";
}

TEST(PdfDocument, WriteFailureKeepsTheEarlierFileIntact) {
  // A file-size limit makes the writes fail the way a full disk does, in a child process so
  // that the limit does not touch the test runner.
  TempDir dir;
  const fs::path target = dir / "plan.pdf";
  WriteFile(target, "earlier conversion");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{300, 300};
    setrlimit(RLIMIT_FSIZE, &limit);
    CPdfDocument doc;
    pdftest::StartDocument(doc);
    for (int i = 0; i < 20; ++i) pdftest::AddDrawingPage(doc, "plan", "Model");
    _exit(doc.Save(target.string()) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "Save must report the failed write";
  EXPECT_EQ(ReadFile(target), "earlier conversion");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1) << "the temporary file must be removed";
}

TEST(PdfDocument, SaveReplacesAnExistingFileWhole) {
  TempDir dir;
  const fs::path target = dir / "plan.pdf";
  WriteFile(target, std::string(10000, 'x'));
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  const std::string pdf = pdftest::SaveAndCheck(doc, dir, "plan.pdf");
  EXPECT_EQ(pdf.size(), 552u);
  EXPECT_EQ((fs::status(target).permissions() & fs::perms::owner_read), fs::perms::owner_read);
}

TEST(PdfDocument, RollingBackAFailedDrawingLeavesTheFileItWasBefore) {
  TempDir dir;
  const auto build = [](CPdfDocument& doc) {
    pdftest::StartDocument(doc);
    const pdftest::DrawingPage first = pdftest::AddDrawingPage(doc, "plan", "Model");
    first.page->GetLayerResource(doc.GetLayer("WALLS"), &doc.nextObjectNumber);
  };
  // A second drawing with two pages, a new layer and an image, then given up.
  const auto buildAndRollBack = [&build](CPdfDocument& doc) {
    build(doc);
    const CPdfDocument::Mark mark = doc.MarkState();
    const pdftest::DrawingPage second = pdftest::AddDrawingPage(doc, "site", "Model");
    pdftest::AddDrawingPage(doc, "site", "Layout1", second.drawingMark);
    second.page->GetLayerResource(doc.GetLayer("TREES"), &doc.nextObjectNumber);
    second.page->GetLayerResource(doc.GetLayer("WALLS"), &doc.nextObjectNumber);
    std::unique_ptr<CDib> picture = CDib::Create(2, 2, 24);
    std::string name;
    EXPECT_TRUE(second.page->AddImage(2, 2, picture.get(), name, &doc.nextObjectNumber));
    doc.RollBack(mark);
  };

  CPdfDocument expected, rolledBack;
  build(expected);
  buildAndRollBack(rolledBack);
  EXPECT_EQ(pdftest::SaveAndCheck(rolledBack, dir, "rolled-back.pdf"),
            pdftest::SaveAndCheck(expected, dir, "expected.pdf"))
      << "nothing of the given-up drawing is left, and numbering has no gaps";

  // The document goes on after the roll-back as if the drawing had never been.
  CPdfDocument expectedAfter, after;
  build(expectedAfter);
  buildAndRollBack(after);
  pdftest::AddDrawingPage(after, "site", "Model");
  pdftest::AddDrawingPage(expectedAfter, "site", "Model");
  EXPECT_EQ(pdftest::SaveAndCheck(after, dir, "after.pdf"),
            pdftest::SaveAndCheck(expectedAfter, dir, "expected-after.pdf"));
}

TEST(PdfDocument, DrawingsMadeApartAndAppendedGiveTheFileMadeInOne) {
  TempDir dir;
  // Three drawings: layers shared with earlier drawings, new ones, a picture with a soft mask,
  // two pages under one bookmark, and one drawing without pages.
  const auto drawing = [](CPdfDocument& doc, int which) {
    if (which == 0) {
      const pdftest::DrawingPage page = pdftest::AddDrawingPage(doc, "plan", "Model");
      page.page->GetLayerResource(doc.GetLayer("WALLS"), &doc.nextObjectNumber);
      page.page->GetLayerResource(doc.GetLayer("DOORS"), &doc.nextObjectNumber);
    } else if (which == 1) {
      const pdftest::DrawingPage first = pdftest::AddDrawingPage(doc, "site", "Model");
      first.page->GetLayerResource(doc.GetLayer("TREES"), &doc.nextObjectNumber);
      first.page->GetLayerResource(doc.GetLayer("WALLS"), &doc.nextObjectNumber);
      std::unique_ptr<CDib> picture = CDib::Create(2, 2, 32);
      std::string name;
      EXPECT_TRUE(first.page->AddImage(2, 2, picture.get(), name, &doc.nextObjectNumber));
      const pdftest::DrawingPage second =
          pdftest::AddDrawingPage(doc, "site", "Layout1", first.drawingMark);
      second.page->GetLayerResource(doc.GetLayer("DOORS"), &doc.nextObjectNumber);
      second.page->GetLayerResource(doc.GetLayer("ROADS"), &doc.nextObjectNumber);
    } else {
      doc.OutlineRoot()->AddChild(&doc.nextObjectNumber)->SetTitle("empty");
    }
  };
  CPdfDocument together;
  pdftest::StartDocument(together);
  for (int which : {0, 1, 2, 1}) drawing(together, which);

  CPdfDocument appended;
  pdftest::StartDocument(appended);
  for (int which : {0, 1, 2, 1}) {
    CPdfDocument part;
    pdftest::StartDocument(part);
    drawing(part, which);
    ASSERT_TRUE(appended.Append(part));
    EXPECT_EQ(part.PageTreeRoot()->PageCount(), 0);
    EXPECT_EQ(part.OutlineRoot()->First(), nullptr);
  }
  EXPECT_EQ(appended.LayerCount(), 4);
  EXPECT_EQ(pdftest::SaveAndCheck(appended, dir, "appended.pdf"),
            pdftest::SaveAndCheck(together, dir, "together.pdf"))
      << "byte for byte: numbers, layers, bookmarks and pages";
}

TEST(PdfDocument, SavingThroughALinkReplacesTheFileItPointsAt) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteFile(dir / "real" / "plan.pdf", "an earlier version");
  std::filesystem::create_symlink("real/plan.pdf", dir / "plan.pdf");
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::AddDrawingPage(doc, "plan", "Model");
  const std::string written = pdftest::SaveAndCheck(doc, dir, "plan.pdf");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "plan.pdf")) << "the link stays a link";
  EXPECT_EQ(ReadFile(dir / "real" / "plan.pdf"), written);
}

TEST(PdfDocument, RemovesWhatAnInterruptedSaveLeftButNotARunningOne) {
  TempDir dir;
  // The number of a process that has surely ended.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string stale = ".plan.pdf." + std::to_string(ended) + "-0123456789ab.part";
  const std::string running = ".plan.pdf." + std::to_string(getpid()) + "-0123456789ab.part";
  const std::string other = ".site.pdf." + std::to_string(ended) + "-0123456789ab.part";
  for (const std::string& name : {stale, running, other}) WriteFile(dir / name, "half a file");
  CPdfDocument doc;
  pdftest::StartDocument(doc);
  pdftest::SaveAndCheck(doc, dir, "plan.pdf");
  EXPECT_FALSE(std::filesystem::exists(dir / stale));
  EXPECT_TRUE(std::filesystem::exists(dir / running)) << "a save still under way is left alone";
  EXPECT_TRUE(std::filesystem::exists(dir / other)) << "another file's leftovers are not ours";
}
