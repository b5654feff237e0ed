// The simulation step: attack_flow replications stepped by hand, the three
// rescheduling passes on hand-wired units, the end of a replication, and
// snapshots of the schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "model/attack_flowKORVEL.h"
#include "rewards/PVModel.h"
#include "simulator/SimTestSupport.h"
#include "support/ScriptedGenerator.h"

using simtest::TestUnit;
using V = std::vector<BaseActionClass*>;

namespace {

// Replaces the simulator's schedulable units by test units for one scope.
struct UnitsScope {
  UnitsScope(SimulatorClass& sim, std::vector<BaseGroupClass*> units)
      : sim(sim), units(std::move(units)), groups(sim.Groups), numUnits(sim.NumUnits) {
    sim.Groups = this->units.data();
    sim.NumUnits = static_cast<int>(this->units.size());
    sim.eventList = std::make_unique<EventList>(sim.NumUnits + 1);
    sim.TemplateEvent = std::make_unique<Event>();
    sim.PlaceholderAction = std::make_unique<BaseActionClass>();
    sim.FiredAction = sim.PlaceholderAction.get();
    sim.CurrentTime = 0.0;
  }
  ~UnitsScope() {
    sim.eventList->ClearEventList();
    sim.ReactivationList.clear();
    sim.Groups = groups;
    sim.NumUnits = numUnits;
  }
  SimulatorClass& sim;
  std::vector<BaseGroupClass*> units;
  BaseGroupClass** groups;
  int numUnits;
};

// Sets the current event, time and unit as the loops do before stepping.
void startAt(SimulatorClass& sim) {
  sim.CurrentEvent = sim.eventList->Earliest();
  ASSERT_NE(sim.CurrentEvent, nullptr);
  sim.CurrentTime = (*sim.CurrentEvent)->FiringTime;
  sim.CurrentAction = (*sim.CurrentEvent)->Action;
}

V reactivationList(const SimulatorClass& sim) { return V(sim.ReactivationList.begin(), sim.ReactivationList.end()); }

// The firing and schedule time of a unit's event.
std::pair<double, double> timesOf(const TestUnit& u) {
  return {(*u.record.HeapSlot)->FiringTime, (*u.record.HeapSlot)->ScheduleTime};
}

}  // namespace

// Replications stepped by hand: decisions and outcomes alternate with the
// outcomes' durations, and every observation equals its variable after the
// last firing at or before its instant, as recorded here.
TEST(StepTest, AttackFlowReplicationsByHand) {
  auto sim = simtest::makeSimulator();
  auto* model = static_cast<attack_flowKORVEL*>(sim->pvModel->getChildModel());
  PVModel* pv = sim->pvModel;
  BaseGroupClass** g = model->GroupList;
  KORVELStateVariable* observed[8] = {model->NoKeyNoAccess, model->SSIDMACtargetnetwork, model->NetworkKey,
                                      model->NetworkAccess, model->Hijacking, model->MITM, model->DOS,
                                      model->SensitiveInformation};
  sim->TemplateEvent = std::make_unique<Event>();
  sim->PlaceholderAction = std::make_unique<BaseActionClass>();
  std::vector<char> initial(pv->StateSize());
  pv->CurrentState(initial.data());
  // Only the decision group is enabled at first: the list shrinks to it.
  sim->GenerateInitialEnabledList();
  EXPECT_EQ(sim->EnabledList, (V{g[9]}));

  for (int rep = 0; rep < 6; rep++) {
    SCOPED_TRACE("replication " + std::to_string(rep));
    sim->CurrentTime = 0.0;
    sim->eventList->ClearEventList();
    ASSERT_EQ(sim->GenerateCompleteEventList(), 0);
    sim->FiredAction = sim->PlaceholderAction.get();
    startAt(*sim);
    EXPECT_EQ(sim->CurrentAction, g[9]);
    EXPECT_EQ(sim->CurrentTime, 0.0);

    std::vector<std::pair<double, std::array<short, 8>>> history;
    int decision = -1, steps = 0;
    double decisionTime = 0.0;
    while (!(sim->CurrentTime > 100.0)) {
      double t = sim->CurrentTime;
      BaseActionClass* unit = sim->CurrentAction;
      ASSERT_EQ(sim->SimStep(), 1);
      steps++;
      EXPECT_EQ(pv->getLastFiredAction(), sim->FiredAction);
      std::array<short, 8> values;
      for (int k = 0; k < 8; k++) values[k] = observed[k]->getMark();
      history.emplace_back(t, values);
      if (steps % 2 == 1) {
        EXPECT_EQ(unit, g[9]);
        decision = int(std::find(model->Decisions, model->Decisions + 9, sim->FiredAction) - model->Decisions);
        ASSERT_LT(decision, 9) << "step " << steps;
        decisionTime = t;
      } else {
        attack_flowStep** s = std::find(model->Steps, model->Steps + 15, sim->FiredAction);
        ASSERT_NE(s, model->Steps + 15) << "step " << steps;
        EXPECT_EQ((*s)->GroupID, decision);
        EXPECT_EQ(unit, g[decision]);
        EXPECT_EQ(t, decisionTime + (*s)->timeDistributionParameter0());
      }
      if (rep == 0 && steps <= 4) {
        // The scan first, then PasswordCapture.
        const V fired = {model->Decisions[0], model->Steps[0], model->Decisions[7]};
        const double next[] = {2, 2, 10, 10};
        const V nextUnit = {g[0], g[9], g[7], g[9]};
        if (steps < 4)
          EXPECT_EQ(sim->FiredAction, fired[steps - 1]);
        else
          EXPECT_TRUE(sim->FiredAction == model->Steps[12] || sim->FiredAction == model->Steps[13]);
        EXPECT_EQ(sim->CurrentTime, next[steps - 1]) << "after step " << steps;
        EXPECT_EQ(sim->CurrentAction, nextUnit[steps - 1]) << "after step " << steps;
      }
      EXPECT_EQ(sim->eventList->Count(), 1);
    }
    pv->EndAccumulate(100.0);
    for (int k = 0; k < 8; k++) {
      for (int i = 0; i <= 20; i++) {
        PerformanceVariableNode* node = pv->getNode(21 * k + i);
        double expected = k == 0 ? 1.0 : 0.0;
        for (const auto& h : history)
          if (h.first <= 5.0 * i) expected = h.second[k];
        EXPECT_EQ(node->NodeState, NodeDone);
        EXPECT_EQ(node->Value, expected) << node->getName() << " at " << 5 * i;
      }
    }
    pv->SetState(initial.data());
    pv->PVReset();
  }
}

// The three passes of a step on units whose answers are set by hand, and
// the order in which the units draw their delays.
TEST(StepTest, ReschedulingPasses) {
  auto sim = simtest::makeSimulator();
  std::vector<std::string> log;
  TestUnit F("F", 3, {1, 1, 100}), K("K", 0, {10}), D("D", 0, {20}), N("N", 0, {3}), C("C", 0, {30, 5}),
      R("R", 0, {50, 7}), R2("R2", 0, {60}), R3("R3", 0, {70}), R4("R4", 0, {80, 9, 11}), H("H", 2, {2, 100}),
      Z("Z", 1, {0});
  std::vector<TestUnit*> all = {&F, &K, &D, &N, &C, &R, &R2, &R3, &R4, &H, &Z};
  for (TestUnit* u : all) u->log = &log;
  N.on = Z.on = false;
  R.predicate = R2.predicate = R3.predicate = R4.predicate = true;
  F.AffectsList = {&K, &D, &N, &C, &R4, &Z, &F};
  H.AffectsList = {&H};
  N.AffectsList = {&D, &N};
  F.onFire = [&] {
    bool first = F.fired == 1;
    D.on = false;  // disabled, and says so
    D.change = C.change = first;  // C is re-drawn although still enabled
    N.on = true;  // newly enabled
    R.function = first;  // re-drawn in the walk, then leaves the list
    R.predicate = false;
    R3.on = false;  // disabled while in the reactivation list
    R4.function = first;  // re-drawn in the walk and again as affected
    Z.on = !first;  // zero delay, rank 1, at the second firing
  };
  N.onFire = [&] { N.on = false, D.on = true; };
  Z.onFire = [&] { Z.on = false; };

  UnitsScope scope(*sim, std::vector<BaseGroupClass*>(all.begin(), all.end()));
  sim->GenerateInitialEnabledList();
  EXPECT_EQ(sim->EnabledList.size(), 11u);  // 9 of 11 enabled: not shrunk
  ASSERT_EQ(sim->GenerateCompleteEventList(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"F", "K", "D", "C", "R", "R2", "R3", "R4", "H"}));
  EXPECT_EQ(reactivationList(*sim), (V{&R4, &R3, &R2, &R}));
  for (TestUnit* u : {&R, &R2, &R3, &R4}) EXPECT_TRUE(u->Reactivation && !u->record.OffReactivationList);
  startAt(*sim);

  log.clear();
  ASSERT_EQ(sim->SimStep(), 1);  // F at 1
  EXPECT_EQ(log, (std::vector<std::string>{"R4", "R", "N", "C", "R4", "F"}));
  EXPECT_EQ(timesOf(K), std::make_pair(10.0, 0.0));  // keeps its clock
  EXPECT_EQ(D.record.HeapSlot, nullptr);
  EXPECT_EQ(timesOf(N), std::make_pair(4.0, 1.0));
  EXPECT_EQ(timesOf(C), std::make_pair(6.0, 1.0));
  EXPECT_EQ(timesOf(R), std::make_pair(8.0, 1.0));
  EXPECT_TRUE(!R.Reactivation && R.record.OffReactivationList);
  EXPECT_EQ(timesOf(R2), std::make_pair(60.0, 0.0));
  EXPECT_EQ(R3.record.HeapSlot, nullptr);
  EXPECT_TRUE(!R3.Reactivation && R3.record.OffReactivationList);
  EXPECT_EQ(timesOf(R4), std::make_pair(12.0, 1.0));
  EXPECT_EQ(timesOf(F), std::make_pair(2.0, 1.0));
  EXPECT_EQ(reactivationList(*sim), (V{&R4, &R2}));
  EXPECT_EQ(sim->eventList->Count(), 8);
  EXPECT_EQ(sim->CurrentAction, &F);  // at 2, rank 3 before H's rank 2
  EXPECT_EQ(sim->CurrentTime, 2.0);

  // At 2, F enables Z, which fires after the higher-ranked H; N at 4
  // finds D enabled again: a fresh draw from time 4.
  V fired;
  std::vector<double> times;
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(sim->SimStep(), 1);
    fired.push_back(sim->FiredAction);
    times.push_back(sim->CurrentTime);
  }
  EXPECT_EQ(fired, (V{&F, &H, &Z, &N}));
  EXPECT_EQ(times, (std::vector<double>{2, 2, 4, 6}));
  EXPECT_EQ(timesOf(D), std::make_pair(24.0, 4.0));
  EXPECT_EQ(sim->ActionsFired, 5);
  EXPECT_EQ(sim->eventList->IsValid(), 0);
}

// With nothing left, the step reports the end and time stays at the last
// firing. In a run, an event exactly at the end time (100) fires and a
// later one does not.
TEST(StepTest, EndOfEventsAndEndTime) {
  auto sim = simtest::makeSimulator();
  {
    TestUnit last("Last", 0, {5});
    last.predicate = true;  // it leaves the reactivation list when it fires
    last.AffectsList = {&last};
    last.onFire = [&] { last.on = false; };
    UnitsScope scope(*sim, {&last});
    sim->GenerateInitialEnabledList();
    ASSERT_EQ(sim->GenerateCompleteEventList(), 0);
    startAt(*sim);
    EXPECT_EQ(sim->SimStep(), 0);
    EXPECT_EQ(sim->CurrentTime, 5.0);
    EXPECT_EQ(sim->CurrentEvent, nullptr);
    EXPECT_TRUE(sim->ReactivationList.empty() && !last.Reactivation && last.record.OffReactivationList);
  }
  TestUnit atEnd("AtEnd", 0, {100.0}), later("Later", 0, {100.5});
  atEnd.AffectsList = {&atEnd, &later};
  atEnd.onFire = [&] { atEnd.on = false; };
  UnitsScope scope(*sim, {&atEnd, &later});
  testing::internal::CaptureStdout();
  sim->Run();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(atEnd.fired, 1);
  EXPECT_EQ(later.fired, 0);
  EXPECT_EQ(sim->ReplicationCount, 1);
  EXPECT_NE(out.find("Actions fired: 2\n"), std::string::npos);  // counted since creation
}

// A snapshot taken mid-run and restored after the run went on gives back
// the same schedule (events, reactivation list, time, state image), a
// consistent event list and the same ties with the same chances; the run
// then continues from there.
TEST(StepTest, SnapshotRestoresTheSchedule) {
  auto sim = simtest::makeSimulator();
  support::ScriptedScope draws;
  // Two pairs that keep tying (weights 1 and 3, then 2 and 2), a unit that
  // is re-drawn at every step, and one with a fixed clock.
  TestUnit a("A", 0, {2}, 1.0), b("B", 0, {2}, 3.0), c("C", 1, {3}, 2.0), d("D", 1, {3}, 2.0),
      r("R", 0, {0.5, 1.5}), k("K", 0, {7});
  r.predicate = r.function = true;
  std::vector<TestUnit*> all = {&a, &b, &c, &d, &r, &k};
  for (TestUnit* u : all) u->AffectsList = {u};
  UnitsScope scope(*sim, std::vector<BaseGroupClass*>(all.begin(), all.end()));
  sim->GenerateInitialEnabledList();
  ASSERT_EQ(sim->GenerateCompleteEventList(), 0);
  ASSERT_TRUE(sim->TakeEarliest());
  for (int i = 0; i < 5; i++) ASSERT_EQ(sim->SimStep(), 1);

  Scheduler::SavedSchedule saved;
  sim->Snapshot(&saved);
  auto chances = [&] {
    std::map<const BaseActionClass*, double> p;
    for (const Scheduler::Tie& t : sim->HeadTies()) p[t.unit] += t.probability;
    return p;
  };
  const auto before = chances();
  ASSERT_EQ(saved.events.size(), all.size());
  EXPECT_EQ(saved.reactivation, std::vector<int>{4});
  for (int i = 0; i < 7; i++) ASSERT_EQ(sim->SimStep(), 1);
  EXPECT_GT(sim->CurrentTime, saved.time);

  sim->Restore(saved);
  Scheduler::SavedSchedule again;
  sim->Snapshot(&again);
  EXPECT_EQ(again.state, saved.state);
  EXPECT_EQ(again.time, saved.time);
  EXPECT_EQ(again.reactivation, saved.reactivation);
  ASSERT_EQ(again.events.size(), saved.events.size());
  for (size_t i = 0; i < saved.events.size(); i++) {
    EXPECT_EQ(again.events[i].unit, saved.events[i].unit);
    EXPECT_EQ(again.events[i].firing, saved.events[i].firing);
    EXPECT_EQ(again.events[i].scheduled, saved.events[i].scheduled);
  }
  EXPECT_EQ(sim->eventList->IsValid(), 0);
  EXPECT_TRUE(r.Reactivation && !r.record.OffReactivationList);
  EXPECT_EQ(chances(), before);
  for (size_t i = 0; i < all.size(); i++) EXPECT_EQ(sim->UnitIndex(all[i]), static_cast<int>(i));

  ASSERT_TRUE(sim->TakeEarliest());
  EXPECT_GE(sim->CurrentTime, saved.time);
  ASSERT_EQ(sim->SimStep(), 1);
  EXPECT_EQ(sim->eventList->IsValid(), 0);
}
