// A uniform generator for tests: it hands out the scripted values in order,
// then uniforms of a seeded engine, and counts its draws.
#ifndef TARVEX_TESTS_SUPPORT_SCRIPTEDGENERATOR_H
#define TARVEX_TESTS_SUPPORT_SCRIPTEDGENERATOR_H

#include <deque>
#include <initializer_list>
#include <random>

#include "distributions/DistributionDefinition.h"
#include "distributions/LaggedFibonacci.h"

namespace support {

class ScriptedGenerator : public RandomNumberGenerator {
 public:
  explicit ScriptedGenerator(std::initializer_list<double> script = {}) : values(script) {}
  double rnd() override {
    ++draws;
    if (values.empty()) return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    double u = values.front();
    values.pop_front();
    return u;
  }
  std::deque<double> values;
  std::mt19937_64 engine{12345};
  long draws = 0;
};

// Puts a scripted generator (owned by the holder) on the process-wide holder
// for one scope; a seeded lagged-Fibonacci generator is put back afterwards.
struct ScriptedScope {
  ScriptedGenerator* generator = new ScriptedGenerator;
  ScriptedScope() { TheDistribution->setGenerator(generator); }
  ~ScriptedScope() {
    auto* g = new LaggedFibonacci;
    g->srnd(31415);
    TheDistribution->setGenerator(g);
  }
};

}  // namespace support

#endif
