#include "distributions/MersenneTwister.h"

namespace {
constexpr std::uint32_t UpperMask = 0x80000000u;
constexpr std::uint32_t LowerMask = 0x7fffffffu;
}  // namespace

void MersenneTwister::srnd(std::uint32_t seed) {
  mt[0] = seed;
  for (int i = 1; i < N; i++) {
    mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + static_cast<std::uint32_t>(i);
  }
  mti = N;
  seeded = true;
}

std::uint32_t MersenneTwister::rnd_int32() {
  std::uint32_t y;
  if (mti < N) {
    y = mt[mti++];
  } else {
    if (!seeded) srnd(DefaultSeed);
    // The twist, in increasing kk, each word from its successor and the word
    // M further on (wrapping to words already twisted): split where the
    // indices wrap, so that no index needs a remainder.
    auto twist = [](std::uint32_t word, std::uint32_t next, std::uint32_t far) {
      std::uint32_t v = (word & UpperMask) | (next & LowerMask);
      return far ^ (v >> 1) ^ ((0u - (v & 1u)) & 0x9908b0dfu);
    };
    int kk = 0;
    for (; kk < N - M; kk++) mt[kk] = twist(mt[kk], mt[kk + 1], mt[kk + M]);
    for (; kk < N - 1; kk++) mt[kk] = twist(mt[kk], mt[kk + 1], mt[kk + M - N]);
    mt[N - 1] = twist(mt[N - 1], mt[0], mt[M - 1]);
    y = mt[0];
    mti = 1;
  }
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

double MersenneTwister::rnd() {
  return (static_cast<double>(rnd_int32()) + 0.5) * (1.0 / 4294967296.0);
}
