// Moving the patch's bytes to disk and telling what a file holds: the CRC-32 text of a
// file, an embedded "DATA" resource written to a new file, and a zlib-stream file
// inflated into a new file. Each advances a progress node by the bytes it has handled,
// once per 1 MiB chunk. Main thread; fixed memory (1 MiB for the checksum, two 1 MiB
// buffers for inflation). Sizes are 64-bit: files of 4 GiB and more are served.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

class ProgressNode;

// CRC-32 of the whole file as "%08lx" text, read in 1 MiB chunks while others may read
// too; an empty file has the CRC of empty content, "00000000". False (text untouched)
// when the file cannot be opened, sized or read.
bool ComputeFileCrc(const std::wstring& path, ProgressNode& node, std::string& text);

// Writes the bytes of "DATA" resource id to target, created as a new file (an existing
// file makes it fail untouched) together with its missing folders. False on failure,
// leaving a partly written file for the caller to delete. A missing or unloadable
// resource raises std::runtime_error from LoadDataResource. When crc is given it
// receives the CRC-32 of what was written, taken while writing.
bool WriteResourceToFile(const std::wstring& target, ProgressNode& node, std::uint16_t id,
                         std::uint32_t* crc = nullptr);

// Inflates the zlib stream in source into target, created as a new file with its
// missing folders after any stale copy has been deleted; bytes after the stream's end
// are ignored. False on any failure, leaving a partial target for the caller to delete.
// node may be null. When crc is given it receives the CRC-32 of what was written.
// PayloadCodec::Xz decodes an .xz stream (engine/xz_stream.h) instead. A stream that
// decodes to more than limit bytes fails as soon as it passes it, with at most limit
// bytes written: the caller gives the size the manifest states, so a small stream that
// would expand without end (a "bomb") never fills the disk.
enum class PayloadCodec : int { Zlib = 1, Xz = 2 };
bool InflateFile(const std::wstring& source, const std::wstring& target, ProgressNode* node,
                 std::uint32_t* crc = nullptr, PayloadCodec codec = PayloadCodec::Zlib,
                 std::uint64_t limit = ~std::uint64_t{0});

}  // namespace vard
