// The wire format: records of random observation tables decode to what was
// encoded, at the length the one formula gives; the other messages and the
// file header survive a round trip, and the header drops its later pieces
// whole when they do not fit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "network/RecordFormat.h"

namespace {

const unsigned char* Bytes(const std::vector<char>& b) {
  return reinterpret_cast<const unsigned char*>(b.data());
}

TEST(RecordFormat, RandomTablesDecodeToWhatWasEncoded) {
  std::mt19937 random(12345);
  wire::RecordEncoder encoder;
  for (int trial = 0; trial < 200; trial++) {
    const int nodes = 1 + static_cast<int>(random() % 40);
    const int capacity = 1 + static_cast<int>(random() % 30);
    std::vector<int32_t> counts(static_cast<size_t>(nodes));
    std::vector<double> values(static_cast<size_t>(nodes) * capacity), squares(values.size());
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    int64_t entries = 0, observations = 0;
    for (int i = 0; i < nodes; i++) {
      // Some nodes without observations; some counts below the capacity.
      counts[static_cast<size_t>(i)] = random() % 4 == 0 ? 0 : static_cast<int32_t>(random() % (capacity + 1));
      if (counts[static_cast<size_t>(i)] > 0) {
        entries++;
        observations += counts[static_cast<size_t>(i)];
      }
    }
    for (size_t k = 0; k < values.size(); k++) {
      values[k] = value(random);
      squares[k] = values[k] * values[k];
    }
    const int client = static_cast<int>(random() % 1000), experiment = static_cast<int>(random() % 32768);
    const wire::ObservationTable v{nodes, counts.data(), values.data()};
    const wire::ObservationTable sq{nodes, counts.data(), squares.data()};
    const bool withSquares = trial % 2 == 1;
    const std::vector<char> record = encoder.Encode(client, experiment, v, withSquares ? &sq : nullptr);
    const int factor = withSquares ? 2 : 1;
    ASSERT_EQ(static_cast<int64_t>(record.size()), wire::RecordLength(factor * entries, factor * observations));
    ASSERT_LE(record.size(), wire::LargestRecord(nodes, capacity));

    wire::Packet packet;
    wire::RecordHeader header;
    std::string error;
    ASSERT_TRUE(wire::DecodeRecord(Bytes(record), record.size(), nodes, &packet, &header, &error)) << error;
    EXPECT_EQ(header.clientId, client & 0xff);
    EXPECT_EQ(header.experiment, experiment);
    for (int i = 0; i < nodes; i++) {
      ASSERT_EQ(packet.counts[static_cast<size_t>(i)], counts[static_cast<size_t>(i)]) << "node " << i;
      for (int k = 0; k < counts[static_cast<size_t>(i)]; k++)
        ASSERT_EQ(packet.Row(i)[k], values[static_cast<size_t>(k) * nodes + i]) << i << "," << k;
    }
    // Cut short anywhere, the record is refused.
    const size_t cut = record.empty() ? 0 : random() % record.size();
    EXPECT_FALSE(wire::DecodeRecord(Bytes(record), cut, nodes, &packet, &header, &error));
  }
  // A full record of both kinds is the largest one.
  std::vector<int32_t> counts(7, 3);
  std::vector<double> values(21, 0.5);
  const wire::ObservationTable t{7, counts.data(), values.data()};
  EXPECT_EQ(encoder.Encode(0, 0, t, &t).size(), wire::LargestRecord(7, 3));
}

TEST(RecordFormat, MessagesAndFileHeaderRoundTrip) {
  std::vector<char> status(wire::kStatusLength), cpu(wire::kCpuTimeLength);
  wire::EncodeStatus({wire::kReplyMarker, 2, 123456}, status.data());
  EXPECT_EQ(std::string(status.begin(), status.end()), std::string("\0\0\0\x0a\xfe\x02\0\x01\xe2\x40", 10));
  wire::EncodeCpuTime({259, 7, 1.5}, cpu.data());
  EXPECT_EQ(std::string(cpu.begin(), cpu.end()), std::string("\0\0\0\x0c\xfe\x03\0\x07\x3f\xf8\0\0\0\0\0\0", 16));
  EXPECT_EQ(wire::KindOfLength(wire::Get32(Bytes(status))), wire::MessageKind::kStatus);
  EXPECT_EQ(wire::KindOfLength(wire::Get32(Bytes(cpu))), wire::MessageKind::kCpuTime);
  EXPECT_EQ(wire::KindOfLength(wire::kRecordHead), wire::MessageKind::kRecord);
  wire::Status s;
  wire::CpuTime c;
  std::string error;
  ASSERT_TRUE(wire::DecodeStatus(Bytes(status), &s, &error));
  EXPECT_EQ(s.marker, 0xFE);
  EXPECT_EQ(s.code, 2);
  EXPECT_EQ(s.pid, 123456);
  ASSERT_TRUE(wire::DecodeCpuTime(Bytes(cpu), &c, &error));
  EXPECT_EQ(c.clientId, 3);
  EXPECT_EQ(c.experiment, 7);
  EXPECT_EQ(c.seconds, 1.5);
  cpu[4] = 0x01;
  EXPECT_FALSE(wire::DecodeCpuTime(Bytes(cpu), &c, &error));
  EXPECT_EQ(error, "CPU-time message with marker 1 (expected 254)");
  EXPECT_EQ(wire::EncodeSecret("ab"), std::string("\0\0\0\x02" "ab", 6));

  wire::FileHeader h;
  h.version = "Version 2.5";
  h.experiment = "0";
  h.seed = "31415";
  h.generator = "Lagged Fibonacci";
  h.batches = "1200";
  const std::string header = wire::EncodeFileHeader(h);
  ASSERT_EQ(header.size(), wire::kFileHeaderLength);
  EXPECT_EQ(header.substr(0, header.find('\0')),
            "TARVEX_SIM_BIN_FILE,256,TARVEX_VER=Version 2.5,FILE_VER=1,EXPERIMENTS=0,SEED=31415,"
            "RANDOMGEN=Lagged Fibonacci,BATCHES=1200,,");
  wire::FileHeader back;
  ASSERT_TRUE(wire::DecodeFileHeader(header.data(), &back));
  EXPECT_EQ(back.version, h.version);
  EXPECT_EQ(back.fileVersion, 1);
  EXPECT_EQ(back.seed, h.seed);
  EXPECT_EQ(back.generator, h.generator);
  EXPECT_EQ(back.batches, h.batches);
  // A generator name too long for the header: it and the count are left out.
  h.generator = std::string(200, 'g');
  const std::string crowded = wire::EncodeFileHeader(h);
  ASSERT_EQ(crowded.size(), wire::kFileHeaderLength);
  ASSERT_TRUE(wire::DecodeFileHeader(crowded.data(), &back));
  EXPECT_EQ(back.seed, "31415");
  EXPECT_EQ(back.generator, "");
  EXPECT_EQ(back.batches, "");
  EXPECT_FALSE(wire::DecodeFileHeader(std::string(256, 'x').data(), &back));
}

}  // namespace
