// The variate sampler the system actually uses: a Distributions holder whose
// constructors choose and seed the generator.
#ifndef TARVEX_DISTRIBUTIONS_USERDISTRIBUTIONS_H
#define TARVEX_DISTRIBUTIONS_USERDISTRIBUTIONS_H

#include "distributions/Distributions.h"

class UserDistributions : public Distributions {
public:
  // An unseeded lagged-Fibonacci generator.
  UserDistributions();

  // type 1: Tausworthe; any other type: lagged Fibonacci. The generator is
  // then seeded with seed, taken modulo 2^32.
  UserDistributions(int type, long seed);
};

#endif
