#include "engine/diff/archive_diff.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "engine/diff/difference_reader.h"
#include "engine/diff/stream_diff.h"
#include "engine/xz_stream.h"

namespace vard::diff {

void PutArchiveEntry(unsigned char* out, const ArchiveEntry& e) {
  std::memset(out, 0, kArchiveEntryRecordSize);
  PutLe64(out, e.offset);
  PutLe64(out + 8, e.packed);
  PutLe64(out + 16, e.size);
  PutLe64(out + 24, e.base_offset);
  PutLe64(out + 32, e.base_packed);
  PutLe64(out + 40, e.base_size);
  for (int i = 0; i < 4; ++i) out[48 + i] = static_cast<unsigned char>(e.crc >> (8 * i));
  out[52] = static_cast<unsigned char>(e.base_kind);
  out[53] = e.level;
  out[54] = e.mem_level;
  out[55] = e.window_bits;
  out[56] = e.strategy;
}

bool GetArchiveEntry(const unsigned char* in, ArchiveEntry& e) {
  e.offset = GetLe64(in);
  e.packed = GetLe64(in + 8);
  e.size = GetLe64(in + 16);
  e.base_offset = GetLe64(in + 24);
  e.base_packed = GetLe64(in + 32);
  e.base_size = GetLe64(in + 40);
  e.crc = 0;
  for (int i = 3; i >= 0; --i) e.crc = (e.crc << 8) | in[48 + i];
  if (in[52] > 2 || in[53] > 9 || in[54] < 1 || in[54] > 9 || in[55] < 9 || in[55] > 15 ||
      in[56] > Z_FIXED) {
    return false;
  }
  for (std::size_t i = 57; i < kArchiveEntryRecordSize; ++i) {
    if (in[i] != 0) return false;
  }
  e.base_kind = static_cast<ArchiveBaseKind>(in[52]);
  e.level = in[53];
  e.mem_level = in[54];
  e.window_bits = in[55];
  e.strategy = in[56];
  if (e.base_size > kArchiveBaseLimit) return false;
  if (e.base_kind == ArchiveBaseKind::None && (e.base_size != 0 || e.base_packed != 0)) return false;
  if (e.base_kind == ArchiveBaseKind::Stored && e.base_packed != e.base_size) return false;
  return true;
}

bool ParseArchiveDiffHeader(const unsigned char* bytes, std::uint64_t total_size,
                            ArchiveDiffHeader& header) {
  if (total_size < kArchiveDiffHeaderSize) return false;
  if (std::memcmp(bytes, kArchiveDiffMagic, sizeof kArchiveDiffMagic) != 0) return false;
  const std::uint64_t size_and_flags = GetLe64(bytes + 4);
  header.new_size = size_and_flags & kStreamDiffSizeMask;
  header.flags = static_cast<unsigned char>(size_and_flags >> 56);
  // Of the second form's flags only zero runs apply here: the entries carry no code ranges.
  if ((header.flags & ~kZeroRuns) != 0) return false;
  std::uint64_t end = kArchiveDiffHeaderSize;
  for (int i = 0; i < 5; ++i) {
    header.lengths[i] = GetLe64(bytes + 12 + 8 * i);
    if (header.lengths[i] > total_size - end) return false;
    end += header.lengths[i];
  }
  return end == total_size;
}

namespace {

constexpr std::size_t kChunk = std::size_t{64} << 10;

// A view of length bytes of another reader from start on, as a reader of its own: the
// skeleton, a whole second-form container inside this one, is decoded through three.
class RangeReader final : public DiffReader {
 public:
  RangeReader(std::unique_ptr<DiffReader> inner, std::uint64_t start, std::uint64_t length)
      : inner_(std::move(inner)), start_(start) {
    size_ = length;
  }

 protected:
  void LoadPageOf(std::uint64_t offset) override {
    inner_->set_position(start_ + offset);
    const unsigned char* data = nullptr;
    const std::size_t n = inner_->Peek(data, size_ - offset);
    if (n == 0) ThrowCannotLoadPage();
    page_ = data;
    page_start_ = offset;
    page_length_ = n;
  }

 private:
  std::unique_ptr<DiffReader> inner_;
  std::uint64_t start_;
};

// Owns a zlib stream and ends it on every path.
struct Deflater {
  z_stream z{};
  bool live = false;
  ~Deflater() {
    if (live) deflateEnd(&z);
  }
};
struct Inflater {
  z_stream z{};
  bool live = false;
  ~Inflater() {
    if (live) inflateEnd(&z);
  }
};

// Everything that rebuilds the entries: the table and the three entry streams, the
// reader of the old file their bases come from, and the entry whose turn is next.
class EntryRebuilder {
 public:
  EntryRebuilder(DiffWriter& out, std::uint64_t new_size) : out_(out), new_size_(new_size) {}

  bool Start(const OpenReader& open_old, const OpenReader& open_diff,
             const ArchiveDiffHeader& header) {
    old_ = open_old();
    if (!old_) return false;
    std::uint64_t at = kArchiveDiffHeaderSize + header.lengths[0];
    for (int i = 0; i < 4; ++i) {
      readers_[i] = open_diff();
      if (!readers_[i]) return false;
      readers_[i]->set_position(at);
      if (!streams_[i].Start(*readers_[i], header.lengths[1 + i])) return false;
      at += header.lengths[1 + i];
    }
    differences_.emplace(streams_[2], (header.flags & kZeroRuns) != 0);
    scratch_.reset(new (std::nothrow) unsigned char[2 * kChunk]);
    return scratch_ != nullptr && NextEntry();
  }

  // Writes skeleton bytes, putting each rebuilt entry in front of the skeleton byte
  // that follows it in the new file.
  bool WriteSkeleton(const unsigned char* data, std::size_t count) {
    while (count > 0) {
      if (!Flush()) return false;
      std::uint64_t n = count;
      if (pending_ && next_.offset - position_ < n) n = next_.offset - position_;
      if (n > new_size_ - position_) return false;
      if (!out_.Write(data, n)) return false;
      position_ += n;
      data += n;
      count -= static_cast<std::size_t>(n);
    }
    return true;
  }

  // Writes the entries that are due at the current position.
  bool Flush() {
    while (pending_ && next_.offset == position_) {
      if (!Rebuild(next_) || !NextEntry()) return false;
    }
    return true;
  }

  bool Finished() {
    return !pending_ && position_ == new_size_ && differences_->Settled() && streams_[0].Finished() &&
           streams_[1].Finished() && streams_[2].Finished() && streams_[3].Finished();
  }

 private:
  bool NextEntry() {
    const unsigned char* peek = nullptr;
    if (streams_[0].Peek(peek) == 0) {
      pending_ = false;
      return !streams_[0].failed();
    }
    unsigned char record[kArchiveEntryRecordSize];
    ArchiveEntry entry;
    if (!streams_[0].ReadExactly(record, sizeof record) || !GetArchiveEntry(record, entry)) {
      return false;
    }
    // Entries come in order, never overlap what is written and fit in the new file.
    if (entry.offset < position_ || entry.offset > new_size_ ||
        entry.packed > new_size_ - entry.offset) {
      return false;
    }
    next_ = entry;
    pending_ = true;
    return true;
  }

  bool LoadBase(const ArchiveEntry& e) {
    base_.clear();
    if (e.base_kind == ArchiveBaseKind::None) return true;
    if (e.base_offset > old_->size() || e.base_packed > old_->size() - e.base_offset) return false;
    try {
      base_.resize(static_cast<std::size_t>(e.base_size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    old_->set_position(e.base_offset);
    if (e.base_kind == ArchiveBaseKind::Stored) {
      std::size_t filled = 0;
      while (filled < base_.size()) {
        const unsigned char* data = nullptr;
        const std::size_t n = old_->Peek(data, base_.size() - filled);
        if (n == 0) return false;
        std::memcpy(base_.data() + filled, data, n);
        old_->Skip(n);
        filled += n;
      }
      return true;
    }
    // One byte of room beyond the size tells a base that inflates longer than it should.
    Inflater inf;
    if (inflateInit2(&inf.z, -15) != Z_OK) return false;
    inf.live = true;
    base_.push_back(0);
    inf.z.next_out = base_.data();
    inf.z.avail_out = static_cast<uInt>(base_.size());
    std::uint64_t input_left = e.base_packed;
    for (;;) {
      const unsigned char* data = nullptr;
      const std::size_t n = old_->Peek(data, input_left < kChunk ? input_left : kChunk);
      inf.z.next_in = const_cast<unsigned char*>(data);
      inf.z.avail_in = static_cast<uInt>(n);
      const int rc = inflate(&inf.z, Z_NO_FLUSH);
      const std::size_t used = n - inf.z.avail_in;
      old_->Skip(used);
      input_left -= used;
      if (rc == Z_STREAM_END) {
        base_.pop_back();
        return input_left == 0 && inf.z.total_out == e.base_size;
      }
      // No progress: the input ended early or the base is longer than its size.
      if ((rc != Z_OK && rc != Z_BUF_ERROR) || used == 0) return false;
    }
  }

  // Hands content bytes to the deflater, writing what it makes; finish ends the stream.
  bool Deflate(Deflater& def, const unsigned char* data, std::size_t count, bool finish,
               std::uint64_t& left) {
    unsigned char* buffer = scratch_.get() + kChunk;
    def.z.next_in = const_cast<unsigned char*>(data);
    def.z.avail_in = static_cast<uInt>(count);
    for (;;) {
      def.z.next_out = buffer;
      def.z.avail_out = static_cast<uInt>(kChunk);
      const int rc = deflate(&def.z, finish ? Z_FINISH : Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR) return false;
      const std::size_t made = kChunk - def.z.avail_out;
      if (made > left || !out_.Write(buffer, made)) return false;
      left -= made;
      position_ += made;
      if (finish ? rc == Z_STREAM_END : (def.z.avail_in == 0 && def.z.avail_out != 0)) return true;
    }
  }

  bool Rebuild(const ArchiveEntry& e) {
    if (!LoadBase(e)) return false;
    Deflater def;
    if (deflateInit2(&def.z, e.level, Z_DEFLATED, -static_cast<int>(e.window_bits),
                     e.mem_level, e.strategy) != Z_OK) {
      return false;
    }
    def.live = true;
    std::uint64_t packed_left = e.packed;
    std::uint64_t left = e.size;
    std::uint64_t pos = 0;  // in the base, never beyond its size
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    unsigned char* content = scratch_.get();
    const std::uint64_t base_size = e.base_size;
    while (left > 0) {
      unsigned char record[kStreamDiffRecordSize];
      if (!streams_[1].ReadExactly(record, sizeof record)) return false;
      std::uint64_t add = GetLe64(record);
      std::uint64_t extra = GetLe64(record + 8);
      const std::uint64_t seek = GetLe64(record + 16);
      if (add > left || add > base_size - pos) return false;
      left -= add;
      while (add > 0) {
        // Where the differences are zeros, the base's bytes are the content as they are.
        const unsigned char* delta = nullptr;
        const std::size_t n = differences_->Next(delta, add < kChunk ? add : kChunk);
        if (n == 0) return false;
        const unsigned char* made = base_.data() + pos;
        if (delta != nullptr) {
          for (std::size_t i = 0; i < n; ++i) content[i] = static_cast<unsigned char>(made[i] + delta[i]);
          made = content;
        }
        differences_->Take(delta, n);
        pos += n;
        add -= n;
        crc = static_cast<std::uint32_t>(crc32(crc, made, static_cast<uInt>(n)));
        if (!Deflate(def, made, n, false, packed_left)) return false;
      }
      if (extra > left) return false;
      left -= extra;
      while (extra > 0) {
        const unsigned char* data = nullptr;
        std::size_t n = streams_[3].Peek(data);
        if (n == 0) return false;
        if (n > extra) n = static_cast<std::size_t>(extra);
        crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(n)));
        const bool ok = Deflate(def, data, n, false, packed_left);
        streams_[3].Take(n);
        extra -= n;
        if (!ok) return false;
      }
      const std::uint64_t moved = pos + seek;  // wraps for negative seeks
      const bool backwards = (seek >> 63) != 0;
      if (backwards ? moved > pos : (moved < pos || moved > base_size)) return false;
      pos = moved;
    }
    if (!Deflate(def, nullptr, 0, true, packed_left)) return false;
    return packed_left == 0 && crc == e.crc;
  }

  DiffWriter& out_;
  std::uint64_t new_size_;
  std::uint64_t position_ = 0;  // bytes of the new file written
  std::unique_ptr<DiffReader> old_;
  std::unique_ptr<DiffReader> readers_[4];
  XzReader streams_[4];  // table, commands, differences, extra
  std::optional<DifferenceReader> differences_;  // over streams_[2]
  std::unique_ptr<unsigned char[]> scratch_;
  std::vector<unsigned char> base_;
  ArchiveEntry next_;
  bool pending_ = false;
};

// The writer the skeleton is decoded into: its blocks go to the rebuilder.
class SkeletonWriter final : public DiffWriter {
 public:
  explicit SkeletonWriter(EntryRebuilder& rebuilder) : rebuilder_(rebuilder) {}
  ~SkeletonWriter() override { ReleaseBuffer(); }
  bool Open() { return Start(nullptr); }

 protected:
  bool Deliver(const unsigned char* data, std::size_t count) override {
    return rebuilder_.WriteSkeleton(data, count);
  }

 private:
  EntryRebuilder& rebuilder_;
};

}  // namespace

bool DecodeArchiveDiff(DiffWriter& out, const OpenReader& open_old, const OpenReader& open_diff,
                       std::uint64_t expected_new_size) {
  std::unique_ptr<DiffReader> head_reader = open_diff();
  if (!head_reader) return false;
  unsigned char head[kArchiveDiffHeaderSize];
  head_reader->set_position(0);
  for (unsigned char& b : head) {
    const int c = head_reader->NextByte();
    if (c < 0) return false;
    b = static_cast<unsigned char>(c);
  }
  ArchiveDiffHeader header;
  if (!ParseArchiveDiffHeader(head, head_reader->size(), header)) return false;
  if (expected_new_size != ~std::uint64_t{0} && header.new_size != expected_new_size) return false;
  head_reader.reset();

  EntryRebuilder rebuilder(out, header.new_size);
  if (!rebuilder.Start(open_old, open_diff, header)) return false;
  SkeletonWriter skeleton(rebuilder);
  if (!skeleton.Open()) return false;

  std::unique_ptr<DiffReader> skeleton_old = open_old();
  std::unique_ptr<DiffReader> parts[3];
  for (auto& part : parts) {
    std::unique_ptr<DiffReader> whole = open_diff();
    if (!whole) return false;
    part = std::make_unique<RangeReader>(std::move(whole), kArchiveDiffHeaderSize,
                                         header.lengths[0]);
  }
  if (!skeleton_old) return false;
  return DecodeStreamDiff(skeleton, *skeleton_old, *parts[0], *parts[1], *parts[2]) &&
         skeleton.Flush() && rebuilder.Flush() && rebuilder.Finished();
}

}  // namespace vard::diff
