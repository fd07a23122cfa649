// Decoding of .xz streams (LZMA2, optionally after the x86 branch filter), the stronger
// of the patch's two codecs: whole payloads whose manifest entry says comp="2", and the
// three streams inside a diff of the second form (engine/diff/stream_diff.h).
//
// Memory is bounded whatever the data says: a stream whose dictionary or filters would
// need more than kXzMemoryLimit is refused, not decoded. mkpatch caps the dictionary at
// kXzDictionaryCap, well inside the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/diff/diff_reader.h"
#include "engine/inflate_loop.h"

namespace vard {

class ProgressNode;

inline constexpr std::uint32_t kXzDictionaryCap = 8u << 20;
inline constexpr std::uint64_t kXzMemoryLimit = 10u << 20;

// Decodes one whole .xz stream from source into sink in 1 MiB chunks, like InflateStream
// (which it mirrors for comp="2" payloads): true when the stream ended properly and its
// integrity check matched; bytes after its end are ignored. False for a truncated or
// corrupt stream, one over the memory limit, a failed read or write, or failed
// allocation. node (may be null) advances to the bytes written after every chunk.
bool XzDecodeStream(InflateSource& source, InflateSink& sink, ProgressNode* node);

// Pull-style decoder of one .xz stream that fills exactly `length` bytes of a reader
// from its current position: the stream must end exactly there. Decoded bytes are handed
// out from a 64 KiB window. Memory: that window plus the decoder's state (at most
// kXzMemoryLimit). Page failures of the reader propagate as std::runtime_error.
class XzReader {
 public:
  XzReader();
  ~XzReader();
  XzReader(const XzReader&) = delete;
  XzReader& operator=(const XzReader&) = delete;

  // Starts decoding from the reader's position; false when out of memory.
  bool Start(diff::DiffReader& source, std::uint64_t length);
  // Points data at the decoded bytes available now (decoding more when none are left)
  // and returns their count: 0 at the proper end of the stream or on failure (failed()
  // tells). Does not consume; call Take.
  std::size_t Peek(const unsigned char*& data);
  void Take(std::size_t count) { window_pos_ += count; }
  // Reads exactly count bytes into out; false when the stream ends first or fails.
  bool ReadExactly(unsigned char* out, std::size_t count);
  bool failed() const { return failed_; }
  // True when the stream ended properly, filling its whole length, and every decoded
  // byte has been taken.
  bool Finished();

 private:
  struct State;
  std::unique_ptr<State> state_;
  diff::DiffReader* source_ = nullptr;
  std::uint64_t input_left_ = 0;
  std::size_t window_pos_ = 0;
  std::size_t window_len_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace vard
