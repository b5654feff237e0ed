#include "formalism/ExploreNode.h"

#include <cstring>

#include "formalism/KORVELModel.h"

ExploreNode* rootNode = nullptr;

namespace {
// Releases the tree that is left at process exit.
struct RootRelease {
  ~RootRelease() {
    delete rootNode;
    rootNode = nullptr;
  }
} rootRelease;
}  // namespace

ExploreNode::ExploreNode(ExploreNode* parentNode, int decision, int outcome, double prob,
                         double det, double c, double pay, KORVELModel* model)
    : parent(parentNode),
      state(new char[model->StateSize() > 0 ? model->StateSize() : 1]),
      decisionIndex(decision),
      outcomeIndex(outcome),
      probability(prob),
      detection(det),
      cost(c),
      payoff(pay),
      model_(model) {
  if (!parent) {
    rootNode = this;
    pathCost = cost;
    pathDetection = detection;
    return;
  }
  parent->children.emplace(decisionIndex, this);
  pathCost = parent->pathCost - rootNode->cost + cost;
  if (rootNode->pathDetection != 1.0 && rootNode->detection != 1.0)
    pathDetection = 1 - ((1 - detection) * (1 - parent->pathDetection)) / (1 - rootNode->detection);
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

void ExploreNode::updateRoot(KORVELModel* model) {
  int size = model->StateSize();
  std::unique_ptr<char[]> image(new char[size > 0 ? size : 1]);
  model->CurrentState(image.get());
  ExploreNode* oldRoot = rootNode;
  for (auto it = oldRoot->children.begin(); it != oldRoot->children.end(); ++it) {
    ExploreNode* child = it->second;
    if (std::memcmp(child->state.get(), image.get(), size) != 0) continue;
    oldRoot->children.erase(it);
    delete oldRoot;
    child->parent = nullptr;
    rootNode = child;
    return;
  }
  delete oldRoot;
  rootNode = nullptr;
  ExploreNode* fresh = new ExploreNode(nullptr, 0, 0, 0, 0, 0, 0, model);
  std::memcpy(fresh->state.get(), image.get(), size);
}
