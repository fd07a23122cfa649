// Pack application against real files under Wine, with payloads embedded in this test
// executable (see make_apply_payloads.py): every kind of entry, files already in their
// new state, damaged installations and payloads, leftovers of an interrupted run, game
// files named like staging files, read-only and empty game files, files held open by
// another program, and a sparse game file above 4 GiB.
#include "engine/apply.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "engine/apply_run.h"
#include "engine/crc_text.h"
#include "engine/overlay.h"
#include "engine/verify.h"
#include "base/staging_names.h"
#include "base/text.h"
#include "manifest/data_resource.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "test_support/import_hook.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

enum : std::int32_t {
  kOld = 1001, kNew, kDiff, kDiffZ, kNewZ, kSameOld, kSameNew, kSameDiffZ, kHugeDiff,
  kStreamDiff, kBadStreamDiff, kNewXz,
  kNoSuchPayload = 999,
};

std::string Resource(std::int32_t id) {
  const ResourceView view = LoadDataResource(static_cast<std::uint16_t>(id));
  return std::string(reinterpret_cast<const char*>(view.bytes), view.length);
}

std::string Crc(const std::string& data) {
  return CrcText(Crc32Update(0, reinterpret_cast<const unsigned char*>(data.data()), data.size()));
}

// Opens a file the way a running game might, for as long as it lives.
class Holder {
 public:
  Holder(const std::wstring& path, DWORD share)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Holder() { Release(); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

class ApplyEntryTest : public ::testing::Test {
 protected:
  // An entry under the temporary install folder, with the progress nodes pre-flight
  // would give it (a checksum node only when asked for).
  FileEntry& Entry(EntryKind kind, const std::wstring& rel_dir, const std::wstring& name,
                   bool checksum = false) {
    auto entry = std::make_unique<FileEntry>();
    entry->kind = kind;
    entry->rel_dir = rel_dir;
    entry->file_name = name;
    entry->install_root = dir_.path() + L"\\";
    auto& nodes = nodes_.emplace_back();
    nodes.push_back(std::make_unique<ProgressNode>(nullptr, rel_dir + name));
    ProgressNode* label = nodes.back().get();
    entry->entry_node = label;
    auto work = [&](std::uint64_t weight) {
      nodes.push_back(std::make_unique<ProgressNode>(weight, label));
      return nodes.back().get();
    };
    // Weights beyond any test file: only MarkComplete brings the entry to 1.
    const std::uint64_t weight = std::uint64_t{1} << 40;
    if (checksum) entry->checksum_node = work(weight);
    entry->diff_node = work(weight);
    entry->payload_node = work(weight);
    entry->copy_node = work(weight);
    entries_.push_back(std::move(entry));
    return *entries_.back();
  }

  // An updated entry from the old to the new test file with the given payload.
  FileEntry& Update(std::int32_t payload, bool comp, bool diff, bool checksum = false) {
    FileEntry& e = Entry(EntryKind::Updated, L"data\\", L"level.bin", checksum);
    e.size_org = std::to_string(old_.size());
    e.crc_org = Crc(old_);
    e.size = std::to_string(new_.size());
    e.crc = Crc(new_);
    e.id = payload;
    e.comp = comp;
    e.diff = diff;
    if (diff && payload != kNoSuchPayload) e.diff_size = test::DecodedSize(Resource(payload), comp);
    return e;
  }

  static bool Complete(const FileEntry& e) { return Fraction(*e.entry_node) >= 1.0f; }

  // No staging file anywhere below the install folder.
  bool NoStagingFiles() const { return NoStagingIn(dir_.path()); }
  static bool NoStagingIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return true;
    bool clean = true;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        clean = clean && NoStagingIn(folder + L"\\" + name);
      } else if (IsStagingName(name)) {
        clean = false;
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return clean;
  }

  std::wstring Game(const std::wstring& relative) const { return dir_.Path(relative); }

  TempDir dir_;
  const std::string old_ = Resource(kOld);
  const std::string new_ = Resource(kNew);
  std::vector<std::unique_ptr<FileEntry>> entries_;
  std::vector<std::vector<std::unique_ptr<ProgressNode>>> nodes_;
};

TEST_F(ApplyEntryTest, UpdatesByDiffAndWholeFileCompressedOrNot) {
  struct Case { std::int32_t id; bool comp; bool diff; };
  for (const Case c : {Case{kDiffZ, true, true}, Case{kDiff, false, true},
                       Case{kNewZ, true, false}, Case{kNew, false, false}}) {
    SCOPED_TRACE(c.id);
    WriteFileBytes(Game(L"data\\level.bin"), old_);
    FileEntry& e = Update(c.id, c.comp, c.diff);
    ASSERT_EQ(ApplyEntry(e), ApplyResult::Ok);
    EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
    EXPECT_TRUE(NoStagingFiles());
    EXPECT_TRUE(Complete(e));
  }
}

TEST_F(ApplyEntryTest, StreamDiffAndXzPayloadsApply) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  FileEntry& diffed = Update(kStreamDiff, false, true);
  diffed.diff_form = 2;
  ASSERT_EQ(ApplyEntry(diffed), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  FileEntry& whole = Update(kNewXz, true, false);
  whole.comp_form = 2;
  ASSERT_EQ(ApplyEntry(whole), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  EXPECT_TRUE(NoStagingFiles());
}

TEST_F(ApplyEntryTest, MalformedStreamDiffOrXzFailsWithTheOldFileIntact) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  FileEntry& corrupt = Update(kBadStreamDiff, false, true);
  corrupt.diff_form = 2;
  EXPECT_EQ(ApplyEntry(corrupt), ApplyResult::DiskError);
  // A good stream diff for an entry of another size, and a zlib payload read as xz.
  FileEntry& other_size = Update(kStreamDiff, false, true);
  other_size.diff_form = 2;
  other_size.size = std::to_string(new_.size() + 1);
  EXPECT_EQ(ApplyEntry(other_size), ApplyResult::DiskError);
  FileEntry& not_xz = Update(kNewZ, true, false);
  not_xz.comp_form = 2;
  EXPECT_EQ(ApplyEntry(not_xz), ApplyResult::DiskError);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
  EXPECT_TRUE(NoStagingFiles());
  EXPECT_FALSE(Complete(corrupt));
}

// A payload that decodes to more than its manifest entry states is damaged, even when
// what it decodes to has the entry's checksum: every decoder stops at the stated size.
TEST_F(ApplyEntryTest, DecodingPastTheManifestSizeFailsWithTheOldFileIntact) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  const std::string one_short = std::to_string(new_.size() - 1);
  FileEntry& zlib = Update(kNewZ, true, false);
  zlib.size = one_short;
  EXPECT_EQ(ApplyEntry(zlib), ApplyResult::DiskError);
  FileEntry& xz = Update(kNewXz, true, false);
  xz.comp_form = 2;
  xz.size = one_short;
  EXPECT_EQ(ApplyEntry(xz), ApplyResult::DiskError);
  FileEntry& inflated_diff = Update(kDiffZ, true, true);
  inflated_diff.diff_size = std::to_string(std::stoull(inflated_diff.diff_size) - 1);
  EXPECT_EQ(ApplyEntry(inflated_diff), ApplyResult::DiskError);
  FileEntry& rebuilt = Update(kDiff, false, true);
  rebuilt.size = one_short;
  EXPECT_EQ(ApplyEntry(rebuilt), ApplyResult::DiskError);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
  EXPECT_TRUE(NoStagingFiles());
}

TEST_F(ApplyEntryTest, FileAlreadyUpdatedIsLeftAlone) {
  WriteFileBytes(Game(L"data\\level.bin"), new_);
  // A payload that does not exist proves nothing is staged.
  FileEntry& e = Update(kNoSuchPayload, true, true, /*checksum=*/true);
  EXPECT_EQ(ApplyEntry(e), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  EXPECT_TRUE(Complete(e));
}

TEST_F(ApplyEntryTest, EqualSizedVersionsAreToldApartByChecksum) {
  const std::string same_old = Resource(kSameOld), same_new = Resource(kSameNew);
  auto entry = [&](std::int32_t id) -> FileEntry& {
    FileEntry& e = Entry(EntryKind::Updated, L"", L"same.bin", /*checksum=*/true);
    e.size_org = e.size = std::to_string(same_old.size());
    e.crc_org = Crc(same_old);
    e.crc = Crc(same_new);
    e.id = id;
    e.comp = e.diff = true;
    if (id != kNoSuchPayload) e.diff_size = test::DecodedSize(Resource(id), true);
    return e;
  };
  WriteFileBytes(Game(L"same.bin"), same_old);
  ASSERT_EQ(ApplyEntry(entry(kSameDiffZ)), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"same.bin")) == same_new);
  EXPECT_EQ(ApplyEntry(entry(kNoSuchPayload)), ApplyResult::Ok);  // already done
  WriteFileBytes(Game(L"same.bin"), std::string(same_old.size(), 'x'));
  FileEntry& neither = entry(kSameDiffZ);
  EXPECT_EQ(ApplyEntry(neither), ApplyResult::Corrupted);
  EXPECT_FALSE(Complete(neither));
}

TEST_F(ApplyEntryTest, DamagedInstallationsAreCorrupted) {
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::Corrupted);  // missing
  WriteFileBytes(Game(L"data\\level.bin"), old_ + "extra");
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::Corrupted);  // other size
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_ + "extra");
  std::string wrong = new_;
  wrong[10] ^= 1;
  WriteFileBytes(Game(L"data\\level.bin"), wrong);
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true, true)), ApplyResult::Corrupted);
  EXPECT_TRUE(NoStagingFiles());
}

TEST_F(ApplyEntryTest, AddedFiles) {
  // Into folders that do not exist yet.
  FileEntry& fresh = Entry(EntryKind::Added, L"local\\french\\", L"text.bin");
  fresh.id = kNewZ;
  fresh.comp = true;
  fresh.crc = Crc(new_);
  fresh.size = std::to_string(new_.size());
  ASSERT_EQ(ApplyEntry(fresh), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"local\\french\\text.bin")) == new_);
  EXPECT_TRUE(Complete(fresh));

  // Present with the new checksum: untouched, complete.
  FileEntry& done = Entry(EntryKind::Added, L"local\\french\\", L"text.bin", true);
  done.id = kNoSuchPayload;
  done.crc = Crc(new_);
  EXPECT_EQ(ApplyEntry(done), ApplyResult::Ok);
  EXPECT_TRUE(Complete(done));

  // Present with another checksum, or without a checksum node: written anew.
  for (bool checksum : {true, false}) {
    WriteFileBytes(Game(L"add.bin"), "something else");
    FileEntry& e = Entry(EntryKind::Added, L"", L"add.bin", checksum);
    e.id = kOld;
    e.crc = Crc(old_);
    ASSERT_EQ(ApplyEntry(e), ApplyResult::Ok);
    EXPECT_TRUE(ReadFileBytes(Game(L"add.bin")) == old_);
  }

  // Present and empty, as an earlier run left it: the checksum of empty content is
  // "00000000", so it is known as done; with another checksum it is replaced.
  WriteFileBytes(Game(L"empty.bin"), "");
  FileEntry& empty = Entry(EntryKind::Added, L"", L"empty.bin", true);
  empty.id = kNoSuchPayload;
  empty.crc = "00000000";
  EXPECT_EQ(ApplyEntry(empty), ApplyResult::Ok);
  EXPECT_TRUE(Complete(empty));
  FileEntry& filled = Entry(EntryKind::Added, L"", L"empty.bin", true);
  filled.id = kOld;
  filled.crc = Crc(old_);
  EXPECT_EQ(ApplyEntry(filled), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"empty.bin")) == old_);
  EXPECT_TRUE(NoStagingFiles());
}

// An added file whose name is taken is replaced in one step like an updated one: when its
// new content cannot be made, the file that was there is still there.
TEST_F(ApplyEntryTest, AddedOverAnExistingFileKeepsItUntilTheNewOneIsComplete) {
  WriteFileBytes(Game(L"add.bin"), "the player's file");
  FileEntry& missing = Entry(EntryKind::Added, L"", L"add.bin", true);
  missing.id = kNoSuchPayload;
  missing.crc = Crc(old_);
  EXPECT_THROW(ApplyEntry(missing), std::runtime_error);
  EXPECT_EQ(ReadFileBytes(Game(L"add.bin")), "the player's file");
}

// The result is checked against the entry's "crc" before it takes the game file's name.
TEST_F(ApplyEntryTest, AResultWithTheWrongChecksumReplacesNothing) {
  // The installed file has the old size but other bytes, and the sizes differ: pre-flight
  // lets it through, the diff rebuilds garbage, and the checksum stops it.
  std::string modified = old_;
  modified[200000] ^= 0x55;
  for (const auto& [id, comp, diff] : {std::tuple{kDiffZ, true, true}, std::tuple{kDiff, false, true}}) {
    WriteFileBytes(Game(L"data\\level.bin"), modified);
    FileEntry& e = Update(id, comp, diff);
    EXPECT_EQ(ApplyEntry(e), ApplyResult::Corrupted);
    EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == modified);
    EXPECT_FALSE(Complete(e));
    EXPECT_TRUE(NoStagingFiles());
  }
  // A payload whose content is not what the entry says (whole files and added files).
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  FileEntry& whole = Update(kNewZ, true, false);
  whole.crc = Crc(old_);
  EXPECT_EQ(ApplyEntry(whole), ApplyResult::Corrupted);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
  WriteFileBytes(Game(L"add.bin"), "kept");
  FileEntry& added = Entry(EntryKind::Added, L"", L"add.bin");
  added.id = kNew;
  added.crc = Crc(old_);
  EXPECT_EQ(ApplyEntry(added), ApplyResult::Corrupted);
  EXPECT_EQ(ReadFileBytes(Game(L"add.bin")), "kept");
  EXPECT_TRUE(NoStagingFiles());
}

// Files that the patch does not name keep their names and bytes whatever they are called,
// "new.dat", "undiff.dat" and "tmp_uncomp.dat" included, and an entry may be called so.
TEST_F(ApplyEntryTest, GameFilesNamedLikeStagingFilesOfOldAreOrdinaryFiles) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  for (const wchar_t* name : {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"}) {
    WriteFileBytes(Game(std::wstring(L"data\\") + name), "game data");
  }
  ASSERT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::Ok);
  ASSERT_EQ(ApplyEntry(Update(kNew, false, false, true)), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  for (const wchar_t* name : {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"}) {
    EXPECT_EQ(ReadFileBytes(Game(std::wstring(L"data\\") + name)), "game data") << name;
  }
  for (const wchar_t* name : {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"}) {
    FileEntry& e = Entry(EntryKind::Added, L"data\\", name, true);
    e.id = kNewZ;
    e.comp = true;
    e.crc = Crc(new_);
    e.size = std::to_string(new_.size());
    ASSERT_EQ(ApplyEntry(e), ApplyResult::Ok) << name;
    EXPECT_TRUE(ReadFileBytes(Game(std::wstring(L"data\\") + name)) == new_);
  }
  EXPECT_TRUE(NoStagingFiles());
}

// Read-only game files (installed from disc) are replaced and deleted; the attribute of a
// file is cleared only when that file is about to go, and no other file's is touched.
TEST_F(ApplyEntryTest, ReadOnlyGameFilesAreReplacedAndDeleted) {
  auto read_only = [&](const std::wstring& relative) {
    return (GetFileAttributesW(Game(relative).c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
  };
  auto make_read_only = [&](const std::wstring& relative, const std::string& bytes) {
    WriteFileBytes(Game(relative), bytes);
    ASSERT_TRUE(SetFileAttributesW(Game(relative).c_str(), FILE_ATTRIBUTE_READONLY));
  };
  make_read_only(L"data\\neighbour.bin", "not in the patch");
  std::string modified = old_;
  modified[5] ^= 1;
  make_read_only(L"data\\level.bin", modified);
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::Corrupted);
  EXPECT_TRUE(read_only(L"data\\level.bin"));

  for (const auto& [id, comp, diff] : {std::tuple{kDiffZ, true, true}, std::tuple{kNew, false, false}}) {
    SetFileAttributesW(Game(L"data\\level.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
    make_read_only(L"data\\level.bin", old_);
    ASSERT_EQ(ApplyEntry(Update(id, comp, diff)), ApplyResult::Ok);
    EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  }
  make_read_only(L"add.bin", "older");
  FileEntry& added = Entry(EntryKind::Added, L"", L"add.bin", true);
  added.id = kOld;
  added.crc = Crc(old_);
  ASSERT_EQ(ApplyEntry(added), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"add.bin")) == old_);
  make_read_only(L"old\\gone.bin", "bye");
  ASSERT_EQ(ApplyEntry(Entry(EntryKind::Deleted, L"old\\", L"gone.bin")), ApplyResult::Ok);
  EXPECT_FALSE(PathExists(Game(L"old\\gone.bin")));
  EXPECT_TRUE(read_only(L"data\\neighbour.bin"));
  SetFileAttributesW(Game(L"data\\neighbour.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(NoStagingFiles());
}

// What replaces a game file is on the disk before it takes the file's name: the file that
// MoveFileExW renames was flushed with FlushFileBuffers first, after its last write.
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationByHandle(file, &info);
  return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}
struct Durability {
  static inline FileIdentity flushed{};
  static inline bool written_since_flush = true;
  static inline std::vector<bool> moved_flushed;
  static inline decltype(&FlushFileBuffers) real_flush = nullptr;
  static inline decltype(&WriteFile) real_write = nullptr;
  static inline decltype(&MoveFileExW) real_move = nullptr;
  static BOOL WINAPI Flush(HANDLE file) {
    flushed = IdentityOf(file);
    written_since_flush = false;
    return real_flush(file);
  }
  static BOOL WINAPI Write(HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    if (IdentityOf(file) == flushed) written_since_flush = true;
    return real_write(file, data, size, done, overlapped);
  }
  static BOOL WINAPI Move(LPCWSTR from, LPCWSTR to, DWORD flags) {
    HANDLE file = CreateFileW(from, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    moved_flushed.push_back(file != INVALID_HANDLE_VALUE && IdentityOf(file) == flushed &&
                            !written_since_flush);
    CloseHandle(file);
    return real_move(from, to, flags);
  }
};

TEST_F(ApplyEntryTest, TheResultIsFlushedBeforeItReplacesTheGameFile) {
  Durability::real_flush = reinterpret_cast<decltype(&FlushFileBuffers)>(
      test::HookImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&Durability::Flush)));
  Durability::real_write = reinterpret_cast<decltype(&WriteFile)>(
      test::HookImport("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&Durability::Write)));
  Durability::real_move = reinterpret_cast<decltype(&MoveFileExW)>(
      test::HookImport("kernel32.dll", "MoveFileExW", reinterpret_cast<void*>(&Durability::Move)));
  ASSERT_NE(Durability::real_write, nullptr);
  ASSERT_NE(Durability::real_move, nullptr);
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  const ApplyResult diffed = ApplyEntry(Update(kDiffZ, true, true));
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  const ApplyResult whole = ApplyEntry(Update(kNew, false, false));
  WriteFileBytes(Game(L"add.bin"), "older");
  FileEntry& added = Entry(EntryKind::Added, L"", L"add.bin");
  added.id = kOld;
  added.crc = Crc(old_);
  const ApplyResult add = ApplyEntry(added);
  test::HookImport("kernel32.dll", "MoveFileExW", reinterpret_cast<void*>(Durability::real_move));
  test::HookImport("kernel32.dll", "WriteFile", reinterpret_cast<void*>(Durability::real_write));
  if (Durability::real_flush != nullptr) {
    test::HookImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(Durability::real_flush));
  }
  EXPECT_EQ(diffed, ApplyResult::Ok);
  EXPECT_EQ(whole, ApplyResult::Ok);
  EXPECT_EQ(add, ApplyResult::Ok);
  EXPECT_EQ(Durability::moved_flushed, (std::vector<bool>{true, true, true}));
}

// Every file call of verification and application receives the long form ("\\?\"), so
// that an installation whose paths pass MAX_PATH can be patched on Windows (Wine does not
// enforce the limit, so the calls are watched instead).
struct LongPaths {
  static inline std::vector<std::wstring> short_paths;
  static inline int seen = 0;
  static void See(LPCWSTR path) {
    ++seen;
    if (path != nullptr && std::wstring(path).rfind(L"\\\\?\\", 0) != 0) short_paths.push_back(path);
  }
  static inline decltype(&CreateFileW) real_create = nullptr;
  static inline decltype(&DeleteFileW) real_delete = nullptr;
  static inline decltype(&MoveFileExW) real_move = nullptr;
  static inline decltype(&GetFileAttributesW) real_attributes = nullptr;
  static inline decltype(&SetFileAttributesW) real_set_attributes = nullptr;
  static inline decltype(&CreateDirectoryW) real_create_directory = nullptr;
  static HANDLE WINAPI Create(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templ) {
    See(path);
    return real_create(path, access, share, security, disposition, flags, templ);
  }
  static BOOL WINAPI Delete(LPCWSTR path) { See(path); return real_delete(path); }
  static BOOL WINAPI Move(LPCWSTR from, LPCWSTR to, DWORD flags) {
    See(from);
    See(to);
    return real_move(from, to, flags);
  }
  static DWORD WINAPI Attributes(LPCWSTR path) { See(path); return real_attributes(path); }
  static BOOL WINAPI SetAttributes(LPCWSTR path, DWORD value) {
    See(path);
    return real_set_attributes(path, value);
  }
  static BOOL WINAPI CreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    See(path);
    return real_create_directory(path, security);
  }
  template <typename F>
  static void Hook(const char* name, F& real, F hook) {
    real = reinterpret_cast<F>(test::HookImport("kernel32.dll", name, reinterpret_cast<void*>(hook)));
  }
  template <typename F>
  static void Unhook(const char* name, F real) {
    if (real != nullptr) test::HookImport("kernel32.dll", name, reinterpret_cast<void*>(real));
  }
  static void Watch(bool on) {
    if (on) {
      Hook("CreateFileW", real_create, &Create);
      Hook("DeleteFileW", real_delete, &Delete);
      Hook("MoveFileExW", real_move, &Move);
      Hook("GetFileAttributesW", real_attributes, &Attributes);
      Hook("SetFileAttributesW", real_set_attributes, &SetAttributes);
      Hook("CreateDirectoryW", real_create_directory, &CreateDirectory);
    } else {
      Unhook("CreateFileW", real_create);
      Unhook("DeleteFileW", real_delete);
      Unhook("MoveFileExW", real_move);
      Unhook("GetFileAttributesW", real_attributes);
      Unhook("SetFileAttributesW", real_set_attributes);
      Unhook("CreateDirectoryW", real_create_directory);
    }
  }
};

TEST_F(ApplyEntryTest, EveryFileCallTakesTheLongFormAndPathsPastMaxPathWork) {
  // The installation lies deeper than MAX_PATH allows for its files and staging files.
  const std::wstring deep = std::wstring(70, L'd') + L"\\" + std::wstring(70, L'e') + L"\\" +
                            std::wstring(70, L'f');
  WriteFileBytes(Game(deep + L"\\data\\level.bin"), old_);
  WriteFileBytes(Game(deep + L"\\old\\gone.bin"), "bye");
  FileEntry& updated = Update(kDiffZ, true, true, true);
  FileEntry& added = Entry(EntryKind::Added, L"fresh\\deeper\\", L"add.bin");
  added.id = kOld;
  added.crc = Crc(old_);
  added.size = std::to_string(old_.size());
  FileEntry& deleted = Entry(EntryKind::Deleted, L"old\\", L"gone.bin");
  for (FileEntry* e : {&updated, &added, &deleted}) e->install_root = Game(deep) + L"\\";
  ASSERT_GT(Game(deep + L"\\fresh\\deeper\\add.bin.vard-undiff").size(), std::size_t{MAX_PATH});

  ProgressNode root(0, nullptr);
  LongPaths::Watch(true);
  bool verified = true;
  for (FileEntry* e : {&updated, &added, &deleted}) verified = VerifyEntry(*e, root) && verified;
  const ApplyResult results[] = {ApplyEntry(updated), ApplyEntry(added), ApplyEntry(deleted)};
  LongPaths::Watch(false);

  ASSERT_NE(LongPaths::real_create, nullptr);
  ASSERT_NE(LongPaths::real_attributes, nullptr);
  EXPECT_TRUE(verified);
  for (ApplyResult result : results) EXPECT_EQ(result, ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(deep + L"\\data\\level.bin")) == new_);
  EXPECT_TRUE(ReadFileBytes(Game(deep + L"\\fresh\\deeper\\add.bin")) == old_);
  EXPECT_FALSE(PathExists(Game(deep + L"\\old\\gone.bin")));
  EXPECT_TRUE(NoStagingFiles());
  EXPECT_GT(LongPaths::seen, 20);  // the calls were watched
  EXPECT_EQ(LongPaths::short_paths, std::vector<std::wstring>{});
}

// A deleted entry removes a file only: a player's folder of that name stays with all it
// holds, and the run goes on.
TEST_F(ApplyEntryTest, ADeletedEntryLeavesAFolderOfItsName) {
  WriteFileBytes(Game(L"old\\gone.bin\\player.sav"), "progress");
  FileEntry& e = Entry(EntryKind::Deleted, L"old\\", L"gone.bin");
  EXPECT_EQ(ApplyEntry(e), ApplyResult::Ok);
  EXPECT_EQ(ReadFileBytes(Game(L"old\\gone.bin\\player.sav")), "progress");
  EXPECT_TRUE(Complete(e));
}

TEST_F(ApplyEntryTest, DeletedFiles) {
  WriteFileBytes(Game(L"old\\gone.bin"), "bye");
  FileEntry& e = Entry(EntryKind::Deleted, L"old\\", L"gone.bin");
  EXPECT_EQ(ApplyEntry(e), ApplyResult::Ok);
  EXPECT_FALSE(PathExists(Game(L"old\\gone.bin")));
  EXPECT_TRUE(Complete(e));
  EXPECT_EQ(ApplyEntry(Entry(EntryKind::Deleted, L"old\\", L"gone.bin")), ApplyResult::Ok);
}

// A name with a character above U+FFFF is that name, not a shorter one: "Saves" + U+10000
// once lost its last character to a NUL and removed the whole Saves folder.
TEST_F(ApplyEntryTest, DeletedNameAboveTheBasicPlaneTouchesNothingElse) {
  WriteFileBytes(Game(L"Saves\\slot1.sav"), "progress");
  WriteFileBytes(Game(L"x"), "kept");
  for (const char* name : {"Saves\xF0\x90\x80\x80", "\xF0\xA0\x80\x80", "\xF0\xA0\x80\xAF", "x\xF0\x90\x80\x80"}) {
    EXPECT_EQ(ApplyEntry(Entry(EntryKind::Deleted, L"", Utf8ToWide(name))), ApplyResult::Ok) << name;
  }
  EXPECT_EQ(ReadFileBytes(Game(L"Saves\\slot1.sav")), "progress");
  EXPECT_EQ(ReadFileBytes(Game(L"x")), "kept");
  // The same names as real files are found and removed.
  const std::wstring real = Utf8ToWide("x\xF0\x90\x80\x80");
  WriteFileBytes(Game(real), "bye");
  EXPECT_EQ(ApplyEntry(Entry(EntryKind::Deleted, L"", real)), ApplyResult::Ok);
  EXPECT_FALSE(PathExists(Game(real)));
  EXPECT_EQ(ReadFileBytes(Game(L"x")), "kept");
}

TEST_F(ApplyEntryTest, LeftoversOfAnInterruptedRunAreCleared) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  for (const wchar_t* name : {L"data\\level.bin.vard-new", L"data\\level.bin.vard-undiff",
                              L"data\\level.bin.vard-comp", L"data\\level.bin.VARD-NEW"}) {
    WriteFileBytes(Game(name), "partial");
  }
  ASSERT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::Ok);
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  EXPECT_TRUE(NoStagingFiles());
}

TEST_F(ApplyEntryTest, UndeletableLeftoverIsDiskErrorAndStagingRemoved) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  const std::wstring rebuilt = StagingPath(Game(L"data\\level.bin"), StagingRole::Rebuilt);
  WriteFileBytes(rebuilt, "held");
  Holder holder(rebuilt, 0);
  ASSERT_TRUE(holder.held());
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::DiskError);
  EXPECT_FALSE(PathExists(StagingPath(Game(L"data\\level.bin"), StagingRole::Payload)));
  EXPECT_FALSE(PathExists(StagingPath(Game(L"data\\level.bin"), StagingRole::CompressedCopy)));
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
}

TEST_F(ApplyEntryTest, GameFileInUseIsNeverLostAndASecondRunFinishes) {
  // Held with read sharing only: it can be sized, checksummed and read as the old
  // file of the diff, but not replaced.
  for (bool diff : {true, false}) {
    SCOPED_TRACE(diff);
    WriteFileBytes(Game(L"data\\level.bin"), old_);
    Holder holder(Game(L"data\\level.bin"), FILE_SHARE_READ);
    ASSERT_TRUE(holder.held());
    FileEntry& first = Update(diff ? kDiffZ : kNewZ, true, diff);
    EXPECT_EQ(ApplyEntry(first), ApplyResult::DiskError);
    EXPECT_FALSE(Complete(first));
    holder.Release();
    EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
    EXPECT_TRUE(NoStagingFiles());
    ASSERT_EQ(ApplyEntry(Update(diff ? kDiffZ : kNewZ, true, diff)), ApplyResult::Ok);
    EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == new_);
  }
  // Held without any sharing: even its size cannot be read.
  Holder exclusive(Game(L"data\\level.bin"), 0);
  EXPECT_EQ(ApplyEntry(Update(kDiffZ, true, true)), ApplyResult::DiskError);
}

TEST_F(ApplyEntryTest, MissingPayloadIsRaised) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  try {
    ApplyEntry(Update(kNoSuchPayload, true, true));
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Cannot find resource");
  }
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
}

// This test executable has no overlay: whatever bytes lie at the end of the file are
// never taken for a payload. (Whole patchers with an overlay, good and damaged, run in the
// overlay build test.)
TEST_F(ApplyEntryTest, AnOverlayPayloadWithoutAnOverlayIsCorruptedAndTouchesNothing) {
  WriteFileBytes(Game(L"data\\level.bin"), old_);
  for (const bool comp : {false, true}) {
    FileEntry& e = Update(comp ? kNewZ : kNew, comp, false);
    e.in_overlay = true;
    e.overlay_size = 16;
    EXPECT_EQ(CheckOverlayPayload(e), OverlayRead::Damaged);
    EXPECT_EQ(ApplyEntry(e), ApplyResult::Corrupted);
  }
  EXPECT_TRUE(ReadFileBytes(Game(L"data\\level.bin")) == old_);
  EXPECT_TRUE(NoStagingFiles());
}

TEST_F(ApplyEntryTest, SparseGameFileAboveFourGibibytes) {
  const std::wstring path = Game(L"huge.pak");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(std::uint64_t{1} << 32);
  DWORD written = 0;
  ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  ASSERT_TRUE(WriteFile(file, "Z", 1, &written, nullptr));
  CloseHandle(file);

  const std::string expected = "Z and a new tail";
  FileEntry& e = Entry(EntryKind::Updated, L"", L"huge.pak");
  e.size_org = "4294967297";  // the low 32 bits alone would say 1
  e.size = std::to_string(expected.size());
  e.crc = Crc(expected);
  e.id = kHugeDiff;
  e.diff = true;
  e.diff_size = test::DecodedSize(Resource(kHugeDiff), false);
  ASSERT_EQ(ApplyEntry(e), ApplyResult::Ok);
  EXPECT_EQ(ReadFileBytes(path), expected);
  EXPECT_TRUE(NoStagingFiles());
}

}  // namespace
}  // namespace vard
