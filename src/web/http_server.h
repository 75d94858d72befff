// The web console's HTTP layer, on GNU libmicrohttpd: one event loop (epoll)
// on a few threads, so a connection that sends nothing costs a socket and no
// thread, and bounds on everything a client can make the server hold before
// any password is checked:
//   - the request head: at most MaxHeadBytes of memory per connection (a
//     longer head, or too many header lines, is answered 431 by the library),
//     and at most HeadSeconds from the connection's first byte, or from the
//     end of its previous request, to the end of the head (a slow sender of
//     header lines is cut off);
//   - the body: at most MaxBodyBytes whatever the transfer encoding (a
//     declared longer one is answered 413 before a byte of it is read; a
//     chunked one is counted as it arrives and its connection closed once it
//     passes the bound);
//   - connections: at most MaxConnections in all and MaxPerAddress from one
//     address (more are closed at once), and IdleSeconds without a byte.
// The handler runs on the library's threads and must not block for long.
//
// With a certificate and its key it speaks HTTPS only (the library's TLS, on
// GnuTLS): the head's time bound then counts from the connection's first
// byte, so a slow handshake is cut off the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct THttpRequest {
  std::string Method;  // "GET", "POST", ...
  std::string Path;    // without the query
  std::string PeerAddress;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::vector<std::pair<std::string, std::string>> Params;  // the query's and a form body's, decoded
  std::string Body;

  // The first header of that name (any letter case); empty when absent.
  std::string Header(const std::string& name) const;
  // The first parameter of that name; empty when absent.
  std::string Param(const std::string& name) const;
};

struct THttpResponse {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;

  void Set(int status, std::string body, std::string contentType) {
    Status = status;
    Body = std::move(body);
    ContentType = std::move(contentType);
  }
};

struct THttpLimits {
  size_t MaxHeadBytes = 16 * 1024;
  size_t MaxBodyBytes = 4096;
  unsigned MaxConnections = 1024;
  unsigned MaxPerAddress = 32;
  unsigned HeadSeconds = 10;
  unsigned IdleSeconds = 15;
  unsigned Threads = 2;
};

using THttpHandler = std::function<void(const THttpRequest&, THttpResponse&)>;

// A certificate (with its chain) and its private key, both PEM.
struct THttpTls {
  std::string CertificatePem;
  std::string KeyPem;
};

// Owns the library's daemon (its listening socket, connections and threads)
// and the thread that cuts off late heads; Stop, or the destructor, ends the
// daemon first and then that thread.
class THttpServer {
 public:
  // Listens on address:port (IPv4, host order; port 0: the system picks) and
  // serves every request with handler. Null, with the reason in error, when
  // it cannot listen.
  // With tls, only HTTPS; a certificate or key the library refuses gives
  // null too, with the library's own words in error.
  static std::unique_ptr<THttpServer> Start(uint32_t address, uint16_t port, const THttpLimits& limits,
                                            THttpHandler handler, std::string* error,
                                            const THttpTls* tls = nullptr);
  // Whether the library was built with TLS (it needs GnuTLS).
  static bool TlsSupported();
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  uint16_t Port() const;
  // Closes the listening socket and every connection, and joins the threads.
  // Idempotent; safe at any moment after Start returned.
  void Stop();

  struct TState;

 private:
  explicit THttpServer(std::unique_ptr<TState> state);
  std::unique_ptr<TState> state_;
};
