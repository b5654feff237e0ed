// FileKORVELModel: an atomic model of the attack-decision formalism built at
// run time from a ModelDescription. It has the parts a compiled model has,
// in the same order and with the same names (decisions "<D>AdversaryDecision",
// steps "<D><O>Step", groups "<D>Group" and "AdversaryDecisionGroup",
// bookkeeping variables "<D>Chosen", "<D>Weight" and "MakeDecision"), and
// its expressions are compiled once, so that it runs as a compiled model
// does, result for result.
#ifndef TARVEX_MODEL_FILEKORVELMODEL_H
#define TARVEX_MODEL_FILEKORVELMODEL_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TypedPostselectGroup.h"
#include "formalism/KORVELModel.h"
#include "formalism/Step.h"
#include "model/Expression.h"
#include "model/ModelDescription.h"
#include "model/attack_flowKORVEL.h"

class FileKORVELModel;

// What a decision's steps share: its precondition and cost.
struct FileDecisionFormulas {
  Expression precondition;
  Expression cost;
};

// An outcome step of a file model. The operations the groups and the driver
// call at every firing are final, so that the outcome groups call them
// directly.
class FileStep : public Step {
 public:
  FileStep(const std::string& name, int groupId, Distribution distribution);

  bool Enabled() final {
    wasEnabled = enabled;
    enabled = *chosenValue_ > 0;
    return enabled;
  }
  double Weight() final { return probability_.Evaluate(); }
  int Rank() final { return 1; }
  bool ReactivationPredicate() final { return false; }
  bool ReactivationFunction() final { return false; }
  // Draws the delay; a delay that is negative or not finite (from
  // state-dependent parameters) is reported as a model fault and taken as 0.
  double SampleDistribution() final;
  bool EnablingChange() final { return BaseKORVELAction::EnablingChange(); }
  bool SelectAction() final { return BaseKORVELAction::SelectAction(); }
  // The delay's parameters in the current state.
  double* ReturnDistributionParameters() override;
  void LinkVariables() override;

  // False, whatever the state, once the look-ahead has gone beyond its
  // bound (which ends the search).
  inline bool preconditionsMet() override;
  double getCost() override { return formulas_->cost.Evaluate(); }
  double getOutcomeProbability() override { return probability_.Evaluate(); }
  double getDetection() override { return detection_.Evaluate(); }
  // Computes every effect's value in the current state, then assigns them.
  void executeEffects() override;
  // Fires as a step does, but in a faulted model takes no further decision,
  // so that nothing is enabled any more and the replication ends.
  BaseActionClass* Fire() override;

 private:
  friend class FileKORVELModel;

  struct Effect {
    short* const* target = nullptr;
    Expression value;
    bool constant = false;
    short constantValue = 0;
  };

  FileKORVELModel* owner_ = nullptr;
  const FileDecisionFormulas* formulas_ = nullptr;
  Expression probability_;
  Expression detection_;
  std::vector<Effect> effects_;
  std::vector<short> pending_;
  DelayKind delayKind_ = DelayKind::kDeterministic;
  std::vector<Expression> delayParameters_;
  bool delayConstant_ = true;
  double parameterValues_[3] = {0.0, 0.0, 0.0};
  short* chosenValue_ = nullptr;
};

// A decision of a file model: the compiled model's decision, which checks,
// when it is taken, that its outcome probabilities can be drawn from.
class FileDecision : public attack_flowDecision {
 public:
  FileDecision(const std::string& name, FileKORVELModel* owner, int index);
  BaseActionClass* Fire() override;

 private:
  friend class FileKORVELModel;
  FileKORVELModel* owner_;
  int index_;
  bool check_ = false;
};

class PVModel;

class FileKORVELModel : public KORVELModel {
 public:
  // Receives the message of a fault found while the model runs.
  using FaultHandler = std::function<void(const std::string&)>;
  // The most steps one replication of a run may take: more is a fault (steps
  // without delay that repeat, or delays far too short for the measures'
  // times), so that such a model ends its run instead of running for ever.
  static const int64_t kMostStepsPerReplication = 100000;

  // Builds the model of a description that LoadModelFile accepted, under
  // the given values of its global variables (one per global; otherwise the
  // defaults), and makes the first decision. Faults go to onFault; without
  // one, a fault is written to standard error and ends the program with
  // exit status 1.
  explicit FileKORVELModel(std::shared_ptr<const ModelDescription> description,
                           FaultHandler onFault = nullptr,
                           const std::vector<double>& globals = {});

  // Takes other values of the global variables (one per global): every
  // formula, weight, payoff and the horizon follow them, and the look-ahead
  // forgets what it decided under the old ones. The state variables keep
  // their values; initial values given by globals apply to models built
  // afterwards.
  void SetGlobalValues(const std::vector<double>& values);
  // The values of the global variables in force.
  const std::vector<double>& globalValues() const { return globals_; }
  ~FileKORVELModel() override;

  double convertCostToUtility(double x) override { return costUtility_.Evaluate(&x); }
  double convertPayoffToUtility(double x) override { return payoffUtility_.Evaluate(&x); }
  double convertDetectionToUtility(double x) override { return detectionUtility_.Evaluate(&x); }

  // The value of measure k (in description order) in the current state.
  double MeasureValue(int k) const { return measures_[k].Evaluate(); }
  // The variables measure k's value names, in order of appearance.
  const std::vector<std::string>& MeasureReads(int k) const { return measureReads_[k]; }

  // The value of impulse i of measure k in the current state.
  double ImpulseValue(int k, int i) const { return impulses_[k][i].Evaluate(); }

  // Reports a fault of the running model (the first one only).
  void Fault(const std::string& message);
  // The reward model whose runs fire this model's actions (FilePVModel sets
  // it): it tells when a replication starts and the time of each firing, so
  // that the steps of each replication are counted.
  void WatchRuns(const PVModel* runs) { runs_ = runs; }
  // Called as an action of the model fires: counts the replication's steps
  // (step: a step, not a decision); false once the model has faulted.
  bool Firing(bool step);
  // Decides as a model does, counting the states the look-ahead evaluates
  // from the start of this decision.
  using KORVELModel::recalculateAdversaryDecisionWeights;
  void recalculateAdversaryDecisionWeights(int mode) override;
  // The look-ahead searches that follow count their states from here.
  void BeginSearch() { searchStart_ = memoisedEvaluations(); }
  // Whether the model has faulted, or the search begun last has evaluated
  // more states than the adversary's 'lookahead_limit' (a long horizon over
  // many decisions that keep changing the state): a fault, reported once,
  // so that a decision takes seconds instead of hours.
  bool SearchTooLarge() {
    return faulted_ ||
           (memoisedEvaluations() - searchStart_ > lookaheadLimit() && LookaheadFault());
  }
  // The most states one decision's look-ahead may evaluate.
  uint64_t lookaheadLimit() const {
    return static_cast<uint64_t>(description_->adversary.lookaheadLimit);
  }
  // "NAME=value, ..." over the model's own variables.
  std::string DescribeState() const;
  // Checks that the outcome probabilities of decision d are finite, not
  // negative and of positive sum in the current state; reports a fault
  // otherwise.
  void CheckOutcomeProbabilities(int d);

  const ModelDescription& description() const { return *description_; }
  int numGroups() const { return NumGroups; }
  int numActions() const { return NumActions; }

 private:
  // Compiles a checked formula; a failure (which the loader rules out) is a
  // fault.
  void CompileFormula(const ModelFormula& f, const SymbolTable& symbols, Expression* out);
  // Compiles every formula with the globals in force folded in as
  // constants, and skills at the given initial values.
  void CompileFormulas(const std::vector<short>& initials);
  // Reports the look-ahead that went beyond its bound; true.
  bool LookaheadFault();
  // The numbers the globals in force give; a fault when one is unusable.
  bool ResolveGlobals(ResolvedNumbers* numbers);
  // Takes the weights, discounts, horizon and goal payoffs.
  void SetParameters(const ResolvedNumbers& numbers);

  std::shared_ptr<const ModelDescription> description_;
  FaultHandler onFault_;
  bool faulted_ = false;
  const PVModel* runs_ = nullptr;
  int64_t stepsThisReplication_ = 0;
  uint64_t searchStart_ = 0;
  // One pointer per model variable, kept pointing at its value: what the
  // expressions read and the effects write.
  std::unique_ptr<short*[]> values_;
  std::vector<KORVELStateVariable*> variables_;
  std::vector<FileDecisionFormulas> decisionFormulas_;
  std::vector<Expression> measures_;
  std::vector<std::vector<std::string>> measureReads_;  // variables only
  std::vector<double> globals_;
  std::vector<size_t> firstStepOf_;  // per decision, its first step in steps_
  std::vector<std::vector<Expression>> impulses_;  // per measure
  Expression costUtility_;
  Expression detectionUtility_;
  Expression payoffUtility_;
  std::vector<FileStep*> steps_;
  std::vector<FileDecision*> decisions_;
  std::vector<std::unique_ptr<BaseGroupClass>> owned_;
};

bool FileStep::preconditionsMet() {
  return !owner_->SearchTooLarge() && formulas_->precondition.Evaluate() != 0.0;
}

#endif
