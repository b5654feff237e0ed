// Uniform generators: known answers, reproducibility and agreement with the
// reference MT19937.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "distributions/LaggedFibonacci.h"
#include "distributions/MersenneTwister.h"

namespace {

// The lagged-Fibonacci read position is process-wide: each stream starts it
// at the beginning of the buffer so that results do not depend on test order.
std::vector<double> seededStream(std::uint32_t seed, int count) {
  LaggedFibonacci::resetReadPosition();
  LaggedFibonacci g;
  g.srnd(seed);
  std::vector<double> out;
  for (int i = 0; i < count; i++) out.push_back(g.rnd());
  return out;
}

std::vector<double> stateAfterStart(int seed) {
  LaggedFibonacci::ranf_start(seed);
  std::vector<double> state(LaggedFibonacci::KK);
  LaggedFibonacci::ranf_array(state.data(), LaggedFibonacci::KK);
  return state;
}

TEST(LaggedFibonacci, KnownAnswerAndRecurrenceAcrossRefills) {
  const std::vector<double> x = seededStream(31415, 1000);
  EXPECT_EQ(x[0], 0.2623968519976787);
  EXPECT_EQ(x[1], 0.0028753186725340996);
  EXPECT_EQ(x[2], 0.0444140500091752);
  for (std::size_t j = 0; j < x.size(); j++) {
    ASSERT_TRUE(x[j] >= 0.0 && x[j] < 1.0) << x[j];
    if (j >= 100) {
      const double s = x[j - 100] + x[j - 37];
      ASSERT_EQ(x[j], s - std::trunc(s)) << "at " << j;
    }
  }
}

TEST(LaggedFibonacci, ReseedingRestoresStateButReadPositionContinues) {
  const std::vector<double> reference = seededStream(4242, 12);
  LaggedFibonacci::resetReadPosition();
  LaggedFibonacci g;
  g.srnd(4242);
  for (int i = 0; i < 5; i++) g.rnd();
  g.srnd(4242);
  EXPECT_EQ(LaggedFibonacci::readPosition(), 5);
  for (int i = 5; i < 12; i++) EXPECT_EQ(g.rnd(), reference[i]) << "draw " << i;
}

TEST(LaggedFibonacci, SeedsWithTopBitSetAreReducedAndTerminate) {
  EXPECT_EQ(seededStream(0x80000005u, 200), seededStream(5, 200));
  EXPECT_EQ(seededStream(0xffffffffu, 200), seededStream(0x7fffffffu, 200));
  EXPECT_EQ(stateAfterStart(static_cast<int>(0x80000005LL - 0x100000000LL)), stateAfterStart(5));
  // Only the top bit is cleared; the largest in-range seeds are valid.
  EXPECT_NE(seededStream(0x40000005u, 5), seededStream(5, 5));
  EXPECT_NE(seededStream(0x7fffffffu, 5), seededStream(0x7ffffffeu, 5));
}

TEST(MersenneTwister, MatchesReferenceEngineIncludingDefaultSeed) {
  for (std::uint32_t seed : {5489u, 31415u, 0xffffffffu}) {
    MersenneTwister g;
    g.srnd(seed);
    std::mt19937 ref(seed);
    for (int i = 0; i < 3000; i++) ASSERT_EQ(g.rnd_int32(), ref()) << "seed " << seed << " draw " << i;
  }
  MersenneTwister unseeded, words;
  std::mt19937 ref(18671867u);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(unseeded.rnd_int32(), ref()) << "draw " << i;

  unseeded.srnd(77);
  words.srnd(77);
  for (int i = 0; i < 3000; i++) {
    const double u = unseeded.rnd();
    ASSERT_EQ(u, (words.rnd_int32() + 0.5) / 4294967296.0);
    ASSERT_TRUE(u > 0.0 && u < 1.0) << u;
  }
}

}  // namespace
