// Writes the manual page and the shell completions of tarnvelox-cli, made from the same table
// of options as its --help, into a folder. Run by the build; not installed.
#include <cstdio>
#include <string>

#include "cli/CommandLine.h"

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 64;
  }
  const std::string folder = argv[1];
  const bool ok = Write(folder + "/tarnvelox-cli.1", ManualPage(TARNVELOX_VERSION)) &&
                  Write(folder + "/tarnvelox-cli.bash", Completion("bash")) &&
                  Write(folder + "/_tarnvelox-cli", Completion("zsh"));
  if (!ok) std::perror(folder.c_str());
  return ok ? 0 : 1;
}
