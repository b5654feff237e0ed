// The exact solver: its results checked against the laws of probability,
// against values derived by hand from the model's rules, and against a
// simulation of 100,000 replications; its refusal of random delays; its
// options.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "attack_flow_solve/ExactSolver.h"
#include "attack_flow_solve/SolveProgram.h"
#include "base/BaseActionClass.h"
#include "distributions/DistributionDefinition.h"
#include "results/Results.h"
#include "simulator/ProcessSupport.h"
#include "simulator/SimulatorClass.h"

#if defined(__SANITIZE_ADDRESS__)
#define SOLVER_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOLVER_TEST_SANITIZED 1
#endif
#endif

namespace {

const int kPVs = 8;
const int kInstants = 21;  // 0, 5, ..., 100
const double kTolerance = 1e-12;

// Only one driver may exist per process: the suite shares one, solved once.
class SolverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = solver::BuildSimulator().release();
    results_ = new StudyResults;
    stats_ = new solver::SolveStats;
    solver::ExactSolver exact(*sim_);
    std::string error;
    solved_ = exact.Solve(results_, &error);
    *stats_ = exact.stats();
    error_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    std::unique_ptr<SimulatorClass> sim(sim_);
    solver::DestroySimulator(sim);
    delete results_;
    delete stats_;
    delete error_;
  }
  void SetUp() override { ASSERT_TRUE(solved_) << *error_; }

  // The result of PV pv at instant 5 * t.
  static const NodeResult& at(int pv, int t) { return results_->nodes.at(pv * kInstants + t); }

  static SimulatorClass* sim_;
  static StudyResults* results_;
  static solver::SolveStats* stats_;
  static std::string* error_;
  static bool solved_;
};

SimulatorClass* SolverTest::sim_ = nullptr;
StudyResults* SolverTest::results_ = nullptr;
solver::SolveStats* SolverTest::stats_ = nullptr;
std::string* SolverTest::error_ = nullptr;
bool SolverTest::solved_ = false;

TEST_F(SolverTest, ResultsObeyTheLawsOfProbability) {
  ASSERT_EQ(results_->nodes.size(), static_cast<size_t>(kPVs * kInstants));
  EXPECT_EQ(results_->method, "exact");
  const char* names[kPVs] = {"NoKeyNoAccess", "SSIDandMAC", "NetworkKey", "Network Access",
                             "Hijacking",     "MITM",       "DOS",        "Sensitive Information"};
  for (int pv = 0; pv < kPVs; pv++) {
    for (int t = 0; t < kInstants; t++) {
      const NodeResult& r = at(pv, t);
      SCOPED_TRACE(r.name + " at " + std::to_string(r.time));
      EXPECT_EQ(r.pvId, pv * kInstants + t);
      EXPECT_EQ(r.name, names[pv]);
      EXPECT_EQ(r.time, 5.0 * t);
      EXPECT_EQ(r.n, 0);
      EXPECT_EQ(r.lower, r.mean);
      EXPECT_EQ(r.upper, r.mean);
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
  for (int t = 0; t < kInstants; t++) EXPECT_NEAR(at(0, t).mean, 1.0, kTolerance);
  // Goals and knowledge, once gained, are kept: the probabilities never fall.
  for (int pv = 1; pv < kPVs; pv++)
    for (int t = 1; t < kInstants; t++) EXPECT_GE(at(pv, t).mean, at(pv, t - 1).mean - kTolerance);

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
  for (int t = 0; t < kInstants; t++) {
    double s = 5.0 * t;
    int k = s < 10.0 ? 0 : static_cast<int>(std::floor((s - 2.0) / 8.0));
    EXPECT_NEAR(at(2, t).mean, 1.0 - std::pow(0.1, k), kTolerance) << "NetworkKey at " << s;
    EXPECT_NEAR(at(1, t).mean, t == 0 ? 0.0 : 1.0, kTolerance) << "SSIDandMAC at " << s;
  }
  EXPECT_NEAR(at(2, 2).mean, 0.9, kTolerance);    // NetworkKey at 10
  EXPECT_NEAR(at(2, 4).mean, 0.99, kTolerance);   // at 20: attempts at 10 and 18
  EXPECT_NEAR(at(2, 6).mean, 0.999, kTolerance);  // at 30: and at 26
  for (int pv = 3; pv < kPVs; pv++)
    for (int t = 0; t <= 2; t++) EXPECT_EQ(at(pv, t).mean, 0.0) << at(pv, t).name << " at " << 5 * t;
}

// The values-part of every observation record of a binary result file,
// streamed: per node, the number of observations and of ones; false when an
// observation is not 0 or 1 or the file is malformed.
bool countOnes(const std::string& path, int nodes, std::vector<long long>* n,
               std::vector<long long>* ones) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(256);
  n->assign(nodes, 0);
  ones->assign(nodes, 0);
  std::vector<unsigned char> record;
  for (;;) {
    unsigned char head[4];
    if (!in.read(reinterpret_cast<char*>(head), 4)) return in.eof() && in.gcount() == 0;
    uint32_t length = (uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) |
                      (uint32_t(head[2]) << 8) | head[3];
    if (length < 9) return false;
    record.resize(length - 4);
    if (!in.read(reinterpret_cast<char*>(record.data()), record.size())) return false;
    size_t p = 0;
    auto field = [&](int bytes) {
      uint64_t v = 0;
      for (int i = 0; i < bytes; i++) v = (v << 8) | record.at(p++);
      return v;
    };
    field(1);  // client
    field(2);  // experiment
    int entries = static_cast<int>(field(2));
    for (int e = 0; e < entries; e++) {
      int pv = static_cast<int>(field(2));
      int kind = static_cast<int>(field(1));
      int32_t count = static_cast<int32_t>(field(4));
      if (pv < 0 || pv >= nodes || count < 0) return false;
      for (int32_t k = 0; k < count; k++) {
        uint64_t bits = field(8);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (v != 0.0 && v != 1.0) return false;
        if (kind == 1) {
          (*n)[pv]++;
          if (v == 1.0) (*ones)[pv]++;
        }
      }
    }
    if (p != record.size()) return false;
  }
}

TEST_F(SolverTest, AgreesWithSimulation) {
#ifdef SOLVER_TEST_SANITIZED
  const int replications = 20000;  // the instrumented simulator is slow
#else
  const int replications = 100000;
#endif
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string file = dir.file("run.bin");
  proc::Result run =
      proc::runSimulator({"-N", std::to_string(replications), "-s", "271828", "-b", file});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const int nodes = kPVs * kInstants;
  std::vector<long long> n, ones;
  ASSERT_TRUE(countOnes(file, nodes, &n, &ones)) << "unreadable or non-0/1 observations";

  const double z = 3.2905267314919255;  // two-sided 99.9%
  for (int i = 0; i < nodes; i++) {
    const NodeResult& exact = results_->nodes[i];
    SCOPED_TRACE(exact.name + " at " + std::to_string(exact.time));
    ASSERT_EQ(n[i], replications);
    double phat = static_cast<double>(ones[i]) / n[i];
    // Certain outcomes must be certain in every replication.
    if (std::fabs(exact.mean) < kTolerance) {
      EXPECT_EQ(ones[i], 0);
      continue;
    }
    if (std::fabs(exact.mean - 1.0) < kTolerance) {
      EXPECT_EQ(ones[i], n[i]);
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

// Test-only actions: a delay drawn from an exponential distribution, honestly
// declared or passed off as deterministic.
class RandomDelayAction : public BaseActionClass {
 public:
  RandomDelayAction(const char* name, Distribution kind) {
    defineName(name);
    DistributionType = kind;
  }
  double SampleDistribution() override { return TheDistribution->Exponential(1.0); }
};

class FixedDelayAction : public BaseActionClass {
 public:
  FixedDelayAction(const char* name, double delay) : delay_(delay) {
    defineName(name);
    DistributionType = DeterministicDistribution;
  }
  double SampleDistribution() override { return TheDistribution->Deterministic(delay_); }

 private:
  double delay_;
};

TEST_F(SolverTest, RefusesDelaysThatAreNotDeterministic) {
  {
    solver::ScriptedDraws draws;
    FixedDelayAction fixed("Fixed", 3.0);
    FixedDelayAction instant("Instant", 0.0);
    instant.DistributionType = ZeroDelayDistribution;
    RandomDelayAction declared("ExponentialDelay", DefaultDistribution);
    RandomDelayAction disguised("DisguisedDelay", DeterministicDistribution);
    FixedDelayAction negative("NegativeDelay", -1.0);

    std::string error;
    BaseActionClass* good[] = {&fixed, &instant};
    EXPECT_TRUE(solver::CheckDelayKinds(good, 2, &error)) << error;
    EXPECT_TRUE(solver::CheckDelaysDrawNothing(good, 2, draws.generator(), &error)) << error;

    BaseActionClass* byKind[] = {&fixed, &declared};
    EXPECT_FALSE(solver::CheckDelayKinds(byKind, 2, &error));
    EXPECT_NE(error.find("ExponentialDelay"), std::string::npos) << error;
    EXPECT_NE(error.find("type 1"), std::string::npos) << error;

    // Declared deterministic, but sampling it draws a uniform.
    BaseActionClass* bySampling[] = {&fixed, &disguised};
    EXPECT_TRUE(solver::CheckDelayKinds(bySampling, 2, &error));
    EXPECT_FALSE(solver::CheckDelaysDrawNothing(bySampling, 2, draws.generator(), &error));
    EXPECT_NE(error.find("DisguisedDelay"), std::string::npos) << error;

    BaseActionClass* backwards[] = {&negative};
    EXPECT_FALSE(solver::CheckDelaysDrawNothing(backwards, 1, draws.generator(), &error));
    EXPECT_NE(error.find("NegativeDelay"), std::string::npos) << error;
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

TEST(SolverOptionsTest, ParsesOutputsAndRejectsBadOptions) {
  auto parse = [](std::vector<std::string> words, solver::ProgramOptions* o, std::string* e) {
    words.insert(words.begin(), "attack_flow_solve");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    return solver::ParseOptions(static_cast<int>(argv.size()), argv.data(), o, e);
  };
  solver::ProgramOptions o;
  std::string e;
  EXPECT_EQ(parse({}, &o, &e), 0);
  EXPECT_FALSE(o.csv || o.json || o.help);
  EXPECT_EQ(parse({"--csv", "a.csv", "--json=-", "--csv=b.csv"}, &o, &e), 0);
  EXPECT_TRUE(o.csv && o.json);
  EXPECT_EQ(o.csvPath, "b.csv");
  EXPECT_EQ(o.jsonPath, "-");
  EXPECT_EQ(parse({"--help"}, &o, &e), 0);
  EXPECT_TRUE(o.help);

  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--csv"}, {"--json="}, {"--table"}, {"results.csv"}, {"-N", "5"}}) {
    EXPECT_EQ(parse(bad, &o, &e), solver::kExitBadOptions) << bad[0];
    EXPECT_FALSE(e.empty());
  }

  // The program itself: bad options end with status 2 and a message, help
  // with status 0, neither building the model.
  std::vector<std::string> words = {"attack_flow_solve", "--frobnicate"};
  std::vector<char*> argv = {&words[0][0], &words[1][0]};
  std::ostringstream out, err;
  EXPECT_EQ(solver::RunProgram(2, argv.data(), out, err), solver::kExitBadOptions);
  EXPECT_NE(err.str().find("--frobnicate"), std::string::npos);
  EXPECT_TRUE(out.str().empty());
  words[1] = "-h";
  argv[1] = &words[1][0];
  std::ostringstream helpOut, helpErr;
  EXPECT_EQ(solver::RunProgram(2, argv.data(), helpOut, helpErr), 0);
  EXPECT_NE(helpOut.str().find("--csv FILE"), std::string::npos);
}

}  // namespace
