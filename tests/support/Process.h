// Running the programs under test: a whole run with its standard output,
// standard error and exit status captured, or a run in the background with
// its output in files; private temporary directories; small file helpers.
#ifndef TARVEX_TESTS_SUPPORT_PROCESS_H
#define TARVEX_TESTS_SUPPORT_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace support {

// Generous bound for anything a test waits for; only there to turn a hang
// into a failure.
const int kPatienceMs = 30000;

inline std::string program(const std::string& name) { return TARVEX_BINARY_DIR "/" + name; }
inline const std::string kSimulator = program("attack_flow_sim");

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
inline bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// The number after "Actions fired: " in a run's output, or -1.
inline int actionsFired(const std::string& out) {
  size_t at = out.find("Actions fired: ");
  return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 15);
}

// A private directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvex_test_XXXXXX";
    if (mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // The names of the entries, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

struct Options {
  std::vector<std::string> env;  // NAME=value entries added to the environment
  std::string dir;               // the working directory, if not the output directory
  bool mergeErr = false;         // standard error into standard output
};

// Resource limits (RLIMIT_FSIZE, RLIMIT_AS, ...) to set in a child before it
// starts; with a file-size limit SIGXFSZ is ignored, so that a write beyond
// it fails instead of ending the program.
using Limits = std::vector<std::pair<int, rlim_t>>;

struct Result {
  int exitCode = -1;  // the exit status, or -1 when a signal ended the program
  int signal = 0;     // that signal
  std::string out, err;
};

// A program started with standard input from /dev/null and standard output
// and error in the files "stdout" and "stderr" of `outputDir`, which is also
// its working directory unless the options name another. Its environment is
// ours without SIMTEST (the connectivity switch is the test's to choose) plus
// the options' entries; it runs under the given limits. Killed and collected
// when the object goes, if it still runs.
class Background {
 public:
  Background(const std::string& outputDir, std::vector<std::string> args, const std::string& path = kSimulator,
             const Options& options = {}, const Limits& limits = {})
      : out_(outputDir + "/stdout"), err_(outputDir + "/stderr") {
    args.insert(args.begin(), path);
    std::vector<std::string> env;
    for (char** e = environ; e && *e; e++)
      if (std::strncmp(*e, "SIMTEST=", 8) != 0) env.push_back(*e);
    env.insert(env.end(), options.env.begin(), options.env.end());
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(&a[0]);
    for (std::string& e : env) envp.push_back(&e[0]);
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string dir = options.dir.empty() ? outputDir : options.dir;
    int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int e = options.mergeErr ? o : open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (o >= 0 && e >= 0 && (pid_ = fork()) == 0) {
      // Stop signals act as they would from a terminal, even if this test
      // runs where they are ignored (a background job of a script).
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      for (const auto& [resource, value] : limits) {
        rlimit limit{value, value};
        if (setrlimit(resource, &limit) != 0) _exit(126);
        if (resource == RLIMIT_FSIZE) signal(SIGXFSZ, SIG_IGN);
      }
      int in = open("/dev/null", O_RDONLY);
      if (in >= 0 && dup2(in, 0) >= 0 && dup2(o, 1) >= 0 && dup2(e, 2) >= 0 && chdir(dir.c_str()) == 0)
        execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (o >= 0) close(o);
    if (e >= 0 && e != o) close(e);
  }
  ~Background() {
    if (!ended()) {
      ::kill(pid_, SIGKILL);
      waitExit(-1);
    }
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }
  void kill(int signal) { ::kill(pid_, signal); }
  const Result& result() const { return result_; }

  // True once the program has ended (collecting it), or never started.
  bool ended(bool block = false) {
    int status = 0;
    if (!ended_ && pid_ > 0 && waitpid(pid_, &status, block ? 0 : WNOHANG) == pid_) {
      ended_ = true;
      if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    }
    return ended_ || pid_ <= 0;
  }
  // The exit code, or -1 when the program did not end normally in time (a
  // negative time: no limit).
  int waitExit(int timeoutMs = kPatienceMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ended(timeoutMs < 0) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return result_.exitCode;
  }
  // The port the simulator announces on standard output, or -1.
  int waitForPort() {
    const std::string tag = "REGISTER:  Port: [";
    for (int i = 0; i < kPatienceMs / 5; i++) {
      std::string text = out();
      size_t at = text.find(tag);
      if (at != std::string::npos && text.find("]\n", at) != std::string::npos)
        return std::atoi(text.c_str() + at + tag.size());
      if (ended()) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool ended_ = false;
  Result result_;
};

// Runs a program to its end, capturing both output streams (standard output
// only when they are merged).
inline Result run(const std::string& path, const std::vector<std::string>& args, const Options& options = {}) {
  TempDir io;
  Background program(io.path(), args, path, options);
  program.waitExit(-1);
  Result result = program.result();
  result.out = program.out();
  if (!options.mergeErr) result.err = program.err();
  return result;
}

inline Result runSimulator(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  return run(kSimulator, args, Options{env, "", false});
}

// The SHA-256 of a file, in hex, by the system's sha256sum.
inline std::string sha256File(const std::string& path) {
  return run("/usr/bin/sha256sum", {"-b", path}).out.substr(0, 64);
}

}  // namespace support

#endif
