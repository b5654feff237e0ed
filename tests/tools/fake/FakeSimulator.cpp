// A stand-in for the simulator that misbehaves on purpose, for the tests of
// the simulation manager. It takes the simulator's command line after a mode
// word:
//
//   simmgr_fake_simulator garbage -w -p PORT -c ID -n SIZE [-M FILE] ...
//     announces its port, greets, sends one good packet of SIZE replications
//     and then a record with an entry of unknown kind; then waits until the
//     manager hangs up.
//   simmgr_fake_simulator crash ...
//     announces, greets, sends one good packet and half of a second one,
//     then aborts.
//
// Both read the secret simmgr sends first (and end if it is not the one in
// their environment), as the simulator does. Their records cover the nodes
// of the model's measures (the built-in model, or the file of -M).
//
// Its good packet observes 1 for every node of the model's second PV and 0
// elsewhere, which the built-in model never does at time 0: a test can see
// whether the packet was counted.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "network/RecordFormat.h"
#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"
#include "results/ModelLayout.h"

namespace {

// A record of `size` observations of every node; with badKind, the entry of
// node 5 (or the last node) carries that kind instead of the values kind.
std::vector<char> Record(const MeasureLayout& layout, int client, int size, int badKind) {
  const int nodes = layout.numNodes;
  std::vector<double> values(static_cast<size_t>(nodes) * static_cast<size_t>(size));
  for (int k = 0; k < size; k++)
    for (int i = 0; i < nodes; i++)
      values[static_cast<size_t>(k) * nodes + i] = layout.nodes[static_cast<size_t>(i)].pv == 1 ? 1.0 : 0.0;
  const std::vector<int32_t> counts(static_cast<size_t>(nodes), size);
  wire::RecordEncoder encoder;
  std::vector<char> record = encoder.Encode(client, 0, {nodes, counts.data(), values.data()}, nullptr);
  if (badKind) {
    const int node = nodes > 5 ? 5 : nodes - 1;
    record[static_cast<size_t>(wire::kRecordHead + node * (wire::kEntryHead + 8 * size) + 2)] =
        static_cast<char>(badKind);
  }
  return record;
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
  std::string model = ModelCatalogue::kDefaultModel;
  for (int i = 2; i + 1 < argc; i++) {
    const std::string a = argv[i];
    if (a == "-p") port = std::atoi(argv[++i]);
    else if (a == "-c") client = std::atoi(argv[++i]);
    else if (a == "-n") size = std::atoi(argv[++i]);
    else if (a == "-M") model = argv[++i];
  }
  MeasureLayout layout;
  if (!OpenModelLayout(model, &layout, std::cerr) || layout.numNodes < 1) return 1;

  // Listening before the announcement, as the simulator does: simmgr
  // connects once, as soon as it reads the port.
  TarvexSocket listener(true);
  while (!listener.Bind(port)) port++;
  if (!listener.Listen(1)) return 1;
  std::cout << "REGISTER:  Port: [" << port << "]" << std::endl;
  if (!listener.Select(60000)) return 1;
  TarvexSocket link(false);
  if (!listener.Accept(link)) return 1;
  // simmgr's first message is the secret it gave this process.
  const char* expected = std::getenv("TARVEX_MANAGER_SECRET");
  if (expected) {
    unsigned char length[4];
    if (link.RecvBlock(reinterpret_cast<char*>(length), 4) != 4) return 1;
    const uint32_t n = wire::Get32(length);
    std::string secret(n <= wire::kLongestSecret ? n : 0, '\0');
    if (n > wire::kLongestSecret ||
        link.RecvBlock(&secret[0], static_cast<int>(n)) != static_cast<int>(n) || secret != expected) {
      std::cerr << "!! Rejected a manager connection: wrong or missing secret" << std::endl;
      return 1;
    }
  }

  std::vector<char> hello(wire::kStatusLength);
  wire::EncodeStatus({wire::kStatusMarker, 1, static_cast<int>(TarvexProcess::CurrentPid())}, hello.data());
  std::vector<char> cpu(wire::kCpuTimeLength);
  wire::EncodeCpuTime({client, 0, 0.25}, cpu.data());
  const std::vector<char> good = Record(layout, client, size, 0);
  if (!Send(link, hello, hello.size()) || !Send(link, cpu, cpu.size()) || !Send(link, good, good.size()))
    return 1;

  if (mode == "crash") {
    Send(link, cpu, cpu.size());
    Send(link, good, good.size() / 2);
    std::abort();
  }
  const std::vector<char> bad = Record(layout, client, size, 9);
  Send(link, cpu, cpu.size());
  Send(link, bad, bad.size());
  // Wait for the manager to hang up (or for a minute at most).
  char byte;
  for (int waited = 0; waited < 60; waited++) {
    if (link.Select(1000) && link.Recv(&byte, 1) <= 0) break;
  }
  return 0;
}
