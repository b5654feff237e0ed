// The result files and the number encodings shared with the manager
// protocol: the ASCII file (one line per observation), the binary file (a
// 256-byte text header, then observation records) and the observation record
// itself, which is also the data message sent to the manager. Multi-byte
// numbers are big-endian; doubles are IEEE-754 binary64, most significant
// byte first.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "network/TarvexSocket.h"
#include "simulator/SimulatorClass.h"

namespace {

const char kVersion[] = "Version 2.5";
const int kHeaderLength = 256;

uint32_t toBigEndian32(uint32_t v) { return __builtin_bswap32(v); }
uint16_t toBigEndian16(uint16_t v) { return __builtin_bswap16(v); }

}  // namespace

std::string SimulatorClass::FormatAsciiValue(double value) {
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, "%.10lf", value);
  std::string text;
  if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
    text.assign(buffer, n);
  } else {
    // Only values beyond about 1e500 could need more room; doubles cannot.
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), "%.10lf", value);
    text.assign(big.data(), n);
  }
  size_t point = text.find('.');
  if (point != std::string::npos) {
    size_t end = text.size();
    while (end > point + 2 && text[end - 1] == '0') end--;
    text.resize(end);
  }
  return text;
}

std::unique_ptr<std::ofstream> SimulatorClass::CreateAsciiFile(const char* name) {
  auto out = std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc);
  uint32_t seed = Seed ? Seed : 31415;
  *out << "#TARVEX_SIM_ASCII_FILE," << "TARVEX_VER=" << kVersion << "," << "FILE_VER=" << 1 << ","
       << "EXPERIMENTS=" << Experiment << "," << "SEED=" << seed << "," << "RANDOMGEN="
       << to_string(static_cast<RandomNumberGeneratorType>(RNGType)) << "\n";
  *out << "#FORMAT: (PV ID Number),(PV Value)\n";
  return out;
}

void SimulatorClass::CloseAsciiFile(std::ofstream& out) {
  out << "#META_DATA," << "BATCHES=" << ReplicationCount << "\n";
  out.flush();
  if (CheckStream(&out, "ASCII", ASCIIFilename)) {
    out.close();
    CheckStream(&out, "ASCII", ASCIIFilename);
  } else {
    out.close();
  }
}

std::string SimulatorClass::CreateBinFileHeader(int fileVersion) {
  uint32_t seed = Seed ? Seed : 31415;
  std::string text = std::string("TARVEX_SIM_BIN_FILE,") + "256" + ",TARVEX_VER=" + kVersion +
                     ",FILE_VER=" + std::to_string(fileVersion) +
                     ",EXPERIMENTS=" + std::to_string(Experiment);
  // Each further piece only while the header text stays within 255
  // characters, and only if the piece before it was added.
  const std::string pieces[] = {
      ",SEED=" + std::to_string(seed),
      std::string(",RANDOMGEN=") + to_string(static_cast<RandomNumberGeneratorType>(RNGType)),
      ",BATCHES=" + std::to_string(ReplicationCount) + ",",
  };
  for (const std::string& piece : pieces) {
    if (text.size() + piece.size() > 255) break;
    text += piece;
  }
  text += ",";
  text.resize(kHeaderLength, '\0');
  return text;
}

std::unique_ptr<std::ofstream> SimulatorClass::CreateBinFile(const char* name) {
  auto out = std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc | std::ios::binary);
  std::string header = CreateBinFileHeader(1);
  out->write(header.data(), kHeaderLength);
  return out;
}

void SimulatorClass::UpdateBinFileHeader(std::ofstream& out) {
  std::string header = CreateBinFileHeader(1);
  out.seekp(0);
  out.write(header.data(), kHeaderLength);
  out.seekp(0, std::ios::end);
  out.flush();
  CheckStream(&out, "binary", BinFilename);
}

void SimulatorClass::CloseBinFile(std::ofstream& out) {
  UpdateBinFileHeader(out);
  if (out.good()) {
    out.close();
    CheckStream(&out, "binary", BinFilename);
  } else {
    out.close();
  }
}

std::unique_ptr<std::ofstream> SimulatorClass::CreateNewBinFile(const std::string& name,
                                                                std::string* error) {
  // Created exclusively, so that an existing file (or a link planted in its
  // place) is never written; the stream then opens the new, empty file
  // without truncating, and must be that very file.
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    *error = "cannot create " + name + ": " + std::strerror(errno);
    return nullptr;
  }
  auto out = std::make_unique<std::ofstream>(name, std::ios::in | std::ios::out | std::ios::binary);
  struct stat made, opened;
  bool same = out->good() && ::fstat(fd, &made) == 0 && ::stat(name.c_str(), &opened) == 0 &&
              made.st_dev == opened.st_dev && made.st_ino == opened.st_ino;
  ::close(fd);
  if (!same) {
    *error = "cannot open " + name + " after creating it";
    return nullptr;
  }
  return out;
}

void SimulatorClass::FinishResultFiles() {
  if (AsciiStream && AsciiStream->is_open()) CloseAsciiFile(*AsciiStream);
  if (BinStream && BinStream->is_open()) CloseBinFile(*BinStream);
  AsciiStream.reset();
  BinStream.reset();
}

double SimulatorClass::EndianConvertDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = __builtin_bswap64(bits);
  double swapped;
  std::memcpy(&swapped, &bits, sizeof swapped);
  return swapped;
}

// ---- encoders: to the manager (when connected), then to the stream ------

namespace {

// Sends one encoded field; a failed send ends the link (and the run), so
// that later fields go to the stream only and the file stays whole.
bool sendField(SimulatorClass* sim, TarvexSocket* socket, const char* bytes, int n) {
  if (!socket || sim->LinkFailed) return true;
  return sim->SendToManager(socket, bytes, n);
}

}  // namespace

int SimulatorClass::Output(TarvexSocket* socket, std::ostream* stream, const double* values, int n) {
  if (n <= 0) return 0;
  if (OutputBuffer.size() < static_cast<size_t>(n)) OutputBuffer.resize(n);
  for (int i = 0; i < n; i++) OutputBuffer[i] = EndianConvertDouble(values[i]);
  const char* bytes = reinterpret_cast<const char*>(OutputBuffer.data());
  int length = 8 * n;
  bool sent = sendField(this, socket, bytes, length);
  if (stream) stream->write(bytes, length);
  return sent ? length : -1;
}

int SimulatorClass::OutputInt(TarvexSocket* socket, std::ostream* stream, int32_t value) {
  uint32_t v = toBigEndian32(static_cast<uint32_t>(value));
  bool sent = sendField(this, socket, reinterpret_cast<const char*>(&v), 4);
  if (stream) stream->write(reinterpret_cast<const char*>(&v), 4);
  return sent ? 4 : -1;
}

int SimulatorClass::OutputShort(TarvexSocket* socket, std::ostream* stream, int16_t value) {
  uint16_t v = toBigEndian16(static_cast<uint16_t>(value));
  bool sent = sendField(this, socket, reinterpret_cast<const char*>(&v), 2);
  if (stream) stream->write(reinterpret_cast<const char*>(&v), 2);
  return sent ? 2 : -1;
}

int SimulatorClass::OutputByte(TarvexSocket* socket, std::ostream* stream, char value) {
  bool sent = sendField(this, socket, &value, 1);
  if (stream) stream->write(&value, 1);
  return sent ? 1 : -1;
}

void SimulatorClass::OutputDataBinary(TarvexSocket* socket, std::ostream* stream, DataPacket* values,
                                      DataPacket* squares) {
  int64_t entries = 0;
  int64_t observations = 0;
  for (DataPacket* p : {values, squares}) {
    if (!p) continue;
    for (int i = 0; i < p->numPVs; i++) {
      if (p->counts[i] > 0) {
        entries++;
        observations += p->counts[i];
      }
    }
  }
  int64_t length = 9 + 7 * entries + 8 * observations;

  // The whole record is encoded first, then sent and written in one piece
  // (the same bytes as field by field).
  RecordBuffer.resize(static_cast<size_t>(length));
  char* out = RecordBuffer.data();
  auto put32 = [&out](uint32_t v) {
    v = toBigEndian32(v);
    std::memcpy(out, &v, 4);
    out += 4;
  };
  auto put16 = [&out](uint16_t v) {
    v = toBigEndian16(v);
    std::memcpy(out, &v, 2);
    out += 2;
  };
  put32(static_cast<uint32_t>(length));
  *out++ = static_cast<char>(values->clientId & 0xff);
  put16(static_cast<uint16_t>(values->experiment));
  put16(static_cast<uint16_t>(entries));
  char kind = 1;
  for (DataPacket* p : {values, squares}) {
    if (!p) continue;
    // Entry headers first, noting where each entry's values go; then the
    // values, a block of PVs at a time, so that each observation's values
    // (side by side in the packet) are read once.
    EntryStarts.assign(p->numPVs, nullptr);
    for (int i = 0; i < p->numPVs; i++) {
      int32_t c = p->counts[i];
      if (c <= 0) continue;
      put16(static_cast<uint16_t>(i));
      *out++ = kind;
      put32(static_cast<uint32_t>(c));
      EntryStarts[i] = out;
      out += 8 * static_cast<size_t>(c);
    }
    const int kBlock = 8;
    for (int first = 0; first < p->numPVs; first += kBlock) {
      int last = std::min(first + kBlock, p->numPVs);
      int most = 0;
      for (int i = first; i < last; i++) most = std::max(most, p->counts[i]);
      for (int k = 0; k < most; k++) {
        const double* row = p->observation(k);
        for (int i = first; i < last; i++) {
          if (k >= p->counts[i]) continue;
          uint64_t bits;
          std::memcpy(&bits, row + i, 8);
          bits = __builtin_bswap64(bits);
          std::memcpy(EntryStarts[i] + 8 * static_cast<size_t>(k), &bits, 8);
        }
      }
    }
    kind = 2;
  }
  if (socket && !LinkFailed) SendToManager(socket, RecordBuffer.data(), static_cast<int>(length));
  if (stream) stream->write(RecordBuffer.data(), static_cast<std::streamsize>(length));
}

void SimulatorClass::OutputDataCSV(std::ostream& out, DataPacket* values, DataPacket* squares) {
  for (int i = 0; i < values->numPVs; i++) {
    for (int k = 0; k < values->counts[i]; k++) {
      out << i << "," << FormatAsciiValue(values->at(i, k));
      if (squares) out << "," << FormatAsciiValue(squares->at(i, k));
      out << "\n";
    }
  }
}

// ---- write failures ----------------------------------------------------

void SimulatorClass::ReportWriteFailure(const char* what, const std::string& name) {
  if (OutputFailed) return;
  OutputFailed = true;
  int error = errno;
  std::cout.flush();
  std::cerr << "ERROR: writing the " << what << " result file " << name << " failed: "
            << (error ? std::strerror(error) : "write error") << "; the run stops" << std::endl;
  StopFlag = kStop;
  ExitStatus = 1;
}

bool SimulatorClass::CheckStream(std::ostream* stream, const char* what, const std::string& name) {
  if (!stream || stream->good()) return true;
  ReportWriteFailure(what, name);
  return false;
}
