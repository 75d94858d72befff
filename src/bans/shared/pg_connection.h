// A connection to PostgreSQL through libpq, owned like a socket: closed when
// the owner goes. Queries take their parameters apart from the SQL text, so
// no text from a client ever becomes SQL. Texts travel as LATIN1, byte for byte.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

class TPgConnection {
 public:
  // Connects to the URI (postgresql://user@host:port/dbname; the password from
  // PGPASSFILE or ~/.pgpass). Gives up after connectSeconds; every statement
  // is cut off after statementMs. nullopt with the reason on failure.
  static std::optional<TPgConnection> Open(const std::string& uri, int connectSeconds, int statementMs,
                                           std::string* error);

  // Runs one statement. The rows of its answer as texts (a NULL reads as
  // nullopt); nullopt with the reason when it failed.
  using Row = std::vector<std::optional<std::string>>;
  std::optional<std::vector<Row>> Run(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                                      std::string* error);
  // Rows changed by the last statement Run ran.
  long Changed() const { return changed_; }
  bool Healthy() const;

 private:
  struct TCloser {
    void operator()(pg_conn* connection) const;
  };
  explicit TPgConnection(pg_conn* connection) : connection_(connection) {}
  std::unique_ptr<pg_conn, TCloser> connection_;
  long changed_ = 0;
};

// A pattern of LIKE or ILIKE that matches text anywhere, taking its own
// wildcards (% and _) and the escape (a backslash) literally.
std::string PgContainsPattern(const std::string& text);
