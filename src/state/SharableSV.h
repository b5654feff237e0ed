// SharableSV<T>: a scalar state variable whose value lives in separately
// allocated storage, so that variables of different submodels can be merged
// into one shared variable. Every pointer that caches the value is registered
// with the variable; when the variable joins a sharing group all registered
// pointers are redirected to the storage of the group's head, and all members
// use the head's action lists.
#ifndef TARVEX_STATE_SHARABLESV_H
#define TARVEX_STATE_SHARABLESV_H

#include <cstring>
#include <forward_list>
#include <iostream>

#include "base/BaseActionClass.h"
#include "base/StandardErrors.h"
#include "state/BaseStateVariableClass.h"

template <class T>
class SharableSV : public BaseStateVariableClass {
 public:
  // One registered pointer to the group's storage; owner is the registering
  // variable, or null for a pointer that is only a cached copy.
  struct Registration {
    T** address;
    BaseStateVariableClass* owner;
  };

  SharableSV() { init(); }
  SharableSV(const char* name, const char* prefix) : BaseStateVariableClass(name, prefix) { init(); }

  ~SharableSV() override {
    if (Stored && ownsValue_) delete Value;
  }

  int StateSize() override { return sizeof(T); }
  void SetState(void* from) override { std::memcpy(Value, from, sizeof(T)); }
  void CurrentState(void* to) override { std::memcpy(to, Value, sizeof(T)); }

  void printState(std::ostream* os) override {
    *os << Name << " = " << static_cast<long>(*Value) << std::endl;
  }
  void printStateVal(std::ostream* os) override { *os << static_cast<long>(*Value); }

  // Only the head of a sharing group records affecting actions, once for
  // every owner of the group (all of which use the head's list).
  void appendAffectingAction(BaseActionClass* a) override {
    if (Head != this) return;
    for (const Registration& r : Sharers)
      if (r.owner) r.owner->BaseStateVariableClass::appendAffectingAction(a);
  }

  // Registers another pointer that must always point at the value's storage.
  void registerPointer(T** address) {
    *address = Value;
    SharingCount++;
    Sharers.push_front(Registration{address, nullptr});
  }

  void share(BaseStateVariableClass* other) override;

  // Moves the value into storage that someone else owns and keeps alive
  // longer than this variable (a model keeping its variables' values side by
  // side); every registered pointer follows.
  void RelocateValue(T* place) {
    if (place == Value) return;
    *place = *Value;
    if (ownsValue_) delete Value;
    ownsValue_ = false;
    for (const Registration& r : Sharers) *r.address = place;
    LayoutVersion++;
  }

  SharableSV<T>* getHead() const { return Head; }
  T* getValuePointer() const { return Value; }
  T getValue() const { return *Value; }

 protected:
  T* Value = nullptr;
  std::forward_list<Registration> Sharers;
  SharableSV<T>* Head = nullptr;

 private:
  // Merges the absorbed head's action lists into this head's and lets the
  // absorbed one use them.
  void MergeActionListsOf(SharableSV<T>* absorbed);
  // False once the value lives in storage owned elsewhere.
  bool ownsValue_ = true;

  void init() {
    Value = new T(0);
    Head = this;
    SharingCount += 1;
    Sharers.push_front(Registration{&Value, this});
  }
};

template <class T>
void SharableSV<T>::share(BaseStateVariableClass* other) {
  auto* otherSV = dynamic_cast<SharableSV<T>*>(other);
  TARVEX_ASSERT(otherSV);
  LayoutVersion++;  // values move and sharing flags change

  // Choose the surviving head S and the head A that it absorbs.
  SharableSV<T>* S;
  SharableSV<T>* A;
  if (!Stored && !otherSV->Stored) {
    SharableSV<T>* ht = Head;
    SharableSV<T>* ho = otherSV->Head;
    if (ht->SharingCount <= ho->SharingCount) {
      S = ho;
      A = ht;
    } else {
      S = ht;
      A = ho;
    }
  } else if (Stored && !otherSV->Stored) {
    S = otherSV->Head;
    A = this;
  } else if (Stored && otherSV->Stored) {
    S = this;
    A = otherSV;
    *S->Value = *A->Value;
    S->Shared = true;
  } else {
    S = Head;
    A = otherSV;
  }
  if (S == A) return;  // already one group

  // Absorb A's storage: every pointer registered with A now reads S's value.
  if (A->ownsValue_) delete A->Value;
  A->Value = nullptr;
  A->Head = S;
  for (const Registration& r : A->Sharers) *r.address = S->Value;
  A->Shared = true;
  A->Stored = false;

  // Merge the action lists into S's and let A use them.
  S->MergeActionListsOf(A);

  // Every owner registered with A now uses S's lists and head; A's
  // registrations move to the front of S's.
  for (const Registration& r : A->Sharers) {
    if (!r.owner) continue;
    r.owner->setAffectingActions(S->SVAffectingActions);
    r.owner->setEnabledActions(S->SVEnabledActions);
    if (auto* member = dynamic_cast<SharableSV<T>*>(r.owner)) member->Head = S;
  }
  S->Sharers.splice_after(S->Sharers.before_begin(), A->Sharers);
  S->SharingCount += A->SharingCount;

  // Actions that listed the absorbed variable now list this variable's head.
  SharableSV<T>* head = Head;
  for (BaseActionClass* a : *otherSV->SVAffectingActions)
    a->AffectedSVs.replaceItem(otherSV, head);
  for (BaseActionClass* a : *otherSV->SVEnabledActions) a->EnablingSVs.replaceItem(otherSV, head);
}

template <class T>
void SharableSV<T>::MergeActionListsOf(SharableSV<T>* absorbed) {
  TARVEX_ASSERT(SVAffectingActions);
  TARVEX_ASSERT(SVEnabledActions);
  // The absorbed head has at least its own registration.
  TARVEX_ASSERT_NAMED(!absorbed->Sharers.empty(), "TheOtherPointer->getHead()");
  SVAffectingActions->append(absorbed->SVAffectingActions);
  SVEnabledActions->append(absorbed->SVEnabledActions);
  if (absorbed->SVAffectingActions != SVAffectingActions) delete absorbed->SVAffectingActions;
  if (absorbed->SVEnabledActions != SVEnabledActions) delete absorbed->SVEnabledActions;
  absorbed->SVAffectingActions = SVAffectingActions;
  absorbed->SVEnabledActions = SVEnabledActions;
}

#endif
