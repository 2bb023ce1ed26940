// The DWG container, object framing and header variables: on files the tests build, on the
// shared corpus of real drawings (skipped when it is absent), and on damaged input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "DwgTestFiles.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/dwg/detail/DwgContainerBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace drawing::dwg;
namespace fs = std::filesystem;

// Reads everything a reader of the layers above would: the container, the header variables
// and the frame of every mapped object, checking the promises the API makes on the way.
// Gives how many objects framed.
std::size_t ReadEverything(std::string_view file, std::string* containerError = nullptr) {
  CDwgContainer container;
  std::string error;
  const bool read = ReadDwgContainer(file, container, &error);
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  if (containerError) *containerError = error;
  if (!read) {
    EXPECT_FALSE(error.empty()) << "a failure without a reason";
    return 0;
  }
  CDwgHeader header;
  ReadDwgHeader(container, header, &error);
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  std::size_t framed = 0;
  for (const CDwgObjectLocation& entry : container.objectMap) {
    EXPECT_LT(entry.offset, container.objectData.size());
    CDwgObjectFrame frame;
    if (!ReadObjectFrame(container, entry.offset, frame, &error)) continue;
    ++framed;
    EXPECT_LE(frame.handles.EndBit(), (frame.dataOffset + frame.size) * 8);
    EXPECT_LE(frame.data.EndBit(), frame.handles.StartBit());
    while (!frame.handles.Failed()) frame.handles.ReadH();
    while (!frame.Strings().Failed()) frame.Strings().ReadText();
  }
  return framed;
}

// ---- Files built by the tests --------------------------------------------------------------

void ExpectSyntheticContents(const CDwgContainer& container) {
  ASSERT_EQ(container.classes.size(), 1u);
  EXPECT_EQ(container.classes[0].number, 500);
  EXPECT_EQ(container.classes[0].dxfName, "ACDBDICTIONARYWDFLT");
  EXPECT_EQ(container.classes[0].cppClassName, "AcDbDictionaryWithDefault");
  EXPECT_EQ(container.classes[0].applicationName, "ObjectDBX Classes");
  EXPECT_FALSE(container.classes[0].isEntity);

  ASSERT_EQ(container.objectMap.size(), 4u);
  const std::uint16_t types[] = {0x30, 0x32, 0x13, 500};
  for (std::size_t i = 0; i < 4; ++i) {
    const CDwgObjectLocation& entry = container.objectMap[i];
    CDwgObjectFrame frame;
    std::string error;
    ASSERT_TRUE(ReadObjectFrame(container, entry.offset, frame, &error)) << error;
    EXPECT_TRUE(frame.crcMatches) << "object " << entry.handle;
    EXPECT_EQ(frame.isEntity, frame.type == 0x13);
    EXPECT_EQ(frame.handle, entry.handle);
    EXPECT_EQ(frame.type, types[i]);
    // The first data after the common part: 7, or 8 in the older copy of handle 1 that the
    // map lists first (the later entry wins).
    EXPECT_EQ(frame.data.ReadBS(), 7) << "object " << entry.handle;
    const CHandleRef owner = frame.handles.ReadH();
    EXPECT_EQ(owner.code, 4);
    EXPECT_EQ(owner.value, 0u);
  }
  EXPECT_EQ(ObjectTypeName(container, 500), "ACDBDICTIONARYWDFLT");
  EXPECT_EQ(ObjectTypeName(container, 0x13), "LINE");
  EXPECT_EQ(ObjectTypeName(container, 0x1F2), "ACAD_PROXY_ENTITY");
  EXPECT_EQ(ObjectTypeName(container, 501), "UNKNOWN(501)");
  std::uint64_t offset = 0;
  EXPECT_FALSE(container.FindObject(3, offset));
}

// The page checksum byte by byte, as the format defines it.
std::uint32_t ByteByBytePageChecksum(std::uint32_t seed, std::string_view bytes) {
  std::uint32_t sum1 = seed & 0xFFFF, sum2 = seed >> 16;
  for (std::size_t at = 0; at < bytes.size(); at += 0x15B0) {
    for (const char c : bytes.substr(at, 0x15B0)) {
      sum1 += static_cast<unsigned char>(c);
      sum2 += sum1;
    }
    sum1 %= 0xFFF1;
    sum2 %= 0xFFF1;
  }
  return sum2 << 16 | sum1;
}

TEST(DwgContainer, PageChecksumsAgreeWithTheByteByByteSums) {
  std::string bytes;
  std::mt19937 random(7);
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(random());
  const std::string full(3 * 0x15B0 + 9, '\xFF');  // the largest sums a run can reach
  for (const std::size_t length : {0, 1, 15, 16, 17, 0x15B0 - 1, 0x15B0, 0x15B0 + 1, 70000}) {
    for (const std::uint32_t seed : {0u, 0x12345678u, 0xFFF0FFF0u}) {
      const std::string_view part = std::string_view(bytes).substr(0, length);
      EXPECT_EQ(detail::PageChecksum(seed, part), ByteByBytePageChecksum(seed, part)) << length;
    }
  }
  EXPECT_EQ(detail::PageChecksum(0xFFF0FFF0u, full), ByteByBytePageChecksum(0xFFF0FFF0u, full));
}

// The checksum of R2007 pages byte by byte, as the format defines it: the bytes of each group
// of eight in pairs from the last pair to the first, a shorter rest in an order of its own.
std::uint32_t ByteByBytePageChecksumR2007(std::uint64_t seed, std::string_view bytes) {
  seed = (seed + bytes.size()) * 0x343FD + 0x269EC3;
  std::uint32_t sum1 = seed & 0xFFFF, sum2 = (seed >> 16) & 0xFFFF;
  auto add = [&](std::string_view chunk, std::initializer_list<int> order) {
    for (const int at : order) {
      sum1 += static_cast<unsigned char>(chunk[static_cast<std::size_t>(at)]);
      sum2 += sum1;
    }
  };
  for (std::size_t at = 0; at < bytes.size(); at += 0x15B0) {
    std::string_view run = bytes.substr(at, 0x15B0);
    for (; run.size() >= 8; run.remove_prefix(8)) add(run, {6, 7, 4, 5, 2, 3, 0, 1});
    switch (run.size()) {
      case 1:
        add(run, {0});
        break;
      case 2:
        add(run, {0, 1});
        break;
      case 3:
        add(run, {0, 1, 2});
        break;
      case 4:
        add(run, {2, 3, 0, 1});
        break;
      case 5:
        add(run, {2, 3, 0, 1, 4});
        break;
      case 6:
        add(run, {2, 3, 0, 1, 4, 5});
        break;
      case 7:
        add(run, {2, 3, 0, 1, 4, 5, 6});
        break;
      default:
        break;
    }
    sum1 %= 0xFFF1;
    sum2 %= 0xFFF1;
  }
  return sum2 << 16 | sum1;
}

TEST(DwgContainer, R2007PageChecksumsAgreeWithTheByteByByteSums) {
  std::string bytes;
  std::mt19937 random(11);
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(random());
  for (std::size_t length = 0; length < 40; ++length) {
    const std::string_view part = std::string_view(bytes).substr(0, length);
    EXPECT_EQ(detail::PageChecksumR2007(0, part), ByteByBytePageChecksumR2007(0, part)) << length;
  }
  for (const std::size_t length : {0x15B0 - 3, 0x15B0, 0x15B0 + 13, 70000}) {
    for (const std::uint64_t seed : {0ull, 0x123456789ull}) {
      const std::string_view part = std::string_view(bytes).substr(0, length);
      EXPECT_EQ(detail::PageChecksumR2007(seed, part), ByteByBytePageChecksumR2007(seed, part))
          << length;
    }
  }
}

TEST(DwgContainer, ReadsAPlainR2000File) {
  const std::string file = dwgtest::MakeR2000File();
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(container.damageCount, 0u);
  EXPECT_EQ(container.version, Version::R2000);
  EXPECT_EQ(container.maintenanceRelease, 15);
  EXPECT_EQ(container.codePage, 30);
  EXPECT_EQ(container.objectData.data(), file.data()) << "offsets are file offsets";
  ASSERT_EQ(container.sections.size(), 3u);
  EXPECT_EQ(container.sections[1].name, "AcDb:Classes");
  EXPECT_EQ(container.headerVariables.substr(0, 1), "\xCF");
  ExpectSyntheticContents(container);
}

TEST(DwgContainer, ReadsAPagedR2004File) {
  const std::string file = dwgtest::MakeR2004File();
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(container.damageCount, 0u);
  EXPECT_EQ(container.version, Version::R2004);
  const CDwgSection* objects = container.FindSection("AcDb:AcDbObjects");
  ASSERT_NE(objects, nullptr);
  EXPECT_EQ(objects->bytes.data(), container.objectData.data());
  EXPECT_EQ(container.objectData.substr(0, 4), std::string_view("\xCA\x0D\0\0", 4));
  EXPECT_TRUE(objects->compressed);
  ExpectSyntheticContents(container);
}

TEST(DwgContainer, ReadsACodedR2007File) {
  const std::string file = dwgtest::MakeR2007File();
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(container.damageCount, 0u);
  EXPECT_EQ(container.version, Version::R2007);
  EXPECT_EQ(container.maintenanceRelease, 50);
  ASSERT_EQ(container.sections.size(), 4u);
  EXPECT_EQ(container.sections[0].name, "AcDb:Header");
  EXPECT_FALSE(container.sections[0].compressed);
  const CDwgSection* objects = container.FindSection("AcDb:AcDbObjects");
  ASSERT_NE(objects, nullptr);
  EXPECT_TRUE(objects->compressed);
  EXPECT_EQ(objects->bytes.data(), container.objectData.data());
  EXPECT_EQ(container.objectData.substr(0, 4), std::string_view("\xCA\x0D\0\0", 4));
  ExpectSyntheticContents(container);
}

TEST(DwgContainer, NotesADamagedR2007PageAndReadsOn) {
  // A changed byte in the variables of the header page (one codeword, so its data bytes are
  // in order): its checksum tells, and the page is still read.
  std::string file = dwgtest::MakeR2007File();
  file[0x480 + 30] = static_cast<char>(file[0x480 + 30] ^ 0x10);
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
  EXPECT_EQ(error.rfind("section AcDb:Header: page 1 checksum mismatch (byte offset 1152)", 0), 0u)
      << error;
  EXPECT_GE(container.damageCount, 1u);
}

TEST(DwgContainer, LeavesOutMapEntriesOutsideTheObjectData) {
  dwgtest::CSyntheticOptions options;
  options.entryOutside = true;
  for (const std::string& file :
       {dwgtest::MakeR2000File(options), dwgtest::MakeR2004File(options)}) {
    CDwgContainer container;
    std::string error;
    ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
    EXPECT_EQ(container.objectMap.size(), 4u);
    EXPECT_NE(error.find("object map: 1 entries point outside the object data"), std::string::npos)
        << error;
    EXPECT_EQ(container.damageCount, 1u);
  }
}

TEST(DwgContainer, KeepsOneEntryForEachObject) {
  // A handle listed at the offset of an object that carries another handle is left out, so
  // that framing every entry reads every object once.
  dwgtest::CSyntheticOptions options;
  options.sharedOffset = true;
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(dwgtest::MakeR2000File(options), container, &error)) << error;
  EXPECT_EQ(container.objectMap.size(), 4u);
  std::uint64_t offset = 0;
  EXPECT_FALSE(container.FindObject(0x21, offset));
  EXPECT_NE(error.find("object map: 1 entries share an offset with another"), std::string::npos)
      << error;
  // Each object ends before the next begins.
  for (const CDwgObjectLocation& entry : container.objectMap) {
    EXPECT_GT(container.ObjectLimit(entry.offset), entry.offset);
  }
  EXPECT_EQ(container.ObjectLimit(container.objectData.size()), container.objectData.size());
}

TEST(DwgContainer, FramesACrowdedOffsetOnce) {
  // 20000 handles at the offset of one 64 KiB object: framing every entry would checksum
  // more than a gigabyte; only the entry that names the object's own handle may stay.
  dwgtest::CSyntheticOptions options;
  options.crowdedEntries = 20000;
  const std::string file = dwgtest::MakeR2000File(options);
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
  EXPECT_EQ(container.objectMap.size(), 4u);
  EXPECT_NE(error.find("object map: 20000 entries share an offset"), std::string::npos) << error;
  EXPECT_EQ(ReadEverything(file), 4u);
}

TEST(DwgContainer, StopsAChunkWhoseOffsetsRunAway) {
  dwgtest::CSyntheticOptions options;
  options.runawayOffsets = true;
  CDwgContainer container;
  std::string error;
  ASSERT_TRUE(ReadDwgContainer(dwgtest::MakeR2000File(options), container, &error)) << error;
  EXPECT_EQ(container.objectMap.size(), 4u);
  EXPECT_NE(error.find("object map: "), std::string::npos) << error;
  EXPECT_GE(container.damageCount, 1u);
}

TEST(DwgContainer, RefusesPasswordsAndImpossibleClaims) {
  dwgtest::CSyntheticOptions password;
  password.securityFlags = 1;
  CDwgContainer container;
  std::string error;
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2004File(password), container, &error));
  EXPECT_EQ(error, "the drawing is protected by a password");
  dwgtest::CSyntheticOptions encrypted;
  encrypted.encryptObjects = true;
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2004File(encrypted), container, &error));
  EXPECT_EQ(error, "the drawing is protected by a password");

  dwgtest::CSyntheticOptions huge;
  huge.claimedObjectsSize = std::uint64_t{4} << 30;
  dwgtest::CSyntheticOptions lost;
  lost.pageMapAddressOutside = true;
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2004File(huge), container, &error));
  EXPECT_NE(error.find("section AcDb:AcDbObjects: the section claims 4294967296 bytes"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("byte offset"), std::string::npos) << error;

  // The same for R2007 files.
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2007File(password), container, &error));
  EXPECT_EQ(error, "the drawing is protected by a password");
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2007File(encrypted), container, &error));
  EXPECT_EQ(error, "the drawing is protected by a password");
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2007File(huge), container, &error));
  EXPECT_NE(error.find("section AcDb:AcDbObjects: the section claims 4294967296 bytes"),
            std::string::npos)
      << error;
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2007File(lost), container, &error));
  EXPECT_EQ(error, "file header: the page map lies outside the file (byte offset 128)") << error;

  dwgtest::CSyntheticOptions phantom;
  phantom.phantomDescription = true;
  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2004File(phantom), container, &error));
  EXPECT_EQ(error.rfind("section map: a section description is cut short", 0), 0u) << error;

  EXPECT_FALSE(ReadDwgContainer(dwgtest::MakeR2004File(lost), container, &error));
  EXPECT_EQ(error.rfind("page map: the page lies outside the file (byte offset ", 0), 0u) << error;
}

// The container of R13 and later: older files are read without it (ReadDwg).
constexpr const char* kBeforeR13 =
    "file header: a DWG file before R13, which has no object map (byte offset 0)";

TEST(DwgContainer, NamesTheVersionsItDoesNotRead) {
  const struct {
    std::string magic;
    std::string error;
  } cases[] = {
      {"AC1021", "file header: the file is too short for a DWG file header (byte offset 206)"},
      {"AC1009", kBeforeR13},
      {"AC1006", kBeforeR13},
      {"AC1004", kBeforeR13},
      {"AC1003", kBeforeR13},
      {"AC2.10", kBeforeR13},
      {"AC1.40", kBeforeR13},
      {"AC1099", "file header: unknown DWG version \"AC1099\" (byte offset 0)"},
      {"PK\x03\x04", "file header: not a DWG file (byte offset 0)"},
      {"", "file header: not a DWG file (byte offset 0)"},
  };
  for (const auto& c : cases) {
    CDwgContainer container;
    std::string error;
    EXPECT_FALSE(ReadDwgContainer(c.magic + std::string(200, '\0'), container, &error)) << c.magic;
    EXPECT_EQ(error, c.error) << c.magic;
  }
  CDwgContainer container;
  std::string error;
  EXPECT_FALSE(ReadDwgContainer("AC1015", container, &error));
  EXPECT_EQ(error.rfind("file header: the file is too short", 0), 0u) << error;
}

TEST(DwgObjectFrame, RefusesObjectsOutsideTheData) {
  const std::string file = dwgtest::MakeR2000File();
  CDwgContainer container;
  ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
  CDwgObjectFrame frame;
  std::string error;
  EXPECT_FALSE(ReadObjectFrame(container, file.size(), frame, &error));
  EXPECT_EQ(error, "object at byte offset " + std::to_string(file.size()) +
                       ": the offset is outside the object data");
  // Two bytes before the end: the size says more bytes follow than there are.
  EXPECT_FALSE(ReadObjectFrame(container, file.size() - 2, frame, &error));
  EXPECT_NE(error.find("pass the end of the object data"), std::string::npos) << error;
}

TEST(DwgDamage, SyntheticFilesCutAtEveryLengthNeverBreakTheReader) {
  for (const std::string& file :
       {dwgtest::MakeR2000File(), dwgtest::MakeR2004File(), dwgtest::MakeR2007File()}) {
    for (std::size_t length = 0; length < file.size(); ++length) {
      // A copy of exactly `length` bytes, so that the sanitizers see any read past it.
      const std::string cut = file.substr(0, length);
      ReadEverything(cut);
    }
  }
}

TEST(DwgDamage, SyntheticFilesWithChangedBytesNeverBreakTheReader) {
  for (const std::string& file :
       {dwgtest::MakeR2000File(), dwgtest::MakeR2004File(), dwgtest::MakeR2007File()}) {
    for (std::size_t at = 0; at < file.size(); ++at) {
      for (const char mask : {'\xFF', '\x01', '\x80'}) {
        std::string damaged = file;
        damaged[at] = static_cast<char>(damaged[at] ^ mask);
        ReadEverything(damaged);
      }
    }
  }
  // A changed byte inside an object is caught by its checksum.
  const std::string file = dwgtest::MakeR2000File();
  CDwgContainer container;
  ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
  std::uint64_t offset = 0;
  ASSERT_TRUE(container.FindObject(0x10, offset));
  std::string damaged = file;
  damaged[offset + 6] = static_cast<char>(damaged[offset + 6] ^ 0x04);
  ASSERT_TRUE(ReadDwgContainer(damaged, container, nullptr));
  CDwgObjectFrame frame;
  if (ReadObjectFrame(container, offset, frame, nullptr)) {
    EXPECT_FALSE(frame.crcMatches);
  }
}

TEST(DwgDamage, ReadsEveryFuzzingRegressionInput) {
  const fs::path folder = fs::path(TARNVELOX_SOURCE_DIR) / "tests/drawing/fuzz-regressions";
  ASSERT_TRUE(fs::is_directory(folder));
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".dwg") continue;
    ReadEverything(testsupport::ReadFile(entry.path()));
    ++count;
  }
  std::printf("[          ] %d regression inputs\n", count);
}

// ---- The shared corpus ---------------------------------------------------------------------

fs::path CorpusDir() {
  const fs::path shared = testsupport::SharedDir();
  if (shared.empty() || !fs::is_directory(shared / "corpus/dwg")) return {};
  return shared / "corpus/dwg";
}

// The drawings of the releases the container reads, sorted.
std::vector<fs::path> ReadableCorpusFiles() {
  std::vector<fs::path> files;
  for (const char* folder : {"r13", "r14", "r2000", "r2004", "r2007", "r2010", "r2013", "r2018"}) {
    const fs::path dir = CorpusDir() / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".dwg") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

#define SKIP_WITHOUT_CORPUS() \
  if (CorpusDir().empty()) GTEST_SKIP() << "the shared corpus is not here"

TEST(DwgCorpus, OpensEveryContainerAndFramesEveryObject) {
  SKIP_WITHOUT_CORPUS();
  const std::vector<fs::path> files = ReadableCorpusFiles();
  ASSERT_GE(files.size(), 40u);
  std::size_t objects = 0;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string file = testsupport::ReadFile(path);
    CDwgContainer container;
    std::string error;
    ASSERT_TRUE(ReadDwgContainer(file, container, &error)) << error;
    EXPECT_EQ(error, "") << "a sound file reads without damage notes";
    EXPECT_FALSE(container.objectMap.empty());
    EXPECT_FALSE(container.classes.empty());
    std::size_t mismatches = 0, failures = 0;
    for (const CDwgObjectLocation& entry : container.objectMap) {
      CDwgObjectFrame frame;
      if (!ReadObjectFrame(container, entry.offset, frame, &error)) {
        ADD_FAILURE() << error;
        ++failures;
        continue;
      }
      EXPECT_EQ(frame.handle, entry.handle) << "the object at the map's offset has its handle";
      if (!frame.crcMatches) ++mismatches;
    }
    // Real files may carry the odd damaged object; more than one in a hundred is a reader bug.
    EXPECT_LE(mismatches * 100, container.objectMap.size()) << mismatches << " checksum mismatches";
    EXPECT_EQ(failures, 0u);
    objects += container.objectMap.size();
  }
  std::printf("[          ] %zu files, %zu objects framed\n", files.size(), objects);
}

TEST(DwgCorpus, HeaderHandlesPointAtObjectsOfTheirType) {
  SKIP_WITHOUT_CORPUS();
  for (const fs::path& path : ReadableCorpusFiles()) {
    SCOPED_TRACE(path.filename().string());
    const std::string file = testsupport::ReadFile(path);
    CDwgContainer container;
    ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
    CDwgHeader header;
    std::string error;
    ASSERT_TRUE(ReadDwgHeader(container, header, &error)) << error;
    EXPECT_EQ(error, "");
    // The list ends where the file's data ends, up to the padding of its last byte (R13
    // files of this corpus carry 84 bits more, of unknown use).
    EXPECT_LT(header.trailingBits, container.version == Version::R13 ? 96u : 9u);

    const bool r2000 = container.version >= Version::R2000;
    const struct {
      const char* name;
      std::uint64_t handle;
      std::uint16_t type;
    } expected[] = {
        {"BLOCK_CONTROL", header.blockControl, 0x30},
        {"LAYER_CONTROL", header.layerControl, 0x32},
        {"STYLE_CONTROL", header.styleControl, 0x34},
        {"LTYPE_CONTROL", header.linetypeControl, 0x38},
        {"VIEW_CONTROL", header.viewControl, 0x3C},
        {"UCS_CONTROL", header.ucsControl, 0x3E},
        {"VPORT_CONTROL", header.vportControl, 0x40},
        {"APPID_CONTROL", header.appIdControl, 0x42},
        {"DIMSTYLE_CONTROL", header.dimStyleControl, 0x44},
        {"BLOCK_RECORD_MSPACE", header.blockRecordModelSpace, 0x31},
        {"BLOCK_RECORD_PSPACE", header.blockRecordPaperSpace, 0x31},
        {"CLAYER", header.cLayer, 0x33},
        {"TEXTSTYLE", header.textStyle, 0x35},
        {"CELTYPE", header.celType, 0x39},
        {"DIMSTYLE", header.dimStyle, 0x45},
        {"CMLSTYLE", header.cmlStyle, 0x49},
        {"LTYPE_BYLAYER", header.linetypeByLayer, 0x39},
        {"LTYPE_BYBLOCK", header.linetypeByBlock, 0x39},
        {"LTYPE_CONTINUOUS", header.linetypeContinuous, 0x39},
        {"DICTIONARY_NAMED_OBJECT", header.dictionaryNamedObject, 0x2A},
        {"DICTIONARY_ACAD_GROUP", header.dictionaryAcadGroup, 0x2A},
        {"DICTIONARY_ACAD_MLINESTYLE", header.dictionaryMlineStyle, 0x2A},
        {"DICTIONARY_LAYOUT", r2000 ? header.dictionaryLayout : 0, 0x2A},
        {"DICTIONARY_PLOTSETTINGS", r2000 ? header.dictionaryPlotSettings : 0, 0x2A},
        {"VX_CONTROL", container.version <= Version::R2000 ? header.viewportEntityHeaderControl : 0,
         0x46},
    };
    for (const auto& e : expected) {
      if (e.handle == 0 && (std::string_view(e.name) == "DICTIONARY_LAYOUT" ||
                            std::string_view(e.name) == "DICTIONARY_PLOTSETTINGS" ||
                            std::string_view(e.name) == "VX_CONTROL")) {
        // Absent in this release, or in files written without layouts (R13, R14).
        continue;
      }
      std::uint64_t offset = 0;
      ASSERT_TRUE(container.FindObject(e.handle, offset)) << e.name << " " << e.handle;
      CDwgObjectFrame frame;
      ASSERT_TRUE(ReadObjectFrame(container, offset, frame, &error)) << e.name << ": " << error;
      EXPECT_EQ(frame.type, e.type) << e.name << " is a " << ObjectTypeName(container, frame.type);
    }
    EXPECT_NE(header.blockRecordModelSpace, header.blockRecordPaperSpace);
  }
}

// $EXTMIN, $EXTMAX and $MEASUREMENT of an ASCII DXF file.
struct CDxfExtents {
  CPoint3 min, max;
  int measurement = -1;
  bool found = false;
};

CDxfExtents ReadDxfExtents(const fs::path& path) {
  CDxfExtents extents;
  const std::string text = testsupport::ReadFile(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    line.erase(0, line.find_first_not_of(' '));
    lines.push_back(line);
    start = end + 1;
  }
  for (std::size_t i = 0; i + 6 < lines.size(); ++i) {
    if (lines[i] == "$EXTMIN" || lines[i] == "$EXTMAX") {
      CPoint3& point = lines[i] == "$EXTMIN" ? extents.min : extents.max;
      point = CPoint3{std::stod(lines[i + 2]), std::stod(lines[i + 4]), std::stod(lines[i + 6])};
      extents.found = true;
    } else if (lines[i] == "$MEASUREMENT") {
      extents.measurement = std::stoi(lines[i + 2]);
    }
  }
  return extents;
}

bool Near(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

TEST(DwgCorpus, ExtentsAndMeasurementAgreeWithTheDxfTwins) {
  SKIP_WITHOUT_CORPUS();
  // Twins that were saved apart from their DWG and record other extents (checked by hand:
  // the DWG values are those of the drawing's own last save; the R2007 Text and Polyline
  // drawings store unset extents, as the Text drawing does in every release).
  const std::vector<std::string> savedApart = {"libredwg_2000_TS1",     "libredwg_example_2000",
                                               "libredwg_sample_2000",  "libredwg_2010_gh209_1",
                                               "libredwg_2013_gh109_1", "libredwg_example_2018",
                                               "libredwg_2007_Text",    "libredwg_2007_Polyline"};
  int compared = 0;
  for (const fs::path& path : ReadableCorpusFiles()) {
    const std::string stem = path.stem().string();
    fs::path twin = path.parent_path() / (stem + ".dxf");
    if (!fs::exists(twin)) twin = path.parent_path() / (stem + "_ascii.dxf");
    if (!fs::exists(twin)) continue;
    SCOPED_TRACE(path.filename().string());
    const CDxfExtents dxf = ReadDxfExtents(twin);
    ASSERT_TRUE(dxf.found);
    const std::string file = testsupport::ReadFile(path);
    CDwgContainer container;
    ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
    CDwgHeader header;
    ASSERT_TRUE(ReadDwgHeader(container, header, nullptr));
    // Files whose template section is empty have no MEASUREMENT (-1); their twins show 0.
    if (dxf.measurement >= 0 && header.measurement >= 0) {
      EXPECT_EQ(header.measurement, dxf.measurement);
    }
    if (std::find(savedApart.begin(), savedApart.end(), stem) != savedApart.end()) continue;
    EXPECT_TRUE(Near(header.extMin.x, dxf.min.x) && Near(header.extMin.y, dxf.min.y) &&
                Near(header.extMin.z, dxf.min.z))
        << header.extMin.x << " " << header.extMin.y << " " << header.extMin.z;
    EXPECT_TRUE(Near(header.extMax.x, dxf.max.x) && Near(header.extMax.y, dxf.max.y) &&
                Near(header.extMax.z, dxf.max.z))
        << header.extMax.x << " " << header.extMax.y << " " << header.extMax.z;
    ++compared;
  }
  EXPECT_GE(compared, 15);
}

TEST(DwgCorpus, EntityColoursGiveTheirRgbBeforeTheirTransparency) {
  SKIP_WITHOUT_CORPUS();
  // The entities of this drawing with a true colour and a transparency settle the order of
  // the two longs of ENC: the RGB word (method 0xC2) comes first.
  const std::string file = testsupport::ReadFile(CorpusDir() / "r2010/acadsharp_sample_AC1024.dwg");
  CDwgContainer container;
  ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
  int both = 0;
  for (const CDwgObjectLocation& entry : container.objectMap) {
    CDwgObjectFrame frame;
    if (!ReadObjectFrame(container, entry.offset, frame, nullptr) || !frame.isEntity) continue;
    CBitReader& data = frame.data;
    data.ReadBB();  // entity mode
    data.ReadBL();  // reactors
    data.ReadB();   // no extension dictionary
    const CEntityColor color = data.ReadENC();
    if (!(color.flags & CEntityColor::kRgb) || !(color.flags & CEntityColor::kTransparency)) {
      continue;
    }
    ++both;
    EXPECT_EQ(color.rgb >> 24, 0xC2u) << std::hex << color.rgb;
    EXPECT_LE(color.transparency >> 24, 3u) << std::hex << color.transparency;
    EXPECT_EQ(data.ReadBD(), 1.0) << "the linetype scale follows";
  }
  EXPECT_GE(both, 5);
}

TEST(DwgCorpus, RefusesReleasesBeforeR13ByName) {
  SKIP_WITHOUT_CORPUS();
  for (const auto& entry : fs::directory_iterator(CorpusDir() / "pre-r13")) {
    if (entry.path().extension() != ".dwg") continue;
    CDwgContainer container;
    std::string error;
    EXPECT_FALSE(ReadDwgContainer(testsupport::ReadFile(entry.path()), container, &error));
    EXPECT_EQ(error, kBeforeR13) << entry.path();
  }
}

TEST(DwgCorpus, ReadsAllContainers) {
  SKIP_WITHOUT_CORPUS();
  std::vector<std::string> files;
  for (const fs::path& path : ReadableCorpusFiles()) files.push_back(testsupport::ReadFile(path));
  const auto start = std::chrono::steady_clock::now();
  std::size_t bytes = 0;
  for (const std::string& file : files) {
    CDwgContainer container;
    ASSERT_TRUE(ReadDwgContainer(file, container, nullptr));
    bytes += container.objectData.size();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("[          ] %zu containers, %zu bytes of objects in %.3f s\n", files.size(), bytes,
              seconds);
}

TEST(DwgCorpus, CutAndChangedRealFilesNeverBreakTheReader) {
  SKIP_WITHOUT_CORPUS();
  std::mt19937 random(20240601);
  for (const char* name : {"r2000/libredwg_sample_2000.dwg", "r14/libredwg_r14_Leader.dwg",
                           "r2004/libredwg_2004_Text.dwg", "r2018/libredwg_sample_2018.dwg",
                           "r2013/libredwg_2013_Text.dwg"}) {
    SCOPED_TRACE(name);
    const std::string file = testsupport::ReadFile(CorpusDir() / name);
    ASSERT_FALSE(file.empty());
    for (int i = 0; i < 150; ++i) {
      const std::size_t length = file.size() * i / 150 + random() % 64;
      ReadEverything(file.substr(0, std::min(length, file.size() - 1)));
    }
    for (int i = 0; i < 150; ++i) {
      std::string damaged = file;
      for (int flips = 0; flips < 1 + i % 4; ++flips) {
        damaged[random() % damaged.size()] = static_cast<char>(random());
      }
      ReadEverything(damaged);
    }
  }
}

}  // namespace
