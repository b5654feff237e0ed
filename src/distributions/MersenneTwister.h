// MT19937 Mersenne Twister: 624 words of state, period 2^19937 - 1.
// Drawn from before any srnd() it seeds itself with 18671867.
#ifndef TARVEX_DISTRIBUTIONS_MERSENNETWISTER_H
#define TARVEX_DISTRIBUTIONS_MERSENNETWISTER_H

#include "distributions/RandomNumberGenerator.h"

class MersenneTwister : public RandomNumberGenerator {
public:
  static constexpr int N = 624;
  static constexpr int M = 397;
  static constexpr std::uint32_t DefaultSeed = 18671867u;

  MersenneTwister() = default;
  ~MersenneTwister() override = default;

  // (rnd_int32() + 0.5) * 2^-32: strictly inside (0, 1).
  double rnd() override;

  void srnd(std::uint32_t seed) override;

  // Next tempered 32-bit output word.
  std::uint32_t rnd_int32();

  // The twist's matrix term for the low bit x of the combined word.
  static std::uint32_t getMatrixA(unsigned long x) { return x ? 0x9908b0dfu : 0u; }

private:
  std::uint32_t mt[N] = {};
  bool seeded = false;
  int mti = N;  // N: state used up, regenerate before the next draw
};

#endif
