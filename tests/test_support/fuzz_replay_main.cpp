// Runs a fuzz target over every file of the folders named on the command line (a corpus
// kept from fuzzing campaigns, crashing inputs included), so that each test run repeats
// them without a fuzzing engine. Fails when a folder holds no file. The name of each input
// is printed before it runs, so a failing run shows which one it was.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

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
  return 0;
}
