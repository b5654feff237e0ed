// Assertions report the condition as written and the base name of the file
// it is written in.
#include <gtest/gtest.h>

#include "base/FastSet.h"
#include "base/StandardErrors.h"

namespace {
int two() { return 2; }
}  // namespace

TEST(AssertionsDeathTest, ReportTheirOwnConditionAndFile) {
  TARVEX_ASSERT(two() == 2);  // holds: nothing happens
  EXPECT_DEATH(TARVEX_ASSERT(two() + 1 == 2),
               "^Assertion failed: two\\(\\) \\+ 1 == 2, file AssertionsTest, line [0-9]+\n");
  EXPECT_DEATH(TARVEX_ASSERT_NAMED(two() < 1, "documented name"),
               "^Assertion failed: documented name, file AssertionsTest, line");

  // Written in a header and in its source file of one name.
  FastSet s;
  s.insert(5);
  s.NoMoreModifications();
  EXPECT_DEATH(s.insert(1), "Assertion failed: !is_vec_rep, file FastSet, line");
  EXPECT_DEATH(s.find(5), "Assertion failed: !is_vec_rep, file FastSet, line");
  FastSet t;
  EXPECT_DEATH(t.size(), "Assertion failed: is_vec_rep, file FastSet, line");
}
