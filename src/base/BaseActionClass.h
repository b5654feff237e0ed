// BaseActionClass: the base of every timed action of a model.
//
// It carries what the driver needs to schedule and fire an action (identity,
// enabling and affected state variables, the driver's scheduling record and
// the list of units its firing can affect) and the per-action reward data that
// the reward model fills in. Every virtual operation has a harmless default
// that concrete actions override.
#ifndef TARVEX_BASE_BASEACTIONCLASS_H
#define TARVEX_BASE_BASEACTIONCLASS_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "base/FastSet.h"
#include "base/List.h"

class BaseStateVariableClass;
class BaseModelClass;
struct EventRecord;

// Kind of delay distribution; stored and printed as a number only. Generated
// actions use 2 for deterministic delays and 18 for zero delays.
enum Distribution : int {
  DefaultDistribution = 1,
  DeterministicDistribution = 2,
  ZeroDelayDistribution = 18,
};

// Execution policy of an action; stored and printed as a number only.
enum ExecutionPolicyType : int {
  DefaultExecutionPolicy = 1,
};

class BaseActionClass {
 public:
  // Process-wide counter that hands out action identifiers; a simulator
  // restarts it at 0 before building its models.
  static int MaxID;

  BaseActionClass();
  BaseActionClass(const char* name, int groupId, Distribution dist, ExecutionPolicyType policy, int,
                  int, bool reactivation);
  BaseActionClass(const BaseActionClass&) = delete;
  BaseActionClass& operator=(const BaseActionClass&) = delete;

  virtual ~BaseActionClass();
  virtual bool isSync();
  virtual bool Enabled();
  virtual double Weight();
  virtual double Rate();
  virtual bool ReactivationPredicate();
  virtual bool ReactivationFunction();
  virtual double SampleDistribution();
  virtual double* ReturnDistributionParameters();
  virtual void SetFired(int fired);
  virtual BaseActionClass* Fire();
  virtual int Rank();
  virtual bool EnablingChange();
  virtual bool IsAMember(BaseActionClass* a);
  virtual double Probability(BaseActionClass* a);
  virtual void printAffectedState(std::ostream* os);
  virtual void printEnablingState(std::ostream* os);
  virtual BaseActionClass* getPrintedAction();
  virtual double ErlangParamM();

  void BaseActionClassInitialize(const char* name, int groupId, Distribution dist,
                                 ExecutionPolicyType policy, int, int, bool reactivation);
  const char* defineName(const char* name);
  const char* getName() const { return Name.c_str(); }

  // Registers a state variable this action reads (addEnablingSV) or writes
  // (addAffectedSV); structured variables register their leaves instead.
  void addEnablingSV(BaseStateVariableClass* sv);
  void addAffectedSV(BaseStateVariableClass* sv);
  void removeEnablingSV(BaseStateVariableClass* sv);
  void removeAffectedSV(BaseStateVariableClass* sv);

  // Per-PV reward structures, allocated by the reward model.
  void AllocatePVRateDS(int n);
  bool IsPVRateDSAllocated() const { return RateRewardNodes != nullptr; }
  void DeallocatePVRateDS();
  void AllocatePVImpulseDS(int n);
  bool IsPVImpulseDSAllocated() const { return ImpulseRewardNodes != nullptr; }
  void DeallocatePVImpulseDS();

  // Multi-phase (Erlang) delays.
  void ResetPhase() { Phase = 1; }
  void Age() { Phase++; }
  bool ReadyToFire() { return static_cast<double>(Phase) == ErlangParamM(); }

  void PrintInfo();

  int GroupID = 0;
  ExecutionPolicyType ExecutionPolicy = DefaultExecutionPolicy;
  bool Disabled = true;
  bool Reactivation = false;
  std::string Name = "default";
  // Units (schedulable groups) whose status may change when this action
  // fires, in the order the driver re-examines them.
  std::vector<BaseActionClass*> AffectsList;
  bool Fired = false;
  Distribution DistributionType = DefaultDistribution;
  ::EventRecord* EventRecord = nullptr;
  BaseModelClass* Model = nullptr;
  FastSet AffectedNodesByImpulseReward;
  std::unique_ptr<FastSet[]> ImpulseRewardNodes;
  // Impulse bookkeeping per performance variable: the impulse numbers that
  // this action drives (A) and, per impulse, the worker indices (B).
  std::unique_ptr<std::vector<int>[]> ImpulseTableA;
  std::unique_ptr<std::vector<std::vector<int>>[]> ImpulseTableB;
  std::unique_ptr<FastSet[]> RateRewardNodes;
  FastSet AffectedNodes;
  FastSet AffectedNodesByRateReward;
  short Phase = 1;
  int ID;
  List<BaseStateVariableClass> AffectedSVs;
  List<BaseStateVariableClass> EnablingSVs;
};

#endif
