// The screenshot channel: a client registered at 127.0.0.1 opens a transfer of
// the size in the first two bytes; then each record of the input is
// [kind][length][bytes]: a datagram from the client's address or from another,
// a "<check_screen>" of that count, or a cancelling "<update>" followed by a
// new "<start_screen>".
#include "channel/command_server.h"
#include "fuzz_support.h"
#include "registry/tables.h"
#include "screens/screen_receiver.h"

namespace {
void Command(const std::string& line, const std::string& peer = "127.0.0.1") {
  RunCommandLine(fuzz::Handlers(), line, peer, nullptr);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  fuzz::State();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::SetUpInput();
  Command("<connect> Bob ID-Bob abc");
  const std::string start = "<start_screen> Bob " + std::to_string((data[0] << 8 | data[1]) % 2048);
  Command(start);
  for (size_t at = 2; at + 2 <= size;) {
    const uint8_t kind = data[at];
    const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
    const std::string bytes(reinterpret_cast<const char*>(data) + at + 2, length);
    at += 2 + length;
    switch (kind % 5) {
      case 0:
      case 1:
        HandleScreenDatagram(fuzz::State().Tables, fuzz::State().Settings, bytes, "127.0.0.1");
        break;
      case 2:
        HandleScreenDatagram(fuzz::State().Tables, fuzz::State().Settings, bytes, "127.0.0.2");
        break;
      case 3:
        Command("<check_screen> Bob " + std::to_string(length * (kind >> 3)), kind & 4 ? "127.0.0.2" : "127.0.0.1");
        break;
      case 4:
        Command("<update> Bob 0", kind & 8 ? "127.0.0.2" : "127.0.0.1");
        Command(start);
        break;
    }
  }
  return 0;
}
