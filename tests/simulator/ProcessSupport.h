// Support for tests that run the simulator as a program: run it with
// arguments capturing standard output, standard error and the exit status;
// private temporary directories; SHA-256 of files; and an independent reader
// of the binary and ASCII result files.
#ifndef TARVEX_TESTS_SIMULATOR_PROCESSSUPPORT_H
#define TARVEX_TESTS_SIMULATOR_PROCESSSUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace proc {

inline std::string simulatorPath() { return TARVEX_BINARY_DIR "/attack_flow_sim"; }

struct Result {
  int exitCode = -1;  // exit status, or -1 when the program was killed
  int signal = 0;     // the signal that ended it, if any
  std::string out;
  std::string err;
};

// The child's environment: ours without SIMTEST (the connectivity switch must
// be chosen by the test), plus the given NAME=value entries.
inline std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; e++)
    if (std::strncmp(*e, "SIMTEST=", 8) != 0) env.push_back(*e);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(&s[0]);
  p.push_back(nullptr);
  return p;
}

// Starts the simulator; its standard output and error go to the given
// descriptors (-1: /dev/null). Returns the process id, or -1.
inline pid_t spawnSimulator(std::vector<std::string> args, const std::vector<std::string>& extraEnv,
                            int outFd, int errFd) {
  args.insert(args.begin(), simulatorPath());
  std::vector<std::string> env = childEnvironment(extraEnv);
  std::vector<char*> argv = pointers(args), envp = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (errFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

inline void waitForExit(pid_t pid, Result& result) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

// Runs the simulator to its end and captures both output streams.
inline Result runSimulator(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv = {}) {
  Result result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  pid_t pid = spawnSimulator(args, extraEnv, outPipe[1], errPipe[1]);
  close(outPipe[1]);
  close(errPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (pid > 0 && open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        open--;
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  if (pid > 0) waitForExit(pid, result);
  return result;
}

// A private directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvex_sim_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path_ = buffer.data();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// ---- SHA-256 ----------------------------------------------------------------

inline std::string sha256(const std::string& data) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  std::string m = data;
  uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  m.push_back(static_cast<char>(0x80));
  while (m.size() % 64 != 56) m.push_back('\0');
  for (int i = 7; i >= 0; i--) m.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
  for (size_t chunk = 0; chunk < m.size(); chunk += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; i++) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(m.data() + chunk + 4 * i);
      w[i] = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
    for (int i = 16; i < 64; i++) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; i++) {
      uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    uint32_t add[8] = {a, b, c, d, e, f, g, hh};
    for (int i = 0; i < 8; i++) h[i] += add[i];
  }
  char hex[65];
  for (int i = 0; i < 8; i++) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
  return std::string(hex, 64);
}

// ---- result files, decoded independently of the simulator -------------------

// The binary file: 256 bytes of header text, then observation records in
// network byte order.
struct Entry {
  int pv = 0;
  int kind = 0;
  std::vector<double> values;
};
struct Record {
  uint32_t length = 0;
  uint8_t client = 0;
  int16_t experiment = 0;
  std::vector<Entry> entries;
};

class BigEndianReader {
 public:
  BigEndianReader(const std::string& bytes, size_t position) : bytes_(bytes), pos_(position) {}
  bool has(size_t n) const { return pos_ + n <= bytes_.size(); }
  size_t position() const { return pos_; }
  uint64_t unsignedField(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v = (v << 8) | static_cast<unsigned char>(bytes_[pos_++]);
    return v;
  }
  double real() {
    uint64_t bits = unsignedField(8);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const std::string& bytes_;
  size_t pos_;
};

// Decodes the records that follow the header; a record cut short (or one
// whose length field disagrees with its contents) ends the decoding and
// leaves `whole` false.
inline std::vector<Record> decodeRecords(const std::string& file, bool* whole = nullptr) {
  std::vector<Record> records;
  if (whole) *whole = file.size() >= 256;
  BigEndianReader in(file, 256);
  while (file.size() >= 256 && in.position() < file.size()) {
    size_t start = in.position();
    bool ok = in.has(9);
    Record r;
    int count = 0;
    if (ok) {
      r.length = static_cast<uint32_t>(in.unsignedField(4));
      r.client = static_cast<uint8_t>(in.unsignedField(1));
      r.experiment = static_cast<int16_t>(in.unsignedField(2));
      count = static_cast<int>(in.unsignedField(2));
      ok = in.has(r.length - 9);
    }
    for (int e = 0; ok && e < count; e++) {
      Entry entry;
      if (!(ok = in.has(7))) break;
      entry.pv = static_cast<int16_t>(in.unsignedField(2));
      entry.kind = static_cast<int>(in.unsignedField(1));
      int32_t c = static_cast<int32_t>(in.unsignedField(4));
      ok = c >= 0 && in.has(8 * static_cast<size_t>(c));
      for (int32_t k = 0; ok && k < c; k++) entry.values.push_back(in.real());
      r.entries.push_back(std::move(entry));
    }
    if (!ok || in.position() - start != r.length) {
      if (whole) *whole = false;
      break;
    }
    records.push_back(std::move(r));
  }
  return records;
}

// The header text up to its padding.
inline std::string headerText(const std::string& file) {
  std::string header = file.substr(0, 256);
  return header.substr(0, header.find('\0'));
}

// The ASCII file's observation lines.
struct AsciiLine {
  int pv;
  std::string value;
};

// Splits a text into lines (without their line feeds); a missing final line
// feed shows as a last line that is not empty.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  lines.push_back(text.substr(start));
  return lines;
}

// The observation lines between the two header lines and the trailer.
inline std::vector<AsciiLine> asciiObservations(const std::vector<std::string>& lines) {
  std::vector<AsciiLine> result;
  for (size_t i = 2; i + 2 < lines.size(); i++) {
    size_t comma = lines[i].find(',');
    result.push_back({std::atoi(lines[i].substr(0, comma).c_str()),
                      comma == std::string::npos ? std::string("?") : lines[i].substr(comma + 1)});
  }
  return result;
}

// One row per replication: the observation of every PV, from the records of
// a binary file (values entries only).
inline std::vector<std::vector<double>> observationsByReplication(
    const std::vector<Record>& records, int numPVs) {
  std::vector<std::vector<double>> rows;
  for (const Record& r : records) {
    if (r.entries.empty()) continue;
    size_t first = rows.size();
    rows.resize(first + r.entries[0].values.size(), std::vector<double>(numPVs, -1.0));
    for (const Entry& e : r.entries)
      for (size_t k = 0; k < e.values.size() && first + k < rows.size(); k++)
        if (e.pv >= 0 && e.pv < numPVs) rows[first + k][e.pv] = e.values[k];
  }
  return rows;
}

}  // namespace proc

#endif
