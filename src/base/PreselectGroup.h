// PreselectGroup: a group that draws its member before its delay is sampled,
// so that the chosen member's timing governs the group until it fires.
#ifndef TARVEX_BASE_PRESELECTGROUP_H
#define TARVEX_BASE_PRESELECTGROUP_H

#include "base/BaseGroupClass.h"

class PreselectGroup : public BaseGroupClass {
 public:
  PreselectGroup() = default;
  explicit PreselectGroup(int n) { enlargeArrays(n); }

  bool Enabled() override;
  bool ReactivationPredicate() override;
  bool ReactivationFunction() override;
  double SampleDistribution() override;
  BaseActionClass* Fire() override;
  int Rank() override;
  bool SelectAction() override;

  bool NeedSelection = true;

 private:
  void selectIfNeeded() {
    if (NeedSelection) SelectAction();
  }
};

#endif
