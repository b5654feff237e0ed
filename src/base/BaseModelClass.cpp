#include "base/BaseModelClass.h"

#include <iostream>

#include "base/BaseActionClass.h"
#include "base/StandardErrors.h"
#include "state/BaseStateVariableClass.h"

int BaseModelClass::globalModelId = 0;

int State::hash() { return 1; }
bool State::compare(const State&) const { return true; }
State::~State() = default;

BaseModelClass::BaseModelClass() {
  ModelId = ++globalModelId;
  ParentId = ModelId;
}

BaseModelClass::~BaseModelClass() = default;

int BaseModelClass::getNumStateVariables() { return NumStateVariables; }
void BaseModelClass::printState(std::ostream*) {}
void BaseModelClass::printState() { printState(&std::cout); }
BaseStateVariableClass** BaseModelClass::GetLocalStateVariables(std::ostream*) { return nullptr; }
BaseStateVariableClass** BaseModelClass::GetSharedStateVariables() { return nullptr; }
BaseStateVariableClass* BaseModelClass::getMainSharedVariable(BaseStateVariableClass*) {
  return nullptr;
}
List<BaseStateVariableClass>* BaseModelClass::getListOfSharedVariables(BaseStateVariableClass*) {
  return nullptr;
}

void BaseModelClass::AddAffectArc(BaseStateVariableClass* sv, BaseActionClass* a) {
  sv->appendAffectingAction(a);
  a->addAffectedSV(sv);
}

void BaseModelClass::AddEnableArc(BaseStateVariableClass* sv, BaseActionClass* a) {
  sv->appendEnabledAction(a);
  a->addEnablingSV(sv);
}

// Operations that every model used in these roles must override.
int BaseModelClass::GetModelType() { TARVEX_ASSERT(false); }
int BaseModelClass::GetNumberOfChildren() { TARVEX_ASSERT(false); }
BaseModelClass* BaseModelClass::GetChild(int) { TARVEX_ASSERT(false); }
void BaseModelClass::GetLocalActions(slist&) { TARVEX_ASSERT(false); }
void BaseModelClass::GetGlobalActions(slist&) { TARVEX_ASSERT(false); }
bool BaseModelClass::HasLocalState() { TARVEX_ASSERT(false); }
void BaseModelClass::GetLocalState(State*) { TARVEX_ASSERT(false); }
void BaseModelClass::SetLocalState(const State*) { TARVEX_ASSERT(false); }
void BaseModelClass::ConstructLocalState(State*&) { TARVEX_ASSERT(false); }
void BaseModelClass::DestructLocalState(State*) { TARVEX_ASSERT(false); }

const char* BaseModelClass::DefineName(const char* name) {
  Name = name ? name : "";
  HasName = name != nullptr;
  return Name.c_str();
}
