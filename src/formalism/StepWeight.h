// StepWeight: one per decision: 1 for the decision the look-ahead chose, else 0; read as the decision action's weight.
#ifndef TARVEX_FORMALISM_STEPWEIGHT_H
#define TARVEX_FORMALISM_STEPWEIGHT_H

#include "formalism/KORVELStateVariable.h"

class StepWeight : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  StepWeight() = default;
};

#endif
