// The steady-state run: one long run of the model cut into consecutive
// batches by the observation windows of the steady-state nodes (batch
// means). The time before a node's first window is its transient and yields
// no observation; whenever simulated time passes the end of a node's window,
// its observation is completed and stored and the window slides forward.
#include <ctime>
#include <iostream>
#include <vector>

#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"
#include "trace/TraceFileContainer.h"

namespace {

void handOverSteadyState(SimulatorClass* sim, int* valueCounts, int* squareCounts) {
  // The result files count the batches that every steady-state node has
  // completed.
  if (sim->BatchHeap && sim->BatchHeap->Size() > 0 && sim->BatchHeap->TopValue() > 0)
    sim->ReplicationCount = sim->BatchHeap->TopValue();
  for (int i = 0; i < sim->NumPVs; i++) {
    sim->ValuePacket->counts[i] = valueCounts[i];
    if (sim->SquarePacket) sim->SquarePacket->counts[i] = squareCounts[i];
    valueCounts[i] = 0;
    squareCounts[i] = 0;
  }
  sim->ElapsedCPU = static_cast<double>(clock() - sim->StartClock) / CLOCKS_PER_SEC;
  sim->CheckReportSize(sim->ElapsedCPU);
}

}  // namespace

void SimulatorClass::CheckCompletedBatches(PerformanceVariableNode** nodes, int* valueCounts,
                                           int* squareCounts) {
  // CurrentTime already holds the time of the next event, so a batch is
  // closed before the event at or after its boundary fires.
  while (BoundaryHeap->Size() > 0 && !(BoundaryHeap->TopValue() > CurrentTime)) {
    int i = BoundaryHeap->TopKey();
    PerformanceVariableNode* n = nodes[i];
    if (BatchHeap->ValueOf(i) != -1) {
      // One time unit past the window's end completes the observation with
      // the current state.
      n->Accumulate(n->StopTime + 1.0, pvModel->LastActionTime,
                    pvModel->getLastFiredAction());
      bool room = true;
      if (valueCounts[i] == ReportSize) {
        if (StopFlag != kStop)
          handOverSteadyState(this, valueCounts, squareCounts);
        else
          room = false;  // the run is being stopped: the observation is dropped
      }
      if (room) {
        ValuePacket->at(i, valueCounts[i]++) = n->Value;
        if (SquarePacket) SquarePacket->at(i, squareCounts[i]++) = n->Square;
      }
      n->Reset();
    }
    BoundaryHeap->ValueOf(i) = n->StopTime;
    BoundaryHeap->Update(i);
    BatchHeap->ValueOf(i) += 1;
    BatchHeap->Update(i);
    Trace->newBatch();
  }
}

void SimulatorClass::SteadyStateSimulation() {
  PrepareRun();
  std::vector<int> valueCounts(NumPVs, 0);
  std::vector<int> squareCounts(NumPVs, 0);
  ResetSchedule();

  GenerateInitialEnabledList();
  if (GenerateCompleteEventListSS() != 0)
    std::cerr << "ERROR: unable to generate event list\n" << std::flush;

  PerformanceVariableNode** nodes = pvModel->getNodes();
  int steadyNodes = 0;
  for (int i = 0; i < NumPVs; i++)
    if (nodes[i]->SteadyStateFlag == 1) steadyNodes++;
  BoundaryHeap = std::make_unique<Heap<double>>(steadyNodes);
  BatchHeap = std::make_unique<Heap<int>>(steadyNodes);
  for (int i = 0; i < NumPVs; i++) {
    PerformanceVariableNode* n = nodes[i];
    if (n->SteadyStateFlag != 1) continue;
    if (n->StartTime == 0.0) {
      BoundaryHeap->Insert(n->StopTime, i);
      BatchHeap->Insert(0, i);
    } else {
      BoundaryHeap->Insert(n->StartTime, i);
      BatchHeap->Insert(-1, i);
    }
  }

  Trace->newBatch();
  CreatePackets();
  StartClock = clock();

  if (!TakeEarliest()) StopFlag = kFinishing;
  while (StopFlag == kRunning) {
    // A stop signal: the observations stored so far are handed over below.
    if (StopSignalArrived()) {
      StopFlag = kFinishing;
      break;
    }
    CheckCompletedBatches(nodes, valueCounts.data(), squareCounts.data());
    // The step below is still performed once the limit is detected.
    if (MaxBatches > 0 && BatchHeap->Size() > 0 && MaxBatches <= BatchHeap->TopValue())
      StopFlag = kFinishing;
    if (SimStepSS() == 0) {
      StopFlag = kFinishing;
      std::cout << "Simulator encountered an absorbing state and is unable to proceed.  "
                   "Terminating run."
                << std::endl;
    }
  }
  if (StopFlag != kStop) handOverSteadyState(this, valueCounts.data(), squareCounts.data());

  BoundaryHeap.reset();
  BatchHeap.reset();
  ReleaseRun();
}
