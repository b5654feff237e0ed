#include "model/rewardPVNodes.h"

#include <cstring>

#include "formalism/KORVELModel.h"

const RewardPVDefinition kRewardPVs[8] = {
    {"NoKeyNoAccess", "NoKeyNoAccess"},
    {"SSIDandMAC", "SSIDMACtargetnetwork"},
    {"NetworkKey", "NetworkKey"},
    {"Network Access", "NetworkAccess"},
    {"Hijacking", "Hijacking"},
    {"MITM", "MITM"},
    {"DOS", "DOS"},
    {"Sensitive Information", "SensitiveInformation"},
};

namespace {
// Every PV is observed at 0, 5, ..., 100 (start and stop times alike).
struct TimePoints {
  double t[kRewardNumTimePoints];
  TimePoints() {
    for (int i = 0; i < kRewardNumTimePoints; i++) t[i] = 5.0 * i;
  }
};
const TimePoints kTimes;
}  // namespace

rewardPVWorkerBase::rewardPVWorkerBase(int pv) : pv_(pv) {}

double rewardPVWorkerBase::Reward_Function() {
  if (boundTo_ != attack_flow) {
    boundTo_ = attack_flow;
    variable_ = nullptr;
    auto* model = static_cast<KORVELModel*>(attack_flow);
    for (int i = 0; model && i < model->getNumStateVariables(); i++) {
      KORVELStateVariable* sv = model->getStateVariable(i);
      if (std::strcmp(sv->getName(), kRewardPVs[pv_].stateVariable) == 0) {
        variable_ = sv;
        break;
      }
    }
  }
  return variable_ ? static_cast<double>(variable_->getMark()) : 0.0;
}

rewardPVNodeBase::rewardPVNodeBase(int pv, int timeIndex) {
  TopModelSlot = &TheModel;
  Initialize(kRewardPVs[pv].name, InstantOfTimeReward, kRewardNumTimePoints, kTimes.t, kTimes.t,
             timeIndex, 0, 1, 1);
  AddVariableDependency(kRewardPVs[pv].stateVariable, "attack_flow");
}
