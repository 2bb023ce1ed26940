#include "platform/ColorPalette.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The table is written as RRGGBB, the way the colours are usually quoted; the stored value has
// red in the low byte.
constexpr std::uint32_t Rgb(std::uint32_t rrggbb) {
  return (rrggbb >> 16 & 0xFF) | (rrggbb & 0xFF00) | (rrggbb & 0xFF) << 16;
}

}  // namespace

// 0–9 basic colours; 10–249 24 hues of ten shades (even offsets full saturation at brightness
// 255, 166, 128, 76, 38; odd offsets the same at half saturation); 250–255 greys.
const std::uint32_t ColorIndexPalette[256] = {
    Rgb(0x000000), Rgb(0xFF0000), Rgb(0xFFFF00), Rgb(0x00FF00),  // 0
    Rgb(0x00FFFF), Rgb(0x0000FF), Rgb(0xFF00FF), Rgb(0xFFFFFF),  // 4
    Rgb(0x989898), Rgb(0xC0C0C0), Rgb(0xFF0000), Rgb(0xFF8080),  // 8
    Rgb(0xA60000), Rgb(0xA65353), Rgb(0x800000), Rgb(0x804040),  // 12
    Rgb(0x4C0000), Rgb(0x4C2626), Rgb(0x260000), Rgb(0x261313),  // 16
    Rgb(0xFF4000), Rgb(0xFF9F80), Rgb(0xA62900), Rgb(0xA66853),  // 20
    Rgb(0x802000), Rgb(0x805040), Rgb(0x4C1300), Rgb(0x4C3026),  // 24
    Rgb(0x260A00), Rgb(0x261813), Rgb(0xFF8000), Rgb(0xFFBF80),  // 28
    Rgb(0xA65300), Rgb(0xA67C53), Rgb(0x804000), Rgb(0x806040),  // 32
    Rgb(0x4C2600), Rgb(0x4C3926), Rgb(0x261300), Rgb(0x261D13),  // 36
    Rgb(0xFFBF00), Rgb(0xFFDF80), Rgb(0xA67C00), Rgb(0xA69153),  // 40
    Rgb(0x806000), Rgb(0x807040), Rgb(0x4C3900), Rgb(0x4C4326),  // 44
    Rgb(0x261D00), Rgb(0x262113), Rgb(0xFFFF00), Rgb(0xFFFF80),  // 48
    Rgb(0xA6A600), Rgb(0xA6A653), Rgb(0x808000), Rgb(0x808040),  // 52
    Rgb(0x4C4C00), Rgb(0x4C4C26), Rgb(0x262600), Rgb(0x262613),  // 56
    Rgb(0xBFFF00), Rgb(0xDFFF80), Rgb(0x7CA600), Rgb(0x91A653),  // 60
    Rgb(0x608000), Rgb(0x708040), Rgb(0x394C00), Rgb(0x434C26),  // 64
    Rgb(0x1D2600), Rgb(0x212613), Rgb(0x80FF00), Rgb(0xBFFF80),  // 68
    Rgb(0x53A600), Rgb(0x7CA653), Rgb(0x408000), Rgb(0x608040),  // 72
    Rgb(0x264C00), Rgb(0x394C26), Rgb(0x132600), Rgb(0x1D2613),  // 76
    Rgb(0x40FF00), Rgb(0x9FFF80), Rgb(0x29A600), Rgb(0x68A653),  // 80
    Rgb(0x208000), Rgb(0x508040), Rgb(0x134C00), Rgb(0x304C26),  // 84
    Rgb(0x0A2600), Rgb(0x182613), Rgb(0x00FF00), Rgb(0x80FF80),  // 88
    Rgb(0x00A600), Rgb(0x53A653), Rgb(0x008000), Rgb(0x408040),  // 92
    Rgb(0x004C00), Rgb(0x264C26), Rgb(0x002600), Rgb(0x132613),  // 96
    Rgb(0x00FF40), Rgb(0x80FF9F), Rgb(0x00A629), Rgb(0x53A668),  // 100
    Rgb(0x008020), Rgb(0x408050), Rgb(0x004C13), Rgb(0x264C30),  // 104
    Rgb(0x00260A), Rgb(0x132618), Rgb(0x00FF80), Rgb(0x80FFBF),  // 108
    Rgb(0x00A653), Rgb(0x53A67C), Rgb(0x008040), Rgb(0x408060),  // 112
    Rgb(0x004C26), Rgb(0x264C39), Rgb(0x002613), Rgb(0x13261D),  // 116
    Rgb(0x00FFBF), Rgb(0x80FFDF), Rgb(0x00A67C), Rgb(0x53A691),  // 120
    Rgb(0x008060), Rgb(0x408070), Rgb(0x004C39), Rgb(0x264C43),  // 124
    Rgb(0x00261D), Rgb(0x132621), Rgb(0x00FFFF), Rgb(0x80FFFF),  // 128
    Rgb(0x00A6A6), Rgb(0x53A6A6), Rgb(0x008080), Rgb(0x408080),  // 132
    Rgb(0x004C4C), Rgb(0x264C4C), Rgb(0x002626), Rgb(0x132626),  // 136
    Rgb(0x00BFFF), Rgb(0x80DFFF), Rgb(0x007CA6), Rgb(0x5391A6),  // 140
    Rgb(0x006080), Rgb(0x407080), Rgb(0x00394C), Rgb(0x26434C),  // 144
    Rgb(0x001D26), Rgb(0x132126), Rgb(0x0080FF), Rgb(0x80BFFF),  // 148
    Rgb(0x0053A6), Rgb(0x537CA6), Rgb(0x004080), Rgb(0x406080),  // 152
    Rgb(0x00264C), Rgb(0x26394C), Rgb(0x001326), Rgb(0x131D26),  // 156
    Rgb(0x0040FF), Rgb(0x809FFF), Rgb(0x0029A6), Rgb(0x5368A6),  // 160
    Rgb(0x002080), Rgb(0x405080), Rgb(0x00134C), Rgb(0x26304C),  // 164
    Rgb(0x000A26), Rgb(0x131826), Rgb(0x0000FF), Rgb(0x8080FF),  // 168
    Rgb(0x0000A6), Rgb(0x5353A6), Rgb(0x000080), Rgb(0x404080),  // 172
    Rgb(0x00004C), Rgb(0x26264C), Rgb(0x000026), Rgb(0x131326),  // 176
    Rgb(0x4000FF), Rgb(0x9F80FF), Rgb(0x2900A6), Rgb(0x6853A6),  // 180
    Rgb(0x200080), Rgb(0x504080), Rgb(0x13004C), Rgb(0x30264C),  // 184
    Rgb(0x0A0026), Rgb(0x181326), Rgb(0x8000FF), Rgb(0xBF80FF),  // 188
    Rgb(0x5300A6), Rgb(0x7C53A6), Rgb(0x400080), Rgb(0x604080),  // 192
    Rgb(0x26004C), Rgb(0x39264C), Rgb(0x130026), Rgb(0x1D1326),  // 196
    Rgb(0xBF00FF), Rgb(0xDF80FF), Rgb(0x7C00A6), Rgb(0x9153A6),  // 200
    Rgb(0x600080), Rgb(0x704080), Rgb(0x39004C), Rgb(0x43264C),  // 204
    Rgb(0x1D0026), Rgb(0x211326), Rgb(0xFF00FF), Rgb(0xFF80FF),  // 208
    Rgb(0xA600A6), Rgb(0xA653A6), Rgb(0x800080), Rgb(0x804080),  // 212
    Rgb(0x4C004C), Rgb(0x4C264C), Rgb(0x260026), Rgb(0x261326),  // 216
    Rgb(0xFF00BF), Rgb(0xFF80DF), Rgb(0xA6007C), Rgb(0xA65391),  // 220
    Rgb(0x800060), Rgb(0x804070), Rgb(0x4C0039), Rgb(0x4C2643),  // 224
    Rgb(0x26001D), Rgb(0x261321), Rgb(0xFF0080), Rgb(0xFF80BF),  // 228
    Rgb(0xA60053), Rgb(0xA6537C), Rgb(0x800040), Rgb(0x804060),  // 232
    Rgb(0x4C0026), Rgb(0x4C2639), Rgb(0x260013), Rgb(0x26131D),  // 236
    Rgb(0xFF0040), Rgb(0xFF809F), Rgb(0xA60029), Rgb(0xA65368),  // 240
    Rgb(0x800020), Rgb(0x804050), Rgb(0x4C0013), Rgb(0x4C2630),  // 244
    Rgb(0x26000A), Rgb(0x261318), Rgb(0x545454), Rgb(0x767676),  // 248
    Rgb(0x989898), Rgb(0xBBBBBB), Rgb(0xDDDDDD), Rgb(0xFFFFFF),  // 252
};

std::uint32_t ColorRgb(int index) {
  return index >= 0 && index < 256 ? ColorIndexPalette[index] : 0;
}

std::string ColorName(int index) {
  static const char* const kNames[] = {"Black", "Red",     "Yellow", "Green",    "Aqua",
                                       "Blue",  "Fuchsia", "White",  "Dark Gray"};
  if (index >= 0 && index < 9) return kNames[index];
  char text[32];
  std::snprintf(text, sizeof text, "Color %d", index);
  return text;
}

int NearestColorIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  int best = 0;
  int bestDistance = 1 << 30;
  for (int k = 0; k < 256; ++k) {
    const std::uint32_t c = ColorIndexPalette[k];
    const int distance = 3 * std::abs(red - static_cast<int>(c & 0xFF)) +
                         4 * std::abs(green - static_cast<int>(c >> 8 & 0xFF)) +
                         2 * std::abs(blue - static_cast<int>(c >> 16 & 0xFF));
    if (distance == 0) return k;
    // Strictly smaller: of equal distances the lower index stays.
    if (distance < bestDistance) {
      bestDistance = distance;
      best = k;
    }
  }
  return best;
}
