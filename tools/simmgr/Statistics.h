// Statistics of the simulation manager: running count, mean and variance of
// every node's observations, merged one chunk at a time; confidence
// intervals for a node's mean (Wilson for 0/1 observations, Student t
// otherwise); the stopping rule.
#ifndef TARVEX_TOOLS_SIMMGR_STATISTICS_H
#define TARVEX_TOOLS_SIMMGR_STATISTICS_H

#include <string>
#include <vector>

namespace simmgr {

// Count, mean and sum of squared deviations of one node's observations.
// Chunks are summarised exactly (two passes over the chunk) and merged with
// the pairwise update of Chan, Golub and LeVeque, which stays accurate for
// long runs; the result depends only on the order of the chunks.
struct NodeStats {
  long long n = 0;
  double mean = 0.0;
  double m2 = 0.0;      // sum of squared deviations from the mean
  bool binary = true;   // every observation so far was 0 or 1

  void AddChunk(const double* values, long long count);
  void Merge(long long count, double chunkMean, double chunkM2, bool chunkBinary);
  // Sample variance of one observation (0 with fewer than two).
  double Variance() const;
};

struct Interval {
  double lower = 0.0;
  double upper = 0.0;
  bool bounded = false;  // false: too few observations for any interval
  double HalfWidth() const;
};

// Standard normal quantile: the z with P(Z <= z) = p, for 0 < p < 1.
double NormalQuantile(double p);
// Student t quantile with df degrees of freedom (df >= 1).
double StudentQuantile(double p, long long df);
// Two-sided tail probability P(|T| >= |t|) with df degrees of freedom
// (df >= 1): the p-value of a t statistic.
double StudentTwoSidedP(double t, long long df);
// Wilson score interval for a proportion: successes / n observed, z the
// normal quantile of the two-sided level. Stays inside [0, 1] and keeps a
// positive width when every observation was 0 (or every one was 1).
Interval WilsonInterval(double proportion, long long n, double z);
// t interval for the mean of n observations with the given sample variance.
Interval StudentInterval(double mean, double variance, long long n, double level);

// How intervals are formed and when a study is precise enough.
struct IntervalSettings {
  double confidence = 0.95;   // overall level
  bool bonferroni = false;    // simultaneous over all nodes
  double halfWidth = 0.005;   // absolute target
  double relative = 0.0;      // > 0: target relative to |mean|
};

// The level used for one node: the overall level, or with Bonferroni
// 1 - (1 - level) / nodes.
double NodeLevel(const IntervalSettings& settings, int nodes);
// The interval of one node at the given per-node level: Wilson while every
// observation has been 0 or 1, t otherwise; unbounded without observations
// (and for non-0/1 data with fewer than two).
Interval NodeInterval(const NodeStats& stats, double level);
// The half-width a node must reach: relative × |mean|, or the absolute
// target when no relative target is set or the mean is 0 (a relative target
// can never be met there).
double NodeTarget(const NodeStats& stats, const IntervalSettings& settings);

// The state of the stopping rule over all nodes.
struct Precision {
  bool met = false;       // every node's half-width is within its target
  int widest = -1;        // node furthest from its target (largest ratio)
  double widestHalf = 0.0;
  double widestTarget = 0.0;
};
Precision AssessPrecision(const std::vector<NodeStats>& nodes, const IntervalSettings& settings);

// "Wilson 95%" or "Wilson 95% for 0/1 nodes, t elsewhere", with the
// Bonferroni note when set.
std::string MethodText(const std::vector<NodeStats>& nodes, const IntervalSettings& settings);

}  // namespace simmgr

#endif
