#include "model/FilePVModel.h"

void FileIntervalWorker::Accumulate(double now, double lastTime) {
  Weight = 1.0;
  Value = 0.0;
  Square = 0.0;
  const double from = lastTime > StartTime ? lastTime : StartTime;
  const double to = now < StopTime ? now : StopTime;
  if (to > from) {
    Value = Reward_Function() * (to - from);
    Square = Value * Value;
  }
}

FileImpulseWorker::FileImpulseWorker(int measure, int impulse, double start, double stop,
                                     BaseModelClass* const* model)
    : measure_(measure), impulse_(impulse), start_(start), stop_(stop), model_(model) {
  NumModelDeps = 1;
}

ImpulseNodeClass* FileImpulseWorker::Clone() {
  return new FileImpulseWorker(measure_, impulse_, start_, stop_, model_);
}

void FileImpulseWorker::Accumulate(double, double lastTime) {
  if (lastTime < start_ || lastTime > stop_) return;
  Value += Impulse_Function();
  Square = Value * Value;
}

std::string ImpulseActionName(const ModelDescription& d, const ImpulseDescription& impulse) {
  const DecisionDescription& decision = d.decisions[impulse.decision];
  if (impulse.outcome < 0) return decision.name + "AdversaryDecision";
  return decision.name + decision.outcomes[impulse.outcome].name + "Step";
}

FileMeasureNode::FileMeasureNode(const ModelDescription& d, int measure, int timeIndex,
                                 const std::vector<std::string>& reads)
    : measure_(measure) {
  TopModelSlot = &TopModel;
  const MeasureDescription& m = d.measures[measure];
  const int n = static_cast<int>(m.times.size());
  const int numImpulses = static_cast<int>(m.impulses.size());
  if (m.interval) {
    // Every interval of the measure starts at its start and ends at one of
    // its times.
    const std::vector<double> starts(m.times.size(), m.start);
    Initialize(m.name.c_str(), AccumulatedReward, n, starts.data(), m.times.data(), timeIndex,
               numImpulses, 1, static_cast<int>(reads.size()));
  } else {
    Initialize(m.name.c_str(), InstantOfTimeReward, n, m.times.data(), m.times.data(), timeIndex,
               0, 1, static_cast<int>(reads.size()));
  }
  // One dependency per variable the value names, and on the model itself,
  // so that the node has its worker even when the value reads no variable.
  for (const std::string& name : reads) AddVariableDependency(name.c_str(), d.name.c_str());
  AddModelDependency(d.name.c_str());
  for (int i = 0; i < numImpulses && m.interval; i++) {
    prototypes_.emplace_back(new FileImpulseWorker(measure, i, StartTime, StopTime, &TopModel));
    AddImpulse(ImpulseActionName(d, m.impulses[i]).c_str(), d.name.c_str(),
               prototypes_.back().get());
  }
  interval_ = m.interval;
}

void FileMeasureNode::CreateWorkerList() {
  for (int i = 0; i < NumWorkers; i++) {
    if (interval_) {
      auto* w = new FileIntervalWorker(measure_);
      w->ModelSlots.assign(1, &w->model);
      w->NumModelSlots = 1;
      Workers[i].reset(w);
    } else {
      auto* w = new FileMeasureWorker(measure_);
      w->ModelSlots.assign(1, &w->model);
      w->NumModelSlots = 1;
      Workers[i].reset(w);
    }
  }
}

FilePVModel::FilePVModel(std::shared_ptr<const ModelDescription> description,
                         bool expandTimePoints, FileKORVELModel::FaultHandler onFault,
                         const std::vector<double>& globals)
    : description_(std::move(description)) {
  ChildModel = new FileKORVELModel(description_, std::move(onFault), globals);
  DefineName("rewardPVModel");
  CreatePVList(static_cast<int>(description_->measures.size()), expandTimePoints);
  Initialize();
  fileModel()->WatchRuns(this);
}

FilePVModel::~FilePVModel() { Destruct(); }

PerformanceVariableNode* FilePVModel::createPVNode(int pv, int timeIndex) {
  if (pv < 0 || pv >= static_cast<int>(description_->measures.size())) return nullptr;
  return new FileMeasureNode(*description_, pv, timeIndex, fileModel()->MeasureReads(pv));
}
