#include "state/StructStateVariable.h"

#include <cstdlib>
#include <iostream>

#include "base/BaseActionClass.h"
#include "base/StandardErrors.h"

namespace {

// A field that cannot be sized or used: report it and end the run rather
// than go on into the faulty operation.
[[noreturn]] void invalidField() {
  InvalidStructType();
  std::cout.flush();
  std::exit(1);
}

}  // namespace

BaseStructStateVariable::BaseStructStateVariable() : cachedSize(0) {}

BaseStructStateVariable::BaseStructStateVariable(const char* name, const char* prefix)
    : BaseStateVariableClass(name, prefix), cachedSize(-1) {}

BaseStructStateVariable::BaseStructStateVariable(const char* name, const char* prefix,
                                                 const ArrayType* kinds, int n)
    : BaseStateVariableClass(name, prefix), cachedSize(-1) {
  makeArrays(kinds, n);
}

BaseStructStateVariable::~BaseStructStateVariable() = default;

BaseStructStateVariable::Field BaseStructStateVariable::field(ArrayType kind,
                                                              BaseStateVariableClass* variable) const {
  return Field(variable, kind);
}

void BaseStructStateVariable::makeArrays(const ArrayType* kinds, int n) {
  for (int i = 0; i < n; i++) fields.push_back(field(kinds[i], nullptr));
  cachedSize = -1;
}

int BaseStructStateVariable::kindSize(ArrayType kind, BaseStateVariableClass* variable) {
  switch (kind) {
    case ShortField: return 2;
    case IntField: return 4;
    case CharField: return 1;
    case DoubleField: return 8;
    case FloatField: return 4;
    default:
      if (!variable) invalidField();
      return variable->StateSize();
  }
}

BaseStateVariableClass* BaseStructStateVariable::fieldVariable(int i) const {
  BaseStateVariableClass* v = fields[i].first;
  if (!v) invalidField();
  return v;
}

int BaseStructStateVariable::StateSize() {
  if (cachedSize >= 0) return cachedSize;
  int size = 0;
  for (const Field& f : fields) size += kindSize(f.second, f.first);
  cachedSize = size;
  return size;
}

void BaseStructStateVariable::SetState(void* from) {
  char* p = static_cast<char*>(from);
  for (int i = 0; i < getSize(); i++) {
    fieldVariable(i)->SetState(p);
    p += kindSize(fields[i].second, fields[i].first);
  }
}

void BaseStructStateVariable::CurrentState(void* to) {
  char* p = static_cast<char*>(to);
  for (int i = 0; i < getSize(); i++) {
    fieldVariable(i)->CurrentState(p);
    p += kindSize(fields[i].second, fields[i].first);
  }
}

void BaseStructStateVariable::printState(std::ostream* os) {
  *os << Name << " = {" << std::endl;
  for (int i = 0; i < getSize(); i++) {
    *os << ".";
    fieldVariable(i)->printState(os);
  }
  *os << "}" << std::endl;
}

bool BaseStructStateVariable::isLeafNode() { return fields.empty(); }

int BaseStructStateVariable::getNumLeafNodes() {
  int n = 0;
  for (int i = 0; i < getSize(); i++) n += fieldVariable(i)->getNumLeafNodes();
  return n == 0 ? 1 : n;
}

List<BaseStateVariableClass>* BaseStructStateVariable::getLeafNodes() {
  auto* leaves = new List<BaseStateVariableClass>(10);
  for (int i = 0; i < getSize(); i++) {
    List<BaseStateVariableClass>* childTemp = fieldVariable(i)->getLeafNodes();
    TARVEX_ASSERT(childTemp);
    leaves->append(childTemp);
    delete childTemp;
  }
  return leaves;
}

void BaseStructStateVariable::addSelfAsEnablingSVToAction(BaseActionClass* a) {
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->addSelfAsEnablingSVToAction(a);
}

void BaseStructStateVariable::addSelfAsAffectedSVToAction(BaseActionClass* a) {
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->addSelfAsAffectedSVToAction(a);
}

void BaseStructStateVariable::removeSelfFromEnablingSVOfAction(BaseActionClass* a) {
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->removeSelfFromEnablingSVOfAction(a);
}

void BaseStructStateVariable::removeSelfFromAffectedSVOfAction(BaseActionClass* a) {
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->removeSelfFromAffectedSVOfAction(a);
}

void BaseStructStateVariable::appendEnabledAction(BaseActionClass* a) {
  BaseStateVariableClass::appendEnabledAction(a);
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->appendEnabledAction(a);
}

void BaseStructStateVariable::appendAffectingAction(BaseActionClass* a) {
  for (int i = 0; i < getSize(); i++) fieldVariable(i)->appendAffectingAction(a);
  BaseStateVariableClass::appendAffectingAction(a);
}

void BaseStructStateVariable::share(BaseStateVariableClass* other) {
  auto* otherStruct = dynamic_cast<BaseStructStateVariable*>(other);
  TARVEX_ASSERT(otherStruct);
  ShareWith(otherStruct);
}

void BaseStructStateVariable::ShareWith(BaseStructStateVariable* otherStruct) {
  TARVEX_ASSERT(otherStruct);
  if (otherStruct == this) return;

  // 1. The fields, position by position.
  auto otheri = otherStruct->fields.begin();
  for (int i = 0; i < getSize(); i++, ++otheri) {
    TARVEX_ASSERT(otheri!=otherStruct->fields.end());
    BaseStateVariableClass* mine = fieldVariable(i);
    BaseStateVariableClass* theirs = otheri->first;
    if (!theirs) invalidField();
    mine->share(theirs);
  }

  // 2. The other variable's own action lists join this one's.
  SVAffectingActions->append(otherStruct->SVAffectingActions);
  SVEnabledActions->append(otherStruct->SVEnabledActions);
  if (otherStruct->SVAffectingActions != SVAffectingActions && otherStruct->Stored)
    delete otherStruct->SVAffectingActions;
  if (otherStruct->SVEnabledActions != SVEnabledActions && otherStruct->Stored)
    delete otherStruct->SVEnabledActions;
  otherStruct->SVAffectingActions = SVAffectingActions;
  otherStruct->SVEnabledActions = SVEnabledActions;
  otherStruct->Shared = true;
  otherStruct->Stored = false;
  LayoutVersion++;

  // 3. Actions that listed the other variable now list this one.
  for (BaseActionClass* a : *SVAffectingActions) a->AffectedSVs.replaceItem(otherStruct, this);
  for (BaseActionClass* a : *SVEnabledActions) a->EnablingSVs.replaceItem(otherStruct, this);
}
