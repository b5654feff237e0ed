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

#include "base/BaseActionClass.h"
#include "base/StandardErrors.h"
#include "simulator/Event.h"

class EventList {
 public:
  // One event tied at the head of the list: its unit and weight (0 for a
  // lone event, which is not weighed), the probability that Earliest picks
  // it, and a uniform draw that makes Earliest pick it (meaningful when the
  // probability is above zero).
  struct Tie {
    BaseActionClass* unit = nullptr;
    double weight = 0.0;
    double probability = 0.0;
    double uniform = 0.5;
  };

  explicit EventList(int capacity);
  EventList(const EventList&) = delete;
  EventList& operator=(const EventList&) = delete;
  ~EventList();

  // Copies the template into a pooled event and schedules it.
  void Insert(const Event* e) {
    TARVEX_ASSERT(count_ < capacity_ && !pool_.empty());
    Event* pooled = pool_.back();
    pool_.pop_back();
    *pooled = *e;
    int i = count_++;
    Place(i, pooled);
    if (i > 0) BubbleUp(i);
  }
  void Remove(Event** slot) {
    int i = static_cast<int>(slot - heap_.data());
    Event* e = heap_[i];
    pool_.push_back(e);
    e->Action->EventRecord->HeapSlot = nullptr;
    count_--;
    if (i == count_) {
      heap_[i] = nullptr;
      return;
    }
    FillHole(i);
  }
  void Remove(void* slot) { Remove(static_cast<Event**>(slot)); }
  // Restores heap order after the caller changed the event's firing time.
  void ModifyKey(Event** slot);
  // The slot of the event that fires next (drawing one uniform when two or
  // more events tie on time and rank); null when the list is empty.
  Event** Earliest() {
    if (count_ == 0) return nullptr;
    // A single event ties with nothing.
    if (count_ == 1) return &heap_[0];
    return EarliestOfSeveral();
  }
  // Collects into the tie list the events equal in time and rank to slot i.
  void FindEquals(int index) const;
  // The events equal in time and rank to the head, in the order Earliest
  // weighs them, each with its chance of being picked; a single event has
  // probability 1 and is picked without a draw. Empty when the list is.
  std::vector<Tie> HeadTies() const;
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
  void Place(int i, Event* e) {
    heap_[i] = e;
    e->Action->EventRecord->HeapSlot = &heap_[i];
  }
  // Moves the last event into the freed slot i and restores heap order.
  void FillHole(int i);
  Event** EarliestOfSeveral();
  // Collects the ties at the head and, when there are two or more, their
  // cumulative weights; the number of ties.
  int CollectHeadTies() const;
  // The tie a target (a uniform times the total weight) lands on.
  int PickTie(int n, double target) const;
  static bool Before(Event* a, Event* b);

  std::vector<Event> storage_;  // every event, allocated once
  std::vector<Event*> pool_;    // free events; the back is the pool's front
  int capacity_;
  std::vector<Event*> heap_;
  int count_ = 0;
  // Scratch space of the tie walk.
  mutable std::vector<int> ties_;
  mutable std::vector<double> cumulative_;
  mutable int tieCount_ = 0;
};

#endif
