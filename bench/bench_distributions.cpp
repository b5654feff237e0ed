// Cost of one uniform draw from each generator and of the samplers used for
// action delays.
#include <benchmark/benchmark.h>

#include "distributions/LaggedFibonacci.h"
#include "distributions/MersenneTwister.h"
#include "distributions/Tausworthe.h"
#include "distributions/UserDistributions.h"

namespace {

template <typename Generator>
void BM_Rnd(benchmark::State& state) {
  Generator g;
  g.srnd(31415);
  for (auto _ : state) benchmark::DoNotOptimize(g.rnd());
}
BENCHMARK_TEMPLATE(BM_Rnd, LaggedFibonacci);
BENCHMARK_TEMPLATE(BM_Rnd, Tausworthe);
BENCHMARK_TEMPLATE(BM_Rnd, MersenneTwister);

void BM_Deterministic(benchmark::State& state) {
  UserDistributions d(0, 31415);
  double x = 2.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(d.Deterministic(x));
  }
}
BENCHMARK(BM_Deterministic);

void BM_Exponential(benchmark::State& state) {
  UserDistributions d(0, 31415);
  for (auto _ : state) benchmark::DoNotOptimize(d.Exponential(1.5));
}
BENCHMARK(BM_Exponential);

}  // namespace

BENCHMARK_MAIN();
