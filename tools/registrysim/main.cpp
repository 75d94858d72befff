// registrysim: the central registry for demos. Listens on 127.0.0.1 and answers
// every datagram with "ok" (or stays silent), printing what it receives.
//
//   registrysim PORT [--silent]
#include <iostream>
#include <string>

#include "platform/console.h"
#include "platform/stop_signal.h"
#include "registrysim/registry_sim.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--silent")) {
    std::cerr << "usage: registrysim PORT [--silent]\n";
    return 2;
  }
  platform::InstallStopHandlers();
  registrysim::TRegistrySim sim;
  if (argc == 2) sim.SetAnswer("ok");
  std::string error;
  if (!sim.Start(static_cast<uint16_t>(std::stoi(argv[1])), &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  platform::ConsoleLine("registrysim: listening on 127.0.0.1:" + std::to_string(sim.Port()) +
                        (argc == 3 ? " (silent)" : ""));
  size_t shown = 0;
  // Reports each datagram as it arrives; the wait sleeps until one does.
  while (!platform::StopRequested()) {
    if (!sim.WaitForDatagrams(shown + 1, 1000)) continue;
    const auto datagrams = sim.Datagrams();
    for (; shown < datagrams.size(); ++shown) {
      std::string printable;
      for (char c : datagrams[shown]) {
        const auto byte = static_cast<unsigned char>(c);
        printable += (byte >= 0x20 && byte < 0x7F) ? std::string(1, c) : "\\x" + std::string(1, "0123456789ABCDEF"[byte >> 4]) + "0123456789ABCDEF"[byte & 15];
      }
      platform::ConsoleLine("registrysim: " + printable);
    }
  }
  sim.Stop();
  return 0;
}
