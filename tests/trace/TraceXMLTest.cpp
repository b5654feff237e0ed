// The XML trace: the exact document of a first batch (checked with a real
// XML parser), its closing and silence afterwards, and the declarations and
// interactions of a composed model joined over a shared variable.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "TraceTestModel.h"
#include "trace/TraceFileContainer.h"
#include "trace/TraceFileXML.h"

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

// Checks the document with xmllint (skips when it is not installed).
void expectWellFormed(const std::string& document) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "xmllint is not installed";
  const std::string path = testing::TempDir() + "trace_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                           std::to_string(getpid()) + ".xml";
  {
    std::ofstream file(path);
    file << document;
  }
  EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << document;
  std::remove(path.c_str());
}

std::string id(int n) { return std::to_string(n); }

}  // namespace

TEST(TraceFileXML, FirstBatchDocumentThenSilence) {
  ScanModel s;
  std::ostringstream out;
  TraceFileXML xml(&out);
  TraceFileContainer trace;
  trace.addPVModel(s.pv.get());
  trace.AddTraceFile(&xml);
  trace.printHeader();
  trace.newBatch();
  xml.printHeader(s.pv.get());  // a second header writes nothing
  trace.printInitialState();
  trace.printFireAction(s.decision, 0.0);
  s.decision->Fire();
  trace.printPostFireAction(s.decision, s.decision);
  trace.printFireAction(s.step, 2.5);
  s.step->Fire();
  trace.printPostFireAction(s.step, s.step);
  trace.newBatch();
  // Closed: nothing more from this writer.
  trace.printInitialState();
  trace.printFireAction(s.step, 7.0);
  trace.printPostFireAction(s.step, s.step);
  trace.newBatch();
  trace.printHeader();
  trace.printFooter();
  EXPECT_EQ(xml.getBatchCounter(), 2);
  EXPECT_EQ(xml.getLastFiringTime(), 2.5);

  const std::map<std::string, std::string> ids = {
      {"M", id(s.model->getModelId())}, {"D", id(s.decision->ID)}, {"S", id(s.step->ID)}};
  const std::string expected = kProlog +
                               fill(
                                   "<Process id=\"p{M}\" name=\"attack_flow{M}\" >\n"
                                   "<Action id=\"a{D}\" name=\"ScanDecision\" />\n"
                                   "<Action id=\"a{S}\" name=\"ScanSuccessStep\" />\n"
                                   "<Var id=\"p{M}MakeDecision\" name=\"MakeDecision\" />\n"
                                   "<Var id=\"p{M}ScanChosen\" name=\"ScanChosen\" />\n"
                                   "<Var id=\"p{M}ScanWeight\" name=\"ScanWeight\" />\n"
                                   "<Var id=\"p{M}target.Scanned\" name=\"target.Scanned\" />\n"
                                   "</Process>\n"
                                   "<Interactions>\n"
                                   "</Interactions>\n",
                                   ids) +
                               kSequence +
                               fill(
                                   "<S>\n"
                                   "<V id=\"p{M}MakeDecision\" val=\"1\" />\n"
                                   "<V id=\"p{M}ScanChosen\" val=\"0\" />\n"
                                   "<V id=\"p{M}ScanWeight\" val=\"1\" />\n"
                                   "<V id=\"p{M}target.Scanned\" val=\"0\" />\n"
                                   "</S>\n"
                                   "<A id=\"a{D}\" t=\"0\">\n"
                                   "  <V id=\"p{M}MakeDecision\"  val=\"0\" />\n"
                                   "  <V id=\"p{M}ScanChosen\"  val=\"1\" />\n"
                                   "  <V id=\"p{M}ScanWeight\"  val=\"0\" />\n"
                                   "</A>\n"
                                   "<A id=\"a{S}\" t=\"2.5\">\n"
                                   "  <V id=\"p{M}MakeDecision\"  val=\"1\" />\n"
                                   "  <V id=\"p{M}ScanChosen\"  val=\"0\" />\n"
                                   "  <V id=\"p{M}target.Scanned\"  val=\"1\" />\n"
                                   "</A>\n",
                                   ids) +
                               kClosing;
  EXPECT_EQ(out.str(), expected);
  expectWellFormed(out.str());
}

TEST(TraceFileXML, FooterClosesADocumentLeftOpen) {
  ScanModel s;
  std::ostringstream out, none;
  TraceFileXML xml(&out), noHeader(&none);
  xml.printHeader(s.pv.get());
  xml.newBatch();
  xml.printFooter();
  xml.printFooter();
  // Closed once, at the end.
  EXPECT_EQ(out.str().find(kClosing), out.str().size() - std::string(kClosing).size());
  expectWellFormed(out.str());
  // Without a header there is no document to close.
  noHeader.newBatch();
  noHeader.newBatch();
  noHeader.printFooter();
  EXPECT_EQ(none.str(), "");
}

TEST(TraceFileXML, ComposedModelDeclaresSharedVariablesOnceWithInteractions) {
  auto* left = new TestAtomicModel("left");
  auto* right = new TestAtomicModel("right<2>");
  auto* join = new TestJoinModel("join");
  join->addChild(left);
  join->addChild(right);
  TestPVModel pv(join);
  TestSV* leftKey = left->addSV("Key", 0);
  TestSV* level = left->addSV("Level", 3, "a&b");
  TestSV* rightKey = right->addSV("Key", 5);
  TestSV* count = right->addSV("Count", 0);
  TestAction* unlock = left->addAction("Unlock", {}, {leftKey}, [leftKey] { leftKey->set(1); });
  TestAction* raise = left->addAction("Raise", {}, {level}, [] {});
  TestAction* use = right->addAction("Use", {rightKey}, {count}, [] {});
  right->addAction("Lock", {}, {rightKey}, [] {});
  leftKey->share(rightKey);
  join->addShared(leftKey);

  std::ostringstream out;
  TraceFileXML xml(&out);
  xml.printHeader(&pv);
  xml.newBatch();
  xml.printInitialState(join);
  xml.printFireAction(unlock, 4.0);
  unlock->Fire();
  xml.printPostFireAction(unlock, unlock);
  xml.newBatch();

  // The join declares the shared key; the submodels' actions that change it
  // belong to that declaration, and each submodel touches it.
  const std::map<std::string, std::string> ids = {{"J", id(join->getModelId())},
                                                  {"L", id(left->getModelId())},
                                                  {"R", id(right->getModelId())},
                                                  {"raise", id(raise->ID)},
                                                  {"use", id(use->ID)},
                                                  {"unlock", id(unlock->ID)},
                                                  {"N", id(BaseActionClass::MaxID)}};
  EXPECT_EQ(out.str(), kProlog +
                           fill("<Process id=\"p{J}\" name=\"join\" >\n"
                                "<Var id=\"p{J}Key\" name=\"Key\" />\n"
                                "</Process>\n"
                                "<Process id=\"p{L}\" name=\"left{L}\" >\n"
                                "<Action id=\"a{raise}\" name=\"Raise\" />\n"
                                "<Var id=\"p{L}a&amp;b.Level\" name=\"a&amp;b.Level\" />\n"
                                "</Process>\n"
                                "<Process id=\"p{R}\" name=\"right&lt;2&gt;{R}\" >\n"
                                "<Action id=\"a{use}\" name=\"Use\" />\n"
                                "<Var id=\"p{R}Count\" name=\"Count\" />\n"
                                "</Process>\n"
                                "<Interactions>\n"
                                "<Undiraction id=\"a{N}\" name=\"Key\">\n"
                                "<Touch>p{L}</Touch>\n"
                                "<Touch>p{R}</Touch>\n"
                                "</Undiraction>\n"
                                "</Interactions>\n",
                                ids) +
                           kSequence +
                           fill("<S>\n"
                                "<V id=\"p{J}Key\" val=\"5\" />\n"
                                "<V id=\"p{L}a&amp;b.Level\" val=\"3\" />\n"
                                "<V id=\"p{R}Count\" val=\"0\" />\n"
                                "</S>\n"
                                "<A id=\"a{unlock}\" t=\"4\">\n"
                                "  <V id=\"p{J}Key\"  val=\"1\" />\n"
                                "</A>\n",
                                ids) +
                           kClosing);
  EXPECT_EQ(left->getParentId(), join->getModelId());
  EXPECT_TRUE(xml.inUsedStateName("Key"));
  ASSERT_NE(xml.getModelMap("left", left->getModelId()), nullptr);
  EXPECT_EQ(xml.getModelMap("left", left->getModelId())->size(), 1u);
  expectWellFormed(out.str());
}
