// FilePVModel: the reward model of a model file. It wraps one
// FileKORVELModel and expands each measure into one instant-of-time node per
// time point (measure k's nodes follow measure k-1's), named after the
// measure, as a compiled reward model does.
#ifndef TARVEX_MODEL_FILEPVMODEL_H
#define TARVEX_MODEL_FILEPVMODEL_H

#include <memory>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/ModelDescription.h"
#include "rewards/InstantOfTime.h"
#include "rewards/PVModel.h"
#include "rewards/PerformanceVariableNode.h"

// Evaluates one measure's formula on its bound model instance.
class FileMeasureWorker : public InstantOfTime {
 public:
  explicit FileMeasureWorker(int measure) : measure_(measure) {}
  double Reward_Function() override {
    return static_cast<FileKORVELModel*>(model)->MeasureValue(measure_);
  }

  BaseModelClass* model = nullptr;

 private:
  int measure_;
};

// One measure at one time index.
class FileMeasureNode : public PerformanceVariableNode {
 public:
  // reads: the variables the measure's value names.
  FileMeasureNode(const ModelDescription& d, int measure, int timeIndex,
                  const std::vector<std::string>& reads);
  void CreateWorkerList() override;

  BaseModelClass* TopModel = nullptr;

 private:
  int measure_;
};

class FilePVModel : public PVModel {
 public:
  // Builds the atomic model of the description (faults go to onFault, see
  // FileKORVELModel) and its nodes.
  FilePVModel(std::shared_ptr<const ModelDescription> description, bool expandTimePoints,
              FileKORVELModel::FaultHandler onFault = nullptr);
  ~FilePVModel() override;

  // The node of measure pv at one time index; null for a pv out of range.
  PerformanceVariableNode* createPVNode(int pv, int timeIndex) override;

  FileKORVELModel* fileModel() const { return static_cast<FileKORVELModel*>(ChildModel); }

 private:
  std::shared_ptr<const ModelDescription> description_;
};

#endif
