// Common interface of the uniform random number generators.
//
// Every random decision of a run draws from exactly one generator object held
// by the process-wide variate sampler. The root class carries no state: its
// rnd() yields 0.0 and its srnd() ignores the seed, so an uninstalled slot
// behaves as a constant generator rather than failing.
#ifndef TARVEX_DISTRIBUTIONS_RANDOMNUMBERGENERATOR_H
#define TARVEX_DISTRIBUTIONS_RANDOMNUMBERGENERATOR_H

#include <cstdint>

// Each generator has its cache lines to itself: the simulating thread
// writes its state at every draw while another thread may be working on
// memory allocated next to it.
class alignas(64) RandomNumberGenerator {
public:
  RandomNumberGenerator() = default;
  virtual ~RandomNumberGenerator() = default;

  RandomNumberGenerator(const RandomNumberGenerator&) = delete;
  RandomNumberGenerator& operator=(const RandomNumberGenerator&) = delete;

  // Next uniform variate.
  virtual double rnd() { return 0.0; }

  // (Re)seeds the generator.
  virtual void srnd(std::uint32_t seed) { static_cast<void>(seed); }

  // Restarts the stream at a point fixed by `key`, a well-mixed 64-bit value
  // (a replication's own stream under common random numbers): srnd() with
  // the key's top 31 bits, never 0. A generator whose seeding is slow
  // compared with a replication fills its state from the key instead.
  virtual void restart(std::uint64_t key) {
    const std::uint32_t seed = static_cast<std::uint32_t>(key >> 33);
    srnd(seed != 0 ? seed : 1u);
  }
};

#endif
