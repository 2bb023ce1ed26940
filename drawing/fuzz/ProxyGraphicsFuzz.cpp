// libFuzzer entry point for the decoder of proxy graphics. The first byte of an input chooses
// the release forms of the LWPOLYLINE record, the rest is the graphics of one entity. Besides
// crashes, leaks and undefined behaviour it stops on entities that break the model's promises
// (every index in range, so that FinishModel mends nothing) and on more entities than the
// limit. Built and run by run_proxy.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"
#include "drawing/ProxyGraphics.h"

namespace {

using namespace drawing;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "proxy graphics promise broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Drawing drawing;
  for (const char* name : {"0", "WALL", "DOOR"}) drawing.layers.emplace_back().name = name;
  for (const char* name : {"ByBlock", "ByLayer", "Continuous", "DASHED"}) {
    drawing.linetypes.emplace_back().name = name;
  }
  drawing.textStyles.resize(2);
  drawing.textStyles[0].name = "Standard";
  drawing.textStyles[1].name = "ISO";
  drawing.textStyles[1].fontFile = "isocp.shx";
  CProxyGraphicsTables tables;
  tables.layers = {0, 2, -1, 1};
  tables.linetypes = {2, 3, -1};
  tables.textStyles = &drawing.textStyles;
  tables.decodeText = [](std::string_view raw) { return std::string(raw); };
  tables.fullVertices = (data[0] & 1) != 0;
  tables.vertexIds = (data[0] & 2) != 0;

  Entity base;
  base.layer = 1;
  base.linetype = 3;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  drawing.blocks.resize(2);
  drawing.blocks[0].name = "*Model_Space";
  drawing.blocks[1].name = "*Paper_Space";
  std::vector<Entity>& out = drawing.blocks[0].entities;
  const CProxyGraphicsResult result = DecodeProxyGraphics(bytes, base, tables, out);
  if (result.entities != out.size()) Broken("the count of entities is not what was appended");
  if (out.size() > kMaxProxyEntities) Broken("more entities than the limit");
  if (FinishModel(drawing) != 0) Broken("an entity refers out of range");
  for (const std::string& broken : CheckModel(drawing)) Broken(broken.c_str());
  return 0;
}
