// Event: the time at which one schedulable unit will fire.
#ifndef TARVEX_SIMULATOR_EVENT_H
#define TARVEX_SIMULATOR_EVENT_H

#include <list>

class BaseActionClass;

// On a cache line of its own (the template event is rewritten at every
// scheduling).
struct alignas(64) Event {
  Event() = default;
  Event(double firingTime, double scheduleTime, BaseActionClass* action)
      : FiringTime(firingTime), ScheduleTime(scheduleTime), Action(action) {}

  double FiringTime = -1.0;  // the heap key
  double ScheduleTime = 0;   // when the event was scheduled
  BaseActionClass* Action = nullptr;
};

// The driver's scheduling record of one unit.
struct EventRecord {
  // The heap slot holding the unit's event; null while it is not scheduled.
  // Kept current by the event list on every move.
  Event** HeapSlot = nullptr;
  // True while the unit is not in the reactivation list.
  bool OffReactivationList = true;
  // The unit's node in the reactivation list while it is there.
  std::list<BaseActionClass*>::iterator ReactivationPos{};
};

#endif
