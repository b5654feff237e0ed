// BeginAdversaryDecision: set to 1 when the adversary must take a decision; it enables every decision action.
#ifndef TARVEX_FORMALISM_BEGINADVERSARYDECISION_H
#define TARVEX_FORMALISM_BEGINADVERSARYDECISION_H

#include "formalism/KORVELStateVariable.h"

class BeginAdversaryDecision : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  BeginAdversaryDecision() = default;
};

#endif
