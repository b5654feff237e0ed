// BaseStateVariableClass: the base of every state variable of a model.
//
// Besides its name, a variable keeps the two lists from which the driver
// derives action connectivity: the actions that change it (affecting actions)
// and the actions whose enabling reads it (enabled actions). Variables merged
// into a sharing group use the lists of the group's head, which owns them.
#ifndef TARVEX_STATE_BASESTATEVARIABLECLASS_H
#define TARVEX_STATE_BASESTATEVARIABLECLASS_H

#include <iosfwd>
#include <string>

#include "base/List.h"

class BaseActionClass;

class BaseStateVariableClass {
 public:
  BaseStateVariableClass();
  BaseStateVariableClass(const char* name, const char* prefix);
  BaseStateVariableClass(const BaseStateVariableClass&) = delete;
  BaseStateVariableClass& operator=(const BaseStateVariableClass&) = delete;

  virtual ~BaseStateVariableClass();
  virtual int StateSize() = 0;
  virtual void SetState(void* from) = 0;
  virtual void CurrentState(void* to) = 0;
  virtual void printState(std::ostream* os);
  virtual void printState();
  virtual void printStateVal(std::ostream* os);
  virtual void share(BaseStateVariableClass* other) = 0;
  virtual void appendAffectingAction(BaseActionClass* a);
  virtual void removeAffectingAction(BaseActionClass* a);
  virtual void replaceAffectingAction(BaseActionClass* oldAction, BaseActionClass* newAction);
  virtual void addSelfAsEnablingSVToAction(BaseActionClass* a);
  virtual void addSelfAsAffectedSVToAction(BaseActionClass* a);
  virtual void removeSelfFromEnablingSVOfAction(BaseActionClass* a);
  virtual void removeSelfFromAffectedSVOfAction(BaseActionClass* a);
  // A new list holding the variable's leaves; the caller owns it.
  virtual List<BaseStateVariableClass>* getLeafNodes();
  virtual int getNumLeafNodes();
  virtual bool isLeafNode();
  virtual void appendEnabledAction(BaseActionClass* a);
  virtual void removeEnabledAction(BaseActionClass* a);
  virtual void replaceEnabledAction(BaseActionClass* oldAction, BaseActionClass* newAction);

  const char* SetName(const char* name);
  const char* SetPrefix(const char* prefix);
  const char* getName() const { return Name.c_str(); }
  const char* getPrefix() const { return Prefix.c_str(); }
  // The prefix, "." and the name, or the name alone without a prefix.
  std::string getFullName() const;

  bool getShared() const { return Shared; }
  void setShared(bool v) {
    Shared = v;
    LayoutVersion++;
  }
  bool getStored() const { return Stored; }
  void setStored(bool v) {
    Stored = v;
    LayoutVersion++;
  }
  // Changes whenever any variable's sharing (and so where its value lives
  // and whether it is part of its model's state image) may have changed;
  // models that cache their image layout compare it.
  static unsigned LayoutVersion;
  bool getFunctionallyShared() const { return FunctionallyShared; }
  void setFunctionallyShared(bool v) { FunctionallyShared = v; }
  int getSharingCount() const { return SharingCount; }

  List<BaseActionClass>* getAffectingActions() const { return SVAffectingActions; }
  List<BaseActionClass>* getEnabledActions() const { return SVEnabledActions; }
  // Replace the list pointers without releasing the old lists.
  void setAffectingActions(List<BaseActionClass>* l) { SVAffectingActions = l; }
  void setEnabledActions(List<BaseActionClass>* l) { SVEnabledActions = l; }
  void copyAffectingActions(List<BaseActionClass>* l);
  void copyEnabledActions(List<BaseActionClass>* l);
  int getNumAffectingActions() const { return SVAffectingActions->getNumItems(); }
  int getNumEnabledActions() const { return SVEnabledActions->getNumItems(); }
  BaseActionClass* getAffectingAction(int i) const;
  BaseActionClass* getEnabledAction(int i) const;
  void printAffectingActions() const;
  void printEnabledActions() const;

 protected:
  std::string Name = "default";
  std::string Prefix;
  bool Shared = false;
  bool Stored = true;
  bool FunctionallyShared = false;
  int SharingCount = 0;
  List<BaseActionClass>* SVAffectingActions;
  List<BaseActionClass>* SVEnabledActions;
};

#endif
