#include "platform/Dib.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace {

bool IsSupportedDepth(int bitsPerPixel) {
  return bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24 ||
         bitsPerPixel == 32;
}

}  // namespace

std::unique_ptr<CDib> CDib::Create(std::int32_t width, std::int32_t height, int bitsPerPixel) {
  if (width <= 0 || height <= 0 || !IsSupportedDepth(bitsPerPixel)) return nullptr;
  const std::uint64_t rowBits = static_cast<std::uint64_t>(width) * bitsPerPixel;
  const std::uint64_t stride = (rowBits + 31) / 32 * 4;
  if (stride > std::numeric_limits<std::size_t>::max() / static_cast<std::uint64_t>(height)) {
    return nullptr;
  }
  std::unique_ptr<CDib> dib(new (std::nothrow) CDib);
  if (!dib) return nullptr;
  dib->bits = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(stride), height));
  if (!dib->bits) return nullptr;
  dib->width = width;
  dib->height = height;
  dib->bitsPerPixel = bitsPerPixel;
  dib->stride = static_cast<std::size_t>(stride);
  dib->colorCount = bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
  for (int i = 0; i < dib->colorCount; ++i) {
    const auto level = static_cast<std::uint8_t>(i * 255 / (dib->colorCount - 1));
    dib->colors[i] = RgbQuad{level, level, level, 0};
  }
  return dib;
}

CDib::~CDib() {
  std::free(bits);
}

void CDib::SetPixelRgb(std::int32_t x, std::int32_t y, std::uint8_t red, std::uint8_t green,
                       std::uint8_t blue) {
  if (x < 0 || y < 0 || x >= width || y >= height || bitsPerPixel < 24) return;
  std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * (bitsPerPixel / 8);
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

void CDib::SetPixelIndex(std::int32_t x, std::int32_t y, unsigned index) {
  if (x < 0 || y < 0 || x >= width || y >= height || bitsPerPixel > 8) return;
  std::uint8_t* row = Row(y);
  switch (bitsPerPixel) {
    case 8:
      row[x] = static_cast<std::uint8_t>(index);
      break;
    case 4: {
      const int shift = (x & 1) ? 0 : 4;
      row[x / 2] =
          static_cast<std::uint8_t>((row[x / 2] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
      break;
    }
    default: {
      const int shift = 7 - (x & 7);
      row[x / 8] = static_cast<std::uint8_t>((row[x / 8] & ~(1 << shift)) | ((index & 1) << shift));
      break;
    }
  }
}

bool GetBitmapInfo(HBITMAP bitmap, BitmapInfo* info) {
  if (!bitmap || !info) return false;
  info->width = bitmap->Width();
  info->height = bitmap->Height();
  info->bitsPerPixel = bitmap->BitsPerPixel();
  return true;
}

bool CDibReader::Open(HBITMAP bitmap) {
  dib = nullptr;
  depth = 0;
  BitmapInfo info;
  if (!GetBitmapInfo(bitmap, &info) || info.width <= 0 || info.height <= 0) return false;
  dib = bitmap;
  depth = info.bitsPerPixel <= 1 ? 1 : info.bitsPerPixel <= 4 ? 4 : info.bitsPerPixel <= 8 ? 8 : 24;
  return true;
}

void CDibReader::ReadRow(std::int32_t y, std::int32_t first, std::int32_t count,
                         std::uint8_t* out) const {
  const std::uint8_t* row = dib->Row(y);
  const RgbQuad* table = dib->ColorTable();
  const std::int32_t end = first + count;
  auto putIndex = [&](unsigned index) {
    const RgbQuad& c = table[index];
    out[0] = c.red;
    out[1] = c.green;
    out[2] = c.blue;
    out += 3;
  };
  switch (depth) {
    case 24: {
      // Both 24- and 32-bit pixels start with blue, green, red.
      const int step = dib->BitsPerPixel() / 8;
      const std::uint8_t* p = row + static_cast<std::size_t>(first) * step;
      for (std::int32_t x = first; x < end; ++x, p += step, out += 3) {
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      }
      break;
    }
    case 8:
      for (std::int32_t x = first; x < end; ++x) putIndex(row[x]);
      break;
    case 4:
      for (std::int32_t x = first; x < end; ++x) {
        putIndex((x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4);
      }
      break;
    default:
      for (std::int32_t x = first; x < end; ++x) putIndex((row[x / 8] >> (7 - (x & 7))) & 1);
      break;
  }
}
