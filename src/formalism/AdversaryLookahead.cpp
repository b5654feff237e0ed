// The adversary's look-ahead: whenever it must decide, the model rates every
// decision feasible now by the attractiveness of its best continuation over
// the planning horizon, and marks the most attractive one. Outcome effects are
// applied to the live state variables and undone by restoring a saved state
// image, so the model's state is the same after a decision as before it but
// for the two marks.
//
// Every formula is evaluated in the order written here: two decisions of the
// attack_flow model tie exactly, and others differ only in their last bits,
// so a reordered sum would change the adversary's choices.
#include <algorithm>
#include <cfloat>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/StandardErrors.h"
#include "formalism/ExploreNode.h"
#include "formalism/KORVELModel.h"
#include "formalism/StepWeight.h"

namespace {
const double kMostNegative = -DBL_MAX;

std::vector<char> saveImage(KORVELModel* model) {
  std::vector<char> image(model->ImageBound() > 0 ? model->ImageBound() : 1);
  model->CaptureImage(image.data());
  return image;
}
}  // namespace

void KORVELModel::exploreStateSpace(int horizon, Step** best, double* payoff, double* cost,
                                    double* detection) {
  std::vector<char> saved = saveImage(this);
  double bestValue = kMostNegative;
  for (int d = 0; d < numDecisions; d++) {
    Step* first = decisionSteps[d][0];
    if (!first->preconditionsMet()) continue;
    double EC = first->getCost();
    double EP = 0;
    double ED = 0;
    for (Step* s : decisionSteps[d]) {
      double p = s->getOutcomeProbability();
      double q = s->getDetection();
      s->executeEffects();
      if (horizon == 1) {
        EP += p * calculatePayoff();
        ED += p * q;
      } else {
        Step* next = nullptr;
        double nextPayoff = 0;
        double nextCost = 0;
        double nextDetection = 0;
        exploreStateSpace(horizon - 1, &next, &nextPayoff, &nextCost, &nextDetection);
        EP += p * nextPayoff * payoffDiscount;
        EC += p * nextCost * costDiscount;
        ED += p * (1 - (1 - q) * (1 - nextDetection * detectionDiscount));
      }
      SetState(saved.data());
    }
    double A = attractiveness(EC, ED, EP);
    if (A > bestValue) {
      bestValue = A;
      *best = first;
      *payoff = EP;
      *cost = EC;
      *detection = ED;
    }
  }
}

// The memoised search computes a subtree's value with the very operations,
// in the very order, of exploreStateSpace above: a remembered value is the
// one the plain recursion would compute again, so choices and every result
// stay bit for bit the same.
void KORVELModel::exploreStateSpaceMemoised(int horizon, Step** best, double* payoff,
                                            double* cost, double* detection) {
  if (horizon < 1) return;
  if (horizon > 32767) {  // the memo's keys hold horizons of 16 bits
    exploreStateSpace(horizon, best, payoff, cost, detection);
    return;
  }
  if (memoImages_.size() < static_cast<size_t>(horizon) + 1) memoImages_.resize(horizon + 1);
  LookaheadMemo::Value value = EvaluateMemoised(horizon);
  if (value.decision < 0) return;
  *best = decisionSteps[value.decision][0];
  *payoff = value.payoff;
  *cost = value.cost;
  *detection = value.detection;
}

LookaheadMemo::Value KORVELModel::EvaluateMemoised(int horizon) {
  std::vector<char>& buffer = memoImages_[horizon];
  if (buffer.size() < static_cast<size_t>(ImageBound()) + 1) buffer.resize(ImageBound() + 1);
  char* saved = buffer.data();
  size_t length = static_cast<size_t>(CaptureImage(saved));
  if (const LookaheadMemo::Value* known = memo_.find(saved, length, horizon)) return *known;
  memoEvaluations_++;

  LookaheadMemo::Value best;
  double bestValue = kMostNegative;
  for (int d = 0; d < numDecisions; d++) {
    Step* first = decisionSteps[d][0];
    if (!first->preconditionsMet()) continue;
    double EC = first->getCost();
    double EP = 0;
    double ED = 0;
    for (Step* s : decisionSteps[d]) {
      double p = s->getOutcomeProbability();
      double q = s->getDetection();
      s->executeEffects();
      if (horizon == 1) {
        EP += p * calculatePayoff();
        ED += p * q;
      } else {
        LookaheadMemo::Value next = EvaluateMemoised(horizon - 1);
        EP += p * next.payoff * payoffDiscount;
        EC += p * next.cost * costDiscount;
        ED += p * (1 - (1 - q) * (1 - next.detection * detectionDiscount));
      }
      SetState(saved);
    }
    double A = attractiveness(EC, ED, EP);
    if (A > bestValue) {
      bestValue = A;
      best.decision = d;
      best.payoff = EP;
      best.cost = EC;
      best.detection = ED;
    }
  }
  memo_.insert(saved, length, horizon, best);
  return best;
}

uint64_t KORVELModel::countSearchNodes(int horizon) {
  if (horizon < 1) return 0;
  // Counts per (image, horizon), so that the count costs what the memoised
  // search costs rather than what the counted search would.
  std::unordered_map<std::string, uint64_t> counted;
  const uint64_t kMost = ~uint64_t(0);
  std::function<uint64_t(int)> count = [&](int h) -> uint64_t {
    std::string image(ImageBound() + 1, '\0');
    size_t length = CaptureImage(&image[0]);
    image.resize(length);
    image.append(reinterpret_cast<const char*>(&h), sizeof h);  // the key: image and horizon
    auto known = counted.find(image);
    if (known != counted.end()) return known->second;
    uint64_t n = 0;
    for (int d = 0; d < numDecisions; d++) {
      if (!decisionSteps[d][0]->preconditionsMet()) continue;
      for (Step* s : decisionSteps[d]) {
        uint64_t below = 0;
        if (h > 1) {
          s->executeEffects();
          below = count(h - 1);
          SetState(&image[0]);
        }
        uint64_t add = below == kMost ? kMost : below + 1;
        n = n > kMost - add ? kMost : n + add;
      }
    }
    counted.emplace(image, n);
    return n;
  };
  return count(horizon);
}

void KORVELModel::buildStateTree(ExploreNode* node, int horizon) {
  TARVEX_ASSERT(node);
  SetState(node->stateData());
  double bestValue = kMostNegative;
  for (int d = 0; d < numDecisions; d++) {
    Step* first = decisionSteps[d][0];
    if (!first->preconditionsMet()) continue;
    double decisionCost = first->getCost();
    double EC = decisionCost;
    double EP = 0;
    double ED = 0;
    int outcome = 0;
    for (Step* s : decisionSteps[d]) {
      double p = s->getOutcomeProbability();
      double q = s->getDetection();
      s->executeEffects();
      double G = calculatePayoff();
      auto* child = new ExploreNode(node, d, outcome++, p, q, decisionCost, G, this);
      CurrentState(child->stateData());
      if (horizon == 1) {
        EP += p * G;
        ED += p * q;
      } else {
        buildStateTree(child, horizon - 1);
        EP += p * child->bestPayoff * payoffDiscount;
        EC += p * child->bestCost * costDiscount;
        ED += p * (1 - (1 - q) * (1 - child->bestDetection * detectionDiscount));
      }
      SetState(node->stateData());
    }
    double A = attractiveness(EC, ED, EP);
    if (A > bestValue) {
      bestValue = A;
      node->bestStep = first;
      node->bestCost = EC;
      node->bestDetection = ED;
      node->bestPayoff = EP;
    }
  }
}

void KORVELModel::buildStateTreeNoAttractCalc(ExploreNode* node, int horizon) {
  SetState(node->stateData());
  for (int d = 0; d < numDecisions; d++) {
    Step* first = decisionSteps[d][0];
    if (!first->preconditionsMet()) continue;
    double decisionCost = first->getCost();
    int outcome = 0;
    for (Step* s : decisionSteps[d]) {
      double p = s->getOutcomeProbability();
      double q = s->getDetection();
      s->executeEffects();
      auto* child = new ExploreNode(node, d, outcome++, p, q, decisionCost, calculatePayoff(), this);
      CurrentState(child->stateData());
      if (horizon > 1) buildStateTreeNoAttractCalc(child, horizon - 1);
      SetState(node->stateData());
    }
  }
}

// Rates the children of `node` stored under one decision key; shared by the
// tree re-evaluation and the bounded decision.
static void rateStoredDecision(KORVELModel* model, std::multimap<int, ExploreNode*>& children,
                               int key, int horizon, double* EC, double* ED, double* EP) {
  auto range = children.equal_range(key);
  *EC = range.first->second->cost;
  *EP = 0;
  *ED = 0;
  for (auto it = range.first; it != range.second; ++it) {
    ExploreNode* k = it->second;
    if (horizon == 1) {
      *EP += k->payoff * k->probability;
      *ED += k->probability * k->detection;
    } else {
      model->traverseStateTree(k, horizon - 1);
      *EP += k->bestPayoff * k->probability * model->payoffDiscount;
      *EC += k->bestCost * k->probability * model->costDiscount;
      *ED += (1 - (1 - k->detection) * (1 - k->bestDetection * model->detectionDiscount)) *
             k->probability;
    }
  }
}

void KORVELModel::traverseStateTree(ExploreNode* node, int horizon) {
  if (node->children.empty()) {
    buildStateTree(node, horizon);
    return;
  }
  double bestValue = kMostNegative;
  for (auto it = node->children.begin(); it != node->children.end();
       it = node->children.upper_bound(it->first)) {
    int d = it->first;
    double EC, ED, EP;
    rateStoredDecision(this, node->children, d, horizon, &EC, &ED, &EP);
    double A = attractiveness(EC, ED, EP);
    if (A > bestValue) {
      bestValue = A;
      node->bestStep = decisionSteps[d][0];
      node->bestCost = EC;
      node->bestDetection = ED;
      node->bestPayoff = EP;
    }
  }
}

void KORVELModel::computePathAttractivenessBounds(int horizon) {
  ExploreNode* root = root_.get();
  if (root->children.empty()) buildStateTreeNoAttractCalc(root, horizon);
  for (auto& entry : root->children) computeBounds(entry.second, horizon - 1, entry.first);
}

void KORVELModel::computeBounds(ExploreNode* node, int depth, int decision) {
  if (depth != 0) {
    if (node->children.empty()) buildStateTreeNoAttractCalc(node, depth);
    for (auto& entry : node->children) computeBounds(entry.second, depth - 1, decision);
    return;
  }
  double A = costWeight * convertCostToUtility(node->pathCost) +
             detectionWeight * convertDetectionToUtility(node->pathDetection) +
             payoffWeight * convertPayoffToUtility(node->payoff);
  ExploreNode* root = root_.get();
  auto up = root->upperBounds.find(decision);
  if (up == root->upperBounds.end() || A > up->second) root->upperBounds[decision] = A;
  auto low = root->lowerBounds.find(decision);
  if (low == root->lowerBounds.end() || A < low->second) root->lowerBounds[decision] = A;
}

void KORVELModel::useBoundsToDecide(int horizon) {
  ExploreNode* root = root_.get();
  bool haveBest = false;
  int kStar = 0;
  double greatestLower = kMostNegative;
  for (auto& entry : root->lowerBounds) {
    if (!haveBest || entry.second > greatestLower) {
      haveBest = true;
      kStar = entry.first;
      greatestLower = entry.second;
    }
  }
  if (!haveBest) {
    root->bestStep = nullptr;
    return;
  }
  std::vector<int> candidates;
  for (auto& entry : root->upperBounds)
    if (entry.second >= greatestLower || entry.first == kStar) candidates.push_back(entry.first);

  int winner = kStar;
  double bestValue = kMostNegative;
  for (int d : candidates) {
    if (root->children.count(d) == 0) continue;
    double EC, ED, EP;
    rateStoredDecision(this, root->children, d, horizon, &EC, &ED, &EP);
    double A = attractiveness(EC, ED, EP);
    if (A > bestValue) {
      bestValue = A;
      winner = d;
    }
  }
  root->bestStep = decisionSteps[winner][0];
}

void KORVELModel::recalculateAdversaryDecisionWeights(int mode) {
  if (planningHorizon < 1) {
    std::cerr << "!! KORVELModel::recalculateAdversaryDecisionWeights(): planning horizon "
              << planningHorizon << " of model " << (getName() ? getName() : "")
              << " is below 1; no decision made" << std::endl;
    return;
  }
  // A decision made before at this state: recognised from the step that
  // led here, or looked up, on the values in place.
  const Step* step = firedStep_;
  firedStep_ = nullptr;
  if (mode == 3) {
    int length = 0;
    if (const char* image = ImageInPlace(&length)) {
      if (transitionsGeneration_ != cache_.generation()) {
        std::fill(transitions_.begin(), transitions_.end(), Transition());
        transitionsGeneration_ = cache_.generation();
        lastSlot_ = -1;
      }
      long slot = -1;
      Transition* guess = nullptr;
      if (step && lastSlot_ >= 0) {
        guess = &TransitionFor(lastSlot_, step);
        if (guess->from == lastSlot_ && guess->step == step &&
            cache_.holds(guess->to, image, length))
          slot = guess->to;
      }
      if (slot < 0) {
        slot = cache_.slotOf(image, length);
        if (slot >= 0 && guess) *guess = Transition{lastSlot_, step, slot};
      }
      if (slot >= 0) {
        lastSlot_ = slot;
        int decision = cache_.decisionAt(slot);
        markDecision(decision >= 0 ? decisionSteps[decision][0] : nullptr);
        return;
      }
    }
    lastSlot_ = -1;
  }
  // The state image, on the stack for models of usual size.
  char local[256];
  std::vector<char> large;
  char* saved = local;
  if (ImageBound() > static_cast<int>(sizeof local)) {
    large.resize(ImageBound());
    saved = large.data();
  }
  int size = CaptureImage(saved);
  Step* chosen = nullptr;

  if (mode == 3) {
    size_t length = size > 0 ? size : 0;
    if (const int* hit = cache_.find(saved, length)) {
      // Nothing was searched, so the state is as it was: mark at once.
      if (*hit >= 0) chosen = decisionSteps[*hit][0];
      markDecision(chosen);
      return;
    }
    double payoff = kMostNegative;
    double cost = kMostNegative;
    double detection = kMostNegative;
    exploreStateSpaceMemoised(planningHorizon, &chosen, &payoff, &cost, &detection);
    cache_.insert(saved, length, chosen ? chosen->decisionIndex : -1);
  } else if (root_ && std::memcmp(root_->stateData(), saved, size) == 0) {
    chosen = root_->bestStep;
  } else if (mode == 0 || planningHorizon == 1) {
    double payoff = kMostNegative;
    double cost = kMostNegative;
    double detection = kMostNegative;
    exploreStateSpaceMemoised(planningHorizon, &chosen, &payoff, &cost, &detection);
    NewRoot(saved, size);
    root_->bestStep = chosen;
  } else if (mode == 1 || mode == 2) {
    if (!root_) {
      NewRoot(saved, size);
      if (mode == 1) buildStateTree(root_.get(), planningHorizon);
    } else {
      updateRoot(saved, size);
      if (mode == 1) traverseStateTree(root_.get(), planningHorizon);
    }
    if (mode == 2) {
      computePathAttractivenessBounds(planningHorizon);
      useBoundsToDecide(planningHorizon);
    }
    chosen = root_->bestStep;
  } else {
    return;  // unknown mode: nothing is decided and nothing changed
  }

  SetState(saved);
  markDecision(chosen);
}

void KORVELModel::NewRoot(const char* image, int size) {
  root_.reset();
  root_.reset(new ExploreNode(nullptr, 0, 0, 0, 0, 0, 0, this));
  std::memcpy(root_->stateData(), image, size);
}

void KORVELModel::updateRoot(const char* image, int size) {
  if (ExploreNode* child = root_->DetachChildWithState(image, size)) {
    root_.reset(child);
    return;
  }
  NewRoot(image, size);
}

void KORVELModel::markDecision(Step* chosen) {
  if (!chosen) {
    std::cerr << "!! KORVELModel::recalculateAdversaryDecisionWeights(): no decision is feasible"
              << " in the current state of model " << (getName() ? getName() : "")
              << "; no decision marked" << std::endl;
    return;
  }
  chosen->weightSV->setMark(1);
  beginAdversaryDecision->setMark(1);
}
