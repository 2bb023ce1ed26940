#include "pdf/PdfPage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "pdf/PdfArray.h"
#include "pdf/PdfXrefTable.h"
#include "platform/Dib.h"

namespace {

// Deflating needs a second buffer as large as the data; above this size the text of an image
// is kept as it is, which bounds the memory one image takes.
constexpr std::int32_t kLargestCompressedImage = 104857600;

CPdfArray* MediaBox(std::int32_t width, std::int32_t height) {
  auto* box = new CPdfArray;
  for (std::int32_t value : {0, 0, width, height}) box->Add(new CPdfInteger(value));
  return box;
}

}  // namespace

CPdfPage::SampleFingerprint CPdfPage::Fingerprint(const CDibReader& reader, std::int32_t width,
                                                  std::int32_t height, ImageColors colors) {
  // Two independent 64-bit hashes of the size, the colour mode and every sample as AddImage
  // reads it: two different pictures that agree in all 128 bits are not to be met.
  std::uint64_t first = 14695981039346656037ull;
  std::uint64_t second = 0x9E3779B97F4A7C15ull;
  const auto mix = [&](std::uint64_t word) {
    first = (first ^ word) * 1099511628211ull;
    second = (second ^ (word + (second << 6) + (second >> 2))) * 0xFF51AFD7ED558CCDull;
  };
  mix(static_cast<std::uint64_t>(width) << 32 | static_cast<std::uint32_t>(height));
  mix(static_cast<std::uint64_t>(colors));
  constexpr std::int32_t kPiece = 4096;
  std::uint8_t rgb[kPiece * 3];
  const std::int32_t rows = std::min(height, reader.Height());
  const std::int32_t columns = std::min(width, reader.Width());
  std::uint8_t corner[3];
  reader.ReadRow(0, 0, 1, corner);
  mix(corner[0] | corner[1] << 8 | corner[2] << 16);
  for (std::int32_t y = 0; y < rows; ++y) {
    for (std::int32_t x = 0; x < columns; x += kPiece) {
      const std::int32_t count = std::min(kPiece, columns - x);
      reader.ReadRow(y, x, count, rgb);
      std::int32_t i = 0;
      for (; i + 8 <= count * 3; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, rgb + i, 8);
        mix(word);
      }
      for (; i < count * 3; ++i) mix(rgb[i]);
    }
  }
  return {first, second};
}

CPdfPage::CPdfPage(std::int32_t* nextObjectNumber, CPdfPageTreeNode* parentNode)
    : CPdfDictObject(nextObjectNumber),
      resources(new CPdfDictionary),
      parent(new CPdfReference(parentNode)) {
  Dictionary()->Add("Type", "Page");
  Dictionary()->Add("Parent", parent);
  Dictionary()->Add("Resources", resources);
}

void CPdfPage::SetMediaBox(std::int32_t width, std::int32_t height) {
  Dictionary()->Set("MediaBox", MediaBox(width, height));
}

CPdfContentStream* CPdfPage::AddContentStream(std::int32_t* nextObjectNumber) {
  try {
    auto* holder = new CPdfIndirectObject(nextObjectNumber);
    CPdfContentStream* stream;
    try {
      stream = new CPdfContentStream(nextObjectNumber);
    } catch (const std::bad_alloc&) {
      delete holder;
      return nullptr;
    }
    holder->SetObject(stream);
    return contentStreams.Add(holder) ? stream : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CPdfPage::AddResource(std::string_view name, CPdfIndirectObject* object) {
  if (object) resources->Set(name, new CPdfReference(object));
}

CPdfDictionary* CPdfPage::AddResourceDictionary(std::string_view key,
                                                std::int32_t* nextObjectNumber) {
  auto* dict = new CPdfDictionary;
  auto* holder = new CPdfIndirectObject(nextObjectNumber, dict);
  ownObjects.Add(holder);
  resources->Set(key, new CPdfReference(holder));
  return dict;
}

CPdfDictEntry* CPdfPage::GetLayerResource(CPdfIndirectObject* group,
                                          std::int32_t* nextObjectNumber) {
  if (!properties) properties = AddResourceDictionary("Properties", nextObjectNumber);
  for (std::int32_t i = 0; i < properties->Count(); ++i) {
    CPdfDictEntry* entry = properties->GetAt(i);
    const auto* ref = entry ? dynamic_cast<const CPdfReference*>(entry->Value()) : nullptr;
    if (ref && ref->Target() == group) return entry;
  }
  char name[24];
  std::snprintf(name, sizeof name, "oc%d", layerCounter++);
  properties->Add(name, new CPdfReference(group));
  return properties->FindEntry(name);
}

void CPdfPage::RenumberAll(const PdfRenumbering& renumber) {
  Renumber(renumber(Number()));
  for (const CPdfList<CPdfIndirectObject>* list : {&contentStreams, &ownObjects, &images}) {
    for (CPdfIndirectObject* object : *list) object->RenumberWithLength(renumber);
  }
}

void CPdfPage::SetParent(CPdfPageTreeNode* node) {
  parent->Retarget(node);
}

void CPdfPage::ReplaceLayer(CPdfIndirectObject* from, CPdfIndirectObject* to) {
  if (!properties) return;
  for (std::int32_t i = 0; i < properties->Count(); ++i) {
    CPdfDictEntry* entry = properties->GetAt(i);
    auto* ref = entry ? dynamic_cast<CPdfReference*>(entry->Value()) : nullptr;
    if (ref && ref->Target() == from) ref->Retarget(to);
  }
}

bool CPdfPage::AddImage(std::int32_t width, std::int32_t height, const CDib* bitmap,
                        std::string& name, std::int32_t* nextObjectNumber, ImageColors colors) {
  CDibReader reader;
  if (!reader.Open(bitmap) || width <= 0 || height <= 0) return false;
  // Six hexadecimal digits per pixel and the two closing bytes must fit in one stream.
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (pixels > (CPdfStream::kMaxLength - 2) / 6) return false;
  const std::int64_t textLength = pixels * 6 + 2;

  // A picture placed again on this page (the same image seen through several viewports) is
  // written once: its samples are fingerprinted first, and a match gives the earlier name.
  SampleFingerprint fingerprint{};
  if (!bitmap->HasAlpha()) {
    fingerprint = Fingerprint(reader, width, height, colors);
    for (const DrawnImage& drawn : drawnImages) {
      if (drawn.fingerprint == fingerprint) {
        name = drawn.name;
        return true;
      }
    }
  }

  if (!xobjects) xobjects = AddResourceDictionary("XObject", nextObjectNumber);
  auto* image = new CPdfIndirectObject(nextObjectNumber);
  auto* stream = new CPdfContentStream(nextObjectNumber);
  image->SetObject(stream);
  images.Add(image);

  char text[24];
  std::snprintf(text, sizeof text, "IMG%d", imageCounter++);
  name = text;
  xobjects->Add(name, new CPdfReference(image));

  CPdfDictionary* dict = stream->Dictionary();
  dict->Add("Type", "XObject");
  dict->Add("Subtype", "Image");
  dict->Add("Name", std::string_view(name));
  dict->Add("ColorSpace", "DeviceRGB");
  dict->Add("Width", width);
  dict->Add("Height", height);
  dict->Add("BitsPerComponent", 8);
  auto* filter = new CPdfArray;
  filter->Add("ASCIIHexDecode");
  dict->Set("Filter", filter);

  // Rows are taken in storage order (bottom row first); pixels beyond the bitmap's own size
  // repeat the colour of its pixel (0, 0). The text is made in pieces of a few thousand pixels
  // so that a wide image needs no row-sized buffers; an append that finds no memory drops its
  // piece, silently.
  stream->Reserve(static_cast<std::int32_t>(textLength));
  constexpr std::int32_t kPiece = 4096;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::uint8_t rgb[kPiece * 3];
  char hex[kPiece * 6];
  std::uint8_t corner[3];
  reader.ReadRow(0, 0, 1, corner);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t inside = y < reader.Height() ? std::min(width, reader.Width()) : 0;
    for (std::int32_t x = 0; x < width; x += kPiece) {
      const std::int32_t count = std::min(kPiece, width - x);
      const std::int32_t read = std::clamp(inside - x, 0, count);
      if (read > 0) reader.ReadRow(y, x, read, rgb);
      for (std::int32_t i = read; i < count; ++i) {
        rgb[3 * i] = corner[0];
        rgb[3 * i + 1] = corner[1];
        rgb[3 * i + 2] = corner[2];
      }
      if (colors != ImageColors::AsTheyAre) {
        for (std::int32_t i = 0; i < count; ++i) {
          std::uint8_t* pixel = rgb + 3 * i;
          // Luminance with the weights of television (as the line colours are made gray).
          const int level = (299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2] + 500) / 1000;
          const auto gray = static_cast<std::uint8_t>(colors == ImageColors::Gray ? level
                                                      : level < 128               ? 0
                                                                                  : 255);
          pixel[0] = pixel[1] = pixel[2] = gray;
        }
      }
      for (std::int32_t i = 0; i < count * 3; ++i) {
        hex[2 * i] = kHex[rgb[i] >> 4];
        hex[2 * i + 1] = kHex[rgb[i] & 0x0F];
      }
      stream->Append(hex, count * 6);
    }
  }
  stream->Append(">\r", 2);
  if (stream->Length() <= kLargestCompressedImage) stream->CompressSoon();
  if (bitmap->HasAlpha()) {
    AddSoftMask(dict, bitmap, width, height, nextObjectNumber);
  } else {
    drawnImages.push_back({fingerprint, name});
  }
  return true;
}

CPdfContentStream* CPdfPage::AddImageObject(std::string* name, std::int32_t* nextObjectNumber) {
  auto* image = new CPdfIndirectObject(nextObjectNumber);
  auto* stream = new CPdfContentStream(nextObjectNumber);
  image->SetObject(stream);
  images.Add(image);
  CPdfDictionary* dict = stream->Dictionary();
  dict->Add("Type", "XObject");
  dict->Add("Subtype", "Image");
  if (name) {
    if (!xobjects) xobjects = AddResourceDictionary("XObject", nextObjectNumber);
    char text[24];
    std::snprintf(text, sizeof text, "IMG%d", imageCounter++);
    *name = text;
    xobjects->Add(*name, new CPdfReference(image));
    dict->Add("Name", std::string_view(*name));
  }
  return stream;
}

void CPdfPage::AddSoftMask(CPdfDictionary* imageDict, const CDib* bitmap, std::int32_t width,
                           std::int32_t height, std::int32_t* nextObjectNumber) {
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (pixels > (CPdfStream::kMaxLength - 2) / 2) return;
  // The mask is no resource of the page: only the image refers to it.
  CPdfContentStream* stream = AddImageObject(nullptr, nextObjectNumber);
  CPdfDictionary* dict = stream->Dictionary();
  dict->Add("ColorSpace", "DeviceGray");
  dict->Add("Width", width);
  dict->Add("Height", height);
  dict->Add("BitsPerComponent", 8);
  auto* filter = new CPdfArray;
  filter->Add("ASCIIHexDecode");
  dict->Set("Filter", filter);
  stream->Reserve(static_cast<std::int32_t>(pixels * 2 + 2));
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string row;
  // Rows in the image's order (storage order); pixels beyond the bitmap are opaque.
  for (std::int32_t y = 0; y < height; ++y) {
    row.assign(static_cast<std::size_t>(width) * 2, 'F');
    if (y < bitmap->Height()) {
      const std::uint8_t* from = bitmap->Row(y);
      for (std::int32_t x = 0; x < std::min(width, bitmap->Width()); ++x) {
        const std::uint8_t alpha = from[4 * x + 3];
        row[2 * x] = kHex[alpha >> 4];
        row[2 * x + 1] = kHex[alpha & 0x0F];
      }
    }
    stream->Append(row.data(), static_cast<std::int32_t>(row.size()));
  }
  stream->Append(">\r", 2);
  if (stream->Length() <= kLargestCompressedImage) stream->CompressSoon();
  imageDict->Add("SMask", new CPdfReference(images.GetAt(images.Count() - 1)));
}

bool CPdfPage::AddImageMask(std::int32_t width, std::int32_t height, const CDib* bitmap,
                            std::string& name, std::int32_t* nextObjectNumber) {
  if (!bitmap || bitmap->BitsPerPixel() != 1 || width <= 0 || height <= 0 ||
      width > bitmap->Width() || height > bitmap->Height()) {
    return false;
  }
  const std::int64_t rowBytes = (static_cast<std::int64_t>(width) + 7) / 8;
  if (rowBytes * height > (CPdfStream::kMaxLength - 2) / 2) return false;
  CPdfContentStream* stream = AddImageObject(&name, nextObjectNumber);
  CPdfDictionary* dict = stream->Dictionary();
  dict->Add("Width", width);
  dict->Add("Height", height);
  dict->Add("ImageMask", new CPdfBoolean(true));
  dict->Add("BitsPerComponent", 1);
  // Samples of 1 are the ones painted.
  auto* decode = new CPdfArray;
  decode->Add(new CPdfInteger(1));
  decode->Add(new CPdfInteger(0));
  dict->Set("Decode", decode);
  auto* filter = new CPdfArray;
  filter->Add("ASCIIHexDecode");
  dict->Set("Filter", filter);
  stream->Reserve(static_cast<std::int32_t>(rowBytes * height * 2 + 2));
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string row(static_cast<std::size_t>(rowBytes) * 2, '0');
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* from = bitmap->Row(y);
    for (std::int64_t i = 0; i < rowBytes; ++i) {
      std::uint8_t bits = from[i];
      // The bits past the last pixel of a row paint nothing.
      if (i == rowBytes - 1 && (width & 7) != 0)
        bits &= static_cast<std::uint8_t>(0xFF00 >> (width & 7));
      row[2 * i] = kHex[bits >> 4];
      row[2 * i + 1] = kHex[bits & 0x0F];
    }
    stream->Append(row.data(), static_cast<std::int32_t>(row.size()));
  }
  stream->Append(">\r", 2);
  if (stream->Length() <= kLargestCompressedImage) stream->CompressSoon();
  return true;
}

void CPdfPage::Write(std::FILE* file, CPdfXrefTable* xref) {
  auto* contents = new (std::nothrow) CPdfArray;
  if (!contents) {
    // Nothing of this page is written; the document tells its owner after saving.
    if (xref) xref->NoteLostObject();
    return;
  }
  for (CPdfIndirectObject* stream : contentStreams) contents->Add(new CPdfReference(stream));
  Dictionary()->Set("Contents", contents);
  CPdfIndirectObject::Write(file, xref);
  for (CPdfIndirectObject* object : ownObjects) object->Write(file, xref);
  for (CPdfIndirectObject* image : images) image->Write(file, xref);
  for (CPdfIndirectObject* stream : contentStreams) stream->Write(file, xref);
}

CPdfPageTreeNode::CPdfPageTreeNode(std::int32_t* nextObjectNumber)
    : CPdfDictObject(nextObjectNumber) {
  Dictionary()->Add("Type", "Pages");
}

CPdfPage* CPdfPageTreeNode::AddPage(std::int32_t* nextObjectNumber) {
  try {
    auto* page = new CPdfPage(nextObjectNumber, this);
    return pages.Add(page) ? page : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool CPdfPageTreeNode::TakePages(CPdfPageTreeNode& other) {
  const std::int32_t first = pages.Count();
  if (!pages.TakeAll(other.pages)) return false;
  for (std::int32_t i = first; i < pages.Count(); ++i) pages.GetAt(i)->SetParent(this);
  return true;
}

void CPdfPageTreeNode::SetMediaBox(std::int32_t width, std::int32_t height) {
  Dictionary()->Set("MediaBox", MediaBox(width, height));
}

void CPdfPageTreeNode::Write(std::FILE* file, CPdfXrefTable* xref) {
  auto* kids = new CPdfArray;
  for (CPdfPage* page : pages) kids->Add(new CPdfReference(page));
  Dictionary()->Set("Kids", kids);
  Dictionary()->Set("Count", pages.Count());
  CPdfIndirectObject::Write(file, xref);
  for (CPdfPage* page : pages) page->Write(file, xref);
}
