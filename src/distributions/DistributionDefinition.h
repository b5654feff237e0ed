// The process-wide variate sampler and the pointer through which every
// sampler call and raw uniform draw of the system goes.
#ifndef TARVEX_DISTRIBUTIONS_DISTRIBUTIONDEFINITION_H
#define TARVEX_DISTRIBUTIONS_DISTRIBUTIONDEFINITION_H

#include "distributions/UserDistributions.h"

// Built before main as UserDistributions(0, 31415): a lagged-Fibonacci
// generator seeded with 31415. Destroyed at program exit.
extern UserDistributions TheGenerator;

// Points at TheGenerator from static initialisation on (constant-initialised,
// so it is valid even inside other static constructors).
extern UserDistributions* TheDistribution;

#endif
