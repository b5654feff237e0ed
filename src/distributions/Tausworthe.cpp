#include "distributions/Tausworthe.h"

void Tausworthe::srnd(std::uint32_t seed) { state = seed; }

double Tausworthe::rnd() {
  const std::uint32_t t = ((state << 13) ^ state) & 0x7fffffffu;
  state = (t >> 18) ^ t;
  // 1 / (2^31 - 1): the largest state maps to 1.0, so 1.0 itself can occur.
  return state * 4.656612875245797e-10;
}
