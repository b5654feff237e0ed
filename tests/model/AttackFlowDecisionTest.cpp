// The adversary's look-ahead on the attack_flow model: the decisions and
// their expected values from known states, the cache, and the agreement of
// the four decision modes.
#include <gtest/gtest.h>

#include <cfloat>
#include <vector>

#include "formalism/ExploreNode.h"
#include "model/attack_flowKORVEL.h"

namespace {

struct Decision {
  Step* step = nullptr;
  double payoff = -DBL_MAX, cost = -DBL_MAX, detection = -DBL_MAX;
};

// A fresh search from the model's current state at the given horizon.
Decision explore(attack_flowKORVEL& m, int horizon) {
  Decision d;
  m.exploreStateSpace(horizon, &d.step, &d.payoff, &d.cost, &d.detection);
  return d;
}

// Clears the marks of the decision made at construction.
void clearMarks(attack_flowKORVEL& m) {
  for (StepWeight* w : m.Weights) w->setMark(0);
  m.MakeDecision->setMark(0);
}

}  // namespace

TEST(AttackFlowDecision, InitialDecisionIsNetworkscanning) {
  attack_flowKORVEL m;
  clearMarks(m);
  Decision d = explore(m, 5);
  ASSERT_NE(d.step, nullptr);
  EXPECT_STREQ(d.step->getName(), "NetworkscanningSuccessStep");
  EXPECT_NEAR(d.payoff, 1385.1, 1e-9);
  EXPECT_NEAR(d.cost, 9.971, 1e-12);
  EXPECT_NEAR(d.detection, 0.03232369, 1e-12);
}

TEST(AttackFlowDecision, HorizonChangesTheChoice) {
  attack_flowKORVEL m;
  clearMarks(m);
  // PasswordCapture is named by its first step, the failure outcome.
  const char* expected[] = {"", "NetworkscanningSuccessStep", "PasswordCaptureFailureStep",
                            "PasswordCaptureFailureStep", "NetworkscanningSuccessStep"};
  for (int h = 1; h <= 4; h++) {
    Decision d = explore(m, h);
    ASSERT_NE(d.step, nullptr);
    EXPECT_STREQ(d.step->getName(), expected[h]) << "horizon " << h;
  }
}

TEST(AttackFlowDecision, AfterScanningTheAdversaryCapturesThePassword) {
  attack_flowKORVEL m;
  // The decision group fires Networkscanning, then its outcome fires.
  m.Decisions[0]->Fire();
  m.Steps[0]->Fire();
  EXPECT_EQ(m.SSIDMACtargetnetwork->getMark(), 1);
  EXPECT_EQ(m.Weights[7]->getMark(), 1);
  EXPECT_EQ(m.MakeDecision->getMark(), 1);

  clearMarks(m);
  Decision d = explore(m, 5);
  ASSERT_NE(d.step, nullptr);
  EXPECT_EQ(d.step->decisionIndex, 7);
  EXPECT_NEAR(d.payoff, 1408.59, 1e-9);
  EXPECT_NEAR(d.cost, 11.7361, 1e-9);
  EXPECT_NEAR(d.detection, 0.0405067321, 1e-12);
}
