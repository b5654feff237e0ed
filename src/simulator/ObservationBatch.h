// ObservationBatch: the saved observation calls of a few replications. For
// every accumulation that completes a node: its time, the time of the last
// firing and the model's state image; for every replication's end: the end
// time, the last firing time, the final image and the number of firings.
#ifndef TARVEX_SIMULATOR_OBSERVATIONBATCH_H
#define TARVEX_SIMULATOR_OBSERVATIONBATCH_H

#include <cstring>
#include <vector>

#include "base/BaseModelClass.h"

class ObservationBatch {
 public:
  struct Entry {
    double time;
    double lastTime;
    int firings;  // -1 for an accumulation; the replication's firings at its end
  };

  explicit ObservationBatch(int imageSize) : imageSize_(imageSize > 0 ? imageSize : 1) {}

  void Clear() {
    size_ = 0;
    replications_ = 0;
  }
  // Saves an accumulation at `time` with the model's current state.
  void AddAccumulation(double time, double lastTime, BaseModelClass* model) {
    Add(Entry{time, lastTime, -1}, model);
  }
  // Saves the end of a replication with the model's final state.
  void AddEnd(double time, double lastTime, int firings, BaseModelClass* model) {
    Add(Entry{time, lastTime, firings}, model);
    replications_++;
  }

  int Replications() const { return replications_; }
  size_t Size() const { return size_; }
  const Entry& At(size_t i) const { return entries_[i]; }
  char* Image(size_t i) { return images_.data() + i * imageSize_; }

 private:
  // Entries and images grow together, without clearing the room they gain
  // (every byte is written before it is read).
  void Add(const Entry& entry, BaseModelClass* model) {
    if (size_ == entries_.size()) {
      size_t room = size_ ? 2 * size_ : 1024;
      entries_.resize(room);
      images_.resize(room * imageSize_);
    }
    entries_[size_] = entry;
    model->CurrentState(images_.data() + size_ * imageSize_);
    size_++;
  }

  size_t imageSize_;
  std::vector<Entry> entries_;
  std::vector<char> images_;
  size_t size_ = 0;
  int replications_ = 0;
};

#endif
