// libFuzzer entry point for the reader of DWG files before R13 (R1.4 to R11/R12): the file
// header and variables, the tables, the block definitions, the entity lists with their JUMPs,
// and the model they fill. Every input goes to this reader, whatever its first bytes say. Besides
// crashes, leaks and undefined behaviour it stops on results that break the promises the layers
// above rely on: a one-line reason for every failure and every note, a model that FinishModel
// need not mend and CheckModel finds sound. Built and run by run_dwg_pre13.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dwg/detail/DwgPreR13.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "pre-R13 DWG reader promise broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(bytes), size);
  drawing::Drawing model;
  std::string note;
  const bool read = drawing::dwg::detail::ReadDwgPreR13(
      file, model, &note, drawing::dwg::detail::kPreR13DefaultCodePage);
  Check(note.find('\n') == std::string::npos, "the note is one line");
  Check(read || !note.empty(), "a failed read has a reason");
  if (!read) return 0;
  Check(drawing::FinishModel(model) == 0, "FinishModel mends nothing the reader handed over");
  const std::vector<std::string> broken = drawing::CheckModel(model);
  if (!broken.empty()) std::fprintf(stderr, "CheckModel: %s\n", broken.front().c_str());
  Check(broken.empty(), "CheckModel finds the model sound");
  return 0;
}
