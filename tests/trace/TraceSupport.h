// Support for the trace tests: the attack_flow reward model with the names
// and values its state is expected to show, firing a schedulable unit with
// its trace calls, and the XML well-formedness check.
#ifndef TARVEX_TESTS_TRACE_TRACESUPPORT_H
#define TARVEX_TESTS_TRACE_TRACESUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/attack_flowKORVEL.h"
#include "model/rewardPVModel.h"
#include "support/Process.h"
#include "trace/TraceFile.h"

namespace tracetest {

// Node ids count across reward models: each test builds one, and only one
// is alive at a time.
struct AttackFlow {
  std::unique_ptr<rewardPVModel> pv = std::make_unique<rewardPVModel>(true);
  attack_flowKORVEL* model = static_cast<attack_flowKORVEL*>(pv->getChildModel());
  BaseGroupClass* decisionGroup() const { return model->GroupList[9]; }
  std::string id() const { return std::to_string(model->getModelId()); }
};

// clang-format off
const char* const kDecisionPrefixes[9] = {
    "Networkscanning", "EvilTwin", "JoinNetwork", "RogueAP", "BlockTrafficFlow",
    "ApplicationLayerAttack", "NetworkLayerAttack", "PasswordCapture", "DoNothing"};
// clang-format on

// The model's variables in registration order with their values.
using SVValues = std::vector<std::pair<std::string, int>>;

// The state right after construction: the first decision (Networkscanning)
// is already marked.
inline SVValues constructedState() {
  // clang-format off
  SVValues s = {{"APHardware", 1}, {"Hijacking", 0}, {"SSIDMACtargetnetwork", 0},
                {"NetworkAccess", 0}, {"NetworkKey", 0}, {"NoKeyNoAccess", 1},
                {"PacketForging", 10}, {"SocialEngineering", 10}, {"APConfiguration", 10},
                {"NetworkHacking", 10}, {"DOS", 0}, {"MITM", 0}, {"SensitiveInformation", 0}};
  // clang-format on
  for (const char* p : kDecisionPrefixes) s.emplace_back(std::string(p) + "Chosen", 0);
  for (const char* p : kDecisionPrefixes) s.emplace_back(std::string(p) + "Weight", 0);
  s.emplace_back("MakeDecision", 1);
  s[22].second = 1;  // NetworkscanningWeight
  return s;
}

inline int valueOf(const SVValues& s, const std::string& name) {
  for (const auto& v : s)
    if (v.first == name) return v.second;
  ADD_FAILURE() << "no variable " << name;
  return -1;
}

inline void set(SVValues& s, const std::string& name, int value) {
  for (auto& v : s)
    if (v.first == name) v.second = value;
}

// The variables that NetworkscanningAdversaryDecision and its outcome step
// affect, in the order of their arcs.
const std::vector<std::string> kDecisionAffects = {"MakeDecision", "NetworkscanningChosen",
                                                   "NetworkscanningWeight"};
inline std::vector<std::string> stepAffects() {
  std::vector<std::string> names = {"MakeDecision", "NetworkscanningChosen"};
  for (const char* p : kDecisionPrefixes) names.push_back(std::string(p) + "Weight");
  names.push_back("SSIDMACtargetnetwork");
  names.push_back("NoKeyNoAccess");
  return names;
}

// Fires one schedulable unit the way the driver does (select, then fire),
// with the writer calls around it; returns the action that fired.
inline BaseActionClass* fireTraced(TraceFile& trace, BaseGroupClass* unit, double time) {
  EXPECT_TRUE(unit->SelectAction());
  BaseActionClass* chosen = unit->getSelectedAction();
  trace.printPreFireAction(unit);
  trace.printFireAction(chosen, time);
  unit->Fire();
  trace.printPostFireAction(chosen, chosen);
  return chosen;
}

// Checks a document with xmllint; marks the test skipped where it is not
// installed.
inline void expectWellFormed(const std::string& document) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xmllint";
  support::TempDir dir;
  const std::string path = dir.file("trace.xml");
  support::writeFile(path, document);
  EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << document;
}

}  // namespace tracetest

#endif
