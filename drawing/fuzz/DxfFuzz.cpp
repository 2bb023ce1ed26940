// libFuzzer entry point for the DXF reader. Besides crashes, leaks and undefined behaviour it
// stops on a model that breaks the promises the renderer relies on (every index in range).
// Built and run by run.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drawing/Model.h"
#include "drawing/dxf/DxfReader.h"

namespace {

using namespace drawing;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "model invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Drawing drawing;
  std::string error;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The reader itself must leave no reference dangling: finishing may order and complete the
  // model, but has nothing to repair.
  ReadDxf(bytes, drawing, &error);
  if (error.find('\n') != std::string::npos) Broken("the error is not one line");
  if (FinishModel(drawing) != 0) Broken("the reader left references out of range");
  for (const std::string& broken : CheckModel(drawing)) Broken(broken.c_str());
  return 0;
}
