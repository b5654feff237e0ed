#include "network/TarvexProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace {

// A line longer than this is handed out in pieces rather than buffered on.
const size_t kLongestLine = 1 << 20;

// Lock-free, so that the handler may store it and any thread may read it.
std::atomic<int> ReceivedTermination{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal flag must be lock-free");
bool HookInstalled = false;

extern "C" void RecordTermination(int signal) { ReceivedTermination.store(signal); }

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

}  // namespace

TarvexProcess::TarvexProcess()
    : ChildPid(-1), PipeDescriptor(-1), Ended(false), Status(0), EndOfOutput(false) {}

TarvexProcess::~TarvexProcess() {
  if (Running()) {
    Kill();
    Wait(true);
  }
  if (PipeDescriptor >= 0) ::close(PipeDescriptor);
}

bool TarvexProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  return Start(program, args, StartOptions());
}

bool TarvexProcess::Start(const std::string& program, const std::vector<std::string>& args,
                          const StartOptions& options) {
  if (ChildPid >= 0) {
    ErrorString = "the process was already started";
    return false;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ErrorString = Reason("cannot create a pipe", errno);
    return false;
  }

  std::vector<std::string> words;
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  // The parent's environment, with the requested entries in place of any
  // of the same name.
  std::vector<std::string> entries = options.environment;
  std::vector<char*> envp;
  for (char** e = environ; e != nullptr && *e != nullptr; e++) {
    const char* equals = std::strchr(*e, '=');
    const size_t nameLength = equals ? static_cast<size_t>(equals - *e) : std::strlen(*e);
    bool replaced = false;
    for (const std::string& entry : options.environment)
      replaced = replaced || (entry.size() > nameLength && entry[nameLength] == '=' &&
                              entry.compare(0, nameLength, *e, nameLength) == 0);
    if (!replaced) envp.push_back(*e);
  }
  for (std::string& entry : entries) envp.push_back(&entry[0]);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  if (options.mergeStandardError) posix_spawn_file_actions_adddup2(&actions, ends[1], 2);

  // The child starts with no blocked signals and the default reaction to
  // the ones this process may catch or ignore.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);

  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(ends[1]);
  if (rc != 0) {
    ::close(ends[0]);
    ErrorString = Reason(("cannot run " + program).c_str(), rc);
    return false;
  }
  ChildPid = pid;
  PipeDescriptor = ends[0];
  const int fl = ::fcntl(PipeDescriptor, F_GETFL);
  if (fl >= 0) ::fcntl(PipeDescriptor, F_SETFL, fl | O_NONBLOCK);
  return true;
}

int TarvexProcess::Pid() const { return ChildPid; }

bool TarvexProcess::OutputEnded() const { return EndOfOutput; }

TarvexProcess::FillResult TarvexProcess::Fill(int timeoutMs) {
  if (PipeDescriptor < 0) return kFillEnded;
  pollfd p{PipeDescriptor, POLLIN, 0};
  const int r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (r == 0) return kFillTimedOut;
  if (r < 0) return kFillInterrupted;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(PipeDescriptor, chunk, sizeof chunk);
    if (n > 0) {
      Pending.append(chunk, static_cast<size_t>(n));
      if (Pending.size() > kLongestLine) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // End of file, or a read error that ends the output all the same.
    EndOfOutput = true;
    ::close(PipeDescriptor);
    PipeDescriptor = -1;
    return kFillEnded;
  }
  return kFillData;
}

bool TarvexProcess::TakeLine(std::string* line, bool atEnd) {
  const size_t eol = Pending.find('\n');
  if (eol == std::string::npos) {
    if (Pending.empty() || (!atEnd && Pending.size() <= kLongestLine)) return false;
    line->assign(Pending);
    Pending.clear();
  } else {
    line->assign(Pending, 0, eol);
    Pending.erase(0, eol + 1);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

TarvexProcess::ReadResult TarvexProcess::ReadLine(std::string* line, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (TakeLine(line, EndOfOutput)) return kLine;
    if (EndOfOutput || PipeDescriptor < 0) return kEnd;
    int wait = -1;
    if (timeoutMs >= 0) {
      const long long left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    // Part of a line may arrive: wait on for the rest while time is left.
    const FillResult r = Fill(wait);
    if (r == kFillTimedOut || r == kFillInterrupted) return TakeLine(line, false) ? kLine : kTimeout;
    if (r == kFillData && timeoutMs >= 0 && Clock::now() >= deadline)
      return TakeLine(line, false) ? kLine : kTimeout;
  }
}

bool TarvexProcess::ReadAvailableLines(std::vector<std::string>* lines) {
  if (!EndOfOutput) Fill(0);
  std::string line;
  while (TakeLine(&line, EndOfOutput)) lines->push_back(line);
  return !EndOfOutput;
}

bool TarvexProcess::Signal(int signal) {
  if (!Running()) return false;
  if (::kill(ChildPid, signal) != 0) {
    ErrorString = Reason("cannot signal the process", errno);
    return false;
  }
  return true;
}

bool TarvexProcess::Interrupt() { return Signal(SIGINT); }
bool TarvexProcess::Terminate() { return Signal(SIGTERM); }
bool TarvexProcess::Kill() { return Signal(SIGKILL); }

bool TarvexProcess::Wait(bool block) {
  if (Ended) return true;
  if (ChildPid < 0) return false;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(ChildPid, &status, block ? 0 : WNOHANG);
    if (r == ChildPid) {
      Ended = true;
      Status = status;
      return true;
    }
    if (r == 0) return false;
    if (errno == EINTR) continue;
    // No such child: it was collected elsewhere, so it has ended, outcome
    // unknown.
    ErrorString = Reason("cannot wait for the process", errno);
    Ended = true;
    Status = 0;
    return true;
  }
}

bool TarvexProcess::Running() const { return ChildPid >= 0 && !Ended; }

bool TarvexProcess::Exited() const { return Ended && WIFEXITED(Status); }

int TarvexProcess::ExitCode() const { return Exited() ? WEXITSTATUS(Status) : -1; }

int TarvexProcess::TermSignal() const { return Ended && WIFSIGNALED(Status) ? WTERMSIG(Status) : 0; }

std::string TarvexProcess::StatusText() const {
  if (ChildPid < 0) return "not started";
  if (!Ended) return "running";
  if (Exited()) return "exit code " + std::to_string(ExitCode());
  const int s = TermSignal();
  return "killed by signal " + std::to_string(s) + " (" + SignalName(s) + ")";
}

const std::string& TarvexProcess::GetErrorString() const { return ErrorString; }

void TarvexProcess::InstallTerminationHook() { InstallTerminationHook(false); }

void TarvexProcess::InstallTerminationHook(bool restartInterruptedCalls) {
  if (HookInstalled) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RecordTermination;
  sigemptyset(&action.sa_mask);
  action.sa_flags = restartInterruptedCalls ? SA_RESTART : 0;
  // A signal that was ignored when the program started (SIGINT for a job a
  // script runs in the background) stays ignored.
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction previous;
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
  HookInstalled = true;
}

int TarvexProcess::TerminationSignal() { return ReceivedTermination.load(); }

void TarvexProcess::ClearTermination() { ReceivedTermination.store(0); }

std::string TarvexProcess::SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGKILL: return "SIGKILL";
    case SIGABRT: return "SIGABRT";
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: break;
  }
  const char* name = ::strsignal(signal);
  return name ? name : "signal " + std::to_string(signal);
}

bool TarvexProcess::StandardErrorIsTerminal() { return ::isatty(2) == 1; }

int TarvexProcess::CurrentPid() { return static_cast<int>(::getpid()); }
