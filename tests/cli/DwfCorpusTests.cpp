// The shared corpus's DWF files through the program: every output mode, every file checked, and
// each sheet's page compared with the thumbnail the package carries.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "drawing/ImageFile.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;

namespace {

std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

std::vector<fs::path> Pdfs(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".pdf") found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

int Pages(const fs::path& pdf) {
  std::string output;
  if (RunCommand("qpdf --show-npages " + Quoted(pdf), output) != 0) return -1;
  return std::atoi(output.c_str());
}

// A gray picture, 0 black … 255 white, rows from the top.
struct Gray {
  int width = 0, height = 0;
  std::vector<double> pixels;
  double At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Reads a binary PGM ("P5") as pdftoppm -gray writes it.
Gray ReadPgm(const fs::path& path) {
  Gray gray;
  const std::string bytes = testsupport::ReadFile(path);
  int maximum = 0, consumed = 0;
  if (std::sscanf(bytes.c_str(), "P5 %d %d %d%n", &gray.width, &gray.height, &maximum, &consumed) !=
          3 ||
      maximum != 255) {
    return {};
  }
  const std::size_t start = static_cast<std::size_t>(consumed) + 1;
  if (bytes.size() < start + static_cast<std::size_t>(gray.width) * gray.height) return {};
  for (std::size_t i = 0; i < static_cast<std::size_t>(gray.width) * gray.height; ++i) {
    gray.pixels.push_back(static_cast<unsigned char>(bytes[start + i]));
  }
  return gray;
}

Gray FromDib(const CDib& dib) {
  Gray gray;
  gray.width = dib.Width();
  gray.height = dib.Height();
  for (int y = gray.height - 1; y >= 0; --y) {  // storage row 0 is the bottom row
    const std::uint8_t* row = dib.Row(y);
    for (int x = 0; x < gray.width; ++x) {
      gray.pixels.push_back(0.114 * row[3 * x] + 0.587 * row[3 * x + 1] + 0.299 * row[3 * x + 2]);
    }
  }
  return gray;
}

// A box blur over (2 × radius + 1)² pixels: a line that one renderer draws one pixel wide and
// dark and the other anti-aliased across two pixels looks alike after it.
Gray Blurred(const Gray& in, int radius) {
  Gray rows = in, out = in;
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const int lo = std::max(0, x - radius), hi = std::min(in.width - 1, x + radius);
      double sum = 0;
      for (int u = lo; u <= hi; ++u) sum += in.At(u, y);
      rows.pixels[static_cast<std::size_t>(y) * in.width + x] = sum / (hi - lo + 1);
    }
  }
  for (int y = 0; y < in.height; ++y) {
    const int lo = std::max(0, y - radius), hi = std::min(in.height - 1, y + radius);
    for (int x = 0; x < in.width; ++x) {
      double sum = 0;
      for (int v = lo; v <= hi; ++v) sum += rows.At(x, v);
      out.pixels[static_cast<std::size_t>(y) * in.width + x] = sum / (hi - lo + 1);
    }
  }
  return out;
}

// The correlation of a's pixels moved by (dx, dy) with b's, over the pixels both cover: 1 alike,
// 0 unrelated.
double Correlation(const Gray& a, const Gray& b, int dx, int dy) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (int y = std::max(0, dy); y < std::min(b.height, a.height + dy); ++y) {
    for (int x = std::max(0, dx); x < std::min(b.width, a.width + dx); ++x) {
      const double p = a.At(x - dx, y - dy), q = b.At(x, y);
      n += 1;
      sa += p;
      sb += q;
      saa += p * p;
      sbb += q * q;
      sab += p * q;
    }
  }
  if (n == 0) return 0;
  const double cov = sab - sa * sb / n, va = saa - sa * sa / n, vb = sbb - sb * sb / n;
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

// How a page compares with its thumbnail after both are blurred: the correlation where they lie,
// and the shift of the page (within ±4 pixels) at which they correlate best.
struct Likeness {
  double correlation = 0;
  int bestDx = 0, bestDy = 0;
};

Likeness Compare(const Gray& page, const Gray& thumbnail) {
  constexpr int kBlur = 2, kReach = 4;
  const Gray a = Blurred(page, kBlur), b = Blurred(thumbnail, kBlur);
  Likeness likeness;
  likeness.correlation = Correlation(a, b, 0, 0);
  double best = likeness.correlation;
  for (int dy = -kReach; dy <= kReach; ++dy) {
    for (int dx = -kReach; dx <= kReach; ++dx) {
      const double c = Correlation(a, b, dx, dy);
      if (c > best) {
        best = c;
        likeness.bestDx = dx;
        likeness.bestDy = dy;
      }
    }
  }
  return likeness;
}

struct Thumbnail {
  double plotOrder = 0;
  std::string png;
};

// The sheets' thumbnails of a package, in plot order, read with libzip.
std::vector<Thumbnail> Thumbnails(const fs::path& package) {
  std::vector<Thumbnail> found;
  const std::string bytes = testsupport::ReadFile(package);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);  // a source the archive did not take is still ours
    return found;
  }
  const auto read = [&](const std::string& name) {
    std::string member;
    zip_stat_t stat;
    if (zip_stat(archive, name.c_str(), 0, &stat) != 0) return member;
    zip_file_t* file = zip_fopen(archive, name.c_str(), 0);
    if (!file) return member;
    member.resize(stat.size);
    zip_fread(file, member.data(), stat.size);
    zip_fclose(file);
    return member;
  };
  const std::regex order("plotOrder=\"([0-9.]+)\"");
  const std::regex thumbnail("<ePlot:ImageResource role=\"thumbnail\"[^>]* href=\"([^\"]+)\"");
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    const std::string name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
    if (name.find("ePlot_") == std::string::npos ||
        name.find("descriptor.xml") == std::string::npos) {
      continue;
    }
    const std::string descriptor = read(name);
    std::smatch o, t;
    if (!std::regex_search(descriptor, o, order) || !std::regex_search(descriptor, t, thumbnail)) {
      continue;
    }
    found.push_back({std::stod(o[1].str()), read(t[1].str())});
  }
  zip_close(archive);
  std::stable_sort(found.begin(), found.end(), [](const Thumbnail& a, const Thumbnail& b) {
    return a.plotOrder < b.plotOrder;
  });
  return found;
}

// The files of the corpus that convert, with their sheets; how well (at least) each sheet's page
// correlates with its thumbnail after the blur, and how far (at most) the best fit may lie from
// no shift, in pixels (see the thumbnail test).
struct CorpusFile {
  std::string name;
  int sheets;
  double likeness;
  int shift;
};
// The underlay sheet's frame and picture come out 4 % wider than its thumbnail draws them, their
// left edge 4 pixels further left (its plot information turns the plot by 90°; not understood
// yet): held to what it does now, so that any drift shows.
const std::vector<CorpusFile> kCorpus = {
    {"dwftk_IRD_Addition.dwf", 11, 0.78, 1}, {"dwftk_content.dwf", 1, 0.78, 1},
    {"dwftk_ocean_90.w2d", 1, 0.78, 1},      {"ezdxf_underlay.dwf", 1, 0.45, 2},
    {"zsdwf_1_A3.dwf", 1, 0.78, 1},          {"zsdwf_2_A1.dwf", 1, 0.78, 1},
    {"zsdwf_3_A3.dwf", 1, 0.78, 1},          {"zsdwf_4_A3.dwf", 1, 0.78, 1}};

}  // namespace

TEST(DwfThroughTheProgram, EveryFileConvertsInEveryOutputMode) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  for (const auto& [name, sheets, likeness, shift] : kCorpus) {
    const fs::path drawing = shared / "corpus/dwf" / name;
    for (const char* mode : {"merge", "per-drawing", "per-layout"}) {
      testsupport::TempDir dir;
      const fs::path target = std::string(mode) == "merge" ? dir / "all.pdf" : dir.Path();
      std::string output;
      const int status = RunCommand(std::string(TARNVELOX_CLI) + " -q -t " + mode + " -o " +
                                        Quoted(target) + " " + Quoted(drawing),
                                    output);
      ASSERT_EQ(status, 0) << name << " " << mode << ":\n" << output;
      const std::vector<fs::path> pdfs = Pdfs(dir.Path());
      ASSERT_EQ(static_cast<int>(pdfs.size()), std::string(mode) == "per-layout" ? sheets : 1)
          << name << " " << mode;
      int pages = 0;
      for (const fs::path& pdf : pdfs) {
        EXPECT_TRUE(testsupport::CheckPdfFile(pdf)) << pdf;
        pages += Pages(pdf);
      }
      EXPECT_EQ(pages, sheets) << name << " " << mode << ": one page a sheet, no model space";
    }
  }
}

TEST(DwfThroughTheProgram, APackageOfModelsFailsWithItsReason) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  testsupport::TempDir dir;
  std::string output;
  const int status = RunCommand(std::string(TARNVELOX_CLI) + " -o " + Quoted(dir / "x.pdf") + " " +
                                    Quoted(shared / "corpus/dwf/dwftk_3DPublishOut.dwf"),
                                output);
  EXPECT_EQ(status, 2) << output;
  EXPECT_NE(output.find("Can not open drawing file"), std::string::npos) << output;
  EXPECT_NE(output.find("Reason: no printable 2D sheet"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(dir / "x.pdf"));
}

// Each page rendered at its thumbnail's size looks like the thumbnail. The two renderers differ
// in anti-aliasing and line widths at this tiny scale (the thumbnails draw every line one pixel
// wide and dark, our pages anti-alias thin lines to light gray), which changes the gray levels
// but keeps the picture. So both are blurred over 5 × 5 pixels and compared by correlation,
// which ignores the overall gray level, and the page must also lie where its thumbnail does: of
// all shifts up to 4 pixels, the best one is at most a pixel from none (the scales round).
// Measured after the blur: 0.83 to 0.95 on the drawn sheets; on the same pages moved by 5 % of
// their width 0.18 to 0.70, and on another sheet of the same frame and title block 0.68. The
// underlay sheet is one small picture on white whose thumbnail resamples it to a few dozen
// pixels: 0.57 in place, 0.33 moved; it is held to 0.45 and to the shift it has now (kCorpus).
TEST(DwfThroughTheProgram, PagesLookLikeTheThumbnailsThePackagesCarry) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder";
  for (const auto& [name, sheets, minimum, reach] : kCorpus) {
    const fs::path drawing = shared / "corpus/dwf" / name;
    const std::vector<Thumbnail> thumbnails = Thumbnails(drawing);
    if (thumbnails.empty()) continue;  // the bare stream has none
    ASSERT_EQ(static_cast<int>(thumbnails.size()), sheets) << name;
    testsupport::TempDir dir;
    std::string output;
    ASSERT_EQ(RunCommand(std::string(TARNVELOX_CLI) + " -q -o " + Quoted(dir / "all.pdf") + " " +
                             Quoted(drawing),
                         output),
              0)
        << output;
    ASSERT_TRUE(testsupport::CheckPdfFile(dir / "all.pdf"));
    for (int page = 1; page <= sheets; ++page) {
      auto dib = drawing::LoadImageData(thumbnails[page - 1].png);
      ASSERT_NE(dib, nullptr) << name << " page " << page;
      const Gray expected = FromDib(*dib);
      const std::string command = "pdftoppm -gray -f " + std::to_string(page) + " -l " +
                                  std::to_string(page) + " -scale-to-x " +
                                  std::to_string(expected.width) + " -scale-to-y " +
                                  std::to_string(expected.height) + " -singlefile " +
                                  Quoted(dir / "all.pdf") + " " + Quoted(dir / "page");
      ASSERT_EQ(RunCommand(command, output), 0) << output;
      const Gray actual = ReadPgm(dir / "page.pgm");
      ASSERT_EQ(actual.width, expected.width) << name;
      ASSERT_EQ(actual.height, expected.height) << name;
      const Likeness likeness = Compare(actual, expected);
      std::printf("%s page %d: correlation %.2f, best at a shift of %d,%d pixels\n", name.c_str(),
                  page, likeness.correlation, likeness.bestDx, likeness.bestDy);
      EXPECT_GE(likeness.correlation, minimum)
          << name << " page " << page << " does not look like its thumbnail";
      EXPECT_LE(std::max(std::abs(likeness.bestDx), std::abs(likeness.bestDy)), reach)
          << name << " page " << page << " is drawn away from where its thumbnail has it";
    }
  }
}
