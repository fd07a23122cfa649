// What the stream-diff and archive-diff fuzz targets and their replays share: the input's
// layout (one byte n, n bytes of old file, a flags byte, the rest), xz compression of
// made-up streams, command records and second-form containers built from them, and the
// random inputs the replays start from.
#pragma once

#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "engine/diff/stream_diff.h"

namespace vard::test {

using FuzzBytes = std::vector<unsigned char>;

inline FuzzBytes Xz(const FuzzBytes& raw) {
  FuzzBytes out(lzma_stream_buffer_bound(raw.size()));
  std::size_t size = 0;
  if (lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr, raw.data(), raw.size(), out.data(),
                              &size, out.size()) != LZMA_OK)
    std::abort();
  out.resize(size);
  return out;
}

inline void PutRecord(FuzzBytes& to, std::uint64_t add, std::uint64_t extra, std::int64_t seek) {
  unsigned char b[diff::kStreamDiffRecordSize];
  diff::PutLe64(b, add);
  diff::PutLe64(b + 8, extra);
  diff::PutLe64(b + 16, static_cast<std::uint64_t>(seek));
  to.insert(to.end(), b, b + sizeof b);
}

// A second-form container of the three streams (before compression); size_word is the
// header's new size with its flags byte.
inline FuzzBytes StreamDiffContainer(std::uint64_t size_word, const FuzzBytes& commands,
                                     const FuzzBytes& differences, const FuzzBytes& extra) {
  FuzzBytes out(diff::kStreamDiffHeaderSize, 0);
  std::memcpy(out.data(), diff::kStreamDiffMagic, 4);
  diff::PutLe64(out.data() + 4, size_word);
  const FuzzBytes streams[3] = {Xz(commands), Xz(differences), Xz(extra)};
  for (int i = 0; i < 3; ++i) {
    diff::PutLe64(out.data() + 12 + 8 * i, streams[i].size());
    out.insert(out.end(), streams[i].begin(), streams[i].end());
  }
  return out;
}

// The zero-run coding as the format describes it, written out plainly.
inline FuzzBytes ZeroRunCoded(const FuzzBytes& plain) {
  FuzzBytes out;
  for (std::size_t i = 0; i < plain.size();) {
    if (plain[i] != 0) {
      out.push_back(plain[i++]);
      continue;
    }
    std::uint64_t run = 0;
    while (i < plain.size() && plain[i] == 0) ++run, ++i;
    out.push_back(0);
    for (std::uint64_t v = run - 1;; v >>= 7) {
      out.push_back(static_cast<unsigned char>((v & 0x7F) | (v >= 0x80 ? 0x80 : 0)));
      if (v < 0x80) break;
    }
  }
  return out;
}

// An input split into its parts; false when it is too short to have a flags byte.
struct DiffFuzzInput {
  FuzzBytes old;
  unsigned flags = 0;
  const std::uint8_t* rest = nullptr;
  std::size_t left = 0;
};
inline bool SplitDiffFuzzInput(const std::uint8_t* input, std::size_t size, DiffFuzzInput& in) {
  if (size < 2) return false;
  std::size_t old_size = input[0];
  if (old_size > size - 2) old_size = size - 2;
  in.old.assign(input + 1, input + 1 + old_size);
  in.flags = input[1 + old_size];
  in.rest = input + 2 + old_size;
  in.left = size - 2 - old_size;
  return true;
}

// For the replays: min_size plus up to spread - 1 random bytes whose old file has at most
// 23 bytes; returns where the flags byte is (the last byte when the old file takes all).
inline std::size_t RandomDiffFuzzInput(std::mt19937& rng, std::vector<std::uint8_t>& input,
                                       std::size_t min_size, std::size_t spread) {
  input.assign(min_size + rng() % spread, 0);
  input[0] = static_cast<std::uint8_t>(rng() % 24);
  for (std::size_t i = 1; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(rng());
  const std::size_t old_end = 1u + input[0];
  return old_end < input.size() ? old_end : input.size() - 1;
}

}  // namespace vard::test
