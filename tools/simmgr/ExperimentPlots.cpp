#include "simmgr/ExperimentPlots.h"

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <sstream>

#include "simmgr/Report.h"

namespace simmgr {

namespace {

// The terms of an experiment's name: a factor's level is "NAME=VALUE" (or
// "profile=NAME"), and the levels of combined factors are joined by spaces.
std::vector<std::string> Terms(const std::string& name) {
  std::vector<std::string> terms;
  std::istringstream in(name);
  std::string term;
  while (in >> term) terms.push_back(term);
  return terms;
}

bool SetsGlobal(const std::string& term, const std::string& global) {
  return term.size() > global.size() && term.compare(0, global.size(), global) == 0 &&
         term[global.size()] == '=';
}

bool NameSetsGlobal(const std::string& name, const std::string& global) {
  for (const std::string& term : Terms(name))
    if (SetsGlobal(term, global)) return true;
  return false;
}

// The name without the term that sets the global: what tells the lines of
// a sweep apart when factors are combined.
std::string OtherTerms(const std::string& name, const std::string& global) {
  std::string rest;
  for (const std::string& term : Terms(name))
    if (!SetsGlobal(term, global)) rest += (rest.empty() ? "" : " ") + term;
  return rest;
}

// The instant a node's results row carries: the instant observed, or the
// end of the interval accumulated over.
double RowTime(const MeasureLayout::Node& node) { return node.interval ? node.end : node.time; }

std::string Number(double v) { return ResultNumber(v); }

// A global's value as gnuplot reads it on the x axis: the text itself when
// it is a number, 0 and 1 for false and true.
std::string AxisValue(const std::string& text, double* value) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (!text.empty() && end && *end == '\0') {
    *value = v;
    return text;
  }
  *value = text == "true" ? 1.0 : 0.0;
  return text == "true" ? "1" : "0";
}

// The results row of the variable at the instant, or null.
const NodeResult* RowAt(const StudyResults& r, const std::string& pv, double time) {
  for (const NodeResult& n : r.nodes)
    if (n.name == pv && n.time == time) return &n;
  return nullptr;
}

bool Bounded(const NodeResult& n) { return n.lower > -DBL_MAX && n.upper < DBL_MAX; }

std::string Percent(double confidence) {
  std::ostringstream text;
  text << confidence * 100.0 << "%";
  return text.str();
}

}  // namespace

bool ChoosePlots(const MeasureLayout& layout, const std::vector<std::string>& globals,
                 const std::vector<std::string>& experimentNames, const std::string& pv,
                 const std::string& global, bool timeGiven, double sweepTime, PlotChoice* choice,
                 std::string* error) {
  *choice = PlotChoice();
  if (layout.nodes.empty()) {
    *error = "the model measures nothing to plot";
    return false;
  }
  choice->pv = pv.empty() ? layout.nodes.front().name : pv;
  std::vector<double> instants;
  std::string known;
  for (const MeasureLayout::Node& n : layout.nodes) {
    if (n.name == choice->pv) instants.push_back(RowTime(n));
    if (known.find("'" + n.name + "'") == std::string::npos) known += (known.empty() ? "'" : ", '") + n.name + "'";
  }
  if (instants.empty()) {
    *error = "--plot-pv " + pv + ": the model has no such performance variable (it has " + known + ")";
    return false;
  }

  // The swept global: the one named, or the first that a chosen experiment's
  // name sets.
  for (size_t g = 0; g < globals.size() && choice->sweptGlobal < 0; g++) {
    if (!global.empty() && globals[g] != global) continue;
    for (const std::string& name : experimentNames)
      if (NameSetsGlobal(name, globals[g])) choice->sweptGlobal = static_cast<int>(g);
  }
  if (!global.empty() && choice->sweptGlobal < 0) {
    const bool exists = std::find(globals.begin(), globals.end(), global) != globals.end();
    *error = "--sweep " + global + ": " +
             (exists ? "none of the chosen experiments varies it (none is named " + global + "=VALUE)"
                     : "the model has no such global variable");
    return false;
  }

  choice->sweepTime = *std::max_element(instants.begin(), instants.end());
  if (timeGiven) {
    if (std::find(instants.begin(), instants.end(), sweepTime) == instants.end()) {
      std::string list;
      for (double t : instants) list += (list.empty() ? "" : ", ") + Number(t);
      *error = "--sweep-time " + Number(sweepTime) + ": " + choice->pv + " is observed at " + list + " only";
      return false;
    }
    choice->sweepTime = sweepTime;
  }
  return true;
}

std::string DrawExperimentsPlot(const PlotChoice& choice, const std::vector<PlottedExperiment>& runs,
                                const std::string& modelTitle, const std::string& outDir,
                                std::ostream& err) {
  std::ostringstream gp;
  gp << "set title " << GnuplotString(modelTitle + ": " + choice.pv + ", mean in each experiment") << "\n"
     << "set termoption noenhanced\n"
     << "set xlabel 'time'\nset ylabel " << GnuplotString(choice.pv) << "\n"
     << "set key outside right top\nset grid\nset offsets 0, 0, 0.02, 0.02\n";
  std::vector<std::string> plots;
  for (const PlottedExperiment& run : runs) {
    if (!run.results) continue;
    // One data block per experiment: time, mean, lower, upper.
    const std::string block = "$exp" + std::to_string(run.number);
    gp << block << " << EOD\n";
    for (const NodeResult& n : run.results->nodes)
      if (n.name == choice.pv)
        gp << Number(n.time) << " " << Number(n.mean) << " " << Number(Bounded(n) ? n.lower : n.mean) << " "
           << Number(Bounded(n) ? n.upper : n.mean) << "\n";
    gp << "EOD\n";
    plots.push_back(block + " using 1:2 with lines lw 2 title " +
                    GnuplotString(std::to_string(run.number) + " " + run.name));
  }
  if (plots.empty()) return "plot skipped (no experiment has results)";
  gp << "plot ";
  for (size_t k = 0; k < plots.size(); k++) gp << (k ? ", \\\n     " : "") << plots[k];
  gp << "\n";
  return DrawGnuplot("The mean of one performance variable over time in every experiment.", gp.str(), outDir,
                     "experiments", err);
}

std::string DrawSweepPlot(const PlotChoice& choice, const std::vector<std::string>& globals,
                          const std::vector<PlottedExperiment>& runs, const std::string& modelTitle,
                          const std::string& outDir, std::ostream& err) {
  if (choice.sweptGlobal < 0) return "";
  const std::string& global = globals[static_cast<size_t>(choice.sweptGlobal)];
  // The experiments of the sweep, grouped by the rest of their names.
  struct Point {
    double x;
    std::string line;
  };
  std::vector<std::string> keys;
  std::vector<std::vector<Point>> lines;
  double confidence = 0.95;
  for (const PlottedExperiment& run : runs) {
    if (!run.results || !NameSetsGlobal(run.name, global)) continue;
    const NodeResult* n = RowAt(*run.results, choice.pv, choice.sweepTime);
    if (!n) continue;
    confidence = run.results->confidence;
    const std::string key = OtherTerms(run.name, global);
    size_t k = static_cast<size_t>(std::find(keys.begin(), keys.end(), key) - keys.begin());
    if (k == keys.size()) {
      keys.push_back(key);
      lines.emplace_back();
    }
    Point p;
    // Its columns: the global's value, mean, lower, upper, experiment.
    const std::string x = AxisValue(run.values[static_cast<size_t>(choice.sweptGlobal)], &p.x);
    p.line = x + " " + Number(n->mean) + " " + Number(Bounded(*n) ? n->lower : n->mean) + " " +
             Number(Bounded(*n) ? n->upper : n->mean) + " " + std::to_string(run.number);
    lines[k].push_back(p);
  }
  if (lines.empty()) return "plot skipped (no experiment of the sweep has results)";

  const std::string at = choice.pv + " at " + Number(choice.sweepTime);
  std::ostringstream gp;
  gp << "set title " << GnuplotString(modelTitle + ": " + at + " against " + global + " (mean and " +
                                      Percent(confidence) + " interval)")
     << "\n"
     << "set termoption noenhanced\n"
     << "set xlabel " << GnuplotString(global) << "\nset ylabel " << GnuplotString(at) << "\n"
     << "set key outside right top\nset grid\nset offsets graph 0.05, graph 0.05, 0.02, 0.02\n";
  gp << "plot ";
  std::ostringstream blocks;
  for (size_t k = 0; k < lines.size(); k++) {
    std::stable_sort(lines[k].begin(), lines[k].end(), [](const Point& a, const Point& b) { return a.x < b.x; });
    blocks << "$sweep" << k << " << EOD\n";
    for (const Point& p : lines[k]) blocks << p.line << "\n";
    blocks << "EOD\n";
    gp << (k ? ", \\\n     " : "") << "$sweep" << k << " using 1:2:3:4 with yerrorlines lw 2 pt 7 title "
       << GnuplotString(keys[k].empty() ? choice.pv : keys[k]);
  }
  gp << "\n";
  return DrawGnuplot("One performance variable at one instant against a swept global variable.",
                     blocks.str() + gp.str(), outDir, "sweep", err);
}

}  // namespace simmgr
