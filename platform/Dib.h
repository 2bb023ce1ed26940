#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// One entry of a bitmap's colour table, in the byte order of a device-independent bitmap.
struct RgbQuad {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t reserved = 0;
};

// A device-independent bitmap: the form in which the drawing library hands raster images to
// the export device. Rows are stored bottom row first, each padded to a multiple of 4 bytes.
// 1, 4 and 8 bits per pixel index a colour table of 2, 16 and 256 entries (for 1 and 4 bits the
// leftmost pixel is in the most significant bits of a byte); 24 bits store blue, green, red;
// 32 bits store blue, green, red and an unused byte, or the pixel's opacity (0 transparent, 255
// opaque) when the bitmap says it carries alpha.
class CDib {
 public:
  // A bitmap of the given size with all pixels 0, or null when the size or depth is not
  // supported or memory is short. The colour table starts as a gray ramp from black to white.
  static std::unique_ptr<CDib> Create(std::int32_t width, std::int32_t height, int bitsPerPixel);

  ~CDib();
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  std::int32_t Width() const { return width; }
  std::int32_t Height() const { return height; }
  int BitsPerPixel() const { return bitsPerPixel; }
  // Bytes per stored row, padding included.
  std::size_t Stride() const { return stride; }
  // Row y in storage order: 0 is the bottom row of the picture.
  std::uint8_t* Row(std::int32_t y) { return bits + static_cast<std::size_t>(y) * stride; }
  const std::uint8_t* Row(std::int32_t y) const {
    return bits + static_cast<std::size_t>(y) * stride;
  }
  // 2, 16 or 256 entries for 1, 4 and 8 bits per pixel; 0 otherwise.
  int ColorCount() const { return colorCount; }
  RgbQuad* ColorTable() { return colors; }
  const RgbQuad* ColorTable() const { return colors; }

  // Stores a colour at (x, y) of a 24- or 32-bit bitmap, or a colour-table index at (x, y)
  // of a 1-, 4- or 8-bit one. Coordinates outside the bitmap are ignored.
  void SetPixelRgb(std::int32_t x, std::int32_t y, std::uint8_t red, std::uint8_t green,
                   std::uint8_t blue);
  void SetPixelIndex(std::int32_t x, std::int32_t y, unsigned index);

  // Whether the fourth byte of each pixel of a 32-bit bitmap is its opacity (straight, not
  // premultiplied colour). Readers of the colour (CDibReader) ignore it either way.
  bool HasAlpha() const { return hasAlpha && bitsPerPixel == 32; }
  void SetHasAlpha(bool alpha) { hasAlpha = alpha; }

 private:
  CDib() = default;

  std::int32_t width = 0;
  std::int32_t height = 0;
  int bitsPerPixel = 0;
  std::size_t stride = 0;
  std::uint8_t* bits = nullptr;
  int colorCount = 0;
  bool hasAlpha = false;
  RgbQuad colors[256];
};

// A bitmap handle as the drawing library passes it: a borrowed pointer, null for none.
using HBITMAP = const CDib*;

// What a bitmap handle tells of itself.
struct BitmapInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;
  int bitsPerPixel = 0;
};

// The size and depth of a bitmap; false for a null handle.
bool GetBitmapInfo(HBITMAP bitmap, BitmapInfo* info);

// Reads the pixels of a bitmap as red, green, blue bytes, in the depth a reader of
// device-independent bitmaps chooses from the bitmap's own (1 for up to 1 bit, 4 for up to 4,
// 8 for up to 8, 24 for more). The reader borrows the bitmap, which must outlive it.
class CDibReader {
 public:
  // False when the handle is null or the bitmap has no pixels; nothing can be read then.
  bool Open(HBITMAP bitmap);

  std::int32_t Width() const { return dib ? dib->Width() : 0; }
  std::int32_t Height() const { return dib ? dib->Height() : 0; }
  int Depth() const { return depth; }

  // Writes count pixels of storage row y (0 = bottom), starting at pixel first, as three bytes
  // each (red, green, blue) to out. The pixels must lie inside the bitmap.
  void ReadRow(std::int32_t y, std::int32_t first, std::int32_t count, std::uint8_t* out) const;

 private:
  const CDib* dib = nullptr;
  int depth = 0;
};
