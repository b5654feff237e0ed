// Building the initial schedule and rescheduling after a firing. Scheduling
// is race-based: every enabled unit carries one sampled firing time, kept
// across other firings unless the unit is disabled, reports an enabling
// change, or is due for re-sampling in the reactivation list.
#include <cstring>
#include <iostream>

#include "base/StandardErrors.h"
#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"

void Scheduler::PutOnReactivationList(BaseActionClass* unit, EventRecord* record) {
  unit->Reactivation = true;
  ReactivationList.push_front(unit);
  record->OffReactivationList = false;
  record->ReactivationPos = ReactivationList.begin();
}

void Scheduler::TakeOffReactivationList(BaseActionClass* unit, EventRecord* record) {
  ReactivationList.erase(record->ReactivationPos);
  record->ReactivationPos = {};
  record->OffReactivationList = true;
  unit->Reactivation = false;
}

// Samples the unit's delay and schedules it from the current time.
void Scheduler::ScheduleUnit(BaseActionClass* unit) {
  double d = unit->SampleDistribution();
  TemplateEvent->FiringTime = CurrentTime + d;
  TemplateEvent->ScheduleTime = CurrentTime;
  TemplateEvent->Action = unit;
  if (unit->ReactivationPredicate()) PutOnReactivationList(unit, unit->EventRecord);
  eventList->Insert(TemplateEvent.get());
}

void Scheduler::GenerateInitialEnabledList() {
  EnabledList.assign(NumUnits, nullptr);
  NumEnabled = 0;
  for (int i = 0; i < NumUnits; i++) {
    CurrentAction = Groups[i];
    if (CurrentAction->Enabled()) EnabledList[NumEnabled++] = CurrentAction;
  }
  if (NumEnabled < NumUnits / 2) EnabledList.resize(NumEnabled);
}

int Scheduler::GenerateCompleteEventList() {
  for (int i = 0; i < NumEnabled; i++) {
    CurrentAction = EnabledList[i];
    CurrentAction->Enabled();
    ScheduleUnit(CurrentAction);
  }
  return 0;
}

int Scheduler::GenerateCompleteEventListSS() {
  for (int i = 0; i < NumUnits; i++) {
    CurrentAction = Groups[i];
    if (CurrentAction->Enabled()) ScheduleUnit(CurrentAction);
  }
  return 0;
}

void Scheduler::CheckReactivationList() {
  for (auto it = ReactivationList.begin(); it != ReactivationList.end();) {
    auto next = std::next(it);
    BaseActionClass* u = *it;
    EventRecord* r = u->EventRecord;
    if (!r->HeapSlot) {
      TakeOffReactivationList(u, r);
    } else if (!u->Enabled()) {
      eventList->Remove(r->HeapSlot);
      TakeOffReactivationList(u, r);
    } else if (u->ReactivationFunction()) {
      double d = u->SampleDistribution();
      Event* e = *r->HeapSlot;
      e->FiringTime = CurrentTime + d;
      e->ScheduleTime = CurrentTime;
      eventList->ModifyKey(r->HeapSlot);
      TakeOffReactivationList(u, r);
      // Put back at the front, so it is not visited again in this walk.
      if (u->ReactivationPredicate()) PutOnReactivationList(u, r);
    }
    it = next;
  }
}

void Scheduler::RemoveAffectedActions() {
  for (BaseActionClass* u : FiredAction->AffectsList) {
    EventRecord* r = u->EventRecord;
    if (!r->HeapSlot) continue;
    if (u->EnablingChange() || (u->Reactivation && u->ReactivationFunction())) {
      u->Reactivation = false;
      eventList->Remove(r->HeapSlot);
      if (!r->OffReactivationList) {
        ReactivationList.erase(r->ReactivationPos);
        r->ReactivationPos = {};
        r->OffReactivationList = true;
      }
    }
  }
}

void Scheduler::InsertAffectedActions() {
  for (BaseActionClass* u : FiredAction->AffectsList) {
    // Enabled() is asked first in every case: it refreshes the unit's view
    // of its own enabling.
    if (u->Enabled() && !u->EventRecord->HeapSlot) ScheduleUnit(u);
  }
}

void SimulatorClass::HandleInvalidDistParams(BaseActionClass* action, const std::string& message) {
  static const char kMarker[] = "INVALID_DIST_PARAMS:";
  size_t at = message.find(kMarker);
  TARVEX_ASSERT(at != std::string::npos);
  std::string rest = message;
  rest.erase(at, sizeof kMarker - 1);
  std::cout.flush();
  std::cerr << "FATAL ERROR: In action " << action->getName() << "," << rest << "\n" << std::flush;
  std::exit(1);
}
