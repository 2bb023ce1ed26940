// libFuzzer entry point for the DWF reader: packages (the ZIP archive, the manifest and sheet
// descriptors, embedded fonts) and W2D graphics streams. An input that starts with neither
// "(DWF V" nor "(W2D V" is read as the opcodes of a W2D stream, so that the fuzzer spends its
// time on the decoder rather than on finding the header. Besides crashes, leaks and undefined
// behaviour it stops on a model that breaks the promises the renderer relies on, and on an
// error that is not one line. Built and run by run_dwf.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drawing/Model.h"
#include "drawing/dwf/DwfReader.h"

namespace {

using namespace drawing;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "model invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view head = std::string_view(bytes).substr(0, 6);
  if (head != "(DWF V" && head != "(W2D V") bytes.insert(0, "(W2D V06.00)");
  Drawing drawing;
  std::string error;
  ReadDwf(bytes, drawing, &error);
  if (error.find('\n') != std::string::npos) Broken("the error is not one line");
  if (FinishModel(drawing) != 0) Broken("the reader left references out of range");
  for (const std::string& broken : CheckModel(drawing)) Broken(broken.c_str());
  return 0;
}
