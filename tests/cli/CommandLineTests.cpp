// The command line's options: what each sets, their defaults, and the usage errors.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CommandLine.h"
#include "convert/ConvertSettings.h"
#include "tests/support/TestSupport.h"

namespace {

struct Parsed {
  bool ok;
  CConvertSettings settings;
  CliOptions options;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  p.ok = ParseCommandLine(args, p.settings, p.options, &p.error);
  return p;
}

}  // namespace

TEST(CommandLine, StartsFromTheBuiltInDefaultsAndWritesNextToEachDrawing) {
  const Parsed p = Parse({"plan.dxf"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.settings.PdfType, OutputType::PerDrawing)
      << "without -o the default is one PDF per drawing";
  EXPECT_EQ(p.settings.TargetPdf, "");
  EXPECT_EQ(p.settings.Layout, LayoutChoice::AllLayouts);
  EXPECT_EQ(p.settings.PdfWidth, 297.0);
  EXPECT_EQ(p.settings.Quality, 200);
  EXPECT_EQ(p.options.drawings, std::vector<std::string>{"plan.dxf"});
}

TEST(CommandLine, ChoosesTheOutputTypeFromTheTarget) {
  EXPECT_EQ(Parse({"-o", "all.PDF", "a.dxf"}).settings.PdfType, OutputType::Merged);
  EXPECT_EQ(Parse({"-o", "out", "a.dxf"}).settings.PdfType, OutputType::PerDrawing);
  EXPECT_EQ(Parse({"--target=out/", "a.dxf"}).settings.PdfType, OutputType::PerDrawing);
  EXPECT_EQ(Parse({"-t", "per-layout", "-o", "x.pdf", "a.dxf"}).settings.PdfType,
            OutputType::PerLayout);
  EXPECT_EQ(Parse({"--output-type=merge", "-o", "x", "a.dxf"}).settings.PdfType,
            OutputType::Merged);
  EXPECT_EQ(Parse({"-t", "per-drawing", "a.dxf"}).settings.PdfType, OutputType::PerDrawing);
}

TEST(CommandLine, SetsEachFieldFromItsOption) {
  const Parsed p = Parse({"--layout",
                          "paper",
                          "--area=layout",
                          "--scale",
                          "0.5",
                          "--colors",
                          "bw",
                          "--dpi",
                          "600",
                          "--no-raster",
                          "--no-layers",
                          "--no-layout-paper-size",
                          "--title",
                          "T",
                          "--author",
                          "A",
                          "--subject",
                          "S",
                          "--keywords",
                          "K",
                          "--search-path",
                          "/f1",
                          "--search-path=/f2",
                          "--pen-set",
                          "Thin",
                          "--json",
                          "-q",
                          "a.dxf",
                          "--",
                          "-b.dxf"});
  ASSERT_TRUE(p.ok) << p.error;
  const CConvertSettings& s = p.settings;
  EXPECT_EQ(s.Layout, LayoutChoice::PaperLayouts);
  EXPECT_EQ(s.Area, AreaChoice::LayoutArea);
  EXPECT_EQ(s.Scale, 0.5);
  EXPECT_EQ(s.Colors, ColorMode::BlackAndWhite);
  EXPECT_EQ(s.Quality, 600);
  EXPECT_EQ(s.ExportRaster, 0);
  EXPECT_EQ(s.ExportLayer, 0);
  EXPECT_EQ(s.UseLayoutPageSet, 0);
  EXPECT_EQ(s.Title + s.Author + s.Subject + s.Keywords, "TASK");
  EXPECT_EQ(s.SearchPaths, (std::vector<std::string>{"/f1", "/f2"}));
  EXPECT_EQ(s.UsePenSets, 1);
  EXPECT_EQ(p.options.penSet, "Thin");
  EXPECT_TRUE(p.options.json);
  EXPECT_TRUE(p.options.quiet);
  EXPECT_EQ(p.options.drawings, (std::vector<std::string>{"a.dxf", "-b.dxf"}));
}

TEST(CommandLine, TakesPageSizesByDimensionsOrPaperName) {
  const struct {
    std::vector<std::string> args;
    double width, height;
    int units;
  } cases[] = {
      {{"--size", "420x297mm"}, 420, 297, 1},
      {{"--size", "11x8.5in"}, 11, 8.5, 0},
      {{"--size", "11inx8.5IN"}, 11, 8.5, 0},
      {{"--size", "100x50"}, 100, 50, 1},
      {{"--size", "0x210mm"}, 0, 210, 1},  // refused by the run, not by the parser
      {{"--paper", "A4"}, 297, 210, 1},
      {{"--paper", "a4-portrait"}, 210, 297, 1},
      {{"--paper", "A3"}, 420, 297, 1},
      {{"--paper", "letter"}, 11, 8.5, 0},
      {{"--paper", "legal-portrait"}, 8.5, 14, 0},
      {{"--paper", "ANSI-B"}, 17, 11, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("a.dxf");
    const Parsed p = Parse(args);
    ASSERT_TRUE(p.ok) << c.args[1] << ": " << p.error;
    EXPECT_EQ(p.settings.PdfWidth, c.width) << c.args[1];
    EXPECT_EQ(p.settings.PdfHeight, c.height) << c.args[1];
    EXPECT_EQ(p.settings.Units, static_cast<PaperUnit>(c.units)) << c.args[1];
  }
}

TEST(CommandLine, HoldsTheMarginInTheUnitOfThePage) {
  EXPECT_EQ(Parse({"--margin", "10mm", "a.dxf"}).settings.Margin, 10.0);
  EXPECT_EQ(Parse({"--margin", "1in", "a.dxf"}).settings.Margin, 25.4);
  EXPECT_EQ(Parse({"--paper", "letter", "--margin", "0.5in", "a.dxf"}).settings.Margin, 0.5);
  EXPECT_EQ(Parse({"--margin", "25.4mm", "--paper", "letter", "a.dxf"}).settings.Margin, 1.0);
}

TEST(CommandLine, RefusesBadOptionsWithAMessageNamingTheOption) {
  const struct {
    std::vector<std::string> args;
    const char* start;
  } cases[] = {
      {{"--scale", "0.0009", "a.dxf"}, "--scale: "},
      {{"--scale", "abc", "a.dxf"}, "--scale: "},
      {{"--scale", "1e3", "a.dxf"}, "--scale: "},
      {{"--dpi", "10", "a.dxf"}, "--dpi: "},
      {{"--dpi", "72.5", "a.dxf"}, "--dpi: "},
      {{"--layout", "some", "a.dxf"}, "--layout: "},
      {{"--area", "", "a.dxf"}, "--area: "},
      {{"--colors", "red", "a.dxf"}, "--colors: "},
      {{"-t", "pdf", "a.dxf"}, "-t: "},
      {{"--size", "A4", "a.dxf"}, "--size: "},
      {{"--size", "10mmx5in", "a.dxf"}, "--size: "},
      {{"--paper", "A9", "a.dxf"}, "--paper: "},
      {{"--margin", "-1mm", "a.dxf"}, "--margin: "},
      {{"--frobnicate", "a.dxf"}, "--frobnicate: "},
      {{"--json=yes", "a.dxf"}, "--json: "},
      {{"a.dxf", "--scale"}, "--scale: "},
      {{"-o", "x.pdf"}, "no drawing given"},
      {{"-t", "merge", "a.dxf"}, "You must input a PDF filename first!"},
      {{"--ctb", "a.ctb", "--pen-set", "Thin", "a.dxf"}, "--ctb: "},
      {{"--pen-file", "sets.cps", "a.dxf"}, "--pen-file: "},
      {{"--overwrite", "a.dxf"}, "--overwrite: "},
      {{"--export-pen-sets", "a.cps", "--import-pen-sets", "b.cps"}, "--import-pen-sets: "},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_FALSE(p.ok) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(p.error.rfind(c.start, 0), 0u) << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << "one line";
  }
}

TEST(CommandLine, TakesPenSetNamesInsteadOfDrawingsForACopy) {
  Parsed p = Parse({"--import-pen-sets", "sets.cps", "Thin", "--overwrite", "Bold"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.transfer, CliOptions::PenSetTransfer::Import);
  EXPECT_EQ(p.options.transferFile, "sets.cps");
  EXPECT_EQ(p.options.penSetNames, (std::vector<std::string>{"Thin", "Bold"}));
  EXPECT_TRUE(p.options.drawings.empty());
  EXPECT_TRUE(p.options.overwrite);

  p = Parse({"--export-pen-sets", "all.cps"});
  ASSERT_TRUE(p.ok) << p.error << ": no drawing is needed";
  EXPECT_TRUE(p.options.penSetNames.empty());

  p = Parse({"--ctb", "plot.ctb", "a.dxf"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.ctb, "plot.ctb");
  EXPECT_EQ(p.settings.UsePenSets, 1);
}

TEST(CommandLine, FindsSavedOnlyBeforeTheEndOfOptions) {
  EXPECT_TRUE(WantsSavedSettings({"a.dxf", "--saved"}));
  EXPECT_FALSE(WantsSavedSettings({"--", "--saved"}));
  EXPECT_FALSE(WantsSavedSettings({"a.dxf"}));
}

TEST(CommandLine, KeepsTheSavedOutputTypeWhenNoTargetIsGiven) {
  CConvertSettings saved;
  saved.PdfType = OutputType::PerLayout;
  saved.TargetPdf = "/out/";
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--saved", "a.dxf"}, saved, options, &error)) << error;
  EXPECT_EQ(saved.PdfType, OutputType::PerLayout);
  EXPECT_EQ(saved.TargetPdf, "/out/");
}

TEST(CommandLine, RefusesAPdfFileAsTheFolderOfOnePdfPerDrawing) {
  for (const char* type : {"per-drawing", "per-layout"}) {
    const Parsed p = Parse({"-t", type, "-o", "out.pdf", "a.dxf"});
    EXPECT_FALSE(p.ok) << type;
    EXPECT_EQ(p.error.rfind("-o: ", 0), 0u) << "the message names the option: " << p.error;
  }
  testsupport::TempDir dir;
  std::filesystem::create_directory(dir / "pdfs.pdf");
  EXPECT_TRUE(Parse({"-t", "per-drawing", "-o", (dir / "pdfs.pdf").string(), "a.dxf"}).ok)
      << "a folder of that name that exists is taken";
}

TEST(CommandLine, GivesEveryPageTheSizeAskedForUnlessLayoutPaperIsAskedFor) {
  EXPECT_EQ(Parse({"a.dxf"}).settings.UseLayoutPageSet, 1);
  EXPECT_EQ(Parse({"--paper", "A3", "a.dxf"}).settings.UseLayoutPageSet, 0);
  EXPECT_EQ(Parse({"--size", "420x297mm", "a.dxf"}).settings.UseLayoutPageSet, 0);
  EXPECT_EQ(Parse({"--paper", "A3", "--layout-paper-size", "a.dxf"}).settings.UseLayoutPageSet, 1);
  EXPECT_EQ(Parse({"--layout-paper-size", "--paper", "A3", "a.dxf"}).settings.UseLayoutPageSet, 1)
      << "the order of the options does not matter";
  EXPECT_EQ(Parse({"--no-layout-paper-size", "a.dxf"}).settings.UseLayoutPageSet, 0);
}

TEST(CommandLine, TakesFoldersListsLineWeightsAndCompression) {
  Parsed p = Parse({"-r", "--from-list", "-"});
  ASSERT_TRUE(p.ok) << p.error << ": a list alone names the drawings";
  EXPECT_TRUE(p.options.recursive);
  EXPECT_EQ(p.options.fromList, "-");
  EXPECT_EQ(Parse({"--line-weights", "whole-points", "a.dxf"}).settings.ExactLineWeights, 0);
  EXPECT_EQ(Parse({"--line-weights", "exact", "a.dxf"}).settings.ExactLineWeights, 1);
  EXPECT_FALSE(Parse({"--line-weights", "thick", "a.dxf"}).ok);
  EXPECT_EQ(Parse({"a.dxf"}).settings.Compression, 1);
  EXPECT_EQ(Parse({"--compression", "fast", "a.dxf"}).settings.Compression, 0);
  EXPECT_EQ(Parse({"--compression", "SMALL", "a.dxf"}).settings.Compression, 2);
  EXPECT_FALSE(Parse({"--compression", "9", "a.dxf"}).ok);
}

TEST(CommandLine, DocumentsEveryOptionItTakesInTheHelpTheManualAndTheCompletions) {
  const std::string help = UsageText();
  const std::string manual = ManualPage("1.0");
  const std::string bash = Completion("bash");
  const std::string zsh = Completion("zsh");
  for (const std::string& name : OptionNames()) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
    std::string inManual;
    for (char c : name) inManual += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(manual.find(inManual), std::string::npos) << name;
    EXPECT_TRUE(bash.find(" " + name + " ") != std::string::npos ||
                bash.find("\"" + name + " ") != std::string::npos ||
                bash.find(" " + name + "\"") != std::string::npos)
        << name;
    EXPECT_NE(zsh.find("'" + name + "["), std::string::npos) << name;
    // The parser knows every documented option.
    std::vector<std::string> args{name};
    if (name == "--title" || name == "--author" || name == "--subject" || name == "--keywords") {
      args.push_back("x");
    }
    args.push_back("a.dxf");
    const Parsed p = Parse(args);
    EXPECT_EQ(p.error.find("unknown option"), std::string::npos) << name << ": " << p.error;
  }
  for (const std::string& line : {std::string(help)}) {
    std::size_t start = 0;
    while (start < line.size()) {
      const std::size_t end = line.find('\n', start);
      EXPECT_LE(end - start, 80u) << "the help fits 80 columns: "
                                  << line.substr(start, end - start);
      start = end + 1;
    }
  }
}

TEST(CommandLine, TakesAShareOfTheListAndLeavesDrawingsWithNewerPdfs) {
  const Parsed p = Parse({"--shard", "2/5", "--skip-existing", "-o", "out", "a.dxf"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.shard, 2);
  EXPECT_EQ(p.options.shards, 5);
  EXPECT_TRUE(p.options.skipExisting);
  for (const char* bad : {"5/5", "-1/3", "1", "1/0", "a/b", "1/2/3"}) {
    EXPECT_FALSE(Parse({"--shard", bad, "a.dxf"}).ok) << bad;
  }
  const Parsed merged = Parse({"--skip-existing", "-o", "all.pdf", "a.dxf"});
  EXPECT_FALSE(merged.ok) << "a merged file is made whole or not at all";
  EXPECT_EQ(merged.error.rfind("--skip-existing: ", 0), 0u) << merged.error;
}

TEST(CommandLine, ShortensStatusTextsInTheMiddleByCharacters) {
  EXPECT_EQ(ShortenMiddle("Converting: plan.dxf", 40), "Converting: plan.dxf");
  EXPECT_EQ(ShortenMiddle("/archive/2019/site/plan.dxf", 15), "/archi…plan.dxf");
  // Characters, not bytes: "ä" and "ö" take two bytes and one column each, and no sequence is cut.
  EXPECT_EQ(ShortenMiddle("/häuser/öfen/plan.dxf", 12), "/häus…an.dxf");
  EXPECT_EQ(ShortenMiddle("/häuser/öfen/plan.dxf", 21), "/häuser/öfen/plan.dxf");
  EXPECT_EQ(ShortenMiddle("abc", 1), "…");
  EXPECT_EQ(ShortenMiddle("abc", 0), "");
  // A byte that is no UTF-8 counts as one character and stays whole.
  EXPECT_EQ(ShortenMiddle("\xE9"
                          "bcdefg",
                          4),
            "\xE9…fg");
}
