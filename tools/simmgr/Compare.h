// Comparing two experiments of a model's study with common random numbers:
// simulator j of experiment A and simulator j of experiment B get the same
// seed and restart their streams at every replication (-R), so that
// replication k of the one is paired with replication k of the other. The
// study counts the paired differences B - A per node, stops when every
// difference's interval is within the target, and marks the nodes whose
// difference is significant with the family-wise error over all nodes held
// at 1 - confidence (Holm's step-down on the paired t-test p-values).
#ifndef TARVEX_TOOLS_SIMMGR_COMPARE_H
#define TARVEX_TOOLS_SIMMGR_COMPARE_H

#include <iosfwd>
#include <string>
#include <vector>

#include "rewards/MeasureLayout.h"
#include "simmgr/Options.h"
#include "simmgr/Records.h"
#include "simmgr/Report.h"

namespace simmgr {

// simmgr --compare A B: checks A and B against the model's study (exit code
// 2 for one outside it), runs `--jobs` simulators per experiment (default
// half the processor cores, at least one) side by side in one study and
// publishes the comparison. Returns the exit code.
int RunCompare(const StudyOptions& options, std::ostream& out, std::ostream& err);

// The tally of a comparison, kept by the study in place of its own.
class PairedTally {
 public:
  PairedTally(const MeasureLayout& layout, const StudyOptions& options);

  // Counts the first `limit` replications (all when negative) that packet
  // a of experiment A and packet b of experiment B, from simulators with the
  // same seed, both hold: their observations into A's and B's tallies and
  // the differences b - a into *differences (as non-0/1 data, so that every
  // difference gets a t interval). Returns the pairs counted.
  long long Count(const Packet& a, const Packet& b, long long limit, Aggregate* differences);

  // How the intervals of the differences are made, e.g. "paired t 95% per node".
  std::string IntervalText() const;

  // Writes OUT/compare.csv and each experiment's results to OUT/<A>/ and
  // OUT/<B>/, prints the largest differences, the count of significant
  // nodes, the summary lines and the files written. False when a file or
  // out could not be written.
  bool Publish(const Aggregate& differences, bool complete, const std::vector<std::string>& summary,
               std::ostream& out, std::ostream& err) const;

 private:
  const MeasureLayout& Layout;
  StudyOptions Options;
  std::string NameA, NameB;
  Aggregate TallyA, TallyB;
  std::vector<double> Scratch;
};

// Holm's step-down procedure: which of the hypotheses with these p-values
// are rejected with the family-wise error held at alpha.
std::vector<bool> HolmRejections(const std::vector<double>& pValues, double alpha);

}  // namespace simmgr

#endif
