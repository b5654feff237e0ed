// Knowledge: a piece of knowledge the adversary holds.
#ifndef TARVEX_FORMALISM_KNOWLEDGE_H
#define TARVEX_FORMALISM_KNOWLEDGE_H

#include "formalism/KORVELStateVariable.h"

class Knowledge : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  Knowledge() = default;
};

#endif
