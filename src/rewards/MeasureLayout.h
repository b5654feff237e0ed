// MeasureLayout: what a reward model measures, as tools need it to label,
// decode and compare observations without knowing the model: one entry per
// node, in node order (a node's index is the id its observations carry).
// A copy, independent of the model it was taken from.
#ifndef TARVEX_REWARDS_MEASURELAYOUT_H
#define TARVEX_REWARDS_MEASURELAYOUT_H

#include <string>
#include <vector>

struct MeasureLayout {
  struct Node {
    int pv = 0;         // the performance variable, 0 .. numPVs - 1
    std::string name;   // the performance variable's name
    double time = 0.0;  // the instant observed (the node's start time)
    double end = 0.0;   // the end of the interval observed; equals time for an instant
    bool interval = false;  // accumulated over [time, end] rather than taken at an instant
  };

  int numPVs = 0;    // performance variables, as the reward model numbers them
  int numNodes = 0;  // nodes, that is entries of `nodes`
  std::vector<Node> nodes;
};

#endif
