#include "model/attack_flowKORVEL.h"

#include <cmath>
#include <cstring>
#include <string>

#include "distributions/DistributionDefinition.h"

// ---- common step and decision parts -----------------------------------

attack_flowStep::attack_flowStep(const char* name, int groupId, double d) : duration(d) {
  commonInit(name, groupId, DeterministicDistribution, DefaultExecutionPolicy, 0, 0, false);
}

double attack_flowStep::SampleDistribution() { return TheDistribution->Deterministic(duration); }

void attack_flowStep::LinkVariables() {
  chosen.link();
  for (LinkedSV* l : uses) l->link();
}

bool attack_flowDecisionGroup::FindSharing() {
  {
    sharing_ = NumMembers > 0 ? 1 : 0;
    for (int i = 1; i < NumMembers; i++)
      if (static_cast<attack_flowDecision*>(Members[i])->enablingVariable() !=
          static_cast<attack_flowDecision*>(Members[0])->enablingVariable())
        sharing_ = 0;
    if (sharing_ == 1) {
      // Whole blocks of kFlagBlock, so that a block copies in one move.
      int room = (NumMembers + kFlagBlock - 1) / kFlagBlock * kFlagBlock;
      enabled_.reset(new bool[room]());
      wasEnabled_.reset(new bool[room]());
      for (int i = 0; i < NumMembers; i++) {
        auto* m = static_cast<attack_flowDecision*>(Members[i]);
        m->enabled.MoveTo(&enabled_[i]);
        m->wasEnabled.MoveTo(&wasEnabled_[i]);
      }
    }
  }
  return sharing_ == 1;
}

// Every member's evaluation moves its latest result to its earlier one and
// takes the shared variable's value.
bool attack_flowDecisionGroup::Enabled() {
  if (!sharesEnabling()) return TypedPostselectGroup::Enabled();
  const int n = NumMembers;
  const bool e = static_cast<attack_flowDecision*>(Members[0])->enablingValue() > 0;
  ShiftFlags(n, e);
  return e;
}

void attack_flowDecisionGroup::ShiftFlags(int n, bool e) {
  for (int i = 0; i < n; i += kFlagBlock) {
    std::memcpy(wasEnabled_.get() + i, enabled_.get() + i, kFlagBlock);
    std::memset(enabled_.get() + i, e, kFlagBlock);
  }
}

bool attack_flowDecisionGroup::SelectAction() {
  if (!sharesEnabling()) return TypedPostselectGroup::SelectAction();
  double u = TheDistribution->getGenerator()->rnd();
  BaseGroupClass* const* members = Members.data();
  WeightEntry* dist = WeightDistribution.data();
  const int n = NumMembers;
  const bool e = static_cast<attack_flowDecision*>(members[0])->enablingValue() > 0;
  ShiftFlags(n, e);
  double cumulative = 0.0;
  for (int i = 0; i < n; i++) {
    auto* m = static_cast<attack_flowDecision*>(members[i]);
    m->Disabled = !e;
    if (!e) continue;
    // Every member has rank 1: the first sets the distribution going, the
    // others extend it.
    cumulative = i == 0 ? m->weightValue() : cumulative + m->weightValue();
    dist[i] = WeightEntry{cumulative, m};
  }
  if (!e) return false;
  MaxRank = 1;
  NumEntries = n;
  double target = cumulative * u;
  auto* chosen = static_cast<attack_flowDecision*>(dist[EntryAt(target)].member);
  chosen->attack_flowDecision::SelectAction();
  SelectedAction = chosen->getSelectedAction();
  return true;
}

attack_flowDecision::attack_flowDecision(const char* name) {
  commonInit(name, 9, ZeroDelayDistribution, DefaultExecutionPolicy, 0, 0, false);
}

namespace {

// Each decision's outcome steps share the decision's precondition and cost
// and the variables they read or write.

class NetworkscanningStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NoKeyNoAccess.sv = m->NoKeyNoAccess;
    SSIDMACtargetnetwork.sv = m->SSIDMACtargetnetwork;
    uses = {&NoKeyNoAccess, &SSIDMACtargetnetwork};
  }
  bool preconditionsMet() override { return *NoKeyNoAccess != 0 && *SSIDMACtargetnetwork == 0; }
  double getCost() override { return 0.0; }

 protected:
  LinkedSV NoKeyNoAccess, SSIDMACtargetnetwork;
};

class NetworkscanningSuccessStep : public NetworkscanningStep {
 public:
  NetworkscanningSuccessStep() : NetworkscanningStep("NetworkscanningSuccessStep", 0, 2.0) {}
  double getOutcomeProbability() override { return 1.0; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { SSIDMACtargetnetwork.set(1); }
};

class EvilTwinStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NetworkKey.sv = m->NetworkKey;
    APHardware.sv = m->APHardware;
    APConfiguration.sv = m->APConfiguration;
    MITM.sv = m->MITM;
    uses = {&NetworkKey, &APHardware, &APConfiguration, &MITM};
  }
  bool preconditionsMet() override {
    return *NetworkKey != 0 && *APHardware == 1 && *APConfiguration > 6 && *MITM == 0;
  }
  double getCost() override { return 3.0; }

 protected:
  LinkedSV NetworkKey, APHardware, APConfiguration, MITM;
};

class EvilTwinFailureStep : public EvilTwinStep {
 public:
  EvilTwinFailureStep() : EvilTwinStep("EvilTwinFailureStep", 1, 8.0) {}
  double getOutcomeProbability() override { return *APConfiguration > 8 ? 0.1 : 0.7; }
  double getDetection() override { return 0.2; }
  void executeEffects() override {}
};

class EvilTwinSuccessStep : public EvilTwinStep {
 public:
  EvilTwinSuccessStep() : EvilTwinStep("EvilTwinSuccessStep", 1, 8.0) {}
  double getOutcomeProbability() override { return *APConfiguration > 8 ? 0.9 : 0.3; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { MITM.set(1); }
};

class JoinNetworkStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NetworkKey.sv = m->NetworkKey;
    NetworkAccess.sv = m->NetworkAccess;
    uses = {&NetworkKey, &NetworkAccess};
  }
  bool preconditionsMet() override { return *NetworkKey != 0 && *NetworkAccess == 0; }
  double getCost() override { return 0.0; }

 protected:
  LinkedSV NetworkKey, NetworkAccess;
};

class JoinNetworkSuccessStep : public JoinNetworkStep {
 public:
  JoinNetworkSuccessStep() : JoinNetworkStep("JoinNetworkSuccessStep", 2, 1.0) {}
  double getOutcomeProbability() override { return 1.0; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { NetworkAccess.set(1); }
};

class RogueAPStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NetworkKey.sv = m->NetworkKey;
    SSIDMACtargetnetwork.sv = m->SSIDMACtargetnetwork;
    APHardware.sv = m->APHardware;
    APConfiguration.sv = m->APConfiguration;
    uses = {&NetworkKey, &SSIDMACtargetnetwork, &APHardware, &APConfiguration};
  }
  bool preconditionsMet() override {
    return *NetworkKey == 0 && *SSIDMACtargetnetwork != 0 && *APHardware == 1 &&
           *APConfiguration > 6;
  }
  double getCost() override { return 2.0; }

 protected:
  LinkedSV NetworkKey, SSIDMACtargetnetwork, APHardware, APConfiguration;
};

class RogueAPFailureStep : public RogueAPStep {
 public:
  RogueAPFailureStep() : RogueAPStep("RogueAPFailureStep", 3, 6.0) {}
  double getOutcomeProbability() override { return *APConfiguration > 8 ? 0.2 : 0.5; }
  double getDetection() override { return 0.3; }
  void executeEffects() override {}
};

class RogueAPSuccessStep : public RogueAPStep {
 public:
  RogueAPSuccessStep() : RogueAPStep("RogueAPSuccessStep", 3, 6.0) {}
  double getOutcomeProbability() override { return *APConfiguration > 8 ? 0.8 : 0.5; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { NetworkKey.set(1); }
};

class BlockTrafficFlowStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    DOS.sv = m->DOS;
    Hijacking.sv = m->Hijacking;
    MITM.sv = m->MITM;
    uses = {&DOS, &Hijacking, &MITM};
  }
  bool preconditionsMet() override { return *DOS == 0 && (*Hijacking != 0 || *MITM != 0); }
  double getCost() override { return 2.0; }

 protected:
  LinkedSV DOS, Hijacking, MITM;
};

class BlockTrafficFlowFailureStep : public BlockTrafficFlowStep {
 public:
  BlockTrafficFlowFailureStep() : BlockTrafficFlowStep("BlockTrafficFlowFailureStep", 4, 2.0) {}
  double getOutcomeProbability() override { return 0.1; }
  double getDetection() override { return 0.1; }
  void executeEffects() override {}
};

class BlockTrafficFlowSuccessStep : public BlockTrafficFlowStep {
 public:
  BlockTrafficFlowSuccessStep() : BlockTrafficFlowStep("BlockTrafficFlowSuccessStep", 4, 2.0) {}
  double getOutcomeProbability() override { return 0.9; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { DOS.set(1); }
};

// The model gives no value for a NetworkHacking or PacketForging skill at or
// below the thresholds; the skills are constant at 10, and 0.0 stands there.
class ApplicationLayerAttackStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    MITM.sv = m->MITM;
    SensitiveInformation.sv = m->SensitiveInformation;
    NetworkHacking.sv = m->NetworkHacking;
    uses = {&MITM, &SensitiveInformation, &NetworkHacking};
  }
  bool preconditionsMet() override {
    return *MITM != 0 && *SensitiveInformation == 0 && *NetworkHacking > 8;
  }
  double getCost() override { return 5.0; }

 protected:
  LinkedSV MITM, SensitiveInformation, NetworkHacking;
};

class ApplicationLayerAttackFailureStep : public ApplicationLayerAttackStep {
 public:
  ApplicationLayerAttackFailureStep()
      : ApplicationLayerAttackStep("ApplicationLayerAttackFailureStep", 5, 7.0) {}
  double getOutcomeProbability() override { return 0.0; }
  double getDetection() override { return *NetworkHacking > 9 ? 0.3 : 0.0; }
  void executeEffects() override {}
};

class ApplicationLayerAttackSuccessStep : public ApplicationLayerAttackStep {
 public:
  ApplicationLayerAttackSuccessStep()
      : ApplicationLayerAttackStep("ApplicationLayerAttackSuccessStep", 5, 7.0) {}
  double getOutcomeProbability() override { return *NetworkHacking > 9 ? 1.0 : 0.0; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { SensitiveInformation.set(1); }
};

class NetworkLayerAttackStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NetworkAccess.sv = m->NetworkAccess;
    Hijacking.sv = m->Hijacking;
    PacketForging.sv = m->PacketForging;
    uses = {&NetworkAccess, &Hijacking, &PacketForging};
  }
  bool preconditionsMet() override {
    return *NetworkAccess != 0 && *Hijacking == 0 && *PacketForging > 7;
  }
  double getCost() override { return 2.0; }

 protected:
  LinkedSV NetworkAccess, Hijacking, PacketForging;
};

class NetworkLayerAttackFailureStep : public NetworkLayerAttackStep {
 public:
  NetworkLayerAttackFailureStep() : NetworkLayerAttackStep("NetworkLayerAttackFailureStep", 6, 4.0) {}
  double getOutcomeProbability() override { return *PacketForging > 9 ? 0.1 : 0.0; }
  double getDetection() override { return 0.1; }
  void executeEffects() override {}
};

class NetworkLayerAttackSuccessStep : public NetworkLayerAttackStep {
 public:
  NetworkLayerAttackSuccessStep() : NetworkLayerAttackStep("NetworkLayerAttackSuccessStep", 6, 4.0) {}
  double getOutcomeProbability() override { return *PacketForging > 9 ? 0.9 : 0.0; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { Hijacking.set(1); }
};

class PasswordCaptureStep : public attack_flowStep {
 public:
  using attack_flowStep::attack_flowStep;
  void assignSVs(attack_flowKORVEL* m) override {
    NetworkKey.sv = m->NetworkKey;
    NoKeyNoAccess.sv = m->NoKeyNoAccess;
    SocialEngineering.sv = m->SocialEngineering;
    uses = {&NetworkKey, &NoKeyNoAccess, &SocialEngineering};
  }
  bool preconditionsMet() override {
    return *NetworkKey == 0 && *NoKeyNoAccess != 0 && *SocialEngineering > 5;
  }
  double getCost() override { return 2.0; }

 protected:
  LinkedSV NetworkKey, NoKeyNoAccess, SocialEngineering;
};

class PasswordCaptureFailureStep : public PasswordCaptureStep {
 public:
  PasswordCaptureFailureStep() : PasswordCaptureStep("PasswordCaptureFailureStep", 7, 8.0) {}
  double getOutcomeProbability() override { return *SocialEngineering > 7 ? 0.1 : 0.7; }
  double getDetection() override { return 0.1; }
  void executeEffects() override {}
};

class PasswordCaptureSuccessStep : public PasswordCaptureStep {
 public:
  PasswordCaptureSuccessStep() : PasswordCaptureStep("PasswordCaptureSuccessStep", 7, 8.0) {}
  double getOutcomeProbability() override { return *SocialEngineering > 7 ? 0.9 : 0.3; }
  double getDetection() override { return 0.0; }
  void executeEffects() override { NetworkKey.set(1); }
};

class DoNothingOutcome1Step : public attack_flowStep {
 public:
  DoNothingOutcome1Step() : attack_flowStep("DoNothingOutcome1Step", 8, 1.0) {}
  void assignSVs(attack_flowKORVEL*) override {}
  bool preconditionsMet() override { return true; }
  double getCost() override { return 0.0; }
  double getOutcomeProbability() override { return 1.0; }
  double getDetection() override { return 1.0; }
  void executeEffects() override {}
};

// Per decision: its name prefix, its outcome steps (indices into the step
// table), its group index for multi-outcome decisions (-1: the step is its own
// group), the variables its steps affect beyond the decision bookkeeping and
// the variable that further enables them (-1: none). Variables are given by
// their index in the variable table.
struct DecisionData {
  const char* prefix;
  int firstStep;
  int numSteps;
  const char* groupName;
  std::vector<int> furtherAffected;
  int furtherEnabling;
};

enum SV {
  kAPHardware, kHijacking, kSSIDMAC, kNetworkAccess, kNetworkKey, kNoKeyNoAccess,
  kPacketForging, kSocialEngineering, kAPConfiguration, kNetworkHacking, kDOS, kMITM,
  kSensitiveInformation
};

const DecisionData kDecisions[attack_flowKORVEL::kNumDecisions] = {
    {"Networkscanning", 0, 1, nullptr, {kSSIDMAC, kNoKeyNoAccess}, kSSIDMAC},
    {"EvilTwin", 1, 2, "EvilTwinGroup", {kMITM, kAPHardware, kNetworkKey}, kMITM},
    {"JoinNetwork", 3, 1, nullptr, {kNetworkAccess, kNetworkKey}, kNetworkAccess},
    {"RogueAP", 4, 2, "RogueAPGroup", {kNetworkKey, kSSIDMAC, kAPHardware}, kNetworkKey},
    {"BlockTrafficFlow", 6, 2, "BlockTrafficFlowGroup", {kDOS, kMITM, kHijacking}, kDOS},
    {"ApplicationLayerAttack", 8, 2, "ApplicationLayerAttackGroup",
     {kSensitiveInformation, kMITM}, kSensitiveInformation},
    {"NetworkLayerAttack", 10, 2, "NetworkLayerAttackGroup", {kHijacking, kNetworkAccess},
     kHijacking},
    {"PasswordCapture", 12, 2, "PasswordCaptureGroup", {kNetworkKey, kNoKeyNoAccess}, kNetworkKey},
    {"DoNothing", 14, 1, nullptr, {}, -1},
};

}  // namespace

attack_flowKORVEL::attack_flowKORVEL() {
  // The steps in step-table order, then the decisions, then the groups.
  attack_flowStep* steps[kNumSteps] = {
      new NetworkscanningSuccessStep(),        new EvilTwinFailureStep(),
      new EvilTwinSuccessStep(),               new JoinNetworkSuccessStep(),
      new RogueAPFailureStep(),                new RogueAPSuccessStep(),
      new BlockTrafficFlowFailureStep(),       new BlockTrafficFlowSuccessStep(),
      new ApplicationLayerAttackFailureStep(), new ApplicationLayerAttackSuccessStep(),
      new NetworkLayerAttackFailureStep(),     new NetworkLayerAttackSuccessStep(),
      new PasswordCaptureFailureStep(),        new PasswordCaptureSuccessStep(),
      new DoNothingOutcome1Step()};
  for (int i = 0; i < kNumSteps; i++) {
    Steps[i] = steps[i];
    owned_.emplace_back(steps[i]);
  }
  attack_flowDecision* decisions[kNumDecisions] = {
      new NetworkscanningAdversaryDecision(),        new EvilTwinAdversaryDecision(),
      new JoinNetworkAdversaryDecision(),            new RogueAPAdversaryDecision(),
      new BlockTrafficFlowAdversaryDecision(),       new ApplicationLayerAttackAdversaryDecision(),
      new NetworkLayerAttackAdversaryDecision(),     new PasswordCaptureAdversaryDecision(),
      new DoNothingAdversaryDecision()};
  for (int i = 0; i < kNumDecisions; i++) {
    Decisions[i] = decisions[i];
    owned_.emplace_back(decisions[i]);
  }
  // The groups know their members' classes, so they call them directly.
  using OutcomeGroup = TypedPostselectGroup<attack_flowStep>;
  using DecisionGroup = attack_flowDecisionGroup;
  std::vector<OutcomeGroup*> outcomeGroups;
  for (const DecisionData& d : kDecisions) {
    if (!d.groupName) continue;
    auto* g = new OutcomeGroup();
    owned_.emplace_back(g);
    outcomeGroups.push_back(g);
  }
  auto* decisionGroup = new DecisionGroup();
  owned_.emplace_back(decisionGroup);
  for (attack_flowStep* s : Steps) s->model = this;
  for (attack_flowDecision* d : Decisions) d->model = this;

  // Groups: names, member counts and members; a single step is its own group.
  size_t nextGroup = 0;
  for (int d = 0; d < kNumDecisions; d++) {
    const DecisionData& data = kDecisions[d];
    if (!data.groupName) {
      GroupList[d] = Steps[data.firstStep];
      continue;
    }
    OutcomeGroup* g = outcomeGroups[nextGroup++];
    g->initialize(data.numSteps, data.groupName);
    for (int o = 0; o < data.numSteps; o++) g->appendGroup(Steps[data.firstStep + o]);
    GroupList[d] = g;
  }
  decisionGroup->initialize(kNumDecisions, "AdversaryDecisionGroup");
  for (attack_flowDecision* d : Decisions) decisionGroup->appendGroup(d);
  GroupList[9] = decisionGroup;

  // State variables in registration order.
  APHardware = new Access("APHardware", 1);
  Hijacking = new Knowledge("Hijacking", 0);
  SSIDMACtargetnetwork = new Knowledge("SSIDMACtargetnetwork", 0);
  NetworkAccess = new Knowledge("NetworkAccess", 0);
  NetworkKey = new Knowledge("NetworkKey", 0);
  NoKeyNoAccess = new Knowledge("NoKeyNoAccess", 1);
  PacketForging = new Skill("PacketForging", 10);
  SocialEngineering = new Skill("SocialEngineering", 10);
  APConfiguration = new Skill("APConfiguration", 10);
  NetworkHacking = new Skill("NetworkHacking", 10);
  DOS = new Goal("DOS", 0);
  DOS->payoff = 700.0;
  MITM = new Goal("MITM", 0);
  MITM->payoff = 500.0;
  SensitiveInformation = new Goal("SensitiveInformation", 0);
  SensitiveInformation->payoff = 1000.0;
  for (int d = 0; d < kNumDecisions; d++)
    Chosen[d] = new StepChosen((std::string(kDecisions[d].prefix) + "Chosen").c_str(), 0);
  for (int d = 0; d < kNumDecisions; d++)
    Weights[d] = new StepWeight((std::string(kDecisions[d].prefix) + "Weight").c_str(), 0);
  MakeDecision = new BeginAdversaryDecision("MakeDecision", 0);
  beginAdversaryDecision = MakeDecision;

  KORVELStateVariable* svs[kNumSVs] = {
      APHardware, Hijacking, SSIDMACtargetnetwork, NetworkAccess, NetworkKey, NoKeyNoAccess,
      PacketForging, SocialEngineering, APConfiguration, NetworkHacking, DOS, MITM,
      SensitiveInformation};
  for (int d = 0; d < kNumDecisions; d++) svs[13 + d] = Chosen[d];
  for (int d = 0; d < kNumDecisions; d++) svs[22 + d] = Weights[d];
  svs[31] = MakeDecision;

  BaseKORVELAction* actions[kNumDecisions + kNumSteps];
  for (int d = 0; d < kNumDecisions; d++) actions[d] = Decisions[d];
  for (int s = 0; s < kNumSteps; s++) actions[kNumDecisions + s] = Steps[s];
  Step* flatSteps[kNumSteps];
  for (int s = 0; s < kNumSteps; s++) flatSteps[s] = Steps[s];
  int stepsPerDecision[kNumDecisions];
  for (int d = 0; d < kNumDecisions; d++) stepsPerDecision[d] = kDecisions[d].numSteps;
  Goal* goalList[kNumGoals] = {DOS, MITM, SensitiveInformation};

  commonInit("attack_flow", kNumSVs, svs, kNumDecisions + kNumSteps, actions, kNumGroups,
             GroupList, kNumDecisions, stepsPerDecision, flatSteps, kNumGoals, goalList);

  costWeight = 0.1;
  detectionWeight = 0.1;
  payoffWeight = 0.8;
  costDiscount = 1.0;
  payoffDiscount = 1.0;
  detectionDiscount = 1.0;
  planningHorizon = 5;
  assignSVsToAttackSteps();

  std::vector<std::vector<KORVELStateVariable*>> affected(kNumDecisions), enabling(kNumDecisions);
  for (int d = 0; d < kNumDecisions; d++) {
    for (int v : kDecisions[d].furtherAffected) affected[d].push_back(svs[v]);
    if (kDecisions[d].furtherEnabling >= 0) enabling[d].push_back(svs[kDecisions[d].furtherEnabling]);
  }
  AddDecisionArcs(std::vector<BaseKORVELAction*>(Decisions, Decisions + kNumDecisions), affected,
                  enabling);

  for (BaseKORVELAction* a : actions) a->LinkVariables();
  customInitialization();
  recalculateAdversaryDecisionWeights();
}

attack_flowKORVEL::~attack_flowKORVEL() = default;

void attack_flowKORVEL::assignSVsToAttackSteps() {
  for (int d = 0; d < kNumDecisions; d++) {
    Decisions[d]->assignSVs(MakeDecision, Chosen[d], Weights[d]);
    const DecisionData& data = kDecisions[d];
    for (int o = 0; o < data.numSteps; o++) {
      attack_flowStep* s = Steps[data.firstStep + o];
      s->assignSVs(this);
      s->weightSV = Weights[d];
      s->chosenSV = Chosen[d];
      s->setChosen(Chosen[d]);
    }
  }
}

double attack_flowKORVEL::convertCostToUtility(double x) {
  if (x < 0) return 1.0;
  if (x > 100) return 0.0;
  return (7.389056099 - std::exp(x / 50)) / 6.389056099;
}

double attack_flowKORVEL::convertPayoffToUtility(double x) {
  if (x < 0) return 0.0;
  if (x > 1000) return 1.0;
  return (28.031624895 - 28.031624895 / std::exp(x / 300)) / 27.031624895;
}

double attack_flowKORVEL::convertDetectionToUtility(double x) {
  if (x < 0) return 1.0;
  if (x > 1) return 0.0;
  return (1.0 - 7.389056099 / std::exp(2 * x)) / -6.389056099;
}

attack_flowStep* attack_flowKORVEL::stepNamed(const char* name) const {
  for (attack_flowStep* s : Steps)
    if (std::strcmp(s->getName(), name) == 0) return s;
  return nullptr;
}

attack_flowDecision* attack_flowKORVEL::decisionNamed(const char* name) const {
  for (attack_flowDecision* d : Decisions)
    if (std::strcmp(d->getName(), name) == 0) return d;
  return nullptr;
}
