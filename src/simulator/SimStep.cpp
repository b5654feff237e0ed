// One event of a run: fire the earliest unit, let the reward model account
// for it, reschedule what the firing can affect, and find the next event.
#include "base/StandardErrors.h"
#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"

int SimulatorClass::SimStep() {
  eventList->Remove(CurrentEvent);
  // Rewards are accumulated up to the firing instant in the state before it.
  pvModel->Accumulate(CurrentTime);
  FiredAction = pvModel->FireAction(CurrentAction, CurrentTime);
  TARVEX_ASSERT(FiredAction, "FiredAction", "SimStep");
  ActionsFired++;

  CheckReactivationList();
  RemoveAffectedActions();
  InsertAffectedActions();

  CurrentEvent = eventList->Earliest();
  if (!CurrentEvent) return 0;
  CurrentTime = (*CurrentEvent)->FiringTime;
  CurrentAction = (*CurrentEvent)->Action;
  return 1;
}
