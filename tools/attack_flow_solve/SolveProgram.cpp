#include "attack_flow_solve/SolveProgram.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <vector>

#include "attack_flow_solve/CompareExact.h"
#include "attack_flow_solve/ExactSolver.h"
#include "model/ModelCatalogue.h"
#include "results/FileOutput.h"
#include "results/Paths.h"
#include "results/Results.h"
#include "simulator/PathTally.h"
#include "simulator/SimulatorClass.h"

namespace solver {

namespace {

const char kProgram[] = "attack_flow_solve";

// Swallows everything written to it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Keeps standard output quiet while it lives.
class QuietStandardOutput {
 public:
  QuietStandardOutput() : saved_(std::cout.rdbuf(&null_)) {}
  ~QuietStandardOutput() { std::cout.rdbuf(saved_); }
  QuietStandardOutput(const QuietStandardOutput&) = delete;
  QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

 private:
  NullBuffer null_;
  std::streambuf* saved_;
};

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Whether the chosen experiment lies outside the study of the model (one
// with global variables; without them the number only labels a run).
bool experimentOutsideStudy(const ProgramOptions& options) {
  std::ostringstream ignored;
  std::unique_ptr<BaseStudyClass> study = ModelCatalogue::OpenStudy(
      options.modelPath.empty() ? ModelCatalogue::kDefaultModel : options.modelPath, ignored);
  return study && study->GetNumGVs() > 0 &&
         options.choice.experiment >= static_cast<unsigned>(study->GetNumExps());
}

}  // namespace

bool WriteOutput(const std::string& path, const char* what,
                 const std::function<void(std::ostream&)>& write, std::ostream& out,
                 std::ostream& err) {
  if (path == "-") {
    write(out);
    if (FlushSucceeded(out)) return true;
    err << kProgram << ": cannot write the " << what << " to standard output" << std::endl;
    return false;
  }
  std::ostringstream text;
  write(text);
  std::string error;
  if (!ReplaceFile(path, text.str(), &error)) {
    err << kProgram << ": cannot write the " << what << " file: " << error << std::endl;
    return false;
  }
  return true;
}

int WritePaths(const ProgramOptions& options, const PathTally& tally, std::ostream& out,
               std::ostream& err, bool stdoutTaken) {
  // The exact tally goes through the same text as a simulator's.
  std::stringstream text;
  tally.Write(text);
  paths::PathSet set;
  paths::PathReport report;
  paths::Selection selection;
  selection.goal = options.goal;
  selection.top = options.top;
  selection.minProbability = options.minProbability;
  std::string error;
  if (!paths::ReadTally(text, &set, &error) || !paths::Rank(set, true, selection, &report, &error)) {
    err << kProgram << ": " << error << std::endl;
    return kExitBadOptions;
  }
  const std::string& path = options.pathsPath;
  const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
  bool ok = WriteOutput(path, "paths",
                         [&](std::ostream& o) {
                           if (json)
                             paths::WriteJson(o, report);
                           else
                             paths::WriteCsv(o, report);
                         },
                         out, err);
  // The table and the picture's line stay off a file written to standard
  // output.
  std::ostream& table = stdoutTaken || path == "-" ? err : out;
  paths::WriteTerminal(table, report);
  if (path != "-") {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
    std::ostringstream graph;
    paths::WriteDot(graph, report, options.prune);
    std::string reason;
    if (paths::RenderSvg(graph.str(), stem + ".svg", &reason))
      table << "Picture: " << stem << ".svg\n";
    else
      table << reason << "\n";
  }
  if (!FlushSucceeded(table)) {
    err << kProgram << ": cannot write the paths to standard output" << std::endl;
    ok = false;
  }
  return ok ? kExitSolved : kExitUnsolvable;
}

void PrintUsage(std::ostream& out) {
  out << "Usage: " << kProgram
      << " [--model FILE] [-e N | --compare A B] [-O TEXT] [--csv FILE] [--json FILE]\n"
      << "       [--paths FILE [--goal NAME] [--top K] [--min-probability P] [--prune P]]\n"
      << "Computes the exact expected value and variance of every performance variable of\n"
      << "the model, at every instant and over every interval, by following every weighted\n"
      << "choice of the model (all of its delays must be deterministic or zero).\n"
      << "\n"
      << "  --model FILE  solve the model of a model file (default: the built-in attack_flow)\n"
      << "  -e, --experiment N\n"
      << "                solve experiment N of the model's study (from 0; default 0)\n"
      << "  --compare A B solve experiments A and B and write their exact difference B - A\n"
      << "                per node (columns mean_a, mean_b, difference)\n"
      << "  -O TEXT       override global variables, type:name:value:..., on top of it\n"
      << "  --csv FILE    write the results as CSV to FILE (- for standard output)\n"
      << "  --json FILE   write the results as JSON to FILE (- for standard output)\n"
      << "  --paths FILE  write every attack path with its probability, most likely first\n"
      << "                (JSON when FILE ends in .json, else CSV), draw them in FILE.svg\n"
      << "                (with Graphviz dot) and print the ten most likely\n"
      << "  --goal NAME   only the paths that reach goal NAME, with probabilities given\n"
      << "                that it is reached\n"
      << "  --top K       at most K paths; --min-probability P: none below P\n"
      << "  --prune P     leave path prefixes below probability P out of the picture\n"
      << "                (default 0.01)\n"
      << "  -h, --help    show this text\n"
      << "\n"
      << "The readable table goes to standard output unless the CSV or JSON does. The\n"
      << "number of branches explored and the time taken go to standard error.\n"
      << "A file is replaced only once it is written whole.\n"
      << "Exit status: 0 solved, 1 the model cannot be solved exactly or a file or\n"
      << "standard output cannot be written, 2 bad options (among them an experiment\n"
      << "outside the model's study).\n";
}

int ParseOptions(int argc, char** argv, ProgramOptions* options, std::string* error) {
  *options = ProgramOptions();
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i] ? argv[i] : "";
    if (arg == "-h" || arg == "--help") {
      options->help = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasValue = true;
    }
    if (name == "-e") name = "--experiment";
    if (name == "--compare") {
      // Two experiment numbers, the driver's range for each.
      for (unsigned* target : {&options->compareA, &options->compareB}) {
        const char* word = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        errno = 0;
        const unsigned long number = word ? std::strtoul(word, &end, 10) : 0;
        if (!word || !std::isdigit(static_cast<unsigned char>(word[0])) || *end != '\0' || errno != 0 ||
            number > 65535) {
          *error = "option --compare needs two experiment numbers (0 to 65535), such as --compare 0 1";
          return kExitBadOptions;
        }
        *target = static_cast<unsigned>(number);
        i++;
      }
      options->compare = true;
      continue;
    }
    const bool pathOption = name == "--paths" || name == "--goal" || name == "--top" ||
                            name == "--min-probability" || name == "--prune";
    if (name != "--csv" && name != "--json" && name != "--model" && name != "--experiment" &&
        name != "-O" && !pathOption) {
      *error = arg.size() > 1 && arg[0] == '-' ? "unknown option '" + arg + "'"
                                               : "unexpected argument '" + arg + "'";
      return kExitBadOptions;
    }
    const std::string needs =
        name == "--model"        ? "option --model needs a model file name"
        : name == "--experiment" ? "option " + arg + " needs an experiment number"
        : name == "-O"           ? "option -O needs overrides type:name:value:..."
        : name == "--goal"       ? "option --goal needs a goal's name"
        : name == "--top"        ? "option --top needs a number of paths"
        : name == "--min-probability" || name == "--prune"
            ? "option " + name + " needs a probability"
        : name == "--paths" ? "option --paths needs a file name"
                                 : "option " + name + " needs a file name (- for standard output)";
    if (!hasValue) {
      if (i + 1 >= argc || !argv[i + 1]) {
        *error = needs;
        return kExitBadOptions;
      }
      value = argv[++i];
    }
    if (value.empty()) {
      *error = needs;
      return kExitBadOptions;
    }
    if (name == "--experiment") {
      // The driver's own range for an experiment number.
      char* end = nullptr;
      errno = 0;
      const unsigned long number = std::strtoul(value.c_str(), &end, 10);
      if (!std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || errno != 0 ||
          number > 65535) {
        *error = "option " + name + ": '" + value + "' is not an experiment number (0 to 65535)";
        return kExitBadOptions;
      }
      options->choice.hasExperiment = true;
      options->choice.experiment = static_cast<unsigned>(number);
    } else if (name == "--paths") {
      options->paths = true;
      options->pathsPath = value;
    } else if (name == "--goal") {
      options->goal = value;
    } else if (name == "--top") {
      char* end = nullptr;
      errno = 0;
      const long number = std::strtol(value.c_str(), &end, 10);
      if (!std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || errno != 0 ||
          number < 1 || number > 1000000000) {
        *error = "option --top: '" + value + "' is not a number of paths (1 or more)";
        return kExitBadOptions;
      }
      options->top = static_cast<int>(number);
    } else if (name == "--min-probability" || name == "--prune") {
      char* end = nullptr;
      const double p = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(p >= 0.0 && p <= 1.0)) {
        *error = "option " + name + ": '" + value + "' is not a probability (0 to 1)";
        return kExitBadOptions;
      }
      (name == "--prune" ? options->prune : options->minProbability) = p;
    } else if (name == "-O") {
      options->choice.hasOverrides = true;
      options->choice.overrides = value;
    } else if (name == "--model") {
      options->modelPath = ModelCatalogue::Resolve(value);
    } else if (name == "--csv") {
      options->csv = true;
      options->csvPath = value;
    } else {
      options->json = true;
      options->jsonPath = value;
    }
  }
  if (options->compare && options->choice.hasExperiment) {
    *error = "--compare names both experiments; give no -e with it";
    return kExitBadOptions;
  }
  if (!options->paths && (!options->goal.empty() || options->top > 0 || options->minProbability > 0.0)) {
    *error = "options --goal, --top and --min-probability select paths: give --paths FILE";
    return kExitBadOptions;
  }
  return kExitSolved;
}

std::unique_ptr<SimulatorClass> BuildSimulator(const std::string& modelPath, int* exitStatus,
                                               const ExperimentChoice& choice) {
  // A terminating run of the chosen experiment; the replication limit only
  // gives the command line the option it must have.
  std::vector<std::string> words = {kProgram, "-N", "1"};
  if (!modelPath.empty()) {
    words.push_back("-M");
    words.push_back(modelPath);
  }
  if (choice.hasExperiment) {
    words.push_back("-e");
    words.push_back(std::to_string(choice.experiment));
  }
  if (choice.hasOverrides) {
    words.push_back("-O");
    words.push_back(choice.overrides);
  }
  std::vector<char*> args;
  for (std::string& w : words) args.push_back(&w[0]);
  args.push_back(nullptr);
  QuietStandardOutput quiet;
  int status = 0;
  std::unique_ptr<SimulatorClass> sim =
      SimulatorClass::Create(static_cast<int>(words.size()), args.data(), &status);
  if (exitStatus) *exitStatus = status;
  return sim;
}

void DestroySimulator(std::unique_ptr<SimulatorClass>& sim) {
  QuietStandardOutput quiet;
  sim.reset();
}

int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  ProgramOptions options;
  std::string error;
  if (ParseOptions(argc, argv, &options, &error) != kExitSolved) {
    err << kProgram << ": " << error << "\n"
        << "Try '" << kProgram << " --help' for more information." << std::endl;
    return kExitBadOptions;
  }
  if (options.help) {
    PrintUsage(out);
    return FlushSucceeded(out) ? kExitSolved : kExitUnsolvable;
  }
  if (options.compare) return RunComparison(options, out, err);

  int setUpStatus = 0;
  std::unique_ptr<SimulatorClass> sim =
      BuildSimulator(options.modelPath, &setUpStatus, options.choice);
  if (!sim && options.choice.hasExperiment && experimentOutsideStudy(options)) {
    // The driver has named the experiments there are: a bad option.
    return kExitBadOptions;
  }
  if (!sim) {
    // The model's own problems are already on standard error.
    err << kProgram << ": cannot set up the model " << options.modelPath << std::endl;
    return setUpStatus != 0 ? setUpStatus : kExitUnsolvable;
  }
  const double setUp = millisecondsSince(start);
  StudyResults results;
  SolveStats stats;
  bool solved;
  {
    ExactSolver exact(*sim);
    solved = exact.Solve(&results, &error);
    stats = exact.stats();
  }
  PathTally tally;
  if (solved && options.paths) {
    // A second exploration that keeps the branches of different paths
    // apart; the means above come from the first, merged one.
    SolveOptions pathOptions;
    pathOptions.paths = &tally;
    solved = tally.Build(sim->Actions, sim->NumActions, &error);
    if (solved) {
      StudyResults ignored;
      ExactSolver exact(*sim, pathOptions);
      solved = exact.Solve(&ignored, &error);
    }
  }
  const double explored = millisecondsSince(start) - setUp;
  DestroySimulator(sim);
  const double total = millisecondsSince(start);
  if (!solved) {
    err << kProgram << ": cannot solve the model exactly: " << error << std::endl;
    return kExitUnsolvable;
  }

  bool ok = true;
  if (options.csv)
    ok = WriteOutput(options.csvPath, "CSV", [&](std::ostream& o) { WriteCsv(o, results); }, out,
                      err) && ok;
  if (options.json)
    ok = WriteOutput(options.jsonPath, "JSON", [&](std::ostream& o) { WriteJson(o, results); },
                      out, err) && ok;
  bool stdoutTaken = (options.csv && options.csvPath == "-") || (options.json && options.jsonPath == "-");
  if (!stdoutTaken) {
    WriteTable(out, results);
    if (!FlushSucceeded(out)) {
      err << kProgram << ": cannot write the table to standard output" << std::endl;
      ok = false;
    }
  }
  if (options.paths) {
    const int status = WritePaths(options, tally, out, err, stdoutTaken);
    if (status == kExitBadOptions) return status;
    ok = status == kExitSolved && ok;
  }
  err << kProgram << ": " << stats.expanded << " distinct (state, schedule) branches explored ("
      << stats.successors << " successors before merging, " << stats.finished
      << " reaching the end); wall time " << std::fixed << std::setprecision(1) << total
      << " ms (model set-up " << setUp << " ms, exploration " << explored << " ms)"
      << std::defaultfloat << std::endl;
  return ok ? kExitSolved : kExitUnsolvable;
}

}  // namespace solver
