// One event of a run: fire the earliest unit, let the reward model account
// for it, reschedule what the firing can affect, and find the next event.
#include "base/StandardErrors.h"
#include "rewards/PVModel.h"
#include "simulator/ObservationBatch.h"
#include "simulator/PathTally.h"
#include "simulator/Scheduler.h"

int Scheduler::SimStep() {
  eventList->Remove(CurrentEvent);
  // Rewards are accumulated up to the firing instant in the state before it
  // (or, with deferred observation, the state is saved when an accumulation
  // here would complete a node).
  if (!Recording)
    pvModel->Accumulate(CurrentTime);
  else if (pvModel->CompletionDue(CurrentTime))
    Recording->AddAccumulation(CurrentTime, pvModel->LastActionTime, pvModel);
  FiredAction = pvModel->FireAction(CurrentAction, CurrentTime);
  TARVEX_ASSERT(FiredAction);
  ActionsFired++;
  if (Paths) Paths->Fired(FiredAction, CurrentTime);

  if (!ReactivationList.empty()) CheckReactivationList();
  RemoveAffectedActions();
  InsertAffectedActions();

  return TakeEarliest() ? 1 : 0;
}
