// The terminating run on two threads. The simulating thread runs the
// replications exactly as the one-thread run does, but instead of
// accumulating the reward nodes it saves the model's state image at every
// accumulation that would complete a node, and at every replication's end.
// The observing thread replays those accumulations on a second instance of
// the reward model, collects the observations into packets and runs the
// output passes. Only the simulating thread draws random numbers, so the
// replications, their observations and the result files are the same as in
// a one-thread run; the observing thread alone decides, as the one-thread
// loop does, after which replication the run stops.
#include <ctime>
#include <utility>
#include <vector>

#include "base/BaseModelClass.h"
#include "network/TarvexProcess.h"
#include "network/TarvexThread.h"
#include "rewards/PVModel.h"
#include "simulator/ObservationPipeline.h"
#include "simulator/SimulatorClass.h"
#include "trace/TraceFileContainer.h"

namespace {
// Replications per batch and batches in circulation. An output pass writes
// up to 25 packets at once (tens of milliseconds); the batches in
// circulation (16,384 replications) let the simulating thread run on
// meanwhile instead of waiting for it.
const int kReplicationsPerBatch = 64;
const int kBatches = 256;
}  // namespace

unsigned long SimulatorClass::StaticObserveThreadFunc(void* argument) {
  auto* pair = static_cast<std::pair<SimulatorClass*, ObservationPipeline*>*>(argument);
  pair->first->ObserveReplications(pair->second);
  return 0;
}

void SimulatorClass::ObserveReplications(ObservationPipeline* pipeline) {
  const int reportSize = ReportSize;
  int k = 0;
  int64_t counted = 0;
  while (ObservationBatch* batch = pipeline->TakeFull()) {
    size_t i = 0;
    for (int r = 0; r < batch->Replications(); r++) {
      // Replay one replication's accumulations, up to and with its end.
      bool observe = StopFlag == kRunning;
      for (;; i++) {
        const ObservationBatch::Entry& e = batch->At(i);
        if (observe) ShadowModel->SetState(batch->Image(i));
        if (e.firings < 0) {
          if (observe) ShadowModel->ReplayAccumulate(e.time, e.lastTime);
          continue;
        }
        if (observe) {
          ShadowModel->ReplayEndAccumulate(e.time, e.lastTime);
          counted += e.firings;
        }
        i++;
        break;
      }
      // A replication after the stop is not counted, as the one-thread
      // loop would not have run it.
      if (!observe) continue;

      // Collect the observations and reset the nodes for the next one.
      ShadowModel->CollectAndReset(ValuePacket->observation(k),
                                   SquarePacket ? SquarePacket->observation(k) : nullptr);
      CountObservation(k, reportSize);
    }
    pipeline->ReturnFree(batch);
  }
  // The simulating side stopped early (a stop signal) while the run was
  // going: the replications it made are all counted; write them.
  if (StopFlag == kRunning) FinishAfterSignal(k);
  // The firings of the replications counted, as the one-thread run counts.
  ActionsFired = static_cast<int32_t>(FiringsBeforeRun + counted);
}

bool SimulatorClass::PipelinedTerminatingSimulation() {
  ObservationPipeline pipeline(pvModel->StateSize(), kBatches);
  std::pair<SimulatorClass*, ObservationPipeline*> argument(this, &pipeline);
  TarvexThread observer(&SimulatorClass::StaticObserveThreadFunc, &argument);
  // Without a second thread the one-thread run does the work instead. The
  // observer waits for its first batch, which comes after the set-up below.
  if (!observer.Start()) return false;

  PrepareRun();
  std::vector<char> initialState(pvModel->StateSize() > 0 ? pvModel->StateSize() : 1);
  pvModel->CurrentState(initialState.data());
  GenerateInitialEnabledList();
  StartClock = clock();
  CreatePackets();

  Trace->newBatch();

  int64_t produced = 0;
  ObservationBatch* batch = pipeline.TakeFree();
  // A stop signal ends the replications here; the observing thread then
  // counts and writes every one made (StopSignal is read once it has ended).
  bool signalled = false;
  while (StopFlag == kRunning && !(MaxBatches > 0 && produced >= MaxBatches) &&
         !(signalled = TarvexProcess::TerminationSignal() != 0)) {
    Recording = batch;
    pvModel->RestartCompletionSchedule();
    SimulateReplication();
    Recording = nullptr;
    produced++;
    pvModel->SetState(initialState.data());
    pvModel->ResetLastAction();
    if (batch->Replications() == kReplicationsPerBatch) {
      pipeline.PushFull(batch);
      batch = pipeline.TakeFree();
    }
  }
  pipeline.PushFull(batch);
  pipeline.Close();
  observer.WaitUntilDone();
  if (signalled && !StopSignal) StopSignal = TarvexProcess::TerminationSignal();

  ReleaseRun();
  return true;
}
