// EnablingFlag: one of a formalism action's two enabling flags (the result of
// its latest enabling evaluation, and of the one before). It reads and
// assigns as a bool. The value normally lives in the flag itself; a group
// whose members are all formalism actions may move its members' flags into
// arrays of its own, so that it can update all of them with one copy.
#ifndef TARVEX_FORMALISM_ENABLINGFLAG_H
#define TARVEX_FORMALISM_ENABLINGFLAG_H

class EnablingFlag {
 public:
  EnablingFlag() = default;
  EnablingFlag(const EnablingFlag&) = delete;

  operator bool() const { return *place_; }
  EnablingFlag& operator=(bool v) {
    *place_ = v;
    return *this;
  }
  // Assigns the other flag's value (flags are never re-seated by assignment).
  EnablingFlag& operator=(const EnablingFlag& other) {
    *place_ = *other.place_;
    return *this;
  }

  // Moves the value to `place`, which must outlive every later use.
  void MoveTo(bool* place) {
    *place = *place_;
    place_ = place;
  }

 private:
  bool own_ = false;
  bool* place_ = &own_;
};

#endif
