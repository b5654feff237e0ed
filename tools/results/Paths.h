// Attack paths as the companion programs report them: the tallies written by
// the simulator's -P (or by the exact solver, in the same form) merged,
// ranked by probability, optionally restricted to the paths that reach one
// goal, and written as CSV, JSON, a Graphviz picture and a terminal table.
#ifndef TARVEX_TOOLS_RESULTS_PATHS_H
#define TARVEX_TOOLS_RESULTS_PATHS_H

#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace paths {

// One path as a tally holds it: its weight and weighted means.
struct PathSums {
  std::vector<std::string> steps;
  double weight = 0.0;
  double cost = 0.0;
  double detection = 0.0;
  std::vector<double> times;
  std::vector<double> goalWeight;
  std::vector<double> goalTime;
};

// Tallies merged: paths with the same steps add up.
struct PathSet {
  std::vector<std::string> goals;
  double total = 0.0;  // replications, or 1 for exact probabilities
  std::map<std::string, PathSums> byKey;
};

// Adds a tally (the format of src/simulator/PathTally.h) to the set. False,
// with the reason, for text that is not a tally or whose goals differ from
// the set's.
bool ReadTally(std::istream& in, PathSet* set, std::string* error);

struct RankedPath {
  std::vector<std::string> steps;
  std::vector<double> times;  // mean firing time of each entry
  double probability = 0.0;   // conditional on the goal when one is chosen
  double lower = 0.0;         // interval (equal to the probability if exact)
  double upper = 0.0;
  long long count = 0;  // replications that took it (0 for exact values)
  std::vector<std::pair<std::string, double>> goals;  // reached, mean time
  double cost = 0.0;       // mean cost spent
  double detection = 0.0;  // mean probability of being detected
};

// What to report and how.
struct Selection {
  std::string goal;           // only the paths reaching it; empty: all
  int top = 0;                // at most this many (0: all)
  double minProbability = 0.0;
  double confidence = 0.95;   // of the Wilson intervals (simulated paths)
};

struct PathReport {
  bool exact = false;
  double total = 0.0;  // replications (or 1)
  std::string goal;
  double goalProbability = 1.0;  // of reaching the goal (1 without one)
  double confidence = 0.95;
  std::size_t distinct = 0;  // paths before --top and --min-probability
  std::vector<RankedPath> paths;
  // The decision the adversary takes first, with its probability, most
  // likely first (over all paths of the selection).
  std::vector<std::pair<std::string, double>> firstDecisions;
};

// Ranks the set's paths (most likely first, ties by their steps). False,
// with the reason, when the goal is not one of the set's.
bool Rank(const PathSet& set, bool exact, const Selection& selection, PathReport* report,
          std::string* error);

// Wilson score interval for k successes in n trials at the given two-sided
// confidence.
std::pair<double, double> WilsonInterval(double k, double n, double confidence);

// Header "rank,probability,lower,upper,count,steps,times,goals,cost,detection";
// steps joined by " > ", times by blanks, goals as "NAME@time".
void WriteCsv(std::ostream& out, const PathReport& report);
void WriteJson(std::ostream& out, const PathReport& report);
// The ten most likely paths and the first decisions, for a terminal.
void WriteTerminal(std::ostream& out, const PathReport& report, int rows = 10);
// A Graphviz graph of the adversary's progress: nodes are path prefixes,
// edges steps, thicker the more likely; prefixes less likely than
// threshold are left out and chains without a branch drawn as one edge.
void WriteDot(std::ostream& out, const PathReport& report, double threshold);
// Runs `dot -Tsvg` on the DOT text into svgPath. False with a one-line
// reason when dot is missing or fails (the caller reports it and goes on).
bool RenderSvg(const std::string& dotText, const std::string& svgPath, std::string* reason);

}  // namespace paths

#endif
