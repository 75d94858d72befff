#include "log/log_limit.h"

#include <utility>

bool TLogLimit::Admit(const std::string& address, TimePoint now) {
  auto it = windows_.find(address);
  if (it != windows_.end() && now - it->second.Start >= window_) {
    Close(it);
    it = windows_.end();
  }
  if (it == windows_.end()) {
    windows_.emplace(address, TWindow{now, 1, 0});
    return true;
  }
  TWindow& window = it->second;
  if (window.Written < linesPerWindow_) {
    ++window.Written;
    return true;
  }
  ++window.LeftOut;
  return false;
}

std::vector<TLogLimit::TLeftOut> TLogLimit::TakeEnded(TimePoint now) {
  for (auto it = windows_.begin(); it != windows_.end();) {
    auto next = std::next(it);
    if (now - it->second.Start >= window_) Close(it);
    it = next;
  }
  return std::exchange(ended_, {});
}

void TLogLimit::Close(std::unordered_map<std::string, TWindow>::iterator it) {
  if (it->second.LeftOut > 0) ended_.push_back({it->first, it->second.LeftOut});
  windows_.erase(it);
}
