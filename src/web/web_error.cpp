#include "web/web_error.h"

#include "base/json_text.h"
#include "web/http_server.h"

void SetJsonError(THttpResponse& response, int status, const std::string& error) {
  response.Set(status, "{\"error\":" + JsonString(error) + "}", "application/json; charset=utf-8");
}
