// The web console's answer of an error, the one shape every API path uses:
// {"error": text}, with the status.
#pragma once

#include <string>

struct THttpResponse;

void SetJsonError(THttpResponse& response, int status, const std::string& error);
