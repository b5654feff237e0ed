// The command line: option parsing, confirmation lines and the usage text.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "simulator/SimulatorClass.h"

namespace {

// atoi's conversion with defined behaviour for out-of-range text: leading
// white space and a sign are accepted, conversion stops at the first
// non-digit, text without digits gives 0.
int toInt(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }

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
            << std::flush;
}

int16_t SimulatorClass::ParseCommandLineOptions(int argc, char** argv) {
  ReportSize = 1000;
  MaxBatches = 0;
  bool traceRequested = false;

  if (argc == 1) {
    std::cerr << "ERROR: No command line options specified" << std::endl;
    return 1;
  }
  if (argc < 1) return 0;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    size_t length = std::strlen(arg);
    if (length > static_cast<size_t>(kMaxArgumentLength)) {
      std::cerr << "ERROR: Command Line Argument Too Long, Limited to " << kMaxArgumentLength
                << " Characters\n"
                << std::flush;
      return 1;
    }
    if (arg[0] != '-') continue;

    char letter = arg[1];
    const char* param = nullptr;
    if (length == 2) {
      if (i + 1 < argc && argv[i + 1][0] != '-') param = argv[++i];
    } else if (length > 2) {
      param = arg + 2;
    }

    // Options that need a parameter fail without one; flags fail with one.
    auto expect = [&](char option) {
      if (param) return true;
      std::cerr << "Expect a parameter after '-" << option << "'\n" << std::flush;
      return false;
    };
    auto noParameter = [&](char option) {
      if (!param) return true;
      std::cerr << "Did not expect a parameter after '-" << option << "'\n" << std::flush;
      return false;
    };

    switch (letter) {
      case 'a':
        if (!expect('a')) return 1;
        ASCIIFilename = param;
        HasASCIIFilename = true;
        std::cout << "ASCIIFilename: " << ASCIIFilename << std::endl;
        break;
      case 'b':
        if (!expect('b')) return 1;
        BinFilename = param;
        HasBinFilename = true;
        std::cout << "BinFilename: " << BinFilename << std::endl;
        break;
      case 'c':
        if (!expect('c')) return 1;
        ClientID = toInt(param);
        std::cout << "ClientID: " << ClientID << std::endl;
        break;
      case 'e':
        if (!expect('e')) return 1;
        Experiment = static_cast<uint32_t>(toInt(param));
        std::cout << "Experiment: " << Experiment << std::endl;
        break;
      case 'f':
        if (!expect('f')) return 1;
        TraceFileName = param;
        HasTraceFileName = true;
        traceRequested = true;
        std::cout << "TraceFile: " << TraceFileName << std::endl;
        break;
      case 'l':
        if (!expect('l')) return 1;
        RequestedTraceLevel = toInt(param);
        traceRequested = true;
        std::cout << "TraceLevel: " << RequestedTraceLevel << std::endl;
        break;
      case 'm':
        if (!noParameter('m')) return 1;
        TarvexTrace = true;
        break;
      case 'x':
        if (!noParameter('x')) return 1;
        XMLTrace = true;
        break;
      case 'n':
        if (!expect('n')) return 1;
        ReportSize = toInt(param);
        std::cout << "ReportSize: " << ReportSize << std::endl;
        break;
      case 'N':
        if (!expect('N')) return 1;
        MaxBatches = toInt(param);
        std::cout << "Max Number of Batches: " << MaxBatches << std::endl;
        break;
      case 'p': {
        if (!expect('p')) return 1;
        int port = toInt(param);
        if (port < 0 || port > 65535) {
          std::cerr << "ERROR: Port " << port << " is outside the range 0 to 65535\n" << std::flush;
          return 1;
        }
        Port = static_cast<int16_t>(static_cast<uint16_t>(port));
        std::cout << "Port: " << port << std::endl;
        break;
      }
      case 'r': {
        if (!expect('r')) return 1;
        int type = toInt(param);
        if (type < 0 || type > 2) return 1;
        RNGType = static_cast<RandomNumberGeneratorType>(type);
        std::cout << "Random Number Generator: " << to_string(RNGType) << std::endl;
        break;
      }
      case 's':
        if (!expect('s')) return 1;
        Seed = static_cast<uint32_t>(toInt(param));
        std::cout << "Random Number Seed: " << Seed << std::endl;
        break;
      case 't':
        if (!expect('t')) return 1;
        IsTerminating = toInt(param);
        std::cout << "Is Terminating Simulation: " << IsTerminating << std::endl;
        break;
      case 'w':
        if (!noParameter('w')) return 1;
        WaitForSocket = true;
        std::cout << "Wait For Socket Enabled" << std::endl;
        break;
      case 'M':
        if (!expect('M')) return 1;
        ModelFileName = param;
        HasModelFile = true;
        std::cout << "ModelFile: " << ModelFileName << std::endl;
        break;
      case 'K':
        if (!noParameter('K')) return 1;
        CheckModelOnly = true;
        break;
      case 'O':
        if (!expect('O')) return 1;
        OverrideString = param;
        HasOverrideString = true;
        std::cout << "OverrideString is " << OverrideString << std::endl;
        break;
      default:
        std::cerr << "ERROR: Unrecognized Command Line option: " << arg << "\n" << std::flush;
        return 1;
    }
  }

  // Packets hold ReportSize observations per node; without room for one
  // observation nothing could ever be reported.
  if (ReportSize < 1) {
    std::cerr << "ERROR: ReportSize (-n) must be at least 1, not " << ReportSize << "\n"
              << std::flush;
    return 1;
  }

  if (CheckModelOnly && !HasModelFile) {
    std::cerr << "ERROR: -K checks a model file: give it with -M\n" << std::flush;
    return 1;
  }

  if (traceRequested && !TarvexTrace && !XMLTrace) TarvexTrace = true;
  return 0;
}
