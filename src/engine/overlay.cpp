#include "engine/overlay.h"

#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "base/paths.h"
#include "engine/crc_text.h"
#include "engine/diff/buffered_writer.h"
#include "manifest/file_entry.h"
#include "os/files.h"
#include "os/win_handle.h"

namespace vard {

namespace {

constexpr DWORD kChunk = 1u << 20;
constexpr std::uint64_t kTrailerSize = 16;
constexpr unsigned char kMagic[8] = {'V', 'a', 'r', 'd', 'O', 'v', 'l', '1'};

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

// The file offset of the certificate table when the executable is signed, else 0. The
// headers are those of the loaded image, which the loader has already checked.
std::uint64_t CertificateOffset() {
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY) return 0;
  const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
  return table.Size != 0 ? table.VirtualAddress : 0;
}

// The running executable opened for reading, with the bounds of its overlay's data.
class OverlayFile {
 public:
  // False when the file cannot be opened or has no whole overlay (no trailer, or a start
  // past it: a file cut short or damaged).
  bool Open() {
    const std::wstring path = ModulePath();
    if (path.empty()) return false;
    file_ = FileHandle(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size) || size.QuadPart < 0) return false;
    std::uint64_t end = static_cast<std::uint64_t>(size.QuadPart);
    const std::uint64_t certificates = CertificateOffset();
    if (certificates != 0) {
      if (certificates > end) return false;
      end = certificates;
    }
    if (end < kTrailerSize) return false;
    unsigned char trailer[kTrailerSize];
    if (!Seek(end - kTrailerSize) || !ReadExactly(trailer, sizeof trailer)) return false;
    if (std::memcmp(trailer + 8, kMagic, sizeof kMagic) != 0) return false;
    std::uint64_t start = 0;
    for (int i = 7; i >= 0; --i) start = start << 8 | trailer[i];
    if (start > end - kTrailerSize) return false;
    start_ = start;
    length_ = end - kTrailerSize - start;
    return true;
  }

  // Positions the file at a payload; false when it does not lie wholly in the overlay.
  bool SeekPayload(std::uint64_t offset, std::uint64_t size) {
    if (offset > length_ || size > length_ - offset) return false;
    return Seek(start_ + offset);
  }

  bool ReadExactly(unsigned char* buffer, DWORD count) {
    DWORD got = 0;
    return ReadFile(file_.get(), buffer, count, &got, nullptr) && got == count;
  }

 private:
  bool Seek(std::uint64_t at) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(at);
    return SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN) != 0;
  }

  FileHandle file_;
  std::uint64_t start_ = 0, length_ = 0;
};

// Hands the payload's bytes to `use` piece by piece and checks their CRC-32 at the end.
OverlayRead ReadPayload(const FileEntry& entry,
                        const std::function<bool(const unsigned char*, DWORD)>& use) {
  OverlayFile file;
  if (!file.Open() || !file.SeekPayload(entry.overlay_offset, entry.overlay_size))
    return OverlayRead::Damaged;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
  if (!buffer) return OverlayRead::Failed;
  std::uint32_t crc = 0;
  for (std::uint64_t left = entry.overlay_size; left > 0;) {
    const DWORD piece = left > kChunk ? kChunk : static_cast<DWORD>(left);
    if (!file.ReadExactly(buffer.get(), piece)) return OverlayRead::Damaged;
    crc = Crc32Update(crc, buffer.get(), piece);
    if (!use(buffer.get(), piece)) return OverlayRead::Failed;
    left -= piece;
  }
  return crc == entry.overlay_crc ? OverlayRead::Ok : OverlayRead::Damaged;
}

}  // namespace

OverlayRead CheckOverlayPayload(const FileEntry& entry) {
  return ReadPayload(entry, [](const unsigned char*, DWORD) { return true; });
}

OverlayRead WriteOverlayToFile(const std::wstring& target, ProgressNode* node,
                               const FileEntry& entry, std::uint32_t* crc) {
  if (!CreateDirectoryTree(DirectoryPart(target))) return OverlayRead::Failed;
  BufferedWriter out;
  if (!out.Open(target, node)) return OverlayRead::Failed;
  const OverlayRead read =
      ReadPayload(entry, [&out](const unsigned char* data, DWORD count) { return out.Write(data, count); });
  const bool closed = out.Close();
  if (crc != nullptr) *crc = out.crc();
  if (read != OverlayRead::Ok) return read;
  return closed ? OverlayRead::Ok : OverlayRead::Failed;
}

}  // namespace vard
