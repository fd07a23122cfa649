// Whole-file reads and writes for the builder, and the checksum text the patcher compares
// with its manifests. The builder holds one file pair in memory at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vard::mkpatch {

using Bytes = std::vector<uint8_t>;

// Reads the whole file; throws InputError naming the file when it cannot be read. A large
// file's buffer asks for huge pages, so that it is not faulted in 4 KiB at a time.
Bytes ReadWholeFile(const std::filesystem::path& path);

// Writes (replacing) the whole file, creating its folder; throws std::runtime_error.
void WriteWholeFile(const std::filesystem::path& path, const uint8_t* data, size_t size);
inline void WriteWholeFile(const std::filesystem::path& path, const Bytes& bytes) {
  WriteWholeFile(path, bytes.data(), bytes.size());
}

// The CRC text of a whole file, read in 1 MiB pieces; throws InputError naming the file.
std::string FileCrcText(const std::filesystem::path& path);

// CRC-32 (zlib's, started from 0) as eight lowercase hexadecimal digits ("%08lx").
std::string CrcText(const uint8_t* data, size_t size);
inline std::string CrcText(const Bytes& bytes) { return CrcText(bytes.data(), bytes.size()); }

}  // namespace vard::mkpatch
