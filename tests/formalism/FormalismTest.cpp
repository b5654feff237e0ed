// The formalism's variables, actions and model base, and the structure of
// the attack_flow model built on them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TinyModel.h"
#include "model/attack_flowKORVEL.h"

namespace {
template <class T>
std::vector<T*> items(const List<T>& l) {
  return std::vector<T*>(l.begin(), l.end());
}
using Actions = std::vector<BaseActionClass*>;
using SVs = std::vector<BaseStateVariableClass*>;
}  // namespace

TEST(KORVELAction, EnablingChangeProbabilityAndFire) {
  attack_flowKORVEL m;
  Step* scan = m.Steps[0];
  EXPECT_FALSE(scan->EnablingChange());
  m.Chosen[0]->setMark(1);
  EXPECT_TRUE(scan->EnablingChange());
  EXPECT_FALSE(scan->EnablingChange());
  m.Chosen[0]->setMark(0);
  EXPECT_TRUE(scan->EnablingChange());
  EXPECT_EQ(scan->Probability(scan), 1.0);
  EXPECT_EQ(scan->Probability(m.Steps[1]), 0.0);

  TinyModel t;
  // Firing zeroes the StepChosen whatever the effects did, then decides.
  t.grab.chosenAfterEffects = 3;
  t.grabChosen->setMark(1);
  EXPECT_EQ(t.grab.Fire(), &t.grab);
  EXPECT_EQ(t.grabChosen->getMark(), 0);
  EXPECT_EQ(t.goal->getMark(), 1);
  EXPECT_EQ(t.grabWeight->getMark(), 1);
  EXPECT_EQ(t.begin->getMark(), 1);
}

TEST(AttackFlowStructure, StateImageArcsAndListOrders) {
  attack_flowKORVEL m;
  ASSERT_EQ(m.StateSize(), 64);
  short image[32];
  m.CurrentState(image);
  const short expected[32] = {1, 0, 0, 0, 0, 1, 10, 10, 10, 10, 0, 0, 0,  // model data
                              0, 0, 0, 0, 0, 0, 0, 0, 0,                  // Chosen
                              1, 0, 0, 0, 0, 0, 0, 0, 0,                  // Weights
                              1};                                         // MakeDecision
  EXPECT_EQ(std::vector<short>(image, image + 32), std::vector<short>(expected, expected + 32));
  EXPECT_EQ(reinterpret_cast<unsigned char*>(image)[62], 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(image)[63], 0);

  // Every arc is recorded on both of its ends.
  int affectBySV = 0, enableBySV = 0, affectByAction = 0, enableByAction = 0;
  for (int i = 0; i < 32; i++) {
    KORVELStateVariable* sv = m.getStateVariable(i);
    affectBySV += sv->getNumAffectingActions();
    enableBySV += sv->getNumEnabledActions();
    for (BaseActionClass* a : *sv->getAffectingActions()) EXPECT_TRUE(a->AffectedSVs.contains(sv));
    for (BaseActionClass* a : *sv->getEnabledActions()) EXPECT_TRUE(a->EnablingSVs.contains(sv));
  }
  List<BaseActionClass> actions;
  m.listActions(&actions);
  Actions all(m.Decisions, m.Decisions + 9);
  all.insert(all.end(), m.Steps, m.Steps + 15);
  ASSERT_EQ(items(actions), all);
  for (BaseActionClass* a : all) {
    affectByAction += a->AffectedSVs.getNumItems();
    enableByAction += a->EnablingSVs.getNumItems();
    EXPECT_EQ(a->Model, &m);
    BaseGroupClass* g = m.getGroups()[a->GroupID];  // itself, or its group
    EXPECT_TRUE(g == a || g->IsAMember(a)) << a->getName();
  }
  EXPECT_EQ(affectBySV, 226);
  EXPECT_EQ(affectByAction, 226);
  EXPECT_EQ(enableBySV, 38);
  EXPECT_EQ(enableByAction, 38);

  EXPECT_EQ(items(*m.MakeDecision->getEnabledActions()), Actions(all.begin(), all.begin() + 9));
  EXPECT_EQ(items(*m.MakeDecision->getAffectingActions()), all);
  auto s = m.Steps;
  EXPECT_EQ(items(*m.NetworkKey->getEnabledActions()), (Actions{s[4], s[5], s[12], s[13]}));
  EXPECT_EQ(items(s[2]->EnablingSVs), (SVs{m.Chosen[1], m.MITM}));
}

TEST(AttackFlowModel, FeasibilityProbabilitiesAndPayoff) {
  attack_flowKORVEL m;
  for (int d = 0; d < 9; d++)
    EXPECT_EQ(m.getStep(d, 0)->preconditionsMet(), d == 0 || d == 7 || d == 8) << d;
  const double success[9] = {1.0, 0.9, 1.0, 0.8, 0.9, 1.0, 0.9, 0.9, 1.0};  // skills at 10
  for (int d = 0; d < 9; d++) {
    Step* last = m.getStep(d, m.getStepsPerDecision(d) - 1);
    EXPECT_DOUBLE_EQ(last->getOutcomeProbability(), success[d]) << d;
    EXPECT_DOUBLE_EQ(last->Weight(), success[d]) << d;
  }
  m.APConfiguration->setMark(8);
  EXPECT_EQ(m.getStep(1, 1)->getOutcomeProbability(), 0.3);

  m.DOS->setMark(2);  // only goals at exactly 1 pay
  m.MITM->setMark(1);
  EXPECT_EQ(m.calculatePayoff(), 500.0);

}

// The image of a model whose variables share storage must hold the group's
// value and be exactly StateSize() bytes, or a decision cannot restore it.
TEST(KORVELModelState, SharedVariableIsPartOfTheImage) {
  TinyModel t;
  t.patience->setMark(4);
  t.idle->share(t.patience);  // idle heads the group; both read 4
  const int size = t.StateSize();
  EXPECT_EQ(size, 16);  // nine variables, one absorbed
  std::string first(size, '\x55'), second(size, '\x66');
  t.CurrentState(&first[0]);
  t.CurrentState(&second[0]);
  EXPECT_EQ(first, second) << "not every byte of the image was written";
  t.patience->setMark(0);
  t.SetState(&first[0]);
  EXPECT_EQ(t.patience->getMark(), 4) << "the shared value was not restored";
}

TEST(KORVELModelDeathTest, MisuseIsAnAssertion) {
  KORVELModel::LocalState two(2), four(4);
  State& target = two;
  EXPECT_DEATH(target = four, "Assertion failed: size == _localS->size, file KORVELModel, line");
  TinyModel t;
  EXPECT_DEATH(t.GetChild(0), "Assertion failed: false, file KORVELModel, line");
}
