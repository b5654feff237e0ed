#include "simmgr/SimMgr.h"

#include <filesystem>
#include <ostream>

#include "results/FileOutput.h"
#include "simmgr/Compare.h"
#include "simmgr/Experiments.h"

namespace simmgr {

namespace {

// attack_flow_sim in the directory of this program.
std::string DefaultSimulator(const std::string& programPath) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || self.empty()) self = std::filesystem::absolute(programPath, ec);
  return (self.parent_path() / "attack_flow_sim").string();
}

// The exit code after printing the help text: a failed write is an error.
int PrintedHelp(std::ostream& out, std::ostream& err) {
  if (FlushSucceeded(out)) return kExitOk;
  err << "simmgr: cannot write to standard output" << std::endl;
  return kExitFailure;
}

}  // namespace

int RunSimMgr(const std::vector<std::string>& args, const std::string& programPath, std::ostream& out,
              std::ostream& err) {
  if (!args.empty() && args[0] == "summarize") {
    SummarizeOptions options;
    std::string error;
    const ParseOutcome parsed =
        ParseSummarizeOptions(std::vector<std::string>(args.begin() + 1, args.end()), &options, &error);
    if (parsed == ParseOutcome::kHelp) {
      out << SummarizeUsage();
      return PrintedHelp(out, err);
    }
    if (parsed == ParseOutcome::kError) {
      err << "simmgr summarize: " << error << "\n(simmgr summarize --help lists the options)" << std::endl;
      return kExitUsage;
    }
    return RunSummarize(options, out, err);
  }
  StudyOptions options;
  std::string error;
  const ParseOutcome parsed = ParseStudyOptions(args, &options, &error);
  if (parsed == ParseOutcome::kHelp) {
    out << StudyUsage();
    return PrintedHelp(out, err);
  }
  if (parsed == ParseOutcome::kError) {
    err << "simmgr: " << error << "\n(simmgr --help lists the options)" << std::endl;
    return kExitUsage;
  }
  if (options.simulator.empty()) options.simulator = DefaultSimulator(programPath);
  if (!options.experiments.empty()) return RunExperiments(options, out, err);
  if (options.compareA >= 0) return RunCompare(options, out, err);
  return RunStudy(options, out, err);
}

}  // namespace simmgr
