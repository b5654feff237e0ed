// The simulation manager's link: the simulator is the TCP server. It binds a
// port (searching upwards from the configured one), announces it on standard
// output, accepts one manager, answers its one-byte commands and, during
// output passes, sends CPU-time messages and observation records. Socket
// failures never end the process: they stop the run (run state 2), and the
// run ends normally with its files closed.
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "network/TarvexSocket.h"
#include "simulator/SimulatorClass.h"

namespace {

const int kTextLimit = 512;

void putInt32(char* p, int32_t v) {
  uint32_t be = __builtin_bswap32(static_cast<uint32_t>(v));
  std::memcpy(p, &be, 4);
}

// A command 3 text is "name;number;;" with a non-empty name and a positive
// decimal number.
bool parseFileCommand(const char* text, std::string* name, int32_t* limit) {
  const char* sep = std::strchr(text, ';');
  if (!sep || sep == text) return false;
  const char* digits = sep + 1;
  const char* end = digits;
  while (*end >= '0' && *end <= '9') end++;
  if (end == digits || std::strcmp(end, ";;") != 0) return false;
  long long value = 0;
  for (const char* p = digits; p < end; p++) {
    value = value * 10 + (*p - '0');
    if (value > 0x7fffffff) return false;
  }
  if (value <= 0) return false;
  name->assign(text, sep - text);
  *limit = static_cast<int32_t>(value);
  return true;
}

}  // namespace

// Status message: int32 10, marker, code, int32 process id.
static bool sendStatus(SimulatorClass* sim, TarvexSocket* connection, unsigned char marker,
                       unsigned char code) {
  char message[10];
  putInt32(message, 10);
  message[4] = static_cast<char>(marker);
  message[5] = static_cast<char>(code);
  putInt32(message + 6, static_cast<int32_t>(getpid()));
  if (connection->Send(message, sizeof message) > 0) return true;
  sim->StopFlag = SimulatorClass::kStop;
  sim->LinkFailed = true;
  return false;
}

TarvexSocket* SimulatorClass::WaitForSimMgrConnection(int waitMs) {
  ListenSocket = std::make_unique<TarvexSocket>(true);
  auto connection = std::make_unique<TarvexSocket>(false);

  // Search upwards from the configured port for one that can be bound.
  int port = static_cast<uint16_t>(Port);
  int first = port;
  while (!ListenSocket->Bind(port)) {
    if (port >= 65535) {
      std::cerr << "!! No free port between " << first << " and 65535: not waiting for the "
                << "simulation manager" << std::endl;
      StopFlag = kStop;
      return nullptr;
    }
    port++;
  }
  // Port 0 lets the system choose: announce the port actually bound.
  if (port == 0) port = ListenSocket->GetPort();
  Port = static_cast<int16_t>(static_cast<uint16_t>(port));
  std::cout << "REGISTER:  Port: [" << port << "]" << std::endl;
  ListenSocket->Listen(100);

  bool connected = false;
  int remaining = waitMs;
  const int step = AcceptWaitMs > 0 ? AcceptWaitMs : 1;
  while (StopFlag == kRunning && !connected) {
    if (waitMs == -1 || remaining > 0) {
      if (ListenSocket->Select(step) && ListenSocket->Accept(*connection)) {
        connected = true;
        sendStatus(this, connection.get(), 0xFF, 1);
      } else if (waitMs != -1) {
        remaining -= step;
      }
    } else {
      break;
    }
  }
  if (!connected) return nullptr;
  LinkFailed = false;
  return connection.release();
}

void SimulatorClass::ListenToSimMgr(TarvexSocket* connection) {
  if (!connection->Select(0)) {
    if (connection->GetErrorString()) {
      std::cout << "Error reading socket 'select'... Exiting." << std::endl;
      StopFlag = kStop;
    }
    return;
  }
  char command = 0;
  if (connection->RecvBlock(&command, 1) < 1) {
    if (connection->GetErrorString()) {
      std::cout << "Error reading socket 'read'... Exiting." << std::endl;
      StopFlag = kStop;
    }
    return;
  }
  switch (command) {
    case 1:
      sendStatus(this, connection, 0xFF, 1);
      break;
    case 2:
      std::cout << "SOCKET::Quit" << std::endl;
      sendStatus(this, connection, 0xFE, 2);
      StopFlag = kStop;
      break;
    case 3: {
      char text[kTextLimit + 1] = {0};
      connection->RecvBlock(text, kTextLimit, ";;");
      std::string name;
      int32_t limit = 0;
      bool valid = parseFileCommand(text, &name, &limit);
      if (!valid)
        std::cerr << "!! Invalid file command from the simulation manager: \"" << text
                  << "\" (expected name;number;;)" << std::endl;
      sendStatus(this, connection, 0xFF, 3);
      if (valid && !HasBinFilename) {
        MaxBatches = limit;
        BinFilename = name;
        HasBinFilename = true;
        BinStream = CreateBinFile(name.c_str());
        if (!BinStream->good()) {
          std::cerr << "ERROR: cannot open binary result file " << name << ": "
                    << std::strerror(errno) << std::endl;
          BinStream.reset();
        }
      }
      // The manager is done with the link: output goes to the files only.
      if (connection == Connection.get()) Connection.reset();
      else connection->Close();
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
  char message[16];
  putInt32(message, 12);
  message[4] = static_cast<char>(0xFE);
  message[5] = static_cast<char>(ClientID & 0xff);
  uint16_t experiment = __builtin_bswap16(static_cast<uint16_t>(Experiment));
  std::memcpy(message + 6, &experiment, 2);
  double be = EndianConvertDouble(seconds);
  std::memcpy(message + 8, &be, 8);
  if (connection->Send(message, sizeof message) <= 0) {
    StopFlag = kStop;
    LinkFailed = true;
  }
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
