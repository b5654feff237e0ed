#include "model/rewardPVModel.h"

#include "model/attack_flowKORVEL.h"
#include "model/rewardPVNodes.h"

rewardPVModel::rewardPVModel(bool expandTimePoints) {
  ChildModel = new attack_flowKORVEL();
  DefineName("rewardPVModel");
  CreatePVList(kNumPVs, expandTimePoints);
  Initialize();
}

rewardPVModel::~rewardPVModel() { Destruct(); }

PerformanceVariableNode* rewardPVModel::createPVNode(int pv, int timeIndex) {
  switch (pv) {
    case 0: return new rewardPV0(timeIndex);
    case 1: return new rewardPV1(timeIndex);
    case 2: return new rewardPV2(timeIndex);
    case 3: return new rewardPV3(timeIndex);
    case 4: return new rewardPV4(timeIndex);
    case 5: return new rewardPV5(timeIndex);
    case 6: return new rewardPV6(timeIndex);
    case 7: return new rewardPV7(timeIndex);
    default: return nullptr;
  }
}
