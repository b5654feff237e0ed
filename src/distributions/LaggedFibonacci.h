// Floating-point lagged-Fibonacci generator (long lag 100, short lag 37,
// stream separation 70): X[j] = (X[j-100] + X[j-37]) mod 1.
//
// The generator state ran_u and the read position k into the output buffer
// are process-wide, shared by every instance; only the 100-value output buffer
// belongs to an instance. The system uses a single active instance. Both are
// plain, zero-initialised statics so that a generator constructed and seeded
// during static initialisation (before main) finds them ready.
//
// Seeding does not reset the read position: after srnd() the next draw
// continues at the position where the previous stream stopped, in the new
// buffer.
#ifndef TARVEX_DISTRIBUTIONS_LAGGEDFIBONACCI_H
#define TARVEX_DISTRIBUTIONS_LAGGEDFIBONACCI_H

#include "distributions/RandomNumberGenerator.h"

class LaggedFibonacci : public RandomNumberGenerator {
public:
  static constexpr int KK = 100;  // long lag
  static constexpr int LL = 37;   // short lag
  static constexpr int TT = 70;   // guaranteed separation between streams

  // The buffer holds zeros, not random values, until srnd().
  LaggedFibonacci() = default;
  ~LaggedFibonacci() override = default;

  // Next value in [0, 1); refills the buffer from the state every 100 draws.
  double rnd() override;

  // Seeds the process-wide state and fills this instance's buffer twice.
  // Seeds with the top bit set are reduced by clearing that bit (see .cpp).
  void srnd(std::uint32_t seed) override;

  // Fills the state with 100 values of a splitmix64 sequence started at
  // key, refills the buffer and resets the read position: a stream that
  // depends on the key alone, in about a microsecond (srnd's start routine
  // takes a hundred times longer, more than a replication).
  void restart(std::uint64_t key) override;

  // Initialises the process-wide state ran_u from a seed. A negative seed is
  // reduced to seed & 0x7fffffff first, so the routine always terminates.
  static void ranf_start(int seed);

  // Copies the state into aa[0..99], extends aa up to n values (n >= 100) by
  // the recurrence and advances the state past them.
  static void ranf_array(double aa[], int n);

  // Process-wide read position into the buffer (1..100 after the first draw).
  // For tests and diagnostics only.
  static int readPosition() { return k; }

  // Moves the process-wide read position back to the start of the buffer, so
  // that the next draw returns the first buffer element. For tests and
  // diagnostics only: a run never calls it.
  static void resetReadPosition() { k = 0; }

private:
  static double ran_u[KK];  // generator state, shared process-wide
  static int k;             // read position into buffer, shared process-wide

  double buffer[KK] = {};   // values handed out by rnd()
};

#endif
