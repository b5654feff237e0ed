// What a small model file may ask of the programs: the measures' times are
// bounded (each of a measure's nodes holds all its times, so a file of a few
// lines could otherwise ask for gigabytes), and a model whose steps take no
// time, or far too little, ends its run with a fault instead of hanging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/ModelFile.h"
#include "support/Process.h"
#include "support/ResultFiles.h"

namespace {

using support::contains;

// A model with one decision that may always be taken again; its outcome
// takes DELAY and the run ends at time 10.
std::string Looping(const std::string& delay, const std::string& measures = "") {
  return "format = 1\nname = \"loop\"\n"
         "[adversary]\ncost_weight = 0.2\ndetection_weight = 0.2\npayoff_weight = 0.6\n"
         "planning_horizon = 2\ncost_utility = \"1 - x / 10\"\ndetection_utility = \"1 - x\"\n"
         "payoff_utility = \"x / 100\"\n"
         "[[variable]]\nname = \"Tries\"\nkind = \"knowledge\"\n"
         "[[variable]]\nname = \"Won\"\nkind = \"goal\"\npayoff = 100\n"
         "[[decision]]\nname = \"Retry\"\nprecondition = \"Won == 0\"\ncost = 1\n"
         "  [[decision.outcome]]\n  name = \"Again\"\n  probability = 1\n"
         "  effects = { Tries = \"Tries > 2 ? 0 : Tries + 1\" }\n  delay = " +
         delay + "\n" + (measures.empty() ? "[[measure]]\nname = \"Tries\"\nvalue = \"Tries\"\ntimes = [10]\n"
                                          : measures);
}

// Six decisions, each counting up a variable of its own, with a look-ahead
// of `horizon` decisions: every order of them reaches another state. A
// `limit` other than 0 is the adversary's 'lookahead_limit'.
std::string Wide(int horizon, int limit = 0) {
  std::string text = "format = 1\nname = \"wide\"\n[adversary]\ncost_weight = 0.2\n"
                     "detection_weight = 0.2\npayoff_weight = 0.6\nplanning_horizon = " +
                     std::to_string(horizon) +
                     (limit ? "\nlookahead_limit = " + std::to_string(limit) : std::string()) +
                     "\ncost_utility = \"1 - x / 10\"\ndetection_utility = \"1 - x\"\n"
                     "payoff_utility = \"x / 100\"\n";
  for (int i = 0; i < 6; i++)
    text += "[[variable]]\nname = \"V" + std::to_string(i) + "\"\nkind = \"knowledge\"\n";
  for (int i = 0; i < 6; i++) {
    const std::string v = "V" + std::to_string(i);
    text += "[[decision]]\nname = \"D" + std::to_string(i) + "\"\nprecondition = \"" + v +
            " < 100\"\ncost = 1\n  [[decision.outcome]]\n  name = \"O\"\n  probability = 1\n"
            "  effects = { " + v + " = \"" + v + " + 1\" }\n  delay = 1\n";
  }
  return text + "[[measure]]\nname = \"M\"\nvalue = \"V0\"\ntimes = [3]\n";
}

// The messages of loading text, one per line.
std::string Problems(const std::string& text, bool* loaded) {
  ModelDescription d;
  std::vector<ModelFileError> errors;
  *loaded = LoadModelText(text, "m.toml", &d, &errors);
  std::string out;
  for (const ModelFileError& e : errors) out += e.Format() + "\n";
  return out;
}

std::string Measure(const std::string& name, const std::string& times) {
  return "[[measure]]\nname = \"" + name + "\"\nvalue = \"Tries\"\ntimes = " + times + "\n";
}

}  // namespace

TEST(ModelLimits, MeasuresHoldAtMostAThousandTimesAndTheModelTenThousand) {
  bool loaded = false;
  // 1000 times (999 steps) is the most a measure may have.
  Problems(Looping("1", Measure("M", "{ from = 0, to = 999, step = 1 }")), &loaded);
  EXPECT_TRUE(loaded);
  std::string p = Problems(Looping("1", Measure("M", "{ from = 0, to = 1e300, step = 1e296 }")), &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(contains(p, "m.toml:30:9: the times of measure 'M': 'step' must be positive and "
                          "divide 'to' - 'from' into at most 999 steps"))
      << p;
  // The same bound for a list, and for the ends of an interval measure.
  std::string list = "[";
  for (int i = 0; i <= 1000; i++) list += std::to_string(i) + (i < 1000 ? ", " : "]");
  p = Problems(Looping("1", Measure("M", list)), &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(contains(p, "'times' of measure 'M' has 1001 times; a measure may have at most 1000"))
      << p;
  p = Problems(Looping("1", "[[measure]]\nname = \"T\"\nkind = \"interval\"\nend = " + list + "\n"),
               &loaded);
  EXPECT_TRUE(contains(p, "'end' of measure 'T' has 1001 times")) << p;

  // Ten measures of 1000 times are accepted, eleven are too many in all.
  std::string measures;
  for (int k = 0; k < 11; k++) {
    if (k == 10) {
      Problems(Looping("1", measures), &loaded);
      EXPECT_TRUE(loaded);
    }
    measures += Measure("M" + std::to_string(k), "{ from = 1, to = 1000, step = 1 }");
  }
  p = Problems(Looping("1", measures), &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(contains(p, "the measures have 11000 times in all (instants and interval ends); a "
                          "model may have at most 10000"))
      << p;
}

// The real program, with one thread and with two: steps without delay, or
// with a delay that leaves the time where it is, stop the run at the first
// replication that takes too many steps, with the model's message and exit
// code 1 and whole result files; a tiny but usable delay runs as before.
TEST(ModelLimits, StepsThatLetNoTimePassEndTheRun) {
  support::TempDir dir;
  for (const std::string delay : {"0", "1e-320"}) {
    SCOPED_TRACE(delay);
    support::writeFile(dir.file("loop.toml"), Looping(delay));
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, std::vector<std::string>{"-m", "-f", dir.file("trace")}}) {
      std::vector<std::string> args = {"-M", dir.file("loop.toml"), "-N", "3", "-b",
                                       dir.file("loop.bin")};
      args.insert(args.end(), extra.begin(), extra.end());
      support::Result r = support::runSimulator(args);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_TRUE(contains(r.err, "ERROR: model loop: a replication took more than " +
                                      std::to_string(FileKORVELModel::kMostStepsPerReplication) +
                                      " steps, the last at time "))
          << r.err;
      EXPECT_TRUE(contains(r.err, " of a run to time 10 (steps without delay that repeat, or "
                                  "delays far too short for the measures' times), in the state "))
          << r.err;
      if (delay == "0") {
        EXPECT_TRUE(contains(r.err, "the last at time 0 of")) << r.err;
      }
      EXPECT_TRUE(contains(r.err, "; the run stops"));
      EXPECT_FALSE(contains(r.out, "GOOD EXIT"));
      EXPECT_TRUE(support::readBinary(dir.file("loop.bin")).whole);
    }
  }
  // Small steps that do reach the end: 10 / 0.001 = 10000 steps a replication.
  support::writeFile(dir.file("fine.toml"), Looping("0.001"));
  support::Result fine = support::runSimulator({"-M", dir.file("fine.toml"), "-N", "20"});
  EXPECT_EQ(fine.exitCode, 0) << fine.err;
  EXPECT_TRUE(contains(fine.out, "GOOD EXIT"));
}

// A look-ahead that would take hours (six decisions over 50 decisions ahead)
// is stopped with the model's fault, in check mode and in a run, at the
// model's own 'lookahead_limit' (the default bound would take seconds
// here); at a horizon of 4 the same model is checked and runs.
TEST(ModelLimits, LookaheadBeyondItsBoundIsAFault) {
  support::TempDir dir;
  support::writeFile(dir.file("wide.toml"), Wide(50, 20000));
  const std::string message =
      "ERROR: model wide: the look-ahead of one decision evaluated more than 20000 states "
      "(planning horizon 50 over 6 decisions); a shorter horizon, or fewer decisions that "
      "change the state, keep it smaller, and 'lookahead_limit' of [adversary] lets it search "
      "further";
  support::Result check = support::runSimulator({"-M", dir.file("wide.toml"), "-K"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_TRUE(contains(check.err, message)) << check.err;
  support::Result run = support::runSimulator({"-M", dir.file("wide.toml"), "-N", "2"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.err, message + "; the run stops")) << run.err;

  bool loaded = true;
  EXPECT_TRUE(contains(Problems(Wide(4, 999), &loaded),
                       "'lookahead_limit' of [adversary] must be an integer from 1000 to "
                       "1000000000000"));
  EXPECT_FALSE(loaded);
  support::writeFile(dir.file("narrow.toml"), Wide(4, 1000));
  support::Result narrow = support::runSimulator({"-M", dir.file("narrow.toml"), "-N", "2"});
  EXPECT_EQ(narrow.exitCode, 0) << narrow.err;
  EXPECT_TRUE(contains(narrow.out, "GOOD EXIT"));
}
