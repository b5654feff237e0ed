// The simulation-manager link end to end: real simulator processes, a test
// manager on loopback sockets, and the binary result files they write.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"
#include "simulator/SimTestSupport.h"
#include "simulator/SimulatorClass.h"
#include "support/ResultFiles.h"

using namespace support;

namespace {

const int kNodes = 168;  // 8 PVs x 21 time points

// A random start for the simulator's upward port search.
std::string randomPort() {
  std::mt19937 rng(std::random_device{}());
  return std::to_string(std::uniform_int_distribution<int>(20000, 60000)(rng));
}

// The kind of a message tells its first int32: 10 a status message, 12 a
// CPU-time message (16 bytes), anything else the length of an observation
// record. End: the stream ended, or nothing whole came in time.
enum class Kind { Status, CpuTime, Record, End };

struct Message {
  Kind kind = Kind::End;
  std::string bytes;  // the whole message, length field included
  // Status messages: marker, code, process id.
  int marker() const { return static_cast<int>(bigEndian(bytes, 4, 1)); }
  int code() const { return static_cast<int>(bigEndian(bytes, 5, 1)); }
  int pid() const { return static_cast<int32_t>(bigEndian(bytes, 6, 4)); }
  // CPU-time messages: client, experiment (then the seconds).
  int clientId() const { return static_cast<int>(bigEndian(bytes, 5, 1)); }
  int experiment() const { return static_cast<int16_t>(bigEndian(bytes, 6, 2)); }
};

// The manager's side of the connection.
class ManagerClient {
 public:
  // Connects once: the simulator listens before it announces its port.
  bool connect(int port, const char* host = "127.0.0.1") { return socket_.Connect(host, port, false); }
  bool send(const std::string& b) {
    return socket_.Send(b.data(), static_cast<int>(b.size())) == static_cast<int>(b.size());
  }
  // The secret as the first message: int32 length, then the bytes.
  bool sendSecret(const std::string& secret) {
    std::string framed(4, '\0');
    for (int i = 0; i < 4; i++) framed[i] = static_cast<char>((secret.size() >> (24 - 8 * i)) & 0xff);
    return send(framed + secret);
  }
  void close() { socket_.Close(); }

  Message next() {
    Message m;
    if (!read(&m.bytes, 4)) return m;
    uint32_t length = static_cast<uint32_t>(bigEndian(m.bytes, 0, 4));
    size_t rest = length == 10 ? 6 : length == 12 ? 12 : length >= 9 ? length - 4 : 0;
    if (rest > 0 && read(&m.bytes, rest))
      m.kind = length == 10 ? Kind::Status : length == 12 ? Kind::CpuTime : Kind::Record;
    return m;
  }
  // Messages up to and including the first status message (or the end).
  std::vector<Message> untilStatus() {
    std::vector<Message> seen;
    do seen.push_back(next());
    while (seen.back().kind == Kind::CpuTime || seen.back().kind == Kind::Record);
    return seen;
  }

 private:
  // Reads n bytes; false at end of stream or when the time runs out.
  bool read(std::string* into, size_t n) {
    char buf[65536];
    while (n > 0) {
      int r = socket_.Select(kPatienceMs) ? socket_.Recv(buf, static_cast<int>(std::min(n, sizeof buf))) : 0;
      if (r <= 0) return false;
      into->append(buf, static_cast<size_t>(r));
      n -= static_cast<size_t>(r);
    }
    return true;
  }
  TarvexSocket socket_{false};
};

// Every CPU-time message is directly followed by an observation record and
// every record is preceded by one; returns the records in order.
std::vector<Message> checkPairs(const std::vector<Message>& all, int clientId) {
  std::vector<Message> records;
  for (size_t i = 0; i < all.size(); i++) {
    if (all[i].kind == Kind::CpuTime) {
      EXPECT_EQ(all[i].clientId(), clientId);
      EXPECT_EQ(all[i].experiment(), 0);
      EXPECT_TRUE(i + 1 < all.size() && all[i + 1].kind == Kind::Record) << "message " << i;
    } else if (all[i].kind == Kind::Record) {
      EXPECT_TRUE(i > 0 && all[i - 1].kind == Kind::CpuTime) << "message " << i;
      records.push_back(all[i]);
    }
  }
  return records;
}

void expectStatus(const Message& m, int marker, int code, pid_t pid) {
  ASSERT_EQ(m.kind, Kind::Status);
  EXPECT_EQ(m.marker(), marker);
  EXPECT_EQ(m.code(), code);
  EXPECT_EQ(m.pid(), static_cast<int>(pid));
}

// A simulator started with -w and a manager connected to it that has read
// the greeting status message.
struct Session {
  TempDir dir;
  std::unique_ptr<Background> sim;
  ManagerClient manager;
  Message hello;
  int port = -1;

  // `early` is sent right after connecting, before anything is read; the
  // simulator takes it up at its next poll. With a secret, the simulator is
  // given it and the manager sends it first.
  bool start(std::vector<std::string> args, const std::string& early = "", const std::string& secret = "") {
    args.insert(args.begin(), {"-w", "-p", randomPort()});
    Options options;
    if (!secret.empty()) options.env.push_back("TARVEX_MANAGER_SECRET=" + secret);
    sim = std::make_unique<Background>(dir.path(), args, kSimulator, options);
    port = sim->waitForPort();
    if (port <= 0 || !manager.connect(port)) return false;
    if (!secret.empty() && !manager.sendSecret(secret)) return false;
    if (!early.empty() && !manager.send(early)) return false;
    hello = manager.next();
    return hello.kind == Kind::Status;
  }
  // Messages up to the first status message, which is returned; `sent`
  // receives the observations per PV of the records before it.
  Message untilReply(size_t* sent = nullptr) {
    std::vector<Message> seen = manager.untilStatus();
    checkPairs(std::vector<Message>(seen.begin(), seen.end() - 1), 0);
    if (sent) *sent = 0;
    for (const Message& m : seen) {
      Record r;
      if (m.kind == Kind::Record && decodeRecord(m.bytes, &r) && !r.entries.empty() && sent)
        *sent += r.entries[0].values.size();
    }
    return seen.back();
  }
  // The messages up to the end of the stream.
  std::vector<Message> drain() {
    std::vector<Message> all;
    for (Message m = manager.next(); m.kind != Kind::End; m = manager.next()) all.push_back(m);
    return all;
  }
  // The result file, whole, with the same number of observations of every
  // PV as its header counts.
  void expectFileCounts(const std::string& name, long batches) {
    long counted = -1;
    EXPECT_EQ(resultFilesDisagree(dir.file(name), "", kNodes, &counted), "");
    if (batches >= 0) {
      EXPECT_EQ(counted, batches);
    }
  }
  // The run was cut short by the link: exit status 3, one line saying so
  // (with the given reason) and no "GOOD EXIT".
  void expectEndedEarly(const std::string& reason) {
    EXPECT_EQ(sim->waitExit(), 3);
    const std::string err = sim->err();
    EXPECT_TRUE(contains(err, "!! The run ended early after ")) << err;
    EXPECT_TRUE(contains(err, reason)) << err;
    EXPECT_FALSE(contains(sim->out() + err, "GOOD EXIT"));
  }
};

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
  ASSERT_TRUE(s.manager.send("\x01"));
  expectStatus(untilStatus(), 0xFF, 1, s.sim->pid());
  // An unknown command gets no reply: the next status answers the 1 after it.
  ASSERT_TRUE(s.manager.send("\x07"));
  ASSERT_TRUE(s.manager.send("\x01"));
  expectStatus(untilStatus(), 0xFF, 1, s.sim->pid());
  // Quit: acknowledged, and the run (without a replication limit) ends by
  // itself and closes the connection.
  ASSERT_TRUE(s.manager.send("\x02"));
  expectStatus(untilStatus(), 0xFE, 2, s.sim->pid());
  std::vector<Message> rest = s.drain();
  all.insert(all.end(), rest.begin(), rest.end());
  for (const Message& m : rest) EXPECT_NE(m.kind, Kind::Status);
  EXPECT_EQ(s.sim->waitExit(), 0);

  std::vector<Message> records = checkPairs(all, 5);
  Record r;
  ASSERT_FALSE(records.empty());
  ASSERT_TRUE(decodeRecord(records.back().bytes, &r));
  EXPECT_EQ(r.client, 5);
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
  BinaryFile file = readBinary(s.dir.file("res.bin"));
  std::string sent;
  for (const Message& m : records) sent += m.bytes;
  EXPECT_TRUE(sent == file.body) << "records over TCP differ from the binary file's body";
  EXPECT_EQ(file.records.at(0).client, 7);
  s.expectFileCounts("res.bin", 5);
}

// The file command: without -b it opens the named file and without -N it
// sets the limit; those of the command line win. The command reaches the
// simulator at some hand-over after it was sent; whatever went out over TCP
// before the reply is counted with what the file holds. After the reply the
// link is dropped: only the end of stream follows. The second manager sends
// its text as a C string, terminator included: the socket layer takes that
// NUL as part of the text, and the simulator must answer at once rather than
// wait for more bytes that never come. A file that exists is never
// replaced: the command is refused (0xFE, 3) and the run ends early.
TEST(ManagerLink, FileCommandOpensTheFileSetsTheLimitAndDropsTheLink) {
  for (const std::string mode : {"from the command", "given", "exists"}) {
    SCOPED_TRACE(mode);
    const bool given = mode == "given";
    Session s;
    if (mode == "exists") writeFile(s.dir.file("out.bin"), "earlier results\n");
    ASSERT_TRUE(given ? s.start({"-n", "10", "-N", "1000", "-b", "given.bin"}, std::string("\x03out.bin;5;;\0", 13))
                      : s.start({"-n", "1"}, "\x03out.bin;500;;"));
    expectStatus(s.hello, 0xFF, 1, s.sim->pid());
    size_t sentBefore = 0;
    Message reply = s.untilReply(&sentBefore);
    EXPECT_TRUE(s.drain().empty());
    if (mode == "exists") {
      expectStatus(reply, 0xFE, 3, s.sim->pid());
      s.expectEndedEarly("cannot create out.bin: File exists");
      EXPECT_EQ(readFile(s.dir.file("out.bin")), "earlier results\n");
      continue;
    }
    expectStatus(reply, 0xFF, 3, s.sim->pid());
    ASSERT_EQ(s.sim->waitExit(), 0);
    EXPECT_EQ(fileExists(s.dir.file("out.bin")), !given);
    s.expectFileCounts(given ? "given.bin" : "out.bin", given ? 1000 : 500);
    if (!given) {
      EXPECT_EQ(sentBefore + readBinary(s.dir.file("out.bin")).series(0).size(), 500u);
    }
  }
}

// Refused texts: the failure reply (0xFE, 3) before anything is written, the
// link dropped, no file, and the run ends early (it does not go on to its
// limit). A half-sent text is waited for a few seconds only. The sessions
// run side by side.
TEST(ManagerLink, MalformedFileCommandsAreRefusedWithoutOpeningAFile) {
  const std::vector<std::string> texts = {
      "out.bin500;;",                 // no separator between name and number
      ";500;;",                       // empty name
      std::string("o\0t.bin;5;;", 11),  // a NUL in the name
      "out.bin;0;;",                  // not positive
      "out.bin;2147483648;;",         // not below 2^31
      "out.bin;12x;;",                // trailing junk in the number
      "half",                         // the rest never comes (the link stays open)
      std::string(512, 'x'),          // the whole allowance without the end marker
      // Longer than the allowance: reading must stop at 512 bytes (the
      // sanitizer build checks the buffer); the rest is never read.
      std::string(600, 'y'),
  };
  std::vector<std::unique_ptr<Session>> sessions;
  for (const std::string& text : texts) {
    sessions.push_back(std::make_unique<Session>());
    ASSERT_TRUE(sessions.back()->start({"-n", "10", "-N", "100000"}, "\x03" + text));
  }
  for (size_t i = 0; i < texts.size(); i++) {
    SCOPED_TRACE(texts[i].substr(0, 40));
    Session& s = *sessions[i];
    Message reply = s.untilReply();
    // Closing with the unread rest of an overlong text may reset the link
    // before the reply is read.
    if (texts[i].size() <= 512 || reply.kind == Kind::Status) {
      expectStatus(reply, 0xFE, 3, s.sim->pid());
      EXPECT_TRUE(s.drain().empty());
    }
    s.expectEndedEarly("file command was refused");
    EXPECT_EQ(s.dir.entries(), (std::vector<std::string>{"stderr", "stdout"}));
  }
}

// After ten output passes, fast runs queue their packets. A quit received
// then must not lose the queued observations (exit 0). A manager that
// vanishes, at once or later, ends the run early (exit 3) with consistent
// files. Either way every replication the header counts is in the files.
TEST(ManagerLink, QuitAfterThrottlingOrAVanishingManagerKeepsEveryCountedReplication) {
  for (const std::string mode : {"quit", "vanished", "at once"}) {
    SCOPED_TRACE(mode);
    Session s;
    ASSERT_TRUE(s.start({"-n", "1", "-N", "200000", "-b", "res.bin", "-a", "res.txt"}));
    const bool quit = mode.rfind("quit", 0) == 0;
    for (int records = 0; records < (quit ? 12 : mode == "vanished" ? 3 : 0);) {
      Message m = s.manager.next();
      ASSERT_TRUE(m.kind == Kind::CpuTime || m.kind == Kind::Record);
      if (m.kind == Kind::Record) records++;
    }
    if (quit) {
      ASSERT_TRUE(s.manager.send("\x02"));
      s.drain();
      ASSERT_EQ(s.sim->waitExit(), 0) << s.sim->err();
    } else {
      s.manager.close();
      s.expectEndedEarly(" replications: ");
    }
    EXPECT_TRUE(contains(s.sim->out(), "Actions fired: "));
    long batches = -1;
    EXPECT_EQ(resultFilesDisagree(s.dir.file("res.bin"), s.dir.file("res.txt"), kNodes, &batches), "");
    EXPECT_GE(batches, quit ? 12 : mode == "vanished" ? 3 : 0);
    EXPECT_LT(batches, 200000);
    if (!quit) {
      EXPECT_TRUE(contains(s.sim->err(), "after " + std::to_string(batches) + " replications"));
    }
  }
}

// Stop signals in the one-thread run (with a manager) and while waiting for
// one: whole, agreeing files, one line, 128 + the signal, and the manager
// receives everything up to the end of its stream.
TEST(ManagerLink, StopSignalsWithAManagerOrWhileWaitingForOne) {
  {
    Session s;
    ASSERT_TRUE(s.start({"-n", "1000", "-b", "res.bin", "-a", "res.txt"}));
    for (int records = 0; records < 2;)
      if (s.manager.next().kind == Kind::Record) records++;
    s.sim->kill(SIGINT);
    s.drain();
    EXPECT_EQ(s.sim->waitExit(), 130);
    long batches = -1;
    EXPECT_EQ(resultFilesDisagree(s.dir.file("res.bin"), s.dir.file("res.txt"), kNodes, &batches), "");
    EXPECT_EQ(s.sim->err(), "!! Stopped by SIGINT after " + std::to_string(batches) + " replications\n");
  }
  TempDir dir;
  Background sim(dir.path(), {"-w", "-p", randomPort(), "-b", "res.bin", "-a", "res.txt"});
  ASSERT_GT(sim.waitForPort(), 0);
  sim.kill(SIGTERM);
  EXPECT_EQ(sim.waitExit(), 143);
  EXPECT_EQ(sim.err(), "!! Stopped by SIGTERM after 0 replications\n");
  long batches = -1;
  EXPECT_EQ(resultFilesDisagree(dir.file("res.bin"), dir.file("res.txt"), kNodes, &batches), "");
  EXPECT_EQ(batches, 0);
}

// A manager that connects the moment the port is announced always finds it
// listening: the announcement comes after listen(). The simulator's output
// comes through a pipe, so that the connection follows the line at once.
TEST(ManagerLink, ConnectingTheInstantThePortIsAnnouncedAlwaysSucceeds) {
  for (int attempt = 0; attempt < 50; attempt++) {
    TempDir dir;
    TarvexProcess sim;
    ASSERT_TRUE(sim.Start(kSimulator, {"-w", "-p", randomPort(), "-n", "1", "-N", "1", "-a", dir.file("r.txt")}));
    std::string line;
    while (sim.ReadLine(&line, kPatienceMs) == TarvexProcess::kLine && line.rfind("REGISTER:  Port: [", 0) != 0) {
    }
    ManagerClient manager;
    ASSERT_TRUE(manager.connect(std::atoi(line.c_str() + 18))) << "attempt " << attempt << ": " << line;
    expectStatus(manager.next(), 0xFF, 1, sim.Pid());
    while (sim.ReadLine(&line, kPatienceMs) == TarvexProcess::kLine) {
    }
    ASSERT_TRUE(sim.Wait(true));
    EXPECT_EQ(sim.ExitCode(), 0);
  }
}

// With a secret in the environment only a peer that sends it first is
// greeted; others are turned away one by one (no bytes: after a few seconds;
// a command instead of a secret; a wrong secret), nothing they send acts on
// the run, and the right manager still connects afterwards.
TEST(ManagerLink, ASecretKeepsOtherPeersFromDrivingTheSimulator) {
  TempDir dir;
  Options options;
  options.env.push_back("TARVEX_MANAGER_SECRET=open sesame");
  Background sim(dir.path(), {"-w", "-p", randomPort(), "-n", "1", "-a", "mine.txt"}, kSimulator, options);
  const int port = sim.waitForPort();
  ASSERT_GT(port, 0);
  ManagerClient silent, commanding, guessing, manager;
  ASSERT_TRUE(silent.connect(port));
  ASSERT_TRUE(commanding.connect(port));
  ASSERT_TRUE(commanding.send("\x03evil.bin;5;;\x02"));
  ASSERT_TRUE(guessing.connect(port));
  ASSERT_TRUE(guessing.sendSecret("open sesamE"));
  for (ManagerClient* peer : {&silent, &commanding, &guessing}) EXPECT_EQ(peer->next().kind, Kind::End);

  ASSERT_TRUE(manager.connect(port));
  ASSERT_TRUE(manager.sendSecret("open sesame"));
  expectStatus(manager.next(), 0xFF, 1, sim.pid());
  ASSERT_TRUE(manager.send("\x02"));
  while (manager.next().kind != Kind::End) {
  }
  EXPECT_EQ(sim.waitExit(), 0);
  const std::string err = sim.err();
  size_t rejections = 0;
  for (size_t at = err.find("!! Rejected a manager connection: wrong or missing secret\n"); at != std::string::npos;
       at = err.find("!! Rejected", at + 1))
    rejections++;
  EXPECT_EQ(rejections, 3u) << err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"mine.txt", "stderr", "stdout"}));
}

// -H chooses the address listened on: 127.0.0.1 is reached only through
// that address (not through 127.0.0.2, which every interface would take);
// an address that is not this machine's ends the run at once.
TEST(ManagerLink, ListenAddressLimitsWhoCanConnect) {
  for (const std::string address : {"127.0.0.1", ""}) {
    SCOPED_TRACE(address.empty() ? "every interface" : address);
    TempDir dir;
    std::vector<std::string> args = {"-w", "-p", randomPort(), "-n", "1", "-N", "1"};
    if (!address.empty()) args.insert(args.end(), {"-H", address});
    Background sim(dir.path(), args);
    const int port = sim.waitForPort();
    ASSERT_GT(port, 0);
    ManagerClient other, manager;
    EXPECT_EQ(other.connect(port, "127.0.0.2"), address.empty());
    ManagerClient& chosen = address.empty() ? other : manager;
    if (!address.empty()) {
      ASSERT_TRUE(manager.connect(port, "127.0.0.1"));
    }
    expectStatus(chosen.next(), 0xFF, 1, sim.pid());
    EXPECT_EQ(sim.waitExit(), 0);
  }
  Result r = runSimulator({"-w", "-H", "192.0.2.1", "-N", "1"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(contains(r.err, "the address is not one of this machine's")) << r.err;
  EXPECT_FALSE(contains(r.out, "REGISTER"));
}

// A manager that stops reading cannot hold the run: once it has taken
// nothing for a while, the link ends and the run finishes its files.
TEST(ManagerLink, AManagerThatNeverReadsEndsTheLinkAfterABoundedWait) {
  Session s;
  ASSERT_TRUE(s.start({"-n", "1000", "-b", "res.bin", "-a", "res.txt"}));
  s.expectEndedEarly("took nothing sent to it for 10 s");
  EXPECT_EQ(resultFilesDisagree(s.dir.file("res.bin"), s.dir.file("res.txt"), kNodes), "");
}

// Ports P and P + 1 taken: the search announces and listens on P + 2. Port 0
// leaves the choice to the system; the announcement must name the port
// actually listened on, or no manager can connect.
TEST(ManagerLink, PortSearchSkipsTakenPortsAndPortZeroAnnouncesTheBoundPort) {
  std::unique_ptr<TarvexSocket> first, second;
  int held = -1;
  std::mt19937 rng(std::random_device{}());
  for (int attempt = 0; attempt < 200 && held < 0; attempt++) {
    int p = std::uniform_int_distribution<int>(20000, 60000)(rng);
    auto a = std::make_unique<TarvexSocket>(true), b = std::make_unique<TarvexSocket>(true);
    TarvexSocket probe(true);
    if (!a->Bind(p) || !b->Bind(p + 1) || !probe.Bind(p + 2)) continue;
    first = std::move(a);
    second = std::move(b);
    held = p;
  }
  ASSERT_GT(held, 0);
  for (int start : {held, 0}) {
    SCOPED_TRACE(start);
    TempDir dir;
    Background sim(dir.path(), {"-w", "-p", std::to_string(start), "-n", "1", "-N", "2"});
    int port = sim.waitForPort();
    if (start != 0) {
      EXPECT_EQ(port, held + 2);
    }
    ASSERT_GT(port, 0) << sim.out();
    EXPECT_TRUE(contains(sim.out(), "REGISTER:  Port: [" + std::to_string(port) + "]\n"));
    // A manager that comes a while later is still waited for: the taken
    // ports the search skipped do not count as a failure of the wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ManagerClient manager;
    ASSERT_TRUE(manager.connect(port));
    expectStatus(manager.next(), 0xFF, 1, sim.pid());
    EXPECT_EQ(sim.waitExit(), 0);
  }
}

// No manager within the wait budget: the wait gives up, the run that
// follows simulates nothing and says why, with the link's exit status.
TEST(ManagerLink, NoManagerWithinTheBudget) {
  testing::internal::CaptureStdout();
  auto made = simtest::makeSimulator({"-N", "4", "-p", randomPort()});
  SimulatorClass& sim = *made;
  EXPECT_EQ(sim.WaitForSimMgrConnection(200), nullptr);
  EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "REGISTER:  Port: ["));

  sim.StopFlag = SimulatorClass::kStop;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  sim.Run();
  EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "Actions fired: 0\n"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!! The run ended early after 0 replications: no simulation manager connected within 200 ms\n");
  EXPECT_EQ(sim.ReplicationCount, 0);
  EXPECT_EQ(sim.ExitStatus, 3);
}
