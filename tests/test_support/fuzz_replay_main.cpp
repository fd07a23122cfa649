// Runs a fuzz target over every file of the folders named on the command line (a corpus
// kept from fuzzing campaigns, crashing inputs included), so that each test run repeats
// them without a fuzzing engine. Fails when a folder holds no file. The name of each input
// is printed before it runs, so a failing run shows which one it was. A target may add
// inputs generated from a fixed seed (fuzz_replay.h).
//
// Every single allocation above 256 MB aborts the run, as the fuzzing campaigns'
// -malloc_limit_mb=256 does: an input that makes a reader allocate what a header claims,
// not what the data holds, fails here too. The limit sits on glibc's allocation functions,
// which operator new and the libraries (libpng, zlib, TinyXML) all reach; a sanitizer build
// keeps the sanitizer's own allocator and limit instead.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "test_support/fuzz_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace vard::test {
// Defined by the targets that generate inputs; null for the others.
__attribute__((weak)) std::size_t ReplayGeneratedInputs(ReplayInput run);
}  // namespace vard::test

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARD_REPLAY_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VARD_REPLAY_SANITIZED 1
#endif

#ifndef VARD_REPLAY_SANITIZED
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

constexpr std::size_t kAllocationLimit = std::size_t{256} << 20;

void CheckAllocation(std::size_t size) {
  if (size <= kAllocationLimit) return;
  char message[128];
  const int length = std::snprintf(message, sizeof message,
                                   "allocation of %zu bytes, above the limit of %zu\n", size,
                                   kAllocationLimit);
  if (length > 0) static_cast<void>(!write(2, message, static_cast<std::size_t>(length)));
  std::abort();
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) noexcept {
  CheckAllocation(size);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  CheckAllocation(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
  CheckAllocation(size);
  return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
  CheckAllocation(size);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  return memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* const got = memalign(alignment, size);
  if (got == nullptr) return ENOMEM;
  *block = got;
  return 0;
}
}
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
    return 2;
  }
  std::size_t total = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (item.is_regular_file()) files.push_back(item.path());
    }
    if (files.empty()) {
      std::fprintf(stderr, "no inputs in %s\n", argv[i]);
      return 1;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::printf("%s\n", file.filename().string().c_str());
      std::fflush(stdout);
      std::ifstream in(file, std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    total += files.size();
  }
  std::printf("%zu inputs replayed\n", total);
  if (vard::test::ReplayGeneratedInputs != nullptr) {
    const std::size_t generated =
        vard::test::ReplayGeneratedInputs([](const std::vector<std::uint8_t>& input) {
          LLVMFuzzerTestOneInput(input.data(), input.size());
        });
    std::printf("%zu generated inputs replayed\n", generated);
  }
  return 0;
}
