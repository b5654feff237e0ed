// Containers (List, FastSet, Heap) and the fixed error texts.
#include <gtest/gtest.h>

#include <vector>

#include "base/FastSet.h"
#include "base/Heap.h"
#include "base/List.h"
#include "base/StandardErrors.h"

namespace {
struct Item {};
std::vector<Item*> items(const List<Item>& l) { return std::vector<Item*>(l.begin(), l.end()); }
}  // namespace

TEST(List, SetSemanticsGrowthRemovalAndReplacement) {
  Item it[11];
  Item *a = &it[0], *b = &it[1], *c = &it[2];
  List<Item> l;
  for (int i = 0; i < 11; i++) l.append(&it[i]);
  l.append(a);
  EXPECT_EQ(l.getNumItems(), 11);
  EXPECT_EQ(l.getCapacity(), 20);
  EXPECT_EQ(l[10], &it[10]);

  List<Item> abc;
  for (Item* x : {a, b, c}) abc.append(x);
  abc.remove(a);  // the last item takes the freed slot
  EXPECT_EQ(items(abc), (std::vector<Item*>{c, b}));

  List<Item> r;
  r.append(a);
  r.append(b);
  r.replaceItem(a, b);  // both present: the old one goes
  EXPECT_EQ(items(r), (std::vector<Item*>{b}));
  r.replaceItem(b, c);
  EXPECT_EQ(items(r), (std::vector<Item*>{c}));

  List<Item> small(2);
  small.append(a);
  small.append(&abc);  // needs 3 slots: capacity becomes 2 x 3
  EXPECT_EQ(items(small), (std::vector<Item*>{a, c, b}));
  EXPECT_EQ(small.getCapacity(), 6);

  testing::internal::CaptureStdout();
  List<Item>().printList();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No items in the list\n");
}

TEST(FastSet, FillFreezeAndMisuse) {
  FastSet s;
  EXPECT_TRUE(s.insert(5));
  EXPECT_TRUE(s.insert(1));
  EXPECT_FALSE(s.insert(5));
  EXPECT_TRUE(s.insert(3));
  s.NoMoreModifications();
  ASSERT_EQ(s.size(), 3);
  EXPECT_EQ(std::vector<int>(s.data(), s.data() + 3), (std::vector<int>{1, 3, 5}));
  EXPECT_DEATH(s.insert(7), "!is_vec_rep, file FastSet");
  s.clear();
  EXPECT_EQ(s.size(), 0);  // still frozen
}

TEST(Heap, GrowthOrderOfEqualValuesAndKeyUpdate) {
  Heap<double> h(1);
  h.Insert(5.0, 0);
  h.Insert(5.0, 1);
  h.Insert(5.0, 9);
  EXPECT_EQ(h.Capacity(), 4);
  EXPECT_EQ(h.KeyCapacity(), 16);
  EXPECT_EQ(h.TopKey(), 0);  // equal values never swap on insertion
  h.Insert(2.0, 3);
  EXPECT_EQ(h.TopKey(), 3);
  // Now [2 k3, 5 k0, 5 k9, 5 k1]; raising the top sifts it down along the
  // left child on ties: [5 k0, 5 k1, 5 k9, 7 k3].
  h.ValueOf(3) = 7.0;
  h.Update(3);
  EXPECT_EQ(h.TopKey(), 0);
  h.ValueOf(0) = 6.0;
  h.Update(0);
  EXPECT_EQ(h.TopKey(), 1);
  h.ValueOf(9) = 1.0;  // lowered below the top: brought up
  h.Update(9);
  EXPECT_EQ(h.TopKey(), 9);
  EXPECT_EQ(h.ValueOf(0), 6.0);
  EXPECT_DEATH(Heap<int>(2).TopKey(), "size > 0, file Heap");
}

TEST(StandardErrors, FixedTexts) {
  testing::internal::CaptureStderr();
  MemoryError();
  ErrorEmptyParameter("rate");
  ErrorEmptyParameter(nullptr);
  InconsistantState();
  UserError();
  ArrayTypeMismatchError("a", "b");
  StructTypeMismatchError("c", nullptr);
  InvalidArrayType();
  InvalidStructType();
  InvalidUnorderedType();
  ArrayOutOfBoundsError("Array out of bounds (BaseGroupClass::setMember()");
  SyncError::WrongDistributionType();
  SyncError::NoAction();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Memory Error\n"
            "rate: Parameter was an empty reference\n"
            ": Parameter was an empty reference\n"
            "This program has entered into an inconsistant state. Please report this bug.\n"
            "A user error has been detected\n"
            "Array types for equivalence sharing do not match for state variables: \n  a\n  b\n"
            "Struct types for equivalence sharing do not match for state variables: \n  c\n  \n"
            "ArrayType is not valid\n"
            "ArrayType is invalid for struct element\npreparing to segfault\n"
            "ArrayType is invalid for unordered element\n"
            "Array out of bounds error at Array out of bounds (BaseGroupClass::setMember()\n"
            "You can only synchronize actions from one type,either exponential or instantenous\n"
            " no Action found in model\n");
  EXPECT_EXIT(MemoryAllocationError(), testing::ExitedWithCode(1),
              "Insufficient Memory to allocate dynamic data structures from heap memory\n"
              "Exiting program...");
}
