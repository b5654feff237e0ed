// A stand-in for the simulator that misbehaves on purpose, for the tests of
// the simulation manager. It takes the simulator's command line after a mode
// word:
//
//   simmgr_fake_simulator garbage -w -p PORT -c ID -n SIZE ...
//     announces its port, greets, sends one good packet of SIZE replications
//     and then a record with an entry of unknown kind; then waits until the
//     manager hangs up.
//   simmgr_fake_simulator crash ...
//     announces, greets, sends one good packet and half of a second one,
//     then aborts.
//
// Both read the secret simmgr sends first (and end if it is not the one in
// their environment), as the simulator does.
//
// Its good packet observes 1 for every node of PV 1 ("SSIDandMAC") and 0
// elsewhere, which the real model never does at time 0: a test can see
// whether the packet was counted.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"

namespace {

const int kNodes = 168;
const int kTimePoints = 21;

void Put32(std::vector<char>* b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<char>((v >> s) & 0xff));
}
void Put16(std::vector<char>* b, uint16_t v) {
  b->push_back(static_cast<char>(v >> 8));
  b->push_back(static_cast<char>(v & 0xff));
}
void PutDouble(std::vector<char>* b, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int s = 56; s >= 0; s -= 8) b->push_back(static_cast<char>((bits >> s) & 0xff));
}

std::vector<char> Record(int client, int size, int badKind) {
  std::vector<char> b;
  Put32(&b, static_cast<uint32_t>(9 + 7 * kNodes + 8 * kNodes * size));
  b.push_back(static_cast<char>(client & 0xff));
  Put16(&b, 0);
  Put16(&b, kNodes);
  for (int node = 0; node < kNodes; node++) {
    Put16(&b, static_cast<uint16_t>(node));
    b.push_back(static_cast<char>(node == 5 && badKind ? badKind : 1));
    Put32(&b, static_cast<uint32_t>(size));
    for (int i = 0; i < size; i++) PutDouble(&b, node / kTimePoints == 1 ? 1.0 : 0.0);
  }
  return b;
}

bool Send(TarvexSocket& s, const std::vector<char>& b, size_t n) {
  return s.Send(b.data(), static_cast<int>(n)) > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: simmgr_fake_simulator garbage|crash SIMULATOR-OPTIONS" << std::endl;
    return 1;
  }
  const std::string mode = argv[1];
  int port = 10000, client = 0, size = 200;
  for (int i = 2; i + 1 < argc; i++) {
    const std::string a = argv[i];
    if (a == "-p") port = std::atoi(argv[++i]);
    else if (a == "-c") client = std::atoi(argv[++i]);
    else if (a == "-n") size = std::atoi(argv[++i]);
  }

  // Listening before the announcement, as the simulator does: simmgr
  // connects once, as soon as it reads the port.
  TarvexSocket listener(true);
  while (!listener.Bind(port)) port++;
  if (!listener.Listen(1)) return 1;
  std::cout << "REGISTER:  Port: [" << port << "]" << std::endl;
  if (!listener.Select(60000)) return 1;
  TarvexSocket link(false);
  if (!listener.Accept(link)) return 1;
  // simmgr's first message is the secret it gave this process: int32
  // length, then the bytes.
  const char* expected = std::getenv("TARVEX_MANAGER_SECRET");
  if (expected) {
    unsigned char length[4];
    if (link.RecvBlock(reinterpret_cast<char*>(length), 4) != 4) return 1;
    const uint32_t n = (uint32_t(length[0]) << 24) | (uint32_t(length[1]) << 16) |
                       (uint32_t(length[2]) << 8) | length[3];
    std::string secret(n <= 1024 ? n : 0, '\0');
    if (n > 1024 || link.RecvBlock(&secret[0], static_cast<int>(n)) != static_cast<int>(n) ||
        secret != expected) {
      std::cerr << "!! Rejected a manager connection: wrong or missing secret" << std::endl;
      return 1;
    }
  }

  std::vector<char> hello;
  Put32(&hello, 10);
  hello.push_back(static_cast<char>(0xFF));
  hello.push_back(1);
  Put32(&hello, static_cast<uint32_t>(TarvexProcess::CurrentPid()));
  std::vector<char> cpu;
  Put32(&cpu, 12);
  cpu.push_back(static_cast<char>(0xFE));
  cpu.push_back(static_cast<char>(client & 0xff));
  Put16(&cpu, 0);
  PutDouble(&cpu, 0.25);
  const std::vector<char> good = Record(client, size, 0);
  if (!Send(link, hello, hello.size()) || !Send(link, cpu, cpu.size()) || !Send(link, good, good.size()))
    return 1;

  if (mode == "crash") {
    Send(link, cpu, cpu.size());
    Send(link, good, good.size() / 2);
    std::abort();
  }
  const std::vector<char> bad = Record(client, size, 9);
  Send(link, cpu, cpu.size());
  Send(link, bad, bad.size());
  // Wait for the manager to hang up (or for a minute at most).
  char byte;
  for (int waited = 0; waited < 60; waited++) {
    if (link.Select(1000) && link.Recv(&byte, 1) <= 0) break;
  }
  return 0;
}
