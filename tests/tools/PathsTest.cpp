// Attack paths: the exact solver's paths against the laws of probability and
// a path worked out by hand, the simulator's tally of 100,000 replications
// against the exact probabilities, and simmgr's merged tallies.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "results/Paths.h"
#include "support/Process.h"

namespace {

const std::string kSolver = support::program("attack_flow_solve");

nlohmann::json readJson(const std::string& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in, nullptr, false);
}

std::string joined(const nlohmann::json& steps) {
  std::string text;
  for (const auto& s : steps) text += (text.empty() ? "" : " > ") + s["step"].get<std::string>();
  return text;
}

// The exact paths of attack_flow, solved once for the suite.
class ExactPaths : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new support::TempDir;
    support::Result r = support::run(kSolver, {"--paths", dir_->file("paths.json")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    all_ = new nlohmann::json(readJson(dir_->file("paths.json")));
  }
  static void TearDownTestSuite() {
    delete all_;
    delete dir_;
  }
  static inline support::TempDir* dir_ = nullptr;
  static inline nlohmann::json* all_ = nullptr;
};

TEST_F(ExactPaths, SumToOneRankedAndOnePathMatchesTheModelsProbabilities) {
  const nlohmann::json& paths = (*all_)["paths"];
  ASSERT_GT(paths.size(), 3u);
  double sum = 0.0;
  double previous = 1.0;
  std::map<std::string, nlohmann::json> byName;
  for (const auto& p : paths) {
    const double probability = p["probability"].get<double>();
    EXPECT_LE(probability, previous);  // ranked
    previous = probability;
    sum += probability;
    byName[joined(p["steps"])] = p;
    // Firing times increase along a path and lie within the run.
    double time = 0.0;
    for (const auto& s : p["steps"]) {
      EXPECT_GE(s["time"].get<double>(), time);
      time = s["time"].get<double>();
    }
    EXPECT_LE(time, 100.0);
    EXPECT_GE(p["detection"].get<double>(), 0.0);
    EXPECT_LE(p["detection"].get<double>(), 1.0);
  }
  EXPECT_NEAR(sum, 1.0, 1e-12);
  EXPECT_EQ(byName.size(), paths.size()) << "a path is listed twice";

  // By hand (every skill 10): the adversary scans, fails once to capture
  // the password (0.1, detection 0.1), captures it (0.9), joins, attacks
  // the network layer (0.9), blocks the traffic (0.9), sets up the evil
  // twin (0.9) and attacks the application layer (1), then idles. Costs:
  // 2 + 2 + 2 + 2 + 3 + 5; the goals come with the steps that reach them.
  const std::string hand =
      "Networkscanning > PasswordCapture:Failure > PasswordCapture:Success > JoinNetwork > "
      "NetworkLayerAttack:Success > BlockTrafficFlow:Success > EvilTwin:Success > "
      "ApplicationLayerAttack:Success > idle";
  ASSERT_TRUE(byName.count(hand)) << hand;
  const nlohmann::json& p = byName[hand];
  EXPECT_NEAR(p["probability"].get<double>(), 0.1 * std::pow(0.9, 4), 1e-12);
  EXPECT_NEAR(p["detection"].get<double>(), 0.1, 1e-12);
  EXPECT_NEAR(p["cost"].get<double>(), 16.0, 1e-12);
  // Delays 2, 8, 8, 1, 4, 2, 8, 7; the idle stretch begins at 41.
  std::vector<double> times;
  for (const auto& s : p["steps"]) times.push_back(s["time"].get<double>());
  EXPECT_EQ(times, (std::vector<double>{2, 10, 18, 19, 23, 25, 33, 40, 41}));
  ASSERT_EQ(p["goals"].size(), 3u);
  EXPECT_EQ(p["goals"][0]["goal"], "DOS");
  EXPECT_EQ(p["goals"][0]["time"], 25.0);
}

TEST_F(ExactPaths, AGoalsPathsAreConditionedOnReachingIt) {
  const std::string goal = "MITM";
  support::Result r = support::run(kSolver, {"--paths", dir_->file("mitm.csv"), "--goal", goal, "--top", "1000000"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // P(goal) from the unfiltered list; each filtered path is p / P(goal).
  double reach = 0.0;
  std::map<std::string, double> all;
  for (const auto& p : (*all_)["paths"]) {
    bool reaches = false;
    for (const auto& g : p["goals"]) reaches = reaches || g["goal"] == goal;
    if (reaches) {
      reach += p["probability"].get<double>();
      all[joined(p["steps"])] = p["probability"].get<double>();
    }
  }
  ASSERT_GT(reach, 0.0);
  std::istringstream csv(support::readFile(dir_->file("mitm.csv")));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "rank,probability,lower,upper,count,steps,times,goals,cost,detection");
  double sum = 0.0;
  size_t rows = 0;
  while (std::getline(csv, line)) {
    std::vector<std::string> f;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ',')) f.push_back(field);
    ASSERT_EQ(f.size(), 10u) << line;
    const double p = std::stod(f[1]);
    ASSERT_TRUE(all.count(f[5])) << f[5];
    EXPECT_NEAR(p, all[f[5]] / reach, 1e-12);
    EXPECT_NE(f[7].find(goal + "@"), std::string::npos);
    sum += p;
    rows++;
  }
  EXPECT_EQ(rows, all.size());
  EXPECT_NEAR(sum, 1.0, 1e-12);
  // Cut lists keep the ranking; the picture is drawn when dot is there.
  r = support::run(kSolver, {"--paths", dir_->file("top.json"), "--top", "3", "--min-probability", "0.01"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json top = readJson(dir_->file("top.json"));
  ASSERT_EQ(top["paths"].size(), 3u);
  for (size_t i = 0; i < 3; i++) EXPECT_EQ(top["paths"][i], (*all_)["paths"][i]);
  EXPECT_EQ(top["first_decisions"][0]["decision"], "Networkscanning");
  if (support::contains(r.out, "Picture: "))
    EXPECT_TRUE(support::contains(support::readFile(dir_->file("top.svg")), "</svg>"));
  else
    EXPECT_TRUE(support::contains(r.out, "picture skipped")) << r.out;
  // An unknown goal is a bad option, named with the goals there are.
  r = support::run(kSolver, {"--paths", dir_->file("x.csv"), "--goal", "Nothing"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(support::contains(r.err, "SensitiveInformation")) << r.err;
}

TEST_F(ExactPaths, SimulatedFrequenciesCoverTheExactProbabilities) {
  // 100,000 replications; every path above 1% must have its exact
  // probability inside a Wilson interval at 99.9% for all of them together.
  support::Result r = support::runSimulator({"-N", "100000", "-P", dir_->file("sim.tsv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::ifstream in(dir_->file("sim.tsv"));
  paths::PathSet set;
  std::string error;
  ASSERT_TRUE(paths::ReadTally(in, &set, &error)) << error;
  EXPECT_EQ(set.total, 100000.0);
  std::map<std::string, double> counts;
  for (const auto& entry : set.byKey) {
    std::string steps;
    for (const std::string& s : entry.second.steps) steps += (steps.empty() ? "" : " > ") + s;
    counts[steps] = entry.second.weight;
  }
  std::vector<std::pair<std::string, double>> likely;
  for (const auto& p : (*all_)["paths"])
    if (p["probability"].get<double>() > 0.01) likely.emplace_back(joined(p["steps"]), p["probability"].get<double>());
  ASSERT_FALSE(likely.empty());
  const double confidence = 1.0 - 0.001 / static_cast<double>(likely.size());
  for (const auto& l : likely) {
    const auto interval = paths::WilsonInterval(counts[l.first], set.total, confidence);
    EXPECT_LE(interval.first, l.second) << l.first;
    EXPECT_GE(interval.second, l.second) << l.first;
  }
}

TEST(SimulatedPaths, TallyLeavesResultFilesAloneAndSimmgrMergesTallies) {
  support::TempDir dir;
  // The same run with and without -P: the same result files, byte for byte.
  support::Result plain = support::runSimulator(
      {"-N", "3000", "-a", dir.file("a.txt"), "-b", dir.file("a.bin"), "-M", TARVEX_SOURCE_DIR "/models/enterprise.toml"});
  support::Result tallied = support::runSimulator({"-N", "3000", "-a", dir.file("b.txt"), "-b", dir.file("b.bin"), "-P",
                                                   dir.file("b.tsv"), "-M", TARVEX_SOURCE_DIR "/models/enterprise.toml"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  ASSERT_EQ(tallied.exitCode, 0) << tallied.err;
  EXPECT_EQ(support::readFile(dir.file("a.txt")), support::readFile(dir.file("b.txt")));
  EXPECT_EQ(support::readFile(dir.file("a.bin")), support::readFile(dir.file("b.bin")));
  EXPECT_EQ(support::actionsFired(plain.out), support::actionsFired(tallied.out));
  std::ifstream in(dir.file("b.tsv"));
  paths::PathSet set;
  std::string error;
  ASSERT_TRUE(paths::ReadTally(in, &set, &error)) << error;
  EXPECT_EQ(set.total, 3000.0);

  // Stopped by SIGTERM: a whole tally of exactly the replications written.
  {
    support::Background sim(dir.path(), {"-N", "0", "-b", dir.file("t.bin"), "-P", dir.file("t.tsv")});
    for (int i = 0; i < support::kPatienceMs / 5 && support::readFile(dir.file("t.bin")).size() <= 256 && !sim.ended();
         i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sim.kill(SIGTERM);
    ASSERT_EQ(sim.waitExit(), 128 + SIGTERM) << sim.err();
    std::ifstream tally(dir.file("t.tsv"));
    paths::PathSet stopped;
    ASSERT_TRUE(paths::ReadTally(tally, &stopped, &error)) << error;
    EXPECT_EQ(sim.err(), "!! Stopped by SIGTERM after " + std::to_string(std::llround(stopped.total)) +
                             " replications\n");
  }
  for (const std::string& name : dir.entries()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;

  // A study of two simulators: their tallies merged, every replication
  // they ran counted, the probabilities summing to 1.
  support::Result study = support::run(support::program("simmgr"),
                                       {"--jobs", "2", "--max", "4000", "--quiet", "--paths", "--out", dir.file("out")});
  ASSERT_EQ(study.exitCode, 0) << study.err;
  EXPECT_TRUE(support::contains(study.out, "First decision:")) << study.out;
  nlohmann::json j = readJson(dir.file("out/paths.json"));
  ASSERT_FALSE(j.is_discarded());
  EXPECT_EQ(j["method"], "simulation");
  EXPECT_EQ(j["interval"], "wilson");
  EXPECT_GE(j["replications"].get<long long>(), 4000);
  // Each path's count is the sum of its counts in the simulators' tallies.
  std::map<std::string, double> bySimulators;
  for (int i = 0; i < 2; i++) {
    std::ifstream part(dir.file("out/paths_" + std::to_string(i) + ".tsv"));
    paths::PathSet one;
    ASSERT_TRUE(paths::ReadTally(part, &one, &error)) << error;
    EXPECT_GT(one.total, 0.0);
    for (const auto& entry : one.byKey) {
      std::string steps;
      for (const std::string& s : entry.second.steps) steps += (steps.empty() ? "" : " > ") + s;
      bySimulators[steps] += entry.second.weight;
    }
  }
  EXPECT_EQ(bySimulators.size(), j["paths"].size());
  double sum = 0.0;
  long long count = 0;
  for (const auto& p : j["paths"]) {
    EXPECT_EQ(p["count"].get<double>(), bySimulators[joined(p["steps"])]) << joined(p["steps"]);
    sum += p["probability"].get<double>();
    count += p["count"].get<long long>();
    EXPECT_LE(p["lower"].get<double>(), p["probability"].get<double>());
    EXPECT_GE(p["upper"].get<double>(), p["probability"].get<double>());
  }
  EXPECT_NEAR(sum, 1.0, 1e-9);
  EXPECT_EQ(count, j["replications"].get<long long>());
}

}  // namespace
