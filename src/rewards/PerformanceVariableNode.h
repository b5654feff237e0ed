// PerformanceVariableNode: one performance variable at one time point. The
// node owns one worker per combination of model instances its reward reads,
// and sums their rewards into one observation (Value, with Square alongside)
// per replication or batch.
#ifndef TARVEX_REWARDS_PERFORMANCEVARIABLENODE_H
#define TARVEX_REWARDS_PERFORMANCEVARIABLENODE_H

#include <memory>
#include <string>
#include <vector>

#include "rewards/ActionModelPairClass.h"
#include "rewards/ImpulseNodeClass.h"
#include "rewards/ModelGroupClass.h"
#include "rewards/PerformanceVariableWorker.h"
#include "rewards/VarModelPairClass.h"

class BaseActionClass;
class BaseModelClass;
class PVModel;

// 0: instant of time (the reward of the state at one instant); any other
// value accumulates the workers' weighted rewards at every step.
enum RewardType : int {
  InstantOfTimeReward = 0,
  AccumulatedReward = 1,
};

// Node states: waiting for the window to open, accumulating, done.
enum NodeStateType : int { NodeWaiting = 0, NodeAccumulating = 1, NodeDone = 2 };

// Aligned to a cache line: the fields an accumulation uses fit in the
// node's first line.
class alignas(64) PerformanceVariableNode {
 public:
  // Process-wide counter of initialised nodes; a node's Id is its place in
  // the reward model's node list.
  static int the_id;

  // One impulse reward of the node.
  struct Impulse {
    int NumModelDeps = 0;
    int NumWorkers = 0;
    ImpulseNodeClass* Prototype = nullptr;
    std::vector<std::unique_ptr<ImpulseNodeClass>> Workers;
    ActionModelPairClass Pair;
    std::vector<std::string> ModelDeps;
    std::vector<ModelGroupClass> ModelGroups;
  };

  PerformanceVariableNode() = default;
  PerformanceVariableNode(const PerformanceVariableNode&) = delete;
  PerformanceVariableNode& operator=(const PerformanceVariableNode&) = delete;

  virtual ~PerformanceVariableNode();
  // Creates NumWorkers workers of the generated worker class into Workers.
  virtual void CreateWorkerList() = 0;
  // Clears the observation; a steady-state node's window slides forward.
  virtual void Reset();

  void Initialize(const char* name, RewardType type, int numTimePoints, const double* startTimes,
                  const double* stopTimes, int timeIndex, int numImpulses, int numModelDeps,
                  int numVarDeps);
  void AddVariableDependency(const char* svName, const char* modelName);
  void AddModelDependency(const char* modelName);
  bool IsDependentOnModel(const char* modelName) const;
  void AddImpulse(const char* actionName, const char* modelName, ImpulseNodeClass* impulse);
  void AddImpulseActionDependency(const char* actionName, const char* modelName, int impulse);
  bool IsDependentOnImpulseModel(const char* modelName, int impulse) const;
  int GetImpulseNumber(const ImpulseNodeClass* impulse) const;
  void DefineName(const char* name);
  int GetNumberOfWorkers();
  bool ImpulseAffectedBy(BaseActionClass* action);

  // Set-up, called by the reward model.
  void FixReferences(BaseModelClass* top);
  void CreateModelGroupList();
  void FixWorkerList();
  void AddPVWorkersToAction(BaseActionClass* action, BaseModelClass* model);
  void CreateImpulseModelGroupList();
  void CreateImpulseWorkerLists();
  void FixImpulseWorkerLists();

  // Run time.
  void Accumulate(double now, double lastTime, BaseActionClass* lastAction);
  void EndAccumulate(double now, double lastTime, BaseActionClass* lastAction);
  void CurrentReward(BaseActionClass* lastAction);
  void UpdateAccumulate(double now);
  // True when an accumulation that leaves the node accumulating changes
  // nothing but its state: an instant-of-time node without impulses whose
  // workers keep no history. Its observation is taken by the call that
  // completes it.
  bool OnlyCompletionCounts() const;
  // Accumulate for a node of that kind (CompletionOnly): the same
  // operations in the same order, without the general case's branches.
  void AccumulateInstant(double now, double lastTime) {
    if (NodeState == NodeDone || now < StartTime) return;
    if (!(now > StopTime)) {
      NodeState = NodeAccumulating;
      return;
    }
    NodeState = NodeDone;
    if (SoleWorker) {
      // The common node with one worker: its sum is its one value.
      PerformanceVariableWorker* w = SoleWorker;
      w->Accumulate(now, lastTime);
      double total = 0.0 + w->Value;
      double weight = w->Weight;
      Value += weight * total;
      Square += weight * (total * total);
    } else if (NumWorkers > 1) {
      for (int i = 0; i < NumWorkers; i++) Workers[i]->Accumulate(now, lastTime);
      double total = 0;
      for (int i = 0; i < NumWorkers; i++) total += Workers[i]->Value;
      double weight = Workers[0]->Weight;
      Value += weight * total;
      Square += weight * (total * total);
    }
    ImpulseValue = 0;
    ImpulseSquare = 0;
    Value += ImpulseValue;
    Square += ImpulseSquare;
  }

  RewardType GetRewardType() const { return Type; }
  int GetNumTimePoints() const { return NumTimePoints; }
  double GetStartTime(int i) const { return StartTimes[i]; }
  double GetStopTime(int i) const { return StopTimes[i]; }
  const char* getName() const { return Name.c_str(); }

  // The fields an accumulation reads and writes come first, so that they
  // share the node's first cache lines.
  int NodeState = NodeWaiting;
  int NumWorkers = 0;
  double Value = 0.0;
  double Square = 0.0;
  double StartTime = -1.0;
  double StopTime = -1.0;
  // The node's only worker, when it has exactly one (most nodes do).
  PerformanceVariableWorker* SoleWorker = nullptr;
  std::vector<std::unique_ptr<PerformanceVariableWorker>> Workers;
  double ImpulseValue = 0.0;
  double ImpulseSquare = 0.0;
  int NumImpulses = 0;
  int SteadyStateFlag = 0;
  RewardType Type = InstantOfTimeReward;
  // Set by the reward model from OnlyCompletionCounts() once the node is
  // built.
  bool CompletionOnly = false;
  // The reward model that owns the node; told when the node is reset, so
  // that it can keep track of which nodes an accumulation can change.
  PVModel* Owner = nullptr;
  double IntervalLength = 0.0;
  std::vector<Impulse> Impulses;

  BaseModelClass** TopModelSlot = nullptr;
  std::string Name;
  int NumTimePoints = 0;
  std::vector<double> StartTimes;
  std::vector<double> StopTimes;
  int Id = -1;
  std::vector<BaseActionClass*> NodeActions;
  int NumNodeActions = 0;
  std::vector<ModelGroupClass> ModelGroups;
  std::vector<VarModelPairClass> VarDeps;
  int NumVarDeps = 0;
  std::vector<std::string> ModelDeps;
  int NumModelDeps = 0;

 private:
  void CommonAccumulate(double now, double lastTime, BaseActionClass* action);
  void TotalAccumulation();
  // Number of instances of each model dependency, multiplied together.
  int CountWorkers(const std::vector<std::string>& deps);
};

#endif
