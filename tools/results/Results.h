// Study results: for every performance-variable node (one PV at one time
// point) the number of observations, their mean and variance and an interval
// for the mean. The simulation manager writes them from observations, the
// exact solver from the model itself (n = 0, lower = upper = mean).
#ifndef TARVEX_TOOLS_RESULTS_H
#define TARVEX_TOOLS_RESULTS_H

#include <iosfwd>
#include <string>
#include <vector>

struct NodeResult {
  int pvId = 0;        // node position: 21 x PV + time index in this model
  std::string name;    // the PV's name
  double time = 0.0;   // the node's instant
  long long n = 0;     // observations (0 for exact values)
  double mean = 0.0;
  double variance = 0.0;  // variance of one observation
  double lower = 0.0;     // interval for the mean
  double upper = 0.0;
};

struct StudyResults {
  std::vector<NodeResult> nodes;
  long long replications = 0;
  double confidence = 0.95;
  bool complete = true;      // false when the study was interrupted
  std::string method;        // how the values were obtained
};

// CSV with the header "pv_id,name,time,n,mean,variance,lower,upper".
void WriteCsv(std::ostream& out, const StudyResults& results);
// A JSON object with the study's facts and one object per node. A number
// that is not finite is written as null, with a member "<name>_note" beside
// it ("not finite (overflow)").
void WriteJson(std::ostream& out, const StudyResults& results);
// One row per PV with its mean at each instant.
void WriteTable(std::ostream& out, const StudyResults& results);
// A number as the result files write it: the shortest text that reads back
// as the same double (whole numbers without an exponent).
std::string ResultNumber(double v);
// A CSV field: the text itself, or quoted when it holds a comma, a quote or
// a line break.
std::string CsvField(const std::string& text);

// Reads what WriteCsv wrote; false (with a message in *error) on bad input.
bool ReadCsv(std::istream& in, StudyResults* results, std::string* error);

#endif
