// One connection to the shared base kept for a store's calls (the accounts,
// the appeals): opened at the first call, not at construction, and opened
// again after it broke; the calls take turns on it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bans/shared/pg_connection.h"
#include "platform/mutex.h"

class TPgKeptConnection {
 public:
  explicit TPgKeptConnection(std::string uri) : uri_(std::move(uri)) {}

  // Runs work on the connection, opened (again) when needed; false with the
  // reason in error when it could not be opened or work failed. A connection
  // that work left broken is dropped for the next call to open anew.
  bool With(const std::function<bool(TPgConnection&, std::string*)>& work, std::string* error) EXCLUDES(lock_);
  // One statement: its rows, or nullopt with the reason; the count of rows it
  // changed in *changed when asked for.
  std::optional<std::vector<TPgConnection::Row>> Run(const std::string& sql,
                                                     const std::vector<std::optional<std::string>>& params,
                                                     std::string* error, long* changed = nullptr)
      EXCLUDES(lock_);

 private:
  const std::string uri_;
  TMutex lock_;  // guards connection_: the calls take turns on it
  std::optional<TPgConnection> connection_ GUARDED_BY(lock_);
};
