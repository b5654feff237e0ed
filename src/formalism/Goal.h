// Goal: an attack goal of the adversary; value 1 means achieved. The payoff
// is what reaching the goal is worth to the adversary.
#ifndef TARVEX_FORMALISM_GOAL_H
#define TARVEX_FORMALISM_GOAL_H

#include "formalism/KORVELStateVariable.h"

class Goal : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  Goal() = default;

  double payoff = 0.0;
};

#endif
