#include "simmgr/Report.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "network/TarvexProcess.h"
#include "results/FileOutput.h"

namespace simmgr {

namespace {

const int kPlotTimeoutMs = 30000;

std::string Fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// Writes one result file whole (or leaves the earlier one); a failure is
// reported on err.
bool WriteResultFile(const std::filesystem::path& path, const std::string& text, std::ostream& err) {
  std::string error;
  if (ReplaceFile(path.string(), text, &error)) return true;
  err << "simmgr: " << error << std::endl;
  return false;
}

// A plot value: gnuplot reads NaN as a missing point (a value that overflowed
// the statistics has no place on the plot).
std::string PlotValue(double v) {
  std::ostringstream text;
  if (std::isfinite(v))
    text << v;
  else
    text << "NaN";
  return text.str();
}

// True when the file ends with the closing tag of an SVG document (gnuplot
// may end normally after a failed write).
bool WholeSvg(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (!in || size <= 0) return false;
  const std::streamoff tail = std::min<std::streamoff>(size, 256);
  std::string text(static_cast<size_t>(tail), '\0');
  in.seekg(size - tail);
  in.read(&text[0], tail);
  return in && text.find("</svg>") != std::string::npos;
}

// Draws OUT/plot.svg: one line per PV (its mean over time) with its
// interval as a band. gnuplot writes a temporary file that replaces
// plot.svg once it is whole. Returns the line to print: the plot's path, or
// what went wrong.
std::string DrawPlot(const StudyResults& r, const std::string& title, const std::filesystem::path& dir,
                     std::ostream& err) {
  std::ostringstream gp;
  gp << "set title " << GnuplotString(title + ": mean and " + Fixed(r.confidence * 100.0, 0) +
                                      "% interval (" + std::to_string(r.replications) + " replications" +
                                      (r.complete ? "" : ", incomplete") + ")")
     << "\n"
     << "set termoption noenhanced\n";
  // One inline data block per PV: time, mean, lower, upper.
  std::map<std::string, std::vector<const NodeResult*>> byName;
  std::vector<std::string> names;
  for (const NodeResult& n : r.nodes) {
    if (!byName.count(n.name)) names.push_back(n.name);
    byName[n.name].push_back(&n);
  }
  // Probabilities (PVs whose means stay within [0, 1]) would be flattened
  // by measures of hours or costs drawn on the same axis: when a study has
  // both, the others get the right-hand axis and a scale of their own.
  std::vector<bool> onRight(names.size(), false);
  for (size_t k = 0; k < names.size(); k++)
    for (const NodeResult* n : byName[names[k]])
      if (!(n->mean >= 0.0 && n->mean <= 1.0)) onRight[k] = true;
  const size_t rightCount = static_cast<size_t>(std::count(onRight.begin(), onRight.end(), true));
  const bool twoAxes = rightCount > 0 && rightCount < names.size();
  if (!twoAxes) onRight.assign(names.size(), false);
  gp << "set xlabel 'time'\nset ylabel " << (twoAxes ? "'probability (left axis)'" : "'mean'")
     << "\nset key outside right top\nset grid\n";
  if (twoAxes)
    gp << "set y2label 'other measures (right axis)'\nset ytics nomirror\nset y2tics\n"
       << "set yrange [-0.02:1.02]\n";
  gp << "set offsets 0, 0, 0.02, 0.02\n"
     << "set style fill transparent solid 0.18 noborder\n";
  for (size_t k = 0; k < names.size(); k++) {
    gp << "$pv" << k << " << EOD\n";
    for (const NodeResult* n : byName[names[k]]) {
      const bool bounded = n->lower > -DBL_MAX && n->upper < DBL_MAX;
      gp << n->time << " " << PlotValue(n->mean) << " " << PlotValue(bounded ? n->lower : n->mean) << " "
         << PlotValue(bounded ? n->upper : n->mean) << "\n";
    }
    gp << "EOD\n";
  }
  gp << "plot ";
  for (size_t k = 0; k < names.size(); k++) {
    const int colour = static_cast<int>(k) + 1;
    const char* axes = onRight[k] ? " axes x1y2" : "";
    gp << (k ? ", \\\n     " : "") << "$pv" << k << " using 1:3:4" << axes << " with filledcurves lc "
       << colour << " notitle, $pv" << k << " using 1:2" << axes << " with lines lw 2 lc " << colour
       << " title " << GnuplotString(names[k] + (onRight[k] ? " (right)" : ""));
  }
  gp << "\n";
  return DrawGnuplot("Mean and interval of every performance variable over time.", gp.str(), dir.string(),
                     "plot", err);
}

}  // namespace

std::string GnuplotString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string DrawGnuplot(const std::string& comment, const std::string& body, const std::string& dirName,
                        const std::string& stem, std::ostream& err) {
  const std::filesystem::path dir(dirName);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
  const std::filesystem::path script = absolute / (stem + ".gp");
  const std::filesystem::path svg = absolute / (stem + ".svg");
  std::ostringstream gp;
  gp << "# " << comment << "\n"
     << "set terminal svg size 1000,640 dynamic background rgb 'white'\n"
     << "# simmgr names a temporary file in svg; run alone, this writes " << stem << ".svg.\n"
     << "if (!exists(\"svg\")) svg = " << GnuplotString(svg.string()) << "\n"
     << "set output svg\n"
     << body;
  if (!WriteResultFile(script, gp.str(), err)) return "plot skipped (its script could not be written)";

  std::string error;
  const std::string temporary = CreateTemporaryBeside(svg.string(), &error);
  if (temporary.empty()) {
    err << "simmgr: " << error << std::endl;
    return "plot skipped (no file for it could be created)";
  }
  TarvexProcess gnuplot;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  if (!gnuplot.Start("gnuplot", {"-e", "svg = " + GnuplotString(temporary), script.string()}, options)) {
    std::filesystem::remove(temporary, ec);
    return "plot skipped: gnuplot is not installed (not found on the PATH)";
  }
  std::vector<std::string> output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPlotTimeoutMs);
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      gnuplot.Kill();
      break;
    }
    const TarvexProcess::ReadResult got = gnuplot.ReadLine(&line, static_cast<int>(left));
    if (got == TarvexProcess::kEnd) break;
    if (got == TarvexProcess::kLine && output.size() < 20) output.push_back(line);
  }
  gnuplot.Wait(true);
  if (!gnuplot.Exited() || gnuplot.ExitCode() != 0) {
    for (const std::string& l : output) err << "gnuplot: " << l << "\n";
    std::filesystem::remove(temporary, ec);
    return "plot failed: gnuplot ended with " + gnuplot.StatusText();
  }
  if (!WholeSvg(temporary)) {
    for (const std::string& l : output) err << "gnuplot: " << l << "\n";
    std::filesystem::remove(temporary, ec);
    return "plot failed: gnuplot did not write the whole plot";
  }
  if (!CommitTemporary(temporary, svg.string(), &error)) {
    err << "simmgr: " << error << std::endl;
    return "plot failed: it could not be put in place";
  }
  return "Plot: " + (dir / (stem + ".svg")).string();
}

namespace {

void PrintComparison(const StudyResults& r, const StudyResults& exact, const std::string& exactPath,
                     std::ostream& out) {
  const Coverage c = CompareWithExact(r, exact);
  out << "\nExact values from " << exactPath << ": " << c.covered << " of " << c.compared
      << " intervals cover the exact value";
  if (c.compared < static_cast<int>(r.nodes.size()))
    out << " (" << r.nodes.size() - static_cast<size_t>(c.compared) << " nodes have no exact value)";
  out << ".\n";
  if (c.missed.empty()) return;
  out << "Not covered:\n";
  char line[256];
  std::snprintf(line, sizeof line, "  %-22s %6s %10s  %-23s %10s\n", "PV", "time", "estimate", "interval",
                "exact");
  out << line;
  std::map<int, double> exactOf;
  for (const NodeResult& e : exact.nodes) exactOf[e.pvId] = e.mean;
  for (int i : c.missed) {
    const NodeResult& n = r.nodes[static_cast<size_t>(i)];
    const std::string interval = "[" + Fixed(n.lower, 4) + ", " + Fixed(n.upper, 4) + "]";
    std::snprintf(line, sizeof line, "  %-22s %6g %10.4f  %-23s %10.4f\n", n.name.c_str(), n.time, n.mean,
                  interval.c_str(), exactOf[n.pvId]);
    out << line;
  }
}

std::string ComparisonCsv(const StudyResults& r, const StudyResults& exact) {
  std::map<int, double> exactOf;
  for (const NodeResult& e : exact.nodes) exactOf[e.pvId] = e.mean;
  std::ostringstream csv;
  csv.precision(17);
  csv << "pv_id,name,time,n,mean,lower,upper,exact,covered\n";
  for (const NodeResult& n : r.nodes) {
    auto it = exactOf.find(n.pvId);
    const bool quoted = n.name.find(',') != std::string::npos;
    csv << n.pvId << "," << (quoted ? "\"" + n.name + "\"" : n.name) << "," << n.time << "," << n.n << ","
        << n.mean << "," << n.lower << "," << n.upper << ",";
    if (it == exactOf.end())
      csv << ",\n";
    else
      csv << it->second << "," << (n.lower <= it->second && it->second <= n.upper ? "yes" : "no") << "\n";
  }
  return csv.str();
}

}  // namespace

std::string NodeLabel(const MeasureLayout& layout, int node) {
  const MeasureLayout::Node& n = layout.nodes[static_cast<size_t>(node)];
  char t[32];
  // An accumulated measure is named by its end, the time its rows carry.
  std::snprintf(t, sizeof t, "%g", n.interval ? n.end : n.time);
  return n.name + " at " + t;
}

Aggregate::Aggregate(const MeasureLayout& layout) : nodes(layout.nodes.size()) {}

long long Aggregate::Add(const Packet& packet, long long limit) {
  long long take = packet.replications;
  if (limit >= 0 && limit < take) take = limit;
  if (take <= 0) return 0;
  for (size_t i = 0; i < nodes.size() && i < packet.counts.size(); i++) {
    const long long c = packet.counts[i] < take ? packet.counts[i] : take;
    nodes[i].AddChunk(packet.Row(static_cast<int>(i)), c);
  }
  replications += take;
  return take;
}

StudyResults BuildResults(const MeasureLayout& layout, const Aggregate& a, const IntervalSettings& settings,
                          bool complete) {
  StudyResults r;
  r.replications = a.replications;
  r.confidence = settings.confidence;
  r.complete = complete;
  r.method = "simulation (" + MethodText(a.nodes, settings) + ")";
  const int count = static_cast<int>(a.nodes.size());
  const double level = NodeLevel(settings, count);
  for (int i = 0; i < count; i++) {
    const NodeStats& s = a.nodes[static_cast<size_t>(i)];
    NodeResult n;
    n.pvId = i;
    const MeasureLayout::Node& measured = layout.nodes[static_cast<size_t>(i)];
    n.name = measured.name;
    // A node accumulated over an interval is reported at the interval's end,
    // so that its nodes line up in time as those of an instant do.
    n.time = measured.interval ? measured.end : measured.time;
    n.n = s.n;
    n.mean = s.mean;
    n.variance = s.Variance();
    const Interval interval = NodeInterval(s, level);
    // Without enough observations for an interval the bounds say so: the
    // whole range of doubles.
    n.lower = interval.bounded ? interval.lower : -DBL_MAX;
    n.upper = interval.bounded ? interval.upper : DBL_MAX;
    r.nodes.push_back(n);
  }
  return r;
}

bool LoadExact(const std::string& path, StudyResults* exact, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot open the exact values " + path;
    return false;
  }
  std::string reason;
  if (!ReadCsv(in, exact, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  if (exact->nodes.empty()) {
    *error = path + " holds no exact values";
    return false;
  }
  return true;
}

Coverage CompareWithExact(const StudyResults& r, const StudyResults& exact) {
  std::map<int, double> exactOf;
  for (const NodeResult& e : exact.nodes) exactOf[e.pvId] = e.mean;
  Coverage c;
  for (size_t i = 0; i < r.nodes.size(); i++) {
    auto it = exactOf.find(r.nodes[i].pvId);
    if (it == exactOf.end()) continue;
    c.compared++;
    if (r.nodes[i].lower <= it->second && it->second <= r.nodes[i].upper)
      c.covered++;
    else
      c.missed.push_back(static_cast<int>(i));
  }
  return c;
}

bool PrepareOutputDirectory(const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    *error = "cannot create the output directory " + dir + ": " + (ec ? ec.message() : "not a directory");
    return false;
  }
  std::string reason;
  if (!ProbeWritableDirectory(dir, &reason)) {
    *error = "the output directory is not writable (" + reason + ")";
    return false;
  }
  return true;
}

bool Publish(const Publication& p, std::ostream& out, std::ostream& err) {
  const StudyResults& r = *p.results;
  const std::filesystem::path dir(p.outDir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  bool ok = true;
  std::vector<std::string> written;
  auto put = [&](const char* name, const std::string& text) {
    const std::filesystem::path path = dir / name;
    if (WriteResultFile(path, text, err))
      written.push_back(path.string());
    else
      ok = false;
  };
  std::ostringstream csv, json;
  WriteCsv(csv, r);
  WriteJson(json, r);
  put("results.csv", csv.str());
  put("results.json", json.str());
  if (p.exact) put("comparison.csv", ComparisonCsv(r, *p.exact));

  WriteTable(out, r);
  out << "\n";
  if (!r.complete) out << "NOTE: INCOMPLETE results: the study did not finish (see below).\n";
  for (const std::string& line : p.summary) out << line << "\n";
  int overflowed = 0;
  for (const NodeResult& n : r.nodes)
    if (!std::isfinite(n.mean) || !std::isfinite(n.variance) || !std::isfinite(n.lower) || !std::isfinite(n.upper))
      overflowed++;
  if (overflowed > 0)
    out << "NOTE: " << overflowed << (overflowed == 1 ? " node holds" : " nodes hold")
        << " values too large for the statistics; what overflowed is null in results.json (inf or nan in "
        << "the CSV files).\n";
  if (p.exact) PrintComparison(r, *p.exact, p.exactPath, out);
  bool printed = FlushSucceeded(out);

  const std::string plot = DrawPlot(r, p.modelTitle, dir, err);
  // Only files that were written are named.
  out << "Results: ";
  for (size_t i = 0; i < written.size(); i++) out << (i ? ", " : "") << written[i];
  if (written.empty()) out << "none written (see the messages on standard error)";
  out << "\n" << plot << "\n";
  printed = FlushSucceeded(out) && printed;
  if (!printed) {
    err << "simmgr: cannot write to standard output: the table and the summary are lost" << std::endl;
    ok = false;
  }
  return ok;
}

}  // namespace simmgr
