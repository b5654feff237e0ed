// BaseModelClass: the interface through which the driver and the reward model
// enumerate a model's actions, groups and state variables and save or restore
// its state as a flat byte image. State is the abstract saved local state of
// a model, used where a state must be remembered, restored or compared.
#ifndef TARVEX_BASE_BASEMODELCLASS_H
#define TARVEX_BASE_BASEMODELCLASS_H

#include <cstdio>
#include <forward_list>
#include <iosfwd>
#include <string>

#include "base/List.h"

class BaseActionClass;
class BaseGroupClass;
class BaseStateVariableClass;
class BaseModelClass;

// A singly linked list of action pointers.
using slist = std::forward_list<BaseActionClass*>;

class State {
 public:
  virtual int hash();
  virtual bool compare(const State& other) const;
  virtual void print() = 0;
  virtual bool fwriteState(FILE* f) = 0;
  virtual bool freadState(FILE* f) = 0;
  virtual State& operator=(const State& other) = 0;
  virtual ~State();
  virtual void SetState(const BaseModelClass* model) = 0;
  virtual void GetState(const BaseModelClass* model) = 0;
};

class BaseModelClass {
 public:
  // Process-wide model counter; the first model gets id 1. A simulator
  // restarts it before building its models.
  static int globalModelId;

  BaseModelClass();
  BaseModelClass(const BaseModelClass&) = delete;
  BaseModelClass& operator=(const BaseModelClass&) = delete;

  virtual ~BaseModelClass();
  virtual int getNumStateVariables();
  virtual void listModels(const char* name, List<BaseModelClass>* out) = 0;
  virtual void CurrentState(void* buffer) = 0;
  virtual void listActions(List<BaseActionClass>* out) = 0;
  virtual void listGroups(List<BaseGroupClass>* out) = 0;
  virtual void SetState(void* buffer) = 0;
  virtual int StateSize() = 0;
  virtual bool CompareState(void* a, void* b) = 0;
  virtual void listActions(const char* name, List<BaseActionClass>* out) = 0;
  virtual void listSVs(const char* modelName, const char* svName, List<BaseStateVariableClass>* out,
                       List<BaseModelClass>* models) = 0;
  virtual void printState(std::ostream* os);
  virtual void printState();
  virtual BaseStateVariableClass** GetLocalStateVariables(std::ostream* os);
  virtual BaseStateVariableClass** GetSharedStateVariables();
  virtual BaseStateVariableClass* getMainSharedVariable(BaseStateVariableClass* sv);
  virtual List<BaseStateVariableClass>* getListOfSharedVariables(BaseStateVariableClass* sv);
  virtual void AddAffectArc(BaseStateVariableClass* sv, BaseActionClass* a);
  virtual void AddEnableArc(BaseStateVariableClass* sv, BaseActionClass* a);
  virtual int GetModelType();
  virtual int GetNumberOfChildren();
  virtual BaseModelClass* GetChild(int i);
  virtual void GetLocalActions(slist& out);
  virtual void GetGlobalActions(slist& out);
  virtual bool HasLocalState();
  virtual void GetLocalState(State* s);
  virtual void SetLocalState(const State* s);
  virtual void ConstructLocalState(State*& s);
  virtual void DestructLocalState(State* s);

  const char* DefineName(const char* name);
  const char* getName() const { return HasName ? Name.c_str() : nullptr; }
  void SetParentId(int id) { ParentId = id; }
  int getModelId() const { return ModelId; }
  int getParentId() const { return ParentId; }
  int getNumActions() const { return NumActions; }
  int getNumGroups() const { return NumGroups; }
  BaseActionClass** getActions() const { return Actions; }
  BaseGroupClass** getGroups() const { return Groups; }

 protected:
  int NumStateVariables = 0;
  int NumActions = 0;
  int NumGroups = 0;
  BaseGroupClass** Groups = nullptr;
  std::string Name;
  bool HasName = false;
  int ModelId;
  int ParentId;
  BaseActionClass** Actions = nullptr;
};

#endif
