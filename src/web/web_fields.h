// The shapes every API path of the web console shares: how a whole-number
// field and a search's filter are read from a request, and the answer of an
// error, {"error": text} with its status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bans/ban_record.h"

struct THttpRequest;
struct THttpResponse;

void SetJsonError(THttpResponse& response, int status, const std::string& error);
// A whole number of a query or form field within [low, high]; fallback when
// the field is empty, nullopt when it is anything else.
std::optional<int64_t> IntegerField(const THttpRequest& request, const std::string& name, int64_t low, int64_t high,
                                    int64_t fallback);
// The "filter" field of a search: in_force (also when empty), ended or all;
// nullopt for anything else.
std::optional<TBanQuery::Which> FilterField(const THttpRequest& request);
