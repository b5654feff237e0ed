// DecisionCache: the look-ahead's memory of the decision taken at each state
// image. The adversary's decision depends on the state image alone, so each
// distinct image is searched once per process and later decisions at the
// same image are a look-up. Open addressing over a flat store of the images:
// a look-up hashes the image and compares it in place, without allocating.
#ifndef TARVEX_FORMALISM_DECISIONCACHE_H
#define TARVEX_FORMALISM_DECISIONCACHE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class DecisionCache {
 public:
  DecisionCache() { slots_.assign(kInitialSlots, Slot{}); }

  // The decision stored for the image, or null when there is none.
  const int* find(const char* image, size_t length) const;
  // Stores (or replaces) the decision for the image.
  void insert(const char* image, size_t length, int decision);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void clear();
  // The stored images with their decisions (for inspection and tests).
  std::vector<std::pair<std::string, int>> entries() const;

 private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    int decision = 0;
    bool used = false;
  };
  static const size_t kInitialSlots = 1024;

  static uint64_t Hash(const char* image, size_t length);
  size_t FindSlot(const char* image, size_t length, uint64_t hash) const;
  void Grow();

  std::vector<Slot> slots_;
  std::vector<char> store_;
  size_t count_ = 0;
};

#endif
