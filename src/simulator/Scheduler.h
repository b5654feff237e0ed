// Scheduler: the schedule of a run and the operations on it. It holds the
// future event list, the reactivation list and every unit's scheduling
// record, builds the initial schedule, computes which units each action's
// firing can affect (connectivity), and performs the step: fire the earliest
// event and reschedule what the firing can affect. It also tells which
// events tie at the head of the list and how likely the step is to pick
// each, and saves and restores the whole schedule with the model's state.
//
// The driver (SimulatorClass) is a Scheduler; the simulation loops and the
// exact solver work the schedule through this interface only. No virtual
// call: the step is the hot path of every run.
#ifndef TARVEX_SIMULATOR_SCHEDULER_H
#define TARVEX_SIMULATOR_SCHEDULER_H

#include <cstdint>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "base/BaseActionClass.h"
#include "base/BaseGroupClass.h"
#include "simulator/Event.h"
#include "simulator/EventList.h"

class ObservationBatch;
class PathTally;
class PVModel;

class Scheduler {
 public:
  using Tie = EventList::Tie;

  // The schedule at one moment, with the model's state image: enough to
  // continue the run from there. Events are listed by unit index, so equal
  // schedules give equal snapshots whatever the heap's arrangement.
  struct SavedSchedule {
    struct Scheduled {
      int unit;
      double firing;
      double scheduled;
    };
    std::string state;
    double time = 0.0;
    std::vector<Scheduled> events;
    std::vector<int> reactivation;  // unit indices, in list order
  };

  Scheduler() = default;
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // ---- enabling and the initial schedule ---------------------------------
  // Lists the units enabled in the model's current state (the initial one).
  void GenerateInitialEnabledList();
  // Schedules every unit of the enabled list from the current time; 0.
  int GenerateCompleteEventList();
  // Schedules every unit enabled now (steady-state runs); 0.
  int GenerateCompleteEventListSS();

  // ---- connectivity ------------------------------------------------------
  // For every action, the units its firing can affect. 0, or 1 (with a
  // message on standard error) when an action names a missing group.
  int GenerateConnectivityList();
  // The same lists by the older algorithm (SIMTEST selects the variant).
  int GenerateConnectivityListOld();
  // Puts the unit at the front of the action's list (the older variant: at
  // the back, unless it is there already); 1 when out of memory, else 0.
  int AddActionAffects(BaseActionClass* unit, BaseActionClass* action);
  int AddActionAffectsOld(BaseActionClass* unit, BaseActionClass* action);
  // Empties one action's list and frees its memory; the second, every list.
  void ClearActionAffectsList(BaseActionClass* action);
  void DestructConnectivityList();
  // Every action with the units it affects, one per line.
  void PrintConnectivityList(std::ostream* out);

  // ---- the run -----------------------------------------------------------
  // Creates the template event and the "nothing fired yet" placeholder a
  // run needs; ReleaseRun frees them and forgets the current event.
  void PrepareRun();
  void ReleaseRun();
  // Back to the start of a replication: time 0, no event, nothing to
  // re-sample, nothing fired.
  void ResetSchedule();
  // Makes the earliest event (chosen among ties as the step does) the
  // current one; false when the list is empty.
  bool TakeEarliest() {
    CurrentEvent = eventList->Earliest();
    if (!CurrentEvent) return false;
    CurrentTime = (*CurrentEvent)->FiringTime;
    CurrentAction = (*CurrentEvent)->Action;
    return true;
  }
  // Fires the current event, reschedules the affected units and takes the
  // next event; 0 when no event is left.
  int SimStep();
  // The step of a steady-state run: the same.
  int SimStepSS();
  // The step's three passes: re-sample or drop the units due in the
  // reactivation list; unschedule the fired action's affected units that
  // changed; schedule those of them enabled and not scheduled.
  void CheckReactivationList();
  void RemoveAffectedActions();
  void InsertAffectedActions();

  // ---- ties, snapshots ---------------------------------------------------
  // The events tied at the head of the list with the probability that
  // TakeEarliest picks each (see EventList::HeadTies); empty when none.
  std::vector<Tie> HeadTies() const { return eventList->HeadTies(); }
  // The event at the head of the list (the earliest, the first of any
  // ties); null when none is scheduled.
  const Event* NextEvent() const { return eventList->Count() ? eventList->At(0) : nullptr; }
  // True once the set-up gave the scheduler a model, units and an event list.
  bool Ready() const { return pvModel && eventList && NumUnits > 0; }
  // Saves the schedule, the current time and the model's state image.
  void Snapshot(SavedSchedule* out) const;
  // Puts back the schedule, the current time and the model's state of a
  // snapshot taken from this scheduler. The heap's arrangement may differ
  // from the original one, which changes only the order ties are weighed in.
  void Restore(const SavedSchedule& s);
  // The index of a unit (0 .. NumUnits - 1), or -1 when it is none.
  int UnitIndex(const BaseActionClass* unit) const;
  // The unit of an index. REQUIRES: 0 <= index < NumUnits.
  BaseActionClass* Unit(int index) const { return Groups[index]; }

  // ---- state -------------------------------------------------------------
  // The model the schedule runs; set by the driver's set-up.
  PVModel* pvModel = nullptr;
  BaseGroupClass** Groups = nullptr;
  int NumUnits = 0;
  // In a two-thread run the simulating thread writes the fields from
  // ActionsFired on at every firing: they start on a cache line of their own.
  alignas(64) int32_t ActionsFired = 0;
  double CurrentTime = 0.0;
  Event** CurrentEvent = nullptr;
  BaseActionClass* CurrentAction = nullptr;
  BaseActionClass* FiredAction = nullptr;
  std::unique_ptr<Event> TemplateEvent;
  std::unique_ptr<BaseActionClass> PlaceholderAction;
  std::vector<BaseActionClass*> EnabledList;
  int NumEnabled = 0;
  std::list<BaseActionClass*> ReactivationList;
  std::unique_ptr<EventList> eventList;
  std::vector<EventRecord> EventRecords;
  // With deferred observation: the batch the step saves the state into
  // instead of accumulating (null in a one-thread run).
  ObservationBatch* Recording = nullptr;
  // With -P: the tally told of every firing (null otherwise).
  PathTally* Paths = nullptr;

 private:
  // Empties the event list and the reactivation list.
  void ClearSchedule();
  void ScheduleUnit(BaseActionClass* unit);
  void TakeOffReactivationList(BaseActionClass* unit, EventRecord* record);
  void PutOnReactivationList(BaseActionClass* unit, EventRecord* record);
};

#endif
