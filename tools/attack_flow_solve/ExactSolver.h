// ExactSolver: the expected value of every performance-variable node of a
// model whose delays are all deterministic or zero, computed without
// sampling.
//
// With such delays the only random choices of a run are weighted selections:
// a group choosing the member that fires (or, for a unit that draws its
// member when it is scheduled, the member whose delay then runs), and the
// event list choosing among simultaneous events of equal rank. Up to the
// end time a run is therefore a finite tree of such choices. The solver
// walks that tree with the driver's own step (Scheduler::SimStep) on the
// driver's own model, event list and connectivity lists: at each choice it
// installs a scripted uniform that
// makes the framework's selection code pick the member (or event) of one
// branch, and weighs the branch with that member's share of the total weight.
// Branches that reach the same state and schedule at the same time are
// merged, so the work grows with the number of distinct situations rather
// than with the number of paths.
#ifndef TARVEX_TOOLS_ATTACK_FLOW_SOLVE_EXACTSOLVER_H
#define TARVEX_TOOLS_ATTACK_FLOW_SOLVE_EXACTSOLVER_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "distributions/RandomNumberGenerator.h"
#include "results/Results.h"
#include "simulator/PathTracker.h"
#include "simulator/Scheduler.h"

class BaseActionClass;
class BaseGroupClass;
class BaseKORVELAction;
class PathTally;
class PerformanceVariableNode;
class PerformanceVariableWorker;
class ScheduledPreselectGroup;

namespace solver {

// A uniform generator that returns prepared values. Draws beyond the
// prepared ones return 0.5 and are counted, so that the caller can tell
// exactly how many uniforms an operation used. An observer, when set, is
// called at the start of every draw, so that the caller can tell who drew.
class ScriptedGenerator : public RandomNumberGenerator {
 public:
  double rnd() override;
  void srnd(std::uint32_t) override {}

  void Script(double u) { script_.push_back(u); }
  // Forgets unused values and zeroes the counters.
  void Reset();
  int Draws() const { return draws_; }
  int Unscripted() const { return unscripted_; }
  // Calls the given function at the start of every draw (none: empty).
  void Observe(std::function<void()> observer) { observer_ = std::move(observer); }

 private:
  std::function<void()> observer_;
  std::deque<double> script_;
  int draws_ = 0;
  int unscripted_ = 0;
};

// Installs a ScriptedGenerator as the process-wide generator for its
// lifetime. The generator it replaces is destroyed by the holder, so on
// leaving a fresh default generator (lagged Fibonacci, seed 31415, as at
// program start) is put in place.
class ScriptedDraws {
 public:
  ScriptedDraws();
  ~ScriptedDraws();
  ScriptedDraws(const ScriptedDraws&) = delete;
  ScriptedDraws& operator=(const ScriptedDraws&) = delete;
  ScriptedGenerator& generator() { return *generator_; }

 private:
  ScriptedGenerator* generator_;  // owned by the process-wide holder
};

// True when every action's delay is deterministic (2) or zero (18);
// otherwise false with a message naming the first other action.
bool CheckDelayKinds(BaseActionClass* const* actions, int count, std::string* error);
// True when sampling every action's delay draws no uniform and gives a
// finite, non-negative delay; otherwise false with a message naming the
// action. The scripted generator must be the installed one.
bool CheckDelaysDrawNothing(BaseActionClass* const* actions, int count, ScriptedGenerator& generator,
                            std::string* error);

struct SolveOptions {
  // Also key branches on hidden enabling flags and held members that
  // cannot influence the run (see ExactSolver.cpp); a check of that argument.
  bool keyAllHiddenFlags = false;
  // Limits that turn a runaway exploration into an error.
  long long maxBranches = 20000000;
  long long maxRoundsPerInstant = 100000;
  // When set, every finished branch's attack path is added to this tally
  // with the branch's probability, and only branches on the same path are
  // merged (see PathTracker). The tally must be built for the model.
  PathTally* paths = nullptr;
};

// One round of the exploration: the branches processed together at one
// event time, and the total probability of all branches (processed now,
// waiting for later times, or finished) at that moment.
struct Layer {
  double time = 0.0;
  int round = 0;  // rounds at the same time follow chains of zero delays
  long long branches = 0;
  double mass = 0.0;
};

struct SolveStats {
  long long expanded = 0;    // distinct (state, schedule) branches expanded
  long long successors = 0;  // successor branches generated, before merging
  long long finished = 0;    // successors that reached the end time or ran dry
  std::vector<Layer> layers;
  // Per node: the probability with which the node was observed (1 for every
  // node whose instant lies before the end of the run).
  std::vector<double> coverage;
};

class ExactSolver {
 public:
  // The driver's schedule; the driver must be fully set up and not run.
  explicit ExactSolver(Scheduler& sim, SolveOptions options = SolveOptions());
  ~ExactSolver();
  ExactSolver(const ExactSolver&) = delete;
  ExactSolver& operator=(const ExactSolver&) = delete;

  // Computes every node's exact mean and variance. False, with a message,
  // when the model is outside what the solver handles or the exploration
  // goes wrong; the model is left in its initial state either way.
  bool Solve(StudyResults* results, std::string* error);
  const SolveStats& stats() const { return stats_; }

 private:
  struct Snapshot;
  struct Branch;
  struct Unit;
  struct Observed;
  struct Accumulated;
  struct Accumulator;
  struct DrawLog;
  struct Pick;
  using Bucket = std::map<std::string, Branch>;

  bool Prepare(std::string* error);
  bool Explore(std::string* error);
  bool Expand(const Branch& branch, double time, std::map<double, Bucket>& pending,
              std::string* error);
  // Fires one (event, member) choice of the branch and files the successors:
  // one per combination of the members that units scheduled by the firing
  // draw.
  bool Successor(const Branch& branch, int unit, double tieU, bool tieScripted,
                 BaseGroupClass* member, double memberU, double probability,
                 std::map<double, Bucket>& pending, std::string* error);
  // Restores the branch and fires the choice, the scheduling draws steered
  // by the given uniforms; the draws of the step are left in the log and
  // the firing time in *now.
  bool Fire(const Branch& branch, int unit, double tieU, bool tieScripted, BaseGroupClass* member,
            double memberU, const std::vector<double>& scheduling, double* now,
            std::string* error);
  // Calls visit(probability, uniforms, at) once per combination of the
  // plan's picks (once, with none, for an empty plan), the last draw
  // counting fastest: the probability is the given one times the picks'
  // shares, at[i] the pick of draw i. Stops at the first false.
  using CombinationVisit = std::function<bool(double, const std::vector<double>&,
                                              const std::vector<size_t>&)>;
  static bool EachCombination(const std::vector<std::vector<Pick>>& plan, double probability,
                              const CombinationVisit& visit);
  // Whether the logged scheduling draws, from position `leading` on, were
  // made by the same units as in `before` and chose the picks of `at`.
  bool SameDraws(const DrawLog& before, const std::vector<std::vector<Pick>>& plan,
                 const std::vector<size_t>& at, int leading) const;
  // The start of a replication: the initial schedule, one branch per
  // combination of the members drawn by the units it schedules.
  bool Start(std::map<double, Bucket>& pending, std::string* error);
  // Files the driver's current situation, reached at time now with the
  // given probability by firing `fired` (null at the start) from the parent
  // branch (null at the start): observed, then finished or queued for its
  // next event.
  bool Settle(const Branch* parent, double probability, double now, BaseActionClass* fired,
              std::map<double, Bucket>& pending, std::string* error,
              const PathTracker::Walk* walk = nullptr);
  void Capture(Snapshot* s);
  void Restore(const Snapshot& s);
  std::string Key(const Snapshot& s) const;
  // Credits the current state to the nodes whose instant lies in [from, to).
  void Observe(double probability, double from, double to);
  // Adds to the branch's accumulated moments what the interval nodes earn
  // from the firing of `fired` at `from` and the state held until `to`.
  void Accumulate(Branch* branch, const Branch* parent, double from, double to,
                  BaseActionClass* fired);
  // The draw log: started before an operation, read after it; a checkpoint
  // at every draw tells which unit made the draw before.
  void BeginLog();
  void Checkpoint();
  // The scheduling draws of the log, between `leading` and `trailing`
  // draws of the step itself: per draw, the members with their shares.
  bool ReadPlan(int leading, int trailing, std::vector<std::vector<Pick>>* plan,
                std::string* error) const;
  void Finish();

  Scheduler& sim_;
  SolveOptions options_;
  std::unique_ptr<ScriptedDraws> draws_;
  std::vector<Unit> units_;
  std::vector<BaseKORVELAction*> formalismActions_;
  std::vector<Observed> observed_;  // considered nodes, by instant
  std::vector<Accumulated> accumulated_;  // considered interval nodes
  // The units that draw their member when scheduled, and the log of draws.
  std::vector<ScheduledPreselectGroup*> preselect_;
  std::unique_ptr<DrawLog> log_;
  std::vector<Accumulator> sums_;   // per node of the reward model
  std::string initialState_;
  double endTime_ = 0.0;
  double finishedMass_ = 0.0;
  SolveStats stats_;
};

}  // namespace solver

#endif
