#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PdfContentStream.h"
#include "pdf/PdfIndirectObject.h"

class CDib;
class CDibReader;
// How an image's pixels are written: as they are, as gray levels (by luminance), or as black
// and white (luminance below half is black).
enum class ImageColors { AsTheyAre, Gray, BlackAndWhite };

class CPdfPageTreeNode;

// One page of the output file. It owns its content streams, its own objects (the XObject and
// Properties dictionaries, in order of creation) and its images; it is written followed by
// them, so that each page's objects lie together in the file.
class CPdfPage : public CPdfDictObject {
 public:
  CPdfPage(std::int32_t* nextObjectNumber, CPdfPageTreeNode* parent);

  // Sets MediaBox [0 0 width height] in points; a second call replaces the first box in place.
  void SetMediaBox(std::int32_t width, std::int32_t height);

  // A new content stream (an indirect object N holding a stream with length object N+1), or
  // null when memory is short.
  CPdfContentStream* AddContentStream(std::int32_t* nextObjectNumber);

  // Names object in the page's resources under name; the page does not own object. A null
  // object is ignored.
  void AddResource(std::string_view name, CPdfIndirectObject* object);

  // The entry of the page's Properties resource ("oc1", "oc2", …) that names the optional
  // content group; made at the group's first use on this page.
  CPdfDictEntry* GetLayerResource(CPdfIndirectObject* group, std::int32_t* nextObjectNumber);

  // Turns a bitmap into an image XObject of width × height pixels named "IMG1", "IMG2", … in the
  // page's resources, and gives its name. The samples are 8-bit RGB written as hexadecimal text,
  // bottom row first, and deflated when the text is at most 104,857,600 bytes. False when the
  // bitmap cannot be read, the size is not positive, or the text would not fit in a stream;
  // nothing is added and no object number is used then. A picture without alpha that this page
  // holds already (the same size, colour mode and samples) is not added again: its name is
  // given.
  bool AddImage(std::int32_t width, std::int32_t height, const CDib* bitmap, std::string& name,
                std::int32_t* nextObjectNumber, ImageColors colors = ImageColors::AsTheyAre);

  // With a bitmap that has alpha (CDib::HasAlpha), AddImage gives the image a soft mask of its
  // opacity: a second image object, DeviceGray, that only the image names (/SMask).

  // Turns a 1-bit bitmap into a stencil mask named like AddImage's images: its pixels of index 1
  // are painted in the fill colour in force where it is drawn, the others leave the page as it
  // is. The bits are written as they are stored (bottom row first). False when the bitmap is not
  // 1-bit or smaller than width × height, or the data would not fit in a stream.
  bool AddImageMask(std::int32_t width, std::int32_t height, const CDib* bitmap, std::string& name,
                    std::int32_t* nextObjectNumber);

  CPdfDictionary* Resources() const { return resources; }
  CPdfDictionary* XObjects() const { return xobjects; }
  CPdfDictionary* Properties() const { return properties; }
  std::int32_t ContentStreamCount() const { return contentStreams.Count(); }

  // Writes the page, then its own objects, its images and its content streams.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

  // For a page that moves into another document: renumbers the page and every object it owns,
  // points Parent at node, and makes the layer resources that name `from` name `to`.
  void RenumberAll(const PdfRenumbering& renumber);
  void SetParent(CPdfPageTreeNode* node);
  void ReplaceLayer(CPdfIndirectObject* from, CPdfIndirectObject* to);

 private:
  // An indirect object holding a new empty dictionary, kept among the page's own objects and
  // named by the resource key.
  CPdfDictionary* AddResourceDictionary(std::string_view key, std::int32_t* nextObjectNumber);
  // A new image XObject among the page's images, its stream's dictionary holding Type and
  // Subtype; with name, also named "IMGn" in the page's XObject resources.
  CPdfContentStream* AddImageObject(std::string* name, std::int32_t* nextObjectNumber);
  // The soft mask of a bitmap with alpha, named by imageDict's SMask.
  void AddSoftMask(CPdfDictionary* imageDict, const CDib* bitmap, std::int32_t width,
                   std::int32_t height, std::int32_t* nextObjectNumber);

  // What tells two pictures apart: 128 bits of hash over their size, colour mode and samples.
  struct SampleFingerprint {
    std::uint64_t first = 0, second = 0;
    bool operator==(const SampleFingerprint&) const = default;
  };
  struct DrawnImage {
    SampleFingerprint fingerprint;
    std::string name;
  };
  static SampleFingerprint Fingerprint(const CDibReader& reader, std::int32_t width,
                                       std::int32_t height, ImageColors colors);

  std::vector<DrawnImage> drawnImages;
  std::int32_t imageCounter = 1;
  std::int32_t layerCounter = 1;
  CPdfList<CPdfIndirectObject> contentStreams;
  CPdfList<CPdfIndirectObject> ownObjects;
  CPdfList<CPdfIndirectObject> images;
  CPdfDictionary* resources;
  CPdfReference* parent;
  CPdfDictionary* xobjects = nullptr;
  CPdfDictionary* properties = nullptr;
};

// The root of the page tree, the one node of the document: it holds every page directly, in
// the order in which they were added.
class CPdfPageTreeNode : public CPdfDictObject {
 public:
  explicit CPdfPageTreeNode(std::int32_t* nextObjectNumber);

  // A new page with the next object number, or null when memory is short.
  CPdfPage* AddPage(std::int32_t* nextObjectNumber);
  void SetMediaBox(std::int32_t width, std::int32_t height);

  std::int32_t PageCount() const { return pages.Count(); }
  // Destroys the pages from index keep on.
  void RemovePagesFrom(std::int32_t keep) { pages.Truncate(keep); }
  // Appends every page of other, in order, each now naming this node its parent; other is left
  // without pages. False when memory is short; nothing moves then.
  bool TakePages(CPdfPageTreeNode& other);
  CPdfPage* GetPage(std::int32_t index) const { return pages.GetAt(index); }

  // Writes Kids and Count, the node, then every page.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfList<CPdfPage> pages;
};
