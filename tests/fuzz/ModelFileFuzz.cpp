// Fuzzes the model-file path: the input is the text of a model file.
//  - It is read and checked as every program reads a model file
//    (LoadModelText, which LoadModelFile runs on the file's text): a file
//    that is refused gets at least one message, each with a place inside
//    the file or none, and never more than the loader's cap.
//  - A file that is accepted is built as the programs build it: its study,
//    the summary of check mode (the models of the first and the last
//    experiment, each making its initial look-ahead decision), and then a
//    simulator run of two replications of its last experiment, through the
//    simulator's own set-up from a command line (-M on the text written to
//    a file in the working folder). Faults of the running model are
//    collected, not fatal: they are the model's messages, as a run shows.
// What an input may cost is bounded only by the limits the programs
// enforce (the loader's and the running model's), so that a small file that
// asks for hours or gigabytes shows as a timeout or an out-of-memory.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "model/FileStudy.h"
#include "model/ModelFile.h"
#include "simulator/SimulatorClass.h"

namespace {

// Sends standard output and standard error nowhere while it lives.
class Silence {
 public:
  Silence() : Out(std::cout.rdbuf(nullptr)), Err(std::cerr.rdbuf(nullptr)) {}
  ~Silence() {
    std::cout.clear();
    std::cerr.clear();
    std::cout.rdbuf(Out);
    std::cerr.rdbuf(Err);
  }

 private:
  std::streambuf* Out;
  std::streambuf* Err;
};

// Counts the lines of text, so that a message's place can be checked.
int LineCount(const std::string& text) {
  int lines = 1;
  for (char c : text)
    if (c == '\n') lines++;
  return lines;
}

// The simulator on a command line, run to its end; its exit status.
int RunSimulator(std::vector<std::string> args) {
  args.insert(args.begin(), "attack_flow_sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int status = -1;
  std::unique_ptr<SimulatorClass> simulator =
      SimulatorClass::Create(static_cast<int>(args.size()), argv.data(), &status);
  if (!simulator) return status;
  simulator->Run();
  return simulator->ExitStatus;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Silence silence;

  auto description = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  const bool loaded = LoadModelText(text, "fuzz.toml", description.get(), &errors);
  if (!loaded) {
    FUZZ_CHECK(!errors.empty());
    FUZZ_CHECK(errors.size() <= 200);
    const int lines = LineCount(text);
    for (const ModelFileError& e : errors) {
      FUZZ_CHECK(!e.message.empty());
      FUZZ_CHECK(e.line >= 0 && e.line <= lines && e.column >= 0);
      FUZZ_CHECK(e.Format().compare(0, 10, "fuzz.toml:") == 0);
    }
    return 0;
  }
  FUZZ_CHECK(errors.empty());

  std::vector<std::string> faults;
  FileStudy study(description, [&faults](const std::string& m) { faults.push_back(m); });
  const int last = study.GetNumExps() - 1;
  FUZZ_CHECK(last >= 0);
  std::ostringstream summary;
  study.PrintSummary(summary);
  if (last > 0) {
    study.SetGVs(last);
    study.PrintSummary(summary);
  }
  FUZZ_CHECK(summary.str().find("Look-ahead: ") != std::string::npos);
  for (const std::string& f : faults) FUZZ_CHECK(f.compare(0, 13, "ERROR: model ") == 0);

  // The run: a fault of the running model ends it with exit status 1. (A
  // model that faulted already in its summary would fault the same way.)
  if (!faults.empty()) return 0;
  {
    std::ofstream out("fuzz-model.toml", std::ios::binary | std::ios::trunc);
    out << text;
  }
  const int status =
      RunSimulator({"-M", "./fuzz-model.toml", "-N", "2", "-e", std::to_string(last)});
  FUZZ_CHECK(status == 0 || status == 1);
  return 0;
}
