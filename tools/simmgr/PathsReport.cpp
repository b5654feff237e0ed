#include "simmgr/PathsReport.h"

#include <fstream>
#include <ostream>
#include <sstream>

#include "results/FileOutput.h"
#include "results/Paths.h"

namespace simmgr {

bool PublishPaths(const StudyOptions& options, int simulators, std::ostream& out, std::ostream& err) {
  // Every replication a simulator ran is in its tally, also those of
  // packets the study discarded past its last round.
  paths::PathSet set;
  int read = 0;
  for (int i = 0; i < simulators; i++) {
    const std::string file = SimulatorPathsFile(options, i);
    std::ifstream in(file);
    std::string error;
    if (!in) {
      err << "simmgr: simulator " << i << " left no path tally (" << file << "); its paths are left out"
          << std::endl;
      continue;
    }
    if (!paths::ReadTally(in, &set, &error)) {
      err << "simmgr: " << file << ": " << error << "; its paths are left out" << std::endl;
      continue;
    }
    read++;
  }
  if (read == 0) {
    err << "simmgr: no path tally could be read; no paths written" << std::endl;
    return false;
  }
  paths::Selection selection;
  selection.goal = options.paths.goal;
  selection.top = options.paths.top;
  selection.minProbability = options.paths.minProbability;
  selection.confidence = options.interval.confidence;
  paths::PathReport report;
  std::string error;
  if (!paths::Rank(set, false, selection, &report, &error)) {
    err << "simmgr: --goal: " << error << std::endl;
    return false;
  }
  bool ok = true;
  std::ostringstream csv, json, dot;
  paths::WriteCsv(csv, report);
  paths::WriteJson(json, report);
  paths::WriteDot(dot, report, options.paths.prune);
  for (const auto& file : {std::make_pair(options.out + "/paths.csv", csv.str()),
                           std::make_pair(options.out + "/paths.json", json.str())}) {
    if (!ReplaceFile(file.first, file.second, &error)) {
      err << "simmgr: cannot write " << file.first << ": " << error << std::endl;
      ok = false;
    }
  }
  out << "\n";
  paths::WriteTerminal(out, report);
  std::string reason;
  if (paths::RenderSvg(dot.str(), options.out + "/paths.svg", &reason))
    out << "Paths: " << options.out << "/paths.csv, paths.json, paths.svg\n";
  else
    out << "Paths: " << options.out << "/paths.csv, paths.json; " << reason << "\n";
  return ok;
}

}  // namespace simmgr
