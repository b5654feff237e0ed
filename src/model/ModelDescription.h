// ModelDescription: an attack model as plain data (variables, decisions with
// their outcomes, the adversary's parameters and the measures), as a model
// file describes it. Filled and checked by LoadModelFile; FileKORVELModel,
// FilePVModel and FileStudy build the runnable model from it.
#ifndef TARVEX_MODEL_MODELDESCRIPTION_H
#define TARVEX_MODEL_MODELDESCRIPTION_H

#include <cstdint>
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
  // Given as formulas of the global variables (empty text: the number
  // above); `initial` and `payoff` then hold their values under the defaults.
  ModelFormula initialFormula;
  ModelFormula payoffFormula;
  SourcePlace at;
};

// The C types a global variable may have; the first letter of each name is
// the variable's type letter in override texts.
enum class GlobalType { kBool, kChar, kDouble, kFloat, kInt, kLong, kShort };

// A global variable: a parameter of the model that a study sets per
// experiment. Every value is kept as the double the type's value converts
// to exactly (a float as its float rounding, a char as its code).
struct GlobalDescription {
  std::string name;
  GlobalType type = GlobalType::kDouble;
  double value = 0.0;  // the default
  std::string description;
  SourcePlace at;
};

// One experiment of the model's study: its name and a value per global
// variable, in declaration order.
struct ExperimentDescription {
  std::string name;
  std::vector<double> values;
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

// The default bound on the states one decision's look-ahead may evaluate:
// about a second of search (the largest synthetic benchmark evaluates 75,560),
// where a long horizon over many decisions that keep changing the state
// could otherwise ask for hours. A model may set its own.
const int64_t kDefaultLookaheadLimit = 200000;

struct AdversaryDescription {
  double costWeight = 0.0;
  double detectionWeight = 0.0;
  double payoffWeight = 0.0;
  double costDiscount = 1.0;
  double payoffDiscount = 1.0;
  double detectionDiscount = 1.0;
  int planningHorizon = 1;
  // The most states one decision's look-ahead may evaluate before the model
  // faults ('lookahead_limit').
  int64_t lookaheadLimit = kDefaultLookaheadLimit;
  // The numbers above given as formulas of the global variables, in the
  // order of the fields (empty text: the number as it is).
  ModelFormula costWeightFormula;
  ModelFormula detectionWeightFormula;
  ModelFormula payoffWeightFormula;
  ModelFormula costDiscountFormula;
  ModelFormula payoffDiscountFormula;
  ModelFormula detectionDiscountFormula;
  ModelFormula planningHorizonFormula;
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
  std::vector<GlobalDescription> globals;
  // The study's experiments; empty: one experiment, of the defaults.
  std::vector<ExperimentDescription> experiments;

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

// "bool", "char", "double", "float", "int", "long", "short".
const char* GlobalTypeName(GlobalType type);
bool GlobalTypeNamed(const std::string& name, GlobalType* type);
// Whether v is a value of the type (bool: 0 or 1; char, short, int, long:
// an integer of 8, 16, 32, 32 bits; float, double: finite and, for float,
// within its range); otherwise false with the reason in *problem.
bool GlobalValueFits(GlobalType type, double v, std::string* problem);
// v as a variable of the type holds it (a float rounded to float).
double GlobalValueStored(GlobalType type, double v);
// The shortest text that reads back as v (a char as its character, a whole
// number below 1e15 in full).
std::string GlobalValueText(GlobalType type, double v);

// The numbers of a model that may be formulas of its global variables,
// worked out for one set of global values.
struct ResolvedNumbers {
  std::vector<short> initial;   // per variable
  std::vector<double> payoff;   // per variable (0 for non-goals)
  AdversaryDescription adversary;  // the weights, discounts and horizon
};
// Evaluates those numbers for globals (one value per global variable, in
// order). On a value out of its field's range returns false with the field
// and the reason in *problem (e.g. "'planning_horizon' of [adversary] is 0;
// it must be an integer from 1 to 50") and its place in *at.
bool ResolveNumbers(const ModelDescription& d, const std::vector<double>& globals,
                    ResolvedNumbers* out, std::string* problem, SourcePlace* at);

class SymbolTable;
// Adds the model's variables to symbols: a skill (constant in every run)
// as a constant of its initial value (initials[i], or the description's
// when null), any other variable i as the state variable whose value is
// *values[i].
void AddVariableSymbols(const ModelDescription& d, short* const* values, SymbolTable* symbols,
                        const short* initials = nullptr);
// Adds the global variables: as constants of values[i] (folded into the
// expressions) when fold, else read as values[i] at every evaluation.
void AddGlobalSymbols(const ModelDescription& d, const double* values, bool fold,
                      SymbolTable* symbols);

#endif
