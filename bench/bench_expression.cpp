// Cost of evaluating compiled expressions against the same formulas written
// in C++: a probability, a precondition and a utility function.
#include <benchmark/benchmark.h>

#include <cmath>

#include "model/Expression.h"

namespace {

// The model's variables as the expressions see them: values behind pointers
// that their owner keeps current.
struct Variables {
  short values[4] = {1, 1, 10, 0};  // NetworkKey, APHardware, APConfiguration, MITM
  short* pointers[4] = {&values[0], &values[1], &values[2], &values[3]};
  SymbolTable symbols;

  Variables() {
    const char* names[4] = {"NetworkKey", "APHardware", "APConfiguration", "MITM"};
    for (int i = 0; i < 4; i++) symbols.AddStateVariable(names[i], &pointers[i]);
    symbols.AddArgument("x", 0);
  }

  Expression Compile(const char* text) {
    Expression e;
    ExpressionError error;
    if (!Expression::Compile(text, symbols, &e, &error)) std::abort();
    return e;
  }
};

// Alternates the variables between two states so that neither side can
// learn a single answer.
void Flip(Variables& v, int i) {
  v.values[2] = (i & 1) ? 10 : 7;
  v.values[3] = (i & 2) ? 1 : 0;
}

void BM_ProbabilityExpression(benchmark::State& state) {
  Variables v;
  Expression e = v.Compile("APConfiguration > 8 ? 0.1 : 0.7");
  int i = 0;
  for (auto _ : state) {
    Flip(v, i++);
    benchmark::DoNotOptimize(e.Evaluate());
  }
}
BENCHMARK(BM_ProbabilityExpression);

void BM_ProbabilityCpp(benchmark::State& state) {
  Variables v;
  short* const* p = &v.pointers[2];
  benchmark::DoNotOptimize(p);
  int i = 0;
  for (auto _ : state) {
    Flip(v, i++);
    benchmark::ClobberMemory();
    benchmark::DoNotOptimize(**p > 8 ? 0.1 : 0.7);
  }
}
BENCHMARK(BM_ProbabilityCpp);

void BM_PreconditionExpression(benchmark::State& state) {
  Variables v;
  Expression e =
      v.Compile("NetworkKey != 0 and APHardware == 1 and APConfiguration > 6 and MITM == 0");
  int i = 0;
  for (auto _ : state) {
    Flip(v, i++);
    benchmark::DoNotOptimize(e.Evaluate());
  }
}
BENCHMARK(BM_PreconditionExpression);

void BM_PreconditionCpp(benchmark::State& state) {
  Variables v;
  short* const* p = v.pointers;
  benchmark::DoNotOptimize(p);
  int i = 0;
  for (auto _ : state) {
    Flip(v, i++);
    benchmark::ClobberMemory();
    benchmark::DoNotOptimize(*p[0] != 0 && *p[1] == 1 && *p[2] > 6 && *p[3] == 0);
  }
}
BENCHMARK(BM_PreconditionCpp);

void BM_UtilityExpression(benchmark::State& state) {
  Variables v;
  Expression e =
      v.Compile("x < 0 ? 1.0 : x > 100 ? 0.0 : (7.389056099 - exp(x / 50)) / 6.389056099");
  double x = 0.0;
  for (auto _ : state) {
    x = x > 110.0 ? -5.0 : x + 1.25;
    benchmark::DoNotOptimize(e.Evaluate(&x));
  }
}
BENCHMARK(BM_UtilityExpression);

void BM_UtilityCpp(benchmark::State& state) {
  double x = 0.0;
  for (auto _ : state) {
    x = x > 110.0 ? -5.0 : x + 1.25;
    benchmark::DoNotOptimize(x);
    double u = x < 0 ? 1.0 : x > 100 ? 0.0 : (7.389056099 - std::exp(x / 50)) / 6.389056099;
    benchmark::DoNotOptimize(u);
  }
}
BENCHMARK(BM_UtilityCpp);

}  // namespace

BENCHMARK_MAIN();
