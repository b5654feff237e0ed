#include "base/FastSet.h"

void FastSet::NoMoreModifications() {
  TARVEX_ASSERT(!is_vec_rep);
  vec_.assign(tree_.begin(), tree_.end());
  std::set<int>().swap(tree_);
  is_vec_rep = true;
}

void FastSet::clear() {
  if (is_vec_rep)
    std::vector<int>().swap(vec_);
  else
    tree_.clear();
}
