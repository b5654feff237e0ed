#include "model/ModelDescription.h"

#include <cmath>

#include "model/ExpressionSymbols.h"

namespace {

struct DelayFamily {
  DelayKind kind;
  const char* name;
  std::vector<std::string> parameters;
};

const std::vector<DelayFamily>& Families() {
  static const std::vector<DelayFamily> families = {
      {DelayKind::kDeterministic, "deterministic", {"value"}},
      {DelayKind::kExponential, "exponential", {"rate"}},
      {DelayKind::kUniform, "uniform", {"lower", "upper"}},
      {DelayKind::kErlang, "erlang", {"phases", "mean"}},
      {DelayKind::kWeibull, "weibull", {"shape", "scale"}},
      {DelayKind::kNormal, "normal", {"mean", "variance"}},
      {DelayKind::kLognormal, "lognormal", {"mean", "variance"}},
      {DelayKind::kGamma, "gamma", {"shape", "scale"}},
      {DelayKind::kBeta, "beta", {"alpha", "beta"}},
      {DelayKind::kTriangular, "triangular", {"lower", "upper", "mode"}},
      {DelayKind::kPareto, "pareto", {"scale", "shape"}},
      {DelayKind::kGeometric, "geometric", {"probability"}},
      {DelayKind::kBinomial, "binomial", {"trials", "probability"}},
  };
  return families;
}

const DelayFamily& FamilyOf(DelayKind kind) {
  for (const DelayFamily& f : Families())
    if (f.kind == kind) return f;
  return Families()[0];
}

}  // namespace

const std::vector<std::string>& DelayParameterNames(DelayKind kind) {
  return FamilyOf(kind).parameters;
}

const char* DelayKindName(DelayKind kind) { return FamilyOf(kind).name; }

bool DelayKindNamed(const std::string& name, DelayKind* kind) {
  for (const DelayFamily& f : Families())
    if (name == f.name) {
      *kind = f.kind;
      return true;
    }
  return false;
}

bool DelayParametersValid(DelayKind kind, const double* p, std::string* problem) {
  const DelayFamily& f = FamilyOf(kind);
  for (size_t i = 0; i < f.parameters.size(); i++)
    if (!std::isfinite(p[i])) {
      *problem = "'" + f.parameters[i] + "' is not a finite number";
      return false;
    }
  auto fail = [&](const char* why) {
    *problem = why;
    return false;
  };
  switch (kind) {
    case DelayKind::kDeterministic:
      return p[0] >= 0 || fail("'value' must not be negative");
    case DelayKind::kExponential:
      return p[0] > 0 || fail("'rate' must be positive");
    case DelayKind::kUniform:
      return (p[0] >= 0 && p[0] <= p[1]) || fail("0 <= 'lower' <= 'upper' must hold");
    case DelayKind::kErlang:
      return (p[0] >= 1 && p[0] == std::floor(p[0]) && p[1] >= 0) ||
             fail("'phases' must be a whole number of at least 1 and 'mean' not negative");
    case DelayKind::kWeibull:
    case DelayKind::kGamma:
      return (p[0] > 0 && p[1] > 0) || fail("'shape' and 'scale' must be positive");
    case DelayKind::kNormal:
      // Drawn by rejection of negative values: a mean far below 0 would
      // hardly ever give one.
      return (p[1] >= 0 && p[0] >= -3 * std::sqrt(p[1])) ||
             fail("'variance' must not be negative and 'mean' not below -3 standard deviations");
    case DelayKind::kLognormal:
      return p[1] >= 0 || fail("'variance' must not be negative");
    case DelayKind::kBeta:
      return (p[0] > 0 && p[1] > 0) || fail("'alpha' and 'beta' must be positive");
    case DelayKind::kTriangular:
      return (p[0] >= 0 && p[0] <= p[2] && p[2] <= p[1]) ||
             fail("0 <= 'lower' <= 'mode' <= 'upper' must hold");
    case DelayKind::kPareto:
      return (p[0] > 0 && p[1] > 0) || fail("'scale' and 'shape' must be positive");
    case DelayKind::kGeometric:
      return (p[0] > 0 && p[0] <= 1) || fail("'probability' must be above 0 and at most 1");
    case DelayKind::kBinomial:
      return (p[0] >= 0 && p[1] >= 0 && p[1] <= 1) ||
             fail("'trials' must not be negative and 'probability' must be from 0 to 1");
  }
  return true;
}

void AddVariableSymbols(const ModelDescription& d, short* const* values, SymbolTable* symbols) {
  for (size_t i = 0; i < d.variables.size(); i++) {
    const VariableDescription& v = d.variables[i];
    if (v.kind == VariableKind::kSkill)
      symbols->AddConstant(v.name, v.initial);
    else
      symbols->AddStateVariable(v.name, &values[i]);
  }
}
