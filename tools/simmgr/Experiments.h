// Studies of several experiments of a model: each chosen experiment run in
// turn as a full study with its own output directory, then one CSV of all of
// them and a compact table of their final means.
#ifndef TARVEX_TOOLS_SIMMGR_EXPERIMENTS_H
#define TARVEX_TOOLS_SIMMGR_EXPERIMENTS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "simmgr/Options.h"

namespace simmgr {

// Whether text is "all" or a comma-separated list of numbers and ranges
// ("0,3-5"); false with a message otherwise.
bool CheckExperimentList(const std::string& text, std::string* error);

// The experiments the text chooses among `count` ones, in increasing order
// and each once; false with a message when it names one outside 0..count-1.
bool ChooseExperiments(const std::string& text, int count, std::vector<int>* chosen,
                       std::string* error);

// Runs the experiments of options.experiments, each as RunStudy would with
// -e N given to its simulators, writing OUT/<N>/ and OUT/experiments.csv.
// Returns the exit code: that of the first experiment that failed or was
// interrupted (the experiments after an interruption are not run).
int RunExperiments(const StudyOptions& options, std::ostream& out, std::ostream& err);

}  // namespace simmgr

#endif
