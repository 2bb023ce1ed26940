// The settings store: its file format, names, batches, and several processes sharing one file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(Registry, MovesAFileItCannotParseAsideAndStartsEmpty) {
  for (const char* text :
       {"garbage\n", "", "REGEDIT4\n\n\"Orphan\"=dword:00000001\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=qword:1\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:123456789\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:1,234\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"unterminated\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n"}) {
    TempDir dir;
    WriteFile(dir / "store.reg.bad", "an older damaged file");
    WriteFile(dir / "store.reg", text);
    CRegistry store(dir / "store.reg");
    EXPECT_FALSE(store.OpenKey("A")) << text;
    EXPECT_FALSE(fs::exists(dir / "store.reg")) << text;
    EXPECT_EQ(ReadFile(dir / "store.reg.bad"), text) << "the damaged file is kept for a person";
    EXPECT_TRUE(store.CreateKey("A")) << text;
    EXPECT_TRUE(CRegistry(dir / "store.reg").OpenKey("A")) << text;
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
    EXPECT_TRUE(store.SetDword("App", "m", 3)) << "a batch reports no write failure";
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
