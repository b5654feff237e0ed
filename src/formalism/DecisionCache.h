// DecisionCache: the look-ahead's memory of the decision taken at each state
// image. With the model's parameters fixed, the adversary's decision depends
// on the state image alone, so each model searches each distinct image once
// and later decisions at the same image are a look-up. Open addressing over
// a flat store of the images: a look-up hashes the image and compares it in
// place, without allocating.
#ifndef TARVEX_FORMALISM_DECISIONCACHE_H
#define TARVEX_FORMALISM_DECISIONCACHE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class DecisionCache {
 public:
  DecisionCache() { slots_.assign(kInitialSlots, Slot{}); }

  // The decision stored for the image, or null when there is none.
  const int* find(const char* image, size_t length) const {
    const Slot& s = slots_[FindSlot(image, length, Hash(image, length))];
    return s.used ? &s.decision : nullptr;
  }
  // The slot that holds the image, or -1. Slots stay put until the
  // generation changes (when the table grows or is cleared).
  long slotOf(const char* image, size_t length) const {
    size_t i = FindSlot(image, length, Hash(image, length));
    return slots_[i].used ? static_cast<long>(i) : -1;
  }
  // Whether slot (of the current generation) holds exactly this image.
  bool holds(long slot, const char* image, size_t length) const {
    const Slot& s = slots_[slot];
    return s.used && s.length == length && SameImage(store_.data() + s.offset, image, length);
  }
  int decisionAt(long slot) const { return slots_[slot].decision; }
  unsigned generation() const { return generation_; }
  // Stores (or replaces) the decision for the image.
  void insert(const char* image, size_t length, int decision);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void clear();
  // The stored images with their decisions (for inspection and tests).
  std::vector<std::pair<std::string, int>> entries() const;

  // The hash of an image, and whether two images of `length` bytes are the
  // same; shared with the look-ahead's memo of values.
  static uint64_t Hash(const char* image, size_t length) {
    return length == kUsualLength ? HashWords(image, kUsualLength) : HashWords(image, length);
  }
  static bool SameImage(const char* a, const char* b, size_t length) {
    return length == kUsualLength ? SameWords(a, b, kUsualLength) : SameWords(a, b, length);
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    int decision = 0;
    bool used = false;
  };
  static const size_t kInitialSlots = 1024;

  // Hash mixes the image eight bytes at a time (unrolled for the usual
  // length): the image length of a model of 32 formalism variables.
  static const size_t kUsualLength = 64;

  static inline __attribute__((always_inline)) uint64_t HashWords(const char* image, size_t length) {
    uint64_t h = 0x9e3779b97f4a7c15ull ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t w;
      std::memcpy(&w, image + i, 8);
      h = (h ^ w) * 0xff51afd7ed558ccdull;
      h ^= h >> 32;
    }
    for (; i < length; i++) h = (h ^ static_cast<unsigned char>(image[i])) * 0x100000001b3ull;
    h ^= h >> 29;
    return h;
  }
  static inline __attribute__((always_inline)) bool SameWords(const char* a, const char* b,
                                                               size_t length) {
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return false;
    }
    for (; i < length; i++)
      if (a[i] != b[i]) return false;
    return true;
  }
  size_t FindSlot(const char* image, size_t length, uint64_t hash) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (!s.used) return i;
      if (s.hash == hash && s.length == length && SameImage(store_.data() + s.offset, image, length))
        return i;
    }
  }
  void Grow();

  std::vector<Slot> slots_;
  std::vector<char> store_;
  size_t count_ = 0;
  unsigned generation_ = 0;
};

#endif
