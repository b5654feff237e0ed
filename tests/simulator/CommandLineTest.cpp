// The command line, seen from outside: the simulator program is run with
// arguments and its standard output, standard error and exit status are
// compared exactly.
#include <gtest/gtest.h>

#include <charconv>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/CommandOptions.h"
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
    "-H <address>: IPv4 address to listen on for SimMgr, e.g. 127.0.0.1 (default=all)\n"
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
      {{"-a", early, "-r", "3"}, "ERROR: Option -r takes a whole number from 0 to 2, not '3'\n",
       "ASCIIFilename: " + early + "\n"},
      {{"-N", "4", "-a"}, "Expect a parameter after '-a'\n", "Max Number of Batches: 4\n"},
      {{"-O"}, "Expect a parameter after '-O'\n", ""},
      {{"-q", "1"}, "ERROR: Unrecognized Command Line option: -q\n", ""},
      {{"-n", "0"}, "ERROR: Option -n takes a whole number from 1 to 2147483647, not '0'\n", ""},
      {{"-p", "65536"}, "ERROR: Option -p takes a whole number from 0 to 65535, not '65536'\n", ""},
      // Values that atoi would have taken for something else.
      {{"-N", "abc"}, "ERROR: Option -N takes a whole number from 0 to 2147483647 (0: no limit), not 'abc'\n", ""},
      {{"-N4294967296"}, "ERROR: Option -N takes a whole number from 0 to 2147483647 (0: no limit), not '4294967296'\n",
       ""},
      {{"-N", "1e3"}, "ERROR: Option -N takes a whole number from 0 to 2147483647 (0: no limit), not '1e3'\n", ""},
      {{"-N", "-5"}, "Expect a parameter after '-N'\n", ""},
      {{"-s", "abc"}, "ERROR: Option -s takes a whole number from 0 to 4294967295, not 'abc'\n", ""},
      {{"-p", "1e5"}, "ERROR: Option -p takes a whole number from 0 to 65535, not '1e5'\n", ""},
      {{"-e-1"}, "ERROR: Option -e takes a whole number from 0 to 65535, not '-1'\n", ""},
      {{"-t", "2"}, "ERROR: Option -t takes a whole number from 0 to 1, not '2'\n", ""},
      {{"-l", "99"}, "ERROR: Option -l takes a whole number from 1 to 4, not '99'\n", ""},
      {{"-r", "1.9"}, "ERROR: Option -r takes a whole number from 0 to 2, not '1.9'\n", ""},
      {{"-c", " 7"}, "ERROR: Option -c takes a whole number from 0 to 2147483647, not ' 7'\n", ""},
      {{"-H", "localhost"}, "ERROR: Option -H takes an IPv4 address such as 127.0.0.1, not 'localhost'\n", ""},
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

// The parser on its own, against a reference: a numeric parameter is taken
// exactly when it is decimal digits only and within its option's range, and
// then the setting holds its value.
TEST(CommandLine, NumericParametersAgainstAReference) {
  struct Range {
    char option;
    uint64_t low, high;
    std::function<uint64_t(const SimulatorSettings&)> value;
  };
  const Range ranges[] = {
      {'N', 0, 2147483647, [](const SimulatorSettings& s) { return uint64_t(s.MaxBatches); }},
      {'n', 1, 2147483647, [](const SimulatorSettings& s) { return uint64_t(s.ReportSize); }},
      {'s', 0, 4294967295u, [](const SimulatorSettings& s) { return uint64_t(s.Seed); }},
      {'c', 0, 2147483647, [](const SimulatorSettings& s) { return uint64_t(s.ClientID); }},
      {'e', 0, 65535, [](const SimulatorSettings& s) { return uint64_t(s.Experiment); }},
      {'p', 0, 65535, [](const SimulatorSettings& s) { return uint64_t(uint16_t(s.Port)); }},
      {'t', 0, 1, [](const SimulatorSettings& s) { return uint64_t(s.IsTerminating); }},
      {'l', 1, 4, [](const SimulatorSettings& s) { return uint64_t(s.RequestedTraceLevel); }},
      {'r', 0, 2, [](const SimulatorSettings& s) { return uint64_t(s.RNGType); }},
  };
  std::mt19937 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::ostringstream out, err;
  for (int trial = 0; trial < 20000; trial++) {
    const Range& r = ranges[trial % 9];
    std::string text;
    switch (pick(4)) {
      case 0: text = std::to_string(r.high + pick(2)); break;
      case 1: text = std::to_string(r.low - pick(2)); break;  // low - 1 may wrap: refused
      default:
        for (int i = 1 + pick(12); i > 0; i--) text += pick(8) ? char('0' + pick(10)) : "-+ .ex"[pick(6)];
    }
    uint64_t expected = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), expected);
    const bool valid = !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
                       expected >= r.low && expected <= r.high;
    std::string program = "sim", option = std::string("-") + r.option, parameter = text;
    char* argv[] = {&program[0], &option[0], &parameter[0], nullptr};
    SimulatorSettings settings;
    out.str("");
    err.str("");
    ASSERT_EQ(ParseCommandLine(3, argv, &settings, out, err), valid ? 0 : 1) << option << " '" << text << "'";
    if (valid) {
      EXPECT_EQ(r.value(settings), expected) << option << " '" << text << "'";
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_EQ(out.str(), "");
      EXPECT_NE(err.str(), "");
    }
  }
}
