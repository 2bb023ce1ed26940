#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/MessageReporter.h"
#include "platform/RegularFile.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
// The registry's own limit on the depth of a key. It keeps the recursion over keys (saving,
// freeing) shallow whatever a file holds.
constexpr std::size_t kMaxKeyDepth = 512;
// Far more than the settings of any user; a larger file is refused unread (and never written),
// so a file named by mistake (a disk image, a log) costs no memory and no time.
constexpr std::size_t kMaxFileSize = 16u << 20;
constexpr std::string_view kMaxFileSizeText = "16 MiB";

// Names compare by ASCII case only: every name the program stores is ASCII, and bytes above
// 0x7F (UTF-8) then stay exactly as given.
char FoldChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldChar(c);
  return folded;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (FoldChar(text[i]) != FoldChar(prefix[i])) return false;
  }
  return true;
}

// A name that a line of the file can hold: a line break or NUL inside it could not be read back.
bool StorableName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

using KeyPath = std::vector<std::string>;

// Backslash-separated key names; outer backslashes are ignored, and an empty name inside or more
// than kMaxKeyDepth names make the path invalid. The empty path is the root itself.
std::optional<KeyPath> SplitPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  KeyPath names;
  while (!path.empty()) {
    const std::size_t end = std::min(path.find('\\'), path.size());
    const std::string_view name = path.substr(0, end);
    if (name.empty() || !StorableName(name) || names.size() == kMaxKeyDepth) return std::nullopt;
    names.emplace_back(name);
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return names;
}

struct Value {
  std::string name;
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
};

// One key: values in the order they were first set, subkeys in the order they were created
// (or found in the file), each also found by its folded name.
struct Key {
  std::string name;
  std::vector<Value> values;
  std::unordered_map<std::string, std::size_t> valueAt;
  std::vector<std::unique_ptr<Key>> subkeys;
  std::unordered_map<std::string, Key*> subkeyNamed;

  Key* Subkey(std::string_view subName) const {
    const auto it = subkeyNamed.find(Fold(subName));
    return it == subkeyNamed.end() ? nullptr : it->second;
  }

  Key& AddSubkey(std::string_view subName) {
    if (Key* existing = Subkey(subName)) return *existing;
    auto key = std::make_unique<Key>();
    key->name = subName;
    Key* added = key.get();
    subkeyNamed.emplace(Fold(subName), added);
    subkeys.push_back(std::move(key));
    return *added;
  }

  bool RemoveSubkey(std::string_view subName) {
    const auto it = subkeyNamed.find(Fold(subName));
    if (it == subkeyNamed.end()) return false;
    const Key* doomed = it->second;
    subkeyNamed.erase(it);
    std::erase_if(subkeys, [doomed](const std::unique_ptr<Key>& k) { return k.get() == doomed; });
    return true;
  }

  const Value* FindValue(std::string_view valueName) const {
    const auto it = valueAt.find(Fold(valueName));
    return it == valueAt.end() ? nullptr : &values[it->second];
  }

  // An existing value keeps the spelling of its name, as the registry does.
  void SetValue(std::string_view valueName, RegType type, std::vector<std::uint8_t> data) {
    const auto [it, added] = valueAt.emplace(Fold(valueName), values.size());
    if (added) {
      values.push_back(Value{std::string(valueName), type, std::move(data)});
    } else {
      values[it->second].type = type;
      values[it->second].data = std::move(data);
    }
  }

  bool RemoveValue(std::string_view valueName) {
    const auto it = valueAt.find(Fold(valueName));
    if (it == valueAt.end()) return false;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(it->second));
    valueAt.clear();
    for (std::size_t i = 0; i < values.size(); ++i) valueAt.emplace(Fold(values[i].name), i);
    return true;
  }
};

Key* FindKey(Key& root, const KeyPath& path) {
  Key* key = &root;
  for (const std::string& name : path) {
    key = key->Subkey(name);
    if (!key) return nullptr;
  }
  return key;
}

Key& CreatePath(Key& root, const KeyPath& path) {
  Key* key = &root;
  for (const std::string& name : path) key = &key->AddSubkey(name);
  return *key;
}

// One change made by this process and not yet in the file. Kept so that it can be made again
// on top of the file as another process left it.
struct Change {
  enum class Kind { CreateKey, SetValue, DeleteValue, DeleteSubKey } kind;
  KeyPath key;  // for DeleteSubKey, the path of the key to delete
  std::string name;
  RegType type = RegType::None;
  std::vector<std::uint8_t> data;
};

// False when the key (or value) the change works on does not exist.
bool Apply(Key& root, const Change& change) {
  switch (change.kind) {
    case Change::Kind::CreateKey:
      CreatePath(root, change.key);
      return true;
    case Change::Kind::SetValue:
      if (Key* key = FindKey(root, change.key)) {
        key->SetValue(change.name, change.type, change.data);
        return true;
      }
      return false;
    case Change::Kind::DeleteValue:
      if (Key* key = FindKey(root, change.key)) return key->RemoveValue(change.name);
      return false;
    case Change::Kind::DeleteSubKey: {
      if (change.key.empty()) return false;
      KeyPath parentPath(change.key.begin(), change.key.end() - 1);
      Key* parent = FindKey(root, parentPath);
      return parent && parent->RemoveSubkey(change.key.back());
    }
  }
  return false;
}

// ---- The file format -------------------------------------------------------------------------

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// REG_SZ data that a quoted string gives back byte for byte: text, one final NUL, and nothing
// that would end the line.
bool WritableAsText(const std::vector<std::uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  return std::none_of(data.begin(), data.end() - 1,
                      [](std::uint8_t b) { return b == 0 || b == '\r' || b == '\n'; });
}

void AppendValue(std::string& out, const Value& value) {
  if (value.name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, value.name);
  }
  out += '=';
  const auto& data = value.data;
  if (value.type == RegType::Sz && WritableAsText(data)) {
    AppendQuoted(out,
                 std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
  } else if (value.type == RegType::Dword && data.size() == 4) {
    const std::uint32_t number =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += text;
  } else {
    if (value.type == RegType::Binary) {
      out += "hex:";
    } else {
      char text[24];
      std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(value.type));
      out += text;
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (i) out += ',';
      out += kHexDigits[data[i] >> 4];
      out += kHexDigits[data[i] & 15];
    }
  }
  out += '\n';
}

// False once the text has grown past kMaxFileSize: every key's section line holds its whole
// path, so deep keys with long names can make a text many times the size of the file they came
// from, and such a file would be refused when read.
bool AppendKey(std::string& out, const Key& key, const std::string& path) {
  // The root is written only when it holds values; every other key is written even when
  // empty, so that it still exists after the file is read again.
  if (!path.empty() || !key.values.empty()) {
    out += '[';
    out += kRootName;
    out += path;
    out += "]\n";
    for (const Value& value : key.values) AppendValue(out, value);
    out += '\n';
  }
  if (out.size() > kMaxFileSize) return false;
  for (const auto& subkey : key.subkeys) {
    if (!AppendKey(out, *subkey, path + '\\' + subkey->name)) return false;
  }
  return true;
}

// The file's text; false when it would be larger than kMaxFileSize.
bool Serialize(const Key& root, std::string* out) {
  *out = kHeader4;
  *out += "\n\n";
  return AppendKey(*out, root, std::string()) && out->size() <= kMaxFileSize;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = FoldChar(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to 8 hex digits, the whole of text.
bool ParseHexNumber(std::string_view text, std::uint32_t* number) {
  if (text.empty() || text.size() > 8) return false;
  std::uint32_t n = 0;
  for (char c : text) {
    const int digit = HexValue(c);
    if (digit < 0) return false;
    n = n << 4 | static_cast<std::uint32_t>(digit);
  }
  *number = n;
  return true;
}

// A quoted string starting at text[0]; *end is just past the closing quote. Only \\ and \" are
// escapes; a backslash before anything else stands for itself, as a hand-written path would.
bool ParseQuoted(std::string_view text, std::string* out, std::size_t* end) {
  out->clear();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *end = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      *out += text[++i];
    } else {
      *out += c;
    }
  }
  return false;
}

// "01,ff,2a": two-digit (or one-digit) hex bytes; a comma may end the list.
bool ParseBytes(std::string_view text, std::vector<std::uint8_t>* data) {
  data->clear();
  text = Trim(text);
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    const std::string_view item = Trim(text.substr(0, comma));
    std::uint32_t byte = 0;
    if (item.size() > 2 || !ParseHexNumber(item, &byte)) return false;
    data->push_back(static_cast<std::uint8_t>(byte));
    text.remove_prefix(std::min(comma + 1, text.size()));
    text = TrimLeft(text);
  }
  return true;
}

bool ParseValueLine(std::string_view line, Key& key) {
  std::string name;
  std::size_t at = 0;
  // A lone continuation backslash leaves nothing.
  if (line.empty()) return false;
  if (line.front() == '@') {
    at = 1;
  } else if (line.front() != '"' || !ParseQuoted(line, &name, &at)) {
    return false;
  }
  line = TrimLeft(line.substr(at));
  if (line.empty() || line.front() != '=') return false;
  line = TrimLeft(line.substr(1));

  std::vector<std::uint8_t> data;
  RegType type = RegType::Binary;
  if (!line.empty() && line.front() == '"') {
    std::string text;
    if (!ParseQuoted(line, &text, &at) || !Trim(line.substr(at)).empty()) return false;
    data.assign(text.begin(), text.end());
    data.push_back(0);
    type = RegType::Sz;
  } else if (StartsWithNoCase(line, "dword:")) {
    std::uint32_t number = 0;
    if (!ParseHexNumber(Trim(line.substr(6)), &number)) return false;
    data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    type = RegType::Dword;
  } else if (StartsWithNoCase(line, "hex")) {
    line.remove_prefix(3);
    if (!line.empty() && line.front() == '(') {
      const std::size_t close = line.find(')');
      std::uint32_t number = 0;
      if (close == std::string_view::npos || !ParseHexNumber(line.substr(1, close - 1), &number)) {
        return false;
      }
      type = static_cast<RegType>(number);
      line.remove_prefix(close + 1);
    }
    if (line.empty() || line.front() != ':' || !ParseBytes(line.substr(1), &data)) return false;
  } else {
    return false;
  }
  key.SetValue(name, type, std::move(data));
  return true;
}

// "[HKEY_CURRENT_USER\a\b]": the key, created with its parents; null when the line is not one.
Key* ParseSectionLine(std::string_view line, Key& root) {
  if (line.size() < 2 || line.back() != ']') return nullptr;
  std::string_view inner = line.substr(1, line.size() - 2);
  if (!StartsWithNoCase(inner, kRootName)) return nullptr;
  inner.remove_prefix(kRootName.size());
  if (!inner.empty() && inner.front() != '\\') return nullptr;
  const std::optional<KeyPath> path = SplitPath(inner);
  return path ? &CreatePath(root, *path) : nullptr;
}

// The lines of a file that Parse could not read, by their 1-based numbers.
struct ParseDamage {
  std::size_t lines = 0;
  std::size_t firstLine = 0;
  std::size_t lastLine = 0;

  void Note(std::size_t line) {
    if (line == lastLine) return;
    if (lines++ == 0) firstLine = line;
    lastLine = line;
  }
  bool Any() const { return lines > 0; }
};

// Moves past the next line of text (without its '\n'); false at the end.
bool NextLine(std::string_view& text, std::string_view* line) {
  if (text.empty()) return false;
  const std::size_t end = std::min(text.find('\n'), text.size());
  *line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return true;
}

// Reads a whole file into root, keeping every line it can read. A line that is not part of the
// format is noted in damage and skipped; so are the values below a key line that cannot be read,
// as they have no key to go to. A missing header is damage too, but the lines after it are read.
void Parse(std::string_view text, Key& root, ParseDamage& damage) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string_view line;
  if (!NextLine(text, &line)) {
    damage.Note(1);
    return;
  }
  std::size_t number = 1;
  const std::string_view header = Trim(line);
  // Without its header the first line may still be a key or a value: it is read like the others.
  bool again = header != kHeader4 && header != kHeader5;
  if (again) damage.Note(1);

  Key* current = nullptr;
  std::string joined;
  while (again || NextLine(text, &line)) {
    if (!again) ++number;
    again = false;
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') continue;
    if (trimmed.front() == '[') {
      current = ParseSectionLine(trimmed, root);
      if (!current) damage.Note(number);
      continue;
    }
    const std::size_t first = number;
    // Long hex data continues on the next lines after a final backslash. No other value form
    // can end in one: a quoted string ends in its quote.
    if (trimmed.back() == '\\') {
      joined.assign(trimmed.substr(0, trimmed.size() - 1));
      while (NextLine(text, &line)) {
        ++number;
        const std::string_view next = Trim(line);
        if (next.empty() || next.back() != '\\') {
          joined += next;
          break;
        }
        joined += next.substr(0, next.size() - 1);
      }
      trimmed = joined;
    }
    if (!current || !ParseValueLine(trimmed, *current)) damage.Note(first);
  }
}

// ---- The file on disk ------------------------------------------------------------------------

// What identifies one version of the file: a writer replaces the file by renaming a new one over
// it, so the inode changes with every write, and the times and size usually do as well.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& st) {
  return FileStamp{true,
                   st.st_dev,
                   st.st_ino,
                   st.st_size,
                   st.st_mtim.tv_sec,
                   st.st_mtim.tv_nsec,
                   st.st_ctim.tv_sec,
                   st.st_ctim.tv_nsec};
}

FileStamp StatFile(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return FileStamp{};
  return StampOf(st);
}

enum class ReadResult {
  Missing,
  Parsed,
  // Parsed with damage: the tree holds every line that could be read.
  Damaged,
  // Not a regular file, or larger than kMaxFileSize: not read, and never to be written over.
  Refused,
  Unreadable,
};

// What ReadTree found besides the tree.
struct ReadReport {
  FileStamp stamp;
  // The bytes read, kept when the file is damaged so that a copy can be saved.
  std::string bytes;
  ParseDamage damage;
  // Why a file was refused.
  std::string why;
};

// Reads and parses the file into a fresh tree. The stamp is taken from the open file, so it
// belongs to the bytes read even when a writer replaces the file meanwhile.
ReadResult ReadTree(const fs::path& file, Key* tree, ReadReport* report) {
  *tree = Key();
  *report = ReadReport();
  int fd = -1;
  switch (OpenRegularFile(file, &fd, &report->why)) {
    case FileOpenResult::Opened:
      break;
    case FileOpenResult::Missing:
      return ReadResult::Missing;
    case FileOpenResult::NotRegular:
      report->stamp = StatFile(file);
      return ReadResult::Refused;
    case FileOpenResult::Failed:
      return ReadResult::Unreadable;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  bool tooLarge = false;
  std::string& text = report->bytes;
  if (ok) {
    report->stamp = StampOf(st);
    tooLarge = static_cast<std::uint64_t>(st.st_size) > kMaxFileSize;
  }
  if (ok && !tooLarge) {
    text.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        // The file may grow while it is read.
        if (text.size() > kMaxFileSize) {
          tooLarge = true;
          break;
        }
      } else if (n == 0 || errno != EINTR) {
        ok = n == 0;
        break;
      }
    }
  }
  ::close(fd);
  if (!ok) return ReadResult::Unreadable;
  if (tooLarge) {
    text.clear();
    report->why = "it is larger than " + std::string(kMaxFileSizeText);
    return ReadResult::Refused;
  }
  Parse(text, *tree, report->damage);
  if (!report->damage.Any()) {
    text.clear();
    return ReadResult::Parsed;
  }
  return ReadResult::Damaged;
}

fs::path WithSuffix(const fs::path& file, std::string_view suffix) {
  fs::path path = file;
  path += suffix;
  return path;
}

// An exclusive flock on "<file>.lock", released when the object goes. The lock has a file of
// its own because the store file itself is replaced by every write.
class CFileLock {
 public:
  CFileLock() = default;
  ~CFileLock() {
    if (fd >= 0) ::close(fd);
  }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

  bool Acquire(const fs::path& path) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd);
        fd = -1;
        return false;
      }
    }
    return true;
  }

 private:
  int fd = -1;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes bytes to the first of "<file>.bad", "<file>.bad.1", … that does not exist yet, so an
// earlier copy is never overwritten; O_EXCL makes the choice safe against another process doing
// the same. The copy gets the mode of the file. Empty when no copy could be written.
fs::path KeepDamagedCopy(const fs::path& file, std::string_view bytes, mode_t mode) {
  constexpr int kMaxCopies = 1000;
  for (int n = 0; n < kMaxCopies; ++n) {
    const fs::path copy = WithSuffix(file, n == 0 ? ".bad" : ".bad." + std::to_string(n));
    const int fd =
        ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return fs::path();
    }
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) return copy;
    ::unlink(copy.c_str());
    return fs::path();
  }
  return fs::path();
}

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return fs::path();
}

}  // namespace

struct CRegistry::State {
  explicit State(fs::path path) : file(std::move(path)) {}

  bool Load(bool locked);
  bool Repair(const ReadReport& report);
  void Report(const FileStamp& about, std::string text);
  void Refresh();
  bool Replay();
  bool Make(Change change);
  bool Persist(bool singleChange);
  bool WriteFile();

  const fs::path file;
  // Calls from several threads on one store (the user's store is shared) take turns.
  std::mutex mutex;
  Key root;
  // Changes applied to root but not yet written to the file.
  std::vector<Change> journal;
  int batchDepth = 0;
  // Whether root holds the file as it was when stamp was taken.
  bool loaded = false;
  FileStamp stamp;
  // A message about the file for the user, shown once the mutex is released: a reporter may
  // show a window whose event loop reads the store again.
  std::string pendingMessage;
  // The version of the file the last message was about: each damaged or refused version is
  // reported once, however often it is read.
  FileStamp reported;
};

void CRegistry::State::Report(const FileStamp& about, std::string text) {
  if (about.exists && about == reported) return;
  reported = about;
  pendingMessage = std::move(text);
}

namespace {
// Runs work on a store's state under its mutex, then shows the message the work left, if any,
// with the mutex released.
template <typename StoreState, typename Work>
auto Locked(StoreState& state, Work work) {
  std::string message;
  auto result = [&] {
    std::lock_guard guard(state.mutex);
    auto done = work(state);
    message = std::move(state.pendingMessage);
    state.pendingMessage.clear();
    return done;
  }();
  if (!message.empty()) ReportMessage(message);
  return result;
}
}  // namespace

// Replaces root by the file's content. A missing file is an empty store. A damaged file keeps
// what could be read and is repaired (see Repair). A file that is refused (not a regular file,
// too large) leaves root empty and is reported once; it is kept as it is, and its stamp is kept
// so that it is not looked at again until it changes. False when the file must not be written
// over: it is refused, damaged and not repaired, or it exists but cannot be read (root is then
// empty and the next access tries again).
bool CRegistry::State::Load(bool locked) {
  ReadReport report;
  ReadResult result = ReadTree(file, &root, &report);
  if (result == ReadResult::Damaged) {
    // Only a file that is still damaged under the lock is repaired: without the lock this may
    // have been a writer's file that another writer has already replaced.
    CFileLock lock;
    if (!locked) lock.Acquire(WithSuffix(file, ".lock"));
    result = ReadTree(file, &root, &report);
    if (result == ReadResult::Damaged) return Repair(report);
  }
  if (result == ReadResult::Refused) {
    Report(report.stamp, "The settings store " + file.string() + " is not read: " + report.why +
                             ". Changes to the settings are not saved.");
    loaded = true;
    stamp = report.stamp;
    return false;
  }
  loaded = result != ReadResult::Unreadable;
  stamp = report.stamp;
  return loaded;
}

// Root holds what could be read of a damaged file, whose bytes the report holds. The damaged
// file is saved as a copy under a new name and replaced by what was read, so that the damage is
// handled once, not by every later run. Without a copy the file is not written over: no change
// is saved until it is mended or moved by hand. Called under the lock.
bool CRegistry::State::Repair(const ReadReport& report) {
  const ParseDamage& damage = report.damage;
  const std::string what = "The settings store " + file.string() + " has " +
                           std::to_string(damage.lines) + " damaged line" +
                           (damage.lines == 1 ? "" : "s") + " (the first is line " +
                           std::to_string(damage.firstLine) + "): ";
  struct stat st {};
  const mode_t mode = ::stat(file.c_str(), &st) == 0 ? st.st_mode : 0600;
  const fs::path copy = KeepDamagedCopy(file, report.bytes, mode);
  if (!copy.empty() && WriteFile()) {
    Report(report.stamp, what + "the other settings are kept, and the damaged file is saved as " +
                             copy.string() + ".");
    return true;
  }
  if (!copy.empty()) ::unlink(copy.c_str());
  Report(report.stamp, what + "the other settings are used, but no copy of the damaged file " +
                           "could be saved beside it, so changes to the settings are not saved.");
  loaded = true;
  stamp = report.stamp;
  return false;
}

void CRegistry::State::Refresh() {
  if (loaded && StatFile(file) == stamp) return;
  Load(false);
  Replay();
}

// Makes the pending changes again on a freshly read root; false when one of them found its key
// or value gone.
bool CRegistry::State::Replay() {
  bool all = true;
  for (const Change& change : journal) all = Apply(root, change) && all;
  return all;
}

bool CRegistry::State::Make(Change change) {
  if (!Apply(root, change)) return false;
  journal.push_back(std::move(change));
  return batchDepth > 0 || Persist(true);
}

// Writes the pending changes on top of the file as it is now. On failure the changes are
// dropped and root goes back to what the file holds.
bool CRegistry::State::Persist(bool singleChange) {
  bool written = false;
  {
    CFileLock lock;
    std::error_code error;
    // Something other than a file in the store's place (a FIFO, /dev/zero, a folder) gets no
    // lock file or folder beside it either.
    struct stat st {};
    const bool refused = ::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (!refused && file.has_parent_path()) fs::create_directories(file.parent_path(), error);
    // The file is read again under the lock even when its stamp looks unchanged: with coarse
    // file times, a reused inode and an equal size, a stamp can miss another writer's change,
    // and writing over that change would lose it. A file that exists but cannot be read is
    // never written over.
    if (!refused && !error && lock.Acquire(WithSuffix(file, ".lock")) && Load(true)) {
      if (!Replay() && singleChange) {
        // Another process removed the key meanwhile: root is the file, and nothing is written.
        journal.clear();
        return false;
      }
      written = WriteFile();
    }
  }
  journal.clear();
  if (!written) Load(false);
  return written;
}

bool CRegistry::State::WriteFile() {
  std::string text;
  if (!Serialize(root, &text)) return false;
  const fs::path temporary = WithSuffix(file, ".tmp." + std::to_string(::getpid()));
  // The name is this process's own: whatever is there was left by a crash, or was put there to
  // be written through (a link, a FIFO), and goes. A folder in the way makes the write fail.
  ::unlink(temporary.c_str());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat previous {};
  if (::stat(file.c_str(), &previous) == 0) ::fchmod(fd, previous.st_mode & 07777);
  struct stat written {};
  bool ok = WriteAll(fd, text) && ::fsync(fd) == 0 && ::fstat(fd, &written) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself is durable only once the folder is synced.
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  // Stamped after the rename, which changes the inode's ctime; no one else writes meanwhile,
  // as the caller holds the lock.
  stamp = StatFile(file);
  if (!stamp.exists) stamp = StampOf(written);
  loaded = true;
  return true;
}

fs::path CRegistry::DefaultPath() {
  if (const char* path = std::getenv("TARNVELOX_REGISTRY"); path && *path) return path;
  fs::path config;
  // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    config = HomeFolder() / ".config";
  }
  return config / "tarnvelox" / "registry.reg";
}

CRegistry& CRegistry::User() {
  static CRegistry store(DefaultPath());
  return store;
}

CRegistry::CRegistry(fs::path file) : state(std::make_unique<State>(std::move(file))) {}

CRegistry::~CRegistry() = default;

const fs::path& CRegistry::File() const {
  return state->file;
}

bool CRegistry::OpenKey(std::string_view key) {
  const std::optional<KeyPath> path = SplitPath(key);
  if (!path) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    return FindKey(s.root, *path) != nullptr;
  });
}

bool CRegistry::CreateKey(std::string_view key) {
  std::optional<KeyPath> path = SplitPath(key);
  if (!path) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    if (FindKey(s.root, *path)) return true;
    return s.Make(Change{Change::Kind::CreateKey, std::move(*path), {}, RegType::None, {}});
  });
}

bool CRegistry::QueryValue(std::string_view key, std::string_view name, RegType* type,
                           std::vector<std::uint8_t>* data) {
  const std::optional<KeyPath> path = SplitPath(key);
  if (!path) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    const Key* found = FindKey(s.root, *path);
    const Value* value = found ? found->FindValue(name) : nullptr;
    if (!value) return false;
    if (type) *type = value->type;
    if (data) *data = value->data;
    return true;
  });
}

bool CRegistry::SetValue(std::string_view key, std::string_view name, RegType type,
                         std::span<const std::uint8_t> data) {
  std::optional<KeyPath> path = SplitPath(key);
  if (!path || !StorableName(name)) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    return s.Make(Change{Change::Kind::SetValue, std::move(*path), std::string(name), type,
                         std::vector<std::uint8_t>(data.begin(), data.end())});
  });
}

bool CRegistry::SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return SetValue(key, name, RegType::Dword, bytes);
}

bool CRegistry::SetString(std::string_view key, std::string_view name, std::string_view text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return SetValue(key, name, RegType::Sz, bytes);
}

bool CRegistry::DeleteValue(std::string_view key, std::string_view name) {
  std::optional<KeyPath> path = SplitPath(key);
  if (!path) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    return s.Make(
        Change{Change::Kind::DeleteValue, std::move(*path), std::string(name), RegType::None, {}});
  });
}

bool CRegistry::EnumSubKey(std::string_view key, std::uint32_t index, std::string* name) {
  const std::optional<KeyPath> path = SplitPath(key);
  if (!path) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    const Key* found = FindKey(s.root, *path);
    if (!found || index >= found->subkeys.size()) return false;
    if (name) *name = found->subkeys[index]->name;
    return true;
  });
}

bool CRegistry::DeleteSubKey(std::string_view key, std::string_view subkey) {
  std::optional<KeyPath> path = SplitPath(key);
  const std::optional<KeyPath> below = SplitPath(subkey);
  if (!path || !below || below->empty()) return false;
  path->insert(path->end(), below->begin(), below->end());
  if (path->size() > kMaxKeyDepth) return false;
  return Locked(*state, [&](State& s) {
    s.Refresh();
    return s.Make(Change{Change::Kind::DeleteSubKey, std::move(*path), {}, RegType::None, {}});
  });
}

CRegistryBatch::CRegistryBatch(CRegistry& store) : store(store) {
  Locked(*store.state, [](CRegistry::State& s) { return ++s.batchDepth; });
}

CRegistryBatch::~CRegistryBatch() {
  Commit();
}

bool CRegistryBatch::Commit() {
  if (ended) return written;
  ended = true;
  written = Locked(*store.state, [](CRegistry::State& s) {
    return --s.batchDepth > 0 || s.journal.empty() || s.Persist(false);
  });
  return written;
}
