// The look-ahead's memo seen from the simulator: the check mode reports the
// size of the full search and what the memoised one evaluated, and the
// memo's bound (-L) changes no result.
#include <gtest/gtest.h>

#include <string>

#include "support/ResultFiles.h"

using namespace support;

TEST(LookaheadMemory, CheckModeReportsTheSearchAndTheBoundChangesNoResult) {
  Result check = runSimulator({"-M", TARVEX_SOURCE_DIR "/models/attack_flow.toml", "-K"});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  // 2834 outcomes in the horizon-5 tree of the initial state, 43 distinct
  // (state, horizon) pairs in it.
  EXPECT_TRUE(contains(check.out, "Look-ahead: 2834 nodes in the full search tree; 43 states "
                                  "evaluated in "))
      << check.out;

  const std::string model = TARVEX_SOURCE_DIR "/tests/formalism/data/gen20.toml";
  TempDir dir;
  Result plain = runSimulator({"-M", model, "-N", "300", "-s", "9", "-b", dir.file("a.bin")});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  Result bounded =
      runSimulator({"-M", model, "-N", "300", "-s", "9", "-L", "1", "-b", dir.file("b.bin")});
  ASSERT_EQ(bounded.exitCode, 0) << bounded.err;
  EXPECT_TRUE(contains(bounded.out, "Look-ahead memory: 1 MB"));
  const std::string a = readFile(dir.file("a.bin"));
  EXPECT_GT(a.size(), 300u * 8);
  EXPECT_TRUE(a == readFile(dir.file("b.bin")));

  Result zero = runSimulator({"-M", model, "-N", "1", "-L", "0"});
  EXPECT_EQ(zero.exitCode, 1);
  EXPECT_TRUE(contains(zero.err, "Option -L takes a whole number from 1 to 4096 (megabytes)"))
      << zero.err;
}
