// The XML trace on the attack_flow model: the exact document of a first
// batch (checked with a real XML parser), its closing at the second batch
// mark and silence afterwards.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TraceSupport.h"
#include "trace/TraceFileContainer.h"
#include "trace/TraceFileXML.h"

using namespace tracetest;

namespace {

const char* const kProlog =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
    "<!DOCTYPE Trace\n"
    "  SYSTEM \"jMSCVis_trace.dtd\">\n"
    "<Trace model=\"Example_Tarvex\" generator=\"manually_generated\" >\n"
    "<Comment> Purpose of this trace: demonstration </Comment>\n"
    "<!-- TESTING declaration of processes -->\n"
    "<!-- Trace file of model Example_Tarvex -->\n";
const char* const kSequence = "<!-- process sequence -->\n<Sequence type=\"StateActionType\">\n";
const char* const kClosing = "</Sequence>\n</Trace>\n";

}  // namespace

TEST(TraceFileXML, FirstBatchOfAttackFlowThenSilence) {
  AttackFlow af;
  std::ostringstream out;
  TraceFileXML xml(&out);
  TraceFileContainer trace;
  trace.addPVModel(af.pv.get());
  trace.AddTraceFile(&xml);
  trace.printHeader();
  trace.newBatch();
  xml.printHeader(af.pv.get());  // a second header writes nothing
  trace.printInitialState();
  fireTraced(trace, af.decisionGroup(), 0.0);
  BaseActionClass* step = fireTraced(trace, af.model->GroupList[0], 2.0);
  trace.newBatch();
  const std::string closed = out.str();
  // Closed: nothing more from this writer.
  trace.printInitialState();
  trace.printFireAction(step, 7.0);
  trace.printPostFireAction(step, step);
  trace.newBatch();
  trace.printHeader();
  trace.printFooter();
  EXPECT_EQ(xml.getBatchCounter(), 2);
  EXPECT_EQ(xml.getLastFiringTime(), 2.0);

  // One atomic process with the 9 decisions, the 15 steps and the 32
  // variables; nothing is shared, so there are no interactions.
  const std::string p = "p" + af.id();
  std::string expected =
      kProlog + ("<Process id=\"" + p + "\" name=\"attack_flow" + af.id() + "\" >\n");
  for (int d = 0; d < 9; d++)
    expected += "<Action id=\"a" + std::to_string(af.model->Decisions[d]->ID) + "\" name=\"" +
                af.model->Decisions[d]->getName() + "\" />\n";
  for (int s = 0; s < 15; s++)
    expected += "<Action id=\"a" + std::to_string(af.model->Steps[s]->ID) + "\" name=\"" +
                af.model->Steps[s]->getName() + "\" />\n";
  SVValues state = constructedState();
  for (const auto& v : state)
    expected += "<Var id=\"" + p + v.first + "\" name=\"" + v.first + "\" />\n";
  expected += std::string("</Process>\n<Interactions>\n</Interactions>\n") + kSequence + "<S>\n";
  for (const auto& v : state)
    expected += "<V id=\"" + p + v.first + "\" val=\"" + std::to_string(v.second) + "\" />\n";
  expected += "</S>\n";
  auto record = [&](BaseActionClass* a, const char* t, const std::vector<std::string>& affected) {
    expected += "<A id=\"a" + std::to_string(a->ID) + "\" t=\"" + t + "\">\n";
    for (const std::string& n : affected)
      expected +=
          "  <V id=\"" + p + n + "\"  val=\"" + std::to_string(valueOf(state, n)) + "\" />\n";
    expected += "</A>\n";
  };
  set(state, "MakeDecision", 0);
  set(state, "NetworkscanningChosen", 1);
  set(state, "NetworkscanningWeight", 0);
  record(af.model->Decisions[0], "0", kDecisionAffects);
  set(state, "SSIDMACtargetnetwork", 1);
  set(state, "NetworkscanningChosen", 0);
  set(state, "PasswordCaptureWeight", 1);
  set(state, "MakeDecision", 1);
  record(step, "2", stepAffects());
  expected += kClosing;
  EXPECT_EQ(closed, expected);
  EXPECT_EQ(out.str(), closed);
  expectWellFormed(out.str());
}

TEST(TraceFileXML, FooterClosesADocumentLeftOpen) {
  std::ostringstream out;
  TraceFileXML xml(&out);
  xml.printHeader(nullptr);
  xml.newBatch();
  xml.printFooter();
  xml.printFooter();
  EXPECT_EQ(out.str(),
            std::string(kProlog) + "<Interactions>\n</Interactions>\n" + kSequence + kClosing);
  expectWellFormed(out.str());
}
