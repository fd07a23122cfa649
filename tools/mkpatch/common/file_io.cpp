#include "mkpatch/common/file_io.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "engine/crc_text.h"
#include "mkpatch/common/input_error.h"

namespace vard::mkpatch {

Bytes ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!in || ec) throw InputError("cannot read file: " + path.string());
  Bytes bytes;
  bytes.reserve(static_cast<size_t>(size));
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (size >= 2 * kHugePage) {
    const uintptr_t from = (reinterpret_cast<uintptr_t>(bytes.data()) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(bytes.data()) + size) & ~(kHugePage - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);  // a hint only
  }
  bytes.resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
    throw InputError("cannot read file: " + path.string());
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out && size > 0) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) throw std::runtime_error("cannot write file: " + path.string());
}

std::string FileCrcText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot read file: " + path.string());
  std::vector<char> buffer(size_t{1} << 20);
  uint32_t crc = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    crc = ::vard::Crc32Update(crc, reinterpret_cast<const unsigned char*>(buffer.data()),
                              static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw InputError("cannot read file: " + path.string());
  return ::vard::CrcText(crc);
}

std::string CrcText(const uint8_t* data, size_t size) {
  return ::vard::CrcText(::vard::Crc32Update(0, data, size));
}

}  // namespace vard::mkpatch
