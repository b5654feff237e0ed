// Action groups: weighted draw, ranks, postselection, misuse.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/BaseGroupClass.h"
#include "base/PostselectGroup.h"
#include "base/TypedPostselectGroup.h"
#include "base/WeightedPick.h"
#include "support/ScriptedGenerator.h"

namespace {

class Groups : public testing::Test {
 protected:
  void script(std::initializer_list<double> u) { scope.generator->values = u; }
  long draws() const { return scope.generator->draws; }
  support::ScriptedScope scope;
};

// A leaf member: it selects itself while enabled.
class Leaf : public BaseGroupClass {
 public:
  explicit Leaf(double w, int r = 0, double delay = 0.0, double own = 1.0)
      : w(w), r(r), delay(delay), own(own) {
    SelectedAction = this;
  }
  bool Enabled() override { return on; }
  double Weight() override { return w; }
  int Rank() override { return r; }
  double SampleDistribution() override { return delay; }
  bool SelectAction() override { return on; }
  double Probability(BaseActionClass* a) override { return a == this ? own : 0.0; }
  BaseActionClass* Fire() override { return this; }
  bool on = true;
  double w;
  int r;
  double delay, own;
};

}  // namespace

TEST_F(Groups, WeightedDrawRanksAndProbability) {
  Leaf m1(1), m2(1), m3(2);
  BaseGroupClass g;
  g.initialize(2, "G");
  for (Leaf* m : {&m1, &m2, &m3}) g.appendGroup(m);  // the third grows the arrays
  EXPECT_EQ(g.getCapacity(), 3);
  script({0.3, 0.5, 0.0});
  ASSERT_TRUE(g.SelectAction());  // target 1.2 in cumulative 1, 2, 4
  EXPECT_EQ(g.getSelectedAction(), &m2);
  ASSERT_TRUE(g.SelectAction());  // target 2: the first cumulative above it is 4
  EXPECT_EQ(g.getSelectedAction(), &m3);
  ASSERT_TRUE(g.SelectAction());
  EXPECT_EQ(g.getSelectedAction(), &m1);
  EXPECT_EQ(draws(), 3);
  EXPECT_DOUBLE_EQ(g.Probability(&m3), 0.5);
  EXPECT_EQ(g.Fire(), &m1);  // fires the selected leaf, clears the selection
  EXPECT_EQ(g.getSelectedAction(), nullptr);

  // A higher rank dominates whatever the draw; members recorded before it
  // keep the Disabled value they were given.
  Leaf low(5, 0), high(1, 1, 0.0, 0.25), off(9, 3);
  off.on = false;
  BaseGroupClass r;
  r.initialize(3, "R");
  for (Leaf* m : {&low, &high, &off}) r.appendGroup(m);
  for (double u : {0.0, 0.999}) {
    script({u});
    ASSERT_TRUE(r.SelectAction());
    EXPECT_EQ(r.getSelectedAction(), &high);
  }
  EXPECT_FALSE(low.Disabled);
  EXPECT_TRUE(off.Disabled);
  EXPECT_EQ(r.Probability(&low), 0.0);
  EXPECT_DOUBLE_EQ(r.Probability(&high), 0.25);
}

// The draw of the general and of the typed group, and the pick itself, land
// where a linear walk over the running sums says: the first member whose
// cumulative weight exceeds total x u, the last when none does (all weights
// zero). Zero and equal weights and the extreme draws included.
TEST_F(Groups, WeightedPickAgreesWithALinearWalk) {
  std::mt19937 rng(2024);
  const double weights[] = {0.0, 0.0, 0.5, 1.0, 1.0, 2.0, 3.25, 1e-300};
  const double edges[] = {0.0, 0.5, 1.0 - 1.0 / 9007199254740992.0};
  for (int trial = 0; trial < 2000; trial++) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    int n = 1 + static_cast<int>(rng() % 9);
    std::vector<std::unique_ptr<Leaf>> leaves;
    std::vector<double> cumulative;
    for (int i = 0; i < n; i++) {
      leaves.emplace_back(new Leaf(weights[rng() % 8]));
      cumulative.push_back(i == 0 ? leaves[i]->w : cumulative.back() + leaves[i]->w);
    }
    double u = trial % 4 == 0 ? edges[(trial / 4) % 3]
                              : std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    double target = cumulative.back() * u;
    int expected = n - 1;
    for (int i = n - 1; i >= 0; i--)
      if (cumulative[i] > target) expected = i;
    ASSERT_EQ(WeightedPick(n, target, [&](int i) { return cumulative[i]; }), expected);

    BaseGroupClass general;
    TypedPostselectGroup<Leaf> typed;
    general.initialize(n, "General");
    typed.initialize(n, "Typed");
    for (auto& l : leaves) {
      general.appendGroup(l.get());
      typed.appendGroup(l.get());
    }
    script({u, u});
    ASSERT_TRUE(general.SelectAction());
    ASSERT_TRUE(typed.SelectAction());
    EXPECT_EQ(general.getSelectedAction(), leaves[expected].get());
    EXPECT_EQ(typed.getSelectedAction(), leaves[expected].get());
  }
}

// A postselect group is timed by its first member and chooses the member
// only when it fires.
TEST_F(Groups, PostselectTiming) {
  Leaf c(1, 5, 4.0), d(3, 5, 9.0);
  PostselectGroup post;
  post.initialize(2, "Post");
  post.appendGroup(&c);
  post.appendGroup(&d);
  EXPECT_EQ(post.SampleDistribution(), 4.0);  // the first member's timing
  EXPECT_EQ(post.Rank(), 1);
  EXPECT_EQ(draws(), 0);
  script({0.5});
  EXPECT_EQ(post.Fire(), &d);
  EXPECT_EQ(post.getSelectedAction(), nullptr);
}

TEST(GroupsDeathTest, NoSelectedActionIsAnAssertion) {
  BaseGroupClass g;
  g.initialize(1, "Unselected");
  EXPECT_DEATH(g.Weight(), "file BaseGroupClass");
  EXPECT_DEATH(g.Rank(), "file BaseGroupClass");
  EXPECT_DEATH(g.SampleDistribution(), "file BaseGroupClass");
  EXPECT_DEATH(g.Fire(), "file BaseGroupClass");
}
