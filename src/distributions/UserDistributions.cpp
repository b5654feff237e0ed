#include "distributions/UserDistributions.h"

#include <cstdint>
#include <new>

#include "distributions/LaggedFibonacci.h"
#include "distributions/Tausworthe.h"

UserDistributions::UserDistributions() {
  setGenerator(requireAllocated(new (std::nothrow) LaggedFibonacci));
}

UserDistributions::UserDistributions(int type, long seed) {
  if (type == 1)
    setGenerator(requireAllocated(new (std::nothrow) Tausworthe));
  else
    setGenerator(requireAllocated(new (std::nothrow) LaggedFibonacci));
  getGenerator()->srnd(static_cast<std::uint32_t>(seed));
}
