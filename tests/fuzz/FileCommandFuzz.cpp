// Fuzzes the text that follows the manager's "write to file" command
// (name;number;;). A text that is accepted gives a non-empty name at its
// start and a positive limit, and the canonical text of that name and limit
// is accepted with the same result; a text that is refused says why.
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "simulator/FileCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string name, error;
  int32_t limit = 0;
  if (!ParseFileCommand(text, size, &name, &limit, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(!name.empty());
  FUZZ_CHECK(limit > 0);
  FUZZ_CHECK(name.size() < size && name.compare(0, name.size(), text, name.size()) == 0);

  const std::string again = name + ";" + std::to_string(limit) + ";;";
  std::string name2, error2;
  int32_t limit2 = 0;
  FUZZ_CHECK(ParseFileCommand(again.data(), again.size(), &name2, &limit2, &error2));
  FUZZ_CHECK(name2 == name && limit2 == limit);
  return 0;
}
