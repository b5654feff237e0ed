// ScheduledPreselectGroup: a PreselectGroup that draws its member each time
// it is scheduled (when its delay is sampled) and nowhere else, so that the
// member drawn is the one whose delay runs and which fires. Asking whether it
// is enabled draws nothing. Towards the event list it is one event of rank 1
// and weight 1, as a PostselectGroup is, whatever member it holds.
#ifndef TARVEX_BASE_SCHEDULEDPRESELECTGROUP_H
#define TARVEX_BASE_SCHEDULEDPRESELECTGROUP_H

#include "base/PreselectGroup.h"

class ScheduledPreselectGroup : public PreselectGroup {
 public:
  ScheduledPreselectGroup() = default;

  // Whether any member is enabled; draws nothing.
  bool Enabled() override { return BaseGroupClass::Enabled(); }
  double Weight() override { return 1.0; }
  int Rank() override { return 1; }
  // The held member's reactivation; false while none is held.
  bool ReactivationPredicate() override;
  bool ReactivationFunction() override;
  // Draws a member among the enabled ones by weight, then samples its delay.
  double SampleDistribution() override;
  // Fires the member drawn when the group was scheduled, and lets it go.
  BaseActionClass* Fire() override;
  // Holds the given member's action as the one drawn (null: none), as a
  // saved schedule recorded it; for continuing a run from a snapshot.
  void HoldSelection(BaseActionClass* action) { SelectedAction = action; }
};

#endif
