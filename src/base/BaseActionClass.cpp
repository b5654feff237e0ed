#include "base/BaseActionClass.h"

#include <iostream>

#include "state/BaseStateVariableClass.h"

int BaseActionClass::MaxID = 0;

BaseActionClass::BaseActionClass() : ID(MaxID++) {}

BaseActionClass::BaseActionClass(const char* name, int groupId, Distribution dist,
                                 ExecutionPolicyType policy, int a, int b, bool reactivation)
    : BaseActionClass() {
  BaseActionClassInitialize(name, groupId, dist, policy, a, b, reactivation);
}

BaseActionClass::~BaseActionClass() = default;

bool BaseActionClass::isSync() { return false; }
bool BaseActionClass::Enabled() { return false; }
double BaseActionClass::Weight() { return 0.0; }
double BaseActionClass::Rate() { return 0.0; }
bool BaseActionClass::ReactivationPredicate() { return false; }
bool BaseActionClass::ReactivationFunction() { return false; }
double BaseActionClass::SampleDistribution() { return 0.0; }
double* BaseActionClass::ReturnDistributionParameters() { return nullptr; }
void BaseActionClass::SetFired(int fired) { Fired = (fired != 0); }
BaseActionClass* BaseActionClass::Fire() { return nullptr; }
int BaseActionClass::Rank() { return 0; }
bool BaseActionClass::EnablingChange() { return false; }
bool BaseActionClass::IsAMember(BaseActionClass* a) { return a == this; }
double BaseActionClass::Probability(BaseActionClass*) { return 1.0; }
BaseActionClass* BaseActionClass::getPrintedAction() { return this; }
double BaseActionClass::ErlangParamM() { return 1.0; }

void BaseActionClass::printAffectedState(std::ostream* os) {
  for (BaseStateVariableClass* sv : AffectedSVs) sv->printState(os);
}

void BaseActionClass::printEnablingState(std::ostream* os) {
  for (BaseStateVariableClass* sv : EnablingSVs) sv->printState(os);
}

void BaseActionClass::BaseActionClassInitialize(const char* name, int groupId, Distribution dist,
                                                ExecutionPolicyType policy, int, int,
                                                bool reactivation) {
  defineName(name);
  GroupID = groupId;
  DistributionType = dist;
  ExecutionPolicy = policy;
  Reactivation = reactivation;
}

const char* BaseActionClass::defineName(const char* name) {
  Name = name ? name : "";
  return Name.c_str();
}

void BaseActionClass::addEnablingSV(BaseStateVariableClass* sv) {
  if (sv->isLeafNode())
    EnablingSVs.append(sv);
  else
    sv->addSelfAsEnablingSVToAction(this);
}

void BaseActionClass::addAffectedSV(BaseStateVariableClass* sv) {
  if (sv->isLeafNode())
    AffectedSVs.append(sv);
  else
    sv->addSelfAsAffectedSVToAction(this);
}

void BaseActionClass::removeEnablingSV(BaseStateVariableClass* sv) {
  if (sv->isLeafNode())
    EnablingSVs.remove(sv);
  else
    sv->removeSelfFromEnablingSVOfAction(this);
}

void BaseActionClass::removeAffectedSV(BaseStateVariableClass* sv) {
  if (sv->isLeafNode())
    AffectedSVs.remove(sv);
  else
    sv->removeSelfFromAffectedSVOfAction(this);
}

void BaseActionClass::AllocatePVRateDS(int n) {
  try {
    RateRewardNodes.reset(new FastSet[n > 0 ? n : 0]);
  } catch (const std::bad_alloc&) {
    std::cerr << "!! Memory allocation error in BaseActionClass::AllocatePVRateDS()" << std::endl;
    std::exit(1);
  }
}

void BaseActionClass::DeallocatePVRateDS() {
  RateRewardNodes.reset();
}

void BaseActionClass::AllocatePVImpulseDS(int n) {
  try {
    int count = n > 0 ? n : 0;
    ImpulseRewardNodes.reset(new FastSet[count]);
    ImpulseTableA.reset(new std::vector<int>[count]);
    ImpulseTableB.reset(new std::vector<std::vector<int>>[count]);
  } catch (const std::bad_alloc&) {
    std::cerr << "!! Memory allocation error in BaseActionClass::AllocatePVImpulseDS()"
              << std::endl;
    std::exit(1);
  }
}

void BaseActionClass::DeallocatePVImpulseDS() {
  ImpulseRewardNodes.reset();
  ImpulseTableA.reset();
  ImpulseTableB.reset();
}

void BaseActionClass::PrintInfo() {
  std::ostream& out = std::cout;
  out << "********* " << Name << "**********" << std::endl;
  out << std::endl;
  out << "Enabled by:" << std::endl;
  for (BaseStateVariableClass* sv : EnablingSVs)
    out << "           " << sv->getName() << std::endl;
  out << "Affects:" << std::endl;
  for (BaseStateVariableClass* sv : AffectedSVs)
    out << "           " << sv->getName() << std::endl;
  out << "Group ID = " << GroupID << std::endl;
  out << "Execution Policy = " << static_cast<int>(ExecutionPolicy) << std::endl;
  out << "Disabled = " << (Disabled ? 1 : 0) << std::endl;
  out << "Reactivation = " << (Reactivation ? 1 : 0) << std::endl;
  out << "DistributionType = " << static_cast<int>(DistributionType) << std::endl;
}
