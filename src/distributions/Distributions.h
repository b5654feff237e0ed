// Variate samplers over the installed uniform generator.
//
// Each sampler turns successive rnd() values of the generator (U, U1, U2, ...
// in the order drawn) into a variate of one distribution family. The order and
// number of draws is part of each sampler's contract: runs are reproducible
// only if it never changes. No parameter is validated; invalid parameters give
// whatever the formulas compute (a zero rate gives an infinite delay).
//
// The holder owns its generator. An instance is not meant to be shared between
// threads.
#ifndef TARVEX_DISTRIBUTIONS_DISTRIBUTIONS_H
#define TARVEX_DISTRIBUTIONS_DISTRIBUTIONS_H

#include <memory>

#include "distributions/RandomNumberGenerator.h"

class Distributions {
public:
  // Installs a new, unseeded lagged-Fibonacci generator.
  Distributions();
  ~Distributions();

  Distributions(const Distributions&) = delete;
  Distributions& operator=(const Distributions&) = delete;

  RandomNumberGenerator* getGenerator() const { return generator.get(); }

  // Takes ownership of g (which may be null) and destroys the previous
  // generator.
  void setGenerator(RandomNumberGenerator* g);

  // x itself; draws nothing.
  double Deterministic(double x) const { return x; }

  // -ln(U) / rate
  double Exponential(double rate);
  // a + (b - a) U
  double Uniform(double a, double b);
  // Failures before the first success: floor(ln U / ln(1 - p)).
  double Geometric(double p);
  // Shape a, scale b: b (-ln U)^(1/a).
  double Weibull(double a, double b);
  // Remaining life of a Weibull(a, b) unit that has survived to age t.
  double ConditionalWeibull(double a, double b, double t);
  // Mean m, variance v, truncated at zero by rejection (never negative).
  double Normal(double m, double v);
  // exp of a normal variate with mean m and variance v (not truncated).
  double Lognormal(double m, double v);
  // floor(k) exponential phases with total mean `mean`; 0 when k < 1.
  double Erlang(double k, double mean);
  // Minimum a, maximum b, mode c.
  double Triangular(double a, double b, double c);
  // Shape alpha, scale beta; mean alpha * beta.
  double Gamma(double alpha, double beta);
  // X / (X + Y) with X = Gamma(a, 1) drawn before Y = Gamma(b, 1).
  double Beta(double a, double b);
  // Successes in ceil(n) trials with probability p (none for n <= 0).
  double Binomial(double n, double p);
  // Sum of ceil(s) geometric variates with probability p (0 for s <= 0).
  double NegativeBinomial(double s, double p);
  // n exponential branches; params = rate0, weight0, rate1, weight1, ...
  // Weights need not sum to one. Returns 0 without drawing when n <= 0.
  double HyperExponential(int n, const double* params);
  // Sum of n exponential stages with the given rates (0 when n <= 0).
  double HypoExponential(int n, const double* rates);
  // Scale (minimum) a, shape b: a U^(-1/b).
  double Pareto(double a, double b);

protected:
  // Returns g, or ends the process with status 1 when an allocation of a
  // generator failed (g null): constructors may run before main, where an
  // exception would have nowhere to go.
  static RandomNumberGenerator* requireAllocated(RandomNumberGenerator* g);

private:
  // One uniform from the generator; an empty holder yields 0.0 like the
  // root generator does.
  double draw() { return generator ? generator->rnd() : 0.0; }

  // First accepted polar-method candidate m + sqrt(v) V1 X (no truncation).
  double polarNormal(double m, double v);

  std::unique_ptr<RandomNumberGenerator> generator;
};

#endif
