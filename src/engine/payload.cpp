#include "engine/payload.h"

#include <windows.h>

#include <memory>
#include <new>

#include "base/paths.h"
#include "engine/crc_text.h"
#include "engine/diff/buffered_writer.h"
#include "engine/inflate_loop.h"
#include "engine/xz_stream.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "os/win_handle.h"

namespace vard {

namespace {

constexpr DWORD kChunk = 1u << 20;

FileHandle OpenForReading(const std::wstring& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

class FileSource final : public InflateSource {
 public:
  explicit FileSource(HANDLE file) : file_(file) {}
  std::int64_t Read(unsigned char* buffer, std::size_t capacity) override {
    DWORD got = 0;
    const DWORD want = capacity > kChunk ? kChunk : static_cast<DWORD>(capacity);
    if (!ReadFile(file_, buffer, want, &got, nullptr)) return -1;
    return got;
  }

 private:
  HANDLE file_;
};

// Inflated bytes go through the writer, which counts, checksums and reports them.
class WriterSink final : public InflateSink {
 public:
  explicit WriterSink(BufferedWriter& writer) : writer_(writer) {}
  bool Write(const unsigned char* data, std::size_t count) override {
    return writer_.Write(data, count);
  }

 private:
  BufferedWriter& writer_;
};

}  // namespace

bool ComputeFileCrc(const std::wstring& path, ProgressNode& node, std::string& text) {
  FileHandle file = OpenForReading(path);
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return false;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
  if (!buffer) return false;
  std::uint32_t crc = 0;
  const std::uint64_t total = static_cast<std::uint64_t>(size.QuadPart);
  std::uint64_t done = 0;
  while (done < total) {
    const std::uint64_t left = total - done;
    const DWORD want = left > kChunk ? kChunk : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.get(), want, &got, nullptr) || got == 0) return false;
    crc = Crc32Update(crc, buffer.get(), got);
    done += got;
    AdvanceProgress(node, done);
  }
  text = CrcText(crc);
  return true;
}

bool InflateFile(const std::wstring& source, const std::wstring& target, ProgressNode* node,
                 std::uint32_t* crc, PayloadCodec codec, std::uint64_t limit) {
  if (!PathExists(source)) return false;
  RemoveFile(target);
  CreateDirectoryTree(DirectoryPart(target));
  if (PathExists(target)) return false;
  std::uint64_t size = 0;
  if (!QueryFileSize(source, size) || size == 0) return false;
  FileHandle in = OpenForReading(source);
  if (!in) return false;
  // The writer reports itself; InflateStream gets no node so that it does not do so twice.
  BufferedWriter out;
  if (!out.Open(target, node)) return false;
  out.set_limit(limit);
  FileSource reader(in.get());
  WriterSink sink(out);
  const bool inflated = codec == PayloadCodec::Xz ? XzDecodeStream(reader, sink, nullptr)
                                                  : InflateStream(reader, sink, nullptr);
  const bool closed = out.Close();
  if (crc != nullptr) *crc = out.crc();
  return inflated && closed;
}

}  // namespace vard
