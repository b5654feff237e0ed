// Plots across the experiments of one run: one performance variable's mean
// over time in every experiment (OUT/experiments.svg), and that variable at
// one instant against the value of a global variable that a factor of the
// study sweeps, with its intervals as bars (OUT/sweep.svg).
#ifndef TARVEX_TOOLS_SIMMGR_EXPERIMENTPLOTS_H
#define TARVEX_TOOLS_SIMMGR_EXPERIMENTPLOTS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "results/Results.h"
#include "rewards/MeasureLayout.h"

namespace simmgr {

// What the plots draw, settled before any experiment runs.
struct PlotChoice {
  std::string pv;          // the performance variable drawn
  int sweptGlobal = -1;    // index of the swept global variable; -1: no sweep plot
  double sweepTime = 0.0;  // the instant of the sweep plot
};

// One experiment as the plots see it.
struct PlottedExperiment {
  int number = 0;
  std::string name;                 // e.g. "mfa=0.5", or "profile=insider mfa=0.5"
  std::vector<std::string> values;  // the global variables' values in force, as experiments.csv
  const StudyResults* results = nullptr;
};

// Settles the plots from the options (pv: --plot-pv, or "" for the model's
// first; global: --sweep, or "" for the first global that a chosen
// experiment's name sets as "NAME=VALUE"; sweepTime: --sweep-time when
// timeGiven, else the variable's last instant). False with a message when
// the variable, the global or the instant does not exist or no chosen
// experiment varies the global.
bool ChoosePlots(const MeasureLayout& layout, const std::vector<std::string>& globals,
                 const std::vector<std::string>& experimentNames, const std::string& pv,
                 const std::string& global, bool timeGiven, double sweepTime, PlotChoice* choice,
                 std::string* error);

// Draws OUT/experiments.svg (script OUT/experiments.gp): the chosen
// variable's mean over time, one line per experiment. Returns the line to
// print ("Plot: ..." or why it was skipped).
std::string DrawExperimentsPlot(const PlotChoice& choice, const std::vector<PlottedExperiment>& runs,
                                const std::string& modelTitle, const std::string& outDir,
                                std::ostream& err);

// Draws OUT/sweep.svg (script OUT/sweep.gp): the chosen variable at the
// chosen instant against the swept global's value, with interval bars, for
// the experiments whose name sets that global; one line per combination of
// the other terms of their names (one line when a factor varies it alone).
std::string DrawSweepPlot(const PlotChoice& choice, const std::vector<std::string>& globals,
                          const std::vector<PlottedExperiment>& runs, const std::string& modelTitle,
                          const std::string& outDir, std::ostream& err);

}  // namespace simmgr

#endif
