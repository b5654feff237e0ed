#include "distributions/LaggedFibonacci.h"

#include <cmath>

// Zero-initialised before any dynamic initialisation takes place, so the
// process-wide generator may be seeded from a static constructor.
double LaggedFibonacci::ran_u[LaggedFibonacci::KK];
int LaggedFibonacci::k = 0;

namespace {

// (x + y) mod 1.0, removing the integer part by truncation toward zero.
inline double mod_sum(double x, double y) {
  const double s = x + y;
  // The generator's values lie in [0, 1), so the sum lies in [0, 2) and its
  // integer part is 0 or 1: the same result as subtracting the truncation,
  // without calling it.
  if (s > 0.0 && s < 2.0) return s >= 1.0 ? s - 1.0 : s;
  return s - std::trunc(s);
}

inline bool is_odd(int s) { return (s & 1) != 0; }

}  // namespace

void LaggedFibonacci::ranf_array(double aa[], int n) {
  int i, j;
  for (j = 0; j < KK; j++) aa[j] = ran_u[j];
  for (; j < n; j++) aa[j] = mod_sum(aa[j - KK], aa[j - LL]);
  for (i = 0; i < LL; i++, j++) ran_u[i] = mod_sum(aa[j - KK], aa[j - LL]);
  for (; i < KK; i++, j++) ran_u[i] = mod_sum(aa[j - KK], ran_u[i - LL]);
}

void LaggedFibonacci::ranf_start(int seed) {
  // The seed's bits are consumed by arithmetic right shifts; a negative value
  // would never reach zero, so its sign bit is cleared first. Non-negative
  // seeds are used unchanged (no further masking).
  if (seed < 0) seed &= 0x7fffffff;

  double u[KK + KK - 1], ul[KK + KK - 1];
  const double ulp = (1.0 / (1L << 30)) / (1L << 22);  // 2^-52
  // Computed in double: seed + 2 may exceed the int range.
  double ss = 2.0 * ulp * (static_cast<double>(seed) + 2.0);
  int t, s, j;

  for (j = 0; j < KK; j++) {
    u[j] = ss;  // bootstrap the buffer
    ul[j] = 0.0;
    ss += ss;
    if (ss >= 1.0) ss -= 1.0 - 2 * ulp;  // cyclic shift of 51 bits
  }
  for (; j < KK + KK - 1; j++) u[j] = ul[j] = 0.0;
  u[1] += ulp;  // make u[1] (and only u[1]) "odd"
  ul[1] = ulp;
  s = seed;
  t = TT - 1;
  while (t) {
    // "square": move every coefficient to twice its index ...
    for (j = KK - 1; j > 0; j--) {
      ul[j + j] = ul[j];
      u[j + j] = u[j];
    }
    for (j = KK + KK - 2; j > KK - LL; j -= 2) {
      ul[KK + KK - 1 - j] = 0.0;
      u[KK + KK - 1 - j] = u[j] - ul[j];
    }
    // ... and reduce the high coefficients modulo the characteristic polynomial.
    for (j = KK + KK - 2; j >= KK; j--) {
      if (ul[j] != 0.0) {
        ul[j - (KK - LL)] = ulp - ul[j - (KK - LL)];
        u[j - (KK - LL)] = mod_sum(u[j - (KK - LL)], u[j]);
        ul[j - KK] = ulp - ul[j - KK];
        u[j - KK] = mod_sum(u[j - KK], u[j]);
      }
    }
    if (is_odd(s)) {  // "multiply by z": shift the buffer cyclically
      for (j = KK; j > 0; j--) {
        ul[j] = ul[j - 1];
        u[j] = u[j - 1];
      }
      ul[0] = ul[KK];
      u[0] = u[KK];
      if (ul[KK] != 0.0) {
        ul[LL] = ulp - ul[LL];
        u[LL] = mod_sum(u[LL], u[KK]);
      }
    }
    if (s)
      s >>= 1;
    else
      t--;
  }
  for (j = 0; j < LL; j++) ran_u[j + KK - LL] = u[j];
  for (; j < KK; j++) ran_u[j - LL] = u[j];
}

void LaggedFibonacci::srnd(std::uint32_t seed) {
  // Seeds are unsigned 32-bit values but the start routine takes a signed
  // one. Values from 2^31 upwards are reduced into range by clearing the top
  // bit, so seed 0x80000005 selects the same stream as seed 5; seeds below
  // 2^31 pass through unchanged.
  ranf_start(static_cast<int>(seed & 0x7fffffffu));
  ranf_array(buffer, KK);
  ranf_array(buffer, KK);
}

void LaggedFibonacci::restart(std::uint64_t key) {
  const double ulp = (1.0 / (1L << 30)) / (1L << 22);  // 2^-52
  bool odd = false;
  for (int j = 0; j < KK; j++) {
    key += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = key;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    const std::uint64_t bits = z >> 12;  // 52 bits: a multiple of 2^-52 in [0, 1)
    odd = odd || (bits & 1) != 0;
    ran_u[j] = static_cast<double>(bits) * ulp;
  }
  // The lowest bits follow the recurrence mod 2 on their own: at least one
  // must be set, or the period collapses (as the start routine ensures).
  if (!odd) ran_u[1] += ulp;
  ranf_array(buffer, KK);
  ranf_array(buffer, KK);
  k = 0;
}

double LaggedFibonacci::rnd() {
  if (k == KK) {
    k = 0;
    ranf_array(buffer, KK);
  }
  return buffer[k++];
}
