// `simmgr summarize`: the study's statistics from binary result files. The
// files play the part of the simulators of a live study: record k of every
// file forms round k, and rounds are counted in order, each in the order of
// the files. A live study whose simulators wrote the files (--bin-dir) and
// counted all their packets therefore gives exactly the same numbers.
#include <memory>
#include <ostream>

#include "simmgr/Records.h"
#include "simmgr/Report.h"
#include "simmgr/SimMgr.h"

namespace simmgr {

int RunSummarize(const SummarizeOptions& options, std::ostream& out, std::ostream& err) {
  StudyResults exact;
  if (!options.exact.empty()) {
    std::string error;
    if (!LoadExact(options.exact, &exact, &error)) {
      err << "simmgr: " << error << std::endl;
      return kExitUsage;
    }
  }

  bool problems = false;
  std::vector<std::unique_ptr<ResultFileReader>> readers;
  std::string experiment;
  for (const std::string& path : options.files) {
    auto reader = std::make_unique<ResultFileReader>();
    std::string error;
    if (!reader->Open(path, &error)) {
      err << "simmgr: " << error << std::endl;
      problems = true;
      continue;
    }
    if (!experiment.empty() && reader->Experiment != experiment) {
      err << "simmgr: " << path << " holds experiment " << reader->Experiment << ", the files before it "
          << experiment << ": they cannot be summarised together" << std::endl;
      return kExitFailure;
    }
    experiment = reader->Experiment;
    readers.push_back(std::move(reader));
  }
  if (readers.empty()) {
    err << "simmgr: no readable result file" << std::endl;
    return kExitFailure;
  }

  Aggregate counted;
  std::vector<bool> active(readers.size(), true);
  long long rounds = 0;
  Packet packet;
  for (bool any = true; any;) {
    any = false;
    for (size_t i = 0; i < readers.size(); i++) {
      if (!active[i]) continue;
      std::string error;
      const ResultFileReader::Result r = readers[i]->Next(NodeCount(), &packet, &error);
      if (r == ResultFileReader::kRecord) {
        counted.Add(packet, -1);
        any = true;
        continue;
      }
      active[i] = false;
      if (r == ResultFileReader::kError) {
        err << "simmgr: " << error << "; the file's earlier records are kept" << std::endl;
        problems = true;
      }
    }
    if (any) rounds++;
  }

  const StudyResults results = BuildResults(counted, options.interval, !problems);
  const Precision p = AssessPrecision(counted.nodes, options.interval);
  std::vector<std::string> summary;
  std::string files;
  for (const auto& r : readers) {
    files += (files.empty() ? "" : ", ") + r->Path() + " (" + std::to_string(r->RecordsRead) + " records";
    if (!r->Seed.empty()) files += ", seed " + r->Seed;
    files += ")";
  }
  summary.push_back("Summary of " + std::to_string(readers.size()) + " result file" +
                    (readers.size() == 1 ? "" : "s") + ": " + std::to_string(counted.replications) +
                    " replications in " + std::to_string(rounds) + " rounds; " + files + ".");
  if (p.widest >= 0 && p.widestHalf < 1e300) {
    char widest[64];
    std::snprintf(widest, sizeof widest, "%.5f", p.widestHalf);
    summary.push_back(std::string("Widest half-width ") + widest + " at " + NodeLabel(p.widest) + ".");
  }
  summary.push_back("Intervals: " + MethodText(counted.nodes, options.interval) +
                    (options.interval.bonferroni ? " (simultaneous)." : " per node."));
  if (problems) summary.push_back("Some files could not be read whole (see the messages above).");

  Publication pub;
  pub.results = &results;
  pub.settings = options.interval;
  pub.outDir = options.out;
  pub.summary = summary;
  pub.exact = options.exact.empty() ? nullptr : &exact;
  pub.exactPath = options.exact;
  const bool written = Publish(pub, out, err);
  return problems || !written ? kExitFailure : kExitOk;
}

}  // namespace simmgr
