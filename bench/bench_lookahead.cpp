// Micro-benchmarks of the adversary's decision on attack_flow: a fresh
// horizon-5 search from the initial state, and a decision at a state whose
// decision is already cached.
#include <benchmark/benchmark.h>

#include "model/attack_flowKORVEL.h"

namespace {

void clearMarks(attack_flowKORVEL& m) {
  for (StepWeight* w : m.Weights) w->setMark(0);
  m.MakeDecision->setMark(0);
}

void BM_FreshDecisionHorizon5(benchmark::State& state) {
  attack_flowKORVEL m;
  for (auto _ : state) {
    clearMarks(m);
    m.ParametersChanged();
    m.recalculateAdversaryDecisionWeights();
  }
}
BENCHMARK(BM_FreshDecisionHorizon5);

void BM_CachedDecision(benchmark::State& state) {
  attack_flowKORVEL m;
  for (auto _ : state) {
    clearMarks(m);
    m.recalculateAdversaryDecisionWeights();
  }
}
BENCHMARK(BM_CachedDecision);

}  // namespace

BENCHMARK_MAIN();
