// What the simulators send and write, decoded: observation records (one
// packet of observations per node), the other messages of a simulator's
// connection (status and CPU time), and binary result files (a 256-byte text
// header followed by records). All numbers are big-endian.
#ifndef TARVEX_TOOLS_SIMMGR_RECORDS_H
#define TARVEX_TOOLS_SIMMGR_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "network/RecordFormat.h"

namespace simmgr {

// Records decode with the wire format's decoder (network/RecordFormat.h).
using wire::DecodeRecord;
using wire::LargestRecord;
using wire::Packet;
using wire::RecordHeader;

// Splits a simulator's byte stream into messages as the bytes arrive: the
// length field of each tells a status message, a CPU-time message and a
// record apart (wire::KindOfLength).
class MessageReader {
 public:
  enum Kind { kStatus, kCpuTime, kRecord };
  struct Message {
    Kind kind = kRecord;
    int marker = 0;        // status: 0xFF, or 0xFE for the answer to quit
    int code = 0;          // status: 1 hello / "are you there", 2 quit
    int pid = 0;           // status
    int clientId = 0;      // CPU time
    int experiment = 0;    // CPU time
    double seconds = 0.0;  // CPU time
    const unsigned char* data = nullptr;  // record: the whole record
    size_t size = 0;
  };
  enum Result { kNeedMore, kMessage, kError };

  // largestRecord bounds the length a record may announce; readChunk is the
  // room offered for the next read when no long message is under way.
  explicit MessageReader(size_t largestRecord, size_t readChunk = 256 * 1024);

  // Room for the next bytes of the stream (a message that has announced its
  // length gets room for all of it). Invalidates the previous message.
  char* Space(size_t* room);
  // The first n bytes of the room now hold received data.
  void Commit(size_t n);
  // The next complete message, if there is one. The message's data stays
  // valid until the next call of Space or Next. After kError the stream is
  // out of step and must be given up.
  Result Next(Message* message, std::string* error);
  // Bytes received and not yet returned in a message.
  size_t Buffered() const { return End - Begin; }

 private:
  size_t LargestRecordSize;
  size_t ReadChunk;
  std::vector<unsigned char> Buffer;
  size_t Begin = 0;
  size_t End = 0;
};

// Reads a binary result file: the header, then one record after another.
class ResultFileReader {
 public:
  enum Result { kRecord, kEnd, kError };

  // Opens the file and checks and reads its header.
  bool Open(const std::string& path, std::string* error);
  // Reads a result file held in memory as if it were the file `name`.
  bool OpenBytes(std::string bytes, const std::string& name, std::string* error);
  // The next record; kEnd at the end of the file; kError (with the reason)
  // for a record that does not decode, that the file ends inside, or whose
  // client or experiment differs from the first record's (records of two
  // writers).
  Result Next(int numNodes, Packet* packet, std::string* error);

  const std::string& Path() const { return FilePath; }
  // Header facts ("" when the header lacks them).
  std::string Experiment, Seed, Generator, Batches;
  long long RecordsRead = 0;
  long long Replications = 0;  // in the records read
  int ClientId = -1;           // of the first record (-1 before it is read)

 private:
  bool ReadHeader(std::string* error);

  std::string FilePath;
  std::unique_ptr<std::istream> In;
  unsigned long long FileSize = 0;
  unsigned long long Position = 0;
  int FirstExperiment = 0;
  std::vector<unsigned char> Record;
};

}  // namespace simmgr

#endif
