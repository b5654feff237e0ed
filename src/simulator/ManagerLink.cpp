// The simulation manager's link: the simulator is the TCP server. It binds a
// port (searching upwards from the configured one), listens, announces the
// port on standard output, accepts one manager (which must first send the
// shared secret when one is set), answers its one-byte commands and, during
// output passes, sends CPU-time messages and observation records. Socket
// failures never end the process: they end the link and stop the run (run
// state 2), and the run ends with its files closed. Every wait on the
// manager is bounded (the constants in SimulatorClass.h).
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <vector>

#include "network/RecordFormat.h"
#include "network/TarvexSocket.h"
#include "simulator/FileCommand.h"
#include "simulator/SimulatorClass.h"

namespace {

const int kTextLimit = 512;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Equal texts, in a time that depends only on the length of `offered`, so
// that the time taken tells nothing about how much of a guess was right.
bool sameSecret(const std::vector<char>& offered, const std::string& secret) {
  unsigned char difference = offered.size() != secret.size() ? 1 : 0;
  for (size_t i = 0; i < offered.size(); i++)
    difference |= static_cast<unsigned char>(offered[i] ^ secret[i % secret.size()]);
  return difference == 0;
}

// The manager's first message when a secret is set: int32 length N (1 to
// 1024), then N bytes, all within kSecretWaitMs.
bool receiveSecret(TarvexSocket& connection, const std::string& secret) {
  const long long deadline = nowMs() + SimulatorClass::kSecretWaitMs;
  char length[4];
  if (connection.RecvBlockWithin(length, 4, SimulatorClass::kSecretWaitMs) != 4) return false;
  const uint32_t n = wire::Get32(reinterpret_cast<const unsigned char*>(length));
  if (n < 1 || n > SimulatorClass::kLongestSecret) return false;
  std::vector<char> offered(n);
  const long long left = deadline - nowMs();
  if (left <= 0) return false;
  if (connection.RecvBlockWithin(offered.data(), static_cast<int>(n), static_cast<int>(left)) !=
      static_cast<int>(n))
    return false;
  return sameSecret(offered, secret);
}

// 1 when the socket is readable within timeoutMs, 0 when not, -1 when
// waiting failed. (A socket's error text stays after a failure it has
// recovered from, as a taken port in the port search, so it cannot tell.)
int readable(TarvexSocket* socket, int timeoutMs) {
  bool ready = false;
  const int r = TarvexSocket::SelectMany(&socket, 1, timeoutMs, &ready);
  return r < 0 ? -1 : ready ? 1 : 0;
}

}  // namespace

// Sends a status message. A reply that is a courtesy (the decision it reports is taken either way) does not end
// the link when it cannot be sent.
static bool sendStatus(SimulatorClass* sim, TarvexSocket* connection, unsigned char marker,
                       unsigned char code, bool courtesy = false) {
  char message[wire::kStatusLength];
  wire::Status status;
  status.marker = marker;
  status.code = code;
  status.pid = static_cast<int>(getpid());
  wire::EncodeStatus(status, message);
  if (courtesy)
    return connection->SendWithin(message, sizeof message, SimulatorClass::kSendStallMs) ==
           static_cast<int>(sizeof message);
  return sim->SendToManager(connection, message, sizeof message);
}

bool SimulatorClass::SendToManager(TarvexSocket* connection, const char* bytes, int n) {
  if (!connection || LinkFailed) return false;
  if (connection->SendWithin(bytes, n, kSendStallMs) == n) return true;
  if (connection->TimedOut())
    EndLink("the simulation manager took nothing sent to it for " +
            std::to_string(kSendStallMs / 1000) + " s");
  else
    EndLink("sending to the simulation manager failed (the connection is gone)");
  return false;
}

void SimulatorClass::EndLink(const std::string& reason) {
  LinkFailed = true;
  if (StopFlag == kRunning && LinkEndReason.empty() && !StopSignal) LinkEndReason = reason;
  StopFlag = kStop;
}

TarvexSocket* SimulatorClass::WaitForSimMgrConnection(int waitMs) {
  ListenSocket = std::make_unique<TarvexSocket>(true);
  const char* address = ListenAddress.empty() ? nullptr : ListenAddress.c_str();
  const std::string where = address ? " on " + ListenAddress : "";

  // Search upwards from the configured port for one that can be bound; a
  // port that is taken (or, below 1024, reserved) is skipped, but an address
  // that is not this machine's cannot be bound on any port.
  int port = static_cast<uint16_t>(Port);
  int first = port;
  while (!ListenSocket->Bind(port, address)) {
    if (ListenSocket->ErrorNumber() == EADDRNOTAVAIL) {
      EndLink("cannot listen for the simulation manager" + where +
              ": the address is not one of this machine's");
      return nullptr;
    }
    if (port >= 65535) {
      EndLink("no free port" + where + " between " + std::to_string(first) +
              " and 65535 to wait for the simulation manager on");
      return nullptr;
    }
    port++;
  }
  // Listening before the announcement: a manager that connects as soon as it
  // reads the port must find the port open.
  if (!ListenSocket->Listen(100)) {
    EndLink("cannot listen for the simulation manager on port " + std::to_string(port));
    return nullptr;
  }
  // Port 0 lets the system choose: announce the port actually bound.
  if (port == 0) port = ListenSocket->GetPort();
  Port = static_cast<int16_t>(static_cast<uint16_t>(port));
  std::cout << "REGISTER:  Port: [" << port << "]" << std::endl;

  const long long deadline = nowMs() + (waitMs > 0 ? waitMs : 0);
  while (StopFlag == kRunning && !StopSignalArrived()) {
    int slice = kWaitSliceMs;
    if (waitMs != -1) {
      const long long left = deadline - nowMs();
      if (left <= 0) break;
      if (left < slice) slice = static_cast<int>(left);
    }
    const int ready = readable(ListenSocket.get(), slice);
    if (ready < 0) {
      EndLink("waiting for the simulation manager failed");
      return nullptr;
    }
    if (ready == 0) continue;
    auto connection = std::make_unique<TarvexSocket>(false);
    if (!ListenSocket->Accept(*connection)) {
      // A connection that was given up before it was taken is no reason to
      // stop waiting; anything else (no descriptors left) would recur.
      const int error = ListenSocket->ErrorNumber();
      if (error == ECONNABORTED || error == EAGAIN || error == EPROTO || error == ENETDOWN)
        continue;
      EndLink("accepting the simulation manager's connection failed");
      return nullptr;
    }
    // A peer without the secret is turned away; the wait goes on within the
    // same budget.
    if (!Secret.empty() && !receiveSecret(*connection, Secret)) {
      std::cerr << "!! Rejected a manager connection: wrong or missing secret" << std::endl;
      continue;
    }
    LinkFailed = false;
    sendStatus(this, connection.get(), wire::kStatusMarker, 1);
    return connection.release();
  }
  if (StopFlag == kRunning && !StopSignal)
    EndLink("no simulation manager connected within " +
            (waitMs % 1000 == 0 ? std::to_string(waitMs / 1000) + " s" : std::to_string(waitMs) + " ms"));
  return nullptr;
}

void SimulatorClass::ListenToSimMgr(TarvexSocket* connection) {
  // The link is over for good: this connection is closed and forgotten.
  auto release = [&]() {
    if (connection == Connection.get()) Connection.reset();
    else connection->Close();
  };
  const int ready = readable(connection, 0);
  if (ready < 0) {
    std::cout << "Error reading socket 'select'... Exiting." << std::endl;
    EndLink("reading from the simulation manager failed");
    release();
  }
  if (ready <= 0) return;
  char command = 0;
  const int got = connection->Recv(&command, 1);
  if (got < 1) {
    if (got < 0) std::cout << "Error reading socket 'read'... Exiting." << std::endl;
    EndLink(got < 0 ? "reading from the simulation manager failed"
                    : "the simulation manager closed the connection");
    release();
    return;
  }
  switch (command) {
    case 1:
      sendStatus(this, connection, wire::kStatusMarker, 1);
      break;
    case 2:
      std::cout << "SOCKET::Quit" << std::endl;
      StopFlag = kStop;
      sendStatus(this, connection, wire::kReplyMarker, 2, true);
      break;
    case 3: {
      // The text, then every check, and only then the reply and the file: a
      // refused command writes nothing and is answered with (0xFE, 3).
      char text[kTextLimit + 1] = {0};
      const int length = connection->RecvBlockWithin(text, kTextLimit, ";;", kCommandWaitMs);
      std::string name, error;
      int32_t limit = 0;
      bool valid = ParseFileCommand(text, static_cast<size_t>(length), &name, &limit, &error);
      if (!valid && connection->TimedOut())
        error = "the rest of it did not come within " + std::to_string(kCommandWaitMs / 1000) + " s";
      std::unique_ptr<std::ofstream> file;
      if (valid && !HasBinFilename) {
        file = CreateNewBinFile(name, &error);
        valid = file != nullptr;
      }
      if (!valid) {
        EndLink("the simulation manager's file command was refused: " + error);
        sendStatus(this, connection, wire::kReplyMarker, 3, true);
        release();
        break;
      }
      sendStatus(this, connection, wire::kStatusMarker, 3, true);
      if (file) {
        MaxBatches = limit;
        BinFilename = name;
        HasBinFilename = true;
        BinStream = std::move(file);
        std::string header = CreateBinFileHeader(1);
        BinStream->write(header.data(), static_cast<std::streamsize>(header.size()));
        BinStream->flush();
        CheckStream(BinStream.get(), "binary", BinFilename);
      }
      // The manager is done with the link: output goes to the files only,
      // until the replication limit. Without a limit the run would never end.
      release();
      LinkFailed = true;
      if (MaxBatches <= 0)
        EndLink("the simulation manager let go of the connection, and the run has no "
                "replication limit (-N) to reach without it");
      break;
    }
    default:
      std::cerr << "!! Invalid Response Received by Client " << std::endl;
      std::cerr << "!! Simulation" << std::endl;
      break;
  }
}

void SimulatorClass::ListenToSimMgrLoop(TarvexSocket* connection) {
  while (StopFlag == kRunning) ListenToSimMgr(connection);
}

void SimulatorClass::OutputCPUTime(TarvexSocket* connection, double seconds) {
  char message[wire::kCpuTimeLength];
  wire::CpuTime cpu;
  cpu.clientId = ClientID;
  cpu.experiment = static_cast<int>(Experiment);
  cpu.seconds = seconds;
  wire::EncodeCpuTime(cpu, message);
  SendToManager(connection, message, sizeof message);
}

unsigned long SimulatorClass::StaticSocketThreadFunc(void* simulator) {
  return static_cast<SimulatorClass*>(simulator)->SocketThreadFunc();
}

unsigned long SimulatorClass::SocketThreadFunc() {
  while (StopFlag == kRunning && !Connection) {
    TarvexSocket* c = WaitForSimMgrConnection(-1);
    if (c) Connection.reset(c);
  }
  while (StopFlag == kRunning && Connection) ListenToSimMgr(Connection.get());
  return 0;
}
