// Helpers of the in-process simulator tests: hand-wired schedulable units and
// a simulator built in-process on the attack_flow model.
#ifndef TARVEX_TESTS_SIMULATOR_SIMTESTSUPPORT_H
#define TARVEX_TESTS_SIMULATOR_SIMTESTSUPPORT_H

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/BaseGroupClass.h"
#include "simulator/SimulatorClass.h"

namespace simtest {

// A unit whose every answer the test sets. Delays come from a queue (the
// last one repeats); each draw is logged by name.
class TestUnit : public BaseGroupClass {
 public:
  explicit TestUnit(const char* name, int rank = 0, std::deque<double> delays = {}, double weight = 1.0)
      : rank(rank), weight(weight), delays(std::move(delays)) {
    defineName(name);
    EventRecord = &record;
  }
  bool Enabled() override { return on; }
  int Rank() override { return rank; }
  double Weight() override { return weight; }
  bool EnablingChange() override { return change; }
  bool ReactivationPredicate() override { return predicate; }
  bool ReactivationFunction() override { return function; }
  double SampleDistribution() override {
    if (log) log->push_back(Name);
    double d = delays.empty() ? 0.0 : delays.front();
    if (delays.size() > 1) delays.pop_front();
    return d;
  }
  BaseActionClass* Fire() override {
    fired++;
    if (onFire) onFire();
    return this;
  }

  int rank;
  double weight;
  std::deque<double> delays;
  bool on = true, change = false, predicate = false, function = false;
  std::vector<std::string>* log = nullptr;
  std::function<void()> onFire;
  int fired = 0;
  ::EventRecord record;
};

// The simulator built from a command line (one replication by default).
inline std::unique_ptr<SimulatorClass> makeSimulator(std::vector<std::string> args = {"-N", "1"}) {
  args.insert(args.begin(), "attack_flow_sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return std::make_unique<SimulatorClass>(static_cast<int>(args.size()), argv.data());
}

}  // namespace simtest

#endif
