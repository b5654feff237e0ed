// Skill: a skill level of the adversary.
#ifndef TARVEX_FORMALISM_SKILL_H
#define TARVEX_FORMALISM_SKILL_H

#include "formalism/KORVELStateVariable.h"

class Skill : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  Skill() = default;
};

#endif
