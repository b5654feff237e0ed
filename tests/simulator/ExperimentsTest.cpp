// Experiments of model files, run by the simulator program: -e picks the
// experiment whose values the run uses (sample means agree with the
// probabilities they set), -O overrides them on top, an experiment outside
// the study is a usage error, and a file without globals takes any number
// as a label.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "support/ResultFiles.h"

using namespace support;

namespace {

// A coin tossed once: heads (Won = 1 at time 1) with probability p, the
// global that the two experiments set to 0.2 and 0.7. Won at time 2 is
// therefore a Bernoulli(p) observation per replication.
const char* const kCoin =
    "format = 1\nname = \"coin\"\n"
    "[[global]]\nname = \"p\"\ntype = \"double\"\ndefault = 0.5\n"
    "[[global]]\nname = \"tries\"\ntype = \"short\"\ndefault = 1\n"
    "[study]\n[[study.factor]]\nglobal = \"p\"\nvalues = [0.2, 0.7]\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = \"tries\"\ncost_utility = \"0\"\ndetection_utility = \"0\"\n"
    "payoff_utility = \"x\"\n"
    "[[variable]]\nname = \"Won\"\nkind = \"goal\"\npayoff = 1\n"
    "[[variable]]\nname = \"Lost\"\nkind = \"knowledge\"\n"
    "[[decision]]\nname = \"Toss\"\nprecondition = \"Won == 0 and Lost == 0\"\n"
    "  [[decision.outcome]]\n  name = \"Heads\"\n  probability = \"p\"\n"
    "  effects = { Won = 1 }\n  delay = 1\n"
    "  [[decision.outcome]]\n  name = \"Tails\"\n  probability = \"1 - p\"\n"
    "  effects = { Lost = 1 }\n  delay = 1\n"
    "[[measure]]\nname = \"Won\"\nvalue = \"Won\"\ntimes = [2]\n";

const int kReplications = 4000;

// The mean of Won at time 2 over the replications of a binary result file.
double MeanWon(const std::string& bin, size_t* count) {
  const std::vector<std::vector<double>> rows = readBinary(bin).rows(1);
  double sum = 0;
  for (const std::vector<double>& row : rows) sum += row[0];
  *count = rows.size();
  return rows.empty() ? -1 : sum / static_cast<double>(rows.size());
}

// Runs the coin with the extra options; the sample mean of Won must lie
// within 4.5 standard errors of p.
void ExpectMean(const std::string& model, const TempDir& dir, std::vector<std::string> options,
                double p, const std::string& expectedOut) {
  SCOPED_TRACE(expectedOut);
  const std::string bin = dir.file("coin.bin");
  std::remove(bin.c_str());
  std::vector<std::string> args = {"-M", model, "-N", std::to_string(kReplications), "-b", bin};
  args.insert(args.end(), options.begin(), options.end());
  Result r = runSimulator(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(expectedOut), std::string::npos) << r.out;
  size_t count = 0;
  const double mean = MeanWon(bin, &count);
  EXPECT_EQ(count, static_cast<size_t>(kReplications));
  const double halfWidth = 4.5 * std::sqrt(p * (1 - p) / kReplications);
  EXPECT_NEAR(mean, p, halfWidth);
}

}  // namespace

TEST(Experiments, EachExperimentsValuesDecideTheSampleMean) {
  TempDir dir;
  const std::string model = dir.file("coin.toml");
  std::ofstream(model) << kCoin;
  ExpectMean(model, dir, {}, 0.2,
             "Experiment 0: p=0.2\n"
             "The Global Variable values for experiment Experiment 1 are:\n"
             "p (double) = 0.2\ntries (short) = 1\n");
  ExpectMean(model, dir, {"-e", "1"}, 0.7,
             "Experiment 1: p=0.7\n"
             "The Global Variable values for experiment Experiment 2 are:\n"
             "p (double) = 0.7\n");
  // -O on top of the experiment; a letter of another type is skipped.
  ExpectMean(model, dir, {"-e", "1", "-O", "d:p:0.4:i:tries:3:s:tries:2"}, 0.4,
             "Type i does not match Global Variable tries (short)\n"
             "Overriding global variables in simulator\n"
             "The Global Variable values after the overrides are:\n"
             "p (double) = 0.4\ntries (short) = 2\n");
  ExpectMean(model, dir, {"-e", "0", "-O", "d:p:1"}, 1.0, "p (double) = 1\n");
  // The check mode names the experiments that -e and simmgr's options take.
  Result check = runSimulator({"-M", model, "-K"});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_NE(check.out.find("Measure Won: at 2\nExperiment 0: p=0.2\nExperiment 1: p=0.7\n"),
            std::string::npos)
      << check.out;
}

TEST(Experiments, AnExperimentOutsideTheStudyIsAUsageError) {
  TempDir dir;
  const std::string model = dir.file("coin.toml");
  std::ofstream(model) << kCoin;
  const std::string a = dir.file("out.txt"), b = dir.file("out.bin");
  Result r = runSimulator({"-M", model, "-N", "10", "-e", "2", "-a", a, "-b", b});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("ERROR: -e 2: the study of " + model +
                       " has 2 experiments, numbered 0 to 1\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fileExists(a));
  EXPECT_FALSE(fileExists(b));

  // Without globals the number labels the records, as for the compiled
  // model; overrides name variables that do not exist.
  const std::string plain = TARVEX_SOURCE_DIR "/models/attack_flow.toml";
  r = runSimulator({"-M", plain, "-N", "5", "-e", "9", "-a", a, "-O", "d:Rate:2"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(readFile(a).find(",EXPERIMENTS=9,"), std::string::npos);
  EXPECT_EQ(r.out.find("Global Variable values"), std::string::npos);
  EXPECT_NE(r.err.find("!! FileStudy::OverrideGVValue: Global Variable Rate does not exist.\n"),
            std::string::npos);
}
