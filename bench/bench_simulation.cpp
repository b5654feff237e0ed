// Micro-benchmarks of the simulation core on attack_flow: one replication
// (from the initial state to the end time, with the reset that follows) and
// one simulation step.
#include <benchmark/benchmark.h>

#include <vector>

#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"
#include "trace/TraceFileContainer.h"

namespace {

// A simulator built from a command line, with the state of a terminating
// run just before its first replication.
struct Prepared {
  Prepared() : sim(3, const_cast<char**>(kArgs)) {
    sim.TemplateEvent = std::make_unique<Event>();
    sim.PlaceholderAction = std::make_unique<BaseActionClass>();
    initial.resize(sim.pvModel->StateSize());
    sim.pvModel->CurrentState(initial.data());
    sim.GenerateInitialEnabledList();
  }
  void reset() {
    sim.pvModel->SetState(initial.data());
    sim.pvModel->PVReset();
  }
  static constexpr const char* kArgs[] = {"bench", "-N", "1", nullptr};
  SimulatorClass sim;
  std::vector<char> initial;
};

void BM_Replication(benchmark::State& state) {
  Prepared p;
  for (auto _ : state) {
    p.sim.SimulateReplication();
    p.reset();
  }
  state.counters["firings/replication"] =
      benchmark::Counter(static_cast<double>(p.sim.ActionsFired) / state.iterations());
}
BENCHMARK(BM_Replication);

void BM_Step(benchmark::State& state) {
  Prepared p;
  // Each round starts a replication and steps it to the end time; only the
  // steps are timed.
  long steps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    p.reset();
    p.sim.CurrentTime = 0.0;
    p.sim.eventList->ClearEventList();
    p.sim.GenerateCompleteEventList();
    p.sim.FiredAction = p.sim.PlaceholderAction.get();
    p.sim.CurrentEvent = p.sim.eventList->Earliest();
    p.sim.CurrentTime = (*p.sim.CurrentEvent)->FiringTime;
    p.sim.CurrentAction = (*p.sim.CurrentEvent)->Action;
    state.ResumeTiming();
    while (p.sim.CurrentTime <= 100.0 && p.sim.SimStep()) steps++;
  }
  state.SetItemsProcessed(steps);
}
BENCHMARK(BM_Step);

}  // namespace

BENCHMARK_MAIN();
