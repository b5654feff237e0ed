// BaseKORVELAction: the base of the formalism's actions. Every one is a group
// whose selected action is itself, so the driver's group machinery treats
// attack steps and decisions uniformly.
#ifndef TARVEX_FORMALISM_BASEKORVELACTION_H
#define TARVEX_FORMALISM_BASEKORVELACTION_H

#include "base/BaseGroupClass.h"
#include "formalism/EnablingFlag.h"

class KORVELModel;
class BaseStateVariableClass;

class BaseKORVELAction : public BaseGroupClass {
 public:
  BaseKORVELAction();
  BaseKORVELAction(const char* name, int groupId, Distribution dist, ExecutionPolicyType policy,
                   int a, int b, bool reactivation);

  void commonInit(const char* name, int groupId, Distribution dist, ExecutionPolicyType policy,
                  int a, int b, bool reactivation);

  // A formalism action is a leaf: it has no rate and selects itself.
  double Rate() override { return 0.0; }
  BaseActionClass* Fire() override = 0;
  // True exactly when the enabling status changed since the previous
  // evaluation (the evaluation itself refreshes it).
  bool EnablingChange() override;
  double Probability(BaseActionClass* a) override { return a == this ? 1.0 : 0.0; }
  bool SelectAction() override { return Enabled(); }
  void setGroupId(int id) override { GroupID = id; }
  // Points the action's linked value pointers at its variables' storage.
  virtual void LinkVariables() = 0;

  bool IsAnAffectingStateVariable(BaseStateVariableClass* sv) const;

  EnablingFlag enabled;
  EnablingFlag wasEnabled;
  KORVELModel* model = nullptr;
};

#endif
