// The result files: the ASCII value format, the observation record written
// from hand-made packets, and the files of real runs decoded independently
// (header text, big-endian records) and checked against each other.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessSupport.h"
#include "rewards/PerformanceVariableNode.h"
#include "simulator/DataPacket.h"
#include "simulator/SimulatorClass.h"

namespace {

const int kNumPVs = 168;  // 8 PVs at 21 instants

std::string paddedHeader(const std::string& text) {
  std::string header = text;
  header.resize(256, '\0');
  return header;
}

// The ASCII rendering of a value: ten decimals, then trailing zeros dropped
// except the one right after the point.
std::string asciiValue(double v) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.10f", v);
  std::string text = buffer;
  while (text.size() > text.find('.') + 2 && text.back() == '0') text.pop_back();
  return text;
}

// Every record holds one values entry per PV, in PV order, all with the
// record's count; the counts of the records are `counts`.
void expectRecordCounts(const std::vector<proc::Record>& records, const std::vector<int>& counts,
                        uint8_t client = 0, int16_t experiment = 0) {
  ASSERT_EQ(records.size(), counts.size());
  for (size_t r = 0; r < records.size(); r++) {
    SCOPED_TRACE("record " + std::to_string(r));
    const proc::Record& rec = records[r];
    EXPECT_EQ(rec.length, 9u + 7u * kNumPVs + 8u * kNumPVs * counts[r]);
    EXPECT_EQ(rec.client, client);
    EXPECT_EQ(rec.experiment, experiment);
    ASSERT_EQ(rec.entries.size(), static_cast<size_t>(kNumPVs));
    for (int i = 0; i < kNumPVs; i++) {
      EXPECT_EQ(rec.entries[i].pv, i);
      EXPECT_EQ(rec.entries[i].kind, 1);
      EXPECT_EQ(rec.entries[i].values.size(), static_cast<size_t>(counts[r]));
    }
  }
}

// The ASCII file holds the same observations as the binary one, in the same
// order (record by record, PV by PV, replication order within a PV), with
// its header and trailer lines.
void expectFilesAgree(const std::string& ascii, const std::vector<proc::Record>& records,
                      const std::string& asciiHeader, int batches) {
  std::vector<std::string> lines = proc::splitLines(ascii);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], asciiHeader);
  EXPECT_EQ(lines[1], "#FORMAT: (PV ID Number),(PV Value)");
  EXPECT_EQ(lines[lines.size() - 2], "#META_DATA,BATCHES=" + std::to_string(batches));
  EXPECT_EQ(lines.back(), "");  // the trailer ends in a line feed
  std::vector<proc::AsciiLine> observed = proc::asciiObservations(lines);
  size_t line = 0;
  for (const proc::Record& rec : records)
    for (const proc::Entry& e : rec.entries)
      for (double v : e.values) {
        ASSERT_LT(line, observed.size());
        ASSERT_EQ(observed[line].pv, e.pv) << "line " << line + 3;
        ASSERT_EQ(observed[line].value, asciiValue(v)) << "line " << line + 3;
        line++;
      }
  EXPECT_EQ(line, observed.size());
}

std::string asciiHeaderLine(const std::string& experiment, const std::string& seed,
                            const std::string& generator) {
  return "#TARVEX_SIM_ASCII_FILE,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=" + experiment +
         ",SEED=" + seed + ",RANDOMGEN=" + generator;
}

std::string binaryHeaderText(const std::string& experiment, const std::string& seed,
                             const std::string& generator, int batches) {
  return "TARVEX_SIM_BIN_FILE,256,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=" + experiment +
         ",SEED=" + seed + ",RANDOMGEN=" + generator + ",BATCHES=" + std::to_string(batches) + ",,";
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

}  // namespace

TEST(ResultFiles, AsciiValueFormat) {
  const std::pair<double, const char*> cases[] = {
      {1.5, "1.5"},
      {2.0, "2.0"},
      {0.0, "0.0"},
      {0.123456789, "0.123456789"},
      {1e-12, "0.0"},
      {0.00000000005001, "0.0000000001"},  // rounded to ten decimals
      {10.25, "10.25"},
      {1000000.0, "1000000.0"},
      {-1.5, "-1.5"},
      {-2.0, "-2.0"},
      {-0.123456789, "-0.123456789"},
      {-1e-12, "-0.0"},
      {123456789.25, "123456789.25"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SimulatorClass::FormatAsciiValue(c.first), c.second) << c.first;
  const std::string huge = SimulatorClass::FormatAsciiValue(1e300);
  EXPECT_EQ(huge.size(), 303u);
  EXPECT_EQ(huge.substr(0, 2), "10");
  EXPECT_EQ(huge.substr(huge.size() - 2), ".0");
}

// Records and lines written from packets made by hand, on a simulator built
// in this process (client 258, experiment 3, seed 0).
TEST(ResultFiles, RecordAndLineLayoutOfHandMadePackets) {
  std::vector<std::string> args = {"attack_flow_sim", "-c", "258", "-e", "3", "-s", "0", "-N", "1"};
  std::vector<char*> argv = proc::pointers(args);
  // Node ids come from a process-wide counter that the reward model expects
  // to start at 0; other tests of this program may have built a model before.
  PerformanceVariableNode::the_id = 0;
  SimulatorClass sim(static_cast<int>(args.size()), argv.data());

  // The header with no replication done; the seed 0 is reported as 31415.
  sim.Experiment = 0;
  EXPECT_EQ(sim.CreateBinFileHeader(1),
            paddedHeader(binaryHeaderText("0", "31415", "Lagged Fibonacci", 0)));
  // 3 is outside the named kinds but still a value of the type.
  sim.RNGType = static_cast<SimulatorClass::RandomNumberGeneratorType>(3);
  sim.ReplicationCount = 12;
  sim.Experiment = 3;
  EXPECT_EQ(sim.CreateBinFileHeader(1),
            paddedHeader(binaryHeaderText("3", "31415", "Unknown", 12)));

  // A packet without observations: a bare 9-byte record with E = 0.
  std::unique_ptr<DataPacket> values(sim.CreateDataPacket(kNumPVs));
  std::unique_ptr<DataPacket> squares(sim.CreateDataPacket(kNumPVs));
  ASSERT_EQ(values->capacity, 1000);
  std::ostringstream empty;
  sim.OutputDataBinary(nullptr, &empty, values.get(), nullptr);
  EXPECT_EQ(empty.str(), bytes({0, 0, 0, 9, 2, 0, 3, 0, 0}));

  // One value of PV 1 with its square: a kind-1 and a kind-2 entry.
  values->at(1, 0) = 1.0;
  values->counts[1] = 1;
  squares->at(1, 0) = 2.0;
  squares->counts[1] = 1;
  std::ostringstream pair;
  sim.OutputDataBinary(nullptr, &pair, values.get(), squares.get());
  EXPECT_EQ(pair.str(), bytes({0, 0, 0, 39, 2, 0, 3, 0,    2,                       //
                               0, 1, 1, 0,  0, 0, 1, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0,  //
                               0, 1, 2, 0,  0, 0, 1, 0x40, 0,    0, 0, 0, 0, 0, 0}));
  std::ostringstream csv;
  sim.OutputDataCSV(csv, values.get(), squares.get());
  EXPECT_EQ(csv.str(), "1,1.0,2.0\n");

  // Entries skip PVs without observations; doubles keep sign and exponent.
  values->at(1, 0) = -0.75;
  values->at(1, 1) = 1e-300;
  values->counts[1] = 2;
  values->at(167, 0) = 3.5;
  values->counts[167] = 1;
  std::ostringstream sparse;
  sim.OutputDataBinary(nullptr, &sparse, values.get(), nullptr);
  std::vector<proc::Record> records = proc::decodeRecords(std::string(256, '\0') + sparse.str());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].length, 9u + 2 * 7 + 3 * 8);
  ASSERT_EQ(records[0].entries.size(), 2u);
  EXPECT_EQ(records[0].entries[0].pv, 1);
  EXPECT_EQ(records[0].entries[0].values, (std::vector<double>{-0.75, 1e-300}));
  EXPECT_EQ(records[0].entries[1].pv, 167);
  EXPECT_EQ(records[0].entries[1].values, std::vector<double>{3.5});
  std::ostringstream csv2;
  sim.OutputDataCSV(csv2, values.get(), nullptr);
  EXPECT_EQ(csv2.str(), "1,-0.75\n1,0.0\n167,3.5\n");

  // A full packet: 168 PVs with 1000 observations each.
  for (int i = 0; i < kNumPVs; i++)
    for (int k = 0; k < 1000; k++) values->at(i, k) = i * 1000.0 + k + 0.125;
  values->setAllCounts(1000);
  std::ostringstream full;
  sim.OutputDataBinary(nullptr, &full, values.get(), nullptr);
  ASSERT_EQ(full.str().size(), 1345185u);
  records = proc::decodeRecords(std::string(256, '\0') + full.str());
  expectRecordCounts(records, {1000}, 2, 3);
  ASSERT_EQ(records.size(), 1u);
  for (const proc::Entry& e : records[0].entries)
    for (int k = 0; k < 1000; k++) ASSERT_EQ(e.values[k], e.pv * 1000.0 + k + 0.125);
}

// One run with both files: the exact header of experiment 0, seed 0,
// generator 0 with the final count, one record of 20 observations per PV, the
// same observations line by line in the ASCII file, and its trailer.
TEST(ResultFiles, BinaryAndAsciiFilesAgree) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  proc::Result r =
      proc::runSimulator({"-s", "0", "-N", "20", "-a", dir.file("r.txt"), "-b", dir.file("r.bin")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string bin = proc::readFile(dir.file("r.bin"));
  EXPECT_EQ(bin.substr(0, 256),
            paddedHeader(binaryHeaderText("0", "31415", "Lagged Fibonacci", 20)));
  bool whole = false;
  std::vector<proc::Record> records = proc::decodeRecords(bin, &whole);
  EXPECT_TRUE(whole);
  expectRecordCounts(records, {20});
  expectFilesAgree(proc::readFile(dir.file("r.txt")), records,
                   asciiHeaderLine("0", "31415", "Lagged Fibonacci"), 20);

  // Client id (its low byte) and experiment in every record and both headers;
  // negative numbers appear unsigned in the headers.
  r = proc::runSimulator({"-c", "258", "-e", "3", "-n", "2", "-N", "3", "-r", "1", "-a",
                          dir.file("c.txt"), "-b", dir.file("c.bin")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string cbin = proc::readFile(dir.file("c.bin"));
  EXPECT_EQ(proc::headerText(cbin), binaryHeaderText("3", "31415", "Tausworthe", 3));
  records = proc::decodeRecords(cbin, &whole);
  EXPECT_TRUE(whole);
  expectRecordCounts(records, {2, 1}, 2, 3);
  expectFilesAgree(proc::readFile(dir.file("c.txt")), records,
                   asciiHeaderLine("3", "31415", "Tausworthe"), 3);

  r = proc::runSimulator({"-c-1", "-e-1", "-s-5", "-r", "2", "-N", "1", "-a", dir.file("u.txt"),
                          "-b", dir.file("u.bin")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string ubin = proc::readFile(dir.file("u.bin"));
  EXPECT_EQ(proc::headerText(ubin),
            binaryHeaderText("4294967295", "4294967291", "Mersenne Twister", 1));
  records = proc::decodeRecords(ubin, &whole);
  EXPECT_TRUE(whole);
  expectRecordCounts(records, {1}, 0xff, -1);
  expectFilesAgree(proc::readFile(dir.file("u.txt")), records,
                   asciiHeaderLine("4294967295", "4294967291", "Mersenne Twister"), 1);
}

// Packets follow the report size: full ones as they fill and a short last one
// at the replication limit. However the observations are packed (including
// one per packet, where the output passes are throttled after the first ten
// and then write 25 pairs at a time), the stream of observations is the same.
TEST(ResultFiles, PacketsFollowTheReportSize) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  struct Case {
    std::vector<std::string> args;
    std::vector<int> counts;
  };
  std::vector<int> ones(100, 1);
  const Case cases[] = {
      {{"-N", "100"}, {100}},
      {{"-N", "5"}, {5}},
      {{"-N", "2500"}, {1000, 1000, 500}},
      {{"-n", "1", "-N", "100"}, ones},
      {{"-n", "7", "-N", "30"}, {7, 7, 7, 7, 2}},
  };
  std::vector<std::vector<double>> reference;  // the 100 replications of the first run
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    SCOPED_TRACE("arguments:" + shown);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-a", dir.file("p.txt"), "-b", dir.file("p.bin")});
    proc::Result r = proc::runSimulator(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    bool whole = false;
    std::vector<proc::Record> records =
        proc::decodeRecords(proc::readFile(dir.file("p.bin")), &whole);
    EXPECT_TRUE(whole);
    expectRecordCounts(records, c.counts);
    int total = std::accumulate(c.counts.begin(), c.counts.end(), 0);
    expectFilesAgree(proc::readFile(dir.file("p.txt")), records,
                     asciiHeaderLine("0", "31415", "Lagged Fibonacci"), total);
    std::vector<std::vector<double>> rows = proc::observationsByReplication(records, kNumPVs);
    ASSERT_EQ(rows.size(), static_cast<size_t>(total));
    if (reference.empty()) reference = rows;
    size_t shared = std::min(rows.size(), reference.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.begin() + shared, reference.begin()));
  }
}

// Without a replication limit the run goes on until it is killed; the header
// is rewritten after every output pass, so a file left by a killed run still
// tells how many observations its records hold.
TEST(ResultFiles, HeaderFollowsTheRecordsOfAnUnlimitedRun) {
  proc::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string bin = dir.file("open.bin");
  const size_t recordSize = 9 + 7 * kNumPVs + 8 * kNumPVs * 50;
  pid_t pid = proc::spawnSimulator({"-n", "50", "-b", bin}, {}, -1, -1);
  ASSERT_GT(pid, 0);
  // Wait for more than the first ten (unthrottled) passes, or give up.
  for (int i = 0; i < 6000 && proc::readFile(bin).size() < 256 + 40 * recordSize; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGKILL);
  proc::Result r;
  proc::waitForExit(pid, r);
  EXPECT_EQ(r.signal, SIGKILL);

  const std::string file = proc::readFile(bin);
  std::vector<proc::Record> records = proc::decodeRecords(file);
  ASSERT_GE(records.size(), 40u);
  const std::string header = proc::headerText(file);
  const std::string prefix = binaryHeaderText("0", "31415", "Lagged Fibonacci", 0);
  ASSERT_EQ(header.substr(0, prefix.size() - 3), prefix.substr(0, prefix.size() - 3));
  ASSERT_EQ(header.substr(header.size() - 2), ",,");
  const int batches = std::atoi(header.substr(prefix.size() - 3).c_str());
  // The count is that of the records up to the end of some output pass.
  std::vector<int> passEnds;
  int sum = 0;
  for (const proc::Record& rec : records)
    passEnds.push_back(sum += static_cast<int>(rec.entries[0].values.size()));
  EXPECT_GE(batches, 500);
  EXPECT_NE(std::find(passEnds.begin(), passEnds.end(), batches), passEnds.end()) << batches;
}
