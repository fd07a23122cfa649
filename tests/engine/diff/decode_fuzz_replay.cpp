// Runs the diff decoder's fuzz target over the seed corpus (tiny hand-made diffs named
// after what they exercise) and over generated inputs from a fixed seed, so that every
// test run repeats them without a fuzzing engine. Usage: engine_diff_decode_replay CORPUS_DIR
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
  // Inputs rich in escapes, command bytes and number prefixes.
  static const std::uint8_t kAlphabet[] = {0xA7, 0xA7, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0x00,
                                           0x01, 0x05, 0xFC, 0xFD, 0xFE, 0xFF, 0x41, 0xA8};
  std::mt19937 rng(6);
  for (int round = 0; round < 50000; ++round) {
    std::vector<std::uint8_t> input(1 + rng() % 48);
    input[0] = static_cast<std::uint8_t>(rng() % 24);
    for (std::size_t i = 1; i < input.size(); ++i) {
      input[i] = rng() % 4 ? kAlphabet[rng() % sizeof kAlphabet] : static_cast<std::uint8_t>(rng());
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%d corpus files and 50000 generated inputs agree\n", files);
  return 0;
}
