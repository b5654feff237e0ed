// VarModelPairClass: a state variable that a reward reads, named with the
// model that holds it.
#ifndef TARVEX_REWARDS_VARMODELPAIRCLASS_H
#define TARVEX_REWARDS_VARMODELPAIRCLASS_H

#include <string>

class VarModelPairClass {
 public:
  void SetPair(const char* svName, const char* modelName) {
    ModelName = modelName ? modelName : "";
    SVName = svName ? svName : "";
  }
  const char* getModelName() const { return ModelName.c_str(); }
  const char* getSVName() const { return SVName.c_str(); }

 private:
  std::string ModelName;
  std::string SVName;
};

#endif
