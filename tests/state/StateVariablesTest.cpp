// Sharable scalar state variables and structured state variables.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/BaseActionClass.h"
#include "state/SharableSV.h"
#include "state/StructStateVariable.h"

namespace {

using Short = SharableSV<short>;

short valueOf(BaseStateVariableClass* sv) {
  short v = 0;
  sv->CurrentState(&v);
  return v;
}
void set(BaseStateVariableClass* sv, short v) { sv->SetState(&v); }

template <class T>
std::vector<T*> items(const List<T>& l) {
  return std::vector<T*>(l.begin(), l.end());
}
using Actions = std::vector<BaseActionClass*>;
using SVs = std::vector<BaseStateVariableClass*>;

// Registers sv as affecting / enabling a, as a model does.
void affects(BaseStateVariableClass* sv, BaseActionClass* a) {
  sv->appendAffectingAction(a);
  a->addAffectedSV(sv);
}
void enables(BaseStateVariableClass* sv, BaseActionClass* a) {
  sv->appendEnabledAction(a);
  a->addEnablingSV(sv);
}
}  // namespace

TEST(SharableSV, SharingMergesValueAndActionLists) {
  Short x("x", ""), y("y", "");
  set(&x, 3);
  set(&y, 9);
  BaseActionClass ax, ay, e1, e2;
  affects(&x, &ax);
  affects(&y, &ay);
  enables(&y, &e1);
  enables(&x, &e2);

  x.share(&y);
  EXPECT_EQ(valueOf(&x), 9);
  EXPECT_EQ(valueOf(&y), 9);
  set(&x, 6);
  EXPECT_EQ(valueOf(&y), 6);
  EXPECT_EQ(y.getHead(), &x);
  EXPECT_FALSE(y.getStored());

  // One merged list per kind, reachable from both; the actions now list the
  // head instead of the absorbed variable.
  EXPECT_EQ(x.getAffectingActions(), y.getAffectingActions());
  EXPECT_EQ(items(*x.getAffectingActions()), (Actions{&ax, &ay}));
  EXPECT_EQ(items(*y.getEnabledActions()), (Actions{&e2, &e1}));
  EXPECT_EQ(items(ay.AffectedSVs), (SVs{&x}));
  EXPECT_EQ(items(e1.EnablingSVs), (SVs{&x}));
}

TEST(StructStateVariable, SizesOffsetsAndLeaves) {
  const ArrayType kinds[] = {ShortField, DoubleField, CharField};
  BaseStructStateVariable s("rec", "", kinds, 3);
  SharableSV<short> a("a", "");
  SharableSV<double> b("b", "");
  SharableSV<char> c("c", "");
  s.setField(0, &a);
  s.setField(1, &b);
  s.setField(2, &c);
  EXPECT_EQ(s.StateSize(), 11);
  short av = -2;
  double bv = 2.5;
  char cv = 'z';
  a.SetState(&av);
  b.SetState(&bv);
  c.SetState(&cv);
  unsigned char image[12];
  std::memset(image, 0xAA, sizeof image);
  s.CurrentState(image);
  EXPECT_EQ(std::memcmp(image, &av, 2), 0);
  EXPECT_EQ(std::memcmp(image + 2, &bv, 8), 0);
  EXPECT_EQ(image[10], 'z');
  EXPECT_EQ(image[11], 0xAA);  // nothing past the 11 bytes
  image[10] = 'y';
  s.SetState(image);
  EXPECT_EQ(c.getValue(), 'y');

  // A nested field counts with its own size and leaves.
  const ArrayType outerKinds[] = {ShortField, StructField};
  BaseStructStateVariable outer("outer", "", outerKinds, 2);
  Short head("head", "");
  outer.setField(0, &head);
  outer.setField(1, &s);
  EXPECT_EQ(outer.StateSize(), 13);
  EXPECT_EQ(outer.getNumLeafNodes(), 4);
  List<BaseStateVariableClass>* leaves = outer.getLeafNodes();
  EXPECT_EQ(items(*leaves), (SVs{&head, &a, &b, &c}));
  delete leaves;

  // Two scalar fields: actions list the scalars, not the structure.
  const ArrayType two[] = {ShortField, ShortField};
  BaseStructStateVariable p("s", "", two, 2);
  Short pa("a", ""), pb("b", "");
  p.setField(0, &pa);
  p.setField(1, &pb);
  BaseActionClass act;
  enables(&p, &act);
  affects(&p, &act);
  EXPECT_EQ(items(act.EnablingSVs), (SVs{&pa, &pb}));
  EXPECT_EQ(items(act.AffectedSVs), (SVs{&pa, &pb}));
}

TEST(StructStateVariable, SharingFieldByField) {
  const ArrayType two[] = {ShortField, ShortField};
  BaseStructStateVariable s1("s1", "", two, 2), s2("s2", "", two, 2);
  Short a1("a1", ""), b1("b1", ""), a2("a2", ""), b2("b2", "");
  set(&a2, 10);
  set(&b2, 20);
  s1.setField(0, &a1);
  s1.setField(1, &b1);
  s2.setField(0, &a2);
  s2.setField(1, &b2);
  BaseActionClass r1, r2, w2;
  s1.BaseStateVariableClass::appendEnabledAction(&r1);
  s2.BaseStateVariableClass::appendEnabledAction(&r2);
  affects(&s2, &w2);

  s1.share(&s2);
  EXPECT_EQ(valueOf(&a1), 10);
  EXPECT_EQ(b2.getHead(), &b1);
  set(&b2, 33);
  EXPECT_EQ(valueOf(&b1), 33);
  EXPECT_EQ(s2.getEnabledActions(), s1.getEnabledActions());
  EXPECT_EQ(items(*s1.getEnabledActions()), (Actions{&r1, &r2}));
  EXPECT_EQ(items(*s1.getAffectingActions()), (Actions{&w2}));
  EXPECT_EQ(items(w2.AffectedSVs), (SVs{&a1, &b1}));
}

TEST(StructStateVariableDeathTest, Misuse) {
  const ArrayType one[] = {ShortField};
  const ArrayType two[] = {ShortField, ShortField};
  Short x("x", ""), y("y", ""), z("z", "");
  BaseStructStateVariable s("s", "", two, 2), shorter("t", "", one, 1);
  s.setField(0, &x);
  s.setField(1, &y);
  shorter.setField(0, &z);
  EXPECT_DEATH(s.share(&z), "otherStruct, file StructStateVariable");
  EXPECT_DEATH(s.share(&shorter), "otheri!=otherStruct->fields.end\\(\\), file StructStateVariable");
  const ArrayType nested[] = {StructField};
  BaseStructStateVariable hollow("h", "", nested, 1);  // its field variable never supplied
  EXPECT_EXIT(hollow.StateSize(), testing::ExitedWithCode(1),
              "ArrayType is invalid for struct element\npreparing to segfault");
}
