// `simmgr summarize`: the study's statistics from binary result files. The
// files play the part of the simulators of a live study: record k of every
// file forms round k, and rounds are counted in order, each in the order of
// the files. A live study whose simulators wrote the files (--bin-dir) and
// counted all their packets therefore gives exactly the same numbers. Files
// are checked against their headers and against each other, so that a
// damaged or repeated file cannot pass for a complete study.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>

#include "simmgr/Records.h"
#include "simmgr/Report.h"
#include "simmgr/SimMgr.h"

namespace simmgr {

namespace {

// The replication count of a header's BATCHES= piece; false when it is
// missing or not a count.
bool HeaderCount(const std::string& text, long long* count) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *count = std::stoll(text);
  return true;
}

}  // namespace

int RunSummarize(const SummarizeOptions& options, std::ostream& out, std::ostream& err) {
  StudyResults exact;
  if (!options.exact.empty()) {
    std::string error;
    if (!LoadExact(options.exact, &exact, &error)) {
      err << "simmgr: " << error << std::endl;
      return kExitUsage;
    }
  }
  // The output directory must be writable before the files are read, which
  // can take long.
  std::string error;
  if (!PrepareOutputDirectory(options.out, &error)) {
    err << "simmgr: " << error << std::endl;
    return kExitFailure;
  }

  MeasureLayout layout;
  if (!OpenModelLayout(options.model, &layout, err)) {
    err << "simmgr: cannot open the model " << options.model << std::endl;
    return kExitFailure;
  }

  // Every problem below leaves the summary incomplete (exit code 1); what
  // can be read is still summarised.
  bool problems = false;
  std::vector<std::unique_ptr<ResultFileReader>> readers;
  std::string experiment;
  for (const std::string& path : options.files) {
    // The same file under another name (a second path, a link) is read once.
    bool repeated = false;
    for (const auto& r : readers) {
      std::error_code ec;
      if (std::filesystem::equivalent(r->Path(), path, ec) && !ec) {
        err << "simmgr: " << path << " is the same file as " << r->Path() << "; it is counted once" << std::endl;
        problems = repeated = true;
        break;
      }
    }
    if (repeated) continue;
    auto reader = std::make_unique<ResultFileReader>();
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

  Aggregate counted(layout);
  const size_t files = readers.size();
  std::vector<bool> active(files, true), leftOut(files, false), has(files, false);
  std::vector<Packet> round(files);
  long long rounds = 0;
  for (;;) {
    bool any = false;
    for (size_t i = 0; i < files; i++) {
      has[i] = false;
      if (!active[i]) continue;
      std::string error;
      const ResultFileReader::Result r = readers[i]->Next(layout.numNodes, &round[i], &error);
      if (r == ResultFileReader::kRecord) {
        has[i] = any = true;
        continue;
      }
      active[i] = false;
      if (r == ResultFileReader::kError) {
        err << "simmgr: " << error << "; the file's earlier records are kept" << std::endl;
        problems = true;
      }
    }
    // Once the first records tell the files' clients: two files of one
    // client and seed hold the same simulator's run (a copy, or one run
    // twice); the later one is left out.
    for (size_t i = 0; rounds == 0 && i < files; i++) {
      for (size_t j = 0; has[i] && j < i; j++) {
        const ResultFileReader& a = *readers[j];
        const ResultFileReader& b = *readers[i];
        if (!has[j] || a.ClientId != b.ClientId || a.Seed != b.Seed) continue;
        err << "simmgr: " << b.Path() << " and " << a.Path() << " are both of client " << b.ClientId
            << " with seed " << b.Seed << " (the same run twice?); " << b.Path() << " is left out" << std::endl;
        problems = true;
        leftOut[i] = true;
        active[i] = has[i] = false;
      }
    }
    any = std::find(has.begin(), has.end(), true) != has.end();
    if (!any) break;
    for (size_t i = 0; i < files; i++)
      if (has[i]) counted.Add(round[i], -1);
    rounds++;
  }

  // The header counts the replications the writer finished; the records
  // must hold exactly those (a file cut at a record boundary, a record
  // written twice or a header-only file do not).
  for (size_t i = 0; i < files; i++) {
    const ResultFileReader& r = *readers[i];
    if (leftOut[i]) continue;
    long long batches = 0;
    if (!HeaderCount(r.Batches, &batches)) {
      err << "simmgr: " << r.Path() << ": its header has no replication count (BATCHES=), so the file "
          << "cannot be checked" << std::endl;
      problems = true;
    } else if (batches != r.Replications) {
      err << "simmgr: " << r.Path() << ": its header counts " << batches << " replications (BATCHES=" << batches
          << "), but its records hold " << r.Replications << std::endl;
      problems = true;
    }
  }
  if (counted.replications == 0) {
    err << "simmgr: the files hold no replications" << std::endl;
    problems = true;
  }

  const StudyResults results = BuildResults(layout, counted, options.interval, !problems);
  const Precision p = AssessPrecision(counted.nodes, options.interval);
  std::vector<std::string> summary;
  std::string list;
  size_t used = 0;
  for (size_t i = 0; i < files; i++) {
    if (leftOut[i]) continue;
    const ResultFileReader& r = *readers[i];
    used++;
    list += (list.empty() ? "" : ", ") + r.Path() + " (" + std::to_string(r.RecordsRead) + " records";
    if (!r.Seed.empty()) list += ", seed " + r.Seed;
    list += ")";
  }
  summary.push_back("Summary of " + std::to_string(used) + " result file" + (used == 1 ? "" : "s") + ": " +
                    std::to_string(counted.replications) + " replications in " + std::to_string(rounds) +
                    " rounds; " + list + ".");
  if (p.widest >= 0 && p.widestHalf < 1e300) {
    char widest[64];
    std::snprintf(widest, sizeof widest, "%.5f", p.widestHalf);
    summary.push_back(std::string("Widest half-width ") + widest + " at " + NodeLabel(layout, p.widest) + ".");
  }
  summary.push_back("Intervals: " + MethodText(counted.nodes, options.interval) +
                    (options.interval.bonferroni ? " (simultaneous)." : " per node."));
  if (problems)
    summary.push_back("Some files were left out, could not be read whole or do not hold the replications "
                      "their headers count (see the messages above).");

  Publication pub;
  pub.results = &results;
  pub.modelTitle = ModelTitle(options.model);
  pub.settings = options.interval;
  pub.outDir = options.out;
  pub.summary = summary;
  pub.exact = options.exact.empty() ? nullptr : &exact;
  pub.exactPath = options.exact;
  const bool written = Publish(pub, out, err);
  return problems || !written ? kExitFailure : kExitOk;
}

}  // namespace simmgr
