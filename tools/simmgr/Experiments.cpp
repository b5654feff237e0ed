#include "simmgr/Experiments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "model/FileStudy.h"
#include "model/ModelCatalogue.h"
#include "model/ModelDescription.h"
#include "results/FileOutput.h"
#include "results/ModelLayout.h"
#include "results/Results.h"
#include "simmgr/ExperimentPlots.h"
#include "simmgr/Report.h"
#include "simmgr/SimMgr.h"

namespace simmgr {

namespace {

// A whole number 0..32767: the experiments a study's records can name (as
// for -e after --).
bool ParseNumber(const std::string& text, long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || v > 32767) return false;
  *value = v;
  return true;
}

// The ranges of the list, [first, last] each; false with a message when it
// is not a list.
bool ParseList(const std::string& text, std::vector<std::pair<long, long>>* ranges,
               std::string* error) {
  ranges->clear();
  std::stringstream items(text);
  std::string item;
  const std::string bad = "--experiments takes all or a list such as 0,3-5, not '" + text + "'";
  if (text.empty() || text.back() == ',') {
    *error = bad;
    return false;
  }
  while (std::getline(items, item, ',')) {
    const size_t dash = item.find('-');
    long first = 0, last = 0;
    const bool ok = dash == std::string::npos
                        ? ParseNumber(item, &first) && ParseNumber(item, &last)
                        : ParseNumber(item.substr(0, dash), &first) &&
                              ParseNumber(item.substr(dash + 1), &last) && first <= last;
    if (!ok) {
      *error = bad;
      return false;
    }
    ranges->emplace_back(first, last);
  }
  return true;
}

// Keeps standard output quiet while it lives (a study reports a bad
// override there).
class QuietStandardOutput {
 public:
  QuietStandardOutput() : saved_(std::cout.rdbuf(nullptr)) {}
  ~QuietStandardOutput() { std::cout.rdbuf(saved_); std::cout.clear(); }
  QuietStandardOutput(const QuietStandardOutput&) = delete;
  QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

 private:
  std::streambuf* saved_;
};

// The -O text among the simulator options (the last one given), or empty.
std::string OverrideText(const std::vector<std::string>& args) {
  std::string text;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i] == "-O" && i + 1 < args.size())
      text = args[++i];
    else if (args[i].compare(0, 2, "-O") == 0 && args[i].size() > 2)
      text = args[i].substr(2);
  }
  return text;
}

// What the run of one experiment left.
struct ExperimentRun {
  int number = 0;
  std::string name;
  std::vector<std::string> values;  // the global variables' values in force
  int exitCode = kExitOk;
  std::string ending;  // the study's line saying how it stopped
  StudyResults results;
  bool haveResults = false;
};

// The line of the study's report that says how it ended.
std::string EndingLine(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, 8, "Stopped:") == 0 || line.compare(0, 7, "FAILED:") == 0 ||
        line.compare(0, 11, "INTERRUPTED") == 0)
      return line;
  return "ended without results";
}

// OUT/experiments.csv: one row per experiment and node.
bool WriteExperimentsCsv(const std::string& path, const std::vector<std::string>& globals,
                         const std::vector<ExperimentRun>& runs, std::string* error) {
  std::ostringstream csv;
  csv << "experiment,name";
  for (const std::string& g : globals) csv << "," << CsvField(g);
  csv << ",pv,pv_name,time,n,mean,lower,upper\n";
  for (const ExperimentRun& run : runs) {
    std::string prefix = std::to_string(run.number) + "," + CsvField(run.name);
    for (const std::string& v : run.values) prefix += "," + CsvField(v);
    for (const NodeResult& n : run.results.nodes)
      csv << prefix << "," << n.pvId << "," << CsvField(n.name) << "," << ResultNumber(n.time)
          << "," << n.n << "," << ResultNumber(n.mean) << "," << ResultNumber(n.lower) << ","
          << ResultNumber(n.upper) << "\n";
  }
  return ReplaceFile(path, csv.str(), error);
}

// For each experiment, the mean of each PV at its last instant.
void WriteFinalMeans(std::ostream& out, const std::vector<ExperimentRun>& runs) {
  std::vector<std::string> pvs;
  for (const ExperimentRun& run : runs)
    for (const NodeResult& n : run.results.nodes)
      if (std::find(pvs.begin(), pvs.end(), n.name) == pvs.end()) pvs.push_back(n.name);
  size_t nameWidth = 10;
  for (const ExperimentRun& run : runs) nameWidth = std::max(nameWidth, run.name.size());
  out << "Mean of each measure at its last instant:\n"
      << std::setw(4) << "exp" << "  " << std::left << std::setw(static_cast<int>(nameWidth))
      << "experiment" << std::right;
  std::vector<size_t> widths;
  for (const std::string& pv : pvs) {
    widths.push_back(std::max<size_t>(12, pv.size()));
    out << "  " << std::setw(static_cast<int>(widths.back())) << pv;
  }
  out << "\n";
  for (const ExperimentRun& run : runs) {
    out << std::setw(4) << run.number << "  " << std::left
        << std::setw(static_cast<int>(nameWidth)) << run.name << std::right;
    for (size_t p = 0; p < pvs.size(); p++) {
      const NodeResult* last = nullptr;
      for (const NodeResult& n : run.results.nodes)
        if (n.name == pvs[p] && (!last || n.time >= last->time)) last = &n;
      std::ostringstream cell;
      if (last) cell << std::setprecision(6) << last->mean;
      out << "  " << std::setw(static_cast<int>(widths[p])) << (last ? cell.str() : "-");
    }
    out << "\n";
  }
}

}  // namespace

bool CheckExperimentList(const std::string& text, std::string* error) {
  std::vector<std::pair<long, long>> ranges;
  return text == "all" || ParseList(text, &ranges, error);
}

bool ChooseExperiments(const std::string& text, int count, std::vector<int>* chosen,
                       std::string* error) {
  chosen->clear();
  if (text == "all") {
    for (int i = 0; i < count; i++) chosen->push_back(i);
    return true;
  }
  std::vector<std::pair<long, long>> ranges;
  if (!ParseList(text, &ranges, error)) return false;
  std::set<int> numbers;
  for (const auto& r : ranges) {
    if (r.second >= count) {
      *error = "--experiments " + text + ": the model's study has " + std::to_string(count) +
               (count == 1 ? " experiment, numbered 0" :
                             " experiments, numbered 0 to " + std::to_string(count - 1));
      return false;
    }
    for (long i = r.first; i <= r.second; i++) numbers.insert(static_cast<int>(i));
  }
  chosen->assign(numbers.begin(), numbers.end());
  return true;
}

int RunExperiments(const StudyOptions& options, std::ostream& out, std::ostream& err) {
  std::unique_ptr<BaseStudyClass> study = ModelCatalogue::OpenStudy(options.model, err);
  if (!study) {
    err << "simmgr: cannot open the model " << options.model << std::endl;
    return kExitFailure;
  }
  auto* fileStudy = dynamic_cast<FileStudy*>(study.get());
  // Without global variables a model has one experiment, of its defaults.
  const int count = study->GetNumGVs() > 0 ? study->GetNumExps() : 1;
  std::vector<int> chosen;
  std::string error;
  if (!ChooseExperiments(options.experiments, count, &chosen, &error)) {
    err << "simmgr: " << error << std::endl;
    return kExitUsage;
  }
  std::vector<std::string> globals;
  for (int g = 0; g < study->GetNumGVs(); g++) globals.push_back(study->GetGVName(g));
  const std::string overrides = OverrideText(options.simulatorArgs);
  auto nameOf = [&](int number) {
    return fileStudy && study->GetNumGVs() > 0 ? fileStudy->ExperimentName(number) : std::string("defaults");
  };
  // What the plots across the experiments draw is settled (and a wrong
  // choice refused) before any experiment runs.
  MeasureLayout layout;
  if (!OpenModelLayout(options.model, &layout, err)) {
    err << "simmgr: cannot open the model " << options.model << std::endl;
    return kExitFailure;
  }
  std::vector<std::string> names;
  for (int number : chosen) names.push_back(nameOf(number));
  PlotChoice plots;
  if (!ChoosePlots(layout, globals, names, options.plotPv, options.sweepGlobal, options.sweepTimeGiven,
                   options.sweepTime, &plots, &error)) {
    err << "simmgr: " << error << std::endl;
    return kExitUsage;
  }
  if (!PrepareOutputDirectory(options.out, &error)) {
    err << "simmgr: " << error << std::endl;
    return kExitFailure;
  }

  std::vector<ExperimentRun> runs;
  int exitCode = kExitOk;
  for (int number : chosen) {
    ExperimentRun run;
    run.number = number;
    run.name = nameOf(number);
    if (fileStudy) {
      QuietStandardOutput quiet;
      study->SetGVs(number);
      if (!overrides.empty()) study->overrideGVs(overrides.c_str());
      const ModelDescription& d = fileStudy->description();
      for (size_t g = 0; g < fileStudy->values().size(); g++)
        run.values.push_back(GlobalValueText(d.globals[g].type, fileStudy->values()[g]));
    }
    // The same seeds for every experiment: they share their random numbers.
    StudyOptions one = options;
    one.experiments.clear();
    one.experiment = number;
    one.out = options.out + "/" + std::to_string(number);
    if (!options.binDir.empty()) one.binDir = options.binDir + "/" + std::to_string(number);
    one.simulatorArgs.push_back("-e");
    one.simulatorArgs.push_back(std::to_string(number));
    std::ostringstream report;
    run.exitCode = RunStudy(one, report, err);
    run.ending = EndingLine(report.str());
    std::ifstream csv(one.out + "/results.csv");
    std::string readError;
    run.haveResults = csv && ReadCsv(csv, &run.results, &readError);
    out << "Experiment " << number << " (" << run.name << "): " << run.ending << std::endl;
    if (exitCode == kExitOk) exitCode = run.exitCode;
    const bool interrupted = run.exitCode >= 128;
    runs.push_back(std::move(run));
    if (interrupted) break;
  }

  const std::string csvPath = options.out + "/experiments.csv";
  if (!WriteExperimentsCsv(csvPath, globals, runs, &error)) {
    err << "simmgr: cannot write " << csvPath << ": " << error << std::endl;
    if (exitCode == kExitOk) exitCode = kExitFailure;
  }
  out << "\n";
  WriteFinalMeans(out, runs);
  out << "Wrote " << csvPath << " and the results of each experiment under " << options.out
      << "/<experiment>/." << std::endl;
  std::vector<PlottedExperiment> plotted;
  for (const ExperimentRun& run : runs) {
    PlottedExperiment p;
    p.number = run.number;
    p.name = run.name;
    p.values = run.values;
    p.results = run.haveResults ? &run.results : nullptr;
    plotted.push_back(p);
  }
  const std::string title = ModelTitle(options.model);
  out << DrawExperimentsPlot(plots, plotted, title, options.out, err) << "\n";
  const std::string sweep = DrawSweepPlot(plots, globals, plotted, title, options.out, err);
  if (!sweep.empty()) out << sweep << "\n";
  if (!FlushSucceeded(out)) {
    err << "simmgr: cannot write to standard output" << std::endl;
    if (exitCode == kExitOk) exitCode = kExitFailure;
  }
  return exitCode;
}

}  // namespace simmgr
