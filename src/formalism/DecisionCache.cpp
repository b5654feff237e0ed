#include "formalism/DecisionCache.h"

#include <cstring>

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
  generation_++;
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
  generation_++;
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
