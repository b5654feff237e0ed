#include "formalism/BaseKORVELAction.h"

BaseKORVELAction::BaseKORVELAction() {
  Disabled = true;
  Reactivation = false;
  SelectedAction = this;
}

BaseKORVELAction::BaseKORVELAction(const char* name, int groupId, Distribution dist,
                                   ExecutionPolicyType policy, int a, int b, bool reactivation)
    : BaseKORVELAction() {
  commonInit(name, groupId, dist, policy, a, b, reactivation);
}

void BaseKORVELAction::commonInit(const char* name, int groupId, Distribution dist,
                                  ExecutionPolicyType policy, int a, int b, bool reactivation) {
  BaseActionClassInitialize(name, groupId, dist, policy, a, b, reactivation);
}

bool BaseKORVELAction::EnablingChange() {
  Enabled();
  return enabled != wasEnabled;
}

bool BaseKORVELAction::IsAnAffectingStateVariable(BaseStateVariableClass* sv) const {
  return AffectedSVs.contains(sv);
}
