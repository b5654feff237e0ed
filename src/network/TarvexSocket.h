// A blocking IPv4 TCP stream socket: the simulator's only door to the
// network, used for the simulation manager's connection and its listener.
//
// Every operating-system socket call of the project lives in this class.
// Failures never throw and never end the process: an operation that fails
// returns false (or a count of 0 or less), prints its fixed message on
// standard error where it has one, and records a constant error text that
// GetErrorString() returns from then on. Callers take a non-null error text
// to mean that the socket has failed. The text is never cleared, except that
// a successful Accept hands the target a fresh connection with no error.
//
// One socket is used by one thread at a time; the class takes no locks.
#ifndef TARVEX_NETWORK_TARVEXSOCKET_H
#define TARVEX_NETWORK_TARVEXSOCKET_H

class TarvexSocket {
 public:
  // With create true a TCP socket is opened at once ("error in socket
  // creation" on failure); with create false the object holds no descriptor
  // and serves as the target of Accept (or of Connect, which opens one).
  explicit TarvexSocket(bool create);
  // Shuts down and closes the descriptor, if any (see Close).
  ~TarvexSocket();

  TarvexSocket(const TarvexSocket&) = delete;
  TarvexSocket& operator=(const TarvexSocket&) = delete;

  // One-time, process-wide set-up of the socket layer. POSIX sockets need
  // none, so this only records that it ran and always succeeds. Sends never
  // raise SIGPIPE (see Send), so no signal disposition is changed either.
  static bool InitializeSocketLibrary();

  // Binds to the port on every local IPv4 address. A port that another
  // socket holds (listening, merely bound, or in TIME_WAIT) makes it return
  // false silently, so that a caller can search for a free port by trying
  // successive ones; other failures print "error in bind.  errno=...".
  // Port 0 lets the system choose a free port; GetPort() tells which.
  bool Bind(int port);
  // The same on one local IPv4 address given in dotted form ("127.0.0.1"
  // listens on the loopback interface only); null means every address. An
  // address that is not one of this machine's fails with EADDRNOTAVAIL
  // (see ErrorNumber).
  bool Bind(int port, const char* address);
  // True when the text is an IPv4 address in dotted decimal form.
  static bool IsIPv4Address(const char* text);
  bool Listen(int backlog);
  // Takes one pending connection and hands it to `connection` (whose own
  // descriptor, if any, is closed first). Blocks while none is pending, so
  // callers normally wait with Select first.
  bool Accept(TarvexSocket& connection);
  // Client side: resolves host (a name or dotted address; null means the
  // loopback interface) and connects to the port, opening a descriptor if
  // the object has none. On failure the descriptor is closed, so the call
  // may simply be repeated later.
  bool Connect(const char* host, int port);
  // The same; with reportFailure false a failure records its error text but
  // prints nothing, for callers that expect to retry (a server that has
  // announced its port may not be listening yet).
  bool Connect(const char* host, int port, bool reportFailure);

  // Waits until the socket is readable: data or end of stream on a
  // connection, a pending connection on a listener. Returns false when the
  // time runs out. 0 polls without waiting; a negative timeout waits without
  // limit. An interrupted wait resumes for the time that is left.
  bool Select(int timeoutMs);

  // Waits until at least one of n sockets is readable, in the sense of
  // Select. Null entries and sockets without a descriptor are skipped (their
  // readable flag is false). readable[i] tells about sockets[i]. Returns the
  // number of readable sockets; 0 when the time ran out or a signal
  // interrupted the wait (callers then look at what the signal changed);
  // -1 on failure. A negative timeout waits without limit; 0 polls.
  static int SelectMany(TarvexSocket* const* sockets, int n, int timeoutMs, bool* readable);

  // One read of at most n bytes: the count, 0 at end of stream (not an
  // error), negative on failure.
  int Recv(char* buf, int n);
  // Reads until n bytes have arrived; stops early at end of stream or on
  // failure. Returns the number of bytes read.
  int RecvBlock(char* buf, int n);
  // Reads a text that ends with `end`, at most n bytes; buf must hold n + 1
  // bytes and is NUL-terminated after every read. Bytes after the end marker
  // stay unread for later calls, except a NUL that directly follows the
  // marker and has already arrived: a sender that transmits its C string
  // with its terminator has that NUL taken as part of the text. Stops early
  // at end of stream or on failure. Returns the number of bytes read.
  int RecvBlock(char* buf, int n, const char* end);
  // Sends the whole buffer, however many system calls that takes. Returns n
  // on success and -1 on failure (0 when n is 0); callers take 0 or less as
  // failure. A peer that has gone away makes it fail instead of raising
  // SIGPIPE.
  int Send(const char* buf, int n);

  // Bounded forms of the above, for peers that may stall. RecvBlockWithin
  // reads like RecvBlock (with or without an end marker) but gives up when
  // timeoutMs have passed since the call; it returns the bytes read so far.
  // SendWithin sends like Send but fails when the peer takes no byte for
  // stallMs in a row (a peer that reads, however slowly, keeps it going).
  // A time that runs out records an error, and TimedOut() is then true. A
  // negative time means no limit (the unbounded operations).
  int RecvBlockWithin(char* buf, int n, int timeoutMs);
  int RecvBlockWithin(char* buf, int n, const char* end, int timeoutMs);
  int SendWithin(const char* buf, int n, int stallMs);

  // The last error text, or null while no operation has failed.
  const char* GetErrorString() const;
  // The C library's error number of the last failure (0 when there was
  // none, or the failure had no number, as a peer's end of stream).
  int ErrorNumber() const;
  // True when the last failure was a bounded operation's time running out.
  bool TimedOut() const;
  // Shuts the connection down in both directions and closes the descriptor,
  // which becomes invalid either way. A connection the peer already tore
  // down is not worth a message; any other shutdown failure prints
  // "error in shutdown.  errno=...". Does nothing without a descriptor.
  void Close();

  // The local port the socket is bound to (0 before binding), -1 without a
  // descriptor.
  int GetPort() const;
  // True while the object holds a descriptor.
  bool IsValid() const;

 private:
  void SetError(const char* text, int number = 0);
  // Waits until the descriptor is ready for `events` or the deadline (a
  // steady-clock time in milliseconds; negative: none) has passed. 1 ready,
  // 0 timed out, -1 failed (the error recorded).
  int WaitUntil(short events, long long deadlineMs);

  int Descriptor;
  const char* ErrorString;
  int ErrorNo;
};

#endif
