// EventList: the future event list, a binary min-heap of events ordered by
// firing time, with the unit's rank as tie-break (higher rank first) and a
// weighted random choice among events equal in both. Every unit's scheduling
// record points at the heap slot of its event, so that a unit's event can be
// removed or re-keyed in logarithmic time. All events are allocated once and
// recycled through a free pool.
#ifndef TARVEX_SIMULATOR_EVENTLIST_H
#define TARVEX_SIMULATOR_EVENTLIST_H

#include <iosfwd>
#include <vector>

#include "simulator/Event.h"

class EventList {
 public:
  explicit EventList(int capacity);
  EventList(const EventList&) = delete;
  EventList& operator=(const EventList&) = delete;
  ~EventList();

  // Copies the template into a pooled event and schedules it.
  void Insert(const Event* e);
  void Remove(Event** slot);
  void Remove(void* slot) { Remove(static_cast<Event**>(slot)); }
  // Restores heap order after the caller changed the event's firing time.
  void ModifyKey(Event** slot);
  // The slot of the event that fires next (drawing one uniform when two or
  // more events tie on time and rank); null when the list is empty.
  Event** Earliest();
  // Collects into the tie list the events equal in time and rank to slot i.
  void FindEquals(int index);
  void ClearEventList();
  // 0 when the heap, the back-pointers and the pool are consistent.
  int IsValid() const;
  void PrintList(std::ostream& out) const;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  int PoolSize() const { return static_cast<int>(pool_.size()); }
  Event* At(int i) const { return heap_[i]; }

 private:
  int BubbleUp(int i);
  void BubbleDown(int i);
  void Place(int i, Event* e);
  static bool Before(Event* a, Event* b);

  std::vector<Event> storage_;  // every event, allocated once
  std::vector<Event*> pool_;    // free events; the back is the pool's front
  int capacity_;
  std::vector<Event*> heap_;
  int count_ = 0;
  std::vector<int> ties_;
  int tieCount_ = 0;
};

#endif
