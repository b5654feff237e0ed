#include "simmgr/Records.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>


namespace simmgr {

namespace {

// A record in a file may not be longer than this, whatever the file's size.
const unsigned long long kLargestFileRecord = 1ull << 31;

}  // namespace

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
    const uint32_t length = wire::Get32(Buffer.data());
    if (wire::KindOfLength(length) == wire::MessageKind::kRecord && length >= wire::kRecordHead &&
        length <= LargestRecordSize && length > want)
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
  const uint32_t length = wire::Get32(p);
  *m = Message();
  switch (wire::KindOfLength(length)) {
    case wire::MessageKind::kStatus: {
      if (have < wire::kStatusLength) return kNeedMore;
      wire::Status status;
      if (!wire::DecodeStatus(p, &status, error)) return kError;
      m->kind = kStatus;
      m->marker = status.marker;
      m->code = status.code;
      m->pid = status.pid;
      Begin += wire::kStatusLength;
      return kMessage;
    }
    case wire::MessageKind::kCpuTime: {
      if (have < wire::kCpuTimeLength) return kNeedMore;
      wire::CpuTime cpu;
      if (!wire::DecodeCpuTime(p, &cpu, error)) return kError;
      m->kind = kCpuTime;
      m->clientId = cpu.clientId;
      m->experiment = cpu.experiment;
      m->seconds = cpu.seconds;
      Begin += wire::kCpuTimeLength;
      return kMessage;
    }
    case wire::MessageKind::kRecord:
      break;
  }
  if (length < wire::kRecordHead || length > LargestRecordSize) {
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
  char head[wire::kFileHeaderLength] = {0};
  In->read(head, wire::kFileHeaderLength);
  wire::FileHeader header;
  if (In->gcount() != static_cast<std::streamsize>(wire::kFileHeaderLength) ||
      !wire::DecodeFileHeader(head, &header)) {
    *error = FilePath + " is not a binary result file (no 256-byte header starting with " +
             std::string(wire::kFileMagic, std::strlen(wire::kFileMagic) - 1) + ")";
    return false;
  }
  Position = wire::kFileHeaderLength;
  Experiment = header.experiment;
  Seed = header.seed;
  Generator = header.generator;
  Batches = header.batches;
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
  const uint32_t length = wire::Get32(lengthBytes);
  if (length < wire::kRecordHead || length > kLargestFileRecord) {
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
