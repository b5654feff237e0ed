// One-component Tausworthe (linear feedback shift register) generator on a
// 31-bit state. A zero state is a fixed point: seeded with 0 it yields 0.0
// forever.
#ifndef TARVEX_DISTRIBUTIONS_TAUSWORTHE_H
#define TARVEX_DISTRIBUTIONS_TAUSWORTHE_H

#include "distributions/RandomNumberGenerator.h"

class Tausworthe : public RandomNumberGenerator {
public:
  // Unseeded, the state is zero (and so yields 0.0) until srnd().
  Tausworthe() = default;
  ~Tausworthe() override = default;

  // Next value in [0, 1]: the state divided by 2^31 - 1.
  double rnd() override;

  void srnd(std::uint32_t seed) override;

private:
  std::uint32_t state = 0;
};

#endif
