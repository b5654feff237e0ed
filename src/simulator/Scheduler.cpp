// The schedule as a whole: the start of a run and of a replication, and the
// saving and restoring of the schedule with the model's state.
#include "simulator/Scheduler.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "rewards/PVModel.h"

void Scheduler::PrepareRun() {
  TemplateEvent = std::make_unique<Event>();
  PlaceholderAction = std::make_unique<BaseActionClass>();
}

void Scheduler::ReleaseRun() {
  TemplateEvent.reset();
  PlaceholderAction.reset();
  CurrentEvent = nullptr;
  CurrentAction = nullptr;
  FiredAction = nullptr;
}

void Scheduler::ClearSchedule() {
  eventList->ClearEventList();
  for (BaseActionClass* u : ReactivationList) u->Reactivation = false;
  ReactivationList.clear();
  CurrentEvent = nullptr;
}

void Scheduler::ResetSchedule() {
  CurrentTime = 0.0;
  ClearSchedule();
  FiredAction = PlaceholderAction.get();
}

int Scheduler::UnitIndex(const BaseActionClass* unit) const {
  if (!unit) return -1;
  // The driver's units keep their records in EventRecords, in unit order.
  // (Compared as addresses: a record elsewhere is no element of theirs.)
  const auto at = reinterpret_cast<std::uintptr_t>(unit->EventRecord);
  const auto first = reinterpret_cast<std::uintptr_t>(EventRecords.data());
  if (unit->EventRecord && at >= first && (at - first) / sizeof(EventRecord) < EventRecords.size()) {
    const size_t i = (at - first) / sizeof(EventRecord);
    if (static_cast<int>(i) < NumUnits && Groups[i] == unit) return static_cast<int>(i);
  }
  for (int i = 0; i < NumUnits; i++)
    if (Groups[i] == unit) return i;
  return -1;
}

void Scheduler::Snapshot(SavedSchedule* s) const {
  s->state.assign(pvModel->StateSize() > 0 ? pvModel->StateSize() : 1, '\0');
  pvModel->CurrentState(&s->state[0]);
  s->time = CurrentTime;
  s->events.clear();
  for (int i = 0; i < eventList->Count(); i++) {
    Event* e = eventList->At(i);
    s->events.push_back({UnitIndex(e->Action), e->FiringTime, e->ScheduleTime});
  }
  std::sort(s->events.begin(), s->events.end(),
            [](const SavedSchedule::Scheduled& a, const SavedSchedule::Scheduled& b) {
              return a.unit < b.unit;
            });
  s->reactivation.clear();
  for (BaseActionClass* u : ReactivationList) s->reactivation.push_back(UnitIndex(u));
}

void Scheduler::Restore(const SavedSchedule& s) {
  pvModel->SetState(const_cast<char*>(s.state.data()));
  ClearSchedule();
  for (int i = 0; i < NumUnits; i++) {
    EventRecord* r = Groups[i]->EventRecord;
    r->OffReactivationList = true;
    r->ReactivationPos = {};
  }
  for (const SavedSchedule::Scheduled& e : s.events) {
    Event event(e.firing, e.scheduled, Groups[e.unit]);
    eventList->Insert(&event);
  }
  for (int i : s.reactivation) {
    BaseActionClass* u = Groups[i];
    ReactivationList.push_back(u);
    u->EventRecord->ReactivationPos = std::prev(ReactivationList.end());
    u->EventRecord->OffReactivationList = false;
    u->Reactivation = true;
  }
  CurrentTime = s.time;
}
