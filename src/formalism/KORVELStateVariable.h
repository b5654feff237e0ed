// KORVELStateVariable: the small-integer state variable of the
// attack-decision formalism. All formalism code reads and writes the value
// through `mark`, a registered pointer that follows the variable into any
// sharing group.
#ifndef TARVEX_FORMALISM_KORVELSTATEVARIABLE_H
#define TARVEX_FORMALISM_KORVELSTATEVARIABLE_H

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

  short getMark() const { return *mark; }
  void setMark(short v) { *mark = v; }

 protected:
  short* mark = nullptr;
};

#endif
