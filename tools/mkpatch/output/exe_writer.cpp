#include "mkpatch/output/exe_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "mkpatch/common/input_error.h"

namespace vard::mkpatch {

namespace {

constexpr size_t kPiece = size_t{1} << 20;

uint64_t Fold(uint64_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum;
}

}  // namespace

ExeWriter::ExeWriter(std::filesystem::path path, uint64_t checksum_offset)
    : path_(std::move(path)), checksum_offset_(checksum_offset) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
}

ExeWriter::~ExeWriter() {
  if (fd_ >= 0) ::close(fd_);
}

// The checksum is the PE one: 16-bit little-endian words added with end-around carry. Since
// 2^16 is 1 modulo 0xFFFF, whole 32-bit words can be added and folded later; a byte at an
// odd offset is the high half of its word.
void ExeWriter::Sum(const uint8_t* data, size_t size) {
  uint64_t at = size_, sum = sum_;
  size_t i = 0;
  for (; i < size && (at & 3) != 0; ++i, ++at) sum += (at & 1) ? uint64_t{data[i]} << 8 : data[i];
  for (; i + 4 <= size; i += 4, at += 4)
    sum += uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16 |
           uint32_t{data[i + 3]} << 24;
  for (; i < size; ++i, ++at) sum += (at & 1) ? uint64_t{data[i]} << 8 : data[i];
  sum_ = Fold(sum);
}

void ExeWriter::Put(const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, std::min(size, kPiece));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
    data += written;
    size -= static_cast<size_t>(written);
    size_ += static_cast<uint64_t>(written);
  }
}

void ExeWriter::Write(const uint8_t* data, size_t size) {
  const uint64_t end = size_ + size;
  if (checksum_offset_ < end && checksum_offset_ + 4 > size_) {
    // The checksum field counts as zero.
    std::vector<uint8_t> copy(data, data + size);
    for (uint64_t at = std::max(checksum_offset_, size_); at < std::min(checksum_offset_ + 4, end); ++at)
      copy[at - size_] = 0;
    Sum(copy.data(), copy.size());
  } else {
    Sum(data, size);
  }
  Put(data, size);
}

void ExeWriter::WriteZeros(uint64_t count) {
  const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<uint64_t>(count, kPiece)), 0);
  for (; count > 0; count -= std::min<uint64_t>(count, zeros.size()))
    Write(zeros.data(), static_cast<size_t>(std::min<uint64_t>(count, zeros.size())));
}

void ExeWriter::Copy(const std::filesystem::path& file, uint64_t size) {
  const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw InputError("cannot read " + file.string() + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{in};
  ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (buffer_.empty()) buffer_.resize(kPiece);
  uint64_t left = size;
  for (;;) {
    // One byte more than is left, so that a file grown since it was listed is noticed.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left + 1, buffer_.size()));
    const ssize_t got = ::read(in, buffer_.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw InputError("cannot read " + file.string() + ": " + std::strerror(errno));
    if (static_cast<uint64_t>(got) > left)
      throw InputError(file.string() + " holds more than the " + std::to_string(size) + " bytes listed for it");
    if (got == 0) break;
    Write(buffer_.data(), static_cast<size_t>(got));
    left -= static_cast<uint64_t>(got);
  }
  if (left != 0)
    throw InputError(file.string() + " holds fewer than the " + std::to_string(size) + " bytes listed for it");
}

void ExeWriter::Finish() {
  const uint32_t checksum = static_cast<uint32_t>(Fold(sum_) + size_);
  uint8_t field[4];
  for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(checksum >> (8 * i));
  const bool stored = checksum_offset_ + 4 <= size_ &&
                      ::pwrite(fd_, field, 4, static_cast<off_t>(checksum_offset_)) == 4;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (!stored || closed != 0) throw std::runtime_error("cannot write " + path_.string());
}

}  // namespace vard::mkpatch
