// Payloads as the patcher reads them: a zlib stream made at libdeflate's strongest level,
// an .xz stream (engine/xz_stream.h), or the bytes themselves when compression would not
// make them smaller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace vard::mkpatch {

struct Payload {
  std::vector<uint8_t> data;  // the resource's bytes; never empty
  bool comp = false;          // data is a compressed stream
  int codec = 0;              // as comp="N" says: 1 zlib, 2 xz; 0 when stored
};

// What an .xz stream holds, which sets the LZMA parameters: Bytes (extra bytes: no use of
// position bits), Differences (as Bytes, with the dictionary capped at
// kDifferencesDictionaryCap), Records (fixed 24-byte command records), Whole (a whole
// file: also tried after the x86 branch filter, the smaller kept). All use the strongest
// preset with the dictionary capped at kXzDictionaryCap, and a CRC-32 check.
// Empty when the stream would have more than `limit` bytes (its buffer never grows beyond).
enum class XzKind { Bytes, Differences, Records, Whole };
// Measured on the difference streams of five real pairs of executables and libraries: a
// dictionary of 1 MiB makes them as small as 8 MiB does (within 0.05 %, as often smaller
// as larger), and the decoder, whose dictionary is then 1 MiB instead of up to 8, decodes
// them about twice as fast.
inline constexpr uint32_t kDifferencesDictionaryCap = uint32_t{1} << 20;
std::vector<uint8_t> CompressXz(const std::vector<uint8_t>& bytes, XzKind kind,
                                size_t limit = SIZE_MAX);

// The same compression (Bytes or Records) on a thread of its own, fed in pieces while the
// data is still being made, so that compressing overlaps making. size_hint bounds the
// total (it sets the dictionary as CompressXz would for that size). Append waits while
// more than kXzPipeQueue bytes are queued, which bounds the memory between the two. The
// compressed stream stays in memory up to kXzPipeKept bytes and goes on in a temporary
// file beyond, so that a stream as large as the file it comes from (the extra bytes of a
// file replaced by unrelated content) does not sit in memory beside both versions.
inline constexpr size_t kXzPipeQueue = size_t{4} << 20;
inline constexpr size_t kXzPipeKept = size_t{16} << 20;
class XzPipe {
 public:
  // kept: how many compressed bytes stay in memory before the temporary file is used.
  XzPipe(XzKind kind, uint64_t size_hint, size_t kept = kXzPipeKept);
  ~XzPipe();
  XzPipe(const XzPipe&) = delete;
  XzPipe& operator=(const XzPipe&) = delete;
  // Hands a piece over (moved out, left empty); may wait for the compressor.
  void Append(std::vector<uint8_t>& piece);
  // Ends the stream and returns its size; throws when compression (or writing the
  // temporary file) failed.
  uint64_t Finish();
  // After Finish: appends the whole stream to `out`.
  void AppendTo(std::vector<uint8_t>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// zlib format (header 0x78 0xDA, Adler-32 trailer), libdeflate level 12.
std::vector<uint8_t> CompressZlib(const uint8_t* data, size_t size);
inline std::vector<uint8_t> CompressZlib(const std::vector<uint8_t>& bytes) {
  return CompressZlib(bytes.data(), bytes.size());
}
size_t CompressedSize(const std::vector<uint8_t>& bytes);

// CompressZlib's stream when it has at most `limit` bytes (the same bytes), else empty:
// the output buffer never grows beyond the limit.
std::vector<uint8_t> CompressZlibWithin(const uint8_t* data, size_t size, size_t limit);

// Whether content of this size looks as if no compression could shrink it, judged from
// kSamplePieces pieces of kSamplePiece bytes spread evenly over it: true only when none of
// them shrinks by kSampleGain or more at a fast zlib level, and when content-defined chunks
// of about 8 KiB found over the whole of it repeat for less than kSampleGain of its bytes
// (repetition farther apart than zlib's window, which xz finds and a sample cannot). Most bytes of a game are
// already compressed (textures, audio, video, archives); running the strongest zlib and xz
// over them costs minutes per hundred megabytes to find they do not shrink. Content
// smaller than kSampleFrom is never judged (false): it is compressed in full, which is
// cheap at that size, so small files keep exactly the payloads they always had.
inline constexpr size_t kSampleFrom = size_t{4} << 20;
inline constexpr size_t kSamplePieces = 32;
inline constexpr size_t kSamplePiece = size_t{64} << 10;
inline constexpr double kSampleGain = 0.01;
bool LooksIncompressible(const uint8_t* data, size_t size);

// The same judgement for a file, without holding it: SampleLooksIncompressible reads only
// the sample pieces (false below kSampleFrom or when a piece shrinks); StoreIfIncompressible
// then makes `target` a hard link to the file (a copy, written in 1 MiB pieces while it is
// read, where the file system refuses the link), reads the file once for its CRC-32 and
// its repeated chunks, and keeps the target (true, *crc set) only when the repetition stays
// below kSampleGain, which is LooksIncompressible's answer for the same bytes. False removes
// the target: the content is to be compressed in full. Throws InputError when the source
// cannot be read or does not hold `size` bytes, std::runtime_error when the target cannot
// be written; neither leaves a target behind. 1 MiB buffer and about 64 bytes a chunk.
bool SampleLooksIncompressible(const std::filesystem::path& path, uint64_t size);
bool StoreIfIncompressible(const std::filesystem::path& source, uint64_t size,
                           const std::filesystem::path& target, uint32_t* crc);

// Compressed unless the stream is not smaller, or unless the content looks incompressible
// (LooksIncompressible), in which case it is stored without trying. Empty content is always compressed: a
// resource of length zero cannot be loaded by the patcher. allow_xz: the smaller of the
// zlib and the xz stream (zlib when equal); otherwise zlib only.
Payload MakePayload(const std::vector<uint8_t>& content, bool allow_xz = false);

}  // namespace vard::mkpatch
