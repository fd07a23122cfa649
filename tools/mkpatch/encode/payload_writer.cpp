#include "mkpatch/encode/payload_writer.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <lzma.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "engine/crc_text.h"
#include "engine/xz_stream.h"
#include "mkpatch/common/input_error.h"

namespace vard::mkpatch {

std::vector<uint8_t> CompressZlib(const uint8_t* data, size_t size) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!compressor) throw std::runtime_error("out of memory for the compressor");
  std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), size));
  const size_t n = libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size());
  if (n == 0) throw std::runtime_error("compression failed");
  out.resize(n);
  out.shrink_to_fit();  // the bound is about the input's size; keep only the stream
  return out;
}

std::vector<uint8_t> CompressZlibWithin(const uint8_t* data, size_t size, size_t limit) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!compressor) throw std::runtime_error("out of memory for the compressor");
  std::vector<uint8_t> out(limit);
  const size_t n = libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size());
  out.resize(n);  // 0: it did not fit
  out.shrink_to_fit();
  return out;
}

namespace {

// Content-defined chunks (cut where a rolling hash of the last 64 bytes has its top 13
// bits clear, so about 8 KiB apart and at the same places in repeated data), fed in
// pieces: counts the bytes of chunks met before. A chunk is known by its length and the
// hash at its end; an accidental match only makes the caller compress, the safe side.
class RepeatCounter {
 public:
  void Add(const uint8_t* data, size_t size) {
    static const std::array<uint64_t, 256> gear = [] {
      std::array<uint64_t, 256> table{};
      uint64_t x = 0x9E3779B97F4A7C15u;
      for (uint64_t& value : table) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        value = x;
      }
      return table;
    }();
    uint64_t hash = hash_;
    for (size_t i = 0; i < size; ++i) {
      hash = (hash << 1) + gear[data[i]];
      if ((hash >> 51) != 0) continue;
      Cut(hash, at_ + i + 1);
    }
    hash_ = hash;
    at_ += size;
  }

  // The repeated bytes, the content's end closing its last chunk.
  uint64_t Finish() {
    if (start_ < at_) Cut(hash_, at_);
    return repeated_;
  }

 private:
  void Cut(uint64_t hash, uint64_t end) {
    const uint64_t length = end - start_;
    if (!seen_.insert(hash ^ (length * 0x9E3779B97F4A7C15u)).second) repeated_ += length;
    start_ = end;
  }

  std::unordered_set<uint64_t> seen_;
  uint64_t hash_ = 0, at_ = 0, start_ = 0, repeated_ = 0;
};

uint64_t RepeatAllowance(uint64_t size) { return static_cast<uint64_t>(static_cast<double>(size) * kSampleGain); }

// Whether any sample piece shrinks by kSampleGain at a fast zlib level; `piece(i)` gives the
// i-th piece's kSamplePiece bytes (null when they cannot be read: the content counts as
// compressible).
template <typename PieceAt>
bool SampleShrinks(PieceAt piece) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(1), &libdeflate_free_compressor);
  if (!compressor) throw std::runtime_error("out of memory for the compressor");
  // Output room of just under the piece's size: a piece that fits has shrunk by at least
  // the gain and decides for compression; one that does not fit leaves n at 0.
  const size_t room = static_cast<size_t>(static_cast<double>(kSamplePiece) * (1.0 - kSampleGain));
  std::vector<uint8_t> out(room);
  for (size_t i = 0; i < kSamplePieces; ++i) {
    const uint8_t* data = piece(i);
    if (data == nullptr ||
        libdeflate_deflate_compress(compressor.get(), data, kSamplePiece, out.data(), out.size()) != 0)
      return true;
  }
  return false;
}

uint64_t SampleOffset(uint64_t size, size_t i) { return i * ((size - kSamplePiece) / (kSamplePieces - 1)); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

bool LooksIncompressible(const uint8_t* data, size_t size) {
  if (size < kSampleFrom) return false;
  if (SampleShrinks([&](size_t i) { return data + SampleOffset(size, i); })) return false;
  RepeatCounter repeats;
  repeats.Add(data, size);
  return repeats.Finish() < RepeatAllowance(size);
}

bool SampleLooksIncompressible(const std::filesystem::path& path, uint64_t size) {
  if (size < kSampleFrom) return false;
  const Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw InputError("cannot read file: " + path.string());
  std::vector<uint8_t> buffer(kSamplePiece);
  return !SampleShrinks([&](size_t i) -> const uint8_t* {
    const ssize_t got = ::pread(in.get(), buffer.data(), buffer.size(), static_cast<off_t>(SampleOffset(size, i)));
    return got == static_cast<ssize_t>(buffer.size()) ? buffer.data() : nullptr;
  });
}

bool StoreIfIncompressible(const std::filesystem::path& source, uint64_t size,
                           const std::filesystem::path& target, uint32_t* crc) {
  const Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw InputError("cannot read file: " + source.string());
  ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
  // A link costs no copy; across file systems (or where links are refused) the bytes are
  // copied on the way through.
  std::filesystem::remove(target);
  const bool linked = ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
  Fd out(linked ? -1 : ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!linked && out.get() < 0)
    throw std::runtime_error("cannot write file: " + target.string() + ": " + std::strerror(errno));
  std::vector<uint8_t> buffer(size_t{1} << 20);
  RepeatCounter repeats;
  uint32_t sum = 0;
  uint64_t total = 0;
  try {
    for (;;) {
      const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw InputError("cannot read file: " + source.string() + ": " + std::strerror(errno));
      if (got == 0) break;
      const auto count = static_cast<size_t>(got);
      sum = ::vard::Crc32Update(sum, buffer.data(), count);
      repeats.Add(buffer.data(), count);
      for (size_t done = 0; !linked && done < count;) {
        const ssize_t put = ::write(out.get(), buffer.data() + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
          throw std::runtime_error("cannot write file: " + target.string() + ": " + std::strerror(errno));
        done += static_cast<size_t>(put);
      }
      total += count;
    }
    if (total != size)
      throw InputError(source.string() + " changed while it was read (" + std::to_string(size) + " bytes listed, " +
                       std::to_string(total) + " read)");
    if (!linked && ::close(out.release()) != 0) throw std::runtime_error("cannot write file: " + target.string());
  } catch (...) {
    std::filesystem::remove(target);
    throw;
  }
  if (repeats.Finish() >= RepeatAllowance(size)) {
    std::filesystem::remove(target);
    return false;
  }
  *crc = sum;
  return true;
}

size_t CompressedSize(const std::vector<uint8_t>& bytes) { return CompressZlib(bytes).size(); }

namespace {

// The stream, or empty when it has more than `limit` bytes: the output buffer never
// grows beyond the limit.
std::vector<uint8_t> RunXz(const std::vector<uint8_t>& bytes, const lzma_filter* filters, size_t limit) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_encoder(&stream, filters, LZMA_CHECK_CRC32) != LZMA_OK)
    throw std::runtime_error("cannot start the xz encoder");
  std::vector<uint8_t> out(std::min(lzma_stream_buffer_bound(bytes.size()), limit));
  stream.next_in = bytes.data();
  stream.avail_in = bytes.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
  const size_t size = out.size() - stream.avail_out;
  lzma_end(&stream);
  if (result != LZMA_STREAM_END && stream.avail_out == 0) return {};  // over the limit
  if (result != LZMA_STREAM_END) throw std::runtime_error("xz compression failed");
  out.resize(size);
  out.shrink_to_fit();
  return out;
}

lzma_options_lzma XzOptions(XzKind kind, uint64_t size) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME))
    throw std::runtime_error("xz preset missing");
  // The decoder's memory follows the dictionary: no larger than the data or the cap.
  const uint32_t cap = kind == XzKind::Differences ? kDifferencesDictionaryCap : kXzDictionaryCap;
  uint32_t dictionary = LZMA_DICT_SIZE_MIN;
  while (dictionary < size && dictionary < cap) dictionary *= 2;
  options.dict_size = dictionary < cap ? dictionary : cap;
  if (kind == XzKind::Bytes || kind == XzKind::Differences) {
    // Measured on the difference streams of real executables: one bit of literal
    // context and no position bits compress best.
    options.lc = 1;
    options.lp = 0;
    options.pb = 0;
  }
  return options;
}

}  // namespace

struct XzPipe::State {
  lzma_options_lzma options;
  lzma_stream stream = LZMA_STREAM_INIT;
  std::vector<uint8_t> out;     // the stream's bytes not in the spill file
  std::FILE* spill = nullptr;   // the stream's first bytes, once it outgrew kXzPipeKept
  uint64_t spilled = 0;         // bytes in the spill file
  size_t kept = kXzPipeKept;
  std::mutex mutex;
  std::condition_variable ready;  // a piece or the end is queued
  std::condition_variable taken;  // the compressing thread took a piece, or stopped
  std::deque<std::vector<uint8_t>> queue;
  size_t queued = 0;  // bytes in the queue
  bool finishing = false;
  bool stopped = false;  // the compressing thread returned
  bool failed = false;
  std::thread thread;

  // Runs lzma_code over one piece (or the end), growing the output as needed.
  bool Code(const std::vector<uint8_t>* piece) {
    stream.next_in = piece != nullptr ? piece->data() : nullptr;
    stream.avail_in = piece != nullptr ? piece->size() : 0;
    for (;;) {
      if (stream.avail_out == 0) {
        if (out.size() >= kept && !Spill()) return false;
        const size_t used = out.size();
        out.resize(used + (size_t{1} << 20));
        stream.next_out = out.data() + used;
        stream.avail_out = out.size() - used;
      }
      const lzma_ret result = lzma_code(&stream, piece != nullptr ? LZMA_RUN : LZMA_FINISH);
      if (piece == nullptr && result == LZMA_STREAM_END) {
        out.resize(out.size() - stream.avail_out);
        return true;
      }
      if (result != LZMA_OK) return false;
      if (piece != nullptr && stream.avail_in == 0) return true;
    }
  }

  // Moves the bytes made so far (all of `out`, which is full) to the spill file.
  bool Spill() {
    if (spill == nullptr && (spill = std::tmpfile()) == nullptr) return false;
    if (std::fwrite(out.data(), 1, out.size(), spill) != out.size()) return false;
    spilled += out.size();
    out.clear();
    return true;
  }

  void Run() {
    const bool ok = Loop();
    {
      const std::lock_guard<std::mutex> lock(mutex);
      failed = !ok;
      stopped = true;
    }
    taken.notify_all();
  }

  bool Loop() {
    for (;;) {
      std::vector<uint8_t> piece;
      bool end = false;
      {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return !queue.empty() || finishing; });
        if (!queue.empty()) {
          piece = std::move(queue.front());
          queue.pop_front();
          queued -= piece.size();
        } else {
          end = true;
        }
      }
      taken.notify_all();
      if (!(end ? Code(nullptr) : Code(&piece))) return false;
      if (end) return true;
    }
  }
};

XzPipe::XzPipe(XzKind kind, uint64_t size_hint, size_t kept) : state_(new State) {
  state_->kept = kept;
  state_->options = XzOptions(kind, size_hint);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &state_->options},
                                 {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_stream_encoder(&state_->stream, filters, LZMA_CHECK_CRC32) != LZMA_OK)
    throw std::runtime_error("cannot start the xz encoder");
  state_->thread = std::thread([s = state_.get()] { s->Run(); });
}

XzPipe::~XzPipe() {
  if (state_->thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->finishing = true;
    }
    state_->ready.notify_one();
    state_->thread.join();
  }
  lzma_end(&state_->stream);
  if (state_->spill != nullptr) std::fclose(state_->spill);
}

void XzPipe::Append(std::vector<uint8_t>& piece) {
  // The zero-run coder hands on nothing while a run goes on. liblzma reports a second
  // call in a row that makes no progress as an error (LZMA_BUF_ERROR), so an empty piece
  // never reaches it.
  if (piece.empty()) return;
  {
    // The maker waits while the compressor is behind, so the queue never holds more
    // than a few pieces however much faster the data is made.
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->taken.wait(lock, [&] { return state_->queued < kXzPipeQueue || state_->stopped; });
    state_->queued += piece.size();
    state_->queue.push_back(std::move(piece));
  }
  piece.clear();
  state_->ready.notify_one();
}

uint64_t XzPipe::Finish() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finishing = true;
  }
  state_->ready.notify_one();
  state_->thread.join();
  if (state_->failed) throw std::runtime_error("xz compression or its temporary file failed");
  return state_->spilled + state_->out.size();
}

void XzPipe::AppendTo(std::vector<uint8_t>& out) {
  if (state_->spill != nullptr) {
    const size_t start = out.size();
    out.resize(start + state_->spilled);
    std::rewind(state_->spill);
    if (std::fread(out.data() + start, 1, state_->spilled, state_->spill) != state_->spilled)
      throw std::runtime_error("cannot read back the temporary file of an xz stream");
  }
  out.insert(out.end(), state_->out.begin(), state_->out.end());
}

std::vector<uint8_t> CompressXz(const std::vector<uint8_t>& bytes, XzKind kind, size_t limit) {
  lzma_options_lzma options = XzOptions(kind, bytes.size());
  const lzma_filter plain[] = {{LZMA_FILTER_LZMA2, &options},
                               {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> best = RunXz(bytes, plain, limit);
  if (kind == XzKind::Whole) {
    const lzma_filter x86[] = {{LZMA_FILTER_X86, nullptr},
                               {LZMA_FILTER_LZMA2, &options},
                               {LZMA_VLI_UNKNOWN, nullptr}};
    // Only a smaller stream can replace the first, so it gets no more room than that.
    std::vector<uint8_t> filtered = RunXz(bytes, x86, best.empty() ? limit : best.size() - 1);
    if (!filtered.empty()) best = std::move(filtered);
  }
  return best;
}

Payload MakePayload(const std::vector<uint8_t>& content, bool allow_xz) {
  Payload payload;
  if (LooksIncompressible(content.data(), content.size())) {
    payload.data = content;
    return payload;
  }
  payload.data = CompressZlib(content);
  payload.comp = true;
  payload.codec = 1;
  if (allow_xz) {
    // Only a stream smaller than both the zlib stream and the content can be kept.
    const size_t room = std::min(payload.data.size(), content.empty() ? SIZE_MAX : content.size()) - 1;
    std::vector<uint8_t> xz = CompressXz(content, XzKind::Whole, room);
    if (!xz.empty() && xz.size() < payload.data.size()) {
      payload.data = std::move(xz);
      payload.codec = 2;
    }
  }
  if (!content.empty() && payload.data.size() >= content.size()) {
    payload.data = content;
    payload.comp = false;
    payload.codec = 0;
  }
  return payload;
}

}  // namespace vard::mkpatch
