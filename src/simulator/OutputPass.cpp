// Observation packets and output passes. The loops hand their filled values
// packets over (with their squares packets, in pairs, when KeepSquares); an
// output pass drains the queue of full
// packets, sending each values packet to the manager and writing it to the
// result files, then recycles the packets. Passes are throttled after the
// first ten so that fast runs report in larger lumps.
#include "network/TarvexSocket.h"
#include "simulator/SimulatorClass.h"

DataPacket* SimulatorClass::CreateDataPacket(int numPVs) {
  auto* packet = new DataPacket(-1, -1, numPVs, PacketCapacity);
  packet->clientId = ClientID;
  packet->experiment = static_cast<int>(Experiment);
  return packet;
}

void SimulatorClass::CreatePackets() {
  ValuePacket = CreateDataPacket(NumPVs);
  if (KeepSquares) SquarePacket = CreateDataPacket(NumPVs);
}

bool SimulatorClass::CheckReportSize(double cpuSeconds) {
  if (Connection && !LinkFailed) ListenToSimMgr(Connection.get());

  // Values first: with squares, the two travel through the queues as a pair.
  FullQueue.Enqueue(ValuePacket);
  if (KeepSquares) FullQueue.Enqueue(SquarePacket);
  ValuePacket = FreeQueue.Dequeue();
  if (!ValuePacket) ValuePacket = CreateDataPacket(NumPVs);
  if (KeepSquares) {
    SquarePacket = FreeQueue.Dequeue();
    if (!SquarePacket) SquarePacket = CreateDataPacket(NumPVs);
  }

  // Throttled only while the run goes on: once it is finishing or stopping
  // (a quit from the manager, a failure), this hand-over is the last and
  // everything queued is written now. Without a manager a pass waits until
  // the passes average 0.2 s of CPU time. A manager decides when to stop from
  // what it has received, so a packet held back here is CPU time spent past
  // that decision: with one connected, a pass runs once 0.02 s have passed
  // since the last one, also early in the run, when an average over the
  // first ten quick passes would hold back a lump of up to 50 packets.
  const bool managed = Connection && !LinkFailed;
  int passes = OutputPasses;
  const bool hold = managed ? cpuSeconds - LastPassCPU < kManagedPassSeconds
                            : cpuSeconds / passes < kPassSeconds;
  if (passes > 10 && hold && FullQueue.Count() < kQueueSize && StopFlag == kRunning) return false;
  OutputPasses++;
  LastPassCPU = cpuSeconds;
  OutputThreadFunc();
  return true;
}

int SimulatorClass::OutputThreadFunc() {
  for (;;) {
    DataPacket* values = FullQueue.Dequeue();
    if (!values) break;
    DataPacket* squares = KeepSquares ? FullQueue.Dequeue() : nullptr;
    TarvexSocket* link = Connection && !LinkFailed ? Connection.get() : nullptr;
    if (link) OutputCPUTime(link, ElapsedCPU);
    if (link || BinStream) {
      OutputDataBinary(link, BinStream.get(), values, nullptr);
      if (BinStream) {
        BinStream->flush();
        CheckStream(BinStream.get(), "binary", BinFilename);
      }
    }
    if (AsciiStream) {
      OutputDataCSV(*AsciiStream, values, nullptr);
      AsciiStream->flush();
      CheckStream(AsciiStream.get(), "ASCII", ASCIIFilename);
    }
    FreeQueue.Enqueue(values);
    if (squares) FreeQueue.Enqueue(squares);
  }
  if (StopFlag == kFinishing && FullQueue.Count() == 0) StopFlag = kStop;
  if (BinStream) UpdateBinFileHeader(*BinStream);
  return 0;
}

unsigned long SimulatorClass::StaticOutputThreadFunc(void* simulator) {
  auto* sim = static_cast<SimulatorClass*>(simulator);
  while (sim->StopFlag != kStop) sim->OutputThreadFunc();
  return 0;
}

void SimulatorClass::ResetDataPacketBuffer() {
  while (DataPacket* p = FullQueue.Dequeue()) FreeQueue.Enqueue(p);
}
