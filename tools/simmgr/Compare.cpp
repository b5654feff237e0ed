#include "simmgr/Compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <ostream>
#include <sstream>
#include <thread>

#include "model/FileStudy.h"
#include "model/ModelCatalogue.h"
#include "results/FileOutput.h"
#include "results/ModelLayout.h"
#include "results/Results.h"
#include "simmgr/SimMgr.h"

namespace simmgr {

namespace {

// The experiments of the model's study (1 without global variables) and
// their names; false when the model cannot be opened.
bool StudyExperiments(const std::string& model, std::vector<std::string>* names, std::ostream& err) {
  std::unique_ptr<BaseStudyClass> study = ModelCatalogue::OpenStudy(model, err);
  if (!study) return false;
  const auto* file = dynamic_cast<const FileStudy*>(study.get());
  const int count = study->GetNumGVs() > 0 ? study->GetNumExps() : 1;
  names->clear();
  for (int i = 0; i < count; i++)
    names->push_back(file && study->GetNumGVs() > 0 ? file->ExperimentName(i) : std::string("defaults"));
  return true;
}

std::string Format(const char* format, double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

std::string PValueText(double p) { return p < 1e-300 ? "<1e-300" : Format("%.3g", p); }

std::string Percent(double level) { return Format("%g%%", level * 100.0); }

// The paired t-test of "the mean difference is 0" for one node: its
// two-sided p-value (1 with fewer than two pairs; with no spread, 1 for a
// difference of 0 and 0 otherwise).
double PairedPValue(const NodeStats& d) {
  if (d.n < 2) return 1.0;
  const double variance = d.Variance();
  if (!(variance > 0.0)) return d.mean == 0.0 ? 1.0 : 0.0;
  const double t = d.mean / std::sqrt(variance / static_cast<double>(d.n));
  return StudentTwoSidedP(t, d.n - 1);
}

}  // namespace

std::vector<bool> HolmRejections(const std::vector<double>& p, double alpha) {
  std::vector<size_t> order(p.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return p[x] < p[y]; });
  std::vector<bool> rejected(p.size(), false);
  const double m = static_cast<double>(p.size());
  for (size_t r = 0; r < order.size(); r++) {
    if (!(p[order[r]] <= alpha / (m - static_cast<double>(r)))) break;
    rejected[order[r]] = true;
  }
  return rejected;
}

PairedTally::PairedTally(const MeasureLayout& layout, const StudyOptions& options)
    : Layout(layout), Options(options), TallyA(layout), TallyB(layout) {
  std::ostringstream ignored;
  std::vector<std::string> names;
  if (StudyExperiments(options.model, &names, ignored)) {
    const auto name = [&](int n) { return n >= 0 && n < static_cast<int>(names.size()) ? names[n] : ""; };
    NameA = name(options.compareA);
    NameB = name(options.compareB);
  }
}

long long PairedTally::Count(const Packet& a, const Packet& b, long long limit, Aggregate* differences) {
  long long take = std::min(a.replications, b.replications);
  if (limit >= 0 && limit < take) take = limit;
  if (take <= 0) return 0;
  for (size_t i = 0; i < differences->nodes.size(); i++) {
    NodeStats& d = differences->nodes[i];
    if (i < a.counts.size() && i < b.counts.size()) {
      const long long c = std::min<long long>(take, std::min(a.counts[i], b.counts[i]));
      Scratch.resize(static_cast<size_t>(std::max(c, 0LL)));
      const double* x = a.Row(static_cast<int>(i));
      const double* y = b.Row(static_cast<int>(i));
      for (long long k = 0; k < c; k++) Scratch[static_cast<size_t>(k)] = y[k] - x[k];
      d.AddChunk(Scratch.data(), c);
    }
    // Differences of 0/1 observations are not proportions.
    d.binary = false;
  }
  TallyA.Add(a, take);
  TallyB.Add(b, take);
  differences->replications += take;
  return take;
}

std::string PairedTally::IntervalText() const {
  return "paired t " + Percent(Options.interval.confidence) +
         (Options.interval.bonferroni
              ? " simultaneous (Bonferroni over " + std::to_string(Layout.nodes.size()) + " nodes)"
              : std::string(" per node"));
}

bool PairedTally::Publish(const Aggregate& differences, bool complete, const std::vector<std::string>& summary,
                          std::ostream& out, std::ostream& err) const {
  const StudyResults diff = BuildResults(Layout, differences, Options.interval, complete);
  const StudyResults a = BuildResults(Layout, TallyA, Options.interval, complete);
  const StudyResults b = BuildResults(Layout, TallyB, Options.interval, complete);
  const size_t count = diff.nodes.size();
  std::vector<double> p(count);
  for (size_t i = 0; i < count; i++) p[i] = PairedPValue(differences.nodes[i]);
  const double alpha = 1.0 - Options.interval.confidence;
  const std::vector<bool> significant = HolmRejections(p, alpha);
  const int significantCount = static_cast<int>(std::count(significant.begin(), significant.end(), true));

  // The experiments' own results, as --experiments writes them.
  bool ok = true;
  std::vector<std::string> written;
  std::vector<std::pair<int, const StudyResults*>> experiments = {{Options.compareA, &a}};
  if (Options.compareB != Options.compareA) experiments.emplace_back(Options.compareB, &b);
  for (const auto& one : experiments) {
    Publication pub;
    pub.results = one.second;
    pub.modelTitle = ModelTitle(Options.model) + ", experiment " + std::to_string(one.first);
    pub.settings = Options.interval;
    pub.outDir = Options.out + "/" + std::to_string(one.first);
    pub.summary = {"Experiment " + std::to_string(one.first) + " of the comparison of experiments " +
                   std::to_string(Options.compareA) + " and " + std::to_string(Options.compareB) +
                   " with common random numbers."};
    std::ostringstream table;
    if (simmgr::Publish(pub, table, err))
      written.push_back(pub.outDir + "/");
    else
      ok = false;
  }

  std::ostringstream csv;
  csv << "pv,pv_name,time,n,mean_a,mean_b,difference,lower,upper,p_value,significant\n";
  for (size_t i = 0; i < count; i++) {
    const NodeResult& d = diff.nodes[i];
    csv << d.pvId << "," << CsvField(d.name) << "," << ResultNumber(d.time) << "," << d.n << ","
        << ResultNumber(a.nodes[i].mean) << "," << ResultNumber(b.nodes[i].mean) << "," << ResultNumber(d.mean)
        << "," << ResultNumber(d.lower) << "," << ResultNumber(d.upper) << "," << ResultNumber(p[i]) << ","
        << (significant[i] ? "yes" : "no") << "\n";
  }
  const std::string csvPath = Options.out + "/compare.csv";
  std::string error;
  if (ReplaceFile(csvPath, csv.str(), &error)) {
    written.insert(written.begin(), csvPath);
  } else {
    err << "simmgr: cannot write " << csvPath << ": " << error << std::endl;
    ok = false;
  }

  // The nodes with the largest absolute differences, largest first.
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    return std::fabs(diff.nodes[x].mean) > std::fabs(diff.nodes[y].mean);
  });
  order.resize(std::min<size_t>(order.size(), 10));
  // A node named by its PV and the instant of its results row (for a
  // measure over an interval, the interval's end).
  const auto label = [&](size_t i) { return diff.nodes[i].name + " at " + Format("%g", diff.nodes[i].time); };
  size_t width = 4;
  for (size_t i : order) width = std::max(width, label(i).size());
  const int w = static_cast<int>(width);
  out << "Comparison with common random numbers: experiment " << Options.compareB << " (" << NameB
      << ") minus experiment " << Options.compareA << " (" << NameA << "), " << differences.replications
      << " pairs of replications.\n"
      << "Method: paired differences, intervals " << IntervalText()
      << "; significance by Holm's step-down on the paired t-test p-values over all " << count
      << " nodes, family-wise error " << Format("%g", alpha) << ".\n";
  if (!complete) out << "NOTE: INCOMPLETE results: the study did not finish (see below).\n";
  out << "Largest absolute differences:\n";
  char line[512];
  std::snprintf(line, sizeof line, "%-*s %9s %9s %11s  %-22s %9s  %s\n", w, "node", "mean A", "mean B", "difference",
                (Percent(Options.interval.confidence) + " interval").c_str(), "p-value", "significant");
  out << line;
  for (size_t i : order) {
    const NodeResult& d = diff.nodes[i];
    const std::string interval = d.lower > -1e300 && d.upper < 1e300
                                     ? "[" + Format("%+.4f", d.lower) + ", " + Format("%+.4f", d.upper) + "]"
                                     : std::string("(none)");
    std::snprintf(line, sizeof line, "%-*s %9.4f %9.4f %+11.4f  %-22s %9s  %s\n", w,
                  label(i).c_str(), a.nodes[i].mean, b.nodes[i].mean, d.mean,
                  interval.c_str(), PValueText(p[i]).c_str(), significant[i] ? "yes" : "no");
    out << line;
  }
  out << significantCount << " of " << count << " nodes differ significantly (Holm, family-wise error "
      << Format("%g", alpha) << ").\n\n";
  for (const std::string& s : summary) out << s << "\n";
  out << "Results: ";
  for (size_t i = 0; i < written.size(); i++) out << (i ? ", " : "") << written[i];
  if (written.empty()) out << "none written (see the messages on standard error)";
  out << std::endl;
  if (!FlushSucceeded(out)) {
    err << "simmgr: cannot write to standard output" << std::endl;
    ok = false;
  }
  return ok;
}

int RunCompare(const StudyOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  if (!StudyExperiments(options.model, &names, err)) {
    err << "simmgr: cannot open the model " << options.model << std::endl;
    return kExitFailure;
  }
  const int count = static_cast<int>(names.size());
  for (int number : {options.compareA, options.compareB})
    if (number >= count) {
      err << "simmgr: --compare " << number << ": the model's study has " << count
          << (count == 1 ? " experiment, numbered 0" : " experiments, numbered 0 to " + std::to_string(count - 1))
          << std::endl;
      return kExitUsage;
    }
  // Both experiments' simulators run at once, in one study: its rounds pair
  // packet k of simulator j of A with packet k of simulator j of B.
  StudyOptions both = options;
  int perExperiment = options.jobs;
  if (perExperiment <= 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    perExperiment = std::max(1, static_cast<int>(std::min(cores, 256u)) / 2);
  }
  both.jobs = 2 * perExperiment;
  return RunStudy(both, out, err);
}

}  // namespace simmgr
