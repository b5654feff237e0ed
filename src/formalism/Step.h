// Step: one probabilistic outcome of an adversary decision, with a delay, a
// cost, a detection probability and an outcome probability. Firing a step
// applies its effects, completes its decision and makes the next decision.
#ifndef TARVEX_FORMALISM_STEP_H
#define TARVEX_FORMALISM_STEP_H

#include "formalism/BaseKORVELAction.h"

class StepWeight;
class StepChosen;

class Step : public BaseKORVELAction {
 public:
  Step() = default;

  BaseActionClass* Fire() override;

  // Whether the decision of this step may be taken in the current state
  // (asked of a decision's first step only).
  virtual bool preconditionsMet() = 0;
  virtual void executeEffects() = 0;
  // Cost of taking the decision (asked of a decision's first step only).
  virtual double getCost() = 0;
  virtual double getOutcomeProbability() = 0;
  virtual double getDetection() = 0;

  StepWeight* weightSV = nullptr;
  StepChosen* chosenSV = nullptr;
  int decisionIndex = 0;
};

#endif
