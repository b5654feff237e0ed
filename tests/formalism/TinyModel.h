// A two-decision model for tests of the formalism: "grab" (feasible while
// `door` is open; reaches the goal) and "wait" (feasible while `patience` is
// above 0; sets `idle`). Its steps count every step operation they are asked.
#ifndef TARVEX_TESTS_FORMALISM_TINYMODEL_H
#define TARVEX_TESTS_FORMALISM_TINYMODEL_H

#include "formalism/KORVELModel.h"
#include "formalism/Knowledge.h"
#include "formalism/StepChosen.h"
#include "formalism/StepWeight.h"

class TinyStep : public Step {
 public:
  TinyStep(const char* name, KORVELStateVariable* guard, KORVELStateVariable* target, double cost)
      : guard(guard), target(target), cost(cost) {
    commonInit(name, 0, DeterministicDistribution, DefaultExecutionPolicy, 0, 0, false);
  }
  bool Enabled() override {
    wasEnabled = enabled;
    return enabled = chosenSV->getMark() > 0;
  }
  bool preconditionsMet() override { return ++calls, guard->getMark() > 0; }
  void executeEffects() override {
    ++calls;
    target->setMark(1);
    if (chosenAfterEffects >= 0) chosenSV->setMark(chosenAfterEffects);
  }
  double getCost() override { return ++calls, cost; }
  double getOutcomeProbability() override { return ++calls, 1.0; }
  double getDetection() override { return ++calls, 0.0; }
  void LinkVariables() override {}

  KORVELStateVariable* guard;
  KORVELStateVariable* target;
  double cost;
  short chosenAfterEffects = -1;
  inline static int calls = 0;
};

class TinyModel : public KORVELModel {
 public:
  TinyModel() {
    goal->payoff = 100.0;
    beginAdversaryDecision = begin;
    KORVELStateVariable* svs[] = {door, patience, goal, idle, grabChosen, waitChosen,
                                  grabWeight, waitWeight, begin};
    BaseKORVELAction* actions[] = {&grab, &wait};
    BaseGroupClass* groups[] = {&grab, &wait};
    int stepsPerDecision[] = {1, 1};
    Step* steps[] = {&grab, &wait};
    commonInit("tiny", 9, svs, 2, actions, 2, groups, 2, stepsPerDecision, steps, 1, &goal);
    grab.model = wait.model = this;
    grab.chosenSV = grabChosen;
    grab.weightSV = grabWeight;
    wait.chosenSV = waitChosen;
    wait.weightSV = waitWeight;
    AddAffectArc(goal, &grab);
    AddEnableArc(grabChosen, &grab);
    AddEnableArc(door, &grab);
    costWeight = detectionWeight = payoffWeight = 1.0;
  }
  // Linear utilities, 1 at the favourable end.
  double convertCostToUtility(double x) override { return 1.0 - x / 100.0; }
  double convertPayoffToUtility(double x) override { return x / 100.0; }
  double convertDetectionToUtility(double x) override { return 1.0 - x; }

  // Deleted by the model base.
  Knowledge* door = new Knowledge("door", 1);
  Knowledge* patience = new Knowledge("patience", 0);
  Goal* goal = new Goal("goal", 0);
  Knowledge* idle = new Knowledge("idle", 0);
  StepChosen* grabChosen = new StepChosen("grabChosen", 0);
  StepChosen* waitChosen = new StepChosen("waitChosen", 0);
  StepWeight* grabWeight = new StepWeight("grabWeight", 0);
  StepWeight* waitWeight = new StepWeight("waitWeight", 0);
  BeginAdversaryDecision* begin = new BeginAdversaryDecision("begin", 0);
  TinyStep grab{"grab", door, goal, 10.0};
  TinyStep wait{"wait", patience, idle, 0.0};
};

#endif
