// ObservationPipeline: hands batches of saved observations from the thread
// that simulates to the thread that works out the observations and writes
// them. A fixed set of batches circulates between a free queue and a full
// queue, so that nothing is allocated once the batches have grown to their
// working size.
#ifndef TARVEX_SIMULATOR_OBSERVATIONPIPELINE_H
#define TARVEX_SIMULATOR_OBSERVATIONPIPELINE_H

#include <deque>
#include <memory>
#include <vector>

#include "network/TarvexCond.h"
#include "network/TarvexMutex.h"
#include "simulator/ObservationBatch.h"

class ObservationPipeline {
 public:
  ObservationPipeline(int imageSize, int batches);

  // Simulating side: a batch to fill (waits for one), and a filled batch.
  ObservationBatch* TakeFree();
  void PushFull(ObservationBatch* batch);
  // No more batches will come.
  void Close();

  // Observing side: the next filled batch (waits for one); null once the
  // simulating side has closed and everything was taken.
  ObservationBatch* TakeFull();
  void ReturnFree(ObservationBatch* batch);

 private:
  std::vector<std::unique_ptr<ObservationBatch>> batches_;
  std::deque<ObservationBatch*> free_;
  std::deque<ObservationBatch*> full_;
  bool closed_ = false;
  TarvexMutex mutex_;
  TarvexCond freeReady_;
  TarvexCond fullReady_;
};

#endif
