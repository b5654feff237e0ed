// Socket wrapper checks over real loopback connections.
#include "network/TarvexSocket.h"
#include "network/TarvexThread.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A listener on a system-chosen port with one accepted connection to a client.
struct LoopbackPair {
  TarvexSocket listener{true};
  TarvexSocket client{true};
  TarvexSocket server{false};

  void Open() {
    ASSERT_TRUE(listener.Bind(0));
    ASSERT_TRUE(listener.Listen(5));
    ASSERT_GT(listener.GetPort(), 0);
    ASSERT_TRUE(client.Connect("127.0.0.1", listener.GetPort()));
    ASSERT_TRUE(listener.Select(10000));
    ASSERT_TRUE(listener.Accept(server));
    ASSERT_TRUE(server.IsValid());
  }
};

TEST(TarvexSocket, ConnectAcceptSelectAndReadUntilEndOfStream) {
  LoopbackPair p;
  p.Open();
  EXPECT_FALSE(p.listener.Select(0)) << "no second connection is pending";
  EXPECT_FALSE(p.server.Select(200));
  ASSERT_EQ(p.client.Send("x", 1), 1);
  EXPECT_TRUE(p.server.Select(-1)) << "data is pending, so no limit still returns";
  char buf[4] = {};
  EXPECT_EQ(p.server.RecvBlock(buf, 1), 1);
  EXPECT_EQ(buf[0], 'x');
  ASSERT_EQ(p.server.Send("ok", 2), 2);
  EXPECT_EQ(p.client.RecvBlock(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "ok");

  ASSERT_EQ(p.client.Send("yz", 2), 2);
  p.client.Close();
  EXPECT_TRUE(p.server.Select(10000)) << "end of stream counts as readable";
  EXPECT_EQ(p.server.RecvBlock(buf, 3), 2) << "stops early at end of stream";
  EXPECT_EQ(p.server.Recv(buf, 1), 0);
  EXPECT_EQ(p.server.GetErrorString(), nullptr) << "end of stream is not an error";
}

unsigned long SendSecondHalf(void* arg) {
  TarvexThread::Sleep(50);
  return static_cast<TarvexSocket*>(arg)->Send(";", 1) == 1 ? 0 : 1;
}

TEST(TarvexSocket, RecvBlockReadsUpToTheEndMarkerAndNoFurther) {
  LoopbackPair p;
  p.Open();
  char buf[513];

  // A C sender's text with its terminator, then the next command byte.
  const char wire[] = "a;7;;\0\x01";
  ASSERT_EQ(p.client.Send(wire, 7), 7);
  EXPECT_EQ(p.server.RecvBlock(buf, 512, ";;"), 6);
  EXPECT_STREQ(buf, "a;7;;");
  ASSERT_TRUE(p.server.Select(10000)) << "the byte after the text was consumed with it";
  ASSERT_EQ(p.server.Recv(buf, 1), 1);
  EXPECT_EQ(buf[0], '\x01');

  // Without a terminator, and with the marker split over two sends.
  ASSERT_EQ(p.client.Send("out.bin;500;", 12), 12);
  TarvexThread sender(SendSecondHalf, &p.client);
  ASSERT_TRUE(sender.Start());
  EXPECT_EQ(p.server.RecvBlock(buf, 512, ";;"), 13);
  EXPECT_STREQ(buf, "out.bin;500;;");
  sender.WaitUntilDone();
  EXPECT_EQ(sender.GetExitCode(), 0u);

  // The byte limit, then end of stream before the marker.
  ASSERT_EQ(p.client.Send("abcdefgh", 8), 8);
  EXPECT_EQ(p.server.RecvBlock(buf, 4, ";;"), 4);
  EXPECT_STREQ(buf, "abcd");
  p.client.Close();
  EXPECT_EQ(p.server.RecvBlock(buf, 512, ";;"), 4);
  EXPECT_STREQ(buf, "efgh");
}

struct BulkRead {
  TarvexSocket* socket;
  std::vector<char> data;
  static unsigned long Run(void* arg) {
    BulkRead* r = static_cast<BulkRead*>(arg);
    return static_cast<unsigned long>(r->socket->RecvBlock(r->data.data(), static_cast<int>(r->data.size())));
  }
};

// Far more than the socket buffers hold: Send must go on after partial writes.
TEST(TarvexSocket, SendPushesALargeBufferWhole) {
  LoopbackPair p;
  p.Open();
  std::vector<char> payload(8 * 1024 * 1024 + 3);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 131) ^ (i >> 11));

  BulkRead reader{&p.client, std::vector<char>(payload.size())};
  TarvexThread thread(BulkRead::Run, &reader);
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(p.server.Send(payload.data(), static_cast<int>(payload.size())), static_cast<int>(payload.size()));
  thread.WaitUntilDone();
  EXPECT_EQ(thread.GetExitCode(), payload.size());
  EXPECT_TRUE(reader.data == payload);
}

TEST(TarvexSocket, SendToAVanishedPeerFailsWithoutEndingTheProcess) {
  LoopbackPair p;
  p.Open();
  p.client.Close();
  const std::vector<char> block(4096, 'z');
  bool failed = false;
  // The first sends may still be accepted locally; the peer's reset makes a
  // later one fail (with EPIPE, which must not arrive as SIGPIPE).
  for (int i = 0; i < 500 && !failed; ++i) {
    failed = p.server.Send(block.data(), static_cast<int>(block.size())) <= 0;
    if (!failed) TarvexThread::Sleep(5);
  }
  EXPECT_TRUE(failed);
  EXPECT_NE(p.server.GetErrorString(), nullptr);
}

TEST(TarvexSocket, BindOnAHeldPortFailsSilentlySoThePortSearchMovesOn) {
  TarvexSocket listening(true);
  ASSERT_TRUE(listening.Bind(0));
  ASSERT_TRUE(listening.Listen(1));
  TarvexSocket boundOnly(true);
  ASSERT_TRUE(boundOnly.Bind(0));

  TarvexSocket probe(true);
  testing::internal::CaptureStderr();
  const bool onListening = probe.Bind(listening.GetPort());
  const bool onBoundOnly = probe.Bind(boundOnly.GetPort());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(onListening);
  EXPECT_FALSE(onBoundOnly) << "a port bound by another socket that is not yet listening is taken too";
  EXPECT_NE(probe.GetErrorString(), nullptr);
}

}  // namespace
