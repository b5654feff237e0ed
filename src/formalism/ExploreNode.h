// ExploreNode: one node of the adversary's look-ahead state tree. A node
// holds the model state reached by one outcome of one decision, with the
// numbers of that outcome and, once evaluated, the best continuation from it.
#ifndef TARVEX_FORMALISM_EXPLORENODE_H
#define TARVEX_FORMALISM_EXPLORENODE_H

#include <map>
#include <memory>

class KORVELModel;
class Step;

class ExploreNode {
 public:
  // A node with a null parent becomes the root of the tree (rootNode);
  // otherwise it is added to its parent's children under decisionIndex.
  ExploreNode(ExploreNode* parent, int decisionIndex, int outcomeIndex, double probability,
              double detection, double cost, double payoff, KORVELModel* model);
  ExploreNode(const ExploreNode&) = delete;
  ExploreNode& operator=(const ExploreNode&) = delete;
  // Destroys the whole subtree.
  ~ExploreNode();

  double computePathEscapeDetection();
  // Moves the root to the child whose state is the model's current state,
  // or starts a fresh tree when no child matches.
  static void updateRoot(KORVELModel* model);

  char* stateData() { return state.get(); }
  KORVELModel* getModel() const { return model_; }

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

 private:
  KORVELModel* model_;
};

// The current root of the look-ahead state tree; null until a tree exists.
extern ExploreNode* rootNode;

#endif
