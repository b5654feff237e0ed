#include "simulator/DataPacket.h"

#include <new>
#include <stdexcept>

#include "base/StandardErrors.h"

DataPacket::DataPacket(int client, int exp, int pvs, int cap)
    : clientId(client), experiment(exp), numPVs(pvs), capacity(cap) {
  try {
    counts.assign(pvs > 0 ? pvs : 0, 0);
    values.assign(static_cast<size_t>(pvs > 0 ? pvs : 0) * static_cast<size_t>(cap > 0 ? cap : 0),
                  0.0);
  } catch (const std::bad_alloc&) {
    MemoryAllocationError();
  } catch (const std::length_error&) {
    MemoryAllocationError();
  }
}

void DataPacket::setAllCounts(int k) {
  for (int32_t& c : counts) c = k;
}

PacketQueue::PacketQueue(int capacity) : items_(capacity, nullptr), capacity_(capacity) {}

PacketQueue::~PacketQueue() {
  while (DataPacket* p = Dequeue()) delete p;
}

void PacketQueue::Enqueue(DataPacket* packet) {
  mutex_.Get();
  bool full = head_ == tail_ && wrapped_;
  if (full) {
    mutex_.Release();
    delete packet;  // a full queue drops the packet
    return;
  }
  items_[tail_] = packet;
  tail_++;
  if (tail_ == capacity_) {
    tail_ = 0;
    wrapped_ = true;
  }
  mutex_.Release();
}

DataPacket* PacketQueue::Dequeue() {
  mutex_.Get();
  if (head_ == tail_ && !wrapped_) {
    mutex_.Release();
    return nullptr;
  }
  DataPacket* p = items_[head_];
  items_[head_] = nullptr;
  head_++;
  if (head_ == capacity_) {
    head_ = 0;
    wrapped_ = false;
  }
  mutex_.Release();
  return p;
}

int PacketQueue::Count() {
  mutex_.Get();
  int n = tail_ - head_;
  if (tail_ < head_ || (tail_ == head_ && wrapped_)) n += capacity_;
  mutex_.Release();
  return n;
}
