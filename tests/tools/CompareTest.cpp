// Comparisons of experiments with common random numbers, end to end on a
// two-step model (tests/tools/data/two_stage.toml) whose experiments differ
// at one node only: the simulator's -R, attack_flow_solve --compare and
// simmgr --compare, against each other and against differences derived by
// hand.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "simmgr/Compare.h"
#include "simmgr/SimMgr.h"
#include "simmgr/Statistics.h"
#include "support/Process.h"

namespace {

using support::contains;
using support::readFile;

const std::string kModel = TARVEX_SOURCE_DIR "/tests/tools/data/two_stage.toml";

std::vector<std::vector<std::string>> CsvCells(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line, cell;
  while (std::getline(lines, line)) {
    rows.emplace_back();
    std::istringstream cells(line);
    while (std::getline(cells, cell, ',')) rows.back().push_back(cell);
  }
  return rows;
}

// The observations of the nodes `ids` in an ASCII result file, in order.
std::string Observations(const std::string& path, const std::vector<std::string>& ids) {
  std::string kept;
  for (const auto& row : CsvCells(readFile(path)))
    if (row.size() == 2)
      for (const std::string& id : ids)
        if (row[0] == id) kept += row[0] + "," + row[1] + "\n";
  return kept;
}

}  // namespace

// Holm's step-down at 0.05 over four hypotheses: 0.005 <= 0.05/4 and
// 0.01 <= 0.05/3 are rejected, 0.03 > 0.05/2 stops it (0.04 is kept
// although it would pass alone). The paired test's p-value: t = 2.228 with
// 10 degrees of freedom is the textbook 5% point.
TEST(CompareStatistics, HolmStepDownAndStudentPValues) {
  const std::vector<bool> rejected = simmgr::HolmRejections({0.01, 0.04, 0.03, 0.005}, 0.05);
  EXPECT_EQ(rejected, (std::vector<bool>{true, false, false, true}));
  EXPECT_NEAR(simmgr::StudentTwoSidedP(2.228, 10), 0.05, 1e-4);
  EXPECT_NEAR(simmgr::StudentTwoSidedP(-1.96, 1000000), 0.05, 1e-4);
}

// With -R replication k of every run with the same seed starts from the same
// point of the stream: the first step (at time 1, the same in both
// experiments) comes out the same in every replication of experiments 0 and
// 1, although experiment 1 takes the third step, and draws for it, more
// often. Without -R the streams drift apart after the first such
// replication. A steady-state run cannot restart per replication.
TEST(CommonRandomNumbers, ReplicationsOfTwoExperimentsStartFromTheSameNumbers) {
  const support::TempDir dir;
  const std::vector<std::string> early = {"0", "1", "2"}, late = {"5"};
  for (const std::string generator : {"0", "1", "2"}) {
    SCOPED_TRACE("generator " + generator);
    auto run = [&](const std::string& experiment, bool restart, const std::string& name) {
      std::vector<std::string> args = {"-M", kModel, "-N", "500", "-r", generator, "-e", experiment,
                                       "-a", dir.file(name)};
      if (restart) args.push_back("-R");
      const support::Result r = support::runSimulator(args);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      return dir.file(name);
    };
    const std::string a = run("0", true, "a.txt"), b = run("1", true, "b.txt"), again = run("0", true, "c.txt");
    EXPECT_EQ(readFile(a), readFile(again));
    EXPECT_EQ(Observations(a, early), Observations(b, early));
    EXPECT_NE(Observations(a, late), Observations(b, late));
    const std::string plainA = run("0", false, "pa.txt"), plainB = run("1", false, "pb.txt");
    EXPECT_NE(Observations(plainA, early), Observations(plainB, early));
    EXPECT_NE(readFile(plainA), readFile(a));
  }
  const support::Result steady = support::runSimulator({"-M", kModel, "-t", "0", "-R"});
  EXPECT_EQ(steady.exitCode, 1);
  EXPECT_TRUE(contains(steady.err, "-R restarts the random stream at each replication")) << steady.err;
}

// The exact difference, by hand: Late by 4 is the second step's success,
// probability p, so experiment 1 minus experiment 0 is 0.6 - 0.3 = 0.3
// there; Early does not depend on p and Late cannot happen before time 3,
// so every other difference is 0. simmgr --compare 0 1 marks exactly that
// node, with an interval covering 0.3, and reports the first step's nodes
// as exactly equal (every replication pair agrees there); its means are
// those of the experiments' own results. A self-comparison finds no
// difference at all.
TEST(SimMgrCompare, FindsTheNodesWhereTheExperimentsDifferExactly) {
  const support::TempDir dir;
  const support::Result exact =
      support::run(support::program("attack_flow_solve"), {"--model", kModel, "--compare", "0", "1", "--csv", "-"});
  ASSERT_EQ(exact.exitCode, 0) << exact.err;
  const auto exactRows = CsvCells(exact.out);
  ASSERT_EQ(exactRows.size(), 7u) << exact.out;
  EXPECT_EQ(exact.out.substr(0, exact.out.find('\n')), "pv_id,name,time,mean_a,mean_b,difference");
  std::map<std::string, double> exactDifference;
  for (size_t i = 1; i < exactRows.size(); i++) {
    const double expected = exactRows[i][1] == "Late" && exactRows[i][2] == "4" ? 0.3 : 0.0;
    EXPECT_NEAR(std::stod(exactRows[i][5]), expected, 1e-15) << exactRows[i][1] << " at " << exactRows[i][2];
    exactDifference[exactRows[i][1] + "@" + exactRows[i][2]] = std::stod(exactRows[i][5]);
  }

  const std::string simmgr = support::program("simmgr");
  const support::Result o = support::run(simmgr, {"--model", kModel, "--compare", "0", "1", "--jobs", "2",
                                                  "--half-width", "0.02", "--seed", "11", "--quiet", "--out",
                                                  dir.file("c01")});
  ASSERT_EQ(o.exitCode, 0) << o.out << o.err;
  EXPECT_TRUE(contains(o.out, "Holm's step-down")) << o.out;
  EXPECT_TRUE(contains(o.out, "1 of 6 nodes differ significantly")) << o.out;
  const auto rows = CsvCells(readFile(dir.file("c01/compare.csv")));
  ASSERT_EQ(rows.size(), 7u);
  const std::string csv = readFile(dir.file("c01/compare.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "pv,pv_name,time,n,mean_a,mean_b,difference,lower,upper,p_value,significant");
  const auto meansA = CsvCells(readFile(dir.file("c01/0/results.csv")));
  const auto meansB = CsvCells(readFile(dir.file("c01/1/results.csv")));
  for (size_t i = 1; i < rows.size(); i++) {
    const std::vector<std::string>& r = rows[i];
    SCOPED_TRACE(r[1] + " at " + r[2]);
    const double truth = exactDifference.at(r[1] + "@" + r[2]);
    const double lower = std::stod(r[7]), upper = std::stod(r[8]);
    EXPECT_LE(lower, truth);
    EXPECT_GE(upper, truth);
    EXPECT_LE((upper - lower) / 2, 0.02);
    EXPECT_EQ(r[10], truth != 0.0 ? "yes" : "no");
    if (truth == 0.0) {
      EXPECT_EQ(r[6], "0");  // every pair agrees
    }
    EXPECT_EQ(r[4], meansA[i][4]);
    EXPECT_EQ(r[5], meansB[i][4]);
  }

  const support::Result self = support::run(simmgr, {"--model", kModel, "--compare", "0", "0", "--jobs", "2",
                                                     "--quiet", "--out", dir.file("c00")});
  ASSERT_EQ(self.exitCode, 0) << self.out << self.err;
  EXPECT_TRUE(contains(self.out, "0 of 6 nodes differ significantly")) << self.out;
  for (const auto& r : CsvCells(readFile(dir.file("c00/compare.csv"))))
    if (r[0] != "pv") {
      EXPECT_TRUE(r[6] == "0" && r[10] == "no") << r[1] << " at " << r[2];
    }

  const support::Result outside = support::run(simmgr, {"--model", kModel, "--compare", "0", "2"});
  EXPECT_EQ(outside.exitCode, simmgr::kExitUsage);
  EXPECT_TRUE(contains(outside.err, "the model's study has 2 experiments, numbered 0 to 1")) << outside.err;
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--compare", "0", "1", "--experiments", "all"},
        {"--compare", "0", "1", "--exact", kModel}, {"--compare", "0"}, {"--compare", "0", "1", "--", "-e", "1"}}) {
    std::vector<std::string> args = {"--model", kModel};
    args.insert(args.end(), bad.begin(), bad.end());
    const support::Result refused = support::run(simmgr, args);
    EXPECT_EQ(refused.exitCode, simmgr::kExitUsage) << refused.err;
    EXPECT_TRUE(contains(refused.err, "--compare")) << refused.err;
  }
}
