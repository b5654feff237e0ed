// rewardPVModel: the reward model of this system, wrapping the attack_flow
// model with its eight instant-of-time performance variables.
#ifndef TARVEX_MODEL_REWARDPVMODEL_H
#define TARVEX_MODEL_REWARDPVMODEL_H

#include "rewards/PVModel.h"

class rewardPVModel : public PVModel {
 public:
  static const int kNumPVs = 8;

  explicit rewardPVModel(bool expandTimePoints);
  ~rewardPVModel() override;

  // The node of PV pv at one time index; null for a pv outside 0..7.
  PerformanceVariableNode* createPVNode(int pv, int timeIndex) override;
};

#endif
