// The loop that inflates one zlib stream from a byte source into a byte sink in 1 MiB
// chunks: shared by the patcher's InflateFile (Win32 files) and the native tools.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vard {

class ProgressNode;

class InflateSource {
 public:
  virtual ~InflateSource() = default;
  // Reads up to capacity bytes; the count read, 0 at the end, -1 on failure.
  virtual std::int64_t Read(unsigned char* buffer, std::size_t capacity) = 0;
};

class InflateSink {
 public:
  virtual ~InflateSink() = default;
  // Writes all count bytes; false on failure.
  virtual bool Write(const unsigned char* data, std::size_t count) = 0;
};

// Inflates the zlib-format stream (header, Adler-32 trailer, 32 KiB window) read from
// source into sink. Phase one feeds 1 MiB input chunks with Z_NO_FLUSH until inflate
// stops answering Z_OK or the source ends; phase two calls Z_FINISH until it writes
// nothing more. True when the stream ended properly (bytes after its end are ignored);
// false for a truncated or corrupt stream, one that needs a dictionary, a failed read or
// write, or when the two 1 MiB buffers cannot be allocated. When node is set it is
// advanced to the number of bytes written after every chunk.
bool InflateStream(InflateSource& source, InflateSink& sink, ProgressNode* node);

}  // namespace vard
