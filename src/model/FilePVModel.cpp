#include "model/FilePVModel.h"

FileMeasureNode::FileMeasureNode(const ModelDescription& d, int measure, int timeIndex,
                                 const std::vector<std::string>& reads)
    : measure_(measure) {
  TopModelSlot = &TopModel;
  const MeasureDescription& m = d.measures[measure];
  const int n = static_cast<int>(m.times.size());
  Initialize(m.name.c_str(), InstantOfTimeReward, n, m.times.data(), m.times.data(), timeIndex, 0,
             1, static_cast<int>(reads.size()));
  // One dependency per variable the value names, and on the model itself,
  // so that the node has its worker even when the value reads no variable.
  for (const std::string& name : reads) AddVariableDependency(name.c_str(), d.name.c_str());
  AddModelDependency(d.name.c_str());
}

void FileMeasureNode::CreateWorkerList() {
  for (int i = 0; i < NumWorkers; i++) {
    auto* w = new FileMeasureWorker(measure_);
    w->ModelSlots.assign(1, &w->model);
    w->NumModelSlots = 1;
    Workers[i].reset(w);
  }
}

FilePVModel::FilePVModel(std::shared_ptr<const ModelDescription> description,
                         bool expandTimePoints, FileKORVELModel::FaultHandler onFault)
    : description_(std::move(description)) {
  ChildModel = new FileKORVELModel(description_, std::move(onFault));
  DefineName("rewardPVModel");
  CreatePVList(static_cast<int>(description_->measures.size()), expandTimePoints);
  Initialize();
}

FilePVModel::~FilePVModel() { Destruct(); }

PerformanceVariableNode* FilePVModel::createPVNode(int pv, int timeIndex) {
  if (pv < 0 || pv >= static_cast<int>(description_->measures.size())) return nullptr;
  return new FileMeasureNode(*description_, pv, timeIndex, fileModel()->MeasureReads(pv));
}
