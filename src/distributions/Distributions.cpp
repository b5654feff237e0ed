#include "distributions/Distributions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "distributions/LaggedFibonacci.h"

namespace {

// Natural constants written out so every build uses the same bits.
constexpr double Ln4 = 1.3862943611198906;
constexpr double OnePlusLn4_5 = 2.504077396776274;  // 1 + ln 4.5
constexpr double E = 2.718281828459045;

}  // namespace

RandomNumberGenerator* Distributions::requireAllocated(RandomNumberGenerator* g) {
  if (g == nullptr) {
    std::fputs("Insufficient Memory to allocate dynamic data structures from heap memory\n", stderr);
    std::fputs("Exiting program...\n", stderr);
    std::fflush(stderr);
    std::exit(1);
  }
  return g;
}

Distributions::Distributions() : generator(requireAllocated(new (std::nothrow) LaggedFibonacci)) {}

Distributions::~Distributions() = default;

void Distributions::setGenerator(RandomNumberGenerator* g) { generator.reset(g); }

double Distributions::Exponential(double rate) { return -std::log(draw()) / rate; }

double Distributions::Uniform(double a, double b) { return a + (b - a) * draw(); }

double Distributions::Geometric(double p) {
  return std::floor(std::log(draw()) / std::log(1.0 - p));
}

double Distributions::Weibull(double a, double b) {
  return b * std::pow(-std::log(draw()), 1.0 / a);
}

double Distributions::ConditionalWeibull(double a, double b, double t) {
  const double survived = std::exp(-std::pow(t / b, a));
  return b * std::pow(-std::log(draw() * survived), 1.0 / a) - t;
}

double Distributions::polarNormal(double m, double v) {
  double v1, v2, s;
  do {
    v1 = 2.0 * draw() - 1.0;
    v2 = 2.0 * draw() - 1.0;
    s = v1 * v1 + v2 * v2;
    // s == 0 (both uniforms exactly 0.5) is rejected as well: ln(0)/0 would
    // turn the variate into NaN.
  } while (s > 1.0 || s == 0.0);
  const double x = std::sqrt(-2.0 * std::log(s) / s);
  return m + std::sqrt(v) * v1 * x;
}

double Distributions::Normal(double m, double v) {
  double result;
  do {
    result = polarNormal(m, v);
  } while (result < 0.0);
  return result;
}

double Distributions::Lognormal(double m, double v) { return std::exp(polarNormal(m, v)); }

double Distributions::Erlang(double k, double mean) {
  const double phases = std::floor(k);
  if (!(phases >= 1.0)) return 0.0;  // also catches NaN
  double product = 1.0;
  for (double i = 0.0; i < phases; i += 1.0) product *= draw();
  return -(mean / k) * std::log(product);
}

double Distributions::Triangular(double a, double b, double c) {
  if (a == b) return a;
  const double f = (c - a) / (b - a);
  const double u = draw();
  double x;
  if (u <= f)
    x = std::sqrt(f * u);
  else
    x = 1.0 - std::sqrt((1.0 - f) * (1.0 - u));
  return a + x * (b - a);
}

double Distributions::Gamma(double alpha, double beta) {
  if (alpha == 1.0) return -std::log(draw()) * beta;

  double x;
  if (alpha > 1.0) {
    // Cheng's rejection algorithm GB.
    const double ainv = 1.0 / std::sqrt(2.0 * alpha - 1.0);
    const double bbb = alpha - Ln4;
    const double ccc = alpha + std::sqrt(2.0 * alpha - 1.0);
    for (;;) {
      const double u1 = draw();
      const double u2 = draw();
      const double v = ainv * std::log(u1 / (1.0 - u1));
      x = alpha * std::exp(v);
      const double z = u1 * u1 * u2;
      const double r = bbb + ccc * v - x;
      if (r + OnePlusLn4_5 - 4.5 * z >= 0.0) break;
      if (r >= std::log(z)) break;
    }
  } else {
    // Ahrens-Dieter algorithm GS.
    const double b = (E + alpha) / E;
    for (;;) {
      const double p = b * draw();
      if (p <= 1.0) {
        x = std::pow(p, 1.0 / alpha);
        if (draw() <= std::exp(-x)) break;
      } else {
        x = -std::log((b - p) / alpha);
        if (draw() <= std::pow(x, alpha - 1.0)) break;
      }
    }
  }
  return x * beta;
}

double Distributions::Beta(double a, double b) {
  const double x = Gamma(a, 1.0);
  const double y = Gamma(b, 1.0);
  return x / (x + y);
}

double Distributions::Binomial(double n, double p) {
  double count = 0.0;
  if (n > 0.0) {
    const double trials = std::ceil(n);
    for (double i = 0.0; i < trials; i += 1.0) {
      if (draw() <= p) count += 1.0;
    }
  }
  return count;
}

double Distributions::NegativeBinomial(double s, double p) {
  double sum = 0.0;
  if (s > 0.0) {
    const double terms = std::ceil(s);
    const double lnq = std::log(1.0 - p);
    for (double i = 0.0; i < terms; i += 1.0) sum += std::floor(std::log(draw()) / lnq);
  }
  return sum;
}

double Distributions::HyperExponential(int n, const double* params) {
  if (n <= 0) return 0.0;
  const double u = draw();  // branch selector, drawn first
  double total = 0.0;
  for (int i = 0; i < n; i++) total += params[2 * i + 1];
  int branch = n - 1;  // taken when no cumulative share exceeds u
  double cumulative = 0.0;
  for (int i = 0; i < n; i++) {
    cumulative += params[2 * i + 1];
    if (u < cumulative / total) {
      branch = i;
      break;
    }
  }
  return -std::log(draw()) / params[2 * branch];
}

double Distributions::HypoExponential(int n, const double* rates) {
  double sum = 0.0;
  for (int i = 0; i < n; i++) sum += -std::log(draw()) / rates[i];
  return sum;
}

double Distributions::Pareto(double a, double b) {
  return std::exp(std::log(a) - std::log(draw()) / b);
}
