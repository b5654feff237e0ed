// The adversary's look-ahead: agreement of the decision modes along stepped
// paths of attack_flow, the cache, and the cases without a decision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "TinyModel.h"
#include "formalism/ExploreNode.h"
#include "model/attack_flowKORVEL.h"

namespace {

// attack_flow deciding in one mode after construction (which decides in
// mode 3); a fired step asks for its next decision through this override.
class ModeModel : public attack_flowKORVEL {
 public:
  explicit ModeModel(int mode) : mode(mode) {}
  using KORVELModel::recalculateAdversaryDecisionWeights;
  void recalculateAdversaryDecisionWeights() override {
    KORVELModel::recalculateAdversaryDecisionWeights(mode);
  }
  int mode;
};

// The marked decision: exactly one StepWeight and MakeDecision at 1, the
// other weights at 0; -1 otherwise.
int marked(attack_flowKORVEL& m) {
  int found = -1, count = 0;
  for (int d = 0; d < 9; d++) {
    short w = m.Weights[d]->getMark();
    EXPECT_TRUE(w == 0 || w == 1);
    if (w == 1) found = d, count++;
  }
  return count == 1 && m.MakeDecision->getMark() == 1 ? found : -1;
}

std::string image(KORVELModel& m) {
  std::string s(m.StateSize(), '\0');
  m.CurrentState(&s[0]);
  return s;
}

void clearMarks(TinyModel& t) {
  t.grabWeight->setMark(0);
  t.waitWeight->setMark(0);
  t.begin->setMark(0);
}

}  // namespace

TEST(Lookahead, ModesZeroToTwoDecideAsTheCachedSearch) {
  for (int mode : {0, 1, 2}) {
    for (int path : {0, 1, 2}) {  // always the last outcome, the first, alternating
      SCOPED_TRACE("mode " + std::to_string(mode) + " path " + std::to_string(path));
      attack_flowKORVEL ref;
      ModeModel m(mode);
      m.Weights[0]->setMark(0);  // decide the construction state again in mode k
      m.MakeDecision->setMark(0);
      m.recalculateAdversaryDecisionWeights();
      ASSERT_EQ(marked(m), 0);
      for (int n = 0; n < 12; n++) {
        int d = marked(ref);
        ASSERT_GE(d, 0);
        ASSERT_EQ(marked(m), d) << "step " << n;
        if (n == 1) {
          EXPECT_EQ(d, 7);  // PasswordCapture after scanning
        }
        int last = ref.getStepsPerDecision(d) - 1;
        int o = path == 0 ? last : path == 1 ? 0 : (n % 2 ? 0 : last);
        ExploreNode* root = m.lookaheadRoot();
        std::set<ExploreNode*> kept{root};
        for (auto& child : root->children) kept.insert(child.second);
        for (attack_flowKORVEL* x : {&ref, static_cast<attack_flowKORVEL*>(&m)}) {
          x->Decisions[d]->Fire();  // as the decision group does
          x->getStep(d, o)->Fire();
        }
        ASSERT_EQ(image(m), image(ref)) << "step " << n;
        // The root holds the state the decision was made in (before the
        // marks); modes 1 and 2 keep the subtree of the outcome that happened.
        std::string unmarked = image(m);
        std::fill(unmarked.begin() + 44, unmarked.end(), '\0');
        root = m.lookaheadRoot();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(std::string(root->stateData(), unmarked.size()), unmarked);
        if (mode != 0) {
          EXPECT_TRUE(kept.count(root)) << "step " << n;
        }
      }
    }
  }
}

TEST(Lookahead, CacheIsHitForAnUnchangedState) {
  TinyModel t;
  std::string before = image(t);
  TinyStep::calls = 0;
  t.recalculateAdversaryDecisionWeights();
  EXPECT_GT(TinyStep::calls, 0);
  clearMarks(t);
  ASSERT_EQ(image(t), before);
  TinyStep::calls = 0;
  t.recalculateAdversaryDecisionWeights();
  EXPECT_EQ(TinyStep::calls, 0);
  EXPECT_EQ(t.grabWeight->getMark(), 1);
  EXPECT_EQ(t.begin->getMark(), 1);
}

TEST(Lookahead, NoDecisionPossibleLeavesTheStateAlone) {
  for (int mode : {0, 1, 2, 3, 7}) {
    for (int horizon : {1, 2, 0, -1}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " horizon " + std::to_string(horizon));
      TinyModel t;
      t.planningHorizon = horizon;
      if (horizon >= 1) t.door->setMark(0);  // nothing feasible
      std::string before = image(t);
      for (int call = 0; call < 2; call++) {
        testing::internal::CaptureStderr();
        t.recalculateAdversaryDecisionWeights(mode);
        std::string message = testing::internal::GetCapturedStderr();
        EXPECT_EQ(image(t), before);
        if (mode != 7 || horizon < 1) {
          EXPECT_FALSE(message.empty());
        }
      }
    }
  }
}
