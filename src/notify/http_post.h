// One HTTP POST of a JSON body, on libcurl. HTTPS is verified against the
// system's certificate store (Debian: ca-certificates); only http and https
// are spoken, and redirects are not followed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct THttpAnswer {
  int Status = 0;                 // the HTTP status; 0 when no answer came
  std::string Error;              // why no answer came (never the URL); empty with an answer
  int64_t RetryAfterSeconds = 0;  // the answer's Retry-After header; 0 without one
};

// A libcurl handle, kept from one post to the next so that its connection
// is reused. One thread at a time.
class THttpPoster {
 public:
  THttpPoster();
  ~THttpPoster();
  THttpPoster(const THttpPoster&) = delete;
  THttpPoster& operator=(const THttpPoster&) = delete;

  // Posts body (application/json) to url and reads the answer's status. Gives
  // up after timeout (the connection within half of it), or as soon as
  // cancel() returns true, which libcurl asks about every second at least.
  THttpAnswer Post(const std::string& url, const std::string& body, std::chrono::milliseconds timeout,
                   const std::function<bool()>& cancel);

 private:
  struct TRelease {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, TRelease> handle_;  // the CURL easy handle; null when libcurl could not make one
};
