#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "pdf/PdfCatalog.h"
#include "pdf/PdfDictionary.h"
#include "pdf/PdfIndirectObject.h"
#include "pdf/PdfXrefTable.h"

// The file a path names, its symbolic links followed (a link to a missing file names that file):
// a saved document replaces the file a user's link points at, not the link.
std::string FollowLinks(const std::string& path);

// One output PDF file under construction. It owns every object of the file and hands out
// object numbers from nextObjectNumber. A new document holds the catalog (1), the outline root
// (2), the page tree root (3), the ProcSet array (4) and the information dictionary (5).
// Build it, add pages, bookmarks, layers and images, set the information, Save once, destroy.
class CPdfDocument : public CPdfObject {
 public:
  CPdfDocument();
  ~CPdfDocument() override;

  // The next free object number. Every numbered object's constructor takes and increments it,
  // so builders pass its address.
  std::int32_t nextObjectNumber = 1;

  CPdfCatalog* Catalog() const { return catalog.get(); }
  CPdfPageTreeNode* PageTreeRoot() const { return catalog->PageTreeRoot(); }
  CPdfOutline* OutlineRoot() const { return catalog->OutlineRoot(); }
  CPdfDictionary* InfoDictionary() const { return static_cast<CPdfDictionary*>(info->Object()); }
  std::int32_t LayerCount() const { return layers.Count(); }

  // Sets an entry of the information dictionary to a literal string, in place when it exists.
  void SetInfo(std::string_view key, std::string_view text);

  // Gives the page every shared resource: ProcSet 4 0 R.
  void ShareResources(CPdfPage* page);

  // The optional content group of a layer, made at the name's first use and listed in the
  // catalog's OCGs and Order. Names are compared byte for byte, case-sensitive.
  CPdfIndirectObject* GetLayer(std::string_view layerName);

  // What the document holds at one moment, to go back to: a drawing that fails half-way
  // through a merged file leaves nothing of itself in it.
  struct Mark {
    std::int32_t pages = 0;
    CPdfOutline* lastBookmark = nullptr;  // the outline root's last child
    std::int32_t layers = 0;
    std::int32_t nextObjectNumber = 0;
  };
  Mark MarkState() const;
  // Destroys every page, top-level bookmark and layer added since the mark, and hands their
  // object numbers out again, so that numbering stays without gaps. Objects added since then
  // must all belong to those (pages own their contents, images and resources).
  void RollBack(const Mark& mark);

  // Moves every page, top-level bookmark and layer of part (a document made for one drawing,
  // with the same page tree settings) to the end of this document, numbered as they would have
  // been had they been made here: in the same order, and with this document's layer of the same
  // name used instead of part's. So drawings made in documents of their own, side by side, and
  // appended in list order give the file that making them one after the other here gives.
  // part keeps only its fixed objects. Only numbers and references change, never stream data,
  // so part's streams may still be deflating elsewhere. False when memory is short; this
  // document is unchanged then.
  bool Append(CPdfDocument& part);

  // Writes the file. It is written into a temporary file beside path, and every write, the
  // flush and the close are checked before it is renamed over path: on any failure false is
  // returned, the temporary file is removed and a file already at path is left as it was. A
  // symbolic link at path is followed: the file it points at is replaced, the link stays.
  // Temporary files that an interrupted save of the same file left behind are removed.
  bool Save(const std::string& path);
  // How many pages the last Save left out because memory ran short while writing them (the file
  // is still whole: their numbers are free entries).
  std::int32_t LostPages() const { return xref.LostObjects(); }

  // Writes the whole file at the file's current position: header, catalog, outlines, page
  // tree and pages, layers, ProcSet, information, cross-reference table and trailer. The table
  // argument is not used; the document's own is.
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::unique_ptr<CPdfCatalog> catalog;
  CPdfDictionary trailer;
  std::unique_ptr<CPdfIndirectObject> info;
  CPdfXrefTable xref;
  CPdfDictionary sharedResources;
  CPdfList<CPdfIndirectObject> layers;
  std::string header = "%PDF-1.2";
  // The first number after the fixed objects a new document holds.
  std::int32_t firstFreeNumber = 0;
};

// The information entries a run gives a document: Title, Author, Subject and Keywords, each
// only when not empty, then CreationDate, in this order.
struct CPdfDocumentTexts {
  std::string title;
  std::string author;
  std::string subject;
  std::string keywords;
};
void AddDocumentInformation(CPdfDocument& document, const CPdfDocumentTexts& texts,
                            std::string_view creationDate);
