#include "web/http_server.h"

#include <microhttpd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "base/numbers.h"
#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A connection's socket and, while a request head is awaited on it, the time
// by which the head must be whole.
struct TConnectionClock {
  platform::SocketHandle Socket = -1;
  std::optional<Clock::time_point> HeadDeadline;
};

MHD_Result CollectPair(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(key ? key : "",
                                                                                   value ? value : "");
  return MHD_YES;
}

// "a=1&b=x%20y" into pairs, decoded.
void ParseForm(const std::string& body, std::vector<std::pair<std::string, std::string>>& params) {
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(start, end - start);
    if (!pair.empty()) {
      for (char& c : pair) {
        if (c == '+') c = ' ';
      }
      const size_t equals = pair.find('=');
      std::string key = pair.substr(0, equals);
      std::string value = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
      key.resize(MHD_http_unescape(key.data()));
      value.resize(MHD_http_unescape(value.data()));
      params.emplace_back(std::move(key), std::move(value));
    }
    start = end + 1;
  }
}

MHD_Result Queue(MHD_Connection* connection, const THttpResponse& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(answer.Body.size(), const_cast<char*>(answer.Body.data()),
                                                            MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType.c_str());
  for (const auto& [name, value] : answer.Headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.Status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result QueueTooLarge(MHD_Connection* connection) {
  THttpResponse answer;
  answer.Set(413, "request body too large\n", "text/plain; charset=utf-8");
  answer.Headers.emplace_back("Connection", "close");
  return Queue(connection, answer);
}

std::string PeerOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  const std::optional<uint32_t> address = info == nullptr ? std::nullopt : platform::Ipv4AddressOf(info->client_addr);
  return address ? platform::DottedAddress(*address) : "";
}

}  // namespace

std::string THttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : Headers) {
    if (SameText(key, name)) return value;
  }
  return std::string();
}

std::string THttpRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : Params) {
    if (key == name) return value;
  }
  return std::string();
}

struct THttpServer::TState {
  THttpLimits Limits;
  THttpHandler Handler;
  MHD_Daemon* Daemon = nullptr;  // owned: stopped and freed by Stop
  THttpTls Tls;                  // the library reads it while it starts

  // Guards Starting and StartError: the library's first complaint while the
  // daemon starts (a certificate it refuses); later ones are not wanted.
  TMutex LogLock;
  bool Starting GUARDED_BY(LogLock) = true;
  std::string StartError GUARDED_BY(LogLock);

  // Guards Clocks and StopReaper; Changed wakes the reaper when a deadline
  // is set or the server stops.
  TMutex Lock;
  std::condition_variable Changed;
  std::map<MHD_Connection*, TConnectionClock> Clocks GUARDED_BY(Lock);
  bool StopReaper GUARDED_BY(Lock) = false;
  std::thread Reaper;

  void ArmHead(MHD_Connection* connection) {
    TMutexLock guard(Lock);
    auto it = Clocks.find(connection);
    if (it == Clocks.end()) return;
    it->second.HeadDeadline = Clock::now() + std::chrono::seconds(Limits.HeadSeconds);
    Changed.notify_one();
  }
  void DisarmHead(MHD_Connection* connection) {
    TMutexLock guard(Lock);
    auto it = Clocks.find(connection);
    if (it != Clocks.end()) it->second.HeadDeadline.reset();
  }

  // Cuts off every connection whose head is late. The socket is only shut
  // down, never closed, so it cannot be another connection's by then: the
  // library reports the close (and forgets the clock, under Lock) before it
  // closes the socket.
  void Reap() {
    TMutexLock guard(Lock);
    while (!StopReaper) {
      std::optional<Clock::time_point> next;
      const Clock::time_point now = Clock::now();
      for (auto& [connection, clock] : Clocks) {
        if (!clock.HeadDeadline) continue;
        if (*clock.HeadDeadline <= now) {
          platform::ShutdownSocket(clock.Socket);
          clock.HeadDeadline.reset();
        } else if (!next || *clock.HeadDeadline < *next) {
          next = clock.HeadDeadline;
        }
      }
      if (next) {
        Changed.wait_until(guard.Native(), *next);
      } else {
        Changed.wait(guard.Native());
      }
    }
  }

  static void OnLibraryLog(void* cls, const char* format, va_list arguments) {
    auto* state = static_cast<TState*>(cls);
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    TMutexLock guard(state->LogLock);
    if (!state->Starting || !state->StartError.empty()) return;
    state->StartError = text;
    while (!state->StartError.empty() && std::isspace(static_cast<unsigned char>(state->StartError.back()))) {
      state->StartError.pop_back();
    }
  }

  static void OnConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    auto* state = static_cast<TState*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
      TMutexLock guard(state->Lock);
      state->Clocks.erase(connection);
      return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    {
      TMutexLock guard(state->Lock);
      state->Clocks[connection].Socket = info->connect_fd;
    }
    state->ArmHead(connection);
  }

  // A request ended: its context goes, and the connection's next head (on a
  // kept-alive connection) must come within the bound again.
  static void OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
    std::unique_ptr<THttpRequest> owned(static_cast<THttpRequest*>(*context));
    *context = nullptr;
    static_cast<TState*>(cls)->ArmHead(connection);
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char* upload, size_t* uploadBytes, void** context) {
    auto* state = static_cast<TState*>(cls);
    if (*context == nullptr) {
      // The head is whole: the first call, before any of the body.
      state->DisarmHead(connection);
      // The request while it is read: its head now, its body as it arrives.
      auto fresh = std::make_unique<THttpRequest>();
      THttpRequest& request = *fresh;
      request.Method = method;
      request.Path = url;
      request.PeerAddress = PeerOf(connection);
      MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectPair, &request.Headers);
      MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectPair, &request.Params);
      *context = fresh.release();
      const std::string length = request.Header("Content-Length");
      const std::optional<int64_t> declared = length.empty() ? std::nullopt : ParseInteger64(length);
      if (declared && *declared > static_cast<int64_t>(state->Limits.MaxBodyBytes)) return QueueTooLarge(connection);
      return MHD_YES;
    }
    THttpRequest& request = *static_cast<THttpRequest*>(*context);
    if (*uploadBytes > 0) {
      // A body is counted as it arrives: one that grows past the bound
      // without having said its length (chunked) ends the connection there.
      if (request.Body.size() + *uploadBytes > state->Limits.MaxBodyBytes) return MHD_NO;
      request.Body.append(upload, *uploadBytes);
      *uploadBytes = 0;
      return MHD_YES;
    }
    if (request.Header("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
      ParseForm(request.Body, request.Params);
    }
    THttpResponse answer;
    state->Handler(request, answer);
    return Queue(connection, answer);
  }
};

bool THttpServer::TlsSupported() { return MHD_is_feature_supported(MHD_FEATURE_TLS) == MHD_YES; }

std::unique_ptr<THttpServer> THttpServer::Start(uint32_t address, uint16_t port, const THttpLimits& limits,
                                                THttpHandler handler, std::string* error, const THttpTls* tls) {
  auto state = std::make_unique<TState>();
  state->Limits = limits;
  state->Handler = std::move(handler);
  // The TLS options go in an array of their own: none without tls.
  std::vector<MHD_OptionItem> tlsOptions;
  // epoll where the library has it (Linux); elsewhere (Windows) the best
  // wait the library has there.
  unsigned flags = MHD_is_feature_supported(MHD_FEATURE_EPOLL) == MHD_YES ? MHD_USE_EPOLL_INTERNAL_THREAD
                                                                           : MHD_USE_AUTO_INTERNAL_THREAD;
  if (tls != nullptr) {
    state->Tls = *tls;
    flags |= MHD_USE_TLS | MHD_USE_ERROR_LOG;
    tlsOptions.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, state->Tls.CertificatePem.data()});
    tlsOptions.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, state->Tls.KeyPem.data()});
  }
  tlsOptions.push_back({MHD_OPTION_END, 0, nullptr});
  const platform::TSystemAddress listen = platform::SystemAddressOf({address, port});
  TState* raw = state.get();
  state->Daemon = MHD_start_daemon(
      flags, port, nullptr, nullptr, &TState::OnRequest, raw,
      MHD_OPTION_EXTERNAL_LOGGER, &TState::OnLibraryLog, raw,
      MHD_OPTION_ARRAY, tlsOptions.data(),
      MHD_OPTION_SOCK_ADDR, static_cast<const sockaddr*>(listen.Data()),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.MaxHeadBytes,
      MHD_OPTION_CONNECTION_LIMIT, limits.MaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.MaxPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, limits.IdleSeconds,
      MHD_OPTION_THREAD_POOL_SIZE, limits.Threads,
      MHD_OPTION_NOTIFY_CONNECTION, &TState::OnConnection, raw,
      MHD_OPTION_NOTIFY_COMPLETED, &TState::OnCompleted, raw,
      MHD_OPTION_END);
  {
    TMutexLock guard(state->LogLock);
    state->Starting = false;
    if (state->Daemon == nullptr) {
      // With TLS the library says why (a certificate or key it refuses,
      // the address); without, only the address can be at fault.
      if (error) {
        *error = tls != nullptr && !state->StartError.empty()
                     ? state->StartError
                     : "cannot listen on " + platform::DottedAddress(address) + ":" + std::to_string(port);
      }
      return nullptr;
    }
  }
  state->Reaper = std::thread([raw] { raw->Reap(); });
  return std::unique_ptr<THttpServer>(new THttpServer(std::move(state)));
}

THttpServer::THttpServer(std::unique_ptr<TState> state) : state_(std::move(state)) {}

THttpServer::~THttpServer() { Stop(); }

uint16_t THttpServer::Port() const {
  if (state_->Daemon == nullptr) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->Daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info == nullptr ? 0 : info->port;
}

void THttpServer::Stop() {
  if (state_->Daemon == nullptr) return;
  MHD_stop_daemon(state_->Daemon);
  state_->Daemon = nullptr;
  {
    TMutexLock guard(state_->Lock);
    state_->StopReaper = true;
  }
  state_->Changed.notify_one();
  state_->Reaper.join();
}
