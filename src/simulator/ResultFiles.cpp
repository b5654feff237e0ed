// The result files: the ASCII file (one line per observation) and the
// binary file (a 256-byte text header, then observation records, each also
// the data message sent to the manager). The bytes of the header and the
// records are the wire format's (network/RecordFormat.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "network/RecordFormat.h"
#include "network/TarvexSocket.h"
#include "simulator/PathTally.h"
#include "simulator/SimulatorClass.h"

namespace {

const char kVersion[] = "Version 2.5";

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
  wire::FileHeader header;
  header.version = kVersion;
  header.fileVersion = fileVersion;
  header.experiment = std::to_string(Experiment);
  header.seed = std::to_string(Seed ? Seed : 31415);
  header.generator = to_string(static_cast<RandomNumberGeneratorType>(RNGType));
  header.batches = std::to_string(ReplicationCount);
  return wire::EncodeFileHeader(header);
}

std::unique_ptr<std::ofstream> SimulatorClass::CreateBinFile(const char* name) {
  auto out = std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc | std::ios::binary);
  std::string header = CreateBinFileHeader(1);
  out->write(header.data(), static_cast<std::streamsize>(header.size()));
  return out;
}

void SimulatorClass::UpdateBinFileHeader(std::ofstream& out) {
  std::string header = CreateBinFileHeader(1);
  out.seekp(0);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
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
  if (PathsTally) {
    // Whole or not at all, as the tally of the replications written.
    std::string error;
    if (!PathsTally->WriteFile(PathsFileName, &error)) {
      errno = 0;
      ReportWriteFailure("paths", PathsFileName + " (" + error + ")");
    }
    Paths = nullptr;
    PathsTally.reset();
  }
}

// ---- records: to the manager (when connected), then to the stream --------

void SimulatorClass::OutputDataBinary(TarvexSocket* socket, std::ostream* stream, DataPacket* values,
                                      DataPacket* squares) {
  // The whole record is encoded first, then sent and written in one piece.
  const wire::ObservationTable squareTable = squares ? squares->table() : wire::ObservationTable();
  const std::vector<char>& record = Records.Encode(values->clientId, values->experiment,
                                                   values->table(), squares ? &squareTable : nullptr);
  if (socket && !LinkFailed) SendToManager(socket, record.data(), static_cast<int>(record.size()));
  if (stream) stream->write(record.data(), static_cast<std::streamsize>(record.size()));
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
