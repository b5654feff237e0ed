#include "formalism/LookaheadMemo.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "formalism/DecisionCache.h"

namespace {
std::atomic<size_t> defaultLimit{LookaheadMemo::kDefaultLimitBytes};
}

LookaheadMemo::LookaheadMemo() { Reset(); }

void LookaheadMemo::SetDefaultLimit(size_t bytes) { defaultLimit = bytes; }

size_t LookaheadMemo::DefaultLimit() { return defaultLimit; }

void LookaheadMemo::SetLimit(size_t bytes) {
  limit_ = bytes;
  Reset();
}

uint64_t LookaheadMemo::KeyHash(const char* image, size_t length, int horizon) {
  uint64_t h = DecisionCache::Hash(image, length) ^
               (static_cast<uint64_t>(static_cast<unsigned>(horizon)) * 0x9e3779b97f4a7c15ull);
  return h ^ (h >> 31);
}

size_t LookaheadMemo::FindSlot(const char* image, size_t length, int horizon,
                               uint64_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.used) return i;
    if (s.hash == hash && s.horizon == horizon && s.length == length &&
        DecisionCache::SameImage(s.image, image, length))
      return i;
  }
}

void LookaheadMemo::insert(const char* image, size_t length, int horizon, const Value& value) {
  // The memory the insertion would leave held: the table doubles at half
  // load, the store takes a new block when the last one is full.
  bool grow = 2 * (count_ + 1) > slots_.size();
  bool newBlock = blocks_.empty() || blockUsed_ + length > blockBytes_;
  size_t after = (grow ? 2 * slots_.size() : slots_.size()) * sizeof(Slot) + storeBytes_ +
                 (newBlock ? std::max(blockBytes_, length) : 0);
  if (count_ > 0 && after > Limit()) {
    Reset();
    evictions_++;
    grow = false;
    newBlock = true;
  }
  if (grow) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.size() * 2, Slot{});
    size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (!s.used) continue;
      size_t i = s.hash & mask;
      while (slots_[i].used) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }
  uint64_t hash = KeyHash(image, length, horizon);
  Slot& s = slots_[FindSlot(image, length, horizon, hash)];
  if (s.used) {
    s.value = value;
    return;
  }
  if (newBlock) {
    size_t size = std::max(blockBytes_, length);
    blocks_.emplace_back(new char[size]);
    storeBytes_ += size;
    blockUsed_ = 0;
  }
  char* stored = blocks_.back().get() + blockUsed_;
  std::memcpy(stored, image, length);
  blockUsed_ += length;
  s.used = true;
  s.hash = hash;
  s.image = stored;
  s.length = static_cast<uint32_t>(length);
  s.horizon = static_cast<int16_t>(horizon);
  s.value = value;
  count_++;
}

void LookaheadMemo::clear() {
  Reset();
  evictions_ = 0;
}

void LookaheadMemo::Reset() {
  std::vector<Slot>(kInitialSlots).swap(slots_);
  blocks_.clear();
  blocks_.shrink_to_fit();
  blockBytes_ = std::min(kBlockBytes, std::max(size_t(256), Limit() / 8));
  blockUsed_ = 0;
  storeBytes_ = 0;
  count_ = 0;
}
