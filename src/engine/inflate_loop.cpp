#include "engine/inflate_loop.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "model/progress_tree.h"

namespace vard {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

// The working record of one inflation; its buffers live for the call only.
struct InflateJob {
  z_stream stream{};
  int result = 0;  // last value of inflate, or -1 after a failed read or write
  std::unique_ptr<unsigned char[]> input;
  std::unique_ptr<unsigned char[]> output;
  ProgressNode* node = nullptr;
  std::uint64_t written = 0;
};

// Writes what inflate produced since the last drain; false on a failed write. pending
// tells how much that was.
bool Drain(InflateJob& job, InflateSink& sink, std::size_t& pending) {
  pending = kChunk - job.stream.avail_out;
  if (pending == 0) return true;
  if (!sink.Write(job.output.get(), pending)) {
    job.result = -1;
    return false;
  }
  job.written += pending;
  job.stream.next_out = job.output.get();
  job.stream.avail_out = static_cast<uInt>(kChunk);
  return true;
}

void Advance(const InflateJob& job) {
  if (job.node != nullptr) AdvanceProgress(*job.node, job.written);
}

}  // namespace

bool InflateStream(InflateSource& source, InflateSink& sink, ProgressNode* node) {
  InflateJob job;
  job.input.reset(new (std::nothrow) unsigned char[kChunk]);
  job.output.reset(new (std::nothrow) unsigned char[kChunk]);
  if (!job.input || !job.output) return false;
  job.node = node;
  job.stream.next_in = job.input.get();
  job.stream.avail_in = 0;
  job.stream.next_out = job.output.get();
  job.stream.avail_out = static_cast<uInt>(kChunk);
  if (inflateInit(&job.stream) != Z_OK) return false;

  std::size_t pending = 0;
  for (;;) {
    if (job.stream.avail_in == 0) {
      const std::int64_t got = source.Read(job.input.get(), kChunk);
      if (got <= 0) {
        job.result = -1;
        break;
      }
      job.stream.next_in = job.input.get();
      job.stream.avail_in = static_cast<uInt>(got);
    }
    job.result = inflate(&job.stream, Z_NO_FLUSH);
    if (!Drain(job, sink, pending)) {
      inflateEnd(&job.stream);
      return false;
    }
    if (job.result != Z_OK) break;
    Advance(job);
  }

  do {
    job.result = inflate(&job.stream, Z_FINISH);
    if (!Drain(job, sink, pending)) {
      inflateEnd(&job.stream);
      return false;
    }
  } while (pending != 0 && job.result == Z_OK);

  Advance(job);
  inflateEnd(&job.stream);
  if (job.result == Z_STREAM_END) job.result = 0;
  return job.result == 0;
}

}  // namespace vard
