// The command line: option parsing, confirmation lines and the usage text.
#include "simulator/CommandOptions.h"

#include <cstring>
#include <iostream>

#include "model/ModelCatalogue.h"
#include "network/TarvexSocket.h"
#include "simulator/SimulatorClass.h"

namespace {

const size_t kMaxArgumentLength = 128;

// A whole decimal number: digits only (no sign, no blanks, nothing after
// them), from low to high.
bool wholeNumber(const char* text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > high) return false;
  }
  if (v < low) return false;
  *value = v;
  return true;
}

const char* rngName(int32_t type) {
  return SimulatorClass::to_string(static_cast<SimulatorClass::RandomNumberGeneratorType>(type));
}

}  // namespace

const char* SimulatorClass::to_string(RandomNumberGeneratorType type) {
  switch (type) {
    case LaggedFibonacciGenerator: return "Lagged Fibonacci";
    case TauswortheGenerator: return "Tausworthe";
    case MersenneTwisterGenerator: return "Mersenne Twister";
    default: return "Unknown";
  }
}

void SimulatorClass::PrintUsage() {
  // The lines of the original options stay as they are; later options are
  // added after them.
  std::cerr << "Valid Options\n"
            << "-a <name>: write ASCII output to file <name>\n"
            << "-b <name>: write binary output to file <name>\n"
            << "-c <num>: Client identification number (default=0)\n"
            << "-e <num>: Experiment to run, 'Experiment 1' is num=0 (default = 0)\n"
            << "-f <name>: Trace file name (default=<stdout>)\n"
            << "-m: Enable Tarvex trace \n"
            << "-l <num>: Trace Level (1, 2,3,4 [default=1])\n"
            << "-x: Enable XML trace \n"
            << "-n <num>: Num observations sent in 1 update to SimMgr. (default=1000)\n"
            << "-N <num>: Maximum number of batches to run (default=infinite)\n"
            << "-p <num>: Communication port of network server (default=10000)\n"
            << "-r <num>: Random Number Generator (0 = Lagged Fibonacci[default], 1 = Tausworthe, "
               "2 = Mersenne Twister\n"
            << "-s <num>: Random Number Seed (31415[default])\n"
            << "-t <num>: Simulation Type (1 = Terminating[default] 0 = Steady State)\n"
            << "-w: Simulator will wait to send output until socket connection is established.\n"
            << "-H <address>: IPv4 address to listen on for SimMgr, e.g. 127.0.0.1 (default=all)\n"
            << std::flush;
}

int16_t ParseCommandLine(int argc, char** argv, SimulatorSettings* settings, std::ostream& out,
                         std::ostream& err) {
  SimulatorSettings& s = *settings;
  s.ReportSize = 1000;
  s.MaxBatches = 0;
  bool traceRequested = false;

  if (argc == 1) {
    err << "ERROR: No command line options specified" << std::endl;
    return 1;
  }
  if (argc < 1) return 0;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv ? argv[i] : nullptr;
    if (arg == nullptr) continue;
    size_t length = std::strlen(arg);
    if (length > kMaxArgumentLength) {
      err << "ERROR: Command Line Argument Too Long, Limited to " << kMaxArgumentLength << " Characters\n"
          << std::flush;
      return 1;
    }
    if (arg[0] != '-') continue;

    char letter = arg[1];
    const char* param = nullptr;
    if (length == 2) {
      if (i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '-') param = argv[++i];
    } else if (length > 2) {
      param = arg + 2;
    }

    // Options that need a parameter fail without one; flags fail with one.
    auto expect = [&](char option) {
      if (param) return true;
      err << "Expect a parameter after '-" << option << "'\n" << std::flush;
      return false;
    };
    auto noParameter = [&](char option) {
      if (!param) return true;
      err << "Did not expect a parameter after '-" << option << "'\n" << std::flush;
      return false;
    };
    // A numeric parameter: a whole number in its range, or the failure with
    // a message naming the option and the range.
    uint64_t number = 0;
    auto numeric = [&](char option, uint64_t low, uint64_t high, const char* note) {
      if (!expect(option)) return false;
      if (wholeNumber(param, low, high, &number)) return true;
      err << "ERROR: Option -" << option << " takes a whole number from " << low << " to " << high
          << note << ", not '" << param << "'\n"
          << std::flush;
      return false;
    };

    switch (letter) {
      case 'a':
        if (!expect('a')) return 1;
        s.ASCIIFilename = param;
        s.HasASCIIFilename = true;
        out << "ASCIIFilename: " << s.ASCIIFilename << std::endl;
        break;
      case 'b':
        if (!expect('b')) return 1;
        s.BinFilename = param;
        s.HasBinFilename = true;
        out << "BinFilename: " << s.BinFilename << std::endl;
        break;
      case 'c':
        if (!numeric('c', 0, 2147483647, "")) return 1;
        s.ClientID = static_cast<int32_t>(number);
        out << "ClientID: " << s.ClientID << std::endl;
        break;
      case 'e':
        if (!numeric('e', 0, 65535, "")) return 1;
        s.Experiment = static_cast<uint32_t>(number);
        out << "Experiment: " << s.Experiment << std::endl;
        break;
      case 'f':
        if (!expect('f')) return 1;
        s.TraceFileName = param;
        s.HasTraceFileName = true;
        traceRequested = true;
        out << "TraceFile: " << s.TraceFileName << std::endl;
        break;
      case 'l':
        if (!numeric('l', 1, 4, "")) return 1;
        s.RequestedTraceLevel = static_cast<int32_t>(number);
        traceRequested = true;
        out << "TraceLevel: " << s.RequestedTraceLevel << std::endl;
        break;
      case 'm':
        if (!noParameter('m')) return 1;
        s.TarvexTrace = true;
        break;
      case 'x':
        if (!noParameter('x')) return 1;
        s.XMLTrace = true;
        break;
      case 'n':
        if (!numeric('n', 1, 2147483647, "")) return 1;
        s.ReportSize = static_cast<int32_t>(number);
        out << "ReportSize: " << s.ReportSize << std::endl;
        break;
      case 'N':
        if (!numeric('N', 0, 2147483647, " (0: no limit)")) return 1;
        s.MaxBatches = static_cast<int32_t>(number);
        out << "Max Number of Batches: " << s.MaxBatches << std::endl;
        break;
      case 'p':
        if (!numeric('p', 0, 65535, "")) return 1;
        s.Port = static_cast<int16_t>(static_cast<uint16_t>(number));
        out << "Port: " << number << std::endl;
        break;
      case 'r':
        if (!numeric('r', 0, 2, "")) return 1;
        s.RNGType = static_cast<int32_t>(number);
        out << "Random Number Generator: " << rngName(s.RNGType) << std::endl;
        break;
      case 's':
        if (!numeric('s', 0, 4294967295u, "")) return 1;
        s.Seed = static_cast<uint32_t>(number);
        out << "Random Number Seed: " << s.Seed << std::endl;
        break;
      case 't':
        if (!numeric('t', 0, 1, "")) return 1;
        s.IsTerminating = static_cast<int32_t>(number);
        out << "Is Terminating Simulation: " << s.IsTerminating << std::endl;
        break;
      case 'w':
        if (!noParameter('w')) return 1;
        s.WaitForSocket = true;
        out << "Wait For Socket Enabled" << std::endl;
        break;
      case 'H':
        if (!expect('H')) return 1;
        if (!TarvexSocket::IsIPv4Address(param)) {
          err << "ERROR: Option -H takes an IPv4 address such as 127.0.0.1, not '" << param << "'\n"
              << std::flush;
          return 1;
        }
        s.ListenAddress = param;
        out << "ListenAddress: " << s.ListenAddress << std::endl;
        break;
      case 'M':
        if (!expect('M')) return 1;
        s.ModelFileName = ModelCatalogue::Resolve(param);
        s.HasModelFile = true;
        out << "ModelFile: " << s.ModelFileName << std::endl;
        break;
      case 'K':
        if (!noParameter('K')) return 1;
        s.CheckModelOnly = true;
        break;
      case 'R':
        if (!noParameter('R')) return 1;
        s.CommonRandomNumbers = true;
        out << "Common Random Numbers: each replication restarts the stream" << std::endl;
        break;
      case 'P':
        if (!expect('P')) return 1;
        s.PathsFileName = param;
        s.HasPathsFile = true;
        out << "PathsFile: " << s.PathsFileName << std::endl;
        break;
      case 'L':
        if (!numeric('L', 1, 4096, " (megabytes)")) return 1;
        s.LookaheadMemoryMB = static_cast<uint32_t>(number);
        out << "Look-ahead memory: " << number << " MB" << std::endl;
        break;
      case 'O':
        if (!expect('O')) return 1;
        s.OverrideString = param;
        s.HasOverrideString = true;
        out << "OverrideString is " << s.OverrideString << std::endl;
        break;
      default:
        err << "ERROR: Unrecognized Command Line option: " << arg << "\n" << std::flush;
        return 1;
    }
  }

  if (s.CheckModelOnly && !s.HasModelFile) {
    err << "ERROR: -K checks a model file: give it with -M\n" << std::flush;
    return 1;
  }

  // A steady-state run is one long replication cut into batches: there is
  // no replication start at which to restart the stream.
  if (s.CommonRandomNumbers && s.IsTerminating == 0) {
    err << "ERROR: -R restarts the random stream at each replication of a terminating run; "
           "a steady-state run (-t 0) has one long replication\n"
        << std::flush;
    return 1;
  }

  if (traceRequested && !s.TarvexTrace && !s.XMLTrace) s.TarvexTrace = true;
  return 0;
}

int16_t SimulatorClass::ParseCommandLineOptions(int argc, char** argv) {
  return ParseCommandLine(argc, argv, this, std::cout, std::cerr);
}
