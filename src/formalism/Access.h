// Access: an access the adversary holds (0/1 in practice).
#ifndef TARVEX_FORMALISM_ACCESS_H
#define TARVEX_FORMALISM_ACCESS_H

#include "formalism/KORVELStateVariable.h"

class Access : public KORVELStateVariable {
 public:
  using KORVELStateVariable::KORVELStateVariable;
  Access() = default;
};

#endif
