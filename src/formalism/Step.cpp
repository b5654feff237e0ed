#include "formalism/Step.h"

#include "formalism/KORVELModel.h"
#include "formalism/StepChosen.h"

BaseActionClass* Step::Fire() {
  executeEffects();
  chosenSV->setMark(0);
  model->StepFired(this);
  model->recalculateAdversaryDecisionWeights();
  return this;
}
