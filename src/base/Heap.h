// Heap<T>: a binary min-heap of values addressed by integer keys, so that the
// value of a given key can be changed and its place restored in log time.
// Among equal values the one inserted earlier stays nearer the root.
#ifndef TARVEX_BASE_HEAP_H
#define TARVEX_BASE_HEAP_H

#include <utility>
#include <vector>

#include "base/StandardErrors.h"

template <class T>
class Heap {
 public:
  explicit Heap(int capacity)
      : capacity_(capacity),
        values_(capacity, T()),
        position_(capacity, 0),
        keys_(capacity, 0),
        keyCapacity_(capacity) {}

  void Insert(const T& value, int key) {
    if (size_ == capacity_) {
      capacity_ = capacity_ > 0 ? 2 * capacity_ : 1;
      values_.resize(capacity_, T());
      keys_.resize(capacity_, 0);
    }
    if (key >= keyCapacity_) {
      if (keyCapacity_ < 1) keyCapacity_ = 1;
      while (key >= keyCapacity_) keyCapacity_ *= 2;
      position_.resize(keyCapacity_, 0);
    }
    int i = size_++;
    values_[i] = value;
    keys_[i] = key;
    position_[key] = i;
    SiftUp(i);
  }

  void BubbleDown(int i) {
    for (;;) {
      int child = 2 * i + 1;
      if (child >= size_) return;
      if (child + 1 < size_ && values_[child] > values_[child + 1]) child++;
      if (!(values_[i] > values_[child])) return;
      Swap(i, child);
      i = child;
    }
  }

  // The smallest entry.
  const T& TopValue() const {
    const int size = size_;
    TARVEX_ASSERT(size > 0);
    return values_[0];
  }
  int TopKey() const {
    const int size = size_;
    TARVEX_ASSERT(size > 0);
    return keys_[0];
  }

  // The value stored under a key; change it, then call Update(key).
  T& ValueOf(int key) { return values_[position_[key]]; }
  const T& ValueOf(int key) const { return values_[position_[key]]; }

  // Restores heap order after the value of key has been changed.
  void Update(int key) {
    int i = position_[key];
    if (i > 0 && values_[(i - 1) / 2] > values_[i])
      SiftUp(i);
    else
      BubbleDown(i);
  }

  int Size() const { return size_; }
  int Capacity() const { return capacity_; }
  int KeyCapacity() const { return keyCapacity_; }

 private:
  void SiftUp(int i) {
    while (i > 0) {
      int parent = (i - 1) / 2;
      if (!(values_[parent] > values_[i])) return;
      Swap(i, parent);
      i = parent;
    }
  }

  void Swap(int a, int b) {
    std::swap(values_[a], values_[b]);
    std::swap(keys_[a], keys_[b]);
    position_[keys_[a]] = a;
    position_[keys_[b]] = b;
  }

  int capacity_;
  std::vector<T> values_;
  std::vector<int> position_;
  std::vector<int> keys_;
  int keyCapacity_;
  int size_ = 0;
};

#endif
