// BaseStructStateVariable: a state variable made of an ordered list of field
// variables (scalars or nested structured variables), for record- and
// array-like state. It presents itself as the concatenation of its fields:
// registering it with an action registers its leaves, saving it saves its
// fields in order, and sharing two structured variables shares them field by
// field. The field variables belong to the deriving class, not to this one.
#ifndef TARVEX_STATE_STRUCTSTATEVARIABLE_H
#define TARVEX_STATE_STRUCTSTATEVARIABLE_H

#include <utility>
#include <vector>

#include "state/BaseStateVariableClass.h"

// Kind of a field; it fixes the field's size in the state buffer. Kinds 0 to
// 4 are scalars of a fixed size; any other kind is a nested variable whose
// size is its own StateSize().
enum ArrayType : int {
  ShortField = 0,   // 2 bytes
  IntField = 1,     // 4 bytes
  CharField = 2,    // 1 byte
  DoubleField = 3,  // 8 bytes
  FloatField = 4,   // 4 bytes
  StructField = 5,  // nested variable
};

class BaseStructStateVariable : public BaseStateVariableClass {
 public:
  // One field: its variable (supplied by the deriving class) and its kind.
  using Field = std::pair<BaseStateVariableClass*, ArrayType>;

  BaseStructStateVariable();
  BaseStructStateVariable(const char* name, const char* prefix);
  BaseStructStateVariable(const char* name, const char* prefix, const ArrayType* kinds, int n);

  ~BaseStructStateVariable() override;
  int StateSize() override;
  void SetState(void* from) override;
  void CurrentState(void* to) override;
  void printState(std::ostream* os) override;
  using BaseStateVariableClass::printState;
  void share(BaseStateVariableClass* other) override;
  void appendAffectingAction(BaseActionClass* a) override;
  void addSelfAsEnablingSVToAction(BaseActionClass* a) override;
  void addSelfAsAffectedSVToAction(BaseActionClass* a) override;
  void removeSelfFromEnablingSVOfAction(BaseActionClass* a) override;
  void removeSelfFromAffectedSVOfAction(BaseActionClass* a) override;
  List<BaseStateVariableClass>* getLeafNodes() override;
  int getNumLeafNodes() override;
  bool isLeafNode() override;
  void appendEnabledAction(BaseActionClass* a) override;
  // Shares this variable with another structured variable field by field,
  // then merges the two variables' own action lists into this one's.
  virtual void ShareWith(BaseStructStateVariable* other);
  // The record stored for a field of the given kind.
  virtual Field field(ArrayType kind, BaseStateVariableClass* variable) const;

  // Appends one field record per kind, in order; the variables are set by
  // the deriving class (setField) before the state is used.
  void makeArrays(const ArrayType* kinds, int n);

  int getSize() const { return static_cast<int>(fields.size()); }
  ArrayType getType(int i) const { return fields[i].second; }
  BaseStateVariableClass* getField(int i) const { return fields[i].first; }
  void setField(int i, BaseStateVariableClass* variable) { fields[i].first = variable; }

  // Bytes a field of the given kind takes in the state buffer.
  static int kindSize(ArrayType kind, BaseStateVariableClass* variable);

 protected:
  // Size of the state image; -1 while not yet computed.
  int cachedSize;
  std::vector<Field> fields;

 private:
  // The variable of field i; a field without one cannot be used.
  BaseStateVariableClass* fieldVariable(int i) const;
};

#endif
