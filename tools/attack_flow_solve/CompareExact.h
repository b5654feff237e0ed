// attack_flow_solve --compare A B: the exact means of two experiments of a
// model's study and their exact difference, node by node.
#ifndef TARVEX_TOOLS_ATTACK_FLOW_SOLVE_COMPAREEXACT_H
#define TARVEX_TOOLS_ATTACK_FLOW_SOLVE_COMPAREEXACT_H

#include <iosfwd>

#include "attack_flow_solve/SolveProgram.h"

namespace solver {

// Solves experiments options.compareA and options.compareB (each with the
// overrides of options.choice) and writes, per node, mean_a, mean_b and
// difference = mean_b - mean_a as CSV, JSON and/or a table of differences,
// as the program writes single results. Returns the exit status.
int RunComparison(const ProgramOptions& options, std::ostream& out, std::ostream& err);

}  // namespace solver

#endif
