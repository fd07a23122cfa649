// Speed of the patcher's data paths beside a plain copy of the same bytes, measured in one
// run: applying a typical diff of either form (file to file, and decoding alone in
// memory) and inflating a payload, each producing the same new file of 100 MB that the
// copy copies. Making the diffs at start-up takes a few minutes. Build on demand: cmake --build --preset native --target engine_bench.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/diff/decode_diff.h"
#include "engine/diff/file_streams.h"
#include "engine/diff/stream_diff.h"
#include "engine/inflate_loop.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/diff_encoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr std::size_t kChunk = std::size_t{1} << 20;

// An executable-like old file (code-like bytes with repeated structures, tables, text)
// and a new version with the changes a rebuild makes: many small in-place changes
// (addresses, offsets), some inserted and removed stretches.
struct Workload {
  fs::path dir;
  Bytes old_bytes, new_bytes, diff_bytes, stream_diff_bytes;
  fs::path old_path, new_path, diff_path, stream_diff_path, zlib_path;

  Workload() {
    std::mt19937 rng(42);
    const std::size_t size = std::size_t{100} << 20;
    old_bytes.reserve(size);
    while (old_bytes.size() < size) {
      const unsigned kind = rng() % 4;
      const std::size_t len = 256 + rng() % 4096;
      for (std::size_t i = 0; i < len; ++i) {
        if (kind == 0) old_bytes.push_back(static_cast<unsigned char>(rng()));
        else if (kind == 1) old_bytes.push_back(static_cast<unsigned char>("\x48\x8b\x45\xf8\x89\xc7\xe8"[i % 7]));
        else if (kind == 2) old_bytes.push_back(static_cast<unsigned char>((i * 13) & 0xFF));
        else old_bytes.push_back(static_cast<unsigned char>("resource string table "[i % 22]));
      }
    }
    old_bytes.resize(size);
    new_bytes = old_bytes;
    for (std::size_t at = 100; at + 4 < new_bytes.size(); at += 2000 + rng() % 6000) {
      new_bytes[at] = static_cast<unsigned char>(rng());
      new_bytes[at + 1] = static_cast<unsigned char>(rng());
    }
    for (int k = 0; k < 200; ++k) {
      const std::size_t at = rng() % (new_bytes.size() - 10000);
      if (k % 2) {
        Bytes ins(100 + rng() % 3000);
        for (auto& b : ins) b = static_cast<unsigned char>(rng());
        new_bytes.insert(new_bytes.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
      } else {
        new_bytes.erase(new_bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        new_bytes.begin() + static_cast<std::ptrdiff_t>(at + 100 + rng() % 3000));
      }
    }
    diff_bytes = vard::mkpatch::EncodeDiff(old_bytes.data(), old_bytes.size(), new_bytes.data(),
                                           new_bytes.size());
    stream_diff_bytes = vard::mkpatch::EncodeStreamDiff(old_bytes.data(), old_bytes.size(),
                                                        new_bytes.data(), new_bytes.size());

    dir = fs::temp_directory_path() / ("vard-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    old_path = Write("old", old_bytes);
    new_path = Write("new", new_bytes);
    diff_path = Write("diff", diff_bytes);
    stream_diff_path = Write("diff2", stream_diff_bytes);
    uLongf zsize = compressBound(static_cast<uLong>(new_bytes.size()));
    Bytes z(zsize);
    compress2(z.data(), &zsize, new_bytes.data(), static_cast<uLong>(new_bytes.size()), 9);
    z.resize(zsize);
    zlib_path = Write("new.z", z);
    std::fprintf(stderr, "old %zu bytes, new %zu, diff %zu, stream diff %zu, zlib payload %zu\n",
                 old_bytes.size(), new_bytes.size(), diff_bytes.size(), stream_diff_bytes.size(),
                 z.size());
  }
  ~Workload() { fs::remove_all(dir); }

  fs::path Write(const char* name, const Bytes& bytes) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path Output() {
    const fs::path path = dir / "out";
    fs::remove(path);
    return path;
  }
};

Workload& Data() {
  static Workload workload;
  return workload;
}

void CheckOutput(const fs::path& path, benchmark::State& state) {
  if (fs::file_size(path) != Data().new_bytes.size()) state.SkipWithError("wrong output size");
}

// The reference: the new file copied in 1 MiB chunks through stdio.
void BM_CopyNewFile(benchmark::State& state) {
  Workload& w = Data();
  Bytes buffer(kChunk);
  for (auto _ : state) {
    const fs::path out = w.Output();
    std::FILE* in = std::fopen(w.new_path.c_str(), "rb");
    std::FILE* to = std::fopen(out.c_str(), "wb");
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, kChunk, in)) > 0) std::fwrite(buffer.data(), 1, got, to);
    std::fclose(in);
    std::fclose(to);
    CheckOutput(out, state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.new_bytes.size()));
}

// Old file and diff read through 1 MiB pages, new file written in 1 MiB blocks.
void BM_ApplyDiffFiles(benchmark::State& state) {
  Workload& w = Data();
  for (auto _ : state) {
    const fs::path out = w.Output();
    vard::diff::FileDiffReader old_reader, diff_reader;
    vard::diff::FileDiffWriter writer;
    if (!old_reader.Open(w.old_path) || !diff_reader.Open(w.diff_path) ||
        !writer.Open(out, nullptr) || !vard::diff::DecodeDiff(writer, old_reader, diff_reader) ||
        !writer.Close()) {
      state.SkipWithError("apply failed");
      break;
    }
    CheckOutput(out, state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.new_bytes.size()));
}

// The stream diff, file to file: the old file through one page reader, the diff through
// one per stream, the new file written in 1 MiB blocks, as the patcher does.
void BM_ApplyStreamDiffFiles(benchmark::State& state) {
  Workload& w = Data();
  for (auto _ : state) {
    const fs::path out = w.Output();
    vard::diff::FileDiffReader old_reader, commands, differences, extra;
    vard::diff::FileDiffWriter writer;
    if (!old_reader.Open(w.old_path) || !commands.Open(w.stream_diff_path) ||
        !differences.Open(w.stream_diff_path) || !extra.Open(w.stream_diff_path) ||
        !writer.Open(out, nullptr) ||
        !vard::diff::DecodeStreamDiff(writer, old_reader, commands, differences, extra,
                                      w.new_bytes.size()) ||
        !writer.Close()) {
      state.SkipWithError("apply failed");
      break;
    }
    CheckOutput(out, state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.new_bytes.size()));
}

// A writer that only counts its blocks: decoding without any output cost.
class CountingWriter final : public vard::diff::DiffWriter {
 public:
  CountingWriter() { Start(nullptr); }
  ~CountingWriter() override { ReleaseBuffer(); }

 protected:
  bool Deliver(const unsigned char* data, std::size_t) override {
    benchmark::DoNotOptimize(data);
    return true;
  }
};

// Decoding alone: inputs in memory, output counted.
void BM_DecodeDiffMemory(benchmark::State& state) {
  Workload& w = Data();
  for (auto _ : state) {
    vard::diff::MemoryDiffReader old_reader(w.old_bytes.data(), w.old_bytes.size());
    vard::diff::MemoryDiffReader diff_reader(w.diff_bytes.data(), w.diff_bytes.size());
    CountingWriter writer;
    if (!vard::diff::DecodeDiff(writer, old_reader, diff_reader) || !writer.Flush() ||
        writer.written() != w.new_bytes.size()) {
      state.SkipWithError("decode failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.new_bytes.size()));
}

class StdioSource final : public vard::InflateSource {
 public:
  explicit StdioSource(std::FILE* f) : f_(f) {}
  std::int64_t Read(unsigned char* buffer, std::size_t capacity) override {
    const std::size_t got = std::fread(buffer, 1, capacity, f_);
    return std::ferror(f_) ? -1 : static_cast<std::int64_t>(got);
  }

 private:
  std::FILE* f_;
};

class StdioSink final : public vard::InflateSink {
 public:
  explicit StdioSink(std::FILE* f) : f_(f) {}
  bool Write(const unsigned char* data, std::size_t count) override {
    return std::fwrite(data, 1, count, f_) == count;
  }

 private:
  std::FILE* f_;
};

// The whole new file inflated from its zlib payload, file to file.
void BM_InflateFile(benchmark::State& state) {
  Workload& w = Data();
  for (auto _ : state) {
    const fs::path out = w.Output();
    std::FILE* in = std::fopen(w.zlib_path.c_str(), "rb");
    std::FILE* to = std::fopen(out.c_str(), "wb");
    StdioSource source(in);
    StdioSink sink(to);
    const bool ok = vard::InflateStream(source, sink, nullptr);
    std::fclose(in);
    std::fclose(to);
    if (!ok) {
      state.SkipWithError("inflate failed");
      break;
    }
    CheckOutput(out, state);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.new_bytes.size()));
}

BENCHMARK(BM_CopyNewFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyDiffFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyStreamDiffFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDiffMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
