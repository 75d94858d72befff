#include "bans/shared/pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace {

struct TResultCloser {
  void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultCloser>;

// libpq's message as one line for the console: its line ends become "; ".
std::string Trimmed(const char* text) {
  std::string out;
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == '\n') {
      out += "; ";
    } else if (*c != '\t' && *c != '\r') {
      out += *c;
    }
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
  return out;
}

// Notices ("relation ... already exists, skipping") are no news for the admin.
void IgnoreNotice(void*, const char*) {}

}  // namespace

void TPgConnection::TCloser::operator()(pg_conn* connection) const { PQfinish(connection); }

std::optional<TPgConnection> TPgConnection::Open(const std::string& uri, int connectSeconds, int statementMs,
                                                 std::string* error) {
  const std::string timeout = std::to_string(connectSeconds);
  const std::string options = "-c statement_timeout=" + std::to_string(statementMs);
  // Later keywords override what the URI says, so the bounds always hold. The
  // program's texts are 8-bit in the system's code page: as LATIN1 every byte
  // is a character, so each text comes back exactly as it went in.
  const char* keywords[] = {"dbname", "connect_timeout", "options", "application_name", "client_encoding", nullptr};
  const char* values[] = {uri.c_str(), timeout.c_str(), options.c_str(), "acserver", "LATIN1", nullptr};
  PGconn* raw = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  TPgConnection connection(raw);
  if (raw == nullptr || PQstatus(raw) != CONNECTION_OK) {
    if (error) *error = raw ? Trimmed(PQerrorMessage(raw)) : "out of memory";
    return std::nullopt;
  }
  PQsetNoticeProcessor(raw, IgnoreNotice, nullptr);
  return connection;
}

bool TPgConnection::Healthy() const { return connection_ && PQstatus(connection_.get()) == CONNECTION_OK; }

std::optional<std::vector<TPgConnection::Row>> TPgConnection::Run(
    const std::string& sql, const std::vector<std::optional<std::string>>& params, std::string* error) {
  std::vector<const char*> values;
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  TResult result(PQexecParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                              values.data(), nullptr, nullptr, /*resultFormat=*/0));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    if (error) *error = Trimmed(PQerrorMessage(connection_.get()));
    return std::nullopt;
  }
  changed_ = std::strtol(PQcmdTuples(result.get()), nullptr, 10);
  std::vector<Row> rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    Row row;
    for (int c = 0; c < PQnfields(result.get()); ++c) {
      if (PQgetisnull(result.get(), r, c)) {
        row.push_back(std::nullopt);
      } else {
        row.push_back(std::string(PQgetvalue(result.get(), r, c), PQgetlength(result.get(), r, c)));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string PgContainsPattern(const std::string& text) {
  std::string pattern = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}
