#include "simulator/ObservationPipeline.h"

ObservationPipeline::ObservationPipeline(int imageSize, int batches) {
  for (int i = 0; i < batches; i++) {
    batches_.emplace_back(new ObservationBatch(imageSize));
    free_.push_back(batches_.back().get());
  }
}

ObservationBatch* ObservationPipeline::TakeFree() {
  mutex_.Get();
  while (free_.empty()) freeReady_.Wait(mutex_);
  ObservationBatch* batch = free_.front();
  free_.pop_front();
  mutex_.Release();
  batch->Clear();
  return batch;
}

void ObservationPipeline::PushFull(ObservationBatch* batch) {
  mutex_.Get();
  full_.push_back(batch);
  fullReady_.Signal();
  mutex_.Release();
}

void ObservationPipeline::Close() {
  mutex_.Get();
  closed_ = true;
  fullReady_.Signal();
  mutex_.Release();
}

ObservationBatch* ObservationPipeline::TakeFull() {
  mutex_.Get();
  while (full_.empty() && !closed_) fullReady_.Wait(mutex_);
  ObservationBatch* batch = nullptr;
  if (!full_.empty()) {
    batch = full_.front();
    full_.pop_front();
  }
  mutex_.Release();
  return batch;
}

void ObservationPipeline::ReturnFree(ObservationBatch* batch) {
  mutex_.Get();
  free_.push_back(batch);
  freeReady_.Signal();
  mutex_.Release();
}
