// InstantOfTime: a worker whose reward is taken once, from the state in force
// at the node's time point.
#ifndef TARVEX_REWARDS_INSTANTOFTIME_H
#define TARVEX_REWARDS_INSTANTOFTIME_H

#include "rewards/PerformanceVariableWorker.h"

class InstantOfTime : public PerformanceVariableWorker {
 public:
  // Takes the reward of the state that began at lastTime, provided the time
  // point lies in it (lastTime <= StartTime).
  void Accumulate(double now, double lastTime) override {
    (void)now;
    Value = 0;
    Square = 0;
    Weight = 1.0;
    if (StartTime >= lastTime) {
      Value = Reward_Function();
      Square = Value * Value;
    }
  }
  bool AccumulateKeepsNoHistory() const override { return true; }
  void CurrentReward() override {
    Value = Reward_Function();
    Square = Value * Value;
  }
};

#endif
