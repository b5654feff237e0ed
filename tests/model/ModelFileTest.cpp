// Model files: every kind of defect is reported at its line and column with
// the words a modeller needs, and attack_flow as a file builds the same
// model as the compiled one (variables, actions, groups, arcs, parameters,
// utilities, initial decision).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/FilePVModel.h"
#include "model/ModelFile.h"
#include "model/attack_flowKORVEL.h"
#include "model/rewardPVModel.h"

namespace {

// A small valid model; the line numbers in the cases below refer to it.
const char* const kTiny =
    "format = 1\n"                                                 // 1
    "name = \"tiny\"\n"                                            // 2
    "[adversary]\n"                                                // 3
    "cost_weight = 0.2\n"                                          // 4
    "detection_weight = 0.2\n"                                     // 5
    "payoff_weight = 0.6\n"                                        // 6
    "planning_horizon = 2\n"                                       // 7
    "cost_utility = \"1 - x / 10\"\n"                              // 8
    "detection_utility = \"1 - x\"\n"                              // 9
    "payoff_utility = \"x / 100\"\n"                               // 10
    "[[variable]]\n"                                               // 11
    "name = \"Key\"\n"                                             // 12
    "kind = \"knowledge\"\n"                                       // 13
    "[[variable]]\n"                                               // 14
    "name = \"Skill\"\n"                                           // 15
    "kind = \"skill\"\n"                                           // 16
    "initial = 5\n"                                                // 17
    "[[variable]]\n"                                               // 18
    "name = \"Won\"\n"                                             // 19
    "kind = \"goal\"\n"                                            // 20
    "payoff = 100\n"                                               // 21
    "[[decision]]\n"                                               // 22
    "name = \"Steal\"\n"                                           // 23
    "precondition = \"Key == 0 and Skill > 3\"\n"                  // 24
    "cost = 1\n"                                                   // 25
    "  [[decision.outcome]]\n"                                     // 26
    "  name = \"Success\"\n"                                       // 27
    "  probability = \"Skill > 4 ? 0.8 : 0.5\"\n"                  // 28
    "  detection = 0.1\n"                                          // 29
    "  effects = { Key = 1 }\n"                                    // 30
    "  delay = { distribution = \"exponential\", rate = 0.5 }\n"   // 31
    "  [[decision.outcome]]\n"                                     // 32
    "  name = \"Failure\"\n"                                       // 33
    "  probability = 0.2\n"                                        // 34
    "  delay = 2\n"                                                // 35
    "[[decision]]\n"                                               // 36
    "name = \"Cash\"\n"                                            // 37
    "precondition = \"Key != 0 and Won == 0\"\n"                   // 38
    "  [[decision.outcome]]\n"                                     // 39
    "  name = \"Done\"\n"                                          // 40
    "  probability = 1\n"                                          // 41
    "  effects = { Won = 1 }\n"                                    // 42
    "  delay = 1\n"                                                // 43
    "[[measure]]\n"                                                // 44
    "name = \"Won\"\n"                                             // 45
    "value = \"Won\"\n"                                            // 46
    "times = { from = 0, to = 20, step = 5 }\n";                   // 47

std::string Edited(const std::string& from, const std::string& to) {
  std::string text = kTiny;
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

TEST(ModelFile, TinyModelLoadsWithDerivedArcs) {
  ModelDescription d;
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelText(kTiny, "tiny.toml", &d, &errors)) << errors[0].Format();
  ASSERT_EQ(d.decisions.size(), 2u);
  // Written variables, then the precondition's without skills; enabled by
  // the first of them.
  EXPECT_EQ(d.decisions[0].affects, (std::vector<int>{0}));
  EXPECT_EQ(d.decisions[0].enabledBy, (std::vector<int>{0}));
  EXPECT_EQ(d.decisions[1].affects, (std::vector<int>{2, 0}));
  EXPECT_EQ(d.measures[0].times, (std::vector<double>{0, 5, 10, 15, 20}));
  EXPECT_EQ(d.decisions[0].outcomes[0].delay.kind, DelayKind::kExponential);
}

// One defect per case: one message (a typo also leaves a field missing), at
// the defect, naming it.
TEST(ModelFile, EachDefectIsReportedAtItsPlace) {
  struct Case {
    std::string from;
    std::string to;
    int line;
    int column;  // 0: not checked (the TOML parser's own choice)
    std::vector<std::string> words;
    size_t count = 1;  // messages expected (the first is checked)
    bool inGlobal = false;  // `from` is in the appended global `g`
    std::string study = "";  // appended after `g`, edited with from -> to
  };
  const std::string kTimes = "times = { from = 0, to = 20, step = 5 }\n";
  const std::string kGlobalG = "[[global]]\nname = \"g\"\ntype = \"short\"\ndefault = 1\n";
  const std::string kTimesG = kTimes + kGlobalG;
  const Case cases[] = {
      // TOML syntax
      {"cost = 1\n", "cost = = 1\n", 25, 0, {}},
      // unknown, duplicate or wrong names and kinds
      {"name = \"tiny\"\n", "name = \"tiny\"\nnme = \"x\"\n", 3, 1, {"unknown field 'nme'"}},
      {"initial = 5", "inital = 5", 17, 1, {"unknown field 'inital'", "'Skill'"}},
      {"initial = 5\n", "initial = 5\n[[variable]]\nname = \"Key\"\nkind = \"access\"\n", 19, 8,
       {"duplicate variable 'Key'"}},
      {"kind = \"knowledge\"", "kind = \"knowlege\"", 13, 8, {"unknown kind 'knowlege'"}},
      {"name = \"Cash\"", "name = \"Steal\"", 36, 1, {"duplicate decision 'Steal'"}},
      {"initial = 5\n", "initial = 5\n[[variable]]\nname = \"MakeDecision\"\nkind = \"access\"\n", 18, 1,
       {"'MakeDecision'", "bookkeeping"}},
      {"format = 1", "format = 2", 1, 10, {"format 1"}},
      // effects
      {"effects = { Key = 1 }", "effects = { Skill = 1 }", 30, 15, {"skill 'Skill'", "constant"}},
      {"effects = { Won = 1 }", "effects = { Wn = 1 }", 42, 15, {"unknown variable 'Wn'", "'Done'"}},
      {"effects = { Won = 1 }", "effects = { Won = 1.5 }", 42, 21, {"'Won'", "1.5", "not an integer"}},
      {"kind = \"knowledge\"", "kind = \"knowledge\"\npayoff = 3", 14, 10, {"only for goals", "'Key'"}},
      // formulas
      {"\"Skill > 4 ? 0.8 : 0.5\"", "\"Skil > 4 ? 0.8 : 0.5\"", 28, 18,
       {"probability", "'Success'", "'Steal'", "unknown name 'Skil'"}},
      {"detection_utility = \"1 - x\"", "detection_utility = \"\"\"\n1 -\n  * x\"\"\"", 11, 3,
       {"'detection_utility'"}},
      {"probability = 0.2", "probability = -0.2", 34, 17, {"-0.2", "not negative", "'Failure'"}},
      {"probability = 1\n", "probability = 0\n", 36, 1, {"'Cash'", "sum to 0"}},
      // missing fields
      {"  delay = 2\n", "", 32, 3, {"missing field 'delay'", "'Failure'"}},
      {"payoff_weight = 0.6\n", "", 3, 1, {"missing field 'payoff_weight'"}},
      {"[[variable]]\nname = \"Won\"\nkind = \"goal\"\npayoff = 100\n",
       "[[variable]]\nname = \"Won\"\nkind = \"goal\"\n", 18, 1, {"missing field 'payoff'", "goal"}},
      // delays and times
      {"rate = 0.5", "rate = -0.5", 31, 11, {"'rate'", "positive", "'Success'"}},
      {"\"exponential\"", "\"exponentail\"", 31, 28, {"unknown distribution 'exponentail'"}},
      {"rate = 0.5", "rat = 0.5", 31, 43, {"unknown field 'rat'"}, 2},  // and 'rate' missing
      {"times = { from = 0, to = 20, step = 5 }", "times = [0, 5, 5]", 47, 9, {"increasing"}},
      // interval measures and impulse rewards
      {"times = { from = 0, to = 20, step = 5 }",
       "kind = \"interval\"\nstart = 10\nend = [5, 20]", 49, 7,
       {"'end' of measure 'Won'", "ends before its start"}},
      {"times = { from = 0, to = 20, step = 5 }",
       "kind = \"interval\"\nend = 20\n[[measure.impulse]]\ndecision = \"Stael\"\nvalue = 1",
       50, 12,
       {"unknown decision 'Stael'", "impulse 1 of measure 'Won'"}},
      {"times = { from = 0, to = 20, step = 5 }",
       "kind = \"interval\"\nend = 20\n[[measure.impulse]]\ndecision = \"Steal\"\n"
       "outcome = \"Sucess\"\nvalue = 1",
       51, 11, {"unknown outcome 'Sucess' of decision 'Steal'", "Success, Failure"}},
      {"times = { from = 0, to = 20, step = 5 }",
       "kind = \"interval\"\nend = 20\n[[measure.impulse]]\ndecision = \"Steal\"\n"
       "value = \"Ky + 1\"",
       51, 10, {"impulse 1 of measure 'Won'", "unknown name 'Ky'"}},
      {"times = { from = 0, to = 20, step = 5 }",
       "times = [0, 5]\n[[measure.impulse]]\ndecision = \"Steal\"\nvalue = 1", 48, 0,
       {"impulse rewards belong to measures of kind 'interval'", "'Won'"}},
      {"times = { from = 0, to = 20, step = 5 }", "kind = \"interva\"\nend = 20", 47, 8,
       {"unknown kind 'interva' of measure 'Won'", "instant, interval"}},
      {"times = { from = 0, to = 20, step = 5 }", "kind = \"interval\"\ntimes = [5]", 48, 1,
       {"unknown field 'times' in measure 'Won'", "end"}, 2},  // and 'end' missing
      // arc lists
      {"precondition = \"Key != 0 and Won == 0\"\n",
       "precondition = \"Key != 0 and Won == 0\"\naffects = [\"Wonn\"]\n", 39, 12,
       {"unknown variable 'Wonn'", "'affects'"}},
      // Global variables, profiles and the study (appended from line 48).
      {kTimes, kTimesG + kGlobalG, 53, 8, {"duplicate global variable 'g'"}},
      {kTimes, kTimesG + "[[global]]\nname = \"Key\"\ntype = \"int\"\ndefault = 0\n", 52, 1,
       {"global variable 'Key' has the name of variable 'Key'"}},
      {"default = 1\n", "default = 40000\n", 51, 11, {"'default' of global 'g'", "40000",
                                                         "does not fit type short"}, 1, true},
      {"type = \"short\"", "type = \"shrt\"", 50, 8, {"unknown type 'shrt'"}, 1, true},
      {kTimes, kTimesG + "[[profile]]\nname = \"p\"\nset = { h = 1 }\n", 54, 9,
       {"unknown global variable 'h'", "profile 'p'"}},
      {kTimes, kTimesG + "[study]\n[[study.factor]]\nglobal = \"g\"\n"
                         "range = { from = 2, to = 1, step = 1 }\n", 55, 9,
       {"range of factor 1", "'g'", "is empty"}},
      {kTimes, kTimesG + "[[profile]]\nname = \"p\"\nset = { g = 2 }\n[study]\n"
                         "[[study.experiment]]\nprofile = \"p\"\nset = { g = 3 }\n", 58, 13,
       {"experiment 1 of [study] sets 'g' twice", "profile 'p'"}},
      {kTimes, kTimesG + "[[profile]]\nname = \"p\"\nset = { g = 2 }\n[study]\n"
                         "[[study.factor]]\nglobal = \"g\"\nvalues = [1, 2]\n"
                         "[[study.factor]]\nprofiles = [\"p\"]\n", 60, 12,
       {"factor 2 of [study] sets 'g', which factor 1 of [study] sets too"}},
      {"planning_horizon = 2", "planning_horizon = \"g\"", 7, 21,
       {"'planning_horizon' of [adversary] is 0", "in experiment 2 (g=0)"}, 1, false,
       "[study]\n[[study.factor]]\nglobal = \"g\"\nvalues = [1, 0]\n"},
      {"initial = 5", "initial = \"g * 10000\"", 17, 12,
       {"'initial' of variable 'Skill' is 50000", "in experiment 2 (g=5)"}, 1, false,
       "[study]\n[[study.factor]]\nglobal = \"g\"\nvalues = [1, 5]\n"},
      {"probability = 0.2", "probability = \"2 - g\"", 34, 18,
       {"probability of outcome 'Failure'", "-1", "in experiment 2 (g=3)"}, 1, false,
       "[study]\n[[study.factor]]\nglobal = \"g\"\nvalues = [1, 3]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("defect: ") + c.to);
    ModelDescription d;
    std::vector<ModelFileError> errors;
    // Cases on a global's own fields edit the model with the global `g`
    // appended; cases with a study append `g` and the study.
    std::string text = c.inGlobal ? Edited(kTimes, kTimesG) : kTiny;
    if (!c.study.empty()) text = Edited(kTimes, kTimesG + c.study);
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, c.from.size(), c.to);
    EXPECT_FALSE(LoadModelText(text, "m.toml", &d, &errors));
    ASSERT_EQ(errors.size(), c.count) << (errors.empty() ? "" : errors[0].Format() + " / " +
                                                               errors.back().Format());
    const ModelFileError& e = errors[0];
    EXPECT_EQ(e.line, c.line) << e.Format();
    if (c.column) {
      EXPECT_EQ(e.column, c.column) << e.Format();
    }
    for (const std::string& w : c.words)
      EXPECT_NE(e.message.find(w), std::string::npos) << "'" << w << "' not in " << e.Format();
    EXPECT_EQ(e.Format().rfind("m.toml:" + std::to_string(c.line) + ":", 0), 0u);
  }
  ModelDescription d;
  std::vector<ModelFileError> errors;
  EXPECT_FALSE(LoadModelFile("/nonexistent/model.toml", &d, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Format(), "/nonexistent/model.toml: cannot read the model file");
}

namespace {

std::vector<std::string> Names(const List<BaseStateVariableClass>& list) {
  std::vector<std::string> out;
  for (BaseStateVariableClass* sv : list) out.push_back(sv->getName());
  return out;
}

}  // namespace

// The file's model against the compiled one, part by part.
TEST(ModelFile, AttackFlowFileBuildsTheCompiledModel) {
  auto d = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelFile(TARVEX_SOURCE_DIR "/models/attack_flow.toml", d.get(), &errors))
      << errors[0].Format();
  attack_flowKORVEL compiled;
  FileKORVELModel file(d);

  EXPECT_STREQ(file.getName(), compiled.getName());
  ASSERT_EQ(file.getNumStateVariables(), compiled.getNumStateVariables());
  for (int i = 0; i < compiled.getNumStateVariables(); i++) {
    EXPECT_STREQ(file.getStateVariable(i)->getName(), compiled.getStateVariable(i)->getName());
    EXPECT_EQ(file.getStateVariable(i)->getMark(), compiled.getStateVariable(i)->getMark());
  }
  ASSERT_EQ(file.getNumGoals(), compiled.getNumGoals());
  for (int g = 0; g < compiled.getNumGoals(); g++)
    EXPECT_EQ(file.getGoal(g)->payoff, compiled.getGoal(g)->payoff);

  List<BaseActionClass> fa, ca;
  file.listActions(&fa);
  compiled.listActions(&ca);
  ASSERT_EQ(fa.getNumItems(), ca.getNumItems());
  for (int i = 0; i < ca.getNumItems(); i++) {
    BaseActionClass* f = fa.getItem(i);
    BaseActionClass* c = ca.getItem(i);
    SCOPED_TRACE(c->getName());
    EXPECT_STREQ(f->getName(), c->getName());
    EXPECT_EQ(f->GroupID, c->GroupID);
    EXPECT_EQ(f->DistributionType, c->DistributionType);
    EXPECT_EQ(Names(f->AffectedSVs), Names(c->AffectedSVs));
    EXPECT_EQ(Names(f->EnablingSVs), Names(c->EnablingSVs));
    EXPECT_EQ(f->SampleDistribution(), c->SampleDistribution());
  }
  List<BaseGroupClass> fg, cg;
  file.listGroups(&fg);
  compiled.listGroups(&cg);
  ASSERT_EQ(fg.getNumItems(), cg.getNumItems());
  for (int i = 0; i < cg.getNumItems(); i++)
    EXPECT_STREQ(fg.getItem(i)->getName(), cg.getItem(i)->getName());

  EXPECT_EQ(file.costWeight, compiled.costWeight);
  EXPECT_EQ(file.detectionWeight, compiled.detectionWeight);
  EXPECT_EQ(file.payoffWeight, compiled.payoffWeight);
  EXPECT_EQ(file.planningHorizon, compiled.planningHorizon);
  // The utilities bit for bit, inside, at and beyond their ranges.
  for (double x = -10; x <= 1100; x += 0.37) {
    EXPECT_EQ(file.convertCostToUtility(x), compiled.convertCostToUtility(x)) << x;
    EXPECT_EQ(file.convertPayoffToUtility(x), compiled.convertPayoffToUtility(x)) << x;
    EXPECT_EQ(file.convertDetectionToUtility(x / 1000), compiled.convertDetectionToUtility(x / 1000));
  }
  // The same state image after construction: the same first decision.
  std::vector<char> a(compiled.StateSize()), b(file.StateSize());
  compiled.CurrentState(a.data());
  file.CurrentState(b.data());
  EXPECT_EQ(a, b);

  Step* best = nullptr;
  double payoff = 0, cost = 0, detection = 0;
  file.exploreStateSpace(5, &best, &payoff, &cost, &detection);
  ASSERT_NE(best, nullptr);
  EXPECT_STREQ(best->getName(), "NetworkscanningSuccessStep");
  EXPECT_NEAR(payoff, 1385.1, 1e-9);
  EXPECT_NEAR(cost, 9.971, 1e-9);
  EXPECT_NEAR(detection, 0.03232369, 1e-9);
}

// The reward model's nodes: 8 measures x 21 instants, named and timed as
// the compiled reward model's.
TEST(ModelFile, RewardModelNodesMatchTheCompiledOnes) {
  auto d = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelFile(TARVEX_SOURCE_DIR "/models/attack_flow.toml", d.get(), &errors));
  rewardPVModel compiled(true);
  FilePVModel file(d, true);
  ASSERT_EQ(file.getNumPVs(), compiled.getNumPVs());
  for (int i = 0; i < compiled.getNumPVs(); i++) {
    EXPECT_EQ(file.getNode(i)->Name, compiled.getNode(i)->Name);
    EXPECT_EQ(file.getNode(i)->StartTime, compiled.getNode(i)->StartTime);
    EXPECT_EQ(file.getNode(i)->NumVarDeps, compiled.getNode(i)->NumVarDeps);
  }
  EXPECT_EQ(file.createPVNode(8, 0), nullptr);
}

// Interval measures: one accumulating node per end, all from the start, the
// impulses watching the decision's or the outcome's action; the layout
// tells tools each node's interval.
TEST(ModelFile, IntervalMeasuresBuildAccumulatingNodesWithImpulses) {
  auto d = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelText(Edited("times = { from = 0, to = 20, step = 5 }",
                                   "times = [3]\n[[measure]]\nname = \"Spent\"\nkind = \"interval\"\n"
                                   "value = \"Key\"\nstart = 2\nend = [4, 8]\n"
                                   "[[measure.impulse]]\ndecision = \"Steal\"\nvalue = 1\n"
                                   "[[measure.impulse]]\ndecision = \"Cash\"\noutcome = \"Done\"\n"
                                   "value = \"Won * 2\"\n"),
                            "i.toml", d.get(), &errors))
      << errors[0].Format();
  FilePVModel file(d, true);
  ASSERT_EQ(file.getNumPVs(), 3);
  EXPECT_EQ(file.getNode(0)->GetRewardType(), InstantOfTimeReward);
  for (int i = 1; i < 3; i++) {
    const PerformanceVariableNode* node = file.getNode(i);
    EXPECT_EQ(node->GetRewardType(), AccumulatedReward);
    EXPECT_EQ(node->StartTime, 2.0);
    EXPECT_EQ(node->StopTime, i == 1 ? 4.0 : 8.0);
    ASSERT_EQ(node->NumImpulses, 2);
    EXPECT_STREQ(node->Impulses[0].Pair.getActionName(), "StealAdversaryDecision");
    EXPECT_STREQ(node->Impulses[1].Pair.getActionName(), "CashDoneStep");
    EXPECT_EQ(node->Impulses[1].NumWorkers, 1);
  }
  MeasureLayout layout = file.Measures();
  ASSERT_EQ(layout.nodes.size(), 3u);
  EXPECT_FALSE(layout.nodes[0].interval);
  EXPECT_EQ(layout.nodes[0].time, 3.0);
  EXPECT_EQ(layout.nodes[0].end, 3.0);
  EXPECT_TRUE(layout.nodes[2].interval);
  EXPECT_EQ(layout.nodes[2].name, "Spent");
  EXPECT_EQ(layout.nodes[2].time, 2.0);
  EXPECT_EQ(layout.nodes[2].end, 8.0);
  // The decisions' actions are found in the model: each fires impulses.
  EXPECT_EQ(file.NumImpulseActions, 2);
}
