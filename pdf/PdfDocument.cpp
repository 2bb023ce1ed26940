#include "pdf/PdfDocument.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "pdf/PdfArray.h"
#include "pdf/detail/PdfOutput.h"

CPdfDocument::CPdfDocument() {
  catalog = std::make_unique<CPdfCatalog>(&nextObjectNumber);
  auto* procSetArray = new CPdfArray;
  for (const char* name : {"PDF", "Text", "ImageC"}) procSetArray->Add(name);
  sharedResources.Add("ProcSet", new CPdfIndirectObject(&nextObjectNumber, procSetArray));
  auto* infoDict = new CPdfDictionary;
  info = std::make_unique<CPdfIndirectObject>(&nextObjectNumber, infoDict);
  infoDict->Set("Producer", "Zemb Strandmerlyx");
  firstFreeNumber = nextObjectNumber;
}

CPdfDocument::~CPdfDocument() = default;

void CPdfDocument::SetInfo(std::string_view key, std::string_view text) {
  InfoDictionary()->Set(key, text);
}

void CPdfDocument::ShareResources(CPdfPage* page) {
  for (std::int32_t i = 0; i < sharedResources.Count(); ++i) {
    const CPdfDictEntry* entry = sharedResources.GetAt(i);
    if (entry) page->AddResource(entry->Key(), dynamic_cast<CPdfIndirectObject*>(entry->Value()));
  }
}

namespace {

std::string_view LayerName(const CPdfIndirectObject* group) {
  const auto* dict = static_cast<const CPdfDictionary*>(group->Object());
  const auto* name = dynamic_cast<const CPdfString*>(dict->Find("Name"));
  return name ? std::string_view(name->Text()) : std::string_view();
}

CPdfIndirectObject* FindLayer(const CPdfList<CPdfIndirectObject>& layers,
                              std::string_view layerName) {
  for (CPdfIndirectObject* group : layers) {
    if (LayerName(group) == layerName) return group;
  }
  return nullptr;
}

}  // namespace

CPdfIndirectObject* CPdfDocument::GetLayer(std::string_view layerName) {
  if (CPdfIndirectObject* group = FindLayer(layers, layerName)) return group;
  auto* dict = new CPdfDictionary;
  auto* group = new CPdfIndirectObject(&nextObjectNumber, dict);
  dict->Add("Type", "OCG");
  dict->Add("Name", new CPdfString(layerName));
  dict->Add("Intent", "View");
  if (!layers.Add(group)) return nullptr;
  catalog->LayerGroups()->Add(new CPdfReference(group));
  catalog->LayerOrder()->Add(new CPdfReference(group));
  return group;
}

bool CPdfDocument::Append(CPdfDocument& part) {
  // part's layers that this document has already: their numbers are not used here, and every
  // later object of part moves down by one for each of them.
  std::vector<std::int32_t> known;
  std::vector<std::pair<CPdfIndirectObject*, CPdfIndirectObject*>> same;
  std::int32_t added = 0;
  for (CPdfIndirectObject* group : part.layers) {
    if (CPdfIndirectObject* mine = FindLayer(layers, LayerName(group))) {
      same.emplace_back(group, mine);
      known.push_back(group->Number());
    } else {
      ++added;
    }
  }
  std::sort(known.begin(), known.end());
  const std::int32_t firstPage = PageTreeRoot()->PageCount();
  if (!layers.Reserve(added) || !PageTreeRoot()->TakePages(*part.PageTreeRoot())) return false;

  // From here on nothing fails: the pages have moved, the layer list has room.
  const std::int32_t base = nextObjectNumber;
  const std::int32_t first = part.firstFreeNumber;
  const PdfRenumbering renumber = [&](std::int32_t number) {
    const auto below = std::lower_bound(known.begin(), known.end(), number) - known.begin();
    return base + (number - first) - static_cast<std::int32_t>(below);
  };
  for (std::int32_t i = firstPage; i < PageTreeRoot()->PageCount(); ++i) {
    CPdfPage* page = PageTreeRoot()->GetPage(i);
    page->RenumberAll(renumber);
    ShareResources(page);
    for (const auto& [theirs, mine] : same) page->ReplaceLayer(theirs, mine);
  }
  for (CPdfOutline* item = part.OutlineRoot()->First(); item; item = item->Next()) {
    item->RenumberAll(renumber);
  }
  OutlineRoot()->TakeChildren(*part.OutlineRoot());
  // part's own layers, in the order it made them, after this document's.
  std::vector<CPdfIndirectObject*> moving;
  for (std::int32_t i = part.layers.Count() - 1; i >= 0; --i) {
    CPdfIndirectObject* group = part.layers.GetAt(i);
    if (std::none_of(same.begin(), same.end(),
                     [group](const auto& pair) { return pair.first == group; })) {
      moving.push_back(part.layers.Release(i));
    }
  }
  for (auto it = moving.rbegin(); it != moving.rend(); ++it) {
    CPdfIndirectObject* group = *it;
    group->Renumber(renumber(group->Number()));
    layers.Add(group);
    catalog->LayerGroups()->Add(new CPdfReference(group));
    catalog->LayerOrder()->Add(new CPdfReference(group));
  }
  nextObjectNumber = renumber(part.nextObjectNumber);
  return true;
}

CPdfDocument::Mark CPdfDocument::MarkState() const {
  return {PageTreeRoot()->PageCount(), OutlineRoot()->Last(), layers.Count(), nextObjectNumber};
}

void CPdfDocument::RollBack(const Mark& mark) {
  PageTreeRoot()->RemovePagesFrom(mark.pages);
  OutlineRoot()->RemoveChildrenAfter(mark.lastBookmark);
  layers.Truncate(mark.layers);
  catalog->LayerGroups()->Truncate(mark.layers);
  catalog->LayerOrder()->Truncate(mark.layers);
  nextObjectNumber = mark.nextObjectNumber;
}

void CPdfDocument::Write(std::FILE* file, CPdfXrefTable*) {
  // Optional content (layers) came with PDF 1.5: a document that has layers says so, one
  // without keeps the older header.
  pdfdetail::Put(file, layers.Count() > 0 ? "%PDF-1.5" : header);
  pdfdetail::Put(file, "\n");
  catalog->Write(file, &xref);
  for (CPdfIndirectObject* layer : layers) layer->Write(file, &xref);
  for (std::int32_t i = 0; i < sharedResources.Count(); ++i) {
    if (CPdfDictEntry* entry = sharedResources.GetAt(i); entry && entry->Value()) {
      entry->Value()->Write(file, &xref);
    }
  }
  info->Write(file, &xref);
  const long xrefOffset = std::ftell(file);
  xref.SetSize(nextObjectNumber);
  xref.Write(file, nullptr);
  pdfdetail::Put(file, "trailer\n");
  trailer.Set("Size", nextObjectNumber);
  trailer.Set("Root", new CPdfReference(catalog.get()));
  trailer.Set("Info", new CPdfReference(info.get()));
  trailer.Write(file, nullptr);
  pdfdetail::Put(file, "\nstartxref\n");
  pdfdetail::PutInt(file, xrefOffset);
  pdfdetail::Put(file, "\n%%EOF\n");
}

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    char target[4096];
    const ssize_t length = readlink(current.c_str(), target, sizeof target - 1);
    if (length < 0) return current;  // not a link (or not there): this is the file
    target[length] = '\0';
    if (target[0] == '/') {
      current = target;
    } else {
      const std::size_t slash = current.rfind('/');
      current =
          (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + target;
    }
  }
  return current;  // a loop of links: opening it fails and says so
}

namespace {

// Temporary files of saves of `base` in folder whose process is gone: what an interrupted
// save left. A save of the same file by a running process keeps its own.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
  DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
  if (!directory) return;
  const std::string prefix = "." + base + ".";
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 5, 5, ".part") != 0) {
      continue;
    }
    // ".<base>.<pid>-<random>.part"
    const std::string middle = name.substr(prefix.size(), name.size() - 5 - prefix.size());
    const std::size_t dash = middle.find('-');
    if (dash == std::string::npos || dash == 0) continue;
    long pid = 0;
    for (std::size_t i = 0; i < dash; ++i) {
      if (middle[i] < '0' || middle[i] > '9' || pid > 1'000'000'000) {
        pid = -1;
        break;
      }
      pid = pid * 10 + (middle[i] - '0');
    }
    if (pid <= 0) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still running
    unlink((folder + name).c_str());
  }
  closedir(directory);
}

// Creates a new file beside path with a name no other file has, readable as a file made by
// fopen would be (mode 0666 less the umask). Returns the open descriptor or -1.
int CreateTemporaryBeside(const std::string& path, std::string& temporaryPath) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  RemoveStaleTemporaries(folder, base);
  std::random_device seed;
  std::mt19937_64 random(seed() ^ (static_cast<std::uint64_t>(getpid()) << 32));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld-%012llx", static_cast<long>(getpid()),
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    temporaryPath = folder + "." + base + suffix + ".part";
    const int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool CPdfDocument::Save(const std::string& target) {
  if (target.empty()) return false;
  const std::string path = FollowLinks(target);
  std::string temporaryPath;
  const int fd = CreateTemporaryBeside(path, temporaryPath);
  if (fd < 0) return false;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    close(fd);
    unlink(temporaryPath.c_str());
    return false;
  }
  Write(file, nullptr);
  // Write errors are sticky in the stream's error flag; the data must also reach the disk
  // before the new file replaces an old one, so that a crash leaves one or the other whole.
  bool ok = !std::ferror(file);
  ok = std::fflush(file) == 0 && ok;
  ok = fsync(fileno(file)) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = std::rename(temporaryPath.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporaryPath.c_str());
  return ok;
}

void AddDocumentInformation(CPdfDocument& document, const CPdfDocumentTexts& texts,
                            std::string_view creationDate) {
  const std::pair<const char*, const std::string*> entries[] = {
      {"Title", &texts.title},
      {"Author", &texts.author},
      {"Subject", &texts.subject},
      {"Keywords", &texts.keywords},
  };
  for (const auto& [key, text] : entries) {
    if (!text->empty()) document.SetInfo(key, *text);
  }
  document.SetInfo("CreationDate", creationDate);
}
