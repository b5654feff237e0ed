// Fuzzes the simulator's command-line parser. The input, split at its NUL
// bytes, gives the words after the program name (at most 64 of them; an
// empty input gives none). Whatever the words, parsing must end without a
// fault; its messages go to string streams.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/CommandOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t kMostWords = 64;
  std::vector<std::string> words{"attack_flow_sim"};
  if (size > 0) {
    const char* chars = reinterpret_cast<const char*>(data);
    std::string word;
    for (size_t i = 0; i < size && words.size() <= kMostWords; i++) {
      if (chars[i] == '\0') {
        words.push_back(word);
        word.clear();
      } else {
        word += chars[i];
      }
    }
    if (words.size() <= kMostWords) words.push_back(word);
  }
  // Each word in its own allocation, so that reading past a word is caught.
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const std::string& w : words) {
    storage.emplace_back(w.begin(), w.end());
    storage.back().push_back('\0');
  }
  for (std::vector<char>& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  SimulatorSettings settings;
  std::ostringstream out, err;
  ParseCommandLine(static_cast<int>(words.size()), argv.data(), &settings, out, err);
  return 0;
}
