// acserver-bans' arguments: the input is the command line, one argument per
// line, read by the tool's own ParseArguments (the whole of its main's
// source is compiled in here, its main renamed, so that the function fuzzed
// is the one the tool runs). The request is only parsed, never carried out.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"

#define main acserver_bans_main
#include "app/bans_main.cpp"
#undef main

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = fuzz::Lines(fuzz::Text(data, size));
  if (size == 0) args.clear();
  std::string error;
  const std::optional<TBanToolRequest> request = ParseArguments(args, &error);
  // A refusal always says why; a request keeps to the tool's bounds.
  if (!request && error.empty()) std::abort();
  if (request && (request->Minutes < 0 || request->Query.Page < 1 || request->Query.PerPage < 1)) std::abort();
  return 0;
}
