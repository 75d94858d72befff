#include "notify/http_post.h"

#include <curl/curl.h>

#include "base/limits.h"

namespace {

// libcurl's global set-up, once per process, before the first handle.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// The answer's body is not needed: it goes nowhere.
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

int AskCancel(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return (*static_cast<const std::function<bool()>*>(cancel))() ? 1 : 0;
}

}  // namespace

void THttpPoster::TRelease::operator()(void* handle) const { curl_easy_cleanup(static_cast<CURL*>(handle)); }

THttpPoster::THttpPoster() : handle_(CurlReady() ? curl_easy_init() : nullptr) {}

THttpPoster::~THttpPoster() = default;

THttpAnswer THttpPoster::Post(const std::string& url, const std::string& body, std::chrono::milliseconds timeout,
                              const std::function<bool()>& cancel) {
  THttpAnswer answer;
  CURL* curl = static_cast<CURL*>(handle_.get());
  if (curl == nullptr) {
    answer.Error = "libcurl could not be set up";
    return answer;
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Content-Type: application/json"), &curl_slist_free_all);
  const std::string agent = std::string("acserver/") + kVersionText;
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count() / 2));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &AskCancel);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancel);
  const CURLcode result = curl_easy_perform(curl);
  if (result != CURLE_OK) {
    // curl's own text for the code: it never quotes the URL and its secret.
    answer.Error = result == CURLE_ABORTED_BY_CALLBACK ? "cut short by the stop" : curl_easy_strerror(result);
    return answer;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  answer.Status = static_cast<int>(status);
  curl_off_t retryAfter = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0) {
    answer.RetryAfterSeconds = static_cast<int64_t>(retryAfter);
  }
  return answer;
}
