#include "formalism/DecisionCache.h"

#include <cstring>

uint64_t DecisionCache::Hash(const char* image, size_t length) {
  // FNV-1a over 8-byte words, then a final avalanche.
  uint64_t h = 1469598103934665603ull ^ length;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t w;
    std::memcpy(&w, image + i, 8);
    h = (h ^ w) * 1099511628211ull;
    h ^= h >> 29;
  }
  for (; i < length; i++) h = (h ^ static_cast<unsigned char>(image[i])) * 1099511628211ull;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

size_t DecisionCache::FindSlot(const char* image, size_t length, uint64_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.used) return i;
    if (s.hash == hash && s.length == length &&
        std::memcmp(store_.data() + s.offset, image, length) == 0)
      return i;
  }
}

const int* DecisionCache::find(const char* image, size_t length) const {
  const Slot& s = slots_[FindSlot(image, length, Hash(image, length))];
  return s.used ? &s.decision : nullptr;
}

void DecisionCache::insert(const char* image, size_t length, int decision) {
  if (2 * (count_ + 1) > slots_.size()) Grow();
  uint64_t hash = Hash(image, length);
  Slot& s = slots_[FindSlot(image, length, hash)];
  if (s.used) {
    s.decision = decision;
    return;
  }
  s.used = true;
  s.hash = hash;
  s.offset = static_cast<uint32_t>(store_.size());
  s.length = static_cast<uint32_t>(length);
  s.decision = decision;
  store_.insert(store_.end(), image, image + length);
  count_++;
}

void DecisionCache::Grow() {
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

void DecisionCache::clear() {
  slots_.assign(kInitialSlots, Slot{});
  store_.clear();
  count_ = 0;
}

std::vector<std::pair<std::string, int>> DecisionCache::entries() const {
  std::vector<std::pair<std::string, int>> out;
  for (const Slot& s : slots_)
    if (s.used) out.emplace_back(std::string(store_.data() + s.offset, s.length), s.decision);
  return out;
}
