// ModelDescription: an attack model as plain data (variables, decisions with
// their outcomes, the adversary's parameters and the measures), as a model
// file describes it. Filled and checked by LoadModelFile; FileKORVELModel,
// FilePVModel and FileStudy build the runnable model from it.
#ifndef TARVEX_MODEL_MODELDESCRIPTION_H
#define TARVEX_MODEL_MODELDESCRIPTION_H

#include <string>
#include <vector>

// Where a piece of a model file begins (1-based; 0 when it has no place in a
// file, e.g. a default).
struct SourcePlace {
  int line = 0;
  int column = 0;
};

// A formula of the model: its text in the expression language and where
// that text begins in the file.
struct ModelFormula {
  std::string text;
  SourcePlace at;
};

enum class VariableKind { kAccess, kKnowledge, kSkill, kGoal };

struct VariableDescription {
  std::string name;
  VariableKind kind = VariableKind::kKnowledge;
  short initial = 0;
  double payoff = 0.0;  // goals only
  SourcePlace at;
};

// The delay families of an outcome; each takes its parameters in the order
// of DelayParameterNames.
enum class DelayKind {
  kDeterministic,
  kExponential,
  kUniform,
  kErlang,
  kWeibull,
  kNormal,
  kLognormal,
  kGamma,
  kBeta,
  kTriangular,
  kPareto,
  kGeometric,
  kBinomial,
};

struct DelayDescription {
  DelayKind kind = DelayKind::kDeterministic;
  std::vector<ModelFormula> parameters;
  SourcePlace at;
};

// One assignment of an outcome: variable := value (all values of an outcome
// are computed in the state before any of them is assigned).
struct EffectDescription {
  int variable = 0;  // index into ModelDescription::variables
  ModelFormula value;
};

struct OutcomeDescription {
  std::string name;
  ModelFormula probability;
  ModelFormula detection;
  std::vector<EffectDescription> effects;
  DelayDescription delay;
  SourcePlace at;
};

struct DecisionDescription {
  std::string name;
  ModelFormula precondition;
  ModelFormula cost;
  std::vector<OutcomeDescription> outcomes;
  // The variables the decision's steps affect beyond the decision
  // bookkeeping, and those that further enable them (indices into
  // ModelDescription::variables), as given or derived by the loader.
  std::vector<int> affects;
  std::vector<int> enabledBy;
  SourcePlace at;
};

struct AdversaryDescription {
  double costWeight = 0.0;
  double detectionWeight = 0.0;
  double payoffWeight = 0.0;
  double costDiscount = 1.0;
  double payoffDiscount = 1.0;
  double detectionDiscount = 1.0;
  int planningHorizon = 1;
  // Functions of x.
  ModelFormula costUtility;
  ModelFormula detectionUtility;
  ModelFormula payoffUtility;
};

// An impulse reward of a measure: `value`, evaluated in the state right
// after the firing, is earned each time the decision is taken (outcome -1)
// or its outcome happens.
struct ImpulseDescription {
  int decision = 0;  // index into ModelDescription::decisions
  int outcome = -1;  // index into that decision's outcomes; -1: the decision
  ModelFormula value;
  SourcePlace at;
};

// A performance variable. Observed at instants of time: the value of its
// formula in the state in force at each instant (`times`). Accumulated over
// intervals of time [start, end] for each end in `times`: the formula
// integrated over the interval plus the impulses earned by firings in it.
struct MeasureDescription {
  std::string name;
  ModelFormula value;
  bool interval = false;
  double start = 0.0;         // interval measures only
  std::vector<double> times;  // the instants, or the ends of the intervals
  std::vector<ImpulseDescription> impulses;
  SourcePlace at;
};

struct ModelDescription {
  std::string path;  // the file it came from
  std::string name;  // the atomic model's name
  std::string description;
  AdversaryDescription adversary;
  std::vector<VariableDescription> variables;
  std::vector<DecisionDescription> decisions;
  std::vector<MeasureDescription> measures;

  int numSteps() const {
    int n = 0;
    for (const DecisionDescription& d : decisions) n += static_cast<int>(d.outcomes.size());
    return n;
  }
  int numNodes() const {
    int n = 0;
    for (const MeasureDescription& m : measures) n += static_cast<int>(m.times.size());
    return n;
  }
};

// The names of a delay family's parameters, in order (e.g. "lower",
// "upper" for kUniform), and the family's name in files.
const std::vector<std::string>& DelayParameterNames(DelayKind kind);
const char* DelayKindName(DelayKind kind);
// The family of a name used in files; false when there is none.
bool DelayKindNamed(const std::string& name, DelayKind* kind);
// Whether the parameters (as many as the family has) give a delay that is
// finite and never negative; otherwise false with the reason in *problem.
bool DelayParametersValid(DelayKind kind, const double* p, std::string* problem);

class SymbolTable;
// Adds the model's variables to symbols: a skill (constant in every run)
// as a constant of its initial value, any other variable i as the state
// variable whose value is *values[i].
void AddVariableSymbols(const ModelDescription& d, short* const* values, SymbolTable* symbols);

#endif
