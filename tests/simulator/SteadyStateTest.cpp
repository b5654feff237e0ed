// The steady-state (batch means) loop, run in process on a small ticker model
// whose batch values tell when each batch was closed, with the observations
// read back from the binary result file the run writes.
#include <gtest/gtest.h>

#include <cfloat>
#include <memory>
#include <string>
#include <vector>

#include "ManagerClient.h"
#include "SteadyStateTestModel.h"
#include "simulator/SimulatorClass.h"

using mgrtest::BinFile;
using mgrtest::TempDir;
using sstest::TickerReward;
using sstest::Window;

namespace {

const char kAbsorbing[] =
    "Simulator encountered an absorbing state and is unable to proceed.  Terminating run.\n";

// A simulator built from a terminating command line (the product's reward
// model has no steady-state nodes), then given the ticker model in place of
// its own and switched to steady state. The simulator's own model, units,
// scheduling records and event list are put back before it is destroyed.
class SteadyStateRun {
 public:
  SteadyStateRun(std::vector<double> times, std::vector<Window> windows, int reportSize,
                 int maxBatches) {
    std::vector<std::string> args = {"sim", "-t", "1", "-n", std::to_string(reportSize), "-b",
                                     dir_.file("ss.bin")};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    sim_ = std::make_unique<SimulatorClass>(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    model_ = std::make_unique<TickerReward>(std::move(times), std::move(windows));

    SimulatorClass& s = *sim_;
    ownModel_ = s.pvModel;
    ownGroups_ = s.Groups;
    ownUnits_ = s.NumUnits;
    ownPVs_ = s.NumPVs;
    std::swap(s.EventRecords, ownRecords_);  // keeps the records' addresses
    std::swap(s.eventList, ownEventList_);

    // What set-up does for a steady-state run of this model.
    s.pvModel = model_.get();
    std::vector<int> considered;
    for (int i = 0; i < model_->getNumPVs(); i++) {
      if (model_->getNode(i)->SteadyStateFlag == 1)
        considered.push_back(i);
      else
        model_->getNode(i)->StopTime = DBL_MAX;
    }
    model_->ConsiderOnly(considered.data(), static_cast<int>(considered.size()));
    s.Groups = model_->getGroups();
    s.NumUnits = model_->getNumGroups();
    s.EventRecords.assign(s.NumUnits, EventRecord());
    for (int i = 0; i < s.NumUnits; i++) s.Groups[i]->EventRecord = &s.EventRecords[i];
    s.eventList = std::make_unique<EventList>(s.NumUnits + 1);
    s.NumPVs = model_->getNumPVs();
    s.IsTerminating = 0;
    s.MaxBatches = maxBatches;
  }

  ~SteadyStateRun() { finish(); }

  // Runs the loop; returns what it wrote to standard output.
  std::string run() {
    testing::internal::CaptureStdout();
    sim_->SteadyStateSimulation();
    return testing::internal::GetCapturedStdout();
  }

  // Restores the simulator and destroys it, which completes the binary file.
  BinFile finish() {
    if (sim_) {
      SimulatorClass& s = *sim_;
      actionsFired_ = s.ActionsFired;
      stopFlag_ = s.StopFlag;
      s.pvModel = ownModel_;
      s.Groups = ownGroups_;
      s.NumUnits = ownUnits_;
      s.NumPVs = ownPVs_;
      std::swap(s.EventRecords, ownRecords_);
      std::swap(s.eventList, ownEventList_);
      sim_.reset();
    }
    return mgrtest::readBinFile(dir_.file("ss.bin"));
  }

  SimulatorClass& sim() { return *sim_; }
  sstest::TickerModel& ticker() { return *model_->ticker(); }
  int actionsFired() const { return actionsFired_; }
  int stopFlag() const { return stopFlag_; }

 private:
  TempDir dir_;
  std::unique_ptr<SimulatorClass> sim_;
  std::unique_ptr<TickerReward> model_;
  PVModel* ownModel_ = nullptr;
  BaseGroupClass** ownGroups_ = nullptr;
  int ownUnits_ = 0;
  int ownPVs_ = 0;
  std::vector<EventRecord> ownRecords_;
  std::unique_ptr<EventList> ownEventList_;
  int actionsFired_ = -1;
  int stopFlag_ = -1;
};

std::vector<double> ticksAt(int first, int last) {
  std::vector<double> t;
  for (int i = first; i <= last; i++) t.push_back(i);
  return t;
}

}  // namespace

TEST(SteadyState, RefusedForTheAttackFlowRewardModel) {
  TempDir dir;
  mgrtest::SimProcess sim(dir.path(), {"-t", "0", "-N", "3"});
  EXPECT_EQ(sim.waitExit(), 1);
  EXPECT_EQ(sim.err().rfind("ERROR: ", 0), 0u) << sim.err();
}

// Ticks at 1, 2, ..., so each window's end coincides with a tick, which
// fires only after the batch is closed: a batch ending at time t records
// t - 1 ticks.
TEST(SteadyState, TransientFirstWindowsAndBatchLimit) {
  // Node 0 observes from time 0 in windows of 10; node 1 has a transient up
  // to 100, then windows of 10.
  SteadyStateRun run(ticksAt(1, 300), {{0, 10}, {100, 110}}, 1000, 3);
  std::string out = run.run();
  BinFile file = run.finish();
  ASSERT_TRUE(file.whole);

  std::vector<double> early, late;
  for (int t = 10; t <= 130; t += 10) early.push_back(t - 1);
  for (int t = 110; t <= 130; t += 10) late.push_back(t - 1);
  EXPECT_EQ(file.series(0), early);
  EXPECT_EQ(file.series(1), late);
  // Node 1 completes its third batch at 130, the limit is detected there, and
  // the tick at 130 still fires.
  EXPECT_EQ(run.actionsFired(), 130);
  EXPECT_EQ(file.records.size(), 1u);
  EXPECT_EQ(run.stopFlag(), int{SimulatorClass::kStop});
  EXPECT_EQ(out.find("absorbing"), std::string::npos);
}

TEST(SteadyState, GapSpanningSeveralWindowsThenAbsorbingState) {
  // The gap from 3 to 47 spans the ends at 10, 20, 30 and 40: four batches
  // closed in one call, all of the same state; then 50, 60 and 70 at 75.
  SteadyStateRun run({1, 2, 3, 47, 48, 75}, {{0, 10}}, 1000, 0);
  std::string out = run.run();
  BinFile file = run.finish();
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(file.series(0), (std::vector<double>{3, 3, 3, 3, 5, 5, 5}));
  EXPECT_EQ(run.actionsFired(), 6);
  EXPECT_NE(out.find(kAbsorbing), std::string::npos) << out;
  EXPECT_EQ(file.records.size(), 1u);
}

TEST(SteadyState, FullRowIsHandedOverBeforeTheNextObservation) {
  // Report size 2: node 0 closes a batch at every tick 1..7, node 1 at 3 and
  // 6. Node 0's full row forces a hand-over before its 3rd, 5th and 7th
  // observation, carrying node 1's partial row along; the absorbing state
  // hands over the rest.
  SteadyStateRun run(ticksAt(1, 7), {{0, 1}, {0, 3}}, 2, 0);
  std::string out = run.run();
  BinFile file = run.finish();
  ASSERT_TRUE(file.whole);
  EXPECT_NE(out.find(kAbsorbing), std::string::npos);
  ASSERT_EQ(file.records.size(), 4u);
  for (const mgrtest::Record& r : file.records)
    for (const mgrtest::Entry& e : r.entries) EXPECT_LE(e.values.size(), 2u);
  EXPECT_EQ(file.series(0), (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(file.series(1), (std::vector<double>{2, 5}));
}

TEST(SteadyState, EmptyEventListEndsAtOnceWithAnEmptyHandOver) {
  SteadyStateRun run({}, {{0, 10}}, 1000, 3);
  std::string out = run.run();
  BinFile file = run.finish();
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(run.actionsFired(), 0);
  EXPECT_EQ(out.find("absorbing"), std::string::npos);
  // One record without entries: 9 bytes.
  ASSERT_EQ(file.rawRecords.size(), 1u);
  EXPECT_EQ(file.rawRecords[0].size(), 9u);
  EXPECT_TRUE(file.records[0].entries.empty());
}

// A stop from the output side or the manager (run state 2) ends the run
// without the final hand-over: the observations since the last full row are
// not written.
TEST(SteadyState, StopFromOutsideSkipsTheFinalHandOver) {
  SteadyStateRun run(ticksAt(1, 20), {{0, 1}}, 2, 0);
  SimulatorClass& sim = run.sim();
  run.ticker().AfterFiring = [&sim](int fired) {
    if (fired == 4) sim.StopFlag = SimulatorClass::kStop;
  };
  std::string out = run.run();
  BinFile file = run.finish();
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(run.actionsFired(), 4);
  EXPECT_EQ(out.find("absorbing"), std::string::npos);
  // Batches closed at 1 and 2 went out when the row filled at 3; those
  // closed at 3 and 4 were still in the packet.
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(file.series(0), (std::vector<double>{0, 1}));
}
