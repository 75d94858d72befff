// Move-only socket types: the only owners of socket descriptors in the program.
// Every raw socket call lives in platform/ (socket.cpp beside posix/socket.cpp
// or windows/socket.cpp); the rest of the program sees endpoints as dotted
// IPv4 text and port numbers, and failures as error texts that name the
// failing call ("bind 0.0.0.0:28015: Address already in use").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The system's handle of a socket: a descriptor on POSIX, a SOCKET on Windows,
// held signed there so that no socket is -1 on both.
#ifdef _WIN32
using SocketHandle = std::intptr_t;
#else
using SocketHandle = int;
#endif

// An IPv4 address and port. Address is in host byte order.
struct Endpoint {
  uint32_t Address = 0;
  uint16_t Port = 0;
};

std::string DottedAddress(uint32_t address);
std::string EndpointText(const Endpoint& endpoint);
// Parses dotted decimal IPv4 text; nullopt when it is not one.
std::optional<uint32_t> ParseDottedAddress(const std::string& text);
// Ends both directions of a connected socket that another part owns, without
// closing it: its owner sees the end and closes it. Harmless on a socket that
// is already shut down. (Windows only sends the end to the peer: a wait of the
// owner in select or poll ends when the peer closes, or at the owner's own
// time-out.)
void ShutdownSocket(SocketHandle socket);

// An IPv4 endpoint in the system's own socket address form (a sockaddr_in),
// for a library that takes one (the web console's listening address).
struct TSystemAddress {
  alignas(8) unsigned char Bytes[16] = {};
  const void* Data() const { return Bytes; }
  std::size_t Size() const { return sizeof Bytes; }
};
TSystemAddress SystemAddressOf(const Endpoint& endpoint);
// The IPv4 address (host byte order) of a socket address a library reports
// (a struct sockaddr); nullopt when it is not IPv4.
std::optional<uint32_t> Ipv4AddressOf(const void* systemAddress);

// Name lookup of an IPv4 host (name or dotted address). Tests replace it with
// SetResolverForTesting so that no DNS query leaves the host; nullptr restores it.
using ResolverFn = std::optional<uint32_t> (*)(const std::string& host, std::string* error);
std::optional<uint32_t> ResolveIpv4(const std::string& host, std::string* error);
void SetResolverForTesting(ResolverFn resolver);

// Owns one descriptor; closes it when destroyed.
class TSocket {
 public:
  TSocket() = default;
  explicit TSocket(SocketHandle fd) : fd_(fd) {}
  ~TSocket();
  TSocket(TSocket&& other) noexcept;
  TSocket& operator=(TSocket&& other) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  bool Valid() const { return fd_ >= 0; }
  SocketHandle Fd() const { return fd_; }
  void Close();
  // Shuts both directions down without closing: wakes a thread blocked in
  // accept or recv on this descriptor, and every later one returns at once
  // (as at the end of the input). Thread safe. (Windows wakes no blocked call
  // that way: there every wait of these types is a WSAPoll beside a wake of
  // the waiting thread, which Shutdown signals.)
  void Shutdown();

 private:
  SocketHandle fd_ = -1;
};

enum class ReceiveStatus { Datagram, Timeout, TooLong, Error };

// A UDP socket. Unbound until Bind; the system picks the local port at the
// first send otherwise.
class TUdpSocket {
 public:
  TUdpSocket() = default;  // no socket until assigned from Open
  static std::optional<TUdpSocket> Open(std::string* error);

  bool Valid() const { return socket_.Valid(); }
  // Binds to all local IPv4 addresses (or loopback only) on the port; 0 picks one.
  bool Bind(uint16_t port, std::string* error, bool loopbackOnly = false);
  // Binds to one local address and port (a client that must send from a chosen
  // loopback address, such as 127.0.0.2).
  bool BindTo(const Endpoint& local, std::string* error);
  uint16_t LocalPort() const;
  bool SendTo(const std::string& data, const Endpoint& to, std::string* error);
  // Waits at most timeoutMs for one datagram and reads it whole. A datagram
  // longer than maxBytes is consumed and reported as TooLong with its real size
  // in data.size() left empty. Timeout leaves data empty.
  ReceiveStatus ReceiveFrom(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes,
                            std::string* error);
  // The same, but the wait also ends, as a time-out, once a stop is asked for
  // (stop_signal.h), so that an orderly stop is not held up by it.
  ReceiveStatus ReceiveFromUnlessStopped(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes,
                                         std::string* error);
  void Close() { socket_.Close(); }
  void Shutdown() { socket_.Shutdown(); }

 private:
  explicit TUdpSocket(TSocket socket) : socket_(std::move(socket)) {}
  ReceiveStatus Receive(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes, std::string* error,
                        SocketHandle wakeFd);
  TSocket socket_;
};

// A connected TCP stream (an accepted connection or a client's connection).
class TTcpStream {
 public:
  TTcpStream() = default;
  explicit TTcpStream(TSocket socket, Endpoint peer) : socket_(std::move(socket)), peer_(peer) {}
  // Connects to address:port (blocking). For clients and tests.
  static std::optional<TTcpStream> Connect(const Endpoint& to, std::string* error);

  bool Valid() const { return socket_.Valid(); }
  const Endpoint& Peer() const { return peer_; }
  // Reads what is available (blocking until at least one byte): the count, 0 at
  // an orderly close, -1 on an error.
  long Read(char* buffer, size_t size);
  // Waits at most timeoutMs for data, then reads; -2 on time-out.
  long ReadWithin(char* buffer, size_t size, int timeoutMs);
  // Reads as ReadWithin does, but waits in the read itself, bounded by the
  // socket's receive time-out (SO_RCVTIMEO), instead of polling first: one
  // system call per read rather than two, for a stream served read after
  // read. The time-out is set again only when the one in force would end the
  // wait more than kReceiveTimeoutSlackMs after timeoutMs, or more than an
  // eighth of timeoutMs before it: a caller passing the time left to a
  // deadline that each line renews sets it about twice per connection, also
  // when its thread is sometimes held up between a line and the next read.
  // -2 when the wait ended without data: at the time-out (never later than
  // the slack plus one kernel tick after timeoutMs), or earlier when the one
  // in force was shorter or a signal interrupted it; the caller then looks at
  // its deadline again. Use it instead of Read on the stream, not beside it:
  // a Read would end at the time-out left in force. (Windows waits in a
  // WSAPoll, as ReadWithin does, so that Shutdown can wake the wait; the
  // socket's receive time-out is left alone there.)
  long ReadTimed(char* buffer, size_t size, int timeoutMs);
  static constexpr int kReceiveTimeoutSlackMs = 1;
  // Writes all bytes; false on an error (the peer went away), or when a send
  // bound set on the socket (SetSendTimeout) passed without progress.
  bool WriteAll(const std::string& data);
  void Shutdown() { socket_.Shutdown(); }
  void Close() { socket_.Close(); }
  SocketHandle Fd() const { return socket_.Fd(); }

 private:
  TSocket socket_;
  Endpoint peer_;
  int receiveTimeoutMs_ = 0;  // the receive time-out set by ReadTimed; 0: none
};

// A listening TCP socket on all local IPv4 addresses, with SO_REUSEADDR so that a
// restart is not refused by connections in TIME_WAIT.
class TTcpListener {
 public:
  static std::optional<TTcpListener> Open(uint16_t port, int backlog, std::string* error,
                                          bool loopbackOnly = false);
  // Blocks until a connection arrives; nullopt once Shutdown was called or on error.
  std::optional<TTcpStream> Accept();
  uint16_t LocalPort() const;
  SocketHandle Fd() const { return socket_.Fd(); }
  // Wakes a blocked Accept for good. Thread safe.
  void Shutdown() { socket_.Shutdown(); }
  void Close() { socket_.Close(); }

 private:
  explicit TTcpListener(TSocket socket) : socket_(std::move(socket)) {}
  TSocket socket_;
};

}  // namespace platform
