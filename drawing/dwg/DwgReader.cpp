#include "drawing/dwg/DwgReader.h"

#include <algorithm>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "drawing/ProxyGraphics.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/dwg/detail/DwgEntities.h"
#include "drawing/dwg/detail/DwgModelReader.h"
#include "drawing/dwg/detail/DwgPreR13.h"
#include "drawing/dwg/detail/DwgReaderContext.h"
#include "drawing/dwg/detail/DwgTables.h"
#include "drawing/text/TextDecoder.h"

namespace drawing {

namespace {

using dwg::CDwgContainer;
using dwg::CDwgHeader;
using dwg::CDwgObjectFrame;
using dwg::CPoint2;
using dwg::CPoint3;
using dwg::Version;
using dwg::detail::CDwgBlockRecord;
using dwg::detail::CDwgEntityCommon;
using dwg::detail::CDwgEntityInfo;
using dwg::detail::CDwgEntityResult;
using dwg::detail::CDwgReaderContext;
using dwg::detail::CDwgVertex;

Vec3 ToVec3(const CPoint3& p) {
  return {p.x, p.y, p.z};
}

Vec2 ToVec2(const CPoint2& p) {
  return {p.x, p.y};
}

// A note of the layers below, as a log line shows it: a note that names the stage it comes
// from ("file header: …") also names the format.
std::string WithFormat(const std::string& note) {
  if (note.rfind("DWG", 0) == 0 || note.find(": ") == std::string::npos) return note;
  return "DWG " + note;
}

// What block references own: attributes and the SEQEND; what old-style polylines own: vertices
// and the SEQEND.
bool OwnedByInsert(std::uint16_t type) {
  return type == 0x02 || type == 0x06;
}
bool OwnedByPolyline(std::uint16_t type) {
  return (type >= 0x0A && type <= 0x0E) || type == 0x06;
}

// An entity of a block waiting for the handle of the entity that clips it.
struct ClipReference {
  std::size_t index = 0;
  std::uint64_t boundary = 0;
};

// An MTEXT of a block whose further columns are MTEXT entities of their own (before R2018).
struct ColumnSet {
  std::size_t index = 0;
  double width = 0.0;
  std::vector<std::uint64_t> linked;
};

class CDwgReader {
 public:
  explicit CDwgReader(Drawing& drawing) : drawing(drawing) {}

  bool Read(const CDwgContainer& container, const CDwgHeader& header, std::string* note);

 private:
  void FillHeader(const CDwgContainer& container, const CDwgHeader& header);
  void ReadBlock(CDwgReaderContext& context, const CDwgBlockRecord& record);
  // Reads the entity of a handle into block `block`; `next` gets the handle its links name
  // next (R13–R2000). False when the object cannot be read as an entity.
  bool ReadEntityAt(CDwgReaderContext& context, std::uint64_t handle, std::int32_t block,
                    std::uint64_t* next);
  // The owned entities of an INSERT or POLYLINE, in order, with their frames and common data.
  template <class Visit>
  void ForEachChild(CDwgReaderContext& context, const CDwgEntityInfo& info,
                    bool (*owns)(std::uint16_t type), Visit visit);
  void NumberViewports(Block& block);
  void ResolveColumnSets(Block& block);
  // An entity of a kind the model does not have that keeps proxy graphics: appends what they
  // draw to block `block`; false when they draw nothing.
  bool ReadGraphics(CDwgReaderContext& context, const CDwgObjectFrame& frame,
                    const CDwgEntityCommon& common, const std::string& name, std::int32_t block);

  Drawing& drawing;
  CProxyGraphicsTables proxyTables;
  // The 8-bit text of proxy graphics is in the file's code page in every release.
  CTextDecoder graphicsText;
  std::vector<ClipReference> clips;
  std::unordered_map<std::uint64_t, std::size_t> clipCandidates;
  std::vector<ColumnSet> columnSets;
  // The handle of each entity of the block being read, for its draw order.
  std::vector<std::uint64_t> handles;
  // Every entity belongs to one block or owner: one listed again (by a damaged file) is not
  // read again, which bounds the work to the size of the file.
  std::unordered_set<std::uint64_t> entitiesRead;
};

void CDwgReader::FillHeader(const CDwgContainer& container, const CDwgHeader& header) {
  Header& out = drawing.header;
  out.acadVersion = std::string(dwg::VersionMagic(container.version));
  out.codePage = dwg::detail::CodePageName(container.codePage);
  out.insUnits = header.insUnits;
  out.extMin = ToVec3(header.extMin);
  out.extMax = ToVec3(header.extMax);
  out.limMin = ToVec2(header.limMin);
  out.limMax = ToVec2(header.limMax);
  out.ltScale = header.ltScale;
  out.celtScale = header.celtScale;
  out.psLtScale = header.psLtScale ? 1 : 0;
  out.xclipFrame = header.xclipFrame;
  // R2000 and later keep $PSTYLEMODE in the header's flags: set for colour-dependent styles.
  if (container.version >= dwg::Version::R2000) out.pstyleMode = (header.flags & 0x2000) ? 1 : 0;
  out.pdMode = header.pdMode;
  out.pdSize = header.pdSize;
  out.tileMode = header.tileMode ? 1 : 0;
  out.pExtMin = ToVec3(header.pExtMin);
  out.pExtMax = ToVec3(header.pExtMax);
  out.pLimMin = ToVec2(header.pLimMin);
  out.pLimMax = ToVec2(header.pLimMax);
}

bool CDwgReader::Read(const CDwgContainer& container, const CDwgHeader& header, std::string* note) {
  drawing = Drawing{};
  CDwgReaderContext context(container, header, drawing);
  const std::string codePage = dwg::detail::CodePageName(container.codePage);
  context.decoder.SetCodePage(codePage, container.version >= Version::R2007);
  FillHeader(container, header);

  std::vector<CDwgBlockRecord> records;
  dwg::detail::ReadTables(context, records);
  graphicsText.SetCodePage(codePage, false);
  proxyTables.layers = context.layerOrder;
  proxyTables.linetypes = context.linetypeOrder;
  proxyTables.textStyles = &drawing.textStyles;
  proxyTables.standardStyle = context.standardStyle;
  proxyTables.decodeText = [this](std::string_view raw) { return graphicsText.Decode(raw); };
  proxyTables.fullVertices = container.version <= Version::R14;
  proxyTables.vertexIds = container.version >= Version::R2010;
  dwg::detail::ReadLayoutsAndImages(context);
  for (const CDwgBlockRecord& record : records) ReadBlock(context, record);
  drawing.skippedTypes.assign(context.skipped.begin(), context.skipped.end());

  if (note) *note = context.firstDamage;
  if (!context.firstDamage.empty() && context.entityCount == 0) {
    if (note) *note = context.firstDamage + " (nothing could be read)";
    return false;
  }
  return true;
}

void CDwgReader::ReadBlock(CDwgReaderContext& context, const CDwgBlockRecord& record) {
  if (record.block < 0 || record.handle == 0) return;
  clips.clear();
  clipCandidates.clear();
  columnSets.clear();
  handles.clear();
  if (context.version >= Version::R2004) {
    for (const std::uint64_t handle : record.entities) {
      ReadEntityAt(context, handle, record.block, nullptr);
    }
  } else if (record.firstEntity != 0) {
    // Each entity names the next; a chain that loops or runs longer than the file has objects
    // is damaged.
    std::unordered_set<std::uint64_t> visited;
    std::uint64_t handle = record.firstEntity;
    for (;;) {
      if (!visited.insert(handle).second || visited.size() > context.container.objectMap.size()) {
        context.Damage("the entities of block \"" +
                       drawing.blocks[static_cast<std::size_t>(record.block)].name +
                       "\" run in a loop");
        break;
      }
      std::uint64_t next = 0;
      if (!ReadEntityAt(context, handle, record.block, &next)) break;
      if (handle == record.lastEntity) break;
      handle = next;
    }
  }
  Block& block = drawing.blocks[static_cast<std::size_t>(record.block)];
  for (const ClipReference& clip : clips) {
    const auto found = clipCandidates.find(clip.boundary);
    if (found == clipCandidates.end()) continue;
    std::get<Viewport>(block.entities[clip.index].data).clipEntityIndex =
        static_cast<std::int32_t>(found->second);
  }
  ResolveColumnSets(block);
  // Viewports are numbered in the order they are stored, before the draw order moves them.
  NumberViewports(block);
  const std::vector<DrawOrderEntry> order = dwg::detail::ReadDrawOrder(context, record);
  if (!order.empty()) {
    handles.resize(block.entities.size(), 0);
    ApplyDrawOrder(block, handles, order);
  }
}

// The text of such a column set is spread over its columns already, each column an MTEXT at its
// own place: the first holds the first column's share, the linked ones the others. Laying the
// first out in columns again would move its share into the other columns, over the text they
// hold; so each entity is one column, wrapped at the column width (the linked ones store the
// width of the whole set).
void CDwgReader::ResolveColumnSets(Block& block) {
  if (columnSets.empty()) return;
  std::unordered_map<std::uint64_t, std::size_t> where;
  for (std::size_t k = 0; k < handles.size() && k < block.entities.size(); ++k) {
    if (handles[k] != 0) where.emplace(handles[k], k);
  }
  for (const ColumnSet& set : columnSets) {
    const auto single = [&set](MText& column) {
      column.columnType = 0;
      column.columnCount = 0;
      column.columnHeights.clear();
      column.referenceWidth = set.width;
    };
    if (set.index >= block.entities.size()) continue;
    auto* main = std::get_if<MText>(&block.entities[set.index].data);
    if (!main || main->columnType == 0) continue;
    single(*main);
    for (const std::uint64_t handle : set.linked) {
      const auto found = where.find(handle);
      if (found == where.end()) continue;
      if (auto* column = std::get_if<MText>(&block.entities[found->second].data)) single(*column);
    }
  }
}

// The first viewport of a paper layout is the sheet itself.
void CDwgReader::NumberViewports(Block& block) {
  int id = 0;
  for (Entity& entity : block.entities) {
    if (auto* viewport = std::get_if<Viewport>(&entity.data)) viewport->id = ++id;
  }
}

template <class Visit>
void CDwgReader::ForEachChild(CDwgReaderContext& context, const CDwgEntityInfo& info,
                              bool (*owns)(std::uint16_t type), Visit visit) {
  // A child is read when it is of a kind its owner has, and only once: a chain or list that
  // runs into other entities ends there and leaves them to their own block.
  CDwgObjectFrame frame;
  auto open = [&](std::uint64_t handle, CDwgEntityCommon& common) {
    if (!context.Open(handle, frame)) return false;
    if (!frame.isEntity || !owns(frame.type) || entitiesRead.count(handle)) {
      context.Damage("owned entity " + std::to_string(handle) + " is not its owner's");
      return false;
    }
    entitiesRead.insert(handle);
    if (!dwg::detail::ReadEntityCommon(frame, common)) {
      context.Damage("owned entity " + std::to_string(handle) + " cannot be read");
      return false;
    }
    context.ReadBookColor(common.colorHandle);
    return true;
  };
  if (context.version >= Version::R2004) {
    for (const std::uint64_t handle : info.children) {
      CDwgEntityCommon common;
      if (open(handle, common)) visit(frame, common);
    }
    return;
  }
  for (std::uint64_t handle = info.firstChild; handle != 0;) {
    CDwgEntityCommon common;
    if (!open(handle, common)) return;
    visit(frame, common);
    if (handle == info.lastChild) return;
    handle = common.next;
  }
}

bool CDwgReader::ReadEntityAt(CDwgReaderContext& context, std::uint64_t handle, std::int32_t block,
                              std::uint64_t* next) {
  if (!entitiesRead.insert(handle).second) {
    context.Damage("entity " + std::to_string(handle) + " is listed twice");
    return false;
  }
  CDwgObjectFrame frame;
  if (!context.Open(handle, frame)) return false;
  CDwgEntityCommon common;
  if (!frame.isEntity) {
    context.Damage("block entry " + std::to_string(handle) + " is a " +
                   context.TypeName(frame.type));
    return false;
  }
  if (!dwg::detail::ReadEntityCommon(frame, common)) {
    context.Damage(context.TypeName(frame.type) + " " + std::to_string(handle) +
                   " ends in its common part");
    return false;
  }
  if (next) *next = common.next;
  // An attribute belongs to a block reference; one that a block lists as its own is left out,
  // as the DXF reader leaves out an ATTRIB outside an INSERT.
  if (frame.type == 0x02) return true;
  context.ReadBookColor(common.colorHandle);

  Entity entity;
  CDwgEntityInfo info;
  std::string name;
  const bool inDefinition = block > 1;
  switch (dwg::detail::ReadDwgEntity(context, frame, common, inDefinition, entity, info, name)) {
    case CDwgEntityResult::Stored:
      break;
    case CDwgEntityResult::NotDrawn:
      return true;
    case CDwgEntityResult::Skipped:
      if (!ReadGraphics(context, frame, common, name, block)) ++context.skipped[name];
      return true;
    case CDwgEntityResult::Damaged:
      // A multileader of a layout the decoder does not know is drawn from its graphics.
      if (name == "MULTILEADER" && ReadGraphics(context, frame, common, name, block)) return true;
      context.Damage(name + " " + std::to_string(handle) + " cannot be read");
      return true;
  }

  if (auto* insert = std::get_if<Insert>(&entity.data); insert && common.xDictionary != 0) {
    insert->clipBoundary = dwg::detail::ReadSpatialClip(context, common.xDictionary);
  }
  if (auto* insert = std::get_if<Insert>(&entity.data); insert && info.hasChildren) {
    ForEachChild(context, info, OwnedByInsert,
                 [&](CDwgObjectFrame& child, const CDwgEntityCommon& common) {
                   if (child.type != 0x02) return;  // only attributes belong here (and the SEQEND)
                   Entity attribute;
                   CDwgEntityInfo childInfo;
                   std::string childName;
                   const CDwgEntityResult result = dwg::detail::ReadDwgEntity(
                       context, child, common, inDefinition, attribute, childInfo, childName);
                   if (result == CDwgEntityResult::Stored)
                     insert->attributes.push_back(std::move(attribute));
                   if (result == CDwgEntityResult::Damaged) {
                     context.Damage("ATTRIB " + std::to_string(child.handle) + " cannot be read");
                   }
                 });
  } else if (auto* polyline = std::get_if<Polyline>(&entity.data); polyline && info.hasChildren) {
    std::vector<CDwgVertex> vertices;
    ForEachChild(context, info, OwnedByPolyline,
                 [&](CDwgObjectFrame& child, const CDwgEntityCommon&) {
                   CDwgVertex vertex;
                   if (child.type == 0x06) return;  // SEQEND
                   if (dwg::detail::ReadDwgVertex(context, child, vertex)) {
                     vertices.push_back(vertex);
                   } else {
                     context.Damage("VERTEX " + std::to_string(child.handle) + " cannot be read");
                   }
                 });
    dwg::detail::FinishDwgPolyline(info, vertices, *polyline);
  }

  std::vector<Entity>& entities = drawing.blocks[static_cast<std::size_t>(block)].entities;
  const std::size_t index = entities.size();
  if (info.clipBoundary != 0) clips.push_back({index, info.clipBoundary});
  if (info.clipCandidate) clipCandidates.emplace(handle, index);
  if (!info.linkedColumns.empty()) {
    columnSets.push_back({index, info.columnWidth, std::move(info.linkedColumns)});
  }
  entities.push_back(std::move(entity));
  handles.resize(index, 0);
  handles.push_back(handle);
  ++context.entityCount;
  return true;
}

bool CDwgReader::ReadGraphics(CDwgReaderContext& context, const CDwgObjectFrame& frame,
                              const CDwgEntityCommon& common, const std::string& name,
                              std::int32_t block) {
  if (!frame.hasGraphics || frame.graphicsSize == 0) return false;
  const std::string bytes = dwg::ReadObjectGraphics(context.container, frame);
  Entity base;
  context.ApplyCommon(common, base);
  std::vector<Entity>& entities = drawing.blocks[static_cast<std::size_t>(block)].entities;
  const std::size_t first = entities.size();
  const CProxyGraphicsResult result = DecodeProxyGraphics(bytes, base, proxyTables, entities);
  handles.resize(first, 0);
  handles.resize(entities.size(), frame.handle);
  for (const auto& [kind, count] : result.skipped) context.skipped[kind] += count;
  if (result.damaged) {
    context.Damage(name + " " + std::to_string(frame.handle) + ": its graphics are cut short");
  }
  context.entityCount += result.entities;
  return result.entities > 0;
}

}  // namespace

namespace dwg::detail {

bool ReadDwgModel(const CDwgContainer& container, const CDwgHeader& header, Drawing& drawing,
                  std::string* note) {
  CDwgReader reader(drawing);
  return reader.Read(container, header, note);
}

}  // namespace dwg::detail

namespace {

bool ReadWholeDwg(std::string_view bytes, Drawing& drawing, std::string* error) {
  drawing = Drawing{};
  CDwgContainer container;
  std::string containerNote;
  if (!dwg::ReadDwgContainer(bytes, container, &containerNote)) {
    if (error) *error = WithFormat(containerNote);
    return false;
  }
  CDwgHeader header;
  std::string headerNote;
  if (!dwg::ReadDwgHeader(container, header, &headerNote)) {
    if (error) *error = WithFormat(headerNote);
    return false;
  }
  std::string modelNote;
  const bool read = dwg::detail::ReadDwgModel(container, header, drawing, &modelNote);
  // The first note of the layers from the bottom up: the one nearest the cause.
  std::string note = containerNote;
  if (note.empty()) note = headerNote;
  if (note.empty() || !read) note = modelNote;
  if (error) *error = WithFormat(note);
  return read;
}

}  // namespace

bool ReadDwg(std::string_view bytes, Drawing& drawing, std::string* error) {
  if (error) error->clear();
  try {
    if (dwg::detail::IsPreR13Magic(bytes)) {
      return dwg::detail::ReadDwgPreR13(bytes, drawing, error, dwg::detail::kPreR13DefaultCodePage);
    }
    return ReadWholeDwg(bytes, drawing, error);
  } catch (const std::bad_alloc&) {
    if (error) *error = "DWG: not enough memory to read the drawing";
  } catch (...) {
    if (error) *error = "DWG: the drawing could not be read";
  }
  drawing = Drawing{};
  return false;
}

}  // namespace drawing
