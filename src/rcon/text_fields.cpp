// Delimited fields: the backslash form of the status answer, the quoted form of
// the configuration, the allow-list and the ban base, and the cleaning of texts that go into remote-console commands.
//
// Each operation returns what it has built so far when something goes wrong
// inside it, after a full-log line that names the operation; the supervision
// cycle then carries on with that partial result.
#include "rcon/text_fields.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "log/logs.h"
#include "platform/console.h"

namespace {

// Field k of text: the text between the (2k-1)-th and the 2k-th delimiter.
// Built up one repetition at a time so that a failure leaves the field of the
// last complete repetition in field.
void ExtractInto(const std::string& text, uint8_t k, char delimiter, std::string& field) {
  size_t rest = 0;  // the remaining text is text.substr(rest)
  for (unsigned i = 0; i < k; ++i) {
    const size_t open = text.find(delimiter, rest);
    if (open != std::string::npos) rest = open + 1;
    const size_t close = text.find(delimiter, rest);
    if (close == std::string::npos) {
      field.clear();
    } else {
      field.assign(text, rest, close - rest);
      rest = close + 1;
    }
  }
}

// Complete pairs of delimiters. A count beyond the byte's range is a failure:
// the caller gets 255, the count as far as it went.
uint8_t CountPairs(const std::string& text, char delimiter, const char* errorLine) {
  size_t seen = 0;
  for (char c : text) {
    if (c == delimiter) ++seen;
  }
  const size_t pairs = seen / 2;
  if (pairs > std::numeric_limits<uint8_t>::max()) {
    WriteLog(errorLine);
    return std::numeric_limits<uint8_t>::max();
  }
  return static_cast<uint8_t>(pairs);
}

}  // namespace

std::string ExtractBackslashed(const std::string& text, uint8_t k) {
  std::string field;
  try {
    ExtractInto(text, k, '\\', field);
  } catch (const std::exception&) {
    WriteLog("ERROR (get arg module) 22");
  }
  return field;
}

uint8_t CountBackslashed(const std::string& text) { return CountPairs(text, '\\', "ERROR (argument module) 2"); }

uint8_t CountQuoted(const std::string& text) { return CountPairs(text, '"', "ERROR (argument module) 3"); }

std::string NeutraliseRconText(const std::string& text) {
  std::string clean = platform::WithoutControlBytes(text);
  std::replace(clean.begin(), clean.end(), '"', '\'');
  return clean;
}

std::string ExtractQuoted(const std::string& line, uint8_t k) {
  // No handler of its own: a failure reaches the caller, which reports it.
  std::string field;
  ExtractInto(line, k, '"', field);
  return field;
}
