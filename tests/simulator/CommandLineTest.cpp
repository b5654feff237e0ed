// The command line, seen from outside: the simulator program is run with
// arguments and its standard output, standard error and exit status are
// compared exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ResultFiles.h"

using namespace support;

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
    "-w: Simulator will wait to send output until socket connection is established.\n"
    "ERROR: Parsing command line options\n";

}  // namespace

// Every way of getting the command line wrong: the option's own message (if
// any), then the usage text, then the closing error line, exit code 1, and
// only the confirmations of the options before the faulty one on standard
// output. Nothing is created before parsing has succeeded.
TEST(CommandLine, FaultyCommandLinesPrintUsageAndFail) {
  TempDir dir;
  const std::string early = dir.file("early.txt");
  struct Case {
    std::vector<std::string> args;
    std::string message;  // before the usage text
    std::string out;
  };
  const Case cases[] = {
      {{}, "ERROR: No command line options specified\n", ""},
      {{"-N", "1", std::string(129, 'x')}, "ERROR: Command Line Argument Too Long, Limited to 128 Characters\n",
       "Max Number of Batches: 1\n"},
      {{"-s", "-t", "0"}, "Expect a parameter after '-s'\n", ""},
      {{"-m", "foo"}, "Did not expect a parameter after '-m'\n", ""},
      {{"-mfoo"}, "Did not expect a parameter after '-m'\n", ""},
      {{"-a", early, "-r", "3"}, "", "ASCIIFilename: " + early + "\n"},
      {{"-N", "4", "-a"}, "Expect a parameter after '-a'\n", "Max Number of Batches: 4\n"},
      {{"-O"}, "Expect a parameter after '-O'\n", ""},
      {{"-q", "1"}, "ERROR: Unrecognized Command Line option: -q\n", ""},
      {{"-n", "0"}, "ERROR: ReportSize (-n) must be at least 1, not 0\n", "ReportSize: 0\n"},
      {{"-p", "65536"}, "ERROR: Port 65536 is outside the range 0 to 65535\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0] + " " + c.args.back().substr(0, 40));
    Result r = runSimulator(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.message + kUsage);
  }
  EXPECT_FALSE(fileExists(early));
}

// Forms of arguments that are accepted: 128 characters, the parameter glued to
// the letter, stray words, repeated options (the last one wins). Each run
// must give the same result files as its plain equivalent.
TEST(CommandLine, EquivalentArgumentForms) {
  TempDir dir;
  auto run = [&](std::vector<std::string> args, const std::string& tag) {
    args.insert(args.end(), {"-a", dir.file(tag + ".txt"), "-b", dir.file(tag + ".bin")});
    Result r = runSimulator(args);
    EXPECT_EQ(r.exitCode, 0) << tag << "\n" << r.err;
    return readFile(dir.file(tag + ".txt")) + "|" + readFile(dir.file(tag + ".bin"));
  };
  const std::string plain = run({"-N", "3", "-e", "3", "-s", "11"}, "plain");
  ASSERT_GT(plain.size(), 1000u);
  EXPECT_EQ(run({"-N3", "-e3", "-s11"}, "glued"), plain);
  EXPECT_EQ(run({"-N", "3", "word", "-e", "3", "again", "-s", "11", "more"}, "stray"), plain);
  EXPECT_EQ(run({"-N", "9", "-s", "4", "-e", "1", "-N", "3", "-s", "11", "-e", "3", "-b", dir.file("first.bin")},
                "repeated"),
            plain);
  EXPECT_FALSE(fileExists(dir.file("first.bin")));

  // An argument of exactly 128 characters is taken whole: here as a file name.
  std::string name = dir.file("");
  name += std::string(126 - name.size(), 'n');
  ASSERT_EQ(("-a" + name).size(), 128u);
  Result r = runSimulator({"-N", "1", "-a" + name});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(name).rfind("#TARVEX_SIM_ASCII_FILE,", 0), 0u);
}

// "SIMTEST" chooses the connectivity algorithm: 0 and 1 the earlier one,
// which with this model's deterministic delays must give the very same
// results.
TEST(CommandLine, SimtestSelectsTheConnectivityAlgorithm) {
  TempDir dir;
  const std::string reference = dir.file("ref.txt");
  Result r = runSimulator({"-N", "20", "-a", reference});
  ASSERT_EQ(r.exitCode, 0);
  for (const std::string value : {"0", "1"}) {
    SCOPED_TRACE("SIMTEST=" + value);
    const std::string file = dir.file("simtest" + value + ".txt");
    Result s = runSimulator({"-N", "20", "-a", file}, {"SIMTEST=" + value});
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_EQ(s.err, "SIMULATOR::MAIN()-GOOD EXIT\n");
    EXPECT_TRUE(contains(s.out, "\nGenerateConnectivityListOld()\nGenerateConnectivityList() Time=")) << s.out;
    EXPECT_EQ(actionsFired(s.out), actionsFired(r.out));
    EXPECT_EQ(readFile(file), readFile(reference));
  }
}
