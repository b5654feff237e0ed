#include "formalism/ExploreNode.h"

#include <cstring>

#include "formalism/KORVELModel.h"

ExploreNode::ExploreNode(ExploreNode* parentNode, int decision, int outcome, double prob,
                         double det, double c, double pay, KORVELModel* model)
    : parent(parentNode),
      state(new char[model->StateSize() > 0 ? model->StateSize() : 1]),
      decisionIndex(decision),
      outcomeIndex(outcome),
      probability(prob),
      detection(det),
      cost(c),
      payoff(pay) {
  if (!parent) {
    pathCost = cost;
    pathDetection = detection;
    return;
  }
  parent->children.emplace(decisionIndex, this);
  // The root of the tree: a re-rooted tree's root has lost its parent, so
  // this is the model's current root.
  const ExploreNode* root = parent;
  while (root->parent) root = root->parent;
  pathCost = parent->pathCost - root->cost + cost;
  if (root->pathDetection != 1.0 && root->detection != 1.0)
    pathDetection = 1 - ((1 - detection) * (1 - parent->pathDetection)) / (1 - root->detection);
  else
    pathDetection = 1 - computePathEscapeDetection();
}

ExploreNode::~ExploreNode() {
  for (auto& entry : children) delete entry.second;
}

double ExploreNode::computePathEscapeDetection() {
  if (!parent || !parent->parent) return 1 - detection;
  return (1 - detection) * (1 - parent->computePathEscapeDetection());
}

ExploreNode* ExploreNode::DetachChildWithState(const char* image, int size) {
  for (auto it = children.begin(); it != children.end(); ++it) {
    ExploreNode* child = it->second;
    if (std::memcmp(child->state.get(), image, size) != 0) continue;
    children.erase(it);
    child->parent = nullptr;
    return child;
  }
  return nullptr;
}
