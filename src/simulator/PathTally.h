// PathTally: the distinct attack paths of a run with their weights (one per
// replication in a simulation, the probability in the exact solver) and the
// weighted means of their firing times, costs, detection probabilities and
// goal times, written as a tab-separated file from which the tallies of
// several simulators can be merged (weights add, means are weighted).
//
// File: a line "#paths<TAB>1<TAB>weight<TAB>W" (W the total weight), a line
// "#goals" followed by the goal names, then one line per path:
//   weight, mean cost, mean detection, entries (blank-separated; "-" for
//   none), mean firing times (blank-separated), and per goal
//   "weight reaching it:mean time".
#ifndef TARVEX_SIMULATOR_PATHTALLY_H
#define TARVEX_SIMULATOR_PATHTALLY_H

#include <iosfwd>
#include <string>
#include <vector>

#include "simulator/PathTracker.h"

class BaseActionClass;

class PathTally {
 public:
  // Follows the model of the given actions; false with the reason when it
  // has no steps (see PathTracker::Build).
  bool Build(BaseActionClass* const* actions, int count, std::string* error);

  // The simulator's replication: begin in the initial state, account for
  // each firing, and count the finished path once.
  void BeginReplication() { tracker_.Begin(&walk_); }
  void Fired(const BaseActionClass* action, double time) { tracker_.Fired(&walk_, action, time); }
  void EndReplication() { Add(walk_, 1.0); }

  // Adds a finished walk with a weight.
  void Add(const PathTracker::Walk& walk, double weight);
  PathTracker& tracker() { return tracker_; }
  double TotalWeight() const { return total_; }

  // Writes the tally in the format above.
  void Write(std::ostream& out) const;
  // Writes it to the file whole (a temporary renamed into place); false
  // with the reason when that fails (the file is then left as it was).
  bool WriteFile(const std::string& path, std::string* error) const;

 private:
  struct Sum {  // weight and weighted means
    double weight = 0.0;
    double cost = 0.0;
    double detection = 0.0;
    std::vector<double> times;
    std::vector<double> goalWeight;
    std::vector<double> goalTime;
  };
  PathTracker tracker_;
  PathTracker::Walk walk_;
  std::vector<Sum> sums_;  // by prefix tree node
  std::vector<int> used_;  // nodes that ended a path, in first-seen order
  double total_ = 0.0;
};

#endif
