// The result files: the ASCII value format, the observation record written
// from hand-made packets, and the files of real runs decoded independently
// (header text, big-endian records) and checked against each other.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rewards/PerformanceVariableNode.h"
#include "simulator/DataPacket.h"
#include "simulator/SimTestSupport.h"
#include "simulator/SimulatorClass.h"
#include "support/ResultFiles.h"

using namespace support;

namespace {

const int kNumPVs = 168;  // 8 PVs at 21 instants

std::string binaryHeader(const std::string& experiment, const std::string& seed, const std::string& generator,
                         int batches) {
  std::string header = "TARVEX_SIM_BIN_FILE,256,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=" + experiment +
                       ",SEED=" + seed + ",RANDOMGEN=" + generator + ",BATCHES=" + std::to_string(batches) + ",,";
  header.resize(256, '\0');
  return header;
}

// Every record holds one values entry per PV, in PV order, all with the
// record's count; the counts of the records are `counts`.
void expectRecordCounts(const std::vector<Record>& records, const std::vector<int>& counts, int client = 0,
                        int experiment = 0) {
  ASSERT_EQ(records.size(), counts.size());
  for (size_t r = 0; r < records.size(); r++) {
    const Record& rec = records[r];
    EXPECT_EQ(rec.length, 9u + 7u * kNumPVs + 8u * kNumPVs * counts[r]) << "record " << r;
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

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

}  // namespace

TEST(ResultFiles, AsciiValueFormat) {
  // Ten decimals, then trailing zeros dropped except the one after the point.
  const std::pair<double, const char*> cases[] = {
      {1.5, "1.5"},       {2.0, "2.0"},       {0.123456789, "0.123456789"}, {1e-12, "0.0"},
      {0.00000000005001, "0.0000000001"},     {-0.123456789, "-0.123456789"}, {-1e-12, "-0.0"},
      {123456789.25, "123456789.25"},
  };
  for (const auto& c : cases) EXPECT_EQ(SimulatorClass::FormatAsciiValue(c.first), c.second) << c.first;
  const std::string huge = SimulatorClass::FormatAsciiValue(1e300);
  EXPECT_EQ(huge.size(), 303u);
  EXPECT_EQ(huge.substr(0, 2), "10");
  EXPECT_EQ(huge.substr(huge.size() - 2), ".0");
}

// Records and lines written from packets made by hand, on a simulator built
// in this process (client 258, experiment 3, seed 0).
TEST(ResultFiles, RecordAndLineLayoutOfHandMadePackets) {
  // Node ids come from a process-wide counter that the reward model expects
  // to start at 0; other tests of this program may have built a model before.
  PerformanceVariableNode::the_id = 0;
  auto made = simtest::makeSimulator({"-c", "258", "-e", "3"});
  SimulatorClass& sim = *made;

  // A packet without observations: a bare 9-byte record with E = 0.
  std::unique_ptr<DataPacket> values(sim.CreateDataPacket(kNumPVs));
  std::unique_ptr<DataPacket> squares(sim.CreateDataPacket(kNumPVs));
  ASSERT_EQ(values->capacity, 1000);
  std::ostringstream empty, pair, csv, csv2, full;
  sim.OutputDataBinary(nullptr, &empty, values.get(), nullptr);
  EXPECT_EQ(empty.str(), bytes({0, 0, 0, 9, 2, 0, 3, 0, 0}));

  // One value of PV 1 with its square: a kind-1 and a kind-2 entry.
  values->at(1, 0) = 1.0;
  values->counts[1] = 1;
  squares->at(1, 0) = 2.0;
  squares->counts[1] = 1;
  sim.OutputDataBinary(nullptr, &pair, values.get(), squares.get());
  EXPECT_EQ(pair.str(), bytes({0, 0, 0, 39, 2, 0, 3, 0,    2,                       //
                               0, 1, 1, 0,  0, 0, 1, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0,  //
                               0, 1, 2, 0,  0, 0, 1, 0x40, 0,    0, 0, 0, 0, 0, 0}));
  sim.OutputDataCSV(csv, values.get(), squares.get());
  EXPECT_EQ(csv.str(), "1,1.0,2.0\n");

  // Lines only for PVs with observations, one per observation.
  values->at(1, 0) = -0.75;
  values->at(1, 1) = 1e-300;
  values->counts[1] = 2;
  sim.OutputDataCSV(csv2, values.get(), nullptr);
  EXPECT_EQ(csv2.str(), "1,-0.75\n1,0.0\n");

  // A full packet: 168 PVs with 1000 observations each.
  for (int i = 0; i < kNumPVs; i++)
    for (int k = 0; k < 1000; k++) values->at(i, k) = i * 1000.0 + k + 0.125;
  values->setAllCounts(1000);
  sim.OutputDataBinary(nullptr, &full, values.get(), nullptr);
  ASSERT_EQ(full.str().size(), 1345185u);
  BinaryFile decoded = parseBinary(std::string(256, '\0') + full.str());
  expectRecordCounts(decoded.records, {1000}, 2, 3);
  for (const Entry& e : decoded.records.at(0).entries)
    for (int k = 0; k < 1000; k++) ASSERT_EQ(e.values[k], e.pv * 1000.0 + k + 0.125);
}

// Runs with both files: the exact header with the final count; the client
// id (its low byte) and experiment in every record; packets as the report
// size fills them and a short last one at the replication limit; the same
// observations line by line in the ASCII file, with its header and trailer.
// However the observations are packed (including one per packet, where the
// output passes are throttled after the first ten and then write 25 pairs at
// a time), a seed's stream of observations is the same.
TEST(ResultFiles, BinaryAndAsciiFilesAgree) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::vector<int> counts;
    int client, experiment;
    std::string experimentText, seed, generator;
  };
  const std::string lf = "Lagged Fibonacci";
  const Case cases[] = {
      {{"-s", "0", "-N", "100"}, {100}, 0, 0, "0", "31415", lf},
      {{"-N", "2500"}, {1000, 1000, 500}, 0, 0, "0", "31415", lf},
      {{"-n", "1", "-N", "100"}, std::vector<int>(100, 1), 0, 0, "0", "31415", lf},
      {{"-n", "7", "-N", "30"}, {7, 7, 7, 7, 2}, 0, 0, "0", "31415", lf},
      {{"-c", "258", "-e", "3", "-n", "2", "-N", "3", "-r", "1"}, {2, 1}, 2, 3, "3", "31415", "Tausworthe"},
      // The largest values: only the low byte of the client and 16 bits of
      // the experiment go into the records.
      {{"-c2147483647", "-e65535", "-s4294967295", "-r", "2", "-N", "1"}, {1}, 0xff, -1, "65535", "4294967295",
       "Mersenne Twister"},
  };
  std::vector<std::vector<double>> reference;  // the 100 replications of the first run
  for (const Case& c : cases) {
    SCOPED_TRACE("arguments: " + c.args[0] + " " + c.args[1] + " ...");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-a", dir.file("r.txt"), "-b", dir.file("r.bin")});
    Result r = runSimulator(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int total = std::accumulate(c.counts.begin(), c.counts.end(), 0);
    const std::string bin = readFile(dir.file("r.bin"));
    EXPECT_EQ(bin.substr(0, 256), binaryHeader(c.experimentText, c.seed, c.generator, total));
    BinaryFile file = parseBinary(bin);
    EXPECT_TRUE(file.whole);
    expectRecordCounts(file.records, c.counts, c.client, c.experiment);

    std::vector<std::string> lines = splitLines(readFile(dir.file("r.txt")));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "#TARVEX_SIM_ASCII_FILE,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=" + c.experimentText +
                            ",SEED=" + c.seed + ",RANDOMGEN=" + c.generator);
    EXPECT_EQ(lines[1], "#FORMAT: (PV ID Number),(PV Value)");
    EXPECT_EQ(lines[lines.size() - 2], "#META_DATA,BATCHES=" + std::to_string(total));
    EXPECT_EQ(lines.back(), "");  // the trailer ends in a line feed
    std::vector<AsciiLine> observed = asciiObservations(readFile(dir.file("r.txt")));
    size_t line = 0;
    for (const Record& rec : file.records)
      for (const Entry& e : rec.entries)
        for (double v : e.values) {
          ASSERT_LT(line, observed.size());
          ASSERT_EQ(observed[line].pv, e.pv) << "line " << line + 3;
          ASSERT_EQ(observed[line].value, SimulatorClass::FormatAsciiValue(v)) << "line " << line + 3;
          line++;
        }
    EXPECT_EQ(line, observed.size());

    if (c.generator != lf) continue;
    std::vector<std::vector<double>> rows = file.rows(kNumPVs);
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
  TempDir dir;
  const std::string bin = dir.file("open.bin");
  const size_t recordSize = 9 + 7 * kNumPVs + 8 * kNumPVs * 50;
  Background sim(dir.path(), {"-n", "50", "-b", bin});
  // Wait for more than the first ten (unthrottled) passes, or give up. The
  // size is looked up, not read: the file grows by hundreds of megabytes a
  // second, and the run must be stopped soon after.
  auto size = [&bin]() {
    std::error_code error;
    const auto n = std::filesystem::file_size(bin, error);
    return error ? size_t{0} : static_cast<size_t>(n);
  };
  for (int i = 0; i < 24000 && size() < 256 + 40 * recordSize; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  sim.kill(SIGKILL);
  sim.waitExit();
  EXPECT_EQ(sim.result().signal, SIGKILL);

  BinaryFile file = readBinary(bin);
  ASSERT_GE(file.records.size(), 40u);
  const std::string header = binaryHeader("0", "31415", "Lagged Fibonacci", 0);
  ASSERT_EQ(file.header.rfind(header.substr(0, header.find("BATCHES=")), 0), 0u);
  ASSERT_EQ(file.header.substr(file.header.size() - 2), ",,");
  // The count is that of the records up to the end of some output pass.
  std::vector<long> passEnds;
  long sum = 0;
  for (const Record& rec : file.records) passEnds.push_back(sum += static_cast<long>(rec.entries[0].values.size()));
  EXPECT_GE(file.batches(), 500);
  EXPECT_NE(std::find(passEnds.begin(), passEnds.end(), file.batches()), passEnds.end()) << file.batches();
}
