#pragma once

// The LZ77 variant that compresses the pages of R2004-family drawings (R2004, R2010, R2013,
// R2018). Private to the DWG container reader; the tests call it directly.

#include <cstddef>
#include <span>
#include <string_view>

namespace drawing::dwg::detail {

struct CLz77Result {
  bool ok = false;
  std::size_t produced = 0;     // bytes written to the output (also on failure)
  std::size_t inputOffset = 0;  // where in the input the damage was found
  const char* problem = "";     // what was wrong, for a message; empty when ok
};

// Decompresses one page: reads `input` until its end mark (opcode 0x11) and writes at most
// out.size() bytes. Fails, without writing outside `out` or reading outside `input`, when a
// copy would reach before the start of the output, a run would pass the end of the output,
// or the input ends before its end mark. Bytes of `out` past `produced` are left as they were.
CLz77Result DecompressR2004(std::string_view input, std::span<char> out);

}  // namespace drawing::dwg::detail
