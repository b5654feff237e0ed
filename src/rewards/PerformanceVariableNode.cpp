#include "rewards/PerformanceVariableNode.h"

#include <cstring>
#include <iostream>

#include "base/BaseActionClass.h"
#include "base/BaseModelClass.h"
#include "base/StandardErrors.h"
#include "rewards/PVModel.h"

int PerformanceVariableNode::the_id = 0;

PerformanceVariableNode::~PerformanceVariableNode() = default;

void PerformanceVariableNode::Initialize(const char* name, RewardType type, int n,
                                         const double* startTimes, const double* stopTimes,
                                         int timeIndex, int numImpulses, int numModelDeps,
                                         int numVarDeps) {
  Id = the_id++;
  Type = type;
  NumTimePoints = n;
  StartTimes.assign(startTimes, startTimes + n);
  StopTimes.assign(stopTimes, stopTimes + n);
  StartTime = startTimes[timeIndex];
  StopTime = stopTimes[timeIndex];
  IntervalLength = StopTime - StartTime;
  Name = name ? name : "";
  VarDeps.reserve(numVarDeps > 0 ? numVarDeps : 0);
  ModelDeps.reserve(numModelDeps > 0 ? numModelDeps : 0);
  Impulses.reserve(numImpulses > 0 ? numImpulses : 0);
}

void PerformanceVariableNode::AddVariableDependency(const char* svName, const char* modelName) {
  VarDeps.emplace_back();
  VarDeps.back().SetPair(svName, modelName);
  NumVarDeps++;
  AddModelDependency(modelName);
}

void PerformanceVariableNode::AddModelDependency(const char* modelName) {
  if (IsDependentOnModel(modelName)) return;
  ModelDeps.emplace_back(modelName ? modelName : "");
  NumModelDeps++;
}

bool PerformanceVariableNode::IsDependentOnModel(const char* modelName) const {
  for (const std::string& m : ModelDeps)
    if (modelName && m == modelName) return true;
  return false;
}

int PerformanceVariableNode::GetImpulseNumber(const ImpulseNodeClass* impulse) const {
  for (int i = 0; i < NumImpulses; i++)
    if (Impulses[i].Prototype == impulse) return i;
  return -1;
}

void PerformanceVariableNode::AddImpulse(const char* actionName, const char* modelName,
                                         ImpulseNodeClass* impulse) {
  int i = GetImpulseNumber(impulse);
  if (i < 0) {
    Impulses.emplace_back();
    Impulses.back().Prototype = impulse;
    Impulses.back().ModelDeps.reserve(impulse && impulse->NumModelDeps > 0 ? impulse->NumModelDeps : 0);
    i = NumImpulses++;
  }
  Impulses[i].Pair.SetPair(actionName, modelName);
  AddImpulseActionDependency(actionName, modelName, i);
}

void PerformanceVariableNode::AddImpulseActionDependency(const char*, const char* modelName,
                                                         int impulse) {
  if (impulse < 0 || impulse >= NumImpulses) {
    std::cerr << "Model Dependency requested on undefined impulse."
              << "  Check code generator.  Error code GP0001.\n"
              << std::flush;
    std::exit(0);
  }
  if (IsDependentOnImpulseModel(modelName, impulse)) return;
  Impulses[impulse].ModelDeps.emplace_back(modelName ? modelName : "");
  Impulses[impulse].NumModelDeps++;
}

bool PerformanceVariableNode::IsDependentOnImpulseModel(const char* modelName, int impulse) const {
  if (impulse < 0 || impulse >= NumImpulses || !modelName) return false;
  for (const std::string& m : Impulses[impulse].ModelDeps)
    if (m == modelName) return true;
  return false;
}

void PerformanceVariableNode::DefineName(const char* name) {
  Name = name ? name : "";
  for (auto& w : Workers)
    if (w) w->DefineName(name, w->Index);
  for (int i = 0; i < NumImpulses; i++)
    for (auto& w : Impulses[i].Workers)
      if (w) w->DefineName(name, i, w->WorkerIndex);
}

int PerformanceVariableNode::CountWorkers(const std::vector<std::string>& deps) {
  if (deps.empty()) return 0;
  BaseModelClass* top = TopModelSlot ? *TopModelSlot : nullptr;
  if (!top) return 0;
  int count = 1;
  for (const std::string& m : deps) {
    List<BaseModelClass> instances;
    top->listModels(m.c_str(), &instances);
    count *= instances.getNumItems();
  }
  return count;
}

int PerformanceVariableNode::GetNumberOfWorkers() { return CountWorkers(ModelDeps); }

void PerformanceVariableNode::FixReferences(BaseModelClass* top) {
  if (TopModelSlot) *TopModelSlot = top;
  NumWorkers = CountWorkers(ModelDeps);
  for (Impulse& imp : Impulses) imp.NumWorkers = CountWorkers(imp.ModelDeps);
  Workers.clear();
  Workers.resize(NumWorkers);
  SoleWorker = nullptr;
}

namespace {

// Binds blocks of workers to the instances of each model dependency: with c
// instances of dependency j, consecutive blocks of NumWorkers / c workers
// share one instance. A dependency without instances ends the program.
void bindModelGroups(BaseModelClass* top, const std::vector<std::string>& deps, int numWorkers,
                     std::vector<ModelGroupClass>& groups) {
  groups.assign(numWorkers > 0 ? numWorkers : 0, ModelGroupClass());
  for (ModelGroupClass& g : groups) g.CreateModelList(static_cast<int>(deps.size()));
  for (size_t j = 0; j < deps.size(); j++) {
    List<BaseModelClass> instances;
    if (top) top->listModels(deps[j].c_str(), &instances);
    int c = instances.getNumItems();
    if (c == 0) {
      std::cerr << "Number of " << deps[j] << "'s was " << c << ".  Model cannot be created.\n"
                << std::flush;
      if (top && top->getName())
        std::cerr << "Model Name was: " << top->getName() << "\n" << "." << std::flush;
      else
        std::cerr << "Model Name was: NULL\n" << std::flush;
      std::exit(0);
    }
    int per = numWorkers / c;
    if (per < 1) per = 1;
    int instance = -1;
    for (int w = 0; w < numWorkers; w++) {
      if (w % per == 0 && instance + 1 < c) instance++;
      groups[w].SetModel(static_cast<int>(j), instances.getItem(instance));
    }
  }
}

}  // namespace

void PerformanceVariableNode::CreateModelGroupList() {
  bindModelGroups(TopModelSlot ? *TopModelSlot : nullptr, ModelDeps, NumWorkers, ModelGroups);
}

void PerformanceVariableNode::FixWorkerList() {
  SoleWorker = NumWorkers == 1 ? Workers[0].get() : nullptr;
  for (int i = 0; i < NumWorkers; i++) {
    PerformanceVariableWorker* w = Workers[i].get();
    if (!w) continue;
    w->StartTime = StartTime;
    w->StopTime = StopTime;
    w->DefineName(Name.c_str(), i);
    w->PVId = Id;
    for (int j = 0; j < NumModelDeps && j < static_cast<int>(w->ModelSlots.size()); j++)
      *w->ModelSlots[j] = ModelGroups[i].GetModel(j);
  }
}

void PerformanceVariableNode::AddPVWorkersToAction(BaseActionClass* action, BaseModelClass* model) {
  for (int i = 0; i < NumWorkers; i++)
    if (ModelGroups[i].IsDependentOnModel(model)) action->RateRewardNodes[Id].insert(i);
}

void PerformanceVariableNode::CreateImpulseModelGroupList() {
  BaseModelClass* top = TopModelSlot ? *TopModelSlot : nullptr;
  for (Impulse& imp : Impulses) bindModelGroups(top, imp.ModelDeps, imp.NumWorkers, imp.ModelGroups);
}

void PerformanceVariableNode::CreateImpulseWorkerLists() {
  for (Impulse& imp : Impulses) {
    imp.Workers.clear();
    for (int w = 0; w < imp.NumWorkers; w++)
      imp.Workers.emplace_back(imp.Prototype ? imp.Prototype->Clone() : nullptr);
  }
}

void PerformanceVariableNode::FixImpulseWorkerLists() {
  for (int i = 0; i < NumImpulses; i++)
    for (int w = 0; w < static_cast<int>(Impulses[i].Workers.size()); w++)
      if (Impulses[i].Workers[w]) Impulses[i].Workers[w]->DefineName(Name.c_str(), i, w);
}

bool PerformanceVariableNode::ImpulseAffectedBy(BaseActionClass* action) {
  if (!action) return false;
  if (action->IsPVImpulseDSAllocated() && action->AffectedNodesByImpulseReward.isFrozen()) {
    const FastSet& set = action->AffectedNodesByImpulseReward;
    for (int i = 0; i < set.size(); i++)
      if (set[i] == Id) return true;
  }
  return false;
}

void PerformanceVariableNode::CommonAccumulate(double now, double lastTime, BaseActionClass* action) {
  double sum = 0;
  for (int i = 0; i < NumWorkers; i++) {
    PerformanceVariableWorker* w = Workers[i].get();
    w->Accumulate(now, lastTime);
    sum += w->Value;
  }
  if (Type != InstantOfTimeReward && NumWorkers > 0) {
    double weight = Workers[0]->Weight;
    Value += weight * sum;
    Square += weight * (sum * sum);
  }
  // Only a node with impulse rewards can be in an action's impulse set.
  if (NumImpulses > 0 && ImpulseAffectedBy(action)) {
    const std::vector<int>& impulses = action->ImpulseTableA[Id];
    const std::vector<std::vector<int>>& workers = action->ImpulseTableB[Id];
    for (size_t k = 0; k < impulses.size(); k++) {
      Impulse& imp = Impulses[impulses[k]];
      for (int w : workers[k]) imp.Workers[w]->Accumulate(now, lastTime);
    }
  }
}

void PerformanceVariableNode::TotalAccumulation() {
  if (Type == InstantOfTimeReward && NumWorkers > 0) {
    double sum = 0;
    for (int i = 0; i < NumWorkers; i++) sum += Workers[i]->Value;
    double weight = Workers[0]->Weight;
    Value += weight * sum;
    Square += weight * (sum * sum);
  }
  ImpulseValue = 0;
  ImpulseSquare = 0;
  for (Impulse& imp : Impulses) {
    for (auto& w : imp.Workers) {
      double x = w->AccumulatedValue();
      ImpulseValue += x;
      ImpulseSquare += x * x;
    }
  }
  Value += ImpulseValue;
  Square += ImpulseSquare;
}

void PerformanceVariableNode::Accumulate(double now, double lastTime, BaseActionClass* lastAction) {
  if (NodeState == NodeDone) return;
  if (now < StartTime) return;
  CommonAccumulate(now, lastTime, lastAction);
  UpdateAccumulate(now);
}

bool PerformanceVariableNode::OnlyCompletionCounts() const {
  if (Type != InstantOfTimeReward || NumImpulses > 0) return false;
  for (int i = 0; i < NumWorkers; i++)
    if (!Workers[i] || !Workers[i]->AccumulateKeepsNoHistory()) return false;
  return true;
}

void PerformanceVariableNode::UpdateAccumulate(double now) {
  if (now > StopTime) {
    NodeState = NodeDone;
    TotalAccumulation();
  } else {
    NodeState = NodeAccumulating;
  }
}

void PerformanceVariableNode::EndAccumulate(double now, double lastTime, BaseActionClass* lastAction) {
  if (NodeState == NodeDone) return;
  CommonAccumulate(now, lastTime, lastAction);
  for (Impulse& imp : Impulses)
    for (auto& w : imp.Workers) w->EndAccumulate(now);
  // An absolute margin of one time unit: a node whose instant lies less
  // than one unit after the end of the run is completed with the end state.
  if (now + 1.0 > StopTime) {
    NodeState = NodeDone;
    TotalAccumulation();
  } else {
    NodeState = NodeAccumulating;
  }
}

void PerformanceVariableNode::CurrentReward(BaseActionClass* lastAction) {
  Value = 0;
  Square = 0;
  for (int i = 0; i < NumWorkers; i++) {
    Workers[i]->CurrentReward();
    Value += Workers[i]->Value;
    Square += Workers[i]->Square;
  }
  ImpulseValue = 0;
  ImpulseSquare = 0;
  if (ImpulseAffectedBy(lastAction)) {
    const std::vector<int>& impulses = lastAction->ImpulseTableA[Id];
    const std::vector<std::vector<int>>& workers = lastAction->ImpulseTableB[Id];
    for (size_t k = 0; k < impulses.size(); k++) {
      Impulse& imp = Impulses[impulses[k]];
      for (int w : workers[k]) {
        double x = imp.Workers[w]->Evaluate(lastAction);
        ImpulseValue += x;
        ImpulseSquare += x * x;
      }
    }
  }
}

void PerformanceVariableNode::Reset() {
  if (Owner) Owner->NodeWasReset();
  NodeState = NodeWaiting;
  Value = 0;
  Square = 0;
  if (SoleWorker)
    SoleWorker->Reset();
  else
    for (int i = 0; i < NumWorkers; i++) Workers[i]->Reset();
  ImpulseValue = 0;
  ImpulseSquare = 0;
  if (NumImpulses > 0)
    for (Impulse& imp : Impulses)
      for (auto& w : imp.Workers) w->Reset();
  if (SteadyStateFlag == 1) {
    double oldStop = StopTime;
    StartTime = oldStop;
    StopTime = oldStop + IntervalLength;
  }
}
