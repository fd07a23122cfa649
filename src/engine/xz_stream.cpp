#include "engine/xz_stream.h"

#include <lzma.h>

#include <cstring>
#include <new>

#include "model/progress_tree.h"

namespace vard {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::size_t kWindow = std::size_t{64} << 10;

bool StartDecoder(lzma_stream& stream) {
  stream = LZMA_STREAM_INIT;
  return lzma_stream_decoder(&stream, kXzMemoryLimit, 0) == LZMA_OK;
}

}  // namespace

bool XzDecodeStream(InflateSource& source, InflateSink& sink, ProgressNode* node) {
  std::unique_ptr<unsigned char[]> input(new (std::nothrow) unsigned char[kChunk]);
  std::unique_ptr<unsigned char[]> output(new (std::nothrow) unsigned char[kChunk]);
  if (!input || !output) return false;
  lzma_stream stream;
  if (!StartDecoder(stream)) return false;
  std::uint64_t written = 0;
  bool at_end = false;
  lzma_ret result = LZMA_OK;
  for (;;) {
    if (stream.avail_in == 0 && !at_end) {
      const std::int64_t got = source.Read(input.get(), kChunk);
      if (got < 0) break;
      at_end = got == 0;
      stream.next_in = input.get();
      stream.avail_in = static_cast<std::size_t>(got);
    }
    stream.next_out = output.get();
    stream.avail_out = kChunk;
    result = lzma_code(&stream, at_end ? LZMA_FINISH : LZMA_RUN);
    const std::size_t produced = kChunk - stream.avail_out;
    if (produced > 0) {
      if (!sink.Write(output.get(), produced)) {
        result = LZMA_PROG_ERROR;
        break;
      }
      written += produced;
      if (node != nullptr) AdvanceProgress(*node, written);
    }
    if (result != LZMA_OK) break;
  }
  lzma_end(&stream);
  return result == LZMA_STREAM_END;
}

struct XzReader::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  bool started = false;
  unsigned char window[kWindow];
  ~State() {
    if (started) lzma_end(&stream);
  }
};

XzReader::XzReader() = default;
XzReader::~XzReader() = default;

bool XzReader::Start(diff::DiffReader& source, std::uint64_t length) {
  state_.reset(new (std::nothrow) State);
  if (!state_) return false;
  if (!StartDecoder(state_->stream)) return false;
  state_->started = true;
  source_ = &source;
  input_left_ = length;
  window_pos_ = window_len_ = 0;
  ended_ = failed_ = false;
  return true;
}

std::size_t XzReader::Peek(const unsigned char*& data) {
  if (window_pos_ < window_len_) {
    data = state_->window + window_pos_;
    return window_len_ - window_pos_;
  }
  window_pos_ = window_len_ = 0;
  if (ended_ || failed_ || !state_) return 0;
  lzma_stream& stream = state_->stream;
  // Decode until some output appears, the stream ends, or it fails. A call that neither
  // consumes input nor produces output ends in LZMA_BUF_ERROR from liblzma, so this
  // terminates.
  while (window_len_ == 0) {
    const unsigned char* in = nullptr;
    const std::size_t available = input_left_ > 0 ? source_->Peek(in, input_left_) : 0;
    if (input_left_ > 0 && available == 0) {  // the reader ended before the stream's length
      failed_ = true;
      return 0;
    }
    stream.next_in = in;
    stream.avail_in = available;
    stream.next_out = state_->window;
    stream.avail_out = kWindow;
    const lzma_ret result = lzma_code(&stream, input_left_ == 0 ? LZMA_FINISH : LZMA_RUN);
    const std::size_t consumed = available - stream.avail_in;
    source_->Skip(consumed);
    input_left_ -= consumed;
    window_len_ = kWindow - stream.avail_out;
    if (result == LZMA_STREAM_END) {
      ended_ = true;
      // The stream must fill its whole length: nothing may follow it.
      if (input_left_ != 0) failed_ = true;
      break;
    }
    if (result != LZMA_OK) {
      failed_ = true;
      break;
    }
  }
  if (failed_) window_len_ = 0;
  data = state_->window;
  return window_len_;
}

bool XzReader::ReadExactly(unsigned char* out, std::size_t count) {
  while (count > 0) {
    const unsigned char* data = nullptr;
    std::size_t got = Peek(data);
    if (got == 0) return false;
    if (got > count) got = count;
    std::memcpy(out, data, got);
    Take(got);
    out += got;
    count -= got;
  }
  return true;
}

bool XzReader::Finished() {
  const unsigned char* data = nullptr;
  return Peek(data) == 0 && ended_ && !failed_;
}

}  // namespace vard
