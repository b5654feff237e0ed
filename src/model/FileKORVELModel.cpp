#include "model/FileKORVELModel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/ScheduledPreselectGroup.h"
#include "distributions/DistributionDefinition.h"
#include "formalism/Access.h"
#include "formalism/Goal.h"
#include "formalism/Knowledge.h"
#include "formalism/Skill.h"
#include "formalism/StepChosen.h"
#include "formalism/StepWeight.h"
#include "rewards/PVModel.h"

namespace {

std::string NumberText(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// Whether every outcome of a decision has the same delay as written: the
// same distribution with the same parameter formulas.
bool OutcomesShareDelay(const DecisionDescription& decision) {
  const DelayDescription& first = decision.outcomes.front().delay;
  for (const OutcomeDescription& o : decision.outcomes) {
    if (o.delay.kind != first.kind || o.delay.parameters.size() != first.parameters.size())
      return false;
    for (size_t p = 0; p < first.parameters.size(); p++)
      if (o.delay.parameters[p].text != first.parameters[p].text) return false;
  }
  return true;
}

}  // namespace

// ---- steps ----------------------------------------------------------------

FileStep::FileStep(const std::string& name, int groupId, Distribution distribution) {
  commonInit(name.c_str(), groupId, distribution, DefaultExecutionPolicy, 0, 0, false);
}

void FileStep::LinkVariables() { chosenSV->registerPointer(&chosenValue_); }

double* FileStep::ReturnDistributionParameters() {
  for (size_t i = 0; i < delayParameters_.size(); i++)
    parameterValues_[i] = delayParameters_[i].Evaluate();
  return parameterValues_;
}

double FileStep::SampleDistribution() {
  const double* p = ReturnDistributionParameters();
  if (!delayConstant_) {
    std::string problem;
    if (!DelayParametersValid(delayKind_, p, &problem)) {
      owner_->Fault("the delay of step " + std::string(getName()) + " (" +
                    DelayKindName(delayKind_) + "): " + problem + ", in the state " +
                    owner_->DescribeState());
      return 0.0;
    }
  }
  UserDistributions* d = TheDistribution;
  switch (delayKind_) {
    case DelayKind::kDeterministic: return d->Deterministic(p[0]);
    case DelayKind::kExponential: return d->Exponential(p[0]);
    case DelayKind::kUniform: return d->Uniform(p[0], p[1]);
    case DelayKind::kErlang: return d->Erlang(p[0], p[1]);
    case DelayKind::kWeibull: return d->Weibull(p[0], p[1]);
    case DelayKind::kNormal: return d->Normal(p[0], p[1]);
    case DelayKind::kLognormal: return d->Lognormal(p[0], p[1]);
    case DelayKind::kGamma: return d->Gamma(p[0], p[1]);
    case DelayKind::kBeta: return d->Beta(p[0], p[1]);
    case DelayKind::kTriangular: return d->Triangular(p[0], p[1], p[2]);
    case DelayKind::kPareto: return d->Pareto(p[0], p[1]);
    case DelayKind::kGeometric: return d->Geometric(p[0]);
    case DelayKind::kBinomial: return d->Binomial(p[0], p[1]);
  }
  return 0.0;
}

void FileStep::executeEffects() {
  const size_t n = effects_.size();
  // All values first, in the state before the outcome; then the assignments.
  for (size_t i = 0; i < n; i++) {
    Effect& e = effects_[i];
    if (e.constant) {
      pending_[i] = e.constantValue;
      continue;
    }
    pending_[i] = **e.target;
    Expression::ShortResult r = e.value.EvaluateShort(&pending_[i]);
    if (r != Expression::ShortResult::kOk)
      owner_->Fault("an effect of step " + std::string(getName()) + ": value " +
                    NumberText(e.value.Evaluate()) + " " + Expression::Describe(r) +
                    " (effect '" + e.value.Text() + "'), in the state " + owner_->DescribeState());
  }
  for (size_t i = 0; i < n; i++) **effects_[i].target = pending_[i];
}

// ---- decisions ------------------------------------------------------------

FileDecision::FileDecision(const std::string& name, FileKORVELModel* owner, int index)
    : attack_flowDecision(name.c_str()), owner_(owner), index_(index) {}

BaseActionClass* FileDecision::Fire() {
  owner_->Firing(false);
  if (check_) owner_->CheckOutcomeProbabilities(index_);
  return attack_flowDecision::Fire();
}

BaseActionClass* FileStep::Fire() {
  if (owner_->Firing(true)) return Step::Fire();
  executeEffects();
  chosenSV->setMark(0);
  return this;
}

// ---- the model --------------------------------------------------------------

FileKORVELModel::FileKORVELModel(std::shared_ptr<const ModelDescription> description,
                                 FaultHandler onFault, const std::vector<double>& globals)
    : description_(std::move(description)), onFault_(std::move(onFault)) {
  const ModelDescription& d = *description_;
  const int numDecisions = static_cast<int>(d.decisions.size());
  const int numVariables = static_cast<int>(d.variables.size());
  if (globals.size() == d.globals.size()) {
    globals_ = globals;
  } else {
    for (const GlobalDescription& g : d.globals) globals_.push_back(g.value);
  }
  // The numbers that may be formulas of the globals: the loader checked
  // them under the defaults and every experiment, so only an override can
  // make them unusable.
  ResolvedNumbers numbers;
  if (!ResolveGlobals(&numbers)) {
    numbers.initial.clear();
    for (const VariableDescription& v : d.variables) {
      numbers.initial.push_back(v.initial);
      numbers.payoff.push_back(v.payoff);
    }
    numbers.adversary = d.adversary;
  }

  // The steps, decision by decision, then the decisions, then the groups:
  // the order in which the compiled models make them (it fixes the actions'
  // identifiers).
  for (int i = 0; i < numDecisions; i++) {
    const DecisionDescription& dd = d.decisions[i];
    for (const OutcomeDescription& o : dd.outcomes) {
      Distribution kind =
          o.delay.kind == DelayKind::kDeterministic ? DeterministicDistribution : DefaultDistribution;
      auto* s = new FileStep(dd.name + o.name + "Step", i, kind);
      owned_.emplace_back(s);
      steps_.push_back(s);
    }
  }
  for (int i = 0; i < numDecisions; i++) {
    auto* decision = new FileDecision(d.decisions[i].name + "AdversaryDecision", this, i);
    decision->setGroupId(numDecisions);
    owned_.emplace_back(decision);
    decisions_.push_back(decision);
  }
  // Outcomes that share one delay are drawn when the decision's delay ends
  // (the same distribution of results as drawing first, with no draw at
  // scheduling); outcomes with delays of their own are drawn when the
  // decision is taken, so that the outcome drawn happens after its own delay.
  std::vector<BaseGroupClass*> outcomeGroups;
  for (const DecisionDescription& dd : d.decisions) {
    if (dd.outcomes.size() < 2) continue;
    BaseGroupClass* g = nullptr;
    if (OutcomesShareDelay(dd))
      g = new TypedPostselectGroup<FileStep>();
    else
      g = new ScheduledPreselectGroup();
    owned_.emplace_back(g);
    outcomeGroups.push_back(g);
  }
  auto* decisionGroup = new attack_flowDecisionGroup();
  owned_.emplace_back(decisionGroup);
  for (FileStep* s : steps_) {
    s->model = this;
    s->owner_ = this;
  }
  for (FileDecision* decision : decisions_) decision->model = this;

  std::vector<BaseGroupClass*> groups;
  size_t nextGroup = 0;
  size_t firstStep = 0;
  std::vector<size_t> firstStepOf;
  for (const DecisionDescription& dd : d.decisions) {
    firstStepOf.push_back(firstStep);
    if (dd.outcomes.size() < 2) {
      groups.push_back(steps_[firstStep]);
    } else {
      BaseGroupClass* g = outcomeGroups[nextGroup++];
      g->initialize(static_cast<int>(dd.outcomes.size()), (dd.name + "Group").c_str());
      for (size_t o = 0; o < dd.outcomes.size(); o++) g->appendGroup(steps_[firstStep + o]);
      groups.push_back(g);
    }
    firstStep += dd.outcomes.size();
  }
  decisionGroup->initialize(numDecisions, "AdversaryDecisionGroup");
  for (FileDecision* decision : decisions_) decisionGroup->appendGroup(decision);
  groups.push_back(decisionGroup);

  // The variables: the model's own, then the decision bookkeeping.
  std::vector<Goal*> goalList;
  for (const VariableDescription& v : d.variables) {
    KORVELStateVariable* sv = nullptr;
    const char* name = v.name.c_str();
    const short initial = numbers.initial[variables_.size()];
    switch (v.kind) {
      case VariableKind::kAccess: sv = new Access(name, initial); break;
      case VariableKind::kKnowledge: sv = new Knowledge(name, initial); break;
      case VariableKind::kSkill: sv = new Skill(name, initial); break;
      case VariableKind::kGoal: {
        auto* goal = new Goal(name, initial);
        goal->payoff = numbers.payoff[variables_.size()];
        goalList.push_back(goal);
        sv = goal;
        break;
      }
    }
    variables_.push_back(sv);
  }
  std::vector<StepChosen*> chosen;
  std::vector<StepWeight*> weights;
  for (const DecisionDescription& dd : d.decisions)
    chosen.push_back(new StepChosen((dd.name + "Chosen").c_str(), 0));
  for (const DecisionDescription& dd : d.decisions)
    weights.push_back(new StepWeight((dd.name + "Weight").c_str(), 0));
  auto* makeDecision = new BeginAdversaryDecision("MakeDecision", 0);
  beginAdversaryDecision = makeDecision;

  std::vector<KORVELStateVariable*> svs = variables_;
  svs.insert(svs.end(), chosen.begin(), chosen.end());
  svs.insert(svs.end(), weights.begin(), weights.end());
  svs.push_back(makeDecision);
  std::vector<BaseKORVELAction*> actions(decisions_.begin(), decisions_.end());
  actions.insert(actions.end(), steps_.begin(), steps_.end());
  std::vector<Step*> flatSteps(steps_.begin(), steps_.end());
  std::vector<int> stepsPerDecision;
  for (const DecisionDescription& dd : d.decisions)
    stepsPerDecision.push_back(static_cast<int>(dd.outcomes.size()));
  commonInit(d.name.c_str(), static_cast<int>(svs.size()), svs.data(),
             static_cast<int>(actions.size()), actions.data(), static_cast<int>(groups.size()),
             groups.data(), numDecisions, stepsPerDecision.data(), flatSteps.data(),
             static_cast<int>(goalList.size()), goalList.data());

  SetParameters(numbers);
  for (int i = 0; i < numDecisions; i++) {
    decisions_[i]->assignSVs(makeDecision, chosen[i], weights[i]);
    for (size_t o = 0; o < d.decisions[i].outcomes.size(); o++) {
      FileStep* s = steps_[firstStepOf[i] + o];
      s->weightSV = weights[i];
      s->chosenSV = chosen[i];
    }
  }

  std::vector<std::vector<KORVELStateVariable*>> affected(numDecisions), enabling(numDecisions);
  for (int i = 0; i < numDecisions; i++) {
    for (int v : d.decisions[i].affects) affected[i].push_back(variables_[v]);
    for (int v : d.decisions[i].enabledBy) enabling[i].push_back(variables_[v]);
  }
  AddDecisionArcs(std::vector<BaseKORVELAction*>(decisions_.begin(), decisions_.end()), affected,
                  enabling);
  for (BaseKORVELAction* action : actions) action->LinkVariables();

  // The formulas, compiled against the model's own variables.
  values_.reset(new short*[numVariables > 0 ? numVariables : 1]);
  for (int i = 0; i < numVariables; i++) variables_[i]->registerPointer(&values_[i]);
  firstStepOf_ = firstStepOf;
  CompileFormulas(numbers.initial);

  recalculateAdversaryDecisionWeights();
}

bool FileKORVELModel::ResolveGlobals(ResolvedNumbers* numbers) {
  std::string problem;
  SourcePlace at;
  if (ResolveNumbers(*description_, globals_, numbers, &problem, &at)) return true;
  Fault(problem);
  return false;
}

void FileKORVELModel::SetParameters(const ResolvedNumbers& numbers) {
  const AdversaryDescription& a = numbers.adversary;
  costWeight = a.costWeight;
  detectionWeight = a.detectionWeight;
  payoffWeight = a.payoffWeight;
  costDiscount = a.costDiscount;
  payoffDiscount = a.payoffDiscount;
  detectionDiscount = a.detectionDiscount;
  planningHorizon = a.planningHorizon;
  for (size_t i = 0; i < variables_.size(); i++)
    if (description_->variables[i].kind == VariableKind::kGoal)
      static_cast<Goal*>(variables_[i])->payoff = numbers.payoff[i];
}

void FileKORVELModel::SetGlobalValues(const std::vector<double>& values) {
  if (values.size() != globals_.size()) return;
  globals_ = values;
  ResolvedNumbers numbers;
  if (!ResolveGlobals(&numbers)) return;
  SetParameters(numbers);
  CompileFormulas(numbers.initial);
  ParametersChanged();
}

void FileKORVELModel::CompileFormulas(const std::vector<short>& initials) {
  const ModelDescription& d = *description_;
  const AdversaryDescription& a = d.adversary;
  const int numDecisions = static_cast<int>(d.decisions.size());
  // Globals (and skills) are constants of the model: folded into the
  // formulas, which then cost what formulas of numbers cost.
  SymbolTable symbols;
  AddVariableSymbols(d, values_.get(), &symbols, initials.data());
  AddGlobalSymbols(d, globals_.data(), true, &symbols);
  SymbolTable utility;
  utility.AddArgument("x", 0);
  AddGlobalSymbols(d, globals_.data(), true, &utility);
  CompileFormula(a.costUtility, utility, &costUtility_);
  CompileFormula(a.detectionUtility, utility, &detectionUtility_);
  CompileFormula(a.payoffUtility, utility, &payoffUtility_);
  decisionFormulas_.resize(numDecisions);
  for (int i = 0; i < numDecisions; i++) {
    const DecisionDescription& dd = d.decisions[i];
    CompileFormula(dd.precondition, symbols, &decisionFormulas_[i].precondition);
    CompileFormula(dd.cost, symbols, &decisionFormulas_[i].cost);
    // With globals, a value given by -O may make constant probabilities
    // unusable: the decision then checks them when taken.
    decisions_[i]->check_ = !d.globals.empty();
    for (size_t o = 0; o < dd.outcomes.size(); o++) {
      const OutcomeDescription& od = dd.outcomes[o];
      FileStep* s = steps_[firstStepOf_[i] + o];
      s->formulas_ = &decisionFormulas_[i];
      CompileFormula(od.probability, symbols, &s->probability_);
      CompileFormula(od.detection, symbols, &s->detection_);
      if (s->probability_.ReadsState()) decisions_[i]->check_ = true;
      s->effects_.resize(od.effects.size());
      s->pending_.resize(od.effects.size());
      for (size_t e = 0; e < od.effects.size(); e++) {
        FileStep::Effect& effect = s->effects_[e];
        effect.target = &values_[od.effects[e].variable];
        CompileFormula(od.effects[e].value, symbols, &effect.value);
        effect.constant = !effect.value.ReadsState() &&
                          effect.value.EvaluateShort(&effect.constantValue) ==
                              Expression::ShortResult::kOk;
      }
      s->delayKind_ = od.delay.kind;
      s->delayParameters_.resize(od.delay.parameters.size());
      s->delayConstant_ = true;
      for (size_t p = 0; p < od.delay.parameters.size(); p++) {
        CompileFormula(od.delay.parameters[p], symbols, &s->delayParameters_[p]);
        if (s->delayParameters_[p].ReadsState()) s->delayConstant_ = false;
      }
      // Constant parameters are checked once, here, not at every draw (the
      // loader checked them unless a value came from -O).
      std::string problem;
      if (s->delayConstant_ && !d.globals.empty() &&
          !DelayParametersValid(s->delayKind_, s->ReturnDistributionParameters(), &problem))
        Fault("the delay of step " + std::string(s->getName()) + " (" +
              DelayKindName(s->delayKind_) + "): " + problem);
    }
  }
  measures_.resize(d.measures.size());
  measureReads_.assign(d.measures.size(), {});
  for (size_t m = 0; m < d.measures.size(); m++) {
    CompileFormula(d.measures[m].value, symbols, &measures_[m]);
    // The nodes depend on the variables a measure reads, not the globals.
    for (const std::string& name : measures_[m].Reads()) {
      bool global = false;
      for (const GlobalDescription& g : d.globals) global = global || g.name == name;
      if (!global) measureReads_[m].push_back(name);
    }
  }
  impulses_.resize(d.measures.size());
  for (size_t m = 0; m < d.measures.size(); m++) {
    impulses_[m].resize(d.measures[m].impulses.size());
    for (size_t i = 0; i < d.measures[m].impulses.size(); i++)
      CompileFormula(d.measures[m].impulses[i].value, symbols, &impulses_[m][i]);
  }
}

FileKORVELModel::~FileKORVELModel() = default;

void FileKORVELModel::CompileFormula(const ModelFormula& f, const SymbolTable& symbols,
                                     Expression* out) {
  ExpressionError e;
  if (!Expression::Compile(f.text, symbols, out, &e))
    Fault("the formula '" + f.text + "' does not compile: " + e.message);
}

void FileKORVELModel::Fault(const std::string& message) {
  if (faulted_) return;
  faulted_ = true;
  std::string text = "ERROR: model " + description_->name + ": " + message;
  if (onFault_) {
    onFault_(text);
    return;
  }
  std::cout.flush();
  std::cerr << text << std::endl;
  std::exit(1);
}

bool FileKORVELModel::Firing(bool step) {
  if (!runs_) return !faulted_;
  // The first firing of a replication finds no firing before it.
  if (runs_->LastFiredAction == &runs_->NoActionFiredYet) stepsThisReplication_ = 0;
  if (step && ++stepsThisReplication_ > kMostStepsPerReplication)
    Fault("a replication took more than " + std::to_string(kMostStepsPerReplication) +
          " steps, the last at time " + NumberText(runs_->LastActionTime) +
          " of a run to time " + NumberText(runs_->getMaxStopTime()) +
          " (steps without delay that repeat, or delays far too short for the measures' "
          "times), in the state " + DescribeState());
  return !faulted_;
}

void FileKORVELModel::recalculateAdversaryDecisionWeights(int mode) {
  BeginSearch();
  KORVELModel::recalculateAdversaryDecisionWeights(mode);
}

bool FileKORVELModel::LookaheadFault() {
  Fault("the look-ahead of one decision evaluated more than " +
        std::to_string(lookaheadLimit()) + " states (planning horizon " +
        std::to_string(planningHorizon) + " over " + std::to_string(numDecisions) +
        " decisions); a shorter horizon, or fewer decisions that change the state, keep "
        "it smaller, and 'lookahead_limit' of [adversary] lets it search further");
  return true;
}

std::string FileKORVELModel::DescribeState() const {
  std::string out;
  for (size_t i = 0; i < variables_.size(); i++) {
    if (i > 0) out += ", ";
    out += description_->variables[i].name + "=" + std::to_string(variables_[i]->getMark());
  }
  return out;
}

void FileKORVELModel::CheckOutcomeProbabilities(int d) {
  const int n = getStepsPerDecision(d);
  double sum = 0.0;
  bool ok = true;
  for (int o = 0; o < n; o++) {
    double p = getStep(d, o)->getOutcomeProbability();
    if (!std::isfinite(p) || p < 0) ok = false;
    sum += p;
  }
  if (ok && sum > 0) return;
  std::string list;
  for (int o = 0; o < n; o++)
    list += (o ? ", " : "") + description_->decisions[d].outcomes[o].name + " " +
            NumberText(getStep(d, o)->getOutcomeProbability());
  Fault("decision " + description_->decisions[d].name + " was taken with outcome probabilities " +
        list + " (they must be finite, not negative and of positive sum), in the state " +
        DescribeState());
}
