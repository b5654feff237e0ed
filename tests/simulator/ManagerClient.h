// Test-side stand-in for the simulation manager: starts simulator processes,
// connects to them over loopback with TarvexSocket::Connect, splits the byte
// stream into status, CPU-time and observation-record messages, and decodes
// binary result files. Everything lives in namespace mgrtest so that it
// cannot clash with other helpers linked into the same test program.
#ifndef TARVEX_TESTS_SIMULATOR_MANAGERCLIENT_H
#define TARVEX_TESTS_SIMULATOR_MANAGERCLIENT_H

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "network/TarvexSocket.h"

namespace mgrtest {

// Generous upper bound for anything a test waits for; only there to turn a
// hang into a failure.
const int kPatienceMs = 30000;

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/mgrtest.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
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

// A simulator process running in `dir`, with standard output and error in the
// files "stdout" and "stderr" there.
class SimProcess {
 public:
  SimProcess(const std::string& dir, const std::vector<std::string>& args)
      : out_(dir + "/stdout"), err_(dir + "/stderr") {
    std::vector<std::string> all{TARVEX_BINARY_DIR "/attack_flow_sim"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }

  // The exit code, or -1 when the process did not end normally in time.
  int waitExit(int timeoutMs = kPatienceMs) {
    if (exited_) return code_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return code_;
      }
      if (r < 0) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

  // The port announced on standard output, or -1.
  int waitForPort(int timeoutMs = kPatienceMs) {
    const std::string tag = "REGISTER:  Port: [";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string text = out();
      size_t at = text.find(tag);
      if (at != std::string::npos) {
        size_t close = text.find("]\n", at);
        if (close != std::string::npos) return std::atoi(text.c_str() + at + tag.size());
      }
      int status = 0;
      if (!exited_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (exited_) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int code_ = -1;
};

// ---- big-endian decoding -------------------------------------------------

inline uint32_t be32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}
inline uint16_t be16(const std::string& b, size_t at) {
  return static_cast<uint16_t>((static_cast<unsigned char>(b[at]) << 8) |
                               static_cast<unsigned char>(b[at + 1]));
}
inline double beDouble(const std::string& b, size_t at) {
  uint64_t v = 0;
  for (int i = 0; i < 8; i++) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  double d;
  std::memcpy(&d, &v, sizeof d);
  return d;
}

struct Entry {
  int pv = -1;
  int kind = 0;
  std::vector<double> values;
};

struct Record {
  int clientId = -1;
  int experiment = -1;
  std::vector<Entry> entries;
};

// Decodes one observation record; false when its fields do not add up to
// exactly the bytes given.
inline bool decodeRecord(const std::string& b, Record* r) {
  if (b.size() < 9 || be32(b, 0) != b.size()) return false;
  r->clientId = static_cast<unsigned char>(b[4]);
  r->experiment = static_cast<int16_t>(be16(b, 5));
  int count = be16(b, 7);
  size_t at = 9;
  r->entries.clear();
  for (int e = 0; e < count; e++) {
    if (at + 7 > b.size()) return false;
    Entry entry;
    entry.pv = be16(b, at);
    entry.kind = static_cast<unsigned char>(b[at + 2]);
    int32_t c = static_cast<int32_t>(be32(b, at + 3));
    at += 7;
    if (c <= 0 || at + 8 * static_cast<size_t>(c) > b.size()) return false;
    for (int32_t k = 0; k < c; k++, at += 8) entry.values.push_back(beDouble(b, at));
    r->entries.push_back(entry);
  }
  return at == b.size();
}

// A binary result file: the 256-byte header text and the body split into
// records by their length fields. `whole` is false when the body does not end
// on a record boundary or a record does not decode.
struct BinFile {
  bool opened = false;
  std::string header;
  std::string body;
  std::vector<std::string> rawRecords;
  std::vector<Record> records;
  bool whole = false;

  // The number after "BATCHES=" in the header, or -1.
  long batches() const {
    size_t at = header.find("BATCHES=");
    return at == std::string::npos ? -1 : std::atol(header.c_str() + at + 8);
  }
  // Observations of one PV across the whole body, in order.
  std::vector<double> series(int pv) const {
    std::vector<double> out;
    for (const Record& r : records)
      for (const Entry& e : r.entries)
        if (e.pv == pv && e.kind == 1) out.insert(out.end(), e.values.begin(), e.values.end());
    return out;
  }
};

inline BinFile readBinFile(const std::string& path) {
  BinFile f;
  std::ifstream probe(path, std::ios::binary);
  if (!probe) return f;
  f.opened = true;
  std::string all = readFile(path);
  if (all.size() < 256) return f;
  f.header = all.substr(0, 256);
  f.body = all.substr(256);
  size_t at = 0;
  while (at + 4 <= f.body.size()) {
    uint32_t length = be32(f.body, at);
    if (length < 9 || at + length > f.body.size()) return f;
    f.rawRecords.push_back(f.body.substr(at, length));
    Record r;
    if (!decodeRecord(f.rawRecords.back(), &r)) return f;
    f.records.push_back(r);
    at += length;
  }
  f.whole = at == f.body.size();
  return f;
}

// ---- the manager's side of the connection ----------------------------------

enum class Kind { Status, CpuTime, Record, End, Timeout };

struct Message {
  Kind kind = Kind::Timeout;
  std::string bytes;  // the whole message, length field included

  // Status messages.
  int marker() const { return static_cast<unsigned char>(bytes[4]); }
  int code() const { return static_cast<unsigned char>(bytes[5]); }
  int pid() const { return static_cast<int32_t>(be32(bytes, 6)); }
  // CPU-time messages.
  int clientId() const { return static_cast<unsigned char>(bytes[5]); }
  int experiment() const { return static_cast<int16_t>(be16(bytes, 6)); }
  double seconds() const { return beDouble(bytes, 8); }
};

class ManagerClient {
 public:
  ManagerClient() : socket_(false) {}

  // Connects to the simulator's port on the loopback interface, retrying a
  // refused connection until the patience runs out.
  bool connect(int port) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (socket_.Connect("127.0.0.1", port)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool send(const std::string& bytes) {
    return socket_.Send(bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }
  void close() { socket_.Close(); }

  // Reads up to n bytes; fewer at end of stream or when the time runs out.
  size_t read(std::string* into, size_t n, int timeoutMs, bool* ended) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    char buf[65536];
    *ended = false;
    while (got < n) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0 || !socket_.Select(static_cast<int>(left))) break;
      size_t want = std::min(n - got, sizeof buf);
      int r = socket_.Recv(buf, static_cast<int>(want));
      if (r <= 0) {
        *ended = true;
        break;
      }
      into->append(buf, static_cast<size_t>(r));
      got += static_cast<size_t>(r);
    }
    return got;
  }

  // The next whole message. The first int32 tells the kind: 10 a status
  // message, 12 a CPU-time message (16 bytes), anything else the length of
  // an observation record.
  Message next(int timeoutMs = kPatienceMs) {
    Message m;
    bool ended = false;
    if (read(&m.bytes, 4, timeoutMs, &ended) < 4) {
      m.kind = ended && m.bytes.empty() ? Kind::End : Kind::Timeout;
      return m;
    }
    uint32_t length = be32(m.bytes, 0);
    size_t rest = length == 10 ? 6 : length == 12 ? 12 : length >= 9 ? length - 4 : 0;
    m.kind = length == 10 ? Kind::Status : length == 12 ? Kind::CpuTime : Kind::Record;
    if (rest == 0 || read(&m.bytes, rest, timeoutMs, &ended) < rest) m.kind = Kind::Timeout;
    return m;
  }

  // Messages up to and including the first status message (or the end).
  std::vector<Message> untilStatus(int timeoutMs = kPatienceMs) {
    std::vector<Message> seen;
    for (;;) {
      seen.push_back(next(timeoutMs));
      Kind k = seen.back().kind;
      if (k == Kind::Status || k == Kind::End || k == Kind::Timeout) return seen;
    }
  }

 private:
  TarvexSocket socket_;
};

// Ports P and P + 1 held by this object, with P chosen at random in the high
// range and P + 2 free when it was chosen; port() is -1 if none was found.
class HeldPorts {
 public:
  HeldPorts() {
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> pick(20000, 60000);
    for (int attempt = 0; attempt < 200 && port_ < 0; attempt++) {
      int p = pick(rng);
      auto a = std::make_unique<TarvexSocket>(true);
      auto b = std::make_unique<TarvexSocket>(true);
      TarvexSocket probe(true);
      if (!a->Bind(p) || !b->Bind(p + 1) || !probe.Bind(p + 2)) continue;
      first_ = std::move(a);
      second_ = std::move(b);
      port_ = p;
    }
  }
  int port() const { return port_; }

 private:
  std::unique_ptr<TarvexSocket> first_;
  std::unique_ptr<TarvexSocket> second_;
  int port_ = -1;
};

}  // namespace mgrtest

#endif
