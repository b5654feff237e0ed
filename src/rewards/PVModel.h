// PVModel: the reward model. It wraps one child model (presenting the child's
// actions and state as its own), expands every performance variable into one
// node per time point, computes once which actions can change which nodes,
// and drives the nodes' accumulation as simulated time advances.
#ifndef TARVEX_REWARDS_PVMODEL_H
#define TARVEX_REWARDS_PVMODEL_H

#include <vector>

#include "base/BaseActionClass.h"
#include "base/BaseModelClass.h"
#include "rewards/MeasureLayout.h"
#include "rewards/PerformanceVariableNode.h"

// On cache lines of its own: in a two-thread run a second instance is
// written by the observing thread.
class alignas(64) PVModel : public BaseModelClass {
 public:
  PVModel();
  ~PVModel() override;

  void listModels(const char* name, List<BaseModelClass>* out) override;
  void CurrentState(void* state) override;
  void listActions(List<BaseActionClass>* out) override;
  void listGroups(List<BaseGroupClass>* out) override;
  void SetState(void* state) override;
  int StateSize() override { return TotalStateSize; }
  bool CompareState(void* a, void* b) override;
  void listActions(const char* name, List<BaseActionClass>* out) override;
  void listSVs(const char* modelName, const char* svName, List<BaseStateVariableClass>* out,
               List<BaseModelClass>* models) override;
  void printState(std::ostream* os) override;
  using BaseModelClass::printState;
  // Creates the node of one performance variable at one time index.
  virtual PerformanceVariableNode* createPVNode(int pvIndex, int timeIndex) = 0;

  // Building, in this order.
  void CreatePVList(int numPVs, bool expandTimePoints);
  void Initialize();
  // Keeps only the listed nodes for accumulation (all of them for null).
  void ConsiderOnly(const int* indices, int count);

  // Running.
  BaseActionClass* FireAction(BaseActionClass* action, double time);
  void Accumulate(double time) {
    // Most firings fall between observation instants: nothing to visit.
    if (fastAccumulate_ && !accumulationDirty_ && active_.empty() &&
        (pending_ == byStartTime_.size() || time < byStartTime_[pending_]->StartTime))
      return;
    AccumulateNodes(time);
  }
  void EndAccumulate(double time);
  void PVReset();
  void SteadyState();

  // Steps of Initialize.
  void CreateTotalPVAffectsList(BaseActionClass* action);
  void RemakeAffectedLists() {}
  void MakeAffectedLists();
  void MakeImpulseAffectedLists();
  void CreateAffectedLists();

  // The identity of the last fired action carried in a state vector. Not
  // switched on in this system (UseStateIndex stays 0).
  void CreatePVStateIndex();
  static int BytesFor(int count);
  int StateIndexLookup(const void* state) const;
  void PutPVState(const void* state);
  void GetPVState(void* state) const;
  void AgeAction(const char* state, BaseActionClass* action);
  int FireAction(void* state, BaseActionClass* action);

  void WritePVTypeFile(const char* fileName);
  void Destruct();

  // Called by a node when it is reset: the nodes an accumulation can change
  // are worked out afresh.
  void NodeWasReset() { accumulationDirty_ = true; }

  // ---- observations worked out later from saved states -------------------
  // When every considered node takes its observation only in the call that
  // completes it, an accumulation changes nothing but node states until one
  // completes; the calls that complete a node can then be replayed on
  // another instance of the reward model from saved state images, in the
  // same order, with the same results.
  bool CanDeferObservation() const;
  // Whether an accumulation at `time` completes a considered node (and so
  // must be replayed); starts over with RestartCompletionSchedule for every
  // replication.
  bool CompletionDue(double time) {
    if (nextStop_ == stopTimes_.size() || !(time > stopTimes_[nextStop_])) return false;
    while (nextStop_ < stopTimes_.size() && time > stopTimes_[nextStop_]) nextStop_++;
    return true;
  }
  void RestartCompletionSchedule() { nextStop_ = 0; }
  // Accumulation and end of replication as they were made on the recording
  // model, given the time of its last firing. They touch nothing
  // process-wide, so they may run beside a simulation on another model.
  void ReplayAccumulate(double time, double lastTime);
  void ReplayEndAccumulate(double time, double lastTime);
  // Copies every node's observation (values[i], and squares[i] when squares
  // is not null, for node i) and resets, as PVReset does, the nodes
  // accumulating or done: one pass.
  void CollectAndReset(double* values, double* squares);
  // The reset of the last firing that PVReset makes, without resetting
  // nodes (a recording model's nodes are never accumulated).
  void ResetLastAction() {
    LastActionTime = 0.0;
    LastFiredAction = &NoActionFiredYet;
  }

  // The performance variable, name and instant of every node, in node order
  // (after CreatePVList).
  MeasureLayout Measures() const;

  BaseModelClass* getChildModel() const { return ChildModel; }
  int getNumPVs() const { return NumPVs; }
  PerformanceVariableNode* getNode(int i) const { return PVList[i]; }
  PerformanceVariableNode** getNodes() { return PVList.data(); }
  const std::vector<PerformanceVariableNode*>& getConsidered() const { return ConsideredPVs; }
  BaseActionClass* getLastFiredAction() const { return LastFiredAction; }
  double getMaxStopTime() const { return MaxStopTime; }

  std::vector<PerformanceVariableNode*> PVList;
  int NumPVs = 0;
  BaseModelClass* ChildModel = nullptr;
  BaseActionClass* LastFiredAction;
  // Simulated time of this model's most recent firing (0 before the first
  // of a replication).
  double LastActionTime = 0.0;
  BaseActionClass** ActionList = nullptr;
  double MaxStopTime = 0.0;
  std::vector<BaseActionClass*> AffectingActions;
  std::vector<FastSet*> AffectingActionSets;
  int NumRateActions = 0;
  int NumImpulseActions = 0;
  int NumAffectingActions = 0;
  int IndexCount = 0;
  int ChildStateSize = 0;
  int TotalStateSize = 0;
  int IndexBytes = 0;
  int UseStateIndex = 0;
  BaseActionClass** IndexActions = nullptr;
  BaseActionClass NoActionFiredYet;
  std::vector<PerformanceVariableNode*> ConsideredPVs;

 private:
  // Accumulation visits only the nodes it can change. Within a replication
  // time only advances, and a node changes only once simulated time has
  // reached its start time and until it is done; the considered nodes are
  // therefore kept in order of start time, `pending_` marking the first one
  // whose window simulated time has not reached yet, and `active_` holding
  // the reached nodes that are not done. Nodes are independent of each
  // other, so visiting only these gives the same results as visiting all.
  // Steady-state nodes slide their windows: with any of them considered,
  // every considered node is visited.
  void ActivateReachedNodes(double time);
  // EndAccumulate of every considered node not done (fast path only).
  void EndAccumulateNotDone(double time, double lastTime, BaseActionClass* lastAction);
  void AccumulateNodes(double time);
  bool fastAccumulate_ = false;
  bool accumulationDirty_ = true;
  std::vector<PerformanceVariableNode*> byStartTime_;
  size_t pending_ = 0;
  std::vector<PerformanceVariableNode*> active_;
  // The considered nodes' stop times, ascending, for CompletionDue.
  std::vector<double> stopTimes_;
  size_t nextStop_ = 0;

  // The performance variable and time index each node of PVList was created
  // with, and the number of performance variables CreatePVList was given.
  struct NodeOrigin {
    int pv;
    int timeIndex;
  };
  std::vector<NodeOrigin> nodeOrigins_;
  int numPVIndices_ = 0;

  int IndexOf(BaseActionClass* action) const;
  BaseActionClass* ActionAt(int index);
  bool destructed_ = false;
};

#endif
