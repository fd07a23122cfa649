// The builder's stages on small trees: names Windows cannot store, case-only renames, the
// id and payload rules, manifests the patcher's parser accepts, and required space.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "manifest/pack_selection.h"
#include "manifest/patch_config.h"
#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/output/manifest_writer.h"
#include "mkpatch/common/name_case.h"
#include "mkpatch/patch_builder.h"
#include "mkpatch/project/path_rules.h"
#include "mkpatch/encode/payload_cache.h"
#include "mkpatch/encode/payload_writer.h"
#include "mkpatch/project/project_file.h"
#include "mkpatch/compare/required_space.h"
#include "mkpatch/output/resource_folder.h"
#include "mkpatch/check/self_check.h"
#include "mkpatch/compare/tree_compare.h"
#include "engine/crc_text.h"
#include "random_bytes.h"

namespace vard::mkpatch {
namespace {

namespace fs = std::filesystem;

class TempTree {
 public:
  TempTree() {
    path_ = fs::temp_directory_path() / ("mkpatch_test_" + std::to_string(::getpid()) + "_" +
                                         std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempTree() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  void Write(const std::string& rel, const std::string& text) const {
    WriteWholeFile(path_ / rel, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(PathRules, RefusesWhatWindowsCannotStore) {
  EXPECT_EQ(WindowsNameProblem("menu.xml"), "");
  EXPECT_EQ(WindowsNameProblem("Équipe.txt"), "");
  for (const char* bad : {".", "..", "a:b", "a?", "a*", "q\"", "x|y", "a<b", "end.", "end ",
                          "CON", "nul.txt", "com1", "LPT9.dat", "tab\there", "\xff\xfe",
                          "a.bin.vard-new", "x.VARD-undiff", "y.Vard-comp", "z.vard-"})
    EXPECT_NE(WindowsNameProblem(bad), "") << bad;
  EXPECT_EQ(WindowsNameProblem("COM0"), "");
  EXPECT_EQ(WindowsNameProblem("console"), "");
  EXPECT_EQ(WindowsNameProblem("vard-new.dat"), "");
  EXPECT_EQ(WindowsNameProblem("a.vardnew"), "");
  EXPECT_NE(RelativePathProblem("local/../x"), "");
  EXPECT_EQ(CleanPackRoot("/local//french/"), "local\\french");
  EXPECT_EQ(CleanPackRoot(""), "");
}

TEST(ProjectFile, VersionsParseAsThePatcherReadsThem) {
  EXPECT_EQ(ParseVersion("1.01"), (1 << 16) | 1);
  EXPECT_EQ(ParseVersion("1.10"), (1 << 16) | 10);
  for (const char* bad : {"", "1", "1.", ".1", "1.0.1", "a.b", "1.-1", "1.65536", "+1.0"})
    EXPECT_FALSE(ParseVersion(bad).has_value()) << bad;
}

TEST(TreeCompare, SortsFilesIntoAddedUpdatedDeletedAndUnchanged) {
  TempTree old_tree, new_tree;
  old_tree.Write("same.txt", "same");
  new_tree.Write("same.txt", "same");
  old_tree.Write("sub/changed.bin", "aaaa");
  new_tree.Write("sub/changed.bin", "aaab");  // same size, other content
  old_tree.Write("gone.txt", "x");
  new_tree.Write("sub/new.txt", "y");
  old_tree.Write("Data/Case.TXT", "1");
  new_tree.Write("data/case.txt", "2");  // only the case changed: one file for Windows
  const PackChanges c = CompareTrees(old_tree.path(), new_tree.path());
  EXPECT_EQ(c.unchanged.size(), 1u);
  EXPECT_EQ(c.added, std::vector<std::string>{"sub/new.txt"});
  EXPECT_EQ(c.deleted, std::vector<std::string>{"gone.txt"});
  ASSERT_EQ(c.updated.size(), 2u);
  EXPECT_EQ(c.updated[0].old_name, "Data/Case.TXT");
  EXPECT_EQ(c.updated[0].new_name, "data/case.txt");
  EXPECT_EQ(c.updated[1].new_name, "sub/changed.bin");
}

// Windows upper-cases every UTF-16 unit to compare names, not only A to Z: a case-only
// rename outside ASCII must pair old and new as one file (an add and a delete of names the
// patcher takes for one would destroy it).
TEST(TreeCompare, PairsNamesAsWindowsComparesThem) {
  EXPECT_EQ(NameKey("Data/\xC3\x84.txt"), NameKey("data\\\xC3\xA4.TXT"));      // Ä, ä
  EXPECT_EQ(NameKey("\xE1\xBE\xB3"), NameKey("\xE1\xBE\xBC"));                   // ᾳ, ᾼ
  EXPECT_EQ(NameKey("\xD1\x84\xC5\xBF"), NameKey("\xD0\xA4S"));                   // фſ, ФS
  EXPECT_NE(NameKey("stra\xC3\x9F" "e"), NameKey("STRASSE"));                        // ß stays
  EXPECT_NE(NameKey("\xE2\x84\xAA"), NameKey("k"));                                  // Kelvin sign

  TempTree old_tree, new_tree;
  old_tree.Write("\xC3\x84.txt", "old");
  new_tree.Write("\xC3\xA4.txt", "new");
  old_tree.Write("\xC3\x89quipe/a.txt", "same");
  new_tree.Write("\xC3\xA9quipe/a.txt", "same");
  const PackChanges c = CompareTrees(old_tree.path(), new_tree.path());
  EXPECT_TRUE(c.added.empty());
  EXPECT_TRUE(c.deleted.empty());
  ASSERT_EQ(c.updated.size(), 1u);
  EXPECT_EQ(c.updated[0].old_name, "\xC3\x84.txt");
  EXPECT_EQ(c.updated[0].new_name, "\xC3\xA4.txt");
  EXPECT_EQ(c.unchanged.size(), 1u);

  TempTree clash;
  clash.Write("\xC3\x89t\xC3\xA9.txt", "1");  // Été.txt
  clash.Write("\xC3\xA9t\xC3\xA9.txt", "2");  // été.txt
  EXPECT_THROW(ListTree(clash.path()), InputError);
}

TEST(TreeCompare, RefusesNamesThatClashOnWindows) {
  TempTree tree;
  tree.Write("a/File.txt", "1");
  tree.Write("a/file.TXT", "2");
  EXPECT_THROW(ListTree(tree.path()), InputError);
  TempTree bad;
  bad.Write("what?.txt", "1");
  EXPECT_THROW(ListTree(bad.path()), InputError);
}

TEST(Payload, CompressesUnlessThatDoesNotHelpAndNeverLeavesItEmpty) {
  const Bytes text(10000, 'a');
  const Payload packed = MakePayload(text);
  EXPECT_TRUE(packed.comp);
  EXPECT_EQ(packed.data[0], 0x78);
  EXPECT_EQ(packed.data[1], 0xDA);
  Bytes back;
  ASSERT_TRUE(InflateWithProductCode(packed.data, back));
  EXPECT_EQ(back, text);

  Bytes noise(5000);
  uint32_t x = 1;
  for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 23);
  const Payload raw = MakePayload(noise);
  EXPECT_FALSE(raw.comp);
  EXPECT_EQ(raw.data, noise);

  const Payload empty = MakePayload({});
  EXPECT_TRUE(empty.comp);
  EXPECT_FALSE(empty.data.empty());
}

// Large content is stored untried only when nothing in it would shrink: a compressible
// stretch where a sample lands, or repetition farther apart than zlib's window, sends it
// through the full compression as before.
TEST(Payload, StoresLargeIncompressibleContentWithoutTryingAndCompressesTheRest) {
  std::mt19937 rng(25);
  const Bytes noise = RandomBytes(rng, kSampleFrom + (1 << 20));
  EXPECT_TRUE(LooksIncompressible(noise.data(), noise.size()));
  EXPECT_FALSE(LooksIncompressible(noise.data(), kSampleFrom - 1));
  const Payload stored = MakePayload(noise, true);
  EXPECT_FALSE(stored.comp);
  EXPECT_EQ(stored.data, noise);

  Bytes with_text = noise;
  std::fill(with_text.begin() + (2 << 20), with_text.begin() + (3 << 20), 'a');
  EXPECT_FALSE(LooksIncompressible(with_text.data(), with_text.size()));

  // A random MiB six times over: every sampled piece is noise, yet xz shrinks it sixfold.
  Bytes repeated;
  for (int i = 0; i < 6; ++i) repeated.insert(repeated.end(), noise.begin(), noise.begin() + (1 << 20));
  EXPECT_FALSE(LooksIncompressible(repeated.data(), repeated.size()));
}

// The file-side judgement agrees with the in-memory one, and a store either leaves a target
// holding exactly the file's bytes with their checksum, or no target at all: one that
// repeats, one that is not the size listed for it.
TEST(Payload, StoresAnIncompressibleFileWithoutHoldingItAndLeavesNothingOtherwise) {
  TempTree tree;
  std::mt19937 rng(26);
  const Bytes noise = RandomBytes(rng, kSampleFrom + (1 << 20) + 7);
  const fs::path source = tree.path() / "movie.bik", target = tree.path() / "res" / "5003.bin";
  WriteWholeFile(source, noise);
  ASSERT_TRUE(SampleLooksIncompressible(source, noise.size()));
  uint32_t crc = 0;
  ASSERT_TRUE(StoreIfIncompressible(source, noise.size(), target, &crc));
  EXPECT_EQ(ReadWholeFile(target), noise);
  EXPECT_EQ(::vard::CrcText(crc), CrcText(noise));
  fs::remove(target);

  // Across file systems the bytes are copied, not linked.
  const fs::path elsewhere = fs::path("/dev/shm") / ("mkpatch_test_" + std::to_string(::getpid()));
  if (fs::is_directory("/dev/shm")) {
    WriteWholeFile(elsewhere, noise);
    ASSERT_TRUE(StoreIfIncompressible(elsewhere, noise.size(), target, &crc));
    fs::remove(elsewhere);
    EXPECT_EQ(ReadWholeFile(target), noise);
    fs::remove(target);
  }

  EXPECT_THROW(StoreIfIncompressible(source, noise.size() - 1, target, &crc), InputError);
  EXPECT_FALSE(fs::exists(target));

  Bytes repeated;
  for (int i = 0; i < 6; ++i) repeated.insert(repeated.end(), noise.begin(), noise.begin() + (1 << 20));
  WriteWholeFile(source, repeated);
  ASSERT_EQ(SampleLooksIncompressible(source, repeated.size()), true);  // only the chunks tell
  EXPECT_FALSE(StoreIfIncompressible(source, repeated.size(), target, &crc));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(LooksIncompressible(repeated.data(), repeated.size()), false);

  Bytes with_text = noise;
  std::fill(with_text.begin() + (2 << 20), with_text.begin() + (3 << 20), 'a');
  WriteWholeFile(source, with_text);
  EXPECT_FALSE(SampleLooksIncompressible(source, with_text.size()));
}

TEST(Manifest, AttributesAreEscapedAndOptionalOnesLeftOut) {
  PlannedPack pack;
  pack.id = 5002;
  PlannedFile added;
  added.subpath = "/a&b.txt";
  added.crc = "0000abcd";
  added.size = 5;
  added.id = 5003;
  added.comp = false;
  added.comp_size = 5;
  pack.added.push_back(added);
  PlannedFile updated = added;
  updated.subpath = "/c.txt";
  updated.id = 5004;
  updated.comp = true;
  updated.comp_size = 9;
  updated.diff = false;
  updated.crc_org = "ffffffff";
  updated.size_org = 4;
  pack.updated.push_back(updated);
  const std::string xml = PackManifestXml(pack);
  EXPECT_NE(xml.find("subpath=\"/a&amp;b.txt\" crc=\"0000abcd\" size=\"5\" id=\"5003\" comp=\"0\"/>"),
            std::string::npos) << xml;
  EXPECT_NE(xml.find("id=\"5004\" comp=\"1\" comp_size=\"9\" crc_org=\"ffffffff\" size_org=\"4\" diff=\"0\"/>"),
            std::string::npos) << xml;
}

TEST(RequiredSpace, CoversGrowthAndTheLargestStagingPeak) {
  PlannedSection section;
  PlannedPack pack;
  PlannedFile added;  // 10 000 bytes new, payload compressed to 3 000
  added.size = 10000;
  added.comp = true;
  added.comp_size = 3000;
  pack.added.push_back(added);
  PlannedFile updated;  // 100 000 -> 120 000 by a diff of 30 000 compressed to 9 000
  updated.size_org = 100000;
  updated.size = 120000;
  updated.diff = true;
  updated.diff_size = 30000;
  updated.comp = true;
  updated.comp_size = 9000;
  pack.updated.push_back(updated);
  section.packs.push_back(pack);
  auto disk = [](uint64_t n) { return (n + 4095) / 4096 * 4096; };
  const uint64_t growth = disk(10000) + disk(120000) - disk(100000);
  const uint64_t peak = disk(30000) + disk(120000);  // new.dat beside undiff.dat
  EXPECT_EQ(RequiredSpace(section), growth + peak + kMetadataMargin);
}

TEST(ResourceIds, AvoidThePatchersOwn) {
  for (int id : {101, 105, 200, 225, 5001}) EXPECT_TRUE(IsReservedId(id)) << id;
  for (int id : {100, 106, 226, 5002, 65535}) EXPECT_FALSE(IsReservedId(id)) << id;
}

// A whole build through the library: a base pack and a French pack, then the manifests read
// back by the patcher's own parser and pack selection, and the self-check catching a
// damaged payload.
// An empty file is an ordinary file: its checksum is that of empty content, so the patcher
// recognises it when a run is repeated, and there is nothing to warn about.
TEST(Build, EmptyFilesAreOrdinary) {
  TempTree root;
  root.Write("old/a/emptied.txt", "text");
  root.Write("new/a/emptied.txt", "");
  root.Write("new/a/empty.txt", "");
  root.Write("p.toml", R"(from = "1.00"
to = "1.01"
[registry]
reg_path = { key = 'SOFTWARE\Korax', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\Korax', value = "Version" }
reg_version2 = { key = 'SOFTWARE\Korax', value = "DisplayVersion" }
reg_language = { key = 'SOFTWARE\Korax', value = "Language" }
[[language]]
[[language.pack]]
old = "old/a"
new = "new/a"
)");
  const fs::path out = root.path() / "res";
  fs::create_directories(out);
  BuildStats stats;
  const PatchPlan plan = PlanPatch(LoadProject(root.path() / "p.toml"), out, stats);
  WriteManifestsAndScript(plan, out);
  EXPECT_TRUE(stats.warnings.empty());
  EXPECT_EQ(plan.sections[0].packs[0].added[0].crc, "00000000");
  EXPECT_EQ(plan.sections[0].packs[0].updated[0].crc, "00000000");
  EXPECT_TRUE(SelfCheck(plan, out).problems.empty());
}

TEST(Build, ManifestsReadByThePatcherAndSelfCheckCatchesDamage) {
  TempTree root;
  root.Write("old/base/game.exe", std::string(50000, 'a') + "version 1.00" + std::string(50000, 'b'));
  root.Write("new/base/game.exe", std::string(50000, 'a') + "version 1.01!" + std::string(50000, 'b'));
  root.Write("old/base/gone.txt", "old");
  root.Write("new/base/added.txt", "new file");
  root.Write("old/fr/menu.xml", "<menu>Jouer</menu>");
  root.Write("new/fr/menu.xml", "<menu>Jouer</menu><menu>Quitter</menu>");
  root.Write("p.toml", R"(from = "1.00"
to = "1.01"
[registry]
reg_path = { key = 'SOFTWARE\Korax\Demo', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\Korax\Demo', value = "Version" }
reg_version2 = { key = 'SOFTWARE\Korax\Un', value = "DisplayVersion" }
reg_language = { key = 'SOFTWARE\Korax\Demo', value = "Language" }
[[language]]
[[language.pack]]
old = "old/base"
new = "new/base"
[[language]]
name = "french"
[[language.pack]]
root = "local/french/"
old = "old/fr"
new = "new/fr"
)");
  const Project project = LoadProject(root.path() / "p.toml");
  const fs::path out = root.path() / "res";
  fs::create_directories(out);
  BuildStats stats;
  const PatchPlan plan = PlanPatch(project, out, stats);
  WriteManifestsAndScript(plan, out);
  EXPECT_EQ(stats.added, 1u);
  EXPECT_EQ(stats.updated, 2u);
  EXPECT_EQ(stats.deleted, 1u);
  ASSERT_EQ(plan.sections.size(), 2u);
  EXPECT_EQ(plan.sections[1].packs[0].root, "local\\french");
  const PlannedFile& exe = plan.sections[0].packs[0].updated[0];
  EXPECT_TRUE(exe.diff);
  EXPECT_LT(exe.comp_size, 200u);
  EXPECT_EQ(exe.subpath, "/game.exe");

  const Bytes main_xml = ReadWholeFile(ManifestPath(out, kMainManifestId));
  const PatchConfig config = ParsePatchConfig({main_xml.data(), main_xml.size()});
  EXPECT_EQ(config.from, "1.00");
  EXPECT_EQ(config.to, "1.01");
  EXPECT_EQ(config.reg_version2.key_path, "SOFTWARE\\Korax\\Un");
  EXPECT_EQ(config.reg_language.value_name, "Language");
  const std::string text(main_xml.begin(), main_xml.end());
  EXPECT_NE(text.find("<language name=\"french\" required_space=\""), std::string::npos);
  EXPECT_NE(text.find("<pack root=\"local\\french\" id=\""), std::string::npos);

  // The patcher's own pack selection reads what the build wrote, per installation language.
  std::map<int, Bytes> resources;
  auto fetch = [&](uint16_t id) -> ResourceView {
    if (!resources.count(id)) {
      const fs::path path = fs::exists(ManifestPath(out, id)) ? ManifestPath(out, id) : PayloadPath(out, id);
      resources[id] = ReadWholeFile(path);
    }
    return {resources[id].data(), resources[id].size()};
  };
  FileEntryList english, french;
  const int64_t english_space = SelectFileEntries(9, fetch, L"C:\\Games\\Demo", english);
  const int64_t french_space = SelectFileEntries(1036, fetch, L"C:\\Games\\Demo", french);
  EXPECT_EQ(english_space, static_cast<int64_t>(plan.sections[0].required_space));
  EXPECT_EQ(french_space, static_cast<int64_t>(plan.sections[0].required_space +
                                               plan.sections[1].required_space));
  ASSERT_EQ(english.size(), 3u);  // added, updated, deleted of the base pack
  ASSERT_EQ(french.size(), 4u);
  EXPECT_EQ(DisplayName(*french[0]), L"added.txt");
  EXPECT_EQ(french[1]->kind, EntryKind::Updated);
  EXPECT_EQ(french[1]->crc_org, exe.crc_org);
  EXPECT_EQ(ReadManifestNumber(french[1]->diff_size), static_cast<int64_t>(exe.diff_size));
  EXPECT_EQ(french[2]->kind, EntryKind::Deleted);
  EXPECT_EQ(DisplayName(*french[3]), L"local\\french\\menu.xml");
  EXPECT_EQ(TargetPath(*french[3]), L"C:\\Games\\Demo\\local\\french\\menu.xml");

  const CheckResult good = SelfCheck(plan, out);
  EXPECT_TRUE(good.problems.empty()) << good.problems[0];
  EXPECT_EQ(good.entries, 3u * 5 + 1);       // the base pack in every language, menu.xml in French
  EXPECT_EQ(good.decoded, 3u);              // each payload once, whatever the languages
  // One flipped byte in the diff payload must be caught before anything is shipped, in
  // every language.
  Bytes payload = ReadWholeFile(PayloadPath(out, exe.id));
  payload[payload.size() / 2] ^= 0x40;
  WriteWholeFile(PayloadPath(out, exe.id), payload);
  const auto problems = SelfCheck(plan, out).problems;
  ASSERT_EQ(problems.size(), 5u);
  for (const std::string& p : problems) EXPECT_NE(p.find("game.exe"), std::string::npos) << p;
}

const char* const kProject = R"(from = "1.00"
to = "1.01"
[registry]
reg_path = { key = 'SOFTWARE\Korax\Demo', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\Korax\Demo', value = "Version" }
reg_version2 = { key = 'SOFTWARE\Korax\Un', value = "DisplayVersion" }
reg_language = { key = 'SOFTWARE\Korax\Demo', value = "Language" }
[[language]]
[[language.pack]]
old = "old"
new = "new"
)";

struct Built {
  PatchPlan plan;
  fs::path out;
};

Built BuildIn(const TempTree& root, unsigned jobs = 0, const std::string& out_name = "res",
              uint64_t split_size = kSplitSize, PayloadCache* cache = nullptr) {
  root.Write("p.toml", kProject);
  Built built{{}, root.path() / out_name};
  fs::create_directories(built.out);
  BuildStats stats;
  BuildOptions options;
  options.jobs = jobs;
  options.split_size = split_size;
  options.cache = cache;
  built.plan = PlanPatch(LoadProject(root.path() / "p.toml"), built.out, stats, options);
  WriteManifestsAndScript(built.plan, built.out);
  return built;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
  for (const std::string& p : problems)
    if (p.find(text) != std::string::npos) return true;
  return false;
}

// A file that becomes a folder is deleted by a pack of its own before the folder's files
// are added; a folder that becomes a file cannot pass the patcher's pre-flight and is
// refused.
TEST(Build, FileBecomesFolderIsDeletedFirstAndTheReverseIsRefused) {
  TempTree root;
  root.Write("old/maps", "a file");
  root.Write("new/Maps/level1.map", "a file in a folder of the same name");
  root.Write("old/keep.txt", "k");
  root.Write("new/keep.txt", "k2");
  const Built built = BuildIn(root);
  const auto& packs = built.plan.sections[0].packs;
  ASSERT_EQ(packs.size(), 2u);
  EXPECT_TRUE(packs[0].added.empty() && packs[0].updated.empty());
  ASSERT_EQ(packs[0].deleted.size(), 1u);
  EXPECT_EQ(packs[0].deleted[0].subpath, "/maps");
  EXPECT_LT(packs[0].id, packs[1].id);
  EXPECT_EQ(packs[1].added.size(), 1u);
  EXPECT_TRUE(packs[1].deleted.empty());
  const CheckResult check = SelfCheck(built.plan, built.out);
  EXPECT_TRUE(check.problems.empty()) << check.problems[0];

  TempTree reverse;
  reverse.Write("old/maps/level1.map", "x");
  reverse.Write("new/maps", "y");
  reverse.Write("p.toml", kProject);
  BuildStats stats;
  try {
    PlanPatch(LoadProject(reverse.path() / "p.toml"), reverse.path(), stats);
    ADD_FAILURE() << "a folder that becomes a file was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot turn a folder into a file"), std::string::npos) << e.what();
  }
}

// The replay applies the manifests as the patcher would: plans that each payload survives
// but the whole patch does not are caught.
TEST(SelfCheck, ReplaysTheWholePatchInThePatchersOrder) {
  // A case-only rename carried as an add and a delete: the delete removes the added file.
  TempTree root;
  root.Write("old/\xC3\x84.txt", "old content");
  root.Write("new/\xC3\xA4.txt", "new content, longer");
  Built built = BuildIn(root);
  PlannedPack& pack = built.plan.sections[0].packs[0];
  ASSERT_EQ(pack.updated.size(), 1u);
  PlannedFile added = pack.updated[0];
  const Payload whole = MakePayload(ReadWholeFile(added.new_file));
  WriteWholeFile(PayloadPath(built.out, added.id), whole.data);
  added.comp = whole.comp;
  added.comp_size = whole.data.size();
  added.diff = false;
  PlannedFile deleted;
  deleted.subpath = "/\xC3\x84.txt";
  pack.added = {added};
  pack.deleted = {deleted};
  pack.updated.clear();
  WriteManifestsAndScript(built.plan, built.out);
  std::vector<std::string> problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(Mentions(problems, "english: \xC3\xA4.txt: missing after the patch")) << problems[0];

  // A file that becomes a folder, deleted after the additions: the folder cannot be made.
  TempTree tree;
  tree.Write("old/maps", "a file");
  tree.Write("new/maps/level1.map", "x");
  built = BuildIn(tree);
  auto& packs = built.plan.sections[0].packs;
  ASSERT_EQ(packs.size(), 2u);
  packs[1].deleted = packs[0].deleted;
  packs.erase(packs.begin());
  WriteManifestsAndScript(built.plan, built.out);
  problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(Mentions(problems, "maps\\level1.map: a file stands where a folder")) << problems[0];

  // An update whose old file another pack of the same language already replaced.
  TempTree overlap;
  overlap.Write("old/a.txt", "version one");
  overlap.Write("new/a.txt", "version two!");
  built = BuildIn(overlap);
  built.plan.sections.push_back(built.plan.sections[0]);
  built.plan.project.sections.push_back(built.plan.project.sections[0]);
  built.plan.changes.push_back(built.plan.changes[0]);
  WriteManifestsAndScript(built.plan, built.out);
  problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(Mentions(problems, "a.txt: the installed file")) << (problems.empty() ? "" : problems[0]);
}

// Folders travel with the patch: the new version's empty ones are created, the old
// version's that the new one lacks are removed (deepest first), and the replay checks both.
TEST(Build, EmptyFoldersAreCarriedAndDroppedFoldersRemoved) {
  TempTree root;
  root.Write("old/keep.txt", "k");
  root.Write("new/keep.txt", "k2");
  root.Write("old/gone/deeper/old.dat", "o");
  fs::create_directories(root.path() / "old" / "was_empty");
  fs::create_directories(root.path() / "new" / "saves" / "empty");
  Built built = BuildIn(root);
  PlannedPack& pack = built.plan.sections[0].packs[0];
  EXPECT_EQ(pack.removed_folders, (std::vector<std::string>{"/was_empty", "/gone/deeper", "/gone"}));
  EXPECT_EQ(pack.created_folders, (std::vector<std::string>{"/saves", "/saves/empty"}));
  EXPECT_NE(PackManifestXml(pack).find("<folders>\n    <remove subpath=\"/was_empty\"/>"), std::string::npos);
  std::vector<std::string> problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(problems.empty()) << problems[0];

  pack.removed_folders.clear();
  pack.created_folders.pop_back();
  WriteManifestsAndScript(built.plan, built.out);
  problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(Mentions(problems, "saves\\empty: folder missing after the patch"));
  EXPECT_TRUE(Mentions(problems, "gone: folder left over after the patch"));
}

// The replay follows the disk as the patcher stages each file beside the installed one:
// sections asking for less than the run's fullest moment are caught.
TEST(SelfCheck, RequiredSpaceCoversTheRunAtItsFullest) {
  TempTree root;
  std::string noise(60000, '\0');
  uint32_t state = 1;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  root.Write("old/a.bin", noise.substr(0, 20000));
  root.Write("new/a.bin", noise + noise.substr(0, 30000));
  root.Write("new/c.bin", noise.substr(10000));
  Built built = BuildIn(root);
  std::vector<std::string> problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(problems.empty()) << problems[0];
  built.plan.sections[0].required_space = 100000;  // below c.bin in place beside a.bin staged
  WriteManifestsAndScript(built.plan, built.out);
  problems = SelfCheck(built.plan, built.out).problems;
  EXPECT_TRUE(Mentions(problems, "english: the run needs")) << (problems.empty() ? "" : problems[0]);
}

// Threads change when payloads are made, never what they hold: a build on one thread and
// one on four write the same bytes, including a file large enough to be split.
TEST(Build, OutputDoesNotDependOnTheNumberOfThreads) {
  TempTree root;
  std::string big(300000, 'x');
  uint32_t x = 7;
  for (size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  root.Write("old/big.bin", big);
  for (size_t i = 0; i < big.size(); i += 4099) big[i] ^= 0x5A;
  root.Write("new/big.bin", big);
  for (int i = 0; i < 40; ++i) {
    root.Write("old/f" + std::to_string(i), std::string(1000 + i * 37, static_cast<char>('a' + i % 26)));
    if (i % 3) root.Write("new/f" + std::to_string(i), std::string(900 + i * 41, static_cast<char>('b' + i % 20)));
    if (i % 4 == 0) root.Write("new/g" + std::to_string(i), std::string(500 + i, 'q'));
  }
  const Built one = BuildIn(root, 1, "one");
  const Built four = BuildIn(root, 4, "four", 100000);
  size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(one.out)) {
    if (entry.path().filename() == kRcName) continue;  // names its folder
    EXPECT_EQ(ReadWholeFile(entry.path()), ReadWholeFile(four.out / entry.path().filename()))
        << entry.path().filename();
    ++compared;
  }
  // main and pack manifests, updated, added, big.bin, version resource
  EXPECT_EQ(compared, 1u + 1 + 26 + 10 + 1 + 1);
  EXPECT_TRUE(SelfCheck(four.plan, four.out).problems.empty());
}

// Cache keys and the builds' shared-payload keys are SHA-256 digests: the standard's
// test vectors, one of them over many blocks.
TEST(PayloadCache, KeysAreSha256Digests) {
  const auto hex = [](const std::string& text) {
    return Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// A second build of the same trees takes its payloads from the cache and writes the same
// bytes; a damaged cache entry is reused but cannot pass the self-check.
TEST(Build, SecondBuildReusesPayloadsAndTheSelfCheckStillJudgesThem) {
  TempTree root;
  root.Write("old/a.bin", std::string(20000, 'a') + "one");
  root.Write("new/a.bin", std::string(20000, 'a') + "two!");
  root.Write("new/b.txt", "added");
  PayloadCache first_cache(root.path() / "cache");
  ASSERT_TRUE(first_cache.enabled());
  const Built first = BuildIn(root, 0, "first", kSplitSize, &first_cache);
  EXPECT_EQ(first_cache.reused(), 0u);
  PayloadCache second_cache(root.path() / "cache");
  const Built second = BuildIn(root, 0, "second", kSplitSize, &second_cache);
  EXPECT_EQ(second_cache.reused(), 2u);
  for (const char* name : {"5003.bin", "5004.bin", "5002.xml"})
    EXPECT_EQ(ReadWholeFile(first.out / name), ReadWholeFile(second.out / name)) << name;

  for (const auto& entry : fs::directory_iterator(root.path() / "cache"))
    if (entry.path().extension() == ".bin") {
      Bytes bytes = ReadWholeFile(entry.path());
      bytes.back() ^= 1;
      WriteWholeFile(entry.path(), bytes);
    }
  PayloadCache damaged(root.path() / "cache");
  const Built third = BuildIn(root, 0, "third", kSplitSize, &damaged);
  EXPECT_EQ(damaged.reused(), 2u);
  EXPECT_FALSE(SelfCheck(third.plan, third.out).problems.empty());
}

}  // namespace
}  // namespace vard::mkpatch
