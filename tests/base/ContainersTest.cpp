// The heap of the steady-state loop.
#include <gtest/gtest.h>

#include "base/Heap.h"

TEST(Heap, GrowthOrderOfEqualValuesAndKeyUpdate) {
  Heap<double> h(1);
  h.Insert(5.0, 0);
  h.Insert(5.0, 1);
  h.Insert(5.0, 9);
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
