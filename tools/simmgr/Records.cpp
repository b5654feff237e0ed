#include "simmgr/Records.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "simulator/SimulatorClass.h"

namespace simmgr {

namespace {

const size_t kHeaderSize = 256;
const char kFileMagic[] = "TARVEX_SIM_BIN_FILE,256,";
// A record in a file may not be longer than this, whatever the file's size.
const unsigned long long kLargestFileRecord = 1ull << 31;

uint32_t BigEndian32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

int16_t BigEndian16(const unsigned char* p) {
  return static_cast<int16_t>((static_cast<uint16_t>(p[0]) << 8) | static_cast<uint16_t>(p[1]));
}

double BigEndianDouble(const unsigned char* p) {
  double raw;
  std::memcpy(&raw, p, sizeof raw);
  return SimulatorClass::EndianConvertDouble(raw);
}

}  // namespace

size_t LargestRecord(int numNodes, long long reportSize) {
  const unsigned long long n = static_cast<unsigned long long>(numNodes > 0 ? numNodes : 0);
  const unsigned long long c = static_cast<unsigned long long>(reportSize > 0 ? reportSize : 0);
  return static_cast<size_t>(9 + 2 * 7 * n + 2 * 8 * n * c);
}

bool DecodeRecord(const unsigned char* data, size_t size, int numNodes, Packet* packet,
                  RecordHeader* header, std::string* error) {
  if (size < 9) {
    *error = "record of " + std::to_string(size) + " bytes is shorter than its 9-byte head";
    return false;
  }
  const uint32_t length = BigEndian32(data);
  if (length != size) {
    *error = "record length field says " + std::to_string(length) + " bytes, but the record has " +
             std::to_string(size);
    return false;
  }
  header->clientId = data[4];
  header->experiment = BigEndian16(data + 5);
  const int entries = BigEndian16(data + 7);
  if (entries < 0 || entries > 2 * numNodes) {
    *error = "record announces " + std::to_string(entries) + " entries (at most " +
             std::to_string(2 * numNodes) + " possible)";
    return false;
  }

  packet->replications = 0;
  packet->counts.assign(static_cast<size_t>(numNodes), 0);
  packet->offsets.assign(static_cast<size_t>(numNodes), 0);
  packet->values.clear();
  std::vector<char> seen(static_cast<size_t>(2 * numNodes), 0);

  // First pass: check the layout and size the value array.
  size_t at = 9;
  size_t keep = 0;
  for (int e = 0; e < entries; e++) {
    if (size - at < 7) {
      *error = "record ends inside the head of entry " + std::to_string(e + 1) + " of " +
               std::to_string(entries);
      return false;
    }
    const int node = BigEndian16(data + at);
    const int kind = data[at + 2];
    const int32_t count = static_cast<int32_t>(BigEndian32(data + at + 3));
    if (node < 0 || node >= numNodes) {
      *error = "entry for node id " + std::to_string(node) + " (valid ids are 0.." +
               std::to_string(numNodes - 1) + ")";
      return false;
    }
    if (kind != 1 && kind != 2) {
      *error = "entry of unknown kind " + std::to_string(kind) + " for node " + std::to_string(node);
      return false;
    }
    if (count < 0 || static_cast<uint64_t>(count) * 8 > size - at - 7) {
      *error = "entry for node " + std::to_string(node) + " claims " + std::to_string(count) +
               " observations, more than the record holds";
      return false;
    }
    char& mark = seen[static_cast<size_t>((kind - 1) * numNodes + node)];
    if (mark) {
      *error = "node " + std::to_string(node) + " appears twice in one record";
      return false;
    }
    mark = 1;
    if (kind == 1) keep += static_cast<size_t>(count);
    at += 7 + 8 * static_cast<size_t>(count);
  }
  if (at != size) {
    *error = "record length " + std::to_string(size) + " does not match its entries (" +
             std::to_string(at) + " bytes)";
    return false;
  }

  // Second pass: the values.
  packet->values.resize(keep);
  at = 9;
  size_t next = 0;
  for (int e = 0; e < entries; e++) {
    const int node = BigEndian16(data + at);
    const int kind = data[at + 2];
    const int32_t count = static_cast<int32_t>(BigEndian32(data + at + 3));
    at += 7;
    if (kind == 1) {
      packet->counts[static_cast<size_t>(node)] = count;
      packet->offsets[static_cast<size_t>(node)] = next;
      for (int32_t i = 0; i < count; i++) {
        const double v = BigEndianDouble(data + at + 8 * static_cast<size_t>(i));
        if (!std::isfinite(v)) {
          *error = "observation " + std::to_string(i + 1) + " of node " + std::to_string(node) +
                   " is not a finite number";
          return false;
        }
        packet->values[next++] = v;
      }
      if (count > packet->replications) packet->replications = count;
    }
    at += 8 * static_cast<size_t>(count);
  }
  return true;
}

// ---- stream framing -------------------------------------------------------

MessageReader::MessageReader(size_t largestRecord, size_t readChunk)
    : LargestRecordSize(largestRecord), ReadChunk(readChunk > 0 ? readChunk : 1) {}

char* MessageReader::Space(size_t* room) {
  if (Begin > 0) {
    if (End > Begin) std::memmove(Buffer.data(), Buffer.data() + Begin, End - Begin);
    End -= Begin;
    Begin = 0;
  }
  size_t want = End + ReadChunk;
  // A record that has announced its length gets room for all of it, so that
  // long records arrive in few large reads.
  if (End >= 4) {
    const uint32_t length = BigEndian32(Buffer.data());
    if (length != 10 && length != 12 && length >= 9 && length <= LargestRecordSize && length > want)
      want = length;
  }
  if (Buffer.size() < want) Buffer.resize(want);
  *room = Buffer.size() - End;
  return reinterpret_cast<char*>(Buffer.data() + End);
}

void MessageReader::Commit(size_t n) { End += n; }

MessageReader::Result MessageReader::Next(Message* m, std::string* error) {
  const size_t have = End - Begin;
  if (have < 4) return kNeedMore;
  const unsigned char* p = Buffer.data() + Begin;
  const uint32_t length = BigEndian32(p);
  *m = Message();
  if (length == 10) {
    if (have < 10) return kNeedMore;
    if (p[4] != 0xFF && p[4] != 0xFE) {
      *error = "status message with marker " + std::to_string(p[4]) + " (expected 255 or 254)";
      return kError;
    }
    m->kind = kStatus;
    m->marker = p[4];
    m->code = p[5];
    m->pid = static_cast<int>(BigEndian32(p + 6));
    Begin += 10;
    return kMessage;
  }
  if (length == 12) {
    if (have < 16) return kNeedMore;
    if (p[4] != 0xFE) {
      *error = "CPU-time message with marker " + std::to_string(p[4]) + " (expected 254)";
      return kError;
    }
    m->kind = kCpuTime;
    m->clientId = p[5];
    m->experiment = BigEndian16(p + 6);
    m->seconds = BigEndianDouble(p + 8);
    Begin += 16;
    return kMessage;
  }
  if (length < 9 || length > LargestRecordSize) {
    *error = "message length " + std::to_string(length) + " is impossible (records here are 9 to " +
             std::to_string(LargestRecordSize) + " bytes long)";
    return kError;
  }
  if (have < length) return kNeedMore;
  m->kind = kRecord;
  m->data = p;
  m->size = length;
  Begin += length;
  return kMessage;
}

// ---- result files ---------------------------------------------------------

bool ResultFileReader::Open(const std::string& path, std::string* error) {
  FilePath = path;
  auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*file) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  In = std::move(file);
  return ReadHeader(error);
}

bool ResultFileReader::OpenBytes(std::string bytes, const std::string& name, std::string* error) {
  FilePath = name;
  In = std::make_unique<std::istringstream>(std::move(bytes), std::ios::binary);
  return ReadHeader(error);
}

bool ResultFileReader::ReadHeader(std::string* error) {
  In->seekg(0, std::ios::end);
  const std::streamoff size = In->tellg();
  In->seekg(0, std::ios::beg);
  FileSize = size > 0 ? static_cast<unsigned long long>(size) : 0;
  char head[kHeaderSize + 1] = {0};
  In->read(head, kHeaderSize);
  if (In->gcount() != static_cast<std::streamsize>(kHeaderSize) ||
      std::strncmp(head, kFileMagic, sizeof kFileMagic - 1) != 0) {
    *error = FilePath + " is not a binary result file (no 256-byte header starting with " +
             std::string(kFileMagic, sizeof kFileMagic - 2) + ")";
    return false;
  }
  Position = kHeaderSize;
  // key=value pieces separated by commas, up to the first NUL.
  const std::string text(head);
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string piece = text.substr(start, comma - start);
    const size_t eq = piece.find('=');
    if (eq != std::string::npos) {
      const std::string key = piece.substr(0, eq);
      const std::string value = piece.substr(eq + 1);
      if (key == "EXPERIMENTS") Experiment = value;
      else if (key == "SEED") Seed = value;
      else if (key == "RANDOMGEN") Generator = value;
      else if (key == "BATCHES") Batches = value;
    }
    start = comma + 1;
  }
  return true;
}

ResultFileReader::Result ResultFileReader::Next(int numNodes, Packet* packet, std::string* error) {
  if (Position >= FileSize) return kEnd;
  const std::string where = FilePath + ", record " + std::to_string(RecordsRead + 1) + " at byte " +
                            std::to_string(Position);
  const unsigned long long left = FileSize - Position;
  if (left < 4) {
    *error = where + ": the file ends inside the record's length field";
    return kError;
  }
  unsigned char lengthBytes[4];
  In->read(reinterpret_cast<char*>(lengthBytes), 4);
  if (In->gcount() != 4) {
    *error = where + ": read failed";
    return kError;
  }
  const uint32_t length = BigEndian32(lengthBytes);
  if (length < 9 || length > kLargestFileRecord) {
    *error = where + ": record length " + std::to_string(length) + " is impossible";
    return kError;
  }
  if (length > left) {
    *error = where + ": the file ends inside the record (" + std::to_string(length) + " bytes announced, " +
             std::to_string(left) + " left)";
    return kError;
  }
  Record.resize(length);
  std::memcpy(Record.data(), lengthBytes, 4);
  In->read(reinterpret_cast<char*>(Record.data()) + 4, static_cast<std::streamsize>(length - 4));
  if (In->gcount() != static_cast<std::streamsize>(length - 4)) {
    *error = where + ": read failed";
    return kError;
  }
  RecordHeader header;
  std::string reason;
  if (!DecodeRecord(Record.data(), Record.size(), numNodes, packet, &header, &reason)) {
    *error = where + ": " + reason;
    return kError;
  }
  if (RecordsRead == 0) {
    ClientId = header.clientId;
    FirstExperiment = header.experiment;
  } else if (header.clientId != ClientId || header.experiment != FirstExperiment) {
    *error = where + ": a record of client " + std::to_string(header.clientId) + ", experiment " +
             std::to_string(header.experiment) + " in a file whose first record is of client " +
             std::to_string(ClientId) + ", experiment " + std::to_string(FirstExperiment) +
             " (two writers in one file?)";
    return kError;
  }
  Position += length;
  RecordsRead++;
  Replications += packet->replications;
  return kRecord;
}

}  // namespace simmgr
