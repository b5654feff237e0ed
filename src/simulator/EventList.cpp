#include "simulator/EventList.h"

#include <iostream>

#include "base/BaseActionClass.h"
#include "base/StandardErrors.h"
#include "base/WeightedPick.h"
#include "distributions/DistributionDefinition.h"

namespace {
inline EventRecord* recordOf(Event* e) { return e->Action->EventRecord; }
}  // namespace

EventList::EventList(int capacity)
    : storage_(capacity > 0 ? capacity : 0),
      capacity_(capacity > 0 ? capacity : 0),
      heap_(capacity_, nullptr),
      ties_(capacity_, 0),
      cumulative_(capacity_, 0.0) {
  pool_.reserve(capacity_);
  for (Event& e : storage_) pool_.push_back(&e);
}

EventList::~EventList() = default;

// a comes before b: earlier, or at the same time with a strictly higher rank.
bool EventList::Before(Event* a, Event* b) {
  if (a->FiringTime < b->FiringTime) return true;
  return a->FiringTime == b->FiringTime && a->Action->Rank() > b->Action->Rank();
}


int EventList::BubbleUp(int i) {
  while (i > 0) {
    int p = (i - 1) / 2;
    if (!Before(heap_[i], heap_[p])) break;
    Event* child = heap_[i];
    Place(i, heap_[p]);
    Place(p, child);
    i = p;
  }
  return i;
}

void EventList::BubbleDown(int i) {
  for (;;) {
    int left = 2 * i + 1;
    if (left >= count_) return;
    int candidate = left;
    int right = left + 1;
    if (right < count_) {
      Event* l = heap_[left];
      Event* r = heap_[right];
      if (r->FiringTime < l->FiringTime ||
          (r->FiringTime == l->FiringTime && r->Action->Rank() > l->Action->Rank()))
        candidate = right;
    }
    if (!Before(heap_[candidate], heap_[i])) return;
    Event* parent = heap_[i];
    Place(i, heap_[candidate]);
    Place(candidate, parent);
    i = candidate;
  }
}

void EventList::FillHole(int i) {
  Place(i, heap_[count_]);
  heap_[count_] = nullptr;
  if (BubbleUp(i) == i) BubbleDown(i);
}

void EventList::ModifyKey(Event** slot) {
  int i = static_cast<int>(slot - heap_.data());
  if (BubbleUp(i) == i) BubbleDown(i);
}

void EventList::FindEquals(int i) const {
  ties_[tieCount_++] = i;
  Event* e = heap_[i];
  int rank = e->Action->Rank();
  int left = 2 * i + 1;
  if (left < count_ && heap_[left]->FiringTime == e->FiringTime && heap_[left]->Action->Rank() == rank)
    FindEquals(left);
  int right = left + 1;
  if (right < count_ && heap_[right]->FiringTime == e->FiringTime &&
      heap_[right]->Action->Rank() == rank)
    FindEquals(right);
}

int EventList::CollectHeadTies() const {
  tieCount_ = 0;
  FindEquals(0);
  if (tieCount_ >= 2) {
    double running = 0;
    for (int t = 0; t < tieCount_; t++) {
      running += heap_[ties_[t]]->Action->Weight();
      cumulative_[t] = running;
    }
  }
  return tieCount_;
}

int EventList::PickTie(int n, double target) const {
  int t = WeightedPick(n, target, [this](int k) { return cumulative_[k]; });
  // Tied events whose weights sum to zero or less: the first one fires.
  return cumulative_[t] > target ? t : 0;
}

Event** EventList::EarliestOfSeveral() {
  int n = CollectHeadTies();
  tieCount_ = 0;
  if (n == 1) return &heap_[0];
  double total = cumulative_[n - 1];
  double threshold = TheDistribution->getGenerator()->rnd() * total;
  return &heap_[ties_[PickTie(n, threshold)]];
}

std::vector<EventList::Tie> EventList::HeadTies() const {
  std::vector<Tie> ties;
  if (count_ == 0) return ties;
  int n = CollectHeadTies();
  tieCount_ = 0;
  for (int t = 0; t < n; t++) {
    Tie tie;
    tie.unit = heap_[ties_[t]]->Action;
    // A lone event is picked without weighing it.
    if (n > 1) tie.weight = tie.unit->Weight();
    ties.push_back(tie);
  }
  if (n == 1) {
    ties[0].probability = 1.0;
    return ties;
  }
  const double total = cumulative_[n - 1];
  if (!(total > 0)) {
    // The first one fires, whatever the draw.
    ties[0].probability = 1.0;
    return ties;
  }
  for (int t = 0; t < n; t++) {
    if (!(ties[t].weight > 0.0)) continue;
    // The middle of the tie's share of the draws.
    double low = t ? cumulative_[t - 1] : 0.0;
    ties[t].probability = ties[t].weight / total;
    ties[t].uniform = (low + cumulative_[t]) / 2 / total;
  }
  return ties;
}

void EventList::ClearEventList() {
  for (int i = 0; i < count_; i++) {
    Event* e = heap_[i];
    pool_.push_back(e);
    EventRecord* r = recordOf(e);
    r->HeapSlot = nullptr;
    r->OffReactivationList = true;
    heap_[i] = nullptr;
  }
  count_ = 0;
}

int EventList::IsValid() const {
  for (int i = 1; i < count_; i++)
    if (heap_[i]->FiringTime < heap_[(i - 1) / 2]->FiringTime) return i;
  for (int i = 0; i < count_; i++)
    if (heap_[i]->Action->EventRecord->HeapSlot != &heap_[i]) return 100000 + i;
  for (int i = count_; i < capacity_; i++)
    if (heap_[i]) return i;
  for (Event* e : pool_)
    for (int i = 0; i < count_; i++)
      if (heap_[i] == e) return -i;
  return 0;
}

void EventList::PrintList(std::ostream& out) const {
  out << "------------------Event List-----------------" << "\n";
  for (int i = 0; i < count_; i++)
    out << "(" << heap_[i]->Action->getName() << ") " << heap_[i]->ScheduleTime << " --> "
        << heap_[i]->FiringTime << "\n";
  out << "---------------------------------------------" << "\n\n";
}
