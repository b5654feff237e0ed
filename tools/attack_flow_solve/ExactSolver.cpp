// The exploration. A branch is the driver's situation right after a firing
// (or after the initial schedule): the model's state image, the scheduled
// events and the reactivation list, plus the hidden enabling flags of the
// formalism's actions. Branches wait in buckets keyed by the time of their
// next event and are expanded in time order; a bucket is expanded as one
// round, and successors due at the same time (zero delays) form the next
// round at that time.
//
// Expanding a branch restores it into the driver, lists the tied events at
// the head of the event list and, for a unit that selects a member, the
// members' weight distribution. Each (event, member) pair becomes one
// successor: the branch is restored again, EventList::Earliest and the
// group's own selection are steered to the pair by scripted uniforms, and
// SimulatorClass::SimStep fires it and reschedules exactly as in a
// simulation. The number of uniforms drawn is checked against the number of
// choices made, so a model that draws anything else is refused rather than
// solved wrongly.
//
// Observation. An instant-of-time node at instant s measures the state in
// force at s, that is the state after every firing at times up to and
// including s; at the end of the run (the last event at or before the end
// time T) it measures the final state when T + 1 > s. So a branch created by
// a firing at time t whose next event is due at t' is credited to the nodes
// with t <= s < t', and a branch with no further event up to T to the nodes
// with t <= s < T + 1.
//
// Hidden state. Besides the state image, the formalism's actions carry two
// flags: `enabled` (the enabling found at the last evaluation) and
// `wasEnabled` (the one before). The driver reads them only through
// EnablingChange(), which first re-evaluates (shifting `enabled` into
// `wasEnabled`) and then compares the two; so `wasEnabled` is always written
// before it is read and never carries information between steps. `enabled`
// does: it decides whether a scheduled unit counts as changed and is
// re-sampled. But EnablingChange() is asked only of scheduled units (the
// step skips units without an event), and a unit is scheduled only right
// after its Enabled() was asked, which asks every member. So only the
// `enabled` flags of the members of scheduled units can influence the
// future, and those are part of the merge key; the flags of unscheduled
// units' members are refreshed before they can be read. All flags are saved
// and restored with each branch all the same, and keying on every flag
// (SolveOptions::keyAllHiddenFlags) must give the same results, only with
// less merging; the tests compare the two. Nothing else carries
// over: a group's selection exists only while it fires, the look-ahead's
// decision cache is a function of the state image, the heap's arrangement
// only orders ties, and the reward nodes' own accumulation is not read (the
// observations are taken here).
#include "attack_flow_solve/ExactSolver.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <new>
#include <sstream>

#include "base/BaseGroupClass.h"
#include "base/List.h"
#include "base/PostselectGroup.h"
#include "base/PreselectGroup.h"
#include "distributions/DistributionDefinition.h"
#include "distributions/LaggedFibonacci.h"
#include "formalism/BaseKORVELAction.h"
#include "rewards/InstantOfTime.h"
#include "rewards/MeasureLayout.h"
#include "rewards/PVModel.h"
#include "rewards/PerformanceVariableNode.h"
#include "simulator/PathTally.h"

namespace solver {

namespace {

// Compensated summation: the node sums add up many small products.
struct CompensatedSum {
  double sum = 0.0;
  double carry = 0.0;
  void add(double x) {
    double t = sum + x;
    carry += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
    sum = t;
  }
  double value() const { return sum + carry; }
};

template <typename T>
void appendBytes(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string describeTime(double t) {
  std::ostringstream text;
  text << t;
  return text.str();
}

}  // namespace

// ---- scripted uniforms ------------------------------------------------------

double ScriptedGenerator::rnd() {
  draws_++;
  if (script_.empty()) {
    unscripted_++;
    return 0.5;
  }
  double u = script_.front();
  script_.pop_front();
  return u;
}

void ScriptedGenerator::Reset() {
  script_.clear();
  draws_ = 0;
  unscripted_ = 0;
}

ScriptedDraws::ScriptedDraws() : generator_(new ScriptedGenerator) {
  TheDistribution->setGenerator(generator_);
}

ScriptedDraws::~ScriptedDraws() {
  if (TheDistribution->getGenerator() != generator_) return;
  // Without memory for it the holder is left empty, which draws zeros.
  auto* standard = new (std::nothrow) LaggedFibonacci;
  if (standard) standard->srnd(31415);
  TheDistribution->setGenerator(standard);
}

// ---- delay checks -----------------------------------------------------------

bool CheckDelayKinds(BaseActionClass* const* actions, int count, std::string* error) {
  for (int i = 0; i < count; i++) {
    int kind = actions[i]->DistributionType;
    if (kind == DeterministicDistribution || kind == ZeroDelayDistribution) continue;
    *error = std::string("action ") + actions[i]->getName() + " has a delay of distribution type " +
             std::to_string(kind) +
             "; only deterministic (2) and zero (18) delays can be solved exactly";
    return false;
  }
  return true;
}

bool CheckDelaysDrawNothing(BaseActionClass* const* actions, int count, ScriptedGenerator& generator,
                            std::string* error) {
  for (int i = 0; i < count; i++) {
    BaseActionClass* a = actions[i];
    // A plain group takes its delay from a selected member, which is an
    // action of its own and checked as such.
    if (dynamic_cast<BaseGroupClass*>(a) && !dynamic_cast<BaseKORVELAction*>(a)) continue;
    generator.Reset();
    double delay = a->SampleDistribution();
    int draws = generator.Draws();
    generator.Reset();
    if (draws != 0) {
      *error = std::string("action ") + a->getName() + " draws " + std::to_string(draws) +
               " random number(s) to sample its delay; only deterministic and zero delays can "
               "be solved exactly";
      return false;
    }
    if (!(delay >= 0.0) || std::isinf(delay)) {
      *error = std::string("action ") + a->getName() + " has the delay " + describeTime(delay) +
               "; delays must be finite and not negative";
      return false;
    }
  }
  return true;
}

// ---- branch records ---------------------------------------------------------

struct ExactSolver::Snapshot {
  Scheduler::SavedSchedule schedule;  // the model's state and the schedule
  std::vector<char> enabled;          // per formalism action
  std::vector<char> wasEnabled;
};

struct ExactSolver::Branch {
  double probability = 0.0;
  Snapshot snapshot;
  PathTracker::Walk walk;  // with paths: the attack path so far
};

struct ExactSolver::Unit {
  BaseActionClass* unit = nullptr;
  // The group that selects a member when the unit fires; null for a
  // formalism action that is its own unit.
  BaseGroupClass* group = nullptr;
  // Positions (in formalismActions_) of the actions whose enabling flags the
  // unit reads: its members, or the unit itself.
  std::vector<int> flagSlots;
};

struct ExactSolver::Observed {
  double instant = 0.0;
  int node = 0;
  std::vector<PerformanceVariableWorker*> workers;
};

struct ExactSolver::Accumulator {
  CompensatedSum value;
  CompensatedSum square;
  CompensatedSum coverage;
};

// ---- the solver -------------------------------------------------------------

ExactSolver::ExactSolver(Scheduler& sim, SolveOptions options)
    : sim_(sim), options_(options) {}

ExactSolver::~ExactSolver() = default;

bool ExactSolver::Prepare(std::string* error) {
  PVModel* pv = sim_.pvModel;
  if (!sim_.Ready()) {
    *error = "the simulator is not set up (no reward model, units or event list)";
    return false;
  }

  // Formalism actions, whose enabling flags travel with each branch.
  formalismActions_.clear();
  std::map<BaseKORVELAction*, int> slotOf;
  auto slot = [&](BaseKORVELAction* a) {
    auto it = slotOf.find(a);
    if (it != slotOf.end()) return it->second;
    int s = static_cast<int>(formalismActions_.size());
    formalismActions_.push_back(a);
    slotOf[a] = s;
    return s;
  };
  // The actions as the driver lists them.
  List<BaseActionClass> actionList;
  pv->listActions(&actionList);
  BaseActionClass** actions = actionList.getList();
  const int numActions = actionList.getNumItems();
  for (int i = 0; i < numActions; i++)
    if (auto* a = dynamic_cast<BaseKORVELAction*>(actions[i])) slot(a);

  // Units: a formalism action firing itself, or a group that selects one of
  // its formalism actions when it fires.
  units_.assign(sim_.NumUnits, Unit());
  BaseGroupClass* preselecting = nullptr;
  for (int i = 0; i < sim_.NumUnits; i++) {
    BaseGroupClass* g = sim_.Groups[i];
    Unit& u = units_[i];
    u.unit = g;
    if (sim_.UnitIndex(g) != i) {
      *error = std::string("unit ") + g->getName() + " has no scheduling record of its own";
      return false;
    }
    if (auto* leaf = dynamic_cast<BaseKORVELAction*>(g)) {
      u.flagSlots.push_back(slot(leaf));
    } else if (dynamic_cast<PostselectGroup*>(g)) {
      u.group = g;
      for (int m = 0; m < g->getNumMembers(); m++) {
        auto* member = dynamic_cast<BaseKORVELAction*>(g->getMember(m));
        if (!member) {
          *error = std::string("group ") + g->getName() +
                   " has a member that is not a formalism action; nested selections cannot be "
                   "enumerated";
          return false;
        }
        u.flagSlots.push_back(slot(member));
      }
    } else if (dynamic_cast<PreselectGroup*>(g)) {
      // A member drawn when the unit is scheduled would branch the schedule
      // itself; the branching here happens only at firings. Reported after
      // the delays, a random delay being the more basic reason.
      if (!preselecting) preselecting = g;
    } else {
      *error = std::string("unit ") + g->getName() +
               " is a kind of group whose selection the exact solver cannot enumerate";
      return false;
    }
  }

  if (!CheckDelayKinds(actions, numActions, error)) return false;
  if (!draws_) draws_ = std::make_unique<ScriptedDraws>();
  if (!CheckDelaysDrawNothing(actions, numActions, draws_->generator(), error))
    return false;
  if (preselecting) {
    // The file models name a decision's outcome group "<decision>Group".
    std::string name = preselecting->getName();
    const std::string suffix = "Group";
    const size_t stem = name.size() - suffix.size();
    if (name.size() > suffix.size() && name.compare(stem, suffix.size(), suffix) == 0)
      name.erase(stem);
    *error = "the outcomes of decision " + name + " (group " + preselecting->getName() +
             ") have different delays, so the outcome is drawn when the decision is taken; "
             "the exact solver cannot enumerate that draw";
    return false;
  }

  // The observed nodes: instant-of-time nodes measuring a single instant.
  std::map<PerformanceVariableNode*, int> indexOf;
  for (int i = 0; i < pv->getNumPVs(); i++) indexOf[pv->getNode(i)] = i;
  observed_.clear();
  for (PerformanceVariableNode* node : pv->getConsidered()) {
    std::string where =
        std::string("performance variable ") + node->getName() + " at " + describeTime(node->StartTime);
    if (node->Type != InstantOfTimeReward || node->NumImpulses != 0) {
      *error = where + " is not an instant-of-time variable; only those can be solved exactly";
      return false;
    }
    if (node->StartTime != node->StopTime) {
      *error = where + " observes the interval up to " + describeTime(node->StopTime) +
               "; only single instants can be solved exactly";
      return false;
    }
    Observed o;
    o.instant = node->StartTime;
    o.node = indexOf.count(node) ? indexOf[node] : -1;
    for (int w = 0; w < node->NumWorkers; w++) {
      PerformanceVariableWorker* worker = node->Workers[w].get();
      if (!dynamic_cast<InstantOfTime*>(worker)) {
        *error = where + " has a worker that is not an instant-of-time worker";
        return false;
      }
      o.workers.push_back(worker);
    }
    if (o.node < 0) {
      *error = where + " is not in the reward model's node list";
      return false;
    }
    observed_.push_back(std::move(o));
  }
  std::stable_sort(observed_.begin(), observed_.end(),
                   [](const Observed& a, const Observed& b) { return a.instant < b.instant; });
  sums_.assign(pv->getNumPVs(), Accumulator());

  endTime_ = pv->getMaxStopTime();
  initialState_.assign(pv->StateSize() > 0 ? pv->StateSize() : 1, '\0');
  pv->CurrentState(&initialState_[0]);
  sim_.PrepareRun();
  return true;
}

void ExactSolver::Capture(Snapshot* s) {
  sim_.Snapshot(&s->schedule);
  s->enabled.resize(formalismActions_.size());
  s->wasEnabled.resize(formalismActions_.size());
  for (size_t k = 0; k < formalismActions_.size(); k++) {
    s->enabled[k] = formalismActions_[k]->enabled;
    s->wasEnabled[k] = formalismActions_[k]->wasEnabled;
  }
}

void ExactSolver::Restore(const Snapshot& s) {
  sim_.Restore(s.schedule);
  for (size_t k = 0; k < formalismActions_.size(); k++) {
    formalismActions_[k]->enabled = s.enabled[k] != 0;
    formalismActions_[k]->wasEnabled = s.wasEnabled[k] != 0;
  }
}

std::string ExactSolver::Key(const Snapshot& snapshot) const {
  const Scheduler::SavedSchedule& s = snapshot.schedule;
  std::string key = s.state;
  appendBytes(&key, static_cast<int>(s.events.size()));
  for (const Scheduler::SavedSchedule::Scheduled& e : s.events) {
    appendBytes(&key, e.unit);
    appendBytes(&key, e.firing);
  }
  appendBytes(&key, static_cast<int>(s.reactivation.size()));
  for (int u : s.reactivation) appendBytes(&key, u);
  if (options_.keyAllHiddenFlags) {
    key.append(snapshot.enabled.begin(), snapshot.enabled.end());
    key.append(snapshot.wasEnabled.begin(), snapshot.wasEnabled.end());
  } else {
    for (const Scheduler::SavedSchedule::Scheduled& e : s.events)
      for (int k : units_[e.unit].flagSlots) key.push_back(snapshot.enabled[k]);
  }
  return key;
}

void ExactSolver::Observe(double probability, double from, double to) {
  auto it = std::lower_bound(observed_.begin(), observed_.end(), from,
                             [](const Observed& o, double t) { return o.instant < t; });
  for (; it != observed_.end() && it->instant < to && endTime_ + 1.0 > it->instant; ++it) {
    double x = 0.0;
    for (PerformanceVariableWorker* w : it->workers) x += w->Reward_Function();
    Accumulator& a = sums_[it->node];
    a.value.add(probability * x);
    a.square.add(probability * x * x);
    a.coverage.add(probability);
  }
}

bool ExactSolver::Settle(double probability, double now, std::map<double, Bucket>& pending,
                         std::string* error, const PathTracker::Walk* walk) {
  Branch branch;
  branch.probability = probability;
  Capture(&branch.snapshot);
  const Event* head = sim_.NextEvent();
  if (options_.paths && walk) {
    if (!head || head->FiringTime > endTime_) {
      options_.paths->Add(*walk, probability);
    } else {
      branch.walk = *walk;
    }
  }
  if (!head) {
    Observe(probability, now, HUGE_VAL);
    finishedMass_ += probability;
    stats_.finished++;
    return true;
  }
  double next = head->FiringTime;
  if (std::isnan(next) || next < now) {
    *error = std::string("unit ") + head->Action->getName() + " is scheduled at " +
             describeTime(next) + ", before the current time " + describeTime(now);
    return false;
  }
  if (next > endTime_) {
    Observe(probability, now, HUGE_VAL);
    finishedMass_ += probability;
    stats_.finished++;
    return true;
  }
  Observe(probability, now, next);
  std::string key = Key(branch.snapshot);
  // Branches on different attack paths stay apart.
  if (options_.paths) appendBytes(&key, branch.walk.node);
  Bucket& bucket = pending[next];
  auto found = bucket.find(key);
  if (found != bucket.end()) {
    if (options_.paths)
      PathTracker::Merge(&found->second.walk, found->second.probability, branch.walk, probability);
    found->second.probability += probability;
  } else
    bucket.emplace(std::move(key), std::move(branch));
  return true;
}

bool ExactSolver::Successor(const Branch& branch, int unit, double tieU, bool tieScripted,
                            BaseGroupClass* member, double memberU, double probability,
                            std::map<double, Bucket>& pending, std::string* error) {
  ScriptedGenerator& g = draws_->generator();
  Restore(branch.snapshot);

  // The event: EventList::Earliest itself picks it, steered by the uniform.
  g.Reset();
  if (tieScripted) g.Script(tieU);
  if (!sim_.TakeEarliest() || sim_.CurrentAction != units_[unit].unit ||
      g.Draws() != (tieScripted ? 1 : 0)) {
    *error = std::string("the event list did not pick the event of unit ") +
             units_[unit].unit->getName() + " when steered to it";
    return false;
  }
  const double now = sim_.CurrentTime;

  // The firing: the group's own selection picks the member, steered by the
  // uniform; the driver's step does the rest.
  g.Reset();
  if (member) g.Script(memberU);
  sim_.SimStep();
  int expected = (member ? 1 : 0) + (sim_.HeadTies().size() >= 2 ? 1 : 0);
  BaseActionClass* intended = member ? member : units_[unit].unit;
  if (g.Draws() != expected) {
    *error = std::string("firing ") + intended->getName() + " at " + describeTime(now) + " drew " +
             std::to_string(g.Draws()) + " random number(s) where " + std::to_string(expected) +
             " were expected; the model makes random choices the exact solver cannot enumerate";
    return false;
  }
  if (sim_.FiredAction != intended) {
    *error = std::string("firing unit ") + units_[unit].unit->getName() + " at " +
             describeTime(now) + " did not fire the intended action " + intended->getName();
    return false;
  }
  g.Reset();
  stats_.successors++;
  if (options_.paths) {
    PathTracker::Walk walk = branch.walk;
    options_.paths->tracker().Fired(&walk, sim_.FiredAction, now);
    return Settle(probability, now, pending, error, &walk);
  }
  return Settle(probability, now, pending, error);
}

bool ExactSolver::Expand(const Branch& branch, double time, std::map<double, Bucket>& pending,
                         std::string* error) {
  Restore(branch.snapshot);
  // The tied events with their probabilities and steering uniforms, as the
  // event list's own pick weighs them.
  const std::vector<Scheduler::Tie> ties = sim_.HeadTies();
  if (ties.empty() || sim_.NextEvent()->FiringTime != time) {
    *error = "a branch waiting for time " + describeTime(time) + " has no event due then";
    return false;
  }
  struct Choice {
    int unit;
    double probability;
    double u;
  };
  std::vector<Choice> events;
  const bool tie = ties.size() >= 2;
  for (const Scheduler::Tie& t : ties) {
    if (tie && (!(t.weight >= 0.0) || std::isinf(t.weight))) {
      *error = std::string("the event of unit ") + t.unit->getName() + " has the weight " +
               describeTime(t.weight) + " in a tie";
      return false;
    }
  }
  for (const Scheduler::Tie& t : ties)
    if (t.probability > 0.0) events.push_back({sim_.UnitIndex(t.unit), t.probability, t.uniform});

  for (const Choice& e : events) {
    if (e.unit < 0) {
      *error = "an event belongs to no known unit";
      return false;
    }
    const double p = branch.probability * e.probability;
    BaseGroupClass* group = units_[e.unit].group;
    if (!group) {
      if (!Successor(branch, e.unit, e.u, tie, nullptr, 0.0, p, pending, error)) return false;
      continue;
    }
    // The members the group can select, read as its own selection reads
    // them (in a fresh copy of the branch: the reading evaluates enabling).
    Restore(branch.snapshot);
    double total = group->CalculateWeightDistribution();
    if (total < 0.0) {
      *error = std::string("group ") + group->getName() + " fires at " + describeTime(time) +
               " with no enabled member";
      return false;
    }
    struct Member {
      BaseGroupClass* member;
      double probability;
      double u;
    };
    std::vector<Member> members;
    int n = group->getNumEntries();
    if (total == 0.0) {
      // No weight at all: the selection ends at the last entry.
      members.push_back({group->getEntry(n - 1).member, 1.0, 0.5});
    } else {
      double low = 0.0;
      for (int j = 0; j < n; j++) {
        const BaseGroupClass::WeightEntry& entry = group->getEntry(j);
        double w = entry.member->Weight();
        if (!(w >= 0.0) || std::isinf(w)) {
          *error = std::string("member ") + entry.member->getName() + " of group " +
                   group->getName() + " has the weight " + describeTime(w);
          return false;
        }
        if (entry.cumulative > low)
          members.push_back({entry.member, w / total, (low + entry.cumulative) / 2 / total});
        low = entry.cumulative;
      }
    }
    for (const Member& m : members)
      if (!Successor(branch, e.unit, e.u, tie, m.member, m.u, p * m.probability, pending, error))
        return false;
  }
  return true;
}

bool ExactSolver::Explore(std::string* error) {
  ScriptedGenerator& g = draws_->generator();
  std::map<double, Bucket> pending;

  // The start of a replication, as the terminating loop makes it.
  sim_.ResetSchedule();
  g.Reset();
  sim_.GenerateInitialEnabledList();
  if (sim_.GenerateCompleteEventList() != 0) {
    *error = "the initial event list could not be built";
    return false;
  }
  if (g.Draws() != 0) {
    *error = "building the initial event list drew random numbers";
    return false;
  }
  PathTracker::Walk start;
  if (options_.paths) options_.paths->tracker().Begin(&start);
  if (!Settle(1.0, 0.0, pending, error, options_.paths ? &start : nullptr)) return false;

  double lastTime = 0.0;
  long long round = -1;
  while (!pending.empty()) {
    auto first = pending.begin();
    const double time = first->first;
    Bucket bucket = std::move(first->second);
    pending.erase(first);
    round = (round >= 0 && time == lastTime) ? round + 1 : 0;
    lastTime = time;
    if (round > options_.maxRoundsPerInstant) {
      *error = "more than " + std::to_string(options_.maxRoundsPerInstant) +
               " rounds of zero-delay firings at time " + describeTime(time) +
               "; the model seems to loop without advancing time";
      return false;
    }

    Layer layer;
    layer.time = time;
    layer.round = static_cast<int>(round);
    layer.branches = static_cast<long long>(bucket.size());
    CompensatedSum mass;
    mass.add(finishedMass_);
    for (auto& entry : bucket) mass.add(entry.second.probability);
    for (auto& later : pending)
      for (auto& entry : later.second) mass.add(entry.second.probability);
    layer.mass = mass.value();
    stats_.layers.push_back(layer);

    for (auto& entry : bucket) {
      if (++stats_.expanded > options_.maxBranches) {
        *error = "more than " + std::to_string(options_.maxBranches) +
                 " branches; the model is too large to solve exactly";
        return false;
      }
      if (!Expand(entry.second, time, pending, error)) return false;
    }
  }
  return true;
}

void ExactSolver::Finish() {
  // Back to the initial situation, as between two replications.
  Scheduler::SavedSchedule initial;
  sim_.Snapshot(&initial);
  if (!initialState_.empty()) initial.state = initialState_;
  initial.time = 0.0;
  initial.events.clear();
  initial.reactivation.clear();
  sim_.Restore(initial);
  sim_.pvModel->PVReset();
  sim_.ReleaseRun();
  if (draws_) draws_->generator().Reset();
}

bool ExactSolver::Solve(StudyResults* results, std::string* error) {
  stats_ = SolveStats();
  finishedMass_ = 0.0;
  initialState_.clear();
  if (!Prepare(error)) {
    if (sim_.Ready()) Finish();
    return false;
  }
  bool ok = Explore(error);
  Finish();
  if (!ok) return false;

  // The nodes as the model describes its measures: names and instants.
  const MeasureLayout layout = sim_.pvModel->Measures();
  results->nodes.clear();
  results->replications = 0;
  results->complete = true;
  results->method = "exact";
  stats_.coverage.assign(layout.numNodes, 0.0);
  for (int i = 0; i < layout.numNodes; i++) {
    const MeasureLayout::Node& node = layout.nodes[i];
    NodeResult r;
    r.pvId = i;
    r.name = node.name;
    r.time = node.time;
    r.n = 0;
    r.mean = sums_[i].value.value();
    // E[X^2] - E[X]^2; a rounding residue below zero is no variance.
    r.variance = std::max(0.0, sums_[i].square.value() - r.mean * r.mean);
    r.lower = r.upper = r.mean;
    results->nodes.push_back(r);
    stats_.coverage[i] = sums_[i].coverage.value();
  }
  return true;
}

}  // namespace solver
