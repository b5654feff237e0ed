#include "network/RecordFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wire {

const char kFileMagic[] = "TARVEX_SIM_BIN_FILE,256,";

size_t LargestRecord(int numNodes, long long reportSize) {
  const int64_t n = numNodes > 0 ? numNodes : 0;
  const int64_t c = reportSize > 0 ? reportSize : 0;
  return static_cast<size_t>(RecordLength(2 * n, 2 * n * c));
}

const std::vector<char>& RecordEncoder::Encode(int clientId, int experiment,
                                               const ObservationTable& values,
                                               const ObservationTable* squares) {
  const ObservationTable* tables[2] = {&values, squares};
  int64_t entries = 0;
  int64_t observations = 0;
  for (const ObservationTable* t : tables) {
    if (!t) continue;
    for (int i = 0; i < t->numNodes; i++) {
      if (t->counts[i] > 0) {
        entries++;
        observations += t->counts[i];
      }
    }
  }
  const int64_t length = RecordLength(entries, observations);
  Buffer.resize(static_cast<size_t>(length));
  char* out = Buffer.data();
  Put32(out, static_cast<uint32_t>(length));
  out[4] = static_cast<char>(clientId & 0xff);
  Put16(out + 5, static_cast<uint16_t>(experiment));
  Put16(out + 7, static_cast<uint16_t>(entries));
  out += kRecordHead;
  int kind = kValuesKind;
  for (const ObservationTable* t : tables) {
    if (!t) continue;
    // Entry heads first, noting where each entry's values go; then the
    // values, a block of nodes at a time, so that each observation's values
    // (side by side in the table) are read once.
    EntryStarts.assign(static_cast<size_t>(std::max(t->numNodes, 0)), nullptr);
    for (int i = 0; i < t->numNodes; i++) {
      const int32_t c = t->counts[i];
      if (c <= 0) continue;
      Put16(out, static_cast<uint16_t>(i));
      out[2] = static_cast<char>(kind);
      Put32(out + 3, static_cast<uint32_t>(c));
      out += kEntryHead;
      EntryStarts[static_cast<size_t>(i)] = out;
      out += 8 * static_cast<size_t>(c);
    }
    const int kBlock = 8;
    for (int first = 0; first < t->numNodes; first += kBlock) {
      const int last = std::min(first + kBlock, t->numNodes);
      int most = 0;
      for (int i = first; i < last; i++) most = std::max(most, t->counts[i]);
      for (int k = 0; k < most; k++) {
        const double* row = t->values + static_cast<size_t>(k) * static_cast<size_t>(t->numNodes);
        for (int i = first; i < last; i++)
          if (k < t->counts[i])
            PutDouble(EntryStarts[static_cast<size_t>(i)] + 8 * static_cast<size_t>(k), row[i]);
      }
    }
    kind = kSquaresKind;
  }
  return Buffer;
}

bool DecodeRecord(const unsigned char* data, size_t size, int numNodes, Packet* packet,
                  RecordHeader* header, std::string* error) {
  if (size < kRecordHead) {
    *error = "record of " + std::to_string(size) + " bytes is shorter than its 9-byte head";
    return false;
  }
  const uint32_t length = Get32(data);
  if (length != size) {
    *error = "record length field says " + std::to_string(length) + " bytes, but the record has " +
             std::to_string(size);
    return false;
  }
  header->clientId = data[4];
  header->experiment = static_cast<int16_t>(Get16(data + 5));
  const int entries = static_cast<int16_t>(Get16(data + 7));
  if (entries < 0 || entries > 2 * numNodes) {
    *error = "record announces " + std::to_string(entries) + " entries (at most " +
             std::to_string(2 * numNodes) + " possible)";
    return false;
  }

  packet->replications = 0;
  packet->counts.assign(static_cast<size_t>(numNodes), 0);
  packet->offsets.assign(static_cast<size_t>(numNodes), 0);
  std::vector<char> seen(static_cast<size_t>(2 * numNodes), 0);

  // First pass: check the layout and size the value array.
  size_t at = kRecordHead;
  size_t keep = 0;
  for (int e = 0; e < entries; e++) {
    if (size - at < kEntryHead) {
      *error = "record ends inside the head of entry " + std::to_string(e + 1) + " of " +
               std::to_string(entries);
      return false;
    }
    const int node = static_cast<int16_t>(Get16(data + at));
    const int kind = data[at + 2];
    const int32_t count = static_cast<int32_t>(Get32(data + at + 3));
    if (node < 0 || node >= numNodes) {
      *error = "entry for node id " + std::to_string(node) + " (valid ids are 0.." +
               std::to_string(numNodes - 1) + ")";
      return false;
    }
    if (kind != kValuesKind && kind != kSquaresKind) {
      *error = "entry of unknown kind " + std::to_string(kind) + " for node " + std::to_string(node);
      return false;
    }
    if (count < 0 || static_cast<uint64_t>(count) * 8 > size - at - kEntryHead) {
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
    if (kind == kValuesKind) keep += static_cast<size_t>(count);
    at += kEntryHead + 8 * static_cast<size_t>(count);
  }
  if (at != size) {
    *error = "record length " + std::to_string(size) + " does not match its entries (" +
             std::to_string(at) + " bytes)";
    return false;
  }

  // Second pass: the values. Every one of the keep values is written below,
  // so a reused packet of the same size is not cleared first.
  packet->values.resize(keep);
  at = kRecordHead;
  size_t next = 0;
  for (int e = 0; e < entries; e++) {
    const int node = static_cast<int16_t>(Get16(data + at));
    const int kind = data[at + 2];
    const int32_t count = static_cast<int32_t>(Get32(data + at + 3));
    at += kEntryHead;
    if (kind == kValuesKind) {
      packet->counts[static_cast<size_t>(node)] = count;
      packet->offsets[static_cast<size_t>(node)] = next;
      for (int32_t i = 0; i < count; i++) {
        const double v = GetDouble(data + at + 8 * static_cast<size_t>(i));
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

void EncodeStatus(const Status& status, char* out) {
  Put32(out, kStatusLength);
  out[4] = static_cast<char>(status.marker);
  out[5] = static_cast<char>(status.code);
  Put32(out + 6, static_cast<uint32_t>(status.pid));
}

void EncodeCpuTime(const CpuTime& cpu, char* out) {
  Put32(out, kCpuTimeField);
  out[4] = static_cast<char>(kReplyMarker);
  out[5] = static_cast<char>(cpu.clientId & 0xff);
  Put16(out + 6, static_cast<uint16_t>(cpu.experiment));
  PutDouble(out + 8, cpu.seconds);
}

bool DecodeStatus(const unsigned char* data, Status* status, std::string* error) {
  if (data[4] != kStatusMarker && data[4] != kReplyMarker) {
    *error = "status message with marker " + std::to_string(data[4]) + " (expected 255 or 254)";
    return false;
  }
  status->marker = data[4];
  status->code = data[5];
  status->pid = static_cast<int>(Get32(data + 6));
  return true;
}

bool DecodeCpuTime(const unsigned char* data, CpuTime* cpu, std::string* error) {
  if (data[4] != kReplyMarker) {
    *error = "CPU-time message with marker " + std::to_string(data[4]) + " (expected 254)";
    return false;
  }
  cpu->clientId = data[5];
  cpu->experiment = static_cast<int16_t>(Get16(data + 6));
  cpu->seconds = GetDouble(data + 8);
  return true;
}

MessageKind KindOfLength(uint32_t length) {
  if (length == kStatusLength) return MessageKind::kStatus;
  if (length == kCpuTimeField) return MessageKind::kCpuTime;
  return MessageKind::kRecord;
}

std::string EncodeSecret(const std::string& secret) {
  std::string bytes(4, '\0');
  Put32(&bytes[0], static_cast<uint32_t>(secret.size()));
  return bytes + secret;
}

std::string EncodeFileHeader(const FileHeader& h) {
  std::string text = std::string(kFileMagic) + "TARVEX_VER=" + h.version +
                     ",FILE_VER=" + std::to_string(h.fileVersion) + ",EXPERIMENTS=" + h.experiment;
  const std::string pieces[] = {
      ",SEED=" + h.seed,
      ",RANDOMGEN=" + h.generator,
      ",BATCHES=" + h.batches + ",",
  };
  for (const std::string& piece : pieces) {
    if (text.size() + piece.size() > kFileHeaderLength - 1) break;
    text += piece;
  }
  text += ",";
  text.resize(kFileHeaderLength, '\0');
  return text;
}

bool DecodeFileHeader(const char* bytes, FileHeader* header) {
  if (std::strncmp(bytes, kFileMagic, sizeof kFileMagic - 1) != 0) return false;
  *header = FileHeader();
  // key=value pieces separated by commas, up to the first NUL.
  const std::string text(bytes, strnlen(bytes, kFileHeaderLength));
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string piece = text.substr(start, comma - start);
    const size_t eq = piece.find('=');
    if (eq != std::string::npos) {
      const std::string key = piece.substr(0, eq);
      const std::string value = piece.substr(eq + 1);
      if (key == "TARVEX_VER") header->version = value;
      else if (key == "FILE_VER") header->fileVersion = std::atoi(value.c_str());
      else if (key == "EXPERIMENTS") header->experiment = value;
      else if (key == "SEED") header->seed = value;
      else if (key == "RANDOMGEN") header->generator = value;
      else if (key == "BATCHES") header->batches = value;
    }
    start = comma + 1;
  }
  return true;
}

}  // namespace wire
