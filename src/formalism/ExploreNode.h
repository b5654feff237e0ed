// ExploreNode: one node of the adversary's look-ahead state tree. A node
// holds the model state reached by one outcome of one decision, with the
// numbers of that outcome and, once evaluated, the best continuation from it.
// The model that decides owns the tree through its root.
#ifndef TARVEX_FORMALISM_EXPLORENODE_H
#define TARVEX_FORMALISM_EXPLORENODE_H

#include <map>
#include <memory>

class KORVELModel;
class Step;

class ExploreNode {
 public:
  // A node with a null parent is the root of a tree of its own; otherwise it
  // is added to its parent's children under decisionIndex, and its path
  // numbers are worked out against the root of the parent's tree. The state
  // buffer has the model's StateSize() bytes.
  ExploreNode(ExploreNode* parent, int decisionIndex, int outcomeIndex, double probability,
              double detection, double cost, double payoff, KORVELModel* model);
  ExploreNode(const ExploreNode&) = delete;
  ExploreNode& operator=(const ExploreNode&) = delete;
  // Destroys the whole subtree.
  ~ExploreNode();

  double computePathEscapeDetection();
  // Takes out of the children the first (in map order) whose state's first
  // `size` bytes are `image`, and makes it the root of its own tree; null
  // when no child matches. The caller owns the returned node.
  ExploreNode* DetachChildWithState(const char* image, int size);

  char* stateData() { return state.get(); }

  ExploreNode* parent;
  std::multimap<int, ExploreNode*> children;
  std::unique_ptr<char[]> state;
  int decisionIndex;
  int outcomeIndex;
  double probability;
  double detection;
  double cost;
  double payoff;
  std::map<int, double> lowerBounds;
  std::map<int, double> upperBounds;
  Step* bestStep = nullptr;
  double bestCost = 0.0;
  double bestDetection = 0.0;
  double bestPayoff = 0.0;
  double pathCost = 0.0;
  double pathDetection = 0.0;
};

#endif
