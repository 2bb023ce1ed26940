#pragma once

// The two LZ77 variants of DWG files: the one that compresses the pages of R2004-family drawings
// (R2004, R2010, R2013, R2018) and the one of R2007 drawings. Private to the DWG container
// reader; the tests call them directly.

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

// Decompresses R2007 data: reads all of `input` (this variant has no end mark) and writes at
// most out.size() bytes. Literal runs are stored with their bytes in a shuffled order, which
// this undoes. Fails, without writing outside `out` or reading outside `input`, when a copy
// reaches before the start of the output, a run passes the end of the output or of the
// input (also a run a copy announces and the input lacks), or the input ends inside an
// instruction. Bytes of `out` past `produced` are left as they were.
CLz77Result DecompressR2007(std::string_view input, std::span<char> out);

}  // namespace drawing::dwg::detail
