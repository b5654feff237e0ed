// The simulation-manager link end to end: real simulator processes, a test
// manager on loopback sockets, and the binary result files they write.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ManagerClient.h"
#include "network/TarvexSocket.h"
#include "simulator/SimulatorClass.h"

using namespace mgrtest;

namespace {

const int kNodes = 168;  // 8 PVs x 21 time points

// A random start for the simulator's upward port search.
std::string randomPort() {
  std::mt19937 rng(std::random_device{}());
  return std::to_string(std::uniform_int_distribution<int>(20000, 60000)(rng));
}

std::string command(char c) { return std::string(1, c); }

// Every CPU-time message is directly followed by an observation record and
// every record is preceded by one; returns the records in order.
std::vector<Message> checkPairs(const std::vector<Message>& all, int clientId) {
  std::vector<Message> records;
  for (size_t i = 0; i < all.size(); i++) {
    if (all[i].kind == Kind::CpuTime) {
      EXPECT_EQ(all[i].clientId(), clientId);
      EXPECT_EQ(all[i].experiment(), 0);
      EXPECT_TRUE(std::isfinite(all[i].seconds()) && all[i].seconds() >= 0.0);
      EXPECT_TRUE(i + 1 < all.size() && all[i + 1].kind == Kind::Record) << "message " << i;
    } else if (all[i].kind == Kind::Record) {
      EXPECT_TRUE(i > 0 && all[i - 1].kind == Kind::CpuTime) << "message " << i;
      records.push_back(all[i]);
    }
  }
  return records;
}

// A simulator started with -w and a manager connected to it that has read
// the greeting status message.
struct Session {
  TempDir dir;
  std::unique_ptr<SimProcess> sim;
  ManagerClient manager;
  Message hello;

  // `early` is sent right after connecting, before anything is read; the
  // simulator takes it up at its next poll.
  bool start(std::vector<std::string> args, const std::string& early = "") {
    args.insert(args.begin(), {"-w", "-p", randomPort()});
    sim = std::make_unique<SimProcess>(dir.path(), args);
    int port = sim->waitForPort();
    if (port <= 0 || !manager.connect(port)) return false;
    if (!early.empty() && !manager.send(early)) return false;
    hello = manager.next();
    return hello.kind == Kind::Status;
  }
  // Messages up to the first status message, which is returned; `sent`
  // receives the observations per PV of the records before it.
  Message untilReply(size_t* sent = nullptr, int timeoutMs = kPatienceMs) {
    std::vector<Message> seen = manager.untilStatus(timeoutMs);
    checkPairs(std::vector<Message>(seen.begin(), seen.end() - 1), 0);
    if (sent) *sent = 0;
    for (const Message& m : seen) {
      Record r;
      if (m.kind == Kind::Record && decodeRecord(m.bytes, &r) && !r.entries.empty() && sent)
        *sent += r.entries[0].values.size();
    }
    return seen.back();
  }
  std::vector<Message> drain() {
    std::vector<Message> all;
    for (;;) {
      Message m = manager.next();
      if (m.kind == Kind::End || m.kind == Kind::Timeout) {
        EXPECT_EQ(m.kind, Kind::End) << "no end of stream";
        return all;
      }
      all.push_back(m);
    }
  }
};

void expectStatus(const Message& m, int marker, int code, pid_t pid) {
  ASSERT_EQ(m.kind, Kind::Status);
  EXPECT_EQ(m.marker(), marker);
  EXPECT_EQ(m.code(), code);
  EXPECT_EQ(m.pid(), static_cast<int>(pid));
}

// Each PV's observations across the file; all PVs must have the same number.
size_t observationsPerPV(const BinFile& f) {
  size_t n = f.series(0).size();
  for (int pv = 1; pv < kNodes; pv++) EXPECT_EQ(f.series(pv).size(), n) << "PV " << pv;
  return n;
}

}  // namespace

TEST(ManagerLink, GreetingStatusInvalidAndQuitCommands) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "1", "-c", "5"}));
  expectStatus(s.hello, 0xFF, 1, s.sim->pid());

  std::vector<Message> all;
  auto untilStatus = [&]() {
    std::vector<Message> seen = s.manager.untilStatus();
    all.insert(all.end(), seen.begin(), seen.end() - 1);
    return seen.back();
  };
  ASSERT_TRUE(s.manager.send(command(1)));
  expectStatus(untilStatus(), 0xFF, 1, s.sim->pid());

  // An unknown command gets no reply: the next status answers the 1 after it.
  ASSERT_TRUE(s.manager.send(command(7)));
  ASSERT_TRUE(s.manager.send(command(1)));
  expectStatus(untilStatus(), 0xFF, 1, s.sim->pid());

  // Quit: acknowledged, and the run (without a replication limit) ends by
  // itself and closes the connection.
  ASSERT_TRUE(s.manager.send(command(2)));
  expectStatus(untilStatus(), 0xFE, 2, s.sim->pid());
  std::vector<Message> rest = s.drain();
  all.insert(all.end(), rest.begin(), rest.end());
  for (const Message& m : rest) EXPECT_NE(m.kind, Kind::Status);
  EXPECT_EQ(s.sim->waitExit(), 0);

  std::vector<Message> records = checkPairs(all, 5);
  EXPECT_FALSE(records.empty());
  for (const Message& m : records) {
    Record r;
    ASSERT_TRUE(decodeRecord(m.bytes, &r));
    EXPECT_EQ(r.clientId, 5);
  }
  EXPECT_TRUE(contains(s.sim->out(), "\nSOCKET::Quit\n"));
  EXPECT_TRUE(contains(s.sim->err(), "!! Invalid Response Received by Client \n!! Simulation\n"));
  EXPECT_TRUE(contains(s.sim->out(), "SIMULATOR::MAIN()-GOOD EXIT"));
}

TEST(ManagerLink, OutputPassSendsCpuTimeThenExactlyTheRecordOfTheBinaryFile) {
  Session s;
  // Only the low byte of the client id goes on the wire: 263 -> 7.
  ASSERT_TRUE(s.start({"-n", "1", "-N", "5", "-c", "263", "-b", "res.bin"}));
  std::vector<Message> all = s.drain();
  ASSERT_EQ(s.sim->waitExit(), 0);

  std::vector<Message> records = checkPairs(all, 7);
  ASSERT_EQ(all.size(), 10u);
  ASSERT_EQ(records.size(), 5u);
  BinFile file = readBinFile(s.dir.file("res.bin"));
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(file.batches(), 5);
  std::string sent;
  for (const Message& m : records) sent += m.bytes;
  EXPECT_TRUE(sent == file.body) << "records over TCP differ from the binary file's body";
  for (const Record& r : file.records) {
    EXPECT_EQ(r.clientId, 7);
    EXPECT_EQ(r.experiment, 0);
    ASSERT_EQ(r.entries.size(), static_cast<size_t>(kNodes));
    for (int pv = 0; pv < kNodes; pv++) {
      EXPECT_EQ(r.entries[pv].pv, pv);
      EXPECT_EQ(r.entries[pv].kind, 1);
      EXPECT_EQ(r.entries[pv].values.size(), 1u);
    }
  }
}

// The manager's command reaches the simulator at some hand-over after it
// was sent; whatever went out over TCP before the reply is counted with what
// the file holds.
TEST(ManagerLink, FileCommandOpensTheFileSetsTheLimitAndDropsTheLink) {
  Session s;
  // No -N: the limit comes from the command alone.
  ASSERT_TRUE(s.start({"-n", "1"}, "\x03out.bin;500;;"));
  expectStatus(s.hello, 0xFF, 1, s.sim->pid());
  size_t sentBefore = 0;
  expectStatus(s.untilReply(&sentBefore), 0xFF, 3, s.sim->pid());
  // After the reply only the end of stream: later passes send nothing.
  EXPECT_TRUE(s.drain().empty());
  ASSERT_EQ(s.sim->waitExit(), 0);

  BinFile file = readBinFile(s.dir.file("out.bin"));
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.header.rfind("TARVEX_SIM_BIN_FILE,256,", 0), 0u);
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(file.batches(), 500);
  EXPECT_EQ(sentBefore + observationsPerPV(file), 500u);
}

TEST(ManagerLink, FileCommandKeepsTheFileAndLimitOfTheCommandLine) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "10", "-N", "1000", "-b", "given.bin"}, "\x03other.bin;5;;"));
  expectStatus(s.untilReply(), 0xFF, 3, s.sim->pid());
  EXPECT_TRUE(s.drain().empty());
  ASSERT_EQ(s.sim->waitExit(), 0);

  EXPECT_FALSE(readBinFile(s.dir.file("other.bin")).opened);
  BinFile file = readBinFile(s.dir.file("given.bin"));
  ASSERT_TRUE(file.whole);
  EXPECT_EQ(file.batches(), 1000);
  EXPECT_EQ(observationsPerPV(file), 1000u);
}

// Refused texts: a "!! " line, the reply, the link dropped, no file, and the
// run goes on to its limit. The sessions run side by side.
TEST(ManagerLink, MalformedFileCommandsAreRefusedWithoutOpeningAFile) {
  const std::vector<std::string> texts = {
      "out.bin500;;",         // no separator between name and number
      ";500;;",               // empty name
      "out.bin;0;;",          // not positive
      "out.bin;-4;;",         // not a plain decimal
      "out.bin;12x;;",        // trailing junk in the number
      "out.bin;;;",           // no number at all
      std::string(512, 'x'),  // the whole allowance without the end marker
      // Longer than the allowance: reading must stop at 512 bytes (the
      // sanitizer build checks the buffer); the rest is never read.
      std::string(600, 'y'),
  };
  std::vector<std::unique_ptr<Session>> sessions;
  for (const std::string& text : texts) {
    sessions.push_back(std::make_unique<Session>());
    ASSERT_TRUE(sessions.back()->start({"-n", "10", "-N", "1000"}, "\x03" + text));
  }
  for (size_t i = 0; i < texts.size(); i++) {
    SCOPED_TRACE(texts[i].substr(0, 40));
    Session& s = *sessions[i];
    Message reply = s.untilReply();
    // Closing with the unread rest of an overlong text may reset the link
    // before the reply is read.
    if (texts[i].size() <= 512 || reply.kind == Kind::Status) {
      expectStatus(reply, 0xFF, 3, s.sim->pid());
      EXPECT_TRUE(s.drain().empty());
    }
    EXPECT_EQ(s.sim->waitExit(), 0);
    EXPECT_TRUE(contains(s.sim->err(), "!! "));
    EXPECT_TRUE(contains(s.sim->out(), "SIMULATOR::MAIN()-GOOD EXIT"));
    EXPECT_EQ(s.dir.entries(), (std::vector<std::string>{"stderr", "stdout"}));
  }
}

// A manager that sends its text as a C string, terminator included. The
// socket layer takes that NUL as part of the text; the simulator must answer
// at once rather than wait for more bytes that never come.
TEST(ManagerLink, FileCommandTextWithItsStringTerminator) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "1"}, std::string("\x03out.bin;40;;\0", 14)));
  size_t sentBefore = 0;
  expectStatus(s.untilReply(&sentBefore, 10000), 0xFF, 3, s.sim->pid());
  EXPECT_TRUE(s.drain().empty());
  EXPECT_EQ(s.sim->waitExit(), 0);
  BinFile file = readBinFile(s.dir.file("out.bin"));
  ASSERT_TRUE(file.whole);
  EXPECT_GE(file.batches(), 40);
  EXPECT_EQ(static_cast<long>(sentBefore + observationsPerPV(file)), file.batches());
}

// After ten output passes, fast runs queue their packets. A quit received
// then must not lose the queued observations: every replication the header
// counts is in the file.
TEST(ManagerLink, QuitAfterThrottlingKeepsEveryCountedReplicationInTheFile) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "1", "-b", "res.bin"}));
  int records = 0;
  while (records < 12) {
    Message m = s.manager.next();
    ASSERT_TRUE(m.kind == Kind::CpuTime || m.kind == Kind::Record);
    if (m.kind == Kind::Record) records++;
  }
  ASSERT_TRUE(s.manager.send(command(2)));
  s.drain();
  ASSERT_EQ(s.sim->waitExit(), 0);
  BinFile file = readBinFile(s.dir.file("res.bin"));
  ASSERT_TRUE(file.whole);
  EXPECT_GE(file.batches(), 12);
  EXPECT_EQ(static_cast<long>(observationsPerPV(file)), file.batches());
}

TEST(ManagerLink, VanishingManagerStopsTheRunWithIntactFiles) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "1", "-b", "res.bin", "-a", "res.txt"}));
  for (int records = 0; records < 3;) {
    Message m = s.manager.next();
    ASSERT_TRUE(m.kind == Kind::CpuTime || m.kind == Kind::Record);
    if (m.kind == Kind::Record) records++;
  }
  s.manager.close();
  ASSERT_EQ(s.sim->waitExit(), 0);
  EXPECT_TRUE(contains(s.sim->out(), "Actions fired: "));

  BinFile file = readBinFile(s.dir.file("res.bin"));
  ASSERT_TRUE(file.whole);
  EXPECT_GE(file.batches(), 3);
  EXPECT_EQ(static_cast<long>(observationsPerPV(file)), file.batches());
  std::string ascii = readFile(s.dir.file("res.txt"));
  EXPECT_TRUE(contains(ascii, "#META_DATA,BATCHES=" + std::to_string(file.batches()) + "\n"));
}

TEST(ManagerLink, PortSearchSkipsTakenPorts) {
  HeldPorts held;
  ASSERT_GT(held.port(), 0);
  TempDir dir;
  SimProcess sim(dir.path(), {"-w", "-p", std::to_string(held.port()), "-n", "1", "-N", "2"});
  int port = sim.waitForPort();
  ASSERT_EQ(port, held.port() + 2);
  EXPECT_TRUE(contains(sim.out(), "REGISTER:  Port: [" + std::to_string(port) + "]\n"));
  ManagerClient manager;
  ASSERT_TRUE(manager.connect(port));
  expectStatus(manager.next(), 0xFF, 1, sim.pid());
  EXPECT_EQ(sim.waitExit(), 0);
}

// Port 0 leaves the choice to the system; the announcement must name the
// port actually listened on, or no manager can connect.
TEST(ManagerLink, PortZeroAnnouncesThePortTheSystemChose) {
  TempDir dir;
  SimProcess sim(dir.path(), {"-w", "-p", "0", "-n", "1", "-N", "2"});
  int port = sim.waitForPort();
  ASSERT_GT(port, 0) << sim.out();
  ManagerClient manager;
  ASSERT_TRUE(manager.connect(port));
  expectStatus(manager.next(), 0xFF, 1, sim.pid());
  EXPECT_EQ(sim.waitExit(), 0);
}

TEST(ManagerLink, PortSearchEndsAtTheTopPort) {
  TarvexSocket top(true);
  if (!top.Bind(65535)) GTEST_SKIP() << "port 65535 is not available to hold";
  TempDir dir;
  SimProcess sim(dir.path(), {"-w", "-p", "65535", "-N", "3"});
  EXPECT_EQ(sim.waitExit(), 0);
  EXPECT_TRUE(contains(sim.err(), "!! "));
  EXPECT_FALSE(contains(sim.out(), "REGISTER:"));
  EXPECT_TRUE(contains(sim.out(), "Actions fired: 0\n"));
}

// No manager within the wait budget: the wait gives up and the run that
// follows simulates nothing.
TEST(ManagerLink, NoManagerWithinTheBudget) {
  std::vector<std::string> args = {"sim", "-N", "4", "-p", randomPort()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  testing::internal::CaptureStdout();
  SimulatorClass sim(static_cast<int>(argv.size()), argv.data());
  sim.AcceptWaitMs = 20;
  TarvexSocket* none = sim.WaitForSimMgrConnection(200);
  TarvexSocket* immediate = sim.WaitForSimMgrConnection(0);
  std::string announced = testing::internal::GetCapturedStdout();
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(immediate, nullptr);
  EXPECT_TRUE(contains(announced, "REGISTER:  Port: ["));

  // What the run does with no connection.
  sim.StopFlag = SimulatorClass::kStop;
  testing::internal::CaptureStdout();
  sim.Run();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(contains(out, "Actions fired: 0\n"));
  EXPECT_EQ(sim.ReplicationCount, 0);
}
