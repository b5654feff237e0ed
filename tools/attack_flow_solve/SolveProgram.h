// The attack_flow_solve program: its options, the set-up of the model and
// the output of the exact results.
//
// Exit status: 0 solved (or --help); 1 the model cannot be solved exactly or
// a result file or standard output cannot be written; 2 bad options.
#ifndef TARVEX_TOOLS_ATTACK_FLOW_SOLVE_SOLVEPROGRAM_H
#define TARVEX_TOOLS_ATTACK_FLOW_SOLVE_SOLVEPROGRAM_H

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

class PathTally;
class SimulatorClass;

namespace solver {

const int kExitSolved = 0;
const int kExitUnsolvable = 1;
const int kExitBadOptions = 2;

// Which experiment of the model's study to solve, and global-variable
// overrides (type:name:value:...) on top of its values.
struct ExperimentChoice {
  bool hasExperiment = false;
  unsigned experiment = 0;
  bool hasOverrides = false;
  std::string overrides;
};

struct ProgramOptions {
  bool help = false;
  bool csv = false;
  std::string csvPath;  // "-" for standard output
  bool json = false;
  std::string jsonPath;
  std::string modelPath;  // a model file; empty: the built-in attack_flow
  ExperimentChoice choice;
  bool compare = false;  // --compare A B: the exact difference of two experiments
  unsigned compareA = 0;
  unsigned compareB = 0;
  // --paths FILE: the attack paths (JSON when FILE ends in .json, else CSV),
  // with the picture FILE.svg beside it (the extension replaced).
  bool paths = false;
  std::string pathsPath;
  std::string goal;            // --goal NAME: only the paths that reach it
  int top = 0;                 // --top K (0: all)
  double minProbability = 0.0;  // --min-probability P
  double prune = 0.01;          // --prune P: the picture's threshold
};

// kExitSolved when the options are good; kExitBadOptions with a message
// otherwise. A repeated option takes its last value.
int ParseOptions(int argc, char** argv, ProgramOptions* options, std::string* error);
void PrintUsage(std::ostream& out);

// The driver with the study, reward model, model, units, connectivity and
// event list set up exactly as for a terminating simulation of the model
// file (the built-in attack_flow when empty), in the chosen experiment with
// its overrides; its progress lines are kept off standard output. Null when
// the model cannot be set up (its problems on standard error, the driver's
// exit status in *exitStatus).
std::unique_ptr<SimulatorClass> BuildSimulator(const std::string& modelPath = std::string(),
                                               int* exitStatus = nullptr,
                                               const ExperimentChoice& choice = ExperimentChoice());
// Destroys it, again without progress lines.
void DestroySimulator(std::unique_ptr<SimulatorClass>& sim);

// Writes with `write` to the named file (replaced whole, or left as it was
// on failure), or to out for "-"; false with a message on err naming `what`
// when it cannot be written.
bool WriteOutput(const std::string& path, const char* what,
                 const std::function<void(std::ostream&)>& write, std::ostream& out,
                 std::ostream& err);

// Ranks the exact paths of the tally as the options ask and writes them: the
// paths file, its picture and the terminal table on out (on err when
// standard output carries a file: stdoutTaken, or the paths file "-").
// kExitBadOptions for a goal the model does not have, kExitUnsolvable when
// a file cannot be written.
int WritePaths(const ProgramOptions& options, const PathTally& tally, std::ostream& out,
               std::ostream& err, bool stdoutTaken);

// The whole program; returns the exit status.
int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace solver

#endif
