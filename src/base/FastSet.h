// FastSet: a set of integers filled once as an ordered tree, then frozen into
// a sorted array that is cheap to walk many times per firing.
#ifndef TARVEX_BASE_FASTSET_H
#define TARVEX_BASE_FASTSET_H

#include <set>
#include <vector>

#include "base/StandardErrors.h"

class FastSet {
 public:
  FastSet() = default;

  // Adds v; true when it was not present yet. Only before freezing.
  bool insert(const int& v) {
    TARVEX_ASSERT(!is_vec_rep);
    return tree_.insert(v).second;
  }
  bool find(const int& v) const {
    TARVEX_ASSERT(!is_vec_rep);
    return tree_.count(v) != 0;
  }
  bool empty() const {
    TARVEX_ASSERT(!is_vec_rep);
    return tree_.empty();
  }
  // Freezes the set into its sorted array form.
  void NoMoreModifications();

  int size() const {
    TARVEX_ASSERT(is_vec_rep);
    return static_cast<int>(vec_.size());
  }
  const int& operator[](int i) const {
    TARVEX_ASSERT(is_vec_rep);
    return vec_[i];
  }
  // The frozen elements as a plain array (valid while frozen).
  const int* data() const { return vec_.data(); }

  void clear();
  bool isFrozen() const { return is_vec_rep; }

 private:
  bool is_vec_rep = false;
  std::set<int> tree_;
  std::vector<int> vec_;
};

#endif
