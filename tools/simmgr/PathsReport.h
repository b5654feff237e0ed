// The attack paths of a study: the simulators' tallies (-P) merged and
// published as OUT/paths.csv, OUT/paths.json, OUT/paths.svg and a table on
// standard output.
#ifndef TARVEX_TOOLS_SIMMGR_PATHSREPORT_H
#define TARVEX_TOOLS_SIMMGR_PATHSREPORT_H

#include <iosfwd>

#include "simmgr/Options.h"

namespace simmgr {

// Merges the tallies of simulators 0 .. simulators-1 (a simulator that left
// none, being killed, is named and left out) and writes the files. False
// after a message when no tally could be read, a file cannot be written or
// the goal is not one of the model's.
bool PublishPaths(const StudyOptions& options, int simulators, std::ostream& out, std::ostream& err);

}  // namespace simmgr

#endif
