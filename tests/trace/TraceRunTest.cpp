// The simulator run as a program with the trace options: the plain-text
// trace on standard output, trace files named by -f, both writers at once,
// and a trace file that cannot be created.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TraceSupport.h"

using namespace support;

namespace {

// Runs the simulator in dir; the output has its measured values (times,
// counts) replaced by "*".
Result runIn(const TempDir& dir, const std::vector<std::string>& args) {
  Result run = support::run(kSimulator, args, Options{{}, dir.path(), false});
  std::istringstream in(run.out);
  run.out.clear();
  for (std::string line; std::getline(in, line);) {
    for (const std::string prefix : {"GenerateConnectivityList() Time=", "Actions fired: ", "CPU time (s): "})
      if (line.rfind(prefix, 0) == 0) line = prefix + "*";
    run.out += line + "\n";
  }
  return run;
}

std::string repeat(const std::string& text, int n) { return n > 0 ? text + repeat(text, n - 1) : ""; }

const std::string kHeader = "**************************************\n\t\tTRACE\n**************************************\n";
const std::string kBatch = "##### NEW BATCH #####\n";
const std::string kSetUpEnd =
    "GenerateConnectivityList()\nGenerateConnectivityList() Time=*\nSIMULATOR::Preparing to run()\n";
const std::string kGoodExit = "SIMULATOR::MAIN()-GOOD EXIT\n";
const std::string kRunEnd = "Actions fired: *\nCPU time (s): *\n" + kGoodExit;
const std::string kXmlEnd = "<Sequence type=\"StateActionType\">\n</Sequence>\n</Trace>\n";

}  // namespace

// -m alone traces to standard output: the header at set-up, then a batch
// mark at the start of the run and after every replication. -l alone turns
// the plain-text trace on as well. With -x and no -f the XML document goes
// to standard output, closed once.
TEST(TraceRun, TracesOnStandardOutput) {
  TempDir dir;
  Result run = runIn(dir, {"-m", "-N", "3"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kGoodExit);
  EXPECT_EQ(run.out, "Max Number of Batches: 3\nAdding cout: \n" + kHeader + kSetUpEnd + repeat(kBatch, 4) + kRunEnd);

  run = runIn(dir, {"-l", "2", "-N", "1"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "TraceLevel: 2\nMax Number of Batches: 1\nAdding cout: \n" + kHeader + kSetUpEnd +
                         repeat(kBatch, 2) + kRunEnd);

  run = runIn(dir, {"-x", "-N", "2"});
  EXPECT_EQ(run.out.find("Max Number of Batches: 2\n<?xml"), 0u) << run.out;
  EXPECT_TRUE(contains(run.out, "SIMULATOR::Preparing to run()\n</Sequence>\n</Trace>\n" + kRunEnd)) << run.out;
  EXPECT_EQ(run.out.find("</Trace>"), run.out.rfind("</Trace>"));
  EXPECT_TRUE(dir.entries().empty());
}

// -x -f run writes run.xml only, closed after the first replication with
// nothing after it; -m -x -f run writes both files under the one base name.
// Standard output then carries no trace.
TEST(TraceRun, TraceFilesShareTheBaseName) {
  for (bool plain : {false, true}) {
    SCOPED_TRACE(plain ? "-m -x" : "-x");
    TempDir dir;
    std::vector<std::string> args = {"-x", "-f", "run", "-N", "3"};
    if (plain) args.insert(args.begin(), "-m");
    Result run = runIn(dir, args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, kGoodExit);
    EXPECT_EQ(run.out, "TraceFile: run\nMax Number of Batches: 3\n" + kSetUpEnd + kRunEnd);
    const std::vector<std::string> both = {"run.txt", "run.xml"};
    EXPECT_EQ(dir.entries(), plain ? both : std::vector<std::string>{"run.xml"});
    if (plain) {
      EXPECT_EQ(readFile(dir.file("run.txt")), kHeader + repeat(kBatch, 4));
    }
    const std::string xml = readFile(dir.file("run.xml"));
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n", 0), 0u);
    ASSERT_GE(xml.size(), kXmlEnd.size());
    EXPECT_EQ(xml.substr(xml.size() - kXmlEnd.size()), kXmlEnd);
    EXPECT_EQ(xml.find("</Trace>"), xml.size() - std::string("</Trace>\n").size());
    tracetest::expectWellFormed(xml);
  }
}

// A trace file that cannot be created is reported with its name and reason;
// the run itself goes on and writes its results.
TEST(TraceRun, UnopenableTraceFileIsReportedAndTheRunEndsNormally) {
  TempDir dir;
  Result run = runIn(dir, {"-m", "-x", "-f", "missing/run", "-N", "2", "-a", "result.txt", "-b", "result.bin"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err,
            "ERROR: cannot open trace file missing/run.txt: No such file or directory\n"
            "ERROR: cannot open trace file missing/run.xml: No such file or directory\n" +
                kGoodExit);
  ASSERT_GE(run.out.size(), kGoodExit.size());
  EXPECT_EQ(run.out.substr(run.out.size() - kGoodExit.size()), kGoodExit);
  EXPECT_FALSE(contains(run.out, "TRACE"));
  EXPECT_GT(readFile(dir.file("result.txt")).size(), 0u);
  EXPECT_GT(readFile(dir.file("result.bin")).size(), 256u);
}
