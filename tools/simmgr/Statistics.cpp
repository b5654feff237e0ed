#include "simmgr/Statistics.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

namespace simmgr {

void NodeStats::AddChunk(const double* values, long long count) {
  if (count <= 0) return;
  double sum = 0.0;
  bool zeroOne = true;
  for (long long i = 0; i < count; i++) {
    sum += values[i];
    if (values[i] != 0.0 && values[i] != 1.0) zeroOne = false;
  }
  const double chunkMean = sum / static_cast<double>(count);
  double m2 = 0.0;
  for (long long i = 0; i < count; i++) {
    const double d = values[i] - chunkMean;
    m2 += d * d;
  }
  Merge(count, chunkMean, m2, zeroOne);
}

void NodeStats::Merge(long long count, double chunkMean, double chunkM2, bool chunkBinary) {
  if (count <= 0) return;
  binary = binary && chunkBinary;
  if (n == 0) {
    n = count;
    mean = chunkMean;
    m2 = chunkM2;
    return;
  }
  const double na = static_cast<double>(n);
  const double nb = static_cast<double>(count);
  const double total = na + nb;
  const double delta = chunkMean - mean;
  mean += delta * (nb / total);
  m2 += chunkM2 + delta * delta * (na * nb / total);
  n += count;
}

double NodeStats::Variance() const { return n > 1 ? m2 / static_cast<double>(n - 1) : 0.0; }

double Interval::HalfWidth() const { return bounded ? (upper - lower) / 2.0 : HUGE_VAL; }

double NormalQuantile(double p) {
  if (!(p > 0.0 && p < 1.0)) return p <= 0.0 ? -HUGE_VAL : HUGE_VAL;
  // Rational approximation (relative error about 1e-9), then one Halley step
  // on the exact distribution function, which brings it to full precision.
  static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01,  -1.328068155288572e+01};
  static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
  const double low = 0.02425;
  double x;
  if (p < low) {
    const double q = std::sqrt(-2.0 * std::log(p));
    x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
  } else if (p <= 1.0 - low) {
    const double q = p - 0.5;
    const double r = q * q;
    x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
  } else {
    const double q = std::sqrt(-2.0 * std::log(1.0 - p));
    x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
  }
  const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
  const double u = e * std::sqrt(2.0 * 3.14159265358979323846) * std::exp(x * x / 2.0);
  return x - u / (1.0 + x * u / 2.0);
}

namespace {

// Continued fraction of the regularized incomplete beta function (modified
// Lentz method).
double BetaFraction(double a, double b, double x) {
  const double tiny = 1e-300;
  double c = 1.0;
  double d = 1.0 - (a + b) * x / (a + 1.0);
  if (std::fabs(d) < tiny) d = tiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= 500; m++) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < 1e-15) break;
  }
  return h;
}

// I_x(a, b).
double RegularizedBeta(double a, double b, double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  const double front =
      std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaFraction(a, b, x) / a;
  return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

// P(T <= t) for t >= 0 with df degrees of freedom.
double StudentUpper(double t, double df) {
  return 1.0 - 0.5 * RegularizedBeta(df / 2.0, 0.5, df / (df + t * t));
}

}  // namespace

double StudentTwoSidedP(double t, long long df) {
  if (df < 1) return 1.0;
  const double d = static_cast<double>(df);
  return RegularizedBeta(d / 2.0, 0.5, d / (d + t * t));
}

double StudentQuantile(double p, long long df) {
  if (df < 1) return HUGE_VAL;
  if (!(p > 0.0 && p < 1.0)) return p <= 0.0 ? -HUGE_VAL : HUGE_VAL;
  if (p < 0.5) return -StudentQuantile(1.0 - p, df);
  if (p == 0.5) return 0.0;
  // Beyond a million degrees of freedom t and normal agree to many digits.
  if (df > 1000000) return NormalQuantile(p);
  const double v = static_cast<double>(df);
  double lo = 0.0;
  double hi = std::max(1.0, 2.0 * NormalQuantile(p));
  while (StudentUpper(hi, v) < p && hi < 1e300) hi *= 2.0;
  for (int i = 0; i < 200 && hi - lo > 1e-14 * hi; i++) {
    const double mid = 0.5 * (lo + hi);
    if (StudentUpper(mid, v) < p)
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

Interval WilsonInterval(double proportion, long long n, double z) {
  Interval r;
  if (n <= 0) return r;
  const double p = std::min(1.0, std::max(0.0, proportion));
  const double nn = static_cast<double>(n);
  const double z2 = z * z;
  const double denominator = 1.0 + z2 / nn;
  const double centre = (p + z2 / (2.0 * nn)) / denominator;
  const double half = z / denominator * std::sqrt(p * (1.0 - p) / nn + z2 / (4.0 * nn * nn));
  // At the ends the bounds are 0 and 1 exactly (rounding would leave them a
  // hair inside, and an exact value of 0 or 1 would seem not covered).
  r.lower = p == 0.0 ? 0.0 : std::max(0.0, centre - half);
  r.upper = p == 1.0 ? 1.0 : std::min(1.0, centre + half);
  r.bounded = true;
  return r;
}

Interval StudentInterval(double mean, double variance, long long n, double level) {
  Interval r;
  if (n < 2) return r;
  const double t = StudentQuantile(1.0 - (1.0 - level) / 2.0, n - 1);
  const double half = t * std::sqrt(std::max(0.0, variance) / static_cast<double>(n));
  r.lower = mean - half;
  r.upper = mean + half;
  r.bounded = true;
  return r;
}

double NodeLevel(const IntervalSettings& settings, int nodes) {
  if (!settings.bonferroni || nodes <= 1) return settings.confidence;
  return 1.0 - (1.0 - settings.confidence) / nodes;
}

Interval NodeInterval(const NodeStats& stats, double level) {
  if (stats.binary) return WilsonInterval(stats.mean, stats.n, NormalQuantile(1.0 - (1.0 - level) / 2.0));
  return StudentInterval(stats.mean, stats.Variance(), stats.n, level);
}

double NodeTarget(const NodeStats& stats, const IntervalSettings& settings) {
  if (settings.relative > 0.0 && stats.mean != 0.0) return settings.relative * std::fabs(stats.mean);
  return settings.halfWidth;
}

Precision AssessPrecision(const std::vector<NodeStats>& nodes, const IntervalSettings& settings) {
  Precision p;
  if (nodes.empty()) return p;
  const double level = NodeLevel(settings, static_cast<int>(nodes.size()));
  p.met = true;
  double worst = -1.0;
  for (size_t i = 0; i < nodes.size(); i++) {
    const double half = NodeInterval(nodes[i], level).HalfWidth();
    const double target = NodeTarget(nodes[i], settings);
    if (!(half <= target)) p.met = false;
    const double ratio = target > 0.0 ? half / target : HUGE_VAL;
    if (ratio > worst || p.widest < 0) {
      worst = ratio;
      p.widest = static_cast<int>(i);
      p.widestHalf = half;
      p.widestTarget = target;
    }
  }
  return p;
}

std::string MethodText(const std::vector<NodeStats>& nodes, const IntervalSettings& settings) {
  bool allBinary = true;
  for (const NodeStats& s : nodes) allBinary = allBinary && s.binary;
  char level[32];
  std::snprintf(level, sizeof level, "%g%%", settings.confidence * 100.0);
  std::string text = std::string("Wilson ") + level;
  if (!allBinary) text += " for 0/1 nodes, t elsewhere";
  if (settings.bonferroni)
    text += ", Bonferroni over " + std::to_string(nodes.size()) + " nodes";
  return text;
}

}  // namespace simmgr
