// Reading the raster images drawings refer to, and finding them on disk.
#include <gtest/gtest.h>

#include <cstdio>
// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "drawing/ImageFile.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using drawing::FindImageFile;
using drawing::LoadImageFile;
using testsupport::TempDir;

// ---- Reading bitmaps --------------------------------------------------------------------------

// The colour at (x, y) counted from the picture's top-left corner, as 0xRRGGBB.
std::uint32_t PixelAt(const CDib& dib, int x, int yFromTop) {
  const std::uint8_t* p = dib.Row(dib.Height() - 1 - yFromTop) + static_cast<std::size_t>(x) * 3;
  return std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

::testing::AssertionResult Near(std::uint32_t actual, std::uint32_t expected, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = static_cast<int>((actual >> shift) & 0xFF);
    const int e = static_cast<int>((expected >> shift) & 0xFF);
    if (a - e > tolerance || e - a > tolerance) {
      return ::testing::AssertionFailure()
             << std::hex << "colour " << actual << " is not within " << std::dec << tolerance
             << " of " << std::hex << expected;
    }
  }
  return ::testing::AssertionSuccess();
}

// Checks every pixel of a bitmap against the colour the picture should have there.
::testing::AssertionResult Shows(const CDib* dib, int width, int height,
                                 const std::function<std::uint32_t(int, int)>& expected,
                                 int tolerance = 0) {
  if (!dib) return ::testing::AssertionFailure() << "the image was not read";
  if (dib->Width() != width || dib->Height() != height || dib->BitsPerPixel() != 24) {
    return ::testing::AssertionFailure()
           << "read as " << dib->Width() << "x" << dib->Height() << " of " << dib->BitsPerPixel()
           << " bits, expected " << width << "x" << height << " of 24";
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      auto near = Near(PixelAt(*dib, x, y), expected(x, y), tolerance);
      if (!near) return near << " at (" << x << ", " << y << ") from the top-left";
    }
  }
  return ::testing::AssertionSuccess();
}

// A picture in which every pixel differs from its neighbours.
std::uint32_t Pattern(int x, int y) {
  return static_cast<std::uint32_t>((x * 37 + 11) % 256) << 16 |
         static_cast<std::uint32_t>((y * 53 + 7) % 256) << 8 |
         static_cast<std::uint32_t>((x * 19 + y * 29) % 256);
}

std::uint8_t Red(std::uint32_t c) {
  return static_cast<std::uint8_t>(c >> 16);
}
std::uint8_t Green(std::uint32_t c) {
  return static_cast<std::uint8_t>(c >> 8);
}
std::uint8_t Blue(std::uint32_t c) {
  return static_cast<std::uint8_t>(c);
}

// ---- Writing test files ---------------------------------------------------------------------

struct PngPicture {
  int width = 0;
  int height = 0;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<std::uint8_t> samples = {};  // rows as stored in the file, without filter bytes
  std::vector<png_color> palette = {};
  std::vector<png_byte> paletteAlpha = {};
};

void WritePng(const fs::path& path, const PngPicture& picture) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colorType,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty()) {
    png_set_PLTE(png, info, picture.palette.data(), static_cast<int>(picture.palette.size()));
  }
  if (!picture.paletteAlpha.empty()) {
    png_set_tRNS(png, info, picture.paletteAlpha.data(),
                 static_cast<int>(picture.paletteAlpha.size()), nullptr);
  }
  png_write_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<png_bytep> rows(picture.height);
  for (int y = 0; y < picture.height; ++y) {
    rows[y] = const_cast<png_bytep>(&picture.samples[rowBytes * y]);
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

PngPicture RgbPng(int width, int height, const std::function<std::uint32_t(int, int)>& color) {
  PngPicture picture{.width = width, .height = height};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = color(x, y);
      picture.samples.insert(picture.samples.end(), {Red(c), Green(c), Blue(c)});
    }
  }
  return picture;
}

// samples: width × height × components bytes, top row first.
void WriteJpeg(const fs::path& path, int width, int height, int components, J_COLOR_SPACE space,
               const std::vector<std::uint8_t>& samples, bool adobeMarker = true) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  // No chroma subsampling, so that colours stay true up to the edges of regions.
  for (int c = 0; c < info.num_components; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  if (!adobeMarker) info.write_Adobe_marker = FALSE;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(&samples[std::size_t{info.next_scanline} * width * components]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
}

void WriteRgbJpeg(const fs::path& path, int width, int height,
                  const std::function<std::uint32_t(int, int)>& color) {
  std::vector<std::uint8_t> samples;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = color(x, y);
      samples.insert(samples.end(), {Red(c), Green(c), Blue(c)});
    }
  }
  WriteJpeg(path, width, height, 3, JCS_RGB, samples);
}

struct TiffPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t samplesPerPixel = 3;
  std::uint16_t bitsPerSample = 8;
  std::uint16_t photometric = PHOTOMETRIC_RGB;
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t extraSample = 0;  // EXTRASAMPLE_UNASSALPHA for a fourth sample
  std::uint32_t rowsPerStrip = 0;
  std::uint32_t tileSize = 0;              // tiled when not 0
  std::vector<std::uint8_t> samples = {};  // rows in file order, as stored
};

void WriteTiff(const fs::path& path, const TiffPicture& picture) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, picture.samplesPerPixel);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, picture.bitsPerSample);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, picture.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, picture.orientation);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, picture.compression);
  if (picture.extraSample) {
    const std::uint16_t extra[] = {picture.extraSample};
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  const std::size_t rowBytes =
      std::size_t{picture.width} * picture.samplesPerPixel * picture.bitsPerSample / 8;
  if (picture.tileSize) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, picture.tileSize);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, picture.tileSize);
    const std::size_t pixelBytes = picture.samplesPerPixel * picture.bitsPerSample / 8;
    std::vector<std::uint8_t> tile(std::size_t{picture.tileSize} * picture.tileSize * pixelBytes);
    for (std::uint32_t ty = 0; ty < picture.height; ty += picture.tileSize) {
      for (std::uint32_t tx = 0; tx < picture.width; tx += picture.tileSize) {
        std::fill(tile.begin(), tile.end(), 0);
        for (std::uint32_t y = ty; y < std::min(ty + picture.tileSize, picture.height); ++y) {
          for (std::uint32_t x = tx; x < std::min(tx + picture.tileSize, picture.width); ++x) {
            std::copy_n(&picture.samples[y * rowBytes + x * pixelBytes], pixelBytes,
                        &tile[((y - ty) * picture.tileSize + (x - tx)) * pixelBytes]);
          }
        }
        TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0);
      }
    }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                 picture.rowsPerStrip ? picture.rowsPerStrip : picture.height);
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
      std::copy_n(&picture.samples[y * rowBytes], rowBytes, row.begin());
      ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
    }
  }
  TIFFClose(tiff);
}

TiffPicture RgbTiff(std::uint32_t width, std::uint32_t height,
                    const std::function<std::uint32_t(int, int)>& color) {
  TiffPicture picture{.width = width, .height = height};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t c = color(static_cast<int>(x), static_cast<int>(y));
      picture.samples.insert(picture.samples.end(), {Red(c), Green(c), Blue(c)});
    }
  }
  return picture;
}

void Put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

struct BmpPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: top row first
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t headerSize = 40;
  std::vector<std::uint32_t> palette = {};  // 0xRRGGBB
  std::vector<std::uint32_t> masks = {};    // red, green, blue (and alpha) for compression 3
  std::vector<std::string> rows = {};       // in file order, without padding
};

std::string MakeBmp(const BmpPicture& picture) {
  std::string header;
  if (picture.headerSize == 12) {
    Put32(header, 12);
    Put16(header, static_cast<unsigned>(picture.width));
    Put16(header, static_cast<unsigned>(picture.height));
    Put16(header, 1);
    Put16(header, static_cast<unsigned>(picture.bits));
  } else {
    Put32(header, picture.headerSize);
    Put32(header, static_cast<std::uint32_t>(picture.width));
    Put32(header, static_cast<std::uint32_t>(picture.height));
    Put16(header, 1);
    Put16(header, static_cast<unsigned>(picture.bits));
    Put32(header, picture.compression);
    Put32(header, 0);
    Put32(header, 2835);
    Put32(header, 2835);
    Put32(header, static_cast<std::uint32_t>(picture.palette.size()));
    Put32(header, 0);
    for (const std::uint32_t mask : picture.masks) Put32(header, mask);
    header.resize(std::max<std::size_t>(header.size(), picture.headerSize), '\0');
  }
  for (const std::uint32_t color : picture.palette) {
    header += static_cast<char>(Blue(color));
    header += static_cast<char>(Green(color));
    header += static_cast<char>(Red(color));
    if (picture.headerSize != 12) header += '\0';
  }
  std::string pixels;
  for (std::string row : picture.rows) {
    row.resize((row.size() + 3) / 4 * 4, '\0');
    pixels += row;
  }
  std::string file = "BM";
  Put32(file, static_cast<std::uint32_t>(14 + header.size() + pixels.size()));
  Put32(file, 0);
  Put32(file, static_cast<std::uint32_t>(14 + header.size()));
  return file + header + pixels;
}

std::unique_ptr<CDib> LoadBytes(const TempDir& dir, const std::string& name,
                                const std::string& bytes, std::int64_t maxPixels = 40'000'000) {
  testsupport::WriteFile(dir / name, bytes);
  return LoadImageFile((dir / name).string(), maxPixels);
}

// ---- PNG ------------------------------------------------------------------------------------

TEST(ImageFilePng, PutsTheFirstRowOfTheFileAtTheTopOfTheBitmap) {
  TempDir dir;
  WritePng(dir / "a.png", RgbPng(5, 3, Pattern));
  auto dib = LoadImageFile((dir / "a.png").string());
  ASSERT_TRUE(Shows(dib.get(), 5, 3, Pattern));
  // Stated once in storage terms: the file's top-left pixel lives in storage row height-1.
  const std::uint8_t* topRow = dib->Row(2);
  EXPECT_EQ(topRow[2], Red(Pattern(0, 0)));
  EXPECT_EQ(topRow[1], Green(Pattern(0, 0)));
  EXPECT_EQ(topRow[0], Blue(Pattern(0, 0)));
}

TEST(ImageFilePng, ExpandsPalettesGraysAndSixteenBitSamples) {
  TempDir dir;
  PngPicture palette{.width = 4, .height = 1, .colorType = PNG_COLOR_TYPE_PALETTE, .bitDepth = 4};
  palette.palette = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255}};
  palette.samples = {0x01, 0x20};  // indices 0, 1, 2, 0
  WritePng(dir / "palette.png", palette);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "palette.png").string()).get(), 4, 1, [](int x, int) {
    return std::vector<std::uint32_t>{0xFF0000, 0x008000, 0x0000FF, 0xFF0000}[x];
  }));

  PngPicture gray2{.width = 4, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 2};
  gray2.samples = {0x1B};  // levels 0, 1, 2, 3
  WritePng(dir / "gray2.png", gray2);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "gray2.png").string()).get(), 4, 1,
                    [](int x, int) { return 0x555555u * static_cast<std::uint32_t>(x); }));

  PngPicture gray1{.width = 9, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 1};
  gray1.samples = {0xA5, 0x80};  // 1 0 1 0 0 1 0 1 1
  WritePng(dir / "gray1.png", gray1);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "gray1.png").string()).get(), 9, 1,
                    [](int x, int) { return (0x14Bu >> (8 - x)) & 1 ? 0xFFFFFFu : 0u; }));

  // 16-bit samples are scaled to 8 bits, not cut: 0x00FF is nearer 0x01 than 0x00.
  PngPicture deep{.width = 2, .height = 1, .colorType = PNG_COLOR_TYPE_RGB, .bitDepth = 16};
  deep.samples = {0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0xFF, 0xFF};
  WritePng(dir / "deep.png", deep);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "deep.png").string()).get(), 2, 1,
                    [](int x, int) { return x == 0 ? 0xFF0100u : 0x0012FFu; }));
}

TEST(ImageFilePng, CompositesAlphaOverWhite) {
  TempDir dir;
  PngPicture rgba{.width = 3, .height = 1, .colorType = PNG_COLOR_TYPE_RGB_ALPHA};
  rgba.samples = {255, 0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 128};
  WritePng(dir / "rgba.png", rgba);
  // Half-covered blue: 255 * 127/255 added to every channel, blue full.
  EXPECT_TRUE(Shows(LoadImageFile((dir / "rgba.png").string()).get(), 3, 1, [](int x, int) {
    return std::vector<std::uint32_t>{0xFF0000, 0xFFFFFF, 0x7F7FFF}[x];
  }));

  PngPicture grayAlpha{.width = 2, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY_ALPHA};
  grayAlpha.samples = {0, 0, 0, 255};
  WritePng(dir / "ga.png", grayAlpha);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "ga.png").string()).get(), 2, 1,
                    [](int x, int) { return x == 0 ? 0xFFFFFFu : 0u; }));

  // A palette whose second entry is transparent (tRNS).
  PngPicture keyed{.width = 2, .height = 1, .colorType = PNG_COLOR_TYPE_PALETTE};
  keyed.palette = {{0, 0, 0}, {0, 0, 0}};
  keyed.paletteAlpha = {255, 0};
  keyed.samples = {0, 1};
  WritePng(dir / "keyed.png", keyed);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "keyed.png").string()).get(), 2, 1,
                    [](int x, int) { return x == 0 ? 0u : 0xFFFFFFu; }));
}

TEST(ImageFilePng, KeepsTransparencyWhenAskedTo) {
  TempDir dir;
  PngPicture rgba{.width = 3, .height = 1, .colorType = PNG_COLOR_TYPE_RGB_ALPHA};
  rgba.samples = {255, 0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 128};
  WritePng(dir / "rgba.png", rgba);
  auto dib = LoadImageFile((dir / "rgba.png").string(), 40'000'000, true);
  ASSERT_NE(dib, nullptr);
  EXPECT_TRUE(dib->HasAlpha());
  ASSERT_EQ(dib->BitsPerPixel(), 32);
  // Blue, green, red, opacity; the colours as stored, not over white.
  const std::uint8_t* row = dib->Row(0);
  EXPECT_EQ((std::vector<int>{row[0], row[1], row[2], row[3]}), (std::vector<int>{0, 0, 255, 255}));
  EXPECT_EQ((std::vector<int>{row[4], row[5], row[6], row[7]}), (std::vector<int>{0, 0, 255, 0}));
  EXPECT_EQ((std::vector<int>{row[8], row[9], row[10], row[11]}),
            (std::vector<int>{255, 0, 0, 128}));
  // Scaled, the opacity is averaged as the colour is.
  auto half = LoadImageFile((dir / "rgba.png").string(), 2, true);
  ASSERT_NE(half, nullptr);
  ASSERT_TRUE(half->HasAlpha());
  EXPECT_EQ(half->Width(), 2);
  EXPECT_EQ(half->Row(0)[3], 128) << "the mean of 255 and 0, rounded";

  PngPicture opaque{.width = 1, .height = 1, .colorType = PNG_COLOR_TYPE_RGB_ALPHA};
  opaque.samples = {1, 2, 3, 255};
  WritePng(dir / "opaque.png", opaque);
  auto plain = LoadImageFile((dir / "opaque.png").string(), 40'000'000, true);
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(plain->HasAlpha()) << "every pixel opaque: a plain bitmap";
  EXPECT_EQ(plain->BitsPerPixel(), 24);
}

TEST(ImageFilePng, ReadsInterlacedFilesWholeAndScaled) {
  TempDir dir;
  PngPicture picture = RgbPng(13, 11, Pattern);
  picture.interlaced = true;
  WritePng(dir / "adam7.png", picture);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "adam7.png").string()).get(), 13, 11, Pattern));
  // Scaled by 3 (5 × 4 = 20 pixels): each pixel is its block's top-left picture pixel.
  EXPECT_TRUE(Shows(LoadImageFile((dir / "adam7.png").string(), 20).get(), 5, 4,
                    [](int x, int y) { return Pattern(x * 3, y * 3); }));
  // A picture smaller than one interlace tile has empty passes.
  WritePng(dir / "tiny.png", [] {
    PngPicture tiny = RgbPng(1, 2, Pattern);
    tiny.interlaced = true;
    return tiny;
  }());
  EXPECT_TRUE(Shows(LoadImageFile((dir / "tiny.png").string()).get(), 1, 2, Pattern));
  EXPECT_TRUE(Shows(LoadImageFile((dir / "tiny.png").string(), 1).get(), 1, 1, Pattern));
}

// ---- JPEG -----------------------------------------------------------------------------------

// Four quadrants: red, green / blue, white.
std::uint32_t Quadrants(int x, int y, int size) {
  const bool right = x >= size / 2;
  const bool bottom = y >= size / 2;
  return bottom ? (right ? 0xFFFFFF : 0x0000FF) : (right ? 0x00FF00 : 0xFF0000);
}

TEST(ImageFileJpeg, ReadsColourAndGrayTheRightWayUp) {
  TempDir dir;
  WriteRgbJpeg(dir / "rgb.jpg", 16, 16, [](int x, int y) { return Quadrants(x, y, 16); });
  auto rgb = LoadImageFile((dir / "rgb.jpg").string());
  EXPECT_TRUE(Shows(
      rgb.get(), 16, 16, [](int x, int y) { return Quadrants(x, y, 16); }, 6));

  std::vector<std::uint8_t> gray(8 * 16, 0x20);
  std::fill(gray.begin() + 8 * 8, gray.end(), 0xD0);  // lower half light
  WriteJpeg(dir / "gray.jpg", 8, 16, 1, JCS_GRAYSCALE, gray);
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "gray.jpg").string()).get(), 8, 16,
      [](int, int y) { return y < 8 ? 0x202020u : 0xD0D0D0u; }, 3));
}

TEST(ImageFileJpeg, ReadsCmykInksWithAndWithoutTheAdobeMarker) {
  TempDir dir;
  // Cyan, magenta, yellow, black inks; each an 8 × 8 block.
  const std::uint8_t inks[4][4] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {0, 0, 0, 255}};
  const std::uint32_t colors[4] = {0x00FFFF, 0xFF00FF, 0xFFFF00, 0x000000};
  for (const bool adobe : {true, false}) {
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 32; ++x) {
        for (const std::uint8_t ink : inks[x / 8]) {
          // Photoshop, which writes the Adobe marker, stores 255 for no ink.
          samples.push_back(adobe ? static_cast<std::uint8_t>(255 - ink) : ink);
        }
      }
    }
    WriteJpeg(dir / "cmyk.jpg", 32, 8, 4, JCS_CMYK, samples, adobe);
    EXPECT_TRUE(Shows(
        LoadImageFile((dir / "cmyk.jpg").string()).get(), 32, 8,
        [&](int x, int) { return colors[x / 8]; }, 6))
        << (adobe ? "with" : "without") << " the Adobe marker";
  }
}

TEST(ImageFileJpeg, ScalesInTheDecoderAndThenByBox) {
  TempDir dir;
  WriteRgbJpeg(dir / "big.jpg", 48, 48, [](int x, int y) { return Quadrants(x, y, 48); });
  // Factor 4: decoded at a quarter.
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "big.jpg").string(), 144).get(), 12, 12,
      [](int x, int y) { return Quadrants(x, y, 12); }, 8));
  // Factor 6: half in the decoder, a third by box.
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "big.jpg").string(), 64).get(), 8, 8,
      [](int x, int y) { return Quadrants(x, y, 8); }, 8));
  // Factor 5 (factor 4 would leave 144 pixels): box only; the quadrant edge at 24 falls inside
  // block 4, which mixes the colours.
  auto five = LoadImageFile((dir / "big.jpg").string(), 120);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five->Width(), 10);
  EXPECT_TRUE(Near(PixelAt(*five, 0, 0), 0xFF0000, 8));
  EXPECT_TRUE(Near(PixelAt(*five, 9, 9), 0xFFFFFF, 8));
  EXPECT_TRUE(Near(PixelAt(*five, 4, 0), 0xCC3300, 12)) << "4 red and 1 green column of 5";
}

// ---- TIFF -----------------------------------------------------------------------------------

TEST(ImageFileTiff, ReadsStripsAndTilesInPictureOrder) {
  TempDir dir;
  TiffPicture strips = RgbTiff(7, 10, Pattern);
  strips.rowsPerStrip = 3;
  strips.compression = COMPRESSION_LZW;
  WriteTiff(dir / "strips.tif", strips);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "strips.tif").string()).get(), 7, 10, Pattern));

  TiffPicture tiles = RgbTiff(40, 35, Pattern);
  tiles.tileSize = 16;
  WriteTiff(dir / "tiles.tif", tiles);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "tiles.tif").string()).get(), 40, 35, Pattern));
}

TEST(ImageFileTiff, HonoursABottomUpOrientation) {
  TempDir dir;
  // Stored bottom row first: file row r is picture row 9 - r.
  TiffPicture picture = RgbTiff(6, 10, [](int x, int y) { return Pattern(x, 9 - y); });
  picture.orientation = ORIENTATION_BOTLEFT;
  picture.rowsPerStrip = 4;
  WriteTiff(dir / "up.tif", picture);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "up.tif").string()).get(), 6, 10, Pattern));
  // Scaled by 2 over bands of 4 rows: blocks pair picture rows 0-1, 2-3, ... all the same.
  auto half = LoadImageFile((dir / "up.tif").string(), 15);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->Height(), 5);
  const std::uint32_t mean = PixelAt(*half, 0, 0);
  std::uint32_t expected = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    unsigned sum = 0;
    for (const auto& [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
      sum += (Pattern(x, y) >> shift) & 0xFF;
    }
    expected |= ((sum + 2) / 4) << shift;
  }
  EXPECT_EQ(mean, expected);
}

TEST(ImageFileTiff, CompositesAlphaAndReadsDeepGray) {
  TempDir dir;
  TiffPicture rgba{.width = 3, .height = 1, .samplesPerPixel = 4};
  rgba.extraSample = EXTRASAMPLE_UNASSALPHA;
  rgba.samples = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128};
  WriteTiff(dir / "rgba.tif", rgba);
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "rgba.tif").string()).get(), 3, 1,
      [](int x, int) {
        return std::vector<std::uint32_t>{0xFF0000, 0xFFFFFF, 0x7F7FFF}[x];
      },
      1));

  TiffPicture gray{.width = 2,
                   .height = 2,
                   .samplesPerPixel = 1,
                   .bitsPerSample = 16,
                   .photometric = PHOTOMETRIC_MINISBLACK};
  for (const std::uint16_t level : {0x0000, 0xFFFF, 0x8000, 0x4000}) {
    gray.samples.push_back(static_cast<std::uint8_t>(level));  // little-endian host order
    gray.samples.push_back(static_cast<std::uint8_t>(level >> 8));
  }
  WriteTiff(dir / "gray16.tif", gray);
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "gray16.tif").string()).get(), 2, 2,
      [](int x, int y) {
        return std::vector<std::uint32_t>{0x000000, 0xFFFFFF, 0x808080, 0x404040}[y * 2 + x];
      },
      1));
}

// ---- BMP ------------------------------------------------------------------------------------

TEST(ImageFileBmp, ReadsAHandWrittenBottomUpFile) {
  // 2 × 2, 24 bits: the first stored row is the bottom one. Pixels are blue, green, red bytes.
  const unsigned char bytes[] = {
      'B',  'M', 70,   0,    0,    0,    0, 0, 0, 0, 54, 0, 0, 0,                     // file header
      40,   0,   0,    0,    2,    0,    0, 0, 2, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0,  // size, depth
      16,   0,   0,    0,    0,    0,    0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,  //
      0xFF, 0,   0,    0,    0xFF, 0,    0, 0,   // bottom: blue, green
      0,    0,   0xFF, 0xFF, 0xFF, 0xFF, 0, 0};  // top: red, white
  TempDir dir;
  auto dib = LoadBytes(dir, "hand.bmp", std::string(bytes, bytes + sizeof bytes));
  EXPECT_TRUE(Shows(dib.get(), 2, 2, [](int x, int y) {
    return std::vector<std::uint32_t>{0xFF0000, 0xFFFFFF, 0x0000FF, 0x00FF00}[y * 2 + x];
  }));
}

TEST(ImageFileBmp, ReadsEveryUncompressedDepthBothWaysUp) {
  TempDir dir;
  const std::vector<std::uint32_t> colors = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  auto twoRows = [&](BmpPicture picture, const std::string& name) {
    // Picture: top row colours 1 2 3, bottom row 3 2 1.
    for (const bool topDown : {false, picture.headerSize != 12}) {
      BmpPicture p = picture;
      if (topDown) {
        p.height = -p.height;
        std::swap(p.rows[0], p.rows[1]);
      }
      auto dib = LoadBytes(dir, name, MakeBmp(p));
      EXPECT_TRUE(Shows(
          dib.get(), 3, 2,
          [&](int x, int y) { return colors[static_cast<std::size_t>(y == 0 ? x + 1 : 3 - x)]; }))
          << name << (topDown ? " stored top-down" : " stored bottom-up");
    }
  };
  // Rows as given to MakeBmp are in bottom-up file order: bottom row first.
  twoRows({3, 2, 8, 0, 40, colors, {}, {"\3\2\1", "\1\2\3"}}, "8.bmp");
  twoRows({3, 2, 4, 0, 40, colors, {}, {"\x32\x10", "\x12\x30"}}, "4.bmp");
  twoRows(
      {3,
       2,
       24,
       0,
       40,
       {},
       {},
       {std::string("\xFF\0\0\0\xFF\0\0\0\xFF", 9), std::string("\0\0\xFF\0\xFF\0\xFF\0\0", 9)}},
      "24.bmp");
  // The fourth byte of an uncompressed 32-bit pixel is not alpha.
  twoRows({3,
           2,
           32,
           0,
           40,
           {},
           {},
           {std::string("\xFF\0\0\0\0\xFF\0\x7F\0\0\xFF\x10", 12),
            std::string("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0", 12)}},
          "32.bmp");
  // 5-5-5 when uncompressed; a 5-6-5 layout given by masks.
  twoRows({3,
           2,
           16,
           0,
           40,
           {},
           {},
           {std::string("\x1F\0\xE0\x03\0\x7C", 6), std::string("\0\x7C\xE0\x03\x1F\0", 6)}},
          "555.bmp");
  twoRows({3,
           2,
           16,
           3,
           40,
           {},
           {0xF800, 0x07E0, 0x001F},
           {std::string("\x1F\0\xE0\x07\0\xF8", 6), std::string("\0\xF8\xE0\x07\x1F\0", 6)}},
          "565.bmp");
  // The old 12-byte header, with 3-byte colour table entries and unsigned sizes (so bottom-up).
  twoRows({3, 2, 8, 0, 12, colors, {}, {"\3\2\1", "\1\2\3"}}, "core.bmp");

  // 1 bit: white, black, white over black, white, black.
  BmpPicture mono{.width = 3,
                  .height = 2,
                  .bits = 1,
                  .palette = {0x000000, 0xFFFFFF},
                  .rows = {"\x40", "\xA0"}};
  EXPECT_TRUE(Shows(LoadBytes(dir, "1.bmp", MakeBmp(mono)).get(), 3, 2,
                    [](int x, int y) { return (y == 0 ? x != 1 : x == 1) ? 0xFFFFFFu : 0u; }));
}

TEST(ImageFileBmp, CompositesAMaskedAlphaChannelOverWhite) {
  TempDir dir;
  // A V5 header (124 bytes) with masks for red, green, blue and alpha.
  BmpPicture picture{2,
                     1,
                     32,
                     3,
                     124,
                     {},
                     {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
                     {std::string("\0\0\0\0\xFF\0\0\x80", 8)}};
  EXPECT_TRUE(Shows(LoadBytes(dir, "alpha.bmp", MakeBmp(picture)).get(), 2, 1,
                    [](int x, int) { return x == 0 ? 0xFFFFFFu : 0x7F7FFFu; }));
}

TEST(ImageFileAlpha, TiffAndBmpKeepTransparencyWhenAskedTo) {
  TempDir dir;
  // Opaque red, transparent green, half-covered blue: blue, green, red, opacity per pixel, the
  // colours as stored (libtiff's premultiplied colour divided again), not over white.
  const auto pixels = [](const CDib* dib) {
    std::vector<std::vector<int>> out;
    const std::uint8_t* row = dib->Row(0);
    for (int x = 0; x < dib->Width(); ++x) {
      out.push_back({row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]});
    }
    return out;
  };
  TiffPicture rgba{.width = 3, .height = 1, .samplesPerPixel = 4};
  rgba.extraSample = EXTRASAMPLE_UNASSALPHA;
  rgba.samples = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128};
  WriteTiff(dir / "rgba.tif", rgba);
  const auto tiff = LoadImageFile((dir / "rgba.tif").string(), 40'000'000, true);
  ASSERT_NE(tiff, nullptr);
  ASSERT_TRUE(tiff->HasAlpha());
  const auto tiffPixels = pixels(tiff.get());
  EXPECT_EQ(tiffPixels[0], (std::vector<int>{0, 0, 255, 255}));
  EXPECT_EQ(tiffPixels[1][3], 0) << "its colour does not matter";
  EXPECT_EQ(tiffPixels[2], (std::vector<int>{255, 0, 0, 128}));

  // A V5 header with masks for red, green, blue and alpha.
  BmpPicture picture{3,
                     1,
                     32,
                     3,
                     124,
                     {},
                     {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
                     {std::string("\0\0\xFF\xFF\0\xFF\0\0\xFF\0\0\x80", 12)}};
  testsupport::WriteFile(dir / "alpha.bmp", MakeBmp(picture));
  const auto bmp = LoadImageFile((dir / "alpha.bmp").string(), 40'000'000, true);
  ASSERT_NE(bmp, nullptr);
  ASSERT_TRUE(bmp->HasAlpha());
  EXPECT_EQ(pixels(bmp.get()),
            (std::vector<std::vector<int>>{{0, 0, 255, 255}, {0, 255, 0, 0}, {255, 0, 0, 128}}));
  // Writers that set the mask and leave every alpha 0 mean an opaque picture.
  picture.rows = {std::string("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0", 12)};
  testsupport::WriteFile(dir / "unset.bmp", MakeBmp(picture));
  const auto unset = LoadImageFile((dir / "unset.bmp").string(), 40'000'000, true);
  ASSERT_NE(unset, nullptr);
  EXPECT_FALSE(unset->HasAlpha());
  EXPECT_TRUE(Shows(unset.get(), 3, 1, [](int x, int) {
    return std::vector<std::uint32_t>{0xFF0000, 0x00FF00, 0x0000FF}[x];
  }));
}

// ---- Damaged and unknown files --------------------------------------------------------------

TEST(ImageFileDamage, RefusesTruncatedFilesOfEveryKind) {
  TempDir dir;
  WritePng(dir / "a.png", RgbPng(64, 64, Pattern));
  WriteRgbJpeg(dir / "a.jpg", 64, 64, Pattern);
  WriteTiff(dir / "a.tif", RgbTiff(64, 64, Pattern));
  BmpPicture bmp{.width = 64, .height = 64};
  bmp.rows.assign(64, std::string(64 * 3, '\x55'));
  testsupport::WriteFile(dir / "a.bmp", MakeBmp(bmp));
  for (const char* name : {"a.png", "a.jpg", "a.tif", "a.bmp"}) {
    const std::string whole = testsupport::ReadFile(dir / name);
    ASSERT_NE(LoadImageFile((dir / name).string()), nullptr) << name << " whole";
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{10}, std::size_t{60},
                                   whole.size() / 2, whole.size() - 20}) {
      EXPECT_EQ(LoadBytes(dir, "cut", whole.substr(0, size)), nullptr)
          << name << " cut to " << size << " of " << whole.size() << " bytes";
    }
  }
}

TEST(ImageFileDamage, RefusesCorruptDataAndUnknownContent) {
  TempDir dir;
  WritePng(dir / "a.png", RgbPng(32, 32, Pattern));
  std::string png = testsupport::ReadFile(dir / "a.png");
  const std::size_t data = png.find("IDAT");
  ASSERT_NE(data, std::string::npos);
  std::string bad = png;
  bad[data + 30] = static_cast<char>(bad[data + 30] ^ 0x5A);  // fails the chunk's CRC
  EXPECT_EQ(LoadBytes(dir, "crc.png", bad), nullptr);
  // Only the end marker missing: every pixel is there, so the picture is drawn.
  EXPECT_NE(LoadBytes(dir, "noend.png", png.substr(0, png.size() - 12)), nullptr);

  EXPECT_EQ(LoadBytes(dir, "text.png", "not an image at all"), nullptr);
  EXPECT_EQ(LoadBytes(dir, "sig.png", std::string("\x89PNG\r\n\x1A\n", 8) + "garbage!"), nullptr);
  EXPECT_EQ(LoadBytes(dir, "empty.bmp", ""), nullptr);
  EXPECT_EQ(LoadImageFile((dir / "missing.png").string()), nullptr);
  EXPECT_EQ(LoadImageFile(dir.Path().string()), nullptr) << "a folder";
  // An RLE-compressed bitmap is not read.
  BmpPicture rle{
      .width = 1, .height = 1, .bits = 8, .compression = 1, .palette = {0}, .rows = {"\1\0\0\1"}};
  EXPECT_EQ(LoadBytes(dir, "rle.bmp", MakeBmp(rle)), nullptr);
}

TEST(ImageFileDamage, ChoosesTheReaderByContentNotByName) {
  TempDir dir;
  WritePng(dir / "really-a-png.jpg", RgbPng(3, 2, Pattern));
  WriteRgbJpeg(dir / "really-a-jpeg.tif", 8, 8, [](int, int) { return 0x3366CCu; });
  EXPECT_TRUE(Shows(LoadImageFile((dir / "really-a-png.jpg").string()).get(), 3, 2, Pattern));
  EXPECT_TRUE(Shows(
      LoadImageFile((dir / "really-a-jpeg.tif").string()).get(), 8, 8,
      [](int, int) { return 0x3366CCu; }, 4));
}

// ---- The size cap ---------------------------------------------------------------------------

TEST(ImageFileScale, AveragesBlocksOfTheSmallestSufficientFactor) {
  TempDir dir;
  // A checkerboard of black and white pixels: every 2 × 2 block averages to mid-gray.
  auto checker = [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFu : 0u; };
  WritePng(dir / "checker.png", RgbPng(100, 50, checker));
  EXPECT_TRUE(Shows(LoadImageFile((dir / "checker.png").string(), 1250).get(), 50, 25,
                    [](int, int) { return 0x808080u; }));
  EXPECT_TRUE(Shows(LoadImageFile((dir / "checker.png").string(), 5000).get(), 100, 50, checker))
      << "exactly at the cap: not scaled";
  EXPECT_EQ(LoadImageFile((dir / "checker.png").string(), 4999)->Width(), 50);

  // 5 × 3 capped at 4 pixels: factor 2 gives 3 × 2 = 6, so 3 gives 2 × 1. The right-hand
  // block holds 2 columns and the rows that exist (3).
  WritePng(dir / "odd.png", RgbPng(5, 3, Pattern));
  auto odd = LoadImageFile((dir / "odd.png").string(), 4);
  auto mean = [](int x0, int x1) {
    std::uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      unsigned sum = 0;
      for (int y = 0; y < 3; ++y) {
        for (int x = x0; x < x1; ++x) sum += (Pattern(x, y) >> shift) & 0xFF;
      }
      const unsigned count = static_cast<unsigned>(3 * (x1 - x0));
      result |= ((sum + count / 2) / count) << shift;
    }
    return result;
  };
  EXPECT_TRUE(Shows(odd.get(), 2, 1, [&](int x, int) { return x == 0 ? mean(0, 3) : mean(3, 5); }));
  EXPECT_TRUE(Shows(LoadImageFile((dir / "odd.png").string(), 0).get(), 1, 1, [&](int, int) {
    return mean(0, 5);
  })) << "a cap below 1 counts as 1";
}

TEST(ImageFileScale, ShrinksAHugeScanWithoutHoldingItWhole) {
  TempDir dir;
  // 4000 × 3000 one-bit gray (small on disk) capped at 1200 pixels: factor 100 (99 would leave
  // 41 × 31). The top half is black, the bottom half white.
  PngPicture scan{.width = 4000, .height = 3000, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 1};
  scan.samples.assign(std::size_t{500} * 3000, 0);
  std::fill(scan.samples.begin() + 500 * 1500, scan.samples.end(), 0xFF);
  WritePng(dir / "scan.png", scan);
  EXPECT_TRUE(Shows(LoadImageFile((dir / "scan.png").string(), 1200).get(), 40, 30,
                    [](int, int y) { return y < 15 ? 0u : 0xFFFFFFu; }));
  // A header claiming 60000 × 60000 with no pixels after it: refused, not allocated whole.
  BmpPicture claim{.width = 60000, .height = 60000};
  EXPECT_EQ(LoadBytes(dir, "claim.bmp", MakeBmp(claim), 10000), nullptr);
}

// ---- Finding image files ----------------------------------------------------------------------

TEST(FindImageFile, TakesWindowsPathsApartAndIgnoresCase) {
  TempDir dir;
  const fs::path drawing = dir / "drawings";
  const fs::path library = dir / "library";
  testsupport::WriteFile(drawing / "photo.png", "x");
  testsupport::WriteFile(library / "Logo.Jpg", "x");
  testsupport::WriteFile(drawing / "Images" / "Plan.TIF", "x");
  fs::create_directories(drawing / "logo.jpg");  // a folder is never the answer
  const std::vector<std::string> search = {"", library.string()};

  EXPECT_EQ(FindImageFile("C:\\Projects\\Site\\PHOTO.PNG", drawing.string(), search),
            (drawing / "photo.png").string());
  EXPECT_EQ(FindImageFile("\\\\server\\share\\logo.jpg", drawing.string(), search),
            (library / "Logo.Jpg").string());
  EXPECT_EQ(FindImageFile("C:Logo.JPG", drawing.string(), search), (library / "Logo.Jpg").string());
  // A relative Windows path below the drawing's folder, each part in another case.
  EXPECT_EQ(FindImageFile(".\\images\\plan.tif", drawing.string(), search),
            (drawing / "Images" / "Plan.TIF").string());
  EXPECT_EQ(FindImageFile("images/PLAN.tif", drawing.string(), search),
            (drawing / "Images" / "Plan.TIF").string());
  // As given, absolute.
  EXPECT_EQ(FindImageFile((library / "Logo.Jpg").string(), "", {}),
            (library / "Logo.Jpg").string());
  EXPECT_EQ(FindImageFile("C:\\x\\missing.png", drawing.string(), search), "");
  EXPECT_EQ(FindImageFile("C:\\x\\", drawing.string(), search), "");
  EXPECT_EQ(FindImageFile("", drawing.string(), search), "");
}

TEST(FindImageFile, PrefersTheDrawingsFolderAndTheExactCase) {
  TempDir dir;
  const fs::path drawing = dir / "drawing";
  const fs::path first = dir / "first";
  const fs::path second = dir / "second";
  testsupport::WriteFile(second / "a.png", "x");
  testsupport::WriteFile(first / "A.PNG", "x");
  EXPECT_EQ(FindImageFile("a.png", drawing.string(), {first.string(), second.string()}),
            (first / "A.PNG").string())
      << "search folders in their order, each without regard to case";
  testsupport::WriteFile(drawing / "sub" / "a.png", "x");
  testsupport::WriteFile(drawing / "a.png", "x");
  EXPECT_EQ(FindImageFile("D:\\elsewhere\\a.png", drawing.string(), {first.string()}),
            (drawing / "a.png").string());

  // Names differing only in case: the exact one, else the same one whichever way the
  // folder lists them.
  testsupport::WriteFile(second / "A.png", "x");
  testsupport::WriteFile(second / "a.PNG", "x");
  const std::string none = (dir / "none").string();
  EXPECT_EQ(FindImageFile("a.PNG", none, {second.string()}), (second / "a.PNG").string());
  EXPECT_EQ(FindImageFile("A.PNG", none, {second.string()}), (second / "A.png").string());
}

TEST(FindImageFile, KeepsTheNamesLastFoldersBelowEachFolder) {
  TempDir dir;
  const fs::path drawing = dir / "drawing";
  const fs::path library = dir / "library";
  testsupport::WriteFile(drawing / "Scans" / "site" / "plan.png", "x");
  testsupport::WriteFile(library / "logos" / "logo.jpg", "x");
  fs::create_directories(drawing / "other");
  // A drawing moved with its pictures: the folders it named keep their names below it.
  EXPECT_EQ(FindImageFile("/Users/someone/work/scans/site/plan.png", drawing.string(), {}),
            (drawing / "Scans" / "site" / "plan.png").string());
  EXPECT_EQ(FindImageFile("C:\\Work\\Logos\\LOGO.JPG", drawing.string(), {library.string()}),
            (library / "logos" / "logo.jpg").string());
  EXPECT_EQ(FindImageFile("C:\\Work\\other\\plan.png", drawing.string(), {library.string()}), "")
      << "the last folder must match";
}

// ---- Real drawings' images --------------------------------------------------------------------

TEST(ImageFileCorpus, FindsAndReadsTheImagesOfRealDrawings) {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no shared folder of real drawings";
  const fs::path images = shared / "corpus" / "dxf" / "images";
  if (!fs::is_directory(images)) GTEST_SKIP() << "no images in the shared folder";

  // Names exactly as the drawings write them.
  const fs::path ezdxf = images / "ezdxf_images";
  EXPECT_TRUE(
      fs::equivalent(FindImageFile(".\\image1.jpg", ezdxf.string(), {}), ezdxf / "image1.jpg"));
  EXPECT_EQ(FindImageFile(".\\image4.jpg", ezdxf.string(), {}), "") << "missing on purpose";
  const fs::path qcad = images / "qcad_image";
  const std::string elsewhere =
      "/Users/andrew/data/QCAD4/qcad/support/data/tests/image/subdir/image_in_subdir.png";
  // The picture's folder kept its name beside the drawing.
  EXPECT_TRUE(fs::equivalent(FindImageFile(elsewhere, qcad.string(), {}),
                             qcad / "subdir" / "image_in_subdir.png"));
  EXPECT_TRUE(fs::equivalent(FindImageFile(elsewhere, qcad.string(), {(qcad / "subdir").string()}),
                             qcad / "subdir" / "image_in_subdir.png"));

  const struct {
    fs::path path;
    int width, height;
  } files[] = {{ezdxf / "image1.jpg", 1000, 667},
               {ezdxf / "image2.png", 1000, 700},
               {ezdxf / "image3.jpg", 500, 334},
               {images / "netdxf_sample" / "image.jpg", 260, 260},
               {qcad / "image.png", 512, 512}};
  for (const auto& file : files) {
    auto dib = LoadImageFile(file.path.string());
    ASSERT_NE(dib, nullptr) << file.path;
    EXPECT_EQ(dib->Width(), file.width) << file.path;
    EXPECT_EQ(dib->Height(), file.height) << file.path;
    auto small = LoadImageFile(file.path.string(), 10000);
    ASSERT_NE(small, nullptr) << file.path;
    EXPECT_LE(std::int64_t{small->Width()} * small->Height(), 10000) << file.path;
  }

  // The PNG against libpng's own simplified reader, composited over white here.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, (ezdxf / "image2.png").c_str()));
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr));
  auto dib = LoadImageFile((ezdxf / "image2.png").string());
  ASSERT_NE(dib, nullptr);
  EXPECT_TRUE(Shows(
      dib.get(), 1000, 700,
      [&](int x, int y) {
        const std::uint8_t* p = &rgba[(std::size_t{1000} * y + x) * 4];
        std::uint32_t color = 0;
        for (int c = 0; c < 3; ++c) {
          color = color << 8 | (p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255;
        }
        return color;
      },
      1));
}

}  // namespace

// ---- Pictures held in memory ----------------------------------------------------------------

TEST(ImageData, ReadsEveryFormatFromMemoryAsFromAFile) {
  TempDir dir;
  WritePng(dir / "a.png", RgbPng(5, 3, Pattern));
  WriteTiff(dir / "a.tif", RgbTiff(6, 4, Pattern));
  for (const char* name : {"a.png", "a.tif"}) {
    const std::string bytes = testsupport::ReadFile(dir / name);
    auto fromFile = LoadImageFile((dir / name).string());
    auto fromMemory = drawing::LoadImageData(bytes);
    ASSERT_TRUE(fromFile && fromMemory) << name;
    ASSERT_EQ(fromMemory->Width(), fromFile->Width()) << name;
    ASSERT_EQ(fromMemory->Height(), fromFile->Height()) << name;
    for (int y = 0; y < fromFile->Height(); ++y) {
      EXPECT_EQ(0, std::memcmp(fromFile->Row(y), fromMemory->Row(y), fromFile->Width() * 3))
          << name << " row " << y;
    }
  }
}

TEST(ImageData, RefusesBytesThatAreNoPictureOrAreCutShort) {
  TempDir dir;
  WritePng(dir / "a.png", RgbPng(5, 3, Pattern));
  const std::string png = testsupport::ReadFile(dir / "a.png");
  EXPECT_EQ(drawing::LoadImageData(""), nullptr);
  EXPECT_EQ(drawing::LoadImageData("no picture at all"), nullptr);
  EXPECT_EQ(drawing::LoadImageData(png.substr(0, png.size() / 2)), nullptr);
  EXPECT_EQ(drawing::LoadImageData(std::string("II*\0\x08\0\0\0", 8)), nullptr);
}
