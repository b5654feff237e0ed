// The exact solver: its results checked against the laws of probability,
// against values derived by hand from the model's rules, and against a
// simulation of 100,000 replications; its refusal of random delays; its
// options; model files (the built-in model's file, a tiny hand-solved one).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "attack_flow_solve/ExactSolver.h"
#include "attack_flow_solve/SolveProgram.h"
#include "base/BaseActionClass.h"
#include "distributions/DistributionDefinition.h"
#include "results/Results.h"
#include "rewards/MeasureLayout.h"
#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"
#include "support/ResultFiles.h"

namespace {

const double kTolerance = 1e-12;

// A node's row as derived by hand: name, time, exact mean and variance.
struct ExpectedNode {
  const char* name;
  double time, mean, variance;
};

// Checks the solver's CSV output against the rows derived by hand, in order.
void ExpectRows(const std::string& csvText, const ExpectedNode* expected, size_t count) {
  StudyResults results;
  std::string error;
  std::istringstream csv(csvText);
  ASSERT_TRUE(ReadCsv(csv, &results, &error)) << error;
  ASSERT_EQ(results.nodes.size(), count) << csvText;
  for (size_t i = 0; i < results.nodes.size(); i++) {
    const NodeResult& r = results.nodes[i];
    SCOPED_TRACE(r.name + " at " + std::to_string(r.time));
    EXPECT_EQ(r.pvId, static_cast<int>(i));
    EXPECT_EQ(r.name, expected[i].name);
    EXPECT_EQ(r.time, expected[i].time);
    EXPECT_NEAR(r.mean, expected[i].mean, kTolerance);
    EXPECT_NEAR(r.variance, expected[i].variance, 1e-9);
  }
}

// Only one driver may exist per process: the suite shares one, solved once.
struct Solved {
  std::unique_ptr<SimulatorClass> sim = solver::BuildSimulator();
  StudyResults results;
  solver::SolveStats stats;
  std::string error;
  bool ok = false;
  // The model's measures: nodes PV by PV, each PV at the same instants.
  MeasureLayout layout = sim->pvModel->Measures();
  int instants = 0;
  Solved() {
    for (const MeasureLayout::Node& node : layout.nodes) instants += node.pv == 0;
    solver::ExactSolver exact(*sim);
    ok = exact.Solve(&results, &error);
    stats = exact.stats();
  }
  ~Solved() { solver::DestroySimulator(sim); }
};

class SolverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    solved_ = new Solved;
    pvs_ = solved_->layout.numPVs;
    instants_ = solved_->instants;
  }
  static void TearDownTestSuite() { delete solved_; }
  void SetUp() override { ASSERT_TRUE(solved_->ok) << solved_->error; }

  // The result of PV pv at instant 5 * t.
  static const NodeResult& at(int pv, int t) { return solved_->results.nodes.at(pv * instants_ + t); }
  static inline int pvs_ = 0;
  static inline int instants_ = 0;

  static inline Solved* solved_ = nullptr;
  SimulatorClass* sim_ = solved_->sim.get();
  const StudyResults* results_ = &solved_->results;
  const solver::SolveStats* stats_ = &solved_->stats;
};

TEST_F(SolverTest, ResultsObeyTheLawsOfProbability) {
  // attack_flow: 8 PVs at the 21 instants 0, 5, ..., 100, labelled as the
  // model describes its measures.
  ASSERT_EQ(pvs_, 8);
  ASSERT_EQ(instants_, 21);
  ASSERT_EQ(results_->nodes.size(), static_cast<size_t>(pvs_ * instants_));
  for (size_t i = 0; i < results_->nodes.size(); i++) {
    EXPECT_EQ(results_->nodes[i].name, solved_->layout.nodes[i].name);
    EXPECT_EQ(results_->nodes[i].time, solved_->layout.nodes[i].time);
  }
  EXPECT_EQ(results_->method, "exact");
  for (int pv = 0; pv < pvs_; pv++) {
    for (int t = 0; t < instants_; t++) {
      const NodeResult& r = at(pv, t);
      SCOPED_TRACE(r.name + " at " + std::to_string(r.time));
      EXPECT_EQ(r.pvId, pv * instants_ + t);
      EXPECT_EQ(r.time, 5.0 * t);
      // Every PV reads a 0/1 variable: its mean is a probability and the
      // variance of one observation is p(1 - p).
      EXPECT_GE(r.mean, -kTolerance);
      EXPECT_LE(r.mean, 1.0 + kTolerance);
      EXPECT_NEAR(r.variance, r.mean * (1.0 - r.mean), kTolerance);
      // Every path observes every instant exactly once.
      EXPECT_NEAR(stats_->coverage.at(r.pvId), 1.0, kTolerance);
    }
  }
  // NoKeyNoAccess never changes from its initial 1.
  for (int t = 0; t < instants_; t++) EXPECT_NEAR(at(0, t).mean, 1.0, kTolerance);
  // Goals and knowledge, once gained, are kept: the probabilities never fall.
  for (int pv = 1; pv < pvs_; pv++)
    for (int t = 1; t < instants_; t++) EXPECT_GE(at(pv, t).mean, at(pv, t - 1).mean - kTolerance);

  // Each round of the exploration is a cut through the tree of choices: the
  // branches expanded now, those waiting for later and those finished
  // together carry probability 1.
  ASSERT_FALSE(stats_->layers.empty());
  double last = 0.0;
  for (const solver::Layer& layer : stats_->layers) {
    EXPECT_NEAR(layer.mass, 1.0, kTolerance) << "time " << layer.time << " round " << layer.round;
    EXPECT_GE(layer.time, last);
    EXPECT_LE(layer.time, 100.0);
    EXPECT_GT(layer.branches, 0);
    last = layer.time;
  }
  EXPECT_GT(stats_->finished, 0);
  EXPECT_LE(stats_->expanded, stats_->successors + 1);
}

// Derivation from the model's rules (all skills are 10).
//  - Construction decides Networkscanning; at time 0 the decision group
//    fires it at once and its step is due at 2. At 2 SSIDMACtargetnetwork
//    becomes 1 and the next decision, made at once, is PasswordCapture: 8
//    time units, success (NetworkKey := 1) with probability 0.9.
//  - A failure changes nothing, so the state image is the one of time 2 and
//    the decision is PasswordCapture again. Attempts therefore end at 10, 18,
//    26, ... until one succeeds, and NetworkKey, once 1, stays 1 (no effect
//    clears it; the only other way to it, RogueAP, is never chosen on this
//    path). With k(s) attempts ended by s, P(NetworkKey = 1 at s) =
//    1 - 0.1^k(s), k(s) = 0 for s < 10 and floor((s - 2) / 8) after.
//  - An instant observes the state after every firing at that instant: at
//    s = 10 the first attempt has ended, so P = 0.9 (not 0); at s = 0 the
//    decision has fired but Networkscanning has not, so SSIDandMAC is 0,
//    and from s = 5 on it is 1.
//  - Network Access, Hijacking, MITM, DOS and Sensitive Information all need
//    NetworkKey first (directly, or through Network Access or MITM) and then
//    a step of at least 1 time unit: 0 up to s = 10.
TEST_F(SolverTest, EarlyInstantsMatchHandDerivedValues) {
  for (int t = 0; t < instants_; t++) {
    double s = 5.0 * t;
    int k = s < 10.0 ? 0 : static_cast<int>(std::floor((s - 2.0) / 8.0));
    EXPECT_NEAR(at(2, t).mean, 1.0 - std::pow(0.1, k), kTolerance) << "NetworkKey at " << s;
    EXPECT_NEAR(at(1, t).mean, t == 0 ? 0.0 : 1.0, kTolerance) << "SSIDandMAC at " << s;
  }
  EXPECT_NEAR(at(2, 2).mean, 0.9, kTolerance);    // NetworkKey at 10
  EXPECT_NEAR(at(2, 4).mean, 0.99, kTolerance);   // at 20: attempts at 10 and 18
  EXPECT_NEAR(at(2, 6).mean, 0.999, kTolerance);  // at 30: and at 26
  for (int pv = 3; pv < pvs_; pv++)
    for (int t = 0; t <= 2; t++) EXPECT_EQ(at(pv, t).mean, 0.0) << at(pv, t).name << " at " << 5 * t;
}

TEST_F(SolverTest, AgreesWithSimulation) {
#ifdef __SANITIZE_ADDRESS__
  const int replications = 20000;  // the instrumented simulator is slow
#else
  const int replications = 100000;
#endif
  support::TempDir dir;
  const std::string file = dir.file("run.bin");
  support::Result run = support::runSimulator({"-N", std::to_string(replications), "-s", "271828", "-b", file});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Per node the number of observations and of ones, streamed.
  const int nodes = pvs_ * instants_;
  std::vector<long long> n(nodes, 0), ones(nodes, 0);
  long long other = 0;
  std::ifstream in(file, std::ios::binary);
  in.seekg(256);
  ASSERT_TRUE(support::forEachRecord(in, [&](const support::Record& r, const std::string&) {
    for (const support::Entry& e : r.entries)
      for (double v : e.values) {
        if (e.kind != 1 || e.pv >= nodes || (v != 0.0 && v != 1.0)) {
          other++;
        } else {
          n[e.pv]++;
          ones[e.pv] += v == 1.0;
        }
      }
  }));
  ASSERT_EQ(other, 0) << "observations that are not 0/1 values of a node";

  const double z = 3.2905267314919255;  // two-sided 99.9%
  for (int i = 0; i < nodes; i++) {
    const NodeResult& exact = results_->nodes[i];
    SCOPED_TRACE(exact.name + " at " + std::to_string(exact.time));
    ASSERT_EQ(n[i], replications);
    double phat = static_cast<double>(ones[i]) / n[i];
    // Certain outcomes must be certain in every replication.
    if (std::fabs(exact.mean) < kTolerance || std::fabs(exact.mean - 1.0) < kTolerance) {
      EXPECT_EQ(ones[i], std::lround(exact.mean) * n[i]);
      continue;
    }
    // Wilson score interval for a proportion.
    double m = static_cast<double>(n[i]);
    double centre = (phat + z * z / (2 * m)) / (1 + z * z / m);
    double half = z / (1 + z * z / m) * std::sqrt(phat * (1 - phat) / m + z * z / (4 * m * m));
    EXPECT_GE(exact.mean, centre - half) << "simulated " << phat;
    EXPECT_LE(exact.mean, centre + half) << "simulated " << phat;
  }
}

// A test-only action: a delay drawn from an exponential distribution, passed
// off as deterministic.
class DisguisedDelay : public BaseActionClass {
 public:
  DisguisedDelay() {
    defineName("DisguisedDelay");
    DistributionType = DeterministicDistribution;
  }
  double SampleDistribution() override { return TheDistribution->Exponential(1.0); }
};

TEST_F(SolverTest, RefusesDelaysThatAreNotDeterministic) {
  {
    // Declared deterministic, but sampling it draws a uniform.
    solver::ScriptedDraws draws;
    DisguisedDelay disguised;
    BaseActionClass* actions[] = {&disguised};
    std::string error;
    EXPECT_TRUE(solver::CheckDelayKinds(actions, 1, &error));
    EXPECT_FALSE(solver::CheckDelaysDrawNothing(actions, 1, draws.generator(), &error));
    EXPECT_TRUE(support::contains(error, "DisguisedDelay")) << error;
  }

  // The model itself with one outcome's delay declared random is refused by
  // name, and the model is left ready to be solved again.
  BaseActionClass* step = nullptr;
  for (int i = 0; i < sim_->NumActions; i++)
    if (std::string(sim_->Actions[i]->getName()) == "PasswordCaptureSuccessStep") step = sim_->Actions[i];
  ASSERT_NE(step, nullptr);
  step->DistributionType = DefaultDistribution;
  StudyResults refused;
  std::string error;
  {
    solver::ExactSolver exact(*sim_);
    EXPECT_FALSE(exact.Solve(&refused, &error));
  }
  step->DistributionType = DeterministicDistribution;
  EXPECT_NE(error.find("PasswordCaptureSuccessStep"), std::string::npos) << error;

  StudyResults again;
  solver::ExactSolver exact(*sim_);
  ASSERT_TRUE(exact.Solve(&again, &error)) << error;
  ASSERT_EQ(again.nodes.size(), results_->nodes.size());
  for (size_t i = 0; i < again.nodes.size(); i++) EXPECT_EQ(again.nodes[i].mean, results_->nodes[i].mean);
}

// The merge key leaves out the enabling flags of actions whose unit is not
// scheduled, and every `wasEnabled`, on the argument that the driver cannot
// read them before refreshing them. Keying on all of them must then change
// nothing but (at most) the amount of merging.
TEST_F(SolverTest, HiddenEnablingFlagsCannotChangeTheResult) {
  solver::SolveOptions options;
  options.keyAllHiddenFlags = true;
  solver::ExactSolver exact(*sim_, options);
  StudyResults keyedOnAll;
  std::string error;
  ASSERT_TRUE(exact.Solve(&keyedOnAll, &error)) << error;
  EXPECT_GE(exact.stats().expanded, stats_->expanded);
  ASSERT_EQ(keyedOnAll.nodes.size(), results_->nodes.size());
  for (size_t i = 0; i < keyedOnAll.nodes.size(); i++) {
    EXPECT_NEAR(keyedOnAll.nodes[i].mean, results_->nodes[i].mean, kTolerance) << i;
    EXPECT_NEAR(keyedOnAll.nodes[i].variance, results_->nodes[i].variance, kTolerance) << i;
  }
}

// The program's JSON, to a file and to standard output, is valid JSON with
// the exact results; a failed write to standard output is an error.
TEST_F(SolverTest, ProgramWritesValidJsonAndReportsAFailedStandardOutput) {
  const support::TempDir dir;
  const std::string solve = support::program("attack_flow_solve");
  const support::Result toFile = support::run(solve, {"--json", dir.file("exact.json")});
  ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
  const support::Result toOut = support::run(solve, {"--json", "-"});
  ASSERT_EQ(toOut.exitCode, 0) << toOut.err;
  for (const std::string& text : {support::readFile(dir.file("exact.json")), toOut.out}) {
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    ASSERT_TRUE(j.is_object() && j.contains("nodes")) << text;
    EXPECT_EQ(j.value("method", std::string()), "exact");
    EXPECT_TRUE(j.value("complete", false));
    const nlohmann::json& nodes = j["nodes"];
    ASSERT_EQ(nodes.size(), results_->nodes.size());
    for (size_t i = 0; i < nodes.size(); i++) {
      EXPECT_EQ(nodes[i].value("pv_id", -1), results_->nodes[i].pvId);
      EXPECT_EQ(nodes[i].value("mean", -1.0), results_->nodes[i].mean) << i;
      EXPECT_EQ(nodes[i].value("variance", -1.0), results_->nodes[i].variance) << i;
    }
  }
  for (const char* output : {"", "--json -"}) {
    const support::Result full =
        support::run("/bin/sh", {"-c", std::string("exec \"$0\" ") + output + " >/dev/full", solve});
    EXPECT_EQ(full.exitCode, solver::kExitUnsolvable) << output;
    EXPECT_TRUE(support::contains(full.err, "to standard output")) << full.err;
  }
}

// Bad options end the program with status 2 and a message, help with
// status 0, neither building the model.
TEST(SolverOptionsTest, ParsesOutputsAndRejectsBadOptions) {
  auto run = [](std::vector<std::string> words, std::string* out, std::string* err) {
    words.insert(words.begin(), "attack_flow_solve");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    std::ostringstream o, e;
    int code = solver::RunProgram(static_cast<int>(argv.size()), argv.data(), o, e);
    *out = o.str();
    *err = e.str();
    return code;
  };
  std::string out, err;
  for (const std::string bad : {"--frobnicate", "--csv", "--json=", "results.csv"}) {
    EXPECT_EQ(run({bad}, &out, &err), solver::kExitBadOptions) << bad;
    EXPECT_TRUE(support::contains(err, bad.substr(0, 6))) << err;
    EXPECT_TRUE(out.empty());
  }
  EXPECT_EQ(run({"--model"}, &out, &err), solver::kExitBadOptions);
  EXPECT_TRUE(support::contains(err, "--model needs a model file name")) << err;
  EXPECT_EQ(run({"-h"}, &out, &err), 0);
  EXPECT_TRUE(support::contains(out, "--csv FILE"));
  EXPECT_TRUE(support::contains(out, "--model FILE"));
}

// The built-in model's file gives the built-in model's results, byte for
// byte, in the table and in the CSV.
TEST(SolverModelFileTest, BuiltInModelFileGivesTheSameResults) {
  const std::string solve = support::program("attack_flow_solve");
  const std::string file = TARVEX_SOURCE_DIR "/models/attack_flow.toml";
  for (const std::vector<std::string>& format : {std::vector<std::string>{}, {"--csv", "-"}}) {
    std::vector<std::string> withFile = {"--model", file};
    withFile.insert(withFile.end(), format.begin(), format.end());
    const support::Result builtIn = support::run(solve, format);
    const support::Result fromFile = support::run(solve, withFile);
    ASSERT_EQ(builtIn.exitCode, 0) << builtIn.err;
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
    EXPECT_GT(builtIn.out.size(), 1000u);
    EXPECT_EQ(fromFile.out, builtIn.out);
  }
}

// A coin flipped once at time 0, landing at 2: heads with weight 0.3, tails
// with 0.7. After heads the adversary cashes in (1 time unit, Won := 1);
// otherwise, and afterwards, it waits in steps of 1. Derived by hand:
//   Heads at 0, 1: 0; at 2, 3, 4: 0.3, variance 0.3 x 0.7 = 0.21.
//   Score = Heads + 2 Won at 2: Won is still 0, so 0.3 and 0.21; at 3: 3
//   with probability 0.3, else 0: mean 0.9, E[X^2] = 2.7, variance 1.89.
// The same coin with a random delay is refused, naming the step. With tails
// landing at 5 instead (after the run's end at 4; the outcome is then drawn
// when the flip is taken) every value is the same.
TEST(SolverModelFileTest, TinyModelMatchesHandDerivedValues) {
  const std::string model = R"toml(format = 1
name = "coin"
description = "One flip of a biased coin"

[adversary]
cost_weight = 0.2
detection_weight = 0.2
payoff_weight = 0.6
planning_horizon = 1
cost_utility = "1 - x / 10"
detection_utility = "1 - x"
payoff_utility = "x / 100"

[[variable]]
name = "Heads"
kind = "goal"
payoff = 100

[[variable]]
name = "Done"
kind = "knowledge"

[[variable]]
name = "Won"
kind = "knowledge"

[[decision]]
name = "Flip"
precondition = "Done == 0"

  [[decision.outcome]]
  name = "Head"
  probability = 0.3
  effects = { Heads = 1, Done = 1 }
  delay = 2

  [[decision.outcome]]
  name = "Tail"
  probability = 0.7
  effects = { Done = 1 }
  delay = TAIL_DELAY

[[decision]]
name = "Cash"
precondition = "Heads == 1 and Won == 0"

  [[decision.outcome]]
  name = "Take"
  probability = 1
  effects = { Won = 1 }
  delay = 1

[[decision]]
name = "Wait"
precondition = "Done == 1 and (Heads == 0 or Won == 1)"

  [[decision.outcome]]
  name = "Idle"
  probability = 1
  delay = 1

[[measure]]
name = "Heads"
value = "Heads"
times = [0, 1, 2, 3, 4]

[[measure]]
name = "Score"
value = "Heads + 2 * Won"
times = [2, 3]
)toml";
  const support::TempDir dir;
  auto write = [&](const std::string& name, const std::string& tailDelay) {
    std::string text = model;
    text.replace(text.find("TAIL_DELAY"), 10, tailDelay);
    support::writeFile(dir.file(name), text);
    return dir.file(name);
  };
  const std::string solve = support::program("attack_flow_solve");
  const support::Result run = support::run(solve, {"--model", write("coin.toml", "2"), "--csv", "-"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const ExpectedNode expected[] = {{"Heads", 0, 0, 0},        {"Heads", 1, 0, 0},
                               {"Heads", 2, 0.3, 0.21},   {"Heads", 3, 0.3, 0.21},
                               {"Heads", 4, 0.3, 0.21},   {"Score", 2, 0.3, 0.21},
                               {"Score", 3, 0.9, 1.89}};
  ExpectRows(run.out, expected, std::size(expected));

  const support::Result table = support::run(solve, {"--model", dir.file("coin.toml")});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(support::contains(table.out, "Score")) << table.out;

  const support::Result refused = support::run(
      solve, {"--model", write("random.toml", R"({ distribution = "exponential", rate = 0.5 })")});
  EXPECT_EQ(refused.exitCode, solver::kExitUnsolvable);
  EXPECT_TRUE(support::contains(refused.err, "cannot solve the model exactly")) << refused.err;
  EXPECT_TRUE(support::contains(refused.err, "Tail")) << refused.err;
  EXPECT_TRUE(refused.out.empty()) << refused.out;

  const support::Result apart =
      support::run(solve, {"--model", write("apart.toml", "5"), "--csv", "-"});
  EXPECT_EQ(apart.exitCode, 0) << apart.err;
  EXPECT_EQ(apart.out, run.out);
}

// tests/tools/data/breach.toml, by hand. Breach is taken at 0 (cost 3); its
// outcome is drawn then: In (0.6) lands at 5 (Foothold = 1, Stage 1), then
// Exfiltrate is taken at 5 (cost 1) and done at 8 (Stage 3), then Wait is
// taken at 8; Out (0.4) lands at 2 (Stage 2), then Wait is taken at 2, 6, 10.
//   Foothold at 4: 0; at 5 (the landing counts), 10: 0.6, variance 0.24.
//   FootholdTime over [6, 10]: 4 with 0.6: mean 2.4, E[X^2] 9.6, var 3.84.
//   Spent over [0, 5] and [0, 8]: 3 + 1 (Exfiltrate at 5, the end) = 4 with
//   0.6, else 3: mean 3.6, var 0.24.
//   Waits from 2 over [2, 6]: 2 (at 2, the start, and 6) with 0.4: mean 0.8,
//   var 0.96; over [2, 10]: 3 with 0.4, 1 (at 8) with 0.6: mean 1.8,
//   E[X^2] 4.2, var 0.96.
//   Score over [0, 4]: Stage 2 held for 2 with 0.4, else 0: mean 1.6, var
//   3.84; over [0, 5]: 6 with 0.4; with 0.6 Stage 0 up to 5 and the impulse
//   10 x Foothold in the state after In: 10. Mean 8.4, E[X^2] 74.4, var 3.84.
const ExpectedNode kBreach[] = {{"Foothold", 4, 0, 0},          {"Foothold", 5, 0.6, 0.24},
                              {"Foothold", 10, 0.6, 0.24},    {"FootholdTime", 10, 2.4, 3.84},
                              {"Spent", 5, 3.6, 0.24},        {"Spent", 8, 3.6, 0.24},
                              {"Waits", 6, 0.8, 0.96},        {"Waits", 10, 1.8, 0.96},
                              {"Score", 4, 1.6, 3.84},        {"Score", 5, 8.4, 3.84}};
const std::string kBreachModel = TARVEX_SOURCE_DIR "/tests/tools/data/breach.toml";

TEST(SolverModelFileTest, AccumulatedMeasuresAndOutcomesDrawnWhenTakenMatchHandDerivedValues) {
  const std::string solve = support::program("attack_flow_solve");
  const support::Result run = support::run(solve, {"--model", kBreachModel, "--csv", "-"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectRows(run.out, kBreach, std::size(kBreach));
  // The two paths, with the draw's weights and the steps' times.
  const support::Result paths = support::run(solve, {"--model", kBreachModel, "--paths", "-"});
  ASSERT_EQ(paths.exitCode, 0) << paths.err;
  EXPECT_TRUE(support::contains(paths.out, "1,0.6,0.6,0.6,0,Breach:In > Exfiltrate,5 8,")) << paths.out;
  EXPECT_TRUE(support::contains(paths.out, "2,0.4,0.4,0.4,0,Breach:Out > idle,2 6,")) << paths.out;
}

// The same model in process: keying branches on every hidden flag and every
// held outcome, read or not, merges less and changes no value; every node
// is observed with probability 1.
TEST(SolverModelFileTest, KeyingOnAllHiddenStateChangesNoAccumulatedValue) {
  std::unique_ptr<SimulatorClass> sim = solver::BuildSimulator(kBreachModel);
  ASSERT_TRUE(sim);
  StudyResults merged, apart;
  std::string error;
  long long expandedMerged = 0;
  {
    solver::ExactSolver exact(*sim);
    ASSERT_TRUE(exact.Solve(&merged, &error)) << error;
    expandedMerged = exact.stats().expanded;
    for (double c : exact.stats().coverage) EXPECT_NEAR(c, 1.0, kTolerance);
  }
  solver::SolveOptions options;
  options.keyAllHiddenFlags = true;
  {
    solver::ExactSolver exact(*sim, options);
    ASSERT_TRUE(exact.Solve(&apart, &error)) << error;
    EXPECT_GE(exact.stats().expanded, expandedMerged);
  }
  solver::DestroySimulator(sim);
  ASSERT_EQ(merged.nodes.size(), std::size(kBreach));
  ASSERT_EQ(apart.nodes.size(), merged.nodes.size());
  for (size_t i = 0; i < merged.nodes.size(); i++) {
    EXPECT_NEAR(apart.nodes[i].mean, merged.nodes[i].mean, kTolerance) << i;
    EXPECT_NEAR(apart.nodes[i].variance, merged.nodes[i].variance, 1e-9) << i;
    EXPECT_NEAR(merged.nodes[i].mean, kBreach[i].mean, kTolerance) << i;
  }
}

// The simulator's observations of the same model, node by node: each
// sample mean within z standard errors of the exact mean (z for 99.9%
// simultaneously over the nodes, Bonferroni), each sample variance close to
// the exact one, and a node of variance 0 the exact value every time.
TEST(SolverModelFileTest, AccumulatedMeasuresAgreeWithSimulation) {
  const int replications = 40000;
  support::TempDir dir;
  const std::string file = dir.file("breach.bin");
  const support::Result run = support::runSimulator(
      {"-M", kBreachModel, "-N", std::to_string(replications), "-s", "271828", "-b", file});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const size_t nodes = std::size(kBreach);
  std::vector<double> n(nodes, 0), sum(nodes, 0), squares(nodes, 0);
  std::vector<int> off(nodes, 0);
  std::ifstream in(file, std::ios::binary);
  in.seekg(256);
  ASSERT_TRUE(support::forEachRecord(in, [&](const support::Record& r, const std::string&) {
    for (const support::Entry& e : r.entries)
      for (double v : e.values) {
        ASSERT_LT(static_cast<size_t>(e.pv), nodes);
        n[e.pv]++;
        sum[e.pv] += v;
        squares[e.pv] += (v - kBreach[e.pv].mean) * (v - kBreach[e.pv].mean);
        off[e.pv] += v != kBreach[e.pv].mean;
      }
  }));
  const double z = 3.8906;  // two-sided 0.1% / 10
  for (size_t i = 0; i < nodes; i++) {
    SCOPED_TRACE(std::string(kBreach[i].name) + " at " + std::to_string(kBreach[i].time));
    ASSERT_EQ(n[i], replications);
    if (kBreach[i].variance == 0.0) {
      EXPECT_EQ(off[i], 0);
      continue;
    }
    const double mean = sum[i] / n[i];
    EXPECT_LE(std::fabs(mean - kBreach[i].mean), z * std::sqrt(kBreach[i].variance / n[i]))
        << "simulated " << mean;
    // Squares about the exact mean estimate the variance without bias.
    EXPECT_NEAR(squares[i] / n[i], kBreach[i].variance, 0.05 * kBreach[i].variance);
  }
}

// The coin's weight of heads a global, p, swept by the study over 0.3 and
// 0.6: each experiment gives exactly p and p(1 - p) for Heads at 2 (and 0
// at 0), whatever the experiment; an override on top gives its own value;
// an experiment outside the study is a bad option, named by the driver.
TEST(SolverModelFileTest, ExperimentsAndOverridesSetTheGlobals) {
  const std::string model = R"toml(format = 1
name = "swept"

[adversary]
cost_weight = 0.2
detection_weight = 0.2
payoff_weight = 0.6
planning_horizon = 1
cost_utility = "1 - x / 10"
detection_utility = "1 - x"
payoff_utility = "x / 100"

[[global]]
name = "p"
type = "double"
default = 0.5

[[variable]]
name = "Heads"
kind = "goal"
payoff = 100

[[variable]]
name = "Done"
kind = "knowledge"

[[decision]]
name = "Flip"
precondition = "Done == 0"

  [[decision.outcome]]
  name = "Head"
  probability = "p"
  effects = { Heads = 1, Done = 1 }
  delay = 1

  [[decision.outcome]]
  name = "Tail"
  probability = "1 - p"
  effects = { Done = 1 }
  delay = 1

[[decision]]
name = "Wait"
precondition = "Done == 1"

  [[decision.outcome]]
  name = "Idle"
  probability = 1
  delay = 1

[[measure]]
name = "Heads"
value = "Heads"
times = [0, 2]

[study]
  [[study.factor]]
  global = "p"
  values = [0.3, 0.6]
)toml";
  const support::TempDir dir;
  support::writeFile(dir.file("swept.toml"), model);
  const std::string solve = support::program("attack_flow_solve");
  auto solveWith = [&](std::vector<std::string> extra, double p) {
    SCOPED_TRACE(::testing::PrintToString(extra));
    std::vector<std::string> words = {"--model", dir.file("swept.toml"), "--csv", "-"};
    words.insert(words.end(), extra.begin(), extra.end());
    const support::Result run = support::run(solve, words);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    StudyResults results;
    std::string error;
    std::istringstream csv(run.out);
    ASSERT_TRUE(ReadCsv(csv, &results, &error)) << error;
    ASSERT_EQ(results.nodes.size(), 2u) << run.out;
    EXPECT_EQ(results.nodes[0].mean, 0.0);
    EXPECT_EQ(results.nodes[0].variance, 0.0);
    EXPECT_EQ(results.nodes[1].time, 2.0);
    EXPECT_NEAR(results.nodes[1].mean, p, kTolerance);
    EXPECT_NEAR(results.nodes[1].variance, p * (1 - p), kTolerance);
  };
  solveWith({}, 0.3);
  solveWith({"-e", "0"}, 0.3);
  solveWith({"-e", "1"}, 0.6);
  solveWith({"--experiment=1"}, 0.6);
  solveWith({"-O", "d:p:0.25"}, 0.25);
  solveWith({"-e", "1", "-O", "d:p:0.25"}, 0.25);

  const support::Result outside = support::run(solve, {"--model", dir.file("swept.toml"), "-e", "2"});
  EXPECT_EQ(outside.exitCode, solver::kExitBadOptions);
  EXPECT_TRUE(support::contains(outside.err, "-e 2: the study of")) << outside.err;
  EXPECT_TRUE(support::contains(outside.err, "has 2 experiments")) << outside.err;
  EXPECT_TRUE(outside.out.empty()) << outside.out;
  for (const std::string bad : {"-1", "x", "65536", "1x"}) {
    const support::Result refused = support::run(solve, {"-e", bad});
    EXPECT_EQ(refused.exitCode, solver::kExitBadOptions) << bad;
    EXPECT_TRUE(support::contains(refused.err, "is not an experiment number")) << refused.err;
  }
}

}  // namespace
