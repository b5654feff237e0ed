// Process wrapper checks against real child processes (/bin/sh).
#include "network/TarvexProcess.h"

#include <gtest/gtest.h>

#include <string>
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

// CR LF ends a line too, a line arriving in pieces is waited for, and a last
// line without a line feed still counts; standard error is the parent's
// unless merged; the exit code and the signal that ended a child are told.
TEST(TarvexProcess, ReadsLinesAndReportsHowTheChildEnded) {
  TarvexProcess p;
  ASSERT_TRUE(p.Start("/bin/sh", {"-c", "printf 'one\\ntwo\\r\\nthr'; echo hidden >&2; sleep 0.3; printf ee; exit 3"}));
  EXPECT_EQ(AllLines(p), (std::vector<std::string>{"one", "two", "three"}));
  ASSERT_TRUE(p.Wait(true));
  EXPECT_TRUE(p.Exited());
  EXPECT_EQ(p.StatusText(), "exit code 3");
  EXPECT_FALSE(p.Start("/bin/true", {})) << "an object starts one child only";

  TarvexProcess q;
  TarvexProcess::StartOptions options;
  options.mergeStandardError = true;
  ASSERT_TRUE(q.Start("sh", {"-c", "read x; echo \"err:$x\" >&2; exec sleep 30"}, options));
  std::string line;
  ASSERT_EQ(q.ReadLine(&line, 30000), TarvexProcess::kLine);
  EXPECT_EQ(line, "err:") << "standard error merged, standard input empty";
  EXPECT_EQ(q.ReadLine(&line, 20), TarvexProcess::kTimeout);
  ASSERT_TRUE(q.Terminate());
  ASSERT_TRUE(q.Wait(true));
  EXPECT_FALSE(q.Exited());
  EXPECT_EQ(TarvexProcess::SignalName(q.TermSignal()), "SIGTERM");

  TarvexProcess missing;
  EXPECT_FALSE(missing.Start("/nonexistent/program", {}));
  EXPECT_NE(missing.GetErrorString().find("/nonexistent/program"), std::string::npos);
  // The destructor kills and collects a child that is still running; the
  // test would hang (and time out) if it waited for sleep to end instead.
  TarvexProcess running;
  ASSERT_TRUE(running.Start("/bin/sleep", {"600"}));
}

}  // namespace
