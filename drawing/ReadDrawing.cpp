#include "drawing/ReadDrawing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "drawing/dwf/DwfReader.h"
#include "drawing/dwg/DwgReader.h"
#include "drawing/dxf/DxfReader.h"

namespace drawing {

namespace {

constexpr std::string_view kBinaryDxfSentinel("AutoCAD Binary DXF\r\n\x1a\0", 22);

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(file);
    if (error) *error = "cannot read " + path + ": not a file";
    return false;
  }
  // Read into memory rather than mapped: a mapped file that another program shortens while it
  // is read would end the process with SIGBUS.
  bool readable = true;
  try {
    // Room for the whole file and a little more, so that reaching its end needs no growth:
    // growing a string of hundreds of megabytes doubles it and copies it.
    bytes.resize(static_cast<std::size_t>(status.st_size) + (1 << 16));
    std::size_t filled = 0;
    for (;;) {
      if (filled == bytes.size()) bytes.resize(bytes.size() + bytes.size() / 2);
      const ssize_t got = ::read(file, bytes.data() + filled, bytes.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) readable = false;
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
  } catch (const std::bad_alloc&) {
    readable = false;
  }
  ::close(file);
  if (!readable) {
    if (error) *error = "cannot read " + path + ": " + std::strerror(errno ? errno : ENOMEM);
    return false;
  }
  return true;
}

}  // namespace

DrawingFormat DetectDrawingFormat(std::string_view bytes) {
  if (bytes.substr(0, kBinaryDxfSentinel.size()) == kBinaryDxfSentinel) {
    return DrawingFormat::BinaryDxf;
  }
  if (bytes.substr(0, 6) == "(DWF V" || bytes.substr(0, 6) == "(W2D V") return DrawingFormat::Dwf;
  if (bytes.size() >= 6 && bytes.substr(0, 2) == "AC") {
    // "AC1015" and the like; the first releases wrote "AC1.40", "AC2.10".
    const std::string_view version = bytes.substr(2, 4);
    if (version.substr(0, 2) == "10" && IsDigit(version[2]) && IsDigit(version[3])) {
      return DrawingFormat::Dwg;
    }
    if ((version[0] == '1' || version[0] == '2') && version[1] == '.' && IsDigit(version[2])) {
      return DrawingFormat::Dwg;
    }
  }
  return DrawingFormat::TextDxf;
}

bool ReadDrawing(std::string_view bytes, Drawing& drawing, std::string* error) {
  if (error) error->clear();
  bool read = false;
  switch (DetectDrawingFormat(bytes)) {
    case DrawingFormat::TextDxf:
    case DrawingFormat::BinaryDxf:
      read = ReadDxf(bytes, drawing, error);
      break;
    case DrawingFormat::Dwg:
      read = ReadDwg(bytes, drawing, error);
      break;
    case DrawingFormat::Dwf:
      read = ReadDwf(bytes, drawing, error);
      break;
  }
  try {
    FinishModel(drawing);
  } catch (const std::bad_alloc&) {
    drawing = Drawing{};
    if (error) *error = "not enough memory to read the drawing";
    return false;
  }
  return read;
}

bool ReadDrawingFile(const std::string& path, Drawing& drawing, std::string* error) {
  if (error) error->clear();
  std::string bytes;
  if (!ReadWholeFile(path, bytes, error)) {
    drawing = Drawing{};
    return false;
  }
  return ReadDrawing(bytes, drawing, error);
}

}  // namespace drawing
