#include "drawing/dwf/DwfReader.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <vector>

#include "drawing/dwf/W2dDecoder.h"
#include "platform/Ascii.h"

namespace drawing {

namespace {

using dwf::CW2dDecoder;
using dwf::W2dPlacement;

// What a package may make the reader inflate: each member at most its declared size, all of
// them together at most this, and no member more than kMaxRatio times its compressed size
// (real members stay below 100; a zip bomb is thousands).
constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxRatio = 1000;
constexpr std::uint64_t kRatioFloor = 1 << 20;  // members smaller than this may compress freely
constexpr std::uint64_t kMaxFontBytes = 32 << 20;

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// The ZIP archive of a package, read in place.
class CPackage {
 public:
  bool Open(std::string_view bytes, std::string* why) {
    // The archive follows the 12-byte header; writers count their offsets from the file's
    // start or from the archive's, and libzip finds either when given the right start.
    for (std::size_t skip : {std::size_t{0}, std::size_t{12}}) {
      if (skip > bytes.size()) break;
      zip_error_t error;
      zip_error_init(&error);
      zip_source_t* source =
          zip_source_buffer_create(bytes.data() + skip, bytes.size() - skip, 0, &error);
      if (!source) {
        *why = zip_error_strerror(&error);
        zip_error_fini(&error);
        return false;
      }
      zip_t* opened = zip_open_from_source(source, ZIP_RDONLY, &error);
      if (opened) {
        archive.reset(opened);
        zip_error_fini(&error);
        return true;
      }
      zip_source_free(source);
      *why = zip_error_strerror(&error);
      zip_error_fini(&error);
    }
    return false;
  }

  // The member's bytes; false, with the reason, when it is missing, damaged or too large.
  bool Read(const std::string& name, std::string& bytes, std::string* why,
            std::uint64_t limit = kMaxPackageBytes) {
    zip_int64_t index = zip_name_locate(archive.get(), name.c_str(), 0);
    if (index < 0) index = zip_name_locate(archive.get(), name.c_str(), ZIP_FL_NOCASE);
    if (index < 0) {
      // Some writers store forward slashes where the manifest names backslashes.
      std::string slashed = name;
      std::replace(slashed.begin(), slashed.end(), '\\', '/');
      index = zip_name_locate(archive.get(), slashed.c_str(), ZIP_FL_NOCASE);
    }
    if (index < 0) {
      *why = "the package has no member " + name;
      return false;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_SIZE)) {
      *why = "the member " + name + " cannot be read";
      return false;
    }
    const std::uint64_t size = stat.size;
    const std::uint64_t packed = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : size;
    if (size > limit || size > kMaxPackageBytes - taken ||
        (size > kRatioFloor && size / std::max<std::uint64_t>(packed, 1) > kMaxRatio)) {
      *why = "the member " + name + " is larger than the reader accepts";
      return false;
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> file(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
    if (!file) {
      *why = "the member " + name + " cannot be opened";
      return false;
    }
    bytes.resize(size);
    std::uint64_t filled = 0;
    while (filled < size) {
      const zip_int64_t got = zip_fread(file.get(), bytes.data() + filled, size - filled);
      if (got <= 0) break;
      filled += static_cast<std::uint64_t>(got);
    }
    taken += filled;
    if (filled != size) {
      bytes.resize(filled);
      *why = "the member " + name + " is damaged";
      return false;
    }
    return true;
  }

 private:
  std::unique_ptr<zip_t, ZipCloser> archive;
  std::uint64_t taken = 0;  // bytes inflated so far
};

// The local part of an XML name ("dwf:Section" → "Section").
std::string_view LocalName(const char* name) {
  const std::string_view text(name);
  const std::size_t colon = text.rfind(':');
  return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

// An attribute by its local name.
std::string Attribute(const pugi::xml_node& node, std::string_view name) {
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    if (LocalName(attribute.name()) == name) return attribute.value();
  }
  return {};
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> numbers;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (at < end) {
    while (at < end && (*at == ' ' || *at == ',' || *at == '\t' || *at == '\n')) ++at;
    if (at >= end) break;
    double value = 0;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || !std::isfinite(value)) return {};
    numbers.push_back(value);
    at = next;
  }
  return numbers;
}

// Every element below node with the local name, in document order. A walk without recursion:
// a crafted manifest may nest elements a million deep.
void Collect(const pugi::xml_node& node, std::string_view name, std::vector<pugi::xml_node>& out) {
  pugi::xml_node at = node.first_child();
  while (at && at != node) {
    if (at.type() == pugi::node_element && LocalName(at.name()) == name) out.push_back(at);
    if (at.first_child()) {
      at = at.first_child();
      continue;
    }
    while (at && at != node && !at.next_sibling()) at = at.parent();
    if (at && at != node) at = at.next_sibling();
  }
}

struct Sheet {
  std::string name;
  double plotOrder = 0;
  std::size_t order = 0;  // in the manifest
  bool inches = true;
  double width = 0, height = 0;
  std::vector<double> clip;  // paper units, x0 y0 x1 y1
  struct Graphics {
    std::string href;
    W2dPlacement placement;
    std::vector<double> clip;
  };
  std::vector<Graphics> graphics;
};

class CDwfReader {
 public:
  CDwfReader(Drawing& drawing, std::string* error) : drawing(drawing), error(error) {}

  bool ReadPackage(std::string_view bytes);
  bool ReadStream(std::string_view bytes);

 private:
  void Remember(const std::string& note) {
    if (notes.empty()) notes = note;
  }
  std::int32_t AddSheet(const std::string& name, bool inches, double width, double height);
  // The list that a sheet's graphics go to: the block, or a group clipped to the rectangle.
  std::vector<Entity>& ClippedTarget(std::int32_t block, const std::vector<double>& clip);
  void Decoded(const CW2dDecoder& decoder);
  // Counts a kind read but not drawn.
  void Count(const std::string& kind, int count);
  bool Finish(bool read);

  Drawing& drawing;
  std::string* error;
  std::string notes;
};

std::int32_t CDwfReader::AddSheet(const std::string& name, bool inches, double width,
                                  double height) {
  const double unit = inches ? 25.4 : 1.0;
  Block block;
  block.name = drawing.blocks.size() == 1
                   ? "*Paper_Space"
                   : "*Paper_Space" + std::to_string(drawing.blocks.size() - 2);
  drawing.blocks.push_back(std::move(block));
  Layout layout;
  layout.name = name.empty() ? "Sheet" + std::to_string(drawing.layouts.size() + 1) : name;
  layout.block = static_cast<std::int32_t>(drawing.blocks.size() - 1);
  layout.tabOrder = static_cast<int>(drawing.layouts.size());
  layout.paperUnits = inches ? 0 : 1;
  layout.paperWidth = width * unit;
  layout.paperHeight = height * unit;
  layout.plotType = 5;
  layout.limitsMax = {width, height};
  drawing.layouts.push_back(std::move(layout));
  return static_cast<std::int32_t>(drawing.blocks.size() - 1);
}

std::vector<Entity>& CDwfReader::ClippedTarget(std::int32_t block,
                                               const std::vector<double>& clip) {
  std::vector<Entity>& entities = drawing.blocks[block].entities;
  if (clip.size() != 4 || !(clip[2] > clip[0]) || !(clip[3] > clip[1])) return entities;
  ClippedGroup group;
  group.boundary = {{clip[0], clip[1]}, {clip[2], clip[1]}, {clip[2], clip[3]}, {clip[0], clip[3]}};
  Entity& entity = entities.emplace_back();
  entity.layer = 0;
  entity.data = std::move(group);
  return std::get<ClippedGroup>(entity.data).entities;
}

void CDwfReader::Count(const std::string& kind, int count) {
  auto found = std::find_if(drawing.skippedTypes.begin(), drawing.skippedTypes.end(),
                            [&](const auto& entry) { return entry.first == kind; });
  if (found == drawing.skippedTypes.end()) {
    drawing.skippedTypes.emplace_back(kind, count);
  } else {
    found->second += count;
  }
}

void CDwfReader::Decoded(const CW2dDecoder& decoder) {
  for (const auto& [kind, count] : decoder.Skipped()) Count(kind, count);
}

bool CDwfReader::Finish(bool read) {
  drawing.sheetsOnly = true;
  drawing.header.tileMode = 0;
  if (error && error->empty()) *error = notes;
  return read;
}

bool CDwfReader::ReadPackage(std::string_view bytes) {
  CPackage package;
  std::string why;
  if (!package.Open(bytes, &why)) {
    if (error) *error = "the package's archive cannot be read: " + why;
    return Finish(false);
  }
  std::string manifestText;
  if (!package.Read("manifest.xml", manifestText, &why, 64 << 20)) {
    if (error) *error = why;
    return Finish(false);
  }
  pugi::xml_document manifest;
  if (!manifest.load_buffer(manifestText.data(), manifestText.size())) {
    if (error) *error = "the package's manifest is no XML";
    return Finish(false);
  }
  std::vector<pugi::xml_node> sections;
  Collect(manifest, "Section", sections);
  std::vector<Sheet> sheets;
  for (const pugi::xml_node& section : sections) {
    if (Attribute(section, "type") != "com.autodesk.dwf.ePlot") continue;
    std::vector<pugi::xml_node> resources;
    Collect(section, "Resource", resources);
    std::string descriptorName;
    for (const pugi::xml_node& resource : resources) {
      if (Attribute(resource, "role") == "descriptor") descriptorName = Attribute(resource, "href");
    }
    if (descriptorName.empty()) descriptorName = Attribute(section, "name") + "\\descriptor.xml";
    std::string descriptorText;
    pugi::xml_document descriptor;
    if (!package.Read(descriptorName, descriptorText, &why, 64 << 20) ||
        !descriptor.load_buffer(descriptorText.data(), descriptorText.size())) {
      Remember(why.empty() ? "a sheet's descriptor is no XML" : why);
      continue;
    }
    Sheet sheet;
    sheet.order = sheets.size();
    std::vector<pugi::xml_node> found;
    Collect(descriptor, "Page", found);
    if (!found.empty()) {
      sheet.name = Attribute(found[0], "name");
      const std::vector<double> order = Numbers(Attribute(found[0], "plotOrder"));
      if (!order.empty()) sheet.plotOrder = order[0];
    }
    if (sheet.name.empty()) sheet.name = Attribute(section, "title");
    found.clear();
    Collect(descriptor, "Paper", found);
    if (!found.empty()) {
      sheet.inches = Attribute(found[0], "units") != "mm";
      const std::vector<double> width = Numbers(Attribute(found[0], "width"));
      const std::vector<double> height = Numbers(Attribute(found[0], "height"));
      if (!width.empty() && !height.empty()) {
        sheet.width = width[0];
        sheet.height = height[0];
      }
      sheet.clip = Numbers(Attribute(found[0], "clip"));
    }
    if (!(sheet.width > 0 && sheet.height > 0 && sheet.width < 1e5 && sheet.height < 1e5)) {
      Remember("the sheet " + sheet.name + " has no paper size; it is left out");
      continue;
    }
    found.clear();
    Collect(descriptor, "GraphicResource", found);
    for (const pugi::xml_node& resource : found) {
      if (Attribute(resource, "role") != "2d streaming graphics") continue;
      Sheet::Graphics graphics;
      graphics.href = Attribute(resource, "href");
      const std::vector<double> m = Numbers(Attribute(resource, "transform"));
      if (m.size() == 16) {
        graphics.placement = {m[0], m[1], m[4], m[5], m[12], m[13], 25.4};
      }
      graphics.placement.millimetresPerUnit = sheet.inches ? 25.4 : 1.0;
      graphics.clip = Numbers(Attribute(resource, "clip"));
      sheet.graphics.push_back(std::move(graphics));
    }
    found.clear();
    Collect(descriptor, "FontResource", found);
    for (const pugi::xml_node& resource : found) {
      std::string name = Attribute(resource, "canonicalName");
      if (name.empty()) name = Attribute(resource, "logfontName");
      std::string data;
      if (name.empty() || !package.Read(Attribute(resource, "href"), data, &why, kMaxFontBytes)) {
        continue;
      }
      const bool known =
          std::any_of(drawing.textStyles.begin(), drawing.textStyles.end(),
                      [&](const TextStyle& style) { return style.fontFile == name; });
      if (known) continue;
      TextStyle style;
      style.name = name;
      style.fontFile = name;
      style.fontFamily = Attribute(resource, "logfontName");
      style.embeddedFont = std::move(data);
      drawing.textStyles.push_back(std::move(style));
    }
    found.clear();
    Collect(descriptor, "ImageResource", found);
    for (const pugi::xml_node& resource : found) {
      if (Attribute(resource, "role") != "thumbnail" && Attribute(resource, "role") != "preview") {
        Count("IMAGE_RESOURCE", 1);
      }
    }
    sheets.push_back(std::move(sheet));
  }
  if (sheets.empty()) {
    if (error) *error = notes.empty() ? "no printable 2D sheet" : "no printable 2D sheet: " + notes;
    return Finish(false);
  }
  std::stable_sort(sheets.begin(), sheets.end(),
                   [](const Sheet& a, const Sheet& b) { return a.plotOrder < b.plotOrder; });
  for (const Sheet& sheet : sheets) {
    const std::int32_t block = AddSheet(sheet.name, sheet.inches, sheet.width, sheet.height);
    for (const Sheet::Graphics& graphics : sheet.graphics) {
      std::string stream;
      if (!package.Read(graphics.href, stream, &why)) {
        Remember(why);
        continue;
      }
      std::vector<Entity>& target =
          ClippedTarget(block, graphics.clip.size() == 4 ? graphics.clip : sheet.clip);
      CW2dDecoder decoder(drawing, target);
      decoder.SetPlacement(graphics.placement);
      std::string note;
      if (!decoder.Decode(stream, &note)) Remember("sheet " + sheet.name + ": " + note);
      Decoded(decoder);
    }
  }
  return Finish(true);
}

bool CDwfReader::ReadStream(std::string_view bytes) {
  // A first pass finds the paper the stream describes and how far its graphics reach.
  std::vector<Entity> none;
  CW2dDecoder measure(drawing, none);
  measure.SetMeasureOnly(true);
  std::string note;
  measure.Decode(bytes, &note);
  const dwf::W2dPlotInfo& info = measure.PlotInfo();
  W2dPlacement placement;
  bool inches = true;
  double width = 0, height = 0;
  std::vector<double> clip;
  double left = 0, bottom = 0, right = 0, top = 0;
  const bool drawn = measure.Extents(&left, &bottom, &right, &top);
  if (info.valid) {
    // The plot information's matrix scales logical units to paper units; the drawing's view
    // (or, without one, its logical origin) sits at the printable area's lower-left corner.
    inches = info.inches;
    width = info.width;
    height = info.height;
    placement.a = info.scale[0];
    placement.b = info.scale[1];
    placement.c = info.scale[2];
    placement.d = info.scale[3];
    const double x0 = info.hasView ? info.viewLeft : 0, y0 = info.hasView ? info.viewBottom : 0;
    placement.tx = info.left - (placement.a * x0 + placement.c * y0);
    placement.ty = info.bottom - (placement.b * x0 + placement.d * y0);
    clip = {info.left, info.bottom, info.right, info.top};
  } else if (drawn && right > left && top > bottom) {
    // No plot information: the graphics fill a landscape or portrait letter sheet.
    const bool landscape = right - left >= top - bottom;
    width = landscape ? 11.0 : 8.5;
    height = landscape ? 8.5 : 11.0;
    const double scale = std::min(width / (right - left), height / (top - bottom));
    placement.a = placement.d = scale;
    placement.tx = (width - (right - left) * scale) / 2 - left * scale;
    placement.ty = (height - (top - bottom) * scale) / 2 - bottom * scale;
  } else {
    if (error) *error = note.empty() ? "the graphics draw nothing" : note;
    return Finish(false);
  }
  placement.millimetresPerUnit = inches ? 25.4 : 1.0;
  const std::int32_t block = AddSheet("Sheet", inches, width, height);
  CW2dDecoder decoder(drawing, ClippedTarget(block, clip));
  decoder.SetPlacement(placement);
  note.clear();
  if (!decoder.Decode(bytes, &note)) Remember(note);
  Decoded(decoder);
  return Finish(true);
}

}  // namespace

bool ReadDwf(std::string_view bytes, Drawing& drawing, std::string* error) {
  drawing = Drawing{};
  if (error) error->clear();
  try {
    // Model space: present, empty.
    drawing.blocks.resize(1);
    drawing.blocks[0].name = "*Model_Space";
    Layout model;
    model.name = "Model";
    model.isModel = true;
    model.block = 0;
    drawing.layouts.push_back(std::move(model));
    CDwfReader reader(drawing, error);
    const bool package =
        bytes.size() > 14 && bytes.substr(0, 6) == "(DWF V" && bytes.substr(12, 2) == "PK";
    return package ? reader.ReadPackage(bytes) : reader.ReadStream(bytes);
  } catch (const std::bad_alloc&) {
    drawing = Drawing{};
    if (error) *error = "not enough memory to read the drawing";
  } catch (const std::exception& exception) {
    drawing = Drawing{};
    if (error) *error = std::string("the drawing cannot be read: ") + exception.what();
  }
  return false;
}

}  // namespace drawing
