// The settings store: its file format, names, batches, several processes sharing one file, and
// files that are damaged, huge or not files at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

using Data = std::vector<std::uint8_t>;

Data Bytes(std::string_view text) {
  return Data(text.begin(), text.end());
}

// The bytes of a value, or "missing" when it cannot be read.
Data Query(CRegistry& store, std::string_view key, std::string_view name, RegType* type = nullptr) {
  Data data;
  if (!store.QueryValue(key, name, type, &data)) return Bytes("missing");
  return data;
}

std::vector<std::string> SubKeys(CRegistry& store, std::string_view key) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; store.EnumSubKey(key, i, &name); ++i) names.push_back(name);
  return names;
}

void SetEnv(const char* name, const char* value) {
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

TEST(Registry, KeepsEveryTypeAndByteStringThroughTheFile) {
  TempDir dir;
  Data allBytes;
  for (int b = 0; b < 256; ++b) allBytes.push_back(static_cast<std::uint8_t>(b));
  const struct {
    const char* name;
    RegType type;
    Data data;
  } cases[] = {
      {"Dword", RegType::Dword, {0x0a, 0, 0, 0x80}},
      {"Text", RegType::Sz, Bytes(std::string_view("say \"hi\" C:\\dir\\\0", 17))},
      {"EmptyText", RegType::Sz, {0}},
      {"NoData", RegType::Sz, {}},
      {"NoNul", RegType::Sz, Bytes("abc")},
      {"InnerNul", RegType::Sz, Bytes(std::string_view("a\0b\0", 4))},
      {"LineBreak", RegType::Sz, Bytes(std::string_view("one\ntwo\r\0", 9))},
      {"Utf8", RegType::Sz,
       Bytes(std::string_view("Gr\xC3\xBC\xC3\x9F"
                              "e\0",
                              7))},
      {"Expand", RegType::ExpandSz, Bytes(std::string_view("%HOME%\\x\0", 9))},
      {"EmptyBinary", RegType::Binary, {}},
      {"AllBytes", RegType::Binary, allBytes},
      {"ShortDword", RegType::Dword, {1, 2, 3}},
      {"LongDword", RegType::Dword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"NoType", RegType::None, {9}},
      {"Qword", static_cast<RegType>(11), {1, 2, 3, 4, 5, 6, 7, 8}},
      {"", RegType::Sz, Bytes(std::string_view("default value\0", 14))},
      {"we\"ird\\name=", RegType::Binary, {0x5c, 0x22}},
  };
  {
    CRegistry writer(dir / "store.reg");
    ASSERT_TRUE(writer.CreateKey("Software\\App"));
    for (const auto& c : cases)
      EXPECT_TRUE(writer.SetValue("Software\\App", c.name, c.type, c.data));
  }
  CRegistry reader(dir / "store.reg");
  for (const auto& c : cases) {
    RegType type = RegType::None;
    EXPECT_EQ(Query(reader, "Software\\App", c.name, &type), c.data) << "value \"" << c.name << '"';
    EXPECT_EQ(type, c.type) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir / "store.reg.bad")) << "the written file did not parse";
}

TEST(Registry, WritesTheRegedit4FormatAndReadsRegeditsOwnFiles) {
  TempDir dir;
  CRegistry store(dir / "store.reg");
  ASSERT_TRUE(store.CreateKey("Software\\App\\Empty"));
  EXPECT_TRUE(store.SetDword("Software\\App", "Count", 10));
  EXPECT_TRUE(store.SetString("Software\\App", "Name", "say \"hi\" C:\\dir"));
  EXPECT_TRUE(store.SetValue("Software\\App", "Raw", RegType::Binary, Bytes("\x01\x02\xff")));
  EXPECT_TRUE(store.SetValue("Software\\App", "NoNul", RegType::Sz, Bytes("ab")));
  EXPECT_TRUE(store.SetValue("Software\\App", "Path", RegType::ExpandSz, Bytes("%")));
  EXPECT_TRUE(store.SetValue("Software\\App", "Short", RegType::Dword, Bytes("\x01\x02")));
  EXPECT_EQ(ReadFile(dir / "store.reg"), R"(REGEDIT4

[HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\App]
"Count"=dword:0000000a
"Name"="say \"hi\" C:\\dir"
"Raw"=hex:01,02,ff
"NoNul"=hex(1):61,62
"Path"=hex(2):25
"Short"=hex(4):01,02

[HKEY_CURRENT_USER\Software\App\Empty]

)");

  WriteFile(dir / "regedit.reg",
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; by hand\r\n"
            "[hkey_current_user\\Software\\App]\r\n@=\"default\"\r\n"
            "\"Long\"=hex:00,01,02,\\\r\n  03,04,\\\r\n  FF\r\n"
            "\"Dword\"=DWORD:FFFFFFFE\r\n\"Path\"=\"C:\\Temp\"\r\n");
  CRegistry regedit(dir / "regedit.reg");
  EXPECT_EQ(Query(regedit, "Software\\App", ""), Bytes(std::string_view("default\0", 8)));
  EXPECT_EQ(Query(regedit, "Software\\App", "Long"), (Data{0, 1, 2, 3, 4, 0xff}));
  EXPECT_EQ(Query(regedit, "Software\\App", "Dword"), (Data{0xfe, 0xff, 0xff, 0xff}));
  // A lone backslash before an ordinary character stays, as in a hand-typed path.
  EXPECT_EQ(Query(regedit, "Software\\App", "Path"), Bytes(std::string_view("C:\\Temp\0", 8)));
}

TEST(Registry, NamesKeysAndValuesWithoutRegardToCaseAndRefusesBadNames) {
  TempDir dir;
  CRegistry store(dir / "sub" / "store.reg");
  EXPECT_TRUE(store.OpenKey("")) << "the root always exists";
  EXPECT_FALSE(store.SetDword("Software", "x", 1)) << "a value needs an existing key";
  EXPECT_FALSE(fs::exists(dir / "sub" / "store.reg")) << "nothing was changed, nothing written";

  ASSERT_TRUE(store.CreateKey("Software\\Kestrim\\Common"));
  EXPECT_TRUE(store.CreateKey("SOFTWARE\\KESTRIM\\tarnvelox"));
  EXPECT_TRUE(store.OpenKey("\\software\\kestrim\\COMMON\\"));
  EXPECT_EQ(SubKeys(store, "software"), std::vector<std::string>{"Kestrim"})
      << "the first spelling of a key is the one kept";
  ASSERT_TRUE(store.SetDword("Software\\Kestrim\\Common", "UsePenWidth", 1));
  ASSERT_TRUE(store.SetDword("software\\kestrim\\common", "USEPENWIDTH", 2));
  const std::string text = ReadFile(dir / "sub" / "store.reg");
  EXPECT_NE(text.find("\"UsePenWidth\"=dword:00000002"), std::string::npos) << text;
  EXPECT_EQ(text.find("USEPENWIDTH"), std::string::npos) << "the value was stored twice";
  CRegistry reader(dir / "sub" / "store.reg");
  EXPECT_EQ(Query(reader, "SOFTWARE\\kestrim\\Common", "usePenWidth"), (Data{2, 0, 0, 0}));
  EXPECT_TRUE(reader.OpenKey("Software\\Kestrim\\Tarnvelox"));

  EXPECT_FALSE(store.OpenKey("Software\\\\Kestrim"));
  EXPECT_FALSE(store.CreateKey("Software\\\\Other"));
  EXPECT_FALSE(store.CreateKey(std::string_view("Software\\a\0b", 12)));
  EXPECT_FALSE(store.SetDword("Software", "two\nlines", 1));
  EXPECT_FALSE(store.DeleteValue("Software", "x"));
  EXPECT_FALSE(store.DeleteSubKey("Software", ""));
}

TEST(Registry, EnumeratesSubkeysInCreationOrderAndDeletesWholeBranches) {
  TempDir dir;
  CRegistry store(dir / "store.reg");
  for (const char* key : {"Sets\\Plot", "Sets\\Alpha", "Sets\\Zulu\\Deep\\Deeper", "Sets\\Mid"}) {
    ASSERT_TRUE(store.CreateKey(key)) << key;
  }
  ASSERT_TRUE(store.SetDword("Sets\\Zulu\\Deep", "v", 1));
  ASSERT_TRUE(store.SetDword("Sets\\Zulu", "w", 2));
  const std::vector<std::string> created = {"Plot", "Alpha", "Zulu", "Mid"};
  EXPECT_EQ(SubKeys(store, "Sets"), created);
  CRegistry fresh(store.File());
  EXPECT_EQ(SubKeys(fresh, "sets"), created) << "the file keeps the order";

  EXPECT_TRUE(store.DeleteSubKey("Sets", "zulu"));
  EXPECT_FALSE(store.DeleteSubKey("Sets", "Zulu")) << "it is gone already";
  EXPECT_TRUE(store.DeleteSubKey("", "Sets\\Plot")) << "a subkey may be named by a path";
  ASSERT_TRUE(store.CreateKey("Sets\\Zulu"));
  EXPECT_EQ(Query(store, "Sets\\Zulu", "w"), Bytes("missing")) << "a key made again is empty";
  CRegistry reader(dir / "store.reg");
  EXPECT_EQ(SubKeys(reader, "Sets"), (std::vector<std::string>{"Alpha", "Mid", "Zulu"}));
  EXPECT_FALSE(reader.OpenKey("Sets\\Zulu\\Deep"));
}

TEST(Registry, KeepsEveryLineItCanReadOfADamagedFileAndSavesACopy) {
  // Each file holds A\v = 1 where it can be read; nothing else of it is readable.
  const struct {
    const char* what;
    std::string text;
    bool keepsV;
  } cases[] = {
      {"garbage", "garbage\n", false},
      {"an empty file", "", false},
      {"no header", "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:00000001\n", true},
      {"a value before any key",
       "REGEDIT4\n\"Orphan\"=dword:00000001\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:00000001\n", true},
      {"bad values among good ones",
       "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=qword:1\n\"v\"=dword:00000001\n"
       "\"y\"=dword:123456789\n\"z\"=hex:1,234\n\"w\"=\"unterminated\n",
       true},
      {"key lines that cannot be read",
       "REGEDIT4\n[HKEY_LOCAL_MACHINE\\B]\n\"lost\"=dword:1\n[HKEY_CURRENT_USER\\B\\\\C]\n"
       "\"lost\"=hex:01,\\\n  02\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:00000001\n",
       true},
      {"a lone continuation", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\\\n\n\"v\"=dword:00000001\n",
       true},
  };
  TempDir dir;
  const fs::path file = dir / "store.reg";
  WriteFile(dir / "store.reg.bad", "an older damaged file");
  int copies = 0;
  for (const auto& c : cases) {
    WriteFile(file, c.text);
    testsupport::CRecordingReporter reporter;
    CRegistry store(file);
    EXPECT_EQ(store.OpenKey("A"), c.keepsV) << c.what;
    EXPECT_EQ(Query(store, "A", "v"), (c.keepsV ? Data{1, 0, 0, 0} : Bytes("missing"))) << c.what;
    EXPECT_FALSE(store.OpenKey("B")) << c.what;
    EXPECT_TRUE(store.CreateKey("New")) << c.what;

    const fs::path copy = dir / ("store.reg.bad." + std::to_string(++copies));
    EXPECT_EQ(ReadFile(copy), c.text) << c.what << ": the damaged file is kept for a person";
    ASSERT_EQ(reporter.messages.size(), 1u) << c.what << ": the damage is reported once";
    EXPECT_NE(reporter.messages[0].find(copy.string()), std::string::npos) << reporter.messages[0];
    // The file now holds what was read, so a later run reads it without a word.
    CRegistry later(file);
    EXPECT_EQ(Query(later, "A", "v"), (c.keepsV ? Data{1, 0, 0, 0} : Bytes("missing"))) << c.what;
    EXPECT_TRUE(later.OpenKey("New")) << c.what;
    EXPECT_EQ(reporter.messages.size(), 1u) << c.what;
  }
  EXPECT_EQ(ReadFile(dir / "store.reg.bad"), "an older damaged file");
  EXPECT_FALSE(fs::exists(dir / ("store.reg.bad." + std::to_string(copies + 1))));
}

TEST(Registry, NamesTheFirstDamagedLineAndCountsThem) {
  TempDir dir;
  WriteFile(dir / "store.reg",
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:00000001\n\"x\"=oops\n\"y\"=oops\n");
  testsupport::CRecordingReporter reporter;
  CRegistry store(dir / "store.reg");
  EXPECT_TRUE(store.OpenKey("A"));
  ASSERT_EQ(reporter.messages.size(), 1u);
  EXPECT_NE(reporter.messages[0].find("has 2 damaged lines (the first is line 5)"),
            std::string::npos)
      << reporter.messages[0];
}

// A child process with a limit on the size of the files it writes: a write past the limit
// fails (EFBIG) as on a full disk, even for root. The limit would also hit the test's own
// output, so the case runs in a child, which says what it found by its exit status.
TEST(Registry, UsesADamagedFileItCannotCopyButNeverWritesOverIt) {
  TempDir dir;
  const std::string text = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:00000001\n\"x\"=oops\n" +
                           std::string(4000, ';') + "\n";
  WriteFile(dir / "store.reg", text);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 1000;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(90);
    testsupport::CRecordingReporter reporter;
    CRegistry store(dir / "store.reg");
    int faults = 0;
    if (Query(store, "A", "v") != Data{1, 0, 0, 0}) faults |= 1;
    if (store.SetDword("A", "w", 2)) faults |= 2;
    if (reporter.messages.size() != 1 ||
        reporter.messages[0].find("changes to the settings are not saved") == std::string::npos) {
      faults |= 4;
    }
    _exit(faults);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 90) << "the file size limit could not be set";
  EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "what could be read was not used";
  EXPECT_EQ(WEXITSTATUS(status) & 2, 0) << "a change was saved over a damaged file without a copy";
  EXPECT_EQ(WEXITSTATUS(status) & 4, 0) << "not reported once";
  EXPECT_EQ(ReadFile(dir / "store.reg"), text);
  EXPECT_FALSE(fs::exists(dir / "store.reg.bad")) << "a cut-off copy was left";
}

TEST(Registry, RefusesWhatIsNotARegularFileWithoutWaitingOnIt) {
  TempDir dir;
  testsupport::CFifoWatch fifo(dir / "fifo.reg");
  ASSERT_TRUE(fifo.Made());
  fs::create_directory(dir / "folder.reg");
  for (const fs::path& path : {dir / "fifo.reg", dir / "folder.reg", fs::path("/dev/zero")}) {
    testsupport::CRecordingReporter reporter;
    CRegistry store(path);
    EXPECT_FALSE(store.OpenKey("A")) << path;
    EXPECT_FALSE(store.CreateKey("A")) << path << ": a change was stored";
    EXPECT_FALSE(store.OpenKey("A")) << path;
    ASSERT_EQ(reporter.messages.size(), 1u) << path << ": not reported once";
    EXPECT_NE(reporter.messages[0].find("not a regular file"), std::string::npos)
        << reporter.messages[0];
    EXPECT_FALSE(fs::exists(path.string() + ".lock")) << "a lock file was made beside " << path;
  }
  EXPECT_FALSE(fifo.Opened()) << "the store opened a FIFO";
  EXPECT_TRUE(fs::is_fifo(dir / "fifo.reg"));
  EXPECT_TRUE(fs::is_empty(dir / "folder.reg"));

  // Whatever is found where the temporary file of a write goes is not written through.
  CRegistry store(dir / "store.reg");
  ASSERT_TRUE(store.CreateKey("A"));
  testsupport::CFifoWatch inTheWay(dir / ("store.reg.tmp." + std::to_string(getpid())));
  ASSERT_TRUE(inTheWay.Made());
  EXPECT_TRUE(store.SetDword("A", "v", 1));
  EXPECT_FALSE(inTheWay.Opened()) << "the write went into a FIFO";
  CRegistry reader(dir / "store.reg");
  EXPECT_EQ(Query(reader, "A", "v"), (Data{1, 0, 0, 0}));
}

TEST(Registry, RefusesAFileLargerThan16MiB) {
  TempDir dir;
  const std::string text = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n";
  WriteFile(dir / "store.reg", text);
  fs::resize_file(dir / "store.reg", (16u << 20) + 1);  // sparse: no disk space taken
  testsupport::CRecordingReporter reporter;
  CRegistry store(dir / "store.reg");
  EXPECT_FALSE(store.OpenKey("A"));
  EXPECT_FALSE(store.CreateKey("B"));
  ASSERT_EQ(reporter.messages.size(), 1u);
  EXPECT_NE(reporter.messages[0].find("larger than 16 MiB"), std::string::npos)
      << reporter.messages[0];
  EXPECT_EQ(fs::file_size(dir / "store.reg"), (16u << 20) + 1);
  EXPECT_FALSE(fs::exists(dir / "store.reg.bad")) << "a refused file is not damaged";

  // Nor is a file written that would be refused when read: 512 levels of 255-byte names make
  // a section line per level, each holding the whole path.
  fs::remove(dir / "store.reg");
  std::string deep;
  for (int level = 0; level < 512; ++level) deep += '\\' + std::string(255, 'k');
  EXPECT_FALSE(store.CreateKey(deep));
  EXPECT_FALSE(fs::exists(dir / "store.reg"));
}

TEST(Registry, BoundsTheDepthOfKeys) {
  TempDir dir;
  std::string path;
  for (int level = 0; level < 512; ++level) path += "\\k";
  CRegistry store(dir / "store.reg");
  EXPECT_TRUE(store.CreateKey(path)) << "512 levels, as the registry allows";
  EXPECT_FALSE(store.CreateKey(path + "\\k"));
  EXPECT_FALSE(store.DeleteSubKey(path, "k"));

  // A file with a key a million levels deep (a crash when its keys were freed) loses that line
  // and the value below it.
  std::string text = "REGEDIT4\n[HKEY_CURRENT_USER";
  for (int level = 0; level < 1'000'000; ++level) text += "\\k";
  text += "]\n\"x\"=dword:00000001\n[HKEY_CURRENT_USER\\A]\n";
  WriteFile(dir / "deep.reg", text);
  testsupport::CRecordingReporter reporter;
  CRegistry deepStore(dir / "deep.reg");
  EXPECT_TRUE(deepStore.OpenKey("A"));
  EXPECT_FALSE(deepStore.OpenKey("k"));
  ASSERT_EQ(reporter.messages.size(), 1u);
  EXPECT_NE(reporter.messages[0].find("has 2 damaged lines"), std::string::npos)
      << reporter.messages[0];
}

TEST(Registry, ReadsAndSavesStoresOfManyKeysAndValues) {
  // The shapes a large file can take (their speed is measured by bench/PenSetBench.cpp).
  std::string keysOfValues = "REGEDIT4\n\n";
  for (int k = 0; k < 100; ++k) {
    keysOfValues += "[HKEY_CURRENT_USER\\Big\\Key" + std::to_string(k) + "]\n";
    for (int v = 0; v < 100; ++v) {
      keysOfValues += "\"W" + std::to_string(v) + "\"=hex:00,00,00,00,00,00,f0,3f\n";
    }
    keysOfValues += '\n';
  }
  std::string oneKey = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Big]\n";
  for (int v = 0; v < 10'000; ++v) oneKey += "\"V" + std::to_string(v) + "\"=\"text\"\n";
  for (const auto& [what, text] : {std::pair{"100 keys of 100 values", &keysOfValues},
                                   std::pair{"one key of 10000 values", &oneKey}}) {
    TempDir dir;
    WriteFile(dir / "store.reg", *text);
    CRegistry store(dir / "store.reg");
    EXPECT_TRUE(store.OpenKey("Big")) << what;
    EXPECT_TRUE(store.SetDword("Big", "New", 1)) << what;
    CRegistry again(dir / "store.reg");
    RegType type = RegType::None;
    std::vector<std::uint8_t> data;
    EXPECT_TRUE(again.QueryValue("Big", "New", &type, &data)) << what;
    const bool keys = text == &keysOfValues;
    EXPECT_TRUE(again.QueryValue(keys ? "Big\\Key99" : "Big", keys ? "W99" : "V9999", &type, &data))
        << what << ": the last value is kept";
    EXPECT_FALSE(fs::exists(dir / "store.reg.bad")) << what;
  }
}

TEST(Registry, BatchWritesOnceAtItsEndOnTopOfOtherWriters) {
  TempDir dir;
  CRegistry store(dir / "store.reg");
  CRegistry other(dir / "store.reg");
  ASSERT_TRUE(store.CreateKey("Before"));
  EXPECT_TRUE(other.OpenKey("Before")) << "a read sees another store's change";
  const std::string before = ReadFile(dir / "store.reg");
  {
    CRegistryBatch batch(store);
    ASSERT_TRUE(store.CreateKey("Set"));
    {
      CRegistryBatch inner(store);
      for (std::uint32_t i = 0; i < 100; ++i)
        EXPECT_TRUE(store.SetDword("Set", std::to_string(i), i));
      EXPECT_TRUE(store.DeleteSubKey("", "Before"));
    }
    EXPECT_EQ(ReadFile(dir / "store.reg"), before) << "written before the outer batch ended";
    EXPECT_FALSE(other.OpenKey("Set"));
    ASSERT_TRUE(other.CreateKey("Other"));  // must survive the batch's write
    EXPECT_TRUE(store.OpenKey("Other"));
    EXPECT_EQ(Query(store, "Set", "42"), (Data{42, 0, 0, 0})) << "a refresh lost the batch";
    EXPECT_TRUE(batch.Commit());
  }
  EXPECT_EQ(Query(other, "Set", "99"), (Data{99, 0, 0, 0}));
  EXPECT_TRUE(other.OpenKey("Other"));
  EXPECT_FALSE(other.OpenKey("Before"));
  ASSERT_TRUE(store.DeleteSubKey("", "Set"));
  EXPECT_FALSE(other.SetDword("Set", "1", 1)) << "the key was deleted by the other store";
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const fs::path file = dir / "shared" / "store.reg";
  ASSERT_TRUE(CRegistry(file).CreateKey("Shared"));
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      CRegistry store(file);
      bool ok = true;
      for (std::uint32_t i = 0; i < 200; ++i) {
        ok = store.SetDword("Shared", std::to_string(child) + "_" + std::to_string(i), i) && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child's write failed";
  }
  CRegistry reader(file);
  int lost = 0;
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < 200; ++i) {
      const std::string name = std::to_string(child) + "_" + std::to_string(i);
      lost += Query(reader, "Shared", name) != Data{std::uint8_t(i), 0, 0, 0};
    }
  }
  EXPECT_EQ(lost, 0) << "values lost between two writers";
}

TEST(Registry, AFailedWriteReturnsFalseAndKeepsTheStoredData) {
  TempDir dir;
  // A regular file where the folder should be: running as root does not get around that.
  WriteFile(dir / "plain", "not a folder");
  CRegistry nowhere(dir / "plain" / "sub" / "store.reg");
  EXPECT_FALSE(nowhere.CreateKey("App"));
  EXPECT_FALSE(nowhere.OpenKey("App")) << "the failed change was kept in memory";

  CRegistry store(dir / "store.reg");
  ASSERT_TRUE(store.CreateKey("App"));
  ASSERT_TRUE(store.SetDword("App", "n", 1));
  const std::string before = ReadFile(dir / "store.reg");
  // A folder in the way of the temporary file makes the write itself fail.
  fs::create_directory((dir / "store.reg").string() + ".tmp." + std::to_string(getpid()));
  EXPECT_FALSE(store.SetDword("App", "n", 2));
  EXPECT_FALSE(store.CreateKey("App\\Sub"));
  EXPECT_FALSE(store.DeleteSubKey("", "App"));
  {
    CRegistryBatch batch(store);
    EXPECT_TRUE(store.SetDword("App", "m", 3)) << "a change in a batch is made in memory";
    {
      CRegistryBatch inner(store);
      EXPECT_TRUE(store.SetDword("App", "k", 4));
      EXPECT_TRUE(inner.Commit()) << "a nested batch leaves the write to the outer one";
    }
    EXPECT_FALSE(batch.Commit()) << "the batch's failed write was not reported";
    EXPECT_FALSE(batch.Commit());
  }
  EXPECT_EQ(Query(store, "App", "n"), (Data{1, 0, 0, 0}));
  EXPECT_EQ(Query(store, "App", "m"), Bytes("missing"));
  EXPECT_FALSE(store.OpenKey("App\\Sub"));
  EXPECT_EQ(ReadFile(dir / "store.reg"), before);
}

TEST(Registry, DefaultPathFollowsTheEnvironment) {
  std::vector<std::pair<const char*, std::string>> saved;
  for (const char* name : {"TARNVELOX_REGISTRY", "XDG_CONFIG_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? value : "\x01");
  }
  SetEnv("HOME", "/home/someone");
  SetEnv("TARNVELOX_REGISTRY", "/elsewhere/my.reg");
  EXPECT_EQ(CRegistry::DefaultPath(), fs::path("/elsewhere/my.reg"));
  SetEnv("TARNVELOX_REGISTRY", "");
  SetEnv("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(CRegistry::DefaultPath(), fs::path("/cfg/tarnvelox/registry.reg"));
  SetEnv("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(CRegistry::DefaultPath(), fs::path("/home/someone/.config/tarnvelox/registry.reg"));
  for (const auto& [name, value] : saved) SetEnv(name, value == "\x01" ? nullptr : value.c_str());
}
