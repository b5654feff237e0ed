// Models from files, run by the simulator program: attack_flow as a file
// writes byte for byte what the compiled model writes, under every
// generator, connectivity mode, trace and report size; the check mode; a
// faulty file stops before any file is made; a model fault stops the run
// with consistent files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace

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
