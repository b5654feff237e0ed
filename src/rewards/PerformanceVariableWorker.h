// PerformanceVariableWorker: evaluates a generated reward function on one
// combination of model instances. A node sums its workers' rewards.
#ifndef TARVEX_REWARDS_PERFORMANCEVARIABLEWORKER_H
#define TARVEX_REWARDS_PERFORMANCEVARIABLEWORKER_H

#include <string>
#include <vector>

class BaseModelClass;

// Aligned to a cache line: the fields an accumulation uses fit in the
// worker's first line.
class alignas(64) PerformanceVariableWorker {
 public:
  PerformanceVariableWorker() = default;
  PerformanceVariableWorker(const PerformanceVariableWorker&) = delete;
  PerformanceVariableWorker& operator=(const PerformanceVariableWorker&) = delete;

  virtual ~PerformanceVariableWorker() = default;
  // The reward of the current state of the bound model instances.
  virtual double Reward_Function() = 0;
  virtual void Accumulate(double now, double lastTime) = 0;
  virtual void CurrentReward();
  virtual void Reset() {
    Value = 0.0;
    Square = 0.0;
  }
  // True when Accumulate sets Value and Square from the current state alone,
  // keeping nothing from earlier calls: only its last call before the
  // observation completes then matters.
  virtual bool AccumulateKeepsNoHistory() const { return false; }

  void DefineName(const char* name, int index) {
    Name = name ? name : "";
    Index = index;
  }

  // The fields an accumulation uses come first (one cache line).
  double Value = 0.0;
  double Square = 0.0;
  double Weight = 1.0;
  double StartTime = 0.0;
  double StopTime = 0.0;
  int Index = -1;
  int PVId = -1;
  // Addresses of the model-pointer fields that the generated worker declares.
  std::vector<BaseModelClass**> ModelSlots;
  int NumModelSlots = 0;
  std::string Name;
};

#endif
