#include "drawing/dwg/DwgObject.h"

#include <exception>
#include <string_view>

namespace drawing::dwg {

namespace {

// Names of the fixed types 0 to 0x52; empty where the number is not used.
constexpr std::string_view kFixedTypeNames[] = {
    "UNUSED",
    "TEXT",
    "ATTRIB",
    "ATTDEF",
    "BLOCK",
    "ENDBLK",
    "SEQEND",
    "INSERT",
    "MINSERT",
    "",
    "VERTEX_2D",
    "VERTEX_3D",
    "VERTEX_MESH",
    "VERTEX_PFACE",
    "VERTEX_PFACE_FACE",
    "POLYLINE_2D",
    "POLYLINE_3D",
    "ARC",
    "CIRCLE",
    "LINE",
    "DIMENSION_ORDINATE",
    "DIMENSION_LINEAR",
    "DIMENSION_ALIGNED",
    "DIMENSION_ANG3PT",
    "DIMENSION_ANG2LN",
    "DIMENSION_RADIUS",
    "DIMENSION_DIAMETER",
    "POINT",
    "3DFACE",
    "POLYLINE_PFACE",
    "POLYLINE_MESH",
    "SOLID",
    "TRACE",
    "SHAPE",
    "VIEWPORT",
    "ELLIPSE",
    "SPLINE",
    "REGION",
    "3DSOLID",
    "BODY",
    "RAY",
    "XLINE",
    "DICTIONARY",
    "OLEFRAME",
    "MTEXT",
    "LEADER",
    "TOLERANCE",
    "MLINE",
    "BLOCK_CONTROL",
    "BLOCK_HEADER",
    "LAYER_CONTROL",
    "LAYER",
    "STYLE_CONTROL",
    "STYLE",
    "",
    "",
    "LTYPE_CONTROL",
    "LTYPE",
    "",
    "",
    "VIEW_CONTROL",
    "VIEW",
    "UCS_CONTROL",
    "UCS",
    "VPORT_CONTROL",
    "VPORT",
    "APPID_CONTROL",
    "APPID",
    "DIMSTYLE_CONTROL",
    "DIMSTYLE",
    "VP_ENT_HDR_CONTROL",
    "VP_ENT_HDR",
    "GROUP",
    "MLINESTYLE",
    "OLE2FRAME",
    "DUMMY",
    "LONG_TRANSACTION",
    "LWPOLYLINE",
    "HATCH",
    "XRECORD",
    "ACDBPLACEHOLDER",
    "VBA_PROJECT",
    "LAYOUT",
};
constexpr std::uint16_t kFixedTypeCount = sizeof kFixedTypeNames / sizeof kFixedTypeNames[0];

bool IsFixedEntity(std::uint16_t type) {
  return (type >= 0x01 && type <= 0x08) || (type >= 0x0A && type <= 0x29) ||
         (type >= 0x2B && type <= 0x2F) || type == 0x4A || type == 0x4D || type == 0x4E ||
         type == objecttype::kProxyEntity;
}

// R2007+: which fixed types keep a string stream (and its presence bit) at the end of their
// data. Types without text end their data without that bit.
bool MayHaveStrings(std::uint16_t type) {
  switch (type) {
    case 0x05:  // ENDBLK
    case 0x06:  // SEQEND
    case 0x07:  // INSERT
    case 0x08:  // MINSERT
    case 0x0A:  // vertices and polylines
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x10:
    case 0x11:  // ARC, CIRCLE, LINE
    case 0x12:
    case 0x13:
    case 0x1B:  // POINT to SHAPE
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x20:
    case 0x21:
    case 0x23:  // ELLIPSE, SPLINE
    case 0x24:
    case 0x28:  // RAY, XLINE
    case 0x29:
    case 0x2F:  // MLINE
    case 0x30:  // the table controls
    case 0x32:
    case 0x34:
    case 0x38:
    case 0x3C:
    case 0x3E:
    case 0x40:
    case 0x42:
    case 0x44:
    case 0x46:
    case 0x4B:  // DUMMY, LONG_TRANSACTION, LWPOLYLINE
    case 0x4C:
    case 0x4D:
    case 0x50:  // ACDBPLACEHOLDER
      return false;
    default:
      return true;
  }
}

bool Frame(const CDwgContainer& container, std::uint64_t offset, CDwgObjectFrame& frame,
           std::string& why, bool keepExtendedData, bool checkCrc) {
  const std::string_view bytes = container.objectData;
  const Version version = container.version;
  if (offset >= bytes.size()) {
    why = "the offset is outside the object data";
    return false;
  }
  frame.offset = offset;
  CBitReader sizes(bytes, version, offset * 8, bytes.size() * 8);
  frame.size = sizes.ReadMS();
  if (version >= Version::R2010) frame.handleStreamBits = sizes.ReadUMC();
  if (sizes.Failed()) {
    why = "its size fields pass the end of the object data";
    return false;
  }
  frame.dataOffset = sizes.Position() / 8;
  if (frame.size > bytes.size() - frame.dataOffset ||
      bytes.size() - frame.dataOffset - frame.size < 2) {
    why = "its " + std::to_string(frame.size) + " bytes pass the end of the object data";
    return false;
  }
  const std::uint64_t objectEnd = frame.dataOffset + frame.size;
  if (objectEnd + 2 > container.ObjectLimit(offset)) {
    why = "its " + std::to_string(frame.size) + " bytes overlap the next object";
    return false;
  }
  const unsigned storedCrc = static_cast<unsigned char>(bytes[objectEnd]) |
                             static_cast<unsigned char>(bytes[objectEnd + 1]) << 8;
  if (checkCrc) {
    frame.crcMatches = Crc16(0xC0C1, bytes.substr(offset, objectEnd - offset)) == storedCrc;
  }

  const std::size_t base = frame.dataOffset * 8;
  const std::size_t endBits = objectEnd * 8;
  const std::uint64_t sizeBits = std::uint64_t{frame.size} * 8;
  CBitReader reader(bytes, version, base, endBits);
  frame.type = reader.ReadOT();
  frame.isEntity = IsEntityType(container, frame.type);
  if (version >= Version::R2010) {
    if (frame.handleStreamBits > sizeBits) {
      why = "its handle stream is larger than the object";
      return false;
    }
    frame.dataEndBit = sizeBits - frame.handleStreamBits;
  } else if (version >= Version::R2000) {
    frame.dataEndBit = reader.ReadRL();
  }
  frame.handle = reader.ReadH().value;
  if (reader.Failed()) {
    why = "it ends before its handle";
    return false;
  }
  if (frame.handle == 0) {
    why = "its handle is 0";
    return false;
  }

  // Extended data: blocks of (size, application handle, bytes) until a size of 0.
  for (;;) {
    const std::size_t length = reader.ReadBS();
    if (reader.Failed()) break;
    if (length == 0) break;
    const std::uint64_t application = reader.ReadH().value;
    if (keepExtendedData) {
      frame.extendedData.push_back(CDwgExtendedData{application, reader.ReadBytes(length)});
    } else {
      reader.SkipBytes(length);
    }
    ++frame.extendedDataCount;
  }
  if (reader.Failed()) {
    why = "its extended data passes the end of the object";
    return false;
  }

  if (frame.isEntity) {
    frame.hasGraphics = reader.ReadB();
    if (frame.hasGraphics) {
      frame.graphicsSize = version >= Version::R2010 ? reader.ReadBLL() : reader.ReadRL();
      if (frame.graphicsSize > reader.BitsLeft() / 8) {
        why = "its graphics pass the end of the object";
        return false;
      }
      frame.graphicsBit = reader.Position();
      reader.SkipBytes(static_cast<std::size_t>(frame.graphicsSize));
    }
  }
  if (version <= Version::R14) frame.dataEndBit = reader.ReadRL();
  if (reader.Failed()) {
    why = "it ends inside its common data";
    return false;
  }
  if (frame.dataEndBit > sizeBits || base + frame.dataEndBit < reader.Position()) {
    why = "its data size of " + std::to_string(frame.dataEndBit) + " bits does not fit";
    return false;
  }

  const std::size_t dataEnd = base + static_cast<std::size_t>(frame.dataEndBit);
  frame.handles = CBitReader(bytes, version, dataEnd, endBits);
  std::size_t dataStop = dataEnd;
  if (version >= Version::R2007 && MayHaveStrings(frame.type)) {
    std::size_t start = 0, end = 0;
    if (!FindStringStream(bytes, dataEnd, reader.Position(), start, end)) {
      why = "its string stream does not fit its data";
      return false;
    }
    frame.hasStringStream = end > start;
    frame.strings = CBitReader(bytes, version, start, end);
    dataStop = start;
  }
  frame.data = CBitReader(bytes, version, reader.Position(), dataStop);
  return true;
}

}  // namespace

bool IsEntityType(const CDwgContainer& container, std::uint16_t type) {
  if (type < objecttype::kFirstClassType) return IsFixedEntity(type);
  const CDwgClass* klass = container.FindClass(type);
  return klass && klass->isEntity;
}

std::string ObjectTypeName(const CDwgContainer& container, std::uint16_t type) {
  if (type < kFixedTypeCount && !kFixedTypeNames[type].empty()) {
    return std::string(kFixedTypeNames[type]);
  }
  if (type == objecttype::kProxyEntity) return "ACAD_PROXY_ENTITY";
  if (type == objecttype::kProxyObject) return "ACAD_PROXY_OBJECT";
  if (type >= objecttype::kFirstClassType) {
    if (const CDwgClass* klass = container.FindClass(type); klass && !klass->dxfName.empty()) {
      return klass->dxfName;
    }
  }
  return "UNKNOWN(" + std::to_string(type) + ")";
}

std::string ReadObjectGraphics(const CDwgContainer& container, const CDwgObjectFrame& frame) {
  if (!frame.hasGraphics || frame.graphicsSize == 0) return {};
  CBitReader reader(container.objectData, container.version,
                    static_cast<std::size_t>(frame.graphicsBit),
                    static_cast<std::size_t>(frame.dataOffset + frame.size) * 8);
  std::string bytes = reader.ReadBytes(static_cast<std::size_t>(frame.graphicsSize));
  if (reader.Failed()) return {};
  return bytes;
}

bool ReadObjectFrame(const CDwgContainer& container, std::uint64_t offset, CDwgObjectFrame& frame,
                     std::string* error, bool keepExtendedData, bool checkCrc) {
  std::string why;
  bool framed = false;
  try {
    frame = CDwgObjectFrame();
    framed = Frame(container, offset, frame, why, keepExtendedData, checkCrc);
  } catch (const std::exception&) {
    why = "out of memory";
    framed = false;
  }
  if (!framed && error) *error = "object at byte offset " + std::to_string(offset) + ": " + why;
  if (framed && error) error->clear();
  return framed;
}

}  // namespace drawing::dwg
