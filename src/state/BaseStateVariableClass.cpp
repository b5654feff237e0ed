#include "state/BaseStateVariableClass.h"

#include <iostream>

#include "base/BaseActionClass.h"

unsigned BaseStateVariableClass::LayoutVersion = 0;

BaseStateVariableClass::BaseStateVariableClass()
    : SVAffectingActions(new List<BaseActionClass>()), SVEnabledActions(new List<BaseActionClass>()) {}

BaseStateVariableClass::BaseStateVariableClass(const char* name, const char* prefix)
    : BaseStateVariableClass() {
  SetName(name);
  SetPrefix(prefix);
}

BaseStateVariableClass::~BaseStateVariableClass() {
  if (Stored) {
    delete SVAffectingActions;
    delete SVEnabledActions;
  }
}

void BaseStateVariableClass::printState(std::ostream*) {}
void BaseStateVariableClass::printState() { printState(&std::cout); }
void BaseStateVariableClass::printStateVal(std::ostream*) {}

void BaseStateVariableClass::appendAffectingAction(BaseActionClass* a) {
  SVAffectingActions->append(a);
}
void BaseStateVariableClass::removeAffectingAction(BaseActionClass* a) {
  SVAffectingActions->remove(a);
}
void BaseStateVariableClass::replaceAffectingAction(BaseActionClass* oldAction,
                                                    BaseActionClass* newAction) {
  SVAffectingActions->replaceItem(oldAction, newAction);
}
void BaseStateVariableClass::appendEnabledAction(BaseActionClass* a) { SVEnabledActions->append(a); }
void BaseStateVariableClass::removeEnabledAction(BaseActionClass* a) { SVEnabledActions->remove(a); }
void BaseStateVariableClass::replaceEnabledAction(BaseActionClass* oldAction,
                                                  BaseActionClass* newAction) {
  SVEnabledActions->replaceItem(oldAction, newAction);
}

void BaseStateVariableClass::addSelfAsEnablingSVToAction(BaseActionClass* a) {
  a->addEnablingSV(this);
}
void BaseStateVariableClass::addSelfAsAffectedSVToAction(BaseActionClass* a) {
  a->addAffectedSV(this);
}
void BaseStateVariableClass::removeSelfFromEnablingSVOfAction(BaseActionClass* a) {
  a->removeEnablingSV(this);
}
void BaseStateVariableClass::removeSelfFromAffectedSVOfAction(BaseActionClass* a) {
  a->removeAffectedSV(this);
}

List<BaseStateVariableClass>* BaseStateVariableClass::getLeafNodes() {
  auto* leaves = new List<BaseStateVariableClass>();
  leaves->append(this);
  return leaves;
}
int BaseStateVariableClass::getNumLeafNodes() { return 1; }
bool BaseStateVariableClass::isLeafNode() { return true; }

const char* BaseStateVariableClass::SetName(const char* name) {
  Name = name ? name : "";
  return Name.c_str();
}

const char* BaseStateVariableClass::SetPrefix(const char* prefix) {
  Prefix = prefix ? prefix : "";
  return Prefix.c_str();
}

std::string BaseStateVariableClass::getFullName() const {
  return Prefix.empty() ? Name : Prefix + "." + Name;
}

void BaseStateVariableClass::copyAffectingActions(List<BaseActionClass>* l) {
  for (BaseActionClass* a : *l) SVAffectingActions->append(a);
}
void BaseStateVariableClass::copyEnabledActions(List<BaseActionClass>* l) {
  for (BaseActionClass* a : *l) SVEnabledActions->append(a);
}

BaseActionClass* BaseStateVariableClass::getAffectingAction(int i) const {
  if (i < 0 || i >= SVAffectingActions->getNumItems()) {
    std::cerr << "!! BaseStateVariableClass::getAffectingAction(int): "
              << " AffectingAction index out of bounds" << std::endl;
    return nullptr;
  }
  return SVAffectingActions->getItem(i);
}

BaseActionClass* BaseStateVariableClass::getEnabledAction(int i) const {
  if (i < 0 || i >= SVEnabledActions->getNumItems()) {
    std::cerr << "!! BaseStateVariableClass::getEnabledAction(int): "
              << " EnabledAction index out of bounds" << std::endl;
    return nullptr;
  }
  return SVEnabledActions->getItem(i);
}

void BaseStateVariableClass::printAffectingActions() const {
  std::cout << "Affecting actions for " << Name << ":" << std::endl;
  SVAffectingActions->printList();
}

void BaseStateVariableClass::printEnabledActions() const {
  std::cout << "Enabled actions for " << Name << ":" << std::endl;
  SVEnabledActions->printList();
}
