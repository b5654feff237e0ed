// DataPacket: per performance-variable node, a row of observations (one per
// replication or batch), stored position by position. The loops fill a
// values packet (and a squares packet only when a writer needs the squared
// values) and hand them to the output side.
//
// PacketQueue: a fixed-capacity ring of packet pointers guarded by its own
// mutex, so that the output side could drain it from another thread.
#ifndef TARVEX_SIMULATOR_DATAPACKET_H
#define TARVEX_SIMULATOR_DATAPACKET_H

#include <cstdint>
#include <memory>
#include <vector>

#include "network/RecordFormat.h"
#include "network/TarvexMutex.h"

class DataPacket {
 public:
  DataPacket(int clientId, int experiment, int numPVs, int capacity);

  // Observation k of PV pv. The observations of one replication (or batch
  // position) lie side by side, so that storing them touches little memory.
  double& at(int pv, int k) { return values[static_cast<size_t>(k) * numPVs + pv]; }
  double at(int pv, int k) const { return values[static_cast<size_t>(k) * numPVs + pv]; }
  // The numPVs observations at position k.
  double* observation(int k) { return values.data() + static_cast<size_t>(k) * numPVs; }
  void setAllCounts(int k);
  // The packet's observations as the record encoder reads them.
  wire::ObservationTable table() const { return {numPVs, counts.data(), values.data()}; }

  int clientId;
  int experiment;
  int numPVs;
  int capacity;
  std::vector<int32_t> counts;
  std::vector<double> values;
};

class PacketQueue {
 public:
  explicit PacketQueue(int capacity);
  ~PacketQueue();
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  // Stores the packet; a full queue drops it (the queue keeps ownership of
  // what it holds and releases it when destroyed).
  void Enqueue(DataPacket* packet);
  // The oldest packet, or null when the queue is empty.
  DataPacket* Dequeue();
  int Count();
  int Capacity() const { return capacity_; }

 private:
  std::vector<DataPacket*> items_;
  int capacity_;
  int head_ = 0;
  int tail_ = 0;
  bool wrapped_ = false;
  TarvexMutex mutex_;
};

#endif
