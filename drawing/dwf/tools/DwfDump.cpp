// Prints what the DWF reader finds in a file: its sheets with their paper, the entities of each
// sheet by kind, and the opcodes read but not drawn. With -v, one line per entity. A tool for
// developers, not installed.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "drawing/Model.h"
#include "drawing/dwf/DwfReader.h"

namespace {

void Count(const drawing::Entity& entity, std::map<std::string, int>& kinds, bool verbose,
           int depth) {
  ++kinds[entity.KindName()];
  if (verbose) {
    std::printf("%*s%s layer %d colour %d%s lineweight %d\n", 2 * depth + 4, "", entity.KindName(),
                entity.layer, entity.color.index, entity.color.hasTrueColor ? " (true colour)" : "",
                entity.lineweight);
  }
  if (const auto* group = std::get_if<drawing::ClippedGroup>(&entity.data)) {
    for (const drawing::Entity& member : group->entities) Count(member, kinds, verbose, depth + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "-v") {
    verbose = true;
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: dwfdump [-v] FILE...\n");
    return 64;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    drawing::Drawing model;
    std::string error;
    const bool read = drawing::ReadDwf(bytes, model, &error);
    std::printf("%s: %s%s%s\n", argv[i], read ? "read" : "not read", error.empty() ? "" : ": ",
                error.c_str());
    if (!read) status = 2;
    for (const drawing::Layout& layout : model.layouts) {
      if (layout.isModel) continue;
      std::printf("  sheet \"%s\": %.1f x %.1f mm (%s)\n", layout.name.c_str(), layout.paperWidth,
                  layout.paperHeight, layout.paperUnits == 0 ? "inches" : "millimetres");
      std::map<std::string, int> kinds;
      for (const drawing::Entity& entity : model.blocks[layout.block].entities) {
        Count(entity, kinds, verbose, 0);
      }
      for (const auto& [kind, count] : kinds) std::printf("    %d %s\n", count, kind.c_str());
    }
    std::printf("  %zu layers, %zu text styles, %zu pictures\n", model.layers.size(),
                model.textStyles.size(), model.imageDefs.size());
    for (const auto& [kind, count] : model.skippedTypes) {
      std::printf("  not drawn: %d %s\n", count, kind.c_str());
    }
  }
  return status;
}
