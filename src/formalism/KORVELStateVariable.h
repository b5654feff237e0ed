// KORVELStateVariable: the small-integer state variable of the
// attack-decision formalism. All formalism code reads and writes the value
// through `mark`, a registered pointer that follows the variable into any
// sharing group.
#ifndef TARVEX_FORMALISM_KORVELSTATEVARIABLE_H
#define TARVEX_FORMALISM_KORVELSTATEVARIABLE_H

#include <cstring>

#include "state/SharableSV.h"

class KORVELStateVariable : public SharableSV<short> {
 public:
  KORVELStateVariable() : KORVELStateVariable("default", 0) {}
  explicit KORVELStateVariable(const char* name) : KORVELStateVariable(name, 0) {}
  KORVELStateVariable(const char* name, short value) {
    SetName(name);
    registerPointer(&mark);
    *mark = value;
  }

  // The image of a formalism variable is its 2-byte value; final, so that
  // the model copies its state image without virtual calls.
  int StateSize() final { return sizeof(short); }
  void SetState(void* from) final { std::memcpy(Value, from, sizeof(short)); }
  void CurrentState(void* to) final { std::memcpy(to, Value, sizeof(short)); }

  short getMark() const { return *mark; }
  void setMark(short v) { *mark = v; }

 protected:
  short* mark = nullptr;
};

#endif
