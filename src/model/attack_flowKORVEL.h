// attack_flowKORVEL: the adversary attacking a wireless network. Model data
// only: 32 state variables, 9 adversary decisions with 15 outcome steps, 10
// groups, 3 goals, the decision parameters and the three utility functions.
#ifndef TARVEX_MODEL_ATTACK_FLOWKORVEL_H
#define TARVEX_MODEL_ATTACK_FLOWKORVEL_H

#include <memory>
#include <vector>

#include "base/TypedPostselectGroup.h"
#include "formalism/Access.h"
#include "formalism/AdversaryDecision.h"
#include "formalism/BeginAdversaryDecision.h"
#include "formalism/Goal.h"
#include "formalism/KORVELModel.h"
#include "formalism/Knowledge.h"
#include "formalism/Skill.h"
#include "formalism/Step.h"
#include "formalism/StepChosen.h"
#include "formalism/StepWeight.h"

class attack_flowKORVEL;

// A variable an action uses, with the action's own linked pointer to its
// value (kept pointing at the variable's storage by the variable).
struct LinkedSV {
  KORVELStateVariable* sv = nullptr;
  short* value = nullptr;

  short operator*() const { return *value; }
  void set(short v) { *value = v; }
  // Registers the linked pointer with the variable.
  void link() { sv->registerPointer(&value); }
};

// Common part of the model's outcome steps: enabled while their decision's
// StepChosen is set; their weight is the outcome probability; their delay is
// a fixed duration.
class attack_flowStep : public Step {
 public:
  attack_flowStep(const char* name, int groupId, double duration);

  // Final, so that the outcome groups call them directly.
  bool Enabled() final {
    wasEnabled = enabled;
    enabled = *chosen > 0;
    return enabled;
  }
  double Weight() final { return getOutcomeProbability(); }
  int Rank() final { return 1; }
  bool ReactivationPredicate() final { return false; }
  bool ReactivationFunction() final { return false; }
  double SampleDistribution() final;
  bool EnablingChange() final { return BaseKORVELAction::EnablingChange(); }
  bool SelectAction() final { return BaseKORVELAction::SelectAction(); }
  double* ReturnDistributionParameters() override {
    params[0] = duration;
    return params;
  }
  double timeDistributionParameter0() const { return duration; }
  void LinkVariables() override;

  // Gives the step pointers to the variables it uses.
  virtual void assignSVs(attack_flowKORVEL* m) = 0;
  void setChosen(KORVELStateVariable* sv) { chosen.sv = sv; }

 protected:
  // The variables of the decision's precondition, probabilities and effects.
  std::vector<LinkedSV*> uses;
  LinkedSV chosen;

 private:
  double duration;
  double params[1] = {0.0};
};

// Common part of the model's adversary decisions: enabled while MakeDecision
// is set, weighted by their StepWeight, taken at once.
class attack_flowDecision : public AdversaryDecision {
 public:
  explicit attack_flowDecision(const char* name);

  // Final, so that the decision group calls them directly.
  bool Enabled() final {
    wasEnabled = enabled;
    enabled = *makeDecision > 0;
    return enabled;
  }
  double Weight() final { return static_cast<double>(*weight); }
  int Rank() final { return 1; }
  bool ReactivationPredicate() final { return false; }
  bool ReactivationFunction() final { return false; }
  double SampleDistribution() final { return 0.0; }
  bool EnablingChange() final { return BaseKORVELAction::EnablingChange(); }
  bool SelectAction() final { return BaseKORVELAction::SelectAction(); }
  double* ReturnDistributionParameters() override { return nullptr; }
  BaseActionClass* Fire() override {
    makeDecision.set(*makeDecision - 1);
    weight.set(*weight - 1);
    chosen.set(*chosen + 1);
    return this;
  }
  void LinkVariables() override {
    makeDecision.link();
    chosen.link();
    weight.link();
  }
  void assignSVs(KORVELStateVariable* make, KORVELStateVariable* chosenSV, KORVELStateVariable* weightSV) {
    makeDecision.sv = make;
    chosen.sv = chosenSV;
    weight.sv = weightSV;
  }

  // The variable that enables the decision (the model's MakeDecision) and
  // the decision's weight, for the decision group.
  const KORVELStateVariable* enablingVariable() const { return makeDecision.sv; }
  short enablingValue() const { return *makeDecision; }
  double weightValue() const { return static_cast<double>(*weight); }

 private:
  LinkedSV makeDecision;
  LinkedSV chosen;
  LinkedSV weight;
};

// The group of the adversary's decisions. Every decision is enabled exactly
// when the model's MakeDecision is positive and has rank 1, so the group
// reads MakeDecision once per evaluation instead of once per member; each
// member's enabling flags, Disabled flag and weight entry come out as the
// general group would set them. A group whose members do not all share one
// enabling variable works as the general group does.
class attack_flowDecisionGroup : public TypedPostselectGroup<attack_flowDecision> {
 public:
  bool Enabled() override;
  bool SelectAction() override;

 private:
  // Whether all members read one enabling variable; worked out once, when
  // the members' enabling flags are also gathered into the arrays below.
  bool sharesEnabling() { return sharing_ == 1 || (sharing_ < 0 && FindSharing()); }
  bool FindSharing();
  // Every member's evaluation at once: earlier result := latest, latest := e.
  void ShiftFlags(int n, bool e);
  static const int kFlagBlock = 16;
  int sharing_ = -1;
  std::unique_ptr<bool[]> enabled_;
  std::unique_ptr<bool[]> wasEnabled_;
};

#define ATTACK_FLOW_DECISION(Name)                                   \
  class Name : public attack_flowDecision {                          \
   public:                                                           \
    Name() : attack_flowDecision(#Name) {}                           \
  };
ATTACK_FLOW_DECISION(NetworkscanningAdversaryDecision)
ATTACK_FLOW_DECISION(EvilTwinAdversaryDecision)
ATTACK_FLOW_DECISION(JoinNetworkAdversaryDecision)
ATTACK_FLOW_DECISION(RogueAPAdversaryDecision)
ATTACK_FLOW_DECISION(BlockTrafficFlowAdversaryDecision)
ATTACK_FLOW_DECISION(ApplicationLayerAttackAdversaryDecision)
ATTACK_FLOW_DECISION(NetworkLayerAttackAdversaryDecision)
ATTACK_FLOW_DECISION(PasswordCaptureAdversaryDecision)
ATTACK_FLOW_DECISION(DoNothingAdversaryDecision)
#undef ATTACK_FLOW_DECISION

class attack_flowKORVEL : public KORVELModel {
 public:
  static const int kNumSVs = 32;
  static const int kNumDecisions = 9;
  static const int kNumSteps = 15;
  static const int kNumGroups = 10;
  static const int kNumGoals = 3;

  attack_flowKORVEL();
  ~attack_flowKORVEL() override;

  double convertCostToUtility(double x) override;
  double convertPayoffToUtility(double x) override;
  double convertDetectionToUtility(double x) override;

  void assignSVsToAttackSteps();
  void customInitialization() {}

  // The state variables, in registration (and state image) order.
  Access* APHardware;
  Knowledge* Hijacking;
  Knowledge* SSIDMACtargetnetwork;
  Knowledge* NetworkAccess;
  Knowledge* NetworkKey;
  Knowledge* NoKeyNoAccess;
  Skill* PacketForging;
  Skill* SocialEngineering;
  Skill* APConfiguration;
  Skill* NetworkHacking;
  Goal* DOS;
  Goal* MITM;
  Goal* SensitiveInformation;
  StepChosen* Chosen[kNumDecisions];
  StepWeight* Weights[kNumDecisions];
  BeginAdversaryDecision* MakeDecision;

  // The steps in step-table order and the decisions in decision order.
  attack_flowStep* Steps[kNumSteps];
  attack_flowDecision* Decisions[kNumDecisions];
  // The groups in group-index order (three are single steps).
  BaseGroupClass* GroupList[kNumGroups];

  attack_flowStep* stepNamed(const char* name) const;
  attack_flowDecision* decisionNamed(const char* name) const;

 private:
  std::vector<std::unique_ptr<BaseGroupClass>> owned_;
};

#endif
