#include "convert/OutputNames.h"

#include "platform/Ascii.h"

namespace {

// Where the file name begins: after the last "/".
std::size_t NameStart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Where the extension (with its dot) begins, or path.size() when there is none. A dot that
// starts the file name begins an extension too, as the drawing's file name splits on it.
std::size_t ExtensionStart(std::string_view path) {
  const std::size_t name = NameStart(path);
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos || dot < name ? path.size() : dot;
}

}  // namespace

std::string WithTrailingSeparator(std::string_view folder) {
  std::string result(folder);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

bool HasPdfExtension(std::string_view name) {
  const std::size_t ext = ExtensionStart(name);
  return EqualsIgnoringCase(name.substr(ext), ".pdf");
}

std::string DrawingPdfName(std::string_view drawingPath, std::string_view targetFolder) {
  std::string pdf(drawingPath.substr(0, ExtensionStart(drawingPath)));
  pdf += ".pdf";
  if (targetFolder.empty()) return pdf;
  return std::string(targetFolder) + pdf.substr(NameStart(pdf));
}

std::string LayoutPdfName(std::string_view drawingPdf, std::string_view layoutName) {
  const std::size_t ext = ExtensionStart(drawingPdf);
  std::string name(drawingPdf.substr(0, ext));
  name += '-';
  name += SafeFileNamePart(layoutName);
  name += drawingPdf.substr(ext);
  return name;
}

std::string SafeFileNamePart(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) c = '_';
  }
  return safe;
}

std::string MergedPdfName(std::string_view target) {
  if (HasPdfExtension(target)) return std::string(target);
  std::string name(target.substr(0, ExtensionStart(target)));
  return name + ".pdf";
}
