#include "base/BaseGroupClass.h"

#include <iostream>

#include "base/StandardErrors.h"
#include "distributions/DistributionDefinition.h"
#include "state/BaseStateVariableClass.h"

BaseActionClass* BaseGroupClass::selected(const char* operation) {
  if (!SelectedAction) NoSelectedAction(operation);
  return SelectedAction;
}

void BaseGroupClass::NoSelectedAction(const char* operation) {
  std::cerr << "!! BaseGroupClass::" << operation << ": group " << Name
            << " has no selected action" << std::endl;
  TARVEX_ASSERT(SelectedAction);
}

bool BaseGroupClass::Enabled() {
  bool any = false;
  for (int i = 0; i < NumMembers; i++)
    if (Members[i]->Enabled()) any = true;
  return any;
}

double BaseGroupClass::Weight() { return selected("Weight()")->Weight(); }
double BaseGroupClass::Rate() { return selected("Rate()")->Rate(); }
bool BaseGroupClass::ReactivationPredicate() { return false; }
bool BaseGroupClass::ReactivationFunction() { return false; }
double BaseGroupClass::SampleDistribution() {
  return selected("SampleDistribution()")->SampleDistribution();
}

BaseActionClass* BaseGroupClass::Fire() {
  BaseActionClass* result = selected("Fire()")->Fire();
  SelectedAction = nullptr;
  return result;
}

int BaseGroupClass::Rank() { return selected("Rank()")->Rank(); }

bool BaseGroupClass::EnablingChange() {
  bool any = false;
  for (int i = 0; i < NumMembers; i++)
    if (Members[i]->EnablingChange()) any = true;
  return any;
}

bool BaseGroupClass::IsAMember(BaseActionClass* a) {
  for (int i = 0; i < NumMembers; i++)
    if (Members[i] == a) return true;
  return false;
}

double BaseGroupClass::Probability(BaseActionClass* a) {
  int maxRank = 0;
  double total = 0.0;
  BaseGroupClass* owner = nullptr;
  for (int i = 0; i < NumMembers; i++) {
    BaseGroupClass* m = Members[i];
    if (m->Enabled()) {
      int r = m->Rank();
      if (r > maxRank) {
        maxRank = r;
        total = 0.0;
      }
      if (r == maxRank) total += m->Weight();
    }
    if (m == a || m->IsAMember(a)) owner = m;
  }
  if (!owner)
    std::cerr << "!! BaseGroupClass::Probability(): action " << (a ? a->getName() : "(null)")
              << " belongs to no member of group " << Name << std::endl;
  TARVEX_ASSERT(owner);
  if (owner->Rank() < maxRank) return 0.0;
  if (total == 0.0) std::cout << "BaseGroupClass::Probability() TotalWeight is zero.\n" << std::flush;
  return owner->Weight() / total * owner->Probability(a);
}

void BaseGroupClass::printEnablingState(std::ostream* os) {
  BaseActionClass* source = NumMembers > 0 ? Members[0] : this;
  for (BaseStateVariableClass* sv : source->EnablingSVs) sv->printState(os);
}

BaseActionClass* BaseGroupClass::getPrintedAction() {
  return NumMembers > 0 ? Members[0] : this;
}

double BaseGroupClass::CalculateWeightDistribution() {
  int entries = 0;
  bool any = false;
  for (int i = 0; i < NumMembers; i++) {
    BaseGroupClass* m = Members[i];
    if (!m->Enabled()) {
      m->Disabled = true;
      continue;
    }
    int r = m->Rank();
    if (!any) {
      any = true;
      MaxRank = r;
      m->Disabled = false;
      WeightDistribution[0] = WeightEntry{m->Weight(), m};
      entries = 1;
    } else if (r < MaxRank) {
      m->Disabled = true;
    } else if (r == MaxRank) {
      m->Disabled = false;
      double w = WeightDistribution[entries - 1].cumulative + m->Weight();
      WeightDistribution[entries++] = WeightEntry{w, m};
    } else {
      MaxRank = r;
      WeightDistribution[0] = WeightEntry{m->Weight(), m};
      entries = 1;
      m->Disabled = false;
    }
  }
  if (!any) return -1.0;
  NumEntries = entries;
  return WeightDistribution[entries - 1].cumulative;
}

bool BaseGroupClass::SelectAction() {
  double u = TheDistribution->getGenerator()->rnd();
  double total = CalculateWeightDistribution();
  double target = total * u;
  // No enabled member. (Testing the total rather than the target also covers
  // a draw of exactly 0, which would make the target -0.0.)
  if (total < 0.0) return false;
  BaseGroupClass* chosen = WeightDistribution[EntryAt(target)].member;
  chosen->SelectAction();
  SelectedAction = chosen->SelectedAction;
  return true;
}

void BaseGroupClass::setGroupId(int id) {
  for (int i = 0; i < NumMembers; i++) Members[i]->setGroupId(id);
}

void BaseGroupClass::initialize(int n, const char* name) {
  try {
    Members.assign(n > 0 ? n : 0, nullptr);
    WeightDistribution.assign(n > 0 ? n : 0, WeightEntry{0.0, nullptr});
  } catch (const std::bad_alloc&) {
    MemoryAllocationError();
  }
  Capacity = n;
  defineName(name);
  SelectedAction = nullptr;
  MaxRank = 0;
  NumEntries = 0;
}

void BaseGroupClass::appendGroup(BaseGroupClass* member) {
  if (NumMembers == Capacity) enlargeArrays(Capacity + 1);
  Members[NumMembers++] = member;
}

void BaseGroupClass::enlargeArrays(int n) {
  try {
    Members.resize(n, nullptr);
    WeightDistribution.assign(n, WeightEntry{0.0, nullptr});
  } catch (const std::bad_alloc&) {
    MemoryAllocationError();
  }
  Capacity = n;
}

void BaseGroupClass::setMember(BaseGroupClass* member, int i) {
  if (i < NumMembers && i >= 0)
    Members[i] = member;
  else
    ArrayOutOfBoundsError("Array out of bounds (BaseGroupClass::setMember()");
}

void BaseGroupClass::replaceMember(BaseActionClass* oldAction, BaseActionClass* newAction) {
  auto* replacement = static_cast<BaseGroupClass*>(newAction);
  for (int i = 0; i < NumMembers; i++)
    if (Members[i] == oldAction) Members[i] = replacement;
  if (SelectedAction == oldAction) SelectedAction = newAction;
}
