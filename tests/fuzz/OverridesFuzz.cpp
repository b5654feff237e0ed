// Fuzzes the global-variable override text (`-O type:name:value:...`). The
// input, up to its first NUL byte, is the text. It is applied to
//  - a small study with global variables of every type letter, written the
//    way a generated study reads its values (through the pointer, as the
//    variable's own type), which records every variable it is given; the
//    names it is given must be those a plain reading of the text expects;
//  - the compiled study of this system (which has no global variables).
// The messages the studies write are thrown away.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "rewards/BaseStudyClass.h"

namespace {

// Global variables of each type; a `long` of a study is 32 bits wide.
class FuzzStudy : public BaseStudyClass {
 public:
  FuzzStudy() {
    GVNames = {"Flag",   "Ready", "Letter", "Rate",  "Mean",
               "Weight", "Count", "Limit",  "Total", "Small"};
    GVTypes = {"bool", "bool", "char", "double", "double", "float", "int", "int", "long", "short"};
    NumGVs = static_cast<int>(GVNames.size());
    NumExps = 1;
  }

  void OverrideGVValue(const char* name, void* value) override {
    Given.push_back(name);
    const std::string n(name);
    if (n == "Flag") Flag = *static_cast<bool*>(value);
    if (n == "Ready") Ready = *static_cast<bool*>(value);
    if (n == "Letter") Letter = *static_cast<char*>(value);
    if (n == "Rate") Rate = *static_cast<double*>(value);
    if (n == "Mean") Mean = *static_cast<double*>(value);
    if (n == "Weight") Weight = *static_cast<float*>(value);
    if (n == "Count") Count = *static_cast<int*>(value);
    if (n == "Limit") Limit = *static_cast<int*>(value);
    if (n == "Total") Total = *static_cast<int32_t*>(value);
    if (n == "Small") Small = *static_cast<short*>(value);
  }

  // The declared type's letter of a variable, 0 for a name it does not have.
  char LetterOf(const std::string& name) const {
    for (size_t i = 0; i < GVNames.size(); i++)
      if (GVNames[i] == name) return GVTypes[i][0];
    return 0;
  }

  std::vector<std::string> Given;
  bool Flag = false, Ready = false;
  char Letter = 0;
  double Rate = 0, Mean = 0;
  float Weight = 0;
  int Count = 0, Limit = 0;
  int32_t Total = 0;
  short Small = 0;
};

// The names a study is given for `text`: tokens between colons (empty ones
// dropped) taken as type:name:value triples; a triple with an unknown type
// letter is skipped, so is one whose letter is not the named variable's;
// an incomplete triple ends the text.
std::vector<std::string> expectedNames(const std::string& text, const FuzzStudy& study) {
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start <= text.size()) {
    size_t colon = text.find(':', start);
    if (colon == std::string::npos) colon = text.size();
    if (colon > start) tokens.push_back(text.substr(start, colon - start));
    start = colon + 1;
  }
  std::vector<std::string> names;
  for (size_t i = 0; i + 2 < tokens.size(); i += 3) {
    const char letter = tokens[i][0];
    if (std::strchr("bcdfils", letter) == nullptr) continue;
    const char declared = study.LetterOf(tokens[i + 1]);
    if (declared != 0 && declared != letter) continue;
    names.push_back(tokens[i + 1]);
  }
  return names;
}

// Sends standard output and standard error nowhere while it lives (a stream
// without a buffer writes nothing).
class Silence {
 public:
  Silence() : Out(std::cout.rdbuf(nullptr)), Err(std::cerr.rdbuf(nullptr)) {}
  ~Silence() {
    std::cout.rdbuf(Out);
    std::cerr.rdbuf(Err);
  }

 private:
  std::streambuf* Out;
  std::streambuf* Err;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The override text reaches the program as a C string: it ends at a NUL.
  const char* chars = reinterpret_cast<const char*>(data);
  const std::string text(chars, std::find(chars, chars + size, '\0'));
  Silence silence;

  FuzzStudy study;
  study.overrideGVs(text.c_str());
  FUZZ_CHECK(study.Given == expectedNames(text, study));

  static BaseStudyClass* compiled = GenerateStudy();
  compiled->overrideGVs(text.c_str());
  return 0;
}
