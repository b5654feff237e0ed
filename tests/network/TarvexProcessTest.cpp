// Process wrapper checks against real child processes (/bin/sh), and the
// multi-socket wait over real loopback connections.
#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// Reads every line until the output ends (bounded, so a hang fails).
std::vector<std::string> AllLines(TarvexProcess& p) {
  std::vector<std::string> lines;
  std::string line;
  for (int i = 0; i < 600; i++) {
    const TarvexProcess::ReadResult r = p.ReadLine(&line, 100);
    if (r == TarvexProcess::kEnd) break;
    if (r == TarvexProcess::kLine) lines.push_back(line);
  }
  return lines;
}

TEST(TarvexProcess, ReadsLinesAndReportsTheExitCode) {
  TarvexProcess p;
  EXPECT_EQ(p.StatusText(), "not started");
  ASSERT_TRUE(p.Start("/bin/sh", {"-c", "printf 'one\\ntwo\\r\\n'; echo hidden >&2; printf three; exit 3"}));
  EXPECT_GT(p.Pid(), 0);
  EXPECT_EQ(AllLines(p), (std::vector<std::string>{"one", "two", "three"}))
      << "CR LF ends a line too, and a last line without a line feed still counts";
  EXPECT_TRUE(p.OutputEnded());
  std::string line;
  EXPECT_EQ(p.ReadLine(&line, 0), TarvexProcess::kEnd);
  ASSERT_TRUE(p.Wait(true));
  EXPECT_FALSE(p.Running());
  EXPECT_TRUE(p.Exited());
  EXPECT_EQ(p.ExitCode(), 3);
  EXPECT_EQ(p.TermSignal(), 0);
  EXPECT_EQ(p.StatusText(), "exit code 3");
  EXPECT_TRUE(p.Wait(false)) << "stays ended";
  EXPECT_FALSE(p.Kill()) << "an ended child cannot be signalled";
  EXPECT_FALSE(p.Start("/bin/true", {})) << "an object starts one child only";
}

TEST(TarvexProcess, WaitsForTheRestOfALineThatArrivesInPieces) {
  TarvexProcess p;
  ASSERT_TRUE(p.Start("/bin/sh", {"-c", "printf 'REGISTER:  Por'; sleep 0.3; echo 't: [10000]'"}));
  std::string line;
  ASSERT_EQ(p.ReadLine(&line, 60000), TarvexProcess::kLine);
  EXPECT_EQ(line, "REGISTER:  Port: [10000]");
  EXPECT_EQ(p.ReadLine(&line, 60000), TarvexProcess::kEnd);
  EXPECT_TRUE(p.Wait(true));
}

TEST(TarvexProcess, MergesStandardErrorAndFindsProgramsOnThePath) {
  TarvexProcess p;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  options.ownProcessGroup = true;
  ASSERT_TRUE(p.Start("sh", {"-c", "echo out; echo err >&2; read x; echo \"stdin:$x\""}, options));
  EXPECT_EQ(AllLines(p), (std::vector<std::string>{"out", "err", "stdin:"}))
      << "standard input is empty";
  ASSERT_TRUE(p.Wait(true));
  EXPECT_EQ(p.ExitCode(), 0);
}

TEST(TarvexProcess, TimesOutAndStopsAChildBySignal) {
  struct Case {
    bool (TarvexProcess::*stop)();
    const char* name;
  };
  for (const Case& c : {Case{&TarvexProcess::Kill, "SIGKILL"}, Case{&TarvexProcess::Terminate, "SIGTERM"},
                        Case{&TarvexProcess::Interrupt, "SIGINT"}}) {
    SCOPED_TRACE(c.name);
    TarvexProcess p;
    TarvexProcess::StartOptions options;
    options.ownProcessGroup = true;  // a shell in a group of its own takes SIGINT
    ASSERT_TRUE(p.Start("/bin/sh", {"-c", "echo ready; exec sleep 30"}, options));
    std::string line;
    ASSERT_EQ(p.ReadLine(&line, 30000), TarvexProcess::kLine);
    EXPECT_EQ(line, "ready");
    EXPECT_EQ(p.ReadLine(&line, 20), TarvexProcess::kTimeout);
    EXPECT_FALSE(p.Wait(false));
    EXPECT_TRUE(p.Running());
    std::vector<std::string> lines;
    EXPECT_TRUE(p.ReadAvailableLines(&lines)) << "the output has not ended";
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE((p.*c.stop)());
    ASSERT_TRUE(p.Wait(true));
    EXPECT_FALSE(p.Exited());
    EXPECT_EQ(TarvexProcess::SignalName(p.TermSignal()), c.name);
    EXPECT_NE(p.StatusText().find(c.name), std::string::npos) << p.StatusText();
  }
}

TEST(TarvexProcess, MissingProgramIsReportedAndARunningChildDiesWithItsObject) {
  TarvexProcess missing;
  EXPECT_FALSE(missing.Start("/nonexistent/program", {}));
  EXPECT_NE(missing.GetErrorString().find("/nonexistent/program"), std::string::npos);
  EXPECT_EQ(missing.Pid(), -1);
  EXPECT_FALSE(missing.Running());
  EXPECT_FALSE(missing.Wait(false));

  // The destructor kills and collects a child that is still running; the
  // test would hang (and time out) if it waited for sleep to end instead.
  {
    TarvexProcess p;
    ASSERT_TRUE(p.Start("/bin/sleep", {"600"}));
  }
}

TEST(TarvexProcess, TerminationHookRecordsTheSignalWithoutEndingTheProcess) {
  TarvexProcess::InstallTerminationHook();
  TarvexProcess::InstallTerminationHook();  // a second call changes nothing
  TarvexProcess::ClearTermination();
  EXPECT_EQ(TarvexProcess::TerminationSignal(), 0);
  TarvexProcess sender;
  ASSERT_TRUE(sender.Start("/bin/sh", {"-c", "kill -TERM " + std::to_string(TarvexProcess::CurrentPid())}));
  ASSERT_TRUE(sender.Wait(true));
  EXPECT_EQ(sender.ExitCode(), 0);
  for (int i = 0; i < 3000 && TarvexProcess::TerminationSignal() == 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(TarvexProcess::SignalName(TarvexProcess::TerminationSignal()), "SIGTERM");
  TarvexProcess::ClearTermination();
  EXPECT_EQ(TarvexProcess::TerminationSignal(), 0);
}

// A listener with n accepted connections, each paired with a client.
struct Connections {
  TarvexSocket listener{true};
  std::vector<std::unique_ptr<TarvexSocket>> clients, servers;

  void Open(int n) {
    ASSERT_TRUE(listener.Bind(0));
    ASSERT_TRUE(listener.Listen(5));
    for (int i = 0; i < n; i++) {
      clients.push_back(std::make_unique<TarvexSocket>(true));
      servers.push_back(std::make_unique<TarvexSocket>(false));
      ASSERT_TRUE(clients.back()->Connect("127.0.0.1", listener.GetPort()));
      ASSERT_TRUE(listener.Select(10000));
      ASSERT_TRUE(listener.Accept(*servers.back()));
    }
  }
};

TEST(SelectMany, TellsWhichSocketsAreReadable) {
  Connections c;
  c.Open(3);
  TarvexSocket idle(false);  // no descriptor: skipped
  TarvexSocket* sockets[5] = {c.servers[0].get(), nullptr, c.servers[1].get(), &idle, c.servers[2].get()};
  bool readable[5] = {true, true, true, true, true};
  EXPECT_EQ(TarvexSocket::SelectMany(sockets, 5, 0, readable), 0);
  for (bool r : readable) EXPECT_FALSE(r);

  ASSERT_EQ(c.clients[1]->Send("x", 1), 1);
  c.clients[2]->Close();  // end of stream counts as readable
  int ready = 0;
  for (int i = 0; i < 100 && ready < 2; i++) ready = TarvexSocket::SelectMany(sockets, 5, 100, readable);
  EXPECT_EQ(ready, 2);
  EXPECT_FALSE(readable[0]);
  EXPECT_FALSE(readable[1]);
  EXPECT_TRUE(readable[2]);
  EXPECT_FALSE(readable[3]);
  EXPECT_TRUE(readable[4]);
  char buf[2];
  EXPECT_EQ(c.servers[1]->Recv(buf, 2), 1);
  EXPECT_EQ(c.servers[2]->Recv(buf, 2), 0);

  EXPECT_EQ(TarvexSocket::SelectMany(nullptr, 0, 0, nullptr), 0) << "nothing to wait for";
  EXPECT_EQ(TarvexSocket::SelectMany(nullptr, 2, 0, readable), -1);
}

}  // namespace
