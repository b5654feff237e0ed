// The simulation manager: its statistics against published values, its
// decoding against the simulator's own encoder, and the simmgr program
// against real simulator processes (and a misbehaving stand-in) and
// hand-made result files. Every results.json is read with a real JSON
// parser.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "network/TarvexProcess.h"
#include "network/RecordFormat.h"
#include "results/ModelLayout.h"
#include "results/Results.h"
#include "simmgr/Options.h"
#include "simmgr/Records.h"
#include "simmgr/Report.h"
#include "simmgr/Statistics.h"
#include "simulator/DataPacket.h"
#include "simulator/SimulatorClass.h"
#include "support/Process.h"

namespace {

namespace fs = std::filesystem;
using namespace simmgr;
using support::contains;
using support::readFile;

const std::string kSimMgr = support::program("simmgr");
const std::string kFake = support::program("simmgr_fake_simulator");

// The measures of the built-in model.
const MeasureLayout& BuiltIn() {
  static const MeasureLayout layout = [] {
    MeasureLayout l;
    EXPECT_TRUE(OpenModelLayout(ModelCatalogue::kDefaultModel, &l, std::cerr));
    return l;
  }();
  return layout;
}

// ---- statistics -------------------------------------------------------------

TEST(SimMgrStatistics, WilsonIntervalsAndQuantilesMatchPublishedValues) {
  // Newcombe (1998), Statistics in Medicine 17, 857-872, table I (95%).
  struct Case {
    long long x, n;
    double lower, upper;
  };
  const double z = NormalQuantile(0.975);
  EXPECT_NEAR(z, 1.959963984540054, 1e-12);
  for (const Case& c : {Case{81, 263, 0.2553, 0.3662}, Case{15, 148, 0.0624, 0.1605}, Case{0, 20, 0.0, 0.1611},
                        Case{1, 29, 0.0061, 0.1718}, Case{20, 20, 1.0 - 0.1611, 1.0}}) {
    SCOPED_TRACE(std::to_string(c.x) + "/" + std::to_string(c.n));
    const Interval w = WilsonInterval(static_cast<double>(c.x) / c.n, c.n, z);
    ASSERT_TRUE(w.bounded);
    EXPECT_NEAR(w.lower, c.lower, 5e-5);
    EXPECT_NEAR(w.upper, c.upper, 5e-5);
  }
  EXPECT_EQ(WilsonInterval(1.0, 20, z).upper, 1.0);
  EXPECT_FALSE(WilsonInterval(0.5, 0, z).bounded);
  for (double p : {1e-12, 0.02, 0.5, 0.99985119, 1 - 1e-9})  // back through the distribution
    EXPECT_NEAR(0.5 * std::erfc(-NormalQuantile(p) / std::sqrt(2.0)), p, 1e-13 + 1e-12 * p) << p;
  EXPECT_NEAR(StudentQuantile(0.975, 1), 12.70620473617471, 1e-8);
  EXPECT_NEAR(StudentQuantile(0.025, 10), -2.228138851986273, 1e-9);
}

// Chunks merged one at a time give the one-pass moments, also around a
// large mean; non-0/1 data gets the t interval, 0/1 data Wilson (also at a
// mean of 0, where a t interval collapses).
TEST(SimMgrStatistics, MergedChunksMatchOnePassAndChooseTheInterval) {
  std::mt19937 random(12345);
  std::normal_distribution<double> normal(1e6, 3.0);
  std::vector<double> values(1000);
  for (double& v : values) v = normal(random);
  NodeStats chunked;
  for (size_t at = 0, step = 1; at < values.size(); at += step, step = step * 2 + 1)
    chunked.AddChunk(values.data() + at, static_cast<long long>(std::min(step, values.size() - at)));
  double sum = 0, squares = 0;
  for (double v : values) sum += v;
  for (double v : values) squares += (v - sum / 1000) * (v - sum / 1000);
  EXPECT_EQ(chunked.n, 1000);
  EXPECT_NEAR(chunked.mean, sum / 1000, 1e-8);
  EXPECT_NEAR(chunked.Variance(), squares / 999, 1e-9 * squares / 999);
  EXPECT_NEAR(NodeInterval(chunked, 0.95).HalfWidth(),
              StudentQuantile(0.975, 999) * std::sqrt(chunked.Variance() / 1000), 1e-9);

  NodeStats zeros;
  const std::vector<double> none(400, 0.0);
  zeros.AddChunk(none.data(), 400);
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
}

TEST(SimMgrOptions, SeedsAreDistinctNonZeroAndBelow2To31) {
  std::vector<uint32_t> seeds;
  for (int i = 0; i < 256; i++) seeds.push_back(SimulatorSeed(31415, i));
  EXPECT_EQ(seeds[1], 31415u + 1000003u);
  std::sort(seeds.begin(), seeds.end());
  EXPECT_EQ(std::adjacent_find(seeds.begin(), seeds.end()), seeds.end());
  EXPECT_GT(seeds.front(), 0u);
  EXPECT_LT(seeds.back(), 1u << 31);
  EXPECT_EQ(SimulatorSeed(0, 0), 2147483647u) << "0 is replaced";
  EXPECT_EQ(SimulatorSeed(2147483647ull + 5, 0), 5u);
}

// ---- decoding ---------------------------------------------------------------

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// A record written by the simulator's own encoder (client 3, 5 observations
// of every node, with the squares entries too), decoded; then through the
// stream splitter one byte at a time after a greeting and a CPU-time
// message; then damaged in ways that must be refused with their reason.
TEST(SimMgrRecords, DecodesWhatTheSimulatorEncodesAndRejectsWhatDoesNotDecode) {
  const char* argv[] = {"attack_flow_sim", "-c", "3", "-N", "1"};
  SimulatorClass sim(5, const_cast<char**>(argv));
  DataPacket v(3, 0, sim.NumPVs, 5), sq(3, 0, sim.NumPVs, 5);
  for (int i = 0; i < sim.NumPVs; i++)
    for (int k = 0; k < 5; k++) {
      v.at(i, k) = (i * 7 + k) % 3 == 0 ? 1.0 : (i == 4 ? -2.5 * k : 0.0);
      sq.at(i, k) = v.at(i, k) * v.at(i, k);
    }
  v.setAllCounts(5);
  sq.setAllCounts(5);
  std::ostringstream out;
  sim.OutputDataBinary(nullptr, &out, &v, &sq);
  const std::string record = out.str();
  ASSERT_EQ(record.size(), 9u + 7u * 336 + 8u * 336 * 5);
  Packet p;
  RecordHeader h;
  std::string error;
  ASSERT_TRUE(DecodeRecord(Bytes(record), record.size(), BuiltIn().numNodes, &p, &h, &error)) << error;
  EXPECT_EQ(h.clientId, 3);
  EXPECT_EQ(h.experiment, 0);
  EXPECT_EQ(p.replications, 5);
  for (int i = 0; i < BuiltIn().numNodes; i++) {
    ASSERT_EQ(p.counts[static_cast<size_t>(i)], 5);
    for (int k = 0; k < 5; k++) ASSERT_EQ(p.Row(i)[k], v.at(i, k)) << i << "," << k;
  }

  std::string stream = std::string("\0\0\0\x0a\xff\x01\0\0\x30\x39", 10) +
                       std::string("\0\0\0\x0c\xfe\x03\0\0", 8) + std::string("\x3f\xf8\0\0\0\0\0\0", 8) + record;
  MessageReader reader(LargestRecord(BuiltIn().numNodes, 5));
  std::vector<MessageReader::Message> seen;
  for (char c : stream) {
    size_t room = 0;
    *reader.Space(&room) = c;
    reader.Commit(1);
    MessageReader::Message m;
    while (reader.Next(&m, &error) == MessageReader::kMessage) seen.push_back(m);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(std::make_pair(seen[0].kind, seen[0].pid), std::make_pair(MessageReader::kStatus, 12345));
  EXPECT_EQ(std::make_pair(seen[1].kind, seen[1].seconds), std::make_pair(MessageReader::kCpuTime, 1.5));
  EXPECT_EQ(std::make_pair(seen[2].kind, seen[2].size), std::make_pair(MessageReader::kRecord, record.size()));

  auto with = [&](size_t at, std::string replacement) {
    std::string b = record;
    return b.replace(at, replacement.size(), replacement);
  };
  const std::pair<std::string, const char*> bad[] = {
      {with(0, std::string("\0\0\0\x10", 4)), "length field"},
      {with(9 + 2, "\x07"), "unknown kind 7"},
      {with(9 + 7 + 40 + 1, std::string("\0", 1)), "twice"},
      {with(9 + 7 + 8, std::string("\x7f\xf8\0\0\0\0\0\0", 8)), "not a finite"},
  };
  for (const auto& [bytes, reason] : bad) {
    EXPECT_FALSE(DecodeRecord(Bytes(bytes), bytes.size(), BuiltIn().numNodes, &p, &h, &error)) << reason;
    EXPECT_TRUE(contains(error, reason)) << error;
  }
  // A length no record can have ends the stream.
  MessageReader damaged(LargestRecord(BuiltIn().numNodes, 200));
  size_t room = 0;
  std::memcpy(damaged.Space(&room), "\x7f\xff\xff\xff", 4);
  damaged.Commit(4);
  MessageReader::Message m;
  EXPECT_EQ(damaged.Next(&m, &error), MessageReader::kError);
}

// ---- the program ----------------------------------------------------------------

// Runs simmgr to its end; its standard error is merged into `out`.
support::Result RunSimMgr(const std::vector<std::string>& args) {
  return support::run(kSimMgr, args, support::Options{{}, "", true});
}

// The results of OUT: the rows of results.csv, and from results.json (parsed
// as JSON, and checked to agree with the CSV: a number that is not finite in
// the CSV is null there) whether the study is complete and its replications.
StudyResults ReadResults(const std::string& dir) {
  StudyResults r;
  std::istringstream in(readFile(dir + "/results.csv"));
  std::string error;
  EXPECT_TRUE(ReadCsv(in, &r, &error)) << error;
  const nlohmann::json json = nlohmann::json::parse(readFile(dir + "/results.json"), nullptr, false);
  EXPECT_TRUE(json.is_object()) << dir << "/results.json is not valid JSON";
  if (!json.is_object() || !json.contains("nodes")) return r;
  r.complete = json.value("complete", false);
  r.replications = json.value("replications", -1LL);
  const nlohmann::json& nodes = json["nodes"];
  EXPECT_EQ(nodes.size(), r.nodes.size());
  for (size_t i = 0; i < std::min(nodes.size(), r.nodes.size()); i++) {
    const NodeResult& row = r.nodes[i];
    EXPECT_EQ(nodes[i].value("pv_id", -1), row.pvId);
    EXPECT_EQ(nodes[i].value("n", -1LL), row.n);
    const std::pair<const char*, double> numbers[] = {
        {"mean", row.mean}, {"variance", row.variance}, {"lower", row.lower}, {"upper", row.upper}};
    for (const auto& [name, value] : numbers) {
      SCOPED_TRACE(std::string(name) + " of node " + std::to_string(i));
      if (!nodes[i].contains(name)) {
        ADD_FAILURE() << "missing";
        continue;
      }
      const nlohmann::json& field = nodes[i][name];
      if (std::isfinite(value)) {
        EXPECT_TRUE(field.is_number() && field.get<double>() == value) << field;
      } else {
        EXPECT_TRUE(field.is_null()) << field;
        EXPECT_EQ(nodes[i].value(std::string(name) + "_note", std::string()), "not finite (overflow)");
      }
    }
  }
  return r;
}

// ---- hand-made result files ---------------------------------------------------

// A record as the simulator writes it: client `client`, `reps` observations
// of every node, value(node, k) each.
std::string EncodeRecord(int client, int reps, const std::function<double(int, int)>& value) {
  const int nodes = BuiltIn().numNodes;
  std::vector<double> values(static_cast<size_t>(nodes) * static_cast<size_t>(reps));
  for (int node = 0; node < nodes; node++)
    for (int k = 0; k < reps; k++) values[static_cast<size_t>(k) * nodes + node] = value(node, k);
  const std::vector<int32_t> counts(static_cast<size_t>(nodes), reps);
  wire::RecordEncoder encoder;
  const std::vector<char>& record = encoder.Encode(client, 0, {nodes, counts.data(), values.data()}, nullptr);
  return std::string(record.begin(), record.end());
}

// A binary result file: its 256-byte header (with the seed and the
// replication count) and the records.
std::string BinFile(int seed, long long batches, const std::vector<std::string>& records) {
  std::string file = "TARVEX_SIM_BIN_FILE,256,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=0,SEED=" +
                     std::to_string(seed) + ",RANDOMGEN=Lagged Fibonacci,BATCHES=" + std::to_string(batches) + ",,";
  file.resize(256, '\0');
  for (const std::string& r : records) file += r;
  return file;
}

// A simulator program that leaves the file `mark` when it is started.
std::string MarkingSimulator(const support::TempDir& dir, const std::string& mark) {
  const std::string script = dir.file("marking_sim.sh");
  support::writeFile(script, "#!/bin/sh\ntouch '" + mark + "'\nexec '" + support::kSimulator + "' \"$@\"\n");
  fs::permissions(script, fs::perms::owner_all);
  return script;
}

// Waits until the program's output holds `piece`; the output then.
std::string AwaitOutput(support::Background& program, const std::string& piece) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(support::kPatienceMs);
  std::string text = program.out();
  while (!contains(text, piece) && !program.ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    text = program.out();
  }
  return text;
}

// A simulator program that is the stand-in (in the given mode) for client 1,
// or for every client, and the real simulator otherwise.
std::string Fake(const support::TempDir& dir, const std::string& mode, bool everyClient = false) {
  const std::string script = dir.file("sim_" + mode + ".sh");
  support::writeFile(script, "#!/bin/sh\n" + std::string(everyClient ? "" : "case \" $* \" in *\" -c 1 \"*) ") +
                                 "exec '" + kFake + "' " + mode + " \"$@\"" + (everyClient ? "\n" : ";; esac\n") +
                                 "exec '" + support::kSimulator + "' \"$@\"\n");
  fs::permissions(script, fs::perms::owner_all);
  return script;
}

// The study stops once every interval is narrow enough; the same seed and
// number of jobs give the same numbers, another seed others; --max is exact.
TEST(SimMgrProgram, StopsWhenEveryIntervalIsNarrowEnoughReproduciblyOrAtMax) {
  const support::TempDir dir;
  std::vector<std::string> csv;
  for (const char* seed : {"99", "99", "100"}) {
    const std::string out = dir.file("r" + std::to_string(csv.size()));
    const support::Result o = RunSimMgr({"--jobs", "2", "--half-width", "0.05", "--seed", seed, "--out", out});
    ASSERT_EQ(o.exitCode, 0) << o.out;
    EXPECT_TRUE(contains(o.out, "Stopped: every half-width is within the target 0.05")) << o.out;
    EXPECT_TRUE(contains(o.out, "Sensitive Information")) << "the table is printed";
    csv.push_back(readFile(out + "/results.csv"));
  }
  EXPECT_EQ(csv[0], csv[1]);
  EXPECT_NE(csv[0], csv[2]);
  StudyResults r = ReadResults(dir.file("r0"));
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
  EXPECT_EQ(r.nodes[21].mean, 0.0);
  EXPECT_EQ(r.nodes[21 + 20].time, 100.0);

  const support::Result o = RunSimMgr({"--jobs", "2", "--max", "1000", "--half-width", "0.0001", "--quiet",
                                       "--out", dir.file("max"), "--", "-n", "150"});
  ASSERT_EQ(o.exitCode, 0) << o.out;
  EXPECT_TRUE(contains(o.out, "--max 1000 replications reached before the target")) << o.out;
  r = ReadResults(dir.file("max"));
  EXPECT_EQ(r.replications, 1000);
  EXPECT_TRUE(r.complete);
  for (const NodeResult& n : r.nodes) EXPECT_EQ(n.n, 1000);
}

TEST(SimMgrProgram, SurvivesACrashedSimulatorAndARecordThatDoesNotDecode) {
  const support::TempDir dir;
  for (const std::string mode : {"crash", "garbage"}) {
    SCOPED_TRACE(mode);
    const support::Result o = RunSimMgr({"--jobs", "2", "--max", "2000", "--half-width", "0.0001", "--simulator",
                                         Fake(dir, mode), "--out", dir.file(mode)});
    ASSERT_EQ(o.exitCode, 0) << o.out;
    if (mode == "crash")
      EXPECT_TRUE(contains(o.out, "simulator 1 (pid") && contains(o.out, "SIGABRT")) << o.out;
    else
      EXPECT_TRUE(contains(o.out, "unknown kind 9") && contains(o.out, "dropping its connection")) << o.out;
    const StudyResults r = ReadResults(dir.file(mode));
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.replications, 2000) << "the other simulator carried on";
    // The stand-in's one good packet (SSIDandMAC observed 1 at time 0, which
    // the model never does) is kept.
    EXPECT_DOUBLE_EQ(r.nodes[21].mean, 200.0 / 2000.0);
  }

  // With no simulator left the study fails, keeping what it received.
  const support::Result none =
      RunSimMgr({"--jobs", "1", "--simulator", Fake(dir, "crash", true), "--out", dir.file("none")});
  EXPECT_EQ(none.exitCode, 1) << none.out;
  EXPECT_TRUE(contains(none.out, "no simulator is left")) << none.out;
  const StudyResults r = ReadResults(dir.file("none"));
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.replications, 200);
}

TEST(SimMgrProgram, SummarizeMatchesTheLiveStudyAndComparesWithExactValues) {
  const support::TempDir dir;
  const support::Result live = RunSimMgr({"--jobs", "2", "--half-width", "1e-6", "--bin-dir", dir.file("bin"),
                                          "--out", dir.file("live"), "--", "-N", "500", "-n", "200"});
  ASSERT_EQ(live.exitCode, 0) << live.out;
  EXPECT_TRUE(contains(live.out, "the simulators finished their runs")) << live.out;
  const StudyResults liveResults = ReadResults(dir.file("live"));
  EXPECT_EQ(liveResults.replications, 1000);

  // The exact values: the live means, with one node moved out of its interval.
  StudyResults exact = liveResults;
  exact.nodes[100].mean = exact.nodes[100].upper + 0.01;
  std::ostringstream exactCsv;
  WriteCsv(exactCsv, exact);
  support::writeFile(dir.file("exact.csv"), exactCsv.str());
  const support::Result summary =
      RunSimMgr({"summarize", dir.file("bin/sim_0.bin"), dir.file("bin/sim_1.bin"), "--out", dir.file("summary"),
                 "--exact", dir.file("exact.csv")});
  ASSERT_EQ(summary.exitCode, 0) << summary.out;
  EXPECT_EQ(readFile(dir.file("summary/results.csv")), readFile(dir.file("live/results.csv")));
  EXPECT_TRUE(contains(summary.out, "167 of 168 intervals cover the exact value")) << summary.out;
  const std::string comparison = readFile(dir.file("summary/comparison.csv"));
  size_t misses = 0;
  for (size_t at = comparison.find(",no\n"); at != std::string::npos; at = comparison.find(",no\n", at + 1)) misses++;
  EXPECT_EQ(misses, 1u);

  // A damaged file: its good records count, and the exit code says so.
  const std::string whole = readFile(dir.file("bin/sim_0.bin"));
  support::writeFile(dir.file("cut.bin"), whole.substr(0, whole.size() - 100));
  const support::Result cut = RunSimMgr({"summarize", "--out", dir.file("cut"), dir.file("cut.bin")});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_TRUE(contains(cut.out, "the file ends inside the record")) << cut.out;
  EXPECT_EQ(ReadResults(dir.file("cut")).replications, 400);
}

TEST(SimMgrProgram, BadOptionsExitWith2) {
  const std::vector<std::vector<std::string>> bad = {
      {"--jobs", "0"},   {"--confidence", "1"}, {"--half-width", "-1"}, {"--seed", "-3"},
      {"--frobnicate"},  {"--jobs"},            {"stray"},              {"--", "-s", "5"},
      {"--", "-c", "1"}, {"summarize"},         {"--exact", "/nonexistent/exact.csv", "--jobs", "1"},
      {"--", "-H", "0.0.0.0"}, {"--", "-M", "m.toml"},  {"--model="},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + " " + args.back());
    const support::Result o = RunSimMgr(args);
    EXPECT_EQ(o.exitCode, 2) << o.out;
    EXPECT_TRUE(contains(o.out, "simmgr")) << o.out;
  }
  const support::Result help = RunSimMgr({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(contains(help.out, "1000003")) << "the seed rule is documented";
}

// Every simulator of a study listens on the loopback interface only and
// learns the study's secret through its environment, never its command
// line; each study makes a fresh one, and simmgr sends it first (or the
// study would not run).
TEST(SimMgrProgram, SimulatorsListenOnLoopbackAndTakeOnlyTheStudysSecret) {
  const support::TempDir dir;
  const std::string wrapper = dir.file("sim.sh");
  support::writeFile(wrapper, "#!/bin/sh\necho \"$TARVEX_MANAGER_SECRET|$*\" >> '" + dir.file("seen") + "'\nexec '" +
                                  support::kSimulator + "' \"$@\"\n");
  fs::permissions(wrapper, fs::perms::owner_all);
  for (const std::string study : {"r0", "r1"}) {
    const support::Result o =
        RunSimMgr({"--jobs", "1", "--max", "400", "--quiet", "--simulator", wrapper, "--out", dir.file(study)});
    ASSERT_EQ(o.exitCode, 0) << o.out;
  }
  std::istringstream seen(readFile(dir.file("seen")));
  std::vector<std::string> secrets;
  for (std::string line; std::getline(seen, line);) {
    const std::string secret = line.substr(0, line.find('|')), args = line.substr(line.find('|') + 1);
    EXPECT_EQ(secret.size(), 64u);
    EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos) << secret;
    EXPECT_EQ(args.rfind("-w -H 127.0.0.1 -p ", 0), 0u) << args;
    EXPECT_FALSE(contains(args, secret));
    secrets.push_back(secret);
  }
  ASSERT_EQ(secrets.size(), 2u);
  EXPECT_NE(secrets[0], secrets[1]);
}

TEST(SimMgrProgram, SigtermStopsTheSimulatorsAndWritesIncompleteResults) {
  const support::TempDir dir;
  TarvexProcess p;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  ASSERT_TRUE(p.Start(kSimMgr, {"--jobs", "2", "--half-width", "1e-6", "--max", "1000000000000", "--out",
                                dir.file("r")},
                      options));
  // Once both simulators are connected, ask simmgr to stop.
  std::string output, line;
  for (int connected = 0; connected < 2;) {
    ASSERT_EQ(p.ReadLine(&line, 120000), TarvexProcess::kLine) << output;
    output += line + "\n";
    if (contains(line, ": seed ")) connected++;
  }
  ASSERT_TRUE(p.Terminate());
  while (p.ReadLine(&line, 120000) == TarvexProcess::kLine) output += line + "\n";
  ASSERT_TRUE(p.Wait(true));
  EXPECT_EQ(p.ExitCode(), 128 + 15) << output;
  EXPECT_TRUE(contains(output, "SIGTERM: stopping the simulators")) << output;
  EXPECT_TRUE(contains(output, "INCOMPLETE")) << output;
  EXPECT_FALSE(contains(output, "did not stop in time")) << "they obeyed the quit command";
  const StudyResults r = ReadResults(dir.file("r"));
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.nodes.size(), 168u);
}

// A file's records must hold what its header counts, and no run may be
// counted twice: every such fault is named and makes the summary incomplete
// (exit code 1), with the rest still summarised.
TEST(SimMgrProgram, SummarizeRefusesDamagedAndRepeatedFiles) {
  const support::TempDir dir;
  auto zeroOne = [](int node, int k) { return (node * 7 + k) % 3 == 0 ? 1.0 : 0.0; };
  const std::string r0 = EncodeRecord(0, 200, zeroOne), r1 = EncodeRecord(1, 200, zeroOne);
  support::writeFile(dir.file("a.bin"), BinFile(11, 400, {r0, r0}));
  support::writeFile(dir.file("b.bin"), BinFile(12, 400, {r1, r1}));
  const support::Result good = RunSimMgr({"summarize", dir.file("a.bin"), dir.file("b.bin"), "--out", dir.file("good")});
  ASSERT_EQ(good.exitCode, 0) << good.out;
  StudyResults r = ReadResults(dir.file("good"));
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.replications, 800);

  fs::create_symlink(dir.file("a.bin"), dir.file("link.bin"));
  fs::create_hard_link(dir.file("b.bin"), dir.file("hard.bin"));
  support::writeFile(dir.file("copy.bin"), readFile(dir.file("b.bin")));
  support::writeFile(dir.file("cut.bin"), BinFile(13, 600, {r0, r0}));  // cut at a record boundary
  support::writeFile(dir.file("head.bin"), BinFile(14, 400, {}));
  support::writeFile(dir.file("doubled.bin"), BinFile(15, 400, {r0, r0, r0}));
  support::writeFile(dir.file("mixed.bin"), BinFile(16, 400, {r0, r1}));  // two writers
  struct Case {
    std::vector<std::string> files;
    long long counted;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {{"a.bin", "./a.bin"}, 400, {"./a.bin is the same file as"}},
      {{"a.bin", "link.bin"}, 400, {"link.bin is the same file as"}},
      {{"b.bin", "a.bin", "hard.bin"}, 800, {"hard.bin is the same file as"}},
      {{"b.bin", "copy.bin"}, 400, {"both of client 1 with seed 12", "copy.bin is left out"}},
      {{"cut.bin"}, 400, {"cut.bin: its header counts 600 replications", "its records hold 400"}},
      {{"head.bin", "a.bin"}, 400, {"head.bin: its header counts 400", "its records hold 0"}},
      {{"doubled.bin"}, 600, {"doubled.bin: its header counts 400", "its records hold 600"}},
      {{"mixed.bin"}, 200, {"record 2", "two writers in one file", "its records hold 200"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"summarize", "--out", dir.file("bad")};
    for (const std::string& f : c.files) args.push_back(dir.path() + "/" + f);
    SCOPED_TRACE(args.back());
    const support::Result o = RunSimMgr(args);
    EXPECT_EQ(o.exitCode, 1) << o.out;
    for (const std::string& piece : c.said) EXPECT_TRUE(contains(o.out, piece)) << piece << "\n" << o.out;
    EXPECT_TRUE(contains(o.out, "INCOMPLETE")) << o.out;
    r = ReadResults(dir.file("bad"));
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.replications, c.counted);
  }
}

// Values so large that the statistics overflow are still written as valid
// JSON: null, with a note.
TEST(SimMgrProgram, SummarizeWritesValidJsonWhenTheStatisticsOverflow) {
  const support::TempDir dir;
  auto huge = [](int node, int k) {
    if (node == 0) return 1e308;                 // the mean overflows
    if (node == 1) return k % 2 ? 1e308 : -1e308;  // mean 0, the variance overflows
    return node == 2 ? 1.5 : 0.0;
  };
  support::writeFile(dir.file("huge.bin"), BinFile(1, 2, {EncodeRecord(0, 2, huge)}));
  const support::Result o = RunSimMgr({"summarize", dir.file("huge.bin"), "--out", dir.file("r")});
  ASSERT_EQ(o.exitCode, 0) << o.out;
  EXPECT_TRUE(contains(o.out, "NOTE: 2 nodes hold values too large for the statistics")) << o.out;
  const StudyResults r = ReadResults(dir.file("r"));  // parses the JSON, checks the nulls and notes
  ASSERT_EQ(r.nodes.size(), 168u);
  EXPECT_FALSE(std::isfinite(r.nodes[0].mean));
  EXPECT_EQ(r.nodes[1].mean, 0.0);
  EXPECT_FALSE(std::isfinite(r.nodes[1].variance));
  EXPECT_EQ(r.nodes[2].mean, 1.5);
  EXPECT_EQ(r.nodes[2].variance, 0.0);
}

// Where the results cannot go is found before any simulator starts (root
// may write where permission bits forbid, so unwritable here is a path under
// a regular file, or in /proc); a failed write is an error that leaves whole
// files or none, and names only what was written.
TEST(SimMgrProgram, WritingFailuresAreFoundEarlyAndLeaveWholeFilesOrNone) {
  const support::TempDir dir;
  support::writeFile(dir.file("plain"), "a regular file");
  const std::string mark = dir.file("started");
  const std::string simulator = MarkingSimulator(dir, mark);
  const std::vector<std::vector<std::string>> unwritable = {
      {"--out", dir.file("plain/out")}, {"--out", "/proc/self"},
      {"--bin-dir", dir.file("plain/bin")}, {"--bin-dir", "/proc/self"}};
  for (const std::vector<std::string>& where : unwritable) {
    SCOPED_TRACE(where[0] + " " + where[1]);
    std::vector<std::string> args = {"--jobs", "1", "--simulator", simulator, "--out", dir.file("out")};
    args.insert(args.end(), where.begin(), where.end());
    const support::Result o = RunSimMgr(args);
    EXPECT_EQ(o.exitCode, 1) << o.out;
    EXPECT_TRUE(contains(o.out, "not writable") || contains(o.out, "cannot create")) << o.out;
    EXPECT_FALSE(support::fileExists(mark)) << "no simulator may start";
  }
  auto zeroOne = [](int node, int k) { return (node + k) % 2 ? 1.0 : 0.0; };
  support::writeFile(dir.file("a.bin"), BinFile(1, 200, {EncodeRecord(0, 200, zeroOne)}));
  support::writeFile(dir.file("b.bin"), BinFile(2, 100, {EncodeRecord(1, 100, zeroOne)}));
  const support::Result refused = RunSimMgr({"summarize", dir.file("a.bin"), "--out", "/proc/self"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(contains(refused.out, "not writable")) << refused.out;

  // Standard output on a full device: an error, after the files were written.
  const support::Result full = support::run(
      "/bin/sh", {"-c", "exec \"$0\" summarize \"$1\" --out \"$2\" >/dev/full", kSimMgr, dir.file("a.bin"), dir.file("full")});
  EXPECT_EQ(full.exitCode, 1) << full.err;
  EXPECT_TRUE(contains(full.err, "cannot write to standard output")) << full.err;
  EXPECT_EQ(ReadResults(dir.file("full")).replications, 200);

  // A file size limit (a disk that fills up): the files written before stay
  // whole, no temporary file is left, and no path is printed.
  const std::string kept = dir.file("kept");
  ASSERT_EQ(RunSimMgr({"summarize", dir.file("a.bin"), "--out", kept}).exitCode, 0);
  const std::string before = readFile(kept + "/results.json");
  const support::Result limited = support::run(
      "/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" summarize \"$1\" --out \"$2\"", kSimMgr,
                  dir.file("b.bin"), kept});
  EXPECT_EQ(limited.exitCode, 1) << limited.out << limited.err;
  EXPECT_TRUE(contains(limited.err, "cannot write " + kept + "/results.json")) << limited.err;
  EXPECT_TRUE(contains(limited.out, "Results: none written")) << limited.out;
  EXPECT_FALSE(contains(limited.out, "Plot: ")) << limited.out;
  EXPECT_TRUE(readFile(kept + "/results.json") == before) << "the earlier results.json must stay as it was";
  EXPECT_EQ(ReadResults(kept).replications, 200);
  for (const auto& e : fs::directory_iterator(kept))
    EXPECT_FALSE(contains(e.path().filename().string(), ".tmp")) << e.path();
}

// A bin directory serves one study at a time: a second study is refused
// before it starts anything; a crashed study leaves no lock behind, and the
// next study's simulators write new files, never the old writers' ones.
TEST(SimMgrProgram, OneStudyAtATimeWritesIntoABinDirectory) {
  const support::TempDir dir;
  const std::string bin = dir.file("bin");
  support::Background first(dir.path(),
                            {"--jobs", "2", "--seed", "5", "--half-width", "1e-6", "--max", "1000000000",
                             "--bin-dir", bin, "--out", dir.file("first")},
                            kSimMgr, support::Options{{}, "", true});
  const std::string started = AwaitOutput(first, "simulator 1 (pid");
  ASSERT_TRUE(contains(started, "simulator 1 (pid")) << started;

  const std::string mark = dir.file("started");
  const support::Result second =
      RunSimMgr({"--jobs", "1", "--simulator", MarkingSimulator(dir, mark), "--bin-dir", bin, "--out", dir.file("second")});
  EXPECT_EQ(second.exitCode, 1) << second.out;
  EXPECT_TRUE(contains(second.out, "is in use by another study")) << second.out;
  EXPECT_FALSE(support::fileExists(mark)) << "no simulator may start";

  first.kill(SIGKILL);
  first.waitExit();
  fs::create_hard_link(bin + "/sim_0.bin", dir.file("old.bin"));
  const support::Result third =
      RunSimMgr({"--jobs", "1", "--bin-dir", bin, "--out", dir.file("third"), "--", "-N", "400"});
  ASSERT_EQ(third.exitCode, 0) << third.out;
  EXPECT_TRUE(contains(readFile(bin + "/sim_0.bin").substr(0, 256), "SEED=31415,"));
  EXPECT_TRUE(contains(readFile(dir.file("old.bin")).substr(0, 256), "SEED=5,")) << "the old file is untouched";
  const support::Result summary = RunSimMgr({"summarize", bin + "/sim_0.bin", "--out", dir.file("summary")});
  EXPECT_EQ(summary.exitCode, 0) << summary.out;
  EXPECT_EQ(ReadResults(dir.file("summary")).replications, 400);
}

// A simulator stopped with SIGSTOP (once it has greeted and simulated: its
// result file holds a record) is warned about once and, with
// --drop-stalled, dropped and killed; the study then ends with the other.
TEST(SimMgrProgram, WarnsAboutAStoppedSimulatorAndDropsItWhenAsked) {
  const support::TempDir dir;
  support::Background study(dir.path(),
                            {"--jobs", "2", "--half-width", "1e-6", "--stall-warning", "1", "--drop-stalled", "6",
                             "--bin-dir", dir.file("bin"), "--out", dir.file("r"), "--", "-N", "20000"},
                            kSimMgr, support::Options{{}, "", true});
  const std::string tag = "simulator 1 (pid ";
  const std::string started = AwaitOutput(study, ": seed 1031418");
  const size_t at = started.find(tag);
  ASSERT_NE(at, std::string::npos) << started;
  const pid_t pid = std::atoi(started.c_str() + at + tag.size());
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(support::kPatienceMs);
  auto recorded = [&] {
    std::error_code ec;
    const uintmax_t size = fs::file_size(dir.file("bin/sim_1.bin"), ec);
    return !ec && size > 256;
  };
  while (!recorded() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // Whatever happens, the stopped simulator may go on (and end) afterwards.
  struct Resume {
    pid_t pid;
    ~Resume() { ::kill(pid, SIGCONT); }
  } resume{pid};
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  EXPECT_EQ(study.waitExit(8 * support::kPatienceMs), 0) << study.out();

  const std::string out = study.out();
  const std::string self = tag + std::to_string(pid) + "): ";
  size_t warnings = 0, resumed = 0;
  for (size_t p = out.find(self + "WARNING: no packet for"); p != std::string::npos; p = out.find(self + "WARNING", p + 1))
    warnings++;
  for (size_t p = out.find(self + "sends again"); p != std::string::npos; p = out.find(self + "sends again", p + 1))
    resumed++;
  EXPECT_EQ(warnings, resumed + 1) << "one warning per stall\n" << out;
  EXPECT_TRUE(contains(out, self + "sent no packet for") && contains(out, "(--drop-stalled 6); dropping")) << out;
  EXPECT_TRUE(contains(out, "Stopped: the simulators finished their runs")) << out;
  const StudyResults r = ReadResults(dir.file("r"));
  EXPECT_TRUE(r.complete);
  EXPECT_GE(r.replications, 20000) << "simulator 0's whole run";
  EXPECT_LT(r.replications, 40000) << "and part of simulator 1's";
}

}  // namespace

namespace {

// A model of two PVs observed at three instants: the adversary's one step
// happens after an exponential delay of rate 1/2, so that "Reached" at time
// t is 1 with probability 1 - exp(-t/2), and "Not yet" is its complement.
const char* const kTinyModel =
    "format = 1\nname = \"tiny\"\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = 1\ncost_utility = \"0\"\ndetection_utility = \"0\"\npayoff_utility = \"x\"\n"
    "[[variable]]\nname = \"Count\"\nkind = \"knowledge\"\n"
    "[[decision]]\nname = \"Inc\"\nprecondition = \"Count == 0\"\n"
    "  [[decision.outcome]]\n  name = \"Up\"\n  probability = 1\n  effects = { Count = 1 }\n"
    "  delay = { distribution = \"exponential\", rate = 0.5 }\n"
    "[[decision]]\nname = \"Wait\"\n"
    "  [[decision.outcome]]\n  name = \"Idle\"\n  probability = 1\n  delay = 1\n"
    "[[measure]]\nname = \"Reached\"\nvalue = \"Count\"\ntimes = [0, 2, 4]\n"
    "[[measure]]\nname = \"Not yet\"\nvalue = \"1 - Count\"\ntimes = [0, 2, 4]\n";

}  // namespace

// --model: the simulators run the file's model (-M), and the live study, its
// summary and the stand-in all take the nodes, names and times from it; the
// means agree with the probabilities worked out by hand.
TEST(SimMgrModel, AModelFileLabelsAndSizesTheStudyItsSummaryAndTheStandIn) {
  const support::TempDir dir;
  const std::string model = dir.file("tiny.toml");
  support::writeFile(model, kTinyModel);
  const support::Result live = RunSimMgr({"--model", model, "--jobs", "2", "--half-width", "1e-6", "--quiet",
                                          "--bin-dir", dir.file("bin"), "--out", dir.file("live"), "--", "-N",
                                          "2000"});
  ASSERT_EQ(live.exitCode, 0) << live.out;
  const StudyResults r = ReadResults(dir.file("live"));
  ASSERT_EQ(r.nodes.size(), 6u);
  EXPECT_EQ(r.replications, 4000);
  const double times[] = {0, 2, 4};
  for (size_t i = 0; i < 6; i++) {
    const NodeResult& n = r.nodes[i];
    SCOPED_TRACE("node " + std::to_string(i));
    EXPECT_EQ(n.pvId, static_cast<int>(i));
    EXPECT_EQ(n.name, i < 3 ? "Reached" : "Not yet");
    EXPECT_EQ(n.time, times[i % 3]);
    EXPECT_EQ(n.n, 4000);
    const double p = 1.0 - std::exp(-0.5 * times[i % 3]);
    const double expected = i < 3 ? p : 1.0 - p;
    EXPECT_NEAR(n.mean, expected, 5.0 * std::sqrt(p * (1.0 - p) / 4000.0) + 1e-12);
    EXPECT_NEAR(n.mean + r.nodes[(i + 3) % 6].mean, 1.0, 1e-12) << "the two PVs are complements";
  }
  const nlohmann::json json = nlohmann::json::parse(readFile(dir.file("live/results.json")));
  EXPECT_EQ(json["nodes"][4].value("name", ""), "Not yet");
  EXPECT_EQ(json["nodes"][5].value("time", -1.0), 4.0);
  EXPECT_TRUE(contains(live.out, "at Reached at ") || contains(live.out, "at Not yet at ")) << live.out;

  // The summary of the simulators' files, read with the same model, is the
  // live study's.
  const support::Result summary = RunSimMgr({"summarize", "--model", model, dir.file("bin/sim_0.bin"),
                                             dir.file("bin/sim_1.bin"), "--out", dir.file("summary")});
  ASSERT_EQ(summary.exitCode, 0) << summary.out;
  EXPECT_EQ(readFile(dir.file("summary/results.csv")), readFile(dir.file("live/results.csv")));

  // The stand-in's records cover the same six nodes: its good packet counts
  // (a record of the built-in model's nodes would not decode), its bad one
  // is refused.
  const support::Result fake = RunSimMgr({"--model", model, "--jobs", "2", "--max", "2000", "--quiet",
                                          "--simulator", Fake(dir, "garbage"), "--out", dir.file("fake")});
  ASSERT_EQ(fake.exitCode, 0) << fake.out;
  EXPECT_TRUE(contains(fake.out, "unknown kind 9 for node 5")) << fake.out;
  const StudyResults f = ReadResults(dir.file("fake"));
  ASSERT_EQ(f.nodes.size(), 6u);
  EXPECT_EQ(f.replications, 2000);
  EXPECT_EQ(f.nodes[3].mean, 1.0);
}

// A measure accumulated over intervals is reported at each interval's end:
// the time "Reached" has held by T, for the step after an exponential delay
// of rate 1/2, is T - 2 (1 - exp(-T/2)).
TEST(SimMgrModel, IntervalMeasuresAreReportedAtTheirEnds) {
  const support::TempDir dir;
  const std::string model = dir.file("tiny.toml");
  support::writeFile(model, std::string(kTinyModel) +
                                "[[measure]]\nname = \"Time reached\"\nkind = \"interval\"\nvalue = \"Count\"\n"
                                "start = 0\nend = [2, 4]\n");
  const support::Result o = RunSimMgr({"--model", model, "--jobs", "1", "--half-width", "1e-6", "--quiet",
                                       "--out", dir.file("r"), "--", "-N", "4000"});
  ASSERT_EQ(o.exitCode, 0) << o.out;
  const StudyResults r = ReadResults(dir.file("r"));
  ASSERT_EQ(r.nodes.size(), 8u);
  for (size_t i = 6; i < 8; i++) {
    const NodeResult& n = r.nodes[i];
    const double end = i == 6 ? 2.0 : 4.0;
    EXPECT_EQ(n.name, "Time reached");
    EXPECT_EQ(n.time, end);
    const double expected = end - 2.0 * (1.0 - std::exp(-end / 2.0));
    EXPECT_GT(expected, n.lower - 0.02) << end;
    EXPECT_LT(expected, n.upper + 0.02) << end;
  }
  // The summary names the widest interval by the time its row carries.
  EXPECT_NE(o.out.find("at Time reached at 4)"), std::string::npos) << o.out;
}

// The built-in model's file gives the same study as the compiled model; a
// model file with a fault is reported where it is, before any simulator
// starts, and ends simmgr (and summarize) with exit code 1.
TEST(SimMgrModel, TheBuiltInModelsFileMatchesAndAFaultyFileStartsNothing) {
  const support::TempDir dir;
  const std::string file = TARVEX_SOURCE_DIR "/models/attack_flow.toml";
  for (const std::string& model : {std::string("attack_flow"), file}) {
    const support::Result o = RunSimMgr({"--model", model, "--jobs", "1", "--max", "400", "--quiet", "--seed",
                                         "77", "--out", dir.file(model == file ? "file" : "compiled")});
    ASSERT_EQ(o.exitCode, 0) << o.out;
  }
  EXPECT_EQ(readFile(dir.file("file/results.csv")), readFile(dir.file("compiled/results.csv")));
  EXPECT_EQ(ReadResults(dir.file("file")).nodes.size(), 168u);

  std::string bad = kTinyModel;
  bad.replace(bad.find("1 - Count"), 9, "1 - Cont");
  support::writeFile(dir.file("bad.toml"), bad);
  const std::string mark = dir.file("started");
  const support::Result o = RunSimMgr({"--model", dir.file("bad.toml"), "--jobs", "1", "--simulator",
                                       MarkingSimulator(dir, mark), "--out", dir.file("bad")});
  EXPECT_EQ(o.exitCode, 1) << o.out;
  EXPECT_TRUE(contains(o.out, dir.file("bad.toml") + ":34:14: in the value of measure 'Not yet'")) << o.out;
  EXPECT_TRUE(contains(o.out, "unknown name 'Cont'")) << o.out;
  EXPECT_FALSE(fs::exists(mark)) << "no simulator may start";
  const support::Result summary =
      RunSimMgr({"summarize", "--model", dir.file("none.toml"), dir.file("x.bin"), "--out", dir.file("s")});
  EXPECT_EQ(summary.exitCode, 1) << summary.out;
  EXPECT_TRUE(contains(summary.out, "none.toml: cannot read the model file")) << summary.out;
}

namespace {

// A coin with weight p of heads, flipped once at 0 and landing at 1; the
// study sweeps p over 0.2 and 0.7 (rounds, a second global, stays 3).
const char* const kSweptModel =
    "format = 1\nname = \"swept\"\n"
    "[adversary]\ncost_weight = 0\ndetection_weight = 0\npayoff_weight = 1\n"
    "planning_horizon = 1\ncost_utility = \"0\"\ndetection_utility = \"0\"\npayoff_utility = \"x\"\n"
    "[[global]]\nname = \"p\"\ntype = \"double\"\ndefault = 0.5\n"
    "[[global]]\nname = \"rounds\"\ntype = \"int\"\ndefault = 3\n"
    "[[variable]]\nname = \"Heads\"\nkind = \"knowledge\"\n"
    "[[variable]]\nname = \"Done\"\nkind = \"knowledge\"\n"
    "[[decision]]\nname = \"Flip\"\nprecondition = \"Done == 0\"\n"
    "  [[decision.outcome]]\n  name = \"Head\"\n  probability = \"p\"\n"
    "  effects = { Heads = 1, Done = 1 }\n  delay = 1\n"
    "  [[decision.outcome]]\n  name = \"Tail\"\n  probability = \"1 - p\"\n"
    "  effects = { Done = 1 }\n  delay = 1\n"
    "[[decision]]\nname = \"Wait\"\nprecondition = \"Done == 1\"\n"
    "  [[decision.outcome]]\n  name = \"Idle\"\n  probability = 1\n  delay = 1\n"
    "[[measure]]\nname = \"Heads\"\nvalue = \"Heads\"\ntimes = [0, 2]\n"
    "[study]\n  [[study.factor]]\n  global = \"p\"\n  values = [0.2, 0.7]\n";

std::vector<std::string> CsvRows(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) rows.push_back(line);
  return rows;
}

}  // namespace

// --experiments runs each chosen experiment as a full study with -e N and the
// same seeds: OUT/N holds exactly what a study of that experiment alone
// writes, and OUT/experiments.csv one row per experiment and node whose
// means agree with the experiment's p. A number outside the study is a bad
// option found before anything starts.
TEST(SimMgrModel, ExperimentsRunInTurnAndAreGatheredInOneFile) {
  const support::TempDir dir;
  const std::string model = dir.file("swept.toml");
  support::writeFile(model, kSweptModel);
  const std::vector<std::string> common = {"--model", model, "--jobs", "2", "--max", "2000",
                                           "--half-width", "1e-6", "--quiet", "--seed", "7"};
  std::vector<std::string> args = common;
  for (const std::string& a : {std::string("--experiments"), std::string("all"), std::string("--out"), dir.file("all")})
    args.push_back(a);
  const support::Result o = RunSimMgr(args);
  ASSERT_EQ(o.exitCode, 0) << o.out;
  EXPECT_TRUE(contains(o.out, "Experiment 0 (p=0.2): Stopped: --max 2000 replications reached")) << o.out;
  EXPECT_TRUE(contains(o.out, "Experiment 1 (p=0.7): Stopped: --max 2000 replications reached")) << o.out;
  EXPECT_TRUE(contains(o.out, "Mean of each measure at its last instant")) << o.out;

  const std::vector<std::string> rows = CsvRows(readFile(dir.file("all/experiments.csv")));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], "experiment,name,p,rounds,pv,pv_name,time,n,mean,lower,upper");
  const double p[] = {0.2, 0.7};
  for (int e = 0; e < 2; e++) {
    SCOPED_TRACE("experiment " + std::to_string(e));
    const std::string prefix = std::to_string(e) + ",p=" + (e == 0 ? "0.2" : "0.7") + "," +
                               (e == 0 ? "0.2" : "0.7") + ",3,";
    const std::string start = prefix + "0,Heads,0,2000,0,0,", end = prefix + "1,Heads,2,2000,";
    EXPECT_EQ(rows[1 + 2 * e].compare(0, start.size(), start), 0) << rows[1 + 2 * e];
    ASSERT_EQ(rows[2 + 2 * e].compare(0, end.size(), end), 0) << rows[2 + 2 * e];
    std::istringstream tail(rows[2 + 2 * e].substr(end.size()));
    double mean = 0, lower = 0, upper = 0;
    char comma = 0;
    ASSERT_TRUE(tail >> mean >> comma >> lower >> comma >> upper) << rows[2 + 2 * e];
    EXPECT_LE(lower, mean);
    EXPECT_GE(upper, mean);
    EXPECT_LT(upper - lower, 0.1);
    EXPECT_NEAR(mean, p[e], 5.0 * std::sqrt(p[e] * (1 - p[e]) / 2000.0));
    // The experiment's own directory is what a study of it alone writes.
    std::vector<std::string> alone = common;
    for (const std::string& a : {std::string("--out"), dir.file("alone" + std::to_string(e)),
                                 std::string("--"), std::string("-e"), std::to_string(e)})
      alone.push_back(a);
    const support::Result single = RunSimMgr(alone);
    ASSERT_EQ(single.exitCode, 0) << single.out;
    const std::string mine = dir.file("all/" + std::to_string(e));
    EXPECT_EQ(readFile(mine + "/results.csv"), readFile(dir.file("alone" + std::to_string(e)) + "/results.csv"));
    EXPECT_EQ(readFile(mine + "/results.json"), readFile(dir.file("alone" + std::to_string(e)) + "/results.json"));
  }

  // A list picks experiments; one beyond the study stops everything first.
  args = common;
  for (const std::string& a : {std::string("--experiments"), std::string("1"), std::string("--out"), dir.file("one")})
    args.push_back(a);
  const support::Result one = RunSimMgr(args);
  ASSERT_EQ(one.exitCode, 0) << one.out;
  EXPECT_EQ(CsvRows(readFile(dir.file("one/experiments.csv"))).size(), 3u);
  EXPECT_FALSE(fs::exists(dir.file("one/0")));
  args = common;
  for (const std::string& a : {std::string("--experiments"), std::string("0-2"), std::string("--out"), dir.file("none")})
    args.push_back(a);
  const support::Result outside = RunSimMgr(args);
  EXPECT_EQ(outside.exitCode, 2) << outside.out;
  EXPECT_TRUE(contains(outside.out, "the model's study has 2 experiments, numbered 0 to 1")) << outside.out;
  EXPECT_FALSE(fs::exists(dir.file("none")));
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--experiments", "1,"}, {"--experiments", "2-1"}, {"--experiments", "x"},
        {"--experiments", "0", "--", "-e", "1"}}) {
    const support::Result refused = RunSimMgr(bad);
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(contains(refused.out, "--experiments")) << refused.out;
  }
}

namespace {

// kSweptModel with both globals combined: rounds (unused by the coin) over
// 3 and 4, then p over 0.7 and 0.2, which makes experiments 0 "rounds=3
// p=0.7", 1 "rounds=3 p=0.2", 2 "rounds=4 p=0.7" and 3 "rounds=4 p=0.2".
std::string CombinedSweepModel() {
  std::string model = kSweptModel;
  model.erase(model.find("[study]"));
  return model + "[study]\ncombine = \"all\"\n  [[study.factor]]\n  global = \"rounds\"\n  values = [3, 4]\n"
                 "  [[study.factor]]\n  global = \"p\"\n  values = [0.7, 0.2]\n";
}

// The lines of each data block $NAME... of a gnuplot script, by block name.
std::map<std::string, std::vector<std::string>> DataBlocks(const std::string& script) {
  std::map<std::string, std::vector<std::string>> blocks;
  std::string current;
  for (const std::string& line : CsvRows(script)) {
    if (line.size() > 1 && line[0] == '$' && line.find(" << EOD") != std::string::npos)
      current = line.substr(0, line.find(' '));
    else if (line == "EOD")
      current.clear();
    else if (!current.empty())
      blocks[current].push_back(line);
  }
  return blocks;
}

}  // namespace

// Running all experiments in one call gives, row for row, what running them
// one by one gives (the same seeds). The sweep plot against p has one line
// per level of the other factor, its points in increasing p, each the
// experiment's mean and interval bounds at the chosen instant exactly as
// experiments.csv has them; the experiments plot has a curve per experiment.
// A choice the model cannot satisfy is refused before anything runs.
TEST(SimMgrModel, PlotsAcrossExperimentsDrawWhatExperimentsCsvHolds) {
  const support::TempDir dir;
  const std::string model = dir.file("combined.toml");
  support::writeFile(model, CombinedSweepModel());
  const std::vector<std::string> common = {"--model", model, "--jobs", "2", "--max", "1000",
                                           "--half-width", "1e-6", "--quiet", "--seed", "11"};
  auto run = [&](const std::string& experiments, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    for (const std::string& a : {std::string("--experiments"), experiments, std::string("--out"), dir.file(out)})
      args.push_back(a);
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSimMgr(args);
  };
  const support::Result all = run("all", "all", {"--plot-pv", "Heads", "--sweep-time", "2"});
  ASSERT_EQ(all.exitCode, 0) << all.out;
  const std::vector<std::string> rows = CsvRows(readFile(dir.file("all/experiments.csv")));
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0], "experiment,name,p,rounds,pv,pv_name,time,n,mean,lower,upper");
  for (int e = 0; e < 4; e++) {
    const support::Result alone = run(std::to_string(e), "alone" + std::to_string(e), {});
    ASSERT_EQ(alone.exitCode, 0) << alone.out;
    const std::vector<std::string> mine = CsvRows(readFile(dir.file("alone" + std::to_string(e) + "/experiments.csv")));
    ASSERT_EQ(mine.size(), 3u);
    EXPECT_EQ(mine[1], rows[1 + 2 * e]);
    EXPECT_EQ(mine[2], rows[2 + 2 * e]);
  }

  // Each point of the sweep: p, mean, lower, upper, experiment.
  const std::string sweep = readFile(dir.file("all/sweep.gp"));
  EXPECT_TRUE(contains(sweep, "title \"rounds=3\"")) << sweep;
  EXPECT_TRUE(contains(sweep, "title \"rounds=4\"")) << sweep;
  EXPECT_TRUE(contains(sweep, "Heads at 2 against p")) << sweep;
  const auto blocks = DataBlocks(sweep);
  ASSERT_EQ(blocks.size(), 2u) << sweep;
  const std::vector<std::vector<std::string>> expected = {{"0.2", "1"}, {"0.7", "0"}, {"0.2", "3"}, {"0.7", "2"}};
  size_t k = 0;
  for (const auto& block : blocks) {
    ASSERT_EQ(block.second.size(), 2u) << block.first;
    for (const std::string& point : block.second) {
      std::istringstream in(point);
      std::string x, mean, lower, upper, experiment;
      ASSERT_TRUE(in >> x >> mean >> lower >> upper >> experiment) << point;
      EXPECT_EQ(x, expected[k][0]) << point;
      EXPECT_EQ(experiment, expected[k][1]) << point;
      const std::string& row = rows[2 + 2 * std::stoi(experiment)];
      EXPECT_EQ(row.compare(0, 2, experiment + ","), 0) << row;
      EXPECT_TRUE(contains(row, "," + x + ",")) << row;
      EXPECT_TRUE(contains(row, ",Heads,2,1000," + mean + "," + lower + "," + upper)) << row << "\n" << point;
      EXPECT_LT(std::stod(lower), std::stod(mean));
      EXPECT_GT(std::stod(upper), std::stod(mean));
      k++;
    }
  }
  const std::string curves = readFile(dir.file("all/experiments.gp"));
  EXPECT_EQ(DataBlocks(curves).size(), 4u) << curves;
  EXPECT_TRUE(contains(curves, "title \"2 rounds=4 p=0.7\"")) << curves;
  if (contains(all.out, "Plot: " + dir.file("all/sweep.svg"))) {
    EXPECT_TRUE(contains(readFile(dir.file("all/sweep.svg")), "</svg>"));
  }

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--plot-pv", "Tails"}, {"--sweep", "q"}, {"--sweep-time", "1"}}) {
    const support::Result refused = run("all", "refused", bad);
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(contains(refused.out, bad[0])) << refused.out;
    EXPECT_FALSE(fs::exists(dir.file("refused")));
  }
  const support::Result noExperiments = RunSimMgr({"--plot-pv", "Heads"});
  EXPECT_EQ(noExperiments.exitCode, 2) << noExperiments.out;
}
