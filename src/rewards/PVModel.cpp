#include "rewards/PVModel.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>

#include "base/BaseGroupClass.h"
#include "base/StandardErrors.h"
#include "state/BaseStateVariableClass.h"

PVModel::PVModel() : LastFiredAction(&NoActionFiredYet) {
  NoActionFiredYet.defineName("No Action Fired Yet");
}

PVModel::~PVModel() { Destruct(); }

// ---- forwarding to the child -------------------------------------------

void PVModel::listModels(const char* name, List<BaseModelClass>* out) {
  ChildModel->listModels(name, out);
}
void PVModel::listActions(const char* name, List<BaseActionClass>* out) {
  ChildModel->listActions(name, out);
}
void PVModel::listSVs(const char* modelName, const char* svName, List<BaseStateVariableClass>* out,
                      List<BaseModelClass>* models) {
  ChildModel->listSVs(modelName, svName, out, models);
}
void PVModel::SetState(void* state) { ChildModel->SetState(state); }
void PVModel::printState(std::ostream* os) { ChildModel->printState(os); }
void PVModel::listActions(List<BaseActionClass>* out) { out->append(ActionList, NumActions); }
void PVModel::listGroups(List<BaseGroupClass>* out) { out->append(Groups, NumGroups); }

void PVModel::CurrentState(void* state) {
  ChildModel->CurrentState(state);
  if (UseStateIndex == 1) {
    int index = IndexOf(LastFiredAction);
    std::memcpy(static_cast<char*>(state) + ChildStateSize, &index, IndexBytes);
  }
}

bool PVModel::CompareState(void* a, void* b) {
  if (!ChildModel->CompareState(a, b)) return false;
  if (UseStateIndex == 1 &&
      std::memcmp(static_cast<char*>(a) + ChildStateSize, static_cast<char*>(b) + ChildStateSize,
                  IndexBytes) != 0)
    return false;
  return true;
}

// ---- building ----------------------------------------------------------

void PVModel::CreatePVList(int numPVs, bool expandTimePoints) {
  // Node ids index the per-node sets of the actions, which have one entry
  // per node of this model: the ids of every reward model count from 0,
  // even when an earlier one was built in the same process.
  PerformanceVariableNode::the_id = 0;
  PVList.clear();
  PVList.reserve(100);
  nodeOrigins_.clear();
  for (int pv = 0; pv < numPVs; pv++) {
    PerformanceVariableNode* node = createPVNode(pv, 0);
    if (!node) continue;
    int n = node->GetNumTimePoints();
    PVList.push_back(node);
    nodeOrigins_.push_back(NodeOrigin{pv, 0});
    if (expandTimePoints && n >= 2) {
      for (int t = 1; t < n; t++) {
        PVList.push_back(createPVNode(pv, t));
        nodeOrigins_.push_back(NodeOrigin{pv, t});
      }
    }
  }
  numPVIndices_ = numPVs > 0 ? numPVs : 0;
  NumPVs = static_cast<int>(PVList.size());
  for (PerformanceVariableNode* node : PVList) node->Owner = this;
}

void PVModel::Initialize() {
  NoActionFiredYet.AllocatePVRateDS(NumPVs);
  NoActionFiredYet.AllocatePVImpulseDS(NumPVs);
  for (int k = 0; k < NumPVs; k++) {
    NoActionFiredYet.RateRewardNodes[k].NoMoreModifications();
    NoActionFiredYet.ImpulseRewardNodes[k].NoMoreModifications();
  }
  NoActionFiredYet.AffectedNodesByRateReward.NoMoreModifications();
  NoActionFiredYet.AffectedNodesByImpulseReward.NoMoreModifications();

  NumStateVariables = ChildModel->getNumStateVariables();
  NumActions = ChildModel->getNumActions();
  Actions = ChildModel->getActions();
  ActionList = Actions;
  NumGroups = ChildModel->getNumGroups();
  Groups = ChildModel->getGroups();

  for (PerformanceVariableNode* node : PVList) node->FixReferences(ChildModel);
  for (PerformanceVariableNode* node : PVList)
    if (node->StopTime > MaxStopTime) MaxStopTime = node->StopTime;

  MakeAffectedLists();
  MakeImpulseAffectedLists();
  CreateAffectedLists();

  ChildStateSize = ChildModel->StateSize();
  if (UseStateIndex == 1) {
    IndexActions = ActionList;
    IndexCount = NumActions;
    IndexBytes = BytesFor(IndexCount);
  }
  TotalStateSize = ChildStateSize + IndexBytes;
}

void PVModel::MakeAffectedLists() {
  for (int PVCounter = 0; PVCounter < NumPVs; PVCounter++) {
    PerformanceVariableNode* node = PVList[PVCounter];
    node->CreateModelGroupList();
    node->CreateWorkerList();
    node->FixWorkerList();
    for (const VarModelPairClass& dep : node->VarDeps) {
      List<BaseStateVariableClass> svs;
      List<BaseModelClass> models;
      listSVs(dep.getModelName(), dep.getSVName(), &svs, &models);
      for (int j = 0; j < svs.getNumItems(); j++) {
        // The model list keeps one entry per model, in the order of the
        // variables found, so variable j belongs to the last model listed
        // when it has fewer entries.
        int mj = j < models.getNumItems() ? j : models.getNumItems() - 1;
        BaseModelClass* model = models.getItem(mj);
        for (BaseActionClass* Action : *svs.getItem(j)->getAffectingActions()) {
          if (!Action->IsPVRateDSAllocated()) {
            Action->AllocatePVRateDS(NumPVs);
            NumRateActions++;
          }
          if (Action->RateRewardNodes[PVCounter].empty()) {
            TARVEX_ASSERT(Action->AffectedNodesByRateReward.insert(PVCounter));
            node->NumNodeActions++;
          }
          node->AddPVWorkersToAction(Action, model);
        }
      }
    }
  }
  for (int i = 0; i < NumActions; i++) {
    BaseActionClass* a = ActionList[i];
    if (!a->IsPVRateDSAllocated()) a->AllocatePVRateDS(NumPVs);
    for (int k = 0; k < NumPVs; k++) a->RateRewardNodes[k].NoMoreModifications();
    a->AffectedNodesByRateReward.NoMoreModifications();
  }
}

void PVModel::MakeImpulseAffectedLists() {
  for (int k = 0; k < NumPVs; k++) {
    PerformanceVariableNode* node = PVList[k];
    node->CreateImpulseModelGroupList();
    node->CreateImpulseWorkerLists();
    node->FixImpulseWorkerLists();
    for (int i = 0; i < node->NumImpulses; i++) {
      PerformanceVariableNode::Impulse& imp = node->Impulses[i];
      List<BaseModelClass> instances;
      ChildModel->listModels(imp.Pair.getModelName(), &instances);
      for (BaseModelClass* model : instances) {
        List<BaseActionClass> found;
        model->listActions(imp.Pair.getActionName(), &found);
        if (found.getNumItems() == 0) continue;
        BaseActionClass* a = found.getItem(0);
        if (!a->IsPVImpulseDSAllocated()) {
          a->AllocatePVImpulseDS(NumPVs);
          NumImpulseActions++;
        }
        if (a->ImpulseRewardNodes[k].empty()) a->AffectedNodesByImpulseReward.insert(k);
        a->ImpulseRewardNodes[k].insert(i);
        a->ImpulseTableA[k].push_back(i);
        std::vector<int> workers;
        for (int w = 0; w < imp.NumWorkers; w++)
          if (imp.ModelGroups[w].IsDependentOnModel(model)) workers.push_back(w);
        a->ImpulseTableB[k].push_back(workers);
      }
    }
  }
  for (int i = 0; i < NumActions; i++) {
    BaseActionClass* a = ActionList[i];
    if (!a->IsPVImpulseDSAllocated()) a->AllocatePVImpulseDS(NumPVs);
    for (int k = 0; k < NumPVs; k++)
      if (!a->ImpulseRewardNodes[k].isFrozen()) a->ImpulseRewardNodes[k].NoMoreModifications();
    if (!a->AffectedNodesByImpulseReward.isFrozen())
      a->AffectedNodesByImpulseReward.NoMoreModifications();
  }
}

void PVModel::CreateTotalPVAffectsList(BaseActionClass* Action) {
  if (Action->AffectedNodesByRateReward.size() == 0 &&
      Action->AffectedNodesByImpulseReward.size() == 0) {
    // An action that changes no node keeps an empty set, frozen like the
    // others so that it can be read.
    if (!Action->AffectedNodes.isFrozen()) Action->AffectedNodes.NoMoreModifications();
    return;
  }
  TARVEX_ASSERT(Action->AffectedNodes.empty());
  for (int i = 0; i < Action->AffectedNodesByRateReward.size(); i++)
    Action->AffectedNodes.insert(Action->AffectedNodesByRateReward[i]);
  for (int i = 0; i < Action->AffectedNodesByImpulseReward.size(); i++)
    Action->AffectedNodes.insert(Action->AffectedNodesByImpulseReward[i]);
  Action->AffectedNodes.NoMoreModifications();
  AffectingActions.push_back(Action);
  AffectingActionSets.push_back(&Action->AffectedNodes);
  NumAffectingActions++;
  for (int i = 0; i < Action->AffectedNodes.size(); i++) {
    PerformanceVariableNode* node = PVList[Action->AffectedNodes[i]];
    node->NodeActions.push_back(Action);
    node->NumNodeActions++;
  }
}

void PVModel::CreateAffectedLists() {
  for (PerformanceVariableNode* node : PVList) {
    if (node->NumNodeActions > 0) {
      node->NodeActions.clear();
      node->NodeActions.reserve(node->NumNodeActions);
      node->NumNodeActions = 0;
    }
  }
  if (NumRateActions + NumImpulseActions == 0) return;
  AffectingActions.reserve(NumRateActions + NumImpulseActions);
  AffectingActionSets.reserve(NumRateActions + NumImpulseActions);
  for (int i = 0; i < NumActions; i++) CreateTotalPVAffectsList(ActionList[i]);
}

MeasureLayout PVModel::Measures() const {
  MeasureLayout layout;
  layout.numPVs = numPVIndices_;
  layout.numNodes = NumPVs;
  layout.nodes.reserve(PVList.size());
  for (size_t i = 0; i < PVList.size(); i++) {
    const PerformanceVariableNode* node = PVList[i];
    const NodeOrigin& origin = nodeOrigins_[i];
    layout.nodes.push_back(MeasureLayout::Node{
        origin.pv, node->getName(), node->GetStartTime(origin.timeIndex),
        node->GetStopTime(origin.timeIndex), node->GetRewardType() != InstantOfTimeReward});
  }
  return layout;
}

void PVModel::ConsiderOnly(const int* indices, int count) {
  ConsideredPVs.clear();
  if (!indices) {
    ConsideredPVs.assign(PVList.begin(), PVList.end());
  } else {
    ConsideredPVs.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; i++) ConsideredPVs.push_back(PVList[indices[i]]);
  }
  fastAccumulate_ = true;
  for (PerformanceVariableNode* node : ConsideredPVs) {
    if (node->SteadyStateFlag == 1) fastAccumulate_ = false;
    node->CompletionOnly = node->OnlyCompletionCounts();
  }
  byStartTime_ = ConsideredPVs;
  std::stable_sort(byStartTime_.begin(), byStartTime_.end(),
                   [](const PerformanceVariableNode* a, const PerformanceVariableNode* b) {
                     return a->StartTime < b->StartTime;
                   });
  active_.clear();
  active_.reserve(ConsideredPVs.size());
  accumulationDirty_ = true;
  stopTimes_.clear();
  for (PerformanceVariableNode* node : ConsideredPVs) stopTimes_.push_back(node->StopTime);
  std::sort(stopTimes_.begin(), stopTimes_.end());
  nextStop_ = 0;
}

bool PVModel::CanDeferObservation() const {
  if (!fastAccumulate_) return false;
  for (PerformanceVariableNode* node : ConsideredPVs)
    if (!node->CompletionOnly) return false;
  return true;
}

void PVModel::ReplayAccumulate(double time, double lastTime) {
  ActivateReachedNodes(time);
  size_t kept = 0;
  for (size_t i = 0; i < active_.size(); i++) {
    PerformanceVariableNode* node = active_[i];
    node->AccumulateInstant(time, lastTime);
    if (node->NodeState != NodeDone) active_[kept++] = node;
  }
  active_.resize(kept);
}

void PVModel::ReplayEndAccumulate(double time, double lastTime) {
  EndAccumulateNotDone(time, lastTime, &NoActionFiredYet);
}

void PVModel::CollectAndReset(double* values, double* squares) {
  for (int i = 0; i < NumPVs; i++) {
    PerformanceVariableNode* node = PVList[i];
    values[i] = node->Value;
    if (squares) squares[i] = node->Square;
    if (node->NodeState == NodeAccumulating || node->NodeState == NodeDone) node->Reset();
  }
}


void PVModel::ActivateReachedNodes(double time) {
  if (accumulationDirty_) {
    accumulationDirty_ = false;
    pending_ = 0;
    active_.clear();
  }
  while (pending_ < byStartTime_.size() && !(time < byStartTime_[pending_]->StartTime)) {
    PerformanceVariableNode* node = byStartTime_[pending_++];
    if (node->NodeState != NodeDone) active_.push_back(node);
  }
}

// ---- running -----------------------------------------------------------

BaseActionClass* PVModel::FireAction(BaseActionClass* action, double time) {
  LastActionTime = time;
  LastFiredAction = action->Fire();
  return LastFiredAction;
}

void PVModel::AccumulateNodes(double time) {
  if (!fastAccumulate_) {
    for (PerformanceVariableNode* node : ConsideredPVs)
      node->Accumulate(time, LastActionTime, LastFiredAction);
    return;
  }
  ActivateReachedNodes(time);
  // Visit the reached nodes; those that complete leave the active set. A
  // node whose observation only its completing call takes is merely marked
  // accumulating by a call that does not complete it (its workers would
  // compute a value that the completing call computes again).
  size_t kept = 0;
  for (size_t i = 0; i < active_.size(); i++) {
    PerformanceVariableNode* node = active_[i];
    if (node->CompletionOnly)
      node->AccumulateInstant(time, LastActionTime);
    else
      node->Accumulate(time, LastActionTime, LastFiredAction);
    if (node->NodeState != NodeDone) active_[kept++] = node;
  }
  active_.resize(kept);
}

void PVModel::EndAccumulate(double time) {
  if (fastAccumulate_) {
    EndAccumulateNotDone(time, LastActionTime, LastFiredAction);
    return;
  }
  for (PerformanceVariableNode* node : ConsideredPVs)
    if (node->NodeState != NodeDone) node->EndAccumulate(time, LastActionTime, LastFiredAction);
}

void PVModel::EndAccumulateNotDone(double time, double lastTime, BaseActionClass* lastAction) {
  // The nodes not done are the reached ones still accumulating and those
  // not reached yet (nodes are independent, so the order does not matter).
  ActivateReachedNodes(-1.7976931348623157e308);
  for (PerformanceVariableNode* node : active_) node->EndAccumulate(time, lastTime, lastAction);
  for (size_t i = pending_; i < byStartTime_.size(); i++)
    if (byStartTime_[i]->NodeState != NodeDone)
      byStartTime_[i]->EndAccumulate(time, lastTime, lastAction);
}

void PVModel::PVReset() {
  for (PerformanceVariableNode* node : PVList)
    if (node->NodeState == NodeAccumulating || node->NodeState == NodeDone) node->Reset();
  LastActionTime = 0.0;
  LastFiredAction = &NoActionFiredYet;
}

void PVModel::SteadyState() {
  PVReset();
  for (PerformanceVariableNode* node : PVList)
    if (node->SteadyStateFlag == 1) node->NodeState = NodeAccumulating;
}

// ---- state index -------------------------------------------------------

void PVModel::CreatePVStateIndex() {
  ChildStateSize = ChildModel->StateSize();
  if (UseStateIndex == 1) {
    IndexActions = ActionList;
    IndexCount = NumActions;
    IndexBytes = BytesFor(IndexCount);
  }
  TotalStateSize = ChildStateSize + IndexBytes;
}

int PVModel::BytesFor(int count) {
  if (count <= 0) return 0;
  if (count < 0x100) return 1;
  if (count < 0x10000) return 2;
  if (count < 0x1000000) return 3;
  return 4;
}

int PVModel::IndexOf(BaseActionClass* action) const {
  for (int i = 0; i < IndexCount; i++)
    if (IndexActions[i] == action) return i + 1;
  return 0;
}

BaseActionClass* PVModel::ActionAt(int index) {
  if (index <= 0 || index > IndexCount) return &NoActionFiredYet;
  return IndexActions[index - 1];
}

// The index is stored in its low IndexBytes bytes, least significant first.
int PVModel::StateIndexLookup(const void* state) const {
  const auto* p = static_cast<const unsigned char*>(state);
  int index = 0;
  for (int b = IndexBytes - 1; b >= 0; b--) index = (index << 8) | p[b];
  return index;
}

void PVModel::GetPVState(void* state) const {
  auto* p = static_cast<unsigned char*>(state);
  int index = IndexOf(LastFiredAction);
  for (int b = 0; b < IndexBytes; b++) p[b] = static_cast<unsigned char>(index >> (8 * b));
}

void PVModel::PutPVState(const void* state) {
  if (UseStateIndex == 0) {
    for (PerformanceVariableNode* node : ConsideredPVs) {
      node->CurrentReward(&NoActionFiredYet);
      node->ImpulseValue = 0;
    }
    return;
  }
  LastFiredAction = ActionAt(StateIndexLookup(state));
  for (PerformanceVariableNode* node : ConsideredPVs) node->CurrentReward(LastFiredAction);
}

void PVModel::AgeAction(const char* state, BaseActionClass*) {
  LastFiredAction = ActionAt(StateIndexLookup(state + ChildStateSize));
  for (PerformanceVariableNode* node : ConsideredPVs) node->CurrentReward(LastFiredAction);
}

int PVModel::FireAction(void* state, BaseActionClass* action) {
  action->Fire();
  LastFiredAction = action;
  for (PerformanceVariableNode* node : ConsideredPVs) node->CurrentReward(action);
  CurrentState(state);
  return 0;
}

// ---- PV type file ------------------------------------------------------

void PVModel::WritePVTypeFile(const char* fileName) {
  std::ofstream out(fileName, std::ios::out | std::ios::trunc);
  if (!out) return;
  out << "Version:1" << std::endl;
  out << "NumPV:" << NumPVs << std::endl;
  for (PerformanceVariableNode* node : PVList) {
    out << "Name:" << node->getName() << std::endl;
    out << "Type:" << static_cast<int>(node->GetRewardType()) << std::endl;
    out << "NumTimes:" << node->GetNumTimePoints() << std::endl;
    for (int i = 0; i < node->GetNumTimePoints(); i++) {
      out << "Start:" << node->GetStartTime(i) << std::endl;
      out << "Stop:" << node->GetStopTime(i) << std::endl;
    }
  }
}

// ---- teardown ----------------------------------------------------------

void PVModel::Destruct() {
  if (destructed_) return;
  destructed_ = true;
  NoActionFiredYet.DeallocatePVRateDS();
  NoActionFiredYet.DeallocatePVImpulseDS();
  for (int i = 0; i < NumActions; i++) {
    ActionList[i]->DeallocatePVRateDS();
    ActionList[i]->DeallocatePVImpulseDS();
  }
  AffectingActions.clear();
  AffectingActionSets.clear();
  for (PerformanceVariableNode* node : PVList) delete node;
  PVList.clear();
  ConsideredPVs.clear();
  delete ChildModel;
  ChildModel = nullptr;
  NumActions = 0;
  ActionList = nullptr;
  Actions = nullptr;
  Groups = nullptr;
  NumGroups = 0;
}
