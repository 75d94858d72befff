// The game server's player lists: the first byte chooses how they are asked
// for (status_query), the rest is the answer, to the add-on's "zelk_stat 1" and
// to the engine's "status" alike; a supervision run reads it, kicks and counts.
#include "base/settings.h"
#include "fuzz_support.h"
#include "rcon/engine_status.h"
#include "supervision/supervise.h"
#include "registry/tables.h"


extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  fuzz::State();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::SetUpInput();
  const StatusQuery modes[] = {StatusQuery::Auto, StatusQuery::Addon, StatusQuery::Status};
  TServerState& state = fuzz::State();
  state.Settings.StatusQueryMode = modes[data[0] % 3];
  const std::string answer = fuzz::Text(data + 1, size - 1);
  // The engine's list is read from the text as the program sees it: up to the
  // first NUL of the datagram.
  ParseEngineStatus(answer.substr(0, answer.find('\0')));
  fuzz::Answer("zelk_stat", data[0] & 4 ? std::string() : answer);
  fuzz::Answer("status", answer);
  {
    TBusyGuard busy(state.Tables);
    AddClient(busy, "Bob", "ID-Bob", "10.0.0.5");
  }
  state.Supervision.Run({"\"192.168.*\""}, [] {});
  return 0;
}
