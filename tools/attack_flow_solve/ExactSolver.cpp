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
// Draws made while scheduling. A unit that draws its member when it is
// scheduled (a decision whose outcomes have different delays) draws inside
// the step's rescheduling, or inside the initial schedule. Every uniform
// drawn is logged, and a checkpoint at each draw tells which such unit drew
// the one before: the unit lets go of its member, draws, and holds the new
// one. A first firing, its scheduling draws left unsteered, finds the units
// that draw and their members' shares (which depend on the state after the
// firing only); then each combination of members is fired again, steered to
// it, checked to draw the same way, and filed as a successor with its
// probability. The member a scheduled unit holds is part of the branch.
//
// Observation. An instant-of-time node at instant s measures the state in
// force at s, that is the state after every firing at times up to and
// including s; at the end of the run (the last event at or before the end
// time T) it measures the final state when T + 1 > s. So a branch created by
// a firing at time t whose next event is due at t' is credited to the nodes
// with t <= s < t', and a branch with no further event up to T to the nodes
// with t <= s < T + 1.
//
// Accumulation. A node over an interval [s, e] is accumulated as the run's
// reward model accumulates it: at every firing (and at the end of the run)
// the node, once s is reached and until a firing after e has completed it,
// adds the rate of the state left by the previous firing times the part of
// [s, e] that state held, and the impulses of the previous firing when that
// firing's time lies in [s, e] (both ends included), evaluated in the state
// it left. The node's own workers compute each increment. A branch carries,
// per node, its probability times the conditional mean and mean square of
// what it has earned; the increments are fixed within a branch, merged
// branches share their future, so these add up on merging and scale on
// splitting, and the finished branches give the exact mean and variance.
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
// over: a group's selection exists only while it fires (a member held from
// scheduling is part of the branch, and of the key while its unit is
// scheduled, the only time it is read), the look-ahead's
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
#include "base/ScheduledPreselectGroup.h"
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
  if (observer_) observer_();
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
  // Per unit that draws its member when scheduled: the member's position
  // in the group (-1: none held).
  std::vector<int> held;
};

struct ExactSolver::Branch {
  double probability = 0.0;
  Snapshot snapshot;
  PathTracker::Walk walk;  // with paths: the attack path so far
  // Per interval node, what the branch has earned so far: the probability
  // times its conditional mean, and times its conditional mean square.
  // Both add up when branches merge, and scale when a branch splits.
  std::vector<double> moments;
};

struct ExactSolver::Unit {
  BaseActionClass* unit = nullptr;
  // The group that selects a member when the unit fires; null for a
  // formalism action that is its own unit.
  BaseGroupClass* group = nullptr;
  // Positions (in formalismActions_) of the actions whose enabling flags the
  // unit reads: its members, or the unit itself.
  std::vector<int> flagSlots;
  // For a unit that draws its member when scheduled: its place in
  // preselect_ (-1 otherwise).
  int preselect = -1;
};

struct ExactSolver::Observed {
  double instant = 0.0;
  int node = 0;
  std::vector<PerformanceVariableWorker*> workers;
};

struct ExactSolver::Accumulated {
  int node = 0;
  PerformanceVariableNode* pv = nullptr;
};

// The uniforms drawn during one operation, in order, each with the unit
// that drew it when it is one that draws its member when scheduled.
struct ExactSolver::DrawLog {
  struct Drawn {
    int slot = -1;  // in preselect_; -1 for a draw of no such unit
    BaseActionClass* chosen = nullptr;
    std::vector<BaseGroupClass::WeightEntry> entries;  // the unit's distribution
  };
  std::vector<Drawn> drawn;
  std::vector<BaseActionClass*> last;  // each unit's selection at the last checkpoint
  bool confused = false;               // two units selected after one draw
};

struct ExactSolver::Pick {
  BaseActionClass* chosen;
  double probability;
  double u;
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
  preselect_.clear();
  // The flag slots of a selecting group's members, which must all be
  // formalism actions.
  auto addMemberSlots = [&](BaseGroupClass* g, Unit* u) {
    for (int m = 0; m < g->getNumMembers(); m++) {
      auto* member = dynamic_cast<BaseKORVELAction*>(g->getMember(m));
      if (!member) {
        *error = std::string("group ") + g->getName() +
                 " has a member that is not a formalism action; nested selections cannot be "
                 "enumerated";
        return false;
      }
      u->flagSlots.push_back(slot(member));
    }
    return true;
  };
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
      if (!addMemberSlots(g, &u)) return false;
    } else if (auto* scheduled = dynamic_cast<ScheduledPreselectGroup*>(g)) {
      // The member is drawn when the unit is scheduled: the scheduling
      // branches (see Successor); the firing itself chooses nothing.
      u.preselect = static_cast<int>(preselect_.size());
      preselect_.push_back(scheduled);
      if (!addMemberSlots(g, &u)) return false;
    } else if (dynamic_cast<PreselectGroup*>(g)) {
      // A member drawn whenever the group is asked about it, not only when
      // it is scheduled: the draws cannot be told apart. Reported after the
      // delays, a random delay being the more basic reason.
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
             ") are drawn whenever the group is asked about them; the exact solver can "
             "enumerate a draw made only when the decision is taken";
    return false;
  }

  // The observed nodes: instant-of-time nodes measuring a single instant,
  // and nodes accumulating over an interval.
  std::map<PerformanceVariableNode*, int> indexOf;
  for (int i = 0; i < pv->getNumPVs(); i++) indexOf[pv->getNode(i)] = i;
  observed_.clear();
  accumulated_.clear();
  for (PerformanceVariableNode* node : pv->getConsidered()) {
    std::string where =
        std::string("performance variable ") + node->getName() + " at " + describeTime(node->StartTime);
    if (!indexOf.count(node)) {
      *error = where + " is not in the reward model's node list";
      return false;
    }
    if (node->Type != InstantOfTimeReward) {
      if (node->SteadyStateFlag != 0) {
        *error = where + " is a steady-state variable; only terminating runs can be solved exactly";
        return false;
      }
      for (int w = 0; w < node->NumWorkers; w++) {
        if (!node->Workers[w]) {
          *error = where + " lacks a worker";
          return false;
        }
      }
      for (const PerformanceVariableNode::Impulse& imp : node->Impulses)
        for (const auto& w : imp.Workers)
          if (!w) {
            *error = where + " lacks an impulse worker";
            return false;
          }
      accumulated_.push_back({indexOf[node], node});
      continue;
    }
    if (node->NumImpulses != 0) {
      *error = where + " has impulse rewards at an instant; only intervals can have them";
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

  // Every draw from here on is logged, so that draws made while units are
  // scheduled can be told apart and enumerated.
  log_ = std::make_unique<DrawLog>();
  draws_->generator().Observe([this] {
    Checkpoint();
    log_->drawn.emplace_back();
  });

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
  s->held.assign(preselect_.size(), -1);
  for (size_t k = 0; k < preselect_.size(); k++) {
    const BaseActionClass* held = preselect_[k]->getSelectedAction();
    for (int m = 0; held && m < preselect_[k]->getNumMembers(); m++)
      if (preselect_[k]->getMember(m) == held) s->held[k] = m;
  }
}

void ExactSolver::Restore(const Snapshot& s) {
  sim_.Restore(s.schedule);
  for (size_t k = 0; k < formalismActions_.size(); k++) {
    formalismActions_[k]->enabled = s.enabled[k] != 0;
    formalismActions_[k]->wasEnabled = s.wasEnabled[k] != 0;
  }
  for (size_t k = 0; k < preselect_.size(); k++)
    preselect_[k]->HoldSelection(s.held[k] >= 0 ? preselect_[k]->getMember(s.held[k]) : nullptr);
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
  // A held member is read only while its unit is scheduled: it fires then.
  if (options_.keyAllHiddenFlags) {
    key.append(snapshot.enabled.begin(), snapshot.enabled.end());
    key.append(snapshot.wasEnabled.begin(), snapshot.wasEnabled.end());
    for (int m : snapshot.held) appendBytes(&key, m);
  } else {
    for (const Scheduler::SavedSchedule::Scheduled& e : s.events) {
      for (int k : units_[e.unit].flagSlots) key.push_back(snapshot.enabled[k]);
      if (units_[e.unit].preselect >= 0) appendBytes(&key, snapshot.held[units_[e.unit].preselect]);
    }
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

void ExactSolver::Accumulate(Branch* branch, const Branch* parent, double from, double to,
                             BaseActionClass* fired) {
  // The branch's share of its parent's past: merged branches have the same
  // future, so scaling the parent's moments by the share is exact.
  const double p = branch->probability;
  const double share = parent && parent->probability > 0.0 ? p / parent->probability : 0.0;
  branch->moments.assign(2 * accumulated_.size(), 0.0);
  for (size_t j = 0; j < accumulated_.size(); j++) {
    PerformanceVariableNode* node = accumulated_[j].pv;
    double mean = parent ? share * parent->moments[2 * j] : 0.0;
    double square = parent ? share * parent->moments[2 * j + 1] : 0.0;
    // As a run accumulates: each step (and the end of the run) lets the
    // node account for the time since the last firing, in the state that
    // firing left, and for the firing's impulses; a node is visited only
    // once its start is reached, and no more after a step beyond its end.
    double d = 0.0;
    if (!(from > node->StopTime) && !(to < node->StartTime)) {
      double sum = 0.0;
      for (int w = 0; w < node->NumWorkers; w++) {
        PerformanceVariableWorker* worker = node->Workers[w].get();
        worker->Accumulate(to, from);
        sum += worker->Value;
        worker->Reset();
      }
      if (node->NumWorkers > 0) d += node->Workers[0]->Weight * sum;
      if (fired && node->NumImpulses > 0 && node->ImpulseAffectedBy(fired)) {
        const std::vector<int>& impulses = fired->ImpulseTableA[node->Id];
        const std::vector<std::vector<int>>& workers = fired->ImpulseTableB[node->Id];
        for (size_t k = 0; k < impulses.size(); k++) {
          for (int w : workers[k]) {
            ImpulseNodeClass* worker = node->Impulses[impulses[k]].Workers[w].get();
            worker->Reset();
            worker->Accumulate(to, from);
            d += worker->AccumulatedValue();
            worker->Reset();
          }
        }
      }
    }
    // (A + d)^2 = A^2 + 2 A d + d^2, weighed by the branch's probability.
    square += 2.0 * d * mean + p * d * d;
    mean += p * d;
    branch->moments[2 * j] = mean;
    branch->moments[2 * j + 1] = square;
  }
}

void ExactSolver::BeginLog() {
  log_->drawn.clear();
  log_->confused = false;
  log_->last.resize(preselect_.size());
  for (size_t k = 0; k < preselect_.size(); k++) log_->last[k] = preselect_[k]->getSelectedAction();
}

void ExactSolver::Checkpoint() {
  // A unit scheduled lets go of its member and draws a new one: the unit
  // that holds a member now and held none at the last checkpoint made the
  // draw just before.
  for (size_t k = 0; k < preselect_.size(); k++) {
    BaseActionClass* now = preselect_[k]->getSelectedAction();
    if (!log_->last[k] && now) {
      if (log_->drawn.empty() || log_->drawn.back().slot >= 0) {
        log_->confused = true;
      } else {
        DrawLog::Drawn& d = log_->drawn.back();
        d.slot = static_cast<int>(k);
        d.chosen = now;
        d.entries.clear();
        for (int e = 0; e < preselect_[k]->getNumEntries(); e++)
          d.entries.push_back(preselect_[k]->getEntry(e));
      }
    }
    log_->last[k] = now;
  }
}

bool ExactSolver::ReadPlan(int leading, int trailing, std::vector<std::vector<Pick>>* plan,
                           std::string* error) const {
  plan->clear();
  const int n = static_cast<int>(log_->drawn.size());
  bool ok = !log_->confused && n >= leading + trailing;
  for (int i = 0; ok && i < n; i++) {
    const bool scheduling = i >= leading && i < n - trailing;
    if ((log_->drawn[i].slot >= 0) != scheduling) ok = false;
  }
  if (!ok) {
    *error = "drew " + std::to_string(n) + " random number(s) where " +
             std::to_string(leading + trailing) +
             " and the scheduled units' draws were expected; the model makes random choices the "
             "exact solver cannot enumerate";
    return false;
  }
  for (int i = leading; i < n - trailing; i++) {
    const DrawLog::Drawn& d = log_->drawn[i];
    const ScheduledPreselectGroup* group = preselect_[d.slot];
    std::vector<Pick> picks;
    const double total = d.entries.empty() ? -1.0 : d.entries.back().cumulative;
    if (!(total >= 0.0) || std::isinf(total)) {
      *error = std::string("group ") + group->getName() + " drew a member with the total weight " +
               describeTime(total);
      return false;
    }
    if (total == 0.0) {
      // No weight at all: the selection ends at the last entry.
      picks.push_back({d.entries.back().member->getSelectedAction(), 1.0, 0.5});
    } else {
      double low = 0.0;
      for (const BaseGroupClass::WeightEntry& entry : d.entries) {
        if (!(entry.cumulative >= low)) {
          *error = std::string("member ") + entry.member->getName() + " of group " +
                   group->getName() + " has a negative weight";
          return false;
        }
        if (entry.cumulative > low)
          picks.push_back({entry.member->getSelectedAction(), (entry.cumulative - low) / total,
                           (low + entry.cumulative) / 2 / total});
        low = entry.cumulative;
      }
    }
    plan->push_back(std::move(picks));
  }
  return true;
}

bool ExactSolver::EachCombination(const std::vector<std::vector<Pick>>& plan, double probability,
                                  const CombinationVisit& visit) {
  std::vector<size_t> at(plan.size(), 0);
  std::vector<double> uniforms(plan.size());
  while (true) {
    double p = probability;
    for (size_t i = 0; i < plan.size(); i++) {
      p *= plan[i][at[i]].probability;
      uniforms[i] = plan[i][at[i]].u;
    }
    if (!visit(p, uniforms, at)) return false;
    // The next combination, the last draw counting fastest.
    size_t i = plan.size();
    while (i > 0 && ++at[i - 1] == plan[i - 1].size()) at[--i] = 0;
    if (i == 0) return true;
  }
}

bool ExactSolver::SameDraws(const DrawLog& before, const std::vector<std::vector<Pick>>& plan,
                            const std::vector<size_t>& at, int leading) const {
  for (size_t i = 0; i < plan.size(); i++) {
    const DrawLog::Drawn& d = log_->drawn[leading + i];
    if (d.slot != before.drawn[leading + i].slot || d.chosen != plan[i][at[i]].chosen) return false;
  }
  return true;
}

bool ExactSolver::Settle(const Branch* parent, double probability, double now,
                         BaseActionClass* fired, std::map<double, Bucket>& pending,
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
  const double next = head ? head->FiringTime : HUGE_VAL;
  if (head && (std::isnan(next) || next < now)) {
    *error = std::string("unit ") + head->Action->getName() + " is scheduled at " +
             describeTime(next) + ", before the current time " + describeTime(now);
    return false;
  }
  if (!head || next > endTime_) {
    // The run ends: the nodes take the state up to the end time.
    Observe(probability, now, HUGE_VAL);
    Accumulate(&branch, parent, now, endTime_, fired);
    for (size_t j = 0; j < accumulated_.size(); j++) {
      Accumulator& a = sums_[accumulated_[j].node];
      a.value.add(branch.moments[2 * j]);
      a.square.add(branch.moments[2 * j + 1]);
      a.coverage.add(probability);
    }
    finishedMass_ += probability;
    stats_.finished++;
    return true;
  }
  Observe(probability, now, next);
  Accumulate(&branch, parent, now, next, fired);
  std::string key = Key(branch.snapshot);
  // Branches on different attack paths stay apart.
  if (options_.paths) appendBytes(&key, branch.walk.node);
  Bucket& bucket = pending[next];
  auto found = bucket.find(key);
  if (found != bucket.end()) {
    if (options_.paths)
      PathTracker::Merge(&found->second.walk, found->second.probability, branch.walk, probability);
    found->second.probability += probability;
    for (size_t m = 0; m < branch.moments.size(); m++)
      found->second.moments[m] += branch.moments[m];
  } else
    bucket.emplace(std::move(key), std::move(branch));
  return true;
}

bool ExactSolver::Fire(const Branch& branch, int unit, double tieU, bool tieScripted,
                       BaseGroupClass* member, double memberU, const std::vector<double>& scheduling,
                       double* now, std::string* error) {
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
  *now = sim_.CurrentTime;

  // The firing: the group's own selection picks the member, steered by the
  // uniform, and the units scheduled draw theirs, steered by the next ones;
  // the driver's step does the rest.
  g.Reset();
  if (member) g.Script(memberU);
  for (double u : scheduling) g.Script(u);
  BeginLog();
  sim_.SimStep();
  Checkpoint();
  return true;
}

bool ExactSolver::Successor(const Branch& branch, int unit, double tieU, bool tieScripted,
                            BaseGroupClass* member, double memberU, double probability,
                            std::map<double, Bucket>& pending, std::string* error) {
  // The action meant to fire: the member chosen now, the member the unit
  // drew when it was scheduled, or the unit itself.
  const int held = units_[unit].preselect;
  BaseActionClass* intended = member ? member : units_[unit].unit;
  if (held >= 0) {
    const int m = branch.snapshot.held[held];
    if (m < 0) {
      *error = std::string("unit ") + units_[unit].unit->getName() + " is due with no member drawn";
      return false;
    }
    intended = preselect_[held]->getMember(m);
  }

  // A first firing finds the units that the step schedules and that draw
  // their member, with the members' shares.
  double now = 0.0;
  if (!Fire(branch, unit, tieU, tieScripted, member, memberU, {}, &now, error)) return false;
  const int leading = member ? 1 : 0;
  const int trailing = sim_.HeadTies().size() >= 2 ? 1 : 0;
  std::vector<std::vector<Pick>> plan;
  if (!ReadPlan(leading, trailing, &plan, error)) {
    *error = std::string("firing ") + intended->getName() + " at " + describeTime(now) + " " + *error;
    return false;
  }
  const DrawLog before = *log_;

  // One successor per combination of the scheduling draws (the first firing
  // is that successor when there is none).
  return EachCombination(plan, probability, [&](double p, const std::vector<double>& uniforms,
                                                const std::vector<size_t>& at) {
    if (!plan.empty()) {
      if (!Fire(branch, unit, tieU, tieScripted, member, memberU, uniforms, &now, error))
        return false;
      // The same units must draw, each the member it was steered to; the
      // members' delays may make ties (and a draw among them) of their own.
      std::vector<std::vector<Pick>> again;
      std::string ignored;
      const bool same = ReadPlan(leading, sim_.HeadTies().size() >= 2 ? 1 : 0, &again, &ignored) &&
                        again.size() == plan.size() && SameDraws(before, plan, at, leading);
      if (!same) {
        *error = std::string("firing ") + intended->getName() + " at " + describeTime(now) +
                 " made other draws when the units it schedules were steered to their members; "
                 "the model makes random choices the exact solver cannot enumerate";
        return false;
      }
    }
    if (sim_.FiredAction != intended) {
      *error = std::string("firing unit ") + units_[unit].unit->getName() + " at " +
               describeTime(now) + " did not fire the intended action " + intended->getName();
      return false;
    }
    draws_->generator().Reset();
    stats_.successors++;
    if (p <= 0.0) return true;
    if (!options_.paths) return Settle(&branch, p, now, sim_.FiredAction, pending, error);
    PathTracker::Walk walk = branch.walk;
    options_.paths->tracker().Fired(&walk, sim_.FiredAction, now);
    return Settle(&branch, p, now, sim_.FiredAction, pending, error, &walk);
  });
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

bool ExactSolver::Start(std::map<double, Bucket>& pending, std::string* error) {
  ScriptedGenerator& g = draws_->generator();
  sim_.ResetSchedule();
  Snapshot initial;
  Capture(&initial);
  // The start of a replication, as the terminating loop makes it, with the
  // units' draws steered by the given uniforms.
  auto schedule = [&](const std::vector<double>& uniforms) {
    Restore(initial);
    sim_.ResetSchedule();
    g.Reset();
    for (double u : uniforms) g.Script(u);
    sim_.GenerateInitialEnabledList();
    BeginLog();
    const int built = sim_.GenerateCompleteEventList();
    Checkpoint();
    if (built == 0) return true;
    *error = "the initial event list could not be built";
    return false;
  };
  if (!schedule({})) return false;
  std::vector<std::vector<Pick>> plan;
  if (!ReadPlan(0, 0, &plan, error)) {
    *error = "building the initial event list " + *error;
    return false;
  }
  const DrawLog before = *log_;
  return EachCombination(plan, 1.0, [&](double p, const std::vector<double>& uniforms,
                                        const std::vector<size_t>& at) {
    if (!plan.empty()) {
      if (!schedule(uniforms)) return false;
      const bool same = log_->drawn.size() == before.drawn.size() && !log_->confused &&
                        SameDraws(before, plan, at, 0);
      if (!same) {
        *error = "building the initial event list made other draws when the units were steered "
                 "to their members; the model makes random choices the exact solver cannot "
                 "enumerate";
        return false;
      }
    }
    g.Reset();
    PathTracker::Walk start;
    if (options_.paths) options_.paths->tracker().Begin(&start);
    return p <= 0.0 ||
           Settle(nullptr, p, 0.0, nullptr, pending, error, options_.paths ? &start : nullptr);
  });
}

bool ExactSolver::Explore(std::string* error) {
  std::map<double, Bucket> pending;
  if (!Start(pending, error)) return false;

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
  for (ScheduledPreselectGroup* g : preselect_) g->HoldSelection(nullptr);
  sim_.pvModel->PVReset();
  sim_.ReleaseRun();
  if (draws_) {
    draws_->generator().Reset();
    draws_->generator().Observe(nullptr);
  }
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
    // An accumulated measure is named by the end of its interval, as the
    // simulation manager's rows name it.
    r.time = node.interval ? node.end : node.time;
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
