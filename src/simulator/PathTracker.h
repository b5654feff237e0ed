// PathTracker: follows the adversary's attack path through one run. A path
// is the sequence of outcome steps fired up to the end of the run, each with
// its firing time; a stretch in which the adversary only takes a do-nothing
// decision (one outcome that leaves the state as it was) is one entry,
// "idle". With the path go the goals reached and when, the cost spent (the
// costs of the decisions taken) and the probability of having been detected
// at least once, 1 - prod(1 - detection of each fired step), the idle
// stretch left out (doing nothing is no attempt).
//
// Paths are kept as a prefix tree: a path prefix is a node, so a walk carries
// one number for its identity. The simulator's tally and the exact solver
// share this class; the solver keeps one walk per branch.
#ifndef TARVEX_SIMULATOR_PATHTRACKER_H
#define TARVEX_SIMULATOR_PATHTRACKER_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class BaseActionClass;
class KORVELModel;

class PathTracker {
 public:
  // Where one run's path stands.
  struct Walk {
    int node = 0;             // the prefix tree node of the path so far
    double cost = 0.0;        // sum of the costs of the decisions taken
    double undetected = 1.0;  // probability of not having been detected
    std::vector<double> times;      // firing time of each entry
    std::vector<double> goalTimes;  // per goal: when first reached, -1 if not
    std::vector<double> pending;    // the taken decision's outcome detections
    std::string image;              // the state right after the last step
  };

  // Finds the formalism model among the actions and names its steps. False,
  // with the reason, when there is no outcome step to follow.
  bool Build(BaseActionClass* const* actions, int count, std::string* error);
  // A walk at the start of a run, in the model's current (initial) state.
  void Begin(Walk* walk) const;
  // Accounts for the firing of an action at the given time: a decision adds
  // its cost, a step extends the path. Other actions change nothing.
  void Fired(Walk* walk, const BaseActionClass* action, double time);
  // Merges b (weight wb) into a (weight wa), which lie on the same node:
  // the numbers become weighted means.
  static void Merge(Walk* a, double wa, const Walk& b, double wb);

  // The names of the entries of a node, first to last ("idle" for the
  // do-nothing stretch; "Decision:Outcome", or "Decision" for a decision
  // with one outcome).
  std::vector<std::string> Entries(int node) const;
  int NumGoals() const { return static_cast<int>(goalNames_.size()); }
  const std::vector<std::string>& GoalNames() const { return goalNames_; }
  static const char* IdleName() { return "idle"; }

 private:
  struct Info {
    bool decision = false;  // a decision action (else an outcome step)
    int index = 0;          // decision index
    int outcome = 0;        // step: its outcome within the decision
    int entry = 0;          // step: its entry id
    bool alone = false;     // step: the decision's only outcome
  };
  int Child(int node, int entry);

  KORVELModel* model_ = nullptr;
  std::unordered_map<const BaseActionClass*, Info> info_;
  std::vector<std::string> entryNames_;  // by entry id; the last is idle
  int idleEntry_ = 0;
  std::vector<std::string> goalNames_;
  std::vector<int> parent_ = {-1};  // prefix tree, node 0 is the empty path
  std::vector<int> entry_ = {-1};
  std::unordered_map<uint64_t, int> children_;
  std::string scratch_;
};

#endif
