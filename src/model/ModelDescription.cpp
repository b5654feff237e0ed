#include "model/ModelDescription.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "model/Expression.h"
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

void AddVariableSymbols(const ModelDescription& d, short* const* values, SymbolTable* symbols,
                        const short* initials) {
  for (size_t i = 0; i < d.variables.size(); i++) {
    const VariableDescription& v = d.variables[i];
    if (v.kind == VariableKind::kSkill)
      symbols->AddConstant(v.name, initials ? initials[i] : v.initial);
    else
      symbols->AddStateVariable(v.name, &values[i]);
  }
}

void AddGlobalSymbols(const ModelDescription& d, const double* values, bool fold,
                      SymbolTable* symbols) {
  for (size_t i = 0; i < d.globals.size(); i++) {
    if (fold)
      symbols->AddConstant(d.globals[i].name, values[i]);
    else
      symbols->AddGlobal(d.globals[i].name, &values[i]);
  }
}

namespace {

const char* const kGlobalTypeNames[] = {"bool", "char", "double", "float", "int", "long", "short"};

}  // namespace

const char* GlobalTypeName(GlobalType type) { return kGlobalTypeNames[static_cast<int>(type)]; }

bool GlobalTypeNamed(const std::string& name, GlobalType* type) {
  for (int i = 0; i < 7; i++)
    if (name == kGlobalTypeNames[i]) {
      *type = static_cast<GlobalType>(i);
      return true;
    }
  return false;
}

bool GlobalValueFits(GlobalType type, double v, std::string* problem) {
  auto integer = [&](double lo, double hi, const char* range) {
    if (v == std::floor(v) && v >= lo && v <= hi) return true;
    *problem = std::string("it must be an integer from ") + range;
    return false;
  };
  switch (type) {
    case GlobalType::kBool:
      if (v == 0 || v == 1) return true;
      *problem = "it must be true or false (1 or 0)";
      return false;
    case GlobalType::kChar: return integer(-128, 127, "-128 to 127 (or one character)");
    case GlobalType::kShort: return integer(-32768, 32767, "-32768 to 32767");
    case GlobalType::kInt:
    case GlobalType::kLong:
      return integer(-2147483648.0, 2147483647.0, "-2147483648 to 2147483647");
    case GlobalType::kFloat:
      if (std::isfinite(v) && std::fabs(v) <= std::numeric_limits<float>::max()) return true;
      *problem = "it must be a finite number within the range of float";
      return false;
    case GlobalType::kDouble:
      if (std::isfinite(v)) return true;
      *problem = "it must be a finite number";
      return false;
  }
  return true;
}

double GlobalValueStored(GlobalType type, double v) {
  return type == GlobalType::kFloat ? static_cast<double>(static_cast<float>(v)) : v;
}

std::string GlobalValueText(GlobalType type, double v) {
  char buffer[40];
  if (type == GlobalType::kChar) {
    const char c = static_cast<char>(static_cast<int>(v));
    if (std::isprint(static_cast<unsigned char>(c))) return std::string(1, c);
  }
  if (type == GlobalType::kFloat && !(v == std::floor(v) && std::fabs(v) < 1e15)) {
    const float f = static_cast<float>(v);
    for (int precision = 1; precision <= 9; precision++) {
      std::snprintf(buffer, sizeof buffer, "%.*g", precision, static_cast<double>(f));
      if (std::strtof(buffer, nullptr) == f) break;
    }
    return buffer;
  }
  // Whole numbers in full (100, not 1e+02).
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", v);
    return buffer;
  }
  for (int precision = 1; precision <= 17; precision++) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
    if (std::strtod(buffer, nullptr) == v) break;
  }
  return buffer;
}

bool ResolveNumbers(const ModelDescription& d, const std::vector<double>& globals,
                    ResolvedNumbers* out, std::string* problem, SourcePlace* at) {
  SymbolTable symbols;
  AddGlobalSymbols(d, globals.data(), true, &symbols);
  bool ok = true;
  // The value of a number field: its formula's under these globals, or the
  // number as given.
  auto value = [&](const ModelFormula& f, double given, const std::string& what) {
    if (f.text.empty() || !ok) return given;
    Expression e;
    ExpressionError error;
    if (!Expression::Compile(f.text, symbols, &e, &error)) {
      *problem = what + ": " + error.message;
      *at = f.at;
      ok = false;
      return given;
    }
    const double v = e.Evaluate();
    if (!std::isfinite(v)) {
      *problem = what + " is " + GlobalValueText(GlobalType::kDouble, v) +
                 "; it must be a finite number";
      *at = f.at;
      ok = false;
    }
    return v;
  };
  out->initial.assign(d.variables.size(), 0);
  out->payoff.assign(d.variables.size(), 0.0);
  for (size_t i = 0; i < d.variables.size() && ok; i++) {
    const VariableDescription& v = d.variables[i];
    const std::string owner = "of variable '" + v.name + "'";
    const double initial = value(v.initialFormula, v.initial, "'initial' " + owner);
    short s = 0;
    if (ok && Expression::ToShort(initial, &s) != Expression::ShortResult::kOk) {
      *problem = "'initial' " + owner + " is " + GlobalValueText(GlobalType::kDouble, initial) +
                 "; it must be an integer from -32768 to 32767";
      *at = v.initialFormula.at;
      ok = false;
    }
    out->initial[i] = s;
    if (v.kind == VariableKind::kGoal)
      out->payoff[i] = value(v.payoffFormula, v.payoff, "'payoff' " + owner);
  }
  const AdversaryDescription& a = d.adversary;
  AdversaryDescription& r = out->adversary;
  r = a;
  const std::string owner = " of [adversary]";
  r.costWeight = value(a.costWeightFormula, a.costWeight, "'cost_weight'" + owner);
  r.detectionWeight =
      value(a.detectionWeightFormula, a.detectionWeight, "'detection_weight'" + owner);
  r.payoffWeight = value(a.payoffWeightFormula, a.payoffWeight, "'payoff_weight'" + owner);
  r.costDiscount = value(a.costDiscountFormula, a.costDiscount, "'cost_discount'" + owner);
  r.payoffDiscount = value(a.payoffDiscountFormula, a.payoffDiscount, "'payoff_discount'" + owner);
  r.detectionDiscount =
      value(a.detectionDiscountFormula, a.detectionDiscount, "'detection_discount'" + owner);
  const double horizon =
      value(a.planningHorizonFormula, a.planningHorizon, "'planning_horizon'" + owner);
  if (ok && !(horizon == std::floor(horizon) && horizon >= 1 && horizon <= 50)) {
    *problem = "'planning_horizon'" + owner + " is " +
               GlobalValueText(GlobalType::kDouble, horizon) +
               "; it must be an integer from 1 to 50";
    *at = a.planningHorizonFormula.at;
    ok = false;
  }
  if (ok) r.planningHorizon = static_cast<int>(horizon);
  return ok;
}
