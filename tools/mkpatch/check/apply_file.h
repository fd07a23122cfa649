// `mkpatch apply`: one diff, as `mkpatch diff` writes it, applied from file to file with
// the patcher's own decoders, reader and writer, so it streams in the patcher's memory
// bound whatever the file sizes and shows the patcher's speed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vard::mkpatch {

// The largest new file a diff without a stated size (form 1) may produce: the patcher
// serves files below 4 GiB.
inline constexpr std::uint64_t kFormOneOutputLimit = (std::uint64_t{1} << 32) - 1;
// max_size when the caller sets no cap of its own.
inline constexpr std::uint64_t kNoMaxSize = ~std::uint64_t{0};

struct AppliedFile {
  int form = 0;            // 1, 2 or 3
  std::uint64_t size = 0;  // bytes written
  std::uint32_t crc = 0;   // their CRC-32
};

// Rebuilds new_path from old_path and the diff at diff_path, its form told by its first
// bytes: "VDF2" is form 2, "VDF3" form 3; a zlib header (0x78 and a valid header check) a compressed
// form 1 diff, inflated to a temporary file beside new_path first; anything else a stored
// form 1 diff. Output never passes the new size a form 2 or 3 diff states, nor
// kFormOneOutputLimit for form 1, nor max_size (which caps the inflated form 1 diff too);
// passing max_size stops the decoder at once and the problem text names the limit. The
// result is written beside new_path and moved into place only when complete; on failure
// nothing is left and new_path is untouched. Returns a problem text, empty on success.
// Memory: the decoders' fixed bound.
std::string ApplyDiffFile(const std::filesystem::path& old_path,
                          const std::filesystem::path& diff_path,
                          const std::filesystem::path& new_path, AppliedFile& result,
                          std::uint64_t max_size = kNoMaxSize);

}  // namespace vard::mkpatch
