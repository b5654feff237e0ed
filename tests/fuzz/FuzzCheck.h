// What the fuzz targets share: a check that stops the run with its own
// condition and place (libFuzzer then keeps the input that broke it).
#ifndef TARVEX_TESTS_FUZZ_FUZZCHECK_H
#define TARVEX_TESTS_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

#endif
