// The future event list: order by time then rank, weighted choice among
// ties, removal and re-keying with back-pointers kept current, the pool and
// the capacity guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "simulator/EventList.h"
#include "simulator/SimTestSupport.h"
#include "support/ScriptedGenerator.h"

using simtest::TestUnit;

namespace {

void insertAt(EventList& list, TestUnit& unit, double time, double scheduled = 0.0) {
  Event e(time, scheduled, &unit);
  list.Insert(&e);
}

std::vector<std::unique_ptr<TestUnit>> makeUnits(int n, double weight = 1.0) {
  std::vector<std::unique_ptr<TestUnit>> units;
  for (int i = 0; i < n; i++)
    units.push_back(std::make_unique<TestUnit>(std::string(1, char('A' + i)).c_str(), 0, std::deque<double>{}, weight));
  return units;
}

}  // namespace

TEST(EventListTest, OrderRankAndWeightedTies) {
  support::ScriptedScope scope;
  support::ScriptedGenerator* gen = scope.generator;
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
  TestUnit x("x", 1, {}, 1.0), y("y", 1, {}, 1.0), z("z", 1, {}, 2.0);
  insertAt(list, x, 7);
  insertAt(list, y, 7);
  insertAt(list, z, 7);
  const std::pair<double, TestUnit*> cases[] = {{0.2, &x}, {0.25, &y}, {0.49, &y}, {0.5, &z}};
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

// Clearing returns everything to the pool and marks the records as off the
// reactivation list.
TEST(EventListTest, ClearReturnsEverythingToThePool) {
  EventList list(8);
  auto u = makeUnits(8);
  for (int i = 0; i < 5; i++) insertAt(list, *u[i], i + 1.0);
  for (auto& unit : u) unit->record.OffReactivationList = false;
  list.ClearEventList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.PoolSize(), 8);
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(u[i]->record.HeapSlot, nullptr);
    EXPECT_TRUE(u[i]->record.OffReactivationList);
  }
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
  support::ScriptedScope scope;
  support::ScriptedGenerator* gen = scope.generator;
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

// The head's ties as HeadTies reports them are exactly the events first in
// time and rank, in the order Earliest weighs them: for any uniform Earliest
// fires the first tie whose running weight exceeds u x total (the first tie
// when the weights sum to zero), each tie's probability is its share of the
// weight, and its steering uniform makes Earliest fire it. Random heaps with
// few distinct times, ranks and weights (zeros included), so ties abound.
TEST(EventListTest, HeadTiesDescribeTheWeightedPick) {
  support::ScriptedScope scope;
  support::ScriptedGenerator* gen = scope.generator;
  std::mt19937 rng(7);
  const double weights[] = {0.0, 0.5, 1.0, 2.0, 3.25};
  for (int trial = 0; trial < 400; trial++) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int n = 1 + static_cast<int>(rng() % 12);
    std::vector<std::unique_ptr<TestUnit>> units;
    EventList list(n);
    for (int i = 0; i < n; i++) {
      units.push_back(std::make_unique<TestUnit>("u", static_cast<int>(rng() % 2), std::deque<double>{},
                                                 weights[rng() % 5]));
      insertAt(list, *units.back(), static_cast<double>(rng() % 2));
    }
    // The reference: the events first in time, then in rank.
    double first = 1e9;
    int best = -1;
    for (auto& u : units) first = std::min(first, (*u->record.HeapSlot)->FiringTime);
    for (auto& u : units)
      if ((*u->record.HeapSlot)->FiringTime == first) best = std::max(best, u->rank);
    std::multiset<const BaseActionClass*> expected;
    for (auto& u : units)
      if ((*u->record.HeapSlot)->FiringTime == first && u->rank == best) expected.insert(u.get());

    const std::vector<EventList::Tie> ties = list.HeadTies();
    std::multiset<const BaseActionClass*> reported;
    double total = 0.0, probability = 0.0;
    for (const EventList::Tie& t : ties) {
      reported.insert(t.unit);
      total += t.weight;
      probability += t.probability;
    }
    ASSERT_EQ(reported, expected);
    EXPECT_NEAR(probability, 1.0, 1e-12);
    const long before = gen->draws;
    EXPECT_EQ(list.HeadTies().size(), ties.size());
    EXPECT_EQ(gen->draws, before) << "describing the ties draws nothing";

    for (size_t k = 0; k < ties.size(); k++) {
      if (ties.size() >= 2 && total > 0.0) {
        EXPECT_DOUBLE_EQ(ties[k].probability, ties[k].weight / total);
      }
      if (ties[k].probability <= 0.0) continue;
      gen->values = {ties[k].uniform};
      EXPECT_EQ((*list.Earliest())->Action, ties[k].unit) << "steered to tie " << k;
    }
    for (int draw = 0; draw < 5 && ties.size() >= 2; draw++) {
      const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
      size_t walk = 0;
      double running = 0.0;
      for (size_t k = 0; k < ties.size(); k++) {
        running += ties[k].weight;
        if (running > u * total) {
          walk = k;
          break;
        }
      }
      gen->values = {u};
      const long drawsBefore = gen->draws;
      EXPECT_EQ((*list.Earliest())->Action, ties[walk].unit) << "u = " << u;
      EXPECT_EQ(gen->draws, drawsBefore + 1);
    }
    EXPECT_EQ(list.IsValid(), 0);
  }
}
