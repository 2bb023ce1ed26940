#include "tests/ui_pensets/PenSetTestFiles.h"

#include <zlib.h>

#include <QFile>
#include <cstdio>

#include "pensets/PenSetFile.h"
#include "platform/Registry.h"

CPenSet MarkedSet(const std::string& name, int mark) {
  CPenSet set;
  set.name = name;
  for (int i = 0; i < 256; ++i) {
    set.entries[i] = {mark / 100.0 + i / 10000.0, static_cast<std::int16_t>((i + mark) % 256)};
  }
  return set;
}

namespace {

bool SameTable(const std::array<PenEntry, 256>& a, const std::array<PenEntry, 256>& b) {
  for (int i = 0; i < 256; ++i) {
    if (a[i].width != b[i].width || a[i].destColor != b[i].destColor) return false;
  }
  return true;
}

}  // namespace

bool HasMark(const std::array<PenEntry, 256>& entries, int mark) {
  return SameTable(entries, MarkedSet("", mark).entries);
}

bool IsDefaultTable(const std::array<PenEntry, 256>& entries) {
  return SameTable(entries, CPenSet().entries);
}

void WritePenSetFile(const QString& path, const std::vector<CPenSet>& sets, int cutLast) {
  const std::string file = path.toStdString();
  std::FILE* out = std::fopen(file.c_str(), "wb");
  WritePenSetHeader(out);
  for (const CPenSet& set : sets) WritePenSetRecord(set, out);
  std::fclose(out);
  if (cutLast > 0) {
    QFile written(path);
    written.resize(written.size() - cutLast);
  }
}

namespace {

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>(value >> (8 * b));
}

}  // namespace

void WritePlotStyleTable(const QString& path) {
  // Style 0 is colour index 1: an explicit black (0xC3000000) at lineweight 8, 0.25 mm.
  const std::string text =
      "description=\"one pen\n"
      "aci_table_available=TRUE\n"
      "plot_style{\n"
      " 0{\n  name=\"Color_1\n  color=-1023410176\n  color_policy=5\n  lineweight=8\n }\n"
      "}\n"
      "custom_lineweight_table{\n 0=0.0\n 8=0.25\n}\n";
  uLongf size = compressBound(text.size());
  std::string deflated(size, '\0');
  compress(reinterpret_cast<Bytef*>(deflated.data()), &size,
           reinterpret_cast<const Bytef*>(text.data()), text.size());
  deflated.resize(size);
  std::string bytes("PIAFILEVERSION_2.0,CTBVER1,compress\r\npmzlibcodec", 48);
  bytes.resize(60);
  Put32(bytes, 48,
        adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(deflated.data()),
                deflated.size()));
  Put32(bytes, 52, static_cast<std::uint32_t>(text.size()));
  Put32(bytes, 56, static_cast<std::uint32_t>(deflated.size()));
  bytes += deflated;
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::array<PenEntry, 256> StoredTable(const std::string& name, CRegistry& store) {
  std::array<PenEntry, 256> entries;
  LoadPenSet(name, entries, store);
  return entries;
}
