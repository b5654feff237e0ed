// Variate samplers: number and order of uniform draws (with a scripted
// generator) and sampling statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "distributions/DistributionDefinition.h"
#include "distributions/MersenneTwister.h"
#include "support/ScriptedGenerator.h"

namespace {

constexpr double Pi = 3.141592653589793;

using support::ScriptedGenerator;

// Samplers run on a holder of their own, so the process-wide holder and its
// stream stay untouched and nothing needs restoring.
class ScriptedSampling : public ::testing::Test {
protected:
  ScriptedGenerator& script(std::initializer_list<double> values) {
    auto* g = new ScriptedGenerator(values);
    dist.setGenerator(g);  // owned by the holder, which frees the previous one
    return *g;
  }
  UserDistributions dist;
};

TEST_F(ScriptedSampling, DrawCountsAndKnownAnswers) {
  ScriptedGenerator* g = &script({});
  EXPECT_EQ(dist.Deterministic(2.0), 2.0);
  EXPECT_EQ(dist.Erlang(0.5, 10.0), 0.0);
  EXPECT_FALSE(std::signbit(dist.Erlang(0.5, 10.0)));
  EXPECT_EQ(dist.Triangular(3.0, 3.0, 3.0), 3.0);
  EXPECT_EQ(dist.Binomial(0.0, 0.3), 0.0);
  EXPECT_EQ(dist.NegativeBinomial(0.0, 0.3), 0.0);
  EXPECT_EQ(g->draws, 0);

  g = &script({0.5, 0.25, 0.125});  // -(6/3) ln(2^-6)
  EXPECT_DOUBLE_EQ(dist.Erlang(3.0, 6.0), 12.0 * std::log(2.0));
  EXPECT_EQ(g->draws, 3);

  g = &script({0.25, 0.75});
  EXPECT_EQ(dist.Triangular(0.0, 1.0, 1.0), 0.5);
  // Above the mode share f = 0.5: 1 - sqrt(0.5 * 0.25).
  EXPECT_DOUBLE_EQ(dist.Triangular(2.0, 4.0, 3.0), 2.0 + 2.0 * (1.0 - std::sqrt(0.125)));

  g = &script({0.5});
  EXPECT_DOUBLE_EQ(dist.Pareto(2.0, 1.0), 4.0);
  EXPECT_EQ(g->draws, 1);

  g = &script({0.5, 0.6, 0.1, 0.5, 0.25});
  EXPECT_EQ(dist.Binomial(2.2, 0.5), 2.0);  // three trials, success when U <= p
  EXPECT_EQ(dist.NegativeBinomial(1.5, 0.5), 3.0);  // floor(1) + floor(2)
  EXPECT_EQ(g->draws, 5);
}

TEST_F(ScriptedSampling, NormalRejectsOutsideDiscAndNegativeResults) {
  // (1, 1) lies outside the disc; (-0.8, 0) is negative for mean 0;
  // (0.8, 0) is accepted.
  ScriptedGenerator& g = script({1.0, 1.0, 0.1, 0.5, 0.9, 0.5});
  const double x = std::sqrt(-2.0 * std::log(0.64) / 0.64);
  EXPECT_DOUBLE_EQ(dist.Normal(0.0, 4.0), 2.0 * 0.8 * x);
  EXPECT_EQ(g.draws, 6);

  ScriptedGenerator& l = script({0.1, 0.5});  // no truncation here
  EXPECT_DOUBLE_EQ(dist.Lognormal(1.0, 1.0), std::exp(1.0 - 0.8 * x));
  EXPECT_EQ(l.draws, 2);
}

// Sample mean within five standard errors, sample variance within 15%.
void checkMoments(double (*sample)(Distributions&), double mean, double variance) {
  UserDistributions d;
  auto* g = new MersenneTwister;
  g->srnd(20240611u);
  d.setGenerator(g);
  const int n = 40000;
  double sum = 0.0, sumSq = 0.0;
  for (int i = 0; i < n; i++) {
    const double x = sample(d);
    ASSERT_FALSE(std::isnan(x));
    sum += x;
    sumSq += x * x;
  }
  const double m = sum / n;
  EXPECT_NEAR(m, mean, 5.0 * std::sqrt(variance / n));
  EXPECT_NEAR((sumSq - n * m * m) / (n - 1), variance, 0.15 * variance);
}

TEST(SamplingStatistics, MomentsMatchDistributions) {
  checkMoments([](Distributions& d) { return d.Exponential(2.0); }, 0.5, 0.25);
  checkMoments([](Distributions& d) { return d.Gamma(0.5, 2.0); }, 1.0, 2.0);
  checkMoments([](Distributions& d) { return d.Gamma(4.0, 0.5); }, 2.0, 1.0);
  checkMoments([](Distributions& d) { return d.Beta(2.0, 3.0); }, 0.4, 0.04);
  checkMoments([](Distributions& d) { return d.Weibull(2.0, 1.0); }, std::sqrt(Pi) / 2.0, 1.0 - Pi / 4.0);
  // Normal(0, 1) truncated at zero is half-normal; never negative.
  checkMoments([](Distributions& d) {
    const double x = d.Normal(0.0, 1.0);
    EXPECT_GE(x, 0.0);
    return x;
  }, std::sqrt(2.0 / Pi), 1.0 - 2.0 / Pi);
}

}  // namespace
