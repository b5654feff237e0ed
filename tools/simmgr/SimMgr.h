// The simulation manager's commands: a live study over simulator processes
// and the summary of binary result files. Each returns the exit code.
#ifndef TARVEX_TOOLS_SIMMGR_SIMMGR_H
#define TARVEX_TOOLS_SIMMGR_SIMMGR_H

#include <iosfwd>
#include <string>
#include <vector>

#include "simmgr/Options.h"

namespace simmgr {

// Exit codes.
const int kExitOk = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;
// Interrupted: 128 + the signal (130 for SIGINT, 143 for SIGTERM).

// The whole program: args without the program name.
int RunSimMgr(const std::vector<std::string>& args, const std::string& programPath, std::ostream& out,
              std::ostream& err);

int RunStudy(const StudyOptions& options, std::ostream& out, std::ostream& err);
int RunSummarize(const SummarizeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace simmgr

#endif
