// Actions, action groups (weighted draw, ranks, preselection, postselection)
// and the model base.
#include <gtest/gtest.h>

#include <deque>

#include "base/BaseGroupClass.h"
#include "base/BaseModelClass.h"
#include "base/PostselectGroup.h"
#include "base/PreselectGroup.h"
#include "distributions/DistributionDefinition.h"
#include "distributions/LaggedFibonacci.h"
#include "state/SharableSV.h"

namespace {

// Hands out scripted uniforms (0 when the script is used up), counting draws.
class ScriptedGenerator : public RandomNumberGenerator {
 public:
  inline static std::deque<double> script;
  inline static int draws = 0;
  double rnd() override {
    draws++;
    double u = script.empty() ? 0.0 : script.front();
    if (!script.empty()) script.pop_front();
    return u;
  }
};

class Groups : public testing::Test {
 protected:
  void SetUp() override {
    ScriptedGenerator::draws = 0;
    TheDistribution->setGenerator(new ScriptedGenerator);
  }
  void TearDown() override {
    auto* g = new LaggedFibonacci;
    g->srnd(31415);
    TheDistribution->setGenerator(g);
  }
  static void script(std::initializer_list<double> u) { ScriptedGenerator::script = u; }
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

class Erlang3 : public BaseActionClass {
  double ErlangParamM() override { return 3.0; }
};

class StubModel : public BaseModelClass {
  void listModels(const char*, List<BaseModelClass>*) override {}
  void CurrentState(void*) override {}
  void listActions(List<BaseActionClass>*) override {}
  void listGroups(List<BaseGroupClass>*) override {}
  void SetState(void*) override {}
  int StateSize() override { return 0; }
  bool CompareState(void*, void*) override { return true; }
  void listActions(const char*, List<BaseActionClass>*) override {}
  void listSVs(const char*, const char*, List<BaseStateVariableClass>*, List<BaseModelClass>*) override {}
};

}  // namespace

TEST(Action, IdentityPhasesAndPrintInfo) {
  int first = BaseActionClass::MaxID;
  BaseActionClass a;
  Erlang3 b;
  EXPECT_EQ(a.ID, first);
  EXPECT_EQ(b.ID, first + 1);
  EXPECT_TRUE(a.ReadyToFire());
  b.ResetPhase();
  b.Age();
  EXPECT_FALSE(b.ReadyToFire());
  b.Age();
  EXPECT_TRUE(b.ReadyToFire());

  BaseActionClass c("Scan", 4, DeterministicDistribution, DefaultExecutionPolicy, 7, 8, true);
  SharableSV<short> x("x", ""), y("y", "");
  c.addEnablingSV(&x);
  c.addAffectedSV(&y);
  c.addAffectedSV(&x);
  testing::internal::CaptureStdout();
  c.PrintInfo();
  a.PrintInfo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "********* Scan**********\n\nEnabled by:\n           x\nAffects:\n           y\n"
            "           x\nGroup ID = 4\nExecution Policy = 1\nDisabled = 1\nReactivation = 1\n"
            "DistributionType = 2\n"
            "********* default**********\n\nEnabled by:\nAffects:\nGroup ID = 0\n"
            "Execution Policy = 1\nDisabled = 1\nReactivation = 0\nDistributionType = 1\n");
}

TEST_F(Groups, WeightedDrawRanksNestingAndProbability) {
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
  EXPECT_EQ(ScriptedGenerator::draws, 3);
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

  // One uniform per nesting level. A nested group reports the weight of its
  // current selection (m1: 1), so it gets one first.
  BaseGroupClass outer;
  outer.initialize(2, "Outer");
  Leaf solo(3);
  outer.appendGroup(&g);
  outer.appendGroup(&solo);
  script({0.0, 0.1, 0.6, 0.99});
  g.SelectAction();
  ScriptedGenerator::draws = 0;
  ASSERT_TRUE(outer.SelectAction());  // target 0.4 in (1, 4) -> g; g: 2.4 -> m3
  EXPECT_EQ(ScriptedGenerator::draws, 2);
  EXPECT_EQ(outer.getSelectedAction(), &m3);
  ASSERT_TRUE(outer.SelectAction());  // (2, 5): 4.95 -> solo, which draws nothing
  EXPECT_EQ(ScriptedGenerator::draws, 3);
  EXPECT_EQ(outer.getSelectedAction(), &solo);
}

TEST_F(Groups, PreselectAndPostselectTiming) {
  Leaf a(1, 0, 3.0), b(1, 0, 7.0);
  PreselectGroup pre(2);
  pre.appendGroup(&a);
  pre.appendGroup(&b);
  script({0.75, 0.1});
  EXPECT_TRUE(pre.Enabled());  // selects b first
  EXPECT_FALSE(pre.NeedSelection);
  EXPECT_EQ(pre.SampleDistribution(), 7.0);
  EXPECT_EQ(ScriptedGenerator::draws, 1);  // the selection holds until firing
  EXPECT_EQ(pre.Fire(), &b);
  EXPECT_TRUE(pre.NeedSelection);
  EXPECT_EQ(pre.getSelectedAction(), &b);
  EXPECT_EQ(pre.SampleDistribution(), 3.0);  // draws anew: a
  a.on = b.on = false;
  EXPECT_FALSE(pre.SelectAction());
  EXPECT_TRUE(pre.NeedSelection);

  Leaf c(1, 5, 4.0), d(3, 5, 9.0);
  PostselectGroup post;
  post.initialize(2, "Post");
  post.appendGroup(&c);
  post.appendGroup(&d);
  ScriptedGenerator::draws = 0;
  EXPECT_EQ(post.SampleDistribution(), 4.0);  // the first member's timing
  EXPECT_EQ(post.Rank(), 1);
  EXPECT_EQ(ScriptedGenerator::draws, 0);
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

TEST(Model, IdsAndOperationsToOverride) {
  StubModel first, second;
  EXPECT_EQ(first.getModelId(), BaseModelClass::globalModelId - 1);
  EXPECT_EQ(second.getParentId(), BaseModelClass::globalModelId);
  second.SetParentId(7);
  EXPECT_EQ(second.getParentId(), 7);
  EXPECT_EQ(second.getModelId(), BaseModelClass::globalModelId);
  EXPECT_DEATH(first.GetChild(0), "false, file BaseModelClass");
  EXPECT_DEATH(first.HasLocalState(), "false, file BaseModelClass");
}
