// dwgdump: prints what the native DWG reader finds in a file — the version, the sections, the
// classes, the header variables and the frame of every object in the object map. A tool for
// developers of the reader.
//
//   dwgdump [--summary] [--section NAME] [--model] FILE...
//
// --summary prints one line per file instead (objects framed, checksum mismatches, failures);
// --section prints the bytes of one section (e.g. AcDb:Classes) in hex instead; --model prints
// the drawing model the reader makes of the file instead (tables, blocks with their entities
// counted by kind, layouts, skipped kinds).
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include "drawing/Model.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/dwg/DwgReader.h"

namespace {

using namespace drawing::dwg;

std::string Number(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string Point(const CPoint3& p) {
  return Number(p.x) + " " + Number(p.y) + " " + Number(p.z);
}

std::string Point(const CPoint2& p) {
  return Number(p.x) + " " + Number(p.y);
}

std::string Hex(std::uint64_t value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
  std::string text(buffer, result.ptr);
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
  return text;
}

// Text as printable ASCII: other bytes as \xNN.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      static const char digits[] = "0123456789ABCDEF";
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 15];
    }
  }
  return out;
}

void PrintHeader(const CDwgContainer& container) {
  CDwgHeader header;
  std::string error;
  const bool read = ReadDwgHeader(container, header, &error);
  std::printf("header variables: %s%s%s\n", read ? "read" : "FAILED", error.empty() ? "" : ": ",
              error.c_str());
  std::printf("  trailing bits %zu, checksum %s\n", header.trailingBits,
              header.crcMatches ? "ok" : "MISMATCH");
  std::printf("  INSBASE %s\n  EXTMIN %s\n  EXTMAX %s\n  LIMMIN %s\n  LIMMAX %s\n",
              Point(header.insBase).c_str(), Point(header.extMin).c_str(),
              Point(header.extMax).c_str(), Point(header.limMin).c_str(),
              Point(header.limMax).c_str());
  std::printf("  PINSBASE %s\n  PEXTMIN %s\n  PEXTMAX %s\n  PLIMMIN %s\n  PLIMMAX %s\n",
              Point(header.pInsBase).c_str(), Point(header.pExtMin).c_str(),
              Point(header.pExtMax).c_str(), Point(header.pLimMin).c_str(),
              Point(header.pLimMax).c_str());
  std::printf("  TILEMODE %d LTSCALE %s PSLTSCALE %d CELTSCALE %s\n", header.tileMode ? 1 : 0,
              Number(header.ltScale).c_str(), header.psLtScale ? 1 : 0,
              Number(header.celtScale).c_str());
  std::printf("  PDMODE %d PDSIZE %s TEXTSIZE %s LWDISPLAY %d CELWEIGHT %d\n", header.pdMode,
              Number(header.pdSize).c_str(), Number(header.textSize).c_str(),
              header.lwDisplay ? 1 : 0, header.celWeight);
  std::printf("  MEASUREMENT %d INSUNITS %d DWGCODEPAGE %u REQUIREDVERSIONS %s\n",
              header.measurement, header.insUnits, unsigned{header.dwgCodePage},
              Hex(header.requiredVersions).c_str());
  std::printf("  MENU \"%s\" STYLESHEET \"%s\"\n", Printable(header.menuName).c_str(),
              Printable(header.styleSheet).c_str());
  const struct {
    const char* name;
    std::uint64_t handle;
  } handles[] = {
      {"HANDSEED", header.handSeed},
      {"CLAYER", header.cLayer},
      {"TEXTSTYLE", header.textStyle},
      {"CELTYPE", header.celType},
      {"DIMSTYLE", header.dimStyle},
      {"CMLSTYLE", header.cmlStyle},
      {"BLOCK_CONTROL", header.blockControl},
      {"LAYER_CONTROL", header.layerControl},
      {"STYLE_CONTROL", header.styleControl},
      {"LTYPE_CONTROL", header.linetypeControl},
      {"VIEW_CONTROL", header.viewControl},
      {"UCS_CONTROL", header.ucsControl},
      {"VPORT_CONTROL", header.vportControl},
      {"APPID_CONTROL", header.appIdControl},
      {"DIMSTYLE_CONTROL", header.dimStyleControl},
      {"VX_CONTROL", header.viewportEntityHeaderControl},
      {"DICTIONARY_ACAD_GROUP", header.dictionaryAcadGroup},
      {"DICTIONARY_ACAD_MLINESTYLE", header.dictionaryMlineStyle},
      {"DICTIONARY_NAMED_OBJECT", header.dictionaryNamedObject},
      {"DICTIONARY_LAYOUT", header.dictionaryLayout},
      {"DICTIONARY_PLOTSETTINGS", header.dictionaryPlotSettings},
      {"DICTIONARY_PLOTSTYLENAME", header.dictionaryPlotStyleName},
      {"BLOCK_RECORD_PSPACE", header.blockRecordPaperSpace},
      {"BLOCK_RECORD_MSPACE", header.blockRecordModelSpace},
      {"LTYPE_BYLAYER", header.linetypeByLayer},
      {"LTYPE_BYBLOCK", header.linetypeByBlock},
      {"LTYPE_CONTINUOUS", header.linetypeContinuous},
  };
  for (const auto& entry : handles) {
    std::string type = "-";
    std::uint64_t offset = 0;
    if (entry.handle != 0 && container.FindObject(entry.handle, offset)) {
      CDwgObjectFrame frame;
      type = ReadObjectFrame(container, offset, frame, nullptr)
                 ? ObjectTypeName(container, frame.type)
                 : "(not framed)";
    } else if (entry.handle != 0) {
      type = "(not in the map)";
    }
    std::printf("  %s %s %s\n", entry.name, Hex(entry.handle).c_str(), type.c_str());
  }
}

void PrintSection(const CDwgContainer& container, const std::string& name) {
  const CDwgSection* section = container.FindSection(name);
  if (!section || !section->available) {
    std::printf("no section %s\n", name.c_str());
    return;
  }
  static const char digits[] = "0123456789ABCDEF";
  for (std::size_t row = 0; row < section->bytes.size(); row += 16) {
    std::string line = Hex(row);
    line.insert(0, 8 - std::min<std::size_t>(8, line.size()), '0');
    std::string text;
    for (std::size_t i = row; i < row + 16 && i < section->bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(section->bytes[i]);
      line += ' ';
      line += digits[byte >> 4];
      line += digits[byte & 15];
      text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    }
    line.resize(8 + 16 * 3, ' ');
    std::printf("%s  %s\n", line.c_str(), text.c_str());
  }
}

int Dump(const std::string& path, bool summary, const std::string& sectionName) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    std::fprintf(stderr, "%s: cannot open\n", path.c_str());
    return 1;
  }
  const std::string file((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
  CDwgContainer container;
  std::string error;
  const bool read = ReadDwgContainer(file, container, &error);
  if (!read) {
    std::printf("%s: FAILED: %s\n", path.c_str(), error.c_str());
    return 1;
  }

  if (!sectionName.empty()) {
    PrintSection(container, sectionName);
    return 0;
  }

  std::size_t framed = 0, mismatches = 0, failures = 0, typeless = 0;
  std::string firstFailure;
  if (!summary) {
    std::printf("file %s\n", path.c_str());
    std::printf("version %s (%s), maintenance %u, code page %u, security flags %u\n",
                std::string(VersionName(container.version)).c_str(),
                std::string(VersionMagic(container.version)).c_str(),
                unsigned{container.maintenanceRelease}, unsigned{container.codePage},
                unsigned{container.securityFlags});
    if (!error.empty())
      std::printf("note: %s (%zu damaged)\n", error.c_str(), container.damageCount);
    std::printf("sections %zu\n", container.sections.size());
    for (const CDwgSection& section : container.sections) {
      std::printf("  %-24s size %llu bytes %zu pages %u max page %u id %u%s%s%s\n",
                  section.name.c_str(), static_cast<unsigned long long>(section.size),
                  section.bytes.size(), section.pageCount, section.maxPageSize, section.id,
                  section.compressed ? " compressed" : "", section.encrypted ? " encrypted" : "",
                  section.available ? "" : " UNAVAILABLE");
    }
    std::printf("classes %zu\n", container.classes.size());
    for (const CDwgClass& klass : container.classes) {
      std::printf("  %u %s %s \"%s\" %s proxy flags %X instances %u version %u.%u\n",
                  unsigned{klass.number}, Printable(klass.dxfName).c_str(),
                  Printable(klass.cppClassName).c_str(), Printable(klass.applicationName).c_str(),
                  klass.isEntity ? "entity" : "object", unsigned{klass.proxyFlags},
                  klass.instanceCount, klass.dwgVersion, klass.maintenanceVersion);
    }
    PrintHeader(container);
    std::printf("objects %zu\n", container.objectMap.size());
  }
  for (const CDwgObjectLocation& entry : container.objectMap) {
    CDwgObjectFrame frame;
    std::string why;
    if (!ReadObjectFrame(container, entry.offset, frame, &why)) {
      ++failures;
      if (firstFailure.empty()) firstFailure = why;
      if (!summary) {
        std::printf("  %s at %llu: FAILED %s\n", Hex(entry.handle).c_str(),
                    static_cast<unsigned long long>(entry.offset), why.c_str());
      }
      continue;
    }
    ++framed;
    if (!frame.crcMatches) ++mismatches;
    const std::string name = ObjectTypeName(container, frame.type);
    if (name.rfind("UNKNOWN", 0) == 0) ++typeless;
    if (!summary) {
      const std::string graphics =
          frame.hasGraphics ? " graphics " + std::to_string(frame.graphicsSize) : "";
      std::printf("  %s at %llu size %u type %u %s%s%s%s%s\n", Hex(entry.handle).c_str(),
                  static_cast<unsigned long long>(entry.offset), frame.size, unsigned{frame.type},
                  name.c_str(),
                  frame.handle != entry.handle ? (" OWN HANDLE " + Hex(frame.handle)).c_str() : "",
                  frame.crcMatches ? "" : " CRC MISMATCH", frame.hasStringStream ? " strings" : "",
                  graphics.c_str());
    }
  }
  std::printf(
      "%s: %s, %zu objects, %zu framed, %zu checksum mismatches, %zu unknown types, "
      "%zu failures%s%s\n",
      path.c_str(), std::string(VersionName(container.version)).c_str(), container.objectMap.size(),
      framed, mismatches, typeless, failures,
      firstFailure.empty() ? "" : "; first: ", firstFailure.c_str());
  return 0;
}

}  // namespace

int DumpModel(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  drawing::Drawing model;
  std::string error;
  const bool read = drawing::ReadDwg(bytes, model, &error);
  const int mended = drawing::FinishModel(model);
  std::printf("file %s: %s%s%s, %d references mended\n", path.c_str(), read ? "read" : "FAILED",
              error.empty() ? "" : ": ", Printable(error).c_str(), mended);
  for (const std::string& broken : drawing::CheckModel(model)) {
    std::printf("  broken: %s\n", Printable(broken).c_str());
  }
  std::printf("layers %zu\n", model.layers.size());
  for (const drawing::Layer& layer : model.layers) {
    std::printf("  %s colour %d%s%s%s%s linetype %d lineweight %d\n", Printable(layer.name).c_str(),
                layer.color.index,
                layer.color.hasTrueColor ? (" rgb " + Hex(layer.color.rgb)).c_str() : "",
                layer.off ? " off" : "", layer.frozen ? " frozen" : "",
                layer.locked ? " locked" : "", layer.linetype, layer.lineweight);
  }
  std::printf("linetypes %zu\n", model.linetypes.size());
  for (const drawing::Linetype& linetype : model.linetypes) {
    std::printf("  %s, %zu dashes, length %s\n", Printable(linetype.name).c_str(),
                linetype.dashes.size(), Number(linetype.patternLength).c_str());
  }
  std::printf("text styles %zu\n", model.textStyles.size());
  for (const drawing::TextStyle& style : model.textStyles) {
    std::printf("  %s font \"%s\" big font \"%s\" family \"%s\"\n", Printable(style.name).c_str(),
                Printable(style.fontFile).c_str(), Printable(style.bigFontFile).c_str(),
                Printable(style.fontFamily).c_str());
  }
  std::printf("blocks %zu\n", model.blocks.size());
  for (const drawing::Block& block : model.blocks) {
    std::map<std::string, int> kinds;
    for (const drawing::Entity& entity : block.entities) ++kinds[entity.KindName()];
    std::printf("  %s%s%s:", Printable(block.name).c_str(), block.isAnonymous ? " anonymous" : "",
                block.isXref ? " xref" : "");
    for (const auto& [kind, count] : kinds) std::printf(" %s %d", kind.c_str(), count);
    std::printf("\n");
  }
  std::printf("layouts %zu (active %d)\n", model.layouts.size(), model.activeLayout);
  for (const drawing::Layout& layout : model.layouts) {
    std::printf("  %s tab %d block %d paper %s x %s units %d rotation %d plot type %d\n",
                Printable(layout.name).c_str(), layout.tabOrder, layout.block,
                Number(layout.paperWidth).c_str(), Number(layout.paperHeight).c_str(),
                layout.paperUnits, layout.rotation, layout.plotType);
  }
  std::printf("image definitions %zu\n", model.imageDefs.size());
  for (const drawing::ImageDef& definition : model.imageDefs) {
    std::printf("  %s\n", Printable(definition.fileName).c_str());
  }
  std::printf("skipped:");
  for (const auto& [kind, count] : model.skippedTypes) std::printf(" %s %d", kind.c_str(), count);
  std::printf("\n");
  return read ? 0 : 1;
}

int main(int argc, char** argv) {
  bool summary = false;
  bool model = false;
  std::string section;
  int status = 0;
  const char* const usage = "usage: dwgdump [--summary] [--section NAME] [--model] FILE...\n";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--summary") {
      summary = true;
    } else if (argument == "--model") {
      model = true;
    } else if (argument == "--section" && i + 1 < argc) {
      section = argv[++i];
    } else if (argument == "--help" || argument == "-h") {
      std::printf("%s", usage);
      return 0;
    } else {
      status |= model ? DumpModel(argv[i]) : Dump(argv[i], summary, section);
    }
  }
  if (argc < 2) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  return status;
}
