// The terminating run: independent replications from the model's initial
// state up to the end time of the reward variables, one observation of every
// node per replication, handed to the output side in packets. The random
// stream is never reseeded (replications continue one stream) unless -R asks
// each replication to start its own.
#include <ctime>
#include <iostream>
#include <vector>

#include "base/BaseModelClass.h"
#include "distributions/DistributionDefinition.h"
#include "rewards/PVModel.h"
#include "simulator/ObservationBatch.h"
#include "simulator/PathTally.h"
#include "simulator/SimulatorClass.h"
#include "trace/TraceFileContainer.h"

void SimulatorClass::HandOverPackets(int k) {
  ValuePacket->setAllCounts(k);
  if (SquarePacket) SquarePacket->setAllCounts(k);
  ElapsedCPU = static_cast<double>(clock() - StartClock) / CLOCKS_PER_SEC;
  CheckReportSize(ElapsedCPU);
}

void SimulatorClass::CountObservation(int& k, int reportSize) {
  k++;
  ReplicationCount++;
  if (MaxBatches > 0 && ReplicationCount >= MaxBatches) {
    StopFlag = kFinishing;
    HandOverPackets(k);
    k = 0;
  } else if (k == reportSize) {
    HandOverPackets(k);
    k = 0;
  }
}

void SimulatorClass::FinishAfterSignal(int k) {
  // Finishing: this hand-over is not throttled and drains the queue, so
  // every counted replication is written before the files are closed.
  StopFlag = kFinishing;
  if (k > 0) {
    HandOverPackets(k);
  } else {
    OutputPasses++;
    OutputThreadFunc();
  }
  StopFlag = kStop;
}

namespace {

// The splitmix64 finaliser: every input bit affects every output bit, so
// neighbouring (seed, replication) pairs give unrelated generator seeds.
uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// The key of replication `replication`'s stream in a run seeded with `seed`.
uint64_t ReplicationKey(uint32_t seed, int64_t replication) {
  return Mix(Mix(seed) ^ static_cast<uint64_t>(replication));
}

}  // namespace

void SimulatorClass::RestartRandomStream() {
  TheDistribution->getGenerator()->restart(ReplicationKey(Seed ? Seed : 31415, ReplicationsStarted));
}

void SimulatorClass::SimulateReplication() {
  if (CommonRandomNumbers) RestartRandomStream();
  ReplicationsStarted++;
  const int32_t firedBefore = ActionsFired;
  ResetSchedule();
  if (GenerateCompleteEventList() != 0) {
    std::cerr << "ERROR: unable to generate event list\n" << std::flush;
    std::exit(1);
  }
  const double endTime = pvModel->getMaxStopTime();
  if (Paths) Paths->BeginReplication();

  // Events at the end time still fire.
  if (TakeEarliest()) {
    while (!(CurrentTime > endTime))
      if (SimStep() == 0) break;
  }
  if (Paths) Paths->EndReplication();
  Trace->newBatch();
  if (!Recording)
    pvModel->EndAccumulate(endTime);
  else
    Recording->AddEnd(endTime, pvModel->LastActionTime, ActionsFired - firedBefore, pvModel);
}

void SimulatorClass::TerminatingSimulation() {
  // Two threads when the observations can be worked out later: not while
  // tracing (the trace follows the run as it happens) nor with a manager
  // connected (its commands act on the run between replications).
  FiringsBeforeRun = ActionsFired;
  if (ShadowModel && !Connection && Trace->getNumTraceFiles() == 0 &&
      PipelinedTerminatingSimulation())
    return;
  PrepareRun();

  std::vector<char> initialState(pvModel->StateSize() > 0 ? pvModel->StateSize() : 1);
  pvModel->CurrentState(initialState.data());
  const int reportSize = ReportSize;

  // The units enabled in the initial state are the same in every replication.
  GenerateInitialEnabledList();
  StartClock = clock();
  CreatePackets();
  Trace->newBatch();

  PerformanceVariableNode** nodes = pvModel->getNodes();
  int k = 0;
  while (StopFlag == kRunning) {
    SimulateReplication();

    double* value = ValuePacket->observation(k);
    for (int i = 0; i < NumPVs; i++) value[i] = nodes[i]->Value;
    if (SquarePacket) {
      double* square = SquarePacket->observation(k);
      for (int i = 0; i < NumPVs; i++) square[i] = nodes[i]->Square;
    }
    CountObservation(k, reportSize);

    pvModel->SetState(initialState.data());
    pvModel->PVReset();
    if (StopSignalArrived()) FinishAfterSignal(k);
  }

  ReleaseRun();
}
