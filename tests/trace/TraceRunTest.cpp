// The simulator run as a program with the trace options: the plain-text
// trace on standard output, trace files named by -f, both writers at once,
// and a trace file that cannot be created.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TraceSupport.h"

extern char** environ;

using namespace tracetest;

namespace {

struct SimRun {
  int exitCode = -1;
  std::string out, err;
};

// Runs the simulator in dir with its standard output and error captured in
// dir/stdout.log and dir/stderr.log. SIMTEST is left out of its environment.
SimRun runSimulator(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), TARVEX_BINARY_DIR "/attack_flow_sim");
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (char** e = environ; *e; e++)
    if (std::strncmp(*e, "SIMTEST=", 8) != 0) envp.push_back(*e);
  envp.push_back(nullptr);
  const std::string outPath = dir.file("stdout.log"), errPath = dir.file("stderr.log");
  SimRun run;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.path().c_str()) != 0)
      _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.exitCode = WEXITSTATUS(status);
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

// The output with the measured values (times, counts) replaced by "*".
std::string withoutMeasurements(const std::string& text) {
  std::istringstream in(text);
  std::string result;
  for (std::string line; std::getline(in, line);) {
    for (const char* prefix :
         {"GenerateConnectivityList() Time=", "Actions fired: ", "CPU time (s): "})
      if (line.rfind(prefix, 0) == 0) line = std::string(prefix) + "*";
    result += line + "\n";
  }
  return result;
}

std::string repeat(const std::string& text, int n) {
  std::string result;
  while (n-- > 0) result += text;
  return result;
}

std::set<std::string> filesIn(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.insert(entry.path().filename().string());
  return names;
}

const std::string kHeader =
    "**************************************\n\t\tTRACE\n**************************************\n";
const std::string kBatch = "##### NEW BATCH #####\n";
const std::string kSetUpEnd =
    "GenerateConnectivityList()\nGenerateConnectivityList() Time=*\n"
    "SIMULATOR::Preparing to run()\n";
const std::string kRunEnd = "Actions fired: *\nCPU time (s): *\nSIMULATOR::MAIN()-GOOD EXIT\n";
const std::string kGoodExit = "SIMULATOR::MAIN()-GOOD EXIT\n";
const std::string kXmlEnd = "<Sequence type=\"StateActionType\">\n</Sequence>\n</Trace>\n";

}  // namespace

// -m alone traces to standard output: the header at set-up, then a batch
// mark at the start of the run and after every replication. -l alone turns
// the plain-text trace on as well.
TEST(TraceRun, PlainTextTraceOnStandardOutput) {
  TempDir dir;
  SimRun run = runSimulator(dir, {"-m", "-N", "3"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kGoodExit);
  EXPECT_EQ(withoutMeasurements(run.out), "Max Number of Batches: 3\nAdding cout: \n" + kHeader +
                                              kSetUpEnd + repeat(kBatch, 4) + kRunEnd);

  run = runSimulator(dir, {"-l", "2", "-N", "1"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(withoutMeasurements(run.out),
            "TraceLevel: 2\nMax Number of Batches: 1\nAdding cout: \n" + kHeader + kSetUpEnd +
                repeat(kBatch, 2) + kRunEnd);
  EXPECT_EQ(filesIn(dir), (std::set<std::string>{"stdout.log", "stderr.log"}));
}

// -x -f run writes run.xml only, closed after the first replication with
// nothing after it; standard output then carries no trace.
TEST(TraceRun, XmlTraceToAFile) {
  TempDir dir;
  SimRun run = runSimulator(dir, {"-x", "-f", "run", "-N", "3"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kGoodExit);
  EXPECT_EQ(withoutMeasurements(run.out),
            "TraceFile: run\nMax Number of Batches: 3\n" + kSetUpEnd + kRunEnd);
  EXPECT_EQ(filesIn(dir), (std::set<std::string>{"run.xml", "stdout.log", "stderr.log"}));
  const std::string xml = readFile(dir.file("run.xml"));
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n", 0), 0u);
  ASSERT_GE(xml.size(), kXmlEnd.size());
  EXPECT_EQ(xml.substr(xml.size() - kXmlEnd.size()), kXmlEnd);
  EXPECT_EQ(xml.find("</Trace>"), xml.size() - std::string("</Trace>\n").size());
  expectWellFormed(xml);

  // Without -f the document goes to standard output, closed once.
  run = runSimulator(dir, {"-x", "-N", "2"});
  const std::string out = withoutMeasurements(run.out);
  EXPECT_EQ(out.find("Max Number of Batches: 2\n<?xml"), 0u) << out;
  EXPECT_NE(out.find("SIMULATOR::Preparing to run()\n</Sequence>\n</Trace>\n" + kRunEnd),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("</Trace>"), out.rfind("</Trace>"));
}

// -m -x -f run writes both files under the one base name.
TEST(TraceRun, BothTracesShareTheBaseName) {
  TempDir dir;
  SimRun run = runSimulator(dir, {"-m", "-x", "-f", "run", "-N", "2"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kGoodExit);
  EXPECT_EQ(withoutMeasurements(run.out),
            "TraceFile: run\nMax Number of Batches: 2\n" + kSetUpEnd + kRunEnd);
  EXPECT_EQ(readFile(dir.file("run.txt")), kHeader + repeat(kBatch, 3));
  const std::string xml = readFile(dir.file("run.xml"));
  ASSERT_GE(xml.size(), kXmlEnd.size());
  EXPECT_EQ(xml.substr(xml.size() - kXmlEnd.size()), kXmlEnd);
  expectWellFormed(xml);
}

// A trace file that cannot be created is reported with its name and reason;
// the run itself goes on and writes its results.
TEST(TraceRun, UnopenableTraceFileIsReportedAndTheRunEndsNormally) {
  TempDir dir;
  SimRun run = runSimulator(
      dir, {"-m", "-x", "-f", "missing/run", "-N", "2", "-a", "result.txt", "-b", "result.bin"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err,
            "ERROR: cannot open trace file missing/run.txt: No such file or directory\n"
            "ERROR: cannot open trace file missing/run.xml: No such file or directory\n" +
                kGoodExit);
  ASSERT_GE(run.out.size(), kGoodExit.size());
  EXPECT_EQ(run.out.substr(run.out.size() - kGoodExit.size()), kGoodExit);
  EXPECT_EQ(run.out.find("TRACE"), std::string::npos);
  EXPECT_GT(readFile(dir.file("result.txt")).size(), 0u);
  EXPECT_GT(readFile(dir.file("result.bin")).size(), 256u);
}
