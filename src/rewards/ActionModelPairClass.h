// ActionModelPairClass: an action that an impulse reward watches, named with
// the model that holds it.
#ifndef TARVEX_REWARDS_ACTIONMODELPAIRCLASS_H
#define TARVEX_REWARDS_ACTIONMODELPAIRCLASS_H

#include <string>

class ActionModelPairClass {
 public:
  void SetPair(const char* actionName, const char* modelName) {
    ModelName = modelName ? modelName : "";
    ActionName = actionName ? actionName : "";
  }
  const char* getModelName() const { return ModelName.c_str(); }
  const char* getActionName() const { return ActionName.c_str(); }

 private:
  std::string ModelName;
  std::string ActionName;
};

#endif
