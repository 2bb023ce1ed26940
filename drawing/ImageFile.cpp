#include "drawing/ImageFile.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "platform/Ascii.h"

// The decoders below report errors by longjmp (libpng, libjpeg). A longjmp must not cross a
// C++ frame with objects to destroy, so every function that calls setjmp holds only plain
// locals: whatever needs freeing is owned one frame up and handed down by pointer, and the
// work done between a longjmp's source and target is C code or our own non-throwing code.

namespace drawing {
namespace {

namespace fs = std::filesystem;

// The largest buffer of decoded rows kept at once, beside the bitmap itself.
constexpr std::uint64_t kMaxBandBytes = std::uint64_t{64} << 20;
// Refuse a single row longer than this: a header claiming billions of columns.
constexpr std::uint64_t kMaxRowBytes = std::uint64_t{1} << 30;
// What libjpeg may allocate for one file (a progressive file keeps all its coefficients);
// past it the read fails instead of swapping.
constexpr long kJpegMemoryBudget = 1L << 30;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// ---- Scaling --------------------------------------------------------------------------------

std::uint64_t ScaledPixels(std::uint64_t width, std::uint64_t height, std::uint64_t factor) {
  return ((width + factor - 1) / factor) * ((height + factor - 1) / factor);
}

// The smallest integer factor that brings the picture to at most maxPixels.
std::uint32_t ScaleFactor(std::uint32_t width, std::uint32_t height, std::int64_t maxPixels) {
  const std::uint64_t limit = maxPixels < 1 ? 1 : static_cast<std::uint64_t>(maxPixels);
  if (std::uint64_t{width} * height <= limit) return 1;
  // The scaled size only shrinks as the factor grows, and the largest side as factor leaves
  // one pixel: a binary search, since thin pictures can need factors in the millions.
  std::uint64_t low = 2;
  std::uint64_t high = std::max(width, height);
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    if (ScaledPixels(width, height, middle) <= limit) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return static_cast<std::uint32_t>(low);
}

// Builds the bitmap from picture rows of red, green, blue bytes, shrinking by a box filter:
// each bitmap pixel is the rounded mean of the factor × factor picture pixels it covers (fewer
// at the right and bottom edges). Rows may come top-down or bottom-up, each once.
class CBitmapBuilder {
 public:
  // False when the bitmap cannot be held.
  bool Start(std::uint32_t pictureWidth, std::uint32_t pictureHeight, std::uint32_t scale) {
    width = pictureWidth;
    height = pictureHeight;
    factor = scale;
    const std::uint64_t outWidth = (std::uint64_t{width} + factor - 1) / factor;
    const std::uint64_t outHeight = (std::uint64_t{height} + factor - 1) / factor;
    constexpr auto kMaxSide = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    if (width == 0 || height == 0 || outWidth > kMaxSide || outHeight > kMaxSide) return false;
    dib =
        CDib::Create(static_cast<std::int32_t>(outWidth), static_cast<std::int32_t>(outHeight), 24);
    if (!dib) return false;
    if (factor > 1) sums.assign(static_cast<std::size_t>(outWidth) * 3, 0);
    return true;
  }

  std::uint32_t Factor() const { return factor; }

  // Row y of the picture (0 = top), width pixels of red, green, blue.
  void AddRow(std::uint32_t y, const std::uint8_t* rgb) {
    if (y >= height) return;
    if (factor == 1) {
      std::uint8_t* out = dib->Row(dib->Height() - 1 - static_cast<std::int32_t>(y));
      for (std::uint32_t x = 0; x < width; ++x, rgb += 3, out += 3) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
      }
      return;
    }
    const std::int64_t block = y / factor;
    if (block != pendingBlock) {
      Flush();
      pendingBlock = block;
    }
    std::uint64_t* sum = sums.data();
    std::uint32_t inBlock = 0;
    for (std::uint32_t x = 0; x < width; ++x, rgb += 3) {
      sum[0] += rgb[0];
      sum[1] += rgb[1];
      sum[2] += rgb[2];
      if (++inBlock == factor) {
        inBlock = 0;
        sum += 3;
      }
    }
    ++pendingRows;
  }

  // Nearest sampling instead of the box filter: keeps the picture pixel (x, y) when it is the
  // top-left one of its block.
  void Sample(std::uint32_t x, std::uint32_t y, const std::uint8_t* rgb) {
    if (x >= width || y >= height || x % factor != 0 || y % factor != 0) return;
    dib->SetPixelRgb(static_cast<std::int32_t>(x / factor),
                     dib->Height() - 1 - static_cast<std::int32_t>(y / factor), rgb[0], rgb[1],
                     rgb[2]);
  }

  std::unique_ptr<CDib> Finish() {
    Flush();
    return std::move(dib);
  }

 private:
  void Flush() {
    if (pendingBlock < 0) return;
    std::uint8_t* out = dib->Row(dib->Height() - 1 - static_cast<std::int32_t>(pendingBlock));
    const std::size_t outWidth = sums.size() / 3;
    for (std::size_t column = 0; column < outWidth; ++column, out += 3) {
      const std::uint64_t first = column * factor;
      const std::uint64_t columns = std::min<std::uint64_t>(factor, width - first);
      const std::uint64_t count = columns * pendingRows;
      std::uint64_t* sum = &sums[column * 3];
      out[0] = static_cast<std::uint8_t>((sum[2] + count / 2) / count);
      out[1] = static_cast<std::uint8_t>((sum[1] + count / 2) / count);
      out[2] = static_cast<std::uint8_t>((sum[0] + count / 2) / count);
      sum[0] = sum[1] = sum[2] = 0;
    }
    pendingBlock = -1;
    pendingRows = 0;
  }

  std::unique_ptr<CDib> dib;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t factor = 1;
  std::vector<std::uint64_t> sums;
  std::int64_t pendingBlock = -1;
  std::uint32_t pendingRows = 0;
};

// Straight (not premultiplied) alpha over white.
inline std::uint8_t OverWhite(unsigned color, unsigned alpha) {
  return static_cast<std::uint8_t>((color * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Red, green, blue, alpha pixels to red, green, blue over white, in place.
void CompositeRgbaRow(std::uint8_t* row, std::uint32_t width) {
  const std::uint8_t* in = row;
  std::uint8_t* out = row;
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    const unsigned red = in[0];
    const unsigned green = in[1];
    const unsigned blue = in[2];
    const unsigned alpha = in[3];
    out[0] = OverWhite(red, alpha);
    out[1] = OverWhite(green, alpha);
    out[2] = OverWhite(blue, alpha);
  }
}

// ---- PNG ------------------------------------------------------------------------------------

struct PngLayout {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  std::uint32_t factor = 1;
  int channels = 0;  // 3 or 4 after the transformations
  std::size_t rowBytes = 0;
  bool interlaced = false;
  // Interlaced and scaled: the passes are read as they are and sampled.
  bool readPasses = false;
};

class CPngDecoder {
 public:
  ~CPngDecoder() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
  png_structp png = nullptr;
  png_infop info = nullptr;
};

// Red, green, blue, alpha pixels to red, green, blue in place, their alpha as gray pixels (three
// equal bytes) to alpha, so that a second builder shrinks the opacity as the first the colour.
void SplitRgbaRow(std::uint8_t* row, std::uint32_t width, std::uint8_t* alpha) {
  const std::uint8_t* in = row;
  std::uint8_t* out = row;
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3, alpha += 3) {
    const std::uint8_t red = in[0], green = in[1], blue = in[2], opacity = in[3];
    out[0] = red;
    out[1] = green;
    out[2] = blue;
    alpha[0] = alpha[1] = alpha[2] = opacity;
  }
}

// The colour bitmap with the opacity of the alpha bitmap (gray, the same size) in a 32-bit
// bitmap; the colour bitmap itself when every pixel is opaque, or when memory is short (the
// picture is then drawn opaque rather than not at all).
std::unique_ptr<CDib> WithAlpha(std::unique_ptr<CDib> color, std::unique_ptr<CDib> alpha) {
  if (!color || !alpha || alpha->Width() != color->Width() || alpha->Height() != color->Height()) {
    return color;
  }
  bool opaque = true;
  for (std::int32_t y = 0; y < alpha->Height() && opaque; ++y) {
    const std::uint8_t* row = alpha->Row(y);
    for (std::int32_t x = 0; x < alpha->Width(); ++x) {
      if (row[3 * x] != 255) {
        opaque = false;
        break;
      }
    }
  }
  if (opaque) return color;
  auto both = CDib::Create(color->Width(), color->Height(), 32);
  if (!both) return color;
  for (std::int32_t y = 0; y < color->Height(); ++y) {
    const std::uint8_t* from = color->Row(y);
    const std::uint8_t* opacity = alpha->Row(y);
    std::uint8_t* to = both->Row(y);
    for (std::int32_t x = 0; x < color->Width(); ++x, from += 3, opacity += 3, to += 4) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = opacity[0];
    }
  }
  both->SetHasAlpha(true);
  return both;
}

[[noreturn]] void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

bool PngStart(png_structp png, png_infop info, std::FILE* file, std::int64_t maxPixels,
              PngLayout* layout) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  layout->width = png_get_image_width(png, info);
  layout->height = png_get_image_height(png, info);
  layout->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  layout->factor = ScaleFactor(layout->width, layout->height, maxPixels);
  // Palette, low-depth gray and tRNS become 8-bit channels with alpha where there was
  // transparency; 16-bit samples are scaled (not truncated) to 8 bits. No gamma correction:
  // the values are drawn as stored, as the drawing's own program shows them.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  layout->readPasses = layout->interlaced && layout->factor > 1;
  if (layout->interlaced && !layout->readPasses) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  layout->channels = png_get_channels(png, info);
  layout->rowBytes = png_get_rowbytes(png, info);
  return true;
}

// Rows with alpha go to alphaBuilder as gray pixels when it is given, and are composited over
// white otherwise; alphaRow holds a row of them.
void PngTakeRow(const PngLayout* layout, std::uint32_t y, std::uint8_t* row,
                CBitmapBuilder* builder, CBitmapBuilder* alphaBuilder, std::uint8_t* alphaRow) {
  if (layout->channels == 4 && alphaBuilder) {
    SplitRgbaRow(row, layout->width, alphaRow);
    alphaBuilder->AddRow(y, alphaRow);
  } else if (layout->channels == 4) {
    CompositeRgbaRow(row, layout->width);
  }
  builder->AddRow(y, row);
}

bool PngReadRows(png_structp png, const PngLayout* layout, std::uint8_t* row,
                 CBitmapBuilder* builder, CBitmapBuilder* alphaBuilder, std::uint8_t* alphaRow) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (png_uint_32 y = 0; y < layout->height; ++y) {
    png_read_row(png, row, nullptr);
    PngTakeRow(layout, y, row, builder, alphaBuilder, alphaRow);
  }
  return true;
}

bool PngReadImage(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

// The seven Adam7 passes in file order: each pass row is a sparse subset of a picture row.
bool PngReadPasses(png_structp png, const PngLayout* layout, std::uint8_t* row,
                   CBitmapBuilder* builder, CBitmapBuilder* alphaBuilder, std::uint8_t* alphaRow) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < 7; ++pass) {
    const png_uint_32 columns = PNG_PASS_COLS(layout->width, pass);
    const png_uint_32 rows = PNG_PASS_ROWS(layout->height, pass);
    // libpng skips empty passes too.
    if (columns == 0 || rows == 0) continue;
    for (png_uint_32 j = 0; j < rows; ++j) {
      png_read_row(png, row, nullptr);
      const png_uint_32 y = PNG_ROW_FROM_PASS_ROW(j, pass);
      if (y % builder->Factor() != 0) continue;
      if (layout->channels == 4 && alphaBuilder) {
        SplitRgbaRow(row, columns, alphaRow);
      } else if (layout->channels == 4) {
        CompositeRgbaRow(row, columns);
      }
      for (png_uint_32 i = 0; i < columns; ++i) {
        builder->Sample(PNG_COL_FROM_PASS_COL(i, pass), y, row + std::size_t{i} * 3);
        if (alphaBuilder) {
          alphaBuilder->Sample(PNG_COL_FROM_PASS_COL(i, pass), y, alphaRow + std::size_t{i} * 3);
        }
      }
    }
  }
  return true;
}

std::unique_ptr<CDib> LoadPng(std::FILE* file, std::int64_t maxPixels, bool keepAlpha) {
  CPngDecoder decoder;
  decoder.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!decoder.png) return nullptr;
  decoder.info = png_create_info_struct(decoder.png);
  if (!decoder.info) return nullptr;
  PngLayout layout;
  if (!PngStart(decoder.png, decoder.info, file, maxPixels, &layout)) return nullptr;
  if (layout.channels != 3 && layout.channels != 4) return nullptr;
  if (layout.rowBytes == 0 || layout.rowBytes > kMaxRowBytes) return nullptr;

  CBitmapBuilder builder;
  if (!builder.Start(layout.width, layout.height, layout.factor)) return nullptr;
  CBitmapBuilder alphaBuilder;
  const bool alpha = keepAlpha && layout.channels == 4 &&
                     alphaBuilder.Start(layout.width, layout.height, layout.factor);
  CBitmapBuilder* opacity = alpha ? &alphaBuilder : nullptr;
  std::vector<std::uint8_t> alphaRow(alpha ? std::size_t{layout.width} * 3 : 0);
  if (layout.readPasses) {
    std::vector<std::uint8_t> row(layout.rowBytes);
    if (!PngReadPasses(decoder.png, &layout, row.data(), &builder, opacity, alphaRow.data())) {
      return nullptr;
    }
  } else if (layout.interlaced) {
    // Unscaled, so the whole picture is no larger than the bitmap made from it.
    std::vector<std::uint8_t> image(layout.rowBytes * layout.height);
    std::vector<png_bytep> rows(layout.height);
    for (png_uint_32 y = 0; y < layout.height; ++y) rows[y] = &image[layout.rowBytes * y];
    if (!PngReadImage(decoder.png, rows.data())) return nullptr;
    for (png_uint_32 y = 0; y < layout.height; ++y) {
      PngTakeRow(&layout, y, rows[y], &builder, opacity, alphaRow.data());
    }
  } else {
    std::vector<std::uint8_t> row(layout.rowBytes);
    if (!PngReadRows(decoder.png, &layout, row.data(), &builder, opacity, alphaRow.data())) {
      return nullptr;
    }
  }
  if (alpha) return WithAlpha(builder.Finish(), alphaBuilder.Finish());
  return builder.Finish();
}

// ---- JPEG -----------------------------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it is a pointer to this
  std::jmp_buf jump;
  bool endedEarly;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Warnings are not printed. Running out of data is only a warning to libjpeg, which then
// pads the picture with gray; we refuse such a file instead.
void JpegEmitMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) {
    reinterpret_cast<JpegError*>(info->err)->endedEarly = true;
  }
}

void JpegOutputMessage(j_common_ptr) {}

class CJpegDecoder {
 public:
  ~CJpegDecoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
  jpeg_decompress_struct info{};
  JpegError error{};
  bool created = false;
};

struct JpegLayout {
  std::uint32_t width = 0;  // after libjpeg's own scaling
  std::uint32_t height = 0;
  std::uint32_t factor = 1;  // what is left to scale after libjpeg's
  int components = 0;
  bool cmyk = false;
  bool adobe = false;
};

bool JpegStart(CJpegDecoder* decoder, std::FILE* file, std::int64_t maxPixels, JpegLayout* layout) {
  if (setjmp(decoder->error.jump)) return false;
  // Set first: jpeg_create_decompress clears the struct before it can fail, so destroying
  // it after a failure is safe.
  decoder->created = true;
  jpeg_create_decompress(&decoder->info);
  jpeg_decompress_struct* info = &decoder->info;
  jpeg_stdio_src(info, file);
  info->mem->max_memory_to_use = kJpegMemoryBudget;
  jpeg_read_header(info, TRUE);
  const std::uint32_t factor = ScaleFactor(info->image_width, info->image_height, maxPixels);
  // libjpeg scales by 1/2, 1/4 and 1/8 almost for free while decoding (the 1/8 picture is the
  // blocks' mean values); our box filter does what remains. Both round the size up, so the
  // result has the size the whole factor gives.
  std::uint32_t inDecoder = 8;
  while (factor % inDecoder != 0) inDecoder /= 2;
  info->scale_num = 1;
  info->scale_denom = inDecoder;
  layout->factor = factor / inDecoder;
  layout->cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = layout->cmyk ? JCS_CMYK : JCS_RGB;
  layout->adobe = info->saw_Adobe_marker;
  jpeg_start_decompress(info);
  layout->width = info->output_width;
  layout->height = info->output_height;
  layout->components = info->output_components;
  return true;
}

// CMYK files as Photoshop writes them (with an Adobe marker) store the inks inverted:
// 255 is no ink. Others store the ink itself.
void CmykToRgbRow(std::uint8_t* row, std::uint32_t width, bool inverted) {
  const std::uint8_t* in = row;
  std::uint8_t* out = row;
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    unsigned c = in[0];
    unsigned m = in[1];
    unsigned y = in[2];
    unsigned k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
    out[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
  }
}

bool JpegReadRows(CJpegDecoder* decoder, const JpegLayout* layout, std::uint8_t* row,
                  CBitmapBuilder* builder) {
  if (setjmp(decoder->error.jump)) return false;
  jpeg_decompress_struct* info = &decoder->info;
  while (info->output_scanline < info->output_height) {
    const JDIMENSION y = info->output_scanline;
    JSAMPROW rows[1] = {row};
    if (jpeg_read_scanlines(info, rows, 1) != 1) return false;
    if (decoder->error.endedEarly) return false;
    if (layout->cmyk) CmykToRgbRow(row, layout->width, layout->adobe);
    builder->AddRow(y, row);
  }
  return !decoder->error.endedEarly;
}

std::unique_ptr<CDib> LoadJpeg(std::FILE* file, std::int64_t maxPixels) {
  CJpegDecoder decoder;
  decoder.info.err = jpeg_std_error(&decoder.error.manager);
  decoder.error.manager.error_exit = JpegErrorExit;
  decoder.error.manager.emit_message = JpegEmitMessage;
  decoder.error.manager.output_message = JpegOutputMessage;
  JpegLayout layout;
  if (!JpegStart(&decoder, file, maxPixels, &layout)) return nullptr;
  if (layout.components != (layout.cmyk ? 4 : 3)) return nullptr;
  CBitmapBuilder builder;
  if (!builder.Start(layout.width, layout.height, layout.factor)) return nullptr;
  std::vector<std::uint8_t> row(std::size_t{layout.width} * 4);
  if (!JpegReadRows(&decoder, &layout, row.data(), &builder)) return nullptr;
  return builder.Finish();
}

// ---- TIFF -----------------------------------------------------------------------------------

// libtiff would print to standard error; a file we cannot read is simply not drawn.
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

class CTiffFile {
 public:
  ~CTiffFile() {
    if (begun) TIFFRGBAImageEnd(&image);
    if (tiff) TIFFClose(tiff);
    if (options) TIFFOpenOptionsFree(options);
  }
  TIFFOpenOptions* options = nullptr;
  TIFF* tiff = nullptr;
  TIFFRGBAImage image{};
  bool begun = false;
};

// A TIFF file held in memory, read through libtiff's client procedures.
struct TiffMemory {
  std::string_view bytes;
  std::uint64_t at = 0;
};

tmsize_t TiffMemoryRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (size < 0 || memory->at >= memory->bytes.size()) return 0;
  const std::uint64_t count =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), memory->bytes.size() - memory->at);
  std::memcpy(buffer, memory->bytes.data() + memory->at, count);
  memory->at += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t TiffMemoryWrite(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t TiffMemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<TiffMemory*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory->at;
  if (whence == SEEK_END) base = memory->bytes.size();
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
  memory->at = base + offset;
  return memory->at;
}

int TiffMemoryClose(thandle_t) {
  return 0;
}

toff_t TiffMemorySize(thandle_t handle) {
  return static_cast<TiffMemory*>(handle)->bytes.size();
}

int TiffMemoryMap(thandle_t, void**, toff_t*) {
  return 0;
}

void TiffMemoryUnmap(thandle_t, void*, toff_t) {}

// Reads the TIFF file at path, or, when path is empty, the one in memory.
std::unique_ptr<CDib> LoadTiff(const std::string& path, TiffMemory* memory, std::int64_t maxPixels,
                               bool keepAlpha) {
  CTiffFile file;
  file.options = TIFFOpenOptionsAlloc();
  if (!file.options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(file.options, TiffQuiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(file.options, TiffQuiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(file.options, static_cast<tmsize_t>(kMaxRowBytes));
  if (memory) {
    file.tiff = TIFFClientOpenExt("memory", "r", memory, TiffMemoryRead, TiffMemoryWrite,
                                  TiffMemorySeek, TiffMemoryClose, TiffMemorySize, TiffMemoryMap,
                                  TiffMemoryUnmap, file.options);
  } else {
    file.tiff = TIFFOpenExt(path.c_str(), "r", file.options);
  }
  if (!file.tiff) return nullptr;
  char message[1024] = {};
  if (!TIFFRGBAImageOK(file.tiff, message)) return nullptr;
  if (!TIFFRGBAImageBegin(&file.image, file.tiff, 1, message)) return nullptr;
  file.begun = true;
  TIFFRGBAImage& image = file.image;
  const std::uint32_t width = image.width;
  const std::uint32_t height = image.height;
  if (width == 0 || height == 0 || std::uint64_t{width} * 4 > kMaxRowBytes ||
      height > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    return nullptr;
  }

  // The picture is read in bands of whole strips or tiles. libtiff flips only within a band,
  // so we ask for the rows in the file's own vertical order and place them ourselves.
  const bool bottomUp =
      image.orientation == ORIENTATION_BOTLEFT || image.orientation == ORIENTATION_BOTRIGHT ||
      image.orientation == ORIENTATION_LEFTBOT || image.orientation == ORIENTATION_RIGHTBOT;
  image.req_orientation = bottomUp ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT;
  std::uint32_t band = 0;
  if (TIFFIsTiled(file.tiff)) {
    TIFFGetField(file.tiff, TIFFTAG_TILELENGTH, &band);
  } else {
    TIFFGetFieldDefaulted(file.tiff, TIFFTAG_ROWSPERSTRIP, &band);
  }
  const std::uint64_t bandLimit = std::max<std::uint64_t>(1, kMaxBandBytes / (width * 4ull));
  band = static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(band, 1, std::min<std::uint64_t>(bandLimit, height)));

  CBitmapBuilder builder;
  const std::uint32_t factor = ScaleFactor(width, height, maxPixels);
  if (!builder.Start(width, height, factor)) return nullptr;
  // A picture with an alpha channel keeps it, when asked to, as gray rows of a second builder.
  CBitmapBuilder alphaBuilder;
  const bool alpha = keepAlpha && image.alpha != 0 && alphaBuilder.Start(width, height, factor);
  std::vector<std::uint32_t> raster(std::size_t{width} * band);
  std::vector<std::uint8_t> rgb(std::size_t{width} * 3);
  std::vector<std::uint8_t> opacity(alpha ? std::size_t{width} * 3 : 0);
  for (std::uint32_t first = 0; first < height; first += band) {
    const std::uint32_t rows = std::min(band, height - first);
    image.row_offset = static_cast<int>(first);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, raster.data(), width, rows)) return nullptr;
    for (std::uint32_t k = 0; k < rows; ++k) {
      const std::uint32_t* in = &raster[std::size_t{k} * width];
      std::uint8_t* out = rgb.data();
      for (std::uint32_t x = 0; x < width; ++x, out += 3) {
        // libtiff hands out premultiplied colour: over white adds the uncovered part; kept
        // apart, the colour is divided by its coverage again.
        const unsigned covered = TIFFGetA(in[x]);
        const unsigned channels[3] = {TIFFGetR(in[x]), TIFFGetG(in[x]), TIFFGetB(in[x])};
        for (int c = 0; c < 3; ++c) {
          const unsigned value = !alpha         ? channels[c] + 255 - covered
                                 : covered == 0 ? 255
                                                : (channels[c] * 255 + covered / 2) / covered;
          out[c] = static_cast<std::uint8_t>(std::min(255u, value));
        }
        if (alpha)
          opacity[3 * x] = opacity[3 * x + 1] = opacity[3 * x + 2] =
              static_cast<std::uint8_t>(covered);
      }
      const std::uint32_t fileRow = first + k;
      const std::uint32_t at = bottomUp ? height - 1 - fileRow : fileRow;
      builder.AddRow(at, rgb.data());
      if (alpha) alphaBuilder.AddRow(at, opacity.data());
    }
  }
  if (alpha) return WithAlpha(builder.Finish(), alphaBuilder.Finish());
  return builder.Finish();
}

// ---- BMP ------------------------------------------------------------------------------------

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// One channel of a 16- or 32-bit pixel, given by a mask of contiguous bits, as 0..255.
struct MaskChannel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint64_t maximum = 0;

  explicit MaskChannel(std::uint32_t m) : mask(m) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    maximum = (std::uint64_t{1} << std::popcount(mask)) - 1;
  }
  std::uint8_t Get(std::uint32_t pixel) const {
    if (mask == 0) return 0;
    const std::uint64_t value = std::min<std::uint64_t>((pixel & mask) >> shift, maximum);
    return static_cast<std::uint8_t>((value * 255 + maximum / 2) / maximum);
  }
};

bool ReadExactly(std::FILE* file, void* buffer, std::size_t size) {
  return std::fread(buffer, 1, size, file) == size;
}

std::unique_ptr<CDib> LoadBmp(std::FILE* file, std::int64_t maxPixels, bool keepAlpha) {
  enum : std::uint32_t { kRgb = 0, kBitfields = 3 };
  std::uint8_t fileHeader[14];
  std::uint8_t header[124] = {};
  if (!ReadExactly(file, fileHeader, sizeof fileHeader)) return nullptr;
  if (!ReadExactly(file, header, 4)) return nullptr;
  const std::uint32_t headerSize = Le32(header);
  // 12: the old core header with 16-bit sizes; 40 and up: the info header and its
  // extensions (V2 and V3 add masks, V4 and V5 colour spaces we ignore, OS/2's is 64).
  if (headerSize != 12 && headerSize < 40) return nullptr;
  const std::uint32_t stored = std::min<std::uint32_t>(headerSize, sizeof header);
  if (!ReadExactly(file, header + 4, stored - 4)) return nullptr;
  if (headerSize > stored && std::fseek(file, headerSize - stored, SEEK_CUR) != 0) return nullptr;

  std::int64_t width = 0;
  std::int64_t height = 0;
  unsigned bits = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t colorsUsed = 0;
  if (headerSize == 12) {
    width = Le16(header + 4);
    height = Le16(header + 6);
    bits = Le16(header + 10);
  } else {
    width = static_cast<std::int32_t>(Le32(header + 4));
    height = static_cast<std::int32_t>(Le32(header + 8));
    bits = Le16(header + 14);
    compression = Le32(header + 16);
    colorsUsed = Le32(header + 32);
  }
  // OS/2's 64-byte header gives other meanings to the compression codes.
  if (headerSize == 64 && compression != kRgb) return nullptr;
  if (compression != kRgb && !(compression == kBitfields && (bits == 16 || bits == 32))) {
    return nullptr;
  }
  const bool topDown = height < 0;
  height = topDown ? -height : height;
  if (width <= 0 || height <= 0 || height > std::numeric_limits<std::int32_t>::max()) {
    return nullptr;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return nullptr;
  }

  std::uint32_t masks[4] = {};
  if (compression == kBitfields) {
    if (headerSize == 40) {
      std::uint8_t extra[12];
      if (!ReadExactly(file, extra, sizeof extra)) return nullptr;
      for (int i = 0; i < 3; ++i) masks[i] = Le32(extra + 4 * i);
    } else {
      for (int i = 0; i < 3; ++i) masks[i] = Le32(header + 40 + 4 * i);
      if (headerSize >= 56) masks[3] = Le32(header + 52);
    }
  } else if (bits == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  } else if (bits == 32) {
    // The fourth byte of an uncompressed 32-bit pixel is unused, whatever it holds.
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
  }
  const MaskChannel red(masks[0]);
  const MaskChannel green(masks[1]);
  const MaskChannel blue(masks[2]);
  const MaskChannel alphaChannel(masks[3]);

  const std::uint32_t offset = Le32(fileHeader + 10);
  RgbQuad palette[256] = {};
  if (bits <= 8) {
    std::uint32_t entries = colorsUsed == 0 || colorsUsed > (1u << bits) ? 1u << bits : colorsUsed;
    const std::uint32_t entrySize = headerSize == 12 ? 3 : 4;
    // Writers of the old header often store fewer entries than the depth allows; the offset
    // of the pixels tells how many there are room for.
    const long tableStart = std::ftell(file);
    if (tableStart > 0 && offset > static_cast<std::uint64_t>(tableStart)) {
      const std::uint64_t room = (offset - static_cast<std::uint64_t>(tableStart)) / entrySize;
      entries = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, room));
    }
    std::uint8_t table[256 * 4];
    if (!ReadExactly(file, table, entries * entrySize)) return nullptr;
    for (std::uint32_t i = 0; i < entries; ++i) {
      palette[i].blue = table[i * entrySize];
      palette[i].green = table[i * entrySize + 1];
      palette[i].red = table[i * entrySize + 2];
    }
  }
  // Some writers leave the offset 0; the pixels then follow the colour table.
  if (offset != 0 && std::fseek(file, offset, SEEK_SET) != 0) return nullptr;

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  if (stride > kMaxRowBytes) return nullptr;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  CBitmapBuilder builder;
  const std::uint32_t factor = ScaleFactor(w, h, maxPixels);
  if (!builder.Start(w, h, factor)) return nullptr;
  // Pixels with an alpha mask keep their opacity, when asked to, as gray rows of a second
  // builder, their colour unmixed in a third. Writers that give the mask and leave every alpha
  // 0 mean an opaque picture: the unmixed colour is then the picture.
  CBitmapBuilder alphaBuilder, straightBuilder;
  const bool alpha = keepAlpha && masks[3] != 0 && alphaBuilder.Start(w, h, factor) &&
                     straightBuilder.Start(w, h, factor);
  bool anyCovered = false;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(stride));
  std::vector<std::uint8_t> rgb(std::size_t{w} * 3);
  std::vector<std::uint8_t> opacity(alpha ? std::size_t{w} * 3 : 0);
  std::vector<std::uint8_t> straight(alpha ? std::size_t{w} * 3 : 0);
  for (std::uint32_t storedRow = 0; storedRow < h; ++storedRow) {
    if (!ReadExactly(file, row.data(), row.size())) return nullptr;
    std::uint8_t* out = rgb.data();
    for (std::uint32_t x = 0; x < w; ++x, out += 3) {
      if (bits <= 8) {
        unsigned index = 0;
        if (bits == 8) {
          index = row[x];
        } else if (bits == 4) {
          index = (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
        } else {
          index = (row[x / 8] >> (7 - (x & 7))) & 1;
        }
        // Indices past a short colour table are black.
        out[0] = palette[index].red;
        out[1] = palette[index].green;
        out[2] = palette[index].blue;
      } else if (bits == 24) {
        out[0] = row[x * 3 + 2];
        out[1] = row[x * 3 + 1];
        out[2] = row[x * 3];
      } else {
        const std::uint32_t pixel = bits == 16 ? Le16(&row[x * 2]) : Le32(&row[x * 4]);
        out[0] = red.Get(pixel);
        out[1] = green.Get(pixel);
        out[2] = blue.Get(pixel);
        if (masks[3] != 0) {
          const unsigned a = alphaChannel.Get(pixel);
          if (alpha) {
            anyCovered = anyCovered || a != 0;
            std::copy(out, out + 3, &straight[3 * std::size_t{x}]);
            opacity[3 * x] = opacity[3 * x + 1] = opacity[3 * x + 2] = static_cast<std::uint8_t>(a);
          }
          out[0] = OverWhite(out[0], a);
          out[1] = OverWhite(out[1], a);
          out[2] = OverWhite(out[2], a);
        }
      }
    }
    const std::uint32_t at = topDown ? storedRow : h - 1 - storedRow;
    if (alpha) {
      alphaBuilder.AddRow(at, opacity.data());
      straightBuilder.AddRow(at, straight.data());
    } else {
      builder.AddRow(at, rgb.data());
    }
  }
  if (!alpha) return builder.Finish();
  if (!anyCovered) return straightBuilder.Finish();
  return WithAlpha(straightBuilder.Finish(), alphaBuilder.Finish());
}

// ---- Choosing the reader --------------------------------------------------------------------

enum class ImageKind { Unknown, Png, Jpeg, Tiff, Bmp };

ImageKind Sniff(const std::uint8_t* bytes, std::size_t size) {
  static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::equal(kPng, kPng + 8, bytes)) return ImageKind::Png;
  if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    return ImageKind::Jpeg;
  }
  // Classic TIFF (42) and BigTIFF (43), in either byte order.
  if (size >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && (bytes[2] == 42 || bytes[2] == 43) &&
                     bytes[3] == 0) ||
                    (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 &&
                     (bytes[3] == 42 || bytes[3] == 43)))) {
    return ImageKind::Tiff;
  }
  if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageKind::Bmp;
  return ImageKind::Unknown;
}

// ---- Finding files --------------------------------------------------------------------------

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The entry of folder called name, exactly or else without regard to case; empty if none.
// Of several names that differ only in case, the first in byte order, so that the answer
// does not depend on the order in which the folder lists them.
fs::path FindEntry(const fs::path& folder, const std::string& name, bool wantFolder) {
  auto fits = [wantFolder](const fs::path& p) { return wantFolder ? IsFolder(p) : IsFile(p); };
  const fs::path exact = folder / name;
  if (fits(exact)) return exact;
  std::error_code error;
  fs::directory_iterator entries(folder.empty() ? fs::path(".") : folder, error);
  if (error) return {};
  std::string best;
  for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
    if (error) break;
    const std::string entryName = entries->path().filename().string();
    if (!EqualsIgnoringCase(entryName, name) || (!best.empty() && entryName >= best)) continue;
    if (fits(folder / entryName)) best = entryName;
  }
  return best.empty() ? fs::path() : folder / best;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// "C:..." or "\\server\..." or "\...": names that mean something on Windows only.
bool IsWindowsRooted(const std::string& name) {
  const bool drive = name.size() >= 2 && name[1] == ':' &&
                     ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  return drive || (!name.empty() && name[0] == '\\');
}

// The name as a path, folder by folder, each matched without regard to case.
fs::path ResolveNoCase(const std::string& name, const std::string& drawingFolder) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : name) {
    if (IsSeparator(c)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (part.empty()) return {};  // a folder's name, not a file's
  parts.push_back(part);
  fs::path at = name[0] == '/' ? fs::path("/") : fs::path(drawingFolder);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    if (parts[i] == "." || parts[i] == "..") {
      if (last) return {};
      if (parts[i] == "..") at /= "..";
      continue;
    }
    at = FindEntry(at, parts[i], !last);
    if (at.empty()) return {};
  }
  return at;
}

}  // namespace

std::unique_ptr<CDib> LoadImageFile(const std::string& path, std::int64_t maxPixels,
                                    bool keepAlpha) {
  try {
    // Only regular files: a FIFO or device would block or never end.
    if (!IsFile(path)) return nullptr;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    std::uint8_t head[8] = {};
    const std::size_t size = std::fread(head, 1, sizeof head, file.get());
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
    switch (Sniff(head, size)) {
      case ImageKind::Png:
        return LoadPng(file.get(), maxPixels, keepAlpha);
      case ImageKind::Jpeg:
        return LoadJpeg(file.get(), maxPixels);
      case ImageKind::Tiff:
        file.reset();
        return LoadTiff(path, nullptr, maxPixels, keepAlpha);
      case ImageKind::Bmp:
        return LoadBmp(file.get(), maxPixels, keepAlpha);
      case ImageKind::Unknown:
        break;
    }
  } catch (...) {
    // Out of memory for a row buffer: the image is not drawn.
  }
  return nullptr;
}

std::unique_ptr<CDib> LoadImageData(std::string_view bytes, std::int64_t maxPixels,
                                    bool keepAlpha) {
  try {
    if (bytes.empty()) return nullptr;
    const auto* head = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const ImageKind kind = Sniff(head, bytes.size());
    if (kind == ImageKind::Tiff) {
      TiffMemory memory{bytes, 0};
      return LoadTiff({}, &memory, maxPixels, keepAlpha);
    }
    if (kind == ImageKind::Unknown) return nullptr;
    // The other readers take a stream; fmemopen reads the bytes in place.
    FilePtr file(fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"));
    if (!file) return nullptr;
    switch (kind) {
      case ImageKind::Png:
        return LoadPng(file.get(), maxPixels, keepAlpha);
      case ImageKind::Jpeg:
        return LoadJpeg(file.get(), maxPixels);
      case ImageKind::Bmp:
        return LoadBmp(file.get(), maxPixels, keepAlpha);
      default:
        break;
    }
  } catch (...) {
    // Out of memory for a row buffer: the image is not drawn.
  }
  return nullptr;
}

bool LiesInsideFolders(const std::string& path, const std::vector<std::string>& folders) {
  try {
    const fs::path file = fs::weakly_canonical(fs::absolute(path));
    for (const std::string& folder : folders) {
      if (folder.empty()) continue;
      const fs::path root = fs::weakly_canonical(fs::absolute(folder));
      // Component by component: "/data/plans2" does not lie inside "/data/plans".
      auto f = file.begin();
      bool inside = true;
      for (auto r = root.begin(); r != root.end(); ++r, ++f) {
        if (r->empty()) continue;  // the empty last element of a folder ending in "/"
        if (f == file.end() || *f != *r) {
          inside = false;
          break;
        }
      }
      if (inside) return true;
    }
  } catch (...) {
  }
  return false;
}

std::string FindImageFile(const std::string& name, const std::string& drawingFolder,
                          const std::vector<std::string>& searchFolders) {
  try {
    if (name.empty()) return {};
    if (!IsWindowsRooted(name)) {
      const fs::path given = name[0] == '/' ? fs::path(name) : fs::path(drawingFolder) / name;
      if (IsFile(given)) return given.string();
      const fs::path resolved = ResolveNoCase(name, drawingFolder);
      if (!resolved.empty()) return resolved.string();
    }
    std::size_t cut = name.find_last_of("/\\");
    // "C:photo.png": relative to a drive's current folder.
    if (cut == std::string::npos && IsWindowsRooted(name)) cut = 1;
    const std::string bare = cut == std::string::npos ? name : name.substr(cut + 1);
    if (bare.empty() || bare == "." || bare == "..") return {};
    fs::path found = FindEntry(drawingFolder, bare, false);
    for (std::size_t i = 0; found.empty() && i < searchFolders.size(); ++i) {
      if (!searchFolders[i].empty()) found = FindEntry(searchFolders[i], bare, false);
    }
    if (!found.empty()) return found.string();
    // Then the name's last folders with it ("scans/site/a.png", "site/a.png"), shortest first,
    // below the drawing's folder and each search folder: a drawing that was moved with its
    // pictures, or whose pictures were copied into a search folder with their folders.
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= name.size();) {
      std::size_t end = name.find_first_of("/\\", start);
      if (end == std::string::npos) end = name.size();
      parts.push_back(name.substr(start, end - start));
      start = end + 1;
    }
    constexpr std::size_t kMostFolders = 8;
    std::vector<std::string> folders{drawingFolder};
    folders.insert(folders.end(), searchFolders.begin(), searchFolders.end());
    for (std::size_t take = 2; take <= parts.size() && take <= kMostFolders + 1; ++take) {
      const std::size_t first = parts.size() - take;
      const std::string& top = parts[first];
      // A drive ("C:"), an empty part (a root or a doubled separator) or "." and ".." end the
      // tails: what lies above them is no folder name.
      if (top.empty() || top == "." || top == ".." || (top.size() == 2 && top[1] == ':')) break;
      for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i > 0 && folders[i].empty()) continue;
        fs::path at = folders[i].empty() ? fs::path(".") : fs::path(folders[i]);
        for (std::size_t k = first; k + 1 < parts.size() && !at.empty(); ++k) {
          at = FindEntry(at, parts[k], true);
        }
        if (!at.empty()) found = FindEntry(at, bare, false);
        if (!found.empty()) return found.string();
      }
    }
    return {};
  } catch (...) {
    return {};
  }
}

}  // namespace drawing
