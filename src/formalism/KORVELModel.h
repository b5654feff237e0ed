// KORVELModel: the base of every atomic model written in the attack-decision
// formalism. It supplies what the driver needs of an atomic model (variables,
// actions, groups, a byte image of the state, saved local states) and what
// the adversary's look-ahead needs (decisions with their outcome steps, goals,
// decision parameters and three utility functions).
//
// Everything the look-ahead remembers (the decisions taken at each state
// image, the guesses of the state a step leads to, the state tree of modes
// 0 to 2) belongs to the model instance: models in one process never see
// each other's decisions. That memory holds only while the values the
// look-ahead reads stay as they were; see ParametersChanged().
#ifndef TARVEX_FORMALISM_KORVELMODEL_H
#define TARVEX_FORMALISM_KORVELMODEL_H

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/BaseModelClass.h"
#include "formalism/DecisionCache.h"
#include "formalism/BeginAdversaryDecision.h"
#include "formalism/ExploreNode.h"
#include "formalism/Goal.h"
#include "formalism/KORVELStateVariable.h"
#include "formalism/LookaheadMemo.h"
#include "formalism/Step.h"

class BaseKORVELAction;

class KORVELModel : public BaseModelClass {
 public:
  // Saved local state: a copy of the model's state image.
  class LocalState : public State {
   public:
    explicit LocalState(KORVELModel* model);
    explicit LocalState(int size);
    int hash() override;
    // Byte-wise comparison with memcmp's sign convention: -1, 0 or 1
    // (so the result converts to true when the states differ).
    bool compare(const State& other) const override { return compareBytes(other) != 0; }
    int compareBytes(const State& other) const;
    void print() override;
    // Both return true on failure (a short write or read, or a stored size
    // that does not match this state's size).
    bool fwriteState(FILE* f) override;
    bool freadState(FILE* f) override;
    State& operator=(const State& other) override;
    ~LocalState() override = default;
    void SetState(const BaseModelClass* model) override;
    void GetState(const BaseModelClass* model) override;
    char* GetStatePtr() { return buffer.get(); }
    int getSize() const { return size; }

   private:
    std::unique_ptr<char[]> buffer;
    int size;
  };

  KORVELModel() = default;
  KORVELModel(const char* name, int numSVs, KORVELStateVariable** svs, int numActions,
              BaseKORVELAction** actions, int numGroups, BaseGroupClass** groups, int numDecisions,
              const int* stepsPerDecision, Step** steps, int numGoals, Goal** goals);
  ~KORVELModel() override;

  void commonInit(const char* name, int numSVs, KORVELStateVariable** svs, int numActions,
                  BaseKORVELAction** actions, int numGroups, BaseGroupClass** groups,
                  int numDecisions, const int* stepsPerDecision, Step** steps, int numGoals,
                  Goal** goals);
  void setSVs(KORVELStateVariable** svs);
  void setGoals(Goal** goals);
  void setActions(BaseKORVELAction** actions);
  void setGroups(BaseGroupClass** groups);
  void setSteps(Step** steps);

  void listModels(const char* name, List<BaseModelClass>* out) override;
  void CurrentState(void* buffer) override { CaptureImage(static_cast<char*>(buffer)); }
  // Writes the state image and returns its length in bytes (at most
  // ImageBound()).
  int CaptureImage(char* out) {
    if (imageVersion_ != BaseStateVariableClass::LayoutVersion) RebuildImageLayout();
    int n = static_cast<int>(imageValues_.size() * sizeof(short));
    if (imageBlock_) {
      std::memcpy(out, imageBlock_, n);
      return n;
    }
    char* p = out;
    for (const short* v : imageValues_) {
      std::memcpy(p, v, sizeof(short));
      p += sizeof(short);
    }
    return n;
  }
  // The image where the values live side by side (no copy needed), with its
  // length; null when they do not.
  const char* ImageInPlace(int* length) {
    if (imageVersion_ != BaseStateVariableClass::LayoutVersion) RebuildImageLayout();
    *length = static_cast<int>(imageValues_.size() * sizeof(short));
    return reinterpret_cast<const char*>(imageBlock_);
  }
  // An upper bound of the image length: every formalism variable's image
  // is one short.
  int ImageBound() const { return static_cast<int>(sizeof(short) * stateVariables.size()); }
  void listActions(List<BaseActionClass>* out) override;
  void listGroups(List<BaseGroupClass>* out) override;
  void SetState(void* buffer) override;
  int StateSize() override;
  bool CompareState(void* a, void* b) override;
  void listActions(const char* name, List<BaseActionClass>* out) override;
  void listSVs(const char* modelName, const char* svName, List<BaseStateVariableClass>* out,
               List<BaseModelClass>* models) override;
  void printState(std::ostream* os) override;
  using BaseModelClass::printState;
  BaseStateVariableClass** GetLocalStateVariables(std::ostream* os) override;
  int GetModelType() override { return 1; }
  int GetNumberOfChildren() override { return 0; }
  BaseModelClass* GetChild(int i) override;
  void GetLocalActions(slist& out) override;
  void GetGlobalActions(slist& out) override;
  bool HasLocalState() override { return StateSize() > 0; }
  void GetLocalState(State* s) override;
  void SetLocalState(const State* s) override;
  void ConstructLocalState(State*& s) override;
  void DestructLocalState(State* s) override { delete s; }

  // Decides the adversary's next move and marks it (see the look-ahead).
  // Mode 3, the cached exhaustive search, is what models use.
  virtual void recalculateAdversaryDecisionWeights() { recalculateAdversaryDecisionWeights(3); }
  virtual void recalculateAdversaryDecisionWeights(int mode);
  virtual double convertCostToUtility(double cost) = 0;
  virtual double convertPayoffToUtility(double payoff) = 0;
  virtual double convertDetectionToUtility(double detection) = 0;

  // Sum of the payoffs of the goals whose value is exactly 1.
  double calculatePayoff();
  // costWeight x cost utility + detectionWeight x detection utility +
  // payoffWeight x payoff utility.
  double attractiveness(double cost, double detection, double payoff);

  // Exhaustive evaluation of the decisions feasible in the current state.
  void exploreStateSpace(int horizon, Step** best, double* payoff, double* cost, double* detection);
  // The same evaluation and outputs, bit for bit, with each (state image,
  // remaining horizon) evaluated once: values are remembered within and
  // across decisions until ParametersChanged() (see LookaheadMemo).
  void exploreStateSpaceMemoised(int horizon, Step** best, double* payoff, double* cost,
                                 double* detection);
  // The number of outcomes exploreStateSpace(horizon, ...) evaluates from the
  // current state (each a node of its search tree), counted without the
  // search; saturates at the largest uint64_t.
  uint64_t countSearchNodes(int horizon);
  // The memo of continuation values, and the number of (image, horizon)
  // values the memoised search has computed since the model was built.
  LookaheadMemo& lookaheadMemo() { return memo_; }
  uint64_t memoisedEvaluations() const { return memoEvaluations_; }
  void buildStateTree(ExploreNode* node, int horizon);
  void traverseStateTree(ExploreNode* node, int horizon);
  void buildStateTreeNoAttractCalc(ExploreNode* node, int horizon);
  void computePathAttractivenessBounds(int horizon);
  void computeBounds(ExploreNode* node, int depth, int decision);
  void useBoundsToDecide(int horizon);
  // Marks the chosen decision (reports a state where none is feasible).
  void markDecision(Step* chosen);
  // Told by an outcome step just before it asks for the next decision: the
  // state it leaves is usually the one it left the last time it fired after
  // the same decision, which the look-ahead then recognises without a
  // look-up.
  void StepFired(const Step* step) { firedStep_ = step; }
  // Forgets every decision this model's look-ahead remembers: the cached
  // decisions, the memo of continuation values, the guesses of the state a
  // step leads to and the state tree.
  // REQUIRES: called after any change to a value the look-ahead reads (the
  // weights, discounts and horizon above, goal payoffs, a step's cost,
  // detection or outcome probability, the utility functions...); decisions
  // remembered from before would otherwise be taken again as they were.
  void ParametersChanged();
  // The look-ahead's cache: state image -> index of the decision taken there
  // (-1 where no decision was feasible). For inspection.
  const DecisionCache& decisionCache() const { return cache_; }
  // The root of the state tree of the last decision made in modes 0 to 2
  // (the state it was made in); null before any.
  ExploreNode* lookaheadRoot() const { return root_.get(); }

  int getNumDecisions() const { return numDecisions; }
  int getStepsPerDecision(int d) const { return stepsPerDecision[d]; }
  Step* getStep(int d, int o) const { return decisionSteps[d][o]; }
  int getNumGoals() const { return numGoals; }
  Goal* getGoal(int i) const { return goals[i]; }
  KORVELStateVariable* getStateVariable(int i) const { return stateVariables[i]; }
  BeginAdversaryDecision* getBeginAdversaryDecision() const { return beginAdversaryDecision; }

  double costWeight = 0.0;
  double detectionWeight = 0.0;
  double payoffWeight = 0.0;
  double costDiscount = 1.0;
  double payoffDiscount = 1.0;
  double detectionDiscount = 1.0;
  int planningHorizon = 1;

 protected:
  // Declares the formalism's dependency arcs, in the order the connectivity
  // lists (and so the order of random draws) follow. Affect arcs first: each
  // decision in order affects beginAdversaryDecision, its StepChosen and its
  // StepWeight; then each step of each decision affects
  // beginAdversaryDecision, its decision's StepChosen, every StepWeight in
  // decision order and the decision's furtherAffected variables. Then the
  // enable arcs: each decision is enabled by beginAdversaryDecision, each
  // step by its decision's StepChosen and the decision's furtherEnabling
  // variables. decisions[d] is the action of decision d.
  // REQUIRES: commonInit done, every decision has a step, and every step
  // knows its weightSV and chosenSV.
  void AddDecisionArcs(const std::vector<BaseKORVELAction*>& decisions,
                       const std::vector<std::vector<KORVELStateVariable*>>& furtherAffected,
                       const std::vector<std::vector<KORVELStateVariable*>>& furtherEnabling);

  std::vector<std::vector<Step*>> decisionSteps;
  std::vector<Goal*> goals;
  int numGoals = 0;
  int numDecisions = 0;
  std::vector<int> stepsPerDecision;
  std::vector<KORVELStateVariable*> stateVariables;
  BeginAdversaryDecision* beginAdversaryDecision = nullptr;

 private:
  // A fresh tree root (all numbers 0) holding the given state image; the
  // tree held before is destroyed.
  void NewRoot(const char* image, int size);
  // Moves the root to the child whose state is the given image, keeping that
  // child's subtree, or starts a fresh tree when no child matches.
  void updateRoot(const char* image, int size);

  DecisionCache cache_;
  std::unique_ptr<ExploreNode> root_;

  // The memoised evaluation of the decisions in the current state with the
  // given remaining horizon; the state is as before afterwards.
  LookaheadMemo::Value EvaluateMemoised(int horizon);
  LookaheadMemo memo_;
  uint64_t memoEvaluations_ = 0;
  // One image buffer per remaining horizon: the memoised search holds one
  // frame per horizon at a time.
  std::vector<std::vector<char>> memoImages_;

  // Recognising the state after a step: for (slot of the last decision's
  // state, step that fired), the slot of the state it led to. A guess is
  // used only when the slot still holds exactly the current image.
  struct Transition {
    long from = -1;
    const Step* step = nullptr;
    long to = -1;
  };
  static const size_t kTransitions = 4096;
  Transition& TransitionFor(long from, const Step* step) {
    size_t key = (static_cast<size_t>(from) * 131u + reinterpret_cast<uintptr_t>(step) / 8u) %
                 kTransitions;
    return transitions_[key];
  }
  std::vector<Transition> transitions_ = std::vector<Transition>(kTransitions);
  unsigned transitionsGeneration_ = 0;
  long lastSlot_ = -1;
  const Step* firedStep_ = nullptr;

  // The image is the values of the variables that hold their storage (each
  // sharing group once, through its head), in order. The model
  // keeps those values side by side in a block it owns (the variables'
  // registered pointers follow them there), so that the image is one copy;
  // the layout is worked out again whenever any variable's sharing changes.
  void RebuildImageLayout();
  std::vector<short*> imageValues_;
  short* imageBlock_ = nullptr;
  // Blocks of whole cache lines, so that a model's values share their lines
  // with nothing else (two models may run on two threads).
  struct alignas(64) ValueLine {
    short values[32];
  };
  std::vector<std::unique_ptr<ValueLine[]>> valueBlocks_;
  unsigned imageVersion_ = ~0u;

  // The variables as base-class pointers, for GetLocalStateVariables.
  std::vector<BaseStateVariableClass*> baseVariables_;
  // Storage behind the base class's action and group arrays.
  std::vector<BaseActionClass*> actionArray_;
  std::vector<BaseGroupClass*> groupArray_;
};

#endif
