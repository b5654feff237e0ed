#include "network/TarvexSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Error texts recorded by the failing operation; GetErrorString returns them.
const char* const kSocketCreationError = "error in socket creation";
const char* const kBindError = "error in bind";
const char* const kListenError = "error in listen";
const char* const kAcceptError = "error in accept";
const char* const kConnectError = "error in connect";
const char* const kSelectError = "error in select";
const char* const kRecvError = "error in recv";
const char* const kSendError = "error in send";
const char* const kShutdownError = "error in shutdown";
const char* const kTimeoutError = "timed out";

std::atomic<bool> LibraryInitialised{false};

// A new IPv4 stream descriptor that child processes do not inherit.
int OpenStream() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

// One recv, repeated while a signal interrupts it.
ssize_t ReceiveOnce(int fd, char* buf, size_t n, int flags) {
  ssize_t r;
  do {
    r = ::recv(fd, buf, n, flags);
  } while (r < 0 && errno == EINTR);
  return r;
}

// Connects fd to the address; returns 0 or the error number. A connect that a
// signal interrupts goes on in the background, so its outcome is awaited
// rather than the call repeated.
int ConnectDescriptor(int fd, const sockaddr* address, socklen_t length) {
  if (::connect(fd, address, length) == 0) return 0;
  if (errno != EINTR) return errno;
  pollfd p{fd, POLLOUT, 0};
  int r;
  do {
    r = ::poll(&p, 1, -1);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return errno;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Milliseconds on the steady clock, for deadlines.
long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The deadline timeoutMs from now; negative (none) for a negative timeout.
long long DeadlineAfter(int timeoutMs) { return timeoutMs < 0 ? -1 : NowMs() + timeoutMs; }

// True when the first `length` bytes of buf end with the marker.
bool EndsWith(const char* buf, int length, const char* marker, int markerLength) {
  return length >= markerLength &&
         std::memcmp(buf + length - markerLength, marker, static_cast<size_t>(markerLength)) == 0;
}

}  // namespace

TarvexSocket::TarvexSocket(bool create) : Descriptor(-1), ErrorString(nullptr), ErrorNo(0) {
  InitializeSocketLibrary();
  if (!create) return;
  Descriptor = OpenStream();
  if (Descriptor < 0) {
    SetError(kSocketCreationError, errno);
    std::fprintf(stderr, "error in socket creation\n");
    std::fflush(stderr);
  }
}

TarvexSocket::~TarvexSocket() { Close(); }

bool TarvexSocket::InitializeSocketLibrary() {
  // POSIX sockets are ready without any start-up call and have no version to
  // negotiate, so the first call has nothing to do but note that it ran.
  LibraryInitialised.store(true);
  return true;
}

void TarvexSocket::SetError(const char* text, int number) {
  ErrorString = text;
  ErrorNo = number;
}

const char* TarvexSocket::GetErrorString() const { return ErrorString; }

int TarvexSocket::ErrorNumber() const { return ErrorNo; }

bool TarvexSocket::TimedOut() const { return ErrorString == kTimeoutError; }

bool TarvexSocket::IsValid() const { return Descriptor >= 0; }

bool TarvexSocket::Bind(int port) { return Bind(port, nullptr); }

bool TarvexSocket::IsIPv4Address(const char* text) {
  in_addr parsed;
  return text != nullptr && ::inet_pton(AF_INET, text, &parsed) == 1;
}

bool TarvexSocket::Bind(int port, const char* host) {
  // No SO_REUSEADDR: with it, Linux lets two sockets that are bound but not
  // yet listening share a port, and two simulators started together could
  // then both "find" the same free port. Without it, a port still in
  // TIME_WAIT is skipped, which the port search handles anyway.
  int err = EINVAL;
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool known = host == nullptr || ::inet_pton(AF_INET, host, &address.sin_addr) == 1;
  if (known && port >= 0 && port <= 65535) {
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(Descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return true;
    err = errno;
  }
  SetError(kBindError, err);
  if (err == EADDRINUSE) return false;
  std::fprintf(stderr, "error in bind.  errno=%d (Port=%d)\n", err, port);
  std::fflush(stderr);
  return false;
}

bool TarvexSocket::Listen(int backlog) {
  if (::listen(Descriptor, backlog) == 0) return true;
  const int err = errno;
  SetError(kListenError, err);
  std::fprintf(stderr, "error in listen%d\n", err);
  std::fflush(stderr);
  return false;
}

bool TarvexSocket::Accept(TarvexSocket& connection) {
  int fd;
  do {
    fd = ::accept4(Descriptor, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetError(kAcceptError, errno);
    std::fprintf(stderr, "error in accept: \n");
    std::fflush(stderr);
    return false;
  }
  connection.Close();
  connection.Descriptor = fd;
  connection.ErrorString = nullptr;
  connection.ErrorNo = 0;
  return true;
}

bool TarvexSocket::Connect(const char* host, int port) { return Connect(host, port, true); }

bool TarvexSocket::Connect(const char* host, int port, bool reportFailure) {
  int err = EINVAL;
  if (port >= 0 && port <= 65535) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    addrinfo* candidates = nullptr;
    const int rc = ::getaddrinfo(host, service, &hints, &candidates);
    if (rc != 0) {
      // Resolver failures have no errno of their own; an unknown host is
      // reported as unreachable.
      err = (rc == EAI_SYSTEM && errno != 0) ? errno : EHOSTUNREACH;
    } else {
      err = EHOSTUNREACH;
      for (addrinfo* a = candidates; a != nullptr; a = a->ai_next) {
        if (Descriptor < 0) {
          Descriptor = OpenStream();
          if (Descriptor < 0) {
            err = errno;
            break;
          }
        }
        err = ConnectDescriptor(Descriptor, a->ai_addr, a->ai_addrlen);
        if (err == 0) break;
        // A socket whose connect failed cannot be connected again.
        ::close(Descriptor);
        Descriptor = -1;
      }
      ::freeaddrinfo(candidates);
    }
  }
  if (err == 0) return true;
  SetError(kConnectError, err);
  if (!reportFailure) return false;
  std::fprintf(stderr, "error in connect: errno=%d\n", err);
  std::fflush(stderr);
  return false;
}

bool TarvexSocket::Select(int timeoutMs) {
  // A whole-millisecond timeout is what the seconds (timeoutMs / 1000) and
  // microseconds ((timeoutMs % 1000) * 1000) of a select timeout add up to;
  // poll takes it directly and has no limit on descriptor numbers.
  int err = EBADF;
  if (Descriptor >= 0) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int wait = timeoutMs < 0 ? -1 : timeoutMs;
    for (;;) {
      pollfd p{Descriptor, POLLIN, 0};
      const int r = ::poll(&p, 1, wait);
      if (r == 0) return false;
      if (r > 0) {
        // End of stream, a reset or a pending error also count as readable:
        // the next read reports them.
        if ((p.revents & POLLNVAL) == 0) return true;
        err = EBADF;
        break;
      }
      if (errno != EINTR) {
        err = errno;
        break;
      }
      if (timeoutMs > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        wait = static_cast<int>(left);
      }
    }
  }
  SetError(kSelectError, err);
  std::fprintf(stderr, "error in select%d\n", err);
  std::fflush(stderr);
  return false;
}

int TarvexSocket::WaitUntil(short events, long long deadlineMs) {
  for (;;) {
    int wait = -1;
    if (deadlineMs >= 0) {
      const long long left = deadlineMs - NowMs();
      if (left <= 0) {
        SetError(kTimeoutError);
        return 0;
      }
      wait = static_cast<int>(left < 0x7fffffff ? left : 0x7fffffff);
    }
    pollfd p{Descriptor, events, 0};
    const int r = ::poll(&p, 1, wait);
    if (r > 0) {
      // End of stream, a reset or a pending error also count as ready: the
      // next read or send reports them.
      if ((p.revents & POLLNVAL) == 0) return 1;
      SetError(events == POLLIN ? kRecvError : kSendError, EBADF);
      return -1;
    }
    if (r < 0 && errno != EINTR) {
      SetError(events == POLLIN ? kRecvError : kSendError, errno);
      return -1;
    }
  }
}

int TarvexSocket::SelectMany(TarvexSocket* const* sockets, int n, int timeoutMs, bool* readable) {
  if (n < 0 || (n > 0 && (sockets == nullptr || readable == nullptr))) return -1;
  std::vector<pollfd> watched;
  std::vector<int> owner;
  watched.reserve(static_cast<size_t>(n));
  owner.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    readable[i] = false;
    if (sockets[i] == nullptr || sockets[i]->Descriptor < 0) continue;
    watched.push_back(pollfd{sockets[i]->Descriptor, POLLIN, 0});
    owner.push_back(i);
  }
  const int r = ::poll(watched.empty() ? nullptr : watched.data(), watched.size(),
                       timeoutMs < 0 ? -1 : timeoutMs);
  if (r < 0) {
    if (errno == EINTR) return 0;
    const int err = errno;
    std::fprintf(stderr, "error in select%d\n", err);
    std::fflush(stderr);
    return -1;
  }
  int ready = 0;
  for (size_t k = 0; k < watched.size(); k++) {
    // As in Select: end of stream, a reset or a pending error count as
    // readable, and the next read reports them.
    if (watched[k].revents != 0 && (watched[k].revents & POLLNVAL) == 0) {
      readable[owner[k]] = true;
      ready++;
    }
  }
  return ready;
}

int TarvexSocket::Recv(char* buf, int n) {
  if (n <= 0 || buf == nullptr) {
    if (n == 0) return 0;
    SetError(kRecvError);
    return -1;
  }
  const ssize_t r = ReceiveOnce(Descriptor, buf, static_cast<size_t>(n), 0);
  if (r < 0) {
    SetError(kRecvError, errno);
    return -1;
  }
  return static_cast<int>(r);
}

int TarvexSocket::RecvBlock(char* buf, int n) { return RecvBlockWithin(buf, n, -1); }

int TarvexSocket::RecvBlock(char* buf, int n, const char* end) { return RecvBlockWithin(buf, n, end, -1); }

int TarvexSocket::RecvBlockWithin(char* buf, int n, int timeoutMs) {
  const long long deadline = DeadlineAfter(timeoutMs);
  int total = 0;
  while (total < n) {
    if (deadline >= 0 && WaitUntil(POLLIN, deadline) <= 0) break;
    const int r = Recv(buf + total, n - total);
    if (r <= 0) break;
    total += r;
  }
  return total;
}

int TarvexSocket::RecvBlockWithin(char* buf, int n, const char* end, int timeoutMs) {
  if (buf == nullptr) {
    SetError(kRecvError);
    return 0;
  }
  buf[0] = '\0';
  const long long deadline = DeadlineAfter(timeoutMs);
  const int markerLength = end != nullptr ? static_cast<int>(std::strlen(end)) : 0;
  int total = 0;
  while (total < n) {
    if (deadline >= 0 && WaitUntil(POLLIN, deadline) <= 0) break;
    // Look at what has arrived without taking it, so that nothing past the
    // end marker is consumed: it belongs to whatever the peer sends next.
    const ssize_t peeked = ReceiveOnce(Descriptor, buf + total, static_cast<size_t>(n - total), MSG_PEEK);
    if (peeked <= 0) {
      if (peeked < 0) SetError(kRecvError, errno);
      break;
    }
    int take = static_cast<int>(peeked);
    bool complete = false;
    if (markerLength > 0) {
      for (int i = 1; i <= take; ++i) {
        if (EndsWith(buf, total + i, end, markerLength)) {
          complete = true;
          // The string terminator of a sender that transmits its C string
          // whole is part of the text.
          if (i < take && buf[total + i] == '\0') ++i;
          take = i;
          break;
        }
      }
    }
    const ssize_t got = ReceiveOnce(Descriptor, buf + total, static_cast<size_t>(take), 0);
    if (got <= 0) {
      buf[total] = '\0';
      if (got < 0) SetError(kRecvError, errno);
      break;
    }
    total += static_cast<int>(got);
    buf[total] = '\0';
    if (complete && got == take) break;
    if (markerLength > 0 && EndsWith(buf, total, end, markerLength)) break;
  }
  return total;
}

int TarvexSocket::Send(const char* buf, int n) {
  if (n < 0 || (buf == nullptr && n > 0)) {
    SetError(kSendError);
    return -1;
  }
  int sent = 0;
  while (sent < n) {
    // MSG_NOSIGNAL: a peer that has gone away yields EPIPE here instead of a
    // SIGPIPE that would end the process.
    const ssize_t r = ::send(Descriptor, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      SetError(kSendError, r < 0 ? errno : 0);
      return -1;
    }
    sent += static_cast<int>(r);
  }
  return sent;
}

int TarvexSocket::SendWithin(const char* buf, int n, int stallMs) {
  if (stallMs < 0) return Send(buf, n);
  if (n < 0 || (buf == nullptr && n > 0)) {
    SetError(kSendError);
    return -1;
  }
  int sent = 0;
  long long deadline = DeadlineAfter(stallMs);
  while (sent < n) {
    // Without waiting: a full send buffer is waited on below, for as long as
    // the peer keeps taking nothing.
    const ssize_t r =
        ::send(Descriptor, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) {
      sent += static_cast<int>(r);
      deadline = DeadlineAfter(stallMs);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitUntil(POLLOUT, deadline) <= 0) return -1;
      continue;
    }
    SetError(kSendError, r < 0 ? errno : 0);
    return -1;
  }
  return sent;
}

void TarvexSocket::Close() {
  if (Descriptor < 0) return;
  // ENOTCONN: never connected, or already torn down by the peer; there is
  // nothing left to shut down, and the close below is all that is needed.
  if (::shutdown(Descriptor, SHUT_RDWR) != 0 && errno != ENOTCONN) {
    const int err = errno;
    SetError(kShutdownError, err);
    std::fprintf(stderr, "error in shutdown.  errno=%d\n", err);
    std::fflush(stderr);
  }
  ::close(Descriptor);
  Descriptor = -1;
}

int TarvexSocket::GetPort() const {
  if (Descriptor < 0) return -1;
  sockaddr_in address;
  socklen_t length = sizeof address;
  std::memset(&address, 0, sizeof address);
  if (::getsockname(Descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}
