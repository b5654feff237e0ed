// WeightedPick: the weighted draw of the action groups and of the event list
// among simultaneous events. Given the cumulative weights of the candidates
// (entry i is the sum of the weights of candidates 0..i) and a target (a
// uniform draw times the total weight), it finds the candidate the target
// lands on by binary search.
#ifndef TARVEX_BASE_WEIGHTEDPICK_H
#define TARVEX_BASE_WEIGHTEDPICK_H

// The index of the first of the n entries whose cumulative weight, as
// `cumulativeAt(i)` gives it, is strictly greater than target; n - 1 when
// none is. REQUIRES: n >= 1. With negative weights (cumulative weights that
// fall somewhere) the result is the entry this search lands on, which need
// not be the first one above the target; the groups define their draw so.
template <class CumulativeAt>
inline int WeightedPick(int n, double target, CumulativeAt cumulativeAt) {
  int lo = 0;
  int hi = n - 1;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (cumulativeAt(mid) > target)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

#endif
