#include "formalism/KORVELModel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "base/BaseGroupClass.h"
#include "base/StandardErrors.h"
#include "formalism/BaseKORVELAction.h"
#include "formalism/ExploreNode.h"
#include "formalism/StepChosen.h"
#include "formalism/StepWeight.h"

KORVELModel::KORVELModel(const char* name, int numSVs, KORVELStateVariable** svs, int numActions,
                         BaseKORVELAction** actions, int numGroupsArg, BaseGroupClass** groups,
                         int numDecisionsArg, const int* steps_per_decision, Step** steps,
                         int numGoalsArg, Goal** goalsArg) {
  commonInit(name, numSVs, svs, numActions, actions, numGroupsArg, groups, numDecisionsArg,
             steps_per_decision, steps, numGoalsArg, goalsArg);
}

KORVELModel::~KORVELModel() {
  for (KORVELStateVariable* sv : stateVariables) delete sv;
}

void KORVELModel::ParametersChanged() {
  cache_.clear();
  memo_.clear();
  std::fill(transitions_.begin(), transitions_.end(), Transition());
  transitionsGeneration_ = cache_.generation();
  lastSlot_ = -1;
  firedStep_ = nullptr;
  root_.reset();
}

void KORVELModel::commonInit(const char* name, int numSVs, KORVELStateVariable** svs,
                             int numActionsArg, BaseKORVELAction** actions, int numGroupsArg,
                             BaseGroupClass** groups, int numDecisionsArg,
                             const int* steps_per_decision, Step** steps, int numGoalsArg,
                             Goal** goalsArg) {
  try {
    DefineName(name);
    NumStateVariables = numSVs;
    NumActions = numActionsArg;
    NumGroups = numGroupsArg;
    numDecisions = numDecisionsArg;
    numGoals = numGoalsArg;

    stateVariables.assign(svs, svs + numSVs);
    imageVersion_ = ~0u;

    actionArray_.assign(actions, actions + numActionsArg);
    for (BaseActionClass* a : actionArray_) a->Model = this;
    Actions = actionArray_.data();

    groupArray_.assign(groups, groups + numGroupsArg);
    for (BaseGroupClass* g : groupArray_) g->Model = this;
    Groups = groupArray_.data();

    stepsPerDecision.assign(steps_per_decision, steps_per_decision + numDecisionsArg);
    decisionSteps.assign(numDecisionsArg, {});
    int next = 0;
    for (int d = 0; d < numDecisionsArg; d++) {
      for (int o = 0; o < stepsPerDecision[d]; o++) {
        Step* s = steps[next++];
        s->decisionIndex = d;
        decisionSteps[d].push_back(s);
      }
    }

    goals.assign(goalsArg, goalsArg + numGoalsArg);
  } catch (const std::bad_alloc&) {
    MemoryAllocationError();
  }
  costDiscount = 1.0;
  payoffDiscount = 1.0;
  detectionDiscount = 1.0;
  planningHorizon = 1;
}

void KORVELModel::setSVs(KORVELStateVariable** svs) {
  for (size_t i = 0; i < stateVariables.size(); i++) stateVariables[i] = svs[i];
  imageVersion_ = ~0u;
}

void KORVELModel::setGoals(Goal** g) {
  for (size_t i = 0; i < goals.size(); i++) goals[i] = g[i];
}

void KORVELModel::setActions(BaseKORVELAction** actions) {
  for (size_t i = 0; i < actionArray_.size(); i++) {
    actionArray_[i] = actions[i];
    actions[i]->Model = this;
  }
}

void KORVELModel::setGroups(BaseGroupClass** groups) {
  for (size_t i = 0; i < groupArray_.size(); i++) {
    groupArray_[i] = groups[i];
    groups[i]->Model = this;
  }
}

void KORVELModel::setSteps(Step** steps) {
  int next = 0;
  for (int d = 0; d < numDecisions; d++) {
    decisionSteps[d].clear();
    for (int o = 0; o < stepsPerDecision[d]; o++) {
      Step* s = steps[next++];
      s->decisionIndex = d;
      decisionSteps[d].push_back(s);
    }
  }
}

void KORVELModel::AddDecisionArcs(
    const std::vector<BaseKORVELAction*>& decisions,
    const std::vector<std::vector<KORVELStateVariable*>>& furtherAffected,
    const std::vector<std::vector<KORVELStateVariable*>>& furtherEnabling) {
  for (int d = 0; d < numDecisions; d++) TARVEX_ASSERT(!decisionSteps[d].empty());
  auto chosenOf = [this](int d) { return decisionSteps[d][0]->chosenSV; };
  for (int d = 0; d < numDecisions; d++) {
    AddAffectArc(beginAdversaryDecision, decisions[d]);
    AddAffectArc(chosenOf(d), decisions[d]);
    AddAffectArc(decisionSteps[d][0]->weightSV, decisions[d]);
  }
  for (int d = 0; d < numDecisions; d++) {
    for (Step* s : decisionSteps[d]) {
      AddAffectArc(beginAdversaryDecision, s);
      AddAffectArc(chosenOf(d), s);
      for (int w = 0; w < numDecisions; w++) AddAffectArc(decisionSteps[w][0]->weightSV, s);
      for (KORVELStateVariable* v : furtherAffected[d]) AddAffectArc(v, s);
    }
  }
  for (int d = 0; d < numDecisions; d++) AddEnableArc(beginAdversaryDecision, decisions[d]);
  for (int d = 0; d < numDecisions; d++) {
    for (Step* s : decisionSteps[d]) {
      AddEnableArc(chosenOf(d), s);
      for (KORVELStateVariable* v : furtherEnabling[d]) AddEnableArc(v, s);
    }
  }
}

// ---- state image -------------------------------------------------------

int KORVELModel::StateSize() {
  int size = 0;
  for (KORVELStateVariable* sv : stateVariables)
    if (sv->getStored()) size += sv->StateSize();
  return size;
}

void KORVELModel::SetState(void* buffer) {
  if (imageVersion_ != BaseStateVariableClass::LayoutVersion) RebuildImageLayout();
  if (imageBlock_) {
    std::memcpy(imageBlock_, buffer, imageValues_.size() * sizeof(short));
    return;
  }
  const char* p = static_cast<const char*>(buffer);
  for (short* v : imageValues_) {
    std::memcpy(v, p, sizeof(short));
    p += sizeof(short);
  }
}

void KORVELModel::RebuildImageLayout() {
  // Every value appears once: a sharing group is written by its head (the
  // variable that holds the group's storage), its absorbed members are
  // skipped.
  std::vector<KORVELStateVariable*> inImage;
  for (KORVELStateVariable* sv : stateVariables)
    if (sv->getStored()) inImage.push_back(sv);

  // Gather the values into one block, unless they are there already.
  imageBlock_ = nullptr;
  bool movable = !inImage.empty();
  bool together = movable;
  for (size_t i = 1; together && i < inImage.size(); i++)
    if (inImage[i]->getValuePointer() != inImage[0]->getValuePointer() + i) together = false;
  if (movable && !together) {
    // Earlier blocks stay alive: values of variables that left the image
    // since (absorbed into a group) may still live there.
    valueBlocks_.emplace_back(new ValueLine[(inImage.size() + 31) / 32]);
    short* block = valueBlocks_.back()[0].values;
    for (size_t i = 0; i < inImage.size(); i++) inImage[i]->RelocateValue(block + i);
    together = true;
  }
  if (together) imageBlock_ = inImage[0]->getValuePointer();

  imageValues_.clear();
  for (KORVELStateVariable* sv : inImage) imageValues_.push_back(sv->getValuePointer());
  imageVersion_ = BaseStateVariableClass::LayoutVersion;
}

bool KORVELModel::CompareState(void* a, void* b) {
  int size = StateSize();
  return size <= 0 || std::memcmp(a, b, size) == 0;
}

void KORVELModel::GetLocalState(State* s) { s->GetState(this); }
void KORVELModel::SetLocalState(const State* s) { const_cast<State*>(s)->SetState(this); }
void KORVELModel::ConstructLocalState(State*& s) { s = new LocalState(this); }

// ---- listings ----------------------------------------------------------

void KORVELModel::listSVs(const char* modelName, const char* svName,
                          List<BaseStateVariableClass>* out, List<BaseModelClass>* models) {
  if (!modelName || !getName() || std::strcmp(modelName, getName()) != 0) return;
  for (KORVELStateVariable* sv : stateVariables) {
    if (svName && std::strcmp(sv->getName(), svName) == 0) {
      out->append(sv);
      models->append(this);
    }
  }
}

void KORVELModel::listModels(const char* name, List<BaseModelClass>* out) {
  if (name && getName() && std::strcmp(name, getName()) == 0) out->append(this);
}

void KORVELModel::listActions(List<BaseActionClass>* out) { out->append(Actions, NumActions); }

void KORVELModel::listGroups(List<BaseGroupClass>* out) { out->append(Groups, NumGroups); }

void KORVELModel::listActions(const char* name, List<BaseActionClass>* out) {
  if (!name) return;
  for (int i = 0; i < NumActions; i++) {
    if (std::strcmp(Actions[i]->getName(), name) == 0) {
      out->append(Actions[i]);
      return;
    }
  }
}

void KORVELModel::printState(std::ostream* os) {
  *os << "Model: (" << ModelId << ")";
  if (!getName()) {
    os->setstate(std::ios::failbit);
    return;
  }
  *os << getName() << std::endl;
  for (KORVELStateVariable* sv : stateVariables) {
    *os << "  ";
    sv->printState(os);
  }
}

BaseStateVariableClass** KORVELModel::GetLocalStateVariables(std::ostream*) {
  baseVariables_.assign(stateVariables.begin(), stateVariables.end());
  return baseVariables_.data();
}

BaseModelClass* KORVELModel::GetChild(int) { TARVEX_ASSERT(false); }

void KORVELModel::GetGlobalActions(slist& out) {
  List<BaseActionClass> global;
  for (KORVELStateVariable* sv : stateVariables) {
    if (sv->getStored()) continue;
    for (BaseActionClass* a : *sv->getAffectingActions())
      if (a->Model == this) global.append(a);
    for (BaseActionClass* a : *sv->getEnabledActions())
      if (a->Model == this) global.append(a);
  }
  for (BaseActionClass* a : global) out.push_front(a);
}

void KORVELModel::GetLocalActions(slist& out) {
  slist global;
  GetGlobalActions(global);
  for (int i = 0; i < NumActions; i++) {
    bool isGlobal = false;
    for (BaseActionClass* g : global)
      if (g == Actions[i]) isGlobal = true;
    if (!isGlobal) out.push_front(Actions[i]);
  }
}

double KORVELModel::calculatePayoff() {
  double sum = 0.0;
  for (Goal* g : goals)
    if (g->getMark() == 1) sum += g->payoff;
  return sum;
}

double KORVELModel::attractiveness(double cost, double detection, double payoff) {
  return costWeight * convertCostToUtility(cost) +
         detectionWeight * convertDetectionToUtility(detection) +
         payoffWeight * convertPayoffToUtility(payoff);
}

// ---- saved local state -------------------------------------------------

namespace {
// The first 256 primes, 2 to 1619, weights of the local-state hash.
const int primes[256] = {
    2,    3,    5,    7,    11,   13,   17,   19,   23,   29,   31,   37,   41,   43,   47,   53,
    59,   61,   67,   71,   73,   79,   83,   89,   97,   101,  103,  107,  109,  113,  127,  131,
    137,  139,  149,  151,  157,  163,  167,  173,  179,  181,  191,  193,  197,  199,  211,  223,
    227,  229,  233,  239,  241,  251,  257,  263,  269,  271,  277,  281,  283,  293,  307,  311,
    313,  317,  331,  337,  347,  349,  353,  359,  367,  373,  379,  383,  389,  397,  401,  409,
    419,  421,  431,  433,  439,  443,  449,  457,  461,  463,  467,  479,  487,  491,  499,  503,
    509,  521,  523,  541,  547,  557,  563,  569,  571,  577,  587,  593,  599,  601,  607,  613,
    617,  619,  631,  641,  643,  647,  653,  659,  661,  673,  677,  683,  691,  701,  709,  719,
    727,  733,  739,  743,  751,  757,  761,  769,  773,  787,  797,  809,  811,  821,  823,  827,
    829,  839,  853,  857,  859,  863,  877,  881,  883,  887,  907,  911,  919,  929,  937,  941,
    947,  953,  967,  971,  977,  983,  991,  997,  1009, 1013, 1019, 1021, 1031, 1033, 1039, 1049,
    1051, 1061, 1063, 1069, 1087, 1091, 1093, 1097, 1103, 1109, 1117, 1123, 1129, 1151, 1153, 1163,
    1171, 1181, 1187, 1193, 1201, 1213, 1217, 1223, 1229, 1231, 1237, 1249, 1259, 1277, 1279, 1283,
    1289, 1291, 1297, 1301, 1303, 1307, 1319, 1321, 1327, 1361, 1367, 1373, 1381, 1399, 1409, 1423,
    1427, 1429, 1433, 1439, 1447, 1451, 1453, 1459, 1471, 1481, 1483, 1487, 1489, 1493, 1499, 1511,
    1523, 1531, 1543, 1549, 1553, 1559, 1567, 1571, 1579, 1583, 1597, 1601, 1607, 1609, 1613, 1619};
}  // namespace

KORVELModel::LocalState::LocalState(KORVELModel* model) : LocalState(model->StateSize()) {}

KORVELModel::LocalState::LocalState(int n) : buffer(new char[n > 0 ? n : 1]()), size(n > 0 ? n : 0) {}

int KORVELModel::LocalState::hash() {
  std::uint32_t sum = 0;
  for (int i = 0; i < size; i++)
    sum += static_cast<std::uint32_t>(static_cast<int>(static_cast<signed char>(buffer[i])) *
                                      primes[i % 256]);
  return static_cast<int>(sum);
}

int KORVELModel::LocalState::compareBytes(const State& other) const {
  const auto& o = static_cast<const LocalState&>(other);
  if (size == 0) return 0;
  int c = std::memcmp(buffer.get(), o.buffer.get(), size);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void KORVELModel::LocalState::print() {
  for (int i = 0; i < size; i++) std::printf("%5d", static_cast<int>(static_cast<signed char>(buffer[i])));
  std::printf("\n");
}

bool KORVELModel::LocalState::fwriteState(FILE* f) {
  std::int32_t n = size;
  if (std::fwrite(&n, sizeof n, 1, f) != 1) return true;
  return std::fwrite(buffer.get(), 1, size, f) < static_cast<size_t>(size);
}

bool KORVELModel::LocalState::freadState(FILE* f) {
  std::int32_t n = 0;
  if (std::fread(&n, sizeof n, 1, f) != 1) return true;
  // A stored state of another size does not belong to this model.
  if (n != size) return true;
  return std::fread(buffer.get(), 1, size, f) < static_cast<size_t>(size);
}

State& KORVELModel::LocalState::operator=(const State& other) {
  if (&other == this) return *this;
  const auto* _localS = static_cast<const LocalState*>(&other);
  TARVEX_ASSERT(size == _localS->size);
  std::memcpy(buffer.get(), _localS->buffer.get(), size);
  return *this;
}

void KORVELModel::LocalState::SetState(const BaseModelClass* model) {
  const_cast<BaseModelClass*>(model)->SetState(buffer.get());
}

void KORVELModel::LocalState::GetState(const BaseModelClass* model) {
  const_cast<BaseModelClass*>(model)->CurrentState(buffer.get());
}
