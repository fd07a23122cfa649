// The resource-section writer on small images laid out as the linker lays out the patcher
// (code, resources, relocations, then the COFF symbol table): what it writes reads back,
// everything after the resources moves intact, writing the old resources again restores
// the old file byte for byte, damaged directories are refused, and stubs are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <random>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/output/overlay.h"
#include "mkpatch/output/patcher_exe.h"
#include "mkpatch/output/pe_image.h"
#include "mkpatch/output/resource_folder.h"
#include "mkpatch/output/resource_tree.h"

namespace vard::mkpatch {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFile = 0x200, kSection = 0x1000;

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

Bytes Filler(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

const Bytes kRelocations = Filler(0x10C, 1);
const Bytes kSymbols = Filler(0x90, 2);

// .text, .rsrc (when a tree is given), .reloc, then a symbol table; data directories 2 and
// 5 point at the resources and the relocations, the checksum is set.
Bytes MakeImage(bool plus, const ResourceTree* tree) {
  const uint32_t pe = 0x80, optional = pe + 24, optional_size = plus ? 240 : 224;
  const uint32_t table = optional + optional_size;
  struct S { const char* name; uint32_t va; Bytes data; uint32_t flags; };
  std::vector<S> sections = {{".text", kSection, Filler(0x180, 3), 0x60000020}};
  uint32_t va = 2 * kSection;
  if (tree) {
    Bytes rsrc = BuildResourceSection(*tree, va);
    sections.push_back({".rsrc", va, rsrc, 0x40000040});
    va += Align(static_cast<uint32_t>(rsrc.size()), kSection);
  }
  sections.push_back({".reloc", va, kRelocations, 0x42000040});
  Bytes b(0x400, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, pe);
  std::memcpy(&b[pe], "PE\0\0", 4);
  Put16(b, pe + 4, plus ? kMachineAmd64 : kMachineI386);
  Put16(b, pe + 6, static_cast<uint16_t>(sections.size()));
  Put16(b, pe + 20, static_cast<uint16_t>(optional_size));
  Put16(b, optional, plus ? 0x20B : 0x10B);
  Put32(b, optional + 32, kSection);
  Put32(b, optional + 36, kFile);
  Put32(b, optional + 60, 0x400);
  Put32(b, optional + (plus ? 108 : 92), 16);
  const uint32_t dirs = optional + (plus ? 112 : 96);
  uint32_t initialized = 0;
  for (size_t i = 0; i < sections.size(); ++i) {
    const S& s = sections[i];
    const uint32_t at = table + 40 * static_cast<uint32_t>(i), raw = static_cast<uint32_t>(b.size());
    std::memcpy(&b[at], s.name, std::strlen(s.name));
    Put32(b, at + 8, static_cast<uint32_t>(s.data.size()));
    Put32(b, at + 12, s.va);
    Put32(b, at + 16, Align(static_cast<uint32_t>(s.data.size()), kFile));
    Put32(b, at + 20, raw);
    Put32(b, at + 36, s.flags);
    if (s.flags & 0x40) initialized += Align(static_cast<uint32_t>(s.data.size()), kFile);
    b.insert(b.end(), s.data.begin(), s.data.end());
    b.resize(Align(static_cast<uint32_t>(b.size()), kFile), 0);
    if (std::string(s.name) == ".rsrc") Put32(b, dirs + 16, s.va), Put32(b, dirs + 20, static_cast<uint32_t>(s.data.size()));
    if (std::string(s.name) == ".reloc") Put32(b, dirs + 40, s.va), Put32(b, dirs + 44, static_cast<uint32_t>(s.data.size()));
  }
  Put32(b, optional + 8, initialized);
  Put32(b, optional + 56, va + kSection);
  Put32(b, pe + 12, static_cast<uint32_t>(b.size()));
  b.insert(b.end(), kSymbols.begin(), kSymbols.end());
  Put32(b, optional + 64, PeChecksum(b, optional + 64));
  return b;
}

ResourceTree SmallTree() {
  ResourceTree tree;
  tree[ResourceKey::Id(kTypeManifest)][ResourceKey::Id(1)][0x409] = {Filler(300, 4), 0};
  tree[ResourceKey::Name("DATA")][ResourceKey::Id(102)][0] = {Filler(33, 5), 0};
  tree[ResourceKey::Name("DATA")][ResourceKey::Name(kStubMarkerName)][0] = {
      Bytes(kStubMarkerText, kStubMarkerText + std::strlen(kStubMarkerText)), 0};
  return tree;
}

ResourceTree LargeTree() {
  ResourceTree tree = SmallTree();
  tree[ResourceKey::Name("DATA")][ResourceKey::Id(5001)][0] = {Filler(70001, 6), 1252};
  tree[ResourceKey::Name("DATA")][ResourceKey::Name("ZED")][7] = {Filler(9, 7), 0};
  tree[ResourceKey::Id(kTypeVersion)][ResourceKey::Id(1)][0] = {Filler(100, 8), 0};
  return tree;
}

TEST(PeResources, GrowingMovesWhatFollowsAndShrinkingRestoresTheFile) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    const ResourceTree small = SmallTree(), large = LargeTree();
    const Bytes original = MakeImage(plus, &small);
    PeImage image(original);
    ASSERT_EQ(ReadResources(image), small);
    const uint32_t old_init = image.Field32(8);

    WriteResources(image, large);
    const PeImage grown(image.bytes());
    EXPECT_EQ(ReadResources(grown), large);
    const PeSection& rsrc = grown.sections()[1];
    const PeSection& reloc = grown.sections()[2];
    EXPECT_EQ(reloc.virtual_address, Align(rsrc.virtual_address + rsrc.virtual_size, kSection));
    EXPECT_EQ(reloc.raw_pointer, rsrc.raw_pointer + rsrc.raw_size);
    EXPECT_EQ(Bytes(grown.bytes().begin() + reloc.raw_pointer,
                    grown.bytes().begin() + reloc.raw_pointer + kRelocations.size()),
              kRelocations);
    EXPECT_EQ(grown.directory(5).address, reloc.virtual_address);
    EXPECT_EQ(grown.directory(2).address, rsrc.virtual_address);
    EXPECT_EQ(grown.directory(2).size, rsrc.virtual_size);
    const uint32_t pe = Get32(grown.bytes(), 0x3C);
    const uint32_t symbols = Get32(grown.bytes(), pe + 12);
    EXPECT_EQ(Bytes(grown.bytes().begin() + symbols, grown.bytes().end()), kSymbols);
    EXPECT_EQ(grown.Field32(56), reloc.virtual_address + kSection);  // SizeOfImage
    EXPECT_EQ(grown.Field32(8) - old_init, rsrc.raw_size - Align(
        static_cast<uint32_t>(BuildResourceSection(small, rsrc.virtual_address).size()), kFile));
    EXPECT_EQ(grown.Field32(64), PeChecksum(grown.bytes(), pe + 24 + 64));

    WriteResources(image, small);
    EXPECT_EQ(image.bytes(), original);
  }
}

TEST(PeResources, TablesAreOrderedAndASectionIsAddedWhenThereIsNone) {
  PeImage image(MakeImage(true, nullptr));
  ASSERT_TRUE(ReadResources(image).empty());
  const ResourceTree tree = LargeTree();
  WriteResources(image, tree);
  const PeImage written(image.bytes());
  ASSERT_EQ(written.sections().size(), 3u);
  EXPECT_EQ(written.sections()[2].name, ".rsrc");
  EXPECT_EQ(ReadResources(written), tree);
  // Root: the named type first, then 16 and 24 ascending; under DATA, "VARDSTUB" before
  // "ZED", then 102 before 5001.
  const auto root = written.At(written.directory(2).address, 16 + 3 * 8);
  EXPECT_EQ(root[12] | root[14] << 16, 1 | 2 << 16);
  EXPECT_TRUE(root[16 + 3] & 0x80);
  EXPECT_EQ(root[24] | root[25] << 8, kTypeVersion);
  EXPECT_EQ(root[32] | root[33] << 8, kTypeManifest);
  std::vector<std::string> names;
  for (const auto& [name, languages] : tree.at(ResourceKey::Name("DATA"))) names.push_back(name.ToString());
  EXPECT_EQ(names, (std::vector<std::string>{"VARDSTUB", "ZED", "102", "5001"}));
}

TEST(PeResources, DamagedImagesAreRefusedWithoutCrashing) {
  const ResourceTree tree = SmallTree();
  const Bytes good = MakeImage(false, &tree);
  EXPECT_THROW(PeImage(Bytes(good.begin(), good.begin() + 0x100)), PeError);
  EXPECT_THROW(PeImage(Bytes(100, 'x')), PeError);
  // A type entry pointing back at the root makes the names' level hold tables again.
  Bytes loop = good;
  const PeImage parsed(good);
  const uint32_t rsrc = parsed.sections()[1].raw_pointer;
  Put32(loop, rsrc + 16 + 4, 0x80000000);
  EXPECT_THROW(ReadResources(PeImage(loop)), PeError);
  // Any byte of the resource section changed: read back or refused, never a crash.
  std::mt19937 random(24);
  const uint32_t size = parsed.sections()[1].virtual_size;
  for (int i = 0; i < 3000; ++i) {
    Bytes damaged = good;
    for (int n = 0; n < 3; ++n) damaged[rsrc + random() % size] = static_cast<uint8_t>(random());
    try {
      PeImage image(damaged);
      ReadResources(image);
    } catch (const PeError&) {
    }
  }
}

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("pe_writer_test_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() { fs::remove_all(path); }
};

TEST(PatcherStub, RefusedStubsNameTheirFileAndAGoodOneTakesThePatch) {
  TempDir dir;
  const ResourceTree stub_tree = [] {
    ResourceTree tree = SmallTree();
    // The stub's own icon: group 101 listing images 1 and 2.
    Bytes group = {0, 0, 1, 0, 2, 0};
    for (uint8_t id : {1, 2}) {
      Bytes entry(12, 0);
      entry.push_back(id);
      entry.push_back(0);
      group.insert(group.end(), entry.begin(), entry.end());
      tree[ResourceKey::Id(kTypeIcon)][ResourceKey::Id(id)][0x409] = {Filler(40, id), 0};
    }
    tree[ResourceKey::Id(kTypeGroupIcon)][ResourceKey::Id(101)][0x409] = {group, 0};
    return tree;
  }();
  ResourceTree unmarked = stub_tree;
  unmarked[ResourceKey::Name("DATA")].erase(ResourceKey::Name(kStubMarkerName));
  ResourceTree other_version = stub_tree;
  other_version[ResourceKey::Name("DATA")][ResourceKey::Name(kStubMarkerName)][0] = {{'v', '0'}, 0};
  const std::map<std::string, Bytes> stubs = {
      {"good.exe", MakeImage(true, &stub_tree)},     {"text.exe", Bytes(5000, 'a')},
      {"win32.exe", MakeImage(false, &stub_tree)},   {"unmarked.exe", MakeImage(true, &unmarked)},
      {"other.exe", MakeImage(true, &other_version)}};
  for (const auto& [name, bytes] : stubs) WriteWholeFile(dir.path / name, bytes);
  for (const char* name : {"missing.exe", "text.exe", "win32.exe", "unmarked.exe", "other.exe"}) {
    try {
      LoadStub(dir.path / name, StubArch::kWin64);
      ADD_FAILURE() << name << " was taken as a stub";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find((dir.path / name).string()), std::string::npos) << e.what();
    }
  }

  const fs::path resources = dir.path / "resources";
  WriteWholeFile(resources / "5001.xml", Filler(50, 9));
  WriteWholeFile(resources / "5002.bin", Filler(70000, 10));
  WriteWholeFile(resources / "102.png", Filler(20, 11));
  WriteWholeFile(resources / kVersionName, Filler(64, 12));
  WriteWholeFile(resources / kRcName, Filler(10, 13));
  Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 5, 0, 0, 0, 22, 0, 0, 0, 1, 2, 3, 4, 5};
  WriteWholeFile(resources / kIconName, ico);
  const Stub stub = LoadStub(dir.path / "good.exe", StubArch::kWin64);
  WritePatcherExe(stub, resources, dir.path / "patcher.exe");
  const ResourceTree got = ReadResources(PeImage(ReadWholeFile(dir.path / "patcher.exe")));
  const auto& data = got.at(ResourceKey::Name("DATA"));
  EXPECT_FALSE(data.count(ResourceKey::Name(kStubMarkerName)));
  EXPECT_EQ(data.at(ResourceKey::Id(5002)).at(0).bytes, Filler(70000, 10));
  EXPECT_EQ(data.at(ResourceKey::Id(102)).at(0).bytes, Filler(20, 11));
  EXPECT_EQ(data.size(), 3u);
  EXPECT_EQ(got.at(ResourceKey::Id(kTypeVersion)).at(ResourceKey::Id(1)).at(0).bytes, Filler(64, 12));
  EXPECT_EQ(got.at(ResourceKey::Id(kTypeManifest)), stub_tree.at(ResourceKey::Id(kTypeManifest)));
  // The project's icon replaces the stub's: one image, in the stub's icon language.
  const auto& icons = got.at(ResourceKey::Id(kTypeIcon));
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons.at(ResourceKey::Id(1)).at(0x409).bytes, (Bytes{1, 2, 3, 4, 5}));
  const Bytes group = got.at(ResourceKey::Id(kTypeGroupIcon)).at(ResourceKey::Id(101)).at(0x409).bytes;
  EXPECT_EQ(group, (Bytes{0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 5, 0, 0, 0, 1, 0}));
  // An icon whose image lies outside the file is refused, naming it.
  ico[14] = 0xFF;
  WriteWholeFile(resources / kIconName, ico);
  EXPECT_THROW(WritePatcherExe(stub, resources, dir.path / "patcher.exe"), InputError);
}

// Payloads beyond the image bound: the ones that fit stay resources in manifest order, the
// others follow the image back to back, and the trailer at the end finds them.
TEST(PatcherOverlay, PayloadsThatDoNotFitFollowTheImageWhereTheTrailerSays) {
  PatchPlan plan;
  plan.sections.resize(1);
  plan.sections[0].packs.resize(1);
  PlannedPack& pack = plan.sections[0].packs[0];
  for (const auto& [id, size] : {std::pair{5003, 30}, std::pair{5004, 1000003}, std::pair{5005, 40}}) {
    PlannedFile file;
    file.id = id;
    file.comp_size = size;
    pack.added.push_back(file);
  }
  PlannedFile updated;
  updated.id = 5006;
  updated.comp_size = 5;
  pack.updated.push_back(updated);
  EXPECT_EQ(PlaceOverlay(plan, 72), 1000003u + 5);
  EXPECT_EQ(pack.added[0].overlay_offset, -1);
  EXPECT_EQ(pack.added[1].overlay_offset, 0);
  EXPECT_EQ(pack.added[2].overlay_offset, -1);
  EXPECT_EQ(pack.updated[0].overlay_offset, 1000003);
  EXPECT_EQ(PlaceOverlay(plan, UINT64_MAX), 0u);
  EXPECT_EQ(PlaceOverlay(plan, 72), 1000003u + 5);

  TempDir dir;
  const ResourceTree stub_tree = SmallTree();
  WriteWholeFile(dir.path / "stub.exe", MakeImage(true, &stub_tree));
  const fs::path resources = dir.path / "resources";
  WriteWholeFile(resources / "5001.xml", Filler(50, 1));
  for (const auto& [id, seed] : {std::pair{5003, 3}, std::pair{5004, 4}, std::pair{5005, 5}, std::pair{5006, 6}})
    WriteWholeFile(PayloadPath(resources, id), Filler(id == 5004 ? 1000003 : id == 5006 ? 5 : 30, seed));
  WriteOverlayList(OverlayPayloads(plan), resources);
  const Stub stub = LoadStub(dir.path / "stub.exe", StubArch::kWin64);
  WritePatcherExe(stub, resources, dir.path / "patcher.exe");
  const Bytes exe = ReadWholeFile(dir.path / "patcher.exe");
  const ResourceTree written = ReadResources(PeImage(exe));
  const auto& data = written.at(ResourceKey::Name("DATA"));
  EXPECT_TRUE(data.count(ResourceKey::Id(5003)) && data.count(ResourceKey::Id(5005)));
  EXPECT_FALSE(data.count(ResourceKey::Id(5004)) || data.count(ResourceKey::Id(5006)));
  EXPECT_EQ(EmbeddedBytes(resources), 50u + 30 + 30);

  ASSERT_GE(exe.size(), kOverlayTrailerSize);
  EXPECT_EQ(exe.size() % 8, 0u);  // signing appends its table right after the trailer
  EXPECT_TRUE(std::equal(exe.end() - 8, exe.end(), std::begin(kOverlayMagic)));
  uint64_t start = 0;
  for (int i = 7; i >= 0; --i) start = start << 8 | exe[exe.size() - 16 + i];
  ASSERT_LE(start + 1000003 + 5, exe.size() - kOverlayTrailerSize);
  EXPECT_TRUE(std::equal(exe.begin() + start, exe.begin() + start + 1000003, Filler(1000003, 4).begin()));
  EXPECT_TRUE(std::equal(exe.begin() + start + 1000003, exe.begin() + start + 1000008, Filler(5, 6).begin()));
  // The image before the overlay is what the stub writer makes without one.
  fs::remove(resources / kOverlayListName);
  fs::remove(PayloadPath(resources, 5004));
  fs::remove(PayloadPath(resources, 5006));
  WritePatcherExe(stub, resources, dir.path / "plain.exe");
  EXPECT_EQ(start, fs::file_size(dir.path / "plain.exe"));
  // Streamed from the payload files, it is byte for byte the image built in memory.
  ResourceTree tree = stub_tree;
  auto& data_resources = tree[ResourceKey::Name("DATA")];
  data_resources.erase(ResourceKey::Name(kStubMarkerName));
  data_resources[ResourceKey::Id(5001)][0] = {ReadWholeFile(resources / "5001.xml"), 0};
  for (const int id : {5003, 5005})
    data_resources[ResourceKey::Id(static_cast<uint16_t>(id))][0] = {ReadWholeFile(PayloadPath(resources, id)), 0};
  PeImage in_memory = stub.image;
  WriteResources(in_memory, tree);
  EXPECT_EQ(ReadWholeFile(dir.path / "plain.exe"), in_memory.bytes());

  // A list whose payloads are not back to back, or a payload not of its listed size.
  WriteOverlayList({{0, 30, 5003}, {31, 30, 5005}}, resources);
  EXPECT_THROW(ReadOverlayList(resources), InputError);
  WriteOverlayList({{0, 31, 5003}}, resources);
  EXPECT_THROW(WritePatcherExe(stub, resources, dir.path / "patcher.exe"), InputError);
}

// The writer streams: a patcher whose payloads (embedded and in the overlay) are several
// times the memory it may take is written by a child whose peak stays within that bound,
// and what it wrote is a whole image: every payload where its resource entry says, the
// overlay after it, and the header checksum of the file as written.
TEST(PatcherExe, PayloadsGoFromDiskToTheFileWithoutBeingHeldInMemory) {
  TempDir dir;
  const ResourceTree stub_tree = SmallTree();
  WriteWholeFile(dir.path / "stub.exe", MakeImage(true, &stub_tree));
  const fs::path resources = dir.path / "resources";
  WriteWholeFile(resources / "5001.xml", Filler(50, 1));
  constexpr uint64_t kPayload = 8u << 20;
  std::vector<OverlayPayload> overlay;
  for (int id = 5002; id <= 5011; ++id) {
    // Sparse past a marked start; odd sizes, so each payload is padded or starts unaligned.
    const fs::path file = PayloadPath(resources, id);
    WriteWholeFile(file, Filler(4096, static_cast<uint8_t>(id)));
    fs::resize_file(file, kPayload + static_cast<uint64_t>(id % 4));
    if (id > 5009) overlay.push_back({overlay.empty() ? 0 : overlay.back().offset + overlay.back().size, fs::file_size(file), id});
  }
  WriteOverlayList(overlay, resources);
  const Stub stub = LoadStub(dir.path / "stub.exe", StubArch::kWin64);

  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  ASSERT_TRUE(statm && std::fscanf(statm, "%ld %ld", &pages, &resident) == 2);
  std::fclose(statm);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      WritePatcherExe(stub, resources, dir.path / "patcher.exe");
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The child starts with the parent's resident set; ru_maxrss is in KiB.
  const double grown_mib = (usage.ru_maxrss - resident * (::sysconf(_SC_PAGESIZE) / 1024)) / 1024.0;
  EXPECT_LT(grown_mib, 32) << "payloads of 80 MiB took " << grown_mib << " MiB";

  const Bytes exe = ReadWholeFile(dir.path / "patcher.exe");
  const ResourceTree written = ReadResources(PeImage(exe));
  const auto& data = written.at(ResourceKey::Name("DATA"));
  for (int id = 5002; id <= 5009; ++id) {
    const Bytes& got = data.at(ResourceKey::Id(static_cast<uint16_t>(id))).at(0).bytes;
    ASSERT_EQ(got.size(), kPayload + static_cast<uint64_t>(id % 4)) << id;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 4096, Filler(4096, static_cast<uint8_t>(id)).begin())) << id;
    EXPECT_TRUE(std::all_of(got.begin() + 4096, got.end(), [](uint8_t b) { return b == 0; })) << id;
  }
  EXPECT_FALSE(data.count(ResourceKey::Id(5010)) || data.count(ResourceKey::Id(5011)));
  uint64_t start = 0;
  for (int i = 7; i >= 0; --i) start = start << 8 | exe[exe.size() - 16 + i];
  ASSERT_LE(start + overlay.back().offset + overlay.back().size, exe.size() - kOverlayTrailerSize);
  EXPECT_TRUE(std::equal(exe.begin() + start + overlay.back().offset, exe.begin() + start + overlay.back().offset + 4096,
                         Filler(4096, static_cast<uint8_t>(5011)).begin()));
  const PeImage image(exe);
  EXPECT_EQ(image.Field32(64), PeChecksum(exe, Get32(exe, 0x3C) + 24 + 64));
}

}  // namespace
}  // namespace vard::mkpatch
