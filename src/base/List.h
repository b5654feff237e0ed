// List<T>: a growable array of borrowed object pointers with set semantics.
//
// The list never holds a pointer twice and never owns what it points at. Its
// order is observable (it decides the order in which actions and variables are
// visited, and so the random stream), so the growth and removal rules are kept
// exactly: capacity doubles when full, and removal moves the last item into
// the freed slot.
#ifndef TARVEX_BASE_LIST_H
#define TARVEX_BASE_LIST_H

#include <iostream>
#include <new>
#include <vector>

#include "base/StandardErrors.h"

template <class T>
class List {
 public:
  List() : List(10) {}
  explicit List(int capacity) {
    try {
      items_.assign(capacity > 0 ? capacity : 1, nullptr);
    } catch (const std::bad_alloc&) {
      MemoryAllocationError();
    }
  }

  // Adds the item unless it is already present.
  void append(T* item) {
    if (count_ >= capacity()) grow(2 * capacity());
    if (contains(item)) return;
    items_[count_++] = item;
  }

  void append(T** items, int n) {
    for (int i = 0; i < n; i++) append(items[i]);
  }

  // Adds every item of the other list, in its order, unless already present.
  void append(List<T>* other) {
    int needed = count_ + other->count_;
    if (needed > capacity()) grow(2 * needed);
    for (int i = 0; i < other->count_; i++)
      if (!contains(other->items_[i])) items_[count_++] = other->items_[i];
  }

  // Removes the first occurrence; the last item takes its slot.
  void remove(T* item) {
    for (int i = 0; i < count_; i++) {
      if (items_[i] == item) {
        items_[i] = items_[count_ - 1];
        items_[--count_] = nullptr;
        return;
      }
    }
  }

  // Puts newItem in oldItem's place; if newItem is already listed, oldItem is
  // simply removed so that the list stays free of duplicates.
  void replaceItem(T* oldItem, T* newItem) {
    int at = indexOf(oldItem);
    if (at < 0) return;
    if (contains(newItem))
      remove(oldItem);
    else
      items_[at] = newItem;
  }

  bool contains(const T* item) const { return indexOf(item) >= 0; }
  int getNumItems() const { return count_; }
  int getCapacity() const { return capacity(); }
  T* getItem(int i) const { return items_[i]; }
  T* operator[](int i) const { return items_[i]; }
  T** getList() { return items_.data(); }
  T* const* begin() const { return items_.data(); }
  T* const* end() const { return items_.data() + count_; }
  void clearList() { count_ = 0; }

  void printList() const {
    if (count_ == 0) {
      std::cout << "No items in the list" << std::endl;
      return;
    }
    for (int i = 0; i < count_; i++)
      std::cout << "[" << i << "] " << static_cast<const void*>(items_[i]) << std::endl;
  }

 private:
  int capacity() const { return static_cast<int>(items_.size()); }

  int indexOf(const T* item) const {
    for (int i = 0; i < count_; i++)
      if (items_[i] == item) return i;
    return -1;
  }

  void grow(int newCapacity) {
    try {
      items_.resize(newCapacity, nullptr);
    } catch (const std::bad_alloc&) {
      std::cerr << "!! Crtical error in " << "List<C>::append(List*)"
                << " do to insufficient memory...exiting" << std::endl;
      MemoryAllocationError();
    }
  }

  std::vector<T*> items_;
  int count_ = 0;
};

#endif
