// The plain-text trace and the fan-out container on the attack_flow model:
// exact output at levels 1 and 2 over its first decision and outcome, the
// state dumps, the bounded printf, writers in the order added.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TraceSupport.h"
#include "trace/TraceFileContainer.h"
#include "trace/TraceFileTarvex.h"
#include "trace/TraceFileXML.h"

using namespace tracetest;

namespace {

const char* const kHeader =
    "**************************************\n"
    "\t\tTRACE\n"
    "**************************************\n";

std::string stateDump(const std::string& title, const std::string& model, const SVValues& s) {
  std::string text = title + "\n  Model: (" + model + ")attack_flow\n";
  for (const auto& v : s) text += "    " + v.first + " = " + std::to_string(v.second) + "\n";
  return text;
}

std::string values(const SVValues& s, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names)
    text += "  " + n + " = " + std::to_string(valueOf(s, n)) + "\n";
  return text;
}

}  // namespace

TEST(TraceFileTarvex, FirstDecisionAndOutcomeOfAttackFlowAtLevelsOneAndTwo) {
  AttackFlow af;
  // Built before the writers: constructing a trace file resets the process-wide level.
  TraceFileContainer trace;
  std::ostringstream out1, out2;
  // Times are written in default formatting whatever the stream carries.
  out2 << std::fixed;
  TraceFileTarvex level1(&out1), level2(&out2);
  level1.setTraceLevel(1);
  level2.setTraceLevel(2);
  trace.addPVModel(af.pv.get());
  trace.AddTraceFile(&level1);
  trace.AddTraceFile(&level2);
  trace.printHeader();
  trace.newBatch();
  trace.printInitialState();
  EXPECT_EQ(fireTraced(trace, af.decisionGroup(), 0.0), af.model->Decisions[0]);
  EXPECT_EQ(fireTraced(trace, af.model->GroupList[0], 2.0), af.model->Steps[0]);
  trace.printState();

  SVValues before = constructedState();
  SVValues decided = before;
  set(decided, "MakeDecision", 0);
  set(decided, "NetworkscanningChosen", 1);
  set(decided, "NetworkscanningWeight", 0);
  // The outcome sets its effect and the next decision (PasswordCapture).
  SVValues after = decided;
  set(after, "SSIDMACtargetnetwork", 1);
  set(after, "NetworkscanningChosen", 0);
  set(after, "PasswordCaptureWeight", 1);
  set(after, "MakeDecision", 1);

  const std::string m = "(" + af.id() + ")attack_flow->";
  const std::string initial = std::string(kHeader) + "##### NEW BATCH #####\n" +
                              stateDump("Initial Model State:", af.id(), before);
  const std::string final = stateDump("Model State:", af.id(), after);
  const std::string fireDecision = "#### Firing: 0  Action: " + m +
                                   "NetworkscanningAdversaryDecision\n" + "#### After: " + m +
                                   "NetworkscanningAdversaryDecision\n";
  const std::string fireStep = "#### Firing: 2  Action: " + m + "NetworkscanningSuccessStep\n" +
                               "#### After: " + m + "NetworkscanningSuccessStep\n";
  EXPECT_EQ(out1.str(), initial + fireDecision + fireStep + final);
  // Level 2: the decision group shows the enabling state of its first member.
  EXPECT_EQ(out2.str(),
            initial + "Enabling state before action firing:\n" + values(before, {"MakeDecision"}) +
                fireDecision + "Affected state after firing: \n" +
                values(decided, kDecisionAffects) + "Enabling state before action firing:\n" +
                values(decided, {"NetworkscanningChosen", "SSIDMACtargetnetwork"}) + fireStep +
                "Affected state after firing: \n" + values(after, stepAffects()) + final);
  EXPECT_EQ(TraceLevel, 2);
}

TEST(TraceFileContainer, FansOutInOrderAndBoundsPrintf) {
  std::ostringstream shared, text;
  TraceFileTarvex plain(&shared), other(&text);
  TraceFileXML xml(&shared);
  plain.setTraceLevel(1);
  other.setTraceLevel(1);
  TraceFileContainer trace;
  EXPECT_EQ(trace.AddTraceFile(&plain), 0);
  EXPECT_EQ(trace.AddTraceFile(&xml), 0);
  trace.printHeader();
  trace.newBatch();
  EXPECT_EQ(shared.str().rfind(std::string(kHeader) + "<?xml", 0), 0u) << shared.str();
  EXPECT_NE(shared.str().find("\"StateActionType\">\n##### NEW BATCH #####\n"), std::string::npos);

  TraceFileContainer text1;
  text1.AddTraceFile(&other);
  text1.printf(1, "%d apples\n", 3);
  EXPECT_EQ(text.str(), "3 apples\n");
  // The formatted text is cut at the 1000-character buffer.
  text.str("");
  text1.printf(1, "%s", std::string(1000, 'x').c_str());
  EXPECT_EQ(text.str(), std::string(999, 'x'));
}
