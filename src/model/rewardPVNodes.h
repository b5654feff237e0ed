// The eight performance variables of attack_flow: each reports the value of
// one adversary state variable at the times 0, 5, ..., 100. One node class
// and one worker class per variable, alike but for the name and the state
// variable read.
#ifndef TARVEX_MODEL_REWARDPVNODES_H
#define TARVEX_MODEL_REWARDPVNODES_H

#include "rewards/InstantOfTime.h"
#include "rewards/PerformanceVariableNode.h"

class attack_flowKORVEL;
class KORVELStateVariable;

// The PV table: name of the node and the state variable it reads.
struct RewardPVDefinition {
  const char* name;
  const char* stateVariable;
};
extern const RewardPVDefinition kRewardPVs[8];
const int kRewardNumTimePoints = 21;

// A worker that reads one state variable of its bound attack_flow model.
class rewardPVWorkerBase : public InstantOfTime {
 public:
  explicit rewardPVWorkerBase(int pv);
  double Reward_Function() override;

  BaseModelClass* attack_flow = nullptr;

 private:
  int pv_;
  // The variable read, found once per bound model.
  KORVELStateVariable* variable_ = nullptr;
  BaseModelClass* boundTo_ = nullptr;
};

// A node of one PV at one time index.
class rewardPVNodeBase : public PerformanceVariableNode {
 public:
  rewardPVNodeBase(int pv, int timeIndex);

  BaseModelClass* TheModel = nullptr;

 protected:
  // Creates NumWorkers workers of class W, each with its one model slot.
  template <class W>
  void createWorkers() {
    for (int i = 0; i < NumWorkers; i++) {
      auto* w = new W();
      w->ModelSlots.assign(1, &w->attack_flow);
      w->NumModelSlots = 1;
      Workers[i].reset(w);
    }
  }
};

#define REWARD_PV(k)                                                        \
  class rewardPV##k##Worker : public rewardPVWorkerBase {                   \
   public:                                                                  \
    rewardPV##k##Worker() : rewardPVWorkerBase(k) {}                        \
  };                                                                        \
  class rewardPV##k : public rewardPVNodeBase {                             \
   public:                                                                  \
    explicit rewardPV##k(int timeIndex) : rewardPVNodeBase(k, timeIndex) {} \
    void CreateWorkerList() override { createWorkers<rewardPV##k##Worker>(); } \
  };
REWARD_PV(0)
REWARD_PV(1)
REWARD_PV(2)
REWARD_PV(3)
REWARD_PV(4)
REWARD_PV(5)
REWARD_PV(6)
REWARD_PV(7)
#undef REWARD_PV

#endif
