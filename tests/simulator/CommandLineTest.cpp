// The command line, seen from outside: the simulator program is run with
// arguments and its standard output, standard error and exit status are
// compared exactly (the two clock readings are checked to be numbers and then
// masked).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "ProcessSupport.h"

namespace {

const char kUsage[] =
    "Valid Options\n"
    "-a <name>: write ASCII output to file <name>\n"
    "-b <name>: write binary output to file <name>\n"
    "-c <num>: Client identification number (default=0)\n"
    "-e <num>: Experiment to run, 'Experiment 1' is num=0 (default = 0)\n"
    "-f <name>: Trace file name (default=<stdout>)\n"
    "-m: Enable Tarvex trace \n"
    "-l <num>: Trace Level (1, 2,3,4 [default=1])\n"
    "-x: Enable XML trace \n"
    "-n <num>: Num observations sent in 1 update to SimMgr. (default=1000)\n"
    "-N <num>: Maximum number of batches to run (default=infinite)\n"
    "-p <num>: Communication port of network server (default=10000)\n"
    "-r <num>: Random Number Generator (0 = Lagged Fibonacci[default], 1 = Tausworthe, 2 = "
    "Mersenne Twister\n"
    "-s <num>: Random Number Seed (31415[default])\n"
    "-t <num>: Simulation Type (1 = Terminating[default] 0 = Steady State)\n"
    "-w: Simulator will wait to send output until socket connection is established.\n";

const char kParseError[] = "ERROR: Parsing command line options\n";

// Replaces the value after each label by "#" once it has been checked to be a
// non-negative number filling the rest of its line.
std::string maskClockValues(std::string out) {
  for (const char* label : {"GenerateConnectivityList() Time=", "CPU time (s): "}) {
    size_t at = out.find(label);
    if (at == std::string::npos) continue;
    size_t start = at + std::string(label).size();
    size_t end = out.find('\n', start);
    std::string number = out.substr(start, end - start);
    char* rest = nullptr;
    double value = std::strtod(number.c_str(), &rest);
    EXPECT_TRUE(!number.empty() && *rest == '\0' && std::isfinite(value) && value >= 0.0)
        << label << "'" << number << "'";
    out.replace(start, end - start, "#");
  }
  return out;
}

std::string framing(const std::string& confirmations, const std::string& algorithmLine,
                    int actionsFired) {
  return confirmations + algorithmLine + "GenerateConnectivityList() Time=#\n" +
         "SIMULATOR::Preparing to run()\n" + "Actions fired: " + std::to_string(actionsFired) +
         "\nCPU time (s): #\nSIMULATOR::MAIN()-GOOD EXIT\n";
}

}  // namespace

// Every way of getting the command line wrong: the option's own message (if
// any), then the usage text, then the closing error line, exit code 1, and
// only the confirmations of the options before the faulty one on standard
// output. Nothing is created before parsing has succeeded.
TEST(CommandLine, FaultyCommandLinesPrintUsageAndFail) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string early = dir.file("early.txt");
  struct Case {
    std::vector<std::string> args;
    std::string message;  // before the usage text; "ERROR: *" means any one "ERROR: " line
    std::string out;
  };
  const Case cases[] = {
      {{}, "ERROR: No command line options specified\n", ""},
      {{"-N", "1", std::string(129, 'x')},
       "ERROR: Command Line Argument Too Long, Limited to 128 Characters\n",
       "Max Number of Batches: 1\n"},
      {{"-s", "-t", "0"}, "Expect a parameter after '-s'\n", ""},
      {{"-m", "foo"}, "Did not expect a parameter after '-m'\n", ""},
      {{"-mfoo"}, "Did not expect a parameter after '-m'\n", ""},
      {{"-xyz"}, "Did not expect a parameter after '-x'\n", ""},
      {{"-w", "on"}, "Did not expect a parameter after '-w'\n", ""},
      {{"-a", early, "-r", "3"}, "", "ASCIIFilename: " + early + "\n"},
      {{"-r-1"}, "", ""},
      {{"-r", "-1"}, "Expect a parameter after '-r'\n", ""},
      {{"-N", "4", "-a"}, "Expect a parameter after '-a'\n", "Max Number of Batches: 4\n"},
      {{"-O"}, "Expect a parameter after '-O'\n", ""},
      {{"-q", "1"}, "ERROR: Unrecognized Command Line option: -q\n", ""},
      {{"-"}, "ERROR: Unrecognized Command Line option: -\n", ""},
      {{"-n", "0"}, "ERROR: *", "ReportSize: 0\n"},
      {{"-n-5", "-N", "3"}, "ERROR: *", "ReportSize: -5\nMax Number of Batches: 3\n"},
      {{"-p", "65536"}, "ERROR: *", ""},
      {{"-p-1"}, "ERROR: *", ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a.substr(0, 40);
    SCOPED_TRACE("arguments:" + shown);
    proc::Result r = proc::runSimulator(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, c.out);
    std::string tail = std::string(kUsage) + kParseError;
    if (c.message == "ERROR: *") {
      // Our own refusals: one "ERROR: " line of their own wording.
      ASSERT_GE(r.err.size(), tail.size());
      std::string own = r.err.substr(0, r.err.size() - tail.size());
      EXPECT_EQ(own.rfind("ERROR: ", 0), 0u) << own;
      EXPECT_TRUE(own.size() > 8 && own.find('\n') == own.size() - 1) << own;
      EXPECT_EQ(r.err.substr(own.size()), tail);
    } else {
      EXPECT_EQ(r.err, c.message + tail);
    }
  }
  EXPECT_FALSE(proc::fileExists(early));
}

// The confirmation lines of every option that has one, the lines that frame a
// run, and the closing line on both streams.
TEST(CommandLine, ConfirmationAndFramingLines) {
  proc::Result r = proc::runSimulator({"-c", "258", "-e3", "-N", "1", "-p", "65535", "-r", "2",
                                       "-s", "9", "-t", "1", "-n", "5", "-O", "d:Alpha:2"});
  EXPECT_EQ(r.exitCode, 0);
  // One replication's firings (Mersenne Twister, seed 9): a figure of today's
  // model that the run summary must report.
  std::string fired = r.out.substr(r.out.find("Actions fired: ") + 15);
  int actions = std::atoi(fired.c_str());
  EXPECT_GT(actions, 2);
  EXPECT_EQ(maskClockValues(r.out),
            framing("ClientID: 258\nExperiment: 3\nMax Number of Batches: 1\nPort: 65535\n"
                    "Random Number Generator: Mersenne Twister\nRandom Number Seed: 9\n"
                    "Is Terminating Simulation: 1\nReportSize: 5\nOverrideString is d:Alpha:2\n"
                    "Overriding global variables in simulator\n",
                    "GenerateConnectivityList()\n", actions));
  EXPECT_EQ(r.err,
            "!! studyRangeStudy::OverrideGVValue: Global Variable Alpha does not exist.\n"
            "SIMULATOR::MAIN()-GOOD EXIT\n");

  // Unsigned readings of negative numbers; -r 0 and -r 1 by name.
  r = proc::runSimulator({"-e-1", "-s-5", "-r", "1", "-r0", "-N", "1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find("GenerateConnectivityList()")),
            "Experiment: 4294967295\nRandom Number Seed: 4294967291\n"
            "Random Number Generator: Tausworthe\nRandom Number Generator: Lagged Fibonacci\n"
            "Max Number of Batches: 1\n");
}

// Forms of arguments that are accepted: 128 characters, the parameter glued to
// the letter, stray words, repeated options (the last one wins). Each run
// must give the same result files as its plain equivalent.
TEST(CommandLine, EquivalentArgumentForms) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  auto run = [&](std::vector<std::string> args, const std::string& tag) {
    args.insert(args.end(), {"-a", dir.file(tag + ".txt"), "-b", dir.file(tag + ".bin")});
    proc::Result r = proc::runSimulator(args);
    EXPECT_EQ(r.exitCode, 0) << tag << "\n" << r.err;
    return proc::readFile(dir.file(tag + ".txt")) + "|" + proc::readFile(dir.file(tag + ".bin"));
  };
  const std::string plain = run({"-N", "3", "-e", "3", "-s", "11"}, "plain");
  ASSERT_GT(plain.size(), 1000u);
  EXPECT_EQ(run({"-N3", "-e3", "-s11"}, "glued"), plain);
  EXPECT_EQ(run({"-N", "3", "word", "-e", "3", "again", "-s", "11", "more"}, "stray"), plain);
  EXPECT_EQ(run({"-N", "9", "-s", "4", "-e", "1", "-N", "3", "-s", "11", "-e", "3", "-b",
                 dir.file("first.bin")},
                "repeated"),
            plain);
  EXPECT_FALSE(proc::fileExists(dir.file("first.bin")));

  // An argument of exactly 128 characters is taken whole: here as a file name.
  std::string name = dir.file("");
  name += std::string(126 - name.size(), 'n');
  const std::string arg = "-a" + name;
  ASSERT_EQ(arg.size(), 128u);
  proc::Result r = proc::runSimulator({"-N", "1", arg});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(proc::readFile(name).rfind("#TARVEX_SIM_ASCII_FILE,", 0), 0u);
}

// "SIMTEST" chooses the connectivity algorithm. With this model every delay
// is deterministic or zero, so the order in which the units are re-examined
// uses no random numbers and the earlier algorithm must give the very same
// results. Any other value skips connectivity generation: the timing line is
// still printed, but then no firing re-examines any unit, so each replication
// fires the opening decision at time 0 and nothing else, and every PV keeps
// its initial value (NoKeyNoAccess 1, all others 0). That is what the
// switch asks for, although such a run reports a meaningless result without
// any warning.
TEST(CommandLine, SimtestSelectsTheConnectivityAlgorithm) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string reference = dir.file("ref.txt");
  proc::Result r = proc::runSimulator({"-N", "20", "-a", reference});
  ASSERT_EQ(r.exitCode, 0);
  const int referenceActions = std::atoi(r.out.substr(r.out.find("Actions fired: ") + 15).c_str());
  const std::string confirmations = "Max Number of Batches: 20\nASCIIFilename: ";

  for (const char* value : {"0", "1", "2"}) {
    SCOPED_TRACE(std::string("SIMTEST=") + value);
    const std::string file = dir.file(std::string("simtest") + value + ".txt");
    r = proc::runSimulator({"-N", "20", "-a", file}, {std::string("SIMTEST=") + value});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(maskClockValues(r.out), framing(confirmations + file + "\n",
                                              *value == '2' ? "GenerateConnectivityList()\n"
                                                            : "GenerateConnectivityListOld()\n",
                                              referenceActions));
    EXPECT_EQ(proc::readFile(file), proc::readFile(reference));
  }

  for (const char* value : {"5", "-1"}) {
    SCOPED_TRACE(std::string("SIMTEST=") + value);
    const std::string file = dir.file("skipped.txt");
    r = proc::runSimulator({"-N", "3", "-a", file}, {std::string("SIMTEST=") + value});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "SIMULATOR::MAIN()-GOOD EXIT\n");
    EXPECT_EQ(maskClockValues(r.out),
              framing("Max Number of Batches: 3\nASCIIFilename: " + file + "\n", "", 3));
    std::vector<proc::AsciiLine> lines =
        proc::asciiObservations(proc::splitLines(proc::readFile(file)));
    ASSERT_EQ(lines.size(), 3u * 168u);
    for (size_t i = 0; i < lines.size(); i++) {
      EXPECT_EQ(lines[i].pv, static_cast<int>(i / 3));
      EXPECT_EQ(lines[i].value, lines[i].pv < 21 ? "1.0" : "0.0") << "line " << i;
    }
  }
}
