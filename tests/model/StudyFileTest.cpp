// Global variables, profiles and experiments of model files: the
// experiments a study section lists (counts, order, names and values of
// ranges, lists, all combinations and one factor at a time), values folded
// into every kind of number, and a study whose values change decides as a
// study opened afresh under the new values.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/FilePVModel.h"
#include "model/FileStudy.h"
#include "model/ModelFile.h"

namespace {

// Two decisions that win the same goal: Loud is cheap but may be seen,
// Quiet dear but unseen. With the horizon 1 look-ahead Loud scores
// 0.2 (1 - 1/10) + w (1 - 0.5) + 0.5 = 0.68 + 0.5 w and Quiet
// 0.2 (1 - 5/10) + w + 0.5 = 0.6 + w: Loud is chosen while the detection
// weight w (the global `wary`) is below 0.16.
const char* const kHead =
    "format = 1\nname = \"choice\"\n"
    "[[global]]\nname = \"wary\"\ntype = \"double\"\ndefault = 0\n"
    "[[global]]\nname = \"level\"\ntype = \"int\"\ndefault = 3\n"
    "[[global]]\nname = \"letter\"\ntype = \"char\"\ndefault = \"a\"\n"
    "[[global]]\nname = \"flag\"\ntype = \"bool\"\ndefault = false\n"
    "[[global]]\nname = \"ratio\"\ntype = \"float\"\ndefault = 0.1\n"
    "[[profile]]\nname = \"calm\"\nset = { wary = 0, level = 1 }\n"
    "[[profile]]\nname = \"careful\"\nset = { wary = 0.5, flag = true }\n"
    "[adversary]\ncost_weight = 0.2\ndetection_weight = \"wary\"\npayoff_weight = 0.5\n"
    "planning_horizon = \"level > 2 ? 1 : level\"\n"
    "cost_utility = \"1 - x / 10\"\ndetection_utility = \"1 - x\"\npayoff_utility = \"x / 100\"\n"
    "[[variable]]\nname = \"Noisy\"\nkind = \"knowledge\"\n"
    "[[variable]]\nname = \"Start\"\nkind = \"knowledge\"\ninitial = \"level * 2\"\n"
    "[[variable]]\nname = \"Won\"\nkind = \"goal\"\npayoff = \"flag ? 100 : 100\"\n"
    "[[decision]]\nname = \"Loud\"\nprecondition = \"Won == 0\"\ncost = 1\n"
    "  [[decision.outcome]]\n  name = \"Success\"\n  probability = 1\n  detection = 0.5\n"
    "  effects = { Won = 1, Noisy = 1 }\n  delay = 1\n"
    "[[decision]]\nname = \"Quiet\"\nprecondition = \"Won == 0\"\ncost = 5\n"
    "  [[decision.outcome]]\n  name = \"Success\"\n  probability = 1\n"
    "  effects = { Won = 1 }\n  delay = \"ratio * 10\"\n"
    "[[measure]]\nname = \"Noisy\"\nvalue = \"Noisy + wary\"\ntimes = [2]\n";

ModelDescription Load(const std::string& study) {
  ModelDescription d;
  std::vector<ModelFileError> errors;
  EXPECT_TRUE(LoadModelText(std::string(kHead) + study, "choice.toml", &d, &errors))
      << (errors.empty() ? "" : errors[0].Format());
  return d;
}

std::vector<std::string> Names(const ModelDescription& d) {
  std::vector<std::string> out;
  for (const ExperimentDescription& e : d.experiments) out.push_back(e.name);
  return out;
}

// The decision the look-ahead of a study's newest reward model takes first.
std::string FirstDecision(FileKORVELModel* model) {
  Step* best = nullptr;
  double payoff = 0, cost = 0, detection = 0;
  model->exploreStateSpace(model->planningHorizon, &best, &payoff, &cost, &detection);
  return best ? model->description().decisions[best->decisionIndex].name : "none";
}

}  // namespace

TEST(StudyFile, ExperimentsAreEnumeratedAsDocumented) {
  // Without a study: no experiments listed (one, of the defaults).
  ModelDescription plain = Load("");
  EXPECT_TRUE(plain.experiments.empty());
  ASSERT_EQ(plain.globals.size(), 5u);
  EXPECT_EQ(plain.globals[2].value, 'a');
  EXPECT_EQ(plain.globals[4].value, static_cast<double>(0.1f));  // a float's own value
  EXPECT_EQ(plain.adversary.planningHorizon, 1);                 // level 3 > 2
  EXPECT_EQ(plain.variables[1].initial, 6);

  // All combinations, the first factor slowest; a range ends at `to`.
  ModelDescription all = Load(
      "[study]\n"
      "[[study.factor]]\nprofiles = [\"calm\", \"careful\"]\n"
      "[[study.factor]]\nglobal = \"ratio\"\nrange = { from = 0, to = 0.3, step = 0.1 }\n"
      "[[study.experiment]]\nname = \"named\"\nprofile = \"careful\"\nset = { level = 2 }\n"
      "[[study.experiment]]\nset = { letter = \"z\", level = 7 }\n");
  ASSERT_EQ(all.experiments.size(), 2u * 4u + 2u);
  EXPECT_EQ(Names(all),
            (std::vector<std::string>{"profile=calm ratio=0", "profile=calm ratio=0.1",
                                      "profile=calm ratio=0.2", "profile=calm ratio=0.3",
                                      "profile=careful ratio=0", "profile=careful ratio=0.1",
                                      "profile=careful ratio=0.2", "profile=careful ratio=0.3",
                                      "named", "letter=z level=7"}));
  // wary, level, letter, flag, ratio
  EXPECT_EQ(all.experiments[1].values,
            (std::vector<double>{0, 1, 'a', 0, static_cast<double>(0.1f)}));
  EXPECT_EQ(all.experiments[7].values,
            (std::vector<double>{0.5, 3, 'a', 1, static_cast<double>(0.3f)}));
  EXPECT_EQ(all.experiments[8].values,
            (std::vector<double>{0.5, 2, 'a', 1, static_cast<double>(0.1f)}));
  EXPECT_EQ(all.experiments[9].values,
            (std::vector<double>{0, 7, 'z', 0, static_cast<double>(0.1f)}));

  // One factor at a time around the defaults: each level once, the other
  // factors at their defaults.
  ModelDescription oat = Load(
      "[study]\ncombine = \"one_at_a_time\"\n"
      "[[study.factor]]\nglobal = \"wary\"\nvalues = [0.25, 1e-3]\n"
      "[[study.factor]]\nprofiles = [\"calm\"]\n"
      "[[study.factor]]\nglobal = \"level\"\nrange = { from = 1, to = 5, step = 2 }\n"
      "[[study.factor]]\nglobal = \"level\"\nvalues = [100, 16000]\n");
  EXPECT_EQ(Names(oat),
            (std::vector<std::string>{"wary=0.25", "wary=0.001", "profile=calm", "level=1",
                                      "level=3", "level=5", "level=100", "level=16000"}));
  EXPECT_EQ(oat.experiments[1].values,
            (std::vector<double>{0.001, 3, 'a', 0, static_cast<double>(0.1f)}));
  EXPECT_EQ(oat.experiments[2].values,
            (std::vector<double>{0, 1, 'a', 0, static_cast<double>(0.1f)}));
  EXPECT_EQ(oat.experiments[5].values,
            (std::vector<double>{0, 5, 'a', 0, static_cast<double>(0.1f)}));
}

// The values reach initial values, the horizon, delays and measures, and
// a study whose experiment changes decides as a fresh study of that
// experiment, back and forth.
TEST(StudyFile, ChangedValuesReachTheLiveModelAndItsDecisions) {
  auto d = std::make_shared<ModelDescription>(Load(
      "[study]\n[[study.factor]]\nprofiles = [\"calm\", \"careful\"]\n"
      "[[study.factor]]\nglobal = \"ratio\"\nvalues = [0.5]\n"));
  FileStudy study(d);
  ASSERT_EQ(study.GetNumGVs(), 5);
  ASSERT_EQ(study.GetNumExps(), 2);
  EXPECT_STREQ(study.GetGVType(3), "bool");
  EXPECT_EQ(study.ExperimentName(1), "profile=careful ratio=0.5");
  study.SetGVs(0);
  auto* pv = static_cast<FilePVModel*>(study.GetPVModel(true));
  FileKORVELModel* live = pv->fileModel();
  EXPECT_EQ(live->planningHorizon, 1);
  EXPECT_EQ(live->getStateVariable(1)->getMark(), 2);  // Start = level * 2
  EXPECT_EQ(FirstDecision(live), "Loud");
  EXPECT_EQ(live->MeasureValue(0), 0.0);
  EXPECT_EQ(live->MeasureReads(0), (std::vector<std::string>{"Noisy"}));

  for (int round = 0; round < 2; round++) {
    study.SetGVs(1);
    EXPECT_EQ(*static_cast<double*>(study.GetGVValue("wary")), 0.5);
    EXPECT_EQ(*static_cast<bool*>(study.GetGVValue("flag")), true);
    EXPECT_EQ(live->MeasureValue(0), 0.5);
    EXPECT_EQ(live->planningHorizon, 1);  // level 3 again
    EXPECT_EQ(FirstDecision(live), "Quiet");
    FileStudy fresh(d);
    fresh.SetGVs(1);
    EXPECT_EQ(FirstDecision(static_cast<FilePVModel*>(fresh.GetPVModel(true))->fileModel()),
              "Quiet");
    live = static_cast<FilePVModel*>(study.GetPVModel(true))->fileModel();
    EXPECT_EQ(FirstDecision(live), "Quiet");
    EXPECT_EQ(live->getStateVariable(1)->getMark(), 6);

    study.SetGVs(0);
    EXPECT_EQ(FirstDecision(live), "Loud");
    // Overrides go the same way: the variable's own type through a pointer.
    double w = 0.2;
    study.OverrideGVValue("wary", &w);
    EXPECT_EQ(FirstDecision(live), "Quiet");
    study.overrideGVs("d:wary:0.1");
    EXPECT_EQ(FirstDecision(live), "Loud");
  }

  std::ostringstream printed;
  study.overrideGVs("c:letter:q:i:level:0x2:b:flag:1:f:ratio:0.3");
  study.PrintValues(printed);
  EXPECT_EQ(printed.str(),
            "wary (double) = 0.1\nlevel (int) = 2\nletter (char) = q\nflag (bool) = 1\n"
            "ratio (float) = 0.3\n");
  EXPECT_EQ(live->planningHorizon, 2);
}
