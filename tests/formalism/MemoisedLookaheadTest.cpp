// The memoised look-ahead against the plain exhaustive search: along random
// walks through two synthetic layered models (tests/formalism/data, written
// by tools/gen-attack-model) both give the same decision and bit for bit the
// same expected cost, detection and payoff at every horizon, also when the
// memo is so small that it keeps forgetting, and after the parameters
// change; the node count is the size of the tree the plain search explores.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formalism/ExploreNode.h"
#include "model/FileKORVELModel.h"
#include "model/ModelFile.h"

namespace {

struct Outcome {
  Step* step = nullptr;
  double payoff = -DBL_MAX, cost = -DBL_MAX, detection = -DBL_MAX;
};

std::string image(KORVELModel& m) {
  std::string s(m.StateSize(), '\0');
  m.CurrentState(&s[0]);
  return s;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Compares both searches from the model's current state; `small` is set to
// the same state and searched memoised too.
void expectSameSearch(FileKORVELModel& m, FileKORVELModel& small, int horizon) {
  const std::string before = image(m);
  Outcome plain, fast, tiny;
  m.exploreStateSpace(horizon, &plain.step, &plain.payoff, &plain.cost, &plain.detection);
  ASSERT_EQ(image(m), before);
  m.exploreStateSpaceMemoised(horizon, &fast.step, &fast.payoff, &fast.cost, &fast.detection);
  ASSERT_EQ(image(m), before) << "the memoised search must restore the state";
  std::string now = image(m);
  small.SetState(&now[0]);
  small.exploreStateSpaceMemoised(horizon, &tiny.step, &tiny.payoff, &tiny.cost,
                                  &tiny.detection);
  for (const Outcome* o : {&fast, &tiny}) {
    ASSERT_EQ(o->step ? o->step->decisionIndex : -1, plain.step ? plain.step->decisionIndex : -1)
        << "horizon " << horizon;
    EXPECT_TRUE(sameBits(o->payoff, plain.payoff)) << o->payoff << " vs " << plain.payoff;
    EXPECT_TRUE(sameBits(o->cost, plain.cost)) << o->cost << " vs " << plain.cost;
    EXPECT_TRUE(sameBits(o->detection, plain.detection)) << o->detection << " vs "
                                                         << plain.detection;
  }
}

size_t treeSize(const ExploreNode& node) {
  size_t n = node.children.size();
  for (const auto& entry : node.children) n += treeSize(*entry.second);
  return n;
}

std::shared_ptr<ModelDescription> load(const std::string& name) {
  auto d = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  EXPECT_TRUE(LoadModelFile(TARVEX_SOURCE_DIR "/tests/formalism/data/" + name, d.get(), &errors))
      << (errors.empty() ? "" : errors[0].Format());
  return d;
}

// Walks `states` random reachable states (a random feasible decision and a
// random outcome at each, back to the initial state every few steps or when
// only waiting is left) and compares the searches at horizons 1 to
// maxHorizon in each.
void compareAlongWalk(const std::string& file, int states, int maxHorizon, unsigned seed) {
  SCOPED_TRACE(file);
  std::shared_ptr<ModelDescription> d = load(file);
  FileKORVELModel m(d), small(d);
  small.lookaheadMemo().SetLimit(8192);
  std::string initial = image(m);
  std::mt19937 rng(seed);
  int depth = 0;
  for (int visited = 0; visited < states; visited++) {
    for (int h = 1; h <= maxHorizon; h++) {
      expectSameSearch(m, small, h);
      if (::testing::Test::HasFatalFailure()) return;
    }
    if (visited % 25 == 0) {
      // The node count is the size of the tree the plain search spans.
      int h = 1 + visited / 25 % 3;
      ExploreNode root(nullptr, 0, 0, 0, 0, 0, 0, &m);
      m.CurrentState(root.stateData());
      m.buildStateTreeNoAttractCalc(&root, h);
      m.SetState(root.stateData());
      EXPECT_EQ(m.countSearchNodes(h), treeSize(root)) << "horizon " << h;
    }
    std::vector<int> feasible;
    for (int k = 0; k < m.getNumDecisions(); k++)
      if (m.getStep(k, 0)->preconditionsMet()) feasible.push_back(k);
    if (++depth > 8 || feasible.size() <= 1) {
      m.SetState(&initial[0]);
      depth = 0;
      continue;
    }
    int k = feasible[rng() % (feasible.size() - 1)];  // the last is the wait
    m.getStep(k, rng() % m.getStepsPerDecision(k))->executeEffects();
  }
  EXPECT_GT(small.lookaheadMemo().evictions(), 0u) << "the small memo should have forgotten";
  EXPECT_LE(small.lookaheadMemo().bytes(), 8192u);
  EXPECT_GT(m.memoisedEvaluations(), 0u);
}

}  // namespace

TEST(MemoisedLookahead, SameDecisionsAndValuesAsThePlainSearchOnRandomStates) {
  compareAlongWalk("gen10.toml", 400, 5, 11);
  compareAlongWalk("gen20.toml", 300, 4, 12);
}

TEST(MemoisedLookahead, ForgetsWhenTheParametersChange) {
  std::shared_ptr<ModelDescription> d = load("gen20.toml");
  FileKORVELModel m(d);
  Outcome first;
  m.exploreStateSpaceMemoised(4, &first.step, &first.payoff, &first.cost, &first.detection);
  ASSERT_NE(first.step, nullptr);
  // An adversary who only minds cost waits; the remembered values were for
  // one who minds the payoff most.
  m.costWeight = 1.0;
  m.payoffWeight = 0.0;
  m.detectionWeight = 0.0;
  m.ParametersChanged();
  EXPECT_EQ(m.lookaheadMemo().size(), 0u);
  Outcome plain, fast;
  m.exploreStateSpace(4, &plain.step, &plain.payoff, &plain.cost, &plain.detection);
  m.exploreStateSpaceMemoised(4, &fast.step, &fast.payoff, &fast.cost, &fast.detection);
  ASSERT_NE(plain.step, first.step) << "the new weights should change the choice";
  EXPECT_EQ(fast.step, plain.step);
  EXPECT_TRUE(sameBits(fast.cost, plain.cost));
}
