// Runs the stream-diff decoder's fuzz target over its seed corpus and over generated
// inputs from a fixed seed, so that every test run repeats them without a fuzzing engine.
// Usage: stream_fuzz_replay CORPUS_DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(item.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++files;
  }
  if (files == 0) return 1;
  std::mt19937 rng(15);
  const int kRounds = 4000;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::uint8_t> input(3 + rng() % 80);
    input[0] = static_cast<std::uint8_t>(rng() % 24);
    for (std::size_t i = 1; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(rng());
    // Mostly structured inputs with few records and mostly small seeks.
    const std::size_t old_end = 1u + input[0];
    const std::size_t at = old_end < input.size() ? old_end : input.size() - 1;
    if (round % 8 != 0) input[at] &= static_cast<std::uint8_t>(~1u);
    if (at + 1 < input.size()) input[at + 1] %= 8;
    if (at + 2 < input.size()) input[at + 2] %= 48;
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d corpus files and %d generated inputs agree\n", files, kRounds);
  return 0;
}
