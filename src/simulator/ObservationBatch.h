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
    entries_.clear();
    images_.clear();
    replications_ = 0;
  }
  // Saves an accumulation at `time` with the model's current state.
  void AddAccumulation(double time, double lastTime, BaseModelClass* model) {
    entries_.push_back(Entry{time, lastTime, -1});
    CaptureImage(model);
  }
  // Saves the end of a replication with the model's final state.
  void AddEnd(double time, double lastTime, int firings, BaseModelClass* model) {
    entries_.push_back(Entry{time, lastTime, firings});
    CaptureImage(model);
    replications_++;
  }

  int Replications() const { return replications_; }
  size_t Size() const { return entries_.size(); }
  const Entry& At(size_t i) const { return entries_[i]; }
  char* Image(size_t i) { return images_.data() + i * imageSize_; }

 private:
  void CaptureImage(BaseModelClass* model) {
    size_t at = images_.size();
    images_.resize(at + imageSize_);
    model->CurrentState(images_.data() + at);
  }

  size_t imageSize_;
  std::vector<Entry> entries_;
  std::vector<char> images_;
  int replications_ = 0;
};

#endif
