#include "base/ScheduledPreselectGroup.h"

bool ScheduledPreselectGroup::ReactivationPredicate() {
  return SelectedAction && SelectedAction->ReactivationPredicate();
}

bool ScheduledPreselectGroup::ReactivationFunction() {
  return SelectedAction && SelectedAction->ReactivationFunction();
}

double ScheduledPreselectGroup::SampleDistribution() {
  // A fresh draw at every scheduling: a group taken off the event list and
  // scheduled again may find other members enabled, or other weights.
  SelectedAction = nullptr;
  SelectAction();
  return selected("SampleDistribution()")->SampleDistribution();
}

BaseActionClass* ScheduledPreselectGroup::Fire() {
  BaseActionClass* result = selected("Fire()")->Fire();
  SelectedAction = nullptr;
  NeedSelection = true;
  return result;
}
