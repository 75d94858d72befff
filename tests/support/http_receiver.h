// A receiver of notifications for tests: an HTTP server on loopback that
// keeps every POST to /hook/..., answers with the statuses it is given (then
// 200), and can hold its answers back until released.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testenv {

class THttpReceiver {
 public:
  explicit THttpReceiver(std::vector<int> answers = {}) : answers_(std::move(answers)) {
    server_.Post(R"(/hook/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::unique_lock<std::mutex> lock(mutex_);
      bodies_.push_back(request.body);
      types_.push_back(request.get_header_value("Content-Type"));
      changed_.notify_all();
      changed_.wait(lock, [this] { return !holding_; });
      response.status = next_ < answers_.size() ? answers_[next_++] : 200;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~THttpReceiver() {
    Release();
    server_.stop();
    thread_.join();
  }
  THttpReceiver(const THttpReceiver&) = delete;
  THttpReceiver& operator=(const THttpReceiver&) = delete;

  // Its URL; the last segment stands for a webhook's secret.
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook/SECRETTOKEN"; }
  // Answers nothing until Release.
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_ = false;
    }
    changed_.notify_all();
  }
  // Waits until count posts came; true when they did within wait.
  bool WaitForPosts(size_t count, std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return bodies_.size() >= count; });
  }
  std::vector<std::string> Bodies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
  }
  std::vector<std::string> ContentTypes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return types_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> answers_;
  size_t next_ = 0;
  bool holding_ = false;
  std::vector<std::string> bodies_;
  std::vector<std::string> types_;
  std::thread thread_;
};

}  // namespace testenv
