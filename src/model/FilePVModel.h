// FilePVModel: the reward model of a model file. It wraps one
// FileKORVELModel and expands each measure into one node per time point
// (measure k's nodes follow measure k-1's), named after the measure, as a
// compiled reward model does: an instant-of-time node per instant, or an
// accumulating node per interval [start, end] with the measure's impulse
// rewards.
#ifndef TARVEX_MODEL_FILEPVMODEL_H
#define TARVEX_MODEL_FILEPVMODEL_H

#include <memory>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/ModelDescription.h"
#include "rewards/ImpulseNodeClass.h"
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

// Integrates one measure's formula over the node's interval: each call
// accounts for the part of [lastTime, now) inside [StartTime, StopTime],
// during which the current state held, and the node adds it up.
class FileIntervalWorker : public PerformanceVariableWorker {
 public:
  explicit FileIntervalWorker(int measure) : measure_(measure) {}
  double Reward_Function() override {
    return static_cast<FileKORVELModel*>(model)->MeasureValue(measure_);
  }
  // Value: the formula in the current state times the time it held within
  // the interval since lastTime (0 outside the interval).
  void Accumulate(double now, double lastTime) override;
  void CurrentReward() override {
    Value = Reward_Function();
    Square = Value * Value;
  }

  BaseModelClass* model = nullptr;

 private:
  int measure_;
};

// One impulse reward of an interval measure: earns the impulse's formula,
// in the state right after the firing, for every firing of the watched
// action at a time within [start, stop].
class FileImpulseWorker : public ImpulseNodeClass {
 public:
  // model: where the node keeps its model instance (read at each firing).
  FileImpulseWorker(int measure, int impulse, double start, double stop,
                    BaseModelClass* const* model);
  ImpulseNodeClass* Clone() override;
  double Impulse_Function() override {
    return static_cast<FileKORVELModel*>(*model_)->ImpulseValue(measure_, impulse_);
  }
  // Called once per firing of the watched action, lastTime being its time.
  void Accumulate(double now, double lastTime) override;
  void EndAccumulate(double) override {}
  double Evaluate(BaseActionClass*) override { return Impulse_Function(); }
  double AccumulatedValue() override { return Value; }

 private:
  int measure_;
  int impulse_;
  double start_;
  double stop_;
  BaseModelClass* const* model_;
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
  bool interval_ = false;
  // The prototypes of the impulse workers (the node's impulse block points
  // at them).
  std::vector<std::unique_ptr<ImpulseNodeClass>> prototypes_;
};

class FilePVModel : public PVModel {
 public:
  // Builds the atomic model of the description under the given values of
  // its globals (faults go to onFault, see FileKORVELModel) and its nodes.
  FilePVModel(std::shared_ptr<const ModelDescription> description, bool expandTimePoints,
              FileKORVELModel::FaultHandler onFault = nullptr,
              const std::vector<double>& globals = {});
  ~FilePVModel() override;

  // The node of measure pv at one time index; null for a pv out of range.
  PerformanceVariableNode* createPVNode(int pv, int timeIndex) override;

  FileKORVELModel* fileModel() const { return static_cast<FileKORVELModel*>(ChildModel); }

 private:
  std::shared_ptr<const ModelDescription> description_;
};

// The name of the action an impulse watches: "<D>AdversaryDecision" for a
// decision, "<D><O>Step" for one of its outcomes.
std::string ImpulseActionName(const ModelDescription& d, const ImpulseDescription& impulse);

#endif
