#include "mkpatch/common/file_io.h"

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
  Bytes bytes(static_cast<size_t>(size));
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

std::string CrcText(const uint8_t* data, size_t size) {
  return ::vard::CrcText(::vard::Crc32Update(0, data, size));
}

}  // namespace vard::mkpatch
