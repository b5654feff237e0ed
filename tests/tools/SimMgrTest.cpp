// The simulation manager: its statistics against published values, its
// decoding against the simulator's own encoder, and the simmgr program
// against real simulator processes (and a misbehaving stand-in).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "network/TarvexProcess.h"
#include "results/Results.h"
#include "simmgr/Options.h"
#include "simmgr/Records.h"
#include "simmgr/Report.h"
#include "simmgr/Statistics.h"
#include "simulator/DataPacket.h"
#include "simulator/SimulatorClass.h"

namespace {

namespace fs = std::filesystem;
using namespace simmgr;

const std::string kSimMgr = TARVEX_BINARY_DIR "/simmgr";
const std::string kSimulator = TARVEX_BINARY_DIR "/attack_flow_sim";
const std::string kFake = TARVEX_BINARY_DIR "/simmgr_fake_simulator";

// ---- statistics -------------------------------------------------------------

TEST(SimMgrStatistics, WilsonIntervalsMatchPublishedValues) {
  // Newcombe (1998), Statistics in Medicine 17, 857-872, table I (95%).
  struct Case {
    long long x, n;
    double lower, upper;
  };
  const double z = NormalQuantile(0.975);
  for (const Case& c : {Case{81, 263, 0.2553, 0.3662}, Case{15, 148, 0.0624, 0.1605}, Case{0, 20, 0.0, 0.1611},
                        Case{1, 29, 0.0061, 0.1718}}) {
    SCOPED_TRACE(std::to_string(c.x) + "/" + std::to_string(c.n));
    const Interval w = WilsonInterval(static_cast<double>(c.x) / c.n, c.n, z);
    ASSERT_TRUE(w.bounded);
    EXPECT_NEAR(w.lower, c.lower, 5e-5);
    EXPECT_NEAR(w.upper, c.upper, 5e-5);
  }
  // All successes: the interval ends at 1 exactly and keeps its width.
  const Interval all = WilsonInterval(1.0, 20, z);
  EXPECT_EQ(all.upper, 1.0);
  EXPECT_NEAR(all.lower, 1.0 - 0.1611, 5e-5);
  EXPECT_FALSE(WilsonInterval(0.5, 0, z).bounded);
}

TEST(SimMgrStatistics, QuantilesMatchTables) {
  EXPECT_NEAR(NormalQuantile(0.975), 1.959963984540054, 1e-12);
  EXPECT_NEAR(NormalQuantile(0.5), 0.0, 1e-15);
  EXPECT_NEAR(NormalQuantile(0.05), -1.644853626951472, 1e-12);
  EXPECT_NEAR(NormalQuantile(0.999), 3.090232306167813, 1e-12);
  EXPECT_NEAR(NormalQuantile(1e-10), -6.361340902404056, 1e-10);
  for (double p : {1e-12, 0.001, 0.02, 0.3, 0.9, 0.99985119, 1 - 1e-9})  // back through the distribution
    EXPECT_NEAR(0.5 * std::erfc(-NormalQuantile(p) / std::sqrt(2.0)), p, 1e-13 + 1e-12 * p) << p;
  EXPECT_NEAR(StudentQuantile(0.975, 1), 12.70620473617471, 1e-8);
  EXPECT_NEAR(StudentQuantile(0.975, 10), 2.228138851986273, 1e-9);
  EXPECT_NEAR(StudentQuantile(0.95, 5), 2.015048372669157, 1e-9);
  EXPECT_NEAR(StudentQuantile(0.025, 10), -2.228138851986273, 1e-9);
  const Interval t = StudentInterval(10.0, 4.0, 11, 0.95);
  EXPECT_NEAR(t.HalfWidth(), 2.228138851986273 * 2.0 / std::sqrt(11.0), 1e-9);
  EXPECT_FALSE(StudentInterval(1.0, 0.0, 1, 0.95).bounded);
}

TEST(SimMgrStatistics, MergedChunksMatchOnePassAndChooseTheInterval) {
  std::mt19937 random(12345);
  std::normal_distribution<double> normal(1e6, 3.0);  // a large mean tests stability
  std::vector<double> values(1000);
  for (double& v : values) v = normal(random);
  NodeStats whole, chunked;
  whole.AddChunk(values.data(), 1000);
  for (size_t at = 0, step = 1; at < values.size(); at += step, step = step * 2 + 1)
    chunked.AddChunk(values.data() + at, static_cast<long long>(std::min(step, values.size() - at)));
  double sum = 0, squares = 0;
  for (double v : values) sum += v;
  for (double v : values) squares += (v - sum / 1000) * (v - sum / 1000);
  EXPECT_EQ(chunked.n, 1000);
  EXPECT_NEAR(chunked.mean, sum / 1000, 1e-8);
  EXPECT_NEAR(chunked.Variance(), squares / 999, 1e-9 * squares / 999);
  EXPECT_NEAR(whole.Variance(), chunked.Variance(), 1e-9 * whole.Variance());
  EXPECT_FALSE(chunked.binary);
  // Non-0/1 data gets the t interval.
  const Interval i = NodeInterval(chunked, 0.95);
  EXPECT_NEAR(i.HalfWidth(), StudentQuantile(0.975, 999) * std::sqrt(chunked.Variance() / 1000), 1e-9);

  // 0/1 data gets Wilson, also at a mean of 0 where a t interval collapses.
  NodeStats zeros;
  const std::vector<double> none(400, 0.0);
  zeros.AddChunk(none.data(), 400);
  EXPECT_TRUE(zeros.binary);
  const Interval w = NodeInterval(zeros, 0.95);
  EXPECT_EQ(w.lower, 0.0);
  EXPECT_GT(w.upper, 0.009);
}

TEST(SimMgrStatistics, StoppingRuleUsesTheTargetsAndBonferroni) {
  std::vector<NodeStats> nodes(2);
  std::vector<double> half(1000, 0.0);
  for (size_t i = 0; i < 500; i++) half[i] = 1.0;
  nodes[0].AddChunk(half.data(), 1000);  // mean 0.5: Wilson half-width about 0.031
  const std::vector<double> zeros(1000, 0.0);
  nodes[1].AddChunk(zeros.data(), 1000);  // mean 0: half-width about 0.0019

  IntervalSettings s;
  s.halfWidth = 0.05;
  EXPECT_TRUE(AssessPrecision(nodes, s).met);
  s.halfWidth = 0.02;
  Precision p = AssessPrecision(nodes, s);
  EXPECT_FALSE(p.met);
  EXPECT_EQ(p.widest, 0);
  EXPECT_NEAR(p.widestHalf, 0.0309, 1e-3);

  // Relative: 10% of 0.5 for node 0; node 1 (mean 0) keeps the absolute 0.002.
  s.halfWidth = 0.002;
  s.relative = 0.1;
  EXPECT_DOUBLE_EQ(NodeTarget(nodes[0], s), 0.05);
  EXPECT_DOUBLE_EQ(NodeTarget(nodes[1], s), 0.002);
  EXPECT_TRUE(AssessPrecision(nodes, s).met);

  // Bonferroni widens every interval.
  s.bonferroni = true;
  EXPECT_DOUBLE_EQ(NodeLevel(s, 168), 1.0 - 0.05 / 168);
  EXPECT_GT(NodeInterval(nodes[0], NodeLevel(s, 168)).HalfWidth(), NodeInterval(nodes[0], 0.95).HalfWidth());
  EXPECT_NE(MethodText(nodes, s).find("Bonferroni"), std::string::npos);
}

TEST(SimMgrOptions, SeedsAreDistinctNonZeroAndBelow2To31) {
  std::vector<uint32_t> seeds;
  for (int i = 0; i < 256; i++) seeds.push_back(SimulatorSeed(31415, i));
  EXPECT_EQ(seeds[0], 31415u);
  EXPECT_EQ(seeds[1], 31415u + 1000003u);
  for (size_t i = 0; i < seeds.size(); i++) {
    EXPECT_GT(seeds[i], 0u);
    EXPECT_LT(seeds[i], 1u << 31);
    for (size_t j = 0; j < i; j++) ASSERT_NE(seeds[i], seeds[j]);
  }
  EXPECT_EQ(SimulatorSeed(0, 0), 2147483647u) << "0 is replaced";
  EXPECT_EQ(SimulatorSeed(2147483647ull + 5, 0), 5u);
}

// ---- decoding ---------------------------------------------------------------

// One record written by the simulator's own encoder: client 3, experiment 0,
// 5 observations of every node, with the squares (kind 2) entries too.
std::string EncodedRecord(std::vector<double>* written) {
  static std::string record;
  static std::vector<double> values;
  if (record.empty()) {
    const char* argv[] = {"attack_flow_sim", "-c", "3", "-N", "1"};
    SimulatorClass sim(5, const_cast<char**>(argv));
    DataPacket v(3, 0, sim.NumPVs, 5), sq(3, 0, sim.NumPVs, 5);
    for (int i = 0; i < sim.NumPVs; i++)
      for (int k = 0; k < 5; k++) {
        v.at(i, k) = (i * 7 + k) % 3 == 0 ? 1.0 : (i == 4 ? -2.5 * k : 0.0);
        sq.at(i, k) = v.at(i, k) * v.at(i, k);
        values.push_back(v.at(i, k));
      }
    v.setAllCounts(5);
    sq.setAllCounts(5);
    std::ostringstream out;
    sim.OutputDataBinary(nullptr, &out, &v, &sq);
    record = out.str();
  }
  *written = values;
  return record;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(SimMgrRecords, DecodesWhatTheSimulatorEncodes) {
  std::vector<double> written;
  const std::string record = EncodedRecord(&written);
  ASSERT_EQ(record.size(), 9u + 7u * 336 + 8u * 336 * 5);
  Packet p;
  RecordHeader h;
  std::string error;
  ASSERT_TRUE(DecodeRecord(Bytes(record), record.size(), NodeCount(), &p, &h, &error)) << error;
  EXPECT_EQ(h.clientId, 3);
  EXPECT_EQ(h.experiment, 0);
  EXPECT_EQ(p.replications, 5);
  for (int i = 0; i < NodeCount(); i++) {
    ASSERT_EQ(p.counts[static_cast<size_t>(i)], 5);
    for (int k = 0; k < 5; k++) ASSERT_EQ(p.Row(i)[k], written[static_cast<size_t>(i * 5 + k)]) << i << "," << k;
  }

  // The same bytes through the stream splitter, one byte at a time, after a
  // greeting and a CPU-time message.
  std::string stream = std::string("\0\0\0\x0a\xff\x01\0\0\x30\x39", 10) +
                       std::string("\0\0\0\x0c\xfe\x03\0\0", 8) + std::string("\x3f\xf8\0\0\0\0\0\0", 8) + record;
  MessageReader reader(LargestRecord(NodeCount(), 5));
  std::vector<MessageReader::Message> seen;
  std::vector<size_t> recordSizes;
  for (char c : stream) {
    size_t room = 0;
    *reader.Space(&room) = c;
    reader.Commit(1);
    MessageReader::Message m;
    while (reader.Next(&m, &error) == MessageReader::kMessage) {
      seen.push_back(m);
      if (m.kind == MessageReader::kRecord) recordSizes.push_back(m.size);
    }
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, MessageReader::kStatus);
  EXPECT_EQ(seen[0].pid, 12345);
  EXPECT_EQ(seen[1].kind, MessageReader::kCpuTime);
  EXPECT_EQ(seen[1].clientId, 3);
  EXPECT_EQ(seen[1].seconds, 1.5);
  EXPECT_EQ(recordSizes, std::vector<size_t>{record.size()});
}

TEST(SimMgrRecords, RejectsRecordsThatDoNotDecode) {
  std::vector<double> written;
  const std::string good = EncodedRecord(&written);
  const size_t firstEntry = 9, secondValue = firstEntry + 7 + 8;
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  auto with = [&](size_t at, std::string replacement) {
    std::string b = good;
    b.replace(at, replacement.size(), replacement);
    return b;
  };
  const std::string nan("\x7f\xf8\0\0\0\0\0\0", 8);
  const std::vector<Case> cases = {
      {"length field", with(0, std::string("\0\0\0\x10", 4)), "length field"},
      {"truncated", good.substr(0, good.size() - 3), "length field"},
      {"unknown kind", with(firstEntry + 2, "\x07"), "unknown kind 7"},
      {"node id out of range", with(firstEntry, "\x01\x00"), "node id 256"},
      {"absurd count", with(firstEntry + 3, "\x7f\xff\xff\xff"), "claims 2147483647"},
      {"duplicate node", with(firstEntry + 7 + 40 + 1, std::string("\0", 1)), "twice"},
      {"entry count", with(7, "\x7f\xff"), "entries"},
      {"not a number", with(secondValue, nan), "not a finite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Packet p;
    RecordHeader h;
    std::string error;
    EXPECT_FALSE(DecodeRecord(Bytes(c.bytes), c.bytes.size(), NodeCount(), &p, &h, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  // Lengths no record can have end the stream.
  for (const std::string& head : {std::string("\0\0\0\x05", 4), std::string("\x7f\xff\xff\xff", 4),
                                  std::string("\0\0\0\x0a\x01\x01\0\0\0\0", 10)}) {
    MessageReader reader(LargestRecord(NodeCount(), 200));
    size_t room = 0;
    char* space = reader.Space(&room);
    std::copy(head.begin(), head.end(), space);
    reader.Commit(head.size());
    MessageReader::Message m;
    std::string error;
    EXPECT_EQ(reader.Next(&m, &error), MessageReader::kError);
    EXPECT_FALSE(error.empty());
  }
}

// ---- the program ----------------------------------------------------------------

struct Outcome {
  int exitCode = -1;
  int signal = 0;
  std::string output;  // standard output and error
};

// Runs simmgr to its end (at most a few minutes: only there to turn a hang
// into a failure).
Outcome RunSimMgr(const std::vector<std::string>& args) {
  TarvexProcess p;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  Outcome o;
  if (!p.Start(kSimMgr, args, options)) {
    o.output = p.GetErrorString();
    return o;
  }
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (std::chrono::steady_clock::now() < deadline) {
    const TarvexProcess::ReadResult r = p.ReadLine(&line, 1000);
    if (r == TarvexProcess::kEnd) break;
    if (r == TarvexProcess::kLine) o.output += line + "\n";
  }
  if (p.Running() && !p.Wait(false)) p.Kill();
  p.Wait(true);
  o.exitCode = p.ExitCode();
  o.signal = p.TermSignal();
  return o;
}

// A fresh directory for one test, removed at its end unless the test failed
// (then it is left for a look).
class Scratch {
 public:
  explicit Scratch(const std::string& name) {
    static std::atomic<int> counter{0};
    Dir = fs::temp_directory_path() / ("simmgr_test_" + std::to_string(TarvexProcess::CurrentPid()) + "_" +
                                       std::to_string(counter++) + "_" + name);
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  ~Scratch() {
    std::error_code ec;
    if (!::testing::Test::HasFailure()) fs::remove_all(Dir, ec);
  }
  fs::path operator/(const std::string& part) const { return Dir / part; }
  operator const fs::path&() const { return Dir; }

 private:
  fs::path Dir;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

StudyResults ReadResults(const fs::path& dir) {
  StudyResults r;
  std::ifstream in(dir / "results.csv");
  std::string error;
  EXPECT_TRUE(ReadCsv(in, &r, &error)) << error;
  const std::string json = ReadText(dir / "results.json");
  r.complete = json.find("\"complete\": true") != std::string::npos;
  const size_t at = json.find("\"replications\": ");
  if (at != std::string::npos) r.replications = std::stoll(json.substr(at + 16));
  return r;
}

// A simulator program that is the stand-in (in the given mode) for client 1
// and the real simulator for every other client.
std::string FakeForClientOne(const fs::path& dir, const std::string& mode) {
  const fs::path script = dir / ("sim_" + mode + ".sh");
  std::ofstream(script) << "#!/bin/sh\n"
                        << "case \" $* \" in *\" -c 1 \"*) exec '" << kFake << "' " << mode << " \"$@\";; esac\n"
                        << "exec '" << kSimulator << "' \"$@\"\n";
  fs::permissions(script, fs::perms::owner_all);
  return script.string();
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(SimMgrProgram, StopsWhenEveryIntervalIsNarrowEnough) {
  const Scratch dir("target");
  const Outcome o = RunSimMgr({"--jobs", "2", "--half-width", "0.05", "--seed", "7", "--out", (dir / "r").string()});
  ASSERT_EQ(o.exitCode, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "Stopped: every half-width is within the target 0.05")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Sensitive Information")) << "the table is printed";
  const StudyResults r = ReadResults(dir / "r");
  ASSERT_EQ(r.nodes.size(), 168u);
  EXPECT_TRUE(r.complete);
  EXPECT_GT(r.replications, 0);
  EXPECT_EQ(r.replications % 400, 0) << "whole rounds of 2 simulators x 200 replications";
  for (const NodeResult& n : r.nodes) {
    SCOPED_TRACE(n.pvId);
    EXPECT_EQ(n.n, r.replications);
    EXPECT_LE((n.upper - n.lower) / 2, 0.05);
    EXPECT_LE(n.lower, n.mean);
    EXPECT_GE(n.upper, n.mean);
  }
  EXPECT_EQ(r.nodes[0].name, "NoKeyNoAccess");
  EXPECT_EQ(r.nodes[0].mean, 1.0) << "the adversary starts with nothing";
  EXPECT_EQ(r.nodes[21].name, "SSIDandMAC");
  EXPECT_EQ(r.nodes[21].mean, 0.0);
  EXPECT_EQ(r.nodes[21 + 20].time, 100.0);
}

TEST(SimMgrProgram, SameSeedAndJobsGiveTheSameNumbersAndMaxIsExact) {
  const Scratch dir("repro");
  std::vector<std::string> csv;
  for (const char* seed : {"99", "99", "100"}) {
    const fs::path out = dir / ("r" + std::to_string(csv.size()));
    const Outcome o = RunSimMgr({"--jobs", "2", "--half-width", "0.03", "--seed", seed, "--out", out.string()});
    ASSERT_EQ(o.exitCode, 0) << o.output;
    csv.push_back(ReadText(out / "results.csv"));
  }
  EXPECT_EQ(csv[0], csv[1]);
  EXPECT_NE(csv[0], csv[2]);

  const Outcome o = RunSimMgr({"--jobs", "2", "--max", "1000", "--half-width", "0.0001", "--quiet", "--out",
                               (dir / "max").string(), "--", "-n", "150"});
  ASSERT_EQ(o.exitCode, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "--max 1000 replications reached before the target")) << o.output;
  const StudyResults r = ReadResults(dir / "max");
  EXPECT_EQ(r.replications, 1000);
  EXPECT_TRUE(r.complete);
  for (const NodeResult& n : r.nodes) EXPECT_EQ(n.n, 1000);
}

TEST(SimMgrProgram, SurvivesACrashedSimulatorAndARecordThatDoesNotDecode) {
  const Scratch dir("faults");
  for (const std::string mode : {"crash", "garbage"}) {
    SCOPED_TRACE(mode);
    const Outcome o = RunSimMgr({"--jobs", "2", "--max", "2000", "--half-width", "0.0001", "--simulator",
                                 FakeForClientOne(dir, mode), "--out", (dir / mode).string()});
    ASSERT_EQ(o.exitCode, 0) << o.output;
    if (mode == "crash")
      EXPECT_TRUE(Contains(o.output, "simulator 1 (pid") && Contains(o.output, "SIGABRT")) << o.output;
    else
      EXPECT_TRUE(Contains(o.output, "unknown kind 9") && Contains(o.output, "dropping its connection")) << o.output;
    const StudyResults r = ReadResults(dir / mode);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.replications, 2000) << "the other simulator carried on";
    // The stand-in's one good packet (SSIDandMAC observed 1 at time 0, which
    // the model never does) is kept.
    EXPECT_DOUBLE_EQ(r.nodes[21].mean, 200.0 / 2000.0);
  }

  // With no simulator left the study fails, keeping what it received.
  const fs::path script = dir / "always_crash.sh";
  std::ofstream(script) << "#!/bin/sh\nexec '" << kFake << "' crash \"$@\"\n";
  fs::permissions(script, fs::perms::owner_all);
  const Outcome none = RunSimMgr({"--jobs", "1", "--simulator", script.string(), "--out", (dir / "none").string()});
  EXPECT_EQ(none.exitCode, 1) << none.output;
  EXPECT_TRUE(Contains(none.output, "no simulator is left")) << none.output;
  const StudyResults r = ReadResults(dir / "none");
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.replications, 200);
}

TEST(SimMgrProgram, SummarizeMatchesTheLiveStudyAndComparesWithExactValues) {
  const Scratch dir("summarize");
  const Outcome live = RunSimMgr({"--jobs", "2", "--half-width", "1e-6", "--bin-dir", (dir / "bin").string(),
                                  "--out", (dir / "live").string(), "--", "-N", "500", "-n", "200"});
  ASSERT_EQ(live.exitCode, 0) << live.output;
  EXPECT_TRUE(Contains(live.output, "the simulators finished their runs")) << live.output;
  const StudyResults liveResults = ReadResults(dir / "live");
  EXPECT_EQ(liveResults.replications, 1000);

  // The exact values: the live means, with one node moved out of its interval.
  StudyResults exact = liveResults;
  exact.nodes[100].mean = exact.nodes[100].upper + 0.01;
  {
    std::ofstream e(dir / "exact.csv");
    WriteCsv(e, exact);
  }
  const Outcome summary = RunSimMgr({"summarize", (dir / "bin" / "sim_0.bin").string(),
                                     (dir / "bin" / "sim_1.bin").string(), "--out", (dir / "summary").string(),
                                     "--exact", (dir / "exact.csv").string()});
  ASSERT_EQ(summary.exitCode, 0) << summary.output;
  EXPECT_EQ(ReadText(dir / "summary" / "results.csv"), ReadText(dir / "live" / "results.csv"));
  EXPECT_TRUE(Contains(summary.output, "167 of 168 intervals cover the exact value")) << summary.output;
  const std::string comparison = ReadText(dir / "summary" / "comparison.csv");
  size_t misses = 0;
  for (size_t at = comparison.find(",no\n"); at != std::string::npos; at = comparison.find(",no\n", at + 1)) misses++;
  EXPECT_EQ(misses, 1u);

  // A damaged file: its good records count, and the exit code says so.
  const std::string whole = ReadText(dir / "bin" / "sim_0.bin");
  std::ofstream(dir / "cut.bin", std::ios::binary) << whole.substr(0, whole.size() - 100);
  const Outcome cut = RunSimMgr({"summarize", "--out", (dir / "cut").string(), (dir / "cut.bin").string()});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_TRUE(Contains(cut.output, "the file ends inside the record")) << cut.output;
  EXPECT_EQ(ReadResults(dir / "cut").replications, 400);
}

TEST(SimMgrProgram, BadOptionsExitWith2) {
  const std::vector<std::vector<std::string>> bad = {
      {"--jobs", "0"},          {"--jobs", "x"},         {"--confidence", "1"},  {"--half-width", "-1"},
      {"--relative", "0"},      {"--max", "0"},          {"--seed", "-3"},       {"--frobnicate"},
      {"--jobs"},               {"stray"},               {"--", "-s", "5"},      {"--", "-b", "x.bin"},
      {"--", "-c", "1"},        {"--port", "65535", "--jobs", "2"},
      {"--", "-n", "0"},        {"--", "-q"},            {"summarize"},          {"summarize", "--max", "3", "a.bin"},
      {"--exact", "/nonexistent/exact.csv", "--jobs", "1"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Outcome o = RunSimMgr(args);
    EXPECT_EQ(o.exitCode, 2) << o.output;
    EXPECT_TRUE(Contains(o.output, "simmgr")) << o.output;
  }
  const Outcome help = RunSimMgr({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Contains(help.output, "1000003")) << "the seed rule is documented";
}

TEST(SimMgrProgram, SigtermStopsTheSimulatorsAndWritesIncompleteResults) {
  const Scratch dir("sigterm");
  TarvexProcess p;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  ASSERT_TRUE(p.Start(kSimMgr, {"--jobs", "2", "--half-width", "1e-6", "--max", "1000000000000", "--out",
                                (dir / "r").string()},
                      options));
  // Once both simulators are connected, ask simmgr to stop.
  std::string output, line;
  int connected = 0;
  while (connected < 2) {
    const TarvexProcess::ReadResult r = p.ReadLine(&line, 120000);
    ASSERT_EQ(r, TarvexProcess::kLine) << output;
    output += line + "\n";
    if (Contains(line, ": seed ")) connected++;
  }
  ASSERT_TRUE(p.Terminate());
  while (p.ReadLine(&line, 120000) == TarvexProcess::kLine) output += line + "\n";
  ASSERT_TRUE(p.Wait(true));
  EXPECT_EQ(p.ExitCode(), 128 + 15) << output;
  EXPECT_TRUE(Contains(output, "SIGTERM: stopping the simulators")) << output;
  EXPECT_TRUE(Contains(output, "INCOMPLETE")) << output;
  EXPECT_FALSE(Contains(output, "did not stop in time")) << "they obeyed the quit command";
  const StudyResults r = ReadResults(dir / "r");
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.nodes.size(), 168u);
}

}  // namespace
