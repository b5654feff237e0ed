// The bytes a simulator writes to its binary result file and sends to the
// simulation manager, in one place for every writer and reader:
//
//   record      int32 length (of the whole record), byte client, int16
//               experiment, int16 entries; per entry int16 node, byte kind
//               (1 values, 2 squared values), int32 count, count doubles
//   status      int32 10, byte marker, byte code, int32 process id
//   CPU time    int32 12, byte 0xFE, byte client, int16 experiment, double
//               seconds (16 bytes: its length does not count itself)
//   secret      int32 length, then the secret's bytes (manager to simulator)
//   file header 256 bytes of text, padded with NULs
//
// Multi-byte numbers are big-endian; doubles are IEEE-754 binary64, most
// significant byte first. No record can be 10 or 12 bytes long, so the
// length field alone tells the messages apart.
#ifndef TARVEX_NETWORK_RECORDFORMAT_H
#define TARVEX_NETWORK_RECORDFORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace wire {

// ---- numbers ----------------------------------------------------------------

inline void Put16(char* at, uint16_t v) {
  v = __builtin_bswap16(v);
  std::memcpy(at, &v, 2);
}
inline void Put32(char* at, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(at, &v, 4);
}
inline void PutDouble(char* at, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  bits = __builtin_bswap64(bits);
  std::memcpy(at, &bits, 8);
}
inline uint16_t Get16(const unsigned char* at) {
  return static_cast<uint16_t>((static_cast<uint16_t>(at[0]) << 8) | at[1]);
}
inline uint32_t Get32(const unsigned char* at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}
inline double GetDouble(const unsigned char* at) {
  uint64_t bits;
  std::memcpy(&bits, at, 8);
  bits = __builtin_bswap64(bits);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// ---- records ----------------------------------------------------------------

const int kRecordHead = 9;   // length, client, experiment, entries
const int kEntryHead = 7;    // node, kind, count
const int kValuesKind = 1;
const int kSquaresKind = 2;

// The length of a record with the given entries and observations in all.
inline int64_t RecordLength(int64_t entries, int64_t observations) {
  return kRecordHead + kEntryHead * entries + 8 * observations;
}

// The largest record a simulator can send with the given report size: both
// kinds for every node, reportSize observations each.
size_t LargestRecord(int numNodes, long long reportSize);

// Observations to encode: node i has counts[i] of them (none when 0 or
// less); observation k of node i is values[k * numNodes + i], so that the
// observations of one replication lie side by side.
struct ObservationTable {
  int numNodes = 0;
  const int32_t* counts = nullptr;
  const double* values = nullptr;
};

// Encodes records into a buffer of its own, reused from record to record.
class RecordEncoder {
 public:
  // The record of client (its low byte) and experiment holding the values
  // (kind 1) and, when squares is not null, the squared values (kind 2).
  // Valid until the next call.
  const std::vector<char>& Encode(int clientId, int experiment, const ObservationTable& values,
                                  const ObservationTable* squares);

 private:
  std::vector<char> Buffer;
  std::vector<char*> EntryStarts;
};

// The value observations of one decoded record, per node.
struct Packet {
  long long replications = 0;   // the largest observation count of any node
  std::vector<int> counts;      // per node; 0 when the record had none
  std::vector<size_t> offsets;  // where each node's observations start in values
  std::vector<double> values;

  const double* Row(int node) const { return values.data() + offsets[static_cast<size_t>(node)]; }
};

struct RecordHeader {
  int clientId = 0;    // low byte of the sender's client id
  int experiment = 0;  // 16-bit experiment number
};

// Decodes one whole record (data starts at its length field and holds size
// bytes). Entries of kind 1 are kept; kind 2 are checked and skipped, since
// the values carry everything. Fails with a reason when the length field
// disagrees with size or with the entries, an entry has an unknown kind, a
// node id outside 0..numNodes-1, a negative or oversized count, a node
// appears twice, or a value is not finite.
bool DecodeRecord(const unsigned char* data, size_t size, int numNodes, Packet* packet,
                  RecordHeader* header, std::string* error);

// ---- the other messages -----------------------------------------------------

const int kStatusLength = 10;
const int kCpuTimeField = 12;   // the CPU-time message's length field
const int kCpuTimeLength = 16;  // its bytes in all
const int kStatusMarker = 0xFF;
const int kReplyMarker = 0xFE;  // answers to quit and file commands; CPU time

struct Status {
  int marker = 0;  // kStatusMarker, or kReplyMarker
  int code = 0;    // 1 hello / "are you there", 2 quit, 3 file command
  int pid = 0;
};

struct CpuTime {
  int clientId = 0;
  int experiment = 0;
  double seconds = 0.0;
};

// Writes the message's kStatusLength (or kCpuTimeLength) bytes at out.
void EncodeStatus(const Status& status, char* out);
void EncodeCpuTime(const CpuTime& cpu, char* out);
// Reads a whole message starting at its length field; false with the
// reason when its marker is not one the message can carry.
bool DecodeStatus(const unsigned char* data, Status* status, std::string* error);
bool DecodeCpuTime(const unsigned char* data, CpuTime* cpu, std::string* error);

enum class MessageKind { kStatus, kCpuTime, kRecord };
// What a message whose length field holds `length` is.
MessageKind KindOfLength(uint32_t length);

// The manager's first message to a simulator: int32 length, the secret.
std::string EncodeSecret(const std::string& secret);
const uint32_t kLongestSecret = 1024;

// ---- binary result file header --------------------------------------------

const size_t kFileHeaderLength = 256;
// What every binary result file starts with.
extern const char kFileMagic[];

struct FileHeader {
  std::string version;     // TARVEX_VER=
  int fileVersion = 1;     // FILE_VER=
  std::string experiment;  // EXPERIMENTS=
  std::string seed;        // SEED=
  std::string generator;   // RANDOMGEN=
  std::string batches;     // BATCHES=
};

// The 256-byte header. SEED, RANDOMGEN and BATCHES follow while the text
// stays within 255 characters, each only if the one before it fitted.
std::string EncodeFileHeader(const FileHeader& header);
// Reads the facts of a 256-byte header (version, experiment, seed,
// generator, batches; "" where missing). False when it does not start with
// kFileMagic.
bool DecodeFileHeader(const char* bytes, FileHeader* header);

}  // namespace wire

#endif
