#include "mkpatch/check/apply_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "engine/diff/archive_diff.h"
#include "engine/diff/decode_diff.h"
#include "engine/diff/file_streams.h"
#include "engine/diff/stream_diff.h"
#include "engine/inflate_loop.h"

namespace fs = std::filesystem;

namespace vard::mkpatch {
namespace {

class FileSource final : public InflateSource {
 public:
  explicit FileSource(const fs::path& path) : in_(path, std::ios::binary) {}
  bool ok() const { return static_cast<bool>(in_); }
  std::int64_t Read(unsigned char* buffer, std::size_t capacity) override {
    in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(capacity));
    if (in_.bad()) return -1;
    return in_.gcount();
  }

 private:
  std::ifstream in_;
};

// Writes the inflated diff, refusing to pass the bound.
class BoundedFileSink final : public InflateSink {
 public:
  BoundedFileSink(const fs::path& path, std::uint64_t limit)
      : out_(path, std::ios::binary | std::ios::trunc), limit_(limit) {}
  bool ok() const { return static_cast<bool>(out_); }
  bool Write(const unsigned char* data, std::size_t count) override {
    if (count > limit_ - written_) {
      over_limit = true;
      return false;
    }
    written_ += count;
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
    return static_cast<bool>(out_);
  }
  bool Close() {
    out_.close();
    return !out_.fail();
  }
  bool over_limit = false;

 private:
  std::ofstream out_;
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
};

// Removes a temporary file when it goes out of scope.
struct TemporaryFile {
  explicit TemporaryFile(fs::path p) : path(std::move(p)) { Remove(); }
  ~TemporaryFile() { Remove(); }
  void Remove() {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  fs::path path;
};

int FormOf(const fs::path& diff_path, bool& zlib) {
  unsigned char head[4] = {0, 0, 0, 0};
  std::ifstream in(diff_path, std::ios::binary);
  if (!in) return 0;
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::streamsize got = in.gcount();
  if (got == 4 && std::memcmp(head, diff::kStreamDiffMagic, 4) == 0) return 2;
  if (got == 4 && std::memcmp(head, diff::kArchiveDiffMagic, 4) == 0) return 3;
  zlib = got >= 2 && head[0] == 0x78 && ((head[0] << 8) | head[1]) % 31 == 0;
  return 1;
}

std::string Decode(int form, const fs::path& old_path, const fs::path& diff_path,
                   diff::FileDiffWriter& writer) {
  const std::string invalid = diff_path.string() + " is not a valid diff for " + old_path.string();
  if (form == 3) {
    // The archive decoder opens its readers itself, one per stream and two of the old
    // file, and only those: each holds a page.
    fs::path unreadable;
    const auto opener = [&unreadable](const fs::path& path) {
      return [path, &unreadable]() -> std::unique_ptr<diff::DiffReader> {
        auto reader = std::make_unique<diff::FileDiffReader>();
        if (reader->Open(path)) return reader;
        unreadable = path;
        return nullptr;
      };
    };
    bool ok = false;
    try {
      ok = diff::DecodeArchiveDiff(writer, opener(old_path), opener(diff_path));
    } catch (const std::runtime_error&) {  // a page that cannot be read
      ok = false;
    }
    if (!unreadable.empty()) return "cannot read " + unreadable.string();
    return ok ? std::string() : invalid;
  }
  diff::FileDiffReader old_reader, diff_reader;
  if (!old_reader.Open(old_path)) return "cannot read " + old_path.string();
  if (!diff_reader.Open(diff_path)) return "cannot read " + diff_path.string();
  bool ok = false;
  try {
    if (form == 2) {
      // One reader per stream, so that each keeps its own window.
      diff::FileDiffReader differences, extra;
      ok = differences.Open(diff_path) && extra.Open(diff_path) &&
           diff::DecodeStreamDiff(writer, old_reader, diff_reader, differences, extra);
    } else {
      ok = diff::DecodeDiff(writer, old_reader, diff_reader);
    }
  } catch (const std::runtime_error&) {  // a page that cannot be read
    ok = false;
  }
  return ok ? std::string() : invalid;
}

}  // namespace

std::string ApplyDiffFile(const fs::path& old_path, const fs::path& diff_path,
                          const fs::path& new_path, AppliedFile& result, std::uint64_t max_size) {
  const auto too_large = [&] {
    return diff_path.string() + " rebuilds more than " + std::to_string(max_size) +
           " bytes (--max-size); " + new_path.string() + " not written";
  };
  bool zlib = false;
  result.form = FormOf(diff_path, zlib);
  if (result.form == 0) return "cannot read " + diff_path.string();
  fs::path decoded_diff = diff_path;
  std::optional<TemporaryFile> inflated;
  if (zlib) {
    inflated.emplace(fs::path(new_path.string() + ".mkpatch-diff"));
    FileSource source(diff_path);
    // A form 1 diff is at most about as long as what it makes.
    BoundedFileSink sink(inflated->path, std::min(kFormOneOutputLimit, max_size));
    if (!source.ok() || !sink.ok()) return "cannot inflate " + diff_path.string();
    const bool done = InflateStream(source, sink, nullptr);
    if (!sink.Close() || !done) {
      return sink.over_limit && max_size <= kFormOneOutputLimit
                 ? too_large()
                 : diff_path.string() + " is not a valid compressed diff";
    }
    decoded_diff = inflated->path;
  }
  TemporaryFile part(fs::path(new_path.string() + ".mkpatch-part"));
  diff::FileDiffWriter writer;
  if (!writer.Open(part.path, nullptr)) return "cannot write " + part.path.string();
  // Form 2 and 3 stop at the size they state; form 1 states none.
  const std::uint64_t limit =
      result.form == 1 ? std::min(kFormOneOutputLimit, max_size) : max_size;
  writer.set_limit(limit);
  std::string problem = Decode(result.form, old_path, decoded_diff, writer);
  if (writer.over_limit() && limit == max_size) problem = too_large();
  else if (zlib && !problem.empty()) problem = diff_path.string() + " is not a valid diff for " + old_path.string();
  const bool closed = writer.Close();
  if (problem.empty() && !closed) problem = "cannot write " + part.path.string();
  if (!problem.empty()) return problem;
  result.size = writer.written();
  result.crc = writer.crc();
  std::error_code error;
  fs::rename(part.path, new_path, error);
  if (error) return "cannot write " + new_path.string() + ": " + error.message();
  return {};
}

}  // namespace vard::mkpatch
