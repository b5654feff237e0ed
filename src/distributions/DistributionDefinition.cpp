#include "distributions/DistributionDefinition.h"

UserDistributions TheGenerator(0, 31415);

// The address of a namespace-scope object is a constant expression, so this
// pointer is set before any dynamic initialisation runs.
UserDistributions* TheDistribution = &TheGenerator;
