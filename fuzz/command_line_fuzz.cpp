// The command channel: the input is what one connection sends, cut into
// lines by the real framing and run through the six handlers as the server
// registers them. The first byte sets how the bytes arrive (chunk size) and
// which of two addresses sends each line; two players are on the game server.
#include "channel/command_server.h"
#include "fuzz_support.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"


extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  fuzz::State();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::SetUpInput();
  TServerState& state = fuzz::State();
  {
    TBusyGuard busy(state.Tables);
    AddPlayer(busy, "Bob", "127.0.0.1", 27005, 5);
    AddPlayer(busy, "Ann", "127.0.0.2", 27005, 6);
  }
  const size_t chunk = 1 + data[0] % 64;
  const unsigned peers = data[0];
  TLineFramer framer;
  std::string line;
  unsigned index = 0;
  for (size_t at = 1; at < size; at += chunk) {
    framer.Append(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at));
    for (;;) {
      const TLineFramer::Cut cut = framer.Next(line);
      if (cut == TLineFramer::Cut::Overlong) return 0;
      if (cut == TLineFramer::Cut::NeedMore) break;
      if (line.empty()) continue;
      const std::string peer = (peers >> (index++ % 8)) & 1 ? "127.0.0.2" : "127.0.0.1";
      if (RunCommandLine(fuzz::Handlers(), line, peer, nullptr) == LineEnd::Close) return 0;
      if (state.Tables.IsBusy()) __builtin_trap();  // a handler kept BusyFlag
    }
  }
  return 0;
}
