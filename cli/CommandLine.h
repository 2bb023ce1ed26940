#pragma once

#include <string>
#include <string_view>
#include <vector>

class CConvertSettings;

// What the command line asks for besides the settings of the run.
struct CliOptions {
  std::vector<std::string> drawings;
  // Folders among the drawings are searched with their subfolders.
  bool recursive = false;
  // A file naming one drawing (or folder) per line; "-" for standard input.
  std::string fromList;
  // Start from the settings the wizard saved instead of the built-in defaults.
  bool saved = false;
  // A stored pen set to draw with (pen sets are then in use).
  std::string penSet;
  // A plot style table (.ctb) to build the run's pen set from.
  std::string ctb;
  // A pen-set file to take penSet from instead of the store.
  std::string penFile;
  // Copy pen sets between the store and a file instead of converting; the names given
  // (all when none) are in penSetNames.
  enum class PenSetTransfer { None, Export, Import } transfer = PenSetTransfer::None;
  std::string transferFile;
  std::vector<std::string> penSetNames;
  // An import replaces stored sets of the same name.
  bool overwrite = false;
  bool json = false;
  // A drawing with warnings fails.
  bool strict = false;
  // Drawings converted side by side (0: as many as the machine has cores).
  int jobs = 0;
  // The share of the drawings this run converts: share `shard` (0 … shards − 1) of `shards`
  // equal runs of the list in its order.
  int shard = 0, shards = 1;
  // Drawings whose PDF files are newer than the drawing are left as they are.
  bool skipExisting = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// Whether the arguments (without the program name) hold --saved, which decides the settings
// the other options are applied to.
bool WantsSavedSettings(const std::vector<std::string>& args);

// Applies the arguments to settings, which hold the defaults or the saved settings, and fills
// options. False with a one-line message naming the option on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CConvertSettings& settings,
                      CliOptions& options, std::string* error);

// The --help text.
const char* UsageText();
// The manual page (troff, section 1) made from the same table of options as the help.
std::string ManualPage(const char* version);
// Every option's name ("-t", "--output-type", …).
std::vector<std::string> OptionNames();
// The completion script for a shell ("bash" or "zsh"); empty for another.
std::string Completion(const std::string& shell);

// text in at most `columns` characters (code points): as it is when it fits, else its start and
// its end with "…" between them, so that a long path keeps its folder's start and its file name.
// Never cuts a UTF-8 sequence; bytes that are no UTF-8 count as a character each.
std::string ShortenMiddle(std::string_view text, int columns);
