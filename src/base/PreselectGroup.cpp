#include "base/PreselectGroup.h"

bool PreselectGroup::Enabled() {
  selectIfNeeded();
  return BaseGroupClass::Enabled();
}

bool PreselectGroup::ReactivationPredicate() {
  selectIfNeeded();
  return selected("ReactivationPredicate()")->ReactivationPredicate();
}

bool PreselectGroup::ReactivationFunction() {
  selectIfNeeded();
  return selected("ReactivationFunction()")->ReactivationFunction();
}

double PreselectGroup::SampleDistribution() {
  selectIfNeeded();
  return selected("SampleDistribution()")->SampleDistribution();
}

BaseActionClass* PreselectGroup::Fire() {
  NeedSelection = true;
  return selected("Fire()")->Fire();
}

int PreselectGroup::Rank() {
  selectIfNeeded();
  return selected("Rank()")->Rank();
}

bool PreselectGroup::SelectAction() {
  bool ok = BaseGroupClass::SelectAction();
  NeedSelection = !ok;
  return ok;
}
