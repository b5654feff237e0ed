// A child process started from a program and its arguments, with its
// standard output (and, on request, its standard error) on a pipe that the
// parent reads line by line. The simulation manager uses it to launch
// simulators and read their port announcements; it also holds the
// process-wide hook for termination requests (Ctrl-C, SIGTERM).
//
// Every operating-system process, pipe and signal call of the project lives
// in this class. Failures never throw: an operation that fails returns false
// and leaves a readable reason in GetErrorString().
//
// One object is used by one thread at a time; the class takes no locks.
#ifndef TARVEX_NETWORK_TARVEXPROCESS_H
#define TARVEX_NETWORK_TARVEXPROCESS_H

#include <string>
#include <vector>

class TarvexProcess {
 public:
  struct StartOptions {
    // Standard error goes to the same pipe as standard output; otherwise
    // the child shares the parent's standard error.
    bool mergeStandardError = false;
    // The child leads a process group of its own, so that a Ctrl-C typed at
    // the parent's terminal reaches the parent only, which then stops its
    // children in order.
    bool ownProcessGroup = false;
    // NAME=value entries set in the child's environment, replacing any
    // value the parent's environment has for the same name. Meant for what
    // must not show on a command line (a shared secret).
    std::vector<std::string> environment;
  };

  // Result of ReadLine.
  enum ReadResult { kLine, kTimeout, kEnd };

  TarvexProcess();
  // A child that is still running is killed and waited for, so that no
  // process outlives its object; the pipe is closed.
  ~TarvexProcess();
  TarvexProcess(const TarvexProcess&) = delete;
  TarvexProcess& operator=(const TarvexProcess&) = delete;

  // Starts the program (looked up on the PATH when the name has no '/') with
  // the arguments (not counting the program's name, which becomes argv[0]).
  // Standard input is /dev/null. False (with the reason recorded) when the
  // pipe cannot be made or the program cannot be executed; a started object
  // cannot be started again.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const StartOptions& options);
  bool Start(const std::string& program, const std::vector<std::string>& args);

  // The child's process id, -1 before a successful Start.
  int Pid() const;

  // The next complete line of output (without its line feed; a carriage
  // return before it is dropped too). Waits up to timeoutMs (negative: no
  // limit). kEnd once the pipe has reached end of file and every line has
  // been returned; a last line without a line feed is still returned first.
  // A signal that interrupts the wait ends it early with kTimeout.
  ReadResult ReadLine(std::string* line, int timeoutMs);
  // Appends every complete line that can be read now without waiting.
  // Returns false once the output has ended (after appending what was left).
  bool ReadAvailableLines(std::vector<std::string>* lines);
  // True once end of file was seen on the pipe.
  bool OutputEnded() const;

  // Signals to the child; false when it cannot be signalled (not started,
  // already waited for).
  bool Interrupt();  // SIGINT
  bool Terminate();  // SIGTERM
  bool Kill();       // SIGKILL

  // Collects the child's exit. With block false returns at once. True once
  // the child has ended (and from then on).
  bool Wait(bool block);
  // True between a successful Start and the Wait that saw the child end.
  bool Running() const;
  // After the child ended: true when it called exit (ExitCode tells the
  // code), false when a signal ended it (TermSignal tells which).
  bool Exited() const;
  int ExitCode() const;
  int TermSignal() const;
  // "exit code 3", "killed by signal 9 (SIGKILL)", "running", "not started".
  std::string StatusText() const;

  const std::string& GetErrorString() const;

  // ---- process-wide ------------------------------------------------------
  // Installs handlers for SIGINT and SIGTERM that only record the signal
  // (without restarting interrupted waits, so that a waiting caller sees it
  // promptly); a signal ignored at the time stays ignored. Idempotent.
  static void InstallTerminationHook();
  // The same, choosing whether system calls the signal interrupts resume by
  // themselves (reads and writes of pipes and sockets, for a program that
  // only looks at the flag between steps of its work; waits such as poll
  // return early either way). The first installation decides.
  static void InstallTerminationHook(bool restartInterruptedCalls);
  // The last termination signal received since the hook was installed or
  // cleared (SIGINT or SIGTERM), 0 when none.
  static int TerminationSignal();
  static void ClearTermination();
  // The name of a signal number ("SIGTERM", "SIGINT", ...).
  static std::string SignalName(int signal);
  // True when standard error is a terminal.
  static bool StandardErrorIsTerminal();
  // The id of the calling process.
  static int CurrentPid();

 private:
  enum FillResult { kFillData, kFillTimedOut, kFillInterrupted, kFillEnded };
  bool Signal(int signal);
  // Reads what the pipe holds into Pending, waiting up to timeoutMs for the
  // first byte.
  FillResult Fill(int timeoutMs);
  bool TakeLine(std::string* line, bool atEnd);

  int ChildPid;
  int PipeDescriptor;
  bool Ended;       // the child has been waited for
  int Status;       // raw wait status once Ended
  bool EndOfOutput;
  std::string Pending;
  std::string ErrorString;
};

#endif
