#include "web/web_fields.h"

#include "base/json_text.h"
#include "base/numbers.h"
#include "web/http_server.h"

void SetJsonError(THttpResponse& response, int status, const std::string& error) {
  response.Set(status, "{\"error\":" + JsonString(error) + "}", "application/json; charset=utf-8");
}

std::optional<int64_t> IntegerField(const THttpRequest& request, const std::string& name, int64_t low, int64_t high,
                                    int64_t fallback) {
  const std::string text = request.Param(name);
  if (text.empty()) return fallback;
  const std::optional<int64_t> number = ParseInteger64(text);
  if (!number || *number < low || *number > high) return std::nullopt;
  return number;
}

std::optional<TBanQuery::Which> FilterField(const THttpRequest& request) {
  const std::string filter = request.Param("filter");
  if (filter.empty() || filter == "in_force") return TBanQuery::Which::InForce;
  if (filter == "ended") return TBanQuery::Which::Ended;
  if (filter == "all") return TBanQuery::Which::All;
  return std::nullopt;
}
