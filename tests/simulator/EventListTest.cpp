// The future event list: order by time then rank, weighted choice among
// ties, removal and re-keying with back-pointers kept current, the pool,
// the printout and the capacity guard.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "simulator/EventList.h"
#include "simulator/SimTestSupport.h"

using simtest::ScriptedGenerator;
using simtest::TestUnit;

namespace {

void insertAt(EventList& list, TestUnit& unit, double time, double scheduled = 0.0) {
  Event e(time, scheduled, &unit);
  list.Insert(&e);
}

// Firing times slot by slot; every unit's record must point at its slot.
std::vector<double> heapTimes(const EventList& list) {
  std::vector<double> times;
  for (int i = 0; i < list.Count(); i++) {
    times.push_back(list.At(i)->FiringTime);
    EXPECT_EQ(*list.At(i)->Action->EventRecord->HeapSlot, list.At(i)) << "slot " << i;
  }
  EXPECT_EQ(list.IsValid(), 0);
  return times;
}

std::vector<std::unique_ptr<TestUnit>> makeUnits(int n, double weight = 1.0) {
  std::vector<std::unique_ptr<TestUnit>> units;
  for (int i = 0; i < n; i++)
    units.push_back(std::make_unique<TestUnit>(std::string(1, char('A' + i)).c_str(), 0, weight));
  return units;
}

}  // namespace

TEST(EventListTest, OrderRankAndWeightedTies) {
  auto* gen = new ScriptedGenerator();
  ScriptedGenerator::Scope scope(gen);
  EventList list(8);

  // Times 5, 3, 3 with ranks 0, 2, 1: rank 2 first, no number drawn.
  TestUnit a("a", 0), b("b", 2), c("c", 1);
  insertAt(list, a, 5);
  insertAt(list, b, 3);
  insertAt(list, c, 3);
  for (TestUnit* expected : {&b, &c, &a}) {
    Event** next = list.Earliest();
    ASSERT_EQ(next, expected->record.HeapSlot);
    list.Remove(next);
  }
  EXPECT_EQ(list.Earliest(), nullptr);
  EXPECT_EQ(gen->draws, 0);

  // Weights 1, 1, 2 (tie order x, y, z): the first event whose running sum
  // strictly exceeds u * 4 fires; one uniform per call. Weights summing to
  // zero or less leave the first tied event.
  TestUnit x("x", 1, 1.0), y("y", 1, 1.0), z("z", 1, 2.0);
  insertAt(list, x, 7);
  insertAt(list, y, 7);
  insertAt(list, z, 7);
  const std::pair<double, TestUnit*> cases[] = {{0.0, &x}, {0.2, &x}, {0.25, &y}, {0.49, &y}, {0.5, &z}, {0.99, &z}};
  for (const auto& k : cases) {
    gen->values = {k.first};
    long before = gen->draws;
    EXPECT_EQ((*list.Earliest())->Action, k.second) << "u = " << k.first;
    EXPECT_EQ(gen->draws, before + 1);
  }
  for (double w : {0.0, -1.0}) {
    x.weight = y.weight = z.weight = w;
    gen->values = {0.7};
    EXPECT_EQ((*list.Earliest())->Action, &x) << "weight " << w;
  }

  // Over many draws the weight-2 event fires about half of the time.
  x.weight = y.weight = 1.0;
  z.weight = 2.0;
  gen->values.clear();
  std::map<BaseActionClass*, int> chosen;
  for (int i = 0; i < 40000; i++) chosen[(*list.Earliest())->Action]++;
  EXPECT_NEAR(chosen[&z] / 40000.0, 0.5, 0.015);
  EXPECT_NEAR(chosen[&x] / 40000.0, 0.25, 0.015);
  list.ClearEventList();

  // Ties are collected depth first. Heap A..G with E later than the rest
  // gives the tie order A B D C F G, not slot order.
  auto seven = makeUnits(7);
  const double times[] = {1, 1, 1, 1, 2, 1, 1};
  for (int i = 0; i < 7; i++) insertAt(list, *seven[i], times[i]);
  gen->values = {0.4};  // threshold 2.4: the third tie
  EXPECT_EQ((*list.Earliest())->Action, seven[3].get());
  gen->values = {0.55};  // threshold 3.3: the fourth tie
  EXPECT_EQ((*list.Earliest())->Action, seven[2].get());
  list.ClearEventList();
}

TEST(EventListTest, RemoveClearAndPrint) {
  EventList list(8);
  auto u = makeUnits(8);
  using T = std::vector<double>;
  // Removing the root moves the last event in and sinks it; removing the
  // last slot only clears it.
  for (int i = 0; i < 5; i++) insertAt(list, *u[i], i + 1.0);
  list.Remove(list.Earliest());
  EXPECT_EQ(heapTimes(list), (T{2, 4, 3, 5}));
  EXPECT_EQ(u[0]->record.HeapSlot, nullptr);
  EXPECT_EQ(list.At(4), nullptr);
  Event** slotOfB = u[1]->record.HeapSlot;
  list.Remove(static_cast<void*>(u[4]->record.HeapSlot));
  EXPECT_EQ(heapTimes(list), (T{2, 4, 3}));
  EXPECT_EQ(list.At(3), nullptr);
  EXPECT_EQ(u[1]->record.HeapSlot, slotOfB);
  EXPECT_EQ(list.PoolSize(), 5);

  // Clearing returns everything to the pool and marks the records as off
  // the reactivation list.
  for (auto& unit : u) unit->record.OffReactivationList = false;
  list.ClearEventList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.PoolSize(), 8);
  for (int i = 0; i < 8; i++) EXPECT_EQ(list.At(i), nullptr);
  for (int i = 1; i < 4; i++) {
    EXPECT_EQ(u[i]->record.HeapSlot, nullptr);
    EXPECT_TRUE(u[i]->record.OffReactivationList);
  }

  std::ostringstream empty, two;
  list.PrintList(empty);
  EXPECT_EQ(empty.str(), "------------------Event List-----------------\n"
                         "---------------------------------------------\n\n");
  insertAt(list, *u[0], 5, 0);
  insertAt(list, *u[1], 2.25, 1.5);
  list.PrintList(two);
  EXPECT_EQ(two.str(), "------------------Event List-----------------\n(B) 1.5 --> 2.25\n(A) 0 --> 5\n"
                       "---------------------------------------------\n\n");
  list.ClearEventList();
}

TEST(EventListDeathTest, InsertBeyondCapacityAsserts) {
  auto u = makeUnits(3);
  EXPECT_DEATH(
      {
        EventList list(2);
        for (int i = 0; i < 3; i++) insertAt(list, *u[i], i);
      },
      "Assertion failed.*EventList");
}

// Random inserts, removals, re-keys and clears against a multiset of keys
// (time, -rank): after every operation the list is sound, ranks are in
// heap order, and Earliest agrees with the reference minimum, drawing a
// number exactly when that minimum is tied.
TEST(EventListTest, RandomOperationsMatchReference) {
  auto* gen = new ScriptedGenerator();
  ScriptedGenerator::Scope scope(gen);
  const int kUnits = 40;
  EventList list(kUnits + 1);
  std::mt19937 rng(2024);
  auto units = makeUnits(kUnits, 1.5);
  for (auto& u : units) u->rank = static_cast<int>(rng() % 3);
  std::multiset<std::pair<double, int>> reference;
  std::map<TestUnit*, double> timeOf;
  auto key = [&](TestUnit* u) { return std::make_pair(timeOf[u], -u->rank); };

  for (int step = 0; step < 6000; step++) {
    TestUnit* unit = units[rng() % kUnits].get();
    unsigned op = rng() % 100;
    if (op == 0) {
      list.ClearEventList();
      reference.clear();
      timeOf.clear();
    } else if (!unit->record.HeapSlot) {
      timeOf[unit] = (rng() % 16) * 0.5;
      reference.insert(key(unit));
      insertAt(list, *unit, timeOf[unit]);
    } else {
      reference.erase(reference.find(key(unit)));
      if (op < 50) {
        timeOf.erase(unit);
        list.Remove(unit->record.HeapSlot);
      } else {
        timeOf[unit] = (rng() % 16) * 0.5;
        reference.insert(key(unit));
        (*unit->record.HeapSlot)->FiringTime = timeOf[unit];
        list.ModifyKey(unit->record.HeapSlot);
      }
    }
    ASSERT_EQ(list.IsValid(), 0) << "step " << step;
    ASSERT_EQ(list.Count(), static_cast<int>(reference.size()));
    ASSERT_EQ(list.PoolSize(), kUnits + 1 - list.Count());
    for (auto& u : units) {
      ASSERT_EQ(u->record.HeapSlot != nullptr, timeOf.count(u.get()) > 0) << "step " << step;
      if (u->record.HeapSlot) {
        ASSERT_EQ((*u->record.HeapSlot)->FiringTime, timeOf[u.get()]);
      }
    }
    for (int i = 1; i < list.Count(); i++) {
      Event* child = list.At(i);
      Event* parent = list.At((i - 1) / 2);
      ASSERT_FALSE(child->FiringTime == parent->FiringTime && child->Action->Rank() > parent->Action->Rank());
    }
    long before = gen->draws;
    Event** next = list.Earliest();
    if (reference.empty()) {
      ASSERT_EQ(next, nullptr);
      continue;
    }
    auto best = *reference.begin();
    EXPECT_EQ((*next)->FiringTime, best.first);
    EXPECT_EQ(-(*next)->Action->Rank(), best.second);
    EXPECT_EQ(gen->draws - before, reference.count(best) >= 2 ? 1 : 0) << "step " << step;
  }
  list.ClearEventList();
}
