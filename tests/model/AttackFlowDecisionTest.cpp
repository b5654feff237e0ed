// The adversary's look-ahead on the attack_flow model: the decisions and
// their expected values from known states, and models in one process that
// keep their own decisions.
#include <gtest/gtest.h>

#include <cfloat>
#include <string>
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

namespace {

// The decision marked by the last decision: the index of the one StepWeight
// at 1 (with MakeDecision at 1), or -1.
int markedDecision(attack_flowKORVEL& m) {
  int found = -1;
  for (int d = 0; d < attack_flowKORVEL::kNumDecisions; d++)
    if (m.Weights[d]->getMark() == 1) found = found < 0 ? d : -2;
  return found >= 0 && m.MakeDecision->getMark() == 1 ? found : -1;
}

std::string imageOf(attack_flowKORVEL& m) {
  std::string s(m.StateSize(), '\0');
  m.CurrentState(&s[0]);
  return s;
}

// The decision the model's cache holds for an image, or -3 when it holds none.
int cachedAt(const attack_flowKORVEL& m, const std::string& image) {
  for (const auto& entry : m.decisionCache().entries())
    if (entry.first == image) return entry.second;
  return -3;
}

}  // namespace

// Each model remembers its own decisions: a second model whose horizon
// differs decides differently at the same state image, and neither sees the
// other's decision; until it is told its parameters changed, a model keeps
// the decisions it made before.
TEST(AttackFlowDecision, ModelsInOneProcessKeepTheirOwnDecisions) {
  attack_flowKORVEL a;
  attack_flowKORVEL b;
  ASSERT_EQ(markedDecision(a), 0);  // Networkscanning
  ASSERT_EQ(markedDecision(b), 0);
  clearMarks(a);
  clearMarks(b);
  const std::string initial = imageOf(a);
  ASSERT_EQ(imageOf(b), initial);

  // A changed horizon alone changes nothing remembered.
  b.planningHorizon = 2;
  b.recalculateAdversaryDecisionWeights();
  EXPECT_EQ(markedDecision(b), 0);
  clearMarks(b);

  // Told so, b decides afresh: PasswordCapture at horizon 2.
  b.ParametersChanged();
  EXPECT_TRUE(b.decisionCache().empty());
  b.recalculateAdversaryDecisionWeights();
  EXPECT_EQ(markedDecision(b), 7);
  EXPECT_EQ(cachedAt(b, initial), 7);
  EXPECT_EQ(b.decisionCache().size(), 1u);

  // a, at the same image, still decides as its own cache says.
  size_t entries = a.decisionCache().size();
  a.recalculateAdversaryDecisionWeights();
  EXPECT_EQ(markedDecision(a), 0);
  EXPECT_EQ(cachedAt(a, initial), 0);
  EXPECT_EQ(a.decisionCache().size(), entries);

  // A model built afterwards searches for itself.
  attack_flowKORVEL c;
  EXPECT_EQ(markedDecision(c), 0);
  EXPECT_EQ(c.decisionCache().size(), 1u);

  // Both go on along the same outcomes, each with its own decisions; after
  // scanning, a (horizon 5) captures the password, as a fresh search says.
  for (attack_flowKORVEL* m : {&a, &b}) {
    clearMarks(*m);
    m->Weights[0]->setMark(1);
    m->MakeDecision->setMark(1);
    m->Decisions[0]->Fire();
    m->Steps[0]->Fire();
  }
  EXPECT_EQ(markedDecision(a), 7);
  int bAfterScan = markedDecision(b);
  ASSERT_GE(bAfterScan, 0);
  clearMarks(b);
  Decision fresh = explore(b, 2);
  ASSERT_NE(fresh.step, nullptr);
  EXPECT_EQ(bAfterScan, fresh.step->decisionIndex);
}
