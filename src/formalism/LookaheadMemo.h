// LookaheadMemo: the look-ahead's memory of the value of a continuation.
// With the model's parameters fixed, the best decision from a state and its
// expected cost, detection and payoff over the remaining horizon depend on
// the state image and that horizon alone; many orders of steps reach the
// same state, and an outcome without effects returns to the state it left.
// The memo keeps each (image, horizon) value once, within a decision and
// across decisions. Its memory is bounded: when an insertion would take it
// past the bound, everything is forgotten and filling starts again, which
// costs only time (a forgotten value is computed again, identically).
#ifndef TARVEX_FORMALISM_LOOKAHEADMEMO_H
#define TARVEX_FORMALISM_LOOKAHEADMEMO_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class LookaheadMemo {
 public:
  // The best decision from a state (-1: none is feasible) with its expected
  // cost, detection probability and payoff (0 when none is feasible).
  struct Value {
    int decision = -1;
    double cost = 0.0;
    double detection = 0.0;
    double payoff = 0.0;
  };
  // The bound of a memo that has none of its own, unless changed (-L).
  static constexpr size_t kDefaultLimitBytes = size_t(64) << 20;

  LookaheadMemo();
  // The bound of every memo without its own (the simulator's -L); at least
  // one small table is always kept, whatever the bound.
  static void SetDefaultLimit(size_t bytes);
  static size_t DefaultLimit();
  // Sets this memo's own bound in bytes (0 returns it to the default) and
  // forgets everything.
  void SetLimit(size_t bytes);
  size_t Limit() const { return limit_ ? limit_ : DefaultLimit(); }

  // The value stored for (image, horizon), or null.
  const Value* find(const char* image, size_t length, int horizon) const {
    uint64_t hash = KeyHash(image, length, horizon);
    const Slot& s = slots_[FindSlot(image, length, horizon, hash)];
    return s.used ? &s.value : nullptr;
  }
  // Stores the value of (image, horizon), first forgetting everything when
  // the memo would otherwise outgrow its bound. REQUIRES: not stored yet.
  void insert(const char* image, size_t length, int horizon, const Value& value);
  // Forgets everything (the parameters changed) and gives the memory back.
  void clear();
  size_t size() const { return count_; }
  // Bytes held by the table and the stored images.
  size_t bytes() const { return slots_.size() * sizeof(Slot) + storeBytes_; }
  // Times the bound made the memo forget everything.
  size_t evictions() const { return evictions_; }

 private:
  struct Slot {
    uint64_t hash = 0;
    const char* image = nullptr;
    uint32_t length = 0;
    int16_t horizon = 0;
    bool used = false;
    Value value;
  };
  static constexpr size_t kInitialSlots = 64;
  // Images are stored in blocks that never move, so that growing the store
  // copies nothing: blocks of this size, smaller under a small bound; an
  // image longer than a block gets a block of its own.
  static constexpr size_t kBlockBytes = 16384;

  static uint64_t KeyHash(const char* image, size_t length, int horizon);
  size_t FindSlot(const char* image, size_t length, int horizon, uint64_t hash) const;
  void Reset();

  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockBytes_ = kBlockBytes;  // size of the blocks since the last reset
  size_t blockUsed_ = 0;             // bytes used in the last block
  size_t storeBytes_ = 0;            // bytes of all blocks
  size_t count_ = 0;
  size_t limit_ = 0;
  size_t evictions_ = 0;
};

#endif
