// Command lines of simmgr: the live study (the default command) and
// `simmgr summarize`.
#ifndef TARVEX_TOOLS_SIMMGR_OPTIONS_H
#define TARVEX_TOOLS_SIMMGR_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "results/ModelLayout.h"
#include "simmgr/Statistics.h"

namespace simmgr {

// --paths: each simulator tallies its attack paths (-P), merged after the
// study into OUT/paths.csv, OUT/paths.json and OUT/paths.svg.
struct PathOptions {
  bool enabled = false;
  std::string goal;             // --goal NAME: only the paths that reach it
  int top = 0;                  // --top K (0: all)
  double minProbability = 0.0;  // --min-probability P
  double prune = 0.01;          // --prune P: the picture's threshold
};

struct StudyOptions {
  std::string model = ModelCatalogue::kDefaultModel;     // the model the simulators run, or a model file
  int jobs = 0;                          // 0: one per processor core
  unsigned long long seed = 31415;       // base seed
  IntervalSettings interval;
  long long maxReplications = 1000000;   // total over all simulators
  std::string out = "results";
  std::string exact;                     // CSV of exact values to compare with
  std::string simulator;                 // "": attack_flow_sim beside simmgr
  int port = 10000;                      // first port hint
  std::string binDir;                    // each simulator also writes DIR/sim_<i>.bin
  double startTimeout = 30.0;            // seconds to announce the port and greet
  double stallWarning = 10.0;            // seconds waited for a packet before a warning
  double dropStalled = 0.0;              // > 0: seconds waited before dropping
  bool progress = true;
  long long reportSize = 200;            // -n given to the simulators
  int experiment = 0;                    // -e given to the simulators
  std::string experiments;               // --experiments: "all" or a list; "": one study
  int compareA = -1;                     // --compare A B; -1: no comparison
  int compareB = -1;
  std::string plotPv;                    // --plot-pv: the PV of the experiment plots ("": the first)
  std::string sweepGlobal;               // --sweep: the swept global ("": the first one varied)
  bool sweepTimeGiven = false;           // --sweep-time given
  double sweepTime = 0.0;                // --sweep-time: the sweep plot's instant
  std::vector<std::string> simulatorArgs;  // passed through (after --)
  PathOptions paths;
};

struct SummarizeOptions {
  std::string model = ModelCatalogue::kDefaultModel;  // the model the files' simulators ran
  IntervalSettings interval;
  std::string exact;
  std::string out = "results";
  std::vector<std::string> files;
};

enum class ParseOutcome { kRun, kHelp, kError };

// args excludes the program name (and, for summarize, the word summarize).
ParseOutcome ParseStudyOptions(const std::vector<std::string>& args, StudyOptions* options,
                               std::string* error);
ParseOutcome ParseSummarizeOptions(const std::vector<std::string>& args, SummarizeOptions* options,
                                   std::string* error);
std::string StudyUsage();
std::string SummarizeUsage();

// The seed of simulator i: (base + i × 1000003) mod (2^31 - 1), with 0
// replaced by 2^31 - 1. 2^31 - 1 is prime, so the seeds of up to 2147
// simulators are distinct; all are non-zero and below 2^31.
uint32_t SimulatorSeed(unsigned long long base, int index);

// With --compare the study runs `jobs` simulators, the first half of them
// experiment A, the second half B; simulator j of A and simulator j of B
// (index jobs/2 + j) share a seed. The experiment simulator i runs, and the
// index its seed is derived from (i itself without --compare).
int SimulatorExperiment(const StudyOptions& options, int index);
int SeedIndex(const StudyOptions& options, int index);
// OUT/paths_<i>.tsv: the path tally of simulator i (with --paths).
std::string SimulatorPathsFile(const StudyOptions& options, int index);

// DIR/sim_<i>.bin: the binary result file of simulator i (with --bin-dir).
std::string SimulatorBinFile(const StudyOptions& options, int index);

// The simulator's command line for simulator i (without the program name).
std::vector<std::string> SimulatorArguments(const StudyOptions& options, int index);

}  // namespace simmgr

#endif
