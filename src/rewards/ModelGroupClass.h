// ModelGroupClass: the model instances one reward worker is bound to, one per
// model dependency of its node.
#ifndef TARVEX_REWARDS_MODELGROUPCLASS_H
#define TARVEX_REWARDS_MODELGROUPCLASS_H

#include <vector>

class BaseModelClass;

class ModelGroupClass {
 public:
  void CreateModelList(int n) { Models.assign(n > 0 ? n : 0, nullptr); }
  void SetModel(int j, BaseModelClass* model) { Models[j] = model; }
  BaseModelClass* GetModel(int j) const { return Models[j]; }
  int GetNumModels() const { return static_cast<int>(Models.size()); }
  bool IsDependentOnModel(const BaseModelClass* model) const {
    for (BaseModelClass* m : Models)
      if (m == model) return true;
    return false;
  }

 private:
  std::vector<BaseModelClass*> Models;
};

#endif
