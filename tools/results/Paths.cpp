#include "results/Paths.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "network/TarvexProcess.h"
#include "results/FileOutput.h"
#include "results/Results.h"

namespace paths {

namespace {

const int kDotTimeoutMs = 30000;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

bool parseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(*value);
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); i++) out += (i ? separator : "") + parts[i];
  return out;
}

// The standard normal quantile by bisection on erfc: only a handful of
// intervals are computed, so a closed-form approximation buys nothing.
double normalQuantile(double p) {
  double low = -40.0;
  double high = 40.0;
  for (int i = 0; i < 200; i++) {
    const double mid = (low + high) / 2;
    if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p)
      low = mid;
    else
      high = mid;
  }
  return (low + high) / 2;
}

std::string fixed(double v, int digits) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(digits) << v;
  return text.str();
}

// The decision of an entry: the part before ':'.
std::string decisionOf(const std::string& entry) { return entry.substr(0, entry.find(':')); }

// A step in short form: a successful outcome is named by its decision.
std::string shortStep(const std::string& step) {
  const std::string success = ":Success";
  if (step.size() > success.size() &&
      step.compare(step.size() - success.size(), success.size(), success) == 0)
    return step.substr(0, step.size() - success.size());
  return step;
}

// Steps in short form, consecutive repeats as "STEP x3", joined by
// separator.
std::string shortSteps(const std::vector<std::string>& steps, const std::string& separator = " > ") {
  if (steps.empty()) return "(no step)";
  std::vector<std::string> parts;
  for (size_t i = 0; i < steps.size();) {
    size_t j = i;
    while (j < steps.size() && steps[j] == steps[i]) j++;
    parts.push_back(shortStep(steps[i]) + (j - i > 1 ? " x" + std::to_string(j - i) : ""));
    i = j;
  }
  return join(parts, separator);
}

std::string goalsText(const RankedPath& p, int digits) {
  std::vector<std::string> parts;
  for (const auto& g : p.goals) parts.push_back(g.first + "@" + fixed(g.second, digits));
  return parts.empty() ? "-" : join(parts, " ");
}

std::string dotString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool ReadTally(std::istream& in, PathSet* set, std::string* error) {
  std::string line;
  if (!std::getline(in, line)) {
    *error = "empty paths file";
    return false;
  }
  std::vector<std::string> head = split(line, '\t');
  double total = 0.0;
  if (head.size() != 4 || head[0] != "#paths" || head[1] != "1" || head[2] != "weight" ||
      !parseNumber(head[3], &total) || total < 0.0) {
    *error = "not a paths tally (first line)";
    return false;
  }
  if (!std::getline(in, line)) {
    *error = "a paths tally without its goals line";
    return false;
  }
  std::vector<std::string> goals = split(line, '\t');
  if (goals.empty() || goals[0] != "#goals") {
    *error = "a paths tally without its goals line";
    return false;
  }
  goals.erase(goals.begin());
  if (set->byKey.empty() && set->total == 0.0) set->goals = goals;
  if (goals != set->goals) {
    *error = "the tallies name different goals (of different models?)";
    return false;
  }
  const size_t fields = 5 + goals.size();
  int number = 2;
  while (std::getline(in, line)) {
    number++;
    const std::string where = "line " + std::to_string(number) + " of a paths tally";
    std::vector<std::string> f = split(line, '\t');
    PathSums s;
    if (f.size() != fields || !parseNumber(f[0], &s.weight) || !parseNumber(f[1], &s.cost) ||
        !parseNumber(f[2], &s.detection)) {
      *error = where + " is not a path";
      return false;
    }
    if (f[3] != "-") s.steps = split(f[3], ' ');
    if (f[4] != "-") {
      for (const std::string& t : split(f[4], ' ')) {
        double v = 0.0;
        if (!parseNumber(t, &v)) {
          *error = where + " has a bad firing time";
          return false;
        }
        s.times.push_back(v);
      }
    }
    if (s.times.size() != s.steps.size()) {
      *error = where + " has " + std::to_string(s.times.size()) + " times for " +
               std::to_string(s.steps.size()) + " steps";
      return false;
    }
    for (size_t g = 0; g < goals.size(); g++) {
      std::vector<std::string> pair = split(f[5 + g], ':');
      double w = 0.0;
      double t = 0.0;
      if (pair.size() != 2 || !parseNumber(pair[0], &w) || !parseNumber(pair[1], &t)) {
        *error = where + " has a bad goal field";
        return false;
      }
      s.goalWeight.push_back(w);
      s.goalTime.push_back(t);
    }
    PathSums& into = set->byKey[f[3]];
    if (into.steps.empty() && into.weight == 0.0) {
      into = s;
      continue;
    }
    // Weighted means; equal values stay exact.
    auto merge = [](double* a, double wa, double b, double wb) {
      if (*a != b && wa + wb > 0.0) *a = (*a * wa + b * wb) / (wa + wb);
    };
    merge(&into.cost, into.weight, s.cost, s.weight);
    merge(&into.detection, into.weight, s.detection, s.weight);
    for (size_t i = 0; i < into.times.size(); i++) merge(&into.times[i], into.weight, s.times[i], s.weight);
    for (size_t g = 0; g < goals.size(); g++) {
      merge(&into.goalTime[g], into.goalWeight[g], s.goalTime[g], s.goalWeight[g]);
      into.goalWeight[g] += s.goalWeight[g];
    }
    into.weight += s.weight;
  }
  set->total += total;
  return true;
}

std::pair<double, double> WilsonInterval(double k, double n, double confidence) {
  if (!(n > 0.0)) return {0.0, 1.0};
  const double z = normalQuantile(1.0 - (1.0 - confidence) / 2);
  const double p = k / n;
  const double z2 = z * z;
  const double centre = (p + z2 / (2 * n)) / (1 + z2 / n);
  const double half = z / (1 + z2 / n) * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

bool Rank(const PathSet& set, bool exact, const Selection& selection, PathReport* report,
          std::string* error) {
  *report = PathReport();
  report->exact = exact;
  report->total = set.total;
  report->goal = selection.goal;
  report->confidence = selection.confidence;
  int goalIndex = -1;
  if (!selection.goal.empty()) {
    auto it = std::find(set.goals.begin(), set.goals.end(), selection.goal);
    if (it == set.goals.end()) {
      *error = "no goal '" + selection.goal + "' in the model (its goals: " + join(set.goals, ", ") + ")";
      return false;
    }
    goalIndex = static_cast<int>(it - set.goals.begin());
  }
  // The paths of the selection and their total weight (the condition).
  std::vector<const PathSums*> chosen;
  double base = 0.0;
  for (const auto& entry : set.byKey) {
    const PathSums& s = entry.second;
    if (goalIndex >= 0 && !(s.goalWeight[goalIndex] > 0.0)) continue;
    chosen.push_back(&s);
    base += s.weight;
  }
  report->goalProbability = set.total > 0.0 ? (goalIndex >= 0 ? base / set.total : 1.0) : 0.0;
  if (goalIndex < 0) base = set.total;
  std::map<std::string, double> first;
  for (const PathSums* s : chosen) {
    RankedPath p;
    p.steps = s->steps;
    const double w = s->weight;
    p.probability = base > 0.0 ? w / base : 0.0;
    if (exact) {
      p.lower = p.upper = p.probability;
    } else {
      p.count = std::llround(w);
      std::tie(p.lower, p.upper) = WilsonInterval(w, base, selection.confidence);
    }
    p.times = s->times;
    for (size_t g = 0; g < set.goals.size(); g++)
      if (s->goalWeight[g] > 0.0) p.goals.emplace_back(set.goals[g], s->goalTime[g]);
    std::stable_sort(p.goals.begin(), p.goals.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    p.cost = s->cost;
    p.detection = s->detection;
    first[p.steps.empty() ? "(no step)" : decisionOf(p.steps[0])] += p.probability;
    report->paths.push_back(std::move(p));
  }
  std::stable_sort(report->paths.begin(), report->paths.end(),
                   [](const RankedPath& a, const RankedPath& b) {
                     if (a.probability != b.probability) return a.probability > b.probability;
                     return a.steps < b.steps;
                   });
  report->distinct = report->paths.size();
  std::vector<RankedPath> kept;
  for (RankedPath& p : report->paths) {
    if (selection.top > 0 && static_cast<int>(kept.size()) >= selection.top) break;
    if (p.probability < selection.minProbability) break;
    kept.push_back(std::move(p));
  }
  report->paths = std::move(kept);
  report->firstDecisions.assign(first.begin(), first.end());
  std::stable_sort(report->firstDecisions.begin(), report->firstDecisions.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return true;
}

void WriteCsv(std::ostream& out, const PathReport& report) {
  out << "rank,probability,lower,upper,count,steps,times,goals,cost,detection\n";
  for (size_t i = 0; i < report.paths.size(); i++) {
    const RankedPath& p = report.paths[i];
    std::vector<std::string> times;
    for (double t : p.times) times.push_back(ResultNumber(t));
    std::vector<std::string> goals;
    for (const auto& g : p.goals) goals.push_back(g.first + "@" + ResultNumber(g.second));
    out << i + 1 << "," << ResultNumber(p.probability) << "," << ResultNumber(p.lower) << ","
        << ResultNumber(p.upper) << "," << p.count << "," << CsvField(join(p.steps, " > ")) << ","
        << CsvField(join(times, " ")) << "," << CsvField(join(goals, " ")) << ","
        << ResultNumber(p.cost) << "," << ResultNumber(p.detection) << "\n";
  }
}

void WriteJson(std::ostream& out, const PathReport& report) {
  nlohmann::ordered_json j;
  j["method"] = report.exact ? "exact" : "simulation";
  j["replications"] = report.exact ? 0 : std::llround(report.total);
  j["interval"] = report.exact ? "none" : "wilson";
  j["confidence"] = report.confidence;
  j["goal"] = report.goal.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(report.goal);
  j["goal_probability"] = report.goalProbability;
  j["distinct_paths"] = report.distinct;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (size_t i = 0; i < report.paths.size(); i++) {
    const RankedPath& p = report.paths[i];
    nlohmann::ordered_json e;
    e["rank"] = i + 1;
    e["probability"] = p.probability;
    e["lower"] = p.lower;
    e["upper"] = p.upper;
    e["count"] = p.count;
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (size_t k = 0; k < p.steps.size(); k++) steps.push_back({{"step", p.steps[k]}, {"time", p.times[k]}});
    e["steps"] = steps;
    nlohmann::ordered_json goals = nlohmann::ordered_json::array();
    for (const auto& g : p.goals) goals.push_back({{"goal", g.first}, {"time", g.second}});
    e["goals"] = goals;
    e["cost"] = p.cost;
    e["detection"] = p.detection;
    list.push_back(e);
  }
  j["paths"] = list;
  nlohmann::ordered_json first = nlohmann::ordered_json::array();
  for (const auto& f : report.firstDecisions) first.push_back({{"decision", f.first}, {"probability", f.second}});
  j["first_decisions"] = first;
  out << j.dump(2) << "\n";
}

void WriteTerminal(std::ostream& out, const PathReport& report, int rows) {
  out << "Attack paths (" << (report.exact ? "exact" : std::to_string(std::llround(report.total)) + " replications")
      << "): " << report.distinct << " distinct";
  if (!report.goal.empty())
    out << " reaching " << report.goal << " (probability " << fixed(report.goalProbability, 4)
        << "; below, conditional on reaching it)";
  out << "\n";
  const int shown = std::min<int>(rows, static_cast<int>(report.paths.size()));
  size_t goalWidth = std::string("goals (mean time)").size();
  for (int i = 0; i < shown; i++) goalWidth = std::max(goalWidth, goalsText(report.paths[i], 0).size());
  out << "   # probability   cost  detect  " << std::left << std::setw(static_cast<int>(goalWidth))
      << "goals (mean time)" << std::right << "  steps (a decision alone: its success)\n";
  for (int i = 0; i < shown; i++) {
    const RankedPath& p = report.paths[i];
    std::ostringstream row;
    row << std::setw(4) << i + 1 << " " << std::setw(11) << fixed(p.probability, 4) << " "
        << std::setw(6) << fixed(p.cost, 1) << " " << std::setw(7) << fixed(p.detection, 3) << "  "
        << std::left << std::setw(static_cast<int>(goalWidth)) << goalsText(p, 0) << "  "
        << shortSteps(p.steps);
    out << row.str() << "\n";
  }
  out << "First decision:";
  for (const auto& f : report.firstDecisions) out << " " << f.first << " " << fixed(100.0 * f.second, 1) << "%";
  out << "\n";
}

void WriteDot(std::ostream& out, const PathReport& report, double threshold) {
  // The prefix tree of the selected paths with the probability through
  // each prefix and of ending there.
  struct Node {
    std::map<std::string, int> children;
    double mass = 0.0;
    double ends = 0.0;
    const RankedPath* end = nullptr;  // the most likely path ending here
  };
  std::vector<Node> tree(1);
  for (const RankedPath& p : report.paths) {
    int n = 0;
    tree[0].mass += p.probability;
    for (const std::string& step : p.steps) {
      auto found = tree[n].children.find(step);
      int child;
      if (found == tree[n].children.end()) {
        child = static_cast<int>(tree.size());
        tree[n].children[step] = child;
        tree.emplace_back();
      } else {
        child = found->second;
      }
      n = child;
      tree[n].mass += p.probability;
    }
    tree[n].ends += p.probability;
    if (!tree[n].end) tree[n].end = &p;
  }
  const std::string title =
      std::string("Attack paths") + (report.goal.empty() ? "" : " reaching " + report.goal) +
      (report.exact ? " (exact)" : " (" + std::to_string(std::llround(report.total)) + " replications)") +
      "; prefixes below " + fixed(100.0 * threshold, 1) + "% left out";
  out << "digraph paths {\n  rankdir=LR;\n  labelloc=t;\n  label=" << dotString(title)
      << ";\n  node [fontname=\"Helvetica\", fontsize=10];\n  edge [fontname=\"Helvetica\", fontsize=9, arrowsize=0.6];\n"
      << "  n0 [label=\"start\", shape=circle];\n";
  // Draws the kept children of node n; a chain without branches or ends
  // becomes one edge whose label lists its steps.
  struct Walker {
    std::ostream& out;
    const std::vector<Node>& tree;
    double threshold;
    void draw(int from) {
      for (const auto& c : tree[from].children) {
        int n = c.second;
        if (tree[n].mass < threshold) continue;
        std::vector<std::string> steps = {c.first};
        for (;;) {
          int kept = 0;
          int only = -1;
          std::string name;
          for (const auto& g : tree[n].children)
            if (tree[g.second].mass >= threshold) {
              kept++;
              only = g.second;
              name = g.first;
            }
          if (kept != 1 || tree[n].ends >= threshold) break;
          steps.push_back(name);
          n = only;
        }
        const double p = tree[n].mass;
        // One step per line, so that long chains stay narrow.
        const std::string label = shortSteps(steps, "\n") + "\n" + fixed(100.0 * p, 1) + "%";
        out << "  n" << from << " -> n" << n << " [label=" << dotString(label)
            << ", penwidth=" << fixed(0.5 + 8.0 * p, 2) << "];\n";
        if (tree[n].ends >= threshold) {
          std::string node = "end " + fixed(100.0 * tree[n].ends, 1) + "%";
          if (tree[n].end) {
            node += "\ngoals: " + goalsText(*tree[n].end, 0);
            node += "\ncost " + fixed(tree[n].end->cost, 1) + ", detected " +
                    fixed(tree[n].end->detection, 2);
          }
          out << "  n" << n << " [shape=box, style=rounded, label=" << dotString(node) << "];\n";
        } else {
          bool more = false;
          for (const auto& g : tree[n].children) more = more || tree[g.second].mass >= threshold;
          if (more)
            out << "  n" << n << " [shape=point, width=0.08, label=\"\"];\n";
          else
            out << "  n" << n << " [shape=box, style=dashed, label="
                << dotString("on to rarer paths\n" + fixed(100.0 * p, 1) + "%") << "];\n";
        }
        draw(n);
      }
    }
  };
  Walker{out, tree, threshold}.draw(0);
  out << "}\n";
}

bool RenderSvg(const std::string& dotText, const std::string& svgPath, std::string* reason) {
  std::string error;
  const std::string dotPath = svgPath.substr(0, svgPath.size() - (svgPath.size() > 4 &&
                                                                      svgPath.compare(svgPath.size() - 4, 4, ".svg") == 0
                                                                  ? 4 : 0)) + ".dot";
  if (!ReplaceFile(dotPath, dotText, &error)) {
    *reason = "picture skipped: " + error;
    return false;
  }
  const std::string temporary = CreateTemporaryBeside(svgPath, &error);
  if (temporary.empty()) {
    *reason = "picture skipped: " + error;
    return false;
  }
  TarvexProcess dot;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  if (!dot.Start("dot", {"-Tsvg", "-o", temporary, dotPath}, options)) {
    std::remove(temporary.c_str());
    *reason = "picture skipped: dot (Graphviz) is not installed (not found on the PATH)";
    return false;
  }
  std::vector<std::string> output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDotTimeoutMs);
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      dot.Kill();
      break;
    }
    const TarvexProcess::ReadResult got = dot.ReadLine(&line, static_cast<int>(left));
    if (got == TarvexProcess::kEnd) break;
    if (got == TarvexProcess::kLine && output.size() < 5) output.push_back(line);
  }
  dot.Wait(true);
  if (!dot.Exited() || dot.ExitCode() != 0) {
    std::remove(temporary.c_str());
    *reason = "picture failed: dot ended with " + dot.StatusText() +
              (output.empty() ? "" : " (" + output[0] + ")");
    return false;
  }
  if (!CommitTemporary(temporary, svgPath, &error)) {
    *reason = "picture failed: " + error;
    return false;
  }
  return true;
}

}  // namespace paths
