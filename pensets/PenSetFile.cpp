#include "pensets/PenSetFile.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/Ascii.h"
#include "platform/ColorPalette.h"
#include "render/Drawing.h"

namespace fs = std::filesystem;

namespace {

// Reads bytes up to a NUL or the end of the file; the NUL is not part of the text.
std::string ReadName(std::FILE* file) {
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF && c != 0;) text += static_cast<char>(c);
  return text;
}

bool HeaderMatches(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  return ReadName(file) == kPenSetFileHeader;
}

// Reads the 256 entries behind a name; false on a short read.
bool ReadEntries(std::FILE* file, std::array<PenEntry, 256>& entries) {
  std::uint8_t record[kPenSetRecordSize];
  if (std::fread(record, 1, sizeof record, file) != sizeof record) return false;
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* at = record + 10 * i;
    const auto color = static_cast<std::int16_t>(at[0] | at[1] << 8);
    std::uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = bits << 8 | at[2 + b];
    entries[i].destColor = color >= 0 && color <= 255 ? color : static_cast<std::int16_t>(i);
    entries[i].width = std::bit_cast<double>(bits);
  }
  return true;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool WritePenSetHeader(std::FILE* file) {
  return std::fwrite(kPenSetFileHeader, 1, kPenSetFileHeaderSize, file) ==
         static_cast<std::size_t>(kPenSetFileHeaderSize);
}

bool WritePenSetRecord(const CPenSet& set, std::FILE* file) {
  if (set.name.empty()) return true;
  std::uint8_t record[kPenSetRecordSize];
  for (int i = 0; i < 256; ++i) {
    std::uint8_t* at = record + 10 * i;
    const auto color = static_cast<std::uint16_t>(set.entries[i].destColor);
    at[0] = static_cast<std::uint8_t>(color);
    at[1] = static_cast<std::uint8_t>(color >> 8);
    const auto bits = std::bit_cast<std::uint64_t>(set.entries[i].width);
    for (int b = 0; b < 8; ++b) at[2 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  // A name holding a NUL could not be read back whole: it ends at the NUL.
  const std::size_t nameLength = std::strlen(set.name.c_str());
  return std::fwrite(set.name.c_str(), 1, nameLength + 1, file) == nameLength + 1 &&
         std::fwrite(record, 1, sizeof record, file) == sizeof record;
}

std::vector<std::string> ListFilePenSets(std::FILE* file) {
  std::vector<std::string> names;
  if (!HeaderMatches(file)) return names;
  for (std::string name = ReadName(file); !name.empty(); name = ReadName(file)) {
    names.push_back(name);
    if (std::fseek(file, kPenSetRecordSize, SEEK_CUR) != 0) break;
    // fseek goes past the end without complaint: a cut-off record ends the list here.
    const long at = std::ftell(file);
    if (std::fseek(file, 0, SEEK_END) != 0) break;
    const long end = std::ftell(file);
    if (at < 0 || end < at || std::fseek(file, at, SEEK_SET) != 0) break;
  }
  return names;
}

bool ReadFilePenSet(std::FILE* file, const std::string& name, CPenSet& set) {
  if (!HeaderMatches(file)) return false;
  for (std::string found = ReadName(file); !found.empty(); found = ReadName(file)) {
    if (EqualsIgnoringCase(found, name)) {
      std::array<PenEntry, 256> entries;
      if (!ReadEntries(file, entries)) return false;
      set.entries = entries;
      set.name = name;
      return true;
    }
    std::uint8_t skipped[kPenSetRecordSize];
    if (std::fread(skipped, 1, sizeof skipped, file) != sizeof skipped) return false;
  }
  return false;
}

bool ExportPenSetsToFile(const std::string& path, const std::vector<std::string>& names,
                         CRegistry& store) {
  const std::string temporary = path + ".tmp-export";
  FilePtr file(std::fopen(temporary.c_str(), "wb"));
  if (!file) return false;
  bool written = WritePenSetHeader(file.get());
  // A set of its own, so the current pen set is never touched while the file is written.
  CPenSet set;
  for (const std::string& name : names) {
    LoadPenSet(name, set.entries, store);
    set.name = name;
    written = written && WritePenSetRecord(set, file.get());
  }
  written = std::fflush(file.get()) == 0 && written;
  written = std::fclose(file.release()) == 0 && written;
  std::error_code error;
  if (written) fs::rename(temporary, path, error);
  if (!written || error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

bool BuildPenTableFromCtb(const std::string& path, std::array<PenEntry, 256>& entries,
                          std::string* why) {
  CDrawing* drawing = CDrawing::CreateDrawing();
  if (!drawing) {
    if (why) *why = "not enough memory";
    return false;
  }
  const bool read = drawing->LoadPlotStyleTable(path.c_str());
  if (!read && why) *why = drawing->GetLastError();
  for (int i = 0; i < 256; ++i) {
    short colorIndex = -1;
    int rgb = 0;
    double widthMm = 0;
    drawing->GetPlotStyleEntry(i, &colorIndex, &rgb, &widthMm);
    if (colorIndex < 0 || colorIndex > 255) {
      // A colour exactly that of the index itself keeps the index (the palette repeats some
      // colours, and the nearest match would move the pen to another index).
      const std::uint32_t own = ColorRgb(i);
      colorIndex = static_cast<std::uint32_t>(rgb) == own
                       ? static_cast<short>(i)
                       : static_cast<short>(
                             NearestColorIndex(rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16 & 0xFF));
    }
    entries[i].destColor = colorIndex;
    entries[i].width = widthMm * 0.03937007874015748;
  }
  CDrawing::DeleteDrawing(drawing);
  return read;
}

std::string CtbPenSetName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return "AutoCAD-" + name;
}
