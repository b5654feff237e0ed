// Replays inputs through a fuzz target without libFuzzer: every file named
// on the command line, and every file inside every directory named there, is
// read and passed to LLVMFuzzerTestOneInput once (files of a directory in
// name order). The regular tests run each target's seed corpus this way; a
// crash input found by fuzzing can be replayed the same way.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool replayFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that a read past its end is caught
  // by the address sanitizer as it would be under libFuzzer.
  // (An empty input still gets a valid pointer, as under libFuzzer.)
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  static const uint8_t none = 0;
  LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  size_t replayed = 0;
  for (int i = 1; i < argc; i++) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    std::vector<fs::path> files;
    if (fs::is_directory(arg, ec)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(arg);
    }
    for (const fs::path& file : files) {
      if (!replayFile(file)) return 1;
      replayed++;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", replayed);
  return 0;
}
