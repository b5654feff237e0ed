// Models from files, run by the simulator program: attack_flow as a file
// writes byte for byte what the compiled model writes, under every
// generator, connectivity mode, trace and report size; the check mode; a
// faulty file stops before any file is made; a model fault stops the run
// with consistent files; interval measures and impulse rewards give the
// values worked out by hand; each outcome happens after its own delay; the
// shipped models run and their results hang together.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/ModelFile.h"
#include "support/ResultFiles.h"

using namespace support;

namespace {

const std::string kAttackFlow = TARVEX_SOURCE_DIR "/models/attack_flow.toml";

// A one-decision model whose only outcome becomes impossible (probability
// 0) once it has happened: the second time the decision is taken is a
// fault.
const char* const kCounter =
    "format = 1\nname = \"counter\"\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = 1\ncost_utility = \"0\"\ndetection_utility = \"0\"\npayoff_utility = \"x\"\n"
    "[[variable]]\nname = \"Count\"\nkind = \"knowledge\"\n"
    "[[decision]]\nname = \"Inc\"\n"
    "  [[decision.outcome]]\n  name = \"Up\"\n  probability = \"1 - Count\"\n"
    "  effects = { Count = \"Count + 1\" }\n  delay = 1\n"
    "[[measure]]\nname = \"Count\"\nvalue = \"Count\"\ntimes = [0, 10]\n";

// Fixed delays, so every replication is the same: the adversary takes Start
// at 0, Done happens at 4 (Up = 1), it takes Finish at 4 and Win happens at
// 6 (Won = 1); then nothing is possible. By hand:
//   Up at 0, 3, 4, 5, 10: 0, 0, 1 (the firing at 4 counts), 1, 1;
//   TimeUp over [0, 3], [0, 5], [0, 10]: 0, 1, 6;
//   Late over [5, 10]: Up + Won integrated, 5 + 4, plus the Win impulse 1
//     (the Start impulse at 0 lies outside): 10;
//   Spent over [0, 4], [0, 5], [0, 6], [0, 10]: Start 3 and Finish 5 + Up =
//     6 (both up to 4, its end included), Win 100 at 6: 9, 9, 109, 109.
const char* const kClock =
    "format = 1\nname = \"clock\"\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = 1\ncost_utility = \"0\"\ndetection_utility = \"0\"\npayoff_utility = \"x\"\n"
    "[[variable]]\nname = \"Up\"\nkind = \"knowledge\"\n"
    "[[variable]]\nname = \"Won\"\nkind = \"goal\"\npayoff = 1\n"
    "[[decision]]\nname = \"Start\"\nprecondition = \"Up == 0\"\ncost = 3\n"
    "  [[decision.outcome]]\n  name = \"Done\"\n  probability = 1\n"
    "  effects = { Up = 1 }\n  delay = 4\n"
    "[[decision]]\nname = \"Finish\"\nprecondition = \"Up == 1 and Won == 0\"\ncost = 5\n"
    "  [[decision.outcome]]\n  name = \"Win\"\n  probability = 1\n"
    "  effects = { Won = 1 }\n  delay = 2\n"
    "[[measure]]\nname = \"Up\"\nvalue = \"Up\"\ntimes = [0, 3, 4, 5, 10]\n"
    "[[measure]]\nname = \"TimeUp\"\nkind = \"interval\"\nvalue = \"Up\"\nend = [3, 5, 10]\n"
    "[[measure]]\nname = \"Late\"\nkind = \"interval\"\nvalue = \"Up + Won\"\nstart = 5\nend = 10\n"
    "  [[measure.impulse]]\n  decision = \"Start\"\n  value = 1000\n"
    "  [[measure.impulse]]\n  decision = \"Finish\"\n  outcome = \"Win\"\n  value = 1\n"
    "[[measure]]\nname = \"Spent\"\nkind = \"interval\"\nend = [4, 5, 6, 10]\n"
    "  [[measure.impulse]]\n  decision = \"Start\"\n  value = 3\n"
    "  [[measure.impulse]]\n  decision = \"Finish\"\n  value = \"5 + Up\"\n"
    "  [[measure.impulse]]\n  decision = \"Finish\"\n  outcome = \"Win\"\n"
    "  value = \"Won * 100\"\n";

}  // namespace

TEST(FileModel, IntervalMeasuresAndImpulsesGiveTheHandWorkedValues) {
  TempDir dir;
  writeFile(dir.file("clock.toml"), kClock);
  Result r =
      runSimulator({"-M", dir.file("clock.toml"), "-N", "3", "-n", "2", "-b", dir.file("c.bin")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  BinaryFile bin = readBinary(dir.file("c.bin"));
  ASSERT_TRUE(bin.whole);
  const std::vector<double> expected = {0, 0, 1, 1, 1, 0, 1, 6, 10, 9, 9, 109, 109};
  const int n = static_cast<int>(expected.size());
  std::vector<std::vector<double>> rows = bin.rows(n);
  ASSERT_EQ(rows.size(), 3u);
  for (const std::vector<double>& row : rows) EXPECT_EQ(row, expected);
  // Four firings per replication (two decisions, two outcomes).
  EXPECT_EQ(actionsFired(r.out), 3 * 4);
}

namespace {

// Runs a shipped model and checks what must hold whatever its parameters:
// probabilities of 0/1 variables in [0, 1], goals that stay reached never
// fewer at a later time, accumulated measures (non-negative rates and
// impulses) never smaller over a longer interval, nor a time in a state
// longer than the interval; the same seed gives the same bytes.
void CheckShippedModel(const std::string& name, const std::vector<std::string>& monotone,
                       const std::string& initialDecision) {
  SCOPED_TRACE(name);
  const std::string path = TARVEX_SOURCE_DIR "/models/" + name + ".toml";
  ModelDescription d;
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelFile(path, &d, &errors)) << errors[0].Format();

  Result check = runSimulator({"-M", path, "-K"});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_TRUE(contains(check.out, "Initial decision: " + initialDecision + " ")) << check.out;

  TempDir dir;
  const std::string a = dir.file("a.bin"), b = dir.file("b.bin");
  Result first = runSimulator({"-M", path, "-N", "2000", "-s", "77", "-b", a});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  Result second = runSimulator({"-M", path, "-N", "2000", "-s", "77", "-b", b});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_TRUE(readFile(a) == readFile(b)) << "the same seed gave different results";

  BinaryFile bin = readBinary(a);
  ASSERT_TRUE(bin.whole);
  const int numNodes = d.numNodes();
  std::vector<std::vector<double>> rows = bin.rows(numNodes);
  ASSERT_EQ(rows.size(), 2000u);
  std::vector<double> sums(numNodes, 0.0);
  for (const std::vector<double>& row : rows) {
    int node = 0;
    for (const MeasureDescription& m : d.measures) {
      bool keeps = false;
      for (const std::string& g : monotone) keeps = keeps || g == m.name;
      for (size_t t = 0; t < m.times.size(); t++, node++) {
        const double v = row[node];
        sums[node] += v;
        ASSERT_TRUE(std::isfinite(v) && v >= 0) << m.name << " " << v;
        if (!m.interval) {
          ASSERT_TRUE(v == 0 || v == 1) << m.name << " " << v;
        }
        if (t > 0 && (m.interval || keeps)) {
          ASSERT_GE(v, row[node - 1]) << m.name;
        }
        if (m.interval && m.impulses.empty()) {
          ASSERT_LE(v, m.times[t] - m.start) << m.name;
        }
      }
    }
  }
  // Something happens: the last instant of every monotone measure is
  // reached in some replications and not in all.
  int node = 0;
  for (const MeasureDescription& m : d.measures) {
    node += static_cast<int>(m.times.size());
    for (const std::string& g : monotone)
      if (g == m.name) {
        EXPECT_GT(sums[node - 1], 0.0) << m.name;
        EXPECT_LT(sums[node - 1], 2000.0) << m.name;
      }
  }
}

}  // namespace

namespace {

// One toss, taken at 0: Heads (0.3) after 2, Tails (0.7) after 5. So Heads
// at 1, 3, 6: 0, 0.3, 0.3; Tails: 0, 0, 0.7; Over = Heads + Tails: 0, 0.3, 1.
// Were every outcome timed by the first one's delay, Tails at 3 would be 0.7.
const char* const kToss =
    "format = 1\nname = \"toss\"\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = 1\ncost_utility = \"0\"\ndetection_utility = \"0\"\npayoff_utility = \"x\"\n"
    "[[variable]]\nname = \"Heads\"\nkind = \"knowledge\"\n"
    "[[variable]]\nname = \"Tails\"\nkind = \"knowledge\"\n"
    "[[decision]]\nname = \"Toss\"\nprecondition = \"Heads + Tails == 0\"\n"
    "  [[decision.outcome]]\n  name = \"Head\"\n  probability = 0.3\n"
    "  effects = { Heads = 1 }\n  delay = 2\n"
    "  [[decision.outcome]]\n  name = \"Tail\"\n  probability = 0.7\n"
    "  effects = { Tails = 1 }\n  delay = 5\n"
    "[[measure]]\nname = \"Heads\"\nvalue = \"Heads\"\ntimes = [1, 3, 6]\n"
    "[[measure]]\nname = \"Tails\"\nvalue = \"Tails\"\ntimes = [1, 3, 6]\n"
    "[[measure]]\nname = \"Over\"\nvalue = \"Heads + Tails\"\ntimes = [1, 3, 6]\n";

}  // namespace

// Each outcome happens after its own delay, under both connectivity
// algorithms.
TEST(FileModel, EachOutcomeHappensAfterItsOwnDelay) {
  TempDir dir;
  writeFile(dir.file("toss.toml"), kToss);
  const int n = 20000;
  const std::vector<double> expected = {0, 0.3, 0.3, 0, 0, 0.7, 0, 0.3, 1};
  for (const char* simtest : {"", "1"}) {
    SCOPED_TRACE(std::string("SIMTEST=") + simtest);
    std::vector<std::string> env;
    if (*simtest) env.push_back(std::string("SIMTEST=") + simtest);
    Result r = runSimulator(
        {"-M", dir.file("toss.toml"), "-N", std::to_string(n), "-b", dir.file("t.bin")}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(actionsFired(r.out), 2 * n);
    BinaryFile bin = readBinary(dir.file("t.bin"));
    ASSERT_TRUE(bin.whole);
    std::vector<std::vector<double>> rows = bin.rows(9);
    ASSERT_EQ(rows.size(), static_cast<size_t>(n));
    std::vector<double> sums(9, 0.0);
    for (const std::vector<double>& row : rows) {
      // Exactly one outcome, and never before its time.
      ASSERT_EQ(row[0], 0);
      ASSERT_EQ(row[3] + row[4], 0);
      ASSERT_EQ(row[5] + row[2], 1);
      ASSERT_EQ(row[1], row[2]);
      for (int k = 0; k < 9; k++) sums[k] += row[k];
    }
    for (int k = 0; k < 9; k++) {
      const double p = expected[k];
      // A 99.9% interval around the true probability (3.29 standard errors).
      const double halfWidth = 3.29 * std::sqrt(p * (1 - p) / n);
      EXPECT_NEAR(sums[k] / n, p, halfWidth) << "measure " << k;
    }
  }
}

TEST(FileModel, ShippedModelsRunAndTheirResultsHangTogether) {
  CheckShippedModel("enterprise", {"DataExfiltrated", "RansomwareDeployed", "Detected"},
                    "Reconnaissance");
  CheckShippedModel("industrial_control", {"ProcessDisrupted", "HistorianData", "Detected"},
                    "OfficePhishing");
}

TEST(FileModel, EveryCatchIsDetectedAndEveryDetectionACatch) {
  // In enterprise only the "Caught" outcomes set Detected, so the number of
  // catches within [0, 240] is, replication by replication, Detected at 240.
  const std::string path = TARVEX_SOURCE_DIR "/models/enterprise.toml";
  ModelDescription d;
  std::vector<ModelFileError> errors;
  ASSERT_TRUE(LoadModelFile(path, &d, &errors));
  int detectedAt240 = -1, caught = -1, node = 0;
  for (const MeasureDescription& m : d.measures) {
    if (m.name == "Detected") detectedAt240 = node + static_cast<int>(m.times.size()) - 1;
    if (m.name == "CaughtBySOC") caught = node;
    node += static_cast<int>(m.times.size());
  }
  ASSERT_GE(detectedAt240, 0);
  ASSERT_GE(caught, 0);
  TempDir dir;
  Result r = runSimulator({"-M", path, "-N", "500", "-b", dir.file("e.bin")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int detections = 0;
  for (const std::vector<double>& row : readBinary(dir.file("e.bin")).rows(node)) {
    EXPECT_EQ(row[caught], row[detectedAt240]);
    detections += row[caught] > 0;
  }
  EXPECT_GT(detections, 0);
}

TEST(FileModel, AttackFlowFileWritesWhatTheCompiledModelWrites) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string simtest;  // empty: unset
    std::vector<std::string> files;  // written by the options, compared
  };
  const std::string a = dir.file("out.txt"), b = dir.file("out.bin"), t = dir.file("trace");
  const Case cases[] = {
      {{"-N", "200", "-a", a, "-b", b}, "", {a, b}},
      {{"-r", "1", "-N", "150", "-a", a, "-b", b}, "", {a, b}},
      {{"-r", "2", "-s", "7", "-N", "150", "-a", a, "-b", b}, "2", {a, b}},
      {{"-N", "100", "-a", a, "-b", b}, "0", {a, b}},
      {{"-r", "2", "-N", "100", "-a", a, "-b", b}, "1", {a, b}},
      {{"-n", "7", "-N", "30", "-a", a, "-b", b}, "", {a, b}},
      {{"-N", "4", "-m", "-l", "2", "-f", t, "-a", a}, "", {t + ".txt", a}},
      {{"-N", "3", "-m", "-f", t}, "0", {t + ".txt"}},
      {{"-N", "2", "-x", "-f", t, "-b", b}, "", {t + ".xml", b}},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& s : c.args) label += s + " ";
    SCOPED_TRACE("SIMTEST=" + c.simtest + " " + label);
    std::vector<std::string> env;
    if (!c.simtest.empty()) env.push_back("SIMTEST=" + c.simtest);
    Result compiled = runSimulator(c.args, env);
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
    std::vector<std::string> expected;
    for (const std::string& f : c.files) expected.push_back(readFile(f));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-M", kAttackFlow});
    Result file = runSimulator(args, env);
    ASSERT_EQ(file.exitCode, 0) << file.err;
    EXPECT_EQ(actionsFired(file.out), actionsFired(compiled.out));
    EXPECT_GT(actionsFired(file.out), 0);
    for (size_t i = 0; i < c.files.size(); i++) {
      EXPECT_GT(expected[i].size(), 100u) << c.files[i];
      EXPECT_TRUE(readFile(c.files[i]) == expected[i]) << c.files[i] << " differs";
    }
  }
}

TEST(FileModel, CheckModeSummarisesWithoutSimulating) {
  TempDir dir;
  Result r = runSimulator({"-M", kAttackFlow, "-K", "-a", dir.file("out.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "Variables: 13 (3 goals; 32 with the decision bookkeeping)"));
  EXPECT_TRUE(contains(r.out, "Decisions: 9\nSteps: 15\nGroups: 10\nMeasures: 8\nNodes: 168\n"));
  // The decision of the initial state and its expected values.
  EXPECT_TRUE(contains(r.out, "Initial decision: Networkscanning (planning horizon 5): expected "
                              "cost 9.971, detection 0.03232369, payoff 1385.1"))
      << r.out;
  // Each measure with the instants that become its result rows.
  EXPECT_TRUE(contains(r.out, "\nMeasure Network Access: at 0 5 10 15 20 25 30 35 40 45 50 55 60 65 70 75 "
                              "80 85 90 95 100\n"))
      << r.out;
  EXPECT_FALSE(contains(r.out, "Actions fired"));
  EXPECT_FALSE(fileExists(dir.file("out.txt")));

  Result without = runSimulator({"-K"});
  EXPECT_EQ(without.exitCode, 1);
  EXPECT_TRUE(contains(without.err, "-K checks a model file"));
}

TEST(FileModel, FaultyFilesAndModelFaultsStopCleanly) {
  TempDir dir;
  // A defect in the file: its place and exit code 1, before any file exists.
  writeFile(dir.file("bad.toml"), std::string(kCounter).replace(
                                      std::string(kCounter).find("Count + 1"), 9, "Cont + 1"));
  Result bad = runSimulator({"-M", dir.file("bad.toml"), "-N", "5", "-a", dir.file("bad.txt"), "-b",
                             dir.file("bad.bin"), "-m", "-f", dir.file("bad")});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(contains(bad.err, dir.file("bad.toml") + ":19:24:"));
  EXPECT_TRUE(contains(bad.err, "unknown name 'Cont'")) << bad.err;
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"bad.toml"});
  Result missing = runSimulator({"-M", dir.file("none.toml"), "-N", "5"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(contains(missing.err, "none.toml: cannot read the model file"));

  // A fault while running: the decision is named with the state, the run
  // stops with exit code 1 and the files are whole, their header counting
  // the records written. (A two-thread run drops the replication in which
  // the fault happened; a one-thread run finishes and writes it.)
  writeFile(dir.file("counter.toml"), kCounter);
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"-m", "-f", dir.file("trace")}}) {
    std::vector<std::string> args = {"-M", dir.file("counter.toml"), "-N", "50", "-n", "1",
                                     "-a", dir.file("c.txt"), "-b", dir.file("c.bin")};
    args.insert(args.end(), extra.begin(), extra.end());
    Result r = runSimulator(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "ERROR: model counter: decision Inc was taken with outcome "
                                "probabilities Up 0"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "in the state Count=1; the run stops"));
    EXPECT_FALSE(contains(r.out, "GOOD EXIT"));
    BinaryFile bin = readBinary(dir.file("c.bin"));
    EXPECT_TRUE(bin.whole);
    EXPECT_LE(bin.records.size(), extra.empty() ? 0u : 1u);
    const std::string count = std::to_string(bin.records.size());
    std::vector<std::string> lines = splitLines(readFile(dir.file("c.txt")));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "#META_DATA,BATCHES=" + count);
    EXPECT_EQ(asciiObservations(readFile(dir.file("c.txt"))).size(), 2 * bin.records.size());
  }
}
