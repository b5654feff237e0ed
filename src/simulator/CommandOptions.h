// The simulator's command line: the settings it chooses and the parser that
// fills them, usable without building a simulator.
#ifndef TARVEX_SIMULATOR_COMMANDOPTIONS_H
#define TARVEX_SIMULATOR_COMMANDOPTIONS_H

#include <cstdint>
#include <iosfwd>
#include <string>

// Every setting an option writes, at the value it has before parsing (the
// option that sets it in brackets).
struct SimulatorSettings {
  bool HasOverrideString = false;  // -O
  std::string OverrideString;
  int32_t ReportSize = 1000;  // -n, 1 to 2147483647
  int16_t Port = 10000;       // -p, 0 to 65535 (stored as its 16 bits)
  int32_t ClientID = 0;       // -c, 0 to 2147483647
  uint32_t Experiment = 0;    // -e, 0 to 65535
  int32_t IsTerminating = 1;  // -t, 1 terminating, 0 steady state
  bool HasTraceFileName = false;  // -f
  std::string TraceFileName;
  int32_t RequestedTraceLevel = 1;  // -l, 1 to 4
  bool TarvexTrace = false;         // -m (also set by -l and -f)
  bool XMLTrace = false;            // -x
  uint32_t Seed = 31415;            // -s, 0 to 4294967295
  int32_t MaxBatches = -1;          // -N, 0 (no limit) to 2147483647; parsing starts it at 0
  bool HasASCIIFilename = false;    // -a
  std::string ASCIIFilename;
  bool HasBinFilename = false;  // -b
  std::string BinFilename;
  bool WaitForSocket = false;  // -w
  int32_t RNGType = 0;         // -r, 0 lagged Fibonacci, 1 Tausworthe, 2 Mersenne Twister
  std::string ListenAddress;   // -H, an IPv4 address; empty: every interface
  bool HasModelFile = false;   // -M: the model file run instead of the built-in model
  std::string ModelFileName;
  bool CheckModelOnly = false;  // -K: load and check the model file, do not simulate
  bool CommonRandomNumbers = false;  // -R: each replication starts its own stream
  bool HasPathsFile = false;    // -P: tally the attack paths into this file
  std::string PathsFileName;
  uint32_t LookaheadMemoryMB = 0;  // -L, 1 to 4096: bound of each model's look-ahead memo; 0: default
};

// Parses argv[1..argc-1] into *settings (which keeps its values for the
// options not given; ReportSize and MaxBatches start at 1000 and 0), writing
// each option's confirmation line to `out` and the reason for a failure to
// `err`. 0 on success, 1 on failure (also for argc 1: no options at all).
// Safe for any argument text; null entries of argv are skipped.
int16_t ParseCommandLine(int argc, char** argv, SimulatorSettings* settings, std::ostream& out,
                         std::ostream& err);

#endif
