// AdversaryDecision: an instantaneous choice of the adversary; the generated
// decision classes supply all of its behaviour.
#ifndef TARVEX_FORMALISM_ADVERSARYDECISION_H
#define TARVEX_FORMALISM_ADVERSARYDECISION_H

#include "formalism/BaseKORVELAction.h"

class AdversaryDecision : public BaseKORVELAction {
 public:
  AdversaryDecision() = default;
};

#endif
