// The steady-state (batch means) loop, run in process on a small ticker model
// whose batch values tell when each batch was closed, with the observations
// read back from the binary result file the run writes.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "SteadyStateTestModel.h"
#include "network/TarvexProcess.h"
#include "simulator/SimTestSupport.h"
#include "simulator/SimulatorClass.h"
#include "support/ResultFiles.h"

using support::BinaryFile;
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
  SteadyStateRun(std::vector<double> times, std::vector<Window> windows, int reportSize, int maxBatches) {
    testing::internal::CaptureStdout();
    sim_ = simtest::makeSimulator({"-t", "1", "-n", std::to_string(reportSize), "-b", dir_.file("ss.bin")});
    testing::internal::GetCapturedStdout();
    model_ = std::make_unique<TickerReward>(std::move(times), std::move(windows));

    // What set-up does for a steady-state run of this model, whose nodes are
    // all steady-state nodes.
    model_->ConsiderOnly(nullptr, 0);
    other_ = {model_.get(), model_->getGroups(), model_->getNumGroups(), model_->getNumPVs(),
              std::vector<EventRecord>(model_->getNumGroups()), std::make_unique<EventList>(model_->getNumGroups() + 1)};
    for (int i = 0; i < other_.units; i++) other_.groups[i]->EventRecord = &other_.records[i];
    exchange();
    sim_->IsTerminating = 0;
    sim_->MaxBatches = maxBatches;
  }
  ~SteadyStateRun() { finish(); }

  // Runs the loop; returns what it wrote to standard output.
  std::string run() {
    testing::internal::CaptureStdout();
    sim_->SteadyStateSimulation();
    return testing::internal::GetCapturedStdout();
  }

  // Puts the simulator's own model back and destroys the simulator, which
  // completes the binary file.
  BinaryFile finish() {
    if (sim_) {
      actionsFired_ = sim_->ActionsFired;
      stopFlag_ = sim_->StopFlag;
      exchange();
      sim_.reset();
    }
    return support::readBinary(dir_.file("ss.bin"));
  }

  SimulatorClass& sim() { return *sim_; }
  sstest::TickerModel& ticker() { return *model_->ticker(); }
  int actionsFired() const { return actionsFired_; }
  int stopFlag() const { return stopFlag_; }

 private:
  // The model, units, scheduling records (moved, so their addresses stay)
  // and event list that are not the simulator's at the moment.
  struct Setup {
    PVModel* model;
    BaseGroupClass** groups;
    int units, pvs;
    std::vector<EventRecord> records;
    std::unique_ptr<EventList> list;
  };
  void exchange() {
    std::swap(sim_->pvModel, other_.model);
    std::swap(sim_->Groups, other_.groups);
    std::swap(sim_->NumUnits, other_.units);
    std::swap(sim_->NumPVs, other_.pvs);
    std::swap(sim_->EventRecords, other_.records);
    std::swap(sim_->eventList, other_.list);
  }

  support::TempDir dir_;
  std::unique_ptr<SimulatorClass> sim_;
  std::unique_ptr<TickerReward> model_;
  Setup other_;
  int actionsFired_ = -1;
  int stopFlag_ = -1;
};

std::vector<double> ticksAt(int first, int last) {
  std::vector<double> t;
  for (int i = first; i <= last; i++) t.push_back(i);
  return t;
}

}  // namespace

// Each case: the ticker's firing times, the nodes' windows, the report
// size and batch limit; then the batch values of each node, the firings, the
// number of records and whether the run ended in an absorbing state.
TEST(SteadyState, BatchesCloseWhereTheirWindowsEnd) {
  struct Case {
    const char* what;
    std::vector<double> times;
    std::vector<Window> windows;
    int reportSize, maxBatches;
    std::vector<std::vector<double>> series;
    int fired;
    size_t records;
    bool absorbing;
  };
  std::vector<double> early, late;
  for (int t = 10; t <= 130; t += 10) early.push_back(t - 1);
  for (int t = 110; t <= 130; t += 10) late.push_back(t - 1);
  const Case cases[] = {
      // Ticks at 1, 2, ..., so each window's end coincides with a tick, which
      // fires only after the batch is closed: a batch ending at time t
      // records t - 1 ticks. Node 1 has a transient up to 100; it completes
      // its third batch at 130, the limit is detected there, and the tick at
      // 130 still fires.
      {"transient and batch limit", ticksAt(1, 300), {{0, 10}, {100, 110}}, 1000, 3, {early, late}, 130, 1, false},
      // The gap from 3 to 47 spans the ends at 10, 20, 30 and 40: four
      // batches closed in one call, all of the same state; then 50, 60 and
      // 70 at 75.
      {"gap over several windows", {1, 2, 3, 47, 48, 75}, {{0, 10}}, 1000, 0, {{3, 3, 3, 3, 5, 5, 5}}, 6, 1, true},
      // Report size 2: node 0 closes a batch at every tick 1..7, node 1 at 3
      // and 6. Node 0's full row forces a hand-over before its 3rd, 5th and
      // 7th observation, carrying node 1's partial row along; the absorbing
      // state hands over the rest.
      {"full rows", ticksAt(1, 7), {{0, 1}, {0, 3}}, 2, 0, {{0, 1, 2, 3, 4, 5, 6}, {2, 5}}, 7, 4, true},
      // An empty event list ends the run at once with one empty (9-byte)
      // hand-over.
      {"no events", {}, {{0, 10}}, 1000, 3, {{}}, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SteadyStateRun run(c.times, c.windows, c.reportSize, c.maxBatches);
    std::string out = run.run();
    BinaryFile file = run.finish();
    ASSERT_TRUE(file.whole);
    for (size_t node = 0; node < c.series.size(); node++) EXPECT_EQ(file.series(static_cast<int>(node)), c.series[node]);
    EXPECT_EQ(run.actionsFired(), c.fired);
    ASSERT_EQ(file.records.size(), c.records);
    for (const support::Record& r : file.records)
      for (const support::Entry& e : r.entries) EXPECT_LE(e.values.size(), static_cast<size_t>(c.reportSize));
    EXPECT_EQ(out.find(kAbsorbing) != std::string::npos, c.absorbing) << out;
    if (c.times.empty()) {
      EXPECT_EQ(file.records[0].length, 9u);
    } else if (c.maxBatches > 0) {
      EXPECT_EQ(run.stopFlag(), int{SimulatorClass::kStop});
    }
  }
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
  BinaryFile file = run.finish();
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(run.actionsFired(), 4);
  EXPECT_EQ(out.find("absorbing"), std::string::npos);
  // Batches closed at 1 and 2 went out when the row filled at 3; those
  // closed at 3 and 4 were still in the packet.
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(file.series(0), (std::vector<double>{0, 1}));
}

// A stop signal ends the steady-state run at the next step: the batches
// closed so far are all handed over (the partial row too), the header
// counts them, and the signal is recorded for the exit status.
TEST(SteadyState, AStopSignalHandsOverEveryClosedBatch) {
  TarvexProcess::InstallTerminationHook(true);
  SteadyStateRun run(ticksAt(1, 20), {{0, 1}}, 2, 0);
  run.ticker().AfterFiring = [](int fired) {
    if (fired == 5) std::raise(SIGTERM);
  };
  run.run();
  const int signal = run.sim().StopSignal;
  BinaryFile file = run.finish();
  TarvexProcess::ClearTermination();
  std::signal(SIGTERM, SIG_DFL);
  EXPECT_EQ(signal, SIGTERM);
  EXPECT_EQ(run.actionsFired(), 5);
  EXPECT_EQ(file.series(0), (std::vector<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(file.batches(), 5);
}
