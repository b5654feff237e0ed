// The live study: launch the simulators, connect to each, collect their
// observation records, count them round by round and stop the simulators
// when the stopping rule is met, then publish the results.
//
// Rounds: round k holds the k-th packet of every simulator. A round is
// counted only once every simulator that is still connected has delivered
// its packet k (a simulator that has ended contributes what it sent), the
// packets of a round are counted in simulator order, and the stopping rule
// is checked after each round. Which observations are counted therefore
// depends only on the simulators' random streams (fixed by their seeds), not
// on how fast each of them ran or when the quit command reached it; packets
// that arrive after the deciding round are discarded.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <thread>

#include "network/RecordFormat.h"
#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"
#include "simmgr/BinDirectory.h"
#include "simmgr/Compare.h"
#include "simmgr/PathsReport.h"
#include "simmgr/Records.h"
#include "simmgr/Report.h"
#include "simmgr/SimMgr.h"

namespace simmgr {

namespace {

using Clock = std::chrono::steady_clock;

const char kAnnouncement[] = "REGISTER:  Port: [";
const char kQuitCommand = 2;
// Packets a simulator may be ahead of the slowest one before its
// connection is left unread for a while (it then waits in its send).
const size_t kMostPending = 16;
// Bytes read from one connection before the others get their turn.
const size_t kLargestRead = 4u << 20;
const int kPollMs = 100;
const int kEndingPollMs = 5;          // no connection open, processes still to end
const int kStopGraceMs = 10000;       // simulators told to quit
const int kInterruptGraceMs = 5000;   // after Ctrl-C or SIGTERM
const int kClosedGraceMs = 5000;      // closed its connection but did not exit
const size_t kRecentLines = 6;

long long MillisecondsUntil(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
}

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string Number(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

std::string Short(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

std::string Plural(long long n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// The environment variable through which a simulator learns the secret its
// manager must send first.
const char kSecretVariable[] = "TARVEX_MANAGER_SECRET";

// A fresh secret for the simulators of one study: 32 bytes of the system's
// random source as 64 hex digits; empty when there is no such source.
std::string NewSecret() {
  static const char kHex[] = "0123456789abcdef";
  try {
    std::random_device source;
    std::string text;
    for (int i = 0; i < 8; i++) {
      uint32_t word = static_cast<uint32_t>(source());
      for (int k = 0; k < 8; k++, word >>= 4) text += kHex[word & 15];
    }
    return text;
  } catch (const std::exception&) {
    return "";
  }
}

// Why counting ended.
enum class StopReason { kNone, kTarget, kMax, kFinished, kNoneLeft, kInterrupted };

struct Simulator {
  int index = 0;
  uint32_t seed = 0;
  TarvexProcess process;
  std::unique_ptr<TarvexSocket> link;
  std::unique_ptr<MessageReader> reader;
  int port = 0;
  bool connected = false;     // a connection was made
  bool open = false;          // connected and not yet closed
  bool greeted = false;       // its status message arrived
  bool quitSent = false;
  bool quitAnswered = false;
  bool failed = false;        // did not start, crashed, or was dropped
  bool dropped = false;
  bool killed = false;        // sent SIGKILL after being dropped
  bool stopExpected = false;  // told to quit (or stopped by simmgr)
  bool endReported = false;
  bool finishedRun = false;   // ended by itself, normally (a run of -N replications)
  Clock::time_point greetingDeadline;
  Clock::time_point closedAt;
  bool awaited = false;          // the next round waits for its packet
  bool stallWarned = false;      // warned since its last packet
  Clock::time_point quietSince;  // its last packet, or since it has been awaited
  std::deque<Packet> pending;  // received, not yet counted
  long long packets = 0;
  long long replications = 0;
  double cpuSeconds = 0.0;
  std::deque<std::string> recent;  // its last output lines
};

class Study {
 public:
  Study(const StudyOptions& options, std::ostream& out, std::ostream& err)
      : Options(options), Out(out), Err(err) {}

  int Run();

 private:
  bool Prepare(int* exitCode);
  void Launch();
  void Register();
  bool AwaitAnnouncement(Simulator& s, Clock::time_point deadline);
  bool ConnectTo(Simulator& s, int port);
  void Loop();
  void Pump(int timeoutMs);
  void ReadFrom(Simulator& s);
  bool HandleMessages(Simulator& s);
  void Drop(Simulator& s, const std::string& reason);
  void CloseLink(Simulator& s);
  void CollectOutput(Simulator& s);
  void Reap();
  void ReportEnd(Simulator& s);
  void CountRounds();
  bool CountPairs();
  Packet TakeSparePacket();
  void CountFront(Simulator& s);
  void CheckStalls();
  void BeginStop(StopReason reason, int graceMs);
  bool AllEnded() const;
  int OpenCount() const;
  int RunningCount() const;
  void Progress(bool final);
  int Finish();
  std::string Tag(const Simulator& s) const;

  StudyOptions Options;
  std::ostream& Out;
  std::ostream& Err;

  std::string SimulatorPath;
  BinDirectory BinFiles;  // claimed for the whole study (with --bin-dir)
  std::string Secret;  // sent first on every connection to a simulator
  StudyResults Exact;
  bool HaveExact = false;
  std::vector<std::unique_ptr<Simulator>> Sims;
  MeasureLayout Layout;  // the measures of the model the simulators run
  Aggregate Counted;  // with --compare: the paired differences
  std::unique_ptr<PairedTally> Paired;  // with --compare
  std::vector<Packet> SparePackets;  // counted packets, their memory kept for reuse
  long long Rounds = 0;
  long long ReceivedReplications = 0;
  long long DiscardedPackets = 0;
  StopReason Stop = StopReason::kNone;
  bool Stopping = false;
  int InterruptSignal = 0;
  Clock::time_point StudyStart;
  Clock::time_point StopDeadline;
  Clock::time_point NextProgress;
  bool Terminal = false;
  bool ProgressShown = false;
};

std::string Study::Tag(const Simulator& s) const {
  std::string tag = "simmgr: simulator " + std::to_string(s.index);
  if (s.process.Pid() > 0) tag += " (pid " + std::to_string(s.process.Pid()) + ")";
  return tag;
}

bool Study::Prepare(int* exitCode) {
  if (Options.jobs <= 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    Options.jobs = cores > 0 ? static_cast<int>(std::min(cores, 256u)) : 1;
  }
  if (Options.port + Options.jobs - 1 > 65535) {
    Err << "simmgr: --port " << Options.port << " leaves no port hint for " << Options.jobs
        << " simulators (the last would be above 65535)" << std::endl;
    *exitCode = kExitUsage;
    return false;
  }
  SimulatorPath = Options.simulator;
  // The model's measures label and size everything received; a model file
  // with problems ends the study before any simulator starts.
  if (!OpenModelLayout(Options.model, &Layout, Err)) {
    Err << "simmgr: cannot open the model " << Options.model << std::endl;
    *exitCode = kExitFailure;
    return false;
  }
  Counted = Aggregate(Layout);
  if (Options.compareA >= 0) Paired = std::make_unique<PairedTally>(Layout, Options);
  if (!Options.exact.empty()) {
    std::string error;
    if (!LoadExact(Options.exact, &Exact, &error)) {
      Err << "simmgr: " << error << std::endl;
      *exitCode = kExitUsage;
      return false;
    }
    HaveExact = true;
  }
  // Where the results and the simulators' files go must be writable before
  // anything starts, not found out after the whole study.
  std::string error;
  if (!PrepareOutputDirectory(Options.out, &error)) {
    Err << "simmgr: " << error << std::endl;
    *exitCode = kExitFailure;
    return false;
  }
  if (!Options.binDir.empty()) {
    std::vector<std::string> files;
    for (int i = 0; i < Options.jobs; i++) files.push_back(SimulatorBinFile(Options, i));
    if (BinFiles.Claim(Options.binDir, files, &error) != BinDirectory::kClaimed) {
      Err << "simmgr: " << error << std::endl;
      *exitCode = kExitFailure;
      return false;
    }
  }
  return true;
}

void Study::Launch() {
  // The simulators listen on the loopback interface only (SimulatorArguments)
  // and take a connection only from whoever knows this study's secret,
  // which they find in their environment, out of sight of other users.
  Secret = NewSecret();
  TarvexProcess::StartOptions start;
  start.mergeStandardError = true;
  start.ownProcessGroup = true;
  start.environment.push_back(std::string(kSecretVariable) + "=" + Secret);
  for (int i = 0; i < Options.jobs; i++) {
    auto s = std::make_unique<Simulator>();
    s->index = i;
    s->seed = SimulatorSeed(Options.seed, SeedIndex(Options, i));
    // A tally left by an earlier study must not pass for this one's.
    if (Options.paths.enabled) std::remove(SimulatorPathsFile(Options, i).c_str());
    if (Secret.empty()) {
      Err << Tag(*s) << ": not started: the system has no random source for its secret" << std::endl;
      s->failed = true;
      s->endReported = true;
    } else if (!s->process.Start(SimulatorPath, SimulatorArguments(Options, i), start)) {
      Err << Tag(*s) << ": cannot be started: " << s->process.GetErrorString() << std::endl;
      s->failed = true;
      s->endReported = true;
    }
    Sims.push_back(std::move(s));
  }
}

void Study::CollectOutput(Simulator& s) {
  std::vector<std::string> lines;
  s.process.ReadAvailableLines(&lines);
  for (const std::string& line : lines) {
    // Errors the simulator reports are worth passing on; its confirmation
    // and progress lines are not.
    if (line.compare(0, 5, "ERROR") == 0 || line.compare(0, 2, "!!") == 0 ||
        line.compare(0, 5, "error") == 0 || line.find("Sanitizer") != std::string::npos ||
        line.find("runtime error") != std::string::npos)
      Err << Tag(s) << " says: " << line << std::endl;
    s.recent.push_back(line);
    if (s.recent.size() > kRecentLines) s.recent.pop_front();
  }
}

bool Study::AwaitAnnouncement(Simulator& s, Clock::time_point deadline) {
  std::string line;
  for (;;) {
    if (TarvexProcess::TerminationSignal() != 0) return false;
    const long long left = MillisecondsUntil(deadline);
    if (left <= 0) {
      Err << Tag(s) << ": did not announce its port within " << Options.startTimeout
          << " s; stopping it" << std::endl;
      s.process.Kill();
      s.failed = true;
      s.stopExpected = true;
      return false;
    }
    const TarvexProcess::ReadResult r = s.process.ReadLine(&line, static_cast<int>(std::min(left, 200LL)));
    if (r == TarvexProcess::kEnd) {
      s.process.Wait(true);
      Err << Tag(s) << ": ended before announcing its port (" << s.process.StatusText() << ")";
      if (!s.recent.empty()) {
        Err << "; its last output:";
        for (const std::string& l : s.recent) Err << "\n    " << l;
      }
      Err << std::endl;
      s.failed = true;
      s.endReported = true;
      return false;
    }
    if (r != TarvexProcess::kLine) continue;
    if (line.compare(0, sizeof kAnnouncement - 1, kAnnouncement) == 0) {
      const std::string digits = line.substr(sizeof kAnnouncement - 1);
      int port = 0;
      size_t k = 0;
      while (k < digits.size() && digits[k] >= '0' && digits[k] <= '9' && port <= 65535)
        port = port * 10 + (digits[k++] - '0');
      if (k == 0 || k >= digits.size() || digits[k] != ']' || port < 1 || port > 65535) {
        Err << Tag(s) << ": garbled port announcement: " << line << std::endl;
        s.process.Kill();
        s.failed = true;
        s.stopExpected = true;
        return false;
      }
      return ConnectTo(s, port);
    }
    s.recent.push_back(line);
    if (s.recent.size() > kRecentLines) s.recent.pop_front();
  }
}

bool Study::ConnectTo(Simulator& s, int port) {
  // The simulator listens before it announces its port, so one attempt is
  // enough (a refusal means something else is wrong). The secret goes first:
  // int32 length, then its bytes.
  auto link = std::make_unique<TarvexSocket>(false);
  const std::string hello = wire::EncodeSecret(Secret);
  if (!link->Connect("127.0.0.1", port, false) ||
      link->Send(hello.data(), static_cast<int>(hello.size())) != static_cast<int>(hello.size())) {
    Err << Tag(s) << ": cannot connect to its port " << port << std::endl;
    s.process.Kill();
    s.failed = true;
    s.stopExpected = true;
    return false;
  }
  s.link = std::move(link);
  s.reader = std::make_unique<MessageReader>(LargestRecord(Layout.numNodes, Options.reportSize));
  s.port = port;
  s.connected = true;
  s.open = true;
  s.greetingDeadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(Options.startTimeout * 1000));
  return true;
}

void Study::Register() {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(Options.startTimeout * 1000));
  for (auto& s : Sims) {
    if (s->failed || TarvexProcess::TerminationSignal() != 0) continue;
    if (AwaitAnnouncement(*s, deadline) && Options.progress)
      Err << Tag(*s) << ": seed " << s->seed << ", port " << s->port << std::endl;
  }
}

void Study::CloseLink(Simulator& s) {
  if (s.link) s.link->Close();
  s.link.reset();
  s.reader.reset();
  if (s.open) s.closedAt = Clock::now();
  s.open = false;
}

void Study::Drop(Simulator& s, const std::string& reason) {
  Err << Tag(s) << ": " << reason << "; dropping its connection and keeping the "
      << Plural(s.packets, "packet") << " it sent before" << std::endl;
  CloseLink(s);
  s.failed = true;
  s.dropped = true;
  s.stopExpected = true;
  s.process.Terminate();
}

bool Study::HandleMessages(Simulator& s) {
  MessageReader::Message m;
  std::string error;
  for (;;) {
    const MessageReader::Result r = s.reader->Next(&m, &error);
    if (r == MessageReader::kNeedMore) return true;
    if (r == MessageReader::kError) {
      Drop(s, "sent a message that does not decode (" + error + ")");
      return false;
    }
    if (!s.greeted) {
      if (m.kind != MessageReader::kStatus || m.marker != 0xFF || m.code != 1) {
        Drop(s, "did not begin with its status message");
        return false;
      }
      s.greeted = true;
      if (m.pid != s.process.Pid())
        Err << Tag(s) << ": reports process id " << m.pid << " (started through a wrapper?)" << std::endl;
      continue;
    }
    switch (m.kind) {
      case MessageReader::kStatus:
        if (m.marker == 0xFE && m.code == 2) s.quitAnswered = true;
        break;
      case MessageReader::kCpuTime:
        if (m.clientId != (s.index & 0xff)) {
          Drop(s, "sent a CPU-time message for client " + std::to_string(m.clientId));
          return false;
        }
        s.cpuSeconds = m.seconds;
        break;
      case MessageReader::kRecord: {
        if (Stop != StopReason::kNone) {
          DiscardedPackets++;
          break;
        }
        // A packet is a few hundred kilobytes: decoding into a recycled one
        // saves allocating, zero-filling and faulting in fresh memory for
        // every record, which cost the manager more than the decoding.
        Packet packet = TakeSparePacket();
        RecordHeader header;
        if (!DecodeRecord(m.data, m.size, Layout.numNodes, &packet, &header, &error)) {
          Drop(s, "sent a record that does not decode (" + error + ")");
          return false;
        }
        const int experiment = SimulatorExperiment(Options, s.index);
        if (header.clientId != (s.index & 0xff) || header.experiment != experiment) {
          Drop(s, "sent a record of client " + std::to_string(header.clientId) + ", experiment " +
                      std::to_string(header.experiment) + " (expected client " + std::to_string(s.index & 0xff) +
                      ", experiment " + std::to_string(experiment) + ")");
          return false;
        }
        if (s.stallWarned) {
          if (Terminal && ProgressShown) Err << "\r\033[K";
          Err << Tag(s) << ": sends again after " << Number(SecondsSince(s.quietSince), 1) << " s" << std::endl;
          s.stallWarned = false;
        }
        s.quietSince = Clock::now();
        s.packets++;
        s.replications += packet.replications;
        ReceivedReplications += packet.replications;
        s.pending.push_back(std::move(packet));
        break;
      }
    }
  }
}

void Study::ReadFrom(Simulator& s) {
  size_t total = 0;
  while (s.open) {
    size_t room = 0;
    char* space = s.reader->Space(&room);
    const int want = static_cast<int>(std::min(room, kLargestRead));
    const int got = s.link->Recv(space, want);
    if (got <= 0) {
      const bool expected = s.stopExpected;
      CloseLink(s);
      if (!expected && got < 0) Err << Tag(s) << ": its connection failed" << std::endl;
      return;
    }
    s.reader->Commit(static_cast<size_t>(got));
    if (!HandleMessages(s)) return;
    total += static_cast<size_t>(got);
    if (got < want || total >= kLargestRead || !s.link->Select(0)) return;
  }
}

void Study::Pump(int timeoutMs) {
  std::vector<TarvexSocket*> sockets;
  for (auto& s : Sims) {
    // A simulator far ahead of the slowest one is left unread for a while,
    // which bounds what waits here to be counted.
    const bool held = !Stopping && s->pending.size() >= kMostPending;
    sockets.push_back(s->open && !held ? s->link.get() : nullptr);
  }
  // With no connection to watch (the simulators have closed theirs and are
  // ending), only their exits are awaited: look again soon rather than
  // sleeping a whole poll interval at the end of every study.
  if (std::count(sockets.begin(), sockets.end(), nullptr) == static_cast<std::ptrdiff_t>(sockets.size()))
    timeoutMs = std::min(timeoutMs, kEndingPollMs);
  std::unique_ptr<bool[]> readable(new bool[sockets.size() + 1]);
  const int ready = TarvexSocket::SelectMany(sockets.data(), static_cast<int>(sockets.size()), timeoutMs,
                                             readable.get());
  if (ready <= 0) return;
  for (size_t i = 0; i < Sims.size(); i++)
    if (readable[i] && Sims[i]->open) ReadFrom(*Sims[i]);
}

void Study::ReportEnd(Simulator& s) {
  if (s.endReported) return;
  s.endReported = true;
  const bool normal = s.process.Exited() && s.process.ExitCode() == 0;
  if (s.stopExpected) {
    // Told to quit: only an unexpected way of ending is worth a word.
    if (!normal && !s.dropped && s.quitSent && s.process.Exited())
      Err << Tag(s) << ": ended with " << s.process.StatusText() << " after being told to quit" << std::endl;
    return;
  }
  if (!normal) s.failed = true;
  if (normal) s.finishedRun = true;
  Err << Tag(s) << ": " << (normal ? "finished its run" : "ended unexpectedly") << " ("
      << s.process.StatusText() << ")";
  if (Stop == StopReason::kNone) {
    Err << "; keeping the " << Plural(s.packets, "packet") << " (" << s.replications << " replications) it sent";
    const int left = OpenCount();
    if (left > 0) Err << "; the study goes on with " << Plural(left, "simulator");
  }
  if (!normal && !s.recent.empty()) {
    Err << "; its last output:";
    for (const std::string& l : s.recent) Err << "\n    " << l;
  }
  Err << std::endl;
}

void Study::Reap() {
  for (auto& sp : Sims) {
    Simulator& s = *sp;
    if (s.process.Running()) {
      if (s.process.Wait(false)) {
        CollectOutput(s);
        // Its connection ends with it; whatever it sent is read first.
        if (s.open && s.link->Select(0)) ReadFrom(s);
        if (!s.open) ReportEnd(s);
      } else if (!s.open && !s.stopExpected && SecondsSince(s.closedAt) * 1000 > kClosedGraceMs) {
        Err << Tag(s) << ": closed its connection but did not exit; stopping it" << std::endl;
        s.failed = true;
        s.stopExpected = true;
        s.process.Kill();
      } else if (s.dropped && !s.killed && !s.open && SecondsSince(s.closedAt) * 1000 > kClosedGraceMs) {
        // A stopped (kill -STOP) or hung process does not act on the
        // termination request; the study would wait for it for ever.
        Err << Tag(s) << ": did not end after being dropped; killing it" << std::endl;
        s.killed = true;
        s.process.Kill();
      }
    } else if (!s.open && !s.endReported && s.process.Pid() > 0) {
      ReportEnd(s);
    }
    if (s.open && !s.greeted && Clock::now() > s.greetingDeadline)
      Drop(s, "sent no status message within " + Number(Options.startTimeout, 0) + " s");
  }
}

Packet Study::TakeSparePacket() {
  if (SparePackets.empty()) return Packet();
  Packet packet = std::move(SparePackets.back());
  SparePackets.pop_back();
  return packet;
}

void Study::CountFront(Simulator& s) {
  Counted.Add(s.pending.front(), Options.maxReplications - Counted.replications);
  // Kept up to as many as may wait to be counted (a bundle of reports
  // arrives at once), so that the memory in use stays what it was at most.
  if (SparePackets.size() < Sims.size() * kMostPending) SparePackets.push_back(std::move(s.pending.front()));
  s.pending.pop_front();
}

void Study::CountRounds() {
  while (Stop == StopReason::kNone) {
    bool any = false;
    for (auto& s : Sims) {
      if (!s->pending.empty())
        any = true;
      else if (s->open)
        return;  // its packet of this round is still to come
    }
    if (!any) return;
    if (Paired)
      CountPairs();
    else
      for (auto& s : Sims) {
        if (s->pending.empty()) continue;
        CountFront(*s);
        if (Counted.replications >= Options.maxReplications) break;
      }
    Rounds++;
    if (Counted.replications >= Options.maxReplications) {
      BeginStop(StopReason::kMax, kStopGraceMs);
      return;
    }
    if (AssessPrecision(Counted.nodes, Options.interval).met) {
      BeginStop(StopReason::kTarget, kStopGraceMs);
      return;
    }
  }
}

// With --compare: counts the front packet of simulator j (experiment A)
// with that of simulator half + j (experiment B, the same seed) as pairs of
// replications. A packet whose partner has ended has nothing to pair with
// and is discarded. True when any packet was taken.
bool Study::CountPairs() {
  const size_t half = Sims.size() / 2;
  bool any = false;
  for (size_t j = 0; j < half; j++) {
    std::deque<Packet>& a = Sims[j]->pending;
    std::deque<Packet>& b = Sims[half + j]->pending;
    if (a.empty() && b.empty()) continue;
    any = true;
    if (!a.empty() && !b.empty() && Counted.replications < Options.maxReplications)
      Paired->Count(a.front(), b.front(), Options.maxReplications - Counted.replications, &Counted);
    else
      DiscardedPackets++;
    if (!a.empty()) a.pop_front();
    if (!b.empty()) b.pop_front();
    // A simulator that is ahead of a partner that has ended can pair
    // nothing more (one that ran as far as its partner is left to finish).
    for (size_t k : {j, half + j}) {
      Simulator& partner = *Sims[k == j ? half + j : j];
      if (Sims[k]->open && !Sims[k]->pending.empty() && !partner.open && partner.pending.empty())
        Drop(*Sims[k], "its paired simulator " + std::to_string(partner.index) +
                           " has ended, so nothing more it sends can be paired");
    }
  }
  return any;
}

// A connected simulator that the next round waits for, and that has sent
// nothing for a while, is stopped (kill -STOP), stuck or far too slow: the
// study would wait for it unseen. Warned about once per stall; with
// --drop-stalled it is dropped after that long and killed (a stopped
// process would not act on a termination request).
void Study::CheckStalls() {
  const Clock::time_point now = Clock::now();
  for (auto& sp : Sims) {
    Simulator& s = *sp;
    if (!(s.open && s.greeted && s.pending.empty())) {
      s.awaited = false;
      continue;
    }
    if (!s.awaited) {
      s.awaited = true;
      s.quietSince = now;
      continue;
    }
    const double quiet = std::chrono::duration<double>(now - s.quietSince).count();
    if (Options.dropStalled > 0 && quiet >= Options.dropStalled) {
      if (Terminal && ProgressShown) Err << "\r\033[K";
      Drop(s, "sent no packet for " + Number(quiet, 1) + " s while the study waited for it (--drop-stalled " +
                  Short(Options.dropStalled) + ")");
      s.killed = true;
      s.process.Kill();
      continue;
    }
    if (!s.stallWarned && quiet >= Options.stallWarning) {
      s.stallWarned = true;
      if (Terminal && ProgressShown) Err << "\r\033[K";
      Err << Tag(s) << ": WARNING: no packet for " << Number(quiet, 1)
          << " s while the study waits for it (stopped or stuck?); ";
      if (Options.dropStalled > 0)
        Err << "it is dropped after " << Short(Options.dropStalled) << " s without one" << std::endl;
      else
        Err << "--drop-stalled SECONDS drops such a simulator" << std::endl;
    }
  }
}

void Study::BeginStop(StopReason reason, int graceMs) {
  if (Stop == StopReason::kNone) Stop = reason;
  Stopping = true;
  StopDeadline = Clock::now() + std::chrono::milliseconds(graceMs);
  for (auto& sp : Sims) {
    Simulator& s = *sp;
    DiscardedPackets += static_cast<long long>(s.pending.size());
    s.pending.clear();
    if (s.open) {
      s.stopExpected = true;
      if (!s.quitSent) {
        s.quitSent = true;
        if (s.link->Send(&kQuitCommand, 1) <= 0) CloseLink(s);
      }
    } else if (!s.connected && !s.stopExpected && s.process.Running()) {
      // Started but never connected (the study was interrupted while it
      // was starting up).
      s.stopExpected = true;
      s.process.Terminate();
    }
    // A simulator whose connection has already ended is left to end by
    // itself, so that how it ended is still reported; Reap stops one that
    // does not.
  }
}

int Study::OpenCount() const {
  int n = 0;
  for (const auto& s : Sims) n += s->open ? 1 : 0;
  return n;
}

int Study::RunningCount() const {
  int n = 0;
  for (const auto& s : Sims) n += s->process.Running() ? 1 : 0;
  return n;
}

bool Study::AllEnded() const {
  for (const auto& s : Sims)
    if (s->open || s->process.Running()) return false;
  return true;
}

void Study::Progress(bool final) {
  if (!Options.progress) return;
  const Clock::time_point now = Clock::now();
  if (!final && now < NextProgress) return;
  NextProgress = now + std::chrono::milliseconds(Terminal ? 500 : 10000);
  if (final && !ProgressShown) return;
  const double elapsed = SecondsSince(StudyStart);
  const Precision p = AssessPrecision(Counted.nodes, Options.interval);
  std::string line = std::to_string(Counted.replications) + " replications counted";
  if (ReceivedReplications > Counted.replications)
    line += " (" + std::to_string(ReceivedReplications) + " received)";
  line += " in " + Number(elapsed, 1) + " s";
  if (elapsed > 0) line += ", " + Number(ReceivedReplications / elapsed, 0) + "/s";
  if (p.widest >= 0) {
    line += "; widest ";
    line += p.widestHalf < 1e300 ? "+-" + Number(p.widestHalf, 4) : std::string("(no interval yet)");
    line += " at " + NodeLabel(Layout, p.widest) + " (target " + Short(p.widestTarget) + ")";
  }
  line += "; " + Plural(OpenCount(), "simulator") + " connected";
  if (Terminal)
    Err << "\r" << line << "\033[K" << (final ? "\n" : "") << std::flush;
  else
    Err << "simmgr: " << line << std::endl;
  ProgressShown = true;
}

void Study::Loop() {
  StudyStart = Clock::now();
  NextProgress = StudyStart + std::chrono::milliseconds(Terminal ? 500 : 10000);
  for (;;) {
    const int signal = TarvexProcess::TerminationSignal();
    if (signal != 0 && InterruptSignal == 0) {
      InterruptSignal = signal;
      if (Terminal && ProgressShown) Err << "\n";
      Err << "simmgr: " << TarvexProcess::SignalName(signal) << ": stopping the simulators and writing "
          << "the results so far" << std::endl;
      if (Stop == StopReason::kNone) {
        Stop = StopReason::kInterrupted;
        // Everything that has arrived is counted, in round order as far as
        // it goes: nothing more is coming.
        for (bool any = true; any;) {
          any = false;
          if (Paired) {
            any = CountPairs();
            continue;
          }
          for (auto& s : Sims) {
            if (s->pending.empty()) continue;
            CountFront(*s);
            any = true;
          }
        }
      }
      BeginStop(StopReason::kInterrupted, kInterruptGraceMs);
    }
    Pump(kPollMs);
    for (auto& s : Sims)
      if (s->process.Running()) CollectOutput(*s);
    Reap();
    if (!Stopping) {
      CountRounds();
      if (!Stopping) CheckStalls();
      // With every connection closed and every process collected (so that
      // it is known how each one ended), nothing more can arrive.
      if (!Stopping && OpenCount() == 0 && RunningCount() == 0) {
        bool anyFinished = false;
        for (auto& s : Sims) anyFinished = anyFinished || s->finishedRun;
        BeginStop(anyFinished ? StopReason::kFinished : StopReason::kNoneLeft, kStopGraceMs);
      }
    }
    if (Stopping) {
      if (AllEnded()) break;
      if (MillisecondsUntil(StopDeadline) <= 0) {
        for (auto& s : Sims) {
          if (s->process.Running()) {
            Err << Tag(*s) << ": did not stop in time; killing it" << std::endl;
            s->process.Kill();
          }
          CloseLink(*s);
        }
        break;
      }
    }
    Progress(false);
  }
  for (auto& s : Sims) {
    s->process.Wait(true);
    CollectOutput(*s);
  }
  Progress(true);
}

int Study::Finish() {
  const bool complete = Stop == StopReason::kTarget || Stop == StopReason::kMax || Stop == StopReason::kFinished;
  const StudyResults results = BuildResults(Layout, Counted, Options.interval, complete);
  const Precision p = AssessPrecision(Counted.nodes, Options.interval);
  std::vector<std::string> summary;

  int connected = 0;
  double cpu = 0;
  std::string seeds;
  for (const auto& s : Sims) {
    connected += s->greeted ? 1 : 0;
    cpu += s->cpuSeconds;
    seeds += (seeds.empty() ? "" : ", ") + std::to_string(s->seed);
  }
  std::string study = "Study: " + std::to_string(Counted.replications) + " replications counted in " +
                      Plural(Rounds, "round") + " of " + Plural(connected, "simulator") + " (-n " +
                      std::to_string(Options.reportSize) + ", base seed " + std::to_string(Options.seed) +
                      ", simulator seeds " + seeds + ")";
  if (DiscardedPackets > 0) study += "; " + Plural(DiscardedPackets, "packet") + " past the last round discarded";
  summary.push_back(study + ".");

  std::string widest = p.widest >= 0 && p.widestHalf < 1e300
                           ? "widest half-width " + Number(p.widestHalf, 5) + " at " + NodeLabel(Layout, p.widest)
                           : std::string("no interval yet");
  std::string target = Options.interval.relative > 0
                           ? "relative " + Short(Options.interval.relative) + " (absolute " +
                                 Short(Options.interval.halfWidth) + " where the mean is 0)"
                           : Short(Options.interval.halfWidth);
  int exitCode = kExitOk;
  switch (Stop) {
    case StopReason::kTarget:
      summary.push_back("Stopped: every half-width is within the target " + target + "; " + widest + ".");
      break;
    case StopReason::kMax:
      summary.push_back("Stopped: --max " + std::to_string(Options.maxReplications) + " replications reached" +
                        (p.met ? "" : " before the target " + target + " (" + widest + ")") + ".");
      break;
    case StopReason::kFinished:
      summary.push_back("Stopped: the simulators finished their runs" +
                        (p.met ? std::string() : " before the target " + target + " was reached (" + widest + ")") + ".");
      break;
    case StopReason::kNoneLeft:
      summary.push_back("FAILED: no simulator is left; the results hold what was received (" + widest + ").");
      exitCode = kExitFailure;
      break;
    case StopReason::kInterrupted:
    case StopReason::kNone:
      summary.push_back("INTERRUPTED by " + TarvexProcess::SignalName(InterruptSignal) +
                        ": the results hold everything received so far (" + widest + ").");
      exitCode = 128 + InterruptSignal;
      break;
  }
  summary.push_back("Intervals: " + (Paired ? Paired->IntervalText() : MethodText(Counted.nodes, Options.interval) +
                    (Options.interval.bonferroni ? " (simultaneous)" : " per node")) + ".");
  summary.push_back("Wall time " + Number(SecondsSince(StudyStart), 1) + " s; simulator CPU time " +
                    Number(cpu, 1) + " s in all.");

  if (Paired) {
    if (!Paired->Publish(Counted, complete, summary, Out, Err) && exitCode == kExitOk) exitCode = kExitFailure;
    return exitCode;
  }
  Publication pub;
  pub.results = &results;
  pub.modelTitle = ModelTitle(Options.model);
  pub.settings = Options.interval;
  pub.outDir = Options.out;
  pub.summary = summary;
  pub.exact = HaveExact ? &Exact : nullptr;
  pub.exactPath = Options.exact;
  if (!Publish(pub, Out, Err) && exitCode == kExitOk) exitCode = kExitFailure;
  if (Options.paths.enabled && !PublishPaths(Options, static_cast<int>(Sims.size()), Out, Err) &&
      exitCode == kExitOk)
    exitCode = kExitFailure;
  return exitCode;
}

int Study::Run() {
  int exitCode = kExitOk;
  if (!Prepare(&exitCode)) return exitCode;
  Terminal = Options.progress && TarvexProcess::StandardErrorIsTerminal();
  TarvexProcess::InstallTerminationHook();
  Launch();
  Register();
  bool anyConnected = false;
  for (auto& s : Sims) anyConnected = anyConnected || s->open;
  if (!anyConnected && TarvexProcess::TerminationSignal() == 0) {
    Err << "simmgr: no simulator could be started and connected (simulator: " << SimulatorPath << ")"
        << std::endl;
    for (auto& s : Sims) {
      if (s->process.Running()) s->process.Kill();
      s->process.Wait(true);
    }
    return kExitFailure;
  }
  Loop();
  return Finish();
}

}  // namespace

int RunStudy(const StudyOptions& options, std::ostream& out, std::ostream& err) {
  Study study(options, out, err);
  return study.Run();
}

}  // namespace simmgr
