// The study's tally of observations and what is made of it: the results
// rows (through the shared results module), the files in the output
// directory, the table on standard output, the comparison with exact values
// and the plot.
#ifndef TARVEX_TOOLS_SIMMGR_REPORT_H
#define TARVEX_TOOLS_SIMMGR_REPORT_H

#include <iosfwd>
#include <string>
#include <vector>

#include "results/Results.h"
#include "rewards/MeasureLayout.h"
#include "simmgr/Records.h"
#include "simmgr/Statistics.h"

namespace simmgr {

// A node of the model's measures as the messages name it: "Network Access
// at 50" (the PV's name and the node's time; an accumulated measure's end).
std::string NodeLabel(const MeasureLayout& layout, int node);

// Running statistics of every node.
struct Aggregate {
  Aggregate() = default;
  explicit Aggregate(const MeasureLayout& layout);
  // Counts the first `limit` observations of every node of the packet (all
  // of them when limit is negative). Returns the replications counted.
  long long Add(const Packet& packet, long long limit);

  std::vector<NodeStats> nodes;
  long long replications = 0;
};

// The results rows, one per node of the layout, labelled with its names and
// times.
StudyResults BuildResults(const MeasureLayout& layout, const Aggregate& aggregate,
                          const IntervalSettings& settings, bool complete);

// Reads a results CSV of exact values; false with a message on failure.
bool LoadExact(const std::string& path, StudyResults* exact, std::string* error);

// Creates the output directory when missing and checks that files can be
// created in it; false with the reason otherwise.
bool PrepareOutputDirectory(const std::string& dir, std::string* error);

// Everything a finished (or interrupted) study or summary publishes.
struct Publication {
  const StudyResults* results = nullptr;
  std::string modelTitle;  // names the model in the plot's title
  IntervalSettings settings;
  std::string outDir;
  std::vector<std::string> summary;  // lines printed after the table
  const StudyResults* exact = nullptr;
  std::string exactPath;
};

// Writes OUT/results.csv and OUT/results.json (and OUT/comparison.csv with
// exact values), each replaced only once written whole; prints the table, the
// summary lines and the comparison on out; draws OUT/plot.svg with gnuplot
// when it is installed; names only the files written. Messages go to err.
// False when a file or out could not be written.
bool Publish(const Publication& p, std::ostream& out, std::ostream& err);

// Text as a gnuplot string in double quotes.
std::string GnuplotString(const std::string& text);

// Writes DIR/<stem>.gp (a comment line, the SVG terminal and output, then
// body) and has gnuplot draw DIR/<stem>.svg from it, replacing the file only
// once it is whole. Returns the line to print: "Plot: DIR/<stem>.svg", or
// why the plot was skipped or failed (messages go to err).
std::string DrawGnuplot(const std::string& comment, const std::string& body, const std::string& dir,
                        const std::string& stem, std::ostream& err);

// Nodes whose interval covers the exact value, and how many could be
// compared.
struct Coverage {
  int compared = 0;
  int covered = 0;
  std::vector<int> missed;  // indices into results.nodes
};
Coverage CompareWithExact(const StudyResults& results, const StudyResults& exact);

}  // namespace simmgr

#endif
