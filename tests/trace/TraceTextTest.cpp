// The plain-text trace and the fan-out container: exact output at levels 1
// and 2 over a decision and an outcome step, the bounded printf, writers in
// the order added, trace files that open and that cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "TraceTestModel.h"
#include "trace/TraceFileContainer.h"
#include "trace/TraceFileTarvex.h"
#include "trace/TraceFileXML.h"

namespace {

const char* const kHeader =
    "**************************************\n"
    "\t\tTRACE\n"
    "**************************************\n";

// One replication's worth of trace calls, as a traced step loop makes them:
// the decision at time 0, then the step (through its group) later.
void traceDecisionAndStep(TraceFileContainer& trace, ScanModel& s, double stepTime) {
  trace.printHeader();
  trace.newBatch();
  trace.printInitialState();
  trace.printPreFireAction(s.decision);
  trace.printFireAction(s.decision, 0.0);
  s.decision->Fire();
  trace.printPostFireAction(s.decision, s.decision);
  trace.printPreFireAction(s.group);
  trace.printFireAction(s.step, stepTime);
  s.step->Fire();
  trace.printPostFireAction(s.step, s.step);
  trace.printState();
}

std::string tempPath(const char* tag) {
  return testing::TempDir() + "trace_" + tag + "_" + std::to_string(getpid()) + ".txt";
}

}  // namespace

TEST(TraceFileTarvex, LevelsOneAndTwoOverADecisionAndAStep) {
  ScanModel s;
  TraceFileContainer trace;
  std::ostringstream out1, out2;
  // The time is written in default formatting whatever the stream carries.
  out2.precision(12);
  TraceFileTarvex level1(&out1), level2(&out2);
  level1.setTraceLevel(1);
  level2.setTraceLevel(2);
  trace.addPVModel(s.pv.get());
  trace.AddTraceFile(&level1);
  trace.AddTraceFile(&level2);
  traceDecisionAndStep(trace, s, 1234567.25);

  const std::map<std::string, std::string> ids = {{"M", std::to_string(s.model->getModelId())}};
  const std::string initial = fill(
      "##### NEW BATCH #####\n"
      "Initial Model State:\n"
      "  Model: ({M})attack_flow\n"
      "    MakeDecision = 1\n"
      "    ScanChosen = 0\n"
      "    ScanWeight = 1\n"
      "    target.Scanned = 0\n",
      ids);
  const std::string final = fill(
      "Model State:\n"
      "  Model: ({M})attack_flow\n"
      "    MakeDecision = 1\n"
      "    ScanChosen = 0\n"
      "    ScanWeight = 0\n"
      "    target.Scanned = 1\n",
      ids);
  EXPECT_EQ(out1.str(),
            kHeader + initial +
                fill("#### Firing: 0  Action: ({M})attack_flow->ScanDecision\n"
                     "#### After: ({M})attack_flow->ScanDecision\n"
                     "#### Firing: 1.23457e+06  Action: ({M})attack_flow->ScanSuccessStep\n"
                     "#### After: ({M})attack_flow->ScanSuccessStep\n",
                     ids) +
                final);
  EXPECT_EQ(out2.str(),
            kHeader + initial +
                fill("Enabling state before action firing:\n"
                     "  MakeDecision = 1\n"
                     "#### Firing: 0  Action: ({M})attack_flow->ScanDecision\n"
                     "#### After: ({M})attack_flow->ScanDecision\n"
                     "Affected state after firing: \n"
                     "  MakeDecision = 0\n"
                     "  ScanChosen = 1\n"
                     "  ScanWeight = 0\n"
                     "Enabling state before action firing:\n"
                     "  ScanChosen = 1\n"
                     "  target.Scanned = 0\n"
                     "#### Firing: 1.23457e+06  Action: ({M})attack_flow->ScanSuccessStep\n"
                     "#### After: ({M})attack_flow->ScanSuccessStep\n"
                     "Affected state after firing: \n"
                     "  MakeDecision = 1\n"
                     "  ScanChosen = 0\n"
                     "  target.Scanned = 1\n",
                     ids) +
                final);
  EXPECT_EQ(TraceLevel, 2);
}

TEST(TraceFileTarvex, ModelWithoutNameFailsTheStream) {
  auto* model = new TestAtomicModel(nullptr);
  TestPVModel pv(model);
  TestAction* a = model->addAction("Anonymous", {}, {}, [] {});
  std::ostringstream out;
  TraceFileTarvex w(&out);
  w.setTraceLevel(1);
  w.printFireAction(a, 1.0);
  EXPECT_TRUE(out.fail());
  w.newBatch();
  EXPECT_EQ(out.str().find("NEW BATCH"), std::string::npos);
}

TEST(TraceFileContainer, FansOutInOrderAndBoundsPrintf) {
  ScanModel s;
  std::ostringstream shared, text;
  TraceFileTarvex plain(&shared), other(&text);
  TraceFileXML xml(&shared);
  plain.setTraceLevel(1);
  other.setTraceLevel(1);
  TraceFileContainer trace;
  trace.addPVModel(s.pv.get());
  EXPECT_EQ(trace.AddTraceFile(&plain), 0);
  EXPECT_EQ(trace.AddTraceFile(&xml), 0);
  trace.printHeader();
  EXPECT_EQ(shared.str().rfind(std::string(kHeader) + "<?xml", 0), 0u);

  TraceFileContainer text1;
  text1.AddTraceFile(&other);
  text1.RemoveTraceFile(&other);  // writers are never taken out
  text1.printf(1, "%d apples\n", 3);
  text1.printf(2, "hidden above the writer's level\n");
  EXPECT_EQ(text.str(), "3 apples\n");
  // The formatted text is cut at the 1000-character buffer.
  for (size_t length : {998u, 999u, 1000u, 5000u}) {
    text.str("");
    text1.printf(1, "%s", std::string(length, 'x').c_str());
    EXPECT_EQ(text.str(), std::string(std::min<size_t>(length, 999), 'x')) << length;
  }

  // Without writers nothing happens, with or without a reward model.
  TraceFileContainer empty;
  empty.printHeader();
  empty.printInitialState();
  empty.printf(1, "%s", "nothing");
}

TEST(TraceFile, WritesAnOwnedFileAndReportsOneThatCannotBeOpened) {
  const std::string path = tempPath("owned");
  {
    std::ofstream old(path);
    old << "output of an earlier run\n";
  }
  {
    TraceFileTarvex w(path.c_str());
    EXPECT_EQ(w.getTraceLevel(), 0);
    w.printHeader(nullptr);
    w.newBatch();
  }
  std::ifstream in(path);
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), std::string(kHeader) + "##### NEW BATCH #####\n");
  std::remove(path.c_str());

  const std::string missing = "/nonexistent-trace-dir/run";
  testing::internal::CaptureStderr();
  TraceFileTarvex plain((missing + ".txt").c_str());
  TraceFileXML xml((missing + ".xml").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: cannot open trace file " + missing +
                                                        ".txt: No such file or directory\n"
                                                        "ERROR: cannot open trace file " +
                                                        missing +
                                                        ".xml: No such file or directory\n");
  // The run goes on; the output is lost.
  TraceFileContainer trace;
  trace.AddTraceFile(&plain);
  trace.AddTraceFile(&xml);
  trace.printHeader();
  trace.newBatch();
  trace.printFooter();
  EXPECT_TRUE(plain.getStream()->fail());
}
