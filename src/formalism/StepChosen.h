// StepChosen: one per decision: 1 while that decision's outcome steps are pending; it enables them.
#ifndef TARVEX_FORMALISM_STEPCHOSEN_H
#define TARVEX_FORMALISM_STEPCHOSEN_H

#include "formalism/KORVELStateVariable.h"

class StepChosen : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  StepChosen() = default;
};

#endif
