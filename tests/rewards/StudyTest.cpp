// The study of this system: one experiment, no global variables, the
// override text, and the reward model it creates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "rewards/BaseStudyClass.h"
#include "rewards/PVModel.h"

namespace {

// Standard output and standard error of one override text.
std::pair<std::string, std::string> overrideOutput(BaseStudyClass* study, const char* text) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  study->overrideGVs(text);
  std::string out = testing::internal::GetCapturedStdout();
  return {out, testing::internal::GetCapturedStderr()};
}

std::string missing(const std::string& names) {
  std::string lines;
  for (char name : names)
    lines += "!! studyRangeStudy::OverrideGVValue: Global Variable " + std::string(1, name) + " does not exist.\n";
  return lines;
}

// A study with two global variables that reads each value as its own type.
class TwoVariableStudy : public BaseStudyClass {
 public:
  TwoVariableStudy() {
    GVNames = {"Rate", "Small"};
    GVTypes = {"double", "short"};
    NumGVs = 2;
  }
  void OverrideGVValue(const char* name, void* value) override {
    if (std::string(name) == "Rate") Rate = *static_cast<double*>(value);
    if (std::string(name) == "Small") Small = *static_cast<short*>(value);
  }
  double Rate = 0;
  short Small = 0;
};

}  // namespace

TEST(StudyTest, ExperimentsAndOverrides) {
  BaseStudyClass* study = GenerateStudy();
  EXPECT_EQ(study->GetNumExps(), 1);
  EXPECT_EQ(study->GetNumGVs(), 0);
  const char* first = study->GetExpName(0);
  EXPECT_STREQ(first, "Experiment 1");
  EXPECT_EQ(study->GetExpName(11), first);  // one buffer, overwritten
  EXPECT_STREQ(first, "Experiment 12");

  using Out = std::pair<std::string, std::string>;
  // An unknown type letter skips its triple; a missing value ends the text.
  EXPECT_EQ(overrideOutput(study, "x:Name:1:d:A:2"), (Out{"Type x not recognized\n", missing("A")}));
  // Consecutive colons are one separator; a type token's first letter
  // counts; every type, and a value that does not convert, is passed on.
  EXPECT_EQ(overrideOutput(study, "::double::A:::1:i:B"), (Out{"Not enough double override tokens", missing("A")}));
  EXPECT_EQ(overrideOutput(study, "b:F:1:c:G:z:f:H:2.5:l:L:7:s:S:3:i:I:0x1f:d:D:oops"),
            (Out{"", missing("FGHLSID")}));
  DestructStudy();
}

// A value converted by a letter other than that of the variable's type
// would be read at the wrong size: such a triple is refused, the others apply.
TEST(StudyTest, OverrideLetterMustMatchDeclaredType) {
  TwoVariableStudy study;
  EXPECT_EQ(overrideOutput(&study, "b:Rate:1:d:Small:7:s:Small:-3:d:Rate:2.5:i:Other:1"),
            (std::pair<std::string, std::string>{
                "Type b does not match Global Variable Rate (double)\n"
                "Type d does not match Global Variable Small (short)\n",
                ""}));
  EXPECT_EQ(study.Rate, 2.5);
  EXPECT_EQ(study.Small, -3);
}

// A second request replaces the reward model; the new model's nodes are
// again numbered by position (the per-action reward tables are indexed by
// node id). In a child process: a wrong id writes past those tables.
TEST(StudyDeathTest, SecondRewardModelNumbersNodesFromZero) {
  EXPECT_EXIT(
      {
        BaseStudyClass* study = GenerateStudy();
        study->GetPVModel(true);
        PVModel* second = study->GetPVModel(true);
        bool ok = second->getNumPVs() == 168;
        for (int i = 0; ok && i < second->getNumPVs(); i++) ok = second->getNode(i)->Id == i;
        DestructStudy();
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
