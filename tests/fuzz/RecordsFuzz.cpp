// Fuzzes what simmgr and `simmgr summarize` read from outside: observation
// records, the framing of a simulator's byte stream, and binary result files.
// The input is used three ways:
//  - as one record for DecodeRecord;
//  - as a simulator's byte stream, fed to MessageReader once in one piece and
//    once in chunks whose sizes are derived from the input: both must give
//    the same messages and end the same way;
//  - as a binary result file (behind a valid header unless the input brings
//    its own), read record by record.
// Every decoded packet must be consistent in itself.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "simmgr/Records.h"

namespace {

using simmgr::MessageReader;

// attack_flow's nodes: 8 performance variables at 21 instants.
const int kNodes = 168;
// A small bound keeps the interesting lengths within the fuzzer's reach:
// records of two observations per node and kind.
const size_t kLargest = simmgr::LargestRecord(kNodes, 2);

void checkPacket(const simmgr::Packet& packet) {
  FUZZ_CHECK(packet.counts.size() == static_cast<size_t>(kNodes));
  FUZZ_CHECK(packet.offsets.size() == static_cast<size_t>(kNodes));
  long long total = 0;
  long long largest = 0;
  for (int node = 0; node < kNodes; node++) {
    const int count = packet.counts[static_cast<size_t>(node)];
    FUZZ_CHECK(count >= 0);
    if (count > 0)
      FUZZ_CHECK(packet.offsets[static_cast<size_t>(node)] + count <= packet.values.size());
    total += count;
    if (count > largest) largest = count;
  }
  FUZZ_CHECK(static_cast<size_t>(total) == packet.values.size());
  FUZZ_CHECK(packet.replications == largest);
  for (double v : packet.values) FUZZ_CHECK(std::isfinite(v));
}

void decodeOne(const unsigned char* data, size_t size) {
  simmgr::Packet packet;
  simmgr::RecordHeader header;
  std::string error;
  if (simmgr::DecodeRecord(data, size, kNodes, &packet, &header, &error)) {
    FUZZ_CHECK(header.clientId >= 0 && header.clientId <= 255);
    checkPacket(packet);
  } else {
    FUZZ_CHECK(!error.empty());
  }
}

// What a message carried, in a form that outlives the reader's buffer.
struct Seen {
  int kind, marker, code, pid, clientId, experiment;
  double seconds;
  std::vector<unsigned char> data;
  bool operator==(const Seen& o) const {
    return kind == o.kind && marker == o.marker && code == o.code && pid == o.pid &&
           clientId == o.clientId && experiment == o.experiment &&
           std::memcmp(&seconds, &o.seconds, sizeof seconds) == 0 && data == o.data;
  }
};

struct StreamOutcome {
  std::vector<Seen> messages;
  bool failed = false;
  size_t consumed = 0;  // bytes of the messages returned
  size_t buffered = 0;
};

// Feeds the stream in pieces of the sizes `nextChunk` gives (at most the
// room the reader offers, which readChunk sets) and collects the messages
// until the stream ends or goes out of step.
template <typename ChunkFn>
StreamOutcome readStream(const unsigned char* data, size_t size, size_t readChunk,
                         ChunkFn nextChunk) {
  StreamOutcome outcome;
  MessageReader reader(kLargest, readChunk);
  size_t fed = 0;
  for (;;) {
    size_t room = 0;
    char* space = reader.Space(&room);
    FUZZ_CHECK(room > 0);
    size_t n = nextChunk();
    if (n > room) n = room;
    if (n > size - fed) n = size - fed;
    std::memcpy(space, data + fed, n);
    reader.Commit(n);
    fed += n;
    for (;;) {
      MessageReader::Message m;
      std::string error;
      const MessageReader::Result r = reader.Next(&m, &error);
      if (r == MessageReader::kNeedMore) break;
      if (r == MessageReader::kError) {
        FUZZ_CHECK(!error.empty());
        outcome.failed = true;
        return outcome;
      }
      Seen seen{m.kind, m.marker, m.code, m.pid, m.clientId, m.experiment, m.seconds, {}};
      outcome.consumed += m.kind == MessageReader::kStatus    ? 10
                          : m.kind == MessageReader::kCpuTime ? 16
                                                              : m.size;
      if (m.kind == MessageReader::kRecord) {
        FUZZ_CHECK(m.size >= 9 && m.size <= kLargest);
        seen.data.assign(m.data, m.data + m.size);
        decodeOne(m.data, m.size);
      }
      outcome.messages.push_back(std::move(seen));
    }
    if (fed == size) break;
  }
  outcome.buffered = reader.Buffered();
  FUZZ_CHECK(outcome.consumed + outcome.buffered == size);
  return outcome;
}

// 64-bit mixing (splitmix64), for chunk sizes that follow from the input.
uint64_t mix(uint64_t* state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

void readStreams(const unsigned char* data, size_t size) {
  const size_t all = size > 0 ? size : 1;
  const StreamOutcome whole = readStream(data, size, all, [all] { return all; });
  uint64_t state = 1469598103934665603ull;
  for (size_t i = 0; i < size; i++) state = (state ^ data[i]) * 1099511628211ull;
  static const size_t kLongest[] = {1, 3, 16, 300, 5000};
  const size_t longest = kLongest[mix(&state) % 5];
  static const size_t kRoom[] = {1, 10, 64, 4096};
  const size_t room = kRoom[mix(&state) % 4];
  const StreamOutcome pieces =
      readStream(data, size, room, [&] { return 1 + mix(&state) % longest; });
  FUZZ_CHECK(whole.failed == pieces.failed);
  FUZZ_CHECK(whole.messages == pieces.messages);
  FUZZ_CHECK(whole.buffered == pieces.buffered);
}

void readFile(const unsigned char* data, size_t size) {
  static const char kMagic[] = "TARVEX_SIM_BIN_FILE,256,";
  std::string file;
  if (size < sizeof kMagic - 1 || std::memcmp(data, kMagic, sizeof kMagic - 1) != 0) {
    file = std::string(kMagic) + "EXPERIMENTS=1,SEED=31415,RANDOMGEN=0,BATCHES=3,";
    file.resize(256, '\0');
  }
  file.append(reinterpret_cast<const char*>(data), size);
  simmgr::ResultFileReader reader;
  std::string error;
  if (!reader.OpenBytes(file, "fuzz.bin", &error)) {
    FUZZ_CHECK(!error.empty());
    return;
  }
  simmgr::Packet packet;
  for (;;) {
    const simmgr::ResultFileReader::Result r = reader.Next(kNodes, &packet, &error);
    if (r == simmgr::ResultFileReader::kEnd) break;
    if (r == simmgr::ResultFileReader::kError) {
      FUZZ_CHECK(!error.empty());
      break;
    }
    checkPacket(packet);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  decodeOne(data, size);
  readStreams(data, size);
  readFile(data, size);
  return 0;
}
