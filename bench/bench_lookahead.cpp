// Micro-benchmarks of the adversary's decision: on attack_flow, a fresh
// horizon-5 search from the initial state and a decision at a state whose
// decision is already cached; on synthetic layered models
// (tools/gen-attack-model, 10 to 80 decisions, horizons 3 to 7), a fresh
// initial decision by the memoised search and, where it ends within about a
// minute, by the plain exhaustive one. Counters: nodes of the full search
// tree, states the memoised search evaluated, bytes of its memo.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/ModelFile.h"
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

// The synthetic model of n decisions and horizon h (seed 1), written once.
std::shared_ptr<ModelDescription> synthetic(int n, int h) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir ? dir : "/tmp") + "/tarvex-bench-gen" + std::to_string(n) +
                     "-h" + std::to_string(h) + ".toml";
  std::string command = "python3 " TARVEX_SOURCE_DIR "/tools/gen-attack-model --decisions " +
                        std::to_string(n) + " --seed 1 --horizon " + std::to_string(h) + " -o " +
                        path;
  auto d = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  if (std::system(command.c_str()) != 0 || !LoadModelFile(path, d.get(), &errors)) return nullptr;
  std::remove(path.c_str());
  return d;
}

// Arguments: decisions, horizon, 1 for the memoised search or 0 for the
// plain one.
void BM_SyntheticFreshDecision(benchmark::State& state) {
  std::shared_ptr<ModelDescription> d = synthetic(state.range(0), state.range(1));
  if (!d) {
    state.SkipWithError("the synthetic model could not be generated");
    return;
  }
  FileKORVELModel m(d);
  const int h = m.planningHorizon;
  const bool memoised = state.range(2) != 0;
  size_t memo = 0;
  uint64_t states = 0;
  for (auto _ : state) {
    m.ParametersChanged();
    uint64_t before = m.memoisedEvaluations();
    Step* best = nullptr;
    double payoff = 0, cost = 0, detection = 0;
    if (memoised)
      m.exploreStateSpaceMemoised(h, &best, &payoff, &cost, &detection);
    else
      m.exploreStateSpace(h, &best, &payoff, &cost, &detection);
    benchmark::DoNotOptimize(best);
    memo = m.lookaheadMemo().bytes();
    states = m.memoisedEvaluations() - before;
  }
  state.counters["nodes"] = static_cast<double>(m.countSearchNodes(h));
  if (memoised) {
    state.counters["states"] = static_cast<double>(states);
    state.counters["memoKB"] = static_cast<double>(memo) / 1024;
  }
}

void SyntheticArguments(benchmark::internal::Benchmark* b) {
  b->ArgNames({"decisions", "horizon", "memo"});
  // The plain search takes about 50 ns a node: the horizons at which it
  // ends within a minute.
  const long plainFits[][2] = {{10, 7}, {20, 7}, {40, 6}, {80, 5}};
  for (const auto& fit : plainFits)
    for (long h = 3; h <= 7; h++) {
      b->Args({fit[0], h, 1});
      if (h <= fit[1]) b->Args({fit[0], h, 0});
    }
}
BENCHMARK(BM_SyntheticFreshDecision)->Apply(SyntheticArguments)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
