#include "simmgr/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "simmgr/Experiments.h"

namespace simmgr {

namespace {

const unsigned long long kSeedModulus = 2147483647ull;  // 2^31 - 1, prime
const unsigned long long kSeedStep = 1000003ull;
const int kMostJobs = 256;

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseReal(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Walks "--name value" and "--name=value" options.
class OptionWalker {
 public:
  explicit OptionWalker(const std::vector<std::string>& args) : Args(args) {}

  bool Done() const { return At >= Args.size(); }
  const std::string& Peek() const { return Args[At]; }
  // Takes the next word and splits off "=value".
  void Take(std::string* name, std::string* inlineValue, bool* hasInline) {
    const std::string& word = Args[At++];
    const size_t eq = word.find('=');
    *hasInline = word.compare(0, 2, "--") == 0 && eq != std::string::npos;
    *name = *hasInline ? word.substr(0, eq) : word;
    *inlineValue = *hasInline ? word.substr(eq + 1) : std::string();
  }
  bool Value(const std::string& name, const std::string& inlineValue, bool hasInline, std::string* value,
             std::string* error) {
    if (hasInline) {
      *value = inlineValue;
      return true;
    }
    if (At >= Args.size()) {
      *error = "option " + name + " needs a value";
      return false;
    }
    *value = Args[At++];
    return true;
  }
  std::vector<std::string> Rest() {
    std::vector<std::string> rest(Args.begin() + static_cast<long>(At), Args.end());
    At = Args.size();
    return rest;
  }

 private:
  const std::vector<std::string>& Args;
  size_t At = 0;
};

// --model, shared by both commands. Returns 1 when the name was it (0: not
// it; -1: no value, *error set).
int ParseModelOption(OptionWalker& w, const std::string& name, const std::string& inlineValue,
                     bool hasInline, std::string* model, std::string* error) {
  if (name != "--model") return 0;
  std::string value;
  if (!w.Value(name, inlineValue, hasInline, &value, error)) return -1;
  if (value.empty()) {
    *error = "--model needs a model file or the name of a model, such as " + std::string(ModelCatalogue::kDefaultModel);
    return -1;
  }
  *model = ModelCatalogue::Resolve(value);
  return 1;
}

// Options shared by both commands. Returns 1 when the name was one of them
// (0: not one of them; -1: bad value, *error set).
int ParseIntervalOption(OptionWalker& w, const std::string& name, const std::string& inlineValue,
                        bool hasInline, IntervalSettings* interval, std::string* exact, std::string* out,
                        std::string* error) {
  std::string value;
  if (name == "--bonferroni") {
    if (hasInline) {
      *error = "option --bonferroni takes no value";
      return -1;
    }
    interval->bonferroni = true;
    return 1;
  }
  if (name != "--confidence" && name != "--exact" && name != "--out") return 0;
  if (!w.Value(name, inlineValue, hasInline, &value, error)) return -1;
  if (name == "--confidence") {
    double c = 0;
    if (!ParseReal(value, &c) || !(c > 0.0 && c < 1.0)) {
      *error = "--confidence must be a number between 0 and 1 (exclusive), not '" + value + "'";
      return -1;
    }
    interval->confidence = c;
  } else if (name == "--exact") {
    if (value.empty()) {
      *error = "--exact needs a file name";
      return -1;
    }
    *exact = value;
  } else {
    if (value.empty()) {
      *error = "--out needs a directory name";
      return -1;
    }
    *out = value;
  }
  return 1;
}

// The simulator options that may be passed through, and what they set.
bool CheckSimulatorArguments(StudyOptions* o, std::string* error) {
  const std::vector<std::string>& args = o->simulatorArgs;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') {
      *error = "simulator option '" + a + "' is not an option (they look like -n 500 or -n500)";
      return false;
    }
    const char letter = a[1];
    std::string value;
    bool hasValue = false;
    if (a.size() > 2) {
      value = a.substr(2);
      hasValue = true;
    } else if (i + 1 < args.size() && args[i + 1].compare(0, 1, "-") != 0) {
      value = args[++i];
      hasValue = true;
    }
    long long v = 0;
    switch (letter) {
      case 'n':
        if (!hasValue || !ParseInteger(value, 1, 1000000, &v)) {
          *error = "simulator option -n needs a report size between 1 and 1000000";
          return false;
        }
        o->reportSize = v;
        break;
      case 'e':
        if (!hasValue || !ParseInteger(value, 0, 32767, &v)) {
          *error = "simulator option -e needs an experiment number between 0 and 32767";
          return false;
        }
        o->experiment = static_cast<int>(v);
        break;
      case 'r':
        if (!hasValue || !ParseInteger(value, 0, 2, &v)) {
          *error = "simulator option -r needs a generator number 0, 1 or 2";
          return false;
        }
        break;
      case 'N':
        if (!hasValue || !ParseInteger(value, 0, 2147483647, &v)) {
          *error = "simulator option -N needs a replication count";
          return false;
        }
        break;
      case 't':
        if (!hasValue || !ParseInteger(value, 0, 1, &v)) {
          *error = "simulator option -t needs 0 or 1";
          return false;
        }
        break;
      case 'O':
        if (!hasValue) {
          *error = "simulator option -O needs an override text";
          return false;
        }
        break;
      case 'R':
        if (hasValue) {
          *error = "simulator option -R takes no value";
          return false;
        }
        break;
      case 'M':
        *error = "simulator option -M is set by simmgr: give the model with --model FILE";
        return false;
      case 'c':
      case 'p':
      case 's':
      case 'w':
        *error = std::string("simulator option -") + letter +
                 " is set by simmgr for each simulator (use --seed and --port)";
        return false;
      case 'H':
        *error = "simulator option -H is set by simmgr: its simulators listen on the loopback "
                 "interface only";
        return false;
      case 'a':
      case 'b':
        *error = std::string("simulator option -") + letter +
                 " would make every simulator write the same file; use --bin-dir DIR";
        return false;
      case 'f':
      case 'l':
      case 'm':
      case 'x':
        *error = std::string("simulator option -") + letter +
                 " (tracing) is meant for single runs of the simulator, not for a study";
        return false;
      default:
        *error = "unknown simulator option '" + a + "'";
        return false;
    }
  }
  return true;
}

}  // namespace

uint32_t SimulatorSeed(unsigned long long base, int index) {
  const unsigned long long i = static_cast<unsigned long long>(index < 0 ? 0 : index);
  unsigned long long s = (base % kSeedModulus + (i * kSeedStep) % kSeedModulus) % kSeedModulus;
  if (s == 0) s = kSeedModulus;
  return static_cast<uint32_t>(s);
}

int SimulatorExperiment(const StudyOptions& o, int index) {
  if (o.compareA < 0) return o.experiment;
  return index < o.jobs / 2 ? o.compareA : o.compareB;
}

int SeedIndex(const StudyOptions& o, int index) {
  return o.compareA < 0 || o.jobs < 2 ? index : index % (o.jobs / 2);
}

std::string SimulatorBinFile(const StudyOptions& o, int index) {
  return o.binDir + "/sim_" + std::to_string(index) + ".bin";
}

std::string SimulatorPathsFile(const StudyOptions& o, int index) {
  return o.out + "/paths_" + std::to_string(index) + ".tsv";
}

std::vector<std::string> SimulatorArguments(const StudyOptions& o, int index) {
  // On the loopback interface only: simmgr connects from this machine, and
  // nothing else should reach the port.
  std::vector<std::string> args = {"-w",
                                   "-H",
                                   "127.0.0.1",
                                   "-p",
                                   std::to_string(o.port + index),
                                   "-c",
                                   std::to_string(index),
                                   "-s",
                                   std::to_string(SimulatorSeed(o.seed, SeedIndex(o, index))),
                                   "-n",
                                   std::to_string(o.reportSize)};
  if (o.model != ModelCatalogue::kDefaultModel) {
    args.push_back("-M");
    args.push_back(o.model);
  }
  if (!o.binDir.empty()) {
    args.push_back("-b");
    args.push_back(SimulatorBinFile(o, index));
  }
  if (o.compareA >= 0) {
    // Paired simulators restart their streams at every replication, so
    // that replication k of A and of B begin from the same random numbers.
    args.push_back("-e");
    args.push_back(std::to_string(SimulatorExperiment(o, index)));
    args.push_back("-R");
  }
  if (o.paths.enabled) {
    args.push_back("-P");
    args.push_back(SimulatorPathsFile(o, index));
  }
  // Passed through last: the simulator takes the last of a repeated option,
  // and simmgr has read the same values from them.
  args.insert(args.end(), o.simulatorArgs.begin(), o.simulatorArgs.end());
  return args;
}

ParseOutcome ParseStudyOptions(const std::vector<std::string>& args, StudyOptions* o, std::string* error) {
  OptionWalker w(args);
  while (!w.Done()) {
    if (w.Peek() == "--") {
      std::vector<std::string> rest = w.Rest();
      o->simulatorArgs.assign(rest.begin() + 1, rest.end());
      break;
    }
    std::string name, inlineValue, value;
    bool hasInline = false;
    w.Take(&name, &inlineValue, &hasInline);
    if (name == "--help" || name == "-h") return ParseOutcome::kHelp;
    int shared = ParseModelOption(w, name, inlineValue, hasInline, &o->model, error);
    if (shared == 0)
      shared = ParseIntervalOption(w, name, inlineValue, hasInline, &o->interval, &o->exact, &o->out, error);
    if (shared < 0) return ParseOutcome::kError;
    if (shared > 0) continue;
    if (name == "--quiet") {
      o->progress = false;
      continue;
    }
    if (name == "--compare") {
      // Two experiment numbers follow.
      for (int* target : {&o->compareA, &o->compareB}) {
        long long v = 0;
        if (hasInline || w.Done() || !ParseInteger(w.Peek(), 0, 32767, &v) ||
            w.Peek().find_first_not_of("0123456789") != std::string::npos) {
          *error = "--compare needs two experiment numbers, such as --compare 0 1";
          return ParseOutcome::kError;
        }
        std::string word, ignored;
        bool inlined = false;
        w.Take(&word, &ignored, &inlined);
        *target = static_cast<int>(v);
      }
      continue;
    }
    if (name == "--paths") {
      o->paths.enabled = true;
      continue;
    }
    const bool known = name == "--jobs" || name == "--seed" || name == "--half-width" ||
                       name == "--relative" || name == "--max" || name == "--simulator" ||
                       name == "--port" || name == "--bin-dir" || name == "--start-timeout" ||
                       name == "--stall-warning" || name == "--drop-stalled" ||
                       name == "--experiments" || name == "--goal" || name == "--top" ||
                       name == "--min-probability" || name == "--prune" || name == "--plot-pv" ||
                       name == "--sweep" || name == "--sweep-time";
    if (!known) {
      *error = "unknown option '" + name + "'";
      if (name.compare(0, 1, "-") != 0) *error = "unexpected argument '" + name + "'";
      if (name.size() == 2 && name[0] == '-')
        *error += " (simulator options go after --, e.g. simmgr -- -n 500)";
      return ParseOutcome::kError;
    }
    if (!w.Value(name, inlineValue, hasInline, &value, error)) return ParseOutcome::kError;
    long long v = 0;
    double d = 0;
    if (name == "--jobs") {
      if (!ParseInteger(value, 1, kMostJobs, &v)) {
        *error = "--jobs must be a whole number from 1 to " + std::to_string(kMostJobs) + ", not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->jobs = static_cast<int>(v);
    } else if (name == "--seed") {
      if (!ParseInteger(value, 0, 4294967295ll, &v)) {
        *error = "--seed must be a whole number from 0 to 4294967295, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->seed = static_cast<unsigned long long>(v);
    } else if (name == "--half-width") {
      if (!ParseReal(value, &d) || !(d > 0.0)) {
        *error = "--half-width must be a positive number, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->interval.halfWidth = d;
    } else if (name == "--relative") {
      if (!ParseReal(value, &d) || !(d > 0.0)) {
        *error = "--relative must be a positive number (e.g. 0.05 for 5%), not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->interval.relative = d;
    } else if (name == "--max") {
      if (!ParseInteger(value, 1, 1000000000000000ll, &v)) {
        *error = "--max must be a positive whole number of replications, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->maxReplications = v;
    } else if (name == "--simulator") {
      if (value.empty()) {
        *error = "--simulator needs a program";
        return ParseOutcome::kError;
      }
      o->simulator = value;
    } else if (name == "--port") {
      if (!ParseInteger(value, 1, 65535, &v)) {
        *error = "--port must be a port number from 1 to 65535, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->port = static_cast<int>(v);
    } else if (name == "--goal") {
      if (value.empty()) {
        *error = "--goal needs a goal's name";
        return ParseOutcome::kError;
      }
      o->paths.goal = value;
    } else if (name == "--top") {
      if (!ParseInteger(value, 1, 1000000000ll, &v)) {
        *error = "--top must be a positive whole number of paths, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->paths.top = static_cast<int>(v);
    } else if (name == "--min-probability" || name == "--prune") {
      if (!ParseReal(value, &d) || !(d >= 0.0 && d <= 1.0)) {
        *error = name + " must be a probability from 0 to 1, not '" + value + "'";
        return ParseOutcome::kError;
      }
      (name == "--prune" ? o->paths.prune : o->paths.minProbability) = d;
    } else if (name == "--experiments") {
      if (!CheckExperimentList(value, error)) return ParseOutcome::kError;
      o->experiments = value;
    } else if (name == "--plot-pv" || name == "--sweep") {
      if (value.empty()) {
        *error = name + " needs a name";
        return ParseOutcome::kError;
      }
      (name == "--plot-pv" ? o->plotPv : o->sweepGlobal) = value;
    } else if (name == "--sweep-time") {
      if (!ParseReal(value, &d)) {
        *error = "--sweep-time must be a number (an instant of the plotted variable), not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->sweepTime = d;
      o->sweepTimeGiven = true;
    } else if (name == "--bin-dir") {
      if (value.empty()) {
        *error = "--bin-dir needs a directory name";
        return ParseOutcome::kError;
      }
      o->binDir = value;
    } else if (name == "--start-timeout") {
      if (!ParseReal(value, &d) || !(d > 0.0) || d > 86400.0) {
        *error = "--start-timeout must be a positive number of seconds, not '" + value + "'";
        return ParseOutcome::kError;
      }
      o->startTimeout = d;
    } else if (name == "--stall-warning" || name == "--drop-stalled") {
      if (!ParseReal(value, &d) || !(d > 0.0) || d > 86400.0) {
        *error = name + " must be a positive number of seconds, not '" + value + "'";
        return ParseOutcome::kError;
      }
      (name == "--stall-warning" ? o->stallWarning : o->dropStalled) = d;
    }
  }
  if (!CheckSimulatorArguments(o, error)) return ParseOutcome::kError;
  if (!o->paths.enabled && (!o->paths.goal.empty() || o->paths.top > 0 || o->paths.minProbability > 0.0)) {
    *error = "--goal, --top and --min-probability select attack paths: give --paths";
    return ParseOutcome::kError;
  }
  if (o->experiments.empty() && (!o->plotPv.empty() || !o->sweepGlobal.empty() || o->sweepTimeGiven)) {
    *error = "--plot-pv, --sweep and --sweep-time choose the plots of --experiments; give that too";
    return ParseOutcome::kError;
  }
  if (!o->experiments.empty()) {
    // Each experiment sets -e itself, and exact values belong to one of them.
    for (const std::string& a : o->simulatorArgs)
      if (a.compare(0, 2, "-e") == 0) {
        *error = "--experiments sets -e for each experiment; give no -e after --";
        return ParseOutcome::kError;
      }
    if (!o->exact.empty()) {
      *error = "--exact compares one study with exact values; it cannot go with --experiments";
      return ParseOutcome::kError;
    }
  }
  if (o->compareA >= 0) {
    // The comparison sets -e (and -R) for each simulator; exact values and a
    // series of experiments belong to single studies.
    const char* clash = !o->experiments.empty() ? "--experiments" : !o->exact.empty() ? "--exact" : nullptr;
    if (clash) {
      *error = std::string("--compare runs two experiments side by side; it cannot go with ") + clash;
      return ParseOutcome::kError;
    }
    for (const std::string& a : o->simulatorArgs)
      if (a.compare(0, 2, "-e") == 0) {
        *error = "--compare sets -e for each simulator; give no -e after --";
        return ParseOutcome::kError;
      }
  }
  return ParseOutcome::kRun;
}

ParseOutcome ParseSummarizeOptions(const std::vector<std::string>& args, SummarizeOptions* o,
                                   std::string* error) {
  OptionWalker w(args);
  while (!w.Done()) {
    if (w.Peek() == "--") {
      std::vector<std::string> rest = w.Rest();
      o->files.insert(o->files.end(), rest.begin() + 1, rest.end());
      break;
    }
    std::string name, inlineValue;
    bool hasInline = false;
    w.Take(&name, &inlineValue, &hasInline);
    if (name == "--help" || name == "-h") return ParseOutcome::kHelp;
    if (name.compare(0, 1, "-") != 0 || name == "-") {
      o->files.push_back(name);
      continue;
    }
    int shared = ParseModelOption(w, name, inlineValue, hasInline, &o->model, error);
    if (shared == 0)
      shared = ParseIntervalOption(w, name, inlineValue, hasInline, &o->interval, &o->exact, &o->out, error);
    if (shared < 0) return ParseOutcome::kError;
    if (shared == 0) {
      *error = "unknown option '" + name + "' for summarize";
      return ParseOutcome::kError;
    }
  }
  if (o->files.empty()) {
    *error = "summarize needs at least one binary result file";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

std::string StudyUsage() {
  return
      "Usage: simmgr [options] [-- simulator options]\n"
      "       simmgr summarize [options] FILE.bin...\n"
      "\n"
      "Runs a study of a model (the built-in attack_flow, or a model file given with\n"
      "--model): launches simulators, collects their observations over TCP and\n"
      "stops them when every node's confidence interval is narrow enough, then\n"
      "writes OUT/results.csv, OUT/results.json and OUT/plot.svg (with gnuplot) and\n"
      "prints the results on standard output.\n"
      "\n"
      "Options:\n"
      "  --model M          the model: attack_flow (built in, the default) or a model\n"
      "                     file, which every simulator then runs (-M)\n"
      "  --jobs P           simulators to run at once (default: one per processor core)\n"
      "  --seed S           base seed (default 31415); simulator i gets\n"
      "                     (S + i*1000003) mod (2^31-1), 0 replaced by 2^31-1\n"
      "  --half-width H     target half-width of every interval (default 0.005)\n"
      "  --relative R       target half-width R*|mean| instead; nodes whose mean is 0\n"
      "                     keep the absolute target H\n"
      "  --confidence C     confidence level (default 0.95)\n"
      "  --bonferroni       simultaneous level C over all nodes (each node 1-(1-C)/nodes)\n"
      "  --max N            stop after N replications in all (default 1000000)\n"
      "  --out DIR          where the results go (default results)\n"
      "  --exact FILE       compare with exact values (a results CSV)\n"
      "  --simulator PATH   simulator program (default: attack_flow_sim beside simmgr)\n"
      "  --port P           port hint of simulator 0; simulator i tries P+i upwards\n"
      "                     (default 10000)\n"
      "  --bin-dir DIR      each simulator also writes DIR/sim_<i>.bin (one study at a\n"
      "                     time: the study locks DIR/.simmgr.lock)\n"
      "  --start-timeout T  seconds a simulator has to announce its port (default 30)\n"
      "  --stall-warning T  warn when the study has waited T seconds for a packet of\n"
      "                     a simulator (default 10)\n"
      "  --drop-stalled T   drop (and stop) a simulator the study has waited T seconds\n"
      "                     for; the study goes on with the others (default: never)\n"
      "  --experiments E    run experiments of the model's study in turn, each a full\n"
      "                     study with the same seeds: all, or a list such as 0,3-5;\n"
      "                     writes OUT/<N>/ for each and OUT/experiments.csv\n"
      "  --compare A B      compare experiments A and B of the model's study with\n"
      "                     common random numbers: paired differences B - A per node,\n"
      "                     run until every difference's interval is within the target;\n"
      "                     writes OUT/compare.csv, OUT/<A>/ and OUT/<B>/\n"
      "  --paths            tally the attack paths: OUT/paths.csv, OUT/paths.json and\n"
      "                     OUT/paths.svg (with Graphviz dot), the ten most likely\n"
      "                     on standard output\n"
      "  --goal NAME        with --paths: only the paths reaching goal NAME, their\n"
      "                     probabilities given that it is reached\n"
      "  --top K, --min-probability P\n"
      "                     with --paths: at most K paths, none below P\n"
      "  --prune P          leave path prefixes below P out of the picture (0.01)\n"
      "  --plot-pv NAME     the variable of OUT/experiments.svg and OUT/sweep.svg\n"
      "                     (default: the model's first)\n"
      "  --sweep GLOBAL     the global variable of OUT/sweep.svg (default: the first\n"
      "                     one that a chosen experiment varies)\n"
      "  --sweep-time T     the instant of OUT/sweep.svg (default: the last)\n"
      "  --quiet            no progress on standard error\n"
      "  --help             this text\n"
      "\n"
      "Simulator options after -- are passed to every simulator: -n SIZE (report\n"
      "size, default 200), -r GEN, -e EXP, -N REPS, -O TEXT, -t 1, -R.\n"
      "\n"
      "Reproducibility: observations are counted in rounds; round k is the k-th\n"
      "packet (-n replications) of every simulator, and the stopping rule is only\n"
      "checked after whole rounds, so the same --seed, --jobs and -n give the same\n"
      "numbers however fast each simulator runs. Packets beyond the last counted\n"
      "round are discarded.\n"
      "\n"
      "Exit codes: 0 done; 1 failure (no simulator left, none could start; a model\n"
      "file with problems, --out or --bin-dir not writable or the bin directory in\n"
      "use, all found before any simulator starts; results or standard output not\n"
      "writable); 2 bad options (also an experiment outside the model's study);\n"
      "130 / 143 interrupted by SIGINT / SIGTERM (results so far written, marked\n"
      "incomplete).\n";
}

std::string SummarizeUsage() {
  return
      "Usage: simmgr summarize [options] FILE.bin...\n"
      "\n"
      "Computes the study's statistics from binary result files written by\n"
      "attack_flow_sim -b, for instance on several machines. Record k of every file\n"
      "forms round k, counted in the order of the files, as in a live study.\n"
      "Each file's records must hold the replications its header counts (BATCHES=);\n"
      "a file given twice (under any name) and a second file of the same client and\n"
      "seed are left out.\n"
      "\n"
      "Options:\n"
      "  --model M        the model the files' simulators ran: attack_flow (built in,\n"
      "                   the default) or a model file\n"
      "  --confidence C   confidence level (default 0.95)\n"
      "  --bonferroni     simultaneous level over all nodes\n"
      "  --out DIR        where the results go (default results)\n"
      "  --exact FILE     compare with exact values (a results CSV)\n"
      "  --help           this text\n"
      "\n"
      "Exit codes: 0 done; 1 the model file has problems, a file could not be read\n"
      "whole, disagrees with its header or was left out (the rest is still\n"
      "summarised, marked incomplete), no replications at all, or results or\n"
      "standard output not writable; 2 bad options.\n";
}

}  // namespace simmgr
